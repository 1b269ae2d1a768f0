// What the channel and article lists share to draw their rows: the sizes of
// icons and thumbnails at the screen's scale, the two default row fonts, the
// separator pen, the item style a layout gives a list (row height, picture
// box, text margins, fonts and colours), and the helpers that draw a row's
// picture and text into the list's 16-bit bitmap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "platform/gdi/Gdi.h"

class IPropertySource;

// Row states: those the list passes (normal, selected) and the disabled bit.
enum ListRowState : std::int32_t {
  kRowNormal = 0,
  kRowSelected = 2,
  kRowDisabled = 0x100,
  // The row's channel failed its last update (drawn in the failure colour).
  kRowFailed = 0x200,
};

struct ListItemMetrics {
  int scale = 1;            // whole-number screen scale (DPI + 48) / 96
  int iconSize = 16;        // 16 x scale
  int thumbnailWidth = 37;  // 37 x scale
  // The icon size, the thumbnail size, and both.
  std::vector<int> iconSizes;
  std::vector<int> thumbnailSizes;
  std::vector<int> allSizes;
  // Index 0 the normal caption font, 1 the bold one; asked once (GetItemFont).
  plat::HFONT fonts[2] = {nullptr, nullptr};
  // Made on first use (LazyCreateSeparatorPen).
  plat::HPEN separatorPen = nullptr;
};

// The process-wide metrics, made on first use at the screen's DPI.
ListItemMetrics& GetListItemMetrics();
// Font 0 (normal) or 1 (bold), created once.
plat::HFONT GetItemFont(ListItemMetrics& metrics, int index);
// Solid, (vertical DPI + 48) / 96 wide, COLOR_GRAYTEXT.
plat::HPEN LazyCreateSeparatorPen(ListItemMetrics& metrics);

// How a list draws its rows. Defaults from the metrics; a layout's list
// overrides them with its "ItemHeight", "Icon", "TextLeft", "TextRight",
// "CounterWidth" and its font and colour.
class ListItemStyle {
 public:
  ListItemStyle();
  ~ListItemStyle();
  ListItemStyle(const ListItemStyle&) = delete;
  ListItemStyle& operator=(const ListItemStyle&) = delete;

  // Back to the defaults of the metrics.
  void Reset();
  // The values a layout's list item gives; missing ones keep their value.
  void Load(IPropertySource* item);

  int rowHeight = 0;
  plat::RECT pictureBox{};  // relative to the row's top-left corner
  plat::RECT margins{};     // text margins inside a row (left, top, right, bottom)
  int unreadWidth = 0;      // kept at the right of a channel row for "[%d]"
  // Text colour by row state (normal, selected, disabled).
  plat::COLORREF textColours[3] = {0x000000, 0x000000, 0x808080};
  // Text colour of a row whose channel failed its last update: a red that
  // reads on the list's background, and one that reads on a selected row.
  plat::COLORREF failedColour = 0x0000C0;
  plat::COLORREF failedSelectedColour = 0x0000C0;
  // Fill of a selected row and its alpha.
  plat::COLORREF selectedFill = 0xFFFFFF;
  std::uint8_t selectedAlpha = 72;
  // 0 normal, 1 bold; the metrics' fonts unless the layout gave one.
  plat::HFONT Font(int index) const;

 private:
  void DropOwnFonts();
  plat::HFONT ownFonts_[2] = {nullptr, nullptr};
};

plat::COLORREF GetItemTextColour(const ListItemStyle& style, std::int32_t state);
// Fills a selected row's background; nothing for other states.
void DrawItemBackground(CBitmapBuffer& target, const plat::RECT& rect, std::int32_t state, const ListItemStyle& style);

// The picture of a row: the thumbnail of an image, looked up in the
// thumbnails manager when drawn, or, without one, an icon.
struct ListItemPicture {
  std::u16string imagePath;  // the image whose thumbnail is shown, empty when none
  int thumbnailSize = 0;
  bool noThumbnail = true;
  plat::HICON icon = nullptr;  // the default picture (not owned)
};

// Stock icons of the rows.
constexpr int kIconArticle = 156;
constexpr int kIconArticleComplete = 157;
constexpr int kIconChannel = 158;
constexpr int kIconChannelRss = 159;

// A channel's icon: its icon file through the file icons cache when there is
// one, else stock icon 159 for "@RSS" channels (any case) and 158 for others.
plat::HICON GetChannelItemIcon(const std::u16string& iconFile, const std::u16string& channelType, int size);
// Draws the row's picture into the box: the thumbnail, else the icon centred
// at its own size; dimmed greys it.
void DrawListItemImage(CBitmapBuffer& target, const plat::RECT& box, const ListItemPicture& picture, bool dimmed);
// The text of a channel row: "[%d]" at the right when unread is non-zero,
// the title in the rest with an ellipsis; bold while unread. Nothing for an
// empty rectangle.
void DrawItemText(CBitmapBuffer& target, const plat::RECT& rect, std::int32_t state, const std::u16string& title,
                  std::int32_t unread, const ListItemStyle& style);
