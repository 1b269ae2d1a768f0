// The standard combo box: items and selection, the field drawn with its drop
// button, the drop list as a pop-up, the editable kind over an "edit" child.
#include "platform/controls/ComboBox.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/ControlDrawing.h"
#include "platform/controls/Popup.h"

namespace plat {
namespace {

struct ComboItem {
  std::u16string text;
  LPARAM data = 0;
};

struct ComboState {
  std::vector<ComboItem> items;
  int selection = -1;
  int fieldHeight = 0;   // CB_GETITEMHEIGHT -1; 0: from the font
  int itemHeight = 0;    // the list's items; 0: from the font
  int droppedHeight = 0; // the window's height as made
  HWND edit = nullptr;   // the editable kind
  bool settingText = false;
  // The drop list while open.
  bool dropped = false;
  bool closeRequested = false;
  HWND list = nullptr;
  int hot = -1;
  int top = 0;
  int rows = 0;
  bool pressed = false;
  bool buttonDown = false;
};

ControlStates<ComboState>& All() {
  static auto* combos = new ControlStates<ComboState>;
  return *combos;
}

bool Valid(const ComboState& s, WPARAM index) { return index < s.items.size(); }

const WCHAR* TextArg(LPARAM lParam) {
  const auto* text = reinterpret_cast<const WCHAR*>(lParam);
  return text ? text : u"";
}

DWORD Kind(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & 3; }
bool Editable(HWND hwnd) { return Kind(hwnd) != CBS_DROPDOWNLIST; }

void Redraw(HWND hwnd) {
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateWindow(hwnd);
}

// The window text shows the selected item.
void ShowSelection(HWND hwnd, ComboState& s) {
  const WCHAR* text = s.selection >= 0 ? s.items[static_cast<std::size_t>(s.selection)].text.c_str() : u"";
  DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  if (s.edit && IsWindow(s.edit)) {
    s.settingText = true;
    SetWindowTextW(s.edit, text);
    s.settingText = false;
    SendMessageW(s.edit, 0x00B1 /* EM_SETSEL */, 0, -1);
  }
  Redraw(hwnd);
}

// Heights from the control's font unless set by CB_SETITEMHEIGHT.
int FontHeight(HWND hwnd) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = ctl::SelectControlFont(hwnd, dc);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  DeleteDC(dc);
  return tm.tmHeight > 0 ? tm.tmHeight : ctl::Px(13);
}
int FieldHeight(HWND hwnd, const ComboState& s) { return s.fieldHeight > 0 ? s.fieldHeight : FontHeight(hwnd) + ctl::Px(4); }
int ItemHeight(HWND hwnd, const ComboState& s) {
  return s.itemHeight > 0 ? s.itemHeight : std::max(FontHeight(hwnd) + ctl::Px(6), ctl::Px(20));
}
int Edge() { return ctl::Px(3); }
int WindowHeight(HWND hwnd, const ComboState& s) { return FieldHeight(hwnd, s) + 2 * Edge(); }

// The drop button's rectangle in the client area.
RECT ButtonRect(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  int side = std::min<int>(r.bottom, r.right / 2);
  return RECT{r.right - side, 0, r.right, r.bottom};
}

void FitWindow(HWND hwnd, ComboState& s) {
  RECT r;
  GetClientRect(hwnd, &r);
  int h = WindowHeight(hwnd, s);
  if (r.bottom != h) SetWindowPos(hwnd, nullptr, 0, 0, r.right, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (s.edit && IsWindow(s.edit)) {
    RECT b = ButtonRect(hwnd);
    MoveWindow(s.edit, ctl::Px(1), ctl::Px(1), std::max<int>(0, b.left - ctl::Px(1)), h - 2 * ctl::Px(1), TRUE);
  }
}

void PaintField(HWND hwnd, const ComboState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r;
  GetClientRect(hwnd, &r);
  bool enabled = IsWindowEnabled(hwnd) != FALSE;
  HBRUSH back = ctl::ColoursFromParent(hwnd, dc, s.edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC);
  FillRect(dc, &r, back);
  RECT b = ButtonRect(hwnd);
  ctl::Fill(dc, b, s.buttonDown || s.dropped ? GetSysColor(COLOR_HIGHLIGHT) : RGB(236, 238, 242));
  ctl::Fill(dc, RECT{b.left, b.top, b.left + ctl::Px(1), b.bottom}, GetSysColor(COLOR_BTNSHADOW));
  ctl::DrawTriangle(dc, POINT{(b.left + b.right) / 2, (b.top + b.bottom) / 2}, ctl::Px(4), ctl::Pointing::Down,
                    !enabled ? GetSysColor(COLOR_GRAYTEXT)
                    : s.buttonDown || s.dropped ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                                : RGB(0, 0, 0));
  ctl::Frame(dc, r, ctl::Px(1), enabled ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT));
  if (!s.edit) {
    HGDIOBJ oldFont = ctl::SelectControlFont(hwnd, dc);
    RECT t{ctl::Px(1) + Edge(), ctl::Px(1), b.left - Edge(), r.bottom - ctl::Px(1)};
    if (GetFocus() == hwnd && enabled && !s.dropped) {
      // The focused drop-down list shows its selection highlighted.
      RECT hl{ctl::Px(2), ctl::Px(2), b.left - ctl::Px(1), r.bottom - ctl::Px(2)};
      ctl::Fill(dc, hl, GetSysColor(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    }
    std::u16string text = s.selection >= 0 ? s.items[static_cast<std::size_t>(s.selection)].text : std::u16string();
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &t,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, oldFont);
  }
  EndPaint(hwnd, &ps);
}

// ---------------------------------------------------------------------------
// The drop list

int ScrollStrip(const ComboState& s) { return static_cast<int>(s.items.size()) > s.rows ? ctl::Px(6) : 0; }

// The strip's track and its thumb (where the rows shown lie in the whole
// list), in the list window's client coordinates.
RECT StripTrack(const RECT& client, const ComboState& s) {
  const int border = ctl::Px(1), strip = ScrollStrip(s);
  return RECT{client.right - border - strip, border, client.right - border, client.bottom - border};
}
RECT StripThumb(const RECT& track, const ComboState& s) {
  const int n = std::max(1, static_cast<int>(s.items.size())), h = track.bottom - track.top;
  return RECT{track.left + ctl::Px(1), track.top + h * s.top / n, track.right - ctl::Px(1),
              track.top + h * std::min(n, s.top + s.rows) / n};
}

void PaintList(HWND list, HWND combo, const ComboState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(list, &ps);
  RECT r;
  GetClientRect(list, &r);
  ctl::Fill(dc, r, GetSysColor(COLOR_WINDOW));
  HGDIOBJ oldFont = ctl::SelectControlFont(combo, dc);
  SetBkMode(dc, TRANSPARENT);
  const int ih = ItemHeight(combo, s), border = ctl::Px(1), strip = ScrollStrip(s);
  for (int row = 0; row < s.rows; ++row) {
    int i = s.top + row;
    if (i >= static_cast<int>(s.items.size())) break;
    RECT ir{border, border + row * ih, r.right - border - strip, border + (row + 1) * ih};
    bool hot = i == s.hot;
    if (hot) ctl::Fill(dc, ir, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, hot ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_WINDOWTEXT));
    RECT tr = ir;
    InflateRect(&tr, -Edge(), 0);
    const std::u16string& t = s.items[static_cast<std::size_t>(i)].text;
    DrawTextW(dc, t.c_str(), static_cast<int>(t.size()), &tr,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  if (strip) {
    const RECT track = StripTrack(r, s);
    ctl::Fill(dc, track, RGB(232, 232, 232));
    ctl::Fill(dc, StripThumb(track, s), GetSysColor(COLOR_BTNSHADOW));
  }
  ctl::Frame(dc, r, border, ctl::PopupFrameColour());
  SelectObject(dc, oldFont);
  EndPaint(list, &ps);
}

struct ListWindowState {
  HWND combo;
  std::shared_ptr<ComboState> state;
};

LRESULT CALLBACK_ComboList(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (ctl::PopupWindowCommon(hwnd, msg)) return msg == WM_ERASEBKGND ? 1 : 0;
  if (msg == WM_PAINT) {
    auto* ls = reinterpret_cast<ListWindowState*>(GetWindowLongW(hwnd, GWL_USERDATA));
    if (ls && ls->state) {
      PaintList(hwnd, ls->combo, *ls->state);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Find(const ComboState& s, WPARAM start, const WCHAR* text, bool exact);

class DropList : public ctl::PopupInput {
 public:
  DropList(HWND combo, ComboState& s) : combo_(combo), s_(s) {}
  void Stylus(UINT message, POINT p) override {
    RECT lr;
    GetWindowRect(s_.list, &lr);
    bool inside = PtInRect(&lr, p) != FALSE;
    if (message == WM_LBUTTONDOWN) {
      s_.pressed = true;
      if (!inside) {
        RECT field;
        GetWindowRect(combo_, &field);
        // A tap outside closes the list (the field's own tap too: it toggles).
        done_ = true;
        return;
      }
      int strip = ScrollStrip(s_);
      if (strip && p.x >= lr.right - ctl::Px(1) - strip) {
        RECT client{0, 0, lr.right - lr.left, lr.bottom - lr.top};
        const RECT thumb = StripThumb(StripTrack(client, s_), s_);
        const int y = p.y - lr.top;
        if (y >= thumb.top && y < thumb.bottom) {
          // The thumb is dragged along the track: the rows follow it.
          thumbGrab_ = true;
          pressY_ = p.y;
          pressTop_ = s_.top;
        } else {
          // The track beside the thumb pages the rows towards the press.
          ScrollTo(s_.top + (y < thumb.top ? -s_.rows : s_.rows));
        }
        s_.pressed = false;
        return;
      }
    }
    if (thumbGrab_) {
      RECT client{0, 0, lr.right - lr.left, lr.bottom - lr.top};
      const RECT track = StripTrack(client, s_);
      const int h = std::max(1, static_cast<int>(track.bottom - track.top));
      const int n = static_cast<int>(s_.items.size());
      // Rounded to the nearest row, so the thumb stays under the finger.
      const int moved = (p.y - pressY_) * n;
      ScrollTo(pressTop_ + (moved >= 0 ? (moved + h / 2) / h : -((-moved + h / 2) / h)));
      if (message == WM_LBUTTONUP) thumbGrab_ = false;
      return;
    }
    if (!s_.pressed) return;
    const int ih = std::max(1, ItemHeight(combo_, s_));
    if (message == WM_LBUTTONDOWN) {
      pressY_ = p.y;
      pressTop_ = s_.top;
      dragging_ = false;
    }
    // A finger that moves more than half a row drags the rows along; a drag
    // scrolls and chooses nothing.
    if (!dragging_ && std::abs(p.y - pressY_) > ih / 2) dragging_ = true;
    if (dragging_) {
      ScrollTo(pressTop_ + (pressY_ - p.y) / ih);
      if (message == WM_LBUTTONUP) s_.pressed = false;
      return;
    }
    int row = std::clamp((p.y - lr.top - ctl::Px(1)) / ih, 0, std::max(0, s_.rows - 1));
    int item = std::clamp(s_.top + row, 0, static_cast<int>(s_.items.size()) - 1);
    SetHot(item);
    if (message == WM_LBUTTONUP) {
      s_.pressed = false;
      if (inside) Choose();
    }
  }
  void KeyDown(UINT vk) override {
    const int n = static_cast<int>(s_.items.size());
    switch (vk) {
      case VK_DOWN:
      case VK_UP:
        if (n) SetHot(std::clamp(s_.hot + (vk == VK_DOWN ? 1 : -1), 0, n - 1));
        return;
      case VK_NEXT:
      case VK_PRIOR:
        if (n) SetHot(std::clamp(s_.hot + (vk == VK_NEXT ? s_.rows : -s_.rows), 0, n - 1));
        return;
      case VK_RETURN:
      case 0x86:  // the action key
        Choose();
        return;
      case VK_ESCAPE:
      case 0x73:  // F4 toggles the list
        done_ = true;
        return;
      default:
        return;
    }
  }
  void Char(WCHAR c) override {
    // A typed letter goes to the next item that starts with it.
    if (c < u' ') return;
    WCHAR text[2] = {c, 0};
    LRESULT found = Find(s_, static_cast<WPARAM>(s_.hot), text, false);
    if (found != CB_ERR) SetHot(static_cast<int>(found));
  }
  void Scroll(UINT code) override {
    // The wheel scrolls the rows (a click a row), the selection stays.
    if (code == SB_LINEDOWN) ScrollTo(s_.top + 1);
    else if (code == SB_LINEUP) ScrollTo(s_.top - 1);
    else if (code == SB_PAGEDOWN) ScrollTo(s_.top + s_.rows);
    else if (code == SB_PAGEUP) ScrollTo(s_.top - s_.rows);
  }
  bool Done() const override { return done_ || s_.closeRequested; }
  bool Chosen() const { return chosen_; }

 private:
  void ScrollTo(int top) {
    int most = std::max(0, static_cast<int>(s_.items.size()) - s_.rows);
    top = std::clamp(top, 0, most);
    if (top == s_.top) return;
    s_.top = top;
    InvalidateRect(s_.list, nullptr, FALSE);
    UpdateWindow(s_.list);
  }
  void SetHot(int item) {
    if (item < s_.top) ScrollTo(item);
    else if (item >= s_.top + s_.rows) ScrollTo(item - s_.rows + 1);
    if (item == s_.hot) return;
    s_.hot = item;
    InvalidateRect(s_.list, nullptr, FALSE);
    UpdateWindow(s_.list);
  }
  void Choose() {
    chosen_ = s_.hot >= 0;
    done_ = true;
  }

  HWND combo_;
  ComboState& s_;
  int pressY_ = 0;      // where the finger came down
  int pressTop_ = 0;    // the first row shown then
  bool dragging_ = false;
  bool thumbGrab_ = false;  // the finger holds the strip's thumb
  bool done_ = false;
  bool chosen_ = false;
};


LRESULT Insert(HWND hwnd, ComboState& s, std::size_t index, const WCHAR* text) {
  try {
    s.items.insert(s.items.begin() + static_cast<std::ptrdiff_t>(index), ComboItem{text, 0});
  } catch (const std::bad_alloc&) {
    return CB_ERRSPACE;
  }
  if (s.selection >= static_cast<int>(index)) {
    ++s.selection;
    ShowSelection(hwnd, s);
  }
  return static_cast<LRESULT>(index);
}

// The first item at or after start + 1 (wrapping) whose text matches.
LRESULT Find(const ComboState& s, WPARAM start, const WCHAR* text, bool exact) {
  const std::size_t n = s.items.size();
  if (n == 0) return CB_ERR;
  std::u16string_view wanted(text);
  std::size_t first = (start == static_cast<WPARAM>(-1) || start >= n) ? 0 : start + 1;
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t i = (first + k) % n;
    std::u16string_view t = s.items[i].text;
    bool match = exact ? EqualsNoCase(t, wanted)
                       : t.size() >= wanted.size() && EqualsNoCase(t.substr(0, wanted.size()), wanted);
    if (match) return static_cast<LRESULT>(i);
  }
  return CB_ERR;
}

LRESULT Select(HWND hwnd, ComboState& s, WPARAM index) {
  // A bad index clears the selection as -1 does.
  s.selection = Valid(s, index) ? static_cast<int>(index) : -1;
  ShowSelection(hwnd, s);
  return s.selection >= 0 ? s.selection : CB_ERR;
}

void Notify(HWND hwnd, WORD code) { ctl::NotifyParent(hwnd, code); }

// Opens the list and tracks it until it closes.
void DropDown(HWND hwnd, const std::shared_ptr<ComboState>& state) {
  ComboState& s = *state;
  if (s.dropped || !IsWindowEnabled(hwnd)) return;
  s.closeRequested = false;
  Notify(hwnd, CBN_DROPDOWN);
  if (!IsWindow(hwnd) || s.closeRequested) {
    s.closeRequested = false;
    return;
  }
  if (GetFocus() != hwnd && !(s.edit && GetFocus() == s.edit)) SetFocus(s.edit ? s.edit : hwnd);
  if (!IsWindow(hwnd)) return;
  RECT field;
  GetWindowRect(hwnd, &field);
  const int n = static_cast<int>(s.items.size()), ih = ItemHeight(hwnd, s), border = ctl::Px(1);
  int rows = std::max(1, (s.droppedHeight - (field.bottom - field.top)) / std::max(1, ih));
  rows = std::min(std::max(rows, std::min(n, 4)), std::max(1, n));
  int below = ScreenHeight() - field.bottom, above = field.top;
  int fit = std::max(below, above) - 2 * border;
  rows = std::max(1, std::min(rows, fit / std::max(1, ih)));
  int height = rows * ih + 2 * border;
  RECT r{field.left, field.bottom, field.right, field.bottom + height};
  if (height > below && above > below) r = RECT{field.left, field.top - height, field.right, field.top};
  s.rows = rows;
  s.hot = s.selection;
  s.top = std::clamp(s.selection - rows + 1, 0, std::max(0, n - rows));
  if (s.selection >= 0 && s.selection < s.top + rows) s.top = std::clamp(s.top, 0, std::max(0, n - rows));
  ListWindowState ls{hwnd, state};
  s.dropped = true;
  s.pressed = false;
  s.list = ctl::CreatePopupWindow(u"ComboLBox", CALLBACK_ComboList, hwnd, r, &ls);
  if (!s.list) {
    s.dropped = false;
    return;
  }
  Redraw(hwnd);
  DropList input(hwnd, s);
  ctl::RunPopupLoop(s.list, hwnd, input);
  HWND list = s.list;
  s.list = nullptr;
  s.dropped = false;
  s.closeRequested = false;
  if (IsWindow(list)) DestroyWindow(list);
  if (!IsWindow(hwnd)) return;  // destroyed while open: nobody to tell
  if (input.Chosen() && s.hot >= 0 && s.hot < n) {
    bool changed = s.hot != s.selection || (s.edit && ctl::TextOf(s.edit) != s.items[static_cast<std::size_t>(s.hot)].text);
    if (changed) {
      s.selection = s.hot;
      ShowSelection(hwnd, s);
      Notify(hwnd, CBN_SELCHANGE);
    }
    if (IsWindow(hwnd)) Notify(hwnd, CBN_SELENDOK);
  } else {
    Notify(hwnd, CBN_SELENDCANCEL);
  }
  if (IsWindow(hwnd)) Notify(hwnd, CBN_CLOSEUP);
  if (IsWindow(hwnd)) Redraw(hwnd);
}

// Up and down on a closed drop-down list.
void Step(HWND hwnd, ComboState& s, int by) {
  const int n = static_cast<int>(s.items.size());
  if (!n) return;
  int next = s.selection < 0 ? 0 : std::clamp(s.selection + by, 0, n - 1);
  if (next == s.selection) return;
  s.selection = next;
  ShowSelection(hwnd, s);
  Notify(hwnd, CBN_SELCHANGE);
}

// Answers the messages of drawing and input; true when handled.
bool FieldMessage(HWND hwnd, const std::shared_ptr<ComboState>& state, UINT msg, WPARAM wParam, LPARAM lParam,
                  LRESULT* result) {
  ComboState& s = *state;
  *result = 0;
  switch (msg) {
    case WM_PAINT:
      PaintField(hwnd, s);
      return true;
    case WM_ERASEBKGND:
      *result = 1;
      return true;
    case WM_SETFOCUS:
      if (s.edit && IsWindow(s.edit)) {
        SetFocus(s.edit);
        return true;
      }
      Redraw(hwnd);
      Notify(hwnd, CBN_SETFOCUS);
      return true;
    case WM_KILLFOCUS:
      if (s.dropped) s.closeRequested = true;
      Redraw(hwnd);
      if (!s.edit) Notify(hwnd, CBN_KILLFOCUS);
      return true;
    case WM_ENABLE:
      Redraw(hwnd);
      return true;
    case WM_LBUTTONDOWN: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT b = ButtonRect(hwnd);
      if (!s.edit && GetFocus() != hwnd) SetFocus(hwnd);
      if (!IsWindow(hwnd)) return true;
      if (!s.edit || PtInRect(&b, p)) {
        s.buttonDown = true;
        Redraw(hwnd);
        s.buttonDown = false;
        DropDown(hwnd, state);
      }
      return true;
    }
    case WM_KEYDOWN:
      if (s.edit) return false;
      if (wParam == VK_DOWN || wParam == VK_RIGHT) Step(hwnd, s, 1);
      else if (wParam == VK_UP || wParam == VK_LEFT) Step(hwnd, s, -1);
      else if (wParam == 0x86 || wParam == 0x73) DropDown(hwnd, state);  // action key, F4
      return true;
    case WM_CHAR: {
      if (s.edit || wParam < u' ') return true;
      WCHAR text[2] = {static_cast<WCHAR>(wParam), 0};
      LRESULT found = Find(s, s.selection < 0 ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(s.selection), text, false);
      if (found != CB_ERR && found != s.selection) {
        s.selection = static_cast<int>(found);
        ShowSelection(hwnd, s);
        Notify(hwnd, CBN_SELCHANGE);
      }
      return true;
    }
    case WM_COMMAND:
      // The edit's notifications become the combo box's.
      if (s.edit && reinterpret_cast<HWND>(lParam) == s.edit) {
        WORD code = HIWORD(wParam);
        if (s.settingText && (code == 0x0300 || code == 0x0400)) return true;
        if (code == 0x0300 /* EN_CHANGE */) {
          std::u16string t = ctl::TextOf(s.edit);
          DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
          Notify(hwnd, CBN_EDITCHANGE);
        } else if (code == 0x0400 /* EN_UPDATE */) {
          Notify(hwnd, CBN_EDITUPDATE);
        } else if (code == 0x0100 /* EN_SETFOCUS */) {
          Notify(hwnd, CBN_SETFOCUS);
        } else if (code == 0x0200 /* EN_KILLFOCUS */) {
          if (s.dropped) s.closeRequested = true;
          Notify(hwnd, CBN_KILLFOCUS);
        }
        return true;
      }
      return false;
    case WM_SETTEXT:
      if (!s.edit) return false;
      *result = DefWindowProcW(hwnd, msg, wParam, lParam);
      s.settingText = true;
      SetWindowTextW(s.edit, reinterpret_cast<const WCHAR*>(lParam));
      s.settingText = false;
      return true;
    case WM_SETFONT:
      DefWindowProcW(hwnd, msg, wParam, lParam);
      if (s.edit) SendMessageW(s.edit, WM_SETFONT, wParam, lParam);
      FitWindow(hwnd, s);
      Redraw(hwnd);
      return true;
    case WM_SIZE: {
      // The window keeps the field's height; a taller size asked for is the
      // room of the drop list, as the height it was made with.
      const int h = HIWORD(static_cast<std::uintptr_t>(lParam));
      if (h > WindowHeight(hwnd, s)) s.droppedHeight = h;
      FitWindow(hwnd, s);
      return true;
    }
    case WM_DESTROY:
      if (s.dropped) {
        s.closeRequested = true;  // the loop ends and closes the list
        PostMessageW(nullptr, WM_NULL, 0, 0);
      }
      return false;
    case CB_SHOWDROPDOWN:
      if (wParam && !s.dropped) {
        DropDown(hwnd, state);
      } else if (!wParam && s.dropped) {
        s.closeRequested = true;
        PostMessageW(nullptr, WM_NULL, 0, 0);
      } else if (!wParam) {
        s.closeRequested = true;  // asked from CBN_DROPDOWN: the list stays closed
      }
      *result = TRUE;
      return true;
    case CB_GETDROPPEDSTATE:
      *result = s.dropped ? TRUE : FALSE;
      return true;
    case CB_GETDROPPEDCONTROLRECT: {
      auto* out = reinterpret_cast<RECT*>(lParam);
      if (!out) {
        *result = CB_ERR;
        return true;
      }
      if (s.list) {
        GetWindowRect(s.list, out);
      } else {
        GetWindowRect(hwnd, out);
        out->bottom = out->top + std::max<int>(s.droppedHeight, out->bottom - out->top);
      }
      *result = TRUE;
      return true;
    }
    case CB_GETITEMHEIGHT:
      *result = static_cast<int>(wParam) == -1 ? FieldHeight(hwnd, s) : ItemHeight(hwnd, s);
      return true;
    case CB_SETITEMHEIGHT: {
      int h = static_cast<int>(lParam);
      if (h <= 0 || h > 255 * ScreenDpi() / 96) {
        *result = CB_ERR;
        return true;
      }
      if (static_cast<int>(wParam) == -1) {
        s.fieldHeight = h;
        FitWindow(hwnd, s);
      } else {
        s.itemHeight = h;
      }
      Redraw(hwnd);
      return true;
    }
    case CB_LIMITTEXT:
      if (s.edit) SendMessageW(s.edit, 0x00C5 /* EM_LIMITTEXT */, wParam, 0);
      *result = TRUE;
      return true;
    case CB_GETEDITSEL:
      *result = s.edit ? SendMessageW(s.edit, 0x00B0 /* EM_GETSEL */, wParam, lParam) : CB_ERR;
      return true;
    case CB_SETEDITSEL:
      *result = s.edit ? (SendMessageW(s.edit, 0x00B1 /* EM_SETSEL */, static_cast<WPARAM>(static_cast<short>(LOWORD(lParam))),
                                       static_cast<LPARAM>(static_cast<short>(HIWORD(lParam)))), TRUE)
                       : CB_ERR;
      return true;
    default:
      return false;
  }
}

}  // namespace

LRESULT ComboBoxWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ComboState> state = All().ForMessage(hwnd, msg);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  ComboState& s = *state;
  if (LRESULT r; FieldMessage(hwnd, state, msg, wParam, lParam, &r)) return r;
  switch (msg) {
    case WM_CREATE: {
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      s.droppedHeight = cs ? cs->cy : 0;
      if (Editable(hwnd)) {
        s.edit = CreateWindowExW(0, u"edit", cs && cs->lpszName ? cs->lpszName : u"",
                                 WS_CHILD | WS_VISIBLE | 0x0080 /* ES_AUTOHSCROLL */, 0, 0, 1, 1, hwnd,
                                 reinterpret_cast<HMENU>(std::uintptr_t{kComboEditId}), nullptr, nullptr);
        if (!s.edit) return -1;
      }
      // The window is as tall as its field; what it was made taller is the list's.
      FitWindow(hwnd, s);
      // A drop-down list shows only its items; its title is no text of its own.
      if (!Editable(hwnd)) ShowSelection(hwnd, s);
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case CB_ADDSTRING: {
      const WCHAR* text = TextArg(lParam);
      std::size_t index = s.items.size();
      if (static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & CBS_SORT) {
        index = 0;
        while (index < s.items.size() && CompareNoCase(s.items[index].text, text) <= 0) ++index;
      }
      return Insert(hwnd, s, index, text);
    }
    case CB_INSERTSTRING: {
      std::size_t index = wParam == static_cast<WPARAM>(-1) ? s.items.size() : wParam;
      if (index > s.items.size()) return CB_ERR;
      return Insert(hwnd, s, index, TextArg(lParam));
    }
    case CB_DELETESTRING: {
      if (!Valid(s, wParam)) return CB_ERR;
      s.items.erase(s.items.begin() + static_cast<std::ptrdiff_t>(wParam));
      if (s.selection == static_cast<int>(wParam)) {
        s.selection = -1;
        ShowSelection(hwnd, s);
      } else if (s.selection > static_cast<int>(wParam)) {
        --s.selection;
      }
      return static_cast<LRESULT>(s.items.size());
    }
    case CB_RESETCONTENT:
      s.items.clear();
      s.selection = -1;
      ShowSelection(hwnd, s);
      return CB_OKAY;
    case CB_GETCOUNT:
      return static_cast<LRESULT>(s.items.size());
    case CB_GETCURSEL:
      return s.selection >= 0 ? s.selection : CB_ERR;
    case CB_SETCURSEL:
      return Select(hwnd, s, wParam);
    case CB_GETLBTEXTLEN:
      return Valid(s, wParam) ? static_cast<LRESULT>(s.items[wParam].text.size()) : CB_ERR;
    case CB_GETLBTEXT: {
      auto* buffer = reinterpret_cast<WCHAR*>(lParam);
      if (!Valid(s, wParam) || !buffer) return CB_ERR;
      const std::u16string& t = s.items[wParam].text;
      std::memcpy(buffer, t.c_str(), (t.size() + 1) * sizeof(WCHAR));
      return static_cast<LRESULT>(t.size());
    }
    case CB_GETITEMDATA:
      return Valid(s, wParam) ? s.items[wParam].data : CB_ERR;
    case CB_SETITEMDATA:
      if (!Valid(s, wParam)) return CB_ERR;
      s.items[wParam].data = lParam;
      return CB_OKAY;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
      return Find(s, wParam, TextArg(lParam), msg == CB_FINDSTRINGEXACT);
    case CB_SELECTSTRING: {
      LRESULT found = Find(s, wParam, TextArg(lParam), false);
      return found == CB_ERR ? CB_ERR : Select(hwnd, s, static_cast<WPARAM>(found));
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
