// Shared set-up of the main program's tests: a device of its own with a
// chosen screen, the built program files mounted as "\Program Files\Orv News"
// (layout packages, pictures), a content folder of the device's own, message
// boxes answered by the test, and helpers to make channels and articles and
// to pump the thread's messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/ArticleFilter.h"
#include "database/ChannelSet.h"
#include "database/ChannelsFilter.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/LayoutServices.h"
#include "layout/UiKitModule.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tests/app/PocketPcScreen.h"
#include "tests/support/TempDevice.h"
#include "tests/support/UpdateLock.h"
#include "update/jobs/UpdateManager.h"

namespace apptest {

// A message box the window showed, and how it was answered.
struct AskedBox {
  std::u16string text;
  std::u16string caption;
  plat::UINT type = 0;
};

class MainWindowTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    UseScreen(480, 640, 192);
    ASSERT_TRUE(plat::MountFolder(u"\\Program Files\\Orv News", ORV_PROGRAM_DIR, false));
    // What the device writes stays in the device.
    std::filesystem::create_directories(device_.Scratch() + "/Templates");
    ASSERT_TRUE(plat::MountFolder(u"\\Program Files\\Orv News\\Templates", device_.Scratch() + "/Templates", false));
    // The content lives in the device (a name of its own per test, so that
    // the process's channel set loads it anew).
    static std::atomic<int> serial{0};
    contentFolder_ = u"\\Content" + plat::Utf8ToUtf16(std::to_string(++serial));
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", contentFolder_.c_str()));
    ASSERT_TRUE(plat::CreateDirectoryW(contentFolder_.c_str(), nullptr));
    plat::InitCommonControls();
    InitUiKit(nullptr);
    plat::SetMessageBoxAnswerer([this](plat::HWND, const std::u16string& text, const std::u16string& caption,
                                       plat::UINT type) {
      boxes.push_back({text, caption, type});
      return answer;
    });
    {
      CSyncLock lock(GetChannelSet());
      ASSERT_EQ(GetChannelSet()->LoadContentFolder(), 1);
      GetDBViewState()->AttachArticleFilter(GetArticleFilter());
      GetDBViewState()->Reset();
    }
    GetAppState() = AppState{};
  }

  void TearDown() override {
    window_.reset();
    Pump();
    CUpdateManager::GetInstance()->StopUpdatingAllChannels();
    {
      CSyncLock lock(GetChannelSet());
      for (IChannel* channel : used_) channel->Release(this, true);
      used_.clear();
    }
    plat::SetMessageBoxAnswerer(nullptr);
    RemoveLayoutServices();
    apptest::ResetPocketPcScreen();
    GetAppState() = AppState{};
  }

  void UseScreen(int width, int height, int dpi) {
    apptest::UsePocketPcScreen(width, height, dpi);
  }

  // The main window, created under owner (none: top-level) without its loop.
  MainWindow& Open(plat::HWND owner = nullptr) {
    window_ = std::make_unique<MainWindow>(&GetAppState().uiWindow);
    window_->SetTransitionsEnabled(false);
    EXPECT_TRUE(window_->CreateUnder(owner));
    Pump();
    return *window_;
  }
  plat::HWND Hwnd() const { return window_ ? window_->GetHwnd() : nullptr; }

  // Handles this thread's queued messages until none is left, or until done
  // holds (bounded by real time). A quit message is kept as quitCode.
  bool Pump(const std::function<bool()>& done = nullptr, int limitMs = 20000) {
    const plat::DWORD start = plat::GetTickCount();
    for (;;) {
      plat::MSG m;
      while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
        if (m.message == plat::WM_QUIT) {
          quitCode = static_cast<int>(m.wParam);
          continue;
        }
        plat::TranslateMessage(&m);
        plat::DispatchMessageW(&m);
      }
      if (!done || done()) return true;
      if (plat::GetTickCount() - start > static_cast<plat::DWORD>(limitMs)) return false;
      plat::MsgWaitForMultipleObjects(0, nullptr, plat::FALSE, 10, plat::QS_ALLINPUT);
    }
  }

  void Command(int id) {
    plat::SendMessageW(Hwnd(), plat::WM_COMMAND, static_cast<plat::WPARAM>(id), 0);
    Pump();
  }

  // A feed channel of the set (kept in use by the test, so its articles stay
  // loaded), with count articles, unread.
  IChannel* AddChannel(const std::u16string& name, int count = 0, const std::u16string& url = u"") {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    if (!channel) channel = GetChannelSet()->AddChannel(name);
    if (!channel) return nullptr;
    CStringToStringMap properties;
    properties[u"@url"] = url.empty() ? u"http://127.0.0.1:9/" + name : url;
    properties[u"@type"] = u"@RSS";
    channel->SetProperties(properties);
    if (std::find(used_.begin(), used_.end(), channel) == used_.end()) {
      channel->Acquire(this);
      used_.push_back(channel);
    }
    const plat::ULONGLONG now = plat::CurrentClock().NowUtcFileTime();
    for (int i = 0; i < count; ++i) {
      const std::u16string id = name + u"-" + plat::Utf8ToUtf16(std::to_string(i));
      IArticle* article = channel->CreateArticle(id, US_UP_TO_DATE, plat::ULLToFileTime(0));
      if (!article) continue;
      article->SetTitle(u"Article " + plat::Utf8ToUtf16(std::to_string(i)) + u" of " + name);
      article->SetOrder(static_cast<std::uint32_t>(i));
      article->SetDate(plat::ULLToFileTime(now - static_cast<plat::ULONGLONG>(i) * 36000000000ull));
    }
    return channel;
  }
  int Unread(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    return channel ? channel->GetUnreadCount() : -1;
  }
  int LiveArticles(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    if (!channel) return -1;
    int live = 0;
    IArticleSet* set = channel->GetArticleSet();
    for (int i = 0; i < set->GetCount(); ++i) live += set->GetAt(i)->IsDeleted() ? 0 : 1;
    return live;
  }


  // Every command id of the menu the soft-key bar was made from, pop-ups
  // flattened in order (separators left out).
  std::vector<int> MenuCommands() {
    std::vector<int> ids;
    plat::HWND bar = window_->GetSoftKeyBar().GetBar();
    if (!bar) return ids;
    auto menu = reinterpret_cast<plat::HMENU>(plat::SendMessageW(bar, plat::SHCMBM_GETMENU, 0, 0));
    std::function<void(plat::HMENU)> walk = [&](plat::HMENU m) {
      for (int i = 0; i < plat::GetMenuItemCount(m); ++i) {
        if (plat::HMENU sub = plat::GetSubMenu(m, i)) {
          walk(sub);
          continue;
        }
        const plat::UINT id = plat::GetMenuItemID(m, i);
        if (id != 0 && id != static_cast<plat::UINT>(-1)) ids.push_back(static_cast<int>(id));
      }
    };
    if (menu) walk(menu);
    return ids;
  }
  // The command and text of a soft key (0 left, 1 right).
  std::pair<int, std::u16string> SoftKey(int index) {
    plat::HWND bar = window_->GetSoftKeyBar().GetBar();
    char16_t text[64] = {};
    plat::TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = plat::TBIF_BYINDEX | plat::TBIF_COMMAND | plat::TBIF_TEXT;
    info.pszText = text;
    info.cchText = 64;
    if (!bar || plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, static_cast<plat::WPARAM>(index),
                                   reinterpret_cast<plat::LPARAM>(&info)) < 0) {
      return {-1, u""};
    }
    return {info.idCommand, text};
  }

  std::vector<AskedBox> boxes;
  int answer = plat::IDYES;
  int quitCode = -1;
  std::u16string contentFolder_;
  std::vector<IChannel*> used_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace apptest
