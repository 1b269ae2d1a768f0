#include "service/ScreenCover.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/base/Module.h"
#include "platform/controls/Shell.h"
#include "platform/windows/SystemMetrics.h"

namespace {

// The procedures the subclasses pass on to, and the screen copy the cover
// paints (one cover at a time).
std::atomic<plat::WNDPROC> g_taskBarPrevious{nullptr};
std::atomic<plat::WNDPROC> g_sipButtonPrevious{nullptr};
std::atomic<CSTScreenBuffer*> g_coverCopy{nullptr};

constexpr int kShelfPosition = 1000;
// How long a window of another process is asked again to go back into place
// while its owner cannot take the request.
constexpr auto kPutBackBound = std::chrono::seconds(30);
constexpr auto kPutBackPause = std::chrono::milliseconds(50);
using FullScreenFn = plat::BOOL (*)(plat::HWND, plat::DWORD);

}  // namespace

CScreenCover::~CScreenCover() {
  Hide();
  LastTry();
}

plat::LRESULT CScreenCover::TaskBarProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_USER) return 0;
  return plat::CallWindowProcW(g_taskBarPrevious.load(), hwnd, msg, wParam, lParam);
}

plat::LRESULT CScreenCover::SipButtonProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_MOVE || msg == plat::WM_SIZE || msg == plat::WM_PAINT) return 0;
  return plat::CallWindowProcW(g_sipButtonPrevious.load(), hwnd, msg, wParam, lParam);
}

plat::LRESULT CScreenCover::CoverProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_ERASEBKGND) return 1;
  if (msg == plat::WM_PAINT) {
    plat::PAINTSTRUCT ps{};
    plat::HDC dc = plat::BeginPaint(hwnd, &ps);
    if (CSTScreenBuffer* copy = g_coverCopy.load()) copy->BlitTo(dc, 0, 0);
    plat::EndPaint(hwnd, &ps);
    return 0;
  }
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void CScreenCover::Shelve(const char16_t* cls, plat::WNDPROC subclass, Shelved* out) {
  *out = Shelved{};
  plat::HWND hwnd = plat::FindWindowW(cls, nullptr);
  if (!hwnd || !plat::GetWindowRect(hwnd, &out->rect)) return;
  out->hwnd = hwnd;
  out->above = plat::GetWindow(hwnd, plat::GW_HWNDPREV);
  out->visible = plat::IsWindowVisible(hwnd) != plat::FALSE;
  // Another process's procedure cannot be read or replaced: the cover goes on
  // without the subclass.
  auto previous = reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongW(hwnd, plat::GWL_WNDPROC));
  if (previous && plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(subclass)))
    out->previous = previous;
}

bool CScreenCover::Show() {
  if (cover_) return true;
  Shelve(u"HHTaskBar", &TaskBarProc, &taskBar_);
  g_taskBarPrevious = taskBar_.previous;
  Shelve(u"MS_SIPBUTTON", &SipButtonProc, &sipButton_);
  g_sipButtonPrevious = sipButton_.previous;

  const int width = plat::GetSystemMetrics(plat::SM_CXSCREEN);
  const int height = plat::GetSystemMetrics(plat::SM_CYSCREEN);
  if (!copy_) {
    auto copy = std::make_unique<CSTScreenBuffer>();
    if (!copy->Create(width, height)) return false;
    copy_ = std::move(copy);
  }
  std::fill(copy_->GetBits(), copy_->GetBits() + static_cast<std::size_t>(copy_->GetStride()) * height, 0xFF);
  plat::HDC screen = plat::GetDC(nullptr);
  plat::HDC target = copy_->GetDC();
  const bool copied = screen && target && plat::BitBlt(target, 0, 0, width, height, screen, 0, 0, plat::SRCCOPY);
  if (screen) plat::ReleaseDC(nullptr, screen);
  if (!copied) return false;
  g_coverCopy = copy_.get();

  plat::UnregisterClassW(kCoverClassName, nullptr);
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = &CoverProc;
  wc.lpszClassName = kCoverClassName;
  plat::RegisterClassW(&wc);
  // Made hidden and drawn before it shows, so the screen never shows an
  // empty cover; it ends as a visible pop-up.
  cover_ = plat::CreateWindowExW(0, kCoverClassName, u"", plat::WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                 nullptr, nullptr);
  if (!cover_) return false;
  if (plat::HDC dc = plat::GetDC(cover_)) {
    copy_->BlitTo(dc, 0, 0);
    plat::ReleaseDC(cover_, dc);
  }
  if (plat::HMODULE shell = plat::LoadLibraryW(u"aygshell.dll")) {
    if (auto fullScreen = reinterpret_cast<FullScreenFn>(plat::GetProcAddress(shell, reinterpret_cast<const char*>(65))))
      fullScreen(cover_, plat::SHFS_HIDETASKBAR | plat::SHFS_HIDESIPBUTTON);
    plat::FreeLibrary(shell);
  }
  plat::SetWindowPos(cover_, plat::HWND_TOPMOST, 0, 0, width, height, plat::SWP_SHOWWINDOW);
  plat::UpdateWindow(cover_);
  for (Shelved* s : {&taskBar_, &sipButton_})
    if (s->hwnd)
      plat::SetWindowPos(s->hwnd, nullptr, kShelfPosition, kShelfPosition, 0, 0,
                         plat::SWP_NOSIZE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
  return true;
}

bool CScreenCover::Stopping() const {
  return stop_ && plat::WaitForSingleObject(stop_, 0) == plat::WAIT_OBJECT_0;
}

bool CScreenCover::TryPutBack(Shelved* s, plat::UINT extraFlags) {
  plat::UINT flags = plat::SWP_NOSIZE | plat::SWP_NOACTIVATE | extraFlags;
  plat::HWND after = nullptr;
  if (s->restoreOrder) {
    // Back into its place in the z-order, shown as it was, so the screen is
    // as the user left it.
    after = s->above && plat::IsWindow(s->above) ? s->above : plat::HWND_TOP;
    flags |= s->visible ? plat::SWP_SHOWWINDOW : plat::SWP_HIDEWINDOW;
  } else {
    flags |= plat::SWP_NOZORDER;
  }
  if (plat::SetWindowPos(s->hwnd, after, s->rect.left, s->rect.top, 0, 0, flags) || !plat::IsWindow(s->hwnd))
    return true;
  // A late answer may have moved it already.
  plat::RECT now{};
  return !s->restoreOrder && plat::GetWindowRect(s->hwnd, &now) && now.left == s->rect.left &&
         now.top == s->rect.top;
}

void CScreenCover::PutBack(Shelved* s, bool restoreOrder) {
  if (!s->hwnd) return;
  // Given up after the stop: only LastTry asks it again, so the thread ends.
  if (s->givenUp && Stopping()) return;
  if (s->previous) {
    plat::SetWindowLongW(s->hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(s->previous));
    s->previous = nullptr;
  }
  s->restoreOrder = restoreOrder;
  // Another process's window is moved by its own thread: the request fails
  // while that thread has not read its messages for a while (taken as hung)
  // or does not answer in time, which a busy device sees now and then. The
  // window must not stay out of sight, so it is asked again for as long as it
  // exists, until it answers or is seen back in place; a stop ends the asking
  // (the window is then left for LastTry).
  const auto until = std::chrono::steady_clock::now() + kPutBackBound;
  while (!TryPutBack(s) && std::chrono::steady_clock::now() < until) {
    const bool stopped = stop_ ? plat::WaitForSingleObject(stop_, static_cast<plat::DWORD>(kPutBackPause.count())) ==
                                     plat::WAIT_OBJECT_0
                               : (std::this_thread::sleep_for(kPutBackPause), false);
    if (stopped) {
      s->givenUp = true;
      return;
    }
  }
  *s = Shelved{};
}

void CScreenCover::LastTry() {
  // The request is left with the window's owner, which may still not read its
  // messages (taken as hung and refused a request it must answer): it goes
  // back when its owner reads them again, and the service does not wait.
  for (Shelved* s : {&taskBar_, &sipButton_}) {
    if (s->hwnd && s->givenUp) TryPutBack(s, plat::SWP_ASYNCWINDOWPOS);
    if (s->givenUp) *s = Shelved{};
  }
}

void CScreenCover::Hide() {
  // The shell's windows go back while the cover still hides them, so the
  // screen never shows them missing.
  PutBack(&taskBar_, false);
  g_taskBarPrevious = nullptr;
  PutBack(&sipButton_, true);
  g_sipButtonPrevious = nullptr;
  if (cover_) {
    plat::DestroyWindow(cover_);
    cover_ = nullptr;
  }
  g_coverCopy = nullptr;
}
