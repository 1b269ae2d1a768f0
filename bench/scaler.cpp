// Box-filter scaling of a 1024x768 24-bit picture to thumbnail sizes: images
// per second for each size. With "--sample PATH" it also writes a PNG of a
// drawn sample (text flowed over lines, an RGB565 blend, a scaled picture).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/STScreenBuffer.h"
#include "core/Scaler.h"
#include "core/TextFlow.h"
#include "platform/base/Device.h"
#include "platform/gdi/Gdi.h"

using namespace plat;

namespace {

// A picture with structure: gradients and a grid.
void Paint(CSTScreenBuffer& src) {
  for (int y = 0; y < src.GetHeight(); ++y) {
    std::uint8_t* row = src.Row(y);
    for (int x = 0; x < src.GetWidth(); ++x) {
      bool grid = (x % 64) < 4 || (y % 64) < 4;
      row[3 * x] = static_cast<std::uint8_t>(grid ? 255 : x * 255 / src.GetWidth());
      row[3 * x + 1] = static_cast<std::uint8_t>(grid ? 255 : y * 255 / src.GetHeight());
      row[3 * x + 2] = static_cast<std::uint8_t>(grid ? 255 : 255 - x * 255 / src.GetWidth());
    }
  }
}

// A thumbnail of edge `edge` keeping the aspect.
bool Thumbnail(const CSTScreenBuffer& src, int edge, CSTScreenBuffer& dst) {
  int w = edge, h = edge * src.GetHeight() / src.GetWidth();
  if (!dst.CreateBlank(w, h)) return false;
  CScaler scaler;
  if (!scaler.Init(src.GetWidth(), src.GetHeight(), w, h, &dst)) return false;
  for (int y = 0; y < src.GetHeight(); ++y) scaler.AddSourceRow(src.Row(y));
  return true;
}

bool WriteSample(const CSTScreenBuffer& picture, const std::string& path) {
  CBitmapBuffer canvas;
  if (!canvas.Create(240, 200, CBitmapBuffer::kRgb565)) return false;
  canvas.FillRectAlpha(0, 0, 240, 200, RGB(250, 250, 240), 255);
  HDC dc = canvas.GetDC();
  // A scaled picture, converted into the canvas.
  CSTScreenBuffer thumb;
  if (!Thumbnail(picture, 96, thumb)) return false;
  CBitmapBuffer thumbView(thumb.GetBitmap(), thumb.GetDC());
  RECT at{8, 8, 8 + thumb.GetWidth(), 8 + thumb.GetHeight()};
  canvas.DrawBitmap(at, thumbView, 0, 0, false);
  // Blends: red bars over the thumbnail at rising alpha.
  for (int i = 0; i < 4; ++i) canvas.FillRectAlpha(120 + 28 * i, 8, 24, 72, RGB(220, 0, 0), static_cast<std::uint8_t>(64 * i + 63));
  canvas.FillRectAlpha(60, 40, 120, 20, RGB(0, 0, 160), 128);
  // Text flowed over line rectangles.
  LOGFONTW lf{};
  lf.lfHeight = -14;
  lf.lfQuality = ANTIALIASED_QUALITY;
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(20, 20, 60));
  DrawTextLines(dc, u"No channels yet. Tap Menu, then Add channel, to subscribe to your first news feed.",
                RECT{8, 96, 232, 196}, 18);
  SelectObject(dc, old);
  DeleteObject(font);
  return SaveBitmapPng(canvas.GetBitmap(), path);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sample;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--sample") == 0) sample = argv[i + 1];
  CSTScreenBuffer src;
  if (!src.Create(1024, 768)) {
    std::fprintf(stderr, "cannot make the source picture\n");
    return 1;
  }
  Paint(src);
  for (int edge : {48, 64, 96}) {
    using Clock = std::chrono::steady_clock;
    int images = 0;
    auto start = Clock::now();
    double seconds = 0;
    do {
      CSTScreenBuffer dst;
      if (!Thumbnail(src, edge, dst)) {
        std::fprintf(stderr, "scaling failed\n");
        return 1;
      }
      ++images;
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < 1.0);
    std::printf("scale 1024x768 24-bit to %dx%d: %.1f images/s\n", edge, edge * 768 / 1024, images / seconds);
  }
  if (!sample.empty()) {
    if (!WriteSample(src, sample)) {
      std::fprintf(stderr, "could not write %s\n", sample.c_str());
      return 1;
    }
    std::printf("sample written to %s\n", sample.c_str());
  }
  return 0;
}
