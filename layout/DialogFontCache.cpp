#include "layout/DialogFontCache.h"

#include <string>

#include "core/FrameworkServices.h"
#include "core/Localizer.h"
#include "layout/Fonts.h"
#include "layout/ScreenScale.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"

namespace {

plat::HFONT MakeDialogFont(bool bold) {
  const bool large = UseLargeFonts();
  int height;
  if (IsSmartphonePlatform()) {
    height = GetScreenDpiY() > 96 ? -17 : -13;
  } else {
    // Large fonts are the 14-point set; the font is made directly so the
    // larger height is not grown a second time.
    height = MulDivRound(large ? 14 : 13, GetScreenDpiY(), 96);
  }
  plat::LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = bold && !large ? plat::FW_BOLD : plat::FW_NORMAL;
  const std::u16string face = u"Tahoma";
  face.copy(lf.lfFaceName, face.size());
  return plat::CreateFontIndirectW(&lf);
}

std::u16string ClassOf(plat::HWND window) {
  char16_t name[64] = {};
  plat::GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

CDialogFontCache::~CDialogFontCache() { Reset(); }

void CDialogFontCache::Reset() {
  if (normal_) plat::DeleteObject(normal_);
  if (bold_) plat::DeleteObject(bold_);
  normal_ = bold_ = nullptr;
}

plat::HFONT CDialogFontCache::GetFont(bool bold) {
  // The fonts follow the device's DPI and platform, read once per device.
  if (generation_ != plat::DeviceGeneration() + 1) {
    Reset();
    generation_ = plat::DeviceGeneration() + 1;
  }
  plat::HFONT& font = bold ? bold_ : normal_;
  if (!font) font = MakeDialogFont(bold);
  return font;
}

void CDialogFontCache::ApplyToDialog(plat::HWND dialog) {
  for (plat::HWND child = plat::GetWindow(dialog, plat::GW_CHILD); child;
       child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
    // The platform's class names ignore case, so they are compared that way.
    const std::u16string cls = ClassOf(child);
    const auto style = static_cast<plat::DWORD>(plat::GetWindowLongW(child, plat::GWL_STYLE));
    if (plat::EqualsNoCase(cls, u"Button")) {
      const plat::DWORD kind = style & plat::BS_TYPEMASK;
      if (kind == plat::BS_PUSHBUTTON || kind == plat::BS_DEFPUSHBUTTON) {
        SetWindowFont(child, GetFont(true), false);
        continue;
      }
      SetWindowFont(child, GetFont(false), false);
      plat::RECT r{};
      plat::GetWindowRect(child, &r);
      if (r.top & 1) {
        plat::POINT p{r.left, r.top - 1};
        plat::ScreenToClient(dialog, &p);
        plat::SetWindowPos(child, nullptr, p.x, p.y, 0, 0, plat::SWP_NOSIZE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
      }
    } else if (plat::EqualsNoCase(cls, u"static")) {
      SetWindowFont(child, GetFont((style & plat::WS_GROUP) == 0), false);
    } else if (plat::EqualsNoCase(cls, u"SysTabControl32")) {
      SetWindowFont(child, GetFont(false), true);
    } else if (plat::EqualsNoCase(cls, u"combobox")) {
      SetWindowFont(child, GetFont(false), false);
      ClampComboBoxHeight(child, 15, 19);
    } else if (plat::EqualsNoCase(cls, u"Edit")) {
      SetWindowFont(child, GetFont(false), false);
      LimitControlHeight(child, 20);
    } else if (plat::EqualsNoCase(cls, u"msctls_updown32")) {
      LimitControlHeight(child, 20);
    } else {
      SetWindowFont(child, GetFont(false), false);
    }
  }
}

CDialogFontCache& GetDialogFontCache() {
  static CDialogFontCache cache;
  return cache;
}

void ResetUiToolkitForTesting() {
  ResetScreenDpiForTesting();
  GetDialogFontCache().Reset();
}
