// Named mutexes: open or create, ownership by one thread, recursion, timed
// waits, release by the owner only, abandonment by a dying thread or process,
// lifetime and separation of devices.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/base/Handle.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using orvtest::ChildContext;
using orvtest::ChildProcess;
using Clock = std::chrono::steady_clock;

class IpcMutexTest : public orvtest::DeviceTest {};

// The result of a wait on h made by another thread.
DWORD WaitOnOtherThread(HANDLE h, DWORD timeoutMs, bool releaseAfter = true) {
  DWORD r = WAIT_FAILED;
  std::thread t([&] {
    r = WaitForSingleObject(h, timeoutMs);
    if (releaseAfter && (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)) ReleaseMutex(h);
  });
  t.join();
  return r;
}

TEST_F(IpcMutexTest, CreateReportsWhetherTheMutexExisted) {
  SetLastError(12345);
  HANDLE a = CreateMutexW(nullptr, FALSE, u"A377667C-B302-4767-B9C5-EC5210805251");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE b = CreateMutexW(nullptr, FALSE, u"A377667C-B302-4767-B9C5-EC5210805251");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  // Both handles are one mutex: held through one, busy through the other.
  ASSERT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitOnOtherThread(b, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(b));  // the owner thread may release through either handle
  EXPECT_EQ(WaitOnOtherThread(b, 0), WAIT_OBJECT_0);

  CloseHandle(a);
  CloseHandle(b);
  // Once every handle is closed, the name is free again.
  HANDLE c = CreateMutexW(nullptr, FALSE, u"A377667C-B302-4767-B9C5-EC5210805251");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(c);
}

TEST_F(IpcMutexTest, NamesAreAnyTextAndCompareExactly) {
  const char16_t* names[] = {u"CL.Tech", u"CL.tech", u"CL.Tech\\News/Feed", u"CL.\u00C9conomie", u"CL.x\xDC00",
                             u""};
  HANDLE held[std::size(names)];
  for (std::size_t i = 0; i < std::size(names); i++) {
    held[i] = CreateMutexW(nullptr, TRUE, names[i]);
    ASSERT_NE(held[i], nullptr) << i;
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << i;  // each name is a mutex of its own
  }
  for (std::size_t i = 0; i < std::size(names); i++) {
    HANDLE again = CreateMutexW(nullptr, FALSE, names[i]);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << i;
    EXPECT_EQ(WaitOnOtherThread(again, 0), WAIT_TIMEOUT) << i;
    CloseHandle(again);
  }
  for (HANDLE h : held) {
    EXPECT_TRUE(ReleaseMutex(h));
    CloseHandle(h);
  }
}

TEST_F(IpcMutexTest, InitialOwnerCountsOnlyWhenCreated) {
  HANDLE owned = CreateMutexW(nullptr, TRUE, u"initial");
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(WaitOnOtherThread(owned, 0), WAIT_TIMEOUT);

  HANDLE fromThread = nullptr;
  DWORD createErr = 0, releaseErr = 0;
  BOOL released = TRUE;
  std::thread t([&] {
    fromThread = CreateMutexW(nullptr, TRUE, u"initial");
    createErr = GetLastError();
    // Not the owner: the mutex existed, so initialOwner was ignored.
    released = ReleaseMutex(fromThread);
    releaseErr = GetLastError();
  });
  t.join();
  EXPECT_EQ(createErr, ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(released);
  EXPECT_EQ(releaseErr, ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(owned));
  EXPECT_FALSE(ReleaseMutex(owned));
  CloseHandle(fromThread);
  CloseHandle(owned);
}

TEST_F(IpcMutexTest, RecursionNeedsAsManyReleases) {
  HANDLE m = CreateMutexW(nullptr, FALSE, u"recursive");
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 3; i++) ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(m, 1000), WAIT_OBJECT_0);  // a blocking wait recurses too
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_TIMEOUT) << "still held after " << i + 1 << " releases";
  }
  ASSERT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_OBJECT_0);
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(m);
}

TEST_F(IpcMutexTest, OnlyTheOwnerReleases) {
  HANDLE m = CreateMutexW(nullptr, FALSE, u"owner only");
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  BOOL released = TRUE;
  DWORD err = 0;
  std::thread t([&] {
    released = ReleaseMutex(m);
    err = GetLastError();
  });
  t.join();
  EXPECT_FALSE(released);
  EXPECT_EQ(err, ERROR_NOT_OWNER);
  // Still held by this thread.
  EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m));
  CloseHandle(m);
}

TEST_F(IpcMutexTest, TimedWaitOnAHeldMutexTimesOutAfterTheTimeAsked) {
  HANDLE m = CreateMutexW(nullptr, TRUE, u"held");
  for (DWORD timeout : {0u, 30u, 120u}) {
    DWORD r = WAIT_FAILED;
    Clock::duration took{};
    std::thread t([&] {
      HANDLE mine = CreateMutexW(nullptr, FALSE, u"held");
      const auto start = Clock::now();
      r = WaitForSingleObject(mine, timeout);
      took = Clock::now() - start;
      CloseHandle(mine);
    });
    t.join();
    EXPECT_EQ(r, WAIT_TIMEOUT) << timeout;
    EXPECT_GE(took, std::chrono::milliseconds(timeout));
  }
  ReleaseMutex(m);
  CloseHandle(m);
}

TEST_F(IpcMutexTest, AThreadThatEndsHoldingItAbandonsIt) {
  HANDLE m = CreateMutexW(nullptr, FALSE, u"abandoned by thread");
  std::thread t([&] {
    WaitForSingleObject(m, 0);
    WaitForSingleObject(m, 0);  // held twice, released never
  });
  t.join();
  EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
  // The new owner owns it once, as any owner.
  EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  CloseHandle(m);
}

TEST_F(IpcMutexTest, AProcessKilledHoldingItAbandonsItToTheNextWaiter) {
  HANDLE m = CreateMutexW(nullptr, FALSE, u"CL.Tech");
  ASSERT_NE(m, nullptr);
  ChildProcess child([](ChildContext& ctx) {
    HANDLE cm = CreateMutexW(nullptr, FALSE, u"CL.Tech");
    if (!cm || WaitForSingleObject(cm, 0) != WAIT_OBJECT_0) return 1;
    ctx.Ready();
    ctx.WaitFor("never", 60000);
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  EXPECT_EQ(WaitForSingleObject(m, 50), WAIT_TIMEOUT);
  child.Kill(SIGKILL);
  EXPECT_EQ(child.Wait(), 128 + SIGKILL);
  EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_ABANDONED);
  EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_TIMEOUT);  // owned now
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));
  CloseHandle(m);
}

TEST_F(IpcMutexTest, AWaiterBlockedInAnotherProcessGetsItOnRelease) {
  HANDLE m = CreateMutexW(nullptr, TRUE, u"827584C5-B750-4dce-8665-CAE2B3037BAE");
  ChildProcess child([](ChildContext& ctx) {
    HANDLE cm = CreateMutexW(nullptr, FALSE, u"827584C5-B750-4dce-8665-CAE2B3037BAE");
    if (!cm || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
    if (WaitForSingleObject(cm, 0) != WAIT_TIMEOUT) return 2;
    ctx.Ready();
    if (WaitForSingleObject(cm, 20000) != WAIT_OBJECT_0) return 3;
    ctx.Send("got it");
    if (!ctx.WaitFor("done")) return 4;
    return ReleaseMutex(cm) ? 0 : 5;
  });
  ASSERT_TRUE(child.WaitReady());
  ASSERT_TRUE(ReleaseMutex(m));
  ASSERT_TRUE(child.WaitFor("got it"));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
  child.Send("done");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
  ReleaseMutex(m);
  CloseHandle(m);
}

TEST_F(IpcMutexTest, ANameLeftByAKilledProcessIsNewAgain) {
  ChildProcess child([](ChildContext& ctx) {
    HANDLE cm = CreateMutexW(nullptr, TRUE, u"single instance");
    if (!cm || GetLastError() != ERROR_SUCCESS) return 1;
    ctx.Ready();
    ctx.WaitFor("never", 60000);
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  HANDLE probe = CreateMutexW(nullptr, FALSE, u"single instance");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(probe);
  child.Kill(SIGKILL);
  child.Wait();
  HANDLE m = CreateMutexW(nullptr, FALSE, u"single instance");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  ReleaseMutex(m);
  CloseHandle(m);
}

TEST_F(IpcMutexTest, ClosedNamesFreeTheirPlaces) {
  // More names than the table holds at once, one after the other.
  for (int i = 0; i < 5000; i++) {
    const std::u16string name = u"CL.channel " + std::u16string(1, static_cast<char16_t>(0x4E00 + i));
    HANDLE h = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(h, nullptr) << i;
    ASSERT_EQ(GetLastError(), ERROR_SUCCESS) << i;
    CloseHandle(h);
  }
}

TEST_F(IpcMutexTest, ANameOfAnotherKindIsRefused) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, u"shared name");
  ASSERT_NE(e, nullptr);
  SetLastError(0);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"shared name"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(e);
}

TEST_F(IpcMutexTest, DevicesNeverShareObjects) {
  HANDLE m = CreateMutexW(nullptr, TRUE, u"per device");
  ASSERT_NE(m, nullptr);
  {
    orvtest::ScopedTempDevice other;
    HANDLE there = CreateMutexW(nullptr, FALSE, u"per device");
    ASSERT_NE(there, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitOnOtherThread(there, 0), WAIT_OBJECT_0);
    CloseHandle(there);
  }
  // The first device's mutex is untouched and still held.
  EXPECT_EQ(WaitOnOtherThread(m, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m));
  CloseHandle(m);
}

TEST_F(IpcMutexTest, UnnamedMutexesAreLocal) {
  HANDLE a = CreateMutexW(nullptr, TRUE, nullptr);
  HANDLE b = CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitOnOtherThread(a, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitOnOtherThread(b, 0), WAIT_OBJECT_0);
  ReleaseMutex(a);
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(IpcMutexTest, WaitsOverSeveralHandlesMixLocalAndNamedObjects) {
  HANDLE local = CreateLocalEvent(true, false);
  HANDLE named = CreateMutexW(nullptr, FALSE, u"mixed");
  const HANDLE both[] = {local, named};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 1000), WAIT_OBJECT_0 + 1);
  // Now owned by this thread: another thread sees only the local event.
  DWORD r = WAIT_FAILED;
  std::thread t([&] { r = WaitForMultipleObjects(2, both, FALSE, 30); });
  t.join();
  EXPECT_EQ(r, WAIT_TIMEOUT);
  SetEvent(local);
  std::thread t2([&] { r = WaitForMultipleObjects(2, both, FALSE, 1000); });
  t2.join();
  EXPECT_EQ(r, WAIT_OBJECT_0);
  ReleaseMutex(named);
  CloseHandle(local);
  CloseHandle(named);
}

}  // namespace
