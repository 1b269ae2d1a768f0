// The window manager's side of the device screen: surfaces drawn from other
// threads while the window changes size, the change notice, surfaces that
// cannot be had, the wheel, and the waits of nested message loops.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/Time.h"
#include "platform/ipc/ScreenNotice.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

std::vector<std::pair<HWND, WPARAM>>* g_scrolls = nullptr;
std::atomic<int> g_sent{0};

LRESULT CALLBACK_Screen(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_VSCROLL && g_scrolls) g_scrolls->emplace_back(h, w);
  if (m == WM_APP + 1) {
    ++g_sent;
    return 7;
  }
  if (wmtest::PaintWhite(h, m)) return 0;
  return DefWindowProcW(h, m, w, l);
}

class WindowsScreenTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { wmtest::EnsureClass(u"OrvScreenTest", CALLBACK_Screen); }
  HWND Make(DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    return CreateWindowExW(0, u"OrvScreenTest", u"", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
  }
};

TEST_F(WindowsScreenTest, AnotherThreadDrawsWhileTheWindowChangesSizeAndTheScreenComposes) {
  HWND w = Make(WS_VISIBLE, 0, 0, 200, 200);
  ASSERT_NE(w, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::thread painter([&] {
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    while (!stop) {
      HDC dc = GetDC(w);
      if (!dc) break;
      RECT r{0, 0, 400, 400};
      FillRect(dc, &r, red);
      ReleaseDC(w, dc);
      ++frames;
    }
    DeleteObject(red);
  });
  std::thread composer([&] {
    while (!stop) ComposeScreen();
  });
  // Each size change replaces the surface under the painter's feet.
  for (int i = 0; i < 60; ++i) SetWindowPos(w, nullptr, 0, 0, 100 + (i % 7) * 40, 100 + (i % 5) * 50, SWP_NOMOVE);
  ASSERT_TRUE(orvtest::PumpUntil([&] { return frames >= 50; }));
  stop = true;
  painter.join();
  composer.join();
  // The last frame, drawn after the last resize, is what the screen shows.
  HDC dc = GetDC(w);
  RECT r{0, 0, 400, 400};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &r, red);
  DeleteObject(red);
  ReleaseDC(w, dc);
  ASSERT_TRUE(ComposeScreen());
  PixelImage img = ReadBitmapPixels(ScreenBitmap());
  RECT wr;
  GetWindowRect(w, &wr);
  EXPECT_EQ(img.pixels[static_cast<std::size_t>(wr.bottom - 1) * img.width + (wr.right - 1)], 0xF80000u);  // red in 16 bits
  EXPECT_EQ(img.pixels[static_cast<std::size_t>(wr.bottom) * img.width + wr.right], 0u);
  DestroyWindow(w);
}

TEST_F(WindowsScreenTest, PaintingAndWindowChangesRaiseTheChangeNotice) {
  HWND w = Make(0, 0, 0, 50, 50);
  ASSERT_NE(w, nullptr);
  struct Step {
    const char* what;
    std::function<void()> act;
  } steps[] = {
      {"show", [&] { ShowWindow(w, SW_SHOW); }},
      {"paint", [&] { UpdateWindow(w); }},
      {"draw", [&] { ReleaseDC(w, GetDC(w)); }},
      {"move", [&] { SetWindowPos(w, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER); }},
      {"size", [&] { SetWindowPos(w, nullptr, 0, 0, 80, 80, SWP_NOMOVE | SWP_NOZORDER); }},
      {"hide", [&] { ShowWindow(w, SW_HIDE); }},
      {"destroy", [&] { DestroyWindow(w); }},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    std::uint32_t before = ScreenChangeSerial();
    s.act();
    EXPECT_NE(ScreenChangeSerial(), before);
  }
}

TEST_F(WindowsScreenTest, ASurfaceThatCannotBeHadFailsOnlyThatWindow) {
  SetLastError(0);
  EXPECT_EQ(Make(WS_VISIBLE, 0, 0, 5000, 100), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  int listed = 0;
  EnumWindows([](HWND, LPARAM n) -> BOOL { return ++*reinterpret_cast<int*>(n), TRUE; },
              reinterpret_cast<LPARAM>(&listed));
  EXPECT_EQ(listed, 0);
  HWND ok = Make(WS_VISIBLE, 0, 0, 100, 100);
  ASSERT_NE(ok, nullptr);
  // Growing beyond the bound keeps the old surface: the window goes on drawing.
  EXPECT_TRUE(SetWindowPos(ok, nullptr, 0, 0, 100, 9000, SWP_NOMOVE | SWP_NOZORDER));
  HDC dc = GetDC(ok);
  EXPECT_NE(dc, nullptr);
  ReleaseDC(ok, dc);
  DestroyWindow(ok);
}

TEST_F(WindowsScreenTest, TheWheelScrollsTheNearestWindowWithAScrollBar) {
  std::vector<std::pair<HWND, WPARAM>> scrolls;
  g_scrolls = &scrolls;
  HWND top = Make(WS_VISIBLE, 0, 0, 200, 200);
  HWND list = Make(WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0, 200, 100, top);
  HWND item = Make(WS_CHILD | WS_VISIBLE, 10, 10, 50, 20, list);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(InjectWheel(20, 20, 2));    // over the item inside the list
  EXPECT_TRUE(InjectWheel(20, 150, -1));  // over the top window, which has no bar
  EXPECT_FALSE(InjectWheel(300, 300, 1));
  orvtest::PumpMessages();
  std::vector<std::pair<HWND, WPARAM>> want{{list, SB_LINEDOWN}, {list, SB_LINEDOWN}, {top, SB_LINEUP}};
  EXPECT_EQ(scrolls, want);
  g_scrolls = nullptr;
  DestroyWindow(top);
}

TEST_F(WindowsScreenTest, NestedWaitsFollowTheirMaskTheClockAndAnswerSends) {
  ManualClock clock;
  SetClock(&clock);
  HWND w = Make(WS_VISIBLE, 0, 0, 100, 100);
  orvtest::PumpMessages();
  // A posted message does not end a wait for input; a press does.
  PostMessageW(w, WM_APP + 2, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_INPUT, MWMO_INPUTAVAILABLE), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_POSTMESSAGE, 0), WAIT_OBJECT_0);
  InjectStylus(WM_LBUTTONDOWN, 5, 5);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_MOUSEMOVE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_MOUSEBUTTON, 0), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_WAITALL), WAIT_FAILED);
  // The stylus message is taken without the posted one, which stays.
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, w, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_LBUTTONDOWN);
  ASSERT_TRUE(PeekMessageW(&m, w, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE));
  EXPECT_FALSE(PeekMessageW(&m, w, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE));
  UINT got = 5;
  POINT pts[4];
  EXPECT_FALSE(GetMouseMovePoints(pts, 4, &got));
  EXPECT_EQ(got, 0u);

  // Waiting for input for 400 ms of the platform clock: a message sent from
  // another thread meanwhile is answered inside the wait, which goes on until
  // the clock has passed.
  g_sent = 0;
  std::atomic<DWORD> result{0xFFFF};
  std::atomic<bool> waiting{false};
  std::thread waiter([&] {
    // The window belongs to the main thread: this thread waits on its own queue.
    HWND mine = Make(0, 0, 0, 10, 10);
    waiting = true;
    result = MsgWaitForMultipleObjectsEx(0, nullptr, 400, QS_INPUT, MWMO_INPUTAVAILABLE);
    DestroyWindow(mine);
  });
  while (!waiting) std::this_thread::yield();
  // The waiter's window: the one that is not ours.
  struct Find {
    HWND mine;
    HWND found = nullptr;
  } find{w};
  EnumWindows(
      [](HWND h, LPARAM lp) -> BOOL {
        auto* f = reinterpret_cast<Find*>(lp);
        if (h != f->mine) f->found = h;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&find));
  ASSERT_NE(find.found, nullptr);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(find.found, WM_APP + 1, 0, 0, SMTO_NORMAL, 10000, &answer));
  EXPECT_EQ(answer, 7u);
  EXPECT_EQ(result.load(), 0xFFFFu);  // still waiting: the clock has not moved
  clock.Advance(500);
  WakeMessageQueues();
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
  EXPECT_EQ(g_sent.load(), 1);
  SetClock(nullptr);
  DestroyWindow(w);
}

TEST_F(WindowsScreenTest, AMessageBoxLoopAnswersMessagesSentToItsThread) {
  SetMessageBoxAnswerer(nullptr);
  HWND w = Make(0, 0, 0, 10, 10);
  g_sent = 0;
  std::atomic<LRESULT> answer{0};
  std::thread other([&] {
    HWND box = nullptr;
    if (!orvtest::PumpUntil([&] { return GetOpenMessageBoxForTesting(&box) != FALSE; })) return;
    // The box's thread is inside the box's own loop: it answers all the same.
    answer = SendMessageW(w, WM_APP + 1, 0, 0);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"Waiting", u"Orv News", MB_OK), IDOK);
  other.join();
  EXPECT_EQ(answer.load(), 7);
  EXPECT_EQ(g_sent.load(), 1);
  DestroyWindow(w);
}

}  // namespace
