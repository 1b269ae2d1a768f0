// Runs a piece of a test in a forked child process, for tests of behaviour
// across processes (named objects, the shared registry). The child shares the
// parent's device (it is a copy of the test process) and ends with _exit, so it
// never returns into the test framework: its body reports through its result
// code (0 for success) and markers, never through test assertions.
//
//   orvtest::ChildProcess child([](orvtest::ChildContext& ctx) {
//     ... take the mutex ...
//     ctx.Ready();                         // parent's WaitReady() returns true
//     if (!ctx.WaitFor("release")) return 2;
//     ... release ...
//     return 0;
//   });
//   ASSERT_TRUE(child.WaitReady());
//   child.Send("release");
//   EXPECT_EQ(child.Wait(), 0);
#pragma once

#include <sys/types.h>

#include <csignal>
#include <deque>
#include <functional>
#include <string>

namespace orvtest {

// A line-based channel over a pipe pair: markers are short texts without a newline.
class MarkerChannel {
 public:
  MarkerChannel() = default;
  MarkerChannel(int readFd, int writeFd) : readFd_(readFd), writeFd_(writeFd) {}
  ~MarkerChannel();
  MarkerChannel(const MarkerChannel&) = delete;
  MarkerChannel& operator=(const MarkerChannel&) = delete;
  MarkerChannel& operator=(MarkerChannel&& other) noexcept;

  // False when the other side has gone.
  bool Send(const std::string& marker);
  // Waits for marker (other markers that arrive meanwhile are kept for later
  // waits); false on time-out or when the other side has gone without sending it.
  bool WaitFor(const std::string& marker, int timeoutMs);

 private:
  bool TakeQueued(const std::string& marker);

  int readFd_ = -1;
  int writeFd_ = -1;
  std::string partial_;
  std::deque<std::string> received_;
};

// What the child's body gets.
class ChildContext {
 public:
  explicit ChildContext(MarkerChannel& channel) : channel_(channel) {}
  void Send(const std::string& marker) { channel_.Send(marker); }
  void Ready() { Send("ready"); }
  bool WaitFor(const std::string& marker, int timeoutMs = 10000) { return channel_.WaitFor(marker, timeoutMs); }

 private:
  MarkerChannel& channel_;
};

class ChildProcess {
 public:
  // The child's result: 0..255 for an exit code (a body that throws gives
  // kThrew), 128 + n when ended by signal n, kTimedOut when Wait gave up.
  static constexpr int kThrew = 254;
  static constexpr int kTimedOut = -1;

  using Body = std::function<int(ChildContext&)>;

  // Forks at once and runs body in the child.
  explicit ChildProcess(Body body);
  // A child still running is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }

  bool WaitReady(int timeoutMs = 10000) { return channel_.WaitFor("ready", timeoutMs); }
  bool WaitFor(const std::string& marker, int timeoutMs = 10000) { return channel_.WaitFor(marker, timeoutMs); }
  bool Send(const std::string& marker) { return channel_.Send(marker); }

  void Kill(int sig = SIGKILL);
  // Waits for the child to end and returns its result (see above).
  int Wait(int timeoutMs = 30000);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int result_ = kTimedOut;
  MarkerChannel channel_;
};

// Runs body in a child and waits for its result.
int RunInChild(ChildProcess::Body body, int timeoutMs = 30000);

}  // namespace orvtest
