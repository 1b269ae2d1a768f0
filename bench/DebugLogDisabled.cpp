// Cost of log calls while "DeveloperMode" is off, and of private-heap
// allocations, on a temporary device.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/PrivateHeap.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"

int main() {
  std::string base = std::filesystem::temp_directory_path().string() + "/orvbench.XXXXXX";
  if (!mkdtemp(base.data())) return 1;
  plat::SetDeviceRoot(base + "/device");
  OpenSettingsKey().SetDWORD(u"DeveloperMode", 0);

  CDebugLog& log = CDebugLog::GetInstance();
  const int calls = 2000000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    log.WriteLine(u">> CJobManager::AddJob");
    log.Printf(u"** CJob constructed : %08x", i);
  }
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  std::printf("disabled log call: %.1f ns\n", ns / (2.0 * calls));

  CPrivateHeap heap;
  std::vector<void*> blocks(1000);
  const int rounds = 1000;
  start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (auto& b : blocks) b = heap.TryAlloc(48);
    for (auto* b : blocks) heap.Free(b);
  }
  ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  std::printf("private heap alloc+free of 48 bytes: %.1f ns\n", ns / (1.0 * rounds * blocks.size()));

  start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (auto& b : blocks) b = heap.TryAlloc(48);
    heap.Reset();
  }
  ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  std::printf("private heap alloc of 48 bytes, released by reset: %.1f ns\n", ns / (1.0 * rounds * blocks.size()));

  std::error_code ec;
  std::filesystem::remove_all(base, ec);
  return 0;
}
