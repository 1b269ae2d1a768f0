// The articles of a channel that are not tombstones: read under the
// data-bank lock, shared by the tests and the benchmarks of the feed layers;
// and as the device stores them, for the whole-program tests.
#pragma once

#include <string>

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

// The live articles of the device's channel of that name, read from the
// data bank as another program reads it; -1 when there is no such channel.
inline int StoredLiveArticles(const std::u16string& name) {
  CChannelSet set;
  if (!set.Open()) return -1;
  IChannel* channel = set.FindByName(name);
  if (!channel) return -1;
  int user = 0, live = 0;
  channel->Acquire(&user);
  IArticleSet* articles = channel->GetArticleSet();
  for (int i = 0; articles && i < articles->GetCount(); ++i) live += articles->GetAt(i)->IsDeleted() ? 0 : 1;
  channel->Release(&user, false);
  return live;
}

}  // namespace orvtest
