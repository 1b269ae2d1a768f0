// The little of COM that the platform's image services need: GUIDs, result
// codes, IUnknown as a plain abstract class, and in-process class creation
// for the classes this platform provides.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/base/Guid.h"
#include "platform/base/Types.h"

namespace plat {

using ULONG = std::uint32_t;

using CLSID = GUID;
using IID = GUID;
using REFCLSID = const GUID&;
using REFIID = const GUID&;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// The IUnknown of a class implementing one interface: QueryInterface answers
// IUnknown and `kIid`, the reference count is thread-safe and starts at one,
// and the last Release deletes the object.
template <class Interface, const IID& kIid>
class ComObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == kIid) {
      AddRef();
      *out = static_cast<Interface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

 protected:
  ~ComObject() override = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// A stream of bytes, as far as its readers use it: its size and one read.
inline constexpr IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DWORD STATFLAG_NONAME = 1;
struct STATSTG {
  std::uint64_t cbSize;  // bytes in the stream
};
class IStream : public IUnknown {
 public:
  // Reads up to cb bytes from the current position; *read (optional) gets the count.
  virtual HRESULT Read(void* buffer, ULONG cb, ULONG* read) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
};

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

// Counted per thread; CoCreateInstance fails with CO_E_NOTINITIALIZED on a
// thread that has not initialised.
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();
// Classes of this platform only; REGDB_E_CLASSNOTREG for others.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

}  // namespace plat
