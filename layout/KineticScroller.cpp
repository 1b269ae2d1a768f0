#include "layout/KineticScroller.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/OrvException.h"
#include "layout/ScreenScale.h"
#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"

using namespace plat;

namespace {

constexpr UINT kScrollRequest = WM_APP + 1;
constexpr UINT_PTR kTapTimer = 1;
constexpr UINT_PTR kMomentumTimer = 2;
const WCHAR* const kWindowClass = u"OrvKineticScroller";

std::atomic<DWORD> g_replayStart{0};

LRESULT ScrollerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* scroller = reinterpret_cast<KineticScroller*>(GetWindowLongW(hwnd, GWL_USERDATA));
  if (scroller && msg == WM_TIMER) {
    scroller->OnTimer(wParam);
    return 0;
  }
  if (scroller && msg == kScrollRequest) {
    scroller->OnScrollRequest();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND MakeScrollerWindow(KineticScroller* scroller) {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ScrollerWindowProc;
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    return true;
  }();
  (void)registered;
  HWND hwnd = CreateWindowExW(0, kWindowClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (hwnd) SetWindowLongW(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(scroller));
  return hwnd;
}

// The stylus point of a message in screen coordinates.
POINT ScreenPointOf(const MSG& msg) {
  POINT p{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
  if (msg.hwnd) ClientToScreen(msg.hwnd, &p);
  return p;
}

bool IsStylusMessage(UINT m) { return m >= WM_MOUSEFIRST && m <= 0x20D; }

int Sign(std::int64_t v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

}  // namespace

bool IsHtmlViewerWindow(HWND hwnd) {
  if (!hwnd) return false;
  WCHAR name[16] = {};
  const int n = GetClassNameW(hwnd, name, 16);
  if (n <= 0) return false;
  const std::u16string_view cls(name, static_cast<std::size_t>(n));
  return EqualsNoCase(cls, u"PIEHTML") || EqualsNoCase(cls, u"Webview");
}

// ---------------------------------------------------------------------------
// Scroll requests

CScrollRequestWorker::~CScrollRequestWorker() = default;

void CScrollRequestWorker::Post(int unitsX, int unitsY) {
  pendingX_ += unitsX;
  pendingY_ += unitsY;
  if (!requested_ && requestWindow_ && (pendingX_ || pendingY_))
    requested_ = PostMessageW(requestWindow_, kScrollRequest, 0, 0) != FALSE;
  if (!requestWindow_) Flush();
}

void CScrollRequestWorker::Cancel() { pendingX_ = pendingY_ = 0; }

void CScrollRequestWorker::Flush() {
  requested_ = false;
  const int x = std::exchange(pendingX_, 0), y = std::exchange(pendingY_, 0);
  if (x || y) Scroll(x, y);
}

// ---------------------------------------------------------------------------
// The stylus queue

namespace {
constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000Eu);
StylusQueue::Allocator g_queueAllocator = nullptr;
}  // namespace

void StylusQueue::SetAllocatorForTesting(Allocator allocator) { g_queueAllocator = allocator; }

void StylusQueue::Grow(std::size_t wanted) {
  const std::size_t step = step_ ? step_ : std::clamp<std::size_t>(count_ / 8, 4, 1024);
  const std::size_t room = items_ ? std::max(wanted, capacity_ + step) : std::max(wanted, step);
  if (room > SIZE_MAX / sizeof(MSG)) throw COrvException(kOutOfMemory);
  void* memory = g_queueAllocator ? g_queueAllocator(room * sizeof(MSG)) : std::malloc(room * sizeof(MSG));
  if (!memory) throw COrvException(kOutOfMemory);
  auto* grown = static_cast<MSG*>(memory);
  if (count_) std::memcpy(grown, items_, count_ * sizeof(MSG));
  std::free(items_);
  items_ = grown;
  capacity_ = room;
}

void StylusQueue::Push(const MSG& record) {
  if (count_ == capacity_) Grow(count_ + 1);
  items_[count_++] = record;
}

void StylusQueue::Free() {
  std::free(items_);
  items_ = nullptr;
  count_ = capacity_ = 0;
}

// ---------------------------------------------------------------------------
// The scroller

UINT KineticScroller::TapTimeoutMessage() {
  static const UINT message = RegisterWindowMessageW(u"OrvSmartScrolling_TapTimeoutMessage");
  return message;
}

DWORD KineticScroller::ReplayState() { return g_replayStart.load(); }
void KineticScroller::ResetReplayForTesting() { g_replayStart.store(0); }

bool KineticScroller::CheckReplay(const MSG& msg, bool* replaying) {
  const DWORD start = g_replayStart.load();
  *replaying = false;
  if (start == 0) return false;
  if (msg.message == kReplayEndMessage && msg.hwnd == nullptr && msg.wParam == kMarkerW && msg.lParam == kMarkerL) {
    g_replayStart.store(0);
    return true;
  }
  if (GetTickCount() - start > kReplayLimitMs) {
    // Too late for the replay: it is over, and this message is handled as usual.
    g_replayStart.store(0);
    return false;
  }
  *replaying = true;
  return false;
}

KineticScroller::KineticScroller(HWND target, ISwipeHandler* swipe) : target_(target), swipe_(swipe) {
  htmlViewer_ = IsHtmlViewerWindow(target);
  const auto style = static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE));
  hasHorzBar_ = (style & WS_HSCROLL) != 0;
  hasVertBar_ = (style & WS_VSCROLL) != 0;
  RECT client{};
  GetClientRect(target, &client);
  // Pixels per unit from the client size and the page; a page of 0, or one
  // larger than the client area, gives no usable value and the axis does
  // not scroll.
  auto unitOf = [&](bool hasBar, int bar, int clientSize, bool* usable) {
    *usable = false;
    if (!hasBar) return 1;
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_PAGE, 0, 0, 0, 0, 0};
    if (!GetScrollInfo(target, bar, &si) || si.nPage == 0) return 1;
    const int ppu = clientSize / static_cast<int>(si.nPage);
    if (ppu <= 0) return 1;
    *usable = true;
    return ppu;
  };
  pixelsPerUnitX_ = unitOf(hasHorzBar_, SB_HORZ, client.right - client.left, &canScrollX_);
  pixelsPerUnitY_ = unitOf(hasVertBar_, SB_VERT, client.bottom - client.top, &canScrollY_);
  requestWindow_ = MakeScrollerWindow(this);
}

KineticScroller::~KineticScroller() {
  // The timers and the queued requests go with the window.
  if (requestWindow_) {
    KillTimer(requestWindow_, kTapTimer);
    KillTimer(requestWindow_, kMomentumTimer);
    SetWindowLongW(requestWindow_, GWL_USERDATA, 0);
    DestroyWindow(requestWindow_);
    requestWindow_ = nullptr;
  }
}

bool KineticScroller::IsOwnWindow(HWND hwnd) const {
  if (!hwnd) return false;
  if (hwnd == target_) return true;
  if (!(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)) return false;
  for (HWND p = GetParent(hwnd); p; p = GetParent(p)) {
    if (p == target_) return true;
    if (!(GetWindowLongW(p, GWL_STYLE) & WS_CHILD)) break;
  }
  return false;
}

bool KineticScroller::IsBusy() const { return tracking_ || momentum_; }

void KineticScroller::Enqueue(const MSG& msg) {
  Record r = msg;
  r.pt = ScreenPointOf(msg);
  queue_.Push(r);
}

bool KineticScroller::IsTap(std::size_t index) const {
  if (queue_.empty() || index >= queue_.size()) return false;
  const POINT& last = queue_.back().pt;
  const POINT& at = queue_[index].pt;
  return std::abs(last.x - at.x) < ScaleX(10) && std::abs(last.y - at.y) < ScaleY(10);
}

bool KineticScroller::FilterMessage(const MSG& msg) {
  const UINT m = msg.message;
  const bool tapTimeout = m == TapTimeoutMessage();
  if (!IsStylusMessage(m) && !tapTimeout) return false;
  if (!IsOwnWindow(msg.hwnd)) return false;
  if (htmlViewer_) enabled_ = true;
  if (!enabled_) return false;
  if (tapTimeout) {
    if (msg.wParam != kMarkerW || msg.lParam != kMarkerL) return false;
    OnTapTimeout();
    return true;
  }
  if (m == WM_LBUTTONDOWN) {
    OnStylusDown(msg);
    return true;
  }
  if (m == WM_MOUSEMOVE || m == WM_LBUTTONUP) {
    // Once the press was replayed the window has the rest of the gesture;
    // without a press there is no gesture to follow.
    if (!tracking_) return false;
    return m == WM_MOUSEMOVE ? OnStylusMove(msg) : OnStylusUp(msg);
  }
  // Double taps and the other buttons are the scroller's while it is enabled.
  return true;
}

void KineticScroller::OnStylusDown(const MSG& msg) {
  StopMomentum();
  remainderX_ = remainderY_ = 0;
  tracking_ = true;
  // Tap-pending is armed once, when the scroller is made (the message loop's
  // filter makes one per gesture): a touch after a drag or on a running
  // momentum is no tap.
  queue_.Free();
  Enqueue(msg);
  pressWindow_ = msg.hwnd;
  if (requestWindow_) SetTimer(requestWindow_, kTapTimer, kTapTimeoutMs, nullptr);
}

void KineticScroller::OnTimer(UINT_PTR id) {
  if (id == kTapTimer) {
    KillTimer(requestWindow_, kTapTimer);
    if (pressWindow_) PostMessageW(pressWindow_, TapTimeoutMessage(), kMarkerW, kMarkerL);
  } else if (id == kMomentumTimer) {
    MomentumPass();
  }
}

void KineticScroller::OnScrollRequest() { Flush(); }

void KineticScroller::OnTapTimeout() {
  if (tapPending_ && !momentum_ && tracking_ && IsTap(0)) Replay();
}

bool KineticScroller::OnStylusMove(const MSG& msg) {
  const POINT prev = queue_.back().pt;
  Enqueue(msg);
  const POINT now = queue_.back().pt;
  int stepX = prev.x - now.x, stepY = prev.y - now.y;
  if (tapPending_) {
    const DWORD age = queue_.back().time - queue_.front().time;
    bool fromFirst = false;
    if (age <= kTapTimeoutMs) {
      if (IsTap(0)) return false;
      fromFirst = true;
    } else if (!momentum_ && IsTap(0)) {
      Replay();
      return true;
    } else {
      fromFirst = true;
    }
    if (fromFirst) {
      tapPending_ = false;
      KillTimer(requestWindow_, kTapTimer);
      stepX = queue_.front().pt.x - now.x;
      stepY = queue_.front().pt.y - now.y;
    }
  } else if (IsTap(0)) {
    return false;
  }
  ScrollByPixels(stepX, stepY);
  return true;
}

void KineticScroller::ScrollByPixels(int stepX, int stepY) {
  int unitsX = 0, unitsY = 0;
  if (hasHorzBar_ && canScrollX_) {
    remainderX_ += stepX;
    if (std::abs(remainderX_) >= pixelsPerUnitX_) {
      unitsX = remainderX_ / pixelsPerUnitX_;
      remainderX_ -= unitsX * pixelsPerUnitX_;
    }
  }
  if (hasVertBar_ && canScrollY_) {
    remainderY_ += stepY;
    if (std::abs(remainderY_) >= pixelsPerUnitY_) {
      unitsY = remainderY_ / pixelsPerUnitY_;
      remainderY_ -= unitsY * pixelsPerUnitY_;
    }
  }
  if (unitsX || unitsY) Post(unitsX, unitsY);
}

void KineticScroller::MeasureVelocity(int* vx, int* vy) const {
  std::int64_t bestX = 0, bestY = 0;
  const Record& last = queue_.back();
  const int minX = ScaleX(10), minY = ScaleY(10);
  for (std::size_t n = queue_.size(); n >= 2; --n) {
    const std::size_t i = n - 2;
    const DWORD dt = last.time - queue_[i].time;
    if (dt > 500) break;
    if (dt <= 10) continue;
    for (std::size_t j = i + 1; j < queue_.size(); ++j) {
      const std::int64_t dx = queue_[i].pt.x - queue_[j].pt.x;
      const std::int64_t dy = queue_[i].pt.y - queue_[j].pt.y;
      if (std::abs(dx) > minX) {
        const std::int64_t v = dx * 1000 / dt;
        if (std::abs(v) > std::abs(bestX)) bestX = v;
      }
      if (std::abs(dy) > minY) {
        const std::int64_t v = dy * 1000 / dt;
        if (std::abs(v) > std::abs(bestY)) bestY = v;
      }
    }
  }
  if (std::abs(bestX) < ScaleX(200)) bestX = 0;
  if (std::abs(bestY) < ScaleY(200)) bestY = 0;
  // A stroke of a few milliseconds must not throw the page miles away.
  const std::int64_t maxX = ScaleX(kMaxVelocity96), maxY = ScaleY(kMaxVelocity96);
  *vx = static_cast<int>(std::clamp(bestX, -maxX, maxX));
  *vy = static_cast<int>(std::clamp(bestY, -maxY, maxY));
}

bool KineticScroller::OnStylusUp(const MSG& msg) {
  tracking_ = false;
  KillTimer(requestWindow_, kTapTimer);
  const POINT prev = queue_.back().pt;
  Enqueue(msg);
  if (tapPending_ && IsTap(0)) {
    Replay();
    return true;
  }
  int vx = 0, vy = 0;
  MeasureVelocity(&vx, &vy);
  if (std::abs(vx) <= std::abs(vy)) {
    // The page follows the finger to where it left the screen, also past the
    // last move the queue delivered.
    const POINT from = tapPending_ ? queue_.front().pt : prev;
    tapPending_ = false;
    ScrollByPixels(from.x - queue_.back().pt.x, from.y - queue_.back().pt.y);
    // What was dragged is applied now, not by the queued request: the gesture
    // is over, and an idle scroller may be dropped (with its request window)
    // before that request comes, when the last move and the release come
    // close together. Momentum then starts where the finger left.
    Flush();
    if (vx || vy) {
      velocityX_ = vx;
      velocityY_ = vy;
      BeginMomentum();
    }
    return true;
  }
  Cancel();
  const int travel = queue_.back().pt.x - queue_.front().pt.x;
  if (swipe_ && std::abs(travel) > ScaleX(100)) {
    if (vx < 0)
      swipe_->Previous();
    else
      swipe_->Next();
  }
  return true;
}

void KineticScroller::Replay() {
  DWORD now = GetTickCount();
  g_replayStart.store(now ? now : 1);
  KillTimer(requestWindow_, kTapTimer);
  for (const Record& r : queue_) PostMessageW(r.hwnd, r.message, r.wParam, r.lParam);
  PostThreadMessageW(GetCurrentThreadId(), kReplayEndMessage, kMarkerW, kMarkerL);
  // The window has the press now; the rest of the gesture is its own.
  tracking_ = false;
}

void KineticScroller::StartMomentum(int velocityY) {
  velocityX_ = 0;
  const int maxY = ScaleY(kMaxVelocity96);
  velocityY_ = std::clamp(velocityY, -maxY, maxY);
  tracking_ = false;
  enabled_ = true;
  BeginMomentum();
}

void KineticScroller::BeginMomentum() {
  // A fling during momentum replaces it.
  StopMomentum();
  momentumStop_ = false;
  const int decel = ScaleY(100);
  const int velocity[2] = {velocityX_, velocityY_};
  const bool usable[2] = {hasHorzBar_ && canScrollX_, hasVertBar_ && canScrollY_};
  const int bars[2] = {SB_HORZ, SB_VERT};
  const int ppu[2] = {pixelsPerUnitX_, pixelsPerUnitY_};
  bool any = false;
  for (int i = 0; i < 2; ++i) {
    Axis& a = axes_[i];
    a = Axis{};
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    if (!usable[i] || velocity[i] == 0 || !GetScrollInfo(target_, bars[i], &si)) continue;
    a.velocity = velocity[i];
    a.accel = -Sign(velocity[i]) * decel;
    a.start = static_cast<std::int64_t>(si.nPos) * ppu[i];
    a.lowest = static_cast<std::int64_t>(si.nMin) * ppu[i];
    a.highest = std::max<std::int64_t>(a.lowest, (static_cast<std::int64_t>(si.nMax) - si.nPage + 1) * ppu[i]);
    a.previous = a.start;
    any = true;
  }
  if (!any) return;
  // Once the page moves by itself no touch of this gesture is a tap.
  tapPending_ = false;
  momentumStart_ = GetTickCount();
  momentum_ = requestWindow_ && SetTimer(requestWindow_, kMomentumTimer, kMomentumFrameMs, nullptr);
}

void KineticScroller::StopMomentum() {
  if (!momentum_) return;
  momentum_ = false;
  KillTimer(requestWindow_, kMomentumTimer);
}

void KineticScroller::MomentumPass() {
  if (!momentum_) return;
  if (momentumStop_) {
    StopMomentum();
    return;
  }
  const std::int64_t t = GetTickCount() - momentumStart_;
  const int ppu[2] = {pixelsPerUnitX_, pixelsPerUnitY_};
  int units[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    Axis& a = axes_[i];
    if (a.velocity == 0) continue;
    std::int64_t p = a.start + a.velocity * t / 1000 + (a.accel * t / 1000) * t / 2000;
    if (Sign(p - a.previous) == -Sign(a.velocity)) {
      // The motion would turn back: it is over.
      a.velocity = 0;
      p = a.previous;
    }
    if (p < a.lowest || p > a.highest) {
      p = std::clamp(p, a.lowest, a.highest);
      a.velocity = 0;
    }
    units[i] = static_cast<int>((p - a.previous) / ppu[i]);
    a.previous += static_cast<std::int64_t>(units[i]) * ppu[i];
  }
  if (units[0] || units[1]) Scroll(units[0], units[1]);
  if (axes_[0].velocity == 0 && axes_[1].velocity == 0) StopMomentum();
}

void KineticScroller::ScrollAxis(HWND window, int bar, UINT scrollMessage, int delta) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(window, bar, &si)) return;
  const std::int64_t highest = std::max<std::int64_t>(si.nMin, static_cast<std::int64_t>(si.nMax) - si.nPage + 1);
  const auto pos = static_cast<int>(std::clamp<std::int64_t>(static_cast<std::int64_t>(si.nPos) + delta, si.nMin, highest));
  if (pos == si.nPos) return;
  SCROLLINFO set{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(window, bar, &set, TRUE);
  SendMessageW(window, scrollMessage, MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(pos)), 0);
}

void KineticScroller::Scroll(int unitsX, int unitsY) {
  if (unitsX && hasHorzBar_ && canScrollX_) ScrollAxis(target_, SB_HORZ, WM_HSCROLL, unitsX);
  if (unitsY && hasVertBar_ && canScrollY_) ScrollAxis(target_, SB_VERT, WM_VSCROLL, unitsY);
}

// ---------------------------------------------------------------------------
// Message loop filters

bool FilterKineticMessage(KineticScroller* scroller, const MSG& msg) {
  bool replaying = false;
  if (KineticScroller::CheckReplay(msg, &replaying)) return true;
  if (replaying) return false;
  return scroller && scroller->FilterMessage(msg);
}

HtmlViewScrollFilter::~HtmlViewScrollFilter() { delete current_; }

bool HtmlViewScrollFilter::Filter(const MSG& msg) {
  bool replaying = false;
  if (KineticScroller::CheckReplay(msg, &replaying)) return true;
  if (current_) {
    if (current_->IsBusy()) return replaying ? false : current_->FilterMessage(msg);
    delete current_;
    current_ = nullptr;
  }
  // A replayed press goes to its window as it was.
  if (replaying || msg.message != WM_LBUTTONDOWN) return false;
  HWND under = WindowFromPoint(ScreenPointOf(msg));
  if (!IsHtmlViewerWindow(under)) return false;
  current_ = new KineticScroller(under, swipe_);
  return current_->FilterMessage(msg);
}
