// Puts the main program on a whole-program test's device with feed channels
// of its own, as the tests start it: installed without the first-run
// channels, then each channel made with its address and the feed type.
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

// channels: name and feed address. False (with the reason reported) when the
// program or a channel could not be put on the device.
inline bool InstallWithFeedChannels(const std::vector<std::pair<std::u16string, std::string>>& channels) {
  InstallReport report;
  if (!InstallIntoDevice(ORV_PROGRAM_DIR, false, &report)) {
    ADD_FAILURE() << report.error;
    return false;
  }
  CChannelSet set;
  if (!set.Open()) return false;
  for (const auto& [name, url] : channels) {
    IChannel* channel = set.Add(name);
    if (!channel) return false;
    channel->SetProperties(CStringToStringMap{{kPropUrl, plat::Utf8ToUtf16(url)}, {kPropType, kChannelTypeRss}});
  }
  return true;
}

}  // namespace orvtest
