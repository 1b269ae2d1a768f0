// The main window's "About..." command.
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "core/ProductStrings.h"

bool MainWindow::OpenAbout() {
  AboutBox box(GetApplicationTitle(), AboutBox::VersionText(), AboutBox::BuildText(), GetHelpFileUrl() + u"#channels");
  box.DoModal(hwnd_);
  // The view shows what changed meanwhile.
  ShowView();
  return true;
}
