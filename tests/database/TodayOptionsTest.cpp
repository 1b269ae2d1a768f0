// The Today item's settings: view options with their defaults and bounds, the
// line and row heights derived from the font and the screen, the reload
// interval, and the channel filter's stored form per content folder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/FrameworkServices.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/MenuBar.h"
#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "tests/support/Printers.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempDevice.h"

namespace {

using orvtest::Utf8;

CVORegistry TodayKey() {
  const std::u16string path = GetTodayRegistryKey();
  return CVORegistry(GetSettingsRootKey(), path.c_str(), true, false, plat::KEY_ALL_ACCESS);
}

// Values of the "Today" key as stored, without creating anything.
std::optional<plat::DWORD> StoredDword(const std::u16string& name) {
  return orvtest::ReadRegDword(plat::HKEY_CURRENT_USER, GetTodayRegistryKey(), name);
}

std::optional<std::u16string> StoredString(const std::u16string& name) {
  return orvtest::ReadRegString(plat::HKEY_CURRENT_USER, GetTodayRegistryKey(), name);
}

// ---- The shell's user-interface font size -------------------------------------

std::atomic<int> g_shellFontSize{0};

plat::HRESULT FakeUiMetrics(int metric, void* buffer, plat::DWORD size, plat::DWORD* required) {
  if (required) *required = sizeof(plat::DWORD);
  if (metric != 2 || !buffer || size < sizeof(plat::DWORD)) return -1;
  const plat::DWORD value = static_cast<plat::DWORD>(g_shellFontSize.load());
  std::memcpy(buffer, &value, sizeof(value));
  return 0;
}

plat::FARPROC ResolveShell(const char* name) {
  return std::strcmp(name, "#312") == 0 ? reinterpret_cast<plat::FARPROC>(&FakeUiMetrics) : nullptr;
}

class TodayOptionsTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { plat::SetClock(&clock_); }
  void TearDown() override {
    plat::SetClock(nullptr);
    plat::ResetScreenForTesting();
    plat::RegisterShellModule();  // the device's own shell, for the cases that follow
  }

  // The options as read now, a full interval after the last read.
  void Reread(CTodayViewOptions& options) {
    clock_.Advance(CTodayViewOptions::kReloadIntervalMs);
    options.Reload();
  }

  plat::ManualClock clock_;
};

// ---- View options ---------------------------------------------------------------

struct DwordSetting {
  const char16_t* name;
  plat::DWORD def;
  std::function<plat::DWORD(const CTodayViewOptions&)> held;
};

std::vector<DwordSetting> DwordSettings() {
  return {
      {u"ViewStyle", 0, [](const CTodayViewOptions& o) { return o.GetViewStyle(); }},
      {u"ViewSimple.Show.Thumbnail", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetSimpleShowThumbnail()); }},
      {u"ViewSimple.Show.ArticleTime", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetSimpleShowArticleTime()); }},
      {u"ViewSimple.Show.ChannelName", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetSimpleShowChannelName()); }},
      {u"ViewSimple.AutoScrollSpeed", 2, [](const CTodayViewOptions& o) { return o.GetSimpleAutoScrollSpeed(); }},
      {u"ViewSimple.LinesCount", 2, [](const CTodayViewOptions& o) { return o.GetSimpleLinesCount(); }},
      {u"ViewList.Show.ArticleIcon", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetListShowArticleIcon()); }},
      {u"ViewList.Show.ArticleTime", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetListShowArticleTime()); }},
      {u"ViewList.RowsCount", 10, [](const CTodayViewOptions& o) { return o.GetListRowsCount(); }},
      {u"Font.UseSystem", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetFontUseSystem()); }},
      {u"Font.ClearType", 1, [](const CTodayViewOptions& o) { return plat::DWORD(o.GetFontClearType()); }},
      {u"Font.Height", 12, [](const CTodayViewOptions& o) { return o.GetFontHeight(); }},
  };
}

TEST_F(TodayOptionsTest, MissingValuesReadAsTheirDefaultsAndAreWritten) {
  CTodayViewOptions options;
  options.Reload();
  for (const auto& setting : DwordSettings()) {
    EXPECT_EQ(setting.held(options), setting.def) << Utf8(setting.name);
    EXPECT_EQ(StoredDword(setting.name), std::optional<plat::DWORD>(setting.def)) << Utf8(setting.name);
  }
  EXPECT_EQ(Utf8(options.GetFontName()), "Tahoma");
  EXPECT_EQ(StoredString(u"Font.Name"), std::optional<std::u16string>(u"Tahoma"));
  // Nothing lands in the product key itself.
  const std::u16string product = GetProductRegistryKey();
  plat::HKEY key = nullptr;
  ASSERT_EQ(plat::RegOpenKeyExW(plat::HKEY_CURRENT_USER, product.c_str(), 0, plat::KEY_READ, &key), plat::ERROR_SUCCESS);
  plat::DWORD size = 0;
  EXPECT_NE(plat::RegQueryValueExW(key, u"ViewStyle", nullptr, nullptr, nullptr, &size), plat::ERROR_SUCCESS);
  plat::RegCloseKey(key);
}

TEST_F(TodayOptionsTest, StoredValuesAreReadAndSwitchesAreOnWhenNotZero) {
  for (const auto& setting : DwordSettings()) ASSERT_TRUE(TodayKey().SetDWORD(setting.name, 0 == setting.def ? 1 : 0));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewSimple.AutoScrollSpeed", 5));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 7));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewSimple.LinesCount", 3));
  ASSERT_TRUE(TodayKey().SetDWORD(u"Font.Height", 20));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.Show.ArticleIcon", 7));
  ASSERT_TRUE(TodayKey().SetString(u"Font.Name", u"DejaVu Serif"));
  CTodayViewOptions options;
  options.Reload();
  EXPECT_EQ(options.GetViewStyle(), 1u);
  EXPECT_FALSE(options.GetSimpleShowThumbnail());
  EXPECT_FALSE(options.GetSimpleShowArticleTime());
  EXPECT_FALSE(options.GetSimpleShowChannelName());
  EXPECT_EQ(options.GetSimpleAutoScrollSpeed(), 5u);
  EXPECT_EQ(options.GetSimpleLinesCount(), 3u);
  EXPECT_TRUE(options.GetListShowArticleIcon());
  EXPECT_FALSE(options.GetListShowArticleTime());
  EXPECT_EQ(options.GetListRowsCount(), 7u);
  EXPECT_FALSE(options.GetFontUseSystem());
  EXPECT_FALSE(options.GetFontClearType());
  EXPECT_EQ(options.GetFontHeight(), 20u);
  EXPECT_EQ(Utf8(options.GetFontName()), "DejaVu Serif");
}

struct BoundCase {
  const char16_t* name;
  plat::DWORD stored;
  plat::DWORD held;
};

TEST_F(TodayOptionsTest, HeldValuesStayWithinTheirBoundsAndTheStoredOnesAreKept) {
  const BoundCase cases[] = {
      {u"Font.Height", 0, CTodayViewOptions::kMinFontHeight},
      {u"Font.Height", 1, 1},
      {u"Font.Height", 144, 144},
      {u"Font.Height", 145, CTodayViewOptions::kMaxFontHeight},
      {u"Font.Height", 0xFFFFFFFFu, CTodayViewOptions::kMaxFontHeight},
      {u"ViewSimple.LinesCount", 0, 1},
      {u"ViewSimple.LinesCount", 1, 1},
      {u"ViewList.RowsCount", 0, 1},
      {u"ViewList.RowsCount", 40, 40},
  };
  const auto settings = DwordSettings();
  for (const auto& c : cases) {
    ASSERT_TRUE(TodayKey().SetDWORD(c.name, c.stored));
    CTodayViewOptions options;
    options.Reload();
    bool found = false;
    for (const auto& setting : settings) {
      if (std::u16string(setting.name) != c.name) continue;
      found = true;
      EXPECT_EQ(setting.held(options), c.held) << Utf8(c.name) << " stored " << c.stored;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(StoredDword(c.name), std::optional<plat::DWORD>(c.stored)) << Utf8(c.name);
  }
}

TEST_F(TodayOptionsTest, EmptyFontNameReadsAsTahoma) {
  ASSERT_TRUE(TodayKey().SetString(u"Font.Name", u""));
  CTodayViewOptions options;
  options.Reload();
  EXPECT_EQ(Utf8(options.GetFontName()), "Tahoma");
}

struct HeightCase {
  int dpi;
  plat::DWORD fontHeight;
  int line;
  int row;
};

TEST_F(TodayOptionsTest, LineAndRowHeightsFollowTheFontHeightAndTheScreen) {
  const HeightCase cases[] = {
      {192, 12, 23, 46},  // 24 - 1; max(36, 2 + 46) - 2
      {96, 12, 12, 23},   // 12 - 0; max(18, 1 + 24) - 2
      {96, 5, 5, 16},     // max(18, 1 + 10) - 2: the row's least height
      {192, 5, 9, 34},    // 10 - 1; max(36, 2 + 18) - 2
      {131, 12, 16, 31},  // round(16.375) - 0; max((2358 + 48) / 96, 1 + 32) - 2
      {144, 20, 29, 58},  // round(30) - 1; max(27, 2 + 58) - 2
  };
  ASSERT_TRUE(TodayKey().SetDWORD(u"Font.UseSystem", 0));
  for (const auto& c : cases) {
    plat::SetScreenForTesting(480, 640, c.dpi);
    ASSERT_TRUE(TodayKey().SetDWORD(u"Font.Height", c.fontHeight));
    CTodayViewOptions options;
    EXPECT_EQ(options.GetLineHeight(), c.line) << c.dpi << " dpi, height " << c.fontHeight;
    EXPECT_EQ(options.GetRowHeight(), c.row) << c.dpi << " dpi, height " << c.fontHeight;
  }
}

// The line height of the system font path as the screen measures it.
int MeasuredSystemLineHeight(int pixelSize, int dpi) {
  plat::LOGFONTW logFont{};
  logFont.lfHeight = -pixelSize;
  logFont.lfWeight = 400;
  std::memcpy(logFont.lfFaceName, u"Tahoma", 7 * sizeof(char16_t));
  plat::HFONT font = plat::CreateFontIndirectW(&logFont);
  plat::HDC screen = plat::GetDC(nullptr);
  plat::HGDIOBJ previous = plat::SelectObject(screen, font);
  plat::TEXTMETRICW metrics{};
  plat::GetTextMetricsW(screen, &metrics);
  plat::SelectObject(screen, previous);
  plat::ReleaseDC(nullptr, screen);
  plat::DeleteObject(font);
  const int in96 = MulDivRound(metrics.tmHeight, 96, dpi);
  return MulDivRound(in96, dpi, 96) - (dpi + 48) / 192;
}

plat::FARPROC ShellWithoutMetrics(const char*) { return nullptr; }

TEST_F(TodayOptionsTest, SystemFontSizeComesFromTheShellOrIsEleven) {
  plat::SetScreenForTesting(480, 640, 192);
  plat::RegisterBuiltInModule(u"aygshell.dll", &ShellWithoutMetrics);
  const int withoutShell = CTodayViewOptions().GetLineHeight();
  EXPECT_EQ(withoutShell, MeasuredSystemLineHeight(11, 192));

  plat::RegisterBuiltInModule(u"aygshell.dll", &ResolveShell);
  g_shellFontSize = 11;
  EXPECT_EQ(CTodayViewOptions().GetLineHeight(), withoutShell);
  g_shellFontSize = 0;  // the shell answers nothing usable
  EXPECT_EQ(CTodayViewOptions().GetLineHeight(), withoutShell);
  g_shellFontSize = 26;
  const int large = CTodayViewOptions().GetLineHeight();
  EXPECT_EQ(large, MeasuredSystemLineHeight(26, 192));
  EXPECT_GT(large, withoutShell);
}

TEST_F(TodayOptionsTest, SystemTextHeightIsKeptUntilTheNextRead) {
  plat::SetScreenForTesting(480, 640, 96);
  plat::RegisterBuiltInModule(u"aygshell.dll", &ResolveShell);
  g_shellFontSize = 11;
  CTodayViewOptions options;
  const int small = options.GetLineHeight();
  g_shellFontSize = 30;
  EXPECT_EQ(options.GetLineHeight(), small) << "within the interval nothing is read or measured again";
  clock_.Advance(CTodayViewOptions::kReloadIntervalMs);
  EXPECT_EQ(options.GetLineHeight(), MeasuredSystemLineHeight(30, 96));
  EXPECT_GT(options.GetLineHeight(), small);
}

TEST_F(TodayOptionsTest, ReloadReadsAtMostOnceASecond) {
  CTodayViewOptions options;
  options.Reload();
  ASSERT_EQ(options.GetListRowsCount(), 10u);
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 4));
  const struct {
    plat::DWORD advance;
    plat::DWORD rows;
  } steps[] = {{0, 10}, {999, 10}, {1, 4}};
  for (const auto& step : steps) {
    clock_.Advance(step.advance);
    options.Reload();
    EXPECT_EQ(options.GetListRowsCount(), step.rows) << "after " << step.advance;
  }
}

TEST_F(TodayOptionsTest, FontsChangedFlagIsSetByFontValuesOnly) {
  CTodayViewOptions options;
  EXPECT_TRUE(options.GetFontsChanged()) << "set from the start";
  options.Reload();
  options.ClearFontsChanged();
  Reread(options);
  EXPECT_FALSE(options.GetFontsChanged()) << "the same values again";

  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewStyle", 1));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 3));
  Reread(options);
  EXPECT_FALSE(options.GetFontsChanged()) << "view values are not font values";

  const struct {
    const char16_t* name;
    plat::DWORD value;
    const char16_t* text;
  } changes[] = {{u"Font.UseSystem", 0, nullptr},
                 {u"Font.ClearType", 0, nullptr},
                 {u"Font.Height", 14, nullptr},
                 {u"Font.Name", 0, u"DejaVu Serif"}};
  for (const auto& change : changes) {
    const bool stored = change.text ? TodayKey().SetString(change.name, change.text)
                                    : TodayKey().SetDWORD(change.name, change.value);
    ASSERT_TRUE(stored) << Utf8(change.name);
    Reread(options);
    EXPECT_TRUE(options.GetFontsChanged()) << Utf8(change.name);
    options.ClearFontsChanged();
  }
}

TEST_F(TodayOptionsTest, GetInstanceIsOneObject) {
  CTodayViewOptions* options = CTodayViewOptions::GetInstance();
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(CTodayViewOptions::GetInstance(), options);
}

// ---- Channel filter ---------------------------------------------------------------

class TodayChannelFilterTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { UseFolder(u"\\Content"); }

  void UseFolder(const std::u16string& folder) {
    ASSERT_TRUE(CreateFolderTree(folder));
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", folder));
  }
  void AddChannelFile(const std::u16string& folder, const std::string& fileName) {
    std::string hostFolder = Utf8(folder);
    for (char& c : hostFolder) {
      if (c == '\\') c = '/';
    }
    orvtest::WriteHostFile(device_.FsRoot() + hostFolder + "/" + fileName, "channel");
  }
  std::optional<std::u16string> Chunk(const std::u16string& folder, int index) {
    return StoredString(CTodayChannelFilter::GetChunkName(folder, index));
  }
  CStringToStringMap Entries(CTodayChannelFilter& filter) {
    CStringToStringMap entries;
    filter.GetEntries(entries);
    return entries;
  }
};

TEST(TodayChannelFilterNamesTest, ChunksAreNamedAfterTheContentFolder) {
  EXPECT_EQ(Utf8(CTodayChannelFilter::GetChunkName(u"\\My Documents\\News", 0)), "ChannelsFilter\\My Documents\\News");
  EXPECT_EQ(Utf8(CTodayChannelFilter::GetChunkName(u"\\Content", 1)), "ChannelsFilter\\Content:1");
  EXPECT_EQ(Utf8(CTodayChannelFilter::GetChunkName(u"", 12)), "ChannelsFilter:12");
}

struct StoredFormCase {
  const char* label;
  CStringToStringMap entries;
  std::u16string text;
};
void PrintTo(const StoredFormCase& c, std::ostream* os) { *os << c.label; }

class TodayChannelFilterFormTest : public TodayChannelFilterTest,
                                   public ::testing::WithParamInterface<StoredFormCase> {};

TEST_P(TodayChannelFilterFormTest, StoredFormRoundTrips) {
  const StoredFormCase& c = GetParam();
  EXPECT_EQ(Utf8(CTodayChannelFilter::EncodeEntries(c.entries)), Utf8(c.text));
  {
    CTodayChannelFilter filter;
    ASSERT_TRUE(Entries(filter).empty());
    for (const auto& [name, flag] : c.entries) filter.SetIncluded(name, flag == u"1");
    EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(c.text));
  }
  CTodayChannelFilter reloaded;
  EXPECT_EQ(Entries(reloaded), c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TodayChannelFilterFormTest,
    ::testing::Values(
        StoredFormCase{"plain", {{u"Sport", u"0"}, {u"Tech", u"1"}}, u"Sport:0|Tech:1|"},
        StoredFormCase{"colon", {{u"News: World", u"1"}}, u"News\\: World:1|"},
        StoredFormCase{"bar_and_backslash", {{u"A|B\\C", u"0"}}, u"A\\|B\\\\C:0|"},
        StoredFormCase{"all_escapes", {{u":|\\", u"1"}}, u"\\:\\|\\\\:1|"},
        StoredFormCase{"non_ascii", {{u"Новости", u"1"}, {u"日本", u"0"}}, u"Новости:1|日本:0|"}),
    [](const ::testing::TestParamInfo<StoredFormCase>& info) { return std::string(info.param.label); });

// A channel name whose stored item (name, ":1|") is length characters long,
// ordered by its first letter.
std::u16string NameOfItemLength(char16_t first, std::size_t length) {
  std::u16string name(1, first);
  name.append(length - 4, u'x');
  return name;
}

struct ChunkCase {
  const char* label;
  std::vector<std::size_t> itemLengths;
  std::vector<std::size_t> itemsPerChunk;
};
void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.label; }

class TodayChannelFilterChunkTest : public TodayChannelFilterTest,
                                    public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(TodayChannelFilterChunkTest, ChunkIsWrittenOnceItGrowsBeyondTheLimit) {
  const ChunkCase& c = GetParam();
  std::vector<std::u16string> items;
  {
    CTodayChannelFilter filter;
    for (std::size_t i = 0; i < c.itemLengths.size(); ++i) {
      const std::u16string name = NameOfItemLength(static_cast<char16_t>(u'a' + i), c.itemLengths[i]);
      EXPECT_TRUE(filter.IsIncluded(name, false));
      items.push_back(name + u":1|");
    }
    ASSERT_TRUE(filter.Save());
  }
  std::size_t next = 0;
  for (std::size_t chunk = 0; chunk < c.itemsPerChunk.size(); ++chunk) {
    std::u16string expected;
    for (std::size_t k = 0; k < c.itemsPerChunk[chunk]; ++k) expected += items[next++];
    EXPECT_EQ(Chunk(u"\\Content", static_cast<int>(chunk)), std::optional<std::u16string>(expected)) << chunk;
  }
  EXPECT_FALSE(Chunk(u"\\Content", static_cast<int>(c.itemsPerChunk.size())).has_value());
  CTodayChannelFilter reloaded;
  EXPECT_EQ(Entries(reloaded).size(), items.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TodayChannelFilterChunkTest,
    ::testing::Values(ChunkCase{"at_the_limit_waits_for_more", {1499, 10}, {2}},
                      ChunkCase{"beyond_the_limit_alone", {1500, 10}, {1, 1}},
                      ChunkCase{"one_at_the_limit", {1499}, {1}},
                      ChunkCase{"small_items_gather", {700, 700, 100, 50, 700}, {3, 2}}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return std::string(info.param.label); });

TEST_F(TodayChannelFilterTest, LongFilterRoundTripsAndShrinksWithoutStaleChunks) {
  CStringToStringMap expected;
  {
    CTodayChannelFilter filter;
    for (int i = 0; i < 13; ++i) {
      // Long names with every character that needs an escape.
      std::u16string name = plat::Utf8ToUtf16(std::to_string(100 + i)) + u" :|\\ Канал ";
      name.append(600, u'x');
      expected[name] = i % 3 == 0 ? u"0" : u"1";
      filter.IsIncluded(name, false);
      if (i % 3 == 0) filter.SetIncluded(name, false);
    }
    ASSERT_TRUE(filter.Save());
    EXPECT_EQ(Entries(filter), expected);
  }
  std::vector<std::u16string> chunks;
  for (int i = 0; Chunk(u"\\Content", i); ++i) chunks.push_back(*Chunk(u"\\Content", i));
  ASSERT_EQ(chunks.size(), 5u);  // four of three items, then one
  std::u16string joined;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i + 1 < chunks.size()) {
      EXPECT_GT(chunks[i].size(), CTodayChannelFilter::kChunkLength) << i;
    }
    joined += chunks[i];
  }
  EXPECT_LE(chunks.back().size(), CTodayChannelFilter::kChunkLength);
  EXPECT_EQ(Utf8(joined), Utf8(CTodayChannelFilter::EncodeEntries(expected)));

  CTodayChannelFilter reloaded;
  EXPECT_EQ(Entries(reloaded), expected);

  // Shrinking it leaves no stale chunk behind.
  while (expected.size() > 2) {
    reloaded.Remove(expected.begin()->first);
    expected.erase(expected.begin());
  }
  EXPECT_TRUE(Chunk(u"\\Content", 0).has_value());
  EXPECT_FALSE(Chunk(u"\\Content", 1).has_value());
  EXPECT_FALSE(Chunk(u"\\Content", 2).has_value());
  CTodayChannelFilter again;
  EXPECT_EQ(Entries(again), expected);
}

TEST_F(TodayChannelFilterTest, EmptyFilterIsMadeFromTheChannelFilesAndSaved) {
  AddChannelFile(u"\\Content", "Tech.cnl");
  AddChannelFile(u"\\Content", "A%7CB%3A.cnl");  // the channel "A|B:"
  AddChannelFile(u"\\Content", "notes.txt");
  AddChannelFile(u"\\Content", "%D0.cnl");
  CTodayChannelFilter filter;
  const CStringToStringMap expected = {{u"Tech", u"1"}, {u"A|B:", u"1"}, {u"\u00D0", u"1"}};
  EXPECT_EQ(Entries(filter), expected);
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(CTodayChannelFilter::EncodeEntries(expected)));
}

TEST_F(TodayChannelFilterTest, NewChannelsFollowAutoInclude) {
  const struct {
    plat::DWORD autoInclude;
    bool included;
    const char16_t* flag;
  } cases[] = {{1, true, u"1"}, {0, false, u"0"}, {7, true, u"1"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(TodayKey().SetDWORD(u"AutoIncludeNewChannels", c.autoInclude));
    CTodayChannelFilter filter;
    EXPECT_EQ(filter.GetAutoIncludeNewChannels(), c.included);
    const std::u16string name = u"New " + plat::Utf8ToUtf16(std::to_string(c.autoInclude));
    EXPECT_EQ(filter.IsIncluded(name, true), c.included);
    EXPECT_EQ(Entries(filter)[name], c.flag);
    // Once entered, the name keeps its flag whatever the setting says later.
    ASSERT_TRUE(TodayKey().SetDWORD(u"AutoIncludeNewChannels", c.included ? 0 : 1));
    CTodayChannelFilter reloaded;
    EXPECT_EQ(reloaded.IsIncluded(name, true), c.included);
  }
}

TEST_F(TodayChannelFilterTest, AutoIncludeDefaultsToOnAndIsWritten) {
  CTodayChannelFilter filter;
  EXPECT_TRUE(filter.GetAutoIncludeNewChannels());
  EXPECT_EQ(StoredDword(u"AutoIncludeNewChannels"), std::optional<plat::DWORD>(1));
  // Set to what it holds: nothing is written (a value stored meanwhile stays).
  ASSERT_TRUE(TodayKey().SetDWORD(u"AutoIncludeNewChannels", 5));
  EXPECT_TRUE(filter.SetAutoInclude(true));
  EXPECT_EQ(StoredDword(u"AutoIncludeNewChannels"), std::optional<plat::DWORD>(5));
  EXPECT_TRUE(filter.SetAutoInclude(false));
  EXPECT_FALSE(filter.GetAutoIncludeNewChannels());
  EXPECT_EQ(StoredDword(u"AutoIncludeNewChannels"), std::optional<plat::DWORD>(0));
  EXPECT_FALSE(filter.IsIncluded(u"Later", false));
}

TEST_F(TodayChannelFilterTest, IsIncludedSavesOnlyWhenAsked) {
  CTodayChannelFilter filter;
  filter.SetIncluded(u"Kept", true);
  EXPECT_TRUE(filter.IsIncluded(u"Quiet", false));
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(u"Kept:1|"));
  EXPECT_TRUE(filter.IsIncluded(u"Loud", true));
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(u"Kept:1|Loud:1|Quiet:1|"));
  filter.SetIncluded(u"Loud", false);
  EXPECT_FALSE(filter.IsIncluded(u"Loud", true));
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(u"Kept:1|Loud:0|Quiet:1|"));
}

TEST_F(TodayChannelFilterTest, RemoveForgetsTheChannelAndSaves) {
  CTodayChannelFilter filter;
  filter.SetIncluded(u"A", true);
  filter.SetIncluded(u"B", false);
  filter.Remove(u"B");
  filter.Remove(u"never there");
  EXPECT_EQ(Entries(filter), (CStringToStringMap{{u"A", u"1"}}));
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(u"A:1|"));
  filter.Remove(u"A");
  EXPECT_FALSE(Chunk(u"\\Content", 0).has_value());
}

TEST_F(TodayChannelFilterTest, EachContentFolderHasItsOwnFilter) {
  AddChannelFile(u"\\Content", "Old.cnl");
  {
    CTodayChannelFilter filter;
    filter.SetIncluded(u"Old", false);
  }
  UseFolder(u"\\My Documents\\News");
  AddChannelFile(u"\\My Documents\\News", "Fresh.cnl");
  CTodayChannelFilter moved;
  EXPECT_EQ(Utf8(moved.GetContentFolder()), "\\My Documents\\News");
  EXPECT_EQ(Entries(moved), (CStringToStringMap{{u"Fresh", u"1"}}));
  EXPECT_EQ(Chunk(u"\\My Documents\\News", 0), std::optional<std::u16string>(u"Fresh:1|"));
  EXPECT_EQ(Chunk(u"\\Content", 0), std::optional<std::u16string>(u"Old:0|")) << "the other folder's filter stays";

  UseFolder(u"\\Content");
  CTodayChannelFilter back;
  EXPECT_EQ(Entries(back), (CStringToStringMap{{u"Old", u"0"}}));
}

}  // namespace

namespace {

TEST_F(TodayOptionsTest, FaceNameFollowsUseSystemAndSaveWritesTheHeldValuesBack) {
  ASSERT_TRUE(TodayKey().SetString(u"Font.Name", u"DejaVu Serif"));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 7));
  CTodayViewOptions options;
  EXPECT_EQ(Utf8(options.GetFaceName()), "Tahoma");  // "Font.UseSystem" defaults to on
  ASSERT_TRUE(TodayKey().SetDWORD(u"Font.UseSystem", 0));
  Reread(options);
  EXPECT_EQ(Utf8(options.GetFaceName()), "DejaVu Serif");
  options.SetFontsChanged(false);
  EXPECT_FALSE(options.GetFontsChanged());
  options.SetFontsChanged(true);
  EXPECT_TRUE(options.GetFontsChanged());

  // The stored values are overwritten by the held ones.
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 3));
  ASSERT_TRUE(TodayKey().SetString(u"Font.Name", u"Other"));
  ASSERT_TRUE(options.Save());
  EXPECT_EQ(TodayKey().GetDWORD(u"ViewList.RowsCount", 0), 7u);
  EXPECT_EQ(TodayKey().GetDWORD(u"Font.UseSystem", 1), 0u);
  EXPECT_EQ(Utf8(TodayKey().GetString(u"Font.Name", u"")), "DejaVu Serif");
}

}  // namespace
