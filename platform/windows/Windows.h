// The window manager of the handheld: window classes and procedures, windows
// (parents, owners, styles, text, longs, properties, geometry, z-order), one
// message queue per thread, sends and posts across threads and processes,
// timers, invalidation and painting over GDI, focus, capture, injected input,
// dialogs from templates and message boxes.
//
// Window handles are 31-bit numbers unique on the device (they fit "-hwnd:%i"
// and a message parameter). Top-level windows are listed device-wide (class,
// title, position, visibility, z-order, owner process), so FindWindowW sees
// every process's windows; PostMessageW, SendMessageW, SendNotifyMessageW and
// SendMessageTimeoutW to another process's window travel over that process's
// socket and carry integers only (message, wParam, lParam): pointers in them
// mean nothing on the other side. A window procedure always runs on the thread
// that created the window.
//
// Timers run on the clock of platform/base/Time.h. A test that installs a
// ManualClock moves time with ManualClock::Advance and then calls
// WakeMessageQueues(), so threads blocked in GetMessageW look at their timers
// again; PeekMessageW looks at the clock by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/Handle.h"
#include "platform/base/Module.h"
#include "platform/base/Types.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/SystemMetrics.h"

namespace plat {

using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using ATOM = WORD;
using DWORD_PTR = std::uintptr_t;
struct MenuHandle__;
using HMENU = MenuHandle__*;

using WNDPROC = LRESULT (*)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
using DLGPROC = INT_PTR (*)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
using TIMERPROC = void (*)(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
using WNDENUMPROC = BOOL (*)(HWND hwnd, LPARAM lParam);

// The number of a handle and back (handles travel as integers).
inline DWORD HandleToValue(HWND hwnd) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(hwnd)); }
inline HWND ValueToHandle(DWORD value) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value)); }

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<WPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16)); }
constexpr LPARAM MAKELPARAM(WORD lo, WORD hi) { return static_cast<LPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16)); }
constexpr LRESULT MAKELRESULT(WORD lo, WORD hi) { return static_cast<LRESULT>(MAKELPARAM(lo, hi)); }
// Signed coordinates of mouse messages.
constexpr int GET_X_LPARAM(LPARAM lp) { return static_cast<short>(LOWORD(static_cast<std::uintptr_t>(lp))); }
constexpr int GET_Y_LPARAM(LPARAM lp) { return static_cast<short>(HIWORD(static_cast<std::uintptr_t>(lp))); }
inline const WCHAR* MAKEINTATOM(ATOM atom) {
  return reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(atom));
}

// ---------------------------------------------------------------------------
// Messages

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_CANCELMODE = 0x001F;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_HELP = 0x0053;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_GETDLGCODE = 0x0087;
constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_KEYLAST = 0x0108;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEFIRST = 0x0200;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_MOUSELAST = 0x0209;
constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM WA_INACTIVE = 0;
constexpr WPARAM WA_ACTIVE = 1;
constexpr WPARAM SIZE_RESTORED = 0;

// Virtual keys.
constexpr UINT VK_LBUTTON = 0x01;  // the stylus
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_TAB = 0x09;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_SHIFT = 0x10;
constexpr UINT VK_CONTROL = 0x11;
constexpr UINT VK_ESCAPE = 0x1B;
constexpr UINT VK_SPACE = 0x20;
constexpr UINT VK_PRIOR = 0x21;
constexpr UINT VK_NEXT = 0x22;
constexpr UINT VK_END = 0x23;
constexpr UINT VK_HOME = 0x24;
constexpr UINT VK_LEFT = 0x25;
constexpr UINT VK_UP = 0x26;
constexpr UINT VK_RIGHT = 0x27;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT VK_DELETE = 0x2E;
constexpr UINT VK_F1 = 0x70;
// Keys pressed now, as injected (high bit set when down).
short GetKeyState(int vk);
short GetAsyncKeyState(int vk);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

// ---------------------------------------------------------------------------
// Classes

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_GLOBALCLASS = 0x4000;

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const WCHAR* lpszMenuName;
  const WCHAR* lpszClassName;
};

// Class names compare ignoring case. Registering a name twice fails with
// ERROR_CLASS_ALREADY_EXISTS. The built-in classes ("static", "button",
// "combobox" (platform/controls/ComboBox.h), the shell's menu bar "menu_worker"
// (platform/controls/MenuBar.h) and the dialog class, atom 0x8002 "#32770") are
// always there; their information can
// be read with GetClassInfoW and registered again under another name
// (superclassing).
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_WINDOW_OF_OTHER_THREAD = 1408;
ATOM RegisterClassW(const WNDCLASSW* wc);
BOOL UnregisterClassW(const WCHAR* className, HINSTANCE instance);
BOOL GetClassInfoW(HINSTANCE instance, const WCHAR* className, WNDCLASSW* wc);
int GetClassNameW(HWND hwnd, WCHAR* name, int cch);
inline const WCHAR* const WC_DIALOG = MAKEINTATOM(0x8002);

// ---------------------------------------------------------------------------
// Windows

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_NOACTIVATE = 0x08000000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

struct CREATESTRUCTW {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  const WCHAR* lpszName;
  const WCHAR* lpszClass;
  DWORD dwExStyle;
};

// A child (WS_CHILD) lives inside its parent and takes the menu argument as its
// id; any other window is top-level, and a parent given to it is its owner.
// CW_USEDEFAULT places a top-level window over the whole screen. The window
// gets WM_NCCREATE, WM_CREATE (-1 refuses the creation: the window is
// destroyed and null returned) and WM_SIZE; a visible window is invalidated.
HWND CreateWindowExW(DWORD exStyle, const WCHAR* className, const WCHAR* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
inline HWND CreateWindowW(const WCHAR* className, const WCHAR* windowName, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  return CreateWindowExW(0, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}
// Only the owner thread destroys a window. Owned windows go first; the window
// gets WM_DESTROY before its children do, WM_NCDESTROY after them. Afterwards
// the handle is dead: IsWindow is false and messages to it fail.
BOOL DestroyWindow(HWND hwnd);
// True for a live window of any process of the device.
BOOL IsWindow(HWND hwnd);
BOOL IsChild(HWND parent, HWND hwnd);

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

constexpr int GWL_WNDPROC = -4;
constexpr int GWL_HINSTANCE = -6;
constexpr int GWL_HWNDPARENT = -8;
constexpr int GWL_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;
// Dialogs: the result of a message, the dialog procedure, a value of the user.
constexpr int DWL_MSGRESULT = 0;
constexpr int DWL_DLGPROC = 4;
constexpr int DWL_USER = 8;
constexpr int DLGWINDOWEXTRA = 12;
// Values are pointer-sized (procedures and pointers fit). Indexes >= 0 address
// the class's extra bytes (cbWndExtra) in 4-byte steps. Setting GWL_WNDPROC
// subclasses the window: the previous procedure is returned for
// CallWindowProcW. Setting GWL_STYLE does not redraw.
LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongW(HWND hwnd, int index);
inline LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) { return SetWindowLongW(hwnd, index, value); }
inline LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) { return GetWindowLongW(hwnd, index); }

// Text of a window of this thread goes through WM_SETTEXT / WM_GETTEXT; of
// another thread, the same message is sent; of another process, the title of
// the device-wide table is read (GetWindowTextW) and setting fails.
BOOL SetWindowTextW(HWND hwnd, const WCHAR* text);
int GetWindowTextW(HWND hwnd, WCHAR* text, int cch);
int GetWindowTextLengthW(HWND hwnd);

BOOL SetPropW(HWND hwnd, const WCHAR* name, HANDLE data);
HANDLE GetPropW(HWND hwnd, const WCHAR* name);
HANDLE RemovePropW(HWND hwnd, const WCHAR* name);

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
// TRUE when the window was visible before.
BOOL ShowWindow(HWND hwnd, int cmd);
// The window and all its ancestors have WS_VISIBLE.
BOOL IsWindowVisible(HWND hwnd);
// TRUE when the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);

// An animation draws over the window outside its paint (a screen transition
// played on a thread of its own): while one runs, the window's top-level
// window is marked animating in the device's window table, so that another
// program (the display's "windows" listing) can tell when the screen is in
// place. Each BeginWindowAnimation is ended by one EndWindowAnimation (any
// thread of the process); FALSE for a window of another process or none.
BOOL BeginWindowAnimation(HWND hwnd);
BOOL EndWindowAnimation(HWND hwnd);
// An animation runs on the top-level window of hwnd (of any process).
BOOL IsWindowAnimating(HWND hwnd);

inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_BOTTOM = reinterpret_cast<HWND>(std::uintptr_t{1});
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));
inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(std::uintptr_t{0xFFFF});
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3));
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT SWP_NOOWNERZORDER = 0x0200;
// A window of another process: the request is left with its owner, applied
// when that thread reads its messages; the caller does not wait (nor is it
// refused when the owner is taken as hung).
constexpr UINT SWP_ASYNCWINDOWPOS = 0x4000;
// Positions are relative to the parent's client area (the screen for top-level
// windows); windows have no non-client area, so the client rectangle is the
// window's. Moves and sizes send WM_MOVE / WM_SIZE and invalidate.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL BringWindowToTop(HWND hwnd);
BOOL GetWindowRect(HWND hwnd, RECT* rect);  // screen coordinates
BOOL GetClientRect(HWND hwnd, RECT* rect);  // (0, 0, width, height)
BOOL ClientToScreen(HWND hwnd, POINT* point);
BOOL ScreenToClient(HWND hwnd, POINT* point);
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);

constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;
// Siblings in z-order, top first.
HWND GetWindow(HWND hwnd, UINT cmd);
// The parent of a child, the owner of a top-level window.
HWND GetParent(HWND hwnd);
HWND SetParent(HWND child, HWND newParent);
constexpr UINT GA_PARENT = 1;
constexpr UINT GA_ROOT = 2;
HWND GetAncestor(HWND hwnd, UINT flags);
// Children and their descendants, each parent before its children.
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
// Top-level windows of every process, top of the z-order first.
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
// The deepest visible, enabled-or-not window under a screen point (for another
// process's window: its top-level window).
HWND WindowFromPoint(POINT point);
HWND ChildWindowFromPoint(HWND parent, POINT clientPoint);

// Top-level windows of any process of the device by class and/or title (null
// matches any; class names ignore case, titles compare exactly).
HWND FindWindowW(const WCHAR* className, const WCHAR* windowName);
// The thread id (in the owner process) and the owner process's id.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
DWORD GetCurrentProcessId();

// ---------------------------------------------------------------------------
// Messages and queues

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;
// Messages sent from other threads are handled first, then posted messages
// (and injected input) in order, then WM_QUIT, then WM_PAINT, then WM_TIMER.
// A filter window takes its messages and its children's; (HWND)-1 takes the
// thread's own messages (hwnd null); min/max 0 take every number.
// GetMessageW: 0 on WM_QUIT, -1 for a bad filter window.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT min, UINT max);
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT min, UINT max, UINT flags);
// Blocks until something arrives in the queue (or a timer may be due).
BOOL WaitMessage();
LRESULT DispatchMessageW(const MSG* msg);
// WM_KEYDOWN of a key with a character posts WM_CHAR.
BOOL TranslateMessage(const MSG* msg);
// A null window posts to the calling thread; HWND_BROADCAST to every top-level
// window of the device.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Same thread: a direct call of the window procedure. Another thread: the
// caller waits for the answer and meanwhile handles messages sent to its own
// windows. Another process: the same over that process's socket; the send
// fails (0) when the window is destroyed, its thread ends or its process dies
// before it answered, and after kRemoteSendTimeoutMs without an answer.
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Does not wait for the answer (another thread's window: queued as a sent message).
BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;        // the caller handles no sent messages while waiting
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;  // fail at once when the receiver has not read its queue for 5 s
constexpr UINT SMTO_NOTIMEOUTIFNOTHUNG = 0x0008;
// Nonzero with *result on success; 0 with ERROR_TIMEOUT (time-out, hung
// receiver) or ERROR_INVALID_WINDOW_HANDLE.
LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result);
// True while the thread handles a message sent from another thread or process.
BOOL InSendMessage();
// Answers the message being handled now, so its sender runs on.
BOOL ReplyMessage(LRESULT result);
DWORD GetMessagePos();
LONG GetMessageTime();
constexpr DWORD kRemoteSendTimeoutMs = 30000;
// Waits for one of the handles or for messages (wakeMask ignored: any message).
// WAIT_OBJECT_0 + count when the queue has input.
constexpr DWORD QS_ALLINPUT = 0x04FF;
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs, DWORD wakeMask);
// The same with the kinds of message that end the wait: keys, stylus moves
// and presses, posted messages, timers, paints (messages sent from other
// threads are handled meanwhile, whatever the mask). Input already in the
// queue ends the wait at once (as with MWMO_INPUTAVAILABLE, which is
// accepted); MWMO_WAITALL is refused. The time-out runs on the platform clock
// (GetTickCount): with a ManualClock it passes when the clock is advanced and
// the queues woken (WakeMessageQueues).
constexpr DWORD QS_KEY = 0x0001;
constexpr DWORD QS_MOUSEMOVE = 0x0002;
constexpr DWORD QS_MOUSEBUTTON = 0x0004;
constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_PAINT = 0x0020;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY;
constexpr DWORD MWMO_WAITALL = 0x0001;
constexpr DWORD MWMO_ALERTABLE = 0x0002;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD timeoutMs, DWORD wakeMask, DWORD flags);
// The kinds of message (QS_* bits of `flags`) waiting in the calling thread's
// queue, QS_SENDMESSAGE for messages sent from other threads or processes;
// nothing is handled or removed. The low word holds the kinds waiting; the
// high word holds the same kinds (not only those new since the last call).
DWORD GetQueueStatus(UINT flags);
// The device's stylus gives no high-resolution points: FALSE, *retrieved 0.
BOOL GetMouseMovePoints(POINT* points, UINT bufferPoints, UINT* retrieved);

// Wakes every thread of this process blocked in GetMessageW / WaitMessage, so
// they look at their timers again (after ManualClock::Advance).
void WakeMessageQueues();

// The header of every WM_NOTIFY (lParam points to it, or to a larger
// structure that begins with it).
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};

// ---------------------------------------------------------------------------
// Scroll bars

// The standard scroll bars of a window (WS_HSCROLL / WS_VSCROLL): each keeps a
// range, a page and a position (32-bit). Only the state is kept here; the
// window's own procedure (or a control) scrolls its content on WM_HSCROLL /
// WM_VSCROLL, reading the 32-bit position back with GetScrollInfo.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_CTL = 2;
constexpr int SB_BOTH = 3;

// Codes in the low word of WM_HSCROLL / WM_VSCROLL's wParam.
constexpr WORD SB_LINEUP = 0;
constexpr WORD SB_LINELEFT = 0;
constexpr WORD SB_LINEDOWN = 1;
constexpr WORD SB_LINERIGHT = 1;
constexpr WORD SB_PAGEUP = 2;
constexpr WORD SB_PAGELEFT = 2;
constexpr WORD SB_PAGEDOWN = 3;
constexpr WORD SB_PAGERIGHT = 3;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_THUMBTRACK = 5;
constexpr WORD SB_TOP = 6;
constexpr WORD SB_LEFT = 6;
constexpr WORD SB_BOTTOM = 7;
constexpr WORD SB_RIGHT = 7;
constexpr WORD SB_ENDSCROLL = 8;

constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_DISABLENOSCROLL = 0x0008;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

struct SCROLLINFO {
  UINT cbSize;  // sizeof(SCROLLINFO)
  UINT fMask;
  int nMin;
  int nMax;
  UINT nPage;
  int nPos;
  int nTrackPos;
};

// SetScrollInfo keeps the page within 0..(max - min + 1) and the position
// within min..(max - page + 1) (min when the range is smaller than the
// page) and returns the position. GetScrollInfo fills what fMask asks; FALSE
// for a bad window, bar or cbSize. A bar is shown (drawn along the right or
// bottom edge, taken from the client area) while the window has its style and
// the range is larger than the page; the redraw flag draws it at once. The
// stylus on it: arrows send SB_LINEUP/SB_LINEDOWN, the track SB_PAGEUP/
// SB_PAGEDOWN, dragging the thumb SB_THUMBTRACK (the 32-bit position in
// nTrackPos), letting go SB_THUMBPOSITION, then SB_ENDSCROLL.
int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO* info, BOOL redraw);
BOOL GetScrollInfo(HWND hwnd, int bar, SCROLLINFO* info);
// The previous position (0 on failure).
int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw);
int GetScrollPos(HWND hwnd, int bar);
BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw);
BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos);

// ---------------------------------------------------------------------------
// Timers

// A window's timer (hwnd not null) is replaced when set again with the same
// id; a thread timer (hwnd null) gets a new id. WM_TIMER is generated when the
// clock has passed the period; with a callback, DispatchMessageW calls it
// instead of the window procedure. Only the window's thread sets its timers.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// ---------------------------------------------------------------------------
// Painting

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

// Each top-level window paints into its own surface (16 bits, RGB565, in shared
// memory); its children paint into the same surface through DCs whose origin is
// their client area and whose clip is their client area. The update area of a
// window is one rectangle (the union of what was invalidated).
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase);
// Sends WM_PAINT at once when the window has an update area.
BOOL UpdateWindow(HWND hwnd);
// Clipped to the update area; sends WM_ERASEBKGND when invalidated with erase.
// The update area is validated.
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
// GetDC(hwnd) / ReleaseDC(hwnd, hdc) of platform/gdi give a DC of the window's
// client area (no clip to an update area).
// The surface of a top-level window (owned by the window; valid while it lives).
HBITMAP GetWindowSurfaceForTesting(HWND topLevel);
// Draws the visible top-level windows of every process of the device onto the
// screen bitmap of this process (ScreenBitmap()), bottom of the z-order first.
BOOL ComposeScreen();
// The display program starts a screen session of the device: the surfaces
// that programs of earlier sessions (or an earlier device at the same folder)
// left in shared memory are removed, and every surface made from now on
// carries the new session in its name.
void BeginScreenSession();

// ---------------------------------------------------------------------------
// Focus, activation, capture

// The focus is per thread; SetFocus takes windows of the calling thread only
// and returns the previous focus. Disabled windows cannot take it.
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND SetActiveWindow(HWND hwnd);
HWND GetActiveWindow();
// Device-wide: the top-level window that receives keys. Another process's
// window is brought to the top of the z-order and receives the keys.
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();

// ---------------------------------------------------------------------------
// Injected input (tests, the display program)

// A key goes to the focus window of the foreground window's thread (or the
// foreground window itself), in this process or another; VK_SHIFT held makes
// TranslateMessage produce capitals. A repeated down (the key held) carries
// the previous key state (bit 30 of lParam), as the device's auto-repeat does.
BOOL InjectKey(UINT vk, bool down, bool repeat = false);
// Whether a WM_KEYDOWN's lParam says the key was down already (held).
inline bool IsRepeatedKeyDown(LPARAM lParam) { return (static_cast<unsigned long>(lParam) & 0x40000000u) != 0; }
// A character (WM_CHAR) to the same window.
BOOL InjectChar(WCHAR ch);
// Stylus (WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP) at a screen point: goes to
// the capture window, else to the window under the point; disabled windows
// take none. lParam carries client coordinates.
BOOL InjectStylus(UINT message, int screenX, int screenY);
// Clicks of the wheel at a screen point (negative: towards the top): the
// window under it, or its nearest ancestor with WS_VSCROLL, gets WM_VSCROLL
// with SB_LINEDOWN (SB_LINEUP) once a click. FALSE when no window is there.
BOOL InjectWheel(int screenX, int screenY, int clicks);

// ---------------------------------------------------------------------------
// Dialogs

// In-memory templates are the platform's binary dialog templates, as the
// resource compiler emits them: DLGTEMPLATE or DLGTEMPLATEEX, then the items
// (class by atom 0x80 button, 0x81 edit, 0x82 static, 0x83 list box, 0x84
// scroll bar, 0x85 combo box, or by name). Coordinates are dialog units (see
// MapDialogRect). Item classes that are not registered fail the creation
// unless the dialog has DS_NOFAILCREATE.
#pragma pack(push, 2)
struct DLGTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
};
#pragma pack(pop)
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_NOFAILCREATE = 0x10;
constexpr DWORD DS_CENTER = 0x0800;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr UINT DM_SETDEFID = WM_USER + 1;
constexpr WORD DC_HASDEFID = 0x534B;
constexpr LRESULT DLGC_WANTARROWS = 0x0001;
constexpr LRESULT DLGC_WANTTAB = 0x0002;
constexpr LRESULT DLGC_WANTALLKEYS = 0x0004;
constexpr LRESULT DLGC_WANTMESSAGE = 0x0004;
constexpr LRESULT DLGC_HASSETSEL = 0x0008;
constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x0010;
constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x0020;
constexpr LRESULT DLGC_RADIOBUTTON = 0x0040;
constexpr LRESULT DLGC_WANTCHARS = 0x0080;
constexpr LRESULT DLGC_STATIC = 0x0100;
constexpr LRESULT DLGC_BUTTON = 0x2000;

// The dialog procedure gets WM_INITDIALOG (wParam: the first tab stop, which
// takes the focus when the procedure answers TRUE; lParam: the init value);
// its FALSE answer to any other message lets the dialog manager handle it.
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM init);
HWND CreateDialogIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM init);
// From a DIALOG resource of the module.
INT_PTR DialogBoxParamW(HINSTANCE instance, const WCHAR* name, HWND owner, DLGPROC proc, LPARAM init);
HWND CreateDialogParamW(HINSTANCE instance, const WCHAR* name, HWND owner, DLGPROC proc, LPARAM init);
// Ends a modal dialog: DialogBox* returns result once the procedure returns.
// For a modeless dialog, only hides it.
BOOL EndDialog(HWND dialog, INT_PTR result);
// Tab / shift-tab move the focus between WS_TABSTOP items, enter sends
// WM_COMMAND of the default button (IDOK when there is none), escape sends
// WM_COMMAND IDCANCEL; items that ask for keys by WM_GETDLGCODE keep them.
// TRUE when the message was for the dialog (it has been handled then).
BOOL IsDialogMessageW(HWND dialog, MSG* msg);
LRESULT DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
BOOL SetDlgItemTextW(HWND dialog, int id, const WCHAR* text);
UINT GetDlgItemTextW(HWND dialog, int id, WCHAR* text, int cch);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
// Dialog units to pixels: 4 horizontal units and 8 vertical ones make a base
// unit of the screen (dpi / 16 by dpi * 13 / 96 pixels).
BOOL MapDialogRect(HWND dialog, RECT* rect);

// Buttons and statics, enough for the dialog manager; the standard controls
// come with their own window classes.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_CENTER = 0x1;
constexpr DWORD SS_RIGHT = 0x2;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WORD BN_CLICKED = 0;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_PUSHED = 4;

// ---------------------------------------------------------------------------
// Message boxes

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;

// The message box is a modal dialog: its buttons by type, enter presses the
// default button, escape gives IDCANCEL (or the only button's id). With an
// answerer installed (tests, headless runs) no window is made: the answerer's
// answer is returned at once (0 from the answerer means failure).
using MessageBoxAnswerer = std::function<int(HWND owner, const std::u16string& text, const std::u16string& caption,
                                             UINT type)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);  // empty: none
int MessageBoxW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT type);
// True while the message box window of this process is open (its handle in *box).
BOOL GetOpenMessageBoxForTesting(HWND* box);
// Whether the thread owning a window of this process waits for messages now
// (in GetMessage, WaitMessage or MsgWaitForMultipleObjects).
BOOL IsWaitingForMessagesForTesting(HWND hwnd);
// Where the message box puts its parts on this screen for a text: the box
// grows with the text (from a third of the screen up to the whole screen) so
// that every line of the word-wrapped text is shown above the buttons.
struct MessageBoxGeometry {
  int left = 0, top = 0, width = 0, height = 0;
  int pad = 0, captionHeight = 0, iconSize = 0, textHeight = 0, buttonHeight = 0;
};
MessageBoxGeometry LayOutMessageBox(const std::u16string& text, UINT type);

}  // namespace plat
