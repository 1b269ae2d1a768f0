// The program's one update scheduler. The interface asks it to update a
// channel, an article or every channel; it keeps the requests in the update
// queue tree, runs one update job at a time on its own worker thread, opens
// and closes the data connection for each run of updates and posts its
// registered message to the windows that listen whenever its state changes.
//
// Lock order: the database lock (the channel set's) before the manager's own
// lock, never the reverse. Jobs run with neither lock held. No HTTP session is
// cancelled or deleted while the manager's lock is held: the connection
// manager's thread calls OnInetEvent, which takes that lock, and a root
// session's cancel or deletion waits for such a call to end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/Synchronized.h"
#include "database/DBEventListener.h"
#include "platform/base/Handle.h"
#include "platform/base/Types.h"
#include "update/http/InetSession.h"

namespace plat {
struct HWND__;
using HWND = HWND__*;
}  // namespace plat

class CFeedsAhead;
class CInetJob;
class CInetManager;
class CUpdateJob;
class CUpdateQueue;
class IArticle;
class IChannel;
class IChannelSet;
class IUpdateItem;

// What GetState reports.
struct UpdateManagerState {
  std::int32_t updating = 0;    // a run is open
  std::int32_t connecting = 0;  // the run waits for its data connection
  std::uint32_t bytes = 0;      // bytes downloaded in this run
  std::int32_t percent = 0;     // progress of the root's current channel (0..100)
  std::int32_t count = 0;       // queued channels while updating, else 0
  std::int32_t position = 0;    // current channel + 1 while updating, else 0
};

// Status codes of GetUpdateItemStatus and GetChannelStatus.
enum UpdateQueueStatus : int {
  UQS_NOT_QUEUED = 1,
  UQS_WAITING = 2,
  UQS_UPDATING = 3,
  UQS_DONE = 4,
};

class CUpdateManager : public IInetEventListener, public CDBEventListener, public CSynchronized {
 public:
  // Protocol of the registered message sent to the first listener (lParam 1).
  static constexpr plat::WPARAM kAskNoConnection = 0;  // no connection could be made; answer ignored
  static constexpr plat::WPARAM kAskPaidConnection = 1;  // may a paid connection be used? non-zero: yes

  // The process-wide manager; the first call creates it and its worker.
  static CUpdateManager* GetInstance();

  // A manager of its own over a channel set and a connection manager (null:
  // the process's), its worker already running. The process uses GetInstance.
  explicit CUpdateManager(IChannelSet* channels = nullptr, CInetManager* inet = nullptr);
  // Shuts down when that was not done yet.
  ~CUpdateManager() override;
  CUpdateManager(const CUpdateManager&) = delete;
  CUpdateManager& operator=(const CUpdateManager&) = delete;

  bool IsUpdating();
  // Updating, or asked to update by a request the worker has not taken up
  // yet (its run has not begun): what a caller that would end the program or
  // drop the update lock must wait for.
  bool HasWork();
  void GetState(UpdateManagerState* state);
  int GetUpdateItemStatus(IUpdateItem* item);
  int GetChannelStatus(const std::u16string& channelName);

  // Posts every listener its message: wParam 1 when the updating flag changed
  // since the last post, else 0; lParam 0.
  void StatusChanged();
  // A window already listed gets its message replaced.
  void AddEventListener(plat::HWND window, plat::UINT message);
  void RemoveEventListener(plat::HWND window);

  // Requests return at once; the worker does the work. articlesOnly non-zero
  // queues only the channel's pending articles.
  void UpdateChannel(IChannel* channel, int articlesOnly = 0);
  void UpdateArticle(IArticle* article);
  void UpdateAllChannels(int articlesOnly);

  void StopUpdatingChannel(IChannel* channel);
  void StopUpdatingArticle(IArticle* article);
  void StopUpdatingAllChannels();

  // Stops everything and waits for the worker to end. Requests made
  // afterwards are queued but never run.
  void Shutdown_();

  // A removed channel (event 20) stops being updated.
  void OnDBEvent(CDBEvent* record) override;
  // Connection state and download progress of the running work.
  void OnInetEvent(int code, CInetJob* job) override;

  IChannelSet* GetChannels() const { return channels_; }

  // Called on the worker, with no lock held, each time it found the queue
  // empty and is about to close the run (tests make requests from it).
  void SetRunClosingHookForTesting(std::function<void()> hook) { runClosingHook_ = std::move(hook); }
  // The most body bytes the downloads ahead of a run may hold (from the
  // next run on; 0: their default).
  void SetAheadByteBudgetForTesting(std::size_t bytes) {
    CSyncLock hold(this, u"CUpdateManager::SetAheadByteBudgetForTesting");
    aheadByteBudget_ = bytes;
  }

 private:
  enum class StartOutcome { kConnected, kStopped, kFailed };

  static plat::DWORD ThreadProc(void* self);
  void WorkerLoop();
  // Under the database lock: the next waiting item, or null.
  IUpdateItem* GetWaiting();
  // Under the database lock (held by the caller since GetWaiting): the job for
  // the item, its session attached; null when it is no longer waiting or no
  // updater handles it (then it is marked failed).
  CUpdateJob* PrepareJob(IUpdateItem* item);
  void RunJob(CUpdateJob* job);
  void StartUpdatingProcess();
  // Closes the run when nothing was requested since the worker found the
  // queue empty; false (run kept open) otherwise.
  bool StopUpdatingProcess();
  // Closes a run that was stopped or lost its connection while requests made
  // afterwards wait; they start the next run.
  void RestartRun();
  // The connection went away during the run: the user hears that there is
  // no connection, the channels still waiting fail and everything queued is
  // taken out, so the worker closes the run.
  void EndLostRun();
  // Clears the run's flags and hands out its session and its downloads
  // ahead, to be released (the downloads first) once the lock is left.
  // Caller holds the database lock and this one.
  std::shared_ptr<CInetSession> EndRunLocked(std::shared_ptr<CFeedsAhead>& ahead);
  // The run's downloads ahead, made on the first job of a connected run
  // unless "ParallelDownloads" is 0. Worker only, no lock held.
  std::shared_ptr<CFeedsAhead> AheadForRun(const std::shared_ptr<CInetSession>& run);
  // Offers the downloads ahead the feeds of the channels that wait in the
  // queue, in queue order, while it has room. Takes the database lock and
  // this one.
  void LookAhead(CFeedsAhead& ahead);
  // Marks every channel still waiting in the queue as failed.
  void FailQueuedChannels();
  // Tells the first listener that there is no connection, then fails the
  // channels still waiting. Takes the locks itself; none held on entry.
  void TellNoConnectionAndFailQueued();
  // Cancels (and drops this manager's hold of) a session with the manager's
  // lock released.
  static void CancelOutsideLock(const std::shared_ptr<CInetSession>& session);
  void StoreLastUpdateTime();
  static IChannel* ChannelOfItem(IUpdateItem* item);
  void PostStatusLocked();

  IChannelSet* channels_;
  CInetManager* inet_;

  std::shared_ptr<CInetSession> runSession_;
  std::shared_ptr<CInetSession> jobSession_;
  CUpdateJob* job_ = nullptr;
  // The channel of the running job when its item is a channel.
  IChannel* jobChannel_ = nullptr;
  // The item of the running job as the queue handed it out, and whether a
  // stop request reached the job (its item may be gone then).
  IUpdateItem* jobItem_ = nullptr;
  bool jobStopped_ = false;
  // Items a job of this run left waiting once (only compared, never read).
  std::set<const IUpdateItem*> leftWaiting_;
  // Feed bodies fetched ahead of the jobs of the open run.
  std::shared_ptr<CFeedsAhead> ahead_;
  std::size_t aheadByteBudget_ = 0;  // 0: the downloads' own default
  std::int32_t shutdown_ = 0;
  plat::HANDLE workEvent_ = nullptr;
  plat::HANDLE workerFinished_ = nullptr;
  plat::HANDLE thread_ = nullptr;
  std::int32_t updating_ = 0;
  std::int32_t lastPostedUpdating_ = 0;
  std::int32_t connecting_ = 0;
  std::int32_t cancel_ = 0;
  std::uint32_t bytes_ = 0;
  struct Listener {
    plat::HWND window;
    plat::UINT message;
  };
  std::vector<Listener> listeners_;
  std::unique_ptr<CUpdateQueue> root_;
  std::int32_t downloadIndex_ = 0;
  std::int32_t fullUpdate_ = 0;
  // The run's byte total when the current download started.
  std::uint32_t bytesAtDownloadStart_ = 0;
  // Raised by every request; lets the worker see a request that arrived
  // after it found the queue empty.
  std::uint64_t requestSerial_ = 0;
  std::uint64_t serialWhenEmpty_ = 0;
  bool subscribed_ = false;
  std::function<void()> runClosingHook_;
  bool shutDownDone_ = false;
};
