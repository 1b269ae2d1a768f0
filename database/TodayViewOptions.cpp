#include "database/TodayViewOptions.h"

#include <algorithm>
#include <cstring>

#include "core/DeviceInfo.h"
#include "core/FrameworkServices.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "platform/base/Module.h"
#include "platform/base/Time.h"
#include "platform/gdi/Gdi.h"

namespace {

constexpr const char16_t* kDefaultFontName = u"Tahoma";

// The shell library's user-interface metrics query (its ordinal 312) and the
// metric that gives the font size in pixels.
using UiMetricsQuery = plat::HRESULT (*)(int metric, void* buffer, plat::DWORD bufferSize,
                                         plat::DWORD* required);
constexpr int kUiMetricFontSizePixels = 2;
constexpr std::uintptr_t kUiMetricsOrdinal = 312;

// The shell's user-interface font size in pixels; 0 when the shell gives none.
int QueryShellFontSize() {
  plat::HMODULE shell = plat::LoadLibraryW(u"aygshell.dll");
  if (!shell) return 0;
  int size = 0;
  auto query = reinterpret_cast<UiMetricsQuery>(
      plat::GetProcAddress(shell, reinterpret_cast<const char*>(kUiMetricsOrdinal)));
  if (query) {
    plat::DWORD value = 0;
    plat::DWORD required = 0;
    if (query(kUiMetricFontSizePixels, &value, sizeof(value), &required) >= 0 && value > 0 &&
        value < 0x10000) {
      size = static_cast<int>(value);
    }
  }
  plat::FreeLibrary(shell);
  return size;
}

int ScreenVerticalDpi() { return ReadScreenDpi().y; }

// The text height of a "Tahoma" font of the given pixel size on the screen;
// 0 when it cannot be measured.
int MeasureTextHeight(int pixelSize) {
  plat::LOGFONTW logFont{};
  logFont.lfHeight = -pixelSize;
  logFont.lfWeight = plat::FW_NORMAL;
  std::memcpy(logFont.lfFaceName, kDefaultFontName, 7 * sizeof(char16_t));
  plat::HFONT font = plat::CreateFontIndirectW(&logFont);
  if (!font) return 0;
  int height = 0;
  plat::HDC screen = plat::GetDC(nullptr);
  if (screen) {
    plat::HGDIOBJ previous = plat::SelectObject(screen, font);
    plat::TEXTMETRICW metrics{};
    if (plat::GetTextMetricsW(screen, &metrics)) height = metrics.tmHeight;
    plat::SelectObject(screen, previous);
    plat::ReleaseDC(nullptr, screen);
  }
  plat::DeleteObject(font);
  return height;
}

std::uint32_t AtLeastOne(std::uint32_t value) { return value == 0 ? 1 : value; }

}  // namespace

std::u16string GetTodayRegistryKey() { return GetProductRegistryKey() + u"\\Today"; }

CTodayViewOptions* CTodayViewOptions::GetInstance() {
  static CTodayViewOptions instance;
  return &instance;
}

CTodayViewOptions::CTodayViewOptions() = default;
CTodayViewOptions::~CTodayViewOptions() = default;

std::u16string CTodayViewOptions::GetFontName() const {
  CSyncLock lock(const_cast<CTodayViewOptions*>(this), u"CTodayViewOptions::GetFontName");
  return fontName_;
}

std::u16string CTodayViewOptions::GetFaceName() {
  Reload();
  CSyncLock lock(this, u"CTodayViewOptions::GetFaceName");
  return fontUseSystem_ != 0 ? std::u16string(kDefaultFontName) : fontName_;
}

bool CTodayViewOptions::Save() {
  CSyncLock lock(this, u"CTodayViewOptions::Save");
  const std::u16string path = GetTodayRegistryKey();
  CVORegistry key(GetSettingsRootKey(), path.c_str(), true, true, plat::KEY_ALL_ACCESS);
  const std::pair<const char16_t*, std::uint32_t> values[] = {
      {u"ViewStyle", viewStyle_},
      {u"ViewSimple.Show.Thumbnail", simpleShowThumbnail_},
      {u"ViewSimple.Show.ArticleTime", simpleShowArticleTime_},
      {u"ViewSimple.Show.ChannelName", simpleShowChannelName_},
      {u"ViewSimple.AutoScrollSpeed", simpleAutoScrollSpeed_},
      {u"ViewSimple.LinesCount", simpleLinesCount_},
      {u"ViewList.Show.ArticleIcon", listShowArticleIcon_},
      {u"ViewList.Show.ArticleTime", listShowArticleTime_},
      {u"ViewList.RowsCount", listRowsCount_},
      {u"Font.UseSystem", fontUseSystem_},
      {u"Font.ClearType", fontClearType_},
      {u"Font.Height", fontHeight_},
  };
  bool ok = true;
  for (const auto& [name, value] : values) ok = key.SetDWORD(name, value) && ok;
  return key.SetString(u"Font.Name", fontName_.empty() ? kDefaultFontName : fontName_.c_str()) && ok;
}

void CTodayViewOptions::Reload() {
  CSyncLock lock(this, u"CTodayViewOptions::Reload");
  const plat::DWORD now = plat::GetTickCount();
  if (hasRead_ && now - lastReadTick_ < kReloadIntervalMs) return;  // wraps safely
  hasRead_ = true;
  lastReadTick_ = now;
  Read();
}

void CTodayViewOptions::Read() {
  const std::u16string path = GetTodayRegistryKey();
  CVORegistry key(GetSettingsRootKey(), path.c_str(), true, true, plat::KEY_ALL_ACCESS);

  viewStyle_ = key.GetDWORD(u"ViewStyle", 0);
  simpleShowThumbnail_ = key.GetDWORD(u"ViewSimple.Show.Thumbnail", 1);
  simpleShowArticleTime_ = key.GetDWORD(u"ViewSimple.Show.ArticleTime", 1);
  simpleShowChannelName_ = key.GetDWORD(u"ViewSimple.Show.ChannelName", 1);
  simpleAutoScrollSpeed_ = key.GetDWORD(u"ViewSimple.AutoScrollSpeed", 2);
  simpleLinesCount_ = AtLeastOne(key.GetDWORD(u"ViewSimple.LinesCount", 2));
  listShowArticleIcon_ = key.GetDWORD(u"ViewList.Show.ArticleIcon", 1);
  listShowArticleTime_ = key.GetDWORD(u"ViewList.Show.ArticleTime", 1);
  listRowsCount_ = AtLeastOne(key.GetDWORD(u"ViewList.RowsCount", 10));

  const std::uint32_t useSystem = key.GetDWORD(u"Font.UseSystem", 1);
  const std::uint32_t clearType = key.GetDWORD(u"Font.ClearType", 1);
  const std::uint32_t height =
      std::clamp<std::uint32_t>(key.GetDWORD(u"Font.Height", 12), kMinFontHeight, kMaxFontHeight);
  std::u16string name = key.GetString(u"Font.Name", kDefaultFontName);
  if (name.empty()) name = kDefaultFontName;

  if (useSystem != fontUseSystem_ || clearType != fontClearType_ || height != fontHeight_ ||
      name != fontName_) {
    fontsChanged_ = 1;
  }
  fontUseSystem_ = useSystem;
  fontClearType_ = clearType;
  fontHeight_ = height;
  fontName_ = std::move(name);
  systemTextHeight_ = -1;
}

int CTodayViewOptions::GetSystemTextHeight() {
  if (systemTextHeight_ >= 0) return systemTextHeight_;
  const int dpi = ScreenVerticalDpi();
  int size = QueryShellFontSize();
  if (size <= 0) size = kDefaultSystemFontSize;
  const int measured = MeasureTextHeight(size);
  if (measured <= 0) return MulDivRound(size, 96, dpi);  // not cached: measure again next time
  systemTextHeight_ = MulDivRound(measured, 96, dpi);
  return systemTextHeight_;
}

int CTodayViewOptions::GetLineHeight() {
  Reload();
  CSyncLock lock(this, u"CTodayViewOptions::GetLineHeight");
  const int dpi = ScreenVerticalDpi();
  const int height = fontUseSystem_ == 0 ? static_cast<int>(fontHeight_) : GetSystemTextHeight();
  return MulDivRound(height, dpi, 96) - (dpi + 48) / 192;
}

int CTodayViewOptions::GetRowHeight() {
  const int line = GetLineHeight();
  const int dpi = ScreenVerticalDpi();
  return std::max((18 * dpi + 48) / 96, (dpi + 48) / 96 + 2 * line) - 2;
}
