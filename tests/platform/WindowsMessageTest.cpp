// Windows and message queues within one process: posting order, filters,
// sends between threads, destruction, subclassing, timers on the test clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/Thread.h"
#include "platform/base/Time.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using namespace plat;

class WindowsMessageTest : public orvtest::DeviceTest {};

constexpr UINT kEcho = WM_USER + 1;  // answers wParam * 2 + lParam
constexpr UINT kPing = WM_USER + 2;

std::atomic<int> g_received{0};
thread_local std::vector<std::pair<DWORD, UINT>>* t_log = nullptr;

LRESULT CALLBACK_Echo(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (t_log && (msg == WM_DESTROY || msg == WM_NCDESTROY || msg == WM_CREATE)) t_log->push_back({HandleToValue(hwnd), msg});
  if (msg == kEcho) {
    ++g_received;
    return static_cast<LRESULT>(w * 2) + l;
  }
  return DefWindowProcW(hwnd, msg, w, l);
}

HWND MakeWindow(DWORD style = WS_POPUP, HWND parent = nullptr, int id = 0) {
  wmtest::EnsureClass(u"WmTestEcho", CALLBACK_Echo);
  return CreateWindowExW(0, u"WmTestEcho", u"echo", style, 0, 0, 100, 100, parent,
                         reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
}

TEST_F(WindowsMessageTest, PostedMessagesKeepTheirOrder) {
  HWND w = MakeWindow();
  ASSERT_NE(w, nullptr);
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(PostMessageW(w, kPing, static_cast<WPARAM>(i), 0));
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), kPing, 50, 0));
  MSG m;
  for (int i = 0; i <= 50; ++i) {
    ASSERT_TRUE(PeekMessageW(&m, nullptr, kPing, kPing, PM_REMOVE));
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(i));
    EXPECT_EQ(m.hwnd, i < 50 ? w : nullptr);
  }
  EXPECT_FALSE(PeekMessageW(&m, nullptr, kPing, kPing, PM_REMOVE));
  DestroyWindow(w);
}

TEST_F(WindowsMessageTest, PeekFiltersByWindowAndRange) {
  HWND a = MakeWindow();
  HWND b = MakeWindow();
  HWND child = MakeWindow(WS_CHILD, a, 5);
  ASSERT_TRUE(a && b && child);
  PostMessageW(b, kPing, 1, 0);
  PostMessageW(child, kPing, 2, 0);
  PostMessageW(a, kEcho, 3, 0);
  PostThreadMessageW(GetCurrentThreadId(), kPing, 4, 0);
  MSG m;
  struct Case {
    HWND filter;
    UINT min, max;
    WPARAM expected;
  };
  // Without removal, each filter sees the first message that matches it.
  const Case cases[] = {
      {nullptr, 0, 0, 1},
      {a, 0, 0, 2},  // the child's message counts for its parent
      {a, kEcho, kEcho, 3},
      {reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)), 0, 0, 4},
      {b, kEcho, kEcho, 0},
  };
  for (const Case& c : cases) {
    BOOL got = PeekMessageW(&m, c.filter, c.min, c.max, PM_NOREMOVE);
    if (c.expected == 0) {
      EXPECT_FALSE(got);
    } else {
      ASSERT_TRUE(got) << c.expected;
      EXPECT_EQ(m.wParam, c.expected);
    }
  }
  // Removing through a filter leaves the others in place.
  ASSERT_TRUE(PeekMessageW(&m, a, kEcho, kEcho, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
  std::vector<WPARAM> rest;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == kPing) rest.push_back(m.wParam);
  EXPECT_EQ(rest, (std::vector<WPARAM>{1, 2, 4}));
  EXPECT_EQ(PeekMessageW(&m, ValueToHandle(0x7FFFFFF0), 0, 0, PM_REMOVE), FALSE);
  DestroyWindow(a);
  DestroyWindow(b);
}

TEST_F(WindowsMessageTest, QuitEndsGetMessageAfterPostedMessages) {
  HWND w = MakeWindow();
  PostMessageW(w, kPing, 1, 0);
  PostQuitMessage(7);
  MSG m;
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
  EXPECT_EQ(m.message, kPing);
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.wParam, 7u);
  DestroyWindow(w);
}

TEST_F(WindowsMessageTest, TwoThreadsSendingToEachOtherComplete) {
  std::atomic<HWND> other{nullptr};
  std::atomic<bool> start{false};
  std::atomic<int> otherFailures{0};
  std::atomic<bool> mainDone{false};
  HWND mine = MakeWindow();
  ASSERT_NE(mine, nullptr);
  std::thread t([&] {
    HWND w = MakeWindow();
    other = w;
    while (!start) std::this_thread::yield();
    for (int i = 0; i < 200; ++i)
      if (SendMessageW(mine, kEcho, static_cast<WPARAM>(i), 1) != i * 2 + 1) ++otherFailures;
    // Keep serving the main thread's sends until it has finished.
    orvtest::PumpUntil([&] { return mainDone.load(); });
    DestroyWindow(w);
  });
  while (!other) std::this_thread::yield();
  start = true;
  int failures = 0;
  for (int i = 0; i < 200; ++i)
    if (SendMessageW(other, kEcho, static_cast<WPARAM>(i), 3) != i * 2 + 3) ++failures;
  mainDone = true;
  // The other thread may still be sending to us.
  std::atomic<bool> joined{false};
  std::thread joiner([&] {
    t.join();
    joined = true;
  });
  EXPECT_TRUE(orvtest::PumpUntil([&] { return joined.load(); }));
  joiner.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(otherFailures, 0);
  DestroyWindow(mine);
}

TEST_F(WindowsMessageTest, SendToAWindowDestroyedMeanwhileFails) {
  std::atomic<HWND> target{nullptr};
  std::atomic<bool> pending{false};
  g_received = 0;
  std::thread owner([&] {
    HWND w = MakeWindow();
    target = w;
    // The send waits in this thread's queue, then the window goes: the
    // pending send is never handled.
    pending = orvtest::Eventually([] { return (GetQueueStatus(QS_SENDMESSAGE) & QS_SENDMESSAGE) != 0; });
    DestroyWindow(w);
  });
  while (!target) std::this_thread::yield();
  DWORD_PTR result = 99;
  LRESULT ok = SendMessageTimeoutW(target, kEcho, 1, 1, SMTO_NORMAL, 10000, &result);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  owner.join();
  EXPECT_TRUE(pending) << "the send never waited in the owner's queue";
  EXPECT_EQ(g_received, 0);
  EXPECT_FALSE(IsWindow(target));
  EXPECT_EQ(SendMessageW(target, kEcho, 1, 1), 0);
  EXPECT_FALSE(PostMessageW(target, kPing, 0, 0));
}

TEST_F(WindowsMessageTest, QueueStatusTellsWhatWaitsWithoutHandlingIt) {
  g_received = 0;
  HWND mine = MakeWindow();
  ASSERT_NE(mine, nullptr);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  EXPECT_EQ(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_KEY), 0u);
  ASSERT_TRUE(PostMessageW(mine, kPing, 0, 0));
  EXPECT_EQ(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE), (QS_POSTMESSAGE << 16) | QS_POSTMESSAGE);
  EXPECT_EQ(GetQueueStatus(QS_SENDMESSAGE), 0u);  // only the kinds asked for
  // A message sent from another thread waits until this thread looks at its queue.
  std::atomic<LRESULT> answer{-1};
  std::thread sender([&] { answer = SendMessageW(mine, kEcho, 4, 1); });
  EXPECT_TRUE(orvtest::Eventually([] { return (GetQueueStatus(QS_SENDMESSAGE) & QS_SENDMESSAGE) != 0; }));
  EXPECT_EQ(g_received, 0);
  EXPECT_EQ(answer, -1);
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  sender.join();
  EXPECT_EQ(answer, 9);
  EXPECT_EQ(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE), 0u);
  DestroyWindow(mine);
}

TEST_F(WindowsMessageTest, SendToAThreadThatEndedFails) {
  HWND w = nullptr;
  std::thread t([&] { w = MakeWindow(); });
  t.join();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(SendMessageW(w, kEcho, 1, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowsMessageTest, SendTimeoutToABusyThreadTimesOut) {
  std::atomic<HWND> target{nullptr};
  std::atomic<bool> release{false};
  std::thread owner([&] {
    target = MakeWindow();
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // the late send is handled; its answer goes nowhere
    DestroyWindow(target);
  });
  while (!target) std::this_thread::yield();
  DWORD_PTR result = 5;
  EXPECT_EQ(SendMessageTimeoutW(target, kEcho, 1, 1, SMTO_BLOCK, 100, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 0u);
  release = true;
  owner.join();
}

// "Hung" is a thread that has not looked at its queue for 5 s: one waiting
// in GetMessage all that while is not, one busy elsewhere is. The 5 s pass on
// the platform clock, which the test moves.
TEST_F(WindowsMessageTest, AbortIfHungSkipsOnlyAThreadThatStoppedReadingItsQueue) {
  struct TestClock : ManualClock {
    TestClock() { SetClock(this); }
    ~TestClock() override { SetClock(nullptr); }
  } clock;
  std::atomic<HWND> idle{nullptr}, busy{nullptr};
  std::atomic<bool> release{false};
  std::thread idleOwner([&] {
    idle = MakeWindow();
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    DestroyWindow(idle);
  });
  std::thread busyOwner([&] {
    HWND w = MakeWindow();
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    busy = w;  // its last look at the queue until released
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // would handle a send left waiting
    DestroyWindow(w);
  });
  while (!idle || !busy) std::this_thread::yield();
  // The idle thread is in GetMessage before the time passes.
  while (!IsWaitingForMessagesForTesting(idle)) std::this_thread::yield();
  // Past the 5 s that make a thread hung.
  clock.Advance(5300);
  g_received = 0;
  DWORD_PTR result = 0;
  EXPECT_EQ(SendMessageTimeoutW(idle, kEcho, 2, 1, SMTO_ABORTIFHUNG, 5000, &result), 1);
  EXPECT_EQ(result, 5u);
  EXPECT_EQ(g_received, 1);
  result = 7;
  EXPECT_EQ(SendMessageTimeoutW(busy, kEcho, 2, 1, SMTO_ABORTIFHUNG, 5000, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 0u);
  release = true;
  PostMessageW(idle, WM_QUIT, 0, 0);
  idleOwner.join();
  busyOwner.join();
  // Refused as hung, not sent and timed out: the busy thread's next look at
  // its queue found nothing to handle.
  EXPECT_EQ(g_received, 1);
}

TEST_F(WindowsMessageTest, ReplyMessageAndInSendMessage) {
  static std::atomic<int> inSend{-1};
  struct Local {
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
      if (m == kEcho) {
        inSend = InSendMessage() ? 1 : 0;
        ReplyMessage(77);
        return 5;  // too late: the sender has its answer
      }
      return DefWindowProcW(h, m, w, l);
    }
  };
  wmtest::EnsureClass(u"WmTestReply", Local::Proc);
  HWND w = CreateWindowExW(0, u"WmTestReply", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageW(w, kEcho, 0, 0), 5);  // same thread: a plain call
  EXPECT_EQ(inSend, 0);
  LRESULT fromOther = 0;
  std::thread t([&] { fromOther = SendMessageW(w, kEcho, 0, 0); });
  std::atomic<bool> ended{false};
  std::thread watcher([&] {
    t.join();
    ended = true;
  });
  EXPECT_TRUE(orvtest::PumpUntil([&] { return ended.load(); }));
  watcher.join();
  EXPECT_EQ(fromOther, 77);
  EXPECT_EQ(inSend, 1);
  DestroyWindow(w);
}

TEST_F(WindowsMessageTest, DestroyReachesChildrenInOrder) {
  std::vector<std::pair<DWORD, UINT>> log;
  t_log = &log;
  HWND parent = MakeWindow();
  HWND child = MakeWindow(WS_CHILD, parent, 3);
  HWND grandChild = MakeWindow(WS_CHILD, child, 4);
  ASSERT_TRUE(parent && child && grandChild);
  EXPECT_EQ(GetParent(grandChild), child);
  EXPECT_EQ(GetDlgItem(parent, 3), child);
  EXPECT_EQ(GetDlgCtrlID(grandChild), 4);
  EXPECT_TRUE(IsChild(parent, grandChild));
  log.clear();
  ASSERT_TRUE(DestroyWindow(parent));
  t_log = nullptr;
  DWORD p = HandleToValue(parent), c = HandleToValue(child), g = HandleToValue(grandChild);
  std::vector<std::pair<DWORD, UINT>> expected = {{p, WM_DESTROY},   {c, WM_DESTROY},   {g, WM_DESTROY},
                                                   {g, WM_NCDESTROY}, {c, WM_NCDESTROY}, {p, WM_NCDESTROY}};
  EXPECT_EQ(log, expected);
  for (HWND h : {parent, child, grandChild}) EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(DestroyWindow(parent));
}

TEST_F(WindowsMessageTest, CreationRefusedByTheProcedureGivesNoWindow) {
  struct Local {
    static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
      if (m == WM_CREATE) return -1;
      return DefWindowProcW(h, m, w, l);
    }
  };
  wmtest::EnsureClass(u"WmTestRefuse", Local::Proc);
  EXPECT_EQ(CreateWindowExW(0, u"WmTestRefuse", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(FindWindowW(u"WmTestRefuse", nullptr), nullptr);
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

WNDPROC g_previous = nullptr;
LRESULT CALLBACK_Sub(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == kEcho) return CallWindowProcW(g_previous, h, m, w, l) + 1000;
  return CallWindowProcW(g_previous, h, m, w, l);
}

TEST_F(WindowsMessageTest, SubclassAndSuperclassChainProcedures) {
  HWND w = MakeWindow();
  g_previous = reinterpret_cast<WNDPROC>(SetWindowLongW(w, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&CALLBACK_Sub)));
  EXPECT_EQ(g_previous, &CALLBACK_Echo);
  EXPECT_EQ(SendMessageW(w, kEcho, 1, 1), 1003);

  WNDCLASSW wc{};
  ASSERT_TRUE(GetClassInfoW(nullptr, u"WmTestEcho", &wc));
  EXPECT_EQ(wc.lpfnWndProc, &CALLBACK_Echo);
  wc.lpfnWndProc = CALLBACK_Sub;
  wc.lpszClassName = u"WmTestSuperEcho";
  WNDCLASSW exists{};
  if (!GetClassInfoW(nullptr, u"WmTestSuperEcho", &exists)) {
    ASSERT_NE(RegisterClassW(&wc), 0);
  }
  EXPECT_EQ(RegisterClassW(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  HWND s = CreateWindowExW(0, u"wmtestsuperecho", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SendMessageW(s, kEcho, 2, 0), 1004);
  WCHAR name[64];
  EXPECT_EQ(GetClassNameW(s, name, 64), 15);
  EXPECT_EQ(std::u16string(name), u"WmTestSuperEcho");
  DestroyWindow(s);
  DestroyWindow(w);
}

TEST_F(WindowsMessageTest, LongsTextAndProperties) {
  HWND w = MakeWindow(WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(SetWindowLongW(w, GWL_USERDATA, 1234), 0);
  EXPECT_EQ(GetWindowLongW(w, GWL_USERDATA), 1234);
  EXPECT_EQ(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE, static_cast<LONG_PTR>(WS_VISIBLE));
  EXPECT_EQ(GetWindowLongW(w, 0), 0);  // the class has no extra bytes
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(SetWindowTextW(w, u"Orv News"));
  WCHAR buf[5];
  EXPECT_EQ(GetWindowTextW(w, buf, 5), 4);
  EXPECT_EQ(std::u16string(buf), u"Orv ");
  EXPECT_EQ(GetWindowTextLengthW(w), 8);
  EXPECT_EQ(FindWindowW(nullptr, u"Orv News"), w);
  int a = 0, b = 0;
  EXPECT_TRUE(SetPropW(w, u"First", reinterpret_cast<HANDLE>(&a)));
  EXPECT_TRUE(SetPropW(w, u"second", reinterpret_cast<HANDLE>(&b)));
  EXPECT_EQ(GetPropW(w, u"FIRST"), reinterpret_cast<HANDLE>(&a));
  EXPECT_EQ(RemovePropW(w, u"Second"), reinterpret_cast<HANDLE>(&b));
  EXPECT_EQ(GetPropW(w, u"second"), nullptr);
  EXPECT_TRUE(ShowWindow(w, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_FALSE(EnableWindow(w, FALSE));
  EXPECT_FALSE(IsWindowEnabled(w));
  DestroyWindow(w);
  EXPECT_EQ(GetWindowLongW(w, GWL_USERDATA), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowsMessageTest, GeometryAndZOrderOfChildren) {
  wmtest::EnsureClass(u"WmTestEcho", CALLBACK_Echo);
  HWND top = CreateWindowExW(0, u"WmTestEcho", u"", WS_POPUP | WS_VISIBLE, 10, 20, 200, 300, nullptr, nullptr,
                             nullptr, nullptr);
  ASSERT_NE(top, nullptr);
  HWND a = MakeWindow(WS_CHILD | WS_VISIBLE, top, 1);
  HWND b = MakeWindow(WS_CHILD | WS_VISIBLE, top, 2);
  ASSERT_TRUE(MoveWindow(a, 5, 6, 50, 40, TRUE));
  ASSERT_TRUE(MoveWindow(b, 30, 30, 50, 40, TRUE));
  RECT r;
  ASSERT_TRUE(GetWindowRect(a, &r));
  EXPECT_EQ(r.left, 15);
  EXPECT_EQ(r.top, 26);
  EXPECT_EQ(r.right, 65);
  EXPECT_EQ(r.bottom, 66);
  GetClientRect(a, &r);
  EXPECT_EQ(r.right, 50);
  EXPECT_EQ(r.bottom, 40);
  POINT p{1, 2};
  ClientToScreen(b, &p);
  EXPECT_EQ(p.x, 41);
  EXPECT_EQ(p.y, 52);
  ScreenToClient(a, &p);
  EXPECT_EQ(p.x, 26);
  EXPECT_EQ(p.y, 26);
  // Creation order is z-order from the top; the overlap belongs to the upper one.
  EXPECT_EQ(GetWindow(top, GW_CHILD), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
  EXPECT_EQ(WindowFromPoint(POINT{10 + 40, 20 + 40}), a);
  ASSERT_TRUE(SetWindowPos(b, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(GetWindow(top, GW_CHILD), b);
  EXPECT_EQ(WindowFromPoint(POINT{10 + 40, 20 + 40}), b);
  EXPECT_EQ(WindowFromPoint(POINT{10 + 150, 20 + 150}), top);
  ShowWindow(b, SW_HIDE);
  EXPECT_EQ(WindowFromPoint(POINT{10 + 40, 20 + 40}), a);
  std::vector<HWND> kids;
  EnumChildWindows(top, [](HWND h, LPARAM l) {
    reinterpret_cast<std::vector<HWND>*>(l)->push_back(h);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&kids));
  EXPECT_EQ(kids, (std::vector<HWND>{b, a}));
  DestroyWindow(top);
}

TEST_F(WindowsMessageTest, TimerFiresWhenTheClockPassesItsPeriod) {
  ManualClock clock;
  SetClock(&clock);
  HWND w = MakeWindow();
  ASSERT_EQ(SetTimer(w, 7, 1000, nullptr), 7u);
  MSG m;
  clock.Advance(999);
  EXPECT_FALSE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
  clock.Advance(1);
  ASSERT_TRUE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_FALSE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));  // the next period starts now
  clock.Advance(1000);
  EXPECT_TRUE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
  ASSERT_TRUE(KillTimer(w, 7));
  clock.Advance(5000);
  EXPECT_FALSE(PeekMessageW(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_FALSE(KillTimer(w, 7));

  // A callback timer of the thread runs from DispatchMessageW.
  static std::atomic<int> calls{0};
  calls = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++calls; });
  ASSERT_NE(id, 0u);
  clock.Advance(10);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  DispatchMessageW(&m);
  EXPECT_EQ(calls, 1);
  KillTimer(nullptr, id);
  DestroyWindow(w);
  SetClock(nullptr);
}

TEST_F(WindowsMessageTest, WakingQueuesLetsABlockedThreadSeeItsTimer) {
  ManualClock clock;
  SetClock(&clock);
  std::atomic<bool> armed{false};
  std::atomic<UINT> got{0};
  std::thread t([&] {
    HWND w = MakeWindow();
    SetTimer(w, 3, 500, nullptr);
    armed = true;
    MSG m;
    GetMessageW(&m, nullptr, 0, 0);
    got = m.message;
    DestroyWindow(w);
  });
  while (!armed) std::this_thread::yield();
  clock.Advance(500);
  // Woken until it has seen the timer (it may not be blocked yet at the first wake).
  orvtest::Eventually([&] {
    WakeMessageQueues();
    return got != 0;
  });
  t.join();
  EXPECT_EQ(got, WM_TIMER);
  SetClock(nullptr);
}

}  // namespace
