#include "core/FontHeight.h"

using namespace plat;

std::int32_t GetFontHeight(HFONT font) {
  HDC screen = GetDC(nullptr);
  if (!screen) return 0;
  HGDIOBJ previous = SelectObject(screen, font);
  TEXTMETRICW metrics{};
  std::int32_t height = 0;
  if (previous && GetTextMetricsW(screen, &metrics)) height = metrics.tmHeight;
  if (previous) SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  return height;
}
