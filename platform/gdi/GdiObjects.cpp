// GDI objects: the live-handle registry, stock objects, brushes and pens,
// deletion, queries and selection into a DC.
#include <algorithm>
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

}  // namespace gdi

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
