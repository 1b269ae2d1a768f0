// The debug log and the profiler hooks: diagnostics that cost next to nothing
// while they are off.
//
// The log appends one line per call to "<program>_log.txt" in the running
// program's folder, only while the setting "DeveloperMode" is non-zero. The
// setting is read again when more than 10 s (by the platform's tick count)
// have passed since the last read. Lines carry no time stamps; ">>" opens a
// level, "<<" closes one, "** " marks an event inside a level.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/base/Module.h"
#include "platform/base/Types.h"

class CDebugLog {
 public:
  // How long the cached "DeveloperMode" value is trusted.
  static constexpr plat::DWORD kRecheckIntervalMs = 10000;

  // The process's log, created on first use. Creation deletes the log file of
  // the previous run. A new device (tests) starts a new log.
  static CDebugLog& GetInstance();

  // Writes text as one line when the log is enabled.
  void WriteLine(const std::u16string& text);
  void WriteLine(const char16_t* text);
  // printf-style (%s takes wide text); formats nothing while disabled.
  void Printf(const char16_t* format, ...);
  void PrintfV(const char16_t* format, va_list args);

  // Re-reads "DeveloperMode" when its cached value is too old.
  bool IsEnabled();

  const std::u16string& GetPath() const { return path_; }  // device path of the log file
  int GetIndent() const { return indent_.load(std::memory_order_relaxed); }

 private:
  CDebugLog();
  void Start();
  void Write(const std::u16string& text);  // the log is known to be enabled

  std::atomic<plat::DWORD> enabled_{0};
  std::atomic<int> indent_{0};
  std::atomic<plat::DWORD> lastReadTick_{0};
  std::atomic<bool> everRead_{false};
  std::u16string path_;
  std::mutex writeMutex_;
  std::atomic<unsigned> generation_{0};
};

// The optional profiler library "orvprofiler.dll", looked for once per process.
struct ProfilerHooks {
  using DurationProc = void (*)(const char16_t* name);
  using FlushProc = void (*)();

  plat::HMODULE module = nullptr;
  DurationProc BeginDuration = nullptr;
  DurationProc EndDuration = nullptr;
  FlushProc Flush = nullptr;
};

// The hooks, loading the library on the first call.
const ProfilerHooks& GetProfilerHooks();

// Each is a null test when the library is absent.
void ProfileBegin(const char16_t* name);
void ProfileEnd(const char16_t* name);
void ProfileFlush();

// Times the scope: BeginDuration(name) now, EndDuration(name) at its end.
class CProfileScope {
 public:
  explicit CProfileScope(const char16_t* name);
  ~CProfileScope();
  CProfileScope(const CProfileScope&) = delete;
  CProfileScope& operator=(const CProfileScope&) = delete;

 private:
  const char16_t* name_;
  bool bound_;
};
