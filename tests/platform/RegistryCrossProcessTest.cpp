// The registry shared by the processes of one device: what one process writes
// the next read of another sees, concurrent writers lose nothing, and change
// notification crosses processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/registry/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using orvtest::ChildContext;
using orvtest::ChildProcess;

class RegistryCrossProcessTest : public orvtest::DeviceTest {};

HKEY CreateKey(HKEY root, const char16_t* path) {
  HKEY k = nullptr;
  return RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) == ERROR_SUCCESS ? k
                                                                                                           : nullptr;
}

LONG SetDword(HKEY k, const std::u16string& name, DWORD v) {
  return RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

bool GetDword(HKEY k, const std::u16string& name, DWORD* v) {
  DWORD size = sizeof *v, type = 0;
  return RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(v), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == 4;
}

std::u16string Name(int writer, int i) {
  return u"w" + std::u16string(1, static_cast<char16_t>(u'0' + writer)) + u"-" +
         std::u16string(1, static_cast<char16_t>(u'A' + i / 26 % 26)) +
         std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
}

TEST_F(RegistryCrossProcessTest, AValueWrittenInAChildIsReadByTheParent) {
  // The parent reads first, so its connection is open while the child writes.
  HKEY k = CreateKey(HKEY_CURRENT_USER, u"Software\\Orv Software House\\Orv News");
  ASSERT_NE(k, nullptr);
  DWORD v = 0;
  EXPECT_FALSE(GetDword(k, u"LastUpdateTime", &v));

  const int rc = orvtest::RunInChild([](ChildContext&) {
    HKEY ck = CreateKey(HKEY_CURRENT_USER, u"Software\\Orv Software House\\Orv News");
    if (!ck) return 1;
    if (SetDword(ck, u"LastUpdateTime", 1234) != ERROR_SUCCESS) return 2;
    HKEY sub = CreateKey(ck, u"Channels\\Tech");
    if (!sub) return 3;
    RegCloseKey(sub);
    RegCloseKey(ck);
    return 0;
  });
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(GetDword(k, u"lastupdatetime", &v));
  EXPECT_EQ(v, 1234u);
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyExW(k, u"Channels\\TECH", 0, 0, &sub), ERROR_SUCCESS);
  RegCloseKey(sub);
  RegCloseKey(k);
}

TEST_F(RegistryCrossProcessTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int kWriters = 3;
  constexpr int kValues = 80;
  HKEY k = CreateKey(HKEY_CURRENT_USER, u"Concurrent");
  ASSERT_NE(k, nullptr);
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int w = 0; w < kWriters; w++) {
    children.push_back(std::make_unique<ChildProcess>([w](ChildContext& ctx) {
      HKEY ck = CreateKey(HKEY_CURRENT_USER, u"Concurrent");
      if (!ck) return 1;
      ctx.Ready();
      if (!ctx.WaitFor("go")) return 2;
      for (int i = 0; i < kValues; i++) {
        if (SetDword(ck, Name(w, i), static_cast<DWORD>(w * 1000 + i)) != ERROR_SUCCESS) return 3;
        // Every writer also updates one shared value and creates keys.
        if (SetDword(ck, u"Shared", static_cast<DWORD>(i)) != ERROR_SUCCESS) return 4;
        if (i % 10 == 0) {
          HKEY sub = CreateKey(ck, (u"Sub\\" + Name(w, i)).c_str());
          if (!sub) return 5;
          RegCloseKey(sub);
        }
      }
      return 0;
    }));
  }
  for (auto& c : children) ASSERT_TRUE(c->WaitReady());
  for (auto& c : children) c->Send("go");
  for (auto& c : children) EXPECT_EQ(c->Wait(60000), 0);

  for (int w = 0; w < kWriters; w++) {
    for (int i = 0; i < kValues; i++) {
      DWORD v = 0;
      ASSERT_TRUE(GetDword(k, Name(w, i), &v)) << w << " " << i;
      EXPECT_EQ(v, static_cast<DWORD>(w * 1000 + i));
    }
  }
  DWORD values = 0, subKeys = 0;
  HKEY sub = CreateKey(k, u"Sub");
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegQueryInfoKeyW(sub, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kWriters * kValues + 1));
  EXPECT_EQ(subKeys, static_cast<DWORD>(kWriters * (kValues / 10)));
  RegCloseKey(sub);
  RegCloseKey(k);
}

// Several processes race to take one lock value with a compare-and-set: in
// every round exactly one of them wins, and releasing compares as well.
TEST_F(RegistryCrossProcessTest, CompareAndSetLetsExactlyOneProcessTakeALock) {
  constexpr int kRacers = 3;
  constexpr int kRounds = 20;
  HKEY k = CreateKey(HKEY_CURRENT_USER, u"Locks");
  ASSERT_NE(k, nullptr);
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int r = 0; r < kRacers; r++) {
    children.push_back(std::make_unique<ChildProcess>([r](ChildContext& ctx) {
      HKEY ck = CreateKey(HKEY_CURRENT_USER, u"Locks");
      if (!ck) return 1;
      ctx.Ready();
      if (!ctx.WaitFor("go")) return 2;
      for (int round = 0; round < kRounds; round++) {
        // The value carries the round, so a win is one (racer, round) pair.
        const DWORD mine = static_cast<DWORD>(round * 10 + r + 1);
        const LONG got = RegCompareAndSetValueW(ck, (u"Round" + Name(0, round)).c_str(), nullptr, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&mine), sizeof mine);
        if (got != ERROR_SUCCESS && got != static_cast<LONG>(ERROR_REVISION_MISMATCH)) return 3;
      }
      return 0;
    }));
  }
  for (auto& c : children) ASSERT_TRUE(c->WaitReady());
  for (auto& c : children) c->Send("go");
  for (auto& c : children) EXPECT_EQ(c->Wait(60000), 0);
  for (int round = 0; round < kRounds; round++) {
    DWORD v = 0;
    ASSERT_TRUE(GetDword(k, u"Round" + Name(0, round), &v));
    EXPECT_EQ(v / 10, static_cast<DWORD>(round));
    EXPECT_GE(v % 10, 1u);
    EXPECT_LE(v % 10, static_cast<DWORD>(kRacers));
  }

  // Taking a held lock fails and leaves it; a release that expects another
  // holder's value fails too; the holder's own release removes it.
  const DWORD one = 1, two = 2, zero = 0;
  ASSERT_EQ(RegCompareAndSetValueW(k, u"UpdateLocked", nullptr, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCompareAndSetValueW(k, u"UpdateLocked", nullptr, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
            static_cast<LONG>(ERROR_REVISION_MISMATCH));
  const REG_VALUE_MATCH zeroHeld{REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4};
  EXPECT_EQ(RegCompareAndSetValueW(k, u"UpdateLocked", &zeroHeld, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
            static_cast<LONG>(ERROR_REVISION_MISMATCH));
  const REG_VALUE_MATCH twoHeld{REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4};
  EXPECT_EQ(RegCompareAndDeleteValueW(k, u"UpdateLocked", twoHeld), static_cast<LONG>(ERROR_REVISION_MISMATCH));
  DWORD v = 0;
  ASSERT_TRUE(GetDword(k, u"UpdateLocked", &v));
  EXPECT_EQ(v, 1u);
  const REG_VALUE_MATCH oneHeld{REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4};
  EXPECT_EQ(RegCompareAndDeleteValueW(k, u"UpdateLocked", oneHeld), ERROR_SUCCESS);
  EXPECT_FALSE(GetDword(k, u"UpdateLocked", &v));
  // A value of 0 counts as held by nobody only for a caller that says so.
  ASSERT_EQ(SetDword(k, u"UpdateLocked", 0), ERROR_SUCCESS);
  EXPECT_EQ(RegCompareAndSetValueW(k, u"UpdateLocked", &zeroHeld, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  ASSERT_TRUE(GetDword(k, u"UpdateLocked", &v));
  EXPECT_EQ(v, 1u);
  RegCloseKey(k);
}

TEST_F(RegistryCrossProcessTest, ChangeNotificationFiresForAWriteInAnotherProcess) {
  HKEY k = CreateKey(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware");
  ASSERT_NE(k, nullptr);
  HANDLE n = CeFindFirstRegChange(k, FALSE, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_NE(n, INVALID_HANDLE_VALUE);

  ChildProcess child([](ChildContext& ctx) {
    HKEY ck = CreateKey(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware");
    if (!ck) return 1;
    if (!ctx.WaitFor("write")) return 2;
    if (SetDword(ck, u"Cradled", 1) != ERROR_SUCCESS) return 3;
    return 0;
  });
  // Nothing changed yet.
  EXPECT_EQ(WaitForSingleObject(n, 100), WAIT_TIMEOUT);
  child.Send("write");
  EXPECT_EQ(WaitForSingleObject(n, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(child.Wait(), 0);
  DWORD v = 0;
  EXPECT_TRUE(GetDword(k, u"Cradled", &v));
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(CeFindNextRegChange(n));
  EXPECT_EQ(WaitForSingleObject(n, 0), WAIT_TIMEOUT);
  CeFindCloseRegChange(n);
  RegCloseKey(k);
}

TEST_F(RegistryCrossProcessTest, AKeyDeletedInAnotherProcessIsGoneForOpenHandles) {
  HKEY k = CreateKey(HKEY_CURRENT_USER, u"Doomed\\Inner");
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(SetDword(k, u"v", 1), ERROR_SUCCESS);
  ASSERT_EQ(orvtest::RunInChild([](ChildContext&) {
              return RegDeleteKeyW(HKEY_CURRENT_USER, u"doomed") == ERROR_SUCCESS ? 0 : 1;
            }),
            0);
  DWORD v = 0;
  EXPECT_FALSE(GetDword(k, u"v", &v));
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Doomed", 0, 0, &again), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

}  // namespace
