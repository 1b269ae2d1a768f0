#include "app/views/ChannelsView.h"

#include <vector>

#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "database/GlobalOptions.h"
#include "database/ThumbnailsManager.h"
#include "database/ViewState.h"
#include "layout/ScreenScale.h"
#include "layout/WaitCursor.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/windows/Menus.h"

namespace {

bool DefaultConfirm(plat::HWND owner, const std::u16string& text) {
  const std::u16string caption = GetApplicationTitle();
  return plat::MessageBoxW(owner, text.c_str(), caption.c_str(), plat::MB_YESNO | plat::MB_ICONQUESTION) ==
         plat::IDYES;
}

plat::UINT DefaultTrackMenu(plat::HMENU menu, plat::HWND owner, plat::POINT at) {
  return static_cast<plat::UINT>(
      plat::TrackPopupMenuEx(menu, plat::TPM_LEFTALIGN | plat::TPM_TOPALIGN | plat::TPM_RETURNCMD, at.x, at.y, owner,
                             nullptr));
}

void AppendString(plat::HMENU menu, plat::UINT id, plat::UINT stringId, plat::UINT flags = 0) {
  const std::u16string text = LocalizeResourceString(stringId);
  plat::AppendMenuW(menu, plat::MF_STRING | flags, id, text.c_str());
}

bool IsQueuedOrUpdating(std::int32_t status) { return status == UQS_WAITING || status == UQS_UPDATING; }

}  // namespace

ListViewUi CompleteUi(ListViewUi ui) {
  if (!ui.confirm) ui.confirm = &DefaultConfirm;
  if (!ui.trackMenu) ui.trackMenu = &DefaultTrackMenu;
  return ui;
}

void AppendPopupString(plat::HMENU menu, plat::UINT id, plat::UINT stringId, bool greyed) {
  AppendString(menu, id, stringId, greyed ? plat::MF_GRAYED : 0);
}

ChannelsView::ChannelsView(CChannelsFilter* filter) : filter_(filter ? filter : GetChannelsFilter()) {
  ui_ = CompleteUi({});
  {
    CSyncLock lock(filter_, u"ChannelsView::ChannelsView");
    filter_->AddListener(static_cast<IChannelsFilterListener*>(this));
  }
  GetUIFontsStorage().AddListener(static_cast<IUIFontsListener*>(this));
}

ChannelsView::~ChannelsView() {
  {
    CSyncLock lock(filter_, u"ChannelsView::~ChannelsView");
    filter_->RemoveListener(static_cast<IChannelsFilterListener*>(this));
  }
  GetUIFontsStorage().RemoveListener(static_cast<IUIFontsListener*>(this));
}

void ChannelsView::SetUi(ListViewUi ui) { ui_ = CompleteUi(std::move(ui)); }

CUpdateManager* ChannelsView::Updates() { return updateManager_ ? updateManager_ : CUpdateManager::GetInstance(); }

int ChannelsView::QueueStatus(const std::u16string& channelName) { return Updates()->GetChannelStatus(channelName); }

bool ChannelsView::GetEntry(int index, ChannelInfo& row) {
  if (index < 0) return false;
  return filter_->GetEntry(index, row);
}

bool ChannelsView::FillChannelInfo(int index, ChannelListRow& row) {
  if (!GetEntry(index, row.info)) return false;
  ListItemMetrics& m = GetListItemMetrics();
  row.picture = ListItemPicture{};
  if (!row.info.imageFile.empty()) {
    row.picture.imagePath = row.info.imageFile;
    row.picture.thumbnailSize = m.thumbnailWidth;
    row.picture.noThumbnail = false;
  }
  row.picture.icon = GetChannelItemIcon(row.info.imageFile, row.info.kind, m.iconSize);
  row.status = QueueStatus(row.info.name);
  return true;
}

int ChannelsView::SourceCount() { return filter_->GetCount(); }

void ChannelsView::OnQueueChanged() {
  std::vector<int> changed;
  ChannelListRow row;
  for (int i = 0; GetRow(i, row); ++i) {
    if (!row.info.name.empty() && QueueStatus(row.info.name) != row.status) changed.push_back(i);
  }
  for (int index : changed) RefreshRow(index);
}

void ChannelsView::OnChannelsChanged() {
  FollowCurrentChannel();
  RefreshAll();
}

void ChannelsView::FollowCurrentChannel() {
  // The rows built before the change still say which channel was current.
  ChannelListRow row;
  const int current = GetCurrentIndex();
  if (current < 0 || !GetRow(current, row) || row.info.name.empty()) return;
  int index = filter_->FindByName(row.info.name);
  std::u16string name = row.info.name;
  if (index < 0 && row.info.channel) {
    // Not under its name: renamed, the same channel under another name.
    ChannelInfo entry;
    for (int i = 0; filter_->GetEntry(i, entry); ++i) {
      if (entry.channel == row.info.channel) {
        index = i;
        name = entry.name;
        break;
      }
    }
  }
  if (index < 0 || (index == current && name == row.info.name)) return;
  SetCurrentIndex(index);
  if (name != row.info.name && GetDBViewState()->GetCurrentChannelName() == row.info.name)
    GetDBViewState()->SetCurrentChannelName(name);
}

void ChannelsView::RefreshCurrent() {
  const std::u16string name = GetDBViewState()->GetCurrentChannelName();
  const int index = name.empty() ? -1 : filter_->FindByName(name);
  if (index >= 0) SetCurrentIndex(index);
  RefreshRow(GetCurrentIndex());
}

int ChannelsView::RowCount() {
  RefreshRows();
  return GetBuiltRowCount();
}

int ChannelsView::InitialSelection() {
  const std::u16string name = GetDBViewState()->GetCurrentChannelName();
  const int index = name.empty() ? -1 : filter_->FindByName(name);
  if (index >= 0) SetCurrentIndex(index);
  const int current = GetCurrentIndex();
  return current >= 0 && current < filter_->GetCount() ? current : 0;
}

int ChannelsView::RowHeight(int, int) { return style_.rowHeight; }

int ChannelsView::PaintRow(int row, CBitmapBuffer& target, int state, const plat::RECT& rect) {
  return DrawRow(row, target, state, rect) ? 1 : 0;
}

bool ChannelsView::DrawRow(int index, CBitmapBuffer& target, int state, const plat::RECT& rect) {
  RefreshRows();
  ChannelListRow row;
  if (!GetRow(index, row)) return false;
  if (rect.right <= rect.left || rect.bottom <= rect.top || row.info.name.empty()) return true;
  DrawItemBackground(target, rect, state, style_);
  plat::RECT box = style_.pictureBox;
  plat::OffsetRect(&box, rect.left, rect.top);
  const bool disabled = (state & kRowDisabled) != 0;
  DrawListItemImage(target, box, row.picture, disabled);
  plat::RECT text = rect;
  text.right -= (GetScreenDpiX() + 16) * 3 / 96;
  // A channel whose last update failed shows it in its title's colour.
  const bool failed = row.info.updateState == US_FAILED && !IsQueuedOrUpdating(row.status);
  DrawItemText(target, text, failed ? state | kRowFailed : state, row.info.name, row.info.unreadCount, style_);
  return true;
}

// The row chosen in the list (by a tap, a hold, a key or a press that became
// a drag) is the current channel: a later showing of the list (an update's
// progress band coming or going) selects it again instead of the one opened
// last.
void ChannelsView::OnSelectionChanged(int row) {
  SetCurrentIndex(row);
  ChannelInfo entry;
  CSyncLock lock(ChannelSet(), u"ChannelsView::OnSelectionChanged");
  if (row >= 0 && GetEntry(row, entry) && !entry.name.empty()) GetDBViewState()->SetCurrentChannelName(entry.name);
}

void ChannelsView::OpenChannel(int index) {
  ChannelInfo entry;
  {
    CSyncLock lock(ChannelSet(), u"ChannelsView::OpenChannel");
    if (!GetEntry(index, entry)) return;
  }
  SetCurrentIndex(index);
  GetDBViewState()->OpenChannel(entry.name);
}

void ChannelsView::DeleteCurrentChannel() { DeleteChannelAt(GetCurrentIndex()); }

void ChannelsView::DeleteChannelAt(int index) {
  CChannelSet* set = ChannelSet();
  CSyncLock lock(set, u"ChannelsView::DeleteChannelAt");
  ChannelInfo entry;
  if (!GetEntry(index, entry)) return;
  const std::u16string question = plat::FormatString(LocalizeResourceString(141).c_str(), entry.name.c_str());
  if (!ui_.confirm(GetOwner(), question)) return;
  CWaitCursor wait;
  set->RemoveChannel(entry.name);
  const int count = filter_->GetCount();
  const int next = index < count ? index : count - 1;
  ChannelInfo successor;
  if (next >= 0 && GetEntry(next, successor)) {
    GetDBViewState()->SetCurrentChannelName(successor.name);
    SetCurrentIndex(next);
  } else {
    SetCurrentIndex(-1);
  }
  RefreshAll();
  GetDBViewState()->NotifyChange();
}

void ChannelsView::ShowPopupMenu(int index, plat::POINT point) {
  ChannelListRow row;
  {
    CSyncLock lock(ChannelSet(), u"ChannelsView::ShowPopupMenu");
    if (!FillChannelInfo(index, row)) return;
  }
  plat::HMENU menu = plat::CreatePopupMenu();
  if (!menu) return;
  const bool busy = IsQueuedOrUpdating(row.status);
  if (GetGlobalOptions().GetDeveloperMode() != 0 && !busy) {
    AppendPopupString(menu, kChannelMenuCleanUpdate, 202, false);
    plat::AppendMenuW(menu, plat::MF_SEPARATOR, 0, nullptr);
  }
  if (busy) {
    AppendPopupString(menu, kChannelMenuCancelUpdate, 169, false);
  } else {
    AppendPopupString(menu, kChannelMenuUpdate, 145, false);
  }
  plat::AppendMenuW(menu, plat::MF_SEPARATOR, 0, nullptr);
  AppendPopupString(menu, kChannelMenuMarkRead, 146, row.info.unreadCount == 0);
  AppendPopupString(menu, kChannelMenuClear, 150, false);
  AppendPopupString(menu, kChannelMenuDelete, 138, false);
  plat::AppendMenuW(menu, plat::MF_SEPARATOR, 0, nullptr);
  AppendPopupString(menu, kChannelMenuProperties, 154, false);
  popup_ = menu;
  const plat::UINT chosen = ui_.trackMenu(menu, GetOwner(), point);
  popup_ = nullptr;
  plat::DestroyMenu(menu);
  if (chosen != 0) RunPopupAction(chosen, row.info.name, index);
}

void ChannelsView::RunPopupAction(plat::UINT id, const std::u16string& name, int index) {
  bool showProperties = false;
  {
    CChannelSet* set = ChannelSet();
    CSyncLock lock(set, u"ChannelsView::RunPopupAction");
    // The channel may have gone while the menu was open.
    IChannel* channel = set->FindByName(name);
    if (!channel) return;
    const int row = filter_->FindByName(name);
    switch (id) {
      case kChannelMenuUpdate:
        Updates()->UpdateChannel(channel, 0);
        if (updateStartedHandler_) updateStartedHandler_(name);
        RefreshRow(row);
        break;
      case kChannelMenuCancelUpdate:
        Updates()->StopUpdatingChannel(channel);
        RefreshRow(row);
        break;
      case kChannelMenuMarkRead: {
        CWaitCursor wait;
        channel->MarkAllRead();
        RefreshRow(row);
        break;
      }
      case kChannelMenuClear: {
        const std::u16string question = plat::FormatString(LocalizeResourceString(166).c_str(), name.c_str());
        if (!ui_.confirm(GetOwner(), question)) break;
        CWaitCursor wait;
        channel->Acquire(this);
        channel->GetArticleSet()->DeleteAll();
        channel->Release(this, false);
        RefreshRow(row);
        break;
      }
      case kChannelMenuDelete:
        DeleteChannelAt(row >= 0 ? row : index);
        break;
      case kChannelMenuProperties:
        showProperties = true;
        break;
      case kChannelMenuCleanUpdate: {
        Updates()->StopUpdatingChannel(channel);
        CWaitCursor wait;
        CThumbnailsManager::GetInstance()->RemovePools(channel->GetBinFolder());
        channel->ClearData();
        Updates()->UpdateChannel(channel, 0);
        break;
      }
      default:
        break;
    }
  }
  if (showProperties && propertiesHandler_) propertiesHandler_(name);
}

void ChannelsView::EnableMenuItems(plat::HMENU menu) {
  if (!menu) return;
  const auto enable = [menu](plat::UINT id, bool on) {
    plat::EnableMenuItem(menu, id, plat::MF_BYCOMMAND | (on ? plat::MF_ENABLED : plat::MF_GRAYED));
  };
  enable(kCmdStop, Updates()->IsUpdating());
  for (plat::UINT id : {kCmdUpdateAll, kCmdUpdateChannel, kCmdMarkAllRead, kCmdClearChannel, kCmdClearAll,
                        kCmdDeleteChannel, kCmdChannelProperties}) {
    enable(id, true);
  }
  const int current = GetCurrentIndex();
  ChannelInfo entry;
  bool unread = false;
  {
    CSyncLock lock(ChannelSet(), u"ChannelsView::EnableMenuItems");
    unread = GetEntry(current < 0 ? 0 : current, entry) && entry.unreadCount != 0;
  }
  enable(kCmdMarkChannelRead, unread);
}

int ListProgress(CUpdateManager* updates) {
  if (!updates->IsUpdating() || GetDBViewState()->GetCurrentView() == DBV_ARTICLE) return -1;
  UpdateManagerState state;
  updates->GetState(&state);
  if (state.count <= 0) return -1;
  return (state.percent + (state.position - 1) * 100) / state.count;
}

int ChannelsView::GetProgress() { return ListProgress(Updates()); }
