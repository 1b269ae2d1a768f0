#include <gtest/gtest.h>

#include <vector>

#include "core/RecordEncoding.h"
#include "platform/base/Time.h"
#include "tests/support/HeadersFixture.h"

namespace {

using orvtest::FakeChannel;

class ArticleTest : public orvtest::DeviceTest {};

std::string Bytes(const CBufferWriter& w) {
  return std::string(reinterpret_cast<const char*>(w.GetData()), w.GetSize());
}

TEST_F(ArticleTest, WhatARecordHolds) {
  FakeChannel channel;
  CArticle noId(&channel);
  CBufferWriter out;
  EXPECT_FALSE(noId.Write(out));
  EXPECT_EQ(out.GetSize(), 0u);

  CArticle* tomb = channel.NewArticle('1', 5, u"http://x/i");
  tomb->Delete();
  CBufferWriter tombOut;
  ASSERT_TRUE(tomb->Write(tombOut));
  std::string expected;
  orvtest::PutInt32(expected, 6);
  orvtest::PutDigest(expected, 0x11);
  expected += std::string("\xd4\x1d\x8c\xd9\x8f\x00\xb2\x04\xe9\x80\x09\x98\xec\xf8\x42\x7e", 16);
  expected += '\1';
  EXPECT_EQ(Bytes(tombOut), expected);

  tomb->Forget();
  EXPECT_EQ(tomb->GetDeletionState(), ADS_FORGOTTEN);
  CBufferWriter forgotten;
  EXPECT_FALSE(tomb->Write(forgotten));
  EXPECT_EQ(forgotten.GetSize(), 0u);
  tomb->Detach();
  delete tomb;
}

TEST_F(ArticleTest, TombstoneIgnoresSetters) {
  FakeChannel channel;
  CArticle* a = channel.NewArticle('2', 5, u"http://x/i");
  a->SetTitle(u"Hello");
  a->Delete();
  EXPECT_TRUE(a->IsDeleted());
  EXPECT_EQ(a->GetTitle(), u"");
  EXPECT_EQ(a->GetImageUrl(), u"");
  EXPECT_TRUE(a->GetBinaries()->IsEmpty());
  EXPECT_TRUE(channel.Binaries().IsEmpty());

  struct Counter : CDBEventListener {
    std::vector<std::uint32_t> types;
    void OnDBEvent(CDBEvent* r) override { types.push_back(r->type); }
  } watcher;
  watcher.Subscribe(a);
  a->SetTitle(u"Again");
  a->SetImageUrl(u"http://x/j");
  a->SetManualUpdate(true);
  EXPECT_EQ(a->GetTitle(), u"");
  EXPECT_EQ(a->GetImageUrl(), u"");
  EXPECT_EQ(a->GetManualUpdateByte(), AMU_CHANNEL);
  EXPECT_EQ(watcher.types, std::vector<std::uint32_t>{DBE_ARTICLE_IMAGE_CHANGED});
  watcher.Unsubscribe(a);
  a->Detach();
  delete a;
}

TEST_F(ArticleTest, ManualUpdateFollowsTheChannelUntilSet) {
  struct Case {
    int channelOption;
    bool set;
    std::uint8_t stored;
    bool fires;
  };
  const Case cases[] = {{1, false, AMU_OFF, true}, {0, false, AMU_OFF, false}, {0, true, AMU_ON, true},
                        {1, true, AMU_ON, false}};
  for (const auto& c : cases) {
    FakeChannel channel;
    channel.Options().SetManualArticlesUpdate(c.channelOption);
    CArticle* a = channel.NewArticle('3', 1);
    EXPECT_EQ(a->GetManualUpdate(), c.channelOption);
    struct Counter : CDBEventListener {
      int fired = 0;
      void OnDBEvent(CDBEvent* r) override { fired += r->type == DBE_ARTICLE_MANUAL_UPDATE_CHANGED; }
    } watcher;
    watcher.Subscribe(a);
    a->SetManualUpdate(c.set);
    EXPECT_EQ(a->GetManualUpdateByte(), c.stored);
    EXPECT_EQ(watcher.fired, c.fires ? 1 : 0) << c.channelOption << c.set;
    watcher.Unsubscribe(a);
    a->Detach();
    delete a;
  }
}

// Record of a live article with the given date and updated time.
std::string LiveRecord(std::uint64_t date, std::uint64_t updated, const std::string& image,
                       const std::vector<std::string>& urls) {
  std::string r;
  orvtest::PutInt32(r, 6);
  orvtest::PutDigest(r, 0x42);
  orvtest::PutDigest(r, 0x43);
  r += '\0';
  orvtest::PutString(r, "Title");
  orvtest::PutString(r, image);
  r += '\2';
  orvtest::PutInt32(r, 77);
  orvtest::PutInt64(r, date);
  orvtest::PutInt64(r, updated);
  orvtest::PutInt32(r, static_cast<std::uint32_t>(urls.size()));
  for (const auto& u : urls) orvtest::PutString(r, u);
  return r;
}

TEST_F(ArticleTest, AgeLimitOnReading) {
  constexpr std::uint64_t kDay = 864000000000ull;
  const std::uint64_t now = 129067776000000000ull + 100 * kDay;
  plat::ManualClock clock(now);
  plat::SetClock(&clock);
  struct Case {
    const char* what;
    std::uint64_t date;
    std::uint64_t updated;
    int enabled;
    ArticleReadResult result;
  };
  const Case cases[] = {
      {"3 days exactly", now - 3 * kDay, now, 1, ArticleReadResult::TooOld},
      {"a second short of 3 days", now - 3 * kDay + 10000000, now, 1, ArticleReadResult::Ok},
      {"no date: updated time 3 days ago", 0, now - 3 * kDay, 1, ArticleReadResult::TooOld},
      {"no date: updated 2 days ago", 0, now - 2 * kDay, 1, ArticleReadResult::Ok},
      {"old, limit off", now - 30 * kDay, now, 0, ArticleReadResult::Ok},
      {"dated in the future", now + 5 * kDay, now, 1, ArticleReadResult::Ok},
  };
  for (const auto& c : cases) {
    FakeChannel channel;
    channel.Options().SetArticlesAgeLimitEnabled(c.enabled);
    channel.Options().SetArticlesAgeLimit(3);
    const std::string record = LiveRecord(c.date, c.updated, "", {});
    CBufferReader reader(record.data(), record.size());
    CArticle a(&channel);
    EXPECT_EQ(a.ReadRecord(reader), c.result) << c.what;
    a.Detach();
  }
  plat::SetClock(nullptr);
}

TEST_F(ArticleTest, ImageUrlJoinsTheBinaries) {
  FakeChannel channel;
  const std::string record = LiveRecord(0, plat::CurrentClock().NowUtcFileTime(), "http://x/img", {"http://x/enc"});
  CBufferReader reader(record.data(), record.size());
  CArticle a(&channel);
  ASSERT_TRUE(a.Read(reader));
  EXPECT_EQ(a.GetOrder(), 77u);
  EXPECT_EQ(a.GetTitle(), u"Title");
  EXPECT_EQ(a.GetId(), std::u16string(u"42424242424242424242424242424242"));
  CStringSet urls;
  a.GetBinaries()->CopyEntries(urls);
  EXPECT_EQ(urls, (CStringSet{u"http://x/enc", u"http://x/img"}));
  EXPECT_EQ(channel.Binaries().Find(u"http://x/img")->GetUseCount(), 1u);
  a.Detach();
}

TEST_F(ArticleTest, RecordsCutShortOrWithBadBytesAreBad) {
  FakeChannel channel;
  const std::string good = LiveRecord(0, 0, "", {"http://x/u"});
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    CBufferReader reader(good.data(), cut);
    CArticle a(&channel);
    EXPECT_EQ(a.ReadRecord(reader), ArticleReadResult::Bad) << cut;
    a.Detach();
  }
  std::string badDeletion = good;
  badDeletion[36] = '\7';
  std::string badManual = good;
  badManual[36 + 1 + 4 + 5 + 4] = '\3';
  for (const auto* bad : {&badDeletion, &badManual}) {
    CBufferReader reader(bad->data(), bad->size());
    CArticle a(&channel);
    EXPECT_EQ(a.ReadRecord(reader), ArticleReadResult::Bad);
    a.Detach();
  }
  EXPECT_TRUE(channel.Binaries().IsEmpty());
}


// Records the article events a source fires, in order.
struct ArticleEventLog : CDBEventListener {
  std::vector<std::uint32_t> types;
  void OnDBEvent(CDBEvent* record) override {
    if (record->type == DBE_ARTICLE_UPDATE_ENDED || record->type == DBE_ARTICLE_DONE) types.push_back(record->type);
    CDBEventListener::OnDBEvent(record);
  }
};

// An image that downloads after the article's own update: every change of the
// article's status it causes stamps the updated time and fires 13, and 14
// follows once the article and its binaries are done.
TEST_F(ArticleTest, BinaryChangesStampTheArticleAndFireEndedBeforeDone) {
  plat::ManualClock clock;
  plat::SetClock(&clock);
  constexpr auto kEnded = DBE_ARTICLE_UPDATE_ENDED;
  constexpr auto kDone = DBE_ARTICLE_DONE;
  struct Case {
    const char* what;
    std::uint32_t own;        // the article's own state while the image loads
    std::uint32_t imageEnd;   // how the image ends
    std::vector<std::uint32_t> events;  // image starts, then ends
  };
  const Case cases[] = {
      {"image done after the text", US_UP_TO_DATE, US_UP_TO_DATE, {kEnded, kEnded, kDone}},
      {"image failed after the text", US_UP_TO_DATE, US_FAILED, {kEnded, kEnded, kDone}},
      {"own update failed, image done", US_FAILED, US_UP_TO_DATE, {kEnded, kEnded}},
      {"text still waiting", US_WAITING, US_UP_TO_DATE, {}},
  };
  for (const auto& c : cases) {
    FakeChannel channel;
    CArticle* article = channel.NewArticle('a', 1, u"http://x/img");
    channel.Articles().Add(article);
    CBinary* image = channel.Binaries().Find(u"http://x/img");
    ASSERT_NE(image, nullptr) << c.what;
    image->SetUpdateState(US_WAITING);
    article->SetUpdateState(c.own);
    ArticleEventLog log;
    log.Subscribe(article);
    clock.Advance(60000);
    const std::uint64_t before = article->GetUpdatedTime();
    image->SetUpdateState(US_UPDATING);
    image->SetUpdateState(c.imageEnd);
    EXPECT_EQ(log.types, c.events) << c.what;
    const bool stamped = !c.events.empty();
    EXPECT_EQ(article->GetUpdatedTime(), stamped ? clock.NowUtcFileTime() : before) << c.what;
    log.Unsubscribe(article);
  }
  plat::SetClock(nullptr);
}

}  // namespace
