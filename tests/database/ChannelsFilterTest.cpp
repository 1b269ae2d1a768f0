// The channel list's rows following the channel set, and the catalogue
// languages with the user's choice of them.
#include "database/ChannelsFilter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "database/ChannelLanguages.h"
#include "database/ChannelSet.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "tests/support/TempDevice.h"

namespace {

struct RowsLog : IChannelsFilterListener {
  int wholeRows = 0;
  std::vector<int> rows;
  void OnChannelsChanged() override { ++wholeRows; }
  void OnChannelChanged(int index) override { rows.push_back(index); }
};

class ChannelsFilterTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    set_ = GetChannelSet();
    lock_ = std::make_unique<CSyncLock>(set_, u"ChannelsFilterTest");
    ASSERT_TRUE(set_->Open());
  }
  void TearDown() override {
    // The device goes with the test: the process's set lets go of its
    // channels, so the next test's Open reads that test's own device.
    set_->RemoveAll();
    lock_.reset();
  }

  std::vector<std::u16string> Names(CChannelsFilter& filter) {
    std::vector<std::u16string> names;
    ChannelInfo row;
    for (int i = 0; i < filter.GetCount(); ++i) {
      if (filter.GetEntry(i, row)) names.push_back(row.name);
    }
    return names;
  }
  ChannelInfo Row(CChannelsFilter& filter, const std::u16string& name) {
    ChannelInfo row;
    EXPECT_TRUE(filter.GetEntry(filter.FindByName(name), row)) << plat::Utf16ToUtf8(name);
    return row;
  }

  CChannelSet* set_ = nullptr;
  std::unique_ptr<CSyncLock> lock_;
};

TEST_F(ChannelsFilterTest, RowsFollowTheChannelSet) {
  IChannel* beta = set_->Add(u"beta");
  IChannel* alpha = set_->Add(u"Alpha");
  ASSERT_TRUE(alpha && beta);
  beta->SetProperty(kPropType, kChannelTypeScript);
  alpha->SetProperty(kPropType, kChannelTypeRss);

  CChannelsFilter filter(set_);
  RowsLog log;
  ASSERT_TRUE(filter.AddListener(&log));
  EXPECT_EQ(Names(filter), (std::vector<std::u16string>{u"Alpha", u"beta"}));
  ChannelInfo row = Row(filter, u"beta");
  EXPECT_EQ(row.channel, beta);
  EXPECT_EQ(row.kind, u"@Ridudo");
  EXPECT_EQ(row.unreadCount, 0);
  EXPECT_EQ(row.updateState, static_cast<std::int32_t>(beta->GetUpdateStatus()));
  EXPECT_EQ(Row(filter, u"Alpha").kind, u"@RSS");
  EXPECT_EQ(filter.FindByName(u"alpha"), -1);  // names compare exactly
  EXPECT_FALSE(filter.GetEntry(-1, row));
  EXPECT_FALSE(filter.GetEntry(filter.GetCount(), row));

  // Added: the rows are built again.
  ASSERT_NE(set_->Add(u"Gamma"), nullptr);
  EXPECT_EQ(log.wholeRows, 1);
  EXPECT_EQ(Names(filter), (std::vector<std::u16string>{u"Alpha", u"beta", u"Gamma"}));

  // A new unread article: that row changes alone.
  const plat::FILETIME now = plat::ULLToFileTime(plat::CurrentClock().NowUtcFileTime());
  IArticle* article = beta->CreateArticle(u"first", US_UP_TO_DATE, now);
  ASSERT_NE(article, nullptr);
  ASSERT_FALSE(log.rows.empty());
  EXPECT_EQ(log.rows.back(), 1);
  EXPECT_EQ(Row(filter, u"beta").unreadCount, 1);
  log.rows.clear();
  beta->SetArticleRead(article, true);
  ASSERT_FALSE(log.rows.empty());
  EXPECT_EQ(log.rows.back(), 1);
  EXPECT_EQ(Row(filter, u"beta").unreadCount, 0);

  // An update state change of a channel.
  log.rows.clear();
  alpha->SetUpdateState(US_WAITING);
  ASSERT_FALSE(log.rows.empty());
  EXPECT_EQ(log.rows.back(), 0);
  EXPECT_EQ(Row(filter, u"Alpha").updateState, static_cast<std::int32_t>(US_WAITING));

  // Renamed: rows in the new order, the old name gone.
  const int before = log.wholeRows;
  ASSERT_TRUE(alpha->Rename(u"Zeta"));
  EXPECT_GT(log.wholeRows, before);
  EXPECT_EQ(Names(filter), (std::vector<std::u16string>{u"beta", u"Gamma", u"Zeta"}));
  EXPECT_EQ(filter.FindByName(u"Alpha"), -1);
  EXPECT_EQ(Row(filter, u"Zeta").channel, alpha);

  // Removed: gone at once, and the listeners hear it.
  log.wholeRows = 0;
  set_->Remove(u"Gamma");
  EXPECT_GE(log.wholeRows, 1);
  EXPECT_EQ(filter.FindByName(u"Gamma"), -1);
  EXPECT_EQ(Names(filter), (std::vector<std::u16string>{u"beta", u"Zeta"}));
  EXPECT_TRUE(filter.RemoveListener(&log));
}

TEST_F(ChannelsFilterTest, UpdateEntryReplacesByNameOrAppends) {
  IChannel* one = set_->Add(u"one");
  ASSERT_NE(one, nullptr);
  CChannelsFilter filter(set_);
  ASSERT_EQ(filter.GetCount(), 1);
  EXPECT_EQ(filter.UpdateEntry(nullptr), -1);

  one->SetProperty(kPropThumbnailFile, u"logo.png");
  EXPECT_EQ(filter.UpdateEntry(one), 0);
  EXPECT_EQ(filter.GetCount(), 1);
  const ChannelInfo row = Row(filter, u"one");
  EXPECT_EQ(row.imageFile, one->GetThumbnailFile());
  EXPECT_NE(row.imageFile.find(u"logo.png"), std::u16string::npos);

  // A channel without a row yet is appended.
  CChannelsFilter empty(nullptr);
  EXPECT_EQ(empty.GetCount(), 0);
  EXPECT_EQ(empty.UpdateEntry(one), 0);
  EXPECT_EQ(empty.GetCount(), 1);
}

TEST_F(ChannelsFilterTest, EmptyRowDefaults) {
  const ChannelInfo row;
  EXPECT_EQ(row.channel, nullptr);
  EXPECT_TRUE(row.name.empty() && row.imageFile.empty() && row.kind.empty());
  EXPECT_EQ(row.unreadCount, 0);
  EXPECT_EQ(row.updateState, 6);
}

// ---- Channel languages --------------------------------------------------------

std::optional<std::u16string> StoredFilter() {
  CVORegistry key(plat::HKEY_CURRENT_USER, GetProductRegistryKey().c_str(), false, false, plat::KEY_READ);
  std::vector<char16_t> buffer(256, u'\0');
  plat::DWORD size = static_cast<plat::DWORD>(buffer.size() * 2 - 2);
  if (!key.QueryValue(u"ChannelsLanguageFilter", buffer.data(), &size)) return std::nullopt;
  return std::u16string(buffer.data());
}

void Store(const char16_t* name, const std::u16string& value) {
  ASSERT_TRUE(OpenSettingsKey().SetString(name, value));
}

void DeleteStoredFilter() {
  CVORegistry key = OpenSettingsKey();
  plat::RegDeleteValueW(key.GetKey(), u"ChannelsLanguageFilter");
  ASSERT_FALSE(StoredFilter().has_value());
}

class ChannelLanguagesTest : public orvtest::DeviceTest {};

TEST_F(ChannelLanguagesTest, WhichLanguagesCountAsSelected) {
  struct Case {
    const char16_t* interfaceLanguage;
    std::optional<std::u16string> stored;  // nullopt: never chosen
    std::vector<std::pair<std::u16string, bool>> answers;
  };
  const std::vector<Case> cases = {
      {u"ru", std::nullopt, {{u"ru", true}, {u"en", true}, {u"de", false}}},
      {u"en", std::nullopt, {{u"en", true}, {u"ru", false}}},
      {u"ru", u"en;zh-tw;", {{u"tw", false}, {u"zh-tw", true}, {u"en", true}, {u"ru", false}, {u"zh", false}}},
      {u"en", u"en;zh-tw;tw;", {{u"tw", true}, {u"zh-tw", true}}},
      {u"en", u"de;", {{u"de", true}, {u"e", false}, {u"", false}, {u"en", false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.interfaceLanguage) + " / " +
                 (c.stored ? plat::Utf16ToUtf8(*c.stored) : std::string("(none)")));
    Store(u"language", c.interfaceLanguage);
    if (c.stored) {
      Store(u"ChannelsLanguageFilter", *c.stored);
    } else {
      DeleteStoredFilter();
    }
    CChannelLanguages languages;
    // A missing choice is written empty.
    EXPECT_EQ(StoredFilter(), std::optional<std::u16string>(c.stored.value_or(u"")));
    for (const auto& [code, selected] : c.answers) {
      EXPECT_EQ(languages.IsLanguageSelected(code), selected) << plat::Utf16ToUtf8(code);
    }
  }
}

TEST_F(ChannelLanguagesTest, DefaultFilterAndTable) {
  Store(u"language", u"ru");
  CChannelLanguages russian;
  EXPECT_EQ(russian.GetDefaultFilter(), u"en;ru;");
  EXPECT_EQ(russian.GetLanguageFilter(), u"");
  Store(u"language", u"en");
  CChannelLanguages english;
  EXPECT_EQ(english.GetDefaultFilter(), u"en;");

  std::vector<std::u16string> codes;
  std::vector<std::u16string> names;
  english.GetLanguages(codes, names);
  const std::vector<std::u16string> expectedCodes = {u"en", u"ru", u"de",    u"fr",    u"it", u"pt",
                                                     u"es", u"zh-cn", u"zh-tw", u"th", u"da", u"cs",
                                                     u"pl", u"ja", u"nl",    u"other"};
  EXPECT_EQ(codes, expectedCodes);
  ASSERT_EQ(names.size(), codes.size());
  EXPECT_EQ(names[7], u"Simplified Chinese");
  EXPECT_EQ(names[8], u"Traditional Chinese");
  EXPECT_EQ(names[15], u"Other");
}

// The default is shown checked while nothing is stored; choosing just that
// stores it, so the catalogue (which reads the stored choice) is asked for it.
TEST_F(ChannelLanguagesTest, ChoosingTheDefaultShownInPlaceOfNothingStoresIt) {
  Store(u"language", u"en");
  DeleteStoredFilter();
  CChannelLanguages languages;
  ASSERT_TRUE(languages.IsLanguageSelected(u"en"));
  EXPECT_TRUE(languages.SetSelectedLanguages({u"en"}));
  EXPECT_EQ(StoredFilter(), std::optional<std::u16string>(u"en;"));
  EXPECT_EQ(CChannelLanguages().GetLanguageFilter(), u"en;");
  EXPECT_FALSE(languages.SetSelectedLanguages({u"en"}));
}

TEST_F(ChannelLanguagesTest, SelectingWritesOnlyAChange) {
  CChannelLanguages languages;
  EXPECT_TRUE(languages.SetSelectedLanguages({u"en", u"de"}));
  EXPECT_EQ(StoredFilter(), std::optional<std::u16string>(u"en;de;"));
  EXPECT_EQ(languages.GetLanguageFilter(), u"en;de;");
  EXPECT_TRUE(languages.IsLanguageSelected(u"de"));
  EXPECT_FALSE(languages.IsLanguageSelected(u"fr"));

  // The same choice again writes nothing: a value changed behind its back stays.
  Store(u"ChannelsLanguageFilter", u"fr;");
  EXPECT_FALSE(languages.SetSelectedLanguages({u"en", u"de"}));
  EXPECT_EQ(StoredFilter(), std::optional<std::u16string>(u"fr;"));

  EXPECT_TRUE(languages.SetSelectedLanguages({u"de"}));
  EXPECT_EQ(StoredFilter(), std::optional<std::u16string>(u"de;"));
  EXPECT_FALSE(languages.IsLanguageSelected(u"en"));

  // The process-wide object reads the stored choice.
  EXPECT_EQ(GetChannelLanguages()->GetLanguageFilter(), u"de;");
}

}  // namespace
