// The update queue tree: everything the update manager still has to do in the
// current run, in order, with the weights that turn the progress of single
// downloads into a percentage per channel.
//
// The root (held by the update manager) has one CChannelUpdateQueue per queued
// channel, weight 100 each. Below a channel hang its feed work (the feed
// sub-queue, whose item is the channel), its thumbnail and its articles with
// their binaries. A node's current position is the first child not yet
// finished; children before it count as done, later ones as not begun.
//
// Locking: the tree is guarded by the lock given to the root with SetLock (the
// update manager's), always taken after the database lock. The data-bank event
// handlers of channel nodes and binary-set queues run under the database lock
// (deliveries are made under it) and take the tree lock themselves, so the
// order database lock → tree lock holds. Without a lock set nothing is taken.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/DBEventListener.h"

class CSynchronized;
class IArticle;
class IBinarySet;
class IChannel;
class IChannelSet;
class IUpdateItem;
class CChannelUpdateQueue;

// Answers of GetItemStatus.
enum QueueItemStatus : int {
  QS_NOT_QUEUED = 1,
  QS_WAITING = 2,
  QS_UPDATING = 3,
  QS_DONE = 4,
};

// Weights of the tree's nodes.
constexpr std::uint32_t kQueueChannelWeight = 100;        // a channel in the root; a re-queued node
constexpr std::uint32_t kQueueRssFeedWeight = 75;         // feed sub-queue of an "@RSS" channel
constexpr std::uint32_t kQueueRssArticlesWeight = 25;     // articles sub-queue of an "@RSS" channel
constexpr std::uint32_t kQueueScriptFeedWeight = 10;      // feed sub-queue of a script channel
constexpr std::uint32_t kQueueScriptArticlesWeight = 90;  // articles sub-queue of a script channel
constexpr std::uint32_t kQueueRssDownloadWeight = 80;     // the feed download leaf
constexpr std::uint32_t kQueueTemplateWeight = 20;        // template download leaf of a script channel
constexpr std::uint32_t kQueueScriptWeight = 80;          // the script leaf of a script channel
constexpr std::uint32_t kQueueThumbnailWeight = 20;       // the channel's thumbnail
constexpr std::uint32_t kQueueArticleWeight = 100;        // an article node in the articles sub-queue
constexpr std::uint32_t kQueueArticleLeafWeight = 50;     // the article itself
constexpr std::uint32_t kQueueArticleBinariesWeight = 50; // the article's binaries
constexpr std::uint32_t kQueueBinaryWeight = 100;         // one binary
constexpr std::uint32_t kQueueExtraDownloadWeight = 40;   // a download beyond a node's leaves

class CUpdateQueue {
 public:
  // An empty node: received 0, expected 100, position 0.
  explicit CUpdateQueue(IUpdateItem* item = nullptr);
  // Deletes the children. A node whose item still waits (status 2) sets a
  // channel or an article to 6; such an article also waits for a manual update.
  virtual ~CUpdateQueue();
  CUpdateQueue(const CUpdateQueue&) = delete;
  CUpdateQueue& operator=(const CUpdateQueue&) = delete;

  virtual IUpdateItem* GetItem();
  // Percent 0..100: a node without children received × 100 ÷ expected; one
  // whose position is past its last child 100; otherwise the weighted progress
  // of the current child over the finished ones.
  virtual std::uint32_t GetProgress();
  // QS_* for the item: 3 when this node's item is it; else the first child that
  // knows it answers 4 before the current position, its own answer at it, 2 after.
  virtual int GetItemStatus(IUpdateItem* item);
  // The first node with an item along the current positions, or null.
  virtual CUpdateQueue* FindCurrent();
  // The next node whose item waits (status 2), advancing the current position
  // past children that have nothing; null when nothing waits.
  virtual CUpdateQueue* GetWaiting();

  // Appends (owning it); the child's position becomes 0. This node then gained
  // work: see MoveBack. Returns the child.
  CUpdateQueue* AddChild(std::unique_ptr<CUpdateQueue> child, std::uint32_t weight);
  // Appends a new empty leaf (no item) and returns it.
  CUpdateQueue* AddLeaf(std::uint32_t weight);
  // Detaches the child at index (null when out of range); a child before the
  // current position moves the position back by one so it stays on its child.
  std::unique_ptr<CUpdateQueue> RemoveChildAt(int index);
  // Detaches and deletes the child at index.
  void DeleteChildAt(int index);
  // First index whose item is item / whose node is node, else -1.
  int FindChild(IUpdateItem* item);
  int FindChildNode(const CUpdateQueue* node) const;
  CUpdateQueue* ChildAt(int index) const;
  int GetChildCount() const { return static_cast<int>(children_.size()); }
  // True when node is this one or lies below it.
  bool Contains(const CUpdateQueue* node) const;
  // True when this node or one below it stands for the item. Only pointers
  // are compared: an item that has left the tree may be gone already.
  bool HoldsItem(const IUpdateItem* item);
  // A leaf for item: nothing (null) when a child with that item exists at or
  // after the current position; one before it is moved to the end with the new
  // weight; otherwise a new leaf is appended. Returns the leaf placed.
  CUpdateQueue* AddItemLeaf(IUpdateItem* item, std::uint32_t weight);
  // Download figures of a leaf; SetExpected ignores 0.
  void SetReceived(std::uint32_t count);
  void SetExpected(std::uint32_t count);
  std::uint32_t GetReceived() const { return received_; }
  std::uint32_t GetExpected() const { return expected_; }
  // Ignored when out of range; otherwise the node has gained work at index.
  void SetCurrentPosition(int index);
  int GetCurrentPosition() const { return position_; }
  // Recursively: position 0, received 0, expected 100.
  void ResetProgress();
  // Removes and deletes the children, last first.
  void DeleteAll();

  CUpdateQueue* GetParent() const { return parent_; }
  std::uint32_t GetWeightAt(int index) const;
  std::uint32_t GetOffsetAt(int index) const;
  std::uint32_t GetTotalWeight() const { return total_; }
  bool GetFollowCurrent() const { return followCurrent_; }

  // Applied to this node in its parent after it gained work: when the parent
  // has passed it, a parent that follows its current child moves back to it
  // (and the same is applied to the parent), any other parent moves this node
  // to its end with weight 100.
  void MoveBack();

  // Called on the root only (by the update manager under its lock).
  //
  // Finds or appends (weight 100) the channel's node. A normal request marks
  // the channel waiting (2); articlesOnly queues its pending articles instead.
  // A normal request for a channel without manual article updates also queues
  // the pending articles with the feed.
  void AddChannel(IChannel* channel, bool articlesOnly);
  // Finds or appends the node of the article's channel and queues the article
  // when it waits or is marked for a manual update.
  void AddArticle(IArticle* article);
  // Detaches and deletes the channel's node.
  void RemoveChannel(IChannel* channel);
  // Takes the article out of its channel's node; a manual-update article that
  // waits is set to 6.
  void RemoveArticle(IArticle* article);
  // The node of the channel among the root's children, or null.
  CChannelUpdateQueue* FindChannelNode(IChannel* channel);

  // The tree's lock and channel set, set on the root; nodes find them there.
  // No lock: handlers take none. No channel set: a thumbnail node takes the
  // channel of the channel node it belongs to.
  void SetLock(CSynchronized* lock) { lock_ = lock; }
  void SetChannelSet(IChannelSet* set) { channelSet_ = set; }
  CSynchronized* GetTreeLock() const;
  IChannelSet* GetTreeChannelSet() const;

 protected:
  bool IsLeaf() const { return children_.empty(); }
  void SetFollowCurrent(bool follow) { followCurrent_ = follow; }
  const CUpdateQueue* RootNode() const;

 private:
  struct Child {
    std::unique_ptr<CUpdateQueue> node;
    std::uint32_t weight = 0;
    std::uint32_t offset = 0;
  };

  CUpdateQueue* parent_ = nullptr;
  IUpdateItem* item_ = nullptr;
  std::vector<Child> children_;
  std::uint32_t total_ = 0;
  bool followCurrent_ = false;
  std::uint32_t received_ = 0;
  std::uint32_t expected_ = 100;
  int position_ = 0;
  // The item is a channel or an article: set to 6 when destroyed waiting.
  bool resetItemOnDestroy_ = false;
  CSynchronized* lock_ = nullptr;
  IChannelSet* channelSet_ = nullptr;
};

// The waiting binaries of one article (its binary set), 100 each. Follows the
// set: a binary taken out loses its leaf, a waiting binary put in gains one.
class CBinarySetUpdateQueue : public CUpdateQueue, public CDBEventListener {
 public:
  explicit CBinarySetUpdateQueue(IBinarySet* set);
  ~CBinarySetUpdateQueue() override;

  IBinarySet* GetBinarySet() const { return set_; }
  // Appends a leaf for every binary of the set that waits.
  void Fill();
  void OnDBEvent(CDBEvent* record) override;

 private:
  IBinarySet* set_;
  // The channel's binary set behind an article's set, watched for binaries it
  // destroys (null when set_ is the channel's own).
  IBinarySet* backing_ = nullptr;
};

// The channel's image: its item is the binary of the channel's "thumbnail"
// address, looked up anew at each call by the channel's name (none when the
// channel is gone, has no image address or the binary is not loaded).
class CChannelThumbnailUpdateQueue : public CUpdateQueue {
 public:
  explicit CChannelThumbnailUpdateQueue(const std::u16string& channelName);

  IUpdateItem* GetItem() override;
  const std::u16string& GetChannelName() const { return channelName_; }

 private:
  std::u16string channelName_;
};

// One queued channel: the feed sub-queue (item = the channel) and the
// articles sub-queue, one article node per queued article. It follows its
// channel and the channel's article set: a channel waiting again starts its
// feed over, articles taken out lose their nodes, new articles are queued.
class CChannelUpdateQueue : public CUpdateQueue, public CDBEventListener {
 public:
  explicit CChannelUpdateQueue(IChannel* channel);
  // Unsubscribes, deletes the children and releases the channel.
  ~CChannelUpdateQueue() override;

  int GetItemStatus(IUpdateItem* item) override;
  // With the scan-articles flag set, first queues the channel's pending
  // articles; releases the channel when nothing waits.
  CUpdateQueue* GetWaiting() override;

  IChannel* GetChannel() const { return channel_; }
  CUpdateQueue* GetFeedQueue() const { return feed_; }
  CUpdateQueue* GetArticlesQueue() const { return articles_; }
  bool GetScanArticles() const { return scanArticles_; }
  void SetScanArticles(bool scan) { scanArticles_ = scan; }
  // "@type" equals "@RSS" ignoring case; a channel without "@type" is a
  // script channel.
  static bool IsFeedChannel(IChannel* channel);

  // Queues the article when it is marked for a manual update (and then marks
  // it waiting) or when it or one of its binaries waits.
  void ConsiderArticle(IArticle* article);
  // The article's node, re-queued when already passed; a new node holds the
  // article (50) and its waiting binaries (50).
  void AddArticleNode(IArticle* article);
  // Index of the article's node in the articles sub-queue (searched from the
  // last), else -1.
  int FindArticleNode(IArticle* article);
  void RemoveArticleNode(IArticle* article);

  void OnDBEvent(CDBEvent* record) override;

 private:
  void AcquireChannel();

  IChannel* channel_;
  CUpdateQueue* feed_ = nullptr;
  CUpdateQueue* articles_ = nullptr;
  bool scanArticles_ = false;
  // Set while this node acquires the channel: articles read from the headers
  // file are queued by the scan, not as new articles.
  bool acquiring_ = false;
};
