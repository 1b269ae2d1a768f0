// The font families of the device.
#include <algorithm>

#include "platform/base/Text.h"
#include "platform/gdi/Gdi.h"

namespace plat {
namespace {

struct Family {
  const WCHAR* name;
  BYTE pitchAndFamily;
};
constexpr Family kFamilies[] = {
    {u"Courier New", FIXED_PITCH | FF_MODERN},
    {u"Tahoma", VARIABLE_PITCH | FF_SWISS},
    {u"Times New Roman", VARIABLE_PITCH | FF_ROMAN},
};

}  // namespace

int EnumFontFamiliesW(HDC hdc, const WCHAR* family, FONTENUMPROCW proc, LPARAM lParam) {
  if (!proc) return 0;
  int answer = 1;
  HDC dc = CreateCompatibleDC(hdc);
  for (const Family& f : kFamilies) {
    if (family && family[0] && !EqualsNoCase(family, f.name)) continue;
    LOGFONTW lf{};
    lf.lfHeight = -((dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96) * 9 + 36) / 72;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = f.pitchAndFamily;
    const std::u16string_view name(f.name);
    std::copy(name.begin(), name.end(), lf.lfFaceName);
    TEXTMETRICW tm{};
    if (HFONT font = CreateFontIndirectW(&lf)) {
      HGDIOBJ old = dc ? SelectObject(dc, font) : nullptr;
      if (dc) GetTextMetricsW(dc, &tm);
      if (dc) SelectObject(dc, old);
      DeleteObject(font);
    }
    answer = proc(&lf, &tm, TRUETYPE_FONTTYPE, lParam);
    if (answer == 0) break;
  }
  if (dc) DeleteDC(dc);
  return answer;
}

}  // namespace plat
