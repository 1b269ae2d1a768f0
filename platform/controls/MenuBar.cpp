// The shell's menu bar and the built-in "aygshell.dll".
#include "platform/controls/MenuBar.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/controls/ControlDrawing.h"
#include "platform/controls/Shell.h"
#include "platform/controls/Popup.h"
#include "platform/controls/PopupMenu.h"
#include "platform/resources/Resources.h"
#include "platform/windows/WindowsInternal.h"

namespace plat {
namespace {

struct Button {
  int id = 0;
  int image = I_IMAGENONE;
  BYTE state = TBSTATE_ENABLED;
  BYTE style = TBSTYLE_BUTTON;
  WORD cx = 0;
  DWORD_PTR data = 0;
  std::u16string text;
};

struct BarState {
  std::vector<Button> buttons;
  HMENU menu = nullptr;  // loaded by SHCreateMenuBar, destroyed with the bar
  int pressed = -1;      // the button held down by the stylus or whose menu is open
  bool pressedInside = false;
  std::map<UINT, WORD> overrides;  // SHMBOF_ flags by key
  std::mutex overridesLock;        // the key router reads overrides from any thread
};

ControlStates<BarState>& All() {
  static auto* bars = new ControlStates<BarState>;
  return *bars;
}

std::shared_ptr<BarState> StateOf(HWND hwnd) { return All().Get(hwnd); }

// The first window of this process owned by owner whose class is one of
// the names (visible ones only when asked), or null.
HWND FindOwned(HWND owner, std::initializer_list<const WCHAR*> classes, bool visibleOnly) {
  struct Search {
    HWND owner;
    std::initializer_list<const WCHAR*> classes;
    bool visibleOnly;
    HWND found;
  } search{owner, classes, visibleOnly, nullptr};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId() || GetWindow(w, GW_OWNER) != s->owner) return TRUE;
        if (s->visibleOnly && !IsWindowVisible(w)) return TRUE;
        WCHAR cls[32] = {};
        GetClassNameW(w, cls, 32);
        for (const WCHAR* name : s->classes)
          if (EqualsNoCase(cls, name)) {
            s->found = w;
            return FALSE;
          }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int IndexOfCommand(const BarState& s, WPARAM id) {
  for (std::size_t i = 0; i < s.buttons.size(); ++i)
    if (s.buttons[i].id == static_cast<int>(id)) return static_cast<int>(i);
  return -1;
}

Button FromTbButton(const TBBUTTON& b) {
  Button out;
  out.id = b.idCommand;
  out.image = b.iBitmap;
  out.state = b.fsState;
  out.style = b.fsStyle;
  out.data = b.dwData;
  if (static_cast<std::uintptr_t>(b.iString) >= 0x10000) out.text = reinterpret_cast<const WCHAR*>(b.iString);
  return out;
}

// The button TB_GETBUTTONINFOW / TB_SETBUTTONINFOW name, or -1.
int Addressed(const BarState& s, WPARAM wParam, DWORD mask) {
  if (mask & TBIF_BYINDEX) return wParam < s.buttons.size() ? static_cast<int>(wParam) : -1;
  return IndexOfCommand(s, wParam);
}

LRESULT GetInfo(const BarState& s, WPARAM wParam, TBBUTTONINFOW* info) {
  if (!info || info->cbSize != sizeof(TBBUTTONINFOW)) return -1;
  int index = Addressed(s, wParam, info->dwMask);
  if (index < 0) return -1;
  const Button& b = s.buttons[static_cast<std::size_t>(index)];
  const DWORD mask = info->dwMask;
  if (mask & TBIF_COMMAND) info->idCommand = b.id;
  if (mask & TBIF_IMAGE) info->iImage = b.image;
  if (mask & TBIF_STATE) info->fsState = b.state;
  if (mask & TBIF_STYLE) info->fsStyle = b.style;
  if (mask & TBIF_SIZE) info->cx = b.cx;
  if (mask & TBIF_LPARAM) info->lParam = b.data;
  if ((mask & TBIF_TEXT) && info->pszText && info->cchText > 0) {
    std::size_t n = std::min<std::size_t>(b.text.size(), static_cast<std::size_t>(info->cchText - 1));
    std::memcpy(info->pszText, b.text.data(), n * sizeof(WCHAR));
    info->pszText[n] = 0;
  }
  return index;
}

LRESULT SetInfo(BarState& s, WPARAM wParam, const TBBUTTONINFOW* info) {
  if (!info || info->cbSize != sizeof(TBBUTTONINFOW)) return FALSE;
  int index = Addressed(s, wParam, info->dwMask);
  if (index < 0) return FALSE;
  Button& b = s.buttons[static_cast<std::size_t>(index)];
  const DWORD mask = info->dwMask;
  if (mask & TBIF_COMMAND) b.id = info->idCommand;
  if (mask & TBIF_IMAGE) b.image = info->iImage;
  if (mask & TBIF_STATE) b.state = info->fsState;
  if (mask & TBIF_STYLE) b.style = info->fsStyle;
  if (mask & TBIF_SIZE) b.cx = info->cx;
  if (mask & TBIF_LPARAM) b.data = info->lParam;
  if (mask & TBIF_TEXT) b.text = info->pszText ? info->pszText : u"";
  return TRUE;
}

// Sets or clears one state bit of the button with the command id.
LRESULT SetStateBit(BarState& s, WPARAM id, BYTE bit, LPARAM on) {
  int index = IndexOfCommand(s, id);
  if (index < 0) return FALSE;
  Button& b = s.buttons[static_cast<std::size_t>(index)];
  b.state = LOWORD(static_cast<std::uintptr_t>(on)) ? static_cast<BYTE>(b.state | bit)
                                                     : static_cast<BYTE>(b.state & ~bit);
  return TRUE;
}

// The buttons of a menu's top level.
std::vector<Button> ButtonsOfMenu(HMENU menu) {
  std::vector<Button> out;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    WCHAR text[256] = {};
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_TYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STATE;
    mii.dwTypeData = text;
    mii.cch = 256;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii)) continue;
    Button b;
    if (mii.fType & MFT_SEPARATOR) {
      b.style = TBSTYLE_SEP;
    } else {
      b.text = text;
    }
    if (mii.hSubMenu) {
      b.id = kMenuBarFirstPopupId + i;
      b.style = TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE;
      b.data = reinterpret_cast<DWORD_PTR>(mii.hSubMenu);
    } else {
      b.id = static_cast<int>(mii.wID);
      if (!(mii.fType & MFT_SEPARATOR)) b.style = TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE;
    }
    if (mii.fState & MFS_GRAYED) b.state = 0;
    out.push_back(std::move(b));
  }
  return out;
}

// A bar resource (RCDATA of 16-bit words): the MENU resource id, the button
// count, then per button its image, command id, state, style, string
// resource id, a reserved word and the position of the pop-up in the menu's
// top level that it opens (kNoMenu: none). False for a malformed one.
constexpr WORD kNoMenu = 0xFFFF;
constexpr std::size_t kWordsPerButton = 7;

bool LoadBarResource(HINSTANCE instance, UINT id, HMENU* menu, std::vector<Button>* buttons) {
  HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (!res) {
    DWORD error = GetLastError();
    ctl::ReportFailure("SHCreateMenuBar", u"no bar resource " + Utf8ToUtf16(std::to_string(id)));
    SetLastError(error);
    return false;
  }
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(instance, res)));
  const std::size_t words = SizeofResource(instance, res) / 2;
  auto word = [bytes](std::size_t i) {
    WORD v;
    std::memcpy(&v, bytes + 2 * i, 2);
    return v;
  };
  if (!bytes || words < 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::size_t count = word(1);
  if (words < 2 + count * kWordsPerButton) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *menu = word(0) ? LoadMenuW(instance, MAKEINTRESOURCEW(word(0))) : nullptr;
  if (word(0) && !*menu) {
    ctl::ReportFailure("SHCreateMenuBar", u"the bar names a missing menu resource " + Utf8ToUtf16(std::to_string(word(0))));
    return false;
  }
  for (std::size_t b = 0; b < count; ++b) {
    const std::size_t at = 2 + b * kWordsPerButton;
    Button button;
    button.image = static_cast<short>(word(at));
    button.id = word(at + 1);
    button.state = static_cast<BYTE>(word(at + 2));
    button.style = static_cast<BYTE>(word(at + 3));
    const WCHAR* text = nullptr;
    int length = word(at + 4) ? LoadStringW(instance, word(at + 4), reinterpret_cast<WCHAR*>(&text), 0) : 0;
    if (word(at + 4) && (length <= 0 || !text)) {
      ctl::ReportFailure("SHCreateMenuBar", u"the bar names a missing string resource " +
                                                Utf8ToUtf16(std::to_string(word(at + 4))));
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return false;
    }
    if (length > 0) button.text.assign(text, static_cast<std::size_t>(length));
    const WORD popup = word(at + 6);
    if (popup != kNoMenu) {
      HMENU sub = *menu ? GetSubMenu(*menu, popup) : nullptr;
      if (!sub) {
        ctl::ReportFailure("SHCreateMenuBar", u"a button opens a pop-up its menu does not have");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      button.data = reinterpret_cast<DWORD_PTR>(sub);
    }
    buttons->push_back(std::move(button));
  }
  return true;
}

FARPROC ResolveShell(const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "#188") == 0 || std::strcmp(name, "SHFindMenuBar") == 0)
    return reinterpret_cast<FARPROC>(&SHFindMenuBar);
  if (std::strcmp(name, "SHCreateMenuBar") == 0) return reinterpret_cast<FARPROC>(&SHCreateMenuBar);
  return ResolveShellEntry(name);  // the shell's other calls (Shell.h)
}

// The shell library is part of the device from the start.
const bool g_shellRegistered = (RegisterShellModule(), true);

}  // namespace

void RegisterShellModule() { RegisterBuiltInModule(u"aygshell.dll", &ResolveShell); }

static LRESULT BarMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    All().Create(hwnd);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  if (msg == WM_NCDESTROY) {
    // The menu goes once the bar's state is out of the table.
    std::shared_ptr<BarState> gone = All().Get(hwnd);
    All().Remove(hwnd);
    if (gone && gone->menu) DestroyMenu(gone->menu);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  std::shared_ptr<BarState> state = StateOf(hwnd);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  BarState& s = *state;
  switch (msg) {
    case TB_BUTTONCOUNT:
      return static_cast<LRESULT>(s.buttons.size());
    case TB_ADDBUTTONSW: {
      const auto* buttons = reinterpret_cast<const TBBUTTON*>(lParam);
      if (!buttons) return FALSE;
      for (WPARAM i = 0; i < wParam; ++i) s.buttons.push_back(FromTbButton(buttons[i]));
      return TRUE;
    }
    case TB_INSERTBUTTONW: {
      const auto* button = reinterpret_cast<const TBBUTTON*>(lParam);
      if (!button) return FALSE;
      std::size_t at = std::min<std::size_t>(wParam, s.buttons.size());
      s.buttons.insert(s.buttons.begin() + static_cast<std::ptrdiff_t>(at), FromTbButton(*button));
      return TRUE;
    }
    case TB_DELETEBUTTON:
      if (wParam >= s.buttons.size()) return FALSE;
      s.buttons.erase(s.buttons.begin() + static_cast<std::ptrdiff_t>(wParam));
      return TRUE;
    case TB_GETBUTTON: {
      auto* out = reinterpret_cast<TBBUTTON*>(lParam);
      if (!out || wParam >= s.buttons.size()) return FALSE;
      const Button& b = s.buttons[wParam];
      *out = TBBUTTON{};
      out->iBitmap = b.image;
      out->idCommand = b.id;
      out->fsState = b.state;
      out->fsStyle = b.style;
      out->dwData = b.data;
      out->iString = reinterpret_cast<INT_PTR>(b.text.c_str());
      return TRUE;
    }
    case TB_COMMANDTOINDEX:
      return IndexOfCommand(s, wParam);
    case TB_GETBUTTONINFOW:
      return GetInfo(s, wParam, reinterpret_cast<TBBUTTONINFOW*>(lParam));
    case TB_SETBUTTONINFOW:
      return SetInfo(s, wParam, reinterpret_cast<const TBBUTTONINFOW*>(lParam));
    case TB_GETBUTTONTEXTW: {
      int index = IndexOfCommand(s, wParam);
      if (index < 0) return -1;
      const std::u16string& t = s.buttons[static_cast<std::size_t>(index)].text;
      if (auto* out = reinterpret_cast<WCHAR*>(lParam)) std::memcpy(out, t.c_str(), (t.size() + 1) * sizeof(WCHAR));
      return static_cast<LRESULT>(t.size());
    }
    case TB_ENABLEBUTTON:
      return SetStateBit(s, wParam, TBSTATE_ENABLED, lParam);
    case TB_CHECKBUTTON:
      return SetStateBit(s, wParam, TBSTATE_CHECKED, lParam);
    case TB_PRESSBUTTON:
      return SetStateBit(s, wParam, TBSTATE_PRESSED, lParam);
    case TB_HIDEBUTTON:
      return SetStateBit(s, wParam, TBSTATE_HIDDEN, lParam);
    case TB_ISBUTTONENABLED: {
      int index = IndexOfCommand(s, wParam);
      return index >= 0 && (s.buttons[static_cast<std::size_t>(index)].state & TBSTATE_ENABLED) ? TRUE : FALSE;
    }
    case TB_GETSTATE: {
      int index = IndexOfCommand(s, wParam);
      return index >= 0 ? s.buttons[static_cast<std::size_t>(index)].state : -1;
    }
    case TB_SETSTATE: {
      int index = IndexOfCommand(s, wParam);
      if (index < 0) return FALSE;
      s.buttons[static_cast<std::size_t>(index)].state = static_cast<BYTE>(LOWORD(static_cast<std::uintptr_t>(lParam)));
      return TRUE;
    }
    case SHCMBM_GETMENU:
      return reinterpret_cast<LRESULT>(s.menu);
    case SHCMBM_GETSUBMENU: {
      int index = IndexOfCommand(s, static_cast<WPARAM>(lParam));
      if (index < 0) return 0;
      auto menu = reinterpret_cast<HMENU>(s.buttons[static_cast<std::size_t>(index)].data);
      return IsMenu(menu) ? reinterpret_cast<LRESULT>(menu) : 0;
    }
    case SHCMBM_SETSUBMENU: {
      int index = IndexOfCommand(s, wParam);
      if (index < 0) return 0;
      Button& b = s.buttons[static_cast<std::size_t>(index)];
      auto previous = reinterpret_cast<HMENU>(b.data);
      b.data = static_cast<DWORD_PTR>(lParam);
      return IsMenu(previous) ? reinterpret_cast<LRESULT>(previous) : 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

namespace {

// The buttons shown, in order, with their rectangles in the bar.
struct Shown {
  int index;
  RECT rect;
};

std::vector<Shown> LayoutButtons(HWND hwnd, const BarState& s) {
  RECT client;
  GetClientRect(hwnd, &client);
  std::vector<int> visible;
  for (std::size_t i = 0; i < s.buttons.size(); ++i) {
    const Button& b = s.buttons[i];
    if (!(b.state & TBSTATE_HIDDEN) && !(b.style & TBSTYLE_SEP)) visible.push_back(static_cast<int>(i));
  }
  std::vector<Shown> out;
  // The soft keys keep their halves even when one of them is hidden: a bar of
  // one shown button still has it on its own side.
  int slots = std::max<int>(2, static_cast<int>(visible.size()));
  int width = client.right / slots;
  for (std::size_t k = 0; k < visible.size(); ++k) {
    int slot = static_cast<int>(k);
    if (visible.size() == 1 && visible[0] >= 1) slot = 1;
    int left = slot * width, right = slot == slots - 1 ? client.right : left + width;
    out.push_back(Shown{visible[k], RECT{left, 0, right, client.bottom}});
  }
  return out;
}

void PaintBar(HWND hwnd, const BarState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r;
  GetClientRect(hwnd, &r);
  const COLORREF face = RGB(236, 238, 242);
  ctl::Fill(dc, r, face);
  ctl::Fill(dc, RECT{0, 0, r.right, ctl::Px(1)}, RGB(96, 104, 120));
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  std::vector<Shown> shown = LayoutButtons(hwnd, s);
  for (const Shown& sh : shown) {
    const Button& b = s.buttons[static_cast<std::size_t>(sh.index)];
    RECT br = sh.rect;
    br.top += ctl::Px(1);
    bool enabled = (b.state & TBSTATE_ENABLED) != 0;
    bool lit = (b.state & (TBSTATE_CHECKED | TBSTATE_PRESSED)) || (s.pressed == sh.index && s.pressedInside);
    if (lit && enabled) ctl::Fill(dc, br, GetSysColor(COLOR_HIGHLIGHT));
    COLORREF ink = !enabled ? GetSysColor(COLOR_GRAYTEXT) : lit ? GetSysColor(COLOR_HIGHLIGHTTEXT) : RGB(0, 0, 0);
    SetTextColor(dc, ink);
    bool drop = (b.style & TBSTYLE_DROPDOWN) || IsMenu(reinterpret_cast<HMENU>(b.data));
    RECT tr = br;
    InflateRect(&tr, -ctl::Px(4), 0);
    if (drop) {
      // The text centred with a small arrow after it: the button opens a menu.
      int arrow = ctl::Px(4), gap = ctl::Px(5);
      int width = std::min<int>(ctl::ItemTextWidth(dc, b.text), tr.right - tr.left - gap - 2 * arrow);
      int left = (tr.left + tr.right - width - gap - 2 * arrow) / 2;
      RECT text{left, tr.top, left + width, tr.bottom};
      ctl::DrawItemText(dc, b.text, text, DT_CENTER);
      ctl::DrawTriangle(dc, POINT{text.right + gap + arrow, (tr.top + tr.bottom) / 2}, arrow, ctl::Pointing::Up, ink);
    } else {
      ctl::DrawItemText(dc, b.text, tr, DT_CENTER);
    }
  }
  // A divider between neighbouring buttons.
  for (std::size_t k = 1; k < shown.size(); ++k) {
    int x = shown[k].rect.left;
    ctl::Fill(dc, RECT{x, ctl::Px(6), x + ctl::Px(1), r.bottom - ctl::Px(5)}, RGB(176, 182, 194));
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

void Redraw(HWND hwnd) {
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateWindow(hwnd);
}

int ButtonAt(HWND hwnd, const BarState& s, POINT p) {
  for (const Shown& sh : LayoutButtons(hwnd, s))
    if (PtInRect(&sh.rect, p)) return sh.index;
  return -1;
}

// What a button does when it is tapped or its soft key pressed.
void Activate(HWND hwnd, const std::shared_ptr<BarState>& state, int index, bool byKey) {
  BarState& s = *state;
  if (index < 0 || static_cast<std::size_t>(index) >= s.buttons.size()) return;
  const Button b = s.buttons[static_cast<std::size_t>(index)];
  if (!(b.state & TBSTATE_ENABLED)) return;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  // A window under a modal one takes no commands from its bar.
  if (!owner || !IsWindowEnabled(owner)) return;
  auto menu = reinterpret_cast<HMENU>(b.data);
  if (!IsMenu(menu)) {
    PostMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(b.id), 0), 0);
    return;
  }
  RECT bar;
  GetWindowRect(hwnd, &bar);
  RECT button{};
  for (const Shown& sh : LayoutButtons(hwnd, s))
    if (sh.index == index) button = sh.rect;
  // The menu opens above the bar, on the side of its button.
  bool right = button.left >= (bar.right - bar.left) / 2;
  s.pressed = index;
  s.pressedInside = true;
  Redraw(hwnd);
  ctl::TrackMenu(menu, TPM_BOTTOMALIGN | (right ? TPM_RIGHTALIGN : TPM_LEFTALIGN),
                 right ? bar.left + button.right : bar.left + button.left, bar.top, owner, nullptr, byKey);
  if (!IsWindow(hwnd)) return;  // the owner went with the bar while the menu was open
  s.pressed = -1;
  s.pressedInside = false;
  Redraw(hwnd);
}

// The index of the button a soft key stands for, -1 for none.
int SoftKeyButton(HWND hwnd, const BarState& s, UINT vk) {
  std::vector<Shown> shown = LayoutButtons(hwnd, s);
  RECT client;
  GetClientRect(hwnd, &client);
  for (const Shown& sh : shown) {
    bool rightHalf = sh.rect.left >= client.right / 2;
    if ((vk == VK_TSOFT1 && !rightHalf) || (vk == VK_TSOFT2 && rightHalf)) return sh.index;
  }
  return -1;
}

// The bar's private message: a soft key went down (wParam the key).
constexpr UINT kSoftKeyMessage = WM_USER + 0x3F0;

// True while a pop-up (menu or drop list) of the window is open.
bool PopupOpenOver(HWND top) { return FindOwned(top, {u"#32768", u"ComboLBox"}, true) != nullptr; }

bool RouteKey(HWND top, UINT vk, bool down, bool repeat) {
  if (vk != VK_TSOFT1 && vk != VK_TSOFT2 && vk != VK_TBACK) return false;
  // A pop-up owned by the window: the top-level window is the pop-up's owner.
  HWND owner = top;
  if (HWND o = GetWindow(top, GW_OWNER)) {
    WCHAR cls[32] = {};
    GetClassNameW(top, cls, 32);
    if (EqualsNoCase(cls, u"#32768") || EqualsNoCase(cls, u"ComboLBox")) owner = o;
  }
  HWND bar = SHFindMenuBar(owner);
  if (!bar || !IsWindowVisible(bar)) return false;
  std::shared_ptr<BarState> s = StateOf(bar);
  if (!s) return false;
  if (vk == VK_TBACK) {
    // Back closes an open pop-up first; its release follows its press.
    static std::atomic<bool> pressTaken{false};
    // A held Back acts once, on its first down: the repeats are taken by a
    // window that took that down and reach none.
    if (down && repeat) return pressTaken.load();
    if (!down && !pressTaken.exchange(false)) return false;
    if (down && PopupOpenOver(owner)) {
      pressTaken = false;
      return false;
    }
    WORD flags = 0;
    {
      std::lock_guard<std::mutex> g(s->overridesLock);
      auto it = s->overrides.find(VK_TBACK);
      if (it != s->overrides.end()) flags = it->second;
    }
    if (down) pressTaken = flags != 0;
    if (flags & SHMBOF_NOTIFY)
      PostMessageW(owner, WM_HOTKEY, 0, MAKELPARAM(down ? 0 : MOD_KEYUP, static_cast<WORD>(VK_TBACK)));
    return (flags & SHMBOF_NODEFAULT) != 0;
  }
  if (down) PostMessageW(bar, kSoftKeyMessage, vk, 0);
  return true;
}

const bool g_routerSet = (wm::SetKeyRouter(&RouteKey), true);

}  // namespace

LRESULT MenuBarWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<BarState> state = msg == WM_NCCREATE ? nullptr : StateOf(hwnd);
  if (!state) return BarMessage(hwnd, msg, wParam, lParam);
  BarState& s = *state;
  switch (msg) {
    case WM_PAINT:
      PaintBar(hwnd, s);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      if (s.pressed >= 0) EndMenu();  // its menu is open: it ends with the bar
      return BarMessage(hwnd, msg, wParam, lParam);
    case WM_LBUTTONDOWN: {
      int index = ButtonAt(hwnd, s, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      if (index < 0 || !(s.buttons[static_cast<std::size_t>(index)].state & TBSTATE_ENABLED)) return 0;
      s.pressed = index;
      s.pressedInside = true;
      SetCapture(hwnd);
      Redraw(hwnd);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (s.pressed < 0 || GetCapture() != hwnd) return 0;
      bool inside = ButtonAt(hwnd, s, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}) == s.pressed;
      if (inside != s.pressedInside) {
        s.pressedInside = inside;
        Redraw(hwnd);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      if (s.pressed < 0 || GetCapture() != hwnd) return 0;
      int index = s.pressed;
      bool inside = ButtonAt(hwnd, s, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}) == index;
      ReleaseCapture();
      s.pressed = -1;
      s.pressedInside = false;
      Redraw(hwnd);
      if (inside) Activate(hwnd, state, index, false);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (s.pressed >= 0 && GetCapture() != hwnd && !ctl::TrackedMenuWindow()) {
        s.pressed = -1;
        s.pressedInside = false;
        Redraw(hwnd);
      }
      return 0;
    case kSoftKeyMessage:
      // The soft key of an open menu closes it; another opens its own.
      if (ctl::TrackedMenuWindow()) {
        EndMenu();
        return 0;
      }
      Activate(hwnd, state, SoftKeyButton(hwnd, s, static_cast<UINT>(wParam)), true);
      return 0;
    case SHCMBM_OVERRIDEKEY: {
      WORD mask = LOWORD(static_cast<std::uintptr_t>(lParam)), values = HIWORD(static_cast<std::uintptr_t>(lParam));
      std::lock_guard<std::mutex> g(s.overridesLock);
      WORD& flags = s.overrides[static_cast<UINT>(wParam)];
      flags = static_cast<WORD>((flags & ~mask) | (values & mask));
      return TRUE;
    }
    case TB_ADDBUTTONSW:
    case TB_INSERTBUTTONW:
    case TB_DELETEBUTTON:
    case TB_SETBUTTONINFOW:
    case TB_ENABLEBUTTON:
    case TB_CHECKBUTTON:
    case TB_PRESSBUTTON:
    case TB_HIDEBUTTON:
    case TB_SETSTATE:
    case SHCMBM_SETSUBMENU: {
      LRESULT r = BarMessage(hwnd, msg, wParam, lParam);
      Redraw(hwnd);  // shown at once
      return r;
    }
    default:
      return BarMessage(hwnd, msg, wParam, lParam);
  }
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info || info->cbSize != sizeof(SHMENUBARINFO) || !IsWindow(info->hwndParent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hwndMB = nullptr;
  HMENU menu = nullptr;
  std::vector<Button> buttons;
  if (info->dwFlags & SHCMBF_EMPTYBAR) {
    // No buttons.
  } else if (info->dwFlags & SHCMBF_HMENU) {
    menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId));
    if (!menu) {
      DWORD error = GetLastError();
      ctl::ReportFailure("SHCreateMenuBar", u"no menu resource " + Utf8ToUtf16(std::to_string(info->nToolBarId)));
      SetLastError(error);
      return FALSE;
    }
    buttons = ButtonsOfMenu(menu);
  } else if (!LoadBarResource(info->hInstRes, info->nToolBarId, &menu, &buttons)) {
    if (menu) DestroyMenu(menu);
    return FALSE;
  }
  const int height = std::max(1, 26 * ScreenDpi() / 96);
  DWORD style = WS_POPUP | ((info->dwFlags & SHCMBF_HIDDEN) ? 0 : WS_VISIBLE);
  // Above its owner, never taking the keys from it.
  HWND bar = CreateWindowExW(WS_EX_NOACTIVATE, kMenuBarClassName, u"", style, 0, ScreenHeight() - height, ScreenWidth(), height,
                             info->hwndParent, nullptr, info->hInstRes, nullptr);
  if (!bar) {
    if (menu) DestroyMenu(menu);
    return FALSE;
  }
  if (std::shared_ptr<BarState> s = StateOf(bar)) {
    s->menu = menu;
    s->buttons = std::move(buttons);
  }
  info->hwndMB = bar;
  return TRUE;
}

HWND SHFindMenuBar(HWND hwnd) {
  if (!hwnd || !IsWindow(hwnd)) return nullptr;
  return FindOwned(hwnd, {kMenuBarClassName}, false);
}

}  // namespace plat
