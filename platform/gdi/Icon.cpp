// Icons: a colour image and an AND mask (or a 32-bit image with alpha).
#include <algorithm>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

struct Icon final : GdiIcon {
  int width = 0, height = 0;
  Bitmap* colour = nullptr;  // null: monochrome icon, the mask holds AND over XOR
  Bitmap* mask = nullptr;    // 1 bit
  bool alpha = false;        // the colour image is 32 bits with some non-zero alpha
  ~Icon() override {
    for (Bitmap* b : {colour, mask})
      if (b) {
        UnregisterLive(static_cast<GdiObject*>(b));
        delete b;
      }
  }
};

Icon* AsIcon(HICON h) { return IsLive(h) ? static_cast<Icon*>(h) : nullptr; }

// A private copy of a bitmap (kept out of the caller's reach).
Bitmap* CopyBitmap(const Bitmap& src) {
  DibInfo info(src.width, src.topDown ? -src.height : src.height, src.bpp,
               (src.bpp == 16 || src.bpp == 32) ? BI_BITFIELDS : BI_RGB);
  BITMAPINFOHEADER& h = info.bmiHeader;
  h.biXPelsPerMeter = src.header.biXPelsPerMeter;
  h.biYPelsPerMeter = src.header.biYPelsPerMeter;
  h.biClrImportant = src.header.biClrImportant;
  h.biClrUsed = src.bpp <= 8 ? static_cast<DWORD>(src.palette.size()) : 0;
  if (src.bpp <= 8) std::memcpy(info.bmiColors, src.palette.data(), src.palette.size() * sizeof(RGBQUAD));
  else if (src.bpp == 16 || src.bpp == 32) info.SetMasks(src.masks[0], src.masks[1], src.masks[2]);
  Bitmap* b = NewBitmap(src.width, src.height, src.bpp, src.topDown, src.isDib, info.get(), nullptr);
  if (!b) return nullptr;
  std::memcpy(b->bits, src.bits, static_cast<std::size_t>(src.stride) * src.height);
  return b;
}

}  // namespace

HICON CreateIconIndirect(const ICONINFO* info) {
  if (!info) return nullptr;
  Bitmap* mask = AsBitmap(info->hbmMask);
  Bitmap* colour = info->hbmColor ? AsBitmap(info->hbmColor) : nullptr;
  if (!mask || mask->bpp != 1 || (info->hbmColor && !colour)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* icon = new Icon();
  icon->width = mask->width;
  icon->height = colour ? mask->height : mask->height / 2;
  if (colour) {
    icon->width = colour->width;
    icon->height = colour->height;
  }
  icon->mask = CopyBitmap(*mask);
  icon->colour = colour ? CopyBitmap(*colour) : nullptr;
  if (!icon->mask || (colour && !icon->colour) || icon->height <= 0) {
    delete icon;
    return nullptr;
  }
  if (icon->colour && icon->colour->bpp == 32) {
    for (int y = 0; y < icon->colour->height && !icon->alpha; ++y)
      for (int x = 0; x < icon->colour->width; ++x)
        if (icon->colour->GetRaw(x, y) >> 24) {
          icon->alpha = true;
          break;
        }
  }
  RegisterLive(static_cast<GdiIcon*>(icon));
  return icon;
}

BOOL GetIconInfo(HICON h, ICONINFO* info) {
  Icon* icon = AsIcon(h);
  if (!icon || !info) return FALSE;
  info->fIcon = TRUE;
  info->xHotspot = static_cast<DWORD>(icon->width / 2);
  info->yHotspot = static_cast<DWORD>(icon->height / 2);
  info->hbmMask = CopyBitmap(*icon->mask);
  info->hbmColor = icon->colour ? CopyBitmap(*icon->colour) : nullptr;
  return TRUE;
}

BOOL DestroyIcon(HICON h) {
  Icon* icon = AsIcon(h);
  if (!icon) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  UnregisterLive(static_cast<GdiIcon*>(icon));
  delete icon;
  return TRUE;
}

SIZE GetIconSize(HICON h) {
  Icon* icon = AsIcon(h);
  if (!icon) return SIZE{0, 0};
  return SIZE{icon->width, icon->height};
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON h, int cx, int cy, UINT, HBRUSH, UINT flags) {
  Dc* dc = AsDc(hdc);
  Icon* icon = AsIcon(h);
  if (!dc || !icon) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Bitmap* db = dc->Target();
  if (!db) return FALSE;
  if (cx <= 0) cx = icon->width;
  if (cy <= 0) cy = icon->height;
  if (!(flags & DI_NORMAL)) return TRUE;
  x += dc->st.origin.x;
  y += dc->st.origin.y;
  RECT want{x, y, x + cx, y + cy}, clip = dc->DeviceClip(), r;
  if (!IntersectRect(&r, &want, &clip)) return TRUE;
  const DWORD ones = db->AllOnes();
  for (int dy = r.top; dy < r.bottom; ++dy) {
    int sy = static_cast<int>(((2LL * (dy - y) + 1) * icon->height) / (2LL * cy));
    for (int dx = r.left; dx < r.right; ++dx) {
      int sx = static_cast<int>(((2LL * (dx - x) + 1) * icon->width) / (2LL * cx));
      if (icon->alpha && (flags & DI_IMAGE)) {
        DWORD raw = icon->colour->GetRaw(sx, sy);
        unsigned a = raw >> 24;
        if (a == 0) continue;
        DWORD s = icon->colour->RawToRgb(raw);
        DWORD d = db->GetRgb(dx, dy);
        DWORD out = 0;
        for (int sh = 0; sh <= 16; sh += 8) {
          unsigned sc = (s >> sh) & 0xFF, dcl = (d >> sh) & 0xFF;
          out |= ((sc * a + dcl * (255 - a) + 127) / 255) << sh;
        }
        db->PutRgb(dx, dy, out);
        continue;
      }
      bool transparent = icon->mask->GetRaw(sx, sy) != 0;
      DWORD image;
      if (icon->colour) {
        image = ConvertPixel(*icon->colour, icon->colour->GetRaw(sx, sy), nullptr, *db, dc);
      } else {
        // Monochrome icon: the lower half of the mask is the XOR image, white for 1.
        bool bit = icon->mask->GetRaw(sx, sy + icon->height) != 0;
        image = db->RgbToRaw(bit ? 0xFFFFFFu : 0);
      }
      DWORD d = db->GetRaw(dx, dy);
      DWORD out;
      if ((flags & DI_NORMAL) == DI_NORMAL) out = (d & (transparent ? ones : 0)) ^ image;
      else if (flags & DI_MASK) out = d & (transparent ? ones : 0);
      else out = image;
      db->PutRaw(dx, dy, out & ones);
    }
  }
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) { return DrawIconEx(hdc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL); }

}  // namespace plat
