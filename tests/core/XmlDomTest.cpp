// The forgiving in-place XML reader: a table of documents, lookups, wildcards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/XmlDom.h"
#include "tests/support/TempDevice.h"

namespace {

class XmlDomTest : public orvtest::DeviceTest {};

std::u16string Str(const char16_t* s) { return s ? std::u16string(s) : std::u16string(u"<null>"); }

// A compact picture of a tree: element name(attributes){children}, "text",
// CDATA:value, #comment, ?instruction(attributes), DOCTYPE(...)=value{...},
// !type:name=value for declarations.
std::u16string Dump(const CXmlNode& node) {
  std::u16string out;
  const std::int32_t type = node.GetType();
  auto attributes = [&] {
    if (!node.GetAttributeCount()) return;
    out += u"(";
    for (std::uint32_t i = 0; i < node.GetAttributeCount(); ++i) {
      const CXmlNode a = node.GetAttribute(i);
      if (i) out += u" ";
      if (a.GetName()) out += a.GetName();
      if (a.GetAttributeValue()) out += u"=" + std::u16string(a.GetAttributeValue());
    }
    out += u")";
  };
  auto children = [&] {
    if (!node.GetChildCount()) return;
    out += u"{";
    for (std::uint32_t i = 0; i < node.GetChildCount(); ++i) {
      if (i) out += u" ";
      out += Dump(node.GetChild(i));
    }
    out += u"}";
  };
  switch (type) {
    case XML_NODE_ELEMENT:
      out += Str(node.GetName());
      attributes();
      children();
      break;
    case XML_NODE_TEXT:
      out += u"\"" + Str(node.GetValue()) + u"\"";
      break;
    case XML_NODE_CDATA:
      out += u"CDATA:" + Str(node.GetValue());
      break;
    case XML_NODE_COMMENT:
      out += u"#" + Str(node.GetValue());
      break;
    case XML_NODE_PI:
      out += u"?" + Str(node.GetName());
      attributes();
      break;
    case XML_NODE_INCLUDE:
      out += u"INCLUDE:" + Str(node.GetValue());
      break;
    case XML_NODE_DOCTYPE:
      out += u"DOCTYPE";
      attributes();
      if (node.GetValue() && !node.GetChildCount()) out += u"=" + Str(node.GetValue());
      children();
      break;
    default:
      out += u"!" + std::u16string(1, static_cast<char16_t>(u'0' + type % 10)) + u":" + Str(node.GetName()) + u"=" +
             Str(node.GetValue());
      break;
  }
  return out;
}

std::u16string DumpDocument(const CXmlDocument& doc) {
  std::u16string out;
  const CXmlNode root = doc.GetRoot();
  for (std::uint32_t i = 0; i < root.GetChildCount(); ++i) {
    if (i) out += u" ";
    out += Dump(root.GetChild(i));
  }
  return out;
}

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

constexpr std::int32_t kDefault = XML_OPT_DEFAULT;

TEST_F(XmlDomTest, DocumentsParseIntoTheExpectedTrees) {
  struct Case {
    const char* what;
    std::u16string text;
    std::int32_t options;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"attribute and text", u"<a x='1'>t</a>", kDefault, u"a(x=1){\"t\"}"},
      {"bare attribute before another", u"<a y x=\"2\"/>", kDefault, u"a(y x=2)"},
      {"spaces around =", u"<a x = \"2\" >v</a>", kDefault, u"a(x=2){\"v\"}"},
      {"nesting", u"<a><b><c/></b><d>x</d></a>", kDefault, u"a{b{c} d{\"x\"}}"},
      {"mismatched end tag closes the current element", u"<a><b></c><d/></a>", kDefault, u"a{b d}"},
      {"text after an empty tag without attributes is dropped", u"<r><e/>gone<f x=\"1\"/>kept</r>", kDefault,
       u"r{e f(x=1) \"kept\"}"},
      {"text after an end tag that follows text is kept", u"<r><b>x</b> y <c/>z</r>", kDefault,
       u"r{b{\"x\"} \"y\" c}"},
      {"text trimmed and normalised by default", u"<a>  t \n u  </a>", kDefault, u"a{\"t u\"}"},
      {"trimmed only", u"<a>  t \n u  </a>", kDefault & ~XML_OPT_NORMALIZE, u"a{\"t \n u\"}"},
      {"text kept whole without trimming", u"<a>  t </a>", kDefault & ~XML_OPT_TRIM_TEXT, u"a{\"  t \"}"},
      {"whitespace-only text makes no node", u"<a>  \n\t </a>", kDefault & ~XML_OPT_TRIM_TEXT, u"a"},
      {"attribute values normalised", u"<a v=\"  p   q \"/>", kDefault, u"a(v=p q)"},
      {"attribute values untrimmed", u"<a v=\"  p   q \"/>", kDefault & ~XML_OPT_TRIM_ATTRIBUTES,
       u"a(v=  p   q )"},
      {"references stay as written", u"<a v=\"&amp;x\">&lt;&#65;</a>", kDefault, u"a(v=&amp;x){\"&lt;&#65;\"}"},
      {"CDATA", u"<a><![CDATA[ <raw> & ]]>tail</a>", kDefault, u"a{CDATA:<raw> & \"tail\"}"},
      {"CDATA skipped without its option", u"<a><![CDATA[x]]>tail</a>", kDefault & ~XML_OPT_CDATA,
       u"a{\"tail\"}"},
      {"comment", u"<a><!-- note -->after</a>", kDefault, u"a{#note \"after\"}"},
      {"comment skipped", u"<a><!-- note --><b/></a>", kDefault & ~XML_OPT_COMMENTS, u"a{b}"},
      {"unterminated comment ends parsing", u"<a><b/><!-- open <c/>", kDefault, u"a{b}"},
      {"processing instruction", u"<?xml version=\"1.0\"?><r/>", kDefault, u"?xml(version=1.0) r"},
      {"instruction skipped", u"<?xml version=\"1.0\"?><r/>", kDefault & ~XML_OPT_PI, u"r"},
      {"declaration", u"<!ELEMENT br EMPTY><a/>", kDefault, u"!1:br=EMPTY a"},
      {"entity declaration keeps > in quotes", u"<!ENTITY e \"a>b\"><a/>", kDefault, u"!9:e=\"a>b\" a"},
      {"parameter entity name", u"<!ENTITY % p 'v'><a/>", kDefault, u"!9:% p='v' a"},
      {"DOCTYPE ends parsing after its subset by default",
       u"<!DOCTYPE html PUBLIC \"-//x\" [<!ENTITY e \"v\">]><html/>", kDefault,
       u"DOCTYPE(html=html PUBLIC=PUBLIC =-//x){!9:e=\"v\"}"},
      {"DOCTYPE subset parsed and parsing goes on",
       u"<!DOCTYPE html [<!ENTITY e \"v\">]><html/>", kDefault & ~XML_OPT_STOP_AFTER_SUBSET,
       u"DOCTYPE(html=html){!9:e=\"v\"} html"},
      {"words after the subset are skipped", u"<!DOCTYPE d [<!X>] extra 'q'><d/>",
       kDefault & ~XML_OPT_STOP_AFTER_SUBSET, u"DOCTYPE(d=d){!9:<null>=<null>} d"},
      {"DOCTYPE subset kept as text", u"<!DOCTYPE d [ <!X> ]><d/>",
       kDefault & ~(XML_OPT_STOP_AFTER_SUBSET | XML_OPT_PARSE_SUBSET), u"DOCTYPE(d=d)=<!X> d"},
      {"DOCTYPE without node", u"<!DOCTYPE d [ <!X> ]><d/>",
       kDefault & ~(XML_OPT_STOP_AFTER_SUBSET | XML_OPT_DOCTYPE), u"d"},
      {"unquoted value", u"<a x=1 y>text</a>", kDefault, u"a(x=1 y){\"text\"}"},
      {"unquoted value before />", u"<a x=1/><b/>", kDefault, u"a(x=1) b"},
      {"cut-off start tag", u"<a", kDefault, u"a"},
      {"cut-off attribute value", u"<a x=\"open", kDefault, u"a(x=open)"},
      {"stray end tags at the top", u"</a></b><c/>", kDefault, u"c"},
      {"no markup", u"<< >> < a", kDefault, u""},
      {"empty text", u"", kDefault, u""},
      {"wide characters", u"<\u00e9l \u00e4=\"\u4e2d\">\U0001F600</\u00e9l>", kDefault,
       u"\u00e9l(\u00e4=\u4e2d){\"\U0001F600\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string text = c.text;
    CXmlDocument doc;
    ASSERT_NE(nullptr, XmlDom::ParseDocument(doc, text.data(), c.options));
    EXPECT_EQ(Narrow(c.expected), Narrow(DumpDocument(doc)));
    EXPECT_EQ(c.expected, DumpDocument(doc));
  }
}

TEST_F(XmlDomTest, NamesAndValuesPointIntoTheText) {
  std::u16string text = u"<item name=\"x\">v</item>";
  CXmlDocument doc;
  XmlDom::ParseDocument(doc, text.data());
  const CXmlNode item = doc.GetRoot().GetChild(0);
  const char16_t* begin = text.data();
  const char16_t* end = begin + text.size();
  ASSERT_TRUE(item.IsValid());
  EXPECT_GE(item.GetName(), begin);
  EXPECT_LT(item.GetName(), end);
  EXPECT_EQ(begin + 1, item.GetName());
  const CXmlNode attribute = item.GetAttribute(0);
  EXPECT_GE(attribute.GetAttributeValue(), begin);
  EXPECT_LT(attribute.GetAttributeValue(), end);
}

TEST_F(XmlDomTest, HandlesAnswerLikeTheirNodes) {
  std::u16string text = u"<Font Bold=\"y\" BoldFont=\"Tahoma\" size=\"8\"><x/></Font>";
  CXmlDocument doc;
  ASSERT_NE(nullptr, XmlDom::ParseDocument(doc, text.data()));
  EXPECT_EQ(XML_NODE_DOCUMENT, doc.GetRoot().GetType());
  EXPECT_TRUE(doc.GetRoot().IsValid());
  CXmlNode font = doc.GetRoot().GetChild(0);
  ASSERT_TRUE(font.IsValid());
  EXPECT_EQ(1u, font.GetChildCount());
  const CXmlNode past = font.GetChild(1);
  EXPECT_FALSE(past.IsValid());
  EXPECT_EQ(XML_NODE_NONE, past.GetType());
  EXPECT_EQ(nullptr, past.GetName());
  EXPECT_EQ(0u, past.GetChildCount());
  EXPECT_EQ(-1, past.FindAttribute(u"*"));
  EXPECT_FALSE(past.FindDescendant(u"*").IsValid());

  EXPECT_EQ(0, font.FindAttribute(u"B*"));
  EXPECT_EQ(1, font.FindAttribute(u"B*F*"));
  EXPECT_EQ(-1, font.FindAttribute(u"b*"));
  EXPECT_EQ(-1, font.FindAttribute(nullptr));
  ASSERT_NE(nullptr, font.FindAttributeRecord(u"size"));
  EXPECT_EQ(u"8", Str(font.FindAttributeRecord(u"size")->value));
  EXPECT_EQ(nullptr, font.FindAttributeRecord(u"Size"));

  // An existing attribute is found; a missing one is added with the empty value.
  EXPECT_EQ(u"y", Str(font.GetOrAddAttribute(u"Bold").GetAttributeValue()));
  const CXmlNode added = font.GetOrAddAttribute(u"Color");
  EXPECT_TRUE(added.IsValid());
  EXPECT_EQ(u"", Str(added.GetAttributeValue()));
  EXPECT_EQ(4u, font.GetAttributeCount());
  const CXmlNode appended = font.AppendAttribute(u"Face", u"Sans");
  EXPECT_EQ(u"Sans", Str(appended.GetAttributeValue()));
  EXPECT_EQ(5u, font.GetAttributeCount());
  EXPECT_TRUE(font.AppendAttribute(nullptr, u"v").IsEmpty());
  EXPECT_TRUE(font.AppendAttribute(u"n", nullptr).IsEmpty());
  EXPECT_EQ(nullptr, font.GetAttributeValue());  // not an attribute handle
}

TEST_F(XmlDomTest, FindDescendantSearchesDepthFirstInDocumentOrder) {
  std::u16string text =
      u"<root><a id=\"1\"><x id=\"2\"><y id=\"3\"/></x></a><x id=\"4\"/><b id=\"6\"><y id=\"5\"/></b></root>";
  CXmlDocument doc;
  XmlDom::ParseDocument(doc, text.data());
  const CXmlNode root = doc.GetRoot();
  struct Case {
    const char16_t* pattern;
    const char16_t* id;
  };
  const Case cases[] = {{u"x", u"2"}, {u"y", u"3"}, {u"?", u"1"}, {u"[by]", u"3"}, {u"b", u"6"}, {u"z", nullptr}};
  for (const auto& c : cases) {
    const CXmlNode found = root.FindDescendant(c.pattern);
    if (!c.id) {
      EXPECT_FALSE(found.IsValid()) << Narrow(c.pattern);
      continue;
    }
    ASSERT_TRUE(found.IsValid()) << Narrow(c.pattern);
    EXPECT_EQ(Str(c.id), Str(found.FindAttributeRecord(u"id")->value)) << Narrow(c.pattern);
  }
  // Below a node only: the second x is not below the first a.
  const CXmlNode a = root.FindDescendant(u"a");
  EXPECT_FALSE(a.FindDescendant(u"b").IsValid());
  EXPECT_FALSE(root.FindDescendant(nullptr).IsValid());
}

TEST_F(XmlDomTest, WildcardsMatchWholeNames) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  };
  const Case cases[] = {
      {u"abc", u"abc", true},       {u"abc", u"abcd", false},     {u"abc", u"Abc", false},
      {u"*", u"", true},            {u"*", u"anything", true},    {u"a*", u"a", true},
      {u"a*c", u"abbbc", true},     {u"a*c", u"abbbd", false},    {u"*?", u"", false},
      {u"*??", u"ab", true},        {u"*??", u"a", false},        {u"?", u"", false},
      {u"a?c", u"abc", true},       {u"a**c", u"ac", true},       {u"a*b*c", u"axxbyyc", true},
      {u"[abc]x", u"bx", true},     {u"[abc]x", u"dx", false},    {u"[!abc]x", u"dx", true},
      {u"[!abc]x", u"ax", false},   {u"[a-c]", u"b", true},       {u"[a-c]", u"d", false},
      {u"[c-a]", u"b", false},      {u"[c-a]", u"-", true},       {u"[-a]", u"-", true},
      {u"[a-]", u"-", true},        {u"[]a]", u"]", true},        {u"[!]a]", u"]", false},
      {u"[!]a]", u"b", true},       {u"[ab", u"[ab", true},       {u"*[0-9]", u"Item7", true},
      {u"*[0-9]", u"Item", false},  {u"B*", u"BoldFont", true},   {u"b*", u"BoldFont", false},
      {u"*a*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.match, MatchWildcard(c.pattern, c.name)) << Narrow(c.pattern) << " vs " << Narrow(c.name);
  }
  EXPECT_FALSE(MatchWildcard(nullptr, u"a"));
  EXPECT_FALSE(MatchWildcard(u"a", nullptr));
}

TEST_F(XmlDomTest, DepthBombStopsAtTheNestingLimit) {
  std::u16string text;
  for (int i = 0; i < 200000; ++i) text += u"<a>";
  CXmlDocument doc;
  ASSERT_NE(nullptr, XmlDom::ParseDocument(doc, text.data()));
  std::uint32_t depth = 0;
  for (CXmlNode n = doc.GetRoot().GetChild(0); n.IsValid(); n = n.GetChild(0)) ++depth;
  EXPECT_EQ(kXmlMaxDepth, depth);
  // Lookups over the deep tree finish, and the tree is freed when doc goes.
  EXPECT_FALSE(doc.GetRoot().FindDescendant(u"b").IsValid());
}

TEST_F(XmlDomTest, ManySiblingsAndDeepButClosedNesting) {
  std::u16string text = u"<r>";
  for (int i = 0; i < 5000; ++i) text += u"<i v=\"1\"/>";
  for (int i = 0; i < 1000; ++i) text += u"<d>";
  for (int i = 0; i < 1000; ++i) text += u"</d>";
  text += u"<last/></r>";
  CXmlDocument doc;
  XmlDom::ParseDocument(doc, text.data());
  const CXmlNode r = doc.GetRoot().GetChild(0);
  ASSERT_EQ(5002u, r.GetChildCount());
  EXPECT_EQ(u"last", Str(r.GetChild(5001).GetName()));
}

TEST_F(XmlDomTest, ParseEntryClearsAndKeepsOptions) {
  CXmlDocument doc;
  EXPECT_EQ(nullptr, XmlDom::ParseDocument(doc, nullptr));
  std::u16string first = u"<one/>";
  XmlDom::ParseDocument(doc, first.data(), kDefault & ~XML_OPT_COMMENTS);
  EXPECT_EQ(kDefault & ~XML_OPT_COMMENTS, doc.GetOptions());
  std::u16string second = u"<!--c--><two/>";
  char16_t* stop = XmlDom::ParseDocument(doc, second.data(), XML_OPT_KEEP);
  EXPECT_EQ(second.data() + second.size(), stop);
  EXPECT_EQ(u"two", DumpDocument(doc));  // the first tree is gone, comments still off
  doc.Clear();
  EXPECT_EQ(0u, doc.GetRoot().GetChildCount());
}

TEST_F(XmlDomTest, AppendWideStringGrowsAHeapString) {
  char16_t* buffer = nullptr;
  ASSERT_TRUE(AppendWideString(buffer, u"ab"));
  ASSERT_TRUE(AppendWideString(buffer, u""));
  ASSERT_TRUE(AppendWideString(buffer, u"c\u00e9"));
  EXPECT_EQ(u"abc\u00e9", std::u16string(buffer));
  std::free(buffer);
}

}  // namespace
