#include "database/ChannelMutexTimeout.h"

#include <atomic>

namespace {
std::atomic<plat::DWORD> g_channelMutexTimeoutMs{kDefaultChannelMutexTimeoutMs};
}  // namespace

plat::DWORD GetChannelMutexTimeout() { return g_channelMutexTimeoutMs.load(std::memory_order_relaxed); }

void SetChannelMutexTimeout(plat::DWORD ms) { g_channelMutexTimeoutMs.store(ms, std::memory_order_relaxed); }
