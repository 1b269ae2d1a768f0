// The list view in report view: one column, rows of a state image (check
// box), a small icon and a text, selection, focus, scrolling by scroll bar,
// keys and stylus drags. Only the rows on screen are drawn, so long lists
// stay quick.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {
namespace {

struct ListItem {
  std::u16string text;
  int image = -1;
  UINT state = 0;
  LPARAM param = 0;
};

struct ListState {
  std::vector<ListItem> items;
  HIMAGELIST lists[3] = {nullptr, nullptr, nullptr};
  DWORD exStyle = 0;
  int top = 0;  // first row shown
  int columnWidth = 0;
  HFONT font = nullptr;  // set by WM_SETFONT; null draws with the control font
  // Stylus: where the press was, the top row then, whether it became a drag.
  RowDrag drag;
  int pressItem = -1;
  UINT pressFlags = 0;
};

ControlStates<ListState>& All() {
  static auto* states = new ControlStates<ListState>;
  return *states;
}

DWORD Style(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

bool Valid(const ListState& s, WPARAM i) { return i < s.items.size(); }

int Count(const ListState& s) { return static_cast<int>(s.items.size()); }

using ctl::Px;

int RowHeight(const ListState& s) {
  int h = ControlFontHeight() + Px(6);
  for (HIMAGELIST l : {s.lists[LVSIL_SMALL], s.lists[LVSIL_STATE]}) {
    int cx = 0, cy = 0;
    if (l && ImageList_GetIconSize(l, &cx, &cy)) h = std::max(h, cy + Px(2));
  }
  return h;
}

int ClientHeight(HWND hwnd) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  return rc.bottom - rc.top;
}

// Whole rows that fit the client area (at least 1).
int PerPage(HWND hwnd, const ListState& s) { return std::max(1, ClientHeight(hwnd) / RowHeight(s)); }

bool HasStateImage(const ListState& s) { return s.lists[LVSIL_STATE] || (s.exStyle & LVS_EX_CHECKBOXES); }

int StateWidth(const ListState& s) {
  int cx = 0, cy = 0;
  if (s.lists[LVSIL_STATE] && ImageList_GetIconSize(s.lists[LVSIL_STATE], &cx, &cy)) return cx + Px(2);
  return (s.exStyle & LVS_EX_CHECKBOXES) ? Px(16) : 0;
}

int IconWidth(const ListState& s) {
  int cx = 0, cy = 0;
  if (s.lists[LVSIL_SMALL] && ImageList_GetIconSize(s.lists[LVSIL_SMALL], &cx, &cy)) return cx + Px(2);
  return 0;
}

void UpdateScrollBar(HWND hwnd, const ListState& s) {
  if (!(Style(hwnd) & WS_VSCROLL)) return;
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, std::max(0, Count(s) - 1),
                static_cast<UINT>(PerPage(hwnd, s)), s.top, 0};
  SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
}

void ScrollTo(HWND hwnd, ListState& s, int top) {
  top = std::clamp(top, 0, std::max(0, Count(s) - PerPage(hwnd, s)));
  if (top == s.top) return;
  s.top = top;
  UpdateScrollBar(hwnd, s);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void EnsureVisible(HWND hwnd, ListState& s, int i) {
  if (i < s.top) ScrollTo(hwnd, s, i);
  else if (i >= s.top + PerPage(hwnd, s)) ScrollTo(hwnd, s, i - PerPage(hwnd, s) + 1);
}

void InvalidateItem(HWND hwnd, const ListState& s, int i) {
  const int h = RowHeight(s);
  RECT rc{};
  GetClientRect(hwnd, &rc);
  rc.top = (i - s.top) * h;
  rc.bottom = rc.top + h;
  if (rc.bottom > 0) InvalidateRect(hwnd, &rc, FALSE);
}

LRESULT Notify(HWND hwnd, NMHDR* hdr, UINT code) { return NotifyParent(hwnd, hdr, code); }

// Changes the bits of mask in item i's state, with LVN_ITEMCHANGING (which
// the parent may refuse) and LVN_ITEMCHANGED. Selecting in a single-selection
// list clears the other selection; one item holds the focus. Answers whether
// the item ends with the state asked.
bool SetState(HWND hwnd, ListState& s, int i, UINT state, UINT mask) {
  if (i < 0 || i >= Count(s)) return false;
  if (state & mask & LVIS_SELECTED && Style(hwnd) & LVS_SINGLESEL)
    for (int k = 0; k < Count(s); ++k)
      if (k != i && s.items[static_cast<std::size_t>(k)].state & LVIS_SELECTED) SetState(hwnd, s, k, 0, LVIS_SELECTED);
  if (state & mask & LVIS_FOCUSED)
    for (int k = 0; k < Count(s); ++k)
      if (k != i && s.items[static_cast<std::size_t>(k)].state & LVIS_FOCUSED) SetState(hwnd, s, k, 0, LVIS_FOCUSED);
  if (i >= Count(s)) return false;  // a parent deleted items while told
  const UINT old = s.items[static_cast<std::size_t>(i)].state;
  const UINT now = (old & ~mask) | (state & mask);
  if (now == old) return true;
  NMLISTVIEW nm{};
  nm.iItem = i;
  nm.uNewState = now;
  nm.uOldState = old;
  nm.uChanged = LVIF_STATE;
  nm.lParam = s.items[static_cast<std::size_t>(i)].param;
  if (Notify(hwnd, &nm.hdr, LVN_ITEMCHANGING)) return false;
  if (i >= Count(s)) return false;
  s.items[static_cast<std::size_t>(i)].state = now;
  InvalidateItem(hwnd, s, i);
  Notify(hwnd, &nm.hdr, LVN_ITEMCHANGED);
  return true;
}

int FocusedItem(const ListState& s) {
  for (int k = 0; k < Count(s); ++k)
    if (s.items[static_cast<std::size_t>(k)].state & LVIS_FOCUSED) return k;
  return -1;
}

// Makes i the focused and (only) selected item and brings it into view.
void MoveTo(HWND hwnd, ListState& s, int i) {
  if (Count(s) == 0) return;
  i = std::clamp(i, 0, Count(s) - 1);
  if (Style(hwnd) & LVS_SINGLESEL) {
    SetState(hwnd, s, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  } else {
    for (int k = 0; k < Count(s); ++k)
      if (k != i) SetState(hwnd, s, k, 0, LVIS_SELECTED);
    SetState(hwnd, s, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  EnsureVisible(hwnd, s, i);
}

// Check boxes: the state image goes from 1 to 2 and back.
void ToggleCheck(HWND hwnd, ListState& s, int i) {
  if (i < 0 || i >= Count(s)) return;
  const UINT image = (s.items[static_cast<std::size_t>(i)].state & LVIS_STATEIMAGEMASK) >> 12;
  SetState(hwnd, s, i, INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2), LVIS_STATEIMAGEMASK);
}

UINT HitTest(const ListState& s, POINT pt, int clientWidth, int clientHeight, int* item) {
  *item = -1;
  if (pt.y < 0) return LVHT_ABOVE;
  if (pt.y >= clientHeight) return LVHT_BELOW;
  if (pt.x < 0 || pt.x >= clientWidth) return LVHT_NOWHERE;
  const int i = s.top + pt.y / RowHeight(s);
  if (i >= Count(s)) return LVHT_NOWHERE;
  *item = i;
  const int stateW = HasStateImage(s) && (s.items[static_cast<std::size_t>(i)].state & LVIS_STATEIMAGEMASK) ? StateWidth(s)
                                                                                                          : 0;
  const int x = pt.x - Px(2);
  if (x < stateW) return LVHT_ONITEMSTATEICON;
  if (x < stateW + IconWidth(s)) return LVHT_ONITEMICON;
  return LVHT_ONITEMLABEL;
}

HFONT FontOf(const ListState& s) { return s.font ? s.font : ControlFont(); }

void Paint(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(hwnd, &client);
  FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HGDIOBJ oldFont = SelectObject(dc, FontOf(s));
  SetBkMode(dc, TRANSPARENT);
  const int h = RowHeight(s);
  const bool focused = GetFocus() == hwnd;
  const bool showSel = focused || (Style(hwnd) & LVS_SHOWSELALWAYS);
  const int width = s.columnWidth > 0 ? std::min<int>(s.columnWidth, client.right) : client.right;
  const int first = s.top + std::max(0, static_cast<int>(ps.rcPaint.top) / h);
  const int last = std::min(Count(s), s.top + static_cast<int>(ps.rcPaint.bottom + h - 1) / h);
  for (int i = first; i < last; ++i) {
    const ListItem& it = s.items[static_cast<std::size_t>(i)];
    const int y = (i - s.top) * h;
    int x = Px(2);
    const bool selected = showSel && (it.state & LVIS_SELECTED);
    if (selected && (s.exStyle & LVS_EX_FULLROWSELECT)) ctl::Fill(dc, RECT{0, y, width, y + h}, GetSysColor(COLOR_HIGHLIGHT));
    const UINT stateImage = (it.state & LVIS_STATEIMAGEMASK) >> 12;
    if (HasStateImage(s) && stateImage) {
      if (s.lists[LVSIL_STATE]) {
        int cx = 0, cy = 0;
        ImageList_GetIconSize(s.lists[LVSIL_STATE], &cx, &cy);
        ImageList_Draw(s.lists[LVSIL_STATE], static_cast<int>(stateImage) - 1, dc, x, y + (h - cy) / 2, ILD_NORMAL);
      } else {
        const int box = Px(13);
        DrawCheckBox(dc, x + (StateWidth(s) - box) / 2 - Px(1), y + (h - box) / 2, box, stateImage == 2);
      }
    }
    if (HasStateImage(s)) x += StateWidth(s);
    if (s.lists[LVSIL_SMALL]) {
      int cx = 0, cy = 0;
      ImageList_GetIconSize(s.lists[LVSIL_SMALL], &cx, &cy);
      if (it.image >= 0)
        ImageList_Draw(s.lists[LVSIL_SMALL], it.image, dc, x, y + (h - cy) / 2,
                       selected && !(s.exStyle & LVS_EX_FULLROWSELECT) ? ILD_SELECTED : ILD_NORMAL);
      x += IconWidth(s);
    }
    RECT label{x, y, width, y + h};
    if (selected && !(s.exStyle & LVS_EX_FULLROWSELECT)) {
      // Only the label is highlighted.
      SIZE ext{};
      GetTextExtentPoint32W(dc, it.text.c_str(), static_cast<int>(it.text.size()), &ext);
      ctl::Fill(dc, RECT{label.left, y, std::min<LONG>(label.right, label.left + ext.cx + Px(6)), y + h},
                GetSysColor(COLOR_HIGHLIGHT));
    }
    SetTextColor(dc, selected ? RGB(255, 255, 255) : RGB(0, 0, 0));
    label.left += Px(3);
    DrawTextW(dc, it.text.c_str(), static_cast<int>(it.text.size()), &label,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT GetItem(const ListState& s, LVITEMW* item) {
  if (!item || item->iItem < 0 || !Valid(s, static_cast<WPARAM>(item->iItem))) return FALSE;
  const ListItem& it = s.items[static_cast<std::size_t>(item->iItem)];
  if (item->iSubItem != 0) {
    if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) item->pszText[0] = 0;
    return item->iSubItem > 0 ? TRUE : FALSE;
  }
  if (item->mask & LVIF_TEXT) {
    if (!item->pszText || item->cchTextMax <= 0) return FALSE;
    const std::size_t n = std::min(it.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
    std::memcpy(item->pszText, it.text.data(), n * sizeof(WCHAR));
    item->pszText[n] = 0;
  }
  if (item->mask & LVIF_IMAGE) item->iImage = it.image;
  if (item->mask & LVIF_PARAM) item->lParam = it.param;
  if (item->mask & LVIF_STATE) item->state = it.state & item->stateMask;
  return TRUE;
}

LRESULT SetItem(HWND hwnd, ListState& s, const LVITEMW* item) {
  if (!item || item->iItem < 0 || !Valid(s, static_cast<WPARAM>(item->iItem))) return FALSE;
  if (item->iSubItem != 0) return FALSE;
  ListItem& it = s.items[static_cast<std::size_t>(item->iItem)];
  if (item->mask & LVIF_TEXT) it.text = item->pszText ? item->pszText : u"";
  if (item->mask & LVIF_IMAGE) it.image = item->iImage;
  if (item->mask & LVIF_PARAM) it.param = item->lParam;
  InvalidateItem(hwnd, s, item->iItem);
  if (item->mask & LVIF_STATE) return SetState(hwnd, s, item->iItem, item->state, item->stateMask) ? TRUE : FALSE;
  return TRUE;
}

LRESULT Insert(HWND hwnd, ListState& s, const LVITEMW* item) {
  if (!item || item->iItem < 0 || item->iSubItem != 0) return -1;
  ListItem it;
  if ((item->mask & LVIF_TEXT) && item->pszText) it.text = item->pszText;
  if (item->mask & LVIF_IMAGE) it.image = item->iImage;
  if (item->mask & LVIF_PARAM) it.param = item->lParam;
  // New items show an unchecked box when the list has check boxes.
  if (s.exStyle & LVS_EX_CHECKBOXES) it.state = INDEXTOSTATEIMAGEMASK(1);
  if (item->mask & LVIF_STATE)
    it.state = (it.state & ~(item->stateMask & LVIS_STATEIMAGEMASK)) | (item->state & item->stateMask & LVIS_STATEIMAGEMASK);
  const std::size_t at = std::min(static_cast<std::size_t>(item->iItem), s.items.size());
  try {
    s.items.insert(s.items.begin() + static_cast<std::ptrdiff_t>(at), std::move(it));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  NMLISTVIEW nm{};
  nm.iItem = static_cast<int>(at);
  Notify(hwnd, &nm.hdr, LVN_INSERTITEM);
  const UINT sel = (item->mask & LVIF_STATE) ? item->state & item->stateMask & (LVIS_SELECTED | LVIS_FOCUSED) : 0;
  if (sel) SetState(hwnd, s, static_cast<int>(at), sel, sel);
  UpdateScrollBar(hwnd, s);
  InvalidateRect(hwnd, nullptr, FALSE);
  return static_cast<LRESULT>(at);
}

LRESULT Delete(HWND hwnd, ListState& s, WPARAM i) {
  if (!Valid(s, i)) return FALSE;
  NMLISTVIEW nm{};
  nm.iItem = static_cast<int>(i);
  nm.lParam = s.items[i].param;
  Notify(hwnd, &nm.hdr, LVN_DELETEITEM);
  if (!Valid(s, i)) return FALSE;
  s.items.erase(s.items.begin() + static_cast<std::ptrdiff_t>(i));
  ScrollTo(hwnd, s, s.top);
  UpdateScrollBar(hwnd, s);
  InvalidateRect(hwnd, nullptr, FALSE);
  return TRUE;
}

LRESULT NextItem(const ListState& s, WPARAM start, LPARAM flags) {
  const int from = static_cast<int>(static_cast<LONG_PTR>(start) == -1 ? -1 : static_cast<LONG_PTR>(start));
  if (from < -1 || from >= Count(s)) return -1;
  if (flags & LVNI_ABOVE) return from > 0 ? from - 1 : -1;
  if (flags & LVNI_BELOW) return from + 1 < Count(s) ? from + 1 : -1;
  UINT want = 0;
  if (flags & LVNI_SELECTED) want |= LVIS_SELECTED;
  if (flags & LVNI_FOCUSED) want |= LVIS_FOCUSED;
  for (int i = from + 1; i < Count(s); ++i)
    if ((s.items[static_cast<std::size_t>(i)].state & want) == want) return i;
  return -1;
}

void OnKey(HWND hwnd, ListState& s, UINT key) {
  NMLVKEYDOWN nm{};
  nm.wVKey = static_cast<WORD>(key);
  Notify(hwnd, &nm.hdr, LVN_KEYDOWN);
  const int focus = FocusedItem(s);
  const int page = PerPage(hwnd, s);
  switch (key) {
    case VK_UP: MoveTo(hwnd, s, focus < 0 ? 0 : focus - 1); break;
    case VK_DOWN: MoveTo(hwnd, s, focus < 0 ? 0 : focus + 1); break;
    case VK_PRIOR: MoveTo(hwnd, s, focus < 0 ? 0 : focus - page + 1); break;
    case VK_NEXT: MoveTo(hwnd, s, focus < 0 ? 0 : focus + page - 1); break;
    case VK_HOME: MoveTo(hwnd, s, 0); break;
    case VK_END: MoveTo(hwnd, s, Count(s) - 1); break;
    case VK_SPACE:
    case VK_ACTION:
      if (s.exStyle & LVS_EX_CHECKBOXES) ToggleCheck(hwnd, s, focus);
      if (key == VK_ACTION) {
        NMHDR hdr{};
        Notify(hwnd, &hdr, NM_RETURN);
      }
      break;
    case VK_RETURN: {
      NMHDR hdr{};
      Notify(hwnd, &hdr, NM_RETURN);
      break;
    }
    default: break;
  }
}

}  // namespace

LRESULT ListViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ListState> state = All().ForMessage(hwnd, msg, [hwnd](ListState& s) {
    if (!(Style(hwnd) & LVS_SHAREIMAGELISTS))
      for (HIMAGELIST& l : s.lists) ImageList_Destroy(l), l = nullptr;
  });
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  ListState& s = *state;
  switch (msg) {
    case WM_CREATE:
      UpdateScrollBar(hwnd, s);
      return 0;
    case WM_SIZE:
      ScrollTo(hwnd, s, s.top);
      UpdateScrollBar(hwnd, s);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      UpdateScrollBar(hwnd, s);
      if (LOWORD(static_cast<std::uintptr_t>(lParam))) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, s);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      InvalidateRect(hwnd, nullptr, FALSE);
      NMHDR hdr{};
      Notify(hwnd, &hdr, msg == WM_SETFOCUS ? NM_SETFOCUS : NM_KILLFOCUS);
      return 0;
    }
    case WM_KEYDOWN:
      OnKey(hwnd, s, static_cast<UINT>(wParam));
      return 0;
    case WM_VSCROLL:
      ScrollTo(hwnd, s, ScrolledTop(hwnd, LOWORD(wParam), s.top, PerPage(hwnd, s), Count(s)));
      return 0;
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      RECT rc{};
      GetClientRect(hwnd, &rc);
      s.drag.Press(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, s.top);
      s.pressFlags = HitTest(s, s.drag.at, rc.right, rc.bottom, &s.pressItem);
      SetCapture(hwnd);
      if (s.pressItem >= 0) {
        MoveTo(hwnd, s, s.pressItem);
        if (s.pressFlags == LVHT_ONITEMSTATEICON && (s.exStyle & LVS_EX_CHECKBOXES)) ToggleCheck(hwnd, s, s.pressItem);
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (const int top = s.drag.Move(GET_Y_LPARAM(lParam), RowHeight(s), Px(6)); s.drag.dragging)
        ScrollTo(hwnd, s, top);
      return 0;
    case WM_LBUTTONUP:
      if (s.drag.pressed) {
        const bool tap = s.drag.Release();
        if (GetCapture() == hwnd) ReleaseCapture();
        if (tap) {
          NMITEMACTIVATE nm{};
          nm.iItem = s.pressItem;
          nm.ptAction = s.drag.at;
          Notify(hwnd, &nm.hdr, NM_CLICK);
        }
      }
      return 0;
    case WM_CAPTURECHANGED:
      s.drag.Release();
      return 0;
    case LVM_GETITEMCOUNT:
      return Count(s);
    case LVM_SETITEMCOUNT:
      if (wParam < (1u << 24)) s.items.reserve(wParam);
      return TRUE;
    case LVM_GETIMAGELIST:
      return wParam < 3 ? reinterpret_cast<LRESULT>(s.lists[wParam]) : 0;
    case LVM_SETIMAGELIST: {
      if (wParam >= 3) return 0;
      HIMAGELIST old = s.lists[wParam];
      s.lists[wParam] = reinterpret_cast<HIMAGELIST>(lParam);
      UpdateScrollBar(hwnd, s);
      InvalidateRect(hwnd, nullptr, FALSE);
      return reinterpret_cast<LRESULT>(old);
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return static_cast<LRESULT>(s.exStyle);
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      const DWORD old = s.exStyle;
      const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
      s.exStyle = (s.exStyle & ~mask) | (static_cast<DWORD>(lParam) & mask);
      // Turning check boxes on gives every item an unchecked box.
      if ((s.exStyle & LVS_EX_CHECKBOXES) && !(old & LVS_EX_CHECKBOXES))
        for (ListItem& it : s.items)
          if (!(it.state & LVIS_STATEIMAGEMASK)) it.state |= INDEXTOSTATEIMAGEMASK(1);
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(old);
    }
    case LVM_INSERTITEMW:
      return Insert(hwnd, s, reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_DELETEITEM:
      return Delete(hwnd, s, wParam);
    case LVM_DELETEALLITEMS: {
      NMLISTVIEW nm{};
      nm.iItem = -1;
      // A parent answering TRUE wants no LVN_DELETEITEM for each item.
      const bool quiet = Notify(hwnd, &nm.hdr, LVN_DELETEALLITEMS) != 0;
      if (!quiet)
        for (std::size_t i = 0; i < s.items.size(); ++i) {
          nm.iItem = static_cast<int>(i);
          nm.lParam = s.items[i].param;
          Notify(hwnd, &nm.hdr, LVN_DELETEITEM);
        }
      s.items.clear();
      s.top = 0;
      UpdateScrollBar(hwnd, s);
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    case LVM_GETITEMW:
      return GetItem(s, reinterpret_cast<LVITEMW*>(lParam));
    case LVM_SETITEMW:
      return SetItem(hwnd, s, reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_GETITEMTEXTW: {
      auto* item = reinterpret_cast<LVITEMW*>(lParam);
      if (!item) return 0;
      item->iItem = static_cast<int>(wParam);
      item->mask = LVIF_TEXT;
      if (!GetItem(s, item)) return 0;
      return static_cast<LRESULT>(std::char_traits<char16_t>::length(item->pszText));
    }
    case LVM_SETITEMTEXTW: {
      auto* item = reinterpret_cast<LVITEMW*>(lParam);
      if (!item || !Valid(s, wParam)) return FALSE;
      LVITEMW copy = *item;
      copy.iItem = static_cast<int>(wParam);
      copy.mask = LVIF_TEXT;
      return SetItem(hwnd, s, &copy);
    }
    case LVM_GETITEMSTATE:
      return Valid(s, wParam) ? static_cast<LRESULT>(s.items[wParam].state & static_cast<UINT>(lParam)) : 0;
    case LVM_SETITEMSTATE: {
      const auto* item = reinterpret_cast<const LVITEMW*>(lParam);
      if (!item) return FALSE;
      if (static_cast<LONG_PTR>(wParam) == -1) {
        bool all = true;
        for (int i = 0; i < Count(s); ++i) all = SetState(hwnd, s, i, item->state, item->stateMask) && all;
        return all ? TRUE : FALSE;
      }
      return Valid(s, wParam) && SetState(hwnd, s, static_cast<int>(wParam), item->state, item->stateMask) ? TRUE
                                                                                                           : FALSE;
    }
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(s.items.begin(), s.items.end(), [](const ListItem& it) { return it.state & LVIS_SELECTED; });
    case LVM_GETNEXTITEM:
      return NextItem(s, wParam, lParam);
    case LVM_HITTEST: {
      auto* info = reinterpret_cast<LVHITTESTINFO*>(lParam);
      if (!info) return -1;
      RECT rc{};
      GetClientRect(hwnd, &rc);
      info->flags = HitTest(s, info->pt, rc.right, rc.bottom, &info->iItem);
      info->iSubItem = 0;
      return info->iItem;
    }
    case LVM_GETITEMRECT: {
      auto* r = reinterpret_cast<RECT*>(lParam);
      if (!r || !Valid(s, wParam)) return FALSE;
      const int part = r->left;
      RECT rc{};
      GetClientRect(hwnd, &rc);
      const int h = RowHeight(s);
      const int y = (static_cast<int>(wParam) - s.top) * h;
      const int iconX = Px(2) + (HasStateImage(s) ? StateWidth(s) : 0);
      const int width = s.columnWidth > 0 ? s.columnWidth : rc.right;
      if (part == LVIR_ICON) *r = RECT{iconX, y, iconX + IconWidth(s), y + h};
      else if (part == LVIR_LABEL) *r = RECT{iconX + IconWidth(s), y, width, y + h};
      else *r = RECT{0, y, width, y + h};
      return TRUE;
    }
    case LVM_ENSUREVISIBLE:
      if (!Valid(s, wParam)) return FALSE;
      EnsureVisible(hwnd, s, static_cast<int>(wParam));
      return TRUE;
    case LVM_SCROLL:
      ScrollTo(hwnd, s, s.top + static_cast<int>(lParam) / RowHeight(s));
      return TRUE;
    case LVM_GETTOPINDEX:
      return s.top;
    case LVM_GETCOUNTPERPAGE:
      return PerPage(hwnd, s);
    case LVM_REDRAWITEMS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    case LVM_INSERTCOLUMNW: {
      const auto* col = reinterpret_cast<const LVCOLUMNW*>(lParam);
      if (!col) return -1;
      if (wParam == 0 && (col->mask & LVCF_WIDTH)) s.columnWidth = col->cx;
      return static_cast<LRESULT>(wParam);
    }
    case LVM_GETCOLUMNWIDTH:
      if (wParam != 0) return 0;
      if (s.columnWidth > 0) return s.columnWidth;
      {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        return rc.right;
      }
    case LVM_SETCOLUMNWIDTH: {
      if (wParam != 0) return FALSE;
      int cx = static_cast<int>(lParam);
      if (cx == LVSCW_AUTOSIZE || cx == LVSCW_AUTOSIZE_USEHEADER) {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        cx = rc.right;
      }
      if (cx < 0) return FALSE;
      s.columnWidth = cx;
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    case LVM_GETBKCOLOR:
      return static_cast<LRESULT>(RGB(255, 255, 255));
    case LVM_SETBKCOLOR:
      return TRUE;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
