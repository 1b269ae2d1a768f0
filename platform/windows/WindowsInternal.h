// Inside of the window manager: windows, classes, thread queues, the
// device-wide window table and the socket transport between processes.
//
// Locking: one recursive lock (Wm::lock) guards the window tree, classes and
// every window's fields; each queue has a lock of its own for its messages.
// No lock is held while a window procedure runs or while a thread waits.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/Time.h"
#include "platform/windows/Windows.h"

namespace plat::wm {

struct ThreadQueue;

// A message sent to a window of another thread or process.
struct SentMessage {
  DWORD hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  std::atomic<int> state{0};  // kPending, kDone, kFailed
  std::shared_ptr<ThreadQueue> waiter;  // woken when answered (null: nobody waits)
  bool remote = false;
};
constexpr int kPending = 0;
constexpr int kDone = 1;
constexpr int kFailed = 2;

struct Timer {
  DWORD hwnd;
  UINT_PTR id;
  UINT period;
  DWORD due;  // tick count of the clock
  TIMERPROC proc;
};

// A thread that has not looked at its queue for longer than this is hung: a
// send with SMTO_ABORTIFHUNG fails at once.
constexpr DWORD kHungMs = 5000;

struct ThreadQueue {
  ThreadQueue();
  ~ThreadQueue();
  void Wake();
  // Waits until woken or timeoutMs passed (INFINITE: no limit); also returns
  // when extraFd (>= 0) is readable. True when extraFd is readable.
  bool Wait(DWORD timeoutMs, int extraFd = -1);

  DWORD threadId = 0;
  pid_t pid = 0;
  int efd = -1;

  std::mutex m;
  struct Posted {
    MSG m;
    std::uint64_t seq;
  };
  std::deque<Posted> posted;
  std::uint64_t nextSeq = 1;
  void PushPosted(const MSG& msg, bool front = false) {
    if (front) posted.push_front(Posted{msg, nextSeq++});
    else posted.push_back(Posted{msg, nextSeq++});
  }
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  bool alive = true;
  // For SMTO_ABORTIFHUNG: when the owner last looked at its queue, by the
  // platform clock (GetTickCount, which tests can move), the clock that timed
  // it, and whether the owner waits for messages now (never hung then).
  std::atomic<DWORD> lastPumpTick{0};
  std::atomic<IClock*> lastPumpClock{nullptr};
  std::atomic<bool> waitingForMessages{false};
  void MarkPumped();
  // Not looked at its queue for more than kHungMs, by the clock that timed
  // its last look; a thread timed by another clock (one a test replaced) is
  // not judged.
  bool IsHung() const;

  // Touched by the owner thread only.
  std::vector<std::shared_ptr<SentMessage>> receiving;
  std::atomic<DWORD> focus{0};   // read by injection from other threads
  std::atomic<DWORD> active{0};
  MSG last{};
};

struct ClassInfo {
  std::u16string name;
  ATOM atom = 0;
  WNDCLASSW wc{};
  std::u16string menuName;
  bool builtin = false;
};

// A top-level window's pixels: one shared-memory object per size the window
// had ("generation"), never resized, so that another process that mapped it
// can always read it whole. Held by the window and by each DC drawing into
// it, so a DC of another thread outlives a resize safely.
struct Surface {
  ~Surface();
  std::string shmName;
  std::uint64_t session = 0;  // the screen session of its name
  void* mem = nullptr;
  std::size_t size = 0;
  int width = 0;
  int height = 0;
  int stride = 0;
  HBITMAP bitmap = nullptr;  // over mem (GetWindowSurfaceForTesting)
};
// Surfaces larger than this a side are refused (the window is not created).
constexpr int kMaxSurfaceSide = 4096;

struct Window {
  DWORD handle = 0;
  std::shared_ptr<ClassInfo> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  HINSTANCE instance = nullptr;
  Window* parent = nullptr;  // children only
  DWORD owner = 0;           // top-level only
  std::vector<Window*> children;  // top of the z-order first
  RECT rect{};  // in the parent's client area (top-level: screen)
  std::u16string text;
  LONG_PTR userData = 0;
  std::vector<std::pair<std::u16string, HANDLE>> props;
  std::map<int, LONG_PTR> extra;
  std::shared_ptr<ThreadQueue> queue;
  bool destroying = false;
  bool messageOnly = false;
  bool hasUpdate = false;
  bool erase = false;
  RECT update{};
  std::shared_ptr<Surface> surface;  // top-level only
  std::uint32_t surfaceGeneration = 0;
  // Dialogs.
  bool dialogEnded = false;
  INT_PTR dialogResult = 0;
  // Run by a modal loop: the owner's top-level window the loop disabled
  // (0: none) and the window of the owner that had the focus, given back
  // by EndDialog before the dialog leaves the screen.
  bool inModalLoop = false;
  DWORD modalOwner = 0;
  DWORD modalFocus = 0;
  HFONT font = nullptr;
  // Buttons.
  WPARAM check = 0;
  bool pushed = false;
  // Standard scroll bars (platform/windows/ScrollInfo.cpp).
  struct ScrollBar {
    int min = 0;
    int max = 0;
    UINT page = 0;
    int pos = 0;
    int trackPos = 0;
    bool disableNoScroll = false;  // SIF_DISABLENOSCROLL: shown disabled when not needed
  };
  ScrollBar hscroll;
  ScrollBar vscroll;
};

struct Wm {
  std::recursive_mutex lock;
  std::unordered_map<DWORD, std::unique_ptr<Window>> windows;
  std::vector<std::shared_ptr<ClassInfo>> classes;
  ATOM nextAtom = 0xC000;
  std::mutex queuesLock;
  std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> queues;
  DWORD capture = 0;
  UINT_PTR nextThreadTimer = 0x7F00;
  pid_t pid = 0;
};

// The state of this process (started afresh in a forked child).
Wm& W();
// The calling thread's queue (made on first use).
std::shared_ptr<ThreadQueue> CurrentQueue();
std::shared_ptr<ThreadQueue> QueueOfThread(DWORD threadId);

// With W().lock held.
Window* Find(HWND hwnd);
Window* FindValue(DWORD value);
Window* TopLevelOf(Window* w);
bool IsAncestor(Window* ancestor, Window* w);
// Offset of w's client area inside its top-level window's surface.
POINT OffsetInTopLevel(Window* w);
// w's client area as seen through its ancestors, in w's client coordinates.
// The part of w's client area (or, with wholeWindow, of the window with its
// scroll bars) inside every ancestor's client area, in w's coordinates.
RECT VisibleClientRect(Window* w, bool wholeWindow = false);
// Standard scroll bars (platform/windows/ScrollBars.cpp). A bar is shown
// while the window has its style and the range is larger than the page.
bool ScrollBarShownLocked(const Window* w, int bar);
// Shown and its range larger than its page (else drawn disabled, no input).
bool ScrollBarUsableLocked(const Window* w, int bar);
// (0, 0, width, height) less the bars shown.
RECT ClientAreaLocked(const Window* w);
// A DC of the whole window, bars included (released with ReleaseDC).
HDC GetWindowDcWithBars(HWND hwnd);
// Draws the shown bars of a window of this thread (no lock held).
void DrawScrollBars(HWND hwnd);
// Takes the stylus messages that press, drag and release a shown bar; true
// when the message was the bar's (then the window procedure does not get it).
bool ScrollBarInput(const MSG* msg);
bool VisibleLocked(Window* w);
bool EnabledLocked(Window* w);

// Calls the window's procedure (on the calling thread; no lock held).
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
std::shared_ptr<ClassInfo> FindClass(const WCHAR* name);
void EnsureBuiltinClasses();

// Messages.
void ProcessSentMessages(const std::shared_ptr<ThreadQueue>& q);
bool PostToWindowLocal(Window* w, UINT msg, WPARAM wParam, LPARAM lParam);
// Puts a sent message for a window of this process; false when it cannot be
// delivered (window gone, its thread ended).
bool QueueSent(const std::shared_ptr<SentMessage>& sm);
// Removes the windows of a thread that ended, without messages.
void ForgetThreadWindows(const std::shared_ptr<ThreadQueue>& q);
void RemoveTimersOf(DWORD hwnd);
void FailPendingSends(DWORD hwnd);
void WakeQueueOfWindow(Window* w);
std::int64_t SteadyMs();

// Painting (with W().lock held).
void InvalidateLocked(Window* w, const RECT* rect, bool erase);
void InstallDcProvider();
bool CreateSurface(Window* w);
void DestroySurface(Window* w);

// Injected input handled in this process (from a test or from the socket).
BOOL InjectKeyLocal(UINT vk, bool down, bool repeat = false);
// Keys the shell takes before any window sees them (the soft keys and the
// Back key of a window with a menu bar): called with the foreground window of
// this process; true when the key was taken. repeat: a down of a key held.
using KeyRouter = bool (*)(HWND top, UINT vk, bool down, bool repeat);
void SetKeyRouter(KeyRouter router);
BOOL InjectCharLocal(WCHAR ch);
BOOL InjectStylusLocal(UINT message, int x, int y, bool forwardRemote);
BOOL InjectWheelLocal(int x, int y, int clicks, bool forwardRemote);
void SetForegroundLocal(DWORD hwnd);
// Called as top-level window hwnd of this thread is hidden or destroyed (no
// lock held): when it holds the foreground, activation passes to its owner
// when that is shown and enabled, else to the nearest shown top-level window
// of this program, so the keys keep a window while one is on the screen.
void PassActivation(HWND hwnd);

// A modal loop (dialog, message box, property sheet) over an owner: made
// before the owner is disabled, it remembers the window of this thread that
// had the focus; Return, once the owner is enabled again and the modal
// window is gone, gives the activation back to the owner's top-level window
// (unless another program took the foreground meanwhile) and the focus to
// the window that had it, or to the owner when that window is gone.
class ModalFocus {
 public:
  explicit ModalFocus(HWND owner);
  void Return();
  HWND OwnerTop() const { return ownerTop_; }
  HWND Focus() const { return focus_; }

 private:
  HWND ownerTop_ = nullptr;
  HWND focus_ = nullptr;
};
// What ModalFocus::Return does, for an owner and the window that had the focus.
void ReturnModalFocus(HWND ownerTop, HWND focus);

// ---------------------------------------------------------------------------
// The device-wide window table ("run/windows" in the device folder). Changes
// that show on the screen (windows added, removed, moved, shown, hidden,
// reordered, and windows of processes that died) raise the screen's change
// notice.

constexpr int kTableClassChars = 64;
constexpr int kTableTitleChars = 128;
struct TableEntry {
  DWORD hwnd;  // 0: free
  std::int32_t pid;
  std::uint64_t startTime;
  DWORD threadId;
  DWORD flags;  // kVisible, kTopmost, kMessageOnly, kDoneButton, kAnimating
  std::int32_t left, top, right, bottom;
  std::int64_t z;  // larger: nearer the top
  char16_t cls[kTableClassChars];
  char16_t title[kTableTitleChars];
  // The surface now: its generation (part of its name) and size; 0 x 0 while none.
  std::uint32_t surfaceGeneration;
  std::int32_t surfaceWidth, surfaceHeight;
  DWORD owner;  // the owner of a pop-up; it stays above its owner when the owner is raised
  std::uint32_t reserved;
  // The screen session in which the surface was made (part of its name).
  std::uint64_t surfaceSession;
};
constexpr DWORD kVisible = 1;
constexpr DWORD kTopmost = 2;
constexpr DWORD kMessageOnly = 4;
// The shell's Done button is shown for the window (SHDoneButton), so that the
// device's top bar, drawn by another process, can offer it.
constexpr DWORD kDoneButton = 8;
// An animation draws over the window (BeginWindowAnimation).
constexpr DWORD kAnimating = 16;

namespace table {
// A new handle, unique on the device; 0 on failure.
DWORD NewHandle();
bool Add(const TableEntry& e);  // z is assigned (top of the order)
void Remove(DWORD hwnd);
void SetRect(DWORD hwnd, const RECT& r);
void SetFlag(DWORD hwnd, DWORD flag, bool on);
void SetTitle(DWORD hwnd, const std::u16string& title);
// Z-order: to the top (or bottom), or just below `after`.
void PlaceTop(DWORD hwnd);
void PlaceBottom(DWORD hwnd);
void PlaceAfter(DWORD hwnd, DWORD after);
std::optional<TableEntry> Get(DWORD hwnd);  // live processes only
// Live entries, top of the z-order first.
std::vector<TableEntry> Snapshot();
void SetForeground(DWORD hwnd);
DWORD Foreground();
// The window that holds the stylus, device-wide (any window, a child too) and
// its process; hwnd 0: none. SetCapture returns the previous holder.
struct CaptureHolder {
  DWORD hwnd = 0;
  std::int32_t pid = 0;
};
CaptureHolder SetCapture(DWORD hwnd);
CaptureHolder Capture();
void SetSurface(DWORD hwnd, std::uint64_t session, std::uint32_t generation, int width, int height);
// The process's start time (0 when it is gone or has ended: a zombie).
std::uint64_t ProcessStartTime(pid_t pid);
// A surface's shared-memory name: the device, the screen session it was made
// in, the window and the generation. Sessions never repeat on a device folder,
// not even one removed and made again, so no name meets one left by another
// session.
std::string SurfaceName(std::uint64_t session, DWORD hwnd, std::uint32_t generation);
// Makes a new shared-memory object for the window's surface, named in the
// current session, under the table's lock (so clearing stale names never
// meets it); its descriptor (-1 on failure) and the session.
int CreateSurfaceObject(DWORD hwnd, std::uint32_t generation, std::uint64_t* session);
// The display program starts a screen session: surface names that no window
// lists and that were made before the last session are removed (left by
// programs that ended without removing them, or by an earlier device at the
// same folder), then the session number moves on.
void BeginScreenSession();
}  // namespace table

// ---------------------------------------------------------------------------
// Transport between processes.

enum class WireKind : std::uint32_t { Post = 1, Send = 2, Notify = 3, Key = 4, Char = 5, Stylus = 6, Wheel = 7 };
enum WireStatus : std::int32_t { kWireOk = 0, kWireNoWindow = 1, kWireHung = 2, kWireFailed = 3 };

// SetWindowPos on another process's window travels as this message, sent to
// the window and applied by its own thread before any procedure sees it.
constexpr UINT kRemoteWindowPosMessage = 0x03F0;
WPARAM PackWindowPosW(HWND insertAfter, UINT flags);
LPARAM PackWindowPosL(int x, int y, int cx, int cy);
LRESULT ApplyRemoteWindowPos(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Starts this process's server thread (once; again after fork).
void EnsureServer();
// Sends one request to the process owning entry; for Send, waits for the answer
// (handling messages sent to this thread's windows unless SMTO_BLOCK).
// kWireOk, another status, or -1 on time-out.
int RemoteCall(const TableEntry& e, WireKind kind, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
               DWORD timeoutMs, LRESULT* result);

}  // namespace plat::wm
