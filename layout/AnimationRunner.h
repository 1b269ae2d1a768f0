// The animation thread: plays one animation object frame by frame, each
// frame at least 20 ms after the previous one, slowed down by the device's
// "AnimationDelay" factor.
#pragma once

#include "core/RefCounted.h"
#include "platform/base/Handle.h"
#include "platform/base/Thread.h"  // the priorities of Start
#include "platform/base/Types.h"
#include "platform/gdi/Gdi.h"  // HWND

// A timed animation run by AnimationRunner on its thread; it must make its
// own drawing safe.
class IAnimation : public CRefCounted {
 public:
  // The length of the animation in milliseconds (0: finish at once).
  virtual void GetDuration(plat::DWORD* ms) = 0;
  // Draws the frame at the time (0 .. duration).
  virtual void Step(plat::DWORD ms) = 0;
  // The animation is over: played to its end, or stopped (interrupted).
  virtual void Finish(bool interrupted) = 0;
};

// The time base of animations and gestures: the tick count, and a wait for an
// event bounded on the same clock. The platform's clock unless a test gives
// its own.
class IAnimationClock {
 public:
  virtual ~IAnimationClock() = default;
  virtual plat::DWORD Now() = 0;
  // WAIT_OBJECT_0 when the event is (or becomes) set, WAIT_TIMEOUT once ms
  // have passed on this clock.
  virtual plat::DWORD WaitFor(plat::HANDLE event, plat::DWORD ms) = 0;
};
IAnimationClock& PlatformAnimationClock();

// The slow-down factor: the DWORD "AnimationDelay" of HKEY_LOCAL_MACHINE
// "\SOFTWARE\Orv Software House\Shared", read once per process; missing or 0
// means 1, and it is kept to at most kMaxAnimationDelay.
constexpr plat::DWORD kMaxAnimationDelay = 20;
plat::DWORD GetAnimationDelay();
// Forgets the value read, so that the next use reads it again.
void ResetAnimationDelayForTesting();

class AnimationRunner {
 public:
  // Frames are at least this far apart.
  static constexpr plat::DWORD kFrameMs = 20;
  // The longest an animation may run, whatever its duration and factor.
  static constexpr plat::DWORD kMaxRunMs = 60000;

  AnimationRunner() = default;
  AnimationRunner(const AnimationRunner&) = delete;
  AnimationRunner& operator=(const AnimationRunner&) = delete;
  // Stops a running animation (it finishes as interrupted) and joins the thread.
  ~AnimationRunner();

  // Stops the running animation, then plays this one on a new thread at the
  // priority (THREAD_PRIORITY_NORMAL leaves the thread's priority alone).
  // The window, when given, is the one it draws over: from here until the
  // animation has finished, its top-level window is marked animating
  // (BeginWindowAnimation), so other programs can tell when its screen is in
  // place. A null animation raises COrvException 0x84000001.
  void Start(IAnimation* animation, int priority, plat::HWND window = nullptr);
  // Interrupts the animation (Finish(true), once) and joins its thread; after
  // an animation that ended by itself, only joins and lets it go. Nothing
  // happens while the runner holds no animation.
  void Stop();
  // True while an animation is held (running or ended, not yet stopped).
  bool HasAnimation() const { return animation_ != nullptr; }

  plat::DWORD GetTotalStepTime() const { return totalStepMs_; }
  plat::DWORD GetFrameCount() const { return frames_; }
  // The priority the last Start asked for.
  int GetPriority() const { return priority_; }

  // The clock of this runner's frames (not owned; null: the platform's).
  void SetClock(IAnimationClock* clock) { clock_ = clock; }

  static plat::DWORD ThreadProc(void* runner);

 private:
  void Run();
  void Play();

  IAnimation* animation_ = nullptr;
  plat::HANDLE stopEvent_ = nullptr;
  plat::HANDLE thread_ = nullptr;
  plat::DWORD totalStepMs_ = 0;
  plat::DWORD frames_ = 0;
  int priority_ = 3;
  IAnimationClock* clock_ = nullptr;
  // The window marked animating for the animation held; null: none.
  plat::HWND window_ = nullptr;
};
