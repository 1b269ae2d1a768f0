// Painting and invalidation, focus, injected input, dialogs from templates and
// message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/resources/Resources.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

namespace {

using namespace plat;

// Red as a 16-bit (RGB565) surface keeps it.
constexpr DWORD kRed565 = 0xF80000u;

class WindowsPaintDialogTest : public orvtest::DeviceTest {};

struct PaintLog {
  int paints = 0;
  RECT last{};
  std::vector<std::pair<UINT, DWORD>> focus;  // message, window
  std::vector<UINT> input;
};
PaintLog* g_log = nullptr;

LRESULT CALLBACK_Paint(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      if (g_log) {
        ++g_log->paints;
        g_log->last = ps.rcPaint;
      }
      RECT r;
      GetClientRect(h, &r);
      HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
      FillRect(dc, &r, red);
      DeleteObject(red);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (g_log) g_log->focus.push_back({m, HandleToValue(h)});
      return 0;
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      if (g_log) g_log->input.push_back(m);
      if (m == WM_LBUTTONDOWN && g_log) g_log->last = RECT{GET_X_LPARAM(l), GET_Y_LPARAM(l), 0, 0};
      return 0;
    default:
      return DefWindowProcW(h, m, w, l);
  }
}

HWND MakePaintWindow(int x, int y, int w, int h, DWORD style = WS_POPUP | WS_VISIBLE, HWND parent = nullptr) {
  wmtest::EnsureClass(u"WmTestPaint", CALLBACK_Paint);
  return CreateWindowExW(0, u"WmTestPaint", u"paint", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

void PumpPending() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

TEST_F(WindowsPaintDialogTest, SeveralInvalidationsPaintOnce) {
  PaintLog log;
  g_log = &log;
  HWND w = MakePaintWindow(0, 0, 100, 80);
  ASSERT_NE(w, nullptr);
  PumpPending();
  EXPECT_EQ(log.paints, 1);  // shown visible: painted once
  log.paints = 0;
  RECT a{10, 10, 20, 20}, b{50, 5, 60, 30}, c{30, 40, 35, 45};
  InvalidateRect(w, &a, FALSE);
  InvalidateRect(w, &b, TRUE);
  InvalidateRect(w, &c, FALSE);
  PumpPending();
  EXPECT_EQ(log.paints, 1);
  EXPECT_EQ(log.last.left, 10);
  EXPECT_EQ(log.last.top, 5);
  EXPECT_EQ(log.last.right, 60);
  EXPECT_EQ(log.last.bottom, 45);
  PumpPending();
  EXPECT_EQ(log.paints, 1);
  // Validated areas are not painted; UpdateWindow paints at once.
  InvalidateRect(w, nullptr, FALSE);
  ValidateRect(w, nullptr);
  PumpPending();
  EXPECT_EQ(log.paints, 1);
  InvalidateRect(w, &a, FALSE);
  UpdateWindow(w);
  EXPECT_EQ(log.paints, 2);
  // The painting reached the window's surface and the composed screen.
  PixelImage px = ReadBitmapPixels(GetWindowSurfaceForTesting(w));
  ASSERT_EQ(px.width, 100);
  EXPECT_EQ(px.pixels[static_cast<std::size_t>(15 * 100 + 15)], kRed565);
  ASSERT_TRUE(ComposeScreen());
  PixelImage screen = ReadBitmapPixels(ScreenBitmap());
  EXPECT_EQ(screen.pixels[static_cast<std::size_t>(15 * screen.width + 15)], kRed565);
  EXPECT_EQ(screen.pixels[static_cast<std::size_t>(200 * screen.width + 200)], 0u);
  DestroyWindow(w);
  g_log = nullptr;
}

TEST_F(WindowsPaintDialogTest, ChildPaintsInsideItsOwnArea) {
  HWND top = MakePaintWindow(0, 0, 100, 100);
  wmtest::EnsureClass(u"WmTestPlain", DefWindowProcW);
  HWND plainTop = CreateWindowExW(0, u"WmTestPlain", u"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr);
  HWND child = MakePaintWindow(20, 30, 10, 10, WS_CHILD | WS_VISIBLE, plainTop);
  ASSERT_TRUE(top && plainTop && child);
  PumpPending();
  PixelImage px = ReadBitmapPixels(GetWindowSurfaceForTesting(plainTop));
  auto at = [&](int x, int y) { return px.pixels[static_cast<std::size_t>(y * px.width + x)]; };
  EXPECT_EQ(at(25, 35), kRed565);
  EXPECT_EQ(at(19, 35), 0u);
  EXPECT_EQ(at(30, 35), 0u);
  EXPECT_EQ(at(25, 40), 0u);
  EXPECT_EQ(GetWindowSurfaceForTesting(child), nullptr);
  DestroyWindow(plainTop);
  DestroyWindow(top);
}

TEST_F(WindowsPaintDialogTest, FocusAndInjectedInput) {
  PaintLog log;
  g_log = &log;
  HWND top = MakePaintWindow(0, 0, 200, 200);
  HWND a = MakePaintWindow(0, 0, 100, 100, WS_CHILD | WS_VISIBLE, top);
  HWND b = MakePaintWindow(100, 0, 100, 100, WS_CHILD | WS_VISIBLE, top);
  ASSERT_TRUE(SetForegroundWindow(top));
  EXPECT_EQ(GetForegroundWindow(), top);
  EXPECT_EQ(SetFocus(a), nullptr);
  EXPECT_EQ(SetFocus(b), a);
  EXPECT_EQ(GetFocus(), b);
  std::vector<std::pair<UINT, DWORD>> expected = {
      {WM_SETFOCUS, HandleToValue(a)}, {WM_KILLFOCUS, HandleToValue(a)}, {WM_SETFOCUS, HandleToValue(b)}};
  EXPECT_EQ(log.focus, expected);
  ASSERT_TRUE(InjectKey('Q', true));
  PumpPending();
  EXPECT_EQ(log.input, (std::vector<UINT>{WM_KEYDOWN, WM_CHAR}));
  log.input.clear();
  ASSERT_TRUE(InjectStylus(WM_LBUTTONDOWN, 130, 40));
  PumpPending();
  EXPECT_EQ(log.input, (std::vector<UINT>{WM_LBUTTONDOWN}));
  EXPECT_EQ(log.last.left, 30);  // client coordinates of b
  EXPECT_EQ(log.last.top, 40);
  // A disabled window takes no stylus and no focus.
  EnableWindow(a, FALSE);
  log.input.clear();
  EXPECT_EQ(SetFocus(a), nullptr);
  EXPECT_EQ(GetFocus(), b);
  InjectStylus(WM_LBUTTONDOWN, 10, 10);
  PumpPending();
  EXPECT_EQ(log.input, (std::vector<UINT>{WM_LBUTTONDOWN}));  // went to the parent instead
  // The capture takes the stylus wherever it is.
  SetCapture(b);
  log.input.clear();
  InjectStylus(WM_LBUTTONUP, 5, 5);
  PumpPending();
  EXPECT_EQ(log.input, (std::vector<UINT>{WM_LBUTTONUP}));
  EXPECT_EQ(GetCapture(), b);
  ReleaseCapture();
  EXPECT_EQ(GetCapture(), nullptr);
  InjectKey('Q', false);
  DestroyWindow(top);
  g_log = nullptr;
}

// Which window each injected key reached.
std::vector<HWND>* g_keysAt = nullptr;
LRESULT CALLBACK_KeyTarget(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_KEYDOWN && g_keysAt) g_keysAt->push_back(h);
  return DefWindowProcW(h, m, w, l);
}

// While a window of the program is on the screen the keys have a window: when
// the foreground window is hidden or closed, its owner takes over when shown
// and enabled, else the nearest shown window of the program.
TEST_F(WindowsPaintDialogTest, HidingOrClosingTheForegroundWindowPassesTheKeysOn) {
  std::vector<HWND> keysAt;
  g_keysAt = &keysAt;
  wmtest::EnsureClass(u"WmTestKeys", CALLBACK_KeyTarget);
  auto make = [](DWORD style, HWND parent) {
    return CreateWindowExW(0, u"WmTestKeys", u"keys", style, 0, 0, 100, 100, parent, nullptr, nullptr, nullptr);
  };
  // The key reaches want (nullptr: no window takes it).
  auto keyReaches = [&](HWND want) {
    keysAt.clear();
    const bool taken = InjectKey('K', true) != FALSE;
    InjectKey('K', false);
    PumpPending();
    return taken == (want != nullptr) && keysAt == (want ? std::vector<HWND>{want} : std::vector<HWND>{});
  };
  HWND main = make(WS_POPUP | WS_VISIBLE, nullptr);
  HWND other = make(WS_POPUP | WS_VISIBLE, nullptr);  // above main
  HWND sheet = make(WS_POPUP | WS_VISIBLE, main);      // owned by main, above both
  HWND page = make(WS_CHILD | WS_VISIBLE, sheet);
  ASSERT_TRUE(main && other && sheet && page);
  ASSERT_TRUE(SetForegroundWindow(sheet));
  SetFocus(page);
  ASSERT_TRUE(keyReaches(page));
  // A page holding the focus goes: the sheet keeps the foreground and the keys.
  DestroyWindow(page);
  EXPECT_EQ(GetForegroundWindow(), sheet);
  EXPECT_TRUE(keyReaches(sheet));
  // The sheet closes: its owner takes over, though another window is above it.
  DestroyWindow(sheet);
  EXPECT_EQ(GetForegroundWindow(), main);
  EXPECT_EQ(GetActiveWindow(), main);
  EXPECT_TRUE(keyReaches(main));
  // The foreground window is hidden: the nearest shown window takes over.
  ShowWindow(main, SW_HIDE);
  EXPECT_EQ(GetForegroundWindow(), other);
  EXPECT_TRUE(keyReaches(other));
  // A window that is not the foreground goes: the foreground stays.
  ShowWindow(main, SW_SHOW);
  ASSERT_EQ(GetForegroundWindow(), main);
  ShowWindow(other, SW_HIDE);
  EXPECT_EQ(GetForegroundWindow(), main);
  // A disabled owner is passed over; with nothing shown left, no window takes the keys.
  HWND box = make(WS_POPUP | WS_VISIBLE, main);
  ShowWindow(other, SW_SHOW);
  ASSERT_TRUE(SetForegroundWindow(box));
  EnableWindow(main, FALSE);
  DestroyWindow(box);
  EXPECT_EQ(GetForegroundWindow(), other);
  DestroyWindow(main);
  DestroyWindow(other);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_TRUE(keyReaches(nullptr));
  g_keysAt = nullptr;
}

// ---------------------------------------------------------------------------
// Dialogs

constexpr int kOther = 101;
constexpr int kText = 200;

const char kDialogScript[] = R"(
#define IDOK 1
#define IDCANCEL 2
TESTDLG DIALOG 0, 0, 120, 80
STYLE WS_POPUP | WS_CAPTION
CAPTION "Test"
BEGIN
    LTEXT "Label", 200, 4, 4, 100, 10
    DEFPUSHBUTTON "OK", IDOK, 4, 20, 30, 12
    PUSHBUTTON "Other", 101, 40, 20, 30, 12
    PUSHBUTTON "Cancel", IDCANCEL, 76, 20, 30, 12
END
)";

HINSTANCE DialogModule() {
  static HINSTANCE module = [] {
    auto r = CompileResourceScript(kDialogScript, "/tmp", "dialog.rc");
    EXPECT_TRUE(r.ok) << r.error;
    auto h = reinterpret_cast<HINSTANCE>(std::uintptr_t{0x5A5A0});
    BindModuleResources(h, r.image);
    return h;
  }();
  return module;
}

constexpr UINT kNextKey = WM_APP + 1;

struct DialogRun {
  std::vector<UINT> keys;
  std::size_t next = 0;
  int focusAtInit = 0;  // id of the control WM_INITDIALOG names
  std::u16string label;
};
DialogRun* g_run = nullptr;

INT_PTR CALLBACK_Dlg(HWND dlg, UINT msg, WPARAM w, LPARAM) {
  if (msg == WM_INITDIALOG) {
    g_run->focusAtInit = GetDlgCtrlID(reinterpret_cast<HWND>(w));
    WCHAR buf[32];
    GetDlgItemTextW(dlg, kText, buf, 32);
    g_run->label = buf;
    SetDlgItemTextW(dlg, kText, u"Changed");
    PostMessageW(dlg, kNextKey, 0, 0);
    return TRUE;
  }
  if (msg == kNextKey) {
    // One key at a time to the window that has the focus then, as typed.
    if (g_run->next < g_run->keys.size()) {
      HWND focus = GetFocus();
      PostMessageW(focus ? focus : dlg, WM_KEYDOWN, g_run->keys[g_run->next++], 1);
      PostMessageW(dlg, kNextKey, 0, 0);
    }
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    EndDialog(dlg, LOWORD(w));
    return TRUE;
  }
  return FALSE;
}

struct KeyCase {
  const char* name;
  std::vector<UINT> keys;
  INT_PTR result;
};

class WindowsDialogKeysTest : public orvtest::DeviceTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(WindowsDialogKeysTest, KeysEndTheDialog) {
  DialogRun run;
  run.keys = GetParam().keys;
  g_run = &run;
  INT_PTR r = DialogBoxParamW(DialogModule(), u"TESTDLG", nullptr, CALLBACK_Dlg, 0);
  g_run = nullptr;
  EXPECT_EQ(r, GetParam().result);
  EXPECT_EQ(run.label, u"Label");
  EXPECT_EQ(run.focusAtInit, IDOK);  // the first tab stop
  EXPECT_EQ(FindWindowW(nullptr, u"Test"), nullptr);  // the dialog is gone
}

INSTANTIATE_TEST_SUITE_P(
    Keys, WindowsDialogKeysTest,
    ::testing::Values(KeyCase{"EnterIsTheDefaultButton", {VK_RETURN}, IDOK},
                      KeyCase{"EscapeIsCancel", {VK_ESCAPE}, IDCANCEL},
                      KeyCase{"TabMovesToTheNextButton", {VK_TAB, VK_RETURN}, kOther},
                      KeyCase{"TabWrapsAround", {VK_TAB, VK_TAB, VK_TAB, VK_RETURN}, IDOK},
                      KeyCase{"SpaceClicksTheFocusedButton", {VK_TAB, VK_TAB, VK_SPACE}, IDCANCEL}),
    [](const auto& info) { return std::string(info.param.name); });

// A dialog ended from a message another thread sends ends at once: its
// loop does not wait for some later posted message.
struct SentEnd {
  std::thread sender;
  std::atomic<bool> returned{false};
  std::atomic<bool> rescued{false};
};
SentEnd* g_sentEnd = nullptr;

INT_PTR CALLBACK_EndedBySend(HWND dlg, UINT msg, WPARAM w, LPARAM) {
  if (msg == WM_INITDIALOG) {
    g_sentEnd->sender = std::thread([dlg] {
      SendMessageW(dlg, WM_COMMAND, kOther, 0);
      for (int i = 0; i < 500 && !g_sentEnd->returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!g_sentEnd->returned) {
        // Still waiting: free the loop so the test reports instead of hanging.
        g_sentEnd->rescued = true;
        PostMessageW(dlg, WM_NULL, 0, 0);
      }
    });
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    EndDialog(dlg, LOWORD(w));
    return TRUE;
  }
  return FALSE;
}

TEST_F(WindowsPaintDialogTest, DialogEndedFromASentMessageReturnsWithoutAPostedOne) {
  SentEnd run;
  g_sentEnd = &run;
  INT_PTR r = DialogBoxParamW(DialogModule(), u"TESTDLG", nullptr, CALLBACK_EndedBySend, 0);
  run.returned = true;
  run.sender.join();
  g_sentEnd = nullptr;
  EXPECT_EQ(r, kOther);
  EXPECT_FALSE(run.rescued) << "the dialog's loop waited for a posted message after EndDialog";
  EXPECT_EQ(FindWindowW(nullptr, u"Test"), nullptr);
}

TEST_F(WindowsPaintDialogTest, ModelessDialogFromATemplateInMemory) {
  HRSRC res = FindResourceW(DialogModule(), u"TESTDLG", RT_DIALOG);
  ASSERT_NE(res, nullptr);
  auto* t = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(DialogModule(), res)));
  DialogRun run;
  g_run = &run;
  HWND dlg = CreateDialogIndirectParamW(nullptr, t, nullptr, CALLBACK_Dlg, 0);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(GetFocus(), GetDlgItem(dlg, IDOK));
  WCHAR buf[32];
  EXPECT_EQ(GetDlgItemTextW(dlg, kText, buf, 32), 7u);
  EXPECT_EQ(std::u16string(buf), u"Changed");
  EXPECT_EQ(SendMessageW(dlg, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
  EXPECT_EQ(GetNextDlgTabItem(dlg, GetDlgItem(dlg, IDOK), TRUE), GetDlgItem(dlg, IDCANCEL));
  RECT r;
  GetWindowRect(GetDlgItem(dlg, kOther), &r);
  RECT du{40, 20, 70, 32};
  MapDialogRect(dlg, &du);
  RECT dr;
  GetWindowRect(dlg, &dr);
  EXPECT_EQ(r.left - dr.left, du.left);
  EXPECT_EQ(r.top - dr.top, du.top);
  EXPECT_EQ(r.right - r.left, du.right - du.left);
  EXPECT_EQ(r.bottom - r.top, du.bottom - du.top);
  // A tap on the button clicks it.
  GetWindowRect(GetDlgItem(dlg, kOther), &r);
  ShowWindow(dlg, SW_SHOW);
  InjectStylus(WM_LBUTTONDOWN, r.left + 2, r.top + 2);
  InjectStylus(WM_LBUTTONUP, r.left + 2, r.top + 2);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (!IsDialogMessageW(dlg, &m)) DispatchMessageW(&m);
  EXPECT_TRUE(IsWindow(dlg));  // modeless: EndDialog only hides it
  EXPECT_FALSE(IsWindowVisible(dlg));
  DestroyWindow(dlg);
  g_run = nullptr;
}

TEST_F(WindowsPaintDialogTest, MessageBoxAnsweredHeadlessly) {
  std::u16string seenText, seenCaption;
  UINT seenType = 0;
  SetMessageBoxAnswerer([&](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
    seenText = text;
    seenCaption = caption;
    seenType = type;
    return IDNO;
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"Delete the channel?", u"Orv News", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(seenText, u"Delete the channel?");
  EXPECT_EQ(seenCaption, u"Orv News");
  EXPECT_EQ(seenType, MB_YESNO | MB_ICONQUESTION);
  EXPECT_FALSE(GetOpenMessageBoxForTesting(nullptr));
  SetMessageBoxAnswerer(nullptr);
}

struct BoxCase {
  const char* name;
  UINT type;
  UINT key;
  int result;
};
class WindowsMessageBoxKeysTest : public orvtest::DeviceTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(WindowsMessageBoxKeysTest, KeysAnswerTheBoxWindow) {
  SetMessageBoxAnswerer(nullptr);
  std::atomic<bool> stop{false};
  std::thread presser([&] {
    HWND box = nullptr;
    while (!stop && !GetOpenMessageBoxForTesting(&box)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (stop) return;
    while (!stop && GetForegroundWindow() != box) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    InjectKey(GetParam().key, true);
    InjectKey(GetParam().key, false);
  });
  int r = MessageBoxW(nullptr, u"Question", u"Caption", GetParam().type);
  stop = true;
  presser.join();
  EXPECT_EQ(r, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Keys, WindowsMessageBoxKeysTest,
                         ::testing::Values(BoxCase{"EnterOk", MB_OK, VK_RETURN, IDOK},
                                           BoxCase{"EscapeOnOkAloneIsOk", MB_OK, VK_ESCAPE, IDOK},
                                           BoxCase{"EnterSecondDefault", MB_YESNO | MB_DEFBUTTON2, VK_RETURN, IDNO},
                                           BoxCase{"EscapeCancels", MB_OKCANCEL, VK_ESCAPE, IDCANCEL}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
