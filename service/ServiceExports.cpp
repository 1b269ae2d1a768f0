// The library's entry points for the service host, with the prefix "NEW_".
#include <cstdlib>
#include <mutex>
#include <new>

#include "service/AutoUpdateService.h"

namespace {

std::mutex g_lock;
CAutoUpdateService* g_service = nullptr;

// The service's timings, each of its own, from the environment: a
// whole-program test shortens them (milliseconds, above 0 and below the
// normal value; anything else keeps the normal one). A device runs with the
// normal ones:
//   ORVNEWS_SERVICE_IDLE_MS            idle wait before the checks         30000
//   ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS  pause after the user was active      5000
//   ORVNEWS_SERVICE_LAUNCH_PAUSE_MS    pause between looks for the started
//                                      main program and its interface       500
//   ORVNEWS_SERVICE_ANSWER_MS          bound on each answer of the main
//                                      program (is its interface open)     5000
// The last is the service's own bound: a main program that does not answer
// within it counts as "interface not open yet", and the next look follows.
ServiceSettings SettingsFromEnvironment() {
  ServiceSettings settings;
  struct Setting {
    const char* name;
    plat::DWORD* value;
  } const settingsFromEnvironment[] = {
      {"ORVNEWS_SERVICE_IDLE_MS", &settings.idleMs},
      {"ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS", &settings.activityPauseMs},
      {"ORVNEWS_SERVICE_LAUNCH_PAUSE_MS", &settings.launch.pauseMs},
      {"ORVNEWS_SERVICE_ANSWER_MS", &settings.launch.answerBoundMs},
  };
  for (const Setting& s : settingsFromEnvironment) {
    const char* text = std::getenv(s.name);
    if (!text) continue;
    const long ms = std::strtol(text, nullptr, 10);
    if (ms > 0 && ms < static_cast<long>(*s.value)) *s.value = static_cast<plat::DWORD>(ms);
  }
  return settings;
}

}  // namespace

extern "C" {

plat::DWORD NEW_Init(plat::DWORD /*context*/) {
  std::lock_guard<std::mutex> g(g_lock);
  if (g_service) return 1;
  auto* service = new (std::nothrow) CAutoUpdateService(SettingsFromEnvironment());
  if (!service) return 0;
  if (!service->Start()) {
    delete service;
    return 0;
  }
  g_service = service;
  return 1;
}

plat::BOOL NEW_Deinit(plat::DWORD /*device*/) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_service) return 0;
  // A thread that did not end within the bound keeps its service object.
  if (g_service->Stop()) delete g_service;
  g_service = nullptr;
  return 0;
}

plat::DWORD NEW_Open(plat::DWORD, plat::DWORD, plat::DWORD) { return 0; }
plat::BOOL NEW_Close(plat::DWORD) { return 0; }
plat::DWORD NEW_Read(plat::DWORD, void*, plat::DWORD) { return 0; }
plat::DWORD NEW_Write(plat::DWORD, const void*, plat::DWORD) { return 0; }
plat::DWORD NEW_Seek(plat::DWORD, long, plat::DWORD) { return 0; }
plat::BOOL NEW_IOControl(plat::DWORD, plat::DWORD, plat::BYTE*, plat::DWORD, plat::BYTE*, plat::DWORD, plat::DWORD*) {
  return 1;
}

}  // extern "C"
