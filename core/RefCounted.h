// Intrusively counted objects: the count lives in the object, changes with
// interlocked operations, and the object deletes itself through its virtual
// destructor when the last holder lets go.
#pragma once

#include <utility>

#include "platform/base/Interlocked.h"
#include "platform/base/Types.h"

class CRefCounted {
 public:
  CRefCounted() = default;
  CRefCounted(const CRefCounted&) = delete;
  CRefCounted& operator=(const CRefCounted&) = delete;

  plat::LONG AddRef() const { return plat::InterlockedIncrement(&refCount_); }
  plat::LONG GetRefCount() const { return refCount_; }

 protected:
  virtual ~CRefCounted() = default;
  // Drops one count without deleting at zero (for owners that free a chain of
  // objects themselves); returns the count left.
  plat::LONG DropRef() const { return plat::InterlockedDecrement(&refCount_); }

 private:
  friend plat::LONG ReleaseRefCount(const CRefCounted* object);
  mutable plat::LONG refCount_ = 0;  // a new object is counted by nobody yet
};

// Drops one count; deletes the object at zero. Returns the count left.
inline plat::LONG ReleaseRefCount(const CRefCounted* object) {
  const plat::LONG left = plat::InterlockedDecrement(&object->refCount_);
  if (left == 0) delete object;
  return left;
}

// Releases the object a counted pointer refers to, when there is one; the
// pointer itself is left as it was.
template <class T>
void ReleaseRefPtr(T* const& pointer) {
  if (pointer) ReleaseRefCount(pointer);
}

// A counted reference: holds one count of its object for as long as it
// refers to it.
template <class T>
class CRefPtr {
 public:
  CRefPtr() = default;
  CRefPtr(std::nullptr_t) {}
  // Counts the object once more.
  explicit CRefPtr(T* object) : object_(object) {
    if (object_) object_->AddRef();
  }
  CRefPtr(const CRefPtr& other) : CRefPtr(other.object_) {}
  CRefPtr(CRefPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ~CRefPtr() { ReleaseRefPtr(object_); }

  CRefPtr& operator=(const CRefPtr& other) {
    CRefPtr copy(other);
    Swap(copy);
    return *this;
  }
  CRefPtr& operator=(CRefPtr&& other) noexcept {
    CRefPtr moved(std::move(other));
    Swap(moved);
    return *this;
  }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void Reset() {
    T* old = std::exchange(object_, nullptr);
    ReleaseRefPtr(old);
  }
  // Takes over a count the caller already holds.
  void Attach(T* object) {
    T* old = std::exchange(object_, object);
    ReleaseRefPtr(old);
  }
  // Hands the count to the caller.
  T* Detach() { return std::exchange(object_, nullptr); }
  void Swap(CRefPtr& other) noexcept { std::swap(object_, other.object_); }

 private:
  T* object_ = nullptr;
};
