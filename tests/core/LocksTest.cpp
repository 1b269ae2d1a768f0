#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/MutexLock.h"
#include "core/Synchronized.h"
#include "platform/base/Device.h"
#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

class Lockable : public CSynchronized {};

TEST(Synchronized, SecondThreadWaitsThenRecordsItsOwner) {
  Lockable object;
  object.Lock(u"main", u"first", 1);
  EXPECT_EQ(std::u16string(object.GetOwnerText1()), u"main");
  EXPECT_EQ(object.GetOwnerNumber(), 1);

  std::atomic<bool> acquired{false};
  std::thread worker([&] {
    CSyncLock lock(&object, u"worker", 2, u"second");
    acquired = true;
    EXPECT_TRUE(object.IsLockedByCurrentThread());
  });
  EXPECT_TRUE(orvtest::StaysTrue([&] { return !acquired.load(); }, 50));  // blocked while the main thread holds it
  object.Unlock();
  worker.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_EQ(std::u16string(object.GetOwnerText1()), u"worker");
  EXPECT_EQ(std::u16string(object.GetOwnerText2()), u"second");
  EXPECT_EQ(object.GetOwnerNumber(), 2);
  EXPECT_FALSE(object.IsLockedByCurrentThread());
}

TEST(Synchronized, RecursiveForItsOwnerAndOwnedOnlyByIt) {
  Lockable object;
  EXPECT_FALSE(object.IsLockedByCurrentThread());
  {
    CSyncLock outer(&object);
    CSyncLock inner(&object);
    EXPECT_TRUE(object.IsLockedByCurrentThread());
    bool otherSees = true;
    std::thread([&] { otherSees = object.IsLockedByCurrentThread(); }).join();
    EXPECT_FALSE(otherSees);
  }
  EXPECT_FALSE(object.IsLockedByCurrentThread());
  // Both entries were left: another thread gets the lock at once.
  bool otherGot = false;
  std::thread([&] {
    CSyncLock lock(&object);
    otherGot = object.IsLockedByCurrentThread();
  }).join();
  EXPECT_TRUE(otherGot);
}

TEST(Synchronized, NewObjectHasAnEmptyOwnerRecord) {
  Lockable object;
  EXPECT_EQ(std::u16string(object.GetOwnerText1()), u"");
  EXPECT_EQ(std::u16string(object.GetOwnerText2()), u"");
  EXPECT_EQ(object.GetOwnerNumber(), 0);
}

TEST(Synchronized, LockOnNullObjectNeitherLocksNorUnlocks) {
  Lockable object;
  CSyncLock held(&object);
  { CSyncLock none(nullptr); }
  EXPECT_TRUE(object.IsLockedByCurrentThread());
}

TEST(MutexLock, NullHandleCountsAsLocked) {
  CMutexLock lock(nullptr, 10);
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_FALSE(lock.WasAbandoned());
  lock.Release();
  EXPECT_FALSE(lock.IsLocked());
}

TEST(MutexLock, TimedOutWaitIsNotAcquired) {
  plat::HANDLE mutex = plat::CreateLocalMutex(false);
  ASSERT_NE(mutex, nullptr);
  std::atomic<bool> held{false};
  std::atomic<bool> letGo{false};
  std::thread holder([&] {
    plat::WaitForSingleObject(mutex, plat::INFINITE);
    held = true;
    while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    plat::ReleaseMutex(mutex);
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  {
    CMutexLock lock(mutex, 30);
    EXPECT_FALSE(lock.IsLocked());
    lock.Release();  // holds nothing: must not release the holder's mutex
  }
  letGo = true;
  holder.join();
  {
    CMutexLock lock(mutex, 1000);
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_FALSE(lock.WasAbandoned());
    lock.Release();
    EXPECT_FALSE(lock.IsLocked());
  }
  // Released: another thread gets it at once.
  plat::DWORD other = plat::WAIT_FAILED;
  std::thread([&] {
    other = plat::WaitForSingleObject(mutex, 0);
    if (other == plat::WAIT_OBJECT_0) plat::ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(other, plat::WAIT_OBJECT_0);
  plat::CloseHandle(mutex);
}

TEST(MutexLock, MutexOfAnEndedThreadCountsAsAcquired) {
  plat::HANDLE mutex = plat::CreateLocalMutex(false);
  ASSERT_NE(mutex, nullptr);
  std::thread([&] { plat::WaitForSingleObject(mutex, plat::INFINITE); }).join();  // ends holding it
  {
    CMutexLock lock(mutex, 1000);
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.WasAbandoned());
    lock.Release();
  }
  // The abandoned mutex was released by its new owner: free again.
  plat::DWORD other = plat::WAIT_FAILED;
  std::thread([&] {
    other = plat::WaitForSingleObject(mutex, 0);
    if (other == plat::WAIT_OBJECT_0) plat::ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(other, plat::WAIT_OBJECT_0);
  plat::CloseHandle(mutex);
}

TEST(MutexLock, DestructorReleases) {
  plat::HANDLE mutex = plat::CreateLocalMutex(false);
  { CMutexLock lock(mutex, 1000); ASSERT_TRUE(lock.IsLocked()); }
  plat::DWORD other = plat::WAIT_FAILED;
  std::thread([&] {
    other = plat::WaitForSingleObject(mutex, 0);
    if (other == plat::WAIT_OBJECT_0) plat::ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(other, plat::WAIT_OBJECT_0);
  plat::CloseHandle(mutex);
}

// Across processes: a child takes the device's named mutex, tells the parent
// and holds it until it is told to let go or is killed.
class MutexLockAcrossProcesses : public orvtest::DeviceTest {
 protected:
  static orvtest::ChildProcess::Body Holder(const std::u16string& name) {
    return [name](orvtest::ChildContext& ctx) {
      plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, name.c_str());
      if (!mutex || plat::WaitForSingleObject(mutex, 5000) != plat::WAIT_OBJECT_0) return 1;
      ctx.Ready();
      if (!ctx.WaitFor("release", 20000)) return 2;
      plat::ReleaseMutex(mutex);
      return 0;
    };
  }
};

TEST_F(MutexLockAcrossProcesses, HeldByAnotherProcessTimesOut) {
  const std::u16string name = u"CL.Held channel";
  orvtest::ChildProcess child(Holder(name));
  ASSERT_TRUE(child.WaitReady());
  plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  bool guardedRan = false;
  {
    CMutexLock lock(mutex, 100);
    if (lock.IsLocked()) guardedRan = true;
    lock.Release();
  }
  EXPECT_FALSE(guardedRan);
  child.Send("release");
  EXPECT_EQ(child.Wait(), 0);
  {
    CMutexLock lock(mutex, 5000);  // let go normally: not abandoned
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_FALSE(lock.WasAbandoned());
    lock.Release();
  }
  plat::CloseHandle(mutex);
}

TEST_F(MutexLockAcrossProcesses, MutexOfAKilledProcessCountsAsAcquired) {
  const std::u16string name = u"CL.Killed channel";
  orvtest::ChildProcess child(Holder(name));
  ASSERT_TRUE(child.WaitReady());
  plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  child.Kill();
  child.Wait();
  {
    CMutexLock lock(mutex, 5000);
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.WasAbandoned());
    lock.Release();
  }
  // Its new owner released it: another process gets it normally.
  int result = orvtest::RunInChild([name](orvtest::ChildContext&) {
    plat::HANDLE m = plat::CreateMutexW(nullptr, plat::FALSE, name.c_str());
    if (!m) return 1;
    plat::DWORD r = plat::WaitForSingleObject(m, 2000);
    if (r == plat::WAIT_OBJECT_0) plat::ReleaseMutex(m);
    return r == plat::WAIT_OBJECT_0 ? 0 : 3;
  });
  EXPECT_EQ(result, 0);
  plat::CloseHandle(mutex);
}

}  // namespace
