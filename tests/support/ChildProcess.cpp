#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace orvtest {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

MarkerChannel::~MarkerChannel() {
  if (readFd_ >= 0) close(readFd_);
  if (writeFd_ >= 0) close(writeFd_);
}

MarkerChannel& MarkerChannel::operator=(MarkerChannel&& other) noexcept {
  if (this != &other) {
    if (readFd_ >= 0) close(readFd_);
    if (writeFd_ >= 0) close(writeFd_);
    readFd_ = other.readFd_;
    writeFd_ = other.writeFd_;
    partial_ = std::move(other.partial_);
    received_ = std::move(other.received_);
    other.readFd_ = other.writeFd_ = -1;
  }
  return *this;
}

bool MarkerChannel::Send(const std::string& marker) {
  if (writeFd_ < 0) return false;
  const std::string line = marker + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(writeFd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool MarkerChannel::TakeQueued(const std::string& marker) {
  for (auto it = received_.begin(); it != received_.end(); ++it) {
    if (*it == marker) {
      received_.erase(it);
      return true;
    }
  }
  return false;
}

bool MarkerChannel::WaitFor(const std::string& marker, int timeoutMs) {
  if (TakeQueued(marker)) return true;
  if (readFd_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{readFd_, POLLIN, 0};
    const int rc = poll(&p, 1, RemainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    char buf[256];
    const ssize_t n = read(readFd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // the other side has gone
    partial_.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
      received_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
    if (TakeQueued(marker)) return true;
  }
}

ChildProcess::ChildProcess(Body body) {
  int toChild[2];
  int toParent[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(toParent, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    throw std::runtime_error("pipe failed");
  }
  std::fflush(stdout);
  std::fflush(stderr);
  pid_ = fork();
  if (pid_ < 0) {
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    close(toChild[1]);
    close(toParent[0]);
    int code = kThrew;
    {
      MarkerChannel channel(toChild[0], toParent[1]);
      ChildContext ctx(channel);
      try {
        code = body(ctx) & 0xFF;
      } catch (...) {
        code = kThrew;
      }
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
  }
  close(toChild[0]);
  close(toParent[1]);
  channel_ = MarkerChannel(toParent[0], toChild[1]);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void ChildProcess::Kill(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int ChildProcess::Wait(int timeoutMs) {
  if (reaped_) return result_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      if (WIFEXITED(status))
        result_ = WEXITSTATUS(status);
      else if (WIFSIGNALED(status))
        result_ = 128 + WTERMSIG(status);
      return result_;
    }
    if (r < 0 && errno != EINTR) return kTimedOut;
    if (Clock::now() >= deadline) return kTimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int RunInChild(ChildProcess::Body body, int timeoutMs) {
  ChildProcess child(std::move(body));
  return child.Wait(timeoutMs);
}

}  // namespace orvtest
