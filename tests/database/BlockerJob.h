// A job that holds its job queue busy until its gate is set, so a test can
// keep later jobs waiting.
#pragma once
#include "core/Job.h"
#include "platform/base/Handle.h"

namespace orvtest {

class BlockerJob : public CJob {
 public:
  // started is set once the job runs; the job ends when gate is set (or after 10 s).
  BlockerJob(plat::HANDLE gate, plat::HANDLE started) : CJob(nullptr), gate_(gate), started_(started) {}
  int GetQueue() override { return 0; }
  void Execute() override {
    plat::SetEvent(started_);
    plat::WaitForSingleObject(gate_, 10000);
  }
  void Stop() override { plat::SetEvent(gate_); }

 private:
  plat::HANDLE gate_;
  plat::HANDLE started_;
};

}  // namespace orvtest
