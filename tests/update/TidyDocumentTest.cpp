#include "update/tidy/TidyDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/PrivateHeap.h"
#include "platform/base/Text.h"
#include "tests/support/Printers.h"
#include "tests/support/TempDevice.h"
#include "update/tidy/TidyEncoding.h"

namespace {

using Tidy::Document;
using Tidy::Node;

std::string Fixture(const std::string& name) {
  return orvtest::ReadHostFile((std::filesystem::path(ORV_UPDATE_TEST_DATA) / name).string());
}

using orvtest::Utf8;

std::vector<Node*> ChildElements(Node* parent, const char* name) {
  std::vector<Node*> found;
  for (Node* child : parent->Children()) {
    if (child->IsElement() && child->NameIs(name)) found.push_back(child);
  }
  return found;
}

// The text of the element found by following names from the root.
std::string TextAt(Node* root, std::initializer_list<const char*> path) {
  Node* node = root;
  for (const char* name : path) {
    node = node ? node->FindChildElement(name) : nullptr;
  }
  return node ? node->GetTextUtf8() : std::string("<missing>");
}

class TidyDocumentTest : public orvtest::DeviceTest {
 protected:
  int Parse(const std::string& bytes, const std::u16string& transport = u"", const std::u16string& forced = u"") {
    return Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc_, transport, forced);
  }
  Document doc_;
};

// ---- Sniffing ---------------------------------------------------------------------

TEST_F(TidyDocumentTest, LooksLikeXmlSniffsTheFirstTag) {
  struct Case {
    std::string bytes;
    bool xml;
  } cases[] = {
      {"\xEF\xBB\xBF  <rss version=\"2.0\">", true},
      {"\xEF\xBB\xBF  <RSS version=\"2.0\">", false},
      {"<?xml version=\"1.0\"?><feed/>", true},
      {"\r\n\t <rdf:RDF>", true},
      {"<opml version=\"1.1\">", true},
      {"<html><body>", false},
      {"<rss>", false},  // 5 bytes
      {"\xEF\xBB\xBF<rss>", false},
      {"      <", false},
      // An Atom feed without a declaration, and feeds whose root comes after
      // comments, processing instructions or a document type.
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\">", true},
      {"<!-- generated -->\n<rss version=\"2.0\">", true},
      {"<?xml-stylesheet href=\"a.xsl\"?><!-- x --><feed>", true},
      {"<!DOCTYPE rss PUBLIC \"-//Netscape//DTD RSS 0.91//EN\" \"x.dtd\">\n<rss>", true},
      {"<!DOCTYPE rss [<!ENTITY a \"b>\">]><rss>", true},
      {"<!DOCTYPE html>\n<html><body>", false},
      {"<!-- feed --><html>", false},
      {"<!-- never closed <rss>", false},
      {"<feedback>hello</feedback>", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tidy::LooksLikeXml(c.bytes.data(), c.bytes.size()), c.xml) << c.bytes;
  }
}

TEST_F(TidyDocumentTest, DeclarationEncoding) {
  struct Case {
    std::string bytes;
    std::u16string encoding;
  } cases[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss/>", u"ISO-8859-1"},
      {"<?xml version='1.0' encoding='windows-1251'?><rss/>", u"windows-1251"},
      {"<?xml version=\"1.0\" encoding=\"koi8-r\" <rss/>", u""},   // no "?>"
      {"<?xml version=\"1.0\"?><rss encoding=\"x\"/>", u""},         // key only after the declaration
      {"<?xml version=\"1.0\" encoding=\"utf-8?>", u""},             // no closing quote before "?>"
      {"<?xml version=\"1.0\"?>", u""},
      {"abc", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(Tidy::GetXmlDeclarationEncoding(c.bytes.data(), c.bytes.size())), Utf8(c.encoding)) << c.bytes;
  }
}

// ---- Real feeds and pages ------------------------------------------------------------

TEST_F(TidyDocumentTest, FeedsAndPagesInTheirEncodings) {
  struct Case {
    const char* file;
    const char16_t* transport;
    bool xml;
    std::initializer_list<const char*> titlePath;
    const char* title;
    bool converted = false;  // not UTF-8: a caller's buffer is freed once converted
  } cases[] = {
      {"rss2.xml", u"", true, {"rss", "channel", "title"}, "Harbour News & Weather"},
      {"rss1.rdf", u"", true, {"rdf:RDF", "channel", "title"}, "Science Notes"},
      {"atom.xml", u"", true, {"feed", "title"}, "Trail Diary"},
      {"broken.html", u"", false, {"html", "head", "title"}, "Lost & Found"},
      {"latin1-declared.xml", u"", true, {"rss", "channel", "title"}, "Caf\xC3\xA9 du Nord", true},
      {"latin1-declared.xml", u"utf-8", true, {"rss", "channel", "title"}, "Caf\xC3\xA9 du Nord", true},
      {"latin1-http.html", u"ISO-8859-1", false, {"html", "head", "title"}, "M\xC3\xBCnchen \xC3\xBC" "ber alles", true},
      {"win1252.xml", u"", true, {"rss", "channel", "title"}, "Prices \xE2\x80\x93 \xE2\x80\x9C" "cheap\xE2\x80\x9D", true},
      {"utf16-bom.xml", u"", true, {"rss", "channel", "title"},
       "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9", true},
      {"utf8-bom.xml", u"windows-1252", true, {"rss", "channel", "title"},
       "\xC3\x85ngstr\xC3\xB6m \xE2\x86\x92 \xCE\xBB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Document doc;
    std::string bytes = Fixture(c.file);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc, c.transport, u""), 1);
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_EQ(doc.IsXml(), c.xml);
    EXPECT_EQ(TextAt(doc.GetRoot(), c.titlePath), c.title);
    // The same bytes from a buffer the parse may free: the same tree.
    std::vector<char> owned(bytes.begin(), bytes.end());
    Document again;
    ASSERT_EQ(Tidy::ParseBuffer(owned.data(), owned.size(), &again, c.transport, u"", &owned), 1);
    ASSERT_NE(again.GetRoot(), nullptr);
    EXPECT_EQ(TextAt(again.GetRoot(), c.titlePath), c.title);
    EXPECT_EQ(owned.empty(), c.converted);
  }
}

TEST_F(TidyDocumentTest, Rss2ItemsKeepTheirParts) {
  ASSERT_EQ(Parse(Fixture("rss2.xml")), 1);
  Node* channel = doc_.GetRoot()->FindChildElement("rss")->FindChildElement("channel");
  std::vector<Node*> items = ChildElements(channel, "item");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(TextAt(items[0], {"dc:creator"}), "Ann Smith");
  Node* description = items[0]->FindChildElement("description");
  ASSERT_NE(description->FirstChild(), nullptr);
  EXPECT_EQ(description->FirstChild()->Type(), Tidy::NodeType::CData);
  EXPECT_EQ(description->FirstChild()->Text(), "<p>Winds of <b>90 km/h</b> expected.</p><img src=\"/img/storm.jpg\">");
  std::u16string value;
  Node* enclosure = items[0]->FindChildElement("ENCLOSURE");
  ASSERT_NE(enclosure, nullptr);
  EXPECT_TRUE(Tidy::GetNodeAttribute(enclosure, u"Type", value));
  EXPECT_EQ(Utf8(value), "audio/mpeg");
  EXPECT_FALSE(Tidy::GetNodeAttribute(enclosure, u"width", value));
  EXPECT_EQ(TextAt(items[1], {"title"}), "Caf\xC3\xA9 reopens at pier 3");
  EXPECT_EQ(TextAt(items[1], {"description"}), "The caf\xC3\xA9 \"Blue Gull\" is open again <daily>.");
  EXPECT_EQ(TextAt(items[1], {"content:encoded"}), "<p>Open <i>daily</i></p>");
  Node* guid = items[0]->FindChildElement("guid");
  EXPECT_EQ(guid->FindAttribute("ispermalink")->Value(), "false");
}

TEST_F(TidyDocumentTest, RdfAndAtomStructure) {
  ASSERT_EQ(Parse(Fixture("rss1.rdf")), 1);
  Node* rdf = doc_.GetRoot()->FindChildElement("rdf:RDF");
  ASSERT_NE(rdf, nullptr);
  std::vector<Node*> items = ChildElements(rdf, "item");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1]->FindAttribute("rdf:about")->Value(), "http://science.example.net/n/2");
  EXPECT_EQ(TextAt(items[1], {"title"}), "Measuring 5 \xC2\xB5m");
  EXPECT_EQ(TextAt(items[1], {"description"}), "Scales > rulers");

  ASSERT_EQ(Parse(Fixture("atom.xml")), 1);
  Node* feed = doc_.GetRoot()->FindChildElement("feed");
  std::vector<Node*> entries = ChildElements(feed, "entry");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]->FindChildElement("link")->FindAttribute("href")->Value(), "days/12.html");
  EXPECT_EQ(TextAt(entries[0], {"author", "name"}), "Jo");
}

TEST_F(TidyDocumentTest, BrokenHtmlIsRepaired) {
  ASSERT_EQ(Parse(Fixture("broken.html")), 1);
  EXPECT_FALSE(doc_.IsXml());
  EXPECT_GT(doc_.GetRepairCount(), 0);
  Node* body = doc_.GetRoot()->FindChildElement("html")->FindChildElement("body");
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(ChildElements(body, "p").size(), 2u);
  Node* list = body->FindChildElement("ul");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ChildElements(list, "li").size(), 2u);
  Node* script = doc_.GetRoot()->FindDescendantElement("script");
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(script->FirstChild()->Text(), "if (a < b && c > d) { document.write(\"<b>x</b>\"); }");
  std::string text = body->GetTextUtf8();
  EXPECT_NE(text.find("Second paragraph \xC2\xA9 2005"), std::string::npos) << text;
  EXPECT_EQ(text.find("a comment"), std::string::npos);
}

// An instruction with nothing after its target once made the library read
// far past its buffer (a feed could crash the update); its text is empty,
// the texts of the others are kept, and the elements after it are read.
TEST_F(TidyDocumentTest, ProcessingInstructionsWithAndWithoutText) {
  struct Case {
    const char* xml;
    const char* target;
    const char* text;
  };
  const Case cases[] = {
      {"<?foo?><rss><channel/></rss>", "foo", ""},
      {"<rss><?x?><channel/></rss>", "x", ""},
      {"<?on=\"1.0\"?><rss><channel/></rss>", "on=\"1.0\"", ""},
      {"<?foo bar?><rss><channel/></rss>", "foo", " bar"},
      {"<?foo ?><rss><channel/></rss>", "foo", " "},
      {"<?a-b x=\"1\"?><rss><channel/></rss>", "a-b", " x=\"1\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    Document doc;
    ASSERT_EQ(doc.Init(), 0);
    const std::string xml = c.xml;
    ASSERT_EQ(Tidy::ParseBuffer(xml.data(), xml.size(), &doc, u"", u""), 1);
    const Node* instruction = nullptr;
    for (const Node* n = doc.GetRoot(); n; n = n->NextInSubtree(doc.GetRoot())) {
      if (n->Type() == Tidy::NodeType::ProcIns) instruction = n;
    }
    ASSERT_NE(instruction, nullptr);
    EXPECT_EQ(instruction->Name(), c.target);
    EXPECT_EQ(instruction->Text(), c.text);
    EXPECT_NE(doc.GetRoot()->FindDescendantElement("channel"), nullptr);
  }
}

// ---- Encoding rules ---------------------------------------------------------------------

TEST_F(TidyDocumentTest, ForcedBeatsDeclarationBeatsTransport) {
  // 0xE9: é in Windows-1252, й in Windows-1251, И in KOI8-R.
  const std::string declared = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><rss><t>\xE9</t></rss>";
  const std::string undeclared = "<?xml version=\"1.0\"?><rss><t>\xE9</t></rss>";
  struct Case {
    const std::string* bytes;
    const char16_t* transport;
    const char16_t* forced;
    const char* text;
  } cases[] = {
      {&declared, u"iso-8859-1", u"koi8-r", "\xD0\x98"},
      {&declared, u"iso-8859-1", u"", "\xD0\xB9"},
      {&declared, u"x-nonsense", u"", "\xD0\xB9"},
      {&undeclared, u"iso-8859-1", u"", "\xC3\xA9"},
      {&undeclared, u"", u"koi8-r", "\xD0\x98"},
      {&undeclared, u"", u"", "\xEF\xBF\xBD"},  // not UTF-8
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_EQ(Tidy::ParseBuffer(c.bytes->data(), c.bytes->size(), &doc, c.transport, c.forced), 1);
    EXPECT_EQ(TextAt(doc.GetRoot(), {"rss", "t"}), c.text) << Utf8(c.transport) << " " << Utf8(c.forced);
  }
}

TEST_F(TidyDocumentTest, ByteOrderMarkDecidesOverNames) {
  std::string utf8 = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?><rss><t>\xC3\xA9</t></rss>";
  ASSERT_EQ(Parse(utf8, u"koi8-r", u"koi8-r"), 1);
  EXPECT_EQ(TextAt(doc_.GetRoot(), {"rss", "t"}), "\xC3\xA9");

  // UTF-16 big-endian with its mark, and little-endian without one.
  std::u16string text = u"<?xml version=\"1.0\"?><rss><t>\u00e9\u4e2d</t></rss>";
  std::string be = "\xFE\xFF", le;
  for (char16_t c : text) {
    be += static_cast<char>(c >> 8);
    be += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
  }
  for (const std::string& bytes : {be, le}) {
    Document doc;
    ASSERT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc, u"", u""), 1);
    EXPECT_TRUE(doc.IsXml());
    EXPECT_EQ(TextAt(doc.GetRoot(), {"rss", "t"}), "\xC3\xA9\xE4\xB8\xAD");
  }
}

TEST_F(TidyDocumentTest, UnknownEncodingNameIsPassedOver) {
  // A name no encoding answers to leaves the choice of the rule before it:
  // 0xE9 is \u00e9 in ISO-8859-1, \u0439 in Windows-1251, \u0418 in KOI8-R.
  const std::string declared1251 = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><rss><t>\xE9</t></rss>";
  const std::string declaredNone = "<?xml version=\"1.0\" encoding=\"x-klingon\"?><rss><t>\xE9</t></rss>";
  const std::string undeclared = "<rss><t>\xE9</t></rss>";
  const std::string page = "<html><body><p>caf\xC3\xA9</p></body></html>";
  struct Case {
    const std::string* bytes;
    const char16_t* transport;
    const char16_t* forced;
    std::initializer_list<const char*> path;
    const char* text;
    const char* encoding;
  } cases[] = {
      {&undeclared, u"", u"x-klingon", {"rss", "t"}, "\xEF\xBF\xBD", "utf-8"},
      {&undeclared, u"iso-8859-1", u"x-klingon", {"rss", "t"}, "\xC3\xA9", "iso-8859-1"},
      {&declared1251, u"iso-8859-1", u"none", {"rss", "t"}, "\xD0\xB9", "windows-1251"},
      {&declaredNone, u"koi8-r", u"", {"rss", "t"}, "\xD0\x98", "koi8-r"},
      {&declaredNone, u"none", u"", {"rss", "t"}, "\xEF\xBF\xBD", "utf-8"},
      {&page, u"none", u"", {"html", "body", "p"}, "caf\xC3\xA9", "utf-8"},
      {&page, u"x-klingon", u"windows-99999", {"html", "body", "p"}, "caf\xC3\xA9", "utf-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(*c.bytes + " transport " + Utf8(c.transport) + " forced " + Utf8(c.forced));
    Document doc;
    ASSERT_EQ(Tidy::ParseBuffer(c.bytes->data(), c.bytes->size(), &doc, c.transport, c.forced), 1);
    EXPECT_EQ(doc.GetFailure(), Tidy::ParseFailure::None);
    EXPECT_EQ(TextAt(doc.GetRoot(), c.path), c.text);
    EXPECT_EQ(Utf8(doc.GetInputEncoding()), c.encoding);
  }
  // A document's own setting takes only names it can decode.
  Document doc;
  EXPECT_FALSE(Tidy::SetInputEncoding(&doc, u"none"));
  ASSERT_EQ(Tidy::ParseBuffer(page.data(), page.size(), &doc, u"", u""), 1);
  EXPECT_EQ(TextAt(doc.GetRoot(), {"html", "body", "p"}), "caf\xC3\xA9");
}

TEST_F(TidyDocumentTest, MissingInputIsRefused) {
  const char* bytes = "<rss/>";
  EXPECT_EQ(Tidy::ParseBuffer(nullptr, 6, &doc_, u"", u""), 0);
  EXPECT_EQ(Tidy::ParseBuffer(bytes, 0, &doc_, u"", u""), 0);
  EXPECT_EQ(Tidy::ParseBuffer(bytes, 6, nullptr, u"", u""), 0);
  EXPECT_EQ(doc_.GetFailure(), Tidy::ParseFailure::NoInput);
}

// ---- Untrusted input ------------------------------------------------------------------------

// Deepest element below the node (the node itself at depth 0).
std::size_t ElementDepth(Node* top) {
  std::size_t deepest = 0;
  for (Node* n = top->FirstChild(); n != nullptr; n = n->NextInSubtree(top)) {
    if (!n->IsElement()) continue;
    std::size_t depth = 0;
    for (Node* up = n; up != nullptr && up != top; up = up->Parent()) ++depth;
    deepest = std::max(deepest, depth);
  }
  return deepest;
}

TEST_F(TidyDocumentTest, DepthBombIsCutToTheLimit) {
  struct Case {
    const char* open;
    int count;
  } cases[] = {
      {"<div>", 100000},
      {"<b>", 20000},
      {"<a>", 100000},
      {"<div>", 900},
  };
  for (const Case& c : cases) {
    std::string bytes = std::string(c.open[1] == 'a' ? "<?xml version=\"1.0\"?>" : "") ;
    for (int i = 0; i < c.count; ++i) bytes += c.open;
    Document doc;
    EXPECT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc, u"", u""), 1) << c.open << c.count;
    ASSERT_NE(doc.GetRoot(), nullptr) << c.open << c.count;
    const std::size_t depth = ElementDepth(doc.GetRoot());
    // In HTML the library adds the html and body elements around the markup.
    const std::size_t added = c.open[1] == 'a' ? 0 : 2;
    EXPECT_LE(depth, Tidy::kMaxNestingDepth + added) << c.open << c.count;
    // What lies within the limit is kept.
    EXPECT_GE(depth, std::min<std::size_t>(static_cast<std::size_t>(c.count), Tidy::kMaxNestingDepth - 2))
        << c.open << c.count;
  }
}

// A feed with one item nested far past the limit keeps every other item and
// the item's own text outside the deep part, read plainly or by the library.
TEST_F(TidyDocumentTest, DeepPartOfAFeedIsLeftOutItsItemsKept) {
  auto feed = [](bool closed) {
    std::string bomb;
    for (int i = 0; i < 10000; ++i) bomb += "<x>";
    bomb += "core";
    if (closed) {
      for (int i = 0; i < 10000; ++i) bomb += "</x>";
    }
    std::string text =
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Deep</title>"
        "<item><title>Before</title><link>http://example.com/1</link></item>"
        "<item><title>Bomb</title><description>head " + bomb;
    if (closed) text += " tail</description></item><item><title>After</title></item></channel></rss>";
    return text;
  };
  struct Case {
    bool closed;
    bool plain;
    std::vector<std::string> titles;
  } cases[] = {
      {true, true, {"Before", "Bomb", "After"}},
      {true, false, {"Before", "Bomb", "After"}},
      {false, true, {"Before", "Bomb"}},
      {false, false, {"Before", "Bomb"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.closed ? "closed" : "cut short") + (c.plain ? ", plain reader" : ", library"));
    const std::string bytes = feed(c.closed);
    Document doc;
    doc.SetPlainXmlReading(c.plain);
    ASSERT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc, u"", u""), 1);
    ASSERT_NE(doc.GetRoot(), nullptr);
    // A well-formed feed stays plain once its deep part is gone.
    EXPECT_EQ(doc.WasReadPlain(), c.plain && c.closed);
    Node* channel = doc.GetRoot()->FindDescendantElement("channel");
    ASSERT_NE(channel, nullptr);
    std::vector<std::string> titles;
    for (Node* item : ChildElements(channel, "item")) titles.push_back(TextAt(item, {"title"}));
    EXPECT_EQ(titles, c.titles);
    EXPECT_LE(ElementDepth(doc.GetRoot()), Tidy::kMaxNestingDepth);
    Node* description = channel->FindDescendantElement("description");
    ASSERT_NE(description, nullptr);
    const std::string text = description->GetTextUtf8();
    EXPECT_NE(text.find("head"), std::string::npos);
    EXPECT_EQ(text.find("core"), std::string::npos);
    if (c.closed) {
      EXPECT_NE(text.find("tail"), std::string::npos);
    }
  }
}

TEST_F(TidyDocumentTest, OversizedInputIsRefused) {
  std::string bytes = "<html><body>" + std::string(Tidy::kMaxDocumentSize, 'x');
  EXPECT_EQ(Parse(bytes), 0);
  EXPECT_EQ(doc_.GetFailure(), Tidy::ParseFailure::TooLarge);
  EXPECT_EQ(doc_.GetRoot(), nullptr);
}

std::string LargeFeed(int items) {
  std::string feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Big</title>";
  for (int i = 0; i < items; ++i) {
    feed += "<item><title>Item " + std::to_string(i) + "</title><link>http://example.com/" + std::to_string(i) +
            "</link><description>Some text &amp; more text for item " + std::to_string(i) + "</description></item>";
  }
  return feed + "</channel></rss>";
}

TEST_F(TidyDocumentTest, HeapExhaustionDuringParseFailsCleanly) {
  const std::string feed = LargeFeed(2000);
  int parseFailures = 0;
  for (std::size_t limit : {std::size_t(4) << 10, std::size_t(64) << 10, std::size_t(256) << 10, std::size_t(1) << 20}) {
    SCOPED_TRACE(limit);
    CPrivateHeap heap(limit);
    Tidy::HeapDocumentPtr doc(Tidy::CreateDocumentOnHeap(heap));
    if (!doc) {
      EXPECT_TRUE(heap.HasFailed());
      EXPECT_EQ(heap.GetUsedSize(), 0u);
      continue;
    }
    EXPECT_EQ(doc->GetMemAppData(), &heap);
    EXPECT_EQ(Tidy::ParseBuffer(feed.data(), feed.size(), doc.get(), u"", u""), 0);
    EXPECT_EQ(doc->GetFailure(), Tidy::ParseFailure::OutOfMemory);
    EXPECT_EQ(doc->GetRoot(), nullptr);
    EXPECT_TRUE(heap.HasFailed());
    EXPECT_TRUE(heap.IsValid());
    ++parseFailures;
    // Only the document object itself is left on the heap, and a small
    // document still parses in it.
    EXPECT_EQ(heap.GetBlockCount(), 1u);
    const std::string small = "<?xml version=\"1.0\"?><rss><t>ok</t></rss>";
    EXPECT_EQ(Tidy::ParseBuffer(small.data(), small.size(), doc.get(), u"", u""), 1);
    EXPECT_EQ(TextAt(doc->GetRoot(), {"rss", "t"}), "ok");
    doc.reset();
    EXPECT_EQ(heap.GetUsedSize(), 0u);
  }
  EXPECT_GT(parseFailures, 0);

  // Without a limit the same feed parses on a heap.
  CPrivateHeap heap;
  Tidy::HeapDocumentPtr doc(Tidy::CreateDocumentOnHeap(heap));
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(Tidy::ParseBuffer(feed.data(), feed.size(), doc.get(), u"", u""), 1);
  EXPECT_EQ(ChildElements(doc->GetRoot()->FindChildElement("rss")->FindChildElement("channel"), "item").size(), 2000u);
  EXPECT_FALSE(heap.HasFailed());
  doc.reset();
  EXPECT_EQ(heap.GetUsedSize(), 0u);
}

// ---- Serialisation ------------------------------------------------------------------------------

TEST_F(TidyDocumentTest, MarkupRoundTrips) {
  for (const char* file : {"rss2.xml", "rss1.rdf", "atom.xml", "broken.html", "latin1-declared.xml", "win1252.xml",
                           "utf16-bom.xml", "utf8-bom.xml"}) {
    SCOPED_TRACE(file);
    Document first;
    std::string bytes = Fixture(file);
    ASSERT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &first, u"", u""), 1);
    std::string markup = first.GetRoot()->GetMarkupUtf8();
    Document second;
    ASSERT_EQ(Tidy::ParseBuffer(markup.data(), markup.size(), &second, u"", u""), 1);
    EXPECT_EQ(second.IsXml(), first.IsXml());
    EXPECT_EQ(second.GetRoot()->GetMarkupUtf8(), markup);
    EXPECT_EQ(second.GetRoot()->GetTextUtf8(), first.GetRoot()->GetTextUtf8());
  }
}

TEST_F(TidyDocumentTest, MarkupOfNodes) {
  struct Case {
    std::string source;
    const char* element;
    const char* markup;
  } cases[] = {
      {"<?xml version=\"1.0\"?><rss><a x=\"1 &amp; 2\" y='\"q\"'>t&lt;u&gt;</a></rss>", "a",
       "<a x=\"1 &amp; 2\" y=\"&quot;q&quot;\">t&lt;u&gt;</a>"},
      {"<?xml version=\"1.0\"?><rss><e/><c><![CDATA[a]]>b]]><!--n--></c></rss>", "rss",
       "<rss><e/><c><![CDATA[a]]>b]]&gt;<!--n--></c></rss>"},
      {"<html><body><p>a<br>b<img src=\"x.png\" alt=\"\"></p></body></html>", "p",
       "<p>a<br />b<img src=\"x.png\" alt /></p>"},
      {"<html><head><script>if (a<b) x();</script></head><body></body></html>", "script",
       "<script>if (a<b) x();</script>"},
      {"<html><body><p>x&nbsp;&amp;</p></body></html>", "p", "<p>x\xC2\xA0&amp;</p>"},
      {"<?xml version=\"1.0\" standalone=\"yes\"?><?xml-stylesheet href=\"s.css\"?><rss/>", "",
       "<?xml version=\"1.0\" standalone=\"yes\"?>\n<?xml-stylesheet href=\"s.css\"?><rss/>"},
      {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">"
       "<html><head><title>t</title></head><body></body></html>", "",
       "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\" \"http://www.w3.org/TR/html4/strict.dtd\">\n"
       "<html><head><title>t</title></head><body></body></html>"},
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_EQ(Tidy::ParseBuffer(c.source.data(), c.source.size(), &doc, u"", u""), 1) << c.source;
    Node* node = *c.element ? doc.GetRoot()->FindDescendantElement(c.element) : doc.GetRoot();
    ASSERT_NE(node, nullptr) << c.source;
    EXPECT_EQ(Utf8(Tidy::GetNodeMarkup(&doc, node)), c.markup);
  }
  EXPECT_EQ(Tidy::GetNodeMarkup(&doc_, nullptr), u"");

  // The declaration no longer names the encoding it was read in.
  ASSERT_EQ(Parse(Fixture("latin1-declared.xml")), 1);
  std::string markup = doc_.GetRoot()->GetMarkupUtf8();
  EXPECT_EQ(markup.rfind("<?xml version=\"1.0\"?>\n<rss", 0), 0u) << markup;
  EXPECT_EQ(Utf8(Tidy::GetInnerMarkup(&doc_, doc_.GetRoot()->FindDescendantElement("item"))),
            "<title>Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e \xC3\xA0 la carte</title><description>\xC2\xBD prix \xC2\xA7 3</description>");
}

// ---- Reading the tree ---------------------------------------------------------------------------

TEST_F(TidyDocumentTest, PlainText) {
  struct Case {
    std::string source;
    const char* element;
    const char* text;
  } cases[] = {
      {"<?xml version=\"1.0\"?><rss><x>a<y>b</y></x></rss>", "x", "a b"},
      {"<?xml version=\"1.0\"?><rss><x><!--c-->a<![CDATA[<c>]]><y/></x></rss>", "x", "a <c>"},
      {"<?xml version=\"1.0\"?><rss><x><y/></x></rss>", "x", ""},
      {"<html><body><div>one <b>two</b> three</div></body></html>", "div", "one  two  three"},
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_EQ(Tidy::ParseBuffer(c.source.data(), c.source.size(), &doc, u"", u""), 1);
    EXPECT_EQ(Utf8(Tidy::GetNodeText(&doc, doc.GetRoot()->FindDescendantElement(c.element))), c.text) << c.source;
  }
  EXPECT_EQ(Tidy::GetNodeText(&doc_, nullptr), u"");
}

TEST_F(TidyDocumentTest, ChildrenAndAttributesByNameIgnoringCase) {
  ASSERT_EQ(Parse("<?xml version=\"1.0\"?><rss><Item A=\"1\" b=\"2\" a=\"3\"/><item>x</item><!--Item--></rss>"), 1);
  Node* rss = Tidy::FindChildElement(&doc_, doc_.GetRoot(), u"RSS");
  ASSERT_NE(rss, nullptr);
  Node* item = Tidy::FindChildElement(&doc_, rss, u"item");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name(), "Item");
  std::u16string value;
  ASSERT_TRUE(Tidy::GetNodeAttribute(item, u"a", value));
  EXPECT_EQ(value, u"1");
  EXPECT_EQ(Tidy::FindChildElement(&doc_, rss, u"channel"), nullptr);
  EXPECT_EQ(Tidy::FindChildElement(&doc_, nullptr, u"rss"), nullptr);
  EXPECT_EQ(item->Next()->Previous(), item);
  EXPECT_EQ(item->Parent(), rss);
  EXPECT_EQ(rss->ChildCount(), 3u);
  EXPECT_EQ(rss->LastChild()->Type(), Tidy::NodeType::Comment);
  EXPECT_EQ(rss->LastChild()->Text(), "Item");

  CStringToStringMap map{{u"stale", u"1"}};
  Tidy::ReadChildTexts(&doc_, rss, map);
  EXPECT_EQ(map, (CStringToStringMap{{u"Item", u""}, {u"item", u"x"}}));
}

TEST_F(TidyDocumentTest, UserDataAndAttributeChanges) {
  ASSERT_EQ(Parse("<?xml version=\"1.0\"?><rss><a href=\"x\" flag/></rss>"), 1);
  Node* a = doc_.GetRoot()->FindDescendantElement("a");
  EXPECT_EQ(a->GetUserData(), 0u);
  a->SetUserData(0x1234);
  EXPECT_EQ(a->GetUserData(), 0x1234u);

  Tidy::Attribute* href = doc_.SetAttributeValue(a, "HREF", "http://example.com/");
  ASSERT_NE(href, nullptr);
  EXPECT_EQ(href->Name(), "href");
  EXPECT_EQ(a->FindAttribute("href")->Value(), "http://example.com/");
  Tidy::Attribute* added = doc_.SetAttributeValue(a, "title", "T");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(doc_.SetAttributeValue(a, "title", nullptr), added);
  EXPECT_FALSE(added->HasValue());
  EXPECT_EQ(Utf8(Tidy::GetNodeMarkup(&doc_, a)), "<a href=\"http://example.com/\" flag=\"\" title=\"\"/>");
}

TEST_F(TidyDocumentTest, RelativeAddressesMadeAbsolute) {
  ASSERT_EQ(Parse("<html><body><a href=\"/x\" title=\"/t\">a</a><img src=\"img/a.png\" alt=\"\">"
                  "<a href=\"http://other.org/y\">b</a><form action=\"?q=1\"></form>"
                  "<a href=\"../up.html#s\">c</a></body></html>"),
            1);
  EXPECT_EQ(Tidy::MakeUrlsAbsolute(&doc_, doc_.GetRoot(), u"http://example.com/dir/page.html"), 1);
  Node* body = doc_.GetRoot()->FindDescendantElement("body");
  std::vector<std::string> values;
  for (Node* n = body; n; n = n->NextInSubtree(body)) {
    for (Tidy::Attribute* a = n->FirstAttribute(); a; a = a->Next()) {
      if (!a->NameIs("alt")) values.push_back(std::string(a->Name()) + "=" + std::string(a->Value()));
    }
  }
  EXPECT_EQ(values, (std::vector<std::string>{"href=http://example.com/x", "title=/t",
                                              "src=http://example.com/dir/img/a.png", "href=http://other.org/y",
                                              "action=http://example.com/dir/page.html?q=1",
                                              "href=http://example.com/up.html#s"}));
  EXPECT_EQ(Tidy::MakeUrlsAbsolute(nullptr, doc_.GetRoot(), u"http://example.com/"), 0);
  EXPECT_EQ(Tidy::MakeUrlsAbsolute(&doc_, nullptr, u"http://example.com/"), 0);

  // Atom links of a feed.
  ASSERT_EQ(Parse(Fixture("atom.xml")), 1);
  ASSERT_EQ(Tidy::MakeUrlsAbsolute(&doc_, doc_.GetRoot(), u"http://trail.example.com/diary/atom.xml"), 1);
  Node* entry = doc_.GetRoot()->FindDescendantElement("entry");
  EXPECT_EQ(entry->FindChildElement("link")->FindAttribute("href")->Value(), "http://trail.example.com/diary/days/12.html");
}

TEST_F(TidyDocumentTest, FaviconAddress) {
  struct Case {
    const char16_t* page;
    const char16_t* icon;
  } cases[] = {
      {u"example.com/path/page?q=1", u"http://example.com/favicon.ico"},
      {u"https://user:pw@host.example:8443/a/b?c#d", u"https://host.example:8443/favicon.ico"},
      {u"http://host.example:80/x", u"http://host.example/favicon.ico"},
      {u"http://", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8(Tidy::GetFaviconUrl(c.page)), Utf8(c.icon)) << Utf8(c.page);
}

TEST_F(TidyDocumentTest, PercentEncoding) {
  EXPECT_EQ(Tidy::PercentEncodeUtf8(u"a b"), u"%61%20%62");
  EXPECT_EQ(Tidy::PercentEncodeUtf8(u"\u00e9/"), u"%C3%A9%2F");
  EXPECT_EQ(Tidy::PercentEncodeUtf8(u""), u"");
}

TEST_F(TidyDocumentTest, HtmlFragments) {
  struct Case {
    const char16_t* html;
    const char16_t* base;
    const char16_t* result;
    std::vector<std::u16string> images;
  } cases[] = {
      {u"<p>Look <img src=\"/a.png\" alt=\"\"> here</p>", u"http://ex.org/n/1.html",
       u"<p>Look <img src=\"http://ex.org/a.png\" alt /> here</p>", {u"http://ex.org/a.png"}},
      {u"<p>Look <img src=\"/a.png\"> <img src=b.gif></p>", u"", u"<p>Look <img src=\"/a.png\"> <img src=b.gif></p>",
       {u"/a.png", u"b.gif"}},
      {u"Just text", u"http://ex.org/", u"Just text", {}},
      // Repaired by the library: left alone.
      {u"<p>Hello <b>bold</p><img src=\"x.png\">", u"http://ex.org/", u"<p>Hello <b>bold</p><img src=\"x.png\">", {}},
      {u"<p>a <blink>b</blink></p>", u"http://ex.org/", u"<p>a <blink>b</blink></p>", {}},
  };
  for (const Case& c : cases) {
    std::u16string html = c.html;
    CStringList images;
    Tidy::ProcessHtmlFragment(html, &images, c.base);
    EXPECT_EQ(Utf8(html), Utf8(c.result));
    EXPECT_EQ(images, c.images) << Utf8(c.html);
  }
  std::u16string html = u"<p><img src=\"/a.png\"></p>";
  Tidy::ProcessHtmlFragment(html, nullptr, u"http://ex.org/");
  EXPECT_EQ(html, u"<p><img src=\"/a.png\"></p>");
}

TEST_F(TidyDocumentTest, ImageSourcesInDocumentOrder) {
  ASSERT_EQ(Parse("<html><body><IMG SRC=\"1.png\"><div><img src=\"2.png\"><img alt=\"none\"></div>"
                  "<img src=\"3.png\"></body></html>"),
            1);
  CStringList list{u"0.png"};
  Tidy::CollectImageSources(doc_.GetRoot(), list);
  EXPECT_EQ(list, (CStringList{u"0.png", u"1.png", u"2.png", u"3.png"}));
}

class CountingDocument : public Document {
 public:
  bool OnReport(int level, int line, int column, const std::u16string& message) override {
    ++reports;
    if (level >= Tidy::kReportWarning && line > 0 && !message.empty()) ++located;
    return true;
  }
  int reports = 0;
  int located = 0;
};

TEST_F(TidyDocumentTest, ReportsReachTheHook) {
  CountingDocument doc;
  ASSERT_EQ(doc.Init(), 0);
  std::string bytes = Fixture("broken.html");
  ASSERT_EQ(Tidy::ParseBuffer(bytes.data(), bytes.size(), &doc, u"", u""), 1);
  EXPECT_GT(doc.reports, 0);
  EXPECT_GT(doc.located, 0);
  EXPECT_EQ(static_cast<std::size_t>(doc.reports), doc.GetReportCount());
  EXPECT_EQ(doc.GetLibraryStatus(), 1);

  CountingDocument clean;
  ASSERT_EQ(Tidy::ParseBuffer("<?xml version=\"1.0\"?><rss/>", 27, &clean, u"", u""), 1);
  EXPECT_EQ(clean.reports, 0);
  EXPECT_EQ(clean.GetLibraryStatus(), 0);
}

TEST_F(TidyDocumentTest, LocalFiles) {
  orvtest::WriteHostFile(device_.FsRoot() + "/feed.xml", Fixture("win1252.xml"));
  ASSERT_TRUE(Tidy::ParseLocalFile(u"\\feed.xml", &doc_, u""));
  EXPECT_EQ(TextAt(doc_.GetRoot(), {"rss", "channel", "item", "title"}), "Only 5\xE2\x82\xAC \xE2\x80\xA2 today");
  ASSERT_TRUE(Tidy::ParseLocalFile(u"\\FEED.XML", &doc_, u"koi8-r"));
  EXPECT_NE(TextAt(doc_.GetRoot(), {"rss", "channel", "item", "title"}), "Only 5\xE2\x82\xAC \xE2\x80\xA2 today");
  EXPECT_FALSE(Tidy::ParseLocalFile(u"\\missing.xml", &doc_, u""));
  EXPECT_FALSE(Tidy::ParseLocalFile(u"\\feed.xml", nullptr, u""));
  orvtest::WriteHostFile(device_.FsRoot() + "/empty.xml", "");
  EXPECT_FALSE(Tidy::ParseLocalFile(u"\\empty.xml", &doc_, u""));
}

TEST_F(TidyDocumentTest, DocumentMemory) {
  ASSERT_EQ(doc_.Init(), 0);
  EXPECT_EQ(doc_.GetMemAppData(), nullptr);
  void* block = doc_.MemAlloc(100);
  ASSERT_NE(block, nullptr);
  block = doc_.MemRealloc(block, 5000);
  ASSERT_NE(block, nullptr);
  std::size_t used = doc_.GetMemoryUsed();
  EXPECT_GE(used, 5000u);
  doc_.MemFree(block);
  doc_.MemFree(nullptr);
  EXPECT_EQ(doc_.GetMemoryUsed(), used - 5000);

  CPrivateHeap heap;
  Tidy::HeapDocumentPtr onHeap(Tidy::CreateDocumentOnHeap(heap));
  ASSERT_NE(onHeap, nullptr);
  EXPECT_GT(heap.GetBlockCount(), 1u);  // the object and the library document
  onHeap.reset();
  EXPECT_EQ(heap.GetUsedSize(), 0u);
}

}  // namespace
