#include "layout/UIToolkit.h"

#include <algorithm>
#include <atomic>

#include "core/DeviceInfo.h"
#include "core/FontStorage.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "layout/DialogFontCache.h"
#include "platform/base/Device.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/controls/StandardControls.h"
#include "platform/resources/Resources.h"
#include "platform/windows/SystemMetrics.h"

namespace {

struct DpiCache {
  std::atomic<unsigned> generation{0};  // device generation + 1 when valid
  std::atomic<int> dpiX{96};
  std::atomic<int> dpiY{96};
};

DpiCache g_dpi;

}  // namespace

int GetScreenDeviceCaps(int index) {
  plat::HDC screen = plat::GetDC(nullptr);
  if (!screen) return -1;
  const int value = plat::GetDeviceCaps(screen, index);
  plat::ReleaseDC(nullptr, screen);
  return value;
}

void InitScreenDpi() {
  const unsigned wanted = plat::DeviceGeneration() + 1;
  if (g_dpi.generation.load() == wanted) return;
  int x = GetScreenDeviceCaps(plat::LOGPIXELSX);
  int y = GetScreenDeviceCaps(plat::LOGPIXELSY);
  g_dpi.dpiX = x > 0 ? x : 96;
  g_dpi.dpiY = y > 0 ? y : 96;
  g_dpi.generation = wanted;
}

int GetScreenDpiX() {
  InitScreenDpi();
  return g_dpi.dpiX;
}

int GetScreenDpiY() {
  InitScreenDpi();
  return g_dpi.dpiY;
}

void ResetUiToolkitForTesting() {
  g_dpi.generation = 0;
  GetDialogFontCache().Reset();
}

int ScaleX(int value) { return MulDivRound(value, GetScreenDpiX(), 96); }
int ScaleY(int value) { return MulDivRound(value, GetScreenDpiY(), 96); }

int GetScreenWidthPixels() { return plat::ScreenWidth(); }
int GetScreenHeightPixels() { return plat::ScreenHeight(); }

bool IsDoubleResolutionScreen() { return (GetScreenDpiY() + 4) * 3 / 96 == 6; }
bool IsMiddleResolutionScreen() { return (GetScreenDpiY() + 4) * 3 / 96 == 4; }

bool BlendColorThroughMask(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                           int maskX, int maskY, const CBitmapBuffer& mask, int alpha) {
  if (target.GetBitsPerPixel() != 16 || !target.GetBits() || !mask.GetBits()) return false;
  const int depth = mask.GetBitsPerPixel();
  if (depth != 1 && depth != 8) return false;
  if (alpha <= 0) return true;
  if (alpha > 255) alpha = 255;
  // Negative destination offsets move the mask start.
  if (x < 0) {
    maskX -= x;
    width += x;
    x = 0;
  }
  if (y < 0) {
    maskY -= y;
    height += y;
    y = 0;
  }
  if (maskX < 0) {
    x -= maskX;
    width += maskX;
    maskX = 0;
  }
  if (maskY < 0) {
    y -= maskY;
    height += maskY;
    maskY = 0;
  }
  width = std::min({width, target.GetWidth() - x, mask.GetWidth() - maskX});
  height = std::min({height, target.GetHeight() - y, mask.GetHeight() - maskY});
  if (width <= 0 || height <= 0) return true;
  const std::uint16_t pixel = ColorToRgb565(colour);
  for (int row = 0; row < height; ++row) {
    auto* d = reinterpret_cast<std::uint16_t*>(target.Row(y + row)) + x;
    const std::uint8_t* m = mask.Row(maskY + row);
    for (int col = 0; col < width; ++col) {
      const int mx = maskX + col;
      int weight;
      if (depth == 1) {
        if (!((m[mx >> 3] >> (7 - (mx & 7))) & 1)) continue;
        weight = alpha;
      } else {
        const int v = m[mx];
        if (v == 0) continue;
        weight = alpha == 255 ? v : v * alpha / 256;
        if (weight == 0) continue;
      }
      if (weight == 255) {
        d[col] = pixel;
      } else {
        BlendPixel565(d[col], pixel, weight);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Input panel

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

// ---------------------------------------------------------------------------
// Module, menu bar

namespace {

struct UiKit {
  plat::HINSTANCE module = nullptr;
  plat::UINT menuId = kDefaultMenuBarId;
  int left = kDefaultLeftSoftKey;
  int right = kDefaultRightSoftKey;
};

UiKit& Kit() {
  static UiKit kit;
  return kit;
}

}  // namespace

bool InitUiKit(plat::HINSTANCE module) {
  Kit().module = module;
  plat::SHInitExtraControls();
  Kit().menuId = kDefaultMenuBarId;
  Kit().left = kDefaultLeftSoftKey;
  Kit().right = kDefaultRightSoftKey;
  return true;
}

plat::HINSTANCE GetUiKitModule() { return Kit().module; }
plat::UINT GetDefaultMenuBarId() { return Kit().menuId; }
int GetDefaultLeftSoftKey() { return Kit().left; }
int GetDefaultRightSoftKey() { return Kit().right; }

plat::HWND CreateMenuBar(plat::HWND owner, plat::DWORD flags, plat::UINT menuId, int bitmapId, int bitmapCount,
                         plat::COLORREF background) {
  plat::SHMENUBARINFO info{sizeof(plat::SHMENUBARINFO), owner, flags, menuId, Kit().module, bitmapId, bitmapCount,
                           nullptr, background};
  return plat::SHCreateMenuBar(&info) ? info.hwndMB : nullptr;
}

int GetToolbarButtonCommand(plat::HWND bar, int index) {
  if (!bar) return -1;
  plat::TBBUTTON button{};
  if (!plat::SendMessageW(bar, plat::TB_GETBUTTON, static_cast<plat::WPARAM>(index),
                          reinterpret_cast<plat::LPARAM>(&button)))
    return -1;
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = plat::TBIF_COMMAND;
  if (plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, static_cast<plat::WPARAM>(button.idCommand),
                         reinterpret_cast<plat::LPARAM>(&info)) < 0)
    return -1;
  return info.idCommand;
}

// ---------------------------------------------------------------------------
// Image lists

bool LoadImageList(plat::HIMAGELIST& list, plat::UINT bitmapId, int imageWidth, int growth, plat::COLORREF mask) {
  list = plat::ImageList_LoadImage(Kit().module, plat::MAKEINTRESOURCEW(bitmapId), imageWidth, growth, mask, 0, 0);
  return list != nullptr;
}

bool LoadSmallIconImageList(plat::HIMAGELIST& list) {
  const int small = plat::GetSystemMetrics(plat::SM_CXSMICON);
  plat::UINT id = 166;
  int width = 16;
  if (small >= 32) {
    id = 167;
    width = 32;
  } else if (small >= 22) {
    id = 179;
    width = 22;
  } else if (small == 21) {
    id = 181;
    width = 21;
  }
  return LoadImageList(list, id, width, 0, plat::CLR_NONE);
}

void DestroyImageLists(std::vector<plat::HIMAGELIST>& lists) {
  for (plat::HIMAGELIST list : lists)
    if (list) plat::ImageList_Destroy(list);
  lists.clear();
  lists.shrink_to_fit();
}

// ---------------------------------------------------------------------------
// Fonts

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

// ---------------------------------------------------------------------------
// Drawing

int GetDialogHeaderHeight() { return ScaleY(23); }

void DrawSeparatorLine(plat::HDC dc, int y, int width) {
  plat::RECT r{0, y, width, y + ScaleY(1)};
  plat::FillRect(dc, &r, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::BLACK_BRUSH)));
}

void DrawDialogTitle(plat::HDC dc, const std::u16string& title, int headerHeight, int y, plat::HFONT font,
                     plat::COLORREF colour) {
  if (y + headerHeight <= 0 || headerHeight <= 0) return;
  const int width = GetScreenWidthPixels();
  plat::HDC strip = plat::CreateCompatibleDC(dc);
  plat::HBITMAP bitmap = strip ? plat::CreateCompatibleBitmap(dc, width, headerHeight) : nullptr;
  if (!bitmap) {
    if (strip) plat::DeleteDC(strip);
    return;
  }
  plat::HGDIOBJ oldBitmap = plat::SelectObject(strip, bitmap);
  plat::RECT all{0, 0, width, headerHeight};
  plat::FillRect(strip, &all, plat::GetSysColorBrush(plat::COLOR_WINDOW));
  const int line = ScaleY(1);
  plat::HGDIOBJ oldFont = plat::SelectObject(strip, font ? font : GetDialogFontCache().GetFont(true));
  plat::SetBkMode(strip, plat::TRANSPARENT);
  plat::SetTextColor(strip, colour != plat::CLR_INVALID ? colour : plat::GetSysColor(plat::COLOR_HIGHLIGHT));
  plat::RECT text{(GetScreenDpiX() + 6) * 8 / 96, 0, width, headerHeight - line};
  plat::DrawTextW(strip, title.c_str(), static_cast<int>(title.size()), &text,
                  plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX | plat::DT_LEFT);
  plat::SelectObject(strip, oldFont);
  DrawSeparatorLine(strip, headerHeight - line, width);
  plat::BitBlt(dc, 0, y, width, headerHeight, strip, 0, 0, plat::SRCCOPY);
  plat::SelectObject(strip, oldBitmap);
  plat::DeleteObject(bitmap);
  plat::DeleteDC(strip);
}

void InvalidateHeaderOnScroll(plat::HWND dialog, int oldPos, int newPos) {
  if (oldPos == newPos) return;
  const int visible = GetDialogHeaderHeight() - std::min(newPos, oldPos);
  if (visible < 0) return;
  plat::RECT r{0, 0, GetScreenWidthPixels(), visible + ScaleY(1)};
  plat::InvalidateRect(dialog, &r, 1);
}

void MoveChildrenBy(plat::HWND window, int dy) {
  for (plat::HWND child = plat::GetWindow(window, plat::GW_CHILD); child;
       child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
    plat::RECT r{};
    plat::GetWindowRect(child, &r);
    plat::POINT p{r.left, r.top};
    plat::ScreenToClient(window, &p);
    plat::MoveWindow(child, p.x, p.y + dy, r.right - r.left, r.bottom - r.top, 1);
  }
}

// ---------------------------------------------------------------------------
// Windows

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
