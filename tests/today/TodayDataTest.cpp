// The Today item's data thread: the unread filter it fills from the channels
// the Today selection shows, the change notices it follows (one channel, all
// channels, a channel deselected, a channel the item has not seen), the
// status it reports, and a stop that never waits out a time-out.
#include <gtest/gtest.h>

#include <future>

#include "tests/today/TodayFixture.h"

namespace {

using todaytest::ArticleSpec;
using todaytest::TodayFixture;
using todaytest::U;

class TodayDataTest : public TodayFixture {};

TEST_F(TodayDataTest, ShowsUnreadArticlesWithTitlesOfShownChannels) {
  WriteChannel(u"Alpha", {{u"Alpha one"}, {u"Alpha read", true}, {u""}, {u"Alpha newest"}});
  WriteChannel(u"Beta", {{u"Beta one"}});
  StartItem();
  ASSERT_TRUE(WaitForStatus(kTodayReady));
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 3; }));
  const auto titles = Titles();
  // Newest first; the read article and the one without a title are left out.
  EXPECT_EQ(titles[0], u"Beta one");
  EXPECT_EQ(titles[1], u"Alpha newest");
  EXPECT_EQ(titles[2], u"Alpha one");
}

TEST_F(TodayDataTest, EmptyContentFolderSaysNoArticles) {
  StartItem();
  EXPECT_TRUE(WaitForStatus(kTodayNoArticles));
  EXPECT_TRUE(Titles().empty());
}

TEST_F(TodayDataTest, LoadsNothingBeforeTheFirstPaint) {
  WriteChannel(u"Alpha", {{u"Alpha one"}});
  reader_ = std::make_unique<CChannelSet>();
  data_ = std::make_unique<CHDBThread>(reader_.get());
  EXPECT_TRUE(orvtest::StaysTrue([&] { return data_->GetCycleCount() == 0; }, 200));
  EXPECT_EQ(data_->GetStatus(), kTodayLoading);
  data_->Start();
  EXPECT_TRUE(WaitForStatus(kTodayReady));
  // Passed once, the start event is closed; a later paint's start finds
  // no handle to set.
  EXPECT_TRUE(orvtest::Eventually([&] { return !data_->HasStartEvent(); }, 5000));
  data_->Start();
  EXPECT_EQ(data_->GetStatus(), kTodayReady);
}

TEST_F(TodayDataTest, ChangedChannelIsReloadedAfterTheNotice) {
  WriteChannel(u"Alpha", {{u"Alpha one"}});
  WriteChannel(u"Beta", {{u"Beta one"}});
  StartItem();
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 2; }, 20000));
  // The writer's save records the channel's name and sets the event.
  WriteChannel(u"Alpha", {{u"Alpha two"}}, 1);
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 3; }, 20000));
  EXPECT_EQ(Titles()[0], u"Alpha two");
}

TEST_F(TodayDataTest, AllChannelsNoticeReloadsEverything) {
  WriteChannel(u"Alpha", {{u"Alpha one"}});
  StartItem();
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 1; }, 20000));
  const int cycles = data_->GetCycleCount();
  CNotifyToday::GetInstance()->Notify();
  EXPECT_TRUE(orvtest::Eventually([&] { return data_->GetCycleCount() > cycles; }, 20000));
  EXPECT_TRUE(orvtest::Eventually([&] { return Titles().size() == 1; }, 20000));
}

TEST_F(TodayDataTest, DeselectedChannelLeavesAndSelectedOneReturns) {
  WriteChannel(u"Alpha", {{u"Alpha one"}});
  WriteChannel(u"Beta", {{u"Beta one"}});
  StartItem();
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 2; }, 20000));
  // As the options program does: the flag, then the notice naming the channel.
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Beta", u"0"}}));
  CNotifyToday::GetInstance()->NotifyItemChanged(u"Beta");
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 1; }, 20000));
  EXPECT_EQ(Titles()[0], u"Alpha one");
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Beta", u"1"}}));
  CNotifyToday::GetInstance()->NotifyItemChanged(u"Beta");
  EXPECT_TRUE(orvtest::Eventually([&] { return Titles().size() == 2; }, 20000));
}

// Each case on a device of its own: channels left by another case would be
// new to the item too, and whether they are counted would depend on when the
// notices of the case's own writes arrive.
class TodayAutoIncludeTest : public TodayFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(TodayAutoIncludeTest, NewChannelFollowsAutoInclude) {
  const bool autoInclude = GetParam();
  const std::u16string name = autoInclude ? u"Shown" : u"Hidden";
  const std::u16string base = u"Base";
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetAutoInclude(autoInclude));
  WriteChannel(base, {{base + u" article"}});
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{base, u"1"}}));
  StartItem();
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 1; }, 20000));
  // A channel the item's set has never seen: the set is read again.
  WriteChannel(name, {{name + u" one"}});
  if (autoInclude) {
    EXPECT_TRUE(orvtest::Eventually([&] { return Titles().size() == 2; }, 20000));
  } else {
    const int idles = data_->GetIdleCount();
    ASSERT_TRUE(orvtest::Eventually([&] { return data_->GetIdleCount() > idles + 1; }, 20000));
    EXPECT_EQ(Titles().size(), 1u);
  }
  CStringToStringMap entries;
  CTodayChannelFilter::GetInstance()->Load();
  CTodayChannelFilter::GetInstance()->GetEntries(entries);
  EXPECT_EQ(entries[name], autoInclude ? u"1" : u"0");
}

INSTANTIATE_TEST_SUITE_P(AutoInclude, TodayAutoIncludeTest, ::testing::Bool());

TEST_F(TodayDataTest, MissingContentFolderReportsNoStorageAndRecovers) {
  WriteChannel(u"Alpha", {{u"Alpha one"}});
  // Time-outs answered at once: each wait of the thread is a storage check.
  reader_ = std::make_unique<CChannelSet>();
  std::atomic<bool> fast{false};
  data_ = std::make_unique<CHDBThread>(reader_.get(), [&](plat::DWORD count, const plat::HANDLE* handles, plat::DWORD ms) {
    const plat::DWORD wait = fast && ms != plat::INFINITE ? 5 : ms;
    return plat::WaitForMultipleObjects(count, handles, plat::FALSE, wait);
  });
  data_->Start();
  ASSERT_TRUE(WaitForStatus(kTodayReady));
  ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Storage Card\\Content"));
  fast = true;
  EXPECT_TRUE(WaitForStatus(kTodayNoStorage));
  ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Content"));
  EXPECT_TRUE(WaitForStatus(kTodayReady));
}

TEST_F(TodayDataTest, StopEndsTheWait) {
  // Waits that would never time out: only the stop event can end them.
  reader_ = std::make_unique<CChannelSet>();
  data_ = std::make_unique<CHDBThread>(reader_.get(), [](plat::DWORD count, const plat::HANDLE* handles, plat::DWORD) {
    return plat::WaitForMultipleObjects(count, handles, plat::FALSE, plat::INFINITE);
  });
  data_->Start();
  ASSERT_TRUE(orvtest::Eventually([&] { return data_->GetIdleCount() > 0; }, 20000));
  auto stopped = std::async(std::launch::async, [&] { data_.reset(); });
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
