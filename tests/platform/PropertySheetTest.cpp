// Property sheets: pages built in code, tabs at the bottom, a page refusing
// apply keeps the sheet open on it, the sheet callback's queries.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "tests/support/PageTemplate.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_TEST_OUTPUT_DIR
#define ORV_TEST_OUTPUT_DIR "."
#endif

namespace {

using namespace plat;

struct Log {
  std::vector<std::string> events;
  bool refuseApply = true;
  HWND sheet = nullptr;
  std::vector<HWND> pages;
  HWND shownAtSecondTry = nullptr;
  std::function<void(int)> step;
};
Log* g_log = nullptr;

INT_PTR PageProc(HWND hwnd, UINT msg, WPARAM, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    const auto* psp = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    SetWindowLongW(hwnd, DWL_USER, psp->lParam);
    g_log->events.push_back("init " + std::to_string(psp->lParam));
    g_log->pages.push_back(hwnd);
    return TRUE;
  }
  if (msg != WM_NOTIFY) return FALSE;
  const auto* nm = reinterpret_cast<const PSHNOTIFY*>(lParam);
  const int page = static_cast<int>(GetWindowLongW(hwnd, DWL_USER));
  std::string name;
  LRESULT result = 0;
  switch (nm->hdr.code) {
    case PSN_SETACTIVE: name = "setactive"; break;
    case PSN_KILLACTIVE:
      name = "killactive";
      if (page == 1 && !g_log->refuseApply)
        g_log->shownAtSecondTry = reinterpret_cast<HWND>(SendMessageW(g_log->sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
      break;
    case PSN_APPLY:
      name = "apply";
      if (page == 1 && g_log->refuseApply) {
        result = PSNRET_INVALID;
        g_log->refuseApply = false;
        PostMessageW(g_log->sheet, WM_COMMAND, IDOK, 0);  // the user tries again
      }
      break;
    case PSN_RESET: name = "reset"; break;
    case PSN_HELP: name = "help"; break;
    default: return FALSE;
  }
  g_log->events.push_back(name + " " + std::to_string(page));
  SetWindowLongW(hwnd, DWL_MSGRESULT, result);
  return TRUE;
}

int SheetCallback(HWND hwnd, UINT msg, LPARAM lParam) {
  switch (msg) {
    case PSCB_GETVERSION: return 526;
    case PSCB_INITIALIZED:
      g_log->sheet = hwnd;
      g_log->events.push_back("initialized");
      PostMessageW(hwnd, WM_NULL, 0, 0);
      if (g_log->step) PostMessageW(hwnd, WM_NULL, 0, 0);
      return 0;
    case PSCB_GETTITLE: {
      const std::u16string title = u"Options";
      std::memcpy(reinterpret_cast<WCHAR*>(lParam), title.c_str(), (title.size() + 1) * sizeof(WCHAR));
      return 0;
    }
    default: return 0;
  }
}

class PropertySheetTest : public orvtest::DeviceTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    SetScreenForTesting(240 * GetParam() / 96, 320 * GetParam() / 96, GetParam());
    g_log = &log_;
  }
  void TearDown() override {
    g_log = nullptr;
    ResetScreenForTesting();
  }
  Log log_;
};

// A window of the test thread that runs the user's steps one message at a time
// while the sheet's loop runs.
int g_step = 0;
std::function<void(int)> g_steps;
LRESULT StepProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_APP) {
    g_steps(g_step++);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_P(PropertySheetTest, ThreePagesTabsAtTheBottomAndAPageRefusingApplyKeepsTheSheetOnIt) {
  const std::vector<WORD> t0 = orvtest::PageTemplate(u"Network", u"Network settings");
  const std::vector<WORD> t1 = orvtest::PageTemplate(u"Updating", u"Update every day");
  const std::vector<WORD> t2 = orvtest::PageTemplate(u"Cleaning", u"Delete old articles");
  PROPSHEETPAGEW psp[3]{};
  const std::vector<WORD>* templates[3] = {&t0, &t1, &t2};
  for (int i = 0; i < 3; ++i) {
    psp[i].dwSize = sizeof(PROPSHEETPAGEW);
    psp[i].dwFlags = PSP_DLGINDIRECT;
    psp[i].pResource = reinterpret_cast<const DLGTEMPLATE*>(templates[i]->data());
    psp[i].pfnDlgProc = PageProc;
    psp[i].lParam = i;
  }
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, u"SheetTestSteps", &wc)) {
    wc.lpfnWndProc = StepProc;
    wc.lpszClassName = u"SheetTestSteps";
    ASSERT_TRUE(RegisterClassW(&wc));
  }
  HWND steps = CreateWindowExW(0, u"SheetTestSteps", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(steps, nullptr);
  HWND tabs = nullptr;
  std::string screenshot = std::string(ORV_TEST_OUTPUT_DIR) + "/property_sheet_" + std::to_string(GetParam()) + ".png";
  g_step = 0;
  g_steps = [&](int step) {
    HWND sheet = log_.sheet;
    tabs = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
    if (step == 0) {
      // A tap on the second tab shows the second page.
      RECT r{};
      ASSERT_TRUE(SendMessageW(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r)));
      SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON,
                   MAKELPARAM(static_cast<WORD>((r.left + r.right) / 2), static_cast<WORD>((r.top + r.bottom) / 2)));
      SendMessageW(tabs, WM_LBUTTONUP, 0,
                   MAKELPARAM(static_cast<WORD>((r.left + r.right) / 2), static_cast<WORD>((r.top + r.bottom) / 2)));
      EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 1);
    } else if (step == 1) {
      EXPECT_TRUE(SendMessageW(sheet, PSM_SETCURSEL, 2, 0));
      SendMessageW(sheet, WM_HELP, 0, 0);
    } else if (step == 2) {
      InvalidateRect(sheet, nullptr, TRUE);
      UpdateWindow(sheet);
      for (HWND c = GetWindow(sheet, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        UpdateWindow(c);
        for (HWND g = GetWindow(c, GW_CHILD); g; g = GetWindow(g, GW_HWNDNEXT)) UpdateWindow(g);
      }
      SaveBitmapPng(GetWindowSurfaceForTesting(sheet), screenshot);
      // Done: the second page refuses once, then the user presses Done again.
      PostMessageW(sheet, WM_COMMAND, IDOK, 0);
      return;
    }
    PostMessageW(steps, WM_APP, 0, 0);
  };
  PostMessageW(steps, WM_APP, 0, 0);

  PROPSHEETHEADERW h{};
  h.dwSize = sizeof(h);
  h.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MAXIMIZE;
  h.pszCaption = u"Settings";
  h.nPages = 3;
  h.ppsp = psp;
  h.pfnCallback = SheetCallback;
  EXPECT_EQ(PropertySheetW(&h), 1);
  EXPECT_EQ(g_step, 3);
  const std::vector<std::string> expected = {
      "initialized", "init 0", "setactive 0",
      // the tap on the second tab
      "killactive 0", "init 1", "setactive 1",
      // PSM_SETCURSEL 2, then help goes to the shown page
      "killactive 1", "init 2", "setactive 2", "help 2",
      // Done: the second page refuses and is shown
      "killactive 2", "apply 0", "apply 1", "setactive 1",
      // Done again: every page applies
      "killactive 1", "apply 0", "apply 1", "apply 2"};
  EXPECT_EQ(log_.events, expected);
  ASSERT_EQ(log_.pages.size(), 3u);
  EXPECT_EQ(log_.shownAtSecondTry, log_.pages[1]);  // the refusing page was shown
  EXPECT_FALSE(IsWindow(log_.sheet));
  DestroyWindow(steps);
}

TEST_P(PropertySheetTest, CancelResetsEveryMadePageAndBadInputFails) {
  const std::vector<WORD> t0 = orvtest::PageTemplate(u"One", u"First");
  PROPSHEETPAGEW psp{};
  psp.dwSize = sizeof(psp);
  psp.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
  psp.pszTitle = u"First page";
  psp.pResource = reinterpret_cast<const DLGTEMPLATE*>(t0.data());
  psp.pfnDlgProc = PageProc;
  HPROPSHEETPAGE page = CreatePropertySheetPageW(&psp);
  ASSERT_NE(page, nullptr);
  // A page without a template, or without a procedure, is refused.
  PROPSHEETPAGEW bad = psp;
  bad.pResource = nullptr;
  EXPECT_EQ(CreatePropertySheetPageW(&bad), nullptr);
  bad = psp;
  bad.pfnDlgProc = nullptr;
  EXPECT_EQ(CreatePropertySheetPageW(&bad), nullptr);
  PROPSHEETHEADERW h{};
  h.dwSize = sizeof(h);
  EXPECT_EQ(PropertySheetW(&h), -1);
  EXPECT_EQ(PropertySheetW(nullptr), -1);

  h.dwFlags = PSH_USECALLBACK;
  h.nPages = 1;
  h.phpage = &page;
  h.pfnCallback = SheetCallback;
  g_steps = [&](int) {
    HWND tabs = reinterpret_cast<HWND>(SendMessageW(log_.sheet, PSM_GETTABCONTROL, 0, 0));
    WCHAR text[32] = {};
    TCITEMW item{TCIF_TEXT, 0, 0, text, 32, 0, 0};
    EXPECT_TRUE(SendMessageW(tabs, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_EQ(std::u16string(text), u"First page");
    WCHAR title[32] = {};
    GetWindowTextW(log_.sheet, title, 32);
    EXPECT_EQ(std::u16string(title), u"Options");  // from the callback's title query
    PostMessageW(log_.sheet, WM_COMMAND, IDCANCEL, 0);
  };
  g_step = 0;
  HWND steps = CreateWindowExW(0, u"SheetTestSteps", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!steps) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = StepProc;
    wc.lpszClassName = u"SheetTestSteps";
    RegisterClassW(&wc);
    steps = CreateWindowExW(0, u"SheetTestSteps", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  }
  PostMessageW(steps, WM_APP, 0, 0);
  // The program's window under the sheet is disabled while it runs and has
  // the keys again when it closes.
  HWND owner = CreateWindowExW(0, u"SheetTestSteps", u"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  h.hwndParent = owner;
  EXPECT_EQ(PropertySheetW(&h), 0);
  const std::vector<std::string> expected = {"initialized", "init 0", "setactive 0", "reset 0"};
  EXPECT_EQ(log_.events, expected);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(GetForegroundWindow(), owner);
  EXPECT_EQ(GetActiveWindow(), owner);
  DestroyWindow(owner);
  DestroyWindow(steps);
}

// A strip too narrow for its tabs' texts and padding gives up the padding,
// then shares its width, so every tab stays on it; a wide strip keeps them
// at their natural width, left-aligned.
TEST_P(PropertySheetTest, TabsFitANarrowStrip) {
  const int dpi = GetParam();
  INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&init));
  std::u16string texts[] = {u"Network", u"Content", u"Updating", u"Cleaning"};
  auto rectsAt = [&](int width) {
    HWND tabs = CreateWindowExW(0, WC_TABCONTROLW, u"", WS_POPUP | TCS_BOTTOM, 0, 0, width, 24 * dpi / 96, nullptr,
                                nullptr, nullptr, nullptr);
    EXPECT_NE(tabs, nullptr);
    for (int i = 0; i < 4; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = texts[i].data();
      SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    std::vector<RECT> rects(4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(SendMessageW(tabs, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&rects[i])));
    }
    DestroyWindow(tabs);
    return rects;
  };
  const int narrow = 150 * dpi / 96;
  const std::vector<RECT> squeezed = rectsAt(narrow);
  const std::vector<RECT> natural = rectsAt(480 * dpi / 96);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GT(squeezed[i].right, squeezed[i].left);
    EXPECT_LE(squeezed[i].right - squeezed[i].left, natural[i].right - natural[i].left);
    if (i > 0) {
      EXPECT_EQ(squeezed[i].left, squeezed[i - 1].right);
      EXPECT_EQ(natural[i].left, natural[i - 1].right);
    }
  }
  EXPECT_LE(squeezed[3].right, narrow);
  EXPECT_LT(natural[3].right, 480 * dpi / 96 / 2 + 240 * dpi / 96);
  // Longer texts keep wider tabs when squeezed.
  EXPECT_GT(squeezed[3].right - squeezed[3].left, squeezed[1].right - squeezed[1].left - 3 * dpi / 96);
}

INSTANTIATE_TEST_SUITE_P(Dpi, PropertySheetTest, ::testing::Values(96, 192));

}  // namespace
