#include "app/views/ArticlesView.h"

#include <vector>

#include "core/IconCache.h"
#include "core/Localizer.h"
#include "core/TextFlow.h"
#include "database/Channel.h"
#include "database/ViewState.h"
#include "layout/WaitCursor.h"
#include "platform/base/Text.h"
#include "platform/windows/Menus.h"
#include "update/jobs/UpdateManager.h"

namespace {

constexpr plat::UINT kTwoLineFormat = 0x8824;  // DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS

std::uint32_t OwnStateOf(IArticle* article) {
  auto* item = dynamic_cast<CUpdateItem*>(article);
  return item ? item->GetOwnUpdateState() : US_NEVER_UPDATED;
}

}  // namespace

ArticlesView::ArticlesView(CArticleFilter* filter) : filter_(filter ? filter : GetArticleFilter()) {
  ui_ = CompleteUi({});
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::ArticlesView");
    Subscribe(filter_);
    // The view state fills the filter with the current channel's articles.
    CDBViewState* state = GetDBViewState();
    if (!state->GetArticleFilter()) {
      state->AttachArticleFilter(filter_);
      attachedFilter_ = true;
    }
  }
  CThumbnailsManager* thumbnails = CThumbnailsManager::GetInstance();
  {
    CSyncLock lock(thumbnails, u"ArticlesView::ArticlesView");
    thumbnails->AddListener(static_cast<IThumbnailsListener*>(this));
  }
  GetUIFontsStorage().AddListener(static_cast<IUIFontsListener*>(this));
}

ArticlesView::~ArticlesView() {
  GetUIFontsStorage().RemoveListener(static_cast<IUIFontsListener*>(this));
  CThumbnailsManager* thumbnails = CThumbnailsManager::GetInstance();
  {
    CSyncLock lock(thumbnails, u"ArticlesView::~ArticlesView");
    thumbnails->RemoveListener(static_cast<IThumbnailsListener*>(this));
  }
  CSyncLock lock(ChannelSet(), u"ArticlesView::~ArticlesView");
  if (attachedFilter_ && GetDBViewState()->GetArticleFilter() == filter_) GetDBViewState()->AttachArticleFilter(nullptr);
  Unsubscribe(filter_);
}

void ArticlesView::SetUi(ListViewUi ui) { ui_ = CompleteUi(std::move(ui)); }

CUpdateManager* ArticlesView::Updates() { return updateManager_ ? updateManager_ : CUpdateManager::GetInstance(); }

void ArticlesView::OnDBEvent(CDBEvent* record) {
  if (record) {
    if (record->type == DBE_FILTER_REBUILT) {
      RefreshAll();
    } else if (record->type == DBE_ROW_CHANGED && record->filter == filter_) {
      RefreshRow(record->index);
    }
  }
  CDBEventListener::OnDBEvent(record);
}

int ArticlesView::SourceCount() { return filter_->GetCount(); }

bool ArticlesView::FillRow(int index, ArticleInfo& row) {
  IArticle* article = index >= 0 && index < filter_->GetCount() ? filter_->GetAt(index) : nullptr;
  if (!article) return false;
  ListItemMetrics& m = GetListItemMetrics();
  row = ArticleInfo{};
  row.id = article->GetId();
  row.title = article->GetTitle();
  row.ownState = OwnStateOf(article);
  row.complete = article->GetUpdateStatus() == US_UP_TO_DATE;
  std::u16string image;
  if (article->GetBinaries()->GetDownloadedFile(article->GetImageUrl(), image)) {
    row.picture.imagePath = image;
    row.picture.thumbnailSize = m.thumbnailWidth;
    row.picture.noThumbnail = false;
  }
  const int icon = row.complete && row.ownState >= US_FAILED ? kIconArticleComplete : kIconArticle;
  row.picture.icon = CResourceIconsManager::GetInstance().GetIcon(
      icon, CResourceIconsManager::GetIconForSize(icon, m.iconSize, m.allSizes));
  row.status = row.ownState == US_UP_TO_DATE ? 1 : QueueStatus(article);
  IChannel* channel = article->GetChannel();
  row.read = channel && channel->IsArticleRead(article);
  return true;
}

int ArticlesView::QueueStatus(IArticle* article) { return Updates()->GetUpdateItemStatus(article); }

int ArticlesView::RowCount() {
  RefreshRows();
  return GetBuiltRowCount();
}

int ArticlesView::RowHeight(int, int) { return style_.rowHeight; }

int ArticlesView::PaintRow(int row, CBitmapBuffer& target, int state, const plat::RECT& rect) {
  return DrawRow(row, target, state, rect) ? 1 : 0;
}

bool ArticlesView::DrawRow(int index, CBitmapBuffer& target, int state, const plat::RECT& rect) {
  RefreshRows();
  ArticleInfo row;
  if (!GetRow(index, row)) return false;
  if (rect.right <= rect.left || rect.bottom <= rect.top) return true;
  DrawItemBackground(target, rect, state, style_);
  plat::RECT box = style_.pictureBox;
  plat::OffsetRect(&box, rect.left, rect.top);
  DrawListItemImage(target, box, row.picture, (state & kRowDisabled) != 0);

  plat::HDC dc = target.GetDC();
  if (!dc) return true;
  std::u16string text = plat::TrimRight(row.title, plat::IsXmlSpaceOrNbsp);
  if (text.empty()) text = plat::TrimRight(LocalizeResourceString(170), plat::IsXmlSpaceOrNbsp);
  const plat::RECT& mg = style_.margins;
  const plat::RECT area{rect.left + mg.left, rect.top + mg.top, rect.right - mg.right, rect.bottom - mg.bottom};
  if (area.right <= area.left || area.bottom <= area.top) return true;
  const int middle = (area.top + area.bottom) / 2;
  const std::vector<plat::RECT> lines{plat::RECT{area.left, area.top, area.right, middle},
                                      plat::RECT{area.left, middle, area.right, area.bottom}};
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, style_.Font(row.read ? 0 : 1));
  const plat::COLORREF oldColour = plat::SetTextColor(dc, GetItemTextColour(style_, state));
  const int oldMode = plat::SetBkMode(dc, plat::TRANSPARENT);
  DrawTextInLineRects(dc, text, lines, kTwoLineFormat);
  plat::SetBkMode(dc, oldMode);
  plat::SetTextColor(dc, oldColour);
  plat::SelectObject(dc, oldFont);
  return true;
}

bool ArticlesView::GetCurrent(int* index, IArticle** article) {
  const int current = GetCurrentIndex();
  if (current < 0 || current >= filter_->GetCount()) return false;
  if (index) *index = current;
  if (article) *article = filter_->GetAt(current);
  return true;
}

std::u16string ArticlesView::GetRememberedArticle(const std::u16string& channelName) {
  CSyncLock lock(&lock_, u"ArticlesView::GetRememberedArticle");
  const auto found = currentByChannel_.find(channelName);
  return found == currentByChannel_.end() ? std::u16string() : found->second;
}

int ArticlesView::FindCurrentIndex() {
  CDBViewState* state = GetDBViewState();
  const std::u16string id = state->GetCurrentArticleID();
  const std::u16string remembered = GetRememberedArticle(state->GetCurrentChannelName());
  CSyncLock lock(ChannelSet(), u"ArticlesView::FindCurrentIndex");
  int index = id.empty() ? -1 : filter_->FindIndexById(id);
  if (index < 0 && !remembered.empty()) index = filter_->FindIndexById(remembered);
  return index < 0 ? 0 : index;
}

void ArticlesView::SelectRow(int index) {
  SetCurrentIndex(index);
  CDBViewState* state = GetDBViewState();
  CSyncLock lock(ChannelSet(), u"ArticlesView::SelectRow");
  if (index < 0 || index >= filter_->GetCount()) return;
  const std::u16string id = filter_->GetAt(index)->GetId();
  state->SetCurrentArticleID(id);
  const std::u16string channel = state->GetCurrentChannelName();
  CSyncLock viewLock(&lock_, u"ArticlesView::SelectRow");
  currentByChannel_[channel] = id;
}

void ArticlesView::OpenRow(int index) {
  SelectRow(index);
  std::u16string id;
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::OpenRow");
    if (index < 0 || index >= filter_->GetCount()) return;
    id = filter_->GetAt(index)->GetId();
  }
  GetDBViewState()->OpenArticle(id);
}

void ArticlesView::SetReadAt(int index, bool read) {
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::SetReadAt");
    if (index < 0 || index >= filter_->GetCount()) return;
    IArticle* article = filter_->GetAt(index);
    IChannel* channel = article->GetChannel();
    if (!channel) return;
    channel->SetArticleRead(article, read);
  }
  RefreshRow(index);
}

void ArticlesView::SetCurrentRead(bool read) { SetReadAt(GetCurrentIndex(), read); }

void ArticlesView::DeleteAt(int index) {
  CWaitCursor wait;
  CDBViewState* state = GetDBViewState();
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::DeleteAt");
    if (index < 0 || index >= filter_->GetCount()) return;
    filter_->GetAt(index)->Delete();
    const int count = filter_->GetCount();
    const int next = index < count ? index : count - 1;
    const std::u16string channel = state->GetCurrentChannelName();
    if (next >= 0) {
      const std::u16string id = filter_->GetAt(next)->GetId();
      state->SetCurrentArticleID(id);
      CSyncLock viewLock(&lock_, u"ArticlesView::DeleteAt");
      currentByChannel_[channel] = id;
      current_ = next;
    } else {
      state->SetCurrentArticleID(u"");
      CSyncLock viewLock(&lock_, u"ArticlesView::DeleteAt");
      currentByChannel_.erase(channel);
      current_ = -1;
    }
  }
  RefreshAll();
}

void ArticlesView::DeleteCurrent() { DeleteAt(GetCurrentIndex()); }

std::u16string ArticlesView::GetEmptyText() {
  int count = 0;
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::GetEmptyText");
    count = filter_->GetCount();
  }
  return count == 0 ? LocalizeResourceString(302) : std::u16string();
}

int ArticlesView::GetProgress() { return ListProgress(Updates()); }

void ArticlesView::ShowPopupMenu(int index, plat::POINT point) {
  ArticleInfo row;
  bool redownload = false;
  {
    CSyncLock lock(ChannelSet(), u"ArticlesView::ShowPopupMenu");
    if (!FillRow(index, row)) return;
    IChannel* channel = filter_->GetAt(index)->GetChannel();
    if (channel) {
      const auto& properties = channel->GetProperties();
      const auto type = properties.find(kPropType);
      redownload = type == properties.end() || plat::EqualsNoCase(type->second, kChannelTypeScript);
    }
  }
  plat::HMENU menu = plat::CreatePopupMenu();
  if (!menu) return;
  if (row.status == UQS_WAITING || row.status == UQS_UPDATING) {
    AppendPopupString(menu, kArticleMenuCancelDownload, 171, false);
  } else if (!row.complete || row.ownState == US_WAITING || row.ownState == US_CHILD_WAITING) {
    AppendPopupString(menu, kArticleMenuFinishDownload, 172, false);
  } else if (redownload) {
    AppendPopupString(menu, kArticleMenuRedownload, 196, false);
  }
  if (row.read) {
    AppendPopupString(menu, kArticleMenuMarkUnread, 147, false);
  } else {
    AppendPopupString(menu, kArticleMenuMarkRead, 148, false);
  }
  AppendPopupString(menu, kArticleMenuDelete, 149, false);
  const plat::UINT chosen = ui_.trackMenu(menu, GetOwner(), point);
  plat::DestroyMenu(menu);
  if (chosen != 0) RunPopupAction(chosen, row.id);
}

void ArticlesView::RunPopupAction(plat::UINT id, const std::u16string& articleId) {
  CSyncLock lock(ChannelSet(), u"ArticlesView::RunPopupAction");
  // Looked up again: the article may have gone while the menu was open. The
  // action is the row's own article's, which need not be the current one.
  const int index = filter_->FindIndexById(articleId);
  if (index < 0) return;
  IArticle* article = filter_->GetAt(index);
  switch (id) {
    case kArticleMenuFinishDownload:
      Updates()->UpdateArticle(article);
      RefreshRow(index);
      break;
    case kArticleMenuCancelDownload:
      Updates()->StopUpdatingArticle(article);
      RefreshRow(index);
      break;
    case kArticleMenuRedownload:
      article->GetBinaries()->RemoveAll();
      article->SetUpdateState(US_WAITING);
      Updates()->UpdateArticle(article);
      break;
    case kArticleMenuMarkRead:
      SetReadAt(index, true);
      break;
    case kArticleMenuMarkUnread:
      SetReadAt(index, false);
      break;
    case kArticleMenuDelete:
      DeleteAt(index);
      break;
    default:
      break;
  }
}
