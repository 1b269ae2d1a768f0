// Windows of two processes of one device: finding, sending and posting over
// the owner's socket, a dead or silent owner, device-wide unique handles.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

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
  EXPECT_TRUE(wmtest::PumpUntil([] { return g_done.load(); }));
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
    ctx.WaitFor("never", 20000);  // never reads its queue
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  HWND target = FindWindowW(u"OrvTestTarget", u"Silent window");
  ASSERT_NE(target, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  EXPECT_EQ(pid, static_cast<DWORD>(child.Pid()));
  UINT question = RegisterWindowMessageW(u"Orv News acknowledge");

  DWORD_PTR r = 9;
  EXPECT_EQ(SendMessageTimeoutW(target, question, 1, 1, SMTO_NORMAL, 150, &r), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);

  // A send waiting when the owner dies fails (not by its time-out).
  std::atomic<int> outcome{-1};
  std::atomic<DWORD> error{0};
  std::thread sender([&] {
    DWORD_PTR res = 0;
    outcome = static_cast<int>(SendMessageTimeoutW(target, question, 1, 1, SMTO_NORMAL, 20000, &res));
    error = GetLastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
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
