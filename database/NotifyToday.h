// Tells the Today-screen item, which runs in another process, which channels
// changed so that it reloads them. Writers (the main program, the Today
// options program) keep a change record in the registry and set a named
// event; the Today item wakes on the event, takes the record and resets it.
//
// The record is the REG_SZ value kChangedItemsValue of the product key. It
// holds the nothing-pending marker, the all-channels marker, or a list of
// channel names, each followed by "|" ("|" and "\" inside a name escaped by
// "\"). Every read-modify-write of it, in any process, happens under the
// named mutex kNotifyTodayMutex. Lock order: this object's lock, then the
// named mutex.
#pragma once

#include <string>

#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "platform/base/Handle.h"
#include "platform/base/Types.h"

// Names shared by every process of the device.
inline constexpr const char16_t* kNotifyTodayMutex = u"827584C5-B750-4dce-8665-CAE2B3037BAE";
inline constexpr const char16_t* kNotifyTodayEvent = u"085B13A8-66A5-46f2-B03A-6A18BA1E4C43";
inline constexpr const char16_t* kChangedItemsValue = u"D20926EB-4EA7-47dc-B17F-987CCCBA69CB";
inline constexpr const char16_t* kAllItemsChanged = u"2F1AD2CA-9E7C-4895-9008-4A2480628B99";
inline constexpr const char16_t* kNoItemsChanged = u"DAADA2BC-0064-4289-8BC8-A825F8374003";

class CNotifyToday : public CSynchronized {
 public:
  // The longest wait for the named mutex; a notification that cannot get it
  // in time is dropped.
  static constexpr plat::DWORD kMutexTimeoutMs = 1000;
  // Tests that check the merge rules under heavy contention wait longer, so
  // that a slow machine does not turn a late writer into a dropped name.
  // Affects notifiers made afterwards (also in processes forked afterwards).
  static void SetMutexTimeoutForTests(plat::DWORD ms);
  // The reader takes the record at most once in this many milliseconds.
  static constexpr plat::DWORD kReadIntervalMs = 1000;

  // The process's notifier, created on the first call, destroyed at exit.
  static CNotifyToday* GetInstance();

  // Opens (or creates) the named mutex and the named auto-reset event, which
  // starts signalled. When either cannot be made its handle stays null; the
  // object is usable, and without the mutex every operation does nothing.
  CNotifyToday();
  ~CNotifyToday() override;
  CNotifyToday(const CNotifyToday&) = delete;
  CNotifyToday& operator=(const CNotifyToday&) = delete;

  // ---- Writers --------------------------------------------------------------

  // Every channel changed: the record becomes the all-channels marker,
  // whatever it held, and the event is set.
  void Notify();
  // The named channel changed: it is added to the record's list and the
  // event is set, unless the record already covers it (all-channels marker,
  // or the name already listed), in which case nothing is written or set.
  void NotifyItemChanged(const std::u16string& name);

  // ---- Reader (the Today item) ----------------------------------------------

  enum ReadResult {
    kReadThrottled,  // the record was taken less than kReadIntervalMs ago
    kReadBusy,       // the mutex was not acquired (or is missing): try again later
    kReadDone,       // the record was taken into the pending state
  };
  // Takes the record: listed names are merged into the pending names, the
  // all-channels marker empties them and sets the all-pending flag, and the
  // record is reset to the nothing-pending marker. Throttled by the tick
  // count (plat::GetTickCount); a throttled call has consumed nothing, so
  // after a wake-up it is to be repeated once GetReadDelay has passed.
  ReadResult ReadChanges();
  // Milliseconds until ReadChanges reads again (0: it would read now).
  plat::DWORD GetReadDelay();
  // Hands out the pending state and clears it. True when anything was
  // pending. names receives the changed channels (emptied first); all is
  // true when every channel is to be reloaded.
  bool TakePending(CStringToIntMap& names, bool& all);
  // Waits at most timeoutMs for a writer's event; true when it came.
  bool WaitForNotification(plat::DWORD timeoutMs);

  plat::HANDLE GetMutex() const { return mutex_; }
  plat::HANDLE GetEvent() const { return event_; }

  // ---- Record encoding ------------------------------------------------------

  // Each name followed by "|", with "|" and "\" inside a name escaped.
  static std::u16string EncodeNames(const CStringToIntMap& names);
  // The names of a record; text after the last unescaped "|" is ignored, so
  // either marker reads as no names.
  static void DecodeNames(const std::u16string& record, CStringToIntMap& names);

 private:
  plat::HANDLE mutex_ = nullptr;
  plat::HANDLE event_ = nullptr;
  // What the reader has taken from the record and not yet handed out.
  CStringToIntMap names_;
  int allPending_ = 0;
  bool hasRead_ = false;
  plat::DWORD lastReadTick_ = 0;
};
