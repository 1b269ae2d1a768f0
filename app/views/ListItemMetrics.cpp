#include "app/views/ListItemMetrics.h"

#include <mutex>

#include "core/FontStorage.h"
#include "core/IconCache.h"
#include "core/PropertyValue.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "database/ThumbnailsManager.h"
#include "layout/ContentInterfaces.h"
#include "layout/ScreenScale.h"
#include "platform/base/Format.h"
#include "platform/base/Module.h"
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
  return m;
}

int StateIndex(std::int32_t state) {
  if (state & kRowDisabled) return 2;
  return (state & ~kRowFailed) == kRowSelected ? 1 : 0;
}

plat::HFONT WeightedCopy(plat::HFONT font, int weight) {
  plat::LOGFONTW lf{};
  if (!font || plat::GetObjectW(font, sizeof(lf), &lf) == 0) return nullptr;
  lf.lfWeight = weight;
  return plat::CreateFontIndirectW(&lf);
}

}  // namespace

ListItemMetrics& GetListItemMetrics() {
  static ListItemMetrics metrics = [] {
    // The rows' stock icons are the program's own resources.
    CResourceIconsManager::GetInstance().SetModule(plat::GetModuleHandleW(nullptr));
    return MakeMetrics();
  }();
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

ListItemStyle::ListItemStyle() { Reset(); }

ListItemStyle::~ListItemStyle() { DropOwnFonts(); }

void ListItemStyle::DropOwnFonts() {
  for (plat::HFONT& font : ownFonts_) {
    if (font) plat::DeleteObject(font);
    font = nullptr;
  }
}

void ListItemStyle::Reset() {
  DropOwnFonts();
  const ListItemMetrics& m = GetListItemMetrics();
  const int s = m.scale;
  // A thumbnail with a pixel of air above and below it, text beside it.
  rowHeight = m.thumbnailWidth + 3 * s;
  const int top = (rowHeight - m.thumbnailWidth) / 2;
  pictureBox = plat::RECT{2 * s, top, 2 * s + m.thumbnailWidth, top + m.thumbnailWidth};
  margins = plat::RECT{pictureBox.right + 5 * s, 2 * s, 4 * s, 2 * s};
  unreadWidth = 36 * s;
  textColours[0] = 0x000000;
  textColours[1] = 0x000000;
  textColours[2] = plat::GetSysColor(plat::COLOR_GRAYTEXT);
  selectedFill = plat::GetSysColor(plat::COLOR_HIGHLIGHT);
  selectedAlpha = 72;
  failedColour = 0x0000C0;
  failedSelectedColour = 0x0000C0;
}

void ListItemStyle::Load(IPropertySource* item) {
  if (!item) return;
  CPropertyPair pair;
  if (item->GetPair(u"ItemHeight", &pair) == plat::S_OK && pair.second > 0) rowHeight = pair.second;
  CPropertyRect box;
  if (item->GetRect(u"Icon", &box) == plat::S_OK) pictureBox = plat::RECT{box.left, box.top, box.right, box.bottom};
  if (item->GetPair(u"TextLeft", &pair) == plat::S_OK) margins.left = pair.first;
  if (item->GetPair(u"TextRight", &pair) == plat::S_OK) margins.right = pair.first;
  if (item->GetPair(u"CounterWidth", &pair) == plat::S_OK && pair.first > 0) unreadWidth = pair.first;
  if (auto* layoutItem = dynamic_cast<ILayoutItem*>(item)) {
    std::int32_t colour = 0;
    if (layoutItem->GetInt11(&colour) == plat::S_OK) {
      textColours[0] = static_cast<plat::COLORREF>(colour);
      textColours[1] = static_cast<plat::COLORREF>(colour);
      // A light text on the layout's dark background: the selection lightens.
      selectedFill = 0xFFFFFF;
      // A failed title: a light red on the dark rows; the lightened fill of
      // a selected row is mid grey, where only a deep red stands out.
      failedColour = 0x9696FF;
      failedSelectedColour = 0x0000D8;
    }
    plat::HFONT font = nullptr;
    if (layoutItem->GetFont1(&font) == plat::S_OK && font) {
      plat::HFONT normal = WeightedCopy(font, 400);
      plat::HFONT bold = WeightedCopy(font, 700);
      if (normal && bold) {
        DropOwnFonts();
        ownFonts_[0] = normal;
        ownFonts_[1] = bold;
      } else {
        if (normal) plat::DeleteObject(normal);
        if (bold) plat::DeleteObject(bold);
      }
    }
  }
}

plat::HFONT ListItemStyle::Font(int index) const {
  index = index == 1 ? 1 : 0;
  return ownFonts_[index] ? ownFonts_[index] : GetItemFont(GetListItemMetrics(), index);
}

plat::COLORREF GetItemTextColour(const ListItemStyle& style, std::int32_t state) {
  if ((state & kRowFailed) && !(state & kRowDisabled))
    return StateIndex(state) == 1 ? style.failedSelectedColour : style.failedColour;
  return style.textColours[StateIndex(state)];
}

void DrawItemBackground(CBitmapBuffer& target, const plat::RECT& rect, std::int32_t state, const ListItemStyle& style) {
  if (StateIndex(state) != 1) return;
  target.FillRectAlpha(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, style.selectedFill,
                       style.selectedAlpha);
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
                  std::int32_t unread, const ListItemStyle& style) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  plat::HDC dc = target.GetDC();
  if (!dc) return;
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, style.Font(unread != 0 ? 1 : 0));
  const plat::COLORREF oldColour = plat::SetTextColor(dc, GetItemTextColour(style, state));
  const int oldMode = plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::RECT area{rect.left + style.margins.left, rect.top + style.margins.top,
                  rect.right - style.margins.right, rect.bottom - style.margins.bottom};
  if (unread != 0) {
    const std::u16string count = plat::FormatString(u"[%d]", static_cast<int>(unread));
    plat::RECT countRect{area.right - style.unreadWidth, area.top, area.right, area.bottom};
    plat::DrawTextW(dc, count.c_str(), static_cast<int>(count.size()), &countRect,
                    plat::DT_RIGHT | plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX);
    area.right -= style.unreadWidth;
  }
  if (area.right > area.left) {
    plat::DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area,
                    plat::DT_LEFT | plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX | plat::DT_END_ELLIPSIS);
  }
  plat::SetBkMode(dc, oldMode);
  plat::SetTextColor(dc, oldColour);
  plat::SelectObject(dc, oldFont);
}
