// orv-screenctl: one command to the display program of a device, its reply on
// standard output (see platform/display/Control.h for the commands).
//
//   orv-screenctl [--device DIR] COMMAND [ARGS...]
//   orv-screenctl tap 120 200
//   orv-screenctl screenshot /tmp/screen.png
//
// Exit code 0 for an "ok" reply, 1 for an "error" reply, 2 when no display
// serves the device or the command line is wrong.
#include <cstdio>
#include <string>

#include "platform/base/Device.h"
#include "platform/display/Control.h"

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--device") {
    plat::SetDeviceRoot(argv[i + 1]);
    i += 2;
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: orv-screenctl [--device DIR] COMMAND [ARGS...]\n");
    return 2;
  }
  std::string command;
  for (; i < argc; ++i) {
    if (!command.empty()) command += ' ';
    command += argv[i];
  }
  plat::display::ControlClient client;
  if (!client.Connect()) {
    std::fprintf(stderr, "orv-screenctl: no display runs for the device %s\n", plat::DeviceRoot().c_str());
    return 2;
  }
  auto reply = client.Call(command);
  if (!reply) {
    std::fprintf(stderr, "orv-screenctl: the display did not answer\n");
    return 2;
  }
  for (const auto& line : *reply) std::printf("%s\n", line.c_str());
  return reply->front().rfind("ok", 0) == 0 ? 0 : 1;
}
