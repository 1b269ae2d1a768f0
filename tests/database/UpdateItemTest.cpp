#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "database/UpdateItem.h"
#include "tests/support/TempDevice.h"

namespace {

// A container as the data model builds them: subscribed to each child and
// counting it in.
class Node : public CUpdateItem {
 public:
  void Adopt(Node* child) {
    Subscribe(child);
    AddChild(child);
  }
  void Drop(Node* child) {
    RemoveChild(child);
    Unsubscribe(child);
  }
  void Subscribe(CDBEventListener* source) override { CUpdateItem::Subscribe(source); }
  void Unsubscribe(CDBEventListener* source) override { CUpdateItem::Unsubscribe(source); }
};

// Watches a node and records the type-1 records it fires.
class Watcher : public CDBEventListener {
 public:
  std::vector<std::uint32_t> oldStatuses;
  void OnDBEvent(CDBEvent* record) override {
    if (record->type == DBE_UPDATE_STATUS_CHANGED) oldStatuses.push_back(record->oldStatus);
  }
};

class UpdateItemTest : public orvtest::DeviceTest {};

TEST_F(UpdateItemTest, CombinedStatusRules) {
  struct Case {
    std::uint32_t own;
    std::vector<std::uint32_t> children;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {7, {}, 7},          {6, {}, 6},          {0, {2, 4}, 0},      {6, {0}, 1},     {2, {1}, 1},
      {2, {5}, 2},         {4, {2}, 3},         {4, {3}, 3},         {6, {4}, 5},     {6, {5}, 5},
      {4, {5}, 4},         {7, {6, 7}, 7},      {6, {2, 4}, 3},      {2, {}, 2},      {4, {}, 4},
  };
  for (const Case& c : cases) {
    Node parent;
    std::vector<std::unique_ptr<Node>> kids;
    parent.SetUpdateState(c.own);
    for (std::uint32_t s : c.children) {
      kids.push_back(std::make_unique<Node>());
      kids.back()->SetUpdateState(s == 1 || s == 3 || s == 5 ? s - 1 : s);
      if (s == 1 || s == 3 || s == 5) {
        // An odd status comes from a grandchild.
        auto grandchild = std::make_unique<Node>();
        grandchild->SetUpdateState(s - 1);
        kids.back()->SetUpdateState(6);
        kids.back()->Adopt(grandchild.get());
        kids.push_back(std::move(grandchild));
        ASSERT_EQ(kids[kids.size() - 2]->GetUpdateStatus(), s);
        parent.Adopt(kids[kids.size() - 2].get());
      } else {
        parent.Adopt(kids.back().get());
      }
    }
    EXPECT_EQ(parent.GetUpdateStatus(), c.expected) << "own " << c.own;
  }
}

TEST_F(UpdateItemTest, SettingStatesFiresType1) {
  Node item;
  Watcher watcher;
  watcher.Subscribe(&item);
  item.SetUpdateState(7);  // unchanged
  EXPECT_TRUE(watcher.oldStatuses.empty());
  item.SetUpdateState(6);
  item.SetUpdateState(6);
  item.SetUpdateState(7);  // both idle, still announced
  EXPECT_EQ(watcher.oldStatuses, (std::vector<std::uint32_t>{7, 6}));
}

// Channel set <- channel <- article, driven through a sequence of states.
TEST_F(UpdateItemTest, StatusTravelsUpThreeLevels) {
  Node root, channel, article;
  root.SetUpdateState(6);
  channel.SetUpdateState(6);
  article.SetUpdateState(6);
  channel.Adopt(&article);
  root.Adopt(&channel);
  Watcher watcher;
  watcher.Subscribe(&root);

  enum Target { kArticle, kChannel, kRoot };
  struct Step {
    Target target;
    std::uint32_t state;
    std::uint32_t article, channel, root;
    std::vector<std::uint32_t> rootFired;  // old statuses announced by the root
  };
  const Step steps[] = {
      {kArticle, 2, 2, 3, 3, {6}},
      {kArticle, 0, 0, 1, 1, {3}},
      {kChannel, 4, 0, 1, 1, {}},   // an updating child outranks the own failure
      {kArticle, 6, 6, 4, 5, {1}},
      {kChannel, 0, 6, 0, 1, {5}},
      {kArticle, 4, 4, 0, 1, {}},
      {kChannel, 6, 4, 5, 5, {1}},
      {kRoot, 2, 4, 5, 2, {5}},
      {kArticle, 6, 6, 6, 2, {}},
      {kRoot, 6, 6, 6, 6, {2}},
      {kArticle, 7, 7, 6, 6, {}},
  };
  Node* nodes[] = {&article, &channel, &root};
  int row = 0;
  for (const Step& s : steps) {
    watcher.oldStatuses.clear();
    nodes[s.target]->SetUpdateState(s.state);
    EXPECT_EQ(article.GetUpdateStatus(), s.article) << "row " << row;
    EXPECT_EQ(channel.GetUpdateStatus(), s.channel) << "row " << row;
    EXPECT_EQ(root.GetUpdateStatus(), s.root) << "row " << row;
    EXPECT_EQ(watcher.oldStatuses, s.rootFired) << "row " << row;
    ++row;
  }
}

TEST_F(UpdateItemTest, ChildrenCountOutBeforeRemoval) {
  Node channel;
  channel.SetUpdateState(6);
  auto article = std::make_unique<Node>();
  article->SetUpdateState(0);
  Watcher watcher;
  watcher.Subscribe(&channel);
  channel.Adopt(article.get());
  EXPECT_EQ(channel.GetUpdateStatus(), 1u);
  EXPECT_EQ(watcher.oldStatuses, std::vector<std::uint32_t>{6});
  channel.Drop(article.get());
  article.reset();
  EXPECT_EQ(channel.GetUpdateStatus(), 6u);
  EXPECT_EQ(channel.GetUpdatingChildren(), 0);
  EXPECT_EQ(channel.GetWaitingChildren(), 0);
  EXPECT_EQ(channel.GetFailedChildren(), 0);
  EXPECT_EQ(watcher.oldStatuses, (std::vector<std::uint32_t>{6, 1}));
}

TEST_F(UpdateItemTest, RecordNamingTheReceiverChangesNoCounter) {
  Node item;
  item.SetUpdateState(6);
  CDBEvent self = CDBEvent::UpdateStatusChanged(&item, 0);
  item.OnDBEvent(&self);
  CDBEvent none = CDBEvent::UpdateStatusChanged(nullptr, 0);
  item.OnDBEvent(&none);
  EXPECT_EQ(item.GetUpdatingChildren(), 0);
  EXPECT_EQ(item.GetUpdateStatus(), 6u);
}

}  // namespace
