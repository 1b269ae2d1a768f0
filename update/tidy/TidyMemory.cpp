#include "update/tidy/TidyMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace Tidy {

namespace {

void* CAlloc(std::size_t size, CPrivateHeap*) { return std::malloc(size); }
void* CRealloc(void* pointer, std::size_t size, CPrivateHeap*) { return std::realloc(pointer, size); }
void CFree(void* pointer, CPrivateHeap*) { std::free(pointer); }

constexpr std::size_t kAlign = alignof(std::max_align_t);

constexpr std::size_t RoundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

}  // namespace

// Links every block of the document, in front of the caller's part.
struct CTidyMemory::Header {
  Header* prev;
  Header* next;
  std::size_t size;
};

namespace {
constexpr std::size_t kHeaderSize = RoundUp(sizeof(void*) * 3);
}

CTidyMemory::CTidyMemory() : CTidyMemory(nullptr, nullptr, nullptr, nullptr) {}

CTidyMemory::CTidyMemory(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data)
    : alloc_(alloc ? alloc : CAlloc),
      realloc_(realloc ? realloc : CRealloc),
      free_(free ? free : CFree),
      data_(data) {
  static const TidyAllocatorVtbl vtbl = {LibraryAlloc, LibraryRealloc, LibraryFree, LibraryPanic};
  allocator_.vtbl = &vtbl;
  allocator_.owner = this;
}

CTidyMemory::~CTidyMemory() { FreeAll(); }

void CTidyMemory::Configure(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data) noexcept {
  FreeAll();
  alloc_ = alloc ? alloc : CAlloc;
  realloc_ = realloc ? realloc : CRealloc;
  free_ = free ? free : CFree;
  data_ = data;
  failed_ = false;
}

void CTidyMemory::Link(Header* header) noexcept {
  header->prev = nullptr;
  header->next = head_;
  if (head_) head_->prev = header;
  head_ = header;
}

void CTidyMemory::Unlink(Header* header) noexcept {
  if (header->prev) header->prev->next = header->next; else head_ = header->next;
  if (header->next) header->next->prev = header->prev;
}

void* CTidyMemory::Alloc(std::size_t size) noexcept {
  if (size > static_cast<std::size_t>(-1) / 2) {
    failed_ = true;
    return nullptr;
  }
  void* raw = alloc_(kHeaderSize + size, data_);
  if (!raw) {
    failed_ = true;
    return nullptr;
  }
  Header* header = static_cast<Header*>(raw);
  header->size = size;
  Link(header);
  ++blocks_;
  used_ += size;
  return static_cast<char*>(raw) + kHeaderSize;
}

void* CTidyMemory::Realloc(void* pointer, std::size_t size) noexcept {
  if (!pointer) return Alloc(size);
  if (size > static_cast<std::size_t>(-1) / 2) {
    failed_ = true;
    return nullptr;
  }
  Header* header = reinterpret_cast<Header*>(static_cast<char*>(pointer) - kHeaderSize);
  Header* prev = header->prev;
  Header* next = header->next;
  std::size_t oldSize = header->size;
  void* raw = realloc_(header, kHeaderSize + size, data_);
  if (!raw) {  // the old block stays as it was, still linked
    failed_ = true;
    return nullptr;
  }
  header = static_cast<Header*>(raw);
  if (prev) prev->next = header; else head_ = header;
  if (next) next->prev = header;
  header->size = size;
  used_ = used_ - oldSize + size;
  return static_cast<char*>(raw) + kHeaderSize;
}

void CTidyMemory::Free(void* pointer) noexcept {
  if (!pointer) return;
  Header* header = reinterpret_cast<Header*>(static_cast<char*>(pointer) - kHeaderSize);
  Unlink(header);
  --blocks_;
  used_ -= header->size;
  free_(header, data_);
}

void CTidyMemory::FreeAll() noexcept {
  Header* header = head_;
  while (header) {
    Header* next = header->next;
    free_(header, data_);
    header = next;
  }
  head_ = nullptr;
  blocks_ = 0;
  used_ = 0;
}

void CTidyMemory::JumpOrAbort() noexcept {
  // Outside a guard nothing can recover the library's state.
  if (!jump_) std::abort();
  std::longjmp(*jump_, 1);
}

void* CTidyMemory::AllocOrJump(std::size_t size) noexcept {
  void* p = Alloc(size);
  if (!p) JumpOrAbort();
  return p;
}

bool CTidyMemory::RunGuarded(void (*body)(void* context), void* context) noexcept {
  std::jmp_buf env;
  std::jmp_buf* const outer = jump_;
  jump_ = &env;
  if (setjmp(env) != 0) {
    jump_ = outer;
    return false;
  }
  body(context);
  jump_ = outer;
  return true;
}

void* CTidyMemory::LibraryAlloc(TidyAllocator* self, std::size_t size) {
  CTidyMemory* memory = static_cast<Allocator*>(self)->owner;
  void* p = memory->Alloc(size ? size : 1);
  if (!p) memory->JumpOrAbort();
  return p;
}

void* CTidyMemory::LibraryRealloc(TidyAllocator* self, void* block, std::size_t size) {
  CTidyMemory* memory = static_cast<Allocator*>(self)->owner;
  void* p = memory->Realloc(block, size ? size : 1);
  if (!p) memory->JumpOrAbort();
  return p;
}

void CTidyMemory::LibraryFree(TidyAllocator* self, void* block) {
  static_cast<Allocator*>(self)->owner->Free(block);
}

void CTidyMemory::LibraryPanic(TidyAllocator* self, ctmbstr) {
  CTidyMemory* memory = static_cast<Allocator*>(self)->owner;
  memory->failed_ = true;
  memory->JumpOrAbort();
}

// ---- Arena --------------------------------------------------------------------

struct CTidyArena::Chunk {
  Chunk* previous;
};

namespace {
constexpr std::size_t kChunkHeader = RoundUp(sizeof(void*));
constexpr std::size_t kMaxChunkSize = 256 * 1024;
}  // namespace

void* CTidyArena::Allocate(std::size_t size, bool jumpOnFailure) noexcept {
  if (size > static_cast<std::size_t>(-1) / 4) {
    if (jumpOnFailure) memory_.AllocOrJump(static_cast<std::size_t>(-1));  // jumps
    return nullptr;
  }
  size = RoundUp(size ? size : 1);
  if (size > kMaxChunkSize / 4) {
    // A large block gets a chunk of its own behind the current one, so the
    // room left in the current chunk is not lost.
    void* raw = jumpOnFailure ? memory_.AllocOrJump(kChunkHeader + size) : memory_.Alloc(kChunkHeader + size);
    if (!raw) return nullptr;
    Chunk* chunk = static_cast<Chunk*>(raw);
    if (chunk_) {
      chunk->previous = chunk_->previous;
      chunk_->previous = chunk;
    } else {
      chunk->previous = nullptr;
      chunk_ = chunk;
    }
    ++chunks_;
    return static_cast<char*>(raw) + kChunkHeader;
  }
  if (!next_ || static_cast<std::size_t>(end_ - next_) < size) {
    std::size_t chunkSize = nextChunkSize_;
    while (chunkSize < kChunkHeader + size) chunkSize *= 2;
    void* raw = jumpOnFailure ? memory_.AllocOrJump(chunkSize) : memory_.Alloc(chunkSize);
    if (!raw) return nullptr;
    Chunk* chunk = static_cast<Chunk*>(raw);
    chunk->previous = chunk_;
    chunk_ = chunk;
    ++chunks_;
    next_ = static_cast<char*>(raw) + kChunkHeader;
    end_ = static_cast<char*>(raw) + chunkSize;
    if (nextChunkSize_ < kMaxChunkSize) nextChunkSize_ *= 2;
  }
  void* p = next_;
  next_ += size;
  return p;
}

char* CTidyArena::CopyString(const char* text, std::size_t length, bool jumpOnFailure) noexcept {
  char* copy = static_cast<char*>(Allocate(length + 1, jumpOnFailure));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void CTidyArena::Clear() noexcept {
  while (chunk_) {
    Chunk* previous = chunk_->previous;
    memory_.Free(chunk_);
    chunk_ = previous;
  }
  Forget();
}

void CTidyArena::Forget() noexcept {
  chunk_ = nullptr;
  next_ = end_ = nullptr;
  chunks_ = 0;
  nextChunkSize_ = 4096;
}

}  // namespace Tidy
