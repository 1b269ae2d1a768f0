#include "layout/UiKitModule.h"

#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"

namespace {

struct UiKit {
  plat::HINSTANCE module = nullptr;
  plat::UINT menuId = kDefaultMenuBarId;
  int left = kDefaultLeftSoftKey;
  int right = kDefaultRightSoftKey;
};

UiKit& Kit() {
  static UiKit kit;
  return kit;
}

}  // namespace

bool InitUiKit(plat::HINSTANCE module) {
  Kit().module = module;
  plat::SHInitExtraControls();
  Kit().menuId = kDefaultMenuBarId;
  Kit().left = kDefaultLeftSoftKey;
  Kit().right = kDefaultRightSoftKey;
  return true;
}

plat::HINSTANCE GetUiKitModule() { return Kit().module; }
plat::UINT GetDefaultMenuBarId() { return Kit().menuId; }
int GetDefaultLeftSoftKey() { return Kit().left; }
int GetDefaultRightSoftKey() { return Kit().right; }

plat::HWND CreateMenuBar(plat::HWND owner, plat::DWORD flags, plat::UINT menuId, int bitmapId, int bitmapCount,
                         plat::COLORREF background) {
  plat::SHMENUBARINFO info{sizeof(plat::SHMENUBARINFO), owner, flags, menuId, Kit().module, bitmapId, bitmapCount,
                           nullptr, background};
  return plat::SHCreateMenuBar(&info) ? info.hwndMB : nullptr;
}

int GetToolbarButtonCommand(plat::HWND bar, int index) {
  if (!bar) return -1;
  plat::TBBUTTON button{};
  if (!plat::SendMessageW(bar, plat::TB_GETBUTTON, static_cast<plat::WPARAM>(index),
                          reinterpret_cast<plat::LPARAM>(&button)))
    return -1;
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = plat::TBIF_COMMAND;
  if (plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, static_cast<plat::WPARAM>(button.idCommand),
                         reinterpret_cast<plat::LPARAM>(&info)) < 0)
    return -1;
  return info.idCommand;
}
