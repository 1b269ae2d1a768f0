// The fonts of the program's windows: the user-interface font that follows
// the shell's font size (with its bold variant and line height), and the
// store of the user's font settings with the views that listen for changes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/WithListeners.h"
#include "platform/base/Sync.h"
#include "platform/gdi/Gdi.h"

class CSystemFontsStorage {
 public:
  CSystemFontsStorage() = default;
  virtual ~CSystemFontsStorage();
  CSystemFontsStorage(const CSystemFontsStorage&) = delete;
  CSystemFontsStorage& operator=(const CSystemFontsStorage&) = delete;

  // The system font at the shell's UI font size (12 pixels when the shell
  // does not tell), made on the first call.
  plat::HFONT GetFont();
  // Its bold (700) variant, made on the first call.
  plat::HFONT GetBoldFont();
  // Text height of GetFont.
  std::int32_t GetLineHeight();

 private:
  plat::HFONT font_ = nullptr;
  plat::HFONT boldFont_ = nullptr;
  std::int32_t lineHeight_ = 0;
};

CSystemFontsStorage& GetSystemFontsStorage();

// The shell's user-interface font size in pixels, or 0 when the shell
// library or its metric is missing.
int QueryShellFontSizePixels();

class IUIFontsListener {
 public:
  virtual ~IUIFontsListener() = default;
  // The user's font settings changed.
  virtual void OnUIFontsChanged() = 0;
};

class CUIFontsStorage : public CWithListeners<IUIFontsListener> {
 public:
  struct IntSetting {
    const char16_t* name;
    std::int32_t defaultValue;
    std::int32_t value;
  };
  struct TextSetting {
    const char16_t* name;
    std::u16string defaultValue;
    std::u16string value;
  };

  CUIFontsStorage();
  ~CUIFontsStorage() override;

  const IntSetting& UseSystem() const { return useSystem_; }
  const TextSetting& CustomFontName() const { return customFontName_; }
  const IntSetting& CustomFontSize() const { return customFontSize_; }

  // Keeps a font under a key; the storage deletes it (and any font it
  // replaces) when destroyed.
  void CacheFont(const std::u16string& key, plat::HFONT font, bool bold);
  plat::HFONT CachedFont(const std::u16string& key, bool bold) const;
  // Tells every listener that the fonts changed.
  void NotifyFontsChanged();

 private:
  IntSetting useSystem_{u"Font.UseSystem", 1, 2};
  TextSetting customFontName_{u"Font.CustomFontName", u"", u""};
  IntSetting customFontSize_{u"Font.CustomFontSize", 26, -1};
  std::unordered_map<std::u16string, plat::HFONT> fonts_;
  std::unordered_map<std::u16string, plat::HFONT> boldFonts_;
};

CUIFontsStorage& GetUIFontsStorage();
