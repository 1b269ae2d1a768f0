// The emulated handheld screen the program's windows are tested on: a Pocket PC
// of the given size and resolution, and back to the device's own afterwards.
#pragma once

#include "layout/DialogFontCache.h"
#include "layout/ScreenScale.h"
#include "platform/base/SysInfo.h"
#include "platform/gdi/Gdi.h"

namespace apptest {

inline void UsePocketPcScreen(int width, int height, int dpi) {
  plat::SystemInfoSettings settings;
  settings.platformType = u"PocketPC";
  plat::SetSystemInfoForTesting(settings);
  plat::SetScreenForTesting(width, height, dpi);
  ResetUiToolkitForTesting();
}

inline void ResetPocketPcScreen() {
  plat::ResetScreenForTesting();
  plat::ResetSystemInfoForTesting();
  ResetUiToolkitForTesting();
}

}  // namespace apptest
