#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/Job.h"
#include "core/JobManager.h"
#include "platform/base/Thread.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

// Generous bound for things that must happen soon: a hang, not a speed, is
// what it catches.
constexpr int kBoundMs = 20000;
constexpr auto kBound = std::chrono::milliseconds(kBoundMs);

// What the test jobs report, shared by all of them.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> ran;        // names, in the order Execute ran
  std::set<std::string> destroyed;     // names of destroyed jobs
  std::set<std::string> stopped;       // names whose Stop was called
  std::vector<plat::DWORD> threadIds;  // thread of each Execute, in order
  std::vector<int> priorities;         // thread priority of each Execute

  template <class Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kBound, pred);
  }
  bool WaitRan(std::size_t n) {
    return WaitFor([&] { return ran.size() >= n; });
  }
  bool WaitDestroyed(const std::string& name) {
    return WaitFor([&] { return destroyed.count(name) != 0; });
  }
  bool Destroyed(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return destroyed.count(name) != 0;
  }
  bool Stopped(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return stopped.count(name) != 0;
  }
  std::vector<std::string> Ran() {
    std::lock_guard<std::mutex> lock(mutex);
    return ran;
  }
};

// A gate a job can wait at until the test opens it (or the job is stopped).
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    cv.notify_all();
  }
};

class TestJob : public CJob {
 public:
  struct Options {
    int queue = 0;
    bool autoDelete = true;
    bool checkDuplicates = false;
    int key = 0;            // equal keys are equal jobs
    Gate* gate = nullptr;   // Execute waits here until it opens or the job is stopped
    std::atomic<bool>* started = nullptr;
  };

  TestJob(Journal& journal, std::string name, const void* owner, Options options)
      : CJob(owner), journal_(journal), name_(std::move(name)), options_(options) {}

  ~TestJob() override {
    std::lock_guard<std::mutex> lock(journal_.mutex);
    journal_.destroyed.insert(name_);
    journal_.changed.notify_all();
  }

  bool IsAutoDelete() override { return options_.autoDelete; }
  int GetQueue() override { return options_.queue; }
  bool CheckForDuplicates() override { return options_.checkDuplicates; }
  bool IsEqual(CJob* other) override {
    auto* o = dynamic_cast<TestJob*>(other);
    return o && o->options_.key == options_.key;
  }

  void Execute() override {
    if (options_.started) options_.started->store(true);
    {
      std::lock_guard<std::mutex> lock(journal_.mutex);
      journal_.threadIds.push_back(plat::GetCurrentThreadId());
      journal_.priorities.push_back(plat::GetThreadPriority(plat::GetCurrentThread()));
    }
    if (options_.gate) {
      std::unique_lock<std::mutex> lock(options_.gate->mutex);
      options_.gate->cv.wait(lock, [&] { return options_.gate->open || stop_.load(); });
    }
    std::lock_guard<std::mutex> lock(journal_.mutex);
    journal_.ran.push_back(name_);
    journal_.changed.notify_all();
  }

  void Stop() override {
    stop_.store(true);
    {
      std::lock_guard<std::mutex> lock(journal_.mutex);
      journal_.stopped.insert(name_);
    }
    if (options_.gate) {
      std::lock_guard<std::mutex> lock(options_.gate->mutex);
      options_.gate->cv.notify_all();
    }
  }

  const std::string& Name() const { return name_; }

 private:
  Journal& journal_;
  std::string name_;
  Options options_;
  std::atomic<bool> stop_{false};
};

class JobsTest : public orvtest::DeviceTest {
 protected:
  TestJob* Make(const std::string& name, const void* owner = nullptr, TestJob::Options o = {}) {
    return new TestJob(journal_, name, owner, o);
  }
  // A job on queue that holds its thread until gate opens; returns once it runs.
  void Block(CJobManager& manager, Gate& gate, int queue = 0, const void* owner = nullptr,
             const std::string& name = "blocker") {
    std::atomic<bool> started{false};
    TestJob::Options o;
    o.queue = queue;
    o.gate = &gate;
    o.started = &started;
    manager.AddJob(Make(name, owner, o));
    ASSERT_TRUE(orvtest::Eventually([&] { return started.load(); }, kBoundMs));
  }

  Journal journal_;
};

int kOwnerA, kOwnerB;  // owners: their addresses

}  // namespace

TEST_F(JobsTest, RunsEachJobOnceAndDeletesIt) {
  CJobManager manager;
  for (int i = 0; i < 5; ++i) manager.AddJob(Make("job" + std::to_string(i)));
  ASSERT_TRUE(journal_.WaitRan(5));
  EXPECT_EQ(journal_.Ran(), (std::vector<std::string>{"job0", "job1", "job2", "job3", "job4"}));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(journal_.WaitDestroyed("job" + std::to_string(i)));
  manager.Shutdown();
  EXPECT_EQ(journal_.Ran().size(), 5u);  // none ran twice
}

TEST_F(JobsTest, QueueThreadsRunAtIdlePriorityAndStartWithTheirFirstJob) {
  CJobManager manager;
  for (int q = 0; q < CJobManager::kQueueCount; ++q) EXPECT_FALSE(manager.IsQueueStarted(q));

  TestJob::Options q1;
  q1.queue = 1;
  manager.AddJob(Make("q1-a", nullptr, q1));
  ASSERT_TRUE(journal_.WaitRan(1));
  EXPECT_TRUE(manager.IsQueueStarted(1));
  EXPECT_FALSE(manager.IsQueueStarted(0));  // only the thread of queue 1
  EXPECT_FALSE(manager.IsQueueStarted(2));

  manager.AddJob(Make("q0-a"));
  manager.AddJob(Make("q1-b", nullptr, q1));
  ASSERT_TRUE(journal_.WaitRan(3));
  manager.AddJob(Make("q0-b"));
  ASSERT_TRUE(journal_.WaitRan(4));
  EXPECT_TRUE(manager.IsQueueStarted(0));
  EXPECT_FALSE(manager.IsQueueStarted(2));

  std::vector<std::string> ran = journal_.Ran();
  std::vector<plat::DWORD> ids;
  std::vector<int> priorities;
  {
    std::lock_guard<std::mutex> lock(journal_.mutex);
    ids = journal_.threadIds;
    priorities = journal_.priorities;
  }
  for (int p : priorities) EXPECT_EQ(p, plat::THREAD_PRIORITY_IDLE);
  // One thread per queue: the two jobs of each queue share it, the queues don't.
  std::map<std::string, plat::DWORD> byName;
  for (std::size_t i = 0; i < ran.size(); ++i) byName[ran[i]] = ids[i];
  EXPECT_EQ(byName["q0-a"], byName["q0-b"]);
  EXPECT_EQ(byName["q1-a"], byName["q1-b"]);
  EXPECT_NE(byName["q0-a"], byName["q1-a"]);
  EXPECT_NE(byName["q0-a"], plat::GetCurrentThreadId());
}

TEST_F(JobsTest, OrderingOnQueueZero) {
  CJobManager manager;
  Gate gate;
  Block(manager, gate);  // the thread is busy while the order is set up
  manager.AddJob(Make("back1"));
  manager.AddJob(Make("back2"));
  manager.AddJob(Make("front1"), true);
  manager.AddJob(Make("front2"), true);
  manager.AddJob(Make("back3"));
  EXPECT_EQ(manager.GetPendingCount(), 5u);
  gate.Open();
  ASSERT_TRUE(journal_.WaitRan(6));
  EXPECT_EQ(journal_.Ran(),
            (std::vector<std::string>{"blocker", "front2", "front1", "back1", "back2", "back3"}));
}

TEST_F(JobsTest, QueuesDoNotWaitForEachOther) {
  CJobManager manager;
  Gate gate;
  Block(manager, gate, 0);  // queue 0 is held
  TestJob::Options q2;
  q2.queue = 2;
  manager.AddJob(Make("q2", nullptr, q2));
  EXPECT_TRUE(journal_.WaitRan(1));
  EXPECT_EQ(journal_.Ran(), std::vector<std::string>{"q2"});
  gate.Open();
  EXPECT_TRUE(journal_.WaitRan(2));
}

TEST_F(JobsTest, JobAddedAsTheThreadGoesToWaitStillRuns) {
  // Each job is added when the thread has just finished the previous one and
  // is going back to wait: no job may be left waiting for a further AddJob.
  CJobManager manager;
  for (std::size_t i = 1; i <= 200; ++i) {
    manager.AddJob(Make("job" + std::to_string(i)));
    ASSERT_TRUE(journal_.WaitRan(i)) << "job " << i << " never ran";
  }
}

TEST_F(JobsTest, DuplicateDetection) {
  CJobManager manager;
  Gate gate;
  TestJob::Options running;
  running.checkDuplicates = true;
  running.key = 1;
  running.gate = &gate;
  std::atomic<bool> started{false};
  running.started = &started;
  manager.AddJob(Make("running-1", nullptr, running));
  ASSERT_TRUE(orvtest::Eventually([&] { return started.load(); }, kBoundMs));

  TestJob::Options dup;
  dup.checkDuplicates = true;
  dup.key = 2;
  manager.AddJob(Make("waiting-2", nullptr, dup));
  EXPECT_EQ(manager.GetPendingCount(), 1u);

  // Equal to the waiting job: refused and destroyed inside AddJob.
  manager.AddJob(Make("again-2", nullptr, dup));
  EXPECT_TRUE(journal_.Destroyed("again-2"));
  // Equal to the running job: refused too.
  TestJob::Options dup1 = dup;
  dup1.key = 1;
  manager.AddJob(Make("again-1", nullptr, dup1));
  EXPECT_TRUE(journal_.Destroyed("again-1"));
  EXPECT_EQ(manager.GetPendingCount(), 1u);

  // A job that does not ask for the test is queued although it is equal.
  TestJob::Options noCheck;
  noCheck.key = 2;
  manager.AddJob(Make("unchecked-2", nullptr, noCheck));
  EXPECT_EQ(manager.GetPendingCount(), 2u);

  // A refused job that is not auto-delete stays its creator's.
  TestJob::Options kept = dup;
  kept.autoDelete = false;
  TestJob* keptJob = Make("kept-2", nullptr, kept);
  manager.AddJob(keptJob);
  EXPECT_FALSE(journal_.Destroyed("kept-2"));
  EXPECT_EQ(manager.GetPendingCount(), 2u);
  delete keptJob;

  // A different job is queued.
  TestJob::Options other = dup;
  other.key = 3;
  manager.AddJob(Make("other-3", nullptr, other));
  EXPECT_EQ(manager.GetPendingCount(), 3u);

  gate.Open();
  ASSERT_TRUE(journal_.WaitRan(4));
  EXPECT_EQ(journal_.Ran(), (std::vector<std::string>{"running-1", "waiting-2", "unchecked-2", "other-3"}));

  // Once the equal job has run, the same work may be queued again.
  manager.AddJob(Make("later-1", nullptr, dup1));
  ASSERT_TRUE(journal_.WaitRan(5));
  EXPECT_EQ(journal_.Ran().back(), "later-1");
}

TEST_F(JobsTest, CancellationByOwner) {
  CJobManager manager;
  Gate gateA, gateB;
  Block(manager, gateA, 0, &kOwnerA, "runningA");
  Block(manager, gateB, 1, &kOwnerB, "runningB");
  manager.AddJob(Make("a1", &kOwnerA));
  manager.AddJob(Make("b1", &kOwnerB));
  TestJob::Options q1;
  q1.queue = 1;
  manager.AddJob(Make("a2", &kOwnerA, q1));
  TestJob::Options kept;
  kept.autoDelete = false;
  TestJob* keptJob = Make("a3-kept", &kOwnerA, kept);
  manager.AddJob(keptJob);
  EXPECT_EQ(manager.GetPendingCount(), 4u);

  manager.CancelJobs(&kOwnerA);
  // The waiting jobs of A are gone from every queue, deleted unless they are not auto-delete.
  EXPECT_EQ(manager.GetPendingCount(), 1u);
  EXPECT_TRUE(journal_.Destroyed("a1"));
  EXPECT_TRUE(journal_.Destroyed("a2"));
  EXPECT_FALSE(journal_.Destroyed("a3-kept"));
  // The running job of A was asked to stop; its thread ends and deletes it.
  EXPECT_TRUE(journal_.Stopped("runningA"));
  EXPECT_FALSE(journal_.Stopped("runningB"));
  EXPECT_TRUE(journal_.WaitDestroyed("runningA"));

  gateB.Open();
  ASSERT_TRUE(journal_.WaitRan(3));
  std::vector<std::string> ran = journal_.Ran();
  std::multiset<std::string> ranSet(ran.begin(), ran.end());
  EXPECT_EQ(ranSet, (std::multiset<std::string>{"runningA", "runningB", "b1"}));
  manager.Shutdown();
  delete keptJob;
}

TEST_F(JobsTest, CancelAllEmptiesEveryQueueAndStopsEveryRunningJob) {
  CJobManager manager;
  Gate gates[CJobManager::kQueueCount];
  for (int q = 0; q < CJobManager::kQueueCount; ++q) {
    Block(manager, gates[q], q, &kOwnerA, "running" + std::to_string(q));
    TestJob::Options o;
    o.queue = q;
    manager.AddJob(Make("waiting" + std::to_string(q), &kOwnerB, o));
  }
  EXPECT_EQ(manager.GetPendingCount(), 3u);
  manager.CancelJobs(nullptr);
  EXPECT_EQ(manager.GetPendingCount(), 0u);
  for (int q = 0; q < CJobManager::kQueueCount; ++q) {
    EXPECT_TRUE(journal_.Destroyed("waiting" + std::to_string(q)));
    EXPECT_TRUE(journal_.Stopped("running" + std::to_string(q)));
    EXPECT_TRUE(journal_.WaitDestroyed("running" + std::to_string(q)));
  }
  EXPECT_EQ(journal_.Ran().size(), 3u);  // only the three that were running
}

TEST_F(JobsTest, ShutdownWithJobsPendingIsBounded) {
  auto manager = std::make_unique<CJobManager>();
  Gate gates[CJobManager::kQueueCount];  // never opened: only Stop ends the running jobs
  for (int q = 0; q < CJobManager::kQueueCount; ++q) Block(*manager, gates[q], q, nullptr, "blocker" + std::to_string(q));
  for (int i = 0; i < 50; ++i) {
    TestJob::Options o;
    o.queue = i % CJobManager::kQueueCount;
    manager->AddJob(Make("pending" + std::to_string(i), nullptr, o));
  }
  // Shutdown must come back once the running job has ended: it never waits
  // for the pending ones.
  auto done = std::async(std::launch::async, [&] { manager->Shutdown(); });
  ASSERT_EQ(done.wait_for(kBound), std::future_status::ready) << "shutdown hangs";
  EXPECT_TRUE(manager->IsShutdown());
  for (int q = 0; q < CJobManager::kQueueCount; ++q) {
    EXPECT_TRUE(journal_.Stopped("blocker" + std::to_string(q)));
    EXPECT_TRUE(journal_.Destroyed("blocker" + std::to_string(q)));  // its thread was joined after it ended
  }
  EXPECT_EQ(manager->GetPendingCount(), 0u);
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(journal_.Destroyed("pending" + std::to_string(i))) << i;
  EXPECT_EQ(journal_.Ran().size(), 3u);  // the three that were running, none of the pending

  // After shutdown a job is refused and deleted, never left waiting.
  manager->AddJob(Make("late"));
  EXPECT_TRUE(journal_.Destroyed("late"));
  EXPECT_EQ(manager->GetPendingCount(), 0u);
  manager.reset();  // a second shutdown in the destructor does nothing more
  EXPECT_EQ(journal_.Ran().size(), 3u);
}

TEST_F(JobsTest, DestructorShutsDown) {
  Gate gate;
  {
    CJobManager manager;
    Block(manager, gate);
    manager.AddJob(Make("pending"));
  }
  EXPECT_TRUE(journal_.Destroyed("blocker"));
  EXPECT_TRUE(journal_.Destroyed("pending"));
  EXPECT_EQ(journal_.Ran(), std::vector<std::string>{"blocker"});
}

TEST_F(JobsTest, AJobMayAddAndCancelJobs) {
  struct Chain : TestJob {
    Chain(Journal& j, CJobManager& m) : TestJob(j, "chain", nullptr, {}), journal(j), manager(m) {}
    void Execute() override {
      manager.CancelJobs(&kOwnerB);
      manager.AddJob(new TestJob(journal, "follow-up", nullptr, {}));
      TestJob::Execute();
    }
    Journal& journal;
    CJobManager& manager;
  };
  CJobManager manager;
  Gate gate;
  Block(manager, gate);
  manager.AddJob(new Chain(journal_, manager));
  manager.AddJob(Make("b", &kOwnerB));
  gate.Open();
  ASSERT_TRUE(journal_.WaitRan(3));
  EXPECT_EQ(journal_.Ran(), (std::vector<std::string>{"blocker", "chain", "follow-up"}));
  EXPECT_TRUE(journal_.WaitDestroyed("b"));
}

TEST_F(JobsTest, NullJobsAreIgnored) {
  CJobManager manager;
  manager.AddJob(nullptr);
  manager.AddJob(nullptr, true);
  manager.DeleteJob(nullptr);
  EXPECT_EQ(manager.GetPendingCount(), 0u);
  EXPECT_FALSE(manager.IsQueueStarted(0));
}

TEST_F(JobsTest, ProcessManagerIsOne) {
  CJobManager* a = CJobManager::GetInstance();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, CJobManager::GetInstance());
  a->AddJob(Make("global"));
  EXPECT_TRUE(journal_.WaitRan(1));
  EXPECT_TRUE(journal_.WaitDestroyed("global"));
}
