#include <gtest/gtest.h>

#include <string>

#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/VORegistry.h"
#include "platform/base/Locale.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/resources/Resources.h"
#include "tests/support/DeviceFiles.h"
#include "tests/support/Printers.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

namespace {

using orvtest::Utf8;

const char16_t kBel[] = u"\u0007";

// The bytes of text as a UTF-16 little-endian file with its byte-order mark.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

class LocalizerTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    GetLocalizer().Unload();
    plat::ResetLocaleForTesting();
  }
  void TearDown() override {
    GetLocalizer().Unload();
    plat::ResetLocaleForTesting();
  }

  // Writes a language file and loads it into loc.
  void Load(COrvLocalizerAPI& loc, const std::string& bytes, const char16_t* name = u"\\lang.txt") {
    ASSERT_TRUE(orvtest::WriteDeviceFile(name, bytes));
    ASSERT_TRUE(loc.LoadFile(name));
  }

  void WriteLanguage(const std::u16string& code, const std::string& bytes) {
    ASSERT_TRUE(orvtest::WriteDeviceFile(GetLanguageFileName(code), bytes));
  }
};

struct Lookup {
  std::u16string key;
  std::u16string expected;
  const char* why;
};

void CheckLookups(const COrvLocalizerAPI& loc, const Lookup* begin, const Lookup* end) {
  for (const Lookup* l = begin; l != end; ++l) {
    EXPECT_EQ(std::u16string(loc.Translate(l->key.c_str())), l->expected)
        << "key \"" << Utf8(l->key) << "\": " << l->why;
  }
}

}  // namespace

TEST_F(LocalizerTest, LinesKeysAndEscapes) {
  COrvLocalizerAPI loc;
  Load(loc,
       "Open^Open file|Ouvrir\r\n"
       "a\\|b|c\\nd\r\n"
       "Empty translation|\r\n"
       "|no key\r\n"
       "no bar at all\r\n"
       "Twice|first\n"
       "Twice|second\n"
       "Three|fields|ignored\n"
       "Back\\\\slash|B\\\\S\n"
       "Return\\r|with\\rCR\n"
       "Other\\x|\\q\n"
       "\n\r\n\r\r"
       "After blank lines|found\r"
       "Case|casse\n"
       "Caret^|bel^\n"
       "Trailing|x\\\n"
       "Last line without break|fin");
  const Lookup cases[] = {
      {std::u16string(u"Open") + kBel + u"Open file", u"Ouvrir", "^ stands for BEL in keys"},
      {u"a|b", u"c\nd", "\\| is a bar, \\n a line feed"},
      {u"Empty translation", u"Empty translation", "empty translation skipped"},
      {u"no bar at all", u"no bar at all", "line without bar ignored"},
      {u"Twice", u"second", "the later line wins"},
      {u"Three", u"fields", "text after a second bar ignored"},
      {u"Back\\slash", u"B\\S", "\\\\ is a backslash"},
      {u"Return\r", u"with\rCR", "\\r is a carriage return"},
      {u"Otherx", u"q", "backslash before any other character gives it"},
      {u"After blank lines", u"found", "runs of CR and LF separate lines"},
      {u"Case", u"casse", "a lone CR ends a line"},
      {u"case", u"case", "keys are case-sensitive"},
      {std::u16string(u"Caret") + kBel, std::u16string(u"bel") + kBel, "^ in translations"},
      {u"Trailing", u"x", "a backslash ending the line stands for nothing"},
      {u"Last line without break", u"fin", "last line"},
      {u"Unknown", u"Unknown", "no entry: the key itself"},
  };
  CheckLookups(loc, std::begin(cases), std::end(cases));
  EXPECT_EQ(loc.GetEntryCount(), 12u);
}

TEST_F(LocalizerTest, Utf16AndUtf8FilesLoadTheSameEntries) {
  const std::u16string text =
      u"Cancel|Отмена\r\n"
      u"Feeds|フィード\r\n"
      u"Smile|\U0001F600\r\n"
      u"Grüße|Größe\r\n";
  COrvLocalizerAPI utf16, utf8;
  Load(utf16, Utf16File(text), u"\\utf16.txt");
  Load(utf8, plat::Utf16ToUtf8(text), u"\\utf8.txt");
  const Lookup cases[] = {
      {u"Cancel", u"Отмена", "Cyrillic"},
      {u"Feeds", u"フィード", "Japanese"},
      {u"Smile", u"\U0001F600", "beyond the basic plane"},
      {u"Grüße", u"Größe", "non-ASCII key"},
  };
  CheckLookups(utf16, std::begin(cases), std::end(cases));
  CheckLookups(utf8, std::begin(cases), std::end(cases));
  EXPECT_EQ(utf16.GetEntryCount(), 4u);
  EXPECT_EQ(utf8.GetEntryCount(), 4u);
}

TEST_F(LocalizerTest, Utf8ByteOrderMarkIsNotPartOfTheFirstKey) {
  COrvLocalizerAPI loc;
  Load(loc, "\xEF\xBB\xBF" "First|Erste\nSecond|Zweite\n");
  EXPECT_EQ(std::u16string(loc.Translate(u"First")), u"Erste");
  EXPECT_EQ(std::u16string(loc.Translate(u"\uFEFFFirst")), u"\uFEFFFirst");
  EXPECT_EQ(std::u16string(loc.Translate(u"Second")), u"Zweite");
}

TEST_F(LocalizerTest, OddFiles) {
  {
    COrvLocalizerAPI loc;  // the byte-order mark alone
    Load(loc, "\xFF\xFE");
    EXPECT_EQ(loc.GetEntryCount(), 0u);
  }
  {
    COrvLocalizerAPI loc;  // an empty file does not load
    ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\empty.txt", ""));
    EXPECT_FALSE(loc.LoadFile(u"\\empty.txt"));
    EXPECT_FALSE(loc.IsLoaded());
    EXPECT_EQ(std::u16string(loc.Translate(u"x")), u"x");
  }
  {
    COrvLocalizerAPI loc;  // a UTF-16 file with an odd byte at its end
    Load(loc, Utf16File(u"k|v") + "x");
    EXPECT_EQ(std::u16string(loc.Translate(u"k")), u"v");
  }
  {
    COrvLocalizerAPI loc;  // a single byte is UTF-8
    Load(loc, "\xFF");
    EXPECT_EQ(loc.GetEntryCount(), 0u);
  }
  {
    // A field starting with a zero is empty: the pair neither replaces the
    // earlier translation nor counts as an entry.
    COrvLocalizerAPI loc;
    Load(loc, std::string("Save|Enregistrer\nSave|\0x\n\0k|v\n", 30));
    EXPECT_EQ(std::u16string(loc.Translate(u"Save")), u"Enregistrer");
    EXPECT_EQ(loc.GetEntryCount(), 1u);
  }
}

TEST_F(LocalizerTest, MissingFileLoadsNothingAndShowsEnglish) {
  COrvLocalizerAPI loc;
  EXPECT_FALSE(loc.LoadFile(u"\\Program Files\\Orv News\\localization_xx.txt"));
  EXPECT_FALSE(loc.LoadFile(u""));
  EXPECT_FALSE(loc.LoadFile(nullptr));
  EXPECT_FALSE(loc.IsLoaded());
  const std::u16string withBel = std::u16string(u"Open") + kBel + u"Open file";
  EXPECT_EQ(std::u16string(loc.Translate(withBel.c_str())), u"Open file");  // the text after the BEL
  EXPECT_EQ(std::u16string(loc.Translate(u"Cancel")), u"Cancel");
  EXPECT_EQ(std::u16string(loc.Translate(u"")), u"");
  EXPECT_EQ(std::u16string(loc.Translate(nullptr)), u"");
}

TEST_F(LocalizerTest, ALoadReplacesTheWholeContent) {
  COrvLocalizerAPI loc;
  Load(loc, "One|Un\nTwo|Deux\n", u"\\fr.txt");
  Load(loc, "One|Eins\n", u"\\de.txt");
  EXPECT_EQ(std::u16string(loc.Translate(u"One")), u"Eins");
  EXPECT_EQ(std::u16string(loc.Translate(u"Two")), u"Two");
  // A failed load leaves nothing loaded.
  EXPECT_FALSE(loc.LoadFile(u"\\missing.txt"));
  EXPECT_FALSE(loc.IsLoaded());
  EXPECT_EQ(std::u16string(loc.Translate(u"One")), u"One");
}

TEST_F(LocalizerTest, TranslationIntoBuffersAndStrings) {
  COrvLocalizerAPI loc;
  std::string longText(1500, 'x');
  Load(loc, "Cancel|Annuler\nLong|" + longText + "\n");
  char16_t buf[8];
  EXPECT_EQ(loc.TranslateToBuffer(u"Cancel", buf, 8), 7);
  EXPECT_EQ(std::u16string(buf), u"Annuler");
  EXPECT_EQ(loc.TranslateToBuffer(u"Cancel", buf, 4), 3);
  EXPECT_EQ(std::u16string(buf), u"Ann");
  EXPECT_EQ(loc.TranslateToBuffer(u"Cancel", buf, 1), 0);
  EXPECT_EQ(buf[0], 0);
  buf[0] = u'z';
  EXPECT_EQ(loc.TranslateToBuffer(u"Cancel", buf, 0), 0);
  EXPECT_EQ(buf[0], u'z');
  EXPECT_EQ(loc.TranslateToBuffer(u"Cancel", nullptr, 8), 0);
  EXPECT_EQ(loc.TranslateToString(u"Long"), std::u16string(1023, u'x'));
  EXPECT_EQ(std::u16string(loc.Translate(u"Long")).size(), 1500u);
  EXPECT_EQ(loc.TranslateCString(u"Cancel"), u"Annuler");
  EXPECT_EQ(loc.TranslateCString(u"Unknown"), u"Unknown");
}

TEST_F(LocalizerTest, LanguageFromTheRegistry) {
  WriteLanguage(u"de", "Cancel|Abbrechen\n");
  WriteLanguage(u"en", "Cancel|Cancel (en)\n");
  ASSERT_TRUE(OpenSettingsKey().SetString(u"language", u"de"));
  EXPECT_EQ(GetLanguageSetting(), u"de");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Abbrechen");
}

TEST_F(LocalizerTest, MissingLanguageSettingIsWrittenAsEnglish) {
  WriteLanguage(u"en", "Cancel|Cancel (en)\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Cancel (en)");
  EXPECT_EQ(OpenSettingsKey().GetString(u"language", nullptr), u"en");
}

TEST_F(LocalizerTest, FallsBackToTheSystemLanguageThenEnglish) {
  plat::LocaleSettings german;
  german.lcid = 0x0407;
  plat::SetLocaleForTesting(german);
  ASSERT_EQ(GetSystemLanguageCode(), u"de");
  ASSERT_TRUE(OpenSettingsKey().SetString(u"language", u"fr"));  // no French file

  WriteLanguage(u"en", "Cancel|Cancel (en)\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Cancel (en)");  // no German file either

  WriteLanguage(u"de", "Cancel|Abbrechen\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Abbrechen");
}

TEST_F(LocalizerTest, EmptyLanguageFileFallsBackToTheNextLanguage) {
  WriteLanguage(u"de", "");
  WriteLanguage(u"en", "Cancel|Cancel (en)\n");
  ASSERT_TRUE(OpenSettingsKey().SetString(u"language", u"de"));
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Cancel (en)");
}

TEST_F(LocalizerTest, NothingToLoadShowsEnglish) {
  ASSERT_TRUE(OpenSettingsKey().SetString(u"language", u"fr"));
  EXPECT_FALSE(InitLocalizer());
  EXPECT_EQ(Localize(u"Cancel"), u"Cancel");
  EXPECT_EQ(LocalizeWithFallback(u"Cancel", u"Fallback"), u"Fallback");
}

TEST_F(LocalizerTest, InstallFolderFromTheRegistry) {
  EXPECT_EQ(GetLanguageFileName(u"de"), u"\\Program Files\\Orv News\\localization_de.txt");
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Storage\\Orv"));
  EXPECT_EQ(GetLanguageFileName(u"de"), u"\\Storage\\Orv\\localization_de.txt");
  ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\Storage\\Orv\\localization_de.txt", "Cancel|Abbrechen\n"));
  EXPECT_TRUE(LoadLanguage(u"de"));
  EXPECT_EQ(Localize(u"Cancel"), u"Abbrechen");
}

TEST_F(LocalizerTest, LanguageCodeNamingAnotherFolderLoadsNothing) {
  ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\Program Files\\localization_x.txt", "Cancel|Abbrechen\n"));
  WriteLanguage(u"de", "Cancel|Abbrechen\n");
  EXPECT_FALSE(LoadLanguage(u"..\\localization_x.txt\\..\\x"));
  EXPECT_FALSE(LoadLanguage(u"x/y"));
  EXPECT_TRUE(LoadLanguage(u"de"));
}

TEST_F(LocalizerTest, SystemLanguageCodes) {
  const struct {
    plat::LCID lcid;
    const char16_t* code;
  } cases[] = {
      {0x0404, u"cn"}, {0x0405, u"cz"}, {0x0406, u"da"}, {0x0407, u"de"}, {0x0408, u"gr"},
      {0x040C, u"fr"}, {0x0410, u"it"}, {0x0411, u"jp"}, {0x0413, u"nl"}, {0x0415, u"pl"},
      {0x0419, u"ru"}, {0x041E, u"th"}, {0x0804, u"sc"}, {0x0816, u"pt"}, {0x0C0A, u"es"},
      {0x0409, u"en"}, {0x0809, u"en"},  // English
      {0x0C07, u"en"},                   // German (Austria) is not in the table
      {0x0416, u"en"},                   // Portuguese (Brazil) neither
  };
  for (const auto& c : cases) {
    plat::LocaleSettings s;
    s.lcid = c.lcid;
    plat::SetLocaleForTesting(s);
    EXPECT_EQ(GetSystemLanguageCode(), c.code) << std::hex << c.lcid;
  }
}

TEST_F(LocalizerTest, FallbackAndLargeFonts) {
  WriteLanguage(u"en", "Cancel|Annuler\n_LARGE_SMALL_FONTS|1\nSame|Same\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(LocalizeWithFallback(u"Cancel", u"F"), u"Annuler");
  EXPECT_EQ(LocalizeWithFallback(u"Unknown", u"F"), u"F");  // the key itself: fallback
  EXPECT_EQ(LocalizeWithFallback(u"Same", u"F"), u"F");     // translated to itself: fallback too
  EXPECT_EQ(LocalizeWithFallback(u"", u"F"), u"F");
  EXPECT_EQ(LocalizeCString(u"Cancel"), u"Annuler");
  EXPECT_TRUE(UseLargeFonts());

  WriteLanguage(u"en", "_LARGE_SMALL_FONTS|yes\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_FALSE(UseLargeFonts());
  GetLocalizer().Unload();
  EXPECT_FALSE(UseLargeFonts());
}

namespace {

// String resources of the program, as the resource compiler makes them.
class LocalizerResourcesTest : public LocalizerTest {
 protected:
  void SetUp() override {
    LocalizerTest::SetUp();
    plat::ResourceCompileResult rc = plat::CompileResourceScript(
        "STRINGTABLE\nBEGIN\n  195 \"today\"\n  300 \"Cancel\"\n  301 \"Untranslated\"\nEND\n", device_.Scratch());
    ASSERT_TRUE(rc.ok) << rc.error;
    ASSERT_TRUE(plat::BindModuleResources(plat::GetModuleHandleW(nullptr), std::move(rc.image)));
  }
  void TearDown() override {
    plat::BindModuleResources(plat::GetModuleHandleW(nullptr), nullptr, 0);
    LocalizerTest::TearDown();
  }
};

}  // namespace

TEST_F(LocalizerResourcesTest, StringResourcesAreTranslated) {
  WriteLanguage(u"en", "today|heute\nCancel|Abbrechen\n");
  ASSERT_TRUE(InitLocalizer());
  EXPECT_EQ(LocalizeResourceString(195), u"heute");
  EXPECT_EQ(LocalizeResourceString(300), u"Abbrechen");
  EXPECT_EQ(LocalizeResourceString(301), u"Untranslated");
  EXPECT_EQ(LocalizeResourceString(999), u"");  // no such resource

  char16_t buf[5];
  // A short buffer gets the start of the translation: the whole text is looked up.
  EXPECT_EQ(GetLocalizer().LoadString(300, buf, 5), 4);
  EXPECT_EQ(std::u16string(buf), u"Abbr");
  EXPECT_EQ(GetLocalizer().LoadString(301, buf, 5), 4);
  EXPECT_EQ(std::u16string(buf), u"Untr");
  EXPECT_EQ(GetLocalizer().LoadString(300, buf, 1), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(GetLocalizer().LoadString(999, buf, 5), 0);
  EXPECT_EQ(GetLocalizer().LoadString(300, nullptr, 5), 0);
}

TEST_F(LocalizerResourcesTest, StringResourcesWithoutLanguageFile) {
  EXPECT_EQ(LocalizeResourceString(195), u"today");
  EXPECT_EQ(LocalizeResourceString(300), u"Cancel");
}
