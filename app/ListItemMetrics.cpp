#include "app/ListItemMetrics.h"

#include <mutex>

#include "core/FontStorage.h"
#include "core/IconCache.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "database/ThumbnailsManager.h"
#include "layout/UIToolkit.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"

namespace {

ListItemMetrics MakeMetrics() {
  ListItemMetrics m;
  m.scale = (GetScreenDpiY() + 48) / 96;
  if (m.scale < 1) m.scale = 1;
  m.iconSize = 16 * m.scale;
  m.thumbnailWidth = 37 * m.scale;
  m.iconSizes = {m.iconSize};
  m.thumbnailSizes = {m.thumbnailWidth};
  m.allSizes = {m.iconSize, m.thumbnailWidth};
  m.textColours[0] = 0x000000;
  m.textColours[1] = 0xFFFFFF;
  m.textColours[2] = plat::GetSysColor(plat::COLOR_GRAYTEXT);
  m.selectedFill = plat::GetSysColor(plat::COLOR_HIGHLIGHT);
  // A row holds a thumbnail with a pixel of air above and below it, or two
  // lines of text beside it.
  const int s = m.scale;
  m.rowHeight = m.thumbnailWidth + 3 * s;
  m.pictureBox = plat::RECT{2 * s, (m.rowHeight - m.thumbnailWidth) / 2, 2 * s + m.thumbnailWidth,
                            (m.rowHeight - m.thumbnailWidth) / 2 + m.thumbnailWidth};
  m.margins = plat::RECT{m.pictureBox.right + 5 * s, 2 * s, 4 * s, 2 * s};
  m.unreadWidth = 36 * s;
  return m;
}

int StateIndex(std::int32_t state) {
  if (state & kRowDisabled) return 2;
  return state == kRowSelected ? 1 : 0;
}

}  // namespace

ListItemMetrics& GetListItemMetrics() {
  static ListItemMetrics metrics = MakeMetrics();
  return metrics;
}

plat::HFONT GetItemFont(ListItemMetrics& metrics, int index) {
  if (index < 0 || index > 1) index = 0;
  if (!metrics.fonts[index]) {
    CSystemFontsStorage& fonts = GetSystemFontsStorage();
    metrics.fonts[index] = index == 1 ? fonts.GetBoldFont() : fonts.GetFont();
  }
  return metrics.fonts[index];
}

plat::HPEN LazyCreateSeparatorPen(ListItemMetrics& metrics) {
  if (!metrics.separatorPen) {
    metrics.separatorPen =
        plat::CreatePen(plat::PS_SOLID, (GetScreenDpiY() + 48) / 96, plat::GetSysColor(plat::COLOR_GRAYTEXT));
  }
  return metrics.separatorPen;
}

plat::COLORREF GetItemTextColour(const ListItemMetrics& metrics, std::int32_t state) {
  return metrics.textColours[StateIndex(state)];
}

void DrawItemBackground(CBitmapBuffer& target, const plat::RECT& rect, std::int32_t state,
                        const ListItemMetrics& metrics) {
  if (StateIndex(state) != 1) return;
  target.FillRectAlpha(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, metrics.selectedFill, 255);
}

plat::HICON GetChannelItemIcon(const std::u16string& iconFile, const std::u16string& channelType, int size) {
  if (!iconFile.empty()) {
    int got = size;
    if (plat::HICON icon = GetFileIconsManager().GetIcon(iconFile, &got)) return icon;
  }
  const int id = plat::EqualsNoCase(channelType, kChannelTypeRss) ? kIconChannelRss : kIconChannel;
  ListItemMetrics& m = GetListItemMetrics();
  return CResourceIconsManager::GetInstance().GetIcon(id, CResourceIconsManager::GetIconForSize(id, size, m.allSizes));
}

void DrawListItemImage(CBitmapBuffer& target, const plat::RECT& box, const ListItemPicture& picture, bool dimmed) {
  if (box.right <= box.left || box.bottom <= box.top) return;
  if (!picture.noThumbnail && !picture.imagePath.empty() && picture.thumbnailSize > 0) {
    CThumbnailsManager* thumbnails = CThumbnailsManager::GetInstance();
    // The pool stays while the manager's lock is held.
    CSyncLock lock(thumbnails, u"DrawListItemImage");
    CThumbnailsPool* pool = nullptr;
    int slot = -1;
    if (thumbnails->GetThumbnail(picture.imagePath, picture.thumbnailSize, &pool) && pool &&
        pool->Lookup(picture.imagePath, &slot) && pool->DrawThumbnail(target, box, slot, dimmed)) {
      return;
    }
  }
  if (!picture.icon) return;
  // Icons keep their own size, centred in the box.
  const int size = GetListItemMetrics().iconSize;
  const int w = box.right - box.left;
  const int h = box.bottom - box.top;
  const int side = size < w && size < h ? size : (w < h ? w : h);
  plat::RECT r{box.left + (w - side) / 2, box.top + (h - side) / 2, 0, 0};
  r.right = r.left + side;
  r.bottom = r.top + side;
  target.DrawIcon(picture.icon, r);
  target.ShadeRect(r, dimmed);
}

void DrawItemText(CBitmapBuffer& target, const plat::RECT& rect, std::int32_t state, const std::u16string& title,
                  std::int32_t unread, ListItemMetrics& metrics) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  plat::HDC dc = target.GetDC();
  if (!dc) return;
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, GetItemFont(metrics, unread != 0 ? 1 : 0));
  const plat::COLORREF oldColour = plat::SetTextColor(dc, GetItemTextColour(metrics, state));
  const int oldMode = plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::RECT area{rect.left + metrics.margins.left, rect.top + metrics.margins.top,
                  rect.right - metrics.margins.right, rect.bottom - metrics.margins.bottom};
  if (unread != 0) {
    const std::u16string count = plat::FormatString(u"[%d]", static_cast<int>(unread));
    plat::RECT countRect{area.right - metrics.unreadWidth, area.top, area.right, area.bottom};
    plat::DrawTextW(dc, count.c_str(), static_cast<int>(count.size()), &countRect,
                    plat::DT_RIGHT | plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX);
    area.right -= metrics.unreadWidth;
  }
  if (area.right > area.left) {
    plat::DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area,
                    plat::DT_LEFT | plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX | plat::DT_END_ELLIPSIS);
  }
  plat::SetBkMode(dc, oldMode);
  plat::SetTextColor(dc, oldColour);
  plat::SelectObject(dc, oldFont);
}
