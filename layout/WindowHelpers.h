// Thin window helpers: scroll position, invalidation, styles, modal runs that
// keep the focus and the input panel, message boxes, edit and combo children
// and a registry read.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"

int GetScrollPosition(plat::HWND window, int bar);
void InvalidateWithChildren(plat::HWND window);
void ModifyStyle(plat::HWND window, plat::DWORD remove, plat::DWORD add, plat::UINT positionFlags);
// Runs a nested modal dialog (run) and puts the focus and the input panel's
// state back as they were before it.
plat::INT_PTR RunKeepingFocusAndInputPanel(const std::function<plat::INT_PTR()>& run);
// Runs the sheet modally, keeping the focus and the input panel state.
plat::INT_PTR DoModalPropertySheet(plat::PROPSHEETHEADERW& sheet, plat::HWND parent);
// MessageBoxW with the localized string and the product name as caption.
int ShowMessageBox(plat::HWND owner, plat::UINT stringId, plat::UINT flags);
plat::HWND CreateEditChild(plat::HWND parent, const std::u16string& text);
plat::HWND CreateComboChild(plat::HWND parent, int controlId, const std::vector<std::u16string>& items);
void FillComboBox(plat::HWND comboBox, const std::vector<std::u16string>& items);
bool RegistryReadDword(plat::HKEY key, const char16_t* name, plat::DWORD& value);

// Whether the platform is a Pocket PC of generation 4 or later.
bool IsModernPocketPC();
