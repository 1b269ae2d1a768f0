// Screen transitions: the old screen's picture and the new one's combined
// frame by frame into a work bitmap that is copied to the window. Codes (the
// wParam of WM_APP+502):
//   0, 1  turning cube about the vertical axis, forward / backward (400 ms)
//   2     cross-fade (200 ms)
//   3, 4  push, the new screen from the right / from the left (500 ms)
//   5, 6  rectangle turn about both axes, forward / backward (320 ms)
//   7, 8  rectangle turn about the horizontal axis, forward / backward (320 ms)
// A transition is an animation for AnimationRunner: GetDuration prepares it,
// Step renders the frame, Finish shows the new screen and tells the window.
#pragma once

#include <memory>

#include "core/BitmapBuffer.h"
#include "layout/AnimationRunner.h"
#include "layout/QuadRasterizer.h"
#include "platform/windows/Windows.h"

// Posted to the window when a transition has finished.
constexpr plat::UINT WM_TRANSITION_FINISHED = plat::WM_APP + 500;
constexpr plat::UINT WM_TRANSITION_PREPARE = plat::WM_APP + 501;
constexpr plat::UINT WM_TRANSITION_START = plat::WM_APP + 502;

using SharedBitmap = std::shared_ptr<CBitmapBuffer>;

class ScreenTransition : public IAnimation {
 public:
  // Both pictures 16 bits; the window's DC is held until destruction (the
  // window may be null: frames are then only drawn into the work bitmap).
  // Raises COrvException 0x84000001 without a picture or with duration 0.
  ScreenTransition(SharedBitmap from, SharedBitmap to, plat::DWORD durationMs, plat::HWND window);
  ~ScreenTransition() override;

  // Creates the work bitmap and the effect's geometry; *duration receives the
  // time to run, 0 when a picture's size differs from the window's (the
  // switch then happens without animation).
  virtual void Prepare(plat::DWORD* duration);
  // Draws the frame at the elapsed time (clamped to 0 .. duration) into the
  // work bitmap and copies it to the window.
  void RenderFrame(plat::DWORD elapsed);
  // Copies the new picture to the window and, unless noNotify, posts
  // WM_TRANSITION_FINISHED to it.
  virtual void Finish(bool noNotify) override;

  // The animation interface: GetDuration prepares, Step renders; an
  // interrupted animation finishes without the notification.
  void GetDuration(plat::DWORD* ms) override { Prepare(ms); }
  void Step(plat::DWORD ms) override { RenderFrame(ms); }

  const CBitmapBuffer& GetWorkBitmap() const { return work_; }
  plat::DWORD GetDurationMs() const { return duration_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }

 protected:
  // Draws the frame at t (0 .. duration) into work_.
  virtual void DrawFrame(plat::DWORD t) = 0;

  SharedBitmap from_;
  SharedBitmap to_;
  plat::DWORD duration_;
  plat::HWND window_;
  plat::HDC windowDc_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  CBitmapBuffer work_;
  bool prepared_ = false;
  bool animate_ = false;
};

class CrossFadeTransition : public ScreenTransition {
 public:
  CrossFadeTransition(SharedBitmap from, SharedBitmap to, plat::DWORD durationMs, plat::HWND window)
      : ScreenTransition(std::move(from), std::move(to), durationMs, window) {}

 protected:
  void DrawFrame(plat::DWORD t) override;
};

class PushTransition : public ScreenTransition {
 public:
  PushTransition(SharedBitmap from, SharedBitmap to, plat::DWORD durationMs, plat::HWND window, bool forward)
      : ScreenTransition(std::move(from), std::move(to), durationMs, window), forward_(forward) {}

 protected:
  void DrawFrame(plat::DWORD t) override;

 private:
  bool forward_;
};

class CubeTransition : public ScreenTransition {
 public:
  // depth: the camera distance in pixels at 96 dpi; direction 1 forward.
  CubeTransition(SharedBitmap from, SharedBitmap to, plat::DWORD durationMs, plat::HWND window, int depth,
                 int direction);
  void Prepare(plat::DWORD* duration) override;

 protected:
  void DrawFrame(plat::DWORD t) override;

 private:
  TexturedQuad ScreenQuad(const CBitmapBuffer* texture) const;
  int depth_;
  Fixed endAngle_;
  Viewport viewport_{};
  bool quality_ = false;
};

class RectangleTurnTransition : public ScreenTransition {
 public:
  // aboutBothAxes: codes 5 and 6 (a tilt about the vertical axis is added);
  // otherwise codes 7 and 8.
  RectangleTurnTransition(SharedBitmap from, SharedBitmap to, plat::DWORD durationMs, plat::HWND window,
                          const plat::RECT& rect, bool forward, bool aboutBothAxes);
  void Prepare(plat::DWORD* duration) override;

 protected:
  void DrawFrame(plat::DWORD t) override;

 private:
  plat::RECT rect_;
  bool forward_;
  bool bothAxes_;
  int side_ = 1;
  Viewport viewport_{};
  bool quality_ = false;
};

// The transition for a code with its duration and parameters; null for a
// code above 8, codes 5 to 8 without a rectangle, or a transition that cannot
// be created.
CRefPtr<ScreenTransition> CreateScreenTransition(int code, SharedBitmap from, SharedBitmap to, plat::HWND window,
                                                 const plat::RECT* rect);
