#include "platform/base/LocalMemory.h"

#include <sys/sysinfo.h>

#include <cstdlib>
#include <cstring>

namespace plat {
namespace {
// Each block starts with its size; the caller sees what follows.
constexpr std::size_t kHeader = alignof(std::max_align_t);
}  // namespace

HLOCAL LocalAlloc(UINT flags, std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(-1) - kHeader) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* raw = static_cast<unsigned char*>((flags & LMEM_ZEROINIT) ? std::calloc(1, kHeader + bytes)
                                                                  : std::malloc(kHeader + bytes));
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::memcpy(raw, &bytes, sizeof bytes);
  return raw + kHeader;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block) std::free(static_cast<unsigned char*>(block) - kHeader);
  return nullptr;
}

std::size_t LocalSize(HLOCAL block) {
  if (!block) return 0;
  std::size_t bytes;
  std::memcpy(&bytes, static_cast<unsigned char*>(block) - kHeader, sizeof bytes);
  return bytes;
}

void* LocalLock(HLOCAL block) { return block; }
BOOL LocalUnlock(HLOCAL block) { return block != nullptr; }

void GlobalMemoryStatus(MEMORYSTATUS* status) {
  if (!status) return;
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwTotalPhys = 0;
  status->dwAvailPhys = 0;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    status->dwTotalPhys = static_cast<std::size_t>(info.totalram) * info.mem_unit;
    status->dwAvailPhys = static_cast<std::size_t>(info.freeram + info.bufferram) * info.mem_unit;
  }
}

}  // namespace plat
