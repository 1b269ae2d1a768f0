// The device-wide table of named objects: one file ("run/named-objects") in the
// device folder, mapped shared by every process of the device. It holds
//   - the processes that have named objects open (pid and start time, so a
//     dead process is recognised even when its pid is reused),
//   - one slot per named mutex or event: the hash of its name, the processes
//     that have it open, a robust process-shared mutex and the event words,
//   - the registered window-message names.
// A slot lives while a live process has it open (or a live thread still owns
// its mutex); slots of processes that died are reclaimed on the way.
// The mapping is never unmapped: a robust mutex may be on a thread's robust
// list while the thread runs.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/Types.h"

namespace plat::ipc {

// 128-bit hash of a name: objects are found by it.
struct NameHash {
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  bool operator==(const NameHash&) const = default;
};
NameHash HashName(std::u16string_view name);

enum class SlotKind : std::uint32_t { Free = 0, Mutex = 1, Event = 2 };

constexpr int kMaxProcesses = 128;
constexpr int kSlotCount = 2048;
constexpr int kMessageCount = 0x4000;  // numbers 0xC000..0xFFFF
constexpr UINT kFirstMessage = 0xC000;

struct ProcessEntry {
  std::int32_t pid;        // 0: free
  std::int32_t reserved;
  std::uint64_t startTime; // clock ticks since boot, from /proc
};

struct Slot {
  SlotKind kind;
  std::uint32_t manualReset;
  NameHash hash;
  std::uint64_t openers[kMaxProcesses / 64];  // bit per process entry
  // Named mutex: robust, process-shared, error-checking; recursion is counted
  // here by its owner.
  pthread_mutex_t mutex;
  std::uint32_t recursion;
  // Named event. seq is the futex word waiters sleep on; it is bumped by every
  // Set and Pulse.
  std::uint32_t signaled;
  std::uint32_t seq;
  std::uint32_t manualPulses;
  std::uint32_t autoPulses;
  std::uint32_t autoPulseTokens;
  std::uint32_t waiters;
};

struct MessageEntry {
  NameHash hash;
};

struct TableData {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t messageCount;
  pthread_mutex_t lock;  // robust, process-shared: guards everything but the objects' own state
  ProcessEntry processes[kMaxProcesses];
  Slot slots[kSlotCount];
  MessageEntry messages[kMessageCount];
};

// The table of one device, as mapped in this process.
class ObjectTable {
 public:
  // The table of the current device (reattached when the device changed);
  // null when it cannot be mapped (last error set).
  static std::shared_ptr<ObjectTable> Current();

  // Opens the slot of name, creating it with kind (and, for events, the given
  // reset mode and state; for mutexes, owned by the calling thread when asked).
  // existed tells whether it was there already. -1 on failure (last error set:
  // ERROR_INVALID_HANDLE when the name belongs to an object of another kind).
  int OpenOrCreate(SlotKind kind, NameHash hash, bool create, bool manualReset, bool initialState,
                   bool* existed);
  // Drops this process's reference taken by OpenOrCreate.
  void CloseSlot(int index);

  // The number registered for the folded name; 0 when the table is full.
  UINT RegisterMessage(NameHash hash);

  Slot& At(int index) { return data_->slots[index]; }

 private:
  ObjectTable(TableData* data, unsigned generation) : data_(data), generation_(generation) {}

  class TableLock;
  int EnsureProcess();            // this process's entry (after fork: a new one)
  bool ProcessAlive(int entry);
  void ForgetProcess(int entry);  // clears a dead process from every slot
  void SweepDeadProcesses();
  bool SlotReclaimable(Slot& s);  // no openers and its mutex not owned
  void InitSlot(Slot& s, SlotKind kind, NameHash hash, bool manualReset, bool initialState);
  static void SetBit(Slot& s, int entry, bool on);
  static bool AnyBit(const Slot& s);

  TableData* data_;
  unsigned generation_;
  int processEntry_ = -1;
  int processPid_ = 0;
  int localRefs_[kSlotCount] = {};

  friend std::shared_ptr<ObjectTable> AttachTable();
};

}  // namespace plat::ipc
