// Painting a colour through a 1- or 8-bit mask into a 16-bit bitmap.
#pragma once

#include "core/BitmapBuffer.h"
#include "platform/gdi/Gdi.h"

// Paints colour (0x00BBGGRR) into a 16-bit bitmap through a 1- or 8-bit mask:
// the destination rectangle (x, y, width, height) takes the mask from
// (maskX, maskY); both are clipped to each other's bounds, a negative
// destination offset moving the mask start. 1-bit masks paint where a bit is
// set (a plain store at alpha 255, a blend of weight alpha otherwise, nothing
// at alpha 0); 8-bit masks use the mask value as weight at alpha 255 (255 a
// plain store, 0 nothing) and mask * alpha / 256 below. False for other
// depths or a target that is not 16 bits.
bool BlendColorThroughMask(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                           int maskX, int maskY, const CBitmapBuffer& mask, int alpha);
