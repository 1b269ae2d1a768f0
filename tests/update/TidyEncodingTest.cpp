#include "update/TidyEncoding.h"

#include <gtest/gtest.h>

#include <string>

#include "update/TidyNesting.h"
#include "tests/support/TempDevice.h"

namespace {

class TidyEncodingTest : public orvtest::DeviceTest {};

TEST_F(TidyEncodingTest, NamesMapToCodePages) {
  struct Case {
    const char16_t* name;
    plat::UINT codePage;
  } cases[] = {
      {u"UTF-8", 65001},          {u" \"utf8\" ", 65001},   {u"ISO-8859-1", 28591},  {u"latin1", 28591},
      {u"iso_8859-2", 28592},     {u"ISO-8859-15", 28605},  {u"windows-1252", 1252}, {u"Windows-1251", 1251},
      {u"cp1250", 1250},          {u"x-cp1253", 1253},      {u"KOI8-R", 20866},      {u"Shift_JIS", 932},
      {u"EUC-KR", 51949},         {u"euc-jp", 51932},       {u"gb2312", 936},        {u"Big5", 950},
      {u"UTF-16", 1200},          {u"utf-16be", 1201},      {u"us-ascii", 20127},    {u"macintosh", 10000},
      {u"x-unknown-charset", 0},  {u"", 0},                 {u"windows-9999", 0},    {u"utf-8\u00e9", 0},
      {u"iso-8859-99", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tidy::LookupCodePage(c.name), c.codePage) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
  }
}

TEST_F(TidyEncodingTest, ByteOrderMarksAndUtf16WithoutOne) {
  struct Case {
    std::string bytes;
    plat::UINT codePage;
    std::size_t mark;
  } cases[] = {
      {"\xEF\xBB\xBF<rss>", 65001, 3},
      {std::string("\xFF\xFE<\0", 4), 1200, 2},
      {std::string("\xFE\xFF\0<", 4), 1201, 2},
      {std::string("<\0?\0x\0", 6), 1200, 0},
      {std::string("\0<\0?\0x", 6), 1201, 0},
      {"<?xml version", 0, 0},
      {"\xEF\xBB", 0, 0},
  };
  for (const Case& c : cases) {
    std::size_t mark = 99;
    EXPECT_EQ(Tidy::DetectByteOrderMark(c.bytes.data(), c.bytes.size(), &mark), c.codePage);
    EXPECT_EQ(mark, c.mark);
  }
}

TEST_F(TidyEncodingTest, DecodesCodePagesToUtf8) {
  struct Case {
    std::string bytes;
    plat::UINT codePage;
    std::string utf8;
  } cases[] = {
      {"caf\xE9 \x80", 1252, "caf\xC3\xA9 \xE2\x82\xAC"},
      {"\xE9\x80", 28591, "\xC3\xA9\xE2\x82\xAC"},  // Latin-1 decodes as Windows-1252
      {"\xE9", 1251, "\xD0\xB9"},
      {"\xE9", 20866, "\xD0\x98"},
      {std::string("A\0\x3D\xD8\x00\xDE", 6), 1200, "A\xF0\x9F\x98\x80"},
      {std::string("\0A\xD8\x3D", 4), 1201, "A\xEF\xBF\xBD"},  // lone surrogate
      {"plain", 65001, "plain"},
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_TRUE(Tidy::DecodeToUtf8(c.bytes.data(), c.bytes.size(), c.codePage, out)) << c.codePage;
    EXPECT_EQ(out, c.utf8) << c.codePage;
  }
}

TEST_F(TidyEncodingTest, NestingDepthCountsAsTheLibraryNests) {
  auto repeat = [](const char* piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += piece;
    return s;
  };
  struct Case {
    std::string markup;
    bool xml;
    bool tooDeep;
  } cases[] = {
      {repeat("<div>", 1001), false, true},
      {repeat("<div>", 1000), false, false},
      {repeat("<a>", 5000), true, true},
      {repeat("<a/>", 5000), true, false},
      {repeat("<div/>", 5000), false, true},  // "/>" does not end a div in HTML
      {repeat("<p>x", 5000), false, false},
      {repeat("<li>x", 5000), false, false},
      {repeat("<br>", 5000), false, false},
      {repeat("<div></div>", 5000), false, false},
      {repeat("<a></a>", 5000), true, false},
      {"<script>" + repeat("<div>", 5000) + "</script>", false, false},
      {"<!--" + repeat("<div>", 5000) + "-->", false, false},
      {"<![CDATA[" + repeat("<a>", 5000) + "]]>", true, false},
      {"<a title=\"" + repeat("<div>", 5000), false, true},  // an open quote hides nothing
      {repeat("<x:y a='>'>", 2000), true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tidy::ExceedsNestingDepth(c.markup, c.xml), c.tooDeep) << c.markup.substr(0, 40);
  }
}

}  // namespace
