// One row of the channel list: what the list shows of a channel, copied out
// of it so that the screen reads rows without touching the channel.
#pragma once
#include <cstdint>
#include <string>

#include "database/UpdateItem.h"

class IChannel;

struct ChannelInfo {
  IChannel* channel = nullptr;  // not owned
  std::u16string name;
  std::u16string imageFile;  // the channel image's local file, empty when none
  std::u16string kind;       // the channel's "@type"
  std::int32_t unreadCount = 0;
  std::int32_t updateState = US_UP_TO_DATE;  // combined update status
};
