// Feed bodies fetched ahead of the update worker. While the worker runs one
// job at a time, the feeds queued after it are downloaded in parallel
// (bounded overall and per host); when the job of such a channel asks for
// exactly the request fetched for it, it takes that body (waiting for the
// download when it is still under way) instead of asking the server again.
//
// The downloads run in a session of their own below the run's session, so
// a stop or a lost connection cancels them with the run; their events stay
// in that session, and the job that takes a body reports it as its own.
// A body fetched ahead serves its channel's job once, for that very
// request; anything else goes to the network.
//
// Locking: this object's lock is taken last (after the database and the
// update manager's locks) and nothing is called out of it while it is held
// but the cancel of a download.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/http/InetSession.h"

class CInetJob;
class IChannel;

class CFeedsAhead : public IInetAhead, public IInetEventListener {
 public:
  // The most downloads to one host at once, the running job's included
  // (its feed fetched ahead, or its own pictures, pings and pages).
  static constexpr int kDefaultPerHost = 4;
  // The most body bytes held ahead at once, the running job's not counted.
  static constexpr std::size_t kDefaultByteBudget = 8u << 20;

  // run: the run's session (the downloads' session joins it); maxParallel:
  // the most downloads ahead in flight, and the most bodies held, at once,
  // besides the running job's own; byteBudget: the most bytes those bodies
  // may hold together (a download that would pass it is dropped, and its
  // job asks the server itself).
  CFeedsAhead(CInetSession* run, int maxParallel, int perHost = kDefaultPerHost,
              std::size_t byteBudget = kDefaultByteBudget);
  // Ends every download in flight and frees what was fetched.
  ~CFeedsAhead() override;
  CFeedsAhead(const CFeedsAhead&) = delete;
  CFeedsAhead& operator=(const CFeedsAhead&) = delete;

  // How many more channels may be offered now.
  int FreeSlots();
  // Whether the channel has a body fetched or coming.
  bool Has(IChannel* channel);
  // Queues the feed download of a channel (the address and the validators
  // its job will send), to start as soon as the bounds allow; true when it
  // was queued. Ignored when the channel has one already, its host takes no
  // more downloads ahead, its body passed the byte budget in this run, or
  // there is no free slot unless it is the channel of the running job
  // (current), whose download starts first and takes no slot.
  bool Offer(IChannel* channel, const std::u16string& address, const std::u16string& etag,
             const std::u16string& lastModified, bool current = false);
  // Cancels and drops what was fetched or is coming for the channel.
  void Forget(IChannel* channel);
  // The channel whose job runs now (null: none); only its body is served.
  void SetCurrent(IChannel* channel);

  // IInetAhead: serves the running channel's job the body fetched for
  // exactly its request, once. A request it does not serve counts towards
  // its host's bound until it ends (it waits while the host is at the bound).
  bool Serve(CInetJob& job) override;
  // IInetEventListener of the downloads' session and of the worker's: the
  // progress of the body the running job waits for is shown as that job's;
  // the end of a worker's own request frees its place at its host.
  void OnInetEvent(int code, CInetJob* job) override;

 private:
  enum class State { kQueued, kRunning, kDone };
  struct Entry {
    IChannel* channel = nullptr;
    std::u16string host;  // host and port, lower case
    std::u16string key;   // the request's key (CInetJob::RequestKey)
    std::unique_ptr<CInetJob> job;
    State state = State::kQueued;
    bool current = false;  // offered for the running job, takes no slot
    bool erased = false;  // taken out of entries_ (served, forgotten)
    std::size_t bytes = 0;  // body bytes received so far
  };
  using EntryPtr = std::shared_ptr<Entry>;

  // Under lock_: the first queued entry the bounds let start, the running
  // job's first, or null.
  EntryPtr NextStartable();
  // Under lock_: wakes an idle runner, or starts one when a queued entry
  // can start and every runner is busy.
  void WakeRunner();
  void RunnerLoop();
  void EraseLocked(const EntryPtr& entry);
  // Under lock_: a host that refused a download ahead gets no more of them;
  // its queued entries, and those it refused, are dropped into dropped
  // (freed outside the lock).
  void LimitHostLocked(const std::u16string& host, std::vector<EntryPtr>& dropped);
  // Whether a download that ended this way stands for the job's own: an
  // answer of the server, or a failure the job would meet as well. A
  // connection refused or cut before any answer is not.
  static bool Stands(const CInetJob& job);
  // Under lock_: the body bytes held ahead, the running job's not counted.
  std::size_t HeldBytesLocked() const;
  // Host and port, lower case, of an address; empty when it does not crack.
  std::u16string HostOf(const std::u16string& address);
  // A request of the worker that goes to the network: counted at its host
  // once the host has room for it (or the job is cancelled).
  void CountDirectRequest(CInetJob& job, const std::u16string& host, std::unique_lock<std::mutex>& hold);

  std::unique_ptr<CInetSession> session_;
  const int maxParallel_;
  const int perHost_;
  const std::size_t byteBudget_;
  std::mutex lock_;
  std::condition_variable changed_;  // a download ended or a relay did: for Serve
  std::condition_variable work_;     // an entry may start: for idle runners
  std::list<EntryPtr> entries_;  // in the order offered (queue order)
  std::map<std::u16string, int> inFlightPerHost_;
  // Hosts that refused a download ahead: they get no more of them.
  std::map<std::u16string, bool> limitedHosts_;
  // Channels whose body passed the byte budget: their jobs fetch them.
  std::map<IChannel*, bool> overBudget_;
  // The worker's own requests on the network now, with their hosts.
  std::map<CInetJob*, std::u16string> direct_;
  IChannel* current_ = nullptr;
  int inFlight_ = 0;  // downloads ahead running, the running job's not counted
  // The running job while it waits for a body, the job fetching it, and
  // progress relays under way to it.
  CInetJob* waiter_ = nullptr;
  CInetJob* waited_ = nullptr;
  int relaying_ = 0;
  int idleRunners_ = 0;
  int wakes_ = 0;  // idle runners woken and not yet running
  bool stopping_ = false;
  std::vector<std::thread> runners_;
};
