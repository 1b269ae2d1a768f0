#include "core/Job.h"

#include <cstdint>

#include "core/DebugLog.h"

CJob::CJob(const void* owner) : owner_(owner) {
  CDebugLog::GetInstance().Printf(u"** CJob constructed : %08llx",
                                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)));
}

CJob::~CJob() {
  CDebugLog::GetInstance().Printf(u"** CJob destructed : %08llx",
                                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)));
}
