// GDI objects, bitmaps and DIB sections, device contexts, clipping, the screen.
#include <png.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "platform/gdi/GdiInternal.h"

namespace plat {

GdiObject::~GdiObject() = default;
GdiDc::~GdiDc() = default;
GdiIcon::~GdiIcon() = default;

namespace gdi {

namespace {

std::unordered_map<const void*, LiveKind>& LiveSet() {
  static auto* set = new std::unordered_map<const void*, LiveKind>();
  return *set;
}

constexpr int kMaxSide = 16384;
constexpr std::int64_t kMaxPixels = 64ll * 1024 * 1024;

int MaskShift(DWORD m) {
  if (m == 0) return 0;
  int s = 0;
  while (!(m & 1u)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(DWORD m) {
  int n = 0;
  while (m) {
    n += m & 1u;
    m >>= 1;
  }
  return n;
}

}  // namespace

std::recursive_mutex& GdiLock() {
  static auto* m = new std::recursive_mutex();
  return *m;
}
static void Register(const void* p, LiveKind k) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  LiveSet()[p] = k;
}
void RegisterLive(const GdiObject* p) { Register(p, LiveKind::Object); }
void RegisterLive(const GdiDc* p) { Register(p, LiveKind::Dc); }
void RegisterLive(const GdiIcon* p) { Register(p, LiveKind::Icon); }
bool IsLiveAs(const void* p, LiveKind kind) {
  if (!p) return false;
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  auto it = LiveSet().find(p);
  return it != LiveSet().end() && it->second == kind;
}
bool IsLive(const GdiObject* p) { return IsLiveAs(p, LiveKind::Object); }
bool IsLive(const GdiDc* p) { return IsLiveAs(p, LiveKind::Dc); }
bool IsLive(const GdiIcon* p) { return IsLiveAs(p, LiveKind::Icon); }
void UnregisterLive(const void* p) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  LiveSet().erase(p);
}

Bitmap* AsBitmap(HGDIOBJ o) { return IsLive(o) ? dynamic_cast<Bitmap*>(o) : nullptr; }
Brush* AsBrush(HGDIOBJ o) { return IsLive(o) ? dynamic_cast<Brush*>(o) : nullptr; }
Pen* AsPen(HGDIOBJ o) { return IsLive(o) ? dynamic_cast<Pen*>(o) : nullptr; }
Region* AsRegion(HGDIOBJ o) { return IsLive(o) ? dynamic_cast<Region*>(o) : nullptr; }
Font* AsFont(HGDIOBJ o) { return IsLive(o) ? dynamic_cast<Font*>(o) : nullptr; }
Dc* AsDc(HDC dc) { return IsLive(dc) ? dynamic_cast<Dc*>(dc) : nullptr; }

// ---------------------------------------------------------------------------
// Pixels

DWORD Bitmap::GetRaw(int x, int y) const {
  const std::uint8_t* row = Row(y);
  switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    case 8: return row[x];
    case 16: return static_cast<DWORD>(row[2 * x]) | (static_cast<DWORD>(row[2 * x + 1]) << 8);
    case 24: return static_cast<DWORD>(row[3 * x]) | (static_cast<DWORD>(row[3 * x + 1]) << 8) |
                    (static_cast<DWORD>(row[3 * x + 2]) << 16);
    case 32: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
  return 0;
}

void Bitmap::PutRaw(int x, int y, DWORD raw) {
  std::uint8_t* row = Row(y);
  switch (bpp) {
    case 1: {
      std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
      if (raw & 1u) row[x >> 3] |= bit; else row[x >> 3] &= static_cast<std::uint8_t>(~bit);
      break;
    }
    case 4:
      if (x & 1) row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0u) | (raw & 0x0Fu));
      else row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0Fu) | ((raw & 0x0Fu) << 4));
      break;
    case 8: row[x] = static_cast<std::uint8_t>(raw); break;
    case 16:
      row[2 * x] = static_cast<std::uint8_t>(raw);
      row[2 * x + 1] = static_cast<std::uint8_t>(raw >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<std::uint8_t>(raw);
      row[3 * x + 1] = static_cast<std::uint8_t>(raw >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(raw >> 16);
      break;
    case 32: std::memcpy(row + 4 * x, &raw, 4); break;
  }
}

DWORD Bitmap::RawToRgb(DWORD raw) const {
  if (bpp <= 8) {
    if (raw >= palette.size()) return 0;
    const RGBQUAD& q = palette[raw];
    return (static_cast<DWORD>(q.rgbRed) << 16) | (static_cast<DWORD>(q.rgbGreen) << 8) | q.rgbBlue;
  }
  if (bpp == 24) return raw & 0xFFFFFFu;
  DWORD out = 0;
  for (int c = 0; c < 3; ++c) {
    DWORD v = (raw & masks[c]) >> shift[c];
    int b = bitsOf[c];
    DWORD v8 = b >= 8 ? (v >> (b - 8)) : (v << (8 - b));
    out |= (v8 & 0xFFu) << (16 - 8 * c);
  }
  return out;
}

DWORD Bitmap::RgbToRaw(DWORD rgb) const {
  rgb &= 0xFFFFFFu;
  if (bpp <= 8) {
    std::uint64_t last = lastLookup.load(std::memory_order_relaxed);
    if (static_cast<DWORD>(last >> 32) == rgb) return static_cast<DWORD>(last & 0xFFFFFFFFu);
    int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    DWORD best = 0;
    long bestD = LONG_MAX;
    for (std::size_t i = 0; i < palette.size(); ++i) {
      long dr = r - palette[i].rgbRed, dg = g - palette[i].rgbGreen, db = b - palette[i].rgbBlue;
      long d = dr * dr + dg * dg + db * db;
      if (d < bestD) {
        bestD = d;
        best = static_cast<DWORD>(i);
        if (d == 0) break;
      }
    }
    lastLookup.store((static_cast<std::uint64_t>(rgb) << 32) | best, std::memory_order_relaxed);
    return best;
  }
  if (bpp == 24) return rgb;
  DWORD out = 0;
  for (int c = 0; c < 3; ++c) {
    DWORD v8 = (rgb >> (16 - 8 * c)) & 0xFFu;
    int b = bitsOf[c];
    DWORD v = b >= 8 ? (v8 << (b - 8)) : (v8 >> (8 - b));
    out |= (v << shift[c]) & masks[c];
  }
  return out;
}

bool Bitmap::SameFormat(const Bitmap& o) const {
  if (bpp != o.bpp) return false;
  if (bpp <= 8) {
    if (IsMonoDdb() != o.IsMonoDdb()) return false;
    if (palette.size() != o.palette.size()) return false;
    return std::memcmp(palette.data(), o.palette.data(), palette.size() * sizeof(RGBQUAD)) == 0;
  }
  return masks[0] == o.masks[0] && masks[1] == o.masks[1] && masks[2] == o.masks[2];
}

Bitmap* NewBitmap(int width, int height, int bpp, bool topDown, bool isDib, const BITMAPINFO* info, void* external) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<std::int64_t>(width) * height > kMaxPixels)
    return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  auto* b = new Bitmap();
  b->width = width;
  b->height = height;
  b->bpp = bpp;
  b->stride = ((bpp * width + 31) / 32) * 4;
  b->topDown = topDown;
  b->isDib = isDib;
  DWORD compression = info ? info->bmiHeader.biCompression : BI_RGB;
  if (bpp <= 8) {
    std::size_t n = std::size_t{1} << bpp;
    if (info && info->bmiHeader.biClrUsed != 0 && info->bmiHeader.biClrUsed < n) n = info->bmiHeader.biClrUsed;
    b->palette.resize(n);
    if (info) {
      std::memcpy(b->palette.data(), info->bmiColors, n * sizeof(RGBQUAD));
      for (auto& q : b->palette) q.rgbReserved = 0;
    } else if (bpp == 1) {
      b->palette[0] = RGBQUAD{0, 0, 0, 0};
      b->palette[1] = RGBQUAD{255, 255, 255, 0};
    }
  } else if (bpp == 16 || bpp == 32) {
    if (compression == BI_BITFIELDS && info) {
      std::memcpy(b->masks, info->bmiColors, sizeof(b->masks));
    } else if (bpp == 16) {
      b->masks[0] = 0x7C00;
      b->masks[1] = 0x03E0;
      b->masks[2] = 0x001F;
    } else {
      b->masks[0] = 0xFF0000;
      b->masks[1] = 0x00FF00;
      b->masks[2] = 0x0000FF;
    }
    for (int c = 0; c < 3; ++c) {
      b->shift[c] = MaskShift(b->masks[c]);
      b->bitsOf[c] = MaskBits(b->masks[c]);
    }
  }
  if (info) {
    b->header = info->bmiHeader;
  } else {
    b->header.biSize = sizeof(BITMAPINFOHEADER);
    b->header.biWidth = width;
    b->header.biHeight = topDown ? -height : height;
    b->header.biPlanes = 1;
    b->header.biBitCount = static_cast<WORD>(bpp);
    b->header.biCompression = (bpp == 16) ? BI_BITFIELDS : BI_RGB;
  }
  b->header.biSizeImage = static_cast<DWORD>(b->stride) * static_cast<DWORD>(height);
  if (external) {
    b->bits = static_cast<std::uint8_t*>(external);
  } else {
    b->storage.assign(static_cast<std::size_t>(b->stride) * height, 0);
    b->bits = b->storage.data();
  }
  RegisterLive(static_cast<GdiObject*>(b));
  return b;
}

Bitmap* StockMonoBitmap() {
  static Bitmap* stock = [] {
    Bitmap* b = NewBitmap(1, 1, 1, true, false, nullptr, nullptr);
    b->isStock = true;
    return b;
  }();
  return stock;
}

// ---------------------------------------------------------------------------
// The screen

namespace {
struct ScreenState {
  int width = 480;
  int height = 640;
  Bitmap* bitmap = nullptr;
};
ScreenState& ScreenData() {
  static auto* s = new ScreenState();
  return *s;
}
// A top-down RGB565 bitmap in the screen's format: a DIB section (the
// screen) or a device-dependent bitmap.
Bitmap* NewRgb565Bitmap(int w, int h, bool isDib) {
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
  } bi{};
  bi.h.biSize = sizeof(BITMAPINFOHEADER);
  bi.h.biWidth = w;
  bi.h.biHeight = -h;
  bi.h.biPlanes = 1;
  bi.h.biBitCount = 16;
  bi.h.biCompression = BI_BITFIELDS;
  bi.masks[0] = 0xF800;
  bi.masks[1] = 0x07E0;
  bi.masks[2] = 0x001F;
  return NewBitmap(w, h, 16, true, isDib, reinterpret_cast<BITMAPINFO*>(&bi), nullptr);
}

Bitmap* MakeScreenBitmap(int w, int h) {
  Bitmap* b = NewRgb565Bitmap(w, h, true);
  if (b) b->isStock = true;
  return b;
}
}  // namespace

Bitmap* Screen() {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  ScreenState& s = ScreenData();
  if (!s.bitmap) s.bitmap = MakeScreenBitmap(s.width, s.height);
  return s.bitmap;
}

void ReplaceScreen(int w, int h) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  ScreenState& s = ScreenData();
  Bitmap* fresh = MakeScreenBitmap(w, h);
  if (!fresh) return;
  if (s.bitmap) {
    UnregisterLive(static_cast<GdiObject*>(s.bitmap));
    delete s.bitmap;
  }
  s.bitmap = fresh;
  s.width = w;
  s.height = h;
}

// ---------------------------------------------------------------------------
// DCs

Bitmap* Dc::Target() const { return isScreen ? Screen() : st.bitmap; }

RECT Dc::DeviceClip() const {
  Bitmap* b = Target();
  RECT r{0, 0, b ? b->width : 0, b ? b->height : 0};
  if (st.hasClip) {
    r.left = std::max(r.left, st.clip.left);
    r.top = std::max(r.top, st.clip.top);
    r.right = std::min(r.right, st.clip.right);
    r.bottom = std::min(r.bottom, st.clip.bottom);
  }
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

DWORD ConvertPixel(const Bitmap& src, DWORD srcRaw, const Dc* srcDc, const Bitmap& dst, const Dc* dstDc) {
  if (src.SameFormat(dst)) return srcRaw;
  if (src.IsMonoDdb()) {
    COLORREF c = srcRaw ? (dstDc ? dstDc->st.bkColour : RGB(255, 255, 255)) : (dstDc ? dstDc->st.textColour : 0);
    DWORD rgb = (static_cast<DWORD>(GetRValue(c)) << 16) | (static_cast<DWORD>(GetGValue(c)) << 8) | GetBValue(c);
    return dst.RgbToRaw(rgb);
  }
  DWORD rgb = src.RawToRgb(srcRaw);
  if (dst.IsMonoDdb()) {
    COLORREF bk = srcDc ? srcDc->st.bkColour : RGB(255, 255, 255);
    DWORD bkRgb = (static_cast<DWORD>(GetRValue(bk)) << 16) | (static_cast<DWORD>(GetGValue(bk)) << 8) | GetBValue(bk);
    // Compare in the source's own precision.
    return src.RawToRgb(src.RgbToRaw(bkRgb)) == rgb ? 1u : 0u;
  }
  return dst.RgbToRaw(rgb);
}

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

// ---------------------------------------------------------------------------
// Rectangles

BOOL SetRect(RECT* r, int left, int top, int right, int bottom) {
  if (!r) return FALSE;
  *r = RECT{left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(RECT* r) { return SetRect(r, 0, 0, 0, 0); }
BOOL CopyRect(RECT* dst, const RECT* src) {
  if (!dst || !src) return FALSE;
  *dst = *src;
  return TRUE;
}
BOOL IsRectEmpty(const RECT* r) { return !r || r->left >= r->right || r->top >= r->bottom; }
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL OffsetRect(RECT* r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}
BOOL InflateRect(RECT* r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->right += dx;
  r->top -= dy;
  r->bottom += dy;
  return TRUE;
}
BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (r.left >= r.right || r.top >= r.bottom) {
    *dst = RECT{0, 0, 0, 0};
    return FALSE;
  }
  *dst = r;
  return TRUE;
}
BOOL UnionRect(RECT* dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  if (IsRectEmpty(a)) {
    if (IsRectEmpty(b)) {
      *dst = RECT{0, 0, 0, 0};
      return FALSE;
    }
    *dst = *b;
    return TRUE;
  }
  if (IsRectEmpty(b)) {
    *dst = *a;
    return TRUE;
  }
  *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
              std::max(a->bottom, b->bottom)};
  return TRUE;
}

// ---------------------------------------------------------------------------
// Bitmaps

static bool ValidHeader(const BITMAPINFO* info) {
  if (!info) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  if (h.biPlanes != 1) return false;
  switch (h.biBitCount) {
    case 1: case 4: case 8: case 24:
      return h.biCompression == BI_RGB;
    case 16: case 32:
      return h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS;
  }
  return false;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, void*, DWORD) {
  if (bits) *bits = nullptr;
  if (!ValidHeader(info) || usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  Bitmap* b = NewBitmap(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount, h.biHeight < 0, true,
                        info, nullptr);
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bits) *bits = b->bits;
  return b;
}

HBITMAP CreateDIBSectionOnMemory(const BITMAPINFO* info, void* bits) {
  if (!ValidHeader(info) || !bits) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  return NewBitmap(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount, h.biHeight < 0, true, info,
                   bits);
}

static Bitmap* NewScreenDdb(int w, int h) { return NewRgb565Bitmap(w, h, false); }

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  if (width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Dc* dc = AsDc(hdc);
  if (hdc && !dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (dc && !dc->isScreen && dc->st.bitmap && dc->st.bitmap->IsMonoDdb())
    return NewBitmap(width, height, 1, true, false, nullptr, nullptr);
  return NewScreenDdb(width, height);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Bitmap* b = nullptr;
  if (bitsPerPixel == 1) b = NewBitmap(width, height, 1, true, false, nullptr, nullptr);
  else if (bitsPerPixel == 16) b = NewScreenDdb(width, height);
  if (!b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bits) {
    int srcStride = ((b->bpp * width + 15) / 16) * 2;
    const auto* p = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y) std::memcpy(b->Row(y), p + static_cast<std::ptrdiff_t>(y) * srcStride, std::min(srcStride, b->stride));
  }
  return b;
}

UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : nullptr;
  if (!b || !b->isDib || b->bpp > 8 || !colors) return 0;
  UINT n = 0;
  for (UINT i = start; i < b->palette.size() && n < count; ++i, ++n) colors[n] = b->palette[i];
  return n;
}

UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : nullptr;
  if (!b || !b->isDib || b->bpp > 8 || !colors) return 0;
  UINT n = 0;
  for (UINT i = start; i < b->palette.size() && n < count; ++i, ++n) {
    b->palette[i] = colors[n];
    b->palette[i].rgbReserved = 0;
  }
  b->ForgetLookups();
  return n;
}

// ---------------------------------------------------------------------------
// DCs

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc && !AsDc(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = new Dc();
  dc->st.bitmap = StockMonoBitmap();
  dc->st.font = DefaultFont();
  dc->st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  dc->st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  RegisterLive(static_cast<GdiDc*>(dc));
  return dc;
}

static void Deselect(Dc* dc) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  if (dc->st.bitmap && dc->st.bitmap->selectedIn == dc) dc->st.bitmap->selectedIn = nullptr;
}

BOOL DeleteDC(HDC hdc) {
  Dc* dc = AsDc(hdc);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Deselect(dc);
  UnregisterLive(static_cast<GdiDc*>(dc));
  delete dc;
  return TRUE;
}

namespace {
const WindowDcProvider* g_windowDcs = nullptr;
}

void SetWindowDcProvider(const WindowDcProvider* provider) { g_windowDcs = provider; }

HDC GetDC(HWND hwnd) {
  if (hwnd) {
    if (g_windowDcs && g_windowDcs->getDc) return g_windowDcs->getDc(hwnd);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = new Dc();
  dc->isScreen = true;
  dc->st.font = DefaultFont();
  dc->st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  dc->st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  RegisterLive(static_cast<GdiDc*>(dc));
  return dc;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
  if (hwnd) {
    if (g_windowDcs && g_windowDcs->releaseDc) return g_windowDcs->releaseDc(hwnd, hdc);
    return 0;
  }
  Dc* dc = AsDc(hdc);
  if (!dc || !dc->isScreen) return 0;
  UnregisterLive(static_cast<GdiDc*>(dc));
  delete dc;
  return 1;
}


HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  Dc* dc = AsDc(hdc);
  if (!dc || !IsLive(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  if (auto* b = dynamic_cast<Bitmap*>(object)) {
    if (dc->isScreen) return nullptr;
    if (b == dc->st.bitmap) return b;
    if (!b->isStock && b->selectedIn && b->selectedIn != dc) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    Bitmap* old = dc->st.bitmap;
    if (old && old->selectedIn == dc) old->selectedIn = nullptr;
    if (!b->isStock) b->selectedIn = dc;
    dc->st.bitmap = b;
    return old;
  }
  if (auto* f = dynamic_cast<Font*>(object)) {
    Font* old = dc->st.font;
    dc->st.font = f;
    return old;
  }
  if (auto* br = dynamic_cast<Brush*>(object)) {
    Brush* old = dc->st.brush;
    dc->st.brush = br;
    return old;
  }
  if (auto* p = dynamic_cast<Pen*>(object)) {
    Pen* old = dc->st.pen;
    dc->st.pen = p;
    return old;
  }
  if (auto* r = dynamic_cast<Region*>(object)) {
    return reinterpret_cast<HGDIOBJ>(static_cast<std::intptr_t>(SelectClipRgn(hdc, r)));
  }
  return nullptr;
}

}  // namespace plat
