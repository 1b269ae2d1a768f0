// The standard combo box: items and selection, no drawing.
#include "platform/controls/ComboBox.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/ControlDrawing.h"
#include "platform/gdi/Gdi.h"

namespace plat {
namespace {

struct ComboItem {
  std::u16string text;
  LPARAM data = 0;
};

struct ComboState {
  std::vector<ComboItem> items;
  int selection = -1;
  int fieldHeight = 0;  // 0: from the font
  int itemHeight = 0;
};

// The state of each live combo box of the process, by window handle. Only
// the window's own thread changes it (its procedure runs there), the lock
// guards the map itself.
struct Combos {
  std::mutex lock;
  std::unordered_map<DWORD, std::shared_ptr<ComboState>> states;
};

Combos& All() {
  static auto* combos = new Combos;
  return *combos;
}

std::shared_ptr<ComboState> StateOf(HWND hwnd) {
  Combos& c = All();
  std::lock_guard<std::mutex> g(c.lock);
  auto it = c.states.find(HandleToValue(hwnd));
  return it == c.states.end() ? nullptr : it->second;
}

bool Valid(const ComboState& s, WPARAM index) { return index < s.items.size(); }

const WCHAR* TextArg(LPARAM lParam) {
  const auto* text = reinterpret_cast<const WCHAR*>(lParam);
  return text ? text : u"";
}

// The window text shows the selected item.
void ShowSelection(HWND hwnd, const ComboState& s) {
  const WCHAR* text = s.selection >= 0 ? s.items[static_cast<std::size_t>(s.selection)].text.c_str() : u"";
  DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  InvalidateRect(hwnd, nullptr, FALSE);
}

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

// The line height of the control's font (the stock font when it has none).
int FontLineHeight(HWND hwnd) {
  HDC dc = GetDC(nullptr);
  if (!dc) return 16;
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (old) SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return tm.tmHeight > 0 ? tm.tmHeight : 16;
}

// The selection field at the top of the window (the rest of its height is
// where the list drops down): a frame, the selected text and a down arrow.
void PaintField(HWND hwnd, const ComboState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(hwnd, &client);
  const int fieldHeight = s.fieldHeight > 0 ? s.fieldHeight : FontLineHeight(hwnd) + 4;
  RECT field{0, 0, client.right, std::min<LONG>(client.bottom, fieldHeight + 2 * ctl::Px(1))};
  HBRUSH back = ctl::ColoursFromParent(hwnd, dc, WM_CTLCOLOREDIT);
  FillRect(dc, &field, back);
  ctl::Frame(dc, field, ctl::Px(1), GetSysColor(COLOR_WINDOWFRAME));
  const int arrowWidth = field.bottom - field.top;
  RECT arrow{field.right - arrowWidth, field.top, field.right, field.bottom};
  ctl::Frame(dc, arrow, ctl::Px(1), GetSysColor(COLOR_WINDOWFRAME));
  const int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2;
  const int a = std::max(2, arrowWidth / 6);
  POINT tri[3] = {{cx - a, cy - a / 2}, {cx + a, cy - a / 2}, {cx, cy + a / 2}};
  ctl::Triangle(dc, tri, IsWindowEnabled(hwnd) ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT));
  if (s.selection >= 0) {
    const std::u16string& text = s.items[static_cast<std::size_t>(s.selection)].text;
    HGDIOBJ oldFont = ctl::SelectControlFont(hwnd, dc);
    SetBkMode(dc, TRANSPARENT);
    RECT r{field.left + ctl::Px(3), field.top, arrow.left - ctl::Px(2), field.bottom};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, oldFont);
  }
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT ComboBoxWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    Combos& c = All();
    std::lock_guard<std::mutex> g(c.lock);
    c.states[HandleToValue(hwnd)] = std::make_shared<ComboState>();
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  if (msg == WM_NCDESTROY) {
    Combos& c = All();
    std::lock_guard<std::mutex> g(c.lock);
    c.states.erase(HandleToValue(hwnd));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  std::shared_ptr<ComboState> state = StateOf(hwnd);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  ComboState& s = *state;
  switch (msg) {
    case WM_CREATE:
      // A drop-down list shows only its items; its title is no text of its own.
      if ((static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & 3) == CBS_DROPDOWNLIST) ShowSelection(hwnd, s);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_PAINT:
      PaintField(hwnd, s);
      return 0;
    case CB_GETITEMHEIGHT: {
      const int set = wParam == static_cast<WPARAM>(-1) ? s.fieldHeight : s.itemHeight;
      return set > 0 ? set : FontLineHeight(hwnd) + (wParam == static_cast<WPARAM>(-1) ? 4 : 0);
    }
    case CB_SETITEMHEIGHT:
      if (lParam <= 0 || lParam > 255) return CB_ERR;
      (wParam == static_cast<WPARAM>(-1) ? s.fieldHeight : s.itemHeight) = static_cast<int>(lParam);
      return 0;
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
