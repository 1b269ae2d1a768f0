// System information: platform type, OEM text, operating-system version.
// The device poses as a Pocket PC on Windows CE 5.2 unless a test poses
// another with SetSystemInfoForTesting.
#pragma once

#include <string>

#include "platform/base/Types.h"

namespace plat {

constexpr UINT SPI_GETPLATFORMTYPE = 257;
constexpr UINT SPI_GETOEMINFO = 258;

constexpr DWORD VER_PLATFORM_WIN32_CE = 3;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};

struct SystemInfoSettings {
  std::u16string platformType = u"PocketPC";
  std::u16string oemInfo = u"Orv Linux Handheld";
  DWORD majorVersion = 5;
  DWORD minorVersion = 2;
  DWORD buildNumber = 1236;
  DWORD platformId = VER_PLATFORM_WIN32_CE;
  std::u16string csdVersion = u"";
};

void SetSystemInfoForTesting(const SystemInfoSettings& settings);
void ResetSystemInfoForTesting();
SystemInfoSettings CurrentSystemInfo();

// SPI_GETPLATFORMTYPE and SPI_GETOEMINFO copy their text with its null into pv,
// whose size in bytes is param; FALSE with ERROR_INSUFFICIENT_BUFFER when it
// does not fit, ERROR_INVALID_PARAMETER for a null buffer or another action.
BOOL SystemParametersInfoW(UINT action, UINT param, void* pv, UINT winIni);
// Actions answered by a higher layer (the shell's input panel): the handler
// returns false for an action that is not its own, else sets *result.
using SystemParametersHandler = bool (*)(UINT action, UINT param, void* pv, UINT winIni, BOOL* result);
void SetSystemParametersHandler(SystemParametersHandler handler);

// Fills the version; FALSE with ERROR_INVALID_PARAMETER when
// dwOSVersionInfoSize is not sizeof(OSVERSIONINFOW).
BOOL GetVersionExW(OSVERSIONINFOW* info);

// Restarts the device's idle timer so it does not suspend while work goes on.
// The host never suspends the device; the calls are only counted.
void SystemIdleTimerReset();
DWORD GetSystemIdleTimerResetCount();

}  // namespace plat
