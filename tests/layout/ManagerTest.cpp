// Dialog manager: the back buffer painted from the screen stack (compared
// pixel by pixel), covered screens dimmed, screens pushed and popped, the
// buffer's life across size changes, the copy to a window and the site.
#include <atomic>

#include "core/VORegistry.h"
#include "layout/PPCDialog.h"
#include "tests/layout/ContentFixture.h"

namespace layouttest {
namespace {

constexpr plat::COLORREF kRed = 0x0000FF;
constexpr plat::COLORREF kGreen = 0x00FF00;
constexpr plat::COLORREF kBlue = 0xFF0000;

// One pixel of colour after the paints the test names, done on a 1x1 buffer.
std::uint16_t Blended(plat::COLORREF under, plat::COLORREF over, std::uint8_t alpha) {
  CBitmapBuffer pixel;
  pixel.Create(1, 1, CBitmapBuffer::kRgb565);
  *reinterpret_cast<std::uint16_t*>(pixel.Row(0)) = ColorToRgb565(under);
  pixel.FillRectAlpha(0, 0, 1, 1, over, alpha);
  return *reinterpret_cast<std::uint16_t*>(pixel.Row(0));
}

class ManagerTest : public ScreenTest {
 protected:
  void SetHue(std::uint32_t value) {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Color", true, false, plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"BaseHue", value));
  }
  void AddScreens() {
    AddLayout(u"first", OneLayout(u"first", Box(u"back", 0, 0, 480, 640, Fill(kRed)) +
                                                Box(u"square", 40, 40, 200, 100, Fill(kBlue)) +
                                                Box(u"button", 300, 300, 100, 60)));
    AddLayout(u"second", OneLayout(u"second", Box(u"panel", 100, 200, 280, 200, Fill(kGreen))));
  }
};

TEST_F(ManagerTest, WithNoScreenTheViewIsBlack) {
  EXPECT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(0, 0), 0);
  EXPECT_EQ(Pixel(479, 639), 0);
  EXPECT_FALSE(manager_->IsBufferStale());
}

TEST_F(ManagerTest, PaintsTheScreenWithTheSelectionThroughTheBackBuffer) {
  AddScreens();
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  auto content = manager_->GetContent();
  ASSERT_EQ(content->GetOutsideView()->SelectByName(u"button"), plat::S_OK);
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("first_selected");
  EXPECT_EQ(Pixel(10, 10), ColorToRgb565(kRed));
  EXPECT_EQ(Pixel(40, 40), ColorToRgb565(kBlue));
  EXPECT_EQ(Pixel(300, 300), Blended(kRed, 0xFFFFFF, 100)) << "the selection is white at alpha 100 under the item";
  EXPECT_EQ(Pixel(399, 359), Blended(kRed, 0xFFFFFF, 100));
  EXPECT_EQ(Pixel(400, 360), ColorToRgb565(kRed));
  EXPECT_EQ(Pixel(299, 330), ColorToRgb565(kRed));
  EXPECT_EQ(BoxNamed(u"button")->lastFocus, 1);
  EXPECT_EQ(BoxNamed(u"back")->lastFocus, 0);

  // Without a selection nothing is highlighted.
  content->ClearSelection();
  manager_->MarkStale();
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(300, 300), ColorToRgb565(kRed));
}

TEST_F(ManagerTest, AMaskShapesTheHitAndTheHighlight) {
  AddLayout(u"first", OneLayout(u"first", Box(u"back", 0, 0, 480, 640, Fill(kRed)) +
                                              Box(u"below", 100, 100, 200, 100) +
                                              Box(u"shaped", 100, 100, 200, 100, IntValue(u"Masked", 1))));
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  auto content = manager_->GetContent();
  ASSERT_TRUE(content->PointerDown(150, 150));
  EXPECT_EQ(content->GetItems()[static_cast<std::size_t>(content->GetSelectedIndex())].name, u"below")
      << "the masked-out half lets the press through";
  ASSERT_TRUE(content->PointerDown(250, 150));
  EXPECT_EQ(content->GetItems()[static_cast<std::size_t>(content->GetSelectedIndex())].name, u"shaped");
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("masked_selection");
  EXPECT_EQ(Pixel(150, 150), ColorToRgb565(kRed)) << "no highlight where the mask is empty";
  EXPECT_NE(Pixel(250, 150), ColorToRgb565(kRed));
  EXPECT_EQ(Pixel(310, 150), ColorToRgb565(kRed));
}

TEST_F(ManagerTest, TheDataSourceMayHideOrPaintAnItem) {
  CComRef<RecordingSource> source(new RecordingSource());
  source->hidden.insert(u"button");
  AddLayout(u"first", OneLayout(u"first", Box(u"back", 0, 0, 480, 640, Fill(kRed)) +
                                              Box(u"button", 40, 40, 200, 100, Fill(kBlue), u" ID=\"3\"") +
                                              Box(u"free", 300, 40, 100, 100, Fill(kBlue))));
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, source.Get()));
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(50, 50), ColorToRgb565(kRed)) << "the source said the item is not shown";
  EXPECT_EQ(BoxNamed(u"button")->paints, 0);
  // An item without an id is never offered to the source.
  source->hidden.insert(u"free");
  manager_->MarkStale();
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(310, 50), ColorToRgb565(kBlue));
}

TEST_F(ManagerTest, TextPluginsShowTheDataSourcesStrings) {
  CComRef<RecordingSource> source(new RecordingSource());
  source->strings[u"status"] = u"Updating 2 of 4 channels";
  AddLayout(u"first", OneLayout(u"first", Box(u"back", 0, 0, 480, 640, Fill(kRed)) +
                                              u"<Plugin Name=\"status\" Class=\"Orv.LSP.SingleLineText\" "
                                              u"BoundRect=\"10,10,300,30\"/>"));
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, source.Get()));
  CComRef<ILayoutPlugin> plugin;
  ASSERT_EQ(manager_->GetContent()->GetOutsideView()->GetPluginByName(u"status", plugin.Receive(), nullptr),
            plat::S_OK);
  EXPECT_EQ(static_cast<TextPlugin*>(plugin.Get())->GetText(), u"Updating 2 of 4 channels");
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("text");
}

TEST_F(ManagerTest, ATransientScreenDimsTheOneBelow) {
  AddScreens();
  struct Case {
    bool hue;
    std::uint8_t alpha;
  } cases[] = {{false, 200}, {true, 100}};
  for (const Case& c : cases) {
    if (c.hue) SetHue(0x0180);
    ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReset, nullptr));
    ASSERT_TRUE(manager_->ShowLayout(u"second", kShowPushTransient, nullptr));
    ASSERT_TRUE(manager_->ProcessPaint());
    Shoot(c.hue ? "transient_hue" : "transient");
    EXPECT_EQ(Pixel(10, 10), Blended(kRed, 0, c.alpha)) << "alpha " << int(c.alpha);
    EXPECT_EQ(Pixel(50, 50), Blended(kBlue, 0, c.alpha));
    EXPECT_EQ(Pixel(150, 250), ColorToRgb565(kGreen)) << "the top screen is not dimmed";
  }
}

TEST_F(ManagerTest, AScreenPushedAndPoppedTellsBothScreens) {
  AddScreens();
  CComRef<RecordingSource> firstSource(new RecordingSource());
  CComRef<RecordingSource> secondSource(new RecordingSource());
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, firstSource.Get()));
  EXPECT_EQ(firstSource->events, (std::vector<std::int32_t>{kScreenAttached, kScreenShown}));
  ASSERT_TRUE(manager_->ShowLayout(u"second", kShowPush, secondSource.Get()));
  EXPECT_EQ(firstSource->events.back(), kScreenCovered);
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("pushed");
  EXPECT_EQ(Pixel(150, 250), ColorToRgb565(kGreen));
  EXPECT_EQ(Pixel(10, 10), 0) << "a pushed screen covers the view alone";

  ASSERT_TRUE(manager_->Back());
  EXPECT_EQ(secondSource->events.back(), kScreenLeft);
  EXPECT_EQ(firstSource->events, (std::vector<std::int32_t>{kScreenAttached, kScreenShown, kScreenCovered,
                                                             kScreenAboutToBeUncovered, kScreenUncovered}));
  EXPECT_TRUE(manager_->IsBufferStale());
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("popped");
  EXPECT_EQ(Pixel(150, 250), ColorToRgb565(kRed));
  EXPECT_FALSE(manager_->Back()) << "the last screen stays";
}

// A manager that goes lets its stacked screens go without telling them
// anything: their plug-ins' site is already detached.
TEST_F(ManagerTest, AManagerThatGoesReleasesItsScreensWithoutEvents) {
  AddScreens();
  CComRef<RecordingSource> firstSource(new RecordingSource());
  CComRef<RecordingSource> secondSource(new RecordingSource());
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, firstSource.Get()));
  ASSERT_TRUE(manager_->ShowLayout(u"second", kShowPush, secondSource.Get()));
  const std::vector<std::int32_t> first = firstSource->events, second = secondSource->events;
  manager_.Reset();
  EXPECT_EQ(firstSource->events, first);
  EXPECT_EQ(secondSource->events, second);
}

TEST_F(ManagerTest, TheBufferFollowsTheViewSizeAndPaintCopiesOnlyTheClip) {
  AddScreens();
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  ASSERT_TRUE(manager_->ProcessPaint());
  manager_->SetViewSize(240, 320);
  EXPECT_TRUE(manager_->IsBufferStale());
  auto target = MakeTarget(480, 640, 0x1234);
  const plat::RECT clip{30, 30, 60, 50};
  EXPECT_TRUE(manager_->Paint(target->dc, plat::POINT{10, 0}, &clip));
  EXPECT_EQ(manager_->GetBuffer()->GetWidth(), 240);
  EXPECT_EQ(manager_->GetBuffer()->GetHeight(), 320);
  EXPECT_EQ(target->At(29, 40), 0x1234);
  EXPECT_EQ(target->At(30, 30), ColorToRgb565(kRed));
  EXPECT_EQ(target->At(59, 49), ColorToRgb565(kBlue)) << "buffer (49, 49) lies in the square";
  EXPECT_EQ(target->At(60, 40), 0x1234);
  EXPECT_EQ(target->At(40, 50), 0x1234);
}

TEST_F(ManagerTest, ThePressedLookWhileTheWindowHoldsTheCapture) {
  AddScreens();
  MakeWindow();
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  ASSERT_EQ(manager_->GetContent()->GetOutsideView()->SelectByName(u"button"), plat::S_OK);
  plat::SetCapture(window_);
  manager_->MarkStale();
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(BoxNamed(u"button")->lastFocus, 2);
  // Cancelling the capture lifts the press on the content.
  manager_->CancelCapture(310, 310);
  EXPECT_EQ(plat::GetCapture(), nullptr);
  EXPECT_EQ(BoxNamed(u"button")->taps, 1);
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(BoxNamed(u"button")->lastFocus, 0) << "the release cleared the selection";
}

TEST_F(ManagerTest, WindowPaintsCopyTheBufferAndRunThePendingRefresh) {
  AddScreens();
  MakeWindow();
  CComRef<RecordingSource> source(new RecordingSource());
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, source.Get()));
  const int passes = BoxNamed(u"back")->layoutPasses;
  manager_->RequestRefresh();
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
  plat::UpdateWindow(window_);
  EXPECT_EQ(source->refreshes, 1);
  EXPECT_GT(BoxNamed(u"back")->layoutPasses, passes) << "the source asked the site to lay the screen out again";
  // What the window shows is the buffer.
  plat::HDC dc = plat::GetDC(window_);
  // (colours as the 16-bit buffer holds them)
  EXPECT_EQ(plat::GetPixel(dc, 10, 10) & 0xF8FCF8, kRed & 0xF8FCF8);
  EXPECT_EQ(plat::GetPixel(dc, 45, 45) & 0xF8FCF8, kBlue & 0xF8FCF8);
  plat::ReleaseDC(window_, dc);
  // Nothing pending: no second refresh.
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
  plat::UpdateWindow(window_);
  EXPECT_EQ(source->refreshes, 1);
}

TEST_F(ManagerTest, ATransitionRunsFromTheSnapshotToTheNewScreen) {
  AddScreens();
  MakeWindow();
  InstantClock clock;
  manager_->GetAnimationRunner().SetClock(&clock);
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  EXPECT_FALSE(manager_->StartTransition(3, nullptr)) << "no snapshot yet";
  ASSERT_TRUE(manager_->CaptureSnapshot());
  ASSERT_TRUE(manager_->ShowLayout(u"second", kShowPush, nullptr));
  EXPECT_FALSE(manager_->StartTransition(5, nullptr)) << "a rectangle turn needs its rectangle";
  EXPECT_FALSE(manager_->StartTransition(9, nullptr));
  const int finished = transitionsFinished_;
  ASSERT_TRUE(manager_->StartTransition(3, nullptr));
  ASSERT_TRUE(manager_->GetTransition());
  // The effect tells the window when it is done (bounded wait for its thread).
  for (int i = 0; i < 1000 && transitionsFinished_ == finished; ++i) {
    plat::MsgWaitForMultipleObjects(0, nullptr, plat::FALSE, 10, plat::QS_ALLINPUT);
    plat::MSG m;
    while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) plat::DispatchMessageW(&m);
  }
  ASSERT_EQ(transitionsFinished_, finished + 1);
  EXPECT_GT(manager_->GetAnimationRunner().GetFrameCount(), 0u);
  EXPECT_EQ(manager_->GetAnimationRunner().GetPriority(), plat::THREAD_PRIORITY_HIGHEST);
  plat::HDC dc = plat::GetDC(window_);
  EXPECT_EQ(plat::GetPixel(dc, 150, 250) & 0xF8FCF8, kGreen & 0xF8FCF8) << "the transition ends on the new screen";
  plat::ReleaseDC(window_, dc);
  manager_->EndTransition();
  EXPECT_FALSE(manager_->GetTransition());
  EXPECT_FALSE(manager_->GetSnapshot());
  EXPECT_TRUE(manager_->IsBufferStale());
}

TEST_F(ManagerTest, SiteCallsFailOnceTheManagerIsGone) {
  CComRef<IPluginSite> site(manager_->GetSite());
  plat::HWND window = nullptr;
  EXPECT_EQ(site->GetWindow(&window), plat::S_OK);
  manager_.Reset();
  EXPECT_EQ(site->Invalidate(true), plat::E_FAIL);
  EXPECT_EQ(site->Relayout(), plat::E_FAIL);
}

TEST_F(ManagerTest, ARedrawOfOnePluginPaintsOnlyIt) {
  AddScreens();
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  ASSERT_TRUE(manager_->ProcessPaint());
  BoxPlugin* back = BoxNamed(u"back");
  BoxPlugin* button = BoxNamed(u"button");
  const int backPaints = back->paints;
  const int buttonPaints = button->paints;
  EXPECT_EQ(manager_->GetSite()->RedrawPlugin(button, false, nullptr), plat::S_OK);
  EXPECT_EQ(back->paints, backPaints);
  EXPECT_EQ(button->paints, buttonPaints + 1);
}

TEST_F(ManagerTest, ASnapshotIsTakenOutOfTheBuffer) {
  AddScreens();
  ASSERT_TRUE(manager_->ShowLayout(u"first", kShowReplace, nullptr));
  auto snapshot = manager_->CaptureSnapshot();
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(reinterpret_cast<const std::uint16_t*>(snapshot->Row(10))[10], ColorToRgb565(kRed));
  EXPECT_FALSE(manager_->GetBuffer());
  EXPECT_TRUE(manager_->IsBufferStale());
}

TEST_F(ManagerTest, DialogHostingHelpers) {
  EXPECT_EQ(DialogRecordHeaderHeight(), 46);
  SetScreen(240, 320, 96);
  EXPECT_EQ(DialogRecordHeaderHeight(), 23);
  CPPCModelessDialogImpl dialog;
  plat::HWND window = CreateEmptyDialog(dialog, nullptr, 0);
  ASSERT_TRUE(window) << "the program's \"Empty Dialog\"";
  EXPECT_EQ(dialog.GetHwnd(), window);
  plat::DestroyWindow(window);
}

}  // namespace
}  // namespace layouttest
