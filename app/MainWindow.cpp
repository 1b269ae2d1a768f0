#include "app/MainWindow.h"

#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/dialogs/AboutBox.h"
#include "app/dialogs/ConnectionQuestions.h"
#include "app/dialogs/HelpViewer.h"
#include "app/views/ArticleView.h"
#include "app/wizard/NewChannelWizard.h"
#include "core/ImageDecoder.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/RegisteredMessages.h"
#include "core/StringUtils.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/Article.h"
#include "database/ArticleFilter.h"
#include "database/ChannelSet.h"
#include "database/ChannelsFilter.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/DialogFontCache.h"
#include "layout/KineticScroller.h"
#include "layout/LayoutServices.h"
#include "layout/ScreenScale.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Format.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/gdi/Gdi.h"
#include "platform/inet/Inet.h"
#include "resources/app/resource.h"
#include "update/jobs/UpdateFailures.h"
#include "update/jobs/UpdateManager.h"

namespace {

constexpr const char16_t* kUpdateLocked = u"UpdateLocked";
// Sent to the visible child on WM_HELP; a child that shows its own help
// answers non-zero.
constexpr plat::UINT kHelpRequestMessage = 8275;
// Codes of the article view's HTML viewer that its parent handles.
constexpr plat::UINT kHtmlNotifyCodes[] = {1125, 1126, 1128, 1134};
constexpr plat::UINT kExitMenuLoop = 530;
// Posted once the window is shown: the channels that could not be read are named.
constexpr plat::UINT kReportUnreadableChannels = plat::WM_APP + 610;
constexpr plat::UINT IDS_CHANNEL_UNREADABLE = 348;
// Commands of the article screens (the article view's menus).
constexpr int kCmdStopChannel = 2074;
constexpr int kCmdMarkArticleRead = 2076;
constexpr int kCmdDeleteArticle = 2078;
constexpr int kCmdMarkArticleUnread = 2079;
constexpr int kCmdUpdateArticle = 2080;
constexpr int kCmdArticleLocation = 2082;

struct LayoutInfo {
  const char16_t* name;
  plat::UINT menu;
  const char16_t* helpTopic;
  int transitionCode;
};

const LayoutInfo& InfoOf(int state) {
  static const LayoutInfo infos[] = {
      {u"", 0, u"Main_contents", 0},
      {u"news_blank", IDR_MENU_BLANK, u"Main_contents", 0},
      {u"news_channels", IDR_MENU_CHANNELS, u"channels", 0},
      {u"news_articles", IDR_MENU_ARTICLES, u"articles", 1},
      {u"news_articles", IDR_MENU_ARTICLE, u"article", 2},
  };
  return infos[state >= 0 && state <= 4 ? state : 0];
}

void WriteUpdateLocked(std::uint32_t value) {
  CVORegistry key = OpenSettingsKey();
  key.SetDWORD(kUpdateLocked, value);
}

// The current channel of the view state, or null.
IChannel* CurrentChannel() {
  return GetChannelSet()->FindByName(GetDBViewState()->GetCurrentChannelName());
}

int AskYesNo(plat::HWND owner, const std::u16string& text) {
  const std::u16string caption = GetApplicationTitle();
  return plat::MessageBoxW(owner, text.c_str(), caption.c_str(), plat::MB_YESNO | plat::MB_ICONQUESTION);
}


}  // namespace

std::shared_ptr<CWaitCursor>& GetStartupWaitCursor() {
  static std::shared_ptr<CWaitCursor> holder;
  return holder;
}

MainWindow::MainWindow(plat::HWND* uiWindowSlot) : uiWindowSlot_(uiWindowSlot) {
  // The wait cursor shows until the window has been created.
  GetStartupWaitCursor() = std::make_shared<CWaitCursor>();
  CreateDataSources();
  caption_ = GetApplicationTitle();
  SetFlags(GetFlags() | kCloseOnSysCommand);
  InstallLayoutServices();
  // The internet library sets itself up once per process on first use, and
  // its TLS library keeps that set-up with the thread that did it: done here,
  // on the program's main thread, rather than by the update worker (which
  // ends before the process and would take it along unfreed).
  if (plat::HINTERNET session = plat::InternetOpenW(caption_.c_str(), 0, nullptr, nullptr, 0))
    plat::InternetCloseHandle(session);
  const OrvRegisteredMessages& messages = GetRegisteredMessages();
  updateManagerMessage_ = messages.updateManagerChanged;
  viewStateMessage_ = GetViewStateChangedMessage();
  updateNowMessage_ = messages.updateNow;
}

MainWindow::~MainWindow() {
  if (hwnd_ && plat::IsWindow(hwnd_)) plat::DestroyWindow(hwnd_);
  DeleteEmptyPicture();
  if (layoutView_.GetWindow()) plat::DestroyWindow(layoutView_.GetWindow());
  RemoveLayoutServices();
  if (articleWindow_ && plat::IsWindow(articleWindow_)) plat::DestroyWindow(articleWindow_);
  articleWindow_ = nullptr;
}

void MainWindow::CreateDataSources() {
  channelsSource_ = MakeDataSource<CProgressFormDataSource>(channelsView_.GetListSource());
  articlesSource_ = MakeDataSource<CProgressFormDataSource>(articlesView_.GetListSource());
  progressSource_ = MakeDataSource<CProgressDataSource>();
  listNameSource_ = MakeDataSource<CListNameDataSource>();
}

plat::HWND MainWindow::CreateUnder(plat::HWND owner) {
  plat::HWND window = Create(owner, kEmptyDialogId);
  if (!window) return nullptr;
  plat::ShowWindow(window, plat::SW_SHOW);
  plat::UpdateWindow(window);
  return window;
}

int MainWindow::Run(plat::HWND owner) {
  plat::HWND window = CreateUnder(owner);
  if (!window) {
    GetStartupWaitCursor().reset();
    return -1;
  }
  // The article page scrolls under the finger; a sideways fling on it
  // shows the previous or the next article.
  struct ArticleSwipe final : ISwipeHandler {
    explicit ArticleSwipe(MainWindow* owner) : owner(owner) {}
    void Previous() override { owner->ShowPreviousArticle(); }
    void Next() override { owner->ShowNextArticle(); }
    MainWindow* owner;
  } swipe(this);
  HtmlViewScrollFilter scrollFilter(&swipe);
  int code = 0;
  plat::MSG msg{};
  while (plat::IsWindow(window)) {
    const int got = plat::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      code = got == 0 ? static_cast<int>(msg.wParam) : -1;
      break;
    }
    if (scrollFilter.Filter(msg)) continue;
    if (plat::IsWindow(window) && plat::IsDialogMessageW(window, &msg)) continue;
    plat::TranslateMessage(&msg);
    plat::DispatchMessageW(&msg);
  }
  if (plat::IsWindow(window)) plat::DestroyWindow(window);
  return code;
}

void MainWindow::OnInit() {
  // Styles, caption and the navigation bar's text.
  plat::SHFullScreen(hwnd_, plat::SHFS_SHOWSIPBUTTON);
  plat::SetWindowTextW(hwnd_, caption_.c_str());

  GetDBViewState()->SetNotifyWindow(hwnd_);

  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  CreateArticleView();
  layoutView_.Create(hwnd_, client, plat::WS_CHILD | plat::WS_VISIBLE);
  for (ListViewBase* view : {static_cast<ListViewBase*>(&channelsView_), static_cast<ListViewBase*>(&articlesView_)}) {
    view->SetOwner(hwnd_);
    view->SetListWindow(layoutView_.GetWindow());
  }
  channelsView_.SetPropertiesHandler([this](const std::u16string& name) { OpenChannelProperties(name); });
  channelsView_.SetUpdateStartedHandler([this](const std::u16string& name) {
    automatic_ = false;
    handUpdated_ = name;
  });
  autoFit_ = std::make_unique<DialogAutoFit>(hwnd_, false, false, false);
  autoFit_->AddRow(layoutView_.GetWindow(), DialogAutoFit::kFill);
  if (articleWindow_) autoFit_->AddRow(articleWindow_, DialogAutoFit::kFill);

  ShowView();

  CUpdateManager::GetInstance()->AddEventListener(hwnd_, updateManagerMessage_);
  if (uiWindowSlot_) *uiWindowSlot_ = hwnd_;
  plat::SetActiveWindow(hwnd_);
  GetStartupWaitCursor().reset();
  plat::PostMessageW(hwnd_, kReportUnreadableChannels, 0, 0);
}

// ---------------------------------------------------------------------------
// Views

void MainWindow::ShowView() {
  UpdateHintText();
  if (!hint_.empty()) {
    SwitchTo(kLayoutBlank);
  } else {
    DeleteEmptyPicture();
    switch (GetDBViewState()->GetCurrentView()) {
      case DBV_ARTICLE_LIST:
        SwitchTo(kLayoutArticles);
        channelsView_.RefreshCurrent();
        if (layoutView_.GetWindow()) plat::InvalidateRect(layoutView_.GetWindow(), nullptr, plat::FALSE);
        break;
      case DBV_ARTICLE: {
        SwitchTo(kLayoutArticle);
        channelsView_.RefreshCurrent();
        articlesView_.RefreshAll();
        IArticle* article = nullptr;
        {
          CSyncLock lock(GetChannelSet());
          article = GetArticleFilter()->FindById(GetDBViewState()->GetCurrentArticleID());
          ShowArticleInView(article);
        }
        ApplyArticleViewSettings();
        if (articleWindow_) plat::SetFocus(articleWindow_);
        break;
      }
      default:
        SwitchTo(kLayoutChannels);
        break;
    }
  }
  RecomputeUpdatingFlag();
  // The run may have started or ended since the bar was made.
  UpdateSoftKey();
  if (autoFit_) {
    std::vector<plat::HWND> shown;
    if (layoutView_.GetWindow()) shown.push_back(layoutView_.GetWindow());
    // The article view covers the whole window: the list stays behind it, hidden.
    if (articleWindow_ && layoutState_ == kLayoutArticle) shown.assign(1, articleWindow_);
    autoFit_->SetVisibleControls(shown);
    autoFit_->Layout();
  }
}

void MainWindow::SwitchTo(int state) {
  if (layoutState_ == state) return;
  // A slide still playing would draw the old switch over the new screen.
  layoutView_.EndTransition();
  CWaitCursor wait;
  if (hwnd_) plat::SHFullScreen(hwnd_, plat::SHFS_SHOWSIPBUTTON);
  const int previous = layoutState_;
  if (state == kLayoutChannels) {
    // Leaving the articles: no article is current; the current row's channel
    // is the current channel.
    GetDBViewState()->SetCurrentArticleID(u"");
    ChannelInfo entry;
    const int row = channelsView_.GetCurrentIndex();
    if (row >= 0 && channelsView_.GetEntry(row, entry)) {
      CSyncLock lock(GetChannelSet());
      GetDBViewState()->SetCurrentChannelName(entry.name);
    }
  }
  layoutState_ = state;
  const LayoutInfo& info = InfoOf(state);

  plat::IUnknown* source = nullptr;
  switch (state) {
    case kLayoutBlank: source = static_cast<IDataSource*>(listNameSource_.Get()); break;
    case kLayoutChannels: source = static_cast<IDataSource*>(channelsSource_.Get()); break;
    default: source = static_cast<IDataSource*>(articlesSource_.Get()); break;
  }
  int direction = 0;
  // The article view covers the layout view: a transition played under it
  // would only paint the list over the article.
  if (transitions_ && previous != kLayoutNone && state != kLayoutArticle && previous != kLayoutArticle) {
    const int from = InfoOf(previous).transitionCode;
    const int to = info.transitionCode;
    direction = to > from ? 1 : (to < from ? -1 : 0);
  }
  if (layoutView_.GetWindow()) layoutView_.ShowLayout(info.name, source, direction);
  if (hwnd_) softKeys_.Create(hwnd_, info.menu, false);
  UpdateSoftKey();
  // The caption last: once it names the screen, the screen and its soft
  // keys are in place.
  std::u16string caption = caption_;
  if (state == kLayoutArticles || state == kLayoutArticle) caption = GetDBViewState()->GetCurrentChannelName();
  if (hwnd_) plat::SetWindowTextW(hwnd_, caption.c_str());

  // The blank screen takes no input of its own: with its layout view
  // disabled, a tap anywhere reaches this window (the hint's tap).
  plat::HWND layout = layoutView_.GetWindow();
  const bool articleShown = state == kLayoutArticle && articleWindow_;
  plat::HWND inUse = articleShown ? articleWindow_ : (state == kLayoutBlank ? nullptr : layout);
  for (plat::HWND child : {layout, articleWindow_}) {
    if (child && child != inUse) plat::EnableWindow(child, plat::FALSE);
  }
  if (inUse) {
    plat::EnableWindow(inUse, plat::TRUE);
    plat::SetFocus(inUse);
  } else if (hwnd_) {
    plat::SetFocus(hwnd_);
  }
}

void MainWindow::UpdateHintText() {
  std::u16string hint;
  oldFormatHint_ = false;
  {
    CSyncLock lock(GetChannelSet());
    if (GetChannelsFilter()->GetCount() == 0) {
      hint = LocalizeResourceString(298);
    } else if (GetChannelSet()->IsStorageMissing()) {
      hint = LocalizeResourceString(206);
    } else if (GetChannelSet()->HasOldFormatChannels()) {
      GetDBViewState()->Reset();
      hint = ApplyProductName(LocalizeResourceString(241));
      oldFormatHint_ = true;
    }
  }
  if (hint == hint_) return;
  hint_ = hint;
  listNameSource_->SetListName(hint_);
  if (layoutView_.GetWindow()) plat::InvalidateRect(layoutView_.GetWindow(), nullptr, plat::FALSE);
}

void MainWindow::UpdateSoftKey() {
  if (layoutState_ != kLayoutBlank && layoutState_ != kLayoutChannels) return;
  const int left = softKeys_.GetLeftCommand();
  if (left < 0) return;
  if (CUpdateManager::GetInstance()->IsUpdating()) {
    softKeys_.SetButton(left, plat::TBSTATE_ENABLED, LocalizeResourceString(295), ID_UPDATE_STOP);
  } else if (layoutState_ == kLayoutChannels) {
    softKeys_.SetButton(left, plat::TBSTATE_ENABLED, LocalizeResourceString(294), ID_UPDATE_ALL);
  } else {
    softKeys_.SetButton(left, plat::TBSTATE_ENABLED, LocalizeResourceString(134), ID_NEW_CHANNEL);
  }
}

void MainWindow::RecomputeUpdatingFlag() {
  const bool updating =
      CUpdateManager::GetInstance()->IsUpdating() && GetDBViewState()->GetCurrentView() != DBV_ARTICLE;
  if (updating == updating_) return;
  updating_ = updating;
  channelsSource_->SetProgressFormShown(updating);
  articlesSource_->SetProgressFormShown(updating);
  // The list moves down under the progress form or up into its room: the
  // screen is laid out again on its next paint.
  if (plat::HWND view = layoutView_.GetWindow()) {
    plat::SendMessageW(view, WM_LAYOUT_REPAINT_ALL, 0, 0);
    plat::InvalidateRect(view, nullptr, plat::FALSE);
  }
}

// ---------------------------------------------------------------------------
// The empty database

void MainWindow::DeleteEmptyPicture() {
  if (emptyPicture_) plat::DeleteObject(emptyPicture_);
  emptyPicture_ = nullptr;
}

bool MainWindow::PaintEmptyDatabase(plat::HDC dc) {
  if (hint_.empty() || !dc) return false;
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  plat::FillRect(dc, &client, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH)));
  if (!emptyPicture_) {
    const bool vga = (GetScreenDpiX() + 48) / 96 == 2;
    const std::u16string path = GetGlobalOptions().GetProgramFolder() + u"\\Images\\" +
                                (vga ? u"Empty_db_VGA.png" : u"Empty_db_qVGA.png");
    emptyPicture_ = LoadImageFromFile(path, false);
  }
  int textTop = client.top + ScaleY(16);
  if (emptyPicture_) {
    plat::BITMAP info{};
    plat::GetObjectW(emptyPicture_, sizeof info, &info);
    plat::HDC memory = plat::CreateCompatibleDC(dc);
    plat::HGDIOBJ old = plat::SelectObject(memory, emptyPicture_);
    const int x = client.left + (client.right - client.left - info.bmWidth) / 2;
    plat::BitBlt(dc, x, textTop, info.bmWidth, info.bmHeight, memory, 0, 0, plat::SRCCOPY);
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    textTop += info.bmHeight + ScaleY(8);
  }
  plat::RECT text{client.left + ScaleX(10), textTop, client.right - ScaleX(10), client.bottom};
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, GetDialogFontCache().GetFont(true));
  plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::SetTextColor(dc, 0x000000);
  plat::DrawTextW(dc, hint_.c_str(), static_cast<int>(hint_.size()), &text,
                  plat::DT_CENTER | plat::DT_WORDBREAK | plat::DT_NOPREFIX);
  plat::SelectObject(dc, oldFont);
  return true;
}

// ---------------------------------------------------------------------------
// Commands

bool MainWindow::OnCommand(int id) {
  CUpdateManager* updates = CUpdateManager::GetInstance();
  switch (id) {
    case ID_UPDATE_CHANNEL: {
      automatic_ = false;
      WriteUpdateLocked(2);
      {
        CSyncLock lock(GetChannelSet());
        if (IChannel* channel = CurrentChannel()) {
          updates->UpdateChannel(channel, 0);
          handUpdated_ = channel->GetName();
        }
      }
      UpdateSoftKey();
      return true;
    }
    case ID_UPDATE_ALL:
      automatic_ = false;
      handUpdated_.clear();
      WriteUpdateLocked(1);
      updates->UpdateAllChannels(0);
      return true;
    case ID_UPDATE_STOP:
      automatic_ = false;
      handUpdated_.clear();
      updates->StopUpdatingAllChannels();
      UpdateSoftKey();
      return true;
    case ID_MARK_CHANNEL_READ:
      MarkRead(false);
      return true;
    case kCmdStopChannel: {
      {
        CSyncLock lock(GetChannelSet());
        if (IChannel* channel = CurrentChannel()) updates->StopUpdatingChannel(channel);
      }
      UpdateSoftKey();
      return true;
    }
    case kCmdMarkArticleRead:
      articlesView_.SetCurrentRead(true);
      return true;
    case kCmdMarkArticleUnread:
      articlesView_.SetCurrentRead(false);
      return true;
    case kCmdDeleteArticle:
      articlesView_.DeleteCurrent();
      return true;
    case kCmdUpdateArticle:
      UpdateCurrentArticle();
      return true;
    case kCmdArticleLocation: {
      CGlobalOptions& options = GetGlobalOptions();
      options.SetShowArticleLocation(options.GetShowArticleLocation() ? 0 : 1);
      ApplyArticleViewSettings();
      return true;
    }
    case ID_DELETE_CHANNEL:
      channelsView_.DeleteCurrentChannel();
      ShowView();
      return true;
    case ID_MARK_ALL_READ:
      if (AskYesNo(hwnd_, LocalizeResourceString(139)) == plat::IDYES) MarkRead(true);
      return true;
    case ID_CLEAR_CHANNEL:
      ClearArticles(false);
      return true;
    case ID_CLEAR_ALL:
      if (AskYesNo(hwnd_, LocalizeResourceString(167)) == plat::IDYES) ClearArticles(true);
      return true;
    case ID_CHANNEL_PROPERTIES:
      OpenChannelProperties(GetDBViewState()->GetCurrentChannelName());
      return true;
    case ID_OPTIONS:
      OpenOptions();
      return true;
    case ID_ABOUT:
      OpenAbout();
      return true;
    case ID_NEW_CHANNEL:
      OpenAddChannelsWizard();
      ShowView();
      return true;
    case ID_FINISH_UPDATE: {
      CSyncLock lock(GetChannelSet());
      const std::u16string name = GetDBViewState()->GetCurrentChannelName();
      if (name.empty()) {
        updates->UpdateAllChannels(1);
      } else if (IChannel* channel = GetChannelSet()->FindByName(name)) {
        updates->UpdateChannel(channel, 1);
      }
      return true;
    }
    case ID_BACK:
    case plat::IDOK: {
      const plat::DWORD view = GetDBViewState()->GetCurrentView();
      if (view == DBV_ARTICLE_LIST) {
        GetDBViewState()->GoToChannelList();
      } else if (view == DBV_ARTICLE) {
        GetDBViewState()->GoToArticleList();
      } else {
        return id == ID_BACK;
      }
      return true;
    }
    case ID_TEXT_LARGEST: SetTextSize(4); return true;
    case ID_TEXT_LARGER: SetTextSize(3); return true;
    case ID_TEXT_MEDIUM: SetTextSize(2); return true;
    case ID_TEXT_SMALLER: SetTextSize(1); return true;
    case ID_TEXT_SMALLEST: SetTextSize(0); return true;
    case ID_EXIT:
      plat::PostQuitMessage(0);
      return true;
    default:
      return false;
  }
}

void MainWindow::MarkRead(bool all) {
  CWaitCursor wait;
  CSyncLock lock(GetChannelSet());
  auto mark = [this](IChannel* channel) {
    if (!channel) return;
    channel->Acquire(this);
    channel->MarkAllRead();
    channel->Release(this, true);
  };
  if (all) {
    CChannelSet* set = GetChannelSet();
    for (int i = 0; i < set->GetCount(); ++i) mark(set->GetAt(i));
    channelsView_.RefreshAll();
    return;
  }
  IChannel* channel = CurrentChannel();
  if (!channel) return;
  mark(channel);
  const plat::DWORD view = GetDBViewState()->GetCurrentView();
  if (view == DBV_CHANNEL_LIST) channelsView_.RefreshRow(GetChannelsFilter()->FindByName(channel->GetName()));
  else if (view == DBV_ARTICLE_LIST) articlesView_.RefreshAll();
}

void MainWindow::UpdateCurrentArticle() {
  automatic_ = false;
  WriteUpdateLocked(2);
  CSyncLock lock(GetChannelSet());
  if (IArticle* article = GetArticleFilter()->FindById(GetDBViewState()->GetCurrentArticleID()))
    CUpdateManager::GetInstance()->UpdateArticle(article);
}

void MainWindow::ClearArticles(bool all) {
  if (!all) {
    const std::u16string name = GetDBViewState()->GetCurrentChannelName();
    if (AskYesNo(hwnd_, plat::FormatString(LocalizeResourceString(166).c_str(), name.c_str())) != plat::IDYES) return;
  }
  CSyncLock lock(GetChannelSet());
  CWaitCursor wait;
  CChannelSet* set = GetChannelSet();
  auto clear = [this](IChannel* channel) {
    if (!channel) return;
    channel->Acquire(this);
    channel->GetArticleSet()->DeleteAll();
    channel->Release(this, false);
  };
  if (all) {
    for (int i = 0; i < set->GetCount(); ++i) clear(set->GetAt(i));
  } else {
    clear(CurrentChannel());
  }
}

void MainWindow::OnHintTapped() {
  if (!oldFormatHint_) {
    plat::PostMessageW(hwnd_, plat::WM_COMMAND, ID_NEW_CHANNEL, 0);
    return;
  }
  ConvertOldFormatChannels();
  ShowView();
}

void MainWindow::ConvertOldFormatChannels() {
  CWaitCursor wait;
  CUpdateManager::GetInstance()->StopUpdatingAllChannels();
  CSyncLock lock(GetChannelSet());
  CChannelSet* set = GetChannelSet();
  for (int i = 0; i < set->GetCount(); ++i) {
    if (IChannel* channel = set->GetAt(i)) channel->ClearData();
  }
  set->ClearOldFormatFlags();
}

void MainWindow::MarkTextSize(plat::HMENU menu) {
  // Items from "Largest" (4) down to "Smallest" (0); the size in use is checked.
  static constexpr int kItems[] = {ID_TEXT_SMALLEST, ID_TEXT_SMALLER, ID_TEXT_MEDIUM, ID_TEXT_LARGER, ID_TEXT_LARGEST};
  const std::uint32_t size = GetGlobalOptions().GetHTMLTextSize();
  for (std::uint32_t i = 0; i < std::size(kItems); ++i)
    plat::CheckMenuItem(menu, static_cast<plat::UINT>(kItems[i]),
                        plat::MF_BYCOMMAND | (i == size ? plat::MF_CHECKED : plat::MF_UNCHECKED));
}

void MainWindow::SetTextSize(std::uint32_t size) {
  GetGlobalOptions().SetHTMLTextSize(size);
  ApplyArticleViewSettings();
}

void MainWindow::StepArticle(int delta) {
  if (GetDBViewState()->GetCurrentView() != DBV_ARTICLE) return;
  {
    CSyncLock lock(GetChannelSet());
    CArticleFilter* filter = GetArticleFilter();
    const int index = filter->FindIndexById(GetDBViewState()->GetCurrentArticleID());
    const int next = index + delta;
    if (index < 0 || next < 0 || next >= filter->GetCount()) return;
    IArticle* article = filter->GetAt(next);
    if (!article) return;
    GetDBViewState()->OpenArticle(article->GetId());
  }
  ShowView();
}

void MainWindow::ShowPreviousArticle() { StepArticle(-1); }
void MainWindow::ShowNextArticle() { StepArticle(1); }

int MainWindow::Minimize() {
  plat::ShowWindow(hwnd_, plat::SW_MINIMIZE);
  return 0;
}

void MainWindow::OnBackKey() {
  if (GetDBViewState()->GetCurrentView() == DBV_CHANNEL_LIST) {
    OnDoneKey(0);
    return;
  }
  OnCommand(ID_BACK);
}

// ---------------------------------------------------------------------------
// The update manager

plat::LRESULT MainWindow::OnUpdateNowMessage() {
  automatic_ = true;
  handUpdated_.clear();
  WriteUpdateLocked(2);
  CUpdateManager::GetInstance()->UpdateAllChannels(0);
  return 0;
}

plat::LRESULT MainWindow::OnUpdateManagerChanged(plat::WPARAM wParam, plat::LPARAM lParam) {
  if (lParam == 0) {
    // A channel's row shows whether it waits or updates.
    channelsView_.OnQueueChanged();
    if (wParam == 0) {
      if (plat::HWND view = layoutView_.GetWindow()) {
        plat::InvalidateRect(view, nullptr, plat::FALSE);
        plat::SendMessageW(view, WM_LAYOUT_REPAINT_ALL, 0, 0);
      }
      RecomputeUpdatingFlag();
      if (GetDBViewState()->GetCurrentView() == DBV_CHANNEL_LIST) UpdateSoftKey();
    } else if (wParam == 1) {
      ShowView();
    }
    ReportHandUpdateFailure();
    return 0;
  }
  if (lParam != 1) return 0;
  CGlobalOptions& options = GetGlobalOptions();
  if (wParam == CUpdateManager::kAskNoConnection) {
    // The user hears of the missing connection: that is the reason.
    handUpdated_.clear();
    if (!automatic_) ShowMessageBox(hwnd_, 220, plat::MB_OK | plat::MB_ICONERROR);
    return 1;
  }
  if (wParam == CUpdateManager::kAskPaidConnection) {
    if (automatic_) return options.GetUseFreeConnectionsOnly() ? 0 : 1;
    return AskToUsePaidConnection(hwnd_) ? 1 : 0;
  }
  return 0;
}

void MainWindow::ReportHandUpdateFailure() {
  CUpdateManager* updates = CUpdateManager::GetInstance();
  if (handUpdated_.empty() || automatic_ || updates->IsUpdating()) return;
  // A status from before the run began: the channel still waits in the queue.
  const int queued = updates->GetChannelStatus(handUpdated_);
  if (queued == UQS_WAITING || queued == UQS_UPDATING) return;
  const std::u16string name = std::exchange(handUpdated_, std::u16string());
  bool failed = false;
  {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    failed = channel && channel->GetUpdateStatus() == US_FAILED;
  }
  std::u16string reason = TakeUpdateFailure(name);
  if (!failed) return;
  if (reason.empty()) reason = LocalizeResourceString(364);
  const std::u16string text = plat::FormatString(LocalizeResourceString(360).c_str(), name.c_str(), reason.c_str());
  const std::u16string caption = GetApplicationTitle();
  plat::MessageBoxW(hwnd_, text.c_str(), caption.c_str(), plat::MB_OK | plat::MB_ICONEXCLAMATION);
}

void MainWindow::ReportUnreadableChannels() {
  std::vector<std::u16string> names;
  {
    CSyncLock lock(GetChannelSet());
    names = GetChannelSet()->GetUnreadableChannels();
  }
  const std::u16string caption = GetApplicationTitle();
  for (const std::u16string& name : names) {
    // Asked with no lock held: other threads may need the database meanwhile.
    const std::u16string text = plat::FormatString(LocalizeResourceString(IDS_CHANNEL_UNREADABLE).c_str(), name.c_str());
    if (plat::MessageBoxW(hwnd_, text.c_str(), caption.c_str(), plat::MB_YESNO | plat::MB_ICONEXCLAMATION) !=
        plat::IDYES) {
      continue;
    }
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->SetAsideUnreadable(name);
  }
}

// ---------------------------------------------------------------------------
// Messages

bool MainWindow::ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                                       plat::LRESULT& result) {
  if (msg == plat::WM_SIZE && autoFit_) autoFit_->Layout();
  result = 0;
  switch (msg) {
    case plat::WM_COMMAND:
      if (OnCommand(plat::LOWORD(wParam))) return true;
      break;
    case plat::WM_HOTKEY:
      if (plat::HIWORD(lParam) == plat::VK_TBACK) {
        // The bar reports the key's press and its release: one press is one
        // step back.
        if (!(plat::LOWORD(lParam) & plat::MOD_KEYUP)) OnBackKey();
        return true;
      }
      break;
    case plat::WM_HELP: {
      plat::HWND visible = nullptr;
      if (articleWindow_ && plat::IsWindowVisible(articleWindow_)) visible = articleWindow_;
      else if (layoutView_.GetWindow() && plat::IsWindowVisible(layoutView_.GetWindow())) visible = layoutView_.GetWindow();
      if (!visible || plat::SendMessageW(visible, kHelpRequestMessage, 0, 0) == 0)
        ShowHelpTopic(InfoOf(layoutState_).helpTopic);
      result = 1;
      return true;
    }
    case plat::WM_DESTROY:
      {
        CSyncLock lock(GetChannelSet());
        ReleaseArticleViewArticle();
      }
      CUpdateManager::GetInstance()->RemoveEventListener(hwnd);
      if (GetDBViewState()->GetNotifyWindow() == hwnd) GetDBViewState()->SetNotifyWindow(nullptr);
      return false;
    case plat::WM_INITMENUPOPUP: {
      const plat::DWORD view = GetDBViewState()->GetCurrentView();
      if (view == DBV_CHANNEL_LIST) channelsView_.EnableMenuItems(reinterpret_cast<plat::HMENU>(wParam));
      else if (view == DBV_ARTICLE) {
        ShowTouchShellStub(false);
        MarkTextSize(reinterpret_cast<plat::HMENU>(wParam));
      }
      return false;
    }
    case kReportUnreadableChannels:
      ReportUnreadableChannels();
      return true;
    case kExitMenuLoop:
      if (GetDBViewState()->GetCurrentView() == DBV_ARTICLE) ShowTouchShellStub(true);
      return false;
    case plat::WM_ERASEBKGND:
      if (PaintEmptyDatabase(reinterpret_cast<plat::HDC>(wParam))) {
        result = 1;
        return true;
      }
      return false;
    case plat::WM_LBUTTONDOWN:
      if (!hint_.empty()) {
        OnHintTapped();
        return true;
      }
      break;
    case plat::WM_SETTINGCHANGE: {
      plat::InvalidateRect(hwnd, nullptr, plat::TRUE);
      for (plat::HWND child = plat::GetWindow(hwnd, plat::GW_CHILD); child;
           child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
        plat::SendMessageW(child, msg, wParam, lParam);
      }
      return false;  // the base fits the dialog to the input panel
    }
    case plat::WM_SETFOCUS:
      if (layoutView_.GetWindow() && plat::IsWindowVisible(layoutView_.GetWindow()) &&
          plat::IsWindowEnabled(layoutView_.GetWindow())) {
        plat::SetFocus(layoutView_.GetWindow());
      } else if (articleWindow_ && plat::IsWindowVisible(articleWindow_)) {
        plat::SetFocus(articleWindow_);
      }
      return true;
    case plat::WM_CLOSE:
      plat::PostQuitMessage(0);
      // Closing the interface ends the program through the coordinating
      // window; a foreign owner (the window that asked for the interface) is
      // never told to close.
      if (plat::HWND hidden = GetAppState().hiddenWindow; hidden && plat::IsWindow(hidden) && hidden != hwnd) {
        plat::PostMessageW(hidden, plat::WM_CLOSE, 0, 0);
      }
      return true;
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header || !articleWindow_) break;
      for (plat::UINT code : kHtmlNotifyCodes) {
        if (header->code != code) continue;
        plat::HWND parent = plat::GetParent(header->hwndFrom);
        if (!parent || parent == hwnd) break;
        result = plat::SendMessageW(parent, msg, wParam, lParam);
        return true;
      }
      break;
    }
    default:
      break;
  }
  if (msg != 0 && msg == viewStateMessage_) {
    ShowView();
    return true;
  }
  if (msg != 0 && msg == updateNowMessage_) {
    result = OnUpdateNowMessage();
    return true;
  }
  if (msg != 0 && msg == updateManagerMessage_) {
    result = OnUpdateManagerChanged(wParam, lParam);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The article view

void MainWindow::CreateArticleView() {
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  articleHost_ = std::make_unique<ArticleViewHost>();
  // Hidden until the article layout shows it.
  articleWindow_ = articleHost_->Create(hwnd_, client, plat::WS_VISIBLE);
  if (!articleWindow_) articleHost_.reset();
}

void MainWindow::ShowArticleInView(IArticle* article) {
  if (articleHost_) articleHost_->GetView().SetArticle(article);
}

void MainWindow::ApplyArticleViewSettings() {
  if (articleHost_) articleHost_->GetView().ApplyOptions();
}

void MainWindow::ReleaseArticleViewArticle() {
  if (articleHost_) articleHost_->GetView().SetArticle(nullptr);
}

// The "About..." command.
bool MainWindow::OpenAbout() {
  AboutBox box(GetApplicationTitle(), AboutBox::VersionText(), AboutBox::BuildText(), GetHelpFileUrl() + u"#channels");
  box.DoModal(hwnd_);
  // The view shows what changed meanwhile.
  ShowView();
  return true;
}

// The New Channel command: the add-channels wizard.
bool MainWindow::OpenAddChannelsWizard() {
  NewChannelWizard wizard;
  return wizard.Run(hwnd_) == 1;
}
