// Private heaps: one arena per parsed document or script interpreter.
// Destroying the heap releases every block of the parse or the script run at
// once. Running out of a heap is fatal for the operation that owns it.
#pragma once

#include <cstddef>
#include <mutex>

// The text thrown (as const char16_t*) when a heap cannot be created or is
// exhausted; the owner of the document or interpreter catches it and fails
// its operation.
inline constexpr const char16_t* kFatalErrorText = u"Fatal error";

class CPrivateHeap {
 public:
  // Initial size of a new heap; it grows from there.
  static constexpr std::size_t kInitialSize = 0x80000;

  // maximumSize 0: the heap grows without limit (as far as the device's memory
  // goes); otherwise the bytes handed out at once never exceed it.
  // Throws kFatalErrorText when the heap cannot be created.
  explicit CPrivateHeap(std::size_t maximumSize = 0);
  ~CPrivateHeap();
  CPrivateHeap(const CPrivateHeap&) = delete;
  CPrivateHeap& operator=(const CPrivateHeap&) = delete;

  // For C++ callers. On exhaustion: logs "Not enough memory. ...", destroys the
  // heap (its memory is returned at once) and throws kFatalErrorText. Once
  // destroyed, every later allocation fails the same way until Reset.
  void* Alloc(std::size_t size);
  // ReAlloc(nullptr, size) allocates. On failure the heap is destroyed as above.
  void* ReAlloc(void* pointer, std::size_t size);

  // For C libraries that allocate through the heap (they must never see an
  // exception): null on exhaustion, the failure is logged and recorded
  // (HasFailed), and the heap stays intact, so blocks the library still holds
  // remain valid until it frees them or the owner destroys the heap. A failed
  // TryReAlloc leaves the old block as it was.
  void* TryAlloc(std::size_t size) noexcept;
  void* TryReAlloc(void* pointer, std::size_t size) noexcept;

  // Frees a block of this heap; null, a block of another heap or a destroyed
  // heap do nothing.
  void Free(void* pointer) noexcept;

  // Releases every block; the heap is unusable until Reset.
  void Destroy() noexcept;
  // Releases every block and makes the heap usable again with its failure
  // record cleared.
  void Reset() noexcept;

  bool IsValid() const;        // not destroyed
  bool HasFailed() const;      // an allocation failed since creation or Reset
  std::size_t GetUsedSize() const;   // bytes of the live blocks
  std::size_t GetBlockCount() const;
  std::size_t GetMaximumSize() const { return maximumSize_; }

  // The process-wide heap that serves script engine allocations made without
  // an interpreter. Never destroyed.
  static CPrivateHeap& GetProcessHeap();

 private:
  struct Block;

  enum class Failure { None, Exhausted, Destroyed };

  void* AllocLocked(std::size_t size, Failure* failure);
  void* ReAllocLocked(void* pointer, std::size_t size, Failure* failure);
  void FreeAllLocked() noexcept;
  Block* BlockOf(void* pointer) const;
  void ReportFailure(std::size_t size) noexcept;

  mutable std::mutex mutex_;
  std::size_t maximumSize_;
  bool valid_ = true;
  bool failed_ = false;
  std::size_t used_ = 0;
  std::size_t blocks_ = 0;
  Block* head_ = nullptr;
};

// Allocator callbacks for HTML Tidy; the application data is the document's
// heap. They never throw: with no heap, allocation answers null and free does
// nothing; exhaustion answers null and is recorded on the heap.
void* TidyAllocCallback(std::size_t size, CPrivateHeap* heap) noexcept;
void* TidyReallocCallback(void* pointer, std::size_t size, CPrivateHeap* heap) noexcept;
void TidyFreeCallback(void* pointer, CPrivateHeap* heap) noexcept;

// Allocation hooks for the script engine (the shape of its allocator
// functions). hostRecord is the interpreter's host record, or null for
// allocations made without an interpreter, which use the process-wide heap.
// A host record without a heap answers null and frees nothing.
struct ScriptHostHeapRecord {
  CPrivateHeap* heap = nullptr;
};
void* ScriptAllocHook(void* hostRecord, std::size_t size) noexcept;
void* ScriptReallocHook(void* hostRecord, void* pointer, std::size_t size) noexcept;
void ScriptFreeHook(void* hostRecord, void* pointer) noexcept;

// The engine's allocator slots, as its heap creation takes them.
struct ScriptHeapHooks {
  void* (*alloc)(void* hostRecord, std::size_t size) = nullptr;
  void* (*realloc)(void* hostRecord, void* pointer, std::size_t size) = nullptr;
  void (*free)(void* hostRecord, void* pointer) = nullptr;
};
// Stores the three hooks above into the slots.
void InstallScriptHeapHooks(ScriptHeapHooks& slots);
