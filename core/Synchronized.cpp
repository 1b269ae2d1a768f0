#include "core/Synchronized.h"

#include "platform/base/Time.h"

CSynchronized::CSynchronized() { plat::InitializeCriticalSection(&section_); }

CSynchronized::~CSynchronized() { plat::DeleteCriticalSection(&section_); }

void CSynchronized::Lock(const char16_t* text1, const char16_t* text2, int number) {
  if (!plat::TryEnterCriticalSection(&section_)) {
    waiting_.fetch_add(1, std::memory_order_acq_rel);
    plat::Sleep(0);  // give the holder the rest of the time slice once
    plat::EnterCriticalSection(&section_);
    waiting_.fetch_sub(1, std::memory_order_acq_rel);
  }
  ownerText1_ = text1 ? text1 : u"";
  ownerText2_ = text2 ? text2 : u"";
  ownerNumber_ = number;
}

void CSynchronized::Unlock() { plat::LeaveCriticalSection(&section_); }

bool CSynchronized::IsLockedByCurrentThread() const {
  return plat::IsCriticalSectionOwnedByCurrentThread(&section_);
}

CSyncLock::CSyncLock(CSynchronized* object, const char16_t* text1, int number, const char16_t* text2)
    : object_(object) {
  if (object_) object_->Lock(text1, text2, number);
}

CSyncLock::~CSyncLock() {
  if (object_) object_->Unlock();
}
