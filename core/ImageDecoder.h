// Image files to bitmaps, through the platform's decoders.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi/Gdi.h"

// Decoded images above this many pixels are refused: downloads are untrusted.
constexpr std::uint64_t kMaxImagePixels = 16u * 1024u * 1024u;

// Decodes the device file into a bitmap that the caller deletes; null on any
// failure. With forceImgdecmp the result is always a 24-bit DIB section;
// otherwise a bitmap compatible with the screen may come back (the imaging
// factory serves Pocket PCs of generation 4 or later, except GIF files, and
// the decompressor serves the rest and whatever the factory refused).
plat::HBITMAP LoadImageFromFile(const std::u16string& path, bool forceImgdecmp);

// The decoder paths on their own (LoadImageFromFile chooses between them).
plat::HBITMAP LoadImageWithImgdecmp(const std::u16string& path);
plat::HBITMAP LoadImageWithImagingFactory(const std::u16string& path);
// Whether LoadImageFromFile tries the imaging factory first for the path.
bool PrefersImagingFactory(const std::u16string& path, bool forceImgdecmp);
