#include "layout/InputPanel.h"

#include "platform/controls/Shell.h"

bool GetSipVisible(bool& visible) {
  plat::SIPINFO info{};
  info.cbSize = sizeof info;
  if (!plat::SHSipInfo(plat::SPI_GETSIPINFO, 0, &info, 0)) return false;
  visible = (info.fdwFlags & plat::SIPF_ON) != 0;
  return true;
}

void SetSipVisible(bool visible) {
  plat::SIPINFO info{};
  info.cbSize = sizeof info;
  if (!plat::SHSipInfo(plat::SPI_GETSIPINFO, 0, &info, 0)) return;
  info.fdwFlags = visible ? (info.fdwFlags | plat::SIPF_ON) : (info.fdwFlags & ~plat::SIPF_ON);
  plat::SHSipInfo(plat::SPI_SETSIPINFO, 0, &info, 0);
}

plat::HWND CreateSipPrefWindow(plat::HWND parent) {
  plat::WNDCLASSW wc{};
  if (!plat::GetClassInfoW(nullptr, plat::kSipPrefClassName, &wc)) plat::SHInitExtraControls();
  return plat::CreateWindowExW(0, plat::kSipPrefClassName, u"", plat::WS_CHILD, 0, 0, 0, 0, parent, nullptr, nullptr,
                               nullptr);
}
