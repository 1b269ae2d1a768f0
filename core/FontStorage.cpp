#include "core/FontStorage.h"

#include "core/FontHeight.h"
#include "platform/base/Module.h"
#include "platform/imaging/Com.h"

using namespace plat;

namespace {

// The shell library's UI-metrics query (ordinal 312) and its pixel font-size metric.
constexpr std::uintptr_t kUiMetricsOrdinal = 312;
constexpr DWORD kMetricFontSizePixels = 2;
using UiMetricsProc = HRESULT (*)(DWORD metric, void* buffer, DWORD bufferSize, DWORD* required);

constexpr int kDefaultFontPixels = 12;

}  // namespace

int QueryShellFontSizePixels() {
  HMODULE shell = LoadLibraryW(u"aygshell.dll");
  if (!shell) return 0;
  int pixels = 0;
  auto query = reinterpret_cast<UiMetricsProc>(GetProcAddress(shell, reinterpret_cast<const char*>(kUiMetricsOrdinal)));
  if (query) {
    DWORD value = 0;
    DWORD required = 0;
    if (query(kMetricFontSizePixels, &value, sizeof value, &required) == S_OK && value > 0 && value < 1000)
      pixels = static_cast<int>(value);
  }
  FreeLibrary(shell);
  return pixels;
}

CSystemFontsStorage::~CSystemFontsStorage() {
  if (font_) DeleteObject(font_);
  if (boldFont_) DeleteObject(boldFont_);
  font_ = boldFont_ = nullptr;
  lineHeight_ = 0;
}

HFONT CSystemFontsStorage::GetFont() {
  if (font_) return font_;
  LOGFONTW lf{};
  if (!GetObjectW(GetStockObject(SYSTEM_FONT), sizeof lf, &lf)) return nullptr;
  int pixels = QueryShellFontSizePixels();
  if (pixels <= 0) pixels = kDefaultFontPixels;
  lf.lfHeight = -pixels;
  font_ = CreateFontIndirectW(&lf);
  if (font_) lineHeight_ = GetFontHeight(font_);
  return font_;
}

HFONT CSystemFontsStorage::GetBoldFont() {
  if (boldFont_) return boldFont_;
  HFONT normal = GetFont();
  if (!normal) return nullptr;
  LOGFONTW lf{};
  if (!GetObjectW(normal, sizeof lf, &lf)) return nullptr;
  lf.lfWeight = FW_BOLD;
  boldFont_ = CreateFontIndirectW(&lf);
  return boldFont_;
}

std::int32_t CSystemFontsStorage::GetLineHeight() {
  GetFont();
  return lineHeight_;
}

CSystemFontsStorage& GetSystemFontsStorage() {
  static CSystemFontsStorage storage;
  return storage;
}

CUIFontsStorage::CUIFontsStorage() = default;

CUIFontsStorage::~CUIFontsStorage() {
  for (auto& [key, font] : fonts_)
    if (font) DeleteObject(font);
  for (auto& [key, font] : boldFonts_)
    if (font) DeleteObject(font);
  fonts_.clear();
  boldFonts_.clear();
}

void CUIFontsStorage::CacheFont(const std::u16string& key, HFONT font, bool bold) {
  auto& map = bold ? boldFonts_ : fonts_;
  auto it = map.find(key);
  if (it != map.end()) {
    if (it->second && it->second != font) DeleteObject(it->second);
    it->second = font;
  } else {
    map.emplace(key, font);
  }
}

HFONT CUIFontsStorage::CachedFont(const std::u16string& key, bool bold) const {
  const auto& map = bold ? boldFonts_ : fonts_;
  auto it = map.find(key);
  return it == map.end() ? nullptr : it->second;
}

void CUIFontsStorage::NotifyFontsChanged() {
  ForEachListener([](IUIFontsListener* l) { l->OnUIFontsChanged(); });
}

CUIFontsStorage& GetUIFontsStorage() {
  static CUIFontsStorage storage;
  return storage;
}
