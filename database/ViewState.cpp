#include "database/ViewState.h"

#include "core/ProductStrings.h"
#include "core/RegisteredMessages.h"
#include "database/ArticleFilter.h"
#include "database/NotifyToday.h"
#include "platform/base/Device.h"
#include "platform/ipc/Ipc.h"

namespace {

plat::HWND g_touchStub = nullptr;

plat::LRESULT TouchStubProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool TouchShellPresent() {
  bool present = false;
  for (const char16_t* name : kTouchShellClasses) {
    if (plat::FindWindowW(name, nullptr) != nullptr) present = true;
  }
  plat::FindWindowW(kTouchStubProbeClass, nullptr);
  if (!present) {
    // A key of another product: read without writing a default into it.
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, kTouchShellKey, false, false, plat::KEY_READ);
    if (key.IsOpen() && key.GetDWORD(u"Enabled", CVORegistry::kNoDefault) == 1) present = true;
  }
  return present;
}

bool RegisterTouchStubClass() {
  static const bool registered = [] {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &TouchStubProc;
    wc.lpszClassName = kTouchStubClass;
    return plat::RegisterClassW(&wc) != 0 || plat::GetLastError() == plat::ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

void ShowTouchShellStub(bool show) {
  if (!show) {
    if (g_touchStub != nullptr) {
      plat::DestroyWindow(g_touchStub);
      g_touchStub = nullptr;
    }
    return;
  }
  if (g_touchStub != nullptr || !TouchShellPresent() || !RegisterTouchStubClass()) return;
  const std::u16string title = GetProductName();
  g_touchStub = plat::CreateWindowExW(0, kTouchStubClass, title.c_str(), plat::WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr);
  if (g_touchStub != nullptr) {
    plat::SetWindowPos(g_touchStub, plat::HWND_BOTTOM, -1, -1, 0, 0, plat::SWP_NOACTIVATE | plat::SWP_HIDEWINDOW);
  }
}

plat::HWND GetTouchShellStub() { return g_touchStub; }

plat::UINT GetViewStateChangedMessage() {
  const plat::UINT number = GetRegisteredMessages().viewStateChanged;
  return number != 0 ? number : plat::RegisterWindowMessageW(kMsgNameViewStateChanged);
}

CDBViewState::CDBViewState(CChannelSet* channelSet)
    : key_(OpenSettingsKey()), keyDevice_(plat::DeviceGeneration()), channelSet_(channelSet) {}

CVORegistry& CDBViewState::Key() {
  // A key of the device in use: the device folder changed (a test's own
  // device), the key is opened afresh in the new one.
  std::lock_guard<std::mutex> guard(keyLock_);
  const unsigned device = plat::DeviceGeneration();
  if (device != keyDevice_) {
    key_ = OpenSettingsKey();
    keyDevice_ = device;
  }
  return key_;
}

CDBViewState::~CDBViewState() {
  if (keptIn_ != nullptr) keptIn_->RemoveViewLocationKeeper(this);
  key_.Close();
}

bool CDBViewState::KeepViewLocation() {
  if (keptIn_ != nullptr) return true;
  CChannelSet* set = ChannelSet();
  if (set == nullptr || !set->SetViewLocationKeeper(this)) return false;
  keptIn_ = set;
  return true;
}

CChannelSet* CDBViewState::ChannelSet() {
  if (channelSet_ == nullptr) channelSet_ = GetChannelSet();
  return channelSet_;
}

plat::DWORD CDBViewState::GetCurrentView() { return Key().GetDWORD(kViewStateCurrentView, DBV_CHANNEL_LIST); }

std::u16string CDBViewState::GetCurrentChannelName() { return Key().GetString(kViewStateCurrentChannelName, u""); }

std::u16string CDBViewState::GetCurrentArticleID() { return Key().GetString(kViewStateCurrentArticleID, u""); }

bool CDBViewState::SetCurrentArticleID(const std::u16string& id) {
  return Key().SetString(kViewStateCurrentArticleID, id.c_str());
}

void CDBViewState::SetCurrentView(plat::DWORD view) {
  if (view == DBV_ARTICLE) {
    // The all-channels list names no channel to tell.
    const std::u16string channel = GetCurrentChannelName();
    if (!channel.empty()) CNotifyToday::GetInstance()->NotifyItemChanged(channel);
  }
  ShowTouchShellStub(view == DBV_ARTICLE);
  Key().SetDWORD(kViewStateCurrentView, view);
  RefreshArticleFilter();
}

void CDBViewState::SetCurrentChannelName(const std::u16string& name) {
  if (GetCurrentChannelName() == name) return;
  Key().SetString(kViewStateCurrentChannelName, name.c_str());
  RefreshArticleFilter();
}

void CDBViewState::AttachArticleFilter(CArticleFilter* filter) {
  filter_ = filter;
  RefreshArticleFilter();
}

void CDBViewState::NotifyChange() {
  plat::HWND target = notifyWindow_;
  if (target == nullptr) {
    const std::u16string mainClass = GetInstanceGuid();
    target = plat::FindWindowW(mainClass.c_str(), nullptr);
  }
  if (target == nullptr) return;
  plat::PostMessageW(target, GetViewStateChangedMessage(), 0, 0);
}

void CDBViewState::GoToChannelList() {
  if (GetCurrentView() == DBV_CHANNEL_LIST) return;
  SetCurrentView(DBV_CHANNEL_LIST);
  NotifyChange();
}

void CDBViewState::OpenChannel(const std::u16string& name) {
  if (GetCurrentView() == DBV_ARTICLE_LIST && GetCurrentChannelName() == name) return;
  SetCurrentChannelName(name);
  SetCurrentView(DBV_ARTICLE_LIST);
  NotifyChange();
}

void CDBViewState::GoToArticleList() {
  if (GetCurrentView() == DBV_ARTICLE_LIST) return;
  SetCurrentView(DBV_ARTICLE_LIST);
  NotifyChange();
}

void CDBViewState::OpenArticle(const std::u16string& id) {
  SetCurrentArticleID(id);
  SetCurrentView(DBV_ARTICLE);
  NotifyChange();
}

void CDBViewState::Reset() {
  SetCurrentView(DBV_CHANNEL_LIST);
  SetCurrentChannelName(u"");
  SetCurrentArticleID(u"");
}

void CDBViewState::RefreshArticleFilter() {
  if (filter_ == nullptr) return;
  const plat::DWORD view = GetCurrentView();
  CChannelSet* set = ChannelSet();
  if (view != DBV_ARTICLE_LIST && view != DBV_ARTICLE) {
    CSyncLock lock(set, u"CDBViewState::RefreshArticleFilter");
    filter_->Clear();
    return;
  }
  const std::u16string name = GetCurrentChannelName();
  CSyncLock lock(set, u"CDBViewState::RefreshArticleFilter");
  if (set == nullptr) {
    filter_->Clear();
  } else if (name.empty()) {
    for (int i = 0; i < set->GetCount(); ++i) filter_->AddChannel(set->GetAt(i));
  } else {
    filter_->SetChannel(set->FindByName(name));
  }
}

void CDBViewState::GetViewLocation(std::u16string& channelName, std::u16string& articleId) {
  channelName = GetCurrentChannelName();
  articleId = GetCurrentArticleID();
}

void CDBViewState::RestoreViewLocation(const std::u16string& channelName, const std::u16string& articleId) {
  Key().SetString(kViewStateCurrentChannelName, channelName.c_str());
  Key().SetString(kViewStateCurrentArticleID, articleId.c_str());
  RefreshArticleFilter();
}

CDBViewState* GetDBViewState() {
  // The channel set is made first, so it outlives the state at exit.
  static CDBViewState state(GetChannelSet());
  static const bool kept = state.KeepViewLocation();
  (void)kept;
  return &state;
}
