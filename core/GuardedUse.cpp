#include "core/GuardedUse.h"

namespace {

class CSectionLock {
 public:
  explicit CSectionLock(plat::CRITICAL_SECTION& section) : section_(section) {
    plat::EnterCriticalSection(&section_);
  }
  ~CSectionLock() { plat::LeaveCriticalSection(&section_); }
  CSectionLock(const CSectionLock&) = delete;
  CSectionLock& operator=(const CSectionLock&) = delete;

 private:
  plat::CRITICAL_SECTION& section_;
};

}  // namespace

void ReleaseGuardedUse(CGuardedUse& resource) {
  CSectionLock lock(resource.section);
  if (resource.useCount > 0) --resource.useCount;
  if (resource.useCount != 0) return;
  resource.open = false;
  plat::IUnknown* object = resource.object;
  resource.object = nullptr;
  if (object) object->Release();
}
