// The standard controls: what they draw at 96 and 192 DPI (kept as PNG files),
// buttons and their groups under stylus and keys, the single-line edit's
// typing, limit, selection, clipboard and styles, the system colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Time.h"
#include "platform/controls/StandardControls.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/Wait.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_TEST_OUTPUT_DIR
#define ORV_TEST_OUTPUT_DIR "."
#endif

namespace {

using namespace plat;

struct Note {
  int id;
  WORD code;
  bool operator==(const Note&) const = default;
};
std::vector<Note>* g_notes = nullptr;

LRESULT CALLBACK_Parent(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COMMAND && g_notes) g_notes->push_back({LOWORD(w), HIWORD(w)});
  return DefWindowProcW(h, m, w, l);
}

class StandardControlsTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_notes = &notes_;
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"CtlTestParent", &wc)) {
      wc.lpfnWndProc = CALLBACK_Parent;
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      wc.lpszClassName = u"CtlTestParent";
      RegisterClassW(&wc);
    }
    parent_ = CreateWindowExW(0, u"CtlTestParent", u"controls", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                              ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent_);
    SetForegroundWindow(parent_);
  }
  void TearDown() override {
    DestroyWindow(parent_);
    g_notes = nullptr;
    ResetScreenForTesting();
  }
  HWND Make(const WCHAR* cls, const WCHAR* text, DWORD style, int id, int x, int y, int w, int h) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_,
                             reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(id)), nullptr, nullptr);
    EXPECT_TRUE(c) << "class " << id;
    return c;
  }
  // A tap at client coordinates of the parent, through the injected stylus.
  void Tap(int x, int y) {
    InjectStylus(WM_LBUTTONDOWN, x, y);
    orvtest::PumpMessages();
    InjectStylus(WM_LBUTTONUP, x, y);
    orvtest::PumpMessages();
  }
  void Type(const std::u16string& text) {
    for (char16_t c : text) InjectChar(c);
    orvtest::PumpMessages();
  }
  std::u16string Text(HWND h) {
    WCHAR buf[256];
    GetWindowTextW(h, buf, 256);
    return buf;
  }
  std::pair<DWORD, DWORD> Sel(HWND edit) {
    DWORD a = 0, b = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
    return {a, b};
  }
  void Key(UINT vk, bool shift = false) {
    // Key states are read when the keys are handled: pump while shift is down.
    if (shift) InjectKey(VK_SHIFT, true);
    InjectKey(vk, true);
    InjectKey(vk, false);
    orvtest::PumpMessages();
    if (shift) InjectKey(VK_SHIFT, false);
    orvtest::PumpMessages();
  }
  int Count(WORD code, int id) {
    int n = 0;
    for (const Note& note : notes_) n += note.code == code && note.id == id;
    return n;
  }

  HWND parent_ = nullptr;
  std::vector<Note> notes_;
};

// ---------------------------------------------------------------------------
// Drawing at both resolutions

class StandardControlsDrawTest : public StandardControlsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    int dpi = GetParam();
    SetScreenForTesting(dpi == 96 ? 240 : 480, dpi == 96 ? 320 : 640, dpi);
    StandardControlsTest::SetUp();
  }
};

DWORD At(const PixelImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y * img.width + x)] & 0xFFFFFF; }
// White as the 16-bit surface keeps it.
bool White(DWORD c) { return ((c >> 16) & 0xFF) >= 0xF0 && ((c >> 8) & 0xFF) >= 0xF0 && (c & 0xFF) >= 0xF0; }
bool Dark(DWORD c) { return ((c >> 16) & 0xFF) < 80 && ((c >> 8) & 0xFF) < 80 && (c & 0xFF) < 80; }
bool Blue(DWORD c) { return (c & 0xFF) > 120 && ((c >> 16) & 0xFF) < 60; }

// Counts pixels matching pred inside r.
template <class Pred>
int CountIn(const PixelImage& img, RECT r, Pred pred) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += pred(At(img, x, y));
  return n;
}

TEST_P(StandardControlsDrawTest, EachControlDrawnCleanly) {
  const int s = GetParam() / 96;  // layout in 96-DPI units
  auto R = [s](int v) { return v * s; };
  Make(u"static", u"Static text, left", SS_LEFT, 100, R(8), R(8), R(224), R(16));
  Make(u"static", u"Centred && no prefix", SS_CENTER | SS_NOPREFIX, 101, R(8), R(26), R(224), R(16));
  HWND push = Make(u"button", u"Push", BS_PUSHBUTTON | WS_TABSTOP, 102, R(8), R(48), R(70), R(22));
  Make(u"button", u"Default", BS_DEFPUSHBUTTON | WS_TABSTOP, 103, R(86), R(48), R(70), R(22));
  HWND pressed = Make(u"button", u"Pressed", BS_PUSHBUTTON, 104, R(164), R(48), R(70), R(22));
  SendMessageW(pressed, BM_SETSTATE, TRUE, 0);
  Make(u"button", u"Options", BS_GROUPBOX, 105, R(8), R(76), R(224), R(86));
  HWND check = Make(u"button", u"Check box, checked", BS_AUTOCHECKBOX | WS_TABSTOP, 106, R(16), R(92), R(200), R(18));
  SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
  HWND off = Make(u"button", u"Disabled check", BS_AUTOCHECKBOX | WS_DISABLED, 107, R(16), R(110), R(200), R(18));
  (void)off;
  HWND radio = Make(u"button", u"Radio one", BS_AUTORADIOBUTTON | WS_GROUP, 108, R(16), R(128), R(100), R(18));
  Make(u"button", u"Radio two", BS_AUTORADIOBUTTON, 109, R(120), R(128), R(100), R(18));
  SendMessageW(radio, BM_SETCHECK, BST_CHECKED, 0);
  HWND edit = Make(u"edit", u"Edit text selected", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 110, R(8), R(170),
                   R(224), R(22));
  HWND pass = Make(u"edit", u"secret", WS_BORDER | ES_PASSWORD, 111, R(8), R(198), R(224), R(22));
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 5, 9);
  (void)push;
  orvtest::PumpMessages();
  HBITMAP surface = GetWindowSurfaceForTesting(parent_);
  ASSERT_TRUE(SaveBitmapPng(surface, std::string(ORV_TEST_OUTPUT_DIR) + "/controls-" + std::to_string(GetParam()) + "dpi.png"));
  PixelImage img = ReadBitmapPixels(surface);
  ASSERT_EQ(img.width, ScreenWidth());

  // The background stays white where nothing is.
  EXPECT_TRUE(White(At(img, R(4), R(4))));
  // Push buttons: a dark frame of 1 px at this DPI's scale, a white face; the
  // default button's frame is twice as wide; the pressed one is filled blue.
  EXPECT_TRUE(Dark(At(img, R(8), R(58))));
  EXPECT_TRUE(White(At(img, R(8) + s, R(58))));
  EXPECT_TRUE(Dark(At(img, R(86) + s, R(58))));
  EXPECT_TRUE(Blue(At(img, R(164) + R(4), R(50))));
  // Text is drawn inside each button, scaled: more dark pixels at 192 DPI.
  int pushInk = CountIn(img, RECT{R(10), R(50), R(76), R(68)}, Dark);
  EXPECT_GT(pushInk, 20 * s * s);
  // The checked box has its tick; the disabled one draws grey, not black.
  EXPECT_GT(CountIn(img, RECT{R(16) + 3 * s, R(92) + 6 * s, R(16) + 9 * s, R(92) + 12 * s}, Dark), 3 * s);
  EXPECT_EQ(CountIn(img, RECT{R(40), R(110), R(200), R(128)}, Dark), 0);
  EXPECT_GT(CountIn(img, RECT{R(40), R(110), R(200), R(128)}, [](DWORD c) { return !White(c); }), 10);
  // The group box's frame is grey with its caption breaking the top line.
  // The edit: a dark border, the selection in blue with white text.
  EXPECT_TRUE(Dark(At(img, R(8), R(180))));
  EXPECT_GT(CountIn(img, RECT{R(8), R(170), R(232), R(192)}, Blue), 30 * s * s);
  // The password edit shows one star for each letter: its inside looks
  // exactly like a plain edit holding "******", and not like "secret".
  const RECT inside{R(9), R(199), R(231), R(219)};
  const auto pixelsIn = [](const PixelImage& from, RECT r) {
    std::vector<DWORD> out;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) out.push_back(At(from, x, y));
    return out;
  };
  const std::vector<DWORD> masked = pixelsIn(img, inside);
  EXPECT_GT(CountIn(img, inside, Dark), 0);
  const auto shownWithoutMask = [&](const char16_t* text) {
    SendMessageW(pass, EM_SETPASSWORDCHAR, 0, 0);
    SetWindowTextW(pass, text);
    InvalidateRect(pass, nullptr, TRUE);
    orvtest::PumpMessages();
    return pixelsIn(ReadBitmapPixels(GetWindowSurfaceForTesting(parent_)), inside);
  };
  EXPECT_NE(shownWithoutMask(u"secret"), masked) << "the letters show";
  EXPECT_EQ(shownWithoutMask(u"******"), masked) << "not one star for each letter";
}

INSTANTIATE_TEST_SUITE_P(Dpi, StandardControlsDrawTest, ::testing::Values(96, 192));

// ---------------------------------------------------------------------------
// Buttons

TEST_F(StandardControlsTest, ButtonsClickByTapAndKeyAndKeepTheirGroups) {
  HWND check = Make(u"button", u"Check", BS_AUTOCHECKBOX | WS_TABSTOP, 1, 10, 10, 100, 20);
  HWND plain = Make(u"button", u"Plain", BS_CHECKBOX, 2, 10, 40, 100, 20);
  HWND a = Make(u"button", u"A", BS_AUTORADIOBUTTON | WS_GROUP, 3, 10, 70, 100, 20);
  HWND b = Make(u"button", u"B", BS_AUTORADIOBUTTON, 4, 10, 100, 100, 20);
  HWND c = Make(u"button", u"C", BS_AUTORADIOBUTTON | WS_GROUP, 5, 10, 130, 100, 20);
  HWND push = Make(u"button", u"Push", BS_PUSHBUTTON, 6, 10, 160, 100, 30);
  SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);

  Tap(20, 20);
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_CHECKED));
  Tap(20, 20);
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_UNCHECKED));
  // A plain check box only notifies: the program checks it.
  Tap(20, 50);
  EXPECT_EQ(SendMessageW(plain, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_UNCHECKED));
  EXPECT_EQ(Count(BN_CLICKED, 2), 1);
  // Radio buttons: one of a group; the group after WS_GROUP keeps its own.
  Tap(20, 80);
  Tap(20, 110);
  EXPECT_EQ(SendMessageW(a, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_UNCHECKED));
  EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_CHECKED));
  EXPECT_EQ(SendMessageW(c, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_CHECKED));
  // Pressed, dragged off and released outside: no click; pushed state follows.
  InjectStylus(WM_LBUTTONDOWN, 20, 170);
  orvtest::PumpMessages();
  EXPECT_TRUE(SendMessageW(push, BM_GETSTATE, 0, 0) & BST_PUSHED);
  InjectStylus(WM_MOUSEMOVE, 200, 300);
  orvtest::PumpMessages();
  EXPECT_FALSE(SendMessageW(push, BM_GETSTATE, 0, 0) & BST_PUSHED);
  InjectStylus(WM_LBUTTONUP, 200, 300);
  orvtest::PumpMessages();
  EXPECT_EQ(Count(BN_CLICKED, 6), 0);
  EXPECT_EQ(GetCapture(), nullptr);
  // The space key clicks the focused button once.
  SetFocus(push);
  Key(VK_SPACE);
  EXPECT_EQ(Count(BN_CLICKED, 6), 1);
  // BM_CLICK clicks; a disabled button ignores it; a push button takes no check.
  SendMessageW(check, BM_CLICK, 0, 0);
  EXPECT_EQ(Count(BN_CLICKED, 1), 3);
  EnableWindow(check, FALSE);
  SendMessageW(check, BM_CLICK, 0, 0);
  EXPECT_EQ(Count(BN_CLICKED, 1), 3);
  SendMessageW(push, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessageW(push, BM_GETCHECK, 0, 0), 0);
}

TEST_F(StandardControlsTest, ButtonDestroyedWhileHeldLeavesNoCapture) {
  Make(u"button", u"Push", BS_PUSHBUTTON, 6, 10, 10, 100, 30);
  HWND push = GetDlgItem(parent_, 6);
  InjectStylus(WM_LBUTTONDOWN, 20, 20);
  orvtest::PumpMessages();
  EXPECT_EQ(GetCapture(), push);
  DestroyWindow(push);
  EXPECT_EQ(GetCapture(), nullptr);
  InjectStylus(WM_LBUTTONUP, 20, 20);
  orvtest::PumpMessages();
  EXPECT_EQ(Count(BN_CLICKED, 6), 0);
}

// ---------------------------------------------------------------------------
// The single-line edit

TEST_F(StandardControlsTest, EditTypingSelectionAndLimit) {
  HWND edit = Make(u"edit", u"", WS_BORDER | ES_AUTOHSCROLL, 7, 10, 10, 120, 24);
  SetFocus(edit);
  notes_.clear();
  Type(u"hello world");
  EXPECT_EQ(Text(edit), u"hello world");
  EXPECT_EQ(Count(EN_CHANGE, 7), 11);
  // Shift-left twice selects "ld"; typing replaces it.
  Key(VK_LEFT, true);
  Key(VK_LEFT, true);
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{9, 11}));
  Type(u"LD");
  EXPECT_EQ(Text(edit), u"hello worLD");
  // Home, delete, backspace at the start does nothing.
  Key(VK_HOME);
  Key(VK_DELETE);
  Type(u"\b");
  EXPECT_EQ(Text(edit), u"ello worLD");
  // The limit cuts typing, pasting and replacing; EN_MAXTEXT tells.
  SendMessageW(edit, EM_LIMITTEXT, 12, 0);
  Key(VK_END);
  notes_.clear();
  Type(u"1234");
  EXPECT_EQ(Text(edit), u"ello worLD12");
  EXPECT_EQ(Count(EN_MAXTEXT, 7), 2);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u"a much longer text than twelve"));
  EXPECT_EQ(Text(edit), u"a much longe");
  SetWindowTextW(edit, u"another much longer text");
  EXPECT_EQ(Text(edit), u"another much");
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{0, 0}));
  // A line break in pasted text ends what is taken.
  SendMessageW(edit, EM_LIMITTEXT, 0, 0);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u"one\r\ntwo"));
  EXPECT_EQ(Text(edit), u"one");
}

TEST_F(StandardControlsTest, EditStylusPlacesTheCaretAndDragSelects) {
  HWND edit = Make(u"edit", u"abcdefghij", WS_BORDER, 8, 10, 10, 200, 24);
  Tap(205, 20);  // right of the text: the caret at the end
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{10, 10}));
  InjectStylus(WM_LBUTTONDOWN, 12, 20);
  orvtest::PumpMessages();
  InjectStylus(WM_MOUSEMOVE, 205, 20);
  orvtest::PumpMessages();
  InjectStylus(WM_LBUTTONUP, 205, 20);
  orvtest::PumpMessages();
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{0, 10}));
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(StandardControlsTest, EditClipboardAndStyles) {
  HWND a = Make(u"edit", u"copy me", WS_BORDER, 9, 10, 10, 200, 24);
  HWND b = Make(u"edit", u"", WS_BORDER, 10, 10, 40, 200, 24);
  HWND pass = Make(u"edit", u"secret", WS_BORDER | ES_PASSWORD, 11, 10, 70, 200, 24);
  HWND number = Make(u"edit", u"", WS_BORDER | ES_NUMBER, 12, 10, 100, 200, 24);
  HWND ro = Make(u"edit", u"fixed", WS_BORDER | ES_READONLY, 13, 10, 130, 200, 24);
  // Ctrl-C in one edit, ctrl-V in another, through the device's clipboard.
  SetFocus(a);
  SendMessageW(a, EM_SETSEL, 0, 4);
  Type(u"\x03");
  std::u16string clip;
  ASSERT_TRUE(GetClipboardTextOfDevice(&clip));
  EXPECT_EQ(clip, u"copy");
  SetFocus(b);
  Type(u"\x16\x16");
  EXPECT_EQ(Text(b), u"copycopy");
  // Cut takes the text away.
  SendMessageW(b, EM_SETSEL, 4, -1);
  SendMessageW(b, WM_CUT, 0, 0);
  EXPECT_EQ(Text(b), u"copy");
  // A password is never copied or cut; it shows stars.
  SendMessageW(pass, EM_SETSEL, 0, -1);
  SendMessageW(pass, WM_COPY, 0, 0);
  SendMessageW(pass, WM_CUT, 0, 0);
  ASSERT_TRUE(GetClipboardTextOfDevice(&clip));
  EXPECT_EQ(clip, u"copy");
  EXPECT_EQ(Text(pass), u"secret");
  EXPECT_EQ(SendMessageW(pass, EM_GETPASSWORDCHAR, 0, 0), u'*');
  // Digits only; read-only refuses typing and paste but copies.
  SetFocus(number);
  Type(u"4a2-");
  EXPECT_EQ(Text(number), u"42");
  SetFocus(ro);
  Type(u"x\x16");
  EXPECT_EQ(Text(ro), u"fixed");
  SendMessageW(ro, EM_SETSEL, 0, -1);
  Type(u"\x03");
  ASSERT_TRUE(GetClipboardTextOfDevice(&clip));
  EXPECT_EQ(clip, u"fixed");
}

TEST_F(StandardControlsTest, SystemColours) {
  struct Case {
    int index;
    COLORREF colour;
  } cases[] = {{COLOR_WINDOW, RGB(255, 255, 255)}, {COLOR_WINDOWTEXT, RGB(0, 0, 0)},
               {COLOR_HIGHLIGHT, RGB(0, 82, 165)}, {COLOR_HIGHLIGHTTEXT, RGB(255, 255, 255)},
               {COLOR_GRAYTEXT, RGB(128, 128, 128)}, {COLOR_BTNHIGHLIGHT, RGB(255, 255, 255)},
               {COLOR_HIGHLIGHT | SYS_COLOR_INDEX_FLAG, RGB(0, 82, 165)}};
  for (const Case& c : cases) {
    EXPECT_EQ(GetSysColor(c.index), c.colour) << c.index;
    HBRUSH b = GetSysColorBrush(c.index);
    ASSERT_TRUE(b) << c.index;
    EXPECT_EQ(GetSysColorBrush(c.index), b);
  }
  EXPECT_EQ(GetSysColor(99), 0u);
  EXPECT_EQ(GetSysColorBrush(99), nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// Standard scroll bars

namespace {

struct ScrollLog {
  std::vector<std::pair<WORD, int>> events;  // code, 32-bit position read back
};
ScrollLog* g_scroll = nullptr;

LRESULT CALLBACK_Scrolled(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_VSCROLL && g_scroll) {
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(h, SB_VERT, &si);
    WORD code = LOWORD(w);
    g_scroll->events.push_back({code, code == SB_THUMBTRACK || code == SB_THUMBPOSITION ? si.nTrackPos : si.nPos});
    if (code == SB_THUMBPOSITION) SetScrollPos(h, SB_VERT, si.nTrackPos, TRUE);
    return 0;
  }
  if (wmtest::PaintWhite(h, m)) return 0;
  return DefWindowProcW(h, m, w, l);
}

}  // namespace

TEST_P(StandardControlsDrawTest, ScrollBarShownDrawnTappedAndDragged) {
  ScrollLog log;
  g_scroll = &log;
  const int s = GetParam() / 96;
  wmtest::EnsureClass(u"CtlTestScrolled", CALLBACK_Scrolled);
  HWND win = CreateWindowExW(0, u"CtlTestScrolled", u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0, 200 * s, 200 * s,
                             parent_, nullptr, nullptr, nullptr);
  ASSERT_TRUE(win);
  RECT client;
  GetClientRect(win, &client);
  EXPECT_EQ(client.right, 200 * s);  // no bar while the range fits the page
  // A range far past 16 bits: the messages carry only the low word.
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 999999, 100000, 0, 0};
  SetScrollInfo(win, SB_VERT, &si, TRUE);
  GetClientRect(win, &client);
  const int bar = GetSystemMetrics(SM_CXVSCROLL);
  EXPECT_EQ(client.right, 200 * s - bar);
  orvtest::PumpMessages();
  HBITMAP surface = GetWindowSurfaceForTesting(parent_);
  SaveBitmapPng(surface, std::string(ORV_TEST_OUTPUT_DIR) + "/scrollbar-" + std::to_string(GetParam()) + "dpi.png");
  PixelImage img = ReadBitmapPixels(surface);
  // The thumb's frame is drawn just below the top arrow; the track is grey.
  EXPECT_TRUE(Dark(At(img, 200 * s - bar / 2, bar)));
  EXPECT_FALSE(White(At(img, 200 * s - bar / 2, 150 * s)));

  const int x = 200 * s - bar / 2;
  Tap(x, bar / 2);                 // the top arrow
  Tap(x, 200 * s - bar / 2);       // the bottom arrow
  Tap(x, 150 * s);                 // the track below the thumb
  std::vector<WORD> codes;
  for (auto& e : log.events) codes.push_back(e.first);
  EXPECT_EQ(codes, (std::vector<WORD>{SB_LINEUP, SB_ENDSCROLL, SB_LINEDOWN, SB_ENDSCROLL, SB_PAGEDOWN, SB_ENDSCROLL}));
  // Drag the thumb to the bottom: track positions beyond 65535, then the end.
  log.events.clear();
  InjectStylus(WM_LBUTTONDOWN, x, bar + 2);
  orvtest::PumpMessages();
  InjectStylus(WM_MOUSEMOVE, x, 120 * s);
  orvtest::PumpMessages();
  InjectStylus(WM_MOUSEMOVE, x, 400 * s);
  orvtest::PumpMessages();
  InjectStylus(WM_LBUTTONUP, x, 400 * s);
  orvtest::PumpMessages();
  ASSERT_GE(log.events.size(), 4u);
  EXPECT_EQ(log.events[0].first, SB_THUMBTRACK);
  EXPECT_GT(log.events[0].second, 65535);
  EXPECT_EQ(log.events[1], (std::pair<WORD, int>{SB_THUMBTRACK, 900000}));
  EXPECT_EQ(log.events[2], (std::pair<WORD, int>{SB_THUMBPOSITION, 900000}));
  EXPECT_EQ(log.events[3].first, SB_ENDSCROLL);
  EXPECT_EQ(GetScrollPos(win, SB_VERT), 900000);
  EXPECT_EQ(GetCapture(), nullptr);
  // The content never receives the stylus that was the bar's; a range that
  // fits again gives the width back.
  si = SCROLLINFO{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE, 0, 10, 100, 0, 0};
  SetScrollInfo(win, SB_VERT, &si, TRUE);
  GetClientRect(win, &client);
  EXPECT_EQ(client.right, 200 * s);
  g_scroll = nullptr;
}

// ---------------------------------------------------------------------------
// Message boxes drawn and answered by the stylus

namespace {
std::string* g_shotPath = nullptr;
bool g_shotSaved = false;
LRESULT CALLBACK_Shooter(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP && g_shotPath) {  // runs inside the box's modal loop
    HWND box = reinterpret_cast<HWND>(l);
    UpdateWindow(box);
    orvtest::PumpMessages();
    g_shotSaved = SaveBitmapPng(GetWindowSurfaceForTesting(box), *g_shotPath);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}
}  // namespace

TEST_P(StandardControlsDrawTest, MessageBoxDrawnWithIconAndAnsweredByTap) {
  SetMessageBoxAnswerer(nullptr);
  std::string path = std::string(ORV_TEST_OUTPUT_DIR) + "/messagebox-" + std::to_string(GetParam()) + "dpi.png";
  g_shotSaved = false;
  g_shotPath = &path;
  wmtest::EnsureClass(u"CtlTestShooter", CALLBACK_Shooter);
  HWND shooter = CreateWindowExW(0, u"CtlTestShooter", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  std::atomic<bool> stop{false};
  std::thread tapper([&] {
    HWND box = nullptr;
    while (!stop && !GetOpenMessageBoxForTesting(&box)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    while (!stop && GetForegroundWindow() != box) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (stop) return;
    SendMessageW(shooter, WM_APP, 0, reinterpret_cast<LPARAM>(box));
    RECT no{};
    GetWindowRect(GetDlgItem(box, IDNO), &no);
    InjectStylus(WM_LBUTTONDOWN, (no.left + no.right) / 2, (no.top + no.bottom) / 2);
    InjectStylus(WM_LBUTTONUP, (no.left + no.right) / 2, (no.top + no.bottom) / 2);
  });
  int r = MessageBoxW(parent_, u"Delete the channel and its articles?", u"Orv News", MB_YESNOCANCEL | MB_ICONQUESTION);
  stop = true;
  tapper.join();
  DestroyWindow(shooter);
  g_shotPath = nullptr;
  EXPECT_EQ(r, IDNO);
  EXPECT_TRUE(g_shotSaved) << "the box was not shot while open";
  std::string png = orvtest::ReadHostFile(path);
  EXPECT_GT(png.size(), 100u);
}

// ---------------------------------------------------------------------------
// Scroll bars: held arrows and track repeat on the platform clock; a bar kept
// by SIF_DISABLENOSCROLL is drawn disabled and takes no scrolling.

namespace {
std::vector<WORD>* g_codes = nullptr;
LRESULT CALLBACK_Stepping(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_VSCROLL && g_codes) {
    WORD code = LOWORD(w);
    g_codes->push_back(code);
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(h, SB_VERT, &si);
    if (code == SB_LINEDOWN) SetScrollPos(h, SB_VERT, si.nPos + 1, TRUE);
    if (code == SB_PAGEDOWN) SetScrollPos(h, SB_VERT, si.nPos + static_cast<int>(si.nPage), TRUE);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}
}  // namespace

TEST_F(StandardControlsTest, ScrollBarRepeatsWhileHeldAndDisablesWhenAsked) {
  ManualClock clock;
  SetClock(&clock);
  std::vector<WORD> codes;
  g_codes = &codes;
  wmtest::EnsureClass(u"CtlTestStepping", CALLBACK_Stepping);
  HWND win = CreateWindowExW(0, u"CtlTestStepping", u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0, 100, 200, parent_,
                             nullptr, nullptr, nullptr);
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 0, 0};
  SetScrollInfo(win, SB_VERT, &si, TRUE);
  const int bar = GetSystemMetrics(SM_CXVSCROLL), x = 100 - bar / 2;
  auto advance = [&](DWORD ms) {
    clock.Advance(ms);
    WakeMessageQueues();
    orvtest::PumpMessages();
  };
  auto count = [&](WORD code) { return static_cast<int>(std::count(codes.begin(), codes.end(), code)); };
  // The bottom arrow held: once at once, again after the delay, then at the repeat rate.
  InjectStylus(WM_LBUTTONDOWN, x, 200 - bar / 2);
  orvtest::PumpMessages();
  EXPECT_EQ(count(SB_LINEDOWN), 1);
  advance(399);
  EXPECT_EQ(count(SB_LINEDOWN), 1);
  advance(1);
  EXPECT_EQ(count(SB_LINEDOWN), 2);
  advance(80);
  advance(80);
  EXPECT_EQ(count(SB_LINEDOWN), 4);
  // Off the arrow it waits; back on it goes on; let go it stops.
  InjectStylus(WM_MOUSEMOVE, 20, 100);
  orvtest::PumpMessages();
  advance(80);
  EXPECT_EQ(count(SB_LINEDOWN), 4);
  InjectStylus(WM_MOUSEMOVE, x, 200 - bar / 2);
  orvtest::PumpMessages();
  advance(80);
  EXPECT_EQ(count(SB_LINEDOWN), 5);
  InjectStylus(WM_LBUTTONUP, x, 200 - bar / 2);
  orvtest::PumpMessages();
  advance(500);
  EXPECT_EQ(count(SB_LINEDOWN), 5);
  EXPECT_EQ(codes.back(), SB_ENDSCROLL);
  // The track held below the thumb pages until the thumb reaches the stylus.
  codes.clear();
  SetScrollPos(win, SB_VERT, 0, TRUE);
  InjectStylus(WM_LBUTTONDOWN, x, 100);
  orvtest::PumpMessages();
  for (int i = 0; i < 20; ++i) advance(400);
  InjectStylus(WM_LBUTTONUP, x, 100);
  orvtest::PumpMessages();
  int pages = count(SB_PAGEDOWN);
  EXPECT_GE(pages, 3);
  EXPECT_LE(pages, 6);
  EXPECT_LT(GetScrollPos(win, SB_VERT), 90);

  // SIF_DISABLENOSCROLL: a range that fits keeps the bar, drawn grey, without a thumb; taps do nothing.
  codes.clear();
  si = SCROLLINFO{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL, 0, 5, 10, 0, 0};
  SetScrollInfo(win, SB_VERT, &si, TRUE);
  RECT client;
  GetClientRect(win, &client);
  EXPECT_EQ(client.right, 100 - bar);
  orvtest::PumpMessages();
  PixelImage img = ReadBitmapPixels(GetWindowSurfaceForTesting(parent_));
  EXPECT_FALSE(Dark(At(img, x, bar / 2)));  // the arrow is grey
  InjectStylus(WM_LBUTTONDOWN, x, 200 - bar / 2);
  InjectStylus(WM_LBUTTONUP, x, 200 - bar / 2);
  orvtest::PumpMessages();
  EXPECT_TRUE(codes.empty());
  // Without the flag the bar goes.
  si.fMask = SIF_RANGE | SIF_PAGE;
  SetScrollInfo(win, SB_VERT, &si, TRUE);
  GetClientRect(win, &client);
  EXPECT_EQ(client.right, 100);
  g_codes = nullptr;
  SetClock(nullptr);
}

// A message box asked from a worker thread with its owner on this thread:
// this thread goes on handling its messages, the owner is disabled while the
// box is open and enabled again after it.
TEST_F(StandardControlsTest, MessageBoxFromAWorkerThreadWithAnOwnerHere) {
  SetMessageBoxAnswerer(nullptr);
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = MessageBoxW(parent_, u"Stop the update?", u"Orv News", MB_YESNO | MB_ICONQUESTION); });
  HWND box = nullptr;
  ASSERT_TRUE(orvtest::PumpUntil([&] { return GetOpenMessageBoxForTesting(&box) && GetForegroundWindow() == box; }));
  EXPECT_FALSE(IsWindowEnabled(parent_));
  RECT yes{};
  ASSERT_TRUE(orvtest::PumpUntil([&] { return GetWindowRect(GetDlgItem(box, IDYES), &yes) && yes.right > yes.left; }));
  InjectStylus(WM_LBUTTONDOWN, (yes.left + yes.right) / 2, (yes.top + yes.bottom) / 2);
  InjectStylus(WM_LBUTTONUP, (yes.left + yes.right) / 2, (yes.top + yes.bottom) / 2);
  ASSERT_TRUE(orvtest::PumpUntil([&] { return answer != -1; }));
  worker.join();
  EXPECT_EQ(answer, IDYES);
  EXPECT_TRUE(IsWindowEnabled(parent_));
  EXPECT_FALSE(IsWindow(box));
  EXPECT_EQ(GetForegroundWindow(), parent_);
}

namespace {

using namespace plat;

// What a second window of the program (a soft-key bar) hears of the stylus.
std::atomic<int> g_barPresses{0};
LRESULT CALLBACK_Bar(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_LBUTTONDOWN) ++g_barPresses;
  return DefWindowProcW(h, m, w, l);
}

// A message box of this thread over the window, answered by a tap on its
// second button from another thread; the answer.
int AnswerSecondButton(HWND owner, const char16_t* text) {
  std::thread tapper([] {
    HWND box = nullptr;
    RECT second{};
    orvtest::Eventually([&] {
      return GetOpenMessageBoxForTesting(&box) && GetWindowRect(GetDlgItem(box, IDNO), &second) && second.right > second.left;
    });
    InjectStylus(WM_LBUTTONDOWN, (second.left + second.right) / 2, (second.top + second.bottom) / 2);
    InjectStylus(WM_LBUTTONUP, (second.left + second.right) / 2, (second.top + second.bottom) / 2);
  });
  const int answer = MessageBoxW(owner, text, u"Orv News", MB_YESNO | MB_ICONQUESTION);
  tapper.join();
  return answer;
}

}  // namespace

// After a message box of this thread closes, its owner has the activation
// again and the control that had the focus has it again, although another
// window of the program (a bar that takes no activation, and a plain one)
// was on the screen meanwhile: the keys reach that control.
TEST_F(StandardControlsTest, AClosedMessageBoxGivesTheFocusBackToItsOwnersControl) {
  SetMessageBoxAnswerer(nullptr);
  HWND edit = Make(u"edit", u"", WS_TABSTOP, 7, 10, 10, 100, 20);
  HWND other = CreateWindowExW(0, u"CtlTestParent", u"other", WS_POPUP | WS_VISIBLE, 0, 0, 1, 1, nullptr, nullptr,
                               nullptr, nullptr);
  SetForegroundWindow(parent_);
  SetFocus(edit);
  ASSERT_EQ(GetFocus(), edit);
  EXPECT_EQ(AnswerSecondButton(parent_, u"Stop the update?"), IDNO);
  EXPECT_EQ(GetForegroundWindow(), parent_);
  EXPECT_EQ(GetFocus(), edit);
  InjectKey('A', true);
  InjectKey('A', false);
  orvtest::PumpMessages();
  WCHAR text[8] = {};
  GetWindowTextW(edit, text, 8);
  EXPECT_EQ(std::u16string(text), u"a");
  DestroyWindow(other);
}

// A message box is as tall as its text needs: every line of a long question
// lies inside the box, above its buttons, at the screen sizes of the device.
TEST_F(StandardControlsTest, AMessageBoxShowsEveryLineOfItsText) {
  const std::u16string texts[] = {
      u"Failed to download RSS\\Atom resource. Do you want to add the channel anyway?",
      u"The content folder was changed. Do you want to move the database to the new location?",
      u"Orv News introduces a new data storage system: faster, less space-consuming. Unfortunately, only channel "
      u"definitions may be converted to the new format. Please press Start to delete all article data, and wait "
      u"until it is done.",
  };
  struct Screen {
    int width, height, dpi;
  };
  for (const Screen& screen : {Screen{240, 320, 96}, Screen{480, 640, 192}, Screen{320, 240, 96}}) {
    SetScreenForTesting(screen.width, screen.height, screen.dpi);
    for (const std::u16string& text : texts) {
      SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
      const MessageBoxGeometry g = LayOutMessageBox(text, MB_YESNO | MB_ICONQUESTION);
      EXPECT_GE(g.top, 0);
      EXPECT_LE(g.top + g.height, screen.height);
      // The text as the box's label draws it, in the label's width.
      const int labelWidth = g.width - (2 * g.pad + g.iconSize) - g.pad;
      RECT need{0, 0, labelWidth, 0};
      HDC dc = CreateCompatibleDC(nullptr);
      HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      SelectObject(dc, old);
      DeleteDC(dc);
      EXPECT_GE(need.bottom, 2 * tm.tmHeight) << "the text takes more than one line";
      EXPECT_GE(g.textHeight, need.bottom) << "the label holds every line";
      // The label ends above the buttons.
      EXPECT_LE(g.captionHeight + g.pad + g.textHeight, g.height - g.buttonHeight - g.pad);
    }
  }
}

// A bar of a window that a modal window disabled takes no stylus, even when
// it lies above the modal window's own bar: the tap reaches the modal one's.
TEST_F(StandardControlsTest, ATapOverTheBarOfADisabledWindowReachesTheModalWindowsBar) {
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, u"CtlTestBar", &wc)) {
    wc.lpfnWndProc = CALLBACK_Bar;
    wc.lpszClassName = u"CtlTestBar";
    RegisterClassW(&wc);
  }
  const int h = 26, top = ScreenHeight() - h;
  HWND modal = CreateWindowExW(0, u"CtlTestParent", u"modal", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(), top, parent_,
                               nullptr, nullptr, nullptr);
  HWND modalBar = CreateWindowExW(WS_EX_NOACTIVATE, u"CtlTestParent", u"", WS_POPUP | WS_VISIBLE, 0, top, ScreenWidth(),
                                  h, modal, nullptr, nullptr, nullptr);
  EnableWindow(parent_, FALSE);
  // The disabled window's bar comes on the screen after the modal one's.
  g_barPresses = 0;
  HWND ownerBar = CreateWindowExW(WS_EX_NOACTIVATE, u"CtlTestBar", u"", WS_POPUP | WS_VISIBLE, 0, top, ScreenWidth(), h,
                                  parent_, nullptr, nullptr, nullptr);
  ASSERT_TRUE(modal && modalBar && ownerBar);
  EXPECT_EQ(WindowFromPoint(POINT{10, top + h / 2}), modalBar);
  notes_.clear();
  EXPECT_TRUE(InjectStylus(WM_LBUTTONDOWN, 10, top + h / 2));
  EXPECT_TRUE(InjectStylus(WM_LBUTTONUP, 10, top + h / 2));
  orvtest::PumpMessages();
  EXPECT_EQ(g_barPresses.load(), 0);
  // Enabled again, its bar is on top and takes the stylus.
  EnableWindow(parent_, TRUE);
  EXPECT_EQ(WindowFromPoint(POINT{10, top + h / 2}), ownerBar);
  EXPECT_TRUE(InjectStylus(WM_LBUTTONDOWN, 10, top + h / 2));
  EXPECT_TRUE(InjectStylus(WM_LBUTTONUP, 10, top + h / 2));
  orvtest::PumpMessages();
  EXPECT_EQ(g_barPresses.load(), 1);
  DestroyWindow(ownerBar);
  DestroyWindow(modalBar);
  DestroyWindow(modal);
}
