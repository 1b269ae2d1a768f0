#include "core/MutexLock.h"

CMutexLock::CMutexLock(plat::HANDLE mutex, plat::DWORD timeoutMs) : mutex_(mutex) {
  if (!mutex_) {
    acquired_ = 1;
    return;
  }
  plat::DWORD result = plat::WaitForSingleObject(mutex_, timeoutMs);
  if (result == plat::WAIT_OBJECT_0) {
    acquired_ = 1;
  } else if (result == plat::WAIT_ABANDONED) {
    acquired_ = 1;
    abandoned_ = true;
  }
}

CMutexLock::~CMutexLock() { Release(); }

void CMutexLock::Release() {
  if (mutex_ && acquired_ == 1) plat::ReleaseMutex(mutex_);
  mutex_ = nullptr;
  acquired_ = 0;
}
