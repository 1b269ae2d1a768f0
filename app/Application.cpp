#include "app/Application.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "app/AppState.h"
#include "app/dialogs/HelpViewer.h"
#include "app/MainWindow.h"
#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/IconCache.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/RegisteredMessages.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/ArticleFilter.h"
#include "database/ChannelImageListener.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/ThumbnailsManager.h"
#include "database/TodayViewOptions.h"
#include "database/ViewState.h"
#include "layout/ScreenScale.h"
#include "layout/UiKitModule.h"
#include "layout/WaitCursor.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/controls/ShellExecute.h"
#include "platform/files/InstallManifest.h"
#include "platform/gdi/Gdi.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/SystemMetrics.h"
#include "update/jobs/UpdateManager.h"
#include "update/script/JSPlugin.h"

using namespace plat;

namespace {

constexpr const char16_t* kUpdateLockedValue = u"UpdateLocked";
// The name the install manifest is kept under (the name an uninstall names the product by).
constexpr const char16_t* kInstallName = u"Orv Brevant";

MainUiRunner& TestRunner() {
  static MainUiRunner runner;
  return runner;
}

void DeleteUpdateLocked() {
  CVORegistry key = OpenSettingsKey();
  if (key.IsOpen()) RegDeleteValueW(key.GetKey(), kUpdateLockedValue);
}

// The owner an interface request names, when it still exists; else the
// hidden window, which accepts every request itself.
HWND ValidOwner(HWND requested) {
  if (requested && IsWindow(requested)) return requested;
  return GetAppState().hiddenWindow;
}

LRESULT OnShowUi(HWND hidden, LPARAM lParam) {
  AppState& app = GetAppState();
  KillTimer(hidden, kAutoExitTimer);
  const HWND owner = ValidOwner(reinterpret_cast<HWND>(lParam));
  if (app.uiWindow) {
    app.pendingForeground = owner;
    BringWindowForward(app.uiWindow);
    return 0;
  }
  if (SendMessageW(owner, GetRegisteredMessages().orvNewsAcknowledge, 0, reinterpret_cast<LPARAM>(hidden)) == 0) {
    PostQuitMessage(0);
    return 0;
  }
  RunMainUi(owner, &app.uiWindow);
  if (app.pendingForeground && IsWindow(app.pendingForeground)) {
    BringWindowForward(app.pendingForeground);
    app.pendingForeground = nullptr;
  }
  PostQuitMessage(0);
  return 0;
}

// Timers 777 and 888: under the channel set's lock (taken before the update
// manager's), act only while nothing updates.
void OnTimer(HWND hidden, UINT_PTR id) {
  CSyncLock lock(GetChannelSet());
  // A request the worker has not taken up yet counts: its run has not begun,
  // and the program must not end (nor the lock go) under it.
  if (CUpdateManager::GetInstance()->HasWork()) return;
  if (id == kAutoExitTimer) {
    KillTimer(hidden, kAutoExitTimer);
    if (IsWindowVisible(hidden)) PostQuitMessage(0);
    return;
  }
  // Read without writing a default: a value that is there, whatever it
  // holds, tells the service that an update runs.
  CVORegistry key = OpenSettingsKey();
  if (key.GetDWORD(kUpdateLockedValue, CVORegistry::kNoDefault) == 2) RegDeleteValueW(key.GetKey(), kUpdateLockedValue);
}

bool IsListedInManifest(const std::u16string& path, const std::optional<InstallManifest>& manifest) {
  if (!manifest) return false;
  return std::any_of(manifest->files.begin(), manifest->files.end(),
                     [&](const std::u16string& f) { return EqualsNoCase(f, path); });
}

}  // namespace

// ---- Start-up -----------------------------------------------------------------

plat::UINT HiddenTimerPeriodMs() {
#if defined(ORV_TEST_SWITCHES)
  if (const char* period = std::getenv("ORVNEWS_HIDDEN_TIMER_MS")) {
    const long ms = std::strtol(period, nullptr, 10);
    if (ms > 0 && ms < static_cast<long>(kHiddenTimerPeriodMs)) return static_cast<plat::UINT>(ms);
  }
#endif
  return kHiddenTimerPeriodMs;
}

bool CheckSingleInstance(const std::u16string& name, HWND* existing, const std::function<void(DWORD)>& sleep) {
  AppState& app = GetAppState();
  *existing = nullptr;
  for (int attempt = 0; attempt < 5; ++attempt) {
    app.instanceMutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!app.instanceMutex) return false;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
    CloseHandle(app.instanceMutex);
    app.instanceMutex = nullptr;
    if ((*existing = FindWindowW(name.c_str(), nullptr))) return true;
    sleep(500);
    if ((*existing = FindWindowW(name.c_str(), nullptr))) return true;
  }
  return false;
}

void ParseCommandLine(const std::u16string& commandLine, CommandLineOptions* options) {
  *options = CommandLineOptions{};
  if (commandLine == u"autoupdate") {
    options->autoupdate = true;
    return;
  }
  int window = 0;
  if (plat::swscanf(commandLine.c_str(), u"-hwnd:%i", &window) == 1) {
    options->hasOwner = true;
    options->ownerWindow = window;
    return;
  }
  if (commandLine == u"createchannels") options->createChannels = true;
}

bool CreateHiddenMainWindow(HINSTANCE instance, const CommandLineOptions& options) {
  AppState& app = GetAppState();
  SetAppInstance(instance);
  DeleteFileIfExists(GetInstallMarkerName());
  CThumbnailsManager* thumbnails = CThumbnailsManager::GetInstance();
  thumbnails->AddSize((27 * GetScreenDpiX() + 48) / 96);
  thumbnails->AddSize(CTodayViewOptions::GetInstance()->GetRowHeight());
  CResourceIconsManager::GetInstance().SetModule(instance);
  RegisterScriptUpdater();
  {
    CChannelSet* set = GetChannelSet();
    CSyncLock lock(set);
    CDBViewState* view = GetDBViewState();
    if (options.autoupdate) {
      set->LoadContentFolder();
    } else {
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      set->LoadContentFolder();
      if (!GetGlobalOptions().GetRememberViewingLocation()) view->Reset();
      SetCursor(nullptr);
    }
    view->AttachArticleFilter(GetArticleFilter());
  }
  if (options.createChannels) return true;

  const std::u16string name = GetInstanceGuid();
  app.hiddenWindow = nullptr;
  UnregisterClassW(name.c_str(), instance);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HiddenMainWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = name.c_str();
  RegisterClassW(&wc);
  const std::u16string title = GetApplicationTitle();
  app.hiddenWindow =
      CreateWindowExW(0, name.c_str(), title.c_str(), WS_CAPTION, -1, -1, 0, 0, nullptr, nullptr, instance, nullptr);
  MoveWindow(app.hiddenWindow, -1, -1, 0, 0, FALSE);
  SetTimer(app.hiddenWindow, kUnlockTimer, HiddenTimerPeriodMs(), nullptr);
  const HWND given = ValueToHandle(static_cast<DWORD>(options.ownerWindow));
  if (options.hasOwner && options.ownerWindow != 0 && IsWindow(given)) {
    app.ownerWindow = given;
  } else {
    ShowWindow(app.hiddenWindow, SW_SHOW);
    app.ownerWindow = app.hiddenWindow;
  }
  InitUiKit(instance);
  GetChannelImageListener();
  return true;
}

LRESULT HiddenMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  AppState& app = GetAppState();
  const OrvRegisteredMessages& m = GetRegisteredMessages();
  if (message != 0) {
    if (message == m.updateNow) {
      if (app.autoupdateRun) SetTimer(window, kAutoExitTimer, HiddenTimerPeriodMs(), nullptr);
      GetDBViewState()->RefreshArticleFilter();
      if (app.uiWindow) PostMessageW(app.uiWindow, message, wParam, lParam);
      return 1;
    }
    if (message == m.viewStateChanged) {
      GetDBViewState()->RefreshArticleFilter();
      if (app.uiWindow) PostMessageW(app.uiWindow, message, wParam, lParam);
      return 0;
    }
    if (message == m.isInterfaceOpen) return app.uiWindow ? 1 : 0;
    if (message == m.orvNewsAcknowledge) return 1;
    if (message == m.orvNewsExit) {
      CloseMainUi();
      PostQuitMessage(0);
      return 0;
    }
    if (message == m.showInterface) return OnShowUi(window, lParam);
  }
  switch (message) {
    case kUserWantsUiMessage:
      KillTimer(window, kAutoExitTimer);
      break;
    case WM_ENABLE:
      if (wParam == 0) EnableWindow(window, TRUE);
      break;
    case WM_CLOSE:
      CloseMainUi();
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    case WM_TIMER:
      if (wParam == kUnlockTimer || wParam == kAutoExitTimer) {
        OnTimer(window, wParam);
        return 1;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int RunApplication(HINSTANCE instance, const std::u16string& commandLine) {
  AppState& app = GetAppState();
  HWND existing = nullptr;
  if (!CheckSingleInstance(GetInstanceGuid(), &existing)) return 0;
  InitLocalizer();
  CommandLineOptions options;
  ParseCommandLine(commandLine, &options);
  app.autoupdateRun = options.autoupdate;
  if (existing) {
    if (options.hasOwner) {
      PostMessageW(existing, GetRegisteredMessages().showInterface, 0,
                   static_cast<LPARAM>(static_cast<std::uint32_t>(options.ownerWindow)));
    } else {
      CWaitCursor wait;
      SendMessageW(existing, kUserWantsUiMessage, 0, 0);
      BringWindowForward(existing);
    }
    return 0;
  }
  SHInitExtraControls();
  InitScreenDpi();
  // The fonts' configuration is read beside the loading of the channels.
  PrepareFonts();
  {
    CWaitCursor wait;
    if (!CreateHiddenMainWindow(instance, options)) return 0;
  }
  if (options.createChannels) {
    CWaitCursor wait;
    DeleteUnusedScreenBitmaps();
    CreateDefaultChannels();
    ShutdownApplication();
    return 0;
  }
  PostMessageW(app.hiddenWindow, GetRegisteredMessages().showInterface, 0,
               reinterpret_cast<LPARAM>(app.ownerWindow));
  RunMessageLoop();
  ShutdownApplication();
  return 0;
}

int WinMain(HINSTANCE instance, HINSTANCE, const std::u16string& commandLine, int) {
  try {
    return RunApplication(instance, commandLine);
  } catch (...) {
    DeleteUpdateLocked();
    return 0;
  }
}

// ---- Default channels ----------------------------------------------------------

const DefaultChannel* GetBuiltInDefaultChannels(int* count) {
  static const DefaultChannel channels[] = {
      {u"http://feeds.bbci.co.uk/news/rss.xml", u"BBC News"},
      {u"https://feeds.arstechnica.com/arstechnica/index", u"Ars Technica"},
      {u"https://news.ycombinator.com/rss", u"Hacker News"},
      {u"https://www.nasa.gov/news-release/feed/", u"NASA"},
      {u"https://www.theregister.com/headlines.atom", u"The Register"},
      {u"http://forum.orvnews.com/rss.php?t=1", u"Orv News Community"},
  };
  *count = static_cast<int>(std::size(channels));
  return channels;
}

bool AddDefaultChannel(const std::u16string& address, const std::u16string& title) {
  if (address.empty() || title.empty()) return false;
  IChannel* channel = GetChannelSet()->AddChannel(title);
  if (!channel) return false;
  channel->SetProperties(CStringToStringMap{{kPropUrl, address}, {kPropType, kChannelTypeRss}});
  return true;
}

void CreateDefaultChannels() {
  CChannelSet* set = GetChannelSet();
  {
    CSyncLock lock(set);
    if (set->GetCount() > 0) return;
  }
  CSyncLock lock(set);
  bool added = false;
  for (int i = 1; i <= 6; ++i) {
    const std::u16string urlKey = plat::FormatString(u"DEFCHANNEL_%d_URL", i);
    const std::u16string nameKey = plat::FormatString(u"DEFCHANNEL_%d_NAME", i);
    const std::u16string url = LocalizeWithFallback(urlKey.c_str(), u"");
    const std::u16string name = LocalizeWithFallback(nameKey.c_str(), u"");
    if (AddDefaultChannel(url, name)) added = true;
  }
  if (added) return;
  int count = 0;
  const DefaultChannel* builtIn = GetBuiltInDefaultChannels(&count);
  for (int i = 0; i < count; ++i) AddDefaultChannel(builtIn[i].address, builtIn[i].title);
}

// ---- Cached screen bitmaps -----------------------------------------------------

void DeleteUnusedScreenBitmaps() {
  const int shortSide = std::min(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  const std::u16string folder = GetInstallFolder(true);
  const std::optional<InstallManifest> manifest = ReadInstallManifest(kInstallName);
  for (int width : {176, 240, 320, 480}) {
    if (width == shortSide) continue;
    for (const char16_t* name : {u"news", u"progress1", u"progress", u"scrolllist"}) {
      const std::u16string file = plat::FormatString(u"%s\\%d_%s.dat", folder.c_str(), width, name);
      if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      if (IsListedInManifest(file, manifest)) continue;  // installed, not a cache
      SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(file.c_str());
    }
  }
}

// ---- Shut-down and the interface -------------------------------------------------

void ShutdownApplication() {
  AppState& app = GetAppState();
  {
    CSyncLock lock(GetChannelSet());
    if (!GetGlobalOptions().GetRememberViewingLocation()) GetDBViewState()->Reset();
  }
  CUpdateManager::GetInstance()->Shutdown_();
  UnregisterScriptUpdater();
  if (const ProfilerHooks& hooks = GetProfilerHooks(); hooks.Flush) hooks.Flush();
  if (app.instanceMutex) {
    CloseHandle(app.instanceMutex);
    app.instanceMutex = nullptr;
  }
}

void CloseMainUi() {
  const HWND ui = GetAppState().uiWindow;
  if (ui && IsWindow(ui)) SendMessageW(ui, WM_COMMAND, kCloseUiCommand, 0);
}

bool RunMainUi(HWND owner, HWND* uiWindowSlot) {
  if (const MainUiRunner& runner = TestRunner()) return runner(owner, uiWindowSlot);
  auto window = std::make_unique<MainWindow>(uiWindowSlot);
  window->Run(owner);
  window.reset();
  return true;
}

void SetMainUiRunnerForTesting(MainUiRunner runner) { TestRunner() = std::move(runner); }

namespace {
struct OwnedSearch {
  HWND owner;
  DWORD ownerProcess;
  HWND found;
};
// The first visible top-level window the owner owns; for another process's
// window (whose owners this process cannot see) the first visible top-level
// window of that process.
BOOL FindOwned(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<OwnedSearch*>(data);
  if (window == search->owner || !IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  const bool owned = search->ownerProcess == GetCurrentProcessId() ? GetWindow(window, GW_OWNER) == search->owner
                                                                   : process == search->ownerProcess;
  if (!owned) return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

void BringWindowForward(HWND window) {
  SetForegroundWindow(window);
  OwnedSearch search{window, 0, nullptr};
  GetWindowThreadProcessId(window, &search.ownerProcess);
  EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
  if (search.found) SetForegroundWindow(search.found);
}
