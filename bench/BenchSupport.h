// Small helpers shared by the benchmark programs.
#pragma once
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Device.h"
#include "tests/support/LiveArticles.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// The process's peak resident memory in KB.
inline long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// CPU time the process has used so far (user, system), in seconds: unlike
// wall time, barely moved by other programs loading the machine.
struct CpuTimes {
  double user = 0, system = 0;
};
inline CpuTimes ProcessCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return {u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6, u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6};
}

// A fresh device in a new folder under /tmp; empty when it cannot be made.
inline std::string MakeTempDevice() {
  char tmpl[] = "/tmp/orvbench.XXXXXX";
  const char* root = mkdtemp(tmpl);
  if (root == nullptr) return std::string();
  plat::SetDeviceRoot(root);
  return root;
}

using orvtest::LiveArticles;

}  // namespace bench
