// How long a channel's file work (channel file, headers, data bank, read
// states, moves) waits for the channel mutex before it gives up: a lock that
// times out means "not done". A setting of the process; tests shorten it.
#pragma once

#include "platform/base/Types.h"

constexpr plat::DWORD kDefaultChannelMutexTimeoutMs = 5000;
plat::DWORD GetChannelMutexTimeout();
void SetChannelMutexTimeout(plat::DWORD ms);
