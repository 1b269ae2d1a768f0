#include "today/TodayCommon.h"

#include <atomic>

#include "core/DeviceInfo.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "platform/resources/Resources.h"

namespace {
std::atomic<int> g_dpiX{0};
std::atomic<int> g_dpiY{0};

void ReadDpi() {
  const ScreenDpi dpi = ReadScreenDpi();
  g_dpiX = dpi.x;
  g_dpiY = dpi.y;
}
}  // namespace

plat::HINSTANCE GetTodayModule() {
  plat::HINSTANCE module = plat::GetModuleHandleW(u"OrvNewsToday.dll");
  return module ? module : plat::GetModuleHandleW(nullptr);
}

std::u16string LoadLocalizedString(plat::UINT id) {
  char16_t buffer[2048] = {};
  const int n = plat::LoadStringW(GetTodayModule(), id, buffer, 2048);
  if (n <= 0) return {};
  const std::u16string text(buffer, static_cast<std::size_t>(n));
  const char16_t* translation = GetLocalizer().FindTranslation(text.c_str());
  return translation ? std::u16string(translation) : text;
}

std::u16string GetTodayItemTitle() { return GetProductName() + u" Today Plug-In"; }
std::u16string GetOptionsProgramFile() { return GetProductName() + u" Today Options.exe"; }
std::u16string GetTodayItemKeyName() { return u"\"" + GetProductName() + u"\""; }

int TodayDpiX() {
  if (g_dpiX == 0) ReadDpi();
  return g_dpiX;
}

int TodayDpiY() {
  if (g_dpiY == 0) ReadDpi();
  return g_dpiY;
}

void SetTodayDpiForTesting(int dpiX, int dpiY) {
  g_dpiX = dpiX;
  g_dpiY = dpiY;
}
