#include "today/HDBThread.h"

#include <algorithm>

#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "platform/base/Thread.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"

bool CUnreadArticleFilter::Accepts(IArticle* article) {
  if (!CArticleFilter::Accepts(article)) return false;
  IChannel* channel = article->GetChannel();
  if (channel == nullptr || channel->IsArticleRead(article)) return false;
  return !article->GetTitle().empty();
}

CHDBThread::CHDBThread(CChannelSet* channelSet, WaitFunction wait)
    : channelSet_(channelSet ? channelSet : ::GetChannelSet()),
      channels_(CTodayChannelFilter::GetInstance()),
      wait_(std::move(wait)) {
  if (!wait_) {
    wait_ = [](plat::DWORD count, const plat::HANDLE* handles, plat::DWORD ms) {
      return plat::WaitForMultipleObjects(count, handles, plat::FALSE, ms);
    };
  }
  startEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  stopEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  stoppedEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  snapshot_ = std::make_shared<TodaySnapshot>();
  {
    CSyncLock lock(channelSet_, u"CHDBThread::CHDBThread");
    filter_ = new CUnreadArticleFilter(channelSet_);
  }
  if (startEvent_ && stopEvent_ && stoppedEvent_) {
    thread_ = plat::CreateThread(nullptr, 0, &CHDBThread::ThreadProc, this, 0, nullptr);
  }
}

CHDBThread::~CHDBThread() {
  stop_ = true;
  if (thread_) {
    plat::SetThreadPriority(thread_, plat::THREAD_PRIORITY_NORMAL);
    Start();
    plat::SetEvent(stopEvent_);
    // Every wait of the thread includes the stop event and every loop tests
    // the stop flag, so it ends within one step of its work: no time-out, no
    // killed thread holding the channel set's lock.
    plat::WaitForSingleObject(thread_, plat::INFINITE);
    plat::CloseHandle(thread_);
  }
  CloseStartEvent();
  for (plat::HANDLE* handle : {&stopEvent_, &stoppedEvent_}) {
    if (*handle) plat::CloseHandle(*handle);
    *handle = nullptr;
  }
  CSyncLock lock(channelSet_, u"CHDBThread::~CHDBThread");
  delete filter_;
  filter_ = nullptr;
}

void CHDBThread::Start() {
  std::lock_guard<std::mutex> guard(startLock_);
  if (startEvent_) plat::SetEvent(startEvent_);
}

void CHDBThread::CloseStartEvent() {
  std::lock_guard<std::mutex> guard(startLock_);
  if (startEvent_) plat::CloseHandle(startEvent_);
  startEvent_ = nullptr;
}

bool CHDBThread::HasStartEvent() {
  std::lock_guard<std::mutex> guard(startLock_);
  return startEvent_ != nullptr;
}

int CHDBThread::ComputeStatus() {
  if (channelSet_->IsContentUnavailable()) return kTodayNoStorage;
  return filter_->GetCount() > 0 ? kTodayReady : kTodayNoArticles;
}

int CHDBThread::GetStatus() { return GetSnapshot()->status; }

std::shared_ptr<const TodaySnapshot> CHDBThread::GetSnapshot() {
  std::lock_guard<std::mutex> guard(snapshotLock_);
  return snapshot_;
}

void CHDBThread::AddWatcher(plat::HWND window) {
  std::lock_guard<std::mutex> guard(snapshotLock_);
  if (window && std::find(watchers_.begin(), watchers_.end(), window) == watchers_.end()) watchers_.push_back(window);
}

void CHDBThread::RemoveWatcher(plat::HWND window) {
  std::lock_guard<std::mutex> guard(snapshotLock_);
  watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), window), watchers_.end());
}

void CHDBThread::Publish() {
  if (status_ != kTodayLoading) status_ = ComputeStatus();
  auto next = std::make_shared<TodaySnapshot>();
  next->status = status_;
  const int count = filter_->GetCount();
  next->articles.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    IArticle* article = filter_->GetAt(i);
    if (article == nullptr) continue;
    TodayArticle a;
    if (IChannel* channel = article->GetChannel()) a.channel = channel->GetName();
    a.id = article->GetId();
    a.title = article->GetTitle();
    a.hasDate = article->GetDate(a.date);
    const std::u16string& url = article->GetImageUrl();
    if (!url.empty() && article->GetBinaries() != nullptr) article->GetBinaries()->GetDownloadedFile(url, a.imageFile);
    next->articles.push_back(std::move(a));
  }
  std::vector<plat::HWND> watchers;
  {
    std::lock_guard<std::mutex> guard(snapshotLock_);
    if (snapshot_ && snapshot_->status == next->status && snapshot_->articles == next->articles) return;
    snapshot_ = std::move(next);
    watchers = watchers_;
  }
  for (plat::HWND window : watchers) plat::InvalidateRect(window, nullptr, plat::FALSE);
}

plat::DWORD CHDBThread::ThreadProc(void* self) { return static_cast<CHDBThread*>(self)->Run(); }

plat::DWORD CHDBThread::Run() {
  status_ = kTodayLoading;
  const plat::HANDLE startOrStop[2] = {stopEvent_, startEvent_};
  wait_(2, startOrStop, plat::INFINITE);
  // Passed once: the event is not needed again.
  CloseStartEvent();
  while (!stop_) Cycle();
  status_ = kTodayLoading;
  {
    CSyncLock lock(channelSet_, u"CHDBThread::Run");
    Publish();
  }
  plat::SetEvent(stoppedEvent_);
  return 0;
}

void CHDBThread::Cycle() {
  ++cycles_;
  {
    CSyncLock lock(channelSet_, u"CHDBThread::Cycle");
    channelSet_->SetReadOnly(1);
    channelSet_->Open();
    Publish();
  }
  plat::SetThreadPriority(plat::GetCurrentThread(), plat::THREAD_PRIORITY_BELOW_NORMAL);

  CNotifyToday* notify = CNotifyToday::GetInstance();
  bool reloadAll = false;
  while (!stop_ && !reloadAll) {
    const bool readPending = notify->ReadChanges() == CNotifyToday::kReadThrottled;
    CStringToIntMap names;
    bool all = false;
    notify->TakePending(names, all);
    if (all) break;
    channels_->Load();

    bool worked = false;
    {
      CSyncLock lock(channelSet_, u"CHDBThread::Cycle");
      for (const auto& entry : names) {
        IChannel* channel = channelSet_->FindByName(entry.first);
        if (channel == nullptr) {
          // A channel this process has not seen: the set is read again.
          reloadAll = true;
          break;
        }
        if (!filter_->HasChannel(channel)) continue;  // added below when it is shown
        if (channels_->IsIncluded(entry.first, true)) {
          filter_->RefreshChannel(channel);
        } else {
          filter_->RemoveChannel(channel);
        }
        worked = true;
      }
      if (reloadAll) break;
      // One channel per pass, so that the views fill in step by step.
      for (int i = 0; !worked && i < channelSet_->GetCount(); ++i) {
        IChannel* channel = channelSet_->GetAt(i);
        if (filter_->HasChannel(channel)) {
          if (!channels_->IsIncluded(channel->GetName(), false)) {
            filter_->RemoveChannel(channel);
            worked = true;
          }
          continue;
        }
        if (!channels_->IsIncluded(channel->GetName(), true)) continue;
        filter_->AddChannel(channel);
        worked = true;
      }
      Publish();
    }
    if (worked) continue;
    reloadAll = WaitForWork(readPending);
  }

  plat::SetThreadPriority(plat::GetCurrentThread(), plat::THREAD_PRIORITY_NORMAL);
  CSyncLock lock(channelSet_, u"CHDBThread::Cycle");
  filter_->RemoveAllChannels();
  channelSet_->RemoveAll();
  Publish();
}

bool CHDBThread::WaitForWork(bool readPending) {
  CNotifyToday* notify = CNotifyToday::GetInstance();
  {
    CSyncLock lock(channelSet_, u"CHDBThread::WaitForWork");
    status_ = ComputeStatus();
    Publish();
  }
  ++idles_;
  for (;;) {
    // A notice that came within a second of the last read is read once that
    // second has passed.
    const plat::DWORD delay = readPending ? notify->GetReadDelay() : kStorageCheckMs;
    const plat::HANDLE handles[2] = {stopEvent_, notify->GetEvent()};
    const plat::DWORD count = handles[1] ? 2 : 1;
    const plat::DWORD result = wait_(count, handles, delay);
    if (stop_ || result == plat::WAIT_OBJECT_0) return false;
    if (result == plat::WAIT_OBJECT_0 + 1 || readPending) return false;
    if (result != plat::WAIT_TIMEOUT) return false;

    CSyncLock lock(channelSet_, u"CHDBThread::WaitForWork");
    const int before = status_;
    channelSet_->Open();
    if (status_ != kTodayLoading) status_ = ComputeStatus();
    if (before == kTodayNoStorage && status_ != kTodayNoStorage) {
      status_ = kTodayLoading;  // the storage came back: everything again
      Publish();
      return true;
    }
    Publish();
  }
}
