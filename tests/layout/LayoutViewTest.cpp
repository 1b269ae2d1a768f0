// The layout view: stylus presses posted to the window and told apart by the
// stylus loop (tap, hold, double tap, drag, fling) on a clock of the test, the
// keys, the window's own messages and the layout switch with its transition.
// Time moves only when the loop waits for input: a script of the test says
// after how many milliseconds which stylus message arrives.
#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <vector>

#include "layout/LayoutView.h"
#include "platform/base/Time.h"
#include "tests/layout/ContentFixture.h"

namespace layouttest {
namespace {

using plat::UINT;

// Keeps the drag records and key events the content offers its source.
class GestureSource : public RecordingSource {
 public:
  plat::HRESULT OnEvent(const LayoutItemDescription& item, std::int32_t event, std::intptr_t parameter,
                        void* record) override {
    if ((event == kContentEventDrag || event == kContentEventDragEnd) && record) {
      gestures.push_back(*static_cast<GestureRecord*>(record));
      kinds.push_back(event);
    }
    if (event == kContentEventKeyDown) keys.push_back(static_cast<std::int32_t>(parameter));
    return RecordingSource::OnEvent(item, event, parameter, record);
  }
  int Count(std::int32_t event) const {
    int n = 0;
    for (std::int32_t k : kinds) n += k == event;
    return n;
  }
  std::vector<GestureRecord> gestures;
  std::vector<std::int32_t> kinds;
  std::vector<std::int32_t> keys;
};

struct Input {
  plat::DWORD after;  // ms after the previous input
  UINT message;
  int x, y;
  plat::HWND to = nullptr;  // the view when null
};

// Another window of the program (the soft-key bar, say): what it hears, and
// what the view had done by then.
struct ProbeHeard {
  UINT message;
  int taps;
  bool viewCaptured;
};
std::vector<ProbeHeard>* g_probeHeard = nullptr;
std::function<ProbeHeard(UINT)> g_probeState;

plat::LRESULT CALLBACK_Probe(plat::HWND h, UINT m, plat::WPARAM w, plat::LPARAM l) {
  if (g_probeHeard && g_probeState && (m == plat::WM_LBUTTONDOWN || m == plat::WM_LBUTTONUP || m == plat::WM_APP + 7))
    g_probeHeard->push_back(g_probeState(m));
  return plat::DefWindowProcW(h, m, w, l);
}

class LayoutViewTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    plat::SetClock(&clock_);
    source_ = CComRef<GestureSource>(new GestureSource());
    AddLayout(u"news_blank", OneLayout(u"news_blank", Box(u"blank", 0, 0, 480, 640)));
    AddLayout(u"buttons", OneLayout(u"buttons", Box(u"button", 100, 100, 200, 100, Fill(0x0000FF)) +
                                                    Box(u"other", 100, 300, 200, 100)));
    AddLayout(u"page", OneLayout(u"page", Box(u"page", 0, 0, 480, 4000, Fill(0x00FF00)),
                                 u"<General><ScrollY Value=\"On\"/></General>"));
    ASSERT_TRUE(view_.Create(nullptr, plat::RECT{0, 0, kWidth, kHeight}, plat::WS_POPUP | plat::WS_VISIBLE));
    view_.GetManager()->SetInputWait(
        [this](plat::DWORD timeout, plat::DWORD mask) { return WaitForInput(timeout, mask); });
  }
  void TearDown() override {
    plat::DestroyWindow(view_.GetWindow());
    plat::MSG m;
    while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
    }
    ScreenTest::TearDown();
    plat::SetClock(nullptr);
  }

  void Show(const std::u16string& name) {
    view_.ShowLayout(name, source_.Get(), 0);
    ASSERT_TRUE(view_.GetManager()->GetContent());
  }

  // The loop's wait: input of the asked kinds already queued ends it at
  // once; else the clock moves to the next scripted input (posted with those
  // that follow it at once) or by the whole time-out. Scripted input of
  // other kinds is posted on the way without ending the wait.
  static bool Wakes(plat::DWORD mask) {
    plat::MSG m;
    if (mask & ~plat::QS_MOUSE) return plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_NOREMOVE) != 0;
    return plat::PeekMessageW(&m, nullptr, plat::WM_MOUSEFIRST, plat::WM_MOUSELAST, plat::PM_NOREMOVE) != 0;
  }
  bool WaitForInput(plat::DWORD timeout, plat::DWORD mask) {
    for (;;) {
      if (Wakes(mask)) return true;
      if (script_.empty()) {
        clock_.Advance(timeout);
        return false;
      }
      if (script_.front().after > timeout) {
        script_.front().after -= timeout;
        clock_.Advance(timeout);
        return false;
      }
      timeout -= script_.front().after;
      PostNext();
    }
  }
  void PostNext() {
    clock_.Advance(script_.front().after);
    do {
      const Input in = script_.front();
      script_.pop_front();
      if (in.message == plat::WM_QUIT) {
        plat::PostQuitMessage(in.x);
        continue;
      }
      // The view's stylus comes as the display sends it (the view lies at the
      // screen's origin); another window's is posted to it.
      const bool stylus = in.message == kDown || in.message == kMove || in.message == kUp;
      if (!in.to && stylus) {
        plat::InjectStylus(in.message, in.x, in.y);
      } else {
        plat::PostMessageW(in.to ? in.to : view_.GetWindow(), in.message,
                           in.message == plat::WM_LBUTTONUP ? 0 : plat::MK_LBUTTON, plat::MAKELPARAM(in.x, in.y));
      }
    } while (!script_.empty() && script_.front().after == 0);
  }
  // Plays the script through the window's queue as the program's loop does.
  void Play(std::vector<Input> inputs) {
    script_.assign(inputs.begin(), inputs.end());
    for (;;) {
      plat::MSG m;
      while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
        plat::TranslateMessage(&m);
        plat::DispatchMessageW(&m);
      }
      if (script_.empty()) break;
      PostNext();
    }
  }
  BoxPlugin* Named(const std::u16string& name) {
    for (const auto& item : view_.GetManager()->GetContent()->GetItems()) {
      if (item.name == name) return static_cast<BoxPlugin*>(item.plugin.Get());
    }
    return nullptr;
  }
  bool Captured() const { return plat::GetCapture() == view_.GetWindow(); }

  static constexpr UINT kDown = plat::WM_LBUTTONDOWN;
  static constexpr UINT kMove = plat::WM_MOUSEMOVE;
  static constexpr UINT kUp = plat::WM_LBUTTONUP;
  plat::ManualClock clock_;
  CComRef<GestureSource> source_;
  LayoutView view_;
  std::deque<Input> script_;
};

// What a press on the button (threshold: 20 pixels at 192 dpi) turns into.
TEST_F(LayoutViewTest, PressesBecomeTapsHoldsAndDrags) {
  struct Case {
    const char* what;
    std::vector<Input> inputs;
    int activations, taps, drags, dragEnds;
  } cases[] = {
      {"a quick tap", {{0, kDown, 150, 150}, {60, kUp, 152, 151}}, 1, 1, 0, 0},
      {"a tap that wobbles within the bounds",
       {{0, kDown, 150, 150}, {30, kMove, 169, 131}, {30, kMove, 140, 160}, {30, kUp, 141, 160}}, 1, 1, 0, 0},
      {"a bounce within 25 ms of the release is one tap",
       {{0, kDown, 150, 150}, {40, kUp, 150, 150}, {10, kDown, 151, 150}, {40, kUp, 151, 150}}, 1, 1, 0, 0},
      {"a hold, released later", {{0, kDown, 150, 150}, {900, kUp, 150, 150}}, 1, 1, 0, 0},
      {"a hold that wobbles", {{0, kDown, 150, 150}, {300, kMove, 155, 150}, {300, kMove, 156, 150}, {50, kUp, 156, 150}},
       1, 1, 0, 0},
      {"a drag off the button", {{0, kDown, 150, 150}, {20, kMove, 150, 175}, {20, kMove, 150, 260}, {20, kUp, 150, 260}},
       1, 0, 3, 1},
      {"a sideways drag back onto the button",
       {{0, kDown, 150, 150}, {20, kMove, 200, 150}, {20, kMove, 160, 150}, {20, kUp, 160, 150}}, 1, 1, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Show(u"buttons");
    source_->gestures.clear();
    source_->kinds.clear();
    Play(c.inputs);
    BoxPlugin* button = Named(u"button");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->activations, c.activations);
    EXPECT_EQ(button->taps, c.taps);
    EXPECT_EQ(source_->Count(kContentEventDrag), c.drags);
    EXPECT_EQ(source_->Count(kContentEventDragEnd), c.dragEnds);
    EXPECT_FALSE(Captured()) << "the stylus is let go once it is up";
    if (c.drags) {
      const GestureRecord& last = source_->gestures.back();
      EXPECT_EQ(last.downX, 150);
      EXPECT_EQ(last.downY, 150);
      EXPECT_EQ(last.released, 1);
      EXPECT_EQ(source_->kinds.back(), kContentEventDragEnd);
    }
  }
}

TEST_F(LayoutViewTest, AHoldActivatesWhileTheStylusIsStillDown) {
  Show(u"buttons");
  // Down and nothing more: the loop ends after 400 ms with the stylus down.
  Play({{0, kDown, 150, 150}});
  EXPECT_EQ(Named(u"button")->activations, 1);
  EXPECT_EQ(Named(u"button")->taps, 0);
  EXPECT_TRUE(Captured()) << "the view keeps the stylus for its release";
  Play({{10, kUp, 150, 150}});
  EXPECT_EQ(Named(u"button")->taps, 1);
  EXPECT_FALSE(Captured());
  EXPECT_TRUE(source_->kinds.empty()) << "a hold is no drag";
}

// A hold whose activation takes the release itself (a row's pop-up menu,
// tracked until a tap on its item): the view does not keep the stylus, so
// the next tap reaches the window under it.
TEST_F(LayoutViewTest, AHoldWhoseActivationTookTheReleaseLeavesTheStylusFree) {
  Show(u"buttons");
  // The menu's loop takes the release.
  Named(u"button")->onActivate = [] {
    plat::InjectStylus(plat::WM_LBUTTONUP, 150, 150);
    plat::MSG m;
    while (plat::PeekMessageW(&m, nullptr, plat::WM_MOUSEFIRST, plat::WM_MOUSELAST, plat::PM_REMOVE)) {
    }
  };
  Play({{0, kDown, 150, 150}});
  EXPECT_EQ(Named(u"button")->activations, 1);
  EXPECT_FALSE(Captured()) << "the stylus is up: the view must not hold it";
}

TEST_F(LayoutViewTest, APressRightAfterAReleaseWithAPressQueuedStartsNoTap) {
  Show(u"page");
  // A flick that is let go with the next press already queued, then that
  // press released at once: the second press is no tap.
  Play({{0, kDown, 240, 500}, {20, kMove, 240, 400}, {20, kUp, 240, 380}, {0, kDown, 240, 300}, {30, kUp, 240, 300}});
  EXPECT_EQ(Named(u"page")->taps, 0);
  EXPECT_EQ(Named(u"page")->activations, 0);
  EXPECT_EQ(view_.GetManager()->GetLastTapUpTime(), 0u) << "the guard is used once";

  // The same second press 300 ms later is a tap.
  Play({{0, kDown, 240, 500}, {20, kMove, 240, 400}, {20, kUp, 240, 380}});
  Play({{300, kDown, 240, 300}, {30, kUp, 240, 300}});
  EXPECT_EQ(Named(u"page")->taps, 1);
}

TEST_F(LayoutViewTest, ADragScrollsAndAFlingGlidesOnInTheSameDirection) {
  Show(u"page");
  CRefPtr<XmlLayouts::CDialogContent> content = view_.GetManager()->GetContent();
  // The finger goes up 200 pixels in 60 ms and is let go: the page follows
  // it and glides on.
  Play({{0, kDown, 240, 500}, {20, kMove, 240, 430}, {20, kMove, 240, 360}, {20, kUp, 240, 300}});
  ASSERT_GE(source_->gestures.size(), 2u);
  const GestureRecord& release = source_->gestures.back();
  EXPECT_LT(release.velocityY, -1000) << "upwards, in pixels per 1000 ms";
  EXPECT_GT(content->GetScroll().y, 200) << "the glide carries on past the finger's way";
  EXPECT_EQ(Named(u"page")->taps, 0) << "the content took the drag";
}

TEST_F(LayoutViewTest, ATapOnAScrolledScreenReachesThePlugInAtItsPointOfTheContent) {
  AddLayout(u"long", OneLayout(u"long", Box(u"back", 0, 0, 480, 4000, IntValue(u"Kind", 0)) +
                                            Box(u"button", 100, 1200, 200, 100, Fill(0x0000FF)),
                               u"<General><ScrollY Value=\"On\"/></General>"));
  Show(u"long");
  CRefPtr<XmlLayouts::CDialogContent> content = view_.GetManager()->GetContent();
  content->SetScrollOriginPoint(plat::POINT{0, 1000});
  // The button shows 200 pixels below the view's top.
  Play({{0, kDown, 150, 250}, {40, kUp, 150, 250}});
  BoxPlugin* button = Named(u"button");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->activations, 1);
  EXPECT_EQ(button->taps, 1);
  EXPECT_EQ(button->lastFocusPoint.y, 1250);
  EXPECT_EQ(button->lastActivatePoint.x, 150);
  EXPECT_EQ(button->lastActivatePoint.y, 1250) << "the press, the activation and the release agree";
  EXPECT_EQ(button->lastTapPoint.y, 1250);
  EXPECT_EQ(content->GetScroll().y, 1000);
}

TEST_F(LayoutViewTest, APauseMidDragNeverFlingsTheWrongWay) {
  Show(u"page");
  CRefPtr<XmlLayouts::CDialogContent> content = view_.GetManager()->GetContent();
  // Fast upwards, a pause of 300 ms, one more pixel upwards, let go.
  Play({{0, kDown, 240, 500}, {20, kMove, 240, 430}, {20, kMove, 240, 360}, {300, kMove, 240, 359},
        {0, kUp, 240, 359}});
  ASSERT_FALSE(source_->gestures.empty());
  for (const GestureRecord& g : source_->gestures) EXPECT_LE(g.velocityY, 0) << "never downwards";
  EXPECT_GE(content->GetScroll().y, 141) << "no glide back against the drag";

  // The smoothing over steps of every length (pixels per 1000 ms).
  struct Step {
    std::int32_t velocity, move;
    plat::DWORD ms;
    std::int32_t expected;
  } steps[] = {
      {0, 10, 16, 78},        // 1000 * 10 / 128
      {1000, 0, 64, 500},     // half of the old velocity is left
      {-5000, -1, 300, -7},   // a long pause counts as 128 ms: no reversal
      {-5000, -1, 60000, -7},
      {1280, 0, 0, 1270},     // no time at all counts as 1 ms
  };
  for (const Step& s : steps) {
    EXPECT_EQ(CDialogManager::SmoothVelocity(s.velocity, s.move, s.ms), s.expected) << s.velocity << " " << s.ms;
  }
}

// Once the stylus is up, the tap waits only for more stylus input: the view
// lets the stylus go at the release, a paint or timer meanwhile is only
// handled, and a press on another window ends the gesture as a tap and
// reaches that window.
TEST_F(LayoutViewTest, AfterTheReleaseTheStylusIsFreeAndAPressElsewhereIsThatWindowsOwn) {
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = CALLBACK_Probe;
  wc.lpszClassName = u"LayoutViewProbe";
  plat::RegisterClassW(&wc);
  plat::HWND probe = plat::CreateWindowExW(plat::WS_EX_NOACTIVATE, u"LayoutViewProbe", u"", plat::WS_POPUP | plat::WS_VISIBLE,
                                           0, kHeight - 40, kWidth, 40, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(probe);
  std::vector<ProbeHeard> heard;
  g_probeHeard = &heard;
  g_probeState = [&](UINT m) { return ProbeHeard{m, Named(u"button")->taps, Captured()}; };
  Show(u"buttons");
  Play({{0, kDown, 150, 150},
        {40, kUp, 150, 150},
        {5, plat::WM_APP + 7, 0, 0, probe},
        {5, kDown, 10, 10, probe},
        {30, kUp, 10, 10, probe}});
  g_probeHeard = nullptr;
  g_probeState = nullptr;
  EXPECT_EQ(Named(u"button")->activations, 1);
  EXPECT_EQ(Named(u"button")->taps, 1);
  EXPECT_EQ(source_->Count(kContentEventDrag), 0) << "the other window's press is no drag of the button's";
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0].message, plat::WM_APP + 7);
  EXPECT_FALSE(heard[0].viewCaptured) << "the stylus was let go at the release";
  EXPECT_EQ(heard[1].message, static_cast<UINT>(kDown));
  EXPECT_EQ(heard[1].taps, 1) << "the tap was delivered before the next press was handled";
  EXPECT_EQ(heard[2].message, static_cast<UINT>(kUp));
  EXPECT_FALSE(Captured());
  plat::DestroyWindow(probe);
}

// A message for another window right after the release (a paint, a timer)
// neither ends the 25 ms settle early nor stretches it: the tap comes 25 ms
// after the release, whether or not such a message came meanwhile.
TEST_F(LayoutViewTest, TheTapComes25MsAfterTheReleaseWhateverElseArrives) {
  plat::HWND other = plat::CreateWindowExW(0, u"static", u"", plat::WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                           nullptr);
  ASSERT_TRUE(other);
  Show(u"buttons");
  struct Case {
    const char* what;
    std::vector<Input> inputs;
  } cases[] = {
      {"nothing else", {{0, kDown, 150, 150}, {40, kUp, 150, 150}}},
      {"a message 5 ms after the release", {{0, kDown, 150, 150}, {40, kUp, 150, 150}, {5, plat::WM_APP + 7, 0, 0, other}}},
      {"two messages", {{0, kDown, 150, 150}, {40, kUp, 150, 150}, {5, plat::WM_APP + 7, 0, 0, other},
                        {10, plat::WM_APP + 8, 0, 0, other}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::DWORD released = 0, tapped = 0;
    BoxPlugin* button = Named(u"button");
    ASSERT_TRUE(button);
    const int taps = button->taps;
    button->onActivate = [&] { tapped = plat::GetTickCount(); };
    released = plat::GetTickCount() + 40;
    Play(c.inputs);
    button->onActivate = nullptr;
    EXPECT_EQ(button->taps, taps + 1);
    EXPECT_EQ(tapped - released, 25u) << "the tap waits for stylus input alone, for 25 ms";
  }
  plat::DestroyWindow(other);
}

TEST_F(LayoutViewTest, AQuitDuringAPressEndsTheLoopAndIsPostedAgain) {
  Show(u"buttons");
  script_.assign({{30, plat::WM_QUIT, 7, 0}, {30, kUp, 150, 150}});
  plat::SendMessageW(view_.GetWindow(), kDown, plat::MK_LBUTTON, plat::MAKELPARAM(150, 150));
  EXPECT_FALSE(Captured());
  EXPECT_EQ(Named(u"button")->activations, 0) << "no gesture is delivered";
  plat::MSG m{};
  ASSERT_TRUE(plat::PeekMessageW(&m, nullptr, plat::WM_QUIT, plat::WM_QUIT, plat::PM_REMOVE));
  EXPECT_EQ(m.wParam, 7u);
}

TEST_F(LayoutViewTest, PressesAndKeysWithNothingUnderThemAreIgnored) {
  Show(u"buttons");
  // "button" and "other" cover only parts of the view.
  Play({{0, kDown, 10, 600}, {30, kUp, 10, 600}});
  EXPECT_FALSE(Captured());
  EXPECT_EQ(Named(u"button")->activations + Named(u"other")->activations, 0);
  EXPECT_TRUE(plat::IsWindow(view_.GetWindow()));
  EXPECT_NO_THROW(view_.GetManager()->OnStylusDown(10, 600, false));
  EXPECT_FALSE(Captured());

  // A view whose screen did not load (no "news_blank") has no screen at all.
  provider_->texts.erase(u"news_blank");
  LayoutView empty;
  ASSERT_TRUE(empty.Create(nullptr, plat::RECT{0, 0, 100, 100}, plat::WS_POPUP));
  EXPECT_FALSE(empty.GetManager()->GetContent());
  plat::SendMessageW(empty.GetWindow(), plat::WM_KEYDOWN, kKeyDown, 0);
  plat::SendMessageW(empty.GetWindow(), plat::WM_LBUTTONDOWN, 0, plat::MAKELPARAM(5, 5));
  EXPECT_EQ(empty.GetLastKey(), kKeyDown);
  EXPECT_FALSE(plat::GetCapture());
  EXPECT_NO_THROW(empty.GetManager()->OnKeyDown(kKeyDown, 0));
  EXPECT_NO_THROW(empty.GetManager()->OnStylusDown(5, 5, false));
}

TEST_F(LayoutViewTest, KeysGoToTheContentThenMoveTheSelection) {
  Show(u"buttons");
  auto content = view_.GetManager()->GetContent();
  ASSERT_EQ(content->GetOutsideView()->SelectByName(u"button"), plat::S_OK);
  plat::SendMessageW(view_.GetWindow(), plat::WM_KEYDOWN, kKeyDown, 0);
  EXPECT_EQ(source_->keys, (std::vector<std::int32_t>{kKeyDown}));
  EXPECT_EQ(content->GetItems()[static_cast<std::size_t>(content->GetSelectedIndex())].name, u"other");
  // A plug-in that takes the key keeps the selection where it is.
  Named(u"other")->takeEvent = kContentEventKeyDown;
  plat::SendMessageW(view_.GetWindow(), plat::WM_KEYDOWN, kKeyUp, 0);
  EXPECT_EQ(content->GetItems()[static_cast<std::size_t>(content->GetSelectedIndex())].name, u"other");
  EXPECT_EQ(view_.GetLastKey(), kKeyUp);
}

TEST_F(LayoutViewTest, TheWindowAnswersItsOwnMessages) {
  plat::HWND w = view_.GetWindow();
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTALLKEYS);
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_ERASEBKGND, 0, 0), 1);
  char16_t text[32]{};
  plat::GetWindowTextW(w, text, 32);
  EXPECT_EQ(std::u16string(text), u"ZIS IS NUSE");
  EXPECT_TRUE(plat::GetWindowLongW(w, plat::GWL_STYLE) & plat::WS_TABSTOP);
  ASSERT_TRUE(view_.GetManager()->GetContent()) << "the blank screen is shown from the start";
  EXPECT_EQ(view_.GetManager()->GetViewSize().cx, kWidth);
  EXPECT_EQ(view_.GetManager()->GetViewSize().cy, kHeight);

  plat::UpdateWindow(w);
  EXPECT_EQ(plat::SendMessageW(w, WM_LAYOUT_REPAINT_ALL, 0, 0), 0);
  EXPECT_TRUE(view_.IsRepaintAllPending());
  plat::UpdateWindow(w);
  EXPECT_FALSE(view_.IsRepaintAllPending());
  EXPECT_FALSE(view_.GetManager()->IsBufferStale());

  plat::MoveWindow(w, 0, 0, 240, 320, plat::TRUE);
  EXPECT_EQ(view_.GetManager()->GetViewSize().cx, 240);
  EXPECT_EQ(view_.GetManager()->GetViewSize().cy, 320);
}

TEST_F(LayoutViewTest, PlugInsLoadAndReloadLayoutsThroughTheSite) {
  Show(u"buttons");
  IPluginSite* site = view_.GetManager()->GetSite();
  source_->events.clear();
  ASSERT_EQ(site->LoadLayout(u"page"), plat::S_OK);
  EXPECT_TRUE(Named(u"page")) << "the new screen is shown";
  ASSERT_FALSE(source_->events.empty());
  EXPECT_EQ(source_->events.back(), kContentEventLayoutShown)
      << "it keeps the screen's data source and hears, once built, that it is shown";
  source_->events.clear();
  ASSERT_EQ(site->ReloadLayout(), plat::S_OK);
  ASSERT_FALSE(source_->events.empty());
  EXPECT_EQ(source_->events.back(), kContentEventLayoutReloaded);
  EXPECT_EQ(std::count(source_->events.begin(), source_->events.end(), kContentEventLayoutShown), 0);
  EXPECT_EQ(site->LoadLayout(u"missing"), plat::E_FAIL);
  EXPECT_TRUE(Named(u"page")) << "a layout that does not load leaves the old one";
}

// Records the transition messages the view sends itself.
std::vector<std::pair<UINT, plat::WPARAM>> g_sent;
plat::WNDPROC g_viewProc = nullptr;
plat::LRESULT Recorder(plat::HWND hwnd, UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == WM_TRANSITION_PREPARE || msg == WM_TRANSITION_START) g_sent.emplace_back(msg, wParam);
  return plat::CallWindowProcW(g_viewProc, hwnd, msg, wParam, lParam);
}

TEST_F(LayoutViewTest, ShowLayoutSendsTheTransitionOfItsDirection) {
  InstantClock animation;
  view_.GetManager()->GetAnimationRunner().SetClock(&animation);
  plat::HWND w = view_.GetWindow();
  g_viewProc = reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongPtrW(w, plat::GWL_WNDPROC));
  plat::SetWindowLongPtrW(w, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&Recorder));
  struct Case {
    int direction;
    const char16_t* layout;
    std::vector<std::pair<UINT, plat::WPARAM>> sent;
  } cases[] = {
      {0, u"buttons", {}},
      {2, u"page", {{WM_TRANSITION_PREPARE, 0}, {WM_TRANSITION_START, 3}}},
      {-1, u"buttons", {{WM_TRANSITION_PREPARE, 0}, {WM_TRANSITION_START, 4}}},
      {1, u"missing", {{WM_TRANSITION_PREPARE, 0}, {WM_TRANSITION_START, 3}}},
  };
  for (const Case& c : cases) {
    g_sent.clear();
    source_->events.clear();
    view_.ShowLayout(c.layout, source_.Get(), c.direction);
    EXPECT_EQ(g_sent, c.sent) << c.direction;
    view_.GetManager()->GetAnimationRunner().Stop();
    plat::SendMessageW(w, WM_TRANSITION_FINISHED, 0, 0);
    EXPECT_FALSE(view_.GetManager()->GetTransition());
  }
  // The screen stack holds one screen; the missing layout left "buttons" shown.
  EXPECT_EQ(view_.GetManager()->GetHolder().GetDepth(), 1u);
  EXPECT_TRUE(Named(u"button"));
  // The new screen hears the transition time and that it is shown.
  view_.ShowLayout(u"page", source_.Get(), 1);
  view_.GetManager()->GetAnimationRunner().Stop();
  const auto& e = source_->events;
  EXPECT_NE(std::find(e.begin(), e.end(), kContentEventLayoutShown), e.end());
  EXPECT_NE(std::find(e.begin(), e.end(), kContentEventTransitionTime), e.end());
  plat::SetWindowLongPtrW(w, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(g_viewProc));
}


// The slide's clock: frames come until wait number holdAt, where the slide
// holds still (the test is told) until it is stopped.
class HeldSlideClock : public IAnimationClock {
 public:
  explicit HeldSlideClock(int holdAt) : holdAt_(holdAt) {}
  ~HeldSlideClock() override { plat::CloseHandle(held); }
  plat::DWORD Now() override { return now_.load(); }
  plat::DWORD WaitFor(plat::HANDLE event, plat::DWORD ms) override {
    if (plat::WaitForSingleObject(event, 0) == plat::WAIT_OBJECT_0) return plat::WAIT_OBJECT_0;
    if (++waits_ == holdAt_) {
      plat::SetEvent(held);
      return plat::WaitForSingleObject(event, plat::INFINITE);
    }
    now_ += ms;
    return plat::WAIT_TIMEOUT;
  }
  plat::HANDLE held = plat::CreateLocalEvent(true, false);

 private:
  std::atomic<plat::DWORD> now_{5000};
  int waits_ = 0;
  int holdAt_;
};

// A tap or a key while the new screen slides in: the slide ends at once,
// the new screen shows whole, and the input reaches it.
TEST_F(LayoutViewTest, InputDuringASlideInEndsTheSlideAndReachesTheNewScreen) {
  // The colour the screen shows at a point of the view (which lies at the
  // screen's origin).
  const auto shownAt = [](int x, int y) {
    plat::ComposeScreen();
    const plat::PixelImage screen = plat::ReadBitmapPixels(plat::ScreenBitmap());
    return screen.pixels[static_cast<std::size_t>(y) * screen.width + x] & 0xFFFFFFu;
  };
  struct Case {
    const char* what;
    std::function<void()> input;
    int taps;
    std::vector<std::int32_t> keys;
  } cases[] = {
      {"a tap on the new screen's button", [&] { Play({{0, kDown, 150, 150}, {40, kUp, 150, 150}}); }, 1, {}},
      {"a key", [&] { plat::SendMessageW(view_.GetWindow(), plat::WM_KEYDOWN, kKeyDown, 0); }, 0, {kKeyDown}},
  };
  // What each screen shows at the button's point.
  Show(u"buttons");
  plat::UpdateWindow(view_.GetWindow());
  const std::uint32_t button = shownAt(150, 150);
  Show(u"page");
  plat::UpdateWindow(view_.GetWindow());
  const std::uint32_t page = shownAt(150, 150);
  ASSERT_NE(button, page);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldSlideClock clock(3);
    view_.GetManager()->GetAnimationRunner().SetClock(&clock);
    Show(u"page");
    plat::UpdateWindow(view_.GetWindow());
    ASSERT_EQ(shownAt(150, 150), page) << "the old screen";
    source_->keys.clear();
    view_.ShowLayout(u"buttons", source_.Get(), 1);
    ASSERT_EQ(plat::WaitForSingleObject(clock.held, 10000), plat::WAIT_OBJECT_0);
    ASSERT_TRUE(view_.GetManager()->GetTransition()) << "the slide is under way";
    ASSERT_EQ(shownAt(150, 150), page) << "the button has not slid in yet";

    c.input();
    EXPECT_FALSE(view_.GetManager()->GetTransition()) << "the slide ended";
    EXPECT_FALSE(view_.GetManager()->GetAnimationRunner().HasAnimation());
    plat::UpdateWindow(view_.GetWindow());
    EXPECT_EQ(shownAt(150, 150), button) << "the new screen shows whole";
    ASSERT_TRUE(Named(u"button"));
    EXPECT_EQ(Named(u"button")->taps, c.taps);
    EXPECT_EQ(source_->keys, c.keys);
    view_.GetManager()->GetAnimationRunner().SetClock(nullptr);
  }
}

}  // namespace
}  // namespace layouttest
