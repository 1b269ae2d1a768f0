#include "layout/DialogManager.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "core/DebugLog.h"
#include "layout/DialogTitle.h"
#include "layout/PPCDialog.h"
#include "layout/ResourceValues.h"
#include "layout/ScreenScale.h"
#include "platform/base/Time.h"
#include "platform/windows/Windows.h"

using plat::E_FAIL;
using plat::HRESULT;
using plat::S_OK;
using XmlLayouts::CDialogContent;

namespace {

CRefPtr<CDialogContent> AsContent(const CRefPtr<IScreenContent>& screen) {
  return CRefPtr<CDialogContent>(dynamic_cast<CDialogContent*>(screen.Get()));
}

}  // namespace

CRefPtr<CDialogManager> CDialogManager::Create() {
  CDialogManager* manager = new (std::nothrow) CDialogManager();
  if (!manager) ThrowLayout(plat::E_OUTOFMEMORY);
  return CRefPtr<CDialogManager>(manager);
}

CDialogManager::CDialogManager() {
  PluginSite* site = new (std::nothrow) PluginSite(this);
  if (!site) ThrowLayout(plat::E_OUTOFMEMORY);
  site_ = CComRef<PluginSite>(site);
}

CDialogManager::~CDialogManager() {
  runner_.Stop();
  transition_.Reset();
  if (site_) site_->DetachHost();
  if (window_ && plat::GetCapture() == window_) plat::ReleaseCapture();
  window_ = nullptr;
  buffer_.reset();
  snapshot_.reset();
  // The screens go with the manager: no leave or uncover events reach
  // plug-ins whose site is already detached.
  holder_.ReleaseAll();
  site_.Reset();
}

CRefPtr<CDialogContent> CDialogManager::GetContent() { return AsContent(holder_.GetContent()); }

bool CDialogManager::ShowLayout(const std::u16string& name, std::int32_t mode, plat::IUnknown* owner) {
  if (!ShowNamedLayout(holder_, name, mode, owner, site_.Get())) return false;
  Relayout();
  return true;
}

bool CDialogManager::Back(bool force) {
  if (!holder_.Back(force)) return false;
  if (holder_.GetContent()) Relayout();
  InvalidateAll(false);
  return true;
}

void CDialogManager::SetViewSize(int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  if (holder_.GetContent()) Relayout();
}

bool CDialogManager::LoadLayout(const std::u16string& name, std::int32_t flags, plat::IUnknown* source) {
  // A plug-in of the old screen may be what asked for the load.
  CRefPtr<CDialogManager> keep(this);
  CComRef<plat::IUnknown> hold(source);
  if (!ShowLayout(name, flags, source)) return false;
  SendToRoot(kContentEventLayoutShown, 0);
  return true;
}

bool CDialogManager::ReloadLayout(std::int32_t) {
  if (!holder_.GetContent()) return false;
  Relayout();
  SendToRoot(kContentEventLayoutReloaded, 0);
  return true;
}

void CDialogManager::SendToRoot(std::int32_t event, std::intptr_t parameter) {
  if (CRefPtr<CDialogContent> content = GetContent()) content->DispatchEvent(event, parameter, nullptr);
}

std::int32_t CDialogManager::SmoothVelocity(std::int32_t velocity, std::int32_t move, plat::DWORD elapsedMs) {
  // An exponential blend over 128 ms: a longer step would weigh the old
  // velocity negatively and turn it around.
  const std::int64_t dt = std::clamp<std::int64_t>(elapsedMs, 1, 128);
  return static_cast<std::int32_t>(((128 - dt) * velocity + 1000 * static_cast<std::int64_t>(move)) / 128);
}

bool CDialogManager::WaitForInput(plat::DWORD timeoutMs, plat::DWORD wakeMask) {
  if (inputWait_) return inputWait_(timeoutMs, wakeMask);
  return plat::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, wakeMask, plat::MWMO_INPUTAVAILABLE) ==
         plat::WAIT_OBJECT_0;
}

namespace {

constexpr plat::UINT kMouseLast = 525;
constexpr plat::DWORD kHoldMs = 400;
constexpr plat::DWORD kIdleMs = 10000;
constexpr plat::DWORD kTapSettleMs = 25;
constexpr plat::DWORD kDoubleTapMs = 250;

bool MouseMessage(plat::UINT message) { return message >= plat::WM_MOUSEFIRST && message <= kMouseLast; }

// The point of a stylus message, from the high-resolution points where the
// platform gives them (quarter pixels of the screen).
plat::POINT StylusPoint(plat::HWND window, const plat::MSG& msg) {
  plat::POINT p{plat::GET_X_LPARAM(msg.lParam), plat::GET_Y_LPARAM(msg.lParam)};
  plat::POINT fine{};
  plat::UINT got = 0;
  if (plat::GetMouseMovePoints(&fine, 1, &got) && got > 0) {
    p = plat::POINT{(fine.x + 2) / 4, (fine.y + 2) / 4};
    plat::ScreenToClient(window, &p);
  }
  return p;
}

}  // namespace

void CDialogManager::OnStylusDown(int x, int y, bool noCapture) {
  CRefPtr<CDialogContent> content = GetContent();
  if (!content || !content->PointerDown(x, y)) {
    // Nothing to press here: the window procedure must not see an exception.
    CDebugLog::GetInstance().Printf(u"CDialogManager::OnStylusDown: nothing under %d,%d\n", x, y);
    return;
  }
  // Messages dispatched inside the loop may close the view.
  CRefPtr<CDialogManager> keep(this);
  const plat::DWORD pressTime = plat::GetTickCount();
  bool tapPending = true;
  if (lastTapUpSet_ && pressTime - lastTapUp_ < kDoubleTapMs) tapPending = false;
  lastTapUpSet_ = false;
  lastTapUp_ = 0;
  InvalidateAll(false);

  const plat::POINT down{x, y};
  plat::POINT last = down;
  bool released = false;
  bool dragged = false;
  GestureRecord gesture;
  gesture.downX = x;
  gesture.downY = y;
  if (!noCapture && window_) {
    plat::SetCapture(window_);
    const std::int32_t thresholdX = (GetScreenDpiX() * 10 + 48) / 96;
    const std::int32_t thresholdY = (GetScreenDpiY() * 10 + 48) / 96;
    plat::DWORD hold = kHoldMs;
    bool candidate = true;
    plat::DWORD lastTime = pressTime;
    std::int32_t vx = 0;
    std::int32_t vy = 0;
    bool deadlineSet = false;
    plat::DWORD deadline = 0;
    for (;;) {
      // Once the stylus is up the capture has been given back (below).
      if (!released && plat::GetCapture() != window_) return;
      plat::DWORD now = plat::GetTickCount();
      if (!deadlineSet) {
        deadline = now + (candidate || released ? kHoldMs : kIdleMs);
        deadlineSet = true;
      }
      if (static_cast<std::int32_t>(now - deadline) >= 0) break;
      if (!WaitForInput(deadline - now, plat::QS_ALLINPUT)) break;
      plat::MSG msg{};
      if (!plat::PeekMessageW(&msg, nullptr, 0, 0, plat::PM_NOREMOVE)) continue;
      // Stylus input of another window (the soft-key bar, a window that
      // opened meanwhile) is not this gesture's: the gesture ends and that
      // input stays queued for its own window.
      if (MouseMessage(msg.message) && msg.hwnd != window_) break;
      if (!plat::PeekMessageW(&msg, nullptr, 0, 0, plat::PM_REMOVE)) continue;
      if (msg.message == plat::WM_QUIT) {
        plat::ReleaseCapture();
        plat::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      if (!MouseMessage(msg.message)) {
        const plat::DWORD start = plat::GetTickCount();
        plat::TranslateMessage(&msg);
        plat::DispatchMessageW(&msg);
        const plat::DWORD spent = plat::GetTickCount() - start;
        deadline += spent;
        if (candidate) hold += spent;
        continue;
      }
      plat::MSG next{};
      if (msg.message == plat::WM_MOUSEMOVE &&
          plat::PeekMessageW(&next, nullptr, plat::WM_MOUSEFIRST, kMouseLast, plat::PM_NOREMOVE)) {
        continue;
      }
      deadlineSet = false;
      // A bounce: pressed again on this window while the tap settled; the
      // window holds the stylus again until its release.
      if (released && msg.message == plat::WM_LBUTTONDOWN && plat::GetCapture() != window_) plat::SetCapture(window_);
      released = msg.message == plat::WM_LBUTTONUP;
      const plat::POINT p = StylusPoint(window_, msg);
      now = plat::GetTickCount();
      vx = SmoothVelocity(vx, p.x - last.x, now - lastTime);
      vy = SmoothVelocity(vy, p.y - last.y, now - lastTime);
      if (candidate && std::abs(p.x - down.x) < thresholdX && std::abs(p.y - down.y) < thresholdY) {
        last = p;
        lastTime = now;
        if (now - pressTime >= hold) break;  // a hold
        if (released) {
          // The stylus is up: nothing holds it for this window any longer,
          // so the next press goes to the window under it, in whichever
          // program. Only stylus input ends the settling; a paint or a
          // timer does not.
          if (window_ && plat::GetCapture() == window_) plat::ReleaseCapture();
          if (!WaitForInput(kTapSettleMs, plat::QS_MOUSE)) break;  // a tap
        }
        continue;
      }
      candidate = false;
      gesture.previousX = last.x;
      gesture.previousY = last.y;
      gesture.currentX = p.x;
      gesture.currentY = p.y;
      gesture.velocityX = vx;
      gesture.velocityY = vy;
      gesture.released = released ? 1 : 0;
      gesture.stop = 0;
      dragged = true;
      if (content->DispatchEvent(kContentEventDrag, 0, &gesture)) tapPending = false;
      if (gesture.stop) {
        tapPending = false;
        break;
      }
      if (released) {
        plat::MSG queued{};
        if (plat::PeekMessageW(&queued, window_, plat::WM_LBUTTONDOWN, plat::WM_LBUTTONDOWN, plat::PM_NOREMOVE)) {
          lastTapUp_ = plat::GetTickCount();
          lastTapUpSet_ = true;
        }
        last = p;
        break;
      }
      last = p;
      lastTime = now;
      plat::Sleep(0);
    }
    if (dragged) content->DispatchEvent(kContentEventDragEnd, 0, &gesture);
    if (window_ && plat::GetCapture() == window_) plat::ReleaseCapture();
  }
  if (tapPending) {
    // The plug-in hit-tests the point in the content's coordinates, as the
    // press and the release are: add the scroll origin.
    const plat::POINT scroll = content->GetScroll();
    plat::POINT at{last.x + scroll.x, last.y + scroll.y};
    bool handled = false;
    content->Activate(&at, 0, &handled);
    if (!released) {
      // A hold's activation may have run a pop-up menu that took the
      // release: the view holds the stylus again only while it is still
      // down, else the next tap anywhere would come here.
      if (window_ && (plat::GetKeyState(plat::VK_LBUTTON) & 0x8000)) plat::SetCapture(window_);
    } else {
      content->PointerUp(last.x, last.y);
    }
  }
  InvalidateAll(false);
}

void CDialogManager::OnStylusUp(int x, int y) { CancelCapture(x, y); }

void CDialogManager::OnKeyDown(std::int32_t key, std::int32_t variant) {
  CRefPtr<CDialogContent> content = GetContent();
  if (!content) {
    CDebugLog::GetInstance().Printf(u"CDialogManager::OnKeyDown: no screen for key %d\n", key);
    return;
  }
  if (content->DispatchEvent(variant == 0 ? kContentEventKeyDown : kContentEventKeyDownOther, key, nullptr)) {
    InvalidateAll(false);
    return;
  }
  bool handled = false;
  content->HandleKey(key, &handled, false);
  if (!handled && !content->SelectEdgePlugin(key)) {
    CDebugLog::GetInstance().Printf(u"CDialogManager::OnKeyDown: nothing takes key %d\n", key);
  }
  InvalidateAll(false);
}

HRESULT CDialogManager::LoadLayout(const char16_t* name) {
  if (!name) return plat::E_INVALIDARG;
  // A plug-in's load keeps the data source of the screen it replaces.
  CRefPtr<CDialogContent> content = GetContent();
  plat::IUnknown* owner = nullptr;
  CComRef<plat::IUnknown> keep;
  if (content && content->GetOutsideView()->QueryOwner(plat::IID_IUnknown, reinterpret_cast<void**>(&owner)) == S_OK) {
    keep.Attach(owner);
  }
  return LoadLayout(name, kShowReplace, keep.Get()) ? S_OK : E_FAIL;
}

HRESULT CDialogManager::ReloadLayout() { return ReloadLayout(0) ? S_OK : E_FAIL; }

HRESULT CDialogManager::Relayout() {
  CRefPtr<IScreenContent> current;
  CRefPtr<IScreenContent> previous;
  holder_.GetTransition(current, previous);
  LayoutViewRecord view;
  view.width = width_;
  view.height = height_;
  try {
    if (CRefPtr<CDialogContent> below = AsContent(previous)) below->Build(view);
    if (CRefPtr<CDialogContent> content = AsContent(current)) content->Build(view);
  } catch (const COrvException&) {
    ThrowLayout(ORV_E_LAYOUT);
  }
  InvalidateAll(false);
  return S_OK;
}

void CDialogManager::InvalidateAll(bool updateNow) {
  stale_ = true;
  if (!window_) return;
  plat::InvalidateRect(window_, nullptr, plat::TRUE);
  if (updateNow) plat::UpdateWindow(window_);
}

HRESULT CDialogManager::RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) {
  CRefPtr<CDialogContent> content = GetContent();
  if (IsBufferStale() || !buffer_ || !content) {
    InvalidateAll(updateNow);
    return S_OK;
  }
  plat::HDC dc = buffer_->GetDC();
  const int saved = plat::SaveDC(dc);
  ContentPaintRequest request;
  request.dc = dc;
  request.target = buffer_.get();
  request.mode = SelectionMode();
  content->Paint(request, plugin);
  plat::RestoreDC(dc, saved);
  if (window_) {
    plat::InvalidateRect(window_, rect, plat::FALSE);
    if (updateNow) plat::UpdateWindow(window_);
  }
  return S_OK;
}

std::int32_t CDialogManager::SelectionMode() const {
  return window_ && plat::GetCapture() == window_ ? 2 : 1;
}

void CDialogManager::EnsureBuffer() {
  if (!buffer_) {
    buffer_ = std::make_shared<CBitmapBuffer>();
    if (!buffer_) ThrowLayout(plat::E_OUTOFMEMORY);
  }
  if (buffer_->GetBits() && buffer_->GetWidth() == width_ && buffer_->GetHeight() == height_) return;
  buffer_->Destroy();
  if (!buffer_->Create(width_, height_, CBitmapBuffer::kRgb565)) ThrowLayout(ORV_E_LAYOUT);
}

bool CDialogManager::ProcessPaint() {
  CProfileScope profile(u"CDialogManager::ProcessPaint");
  CRefPtr<IScreenContent> current;
  CRefPtr<IScreenContent> previous;
  holder_.GetTransition(current, previous);
  EnsureBuffer();
  plat::HDC dc = buffer_->GetDC();
  const int saved = plat::SaveDC(dc);
  const plat::RECT all{0, 0, width_, height_};
  plat::FillRect(dc, &all, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::BLACK_BRUSH)));
  // With no screen shown the view stays black.
  if (CRefPtr<CDialogContent> content = AsContent(current)) {
    if (CRefPtr<CDialogContent> below = AsContent(previous)) {
      ContentPaintRequest request;
      request.dc = dc;
      request.target = buffer_.get();
      request.mode = 0;
      below->Paint(request);
      buffer_->FillRectAlpha(0, 0, width_, height_, 0x000000, GetThemeBaseHue() == -1 ? 200 : 100);
    }
    ContentPaintRequest request;
    request.dc = dc;
    request.target = buffer_.get();
    request.mode = SelectionMode();
    content->Paint(request);
  }
  plat::RestoreDC(dc, saved);
  stale_ = false;
  return true;
}

bool CDialogManager::IsBufferStale() const {
  if (stale_) return true;
  return buffer_ && (buffer_->GetWidth() != width_ || buffer_->GetHeight() != height_);
}

bool CDialogManager::Paint(plat::HDC dc, plat::POINT origin, const plat::RECT* clip) {
  if (IsBufferStale() || !buffer_) {
    try {
      if (!ProcessPaint()) return false;
    } catch (const COrvException&) {
      return false;
    }
  }
  plat::RECT dest{origin.x, origin.y, origin.x + width_, origin.y + height_};
  if (clip && !plat::IntersectRect(&dest, &dest, clip)) return true;
  plat::BitBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, buffer_->GetDC(),
               dest.left - origin.x, dest.top - origin.y, plat::SRCCOPY);
  return true;
}

void CDialogManager::RunPendingRefresh() {
  if (!refreshPending_) return;
  refreshPending_ = false;
  InvalidateAll(false);
  if (CRefPtr<CDialogContent> content = GetContent()) content->DispatchEvent(21, 32868, nullptr);
}

void CDialogManager::OnPaint() {
  RunPendingRefresh();
  plat::PAINTSTRUCT ps{};
  plat::HDC dc = plat::BeginPaint(window_, &ps);
  if (!paintSuppressed_) Paint(dc, plat::POINT{0, 0}, &ps.rcPaint);
  plat::EndPaint(window_, &ps);
}

std::shared_ptr<CBitmapBuffer> CDialogManager::CaptureSnapshot() {
  if (IsBufferStale() || !buffer_) ProcessPaint();
  snapshot_ = std::move(buffer_);
  stale_ = true;
  return snapshot_;
}

bool CDialogManager::StartTransition(int code, const plat::RECT* parameter) {
  if (!snapshot_) return false;
  if (IsBufferStale() || !buffer_) ProcessPaint();
  // The effect keeps the picture to end on; the next paint makes a new
  // buffer, so the screen and the effect's thread never share one.
  std::shared_ptr<CBitmapBuffer> picture = std::move(buffer_);
  stale_ = true;
  CRefPtr<ScreenTransition> effect = CreateScreenTransition(code, snapshot_, picture, window_, parameter);
  if (!effect) return false;
  runner_.Stop();
  transition_ = effect;
  // Frames come at their pace while the UI thread is busy with the new screen.
  runner_.Start(effect.Get(), plat::THREAD_PRIORITY_HIGHEST, window_);
  return true;
}

void CDialogManager::EndTransition() {
  runner_.Stop();
  transition_.Reset();
  snapshot_.reset();
  InvalidateAll(false);
}

void CDialogManager::CancelCapture(int x, int y) {
  if (!window_ || plat::GetCapture() != window_) return;
  plat::ReleaseCapture();
  if (CRefPtr<CDialogContent> content = GetContent()) content->PointerUp(x, y);
  InvalidateAll(false);
}

int DialogRecordHeaderHeight() { return GetDialogHeaderHeight(); }

plat::HWND CreateEmptyDialog(CPPCModelessDialogImpl& dialog, plat::HWND parent, plat::LPARAM parameter) {
  plat::HWND window = dialog.Create(parent, kEmptyDialogId, parameter);
  if (!window) plat::SetLastError(plat::ERROR_OUTOFMEMORY);
  return window;
}
