#include "platform/ipc/ScreenNotice.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/base/Device.h"

namespace plat {
namespace {

struct Page {
  std::atomic<std::uint32_t> serial;
  std::atomic<std::uint32_t> waiters;
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

struct Mapping {
  unsigned generation = 0;
  Page* page = nullptr;
};

// The page of the current device; a page of an earlier device stays mapped,
// since another thread may still wait on it.
Page* Current() {
  static std::mutex* lock = new std::mutex;
  static Mapping* current = nullptr;
  static auto* retired = new std::vector<Mapping*>;
  std::lock_guard<std::mutex> g(*lock);
  unsigned gen = DeviceGeneration();
  if (current && current->generation == gen) return current->page;
  std::string path = DeviceRunDir() + "/screen-serial";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || (static_cast<std::size_t>(st.st_size) < sizeof(Page) && ::ftruncate(fd, 4096) != 0)) {
    ::close(fd);
    return nullptr;
  }
  void* p = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  auto* m = new Mapping{gen, static_cast<Page*>(p)};
  if (current) retired->push_back(current);
  current = m;
  return m->page;
}

long Futex(std::atomic<std::uint32_t>* addr, int op, std::uint32_t val, const timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(addr), op, val, timeout, nullptr, 0);
}

}  // namespace

void NotifyScreenChanged() {
  Page* p = Current();
  if (!p) return;
  p->serial.fetch_add(1);
  if (p->waiters.load() != 0) Futex(&p->serial, FUTEX_WAKE, INT32_MAX, nullptr);
}

std::uint32_t ScreenChangeSerial() {
  Page* p = Current();
  return p ? p->serial.load() : 0;
}

std::uint32_t WaitScreenChange(std::uint32_t seen, DWORD timeoutMs) {
  Page* p = Current();
  if (!p) return 0;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == INFINITE ? 0 : timeoutMs);
  for (;;) {
    std::uint32_t now = p->serial.load();
    if (now != seen) return now;
    timespec ts{};
    const timespec* limit = nullptr;
    if (timeoutMs != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
      if (left <= 0) return now;
      ts.tv_sec = static_cast<time_t>(left / 1000000000);
      ts.tv_nsec = static_cast<long>(left % 1000000000);
      limit = &ts;
    }
    // Shared futex: the page is mapped by other processes too.
    p->waiters.fetch_add(1);
    Futex(&p->serial, FUTEX_WAIT, seen, limit);
    p->waiters.fetch_sub(1);
  }
}

}  // namespace plat
