// The rows of the channel list screen: one record per channel of the channel
// set with what its row shows, kept up to date from the channel set's events.
// Listeners hear when the rows changed as a whole or when one row changed.
// Events arrive on the thread that changed the data; the screens read rows
// on the UI thread; the filter's own lock guards the rows.
#pragma once
#include <string>
#include <vector>

#include "core/Synchronized.h"
#include "core/WithListeners.h"
#include "database/ChannelInfo.h"
#include "database/DBEventListener.h"

class CChannelSet;

class IChannelsFilterListener {
 public:
  virtual ~IChannelsFilterListener() = default;
  // The rows changed as a whole.
  virtual void OnChannelsChanged() = 0;
  // The row at index changed.
  virtual void OnChannelChanged(int index) = 0;
};

class CChannelsFilter : public CDBEventListener,
                        public CWithListeners<IChannelsFilterListener>,
                        public CSynchronized {
 public:
  // Under the channel set's lock: subscribes to it and builds the rows (null:
  // no channel set, no rows).
  explicit CChannelsFilter(CChannelSet* channelSet);
  // Unsubscribes under the channel set's lock.
  ~CChannelsFilter() override;

  // The screens' listeners (not the data-bank event listeners).
  using CWithListeners<IChannelsFilterListener>::AddListener;
  using CWithListeners<IChannelsFilterListener>::RemoveListener;

  int GetCount();
  // The row whose name equals name exactly, or -1.
  int FindByName(const std::u16string& name);
  // A copy of row index; false when there is none.
  bool GetEntry(int index, ChannelInfo& row);

  // A fresh row from the channel replaces the row of its name, or is
  // appended. The row's index, or -1 for a null channel.
  int UpdateEntry(IChannel* channel);
  // Rows for every channel of the set, in its order; then the listeners
  // hear that the rows changed.
  void Rebuild();

  void OnDBEvent(CDBEvent* record) override;

 private:
  void NotifyAll();
  void NotifyRow(int index);

  CChannelSet* channelSet_;
  std::vector<ChannelInfo> rows_;
  int rebuilding_ = 0;
};

// The process's filter, created on first use (after the channel set, so that
// it goes before the set at exit).
CChannelsFilter* GetChannelsFilter();
