// The tree view: items in levels, expanded and collapsed by their buttons or
// keys (the parent may fill an item's children when it expands), with lines,
// images, check boxes, selection and scrolling. The rows shown are the items
// whose ancestors are all expanded, kept in a list rebuilt after changes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {

struct TreeNode {
  std::u16string text;
  int image = 0;
  int selectedImage = 0;
  UINT state = 0;
  int children = 0;  // cChildren: 1 or I_CHILDRENCALLBACK says there may be children
  LPARAM param = 0;
  TreeNode* parent = nullptr;
  std::vector<TreeNode*> kids;
};

namespace {

using ctl::Px;

struct TreeState {
  // Every live item, owned here; handles are checked against it before use.
  std::unordered_map<TreeNode*, std::unique_ptr<TreeNode>> nodes;
  TreeNode root;
  std::vector<TreeNode*> rows;  // the items shown, in order
  bool rowsStale = true;
  TreeNode* caret = nullptr;
  int top = 0;
  int indent = 0;
  HIMAGELIST lists[3] = {nullptr, nullptr, nullptr};
  RowDrag drag;
};

ControlStates<TreeState>& All() {
  static auto* states = new ControlStates<TreeState>;
  return *states;
}

DWORD Style(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

TreeNode* Item(TreeState& s, HTREEITEM h) {
  if (!h) return nullptr;
  auto it = s.nodes.find(h);
  return it == s.nodes.end() ? nullptr : it->second.get();
}

bool Expanded(const TreeNode* n) { return n->state & TVIS_EXPANDED; }
bool MayHaveKids(const TreeNode* n) { return !n->kids.empty() || n->children != 0; }

int Depth(const TreeNode* n) {
  int d = 0;
  for (const TreeNode* p = n->parent; p && p->parent; p = p->parent) ++d;
  return d;
}

void Collect(TreeNode* n, std::vector<TreeNode*>& out) {
  for (TreeNode* k : n->kids) {
    out.push_back(k);
    if (Expanded(k)) Collect(k, out);
  }
}

std::vector<TreeNode*>& Rows(TreeState& s) {
  if (s.rowsStale) {
    s.rows.clear();
    Collect(&s.root, s.rows);
    s.rowsStale = false;
  }
  return s.rows;
}

int RowOf(TreeState& s, const TreeNode* n) {
  auto& rows = Rows(s);
  auto it = std::find(rows.begin(), rows.end(), n);
  return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

int RowHeight(const TreeState& s) {
  int h = ControlFontHeight() + Px(6);
  for (HIMAGELIST l : {s.lists[TVSIL_NORMAL], s.lists[TVSIL_STATE]}) {
    int cx = 0, cy = 0;
    if (l && ImageList_GetIconSize(l, &cx, &cy)) h = std::max(h, cy + Px(2));
  }
  return h;
}

int Indent(const TreeState& s) { return s.indent > 0 ? s.indent : Px(16); }

int PerPage(HWND hwnd, const TreeState& s) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  return std::max(1, static_cast<int>(rc.bottom) / RowHeight(s));
}

void UpdateScrollBar(HWND hwnd, TreeState& s) {
  if (!(Style(hwnd) & WS_VSCROLL)) return;
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0,
                std::max(0, static_cast<int>(Rows(s).size()) - 1), static_cast<UINT>(PerPage(hwnd, s)), s.top, 0};
  SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
}

void ScrollTo(HWND hwnd, TreeState& s, int top) {
  top = std::clamp(top, 0, std::max(0, static_cast<int>(Rows(s).size()) - PerPage(hwnd, s)));
  if (top != s.top) InvalidateRect(hwnd, nullptr, FALSE);
  s.top = top;
  UpdateScrollBar(hwnd, s);
}

// After the rows changed: the top kept in range, the bar and the picture updated.
void Changed(HWND hwnd, TreeState& s) {
  s.rowsStale = true;
  ScrollTo(hwnd, s, s.top);
  UpdateScrollBar(hwnd, s);
  InvalidateRect(hwnd, nullptr, FALSE);
}

LRESULT Notify(HWND hwnd, NMHDR* hdr, UINT code) { return NotifyParent(hwnd, hdr, code); }

void Describe(TreeNode* n, TVITEMW* item) {
  *item = TVITEMW{};
  if (!n) return;
  item->mask = TVIF_HANDLE | TVIF_PARAM | TVIF_STATE;
  item->hItem = n;
  item->state = n->state;
  item->lParam = n->param;
}

// Expands or collapses with TVN_ITEMEXPANDINGW first (the parent fills the
// children then, or refuses with non-zero) and TVN_ITEMEXPANDEDW after.
bool Expand(HWND hwnd, TreeState& s, TreeNode* n, WPARAM how) {
  if (!n) return false;
  const bool open = how == TVE_TOGGLE ? !Expanded(n) : how == TVE_EXPAND;
  if (how != TVE_EXPAND && how != TVE_COLLAPSE && how != TVE_TOGGLE) return false;
  if (open == Expanded(n)) return true;
  if (open && !MayHaveKids(n)) return false;
  NMTREEVIEWW nm{};
  nm.action = open ? TVE_EXPAND : TVE_COLLAPSE;
  Describe(n, &nm.itemNew);
  if (Notify(hwnd, &nm.hdr, TVN_ITEMEXPANDINGW)) return false;
  if (!Item(s, n)) return false;  // deleted while told
  if (open && n->kids.empty()) {
    n->children = 0;  // nothing was loaded: no button any more
    Changed(hwnd, s);
    return false;
  }
  n->state = open ? (n->state | TVIS_EXPANDED | TVIS_EXPANDEDONCE) : (n->state & ~TVIS_EXPANDED);
  // A collapsed branch gives the caret to the item closing it.
  if (!open)
    for (TreeNode* p = s.caret ? s.caret->parent : nullptr; p; p = p->parent)
      if (p == n) {
        s.caret->state &= ~TVIS_SELECTED;
        s.caret = n;
        n->state |= TVIS_SELECTED;
        break;
      }
  Changed(hwnd, s);
  Describe(n, &nm.itemNew);
  Notify(hwnd, &nm.hdr, TVN_ITEMEXPANDEDW);
  return true;
}

void EnsureVisible(HWND hwnd, TreeState& s, TreeNode* n) {
  bool opened = false;
  for (TreeNode* p = n->parent; p && p != &s.root; p = p->parent)
    if (!Expanded(p)) opened = Expand(hwnd, s, p, TVE_EXPAND) || opened;
  if (opened) Changed(hwnd, s);
  const int row = RowOf(s, n);
  if (row < 0) return;
  if (row < s.top) ScrollTo(hwnd, s, row);
  else if (row >= s.top + PerPage(hwnd, s)) ScrollTo(hwnd, s, row - PerPage(hwnd, s) + 1);
}

bool Select(HWND hwnd, TreeState& s, TreeNode* n) {
  if (n == s.caret) return true;
  NMTREEVIEWW nm{};
  Describe(s.caret, &nm.itemOld);
  Describe(n, &nm.itemNew);
  if (Notify(hwnd, &nm.hdr, TVN_SELCHANGINGW)) return false;
  if (n && !Item(s, n)) return false;
  if (s.caret && Item(s, s.caret)) s.caret->state &= ~TVIS_SELECTED;
  s.caret = n;
  if (n) {
    n->state |= TVIS_SELECTED;
    EnsureVisible(hwnd, s, n);
  }
  InvalidateRect(hwnd, nullptr, FALSE);
  Describe(n, &nm.itemNew);
  Notify(hwnd, &nm.hdr, TVN_SELCHANGEDW);
  return true;
}

bool HasCheckBoxes(HWND hwnd, const TreeState& s) { return s.lists[TVSIL_STATE] || (Style(hwnd) & TVS_CHECKBOXES); }

int StateWidth(HWND hwnd, const TreeState& s) {
  int cx = 0, cy = 0;
  if (s.lists[TVSIL_STATE] && ImageList_GetIconSize(s.lists[TVSIL_STATE], &cx, &cy)) return cx + Px(2);
  return HasCheckBoxes(hwnd, s) ? Px(16) : 0;
}

int IconWidth(const TreeState& s) {
  int cx = 0, cy = 0;
  if (s.lists[TVSIL_NORMAL] && ImageList_GetIconSize(s.lists[TVSIL_NORMAL], &cx, &cy)) return cx + Px(2);
  return 0;
}

// Where an item's button column starts (its level's indent).
int LevelX(HWND hwnd, const TreeState& s, const TreeNode* n) {
  const bool atRoot = Style(hwnd) & TVS_LINESATROOT;
  return (Depth(n) + (atRoot ? 1 : 0)) * Indent(s);
}

UINT HitTest(HWND hwnd, TreeState& s, POINT pt, TreeNode** out) {
  *out = nullptr;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  if (pt.x < 0 || pt.y < 0 || pt.x >= rc.right || pt.y >= rc.bottom) return TVHT_NOWHERE;
  const int row = s.top + pt.y / RowHeight(s);
  auto& rows = Rows(s);
  if (row >= static_cast<int>(rows.size())) return TVHT_NOWHERE;
  TreeNode* n = rows[static_cast<std::size_t>(row)];
  *out = n;
  const int x0 = LevelX(hwnd, s, n);
  if (pt.x < x0) {
    // The button sits in the column before the item's own.
    const bool button = (Style(hwnd) & TVS_HASBUTTONS) && MayHaveKids(n) && pt.x >= x0 - Indent(s);
    return button ? TVHT_ONITEMBUTTON : TVHT_ONITEMINDENT;
  }
  int x = pt.x - x0;
  const int stateW = HasCheckBoxes(hwnd, s) && (n->state & TVIS_STATEIMAGEMASK) ? StateWidth(hwnd, s) : 0;
  if (x < stateW) return TVHT_ONITEMSTATEICON;
  x -= stateW;
  if (x < IconWidth(s)) return TVHT_ONITEMICON;
  return TVHT_ONITEMLABEL;
}

void ToggleCheck(HWND hwnd, TreeState& s, TreeNode* n) {
  if (!n) return;
  const UINT image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
  if (image == 0) return;
  n->state = (n->state & ~TVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void Paint(HWND hwnd, TreeState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(hwnd, &client);
  ctl::Fill(dc, ps.rcPaint, GetSysColor(COLOR_WINDOW));
  HGDIOBJ oldFont = SelectObject(dc, ControlFont());
  SetBkMode(dc, TRANSPARENT);
  const DWORD style = Style(hwnd);
  const int h = RowHeight(s), ind = Indent(s), line = std::max(1, Px(1));
  const COLORREF lineColour = RGB(0xA0, 0xA0, 0xA0);
  const bool showSel = GetFocus() == hwnd || (style & TVS_SHOWSELALWAYS);
  auto& rows = Rows(s);
  const int first = s.top + std::max(0, static_cast<int>(ps.rcPaint.top) / h);
  const int last = std::min(static_cast<int>(rows.size()), s.top + static_cast<int>(ps.rcPaint.bottom + h - 1) / h);
  for (int r = first; r < last; ++r) {
    TreeNode* n = rows[static_cast<std::size_t>(r)];
    const int y = (r - s.top) * h, mid = y + h / 2;
    const int x0 = LevelX(hwnd, s, n);
    if (style & TVS_HASLINES) {
      // Through lines of the ancestors that have items below, then this item's own.
      for (TreeNode* a = n; a->parent; a = a->parent) {
        const bool atRootLevel = a->parent == &s.root;
        if (atRootLevel && !(style & TVS_LINESATROOT)) break;
        const int cx = LevelX(hwnd, s, a) - ind / 2;
        const auto& sib = a->parent->kids;
        const bool more = sib.back() != a;
        if (a == n) {
          const bool first = atRootLevel && sib.front() == a;
          ctl::Fill(dc, RECT{cx, first ? mid : y, cx + line, more ? y + h : mid + line}, lineColour);
          ctl::Fill(dc, RECT{cx, mid, x0, mid + line}, lineColour);
        } else if (more) {
          ctl::Fill(dc, RECT{cx, y, cx + line, y + h}, lineColour);
        }
      }
    }
    if ((style & TVS_HASBUTTONS) && MayHaveKids(n) && (n->parent != &s.root || (style & TVS_LINESATROOT))) {
      const int b = Px(9) | 1;
      const int cx = x0 - ind / 2;
      RECT box{cx - b / 2, mid - b / 2, cx - b / 2 + b, mid - b / 2 + b};
      ctl::Fill(dc, box, lineColour);
      ctl::Fill(dc, RECT{box.left + line, box.top + line, box.right - line, box.bottom - line},
                GetSysColor(COLOR_WINDOW));
      ctl::Fill(dc, RECT{box.left + 2 * line, mid, box.right - 2 * line, mid + line}, RGB(0, 0, 0));
      if (!Expanded(n)) ctl::Fill(dc, RECT{cx, box.top + 2 * line, cx + line, box.bottom - 2 * line}, RGB(0, 0, 0));
    }
    int x = x0;
    const UINT stateImage = (n->state & TVIS_STATEIMAGEMASK) >> 12;
    if (HasCheckBoxes(hwnd, s) && stateImage) {
      if (s.lists[TVSIL_STATE]) {
        int cx = 0, cy = 0;
        ImageList_GetIconSize(s.lists[TVSIL_STATE], &cx, &cy);
        ImageList_Draw(s.lists[TVSIL_STATE], static_cast<int>(stateImage) - 1, dc, x, y + (h - cy) / 2, ILD_NORMAL);
      } else {
        const int box = Px(13);
        DrawCheckBox(dc, x + Px(1), y + (h - box) / 2, box, stateImage == 2);
      }
      x += StateWidth(hwnd, s);
    }
    const bool selected = showSel && n == s.caret;
    if (s.lists[TVSIL_NORMAL]) {
      int cx = 0, cy = 0;
      ImageList_GetIconSize(s.lists[TVSIL_NORMAL], &cx, &cy);
      ImageList_Draw(s.lists[TVSIL_NORMAL], selected ? n->selectedImage : n->image, dc, x, y + (h - cy) / 2,
                     ILD_NORMAL);
      x += IconWidth(s);
    }
    SIZE ext{};
    GetTextExtentPoint32W(dc, n->text.c_str(), static_cast<int>(n->text.size()), &ext);
    RECT label{x, y + line, std::min<LONG>(client.right, x + ext.cx + Px(6)), y + h - line};
    if (selected) ctl::Fill(dc, label, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_WINDOWTEXT));
    label.left += Px(3);
    label.right = client.right;
    DrawTextW(dc, n->text.c_str(), static_cast<int>(n->text.size()), &label,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

HTREEITEM Insert(HWND hwnd, TreeState& s, const TVINSERTSTRUCTW* ins) {
  if (!ins) return nullptr;
  TreeNode* parent = (!ins->hParent || ins->hParent == TVI_ROOT) ? &s.root : Item(s, ins->hParent);
  if (!parent) return nullptr;
  auto& kids = parent->kids;
  std::size_t at = kids.size();
  const TVITEMW& it = ins->item;
  std::u16string text = (it.mask & TVIF_TEXT) && it.pszText ? std::u16string(it.pszText) : std::u16string();
  if (ins->hInsertAfter == TVI_FIRST) {
    at = 0;
  } else if (ins->hInsertAfter == TVI_SORT) {
    at = 0;
    while (at < kids.size() && CompareNoCase(kids[at]->text, text) <= 0) ++at;
  } else if (ins->hInsertAfter && ins->hInsertAfter != TVI_LAST) {
    auto pos = std::find(kids.begin(), kids.end(), ins->hInsertAfter);
    if (pos == kids.end()) return nullptr;
    at = static_cast<std::size_t>(pos - kids.begin()) + 1;
  }
  auto node = std::unique_ptr<TreeNode>(new (std::nothrow) TreeNode);
  if (!node) return nullptr;
  node->text = std::move(text);
  if (it.mask & TVIF_IMAGE) node->image = it.iImage;
  if (it.mask & TVIF_SELECTEDIMAGE) node->selectedImage = it.iSelectedImage;
  if (it.mask & TVIF_PARAM) node->param = it.lParam;
  if (it.mask & TVIF_CHILDREN) node->children = it.cChildren;
  if (it.mask & TVIF_STATE) node->state = it.state & it.stateMask & ~(TVIS_SELECTED | TVIS_EXPANDED);
  if ((Style(hwnd) & TVS_CHECKBOXES) && !(node->state & TVIS_STATEIMAGEMASK))
    node->state |= INDEXTOSTATEIMAGEMASK(1);
  node->parent = parent;
  TreeNode* raw = node.get();
  try {
    s.nodes.emplace(raw, std::move(node));
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(at), raw);
  } catch (const std::bad_alloc&) {
    s.nodes.erase(raw);
    return nullptr;
  }
  if (parent == &s.root || Expanded(parent)) Changed(hwnd, s);
  else InvalidateRect(hwnd, nullptr, FALSE);  // the parent's button may appear
  return raw;
}

void DeleteTree(HWND hwnd, TreeState& s, TreeNode* n) {
  for (TreeNode* k : std::vector<TreeNode*>(n->kids)) DeleteTree(hwnd, s, k);
  n->kids.clear();
  if (n == &s.root) return;
  NMTREEVIEWW nm{};
  Describe(n, &nm.itemOld);
  Notify(hwnd, &nm.hdr, TVN_DELETEITEMW);
  if (s.caret == n) s.caret = nullptr;
  auto& sib = n->parent->kids;
  sib.erase(std::remove(sib.begin(), sib.end(), n), sib.end());
  s.nodes.erase(n);
}

LRESULT GetItem(TreeState& s, TVITEMW* item) {
  TreeNode* n = item ? Item(s, item->hItem) : nullptr;
  if (!n) return FALSE;
  if (item->mask & TVIF_TEXT) {
    if (!item->pszText || item->cchTextMax <= 0) return FALSE;
    const std::size_t k = std::min(n->text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
    std::memcpy(item->pszText, n->text.data(), k * sizeof(WCHAR));
    item->pszText[k] = 0;
  }
  if (item->mask & TVIF_IMAGE) item->iImage = n->image;
  if (item->mask & TVIF_SELECTEDIMAGE) item->iSelectedImage = n->selectedImage;
  if (item->mask & TVIF_PARAM) item->lParam = n->param;
  if (item->mask & TVIF_STATE) item->state = n->state & item->stateMask;
  if (item->mask & TVIF_CHILDREN) item->cChildren = n->kids.empty() ? n->children : 1;
  return TRUE;
}

LRESULT SetItem(HWND hwnd, TreeState& s, const TVITEMW* item) {
  TreeNode* n = item ? Item(s, item->hItem) : nullptr;
  if (!n) return FALSE;
  if (item->mask & TVIF_TEXT) n->text = item->pszText ? item->pszText : u"";
  if (item->mask & TVIF_IMAGE) n->image = item->iImage;
  if (item->mask & TVIF_SELECTEDIMAGE) n->selectedImage = item->iSelectedImage;
  if (item->mask & TVIF_PARAM) n->param = item->lParam;
  if (item->mask & TVIF_CHILDREN) n->children = item->cChildren;
  if (item->mask & TVIF_STATE) {
    // Selection and expansion go through their own paths.
    const UINT mask = item->stateMask & ~(TVIS_SELECTED | TVIS_EXPANDED);
    n->state = (n->state & ~mask) | (item->state & mask);
    if (item->stateMask & TVIS_EXPANDED) Expand(hwnd, s, n, (item->state & TVIS_EXPANDED) ? TVE_EXPAND : TVE_COLLAPSE);
    if ((item->stateMask & TVIS_SELECTED) && (item->state & TVIS_SELECTED)) Select(hwnd, s, n);
  }
  InvalidateRect(hwnd, nullptr, FALSE);
  return TRUE;
}

TreeNode* Next(TreeState& s, WPARAM how, TreeNode* n) {
  auto& rows = Rows(s);
  switch (how) {
    case TVGN_ROOT: return s.root.kids.empty() ? nullptr : s.root.kids.front();
    case TVGN_CARET: return s.caret;
    case TVGN_FIRSTVISIBLE:
      return s.top < static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(s.top)] : nullptr;
    default: break;
  }
  if (!n) return nullptr;
  switch (how) {
    case TVGN_CHILD: return n->kids.empty() ? nullptr : n->kids.front();
    case TVGN_PARENT: return n->parent == &s.root ? nullptr : n->parent;
    case TVGN_NEXT:
    case TVGN_PREVIOUS: {
      auto& sib = n->parent->kids;
      auto it = std::find(sib.begin(), sib.end(), n);
      if (how == TVGN_NEXT) return it + 1 < sib.end() ? *(it + 1) : nullptr;
      return it > sib.begin() ? *(it - 1) : nullptr;
    }
    case TVGN_NEXTVISIBLE:
    case TVGN_PREVIOUSVISIBLE: {
      const int r = RowOf(s, n);
      if (r < 0) return nullptr;
      const int k = how == TVGN_NEXTVISIBLE ? r + 1 : r - 1;
      return k >= 0 && k < static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(k)] : nullptr;
    }
    default: return nullptr;
  }
}

void OnKey(HWND hwnd, TreeState& s, UINT key) {
  NMTVKEYDOWN nm{};
  nm.wVKey = static_cast<WORD>(key);
  Notify(hwnd, &nm.hdr, TVN_KEYDOWN);
  auto& rows = Rows(s);
  if (rows.empty()) return;
  TreeNode* n = s.caret;
  const int r = n ? RowOf(s, n) : -1;
  const int page = PerPage(hwnd, s);
  auto go = [&](int row) {
    const int last = static_cast<int>(Rows(s).size()) - 1;
    Select(hwnd, s, Rows(s)[static_cast<std::size_t>(std::clamp(row, 0, last))]);
  };
  switch (key) {
    case VK_UP: go(r < 0 ? 0 : r - 1); break;
    case VK_DOWN: go(r < 0 ? 0 : r + 1); break;
    case VK_PRIOR: go(r - page + 1); break;
    case VK_NEXT: go(r + page - 1); break;
    case VK_HOME: go(0); break;
    case VK_END: go(static_cast<int>(rows.size()) - 1); break;
    case VK_RIGHT:
      if (n && !Expanded(n)) Expand(hwnd, s, n, TVE_EXPAND);
      else if (n && !n->kids.empty()) Select(hwnd, s, n->kids.front());
      break;
    case VK_LEFT:
      if (n && Expanded(n)) Expand(hwnd, s, n, TVE_COLLAPSE);
      else if (n && n->parent != &s.root) Select(hwnd, s, n->parent);
      break;
    case VK_SPACE:
      if (Style(hwnd) & TVS_CHECKBOXES) ToggleCheck(hwnd, s, n);
      break;
    case VK_RETURN:
    case VK_ACTION:
      if (n && MayHaveKids(n)) Expand(hwnd, s, n, TVE_TOGGLE);
      else if (Style(hwnd) & TVS_CHECKBOXES) ToggleCheck(hwnd, s, n);
      break;
    default: break;
  }
}

}  // namespace

LRESULT TreeViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<TreeState> state = All().ForMessage(hwnd, msg, [hwnd](TreeState& s) { DeleteTree(hwnd, s, &s.root); });
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  TreeState& s = *state;
  switch (msg) {
    case WM_CREATE:
      UpdateScrollBar(hwnd, s);
      return 0;
    case WM_SIZE:
      Changed(hwnd, s);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
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
      ScrollTo(hwnd, s, ScrolledTop(hwnd, LOWORD(wParam), s.top, PerPage(hwnd, s), static_cast<int>(Rows(s).size())));
      return 0;
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      s.drag.Press(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, s.top);
      SetCapture(hwnd);
      TreeNode* n = nullptr;
      const UINT where = HitTest(hwnd, s, s.drag.at, &n);
      if (!n) return 0;
      if (where == TVHT_ONITEMBUTTON) {
        Expand(hwnd, s, n, TVE_TOGGLE);
      } else if (where != TVHT_ONITEMINDENT) {
        Select(hwnd, s, n);
        if (where == TVHT_ONITEMSTATEICON && (Style(hwnd) & TVS_CHECKBOXES)) ToggleCheck(hwnd, s, n);
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
          NMHDR hdr{};
          Notify(hwnd, &hdr, NM_CLICK);
        }
      }
      return 0;
    case WM_CAPTURECHANGED:
      s.drag.Release();
      return 0;
    case TVM_INSERTITEMW:
      return reinterpret_cast<LRESULT>(Insert(hwnd, s, reinterpret_cast<const TVINSERTSTRUCTW*>(lParam)));
    case TVM_DELETEITEM: {
      auto h = reinterpret_cast<HTREEITEM>(lParam);
      TreeNode* n = (h == TVI_ROOT || !h) ? &s.root : Item(s, h);
      if (!n) return FALSE;
      TreeNode* parent = n->parent;
      DeleteTree(hwnd, s, n);
      if (parent && parent != &s.root && parent->kids.empty()) parent->state &= ~TVIS_EXPANDED;
      if (n == &s.root) s.top = 0;
      Changed(hwnd, s);
      return TRUE;
    }
    case TVM_EXPAND:
      return Expand(hwnd, s, Item(s, reinterpret_cast<HTREEITEM>(lParam)), wParam) ? TRUE : FALSE;
    case TVM_GETITEMRECT: {
      auto* r = reinterpret_cast<RECT*>(lParam);
      if (!r) return FALSE;
      HTREEITEM h{};
      std::memcpy(&h, r, sizeof h);
      TreeNode* n = Item(s, h);
      const int row = n ? RowOf(s, n) : -1;
      if (row < 0) return FALSE;
      RECT client{};
      GetClientRect(hwnd, &client);
      const int y = (row - s.top) * RowHeight(s);
      const int x = wParam ? LevelX(hwnd, s, n) + StateWidth(hwnd, s) + IconWidth(s) : 0;
      *r = RECT{x, y, client.right, y + RowHeight(s)};
      return TRUE;
    }
    case TVM_GETCOUNT:
      return static_cast<LRESULT>(s.nodes.size());
    case TVM_GETINDENT:
      return Indent(s);
    case TVM_SETINDENT:
      s.indent = std::max(0, static_cast<int>(wParam));
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    case TVM_GETIMAGELIST:
      return wParam < 3 ? reinterpret_cast<LRESULT>(s.lists[wParam]) : 0;
    case TVM_SETIMAGELIST: {
      if (wParam != TVSIL_NORMAL && wParam != TVSIL_STATE) return 0;
      HIMAGELIST old = s.lists[wParam];
      s.lists[wParam] = reinterpret_cast<HIMAGELIST>(lParam);
      Changed(hwnd, s);
      return reinterpret_cast<LRESULT>(old);
    }
    case TVM_GETNEXTITEM: {
      auto h = reinterpret_cast<HTREEITEM>(lParam);
      TreeNode* n = Item(s, h);
      if (h && !n && wParam != TVGN_ROOT && wParam != TVGN_CARET && wParam != TVGN_FIRSTVISIBLE) return 0;
      return reinterpret_cast<LRESULT>(Next(s, wParam, n));
    }
    case TVM_SELECTITEM: {
      auto h = reinterpret_cast<HTREEITEM>(lParam);
      TreeNode* n = Item(s, h);
      if (h && !n) return FALSE;
      if (wParam == TVGN_CARET) return Select(hwnd, s, n) ? TRUE : FALSE;
      if (wParam == TVGN_FIRSTVISIBLE && n) {
        EnsureVisible(hwnd, s, n);
        ScrollTo(hwnd, s, RowOf(s, n));
        return TRUE;
      }
      return FALSE;
    }
    case TVM_GETVISIBLECOUNT:
      return PerPage(hwnd, s);
    case TVM_HITTEST: {
      auto* info = reinterpret_cast<TVHITTESTINFO*>(lParam);
      if (!info) return 0;
      TreeNode* n = nullptr;
      info->flags = HitTest(hwnd, s, info->pt, &n);
      info->hItem = n;
      return reinterpret_cast<LRESULT>(n);
    }
    case TVM_ENSUREVISIBLE: {
      TreeNode* n = Item(s, reinterpret_cast<HTREEITEM>(lParam));
      if (!n) return FALSE;
      EnsureVisible(hwnd, s, n);
      return TRUE;
    }
    case TVM_GETITEMW:
      return GetItem(s, reinterpret_cast<TVITEMW*>(lParam));
    case TVM_SETITEMW:
      return SetItem(hwnd, s, reinterpret_cast<const TVITEMW*>(lParam));
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
