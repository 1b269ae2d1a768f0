#include "layout/MaskBlend.h"

#include <algorithm>
#include <cstdint>

bool BlendColorThroughMask(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                           int maskX, int maskY, const CBitmapBuffer& mask, int alpha) {
  if (target.GetBitsPerPixel() != 16 || !target.GetBits() || !mask.GetBits()) return false;
  const int depth = mask.GetBitsPerPixel();
  if (depth != 1 && depth != 8) return false;
  if (alpha <= 0) return true;
  if (alpha > 255) alpha = 255;
  // Negative destination offsets move the mask start.
  if (x < 0) {
    maskX -= x;
    width += x;
    x = 0;
  }
  if (y < 0) {
    maskY -= y;
    height += y;
    y = 0;
  }
  if (maskX < 0) {
    x -= maskX;
    width += maskX;
    maskX = 0;
  }
  if (maskY < 0) {
    y -= maskY;
    height += maskY;
    maskY = 0;
  }
  width = std::min({width, target.GetWidth() - x, mask.GetWidth() - maskX});
  height = std::min({height, target.GetHeight() - y, mask.GetHeight() - maskY});
  if (width <= 0 || height <= 0) return true;
  const std::uint16_t pixel = ColorToRgb565(colour);
  for (int row = 0; row < height; ++row) {
    auto* d = reinterpret_cast<std::uint16_t*>(target.Row(y + row)) + x;
    const std::uint8_t* m = mask.Row(maskY + row);
    for (int col = 0; col < width; ++col) {
      const int mx = maskX + col;
      int weight;
      if (depth == 1) {
        if (!((m[mx >> 3] >> (7 - (mx & 7))) & 1)) continue;
        weight = alpha;
      } else {
        const int v = m[mx];
        if (v == 0) continue;
        weight = alpha == 255 ? v : v * alpha / 256;
        if (weight == 0) continue;
      }
      if (weight == 255) {
        d[col] = pixel;
      } else {
        BlendPixel565(d[col], pixel, weight);
      }
    }
  }
  return true;
}
