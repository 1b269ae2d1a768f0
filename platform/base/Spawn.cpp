#include "platform/base/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

extern char** environ;

namespace plat {
namespace {

// This process's environment with the given entries set over it.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    bool replaced = false;
    for (const std::string& x : extra)
      if (entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// What the children tell the parent through the pipe, one message each:
// small writes to a pipe arrive whole, in whichever order they were made.
struct Report {
  std::int32_t kind;   // kStarted or kFailed
  std::int32_t value;  // the program's pid (kStarted) or an errno
};
constexpr std::int32_t kStarted = 1;
constexpr std::int32_t kFailed = 2;

void Tell(int fd, std::int32_t kind, std::int32_t value) {
  const Report report{kind, value};
  ssize_t w = ::write(fd, &report, sizeof report);
  (void)w;
}

}  // namespace

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(at, end - at) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return program;
}

int SpawnProcess(const std::vector<std::string>& args, const SpawnOptions& options, int* pid) {
  if (args.empty()) return EINVAL;
  // Everything the child needs is made before the fork: after it, only
  // async-signal-safe calls.
  const std::string program = FindOnPath(args[0]);
  const std::vector<std::string> env = EnvironmentWith(options.environment);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // The children report through the pipe: the detached program's pid (from
  // the middle child), the errno of a failed start. The pipe closes when the
  // program is running (close-on-exec) and the middle child has ended.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  auto run = [&]() {
    if (options.quiet) {
      const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
      if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) {
        Tell(fds[1], kFailed, errno);
        ::_exit(126);
      }
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    Tell(fds[1], kFailed, errno);
    ::_exit(127);
  };
  const pid_t first = ::fork();
  if (first < 0) {
    const int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return err;
  }
  if (first == 0) {
    if (!options.detached) run();
    ::setsid();
    const pid_t child = ::fork();
    if (child == 0) run();
    if (child < 0) Tell(fds[1], kFailed, errno);
    else Tell(fds[1], kStarted, child);
    ::_exit(0);
  }
  ::close(fds[1]);
  int started = options.detached ? 0 : first;
  int error = 0;
  Report report{};
  for (;;) {
    const ssize_t got = ::read(fds[0], &report, sizeof report);
    if (got < 0 && errno == EINTR) continue;
    if (got != sizeof report) break;
    if (report.kind == kStarted) started = report.value;
    else error = report.value;
  }
  ::close(fds[0]);
  // The middle child has ended; an attached child that failed to start ends
  // now (a running one is the caller's to wait for).
  if (options.detached || error != 0) {
    while (::waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (error == 0 && started <= 0) error = ECHILD;
  if (error == 0 && pid) *pid = started;
  return error;
}

}  // namespace plat
