#include "platform/ipc/ObjectTable.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/base/Device.h"

namespace plat::ipc {

namespace {

constexpr std::uint32_t kMagic = 0x4F4F4252;  // "RBOO"
constexpr std::uint32_t kVersion = 1;

// Guards every ObjectTable's process-local state; held across fork so a child
// never inherits it locked.
std::mutex& LocalLock() {
  static std::mutex* m = [] {
    auto* mu = new std::mutex;
    pthread_atfork([] { LocalLock().lock(); }, [] { LocalLock().unlock(); },
                   [] { LocalLock().unlock(); });
    return mu;
  }();
  return *m;
}

bool InitRobustMutex(pthread_mutex_t* m, int type) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, type);
  int rc = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc == 0;
}

// Reads state and start time of a process from /proc; false when it is gone.
bool ReadProcessStat(int pid, char* state, std::uint64_t* startTime) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = 0;
  // The command name (field 2) may hold spaces and parentheses: fields after
  // the last ')' are plain numbers. State is field 3, start time field 22.
  char* p = std::strrchr(buf, ')');
  if (!p) return false;
  p++;
  int field = 2;
  char* save = nullptr;
  for (char* tok = strtok_r(p, " ", &save); tok; tok = strtok_r(nullptr, " ", &save)) {
    field++;
    if (field == 3) *state = tok[0];
    if (field == 22) {
      *startTime = std::strtoull(tok, nullptr, 10);
      return true;
    }
  }
  return false;
}

bool ThreadExists(int tid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d", tid);
  struct stat st;
  return stat(path, &st) == 0;
}

std::uint32_t LoadWord(const void* p) {
  return std::atomic_ref<std::uint32_t>(*static_cast<std::uint32_t*>(const_cast<void*>(p)))
      .load(std::memory_order_acquire);
}

}  // namespace

NameHash HashName(std::u16string_view name) {
  // FNV-1a and a multiply-xorshift hash over the code units, both seeded
  // with the length.
  std::uint64_t a = 1469598103934665603ull ^ name.size();
  std::uint64_t b = 0x9E3779B97F4A7C15ull + name.size();
  for (char16_t c : name) {
    for (unsigned byte : {static_cast<unsigned>(c & 0xFF), static_cast<unsigned>(c >> 8)}) {
      a ^= byte;
      a *= 1099511628211ull;
    }
    b ^= c;
    b *= 0xBF58476D1CE4E5B9ull;
    b ^= b >> 31;
  }
  b ^= b >> 30;
  b *= 0x94D049BB133111EBull;
  b ^= b >> 31;
  return {a, b};
}

class ObjectTable::TableLock {
 public:
  explicit TableLock(TableData* d) : d_(d) {
    if (pthread_mutex_lock(&d_->lock) == EOWNERDEAD) pthread_mutex_consistent(&d_->lock);
  }
  ~TableLock() { pthread_mutex_unlock(&d_->lock); }

 private:
  TableData* d_;
};

std::shared_ptr<ObjectTable> AttachTable() {
  const unsigned generation = DeviceGeneration();
  const std::string path = DeviceRunDir() + "/named-objects";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  // The file lock makes creation and first initialisation one step for the
  // processes that attach at the same time.
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct stat st;
  bool fresh = false;
  if (fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) != sizeof(TableData)) {
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(TableData)) != 0) {
      close(fd);
      SetLastError(ERROR_DISK_FULL);
      return nullptr;
    }
    fresh = true;
  }
  void* p = mmap(nullptr, sizeof(TableData), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* data = static_cast<TableData*>(p);
  if (fresh || data->magic != kMagic || data->version != kVersion || data->size != sizeof(TableData)) {
    std::memset(static_cast<void*>(data), 0, sizeof(TableData));
    InitRobustMutex(&data->lock, PTHREAD_MUTEX_NORMAL);
    for (Slot& s : data->slots) InitRobustMutex(&s.mutex, PTHREAD_MUTEX_ERRORCHECK);
    data->version = kVersion;
    data->size = sizeof(TableData);
    std::atomic_ref<std::uint32_t>(data->magic).store(kMagic, std::memory_order_release);
  }
  flock(fd, LOCK_UN);
  close(fd);
  return std::shared_ptr<ObjectTable>(new ObjectTable(data, generation));
}

std::shared_ptr<ObjectTable> ObjectTable::Current() {
  static std::mutex* m = new std::mutex;
  static std::shared_ptr<ObjectTable>* current = new std::shared_ptr<ObjectTable>;
  std::lock_guard<std::mutex> g(*m);
  if (!*current || (*current)->generation_ != DeviceGeneration()) {
    auto t = AttachTable();
    if (!t) return nullptr;
    *current = std::move(t);
  }
  return *current;
}

void ObjectTable::SetBit(Slot& s, int entry, bool on) {
  std::uint64_t bit = 1ull << (entry % 64);
  if (on)
    s.openers[entry / 64] |= bit;
  else
    s.openers[entry / 64] &= ~bit;
}

bool ObjectTable::AnyBit(const Slot& s) {
  for (std::uint64_t w : s.openers)
    if (w) return true;
  return false;
}

bool ObjectTable::ProcessAlive(int entry) {
  const ProcessEntry& e = data_->processes[entry];
  if (e.pid == 0) return false;
  char state = 0;
  std::uint64_t start = 0;
  if (!ReadProcessStat(e.pid, &state, &start)) return false;
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  return start == e.startTime;
}

void ObjectTable::ForgetProcess(int entry) {
  for (Slot& s : data_->slots) {
    if (s.kind == SlotKind::Free) continue;
    SetBit(s, entry, false);
    if (SlotReclaimable(s)) s.kind = SlotKind::Free;
  }
  data_->processes[entry].pid = 0;
  data_->processes[entry].startTime = 0;
}

void ObjectTable::SweepDeadProcesses() {
  for (int i = 0; i < kMaxProcesses; i++)
    if (data_->processes[i].pid != 0 && !ProcessAlive(i)) ForgetProcess(i);
}

bool ObjectTable::SlotReclaimable(Slot& s) {
  if (AnyBit(s)) return false;
  if (s.kind != SlotKind::Mutex) return true;
  const std::uint32_t word = LoadWord(&s.mutex.__data.__lock);
  const int owner = static_cast<int>(word & FUTEX_TID_MASK);
  if (owner == 0) return true;
  if (word & FUTEX_OWNER_DIED) {
    // Left by a thread that died: take it over once to clear the state.
    int rc = pthread_mutex_trylock(&s.mutex);
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&s.mutex);
    if (rc == 0 || rc == EOWNERDEAD) pthread_mutex_unlock(&s.mutex);
    return true;
  }
  // Still owned by a live thread (which closed its handles): keep it until
  // released, unless that thread is gone.
  return !ThreadExists(owner);
}

void ObjectTable::InitSlot(Slot& s, SlotKind kind, NameHash hash, bool manualReset, bool initialState) {
  // Nobody has the slot open and its mutex is not on any thread's robust
  // list, so it may be initialised afresh.
  InitRobustMutex(&s.mutex, PTHREAD_MUTEX_ERRORCHECK);
  s.recursion = 0;
  s.hash = hash;
  s.manualReset = manualReset ? 1 : 0;
  for (auto& w : s.openers) w = 0;
  std::atomic_ref<std::uint32_t>(s.signaled).store(kind == SlotKind::Event && initialState ? 1 : 0);
  std::atomic_ref<std::uint32_t>(s.manualPulses).store(0);
  std::atomic_ref<std::uint32_t>(s.autoPulses).store(0);
  std::atomic_ref<std::uint32_t>(s.autoPulseTokens).store(0);
  std::atomic_ref<std::uint32_t>(s.waiters).store(0);
  s.kind = kind;
  if (kind == SlotKind::Mutex && initialState) {
    if (pthread_mutex_trylock(&s.mutex) == 0) s.recursion = 1;
  }
}

int ObjectTable::EnsureProcess() {
  const int pid = getpid();
  if (processEntry_ >= 0 && processPid_ == pid && data_->processes[processEntry_].pid == pid)
    return processEntry_;
  // First use in this process, or a forked child that inherited the parent's state.
  SweepDeadProcesses();
  char state = 0;
  std::uint64_t start = 0;
  if (!ReadProcessStat(pid, &state, &start)) return -1;
  for (int i = 0; i < kMaxProcesses; i++) {
    if (data_->processes[i].pid != 0) continue;
    data_->processes[i].pid = pid;
    data_->processes[i].startTime = start;
    processEntry_ = i;
    processPid_ = pid;
    // Handles inherited across fork are this process's too.
    for (int s = 0; s < kSlotCount; s++)
      if (localRefs_[s] > 0 && data_->slots[s].kind != SlotKind::Free) SetBit(data_->slots[s], i, true);
    return i;
  }
  return -1;
}

int ObjectTable::OpenOrCreate(SlotKind kind, NameHash hash, bool create, bool manualReset,
                              bool initialState, bool* existed) {
  std::lock_guard<std::mutex> local(LocalLock());
  TableLock lock(data_);
  *existed = false;
  const int me = EnsureProcess();
  if (me < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  int found = -1;
  for (int i = 0; i < kSlotCount; i++) {
    Slot& s = data_->slots[i];
    if (s.kind != SlotKind::Free && s.hash == hash) {
      found = i;
      break;
    }
  }
  if (found >= 0) {
    Slot& s = data_->slots[found];
    // Openers that died without closing do not keep the object alive.
    for (int e = 0; e < kMaxProcesses; e++) {
      if (e != me && (s.openers[e / 64] >> (e % 64) & 1) && !ProcessAlive(e)) ForgetProcess(e);
    }
    if (s.kind != SlotKind::Free && !SlotReclaimable(s)) {
      if (s.kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
      }
      *existed = true;
      SetBit(s, me, true);
      localRefs_[found]++;
      return found;
    }
    s.kind = SlotKind::Free;
  }
  if (!create) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  int pick = -1;
  for (int pass = 0; pass < 2 && pick < 0; pass++) {
    if (pass == 1) SweepDeadProcesses();
    for (int i = 0; i < kSlotCount; i++) {
      Slot& s = data_->slots[i];
      if (s.kind == SlotKind::Free || SlotReclaimable(s)) {
        pick = i;
        break;
      }
    }
  }
  if (pick < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  Slot& s = data_->slots[pick];
  InitSlot(s, kind, hash, manualReset, initialState);
  SetBit(s, me, true);
  localRefs_[pick]++;
  return pick;
}

void ObjectTable::CloseSlot(int index) {
  std::lock_guard<std::mutex> local(LocalLock());
  if (index < 0 || index >= kSlotCount || localRefs_[index] <= 0) return;
  TableLock lock(data_);
  if (--localRefs_[index] > 0) return;
  const int me = EnsureProcess();
  Slot& s = data_->slots[index];
  if (me >= 0) SetBit(s, me, false);
  if (s.kind != SlotKind::Free && SlotReclaimable(s)) s.kind = SlotKind::Free;
}

UINT ObjectTable::RegisterMessage(NameHash hash) {
  std::lock_guard<std::mutex> local(LocalLock());
  TableLock lock(data_);
  const std::uint32_t count = data_->messageCount;
  for (std::uint32_t i = 0; i < count && i < kMessageCount; i++)
    if (data_->messages[i].hash == hash) return kFirstMessage + i;
  if (count >= kMessageCount) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  data_->messages[count].hash = hash;
  data_->messageCount = count + 1;
  return kFirstMessage + count;
}

}  // namespace plat::ipc
