// The MIME types the system knows a file extension for. A downloaded binary is
// named by the first row whose type matches its content type; a type that
// matches no row gives the extension "bin".
#pragma once

#include <cstddef>
#include <string_view>

struct MimeTypeExtension {
  const char16_t* mimeType;
  const char16_t* extension;  // without the dot
};

// The table, in lookup order.
extern const MimeTypeExtension g_MimeTypes[];
extern const std::size_t g_MimeTypeCount;

// Extension of a binary whose type is in no row.
extern const char16_t g_szDefaultBinaryExtension[];  // "bin"

// The extension of the first row whose MIME type equals mimeType ignoring
// case; nullptr when no row does.
const char16_t* FindMimeTypeExtension(std::u16string_view mimeType);

// FindMimeTypeExtension, or "bin" when no row matches.
const char16_t* GetFileExtensionForMimeType(std::u16string_view mimeType);
