// The main window's options command (2051) and channel-properties command
// (2050, also reached from the channel list's item menu).
#include "app/MainWindow.h"
#include "app/options/ChannelPropertiesSheet.h"
#include "app/options/OptionsSheet.h"
#include "layout/WindowHelpers.h"
#include "update/jobs/UpdateManager.h"

namespace {

constexpr plat::UINT kStopUpdatingFirst = 318;

// After a sheet: the window comes forward again and shows what changed.
void Reactivate(plat::HWND window) {
  plat::SetActiveWindow(window);
  plat::SetFocus(window);
}

}  // namespace

bool MainWindow::OpenOptions() {
  if (CUpdateManager::GetInstance()->IsUpdating()) {
    Reactivate(hwnd_);
    ShowMessageBox(hwnd_, kStopUpdatingFirst, plat::MB_OK | plat::MB_ICONERROR);
    ShowView();
    return true;
  }
  {
    OptionsSheet sheet;
    sheet.DoModal(hwnd_);
  }
  if (hwnd_ && plat::IsWindow(hwnd_)) {
    Reactivate(hwnd_);
    ShowView();
  }
  return true;
}

bool MainWindow::OpenChannelProperties(const std::u16string& channelName) {
  if (channelName.empty()) return false;
  const plat::INT_PTR result = ChannelPropertiesSheet::Run(hwnd_, channelName);
  if (hwnd_ && plat::IsWindow(hwnd_)) {
    Reactivate(hwnd_);
    ShowView();
  }
  return result == 1;
}
