// Masked images (a picture and a separate alpha mask) and the kernels that
// draw them into 16-bit RGB565 bitmaps: plain copies, blends through 1-, 4-
// and 8-bit masks with an opacity, gray pictures blended with dithering,
// mirrored and flipped copies, and bars stretched from one row or column.
#pragma once

#include <cstdint>
#include <memory>

#include "core/BitmapBuffer.h"
#include "platform/imaging/Com.h"

struct MaskedImage {
  std::shared_ptr<CBitmapBuffer> picture;
  std::shared_ptr<CBitmapBuffer> mask;

  int GetWidth() const;
  int GetHeight() const;
  // The whole image with its top-left corner at (x, y).
  bool Draw(CBitmapBuffer& target, int x, int y) const;
};

// A rectangle of the image: a plain copy without a mask, a blend through the
// mask otherwise (gray 8-bit pictures dithered), white through the mask when
// there is no picture.
bool AlphaMaskBlend16(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int width, int height, int sx,
                      int sy);

// Blends a 16-bit picture through a 1-, 4- or 8-bit mask (addressed like the
// picture) at opacity 0..255. False for other depths or a mask that does not
// cover the source rectangle.
bool BlendMasked(CBitmapBuffer& target, int x, int y, int width, int height, const CBitmapBuffer& picture, int sx,
                 int sy, const CBitmapBuffer& mask, int opacity);

// Copies a rectangle between bitmaps of the same depth, 8 or 16 bits.
bool CopyBitmapRect(CBitmapBuffer& target, int x, int y, int width, int height, const CBitmapBuffer& picture, int sx,
                    int sy);

// Blends an 8-bit gray picture through an 8-bit mask over the target's
// pixels (colour -1) or over a colour, carrying the rounding error from
// pixel to pixel in serpentine order.
bool BlendGrayMasked(CBitmapBuffer& target, int x, int y, int width, int height, const CBitmapBuffer& picture, int sx,
                     int sy, const CBitmapBuffer& mask, std::int32_t colour);

// Each row copied right to left / the rows in reverse order; the target must
// have the picture's depth and at least its size.
bool CopyMirrored(CBitmapBuffer& target, const CBitmapBuffer& picture);
bool CopyFlipped(CBitmapBuffer& target, const CBitmapBuffer& picture);

// The colour of a picture's pixel: an 8-bit grey g as g * 0x010101, a 16-bit
// RGB565 pixel widened. Other depths are not pictures of masked images.
plat::COLORREF PictureColour(const CBitmapBuffer& picture, int x, int y);

// Row `row` of the image drawn as a bar `height` pixels tall at (x, y), or
// its first column as a bar `width` pixels wide, through the mask. The
// picture is 8- or 16-bit, the mask 8-bit; E_FAIL for other depths, a row
// outside the picture or a mask smaller than it.
plat::HRESULT StretchRowDown(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int height, int row);
plat::HRESULT StretchColumnAcross(const MaskedImage& image, CBitmapBuffer& target, int x, int y, int width);

// The 4-bit blend of two RGB565 pixels at weight m of 16, on the spread form.
std::uint16_t Blend4(std::uint16_t d, std::uint16_t s, int m);
