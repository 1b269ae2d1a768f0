// The registry's store: the SQLite database "registry.db" of the device,
// shared by every process of the device (WAL journal, waits for other writers).
//
//   keys(id, parent, name, folded, stamps...)   one row per key; the roots have parent 0
//   vals(id, key, name, folded, type, data)     one row per value
//
// Names are kept as UTF-16LE bytes exactly as given ("name") and upper-cased
// for lookup ("folded"), so any UTF-16 text works and case is ignored. Every
// write is one immediate transaction; nothing is cached between calls, so the
// next read of any process sees it. Each key carries change counters (its own
// values, its own sub-keys, and both for its whole subtree) that change
// notification compares, and every commit bumps a device-wide futex word that
// wakes the waiting notifications of every process.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Types.h"

namespace plat::reg {

constexpr std::int64_t kClassesRootId = 1;
constexpr std::int64_t kCurrentUserId = 2;
constexpr std::int64_t kLocalMachineId = 3;

// The result for a handle whose key has been deleted meanwhile.
constexpr LONG kErrorKeyDeleted = 1018;

struct ValueRecord {
  std::u16string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct KeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLen = 0;     // characters
  DWORD values = 0;
  DWORD maxValueNameLen = 0;  // characters
  DWORD maxValueLen = 0;      // bytes
  ULONGLONG written = 0;      // FILETIME ticks
};

class RegistryStore {
 public:
  static RegistryStore& Instance();

  // Resolves path ("\"-separated, empty parts skipped) below base; creates the
  // missing keys when create is set (created: the last one was new).
  LONG Open(std::int64_t base, std::u16string_view path, bool create, std::int64_t* id, bool* created);
  LONG Query(std::int64_t key, std::u16string_view name, DWORD* type, std::vector<BYTE>* data);
  LONG Set(std::int64_t key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(std::int64_t key, std::u16string_view name);
  // In one transaction: when the value now held equals *expected (null: the
  // value is missing), sets it to replacement (null: deletes it); else
  // ERROR_REVISION_MISMATCH and nothing changes.
  LONG CompareAndSet(std::int64_t key, std::u16string_view name, const ValueRecord* expected,
                     const ValueRecord* replacement);
  // Deletes the key at path below base (path empty: base itself) with its subtree.
  LONG DeleteKey(std::int64_t base, std::u16string_view path);
  LONG EnumKey(std::int64_t key, DWORD index, std::u16string* name, ULONGLONG* written);
  LONG EnumValue(std::int64_t key, DWORD index, ValueRecord* out);
  LONG Info(std::int64_t key, KeyInfo* out);
  LONG Flush(std::int64_t key);

  // The change stamp of key for the filter (a sum of its counters), or -1 when
  // the key no longer exists. False when the store cannot be read.
  bool ChangeStamp(std::int64_t key, bool subtree, DWORD filter, std::int64_t* stamp);

  // The device-wide word bumped after every committed change; null when it
  // cannot be mapped. Waiters sleep on it with FUTEX_WAIT.
  std::uint32_t* ChangeWord();

 private:
  RegistryStore() = default;

  sqlite3* Db();  // the connection of this process and device, opened on demand
  bool OpenDb();
  LONG KeyExists(sqlite3* db, std::int64_t key);
  LONG Resolve(sqlite3* db, std::int64_t base, std::u16string_view path, bool create, std::int64_t* id,
               bool* created, bool* changed);
  template <class Body>
  LONG Write(Body&& body);
  void Touch(sqlite3* db, std::int64_t key, bool names);
  void NotifyChanged();  // called without lock_

  std::mutex lock_;
  sqlite3* db_ = nullptr;
  unsigned generation_ = 0;
  int pid_ = 0;
  std::mutex changeLock_;  // guards the two below
  std::uint32_t* changeWord_ = nullptr;
  unsigned changeGeneration_ = 0;
};

}  // namespace plat::reg
