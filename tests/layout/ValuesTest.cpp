// Typed values, the resource-section parser, packaged bitmaps and text, and
// the theme's base hue.
#include "core/OrvException.h"
#include "core/VORegistry.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/ResourceValues.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

class ValuesTest : public LayoutTest {};

TEST_F(ValuesTest, LookupByNameOrKeyAndTheGettersOfOtherKinds) {
  CPropertyList list;
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"n")), 1);
  PrependIntProperty(list, 5, 50);
  PrependStringProperty(list, CPropertyName(std::u16string_view(u"s")), u"text");
  PrependRectProperty(list, CPropertyName(std::u16string_view(u"r")), 1, 2, 3, 4);
  PrependFontProperty(list, CPropertyName(std::u16string_view(u"f")), std::make_shared<CFontHolder>());
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"n")), 2);
  EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(u"n")))->GetInt(), 2);
  EXPECT_EQ(FindProperty(list, 5)->GetInt(), 50);
  EXPECT_FALSE(FindProperty(list, 6));
  for (const char16_t* other : {u"s", u"r", u"f"})
    EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(other)))->GetInt(), 0);
  EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(u"n")))->GetRect(), CPropertyRect{});
  EXPECT_FALSE(GetFontOf(FindProperty(list, CPropertyName(std::u16string_view(u"n"))).Get()));
  EXPECT_TRUE(GetFontOf(FindProperty(list, CPropertyName(std::u16string_view(u"f"))).Get()));
}

TEST_F(ValuesTest, BitmapDecodingRefusesDamagedFiles) {
  const std::string good = MakeBmp(3, 2, 16, {1, 2, 3, 4, 5, 6});
  auto decode = [](const std::string& bytes) {
    return DecodeBitmapResource(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  auto bitmap = decode(good);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->GetWidth(), 3);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(bitmap->Row(1))[2], 6);
  auto patched = [&](std::size_t at, std::uint32_t value, int bytes = 4) {
    std::string b = good;
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(value >> (8 * i));
    return b;
  };
  const std::string bad[] = {
      good.substr(0, 13),                // too short
      "XM" + good.substr(2),             // not "BM"
      patched(10, 0x7FFFFFFF),           // pixels beyond the file
      patched(10, 20),                   // pixels inside the headers
      patched(14, 0x10000),              // info block larger than the file
      patched(28, 3, 2),                 // 3 bits per pixel
      patched(30, 1),                    // run-length compression
      patched(18, 0x7FFFFFFF),           // width beyond the limits
      patched(22, 0),                    // zero height
      patched(22, 0x80000000u),          // the most negative height
  };
  for (const std::string& b : bad) EXPECT_FALSE(decode(b));
  // Pixel data cut short: the missing rows stay zero.
  auto cut = decode(good.substr(0, good.size() - 8));
  ASSERT_TRUE(cut);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(cut->Row(1))[0], 4);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(cut->Row(0))[0], 0);
  // Top-down files decode with their rows in order; 24 and 32 bits too.
  auto topDown = decode(MakeBmp(2, 2, 16, {7, 8, 9, 10}, true));
  ASSERT_TRUE(topDown);
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(topDown->Row(0))[1], 8);
  EXPECT_TRUE(decode(MakeBmp(2, 2, 24, {})));
  EXPECT_TRUE(decode(MakeBmp(2, 2, 32, {})));
}

TEST_F(ValuesTest, Utf8TextTakesItsLengthAndSkipsTheByteOrderMark) {
  const std::uint8_t text[] = {0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9, 'z', 'X'};
  EXPECT_EQ(DecodeUtf8Resource(text, 7), u"a\u00e9z");
  EXPECT_EQ(DecodeUtf8Resource(text, 3), u"");
  const std::uint8_t broken[] = {'a', 0xFF, 'b'};
  EXPECT_THROW(DecodeUtf8Resource(broken, 3), COrvException);
  try {
    DecodeUtf8Resource(nullptr, 0);
    FAIL();
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
}

TEST_F(ValuesTest, ThemeBaseHue) {
  EXPECT_EQ(GetThemeBaseHue(), -1);
  struct Case {
    std::uint32_t value;
    int hue;
  } cases[] = {{0x00F5, -1}, {0x01F5, 205}, {0x0180, 128}, {0x01F0, 200}};
  for (const Case& c : cases) {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Color", true, false, plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"BaseHue", c.value));
    EXPECT_EQ(GetThemeBaseHue(), c.hue) << std::hex << c.value;
  }
}

}  // namespace
}  // namespace layouttest
