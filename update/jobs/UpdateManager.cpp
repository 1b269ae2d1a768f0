#include "update/jobs/UpdateManager.h"

#include <mutex>

#include "core/DebugLog.h"
#include "core/ProductStrings.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/GlobalOptions.h"
#include "platform/base/Sync.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/base/Time.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "update/http/FeedsAhead.h"
#include "update/http/InetJob.h"
#include "update/http/InetManager.h"
#include "update/feed/FetchedFeeds.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdateJob.h"
#include "update/jobs/UpdateQueue.h"
#include "update/jobs/UpdatersManager.h"

using namespace plat;

namespace {

constexpr char16_t kUpdateLockedValue[] = u"UpdateLocked";
// A download without a usable length is shown as received ÷ (received + C).
constexpr double kUnknownLengthBase = 14999.999999999996;
constexpr std::uint32_t kNoLengthProgressTotal = 1024;

void DeleteUpdateLocked() {
  HKEY key = nullptr;
  std::u16string path = GetProductRegistryKey();
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, 0, &key) == 0 && key) {
    RegDeleteValueW(key, kUpdateLockedValue);
    RegCloseKey(key);
  }
}

}  // namespace

CUpdateManager* CUpdateManager::GetInstance() {
  // Lives to the end of the process; Shutdown_ stops its worker.
  static CUpdateManager* instance = new CUpdateManager();
  return instance;
}

CUpdateManager::CUpdateManager(IChannelSet* channels, CInetManager* inet)
    : channels_(channels ? channels : GetChannelSet()),
      inet_(inet ? inet : &CInetManager::GetInstance()),
      root_(std::make_unique<CUpdateQueue>()) {
  root_->SetLock(this);
  root_->SetChannelSet(channels_);
  workEvent_ = CreateLocalEvent(true, false);
  workerFinished_ = CreateLocalEvent(false, false);
  thread_ = CreateThread(nullptr, 0, &CUpdateManager::ThreadProc, this, 0, nullptr);
}

CUpdateManager::~CUpdateManager() {
  if (!shutDownDone_) Shutdown_();
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  std::shared_ptr<CInetSession> session;
  std::shared_ptr<CFeedsAhead> ahead;
  {
    CSyncLock db(channels_, u"CUpdateManager::~CUpdateManager");
    CSyncLock hold(this, u"CUpdateManager::~CUpdateManager");
    root_->DeleteAll();
    if (subscribed_) {
      Unsubscribe(channels_);
      subscribed_ = false;
    }
    ahead = std::move(ahead_);
    session = std::move(runSession_);
    listeners_.clear();
  }
  ahead.reset();
  session.reset();
  CloseHandle(workEvent_);
  CloseHandle(workerFinished_);
}

DWORD CUpdateManager::ThreadProc(void* self) {
  static_cast<CUpdateManager*>(self)->WorkerLoop();
  return 0;
}

bool CUpdateManager::IsUpdating() {
  CSyncLock hold(this, u"CUpdateManager::IsUpdating");
  return updating_ != 0;
}

bool CUpdateManager::HasWork() {
  CSyncLock hold(this, u"CUpdateManager::HasWork");
  return updating_ != 0 || requestSerial_ != serialWhenEmpty_;
}

void CUpdateManager::GetState(UpdateManagerState* state) {
  if (!state) return;
  CSyncLock hold(this, u"CUpdateManager::GetState");
  state->updating = updating_;
  state->connecting = connecting_;
  state->bytes = bytes_;
  int position = root_->GetCurrentPosition();
  int count = root_->GetChildCount();
  if (position < count) {
    state->percent = static_cast<std::int32_t>(root_->ChildAt(position)->GetProgress());
  } else {
    state->percent = count > 0 ? 100 : 0;
  }
  state->count = updating_ ? count : 0;
  state->position = updating_ ? position + 1 : 0;
}

int CUpdateManager::GetUpdateItemStatus(IUpdateItem* item) {
  if (!item) return UQS_NOT_QUEUED;
  CSyncLock hold(this, u"CUpdateManager::GetUpdateItemStatus");
  return root_->GetItemStatus(item);
}

int CUpdateManager::GetChannelStatus(const std::u16string& channelName) {
  CSyncLock db(channels_, u"CUpdateManager::GetChannelStatus");
  IChannel* channel = channels_->FindByName(channelName);
  if (!channel) return UQS_NOT_QUEUED;
  CSyncLock hold(this, u"CUpdateManager::GetChannelStatus");
  return root_->GetItemStatus(channel);
}

void CUpdateManager::StatusChanged() {
  CSyncLock hold(this, u"CUpdateManager::StatusChanged");
  PostStatusLocked();
}

void CUpdateManager::PostStatusLocked() {
  WPARAM changed = updating_ != lastPostedUpdating_ ? 1 : 0;
  for (const Listener& l : listeners_) PostMessageW(l.window, l.message, changed, 0);
  lastPostedUpdating_ = updating_;
}

void CUpdateManager::AddEventListener(HWND window, UINT message) {
  CSyncLock hold(this, u"CUpdateManager::AddEventListener");
  for (Listener& l : listeners_) {
    if (l.window == window) {
      l.message = message;
      return;
    }
  }
  listeners_.push_back({window, message});
}

void CUpdateManager::RemoveEventListener(HWND window) {
  CSyncLock hold(this, u"CUpdateManager::RemoveEventListener");
  for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
    if (it->window == window) {
      listeners_.erase(it);
      return;
    }
  }
}

void CUpdateManager::UpdateChannel(IChannel* channel, int articlesOnly) {
  if (!channel) return;
  {
    // Marking the channel waiting fires data-bank events, which are made
    // under the database lock.
    CSyncLock db(channels_, u"CUpdateManager::UpdateChannel");
    CSyncLock hold(this, u"CUpdateManager::UpdateChannel");
    root_->AddChannel(channel, articlesOnly != 0);
    ++requestSerial_;
  }
  StatusChanged();
  SetEvent(workEvent_);
}

void CUpdateManager::UpdateArticle(IArticle* article) {
  if (!article) return;
  {
    CSyncLock db(channels_, u"CUpdateManager::UpdateArticle");
    CSyncLock hold(this, u"CUpdateManager::UpdateArticle");
    root_->AddArticle(article);
    ++requestSerial_;
  }
  StatusChanged();
  SetEvent(workEvent_);
}

void CUpdateManager::UpdateAllChannels(int articlesOnly) {
  if (articlesOnly == 0) {
    CSyncLock hold(this, u"CUpdateManager::UpdateAllChannels");
    fullUpdate_ = 1;
  }
  CSyncLock db(channels_, u"CUpdateManager::UpdateAllChannels");
  int count = channels_->GetCount();
  for (int i = 0; i < count; ++i) UpdateChannel(channels_->GetAt(i), articlesOnly);
}

IChannel* CUpdateManager::ChannelOfItem(IUpdateItem* item) {
  if (!item) return nullptr;
  if (auto* channel = dynamic_cast<IChannel*>(item)) return channel;
  if (auto* article = dynamic_cast<IArticle*>(item)) return article->GetChannel();
  if (auto* binary = dynamic_cast<IBinary*>(item)) {
    IBinarySet* set = binary->GetBinarySet();
    return set ? set->GetChannel() : nullptr;
  }
  return nullptr;
}

void CUpdateManager::StopUpdatingChannel(IChannel* channel) {
  if (!channel) return;
  {
    CSyncLock db(channels_, u"CUpdateManager::StopUpdatingChannel");
    CSyncLock hold(this, u"CUpdateManager::StopUpdatingChannel");
    if (job_) {
      IUpdateItem* item = job_->GetItem();
      if (item && ChannelOfItem(item) == channel) {
        // A child session never waits for the connection thread, so it may
        // be cancelled under the lock; the blocked download returns first.
        if (jobSession_) jobSession_->Cancel();
        job_->Stop();
        jobStopped_ = true;
        // A stopped item waits again; taking its node out below decides what
        // becomes of it (a channel or an article is idle again, an article
        // then waits for a manual update, a binary waits for the next run).
        if (item->GetUpdateStatus() == US_UPDATING) item->SetUpdateState(US_WAITING);
      } else {
        // Taken out of the run: a channel left waiting or updating is idle
        // again; a failure or a finished update stays as it is.
        std::uint32_t status = channel->GetUpdateStatus();
        if (status == US_UPDATING || status == US_WAITING) channel->SetUpdateState(US_UP_TO_DATE);
      }
    }
    // Its feed fetched ahead, or coming, is not wanted now.
    if (ahead_) ahead_->Forget(channel);
    root_->RemoveChannel(channel);
  }
  StatusChanged();
}

void CUpdateManager::StopUpdatingArticle(IArticle* article) {
  if (!article) return;
  {
    CSyncLock db(channels_, u"CUpdateManager::StopUpdatingArticle");
    CSyncLock hold(this, u"CUpdateManager::StopUpdatingArticle");
    if (job_) {
      IUpdateItem* item = job_->GetItem();
      bool ours = item == static_cast<IUpdateItem*>(article);
      if (!ours && item) {
        if (auto* binary = dynamic_cast<IBinary*>(item)) {
          IBinarySet* set = binary->GetBinarySet();
          IBinarySet* articleBinaries = article->GetBinaries();
          ours = set && set->GetChannel() == article->GetChannel() && articleBinaries &&
                 articleBinaries->Lookup(binary->GetUrl()) != nullptr;
        }
      }
      if (ours) {
        if (jobSession_) jobSession_->Cancel();
        job_->Stop();
        jobStopped_ = true;
        if (item->GetUpdateStatus() == US_UPDATING) item->SetUpdateState(US_WAITING);
      }
    }
    root_->RemoveArticle(article);
  }
  StatusChanged();
}

void CUpdateManager::CancelOutsideLock(const std::shared_ptr<CInetSession>& session) {
  if (session) session->Cancel();
}

void CUpdateManager::StoreLastUpdateTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  now.wSecond = 0;
  now.wMilliseconds = 0;
  FILETIME time{};
  if (SystemTimeToFileTime(&now, &time)) GetGlobalOptions().SetLastUpdateTime(&time);
}

void CUpdateManager::StopUpdatingAllChannels() {
  CSyncLock db(channels_, u"CUpdateManager::StopUpdatingAllChannels");
  std::shared_ptr<CInetSession> session;
  {
    CSyncLock hold(this, u"CUpdateManager::StopUpdatingAllChannels");
    // Only an open run is cancelled: a stop while idle would otherwise stay
    // behind and end the next request's run before it begins.
    if (updating_) cancel_ = 1;
    session = runSession_;
  }
  // A root session's cancel waits for a connection-state call into it, which
  // takes the manager's lock: cancel it with that lock released.
  CancelOutsideLock(session);
  int count = channels_->GetCount();
  for (int i = 0; i < count; ++i) StopUpdatingChannel(channels_->GetAt(i));
  bool full;
  {
    CSyncLock hold(this, u"CUpdateManager::StopUpdatingAllChannels");
    full = fullUpdate_ != 0;
    fullUpdate_ = 0;
  }
  if (full) StoreLastUpdateTime();
  DeleteUpdateLocked();
}

void CUpdateManager::Shutdown_() {
  {
    CSyncLock hold(this, u"CUpdateManager::Shutdown_");
    if (shutDownDone_) return;
  }
  StopUpdatingAllChannels();
  {
    CSyncLock hold(this, u"CUpdateManager::Shutdown_");
    shutdown_ = 1;
    shutDownDone_ = true;
    SetEvent(workEvent_);
  }
  if (!thread_) return;
  // The worker may be asking a window of this thread a question: answer sent
  // messages while waiting.
  while (WaitForSingleObject(workerFinished_, 20) == WAIT_TIMEOUT) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
}

void CUpdateManager::OnDBEvent(CDBEvent* record) {
  if (!record) return;
  CSyncLock db(channels_, u"CUpdateManager::OnDBEvent");
  CSyncLock hold(this, u"CUpdateManager::OnDBEvent");
  if (record->type == DBE_CHANNEL_REMOVED && record->channel) StopUpdatingChannel(record->channel);
  CDBEventListener::OnDBEvent(record);
}

void CUpdateManager::OnInetEvent(int code, CInetJob* job) {
  CSyncLock hold(this, u"CUpdateManager::OnInetEvent");
  if (!updating_) return;
  if (code == 4 || code == IInetEventListener::EVENT_CONNECTED) {
    connecting_ = code == 4 ? 1 : 0;
    PostStatusLocked();
    return;
  }
  CUpdateQueue* node = root_->FindCurrent();
  if (!node) return;
  switch (code) {
    case IInetEventListener::EVENT_ATTEMPT:
      bytesAtDownloadStart_ = bytes_;
      if (downloadIndex_ == node->GetChildCount()) node->AddLeaf(kQueueExtraDownloadWeight);
      PostStatusLocked();
      break;
    case IInetEventListener::EVENT_PROGRESS: {
      if (!job) break;
      auto received = static_cast<std::uint32_t>(job->GetRawBytes());
      bytes_ = bytesAtDownloadStart_ + received;
      auto total = static_cast<std::uint32_t>(job->GetContentLength());
      bool absent = total == 0 || total == 0xFFFFFFFFu;
      if (received > 0 && (absent || total < received)) {
        double r = static_cast<double>(received);
        total = static_cast<std::uint32_t>(r / (1.0 - kUnknownLengthBase / (r + kUnknownLengthBase)));
      } else if (absent) {
        total = 0;
      }
      if (total == 0) total = kNoLengthProgressTotal;
      if (CUpdateQueue* leaf = node->ChildAt(downloadIndex_)) {
        // The total first, so the leaf never reads more than it expects.
        leaf->SetExpected(total);
        leaf->SetReceived(received);
      }
      PostStatusLocked();
      break;
    }
    case IInetEventListener::EVENT_JOB_ENDED:
      ++downloadIndex_;
      node->SetCurrentPosition(downloadIndex_);
      PostStatusLocked();
      break;
    default:
      break;
  }
}

IUpdateItem* CUpdateManager::GetWaiting() {
  CSyncLock db(channels_, u"CUpdateManager::GetWaiting");
  CSyncLock hold(this, u"CUpdateManager::GetWaiting");
  int before = root_->GetCurrentPosition();
  CUpdateQueue* node = root_->GetWaiting();
  if (!node) {
    serialWhenEmpty_ = requestSerial_;
    if (root_->GetCurrentPosition() != before) PostStatusLocked();
    return nullptr;
  }
  if (root_->GetCurrentPosition() != before) PostStatusLocked();
  return node->GetItem();
}

CUpdateJob* CUpdateManager::PrepareJob(IUpdateItem* item) {
  CSyncLock db(channels_, u"CUpdateManager::PrepareJob");
  if (item->GetUpdateStatus() != US_WAITING) return nullptr;
  CSyncLock hold(this, u"CUpdateManager::PrepareJob");
  CUpdateJob* job = CUpdatersManager::GetInstance().CreateJob(item);
  if (!job) {
    // Nothing can update it: it fails now instead of being offered again.
    item->SetUpdateState(US_FAILED);
    return nullptr;
  }
  job_ = job;
  jobChannel_ = dynamic_cast<IChannel*>(item);
  jobItem_ = item;
  jobStopped_ = false;
  downloadIndex_ = 0;
  return job;
}

void CUpdateManager::RunJob(CUpdateJob* job) {
  // The child session is made with no lock held: it joins the run session,
  // whose lock the connection thread may hold while it calls in here.
  std::shared_ptr<CInetSession> run;
  {
    CSyncLock hold(this, u"CUpdateManager::RunJob");
    run = runSession_;
  }
  // Before the job runs, the feeds queued after it start downloading; the
  // job itself is served its own feed if it was fetched ahead, and its other
  // requests count at their hosts beside the downloads ahead.
  std::shared_ptr<CFeedsAhead> ahead = AheadForRun(run);
  std::shared_ptr<CInetSession> child;
  if (run) child = std::make_shared<CInetSession>(run.get(), ahead.get());
  IChannel* channel = nullptr;
  {
    CSyncLock hold(this, u"CUpdateManager::RunJob");
    channel = jobChannel_;
  }
  if (ahead) {
    ahead->SetCurrent(channel);
    if (child) child->SetAhead(ahead.get());
    LookAhead(*ahead);
  }
  {
    CSyncLock hold(this, u"CUpdateManager::RunJob");
    jobSession_ = child;
    job->SetSession(child.get());
  }
  StatusChanged();
  bool threw = false;
  try {
    job->Run();
  } catch (...) {
    // A job's failure must not end the worker.
    threw = true;
  }
  {
    CSyncLock db(channels_, u"CUpdateManager::RunJob");
    {
      CSyncLock hold(this, u"CUpdateManager::RunJob");
      IUpdateItem* item = jobItem_;
      const bool stopped = jobStopped_ || (child && child->IsCancelled());
      job_ = nullptr;
      jobChannel_ = nullptr;
      jobItem_ = nullptr;
      jobStopped_ = false;
      jobSession_.reset();
      // A job that ends with its item still waiting, neither stopped nor cut
      // off, would be handed the same item again at once, and again. It may
      // hand its item on once (a script channel whose template declares a
      // feed leaves it to the feed job); the second time the item fails for
      // this run. Only an item still in the queue is looked at (one taken
      // out meanwhile may be gone).
      if (!threw && !stopped && root_->HoldsItem(item) && item->GetUpdateStatus() == US_WAITING &&
          !leftWaiting_.insert(item).second) {
        CDebugLog::GetInstance().WriteLine(u"Update left its item waiting again: it fails for this run.");
        item->SetUpdateState(US_FAILED);
      }
    }
    if (threw) {
      if (IUpdateItem* item = job->GetItem()) {
        std::uint32_t status = item->GetUpdateStatus();
        if (status == US_UPDATING || status == US_WAITING) item->SetUpdateState(US_FAILED);
      }
    }
    try {
      delete job;
    } catch (...) {
    }
  }
  // What was fetched for the channel and not taken is of no use now.
  if (ahead) {
    if (channel) ahead->Forget(channel);
    ahead->SetCurrent(nullptr);
  }
  // The child goes last, after its job, with no lock held.
  child.reset();
  ahead.reset();
  run.reset();
  StatusChanged();
}

std::shared_ptr<CFeedsAhead> CUpdateManager::AheadForRun(const std::shared_ptr<CInetSession>& run) {
  {
    CSyncLock hold(this, u"CUpdateManager::AheadForRun");
    if (ahead_ || !run || runSession_ != run) return ahead_;
  }
  const std::uint32_t parallel = GetGlobalOptions().GetParallelDownloads();
  if (parallel == 0 || !run->IsConnected()) return nullptr;
  // Made with no lock held: its session joins the run's.
  std::size_t budget;
  {
    CSyncLock hold(this, u"CUpdateManager::AheadForRun");
    budget = aheadByteBudget_ != 0 ? aheadByteBudget_ : CFeedsAhead::kDefaultByteBudget;
  }
  auto ahead = std::make_shared<CFeedsAhead>(run.get(), static_cast<int>(parallel), CFeedsAhead::kDefaultPerHost,
                                             budget);
  {
    CSyncLock hold(this, u"CUpdateManager::AheadForRun");
    if (runSession_ == run && !cancel_ && !ahead_) {
      ahead_ = ahead;
      return ahead;
    }
  }
  return nullptr;
}

void CUpdateManager::LookAhead(CFeedsAhead& ahead) {
  CSyncLock db(channels_, u"CUpdateManager::LookAhead");
  CSyncLock hold(this, u"CUpdateManager::LookAhead");
  if (cancel_) return;
  // Only a channel whose feed job is still to come: waiting, of type
  // "@RSS", with a feed on the network.
  auto offer = [&ahead](IChannel* channel, bool current) {
    if (!channel || channel->GetUpdateStatus() != US_WAITING) return false;
    auto type = channel->GetProperties().find(kPropType);
    if (type == channel->GetProperties().end() || !EqualsNoCase(type->second, kChannelTypeRss)) return false;
    if (ahead.Has(channel)) return false;
    std::u16string address, etag, lastModified;
    if (!CRSSChannelJob::GetFeedRequest(channel, address, etag, lastModified)) return false;
    // The feed a screen fetched just before is kept for the job: no download.
    if (FetchedFeeds::Holds(address)) return false;
    // Only a download actually queued takes room: a channel whose host
    // refused one, or whose body passed the budget, leaves it to the next.
    return ahead.Offer(channel, address, etag, lastModified, current);
  };
  // The running job's own feed first, then the channels queued after it.
  offer(jobChannel_, true);
  int room = ahead.FreeSlots();
  const int count = root_->GetChildCount();
  for (int i = root_->GetCurrentPosition(); i < count && room > 0; ++i) {
    auto* node = dynamic_cast<CChannelUpdateQueue*>(root_->ChildAt(i));
    IChannel* channel = node ? node->GetChannel() : nullptr;
    if (channel != jobChannel_ && offer(channel, false)) --room;
  }
}

void CUpdateManager::StartUpdatingProcess() {
  {
    CSyncLock db(channels_, u"CUpdateManager::StartUpdatingProcess");
    CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
    bytes_ = 0;
    updating_ = 1;
    if (!subscribed_) {
      Subscribe(channels_);
      subscribed_ = true;
    }
    connecting_ = 1;
    PostStatusLocked();
  }
  CGlobalOptions& options = GetGlobalOptions();
  bool freeOnly = options.GetUseFreeConnectionsOnly() != 0 || options.IsRoaming();

  StartOutcome outcome = StartOutcome::kFailed;
  for (;;) {
    {
      CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
      if (cancel_) {
        outcome = StartOutcome::kStopped;
        break;
      }
    }
    SystemIdleTimerReset();
    std::shared_ptr<CInetSession> old;
    {
      CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
      old = std::move(runSession_);
    }
    old.reset();
    auto session = std::make_shared<CInetSession>(this, freeOnly, inet_);
    bool stopped = false;
    {
      CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
      if (cancel_) {
        stopped = true;
      } else {
        runSession_ = session;
      }
    }
    if (stopped) {
      session.reset();
      outcome = StartOutcome::kStopped;
      break;
    }
    bool connected = session->WaitForConnection();
    if (connected) {
      CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
      outcome = cancel_ ? StartOutcome::kStopped : StartOutcome::kConnected;
      break;
    }
    if (freeOnly) {
      HWND window = nullptr;
      UINT message = 0;
      {
        CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
        if (cancel_) {
          outcome = StartOutcome::kStopped;
          break;
        }
        if (listeners_.empty()) {
          cancel_ = 1;
          outcome = StartOutcome::kStopped;
          break;
        }
        window = listeners_.front().window;
        message = listeners_.front().message;
      }
      // Asked with no lock held: the window's thread may be waiting for one.
      LRESULT answer = SendMessageW(window, message, kAskPaidConnection, 1);
      if (answer == 0) {
        CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
        cancel_ = 1;
        outcome = StartOutcome::kStopped;
        break;
      }
      freeOnly = false;
      continue;
    }
    {
      CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
      outcome = cancel_ ? StartOutcome::kStopped : StartOutcome::kFailed;
    }
    break;
  }

  if (outcome == StartOutcome::kConnected) {
    CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
    connecting_ = 0;
    PostStatusLocked();
    return;
  }
  if (outcome == StartOutcome::kFailed) TellNoConnectionAndFailQueued();
  StopUpdatingAllChannels();
  std::shared_ptr<CInetSession> old;
  {
    CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
    old = std::move(runSession_);
  }
  old.reset();
  CSyncLock hold(this, u"CUpdateManager::StartUpdatingProcess");
  connecting_ = 0;
  PostStatusLocked();
}

void CUpdateManager::FailQueuedChannels() {
  CSyncLock db(channels_, u"CUpdateManager::FailQueuedChannels");
  CSyncLock hold(this, u"CUpdateManager::FailQueuedChannels");
  int count = channels_->GetCount();
  for (int i = 0; i < count; ++i) {
    IChannel* channel = channels_->GetAt(i);
    if (!channel || root_->GetItemStatus(channel) == UQS_NOT_QUEUED) continue;
    if (channel->GetUpdateStatus() == US_WAITING) channel->SetUpdateState(US_FAILED);
  }
}

bool CUpdateManager::StopUpdatingProcess() {
  std::shared_ptr<CInetSession> session;
  std::shared_ptr<CFeedsAhead> ahead;
  {
    CSyncLock db(channels_, u"CUpdateManager::StopUpdatingProcess");
    CSyncLock hold(this, u"CUpdateManager::StopUpdatingProcess");
    // A request that came after the queue was found empty keeps the run open.
    if (!shutdown_ && requestSerial_ != serialWhenEmpty_) return false;
    // One hold of the manager's lock from the check to the reset of the work
    // event: a request either came before (seen above) or sets the event
    // again afterwards and starts the next run. No job runs now, so taking
    // the channels out cancels nothing.
    cancel_ = 1;
    int count = channels_->GetCount();
    for (int i = 0; i < count; ++i) StopUpdatingChannel(channels_->GetAt(i));
    if (fullUpdate_) {
      fullUpdate_ = 0;
      StoreLastUpdateTime();
    }
    DeleteUpdateLocked();
    session = EndRunLocked(ahead);
    // A shut-down keeps its wake-up: the worker must see it and end.
    if (!shutdown_) ResetEvent(workEvent_);
  }
  ahead.reset();
  session.reset();
  return true;
}

void CUpdateManager::RestartRun() {
  std::shared_ptr<CInetSession> session;
  std::shared_ptr<CFeedsAhead> ahead;
  {
    CSyncLock db(channels_, u"CUpdateManager::RestartRun");
    CSyncLock hold(this, u"CUpdateManager::RestartRun");
    session = EndRunLocked(ahead);
  }
  ahead.reset();
  session.reset();
}

void CUpdateManager::EndLostRun() {
  TellNoConnectionAndFailQueued();
  StopUpdatingAllChannels();
}

void CUpdateManager::TellNoConnectionAndFailQueued() {
  HWND window = nullptr;
  UINT message = 0;
  {
    CSyncLock hold(this, u"CUpdateManager::TellNoConnectionAndFailQueued");
    if (!listeners_.empty()) {
      window = listeners_.front().window;
      message = listeners_.front().message;
    }
  }
  // Told with no lock held: the listener's answer may call back into the manager.
  if (window) SendMessageW(window, message, kAskNoConnection, 1);
  FailQueuedChannels();
}

std::shared_ptr<CInetSession> CUpdateManager::EndRunLocked(std::shared_ptr<CFeedsAhead>& ahead) {
  ahead = std::move(ahead_);
  leftWaiting_.clear();
  updating_ = 0;
  cancel_ = 0;
  connecting_ = 0;
  if (subscribed_) {
    Unsubscribe(channels_);
    subscribed_ = false;
  }
  std::shared_ptr<CInetSession> session = std::move(runSession_);
  PostStatusLocked();
  return session;
}

void CUpdateManager::WorkerLoop() {
  for (;;) {
    {
      CSyncLock hold(this, u"CUpdateManager::WorkerLoop");
      if (shutdown_) break;
    }
    SystemIdleTimerReset();
    enum class Step { kWait, kClose, kStart, kRestart, kLost, kRun, kNext } step = Step::kWait;
    CUpdateJob* job = nullptr;
    {
      // One hold of the database lock from finding the item to making its
      // job, so the item cannot go away in between.
      CSyncLock db(channels_, u"CUpdateManager::WorkerLoop");
      IUpdateItem* item = GetWaiting();
      CSyncLock hold(this, u"CUpdateManager::WorkerLoop");
      if (!item) {
        if (updating_) {
          step = Step::kClose;
        } else if (requestSerial_ == serialWhenEmpty_ && !shutdown_) {
          // Idle with nothing to do (a request that queued nothing): sleep
          // until the next request. A shut-down that came after the check at
          // the top keeps its wake-up, or the worker would sleep for ever.
          ResetEvent(workEvent_);
        }
      } else if (!updating_) {
        step = Step::kStart;
      } else if (cancel_ || !runSession_) {
        // The run was stopped or lost its connection; this item was asked
        // for afterwards and gets a run of its own.
        step = Step::kRestart;
      } else if (runSession_->IsCancelled()) {
        // Cancelled without a stop: the connection went away. Every job
        // made now would be cancelled at once.
        step = Step::kLost;
      } else {
        job = PrepareJob(item);
        step = job ? Step::kRun : Step::kNext;
      }
    }
    switch (step) {
      case Step::kClose:
        if (runClosingHook_) runClosingHook_();
        if (!StopUpdatingProcess()) continue;
        break;
      case Step::kStart:
        StartUpdatingProcess();
        continue;
      case Step::kRestart:
        RestartRun();
        continue;
      case Step::kLost:
        EndLostRun();
        continue;
      case Step::kRun:
        RunJob(job);
        continue;
      case Step::kNext:
        continue;
      case Step::kWait:
        break;
    }
    WaitForSingleObject(workEvent_, INFINITE);
  }
  // shutdown_ is set: the close takes out whatever is still queued.
  if (IsUpdating()) StopUpdatingProcess();
  SetEvent(workerFinished_);
}
