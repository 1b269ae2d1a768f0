// The memory of one parsed document: every block HTML Tidy allocates while it
// works on the document, and the arena that holds the document's node tree,
// come from three allocation callbacks (by default the C heap, or a private
// heap). Every block is recorded, so the whole document's memory is released
// at once even when a parse was abandoned half way.
//
// HTML Tidy does not check the results of its allocator: a null block would
// be written through. An allocation that fails inside a guarded call
// (RunGuarded) therefore jumps straight back out of the library to the guard,
// which reports the exhaustion; the library document touched by the call must
// then be abandoned (never released through the library) and the memory
// released with FreeAll. Code run under a guard must keep no object with a
// destructor alive across calls that allocate.
#pragma once

#include <tidy/tidy.h>

#include <csetjmp>
#include <cstddef>

class CPrivateHeap;

namespace Tidy {

// The allocation callbacks and their data word (the heap they allocate on).
using AllocProc = void* (*)(std::size_t size, CPrivateHeap* data);
using ReallocProc = void* (*)(void* pointer, std::size_t size, CPrivateHeap* data);
using FreeProc = void (*)(void* pointer, CPrivateHeap* data);

class CTidyMemory {
 public:
  // With no callbacks the C heap is used.
  CTidyMemory();
  CTidyMemory(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data);
  ~CTidyMemory();
  CTidyMemory(const CTidyMemory&) = delete;
  CTidyMemory& operator=(const CTidyMemory&) = delete;

  // Releases every block, then allocates through the given callbacks (null
  // callbacks: the C heap).
  void Configure(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data) noexcept;

  // The allocator to hand to the library (documents and buffers).
  TidyAllocator* GetAllocator() { return &allocator_; }
  CPrivateHeap* GetData() const { return data_; }

  // Recorded blocks. Null on exhaustion (outside a guard), and the failure is
  // remembered (HasFailed). Free of null or of a block of another owner does
  // nothing harmful: null is ignored.
  void* Alloc(std::size_t size) noexcept;
  void* Realloc(void* pointer, std::size_t size) noexcept;
  void Free(void* pointer) noexcept;
  // Inside a guard: like Alloc, but exhaustion jumps back to the guard.
  void* AllocOrJump(std::size_t size) noexcept;

  // Releases every recorded block.
  void FreeAll() noexcept;

  // Runs body(context). True when it returned; false when an allocation
  // failed inside it and the guard was reached by the jump.
  bool RunGuarded(void (*body)(void* context), void* context) noexcept;

  bool HasFailed() const { return failed_; }
  void ClearFailure() { failed_ = false; }
  std::size_t GetBlockCount() const { return blocks_; }
  std::size_t GetUsedSize() const { return used_; }

 private:
  struct Header;
  struct Allocator : TidyAllocator {
    CTidyMemory* owner;
  };

  static void* LibraryAlloc(TidyAllocator* self, std::size_t size);
  static void* LibraryRealloc(TidyAllocator* self, void* block, std::size_t size);
  static void LibraryFree(TidyAllocator* self, void* block);
  static void LibraryPanic(TidyAllocator* self, ctmbstr message);
  [[noreturn]] void JumpOrAbort() noexcept;
  void Link(Header* header) noexcept;
  void Unlink(Header* header) noexcept;

  AllocProc alloc_;
  ReallocProc realloc_;
  FreeProc free_;
  CPrivateHeap* data_;
  Allocator allocator_;
  Header* head_ = nullptr;
  std::size_t blocks_ = 0;
  std::size_t used_ = 0;
  bool failed_ = false;
  std::jmp_buf* jump_ = nullptr;
};

// Bump allocation of the node tree's nodes and strings from recorded chunks.
// Nothing is freed singly; Clear gives every chunk back.
class CTidyArena {
 public:
  explicit CTidyArena(CTidyMemory& memory) : memory_(memory) {}
  ~CTidyArena() { Clear(); }
  CTidyArena(const CTidyArena&) = delete;
  CTidyArena& operator=(const CTidyArena&) = delete;

  // size bytes aligned for any object; null on exhaustion.
  void* Alloc(std::size_t size) noexcept { return Allocate(size, false); }
  // Inside a guard: exhaustion jumps back to it.
  void* AllocOrJump(std::size_t size) noexcept { return Allocate(size, true); }
  // A zero-terminated copy of length bytes (null on exhaustion).
  char* CopyString(const char* text, std::size_t length, bool jumpOnFailure) noexcept;

  void Clear() noexcept;
  // Drops the chunks without freeing them, after the memory they came from
  // was released as a whole (CTidyMemory::FreeAll).
  void Forget() noexcept;
  std::size_t GetChunkCount() const { return chunks_; }

 private:
  struct Chunk;
  void* Allocate(std::size_t size, bool jumpOnFailure) noexcept;

  CTidyMemory& memory_;
  Chunk* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t nextChunkSize_ = 4096;
  std::size_t chunks_ = 0;
};

}  // namespace Tidy
