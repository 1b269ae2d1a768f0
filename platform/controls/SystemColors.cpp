// System colours as the handheld shows them: white windows, black text, blue
// selection, grey for what is disabled.
#include <mutex>

#include "platform/controls/StandardControls.h"

namespace plat {
namespace {

constexpr int kColours = 27;

COLORREF Colour(int index) {
  switch (index) {
    case COLOR_SCROLLBAR: return RGB(224, 224, 224);
    case COLOR_BACKGROUND: return RGB(255, 255, 255);
    case COLOR_ACTIVECAPTION: return RGB(0, 82, 165);
    case COLOR_MENU: return RGB(255, 255, 255);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME: return RGB(0, 0, 0);
    case COLOR_MENUTEXT: return RGB(0, 0, 0);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT: return RGB(255, 255, 255);
    case COLOR_HIGHLIGHT: return RGB(0, 82, 165);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(255, 255, 255);
    case COLOR_BTNSHADOW: return RGB(128, 128, 128);
    case COLOR_GRAYTEXT: return RGB(128, 128, 128);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_3DDKSHADOW: return RGB(0, 0, 0);
    case COLOR_3DLIGHT: return RGB(224, 224, 224);
    case COLOR_INFOTEXT: return RGB(0, 0, 0);
    case COLOR_INFOBK: return RGB(255, 255, 225);
    case COLOR_STATIC: return RGB(255, 255, 255);
    case COLOR_STATICTEXT: return RGB(0, 0, 0);
    default: return CLR_INVALID;
  }
}

}  // namespace

COLORREF GetSysColor(int index) {
  COLORREF c = Colour(index & ~SYS_COLOR_INDEX_FLAG);
  return c == CLR_INVALID ? 0 : c;
}

HBRUSH GetSysColorBrush(int index) {
  index &= ~SYS_COLOR_INDEX_FLAG;
  if (index < 0 || index >= kColours || Colour(index) == CLR_INVALID) return nullptr;
  // One brush per colour for the life of the process.
  static std::once_flag once;
  static HBRUSH* brushes = new HBRUSH[kColours]();
  std::call_once(once, [] {
    for (int i = 0; i < kColours; ++i)
      if (Colour(i) != CLR_INVALID) brushes[i] = CreateSolidBrush(Colour(i));
  });
  return brushes[index];
}

}  // namespace plat
