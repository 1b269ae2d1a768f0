#include "database/ChannelsFilter.h"

#include "database/ChannelSet.h"

namespace {

ChannelInfo MakeRow(IChannel* channel) {
  ChannelInfo row;
  row.channel = channel;
  row.name = channel->GetName();
  row.imageFile = channel->GetThumbnailFile();
  const CStringToStringMap& properties = channel->GetProperties();
  const auto kind = properties.find(kPropType);
  if (kind != properties.end()) row.kind = kind->second;
  row.unreadCount = channel->GetUnreadCount();
  row.updateState = static_cast<std::int32_t>(channel->GetUpdateStatus());
  return row;
}

}  // namespace

CChannelsFilter::CChannelsFilter(CChannelSet* channelSet) : channelSet_(channelSet) {
  if (channelSet_ == nullptr) return;
  CSyncLock lock(channelSet_, u"CChannelsFilter::CChannelsFilter");
  Subscribe(channelSet_);
  Rebuild();
}

CChannelsFilter::~CChannelsFilter() {
  if (channelSet_ == nullptr) return;
  CSyncLock lock(channelSet_, u"CChannelsFilter::~CChannelsFilter");
  Unsubscribe(channelSet_);
}

int CChannelsFilter::GetCount() {
  CSyncLock lock(this, u"CChannelsFilter::GetCount");
  return static_cast<int>(rows_.size());
}

int CChannelsFilter::FindByName(const std::u16string& name) {
  CSyncLock lock(this, u"CChannelsFilter::FindByName");
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

bool CChannelsFilter::GetEntry(int index, ChannelInfo& row) {
  CSyncLock lock(this, u"CChannelsFilter::GetEntry");
  if (index < 0 || index >= static_cast<int>(rows_.size())) return false;
  row = rows_[static_cast<std::size_t>(index)];
  return true;
}

int CChannelsFilter::UpdateEntry(IChannel* channel) {
  if (channel == nullptr) return -1;
  CSyncLock lock(this, u"CChannelsFilter::UpdateEntry");
  ChannelInfo row = MakeRow(channel);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].name == row.name) {
      rows_[i] = std::move(row);
      return static_cast<int>(i);
    }
  }
  rows_.push_back(std::move(row));
  return static_cast<int>(rows_.size()) - 1;
}

void CChannelsFilter::Rebuild() {
  {
    CSyncLock lock(this, u"CChannelsFilter::Rebuild");
    rebuilding_ = 1;
    rows_.clear();
    if (channelSet_ != nullptr) {
      const int count = channelSet_->GetCount();
      for (int i = 0; i < count; ++i) UpdateEntry(channelSet_->GetAt(i));
    }
    rebuilding_ = 0;
  }
  NotifyAll();
}

void CChannelsFilter::NotifyAll() {
  ForEachListener([](IChannelsFilterListener* listener) { listener->OnChannelsChanged(); });
}

void CChannelsFilter::NotifyRow(int index) {
  ForEachListener([index](IChannelsFilterListener* listener) { listener->OnChannelChanged(index); });
}

void CChannelsFilter::OnDBEvent(CDBEvent* record) {
  if (record != nullptr) {
    switch (record->type) {
      case DBE_CHANNEL_REMOVED: {
        bool removed = false;
        if (record->channel != nullptr) {
          CSyncLock lock(this, u"CChannelsFilter::OnDBEvent");
          const std::u16string& name = record->channel->GetName();
          for (auto it = rows_.begin(); it != rows_.end(); ++it) {
            if (it->name == name) {
              rows_.erase(it);
              removed = true;
              break;
            }
          }
        }
        if (removed) NotifyAll();
        break;
      }
      case DBE_CHANNEL_AT_INDEX_CHANGED: {
        if (rebuilding_ != 0 || channelSet_ == nullptr) break;
        const int index = UpdateEntry(channelSet_->GetAt(record->index));
        if (index >= 0) NotifyRow(index);
        break;
      }
      case DBE_CHANNEL_LIST_CHANGED:
        Rebuild();
        break;
      default:
        break;
    }
  }
  CDBEventListener::OnDBEvent(record);
}

CChannelsFilter* GetChannelsFilter() {
  static CChannelsFilter filter(GetChannelSet());
  return &filter;
}
