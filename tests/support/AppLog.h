// The line log of the test programs: each call writes one formatted line to
// the file given with "--log" and flushes it, so the driver sees it at once.
// Header-only, so the test programs share it.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace orvtest {

inline FILE*& AppLogFile() {
  static FILE* file = nullptr;
  return file;
}

inline void AppLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void AppLog(const char* format, ...) {
  FILE* file = AppLogFile();
  if (!file) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fflush(file);
}

}  // namespace orvtest
