// orv-servicehost: the device's service host. Loads a service library through
// its "NEW_" entry points, keeps it while the device runs and lets it go when
// asked to stop (SIGTERM or SIGINT): NEW_Deinit, then the library is freed.
//
//   orv-servicehost [--device <folder>] [--library <name>] [--program-folder <folder>]
//
// The library defaults to "OrvNewsService.dll", found in the host's own
// folder. The device's recorded mounts (the install step's) apply as in every
// program; --program-folder mounts "\Program Files\Orv News" onto another
// folder for this process (tests with a program of their own). Exit code 0 after a clean stop, 2 when the
// library or its entry points are missing, 3 when NEW_Init fails.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/Device.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/hosts/ServiceHost.h"

namespace {

void Say(const std::string& line) { std::fprintf(stderr, "orv-servicehost: %s\n", line.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  // Every thread the library starts inherits this mask; the stop signals are
  // taken by sigwait below only.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::string library = "OrvNewsService.dll";
  std::string programFolder;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--device") plat::SetDeviceRoot(argv[i + 1]);
    else if (a == "--library") library = argv[i + 1];
    else if (a == "--program-folder") programFolder = argv[i + 1];
    else {
      Say("unknown option " + a);
      return 2;
    }
  }
  struct stat st{};
  if (!programFolder.empty()) {
    if (::stat(programFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      Say("no folder " + programFolder);
      return 2;
    }
    plat::MountFolder(u"\\Program Files\\Orv News", programFolder, false);
  }

  const std::u16string name = plat::Utf8ToUtf16(library);
  plat::HMODULE module = plat::LoadLibraryW(name.c_str());
  if (!module) {
    Say("cannot load " + library);
    return 2;
  }
  plat::hosts::ServiceEntryPoints entry;
  std::string missing;
  if (!plat::hosts::BindServiceEntryPoints(module, "NEW", &entry, &missing)) {
    Say(library + " lacks " + missing);
    plat::FreeLibrary(module);
    return 2;
  }
  const plat::DWORD context = entry.init(0);
  if (!context) {
    Say(library + ": NEW_Init failed");
    plat::FreeLibrary(module);
    return 3;
  }
  Say(library + " started");
  int signal = 0;
  sigwait(&stopSignals, &signal);
  Say(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
  entry.deinit(context);
  plat::FreeLibrary(module);
  Say(library + " stopped");
  return 0;
}
