// The program "Orv News": its command line is taken whole as one switch
// ("autoupdate", "-hwnd:%i" or "createchannels"); the device starts it with
// its parameters as one argument, and words given by hand are joined by
// blanks.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"

namespace {

#if defined(ORV_TEST_SWITCHES)
// Whole-program crash tests only, compiled into test builds alone: every
// file step of the process (write, flush, rename, folder flush, move) is
// numbered from 1 and appended to the host file ORVNEWS_TEST_FILE_STEPS as
// "<number> <step>"; at step ORVNEWS_TEST_KILL_AT_FILE_STEP the program ends
// itself with SIGKILL before the step is carried out, as a power loss or the
// task manager would end it there.
int g_stepLog = -1;
long g_killAt = 0;
std::atomic<long> g_steps{0};

void OnFileStep(const char* step) {
  const long n = g_steps.fetch_add(1) + 1;
  if (g_stepLog >= 0) {
    const std::string line = std::to_string(n) + " " + step + "\n";
    // Written past the platform's files, so the log adds no steps of its own.
    if (::write(g_stepLog, line.data(), line.size()) < 0) {
      // A lost line only makes the test's record shorter.
    }
  }
  if (n == g_killAt) ::raise(SIGKILL);
}

void InstallTestFileStepHook() {
  const char* log = std::getenv("ORVNEWS_TEST_FILE_STEPS");
  const char* killAt = std::getenv("ORVNEWS_TEST_KILL_AT_FILE_STEP");
  if (log && *log) g_stepLog = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (killAt && *killAt) g_killAt = std::strtol(killAt, nullptr, 10);
  if (g_stepLog >= 0 || g_killAt > 0) plat::SetFileStepHook(&OnFileStep);
}
#else
void InstallTestFileStepHook() {}
#endif

}  // namespace

int main(int argc, char** argv) {
  InstallTestFileStepHook();
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  plat::HINSTANCE instance = plat::GetModuleHandleW(nullptr);
  return WinMain(instance, nullptr, plat::Utf8ToUtf16(line), 1);
}
