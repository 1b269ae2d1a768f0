// Channels of the process's channel set as the update tests make them.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"

namespace orvtest {

// A channel of that address and type with no age or count limit (fixtures
// carry old dates and few items). Null, with a test failure, when the set
// refuses the name.
inline IChannel* AddUnlimitedChannel(const std::u16string& name, const std::u16string& address,
                                     const std::u16string& type) {
  CSyncLock lock(GetChannelSet());
  IChannel* channel = GetChannelSet()->Add(name);
  EXPECT_NE(channel, nullptr);
  if (channel == nullptr) return nullptr;
  CStringToStringMap properties;
  properties[kPropUrl] = address;
  properties[kPropType] = type;
  channel->SetProperties(properties);
  IChannelOptions* options = channel->GetOptions();
  options->SetUseDefaultLimits(0);
  options->SetArticlesAgeLimitEnabled(0);
  options->SetArticlesCountLimitEnabled(0);
  return channel;
}

}  // namespace orvtest
