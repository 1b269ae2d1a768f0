#include "core/DIBSectionLite.h"

#include <cstring>
#include <cstdlib>

#include "core/DeviceInfo.h"

using namespace plat;

namespace {

int EntriesInUse(int bitCount) {
  switch (bitCount) {
    case 1: return 2;
    case 2: return 4;
    case 4: return 16;
    case 8: return 256;
    case 16:
    case 32: return 3;
    default: return 0;
  }
}

struct Palette {
  RGBQUAD colors[256];
  Palette() {
    std::memset(colors, 0, sizeof colors);
    // The static colours: ten at the start, ten at the end, the 6x6x6 cube
    // between them.
    static const BYTE first[10][3] = {{0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00},
                                      {0x80, 0x80, 0x00}, {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80},
                                      {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0}, {0xC0, 0xDC, 0xC0},
                                      {0xA6, 0xCA, 0xF0}};
    static const BYTE last[10][3] = {{0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4}, {0x80, 0x80, 0x80},
                                     {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
                                     {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF},
                                     {0xFF, 0xFF, 0xFF}};
    static const BYTE levels[6] = {0x00, 0x2C, 0x56, 0x87, 0xC0, 0xFF};
    for (int i = 0; i < 10; ++i) {
      colors[i] = RGBQUAD{first[i][2], first[i][1], first[i][0], 0};
      colors[246 + i] = RGBQUAD{last[i][2], last[i][1], last[i][0], 0};
    }
    int k = 10;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) colors[k++] = RGBQUAD{levels[b], levels[g], levels[r], 0};
  }
};

HDC MakeMemoryDc() {
  HDC screen = plat::GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (screen) ReleaseDC(nullptr, screen);
  return dc;
}

}  // namespace

const RGBQUAD* CDIBSectionLite::DefaultPalette() {
  static const Palette palette;
  return palette.colors;
}

CDIBSectionLite::CDIBSectionLite() { std::memset(&info_, 0, sizeof info_); }

CDIBSectionLite::~CDIBSectionLite() { CleanUp(); }

void CDIBSectionLite::CleanUp() {
  if (dc_) {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    dc_ = nullptr;
    previous_ = nullptr;
  }
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  bits_ = nullptr;
  std::memset(&info_, 0, sizeof info_);
  colorEntries_ = 0;
  colorUsage_ = DIB_RGB_COLORS;
}

HDC CDIBSectionLite::GetDC() {
  if (dc_ || !bitmap_) return dc_;
  HDC dc = MakeMemoryDc();
  if (!dc) return nullptr;
  previous_ = SelectObject(dc, bitmap_);
  if (!previous_) {
    DeleteDC(dc);
    return nullptr;
  }
  dc_ = dc;
  return dc_;
}

bool CDIBSectionLite::SetBitmap(HBITMAP source) {
  CleanUp();
  BITMAP bm{};
  if (!source || !GetObjectW(source, sizeof bm, &bm)) return false;
  int width = bm.bmWidth;
  int height = std::abs(bm.bmHeight);
  int bitCount = bm.bmBitsPixel;
  if (width < 1 || height < 1) return false;

  BITMAPINFOHEADER& h = info_.header;
  h = DibHeader(width, height, bitCount, (bitCount == 16 || bitCount == 32) ? BI_BITFIELDS : BI_RGB);
  colorEntries_ = EntriesInUse(bitCount);
  colorUsage_ = DIB_RGB_COLORS;

  if (bitCount == 16 || bitCount == 32) {
    // 16 bits are written as RGB555; 32 bits as 8 bits a channel.
    const DWORD masks16[3] = {0x7C00, 0x03E0, 0x001F};
    const DWORD masks32[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
    std::memcpy(info_.colors, bitCount == 16 ? masks16 : masks32, sizeof masks16);
  } else if (colorEntries_ > 0) {
    int read = 0;
    HDC dc = MakeMemoryDc();
    if (dc) {
      HGDIOBJ previous = SelectObject(dc, source);
      if (previous) {
        DIBSECTION ds{};
        if (GetObjectW(source, sizeof ds, &ds) == static_cast<int>(sizeof ds) && ds.dsBm.bmBits &&
            bitCount <= 8) {
          int available = ds.dsBmih.biClrUsed ? static_cast<int>(ds.dsBmih.biClrUsed) : (1 << (bm.bmPlanes * bitCount));
          if (available > colorEntries_) available = colorEntries_;
          read = static_cast<int>(GetDIBColorTable(dc, 0, static_cast<UINT>(available), info_.colors));
        }
        SelectObject(dc, previous);
      }
      DeleteDC(dc);
    }
    for (int k = 0; k < read; ++k) info_.colors[k].rgbReserved = 0;
    if (read == 0) {
      if (bitCount == 1) {
        // A monochrome device bitmap: 0 black, 1 white.
        info_.colors[0] = RGBQUAD{0, 0, 0, 0};
        info_.colors[1] = RGBQUAD{255, 255, 255, 0};
      } else {
        std::memcpy(info_.colors, DefaultPalette(), sizeof(RGBQUAD) * static_cast<std::size_t>(colorEntries_));
      }
    }
  }

  HDC screen = plat::GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&info_), DIB_RGB_COLORS, &bits,
                                     nullptr, 0);
  if (screen) ReleaseDC(nullptr, screen);
  if (!section) {
    CleanUp();
    return false;
  }
  bitmap_ = section;
  bits_ = bits;

  HDC from = MakeMemoryDc();
  HDC to = MakeMemoryDc();
  bool ok = from && to;
  HGDIOBJ oldFrom = nullptr, oldTo = nullptr;
  if (ok) {
    oldFrom = SelectObject(from, source);
    oldTo = SelectObject(to, section);
    ok = oldFrom && oldTo && DeviceBitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY);
  }
  if (from) {
    if (oldFrom) SelectObject(from, oldFrom);
    DeleteDC(from);
  }
  if (to) {
    if (oldTo) SelectObject(to, oldTo);
    DeleteDC(to);
  }
  if (!ok) {
    CleanUp();
    return false;
  }
  return true;
}
