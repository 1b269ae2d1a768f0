// The single-line "edit": text cut at its limit, caret and selection by keys
// (arrows, home, end, shift) and stylus (tap, drag), copy, cut and paste
// through the device's clipboard, the text scrolled sideways to keep the caret
// in view, password, number, read-only and case styles, EN_CHANGE and the
// focus notifications to the parent.
#include <algorithm>
#include <memory>

#include "platform/controls/ControlDrawing.h"

namespace plat {
namespace {

constexpr const WCHAR* kStateProp = u"EditState";

struct EditState {
  std::size_t anchor = 0;  // the fixed end of the selection
  std::size_t caret = 0;   // the moving end, where the caret is
  std::size_t limit = kEditDefaultLimit;
  int scroll = 0;  // pixels of the text left of the view
  WCHAR password = 0;
  bool modified = false;
  bool dragging = false;
};

EditState* StateOf(HWND hwnd) { return reinterpret_cast<EditState*>(GetPropW(hwnd, kStateProp)); }
DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

std::size_t SelStart(const EditState& s) { return std::min(s.anchor, s.caret); }
std::size_t SelEnd(const EditState& s) { return std::max(s.anchor, s.caret); }

// What is drawn: the text, or one password character for each.
std::u16string Shown(HWND hwnd, const EditState& s, const std::u16string& text) {
  if (s.password) return std::u16string(text.size(), s.password);
  (void)hwnd;
  return text;
}

// The text area inside the border.
RECT TextArea(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  int in = ((StyleOf(hwnd) & WS_BORDER) ? ctl::Px(1) : 0) + ctl::Px(2);
  InflateRect(&r, -in, -std::min<int>(in, (r.bottom - r.top) / 4));
  return r;
}

// x of each caret position 0..n of the shown text, from its left.
std::vector<int> Positions(HWND hwnd, const std::u16string& shown) {
  std::vector<int> xs(shown.size() + 1, 0);
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = ctl::SelectControlFont(hwnd, dc);
  if (!shown.empty()) {
    std::vector<int> dx(shown.size(), 0);
    int fit = 0;
    SIZE size{};
    GetTextExtentExPointW(dc, shown.c_str(), static_cast<int>(shown.size()), 0x7FFFFFFF, &fit, dx.data(), &size);
    for (std::size_t i = 0; i < shown.size(); ++i) xs[i + 1] = dx[i];
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return xs;
}

// The offset of the text that keeps the caret in view.
void ScrollToCaret(HWND hwnd, EditState& s) {
  std::u16string shown = Shown(hwnd, s, ctl::TextOf(hwnd));
  std::vector<int> xs = Positions(hwnd, shown);
  RECT area = TextArea(hwnd);
  int width = std::max<int>(1, area.right - area.left - ctl::Px(1));
  int x = xs[std::min(s.caret, shown.size())];
  if (x - s.scroll > width) s.scroll = x - width + width / 3;
  if (x < s.scroll) s.scroll = std::max(0, x - width / 3);
  int total = xs.back();
  if (total - s.scroll < width) s.scroll = std::max(0, total - width);
  if (!(StyleOf(hwnd) & ES_AUTOHSCROLL) && total <= width) s.scroll = 0;
}

std::size_t PositionAt(HWND hwnd, const EditState& s, int x) {
  std::u16string shown = Shown(hwnd, s, ctl::TextOf(hwnd));
  std::vector<int> xs = Positions(hwnd, shown);
  RECT area = TextArea(hwnd);
  int align = 0;
  DWORD style = StyleOf(hwnd);
  int width = area.right - area.left;
  if (xs.back() < width) {
    if ((style & 3) == ES_CENTER) align = (width - xs.back()) / 2;
    else if ((style & 3) == ES_RIGHT) align = width - xs.back();
  }
  int tx = x - area.left + s.scroll - align;
  std::size_t best = 0;
  for (std::size_t i = 0; i < xs.size(); ++i)
    if (std::abs(xs[i] - tx) < std::abs(xs[best] - tx)) best = i;
  return best;
}

void Changed(HWND hwnd, EditState& s) {
  s.modified = true;
  ScrollToCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
  ctl::NotifyParent(hwnd, EN_UPDATE);
  ctl::NotifyParent(hwnd, EN_CHANGE);
}

// Keeps the characters the style allows and what fits the limit.
std::u16string Filter(HWND hwnd, const EditState& s, std::u16string in, std::size_t room, bool* cut) {
  DWORD style = StyleOf(hwnd);
  std::u16string out;
  for (char16_t c : in) {
    if (c == u'\r' || c == u'\n') break;  // one line
    if (c < 0x20 && c != u'\t') continue;
    if ((style & ES_NUMBER) && (c < u'0' || c > u'9')) continue;
    if (style & ES_UPPERCASE && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (style & ES_LOWERCASE && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    out.push_back(c);
  }
  (void)s;
  *cut = out.size() > room;
  if (*cut) out.resize(room);
  return out;
}

// Replaces the selection with text (cut to the limit); false when nothing changed.
bool ReplaceSelection(HWND hwnd, EditState& s, const std::u16string& insert) {
  std::u16string text = ctl::TextOf(hwnd);
  std::size_t a = std::min(SelStart(s), text.size()), b = std::min(SelEnd(s), text.size());
  std::size_t room = s.limit > text.size() - (b - a) ? s.limit - (text.size() - (b - a)) : 0;
  bool cut = false;
  std::u16string add = Filter(hwnd, s, insert, room, &cut);
  if (cut) ctl::NotifyParent(hwnd, EN_MAXTEXT);
  if (a == b && add.empty()) return false;
  text.replace(a, b - a, add);
  DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  s.anchor = s.caret = a + add.size();
  Changed(hwnd, s);
  return true;
}

void Select(HWND hwnd, EditState& s, std::size_t anchor, std::size_t caret) {
  std::size_t n = ctl::TextOf(hwnd).size();
  s.anchor = std::min(anchor, n);
  s.caret = std::min(caret, n);
  ScrollToCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

bool ReadOnly(HWND hwnd) { return (StyleOf(hwnd) & ES_READONLY) != 0; }

void Copy(HWND hwnd, EditState& s) {
  if (s.password || SelStart(s) == SelEnd(s)) return;
  std::u16string text = ctl::TextOf(hwnd);
  SetClipboardTextOfDevice(text.substr(SelStart(s), SelEnd(s) - SelStart(s)));
}

void Paste(HWND hwnd, EditState& s) {
  std::u16string clip;
  if (ReadOnly(hwnd) || !GetClipboardTextOfDevice(&clip)) return;
  ReplaceSelection(hwnd, s, clip);
}

void KeyDown(HWND hwnd, EditState& s, UINT vk) {
  bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  std::size_t n = ctl::TextOf(hwnd).size();
  std::size_t to = s.caret;
  switch (vk) {
    case VK_LEFT:
      if (!shift && s.anchor != s.caret) to = SelStart(s);
      else if (to > 0) --to;
      break;
    case VK_RIGHT:
      if (!shift && s.anchor != s.caret) to = SelEnd(s);
      else if (to < n) ++to;
      break;
    case VK_HOME: to = 0; break;
    case VK_END: to = n; break;
    case VK_DELETE:
      if (ReadOnly(hwnd)) return;
      if (shift) {  // shift-delete cuts
        Copy(hwnd, s);
        ReplaceSelection(hwnd, s, u"");
        return;
      }
      if (s.anchor == s.caret && s.caret < n) s.caret = s.caret + 1;
      ReplaceSelection(hwnd, s, u"");
      return;
    case 'C': case 'X': case 'V': case 'A':
      (void)control;
      return;  // handled as control characters (WM_CHAR 3, 24, 22, 1)
    default:
      return;
  }
  Select(hwnd, s, shift ? s.anchor : to, to);
}

void Char(HWND hwnd, EditState& s, WCHAR c) {
  switch (c) {
    case 1:  // ctrl-A
      Select(hwnd, s, 0, ctl::TextOf(hwnd).size());
      return;
    case 3:  // ctrl-C
      Copy(hwnd, s);
      return;
    case 24:  // ctrl-X
      if (ReadOnly(hwnd)) return;
      Copy(hwnd, s);
      if (!s.password) ReplaceSelection(hwnd, s, u"");
      return;
    case 22:  // ctrl-V
      Paste(hwnd, s);
      return;
    case u'\b':
      if (ReadOnly(hwnd)) return;
      if (s.anchor == s.caret && s.caret > 0) s.anchor = s.caret - 1;
      ReplaceSelection(hwnd, s, u"");
      return;
    default:
      if (c < 0x20 || ReadOnly(hwnd)) return;
      ReplaceSelection(hwnd, s, std::u16string(1, c));
  }
}

void Paint(HWND hwnd, EditState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT r;
  GetClientRect(hwnd, &r);
  DWORD style = StyleOf(hwnd);
  bool readOnly = (style & ES_READONLY) != 0;
  HBRUSH back = ctl::ColoursFromParent(hwnd, dc, readOnly ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  FillRect(dc, &r, back);
  if (style & WS_BORDER)
    ctl::Frame(dc, r, ctl::Px(1), IsWindowEnabled(hwnd) ? GetSysColor(COLOR_WINDOWFRAME) : GetSysColor(COLOR_GRAYTEXT));
  HGDIOBJ oldFont = ctl::SelectControlFont(hwnd, dc);
  std::u16string shown = Shown(hwnd, s, ctl::TextOf(hwnd));
  std::vector<int> xs = Positions(hwnd, shown);
  RECT area = TextArea(hwnd);
  int width = area.right - area.left;
  int align = 0;
  if (xs.back() < width) {
    if ((style & 3) == ES_CENTER) align = (width - xs.back()) / 2;
    else if ((style & 3) == ES_RIGHT) align = width - xs.back();
  }
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  int y = area.top + (area.bottom - area.top - tm.tmHeight) / 2;
  int x0 = area.left + align - s.scroll;
  bool focused = GetFocus() == hwnd;
  std::size_t a = std::min(SelStart(s), shown.size()), b = std::min(SelEnd(s), shown.size());
  bool showSel = a != b && (focused || (style & ES_NOHIDESEL));
  ExtTextOutW(dc, x0, y, ETO_CLIPPED, &area, shown.c_str(), static_cast<UINT>(shown.size()), nullptr);
  if (showSel) {
    RECT sel{std::max<int>(area.left, x0 + xs[a]), y, std::min<int>(area.right, x0 + xs[b]), y + tm.tmHeight};
    ctl::Fill(dc, sel, GetSysColor(COLOR_HIGHLIGHT));
    COLORREF oldInk = SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    ExtTextOutW(dc, x0 + xs[a], y, ETO_CLIPPED, &sel, shown.c_str() + a, static_cast<UINT>(b - a), nullptr);
    SetTextColor(dc, oldInk);
  }
  if (focused && !readOnly) {
    int cx = x0 + xs[std::min(s.caret, shown.size())];
    RECT caret{cx, y, cx + ctl::Px(1), y + tm.tmHeight};
    if (caret.left >= area.left && caret.right <= area.right + ctl::Px(1)) ctl::Fill(dc, caret, GetSysColor(COLOR_WINDOWTEXT));
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT EditWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  EditState* s = StateOf(hwnd);
  if (!s && msg != WM_NCCREATE) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_NCCREATE: {
      auto state = std::make_unique<EditState>();
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (static_cast<DWORD>(cs->style) & ES_PASSWORD) state->password = u'*';
      SetPropW(hwnd, kStateProp, reinterpret_cast<HANDLE>(state.release()));
      LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
      // The creation text obeys the limit like any other.
      std::u16string t = ctl::TextOf(hwnd);
      if (t.size() > kEditDefaultLimit) {
        t.resize(kEditDefaultLimit);
        DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
      }
      return r;
    }
    case WM_NCDESTROY:
      delete reinterpret_cast<EditState*>(RemovePropW(hwnd, kStateProp));
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_SETTEXT: {
      std::u16string t = lParam ? reinterpret_cast<const WCHAR*>(lParam) : u"";
      if (t.size() > s->limit) t.resize(s->limit);
      LRESULT r = DefWindowProcW(hwnd, msg, 0, reinterpret_cast<LPARAM>(t.c_str()));
      s->anchor = s->caret = 0;
      s->scroll = 0;
      s->modified = false;
      InvalidateRect(hwnd, nullptr, TRUE);
      ctl::NotifyParent(hwnd, EN_UPDATE);
      ctl::NotifyParent(hwnd, EN_CHANGE);
      return r;
    }
    case EM_GETSEL: {
      auto start = static_cast<DWORD>(SelStart(*s)), end = static_cast<DWORD>(SelEnd(*s));
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = start;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = end;
      return MAKELRESULT(static_cast<WORD>(std::min<DWORD>(start, 0xFFFF)), static_cast<WORD>(std::min<DWORD>(end, 0xFFFF)));
    }
    case EM_SETSEL: {
      std::size_t n = ctl::TextOf(hwnd).size();
      auto start = static_cast<std::intptr_t>(static_cast<int>(wParam));
      auto end = static_cast<std::intptr_t>(static_cast<int>(lParam));
      if (start < 0) {  // no selection: the caret stays
        Select(hwnd, *s, s->caret, s->caret);
        return 0;
      }
      std::size_t a = static_cast<std::size_t>(start), b = end < 0 ? n : static_cast<std::size_t>(end);
      Select(hwnd, *s, a, b);
      return 0;
    }
    case EM_SCROLLCARET:
      ScrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case EM_REPLACESEL:
      ReplaceSelection(hwnd, *s, lParam ? reinterpret_cast<const WCHAR*>(lParam) : u"");
      return 0;
    case EM_LIMITTEXT:
      s->limit = wParam ? static_cast<std::size_t>(wParam) : 0x7FFFFFFE;
      return 0;
    case EM_GETLIMITTEXT:
      return static_cast<LRESULT>(s->limit);
    case EM_GETMODIFY:
      return s->modified ? TRUE : FALSE;
    case EM_SETMODIFY:
      s->modified = wParam != 0;
      return 0;
    case EM_GETLINECOUNT:
      return 1;
    case EM_LINELENGTH:
      return static_cast<LRESULT>(ctl::TextOf(hwnd).size());
    case EM_SETPASSWORDCHAR:
      s->password = static_cast<WCHAR>(wParam);
      SetWindowLongW(hwnd, GWL_STYLE, wParam ? (StyleOf(hwnd) | ES_PASSWORD) : (StyleOf(hwnd) & ~ES_PASSWORD));
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case EM_GETPASSWORDCHAR:
      return s->password;
    case EM_SETREADONLY:
      SetWindowLongW(hwnd, GWL_STYLE, wParam ? (StyleOf(hwnd) | ES_READONLY) : (StyleOf(hwnd) & ~ES_READONLY));
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case WM_COPY:
      Copy(hwnd, *s);
      return 0;
    case WM_CUT:
      if (!ReadOnly(hwnd) && !s->password) {
        Copy(hwnd, *s);
        ReplaceSelection(hwnd, *s, u"");
      }
      return 0;
    case WM_PASTE:
      Paste(hwnd, *s);
      return 0;
    case WM_CLEAR:
      if (!ReadOnly(hwnd)) ReplaceSelection(hwnd, *s, u"");
      return 0;
    case WM_KEYDOWN:
      KeyDown(hwnd, *s, static_cast<UINT>(wParam));
      return 0;
    case WM_CHAR:
      Char(hwnd, *s, static_cast<WCHAR>(wParam));
      return 0;
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      std::size_t at = PositionAt(hwnd, *s, GET_X_LPARAM(lParam));
      bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
      Select(hwnd, *s, shift ? s->anchor : at, at);
      s->dragging = true;
      SetCapture(hwnd);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (s->dragging && GetCapture() == hwnd) {
        std::size_t at = PositionAt(hwnd, *s, GET_X_LPARAM(lParam));
        if (at != s->caret) Select(hwnd, *s, s->anchor, at);
      }
      return 0;
    case WM_LBUTTONUP:
      s->dragging = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED:
      s->dragging = false;
      return 0;
    case WM_SETFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      ctl::NotifyParent(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      ctl::NotifyParent(hwnd, EN_KILLFOCUS);
      return 0;
    case WM_SIZE:
    case WM_SETFONT: {
      LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
      ScrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return r;
    }
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, *s);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
