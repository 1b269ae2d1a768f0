#include "core/Localizer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/FileUtils.h"
#include "core/FrameworkServices.h"
#include "core/VORegistry.h"
#include "platform/base/Locale.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/files/Files.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Menus.h"

namespace {

constexpr char16_t kBel = 7;
// The index starts with 2^10 slots: a language file holds some hundreds of entries.
constexpr std::uint32_t kIndexInitialExponent = 10;
// Language files are small; anything larger is not one.
constexpr plat::DWORD kMaxFileBytes = 64u * 1024u * 1024u;
constexpr int kResourceBufferChars = 2048;

// UTF-16 little-endian after FF FE, else UTF-8 (its byte-order mark skipped).
std::u16string DecodeLanguageFile(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text;
    text.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
  }
  std::string_view utf8(bytes);
  if (utf8.size() >= 3 && utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  return plat::Utf8ToUtf16(utf8);
}

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// Decodes the escapes of one field of text[begin, end) into text at out and
// terminates it with a zero; returns the decoded length. Decoding never
// makes a field longer, so it is written over the text it reads.
std::size_t DecodeField(char16_t* text, std::size_t begin, std::size_t end, std::size_t out) {
  std::size_t start = out;
  for (std::size_t i = begin; i < end; ++i) {
    char16_t c = text[i];
    if (c == u'^') {
      c = kBel;
    } else if (c == u'\\') {
      if (++i == end) break;  // a backslash ending the field stands for nothing
      c = text[i];
      if (c == u'n') c = u'\n';
      else if (c == u'r') c = u'\r';
    }
    text[out++] = c;
  }
  text[out] = 0;
  return out - start;
}

// The position of the first "|" in text[begin, end) that no backslash escapes.
std::size_t FindSeparator(const char16_t* text, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] == u'\\') {
      ++i;
    } else if (text[i] == u'|') {
      return i;
    }
  }
  return end;
}

// Copies at most size - 1 characters of text and a zero into buffer.
int CopyToBuffer(const char16_t* text, char16_t* buffer, int size) {
  if (!buffer || size < 1) return 0;
  std::size_t n = std::min<std::size_t>(plat::StrLen(text), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text, n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<int>(n);
}

}  // namespace

COrvLocalizerAPI::COrvLocalizerAPI() : index_(true), module_(plat::GetModuleHandleW(nullptr)) {
  index_.SetInitialExponent(kIndexInitialExponent);
}

COrvLocalizerAPI::~COrvLocalizerAPI() { Unload(); }

void COrvLocalizerAPI::Unload() {
  index_.Clear();
  index_.SetInitialExponent(kIndexInitialExponent);
  std::vector<char16_t>().swap(text_);
}

bool COrvLocalizerAPI::LoadFile(const char16_t* path) {
  Unload();
  if (!path || !*path) return false;
  std::string bytes;
  // An empty file is no language file: the next language is tried instead.
  if (!ReadWholeFile(path, bytes, kMaxFileBytes) || bytes.empty()) return false;
  std::u16string decoded = DecodeLanguageFile(bytes);

  // Every field is decoded in place and ends with a zero, so the buffer needs
  // one character more than the text for the last field.
  text_.assign(decoded.begin(), decoded.end());
  text_.push_back(0);
  char16_t* text = text_.data();
  const std::size_t length = decoded.size();

  std::size_t pos = 0;
  while (pos < length) {
    while (pos < length && IsLineBreak(text[pos])) ++pos;
    std::size_t lineEnd = pos;
    while (lineEnd < length && !IsLineBreak(text[lineEnd])) ++lineEnd;
    if (lineEnd == pos) break;

    std::size_t bar = FindSeparator(text, pos, lineEnd);
    if (bar < lineEnd) {
      std::size_t valueEnd = FindSeparator(text, bar + 1, lineEnd);
      // The key is written from the start of the line and the translation
      // right after the key's zero; both stay inside the line. The last zero
      // may land on the line break, which is why the scan goes on past
      // lineEnd below instead of looking at it again.
      std::size_t keyLen = DecodeField(text, pos, bar, pos);
      std::size_t valueStart = pos + keyLen + 1;
      std::size_t valueLen = DecodeField(text, bar + 1, valueEnd, valueStart);
      // A field that starts with a zero is empty as a string: such a pair is
      // left out like one with an empty side, so that it neither replaces an
      // earlier translation of its key nor adds an entry no lookup reaches.
      if (keyLen > 0 && valueLen > 0 && text[pos] != 0 && text[valueStart] != 0) {
        index_.SetAt(text + pos, text + valueStart);
      }
    }
    pos = lineEnd < length ? lineEnd + 1 : length;
  }
  return true;
}

const char16_t* COrvLocalizerAPI::FindTranslation(const char16_t* text) const {
  if (!text || !*text) return nullptr;
  const char16_t* translation = nullptr;
  if (index_.Lookup(text, translation) && translation && *translation) return translation;
  return nullptr;
}

const char16_t* COrvLocalizerAPI::Translate(const char16_t* key) const {
  if (!key || !*key) return u"";
  if (const char16_t* translation = FindTranslation(key)) return translation;
  for (const char16_t* p = key; *p; ++p) {
    if (*p == kBel) return p + 1;
  }
  return key;
}

int COrvLocalizerAPI::TranslateToBuffer(const char16_t* key, char16_t* buffer, int size) const {
  return CopyToBuffer(Translate(key), buffer, size);
}

std::u16string COrvLocalizerAPI::TranslateToString(const char16_t* key) const {
  std::u16string_view text = Translate(key);
  return std::u16string(text.substr(0, kMaxStringChars));
}

std::u16string COrvLocalizerAPI::TranslateCString(const std::u16string& key) const {
  return TranslateToString(key.c_str());
}

int COrvLocalizerAPI::LoadString(plat::UINT id, char16_t* buffer, int size) const {
  if (!buffer || size < 1) return 0;
  // The whole text is looked up, not what fits the caller's buffer, so a
  // short buffer gets the start of the translation.
  const char16_t* resource = nullptr;
  int n = plat::LoadStringW(module_, id, reinterpret_cast<char16_t*>(&resource), 0);
  if (n <= 0 || !resource) {
    buffer[0] = 0;
    return 0;
  }
  std::u16string text(resource, static_cast<std::size_t>(n));
  if (const char16_t* translation = FindTranslation(text.c_str())) {
    return CopyToBuffer(translation, buffer, size);
  }
  return CopyToBuffer(text.c_str(), buffer, size);
}

namespace {

// The shell library's query for the menu-bar window of a window.
constexpr std::uintptr_t kFindMenuBarOrdinal = 188;
using FindMenuBarProc = plat::HWND (*)(plat::HWND window);

plat::HWND FindMenuBarOf(plat::HWND window) {
  plat::HMODULE shell = plat::LoadLibraryW(u"aygshell.dll");
  if (!shell) return nullptr;
  auto find = reinterpret_cast<FindMenuBarProc>(
      plat::GetProcAddress(shell, reinterpret_cast<const char*>(kFindMenuBarOrdinal)));
  plat::HWND bar = find ? find(window) : nullptr;
  plat::FreeLibrary(shell);
  return bar;
}

bool IsStringItem(plat::UINT type) {
  return (type & (plat::MFT_SEPARATOR | plat::MFT_BITMAP | plat::MFT_OWNERDRAW)) == 0;
}

}  // namespace

void COrvLocalizerWTL::LocalizeWindowText(plat::HWND window) const {
  if (!window || !plat::IsWindow(window)) return;
  std::vector<char16_t> text(kMaxWindowTextChars, u'\0');
  if (plat::GetWindowTextW(window, text.data(), kMaxWindowTextChars) <= 0) return;
  if (const char16_t* translation = FindTranslation(text.data())) plat::SetWindowTextW(window, translation);
}

void COrvLocalizerWTL::LocalizeDialog(plat::HWND dialog) const {
  if (!dialog || !plat::IsWindow(dialog)) return;
  LocalizeWindowText(dialog);
  for (plat::HWND child = plat::GetWindow(dialog, plat::GW_CHILD); child;
       child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
    LocalizeWindowText(child);
    char16_t className[64] = {};
    plat::GetClassNameW(child, className, 64);
    if (plat::EqualsNoCase(className, plat::WC_COMBOBOXW)) LocalizeComboBox(child);
  }
}

void COrvLocalizerWTL::LocalizeComboBox(plat::HWND comboBox) const {
  if (!comboBox || !plat::IsWindow(comboBox)) return;
  for (plat::WPARAM i = 0;; ++i) {
    plat::LRESULT length = plat::SendMessageW(comboBox, plat::CB_GETLBTEXTLEN, i, 0);
    if (length < 0) break;
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    plat::LRESULT got =
        plat::SendMessageW(comboBox, plat::CB_GETLBTEXT, i, reinterpret_cast<plat::LPARAM>(text.data()));
    if (got < 0) continue;
    text.resize(std::min<std::size_t>(static_cast<std::size_t>(got), static_cast<std::size_t>(length)));
    const char16_t* translation = FindTranslation(text.c_str());
    if (!translation) continue;
    const bool selected = plat::SendMessageW(comboBox, plat::CB_GETCURSEL, 0, 0) == static_cast<plat::LRESULT>(i);
    const plat::LRESULT data = plat::SendMessageW(comboBox, plat::CB_GETITEMDATA, i, 0);
    // The translation goes in before the English item comes out, so an item
    // is never lost when the box cannot take the new text.
    plat::LRESULT at =
        plat::SendMessageW(comboBox, plat::CB_INSERTSTRING, i, reinterpret_cast<plat::LPARAM>(translation));
    if (at != static_cast<plat::LRESULT>(i)) {
      if (at >= 0) plat::SendMessageW(comboBox, plat::CB_DELETESTRING, static_cast<plat::WPARAM>(at), 0);
      continue;
    }
    plat::SendMessageW(comboBox, plat::CB_DELETESTRING, i + 1, 0);
    plat::SendMessageW(comboBox, plat::CB_SETITEMDATA, i, data);
    if (selected) plat::SendMessageW(comboBox, plat::CB_SETCURSEL, i, 0);
  }
}

void COrvLocalizerWTL::LocalizeMenu(plat::HMENU menu) const {
  std::vector<plat::HMENU> done;
  LocalizeMenu(menu, done);
}

void COrvLocalizerWTL::LocalizeMenu(plat::HMENU menu, std::vector<plat::HMENU>& done) const {
  if (!menu || std::find(done.begin(), done.end(), menu) != done.end()) return;
  done.push_back(menu);
  for (plat::UINT position = 0;; ++position) {
    char16_t text[kMaxMenuTextChars] = {};
    plat::MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = plat::MIIM_TYPE | plat::MIIM_SUBMENU;
    item.dwTypeData = text;
    item.cch = kMaxMenuTextChars;
    if (!plat::GetMenuItemInfoW(menu, position, plat::TRUE, &item)) break;
    // Only a string item's text is text; a bitmap or owner-drawn item holds a value.
    if (IsStringItem(item.fType)) {
      if (const char16_t* translation = FindTranslation(text)) {
        plat::MENUITEMINFOW change{};
        change.cbSize = sizeof change;
        change.fMask = plat::MIIM_TYPE;
        change.fType = item.fType;
        change.dwTypeData = const_cast<char16_t*>(translation);
        plat::SetMenuItemInfoW(menu, position, plat::TRUE, &change);
      }
    }
    if (item.hSubMenu) LocalizeMenu(item.hSubMenu, done);
  }
}

void COrvLocalizerWTL::LocalizeMenuBarButton(plat::HWND bar, plat::WPARAM button, plat::DWORD byIndex) const {
  char16_t text[kMaxButtonTextChars] = {};
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = byIndex | plat::TBIF_TEXT | plat::TBIF_LPARAM;
  info.pszText = text;
  info.cchText = kMaxButtonTextChars;
  if (plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, button, reinterpret_cast<plat::LPARAM>(&info)) < 0) return;
  if (const char16_t* translation = FindTranslation(text)) {
    plat::TBBUTTONINFOW change{};
    change.cbSize = sizeof change;
    change.dwMask = byIndex | plat::TBIF_TEXT;
    change.pszText = const_cast<char16_t*>(translation);
    plat::SendMessageW(bar, plat::TB_SETBUTTONINFOW, button, reinterpret_cast<plat::LPARAM>(&change));
  }
  if (info.lParam) LocalizeMenu(reinterpret_cast<plat::HMENU>(info.lParam));
}

void COrvLocalizerWTL::LocalizeMenuBar(plat::HWND window, bool isMenuBar) const {
  plat::HWND bar = isMenuBar ? window : FindMenuBarOf(window);
  if (!bar || !plat::IsWindow(bar)) return;
  if (IsSmartphonePlatform()) {
    // The two soft keys.
    for (plat::WPARAM index = 0; index < 2; ++index) LocalizeMenuBarButton(bar, index, plat::TBIF_BYINDEX);
    return;
  }
  plat::LRESULT count = plat::SendMessageW(bar, plat::TB_BUTTONCOUNT, 0, 0);
  for (plat::LRESULT i = count - 1; i >= 0; --i) {
    plat::TBBUTTON button{};
    if (!plat::SendMessageW(bar, plat::TB_GETBUTTON, static_cast<plat::WPARAM>(i),
                            reinterpret_cast<plat::LPARAM>(&button)))
      continue;
    LocalizeMenuBarButton(bar, static_cast<plat::WPARAM>(button.idCommand), 0);
  }
}

COrvLocalizerWTL& GetLocalizer() {
  static COrvLocalizerWTL localizer;
  return localizer;
}

std::u16string Localize(const char16_t* key) { return GetLocalizer().TranslateToString(key); }

std::u16string LocalizeCString(const std::u16string& key) { return GetLocalizer().TranslateCString(key); }

std::u16string LocalizeWithFallback(const char16_t* key, const char16_t* fallback) {
  std::u16string text = Localize(key);
  if (text.empty() || (key && text == key)) return fallback ? std::u16string(fallback) : std::u16string();
  return text;
}

std::u16string LocalizeResourceString(plat::UINT id) {
  std::u16string buffer(kResourceBufferChars, u'\0');
  int n = GetLocalizer().LoadString(id, buffer.data(), kResourceBufferChars);
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

bool UseLargeFonts() { return Localize(u"_LARGE_SMALL_FONTS") == u"1"; }

std::u16string GetLanguageSetting() { return OpenSettingsKey().GetString(u"language", u"en"); }

std::u16string GetSystemLanguageCode() {
  struct Language {
    plat::LANGID id;
    const char16_t* code;
  };
  static const Language kLanguages[] = {
      {0x0404, u"cn"}, {0x0405, u"cz"}, {0x0406, u"da"}, {0x0407, u"de"}, {0x0408, u"gr"},
      {0x040C, u"fr"}, {0x0410, u"it"}, {0x0411, u"jp"}, {0x0413, u"nl"}, {0x0415, u"pl"},
      {0x0419, u"ru"}, {0x041E, u"th"}, {0x0804, u"sc"}, {0x0816, u"pt"}, {0x0C0A, u"es"},
  };
  plat::LANGID id = plat::GetSystemDefaultLangID();
  for (const Language& l : kLanguages) {
    if (l.id == id) return l.code;
  }
  return u"en";
}

std::u16string GetLanguageFileName(const std::u16string& code) {
  return CombinePath(GetInstallFolder(true), u"localization_" + code + u".txt");
}

bool LoadLanguage(const std::u16string& code) {
  // A code is a file-name part: one that could name another folder loads nothing.
  if (code.find_first_of(u"\\/:") != std::u16string::npos) return false;
  return GetLocalizer().LoadFile(GetLanguageFileName(code).c_str());
}

bool InitLocalizer() {
  if (LoadLanguage(GetLanguageSetting())) return true;
  if (LoadLanguage(GetSystemLanguageCode())) return true;
  return LoadLanguage(u"en");
}
