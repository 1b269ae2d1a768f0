// The tab control: tabs side by side from the left, each as wide as its text;
// the selected tab joins the area it belongs to (above it with TCS_BOTTOM).
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {
namespace {

using ctl::Px;

struct Tab {
  std::u16string text;
  LPARAM param = 0;
};

struct TabState {
  std::vector<Tab> tabs;
  int cur = -1;
};

ControlStates<TabState>& All() {
  static auto* states = new ControlStates<TabState>;
  return *states;
}

bool Valid(const TabState& s, WPARAM i) { return i < s.tabs.size(); }

// The rectangle of each tab in client coordinates.
std::vector<RECT> Layout(HWND hwnd, const TabState& s) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  std::vector<RECT> out;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, ControlFont());
  const bool bottom = GetWindowLongW(hwnd, GWL_STYLE) & TCS_BOTTOM;
  std::vector<int> widths;
  int texts = 0;
  for (const Tab& t : s.tabs) {
    SIZE ext{};
    GetTextExtentPoint32W(dc, t.text.c_str(), static_cast<int>(t.text.size()), &ext);
    widths.push_back(ext.cx);
    texts += ext.cx;
  }
  // Tabs that do not fit the strip give up their padding first, then share
  // the width in proportion to their texts, so the last tab is never cut off.
  const int n = static_cast<int>(widths.size());
  const int room = std::max(0, static_cast<int>(rc.right) - 2 * Px(2));
  int pad = Px(8);
  while (n > 0 && pad > Px(2) && texts + 2 * pad * n > room) --pad;
  const bool squeeze = n > 0 && texts + 2 * pad * n > room && texts > 0;
  int x = Px(2);
  for (int i = 0; i < n; ++i) {
    const int w = squeeze ? static_cast<int>(static_cast<long long>(room) * (widths[i] + 2 * pad) / (texts + 2 * pad * n))
                          : widths[i] + 2 * pad;
    out.push_back(bottom ? RECT{x, 0, x + w, rc.bottom - Px(2)} : RECT{x, Px(2), x + w, rc.bottom});
    x += w;
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return out;
}

void Paint(HWND hwnd, const TabState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  const bool bottom = GetWindowLongW(hwnd, GWL_STYLE) & TCS_BOTTOM;
  const int line = std::max(1, Px(1));
  ctl::Fill(dc, rc, GetSysColor(COLOR_BTNFACE));
  const std::vector<RECT> rects = Layout(hwnd, s);
  HGDIOBJ oldFont = SelectObject(dc, ControlFont());
  SetBkMode(dc, TRANSPARENT);
  // The edge between the pages and the tabs, broken under the selected tab.
  ctl::Fill(dc, bottom ? RECT{0, 0, rc.right, line} : RECT{0, rc.bottom - line, rc.right, rc.bottom},
            GetSysColor(COLOR_WINDOWFRAME));
  for (std::size_t i = 0; i < rects.size(); ++i) {
    RECT r = rects[i];
    const bool selected = static_cast<int>(i) == s.cur;
    if (!selected) bottom ? (r.top += line, r.bottom -= line) : (r.top += line, r.bottom -= line);
    ctl::Fill(dc, r, GetSysColor(COLOR_WINDOWFRAME));
    RECT inner{r.left + line, bottom ? r.top : r.top + line, r.right - line, bottom ? r.bottom - line : r.bottom};
    if (!selected) bottom ? inner.top += line : inner.bottom -= line;
    ctl::Fill(dc, inner, selected ? GetSysColor(COLOR_WINDOW) : GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, s.tabs[i].text.c_str(), static_cast<int>(s.tabs[i].text.size()), &inner,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT Notify(HWND hwnd, UINT code) {
  NMHDR hdr{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), code};
  HWND parent = GetParent(hwnd);
  return parent ? SendMessageW(parent, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr)) : 0;
}

// A change asked by the user: the parent may refuse it.
void Choose(HWND hwnd, TabState& s, int i) {
  if (i < 0 || i >= static_cast<int>(s.tabs.size()) || i == s.cur) return;
  if (Notify(hwnd, TCN_SELCHANGING)) return;
  s.cur = i;
  InvalidateRect(hwnd, nullptr, FALSE);
  Notify(hwnd, TCN_SELCHANGE);
}

}  // namespace

LRESULT TabControlWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto state = All().ForMessage(hwnd, msg);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  TabState& s = *state;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, s);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const std::vector<RECT> rects = Layout(hwnd, s);
      for (std::size_t i = 0; i < rects.size(); ++i)
        if (PtInRect(&rects[i], pt)) Choose(hwnd, s, static_cast<int>(i));
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_LEFT) Choose(hwnd, s, s.cur - 1);
      if (wParam == VK_RIGHT) Choose(hwnd, s, s.cur + 1);
      return 0;
    case TCM_GETITEMCOUNT:
      return static_cast<LRESULT>(s.tabs.size());
    case TCM_INSERTITEMW: {
      const auto* item = reinterpret_cast<const TCITEMW*>(lParam);
      if (!item) return -1;
      Tab t;
      if ((item->mask & TCIF_TEXT) && item->pszText) t.text = item->pszText;
      if (item->mask & TCIF_PARAM) t.param = item->lParam;
      const std::size_t at = std::min(static_cast<std::size_t>(wParam), s.tabs.size());
      s.tabs.insert(s.tabs.begin() + static_cast<std::ptrdiff_t>(at), std::move(t));
      if (s.cur >= static_cast<int>(at)) ++s.cur;
      if (s.cur < 0) s.cur = 0;
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(at);
    }
    case TCM_DELETEITEM:
      if (!Valid(s, wParam)) return FALSE;
      s.tabs.erase(s.tabs.begin() + static_cast<std::ptrdiff_t>(wParam));
      if (s.cur >= static_cast<int>(s.tabs.size()) || s.cur == static_cast<int>(wParam))
        s.cur = s.tabs.empty() ? -1 : 0;
      else if (s.cur > static_cast<int>(wParam))
        --s.cur;
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    case TCM_DELETEALLITEMS:
      s.tabs.clear();
      s.cur = -1;
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    case TCM_GETCURSEL:
      return s.cur;
    case TCM_SETCURSEL: {
      if (!Valid(s, wParam)) return -1;
      const int old = s.cur;
      s.cur = static_cast<int>(wParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return old;
    }
    case TCM_GETITEMRECT: {
      auto* r = reinterpret_cast<RECT*>(lParam);
      if (!r || !Valid(s, wParam)) return FALSE;
      *r = Layout(hwnd, s)[wParam];
      return TRUE;
    }
    case TCM_GETITEMW:
    case TCM_SETITEMW: {
      auto* item = reinterpret_cast<TCITEMW*>(lParam);
      if (!item || !Valid(s, wParam)) return FALSE;
      Tab& t = s.tabs[wParam];
      if (msg == TCM_SETITEMW) {
        if ((item->mask & TCIF_TEXT) && item->pszText) t.text = item->pszText;
        if (item->mask & TCIF_PARAM) t.param = item->lParam;
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
      }
      if (item->mask & TCIF_TEXT) {
        if (!item->pszText || item->cchTextMax <= 0) return FALSE;
        const std::size_t n = std::min(t.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
        std::memcpy(item->pszText, t.text.data(), n * sizeof(WCHAR));
        item->pszText[n] = 0;
      }
      if (item->mask & TCIF_PARAM) item->lParam = t.param;
      return TRUE;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
