#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/LocalObjects.h"
#include "platform/base/Sync.h"
#include "platform/base/Thread.h"
#include "tests/support/Wait.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

using SteadyClock = std::chrono::steady_clock;

using orvtest::Eventually;

// Threads that each wait once on a handle and count themselves released.
class Waiters {
 public:
  Waiters(HANDLE h, int n) {
    for (int i = 0; i < n; ++i) {
      threads_.emplace_back([this, h] {
        if (WaitForSingleObject(h, 10000) == WAIT_OBJECT_0) ++released_;
        ++done_;
      });
    }
  }
  ~Waiters() {
    for (auto& t : threads_) t.join();
  }
  int Released() const { return released_.load(); }
  int Done() const { return done_.load(); }

 private:
  std::vector<std::thread> threads_;
  std::atomic<int> released_{0};
  std::atomic<int> done_{0};
};

struct HandleCloser {
  HANDLE h;
  ~HandleCloser() { CloseHandle(h); }
};

// A kernel object of another kind (as a named object would be): only TryAcquire.
class FlagObject : public KernelObject {
 public:
  std::atomic<bool> flag{false};
  Probe TryAcquire() override { return flag.exchange(false) ? Probe::Signaled : Probe::NotSignaled; }
};

}  // namespace

TEST(BaseSync, CriticalSectionIsRecursiveForItsOwner) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EXPECT_FALSE(IsCriticalSectionOwnedByCurrentThread(&cs));
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  EnterCriticalSection(&cs);
  EXPECT_TRUE(IsCriticalSectionOwnedByCurrentThread(&cs));
  EXPECT_EQ(cs.OwnerThread.load(), GetCurrentThreadId());
  EXPECT_EQ(cs.RecursionCount.load(), 3);

  auto tryFromOther = [&] {
    bool got = false, owned = true;
    std::thread([&] {
      owned = IsCriticalSectionOwnedByCurrentThread(&cs);
      got = TryEnterCriticalSection(&cs);
      if (got) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_FALSE(owned);
    return got;
  };
  EXPECT_FALSE(tryFromOther());
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(tryFromOther());  // still entered once
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(IsCriticalSectionOwnedByCurrentThread(&cs));
  EXPECT_TRUE(tryFromOther());
  LeaveCriticalSection(&cs);  // not owned: nothing happens
  EXPECT_TRUE(tryFromOther());
  DeleteCriticalSection(&cs);
}

TEST(BaseSync, SecondThreadBlocksUntilTheOwnerLeaves) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    EXPECT_TRUE(IsCriticalSectionOwnedByCurrentThread(&cs));
    LeaveCriticalSection(&cs);
  });
  EXPECT_TRUE(orvtest::StaysTrue([&] { return !entered.load(); }, 50));
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered.load());
  DeleteCriticalSection(&cs);
}

TEST(BaseWait, AutoResetEventReleasesExactlyOneWaiter) {
  HandleCloser ev{CreateLocalEvent(false, false)};
  {
    Waiters w(ev.h, 2);
    ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(ev.h) == 2; }));
    ASSERT_TRUE(SetEvent(ev.h));
    ASSERT_TRUE(Eventually([&] { return w.Released() == 1; }));
    EXPECT_TRUE(orvtest::StaysTrue([&] { return w.Released() == 1; }, 50));
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);  // the release reset it
    ASSERT_TRUE(SetEvent(ev.h));
    ASSERT_TRUE(Eventually([&] { return w.Done() == 2; }));
    EXPECT_EQ(w.Released(), 2);
  }
}

TEST(BaseWait, ManualResetEventReleasesAllAndStaysSet) {
  HandleCloser ev{CreateLocalEvent(true, false)};
  {
    Waiters w(ev.h, 3);
    ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(ev.h) == 3; }));
    ASSERT_TRUE(SetEvent(ev.h));
    ASSERT_TRUE(Eventually([&] { return w.Done() == 3; }));
    EXPECT_EQ(w.Released(), 3);
  }
  EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(ev.h));
  EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
}

TEST(BaseWait, PulseReleasesThePresentWaitersOnly) {
  HandleCloser manual{CreateLocalEvent(true, false)};
  {
    Waiters w(manual.h, 2);
    ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(manual.h) == 2; }));
    ASSERT_TRUE(PulseEvent(manual.h));
    ASSERT_TRUE(Eventually([&] { return w.Done() == 2; }));
    EXPECT_EQ(w.Released(), 2);
  }
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_TIMEOUT);  // left non-signalled

  HandleCloser autoEv{CreateLocalEvent(false, false)};
  {
    Waiters w(autoEv.h, 2);
    ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(autoEv.h) == 2; }));
    ASSERT_TRUE(PulseEvent(autoEv.h));
    ASSERT_TRUE(Eventually([&] { return w.Released() == 1; }));
    EXPECT_TRUE(orvtest::StaysTrue([&] { return w.Released() == 1; }, 50));
    ASSERT_TRUE(SetEvent(autoEv.h));  // let the other one go
  }
  // Nobody waiting: a pulse changes nothing.
  ASSERT_TRUE(PulseEvent(autoEv.h));
  EXPECT_EQ(WaitForSingleObject(autoEv.h, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(autoEv.h));
  ASSERT_TRUE(PulseEvent(autoEv.h));
  EXPECT_EQ(WaitForSingleObject(autoEv.h, 0), WAIT_TIMEOUT);
}

TEST(BaseWait, TimedWaitsTimeOut) {
  HandleCloser ev{CreateLocalEvent(false, false)};
  auto t0 = SteadyClock::now();
  EXPECT_EQ(WaitForSingleObject(ev.h, 60), WAIT_TIMEOUT);
  EXPECT_GE(SteadyClock::now() - t0, 60ms);

  HandleCloser ev2{CreateLocalEvent(true, false)};
  HANDLE both[] = {ev.h, ev2.h};
  t0 = SteadyClock::now();
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 40), WAIT_TIMEOUT);
  EXPECT_GE(SteadyClock::now() - t0, 40ms);

  FlagObject* other = new FlagObject;
  HandleCloser otherCloser{other};
  HANDLE mixed[] = {ev.h, other};
  t0 = SteadyClock::now();
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 40), WAIT_TIMEOUT);
  EXPECT_GE(SteadyClock::now() - t0, 40ms);
  t0 = SteadyClock::now();
  EXPECT_EQ(WaitForSingleObject(other, 30), WAIT_TIMEOUT);  // the polling default
  EXPECT_GE(SteadyClock::now() - t0, 30ms);
}

TEST(BaseWait, MultipleObjectsLowestSignalledIndexWins) {
  HandleCloser a{CreateLocalEvent(true, false)}, b{CreateLocalEvent(true, true)}, c{CreateLocalEvent(false, true)};
  HANDLE hs[] = {a.h, b.h, c.h};
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 0), WAIT_OBJECT_0 + 1);  // manual: still set
  ResetEvent(b.h);
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 0), WAIT_TIMEOUT);  // c was auto-reset

  // A wait that blocks is woken by the object set later.
  std::thread setter([&] {
    // Once the wait below is in place.
    Eventually([&] { return detail::LocalWaiterCount(c.h) >= 1; });
    SetEvent(c.h);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 5000), WAIT_OBJECT_0 + 2);
  setter.join();

  // Mixed kinds: the other object's TryAcquire is polled.
  FlagObject* other = new FlagObject;
  HandleCloser otherCloser{other};
  HANDLE mixed[] = {a.h, other, c.h};
  std::thread raiser([&] {
    Eventually([&] { return detail::LocalWaiterCount(a.h) >= 1; });
    other->flag = true;
  });
  EXPECT_EQ(WaitForMultipleObjects(3, mixed, FALSE, 5000), WAIT_OBJECT_0 + 1);
  raiser.join();
  SetEvent(a.h);
  other->flag = true;
  EXPECT_EQ(WaitForMultipleObjects(3, mixed, FALSE, 0), WAIT_OBJECT_0);
}

TEST(BaseWait, PulseReachesAWaitThatMixesKinds) {
  HandleCloser ev{CreateLocalEvent(false, false)};
  FlagObject* other = new FlagObject;
  HandleCloser otherCloser{other};
  DWORD result = 0;
  std::thread waiter([&] {
    HANDLE hs[] = {other, ev.h};
    result = WaitForMultipleObjects(2, hs, FALSE, 10000);
  });
  ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(ev.h) == 1; }));
  ASSERT_TRUE(PulseEvent(ev.h));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
  EXPECT_EQ(detail::LocalWaiterCount(ev.h), 0u);
}

TEST(BaseWait, BadArgumentsFail) {
  HandleCloser ev{CreateLocalEvent(true, true)};
  HANDLE hs[] = {ev.h, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(2, hs, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, hs, TRUE, 0), WAIT_FAILED);  // wait-all is not supported
  EXPECT_EQ(WaitForMultipleObjects(0, hs, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
  HandleCloser m{CreateLocalMutex(false)};
  EXPECT_FALSE(SetEvent(m.h));       // not an event
  EXPECT_FALSE(ReleaseMutex(ev.h));  // not a mutex
}

TEST(BaseWait, DuplicateHandleKeepsTheObjectAlive) {
  HANDLE ev = CreateLocalEvent(true, false);
  HANDLE dup = DuplicateLocalHandle(ev);
  ASSERT_EQ(dup, ev);
  ASSERT_TRUE(CloseHandle(ev));
  ASSERT_TRUE(SetEvent(dup));
  EXPECT_EQ(WaitForSingleObject(dup, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(dup));
}

TEST(BaseWait, HandleClosedDuringAWaitLeavesTheWaitSound) {
  HANDLE ev = CreateLocalEvent(false, false);
  HANDLE other = CreateLocalEvent(false, false);
  DWORD single = 0, multiple = 0;
  std::thread a([&] { single = WaitForSingleObject(ev, 100); });
  std::thread b([&] {
    HANDLE hs[] = {other, ev};
    multiple = WaitForMultipleObjects(2, hs, FALSE, 100);
  });
  ASSERT_TRUE(Eventually([&] { return detail::LocalWaiterCount(ev) == 2; }));
  CloseHandle(ev);  // the last handle goes while both still wait on it
  a.join();
  b.join();
  EXPECT_EQ(single, WAIT_TIMEOUT);
  EXPECT_EQ(multiple, WAIT_TIMEOUT);
  CloseHandle(other);
}

TEST(BaseMutex, RecursiveOwnershipAndRelease) {
  HandleCloser m{CreateLocalMutex(true)};
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);  // owner again
  DWORD otherResult = 0;
  std::thread([&] {
    otherResult = WaitForSingleObject(m.h, 0);
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(m.h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  }).join();
  EXPECT_EQ(otherResult, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m.h));
  std::thread([&] { otherResult = WaitForSingleObject(m.h, 0); }).join();
  EXPECT_EQ(otherResult, WAIT_TIMEOUT);  // held once more
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_FALSE(ReleaseMutex(m.h));
  std::thread([&] {
    otherResult = WaitForSingleObject(m.h, 0);
    ReleaseMutex(m.h);
  }).join();
  EXPECT_EQ(otherResult, WAIT_OBJECT_0);
}

TEST(BaseMutex, OwnerThatEndsLeavesItAbandoned) {
  HandleCloser m{CreateLocalMutex(false)};
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0); }).join();  // ends holding it
  EXPECT_EQ(WaitForSingleObject(m.h, 1000), WAIT_ABANDONED);
  // The caller owns it now.
  DWORD otherResult = 0;
  std::thread([&] { otherResult = WaitForSingleObject(m.h, 0); }).join();
  EXPECT_EQ(otherResult, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_OBJECT_0);  // reported once only
  EXPECT_TRUE(ReleaseMutex(m.h));

  // A thread blocked on the mutex gets it abandoned, at its index in a multiple wait.
  HandleCloser ev{CreateLocalEvent(true, false)};
  HandleCloser owned{CreateLocalEvent(true, false)};
  std::thread holder([&] {
    WaitForSingleObject(m.h, 0);
    SetEvent(owned.h);
    // Ends (abandoning the mutex) once the multiple wait below is in place.
    Eventually([&] { return detail::LocalWaiterCount(ev.h) >= 1; });
  });
  ASSERT_EQ(WaitForSingleObject(owned.h, 5000), WAIT_OBJECT_0);
  HANDLE hs[] = {ev.h, m.h};
  EXPECT_EQ(WaitForMultipleObjects(2, hs, FALSE, 5000), WAIT_ABANDONED_0 + 1);
  holder.join();
  EXPECT_TRUE(ReleaseMutex(m.h));
}

TEST(BaseMutex, ThreadOfCreateThreadAbandonsToo) {
  HandleCloser m{CreateLocalMutex(false)};
  struct Arg {
    HANDLE m;
  } arg{m.h};
  HANDLE t = CreateThread(nullptr, 0, [](void* p) -> DWORD {
    return WaitForSingleObject(static_cast<Arg*>(p)->m, 0);
  }, &arg, 0, nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  CloseHandle(t);
  // Abandoned before the thread's handle was signalled: no blocking needed.
  EXPECT_EQ(WaitForSingleObject(m.h, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m.h));
}
