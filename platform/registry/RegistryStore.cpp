#include "platform/registry/RegistryStore.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/registry/Registry.h"

namespace plat::reg {

static_assert(std::endian::native == std::endian::little, "names are stored as UTF-16LE bytes");

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr std::size_t kMaxKeyNameLen = 255;
constexpr std::size_t kMaxValueNameLen = 16383;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name BLOB NOT NULL,"
    " folded BLOB NOT NULL,"
    " written INTEGER NOT NULL DEFAULT 0,"
    " valueSeq INTEGER NOT NULL DEFAULT 0,"
    " nameSeq INTEGER NOT NULL DEFAULT 0,"
    " treeValueSeq INTEGER NOT NULL DEFAULT 0,"
    " treeNameSeq INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, folded);"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name BLOB NOT NULL,"
    " folded BLOB NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, folded);";

ULONGLONG NowFileTime() {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return FILETIME_UNIX_EPOCH + static_cast<ULONGLONG>(us) * 10;
}

// Prepared statements of the current connection, kept for reuse (all SQL
// texts are literals, so their addresses name them). Used under the store lock.
struct StatementCache {
  sqlite3* db = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> stmts;
};

StatementCache& Statements() {
  static StatementCache* c = new StatementCache;
  return *c;
}

// Drops the cached statements; they are finalised unless they belong to the
// connection of a parent process (after fork), which must not be touched.
void ForgetStatements(bool finalize) {
  auto& c = Statements();
  if (finalize)
    for (auto& [sql, st] : c.stmts) sqlite3_finalize(st);
  c.stmts.clear();
  c.db = nullptr;
}

// Waits for other writers in short steps, so a blocked writer goes on soon
// after the lock is free; gives up after about twelve seconds.
int BusyWait(void*, int count) {
  if (count >= 6000) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(count < 200 ? 200 : 2000));
  return 1;
}

// A statement from the cache (or a fresh one when the cached one is in use),
// reset after use.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) {
    auto& c = Statements();
    if (c.db != db) {
      c.stmts.clear();
      c.db = db;
    }
    auto it = c.stmts.find(sql);
    if (it != c.stmts.end() && !sqlite3_stmt_busy(it->second)) {
      s_ = it->second;
      cached_ = true;
    } else if (it == c.stmts.end()) {
      cached_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr) == SQLITE_OK;
      if (cached_) c.stmts.emplace(sql, s_);
    } else {
      sqlite3_prepare_v2(db, sql, -1, &s_, nullptr);
    }
    ok_ = s_ != nullptr;
  }
  ~Stmt() {
    if (cached_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    } else {
      sqlite3_finalize(s_);
    }
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return ok_; }
  Stmt& Int(int i, std::int64_t v) {
    if (ok_) sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Stmt& Bytes(int i, const void* p, std::size_t n) {
    if (!ok_) return *this;
    if (n == 0)
      sqlite3_bind_zeroblob(s_, i, 0);
    else
      sqlite3_bind_blob64(s_, i, p, n, SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Text16(int i, std::u16string_view t) { return Bytes(i, t.data(), t.size() * 2); }

  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return ok_ ? sqlite3_step(s_) : SQLITE_ERROR; }

  std::int64_t ColInt(int c) { return sqlite3_column_int64(s_, c); }
  std::u16string ColText16(int c) {
    const void* p = sqlite3_column_blob(s_, c);
    const int n = sqlite3_column_bytes(s_, c);
    std::u16string out(static_cast<std::size_t>(n) / 2, u'\0');
    if (p && n >= 2) std::memcpy(out.data(), p, out.size() * 2);
    return out;
  }
  std::vector<BYTE> ColBytes(int c) {
    const void* p = sqlite3_column_blob(s_, c);
    const int n = sqlite3_column_bytes(s_, c);
    std::vector<BYTE> out(static_cast<std::size_t>(n));
    if (p && n > 0) std::memcpy(out.data(), p, out.size());
    return out;
  }

 private:
  sqlite3_stmt* s_ = nullptr;
  bool ok_ = false;
  bool cached_ = false;
};

LONG ErrorOf(int rc, bool writing) {
  if (rc == SQLITE_FULL) return ERROR_DISK_FULL;
  return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
}

// Runs sql, retrying for as long as another process keeps the store busy.
int ExecPatiently(sqlite3* db, const char* sql) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * kBusyTimeoutMs);
  for (;;) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() > until) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Splits a "\"-separated path into its non-empty parts.
std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

RegistryStore& RegistryStore::Instance() {
  static RegistryStore* store = new RegistryStore;  // lives for the whole process
  return *store;
}

bool RegistryStore::OpenDb() {
  const std::string path = DeviceRoot() + "/registry.db";
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_handler(db, BusyWait, nullptr);
  bool ok = ExecPatiently(db, "PRAGMA journal_mode=WAL") == SQLITE_OK &&
            ExecPatiently(db, "PRAGMA synchronous=NORMAL") == SQLITE_OK &&
            ExecPatiently(db, "BEGIN IMMEDIATE") == SQLITE_OK;
  if (ok) {
    ForgetStatements(false);
    ok = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK;
    const std::pair<std::int64_t, std::u16string_view> roots[] = {
        {kClassesRootId, u"HKEY_CLASSES_ROOT"},
        {kCurrentUserId, u"HKEY_CURRENT_USER"},
        {kLocalMachineId, u"HKEY_LOCAL_MACHINE"}};
    for (const auto& [id, name] : roots) {
      if (!ok) break;
      Stmt s(db, "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES(?1, 0, ?2, ?2)");
      ok = s.Int(1, id).Text16(2, name).Step() == SQLITE_DONE;
    }
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  ForgetStatements(true);
  if (!ok) {
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  return true;
}

sqlite3* RegistryStore::Db() {
  const unsigned generation = DeviceGeneration();
  const int pid = getpid();
  if (db_ && generation_ == generation && pid_ == pid) return db_;
  // A forked child must neither use nor close the connection of its parent:
  // it is left alone and a new one opened.
  ForgetStatements(db_ && pid_ == pid);
  if (db_ && pid_ == pid) sqlite3_close_v2(db_);
  db_ = nullptr;
  generation_ = generation;
  pid_ = pid;
  if (!OpenDb()) return nullptr;
  return db_;
}

std::uint32_t* RegistryStore::ChangeWord() {
  std::lock_guard<std::mutex> g(changeLock_);
  const unsigned generation = DeviceGeneration();
  if (changeWord_ && changeGeneration_ == generation) return changeWord_;
  const std::string path = DeviceRunDir() + "/registry-changes";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  void* p = MAP_FAILED;
  if (ftruncate(fd, 4096) == 0) p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  // Mappings of earlier devices stay: notifications made on them may still wait there.
  changeWord_ = static_cast<std::uint32_t*>(p);
  changeGeneration_ = generation;
  return changeWord_;
}

void RegistryStore::NotifyChanged() {
  std::uint32_t* word = ChangeWord();
  if (!word) return;
  std::atomic_ref<std::uint32_t>(*word).fetch_add(1);
  syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

LONG RegistryStore::KeyExists(sqlite3* db, std::int64_t key) {
  Stmt s(db, "SELECT 1 FROM keys WHERE id = ?1");
  const int rc = s.Int(1, key).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return kErrorKeyDeleted;
  return ErrorOf(rc, false);
}

void RegistryStore::Touch(sqlite3* db, std::int64_t key, bool names) {
  // Single-row updates only: a statement that changes several rows needs a
  // statement journal, which costs far more than the few rows here.
  std::vector<std::int64_t> ancestors;
  {
    Stmt up(db,
            "WITH RECURSIVE anc(id) AS (SELECT parent FROM keys WHERE id = ?1 UNION ALL "
            "SELECT k.parent FROM keys k JOIN anc ON k.id = anc.id WHERE anc.id <> 0) "
            "SELECT id FROM anc WHERE id <> 0");
    up.Int(1, key);
    while (up.Step() == SQLITE_ROW) ancestors.push_back(up.ColInt(0));
  }
  {
    Stmt s(db, names ? "UPDATE keys SET nameSeq = nameSeq + 1, treeNameSeq = treeNameSeq + 1, written = ?2 "
                       "WHERE id = ?1"
                     : "UPDATE keys SET valueSeq = valueSeq + 1, treeValueSeq = treeValueSeq + 1, written = ?2 "
                       "WHERE id = ?1");
    s.Int(1, key).Int(2, static_cast<std::int64_t>(NowFileTime())).Step();
  }
  for (std::int64_t id : ancestors) {
    Stmt s(db, names ? "UPDATE keys SET treeNameSeq = treeNameSeq + 1 WHERE id = ?1"
                     : "UPDATE keys SET treeValueSeq = treeValueSeq + 1 WHERE id = ?1");
    s.Int(1, id).Step();
  }
}

template <class Body>
LONG RegistryStore::Write(Body&& body) {
  LONG result;
  bool changed = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    sqlite3* db = Db();
    if (!db) return ERROR_WRITE_FAULT;
    int rc = ExecPatiently(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return ErrorOf(rc, true);
    result = body(db, &changed);
    if (result == ERROR_SUCCESS) {
      rc = ExecPatiently(db, "COMMIT");
      if (rc != SQLITE_OK) result = ErrorOf(rc, true);
    }
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  // Wakes the change notifications of every process once the change is visible.
  if (result == ERROR_SUCCESS && changed) NotifyChanged();
  return result;
}

LONG RegistryStore::Resolve(sqlite3* db, std::int64_t base, std::u16string_view path, bool create,
                            std::int64_t* id, bool* created, bool* changed) {
  *created = false;
  const LONG exists = KeyExists(db, base);
  if (exists != ERROR_SUCCESS) return exists;
  const auto parts = SplitPath(path);
  for (auto part : parts)
    if (part.size() > kMaxKeyNameLen) return ERROR_INVALID_PARAMETER;
  std::int64_t cur = base;
  for (auto part : parts) {
    const std::u16string folded = ToUpper(part);
    Stmt find(db, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    const int rc = find.Int(1, cur).Text16(2, folded).Step();
    if (rc == SQLITE_ROW) {
      cur = find.ColInt(0);
      *created = false;
      continue;
    }
    if (rc != SQLITE_DONE) return ErrorOf(rc, create);
    if (!create) return ERROR_FILE_NOT_FOUND;
    Stmt add(db, "INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)");
    const int arc = add.Int(1, cur).Text16(2, part).Text16(3, folded)
                        .Int(4, static_cast<std::int64_t>(NowFileTime())).Step();
    if (arc != SQLITE_DONE) return ErrorOf(arc, true);
    const std::int64_t added = sqlite3_last_insert_rowid(db);
    Touch(db, cur, true);
    cur = added;
    *created = true;
    *changed = true;
  }
  *id = cur;
  return ERROR_SUCCESS;
}

LONG RegistryStore::Open(std::int64_t base, std::u16string_view path, bool create, std::int64_t* id,
                         bool* created) {
  {
    // Most opens, with the create flag or without, find the key: no write
    // transaction is needed for them.
    std::lock_guard<std::mutex> g(lock_);
    sqlite3* db = Db();
    if (!db) return create ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    bool changed = false;
    const LONG r = Resolve(db, base, path, false, id, created, &changed);
    if (!create || r != ERROR_FILE_NOT_FOUND) return r;
  }
  return Write([&](sqlite3* db, bool* changed) { return Resolve(db, base, path, true, id, created, changed); });
}

LONG RegistryStore::Query(std::int64_t key, std::u16string_view name, DWORD* type, std::vector<BYTE>* data) {
  if (name.size() > kMaxValueNameLen) return ERROR_FILE_NOT_FOUND;
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return ERROR_READ_FAULT;
  Stmt s(db, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
  const int rc = s.Int(1, key).Text16(2, ToUpper(name)).Step();
  if (rc == SQLITE_ROW) {
    *type = static_cast<DWORD>(s.ColInt(0));
    *data = s.ColBytes(1);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return ErrorOf(rc, false);
  const LONG exists = KeyExists(db, key);
  return exists == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : exists;
}

LONG RegistryStore::Set(std::int64_t key, std::u16string_view name, DWORD type, const BYTE* data, DWORD size) {
  if (name.size() > kMaxValueNameLen) return ERROR_INVALID_PARAMETER;
  return Write([&](sqlite3* db, bool* changed) -> LONG {
    const LONG exists = KeyExists(db, key);
    if (exists != ERROR_SUCCESS) return exists;
    // A value keeps the name (and the place in enumeration) it was first given.
    Stmt s(db,
           "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
           "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    const int rc = s.Int(1, key).Text16(2, name).Text16(3, ToUpper(name)).Int(4, type).Bytes(5, data, size).Step();
    if (rc != SQLITE_DONE) return ErrorOf(rc, true);
    Touch(db, key, false);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegistryStore::DeleteValue(std::int64_t key, std::u16string_view name) {
  if (name.size() > kMaxValueNameLen) return ERROR_FILE_NOT_FOUND;
  return Write([&](sqlite3* db, bool* changed) -> LONG {
    const LONG exists = KeyExists(db, key);
    if (exists != ERROR_SUCCESS) return exists;
    Stmt s(db, "DELETE FROM vals WHERE key = ?1 AND folded = ?2");
    const int rc = s.Int(1, key).Text16(2, ToUpper(name)).Step();
    if (rc != SQLITE_DONE) return ErrorOf(rc, true);
    if (sqlite3_changes(db) == 0) return ERROR_FILE_NOT_FOUND;
    Touch(db, key, false);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegistryStore::CompareAndSet(std::int64_t key, std::u16string_view name, const ValueRecord* expected,
                                  const ValueRecord* replacement) {
  if (name.size() > kMaxValueNameLen) return ERROR_INVALID_PARAMETER;
  return Write([&](sqlite3* db, bool* changed) -> LONG {
    const LONG exists = KeyExists(db, key);
    if (exists != ERROR_SUCCESS) return exists;
    const std::u16string folded = ToUpper(name);
    bool present = false;
    {
      Stmt q(db, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
      const int rc = q.Int(1, key).Text16(2, folded).Step();
      if (rc == SQLITE_ROW) {
        present = true;
        if (!expected || static_cast<DWORD>(q.ColInt(0)) != expected->type || q.ColBytes(1) != expected->data)
          return ERROR_REVISION_MISMATCH;
      } else if (rc != SQLITE_DONE) {
        return ErrorOf(rc, false);
      }
    }
    if (!present && expected) return ERROR_REVISION_MISMATCH;
    if (replacement) {
      Stmt s(db,
             "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
             "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
      const int rc = s.Int(1, key).Text16(2, name).Text16(3, folded).Int(4, replacement->type)
                         .Bytes(5, replacement->data.data(), static_cast<DWORD>(replacement->data.size())).Step();
      if (rc != SQLITE_DONE) return ErrorOf(rc, true);
    } else if (present) {
      Stmt d(db, "DELETE FROM vals WHERE key = ?1 AND folded = ?2");
      const int rc = d.Int(1, key).Text16(2, folded).Step();
      if (rc != SQLITE_DONE) return ErrorOf(rc, true);
    } else {
      return ERROR_SUCCESS;  // missing, and asked to stay missing
    }
    Touch(db, key, false);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegistryStore::DeleteKey(std::int64_t base, std::u16string_view path) {
  return Write([&](sqlite3* db, bool* changed) -> LONG {
    std::int64_t id = 0;
    bool created = false;
    bool unused = false;
    LONG r = Resolve(db, base, path, false, &id, &created, &unused);
    if (r != ERROR_SUCCESS) return r;
    if (id == kClassesRootId || id == kCurrentUserId || id == kLocalMachineId) return ERROR_ACCESS_DENIED;
    std::int64_t parent = 0;
    {
      Stmt p(db, "SELECT parent FROM keys WHERE id = ?1");
      if (p.Int(1, id).Step() != SQLITE_ROW) return ERROR_FILE_NOT_FOUND;
      parent = p.ColInt(0);
    }
    static const char* const kDeletes[] = {
        "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) "
        "DELETE FROM vals WHERE key IN (SELECT id FROM sub)",
        "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) "
        "DELETE FROM keys WHERE id IN (SELECT id FROM sub)"};
    for (const char* sql : kDeletes) {
      Stmt d(db, sql);
      const int rc = d.Int(1, id).Step();
      if (rc != SQLITE_DONE) return ErrorOf(rc, true);
    }
    Touch(db, parent, true);
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegistryStore::EnumKey(std::int64_t key, DWORD index, std::u16string* name, ULONGLONG* written) {
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return ERROR_READ_FAULT;
  Stmt s(db, "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
  const int rc = s.Int(1, key).Int(2, index).Step();
  if (rc == SQLITE_ROW) {
    *name = s.ColText16(0);
    *written = static_cast<ULONGLONG>(s.ColInt(1));
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return ErrorOf(rc, false);
  const LONG exists = KeyExists(db, key);
  return exists == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : exists;
}

LONG RegistryStore::EnumValue(std::int64_t key, DWORD index, ValueRecord* out) {
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return ERROR_READ_FAULT;
  Stmt s(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
  const int rc = s.Int(1, key).Int(2, index).Step();
  if (rc == SQLITE_ROW) {
    out->name = s.ColText16(0);
    out->type = static_cast<DWORD>(s.ColInt(1));
    out->data = s.ColBytes(2);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return ErrorOf(rc, false);
  const LONG exists = KeyExists(db, key);
  return exists == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : exists;
}

LONG RegistryStore::Info(std::int64_t key, KeyInfo* out) {
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return ERROR_READ_FAULT;
  Stmt k(db, "SELECT written, (SELECT count(*) FROM keys c WHERE c.parent = ?1),"
             " (SELECT coalesce(max(length(c.name)), 0) FROM keys c WHERE c.parent = ?1),"
             " (SELECT count(*) FROM vals v WHERE v.key = ?1),"
             " (SELECT coalesce(max(length(v.name)), 0) FROM vals v WHERE v.key = ?1),"
             " (SELECT coalesce(max(length(v.data)), 0) FROM vals v WHERE v.key = ?1)"
             " FROM keys WHERE id = ?1");
  const int rc = k.Int(1, key).Step();
  if (rc == SQLITE_DONE) return kErrorKeyDeleted;
  if (rc != SQLITE_ROW) return ErrorOf(rc, false);
  out->written = static_cast<ULONGLONG>(k.ColInt(0));
  out->subKeys = static_cast<DWORD>(k.ColInt(1));
  out->maxSubKeyLen = static_cast<DWORD>(k.ColInt(2) / 2);
  out->values = static_cast<DWORD>(k.ColInt(3));
  out->maxValueNameLen = static_cast<DWORD>(k.ColInt(4) / 2);
  out->maxValueLen = static_cast<DWORD>(k.ColInt(5));
  return ERROR_SUCCESS;
}

LONG RegistryStore::Flush(std::int64_t key) {
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return ERROR_WRITE_FAULT;
  const LONG exists = KeyExists(db, key);
  if (exists != ERROR_SUCCESS) return exists;
  // Copies the journal into the main file and syncs it; readers of other
  // processes may keep part of it back, which loses nothing.
  sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return ERROR_SUCCESS;
}

bool RegistryStore::ChangeStamp(std::int64_t key, bool subtree, DWORD filter, std::int64_t* stamp) {
  std::lock_guard<std::mutex> g(lock_);
  sqlite3* db = Db();
  if (!db) return false;
  Stmt s(db, "SELECT valueSeq, nameSeq, treeValueSeq, treeNameSeq FROM keys WHERE id = ?1");
  const int rc = s.Int(1, key).Step();
  if (rc == SQLITE_DONE) {
    *stamp = -1;
    return true;
  }
  if (rc != SQLITE_ROW) return false;
  const bool values = (filter & REG_NOTIFY_CHANGE_LAST_SET) != 0;
  const bool names = (filter & REG_NOTIFY_CHANGE_NAME) != 0;
  std::int64_t v = 0;
  if (values) v += s.ColInt(subtree ? 2 : 0);
  if (names) v += s.ColInt(subtree ? 3 : 1);
  *stamp = v;
  return true;
}

}  // namespace plat::reg
