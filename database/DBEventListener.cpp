#include "database/DBEventListener.h"

#include <algorithm>

CDBEvent CDBEvent::UpdateStatusChanged(IUpdateItem* item, std::uint32_t oldStatus) {
  CDBEvent e(DBE_UPDATE_STATUS_CHANGED);
  e.item = item;
  e.oldStatus = oldStatus;
  return e;
}

CDBEvent CDBEvent::ForBinary(std::uint32_t eventType, IBinary* binary) {
  CDBEvent e(eventType);
  e.binary = binary;
  return e;
}

CDBEvent CDBEvent::ForBinaryInSet(std::uint32_t eventType, IBinarySet* binarySet, IBinary* binary) {
  CDBEvent e(eventType);
  e.binarySet = binarySet;
  e.binary = binary;
  return e;
}

CDBEvent CDBEvent::BinarySetRefilled(IBinarySet* binarySet) {
  CDBEvent e(DBE_BINARY_SET_REFILLED);
  e.binarySet = binarySet;
  return e;
}

CDBEvent CDBEvent::ForArticle(std::uint32_t eventType, IArticle* article) {
  CDBEvent e(eventType);
  e.article = article;
  return e;
}

CDBEvent CDBEvent::ArticleTitleChanged(IArticle* article, const std::u16string& oldTitle) {
  CDBEvent e(DBE_ARTICLE_TITLE_CHANGED);
  e.article = article;
  e.oldText = oldTitle;
  return e;
}

CDBEvent CDBEvent::ForChannel(std::uint32_t eventType, IChannel* channel) {
  CDBEvent e(eventType);
  e.channel = channel;
  return e;
}

CDBEvent CDBEvent::ChannelRenamed(IChannel* channel, const std::u16string& oldName) {
  CDBEvent e(DBE_CHANNEL_RENAMED);
  e.channel = channel;
  e.oldText = oldName;
  return e;
}

CDBEvent CDBEvent::ChannelAtIndexChanged(std::int32_t index) {
  CDBEvent e(DBE_CHANNEL_AT_INDEX_CHANGED);
  e.index = index;
  return e;
}

CDBEvent CDBEvent::ChannelListChanged() { return CDBEvent(DBE_CHANNEL_LIST_CHANGED); }

CDBEvent CDBEvent::FilterRebuilt(CArticleFilter* filter) {
  CDBEvent e(DBE_FILTER_REBUILT);
  e.filter = filter;
  return e;
}

CDBEvent CDBEvent::ArticleRowChanged(IArticleSet* articleSet, IArticle* article) {
  CDBEvent e(DBE_ROW_CHANGED);
  e.articleSet = articleSet;
  e.article = article;
  return e;
}

CDBEvent CDBEvent::FilterRowChanged(CArticleFilter* filter, std::int32_t index) {
  CDBEvent e(DBE_ROW_CHANGED);
  e.filter = filter;
  e.index = index;
  return e;
}

CDBEventListener::~CDBEventListener() = default;

void CDBEventListener::Subscribe(CDBEventListener* source) {
  if (source != nullptr) source->AddListener(this);
}

void CDBEventListener::Unsubscribe(CDBEventListener* source) {
  if (source != nullptr) source->RemoveListener(this);
}

void CDBEventListener::AddListener(CDBEventListener* listener) {
  if (depth_ > 0) {
    pendingAdditions_.push_back(listener);
  } else {
    listeners_.insert(listener);
  }
}

void CDBEventListener::RemoveListener(CDBEventListener* listener) {
  if (depth_ > 0) {
    pendingRemovals_.push_back(listener);
  } else {
    listeners_.erase(listener);
  }
}

bool CDBEventListener::HasListener(const CDBEventListener* listener) const {
  return listeners_.count(const_cast<CDBEventListener*>(listener)) != 0;
}

bool CDBEventListener::IsRemovedDuringDelivery(const CDBEventListener* listener) const {
  return std::find(pendingRemovals_.begin(), pendingRemovals_.end(), listener) != pendingRemovals_.end();
}

void CDBEventListener::Fire(CDBEvent* record) {
  ++depth_;
  // The set does not change while depth_ > 0, but a handler may fire again
  // from this source; each delivery walks its own copy.
  const std::vector<CDBEventListener*> targets(listeners_.begin(), listeners_.end());
  for (CDBEventListener* listener : targets) {
    // A listener taken out during this delivery may already be gone.
    if (!pendingRemovals_.empty() && IsRemovedDuringDelivery(listener)) continue;
    try {
      listener->OnDBEvent(record);
    } catch (...) {
      // The failing listener loses this event; the others still get it.
    }
  }
  --depth_;
  if (depth_ == 0) {
    std::vector<CDBEventListener*> removals;
    std::vector<CDBEventListener*> additions;
    removals.swap(pendingRemovals_);
    additions.swap(pendingAdditions_);
    for (CDBEventListener* listener : removals) listeners_.erase(listener);
    for (CDBEventListener* listener : additions) listeners_.insert(listener);
  }
}

void CDBEventListener::OnDBEvent(CDBEvent*) {}
