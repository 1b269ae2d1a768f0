// Finger scrolling for any window with standard scroll bars. A
// KineticScroller looks at the stylus messages of its target window (and of
// the target's descendants) before they are dispatched: a short touch is
// handed to the window unchanged (a tap), holding still hands the press over
// (the window may start its own tap-and-hold), a drag scrolls the window, a
// fling keeps it scrolling with deceleration, and a mainly horizontal fling
// may be reported to a swipe handler (previous / next).
//
// Everything runs on the UI thread: the tap time-out, the momentum frames
// and the coalesced scroll requests are driven by timers of a message-only
// window of the scroller, on the platform clock (a test's ManualClock decides
// when they are due). Momentum draws a frame every kMomentumFrameMs and only
// when the position changes.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/windows/Windows.h"

// Receives horizontal swipes; not owned by the scroller.
class ISwipeHandler {
 public:
  virtual ~ISwipeHandler() = default;
  virtual void Previous() = 0;  // the stylus moved right
  virtual void Next() = 0;      // the stylus moved left
};

// Coalesces scroll requests: amounts posted while the window is busy are
// applied together as one scroll, from the UI thread's queue, never inside
// the stylus handler that asked for them.
class CScrollRequestWorker {
 public:
  CScrollRequestWorker() = default;
  CScrollRequestWorker(const CScrollRequestWorker&) = delete;
  CScrollRequestWorker& operator=(const CScrollRequestWorker&) = delete;
  virtual ~CScrollRequestWorker();

  // Adds the units to the pending ones and asks for them to be applied.
  void Post(int unitsX, int unitsY);
  // Drops the pending units.
  void Cancel();
  // Applies the pending units now (the queued request then finds nothing).
  void Flush();
  int PendingX() const { return pendingX_; }
  int PendingY() const { return pendingY_; }

 protected:
  virtual void Scroll(int unitsX, int unitsY) = 0;
  // The window whose queue carries the requests; made by the derived class.
  plat::HWND requestWindow_ = nullptr;

 private:
  int pendingX_ = 0;
  int pendingY_ = 0;
  bool requested_ = false;
};

// The queued stylus messages of one gesture: an array that grows to
// max(wanted, capacity + step), the step being the one set or else count / 8
// within 4..1024. A growth that cannot be made raises COrvException
// 0x8007000E (out of memory).
class StylusQueue {
 public:
  using Allocator = void* (*)(std::size_t bytes);
  StylusQueue() = default;
  ~StylusQueue() { Free(); }
  StylusQueue(const StylusQueue&) = delete;
  StylusQueue& operator=(const StylusQueue&) = delete;

  void Push(const plat::MSG& record);
  // Empties the array and gives its memory back.
  void Free();
  void SetGrowthStep(std::size_t step) { step_ = step; }
  std::size_t size() const { return count_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return count_ == 0; }
  const plat::MSG& operator[](std::size_t i) const { return items_[i]; }
  const plat::MSG& front() const { return items_[0]; }
  const plat::MSG& back() const { return items_[count_ - 1]; }
  plat::MSG& back() { return items_[count_ - 1]; }
  const plat::MSG* begin() const { return items_; }
  const plat::MSG* end() const { return items_ + count_; }

  // Where the array's memory comes from (null: the C heap); tests make it fail.
  static void SetAllocatorForTesting(Allocator allocator);

 private:
  void Grow(std::size_t wanted);
  plat::MSG* items_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
  std::size_t step_ = 0;
};

class KineticScroller : public CScrollRequestWorker {
 public:
  // One stylus message as queued: { window, message, wParam, lParam, time,
  // point } with the point in screen coordinates.
  using Record = plat::MSG;

  static constexpr plat::DWORD kTapTimeoutMs = 200;
  static constexpr plat::DWORD kMomentumFrameMs = 16;
  static constexpr plat::DWORD kReplayLimitMs = 2000;
  // Fling speeds are kept within this many pixels per second at 96 dpi.
  static constexpr int kMaxVelocity96 = 8000;

  // swipe may be null. Takes the pixels per scroll unit of each bar now.
  KineticScroller(plat::HWND target, ISwipeHandler* swipe);
  ~KineticScroller() override;

  // The message goes to the target (or a descendant): consumed or not.
  virtual bool FilterMessage(const plat::MSG& msg);
  // Starts momentum with the vertical velocity (pixels per second). It also
  // enables the scroller: until then only an HTML viewer's scroller takes
  // stylus messages (an owner that wants finger scrolling at once calls
  // StartMomentum(0)).
  virtual void StartMomentum(int velocityY);
  // Tracking a gesture, or momentum running.
  virtual bool IsBusy() const;

  // Moves the bar by delta units within its range and tells the window
  // (WM_HSCROLL / WM_VSCROLL with SB_THUMBPOSITION).
  static void ScrollAxis(plat::HWND window, int bar, plat::UINT scrollMessage, int delta);
  // The last queued point lies within 10 px (96 dpi) of the one at index.
  bool IsTap(std::size_t index) const;

  plat::HWND GetTarget() const { return target_; }
  bool IsTracking() const { return tracking_; }
  bool IsMomentumRunning() const { return momentum_; }
  bool IsHtmlViewer() const { return htmlViewer_; }
  int GetVelocityX() const { return velocityX_; }
  int GetVelocityY() const { return velocityY_; }
  int GetPixelsPerUnitX() const { return pixelsPerUnitX_; }
  int GetPixelsPerUnitY() const { return pixelsPerUnitY_; }
  const StylusQueue& GetQueue() const { return queue_; }
  StylusQueue& GetQueue() { return queue_; }

  // The registered tap time-out message and its marker parameters.
  static plat::UINT TapTimeoutMessage();
  static constexpr plat::WPARAM kMarkerW = 0x1F74EA98;
  static constexpr plat::LPARAM kMarkerL = static_cast<plat::LPARAM>(0xE4A9D018u);
  // Posted to the thread after the replayed messages: the replay is over.
  static constexpr plat::UINT kReplayEndMessage = 0xC4A9;

  // The replay under way: its start tick, 0 when none (one per process).
  static plat::DWORD ReplayState();
  // For the message loop, before a message is offered to a scroller: ends a
  // replay on its end marker (consumed) or when the message comes more than
  // kReplayLimitMs after the replay began (the message is then handled as
  // usual). True when the message is consumed; *replaying tells whether a
  // replay is still under way.
  static bool CheckReplay(const plat::MSG& msg, bool* replaying);
  static void ResetReplayForTesting();

  // Timer and request handling of the scroller's message window.
  void OnTimer(plat::UINT_PTR id);
  void OnScrollRequest();

 protected:
  void Scroll(int unitsX, int unitsY) override;

 private:
  bool IsOwnWindow(plat::HWND hwnd) const;
  void Enqueue(const plat::MSG& msg);
  void Replay();
  void MeasureVelocity(int* vx, int* vy) const;
  void BeginMomentum();
  void StopMomentum();
  void MomentumPass();
  void OnStylusDown(const plat::MSG& msg);
  bool OnStylusMove(const plat::MSG& msg);
  bool OnStylusUp(const plat::MSG& msg);
  // Turns a finger step into scroll units, keeping what is left of a unit.
  void ScrollByPixels(int stepX, int stepY);
  void OnTapTimeout();

  plat::HWND target_;
  bool tracking_ = false;
  StylusQueue queue_;
  bool momentum_ = false;
  int velocityX_ = 0;
  int velocityY_ = 0;
  int remainderX_ = 0;
  int remainderY_ = 0;
  int pixelsPerUnitX_ = 1;
  int pixelsPerUnitY_ = 1;
  bool canScrollX_ = false;  // a bar with a usable page
  bool canScrollY_ = false;
  bool momentumStop_ = false;
  bool tapPending_ = true;
  bool enabled_ = false;
  bool htmlViewer_ = false;
  bool hasHorzBar_ = false;
  bool hasVertBar_ = false;
  ISwipeHandler* swipe_;
  plat::HWND pressWindow_ = nullptr;

  // Momentum state, per axis 0 = x, 1 = y.
  struct Axis {
    std::int64_t start = 0, lowest = 0, highest = 0, previous = 0;
    int velocity = 0;
    int accel = 0;
  } axes_[2];
  plat::DWORD momentumStart_ = 0;
};

// The stylus filter of a message loop that shows HTML viewers: makes a
// scroller for each press on a "PIEHTML" (or "Webview") window when the last
// one is idle, and lets the busy one see the messages.
class HtmlViewScrollFilter {
 public:
  explicit HtmlViewScrollFilter(ISwipeHandler* swipe) : swipe_(swipe) {}
  ~HtmlViewScrollFilter();
  HtmlViewScrollFilter(const HtmlViewScrollFilter&) = delete;
  HtmlViewScrollFilter& operator=(const HtmlViewScrollFilter&) = delete;

  // True when the message is consumed (not to be translated and dispatched).
  bool Filter(const plat::MSG& msg);
  KineticScroller* GetCurrent() const { return current_; }

 private:
  KineticScroller* current_ = nullptr;
  ISwipeHandler* swipe_;
};

// The same for a loop that owns a long-lived scroller (the layout view):
// replay handling, then the scroller's FilterMessage.
bool FilterKineticMessage(KineticScroller* scroller, const plat::MSG& msg);

// True when the window's class is "PIEHTML" or "Webview" (case ignored).
bool IsHtmlViewerWindow(plat::HWND hwnd);
