// Plain XML read without the library must give the very tree the library's
// XML mode gives: every case is parsed both ways and the trees compared
// node by node (type, name, attributes, text, position, empty tag), with the
// library's report counts. Cases outside the plain subset must go to the
// library.
#include "update/tidy/TidyXmlReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bench/FeedsGenerator.h"
#include "tests/support/TempDevice.h"
#include "tests/support/TidyTreeText.h"
#include "update/tidy/TidyDocument.h"

namespace {

using Tidy::Document;
using Tidy::Node;

std::string Fixture(const std::string& name) {
  return orvtest::ReadHostFile((std::filesystem::path(ORV_UPDATE_TEST_DATA) / name).string());
}

struct Parsed {
  bool ok = false;
  bool plain = false;
  std::string tree;
};

Parsed Parse(const std::string& bytes, bool plainReading, const std::u16string& transport = u"") {
  Document document;
  document.Init();
  document.SetPlainXmlReading(plainReading);
  Parsed parsed;
  parsed.ok = Tidy::ParseBuffer(bytes.data(), bytes.size(), &document, transport, u"") == 1;
  parsed.plain = document.WasReadPlain();
  parsed.tree = orvtest::DescribeTidyDocument(document);
  return parsed;
}

// Parses both ways; the trees must match. Returns whether the plain reader built it.
bool ReadsTheSameAsTheLibrary(const std::string& xml, const std::u16string& transport = u"") {
  const Parsed library = Parse(xml, false, transport);
  const Parsed plain = Parse(xml, true, transport);
  EXPECT_FALSE(library.plain);
  EXPECT_EQ(library.ok, plain.ok) << xml;
  EXPECT_EQ(library.tree, plain.tree) << xml;
  return plain.plain;
}

class TidyXmlReaderTest : public orvtest::DeviceTest {};

TEST_F(TidyXmlReaderTest, PlainDocumentsGiveTheLibrarysTree) {
  const char* cases[] = {
      // Declarations, white space around the root.
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel/></rss>\n",
      "<?xml version='1.0' standalone='yes' ?>\r\n\r\n<rss><channel></channel></rss>",
      "  \n\t<rss>x</rss>  \n\n",
      // Text: runs of white space, leading and trailing space, tabs at
      // every column, line breaks of every kind, mixed content.
      "<rss><a>  lead   and\t\ttabs\n\n and   trail  </a><b>\tx\ty\t</b><c>a\tb</c></rss>",
      "<rss><a>1\t2\t</a><b>12345678\tz</b><c>1234567\tz</c><d>1234567  \t z</d></rss>",
      "<rss>\r\n<a>one\r\ntwo\rthree\n\rfour</a>\r\n</rss>",
      "<rss><p>lead <b>bold</b> middle <i>it</i>tail </p><p> <b/> </p><p>x<b/></p></rss>",
      "<rss><p>  a  <b> b </b>  c  </p>\n  <q>\n   deep\n   text  \n  </q></rss>",
      // References: the predefined ones and printable characters.
      "<rss><a>A &amp; B &lt;c&gt; &quot;q&quot; &apos;s&apos; &#233;&#xE9;&#xe9;&#x20AC;&#128512;&#65;</a></rss>",
      "<rss><a>&amp;</a><b>&lt;&lt; &gt;&gt;</b><c> &amp; </c></rss>",
      // Attributes.
      "<rss><a href=\"http://x/?a=1&amp;b=2\" title='it&apos;s' empty=\"\" x:y = \"1 2 3\" q='\"'/></rss>",
      "<rss><a\n  one=\"1\"\n\ttwo=\"2\"\n>t</a><b c=\"&#233;t&#xE9;\" d=\"&quot;&apos;\" /></rss>",
      // CDATA sections: empty, with markup, brackets, tabs and line breaks,
      // beside text.
      "<rss><a><![CDATA[]]></a><b><![CDATA[<p>x &amp; y</p>]]></b><c><![CDATA[a]]]></c></rss>",
      "<rss><a>\n  <![CDATA[\tone\r\n\ttwo  ]]>\n</a><b>before<![CDATA[in]]>after</b><c>x <![CDATA[y]]> z</c></rss>",
      "<rss><a>  before  <![CDATA[ in ]]>  </a><b><![CDATA[1]]><![CDATA[2]]></b></rss>",
      // Names, namespaces, case, beyond ASCII, four-byte characters.
      "<rdf:RDF xmlns:rdf=\"u\" xmlns=\"v\"><channel rdf:about=\"x\"><dc:date>2026</dc:date></channel>"
      "<Item><Title>Caf\xC3\xA9 \xE2\x80\x9Cna\xC3\xAFve\xE2\x80\x9D \xF0\x9F\x98\x80</Title></Item></rdf:RDF>",
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title type=\"html\">&lt;b&gt;x&lt;/b&gt;</title>"
      "<link rel=\"alternate\" href=\"http://e/1\"/><content>\xE6\x97\xA5\xE6\x9C\xAC &gt; \xC2\xA0 x</content>"
      "</entry></feed>",
      // Elements the library treats apart in HTML.
      "<rss><br/>\n  x<hr></hr><p><p>x</p></p><img>  y  </img><link>http://x/</link><link/>\n z</rss>",
      "<rss><a>text &gt; with ]]&gt; and ]]> and > signs</a></rss>",
      "<rss><a>line\xE2\x80\xA8separator \xC2\xA0nbsp\xC2\xA0 \xEF\xBF\xBD</a><b>&#xA0;&#160;</b></rss>",
  };
  for (const char* xml : cases) {
    EXPECT_TRUE(ReadsTheSameAsTheLibrary(xml)) << "left to the library: " << xml;
  }
}

TEST_F(TidyXmlReaderTest, DocumentsOutsideThePlainSubsetGoToTheLibrary) {
  const char* cases[] = {
      "<!-- c --><rss/>",
      "<rss><!-- c --></rss>",
      "<?xml-stylesheet href=\"a\"?><rss/>",
      "<rss><?pi x?></rss>",
      "<!DOCTYPE rss><rss/>",
      "<rss><a>&nbsp;</a></rss>",
      "<rss><a>&#128;</a></rss>",
      "<rss><a>&#32;x</a></rss>",
      "<rss><a>&#10;x</a></rss>",
      "<rss><a>&#X41;</a></rss>",
      "<rss><a>&unknown;</a></rss>",
      "<rss><a>& b</a></rss>",
      "<rss><a>x</a>",
      "<rss><a>x</b></rss>",
      "<rss><a x=\"1\" x=\"2\"/></rss>",
      "<rss><a x=1/></rss>",
      "<rss><a x/></rss>",
      "<rss><a x=\" lead\"/></rss>",
      "<rss><a x=\"two  spaces\"/></rss>",
      "<rss><a x=\"tab\there\"/></rss>",
      "<rss><a x=\"new\nline\"/></rss>",
      "<rss><a x=\"&#233; \"/></rss>",
      "<rss><a xml:space=\"preserve\">  x  </a></rss>",
      "<rss><xsl:text>  x  </xsl:text></rss>",
      "<rss><pre>  a   b  </pre></rss>",
      "<rss><PRE>  a   b  </PRE></rss>",
      "<rss><script> x  y </script></rss>",
      "<rss><a>bell\x07</a></rss>",
      "<rss><a>bad \xC3 byte</a></rss>",
      "<rss><a>overlong \xC0\xAF</a></rss>",
      "<rss><a>c1 \xC2\x85</a></rss>",
      "<rss/>tail",
      "<rss/><rss/>",
      "<rss><a>a < b</a></rss>",
      "<rss><![CDATA[x]]></rss><!-- after -->",
      "<rss><a><![CDATA[open</a></rss>",
      "<rss><a><![IGNORE[x]]></a></rss>",
      "<rss>\xEF\xBB\xBF</rss>",
      "<rss><a>x&#xFEFF;</a></rss>",
  };
  std::string many = "<rss><a";
  for (int i = 0; i < 100; ++i) many += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  EXPECT_FALSE(ReadsTheSameAsTheLibrary(many + "/></rss>"));
  for (const char* xml : cases) {
    EXPECT_FALSE(ReadsTheSameAsTheLibrary(xml)) << "read without the library: " << xml;
  }
}

TEST_F(TidyXmlReaderTest, FeedFixturesAndBenchmarkFeedsReadWithoutTheLibrary) {
  // Fixtures in their own encodings, decoded as an update decodes them.
  struct Case {
    const char* name;
    const char16_t* transport;
  } fixtures[] = {
      {"rss2.xml", u""},
      {"rss1.rdf", u""},
      {"atom.xml", u""},
      {"latin1-declared.xml", u""},
      {"win1252.xml", u"windows-1252"},
      {"utf8-bom.xml", u""},
      {"feeds/harbour-rss2.xml", u""},
      {"feeds/harbour-rss2-next.xml", u""},
      {"feeds/quay-atom.xml", u""},
      {"feeds/lighthouse-rdf.xml", u""},
      {"feeds/cafe-latin1.xml", u""},
  };
  for (const Case& fixture : fixtures) {
    EXPECT_TRUE(ReadsTheSameAsTheLibrary(Fixture(fixture.name), fixture.transport)) << fixture.name;
  }
  for (int feed = 0; feed < 3; ++feed) {
    EXPECT_TRUE(ReadsTheSameAsTheLibrary(benchfeeds::MakeFeed("http://127.0.0.1:1", feed, 0, 4),
                                         benchfeeds::TransportEncoding(feed)))
        << "benchmark feed " << feed;
  }
}

}  // namespace
