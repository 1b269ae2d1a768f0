// Drawing speed on a screen-sized 16-bit surface: fills, plain and stretched
// copies, alpha blends and text. Prints operations and megapixels per second.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/gdi/Gdi.h"

namespace {

using namespace plat;

HBITMAP Dib(int w, int h, int bpp) {
  DibInfo bi(w, -h, bpp, bpp == 16 ? BI_BITFIELDS : BI_RGB);
  bi.SetMasks(0xF800, 0x07E0, 0x001F);
  return CreateDIBSection(nullptr, bi.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
}

void Measure(const char* name, double pixelsPerOp, const std::function<void()>& op) {
  int rounds = 0;
  auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  do {
    op();
    ++rounds;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 0.5);
  std::printf("%-28s %10.1f ops/s %10.2f Mpixel/s\n", name, rounds / seconds, pixelsPerOp * rounds / seconds / 1e6);
}

}  // namespace

int main() {
  const int W = 480, H = 640;
  HDC dst = CreateCompatibleDC(nullptr), src = CreateCompatibleDC(nullptr), argb = CreateCompatibleDC(nullptr);
  HBITMAP dstBmp = Dib(W, H, 16), srcBmp = Dib(W, H, 16), argbBmp = Dib(W, H, 32), src24 = Dib(W, H, 24);
  HGDIOBJ o1 = SelectObject(dst, dstBmp), o2 = SelectObject(src, srcBmp), o3 = SelectObject(argb, argbBmp);
  HBRUSH brush = CreateSolidBrush(RGB(10, 120, 200));
  RECT all{0, 0, W, H};
  Measure("FillRect 480x640", W * H, [&] { FillRect(dst, &all, brush); });
  Measure("BitBlt SRCCOPY 565->565", W * H, [&] { BitBlt(dst, 0, 0, W, H, src, 0, 0, SRCCOPY); });
  Measure("BitBlt SRCINVERT 565", W * H, [&] { BitBlt(dst, 0, 0, W, H, src, 0, 0, SRCINVERT); });
  HDC s24 = CreateCompatibleDC(nullptr);
  HGDIOBJ o4 = SelectObject(s24, src24);
  Measure("BitBlt SRCCOPY 24->565", W * H, [&] { BitBlt(dst, 0, 0, W, H, s24, 0, 0, SRCCOPY); });
  Measure("StretchBlt 2x up", W * H, [&] { StretchBlt(dst, 0, 0, W, H, src, 0, 0, W / 2, H / 2, SRCCOPY); });
  SetStretchBltMode(dst, HALFTONE);
  Measure("StretchBlt halftone 1/2", W * H / 4.0,
          [&] { StretchBlt(dst, 0, 0, W / 2, H / 2, src, 0, 0, W, H, SRCCOPY); });
  Measure("AlphaBlend per-pixel", W * H, [&] {
    AlphaBlend(dst, 0, 0, W, H, argb, 0, 0, W, H, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA});
  });
  LOGFONTW lf{};
  lf.lfHeight = -24;
  lf.lfQuality = CLEARTYPE_QUALITY;
  std::memcpy(lf.lfFaceName, u"Tahoma", 7 * sizeof(char16_t));
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ of = SelectObject(dst, font);
  SetBkMode(dst, TRANSPARENT);
  const char16_t* line = u"The quick brown fox jumps over the lazy dog";
  RECT r{0, 0, W, H};
  Measure("DrawTextW word-wrapped line", 0, [&] { DrawTextW(dst, line, -1, &r, DT_WORDBREAK | DT_NOPREFIX); });
  SelectObject(dst, of);
  SelectObject(s24, o4);
  SelectObject(dst, o1);
  SelectObject(src, o2);
  SelectObject(argb, o3);
  DeleteDC(dst);
  DeleteDC(src);
  DeleteDC(argb);
  DeleteDC(s24);
  for (HGDIOBJ o : {static_cast<HGDIOBJ>(dstBmp), static_cast<HGDIOBJ>(srcBmp), static_cast<HGDIOBJ>(argbBmp),
                    static_cast<HGDIOBJ>(src24), static_cast<HGDIOBJ>(brush), static_cast<HGDIOBJ>(font)})
    DeleteObject(o);
  return 0;
}
