#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "core/Streams.h"
#include "core/VORegistry.h"
#include "database/ChannelOptions.h"
#include "database/GlobalOptions.h"
#include "platform/base/Time.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDevice.h"

namespace {

constexpr std::uint32_t kMissing = CVORegistry::kNoDefault;

std::uint32_t Stored(const char16_t* name) { return OpenSettingsKey().GetDWORD(name, kMissing); }

class OptionsTest : public orvtest::DeviceTest {
 protected:
  CGlobalOptions& options_ = GetGlobalOptions();
};

TEST_F(OptionsTest, DefaultsAreReturnedAndWritten) {
  CGlobalOptions& o = options_;
  CChannelDefaultOptions& d = GetChannelDefaultOptions();
  struct Case {
    const char16_t* name;
    std::function<std::int64_t()> get;
    std::int64_t expected;
  };
  const Case cases[] = {
      {u"HTMLTextSize", [&] { return o.GetHTMLTextSize(); }, 2},
      {u"ContentOnFlash", [&] { return o.GetContentOnFlash(); }, 1},
      {u"ShowArticleLocation", [&] { return o.GetShowArticleLocation(); }, 1},
      {u"DisableImagesInArticles", [&] { return d.GetDisableImagesInArticles(); }, 0},
      {u"AutoUpdate", [&] { return o.GetAutoUpdate(); }, 0},
      {u"DefaultArticlesAgeLimit", [&] { return d.GetArticlesAgeLimit(); }, 7},
      {u"DefaultArticlesCountLimit", [&] { return d.GetArticlesCountLimit(); }, 50},
      {u"DefaultManualArticlesUpdate", [&] { return d.GetManualArticlesUpdate(); }, 0},
      {u"IntegralPaging", [&] { return o.GetIntegralPaging(); }, 1},
      {u"DisableLeftRightButtons", [&] { return o.GetDisableLeftRightButtons(); }, 0},
      {u"TapIconsToUpdate", [&] { return o.GetTapIconsToUpdate(); }, 1},
      {u"StartUpdateForAddedChannels", [&] { return o.GetStartUpdateForAddedChannels(); }, 1},
      {u"UseFreeConnectionsOnly", [&] { return o.GetUseFreeConnectionsOnly(); }, 0},
      {u"ArticlesAgeLimitEnabled", [&] { return d.GetArticlesAgeLimitEnabled(); }, 0},
      {u"ArticlesCountLimitEnabled", [&] { return d.GetArticlesCountLimitEnabled(); }, 1},
      {u"RSSReportingAllowed", [&] { return o.GetRSSReportingAllowed(); }, 1},
      {u"DeveloperMode", [&] { return o.GetDeveloperMode(); }, 0},
      {u"RememberViewingLocation", [&] { return o.GetRememberViewingLocation(); }, 1},
      {u"AutoUpdateWhenCradled", [&] { return o.GetAutoUpdateWhenCradled(); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    ASSERT_EQ(Stored(c.name), kMissing);
    EXPECT_EQ(c.get(), c.expected);
    EXPECT_EQ(Stored(c.name), static_cast<std::uint32_t>(c.expected));
  }
}

TEST_F(OptionsTest, OptionNameTable) {
  ASSERT_EQ(std::size(kOptionNames), 25u);
  EXPECT_EQ(std::u16string(kOptionNames[0]), u"HTMLTextSize");
  EXPECT_EQ(std::u16string(kOptionNames[15]), u"ProxyEnabled");
  EXPECT_EQ(std::u16string(kOptionNames[24]), u"RememberViewingLocation");
}

TEST_F(OptionsTest, SettersStoreWithinBounds) {
  CGlobalOptions& o = options_;
  CChannelDefaultOptions& d = GetChannelDefaultOptions();
  struct Case {
    const char16_t* name;
    std::function<void(std::int32_t)> set;
    std::int32_t input;
    std::uint32_t stored;
  };
  const Case cases[] = {
      {u"HTMLTextSize", [&](std::int32_t v) { o.SetHTMLTextSize(v); }, 9, 4},
      {u"HTMLTextSize", [&](std::int32_t v) { o.SetHTMLTextSize(v); }, 3, 3},
      {u"DefaultArticlesAgeLimit", [&](std::int32_t v) { d.SetArticlesAgeLimit(v); }, 0, 1},
      {u"DefaultArticlesAgeLimit", [&](std::int32_t v) { d.SetArticlesAgeLimit(v); }, -5, 1},
      {u"DefaultArticlesAgeLimit", [&](std::int32_t v) { d.SetArticlesAgeLimit(v); }, 5000, 999},
      {u"DefaultArticlesAgeLimit", [&](std::int32_t v) { d.SetArticlesAgeLimit(v); }, 30, 30},
      {u"DefaultArticlesCountLimit", [&](std::int32_t v) { d.SetArticlesCountLimit(v); }, 0, 1},
      {u"DefaultArticlesCountLimit", [&](std::int32_t v) { d.SetArticlesCountLimit(v); }, 9000, 2500},
      {u"IntegralPaging", [&](std::int32_t v) { o.SetIntegralPaging(v); }, 5, 1},
      {u"DeveloperMode", [&](std::int32_t v) { o.SetDeveloperMode(v); }, 0, 0},
      {u"ShowArticleLocation", [&](std::int32_t v) { o.SetShowArticleLocation(v); }, 7, 1},
      {u"AutoUpdateWhenCradled", [&](std::int32_t v) { o.SetAutoUpdateWhenCradled(v); }, 2, 1},
      {u"AutoUpdate", [&](std::int32_t v) { o.SetAutoUpdate(v); }, 24, 24},
  };
  for (const Case& c : cases) {
    c.set(c.input);
    EXPECT_EQ(Stored(c.name), c.stored) << c.input;
  }
  EXPECT_EQ(d.GetArticlesCountLimit(), 2500);
}

TEST_F(OptionsTest, CachedValuesIgnoreLaterRegistryChangesUntilReset) {
  EXPECT_EQ(options_.GetIntegralPaging(), 1);
  OpenSettingsKey().SetDWORD(u"IntegralPaging", 0);
  OpenSettingsKey().SetDWORD(u"HTMLTextSize", 1);
  EXPECT_EQ(options_.GetIntegralPaging(), 1);  // cached
  EXPECT_EQ(options_.GetHTMLTextSize(), 1u);   // read each time
  options_.Reset();
  EXPECT_EQ(options_.GetIntegralPaging(), 0);
}

TEST_F(OptionsTest, AutoUpdateTime) {
  plat::ManualClock clock;
  plat::SetClock(&clock);
  // The default is now in local time, as "LastUpdateTime" is stored.
  const plat::FILETIME utc = plat::ULLToFileTime(clock.NowUtcFileTime());
  plat::FILETIME now{};
  ASSERT_TRUE(plat::FileTimeToLocalFileTime(&utc, &now));
  plat::FILETIME t = options_.GetAutoUpdateTime();
  EXPECT_EQ(plat::FileTimeToULL(t), plat::FileTimeToULL(now));

  {
    CVORegistry key = OpenSettingsKey();
    const plat::BYTE four[4] = {1, 2, 3, 4};
    ASSERT_EQ(plat::RegSetValueExW(key.GetKey(), u"AutoUpdateTime", 0, plat::REG_BINARY, four, 4), 0);
  }
  EXPECT_EQ(plat::FileTimeToULL(options_.GetAutoUpdateTime()), plat::FileTimeToULL(now));

  const plat::FILETIME stored = plat::ULLToFileTime(0x0123456789ABCDEFull);
  EXPECT_TRUE(options_.SetAutoUpdateTime(&stored));
  EXPECT_EQ(plat::FileTimeToULL(options_.GetAutoUpdateTime()), 0x0123456789ABCDEFull);
  EXPECT_FALSE(options_.SetAutoUpdateTime(nullptr));
  EXPECT_FALSE(options_.SetLastUpdateTime(nullptr));
  EXPECT_TRUE(options_.SetLastUpdateTime(&stored));
  plat::BYTE raw[8] = {};
  plat::DWORD size = sizeof(raw);
  ASSERT_TRUE(OpenSettingsKey().QueryValue(u"LastUpdateTime", raw, &size));
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(raw[0], 0xEF);
  EXPECT_EQ(raw[7], 0x01);
  plat::SetClock(nullptr);
}

TEST_F(OptionsTest, Roaming) {
  struct Case {
    std::uint32_t status;
    bool roaming;
  };
  const Case cases[] = {{0x200, true}, {0x1FF, false}, {0x3FF, true}, {0, false}};
  for (const Case& c : cases) {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", true, false, plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"Status", c.status));
    EXPECT_EQ(options_.IsRoaming(), c.roaming) << c.status;
  }
}

TEST_F(OptionsTest, FoldersAndOptionsByName) {
  EXPECT_EQ(options_.GetTemplatesFolder(), options_.GetProgramFolder() + u"\\Templates");
  EXPECT_EQ(GetChannelOptionsByName(u""), &GetChannelDefaultOptions());
  EXPECT_EQ(GetChannelOptionsByName(u"No such channel"), nullptr);

  EXPECT_TRUE(options_.SetContentFolder(u"\\My Documents\\News", u""));
  EXPECT_EQ(options_.GetContentFolder(), u"\\My Documents\\News");
  EXPECT_EQ(options_.GetContentOnFlash(), 0);
  EXPECT_EQ(OpenSettingsKey().GetString(u"ContentFolder", nullptr), u"\\My Documents\\News");
  EXPECT_FALSE(options_.SetContentFolder(u"\\Missing Card\\News", u"\\Missing Card"));
  EXPECT_EQ(options_.GetContentFolder(), u"\\My Documents\\News");
}

// ---- Channel options ------------------------------------------------------

class Owner : public IChannelOptionsOwner {
 public:
  int changes = 0;
  void OnChannelOptionsChanged() override { ++changes; }
};

TEST_F(OptionsTest, ChannelFollowsDefaultsWhileSwitchedOn) {
  CChannelOptions options;
  EXPECT_EQ(options.GetUseDefaultDownloadOptions(), 1);
  EXPECT_EQ(options.GetUseDefaultLimits(), 1);
  options.SetArticlesAgeLimit(30);
  options.SetManualArticlesUpdate(1);
  EXPECT_EQ(options.GetArticlesAgeLimit(), 7);
  EXPECT_EQ(options.GetManualArticlesUpdate(), 0);
  GetChannelDefaultOptions().SetArticlesAgeLimit(12);
  EXPECT_EQ(options.GetArticlesAgeLimit(), 12);
  options.SetUseDefaultLimits(0);
  EXPECT_EQ(options.GetArticlesAgeLimit(), 30);
  EXPECT_EQ(options.GetManualArticlesUpdate(), 0);  // download options still follow
  options.SetUseDefaultDownloadOptions(0);
  EXPECT_EQ(options.GetManualArticlesUpdate(), 1);
}

TEST_F(OptionsTest, ChannelSettersClampSetAllDoesNot) {
  CChannelOptions options;
  Owner owner;
  options.SetOwner(&owner);
  options.SetUseDefaultLimits(0);
  const std::pair<std::int32_t, std::int32_t> counts[] = {{0, 1}, {-3, 1}, {2500, 2500}, {2501, 2500}, {40, 40}};
  for (auto [in, out] : counts) {
    options.SetArticlesCountLimit(in);
    EXPECT_EQ(options.GetArticlesCountLimit(), out);
  }
  const std::pair<std::int32_t, std::int32_t> ages[] = {{0, 1}, {999, 999}, {1000, 999}};
  for (auto [in, out] : ages) {
    options.SetArticlesAgeLimit(in);
    EXPECT_EQ(options.GetArticlesAgeLimit(), out);
  }
  EXPECT_EQ(owner.changes, 0);
  ChannelOptionsRecord record;
  record.articlesCountLimit = 0;
  record.articlesAgeLimit = 5000;
  record.articlesCountLimitEnabled = 1;
  options.SetAll(record);
  EXPECT_EQ(owner.changes, 1);
  EXPECT_EQ(options.GetArticlesCountLimit(), 0);
  EXPECT_EQ(options.GetArticlesAgeLimit(), 5000);
  ChannelOptionsRecord back;
  options.SetUseDefaultLimits(1);  // GetAll gives the channel's own values anyway
  options.GetAll(back);
  EXPECT_EQ(back.articlesCountLimit, 0u);
  EXPECT_EQ(back.articlesCountLimitEnabled, 1);
}

TEST_F(OptionsTest, ChannelRecordIsFourteenBytes) {
  CChannelOptions options;
  options.SetUseDefaultDownloadOptions(0);
  options.SetManualArticlesUpdate(1);
  options.SetDisableImagesInArticles(0);
  options.SetUseDefaultLimits(1);
  options.SetArticlesAgeLimitEnabled(1);
  options.SetArticlesAgeLimit(0x123);
  options.SetArticlesCountLimitEnabled(0);
  options.SetArticlesCountLimit(0x456);
  CBufferWriter writer;
  ASSERT_TRUE(options.Write(writer));
  const std::vector<std::uint8_t> expected = {0, 1, 0, 1, 1, 0x23, 0x01, 0, 0, 0, 0x56, 0x04, 0, 0};
  ASSERT_EQ(writer.GetSize(), kChannelOptionsRecordSize);
  EXPECT_EQ(std::vector<std::uint8_t>(writer.GetData(), writer.GetData() + writer.GetSize()), expected);

  const std::vector<std::uint8_t> stored = {1, 0, 1, 0, 0, 0x10, 0x27, 0, 0, 1, 0, 0, 0, 0};  // 10000, 0
  CChannelOptions read;
  CBufferReader reader(stored.data(), stored.size());
  ASSERT_TRUE(read.Read(reader));
  read.SetUseDefaultLimits(0);
  EXPECT_EQ(read.GetUseDefaultDownloadOptions(), 1);
  EXPECT_EQ(read.GetArticlesAgeLimit(), 10000);  // no clamping on reading
  EXPECT_EQ(read.GetArticlesCountLimitEnabled(), 1);
  EXPECT_EQ(read.GetArticlesCountLimit(), 0);
}

TEST_F(OptionsTest, ShortChannelRecordFailsKeepingWhatWasRead) {
  const std::vector<std::uint8_t> stored = {0, 1, 1, 0, 1, 0x05, 0, 0, 0, 1, 0x07};
  CChannelOptions options;
  CBufferReader reader(stored.data(), stored.size());
  EXPECT_FALSE(options.Read(reader));
  EXPECT_EQ(options.GetUseDefaultLimits(), 0);
  EXPECT_EQ(options.GetArticlesAgeLimit(), 5);
  EXPECT_EQ(options.GetArticlesCountLimitEnabled(), 1);
  EXPECT_EQ(options.GetDisableImagesInArticles(), 1);
}

}  // namespace
