// Why the last update of a channel failed, in words for the user. The job
// that failed records it; the interface takes it to tell the user (a
// successful update forgets it). Kept for the life of the process only.
// Thread-safe.
#pragma once

#include <string>

void RecordUpdateFailure(const std::u16string& channelName, const std::u16string& reason);
// The reason recorded for the channel, forgotten by the call; empty when none.
std::u16string TakeUpdateFailure(const std::u16string& channelName);
void ForgetUpdateFailure(const std::u16string& channelName);
