// Shared set-up of the download dialog's and the catalogue's tests: a device
// of its own with a chosen screen and content folder, a loopback HTTP server,
// a connection manager of the test's own over a scripted connection, message
// boxes answered by the test, and a way to save the composed screen.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/DownloadDialog.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/UiKitModule.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/display/ScreenComposer.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/inet/ConnMgr.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/inet/Inet.h"
#include "platform/windows/Windows.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/DeviceFiles.h"
#include "tests/support/TempDevice.h"
#include "update/http/InetManager.h"
#include "tests/app/PocketPcScreen.h"

#ifndef ORV_APP_SHOTS
#define ORV_APP_SHOTS "."
#endif

namespace apptest {

struct AskedQuestion {
  std::u16string text;
  plat::UINT type = 0;
};

// Text and command of a soft key of a bar, and whether it is enabled.
struct SoftKeyInfo {
  int command = -1;
  std::u16string text;
  bool enabled = false;
};
inline SoftKeyInfo ReadSoftKey(plat::HWND bar, int index) {
  SoftKeyInfo key;
  char16_t text[64] = {};
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = plat::TBIF_BYINDEX | plat::TBIF_COMMAND | plat::TBIF_TEXT | plat::TBIF_STATE;
  info.pszText = text;
  info.cchText = 64;
  if (!bar || plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, static_cast<plat::WPARAM>(index),
                                 reinterpret_cast<plat::LPARAM>(&info)) < 0) {
    return key;
  }
  key.command = info.idCommand;
  key.text = text;
  key.enabled = (info.fsState & plat::TBSTATE_ENABLED) != 0;
  return key;
}

inline std::u16string WindowText(plat::HWND window) {
  char16_t text[512] = {};
  if (window) plat::GetWindowTextW(window, text, 512);
  return text;
}

class DownloadTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    UseScreen(480, 640, 192);
    // Loopback servers are reached directly, whatever proxy the host names.
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(v);
    }
    plat::RegisterInternetModules();
    provider_ = std::make_shared<plat::ScriptedConnectionProvider>(plat::ScriptedConnectionProvider::Script{});
    plat::SetConnectionProvider(provider_);
    manager_ = std::make_unique<CInetManager>();
    manager_->GetWinInet().SetTimeout(5000);

    static std::atomic<int> serial{0};
    contentFolder_ = u"\\Content" + plat::Utf8ToUtf16(std::to_string(++serial));
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", contentFolder_.c_str()));
    ASSERT_TRUE(plat::CreateDirectoryW(contentFolder_.c_str(), nullptr));
    GetGlobalOptions().SetStartUpdateForAddedChannels(0);
    plat::InitCommonControls();
    InitUiKit(nullptr);
    plat::SetMessageBoxAnswerer(
        [this](plat::HWND, const std::u16string& text, const std::u16string&, plat::UINT type) {
          asked.push_back({text, type});
          return answer;
        });
    CSyncLock lock(GetChannelSet());
    ASSERT_EQ(GetChannelSet()->LoadContentFolder(), 1);
  }

  void TearDown() override {
    plat::SetMessageBoxAnswerer(nullptr);
    manager_.reset();
    plat::SetConnectionProvider(nullptr);
    apptest::ResetPocketPcScreen();
  }

  void UseScreen(int width, int height, int dpi) {
    apptest::UsePocketPcScreen(width, height, dpi);
  }

  void Script(const plat::ScriptedConnectionProvider::Script& script) { provider_->SetScript(script); }

  std::u16string Url(const std::string& path) const { return plat::Utf8ToUtf16(server_.Url(path)); }

  // Repaints every window of the screen and saves the composed screen.
  static void SaveScreen(const std::vector<plat::HWND>& windows, const std::string& name) {
    for (plat::HWND w : windows) {
      if (!w) continue;
      plat::InvalidateRect(w, nullptr, plat::TRUE);
      plat::UpdateWindow(w);
    }
    std::filesystem::create_directories(ORV_APP_SHOTS);
    plat::display::ScreenComposer composer;
    EXPECT_TRUE(composer.SavePng(std::string(ORV_APP_SHOTS) + "/" + name));
  }

  orvtest::HttpTestServer server_;
  std::shared_ptr<plat::ScriptedConnectionProvider> provider_;
  std::unique_ptr<CInetManager> manager_;
  std::u16string contentFolder_;
  std::vector<AskedQuestion> asked;
  int answer = plat::IDYES;
};

// The dialog with its moments observed by the test.
// Failures are answered with Done unless onResult says otherwise.
class ObservedDialog : public DownloadDialog {
 public:
  using DownloadDialog::DownloadDialog;

  std::function<void(ObservedDialog&)> onStatus;
  std::function<void(ObservedDialog&)> onResult;
  std::vector<std::u16string> statuses;
  std::vector<int> positions;
  int resultsShown = 0;
  int shownResult = 0;
  std::u16string shownMessage;
  SoftKeyInfo keyAtResult;
  int positionAtResult = -1;
  bool progressShownAtResult = false;

  void Cancel() { RequestCancel(); }
  void PressDone() { plat::PostMessageW(GetHwnd(), plat::WM_COMMAND, plat::IDOK, 0); }
  int Position() const {
    return GetProgressWindow() ? static_cast<int>(plat::SendMessageW(GetProgressWindow(), plat::PBM_GETPOS, 0, 0))
                               : -1;
  }
  SoftKeyInfo Key() const { return ReadSoftKey(GetSoftKeys().GetBar(), 0); }

 protected:
  void OnStatusShown() override {
    const std::u16string text = WindowText(GetStatusWindow());
    if (statuses.empty() || statuses.back() != text) statuses.push_back(text);
    positions.push_back(Position());
    if (onStatus) onStatus(*this);
  }
  void OnResultShown(int result) override {
    ++resultsShown;
    shownResult = result;
    shownMessage = WindowText(GetStatusWindow());
    keyAtResult = Key();
    positionAtResult = Position();
    progressShownAtResult = GetProgressWindow() && plat::IsWindowVisible(GetProgressWindow());
    if (onResult) {
      onResult(*this);
    } else if (result == kResultFailed) {
      PressDone();
    }
  }
};

}  // namespace apptest
