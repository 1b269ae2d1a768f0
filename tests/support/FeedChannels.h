// Puts the main program on a whole-program test's device with feed channels
// of its own, as the tests start it: installed (without the first-run
// channels unless asked), then each channel made with its address and the
// feed type.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/device/DeviceInstall.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Text.h"
#include "tests/support/MainProgramE2E.h"

namespace orvtest {

// The program installed as the build made it; createChannels runs its
// "createchannels" step. False (with the reason reported) when it failed.
inline bool InstallMainProgram(bool createChannels = false) {
  InstallReport report;
  if (InstallIntoDevice(ORV_PROGRAM_DIR, createChannels, &report)) return true;
  ADD_FAILURE() << report.error;
  return false;
}

// channels: name and feed address, made in the device's data bank. False
// when a channel could not be made.
inline bool AddFeedChannels(const std::vector<std::pair<std::u16string, std::string>>& channels) {
  CChannelSet set;
  if (!set.Open()) return false;
  for (const auto& [name, url] : channels) {
    IChannel* channel = set.Add(name);
    if (!channel) return false;
    channel->SetProperties(CStringToStringMap{{kPropUrl, plat::Utf8ToUtf16(url)}, {kPropType, kChannelTypeRss}});
  }
  return true;
}

// Both: the program installed, then its channels made.
inline bool InstallWithFeedChannels(const std::vector<std::pair<std::u16string, std::string>>& channels) {
  return InstallMainProgram() && AddFeedChannels(channels);
}

}  // namespace orvtest
