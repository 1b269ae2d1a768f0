// orvpack: packs a folder of layout documents and pictures into a layout
// package, refusing documents that the layout reader rejects or that name a
// missing picture.
//
//   orvpack <source folder> <package file>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <unistd.h>

#include "platform/base/Device.h"
#include "tools/LayoutPacker.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: orvpack <source folder> <package file>\n";
    return 2;
  }
  // The reader runs on a device of its own, never the user's.
  char pattern[] = "/tmp/orvpack.XXXXXX";
  const char* scratch = mkdtemp(pattern);
  if (!scratch) {
    std::cerr << "orvpack: cannot make a temporary folder\n";
    return 1;
  }
  plat::SetDeviceRoot(std::string(scratch) + "/device");
  std::string messages;
  const bool ok = PackLayoutFolder(argv[1], argv[2], messages);
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  if (!ok) {
    std::cerr << messages;
    if (!messages.empty() && messages.back() != '\n') std::cerr << "\n";
    return 1;
  }
  return 0;
}
