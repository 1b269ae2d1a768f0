// Character encodings of documents before they reach HTML Tidy: every
// document is handed to the library as UTF-8. Encoding names (HTTP charsets,
// XML declarations, names the user or a template forces) are looked up in a
// table of code-page names; the bytes are decoded with the platform's code
// pages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/base/Types.h"

namespace Tidy {

constexpr plat::UINT kCodePageUtf16Le = 1200;
constexpr plat::UINT kCodePageUtf16Be = 1201;
constexpr plat::UINT kCodePageUtf8 = 65001;

// The code page of an encoding name (ignoring case, surrounding spaces and
// quotes), or 0 when the name is unknown or the platform cannot convert it
// (a code page counts only when it converts the probe text "test").
// ISO-8859-1 (28591) and US-ASCII decode as Windows-1252, EUC-KR (51949) as
// 949, as browsers and the servers that label their text so expect.
plat::UINT LookupCodePage(std::u16string_view name);

// True for the code pages of UTF-16 (1200, 1201).
inline bool IsUtf16CodePage(plat::UINT codePage) {
  return codePage == kCodePageUtf16Le || codePage == kCodePageUtf16Be;
}

// The encoding a byte order mark (or the UTF-16 form of "<?" that starts an
// XML document without one) announces: the code page and the bytes of the
// mark to skip; 0 when there is none.
plat::UINT DetectByteOrderMark(const char* bytes, std::size_t length, std::size_t* markLength);

// True when the bytes (after a UTF-8 byte order mark and white space) start
// with "<?xml", or when the first element, after any comments, processing
// instructions and document type, is named "feed" or begins with "rss",
// "rdf" or "opml", exact case. Fewer than 6 bytes never look like XML.
bool LooksLikeXml(const char* bytes, std::size_t length);
// The encoding named in the XML declaration (encoding="..." or '...'); empty
// without a declaration ending in "?>" or without the key.
std::u16string GetXmlDeclarationEncoding(const char* bytes, std::size_t length);
// The encoding ParseBuffer reads its input in: the name, its code page and
// the bytes of a byte order mark to skip.
struct InputEncoding {
  std::u16string name;
  plat::UINT codePage = 0;
  std::size_t markLength = 0;
};
// A byte order mark decides; else the last known name of UTF-8, the
// document's own setting, the transport encoding, the XML declaration (when
// the bytes look like XML and it names no UTF-16) and the forced encoding. A
// name the platform cannot decode is passed over, so the rule before it
// decides. A UTF-16 name for bytes without a zero byte among the first 256
// reads as UTF-8.
InputEncoding SniffInputEncoding(const char* bytes, std::size_t length, const std::u16string& documentEncoding,
                                 const std::u16string& transportEncoding, const std::u16string& forcedEncoding);

// Decodes bytes of the code page into out as UTF-8. Characters that do not
// decode become U+FFFD. False when the code page cannot be used or memory
// runs out.
bool DecodeToUtf8(const char* bytes, std::size_t length, plat::UINT codePage, std::string& out);

}  // namespace Tidy
