#include <gtest/gtest.h>

#include <string>

#include "core/ProductStrings.h"
#include "tests/support/TempDevice.h"

namespace {

class ProductStringsTest : public orvtest::DeviceTest {};

TEST_F(ProductStringsTest, NamesComposedFromTheBrand) {
  struct Case {
    std::u16string (*get)();
    const char16_t* expected;
  } cases[] = {
      {&GetBrandName, u"Orv"},
      {&GetCompanyName, u"Orv Software House"},
      {&GetProductName, u"Orv News"},
      {&GetApplicationTitle, u"Orv News"},
      {&GetInstanceGuid, u"A377667C-B302-4767-B9C5-EC5210805251"},
      {&GetExeName, u"Orv News.exe"},
      {&GetLogFileName, u"Orv News.exe_log.txt"},
      {&GetInstallMarkerName, u"\\OrvNewsInstallation.txt"},
      {&GetCompanyRegistryKey, u"SOFTWARE\\Orv Software House"},
      {&GetProductRegistryKey, u"SOFTWARE\\Orv Software House\\Orv News"},
      {&GetHelpFileUrl, u"file:OrvNews.htm"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.get(), c.expected);
}

TEST_F(ProductStringsTest, ApplyProductNameReplacesEveryOccurrence) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"About Orv Brevant", u"About Orv News"},
      {u"Orv Brevant and Orv Brevant again: Orv Brevant", u"Orv News and Orv News again: Orv News"},
      {u"Orv BrevantOrv Brevant", u"Orv NewsOrv News"},
      {u"No product here", u"No product here"},
      {u"Orv Breva", u"Orv Breva"},
      {u"orv brevant", u"orv brevant"},  // case matters
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyProductName(c.in), c.out);
}

}  // namespace
