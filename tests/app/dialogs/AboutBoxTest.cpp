// The About box: its texts, its pieces laid out on screen at both screen
// sizes, and the help it opens.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/dialogs/AboutBox.h"
#include "core/ProductStrings.h"
#include "core/StringUtils.h"
#include "layout/DialogFontCache.h"
#include "layout/DialogTitle.h"
#include "layout/ScreenScale.h"
#include "layout/WindowHelpers.h"
#include "platform/controls/StandardControls.h"
#include "platform/ipc/Ipc.h"
#include "tests/app/MainWindowFixture.h"

namespace {

constexpr plat::UINT kInspect = plat::WM_APP + 7;

// Looks at itself once it is up, saves a picture of the screen, then ends.
class InspectedAboutBox : public AboutBox {
 public:
  using AboutBox::AboutBox;
  std::string shot;
  std::u16string title, version, windowText;
  plat::RECT iconRect{}, titleRect{}, versionRect{}, client{};
  bool iconSet = false;
  bool headerClean = false;
  plat::UINT scrollMessage = 0;
  plat::RECT headerUpdate{};

 protected:
  void OnInit() override {
    AboutBox::OnInit();
    plat::PostMessageW(GetHwnd(), kInspect, 0, 0);
  }
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override {
    if (msg != kInspect) return AboutBox::ProcessDerivedMessage(hwnd, msg, wParam, lParam, result);
    title = Text(GetTitleControl());
    version = Text(GetVersionControl());
    windowText = Text(hwnd);
    iconSet = plat::SendMessageW(GetIconControl(), plat::STM_GETICON, 0, 0) != 0;
    plat::GetClientRect(hwnd, &client);
    iconRect = Place(GetIconControl());
    titleRect = Place(GetTitleControl());
    versionRect = Place(GetVersionControl());
    InvalidateWithChildren(hwnd);
    plat::UpdateWindow(hwnd);
    for (plat::HWND c = plat::GetWindow(hwnd, plat::GW_CHILD); c; c = plat::GetWindow(c, plat::GW_HWNDNEXT)) {
      plat::UpdateWindow(c);
    }
    // Scrolling the box (its scroll message) draws the header strip again.
    plat::ValidateRect(hwnd, nullptr);
    headerClean = !plat::GetUpdateRect(hwnd, nullptr, plat::FALSE);
    plat::SCROLLINFO si{sizeof(plat::SCROLLINFO), plat::SIF_RANGE | plat::SIF_PAGE | plat::SIF_POS, 0, 1000, 100, 5, 0};
    plat::SetScrollInfo(hwnd, plat::SB_VERT, &si, plat::FALSE);
    scrollMessage = GetScrollMessage();
    plat::SendMessageW(hwnd, scrollMessage, 0, 0);
    plat::GetUpdateRect(hwnd, &headerUpdate, plat::FALSE);
    si.nPos = 0;
    plat::SetScrollInfo(hwnd, plat::SB_VERT, &si, plat::FALSE);
    plat::SendMessageW(hwnd, scrollMessage, 0, 0);
    plat::UpdateWindow(hwnd);
    if (!shot.empty()) {
      std::filesystem::create_directories(ORV_APP_SHOTS);
      plat::SaveBitmapPng(plat::GetWindowSurfaceForTesting(hwnd), shot);
    }
    plat::PostMessageW(hwnd, plat::WM_COMMAND, plat::IDOK, 0);
    result = 0;
    return true;
  }

 private:
  static std::u16string Text(plat::HWND w) {
    char16_t buffer[256] = {};
    plat::GetWindowTextW(w, buffer, 256);
    return buffer;
  }
  plat::RECT Place(plat::HWND w) {
    plat::RECT r{};
    plat::GetWindowRect(w, &r);
    plat::MapWindowPoints(nullptr, GetHwnd(), reinterpret_cast<plat::POINT*>(&r), 2);
    return r;
  }
};

class AboutBoxTest : public apptest::MainWindowTest {};

TEST_F(AboutBoxTest, ShowsTitleAndVersionCentredAtEveryScreenSize) {
  EXPECT_EQ(AboutBox::VersionText(), u"2.0.0");
  EXPECT_EQ(AboutBox::BuildText(), u"3175");
  struct Screen {
    int width, height, dpi;
    const char* name;
  };
  for (const Screen& s : {Screen{240, 320, 96, "about-240x320.png"}, Screen{480, 640, 192, "about-480x640.png"}}) {
    SCOPED_TRACE(s.name);
    UseScreen(s.width, s.height, s.dpi);
    GetDialogFontCache().Reset();  // its fonts are made for one screen
    InspectedAboutBox box(GetApplicationTitle(), AboutBox::VersionText(), AboutBox::BuildText(),
                          GetHelpFileUrl() + u"#channels");
    box.shot = std::string(ORV_APP_SHOTS) + "/" + s.name;
    EXPECT_EQ(box.DoModal(nullptr), plat::IDOK);
    EXPECT_EQ(box.GetVersionLine(), u"Version 2.0.0, Build 3175");
    EXPECT_EQ(box.version, u"Version 2.0.0, Build 3175");
    EXPECT_EQ(box.title, GetApplicationTitle());
    EXPECT_EQ(box.windowText, GetApplicationTitle());
    EXPECT_TRUE(box.iconSet);
    // Scrolled 5 px: the header strip (23 px at 96 dpi, less what scrolled
    // away, plus its line) is drawn again.
    EXPECT_TRUE(box.headerClean);
    EXPECT_EQ(box.scrollMessage, plat::RegisterWindowMessageW(u"PPCD_ScrollMessage"));
    EXPECT_EQ(box.headerUpdate.top, 0);
    EXPECT_EQ(box.headerUpdate.bottom, GetDialogHeaderHeight() + ScaleY(1));
    // One below the other, inside the window, each centred across it.
    EXPECT_LE(box.iconRect.bottom, box.titleRect.top);
    EXPECT_LE(box.titleRect.bottom, box.versionRect.top);
    EXPECT_LE(box.versionRect.bottom, box.client.bottom);
    for (const plat::RECT& r : {box.iconRect, box.titleRect, box.versionRect}) {
      EXPECT_GE(r.left, 0);
      EXPECT_LE(r.right, box.client.right);
      EXPECT_NEAR((r.left + r.right) / 2, box.client.right / 2, 1);
    }
  }
}

// A translated pattern is used as written; one with too few places keeps the
// rest of the text.
TEST_F(AboutBoxTest, VersionLineFillsOnlyItsTwoPlaces) {
  struct Case {
    std::u16string format, expected;
  };
  const Case cases[] = {
      {u"Version %s, Build %s", u"Version 2.0.0, Build 3175"},
      {u"Build %s%%", u"Build 2.0.0%"},
      {u"%s / %s / %s", u"2.0.0 / 3175 / %s"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatWithTexts(c.format, {u"2.0.0", u"3175"}), c.expected);
}

}  // namespace
