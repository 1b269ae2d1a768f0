// Screen transitions frame by frame against pictures the test builds itself:
// push and cross-fade exactly, the turning effects from their first to their
// last frame and, in between, against a floating-point model of the same
// geometry. The frames are kept as PNG files under the build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/OrvException.h"
#include "layout/FixedSine.h"
#include "layout/QuadRasterizer.h"
#include "layout/ScreenTransition.h"
#include "tests/layout/LayoutFixture.h"

#ifndef ORV_FRAMES_DIR
#define ORV_FRAMES_DIR "."
#endif

namespace layouttest {
namespace {

using namespace plat;

std::uint16_t Px(const CBitmapBuffer& b, int x, int y) { return reinterpret_cast<const std::uint16_t*>(b.Row(y))[x]; }
void SetPx(CBitmapBuffer& b, int x, int y, std::uint16_t v) { reinterpret_cast<std::uint16_t*>(b.Row(y))[x] = v; }

// A picture whose every pixel tells where it came from.
SharedBitmap Picture(int w, int h, bool second) {
  auto b = std::make_shared<CBitmapBuffer>();
  EXPECT_TRUE(b->Create(w, h, CBitmapBuffer::kRgb565));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int r = x * 31 / std::max(1, w - 1), g = y * 63 / std::max(1, h - 1), bl = second ? 31 - (x + y) % 32 : (x ^ y) % 32;
      SetPx(*b, x, y, static_cast<std::uint16_t>((second ? (31 - r) : r) << 11 | g << 5 | bl));
    }
  return b;
}

SharedBitmap Blank(int w, int h) {
  auto b = std::make_shared<CBitmapBuffer>();
  EXPECT_TRUE(b->Create(w, h, CBitmapBuffer::kRgb565));
  return b;
}

// Pixels that differ.
int Differences(const CBitmapBuffer& a, const CBitmapBuffer& b) {
  int n = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) n += Px(a, x, y) != Px(b, x, y);
  return n;
}

void Keep(const CBitmapBuffer& frame, const std::string& name) {
  std::filesystem::create_directories(ORV_FRAMES_DIR);
  SaveBitmapPng(frame.GetBitmap(), std::string(ORV_FRAMES_DIR) + "/" + name + ".png");
}

LRESULT PlainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) { return DefWindowProcW(hwnd, msg, wParam, lParam); }

class TransitionTest : public LayoutTest {
 protected:
  static constexpr int W = 240, H = 320;
  void SetUp() override {
    SetScreen(480, 640, 192);
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"TransitionTestView", &wc)) {
      wc.lpfnWndProc = &PlainProc;
      wc.lpszClassName = u"TransitionTestView";
      ASSERT_TRUE(RegisterClassW(&wc));
    }
    window_ = CreateWindowExW(0, u"TransitionTestView", u"", WS_POPUP | WS_VISIBLE, 0, 0, W, H, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    from_ = Picture(W, H, false);
    to_ = Picture(W, H, true);
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_PAINT) ValidateRect(m.hwnd, nullptr);
    }
    LayoutTest::TearDown();
  }
  CRefPtr<ScreenTransition> Make(int code, const RECT* rect = nullptr) {
    auto t = CreateScreenTransition(code, from_, to_, window_, rect);
    EXPECT_TRUE(t);
    DWORD d = 0;
    if (t) t->Prepare(&d);
    EXPECT_EQ(d, t ? t->GetDurationMs() : 0);
    return t;
  }
  // The window's picture now (its surface, where the frames are copied).
  bool WindowShows(const CBitmapBuffer& expected) {
    CBitmapBuffer surface;
    if (!surface.Attach(GetWindowSurfaceForTesting(window_), nullptr)) return false;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (Px(surface, x, y) != Px(expected, x, y)) return false;
    return true;
  }

  HWND window_ = nullptr;
  SharedBitmap from_, to_;
};

TEST_F(TransitionTest, FixedSineFollowsTheSineAndItsSymmetries) {
  for (int a = -0x40000; a <= 0x40000; a += 0x123) {
    const double expected = std::sin(a * M_PI / 2 / 0x10000) * 0x10000;
    EXPECT_NEAR(FixedSine(a), expected, 2.0) << a;
  }
  const std::pair<int, int> exact[] = {{0, 0},          {0x10000, 0x10000}, {0x20000, 0},
                                       {0x30000, -0x10000}, {-0x10000, -0x10000}, {0x8000, 46341}};
  for (auto [a, v] : exact) EXPECT_EQ(FixedSine(a), v) << a;
  EXPECT_EQ(FixedCosine(0), 0x10000);
  EXPECT_EQ(FixedSine(-0x1234), -FixedSine(0x1234));
}

TEST_F(TransitionTest, EaseRunsExactlyFromStartToEnd) {
  for (auto [a, b] : {std::pair{20, 20}, {0, 0}, {16, 16}, {40, 5}, {0, 32}}) {
    EXPECT_EQ(Ease(0, 400, -77777, 0x10000, a, b), -77777);
    EXPECT_EQ(Ease(400, 400, -77777, 0x10000, a, b), 0x10000);
    EXPECT_EQ(Ease(999, 400, 5, 1234567, a, b), 1234567) << "time past the end is the end";
  }
  EXPECT_EQ(Ease(160, 320, 0, 0x10000, 20, 20), 0x8000);
  EXPECT_EQ(Ease(200, 400, 100 << 16, -(100 << 16), 20, 20), 0);
  // Monotonic with a = b = 20, no overshoot.
  Fixed last = 0;
  for (int t = 0; t <= 400; t += 5) {
    const Fixed v = Ease(t, 400, 0, kQuarterTurn, 20, 20);
    EXPECT_GE(v, last);
    EXPECT_LE(v, kQuarterTurn);
    last = v;
  }
}

TEST_F(TransitionTest, PushAndCrossFadeFramesArePixelExact) {
  struct Case {
    int code;
    DWORD t;
    std::function<std::uint16_t(int x, int y)> expected;
  } cases[] = {
      {3, 0, [&](int x, int y) { return Px(*from_, x, y); }},
      // p = 32: d = (96 * 240 * 32) >> 12 = 180.
      {3, 250, [&](int x, int y) { return x < 60 ? Px(*from_, x + 180, y) : Px(*to_, x - 60, y); }},
      {3, 500, [&](int x, int y) { return Px(*to_, x, y); }},
      {4, 0, [&](int x, int y) { return Px(*from_, x, y); }},
      {4, 250, [&](int x, int y) { return x < 180 ? Px(*to_, x + 60, y) : Px(*from_, x - 180, y); }},
      {4, 500, [&](int x, int y) { return Px(*to_, x, y); }},
      {4, 700, [&](int x, int y) { return Px(*to_, x, y); }},
      {2, 0, [&](int x, int y) { return Px(*from_, x, y); }},
      {2, 100,
       [&](int x, int y) {
         std::uint16_t p = Px(*from_, x, y);
         BlendPixel565(p, Px(*to_, x, y), 127);
         return p;
       }},
      {2, 200,
       [&](int x, int y) {
         std::uint16_t p = Px(*from_, x, y);
         BlendPixel565(p, Px(*to_, x, y), 255);
         return p;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " at " + std::to_string(c.t));
    auto t = Make(c.code);
    ASSERT_TRUE(t);
    t->RenderFrame(c.t);
    auto ref = Blank(W, H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) SetPx(*ref, x, y, c.expected(x, y));
    EXPECT_EQ(Differences(t->GetWorkBitmap(), *ref), 0);
    EXPECT_TRUE(WindowShows(*ref)) << "each frame is copied to the window";
    Keep(t->GetWorkBitmap(), "code" + std::to_string(c.code) + "_" + std::to_string(c.t));
  }
}

// The cube at an angle in floating point: each screen pixel's ray meets the
// face planes; the nearest face in front of the camera, within its square,
// gives the texel.
struct ModelHit {
  int face = -1;  // -1: nothing, black
  int u = 0, v = 0;
};
std::vector<ModelHit> CubeModel(CBitmapBuffer& out, const CBitmapBuffer& from, const CBitmapBuffer& to, double angle,
                                double end, double camera, int w, int h) {
  std::vector<ModelHit> hits(static_cast<std::size_t>(w) * h);
  out.FillRectAlpha(0, 0, w, h, RGB(0, 0, 0), 255);
  const double half = w / 2.0;
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w; ++px) {
      // Ray from (0, 0, -camera) through (sx, sy, 0).
      const double sx = px + 0.5 - w / 2.0, sy = py + 0.5 - h / 2.0;
      double bestT = 1e30;
      std::uint16_t colour = 0;
      bool hit = false;
      for (int face = 0; face < 2; ++face) {
        const double a = face == 0 ? angle : angle - end;
        // Face: points c + s*ex + t*ey with local x in [-w/2, w/2].
        const double ex[3] = {std::cos(a), 0, -std::sin(a)};
        const double c[3] = {std::sin(a) * -half, 0, std::cos(a) * -half + half};
        const double n[3] = {std::sin(a), 0, std::cos(a)};
        const double d[3] = {sx, sy, camera};
        const double o[3] = {0, 0, -camera};
        const double denom = n[0] * d[0] + n[1] * d[1] + n[2] * d[2];
        if (std::fabs(denom) < 1e-9) continue;
        const double tt = ((c[0] - o[0]) * n[0] + (c[1] - o[1]) * n[1] + (c[2] - o[2]) * n[2]) / denom;
        if (tt <= 0 || tt >= bestT) continue;
        const double p[3] = {o[0] + tt * d[0], o[1] + tt * d[1], o[2] + tt * d[2]};
        const double lx = (p[0] - c[0]) * ex[0] + (p[2] - c[2]) * ex[2];
        const double ly = p[1];
        if (lx < -half || lx >= half || ly < -h / 2.0 || ly >= h / 2.0) continue;
        const int u = std::clamp(static_cast<int>(std::lround((lx + half) * (w - 1) / w)), 0, w - 1);
        const int v = std::clamp(static_cast<int>(std::lround((ly + h / 2.0) * (h - 1) / h)), 0, h - 1);
        bestT = tt;
        colour = Px(face == 0 ? from : to, u, v);
        hit = true;
        hits[static_cast<std::size_t>(py) * w + px] = ModelHit{face, u, v};
      }
      if (hit) SetPx(out, px, py, colour);
    }
  return hits;
}

TEST_F(TransitionTest, TheCubeTurnsFromTheOldScreenToTheNew) {
  for (int code : {0, 1}) {
    SCOPED_TRACE(code);
    auto t = Make(code);
    ASSERT_TRUE(t);
    t->RenderFrame(0);
    Keep(t->GetWorkBitmap(), "cube" + std::to_string(code) + "_first");
    EXPECT_EQ(Differences(t->GetWorkBitmap(), *from_), 0);
    t->RenderFrame(200);
    Keep(t->GetWorkBitmap(), "cube" + std::to_string(code) + "_middle");
    // Half way the cube has turned 45 degrees; the camera is 300 px at 96 dpi.
    CBitmapBuffer model;
    ASSERT_TRUE(model.Create(W, H, CBitmapBuffer::kRgb565));
    const double end = code == 0 ? M_PI / 2 : -M_PI / 2;
    const auto hits = CubeModel(model, *from_, *to_, end / 2, end, 600, W, H);
    Keep(model, "cube" + std::to_string(code) + "_middle_model");
    // Each pixel shows the model's texel or one next to it (the fixed-point
    // sine and the stepped perspective may land a texel off); only pixels
    // on the outline may be other.
    int off = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const ModelHit& m = hits[static_cast<std::size_t>(y) * W + x];
        const std::uint16_t got = Px(t->GetWorkBitmap(), x, y);
        bool near = m.face < 0 && got == 0;
        for (int dv = -1; dv <= 1 && !near && m.face >= 0; ++dv)
          for (int du = -1; du <= 1 && !near; ++du) {
            const int u = std::clamp(m.u + du, 0, W - 1), v = std::clamp(m.v + dv, 0, H - 1);
            near = got == Px(m.face == 0 ? *from_ : *to_, u, v);
          }
        off += !near;
      }
    EXPECT_LT(off, H * 2) << "more than the outline differs from the model";
    t->RenderFrame(400);
    Keep(t->GetWorkBitmap(), "cube" + std::to_string(code) + "_last");
    EXPECT_EQ(Differences(t->GetWorkBitmap(), *to_), 0);
  }
}

TEST_F(TransitionTest, RectangleTurnsStartOnTheOldScreenAndEndOnTheNew) {
  const RECT upper{0, 60, W, 100}, lower{0, 250, W, 290};
  struct Case {
    int code;
    const RECT* rect;
  } cases[] = {{7, &upper}, {8, &upper}, {7, &lower}, {8, &lower}, {5, &upper}, {6, &lower}, {7, nullptr}};
  for (const Case& c : cases) {
    const std::string name = "turn" + std::to_string(c.code) + "_" + (c.rect ? std::to_string(c.rect->top) : "all");
    SCOPED_TRACE(name);
    auto t = Make(c.code, c.rect);
    ASSERT_TRUE(t);
    t->RenderFrame(0);
    Keep(t->GetWorkBitmap(), name + "_first");
    EXPECT_EQ(Differences(t->GetWorkBitmap(), *from_), 0);
    t->RenderFrame(160);
    Keep(t->GetWorkBitmap(), name + "_middle");
    // Half way the box shows neither screen as it is.
    EXPECT_GT(Differences(t->GetWorkBitmap(), *from_), W * 10);
    EXPECT_GT(Differences(t->GetWorkBitmap(), *to_), W * 10);
    t->RenderFrame(320);
    Keep(t->GetWorkBitmap(), name + "_last");
    EXPECT_EQ(Differences(t->GetWorkBitmap(), *to_), 0);
  }
}

TEST_F(TransitionTest, FinishShowsTheNewScreenAndTellsTheWindowUnlessInterrupted) {
  for (bool interrupted : {false, true}) {
    auto t = Make(3);
    t->RenderFrame(100);
    t->Finish(interrupted);
    EXPECT_TRUE(WindowShows(*to_));
    MSG m{};
    EXPECT_EQ(PeekMessageW(&m, window_, WM_TRANSITION_FINISHED, WM_TRANSITION_FINISHED, PM_REMOVE) != FALSE,
              !interrupted);
  }
}

TEST_F(TransitionTest, ASnapshotOfAnotherSizeSkipsTheAnimation) {
  from_ = Picture(W / 2, H, false);
  auto t = CreateScreenTransition(0, from_, to_, window_, nullptr);
  ASSERT_TRUE(t);
  // Run as the dialog manager does: no frame, straight to the end.
  AnimationRunner runner;
  runner.Start(t.Get(), THREAD_PRIORITY_HIGHEST);
  runner.Stop();
  EXPECT_EQ(runner.GetFrameCount(), 0u);
  EXPECT_TRUE(WindowShows(*to_));
  MSG m{};
  EXPECT_TRUE(PeekMessageW(&m, window_, WM_TRANSITION_FINISHED, WM_TRANSITION_FINISHED, PM_REMOVE));
}

TEST_F(TransitionTest, CodesThatMakeNoTransition) {
  const RECT r{0, 10, W, 20};
  EXPECT_FALSE(CreateScreenTransition(9, from_, to_, window_, &r));
  EXPECT_FALSE(CreateScreenTransition(-1, from_, to_, window_, &r));
  EXPECT_FALSE(CreateScreenTransition(5, from_, to_, window_, nullptr));
  EXPECT_FALSE(CreateScreenTransition(6, from_, to_, window_, nullptr));
  EXPECT_FALSE(CreateScreenTransition(3, nullptr, to_, window_, nullptr));
  EXPECT_FALSE(CreateScreenTransition(2, from_, nullptr, window_, nullptr));
  try {
    PushTransition bad(from_, to_, 0, window_, true);
    ADD_FAILURE() << "a transition of no length was made";
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
  const DWORD durations[] = {400, 400, 200, 500, 500, 320, 320, 320, 320};
  for (int code = 0; code <= 8; ++code) {
    auto t = CreateScreenTransition(code, from_, to_, window_, &r);
    ASSERT_TRUE(t) << code;
    EXPECT_EQ(t->GetDurationMs(), durations[code]);
  }
}

// The rasterizer's own edges: clipping at the top, clamped texels, the mode
// nibble and vertices at or behind the camera.
TEST_F(TransitionTest, RasterizerClipsClampsAndSkips) {
  auto target = MakeTarget(40, 40, 0x1111);
  auto tex = Picture(8, 8, false);
  Viewport vp{ToFixed(100), ToFixed(40), ToFixed(40), &target->buffer};
  auto quad = [&](int x0, int y0, int x1, int y1, int u1, int v1) {
    TexturedQuad q{};
    const int xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1}, us[4] = {0, u1, u1, 0}, vs[4] = {0, 0, v1, v1};
    for (int i = 0; i < 4; ++i) {
      q.v[i].x = ToFixed(xs[i] - 20);
      q.v[i].y = ToFixed(ys[i] - 20);
      q.v[i].u = us[i];
      q.v[i].v = vs[i];
    }
    q.texture = tex.get();
    TransformQuad(q, IdentityMatrix());
    EXPECT_TRUE(ProjectQuad(vp, q));
    return q;
  };
  // From above the top edge: rows from 0 down are drawn.
  TexturedQuad q = quad(0, -20, 8, 8, 7, 27);
  EXPECT_EQ(TopVertex(q), 0);
  RasterizeTexturedQuad(vp, q, false, 255);
  EXPECT_NE(target->At(3, 0), 0x1111);
  EXPECT_EQ(target->At(3, 7), Px(*tex, 3, 7)) << "texel rows beyond the texture are clamped to its last row";
  EXPECT_EQ(target->At(9, 0), 0x1111);
  // Mode nibble 0 draws nothing.
  auto before = target->At(30, 30);
  RasterizeTexturedQuad(vp, quad(20, 20, 40, 40, 7, 7), false, 0x0F);
  EXPECT_EQ(target->At(30, 30), before);
  // Texture coordinates past the texture edge read its edge.
  RasterizeTexturedQuad(vp, quad(20, 20, 40, 40, 15, 15), true, 0xF0);
  EXPECT_EQ(target->At(39, 39), Px(*tex, 7, 7));
  EXPECT_EQ(target->At(20, 20), Px(*tex, 0, 0));
  // A vertex at the camera cannot be projected, and its face is not drawn.
  TexturedQuad behind = quad(0, 0, 10, 10, 7, 7);
  behind.v[2].tz = -ToFixed(100);
  EXPECT_FALSE(ProjectVertex(vp, behind.v[2]));
  target->At(5, 5) = 0x2222;
  RasterizeTexturedQuad(vp, behind, false, 255);
  EXPECT_EQ(target->At(5, 5), 0x2222);
}

}  // namespace
}  // namespace layouttest
