#include "core/TextConversion.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/PrivateHeap.h"

namespace {

struct WideCase {
  const char* name;
  const char* utf8;
  std::u16string wide;
};

// Names the case in test listings.
void PrintTo(const WideCase& c, std::ostream* os) { *os << c.name; }

class Utf8ToWideCases : public ::testing::TestWithParam<WideCase> {};

TEST_P(Utf8ToWideCases, ConvertsWithTerminator) {
  const WideCase& c = GetParam();
  char16_t* buffer = nullptr;
  std::size_t count = 0;
  ASSERT_TRUE(Utf8ToWide(c.utf8, &buffer, &count));
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(count, c.wide.size() + 1);
  EXPECT_EQ(std::u16string(buffer, count - 1), c.wide);
  EXPECT_EQ(buffer[count - 1], u'\0');
  std::free(buffer);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8ToWideCases,
                         ::testing::Values(WideCase{"empty", "", u""},
                                           WideCase{"ascii", "news", u"news"},
                                           WideCase{"two_byte", "caf\xC3\xA9", u"caf\u00E9"},
                                           WideCase{"three_byte", "\xE2\x82\xAC" "5", u"\u20AC" "5"},
                                           WideCase{"surrogate_pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
                                           WideCase{"invalid_byte", "a\xFF" "b", u"a\uFFFD" "b"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextConversion, Utf8ToWideOfNullFails) {
  char16_t* buffer = reinterpret_cast<char16_t*>(1);
  std::size_t count = 7;
  EXPECT_FALSE(Utf8ToWide(nullptr, &buffer, &count));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST(TextConversion, Utf8ToWideOnAHeap) {
  CPrivateHeap heap;
  char16_t* buffer = nullptr;
  std::size_t count = 0;
  ASSERT_TRUE(Utf8ToWide("abc", &buffer, &count, &heap));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(heap.GetBlockCount(), 1u);
  EXPECT_EQ(heap.GetUsedSize(), 8u);
  FreeConversionBuffer(buffer, &heap);
  EXPECT_EQ(heap.GetBlockCount(), 0u);
}

TEST(TextConversion, WideToUtf8MultiByteForms) {
  char* text = WideToUtf8(u"\u00E9\u20AC\U0001F600");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(std::strlen(text), 9u);
  std::free(text);
}

TEST(TextConversion, WideToUtf8WithLengthStopsThere) {
  CPrivateHeap heap;
  char* text = WideToUtf8(u"h\u00E9llo", 2, &heap);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "h\xC3\xA9");
  EXPECT_EQ(heap.GetUsedSize(), 4u);  // three bytes and the terminator
  FreeConversionBuffer(text, &heap);
}

TEST(TextConversion, WideToUtf8OfNothingIsNull) {
  EXPECT_EQ(WideToUtf8(nullptr), nullptr);
  EXPECT_EQ(WideToUtf8(u"abc", 0), nullptr);
}

TEST(TextConversion, WideToUtf8UnpairedSurrogateIsReplaced) {
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  char* text = WideToUtf8(lone);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "a\xEF\xBF\xBD" "b");
  std::free(text);
}

TEST(TextConversion, StringToUtf8) {
  char* empty = StringToUtf8(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  std::free(empty);
  char* text = StringToUtf8(u"Gr\u00FC\u00DFe");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), "Gr\xC3\xBC\xC3\x9F" "e");
  std::free(text);
}

TEST(TextConversion, Utf8ToString) {
  EXPECT_EQ(Utf8ToString("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(Utf8ToString(""), u"");
  EXPECT_EQ(Utf8ToString(nullptr), u"");
}

TEST(TextConversion, ExhaustedHeapThrows) {
  CPrivateHeap heap(4);
  char16_t* buffer = nullptr;
  std::size_t count = 0;
  EXPECT_THROW(Utf8ToWide("abcdef", &buffer, &count, &heap), const char16_t*);
  EXPECT_EQ(buffer, nullptr);
}

}  // namespace
