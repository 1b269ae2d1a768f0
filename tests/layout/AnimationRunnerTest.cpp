// The animation thread on a test clock: the times it steps at, the pace of
// its frames, the "AnimationDelay" slow-down, and stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "core/OrvException.h"
#include "layout/AnimationRunner.h"
#include "platform/base/Sync.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

using namespace plat;

// Time moves only when the runner waits (by the wait) or a step takes time.
// At wait number blockAt the clock tells the test and waits for the stop.
class TestClock : public IAnimationClock {
 public:
  DWORD Now() override { return now_.load(); }
  DWORD WaitFor(HANDLE event, DWORD ms) override {
    waits_.push_back(ms);
    if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
    if (static_cast<int>(waits_.size()) == blockAt_) {
      SetEvent(blocked_);
      return WaitForSingleObject(event, INFINITE);
    }
    now_ += ms;
    return WAIT_TIMEOUT;
  }
  void Advance(DWORD ms) { now_ += ms; }

  std::atomic<DWORD> now_{5000};
  std::vector<DWORD> waits_;
  int blockAt_ = -1;
  HANDLE blocked_ = CreateLocalEvent(true, false);
  ~TestClock() override { CloseHandle(blocked_); }
};

class TestAnimation : public IAnimation {
 public:
  TestAnimation(DWORD duration, TestClock* clock, std::vector<DWORD> stepCosts = {})
      : duration_(duration), clock_(clock), costs_(std::move(stepCosts)) {}
  void GetDuration(DWORD* ms) override { *ms = duration_; }
  void Step(DWORD ms) override {
    steps.push_back(ms);
    at.push_back(clock_->Now());
    if (!costs_.empty()) clock_->Advance(costs_[std::min(costs_.size() - 1, steps.size() - 1)]);
  }
  void Finish(bool interrupted) override {
    if (window) animatingAtFinish = IsWindowAnimating(window) != FALSE;
    finishes.push_back(interrupted);
    SetEvent(finished);
  }
  ~TestAnimation() override { CloseHandle(finished); }

  std::vector<DWORD> steps, at;
  HANDLE finished = CreateLocalEvent(true, false);
  std::vector<bool> finishes;
  // Looked at when it finishes: the window's mark as other programs see it.
  HWND window = nullptr;
  bool animatingAtFinish = false;

 private:
  DWORD duration_;
  TestClock* clock_;
  std::vector<DWORD> costs_;
};

class AnimationRunnerTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    ResetAnimationDelayForTesting();
  }
  void TearDown() override {
    ResetAnimationDelayForTesting();
    LayoutTest::TearDown();
  }
  void SetDelay(DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Orv Software House\\Shared", 0, nullptr, 0, 0,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, u"AnimationDelay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    ResetAnimationDelayForTesting();
  }
  // Plays the animation to its end and lets the runner go.
  void Play(TestAnimation* a, TestClock* clock) {
    AnimationRunner runner;
    runner.SetClock(clock);
    runner.Start(a, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(WaitForSingleObject(a->finished, 10000), WAIT_OBJECT_0);
    runner.Stop();  // joins the thread that ended by itself
    EXPECT_FALSE(runner.HasAnimation());
  }
};

TEST_F(AnimationRunnerTest, StepTimesAndFramePace) {
  struct Case {
    const char* name;
    DWORD delay;  // 0: no registry value
    DWORD duration;
    std::vector<DWORD> costs;
    std::vector<DWORD> steps;
    std::vector<DWORD> at;  // clock times of the steps, from the start
  } cases[] = {
      {"plain", 0, 100, {}, {40, 60, 80}, {0, 20, 40}},
      {"delay 2: half the times, twice as long", 2, 100, {}, {20, 30, 40, 50, 60, 70, 80, 90},
       {0, 20, 40, 60, 80, 100, 120, 140}},
      {"no value: factor 1", 0, 60, {}, {40}, {0}},
      {"slow steps delay the next frame", 0, 100, {30}, {40, 70}, {0, 30}},
      {"a step of 12 ms waits 8 more", 0, 120, {12}, {40, 60, 80, 100}, {0, 20, 40, 60}},
      {"shorter than a frame: finished at once", 0, 15, {}, {}, {}},
      {"no length at all", 0, 0, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.delay) SetDelay(c.delay);
    TestClock clock;
    auto* a = new TestAnimation(c.duration, &clock, c.costs);
    a->AddRef();
    Play(a, &clock);
    EXPECT_EQ(a->steps, c.steps);
    std::vector<DWORD> at;
    for (DWORD t : a->at) at.push_back(t - 5000);
    EXPECT_EQ(at, c.at);
    EXPECT_EQ(a->finishes, std::vector<bool>{false});
    for (DWORD w : clock.waits_) EXPECT_LE(w, AnimationRunner::kFrameMs);
    ReleaseRefCount(a);
    if (c.delay) {
      HKEY key = nullptr;
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Orv Software House\\Shared", 0, 0, &key);
      RegDeleteValueW(key, u"AnimationDelay");
      RegCloseKey(key);
      ResetAnimationDelayForTesting();
    }
  }
}

TEST_F(AnimationRunnerTest, AHugeDelayIsCappedAndEveryStepStaysWithinTheDuration) {
  SetDelay(0);
  EXPECT_EQ(GetAnimationDelay(), 1u);
  SetDelay(0xFFFFFFFFu);
  EXPECT_EQ(GetAnimationDelay(), kMaxAnimationDelay);
  TestClock clock;
  auto* a = new TestAnimation(200, &clock);
  a->AddRef();
  Play(a, &clock);
  ASSERT_FALSE(a->steps.empty());
  for (DWORD s : a->steps) EXPECT_LE(s, 200u);
  EXPECT_EQ(a->steps.front(), 40u / kMaxAnimationDelay);
  EXPECT_EQ(a->finishes.size(), 1u);
  ReleaseRefCount(a);
}

TEST_F(AnimationRunnerTest, StopInterruptsOnceAndFurtherStopsDoNothing) {
  TestClock clock;
  clock.blockAt_ = 3;  // waiting before the third frame
  auto* a = new TestAnimation(1000, &clock);
  a->AddRef();
  {
    AnimationRunner runner;
    runner.SetClock(&clock);
    runner.Stop();  // nothing held: nothing happens
    runner.Start(a, THREAD_PRIORITY_HIGHEST);
    ASSERT_EQ(WaitForSingleObject(clock.blocked_, 10000), WAIT_OBJECT_0);
    runner.Stop();
    EXPECT_EQ(a->finishes, std::vector<bool>{true});
    EXPECT_EQ(a->steps.size(), 2u);
    EXPECT_EQ(runner.GetFrameCount(), 2u);
    runner.Stop();
    EXPECT_EQ(a->finishes.size(), 1u);
    EXPECT_EQ(a->GetRefCount(), 1) << "the runner let its reference go";
  }
  EXPECT_EQ(a->finishes.size(), 1u);
  ReleaseRefCount(a);
}

TEST_F(AnimationRunnerTest, StartingAnotherStopsTheFirstAndDestructionStopsTheLast) {
  TestClock clock;
  clock.blockAt_ = 1;
  auto* first = new TestAnimation(1000, &clock);
  auto* second = new TestAnimation(1000, &clock);
  first->AddRef();
  second->AddRef();
  {
    AnimationRunner runner;
    runner.SetClock(&clock);
    runner.Start(first, THREAD_PRIORITY_NORMAL);
    ASSERT_EQ(WaitForSingleObject(clock.blocked_, 10000), WAIT_OBJECT_0);
    ResetEvent(clock.blocked_);
    clock.waits_.clear();
    runner.Start(second, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(first->finishes, std::vector<bool>{true});
    ASSERT_EQ(WaitForSingleObject(clock.blocked_, 10000), WAIT_OBJECT_0);
  }
  EXPECT_EQ(second->finishes, std::vector<bool>{true});
  EXPECT_EQ(first->GetRefCount(), 1);
  EXPECT_EQ(second->GetRefCount(), 1);
  ReleaseRefCount(first);
  ReleaseRefCount(second);
  AnimationRunner runner;
  try {
    runner.Start(nullptr, THREAD_PRIORITY_NORMAL);
    ADD_FAILURE() << "no exception";
  } catch (const COrvException& e) {
    EXPECT_EQ(e.GetCode(), ORV_E_LAYOUT);
  }
}

// The window an animation draws over is marked animating in the device's
// window table (its top-level window, as the display lists it) from the
// start until the animation has finished, played out or stopped.
TEST_F(AnimationRunnerTest, TheWindowItDrawsOverIsMarkedAnimatingUntilItHasFinished) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"AnimationRunnerTestWindow";
  RegisterClassW(&wc);
  HWND top = CreateWindowExW(0, wc.lpszClassName, u"", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  HWND view = CreateWindowExW(0, wc.lpszClassName, u"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, top, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(view, nullptr);
  TestClock clock;
  clock.blockAt_ = 3;
  auto* stopped = new TestAnimation(1000, &clock);
  auto* played = new TestAnimation(100, &clock);
  auto* unmarked = new TestAnimation(1000, &clock);
  for (TestAnimation* a : {stopped, played, unmarked}) a->AddRef();
  stopped->window = played->window = unmarked->window = view;
  {
    AnimationRunner runner;
    runner.SetClock(&clock);
    EXPECT_FALSE(IsWindowAnimating(top));
    runner.Start(stopped, THREAD_PRIORITY_NORMAL, view);
    ASSERT_EQ(WaitForSingleObject(clock.blocked_, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(IsWindowAnimating(top)) << "marked while it plays";
    runner.Stop();
    EXPECT_EQ(stopped->finishes, std::vector<bool>{true});
    EXPECT_TRUE(stopped->animatingAtFinish);
    EXPECT_FALSE(IsWindowAnimating(top)) << "stopped";

    // Played to its end: marked while it draws the last picture, not after.
    clock.blockAt_ = -1;
    runner.Start(played, THREAD_PRIORITY_NORMAL, view);
    ASSERT_EQ(WaitForSingleObject(played->finished, 10000), WAIT_OBJECT_0);
    runner.Stop();
    EXPECT_EQ(played->finishes, std::vector<bool>{false});
    EXPECT_TRUE(played->animatingAtFinish);
    EXPECT_FALSE(IsWindowAnimating(top)) << "finished";

    // Without a window nothing is marked.
    ResetEvent(clock.blocked_);
    clock.waits_.clear();
    clock.blockAt_ = 3;
    runner.Start(unmarked, THREAD_PRIORITY_NORMAL);
    ASSERT_EQ(WaitForSingleObject(clock.blocked_, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(IsWindowAnimating(top));
  }
  EXPECT_FALSE(unmarked->animatingAtFinish);
  for (TestAnimation* a : {stopped, played, unmarked}) ReleaseRefCount(a);
  DestroyWindow(top);
}

}  // namespace
}  // namespace layouttest
