#include "update/tidy/TidyEncoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "update/tidy/TidyNesting.h"
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

// The host's UTF-8 for one byte in a code page; U+FFFD where it has none.
std::string HostUtf8(const char* name, unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char* inp = in;
  char* outp = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  return r == static_cast<std::size_t>(-1) ? std::string("\xEF\xBF\xBD") : std::string(out, outp);
}

TEST_F(TidyEncodingTest, SingleBytePagesDecodeByTableAsTheHostDoes) {
  // Bytes of the table-driven pages, and what they read as.
  struct Case {
    plat::UINT codePage;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      // Windows-1252's 0x80-0x9F, its five undefined bytes (U+FFFD), and Latin letters.
      {1252, "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E",
       "\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u017D"},
      {1252, "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F",
       "\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u017E\u0178"},
      {1252, "\x81\x8D\x8F\x90\x9D", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {1252, "a\xA0\xE9\xFF", "a\u00A0\u00E9\u00FF"},
      {28591, "\x80\x9F\xE9", "\u20AC\u0178\u00E9"},  // Latin-1 reads as Windows-1252
      {28605, "\xA4\xA6\xA8\xB4\xB8\xBC\xBD\xBE\xE9",
       "\u20AC\u0160\u0161\u017D\u017E\u0152\u0153\u0178\u00E9"},
      {1250, "\x8A\x9A\xA3\xB9\xE8\xF8\x81", "\u0160\u0161\u0141\u0105\u010D\u0159\uFFFD"},
      {1251, "\x80\xA8\xC0\xDF\xE0\xFF\x98", "\u0402\u0401\u0410\u042F\u0430\u044F\uFFFD"},
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_TRUE(Tidy::DecodeToUtf8(c.bytes.data(), c.bytes.size(), c.codePage, out)) << c.codePage;
    EXPECT_EQ(out, c.utf8) << c.codePage << " " << c.bytes;
  }
  // Every byte, one at a time and all together, as the host's converter reads it.
  struct Page {
    plat::UINT codePage;
    const char* hostName;
  } pages[] = {{1252, "CP1252"}, {28605, "ISO-8859-15"}, {1250, "CP1250"}, {1251, "CP1251"}};
  for (const Page& page : pages) {
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
      const std::string one(1, static_cast<char>(b));
      std::string out;
      ASSERT_TRUE(Tidy::DecodeToUtf8(one.data(), 1, page.codePage, out));
      EXPECT_EQ(out, HostUtf8(page.hostName, static_cast<unsigned char>(b))) << page.hostName << " byte " << b;
      all += one;
      expected += out;
    }
    std::string out;
    ASSERT_TRUE(Tidy::DecodeToUtf8(all.data(), all.size(), page.codePage, out));
    EXPECT_EQ(out, expected) << page.hostName;
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

TEST_F(TidyEncodingTest, DeepRangesCoverOnlyWhatLiesPastTheLimit) {
  struct Case {
    std::string markup;
    bool xml;
    std::string kept;  // the markup without the ranges, limit 2
  } cases[] = {
      {"<a><b><c><d/></c></b><e/></a>", true, "<a><b></b><e/></a>"},
      {"<a><b>1<c>2</c>3<c>4</c>5</b></a>", true, "<a><b>135</b></a>"},
      // An end tag of an element within the limit ends the cut and stays.
      {"<a><b><c><d>x</b><e/></a>", true, "<a><b></b><e/></a>"},
      // Never closed: cut to the end.
      {"<a><b>t<c><d>x", true, "<a><b>t"},
      // Siblings that replace the cut element are cut with it.
      {"<div><ul><li>1<li>2</ul>3</div>", false, "<div><ul></ul>3</div>"},
      {"<div><div><p>1<p>2</div>x</div>", false, "<div><div></div>x</div>"},
      {"<a><b></b></a>", true, "<a><b></b></a>"},
  };
  for (const Case& c : cases) {
    const auto ranges = Tidy::FindDeepRanges(c.markup, c.xml, 2);
    EXPECT_EQ(Tidy::WithoutRanges(c.markup, ranges), c.kept) << c.markup;
    EXPECT_EQ(ranges.empty(), c.kept == c.markup) << c.markup;
    for (std::size_t k = 1; k < ranges.size(); ++k) EXPECT_LT(ranges[k - 1].end, ranges[k].begin) << c.markup;
    EXPECT_FALSE(Tidy::ExceedsNestingDepth(Tidy::WithoutRanges(c.markup, ranges), c.xml, 2)) << c.markup;
  }
}

}  // namespace
