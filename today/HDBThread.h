// The Today item's data: a background thread that loads the channel set of
// the content folder in read-only mode, feeds the channels the Today channel
// selection shows into a filter of unread articles, and then follows the
// change notices of the programs that write the database (CNotifyToday) to
// reload single channels or everything.
//
// The thread holds the channel set's lock through its loads, and a load
// waits for a channel's files while another program holds them (up to the
// channel mutex's time-out). The views never wait for that: after every
// step the thread copies what they show (the status and the filter's
// articles) into a snapshot, which the host's UI thread reads under a short
// lock of its own; the windows that show it are repainted when it changes.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/ArticleFilter.h"
#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "platform/base/Types.h"
#include "platform/windows/Windows.h"

class CChannelSet;
class CTodayChannelFilter;

// Unread articles with a title, of the channels given to the filter.
class CUnreadArticleFilter : public CArticleFilter {
 public:
  explicit CUnreadArticleFilter(CChannelSet* channelSet) : CArticleFilter(channelSet) {}
  bool Accepts(IArticle* article) override;
};

enum TodayStatus : int {
  kTodayLoading = 2,
  kTodayNoStorage = 3,
  kTodayNoArticles = 4,
  kTodayReady = 5,
};

// One article as the views show it, copied from the filter.
struct TodayArticle {
  std::u16string channel;
  std::u16string id;
  std::u16string title;
  std::u16string imageFile;  // the downloaded file of its image, or empty
  plat::FILETIME date{};
  bool hasDate = false;
  bool operator==(const TodayArticle& o) const {
    return channel == o.channel && id == o.id && title == o.title && imageFile == o.imageFile &&
           hasDate == o.hasDate && date.dwLowDateTime == o.date.dwLowDateTime &&
           date.dwHighDateTime == o.date.dwHighDateTime;
  }
};

// What the views show: the status and, in the filter's order, the articles.
struct TodaySnapshot {
  int status = 2;  // kTodayLoading
  std::vector<TodayArticle> articles;
};

class CHDBThread {
 public:
  // How often the content folder is checked again while the thread waits.
  static constexpr plat::DWORD kStorageCheckMs = 3000;
  // The thread's waits: WaitForMultipleObjects (any one) in production; tests
  // answer time-outs at once.
  using WaitFunction = std::function<plat::DWORD(plat::DWORD count, const plat::HANDLE* handles, plat::DWORD ms)>;

  // channelSet: null for the process's channel set. The thread starts and
  // waits for Start before it reads anything.
  explicit CHDBThread(CChannelSet* channelSet = nullptr, WaitFunction wait = nullptr);
  // Stops the thread: every wait of it ends at the stop event, so the join is
  // short; the filter is deleted under the channel set's lock.
  ~CHDBThread();
  CHDBThread(const CHDBThread&) = delete;
  CHDBThread& operator=(const CHDBThread&) = delete;

  bool IsRunning() const { return thread_ != nullptr; }
  // Lets the thread read the database (after the item's first paint).
  void Start();
  // False once the thread has passed the start event and closed it.
  bool HasStartEvent();
  // 2 while loading, else 3 when the content folder cannot be reached, 5
  // when the filter holds articles, else 4: the snapshot's status, never
  // waiting for the channel set's lock.
  int GetStatus();
  // The latest snapshot (never null); it does not change once taken.
  std::shared_ptr<const TodaySnapshot> GetSnapshot();
  // Windows repainted (InvalidateRect) whenever the snapshot changes.
  void AddWatcher(plat::HWND window);
  void RemoveWatcher(plat::HWND window);
  // Read under the channel set's lock (by the data thread; tests).
  CUnreadArticleFilter* GetFilter() { return filter_; }
  CChannelSet* GetChannelSet() { return channelSet_; }
  // How many full loads of the channel set the thread began (tests).
  int GetCycleCount() const { return cycles_; }
  // How many times the thread went to its wait with nothing left to do (tests).
  int GetIdleCount() const { return idles_; }

 private:
  static plat::DWORD ThreadProc(void* self);
  plat::DWORD Run();
  void Cycle();
  // Waits for a notice, a stop or the return of the storage. True: reload
  // everything.
  bool WaitForWork(bool readPending);
  int ComputeStatus();
  // With the channel set's lock held: the status recomputed (unless it is
  // loading) and the snapshot taken from the filter; watchers are told when
  // it changed.
  void Publish();

  CChannelSet* channelSet_;
  CTodayChannelFilter* channels_;
  WaitFunction wait_;
  plat::HANDLE thread_ = nullptr;
  void CloseStartEvent();
  std::mutex startLock_;  // the start event is closed by the thread, set by the UI thread
  plat::HANDLE startEvent_ = nullptr;
  plat::HANDLE stopEvent_ = nullptr;
  plat::HANDLE stoppedEvent_ = nullptr;
  std::atomic<bool> stop_{false};
  CUnreadArticleFilter* filter_ = nullptr;
  std::atomic<int> status_{kTodayLoading};
  std::mutex snapshotLock_;  // the snapshot and the watchers; held only to copy a pointer
  std::shared_ptr<const TodaySnapshot> snapshot_;
  std::vector<plat::HWND> watchers_;
  std::atomic<int> cycles_{0};
  std::atomic<int> idles_{0};
};
