#include "layout/DialogTitle.h"

#include <algorithm>

#include "layout/DialogFontCache.h"
#include "layout/ScreenScale.h"
#include "platform/controls/StandardControls.h"

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
