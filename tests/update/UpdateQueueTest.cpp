// The update queue tree: node arithmetic (weights, offsets, progress,
// positions, moving back), the search for waiting work and the queue status of
// items, on items of the test's own; then the channel-level operations on real
// channels in a temporary content folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/Synchronized.h"
#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelOptions.h"
#include "database/GlobalOptions.h"
#include "database/DataModel.h"
#include "database/UpdateItem.h"
#include "tests/support/Wait.h"
#include "tests/support/TempDevice.h"
#include "update/jobs/UpdateQueue.h"

namespace {

// A bare update item with a state of its own.
class Item : public CUpdateItem {
 public:
  explicit Item(std::uint32_t state = US_UP_TO_DATE) { SetUpdateState(state); }
};

// The owner an article needs when there is no channel: no options, no binaries.
class NoChannel : public IHeadersOwner {
 public:
  IChannel* GetChannelInterface() override { return nullptr; }
  void MarkHeadersDirty() override {}
  std::u16string GetBinFolder() override { return u""; }
  IChannelOptions* GetChannelOptions() override { return nullptr; }
  CBinarySet* GetBinarySetObject() override { return nullptr; }
  void SetOrderCounter(std::uint32_t) override {}
  void RemoveThumbnails(const std::u16string&) override {}
};

std::unique_ptr<CUpdateQueue> Leaf(IUpdateItem* item = nullptr) { return std::make_unique<CUpdateQueue>(item); }

std::vector<std::uint32_t> Weights(const CUpdateQueue& node) {
  std::vector<std::uint32_t> weights;
  for (int i = 0; i < node.GetChildCount(); ++i) weights.push_back(node.GetWeightAt(i));
  return weights;
}

std::vector<std::uint32_t> Offsets(const CUpdateQueue& node) {
  std::vector<std::uint32_t> offsets;
  for (int i = 0; i < node.GetChildCount(); ++i) offsets.push_back(node.GetOffsetAt(i));
  return offsets;
}

TEST(UpdateQueueNode, ChildrenKeepWeightsOffsetsAndTotal) {
  CUpdateQueue root;
  CUpdateQueue* a = root.AddLeaf(80);
  CUpdateQueue* b = root.AddLeaf(20);
  CUpdateQueue* c = root.AddLeaf(40);
  EXPECT_EQ(Weights(root), (std::vector<std::uint32_t>{80, 20, 40}));
  EXPECT_EQ(Offsets(root), (std::vector<std::uint32_t>{0, 80, 100}));
  EXPECT_EQ(root.GetTotalWeight(), 140u);
  EXPECT_EQ(a->GetParent(), &root);
  EXPECT_EQ(root.FindChildNode(c), 2);
  EXPECT_TRUE(root.Contains(&root));
  EXPECT_TRUE(root.Contains(b));
  EXPECT_FALSE(a->Contains(b));
  EXPECT_EQ(root.ChildAt(3), nullptr);
  EXPECT_EQ(root.ChildAt(-1), nullptr);
  EXPECT_EQ(root.RemoveChildAt(3), nullptr);

  std::unique_ptr<CUpdateQueue> removed = root.RemoveChildAt(1);
  ASSERT_EQ(removed.get(), b);
  EXPECT_EQ(b->GetParent(), nullptr);
  EXPECT_EQ(Weights(root), (std::vector<std::uint32_t>{80, 40}));
  EXPECT_EQ(Offsets(root), (std::vector<std::uint32_t>{0, 80}));
  EXPECT_EQ(root.GetTotalWeight(), 120u);
}

TEST(UpdateQueueNode, RemovingBeforeTheCurrentPositionKeepsTheCurrentChild) {
  CUpdateQueue root;
  std::vector<CUpdateQueue*> nodes;
  for (int i = 0; i < 4; ++i) nodes.push_back(root.AddLeaf(100));
  root.SetCurrentPosition(2);
  root.DeleteChildAt(0);
  EXPECT_EQ(root.GetCurrentPosition(), 1);
  EXPECT_EQ(root.ChildAt(root.GetCurrentPosition()), nodes[2]);
  // At or after the position: the position stays, the next child becomes current.
  root.DeleteChildAt(1);
  EXPECT_EQ(root.GetCurrentPosition(), 1);
  EXPECT_EQ(root.ChildAt(1), nodes[3]);
  root.SetCurrentPosition(5);  // out of range: ignored
  EXPECT_EQ(root.GetCurrentPosition(), 1);
}

TEST(UpdateQueueNode, ProgressIsWeightedOverFinishedChildren) {
  CUpdateQueue leaf;
  EXPECT_EQ(leaf.GetProgress(), 0u);  // expected 100, received 0
  leaf.SetReceived(50);
  EXPECT_EQ(leaf.GetProgress(), 50u);
  leaf.SetExpected(200);
  EXPECT_EQ(leaf.GetProgress(), 25u);
  leaf.SetExpected(0);  // ignored
  EXPECT_EQ(leaf.GetExpected(), 200u);
  leaf.SetReceived(4000000000u);  // no overflow, never above 100
  EXPECT_EQ(leaf.GetProgress(), 100u);

  CUpdateQueue node;
  CUpdateQueue* download = node.AddLeaf(80);
  CUpdateQueue* thumbnail = node.AddLeaf(20);
  download->SetReceived(50);
  EXPECT_EQ(node.GetProgress(), 40u);  // 80 × 50 ÷ 100
  node.SetCurrentPosition(1);
  EXPECT_EQ(node.GetProgress(), 80u);  // the first counts as done whatever it reported
  thumbnail->SetReceived(50);
  EXPECT_EQ(node.GetProgress(), 90u);

  // Progress goes up through every level.
  CUpdateQueue root;
  root.AddLeaf(100);
  CUpdateQueue* inner = root.AddChild(std::make_unique<CUpdateQueue>(), 100);
  CUpdateQueue* innerLeaf = inner->AddLeaf(100);
  root.SetCurrentPosition(1);
  innerLeaf->SetReceived(30);
  EXPECT_EQ(root.GetProgress(), 65u);  // (100 × 100 + 100 × 30) ÷ 200

  // Past the last child: 100 even when no child reported.
  CUpdateQueue quiet;
  quiet.AddLeaf(10);
  quiet.AddLeaf(90);
  EXPECT_EQ(quiet.GetProgress(), 0u);
  EXPECT_EQ(quiet.GetWaiting(), nullptr);  // nothing waits: the position runs to the end
  EXPECT_EQ(quiet.GetCurrentPosition(), 2);
  EXPECT_EQ(quiet.GetProgress(), 100u);
}

TEST(UpdateQueueNode, ResetProgressStartsEveryLevelOver) {
  CUpdateQueue node;
  CUpdateQueue* first = node.AddLeaf(50);
  CUpdateQueue* inner = node.AddChild(std::make_unique<CUpdateQueue>(), 50);
  CUpdateQueue* innerLeaf = inner->AddLeaf(100);
  inner->AddLeaf(100);
  first->SetReceived(10);
  first->SetExpected(20);
  innerLeaf->SetReceived(5);
  inner->SetCurrentPosition(1);
  node.SetCurrentPosition(1);
  node.ResetProgress();
  EXPECT_EQ(node.GetCurrentPosition(), 0);
  EXPECT_EQ(inner->GetCurrentPosition(), 0);
  EXPECT_EQ(first->GetReceived(), 0u);
  EXPECT_EQ(first->GetExpected(), 100u);
  EXPECT_EQ(innerLeaf->GetReceived(), 0u);
  EXPECT_EQ(node.GetProgress(), 0u);
}

TEST(UpdateQueueNode, AddItemLeafQueuesAnItemOnceAndRequeuesAPassedOne) {
  Item a(US_WAITING), b(US_WAITING);
  CUpdateQueue node;
  CUpdateQueue* leafA = node.AddItemLeaf(&a, 100);
  ASSERT_NE(leafA, nullptr);
  EXPECT_EQ(node.AddItemLeaf(&a, 100), nullptr);  // at the current position already
  node.AddItemLeaf(&b, 100);
  EXPECT_EQ(node.GetChildCount(), 2);
  node.SetCurrentPosition(1);
  // a was passed: it goes to the end with the new weight, b stays current.
  EXPECT_EQ(node.AddItemLeaf(&a, 30), leafA);
  EXPECT_EQ(node.GetChildCount(), 2);
  EXPECT_EQ(node.FindChild(&a), 1);
  EXPECT_EQ(node.FindChild(&b), 0);
  EXPECT_EQ(node.GetCurrentPosition(), 0);
  EXPECT_EQ(Weights(node), (std::vector<std::uint32_t>{100, 30}));
}

TEST(UpdateQueueNode, MovingBackRequeuesAPassedNodeOrFollowsTheCurrentChild) {
  // A parent that does not follow its current child: the node that gained work
  // goes to its end with weight 100 and starts over.
  CUpdateQueue root;
  CUpdateQueue* first = root.AddChild(std::make_unique<CUpdateQueue>(), 40);
  first->AddLeaf(10);
  root.AddLeaf(60);
  root.SetCurrentPosition(1);
  first->AddLeaf(10);  // first gained work after root passed it
  EXPECT_EQ(root.FindChildNode(first), 1);
  EXPECT_EQ(Weights(root), (std::vector<std::uint32_t>{60, 100}));
  EXPECT_EQ(root.GetCurrentPosition(), 0);
  EXPECT_EQ(first->GetCurrentPosition(), 0);

  // A node reached already or not yet reached stays where it is.
  CUpdateQueue plain;
  CUpdateQueue* p0 = plain.AddChild(std::make_unique<CUpdateQueue>(), 40);
  CUpdateQueue* p1 = plain.AddChild(std::make_unique<CUpdateQueue>(), 60);
  p0->AddLeaf(1);
  p1->AddLeaf(1);
  EXPECT_EQ(Weights(plain), (std::vector<std::uint32_t>{40, 60}));
  EXPECT_EQ(plain.FindChildNode(p0), 0);
}

// A node of the test that follows its current child, as a channel node does.
class FollowingNode : public CUpdateQueue {
 public:
  FollowingNode() { SetFollowCurrent(true); }
};

TEST(UpdateQueueNode, AFollowingNodeMovesBackAndIsRequeuedInItsOwnParent) {
  CUpdateQueue root;
  root.AddLeaf(100);
  auto channelOwned = std::make_unique<FollowingNode>();
  FollowingNode* channel = channelOwned.get();
  root.AddChild(std::move(channelOwned), 100);
  root.AddLeaf(100);
  CUpdateQueue* feed = channel->AddChild(std::make_unique<CUpdateQueue>(), 75);
  CUpdateQueue* articles = channel->AddChild(std::make_unique<CUpdateQueue>(), 25);
  feed->AddLeaf(80);
  channel->SetCurrentPosition(1);
  root.SetCurrentPosition(2);  // the channel node was passed

  // The feed part gains work: the channel node follows back to it and, having
  // been passed by the root, goes to the root's end with weight 100.
  feed->AddLeaf(20);
  EXPECT_EQ(channel->GetCurrentPosition(), 0);
  EXPECT_EQ(root.FindChildNode(channel), 2);
  EXPECT_EQ(root.GetCurrentPosition(), 1);
  EXPECT_EQ(Weights(root), (std::vector<std::uint32_t>{100, 100, 100}));
  EXPECT_EQ(Weights(*channel), (std::vector<std::uint32_t>{75, 25}));  // its own children stay
  EXPECT_EQ(articles->GetParent(), channel);
}

TEST(UpdateQueueNode, GetWaitingFindsWaitingItemsInQueueOrder) {
  Item channelA(US_WAITING), article1(US_UP_TO_DATE), article2(US_WAITING), binary(US_WAITING), channelB(US_WAITING);
  CUpdateQueue root;
  CUpdateQueue* nodeA = root.AddChild(std::make_unique<CUpdateQueue>(), 100);
  CUpdateQueue* feedA = nodeA->AddChild(Leaf(&channelA), 75);
  feedA->AddLeaf(80);
  CUpdateQueue* articlesA = nodeA->AddChild(Leaf(), 25);
  CUpdateQueue* a1 = articlesA->AddChild(Leaf(), 100);
  a1->AddItemLeaf(&article1, 50);
  CUpdateQueue* a1Binaries = a1->AddChild(Leaf(), 50);
  a1Binaries->AddItemLeaf(&binary, 100);
  CUpdateQueue* a2 = articlesA->AddChild(Leaf(), 100);
  a2->AddItemLeaf(&article2, 50);
  CUpdateQueue* nodeB = root.AddChild(std::make_unique<CUpdateQueue>(), 100);
  nodeB->AddChild(Leaf(&channelB), 75);

  // Each answer is taken "updated" before the next question, as the worker does.
  std::vector<IUpdateItem*> order;
  while (CUpdateQueue* waiting = root.GetWaiting()) {
    IUpdateItem* item = waiting->GetItem();
    ASSERT_NE(item, nullptr);
    order.push_back(item);
    item->SetUpdateState(US_UP_TO_DATE);
    ASSERT_LT(order.size(), 10u);
  }
  EXPECT_EQ(order, (std::vector<IUpdateItem*>{&channelA, &binary, &article2, &channelB}));
  EXPECT_EQ(root.GetCurrentPosition(), 2);
  EXPECT_EQ(root.GetProgress(), 100u);
}

TEST(UpdateQueueNode, ItemStatusAndCurrentNodeFollowThePositions) {
  Item first(US_WAITING), second(US_WAITING), third(US_WAITING), elsewhere;
  CUpdateQueue root;
  CUpdateQueue* n1 = root.AddChild(Leaf(), 100);
  CUpdateQueue* leaf1 = n1->AddItemLeaf(&first, 100);
  CUpdateQueue* n2 = root.AddChild(Leaf(), 100);
  CUpdateQueue* leaf2 = n2->AddItemLeaf(&second, 100);
  CUpdateQueue* n3 = root.AddChild(Leaf(), 100);
  n3->AddItemLeaf(&third, 100);

  EXPECT_EQ(root.GetItemStatus(&first), QS_UPDATING);
  EXPECT_EQ(root.GetItemStatus(&second), QS_WAITING);
  EXPECT_EQ(root.GetItemStatus(&elsewhere), QS_NOT_QUEUED);
  EXPECT_EQ(root.GetItemStatus(nullptr), QS_NOT_QUEUED);
  EXPECT_EQ(root.FindCurrent(), leaf1);

  root.SetCurrentPosition(1);
  EXPECT_EQ(root.GetItemStatus(&first), QS_DONE);
  EXPECT_EQ(root.GetItemStatus(&second), QS_UPDATING);
  EXPECT_EQ(root.GetItemStatus(&third), QS_WAITING);
  EXPECT_EQ(root.FindCurrent(), leaf2);

  EXPECT_EQ(root.GetWaiting(), leaf2);
  second.SetUpdateState(US_UP_TO_DATE);
  third.SetUpdateState(US_UP_TO_DATE);
  EXPECT_EQ(root.GetWaiting(), nullptr);
  EXPECT_EQ(root.FindCurrent(), nullptr);  // past the last child
  EXPECT_EQ(root.GetItemStatus(&third), QS_DONE);
}

TEST(UpdateQueueNode, DestroyingANodeWhoseArticleWaitsStopsItForAManualUpdate) {
  NoChannel owner;
  CArticle waiting(&owner), done(&owner);
  waiting.SetUpdateState(US_WAITING);
  done.SetUpdateState(US_FAILED);
  Item other(US_WAITING);
  {
    CUpdateQueue node;
    node.AddItemLeaf(&waiting, 50);
    node.AddItemLeaf(&done, 50);
    node.AddItemLeaf(&other, 50);
  }
  EXPECT_EQ(waiting.GetOwnUpdateState(), US_UP_TO_DATE);
  EXPECT_EQ(waiting.GetManualUpdateByte(), AMU_ON);
  EXPECT_EQ(done.GetOwnUpdateState(), US_FAILED);  // not waiting: left alone
  EXPECT_EQ(done.GetManualUpdateByte(), AMU_CHANNEL);
  EXPECT_EQ(other.GetOwnUpdateState(), US_WAITING);  // neither a channel nor an article
}

// ---- Channel-level operations on real channels ------------------------------

constexpr char16_t kContent[] = u"\\Content";

class QueueChannelTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFolderTree(kContent));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(kContent, u""));
  }

  // A channel with a name and properties ("" values are left out).
  std::unique_ptr<CChannel> MakeChannel(const std::u16string& name, const std::u16string& type,
                                        const std::u16string& url = u"http://127.0.0.1/feed.xml") {
    auto channel = std::make_unique<CChannel>();
    EXPECT_TRUE(channel->Rename(name));
    CStringToStringMap properties;
    if (!type.empty()) properties[kPropType] = type;
    if (!url.empty()) properties[kPropUrl] = url;
    channel->SetProperties(properties);
    return channel;
  }

  static IArticle* NewArticle(IChannel* channel, const std::u16string& key, std::uint32_t state) {
    plat::FILETIME none{};
    return channel->CreateArticle(GetMd5Hex(key), state, none);
  }
};

std::uint32_t Own(IArticle* article) { return dynamic_cast<CArticle*>(article)->GetOwnUpdateState(); }

std::vector<std::uint32_t> FeedWeights(CChannelUpdateQueue* node) { return Weights(*node->GetFeedQueue()); }

TEST_F(QueueChannelTest, ChannelNodesAreWeightedByTheirKind) {
  struct Case {
    const char16_t* type;
    const char16_t* url;
    std::vector<std::uint32_t> channelWeights;
    std::vector<std::uint32_t> feedWeights;
  };
  const std::vector<Case> cases = {
      {u"@RSS", u"http://127.0.0.1/a.xml", {75, 25}, {80, 20}},
      {u"@rss", u"file:\\a.xml", {75, 25}, {80, 20}},  // feed type in any case; a local feed keeps its leaf
      {u"@Ridudo", u"http://127.0.0.1/t.xml", {10, 90}, {20, 80, 20}},
      {u"@Ridudo", u"FILE:\\Templates\\t.xml", {10, 90}, {80, 20}},
      {u"@Ridudo", u"File://t.xml", {10, 90}, {80, 20}},
      {u"", u"https://127.0.0.1/t.xml", {10, 90}, {20, 80, 20}},  // no "@type": a script channel
      {u"", u"fil", {10, 90}, {20, 80, 20}},
      {u"", u"", {10, 90}, {20, 80, 20}},
      {u"@Other", u"file:\\x", {10, 90}, {80, 20}},
  };
  CUpdateQueue root;
  std::vector<std::unique_ptr<CChannel>> channels;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const std::u16string name = u"Channel " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    channels.push_back(MakeChannel(name, cases[i].type, cases[i].url));
    IChannel* channel = channels.back().get();
    root.AddChannel(channel, false);
    CChannelUpdateQueue* node = root.FindChannelNode(channel);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Weights(*node), cases[i].channelWeights);
    EXPECT_EQ(FeedWeights(node), cases[i].feedWeights);
    EXPECT_EQ(node->GetFeedQueue()->GetItem(), static_cast<IUpdateItem*>(channel));
    EXPECT_EQ(node->GetArticlesQueue()->GetChildCount(), 0);
    auto* thumbnail = dynamic_cast<CChannelThumbnailUpdateQueue*>(
        node->GetFeedQueue()->ChildAt(node->GetFeedQueue()->GetChildCount() - 1));
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->GetChannelName(), name);
    EXPECT_TRUE(node->GetFollowCurrent());
  }
  EXPECT_EQ(Weights(root), std::vector<std::uint32_t>(cases.size(), 100));
  root.DeleteAll();
}

TEST_F(QueueChannelTest, AddChannelQueuesOnceAndChoosesWhatToScan) {
  auto plain = MakeChannel(u"Plain", u"@RSS");
  auto manual = MakeChannel(u"Manual", u"@RSS");
  auto pending = MakeChannel(u"Pending", u"@RSS");
  manual->GetOptions()->SetUseDefaultDownloadOptions(0);
  manual->GetOptions()->SetManualArticlesUpdate(1);
  pending->SetUpdateState(US_UP_TO_DATE);

  CUpdateQueue root;
  root.AddChannel(plain.get(), false);
  root.AddChannel(plain.get(), false);
  root.AddChannel(manual.get(), false);
  root.AddChannel(pending.get(), true);
  ASSERT_EQ(root.GetChildCount(), 3);
  EXPECT_EQ(plain->GetOwnUpdateState(), US_WAITING);
  EXPECT_TRUE(root.FindChannelNode(plain.get())->GetScanArticles());
  EXPECT_EQ(manual->GetOwnUpdateState(), US_WAITING);
  EXPECT_FALSE(root.FindChannelNode(manual.get())->GetScanArticles());
  EXPECT_EQ(pending->GetOwnUpdateState(), US_UP_TO_DATE);  // only its articles
  EXPECT_TRUE(root.FindChannelNode(pending.get())->GetScanArticles());

  EXPECT_EQ(root.GetItemStatus(plain.get()), QS_UPDATING);
  EXPECT_EQ(root.GetItemStatus(manual.get()), QS_WAITING);
  root.RemoveChannel(manual.get());
  EXPECT_EQ(root.FindChannelNode(manual.get()), nullptr);
  EXPECT_EQ(manual->GetOwnUpdateState(), US_UP_TO_DATE);  // taken out while waiting
  EXPECT_EQ(root.GetItemStatus(manual.get()), QS_NOT_QUEUED);
  root.DeleteAll();
  EXPECT_EQ(plain->GetOwnUpdateState(), US_UP_TO_DATE);
}

TEST_F(QueueChannelTest, ArticleNodesHoldTheArticleAndItsWaitingBinaries) {
  auto channel = MakeChannel(u"News", u"@RSS");
  const int user = 0;
  channel->Acquire(&user);
  IArticle* waiting = NewArticle(channel.get(), u"waiting", US_WAITING);
  IArticle* done = NewArticle(channel.get(), u"done", US_UP_TO_DATE);
  IArticle* manual = NewArticle(channel.get(), u"manual", US_UP_TO_DATE);
  ASSERT_NE(waiting, nullptr);
  ASSERT_NE(done, nullptr);
  ASSERT_NE(manual, nullptr);
  waiting->SetImageUrl(u"http://127.0.0.1/a.png");
  waiting->GetBinaries()->AddUrl(u"http://127.0.0.1/b.mp3");
  IBinary* fetched = channel->GetBinarySet()->Lookup(u"http://127.0.0.1/b.mp3");
  ASSERT_NE(fetched, nullptr);
  fetched->SetUpdateState(US_UP_TO_DATE);
  manual->SetManualUpdate(true);

  CUpdateQueue root;
  root.AddArticle(waiting);
  root.AddArticle(done);    // neither waiting nor manual: nothing
  root.AddArticle(manual);  // manual: queued and marked waiting
  root.AddArticle(waiting); // once only
  CChannelUpdateQueue* node = root.FindChannelNode(channel.get());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(channel->GetOwnUpdateState(), US_NEVER_UPDATED);  // an article request leaves the feed alone
  CUpdateQueue* articles = node->GetArticlesQueue();
  ASSERT_EQ(articles->GetChildCount(), 2);
  EXPECT_EQ(Weights(*articles), (std::vector<std::uint32_t>{100, 100}));
  CUpdateQueue* first = articles->ChildAt(0);
  EXPECT_EQ(Weights(*first), (std::vector<std::uint32_t>{50, 50}));
  EXPECT_EQ(first->ChildAt(0)->GetItem(), static_cast<IUpdateItem*>(waiting));
  CUpdateQueue* binaries = first->ChildAt(1);
  ASSERT_NE(dynamic_cast<CBinarySetUpdateQueue*>(binaries), nullptr);
  ASSERT_EQ(binaries->GetChildCount(), 1);  // the fetched one is not waiting
  EXPECT_EQ(Weights(*binaries), (std::vector<std::uint32_t>{100}));
  EXPECT_EQ(binaries->ChildAt(0)->GetItem(),
            static_cast<IUpdateItem*>(channel->GetBinarySet()->Lookup(u"http://127.0.0.1/a.png")));
  EXPECT_EQ(Own(manual), US_WAITING);
  EXPECT_EQ(node->FindArticleNode(manual), 1);
  EXPECT_EQ(node->FindArticleNode(done), -1);

  // The article's binaries are followed: a new waiting one gains a leaf, a
  // removed one loses it.
  waiting->SetImageUrl(u"http://127.0.0.1/c.png");
  ASSERT_EQ(binaries->GetChildCount(), 1);
  EXPECT_EQ(binaries->ChildAt(0)->GetItem(),
            static_cast<IUpdateItem*>(channel->GetBinarySet()->Lookup(u"http://127.0.0.1/c.png")));

  // Taking an article out: a manual one that waits is set to 6 first; one that
  // waits on its own is stopped for a manual update when its node goes.
  root.RemoveArticle(manual);
  EXPECT_EQ(node->FindArticleNode(manual), -1);
  EXPECT_EQ(Own(manual), US_UP_TO_DATE);
  root.RemoveArticle(waiting);
  EXPECT_EQ(articles->GetChildCount(), 0);
  EXPECT_EQ(Own(waiting), US_UP_TO_DATE);
  EXPECT_EQ(waiting->GetManualUpdate(), AMU_ON);
  root.DeleteAll();
  channel->Release(&user, false);
}

TEST_F(QueueChannelTest, ARunWalksChannelsArticlesAndBinariesWithProgress) {
  auto a = MakeChannel(u"A", u"@RSS");
  auto b = MakeChannel(u"B", u"@Ridudo", u"file:\\t.xml");
  // A screen showing A keeps its articles loaded after the queue lets go of it.
  const int screen = 0;
  a->Acquire(&screen);
  CUpdateQueue root;
  root.AddChannel(a.get(), false);
  root.AddChannel(b.get(), false);
  CChannelUpdateQueue* nodeA = root.FindChannelNode(a.get());

  // The feed of A.
  CUpdateQueue* waiting = root.GetWaiting();
  ASSERT_EQ(waiting, nodeA->GetFeedQueue());
  EXPECT_EQ(a->GetUserCount(), 2u);  // the scan acquired the channel for its articles
  a->SetUpdateState(US_UPDATING);
  CUpdateQueue* current = root.FindCurrent();
  ASSERT_EQ(current, nodeA->GetFeedQueue());
  current->ChildAt(0)->SetExpected(1000);
  current->ChildAt(0)->SetReceived(500);
  EXPECT_EQ(root.ChildAt(root.GetCurrentPosition())->GetProgress(), 30u);  // 75 × (80 × 50 ÷ 100) ÷ 100
  // A second download reports into the thumbnail position, a third into a new leaf of 40.
  current->SetCurrentPosition(1);
  current->AddLeaf(kQueueExtraDownloadWeight);
  EXPECT_EQ(FeedWeights(nodeA), (std::vector<std::uint32_t>{80, 20, 40}));
  current->SetCurrentPosition(2);
  current->ChildAt(2)->SetReceived(50);
  // Feed: (100 × 100 + 40 × 50) ÷ 140 = 85; the channel: 75 × 85 ÷ 100.
  EXPECT_EQ(nodeA->GetProgress(), 63u);

  // The feed job creates articles: one to fetch, one done, each with an image.
  IArticle* fetch = NewArticle(a.get(), u"fetch", US_WAITING);
  IArticle* plain = NewArticle(a.get(), u"plain", US_UP_TO_DATE);
  ASSERT_NE(fetch, nullptr);
  ASSERT_NE(plain, nullptr);
  fetch->SetImageUrl(u"http://127.0.0.1/f.png");
  plain->SetImageUrl(u"http://127.0.0.1/p.png");
  ASSERT_EQ(nodeA->GetArticlesQueue()->GetChildCount(), 2);
  EXPECT_EQ(root.GetItemStatus(fetch), QS_WAITING);
  a->SetUpdateState(US_UP_TO_DATE);

  // Then the articles and binaries of A in order.
  std::vector<IUpdateItem*> order;
  IBinary* fetchImage = a->GetBinarySet()->Lookup(u"http://127.0.0.1/f.png");
  IBinary* plainImage = a->GetBinarySet()->Lookup(u"http://127.0.0.1/p.png");
  ASSERT_NE(fetchImage, nullptr);
  ASSERT_NE(plainImage, nullptr);
  while (CUpdateQueue* next = root.GetWaiting()) {
    IUpdateItem* item = next->GetItem();
    if (item == static_cast<IUpdateItem*>(b.get())) break;
    order.push_back(item);
    if (item == static_cast<IUpdateItem*>(fetch)) {
      EXPECT_EQ(root.GetItemStatus(fetch), QS_UPDATING);
      EXPECT_EQ(root.ChildAt(0)->GetProgress(), 75u);  // feed done, first article begun
    }
    item->SetUpdateState(US_UP_TO_DATE);
    ASSERT_LT(order.size(), 10u);
  }
  EXPECT_EQ(order, (std::vector<IUpdateItem*>{fetch, fetchImage, plainImage}));

  // B is on: A is done, its articles too.
  EXPECT_EQ(root.GetCurrentPosition(), 1);
  EXPECT_EQ(root.GetItemStatus(a.get()), QS_DONE);
  EXPECT_EQ(root.GetItemStatus(fetch), QS_DONE);
  EXPECT_EQ(root.GetItemStatus(b.get()), QS_UPDATING);
  EXPECT_EQ(root.GetProgress(), 50u);

  // Re-queuing the finished A: to the end with weight 100, its feed started over.
  CUpdateQueue* feedA = nodeA->GetFeedQueue();
  root.AddChannel(a.get(), false);
  EXPECT_EQ(root.FindChildNode(nodeA), 1);
  EXPECT_EQ(root.GetCurrentPosition(), 0);
  EXPECT_EQ(root.ChildAt(0), root.FindChannelNode(b.get()));
  EXPECT_EQ(Weights(root), (std::vector<std::uint32_t>{100, 100}));
  EXPECT_EQ(nodeA->GetCurrentPosition(), 0);
  EXPECT_EQ(feedA->GetCurrentPosition(), 0);
  EXPECT_EQ(feedA->ChildAt(0)->GetReceived(), 0u);
  EXPECT_EQ(feedA->ChildAt(0)->GetExpected(), 100u);
  EXPECT_EQ(root.GetItemStatus(a.get()), QS_WAITING);

  // Removing B before A is reached keeps A as the next.
  root.RemoveChannel(b.get());
  EXPECT_EQ(b->GetOwnUpdateState(), US_UP_TO_DATE);
  EXPECT_EQ(root.GetCurrentPosition(), 0);
  EXPECT_EQ(root.GetWaiting(), feedA);
  root.DeleteAll();
  EXPECT_EQ(a->GetUserCount(), 1u);
  a->Release(&screen, false);
}

TEST_F(QueueChannelTest, ArticlesOnlyRequestOfAFinishedChannelIsReached) {
  auto a = MakeChannel(u"A", u"@RSS");
  auto b = MakeChannel(u"B", u"@RSS");
  a->GetOptions()->SetUseDefaultDownloadOptions(0);
  a->GetOptions()->SetManualArticlesUpdate(1);  // the feed comes without its articles
  const int user = 0;
  a->Acquire(&user);
  IArticle* later = NewArticle(a.get(), u"later", US_UP_TO_DATE);
  ASSERT_NE(later, nullptr);

  CUpdateQueue root;
  root.AddChannel(a.get(), false);
  root.AddChannel(b.get(), false);
  ASSERT_EQ(root.GetWaiting()->GetItem(), static_cast<IUpdateItem*>(a.get()));
  a->SetUpdateState(US_UP_TO_DATE);
  ASSERT_EQ(root.GetWaiting()->GetItem(), static_cast<IUpdateItem*>(b.get()));
  EXPECT_EQ(root.FindChannelNode(a.get())->GetArticlesQueue()->GetChildCount(), 0);

  // Asking for A's pending articles while B runs: A is reached again after B.
  root.AddChannel(a.get(), true);
  EXPECT_EQ(a->GetOwnUpdateState(), US_UP_TO_DATE);
  b->SetUpdateState(US_UP_TO_DATE);
  CUpdateQueue* next = root.GetWaiting();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->GetItem(), static_cast<IUpdateItem*>(later));
  EXPECT_EQ(Own(later), US_WAITING);
  root.DeleteAll();
  a->Release(&user, false);
}

TEST_F(QueueChannelTest, StoredArticlesAreQueuedOnlyWhenPending) {
  auto channel = MakeChannel(u"Stored", u"@RSS");
  const int user = 0;
  channel->Acquire(&user);
  for (int i = 0; i < 3; ++i) NewArticle(channel.get(), u"old" + std::u16string(1, u'0' + i), US_UP_TO_DATE);
  NewArticle(channel.get(), u"pending", US_WAITING);
  channel->MarkHeadersDirty();
  channel->Release(&user, true);  // saved and unloaded
  ASSERT_EQ(channel->GetArticleSet()->GetCount(), 0);

  CUpdateQueue root;
  root.AddChannel(channel.get(), false);
  ASSERT_EQ(root.GetWaiting(), root.FindChannelNode(channel.get())->GetFeedQueue());
  ASSERT_EQ(channel->GetArticleSet()->GetCount(), 4);
  CUpdateQueue* articles = root.FindChannelNode(channel.get())->GetArticlesQueue();
  ASSERT_EQ(articles->GetChildCount(), 1);
  IArticle* pending = channel->GetArticleSet()->FindById(GetMd5Hex(u"pending"));
  ASSERT_NE(pending, nullptr);
  EXPECT_EQ(articles->ChildAt(0)->ChildAt(0)->GetItem(), static_cast<IUpdateItem*>(pending));
  root.DeleteAll();
}

TEST_F(QueueChannelTest, ArticlesLeavingTheSetLoseTheirNodes) {
  auto channel = MakeChannel(u"Gone", u"@RSS");
  const int user = 0;
  channel->Acquire(&user);
  CUpdateQueue root;
  root.AddChannel(channel.get(), true);
  IArticle* deleted = NewArticle(channel.get(), u"deleted", US_WAITING);
  IArticle* kept = NewArticle(channel.get(), u"kept", US_WAITING);
  ASSERT_EQ(root.GetWaiting()->GetItem(), static_cast<IUpdateItem*>(deleted));
  CChannelUpdateQueue* node = root.FindChannelNode(channel.get());
  ASSERT_EQ(node->GetArticlesQueue()->GetChildCount(), 2);
  deleted->Delete();
  EXPECT_EQ(node->FindArticleNode(deleted), -1);
  EXPECT_EQ(root.GetItemStatus(kept), QS_UPDATING);  // the position stayed on the current child
  // Unloading takes every article out of the set.
  channel->GetArticleSet()->RemoveAll();
  EXPECT_EQ(node->GetArticlesQueue()->GetChildCount(), 0);
  root.DeleteAll();
  channel->Release(&user, false);
}

TEST_F(QueueChannelTest, TheThumbnailNodeStandsForTheChannelImage) {
  auto channel = MakeChannel(u"Pictured", u"@RSS");
  CStringToStringMap properties = channel->GetProperties();
  properties[kPropThumbnail] = u"http://127.0.0.1/logo.png";
  channel->SetProperties(properties);
  CUpdateQueue root;
  root.AddChannel(channel.get(), false);
  CChannelUpdateQueue* node = root.FindChannelNode(channel.get());
  ASSERT_EQ(root.GetWaiting(), node->GetFeedQueue());  // loads the channel, and with it its image
  IBinary* logo = channel->GetBinarySet()->Lookup(u"http://127.0.0.1/logo.png");
  ASSERT_NE(logo, nullptr);
  CUpdateQueue* thumbnail = node->GetFeedQueue()->ChildAt(1);
  EXPECT_EQ(thumbnail->GetItem(), static_cast<IUpdateItem*>(logo));
  EXPECT_EQ(root.GetItemStatus(logo), QS_WAITING);  // after the feed download
  channel->SetUpdateState(US_UP_TO_DATE);
  EXPECT_EQ(root.GetWaiting(), thumbnail);
  logo->SetUpdateState(US_UP_TO_DATE);
  EXPECT_EQ(root.GetWaiting(), nullptr);
  EXPECT_EQ(channel->GetUserCount(), 0u);  // nothing left: released
  root.DeleteAll();
}

TEST_F(QueueChannelTest, EventHandlersWaitForTheTreeLock) {
  auto channel = MakeChannel(u"Locked", u"@RSS");
  const int user = 0;
  channel->Acquire(&user);
  CSynchronized treeLock;
  CUpdateQueue root;
  root.SetLock(&treeLock);
  root.AddChannel(channel.get(), true);
  CUpdateQueue* articles = root.FindChannelNode(channel.get())->GetArticlesQueue();

  std::atomic<bool> created{false};
  treeLock.Lock(u"test", u"", 0);
  std::thread writer([&] {
    NewArticle(channel.get(), u"late", US_WAITING);
    created = true;
  });
  ASSERT_TRUE(orvtest::Eventually([&] { return treeLock.GetWaitingCount() == 1; }));
  EXPECT_FALSE(created.load());  // the handler waits for the lock
  treeLock.Unlock();
  writer.join();
  EXPECT_TRUE(created.load());
  EXPECT_EQ(articles->GetChildCount(), 1);
  root.DeleteAll();
  channel->Release(&user, false);
}

}  // namespace
