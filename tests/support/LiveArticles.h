// The articles of a channel that are not tombstones, read under the
// data-bank lock; shared by the tests and the benchmarks of the feed layers.
#pragma once

#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"

namespace orvtest {

inline int LiveArticles(IChannel* channel) {
  CSyncLock lock(GetChannelSet());
  channel->Acquire(&lock);
  int live = 0;
  IArticleSet* set = channel->GetArticleSet();
  for (int i = 0; i < set->GetCount(); ++i) live += set->GetAt(i)->IsDeleted() ? 0 : 1;
  channel->Release(&lock, false);
  return live;
}

}  // namespace orvtest
