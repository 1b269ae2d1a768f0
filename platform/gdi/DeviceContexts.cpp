// Device contexts: memory and screen DCs, window DCs through the window
// manager, saved states, device capabilities, the viewport origin.
#include <vector>

#include "platform/gdi/GdiInternal.h"

namespace plat {

namespace gdi {

Bitmap* Dc::Target() const { return isScreen ? Screen() : st.bitmap; }

}  // namespace gdi

using namespace gdi;

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc && !AsDc(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = new Dc();
  dc->st.bitmap = StockMonoBitmap();
  dc->st.font = DefaultFont();
  dc->st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  dc->st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  RegisterLive(static_cast<GdiDc*>(dc));
  return dc;
}

static void Deselect(Dc* dc) {
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  if (dc->st.bitmap && dc->st.bitmap->selectedIn == dc) dc->st.bitmap->selectedIn = nullptr;
}

BOOL DeleteDC(HDC hdc) {
  Dc* dc = AsDc(hdc);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Deselect(dc);
  UnregisterLive(static_cast<GdiDc*>(dc));
  delete dc;
  return TRUE;
}

namespace {
const WindowDcProvider* g_windowDcs = nullptr;
}

void SetWindowDcProvider(const WindowDcProvider* provider) { g_windowDcs = provider; }

namespace gdi {
void RefreshScreenFromWindows() {
  if (g_windowDcs && g_windowDcs->composeScreen) g_windowDcs->composeScreen();
}
}  // namespace gdi

HDC GetDC(HWND hwnd) {
  if (hwnd) {
    if (g_windowDcs && g_windowDcs->getDc) return g_windowDcs->getDc(hwnd);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* dc = new Dc();
  dc->isScreen = true;
  dc->st.font = DefaultFont();
  dc->st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  dc->st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  RegisterLive(static_cast<GdiDc*>(dc));
  return dc;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
  if (hwnd) {
    if (g_windowDcs && g_windowDcs->releaseDc) return g_windowDcs->releaseDc(hwnd, hdc);
    return 0;
  }
  Dc* dc = AsDc(hdc);
  if (!dc || !dc->isScreen) return 0;
  UnregisterLive(static_cast<GdiDc*>(dc));
  delete dc;
  return 1;
}

int SaveDC(HDC hdc) {
  Dc* dc = AsDc(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->st);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int level) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int target = level < 0 ? n + level + 1 : level;
  if (target < 1 || target > n) return FALSE;
  DcState st = dc->saved[static_cast<std::size_t>(target - 1)];
  dc->saved.resize(static_cast<std::size_t>(target - 1));
  std::lock_guard<std::recursive_mutex> g(GdiLock());
  // Objects deleted since the save fall back to the defaults.
  if (st.font && !IsLive(static_cast<GdiObject*>(st.font))) st.font = DefaultFont();
  if (st.brush && !IsLive(static_cast<GdiObject*>(st.brush))) st.brush = static_cast<Brush*>(GetStockObject(WHITE_BRUSH));
  if (st.pen && !IsLive(static_cast<GdiObject*>(st.pen))) st.pen = static_cast<Pen*>(GetStockObject(BLACK_PEN));
  if (!dc->isScreen) {
    Bitmap* want = st.bitmap;
    if (!want || !IsLive(static_cast<GdiObject*>(want)) || (want->selectedIn && want->selectedIn != dc))
      want = StockMonoBitmap();
    if (dc->st.bitmap && dc->st.bitmap->selectedIn == dc) dc->st.bitmap->selectedIn = nullptr;
    if (!want->isStock) want->selectedIn = dc;
    st.bitmap = want;
  }
  dc->st = st;
  return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : Screen();
  bool screenLike = !dc || dc->isScreen;
  switch (index) {
    case HORZRES: return screenLike ? ScreenWidth() : b->width;
    case VERTRES: return screenLike ? ScreenHeight() : b->height;
    case HORZSIZE: return ScreenWidth() * 254 / (ScreenDpi() * 10);
    case VERTSIZE: return ScreenHeight() * 254 / (ScreenDpi() * 10);
    case BITSPIXEL: return screenLike ? 16 : b->bpp;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case RASTERCAPS: return RC_BITBLT | RC_STRETCHBLT | RC_DI_BITMAP;
    case LOGPIXELSX:
    case LOGPIXELSY: return ScreenDpi();
  }
  return 0;
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* previous) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->st.origin;
  dc->st.origin = POINT{x, y};
  return TRUE;
}
BOOL GetViewportOrgEx(HDC hdc, POINT* origin) {
  Dc* dc = AsDc(hdc);
  if (!dc || !origin) return FALSE;
  *origin = dc->st.origin;
  return TRUE;
}
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* previous) {
  Dc* dc = AsDc(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->st.origin;
  dc->st.origin.x += dx;
  dc->st.origin.y += dy;
  return TRUE;
}

}  // namespace plat
