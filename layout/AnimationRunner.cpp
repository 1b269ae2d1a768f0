#include "layout/AnimationRunner.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "core/OrvException.h"
#include "platform/base/Thread.h"
#include "platform/base/Time.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"

using namespace plat;

namespace {

class PlatformClock : public IAnimationClock {
 public:
  DWORD Now() override { return GetTickCount(); }
  DWORD WaitFor(HANDLE event, DWORD ms) override { return WaitForSingleObject(event, ms); }
};

// 0 until read.
std::atomic<DWORD> g_delay{0};

DWORD ReadAnimationDelay() {
  DWORD value = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Orv Software House\\Shared", 0, 0, &key) == ERROR_SUCCESS) {
    DWORD type = 0, size = sizeof(value);
    if (RegQueryValueExW(key, u"AnimationDelay", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
      value = 0;
    RegCloseKey(key);
  }
  if (value == 0) value = 1;
  return std::min(value, kMaxAnimationDelay);
}

}  // namespace

IAnimationClock& PlatformAnimationClock() {
  static PlatformClock clock;
  return clock;
}

DWORD GetAnimationDelay() {
  DWORD d = g_delay.load();
  if (d == 0) {
    d = ReadAnimationDelay();
    g_delay.store(d);
  }
  return d;
}

void ResetAnimationDelayForTesting() { g_delay.store(0); }

AnimationRunner::~AnimationRunner() {
  Stop();
  ReleaseRefPtr(animation_);
  animation_ = nullptr;
  if (thread_) CloseHandle(thread_);
  if (stopEvent_) CloseHandle(stopEvent_);
}

void AnimationRunner::Start(IAnimation* animation, int priority, HWND window) {
  Stop();
  if (!animation) throw COrvException(ORV_E_LAYOUT);
  animation->AddRef();
  ReleaseRefPtr(animation_);
  animation_ = animation;
  priority_ = priority;
  totalStepMs_ = 0;
  frames_ = 0;
  // The handles of the last run were kept until now.
  if (thread_) CloseHandle(thread_);
  if (stopEvent_) CloseHandle(stopEvent_);
  thread_ = nullptr;
  stopEvent_ = CreateLocalEvent(true, false);
  // Marked before the thread draws its first frame; the thread takes the
  // mark off once the animation has finished.
  window_ = window && BeginWindowAnimation(window) ? window : nullptr;
  thread_ = CreateThread(nullptr, 0, &AnimationRunner::ThreadProc, this, 0, nullptr);
  if (!thread_) {
    // Without a thread the animation still ends where it should.
    animation_->Finish(false);
    if (window_) EndWindowAnimation(window_);
    window_ = nullptr;
    ReleaseRefPtr(animation_);
    animation_ = nullptr;
  }
}

void AnimationRunner::Stop() {
  if (!animation_) return;
  SetEvent(stopEvent_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(stopEvent_);
  thread_ = nullptr;
  stopEvent_ = nullptr;
  IAnimation* old = animation_;
  animation_ = nullptr;
  ReleaseRefPtr(old);
}

DWORD AnimationRunner::ThreadProc(void* runner) {
  static_cast<AnimationRunner*>(runner)->Run();
  return 0;
}

void AnimationRunner::Run() {
  Play();
  if (window_) EndWindowAnimation(window_);
}

void AnimationRunner::Play() {
  IAnimationClock& clock = clock_ ? *clock_ : PlatformAnimationClock();
  if (priority_ != THREAD_PRIORITY_NORMAL) SetThreadPriority(GetCurrentThread(), priority_);
  DWORD d = 0;
  animation_->GetDuration(&d);
  const std::int64_t factor = GetAnimationDelay();
  // The run is kept within kMaxRunMs however long the animation says it is;
  // a duration too short for one frame finishes at once.
  const std::int64_t limit = std::min<std::int64_t>(factor * d, kMaxRunMs) - static_cast<std::int64_t>(kFrameMs);
  std::int64_t t = 40;
  DWORD wait = 0;
  while (t <= limit) {
    if (clock.WaitFor(stopEvent_, wait) != WAIT_TIMEOUT) {
      animation_->Finish(true);
      return;
    }
    const DWORD before = clock.Now();
    animation_->Step(static_cast<DWORD>(std::min<std::int64_t>(t / factor, d)));
    const DWORD s = clock.Now() - before;
    wait = kFrameMs - std::min<DWORD>(s, kFrameMs);
    totalStepMs_ += s;
    ++frames_;
    t += static_cast<std::int64_t>(s) + wait;
  }
  animation_->Finish(false);
}
