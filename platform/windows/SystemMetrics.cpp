#include "platform/windows/SystemMetrics.h"

#include "platform/gdi/Gdi.h"

namespace plat {
namespace {
// A length designed at 96 DPI on this screen.
int Scaled(int v) { return (v * ScreenDpi() + 48) / 96; }
}  // namespace

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN: return ScreenWidth();
    case SM_CYSCREEN: return ScreenHeight();
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL: return Scaled(13);
    case SM_CYCAPTION:
    case SM_CYMENU: return Scaled(26);
    case SM_CXBORDER:
    case SM_CYBORDER: return Scaled(1);
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
    case SM_CXEDGE:
    case SM_CYEDGE: return Scaled(2);
    case SM_CXICON:
    case SM_CYICON: return Scaled(32);
    case SM_CXSMICON:
    case SM_CYSMICON: return Scaled(16);
    // The area below the navigation bar and above the menu bar.
    case SM_CXFULLSCREEN: return ScreenWidth();
    case SM_CYFULLSCREEN: return ScreenHeight() - 2 * Scaled(26);
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
    case SM_CXDRAG:
    case SM_CYDRAG: return Scaled(4);
    // A check box draws its square of 12 px and 5 px of gap before the text.
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK: return Scaled(17);
    default: return 0;
  }
}

}  // namespace plat
