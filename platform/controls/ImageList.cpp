// Image lists: every image is kept as premultiplied 32-bit pixels, its mask
// folded into the alpha, and drawn by alpha blending from one strip bitmap
// that is rebuilt when the images change.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/StandardControls.h"
#include "platform/resources/Resources.h"

namespace plat {

struct ImageListData {
  int cx = 0;
  int cy = 0;
  UINT flags = 0;
  // Each image cx × cy pixels, top row first, 0xAARRGGBB premultiplied.
  std::vector<std::vector<DWORD>> images;
  HBITMAP strip = nullptr;  // 32-bit DIB, images side by side; null when stale
};

namespace {

void Invalidate(ImageListData& l) {
  if (l.strip) DeleteObject(l.strip);
  l.strip = nullptr;
}

DWORD Premultiply(DWORD rgb, DWORD alpha) {
  auto ch = [&](int shift) { return (((rgb >> shift) & 0xFF) * alpha + 127) / 255; };
  return (alpha << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
}

// Whether a bitmap carries alpha of its own: a 32-bit one with some pixel
// not fully transparent in its top byte.
bool HasAlpha(HBITMAP bitmap, const PixelImage& pixels) {
  BITMAP bm{};
  if (!GetObjectW(bitmap, sizeof bm, &bm) || bm.bmBitsPixel != 32) return false;
  return std::any_of(pixels.pixels.begin(), pixels.pixels.end(), [](DWORD p) { return (p >> 24) != 0; });
}

// One image from (x0, 0) of the colour pixels; transparent where the mask is
// set (non-black) or the colour equals key.
std::vector<DWORD> Cut(const ImageListData& l, const PixelImage& colour, bool alpha, const PixelImage* mask, int x0,
                       COLORREF key) {
  std::vector<DWORD> out(static_cast<std::size_t>(l.cx) * l.cy, 0);
  const DWORD keyRgb = key == CLR_NONE ? 0xFFFFFFFF : (GetRValue(key) << 16) | (GetGValue(key) << 8) | GetBValue(key);
  for (int y = 0; y < l.cy && y < colour.height; ++y) {
    for (int x = 0; x < l.cx && x0 + x < colour.width; ++x) {
      const DWORD p = colour.pixels[static_cast<std::size_t>(y) * colour.width + x0 + x];
      DWORD a = alpha ? (p >> 24) : 255;
      if (mask && y < mask->height && x0 + x < mask->width &&
          (mask->pixels[static_cast<std::size_t>(y) * mask->width + x0 + x] & 0xFFFFFF) != 0)
        a = 0;
      if ((p & 0xFFFFFF) == keyRgb) a = 0;
      out[static_cast<std::size_t>(y) * l.cx + x] = Premultiply(p & 0xFFFFFF, a);
    }
  }
  return out;
}

int AddStrip(HIMAGELIST l, HBITMAP image, HBITMAP mask, COLORREF key) {
  if (!l || !image) return -1;
  PixelImage colour = ReadBitmapPixels(image);
  if (colour.width < l->cx || colour.height <= 0) return -1;
  PixelImage maskPixels;
  if (mask) maskPixels = ReadBitmapPixels(mask);
  const bool alpha = HasAlpha(image, colour);
  const int first = static_cast<int>(l->images.size());
  try {
    for (int x0 = 0; x0 + l->cx <= colour.width; x0 += l->cx)
      l->images.push_back(Cut(*l, colour, alpha, mask ? &maskPixels : nullptr, x0, key));
  } catch (const std::bad_alloc&) {
    l->images.resize(static_cast<std::size_t>(first));
    return -1;
  }
  Invalidate(*l);
  return first;
}

// Brings the strip bitmap up to date; false when it cannot be made.
bool EnsureStrip(ImageListData& l) {
  if (l.strip) return true;
  if (l.images.empty()) return false;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = l.cx * static_cast<int>(l.images.size());
  bi.bmiHeader.biHeight = -l.cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP strip = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!strip || !bits) return false;
  auto* rows = static_cast<DWORD*>(bits);
  const std::size_t stride = static_cast<std::size_t>(bi.bmiHeader.biWidth);
  for (std::size_t i = 0; i < l.images.size(); ++i)
    for (int y = 0; y < l.cy; ++y)
      std::memcpy(rows + y * stride + i * l.cx, l.images[i].data() + static_cast<std::size_t>(y) * l.cx,
                  static_cast<std::size_t>(l.cx) * sizeof(DWORD));
  l.strip = strip;
  return true;
}

bool ValidIndex(HIMAGELIST l, int index) {
  return l && index >= 0 && static_cast<std::size_t>(index) < l->images.size();
}

}  // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int) {
  if (cx <= 0 || cy <= 0 || cx > 4096 || cy > 4096) return nullptr;
  auto* l = new (std::nothrow) ImageListData;
  if (!l) return nullptr;
  l->cx = cx;
  l->cy = cy;
  l->flags = flags;
  if (initial > 0 && initial < 1024) l->images.reserve(static_cast<std::size_t>(initial));
  return l;
}

BOOL ImageList_Destroy(HIMAGELIST l) {
  if (!l) return FALSE;
  Invalidate(*l);
  delete l;
  return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST l) { return l ? static_cast<int>(l->images.size()) : 0; }

BOOL ImageList_GetIconSize(HIMAGELIST l, int* cx, int* cy) {
  if (!l || !cx || !cy) return FALSE;
  *cx = l->cx;
  *cy = l->cy;
  return TRUE;
}

int ImageList_Add(HIMAGELIST l, HBITMAP image, HBITMAP mask) { return AddStrip(l, image, mask, CLR_NONE); }

int ImageList_AddMasked(HIMAGELIST l, HBITMAP image, COLORREF mask) {
  if (mask == CLR_DEFAULT && image) {
    PixelImage p = ReadBitmapPixels(image);
    if (p.pixels.empty()) return -1;
    const DWORD c = p.pixels[0];
    mask = RGB(static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c));
  }
  return AddStrip(l, image, nullptr, mask);
}

int ImageList_ReplaceIcon(HIMAGELIST l, int index, HICON icon) {
  if (!l || !icon || (index != -1 && !ValidIndex(l, index))) return -1;
  // Drawn at the list's size onto a transparent 32-bit bitmap.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = l->cx;
  bi.bmiHeader.biHeight = -l->cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  // Drawn twice, on black and on white: where the two differ, the icon lets
  // the background through, which gives the alpha.
  std::vector<DWORD> onBlack, onWhite;
  for (int pass = 0; pass < 2; ++pass) {
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) return -1;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all{0, 0, l->cx, l->cy};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(pass == 0 ? BLACK_BRUSH : WHITE_BRUSH)));
    DrawIconEx(dc, 0, 0, icon, l->cx, l->cy, 0, nullptr, DI_NORMAL);
    SelectObject(dc, old);
    DeleteDC(dc);
    PixelImage p = ReadBitmapPixels(bmp);
    DeleteObject(bmp);
    (pass == 0 ? onBlack : onWhite) = std::move(p.pixels);
  }
  if (onBlack.size() != static_cast<std::size_t>(l->cx) * l->cy || onWhite.size() != onBlack.size()) return -1;
  std::vector<DWORD> image(onBlack.size());
  for (std::size_t i = 0; i < image.size(); ++i) {
    // white - black = 255 - alpha per channel; black holds colour × alpha.
    const int g = static_cast<int>((onWhite[i] >> 8) & 0xFF) - static_cast<int>((onBlack[i] >> 8) & 0xFF);
    const DWORD a = static_cast<DWORD>(std::clamp(255 - g, 0, 255));
    image[i] = (a << 24) | (onBlack[i] & 0xFFFFFF);
    if (a == 0) image[i] = 0;
  }
  if (index == -1) {
    l->images.push_back(std::move(image));
    index = static_cast<int>(l->images.size()) - 1;
  } else {
    l->images[static_cast<std::size_t>(index)] = std::move(image);
  }
  Invalidate(*l);
  return index;
}

BOOL ImageList_Remove(HIMAGELIST l, int index) {
  if (!l) return FALSE;
  if (index == -1) {
    l->images.clear();
  } else {
    if (!ValidIndex(l, index)) return FALSE;
    l->images.erase(l->images.begin() + index);
  }
  Invalidate(*l);
  return TRUE;
}

BOOL ImageList_Draw(HIMAGELIST l, int index, HDC hdc, int x, int y, UINT style) {
  if (!ValidIndex(l, index) || !hdc || !EnsureStrip(*l)) return FALSE;
  HDC mem = CreateCompatibleDC(hdc);
  if (!mem) return FALSE;
  HGDIOBJ old = SelectObject(mem, l->strip);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(hdc, x, y, l->cx, l->cy, mem, index * l->cx, 0, l->cx, l->cy, blend);
  SelectObject(mem, old);
  DeleteDC(mem);
  if (style & (ILD_BLEND50 | ILD_BLEND25)) {
    // The highlight laid over the image's own pixels.
    const int share = (style & ILD_BLEND50) ? 128 : 64;
    const COLORREF hl = GetSysColor(COLOR_HIGHLIGHT);
    const std::vector<DWORD>& img = l->images[static_cast<std::size_t>(index)];
    for (int yy = 0; yy < l->cy; ++yy)
      for (int xx = 0; xx < l->cx; ++xx) {
        if ((img[static_cast<std::size_t>(yy) * l->cx + xx] >> 24) < 128) continue;
        COLORREF c = GetPixel(hdc, x + xx, y + yy);
        if (c == CLR_INVALID) continue;
        auto mix = [&](int a, int b) { return static_cast<BYTE>((a * (256 - share) + b * share) >> 8); };
        SetPixel(hdc, x + xx, y + yy,
                 RGB(mix(GetRValue(c), GetRValue(hl)), mix(GetGValue(c), GetGValue(hl)), mix(GetBValue(c), GetBValue(hl))));
      }
  }
  return TRUE;
}

HICON ImageList_GetIcon(HIMAGELIST l, int index, UINT) {
  if (!ValidIndex(l, index)) return nullptr;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = l->cx;
  bi.bmiHeader.biHeight = -l->cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP colour = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!colour || !bits) return nullptr;
  std::memcpy(bits, l->images[static_cast<std::size_t>(index)].data(),
              static_cast<std::size_t>(l->cx) * l->cy * sizeof(DWORD));
  std::vector<BYTE> maskBits(static_cast<std::size_t>((l->cx + 15) / 16 * 2) * l->cy, 0);
  HBITMAP mask = CreateBitmap(l->cx, l->cy, 1, 1, maskBits.data());
  ICONINFO ii{TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(mask);
  DeleteObject(colour);
  return icon;
}

HIMAGELIST ImageList_LoadImage(HINSTANCE module, const WCHAR* name, int cx, int grow, COLORREF mask, UINT type,
                               UINT flags) {
  if (type != IMAGE_BITMAP || cx <= 0) return nullptr;
  auto* bitmap = static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, flags | LR_CREATEDIBSECTION));
  if (!bitmap) return nullptr;
  BITMAP bm{};
  HIMAGELIST l = nullptr;
  if (GetObjectW(bitmap, sizeof bm, &bm) && bm.bmWidth >= cx) {
    l = ImageList_Create(cx, bm.bmHeight, ILC_COLOR32 | (mask != CLR_NONE ? ILC_MASK : 0), bm.bmWidth / cx, grow);
    if (l && ImageList_AddMasked(l, bitmap, mask) < 0) {
      ImageList_Destroy(l);
      l = nullptr;
    }
  }
  DeleteObject(bitmap);
  return l;
}

}  // namespace plat
