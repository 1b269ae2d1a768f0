// The window object over the HTML viewer control: creation and set-up, one
// whole replacement per reload with the hooks around it, reloads asked while
// busy, the bounded wait for the inner window and the suppressed menu.
#include "layout/HtmlView.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/htmlview/HtmlView.h"
#include "tests/layout/ToolkitFixture.h"
#include "tests/support/Pump.h"

namespace {

using namespace plat;

// Records the hooks and the page titles the control reports.
class RecordingView : public HtmlView {
 public:
  std::vector<std::string> log;
  bool replaceDuringSet = false;
  int menus = 0;

  bool ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (msg == WM_NOTIFY && lParam) {
      const auto* nm = reinterpret_cast<const NM_HTMLVIEWW*>(lParam);
      if (nm->hdr.code == NM_CONTEXTMENU) ++menus;
      if (nm->hdr.code == NM_TITLE) {
        log.push_back("title:" + plat::Utf16ToUtf8(nm->szTarget ? nm->szTarget : u""));
        // A handler that stores a newer page while this one is handed over.
        if (replaceDuringSet) {
          replaceDuringSet = false;
          ShowText(u"<title>newer</title>");
        }
        result = 1;
        return true;
      }
    }
    return HtmlView::ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
  }
  void Busy(bool enter) {
    if (enter) EnterBusy();
    else LeaveBusy();
  }

 protected:
  void OnBeforeSetText() override { log.push_back("before:" + std::to_string(GetBusy())); }
  void OnAfterSetText() override { log.push_back("after:" + std::to_string(GetBusy())); }
};

// A "control" that never makes its inner window.
class NoInnerView : public HtmlView {
 protected:
  HWND CreateViewerWindow(HWND parent, DWORD) override {
    return CreateWindowExW(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
  }
};

// The parent hands the page's notifications to the control (the parent of
// their sender), as the article view's host does.
LRESULT ForwardingParent(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY && lParam) {
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    // Never back to this window: the control hands unhandled ones to its parent.
    if ((hdr->code == NM_TITLE || hdr->code == NM_DOCUMENTCOMPLETE || hdr->code == NM_INLINE_IMAGE) &&
        GetParent(hdr->hwndFrom) != hwnd)
      return SendMessageW(GetParent(hdr->hwndFrom), WM_NOTIFY, wParam, lParam);
    if (hdr->code == NM_CONTEXTMENU) {
      // Reaching the parent means the control let its own menu through.
      SetPropW(hwnd, u"menuSeen", reinterpret_cast<HANDLE>(1));
      return 1;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class HtmlViewWrapperTest : public layouttest::ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    ASSERT_NE(Host(&ForwardingParent), nullptr);
  }
  std::vector<std::string> Titles(const RecordingView& v) {
    std::vector<std::string> out;
    for (const auto& e : v.log)
      if (e.rfind("title:", 0) == 0) out.push_back(e);
    return out;
  }
};

TEST_F(HtmlViewWrapperTest, CreateMakesTheSetUpControlWithItsInnerWindowAndFocus) {
  RecordingView view;
  ASSERT_TRUE(view.Create(host_));
  HWND control = view.GetWindow();
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(GetParent(control), host_);
  EXPECT_EQ(GetDlgCtrlID(control), HtmlView::kControlId);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & ~0x10u, 0x54000002u);
  EXPECT_TRUE(GetWindowLongW(control, GWL_STYLE) & 0x10);
  ASSERT_NE(view.GetInnerWindow(), nullptr);
  EXPECT_EQ(GetParent(view.GetInnerWindow()), control);
  EXPECT_EQ(GetFocus(), view.GetInnerWindow());
  EXPECT_FALSE(view.Create(host_));  // one control per object
}

TEST_F(HtmlViewWrapperTest, CreateGivesUpWhenTheInnerWindowNeverComes) {
  ManualClock clock;
  SetClock(&clock);
  NoInnerView view;
  const bool made = view.Create(host_);
  SetClock(nullptr);
  EXPECT_FALSE(made);
  EXPECT_EQ(clock.SleepCalls(), static_cast<DWORD>(HtmlView::kInnerWindowPolls));
  EXPECT_EQ(view.GetWindow(), nullptr);
  EXPECT_EQ(GetWindow(host_, GW_CHILD), nullptr);  // nothing left behind
}

TEST_F(HtmlViewWrapperTest, EachReloadReplacesThePageOnceBetweenTheHooks) {
  RecordingView view;
  ASSERT_TRUE(view.Create(host_));
  view.ShowText(u"<title>one</title><p>x</p>");
  view.ShowText(u"<title>two</title><p>y</p>");
  orvtest::PumpMessages();
  // Two posted reloads show the latest stored text twice, each whole.
  const std::vector<std::string> expected = {"before:0", "title:two", "after:0", "before:0", "title:two", "after:0"};
  EXPECT_EQ(view.log, expected);
  EXPECT_EQ(view.GetBusy(), 0);
}

TEST_F(HtmlViewWrapperTest, ReloadAskedWhileBusyShowsTheLatestTextWhenFree) {
  RecordingView view;
  ASSERT_TRUE(view.Create(host_));
  view.Busy(true);  // as while the control lays out a page
  view.ShowText(u"<title>first</title>");
  orvtest::PumpMessages();
  EXPECT_TRUE(Titles(view).empty());
  EXPECT_TRUE(view.IsReloadPending());
  view.ShowText(u"<title>second</title>");
  orvtest::PumpMessages();
  EXPECT_TRUE(Titles(view).empty());
  view.Busy(false);
  orvtest::PumpMessages();
  EXPECT_EQ(Titles(view), std::vector<std::string>{"title:second"});
  EXPECT_FALSE(view.IsReloadPending());
}

TEST_F(HtmlViewWrapperTest, TextStoredDuringAReplacementIsShownAfterIt) {
  RecordingView view;
  ASSERT_TRUE(view.Create(host_));
  view.replaceDuringSet = true;
  view.ShowText(u"<title>older</title>");
  orvtest::PumpMessages();
  EXPECT_EQ(Titles(view), (std::vector<std::string>{"title:older", "title:newer"}));
}

TEST_F(HtmlViewWrapperTest, TheControlShowsNoMenuOfItsOwn) {
  RecordingView view;
  ASSERT_TRUE(view.Create(host_));
  view.ShowText(u"<p>Some text to hold a finger on</p>");
  orvtest::PumpMessages();
  HWND inner = view.GetInnerWindow();
  SendMessageW(inner, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(inner, WM_TIMER, 1, 0);  // the hold timer: a tap and hold is reported
  SendMessageW(inner, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(view.menus, 1);
  EXPECT_EQ(GetPropW(host_, u"menuSeen"), nullptr);
  EXPECT_EQ(SendMessageW(view.GetWindow(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view.GetWindow()), 0), 1);
}

TEST_F(HtmlViewWrapperTest, DestroyingTheParentLeavesTheObjectSafe) {
  auto view = std::make_unique<RecordingView>();
  ASSERT_TRUE(view->Create(host_));
  DestroyWindow(host_);
  host_ = nullptr;
  EXPECT_EQ(view->GetWindow(), nullptr);
  view->ShowText(u"<p>nowhere</p>");
  view->SetText();
  view.reset();
}

}  // namespace
