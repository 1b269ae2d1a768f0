// orv-servicehost: the device's service host. Loads a service library through
// its "NEW_" entry points, keeps it while the device runs and lets it go when
// asked to stop (SIGTERM or SIGINT): NEW_Deinit, then the library is freed,
// unless NEW_Deinit answers that a thread of the library still runs.
// The configuration manager's request to unload the product before removing
// it (hosts/HostRequests.h, sent to the host's hidden window) lets
// the library go the same way while the host runs on without it; the answer
// says when the library stays loaded because a thread of it still runs.
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
#include <thread>

#include "platform/base/Device.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "hosts/HostRequests.h"
#include "hosts/ServiceHost.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"

namespace {

void Say(const std::string& line) { std::fprintf(stderr, "orv-servicehost: %s\n", line.c_str()); }

struct Loaded {
  std::string name;
  plat::HMODULE module = nullptr;
  plat::HMODULE kept = nullptr;  // stopped, still running a thread: never freed
  plat::hosts::ServiceEntryPoints entry;
  plat::DWORD context = 0;
  plat::UINT unloadMessage = 0;
} g;

// A library whose deinit says a thread of its own still runs in it is kept
// loaded for the rest of the host's life (freeing it would pull the code out
// from under that thread); it is not started or stopped again.
void Unload() {
  if (!g.module) return;
  const plat::BOOL answer = g.entry.deinit(g.context);
  g.context = 0;
  if (answer == plat::hosts::kServiceThreadStillRuns) {
    Say(g.name + " stopped, but a thread of it still runs: the library stays loaded");
    g.kept = g.module;
  } else {
    plat::FreeLibrary(g.module);
    Say(g.name + " stopped");
  }
  g.module = nullptr;
}

plat::LRESULT HostWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == g.unloadMessage && msg != 0) {
    // A library kept loaded after its stop is still mapped here: the removal
    // hears so, now and on every later request.
    const bool held = g.module != nullptr;
    if (held) Say("unloading " + g.name + " for the product's removal");
    Unload();
    if (g.kept) return plat::hosts::kUnloadKept;
    return held ? plat::hosts::kUnloadDone : plat::hosts::kUnloadHeldNone;
  }
  switch (msg) {
    case plat::WM_CLOSE:
      plat::DestroyWindow(hwnd);
      return 0;
    case plat::WM_DESTROY:
      plat::PostQuitMessage(0);
      return 0;
    default:
      return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

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
  g.name = library;
  g.module = plat::LoadLibraryW(name.c_str());
  if (!g.module) {
    Say("cannot load " + library);
    return 2;
  }
  std::string missing;
  if (!plat::hosts::BindServiceEntryPoints(g.module, "NEW", &g.entry, &missing)) {
    Say(library + " lacks " + missing);
    plat::FreeLibrary(g.module);
    return 2;
  }
  g.context = g.entry.init(0);
  if (!g.context) {
    Say(library + ": NEW_Init failed");
    plat::FreeLibrary(g.module);
    return 3;
  }
  Say(library + " started");

  // The hidden window that takes requests; the stop signal closes it.
  g.unloadMessage = plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage);
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = &HostWindowProc;
  wc.lpszClassName = plat::hosts::kServiceHostWindowClass;
  plat::RegisterClassW(&wc);
  plat::HWND window = plat::CreateWindowExW(0, plat::hosts::kServiceHostWindowClass, u"", 0, 0, 0, 0, 0, nullptr,
                                           nullptr, nullptr, nullptr);
  int signal = 0;
  std::thread stopper([&] {
    sigwait(&stopSignals, &signal);
    if (window) plat::PostMessageW(window, plat::WM_CLOSE, 0, 0);
  });
  if (window) {
    plat::MSG m;
    while (plat::GetMessageW(&m, nullptr, 0, 0) > 0) {
      plat::TranslateMessage(&m);
      plat::DispatchMessageW(&m);
    }
  }
  stopper.join();
  Say(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
  Unload();
  return 0;
}
