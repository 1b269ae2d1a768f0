// The library's entry points for the service host, with the prefix "NEW_".
#include <mutex>
#include <new>

#include "hosts/HostRequests.h"
#include "service/AutoUpdateService.h"

namespace {

std::mutex g_lock;
CAutoUpdateService* g_service = nullptr;

}  // namespace

extern "C" {

plat::DWORD NEW_Init(plat::DWORD /*context*/) {
  std::lock_guard<std::mutex> g(g_lock);
  if (g_service) return 1;
  auto* service = new (std::nothrow) CAutoUpdateService(ServiceSettingsFromEnvironment());
  if (!service) return 0;
  if (!service->Start()) {
    delete service;
    return 0;
  }
  g_service = service;
  return 1;
}

// 0 once the service has stopped; kServiceThreadStillRuns when its thread
// did not end within the bound: it keeps its service object and runs on in
// this library, which the host must then keep loaded.
plat::BOOL NEW_Deinit(plat::DWORD /*device*/) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_service) return 0;
  const bool stopped = g_service->Stop();
  if (stopped) delete g_service;
  g_service = nullptr;
  return stopped ? 0 : plat::hosts::kServiceThreadStillRuns;
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
