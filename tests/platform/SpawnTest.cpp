#include "platform/base/Spawn.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

using namespace plat;

namespace {

// The exit status of an attached child; -1 when it did not exit normally.
int ExitOf(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a quiet or a plain child writes to its standard output, caught
// through a pipe put in place of this process's own for the start.
std::string StandardOutputOf(const SpawnOptions& options) {
  int fds[2];
  if (::pipe(fds) != 0) return "<no pipe>";
  const int saved = ::dup(1);
  ::dup2(fds[1], 1);
  int pid = 0;
  const int err = SpawnProcess({"sh", "-c", "echo out"}, options, &pid);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(fds[1]);
  if (err != 0) {
    ::close(fds[0]);
    return "<not started>";
  }
  ExitOf(pid);
  std::string out;
  char buffer[64];
  ssize_t got = 0;
  while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(got));
  ::close(fds[0]);
  return out;
}

TEST(Spawn, AttachedChildGetsItsArgumentsAndEnvironment) {
  ASSERT_EQ(::setenv("ORV_SPAWN_TEST", "old", 1), 0);
  SpawnOptions options;
  options.environment = {"ORV_SPAWN_TEST=7"};
  struct Case {
    const char* script;
    int exit;
  } cases[] = {
      {"exit \"$ORV_SPAWN_TEST\"", 7},                        // set over the inherited value
      {"exit $(env | grep -c '^ORV_SPAWN_TEST=')", 1},         // once, not twice
      {"test \"$0\" = sh && test \"$1\" = one && exit 4", 4},  // the arguments as given
  };
  for (const auto& c : cases) {
    int pid = 0;
    ASSERT_EQ(SpawnProcess({"sh", "-c", c.script, "sh", "one"}, options, &pid), 0) << c.script;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(ExitOf(pid), c.exit) << c.script;
  }
  ::unsetenv("ORV_SPAWN_TEST");
}

// A program that cannot run is a failed start, reported as its errno, for
// either kind of child; no pid is given.
TEST(Spawn, FailedStartIsReported) {
  const std::string notExecutable = std::filesystem::temp_directory_path() /
                                    ("orv-spawn-not-executable-" + std::to_string(::getpid()));
  std::ofstream(notExecutable) << "data";
  struct Case {
    std::string program;
    int error;
  } cases[] = {
      {"orv-no-such-program", ENOENT},
      {"/nonexistent/orv-program", ENOENT},
      {notExecutable, EACCES},
  };
  for (bool detached : {false, true}) {
    for (const auto& c : cases) {
      SpawnOptions options;
      options.detached = detached;
      int pid = -5;
      EXPECT_EQ(SpawnProcess({c.program}, options, &pid), c.error) << c.program << " detached " << detached;
      EXPECT_EQ(pid, -5);
    }
  }
  EXPECT_EQ(SpawnProcess({}, SpawnOptions{}, nullptr), EINVAL);
  std::filesystem::remove(notExecutable);
}

TEST(Spawn, QuietChildWritesNothing) {
  SpawnOptions plain;
  SpawnOptions quiet;
  quiet.quiet = true;
  EXPECT_EQ(StandardOutputOf(plain), "out\n");
  EXPECT_EQ(StandardOutputOf(quiet), "");
}

// A detached program is no child of this process: it runs in a session of
// its own, and the pid given is its own.
TEST(Spawn, DetachedProgramOutlivesItsStarter) {
  const std::string file = std::filesystem::temp_directory_path() /
                           ("orv-spawn-detached-" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  SpawnOptions options;
  options.detached = true;
  int pid = 0;
  ASSERT_EQ(SpawnProcess({"sh", "-c", "echo $$ $PPID > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"", file}, options, &pid), 0);
  EXPECT_GT(pid, 0);
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);  // not ours to wait for
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(file) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int self = 0, parent = 0;
  std::ifstream(file) >> self >> parent;
  EXPECT_EQ(self, pid);
  EXPECT_NE(parent, ::getpid());
  std::filesystem::remove(file);
}

}  // namespace
