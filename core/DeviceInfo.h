// Small probes of the platform, each worked out once: the operating-system
// version and its generation, whether the device is a Pocket PC, the device
// model, the screen's DPI, and the screen copy that works around a column
// fault of one device family.
//
// The answers are kept for the life of the device: they are computed again
// only when the process is given another device (tests make one per case).
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"

// Model code of the devices whose screen copies across column 480 are split.
constexpr std::uint32_t kDeviceModelSplitBlit = 0x1005E;

// major * 100 + minor; a minor version of 100 or more is divided by 10 until
// it is below 100 (5.1 gives 501, 4.21 gives 421).
int GetOsVersionNumber();
// 0 below 300, 1 for 3.x, 2 for 4.00..4.20, 3 for 4.21..4.99, 4 for 5.00 and
// 5.01, 5 from 5.02 on.
int GetPlatformGeneration();
// The rules above on given numbers (the cached probes use them).
int OsVersionNumberOf(std::uint32_t major, std::uint32_t minor);
int PlatformGenerationOf(int versionNumber);

// True when the platform type is exactly "PocketPC". A failed platform call
// gives false and is asked again next time.
bool IsPocketPC();
// The code of the first known model whose OEM text prefix (ignoring case)
// begins the device's OEM text; 0 when none matches.
std::uint32_t DeviceModel();

// The screen's dots per inch across (x) and down (y), asked of the screen at
// each call; 96 for a value the screen cannot give. The one reader of the
// screen's DPI: the caches (layout/ScreenScale.h, today/TodayCommon.h) fill
// from it.
struct ScreenDpi {
  int x = 96;
  int y = 96;
};
ScreenDpi ReadScreenDpi();
// ReadScreenDpi().x
int GetScreenDpi();

// BitBlt, except that on the split-blit model a copy that crosses column 480
// is made as two copies, columns x..479 then 480..x+w-1 (true then).
bool DeviceBitBlt(plat::HDC dst, int x, int y, int w, int h, plat::HDC src, int srcX, int srcY, plat::DWORD rop);
