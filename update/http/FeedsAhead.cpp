#include "update/http/FeedsAhead.h"

#include <algorithm>
#include <chrono>

#include "core/DebugLog.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "update/http/InetJob.h"
#include "update/http/TidyDownload.h"
#include "update/http/WinInet.h"

using namespace plat;

CFeedsAhead::CFeedsAhead(CInetSession* run, int maxParallel, int perHost, std::size_t byteBudget)
    : session_(std::make_unique<CInetSession>(run, this)),
      maxParallel_(std::max(maxParallel, 1)),
      perHost_(std::max(perHost, 1)),
      byteBudget_(std::max<std::size_t>(byteBudget, 1)) {
  session_->KeepEventsOwn();
}

CFeedsAhead::~CFeedsAhead() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  // Closing the requests ends blocked sends and reads at once.
  session_->Cancel();
  changed_.notify_all();
  work_.notify_all();
  for (std::thread& runner : runners_) runner.join();
  entries_.clear();
  session_.reset();
}

int CFeedsAhead::FreeSlots() {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_ || HeldBytesLocked() >= byteBudget_) return 0;
  const auto held = std::count_if(entries_.begin(), entries_.end(), [](const EntryPtr& e) { return !e->current; });
  return std::max(maxParallel_ - static_cast<int>(held), 0);
}

bool CFeedsAhead::Has(IChannel* channel) {
  std::lock_guard<std::mutex> hold(lock_);
  return std::any_of(entries_.begin(), entries_.end(), [channel](const EntryPtr& e) { return e->channel == channel; });
}

std::u16string CFeedsAhead::HostOf(const std::u16string& address) {
  CrackedUrl parts;
  std::u16string error;
  if (address.empty() || !session_->GetWinInet().CrackUrl(address, parts, error)) return {};
  return ToLower(parts.host) + FormatString(u":%d", static_cast<int>(parts.port));
}

std::size_t CFeedsAhead::HeldBytesLocked() const {
  std::size_t held = 0;
  for (const EntryPtr& e : entries_) {
    if (!e->current && e->channel != current_) held += e->bytes;
  }
  return held;
}

bool CFeedsAhead::Offer(IChannel* channel, const std::u16string& address, const std::u16string& etag,
                        const std::u16string& lastModified, bool current) {
  if (!channel || address.empty()) return false;
  const std::u16string host = HostOf(address);
  if (host.empty()) return false;
  auto entry = std::make_shared<Entry>();
  entry->channel = channel;
  entry->host = host;
  entry->job = std::make_unique<CInetJob>(session_.get(), address);
  const Tidy::Validators validators{etag, lastModified};
  Tidy::PrepareDocumentJob(*entry->job, &validators);
  entry->key = entry->job->RequestKey();
  entry->current = current;
  std::unique_lock<std::mutex> hold(lock_);
  int held = 0;
  for (const EntryPtr& e : entries_) {
    if (e->channel == channel) return false;
    held += e->current ? 0 : 1;
  }
  if (stopping_ || (!current && (held >= maxParallel_ || HeldBytesLocked() >= byteBudget_)) ||
      limitedHosts_.count(entry->host) || overBudget_.count(channel)) {
    hold.unlock();
    return false;
  }
  entries_.push_back(entry);
  WakeRunner();
  return true;
}

void CFeedsAhead::Forget(IChannel* channel) {
  std::vector<EntryPtr> dropped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      EntryPtr e = *it;
      if (e->channel != channel) {
        ++it;
        continue;
      }
      if (e->state == State::kRunning) e->job->Cancel();
      it = entries_.erase(it);
      e->erased = true;
      dropped.push_back(std::move(e));
    }
    if (current_ == channel) current_ = nullptr;
  }
  changed_.notify_all();
}

void CFeedsAhead::SetCurrent(IChannel* channel) {
  std::lock_guard<std::mutex> hold(lock_);
  current_ = channel;
  // The running job's download may start now, beyond the bound of those ahead.
  WakeRunner();
}

bool CFeedsAhead::Stands(const CInetJob& job) {
  switch (job.GetResult()) {
    case CInetJob::RESULT_SUCCESS:
    case CInetJob::RESULT_NOT_MODIFIED:
    case CInetJob::RESULT_NOT_FOUND:
      return true;
    case CInetJob::RESULT_CANCELLED:
      return false;
    default:
      break;
  }
  // A host that will not take one more connection answers so, or refuses
  // or drops the connection before it answers.
  if (job.GetStatusCode() == 429 || job.GetStatusCode() == 503) return false;
  switch (job.GetNetworkError()) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_INTERNET_OPERATION_CANCELLED:
      return false;
    default:
      return true;
  }
}

void CFeedsAhead::CountDirectRequest(CInetJob& job, const std::u16string& host, std::unique_lock<std::mutex>& hold) {
  if (host.empty() || direct_.count(&job)) return;
  // The downloads ahead leave the worker room at every host; only its own
  // feed fetched ahead beside its other requests may fill a host.
  while (inFlightPerHost_[host] >= perHost_ && !job.IsCancelled() && !stopping_) {
    changed_.wait_for(hold, std::chrono::milliseconds(10));
  }
  if (job.IsCancelled()) return;
  ++inFlightPerHost_[host];
  direct_[&job] = host;
}

bool CFeedsAhead::Serve(CInetJob& job) {
  // A job stopped or cut off takes nothing, not even a whole body.
  if (job.IsCancelled()) return false;
  const std::u16string host = HostOf(job.GetUrl());
  EntryPtr entry;
  std::vector<EntryPtr> dropped;
  {
    std::unique_lock<std::mutex> hold(lock_);
    if (current_) {
      const std::u16string key = job.RequestKey();
      for (const EntryPtr& e : entries_) {
        if (e->channel == current_ && e->key == key) {
          entry = e;
          break;
        }
      }
    }
    if (!entry) {
      CountDirectRequest(job, host, hold);
      return false;
    }
    // The job's download begins now, as far as anyone watching can tell;
    // what arrives meanwhile shows as its progress.
    waiter_ = &job;
    waited_ = entry->job.get();
    WakeRunner();
    hold.unlock();
    job.GetSession()->Notify(IInetEventListener::EVENT_ATTEMPT, &job);
    hold.lock();
    while (entry->state != State::kDone && !job.IsCancelled() && !stopping_) {
      changed_.wait_for(hold, std::chrono::milliseconds(10));
    }
    waiter_ = nullptr;
    waited_ = nullptr;
    changed_.wait(hold, [this] { return relaying_ == 0; });
    // Served once: taken out whatever came of it.
    EraseLocked(entry);
    if (entry->state != State::kDone || job.IsCancelled()) {
      // The job was stopped while it waited: so is its download, and what
      // came of it is not taken.
      if (entry->state == State::kRunning) entry->job->Cancel();
      hold.unlock();
      changed_.notify_all();
      return false;
    }
    if (!Stands(*entry->job)) {
      // The host refused a connection: it gets no more downloads ahead, and
      // the job asks once the host's other downloads have ended.
      if (entry->job->GetResult() != CInetJob::RESULT_CANCELLED) {
        CDebugLog::GetInstance().Printf(u"Download refused by %s: asked again.", entry->host.c_str());
        LimitHostLocked(entry->host, dropped);
        while (inFlightPerHost_[entry->host] > 0 && !job.IsCancelled() && !stopping_) {
          changed_.wait_for(hold, std::chrono::milliseconds(10));
        }
      }
      CountDirectRequest(job, host, hold);
      hold.unlock();
      dropped.clear();
      entry.reset();
      return false;
    }
  }
  job.Adopt(*entry->job);
  return true;
}

void CFeedsAhead::OnInetEvent(int code, CInetJob* job) {
  if (job == nullptr) return;
  if (code == IInetEventListener::EVENT_JOB_ENDED) {
    // A request of the worker's own has ended: its host has room again.
    {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = direct_.find(job);
      if (it == direct_.end()) return;
      --inFlightPerHost_[it->second];
      direct_.erase(it);
      WakeRunner();
    }
    changed_.notify_all();
    return;
  }
  if (code != IInetEventListener::EVENT_PROGRESS) return;
  CInetJob* waiter = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    // On the thread that runs the download: its counters are its own here.
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      const EntryPtr& e = *it;
      if (e->job.get() != job) continue;
      e->bytes = job->GetDeliveredLength();
      if (!e->current && e->channel != current_ && HeldBytesLocked() > byteBudget_) {
        // Past the budget: dropped, its job will ask the server itself.
        CDebugLog::GetInstance().Printf(u"Feed ahead dropped, %u bytes held: %s", static_cast<unsigned>(e->bytes),
                                        job->GetUrl().c_str());
        overBudget_[e->channel] = true;
        e->erased = true;
        job->Cancel();
        entries_.erase(it);
        return;
      }
      break;
    }
    if (waiter_ == nullptr || waited_ != job) return;
    waiter = waiter_;
    ++relaying_;
  }
  // On the thread that runs the download: its counters are its own here.
  waiter->RelayProgress(job->GetRawBytes(), job->GetContentLength());
  bool last = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    last = --relaying_ == 0 && waiter_ == nullptr;
  }
  // Only a Serve that stopped waiting waits for the relays to end.
  if (last) changed_.notify_all();
}

void CFeedsAhead::EraseLocked(const EntryPtr& entry) {
  entry->erased = true;
  entries_.remove(entry);
}

void CFeedsAhead::LimitHostLocked(const std::u16string& host, std::vector<EntryPtr>& dropped) {
  limitedHosts_[host] = true;
  // Queued downloads of the host go, and so do those it refused already: no
  // job would take them, and they hold room that other hosts can use.
  for (auto it = entries_.begin(); it != entries_.end();) {
    const EntryPtr& e = *it;
    if (e->host == host && (e->state == State::kQueued || (e->state == State::kDone && !Stands(*e->job)))) {
      (*it)->erased = true;
      dropped.push_back(*it);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

CFeedsAhead::EntryPtr CFeedsAhead::NextStartable() {
  if (stopping_) return nullptr;
  EntryPtr next;
  for (const EntryPtr& e : entries_) {
    // One place at each host is kept for the worker's own requests.
    const int reserved = perHost_ > 1 ? 1 : 0;
    if (e->state != State::kQueued || inFlightPerHost_[e->host] >= perHost_) continue;
    if (e->channel == current_) return e;
    if (!next && inFlight_ < maxParallel_ && inFlightPerHost_[e->host] < perHost_ - reserved &&
        HeldBytesLocked() < byteBudget_) {
      next = e;
    }
  }
  return next;
}

void CFeedsAhead::WakeRunner() {
  if (idleRunners_ > wakes_) {
    ++wakes_;
    work_.notify_one();
    return;
  }
  if (static_cast<int>(runners_.size()) < maxParallel_ + 1 && NextStartable()) {
    runners_.emplace_back([this] { RunnerLoop(); });
  }
}

void CFeedsAhead::RunnerLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    EntryPtr entry = NextStartable();
    if (!entry) {
      ++idleRunners_;
      work_.wait(hold);
      --idleRunners_;
      if (wakes_ > 0) --wakes_;
      continue;
    }
    entry->state = State::kRunning;
    const bool counted = entry->channel != current_;
    if (counted) ++inFlight_;
    ++inFlightPerHost_[entry->host];
    // More that may start go to another runner.
    if (NextStartable()) WakeRunner();
    hold.unlock();
    entry->job->Execute();
    hold.lock();
    if (counted) --inFlight_;
    --inFlightPerHost_[entry->host];
    entry->state = State::kDone;
    if (!entry->erased && limitedHosts_.count(entry->host) && !Stands(*entry->job)) {
      // Refused by a host that refused before: no job takes it.
      EraseLocked(entry);
    }
    changed_.notify_all();

    if (entry->erased) {
      // Forgotten meanwhile: freed here, outside the lock.
      hold.unlock();
      entry.reset();
      hold.lock();
    }
  }
}
