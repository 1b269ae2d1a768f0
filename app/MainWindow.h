// The reader's one interface window: a modeless full-screen dialog hosting
// the layout view (one of four named layouts: blank, channels, articles,
// article), the two list views and the article view. It follows the saved
// view state, owns the soft-key bar, turns menu commands into calls on the
// channel set and the update manager, answers the update manager's questions
// and paints the hint shown when there is nothing to list.
//
// UI thread only. Every use of the channel set, a channel or the article
// filter holds the channel set's lock, taken before any call into the update
// manager.
#pragma once

#include <memory>
#include <string>

#include "app/views/ArticlesView.h"
#include "app/views/ChannelsView.h"
#include "core/RefCounted.h"
#include "layout/DataSources.h"
#include "layout/DialogAutoFit.h"
#include "layout/LayoutView.h"
#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/windows/Windows.h"

class ArticleViewHost;
class CWaitCursor;
class IArticle;

class MainWindow : public CPPCModelessDialogImpl {
 public:
  // What the layout view shows.
  enum LayoutState { kLayoutNone = 0, kLayoutBlank = 1, kLayoutChannels = 2, kLayoutArticles = 3, kLayoutArticle = 4 };

  // uiWindowSlot: where the window's handle is stored once it exists (may be
  // null). Installs the layout services and shows the wait cursor until the
  // window has been created.
  explicit MainWindow(plat::HWND* uiWindowSlot);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window under the owner and pumps messages until the window is
  // gone or the loop is told to quit; the window is destroyed before the
  // return. The quit code, or -1 when the window could not be made.
  int Run(plat::HWND owner);
  // Creates the window under the owner without running a loop (the caller
  // pumps); null on failure.
  plat::HWND CreateUnder(plat::HWND owner);

  // Reads the view state again and shows the matching layout.
  void ShowView();
  void UpdateHintText();
  void UpdateSoftKey();
  // WM_ERASEBKGND: true when the empty-database picture and hint were painted.
  bool PaintEmptyDatabase(plat::HDC dc);
  // One WM_COMMAND id; true when handled.
  bool OnCommand(int id);
  plat::LRESULT OnUpdateNowMessage();
  plat::LRESULT OnUpdateManagerChanged(plat::WPARAM wParam, plat::LPARAM lParam);
  int Minimize();
  // The device's back key: "Back", or in the channel list the dialog's Done.
  void OnBackKey();
  void ShowPreviousArticle();
  void ShowNextArticle();

  // What the window shows and holds (also read by tests).
  int GetLayoutState() const { return layoutState_; }
  const std::u16string& GetHintText() const { return hint_; }
  bool IsAutomaticMode() const { return automatic_; }
  bool IsUpdatingShown() const { return updating_; }
  const SoftKeyBar& GetSoftKeyBar() const { return softKeys_; }
  LayoutView& GetLayoutView() { return layoutView_; }
  ChannelsView& GetChannelsView() { return channelsView_; }
  ArticlesView& GetArticlesView() { return articlesView_; }
  plat::HBITMAP GetEmptyDatabasePicture() const { return emptyPicture_; }
  // Layout switches with or without the push transition (tests switch it off).
  void SetTransitionsEnabled(bool enabled) { transitions_ = enabled; }

 protected:
  void OnInit() override;
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override;

 private:
  void CreateDataSources();
  void SwitchTo(int state);
  void RecomputeUpdatingFlag();
  void DeleteEmptyPicture();
  void StepArticle(int delta);
  // Marks every article of the channel read (whole set when channel is null).
  void MarkRead(bool all);
  void UpdateCurrentArticle();
  void ClearArticles(bool all);
  void SetTextSize(std::uint32_t size);
  // Checks the "Text Size" item of the size in use in the menu opening.
  void MarkTextSize(plat::HMENU menu);
  // The tap on the hint: the add-channels wizard, or with channels of the old
  // file format the deletion of every channel's article data, which converts
  // them.
  void OnHintTapped();
  // Once the run is over: when the channel the user updated by itself
  // failed, a message names it and says why.
  void ReportHandUpdateFailure();
  void ConvertOldFormatChannels();
  // Names each channel whose file the load found but could not read, and
  // sets its file aside when the user agrees (the name may then be added
  // again).
  void ReportUnreadableChannels();

  // The article view joins the window here: created with the window, given
  // the current article when the article layout shows, told of the text size
  // and location setting, and let go of its article when the window goes.
  void CreateArticleView();
  void ShowArticleInView(IArticle* article);
  void ApplyArticleViewSettings();
  void ReleaseArticleViewArticle();
  plat::HWND articleWindow_ = nullptr;
  std::unique_ptr<ArticleViewHost> articleHost_;

  // Screens the menus open, each modal over this window: the channel-properties
  // sheet (true when it ended with OK), the options sheet (refused with a
  // message while an update runs), the About box and the add-channels wizard
  // (true when it added channels). The view is shown again afterwards.
  bool OpenChannelProperties(const std::u16string& channelName);
  bool OpenOptions();
  bool OpenAbout();
  bool OpenAddChannelsWizard();

  plat::HWND* uiWindowSlot_;
  bool automatic_ = false;
  // The channel the user updated by itself in the current run; empty when
  // none (or after an update of all channels).
  std::u16string handUpdated_;
  bool updating_ = false;
  bool transitions_ = true;
  int layoutState_ = kLayoutNone;
  // The list views come before the data sources that hold them.
  ChannelsView channelsView_;
  ArticlesView articlesView_;
  std::u16string caption_;
  std::u16string hint_;
  bool oldFormatHint_ = false;
  plat::HBITMAP emptyPicture_ = nullptr;
  LayoutView layoutView_;
  SoftKeyBar softKeys_;
  std::unique_ptr<DialogAutoFit> autoFit_;
  CComRef<CProgressFormDataSource> channelsSource_;
  CComRef<CProgressFormDataSource> articlesSource_;
  CComRef<CProgressDataSource> progressSource_;
  CComRef<CListNameDataSource> listNameSource_;
  plat::UINT updateManagerMessage_ = 0;
  plat::UINT viewStateMessage_ = 0;
  plat::UINT updateNowMessage_ = 0;
};

// The wait cursor shown from the main window's construction to the end of its
// creation.
std::shared_ptr<CWaitCursor>& GetStartupWaitCursor();
