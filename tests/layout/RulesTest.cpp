// Layout rules and the plug-in environment.
#include "core/VORegistry.h"
#include "core/FrameworkProperties.h"
#include "core/ProductStrings.h"
#include "layout/LayoutDocument.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

class RulesTest : public LayoutTest {
 protected:
  std::u16string Select(const std::u16string& rules) {
    CRefPtr<LayoutDocument> doc = ParseLayoutText(
        u"<Layouts><Layout Name=\"A\"/><Layout Name=\"B\"/><Layout Name=\"C\"/>" + rules + u"</Layouts>");
    CRefPtr<LayoutDefinition> layout = SelectLayout(*doc);
    return layout ? layout->GetName() : u"<none>";
  }
  void SetEnvironment(const char16_t* name, const char16_t* value) {
    CVORegistry key(GetSettingsRootKey(), (GetProductRegistryKey() + u"\\PluginEnvironment").c_str(), true, false,
                    plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetString(name, value));
  }
};

const char16_t kScreenRules[] =
    u"<Rules><ScreenCondition Width=\"240\" Height=\"320\"><UseLayout Name=\"A\"/></ScreenCondition>"
    u"<Default><UseLayout Name=\"B\"/></Default></Rules>";

TEST_F(RulesTest, ScreenConditionMatchesPixelsOrPocketPcUnits) {
  struct Case {
    int width, height, dpi;
    const char16_t* platform;
    const char16_t* expected;
  } cases[] = {
      {240, 320, 96, u"PocketPC", u"A"},  {480, 640, 192, u"PocketPC", u"A"},   {480, 640, 131, u"PocketPC", u"B"},
      {320, 240, 96, u"PocketPC", u"B"},  {480, 640, 192, u"Smartphone", u"B"}, {240, 320, 96, u"Smartphone", u"A"},
  };
  for (const Case& c : cases) {
    SetPlatform(c.platform);
    SetScreen(c.width, c.height, c.dpi);
    EXPECT_EQ(Select(kScreenRules), c.expected) << c.width << "x" << c.height << "@" << c.dpi;
  }
}

TEST_F(RulesTest, RuleOrderUseLayoutAndFallThrough) {
  // The first matching rule in document order decides.
  EXPECT_EQ(Select(u"<Rules><Default><UseLayout Name=\"A\"/></Default><Default><UseLayout Name=\"B\"/></Default></Rules>"),
            u"A");
  // UseLayout directly in Rules drops what stands before it and ends the level.
  EXPECT_EQ(Select(u"<Rules><Default><UseLayout Name=\"A\"/></Default><UseLayout Name=\"C\"/>"
                   u"<Default><UseLayout Name=\"B\"/></Default></Rules>"),
            u"C");
  // A rule that holds but selects nothing lets the next one decide.
  EXPECT_EQ(Select(u"<Rules><Default><Condition Name=\"nothing\" Value=\"x\"><UseLayout Name=\"A\"/></Condition>"
                   u"</Default><Default><UseLayout Name=\"B\"/></Default></Rules>"),
            u"B");
  // A name the document lacks selects nothing; so does a document without rules.
  EXPECT_EQ(Select(u"<Rules><Default><UseLayout Name=\"Z\"/></Default></Rules>"), u"<none>");
  EXPECT_EQ(Select(u""), u"<none>");
  // Names match ignoring case.
  EXPECT_EQ(Select(u"<Rules><UseLayout Name=\"c\"/></Rules>"), u"C");
}

TEST_F(RulesTest, PlatformConditionIgnoresCase) {
  const std::u16string rules =
      u"<Rules><PlatformCondition Platform=\"pocketpc\"><UseLayout Name=\"A\"/></PlatformCondition>"
      u"<PlatformCondition Platform=\"SMARTPHONE\"><UseLayout Name=\"B\"/></PlatformCondition></Rules>";
  EXPECT_EQ(Select(rules), u"A");
  SetPlatform(u"Smartphone");
  EXPECT_EQ(Select(rules), u"B");
}

TEST_F(RulesTest, EnvironmentConditionsReadTheRegistry) {
  const std::u16string rules =
      u"<Rules><Condition Name=\"Theme\" Value=\"Dark\"><UseLayout Name=\"A\"/></Condition>"
      u"<Condition Name=\"$cx\" Value=\"240\"><UseLayout Name=\"C\"/></Condition>"
      u"<Default><UseLayout Name=\"B\"/></Default></Rules>";
  EXPECT_EQ(Select(rules), u"B");
  SetEnvironment(u"Theme", u"dark");
  EXPECT_EQ(Select(rules), u"B");  // values compare with case
  SetEnvironment(u"Theme", u"Dark");
  EXPECT_EQ(Select(rules), u"A");  // read anew for every selection
}

TEST_F(RulesTest, EnvironmentHoldsEveryValueAndTheScreenSize) {
  SetEnvironment(u"First", u"1");
  SetEnvironment(std::u16string(300, u'n').c_str(), u"too long a name");
  SetEnvironment(u"Last", u"2");
  SetEnvironment(u"$cx", u"registry");
  {
    CVORegistry key(GetSettingsRootKey(), (GetProductRegistryKey() + u"\\PluginEnvironment").c_str(), true, false,
                    plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"Number", 5));
  }
  CPropertyList env = BuildPluginEnvironment();
  auto text = [&](const char16_t* name) {
    CPropertyList v = FindProperty(env, CPropertyName(std::u16string_view(name)));
    return v ? v->GetString() : std::u16string(u"<none>");
  };
  EXPECT_EQ(text(u"First"), u"1");
  EXPECT_EQ(text(u"Last"), u"2");  // a value after the over-long name is still read
  EXPECT_EQ(text(u"Number"), u"");
  // 480x640 at 192 dpi is a double-resolution screen.
  EXPECT_EQ(FindProperty(env, CPropertyName(std::u16string_view(u"$cx")))->GetInt(), 240);
  EXPECT_EQ(FindProperty(env, CPropertyName(std::u16string_view(u"$cy")))->GetInt(), 320);
  EXPECT_EQ(text(u"$cx"), u"");  // the computed value hides the registry's
}

}  // namespace
}  // namespace layouttest
