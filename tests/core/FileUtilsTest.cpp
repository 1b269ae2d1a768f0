#include "core/FileUtils.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/VORegistry.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

using namespace plat;

namespace {

// ---- Paths ---------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::u16string path;
  bool ok;
  std::u16string folder;
  std::u16string file;
  std::u16string extension;
};

// Names the case in test listings.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitPathCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathCases, Splits) {
  const SplitCase& c = GetParam();
  std::u16string folder = u"?", name = u"?", extension = u"?";
  ASSERT_EQ(SplitPath(c.path, &folder, &name, &extension), c.ok);
  if (!c.ok) return;
  EXPECT_EQ(folder, c.folder);
  EXPECT_EQ(name, c.file);
  EXPECT_EQ(extension, c.extension);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitPathCases,
    ::testing::Values(
        SplitCase{"card_feeds_file", u"\\Storage Card\\Feeds\\news.cnl", true, u"\\Storage Card\\Feeds", u"news", u"cnl"},
        SplitCase{"dot_in_folder_only", u"\\My.Folder\\readme", true, u"\\My.Folder", u"readme", u""},
        SplitCase{"last_dot_wins", u"\\a\\archive.tar.gz", true, u"\\a", u"archive.tar", u"gz"},
        SplitCase{"file_in_root", u"\\news.cnl", true, u"\\", u"news", u"cnl"},
        SplitCase{"no_folder", u"news.cnl", true, u"", u"news", u"cnl"},
        SplitCase{"trailing_backslash", u"\\a\\b\\", true, u"\\a\\b", u"", u""},
        SplitCase{"dot_file", u"\\a\\.hidden", true, u"\\a", u"", u"hidden"},
        SplitCase{"empty", u"", true, u"", u"", u""},
        SplitCase{"double_backslash", u"\\a\\\\b.txt", false, u"", u"", u""},
        SplitCase{"colon", u"\\a\\c:d.txt", false, u"", u"", u""},
        SplitCase{"slash", u"\\a/b.txt", false, u"", u"", u""},
        SplitCase{"asterisk", u"\\a\\*.txt", false, u"", u"", u""},
        SplitCase{"question_mark", u"\\a\\?.txt", false, u"", u"", u""},
        SplitCase{"angle_brackets", u"\\a\\<b>", false, u"", u"", u""},
        SplitCase{"quote", u"\\a\\\"b\"", false, u"", u"", u""},
        SplitCase{"bar", u"\\a\\b|c", false, u"", u"", u""},
        SplitCase{"control_character", u"\\a\\b\tc", false, u"", u"", u""}),
    [](const auto& info) { return std::string(info.param.name); });

struct CombineCase {
  std::u16string folder;
  std::u16string name;
  std::u16string expected;
};

// Names the case in test listings.
void PrintTo(const CombineCase& c, std::ostream* os) { *os << plat::Utf16ToUtf8(c.folder) << " + " << plat::Utf16ToUtf8(c.name); }

class CombinePathCases : public ::testing::TestWithParam<CombineCase> {};

TEST_P(CombinePathCases, OneBackslashBetween) {
  const CombineCase& c = GetParam();
  EXPECT_EQ(CombinePath(c.folder, c.name), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CombinePathCases,
                         ::testing::Values(CombineCase{u"\\a", u"b", u"\\a\\b"},
                                           CombineCase{u"\\a\\", u"b", u"\\a\\b"},
                                           CombineCase{u"\\a", u"\\b", u"\\a\\b"},
                                           CombineCase{u"\\", u"b", u"\\b"},
                                           CombineCase{u"", u"b", u"\\b"},
                                           CombineCase{u"", u"\\b", u"\\b"},
                                           CombineCase{u"\\a", u"", u"\\a"},
                                           CombineCase{u"\\a", u"*.*", u"\\a\\*.*"}));

TEST(FileUtilsPaths, FindLastChar) {
  EXPECT_EQ(FindLastChar(u"\\a\\b\\c", u'\\'), 4u);
  EXPECT_EQ(FindLastChar(u"abc", u'\\'), std::u16string::npos);
  EXPECT_EQ(FindLastChar(u"", u'x'), std::u16string::npos);
}

// ---- Text forms of settings -------------------------------------------------

struct MapCase {
  const char* name;
  std::u16string text;
  CStringToStringMap expected;
};

// Names the case in test listings.
void PrintTo(const MapCase& c, std::ostream* os) { *os << c.name; }

class StringToMapCases : public ::testing::TestWithParam<MapCase> {};

TEST_P(StringToMapCases, Parses) {
  const MapCase& c = GetParam();
  CStringToStringMap map{{u"stale", u"entry"}};
  StringToMap(c.text, map);
  EXPECT_EQ(map, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringToMapCases,
    ::testing::Values(
        MapCase{"two_pairs", u"a:1|b:2|", {{u"a", u"1"}, {u"b", u"2"}}},
        MapCase{"tail_ignored", u"a:1|b:2", {{u"a", u"1"}}},
        MapCase{"empty", u"", {}},
        MapCase{"escaped_separators", u"a\\|b:c\\:d|", {{u"a|b", u"c:d"}}},
        MapCase{"escaped_backslash", u"k\\\\:v|", {{u"k\\", u"v"}}},
        MapCase{"last_colon_divides", u"http://x:80|", {{u"http://x", u"80"}}},
        MapCase{"later_key_replaces", u"a:1|a:2|", {{u"a", u"2"}}},
        MapCase{"empty_value", u"a:|", {{u"a", u""}}},
        MapCase{"no_colon_empty_value", u"a|", {{u"a", u""}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ListCase {
  const char* name;
  std::u16string text;
  std::vector<std::u16string> expected;
};

// Names the case in test listings.
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class StringToListCases : public ::testing::TestWithParam<ListCase> {};

TEST_P(StringToListCases, Parses) {
  const ListCase& c = GetParam();
  CStringToIntMap set{{u"stale", 0}};
  StringToList(c.text, set);
  std::vector<std::u16string> keys;
  for (const auto& entry : set) {
    keys.push_back(entry.first);
    EXPECT_EQ(entry.second, 0);
  }
  EXPECT_EQ(keys, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StringToListCases,
                         ::testing::Values(ListCase{"items", u"News|Sport|", {u"News", u"Sport"}},
                                           ListCase{"tail_ignored", u"News|Sport", {u"News"}},
                                           ListCase{"escapes", u"a\\|b|c\\\\|", {u"a|b", u"c\\"}},
                                           ListCase{"colon_is_plain", u"a:b|", {u"a:b"}},
                                           ListCase{"duplicates_once", u"x|x|", {u"x"}},
                                           ListCase{"empty_item", u"|", {u""}},
                                           ListCase{"empty", u"", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- On a device ----------------------------------------------------------------

class FileUtilsTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    cardHost_ = device_.Scratch() + "/card";
    std::filesystem::create_directories(cardHost_);
    ASSERT_TRUE(MountFolder(u"\\Storage Card", cardHost_, true));
  }

  static void MakeFile(const std::u16string& path, const std::string& bytes = "data") {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
  }

  static std::string ReadFile(const std::u16string& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out;
    char buf[256];
    DWORD read = 0;
    while (plat::ReadFile(file, buf, sizeof buf, &read, nullptr) && read > 0) out.append(buf, read);
    CloseHandle(file);
    return out;
  }

  static std::vector<std::u16string> List(const std::u16string& folder, bool filesOnly) {
    std::vector<std::u16string> names;
    CFileFinder finder(folder, u"*.*", filesOnly);
    while (finder.FindNext()) names.push_back(finder.GetFileName());
    return names;
  }

  std::string cardHost_;
};

TEST_F(FileUtilsTest, Locations) {
  EXPECT_EQ(GetProgramFilesFolder(), u"\\Program Files");
  EXPECT_EQ(GetMyDocumentsFolder(), u"\\My Documents");
  EXPECT_EQ(GetSpecialFolderPath(0x7777, u"\\Fallback"), u"\\Fallback");
  EXPECT_EQ(GetInstallFolder(false), u"\\Program Files\\Orv News");
  EXPECT_EQ(GetInstallFolder(true), u"\\Program Files\\Orv News");
  EXPECT_EQ(GetDefaultContentFolder(), u"\\Program Files\\Orv News\\Content");
  EXPECT_EQ(GetContentFolder(), u"\\Program Files\\Orv News\\Content");
  // The settings read were created with their defaults.
  EXPECT_EQ(OpenSettingsKey().GetString(u"ContentFolder", nullptr), u"");
  EXPECT_EQ(OpenSettingsKey().GetString(u"InstallFolder", nullptr), u"");

  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Storage Card\\Orv"));
  EXPECT_EQ(GetInstallFolder(true), u"\\Storage Card\\Orv");
  EXPECT_EQ(GetInstallFolder(false), u"\\Program Files\\Orv News");
  EXPECT_EQ(GetDefaultContentFolder(), u"\\Storage Card\\Orv\\Content");
  ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Storage Card\\News"));
  EXPECT_EQ(GetContentFolder(), u"\\Storage Card\\News");
}

TEST_F(FileUtilsTest, ModuleFolderIsTheProgramsFolder) {
  std::u16string saved = ModuleDevicePath();
  SetModuleDevicePath(u"\\Storage Card\\Orv\\Orv News.exe");
  EXPECT_EQ(GetModuleFolder(), u"\\Storage Card\\Orv");
  SetModuleDevicePath(saved);
  EXPECT_EQ(GetModuleFolder(), u"\\Program Files\\Orv News");
}

TEST_F(FileUtilsTest, ExistenceTests) {
  ASSERT_TRUE(CreateFolderTree(u"\\Data\\Sub"));
  MakeFile(u"\\Data\\file.txt");
  EXPECT_TRUE(DirectoryExists(u"\\Data"));
  EXPECT_FALSE(DirectoryExists(u"\\Data\\file.txt"));
  EXPECT_FALSE(DirectoryExists(u"\\Missing"));
  EXPECT_FALSE(DirectoryExists(u""));
  EXPECT_TRUE(FileExists(u"\\Data\\file.txt"));
  EXPECT_TRUE(FileExists(u"\\DATA\\FILE.TXT"));  // names ignore case
  EXPECT_FALSE(FileExists(u"\\Data"));
  EXPECT_FALSE(FileExists(u"\\Data\\none.txt"));
  EXPECT_TRUE(IsFolderNotEmpty(u"\\Data"));
  EXPECT_FALSE(IsFolderNotEmpty(u"\\Data\\Sub"));
  EXPECT_FALSE(IsFolderNotEmpty(u"\\Missing"));
  EXPECT_FALSE(IsFolderNotEmpty(u"\\Data\\file.txt"));
  EXPECT_GT(GetFreeDiskSpace(u"\\"), 0u);
  EXPECT_GT(GetFreeDiskSpace(u"\\Storage Card"), 0u);
  EXPECT_EQ(GetFreeDiskSpace(u""), 0u);
}

TEST_F(FileUtilsTest, PathRootOfAStorageCard) {
  EXPECT_TRUE(IsPathRootAvailable(u"\\Storage Card\\News\\news.cnl"));
  EXPECT_TRUE(IsPathRootAvailable(u"\\Storage Card"));
  EXPECT_TRUE(IsPathRootAvailable(u"\\Program Files\\Orv News") == DirectoryExists(u"\\Program Files"));
  EXPECT_FALSE(IsPathRootAvailable(u"\\Other Card\\News"));
  EXPECT_FALSE(IsPathRootAvailable(u""));
  // A card taken out: its folder is gone from the device.
  std::filesystem::remove_all(cardHost_);
  EXPECT_FALSE(IsPathRootAvailable(u"\\Storage Card\\News\\news.cnl"));
}

TEST_F(FileUtilsTest, StorageCardsComeFromTheMounts) {
  EXPECT_EQ(GetStorageCardFolders(), (std::vector<std::u16string>{u"\\Storage Card"}));
  std::string second = device_.Scratch() + "/card2";
  std::filesystem::create_directories(second);
  ASSERT_TRUE(MountFolder(u"\\Storage Card2", second, true));
  std::vector<std::u16string> cards = GetStorageCardFolders();
  std::sort(cards.begin(), cards.end());
  EXPECT_EQ(cards, (std::vector<std::u16string>{u"\\Storage Card", u"\\Storage Card2"}));
  std::filesystem::remove_all(cardHost_);
  EXPECT_EQ(GetStorageCardFolders(), (std::vector<std::u16string>{u"\\Storage Card2"}));
  ASSERT_TRUE(UnmountFolder(u"\\Storage Card2"));
  EXPECT_TRUE(GetStorageCardFolders().empty());
}

TEST_F(FileUtilsTest, UniqueFileNames) {
  ASSERT_TRUE(CreateFolderTree(u"\\Images"));
  EXPECT_EQ(MakeUniqueFileName(u"\\Images", u"pic", u".jpg"), u"pic.jpg");
  MakeFile(u"\\Images\\pic.jpg");
  MakeFile(u"\\Images\\pic(1).jpg");
  EXPECT_EQ(MakeUniqueFileName(u"\\Images", u"pic", u".jpg"), u"pic(2).jpg");
  // A folder of the name does not count.
  ASSERT_TRUE(CreateFolderTree(u"\\Images\\pic(2).jpg"));
  EXPECT_EQ(MakeUniqueFileName(u"\\Images", u"pic", u".jpg"), u"pic(2).jpg");
}

TEST_F(FileUtilsTest, CreateFolderTree) {
  EXPECT_TRUE(CreateFolderTree(u"\\Storage Card\\Orv\\Content\\Channel 1"));
  EXPECT_TRUE(DirectoryExists(u"\\Storage Card\\Orv\\Content\\Channel 1"));
  EXPECT_TRUE(std::filesystem::is_directory(cardHost_ + "/Orv/Content/Channel 1"));
  EXPECT_TRUE(CreateFolderTree(u"\\Storage Card\\Orv"));  // already there
  EXPECT_TRUE(CreateFolderTree(u"\\Trailing\\"));
  EXPECT_TRUE(DirectoryExists(u"\\Trailing"));
  MakeFile(u"\\Storage Card\\blocker");
  EXPECT_FALSE(CreateFolderTree(u"\\Storage Card\\blocker\\below"));
  EXPECT_FALSE(CreateFolderTree(u"\\Bad\\\\Path"));
  EXPECT_FALSE(CreateFolderTree(u"relative\\path"));
  EXPECT_FALSE(DirectoryExists(u"\\Bad"));
}

TEST_F(FileUtilsTest, DeleteFolderTree) {
  ASSERT_TRUE(CreateFolderTree(u"\\Content\\A\\B"));
  MakeFile(u"\\Content\\top.txt");
  MakeFile(u"\\Content\\A\\a.txt");
  MakeFile(u"\\Content\\A\\B\\b.txt");
  MakeFile(u"\\Keep.txt");
  EXPECT_TRUE(DeleteFolderTree(u"\\Content"));
  EXPECT_FALSE(DirectoryExists(u"\\Content"));
  EXPECT_TRUE(FileExists(u"\\Keep.txt"));
  EXPECT_FALSE(DeleteFolderTree(u"\\Content"));
}

TEST_F(FileUtilsTest, DeleteFileIfExists) {
  MakeFile(u"\\x.txt");
  ASSERT_TRUE(CreateFolderTree(u"\\Folder"));
  EXPECT_TRUE(DeleteFileIfExists(u"\\x.txt"));
  EXPECT_FALSE(FileExists(u"\\x.txt"));
  EXPECT_TRUE(DeleteFileIfExists(u"\\x.txt"));  // nothing there
  EXPECT_TRUE(DeleteFileIfExists(u"\\Folder"));  // a folder is left alone
  EXPECT_TRUE(DirectoryExists(u"\\Folder"));
  MakeFile(u"\\ro.txt");
  ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFileIfExists(u"\\ro.txt"));
}

TEST_F(FileUtilsTest, MoveAndCopyReplacing) {
  MakeFile(u"\\new.bin", "new");
  MakeFile(u"\\old.bin", "old");
  EXPECT_TRUE(MoveFileReplacing(u"\\new.bin", u"\\old.bin"));
  EXPECT_FALSE(FileExists(u"\\new.bin"));
  EXPECT_EQ(ReadFile(u"\\old.bin"), "new");

  // A folder standing at the target is removed with its contents.
  MakeFile(u"\\src.bin", "src");
  ASSERT_TRUE(CreateFolderTree(u"\\target\\inner"));
  MakeFile(u"\\target\\inner\\f");
  EXPECT_TRUE(MoveFileReplacing(u"\\src.bin", u"\\target"));
  EXPECT_EQ(ReadFile(u"\\target"), "src");

  // Equal paths ignoring case: nothing to do.
  EXPECT_TRUE(MoveFileReplacing(u"\\target", u"\\TARGET"));
  EXPECT_EQ(ReadFile(u"\\target"), "src");

  // A missing source leaves the target as it is.
  EXPECT_FALSE(MoveFileReplacing(u"\\missing", u"\\target"));
  EXPECT_FALSE(CopyFileReplacing(u"\\missing", u"\\target"));
  EXPECT_EQ(ReadFile(u"\\target"), "src");

  MakeFile(u"\\copy-from", "copied");
  EXPECT_TRUE(CopyFileReplacing(u"\\copy-from", u"\\target"));
  EXPECT_EQ(ReadFile(u"\\target"), "copied");
  EXPECT_EQ(ReadFile(u"\\copy-from"), "copied");
  // Onto the card.
  EXPECT_TRUE(CopyFileReplacing(u"\\copy-from", u"\\Storage Card\\c"));
  EXPECT_EQ(orvtest::ReadHostFile(cardHost_ + "/c"), "copied");
}

TEST_F(FileUtilsTest, MoveContentFolderToTheCard) {
  ASSERT_TRUE(CreateFolderTree(u"\\Content\\Channel\\Images"));
  MakeFile(u"\\Content\\dataidx.bin", "index");
  MakeFile(u"\\Content\\Channel\\headers.bin", "headers");
  MakeFile(u"\\Content\\Channel\\Images\\a.jpg", "jpeg");
  ASSERT_TRUE(CreateFolderTree(u"\\Storage Card\\Content"));
  MakeFile(u"\\Storage Card\\Content\\dataidx.bin", "older index");

  EXPECT_TRUE(MoveFolderTree(u"\\Content", u"\\Storage Card\\Content"));
  EXPECT_FALSE(DirectoryExists(u"\\Content"));
  EXPECT_EQ(ReadFile(u"\\Storage Card\\Content\\dataidx.bin"), "index");
  EXPECT_EQ(ReadFile(u"\\Storage Card\\Content\\Channel\\headers.bin"), "headers");
  EXPECT_EQ(ReadFile(u"\\Storage Card\\Content\\Channel\\Images\\a.jpg"), "jpeg");
  EXPECT_EQ(orvtest::ReadHostFile(cardHost_ + "/Content/Channel/Images/a.jpg"), "jpeg");
}

TEST_F(FileUtilsTest, MoveFolderTreeStopsAtTheFirstFailure) {
  ASSERT_TRUE(CreateFolderTree(u"\\From\\Sub"));
  MakeFile(u"\\From\\Sub\\x.txt", "x");
  MakeFile(u"\\From\\a.txt", "a");
  ASSERT_TRUE(CreateFolderTree(u"\\To"));
  MakeFile(u"\\To\\Sub", "a file where a folder must go");
  EXPECT_FALSE(MoveFolderTree(u"\\From", u"\\To"));
  // Nothing was lost: the source keeps what was not moved.
  EXPECT_EQ(ReadFile(u"\\From\\Sub\\x.txt"), "x");
  EXPECT_EQ(ReadFile(u"\\From\\a.txt"), "a");
  EXPECT_EQ(ReadFile(u"\\To\\Sub"), "a file where a folder must go");
}

TEST_F(FileUtilsTest, MoveFolderTreeOntoItselfOrInsideItself) {
  ASSERT_TRUE(CreateFolderTree(u"\\Content\\Sub"));
  MakeFile(u"\\Content\\keep.txt", "keep");
  EXPECT_TRUE(MoveFolderTree(u"\\Content", u"\\CONTENT"));
  EXPECT_EQ(ReadFile(u"\\Content\\keep.txt"), "keep");
  EXPECT_FALSE(MoveFolderTree(u"\\Content", u"\\Content\\Sub\\Deeper"));
  EXPECT_EQ(ReadFile(u"\\Content\\keep.txt"), "keep");
  EXPECT_FALSE(DirectoryExists(u"\\Content\\Sub\\Deeper"));
  EXPECT_FALSE(MoveFolderTree(u"\\Missing", u"\\Elsewhere"));
  EXPECT_FALSE(DirectoryExists(u"\\Elsewhere"));
}

TEST_F(FileUtilsTest, FileFinderModes) {
  ASSERT_TRUE(CreateFolderTree(u"\\F\\Sub1"));
  ASSERT_TRUE(CreateFolderTree(u"\\F\\Sub2"));
  MakeFile(u"\\F\\a.txt");
  MakeFile(u"\\F\\b.cnl");
  EXPECT_EQ(List(u"\\F", true), (std::vector<std::u16string>{u"a.txt", u"b.cnl"}));
  EXPECT_EQ(List(u"\\F", false), (std::vector<std::u16string>{u"Sub1", u"Sub2"}));
  EXPECT_TRUE(List(u"\\Missing", true).empty());

  CFileFinder finder(u"\\F", u"*.cnl", true);
  ASSERT_TRUE(finder.FindNext());
  EXPECT_EQ(finder.GetFileName(), u"b.cnl");
  EXPECT_EQ(finder.GetFilePath(), u"\\F\\b.cnl");
  EXPECT_FALSE(finder.FindNext());
  // A further call starts over.
  ASSERT_TRUE(finder.FindNext());
  EXPECT_EQ(finder.GetFileName(), u"b.cnl");
}

TEST_F(FileUtilsTest, OpenFileHandle) {
  HANDLE file = OpenFileHandle(u"\\Storage Card\\h.bin", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(FileExists(u"\\Storage Card\\h.bin"));
  EXPECT_EQ(OpenFileHandle(u"\\Storage Card\\h.bin", GENERIC_WRITE, 0, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
}

TEST_F(FileUtilsTest, ReadWholeFileUpToItsBound) {
  const std::string big(70000, 'x');
  MakeFile(u"\\Storage Card\\big.bin", big);
  MakeFile(u"\\Storage Card\\empty.bin", "");
  struct Case {
    const char16_t* path;
    std::uint64_t maxBytes;
    bool ok;
    std::string bytes;
  } cases[] = {
      {u"\\Storage Card\\big.bin", big.size(), true, big},
      {u"\\Storage Card\\big.bin", big.size() - 1, false, ""},
      {u"\\Storage Card\\empty.bin", 0, true, ""},
      {u"\\Storage Card\\missing.bin", 100, false, ""},
      {u"\\Storage Card", 100, false, ""},  // a folder
  };
  for (const auto& c : cases) {
    std::string bytes = "left over";
    EXPECT_EQ(ReadWholeFile(c.path, bytes, c.maxBytes), c.ok) << Utf16ToUtf8(c.path) << " " << c.maxBytes;
    EXPECT_EQ(bytes, c.bytes) << Utf16ToUtf8(c.path) << " " << c.maxBytes;
    std::vector<std::uint8_t> raw{1, 2, 3};
    EXPECT_EQ(ReadWholeFile(c.path, raw, c.maxBytes), c.ok) << Utf16ToUtf8(c.path);
    EXPECT_EQ(std::string(raw.begin(), raw.end()), c.bytes) << Utf16ToUtf8(c.path);
  }
}

// The sharing asked for decides whether a file another handle writes can be
// read meanwhile.
TEST_F(FileUtilsTest, ReadWholeFileSharesAsAsked) {
  const std::u16string path = u"\\Storage Card\\shared.bin";
  MakeFile(path, "shared");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  std::string bytes;
  EXPECT_FALSE(ReadWholeFile(path, bytes, 100, 0));
  EXPECT_FALSE(ReadWholeFile(path, bytes, 100, FILE_SHARE_READ));
  EXPECT_TRUE(ReadWholeFile(path, bytes, 100, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(bytes, "shared");
  CloseHandle(writer);
  EXPECT_TRUE(ReadWholeFile(path, bytes, 100, 0));
  EXPECT_EQ(bytes, "shared");
}

}  // namespace
