// Finger scrolling on the platform clock: taps, holds, drags, flings and
// swipes told apart by their timing and travel; one replay per press;
// momentum that stops at the ends, on a new press and never turns back;
// coalesced scroll requests; HTML viewer pages.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/OrvException.h"
#include "layout/KineticScroller.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/htmlview/HtmlView.h"
#include "platform/windows/Windows.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

using namespace plat;

struct Seen {
  UINT message;
  int x, y;
  int pos;  // the bar's position for scroll messages
};
std::vector<Seen> g_seen;

LRESULT ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_VSCROLL:
      g_seen.push_back({msg, 0, 0, GetScrollPos(hwnd, SB_VERT)});
      return 0;
    case WM_HSCROLL:
      g_seen.push_back({msg, 0, 0, GetScrollPos(hwnd, SB_HORZ)});
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
      g_seen.push_back({msg, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), 0});
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

struct Swipes : ISwipeHandler {
  int previous = 0, next = 0;
  void Previous() override { ++previous; }
  void Next() override { ++next; }
};

// A 240x320 list at 96 dpi (design pixels are device pixels) whose vertical
// bar counts rows of 10 pixels: 1000 rows, 32 on a page.
class KineticTest : public LayoutTest {
 protected:
  void SetUp() override {
    SetScreen(240, 320, 96);
    SetClock(&clock_);
    KineticScroller::ResetReplayForTesting();
    g_seen.clear();
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"KineticTestList", &wc)) {
      wc.lpfnWndProc = &ListProc;
      wc.lpszClassName = u"KineticTestList";
      ASSERT_TRUE(RegisterClassW(&wc));
    }
    list_ = CreateWindowExW(0, u"KineticTestList", u"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, 0, 240, 320, nullptr,
                            nullptr, nullptr, nullptr);
    ASSERT_NE(list_, nullptr);
    SetBar(SB_VERT, 0, 999, 32, 0);
  }
  // A page of 200 lines in the HTML viewer `view`, far longer than the screen.
  static void ShowLongPage(HWND view) {
    std::u16string page = u"<html><body>";
    for (int i = 0; i < 200; ++i) page += u"<p>Line " + Utf8ToUtf16(std::to_string(i)) + u" of the article</p>";
    page += u"</body></html>";
    SendMessageW(view, DTM_CLEAR, 0, 0);
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(page.c_str()));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
  }
  // Handles this thread's messages as the main window's loop does, through
  // the viewer's scroll filter.
  static void PumpThrough(HtmlViewScrollFilter& filter) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (filter.Filter(m)) continue;
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  void TearDown() override {
    scroller_.reset();
    if (list_) DestroyWindow(list_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_PAINT) ValidateRect(m.hwnd, nullptr);
    }
    KineticScroller::ResetReplayForTesting();
    SetClock(nullptr);
    LayoutTest::TearDown();
  }

  void SetBar(int bar, int min, int max, UINT page, int pos) {
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, min, max, page, pos, 0};
    SetScrollInfo(list_, bar, &si, FALSE);
  }
  void MakeScroller(Swipes* swipes = nullptr) {
    scroller_ = std::make_unique<KineticScroller>(list_, swipes);
    scroller_->StartMomentum(0);  // enables finger scrolling; no motion
  }

  // Runs the thread's queue through the filter as the layout view's loop does.
  void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (FilterKineticMessage(scroller_.get(), m)) continue;
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  void Stylus(UINT message, int x, int y) {
    PostMessageW(list_, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
    Pump();
  }
  void Wait(DWORD ms) {
    // In frame-sized steps, so that the timers run as they would.
    while (ms > 0) {
      const DWORD step = std::min<DWORD>(ms, 8);
      clock_.Advance(step);
      ms -= step;
      Pump();
    }
  }
  int Pos() const { return GetScrollPos(list_, SB_VERT); }
  int Count(UINT message) const {
    int n = 0;
    for (const Seen& s : g_seen) n += s.message == message;
    return n;
  }

  ManualClock clock_;
  HWND list_ = nullptr;
  std::unique_ptr<KineticScroller> scroller_;
};

// One gesture: stylus events with the time before each.
struct Event {
  DWORD wait;
  UINT message;
  int x, y;
};

TEST_F(KineticTest, TapHoldDragAndFlingToldApartByTimeAndTravel) {
  struct Case {
    const char* name;
    std::vector<Event> events;
    int downs, ups;    // stylus messages the list receives
    int scrolledRows;  // position after the gesture
    bool momentum;
  } cases[] = {
      {"tap", {{0, WM_LBUTTONDOWN, 100, 100}, {50, WM_MOUSEMOVE, 103, 104}, {50, WM_LBUTTONUP, 104, 105}}, 1, 1, 0,
       false},
      {"tap just inside 10 px",
       {{0, WM_LBUTTONDOWN, 100, 100}, {20, WM_MOUSEMOVE, 109, 91}, {20, WM_LBUTTONUP, 109, 91}}, 1, 1, 0, false},
      {"hold", {{0, WM_LBUTTONDOWN, 100, 100}, {210, WM_MOUSEMOVE, 101, 101}, {100, WM_LBUTTONUP, 101, 101}}, 1, 1, 0,
       false},
      {"hold, then the finger moves",
       {{0, WM_LBUTTONDOWN, 100, 200}, {250, WM_MOUSEMOVE, 100, 150}, {50, WM_MOUSEMOVE, 100, 100},
        {50, WM_LBUTTONUP, 100, 100}},
       1, 1, 0, false},
      {"slow drag: scrolls, no momentum",
       {{0, WM_LBUTTONDOWN, 100, 300}, {100, WM_MOUSEMOVE, 100, 290}, {200, WM_MOUSEMOVE, 100, 250},
        {300, WM_MOUSEMOVE, 100, 230}, {10, WM_LBUTTONUP, 100, 230}},
       0, 0, 7, false},
      {"drag that rests before release",
       {{0, WM_LBUTTONDOWN, 100, 300}, {30, WM_MOUSEMOVE, 100, 200}, {600, WM_LBUTTONUP, 100, 200}}, 0, 0, 10,
       false},
      {"drag released past its last move: the page follows to the release",
       {{0, WM_LBUTTONDOWN, 100, 300}, {30, WM_MOUSEMOVE, 100, 200}, {600, WM_LBUTTONUP, 100, 180}}, 0, 0, 12,
       false},
      {"fling",
       {{0, WM_LBUTTONDOWN, 100, 300}, {20, WM_MOUSEMOVE, 100, 270}, {20, WM_MOUSEMOVE, 100, 240},
        {20, WM_MOUSEMOVE, 100, 210}, {20, WM_LBUTTONUP, 100, 200}},
       0, 0, 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_seen.clear();
    SetBar(SB_VERT, 0, 999, 32, 0);
    MakeScroller();
    for (const Event& e : c.events) {
      Wait(e.wait);
      Stylus(e.message, e.x, e.y);
    }
    EXPECT_EQ(Count(WM_LBUTTONDOWN), c.downs);
    EXPECT_EQ(Count(WM_LBUTTONUP), c.ups);
    EXPECT_EQ(Pos(), c.scrolledRows);
    EXPECT_EQ(scroller_->IsMomentumRunning(), c.momentum);
    EXPECT_EQ(scroller_->IsBusy(), c.momentum);
    // The press that was handed over reached the list where it was made.
    for (const Seen& s : g_seen) {
      if (s.message == WM_LBUTTONDOWN) {
        EXPECT_EQ(s.x, c.events[0].x);
      }
    }
  }
}

TEST_F(KineticTest, APressIsReplayedOnceAndTheRestOfTheGesturePassesThrough) {
  MakeScroller();
  Stylus(WM_LBUTTONDOWN, 50, 60);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 0);
  Wait(KineticScroller::kTapTimeoutMs + 16);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 1);
  EXPECT_EQ(KineticScroller::ReplayState(), 0u) << "the end marker closed the replay";
  // Well past another time-out: no second replay; moves and the release reach
  // the list as they are.
  Wait(600);
  Stylus(WM_MOUSEMOVE, 50, 20);
  Wait(300);
  Stylus(WM_MOUSEMOVE, 50, 10);
  Stylus(WM_LBUTTONUP, 50, 10);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 1);
  EXPECT_EQ(Count(WM_MOUSEMOVE), 2);
  EXPECT_EQ(Count(WM_LBUTTONUP), 1);
  EXPECT_EQ(Pos(), 0);
  EXPECT_FALSE(scroller_->IsBusy());
  // The next press is the scroller's again.
  Stylus(WM_LBUTTONDOWN, 50, 300);
  Wait(20);
  Stylus(WM_MOUSEMOVE, 50, 250);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 1);
  Pump();
  EXPECT_EQ(Pos(), 5);
}

TEST_F(KineticTest, AMessageThatEndsALateReplayIsDelivered) {
  MakeScroller();
  auto msg = [&](UINT message, int x, int y) {
    return MSG{list_, message, message == WM_LBUTTONUP ? 0u : MK_LBUTTON, MAKELPARAM(x, y), GetTickCount(), {0, 0}};
  };
  EXPECT_TRUE(scroller_->FilterMessage(msg(WM_LBUTTONDOWN, 50, 60)));
  EXPECT_TRUE(scroller_->FilterMessage(msg(WM_LBUTTONUP, 51, 61)));  // a tap: replayed
  ASSERT_NE(KineticScroller::ReplayState(), 0u);
  // Drop what the replay queued, as if the marker never came.
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_PAINT) ValidateRect(m.hwnd, nullptr);
  }
  clock_.Advance(KineticScroller::kReplayLimitMs + 1);
  bool replaying = true;
  EXPECT_FALSE(KineticScroller::CheckReplay(msg(WM_LBUTTONDOWN, 10, 10), &replaying)) << "not swallowed";
  EXPECT_FALSE(replaying);
  EXPECT_EQ(KineticScroller::ReplayState(), 0u);
  // Within the limit messages pass by the scroller; the marker is consumed.
  EXPECT_TRUE(scroller_->FilterMessage(msg(WM_LBUTTONDOWN, 50, 60)));
  EXPECT_TRUE(scroller_->FilterMessage(msg(WM_LBUTTONUP, 50, 60)));
  clock_.Advance(100);
  EXPECT_FALSE(FilterKineticMessage(scroller_.get(), msg(WM_LBUTTONDOWN, 50, 60)));
  EXPECT_TRUE(KineticScroller::CheckReplay(msg(WM_MOUSEMOVE, 1, 1), &replaying) == false && replaying);
  MSG marker{nullptr, KineticScroller::kReplayEndMessage, KineticScroller::kMarkerW, KineticScroller::kMarkerL, 0,
             {0, 0}};
  EXPECT_TRUE(KineticScroller::CheckReplay(marker, &replaying));
  EXPECT_EQ(KineticScroller::ReplayState(), 0u);
}

TEST_F(KineticTest, ScrollRequestsMadeWhileTheListIsBusyAreAppliedAsOne) {
  MakeScroller();
  Stylus(WM_LBUTTONDOWN, 100, 300);
  clock_.Advance(30);
  for (int y : {280, 260, 240}) PostMessageW(list_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, y));
  Pump();
  ASSERT_EQ(Count(WM_VSCROLL), 1);
  EXPECT_EQ(g_seen.back().pos, 6);
  // Sub-unit moves are kept until they make a whole row.
  Stylus(WM_MOUSEMOVE, 100, 236);
  EXPECT_EQ(Count(WM_VSCROLL), 1);
  Stylus(WM_MOUSEMOVE, 100, 229);
  EXPECT_EQ(Pos(), 7);
}

TEST_F(KineticTest, MomentumDeceleratesAtFramePaceAndStopsAtTheEnd) {
  SetBar(SB_VERT, 0, 499, 32, 0);
  MakeScroller();
  for (const Event& e : std::vector<Event>{{0, WM_LBUTTONDOWN, 100, 300},
                                           {20, WM_MOUSEMOVE, 100, 270},
                                           {20, WM_MOUSEMOVE, 100, 240},
                                           {20, WM_LBUTTONUP, 100, 220}}) {
    Wait(e.wait);
    Stylus(e.message, e.x, e.y);
  }
  ASSERT_TRUE(scroller_->IsMomentumRunning());
  const int v = scroller_->GetVelocityY();
  EXPECT_EQ(v, 1333);  // 80 px in 60 ms
  g_seen.clear();
  int last = Pos(), frames = 0;
  DWORD elapsed = 0;
  while (scroller_->IsMomentumRunning() && elapsed < 60000) {
    clock_.Advance(KineticScroller::kMomentumFrameMs);
    elapsed += KineticScroller::kMomentumFrameMs;
    Pump();
    ++frames;
    EXPECT_GE(Pos(), last);
    last = Pos();
  }
  EXPECT_FALSE(scroller_->IsBusy());
  // v^2 / 2a = 1333^2 / 200 px = 8884 px: 888 rows, past the end of the
  // list, so it stops there; at most one scroll per frame.
  EXPECT_EQ(Pos(), 499 - 32 + 1);
  EXPECT_LE(Count(WM_VSCROLL), frames);
  // Nothing moves, nothing is drawn.
  g_seen.clear();
  Wait(500);
  EXPECT_EQ(Count(WM_VSCROLL), 0);
}

TEST_F(KineticTest, MomentumStopsWhereTheMotionWouldReverse) {
  MakeScroller();
  SetBar(SB_VERT, 0, 100000, 32, 70000);  // positions beyond 16 bits
  scroller_->StartMomentum(-300);           // towards the top, slowly
  int last = Pos();
  for (int i = 0; i < 1000 && scroller_->IsMomentumRunning(); ++i) {
    clock_.Advance(16);
    Pump();
    EXPECT_LE(Pos(), last);
    last = Pos();
  }
  EXPECT_FALSE(scroller_->IsMomentumRunning());
  // 300^2 / 200 = 450 px = 45 rows, give or take the last partial row.
  EXPECT_NEAR(Pos(), 70000 - 45, 1);
}

TEST_F(KineticTest, APressStopsMomentumAndIsNoTap) {
  MakeScroller();
  scroller_->StartMomentum(1500);
  Wait(100);
  ASSERT_TRUE(scroller_->IsMomentumRunning());
  const int at = Pos();
  Stylus(WM_LBUTTONDOWN, 100, 100);
  EXPECT_FALSE(scroller_->IsMomentumRunning());
  Stylus(WM_LBUTTONUP, 100, 100);
  Wait(300);
  EXPECT_EQ(Pos(), at);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 0) << "the touch that stopped the list is not a click";
  // A new fling replaces the running momentum.
  scroller_->StartMomentum(1000);
  Wait(50);
  scroller_->StartMomentum(-1000);
  const int before = Pos();
  Wait(50);
  EXPECT_LT(Pos(), before);
  // Destroying the scroller ends its momentum for good.
  scroller_.reset();
  g_seen.clear();
  Wait(200);
  EXPECT_EQ(Count(WM_VSCROLL), 0);
}

TEST_F(KineticTest, FlingSpeedsAreCapped) {
  MakeScroller();
  Stylus(WM_LBUTTONDOWN, 100, 300);
  Wait(11);
  Stylus(WM_LBUTTONUP, 100, 10);  // 290 px in 11 ms
  EXPECT_EQ(scroller_->GetVelocityY(), KineticScroller::kMaxVelocity96);
}

TEST_F(KineticTest, HorizontalSwipesGivePreviousAndNext) {
  struct Case {
    int fromX, toX;
    bool handler;
    int previous, next;
  } cases[] = {{30, 200, true, 1, 0}, {200, 30, true, 0, 1}, {100, 190, true, 0, 0}, {30, 200, false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fromX) + " -> " + std::to_string(c.toX));
    Swipes swipes;
    MakeScroller(c.handler ? &swipes : nullptr);
    g_seen.clear();
    Stylus(WM_LBUTTONDOWN, c.fromX, 150);
    Wait(20);
    Stylus(WM_MOUSEMOVE, (c.fromX + c.toX) / 2, 152);
    Wait(20);
    Stylus(WM_LBUTTONUP, c.toX, 155);
    EXPECT_EQ(swipes.previous, c.previous);
    EXPECT_EQ(swipes.next, c.next);
    EXPECT_FALSE(scroller_->IsMomentumRunning());
    EXPECT_EQ(Count(WM_LBUTTONDOWN), 0);
  }
}

TEST_F(KineticTest, BarsWithoutAUsablePageDoNotScroll) {
  SetBar(SB_VERT, 0, 999, 0, 0);
  MakeScroller();
  EXPECT_EQ(scroller_->GetPixelsPerUnitY(), 1);
  Stylus(WM_LBUTTONDOWN, 100, 300);
  Wait(30);
  Stylus(WM_MOUSEMOVE, 100, 200);
  Wait(20);
  Stylus(WM_LBUTTONUP, 100, 150);
  Wait(200);
  EXPECT_EQ(Pos(), 0);
  EXPECT_EQ(Count(WM_VSCROLL), 0);
  EXPECT_FALSE(scroller_->IsBusy());
}

TEST_F(KineticTest, MessagesOfOtherWindowsAndDisabledScrollersPass) {
  scroller_ = std::make_unique<KineticScroller>(list_, nullptr);
  // Not enabled yet: a list scroller waits for its owner's first StartMomentum.
  MSG down{list_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5), GetTickCount(), {0, 0}};
  EXPECT_FALSE(scroller_->FilterMessage(down));
  scroller_->StartMomentum(0);
  EXPECT_TRUE(scroller_->FilterMessage(down));
  HWND other = CreateWindowExW(0, u"KineticTestList", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  MSG elsewhere{other, WM_LBUTTONDOWN, MK_LBUTTON, 0, GetTickCount(), {0, 0}};
  EXPECT_FALSE(scroller_->FilterMessage(elsewhere));
  MSG key{list_, WM_KEYDOWN, VK_DOWN, 0, GetTickCount(), {0, 0}};
  EXPECT_FALSE(scroller_->FilterMessage(key));
  DestroyWindow(other);
}

TEST_F(KineticTest, AScrollerTakesOneTapOnlyBeforeItsFirstDragAndKeepsOtherStylusMessages) {
  // Tap-pending is armed once per scroller: after a drag, a short touch on
  // the same scroller is not handed to the list (the loop's filter makes a
  // fresh scroller for every gesture).
  MakeScroller();
  Stylus(WM_LBUTTONDOWN, 100, 300);
  Wait(20);
  Stylus(WM_MOUSEMOVE, 100, 250);
  Wait(300);
  Stylus(WM_LBUTTONUP, 100, 250);
  ASSERT_EQ(Pos(), 5);
  Stylus(WM_LBUTTONDOWN, 100, 100);
  Wait(30);
  Stylus(WM_LBUTTONUP, 100, 100);
  Wait(300);
  EXPECT_EQ(Count(WM_LBUTTONDOWN), 0);
  EXPECT_EQ(Count(WM_LBUTTONUP), 0);

  // Double taps and the other buttons go to an enabled scroller, inside a
  // gesture or not; a scroller not yet enabled lets them pass.
  auto disabled = std::make_unique<KineticScroller>(list_, nullptr);
  // (0x204 and 0x205: the second button pressed and let go.)
  for (UINT message : {static_cast<UINT>(WM_LBUTTONDBLCLK), 0x204u, 0x205u}) {
    SCOPED_TRACE(message);
    const MSG m{list_, message, 0, MAKELPARAM(5, 5), GetTickCount(), {0, 0}};
    EXPECT_TRUE(scroller_->FilterMessage(m));
    EXPECT_FALSE(disabled->FilterMessage(m));
  }
}

void* NoMemory(std::size_t) { return nullptr; }

TEST_F(KineticTest, TheStylusQueueGrowsByItsStepAndReportsOutOfMemory) {
  StylusQueue queue;
  const MSG m{list_, WM_MOUSEMOVE, 0, 0, 0, {0, 0}};
  // Without a step: the first block holds 4, then count / 8 more (at least 4).
  const struct {
    std::size_t pushes, capacity;
  } rows[] = {{1, 4}, {4, 4}, {5, 8}, {9, 12}, {40, 40}, {41, 45}};
  for (const auto& row : rows) {
    while (queue.size() < row.pushes) queue.Push(m);
    EXPECT_EQ(queue.capacity(), row.capacity) << row.pushes;
  }
  queue.Free();
  EXPECT_EQ(queue.capacity(), 0u);
  queue.SetGrowthStep(100);
  queue.Push(m);
  EXPECT_EQ(queue.capacity(), 100u);

  // A growth that cannot be made is the framework's out-of-memory error, and
  // what was queued stays.
  while (queue.size() < queue.capacity()) queue.Push(m);
  StylusQueue::SetAllocatorForTesting(&NoMemory);
  HRESULT code = 0;
  try {
    queue.Push(m);
  } catch (const COrvException& e) {
    code = e.GetCode();
  }
  StylusQueue::SetAllocatorForTesting(nullptr);
  EXPECT_EQ(static_cast<DWORD>(code), 0x8007000Eu);
  EXPECT_EQ(queue.size(), 100u);
}

// The HTML viewer's inner "PIEHTML" window gets a scroller per press from
// the message loop's filter.
TEST_F(KineticTest, HtmlViewerPagesScrollByFingerWithMomentum) {
  ASSERT_TRUE(InitHTMLControl(nullptr));
  HWND view = CreateWindowExW(0, kHtmlViewClassName, u"", WS_CHILD | WS_VISIBLE, 0, 0, 240, 320, list_, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(view, nullptr);
  HWND inner = GetWindow(view, GW_CHILD);
  ASSERT_TRUE(IsHtmlViewerWindow(inner));
  ShowLongPage(view);
  ASSERT_EQ(GetScrollPos(inner, SB_VERT), 0);

  Swipes swipes;
  HtmlViewScrollFilter filter(&swipes);
  auto pump = [&] { PumpThrough(filter); };
  auto stylus = [&](UINT message, int x, int y) {
    PostMessageW(inner, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
    pump();
  };
  stylus(WM_LBUTTONDOWN, 100, 300);
  ASSERT_NE(filter.GetCurrent(), nullptr);
  clock_.Advance(20);
  stylus(WM_MOUSEMOVE, 100, 260);
  clock_.Advance(20);
  stylus(WM_MOUSEMOVE, 100, 220);
  EXPECT_EQ(GetScrollPos(inner, SB_VERT), 80);
  clock_.Advance(20);
  stylus(WM_LBUTTONUP, 100, 200);
  ASSERT_TRUE(filter.GetCurrent()->IsMomentumRunning());
  for (int i = 0; i < 20; ++i) {
    clock_.Advance(16);
    pump();
  }
  EXPECT_GT(GetScrollPos(inner, SB_VERT), 100);
  // A swipe to the left on the page: next article, after the busy scroller
  // was stopped by the press.
  stylus(WM_LBUTTONDOWN, 200, 100);
  clock_.Advance(20);
  stylus(WM_MOUSEMOVE, 120, 100);
  clock_.Advance(20);
  stylus(WM_LBUTTONUP, 40, 102);
  EXPECT_EQ(swipes.next, 1);
  // A fresh press after all that is a tap on the page again.
  clock_.Advance(50);
  stylus(WM_LBUTTONDOWN, 100, 100);
  clock_.Advance(50);
  stylus(WM_LBUTTONUP, 100, 100);
  EXPECT_EQ(KineticScroller::ReplayState(), 0u);
}

// A slow drag on the page whose last move and release come together (a busy
// program reads them in one go): the page still ends where the finger left
// the screen, though the filter drops the idle scroller at the next message.
TEST_F(KineticTest, ThePageEndsWhereTheFingerLeftWhenTheLastMoveAndTheReleaseComeTogether) {
  ASSERT_TRUE(InitHTMLControl(nullptr));
  HWND view = CreateWindowExW(0, kHtmlViewClassName, u"", WS_CHILD | WS_VISIBLE, 0, 0, 240, 320, list_, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(view, nullptr);
  HWND inner = GetWindow(view, GW_CHILD);
  ShowLongPage(view);
  ASSERT_EQ(GetScrollPos(inner, SB_VERT), 0);

  HtmlViewScrollFilter filter(nullptr);
  auto pump = [&] { PumpThrough(filter); };
  auto post = [&](UINT message, int x, int y) {
    PostMessageW(inner, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
  };
  // 100 px a second: out of the tap zone, too slow for a fling.
  post(WM_LBUTTONDOWN, 100, 300);
  pump();
  clock_.Advance(150);
  post(WM_MOUSEMOVE, 100, 285);
  pump();
  ASSERT_EQ(GetScrollPos(inner, SB_VERT), 15);
  clock_.Advance(150);
  post(WM_MOUSEMOVE, 100, 270);
  post(WM_LBUTTONUP, 100, 270);
  pump();
  EXPECT_EQ(GetScrollPos(inner, SB_VERT), 30);
  EXPECT_EQ(filter.GetCurrent(), nullptr) << "the idle scroller was dropped";
}

}  // namespace
}  // namespace layouttest
