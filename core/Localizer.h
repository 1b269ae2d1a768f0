// The localizer: every text a user sees passes through it.
//
// The program is written with English texts; a language file
// "localization_<code>.txt" in the installation folder maps each English text
// (the key) to its translation. A key may carry a default display text after
// a BEL character (code 7), shown when the file has no translation for it.
//
// Language file: UTF-16 little-endian when it begins with FF FE, else UTF-8
// (a UTF-8 byte-order mark is skipped). Lines, separated by any run of CR and
// LF, hold key "|" translation; text after a second "|" is ignored, a line
// without "|" is ignored. In keys and translations "^" stands for BEL, "\n"
// for a line feed, "\r" for a carriage return and "\" before any other
// character for that character ("\|", "\\"). Entries whose key or translation
// is empty are skipped; of two equal keys the later line wins.
//
// The process's localizer is loaded on the main thread before any other thread
// starts and only read afterwards, without a lock.
#pragma once

#include <string>
#include <vector>

#include "core/StringPtrMap.h"
#include "platform/base/Module.h"
#include "platform/base/Types.h"
#include "platform/windows/Windows.h"

class COrvLocalizerAPI {
 public:
  // Translations are cut to this many characters by TranslateToString.
  static constexpr int kMaxStringChars = 1023;

  COrvLocalizerAPI();
  virtual ~COrvLocalizerAPI();
  COrvLocalizerAPI(const COrvLocalizerAPI&) = delete;
  COrvLocalizerAPI& operator=(const COrvLocalizerAPI&) = delete;

  // Replaces the whole content with the language file at the device path.
  // False, with nothing loaded, when the file cannot be read or decoded.
  bool LoadFile(const char16_t* path);
  void Unload();
  bool IsLoaded() const { return !text_.empty(); }
  plat::DWORD GetEntryCount() const { return index_.GetCount(); }

  // "" for a null or empty key; the translation when there is one; else the
  // text after the key's first BEL; else the key itself. The result points
  // into the localizer or into key.
  const char16_t* Translate(const char16_t* key) const;
  // At most size - 1 characters of Translate(key) and a zero; the length
  // copied (0 without a buffer or with a size below 1).
  int TranslateToBuffer(const char16_t* key, char16_t* buffer, int size) const;
  // Translate(key), cut at kMaxStringChars characters.
  std::u16string TranslateToString(const char16_t* key) const;
  std::u16string TranslateCString(const std::u16string& key) const;

  // The string resource id of the program; replaced by its translation when
  // the file has one (no BEL fallback). At most size - 1 characters and a
  // zero; the resulting length, 0 when the resource does not exist.
  int LoadString(plat::UINT id, char16_t* buffer, int size) const;

  // The translation of text when the file has a non-empty one, else null. No
  // BEL fallback: the window, menu and control operations use it.
  const char16_t* FindTranslation(const char16_t* text) const;

 protected:
  std::vector<char16_t> text_;  // the decoded file; keys and translations point into it
  CWideStringPtrMap index_;     // key to translation, case-sensitive
  plat::HMODULE module_;        // source of string resources: the program itself
};

// The process's localizer, with its operations on live windows, dialogs,
// combo boxes, menus and menu bars. Each looks the current text up and
// replaces it only when the file has a non-empty translation (no BEL
// fallback), so texts without one stay as they are.
class COrvLocalizerWTL : public COrvLocalizerAPI {
 public:
  // Window texts are read up to this many characters.
  static constexpr int kMaxWindowTextChars = 4096;
  // Menu item texts are read up to this many characters (with the null).
  static constexpr int kMaxMenuTextChars = 128;
  // Menu-bar button texts are read up to this many characters (with the null).
  static constexpr int kMaxButtonTextChars = 256;

  // The text of a live window.
  void LocalizeWindowText(plat::HWND window) const;
  // The dialog's own text and that of each direct child in z-order; a child
  // of the class "combobox" also gets LocalizeComboBox. Grandchildren are
  // not visited.
  void LocalizeDialog(plat::HWND dialog) const;
  // Each item by index; a translated item keeps its index, its item data and
  // whether it is selected. An item whose translation cannot be inserted
  // stays as it was.
  void LocalizeComboBox(plat::HWND comboBox) const;
  // Every string item from position 0 up (separators, bitmap and owner-drawn
  // items keep theirs), then the sub-menu an item opens, recursively; a
  // sub-menu reached twice is localized once.
  void LocalizeMenu(plat::HMENU menu) const;
  // The menu-bar window: the given window itself when isMenuBar is set, else
  // the bar the shell reports for it ("aygshell.dll" ordinal 188). On a
  // Smartphone the two soft keys (buttons 0 and 1, by index), elsewhere every
  // button from the last to the first (by command id): the button's text is
  // translated and the menu its data holds is localized.
  void LocalizeMenuBar(plat::HWND window, bool isMenuBar) const;

 private:
  void LocalizeMenu(plat::HMENU menu, std::vector<plat::HMENU>& done) const;
  void LocalizeMenuBarButton(plat::HWND bar, plat::WPARAM button, plat::DWORD byIndex) const;
};

// The one localizer of the process, created on the first call.
COrvLocalizerWTL& GetLocalizer();

// Through GetLocalizer: TranslateToString of key.
std::u16string Localize(const char16_t* key);
std::u16string LocalizeCString(const std::u16string& key);
// Localize(key); fallback when that is empty or the key itself.
std::u16string LocalizeWithFallback(const char16_t* key, const char16_t* fallback);
// LoadString of the id into a buffer of 2048 characters.
std::u16string LocalizeResourceString(plat::UINT id);
// The language file asks for the larger font set: "_LARGE_SMALL_FONTS" is "1".
bool UseLargeFonts();

// The setting "language" (default "en", written when missing).
std::u16string GetLanguageSetting();
// The code of the system's default language ("en" for any language without a file).
std::u16string GetSystemLanguageCode();
// The language file of a code: the installation folder joined with
// "localization_" + code + ".txt".
std::u16string GetLanguageFileName(const std::u16string& code);
// Loads the language file of the code into the process's localizer.
bool LoadLanguage(const std::u16string& code);
// The configured language, else the system's, else English. Whether one loaded.
bool InitLocalizer();
