#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/Interlocked.h"
#include "platform/base/Thread.h"
#include "tests/support/Wait.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

struct Shared {
  std::atomic<bool> ran{false};
  std::atomic<DWORD> seenId{0};
  HANDLE go = nullptr;
};

DWORD Work(void* p) {
  auto* s = static_cast<Shared*>(p);
  s->seenId = GetCurrentThreadId();
  s->ran = true;
  if (s->go) WaitForSingleObject(s->go, INFINITE);
  return 42;
}

}  // namespace

TEST(BaseThread, StartSuspendedResumeAndExitCode) {
  Shared s;
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, Work, &s, CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_TRUE(orvtest::StaysTrue([&] { return !s.ran.load(); }, 30));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);

  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(s.ran.load());
  EXPECT_EQ(s.seenId.load(), id);
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(ResumeThread(t), 0u);                      // was not suspended
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(CloseHandle(t));
}

TEST(BaseThread, TimedJoin) {
  Shared s;
  s.go = CreateLocalEvent(true, false);
  HANDLE t = CreateThread(nullptr, 64 * 1024, Work, &s, 0, nullptr);
  ASSERT_NE(t, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 50ms);
  SetEvent(s.go);  // the thread stops cooperatively
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  CloseHandle(t);
  CloseHandle(s.go);
}

TEST(BaseThread, HandleClosedEarlyThreadRunsOn) {
  Shared s;
  s.go = CreateLocalEvent(true, false);
  HANDLE done = CreateLocalEvent(true, false);
  struct Arg {
    Shared* s;
    HANDLE done;
  } arg{&s, done};
  HANDLE t = CreateThread(nullptr, 0, [](void* p) -> DWORD {
    auto* a = static_cast<Arg*>(p);
    Work(a->s);
    SetEvent(a->done);
    return 0;
  }, &arg, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(CloseHandle(t));
  SetEvent(s.go);
  EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
  CloseHandle(done);
  CloseHandle(s.go);
}

TEST(BaseThread, ExceptionEndsOnlyTheThread) {
  HANDLE t = CreateThread(nullptr, 0, [](void*) -> DWORD { throw std::runtime_error("boom"); }, nullptr, 0, nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, THREAD_EXIT_EXCEPTION);
  CloseHandle(t);
}

TEST(BaseThread, Priorities) {
  Shared s;
  s.go = CreateLocalEvent(true, false);
  HANDLE t = CreateThread(nullptr, 0, Work, &s, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);
  const int levels[] = {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_BELOW_NORMAL};
  for (int p : levels) {
    EXPECT_TRUE(SetThreadPriority(t, p));
    EXPECT_EQ(GetThreadPriority(t), p);
  }
  EXPECT_FALSE(SetThreadPriority(t, 8));
  EXPECT_FALSE(SetThreadPriority(t, -1));
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_BELOW_NORMAL);
  SetEvent(s.go);
  WaitForSingleObject(t, 5000);
  CloseHandle(t);
  CloseHandle(s.go);

  // The calling thread through the pseudo handle.
  std::thread([] {
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_IDLE));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_ABOVE_IDLE);
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
  }).join();
  EXPECT_EQ(GetThreadPriority(nullptr), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(BaseThread, ThreadIdsDiffer) {
  std::vector<DWORD> ids(4);
  std::vector<std::thread> threads;
  for (auto& id : ids) threads.emplace_back([&id] { id = GetCurrentThreadId(); });
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_NE(ids[i], 0u);
    EXPECT_NE(ids[i], GetCurrentThreadId());
  }
}

TEST(BaseInterlocked, ResultsAndAtomicity) {
  LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedDecrement(&v), 5);
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedExchangeAdd(&v, -4), 9);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(InterlockedCompareExchange(&v, 7, 4), 5);  // no match: unchanged
  EXPECT_EQ(v, 5);
  EXPECT_EQ(InterlockedCompareExchange(&v, 7, 5), 5);
  EXPECT_EQ(v, 7);
  int a = 0, b = 0;
  void* p = &a;
  EXPECT_EQ(InterlockedCompareExchangePointer(&p, &b, &a), &a);
  EXPECT_EQ(p, &b);
  EXPECT_EQ(InterlockedExchangePointer(&p, nullptr), &b);

  LONG volatile counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; ++k) {
        InterlockedIncrement(&counter);
        InterlockedExchangeAdd(&counter, 2);
        InterlockedDecrement(&counter);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4 * 20000 * 2);
}
