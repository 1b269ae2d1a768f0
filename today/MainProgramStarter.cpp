#include "today/MainProgramStarter.h"

#include "core/ProductStrings.h"
#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/ViewState.h"
#include "platform/base/Thread.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/ShellExecute.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "today/TodayCommon.h"

namespace {

std::u16string InstallFolderSetting() { return OpenSettingsKey().GetString(u"InstallFolder", u""); }

std::u16string JoinPath(std::u16string folder, const std::u16string& file) {
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';
  return folder + file;
}

bool IsProgramFile(const std::u16string& path) {
  const plat::DWORD attributes = plat::GetFileAttributesW(path.c_str());
  return attributes != plat::INVALID_FILE_ATTRIBUTES && (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program's window to bring forward: the topmost visible top-level
// window of the process that owns window, not counting its soft-key bars
// (they sit above the main window but never take the activation) and windows
// without an area (the coordinating window); else window.
plat::HWND ActiveWindowOf(plat::HWND window) {
  struct Search {
    plat::DWORD process;
    plat::HWND found;
  } search{0, nullptr};
  plat::GetWindowThreadProcessId(window, &search.process);
  plat::EnumWindows(
      [](plat::HWND candidate, plat::LPARAM param) -> plat::BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        plat::DWORD process = 0;
        plat::GetWindowThreadProcessId(candidate, &process);
        if (process != s->process || !plat::IsWindowVisible(candidate)) return plat::TRUE;
        plat::RECT r{};
        if (!plat::GetWindowRect(candidate, &r) || r.right <= r.left || r.bottom <= r.top) return plat::TRUE;
        char16_t cls[64] = {};
        plat::GetClassNameW(candidate, cls, 64);
        if (std::u16string(cls) == plat::kMenuBarClassName) return plat::TRUE;
        s->found = candidate;
        return plat::FALSE;
      },
      reinterpret_cast<plat::LPARAM>(&search));
  return search.found ? search.found : window;
}

}  // namespace

CMainProgramStarter* CMainProgramStarter::GetInstance() {
  static CMainProgramStarter instance;
  return &instance;
}

CMainProgramStarter::CMainProgramStarter() {
  requestEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  stopEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  stoppedEvent_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr);
  if (requestEvent_ && stopEvent_ && stoppedEvent_)
    thread_ = plat::CreateThread(nullptr, 0, &CMainProgramStarter::ThreadProc, this, 0, nullptr);
}

CMainProgramStarter::~CMainProgramStarter() {
  if (stopEvent_) plat::SetEvent(stopEvent_);
  if (thread_) {
    plat::WaitForSingleObject(thread_, plat::INFINITE);
    plat::CloseHandle(thread_);
  }
  for (plat::HANDLE handle : {requestEvent_, stopEvent_, stoppedEvent_})
    if (handle) plat::CloseHandle(handle);
}

plat::DWORD CMainProgramStarter::ThreadProc(void* self) {
  static_cast<CMainProgramStarter*>(self)->Run();
  return 0;
}

void CMainProgramStarter::Run() {
  const plat::HANDLE handles[2] = {stopEvent_, requestEvent_};
  for (;;) {
    const plat::DWORD result = plat::WaitForMultipleObjects(2, handles, plat::FALSE, plat::INFINITE);
    if (result != plat::WAIT_OBJECT_0 + 1) break;
    // Reset before the launch: a request made while it runs is served after it.
    plat::ResetEvent(requestEvent_);
    ++launches_;
    if (show_) show_();
    else ShowMainProgram();
  }
  plat::SetEvent(stoppedEvent_);
}

bool CMainProgramStarter::StopWait(plat::DWORD ms) {
  return plat::WaitForSingleObject(stopEvent_, ms) == plat::WAIT_OBJECT_0;
}

void CMainProgramStarter::RequestShow() {
  if (requestEvent_) plat::SetEvent(requestEvent_);
}

void CMainProgramStarter::RequestShowArticle(const std::u16string& channel, const std::u16string& articleId) {
  if (channel.empty() || articleId.empty()) return;
  CVORegistry key = OpenSettingsKey();
  key.SetString(kViewStateCurrentChannelName, channel);
  key.SetString(kViewStateCurrentArticleID, articleId);
  key.SetDWORD(kViewStateCurrentView, DBV_ARTICLE);
  RequestShow();
}

void CMainProgramStarter::SetShowFunctionForTesting(std::function<void()> show) { show_ = std::move(show); }

plat::HWND CMainProgramStarter::StartMainProgram() {
  if (plat::HWND found = plat::FindWindowW(kMainProgramClass, nullptr)) return found;
  const std::u16string folder = InstallFolderSetting();
  if (folder.empty()) return nullptr;
  const std::u16string path = JoinPath(folder, GetExeName());
  // The device's programs may be kept without their ".exe" (the platform
  // starts "Name" for "Name.exe").
  if (!IsProgramFile(path) && !IsProgramFile(path.substr(0, path.size() - 4))) return nullptr;

  plat::SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = path.c_str();
  info.nShow = plat::SW_MINIMIZE;
  plat::ShellExecuteEx(&info);

  plat::HWND window = nullptr;
  for (int i = 0; i < kWaitRounds && !window; ++i) {
    window = plat::FindWindowW(kMainProgramClass, nullptr);
    if (!window && StopWait(kWaitStepMs)) return nullptr;
  }
  if (!window) return nullptr;
  const plat::UINT isOpen = GetRegisteredMessages().isInterfaceOpen;
  for (int i = 0; i < kWaitRounds; ++i) {
    plat::DWORD_PTR answer = 0;
    if (plat::SendMessageTimeoutW(window, isOpen, 0, 0, 0, kWaitStepMs, &answer) && answer != 0) break;
    if (StopWait(kWaitStepMs)) return nullptr;
  }
  return window;
}

void CMainProgramStarter::ShowMainProgram() {
  plat::HWND window = StartMainProgram();
  if (!window) return;
  plat::PostMessageW(window, GetRegisteredMessages().viewStateChanged, 0, 0);
  plat::ShowWindow(window, plat::SW_SHOW);
  plat::SetForegroundWindow(ActiveWindowOf(window));
}

void StartOptionsProgram() {
  const std::u16string path = JoinPath(InstallFolderSetting(), GetOptionsProgramFile());
  plat::SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = path.c_str();
  info.lpParameters = u"";
  info.nShow = plat::SW_SHOWNORMAL;
  plat::ShellExecuteEx(&info);
}
