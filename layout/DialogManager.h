// The window-side owner of layout screens: one per host window, with the
// window's plug-in site, the screen stack of dialog contents and a 16-bit
// back buffer. It paints the current screen (the screen below dimmed while a
// transient screen is on top), copies the buffer to the window and keeps the
// picture a screen transition starts from.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/BitmapBuffer.h"
#include "core/RefCounted.h"
#include "layout/AnimationRunner.h"
#include "layout/ContentInterfaces.h"
#include "layout/DialogContent.h"
#include "layout/ScreenTransition.h"

class CDialogManager : public CRefCounted, private IPluginSiteHost {
 public:
  // Raises 0x8007000E when the site cannot be made.
  static CRefPtr<CDialogManager> Create();

  void SetWindow(plat::HWND window) { window_ = window; }
  plat::HWND GetWindow() const { return window_; }
  IPluginSite* GetSite() const { return site_.Get(); }
  ContentHolder& GetHolder() { return holder_; }
  // The current content, counted; null when the stack is empty.
  CRefPtr<XmlLayouts::CDialogContent> GetContent();

  // Shows the named layout fed by owner's data source with a stack mode
  // (replace, reset, push, push transient) and lays it out; false when the
  // layout cannot be shown.
  bool ShowLayout(const std::u16string& name, std::int32_t mode, plat::IUnknown* owner);
  // Pops the top screen; false when nothing was popped.
  bool Back(bool force = false);
  // Stores the client size; a change lays the content out again.
  void SetViewSize(int width, int height);

  // Loads the named layout fed by source into the screen stack (flags: the
  // stack mode), lays it out and tells its root plug-in (event 23); false
  // when it does not load (the old screen stays).
  bool LoadLayout(const std::u16string& name, std::int32_t flags, plat::IUnknown* source);
  // Lays the current layout out again and tells its root plug-in (event 24);
  // false without a screen.
  bool ReloadLayout(std::int32_t flags);

  // The stylus loop of a press at (x, y) in the window: with the stylus
  // captured it pumps the thread's messages itself and tells a tap (release
  // within 10 units at 96 dpi, then 25 ms without input), a hold (400 ms
  // without leaving those bounds) and a drag (beyond them: content events 8
  // while moving and 9 at the end, with the smoothed velocity). A press with
  // nothing under it is ignored (and logged).
  void OnStylusDown(int x, int y, bool noCapture);
  // The stylus rose outside the loop (after a hold).
  void OnStylusUp(int x, int y);
  // A key: content event 17 (variant 0) or 18 to the current plug-in, then
  // the navigation when nobody took it. Without a screen it is ignored (and
  // logged).
  void OnKeyDown(std::int32_t key, std::int32_t variant);

  // How the stylus loop waits for input: up to timeoutMs, true when input
  // is there. By default the thread's queue; tests give a scripted source.
  // wakeMask: the kinds of input that end the wait (QS_ALLINPUT, or QS_MOUSE
  // while a released tap settles).
  using InputWait = std::function<bool(plat::DWORD timeoutMs, plat::DWORD wakeMask)>;
  void SetInputWait(InputWait wait) { inputWait_ = std::move(wait); }
  // Time of the last release that had another press queued behind it (for
  // the double-tap guard); 0 when none.
  plat::DWORD GetLastTapUpTime() const { return lastTapUp_; }
  // Smoothed velocity of the last stylus step (pixels per 1000 ms) from the
  // old one, the move and the time it took; the step is held to 1..128 ms so
  // that a pause never turns the old velocity around.
  static std::int32_t SmoothVelocity(std::int32_t velocity, std::int32_t move, plat::DWORD elapsedMs);
  plat::SIZE GetViewSize() const { return {width_, height_}; }

  // Repaints the back buffer from the screen stack; true.
  bool ProcessPaint();
  // Brings the buffer up to date when stale and copies the clipped part of
  // it to dc at origin; false (nothing drawn) when it cannot be brought up to
  // date.
  bool Paint(plat::HDC dc, plat::POINT origin, const plat::RECT* clip);
  // WM_PAINT of the host.
  void OnPaint();
  // The picture as it is now, taken out as the start of a transition (the
  // next paint makes a new buffer).
  std::shared_ptr<CBitmapBuffer> CaptureSnapshot();
  const std::shared_ptr<CBitmapBuffer>& GetSnapshot() const { return snapshot_; }
  // A picture taken elsewhere as the start of the next transition.
  void SetSnapshot(std::shared_ptr<CBitmapBuffer> snapshot) { snapshot_ = std::move(snapshot); }
  // Starts the transition of the code (0-8) from the snapshot to the picture
  // as it is now on the animation runner over the window: 0/1 turning cube,
  // 2 cross-fade, 3/4 push, 5/6 and 7/8 rectangle turns (5/6 need the
  // rectangle). False when nothing starts: no snapshot, codes 9 and above,
  // 5 and 6 without a rectangle, an effect that cannot be made.
  bool StartTransition(int code, const plat::RECT* parameter);
  // The transition has finished (WM_APP+500): the effect and the snapshot
  // are let go and the view is painted from the screen again.
  void EndTransition();
  ScreenTransition* GetTransition() const { return transition_.Get(); }
  // The runner of the transitions; the host may give it its clock.
  AnimationRunner& GetAnimationRunner() { return runner_; }
  // Builds the current content (and a screen below a transient one) again
  // for the view size; raises 0x84000001 when that fails, else S_OK.
  plat::HRESULT Relayout() override;
  bool IsBufferStale() const;
  void MarkStale() { stale_ = true; }
  // Marks the picture stale and invalidates the window.
  void InvalidateView() { InvalidateAll(false); }
  void CancelCapture(int x, int y);
  // The next WM_PAINT tells the content that data changed (event 21).
  void RequestRefresh() { refreshPending_ = true; }
  void RunPendingRefresh();
  void SetPaintSuppressed(bool on) { paintSuppressed_ = on; }
  const std::shared_ptr<CBitmapBuffer>& GetBuffer() const { return buffer_; }

 protected:
  ~CDialogManager() override;

 private:
  CDialogManager();

  // IPluginSiteHost
  plat::HRESULT LoadLayout(const char16_t* name) override;
  plat::HRESULT ReloadLayout() override;
  plat::HWND GetHostWindow() override { return window_; }
  void InvalidateAll(bool updateNow) override;
  plat::HRESULT RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) override;

  std::int32_t SelectionMode() const;
  void EnsureBuffer();
  bool WaitForInput(plat::DWORD timeoutMs, plat::DWORD wakeMask);
  void SendToRoot(std::int32_t event, std::intptr_t parameter);

  plat::HWND window_ = nullptr;
  CComRef<PluginSite> site_;
  ContentHolder holder_;
  bool stale_ = true;
  bool refreshPending_ = false;
  bool paintSuppressed_ = false;
  std::shared_ptr<CBitmapBuffer> buffer_;
  std::shared_ptr<CBitmapBuffer> snapshot_;
  // Stopped before the effect it plays is let go.
  AnimationRunner runner_;
  CRefPtr<ScreenTransition> transition_;
  int width_ = 0;
  int height_ = 0;
  InputWait inputWait_;
  plat::DWORD lastTapUp_ = 0;
  bool lastTapUpSet_ = false;
};

// The header height a dialog's record starts with: the one dialog header
// height of the toolkit (23 pixels at 96 dpi, 46 at 192).
int DialogRecordHeaderHeight();

class CPPCModelessDialogImpl;
// Creates the object's modeless dialog from the empty dialog resource (172,
// "Empty Dialog"); null with last error 14 (ERROR_OUTOFMEMORY) when the
// window cannot be made.
plat::HWND CreateEmptyDialog(CPPCModelessDialogImpl& dialog, plat::HWND parent, plat::LPARAM parameter);
