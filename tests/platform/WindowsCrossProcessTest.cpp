// Windows of two processes of one device: finding, sending and posting over
// the owner's socket, a dead or silent owner, device-wide unique handles.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using namespace plat;
using orvtest::ChildContext;
using orvtest::ChildProcess;

class WindowsCrossProcessTest : public orvtest::DeviceTest {};

constexpr UINT kHandleReport = WM_APP + 5;  // wParam: a handle of the other process
constexpr UINT kDone = WM_APP + 6;

std::atomic<int> g_posts{0};
std::atomic<bool> g_done{false};
std::set<DWORD>* g_reported = nullptr;

LRESULT CALLBACK_Target(HWND h, UINT m, WPARAM w, LPARAM l) {
  static const UINT question = RegisterWindowMessageW(u"Orv News acknowledge");
  if (m == question) return static_cast<LRESULT>(w) + l;
  if (m == kHandleReport) {
    if (g_reported) g_reported->insert(static_cast<DWORD>(w));
    return 0;
  }
  if (m == kDone) {
    ++g_posts;
    g_done = true;
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

HWND MakeTarget(const char16_t* title) {
  wmtest::EnsureClass(u"OrvTestTarget", CALLBACK_Target);
  return CreateWindowExW(0, u"OrvTestTarget", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(WindowsCrossProcessTest, ChildFindsSendsAndPostsToTheParentsWindow) {
  g_posts = 0;
  g_done = false;
  std::set<DWORD> reported;
  g_reported = &reported;
  HWND mine = MakeTarget(u"Parent window");
  ASSERT_NE(mine, nullptr);
  std::set<DWORD> parentHandles{HandleToValue(mine)};
  for (int i = 0; i < 3; ++i) {
    HWND extra = MakeTarget(u"extra");
    parentHandles.insert(HandleToValue(extra));
  }
  ChildProcess child([](ChildContext&) {
    HWND target = FindWindowW(u"orvtesttarget", u"Parent window");
    if (!target) return 1;
    if (!IsWindow(target)) return 2;
    WCHAR title[32];
    if (GetWindowTextW(target, title, 32) != 13) return 3;
    UINT question = RegisterWindowMessageW(u"ORV NEWS ACKNOWLEDGE");
    if (SendMessageW(target, question, 40, 2) != 42) return 4;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(target, question, 1, 1, SMTO_ABORTIFHUNG, 5000, &r) || r != 2) return 5;
    // Windows of this process get handles of their own on the device.
    for (int i = 0; i < 4; ++i) {
      HWND w = MakeTarget(u"child");
      if (!w) return 6;
      if (!PostMessageW(target, kHandleReport, HandleToValue(w), 0)) return 7;
    }
    if (!PostMessageW(target, kDone, 0, 0)) return 8;
    return 0;
  });
  EXPECT_TRUE(orvtest::PumpUntil([] { return g_done.load(); }));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(g_posts, 1);
  g_reported = nullptr;
  EXPECT_EQ(reported.size(), 4u);  // posts arrived before the last one, none twice
  for (DWORD h : reported) {
    EXPECT_EQ(parentHandles.count(h), 0u);
    EXPECT_LE(h, 0x7FFFFFFFu);
  }
  // The child has ended: its windows are gone from the device.
  EXPECT_EQ(FindWindowW(nullptr, u"child"), nullptr);
  for (DWORD h : reported) EXPECT_FALSE(IsWindow(ValueToHandle(h)));
  for (DWORD h : parentHandles) DestroyWindow(ValueToHandle(h));
}

TEST_F(WindowsCrossProcessTest, SendFailsWhenTheOwnerDiesAndTimesOutWhenItIsSilent) {
  ChildProcess child([](ChildContext& ctx) {
    HWND w = MakeTarget(u"Silent window");
    if (!w) return 1;
    ctx.Ready();
    // Tells when a send waits in its queue; never reads the queue.
    if (!orvtest::Eventually([] { return (GetQueueStatus(QS_SENDMESSAGE) & QS_SENDMESSAGE) != 0; }, 20000))
      return 3;
    ctx.Send("pending");
    ctx.WaitFor("never", 20000);
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  HWND target = FindWindowW(u"OrvTestTarget", u"Silent window");
  ASSERT_NE(target, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  EXPECT_EQ(pid, static_cast<DWORD>(child.Pid()));
  UINT question = RegisterWindowMessageW(u"Orv News acknowledge");

  // A send that waits in the owner's queue...
  std::atomic<int> outcome{-1};
  std::atomic<DWORD> error{0};
  std::thread sender([&] {
    DWORD_PTR res = 0;
    outcome = static_cast<int>(SendMessageTimeoutW(target, question, 1, 1, SMTO_NORMAL, 20000, &res));
    error = GetLastError();
  });
  const bool pending = child.WaitFor("pending", 20000);
  EXPECT_TRUE(pending) << "the send never waited in the owner's queue";
  // ...meanwhile another one times out: the owner is silent.
  DWORD_PTR r = 9;
  EXPECT_EQ(SendMessageTimeoutW(target, question, 1, 1, SMTO_NORMAL, 150, &r), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(outcome, -1);

  // The waiting send fails when the owner dies (not by its time-out).
  child.Kill();
  child.Wait();
  sender.join();
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(error, ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(IsWindow(target));
  EXPECT_EQ(SendMessageW(target, question, 1, 1), 0);
  EXPECT_FALSE(PostMessageW(target, question, 1, 1));
}

TEST_F(WindowsCrossProcessTest, ParentsDeathMakesTheChildsSendFail) {
  // The roles turned round: the window's process ends while the other sends.
  ChildProcess owner([](ChildContext& ctx) {
    if (!MakeTarget(u"Owner")) return 1;
    ctx.Ready();
    ctx.WaitFor("end", 20000);
    return 0;
  });
  ASSERT_TRUE(owner.WaitReady());
  ChildProcess sender([](ChildContext& ctx) {
    HWND target = FindWindowW(u"OrvTestTarget", u"Owner");
    if (!target) return 1;
    ctx.Ready();
    UINT question = RegisterWindowMessageW(u"Orv News acknowledge");
    DWORD_PTR r;
    if (SendMessageTimeoutW(target, question, 1, 1, SMTO_NORMAL, 20000, &r)) return 2;
    return GetLastError() == ERROR_INVALID_WINDOW_HANDLE ? 0 : 3;
  });
  ASSERT_TRUE(sender.WaitReady());
  owner.Send("end");
  EXPECT_EQ(owner.Wait(), 0);
  EXPECT_EQ(sender.Wait(), 0);
}

}  // namespace

namespace {

// The shell's window in another process, as the auto-update service handles
// it: its procedure is not this process's to read or replace, but it can be
// moved, reordered, hidden and asked for its program; a screen DC copies it.
LRESULT CALLBACK_Green(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT r{0, 0, 100, 20};
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    FillRect(dc, &r, green);
    DeleteObject(green);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

TEST_F(WindowsCrossProcessTest, AnotherProcesssWindowIsMovedReorderedAndCopiedButNotSubclassed) {
  HWND mine = MakeTarget(u"mine");
  ASSERT_NE(mine, nullptr);
  ShowWindow(mine, SW_SHOW);
  ChildProcess child([](ChildContext& ctx) {
    wmtest::EnsureClass(u"OrvShellStandIn", CALLBACK_Green);
    HWND w = CreateWindowExW(0, u"OrvShellStandIn", u"", WS_POPUP | WS_VISIBLE, 5, 7, 100, 20, nullptr, nullptr,
                             nullptr, nullptr);
    if (!w) return 1;
    UpdateWindow(w);
    ctx.Ready();
    for (;;) {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      if (ctx.WaitFor("check", 5)) break;
    }
    // The moves reached this process's own idea of the window.
    RECT r{};
    GetWindowRect(w, &r);
    return r.left == 5 && r.top == 7 && r.right == 105 ? 0 : 2;
  });
  ASSERT_TRUE(child.WaitReady());
  HWND w = FindWindowW(u"OrvShellStandIn", nullptr);
  ASSERT_NE(w, nullptr);

  SetLastError(0);
  EXPECT_EQ(GetWindowLongW(w, GWL_WNDPROC), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetWindowLongW(w, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW)), 0);

  // A screen DC copies what is on the screen now, the other process's window too.
  HDC screen = GetDC(nullptr);
  HDC copy = CreateCompatibleDC(screen);
  HBITMAP bits = CreateCompatibleBitmap(screen, 200, 50);
  HGDIOBJ old = SelectObject(copy, bits);
  ASSERT_TRUE(BitBlt(copy, 0, 0, 200, 50, screen, 0, 0, SRCCOPY));
  const COLORREF seen = GetPixel(copy, 50, 17);  // green, as the screen's 16 bits keep it
  EXPECT_LE(seen & 0xFF, 8u);
  EXPECT_GE((seen >> 8) & 0xFF, 0xF0u);
  EXPECT_LE((seen >> 16) & 0xFF, 8u);
  SelectObject(copy, old);
  DeleteObject(bits);
  DeleteDC(copy);
  ReleaseDC(nullptr, screen);

  RECT r{};
  ASSERT_TRUE(SetWindowPos(w, nullptr, 1000, 1000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE));
  ASSERT_TRUE(GetWindowRect(w, &r));
  EXPECT_EQ(r.left, 1000);
  EXPECT_EQ(r.bottom, 1020);

  ASSERT_TRUE(SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(GetWindow(w, GW_HWNDPREV), nullptr);
  EXPECT_NE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  ASSERT_TRUE(SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  ASSERT_TRUE(SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
  EXPECT_EQ(GetWindow(w, GW_HWNDNEXT), nullptr);
  bool below = false;
  for (HWND h = GetWindow(mine, GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT)) below = below || h == w;
  EXPECT_TRUE(below);

  ASSERT_TRUE(SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW));
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_EQ(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE, 0);

  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  EXPECT_EQ(GetProcessProgramPath(pid), u"\\Program Files\\Orv News\\test_platform.exe");

  ASSERT_TRUE(SetWindowPos(w, nullptr, 5, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW));
  child.Send("check");
  EXPECT_EQ(child.Wait(), 0);
  DestroyWindow(mine);
}

}  // namespace
