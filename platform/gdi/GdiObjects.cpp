// Object lifetime and queries, DC state, regions and clipping, brushes and
// pens, the screen and PNG output, DIB transfers.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

Brush* NewStockBrush(UINT style, COLORREF c) {
  auto* b = new Brush();
  b->style = style;
  b->colour = c;
  b->isStock = true;
  RegisterLive(static_cast<GdiObject*>(b));
  return b;
}
Pen* NewStockPen(int style, COLORREF c) {
  auto* p = new Pen();
  p->style = style;
  p->colour = c;
  p->isStock = true;
  RegisterLive(static_cast<GdiObject*>(p));
  return p;
}

bool IsStock(GdiObject* o) {
  if (auto* b = dynamic_cast<Bitmap*>(o)) return b->isStock;
  if (auto* b = dynamic_cast<Brush*>(o)) return b->isStock;
  if (auto* p = dynamic_cast<Pen*>(o)) return p->isStock;
  if (auto* f = dynamic_cast<Font*>(o)) return f->isStock;
  return false;
}

}  // namespace

HGDIOBJ GetStockObject(int index) {
  static Brush* brushes[6] = {NewStockBrush(BS_SOLID, RGB(255, 255, 255)), NewStockBrush(BS_SOLID, RGB(192, 192, 192)),
                              NewStockBrush(BS_SOLID, RGB(128, 128, 128)), NewStockBrush(BS_SOLID, RGB(64, 64, 64)),
                              NewStockBrush(BS_SOLID, RGB(0, 0, 0)),       NewStockBrush(BS_NULL, 0)};
  static Pen* pens[3] = {NewStockPen(PS_SOLID, RGB(255, 255, 255)), NewStockPen(PS_SOLID, RGB(0, 0, 0)),
                         NewStockPen(PS_NULL, 0)};
  if (index >= WHITE_BRUSH && index <= NULL_BRUSH) return brushes[index];
  if (index >= WHITE_PEN && index <= NULL_PEN) return pens[index - WHITE_PEN];
  if (index == SYSTEM_FONT || index == DEFAULT_GUI_FONT) return StockFont(index);
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  auto* b = new Brush();
  b->colour = colour & 0xFFFFFFu;
  RegisterLive(static_cast<GdiObject*>(b));
  return b;
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* lb) {
  if (!lb || (lb->lbStyle != BS_SOLID && lb->lbStyle != BS_NULL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* b = new Brush();
  b->style = lb->lbStyle;
  b->colour = lb->lbColor & 0xFFFFFFu;
  RegisterLive(static_cast<GdiObject*>(b));
  return b;
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  if (style != PS_SOLID && style != PS_DASH && style != PS_NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* p = new Pen();
  p->style = style;
  p->width = std::max(1, width);
  p->colour = colour & 0xFFFFFFu;
  RegisterLive(static_cast<GdiObject*>(p));
  return p;
}

HPEN CreatePenIndirect(const LOGPEN* lp) {
  if (!lp) return nullptr;
  return CreatePen(static_cast<int>(lp->lopnStyle), lp->lopnWidth.x, lp->lopnColor);
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  if (!IsLive(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (IsStock(object)) return TRUE;
  if (auto* b = dynamic_cast<Bitmap*>(object)) {
    if (b->selectedIn) return FALSE;
  }
  UnregisterLive(object);
  delete object;
  return TRUE;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  Dc* dc = AsDc(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return dc->Target();
    case OBJ_FONT: return dc->st.font;
    case OBJ_BRUSH: return dc->st.brush;
    case OBJ_PEN: return dc->st.pen;
  }
  return nullptr;
}

DWORD GetObjectType(HGDIOBJ o) {
  if (!IsLive(o)) return 0;
  if (dynamic_cast<Bitmap*>(o)) return OBJ_BITMAP;
  if (dynamic_cast<Font*>(o)) return OBJ_FONT;
  if (dynamic_cast<Brush*>(o)) return OBJ_BRUSH;
  if (dynamic_cast<Pen*>(o)) return OBJ_PEN;
  if (dynamic_cast<Region*>(o)) return OBJ_REGION;
  return 0;
}

int GetObjectW(HGDIOBJ object, int cb, void* out) {
  if (!IsLive(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (auto* b = dynamic_cast<Bitmap*>(object)) {
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = b->width;
    bm.bmHeight = b->height;
    bm.bmWidthBytes = b->stride;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(b->bpp);
    bm.bmBits = b->isDib ? b->bits : nullptr;
    if (!out) return b->isDib ? static_cast<int>(sizeof(DIBSECTION)) : static_cast<int>(sizeof(BITMAP));
    if (b->isDib && cb >= static_cast<int>(sizeof(DIBSECTION))) {
      DIBSECTION ds{};
      ds.dsBm = bm;
      ds.dsBmih = b->header;
      ds.dsBmih.biSizeImage = static_cast<DWORD>(b->stride) * static_cast<DWORD>(b->height);
      if (b->bpp == 16 || b->bpp == 32) std::memcpy(ds.dsBitfields, b->masks, sizeof(ds.dsBitfields));
      std::memcpy(out, &ds, sizeof(ds));
      return sizeof(DIBSECTION);
    }
    if (cb < static_cast<int>(sizeof(BITMAP))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::memcpy(out, &bm, sizeof(bm));
    return sizeof(BITMAP);
  }
  if (auto* f = dynamic_cast<Font*>(object)) {
    if (!out) return sizeof(LOGFONTW);
    if (cb < static_cast<int>(sizeof(LOGFONTW))) return 0;
    std::memcpy(out, &f->lf, sizeof(LOGFONTW));
    return sizeof(LOGFONTW);
  }
  if (auto* br = dynamic_cast<Brush*>(object)) {
    if (!out) return sizeof(LOGBRUSH);
    if (cb < static_cast<int>(sizeof(LOGBRUSH))) return 0;
    LOGBRUSH lb{br->style, br->colour, 0};
    std::memcpy(out, &lb, sizeof(lb));
    return sizeof(LOGBRUSH);
  }
  if (auto* p = dynamic_cast<Pen*>(object)) {
    if (!out) return sizeof(LOGPEN);
    if (cb < static_cast<int>(sizeof(LOGPEN))) return 0;
    LOGPEN lp{static_cast<UINT>(p->style), POINT{p->width, 0}, p->colour};
    std::memcpy(out, &lp, sizeof(lp));
    return sizeof(LOGPEN);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// DC state

int SaveDC(HDC hdc) {
  Dc* dc = AsDc(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->st);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int level) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int target = level < 0 ? n + level + 1 : level;
  if (target < 1 || target > n) return FALSE;
  DcState st = dc->saved[static_cast<std::size_t>(target - 1)];
  dc->saved.resize(static_cast<std::size_t>(target - 1));
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  // Objects deleted since the save fall back to the defaults.
  if (st.font && !IsLive(static_cast<GdiObject*>(st.font))) st.font = DefaultFont();
  if (st.brush && !IsLive(static_cast<GdiObject*>(st.brush))) st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  if (st.pen && !IsLive(static_cast<GdiObject*>(st.pen))) st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  if (!dc->isScreen) {
    Bitmap* want = st.bitmap;
    if (!want || !IsLive(static_cast<GdiObject*>(want)) || (want->selectedIn && want->selectedIn != dc))
      want = StockMonoBitmap();
    if (dc->st.bitmap && dc->st.bitmap->selectedIn == dc) dc->st.bitmap->selectedIn = nullptr;
    if (!want->isStock) want->selectedIn = dc;
    st.bitmap = want;
  }
  dc->st = st;
  return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : Screen();
  bool screenLike = !dc || dc->isScreen;
  switch (index) {
    case HORZRES: return screenLike ? ScreenWidth() : b->width;
    case VERTRES: return screenLike ? ScreenHeight() : b->height;
    case HORZSIZE: return ScreenWidth() * 254 / (ScreenDpi() * 10);
    case VERTSIZE: return ScreenHeight() * 254 / (ScreenDpi() * 10);
    case BITSPIXEL: return screenLike ? 16 : b->bpp;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case RASTERCAPS: return RC_BITBLT | RC_STRETCHBLT | RC_DI_BITMAP;
    case LOGPIXELSX:
    case LOGPIXELSY: return ScreenDpi();
  }
  return 0;
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* previous) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->st.origin;
  dc->st.origin = POINT{x, y};
  return TRUE;
}
BOOL GetViewportOrgEx(HDC hdc, POINT* origin) {
  Dc* dc = AsDc(hdc);
  if (!dc || !origin) return FALSE;
  *origin = dc->st.origin;
  return TRUE;
}
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* previous) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->st.origin;
  dc->st.origin.x += dx;
  dc->st.origin.y += dy;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Regions and clipping

static int RegionType(const RECT& r) { return (r.left >= r.right || r.top >= r.bottom) ? NULLREGION : SIMPLEREGION; }
static RECT Normalized(RECT r) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  return r;
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto* r = new Region();
  r->box = Normalized(RECT{left, top, right, bottom});
  RegisterLive(static_cast<GdiObject*>(r));
  return r;
}
HRGN CreateRectRgnIndirect(const RECT* r) { return r ? CreateRectRgn(r->left, r->top, r->right, r->bottom) : nullptr; }

int GetRgnBox(HRGN region, RECT* box) {
  Region* r = AsRegion(region);
  if (!r || !box) return ERROR;
  *box = r->box;
  return RegionType(r->box);
}

BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom) {
  Region* r = AsRegion(region);
  if (!r) return FALSE;
  r->box = Normalized(RECT{left, top, right, bottom});
  return TRUE;
}

int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode) {
  Region* d = AsRegion(dst);
  Region* ra = AsRegion(a);
  Region* rb = mode == RGN_COPY ? nullptr : AsRegion(b);
  if (!d || !ra || (mode != RGN_COPY && !rb)) return ERROR;
  RECT out{};
  const RECT A = ra->box;
  switch (mode) {
    case RGN_COPY: out = A; break;
    case RGN_AND: IntersectRect(&out, &A, &rb->box); break;
    case RGN_OR: {
      const RECT B = rb->box;
      if (IsRectEmpty(&A)) { out = B; break; }
      if (IsRectEmpty(&B)) { out = A; break; }
      UnionRect(&out, &A, &B);
      // The union is a rectangle only when one holds the other or they share a full side.
      bool sameRows = A.top == B.top && A.bottom == B.bottom && A.left <= B.right && B.left <= A.right;
      bool sameCols = A.left == B.left && A.right == B.right && A.top <= B.bottom && B.top <= A.bottom;
      bool contains = EqualRect(&out, &A) || EqualRect(&out, &B);
      if (!sameRows && !sameCols && !contains) return ERROR;
      break;
    }
    case RGN_DIFF: {
      const RECT B = rb->box;
      RECT inter{};
      if (!IntersectRect(&inter, &A, &B)) { out = A; break; }
      out = A;
      if (inter.top <= A.top && inter.bottom >= A.bottom) {
        if (inter.left <= A.left) out.left = inter.right;
        else if (inter.right >= A.right) out.right = inter.left;
        else return ERROR;
      } else if (inter.left <= A.left && inter.right >= A.right) {
        if (inter.top <= A.top) out.top = inter.bottom;
        else if (inter.bottom >= A.bottom) out.bottom = inter.top;
        else return ERROR;
      } else {
        return ERROR;
      }
      if (out.left >= out.right || out.top >= out.bottom) out = RECT{0, 0, 0, 0};
      break;
    }
    default: return ERROR;
  }
  d->box = out;
  return RegionType(out);
}

BOOL PtInRegion(HRGN region, int x, int y) {
  Region* r = AsRegion(region);
  return r && PtInRect(&r->box, POINT{x, y});
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  Dc* dc = AsDc(hdc);
  if (!dc) return ERROR;
  RECT r = Normalized(RECT{left + dc->st.origin.x, top + dc->st.origin.y, right + dc->st.origin.x,
                           bottom + dc->st.origin.y});
  if (dc->st.hasClip) {
    RECT out{};
    IntersectRect(&out, &dc->st.clip, &r);
    r = out;
  }
  dc->st.hasClip = true;
  dc->st.clip = r;
  return RegionType(r);
}

int SelectClipRgn(HDC hdc, HRGN region) {
  Dc* dc = AsDc(hdc);
  if (!dc) return ERROR;
  if (!region) {
    dc->st.hasClip = false;
    RECT all = dc->DeviceClip();
    return RegionType(all);
  }
  Region* r = AsRegion(region);
  if (!r) return ERROR;
  dc->st.hasClip = true;
  dc->st.clip = r->box;
  return RegionType(r->box);
}

int GetClipBox(HDC hdc, RECT* box) {
  Dc* dc = AsDc(hdc);
  if (!dc || !box) return ERROR;
  RECT r = dc->DeviceClip();
  OffsetRect(&r, -dc->st.origin.x, -dc->st.origin.y);
  *box = r;
  return RegionType(r);
}

int GetClipRgn(HDC hdc, HRGN region) {
  Dc* dc = AsDc(hdc);
  Region* r = AsRegion(region);
  if (!dc || !r) return -1;
  if (!dc->st.hasClip) return 0;
  r->box = dc->st.clip;
  return 1;
}

// ---------------------------------------------------------------------------
// The screen

int ScreenWidth() { return Screen()->width; }
int ScreenHeight() { return Screen()->height; }

namespace gdi {
int& ScreenDpiRef() {
  static int dpi = 192;
  return dpi;
}
}  // namespace gdi

int ScreenDpi() { return gdi::ScreenDpiRef(); }

void SetScreenForTesting(int width, int height, int dpi) {
  if (width <= 0 || height <= 0 || dpi <= 0) return;
  gdi::ScreenDpiRef() = dpi;
  gdi::ReplaceScreen(width, height);
}

void ResetScreenForTesting() { SetScreenForTesting(480, 640, 192); }

HBITMAP ScreenBitmap() { return Screen(); }

PixelImage ReadBitmapPixels(HBITMAP bitmap) {
  PixelImage img;
  Bitmap* b = AsBitmap(bitmap);
  if (!b) return img;
  img.width = b->width;
  img.height = b->height;
  img.pixels.resize(static_cast<std::size_t>(b->width) * b->height);
  for (int y = 0; y < b->height; ++y)
    for (int x = 0; x < b->width; ++x) {
      DWORD raw = b->GetRaw(x, y);
      DWORD rgb = b->RawToRgb(raw);
      if (b->bpp == 32) rgb |= raw & 0xFF000000u;
      img.pixels[static_cast<std::size_t>(y) * b->width + x] = rgb;
    }
  return img;
}

static bool WritePng(const Bitmap& b, const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(b.width);
  image.height = static_cast<png_uint_32>(b.height);
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(b.width) * b.height * 3);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      DWORD c = b.GetRgb(x, y);
      std::size_t o = (static_cast<std::size_t>(y) * b.width + x) * 3;
      rgb[o] = static_cast<std::uint8_t>(c >> 16);
      rgb[o + 1] = static_cast<std::uint8_t>(c >> 8);
      rgb[o + 2] = static_cast<std::uint8_t>(c);
    }
  std::string tmp = path + ".tmp";
  if (!png_image_write_to_file(&image, tmp.c_str(), 0, rgb.data(), 0, nullptr)) {
    std::remove(tmp.c_str());
    return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool SaveBitmapPng(HBITMAP bitmap, const std::string& hostPath) {
  Bitmap* b = AsBitmap(bitmap);
  return b && WritePng(*b, hostPath);
}

bool SaveScreenPng(const std::string& hostPath) { return WritePng(*Screen(), hostPath); }

}  // namespace plat
