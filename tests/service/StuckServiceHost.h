// The service host (orv-servicehost) running the test library whose thread
// outlives its stop until it is released (tests/apps/StuckServiceLibrary.cpp),
// as a process of the test's device.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "hosts/HostRequests.h"
#include "platform/windows/Windows.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace orvtest {

class StuckServiceHost {
 public:
  // Starts the host; its files in the host folder `scratch`. A thread that
  // is `released` from the start ends as soon as it runs, so the library's
  // stop is clean.
  StuckServiceHost(const std::string& scratch, bool released)
      : release_(scratch + "/release"), ended_(scratch + "/ended") {
    if (released) WriteHostFile(release_, "go");
    ::setenv("ORV_STUCK_SERVICE_RELEASE", release_.c_str(), 1);
    ::setenv("ORV_STUCK_SERVICE_ENDED", ended_.c_str(), 1);
    ::setenv("LD_LIBRARY_PATH", ORV_STUCK_SERVICE_DIR, 1);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(ORV_SERVICE_HOST, ORV_SERVICE_HOST, "--library", "orvstuckservice", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (const char* name : {"LD_LIBRARY_PATH", "ORV_STUCK_SERVICE_RELEASE", "ORV_STUCK_SERVICE_ENDED"})
      ::unsetenv(name);
  }
  ~StuckServiceHost() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Reap();
    }
  }
  StuckServiceHost(const StuckServiceHost&) = delete;
  StuckServiceHost& operator=(const StuckServiceHost&) = delete;

  pid_t Pid() const { return pid_; }
  // The host's window once it has started the library; nullptr when it never shows.
  plat::HWND Window() const {
    plat::HWND window = nullptr;
    if (pid_ > 0) Eventually([&] { return (window = plat::FindWindowW(plat::hosts::kServiceHostWindowClass, nullptr)); });
    return window;
  }
  // Lets the library's thread end; Ended() once it has, in the library's code.
  void Release() const { WriteHostFile(release_, "go"); }
  bool Ended() const { return ReadHostFile(ended_) == "ended\n"; }
  bool Running() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }
  // Stops the host as the device does (SIGTERM): its exit code, 128 + n
  // when ended by signal n.
  int Stop() {
    if (pid_ <= 0 || ::kill(pid_, SIGTERM) != 0) return -1;
    return Reap();
  }

 private:
  int Reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string release_;
  std::string ended_;
  pid_t pid_ = -1;
};

}  // namespace orvtest
