// The menu bar of a window with its two soft keys: made from a menu resource,
// localized, with the Back key turned into a command of the owner.
#pragma once

#include <string>

#include "platform/windows/Windows.h"

class SoftKeyBar {
 public:
  // Destroys the owner's bar, makes one from the menu resource (without the
  // input panel button unless wanted), localizes it, overrides the Back key
  // and remembers the commands of buttons 0 and 1. Whether a bar exists.
  bool Create(plat::HWND owner, plat::UINT menuId, bool withSipButton);
  // The default bar with the default soft-key commands.
  bool CreateDefault(plat::HWND owner, bool withSipButton);
  // The default bar with "Done" as IDOK on the left and "Cancel" as IDCANCEL on the right.
  bool CreateDoneCancel(plat::HWND owner);
  // Changes the button whose command is command: the state always, the text
  // when not empty, the command unless newCommand is -1; then localizes the
  // bar again. False when there is no bar or no such button.
  bool SetButton(int command, plat::BYTE state, const std::u16string& text, int newCommand);

  plat::HWND GetBar() const { return bar_; }
  plat::HWND GetOwner() const { return owner_; }
  int GetLeftCommand() const { return left_; }
  int GetRightCommand() const { return right_; }

 private:
  plat::HWND bar_ = nullptr;
  plat::HWND owner_ = nullptr;
  int left_ = -1;
  int right_ = -1;
};
