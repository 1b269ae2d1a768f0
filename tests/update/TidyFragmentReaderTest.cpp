// Image sources read from plain fragments without the library must be the
// very ones the library's parse gives, and the library must have had nothing
// to repair in them: every case is processed both ways and compared. Cases
// outside the plain subset must go to the library.
#include "update/tidy/TidyFragmentReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "bench/FeedsGenerator.h"
#include "platform/base/Text.h"
#include "tests/support/TempDevice.h"
#include "update/tidy/TidyDocument.h"

namespace {

using Tidy::Document;
using Tidy::Node;

std::string Fixture(const std::string& name) {
  return orvtest::ReadHostFile((std::filesystem::path(__FILE__).parent_path() / "data" / name).string());
}

// The text of every "description", "content" and "summary" of a feed (read
// by the library), as an update hands it to ProcessHtmlFragment.
std::vector<std::u16string> Bodies(const std::string& feed, const char16_t* transport) {
  std::vector<std::u16string> bodies;
  Document document;
  EXPECT_EQ(document.Init(), 0);
  Tidy::ParseBuffer(feed.data(), feed.size(), &document, transport, u"");
  if (document.GetRoot() == nullptr) return bodies;
  for (const Node* n = document.GetRoot(); n; n = n->NextInSubtree(document.GetRoot())) {
    if (n->IsElement() && (n->NameIs("description") || n->NameIs("content") || n->NameIs("summary"))) {
      bodies.push_back(Tidy::GetNodeText(&document, n));
    }
  }
  return bodies;
}

class TidyFragmentReaderTest : public ::testing::Test {
 protected:
  // True when the fragment is read without the library; then the library
  // must agree: nothing repaired, the same sources, the same stored text,
  // a status that notes warnings (the debug log's line stays the same).
  bool ReadsTheSameAsTheLibrary(const std::u16string& html) {
    CStringList plain{u"before"};
    if (!Tidy::ReadPlainFragmentImages(html, plain)) return false;
    Document document;
    EXPECT_EQ(document.Init(), 0);
    EXPECT_TRUE(document.ParseUtf8(plat::Utf16ToUtf8(html), false));
    EXPECT_EQ(document.GetRepairCount(), 0) << plat::Utf16ToUtf8(html);
    EXPECT_NE(document.GetLibraryStatus(), 0) << plat::Utf16ToUtf8(html);
    CStringList library{u"before"};
    Tidy::CollectImageSources(document.GetRoot(), library);
    EXPECT_EQ(plain, library) << plat::Utf16ToUtf8(html);
    // And through the entry the jobs use.
    std::u16string viaPlain = html, viaLibrary = html;
    CStringList imagesPlain, imagesLibrary;
    Tidy::ProcessHtmlFragment(viaPlain, &imagesPlain, u"", true);
    Tidy::ProcessHtmlFragment(viaLibrary, &imagesLibrary, u"", false);
    EXPECT_EQ(viaPlain, viaLibrary);
    EXPECT_EQ(imagesPlain, imagesLibrary) << plat::Utf16ToUtf8(html);
    return true;
  }
};

TEST_F(TidyFragmentReaderTest, PlainFragmentsGiveTheLibrarysImages) {
  const char16_t* cases[] = {
      u"plain text only",
      u"<p >x</p>",
      u"<img src=\"http://ex.org/a.jpg\" alt=\"\">",
      u"<img src=\"a.png\"/><img src=\"b.png\" />",
      u"<p>Text <b>bold</b> &amp; <a href=\"/more?x=1#top\">more</a>.</p>",
      u"<img src=\"http://ex.org/1.jpg\" alt=\"\"><p>one</p><p>two <i>it</i><br>line</p>",
      u"<div class=\"entry x-1\"><p>a</p><img src=\"/2.gif\" width=\"300\" height=\"200\" title=\"T\"></div>",
      u"<ul><li>one</li>\n<li><p>two</p></li></ul><ol><li>x</li></ol>",
      u"<blockquote><p>said</p></blockquote><h2>Head</h2><hr>",
      u"<p><span>s</span><em>e</em><strong>st</strong><small>sm</small><sub>1</sub><sup>2</sup><code>c</code></p>",
      u"caf\u00e9 \u201cna\u00efve\u201d \u2013 \u20ac5 &#233; &#xe9; &nbsp; &lt;tag&gt; &quot;q&quot; \U0001F600",
      u"<a href=\"http://ex.org/\" rel=\"nofollow\" target=\"_blank\"><img src=\"i.png\" alt=\"pic \u00e9\"></a>",
      u"<p>\n  spaced\tout\r\n</p>",
  };
  for (const char16_t* html : cases) {
    EXPECT_TRUE(ReadsTheSameAsTheLibrary(html)) << "not read plain: " << plat::Utf16ToUtf8(html);
  }
}

TEST_F(TidyFragmentReaderTest, FragmentsOutsideThePlainSubsetGoToTheLibrary) {
  const char16_t* cases[] = {
      // the library repairs them
      u"<p>open", u"<b>x</i>", u"</p>", u"<p><div>x</div></p>", u"<b><p>x</p></b>", u"<li>x</li>",
      u"<a href=\"a\"><a href=\"b\">x</a></a>", u"<p></p>", u"<b> </b>", u"<ul>text</ul>",
      u"<img src=\"a.png\" src=\"b.png\">", u"a & b", u"&bogus;", u"&#128;", u"&#1;", u"<img src=\"a b.png\">",
      u"<img src=\"\">", u"<img>", u"<br></br>", u"<p/>", u"<img src=\"]ttp://img.test/a.jpg\">",
      u"<img src=\"http://img.test/[x].jpg\">", u"<a href=\"http://x.test/a[1]\">x</a>",
      // outside the subset, repaired or not
      u"<IMG SRC=\"a.png\">", u"<img src='a.png'>", u"<img src=a.png>", u"<img src=\"a.png?x=1&amp;y=2\">",
      u"<img src=\"caf\u00e9.png\">", u"<img src=\"a.png\" style=\"x\">", u"<img src=\"a.png\" width=\"30px\">",
      u"<table><tr><td>x</td></tr></table>", u"<!-- note -->x", u"<![CDATA[x]]>", u"<?php x ?>",
      u"<script>x</script>", u"<p id=\"x\">x</p>", u"a > b", u"x\u0001y", u"x\u0085y", u"x\xD800y", u"x\uFFFEy",
      u"", u"<img src=\"a.png\"alt=\"\">", u"<p>unclosed <b>bold</p>",
  };
  for (const char16_t* html : cases) {
    EXPECT_FALSE(ReadsTheSameAsTheLibrary(html)) << "read plain: " << plat::Utf16ToUtf8(html);
  }
  std::u16string deep;
  for (int i = 0; i < 70; ++i) deep += u"<div>";
  deep += u"x";
  for (int i = 0; i < 70; ++i) deep += u"</div>";
  EXPECT_FALSE(ReadsTheSameAsTheLibrary(deep));
}

// Fragments built at random, nested elements of every kind with now and
// then a piece out of place: whatever the reader takes, the library takes
// the same way.
std::u16string RandomFragment(std::mt19937& random, int depth) {
  static const char16_t* const kElements[] = {u"p",  u"div", u"blockquote", u"h3", u"ul", u"ol", u"li",
                                              u"a",  u"b",   u"i",          u"em", u"strong", u"span",
                                              u"small", u"code"};
  static const char16_t* const kLeaves[] = {u"text", u" ", u"\n", u"&amp;", u"&#233;", u"\u00e9 \u20ac",
                                            u"<img src=\"/i.png\">", u"<img src=\"j.jpg\" alt=\"a\"/>",
                                            u"<br>", u"<hr>"};
  static const char16_t* const kOutOfPlace[] = {u"&", u"<", u">", u"</p>", u"<p>", u"<b>", u"<img>", u"<!-- c -->"};
  std::u16string html;
  const int count = 1 + static_cast<int>(random() % 3);
  for (int i = 0; i < count; ++i) {
    if (random() % 25 == 0) {
      html += kOutOfPlace[random() % std::size(kOutOfPlace)];
    } else if (depth == 0 || random() % 3 == 0) {
      html += kLeaves[random() % std::size(kLeaves)];
    } else {
      const std::u16string name = kElements[random() % std::size(kElements)];
      const std::u16string attributes = name == u"a" ? u" href=\"/x?y=1\"" : random() % 4 == 0 ? u" class=\"c\"" : u"";
      html += u"<" + name + attributes + u">" + RandomFragment(random, depth - 1) + u"</" + name + u">";
    }
  }
  return html;
}

TEST_F(TidyFragmentReaderTest, RandomFragmentsReadPlainAgreeWithTheLibrary) {
  std::mt19937 random(20);
  int plain = 0;
  for (int n = 0; n < 1500; ++n) {
    const std::u16string html = RandomFragment(random, 3);
    if (ReadsTheSameAsTheLibrary(html)) ++plain;
    if (HasFailure()) {
      ADD_FAILURE() << plat::Utf16ToUtf8(html);
      break;
    }
  }
  EXPECT_GT(plain, 150);  // the comparison covered fragments of many shapes
}

TEST_F(TidyFragmentReaderTest, BenchmarkAndFixtureBodiesAreReadPlainAsTheLibraryReadsThem) {
  for (int feed = 0; feed < 3; ++feed) {
    const std::string xml = benchfeeds::MakeFeed("http://127.0.0.1:1", feed, 0, 3);
    for (const std::u16string& body : Bodies(xml, benchfeeds::TransportEncoding(feed))) {
      EXPECT_TRUE(ReadsTheSameAsTheLibrary(body)) << "benchmark feed " << feed << ": " << plat::Utf16ToUtf8(body);
    }
  }
  const char* fixtures[] = {"rss2.xml", "atom.xml", "rss1.rdf", "feeds/harbour-rss2.xml", "feeds/quay-atom.xml",
                            "feeds/lighthouse-rdf.xml", "feeds/cafe-latin1.xml"};
  for (const char* name : fixtures) {
    for (const std::u16string& body : Bodies(Fixture(name), u"")) ReadsTheSameAsTheLibrary(body);
  }
}

}  // namespace
