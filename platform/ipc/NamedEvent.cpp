#include "platform/ipc/NamedEvent.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace plat::ipc {

namespace {

using Word = std::atomic_ref<std::uint32_t>;

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Sleeps while *word == expected (shared futex: the word is in a mapping
// shared between processes), at most relNs when relNs >= 0.
void FutexWait(std::uint32_t* word, std::uint32_t expected, std::int64_t relNs) {
  timespec ts;
  timespec* tp = nullptr;
  if (relNs >= 0) {
    ts.tv_sec = relNs / 1000000000LL;
    ts.tv_nsec = relNs % 1000000000LL;
    tp = &ts;
  }
  syscall(SYS_futex, word, FUTEX_WAIT, expected, tp, nullptr, 0);
}

void FutexWakeAll(std::uint32_t* word) { syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

}  // namespace

NamedEvent::~NamedEvent() { table_->CloseSlot(slot_); }

bool NamedEvent::TryConsume() {
  Slot& s = S();
  if (s.manualReset) return Word(s.signaled).load() != 0;
  std::uint32_t one = 1;
  return Word(s.signaled).compare_exchange_strong(one, 0);
}

void NamedEvent::Wake() {
  Slot& s = S();
  Word(s.seq).fetch_add(1);
  FutexWakeAll(&s.seq);
}

KernelObject::Probe NamedEvent::TryAcquire() { return TryConsume() ? Probe::Signaled : Probe::NotSignaled; }

DWORD NamedEvent::WaitOne(DWORD timeoutMs) {
  Slot& s = S();
  if (TryConsume()) return WAIT_OBJECT_0;
  if (timeoutMs == 0) return WAIT_TIMEOUT;
  const std::int64_t deadline =
      timeoutMs == INFINITE ? -1 : NowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000LL;
  // Pulses that happen from now on release this waiter.
  Word(s.waiters).fetch_add(1);
  const std::uint32_t manualStart = Word(s.manualPulses).load();
  const std::uint32_t autoStart = Word(s.autoPulses).load();
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    const std::uint32_t seq = Word(s.seq).load();
    if (TryConsume()) {
      result = WAIT_OBJECT_0;
      break;
    }
    if (s.manualReset) {
      if (Word(s.manualPulses).load() != manualStart) {
        result = WAIT_OBJECT_0;
        break;
      }
    } else if (Word(s.autoPulses).load() != autoStart) {
      std::uint32_t tokens = Word(s.autoPulseTokens).load();
      bool claimed = false;
      while (tokens > 0 && !claimed) claimed = Word(s.autoPulseTokens).compare_exchange_weak(tokens, tokens - 1);
      if (claimed) {
        result = WAIT_OBJECT_0;
        break;
      }
    }
    std::int64_t rel = -1;
    if (deadline >= 0) {
      rel = deadline - NowNs();
      if (rel <= 0) break;
    }
    FutexWait(&s.seq, seq, rel);
  }
  Word(s.waiters).fetch_sub(1);
  return result;
}

bool NamedEvent::Set() {
  Word(S().signaled).store(1);
  Wake();
  return true;
}

bool NamedEvent::Reset() {
  Word(S().signaled).store(0);
  return true;
}

bool NamedEvent::Pulse() {
  Slot& s = S();
  Word(s.signaled).store(0);
  if (s.manualReset) {
    Word(s.manualPulses).fetch_add(1);
  } else {
    // One more waiter may go, but never more than are waiting now.
    const std::uint32_t waiting = Word(s.waiters).load();
    std::uint32_t tokens = Word(s.autoPulseTokens).load();
    while (tokens < waiting && !Word(s.autoPulseTokens).compare_exchange_weak(tokens, tokens + 1)) {
    }
    Word(s.autoPulses).fetch_add(1);
  }
  Wake();
  return true;
}

unsigned NamedEvent::Waiters() { return Word(S().waiters).load(); }

unsigned NamedEventWaiters(HANDLE h) {
  // Null and the pseudo handles (small negative values) are no objects.
  const auto bits = reinterpret_cast<std::uintptr_t>(h);
  auto* e = bits < 0x10000 || bits > UINTPTR_MAX - 0x10000 ? nullptr : dynamic_cast<NamedEvent*>(h);
  return e ? e->Waiters() : 0;
}

}  // namespace plat::ipc
