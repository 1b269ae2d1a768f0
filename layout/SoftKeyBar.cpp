#include "layout/SoftKeyBar.h"

#include "core/Localizer.h"
#include "layout/UiKitModule.h"
#include "platform/controls/MenuBar.h"

bool SoftKeyBar::Create(plat::HWND owner, plat::UINT menuId, bool withSipButton) {
  if (plat::HWND old = plat::SHFindMenuBar(owner)) plat::DestroyWindow(old);
  if (bar_ && plat::IsWindow(bar_)) plat::DestroyWindow(bar_);
  bar_ = nullptr;
  owner_ = owner;
  plat::DWORD flags = plat::SHCMBF_HMENU;
  if (!withSipButton) flags |= plat::SHCMBF_HIDESIPBUTTON;
  bar_ = CreateMenuBar(owner, flags, menuId, 0, 0, 0);
  if (!bar_) return false;
  GetLocalizer().LocalizeMenuBar(bar_, true);
  // Back reaches the owner as a command instead of closing it.
  const plat::WORD both = static_cast<plat::WORD>(plat::SHMBOF_NODEFAULT | plat::SHMBOF_NOTIFY);
  plat::SendMessageW(bar_, plat::SHCMBM_OVERRIDEKEY, plat::VK_ESCAPE, plat::MAKELPARAM(both, both));
  left_ = GetToolbarButtonCommand(bar_, 0);
  right_ = GetToolbarButtonCommand(bar_, 1);
  return true;
}

bool SoftKeyBar::CreateDefault(plat::HWND owner, bool withSipButton) {
  if (!Create(owner, GetDefaultMenuBarId(), withSipButton)) return false;
  left_ = GetDefaultLeftSoftKey();
  right_ = GetDefaultRightSoftKey();
  return true;
}

bool SoftKeyBar::CreateDoneCancel(plat::HWND owner) {
  if (!CreateDefault(owner, false)) return false;
  const bool done = SetButton(left_, plat::TBSTATE_ENABLED, u"Done", plat::IDOK);
  return SetButton(right_, plat::TBSTATE_ENABLED, u"Cancel", plat::IDCANCEL) && done;
}

bool SoftKeyBar::SetButton(int command, plat::BYTE state, const std::u16string& text, int newCommand) {
  if (!bar_) return false;
  std::u16string buffer = text;
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = plat::TBIF_STATE;
  info.fsState = state;
  if (!buffer.empty()) {
    info.dwMask |= plat::TBIF_TEXT;
    info.pszText = buffer.data();
  }
  if (newCommand != -1) {
    info.dwMask |= plat::TBIF_COMMAND;
    info.idCommand = newCommand;
  }
  const bool ok = plat::SendMessageW(bar_, plat::TB_SETBUTTONINFOW, static_cast<plat::WPARAM>(command),
                                     reinterpret_cast<plat::LPARAM>(&info)) != 0;
  GetLocalizer().LocalizeMenuBar(bar_, true);
  if (ok && newCommand != -1) {
    if (left_ == command) left_ = newCommand;
    else if (right_ == command) right_ = newCommand;
  }
  return ok;
}
