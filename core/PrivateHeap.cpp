#include "core/PrivateHeap.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

#include "core/DebugLog.h"
#include "platform/base/LocalMemory.h"

// Every block carries a header that links it into its heap's list, so the
// whole heap can be released at once and foreign pointers are recognised.
struct CPrivateHeap::Block {
  Block* prev;
  Block* next;
  CPrivateHeap* owner;
  std::size_t size;
};

namespace {

constexpr std::size_t kAlign = alignof(std::max_align_t);
// Room for the block header, keeping the caller's part maximally aligned.
constexpr std::size_t kHeaderSize = (32 + kAlign - 1) / kAlign * kAlign;

plat::MEMORYSTATUS QueryMemoryStatus() {
  plat::MEMORYSTATUS status{};
  plat::GlobalMemoryStatus(&status);
  return status;
}

// A request the device can never satisfy is refused before the C heap sees it.
bool LargerThanDevice(std::size_t size) {
  static const unsigned long long total = QueryMemoryStatus().dwTotalPhys;  // does not change
  if (size > std::numeric_limits<std::size_t>::max() / 2 - kHeaderSize) return true;
  return total != 0 && size > total;
}

}  // namespace

CPrivateHeap::CPrivateHeap(std::size_t maximumSize) : maximumSize_(maximumSize) {
  static_assert(sizeof(Block) <= kHeaderSize, "block header does not fit");
}

CPrivateHeap::~CPrivateHeap() { Destroy(); }

CPrivateHeap::Block* CPrivateHeap::BlockOf(void* pointer) const {
  if (!pointer) return nullptr;
  Block* block = reinterpret_cast<Block*>(static_cast<unsigned char*>(pointer) - kHeaderSize);
  return block->owner == this ? block : nullptr;
}

void* CPrivateHeap::AllocLocked(std::size_t size, Failure* failure) {
  if (!valid_) {
    *failure = Failure::Destroyed;
    return nullptr;
  }
  if (LargerThanDevice(size) || (maximumSize_ != 0 && (size > maximumSize_ || used_ > maximumSize_ - size))) {
    *failure = Failure::Exhausted;
    return nullptr;
  }
  void* raw = std::malloc(kHeaderSize + size);
  if (!raw) {
    *failure = Failure::Exhausted;
    return nullptr;
  }
  Block* block = static_cast<Block*>(raw);
  block->prev = nullptr;
  block->next = head_;
  block->owner = this;
  block->size = size;
  if (head_) head_->prev = block;
  head_ = block;
  used_ += size;
  ++blocks_;
  return static_cast<unsigned char*>(raw) + kHeaderSize;
}

void* CPrivateHeap::ReAllocLocked(void* pointer, std::size_t size, Failure* failure) {
  if (!valid_) {
    *failure = Failure::Destroyed;
    return nullptr;
  }
  if (!pointer) return AllocLocked(size, failure);
  Block* block = BlockOf(pointer);
  if (!block) {
    *failure = Failure::Exhausted;
    return nullptr;
  }
  std::size_t others = used_ - block->size;
  if (LargerThanDevice(size) || (maximumSize_ != 0 && (size > maximumSize_ || others > maximumSize_ - size))) {
    *failure = Failure::Exhausted;
    return nullptr;
  }
  Block* prev = block->prev;
  Block* next = block->next;
  std::size_t oldSize = block->size;
  void* raw = std::realloc(block, kHeaderSize + size);
  if (!raw) {
    *failure = Failure::Exhausted;
    return nullptr;
  }
  block = static_cast<Block*>(raw);
  if (prev) prev->next = block; else head_ = block;
  if (next) next->prev = block;
  block->size = size;
  used_ = used_ - oldSize + size;
  return static_cast<unsigned char*>(raw) + kHeaderSize;
}

void CPrivateHeap::FreeAllLocked() noexcept {
  Block* block = head_;
  while (block) {
    Block* next = block->next;
    block->owner = nullptr;
    std::free(block);
    block = next;
  }
  head_ = nullptr;
  used_ = 0;
  blocks_ = 0;
}

void CPrivateHeap::ReportFailure(std::size_t size) noexcept {
  try {
    const plat::MEMORYSTATUS status = QueryMemoryStatus();
    CDebugLog::GetInstance().Printf(u"Not enough memory. Trying to allocate: %lld, Total: %lld, Available: %lld",
                                    static_cast<long long>(size), static_cast<long long>(status.dwTotalPhys),
                                    static_cast<long long>(status.dwAvailPhys));
  } catch (...) {
    // The log is best effort; the failure itself is reported to the caller.
  }
}

void* CPrivateHeap::Alloc(std::size_t size) {
  Failure failure = Failure::None;
  void* p;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    p = AllocLocked(size, &failure);
    if (!p) {
      failed_ = true;
      FreeAllLocked();
      valid_ = false;
    }
  }
  if (!p) {
    ReportFailure(size);
    throw kFatalErrorText;
  }
  return p;
}

void* CPrivateHeap::ReAlloc(void* pointer, std::size_t size) {
  Failure failure = Failure::None;
  void* p;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    p = ReAllocLocked(pointer, size, &failure);
    if (!p) {
      failed_ = true;
      FreeAllLocked();
      valid_ = false;
    }
  }
  if (!p) {
    ReportFailure(size);
    throw kFatalErrorText;
  }
  return p;
}

void* CPrivateHeap::TryAlloc(std::size_t size) noexcept {
  Failure failure = Failure::None;
  void* p;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    p = AllocLocked(size, &failure);
    if (!p) failed_ = true;
  }
  if (!p) ReportFailure(size);
  return p;
}

void* CPrivateHeap::TryReAlloc(void* pointer, std::size_t size) noexcept {
  Failure failure = Failure::None;
  void* p;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    p = ReAllocLocked(pointer, size, &failure);
    if (!p) failed_ = true;
  }
  if (!p) ReportFailure(size);
  return p;
}

void CPrivateHeap::Free(void* pointer) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_ || !pointer) return;
  Block* block = BlockOf(pointer);
  if (!block) return;
  if (block->prev) block->prev->next = block->next; else head_ = block->next;
  if (block->next) block->next->prev = block->prev;
  used_ -= block->size;
  --blocks_;
  block->owner = nullptr;
  std::free(block);
}

void CPrivateHeap::Destroy() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  FreeAllLocked();
  valid_ = false;
}

void CPrivateHeap::Reset() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  FreeAllLocked();
  valid_ = true;
  failed_ = false;
}

bool CPrivateHeap::IsValid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

bool CPrivateHeap::HasFailed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

std::size_t CPrivateHeap::GetUsedSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

std::size_t CPrivateHeap::GetBlockCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_;
}

CPrivateHeap& CPrivateHeap::GetProcessHeap() {
  // Deliberately never destroyed: engine allocations may outlive static destruction.
  static CPrivateHeap* heap = new CPrivateHeap();
  return *heap;
}

void* TidyAllocCallback(std::size_t size, CPrivateHeap* heap) noexcept {
  return heap ? heap->TryAlloc(size) : nullptr;
}

void* TidyReallocCallback(void* pointer, std::size_t size, CPrivateHeap* heap) noexcept {
  return heap ? heap->TryReAlloc(pointer, size) : nullptr;
}

void TidyFreeCallback(void* pointer, CPrivateHeap* heap) noexcept {
  if (heap) heap->Free(pointer);
}

namespace {

// The heap an engine allocation goes to, or null when it must fail.
CPrivateHeap* ScriptHeapOf(void* hostRecord) {
  if (!hostRecord) return &CPrivateHeap::GetProcessHeap();
  return static_cast<ScriptHostHeapRecord*>(hostRecord)->heap;
}

}  // namespace

void* ScriptAllocHook(void* hostRecord, std::size_t size) noexcept {
  CPrivateHeap* heap = ScriptHeapOf(hostRecord);
  return heap ? heap->TryAlloc(size) : nullptr;
}

void* ScriptReallocHook(void* hostRecord, void* pointer, std::size_t size) noexcept {
  CPrivateHeap* heap = ScriptHeapOf(hostRecord);
  return heap ? heap->TryReAlloc(pointer, size) : nullptr;
}

void ScriptFreeHook(void* hostRecord, void* pointer) noexcept {
  CPrivateHeap* heap = ScriptHeapOf(hostRecord);
  if (heap) heap->Free(pointer);
}

void InstallScriptHeapHooks(ScriptHeapHooks& slots) {
  slots.alloc = &ScriptAllocHook;
  slots.realloc = &ScriptReallocHook;
  slots.free = &ScriptFreeHook;
}
