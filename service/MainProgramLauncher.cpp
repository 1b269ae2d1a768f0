#include "service/MainProgramLauncher.h"

#include "core/ProductStrings.h"
#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/ShellExecute.h"
#include "platform/ipc/Ipc.h"
#include "service/ScreenCover.h"

namespace {

plat::HWND FindMainProgram() {
  plat::HWND w = plat::FindWindowW(kMainProgramWindowClass, nullptr);
  return w && plat::IsWindow(w) ? w : nullptr;
}

// A window's program file, as a device path.
std::u16string ProgramOf(plat::HWND hwnd) {
  plat::DWORD pid = 0;
  plat::GetWindowThreadProcessId(hwnd, &pid);
  return pid ? plat::GetProcessProgramPath(pid) : std::u16string();
}

}  // namespace

CMainProgramLauncher::CMainProgramLauncher(CScreenCover& cover, plat::HANDLE stop, LaunchTimings timings)
    : cover_(cover), stop_(stop), timings_(timings) {}

bool CMainProgramLauncher::IsMainProgramRunning() { return FindMainProgram() != nullptr; }

bool CMainProgramLauncher::Pause() {
  return !stop_ || plat::WaitForSingleObject(stop_, timings_.pauseMs) == plat::WAIT_TIMEOUT;
}

bool CMainProgramLauncher::PostUpdateNow() {
  plat::HWND window = LaunchForAutoUpdate();
  if (!window) return false;
  const plat::UINT updateNow = plat::RegisterWindowMessageW(kMsgNameUpdateNow);
  return updateNow && plat::PostMessageW(window, updateNow, 0, 0);
}

plat::HWND CMainProgramLauncher::LaunchForAutoUpdate() {
  if (plat::HWND running = FindMainProgram()) return running;
  std::u16string folder;
  {
    CVORegistry key = OpenSettingsKey();
    folder = key.GetString(u"InstallFolder", nullptr);
  }
  if (folder.empty()) return nullptr;
  const std::u16string program = folder + u"\\" + GetProductName() + u".exe";
  if (!plat::IsStartableProgram(program.c_str())) return nullptr;  // missing, or a folder

  cover_.Show();  // without a cover the program still starts
  plat::SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = program.c_str();
  info.lpParameters = u"autoupdate";
  info.nShow = plat::SW_MINIMIZE;
  plat::ShellExecuteEx(&info);

  const plat::UINT isUiOpen = plat::RegisterWindowMessageW(kMsgNameIsInterfaceOpen);
  const plat::DWORD started = plat::GetTickCount();
  for (;;) {
    if (plat::HWND window = FindMainProgram()) {
      for (plat::DWORD ask = 0; ask < timings_.attempts; ++ask) {
        plat::DWORD_PTR open = 0;
        if (plat::SendMessageTimeoutW(window, isUiOpen, 0, 0, plat::SMTO_ABORTIFHUNG, timings_.answerBoundMs, &open) &&
            open)
          break;
        if (!Pause()) break;
      }
      SendProgramToBack(window);
      cover_.Hide();
      return window;
    }
    if (plat::GetTickCount() - started >= timings_.windowBoundMs || !Pause()) break;
  }
  cover_.Hide();
  return nullptr;
}

void CMainProgramLauncher::SendProgramToBack(plat::HWND window) {
  plat::HWND desktop = plat::FindWindowW(u"DesktopExplorerWindow", nullptr);
  if (window == desktop) return;
  const std::u16string own = ProgramOf(window);
  // A main program running as the shell's own process is compared with nothing.
  const bool compare = !plat::EqualsNoCase(own, u"\\windows\\shell32.exe");
  plat::HWND target = nullptr;
  for (plat::HWND w = plat::GetWindow(window, plat::GW_HWNDNEXT); w; w = plat::GetWindow(w, plat::GW_HWNDNEXT)) {
    if (!plat::IsWindowVisible(w) || plat::GetParent(w)) continue;
    const auto ex = static_cast<plat::DWORD>(plat::GetWindowLongW(w, plat::GWL_EXSTYLE));
    if (ex & (plat::WS_EX_TOPMOST | plat::WS_EX_TOOLWINDOW)) continue;
    if (compare && plat::EqualsNoCase(ProgramOf(w), own)) continue;
    target = w;
    break;
  }
  if (!target) target = desktop;
  if (target) plat::SetForegroundWindow(target);
  plat::SetWindowPos(window, plat::HWND_BOTTOM, 0, 0, 0, 0, plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE);
}
