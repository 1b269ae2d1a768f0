// The channel list: the data side of the "news_channels" layout. One row per
// entry of the channels filter with its picture, title and unread count; rows
// follow the filter and the update states; a chosen row opens its channel;
// a held row offers its pop-up menu. The main window embeds it and routes
// the channel commands of its menus here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/views/ListItemMetrics.h"
#include "app/views/ListViewBase.h"
#include "core/FontStorage.h"
#include "database/ChannelInfo.h"
#include "database/ChannelsFilter.h"
#include "update/jobs/UpdateManager.h"

// One row as drawn: the filter's entry (name, image file, type, unread
// count, update status) and the picture chosen for it.
struct ChannelListRow {
  ChannelInfo info;
  ListItemPicture picture;
  // Queue status of the update manager: 2 queued, 3 updating.
  std::int32_t status = 6;
};

class ChannelListViewBase : public RowListViewBase<ChannelListRow> {};

// Pop-up menu ids of a channel row.
enum ChannelPopupId : plat::UINT {
  kChannelMenuUpdate = 5001,
  kChannelMenuCancelUpdate = 5002,
  kChannelMenuMarkRead = 5003,
  kChannelMenuClear = 5004,
  kChannelMenuDelete = 5006,
  kChannelMenuProperties = 5007,
  kChannelMenuCleanUpdate = 5008,
};

// Commands of the main window's channels menu that EnableMenuItems sets.
enum ChannelMenuCommand : plat::UINT {
  kCmdUpdateChannel = 2043,
  kCmdUpdateAll = 2044,
  kCmdStop = 2045,
  kCmdMarkChannelRead = 2046,
  kCmdMarkAllRead = 2047,
  kCmdClearChannel = 2048,
  kCmdClearAll = 2049,
  kCmdChannelProperties = 2050,
  kCmdDeleteChannel = 2073,
};

class ChannelsView : public ChannelListViewBase, private IChannelsFilterListener, private IUIFontsListener {
 public:
  // filter: the channels filter whose rows are shown (null: the process's).
  explicit ChannelsView(CChannelsFilter* filter = nullptr);
  ~ChannelsView() override;

  // The filter's entry at index; false outside it.
  bool GetEntry(int index, ChannelInfo& row);
  bool FillChannelInfo(int index, ChannelListRow& row);

  // RefreshRow (index), RefreshAll and RefreshRows come from the list base.
  // The update queue changed (the update manager's status message): the rows
  // whose queue status is no longer the one they were built with are
  // refreshed. A channel that leaves the queue at the run's end changes
  // nothing of its own, so no data-bank event would redraw its row.
  void OnQueueChanged();
  // Makes the row of the view state's current channel the current row and
  // refreshes it.
  void RefreshCurrent();

  // Makes the row's channel current and opens its article list.
  void OpenChannel(int index);
  // "Delete Channel" for the current row (command 2073).
  void DeleteCurrentChannel();
  // The same for a row (pop-up 5006).
  void DeleteChannelAt(int index);
  // The row's pop-up menu, at a screen point.
  void ShowPopupMenu(int index, plat::POINT point);
  // The channels menu on WM_INITMENUPOPUP.
  void EnableMenuItems(plat::HMENU menu);
  // Percent of the running update, -1 when none (or in the article view).
  int GetProgress();
  std::u16string GetEmptyText() { return u""; }

  // The channel-properties sheet for a channel (pop-up 5007); set by the main
  // window; nothing while unset.
  void SetPropertiesHandler(std::function<void(const std::u16string& channelName)> handler) {
    propertiesHandler_ = std::move(handler);
  }
  // Told of every channel whose update the user starts from its row's menu.
  void SetUpdateStartedHandler(std::function<void(const std::u16string& channelName)> handler) {
    updateStartedHandler_ = std::move(handler);
  }
  void SetUi(ListViewUi ui);
  // The update manager asked and told (null: the process's).
  void SetUpdateManager(CUpdateManager* manager) { updateManager_ = manager; }

  // Draws row index into the target (for the list and for tests); false for
  // an index outside the rows.
  bool DrawRow(int index, CBitmapBuffer& target, int state, const plat::RECT& rect);

 protected:
  int SourceCount() override;
  bool FillRow(int index, ChannelListRow& row) override { return FillChannelInfo(index, row); }
  int RowCount() override;
  int InitialSelection() override;
  int RowHeight(int row, int width) override;
  int PaintRow(int row, CBitmapBuffer& target, int state, const plat::RECT& rect) override;
  void OnSelectionChanged(int row) override;
  void OnActivate(int row) override { OpenChannel(row); }
  void OnContextGesture(int row, plat::POINT screenPoint) override { ShowPopupMenu(row, screenPoint); }
  int Progress() override { return GetProgress(); }
  std::u16string EmptyText() override { return GetEmptyText(); }
  // The channel's status in the update queue (2 queued, 3 updating).
  virtual int QueueStatus(const std::u16string& channelName);

 private:
  void OnChannelsChanged() override;
  // The rows changed as a whole (a channel added, removed or renamed, the
  // list sorted again): the current row follows its channel.
  void FollowCurrentChannel();
  void OnChannelChanged(int index) override { RefreshRow(index); }
  void OnUIFontsChanged() override {}
  void RunPopupAction(plat::UINT id, const std::u16string& name, int index);

  CUpdateManager* Updates();

  CChannelsFilter* filter_;
  CUpdateManager* updateManager_ = nullptr;
  ListViewUi ui_;
  std::function<void(const std::u16string&)> propertiesHandler_;
  std::function<void(const std::u16string&)> updateStartedHandler_;
  plat::HMENU popup_ = nullptr;
};
