#include "layout/Fonts.h"

#include "core/Localizer.h"
#include "layout/ScreenScale.h"
#include "platform/controls/ComboBox.h"

namespace {

int GrowAwayFromZero(int height, int by) { return height < 0 ? height - by : height + by; }

struct ProcessFont {
  plat::HFONT font = nullptr;
  ~ProcessFont() {
    if (font) plat::DeleteObject(font);
  }
};

}  // namespace

plat::HFONT CreateFontSimple(const char16_t* face, int height, int weight, bool italic, plat::BYTE quality) {
  if (UseLargeFonts()) {
    weight = plat::FW_NORMAL;
    height = GrowAwayFromZero(height, ScaleY(1));
  }
  plat::LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfItalic = italic ? 1 : 0;
  lf.lfQuality = quality;
  if (face) {
    std::size_t n = 0;
    for (; face[n] && n + 1 < static_cast<std::size_t>(plat::LF_FACESIZE); ++n) lf.lfFaceName[n] = face[n];
  }
  return plat::CreateFontIndirectW(&lf);
}

plat::HFONT CreateBoldFont(plat::HFONT font) {
  plat::HGDIOBJ source = font ? static_cast<plat::HGDIOBJ>(font) : plat::GetStockObject(plat::SYSTEM_FONT);
  plat::LOGFONTW lf{};
  if (!source || plat::GetObjectW(source, sizeof lf, &lf) != static_cast<int>(sizeof lf)) return nullptr;
  lf.lfWeight = plat::FW_BOLD;
  return plat::CreateFontIndirectW(&lf);
}

plat::HFONT GetBoldSystemFont() {
  static ProcessFont bold;
  if (!bold.font) bold.font = CreateBoldFont(nullptr);
  return bold.font;
}

void SetWindowFont(plat::HWND window, plat::HFONT font, bool deletePrevious) {
  if (deletePrevious) {
    auto previous = reinterpret_cast<plat::HFONT>(plat::SendMessageW(window, plat::WM_GETFONT, 0, 0));
    if (previous && previous != font) plat::DeleteObject(previous);
  }
  plat::SendMessageW(window, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(font), 1);
}

void ClampComboBoxHeight(plat::HWND comboBox, int minimum, int maximum) {
  const auto field = static_cast<plat::WPARAM>(-1);
  const auto height = static_cast<int>(plat::SendMessageW(comboBox, plat::CB_GETITEMHEIGHT, field, 0));
  if (minimum > 0 && height < ScaleY(minimum))
    plat::SendMessageW(comboBox, plat::CB_SETITEMHEIGHT, field, ScaleY(minimum));
  if (maximum >= 1 && height > ScaleY(maximum))
    plat::SendMessageW(comboBox, plat::CB_SETITEMHEIGHT, field, ScaleY(maximum));
}

void LimitControlHeight(plat::HWND window, int maximum) {
  plat::RECT r{};
  if (!plat::GetWindowRect(window, &r)) return;
  if (r.bottom - r.top > ScaleY(maximum))
    plat::SetWindowPos(window, nullptr, 0, 0, r.right - r.left, ScaleY(maximum),
                       plat::SWP_NOMOVE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
}

int GetWindowFontHeight(plat::HWND window) {
  auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(window, plat::WM_GETFONT, 0, 0));
  if (!font) return 0;
  plat::HDC dc = plat::GetDC(window);
  if (!dc) return 0;
  plat::HGDIOBJ old = plat::SelectObject(dc, font);
  plat::TEXTMETRICW tm{};
  const bool ok = plat::GetTextMetricsW(dc, &tm);
  plat::SelectObject(dc, old);
  plat::ReleaseDC(window, dc);
  return ok ? static_cast<int>(tm.tmHeight) : 0;
}
