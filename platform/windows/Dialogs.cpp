// The dialog manager (templates, modal loops, keyboard navigation), the
// built-in static and button classes, and message boxes.
#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/base/Format.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/base/Text.h"
#include "platform/resources/Resources.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

bool IsPush(DWORD style) {
  DWORD t = style & BS_TYPEMASK;
  return t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON;
}

LRESULT CALLBACK_Dialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) { return DefDlgProcW(hwnd, msg, wParam, lParam); }

void AddBuiltin(const char16_t* name, ATOM atom, WNDPROC proc, int extra, HBRUSH brush) {
  auto c = std::make_shared<ClassInfo>();
  c->name = name;
  c->atom = atom;
  c->builtin = true;
  c->wc.lpfnWndProc = proc;
  c->wc.cbWndExtra = extra;
  c->wc.hbrBackground = brush;
  c->wc.style = CS_GLOBALCLASS;
  c->wc.lpszClassName = c->name.c_str();
  W().classes.push_back(c);
}

}  // namespace

void EnsureBuiltinClasses() {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  for (auto& c : W().classes)
    if (c->builtin) return;
  AddBuiltin(u"#32770", 0x8002, CALLBACK_Dialog, DLGWINDOWEXTRA, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  AddBuiltin(u"static", 0x8003, StaticWndProc, 0, nullptr);
  AddBuiltin(u"button", 0x8004, ButtonWndProc, 0, nullptr);
  AddBuiltin(u"edit", 0x8007, EditWndProc, 0, nullptr);
  AddBuiltin(u"combobox", 0x8005, ComboBoxWndProc, 0, nullptr);
  AddBuiltin(u"menu_worker", 0x8006, MenuBarWndProc, 0, nullptr);
}

namespace {

// Dialog templates as bytes.
class Reader {
 public:
  Reader(const BYTE* p) : base_(p), p_(p) {}
  WORD Word() {
    WORD v;
    std::memcpy(&v, p_, 2);
    p_ += 2;
    return v;
  }
  DWORD Dword() {
    DWORD v;
    std::memcpy(&v, p_, 4);
    p_ += 4;
    return v;
  }
  short Short() { return static_cast<short>(Word()); }
  std::u16string Text() {
    std::u16string s;
    for (WORD c; (c = Word()) != 0;) s.push_back(static_cast<char16_t>(c));
    return s;
  }
  // A name or an ordinal (0xFFFF, number); 0 alone means none.
  void NameOrId(std::u16string* name, WORD* id) {
    WORD first;
    std::memcpy(&first, p_, 2);
    *id = 0;
    name->clear();
    if (first == 0xFFFF) {
      p_ += 2;
      *id = Word();
    } else {
      *name = Text();
    }
  }
  void Align4() {
    auto off = static_cast<std::size_t>(p_ - base_);
    p_ += (4 - off % 4) % 4;
  }
  void Skip(std::size_t n) { p_ += n; }

 private:
  const BYTE* base_;
  const BYTE* p_;
};

struct Item {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::u16string cls;
  std::u16string text;
};

struct Template {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::u16string cls, caption;
  std::vector<Item> items;
};

Template Parse(const DLGTEMPLATE* t) {
  Template out;
  Reader r(reinterpret_cast<const BYTE*>(t));
  WORD w0 = r.Word(), w1 = r.Word();
  bool ex = w0 == 1 && w1 == 0xFFFF;
  if (ex) {
    r.Dword();  // help id
    out.exStyle = r.Dword();
    out.style = r.Dword();
  } else {
    out.style = static_cast<DWORD>(w0) | (static_cast<DWORD>(w1) << 16);
    out.exStyle = r.Dword();
  }
  WORD count = r.Word();
  out.x = r.Short();
  out.y = r.Short();
  out.cx = r.Short();
  out.cy = r.Short();
  std::u16string menu;
  WORD menuId, clsId;
  r.NameOrId(&menu, &menuId);
  r.NameOrId(&out.cls, &clsId);
  if (clsId) out.cls.clear();
  out.caption = r.Text();
  if (out.style & DS_SETFONT) {
    r.Word();
    if (ex) {
      r.Word();
      r.Skip(2);
    }
    r.Text();
  }
  for (WORD i = 0; i < count; ++i) {
    r.Align4();
    Item it;
    if (ex) {
      r.Dword();
      it.exStyle = r.Dword();
      it.style = r.Dword();
    } else {
      it.style = r.Dword();
      it.exStyle = r.Dword();
    }
    it.x = r.Short();
    it.y = r.Short();
    it.cx = r.Short();
    it.cy = r.Short();
    it.id = ex ? r.Dword() : r.Word();
    WORD atom;
    r.NameOrId(&it.cls, &atom);
    switch (atom) {
      case 0x80: it.cls = u"button"; break;
      case 0x81: it.cls = u"edit"; break;
      case 0x82: it.cls = u"static"; break;
      case 0x83: it.cls = u"listbox"; break;
      case 0x84: it.cls = u"scrollbar"; break;
      case 0x85: it.cls = u"combobox"; break;
      default: break;
    }
    WORD textId;
    r.NameOrId(&it.text, &textId);
    if (textId) it.text = u"#" + Utf8ToUtf16(std::to_string(textId));  // an icon static's resource
    WORD extra = r.Word();
    r.Skip(extra);
    out.items.push_back(std::move(it));
  }
  return out;
}

RECT DialogUnits(int x, int y, int cx, int cy) {
  int dpi = ScreenDpi();
  int bx = std::max(1, dpi / 16), by = std::max(1, dpi * 13 / 96);
  return RECT{x * bx / 4, y * by / 8, (x + cx) * bx / 4, (y + cy) * by / 8};
}

HWND FirstTabStop(HWND dialog) { return GetNextDlgTabItem(dialog, nullptr, FALSE); }

HWND CreateFromTemplate(HINSTANCE instance, const DLGTEMPLATE* dt, HWND owner, DLGPROC proc, LPARAM init) {
  if (!dt) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Template t = Parse(dt);
  RECT r = DialogUnits(t.x, t.y, t.cx, t.cy);
  if (t.style & WS_CHILD) {
    // A child dialog sits inside its parent.
  } else if ((t.style & DS_CENTER) || true) {
    // Top-level dialogs are placed in the middle of the screen when they fit.
    int w = r.right - r.left, h = r.bottom - r.top;
    if (t.style & DS_CENTER) {
      r.left = (ScreenWidth() - w) / 2;
      r.top = (ScreenHeight() - h) / 2;
      r.right = r.left + w;
      r.bottom = r.top + h;
    }
  }
  const WCHAR* cls = t.cls.empty() ? WC_DIALOG : t.cls.c_str();
  DWORD visible = t.style & WS_VISIBLE;
  HWND dlg = CreateWindowExW(t.exStyle, cls, t.caption.c_str(), t.style & ~WS_VISIBLE, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, owner, nullptr, instance, nullptr);
  if (!dlg) return nullptr;
  SetWindowLongW(dlg, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  for (const Item& it : t.items) {
    RECT ir = DialogUnits(it.x, it.y, it.cx, it.cy);
    HWND c = CreateWindowExW(it.exStyle, it.cls.c_str(), it.text.c_str(), it.style | WS_CHILD, ir.left, ir.top,
                             ir.right - ir.left, ir.bottom - ir.top, dlg,
                             reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(it.id & 0xFFFF)), instance, nullptr);
    if (!c) {
      if (t.style & DS_NOFAILCREATE) continue;
      DestroyWindow(dlg);
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  }
  HWND first = FirstTabStop(dlg);
  LRESULT focus = SendMessageW(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), init);
  if (!IsWindow(dlg)) return nullptr;
  if (focus && first) SetFocus(first);
  if (visible) ShowWindow(dlg, SW_SHOW);
  return dlg;
}

bool Ended(HWND dlg) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(dlg);
  return !w || w->dialogEnded;
}

// The owner is disabled before the dialog shows, so whoever sees the dialog
// sees its owner disabled; initialFocus (when given) has the focus before the
// dialog shows, so a key pressed as soon as it is on the screen reaches it;
// shown (when given) runs once the dialog is visible.
INT_PTR RunModal(HWND dlg, HWND owner, const std::function<void()>& shown = {}, HWND initialFocus = nullptr) {
  HWND ownerTop = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
  ModalFocus focus(owner);
  bool reenable = ownerTop && IsWindowEnabled(ownerTop) && !EnableWindow(ownerTop, FALSE);
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(dlg)) {
      w->inModalLoop = true;
      w->modalOwner = reenable ? HandleToValue(ownerTop) : 0;
      w->modalFocus = HandleToValue(focus.Focus());
    }
  }
  if (initialFocus) SetFocus(initialFocus);
  if (!Ended(dlg)) ShowWindow(dlg, SW_SHOW);
  if (shown) shown();
  MSG m;
  while (!Ended(dlg)) {
    BOOL r = GetMessageW(&m, nullptr, 0, 0);
    if (r <= 0) {
      if (r == 0) PostQuitMessage(static_cast<int>(m.wParam));  // the outer loop sees it too
      break;
    }
    if (!IsDialogMessageW(dlg, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  INT_PTR result = -1;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(dlg)) result = w->dialogEnded ? w->dialogResult : 0;
  }
  bool returned = false;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(dlg)) returned = w->dialogEnded && w->modalOwner == 0;
  }
  if (reenable && !IsWindowEnabled(ownerTop)) EnableWindow(ownerTop, TRUE);
  // Ended by EndDialog on this thread, the owner already has the focus back.
  if (!returned) focus.Return();
  if (IsWindow(dlg)) DestroyWindow(dlg);
  return result;
}

HWND DefaultButton(HWND dlg) {
  LRESULT def = SendMessageW(dlg, DM_GETDEFID, 0, 0);
  if (HIWORD(static_cast<std::uintptr_t>(def)) == DC_HASDEFID) return GetDlgItem(dlg, LOWORD(static_cast<std::uintptr_t>(def)));
  return nullptr;
}

}  // namespace
}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

LRESULT DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<DLGPROC>(GetWindowLongW(dialog, DWL_DLGPROC));
  if (proc) {
    SetWindowLongW(dialog, DWL_MSGRESULT, 0);
    INT_PTR r = proc(dialog, msg, wParam, lParam);
    if (r) {
      switch (msg) {
        case WM_INITDIALOG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
          return r;
        default:
          return GetWindowLongW(dialog, DWL_MSGRESULT);
      }
    }
    if (!IsWindow(dialog)) return 0;
  }
  switch (msg) {
    case WM_INITDIALOG:
      return 0;
    case DM_GETDEFID: {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* d = Find(dialog);
      if (!d) return 0;
      for (Window* c : d->children)
        if ((c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && c->cls->name == u"button")
          return MAKELRESULT(static_cast<WORD>(c->id), DC_HASDEFID);
      return 0;
    }
    case DM_SETDEFID: {
      std::vector<HWND> buttons;
      {
        std::lock_guard<std::recursive_mutex> g(W().lock);
        Window* d = Find(dialog);
        if (!d) return FALSE;
        for (Window* c : d->children)
          if (c->cls->name == u"button" && IsPush(c->style)) buttons.push_back(ValueToHandle(c->handle));
      }
      for (HWND b : buttons)
        SendMessageW(b, BM_SETSTYLE, GetDlgCtrlID(b) == static_cast<int>(wParam) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
      return TRUE;
    }
    case WM_CLOSE:
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return 0;
    case WM_NEXTDLGCTL: {
      HWND next = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(dialog, GetFocus(), wParam ? TRUE : FALSE);
      if (next) SetFocus(next);
      return 0;
    }
    case WM_SETFOCUS: {
      HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
      if (first) SetFocus(first);
      return 0;
    }
    default:
      return DefWindowProcW(dialog, msg, wParam, lParam);
  }
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<DWORD> stops;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* d = Find(dialog);
    if (!d) return nullptr;
    for (Window* c : d->children)
      if ((c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) stops.push_back(c->handle);
  }
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), HandleToValue(control));
  if (it == stops.end()) return ValueToHandle(previous ? stops.back() : stops.front());
  std::size_t i = static_cast<std::size_t>(it - stops.begin());
  std::size_t n = stops.size();
  return ValueToHandle(stops[previous ? (i + n - 1) % n : (i + 1) % n]);
}

BOOL IsDialogMessageW(HWND dialog, MSG* msg) {
  if (!msg || !dialog) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  bool key = msg->message == WM_KEYDOWN || msg->message == WM_CHAR;
  if (key) {
    UINT vk = static_cast<UINT>(msg->wParam);
    LRESULT code = SendMessageW(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
    bool special = msg->message == WM_KEYDOWN ? (vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE)
                                              : (vk == u'\t' || vk == u'\r' || vk == 27);
    if (special && !(code & DLGC_WANTALLKEYS) && !(vk == VK_TAB && (code & DLGC_WANTTAB))) {
      if (msg->message == WM_CHAR) return TRUE;  // the key was handled as a key
      // A held Back (escape) cancels once.
      if (vk == VK_ESCAPE && IsRepeatedKeyDown(msg->lParam)) return TRUE;
      if (vk == VK_TAB) {
        HWND next = GetNextDlgTabItem(dialog, GetFocus(), (GetKeyState(VK_SHIFT) & 0x8000) ? TRUE : FALSE);
        if (next) SetFocus(next);
        return TRUE;
      }
      if (vk == VK_RETURN) {
        HWND focus = GetFocus();
        LRESULT fc = focus && IsChild(dialog, focus) ? SendMessageW(focus, WM_GETDLGCODE, 0, 0) : 0;
        HWND target = (fc & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) ? focus : DefaultButton(dialog);
        int id = target ? GetDlgCtrlID(target) : IDOK;
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(target ? target : GetDlgItem(dialog, IDOK)));
        return TRUE;
      }
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return TRUE;
    }
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return TRUE;
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM init) {
  HWND dlg = CreateFromTemplate(instance, dialogTemplate, owner, proc, init);
  if (!dlg) return -1;
  return RunModal(dlg, owner);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM init) {
  return CreateFromTemplate(instance, dialogTemplate, owner, proc, init);
}

namespace {
const DLGTEMPLATE* LoadTemplate(HINSTANCE instance, const WCHAR* name) {
  HRSRC res = FindResourceW(instance, name, RT_DIALOG);
  if (!res) return nullptr;
  return static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(instance, res)));
}
}  // namespace

INT_PTR DialogBoxParamW(HINSTANCE instance, const WCHAR* name, HWND owner, DLGPROC proc, LPARAM init) {
  const DLGTEMPLATE* t = LoadTemplate(instance, name);
  if (!t) return -1;
  return DialogBoxIndirectParamW(instance, t, owner, proc, init);
}

HWND CreateDialogParamW(HINSTANCE instance, const WCHAR* name, HWND owner, DLGPROC proc, LPARAM init) {
  const DLGTEMPLATE* t = LoadTemplate(instance, name);
  if (!t) return nullptr;
  return CreateDialogIndirectParamW(instance, t, owner, proc, init);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  HWND owner = nullptr, focus = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(dialog);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    w->dialogEnded = true;
    w->dialogResult = result;
    if (w->inModalLoop && w->modalOwner && w->queue == CurrentQueue()) {
      owner = ValueToHandle(w->modalOwner);
      focus = ValueToHandle(w->modalFocus);
      w->modalOwner = 0;
    }
  }
  // The modal loop looks at the end after each message it fetches; a posted
  // one wakes it even when the end came from a message sent to the dialog.
  PostMessageW(dialog, WM_NULL, 0, 0);
  // The owner is enabled and takes the keys again before the dialog leaves
  // the screen, so that no key pressed in between goes astray.
  if (owner && IsWindow(owner)) {
    EnableWindow(owner, TRUE);
    ReturnModalFocus(owner, focus);
  }
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

BOOL SetDlgItemTextW(HWND dialog, int id, const WCHAR* text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, WCHAR* text, int cch) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (text && cch > 0) text[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, text, cch));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string s = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  std::u16string t(s.begin(), s.end());
  return SetDlgItemTextW(dialog, id, t.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  WCHAR buf[32];
  GetDlgItemTextW(dialog, id, buf, 32);
  std::u16string t(buf);
  std::size_t i = 0;
  bool neg = false;
  if (isSigned && i < t.size() && t[i] == u'-') {
    neg = true;
    ++i;
  }
  if (i >= t.size()) {
    if (translated) *translated = FALSE;
    return 0;
  }
  unsigned long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < u'0' || t[i] > u'9' || v > 0xFFFFFFFFull) {
      if (translated) *translated = FALSE;
      return 0;
    }
    v = v * 10 + static_cast<unsigned>(t[i] - u'0');
  }
  if (v > (isSigned ? 0x80000000ull : 0xFFFFFFFFull) || (isSigned && !neg && v > 0x7FFFFFFFull)) {
    if (translated) *translated = FALSE;
    return 0;
  }
  if (translated) *translated = TRUE;
  return neg ? static_cast<UINT>(-static_cast<long long>(v)) : static_cast<UINT>(v);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, msg, wParam, lParam) : 0;
}

BOOL MapDialogRect(HWND, RECT* rect) {
  if (!rect) return FALSE;
  int dpi = ScreenDpi();
  int bx = std::max(1, dpi / 16), by = std::max(1, dpi * 13 / 96);
  rect->left = rect->left * bx / 4;
  rect->right = rect->right * bx / 4;
  rect->top = rect->top * by / 8;
  rect->bottom = rect->bottom * by / 8;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Message boxes

namespace {

std::mutex& AnswererLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
MessageBoxAnswerer& Answerer() {
  static auto* a = new MessageBoxAnswerer;
  return *a;
}
std::atomic<DWORD> g_openBox{0};

struct BoxButtons {
  std::vector<std::pair<int, const char16_t*>> buttons;
};

BoxButtons ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}}};
    case MB_ABORTRETRYIGNORE: return {{{IDABORT, u"Abort"}, {IDRETRY, u"Retry"}, {IDIGNORE, u"Ignore"}}};
    case MB_YESNOCANCEL: return {{{IDYES, u"Yes"}, {IDNO, u"No"}, {IDCANCEL, u"Cancel"}}};
    case MB_YESNO: return {{{IDYES, u"Yes"}, {IDNO, u"No"}}};
    case MB_RETRYCANCEL: return {{{IDRETRY, u"Retry"}, {IDCANCEL, u"Cancel"}}};
    default: return {{{IDOK, u"OK"}}};
  }
}

constexpr int kCaptionId = 0xFFFE;
constexpr int kIconId = 0xFFFD;

// The box's icon by its MB_ICON* kind: a red stop sign, a yellow warning
// triangle, a blue question or information disc.
LRESULT CALLBACK_BoxIcon(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcW(hwnd, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r;
  GetClientRect(hwnd, &r);
  FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
  UINT kind = static_cast<UINT>(GetWindowLongW(hwnd, GWL_USERDATA));
  int size = std::min(r.right, r.bottom);
  COLORREF fill = kind == MB_ICONHAND ? RGB(204, 0, 0) : kind == MB_ICONEXCLAMATION ? RGB(255, 204, 0) : RGB(0, 82, 165);
  HBRUSH brush = CreateSolidBrush(fill);
  HPEN pen = CreatePen(PS_SOLID, 1, kind == MB_ICONEXCLAMATION ? RGB(0, 0, 0) : fill);
  HGDIOBJ ob = SelectObject(dc, brush), op = SelectObject(dc, pen);
  if (kind == MB_ICONEXCLAMATION) {
    POINT tri[3] = {{size / 2, 0}, {size - 1, size - 1}, {0, size - 1}};
    Polygon(dc, tri, 3);
  } else {
    Ellipse(dc, 0, 0, size, size);
  }
  SelectObject(dc, ob);
  SelectObject(dc, op);
  DeleteObject(brush);
  DeleteObject(pen);
  const char16_t* mark = kind == MB_ICONHAND ? u"X" : kind == MB_ICONEXCLAMATION ? u"!" : kind == MB_ICONQUESTION ? u"?" : u"i";
  LOGFONTW lf{};
  lf.lfHeight = -size * 3 / 5;
  lf.lfWeight = FW_BOLD;
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ of = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kind == MB_ICONEXCLAMATION ? RGB(0, 0, 0) : RGB(255, 255, 255));
  RECT tr{0, kind == MB_ICONEXCLAMATION ? size / 6 : 0, size, size};
  DrawTextW(dc, mark, -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, of);
  DeleteObject(font);
  EndPaint(hwnd, &ps);
  return 0;
}

INT_PTR BoxProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_PAINT) {  // white with a 1-px dark frame
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dlg, &ps);
    RECT r;
    GetClientRect(dlg, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    EndPaint(dlg, &ps);
    return TRUE;
  }
  if (msg == WM_CTLCOLORSTATIC && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kCaptionId) {
    // The title strip: white on the selection blue.
    SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_HIGHLIGHTTEXT));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_HIGHLIGHT));
  }
  if (msg != WM_COMMAND) return FALSE;
  int id = LOWORD(wParam);
  HWND b = GetDlgItem(dlg, id);
  if (b) {
    EndDialog(dlg, id);
    return TRUE;
  }
  if (id == IDCANCEL) {
    // Without a cancel button, escape answers with the only button there is.
    HWND only = GetWindow(dlg, GW_CHILD);
    int count = 0;
    HWND single = nullptr;
    for (HWND c = only; c; c = GetWindow(c, GW_HWNDNEXT)) {
      if (GetDlgCtrlID(c) > 0 && GetDlgCtrlID(c) < 100) {
        ++count;
        single = c;
      }
    }
    if (count == 1) EndDialog(dlg, GetDlgCtrlID(single));
  }
  return TRUE;
}

}  // namespace

MessageBoxGeometry LayOutMessageBox(const std::u16string& text, UINT type) {
  MessageBoxGeometry g;
  const int sw = ScreenWidth(), sh = ScreenHeight(), dpi = ScreenDpi();
  g.width = sw * 9 / 10;
  g.pad = std::max(4, sh / 60);
  g.buttonHeight = std::max(12, sh / 15);
  g.captionHeight = std::max(12, dpi * 22 / 96);
  const UINT icon = type & 0xF0;
  const bool hasIcon =
      icon == MB_ICONHAND || icon == MB_ICONQUESTION || icon == MB_ICONEXCLAMATION || icon == MB_ICONINFORMATION;
  g.iconSize = hasIcon ? dpi * 32 / 96 : 0;
  const int textLeft = hasIcon ? 2 * g.pad + g.iconSize : g.pad;
  // The text is measured as the box's label draws it (word-wrapped, in the
  // dialog font), so every line of it fits.
  RECT r{0, 0, std::max(1, g.width - textLeft - g.pad), 0};
  if (HDC dc = CreateCompatibleDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  const int chrome = g.captionHeight + 3 * g.pad + g.buttonHeight;
  g.textHeight = std::max<int>(r.bottom - r.top, g.iconSize);
  // At least a third of the screen as before; a longer text makes the box
  // taller, up to the whole screen (the label then shows what fits).
  g.height = std::min(sh, std::max(sh / 3, chrome + g.textHeight));
  g.textHeight = g.height - chrome;
  g.left = (sw - g.width) / 2;
  g.top = (sh - g.height) / 2;
  return g;
}

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
  std::lock_guard<std::mutex> g(AnswererLock());
  Answerer() = std::move(answerer);
}

int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type) {
  MessageBoxAnswerer answer;
  {
    std::lock_guard<std::mutex> g(AnswererLock());
    answer = Answerer();
  }
  std::u16string t = text ? text : u"", c = caption ? caption : u"Error";
  if (answer) return answer(owner, t, c, type);

  const MessageBoxGeometry geo = LayOutMessageBox(t, type);
  const int w = geo.width, h = geo.height, pad = geo.pad, bh = geo.buttonHeight, captionH = geo.captionHeight;
  HWND dlg = CreateWindowExW(WS_EX_TOPMOST, WC_DIALOG, c.c_str(), WS_POPUP | WS_BORDER, geo.left, geo.top, w, h,
                             owner, nullptr, nullptr, nullptr);
  if (!dlg) return 0;
  SetWindowLongW(dlg, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&BoxProc));
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  // The frame, the title strip, the icon and the text; the buttons below.
  HWND title = CreateWindowExW(0, u"static", (u" " + c).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | 0x200 /* SS_CENTERIMAGE */,
                                 1, 1, w - 2, captionH, dlg, reinterpret_cast<HMENU>(std::uintptr_t{kCaptionId}), nullptr, nullptr);
  SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  int textLeft = pad;
  UINT icon = type & 0xF0;
  if (icon == MB_ICONHAND || icon == MB_ICONQUESTION || icon == MB_ICONEXCLAMATION || icon == MB_ICONINFORMATION) {
    static std::once_flag once;
    std::call_once(once, [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = CALLBACK_BoxIcon;
      wc.lpszClassName = u"MessageBoxIcon";
      RegisterClassW(&wc);
    });
    int size = geo.iconSize;
    HWND iconWnd = CreateWindowExW(0, u"MessageBoxIcon", u"", WS_CHILD | WS_VISIBLE, pad, captionH + pad, size, size, dlg,
                                   reinterpret_cast<HMENU>(std::uintptr_t{kIconId}), nullptr, nullptr);
    SetWindowLongW(iconWnd, GWL_USERDATA, static_cast<LONG_PTR>(icon));
    textLeft = 2 * pad + size;
  }
  HWND label = CreateWindowExW(0, u"static", t.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, textLeft, captionH + pad,
                               w - textLeft - pad, geo.textHeight, dlg, reinterpret_cast<HMENU>(std::uintptr_t{0xFFFF}), nullptr, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  BoxButtons bs = ButtonsOf(type);
  std::size_t def = ((type & MB_DEFMASK) >> 8);
  if (def >= bs.buttons.size()) def = 0;
  int n = static_cast<int>(bs.buttons.size());
  int bw = (w - (n + 1) * pad) / n;
  HWND focus = nullptr;
  for (int i = 0; i < n; ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (static_cast<std::size_t>(i) == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND b = CreateWindowExW(0, u"button", bs.buttons[i].second, style, pad + i * (bw + pad), h - bh - pad, bw, bh, dlg,
                             reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(bs.buttons[i].first)), nullptr, nullptr);
    SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    if (static_cast<std::size_t>(i) == def) focus = b;
  }
  // The default button has the focus before the box shows: a key pressed as
  // soon as the box is on the screen reaches it, not the owner's control
  // that had the focus (which gets it back when the box closes).
  INT_PTR r = RunModal(dlg, owner, [&] {
    if (focus && GetFocus() != focus) SetFocus(focus);
    g_openBox = HandleToValue(dlg);
  }, focus);
  g_openBox = 0;
  return static_cast<int>(r);
}

BOOL GetOpenMessageBoxForTesting(HWND* box) {
  DWORD b = g_openBox;
  if (box) *box = ValueToHandle(b);
  return b ? TRUE : FALSE;
}

}  // namespace plat
