// The main window's New Channel command: the add-channels wizard.
#include "app/MainWindow.h"
#include "app/NewChannelWizard.h"

bool MainWindow::OpenAddChannelsWizard() {
  NewChannelWizard wizard;
  return wizard.Run(hwnd_) == 1;
}
