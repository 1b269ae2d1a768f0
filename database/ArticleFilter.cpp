#include "database/ArticleFilter.h"

#include <algorithm>

#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"

namespace {

bool IsBusy(std::uint32_t status) { return status == US_CHILD_UPDATING || status == US_CHILD_WAITING; }

}  // namespace

CArticleFilter::CArticleFilter(CChannelSet* channelSet) : channelSet_(channelSet) {
  if (channelSet_ == nullptr) return;
  CSyncLock lock(channelSet_, u"CArticleFilter::CArticleFilter");
  Subscribe(channelSet_);
}

CArticleFilter::~CArticleFilter() {
  if (channelSet_ != nullptr) {
    CSyncLock lock(channelSet_, u"CArticleFilter::~CArticleFilter");
    Unsubscribe(channelSet_);
  }
  Clear();
}

bool CArticleFilter::Accepts(IArticle* article) {
  if (article == nullptr || article->IsDeleted()) return false;
  return ContainsChannel(article->GetChannel());
}

bool CArticleFilter::ComesBefore(IArticle* a, IArticle* b) {
  plat::FILETIME dateA{};
  plat::FILETIME dateB{};
  const bool datedA = a->GetDate(dateA);
  const bool datedB = b->GetDate(dateB);
  if (datedA != datedB) return datedA;
  if (datedA) {
    const long byDate = plat::CompareFileTime(&dateA, &dateB);
    if (byDate != 0) return byDate > 0;
  }
  const std::uint32_t orderA = a->GetOrder();
  const std::uint32_t orderB = b->GetOrder();
  if (orderA != orderB) return orderA > orderB;
  if (!datedA) return false;
  IChannel* channelA = a->GetChannel();
  IChannel* channelB = b->GetChannel();
  const std::u16string nameA = channelA != nullptr ? channelA->GetName() : std::u16string();
  const std::u16string nameB = channelB != nullptr ? channelB->GetName() : std::u16string();
  return plat::CompareNoCase(nameA, nameB) > 0;
}

IArticle* CArticleFilter::GetAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return list_[static_cast<std::size_t>(index)];
}

int CArticleFilter::IndexOf(const IArticle* article) const {
  if (article == nullptr) return -1;
  const auto it = std::find(list_.begin(), list_.end(), article);
  return it == list_.end() ? -1 : static_cast<int>(it - list_.begin());
}

int CArticleFilter::FindIndexById(const std::u16string& id) const {
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i]->GetId() == id) return static_cast<int>(i);
  }
  return -1;
}

IArticle* CArticleFilter::FindById(const std::u16string& id) const { return GetAt(FindIndexById(id)); }

bool CArticleFilter::ContainsChannel(const IChannel* channel) const {
  if (channel == nullptr) return false;
  return std::find(channels_.begin(), channels_.end(), channel) != channels_.end();
}

void CArticleFilter::AddChannel(IChannel* channel) {
  if (channel == nullptr || ContainsChannel(channel)) return;
  channels_.push_back(channel);
  channel->Acquire(this);
  Subscribe(channel->GetArticleSet());
  ListArticlesOf(channel);
  Sort();
  FireRebuilt();
}

void CArticleFilter::ListArticlesOf(IChannel* channel) {
  IArticleSet* articles = channel->GetArticleSet();
  if (articles == nullptr) return;
  const int count = articles->GetCount();
  for (int i = 0; i < count; ++i) Insert(articles->GetAt(i));
}

void CArticleFilter::UnlistArticlesOf(IChannel* channel) {
  std::vector<IArticle*> kept;
  kept.reserve(list_.size());
  for (IArticle* article : list_) {
    if (article->GetChannel() == channel) {
      if (article->GetManualUpdate() != 0 && manualCount_ > 0) --manualCount_;
    } else {
      kept.push_back(article);
    }
  }
  list_.swap(kept);
}

bool CArticleFilter::RefreshChannel(IChannel* channel) {
  if (!ContainsChannel(channel)) return false;
  Unsubscribe(channel->GetArticleSet());
  // Unlisted before the release, which may free the loaded articles.
  UnlistArticlesOf(channel);
  channel->Release(this, false);
  channel->Acquire(this);
  Subscribe(channel->GetArticleSet());
  ListArticlesOf(channel);
  Sort();
  FireRebuilt();
  return true;
}

void CArticleFilter::ForgetChannel(IChannel* channel) {
  Unsubscribe(channel->GetArticleSet());
  channel->Release(this, false);
}

void CArticleFilter::RemoveChannel(IChannel* channel) {
  const auto it = std::find(channels_.begin(), channels_.end(), channel);
  if (channel == nullptr || it == channels_.end()) return;
  channels_.erase(it);
  Unsubscribe(channel->GetArticleSet());
  UnlistArticlesOf(channel);
  channel->Release(this, false);
  Sort();
  FireRebuilt();
}

void CArticleFilter::SetChannel(IChannel* channel) {
  if (channel != nullptr && channels_.size() == 1 && channels_.front() == channel) return;
  Clear();
  AddChannel(channel);
}

void CArticleFilter::Clear() {
  std::vector<IChannel*> channels;
  channels.swap(channels_);
  list_.clear();
  manualCount_ = 0;
  for (IChannel* channel : channels) ForgetChannel(channel);
}

bool CArticleFilter::Insert(IArticle* article) {
  if (!Accepts(article) || IndexOf(article) >= 0) return false;
  list_.push_back(article);
  if (article->GetManualUpdate() != 0) ++manualCount_;
  return true;
}

void CArticleFilter::Remove(IArticle* article, bool notify) {
  const int index = IndexOf(article);
  if (index < 0) return;
  if (article->GetManualUpdate() != 0 && manualCount_ > 0) --manualCount_;
  list_.erase(list_.begin() + index);
  if (notify) {
    Sort();
    FireRebuilt();
  }
}

void CArticleFilter::Resort() { Sort(); }

void CArticleFilter::Sort() {
  if (list_.size() > 1) std::sort(list_.begin(), list_.end(), &CArticleFilter::ComesBefore);
}

void CArticleFilter::DeleteAll() {
  if (!list_.empty()) {
    std::vector<IArticle*> articles;
    articles.swap(list_);
    manualCount_ = 0;
    for (IArticle* article : articles) article->Delete();
    // Deleting fires events that may list an article again for a moment;
    // none of them is live now.
    std::vector<IArticle*> kept;
    for (IArticle* article : list_) {
      if (Accepts(article)) kept.push_back(article);
    }
    list_.swap(kept);
    manualCount_ = 0;
    for (IArticle* article : list_) {
      if (article->GetManualUpdate() != 0) ++manualCount_;
    }
  }
  FireRebuilt();
}

void CArticleFilter::MarkAllRead() {
  for (IChannel* channel : std::vector<IChannel*>(channels_)) channel->MarkAllRead();
  FireRebuilt();
}

bool CArticleFilter::HasUpdatableArticles() {
  CSyncLock lock(channelSet_, u"CArticleFilter::HasUpdatableArticles");
  if (manualCount_ != 0) return true;
  for (IChannel* channel : channels_) {
    IArticleSet* articles = channel->GetArticleSet();
    if (articles != nullptr && IsBusy(articles->GetUpdateStatus())) return true;
    IBinarySet* binaries = channel->GetBinarySet();
    if (binaries != nullptr && IsBusy(binaries->GetUpdateStatus())) return true;
  }
  return false;
}

void CArticleFilter::FireRebuilt() {
  CDBEvent record = CDBEvent::FilterRebuilt(this);
  Fire(&record);
}

void CArticleFilter::FireRow(int index) {
  CDBEvent record = CDBEvent::FilterRowChanged(this, index);
  Fire(&record);
}

void CArticleFilter::OnDBEvent(CDBEvent* record) {
  if (record != nullptr) {
    IArticle* article = record->article;
    switch (record->type) {
      case DBE_ARTICLE_DELETED:
        Remove(article, true);
        break;
      case DBE_ARTICLE_TITLE_CHANGED:
      case DBE_ARTICLE_DATE_CHANGED: {
        const bool listed = IndexOf(article) >= 0;
        const bool accepted = Accepts(article);
        if (!listed && !accepted) break;
        if (!listed) {
          Insert(article);
        } else if (!accepted) {
          Remove(article, false);
        }
        Sort();
        FireRebuilt();
        break;
      }
      case DBE_ARTICLE_IMAGE_CHANGED:
      case DBE_ROW_CHANGED:
        if (record->articleSet != nullptr) {
          const int index = IndexOf(article);
          if (index >= 0) FireRow(index);
        }
        break;
      case DBE_ARTICLE_TAKEN_OUT:
        Remove(article, false);
        break;
      case DBE_ARTICLE_MANUAL_UPDATE_CHANGED:
        // Only listed articles are counted.
        if (IndexOf(article) >= 0) {
          if (article->GetManualUpdate() != 0) {
            ++manualCount_;
          } else if (manualCount_ > 0) {
            --manualCount_;
          }
        }
        break;
      case DBE_ARTICLE_READ_CHANGED: {
        const int index = IndexOf(article);
        if (index >= 0) FireRow(index);
        break;
      }
      case DBE_ARTICLE_ADDED:
        if (Insert(article)) {
          Sort();
          FireRebuilt();
        }
        break;
      case DBE_CHANNEL_REMOVED:
        RemoveChannel(record->channel);
        break;
      default:
        break;
    }
  }
  CDBEventListener::OnDBEvent(record);
}

namespace {

// The channel set for a process-wide filter. The Today notifier and the set
// are made first so that they are destroyed after the filter: releasing its
// channels at exit saves them, which tells the Today item.
CChannelSet* SetOutlivingFilter() {
  CNotifyToday::GetInstance();
  return GetChannelSet();
}

}  // namespace

CArticleFilter* GetArticleFilter() {
  static CArticleFilter filter(SetOutlivingFilter());
  return &filter;
}
