// The device-wide table of top-level windows: one file ("run/windows") in the
// device folder, mapped shared by every process. Writers take a lock of this
// process and an flock on the file, so a process that dies holding it frees
// it. Entries of processes that have died are dropped (and their surfaces
// unlinked) whenever the table is read.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/Device.h"
#include "platform/ipc/ScreenNotice.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

constexpr std::uint32_t kMagic = 0x4F52574Du;  // "ORWM"
constexpr std::uint32_t kVersion = 4;
constexpr int kEntries = 1024;
constexpr DWORD kFirstHandle = 0x00010000u;

struct TableData {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t size;
  DWORD nextHandle;
  std::int64_t nextZ;
  DWORD foreground;
  DWORD capture;
  std::int32_t capturePid;
  std::uint32_t reserved;
  std::uint64_t captureStart;
  // The screen session: part of every surface name made in it; the display
  // program starts a new one (BeginScreenSession).
  std::uint64_t session;
  TableEntry entries[kEntries];
};

// A session number no earlier table at this folder gave: the real time in
// microseconds (a device folder removed and made again starts above the
// sessions of the one before).
std::uint64_t FreshSession() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

struct Mapping {
  pid_t pid = 0;
  unsigned generation = 0;
  int fd = -1;
  TableData* data = nullptr;
  std::mutex lock;
};

Mapping*& Current() {
  static Mapping* m = nullptr;
  return m;
}
std::mutex& OpenLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

Mapping* Open() {
  std::lock_guard<std::mutex> g(OpenLock());
  Mapping*& cur = Current();
  if (cur && cur->pid == getpid() && cur->generation == DeviceGeneration()) return cur;
  // A mapping of another device (or of the parent before fork) is left mapped:
  // another thread may still read it; it is small.
  static auto* retired = new std::vector<Mapping*>;
  if (cur) retired->push_back(cur);
  auto* m = new Mapping;
  m->pid = getpid();
  m->generation = DeviceGeneration();
  std::string dir = DeviceRunDir();
  ::mkdir(DeviceRoot().c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  std::string path = dir + "/windows";
  m->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m->fd < 0) {
    delete m;
    return nullptr;
  }
  ::flock(m->fd, LOCK_EX);
  struct stat st{};
  ::fstat(m->fd, &st);
  if (static_cast<std::size_t>(st.st_size) < sizeof(TableData)) {
    if (::ftruncate(m->fd, sizeof(TableData)) != 0) {
      ::flock(m->fd, LOCK_UN);
      ::close(m->fd);
      delete m;
      return nullptr;
    }
  }
  void* p = ::mmap(nullptr, sizeof(TableData), PROT_READ | PROT_WRITE, MAP_SHARED, m->fd, 0);
  if (p == MAP_FAILED) {
    ::flock(m->fd, LOCK_UN);
    ::close(m->fd);
    delete m;
    return nullptr;
  }
  m->data = static_cast<TableData*>(p);
  if (m->data->magic != kMagic || m->data->version != kVersion) {
    std::memset(m->data, 0, sizeof(TableData));
    m->data->magic = kMagic;
    m->data->version = kVersion;
    m->data->size = sizeof(TableData);
    m->data->nextHandle = kFirstHandle;
    m->data->nextZ = 1;
    m->data->session = FreshSession();
  }
  ::flock(m->fd, LOCK_UN);
  cur = m;
  return m;
}

// Both locks for the time of one operation.
class Locked {
 public:
  Locked() : m_(Open()) {
    if (!m_) return;
    m_->lock.lock();
    while (::flock(m_->fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~Locked() {
    if (!m_) return;
    ::flock(m_->fd, LOCK_UN);
    m_->lock.unlock();
  }
  explicit operator bool() const { return m_ != nullptr; }
  TableData* operator->() const { return m_->data; }

 private:
  Mapping* m_;
};

bool ProcessAlive(std::int32_t pid, std::uint64_t startTime) {
  if (pid <= 0) return false;
  if (pid == getpid()) return true;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::uint64_t now = table::ProcessStartTime(pid);
  if (now == 0) return false;
  return now == startTime;
}

// Drops the windows of processes that died, and their surfaces; what they
// showed leaves the screen.
void Sweep(TableData* d) {
  bool dropped = false;
  for (TableEntry& e : d->entries) {
    if (e.hwnd && !ProcessAlive(e.pid, e.startTime)) {
      if (e.surfaceWidth > 0)
        ::shm_unlink(table::SurfaceName(e.surfaceSession, e.hwnd, e.surfaceGeneration).c_str());
      if (d->foreground == e.hwnd) d->foreground = 0;
      std::memset(&e, 0, sizeof e);
      dropped = true;
    }
  }
  if (dropped) NotifyScreenChanged();
}

TableEntry* Slot(TableData* d, DWORD hwnd) {
  if (!hwnd) return nullptr;
  for (TableEntry& e : d->entries)
    if (e.hwnd == hwnd) return &e;
  return nullptr;
}

bool Before(const TableEntry& a, const TableEntry& b) {
  bool ta = (a.flags & kTopmost) != 0, tb = (b.flags & kTopmost) != 0;
  if (ta != tb) return ta;
  return a.z > b.z;
}

}  // namespace

namespace table {

std::uint64_t ProcessStartTime(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* f = std::fopen(path, "re");
  if (!f) return 0;
  char buf[1024];
  std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  // The command name may hold spaces: fields count from the last ')'.
  char* p = std::strrchr(buf, ')');
  if (!p) return 0;
  p += 2;  // state
  // A zombie has ended: only its parent has not yet reaped it.
  if (*p == 'Z' || *p == 'X' || *p == 'x') return 0;
  int field = 3;
  while (*p && field < 22) {
    if (*p == ' ') ++field;
    ++p;
  }
  if (field != 22) return 0;
  return std::strtoull(p, nullptr, 10);
}

std::string SurfaceName(std::uint64_t session, DWORD hwnd, std::uint32_t generation) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "/orv-%s-s%llx-w%u-%u", DeviceToken().c_str(),
                static_cast<unsigned long long>(session), static_cast<unsigned>(hwnd),
                static_cast<unsigned>(generation));
  return buf;
}

int CreateSurfaceObject(DWORD hwnd, std::uint32_t generation, std::uint64_t* session) {
  Locked t;
  if (!t) return -1;
  *session = t->session;
  const std::string name = SurfaceName(t->session, hwnd, generation);
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) {
    // Handles are unique in the table and sessions on the folder: the name
    // was left by a program of this session that ended without removing it.
    ::shm_unlink(name.c_str());
    fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  return fd;
}

void BeginScreenSession() {
  Locked t;
  if (!t) return;
  Sweep(t.operator->());
  std::vector<std::string> listed;
  for (const TableEntry& e : t->entries)
    if (e.hwnd && e.surfaceWidth > 0)
      listed.push_back(SurfaceName(e.surfaceSession, e.hwnd, e.surfaceGeneration).substr(1));
  // The names of this device: "orv-<token>-s<session>-w<window>-<generation>".
  const std::string prefix = "orv-" + DeviceToken() + "-";
  const std::string current = prefix + "s" + [&] {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx-", static_cast<unsigned long long>(t->session));
    return std::string(buf);
  }();
  if (DIR* dir = ::opendir("/dev/shm")) {
    while (const dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      // One of the session now may be in the making (listed once the window is).
      if (name.compare(0, current.size(), current) == 0) continue;
      if (std::find(listed.begin(), listed.end(), name) != listed.end()) continue;
      ::shm_unlink(("/" + name).c_str());
    }
    ::closedir(dir);
  }
  t->session = std::max(t->session + 1, FreshSession());
}

DWORD NewHandle() {
  Locked t;
  if (!t) return 0;
  for (;;) {
    DWORD h = t->nextHandle;
    t->nextHandle = (h + 1) & 0x7FFFFFFFu;
    if (t->nextHandle < kFirstHandle) t->nextHandle = kFirstHandle;
    if (!Slot(t.operator->(), h)) return h;
  }
}

bool Add(const TableEntry& e) {
  Locked t;
  if (!t) return false;
  Sweep(t.operator->());
  for (TableEntry& s : t->entries) {
    if (!s.hwnd) {
      s = e;
      s.z = t->nextZ++;
      return true;
    }
  }
  return false;
}

void Remove(DWORD hwnd) {
  Locked t;
  if (!t) return;
  if (TableEntry* s = Slot(t.operator->(), hwnd)) std::memset(s, 0, sizeof *s);
  if (t->foreground == hwnd) t->foreground = 0;
  NotifyScreenChanged();
}

void SetRect(DWORD hwnd, const RECT& r) {
  Locked t;
  if (!t) return;
  if (TableEntry* s = Slot(t.operator->(), hwnd)) {
    if (s->left == r.left && s->top == r.top && s->right == r.right && s->bottom == r.bottom) return;
    s->left = r.left;
    s->top = r.top;
    s->right = r.right;
    s->bottom = r.bottom;
    NotifyScreenChanged();
  }
}

void SetSurface(DWORD hwnd, std::uint64_t session, std::uint32_t generation, int width, int height) {
  Locked t;
  if (!t) return;
  if (TableEntry* s = Slot(t.operator->(), hwnd)) {
    s->surfaceSession = session;
    s->surfaceGeneration = generation;
    s->surfaceWidth = width;
    s->surfaceHeight = height;
    NotifyScreenChanged();
  }
}

CaptureHolder SetCapture(DWORD hwnd) {
  static pid_t startPid = 0;
  static std::uint64_t start = 0;
  if (startPid != getpid()) {
    start = ProcessStartTime(getpid());
    startPid = getpid();
  }
  Locked t;
  if (!t) return {};
  CaptureHolder old;
  if (t->capture && ProcessAlive(t->capturePid, t->captureStart)) old = CaptureHolder{t->capture, t->capturePid};
  t->capture = hwnd;
  t->capturePid = hwnd ? getpid() : 0;
  t->captureStart = hwnd ? start : 0;
  return old;
}

CaptureHolder Capture() {
  Locked t;
  if (!t || !t->capture || !ProcessAlive(t->capturePid, t->captureStart)) return {};
  return CaptureHolder{t->capture, t->capturePid};
}

void SetFlag(DWORD hwnd, DWORD flag, bool on) {
  Locked t;
  if (!t) return;
  if (TableEntry* s = Slot(t.operator->(), hwnd)) {
    DWORD flags = on ? (s->flags | flag) : (s->flags & ~flag);
    if (flags == s->flags) return;
    s->flags = flags;
    NotifyScreenChanged();
  }
}

void SetTitle(DWORD hwnd, const std::u16string& title) {
  Locked t;
  if (!t) return;
  if (TableEntry* s = Slot(t.operator->(), hwnd)) {
    std::size_t n = std::min<std::size_t>(title.size(), kTableTitleChars - 1);
    std::memset(s->title, 0, sizeof s->title);
    std::memcpy(s->title, title.data(), n * sizeof(char16_t));
  }
}

namespace {
// Raises the window and then the windows it owns (and theirs), keeping their
// order among themselves, so a pop-up stays above its owner.
template <class Data>
void RaiseWithOwned(Data* d, DWORD hwnd) {
  TableEntry* s = Slot(d, hwnd);
  if (!s) return;
  s->z = d->nextZ++;
  std::vector<DWORD> owners{hwnd};
  for (std::size_t k = 0; k < owners.size() && k < 64; ++k) {
    std::vector<TableEntry*> owned;
    for (TableEntry& e : d->entries)
      if (e.hwnd && e.owner == owners[k] && e.hwnd != hwnd) owned.push_back(&e);
    std::sort(owned.begin(), owned.end(), [](const TableEntry* a, const TableEntry* b) { return a->z < b->z; });
    for (TableEntry* e : owned) {
      e->z = d->nextZ++;
      owners.push_back(e->hwnd);
    }
  }
}
}  // namespace

void PlaceTop(DWORD hwnd) {
  Locked t;
  if (!t) return;
  if (Slot(t.operator->(), hwnd)) {
    RaiseWithOwned(t.operator->(), hwnd);
    NotifyScreenChanged();
  }
}

void PlaceBottom(DWORD hwnd) {
  Locked t;
  if (!t) return;
  TableEntry* s = Slot(t.operator->(), hwnd);
  if (!s) return;
  // The windows it owns go down with it and stay just above it, in their order.
  std::vector<TableEntry*> group{s};
  for (std::size_t k = 0; k < group.size() && k < 64; ++k)
    for (TableEntry& e : t->entries)
      if (e.hwnd && e.owner == group[k]->hwnd && std::find(group.begin(), group.end(), &e) == group.end())
        group.push_back(&e);
  std::int64_t low = s->z;
  for (TableEntry& e : t->entries)
    if (e.hwnd && e.z < low) low = e.z;
  std::sort(group.begin() + 1, group.end(), [](const TableEntry* a, const TableEntry* b) { return a->z < b->z; });
  std::int64_t z = low - static_cast<std::int64_t>(group.size());
  for (TableEntry* e : group) e->z = z++;
  NotifyScreenChanged();
}

void PlaceAfter(DWORD hwnd, DWORD after) {
  Locked t;
  if (!t) return;
  TableEntry* s = Slot(t.operator->(), hwnd);
  TableEntry* a = Slot(t.operator->(), after);
  if (!s || !a || s == a) return;
  // Everything at or below the place moves one step down.
  std::int64_t place = a->z - 1;
  for (TableEntry& e : t->entries)
    if (e.hwnd && &e != s && e.z <= place) --e.z;
  s->z = place;
  NotifyScreenChanged();
}

std::optional<TableEntry> Get(DWORD hwnd) {
  Locked t;
  if (!t) return std::nullopt;
  TableEntry* s = Slot(t.operator->(), hwnd);
  if (!s) return std::nullopt;
  if (!ProcessAlive(s->pid, s->startTime)) {
    Sweep(t.operator->());
    return std::nullopt;
  }
  return *s;
}

std::vector<TableEntry> Snapshot() {
  std::vector<TableEntry> out;
  Locked t;
  if (!t) return out;
  Sweep(t.operator->());
  for (const TableEntry& e : t->entries)
    if (e.hwnd) out.push_back(e);
  std::sort(out.begin(), out.end(), Before);
  return out;
}

void SetForeground(DWORD hwnd) {
  Locked t;
  if (!t) return;
  t->foreground = hwnd;
  if (Slot(t.operator->(), hwnd)) {
    RaiseWithOwned(t.operator->(), hwnd);
    NotifyScreenChanged();
  }
}

DWORD Foreground() {
  Locked t;
  if (!t) return 0;
  DWORD f = t->foreground;
  TableEntry* s = Slot(t.operator->(), f);
  if (!s || !ProcessAlive(s->pid, s->startTime)) return 0;
  return f;
}

}  // namespace table
}  // namespace plat::wm
