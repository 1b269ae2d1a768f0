#include "layout/DialogAutoFit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/FontStorage.h"
#include "layout/DialogTitle.h"
#include "layout/Fonts.h"
#include "layout/ScreenScale.h"
#include "platform/base/Text.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/SystemMetrics.h"

namespace {

constexpr plat::UINT kReposition = plat::WM_USER + 2;  // DM_REPOSITION

std::u16string ClassOf(plat::HWND window) {
  char16_t name[64] = {};
  plat::GetClassNameW(window, name, 64);
  return name;
}

int DefaultFontHeight() { return (GetScreenDpiY() + 3) * 16 / 96; }

int FontHeight(plat::HWND control) {
  const int h = GetWindowFontHeight(control);
  return h > 0 ? h : DefaultFontHeight();
}

// The control's text (or a sample when empty) word-wrapped in the width, in
// its font, + 2 px at 96 dpi.
int MeasuredTextHeight(plat::HWND control, int width) {
  auto font = control ? reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(control, plat::WM_GETFONT, 0, 0)) : nullptr;
  if (!font) return GetSystemFontsStorage().GetLineHeight() + ScaleY(3);
  std::vector<char16_t> text(static_cast<std::size_t>(plat::GetWindowTextLengthW(control)) + 1);
  plat::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  std::u16string s = text.data();
  if (s.empty()) s = u"19AaGgFfLlMm";
  plat::HDC dc = plat::GetDC(control);
  if (!dc) return GetSystemFontsStorage().GetLineHeight() + ScaleY(3);
  plat::HGDIOBJ old = plat::SelectObject(dc, font);
  plat::RECT r{0, 0, std::max(1, width - plat::GetSystemMetrics(plat::SM_CXVSCROLL)), 0};
  plat::DrawTextW(dc, s.c_str(), static_cast<int>(s.size()), &r, plat::DT_CALCRECT | plat::DT_WORDBREAK);
  plat::SelectObject(dc, old);
  plat::ReleaseDC(control, dc);
  return (r.bottom - r.top) + ScaleY(2);
}

// The dialog base unit's height in pixels.
int BaseUnitHeight(plat::HWND control) {
  plat::RECT r{0, 0, 4, 8};
  plat::HWND dialog = plat::GetParent(control);
  if (!dialog || !plat::MapDialogRect(dialog, &r)) return GetScreenDpiY() * 13 / 96;
  return r.bottom;
}

}  // namespace

void DialogAutoFit::AddRow(const Row& row) { rows_.push_back(row); }

void DialogAutoFit::AddRow(plat::HWND control, int anchor, plat::HWND buddy) {
  Row row;
  row.control = control;
  row.anchor = anchor;
  row.buddy = buddy;
  rows_.push_back(row);
}

int DialogAutoFit::GetGap() const { return gap_ ? (GetScreenDpiY() + 12) * 4 / 96 : 0; }

void DialogAutoFit::GetMargins(plat::RECT& margins) const {
  const int side = (GetScreenDpiX() + 12) * 4 / 96;
  margins = plat::RECT{side, (GetScreenDpiY() + 4) * 4 / 96, side, 0};
}

void DialogAutoFit::SetVisibleControls(const std::vector<plat::HWND>& controls) {
  for (Row& row : rows_) row.visible = std::find(controls.begin(), controls.end(), row.control) != controls.end();
}

bool DialogAutoFit::SetControlAnchor(plat::HWND control, int anchor) {
  for (Row& row : rows_) {
    if (row.control != control) continue;
    row.anchor = anchor;
    return true;
  }
  return false;
}

bool DialogAutoFit::SetControlSpacing(plat::HWND control, int leftIndent, int spaceAbove, int rightIndent,
                                      int spaceBelow) {
  for (Row& row : rows_) {
    if (row.control != control) continue;
    row.leftIndent = leftIndent;
    row.spaceAbove = spaceAbove;
    row.rightIndent = rightIndent;
    row.spaceBelow = spaceBelow;
    return true;
  }
  return false;
}

bool DialogAutoFit::SetRowProvider(plat::HWND control, IRowHeightProvider* provider) {
  for (Row& row : rows_) {
    if (row.control != control) continue;
    row.provider = provider;
    return true;
  }
  return false;
}

bool DialogAutoFit::SetRowBuddy(plat::HWND control, plat::HWND buddy) {
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.control == control; });
  if (row == rows_.end()) return false;
  row->buddy = buddy;
  rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.control == buddy; }),
              rows_.end());
  return true;
}

int DialogAutoFit::ClassHeight(plat::HWND control, int width) {
  const std::u16string cls = ClassOf(control);
  const auto style = static_cast<plat::DWORD>(plat::GetWindowLongW(control, plat::GWL_STYLE));
  const int dpiY = GetScreenDpiY();
  if (plat::EqualsNoCase(cls, u"SIPPREF")) return 0;
  if (plat::EqualsNoCase(cls, u"BUTTON")) {
    if ((style & 3) == 3 || (style & 4) == 4 || (style & 9) == 9) {
      // The check mark takes the left of the row.
      const int text = MeasuredTextHeight(control, width - plat::GetSystemMetrics(plat::SM_CXMENUCHECK));
      return std::max(text, (dpiY + 3) * 16 / 96);
    }
    return BaseUnitHeight(control) * 7 / 4;
  }
  if (plat::EqualsNoCase(cls, u"STATIC")) {
    if ((style & 3) == 3) {
      plat::RECT r{};
      plat::GetWindowRect(control, &r);
      return r.bottom - r.top;
    }
    return MeasuredTextHeight(control, width);
  }
  if (plat::EqualsNoCase(cls, u"EDIT")) return FontHeight(control) + (dpiY + 8) * 6 / 96;
  if (plat::EqualsNoCase(cls, u"COMBOBOX")) return ScaleY(80);
  return FontHeight(control) + ScaleY(2);
}

int DialogAutoFit::RowHeight(const Row& row, int width) const {
  if (row.provider) {
    const int h = row.provider->GetHeight(row.control, width);
    if (h > 0) return h;
  }
  return ClassHeight(row.control, width - row.leftIndent);
}

int DialogAutoFit::Place(const Row& row, const plat::RECT& area, int y, int height) {
  const int gap = GetGap();
  const int x = area.left + gap + row.leftIndent;
  const int width = area.right - 2 * gap - area.left - row.rightIndent - row.leftIndent;
  if (row.provider && row.provider->PlaceRow(row.control, plat::RECT{x, y, x + width, y + height})) {
    plat::RECT r{};
    plat::GetWindowRect(row.control, &r);
    return r.bottom - r.top;
  }
  int controlWidth = width;
  if (row.buddy) {
    plat::RECT b{};
    plat::GetWindowRect(row.buddy, &b);
    const int buddyWidth = b.right - b.left;
    controlWidth = width - buddyWidth;
    plat::MoveWindow(row.buddy, x + controlWidth, y, buddyWidth, height, 1);
    // Bordered controls overlap the buddy so that the borders meet.
    if (plat::GetWindowLongW(row.control, plat::GWL_STYLE) & plat::WS_BORDER) controlWidth += ScaleX(1);
  }
  plat::MoveWindow(row.control, x, y, std::max(0, controlWidth), height, 1);
  plat::RECT r{};
  plat::GetWindowRect(row.control, &r);
  return r.bottom - r.top;
}

void DialogAutoFit::Layout() {
  if (!dialog_) return;
  const int gap = GetGap();
  plat::RECT area{};
  plat::GetClientRect(dialog_, &area);
  area.bottom -= gap;
  if (titleHeader_) area.top = GetDialogHeaderHeight();
  if (margins_) {
    plat::RECT m{};
    GetMargins(m);
    area.left += m.left;
    area.top += m.top;
    area.right -= m.right;
  }
  const int rowWidth = area.right - 2 * gap - area.left;

  for (const Row& row : rows_) {
    const int show = row.visible ? plat::SW_SHOW : plat::SW_HIDE;
    plat::ShowWindow(row.control, show);
    if (row.buddy) plat::ShowWindow(row.buddy, show);
    if (row.visible) continue;
    plat::SetWindowPos(row.control, nullptr, -1000, -1000, 0, 0, plat::SWP_NOSIZE | plat::SWP_NOZORDER);
    if (row.buddy) plat::SetWindowPos(row.buddy, nullptr, -1000, -1000, 0, 0, plat::SWP_NOSIZE | plat::SWP_NOZORDER);
  }

  // Rows that do not fit make the area taller: the page scrolls. The bottom
  // rows count too, so that they never cover the rows above them.
  int needed = 0;
  bool bottomRows = false;
  for (const Row& row : rows_) {
    if (!row.visible) continue;
    needed += RowHeight(row, rowWidth - row.rightIndent) + row.spaceAbove + row.spaceBelow + gap;
    bottomRows |= row.anchor == kBottom;
  }
  if (bottomRows) needed += gap;  // the bottom rows keep their gap below too
  if (needed > area.bottom - area.top) area.bottom = area.top + needed;

  for (const Row& row : rows_) {
    if (row.anchor != kBottom || !row.visible) continue;
    const int h = RowHeight(row, rowWidth - row.rightIndent);
    if (h == 0) continue;
    const int y = area.bottom - gap - row.spaceBelow - h;
    Place(row, area, y, h);
    area.bottom = y - row.spaceAbove - gap;
  }
  for (const Row& row : rows_) {
    if (row.anchor != kTop || !row.visible) continue;
    const int h = RowHeight(row, rowWidth - row.rightIndent);
    if (h == 0) continue;
    const int y = area.top + gap + row.spaceAbove;
    area.top = y + Place(row, area, y, h) + row.spaceBelow;
  }
  int spare = area.bottom - area.top;
  int fills = 0;
  for (const Row& row : rows_) {
    if (row.anchor != kFill || !row.visible) continue;
    spare -= RowHeight(row, rowWidth - row.rightIndent) + row.spaceAbove + row.spaceBelow + gap;
    ++fills;
  }
  spare = std::max(0, spare);
  for (const Row& row : rows_) {
    if (row.anchor != kFill || !row.visible) continue;
    const int share = spare / fills--;
    spare -= share;
    const int h = RowHeight(row, rowWidth - row.rightIndent) + share;
    const int y = area.top + gap + row.spaceAbove;
    area.top = y + Place(row, area, y, h) + row.spaceBelow;
  }
  plat::UpdateWindow(dialog_);
  plat::SendMessageW(dialog_, kReposition, 1, 1);
}
