// Small helpers of the graphics tests: DIB sections of each depth, DCs that
// clean up after themselves, pixel reads.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace gditest {

using namespace plat;

// A DIB section: bpp 1/4/8 with a grey (or given) colour table, 16 as RGB565
// (or 555 when rgb555), 24, 32.
inline HBITMAP MakeDib(int w, int h, int bpp, bool topDown = true, void** bits = nullptr, bool rgb555 = false,
                       const std::vector<RGBQUAD>* table = nullptr) {
  DibInfo info(w, topDown ? -h : h, bpp);
  BITMAPINFO* bi = info.get();
  if (bpp <= 8) {
    int n = 1 << bpp;
    for (int i = 0; i < n; ++i) {
      RGBQUAD q;
      if (table && i < static_cast<int>(table->size())) {
        q = (*table)[static_cast<std::size_t>(i)];
      } else {
        BYTE v = static_cast<BYTE>(n == 2 ? i * 255 : i * 255 / (n - 1));
        q = RGBQUAD{v, v, v, 0};
      }
      bi->bmiColors[i] = q;
    }
  } else if (bpp == 16) {
    bi->bmiHeader.biCompression = BI_BITFIELDS;
    DWORD masks565[3] = {0xF800, 0x07E0, 0x001F};
    DWORD masks555[3] = {0x7C00, 0x03E0, 0x001F};
    std::memcpy(bi->bmiColors, rgb555 ? masks555 : masks565, sizeof(masks565));
  }
  void* p = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, bi, DIB_RGB_COLORS, &p, nullptr, 0);
  if (bits) *bits = p;
  return b;
}

// A memory DC holding a bitmap; restores and deletes everything at the end.
class MemDc {
 public:
  explicit MemDc(HBITMAP bitmap, bool own = true) : bitmap_(bitmap), own_(own) {
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap);
  }
  ~MemDc() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    if (own_) DeleteObject(bitmap_);
  }
  MemDc(const MemDc&) = delete;
  MemDc& operator=(const MemDc&) = delete;
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }

 private:
  HBITMAP bitmap_;
  bool own_;
  HDC dc_;
  HGDIOBJ old_;
};

inline void Fill(HDC dc, int l, int t, int r, int b, COLORREF c) {
  HBRUSH br = CreateSolidBrush(c);
  RECT rc{l, t, r, b};
  FillRect(dc, &rc, br);
  DeleteObject(br);
}

}  // namespace gditest
