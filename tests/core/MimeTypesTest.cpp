#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/MimeTypes.h"
#include "platform/base/Text.h"
#include "tests/support/Printers.h"
#include "tests/support/TempDevice.h"

namespace {

using orvtest::Utf8;

class MimeTypes : public orvtest::DeviceTest {};

}  // namespace

TEST_F(MimeTypes, EveryKnownTypeGivesItsExtension) {
  const struct {
    const char16_t* type;
    const char16_t* extension;
  } cases[] = {
      {u"text/html", u"htm"},          {u"text/plain", u"txt"},
      {u"text/css", u"css"},           {u"image/gif", u"gif"},
      {u"image/x-png", u"png"},        {u"image/png", u"png"},
      {u"image/jpeg", u"jpg"},         {u"image/tiff", u"tif"},
      {u"image/x-ms-bmp", u"bmp"},     {u"audio/mpeg", u"mp3"},
      {u"audio/x-mpeg", u"mp3"},       {u"audio/x-mpeg-3", u"mp3"},
      {u"video/mpeg", u"mpg"},         {u"video/mpeg-2", u"mp2v"},
      {u"video/x-msvideo", u"avi"},    {u"application/zip", u"zip"},
      {u"image/x-icon", u"ico"},       {u"image/vnd.microsoft.icon", u"ico"},
  };
  ASSERT_EQ(g_MimeTypeCount, std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    // The rows stand in lookup order.
    EXPECT_EQ(std::u16string(g_MimeTypes[i].mimeType), cases[i].type) << i;
    const char16_t* ext = FindMimeTypeExtension(cases[i].type);
    ASSERT_NE(ext, nullptr) << Utf8(cases[i].type);
    EXPECT_EQ(std::u16string(ext), cases[i].extension) << Utf8(cases[i].type);
    EXPECT_EQ(std::u16string(GetFileExtensionForMimeType(cases[i].type)), cases[i].extension);
  }
}

TEST_F(MimeTypes, LookupIgnoresCase) {
  const struct {
    const char16_t* type;
    const char16_t* extension;
  } cases[] = {
      {u"IMAGE/JPEG", u"jpg"},
      {u"Image/Png", u"png"},
      {u"Text/HTML", u"htm"},
      {u"AUDIO/X-MPEG-3", u"mp3"},
      {u"image/VND.Microsoft.Icon", u"ico"},
  };
  for (const auto& c : cases) {
    const char16_t* ext = FindMimeTypeExtension(c.type);
    ASSERT_NE(ext, nullptr) << Utf8(c.type);
    EXPECT_EQ(std::u16string(ext), c.extension) << Utf8(c.type);
  }
}

TEST_F(MimeTypes, UnknownTypesGiveBin) {
  const char16_t* unknown[] = {
      u"",
      u"application/octet-stream",
      u"image/jpg",              // not the registered name
      u"image/jpeg ",            // no trimming: the caller gives the bare type
      u"image/jpeg; charset=x",  // nor parameters
      u"text",
      u"text/html/extra",
      u"image/x-ms-bm",
  };
  for (const char16_t* type : unknown) {
    EXPECT_EQ(FindMimeTypeExtension(type), nullptr) << Utf8(type);
    EXPECT_EQ(std::u16string(GetFileExtensionForMimeType(type)), u"bin") << Utf8(type);
  }
  EXPECT_EQ(std::u16string(g_szDefaultBinaryExtension), u"bin");
}

TEST_F(MimeTypes, NoTypeStandsTwice) {
  std::set<std::u16string> seen;
  for (std::size_t i = 0; i < g_MimeTypeCount; ++i) {
    EXPECT_TRUE(seen.insert(plat::ToLower(g_MimeTypes[i].mimeType)).second) << Utf8(g_MimeTypes[i].mimeType);
    EXPECT_NE(g_MimeTypes[i].extension[0], u'.');  // extensions come without their dot
  }
}
