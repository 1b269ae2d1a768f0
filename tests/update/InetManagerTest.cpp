#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/registry/Registry.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/Wait.h"
#include "tests/update/InetTestSupport.h"

namespace {

using Script = plat::ScriptedConnectionProvider::Script;
using orvtest::Eventually;

class InetManagerTest : public orvtest::InetTest {};

TEST_F(InetManagerTest, CostFollowsTheSessionsFreeOnlyFlags) {
  struct Case {
    const char* name;
    bool firstFreeOnly;
    bool secondFreeOnly;
    unsigned long long firstCost;
  } cases[] = {
      {"free only", true, true, 0},
      {"paid allowed", false, true, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    orvtest::RecordingListener l1, l2;
    {
      CInetSession first(&l1, c.firstFreeOnly, manager_.get());
      ASSERT_TRUE(first.WaitForConnection());
      CInetSession second(&l2, c.secondFreeOnly, manager_.get());
      EXPECT_TRUE(second.WaitForConnection());
      auto requests = provider_->Requests();
      ASSERT_EQ(requests.size(), 1u) << "a second session must not request again";
      EXPECT_EQ(requests[0].info.ulMaxCost, c.firstCost);
      EXPECT_EQ(requests[0].info.dwParams, 3u);
      EXPECT_EQ(requests[0].info.dwFlags, 15u);
      EXPECT_EQ(requests[0].info.dwPriority, 0x8000u);
      EXPECT_EQ(std::memcmp(&requests[0].info.guidDestNet, &plat::IID_DestNetInternet, sizeof(plat::GUID)), 0);
      EXPECT_EQ(manager_->IsFreeOnly(), c.firstFreeOnly);
    }
    // The last session left: released, back to free only.
    EXPECT_TRUE(Eventually([&] { return manager_->GetState() == CInetManager::STATE_NONE; }));
    EXPECT_TRUE(Eventually([&] { return provider_->ReleaseCount() == 1; }));
    EXPECT_TRUE(manager_->IsFreeOnly());
    EXPECT_FALSE(manager_->GetWinInet().HasInternet());
    EXPECT_EQ(plat::LiveConnectionCount(), 0u);
    TearDown();
  }
}

TEST_F(InetManagerTest, FailedOrRefusedConnectionsCancelTheSession) {
  struct Case {
    const char* name;
    Script script;
  };
  Script refused;
  refused.refuse = true;
  Script paidOnly;
  paidOnly.paid = true;
  Script failed;
  failed.finalStatus = plat::CONNMGR_STATUS_CONNECTIONFAILED;
  Script noPath;
  noPath.finalStatus = plat::CONNMGR_STATUS_NOPATHTODESTINATION;
  Case cases[] = {{"refused", refused}, {"paid only", paidOnly}, {"failed", failed}, {"no path", noPath}};
  std::vector<std::unique_ptr<orvtest::RecordingListener>> listeners;
  std::vector<std::unique_ptr<CInetSession>> sessions;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    provider_->SetScript(c.script);
    listeners.push_back(std::make_unique<orvtest::RecordingListener>());
    orvtest::RecordingListener& l = *listeners.back();
    sessions.push_back(std::make_unique<CInetSession>(&l, true, manager_.get()));
    CInetSession& session = *sessions.back();
    EXPECT_FALSE(session.WaitForConnection());
    EXPECT_TRUE(Eventually([&] { return session.IsCancelled(); }));
    EXPECT_TRUE(Eventually([&] { return l.Count(IInetEventListener::EVENT_CANCELLED) >= 1; }));
    EXPECT_TRUE(Eventually([&] { return manager_->GetState() == CInetManager::STATE_NONE; }));
  }
}

TEST_F(InetManagerTest, PaidConnectionServesASessionThatAllowsIt) {
  Script paid;
  paid.paid = true;
  paid.roaming = true;
  provider_->SetScript(paid);
  orvtest::RecordingListener l;
  CInetSession session(&l, false, manager_.get());
  EXPECT_TRUE(session.WaitForConnection());
  EXPECT_TRUE(Eventually([&] { return l.Count(IInetEventListener::EVENT_CONNECTED) == 1; }));
  const auto status = orvtest::ReadRegDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", u"Status");
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(*status & 0x200u);
}

TEST_F(InetManagerTest, StalledConnectionRequestTimesOut) {
  Script slow;
  slow.manual = true;  // never answered
  provider_->SetScript(slow);
  manager_->SetConnectTimeout(300);
  orvtest::RecordingListener l;
  auto start = std::chrono::steady_clock::now();
  CInetSession session(&l, true, manager_.get());
  EXPECT_FALSE(session.WaitForConnection());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(manager_->GetState(), CInetManager::STATE_NONE);
}

TEST_F(InetManagerTest, SlowConnectionResumesWaitingJobs) {
  Script slow;
  slow.manual = true;
  provider_->SetScript(slow);
  orvtest::HttpTestServer server;
  server.Serve("/doc", "hello");
  orvtest::RecordingListener l;
  CInetSession session(&l, true, manager_.get());
  CInetJob job(&session, plat::Utf8ToUtf16(server.Url("/doc")));
  job.SetKeepInMemory(true);
  std::thread runner([&] { job.Execute(); });
  // The request reaches the provider just before the manager records its state.
  ASSERT_TRUE(Eventually([&] { return provider_->LastId() != 0; }));
  EXPECT_TRUE(Eventually([&] { return manager_->GetState() == CInetManager::STATE_CONNECTING; }));
  plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_WAITINGCONNECTION);
  plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_CONNECTED);
  runner.join();
  EXPECT_EQ(job.GetResult(), CInetJob::RESULT_SUCCESS);
  EXPECT_EQ(job.GetBody(), "hello");
}

TEST_F(InetManagerTest, DroppedConnectionCancelsRunningJobs) {
  orvtest::HttpTestServer server;
  server.Route("/slow", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = std::string(100, 'x');
    r.trickleDelayMs = 100;
    return r;
  });
  orvtest::RecordingListener l;
  CInetSession session(&l, true, manager_.get());
  ASSERT_TRUE(session.WaitForConnection());
  CInetJob job(&session, plat::Utf8ToUtf16(server.Url("/slow")));
  job.SetKeepInMemory(true);
  std::thread runner([&] { job.Execute(); });
  ASSERT_TRUE(Eventually([&] { return job.GetDeliveredLength() > 0; }));
  plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_DISCONNECTED);
  runner.join();
  EXPECT_EQ(job.GetResult(), CInetJob::RESULT_CANCELLED);
  EXPECT_TRUE(session.IsCancelled());
  EXPECT_GE(l.Count(IInetEventListener::EVENT_CANCELLED), 1);
  EXPECT_TRUE(Eventually([&] { return provider_->ReleaseCount() == 1; }));
}

// A session listener that takes another lock, which a second thread holds
// while it calls into the manager: with listeners called under the manager
// lock this would deadlock.
class LockingListener : public IInetEventListener {
 public:
  explicit LockingListener(std::mutex& m) : m_(m) {}
  void OnInetEvent(int code, CInetJob* job) override {
    std::lock_guard<std::mutex> g(m_);
    if (code == EVENT_CONNECTED) connected = true;
  }
  std::atomic<bool> connected{false};

 private:
  std::mutex& m_;
};

TEST_F(InetManagerTest, ListenersAreCalledWithoutTheManagerLock) {
  Script slow;
  slow.manual = true;
  provider_->SetScript(slow);
  std::mutex other;
  LockingListener listener(other);
  CInetSession session(&listener, true, manager_.get());
  ASSERT_TRUE(Eventually([&] { return provider_->LastId() != 0; }));
  std::atomic<bool> done{false};
  std::thread holder([&] {
    std::lock_guard<std::mutex> g(other);
    plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_CONNECTED);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    manager_->GetState();  // needs the manager lock while holding the other lock
    done = true;
  });
  holder.join();
  EXPECT_TRUE(done.load());
  EXPECT_TRUE(session.WaitForConnection());
  EXPECT_TRUE(Eventually([&] { return listener.connected.load(); }));
}

TEST_F(InetManagerTest, ListenerMayLeaveDuringTheCall) {
  orvtest::RecordingListener l1, l2;
  auto first = std::make_unique<CInetSession>(&l1, true, manager_.get());
  CInetSession second(&l2, true, manager_.get());
  ASSERT_TRUE(second.WaitForConnection());
  // A drop: the first session cancels (and so leaves) inside its call; the second still hears it.
  plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_DISCONNECTED);
  EXPECT_TRUE(Eventually([&] { return second.IsCancelled() && first->IsCancelled(); }));
  EXPECT_GE(l2.Count(IInetEventListener::EVENT_CANCELLED), 1);
  first.reset();
}

}  // namespace

namespace {

// A session made just as the last one left finds the connection up: the
// release asked for when that one left does not take it away from the new
// one (one run of updates right after another).
TEST_F(InetManagerTest, SessionMadeWhileTheLastOneLeavesKeepsTheConnection) {
  orvtest::RecordingListener first, second;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    {
      CInetSession leaving(&first, true, manager_.get());
      ASSERT_TRUE(leaving.WaitForConnection());
    }
    CInetSession next(&second, true, manager_.get());
    ASSERT_TRUE(next.WaitForConnection());
    EXPECT_TRUE(orvtest::StaysTrue([&] { return next.IsConnected(); }, 20));
  }
}

}  // namespace

namespace {

// A free-only session that comes while a paid connection is being released
// (its last session just left) gets a free connection of its own: it is not
// cancelled with the paid one, nor served by it.
TEST_F(InetManagerTest, FreeOnlySessionArrivingAsAPaidConnectionIsReleasedGetsAFreeOne) {
  orvtest::RecordingListener paidListener, freeListener;
  std::unique_ptr<CInetSession> freeOnly;
  {
    auto paid = std::make_unique<CInetSession>(&paidListener, false, manager_.get());
    ASSERT_TRUE(paid->WaitForConnection());
    ASSERT_TRUE(Eventually([&] { return paidListener.Count(IInetEventListener::EVENT_CONNECTED) == 1; }));
    ASSERT_EQ(provider_->Requests().size(), 1u);
    // The connection thread takes the release only once both have happened.
    CSyncLock hold(manager_.get(), u"test");
    paid.reset();
    freeOnly = std::make_unique<CInetSession>(&freeListener, true, manager_.get());
  }
  EXPECT_TRUE(freeOnly->WaitForConnection());
  EXPECT_FALSE(freeOnly->IsCancelled());
  EXPECT_EQ(freeListener.Count(IInetEventListener::EVENT_CANCELLED), 0);
  const auto requests = provider_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].info.ulMaxCost, 10000u);
  EXPECT_EQ(requests[1].info.ulMaxCost, 0u);
  EXPECT_EQ(provider_->ReleaseCount(), 1u);
  EXPECT_TRUE(manager_->IsFreeOnly());
  // Its downloads run.
  orvtest::HttpTestServer server;
  server.Serve("/doc", "free");
  CInetJob job(freeOnly.get(), plat::Utf8ToUtf16(server.Url("/doc")));
  job.SetKeepInMemory(true);
  job.Execute();
  EXPECT_EQ(job.GetResult(), CInetJob::RESULT_SUCCESS) << plat::Utf16ToUtf8(job.GetErrorText());
  EXPECT_EQ(job.GetBody(), "free");
}

}  // namespace
