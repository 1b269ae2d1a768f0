#include "layout/MaskedImage.h"

#include <algorithm>
#include <cstring>

#include "layout/MaskBlend.h"

namespace {

bool Usable(const CBitmapBuffer* b) { return b && b->GetBits() && b->GetWidth() > 0 && b->GetHeight() > 0; }

// The shared clipping: false when the operation fails; width or height below
// 1 afterwards means there is nothing to draw.
bool Clip(const CBitmapBuffer& target, int& x, int& y, int& w, int& h, const CBitmapBuffer& picture, int& sx,
          int& sy) {
  if (x < 0) {
    sx -= x;
    w += x;
    x = 0;
  }
  if (y < 0) {
    sy -= y;
    h += y;
    y = 0;
  }
  if (sx < 0 || sy < 0) return false;
  w = std::min({w, picture.GetWidth() - sx, target.GetWidth() - x});
  h = std::min({h, picture.GetHeight() - sy, target.GetHeight() - y});
  return true;
}

bool MaskCovers(const CBitmapBuffer& mask, int sx, int sy, int w, int h) {
  return mask.GetWidth() >= sx + w && mask.GetHeight() >= sy + h;
}

inline std::uint32_t Spread(std::uint32_t p) { return ((p & 0xF800u) << 10) | ((p & 0x07E0u) << 5) | (p & 0x001Fu); }

}  // namespace

std::uint16_t Blend4(std::uint16_t d, std::uint16_t s, int m) {
  const std::int32_t t =
      static_cast<std::int32_t>(Spread(d) * static_cast<std::uint32_t>(16 - m) + Spread(s) * static_cast<std::uint32_t>(m)) >> 4;
  return static_cast<std::uint16_t>(((t >> 10) & 0xF800) | ((t >> 5) & 0x07E0) | (t & 0x001F));
}

int MaskedImage::GetWidth() const {
  if (picture) return picture->GetWidth();
  return mask ? mask->GetWidth() : 0;
}

int MaskedImage::GetHeight() const {
  if (picture) return picture->GetHeight();
  return mask ? mask->GetHeight() : 0;
}

bool MaskedImage::Draw(CBitmapBuffer& target, int x, int y) const {
  return AlphaMaskBlend16(*this, target, x, y, GetWidth(), GetHeight(), 0, 0);
}

bool AlphaMaskBlend16(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int width, int height, int sx,
                      int sy) {
  const bool hasPicture = Usable(image.picture.get());
  const bool hasMask = Usable(image.mask.get());
  if (hasPicture && !hasMask) return CopyBitmapRect(target, x, y, width, height, *image.picture, sx, sy);
  if (hasPicture && hasMask) {
    if (image.picture->GetBitsPerPixel() == 8)
      return BlendGrayMasked(target, x, y, width, height, *image.picture, sx, sy, *image.mask, -1);
    return BlendMasked(target, x, y, width, height, *image.picture, sx, sy, *image.mask, 255);
  }
  if (hasMask) return BlendColorThroughMask(target, x, y, width, height, 0xFFFFFF, sx, sy, *image.mask, 255);
  return true;
}

bool BlendMasked(CBitmapBuffer& target, int x, int y, int w, int h, const CBitmapBuffer& picture, int sx, int sy,
                 const CBitmapBuffer& mask, int opacity) {
  if (opacity <= 0) return true;
  if (opacity > 255) opacity = 255;
  if (!Usable(&target) || !Usable(&picture) || !Usable(&mask)) return false;
  if (target.GetBitsPerPixel() != 16 || picture.GetBitsPerPixel() != 16) return false;
  const int depth = mask.GetBitsPerPixel();
  if (depth != 1 && depth != 4 && depth != 8) return false;
  if (!Clip(target, x, y, w, h, picture, sx, sy)) return false;
  if (!MaskCovers(mask, sx, sy, w, h)) return false;
  if (w < 1 || h < 1) return true;
  for (int row = 0; row < h; ++row) {
    auto* d = reinterpret_cast<std::uint16_t*>(target.Row(y + row)) + x;
    const auto* s = reinterpret_cast<const std::uint16_t*>(picture.Row(sy + row)) + sx;
    const std::uint8_t* m = mask.Row(sy + row);
    for (int col = 0; col < w; ++col) {
      const int mx = sx + col;
      if (depth == 1) {
        if (!((m[mx >> 3] >> (7 - (mx & 7))) & 1)) continue;
        if (opacity == 255) {
          d[col] = s[col];
        } else {
          BlendPixel565(d[col], s[col], opacity);
        }
      } else if (depth == 4) {
        const int v = (m[mx >> 1] >> ((mx & 1) ? 0 : 4)) & 0x0F;
        if (opacity == 255) {
          if (v == 0) continue;
          d[col] = v == 15 ? s[col] : Blend4(d[col], s[col], v);
        } else {
          const int a = v * opacity / 16;
          if (a > 0) BlendPixel565(d[col], s[col], a);
        }
      } else {
        const int v = m[mx];
        if (opacity == 255) {
          if (v == 0) continue;
          if (v == 255) {
            d[col] = s[col];
          } else {
            BlendPixel565(d[col], s[col], v);
          }
        } else {
          const int a = v * opacity / 256;
          if (a > 0) BlendPixel565(d[col], s[col], a);
        }
      }
    }
  }
  return true;
}

bool CopyBitmapRect(CBitmapBuffer& target, int x, int y, int w, int h, const CBitmapBuffer& picture, int sx, int sy) {
  if (!Usable(&target) || !Usable(&picture)) return false;
  const int bpp = picture.GetBitsPerPixel();
  if (bpp != target.GetBitsPerPixel() || (bpp != 8 && bpp != 16)) return false;
  if (!Clip(target, x, y, w, h, picture, sx, sy)) return false;
  if (w < 1 || h < 1) return true;
  const int bytes = bpp / 8;
  for (int row = 0; row < h; ++row) {
    std::memmove(target.Row(y + row) + static_cast<std::ptrdiff_t>(x) * bytes,
                 picture.Row(sy + row) + static_cast<std::ptrdiff_t>(sx) * bytes,
                 static_cast<std::size_t>(w) * static_cast<std::size_t>(bytes));
  }
  return true;
}

bool BlendGrayMasked(CBitmapBuffer& target, int x, int y, int w, int h, const CBitmapBuffer& picture, int sx, int sy,
                     const CBitmapBuffer& mask, std::int32_t colour) {
  if (!Usable(&target) || !Usable(&picture) || !Usable(&mask)) return false;
  if (target.GetBitsPerPixel() != 16 || picture.GetBitsPerPixel() != 8 || mask.GetBitsPerPixel() != 8) return false;
  if (!Clip(target, x, y, w, h, picture, sx, sy)) return false;
  if (!MaskCovers(mask, sx, sy, w, h)) return false;
  if (w < 1 || h < 1) return true;
  int errRed = 0, errGreen = 0, errBlue = 0;
  for (int row = 0; row < h; ++row) {
    auto* d = reinterpret_cast<std::uint16_t*>(target.Row(y + row)) + x;
    const std::uint8_t* g = picture.Row(sy + row) + sx;
    const std::uint8_t* m = mask.Row(sy + row) + sx;
    const bool forward = (row & 1) == 0;
    for (int k = 0; k < w; ++k) {
      const int col = forward ? k : w - 1 - k;
      int red, green, blue;
      if (colour == -1) {
        const std::uint16_t p = d[col];
        red = (p >> 8) & 248;
        green = (p >> 3) & 252;
        blue = (p << 3) & 255;
      } else {
        red = colour & 255;
        green = (colour >> 8) & 255;
        blue = (colour >> 16) & 255;
      }
      const int mv = m[col];
      const int gv = g[col];
      if (mv == 255) {
        red = green = blue = gv;
      } else if (mv != 0) {
        red = (gv * mv + (256 - mv) * red) >> 8;
        green = (gv * mv + (256 - mv) * green) >> 8;
        blue = (gv * mv + (256 - mv) * blue) >> 8;
      }
      errRed += red & 7;
      if (errRed >= 8) {
        red = std::min(red + 8, 255);
        errRed -= 8;
      }
      errBlue += blue & 7;
      if (errBlue >= 8) {
        blue = std::min(blue + 8, 255);
        errBlue -= 8;
      }
      errGreen += green & 3;
      if (errGreen >= 4) {
        green = std::min(green + 4, 255);
        errGreen -= 4;
      }
      d[col] = static_cast<std::uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3));
    }
  }
  return true;
}

namespace {

// Pixel value i of a row at any depth of 1, 4, 8 or 16 bits.
std::uint32_t GetPixelAt(const std::uint8_t* row, int bpp, int i) {
  switch (bpp) {
    case 1: return (row[i >> 3] >> (7 - (i & 7))) & 1u;
    case 4: return (row[i >> 1] >> ((i & 1) ? 0 : 4)) & 0x0Fu;
    case 8: return row[i];
    default: return reinterpret_cast<const std::uint16_t*>(row)[i];
  }
}

void SetPixelAt(std::uint8_t* row, int bpp, int i, std::uint32_t v) {
  switch (bpp) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (i & 7));
      row[i >> 3] = static_cast<std::uint8_t>(v ? (row[i >> 3] | bit) : (row[i >> 3] & ~bit));
      break;
    }
    case 4: {
      const int shift = (i & 1) ? 0 : 4;
      row[i >> 1] = static_cast<std::uint8_t>((row[i >> 1] & ~(0x0F << shift)) | ((v & 0x0F) << shift));
      break;
    }
    case 8: row[i] = static_cast<std::uint8_t>(v); break;
    default: reinterpret_cast<std::uint16_t*>(row)[i] = static_cast<std::uint16_t>(v); break;
  }
}

bool SameShape(const CBitmapBuffer& target, const CBitmapBuffer& picture) {
  if (!Usable(&target) || !Usable(&picture)) return false;
  const int bpp = picture.GetBitsPerPixel();
  if (bpp != target.GetBitsPerPixel() || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16)) return false;
  return target.GetWidth() >= picture.GetWidth() && target.GetHeight() >= picture.GetHeight();
}

}  // namespace

bool CopyMirrored(CBitmapBuffer& target, const CBitmapBuffer& picture) {
  if (!SameShape(target, picture)) return false;
  const int bpp = picture.GetBitsPerPixel();
  const int width = picture.GetWidth();
  for (int row = 0; row < picture.GetHeight(); ++row) {
    const std::uint8_t* s = picture.Row(row);
    std::uint8_t* d = target.Row(row);
    if (s == d) return false;  // the same bitmap cannot be mirrored in place
    for (int i = 0; i < width; ++i) SetPixelAt(d, bpp, i, GetPixelAt(s, bpp, width - 1 - i));
  }
  return true;
}

bool CopyFlipped(CBitmapBuffer& target, const CBitmapBuffer& picture) {
  if (!SameShape(target, picture)) return false;
  const int height = picture.GetHeight();
  const std::size_t bytes = static_cast<std::size_t>(CBitmapBuffer::StrideOf(picture.GetBitsPerPixel(), picture.GetWidth()));
  for (int row = 0; row < height; ++row) std::memmove(target.Row(row), picture.Row(height - 1 - row), bytes);
  return true;
}

plat::COLORREF PictureColour(const CBitmapBuffer& picture, int x, int y) {
  const std::uint8_t* row = picture.Row(y);
  if (picture.GetBitsPerPixel() == 8) return static_cast<plat::COLORREF>(row[x]) * 0x010101u;
  const std::uint16_t p = reinterpret_cast<const std::uint16_t*>(row)[x];
  return static_cast<plat::COLORREF>(((p >> 8) & 248) | (((p >> 3) & 252) << 8) | (((p << 3) & 255) << 16));
}

plat::HRESULT StretchRowDown(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int height, int row) {
  const CBitmapBuffer* picture = image.picture.get();
  const CBitmapBuffer* mask = image.mask.get();
  if (!Usable(picture) || !Usable(mask) || !Usable(&target)) return plat::E_FAIL;
  const int bpp = picture->GetBitsPerPixel();
  if (target.GetBitsPerPixel() != 16 || mask->GetBitsPerPixel() != 8 || (bpp != 8 && bpp != 16)) return plat::E_FAIL;
  if (row < 0 || row >= picture->GetHeight() || row >= mask->GetHeight()) return plat::E_FAIL;
  if (mask->GetWidth() < picture->GetWidth()) return plat::E_FAIL;
  const std::uint8_t* m = mask->Row(row);
  for (int c = 0; c < picture->GetWidth(); ++c) {
    target.FillRectAlpha(x + c, y, 1, height, PictureColour(*picture, c, row), m[c]);
  }
  return plat::S_OK;
}

plat::HRESULT StretchColumnAcross(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int width) {
  const CBitmapBuffer* picture = image.picture.get();
  const CBitmapBuffer* mask = image.mask.get();
  if (!Usable(picture) || !Usable(mask) || !Usable(&target)) return plat::E_FAIL;
  const int bpp = picture->GetBitsPerPixel();
  if (target.GetBitsPerPixel() != 16 || mask->GetBitsPerPixel() != 8 || (bpp != 8 && bpp != 16)) return plat::E_FAIL;
  if (mask->GetHeight() < picture->GetHeight()) return plat::E_FAIL;
  for (int r = 0; r < picture->GetHeight(); ++r) {
    target.FillRectAlpha(x, y + r, width, 1, PictureColour(*picture, 0, r), mask->Row(r)[0]);
  }
  return plat::S_OK;
}
