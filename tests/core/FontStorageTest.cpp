// Fonts: heights as the screen draws them, the system font at the shell's
// size and its bold variant, the user-interface font store and its listeners.
#include <gtest/gtest.h>

#include <vector>

#include "core/FontHeight.h"
#include "core/FontStorage.h"
#include "platform/base/Module.h"
#include "platform/controls/MenuBar.h"
#include "platform/imaging/Com.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class FontStorageTest : public orvtest::DeviceTest {
 protected:
  // The cases put shells of their own in place of the device's: the
  // device's comes back for the cases that follow in the same process.
  void TearDown() override { RegisterShellModule(); }
};

HFONT MakeFont(LONG height, LONG weight = FW_NORMAL) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  return CreateFontIndirectW(&lf);
}

LOGFONTW Describe(HFONT font) {
  LOGFONTW lf{};
  EXPECT_GT(GetObjectW(font, sizeof lf, &lf), 0);
  return lf;
}

TEST_F(FontStorageTest, FontHeightIsTheTextMetricsHeight) {
  HDC screen = GetDC(nullptr);
  HGDIOBJ before = GetCurrentObject(screen, OBJ_FONT);
  ReleaseDC(nullptr, screen);
  for (LONG h : {-12, -20, -31, 18}) {
    HFONT font = MakeFont(h);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(dc, &tm));
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_EQ(GetFontHeight(font), tm.tmHeight) << h;
    EXPECT_GE(tm.tmHeight, h < 0 ? -h : h - 1);
    screen = GetDC(nullptr);
    EXPECT_EQ(GetCurrentObject(screen, OBJ_FONT), before);  // put back
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(DeleteObject(font));  // not left selected anywhere
  }
  EXPECT_EQ(GetFontHeight(nullptr), 0);
}

FARPROC ShellWithoutMetrics(const char*) { return nullptr; }

TEST_F(FontStorageTest, WithoutTheShellMetricTheFontIs12Pixels) {
  RegisterBuiltInModule(u"aygshell.dll", &ShellWithoutMetrics);
  EXPECT_EQ(QueryShellFontSizePixels(), 0);
  CSystemFontsStorage s;
  HFONT font = s.GetFont();
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(Describe(font).lfHeight, -12);
  EXPECT_EQ(s.GetFont(), font);
  EXPECT_EQ(s.GetLineHeight(), GetFontHeight(font));
}

HRESULT FakeUiMetrics(DWORD metric, void* buffer, DWORD size, DWORD* required) {
  if (required) *required = sizeof(DWORD);
  if (metric != 2 || !buffer || size < sizeof(DWORD)) return E_INVALIDARG;
  *static_cast<DWORD*>(buffer) = 22;
  return S_OK;
}
FARPROC ResolveShell(const char* name) {
  return std::string(name) == "#312" ? reinterpret_cast<FARPROC>(&FakeUiMetrics) : nullptr;
}

TEST_F(FontStorageTest, ShellFontSizeAndBoldVariant) {
  RegisterBuiltInModule(u"aygshell.dll", &ResolveShell);
  EXPECT_EQ(QueryShellFontSizePixels(), 22);
  HFONT font = nullptr, bold = nullptr;
  {
    CSystemFontsStorage s;
    // The bold font first: the normal one is made first, and the line
    // height is the normal font's.
    bold = s.GetBoldFont();
    ASSERT_NE(bold, nullptr);
    font = s.GetFont();
    ASSERT_NE(font, nullptr);
    EXPECT_NE(font, bold);
    EXPECT_EQ(s.GetBoldFont(), bold);
    LOGFONTW normal = Describe(font), heavy = Describe(bold);
    EXPECT_EQ(normal.lfHeight, -22);
    EXPECT_EQ(heavy.lfHeight, -22);
    EXPECT_EQ(heavy.lfWeight, FW_BOLD);
    EXPECT_NE(normal.lfWeight, FW_BOLD);
    EXPECT_EQ(s.GetLineHeight(), GetFontHeight(font));
  }
  EXPECT_EQ(GetObjectType(font), 0u);  // deleted with the storage
  EXPECT_EQ(GetObjectType(bold), 0u);
}

TEST_F(FontStorageTest, LineHeightFirstMakesTheFont) {
  CSystemFontsStorage s;
  std::int32_t h = s.GetLineHeight();
  EXPECT_GE(h, 12);
  HFONT font = s.GetFont();
  EXPECT_EQ(h, GetFontHeight(font));
  EXPECT_EQ(&GetSystemFontsStorage(), &GetSystemFontsStorage());
}

struct Listener : IUIFontsListener {
  explicit Listener(std::vector<int>* log, int id) : log(log), id(id) {}
  void OnUIFontsChanged() override { log->push_back(id); }
  std::vector<int>* log;
  int id;
};

TEST_F(FontStorageTest, UiFontsStoreSettingsListenersAndCaches) {
  std::vector<int> log;
  Listener a(&log, 1), b(&log, 2), c(&log, 3);
  HFONT cached = MakeFont(-10), replaced = MakeFont(-11), boldCached = MakeFont(-10, FW_BOLD);
  {
    CUIFontsStorage s;
    EXPECT_EQ(std::u16string(s.UseSystem().name), u"Font.UseSystem");
    EXPECT_EQ(s.UseSystem().defaultValue, 1);
    EXPECT_EQ(std::u16string(s.CustomFontName().name), u"Font.CustomFontName");
    EXPECT_EQ(s.CustomFontName().defaultValue, u"");
    EXPECT_EQ(std::u16string(s.CustomFontSize().name), u"Font.CustomFontSize");
    EXPECT_EQ(s.CustomFontSize().defaultValue, 26);

    EXPECT_TRUE(s.AddListener(&b));
    EXPECT_TRUE(s.AddListener(&a));
    EXPECT_TRUE(s.AddListener(&c));
    EXPECT_FALSE(s.AddListener(&a));
    EXPECT_FALSE(s.AddListener(nullptr));
    EXPECT_TRUE(s.RemoveListener(&c));
    EXPECT_FALSE(s.RemoveListener(&c));
    EXPECT_EQ(s.ListenerCount(), 2u);
    s.NotifyFontsChanged();
    EXPECT_EQ(log, (std::vector<int>{2, 1}));

    s.CacheFont(u"Tahoma", replaced, false);
    s.CacheFont(u"Tahoma", cached, false);
    EXPECT_EQ(GetObjectType(replaced), 0u);  // the replaced font is deleted
    s.CacheFont(u"Tahoma", boldCached, true);
    EXPECT_EQ(s.CachedFont(u"Tahoma", false), cached);
    EXPECT_EQ(s.CachedFont(u"Tahoma", true), boldCached);
    EXPECT_EQ(s.CachedFont(u"Other", false), nullptr);
  }
  EXPECT_EQ(GetObjectType(cached), 0u);
  EXPECT_EQ(GetObjectType(boldCached), 0u);
  EXPECT_EQ(&GetUIFontsStorage(), &GetUIFontsStorage());
}

}  // namespace
