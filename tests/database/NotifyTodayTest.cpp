// The Today notifier: the change record in the registry, its merge rules, the
// named mutex and event, and the reader's take-and-reset, within one process
// and across processes.
#include "database/NotifyToday.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "core/ProductStrings.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using orvtest::ChildContext;
using orvtest::ChildProcess;

using orvtest::Utf8;

// The record as stored, without creating it; nullopt when missing.
std::optional<std::u16string> StoredRecord() {
  return orvtest::ReadRegString(plat::HKEY_CURRENT_USER, GetProductRegistryKey(), kChangedItemsValue);
}

void StoreRecord(const std::u16string& text) {
  plat::HKEY key = nullptr;
  const std::u16string path = GetProductRegistryKey();
  ASSERT_EQ(plat::RegCreateKeyExW(plat::HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegSetValueExW(key, kChangedItemsValue, 0, plat::REG_SZ,
                                 reinterpret_cast<const plat::BYTE*>(text.c_str()),
                                 static_cast<plat::DWORD>((text.size() + 1) * 2)),
            plat::ERROR_SUCCESS);
  plat::RegCloseKey(key);
}

CStringToIntMap Names(std::initializer_list<std::u16string> names) {
  CStringToIntMap set;
  for (const auto& name : names) set[name] = 0;
  return set;
}

// Watches the product key for value writes.
class WriteWatch {
 public:
  WriteWatch() {
    const std::u16string path = GetProductRegistryKey();
    plat::RegCreateKeyExW(plat::HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key_,
                          nullptr);
    change_ = plat::CeFindFirstRegChange(key_, plat::FALSE, plat::REG_NOTIFY_CHANGE_LAST_SET);
  }
  ~WriteWatch() {
    if (change_ != plat::INVALID_HANDLE_VALUE) plat::CeFindCloseRegChange(change_);
    if (key_) plat::RegCloseKey(key_);
  }
  bool Valid() const { return key_ && change_ != plat::INVALID_HANDLE_VALUE; }
  bool Written(plat::DWORD waitMs) { return plat::WaitForSingleObject(change_, waitMs) == plat::WAIT_OBJECT_0; }

 private:
  plat::HKEY key_ = nullptr;
  plat::HANDLE change_ = plat::INVALID_HANDLE_VALUE;
};

class NotifyTodayTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override { plat::SetClock(nullptr); }

  // Consumes the event's present signal; true when it was signalled.
  static bool TakeEvent(CNotifyToday& notifier) { return notifier.WaitForNotification(0); }
};

// ---- Encoding -----------------------------------------------------------------

struct EncodingCase {
  const char* label;
  std::vector<std::u16string> names;
  std::u16string record;
};
void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.label; }

class NotifyTodayEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(NotifyTodayEncodingTest, NamesRoundTripThroughTheRecord) {
  const EncodingCase& c = GetParam();
  CStringToIntMap names;
  for (const auto& name : c.names) names[name] = 0;
  EXPECT_EQ(Utf8(CNotifyToday::EncodeNames(names)), Utf8(c.record));
  CStringToIntMap decoded{{u"stale", 0}};
  CNotifyToday::DecodeNames(c.record, decoded);
  EXPECT_EQ(decoded, names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotifyTodayEncodingTest,
    ::testing::Values(EncodingCase{"empty", {}, u""},
                      EncodingCase{"two", {u"Sport", u"Tech"}, u"Sport|Tech|"},
                      EncodingCase{"bar_and_backslash", {u"A|B\\C"}, u"A\\|B\\\\C|"},
                      EncodingCase{"trailing_escapes", {u"end\\", u"|"}, u"end\\\\|\\||"},
                      EncodingCase{"non_ascii", {u"Новости", u"日本語 ニュース", u"Ünïcödé"},
                                   u"Ünïcödé|Новости|日本語 ニュース|"},
                      EncodingCase{"empty_name", {u""}, u"|"}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.label); });

TEST(NotifyTodayDecodeTest, TextAfterTheLastBarAndTheMarkersReadAsNoNames) {
  const std::map<std::u16string, CStringToIntMap> cases = {
      {kNoItemsChanged, {}},
      {kAllItemsChanged, {}},
      {u"A|half", Names({u"A"})},
      {u"A|B\\|", Names({u"A"})},          // the last bar is escaped: "B|" has no end
      {u"A|B\\", Names({u"A"})},           // a lone final backslash escapes nothing
      {u"A|A|", Names({u"A"})},
  };
  for (const auto& [record, expected] : cases) {
    CStringToIntMap decoded;
    CNotifyToday::DecodeNames(record, decoded);
    EXPECT_EQ(decoded, expected) << Utf8(record);
  }
}

// ---- Writers --------------------------------------------------------------------

TEST_F(NotifyTodayTest, FirstNotificationCreatesTheRecordWithTheName) {
  ASSERT_FALSE(StoredRecord().has_value());
  CNotifyToday notifier;
  ASSERT_NE(notifier.GetMutex(), nullptr);
  ASSERT_NE(notifier.GetEvent(), nullptr);
  EXPECT_TRUE(TakeEvent(notifier)) << "the event starts signalled";
  EXPECT_FALSE(TakeEvent(notifier)) << "and resets itself";

  notifier.NotifyItemChanged(u"Tech");
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"Tech|"));
  EXPECT_TRUE(TakeEvent(notifier));

  notifier.NotifyItemChanged(u"A|B\\C");
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"A\\|B\\\\C|Tech|"));
  EXPECT_TRUE(TakeEvent(notifier));
}

TEST_F(NotifyTodayTest, NameAlreadyPendingWritesNothingAndSetsNoEvent) {
  CNotifyToday notifier;
  TakeEvent(notifier);
  notifier.NotifyItemChanged(u"Tech");
  ASSERT_TRUE(TakeEvent(notifier));

  WriteWatch watch;
  ASSERT_TRUE(watch.Valid());
  notifier.NotifyItemChanged(u"Tech");
  EXPECT_FALSE(TakeEvent(notifier));
  EXPECT_FALSE(watch.Written(100));
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"Tech|"));
}

TEST_F(NotifyTodayTest, AllChannelsMarkerCoversEveryName) {
  StoreRecord(kAllItemsChanged);
  CNotifyToday notifier;
  TakeEvent(notifier);
  WriteWatch watch;
  ASSERT_TRUE(watch.Valid());
  notifier.NotifyItemChanged(u"Tech");
  EXPECT_FALSE(TakeEvent(notifier));
  EXPECT_FALSE(watch.Written(100));
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kAllItemsChanged));
}

TEST_F(NotifyTodayTest, NotifyReplacesAnyRecordByTheAllChannelsMarker) {
  const std::u16string before[] = {u"", kNoItemsChanged, u"Tech|Sport|", kAllItemsChanged};
  for (const auto& record : before) {
    StoreRecord(record);
    CNotifyToday notifier;
    TakeEvent(notifier);
    notifier.Notify();
    EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kAllItemsChanged)) << Utf8(record);
    EXPECT_TRUE(TakeEvent(notifier)) << Utf8(record);
  }
}

TEST_F(NotifyTodayTest, MissingMutexMakesEveryOperationDoNothing) {
  // The name taken by another kind of object: the mutex cannot be made.
  plat::HANDLE squatter = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, kNotifyTodayMutex);
  ASSERT_NE(squatter, nullptr);
  {
    CNotifyToday notifier;
    EXPECT_EQ(notifier.GetMutex(), nullptr);
    TakeEvent(notifier);
    notifier.Notify();
    notifier.NotifyItemChanged(u"Tech");
    EXPECT_FALSE(StoredRecord().has_value());
    EXPECT_FALSE(TakeEvent(notifier));
    EXPECT_EQ(notifier.ReadChanges(), CNotifyToday::kReadBusy);
  }
  plat::CloseHandle(squatter);
}

TEST_F(NotifyTodayTest, GetInstanceIsOneObject) {
  CNotifyToday* first = CNotifyToday::GetInstance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CNotifyToday::GetInstance(), first);
}

// ---- Reader ---------------------------------------------------------------------

TEST_F(NotifyTodayTest, ReaderTakesTheRecordAndResetsIt) {
  plat::ManualClock clock;
  plat::SetClock(&clock);
  CNotifyToday writer;
  CNotifyToday reader;
  CStringToIntMap names;
  bool all = true;

  // Nothing stored yet: the read creates the nothing-pending marker.
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  EXPECT_FALSE(reader.TakePending(names, all));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(all);
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kNoItemsChanged));

  writer.NotifyItemChanged(u"Tech");
  writer.NotifyItemChanged(u"Sport");
  clock.Advance(1000);
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kNoItemsChanged));
  ASSERT_TRUE(reader.TakePending(names, all));
  EXPECT_EQ(names, Names({u"Sport", u"Tech"}));
  EXPECT_FALSE(all);
  EXPECT_FALSE(reader.TakePending(names, all)) << "handed out once";

  // A record at nothing pending is not written again.
  clock.Advance(1000);
  WriteWatch watch;
  ASSERT_TRUE(watch.Valid());
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  EXPECT_FALSE(watch.Written(100));
}

TEST_F(NotifyTodayTest, PendingNamesMergeUntilTakenAndAllChannelsWins) {
  plat::ManualClock clock;
  plat::SetClock(&clock);
  CNotifyToday writer;
  CNotifyToday reader;
  CStringToIntMap names;
  bool all = false;

  writer.NotifyItemChanged(u"A");
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  writer.NotifyItemChanged(u"B");
  clock.Advance(1000);
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  ASSERT_TRUE(reader.TakePending(names, all));
  EXPECT_EQ(names, Names({u"A", u"B"}));

  writer.NotifyItemChanged(u"C");
  clock.Advance(1000);
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);  // C pending
  writer.Notify();
  writer.NotifyItemChanged(u"D");  // covered by the marker
  clock.Advance(1000);
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kNoItemsChanged));
  ASSERT_TRUE(reader.TakePending(names, all));
  EXPECT_TRUE(all);
  EXPECT_TRUE(names.empty()) << "every channel reloads; single names are dropped";
  EXPECT_FALSE(reader.TakePending(names, all));
  EXPECT_FALSE(all);
}

TEST_F(NotifyTodayTest, ReaderTakesTheRecordAtMostOnceASecond) {
  plat::ManualClock clock(129067776000000000ull, 0xFFFFFF00u);  // the tick count wraps meanwhile
  plat::SetClock(&clock);
  CNotifyToday writer;
  CNotifyToday reader;
  EXPECT_EQ(reader.GetReadDelay(), 0u);
  EXPECT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);

  writer.NotifyItemChanged(u"Tech");
  const struct {
    plat::DWORD advance;
    CNotifyToday::ReadResult result;
    plat::DWORD delayBefore;
  } steps[] = {
      {0, CNotifyToday::kReadThrottled, 1000},
      {999, CNotifyToday::kReadThrottled, 1},
      {1, CNotifyToday::kReadDone, 0},
      {500, CNotifyToday::kReadThrottled, 500},
  };
  for (const auto& step : steps) {
    clock.Advance(step.advance);
    EXPECT_EQ(reader.GetReadDelay(), step.delayBefore);
    EXPECT_EQ(reader.ReadChanges(), step.result);
  }
  // The throttled reads left the record alone; the one read took it.
  CStringToIntMap names;
  bool all = false;
  EXPECT_TRUE(reader.TakePending(names, all));
  EXPECT_EQ(names, Names({u"Tech"}));
}

// ---- Across processes -------------------------------------------------------------

TEST_F(NotifyTodayTest, ConcurrentWritersLoseNoNameAndTheReaderSeesEachOnce) {
  constexpr int kPerWriter = 40;
  // The merge rules are under test, not the time-out: on a loaded machine a
  // writer may wait more than a second for its turn.
  CNotifyToday::SetMutexTimeoutForTests(60000);
  struct RestoreTimeout {
    ~RestoreTimeout() { CNotifyToday::SetMutexTimeoutForTests(CNotifyToday::kMutexTimeoutMs); }
  } restore;
  auto nameOf = [](int writer, int i) {
    const std::u16string prefix[] = {u"a|", u"b\\", u"Канал "};
    std::u16string name = prefix[writer];
    for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
    return name;
  };
  // Each writer writes half its names, waits until the reader has read
  // them, then writes the rest while the reader reads on.
  auto writerBody = [&](int writer) {
    return [=](ChildContext& ctx) {
      CNotifyToday notifier;
      if (!notifier.GetMutex()) return 3;
      ctx.Ready();
      if (!ctx.WaitFor("go")) return 2;
      for (int i = 0; i < kPerWriter / 2; ++i) notifier.NotifyItemChanged(nameOf(writer, i));
      ctx.Send("half");
      if (!ctx.WaitFor("rest")) return 2;
      for (int i = kPerWriter / 2; i < kPerWriter; ++i) notifier.NotifyItemChanged(nameOf(writer, i));
      ctx.Send("written");
      return 0;
    };
  };

  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (int w = 0; w < 3; ++w) writers.push_back(std::make_unique<ChildProcess>(writerBody(w)));
  for (auto& child : writers) ASSERT_TRUE(child->WaitReady());

  plat::ManualClock clock;
  plat::SetClock(&clock);
  CNotifyToday reader;
  std::map<std::u16string, int> seen;
  auto collect = [&] {
    clock.Advance(CNotifyToday::kReadIntervalMs);
    ASSERT_EQ(reader.ReadChanges(), CNotifyToday::kReadDone);
    CStringToIntMap names;
    bool all = false;
    reader.TakePending(names, all);
    EXPECT_FALSE(all);
    for (const auto& entry : names) ++seen[entry.first];
  };

  for (auto& child : writers) child->Send("go");
  for (auto& child : writers) ASSERT_TRUE(child->WaitFor("half"));
  // Between the writes: the first halves, each once.
  collect();
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(3 * (kPerWriter / 2)));
  // Reads that run while the writers write the rest, until each has written.
  for (auto& child : writers) child->Send("rest");
  std::vector<bool> written(writers.size(), false);
  EXPECT_TRUE(orvtest::Eventually(
      [&] {
        collect();
        bool all = true;
        for (std::size_t w = 0; w < writers.size(); ++w) {
          if (!written[w]) written[w] = writers[w]->WaitFor("written", 0);
          all = all && written[w];
        }
        return all;
      },
      60000));
  for (auto& child : writers) EXPECT_EQ(child->Wait(), 0);
  collect();

  EXPECT_EQ(seen.size(), static_cast<std::size_t>(3 * kPerWriter));
  for (int w = 0; w < 3; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      EXPECT_EQ(seen[nameOf(w, i)], 1) << Utf8(nameOf(w, i));
    }
  }
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kNoItemsChanged));
}

TEST_F(NotifyTodayTest, EventWakesAReaderWaitingInAnotherProcess) {
  ChildProcess child([](ChildContext& ctx) {
    CNotifyToday reader;
    reader.WaitForNotification(0);  // the initial signal
    if (reader.WaitForNotification(0)) return 4;
    ctx.Ready();
    if (!reader.WaitForNotification(10000)) return 1;
    if (reader.ReadChanges() != CNotifyToday::kReadDone) return 2;
    CStringToIntMap names;
    bool all = false;
    reader.TakePending(names, all);
    if (all || names != CStringToIntMap{{u"Tech|Ü\\", 0}}) return 3;
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  CNotifyToday writer;
  writer.NotifyItemChanged(u"Tech|Ü\\");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(kNoItemsChanged));
}

TEST_F(NotifyTodayTest, NotificationIsDroppedWhileAnotherProcessHoldsTheMutex) {
  ChildProcess holder([](ChildContext& ctx) {
    plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, kNotifyTodayMutex);
    if (!mutex || plat::WaitForSingleObject(mutex, 0) != plat::WAIT_OBJECT_0) return 1;
    ctx.Ready();
    if (!ctx.WaitFor("release")) return 2;
    plat::ReleaseMutex(mutex);
    ctx.Send("released");
    ctx.WaitFor("exit");
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  StoreRecord(u"Sport|");
  CNotifyToday notifier;
  TakeEvent(notifier);
  notifier.NotifyItemChanged(u"Tech");
  notifier.Notify();
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"Sport|"));
  EXPECT_FALSE(TakeEvent(notifier));

  holder.Send("release");
  ASSERT_TRUE(holder.WaitFor("released"));
  notifier.NotifyItemChanged(u"Tech");
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"Sport|Tech|"));
  EXPECT_TRUE(TakeEvent(notifier));
  holder.Send("exit");
  EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(NotifyTodayTest, MutexLeftByADeadProcessCountsAsAcquired) {
  CNotifyToday notifier;  // keeps the mutex alive after the holder has gone
  ChildProcess holder([](ChildContext& ctx) {
    plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, kNotifyTodayMutex);
    if (!mutex || plat::WaitForSingleObject(mutex, 0) != plat::WAIT_OBJECT_0) return 1;
    ctx.Ready();
    return 0;  // ends holding it
  });
  ASSERT_TRUE(holder.WaitReady());
  ASSERT_EQ(holder.Wait(), 0);

  TakeEvent(notifier);
  notifier.NotifyItemChanged(u"Tech");
  EXPECT_EQ(StoredRecord(), std::optional<std::u16string>(u"Tech|"));
  EXPECT_TRUE(TakeEvent(notifier));
  // The mutex was released again: another process can take it at once.
  EXPECT_EQ(orvtest::RunInChild([](ChildContext&) {
              plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, kNotifyTodayMutex);
              return mutex && plat::WaitForSingleObject(mutex, 0) == plat::WAIT_OBJECT_0 ? 0 : 1;
            }),
            0);
}

}  // namespace
