// The Today item's options program "OrvNewsTodayOptions".
#include "platform/base/Module.h"
#include "todayoptions/OptionsPages.h"

int main() {
  plat::SetProgramDevicePath(u"\\Program Files\\Orv News\\Orv News Today Options.exe");
  return OptionsMain(plat::GetModuleHandleW(nullptr));
}
