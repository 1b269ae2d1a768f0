// Regions (rectangular) and clipping of a DC.
#include <algorithm>

#include "platform/gdi/GdiInternal.h"

namespace plat {

namespace gdi {

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

}  // namespace gdi

using namespace gdi;

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

}  // namespace plat
