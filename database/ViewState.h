// Where the user is: the channel list, the article list of one channel or of
// all channels, or one article. Kept in three values of the product key so
// that the main program opens where the user left it, and so that the Today
// item can send the main program straight to an article: it writes the values
// and posts the view-state message, and the main program reads them again.
// Every change of the view or the channel refills the attached article filter.
//
// UI thread only; the filter is changed under the channel set's lock.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "core/VORegistry.h"
#include "database/ChannelSet.h"
#include "platform/windows/Windows.h"

inline constexpr const char16_t* kViewStateCurrentView = u"DBViewState.CurrentView";
inline constexpr const char16_t* kViewStateCurrentChannelName = u"DBViewState.CurrentChannelName";
inline constexpr const char16_t* kViewStateCurrentArticleID = u"DBViewState.CurrentArticleID";

enum DBView : plat::DWORD {
  DBV_CHANNEL_LIST = 0,
  DBV_ARTICLE_LIST = 1,  // of the current channel; all channels when its name is empty
  DBV_ARTICLE = 2,       // the current article
};

// Window classes and the key by which a touch shell on the home screen is
// recognised; such a shell needs to see a window of the program while an
// article is open.
inline constexpr const char16_t* kTouchShellClasses[] = {u"Manila", u"BIOTOUCH", u"HTCSmartTouchDll"};
inline constexpr const char16_t* kTouchStubProbeClass = u"TOUCHSTUBWND_CLASS";
inline constexpr const char16_t* kTouchShellKey = u"\\Software\\Microsoft\\Today\\Items\\TouchFLO 3D";
inline constexpr const char16_t* kTouchStubClass = u"MNU";

class CArticleFilter;

class CDBViewState : public IViewLocationKeeper {
 public:
  // Opens (creating it when missing) the product key. channelSet: whose
  // channels fill the filter (null: the process's channel set, taken when
  // first needed).
  explicit CDBViewState(CChannelSet* channelSet = nullptr);
  // Removes its own registration as view-location keeper, if it holds one.
  virtual ~CDBViewState();
  CDBViewState(const CDBViewState&) = delete;
  CDBViewState& operator=(const CDBViewState&) = delete;

  // A missing view is written as 0.
  plat::DWORD GetCurrentView();
  std::u16string GetCurrentChannelName();
  std::u16string GetCurrentArticleID();

  // False when the write failed.
  bool SetCurrentArticleID(const std::u16string& id);
  // Writes the view and refills the filter. View 2 tells the Today item the
  // current channel and shows the touch-shell stub window; any other view
  // takes the stub down.
  void SetCurrentView(plat::DWORD view);
  // Writes the name and refills the filter when it differs from the stored
  // one (exact comparison); otherwise nothing.
  void SetCurrentChannelName(const std::u16string& name);

  // Not owned; refilled at once. Null detaches.
  void AttachArticleFilter(CArticleFilter* filter);
  CArticleFilter* GetArticleFilter() const { return filter_; }
  void SetNotifyWindow(plat::HWND window) { notifyWindow_ = window; }
  plat::HWND GetNotifyWindow() const { return notifyWindow_; }

  // Posts the view-state message (0, 0) to the notify window, or without one
  // to the main program's hidden window; nothing when there is neither.
  void NotifyChange();

  // Navigation; each posts the message when it changed anything.
  void GoToChannelList();
  void OpenChannel(const std::u16string& name);
  void GoToArticleList();
  // Always writes and posts.
  void OpenArticle(const std::u16string& id);

  // Channel list, no channel, no article; posts nothing.
  void Reset();

  // Refills the filter from the stored view and channel (nothing without a
  // filter): emptied for the channel list; else the named channel alone, or
  // with an empty name every channel, adding to what is shown.
  void RefreshArticleFilter();

  // Installs this state as its channel set's view-location keeper, so a move
  // of the content folder keeps the current channel and article. False when
  // the set has another keeper.
  bool KeepViewLocation();
  bool IsKeepingViewLocation() const { return keptIn_ != nullptr; }

  // IViewLocationKeeper
  void GetViewLocation(std::u16string& channelName, std::u16string& articleId) override;
  void RestoreViewLocation(const std::u16string& channelName, const std::u16string& articleId) override;

 private:
  CChannelSet* ChannelSet();
  CVORegistry& Key();

  std::mutex keyLock_;
  CVORegistry key_;
  unsigned keyDevice_ = 0;  // the device generation key_ belongs to
  CChannelSet* channelSet_;
  CChannelSet* keptIn_ = nullptr;  // the set this state is the keeper of
  CArticleFilter* filter_ = nullptr;
  plat::HWND notifyWindow_ = nullptr;
};

// The process's view state, created on first use, destroyed at exit; the
// keeper of the process's channel set.
CDBViewState* GetDBViewState();

// The number of the registered view-state message.
plat::UINT GetViewStateChangedMessage();

// Shows (creating it once) or takes down the stub window that a touch shell
// on the home screen needs to see; without such a shell nothing is created.
void ShowTouchShellStub(bool show);
// The stub window, null when none exists.
plat::HWND GetTouchShellStub();
