// The two dialog fonts of the process and the per-class font and height
// rules that make a dialog template's controls fit the handheld's screen.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class CDialogFontCache {
 public:
  CDialogFontCache() = default;
  ~CDialogFontCache();
  CDialogFontCache(const CDialogFontCache&) = delete;
  CDialogFontCache& operator=(const CDialogFontCache&) = delete;

  // "Tahoma", made on first request: on a Smartphone -17 px high above 96 dpi
  // and -13 px at it, elsewhere MulDivRound(13, or 14 with large fonts, dpiY,
  // 96); weight 400, bold 700 (400 with large fonts).
  plat::HFONT GetFont(bool bold);
  // Gives each child its font by class and applies the height rules: push
  // buttons bold, other buttons normal and moved up a pixel from an odd
  // screen row, statics bold unless WS_GROUP, tab controls normal (the old
  // font deleted), combo boxes normal with a 15..19 px selection field,
  // edits normal and at most 20 px, up-downs at most 20 px, others normal.
  void ApplyToDialog(plat::HWND dialog);

  // Forgets the fonts (tests that change the device or the platform).
  void Reset();

 private:
  plat::HFONT normal_ = nullptr;
  plat::HFONT bold_ = nullptr;
  unsigned generation_ = 0;  // device generation + 1 of the fonts
};

CDialogFontCache& GetDialogFontCache();

// Forgets the cached screen DPI and the dialog fonts made for it, so the
// next use reads the screen afresh (tests that change the screen).
void ResetUiToolkitForTesting();
