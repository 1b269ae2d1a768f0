#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "database/DBEventListener.h"
#include "tests/support/TempDevice.h"

namespace {

class Recorder : public CDBEventListener {
 public:
  std::function<void(CDBEvent*)> action;
  std::vector<std::uint32_t> received;
  bool* destroyed = nullptr;
  ~Recorder() override {
    if (destroyed != nullptr) *destroyed = true;
  }
  void OnDBEvent(CDBEvent* record) override {
    received.push_back(record->type);
    if (action) action(record);
  }
};

class DBEventTest : public orvtest::DeviceTest {};

TEST_F(DBEventTest, TypeCodesAndFreshRecord) {
  const std::vector<std::uint32_t> codes = {
      DBE_NONE, DBE_UPDATE_STATUS_CHANGED, DBE_BINARY_RENAMED, DBE_BINARY_REMOVED, DBE_BINARY_STATE_CHANGED,
      DBE_BINARY_SET_REFILLED, DBE_BINARY_ADDED, DBE_ARTICLE_DELETED, DBE_ARTICLE_TITLE_CHANGED,
      DBE_ARTICLE_DATE_CHANGED, DBE_ARTICLE_IMAGE_CHANGED, DBE_ARTICLE_RESERVED, DBE_ARTICLE_TAKEN_OUT,
      DBE_ARTICLE_UPDATE_ENDED, DBE_ARTICLE_DONE, DBE_ARTICLE_MANUAL_UPDATE_CHANGED, DBE_ARTICLE_READ_CHANGED,
      DBE_ARTICLE_ADDED, DBE_CHANNEL_CHANGED, DBE_CHANNEL_RENAMED, DBE_CHANNEL_REMOVED,
      DBE_CHANNEL_AT_INDEX_CHANGED, DBE_CHANNEL_LIST_CHANGED, DBE_FILTER_REBUILT, DBE_ROW_CHANGED};
  for (std::uint32_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], i);

  CDBEvent fresh;
  EXPECT_EQ(fresh.type, 0u);
  EXPECT_EQ(fresh.index, 0);
  EXPECT_EQ(fresh.item, nullptr);
  EXPECT_EQ(fresh.article, nullptr);
  EXPECT_EQ(fresh.oldStatus, 7u);
  EXPECT_TRUE(fresh.oldText.empty());
}

TEST_F(DBEventTest, MakersSetOnlyTheirFields) {
  auto* item = reinterpret_cast<IUpdateItem*>(0x10);
  auto* article = reinterpret_cast<IArticle*>(0x20);
  auto* channel = reinterpret_cast<IChannel*>(0x30);
  auto* set = reinterpret_cast<IArticleSet*>(0x40);
  CDBEvent e = CDBEvent::UpdateStatusChanged(item, 3);
  EXPECT_EQ(e.type, 1u);
  EXPECT_EQ(e.item, item);
  EXPECT_EQ(e.oldStatus, 3u);
  EXPECT_EQ(e.article, nullptr);

  e = CDBEvent::ArticleTitleChanged(article, u"Old");
  EXPECT_EQ(e.type, 8u);
  EXPECT_EQ(e.article, article);
  EXPECT_EQ(e.oldText, u"Old");
  EXPECT_EQ(e.oldStatus, 7u);

  e = CDBEvent::ChannelRenamed(channel, u"Before");
  EXPECT_EQ(e.type, 19u);
  EXPECT_EQ(e.channel, channel);
  EXPECT_EQ(e.oldText, u"Before");

  e = CDBEvent::ChannelAtIndexChanged(5);
  EXPECT_EQ(e.type, 21u);
  EXPECT_EQ(e.index, 5);
  EXPECT_EQ(e.channel, nullptr);

  e = CDBEvent::ArticleRowChanged(set, article);
  EXPECT_EQ(e.type, 24u);
  EXPECT_EQ(e.articleSet, set);
  EXPECT_EQ(e.article, article);
  EXPECT_EQ(e.filter, nullptr);
}

TEST_F(DBEventTest, DeliversToEveryListener) {
  CDBEventListener source;
  Recorder a, b;
  a.Subscribe(&source);
  b.Subscribe(&source);
  a.Subscribe(&source);  // once only
  EXPECT_EQ(source.GetListenerCount(), 2u);
  CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&e);
  EXPECT_EQ(a.received, std::vector<std::uint32_t>{22});
  EXPECT_EQ(b.received, std::vector<std::uint32_t>{22});
  a.Unsubscribe(&source);
  source.Fire(&e);
  EXPECT_EQ(a.received.size(), 1u);
  EXPECT_EQ(b.received.size(), 2u);
}

TEST_F(DBEventTest, NullSourceIsIgnored) {
  Recorder a;
  a.Subscribe(nullptr);
  a.Unsubscribe(nullptr);
  EXPECT_TRUE(a.received.empty());
}

TEST_F(DBEventTest, SelfUnsubscribeDuringDeliveryTakesEffectAfterIt) {
  CDBEventListener source;
  Recorder self, other;
  self.Subscribe(&source);
  other.Subscribe(&source);
  self.action = [&](CDBEvent*) {
    self.Unsubscribe(&source);
    EXPECT_TRUE(source.HasListener(&self));  // deferred
  };
  CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&e);
  EXPECT_EQ(other.received.size(), 1u);
  EXPECT_EQ(self.received.size(), 1u);
  EXPECT_FALSE(source.HasListener(&self));
  EXPECT_EQ(source.GetDeliveryDepth(), 0);
}

// Whichever order the set walks in, a listener removed and deleted by another
// listener's handler is never called afterwards.
TEST_F(DBEventTest, RemovedListenerIsNotCalledAndMayBeDeleted) {
  for (int round = 0; round < 8; ++round) {
    CDBEventListener source;
    std::vector<std::unique_ptr<Recorder>> crowd;
    for (int i = 0; i < round; ++i) {
      crowd.push_back(std::make_unique<Recorder>());
      crowd.back()->Subscribe(&source);
    }
    bool victimDestroyed = false;
    auto* victim = new Recorder;
    victim->destroyed = &victimDestroyed;
    victim->action = [&](CDBEvent*) { EXPECT_FALSE(victimDestroyed); };
    Recorder killer;
    victim->Subscribe(&source);
    killer.Subscribe(&source);
    killer.action = [&](CDBEvent*) {
      if (victimDestroyed) return;
      victim->Unsubscribe(&source);
      delete victim;
    };
    CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
    source.Fire(&e);
    EXPECT_TRUE(victimDestroyed);
    EXPECT_EQ(source.GetListenerCount(), static_cast<std::size_t>(round) + 1);
    source.Fire(&e);
    EXPECT_EQ(killer.received.size(), 2u);
  }
}

TEST_F(DBEventTest, ListenerAddedDuringDeliveryGetsOnlyTheNext) {
  CDBEventListener source;
  Recorder first, late;
  first.Subscribe(&source);
  first.action = [&](CDBEvent*) { late.Subscribe(&source); };
  CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&e);
  EXPECT_TRUE(late.received.empty());
  EXPECT_TRUE(source.HasListener(&late));
  first.action = nullptr;
  source.Fire(&e);
  EXPECT_EQ(late.received.size(), 1u);
}

TEST_F(DBEventTest, SubscribeAndUnsubscribeInOneDeliveryLeavesSubscribed) {
  CDBEventListener source;
  Recorder first, other;
  first.Subscribe(&source);
  first.action = [&](CDBEvent*) {
    other.Subscribe(&source);
    other.Unsubscribe(&source);
  };
  CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&e);
  EXPECT_TRUE(source.HasListener(&other));
}

TEST_F(DBEventTest, NestedDeliveryReachesAllAndDefersChangesToTheOutermost) {
  CDBEventListener source;
  Recorder a, b, late;
  a.Subscribe(&source);
  b.Subscribe(&source);
  bool nested = false;
  a.action = [&](CDBEvent* record) {
    if (record->type != DBE_CHANNEL_LIST_CHANGED || nested) return;
    nested = true;
    late.Subscribe(&source);
    CDBEvent inner(DBE_CHANNEL_CHANGED);
    source.Fire(&inner);
    EXPECT_EQ(source.GetDeliveryDepth(), 1);
    EXPECT_FALSE(source.HasListener(&late));  // still waiting for the outer delivery
  };
  CDBEvent outer(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&outer);
  EXPECT_EQ(b.received.size(), 2u);
  EXPECT_EQ(a.received.size(), 2u);
  EXPECT_TRUE(late.received.empty());
  EXPECT_TRUE(source.HasListener(&late));
}

TEST_F(DBEventTest, ThrowingListenerLosesOnlyThatEvent) {
  CDBEventListener source;
  Recorder thrower, other, late;
  thrower.Subscribe(&source);
  other.Subscribe(&source);
  thrower.action = [&](CDBEvent*) {
    late.Subscribe(&source);
    throw std::runtime_error("handler failed");
  };
  CDBEvent e(DBE_CHANNEL_LIST_CHANGED);
  source.Fire(&e);
  EXPECT_EQ(other.received.size(), 1u);
  EXPECT_EQ(source.GetDeliveryDepth(), 0);
  EXPECT_TRUE(source.HasListener(&late));
}

}  // namespace
