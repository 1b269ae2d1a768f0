#include "database/NotifyToday.h"

#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "core/StringUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"

namespace {
plat::DWORD g_mutexTimeoutMs = CNotifyToday::kMutexTimeoutMs;
}

void CNotifyToday::SetMutexTimeoutForTests(plat::DWORD ms) { g_mutexTimeoutMs = ms; }

CNotifyToday* CNotifyToday::GetInstance() {
  static CNotifyToday instance;
  return &instance;
}

CNotifyToday::CNotifyToday() {
  mutex_ = plat::CreateMutexW(nullptr, plat::FALSE, kNotifyTodayMutex);
  event_ = plat::CreateEventW(nullptr, plat::FALSE, plat::TRUE, kNotifyTodayEvent);
}

CNotifyToday::~CNotifyToday() {
  if (event_) plat::CloseHandle(event_);
  event_ = nullptr;
  if (mutex_) plat::CloseHandle(mutex_);
  mutex_ = nullptr;
  names_.clear();
}

std::u16string CNotifyToday::EncodeNames(const CStringToIntMap& names) {
  CStringList list;
  list.reserve(names.size());
  for (const auto& entry : names) list.push_back(entry.first);
  return ListToString(list);
}

void CNotifyToday::DecodeNames(const std::u16string& record, CStringToIntMap& names) {
  StringToList(record, names);
}

void CNotifyToday::Notify() {
  CSyncLock lock(this, u"CNotifyToday::Notify");
  if (!mutex_) return;
  CMutexLock mutexLock(mutex_, g_mutexTimeoutMs);
  // An abandoned mutex counts as acquired: each registry write is whole, so
  // the record a dead holder left is consistent.
  if (!mutexLock.IsLocked()) return;
  OpenSettingsKey().SetString(kChangedItemsValue, kAllItemsChanged);
  mutexLock.Release();
  if (event_) plat::SetEvent(event_);
}

void CNotifyToday::NotifyItemChanged(const std::u16string& name) {
  CSyncLock lock(this, u"CNotifyToday::NotifyItemChanged");
  if (!mutex_) return;
  CMutexLock mutexLock(mutex_, g_mutexTimeoutMs);
  if (!mutexLock.IsLocked()) return;

  CVORegistry key = OpenSettingsKey();
  const std::u16string record = key.GetString(kChangedItemsValue, kNoItemsChanged);
  if (record == kAllItemsChanged) return;  // already covered

  CStringToIntMap names;
  DecodeNames(record, names);
  if (!names.emplace(name, 0).second) return;  // already listed

  key.SetString(kChangedItemsValue, EncodeNames(names));
  if (event_) plat::SetEvent(event_);
}

plat::DWORD CNotifyToday::GetReadDelay() {
  CSyncLock lock(this, u"CNotifyToday::GetReadDelay");
  if (!hasRead_) return 0;
  const plat::DWORD elapsed = plat::GetTickCount() - lastReadTick_;  // wraps safely
  return elapsed >= kReadIntervalMs ? 0 : kReadIntervalMs - elapsed;
}

CNotifyToday::ReadResult CNotifyToday::ReadChanges() {
  CSyncLock lock(this, u"CNotifyToday::ReadChanges");
  const plat::DWORD now = plat::GetTickCount();
  if (hasRead_ && now - lastReadTick_ < kReadIntervalMs) return kReadThrottled;
  hasRead_ = true;
  lastReadTick_ = now;

  if (!mutex_) return kReadBusy;
  CMutexLock mutexLock(mutex_, g_mutexTimeoutMs);
  if (!mutexLock.IsLocked()) return kReadBusy;

  CVORegistry key = OpenSettingsKey();
  const std::u16string record = key.GetString(kChangedItemsValue, kNoItemsChanged);
  if (record == kAllItemsChanged) {
    names_.clear();
    allPending_ = 1;
  } else if (record != kNoItemsChanged) {
    CStringToIntMap listed;
    DecodeNames(record, listed);
    names_.merge(listed);
  }
  if (record != kNoItemsChanged) key.SetString(kChangedItemsValue, kNoItemsChanged);
  return kReadDone;
}

bool CNotifyToday::TakePending(CStringToIntMap& names, bool& all) {
  CSyncLock lock(this, u"CNotifyToday::TakePending");
  names.clear();
  names.swap(names_);
  all = allPending_ != 0;
  allPending_ = 0;
  return all || !names.empty();
}

bool CNotifyToday::WaitForNotification(plat::DWORD timeoutMs) {
  // No object lock: a writer of this process must be able to notify meanwhile.
  if (!event_) return false;
  return plat::WaitForSingleObject(event_, timeoutMs) == plat::WAIT_OBJECT_0;
}
