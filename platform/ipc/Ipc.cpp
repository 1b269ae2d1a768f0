#include "platform/ipc/Ipc.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/NamedMutex.h"
#include "platform/ipc/ObjectTable.h"

namespace plat {

namespace {

HANDLE OpenNamed(ipc::SlotKind kind, const char16_t* name, bool create, bool manualReset, bool initialState) {
  auto table = ipc::ObjectTable::Current();
  if (!table) return nullptr;
  bool existed = false;
  const int slot = table->OpenOrCreate(kind, ipc::HashName(std::u16string_view(name, StrLen(name))), create,
                                       manualReset, initialState, &existed);
  if (slot < 0) return nullptr;
  HANDLE h;
  if (kind == ipc::SlotKind::Mutex)
    h = new ipc::NamedMutex(table, slot);
  else
    h = new ipc::NamedEvent(table, slot);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

}  // namespace

HANDLE CreateMutexW(void* /*sa*/, BOOL initialOwner, const char16_t* name) {
  if (!name) {
    HANDLE h = CreateLocalMutex(initialOwner != FALSE);
    if (h) SetLastError(ERROR_SUCCESS);
    return h;
  }
  return OpenNamed(ipc::SlotKind::Mutex, name, true, false, initialOwner != FALSE);
}

HANDLE CreateEventW(void* /*sa*/, BOOL manualReset, BOOL initialState, const char16_t* name) {
  if (!name) {
    HANDLE h = CreateLocalEvent(manualReset != FALSE, initialState != FALSE);
    if (h) SetLastError(ERROR_SUCCESS);
    return h;
  }
  return OpenNamed(ipc::SlotKind::Event, name, true, manualReset != FALSE, initialState != FALSE);
}

HANDLE OpenEventW(DWORD /*access*/, BOOL /*inherit*/, const char16_t* name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE h = OpenNamed(ipc::SlotKind::Event, name, false, false, false);
  if (h) SetLastError(ERROR_SUCCESS);
  return h;
}

UINT RegisterWindowMessageW(const char16_t* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string folded = ToUpper(std::u16string_view(name, StrLen(name)));
  // Numbers never change once given, so each process keeps what it has asked.
  static std::mutex* lock = new std::mutex;
  static auto* cache = new std::unordered_map<std::u16string, UINT>;
  static unsigned cacheGeneration = 0;
  {
    std::lock_guard<std::mutex> g(*lock);
    if (cacheGeneration != DeviceGeneration()) {
      cache->clear();
      cacheGeneration = DeviceGeneration();
    }
    auto it = cache->find(folded);
    if (it != cache->end()) return it->second;
  }
  auto table = ipc::ObjectTable::Current();
  if (!table) return 0;
  const UINT number = table->RegisterMessage(ipc::HashName(folded));
  if (number != 0) {
    std::lock_guard<std::mutex> g(*lock);
    if (cacheGeneration == DeviceGeneration()) (*cache)[folded] = number;
  }
  return number;
}

}  // namespace plat
