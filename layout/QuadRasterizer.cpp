#include "layout/QuadRasterizer.h"

#include <algorithm>

#include "layout/FixedSine.h"

namespace {

using i64 = std::int64_t;
using i128 = __int128;

// Projected coordinates are kept within this many pixels of the screen, so
// that edge and span arithmetic cannot overflow.
constexpr i64 kScreenLimit = i64{1} << 14;

Fixed ClampScreen(i128 v) {
  const i128 limit = static_cast<i128>(kScreenLimit) << 16;
  if (v > limit) v = limit;
  if (v < -limit) v = -limit;
  return static_cast<Fixed>(v);
}

Fixed Mul(Fixed a, Fixed b) { return static_cast<Fixed>((static_cast<i64>(a) * b) >> 16); }

// Per-vertex values the rasterizer interpolates: screen x, and u/z, v/z, 1/z
// kept with more bits than the vertex's own factors so that a face seen
// straight on maps every pixel to its own texel.
struct Sample {
  i64 x;   // 16.16 screen x
  i64 w;   // 2^52 / z
  i64 uw;  // u (16.16) * w >> 16
  i64 vw;
};

Sample SampleOf(const Viewport& vp, const QuadVertex& v) {
  const i64 z = static_cast<i64>(v.tz) + vp.camera;
  const i64 w = (i64{1} << 52) / z;
  return Sample{v.sx, w, (static_cast<i64>(v.u) * 0x10000 * w) >> 16, (static_cast<i64>(v.v) * 0x10000 * w) >> 16};
}

// One side of the quad between two vertices, stepped per scanline.
struct Edge {
  int from = 0, to = 0;
  i64 y0 = 0, y1 = 0;  // 16.16
  Sample s0{}, slope{};  // value at y0 and change per 1.0 of y (16.16)

  void Set(const Sample* samples, const TexturedQuad& q, int a, int b) {
    from = a;
    to = b;
    y0 = q.v[a].sy;
    y1 = q.v[b].sy;
    s0 = samples[a];
    const i64 dy = y1 - y0;
    if (dy <= 0) {
      slope = Sample{0, 0, 0, 0};
      return;
    }
    const Sample& e = samples[b];
    slope.x = ((e.x - s0.x) << 16) / dy;
    slope.w = static_cast<i64>((static_cast<i128>(e.w - s0.w) << 16) / dy);
    slope.uw = static_cast<i64>((static_cast<i128>(e.uw - s0.uw) << 16) / dy);
    slope.vw = static_cast<i64>((static_cast<i128>(e.vw - s0.vw) << 16) / dy);
  }
  Sample At(i64 y) const {
    const i64 d = y - y0;
    return Sample{s0.x + ((slope.x * d) >> 16), s0.w + static_cast<i64>((static_cast<i128>(slope.w) * d) >> 16),
                  s0.uw + static_cast<i64>((static_cast<i128>(slope.uw) * d) >> 16),
                  s0.vw + static_cast<i64>((static_cast<i128>(slope.vw) * d) >> 16)};
  }
};

// u and v (16.16) at a point of the span.
inline void Recover(i64 w, i64 uw, i64 vw, i64& u, i64& v) {
  if (w <= 0) w = 1;
  u = static_cast<i64>((static_cast<i128>(uw) << 16) / w);
  v = static_cast<i64>((static_cast<i128>(vw) << 16) / w);
}

}  // namespace

Matrix4 IdentityMatrix() {
  Matrix4 m{};
  for (int i = 0; i < 4; ++i) m.m[i][i] = kFixedOne;
  return m;
}

Matrix4 TranslationMatrix(Fixed x, Fixed y, Fixed z) {
  Matrix4 m = IdentityMatrix();
  m.m[0][3] = x;
  m.m[1][3] = y;
  m.m[2][3] = z;
  return m;
}

Fixed Ease(i64 t, i64 duration, Fixed from, Fixed to, int a, int b) {
  if (duration <= 0) return to;
  t = std::clamp<i64>(t, 0, duration);
  const i64 s = (t << 16) / duration;
  i64 k = static_cast<i64>(a + b - 32) * s + static_cast<i64>((24 - a) * 2 - b) * 0x10000;
  k = ((k * s) >> 16) + (static_cast<i64>(a) << 16);
  const i128 delta = static_cast<i128>(to) - from;
  return static_cast<Fixed>(from + static_cast<i64>(((static_cast<i128>(k) * delta * s) >> 32) >> 4));
}

void MatrixMultiply(Matrix4& m, const Matrix4& n) {
  Matrix4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      i64 sum = 0;
      for (int k = 0; k < 4; ++k) sum += (static_cast<i64>(n.m[i][k]) * m.m[k][j]) >> 16;
      r.m[i][j] = static_cast<Fixed>(sum);
    }
  m = r;
}

Matrix4 RotationX(Fixed angle) {
  Matrix4 m = IdentityMatrix();
  const Fixed s = FixedSine(angle), c = FixedCosine(angle);
  m.m[1][1] = c;
  m.m[1][2] = -s;
  m.m[2][1] = s;
  m.m[2][2] = c;
  return m;
}

Matrix4 RotationY(Fixed angle) {
  Matrix4 m = IdentityMatrix();
  const Fixed s = FixedSine(angle), c = FixedCosine(angle);
  m.m[0][0] = c;
  m.m[0][2] = s;
  m.m[2][0] = -s;
  m.m[2][2] = c;
  return m;
}

void TransformQuad(TexturedQuad& quad, const Matrix4& m) {
  for (QuadVertex& v : quad.v) {
    v.tx = Mul(m.m[0][0], v.x) + Mul(m.m[0][1], v.y) + Mul(m.m[0][2], v.z) + m.m[0][3];
    v.ty = Mul(m.m[1][0], v.x) + Mul(m.m[1][1], v.y) + Mul(m.m[1][2], v.z) + m.m[1][3];
    v.tz = Mul(m.m[2][0], v.x) + Mul(m.m[2][1], v.y) + Mul(m.m[2][2], v.z) + m.m[2][3];
  }
}

bool ProjectVertex(const Viewport& vp, QuadVertex& v) {
  const i64 z = static_cast<i64>(v.tz) + vp.camera;
  // At or behind the camera there is no picture of the point.
  if (z <= 0) return false;
  const i64 inv = (i64{1} << 36) / z;
  v.uz = static_cast<Fixed>((static_cast<i64>(v.u) * 0x10000 * inv) >> 20);
  v.vz = static_cast<Fixed>((static_cast<i64>(v.v) * 0x10000 * inv) >> 20);
  v.iz = static_cast<Fixed>(std::min<i64>(inv, 0x7FFFFFFF));
  // camera * x' / z, divided once rather than through the rounded 1/z, so
  // that a face in the screen plane lands exactly on its pixels.
  const i128 px = (static_cast<i128>(vp.camera) * v.tx) / z;
  const i128 py = (static_cast<i128>(vp.camera) * v.ty) / z;
  v.sx = ClampScreen(px + vp.width / 2);
  v.sy = ClampScreen(py + vp.height / 2);
  return true;
}

bool ProjectQuad(const Viewport& viewport, TexturedQuad& quad) {
  for (QuadVertex& v : quad.v)
    if (!ProjectVertex(viewport, v)) return false;
  return true;
}

i64 ProjectedArea(const TexturedQuad& quad) {
  i64 area = 0;
  for (int i = 0; i < 4; ++i) {
    const QuadVertex& a = quad.v[i];
    const QuadVertex& b = quad.v[(i + 1) % 4];
    area += ((static_cast<i64>(a.sx) * b.sy) >> 16) - ((static_cast<i64>(b.sx) * a.sy) >> 16);
  }
  return area;
}

int TopVertex(const TexturedQuad& quad) {
  int top = 0;
  for (int i = 1; i < 4; ++i)
    if (quad.v[i].sy < quad.v[top].sy) top = i;
  return top;
}

void RasterizeTexturedQuad(const Viewport& vp, const TexturedQuad& quad, bool quality, unsigned flags) {
  if (((flags >> 4) & 15) == 0) return;
  const CBitmapBuffer* tex = quad.texture;
  CBitmapBuffer* target = vp.target;
  if (!tex || !target || tex->GetBitsPerPixel() != 16 || target->GetBitsPerPixel() != 16) return;
  if (tex->GetWidth() < 1 || tex->GetHeight() < 1) return;
  for (const QuadVertex& v : quad.v)
    if (static_cast<i64>(v.tz) + vp.camera <= 0) return;

  const int width = std::min<int>(vp.width >> 16, target->GetWidth());
  const int height = std::min<int>(vp.height >> 16, target->GetHeight());
  if (width <= 0 || height <= 0) return;
  const i64 texMaxU = tex->GetWidth() - 1, texMaxV = tex->GetHeight() - 1;
  const std::uint8_t* texRow0 = tex->Row(0);
  const std::ptrdiff_t texStride = tex->GetHeight() > 1 ? tex->Row(1) - tex->Row(0) : 0;
  const int sub = quality ? 8 : 16;  // pixels between exact perspective samples

  Sample samples[4];
  for (int i = 0; i < 4; ++i) samples[i] = SampleOf(vp, quad.v[i]);
  const int top = TopVertex(quad);
  i64 bottomY = quad.v[0].sy;
  for (const QuadVertex& v : quad.v) bottomY = std::max<i64>(bottomY, v.sy);

  // The left and right chains walk from the top vertex in either direction
  // around the outline until they meet at the bottom.
  Edge a, b;
  int aSteps = 0, bSteps = 0;
  a.Set(samples, quad, top, (top + 3) % 4);
  b.Set(samples, quad, top, (top + 1) % 4);

  int y = std::max<int>(0, static_cast<int>(quad.v[top].sy >> 16));
  for (; y < height; ++y) {
    const i64 ys = (static_cast<i64>(y) << 16) + 0x8000;  // the scanline's centre
    if (ys >= bottomY) break;
    while (ys >= a.y1 && aSteps < 3) {
      a.Set(samples, quad, a.to, (a.to + 3) % 4);
      ++aSteps;
    }
    while (ys >= b.y1 && bSteps < 3) {
      b.Set(samples, quad, b.to, (b.to + 1) % 4);
      ++bSteps;
    }
    if (ys < a.y0 || ys < b.y0) continue;
    Sample l = a.At(ys), r = b.At(ys);
    if (l.x > r.x) std::swap(l, r);
    const i64 spanW = r.x - l.x;
    int x0 = static_cast<int>((l.x + 0x8000) >> 16);
    int x1 = static_cast<int>((r.x + 0x8000) >> 16);  // exclusive
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width);
    if (x0 >= x1 || spanW <= 0) continue;
    // Changes per pixel along the span (16.16 scaled).
    const i64 dw = static_cast<i64>((static_cast<i128>(r.w - l.w) << 16) / spanW);
    const i64 duw = static_cast<i64>((static_cast<i128>(r.uw - l.uw) << 16) / spanW);
    const i64 dvw = static_cast<i64>((static_cast<i128>(r.vw - l.vw) << 16) / spanW);
    auto at = [&](int px, i64& u, i64& v) {
      const i64 d = (static_cast<i64>(px) << 16) + 0x8000 - l.x;
      const i64 w = l.w + static_cast<i64>((static_cast<i128>(dw) * d) >> 16);
      const i64 uw = l.uw + static_cast<i64>((static_cast<i128>(duw) * d) >> 16);
      const i64 vw = l.vw + static_cast<i64>((static_cast<i128>(dvw) * d) >> 16);
      Recover(w, uw, vw, u, v);
    };
    auto* out = reinterpret_cast<std::uint16_t*>(target->Row(y));
    i64 u0, v0;
    at(x0, u0, v0);
    for (int px = x0; px < x1;) {
      const int end = std::min(px + sub, x1);
      i64 u1, v1;
      at(end, u1, v1);
      const i64 n = end - px;
      const i64 du = (u1 - u0) / n, dv = (v1 - v0) / n;
      i64 u = u0, v = v0;
      for (; px < end; ++px, u += du, v += dv) {
        const i64 tu = std::clamp<i64>((u + 0x8000) >> 16, 0, texMaxU);
        const i64 tv = std::clamp<i64>((v + 0x8000) >> 16, 0, texMaxV);
        out[px] = reinterpret_cast<const std::uint16_t*>(texRow0 + texStride * tv)[tu];
      }
      u0 = u1;
      v0 = v1;
    }
  }
}
