// The log of the whole-program test programs: one line a call, flushed at once
// so the driver reads it while the program runs.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace orvapp {

inline FILE*& LogFile() {
  static FILE* file = nullptr;
  return file;
}

inline void OpenLog(const char* path) { LogFile() = path ? std::fopen(path, "a") : nullptr; }

inline void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void Log(const char* format, ...) {
  FILE* f = LogFile();
  if (!f) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fputc('\n', f);
  std::fflush(f);
}

}  // namespace orvapp
