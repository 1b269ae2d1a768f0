// Local memory blocks (what the clipboard takes and hands out) and the
// device's memory status.
#pragma once

#include <cstddef>

#include "platform/base/Types.h"

namespace plat {

using HLOCAL = void*;
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_MOVEABLE = 0x0002;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// Blocks never move: LocalLock gives the block itself. Null with
// ERROR_NOT_ENOUGH_MEMORY when nothing can be had.
HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
// Null on success, the block on failure (as the platform answers).
HLOCAL LocalFree(HLOCAL block);
// The size asked for (0 for null).
std::size_t LocalSize(HLOCAL block);
void* LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);

// The device's physical memory in bytes: its total, and what is free or held
// only as buffers. Sizes are std::size_t wide, so a large host is not cut to
// 32 bits. All zero when the system cannot tell.
struct MEMORYSTATUS {
  DWORD dwLength;
  std::size_t dwTotalPhys;
  std::size_t dwAvailPhys;
};
void GlobalMemoryStatus(MEMORYSTATUS* status);

}  // namespace plat
