// How the Today-screen item draws itself: its view style, the switches of its
// simple and list views and its font, read from the "Today" subkey of the
// product key, and the text line and list row heights derived from them.
// The options program writes the values; every process that draws follows
// them through Reload within about a second.
//
// Values (DWORD unless noted; a missing DWORD is written with its default):
//   "ViewStyle" 0                      "ViewList.Show.ArticleIcon" 1
//   "ViewSimple.Show.Thumbnail" 1      "ViewList.Show.ArticleTime" 1
//   "ViewSimple.Show.ArticleTime" 1    "ViewList.RowsCount" 10
//   "ViewSimple.Show.ChannelName" 1    "Font.UseSystem" 1
//   "ViewSimple.AutoScrollSpeed" 2     "Font.ClearType" 1
//   "ViewSimple.LinesCount" 2          "Font.Height" 12 (96-dpi pixels)
//   "Font.Name" REG_SZ "Tahoma"
// Stored values are never rewritten here. What is held is bounded so that
// the derived sizes stay usable: the line and row counts are at least 1 and
// the font height lies within kMinFontHeight..kMaxFontHeight.
#pragma once

#include <cstdint>
#include <string>

#include "core/Synchronized.h"
#include "platform/base/Types.h"

// The "Today" subkey of the product key (relative to HKEY_CURRENT_USER).
std::u16string GetTodayRegistryKey();

class CTodayViewOptions : public CSynchronized {
 public:
  static constexpr plat::DWORD kReloadIntervalMs = 1000;
  static constexpr std::uint32_t kMinFontHeight = 1;
  static constexpr std::uint32_t kMaxFontHeight = 144;
  // The shell's user-interface font size when the shell gives none.
  static constexpr int kDefaultSystemFontSize = 11;

  // The process's options, created on first use, destroyed at exit.
  static CTodayViewOptions* GetInstance();

  // Nothing is read yet: the fonts-changed flag is set, the cached system
  // text height unset, the font name empty. The first Reload reads.
  CTodayViewOptions();
  ~CTodayViewOptions() override;

  // Reads every value again, unless the last read was less than
  // kReloadIntervalMs ago (plat::GetTickCount). A read forgets the cached
  // system text height and sets the fonts-changed flag when any font value
  // differs from the one held.
  void Reload();

  // The text line height in screen pixels.
  int GetLineHeight();
  // The list view's row height in screen pixels.
  int GetRowHeight();

  // The values held since the last read (no reload).
  std::uint32_t GetViewStyle() const { return viewStyle_; }
  bool GetSimpleShowThumbnail() const { return simpleShowThumbnail_ != 0; }
  bool GetSimpleShowArticleTime() const { return simpleShowArticleTime_ != 0; }
  bool GetSimpleShowChannelName() const { return simpleShowChannelName_ != 0; }
  std::uint32_t GetSimpleAutoScrollSpeed() const { return simpleAutoScrollSpeed_; }
  std::uint32_t GetSimpleLinesCount() const { return simpleLinesCount_; }
  bool GetListShowArticleIcon() const { return listShowArticleIcon_ != 0; }
  bool GetListShowArticleTime() const { return listShowArticleTime_ != 0; }
  std::uint32_t GetListRowsCount() const { return listRowsCount_; }
  bool GetFontUseSystem() const { return fontUseSystem_ != 0; }
  bool GetFontClearType() const { return fontClearType_ != 0; }
  std::uint32_t GetFontHeight() const { return fontHeight_; }
  std::u16string GetFontName() const;

  // True when a font value changed since the flag was last cleared (and
  // before anything was read); the drawing code then makes its fonts again.
  bool GetFontsChanged() const { return fontsChanged_ != 0; }
  void ClearFontsChanged() { fontsChanged_ = 0; }
  // Stores the flag without reading (the views store false once they have
  // dropped their fonts).
  void SetFontsChanged(bool changed) { fontsChanged_ = changed ? 1 : 0; }

  // Reads again when due; the face the Today views make their fonts with:
  // "Tahoma" while "Font.UseSystem" is on, else "Font.Name".
  std::u16string GetFaceName();

  // Writes "ViewStyle", the simple-view and list-view values and the four
  // font values held now to the "Today" subkey; false when a write failed.
  bool Save();

 private:
  void Read();
  int GetSystemTextHeight();

  std::uint32_t viewStyle_ = 0;
  std::uint32_t simpleShowThumbnail_ = 1;
  std::uint32_t simpleShowArticleTime_ = 1;
  std::uint32_t simpleShowChannelName_ = 1;
  std::uint32_t simpleAutoScrollSpeed_ = 2;
  std::uint32_t simpleLinesCount_ = 2;
  std::uint32_t listShowArticleIcon_ = 1;
  std::uint32_t listShowArticleTime_ = 1;
  std::uint32_t listRowsCount_ = 10;
  int fontsChanged_ = 1;
  std::uint32_t fontUseSystem_ = 1;
  std::uint32_t fontClearType_ = 1;
  std::uint32_t fontHeight_ = 12;
  int systemTextHeight_ = -1;  // 96-dpi pixels; -1 while unset
  std::u16string fontName_;
  bool hasRead_ = false;
  plat::DWORD lastReadTick_ = 0;
};
