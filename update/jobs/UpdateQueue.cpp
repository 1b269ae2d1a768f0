#include "update/jobs/UpdateQueue.h"

#include <algorithm>

#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelOptions.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "platform/base/Text.h"

// ---------------------------------------------------------------------------
// CUpdateQueue

CUpdateQueue::CUpdateQueue(IUpdateItem* item) : item_(item) {
  if (item_ != nullptr) {
    resetItemOnDestroy_ = dynamic_cast<IChannel*>(item_) != nullptr || dynamic_cast<IArticle*>(item_) != nullptr;
  }
}

CUpdateQueue::~CUpdateQueue() {
  DeleteAll();
  // Only channels and articles are looked at: a binary leaf may outlive its
  // binary by the time the tree is torn down.
  if (!resetItemOnDestroy_ || item_ == nullptr) return;
  if (item_->GetUpdateStatus() != US_WAITING) return;
  if (auto* article = dynamic_cast<IArticle*>(item_)) {
    article->SetUpdateState(US_UP_TO_DATE);
    article->SetManualUpdate(true);
  } else {
    item_->SetUpdateState(US_UP_TO_DATE);
  }
}

IUpdateItem* CUpdateQueue::GetItem() { return item_; }

std::uint32_t CUpdateQueue::GetProgress() {
  if (children_.empty()) {
    const std::uint64_t expected = expected_ != 0 ? expected_ : 100;
    const std::uint64_t percent = static_cast<std::uint64_t>(received_) * 100 / expected;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(percent, 100));
  }
  if (position_ >= GetChildCount()) return 100;
  if (total_ == 0) return 0;
  const Child& current = children_[static_cast<std::size_t>(position_)];
  const std::uint64_t done = static_cast<std::uint64_t>(current.offset) * 100 +
                             static_cast<std::uint64_t>(current.weight) * current.node->GetProgress();
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(done / total_, 100));
}

int CUpdateQueue::GetItemStatus(IUpdateItem* item) {
  if (item == nullptr) return QS_NOT_QUEUED;
  if (GetItem() == item) return QS_UPDATING;
  for (int i = 0; i < GetChildCount(); ++i) {
    const int status = children_[static_cast<std::size_t>(i)].node->GetItemStatus(item);
    if (status == QS_NOT_QUEUED) continue;
    if (i < position_) return QS_DONE;
    if (i == position_) return status;
    return QS_WAITING;
  }
  return QS_NOT_QUEUED;
}

CUpdateQueue* CUpdateQueue::FindCurrent() {
  if (GetItem() != nullptr) return this;
  CUpdateQueue* current = ChildAt(position_);
  return current != nullptr ? current->FindCurrent() : nullptr;
}

CUpdateQueue* CUpdateQueue::GetWaiting() {
  IUpdateItem* item = GetItem();
  if (item != nullptr && item->GetUpdateStatus() == US_WAITING) return this;
  // The children may change under the search (a channel node queues its
  // articles when asked), so the count is read again each round.
  while (position_ >= 0 && position_ < GetChildCount()) {
    CUpdateQueue* waiting = children_[static_cast<std::size_t>(position_)].node->GetWaiting();
    if (waiting != nullptr) return waiting;
    ++position_;
  }
  return nullptr;
}

CUpdateQueue* CUpdateQueue::AddChild(std::unique_ptr<CUpdateQueue> child, std::uint32_t weight) {
  if (child == nullptr) return nullptr;
  CUpdateQueue* node = child.get();
  node->parent_ = this;
  node->position_ = 0;
  Child entry;
  entry.node = std::move(child);
  entry.weight = weight;
  entry.offset = total_;
  total_ += weight;
  children_.push_back(std::move(entry));
  MoveBack();
  return node;
}

CUpdateQueue* CUpdateQueue::AddLeaf(std::uint32_t weight) {
  return AddChild(std::make_unique<CUpdateQueue>(), weight);
}

std::unique_ptr<CUpdateQueue> CUpdateQueue::RemoveChildAt(int index) {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  if (index < position_) --position_;
  const auto at = children_.begin() + index;
  std::unique_ptr<CUpdateQueue> node = std::move(at->node);
  const std::uint32_t weight = at->weight;
  children_.erase(at);
  total_ -= weight;
  for (std::size_t i = static_cast<std::size_t>(index); i < children_.size(); ++i) children_[i].offset -= weight;
  node->parent_ = nullptr;
  return node;
}

void CUpdateQueue::DeleteChildAt(int index) {
  std::unique_ptr<CUpdateQueue> node = RemoveChildAt(index);
  node.reset();
}

int CUpdateQueue::FindChild(IUpdateItem* item) {
  for (int i = 0; i < GetChildCount(); ++i) {
    if (children_[static_cast<std::size_t>(i)].node->GetItem() == item) return i;
  }
  return -1;
}

int CUpdateQueue::FindChildNode(const CUpdateQueue* node) const {
  for (int i = 0; i < GetChildCount(); ++i) {
    if (children_[static_cast<std::size_t>(i)].node.get() == node) return i;
  }
  return -1;
}

CUpdateQueue* CUpdateQueue::ChildAt(int index) const {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  return children_[static_cast<std::size_t>(index)].node.get();
}

bool CUpdateQueue::Contains(const CUpdateQueue* node) const {
  for (const CUpdateQueue* n = node; n != nullptr; n = n->parent_) {
    if (n == this) return true;
  }
  return false;
}

bool CUpdateQueue::HoldsItem(const IUpdateItem* item) {
  if (item == nullptr) return false;
  if (GetItem() == item) return true;
  for (Child& child : children_) {
    if (child.node->HoldsItem(item)) return true;
  }
  return false;
}

CUpdateQueue* CUpdateQueue::AddItemLeaf(IUpdateItem* item, std::uint32_t weight) {
  const int index = FindChild(item);
  if (index >= position_) return nullptr;
  if (index >= 0) return AddChild(RemoveChildAt(index), weight);
  return AddChild(std::make_unique<CUpdateQueue>(item), weight);
}

void CUpdateQueue::SetReceived(std::uint32_t count) { received_ = count; }

void CUpdateQueue::SetExpected(std::uint32_t count) {
  if (count != 0) expected_ = count;
}

void CUpdateQueue::SetCurrentPosition(int index) {
  if (index < 0 || index >= GetChildCount()) return;
  position_ = index;
  MoveBack();
}

void CUpdateQueue::ResetProgress() {
  position_ = 0;
  received_ = 0;
  expected_ = 100;
  for (Child& child : children_) child.node->ResetProgress();
}

void CUpdateQueue::DeleteAll() {
  while (!children_.empty()) DeleteChildAt(GetChildCount() - 1);
}

std::uint32_t CUpdateQueue::GetWeightAt(int index) const {
  if (index < 0 || index >= GetChildCount()) return 0;
  return children_[static_cast<std::size_t>(index)].weight;
}

std::uint32_t CUpdateQueue::GetOffsetAt(int index) const {
  if (index < 0 || index >= GetChildCount()) return 0;
  return children_[static_cast<std::size_t>(index)].offset;
}

void CUpdateQueue::MoveBack() {
  CUpdateQueue* node = this;
  while (CUpdateQueue* parent = node->parent_) {
    const int index = parent->FindChildNode(node);
    if (index < 0 || index >= parent->position_) return;
    if (!parent->followCurrent_) {
      // AddChild applies the same to the parent, which has gained work too.
      parent->AddChild(parent->RemoveChildAt(index), kQueueChannelWeight);
      return;
    }
    parent->position_ = index;
    node = parent;
  }
}

const CUpdateQueue* CUpdateQueue::RootNode() const {
  const CUpdateQueue* node = this;
  while (node->parent_ != nullptr) node = node->parent_;
  return node;
}

CSynchronized* CUpdateQueue::GetTreeLock() const { return RootNode()->lock_; }

IChannelSet* CUpdateQueue::GetTreeChannelSet() const { return RootNode()->channelSet_; }

CChannelUpdateQueue* CUpdateQueue::FindChannelNode(IChannel* channel) {
  if (channel == nullptr) return nullptr;
  for (Child& child : children_) {
    auto* node = dynamic_cast<CChannelUpdateQueue*>(child.node.get());
    if (node != nullptr && node->GetChannel() == channel) return node;
  }
  return nullptr;
}

void CUpdateQueue::AddChannel(IChannel* channel, bool articlesOnly) {
  if (channel == nullptr) return;
  CChannelUpdateQueue* node = FindChannelNode(channel);
  if (node == nullptr) {
    node = static_cast<CChannelUpdateQueue*>(
        AddChild(std::make_unique<CChannelUpdateQueue>(channel), kQueueChannelWeight));
  }
  if (articlesOnly) {
    node->SetScanArticles(true);
    // The articles are found when the node is reached: a node already passed
    // in this run goes to the end again so that it is reached.
    node->MoveBack();
    return;
  }
  // A channel done earlier in this run: the change to waiting starts its feed
  // over and moves its node to the end (the node's status handler).
  channel->SetUpdateState(US_WAITING);
  IChannelOptions* options = channel->GetOptions();
  if (options == nullptr || options->GetManualArticlesUpdate() == 0) node->SetScanArticles(true);
}

void CUpdateQueue::AddArticle(IArticle* article) {
  if (article == nullptr) return;
  IChannel* channel = article->GetChannel();
  if (channel == nullptr) return;
  CChannelUpdateQueue* node = FindChannelNode(channel);
  if (node == nullptr) {
    node = static_cast<CChannelUpdateQueue*>(
        AddChild(std::make_unique<CChannelUpdateQueue>(channel), kQueueChannelWeight));
  }
  node->ConsiderArticle(article);
}

void CUpdateQueue::RemoveChannel(IChannel* channel) {
  CChannelUpdateQueue* node = FindChannelNode(channel);
  if (node != nullptr) DeleteChildAt(FindChildNode(node));
}

void CUpdateQueue::RemoveArticle(IArticle* article) {
  if (article == nullptr) return;
  CChannelUpdateQueue* node = FindChannelNode(article->GetChannel());
  if (node == nullptr) return;
  if (article->GetManualUpdate() != 0 && article->GetUpdateStatus() == US_WAITING) {
    article->SetUpdateState(US_UP_TO_DATE);
  }
  node->RemoveArticleNode(article);
}

// ---------------------------------------------------------------------------
// CBinarySetUpdateQueue

CBinarySetUpdateQueue::CBinarySetUpdateQueue(IBinarySet* set) : set_(set) {
  Subscribe(set_);
  // The channel's own set also announces binaries it destroys outright.
  IChannel* channel = set_ != nullptr ? set_->GetChannel() : nullptr;
  backing_ = channel != nullptr ? channel->GetBinarySet() : nullptr;
  if (backing_ == set_) backing_ = nullptr;
  Subscribe(backing_);
}

CBinarySetUpdateQueue::~CBinarySetUpdateQueue() {
  Unsubscribe(backing_);
  Unsubscribe(set_);
}

void CBinarySetUpdateQueue::Fill() {
  if (set_ == nullptr) return;
  CStringSet urls;
  set_->CopyEntries(urls);
  for (const auto& url : urls) {
    IBinary* binary = set_->Lookup(url);
    if (binary != nullptr && binary->GetUpdateStatus() == US_WAITING) AddItemLeaf(binary, kQueueBinaryWeight);
  }
}

void CBinarySetUpdateQueue::OnDBEvent(CDBEvent* record) {
  if (record == nullptr || record->binary == nullptr) return;
  CSyncLock lock(GetTreeLock(), u"CBinarySetUpdateQueue::OnDBEvent");
  IUpdateItem* binary = record->binary;
  if (record->type == DBE_BINARY_REMOVED) {
    const int index = FindChild(binary);
    if (index >= 0) DeleteChildAt(index);
  } else if (record->type == DBE_BINARY_ADDED) {
    if (record->binarySet == set_ && binary->GetUpdateStatus() == US_WAITING) AddItemLeaf(binary, kQueueBinaryWeight);
  }
}

// ---------------------------------------------------------------------------
// CChannelThumbnailUpdateQueue

CChannelThumbnailUpdateQueue::CChannelThumbnailUpdateQueue(const std::u16string& channelName)
    : channelName_(channelName) {}

IUpdateItem* CChannelThumbnailUpdateQueue::GetItem() {
  IChannel* channel = nullptr;
  if (IChannelSet* set = GetTreeChannelSet()) {
    channel = set->FindByName(channelName_);
  } else {
    for (CUpdateQueue* node = GetParent(); node != nullptr; node = node->GetParent()) {
      if (auto* channelNode = dynamic_cast<CChannelUpdateQueue*>(node)) {
        IChannel* candidate = channelNode->GetChannel();
        if (candidate != nullptr && candidate->GetName() == channelName_) channel = candidate;
        break;
      }
    }
  }
  if (channel == nullptr) return nullptr;
  const std::u16string url = channel->GetThumbnail();
  if (url.empty()) return nullptr;
  IBinarySet* binaries = channel->GetBinarySet();
  IBinary* binary = binaries != nullptr ? binaries->Lookup(url) : nullptr;
  return binary;
}

// ---------------------------------------------------------------------------
// CChannelUpdateQueue

bool CChannelUpdateQueue::IsFeedChannel(IChannel* channel) {
  if (channel == nullptr) return false;
  const CStringToStringMap& properties = channel->GetProperties();
  const auto type = properties.find(kPropType);
  return type != properties.end() && plat::EqualsNoCase(type->second, kChannelTypeRss);
}

CChannelUpdateQueue::CChannelUpdateQueue(IChannel* channel) : channel_(channel) {
  SetFollowCurrent(true);
  const bool feed = IsFeedChannel(channel_);
  auto feedQueue = std::make_unique<CUpdateQueue>(channel_);
  if (feed) {
    feedQueue->AddLeaf(kQueueRssDownloadWeight);
  } else {
    std::u16string url;
    if (channel_ != nullptr) {
      const CStringToStringMap& properties = channel_->GetProperties();
      const auto found = properties.find(kPropUrl);
      if (found != properties.end()) url = found->second;
    }
    const bool local = url.size() >= 4 && plat::EqualsNoCase(std::u16string_view(url).substr(0, 4), u"file");
    if (!local) feedQueue->AddLeaf(kQueueTemplateWeight);
    feedQueue->AddLeaf(kQueueScriptWeight);
  }
  const std::u16string name = channel_ != nullptr ? channel_->GetName() : std::u16string();
  feedQueue->AddChild(std::make_unique<CChannelThumbnailUpdateQueue>(name), kQueueThumbnailWeight);
  feed_ = AddChild(std::move(feedQueue), feed ? kQueueRssFeedWeight : kQueueScriptFeedWeight);
  articles_ = AddLeaf(feed ? kQueueRssArticlesWeight : kQueueScriptArticlesWeight);
  if (channel_ != nullptr) {
    Subscribe(channel_);
    Subscribe(channel_->GetArticleSet());
  }
}

CChannelUpdateQueue::~CChannelUpdateQueue() {
  if (channel_ != nullptr) {
    Unsubscribe(channel_->GetArticleSet());
    Unsubscribe(channel_);
  }
  DeleteAll();
  feed_ = nullptr;
  articles_ = nullptr;
  if (channel_ != nullptr) channel_->Release(this, false);
  channel_ = nullptr;
}

void CChannelUpdateQueue::AcquireChannel() {
  if (channel_ == nullptr) return;
  const bool was = acquiring_;
  acquiring_ = true;
  channel_->Acquire(this);
  acquiring_ = was;
}

int CChannelUpdateQueue::GetItemStatus(IUpdateItem* item) {
  if (item == nullptr || channel_ == nullptr) return QS_NOT_QUEUED;
  if (auto* channel = dynamic_cast<IChannel*>(item)) return channel == channel_ ? QS_UPDATING : QS_NOT_QUEUED;
  IChannel* owner = nullptr;
  if (auto* article = dynamic_cast<IArticle*>(item)) {
    owner = article->GetChannel();
  } else if (auto* binary = dynamic_cast<IBinary*>(item)) {
    IBinarySet* set = binary->GetBinarySet();
    owner = set != nullptr ? set->GetChannel() : nullptr;
  } else {
    return QS_NOT_QUEUED;
  }
  return owner == channel_ ? CUpdateQueue::GetItemStatus(item) : QS_NOT_QUEUED;
}

CUpdateQueue* CChannelUpdateQueue::GetWaiting() {
  if (scanArticles_ && channel_ != nullptr) {
    AcquireChannel();
    IArticleSet* set = channel_->GetArticleSet();
    for (int i = 0; set != nullptr && i < set->GetCount(); ++i) ConsiderArticle(set->GetAt(i));
    scanArticles_ = false;
  }
  CUpdateQueue* waiting = CUpdateQueue::GetWaiting();
  if (waiting == nullptr && channel_ != nullptr) channel_->Release(this, true);
  return waiting;
}

void CChannelUpdateQueue::ConsiderArticle(IArticle* article) {
  if (article == nullptr || articles_ == nullptr || article->IsDeleted()) return;
  const std::uint32_t status = article->GetUpdateStatus();
  const bool manual = article->GetManualUpdate() != 0;
  if (!manual && status != US_WAITING && status != US_CHILD_WAITING) return;
  AcquireChannel();
  AddArticleNode(article);
  if (manual) article->SetUpdateState(US_WAITING);
}

int CChannelUpdateQueue::FindArticleNode(IArticle* article) {
  if (articles_ == nullptr || article == nullptr) return -1;
  IUpdateItem* item = article;
  for (int i = articles_->GetChildCount() - 1; i >= 0; --i) {
    CUpdateQueue* leaf = articles_->ChildAt(i)->ChildAt(0);
    if (leaf != nullptr && leaf->GetItem() == item) return i;
  }
  return -1;
}

void CChannelUpdateQueue::AddArticleNode(IArticle* article) {
  if (articles_ == nullptr || article == nullptr) return;
  const int index = FindArticleNode(article);
  if (index >= 0) {
    if (index >= articles_->GetCurrentPosition()) return;
    articles_->AddChild(articles_->RemoveChildAt(index), kQueueArticleWeight);
    return;
  }
  auto node = std::make_unique<CUpdateQueue>();
  node->AddItemLeaf(article, kQueueArticleLeafWeight);
  auto binaries = std::make_unique<CBinarySetUpdateQueue>(article->GetBinaries());
  binaries->Fill();
  node->AddChild(std::move(binaries), kQueueArticleBinariesWeight);
  articles_->AddChild(std::move(node), kQueueArticleWeight);
}

void CChannelUpdateQueue::RemoveArticleNode(IArticle* article) {
  const int index = FindArticleNode(article);
  if (index >= 0) articles_->DeleteChildAt(index);
}

void CChannelUpdateQueue::OnDBEvent(CDBEvent* record) {
  if (record == nullptr || channel_ == nullptr) return;
  CSyncLock lock(GetTreeLock(), u"CChannelUpdateQueue::OnDBEvent");
  switch (record->type) {
    case DBE_UPDATE_STATUS_CHANGED:
      if (record->item == static_cast<IUpdateItem*>(channel_) && channel_->GetUpdateStatus() == US_WAITING) {
        if (feed_ != nullptr) feed_->ResetProgress();
        if (GetChildCount() > 0) SetCurrentPosition(0);
      }
      break;
    case DBE_ARTICLE_DELETED:
    case DBE_ARTICLE_TAKEN_OUT:
      if (record->article != nullptr) RemoveArticleNode(record->article);
      break;
    case DBE_ARTICLE_ADDED: {
      IArticle* article = record->article;
      // Articles read from the headers file while this node loads the channel
      // are the scan's to consider, not new ones.
      if (article == nullptr || acquiring_ || article->GetManualUpdate() != 0) break;
      const std::uint32_t status = article->GetUpdateStatus();
      if (status == US_UP_TO_DATE || status == US_WAITING || status == US_CHILD_WAITING) AddArticleNode(article);
      break;
    }
    default:
      break;
  }
}
