// orv-install: installs the built programs into a device (tools/device/DeviceInstall.h).
//
//   orv-install [--device DIR] [--program-dir DIR] [--no-channels]
//
// The device is DIR, else $ORVNEWS_DEVICE, else the default device; the
// program folder DIR, else the build's own. Prints what it did; the line
// "channels-before <n>" tells scripts whether the device had channels.
#include <cstdio>
#include <string>

#include "tools/device/DeviceInstall.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"

#ifndef ORV_PROGRAM_DIR
#define ORV_PROGRAM_DIR "."
#endif

int main(int argc, char** argv) {
  std::string programDir = ORV_PROGRAM_DIR;
  bool channels = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--device" && i + 1 < argc) plat::SetDeviceRoot(argv[++i]);
    else if (a == "--program-dir" && i + 1 < argc) programDir = argv[++i];
    else if (a == "--no-channels") channels = false;
    else {
      std::fprintf(stderr, "usage: orv-install [--device DIR] [--program-dir DIR] [--no-channels]\n");
      return 2;
    }
  }
  InstallReport report;
  if (!InstallIntoDevice(programDir, channels, &report)) {
    std::fprintf(stderr, "orv-install: %s\n", report.error.c_str());
    return 1;
  }
  std::printf("installed into %s: %zu files, manifest %s\n", plat::DeviceRoot().c_str(), report.manifest.files.size(),
              plat::Utf16ToUtf8(plat::InstallManifestPath(kInstallManifestName)).c_str());
  std::printf("channels-before %d\n", report.channelsBefore);
  if (channels) std::printf("channels-after %d\n", CountChannelFiles());
  return 0;
}
