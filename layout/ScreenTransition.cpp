#include "layout/ScreenTransition.h"

#include <algorithm>

#include "core/OrvException.h"
#include "layout/FixedSine.h"
#include "layout/MaskedImage.h"
#include "layout/ScreenScale.h"

using namespace plat;

namespace {

constexpr unsigned kDrawFlags = 255;

// A design value at 96 dpi in pixels of the screen's horizontal DPI.
int CameraPixels(int value96) { return (value96 * GetScreenDpiX() + 48) / 96; }

}  // namespace

ScreenTransition::ScreenTransition(SharedBitmap from, SharedBitmap to, DWORD durationMs, HWND window)
    : from_(std::move(from)), to_(std::move(to)), duration_(durationMs), window_(window) {
  if (!from_ || !to_ || duration_ == 0 || from_->GetBitsPerPixel() != 16 || to_->GetBitsPerPixel() != 16)
    throw COrvException(ORV_E_LAYOUT);
  width_ = from_->GetWidth();
  height_ = from_->GetHeight();
  // The memory DCs are made here, on the creating thread, before the
  // animation thread copies through them.
  from_->GetDC();
  to_->GetDC();
  if (window_) windowDc_ = GetDC(window_);
}

ScreenTransition::~ScreenTransition() {
  if (windowDc_) ReleaseDC(window_, windowDc_);
}

void ScreenTransition::Prepare(DWORD* duration) {
  prepared_ = true;
  int windowW = width_, windowH = height_;
  if (window_) {
    RECT client{};
    if (GetClientRect(window_, &client)) {
      windowW = client.right - client.left;
      windowH = client.bottom - client.top;
    }
  }
  // A picture of another size than the window cannot be animated over it.
  animate_ = windowW == width_ && windowH == height_ && to_->GetWidth() == width_ && to_->GetHeight() == height_ &&
             width_ > 0 && height_ > 0 && work_.Create(windowW, windowH, CBitmapBuffer::kRgb565);
  if (animate_) work_.GetDC();
  if (duration) *duration = animate_ ? duration_ : 0;
}

void ScreenTransition::RenderFrame(DWORD elapsed) {
  if (!prepared_) Prepare(nullptr);
  if (!animate_) return;
  DrawFrame(std::min(elapsed, duration_));
  if (windowDc_) BitBlt(windowDc_, 0, 0, width_, height_, work_.GetDC(), 0, 0, SRCCOPY);
}

void ScreenTransition::Finish(bool noNotify) {
  if (windowDc_) BitBlt(windowDc_, 0, 0, to_->GetWidth(), to_->GetHeight(), to_->GetDC(), 0, 0, SRCCOPY);
  if (!noNotify && window_) PostMessageW(window_, WM_TRANSITION_FINISHED, 0, 0);
}

// ---------------------------------------------------------------------------
// Flat effects

void CrossFadeTransition::DrawFrame(DWORD t) {
  const int alpha = static_cast<int>(static_cast<unsigned>(t) * 255u / duration_);
  CopyBitmapRect(work_, 0, 0, width_, height_, *from_, 0, 0);
  work_.BlendFrom(0, 0, width_, height_, *to_, 0, 0, alpha);
}

void PushTransition::DrawFrame(DWORD t) {
  const int w = width_, h = height_;
  const auto p = static_cast<int>(static_cast<unsigned>(t) * 64u / duration_);
  const int d = static_cast<int>((static_cast<std::int64_t>(128 - p) * w * p) >> 12);
  if (forward_) {
    if (w - d > 0) CopyBitmapRect(work_, 0, 0, w - d, h, *from_, d, 0);
    if (d > 0) CopyBitmapRect(work_, w - d, 0, d, h, *to_, 0, 0);
  } else {
    if (d > 0) CopyBitmapRect(work_, 0, 0, d, h, *to_, w - d, 0);
    if (w - d > 0) CopyBitmapRect(work_, d, 0, w - d, h, *from_, 0, 0);
  }
}

// ---------------------------------------------------------------------------
// Turning cube

CubeTransition::CubeTransition(SharedBitmap from, SharedBitmap to, DWORD durationMs, HWND window, int depth,
                               int direction)
    : ScreenTransition(std::move(from), std::move(to), durationMs, window),
      depth_(depth),
      endAngle_(direction == 1 ? kQuarterTurn : -kQuarterTurn) {}

void CubeTransition::Prepare(DWORD* duration) {
  ScreenTransition::Prepare(duration);
  viewport_ = Viewport{ToFixed(CameraPixels(depth_)), ToFixed(width_), ToFixed(height_), &work_};
  quality_ = IsDoubleResolutionScreen();
}

TexturedQuad CubeTransition::ScreenQuad(const CBitmapBuffer* texture) const {
  TexturedQuad q{};
  const int w = width_, h = height_;
  const Fixed left = -ToFixed(w) / 2, right = ToFixed(w) - ToFixed(w) / 2;
  const Fixed top = -ToFixed(h) / 2, bottom = ToFixed(h) - ToFixed(h) / 2;
  const Fixed xs[4] = {left, right, right, left}, ys[4] = {top, top, bottom, bottom};
  const int us[4] = {0, w - 1, w - 1, 0}, vs[4] = {0, 0, h - 1, h - 1};
  for (int i = 0; i < 4; ++i) {
    q.v[i].x = xs[i];
    q.v[i].y = ys[i];
    q.v[i].z = 0;
    q.v[i].u = us[i];
    q.v[i].v = vs[i];
  }
  q.texture = texture;
  q.flags = kDrawFlags;
  return q;
}

void CubeTransition::DrawFrame(DWORD t) {
  const Fixed angle = Ease(t, duration_, 0, endAngle_, 20, 20);
  work_.FillRectAlpha(0, 0, width_, height_, RGB(0, 0, 0), 255);
  // The faces are two sides of a cube whose centre lies half a screen width
  // behind the screen plane: each is pushed back to the centre, turned, and
  // brought forward again.
  const Fixed half = ToFixed(width_) / 2;
  struct Face {
    const CBitmapBuffer* texture;
    Fixed angle;
  } faces[2] = {{from_.get(), angle}, {to_.get(), angle - endAngle_}};
  for (const Face& f : faces) {
    Matrix4 m = TranslationMatrix(0, 0, -half);
    MatrixMultiply(m, RotationY(f.angle));
    MatrixMultiply(m, TranslationMatrix(0, 0, half));
    TexturedQuad q = ScreenQuad(f.texture);
    TransformQuad(q, m);
    if (!ProjectQuad(viewport_, q) || ProjectedArea(q) <= 0) continue;
    RasterizeTexturedQuad(viewport_, q, quality_, q.flags);
  }
}

// ---------------------------------------------------------------------------
// Rectangle turns

RectangleTurnTransition::RectangleTurnTransition(SharedBitmap from, SharedBitmap to, DWORD durationMs, HWND window,
                                                 const RECT& rect, bool forward, bool aboutBothAxes)
    : ScreenTransition(std::move(from), std::move(to), durationMs, window),
      rect_(rect),
      forward_(forward),
      bothAxes_(aboutBothAxes) {}

void RectangleTurnTransition::Prepare(DWORD* duration) {
  ScreenTransition::Prepare(duration);
  // The band lies within the screen and is at least a pixel tall and wide.
  rect_.left = std::clamp<LONG>(rect_.left, 0, std::max(0, width_ - 1));
  rect_.right = std::clamp<LONG>(rect_.right, rect_.left + 1, std::max(1, width_));
  rect_.top = std::clamp<LONG>(rect_.top, 0, std::max(0, height_ - 1));
  rect_.bottom = std::clamp<LONG>(rect_.bottom, rect_.top + 1, std::max(1, height_));
  side_ = rect_.top < height_ / 2 ? 1 : -1;
  viewport_ = Viewport{ToFixed(CameraPixels(bothAxes_ ? 250 : 200)), ToFixed(width_), ToFixed(height_), &work_};
  quality_ = IsDoubleResolutionScreen();
}

void RectangleTurnTransition::DrawFrame(DWORD t) {
  const int W = width_, H = height_;
  const int hr = rect_.bottom - rect_.top;
  const CBitmapBuffer& back = forward_ ? *from_ : *to_;
  const CBitmapBuffer* bandTexture = forward_ ? from_.get() : to_.get();
  const CBitmapBuffer* screenTexture = forward_ ? to_.get() : from_.get();
  const Fixed endAngle = side_ * kQuarterTurn;
  const Fixed angle = forward_ ? Ease(t, duration_, 0, endAngle, 20, 20) : Ease(t, duration_, endAngle, 0, 20, 20);
  // How far the box has turned, 0 (band in front) .. 1.0 (screen in front).
  const Fixed turned = static_cast<Fixed>((static_cast<std::int64_t>(std::abs(angle)) << 16) / kQuarterTurn);

  CopyBitmapRect(work_, 0, 0, W, H, back, 0, 0);
  work_.FillRectAlpha(rect_.left, rect_.top, rect_.right - rect_.left, hr, RGB(0, 0, 0), 255);

  // A box seen end-on turns about its horizontal axis: its front is the
  // band (hr tall), and the side next to it (above the band when it lies in
  // the upper half, else below) is the whole screen, H deep. Turned a quarter
  // the screen side faces the viewer. The box moves so that the band starts
  // where it is on the screen and the screen side ends filling the screen.
  const Fixed halfH = ToFixed(H) / 2, halfHr = ToFixed(hr) / 2;
  const Fixed left = -ToFixed(W) / 2, right = ToFixed(W) - ToFixed(W) / 2;
  TexturedQuad band{};
  const Fixed bx[4] = {left, right, right, left}, by[4] = {-halfHr, -halfHr, halfHr, halfHr};
  const int bu[4] = {rect_.left, rect_.right - 1, rect_.right - 1, rect_.left};
  const int bv[4] = {rect_.top, rect_.top, rect_.bottom - 1, rect_.bottom - 1};
  for (int i = 0; i < 4; ++i) band.v[i] = QuadVertex{bx[i], by[i], -halfH, bu[i], bv[i], 0, 0, 0, 0, 0, 0, 0, 0};
  band.texture = bandTexture;
  band.flags = kDrawFlags;

  TexturedQuad screen{};
  const int su[4] = {0, W - 1, W - 1, 0}, sv[4] = {0, 0, H - 1, H - 1};
  // Rows of the screen side run from its back edge to the edge it shares
  // with the band (side +1), or from that edge backwards (side -1).
  const Fixed sz[4] = {side_ * halfH, side_ * halfH, -side_ * halfH, -side_ * halfH};
  const Fixed sy = side_ > 0 ? -halfHr : halfHr;
  for (int i = 0; i < 4; ++i) screen.v[i] = QuadVertex{bx[i], sy, sz[i], su[i], sv[i], 0, 0, 0, 0, 0, 0, 0, 0};
  screen.texture = screenTexture;
  screen.flags = kDrawFlags;

  auto lerp = [&](Fixed a, Fixed b) {
    return static_cast<Fixed>(a + ((static_cast<std::int64_t>(b - a) * turned) >> 16));
  };
  const Fixed bandCentre = ToFixed(rect_.top + rect_.bottom) / 2 - halfH;
  const Fixed moveY = lerp(bandCentre, 0);
  const Fixed moveZ = lerp(halfH, halfHr);

  Matrix4 m = RotationX(angle);
  if (bothAxes_) {
    // Codes 5 and 6 tilt the box about the vertical axis on the way, most at
    // half way and not at all at either end.
    const Fixed tilt = static_cast<Fixed>((static_cast<std::int64_t>(FixedSine(turned * 2)) * (kQuarterTurn / 6)) >> 16);
    MatrixMultiply(m, RotationY(side_ * tilt));
  }
  MatrixMultiply(m, TranslationMatrix(0, moveY, moveZ));
  for (TexturedQuad* q : {&screen, &band}) {
    TransformQuad(*q, m);
    if (!ProjectQuad(viewport_, *q) || ProjectedArea(*q) <= 0) continue;
    RasterizeTexturedQuad(viewport_, *q, quality_, q->flags);
  }
}

// ---------------------------------------------------------------------------

CRefPtr<ScreenTransition> CreateScreenTransition(int code, SharedBitmap from, SharedBitmap to, HWND window,
                                                 const RECT* rect) {
  try {
    ScreenTransition* t = nullptr;
    RECT whole{0, 0, from ? from->GetWidth() : 0, from ? from->GetHeight() : 0};
    switch (code) {
      case 0:
      case 1:
        t = new CubeTransition(std::move(from), std::move(to), 400, window, 300, code == 0 ? 1 : 0);
        break;
      case 2:
        t = new CrossFadeTransition(std::move(from), std::move(to), 200, window);
        break;
      case 3:
      case 4:
        t = new PushTransition(std::move(from), std::move(to), 500, window, code == 3);
        break;
      case 5:
      case 6:
        if (!rect) return nullptr;
        t = new RectangleTurnTransition(std::move(from), std::move(to), 320, window, *rect, code == 5, true);
        break;
      case 7:
      case 8:
        t = new RectangleTurnTransition(std::move(from), std::move(to), 320, window, rect ? *rect : whole, code == 7,
                                        false);
        break;
      default:
        return nullptr;
    }
    return CRefPtr<ScreenTransition>(t);
  } catch (const COrvException&) {
    return nullptr;
  }
}
