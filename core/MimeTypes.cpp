#include "core/MimeTypes.h"

#include <iterator>

#include "platform/base/Text.h"

const MimeTypeExtension g_MimeTypes[] = {
    {u"text/html", u"htm"},
    {u"text/plain", u"txt"},
    {u"text/css", u"css"},
    {u"image/gif", u"gif"},
    {u"image/x-png", u"png"},
    {u"image/png", u"png"},
    {u"image/jpeg", u"jpg"},
    {u"image/tiff", u"tif"},
    {u"image/x-ms-bmp", u"bmp"},
    {u"audio/mpeg", u"mp3"},
    {u"audio/x-mpeg", u"mp3"},
    {u"audio/x-mpeg-3", u"mp3"},
    {u"video/mpeg", u"mpg"},
    {u"video/mpeg-2", u"mp2v"},
    {u"video/x-msvideo", u"avi"},
    {u"application/zip", u"zip"},
    {u"image/x-icon", u"ico"},
    {u"image/vnd.microsoft.icon", u"ico"},
};

const std::size_t g_MimeTypeCount = std::size(g_MimeTypes);

const char16_t g_szDefaultBinaryExtension[] = u"bin";

const char16_t* FindMimeTypeExtension(std::u16string_view mimeType) {
  for (const MimeTypeExtension& row : g_MimeTypes) {
    if (plat::EqualsNoCase(mimeType, row.mimeType)) return row.extension;
  }
  return nullptr;
}

const char16_t* GetFileExtensionForMimeType(std::u16string_view mimeType) {
  const char16_t* ext = FindMimeTypeExtension(mimeType);
  return ext ? ext : g_szDefaultBinaryExtension;
}
