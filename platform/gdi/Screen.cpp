// The screen: its bitmap, size and resolution, and its PNG snapshot. The
// first use reads the device's screen settings; tests pose others.
#include <mutex>

#include "platform/base/ScreenSettings.h"
#include "platform/gdi/GdiInternal.h"

namespace plat {

namespace gdi {

namespace {
struct ScreenState {
  int width = 480;
  int height = 640;
  Bitmap* bitmap = nullptr;
};
ScreenState& ScreenData() {
  static auto* s = new ScreenState();
  return *s;
}

Bitmap* MakeScreenBitmap(int w, int h) {
  Bitmap* b = NewRgb565Bitmap(w, h, true);
  if (b) b->isStock = true;
  return b;
}
}  // namespace

Bitmap* Screen() {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  ScreenState& s = ScreenData();
  if (!s.bitmap) {
    ScreenSettings device = ReadDeviceScreen();
    s.width = device.width;
    s.height = device.height;
    ScreenDpiRef() = device.dpi;
    s.bitmap = MakeScreenBitmap(s.width, s.height);
  }
  return s.bitmap;
}

void ReplaceScreen(int w, int h) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  ScreenState& s = ScreenData();
  Bitmap* fresh = MakeScreenBitmap(w, h);
  if (!fresh) return;
  if (s.bitmap) {
    UnregisterLive(static_cast<GdiObject*>(s.bitmap));
    delete s.bitmap;
  }
  s.bitmap = fresh;
  s.width = w;
  s.height = h;
}

}  // namespace gdi

using namespace gdi;

int ScreenWidth() { return Screen()->width; }
int ScreenHeight() { return Screen()->height; }

namespace gdi {
int& ScreenDpiRef() {
  static int dpi = 192;
  return dpi;
}
}  // namespace gdi

int ScreenDpi() {
  Screen();  // the device's settings are read with the screen
  return gdi::ScreenDpiRef();
}

void SetScreenForTesting(int width, int height, int dpi) {
  if (width <= 0 || height <= 0 || dpi <= 0) return;
  gdi::ScreenDpiRef() = dpi;
  gdi::ReplaceScreen(width, height);
}

void ResetScreenForTesting() { SetScreenForTesting(480, 640, 192); }

HBITMAP ScreenBitmap() { return Screen(); }

bool SaveScreenPng(const std::string& hostPath) { return SaveBitmapPng(Screen(), hostPath); }

}  // namespace plat
