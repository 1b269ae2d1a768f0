// The window-side owner of layout screens: one per host window, with the
// window's plug-in site, the screen stack of dialog contents and a 16-bit
// back buffer. It paints the current screen (the screen below dimmed while a
// transient screen is on top), copies the buffer to the window and keeps the
// picture a screen transition starts from.
#pragma once

#include <cstdint>
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
};

// The header height a dialog's record starts with: the one dialog header
// height of the toolkit (23 pixels at 96 dpi, 46 at 192).
int DialogRecordHeaderHeight();

class CPPCModelessDialogImpl;
// Creates the object's modeless dialog from the empty dialog resource (172,
// "Empty Dialog"); null with last error 14 (ERROR_OUTOFMEMORY) when the
// window cannot be made.
plat::HWND CreateEmptyDialog(CPPCModelessDialogImpl& dialog, plat::HWND parent, plat::LPARAM parameter);
