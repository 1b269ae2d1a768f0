// The input panel (SIP): whether it is up, raising and lowering it, and the
// window that follows the focus of edit controls.
#pragma once

#include "platform/windows/Windows.h"

// Whether the input panel is up; false when the shell cannot tell.
bool GetSipVisible(bool& visible);
void SetSipVisible(bool visible);
// An invisible "SIPPREF" child of parent (the shell's extra controls are
// registered first when needed), which raises and lowers the input panel
// with the focus of edit controls.
plat::HWND CreateSipPrefWindow(plat::HWND parent);
