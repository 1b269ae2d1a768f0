// Named events: open or create, auto and manual reset across threads and
// processes, pulses, opening existing events.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/ipc/Ipc.h"
#include "platform/ipc/NamedEvent.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using namespace plat;
using orvtest::ChildContext;
using orvtest::ChildProcess;

class IpcEventTest : public orvtest::DeviceTest {
 protected:
  // Waits (boundedly) until n waiters block on the event.
  static bool WaitersInPlace(HANDLE e, unsigned n) {
    return orvtest::Eventually([&] { return ipc::NamedEventWaiters(e) >= n; }, 5000);
  }
};

constexpr const char16_t* kNotify = u"085B13A8-66A5-46f2-B03A-6A18BA1E4C43";

TEST_F(IpcEventTest, InitialStateAndResetModeApplyOnCreationOnly) {
  HANDLE a = CreateEventW(nullptr, FALSE, TRUE, kNotify);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // Opened again as manual, non-signalled: still the auto-reset event, still signalled.
  HANDLE b = CreateEventW(nullptr, TRUE, FALSE, kNotify);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);  // the first wait reset it
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(IpcEventTest, AutoResetReleasesOneWaitPerSet) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, u"auto");
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(e));
  EXPECT_TRUE(SetEvent(e));  // setting a set event does not count twice
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(e));
  EXPECT_TRUE(ResetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST_F(IpcEventTest, OneSetOfAnAutoResetEventReleasesExactlyOneOfTwoThreads) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, u"one of two");
  std::atomic<int> released{0}, timedOut{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; i++) {
    waiters.emplace_back([&] {
      HANDLE mine = CreateEventW(nullptr, FALSE, FALSE, u"one of two");
      const DWORD r = WaitForSingleObject(mine, 300);
      (r == WAIT_OBJECT_0 ? released : timedOut)++;
      CloseHandle(mine);
    });
  }
  ASSERT_TRUE(WaitersInPlace(e, 2));
  SetEvent(e);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 1);
  EXPECT_EQ(timedOut.load(), 1);
  CloseHandle(e);
}

TEST_F(IpcEventTest, OneSetOfAnAutoResetEventReleasesExactlyOneOfTwoProcesses) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, u"one of two processes");
  auto body = [](ChildContext& ctx) {
    HANDLE ce = CreateEventW(nullptr, FALSE, FALSE, u"one of two processes");
    if (!ce) return 9;
    ctx.Ready();
    return WaitForSingleObject(ce, 500) == WAIT_OBJECT_0 ? 0 : 1;
  };
  ChildProcess first(body), second(body);
  ASSERT_TRUE(first.WaitReady());
  ASSERT_TRUE(second.WaitReady());
  ASSERT_TRUE(WaitersInPlace(e, 2));
  SetEvent(e);
  const int a = first.Wait(), b = second.Wait();
  ASSERT_TRUE((a == 0 || a == 1) && (b == 0 || b == 1)) << a << " " << b;
  EXPECT_EQ(a + b, 1) << "exactly one child is released";
  CloseHandle(e);
}

TEST_F(IpcEventTest, ManualResetReleasesEveryWaiterAndStaysSet) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, u"PowerManager/UserActivity_Active");
  ChildProcess child([](ChildContext& ctx) {
    HANDLE ce = CreateEventW(nullptr, TRUE, FALSE, u"PowerManager/UserActivity_Active");
    if (!ce || GetLastError() != ERROR_ALREADY_EXISTS) return 9;
    ctx.Ready();
    return WaitForSingleObject(ce, 10000) == WAIT_OBJECT_0 ? 0 : 1;
  });
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; i++)
    threads.emplace_back([&] {
      if (WaitForSingleObject(e, 10000) == WAIT_OBJECT_0) released++;
    });
  ASSERT_TRUE(child.WaitReady());
  ASSERT_TRUE(WaitersInPlace(e, 4));
  SetEvent(e);
  for (auto& t : threads) t.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 20), WAIT_TIMEOUT);
  CloseHandle(e);
}

struct PulseCase {
  const char* label;
  BOOL manual;
  int waiters;
  int expectReleased;
};

class IpcPulseTest : public IpcEventTest, public testing::WithParamInterface<PulseCase> {};

TEST_P(IpcPulseTest, PulseReleasesWaitersPresentAndLeavesTheEventClear) {
  const PulseCase& c = GetParam();
  HANDLE e = CreateEventW(nullptr, c.manual, FALSE, u"pulsed");
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < c.waiters; i++)
    threads.emplace_back([&] {
      if (WaitForSingleObject(e, 300) == WAIT_OBJECT_0) released++;
    });
  ASSERT_TRUE(WaitersInPlace(e, static_cast<unsigned>(c.waiters)));
  EXPECT_TRUE(PulseEvent(e));
  for (auto& t : threads) t.join();
  EXPECT_EQ(released.load(), c.expectReleased);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

INSTANTIATE_TEST_SUITE_P(Pulses, IpcPulseTest,
                         testing::Values(PulseCase{"manual_none", TRUE, 0, 0}, PulseCase{"manual_three", TRUE, 3, 3},
                                         PulseCase{"auto_none", FALSE, 0, 0}, PulseCase{"auto_three", FALSE, 3, 1}),
                         [](const testing::TestParamInfo<PulseCase>& info) { return info.param.label; });

TEST_F(IpcEventTest, SetInAnotherProcessWakesABlockedWaiter) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, kNotify);
  ChildProcess child([](ChildContext& ctx) {
    HANDLE ce = CreateEventW(nullptr, FALSE, TRUE, kNotify);
    if (!ctx.WaitFor("set")) return 1;
    return SetEvent(ce) ? 0 : 2;
  });
  EXPECT_EQ(WaitForSingleObject(e, 30), WAIT_TIMEOUT);
  child.Send("set");
  EXPECT_EQ(WaitForSingleObject(e, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(child.Wait(), 0);
  CloseHandle(e);
}

TEST_F(IpcEventTest, AKilledWaiterLeavesTheEventWorking) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, u"survives");
  ChildProcess child([](ChildContext& ctx) {
    HANDLE ce = CreateEventW(nullptr, FALSE, FALSE, u"survives");
    ctx.Ready();
    WaitForSingleObject(ce, 60000);
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  ASSERT_TRUE(WaitersInPlace(e, 1));
  child.Kill(SIGKILL);
  child.Wait();
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST_F(IpcEventTest, OpenFindsOnlyExistingEvents) {
  SetLastError(0);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"not there"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, u"there");
  HANDLE o = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"there");
  ASSERT_NE(o, nullptr);
  SetEvent(o);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  CloseHandle(o);
  CloseHandle(e);
  // Gone with its last handle.
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"there"), nullptr);
  HANDLE m = CreateMutexW(nullptr, FALSE, u"a mutex");
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"a mutex"), nullptr);
  CloseHandle(m);
}

TEST_F(IpcEventTest, ANewEventAfterEveryHandleClosedStartsAfresh) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, u"fresh");
  CloseHandle(e);
  e = CreateEventW(nullptr, TRUE, FALSE, u"fresh");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST_F(IpcEventTest, UnnamedEventsAreLocal) {
  HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(ipc::NamedEventWaiters(e), 0u);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  CloseHandle(e);
}

}  // namespace
