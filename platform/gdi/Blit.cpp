// Raster operations and blits (plain, stretched, masked, transparent,
// alpha), fills, gradients, pixels, lines and shapes, DIB transfers.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat {

namespace gdi {

DWORD ApplyRop3(BYTE index, DWORD p, DWORD s, DWORD d) {
  switch (index) {
    case 0xCC: return s;
    case 0x00: return 0;
    case 0xFF: return 0xFFFFFFFFu;
    case 0x88: return s & d;
    case 0xEE: return s | d;
    case 0x66: return s ^ d;
    case 0x33: return ~s;
    case 0xF0: return p;
    case 0x55: return ~d;
    case 0xAA: return d;
  }
  DWORD out = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((index >> i) & 1)) continue;
    DWORD term = ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    out |= term;
  }
  return out;
}

}  // namespace gdi

using namespace gdi;

namespace {

// The DC's brush and pen; ones deleted while selected read as the defaults.
Brush* CurrentBrush(Dc* dc) {
  Brush* b = dc->st.brush;
  if (b && IsLive(static_cast<GdiObject*>(b))) return b;
  return static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
}
Pen* CurrentPen(Dc* dc) {
  Pen* p = dc->st.pen;
  if (p && IsLive(static_cast<GdiObject*>(p))) return p;
  return static_cast<Pen*>(GetStockObject(BLACK_PEN));
}

bool RopUsesSource(BYTE i) { return ((i >> 2) & 0x33) != (i & 0x33); }
bool RopUsesPattern(BYTE i) { return ((i >> 4) & 0x0F) != (i & 0x0F); }

struct Span {
  int start;   // first destination pixel (device coordinates)
  int length;  // >= 0
};

// One axis of a blit: destination [d, d + dl) takes source [s, s + sl); a
// sign difference mirrors. Pixels are sampled at their centres.
struct Axis {
  int d0 = 0, dl = 0, s0 = 0, sl = 0;
  bool mirror = false;
  void Set(int d, int dLen, int s, int sLen) {
    // A negative extent covers the pixels from x + extent + 1 up to x.
    bool m = false;
    if (dLen < 0) {
      d += dLen + 1;
      dLen = -dLen;
      m = !m;
    }
    if (sLen < 0) {
      s += sLen + 1;
      sLen = -sLen;
      m = !m;
    }
    d0 = d;
    dl = dLen;
    s0 = s;
    sl = sLen;
    mirror = m;
  }
  // Source pixel of destination pixel `d`.
  int Map(int d) const {
    long long i = d - d0;
    if (mirror) i = dl - 1 - i;
    return s0 + static_cast<int>(((2 * i + 1) * sl) / (2LL * dl));
  }
  // Source range [lo, hi) covered by destination pixel `d` (for averaging).
  void Range(int d, int& lo, int& hi) const {
    long long i = d - d0;
    if (mirror) i = dl - 1 - i;
    lo = s0 + static_cast<int>((i * sl) / dl);
    hi = s0 + static_cast<int>(((i + 1) * sl + dl - 1) / dl);
    if (hi <= lo) hi = lo + 1;
  }
};

// The destination rectangle clipped to the DC's drawable area.
bool ClipDest(Dc* dc, int x, int y, int w, int h, RECT& out) {
  RECT want{x, y, x + w, y + h};
  RECT clip = dc->DeviceClip();
  return IntersectRect(&out, &want, &clip) != FALSE;
}

enum class Sample { Nearest, Average };

// The general blit: every destination pixel gets ROP(P, S, D); the mask
// (optional, 1 bit per pixel) picks the foreground or background operation.
BOOL DoBlit(Dc* dst, int x, int y, int w, int h, Dc* src, int xs, int ys, int ws, int hs, DWORD rop,
            Bitmap* mask = nullptr, int xm = 0, int ym = 0) {
  Bitmap* db = dst->Target();
  if (!db) return FALSE;
  BYTE fore = static_cast<BYTE>((rop >> 16) & 0xFF);
  BYTE back = mask ? static_cast<BYTE>((rop >> 24) & 0xFF) : fore;
  bool usesSrc = RopUsesSource(fore) || RopUsesSource(back);
  bool usesPat = RopUsesPattern(fore) || RopUsesPattern(back);
  Bitmap* sb = nullptr;
  if (usesSrc) {
    if (!src) return FALSE;
    if (src->isScreen) RefreshScreenFromWindows();
    sb = src->Target();
    if (!sb) return FALSE;
  }
  x += dst->st.origin.x;
  y += dst->st.origin.y;
  if (src) {
    xs += src->st.origin.x;
    ys += src->st.origin.y;
  }
  Axis ax, ay;
  ax.Set(x, w, xs, ws);
  ay.Set(y, h, ys, hs);
  if (ax.dl == 0 || ay.dl == 0) return TRUE;
  RECT r;
  if (!ClipDest(dst, ax.d0, ay.d0, ax.dl, ay.dl, r)) return TRUE;
  DWORD pattern = 0;
  if (usesPat) {
    Brush* br = CurrentBrush(dst);
    if (!br || br->style == BS_NULL) return TRUE;
    pattern = db->RgbToRaw(RgbOf(br->colour));
  }
  const DWORD ones = db->AllOnes();
  const bool sameSize = ax.sl == ax.dl && ay.sl == ay.dl && !ax.mirror && !ay.mirror;
  // A plain copy's rectangle in the destination and its first source pixel,
  // kept inside the source; false when nothing is left to copy.
  auto clipPlainCopy = [&](int& sx0, int& sy0, int& left, int& top, int& right, int& bottom) {
    sx0 = ax.Map(r.left);
    sy0 = ay.Map(r.top);
    left = r.left, right = r.right, top = r.top, bottom = r.bottom;
    if (sx0 < 0) { left -= sx0; sx0 = 0; }
    if (sy0 < 0) { top -= sy0; sy0 = 0; }
    right = std::min<int>(right, left + (sb->width - sx0));
    bottom = std::min<int>(bottom, top + (sb->height - sy0));
    return right > left && bottom > top;
  };
  // Fast path: plain copy between bitmaps of one format, byte-aligned pixels.
  if (usesSrc && sameSize && !mask && fore == 0xCC && sb->SameFormat(*db) && db->bpp >= 8) {
    int sx0, sy0, left, top, right, bottom;
    if (!clipPlainCopy(sx0, sy0, left, top, right, bottom)) return TRUE;
    int bytesPer = db->bpp / 8;
    std::size_t n = static_cast<std::size_t>(right - left) * bytesPer;
    bool backwards = (sb == db) && (sy0 < top);
    for (int k = 0; k < bottom - top; ++k) {
      int row = backwards ? (bottom - top - 1 - k) : k;
      std::memmove(db->Row(top + row) + static_cast<std::size_t>(left) * bytesPer,
                   sb->Row(sy0 + row) + static_cast<std::size_t>(sx0) * bytesPer, n);
    }
    return TRUE;
  }
  // Plain copy between bitmaps of direct colour (16, 24 or 32 bits) in other
  // formats, as a decoded picture goes into a screen bitmap: each pixel through
  // RGB as the general loop converts it, without its per-pixel dispatch. The
  // destination's conversion works channel by channel, so three tables of 256
  // entries give it exactly.
  if (usesSrc && sameSize && !mask && fore == 0xCC && sb != db && sb->bpp >= 16 && db->bpp >= 16) {
    int sx0, sy0, left, top, right, bottom;
    if (!clipPlainCopy(sx0, sy0, left, top, right, bottom)) return TRUE;
    DWORD toRaw[3][256];
    for (int c = 0; c < 3; ++c)
      for (DWORD v = 0; v < 256; ++v) toRaw[c][v] = db->RgbToRaw(v << (16 - 8 * c)) & ones;
    const int n = right - left;
    for (int k = 0; k < bottom - top; ++k) {
      const std::uint8_t* in = sb->Row(sy0 + k) + static_cast<std::size_t>(sx0) * (sb->bpp / 8);
      std::uint8_t* out = db->Row(top + k) + static_cast<std::size_t>(left) * (db->bpp / 8);
      for (int i = 0; i < n; ++i) {
        DWORD rgb;
        if (sb->bpp == 24) {
          rgb = (static_cast<DWORD>(in[3 * i + 2]) << 16) | (static_cast<DWORD>(in[3 * i + 1]) << 8) | in[3 * i];
        } else {
          DWORD raw;
          if (sb->bpp == 16) raw = static_cast<DWORD>(in[2 * i]) | (static_cast<DWORD>(in[2 * i + 1]) << 8);
          else std::memcpy(&raw, in + 4 * i, 4);
          rgb = sb->RawToRgb(raw);
        }
        const DWORD v = toRaw[0][(rgb >> 16) & 0xFF] | toRaw[1][(rgb >> 8) & 0xFF] | toRaw[2][rgb & 0xFF];
        switch (db->bpp) {
          case 16:
            out[2 * i] = static_cast<std::uint8_t>(v);
            out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            break;
          case 24:
            out[3 * i] = static_cast<std::uint8_t>(v);
            out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
            break;
          default:
            std::memcpy(out + 4 * i, &v, 4);
            break;
        }
      }
    }
    return TRUE;
  }
  // Overlapping self-copies read from a snapshot.
  Bitmap* readFrom = sb;
  std::vector<std::uint8_t> snapshot;
  Bitmap copy;
  if (sb && sb == db) {
    snapshot.assign(sb->bits, sb->bits + static_cast<std::size_t>(sb->stride) * sb->height);
    copy.width = sb->width;
    copy.height = sb->height;
    copy.bpp = sb->bpp;
    copy.stride = sb->stride;
    copy.topDown = sb->topDown;
    copy.isDib = sb->isDib;
    std::memcpy(copy.masks, sb->masks, sizeof(copy.masks));
    std::memcpy(copy.shift, sb->shift, sizeof(copy.shift));
    std::memcpy(copy.bitsOf, sb->bitsOf, sizeof(copy.bitsOf));
    copy.palette = sb->palette;
    copy.bits = snapshot.data();
    readFrom = &copy;
  }
  const bool sameFormat = usesSrc && readFrom->SameFormat(*db);
  const bool average = usesSrc && !sameSize && dst->st.stretchMode == HALFTONE && fore == 0xCC && !mask &&
                       (ax.sl > ax.dl || ay.sl > ay.dl);
  for (int dy = r.top; dy < r.bottom; ++dy) {
    int sy = usesSrc ? ay.Map(dy) : 0;
    if (usesSrc && (sy < 0 || sy >= readFrom->height)) continue;
    int my = ym + (dy - ay.d0);
    for (int dx = r.left; dx < r.right; ++dx) {
      DWORD s = 0;
      if (usesSrc) {
        int sx = ax.Map(dx);
        if (sx < 0 || sx >= readFrom->width) continue;
        if (average) {
          int x0, x1, y0, y1;
          ax.Range(dx, x0, x1);
          ay.Range(dy, y0, y1);
          x0 = std::max(x0, 0);
          y0 = std::max(y0, 0);
          x1 = std::min(x1, readFrom->width);
          y1 = std::min(y1, readFrom->height);
          unsigned long rs = 0, gs = 0, bs = 0, n = 0;
          for (int yy = y0; yy < y1; ++yy)
            for (int xx = x0; xx < x1; ++xx) {
              DWORD c = readFrom->GetRgb(xx, yy);
              rs += (c >> 16) & 0xFF;
              gs += (c >> 8) & 0xFF;
              bs += c & 0xFF;
              ++n;
            }
          if (n == 0) continue;
          DWORD rgb = (((rs + n / 2) / n) << 16) | (((gs + n / 2) / n) << 8) | ((bs + n / 2) / n);
          db->PutRaw(dx, dy, db->RgbToRaw(rgb));
          continue;
        }
        DWORD raw = readFrom->GetRaw(sx, sy);
        s = sameFormat ? raw : ConvertPixel(*readFrom, raw, src, *db, dst);
      }
      BYTE op = fore;
      if (mask) {
        int mx = xm + (dx - ax.d0);
        bool bit = (mx >= 0 && my >= 0 && mx < mask->width && my < mask->height) ? mask->GetRaw(mx, my) != 0 : true;
        op = bit ? fore : back;
      }
      DWORD d = (op == 0xCC || op == 0x00 || op == 0xFF || op == 0xF0 || op == 0x33) ? 0 : db->GetRaw(dx, dy);
      db->PutRaw(dx, dy, ApplyRop3(op, pattern, s, d) & ones);
    }
  }
  return TRUE;
}

}  // namespace

BOOL BitBlt(HDC hdst, int x, int y, int w, int h, HDC hsrc, int xs, int ys, DWORD rop) {
  Dc* dst = AsDc(hdst);
  Dc* src = hsrc ? AsDc(hsrc) : nullptr;
  if (!dst || (hsrc && !src)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return DoBlit(dst, x, y, w, h, src, xs, ys, w, h, rop);
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  BYTE i = static_cast<BYTE>((rop >> 16) & 0xFF);
  if (RopUsesSource(i)) return FALSE;
  return DoBlit(dc, x, y, w, h, nullptr, 0, 0, w, h, rop);
}

BOOL MaskBlt(HDC hdst, int x, int y, int w, int h, HDC hsrc, int xs, int ys, HBITMAP hmask, int xm, int ym,
             DWORD rop4) {
  Dc* dst = AsDc(hdst);
  Dc* src = hsrc ? AsDc(hsrc) : nullptr;
  Bitmap* mask = hmask ? AsBitmap(hmask) : nullptr;
  if (!dst || (hsrc && !src) || (hmask && (!mask || mask->bpp != 1))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!mask) return DoBlit(dst, x, y, w, h, src, xs, ys, w, h, rop4 & 0x00FFFFFFu);
  return DoBlit(dst, x, y, w, h, src, xs, ys, w, h, rop4, mask, xm, ym);
}

int SetStretchBltMode(HDC hdc, int mode) {
  Dc* dc = AsDc(hdc);
  if (!dc || mode < BLACKONWHITE || mode > HALFTONE) return 0;
  int old = dc->st.stretchMode;
  dc->st.stretchMode = mode;
  return old;
}

int GetStretchBltMode(HDC hdc) {
  Dc* dc = AsDc(hdc);
  return dc ? dc->st.stretchMode : 0;
}

BOOL StretchBlt(HDC hdst, int x, int y, int w, int h, HDC hsrc, int xs, int ys, int ws, int hs, DWORD rop) {
  Dc* dst = AsDc(hdst);
  Dc* src = hsrc ? AsDc(hsrc) : nullptr;
  if (!dst || (hsrc && !src)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((ws == 0 || hs == 0) && RopUsesSource(static_cast<BYTE>((rop >> 16) & 0xFF))) return FALSE;
  return DoBlit(dst, x, y, w, h, src, xs, ys, ws, hs, rop);
}

namespace {

// Shared by TransparentBlt / TransparentImage: stretched copy that skips the
// transparent colour (compared in the source's own precision).
BOOL TransparentCopy(Dc* dst, int x, int y, int w, int h, Bitmap* sb, POINT srcOrigin, Dc* srcDc, int xs, int ys,
                     int ws, int hs, COLORREF transparent) {
  Bitmap* db = dst->Target();
  if (!db || !sb || w <= 0 || h <= 0 || ws <= 0 || hs <= 0) return FALSE;
  x += dst->st.origin.x;
  y += dst->st.origin.y;
  xs += srcOrigin.x;
  ys += srcOrigin.y;
  Axis ax, ay;
  ax.Set(x, w, xs, ws);
  ay.Set(y, h, ys, hs);
  RECT r;
  if (!ClipDest(dst, x, y, w, h, r)) return TRUE;
  DWORD key = sb->RawToRgb(sb->RgbToRaw(RgbOf(transparent)));
  for (int dy = r.top; dy < r.bottom; ++dy) {
    int sy = ay.Map(dy);
    if (sy < 0 || sy >= sb->height) continue;
    for (int dx = r.left; dx < r.right; ++dx) {
      int sx = ax.Map(dx);
      if (sx < 0 || sx >= sb->width) continue;
      DWORD raw = sb->GetRaw(sx, sy);
      if (sb->RawToRgb(raw) == key) continue;
      db->PutRaw(dx, dy, ConvertPixel(*sb, raw, srcDc, *db, dst));
    }
  }
  return TRUE;
}

}  // namespace

BOOL TransparentBlt(HDC hdst, int x, int y, int w, int h, HDC hsrc, int xs, int ys, int ws, int hs,
                    UINT transparent) {
  Dc* dst = AsDc(hdst);
  Dc* src = AsDc(hsrc);
  if (!dst || !src) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TransparentCopy(dst, x, y, w, h, src->Target(), src->st.origin, src, xs, ys, ws, hs, transparent);
}

BOOL TransparentImage(HDC hdst, int x, int y, int w, int h, void* hsrc, int xs, int ys, int ws, int hs,
                      COLORREF transparent) {
  Dc* dst = AsDc(hdst);
  if (!dst) return FALSE;
  if (IsLiveAs(hsrc, LiveKind::Dc)) {
    Dc* src = static_cast<Dc*>(static_cast<GdiDc*>(hsrc));
    return TransparentCopy(dst, x, y, w, h, src->Target(), src->st.origin, src, xs, ys, ws, hs, transparent);
  }
  if (IsLiveAs(hsrc, LiveKind::Object)) {
    Bitmap* b = AsBitmap(static_cast<GdiObject*>(hsrc));
    if (b) return TransparentCopy(dst, x, y, w, h, b, POINT{0, 0}, nullptr, xs, ys, ws, hs, transparent);
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL AlphaBlend(HDC hdst, int x, int y, int w, int h, HDC hsrc, int xs, int ys, int ws, int hs, BLENDFUNCTION bf) {
  Dc* dst = AsDc(hdst);
  Dc* src = AsDc(hsrc);
  if (!dst || !src || bf.BlendOp != AC_SRC_OVER || w < 0 || h < 0 || ws < 0 || hs < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Bitmap* db = dst->Target();
  Bitmap* sb = src->Target();
  if (!db || !sb) return FALSE;
  bool perPixel = (bf.AlphaFormat & AC_SRC_ALPHA) != 0;
  if (perPixel && sb->bpp != 32) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (w == 0 || h == 0) return TRUE;
  x += dst->st.origin.x;
  y += dst->st.origin.y;
  xs += src->st.origin.x;
  ys += src->st.origin.y;
  if (xs < 0 || ys < 0 || xs + ws > sb->width || ys + hs > sb->height) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Axis ax, ay;
  ax.Set(x, w, xs, ws);
  ay.Set(y, h, ys, hs);
  RECT r;
  if (!ClipDest(dst, x, y, w, h, r)) return TRUE;
  const unsigned sca = bf.SourceConstantAlpha;
  auto div255 = [](unsigned v) { return (v + 127) / 255; };
  for (int dy = r.top; dy < r.bottom; ++dy) {
    int sy = ay.Map(dy);
    for (int dx = r.left; dx < r.right; ++dx) {
      int sx = ax.Map(dx);
      DWORD sraw = sb->GetRaw(sx, sy);
      DWORD s = sb->RawToRgb(sraw);
      DWORD draw = db->GetRaw(dx, dy);
      DWORD d = db->RawToRgb(draw);
      unsigned sc[3] = {(s >> 16) & 0xFF, (s >> 8) & 0xFF, s & 0xFF};
      unsigned dc[3] = {(d >> 16) & 0xFF, (d >> 8) & 0xFF, d & 0xFF};
      unsigned out[3];
      unsigned sa;
      if (perPixel) {
        sa = div255(((sraw >> 24) & 0xFF) * sca);
        for (int c = 0; c < 3; ++c) out[c] = std::min(255u, div255(sc[c] * sca) + div255(dc[c] * (255 - sa)));
      } else {
        sa = sca;
        for (int c = 0; c < 3; ++c) out[c] = div255(sc[c] * sca + dc[c] * (255 - sca));
      }
      DWORD rgb = (out[0] << 16) | (out[1] << 8) | out[2];
      DWORD raw = db->RgbToRaw(rgb);
      if (db->bpp == 32) {
        unsigned da = (draw >> 24) & 0xFF;
        raw |= std::min(255u, sa + div255(da * (255 - sa))) << 24;
      }
      db->PutRaw(dx, dy, raw);
    }
  }
  return TRUE;
}

BOOL GradientFill(HDC hdc, const TRIVERTEX* v, DWORD nv, const void* mesh, DWORD nm, DWORD mode) {
  Dc* dc = AsDc(hdc);
  if (!dc || !v || !mesh || (mode != GRADIENT_FILL_RECT_H && mode != GRADIENT_FILL_RECT_V)) return FALSE;
  Bitmap* db = dc->Target();
  if (!db) return FALSE;
  const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
  for (DWORD k = 0; k < nm; ++k) {
    if (rects[k].UpperLeft >= nv || rects[k].LowerRight >= nv) return FALSE;
    TRIVERTEX a = v[rects[k].UpperLeft], b = v[rects[k].LowerRight];
    if (a.x > b.x) std::swap(a.x, b.x);
    if (a.y > b.y) std::swap(a.y, b.y);
    RECT r;
    if (!ClipDest(dc, a.x + dc->st.origin.x, a.y + dc->st.origin.y, b.x - a.x, b.y - a.y, r)) continue;
    // Colours of the original vertex order.
    const TRIVERTEX& c0 = v[rects[k].UpperLeft];
    const TRIVERTEX& c1 = v[rects[k].LowerRight];
    bool horizontal = mode == GRADIENT_FILL_RECT_H;
    int span = horizontal ? (b.x - a.x) : (b.y - a.y);
    for (int dy = r.top; dy < r.bottom; ++dy)
      for (int dx = r.left; dx < r.right; ++dx) {
        int pos = horizontal ? (dx - dc->st.origin.x - a.x) : (dy - dc->st.origin.y - a.y);
        auto lerp = [&](int p, int q) { return span <= 1 ? p : p + static_cast<int>((static_cast<long long>(q - p) * pos) / span); };
        int rr = lerp(c0.Red, c1.Red) >> 8, gg = lerp(c0.Green, c1.Green) >> 8, bb = lerp(c0.Blue, c1.Blue) >> 8;
        db->PutRaw(dx, dy, db->RgbToRaw((static_cast<DWORD>(rr) << 16) | (static_cast<DWORD>(gg) << 8) | static_cast<DWORD>(bb)));
      }
  }
  return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  Dc* dc = AsDc(hdc);
  if (!dc) return CLR_INVALID;
  Bitmap* b = dc->Target();
  x += dc->st.origin.x;
  y += dc->st.origin.y;
  RECT clip = dc->DeviceClip();
  if (!b || !PtInRect(&clip, POINT{x, y})) return CLR_INVALID;
  return ColorrefOf(b->GetRgb(x, y));
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour) {
  Dc* dc = AsDc(hdc);
  if (!dc) return CLR_INVALID;
  Bitmap* b = dc->Target();
  x += dc->st.origin.x;
  y += dc->st.origin.y;
  RECT clip = dc->DeviceClip();
  if (!b || !PtInRect(&clip, POINT{x, y})) return CLR_INVALID;
  DWORD raw = b->RgbToRaw(RgbOf(colour));
  b->PutRaw(x, y, raw);
  return ColorrefOf(b->RawToRgb(raw));
}

// ---------------------------------------------------------------------------
// Fills and shapes

namespace {

void FillDevice(Dc* dc, RECT want, DWORD rgb) {
  Bitmap* b = dc->Target();
  RECT clip = dc->DeviceClip();
  RECT r;
  if (!b || !IntersectRect(&r, &want, &clip)) return;
  DWORD raw = b->RgbToRaw(rgb);
  for (int x = r.left; x < r.right; ++x) b->PutRaw(x, r.top, raw);
  if (b->bpp >= 8) {
    // Whole bytes: the first row is copied into the others.
    std::size_t bytes = static_cast<std::size_t>(r.right - r.left) * (b->bpp / 8);
    const std::uint8_t* first = b->Row(r.top) + static_cast<std::size_t>(r.left) * (b->bpp / 8);
    for (int y = r.top + 1; y < r.bottom; ++y)
      std::memcpy(b->Row(y) + static_cast<std::size_t>(r.left) * (b->bpp / 8), first, bytes);
    return;
  }
  for (int y = r.top + 1; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) b->PutRaw(x, y, raw);
}

void PlotPen(Dc* dc, int x, int y, const Pen& pen) {
  int w = pen.width;
  int lo = -(w - 1) / 2;
  FillDevice(dc, RECT{x + lo, y + lo, x + lo + w, y + lo + w}, RgbOf(pen.colour));
}

// Bresenham line from (x0, y0) to (x1, y1) in device coordinates, last point excluded.
void DeviceLine(Dc* dc, int x0, int y0, int x1, int y1) {
  Pen* pen = CurrentPen(dc);
  if (!pen || pen->style == PS_NULL) return;
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int step = 0;
  while (!(x0 == x1 && y0 == y1)) {
    bool on = pen->style != PS_DASH || (step % 8) < 5;
    if (on) PlotPen(dc, x0, y0, *pen);
    ++step;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

}  // namespace

int FillRect(HDC hdc, const RECT* r, HBRUSH hbrush) {
  Dc* dc = AsDc(hdc);
  Brush* br = AsBrush(hbrush);
  if (!dc || !r || !br) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (br->style == BS_NULL) return 1;
  RECT d = *r;
  OffsetRect(&d, dc->st.origin.x, dc->st.origin.y);
  FillDevice(dc, d, RgbOf(br->colour));
  return 1;
}

BOOL FrameRect(HDC hdc, const RECT* r, HBRUSH hbrush) {
  Dc* dc = AsDc(hdc);
  Brush* br = AsBrush(hbrush);
  if (!dc || !r || !br) return FALSE;
  if (br->style == BS_NULL || IsRectEmpty(r)) return TRUE;
  RECT d = *r;
  OffsetRect(&d, dc->st.origin.x, dc->st.origin.y);
  DWORD c = RgbOf(br->colour);
  FillDevice(dc, RECT{d.left, d.top, d.right, d.top + 1}, c);
  FillDevice(dc, RECT{d.left, d.bottom - 1, d.right, d.bottom}, c);
  FillDevice(dc, RECT{d.left, d.top, d.left + 1, d.bottom}, c);
  FillDevice(dc, RECT{d.right - 1, d.top, d.right, d.bottom}, c);
  return TRUE;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  left += dc->st.origin.x;
  right += dc->st.origin.x;
  top += dc->st.origin.y;
  bottom += dc->st.origin.y;
  Pen* pen = CurrentPen(dc);
  Brush* br = CurrentBrush(dc);
  bool hasPen = pen && pen->style != PS_NULL;
  if (!hasPen) {
    // Without a pen the interior is one pixel smaller on the right and bottom.
    if (br && br->style != BS_NULL) FillDevice(dc, RECT{left, top, right - 1, bottom - 1}, RgbOf(br->colour));
    return TRUE;
  }
  int pw = pen->width;
  if (br && br->style != BS_NULL) FillDevice(dc, RECT{left + pw, top + pw, right - pw, bottom - pw}, RgbOf(br->colour));
  DWORD c = RgbOf(pen->colour);
  FillDevice(dc, RECT{left, top, right, top + pw}, c);
  FillDevice(dc, RECT{left, bottom - pw, right, bottom}, c);
  FillDevice(dc, RECT{left, top, left + pw, bottom}, c);
  FillDevice(dc, RECT{right - pw, top, right, bottom}, c);
  return TRUE;
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  if (right - left < 1 || bottom - top < 1) return TRUE;
  Bitmap* b = dc->Target();
  if (!b) return FALSE;
  left += dc->st.origin.x;
  right += dc->st.origin.x;
  top += dc->st.origin.y;
  bottom += dc->st.origin.y;
  double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0;
  double rx = (right - left) / 2.0, ry = (bottom - top) / 2.0;
  auto inside = [&](int x, int y) {
    double nx = (x + 0.5 - cx) / rx, ny = (y + 0.5 - cy) / ry;
    return nx * nx + ny * ny <= 1.0;
  };
  Pen* pen = CurrentPen(dc);
  Brush* br = CurrentBrush(dc);
  bool hasPen = pen && pen->style != PS_NULL;
  bool hasBrush = br && br->style != BS_NULL;
  RECT clip = dc->DeviceClip();
  for (int y = std::max<int>(top, clip.top); y < std::min<int>(bottom, clip.bottom); ++y)
    for (int x = std::max<int>(left, clip.left); x < std::min<int>(right, clip.right); ++x) {
      if (!inside(x, y)) continue;
      bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
      if (edge && hasPen) b->PutRgb(x, y, RgbOf(pen->colour));
      else if (hasBrush) b->PutRgb(x, y, RgbOf(br->colour));
    }
  return TRUE;
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->st.position;
  dc->st.position = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  POINT o = dc->st.origin;
  DeviceLine(dc, dc->st.position.x + o.x, dc->st.position.y + o.y, x + o.x, y + o.y);
  dc->st.position = POINT{x, y};
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
  Dc* dc = AsDc(hdc);
  if (!dc || !points || count < 2) return FALSE;
  POINT o = dc->st.origin;
  for (int i = 1; i < count; ++i)
    DeviceLine(dc, points[i - 1].x + o.x, points[i - 1].y + o.y, points[i].x + o.x, points[i].y + o.y);
  return TRUE;
}

BOOL Polygon(HDC hdc, const POINT* points, int count) {
  Dc* dc = AsDc(hdc);
  if (!dc || !points || count < 2) return FALSE;
  POINT o = dc->st.origin;
  Brush* br = CurrentBrush(dc);
  if (br && br->style != BS_NULL) {
    // Even-odd scanline fill at pixel centres.
    int ymin = points[0].y, ymax = points[0].y;
    for (int i = 1; i < count; ++i) {
      ymin = std::min<int>(ymin, points[i].y);
      ymax = std::max<int>(ymax, points[i].y);
    }
    for (int y = ymin; y < ymax; ++y) {
      double yc = y + 0.5;
      std::vector<double> xs;
      for (int i = 0; i < count; ++i) {
        POINT a = points[i], b = points[(i + 1) % count];
        if ((a.y <= yc && b.y > yc) || (b.y <= yc && a.y > yc))
          xs.push_back(a.x + (yc - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y));
      }
      std::sort(xs.begin(), xs.end());
      for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
        int x0 = static_cast<int>(std::ceil(xs[k] - 0.5)), x1 = static_cast<int>(std::ceil(xs[k + 1] - 0.5));
        FillDevice(dc, RECT{x0 + o.x, y + o.y, x1 + o.x, y + 1 + o.y}, RgbOf(br->colour));
      }
    }
  }
  for (int i = 0; i < count; ++i) {
    POINT a = points[i], b = points[(i + 1) % count];
    DeviceLine(dc, a.x + o.x, a.y + o.y, b.x + o.x, b.y + o.y);
  }
  return TRUE;
}

BOOL InvertRect(HDC hdc, const RECT* r) {
  if (!r) return FALSE;
  return PatBlt(hdc, r->left, r->top, r->right - r->left, r->bottom - r->top, DSTINVERT);
}

// ---------------------------------------------------------------------------
// DIB transfers

int StretchDIBits(HDC hdc, int xd, int yd, int wd, int hd, int xs, int ys, int ws, int hs, const void* bits,
                  const BITMAPINFO* info, UINT usage, DWORD rop) {
  Dc* dst = AsDc(hdc);
  if (!dst || !bits || !info || usage != DIB_RGB_COLORS) return 0;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  Bitmap* tmp = NewBitmap(h.biWidth, height, h.biBitCount, h.biHeight < 0, true, info, const_cast<void*>(bits));
  if (!tmp) return 0;
  HDC mem = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(mem, tmp);
  BOOL ok = DoBlit(dst, xd, yd, wd, hd, AsDc(mem), xs, ys, ws, hs, rop);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(tmp);
  return ok ? std::abs(hs) : 0;
}

int SetDIBitsToDevice(HDC hdc, int xd, int yd, DWORD w, DWORD h, int xs, int ys, UINT startScan, UINT lines,
                      const void* bits, const BITMAPINFO* info, UINT usage) {
  if (!info || startScan != 0) return 0;
  int height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
  if (lines < static_cast<UINT>(height)) return 0;
  return StretchDIBits(hdc, xd, yd, static_cast<int>(w), static_cast<int>(h), xs, ys, static_cast<int>(w),
                       static_cast<int>(h), bits, info, usage, SRCCOPY)
             ? static_cast<int>(lines)
             : 0;
}

int GetDIBits(HDC, HBITMAP hbmp, UINT startScan, UINT lines, void* bits, BITMAPINFO* info, UINT usage) {
  Bitmap* b = AsBitmap(hbmp);
  if (!b || !info || usage != DIB_RGB_COLORS) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (!bits) {
    int bpp = h.biBitCount ? h.biBitCount : b->bpp;
    const BITMAPINFOHEADER given = h;
    h = DibHeader(b->width, b->height, bpp, (bpp == 16 || bpp == 32) && b->bpp == bpp ? BI_BITFIELDS : BI_RGB);
    // What the header says of resolution stays as the caller gave it.
    h.biXPelsPerMeter = given.biXPelsPerMeter;
    h.biYPelsPerMeter = given.biYPelsPerMeter;
    h.biClrImportant = given.biClrImportant;
    if (bpp <= 8 && b->bpp == bpp) std::memcpy(info->bmiColors, b->palette.data(), b->palette.size() * sizeof(RGBQUAD));
    else if (h.biCompression == BI_BITFIELDS) std::memcpy(info->bmiColors, b->masks, sizeof(b->masks));
    return TRUE;
  }
  int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (h.biWidth != b->width || height != b->height || startScan >= static_cast<UINT>(height)) return 0;
  lines = std::min<UINT>(lines, static_cast<UINT>(height) - startScan);
  BITMAPINFOHEADER hh = h;
  hh.biHeight = h.biHeight < 0 ? -static_cast<LONG>(lines) : static_cast<LONG>(lines);
  // A palette target without a table gets greys / black and white.
  std::vector<std::uint8_t> infoCopy(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  std::memcpy(infoCopy.data(), &hh, sizeof(hh));
  std::size_t tableEntries = h.biBitCount <= 8 ? (h.biClrUsed ? std::min<std::size_t>(h.biClrUsed, 256) : (std::size_t{1} << h.biBitCount))
                            : (h.biCompression == BI_BITFIELDS ? 3 : 0);
  std::memcpy(infoCopy.data() + sizeof(hh), info->bmiColors, tableEntries * sizeof(RGBQUAD));
  Bitmap* out = NewBitmap(b->width, static_cast<int>(lines), h.biBitCount, h.biHeight < 0, true,
                          reinterpret_cast<BITMAPINFO*>(infoCopy.data()), bits);
  if (!out) return 0;
  for (UINT k = 0; k < lines; ++k) {
    int scan = static_cast<int>(startScan + k);
    int imageRow = h.biHeight < 0 ? scan : height - 1 - scan;
    int outRow = h.biHeight < 0 ? static_cast<int>(k) : static_cast<int>(lines) - 1 - static_cast<int>(k);
    for (int x = 0; x < b->width; ++x) {
      DWORD raw = b->GetRaw(x, imageRow);
      DWORD v = out->SameFormat(*b) ? raw : out->RgbToRaw(b->RawToRgb(raw));
      out->PutRaw(x, outRow, v);
    }
  }
  DeleteObject(out);
  return static_cast<int>(lines);
}

}  // namespace plat
