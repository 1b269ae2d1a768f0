#include "layout/ScreenScale.h"

#include <atomic>

#include "core/DeviceInfo.h"
#include "core/FrameworkServices.h"
#include "platform/base/Device.h"
#include "platform/windows/SystemMetrics.h"

namespace {

struct DpiCache {
  std::atomic<unsigned> generation{0};  // device generation + 1 when valid
  std::atomic<int> dpiX{96};
  std::atomic<int> dpiY{96};
};

DpiCache g_dpi;

}  // namespace

void InitScreenDpi() {
  const unsigned wanted = plat::DeviceGeneration() + 1;
  if (g_dpi.generation.load() == wanted) return;
  const ScreenDpi dpi = ReadScreenDpi();
  g_dpi.dpiX = dpi.x;
  g_dpi.dpiY = dpi.y;
  g_dpi.generation = wanted;
}

int GetScreenDpiX() {
  InitScreenDpi();
  return g_dpi.dpiX;
}

int GetScreenDpiY() {
  InitScreenDpi();
  return g_dpi.dpiY;
}

void ResetScreenDpiForTesting() { g_dpi.generation = 0; }

int ScaleX(int value) { return MulDivRound(value, GetScreenDpiX(), 96); }
int ScaleY(int value) { return MulDivRound(value, GetScreenDpiY(), 96); }

int GetScreenWidthPixels() { return plat::ScreenWidth(); }
int GetScreenHeightPixels() { return plat::ScreenHeight(); }

bool IsDoubleResolutionScreen() { return (GetScreenDpiY() + 4) * 3 / 96 == 6; }
bool IsMiddleResolutionScreen() { return (GetScreenDpiY() + 4) * 3 / 96 == 4; }
