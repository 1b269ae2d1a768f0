#include "platform/display/ScreenComposer.h"

#include "platform/windows/Windows.h"

namespace plat::display {

bool ScreenComposer::Compose(
    const std::function<void(const std::uint16_t* pixels, int width, int height, int stride)>& use) {
  std::lock_guard<std::mutex> g(lock_);
  if (!ComposeScreen()) return false;
  DIBSECTION ds{};
  if (GetObjectW(ScreenBitmap(), sizeof ds, &ds) < static_cast<int>(sizeof ds) || !ds.dsBm.bmBits) return false;
  use(static_cast<const std::uint16_t*>(ds.dsBm.bmBits), ds.dsBm.bmWidth, ds.dsBm.bmHeight, ds.dsBm.bmWidthBytes);
  return true;
}

bool ScreenComposer::SavePng(const std::string& hostPath) {
  std::lock_guard<std::mutex> g(lock_);
  return ComposeScreen() && SaveScreenPng(hostPath);
}

}  // namespace plat::display
