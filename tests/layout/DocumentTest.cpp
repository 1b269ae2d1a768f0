// Layout documents: schema, scaling from 96-dpi units, skins by screen
// resolution, inheritance through Extends, and the reader's errors.
#include "core/OrvException.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/ResourceValues.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

class DocumentTest : public LayoutTest {
 protected:
  CRefPtr<LayoutDocument> Parse(const std::u16string& text) { return ParseLayoutText(text); }
  plat::HRESULT ParseError(const std::u16string& text) {
    try {
      ParseLayoutText(text);
    } catch (const COrvException& e) {
      return e.GetCode();
    }
    return 0;
  }
  static const CPropertyList& Props(const LayoutDefinition& layout, std::size_t i) {
    return layout.GetEntries().at(i)->GetProperties();
  }
  static CPropertyRect Rect(const CPropertyList& list) { return FindProperty(list, kKeyBoundRect)->GetRect(); }
  static std::u16string Str(const CPropertyList& list, const CPropertyName& name) {
    CPropertyList v = FindProperty(list, name);
    return v ? v->GetString() : u"<none>";
  }
};

TEST_F(DocumentTest, BoundRectScalesWithTheScreenUnlessDontScale) {
  struct Case {
    int dpi;
    int dontScale;
    CPropertyRect expected;
  } cases[] = {
      {192, 0, {20, 40, 220, 100}},
      {192, 1, {10, 20, 110, 50}},
      {96, 0, {10, 20, 110, 50}},
      {131, 0, {14, 27, 150, 68}},  // MulDivRound(10,131,96)=14, (20)=27, (110)=150, (50)=68
  };
  for (const Case& c : cases) {
    SetScreen(480, 640, c.dpi);
    const std::u16string text = u"<Layouts><Layout Name=\"L\" DontScale=\"" +
                                std::u16string(c.dontScale ? u"1" : u"0") +
                                u"\"><Plugins><Plugin Name=\"p\" BoundRect=\"10,20,100,30\"/></Plugins></Layout></Layouts>";
    CRefPtr<LayoutDocument> doc = Parse(text);
    EXPECT_EQ(Rect(Props(*doc->GetSet().GetLayouts()[0], 0)), c.expected) << c.dpi << " " << c.dontScale;
  }
}

TEST_F(DocumentTest, NothingScalesOffPocketPc) {
  SetPlatform(u"Smartphone");
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\" BoundRect=\"10,20,100,30\">"
      u"<Center X=\"3\" Y=\"4\"/></Plugin></Plugins></Layout></Layouts>");
  const CPropertyList& list = Props(*doc->GetSet().GetLayouts()[0], 0);
  EXPECT_EQ(Rect(list), (CPropertyRect{10, 20, 110, 50}));
  EXPECT_EQ(FindProperty(list, kKeyCenter)->GetPair(), (CPropertyPair{3, 4}));
}

TEST_F(DocumentTest, ChildElementsOfAPlugin) {
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\" Class=\"Orv.LSP.Text\" ID=\"42\" BoldFont=\"N\">"
      u"<LeftTop X=\"1\" Y=\"2\"/><DialogRect X=\"0\" Y=\"0\" Width=\"5\" Height=\"6\"/>"
      u"<Int Name=\"n\" Value=\"3\"/><Int Name=\"n\" Value=\"9\"/><Int Name=\"bad\" Value=\"x\"/>"
      u"<Color Name=\"c\" Value=\"ff8000\"/><String Name=\"s\" Value=\"text\"/>"
      u"<Rect Name=\"r\" X=\"1\" Y=\"1\" Width=\"2\" Height=\"2\"/>"
      u"<DefaultFont Face=\"Tahoma\" HeightPxl=\"12\" Bold=\"y\" Color=\"123456\"/>"
      u"</Plugin></Plugins></Layout></Layouts>");
  const CPropertyList& list = Props(*doc->GetSet().GetLayouts()[0], 0);
  EXPECT_EQ(Str(list, kKeyName), u"p");
  EXPECT_EQ(Str(list, kKeyClass), u"Orv.LSP.Text");
  EXPECT_EQ(FindProperty(list, kKeyId)->GetInt(), 42);
  EXPECT_EQ(FindProperty(list, kKeyBoldFont)->GetInt(), 0);
  EXPECT_EQ(FindProperty(list, kKeyLeftTop)->GetPair(), (CPropertyPair{2, 4}));
  EXPECT_EQ(FindProperty(list, kKeyDialogRect)->GetRect(), (CPropertyRect{0, 0, 10, 12}));
  std::int32_t n = 0;
  EXPECT_TRUE(GetIntProperty(list, CPropertyName(std::u16string_view(u"n")), n));
  EXPECT_EQ(n, 9);  // the later declaration wins
  EXPECT_FALSE(FindProperty(list, CPropertyName(std::u16string_view(u"bad"))));
  EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(u"c")))->GetInt(), 0xff8000);
  EXPECT_EQ(Str(list, CPropertyName(std::u16string_view(u"s"))), u"text");
  EXPECT_EQ(FindProperty(list, kKeyTextColor)->GetInt(), 0x123456);
  plat::LOGFONTW declared{}, bold{}, normal{};
  ASSERT_TRUE(GetFontOf(FindProperty(list, kKeyDefaultFont).Get()));
  plat::GetObjectW(GetFontOf(FindProperty(list, kKeyDefaultFont).Get())->Get(), sizeof declared, &declared);
  plat::GetObjectW(GetFontOf(FindProperty(list, kKeyBoldDefaultFont).Get())->Get(), sizeof bold, &bold);
  plat::GetObjectW(GetFontOf(FindProperty(list, kKeyNormalDefaultFont).Get())->Get(), sizeof normal, &normal);
  EXPECT_EQ(declared.lfHeight, -24);  // 12 at 192 dpi
  EXPECT_EQ(declared.lfWeight, 700);
  EXPECT_EQ(bold.lfWeight, 700);
  EXPECT_EQ(normal.lfWeight, 400);
}

TEST_F(DocumentTest, ScrollModeValues) {
  struct Case {
    const char16_t* value;
    int expected;
  } cases[] = {{u"auto", 2}, {u"ON", 1}, {u"5", 1}, {u"0", 0}, {u"off", 0}};
  for (const Case& c : cases) {
    CRefPtr<LayoutDocument> doc = Parse(u"<Layouts><General><ScrollY Value=\"" + std::u16string(c.value) +
                                        u"\"/></General><Layout Name=\"L\"/></Layouts>");
    EXPECT_EQ(doc->GetSet().GetLayouts()[0]->GetScrollMode(), c.expected) << std::string(c.value, c.value + 1);
  }
  EXPECT_EQ(Parse(u"<Layouts><General><ScrollY/></General><Layout Name=\"L\"/></Layouts>")
                ->GetSet()
                .GetLayouts()[0]
                ->GetScrollMode(),
            0);
}

TEST_F(DocumentTest, SkinBandsFollowTheVerticalDpi) {
  struct Case {
    int dpi;
    int dontScale;
    const char16_t* skin;
  } cases[] = {{96, 0, u"plain"},  {123, 0, u"plain"}, {124, 0, u"middle"}, {131, 0, u"middle"}, {155, 0, u"middle"},
               {156, 0, u"plain"}, {187, 0, u"plain"}, {188, 0, u"double"}, {192, 0, u"double"}, {219, 0, u"double"},
               {220, 0, u"plain"}, {192, 1, u"plain"}};
  for (const Case& c : cases) {
    SetScreen(480, 640, c.dpi);
    const std::u16string text =
        u"<Layouts><Layout Name=\"L\" DontScale=\"" + std::u16string(c.dontScale ? u"1" : u"0") +
        u"\"><Plugins><Plugin Name=\"p\" Skin=\"plain\" MiddleSkin=\"middle\" DoubleSkin=\"double\"/>"
        u"<Plugin Name=\"q\" Skin=\"plain\"/></Plugins></Layout></Layouts>";
    CRefPtr<LayoutDocument> doc = Parse(text);
    EXPECT_EQ(Str(Props(*doc->GetSet().GetLayouts()[0], 0), kKeySkin), c.skin) << c.dpi;
    EXPECT_EQ(Str(Props(*doc->GetSet().GetLayouts()[0], 1), kKeySkin), u"plain") << c.dpi;
  }
}

TEST_F(DocumentTest, ExtendsInheritsAndLeavesTheBaseUnchanged) {
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><General Skin=\"docskin\"/>"
      u"<Layout Name=\"Base\"><Plugins><Plugin Name=\"a\" Class=\"Orv.LSP.Text\"/><Plugin Name=\"b\" Class=\"B\"/>"
      u"</Plugins></Layout>"
      u"<Layout Name=\"Derived\"><General Skin=\"derivedskin\"/><Plugins Extends=\"base\">"
      u"<Plugin Name=\"A\" Class=\"Orv.LSP.SingleLineText\"/><Plugin Name=\"c\" Class=\"C\"/></Plugins></Layout>"
      u"<Layout Name=\"Early\"><Plugins Extends=\"Later\"/></Layout><Layout Name=\"Later\"><Plugins>"
      u"<Plugin Name=\"x\"/></Plugins></Layout></Layouts>");
  const auto& layouts = doc->GetSet().GetLayouts();
  const LayoutDefinition& base = *layouts[0];
  const LayoutDefinition& derived = *layouts[1];
  ASSERT_EQ(base.GetEntries().size(), 2u);
  ASSERT_EQ(derived.GetEntries().size(), 3u);
  // The redeclared entry has the new class in the derived layout only.
  EXPECT_EQ(Str(Props(derived, 0), kKeyClass), u"Orv.LSP.SingleLineText");
  EXPECT_EQ(Str(Props(base, 0), kKeyClass), u"Orv.LSP.Text");
  // The derived layout's General skin reaches every entry, inherited ones too;
  // the base keeps the document's skin.
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Str(Props(derived, i), kKeySkin), u"derivedskin") << i;
  EXPECT_EQ(Str(Props(base, 0), kKeySkin), u"docskin");
  EXPECT_EQ(Str(Props(base, 1), kKeySkin), u"docskin");
  EXPECT_EQ(Str(Props(base, 1), kKeyClass), u"B");
  EXPECT_EQ(Str(Props(derived, 1), kKeyClass), u"B");
  // A layout extending one that comes later inherits nothing.
  EXPECT_TRUE(layouts[2]->GetEntries().empty());
}

TEST_F(DocumentTest, LayoutGeneralOverridesThePluginsOwnValues) {
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><Layout Name=\"L\"><General Skin=\"general\"><Int Name=\"v\" Value=\"1\"/></General>"
      u"<Plugins><Plugin Name=\"p\" Skin=\"own\"><Int Name=\"v\" Value=\"2\"/><Int Name=\"w\" Value=\"3\"/></Plugin>"
      u"</Plugins></Layout></Layouts>");
  const CPropertyList& list = Props(*doc->GetSet().GetLayouts()[0], 0);
  EXPECT_EQ(Str(list, kKeySkin), u"general");
  EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(u"v")))->GetInt(), 1);
  EXPECT_EQ(FindProperty(list, CPropertyName(std::u16string_view(u"w")))->GetInt(), 3);
}

TEST_F(DocumentTest, DuplicateLayoutNamesFindTheLaterOne) {
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><Layout Name=\"Dup\"><Plugins><Plugin Name=\"first\"/></Plugins></Layout>"
      u"<Layout Name=\"dup\"><Plugins><Plugin Name=\"second\"/></Plugins></Layout>"
      u"<Layout Name=\"D\"><Plugins Extends=\"DUP\"/></Layout></Layouts>");
  CRefPtr<LayoutDefinition> found = FindLayoutByName(doc->GetSet(), u"DUP");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->GetEntries()[0]->GetName(), u"second");
  EXPECT_EQ(doc->GetSet().GetLayouts()[2]->GetEntries()[0]->GetName(), u"second");
}

TEST_F(DocumentTest, BadDocumentsFailWithTheLayoutError) {
  const char16_t* bad[] = {
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\"><Font Name=\"f\" Face=\"abcdefghijklmnopqrstuvwxyzabcdef\" HeightPxl=\"10\"/></Plugin></Plugins></Layout></Layouts>",
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\"><Font Name=\"f\" Face=\"Tahoma\" HeightPxl=\"0\"/></Plugin></Plugins></Layout></Layouts>",
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\"><DefaultFont Face=\"Tahoma\" HeightPxl=\"10\"/></Plugin></Plugins></Layout></Layouts>",
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\" BoundRect=\"1,2,3\"/></Plugins></Layout></Layouts>",
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\"><Center X=\"1\"/></Plugin></Plugins></Layout></Layouts>",
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Name=\"p\"><Point Name=\"q\" X=\"a\" Y=\"1\"/></Plugin></Plugins></Layout></Layouts>",
      u"<Other/>",
      u"<Layouts></Layouts> trailing text",
  };
  for (const char16_t* text : bad) EXPECT_EQ(ParseError(text), ORV_E_LAYOUT) << std::u16string(text).size();
  // A font of 31 characters and height 1 is fine; a plug-in without a name is skipped.
  CRefPtr<LayoutDocument> doc = Parse(
      u"<Layouts><Layout Name=\"L\"><Plugins><Plugin Class=\"x\"/><Plugin Name=\"p\"><Font Name=\"f\" "
      u"Face=\"abcdefghijklmnopqrstuvwxyzabcde\" HeightPxl=\"1\"/></Plugin></Plugins></Layout></Layouts>");
  EXPECT_EQ(doc->GetSet().GetLayouts()[0]->GetEntries().size(), 1u);
}

TEST_F(DocumentTest, FailureReportsTheLineOfTheElement) {
  LayoutParseFailure failure;
  EXPECT_FALSE(ParseLayoutTextReporting(u"<Layouts>\n<Layout Name=\"L\">\n<Plugins>\n\n<Plugin Name=\"p\" BoundRect=\"1\"/>"
                                        u"\n</Plugins></Layout></Layouts>",
                                        failure));
  EXPECT_EQ(failure.code, ORV_E_LAYOUT);
  EXPECT_EQ(failure.line, 5);
}

TEST_F(DocumentTest, NumbersReadAsTheCScannersDo) {
  std::int32_t v = 0;
  EXPECT_TRUE(ScanDecimal(u"  -12abc", v));
  EXPECT_EQ(v, -12);
  EXPECT_FALSE(ScanDecimal(u"x1", v));
  EXPECT_FALSE(ScanDecimal(u"", v));
  EXPECT_TRUE(ScanHex(u"0xFF", v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(ScanHex(u"a0b0c0", v));
  EXPECT_EQ(v, 0xa0b0c0);
  EXPECT_FALSE(ScanHex(u"g", v));
}

}  // namespace
}  // namespace layouttest
