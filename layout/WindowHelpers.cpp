#include "layout/WindowHelpers.h"

#include <cstdint>

#include "core/DeviceInfo.h"
#include "core/FontStorage.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "layout/InputPanel.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/StandardControls.h"

int GetScrollPosition(plat::HWND window, int bar) {
  plat::SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = plat::SIF_POS;
  return plat::GetScrollInfo(window, bar, &info) ? info.nPos : 0;
}

void InvalidateWithChildren(plat::HWND window) {
  plat::InvalidateRect(window, nullptr, 1);
  for (plat::HWND child = plat::GetWindow(window, plat::GW_CHILD); child;
       child = plat::GetWindow(child, plat::GW_HWNDNEXT))
    plat::InvalidateRect(child, nullptr, 1);
}

void ModifyStyle(plat::HWND window, plat::DWORD remove, plat::DWORD add, plat::UINT positionFlags) {
  const auto style = static_cast<plat::DWORD>(plat::GetWindowLongW(window, plat::GWL_STYLE));
  const plat::DWORD wanted = (style & ~remove) | add;
  if (wanted == style) return;
  plat::SetWindowLongW(window, plat::GWL_STYLE, static_cast<plat::LONG_PTR>(wanted));
  if (positionFlags)
    plat::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                       positionFlags | plat::SWP_NOSIZE | plat::SWP_NOMOVE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
}

plat::INT_PTR RunKeepingFocusAndInputPanel(const std::function<plat::INT_PTR()>& run) {
  plat::HWND focus = plat::GetFocus();
  bool sip = false;
  const bool knewSip = GetSipVisible(sip);
  const plat::INT_PTR result = run();
  if (knewSip) SetSipVisible(sip);
  if (focus && plat::IsWindow(focus)) plat::SetFocus(focus);
  return result;
}

plat::INT_PTR DoModalPropertySheet(plat::PROPSHEETHEADERW& sheet, plat::HWND parent) {
  sheet.hwndParent = parent;
  return RunKeepingFocusAndInputPanel([&] { return plat::PropertySheetW(&sheet); });
}

int ShowMessageBox(plat::HWND owner, plat::UINT stringId, plat::UINT flags) {
  const std::u16string text = LocalizeResourceString(stringId);
  const std::u16string caption = GetApplicationTitle();
  return plat::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

plat::HWND CreateEditChild(plat::HWND parent, const std::u16string& text) {
  plat::HWND edit =
      plat::CreateWindowExW(0, u"EDIT", text.c_str(), 0x508100C0, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
  if (edit) plat::SendMessageW(edit, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(GetSystemFontsStorage().GetFont()), 0);
  return edit;
}

void FillComboBox(plat::HWND comboBox, const std::vector<std::u16string>& items) {
  plat::SendMessageW(comboBox, plat::CB_RESETCONTENT, 0, 0);
  for (const std::u16string& item : items)
    plat::SendMessageW(comboBox, plat::CB_ADDSTRING, 0, reinterpret_cast<plat::LPARAM>(item.c_str()));
  plat::SendMessageW(comboBox, plat::CB_SETCURSEL, 0, 0);
}

plat::HWND CreateComboChild(plat::HWND parent, int controlId, const std::vector<std::u16string>& items) {
  plat::HWND combo = plat::CreateWindowExW(0, u"COMBOBOX", u"", 0x50210003, 0, 0, 0, 0, parent,
                                           reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(controlId)),
                                           nullptr, nullptr);
  if (!combo) return nullptr;
  plat::SendMessageW(combo, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(GetSystemFontsStorage().GetFont()), 0);
  FillComboBox(combo, items);
  return combo;
}

bool RegistryReadDword(plat::HKEY key, const char16_t* name, plat::DWORD& value) {
  plat::DWORD type = 0;
  plat::DWORD data = 0;
  plat::DWORD size = sizeof data;
  if (plat::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<plat::BYTE*>(&data), &size) != 0 ||
      size != sizeof data)
    return false;
  value = data;
  return true;
}

bool IsModernPocketPC() { return IsPocketPC() && GetPlatformGeneration() >= 4; }
