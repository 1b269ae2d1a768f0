// The service host and a library whose thread outlives its stop: the host
// keeps the library loaded while that thread may still run in it, so the
// thread ends in its own code and the host runs on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "hosts/HostRequests.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using orvtest::Eventually;

class ServiceHostTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    if (host_ > 0) {
      ::kill(host_, SIGKILL);
      Reap();
    }
  }
  pid_t Start() {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(ORV_SERVICE_HOST, ORV_SERVICE_HOST, "--library", "orvstuckservice", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  // The host's exit: its code, 128 + n when ended by signal n.
  int Reap() {
    int status = 0;
    while (::waitpid(host_, &status, 0) < 0 && errno == EINTR) {
    }
    host_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t host_ = -1;
};

TEST_F(ServiceHostTest, ALibraryWhoseThreadStillRunsAfterItsStopStaysLoaded) {
  const std::string release = device_.Scratch() + "/release";
  const std::string ended = device_.Scratch() + "/ended";
  ::setenv("ORV_STUCK_SERVICE_RELEASE", release.c_str(), 1);
  ::setenv("ORV_STUCK_SERVICE_ENDED", ended.c_str(), 1);
  ::setenv("LD_LIBRARY_PATH", ORV_STUCK_SERVICE_DIR, 1);
  host_ = Start();
  for (const char* name : {"LD_LIBRARY_PATH", "ORV_STUCK_SERVICE_RELEASE", "ORV_STUCK_SERVICE_ENDED"}) ::unsetenv(name);
  ASSERT_GT(host_, 0);
  plat::HWND window = nullptr;
  ASSERT_TRUE(Eventually([&] { return (window = plat::FindWindowW(plat::hosts::kServiceHostWindowClass, nullptr)); }));

  // The removal's request: the host stops the library, whose thread runs on.
  const plat::UINT unload = plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage);
  plat::DWORD_PTR answer = 0;
  ASSERT_TRUE(plat::SendMessageTimeoutW(window, unload, 0, 0, plat::SMTO_NORMAL, 20000, &answer));
  EXPECT_EQ(answer, 1u);

  // The thread goes on in the library's code and ends there.
  orvtest::WriteHostFile(release, "go");
  EXPECT_TRUE(Eventually([&] { return orvtest::ReadHostFile(ended) == "ended\n"; }, 20000));
  // The host is still there, and stops cleanly.
  EXPECT_EQ(::kill(host_, 0), 0);
  ASSERT_EQ(::kill(host_, SIGTERM), 0);
  EXPECT_EQ(Reap(), 0);
}

}  // namespace
