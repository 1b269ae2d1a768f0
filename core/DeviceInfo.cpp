#include "core/DeviceInfo.h"

#include <mutex>

#include "platform/base/Device.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"

namespace {

// One cached answer, valid for the device generation it was computed on.
struct CachedValue {
  bool known = false;
  unsigned generation = 0;
  std::int64_t value = 0;
};

std::mutex& CacheMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

// Returns the cached value, computing it with `compute` (which returns false
// when the answer must not be kept) when unknown or of another device.
template <typename Compute>
std::int64_t Cached(CachedValue& cache, Compute compute) {
  unsigned generation = plat::DeviceGeneration();
  {
    std::lock_guard<std::mutex> lock(CacheMutex());
    if (cache.known && cache.generation == generation) return cache.value;
  }
  std::int64_t value = 0;
  bool keep = compute(value);
  std::lock_guard<std::mutex> lock(CacheMutex());
  if (keep) {
    cache.known = true;
    cache.generation = generation;
    cache.value = value;
  }
  return value;
}

CachedValue g_versionNumber;
CachedValue g_generation;
CachedValue g_pocketPc;
CachedValue g_model;

struct ModelRow {
  std::uint32_t code;
  const char16_t* prefix;
};

// In table order; the first row has no text and never matches.
const ModelRow kModels[] = {
    {0x10000, nullptr},
    {kDeviceModelSplitBlit, u"HTC_X7500"},
    {kDeviceModelSplitBlit, u"ATHE"},
};

}  // namespace

int OsVersionNumberOf(std::uint32_t major, std::uint32_t minor) {
  while (minor >= 100) minor /= 10;
  return static_cast<int>(major * 100 + minor);
}

int PlatformGenerationOf(int n) {
  if (n < 300) return 0;
  if (n < 400) return 1;
  if (n <= 420) return 2;
  if (n < 500) return 3;
  if (n <= 501) return 4;
  return 5;
}

int GetOsVersionNumber() {
  return static_cast<int>(Cached(g_versionNumber, [](std::int64_t& out) {
    plat::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!plat::GetVersionExW(&info)) {
      out = 0;
      return true;
    }
    out = OsVersionNumberOf(info.dwMajorVersion, info.dwMinorVersion);
    return true;
  }));
}

int GetPlatformGeneration() {
  return static_cast<int>(Cached(g_generation, [](std::int64_t& out) {
    out = PlatformGenerationOf(GetOsVersionNumber());
    return true;
  }));
}

bool IsPocketPC() {
  return Cached(g_pocketPc, [](std::int64_t& out) {
           char16_t buffer[256] = {};  // 512 bytes
           if (!plat::SystemParametersInfoW(plat::SPI_GETPLATFORMTYPE, sizeof buffer, buffer, 0)) {
             out = 0;
             return false;
           }
           buffer[255] = 0;
           out = std::u16string(buffer) == u"PocketPC" ? 1 : 0;
           return true;
         }) != 0;
}

std::uint32_t DeviceModel() {
  return static_cast<std::uint32_t>(Cached(g_model, [](std::int64_t& out) {
    char16_t buffer[260] = {};
    out = 0;
    if (!plat::SystemParametersInfoW(plat::SPI_GETOEMINFO, sizeof buffer, buffer, 0)) return true;
    buffer[259] = 0;
    std::u16string oem(buffer);
    for (const ModelRow& row : kModels) {
      if (!row.prefix) continue;
      if (plat::StartsWithNoCase(oem, row.prefix)) {
        out = row.code;
        break;
      }
    }
    return true;
  }));
}

ScreenDpi ReadScreenDpi() {
  ScreenDpi dpi;
  plat::HDC screen = plat::GetDC(nullptr);
  if (!screen) return dpi;
  const int x = plat::GetDeviceCaps(screen, plat::LOGPIXELSX);
  const int y = plat::GetDeviceCaps(screen, plat::LOGPIXELSY);
  plat::ReleaseDC(nullptr, screen);
  if (x > 0) dpi.x = x;
  if (y > 0) dpi.y = y;
  return dpi;
}

int GetScreenDpi() { return ReadScreenDpi().x; }

bool DeviceBitBlt(plat::HDC dst, int x, int y, int w, int h, plat::HDC src, int srcX, int srcY, plat::DWORD rop) {
  if (DeviceModel() == kDeviceModelSplitBlit && x < 480 && x + w > 480) {
    int left = 480 - x;
    plat::BitBlt(dst, x, y, left, h, src, srcX, srcY, rop);
    plat::BitBlt(dst, 480, y, w - left, h, src, srcX + left, srcY, rop);
    return true;
  }
  return plat::BitBlt(dst, x, y, w, h, src, srcX, srcY, rop) != plat::FALSE;
}
