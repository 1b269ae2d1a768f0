// The COM-style object model of the layout framework: interface ids, result
// codes, and the reference counting and interface query that every layout
// object (plug-ins, sites, items, conditions) shares.
#pragma once

#include <cstring>
#include <utility>

#include "core/OrvException.h"
#include "platform/base/Interlocked.h"
#include "platform/imaging/Com.h"

// Compares two interface ids byte for byte.
inline bool SameIid(plat::REFIID a, plat::REFIID b) { return std::memcmp(&a, &b, sizeof(plat::IID)) == 0; }

// Throws the layout exception with the code.
[[noreturn]] inline void ThrowLayout(plat::HRESULT code) { throw COrvException(code); }

// Reference count and interface query for an object that implements the
// interface Interface (which derives from plat::IUnknown). Derived classes set
// kIid to their interface id through the constructor argument.
template <class Interface>
class CLayoutObject : public Interface {
 public:
  explicit CLayoutObject(const plat::IID& iid) : iid_(iid) {}

  plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override {
    if (!object) return plat::E_INVALIDARG;
    if (SameIid(iid, plat::IID_IUnknown) || SameIid(iid, iid_)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return plat::S_OK;
    }
    return plat::E_NOINTERFACE;
  }
  plat::ULONG AddRef() override { return static_cast<plat::ULONG>(plat::InterlockedIncrement(&refCount_)); }
  plat::ULONG Release() override {
    const plat::LONG left = plat::InterlockedDecrement(&refCount_);
    if (left > 0) return static_cast<plat::ULONG>(left);
    delete this;
    return 0;
  }
  plat::LONG GetRefCount() const { return refCount_; }

 protected:
  ~CLayoutObject() override = default;

 private:
  mutable plat::LONG refCount_ = 0;
  plat::IID iid_;
};

// A counted reference to a COM-style object.
template <class T>
class CComRef {
 public:
  CComRef() = default;
  CComRef(std::nullptr_t) {}
  explicit CComRef(T* object) : object_(object) {
    if (object_) object_->AddRef();
  }
  CComRef(const CComRef& other) : CComRef(other.object_) {}
  CComRef(CComRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ~CComRef() { Reset(); }
  CComRef& operator=(const CComRef& other) {
    CComRef copy(other);
    std::swap(object_, copy.object_);
    return *this;
  }
  CComRef& operator=(CComRef&& other) noexcept {
    CComRef moved(std::move(other));
    std::swap(object_, moved.object_);
    return *this;
  }
  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset() {
    T* old = object_;
    object_ = nullptr;
    if (old) old->Release();
  }
  // Takes over a count the caller holds.
  void Attach(T* object) {
    Reset();
    object_ = object;
  }
  T* Detach() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }
  // The address for an out parameter; the old object is released first.
  T** Receive() {
    Reset();
    return &object_;
  }

 private:
  T* object_ = nullptr;
};

