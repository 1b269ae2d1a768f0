// A DIB-section copy of any bitmap, with its header and colour table, as the
// bitmap writer of the thumbnail pools needs them.
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"

class CDIBSectionLite {
 public:
  CDIBSectionLite();
  virtual ~CDIBSectionLite();
  CDIBSectionLite(const CDIBSectionLite&) = delete;
  CDIBSectionLite& operator=(const CDIBSectionLite&) = delete;

  // Makes the section a bottom-up copy of the source at the source's depth;
  // false (and an empty object) for a null or unreadable handle or when a
  // section or DC cannot be made.
  bool SetBitmap(plat::HBITMAP source);
  // Deletes the section and empties the object.
  void CleanUp();

  // A memory DC holding the section, made on first use.
  plat::HDC GetDC();

  plat::HBITMAP GetBitmap() const { return bitmap_; }
  void* GetBits() const { return bits_; }
  const plat::BITMAPINFOHEADER& GetHeader() const { return info_.header; }
  const plat::RGBQUAD* GetColorTable() const { return info_.colors; }
  int GetColorTableEntries() const { return colorEntries_; }
  plat::UINT GetColorUsage() const { return colorUsage_; }
  // Header and colour table as one BITMAPINFO.
  const plat::BITMAPINFO* GetInfo() const { return reinterpret_cast<const plat::BITMAPINFO*>(&info_); }

  // The platform's standard 256-entry halftone palette.
  static const plat::RGBQUAD* DefaultPalette();

 private:
  struct Info {
    plat::BITMAPINFOHEADER header;
    plat::RGBQUAD colors[256];
  };

  plat::HBITMAP bitmap_ = nullptr;
  Info info_{};
  void* bits_ = nullptr;
  plat::UINT colorUsage_ = plat::DIB_RGB_COLORS;
  int colorEntries_ = 0;
  plat::HDC dc_ = nullptr;
  plat::HGDIOBJ previous_ = nullptr;
};
