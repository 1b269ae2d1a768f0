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

  plat::LONG AddRef() const { return plat::InterlockedIncrement(&m_refCount); }
  plat::LONG GetRefCount() const { return m_refCount; }

 protected:
  virtual ~CRefCounted() = default;
  // Drops one count without deleting at zero (for owners that free a chain of
  // objects themselves); returns the count left.
  plat::LONG DropRef() const { return plat::InterlockedDecrement(&m_refCount); }

 private:
  friend plat::LONG ReleaseRefCount(const CRefCounted* object);
  mutable plat::LONG m_refCount = 0;  // a new object is counted by nobody yet
};

// Drops one count; deletes the object at zero. Returns the count left.
inline plat::LONG ReleaseRefCount(const CRefCounted* object) {
  const plat::LONG left = plat::InterlockedDecrement(&object->m_refCount);
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
  explicit CRefPtr(T* object) : m_object(object) {
    if (m_object) m_object->AddRef();
  }
  CRefPtr(const CRefPtr& other) : CRefPtr(other.m_object) {}
  CRefPtr(CRefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  ~CRefPtr() { ReleaseRefPtr(m_object); }

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

  T* Get() const { return m_object; }
  T* operator->() const { return m_object; }
  T& operator*() const { return *m_object; }
  explicit operator bool() const { return m_object != nullptr; }

  void Reset() {
    T* old = std::exchange(m_object, nullptr);
    ReleaseRefPtr(old);
  }
  // Takes over a count the caller already holds.
  void Attach(T* object) {
    T* old = std::exchange(m_object, object);
    ReleaseRefPtr(old);
  }
  // Hands the count to the caller.
  T* Detach() { return std::exchange(m_object, nullptr); }
  void Swap(CRefPtr& other) noexcept { std::swap(m_object, other.m_object); }

 private:
  T* m_object = nullptr;
};
