// System information as the device reports it.
#include "platform/base/SysInfo.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace plat {

namespace {

// Never destroyed: code that runs at process exit may still ask.
std::mutex& Mutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
SystemInfoSettings& Settings() {
  static SystemInfoSettings* s = new SystemInfoSettings;
  return *s;
}

BOOL CopyText(const std::u16string& text, UINT bytes, void* pv) {
  if (!pv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::size_t need = (text.size() + 1) * sizeof(char16_t);
  if (bytes < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = static_cast<char16_t*>(pv);
  std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
  out[text.size()] = 0;
  return TRUE;
}

}  // namespace

void SetSystemInfoForTesting(const SystemInfoSettings& settings) {
  std::lock_guard<std::mutex> lock(Mutex());
  Settings() = settings;
}

void ResetSystemInfoForTesting() {
  std::lock_guard<std::mutex> lock(Mutex());
  Settings() = SystemInfoSettings();
}

SystemInfoSettings CurrentSystemInfo() {
  std::lock_guard<std::mutex> lock(Mutex());
  return Settings();
}

namespace {
std::atomic<SystemParametersHandler> g_handler{nullptr};
}  // namespace

void SetSystemParametersHandler(SystemParametersHandler handler) { g_handler = handler; }

BOOL SystemParametersInfoW(UINT action, UINT param, void* pv, UINT winIni) {
  SystemInfoSettings s = CurrentSystemInfo();
  switch (action) {
    case SPI_GETPLATFORMTYPE: return CopyText(s.platformType, param, pv);
    case SPI_GETOEMINFO: return CopyText(s.oemInfo, param, pv);
    default:
      if (SystemParametersHandler handler = g_handler.load()) {
        BOOL result = FALSE;
        if (handler(action, param, pv, winIni, &result)) return result;
      }
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SystemInfoSettings s = CurrentSystemInfo();
  info->dwMajorVersion = s.majorVersion;
  info->dwMinorVersion = s.minorVersion;
  info->dwBuildNumber = s.buildNumber;
  info->dwPlatformId = s.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::size_t n = s.csdVersion.size() < 127 ? s.csdVersion.size() : 127;
  std::memcpy(info->szCSDVersion, s.csdVersion.data(), n * sizeof(char16_t));
  return TRUE;
}

namespace {
std::atomic<DWORD> g_idleTimerResets{0};
}  // namespace

void SystemIdleTimerReset() { g_idleTimerResets.fetch_add(1); }
DWORD GetSystemIdleTimerResetCount() { return g_idleTimerResets.load(); }

}  // namespace plat
