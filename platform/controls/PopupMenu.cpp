// Pop-up menus drawn and tracked: one window a level (the menu and its open
// cascades), drawn with GDI at the screen's DPI; the stylus and the keys go
// to the tracker through the pop-up loop.
#include "platform/controls/PopupMenu.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/controls/ControlDrawing.h"
#include "platform/controls/Popup.h"

namespace plat::ctl {

void ReportFailure(const char* call, const std::u16string& what) {
  std::fprintf(stderr, "orv platform: %s failed: %s\n", call, Utf16ToUtf8(what).c_str());
}

namespace {

constexpr UINT kVkAction = 0x86;  // the centre of the direction pad
constexpr UINT kVkSoft1 = 0x70;
constexpr UINT kVkSoft2 = 0x71;

struct ItemView {
  UINT type = 0;
  UINT state = 0;
  UINT id = 0;
  HMENU sub = nullptr;
  std::u16string text;
  int top = 0;
  int bottom = 0;
  bool Separator() const { return (type & MFT_SEPARATOR) != 0; }
  bool Enabled() const { return !(state & (MF_GRAYED | MF_DISABLED)); }
};

struct Level {
  HMENU menu = nullptr;
  HWND wnd = nullptr;
  RECT rect{};  // screen
  std::vector<ItemView> items;
  int hot = -1;
};

// Sizes at the screen's DPI.
int ItemHeight() { return Px(24); }
int SeparatorHeight() { return Px(7); }
int Gutter() { return Px(22); }  // left: check marks; right: cascade arrows
int Border() { return Px(1); }

std::vector<ItemView> ReadItems(HMENU menu) {
  std::vector<ItemView> out;
  int n = GetMenuItemCount(menu);
  for (int i = 0; i < n; ++i) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    mii.cch = 0;
    mii.dwTypeData = nullptr;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii)) continue;
    std::u16string text(mii.cch + 1, u'\0');
    mii.dwTypeData = text.data();
    mii.cch = static_cast<UINT>(text.size());
    mii.fMask = MIIM_STRING;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii);
    text.resize(mii.cch);
    ItemView v;
    MENUITEMINFOW rest{};
    rest.cbSize = sizeof rest;
    rest.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &rest);
    v.type = rest.fType;
    v.state = rest.fState;
    v.id = rest.wID;
    v.sub = rest.hSubMenu;
    v.text = std::move(text);
    out.push_back(std::move(v));
  }
  return out;
}

HFONT MenuFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// Lays the items out; the size of the level's window.
SIZE Measure(std::vector<ItemView>& items) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, MenuFont());
  int width = Px(80), y = Border();
  for (ItemView& v : items) {
    v.top = y;
    y += v.Separator() ? SeparatorHeight() : ItemHeight();
    v.bottom = y;
    if (!v.Separator()) width = std::max(width, ItemTextWidth(dc, v.text) + 2 * Gutter());
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return SIZE{std::min(width + 2 * Border(), ScreenWidth()), y + Border()};
}

void PaintLevel(HWND hwnd, const Level& level) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r;
  GetClientRect(hwnd, &r);
  Fill(dc, r, GetSysColor(COLOR_MENU));
  Frame(dc, r, Border(), PopupFrameColour());
  HGDIOBJ oldFont = SelectObject(dc, MenuFont());
  SetBkMode(dc, TRANSPARENT);
  for (std::size_t i = 0; i < level.items.size(); ++i) {
    const ItemView& v = level.items[i];
    RECT ir{Border(), v.top, r.right - Border(), v.bottom};
    if (v.Separator()) {
      int mid = (ir.top + ir.bottom) / 2;
      Fill(dc, RECT{ir.left + Px(4), mid, ir.right - Px(4), mid + Px(1)}, GetSysColor(COLOR_BTNSHADOW));
      continue;
    }
    bool hot = static_cast<int>(i) == level.hot;
    if (hot) Fill(dc, ir, GetSysColor(COLOR_HIGHLIGHT));
    COLORREF ink = !v.Enabled() ? GetSysColor(COLOR_GRAYTEXT)
                   : hot        ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                : GetSysColor(COLOR_MENUTEXT);
    SetTextColor(dc, ink);
    if (v.state & MFS_CHECKED) {
      int s = Px(12);
      RECT box{ir.left + (Gutter() - s) / 2, (ir.top + ir.bottom - s) / 2, 0, 0};
      box.right = box.left + s;
      box.bottom = box.top + s;
      if (v.type & MFT_RADIOCHECK) {
        HBRUSH b = CreateSolidBrush(ink);
        HPEN p = CreatePen(PS_SOLID, 1, ink);
        HGDIOBJ ob = SelectObject(dc, b), op = SelectObject(dc, p);
        InflateRect(&box, -s / 4, -s / 4);
        Ellipse(dc, box.left, box.top, box.right, box.bottom);
        SelectObject(dc, ob);
        SelectObject(dc, op);
        DeleteObject(b);
        DeleteObject(p);
      } else {
        DrawTick(dc, box, ink);
      }
    }
    RECT tr{ir.left + Gutter(), ir.top, ir.right - Gutter(), ir.bottom};
    DrawItemText(dc, v.text, tr);
    if (v.sub) DrawTriangle(dc, POINT{ir.right - Gutter() / 2, (ir.top + ir.bottom) / 2}, Px(4), Pointing::Right, ink);
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK_MenuWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (PopupWindowCommon(hwnd, msg)) return msg == WM_ERASEBKGND ? 1 : 0;
  if (msg == WM_PAINT) {
    auto* level = reinterpret_cast<const Level*>(GetWindowLongW(hwnd, GWL_USERDATA));
    if (level) {
      PaintLevel(hwnd, *level);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class Tracker;
thread_local Tracker* t_tracker = nullptr;

class Tracker : public PopupInput {
 public:
  Tracker(HWND owner, UINT flags) : owner_(owner), flags_(flags) {}
  ~Tracker() override {
    while (!levels_.empty()) CloseDeepest();
  }

  // The first level at (x, y); false when it cannot be shown.
  bool Open(HMENU menu, int x, int y, const TPMPARAMS* params, bool byKey) {
    if (!Notify(menu, 0)) return false;
    auto level = std::make_unique<Level>();
    level->menu = menu;
    level->items = ReadItems(menu);
    SIZE size = Measure(level->items);
    if (flags_ & TPM_RIGHTALIGN) x -= size.cx;
    else if (flags_ & TPM_CENTERALIGN) x -= size.cx / 2;
    if (flags_ & TPM_BOTTOMALIGN) y -= size.cy;
    else if (flags_ & TPM_VCENTERALIGN) y -= size.cy / 2;
    RECT r{x, y, x + size.cx, y + size.cy};
    if (params && params->cbSize == sizeof(TPMPARAMS) && !IsRectEmpty(&params->rcExclude)) {
      RECT overlap;
      if (IntersectRect(&overlap, &r, &params->rcExclude)) {
        // Below the excluded area, or above it when there is no room.
        int below = params->rcExclude.bottom, above = params->rcExclude.top - size.cy;
        r.top = below + size.cy <= ScreenHeight() || above < 0 ? below : above;
        r.bottom = r.top + size.cy;
      }
    }
    KeepOnScreen(&r);
    level->rect = r;
    if (byKey) level->hot = NextSelectable(*level, -1, 1);
    return Show(std::move(level));
  }

  void Stylus(UINT message, POINT p) override {
    int li = LevelAt(p);
    if (message == WM_LBUTTONDOWN) {
      pressed_ = true;
      if (li < 0) {  // a tap outside ends the menu
        done_ = true;
        return;
      }
    }
    // The stylus that opened the menu (a tap and hold) neither marks nor
    // chooses the item it is lifted from.
    if ((message == WM_MOUSEMOVE || message == WM_LBUTTONUP) && !pressed_) return;
    if (li < 0) {
      if (message == WM_LBUTTONUP) pressed_ = false;
      return;
    }
    Level& level = *levels_[static_cast<std::size_t>(li)];
    int item = ItemAt(level, p);
    // Levels below the one touched close, except the touched item's own cascade.
    std::size_t keep = static_cast<std::size_t>(li) + 1;
    if (item >= 0 && levels_.size() > keep && level.items[static_cast<std::size_t>(item)].sub == levels_[keep]->menu)
      ++keep;
    while (levels_.size() > keep) CloseDeepest();
    SetHot(level, item);
    if (item < 0) return;
    const ItemView& v = level.items[static_cast<std::size_t>(item)];
    if (message == WM_LBUTTONUP) {
      pressed_ = false;
      if (!v.sub && v.Enabled() && !v.Separator()) Choose(v.id);
      return;
    }
    if (v.sub && v.Enabled() && static_cast<int>(levels_.size()) == li + 1) OpenCascade(li, item, false);
  }

  void KeyDown(UINT vk) override {
    if (levels_.empty()) return;
    Level& level = *levels_.back();
    switch (vk) {
      case VK_DOWN:
      case VK_UP:
        SetHot(level, NextSelectable(level, level.hot, vk == VK_DOWN ? 1 : -1));
        return;
      case VK_RIGHT:
        if (level.hot >= 0 && level.items[static_cast<std::size_t>(level.hot)].sub &&
            level.items[static_cast<std::size_t>(level.hot)].Enabled())
          OpenCascade(static_cast<int>(levels_.size()) - 1, level.hot, true);
        return;
      case VK_LEFT:
        if (levels_.size() > 1) CloseDeepest();
        return;
      case VK_ESCAPE:
        if (levels_.size() > 1) CloseDeepest();
        else done_ = true;
        return;
      case VK_RETURN:
      case kVkAction: {
        if (level.hot < 0) return;
        const ItemView& v = level.items[static_cast<std::size_t>(level.hot)];
        if (!v.Enabled() || v.Separator()) return;
        if (v.sub) OpenCascade(static_cast<int>(levels_.size()) - 1, level.hot, true);
        else Choose(v.id);
        return;
      }
      case kVkSoft1:
      case kVkSoft2:
        done_ = true;  // the soft keys close an open menu
        return;
      default:
        return;
    }
  }

  bool Done() const override { return done_ || cancelled_; }
  void Cancel() {
    cancelled_ = true;
    PostMessageW(nullptr, WM_NULL, 0, 0);
  }
  UINT Chosen() const { return chosen_; }
  HWND RootWindow() const { return levels_.empty() ? nullptr : levels_.front()->wnd; }
  // The menu handles can be destroyed by the owner while open: then it ends.
  bool MenusAlive() const {
    for (const auto& l : levels_)
      if (!IsMenu(l->menu)) return false;
    return true;
  }

 private:
  bool Notify(HMENU menu, int position) {
    if (!(flags_ & TPM_NONOTIFY))
      SendMessageW(owner_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(static_cast<WORD>(position), 0));
    return IsWindow(owner_) && IsMenu(menu);
  }

  bool Show(std::unique_ptr<Level> level) {
    Level* raw = level.get();
    levels_.push_back(std::move(level));
    raw->wnd = CreatePopupWindow(u"#32768", CALLBACK_MenuWindow, owner_, raw->rect, raw);
    if (!raw->wnd) {
      levels_.pop_back();
      return false;
    }
    return true;
  }

  void OpenCascade(int parentIndex, int item, bool byKey) {
    Level& parent = *levels_[static_cast<std::size_t>(parentIndex)];
    HMENU sub = parent.items[static_cast<std::size_t>(item)].sub;
    if (!Notify(sub, item)) return;
    auto level = std::make_unique<Level>();
    level->menu = sub;
    level->items = ReadItems(sub);
    if (level->items.empty()) return;
    SIZE size = Measure(level->items);
    const ItemView& v = parent.items[static_cast<std::size_t>(item)];
    RECT r{parent.rect.right - Border(), parent.rect.top + v.top - Border(), 0, 0};
    if (r.left + size.cx > ScreenWidth()) r.left = parent.rect.left - size.cx + Border();
    r.right = r.left + size.cx;
    r.bottom = r.top + size.cy;
    KeepOnScreen(&r);
    level->rect = r;
    if (byKey) level->hot = NextSelectable(*level, -1, 1);
    Show(std::move(level));
  }

  void CloseDeepest() {
    std::unique_ptr<Level> level = std::move(levels_.back());
    levels_.pop_back();
    if (level->wnd && IsWindow(level->wnd)) {
      SetWindowLongW(level->wnd, GWL_USERDATA, 0);
      DestroyWindow(level->wnd);
    }
  }

  static void KeepOnScreen(RECT* r) {
    int w = r->right - r->left, h = r->bottom - r->top;
    r->left = std::clamp<LONG>(r->left, 0, std::max(0, ScreenWidth() - w));
    r->top = std::clamp<LONG>(r->top, 0, std::max(0, ScreenHeight() - h));
    r->right = r->left + w;
    r->bottom = r->top + std::min(h, ScreenHeight());
  }

  int LevelAt(POINT p) const {
    for (int i = static_cast<int>(levels_.size()) - 1; i >= 0; --i)
      if (PtInRect(&levels_[static_cast<std::size_t>(i)]->rect, p)) return i;
    return -1;
  }

  static int ItemAt(const Level& level, POINT p) {
    int y = p.y - level.rect.top;
    for (std::size_t i = 0; i < level.items.size(); ++i)
      if (y >= level.items[i].top && y < level.items[i].bottom && !level.items[i].Separator())
        return static_cast<int>(i);
    return -1;
  }

  static int NextSelectable(const Level& level, int from, int step) {
    int n = static_cast<int>(level.items.size());
    if (n == 0) return -1;
    int i = from;
    for (int k = 0; k < n; ++k) {
      i = from < 0 && k == 0 ? (step > 0 ? 0 : n - 1) : ((i + step) % n + n) % n;
      if (!level.items[static_cast<std::size_t>(i)].Separator()) return i;
    }
    return -1;
  }

  static void SetHot(Level& level, int item) {
    if (level.hot == item) return;
    level.hot = item;
    InvalidateRect(level.wnd, nullptr, FALSE);
    UpdateWindow(level.wnd);
  }

  void Choose(UINT id) {
    chosen_ = id;
    done_ = true;
  }

  HWND owner_;
  UINT flags_;
  std::vector<std::unique_ptr<Level>> levels_;
  bool pressed_ = false;
  bool done_ = false;
  bool cancelled_ = false;
  UINT chosen_ = 0;
};

}  // namespace

int TrackMenu(HMENU menu, UINT flags, int x, int y, HWND owner, const TPMPARAMS* params, bool byKey) {
  if (!IsMenu(menu)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  DWORD ownerThread = owner ? GetWindowThreadProcessId(owner, nullptr) : 0;
  if (!owner || !IsWindow(owner) || ownerThread != GetCurrentThreadId() || !GetAncestor(owner, GA_ROOT)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (t_tracker) {  // one menu at a time on a thread
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Tracker tracker(owner, flags);
  t_tracker = &tracker;
  bool shown = tracker.Open(menu, x, y, params, byKey);
  if (shown) {
    struct Alive : PopupInput {
      Tracker& t;
      explicit Alive(Tracker& tr) : t(tr) {}
      void Stylus(UINT m, POINT p) override { t.Stylus(m, p); }
      void KeyDown(UINT vk) override { t.KeyDown(vk); }
      bool Done() const override { return t.Done() || !t.MenusAlive(); }
    } input(tracker);
    RunPopupLoop(tracker.RootWindow(), owner, input);
  }
  t_tracker = nullptr;
  UINT chosen = tracker.Done() && IsWindow(owner) ? tracker.Chosen() : 0;
  if (!shown) return FALSE;
  if (flags & TPM_RETURNCMD) return static_cast<int>(chosen);
  if (chosen && !(flags & TPM_NONOTIFY)) PostMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(chosen), 0), 0);
  return TRUE;
}

HWND TrackedMenuWindow() { return t_tracker ? t_tracker->RootWindow() : nullptr; }

}  // namespace plat::ctl

namespace plat {

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, const TPMPARAMS* params) {
  return ctl::TrackMenu(menu, flags, x, y, owner, params, false);
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  return ctl::TrackMenu(menu, flags, x, y, owner, nullptr, false);
}

BOOL EndMenu() {
  if (!ctl::t_tracker) return FALSE;
  ctl::t_tracker->Cancel();
  return TRUE;
}

}  // namespace plat
