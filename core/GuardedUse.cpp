#include "core/GuardedUse.h"

namespace {

class CSectionLock {
 public:
  explicit CSectionLock(plat::CRITICAL_SECTION& section) : m_section(section) {
    plat::EnterCriticalSection(&m_section);
  }
  ~CSectionLock() { plat::LeaveCriticalSection(&m_section); }
  CSectionLock(const CSectionLock&) = delete;
  CSectionLock& operator=(const CSectionLock&) = delete;

 private:
  plat::CRITICAL_SECTION& m_section;
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
