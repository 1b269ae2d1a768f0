// Device paths onto host folders: case-insensitive names, "." and "..",
// refused names, mounts and storage cards.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class FilesPathTest : public orvtest::DeviceTest {
 protected:
  std::string Fs(const std::string& rel) const { return rel.empty() ? device_.FsRoot() : device_.FsRoot() + "/" + rel; }
  void HostDir(const std::string& hostPath) { std::filesystem::create_directories(hostPath); }
  static bool HostExists(const std::string& hostPath) {
    struct stat st;
    return ::lstat(hostPath.c_str(), &st) == 0;
  }
  std::vector<std::u16string> List(const std::u16string& pattern) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(fd.cFileName); while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
  }
};

struct MapCase {
  const char16_t* device;
  const char* host;  // relative to the device's fs folder; nullptr: fails
  DWORD error;       // when it fails
};

TEST_F(FilesPathTest, MapsDevicePathsIgnoringCase) {
  HostDir(Fs("My Documents/Sub"));
  orvtest::WriteHostFile(Fs("My Documents/a.cnl"), "a");
  orvtest::WriteHostFile(Fs("My Documents/Sub/Deep.txt"), "d");
  const char* accented = "My Documents/\xc3\x9c" "ber \xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8.txt";
  orvtest::WriteHostFile(Fs(accented), "u");  // "Über Новости.txt" in UTF-8

  const MapCase cases[] = {
      {u"\\", "", 0},
      {u"\\My Documents\\a.cnl", "My Documents/a.cnl", 0},
      {u"\\MY DOCUMENTS\\A.CNL", "My Documents/a.cnl", 0},
      {u"\\my documents\\sub\\DEEP.TXT", "My Documents/Sub/Deep.txt", 0},
      {u"\\My Documents\\Sub\\", "My Documents/Sub", 0},
      {u"\\my documents\\\u00fcBER \u043d\u041e\u0412\u041e\u0421\u0422\u0418.TXT",
       accented, 0},
      {u"\\My Documents\\New File.TXT", "My Documents/New File.TXT", 0},
      {u"\\My Documents\\New Folder\\x.txt", nullptr, ERROR_PATH_NOT_FOUND},
      {u"\\My Documents\\a.cnl\\x", nullptr, ERROR_PATH_NOT_FOUND},
      {u"\\.\\My Documents\\.\\a.cnl", "My Documents/a.cnl", 0},
      {u"\\My Documents\\Sub\\..\\a.cnl", "My Documents/a.cnl", 0},
      {u"\\My Documents\\..\\..\\..\\escape.txt", "escape.txt", 0},
      {u"\\..", "", 0},
      {u"\\My Documents/a.cnl", nullptr, ERROR_INVALID_NAME},
      {u"\\My Documents\\..\\..\\/etc", nullptr, ERROR_INVALID_NAME},
      {u"C:\\My Documents", nullptr, ERROR_INVALID_NAME},
      {u"\\C:\\x", nullptr, ERROR_INVALID_NAME},
      {u"My Documents\\a.cnl", nullptr, ERROR_INVALID_NAME},
      {u"", nullptr, ERROR_INVALID_NAME},
      {u"\\a\x01" u"b", nullptr, ERROR_INVALID_NAME},
      {u"\\a*b", nullptr, ERROR_INVALID_NAME},
      {u"\\a?b", nullptr, ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.device));
    SetLastError(0xDEAD);
    const std::string host = HostPathFromDevicePath(c.device);
    if (c.host) {
      EXPECT_EQ(host, Fs(c.host));
    } else {
      EXPECT_EQ(host, "");
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
}

TEST_F(FilesPathTest, DeviceStartsWithTheStandardFolders) {
  HostDir(Fs("windows"));  // made by hand under another case: kept, not doubled
  EXPECT_EQ(List(u"\\*"), (std::vector<std::u16string>{u"Application Data", u"My Documents", u"Program Files",
                                                        u"Temp", u"windows"}));
  // A device that lost one gets it back when it is next opened.
  orvtest::RemoveTree(Fs("Temp"));
  plat::SetDeviceRoot(device_.Root());
  EXPECT_EQ(GetFileAttributesW(u"\\Temp"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(HostExists(Fs("Temp")));
  EXPECT_FALSE(HostExists(Fs("Windows")));
}

TEST_F(FilesPathTest, OverlongPathIsRefused) {
  const std::u16string longPath = u"\\" + std::u16string(MAX_PATH, u'x');
  EXPECT_EQ(HostPathFromDevicePath(longPath), "");
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(FilesPathTest, NamesDifferingOnlyInCaseResolveTheSameWayEveryTime) {
  orvtest::WriteHostFile(Fs("dup.txt"), "lower");
  orvtest::WriteHostFile(Fs("DUP.txt"), "upper");
  // An exact match wins; otherwise the first name in byte order.
  EXPECT_EQ(HostPathFromDevicePath(u"\\dup.txt"), Fs("dup.txt"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\DUP.txt"), Fs("DUP.txt"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(HostPathFromDevicePath(u"\\Dup.TXT"), Fs("DUP.txt"));
}

TEST_F(FilesPathTest, NewEntriesKeepTheCaseGiven) {
  ASSERT_TRUE(CreateDirectoryW(u"\\Feeds", nullptr));
  HANDLE h = CreateFileW(u"\\FEEDS\\MixedCase.Cnl", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(HostExists(Fs("Feeds/MixedCase.Cnl")));
  EXPECT_FALSE(HostExists(Fs("FEEDS")));
  // Creating it again under another case finds the same file.
  h = CreateFileW(u"\\feeds\\mixedcase.cnl", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(List(u"\\Feeds\\*"), std::vector<std::u16string>{u"MixedCase.Cnl"});
}

TEST_F(FilesPathTest, RenameThatOnlyChangesCase) {
  orvtest::WriteHostFile(Fs("news.cnl"), "x");
  HostDir(Fs("folder"));
  ASSERT_TRUE(MoveFileW(u"\\news.cnl", u"\\News.CNL"));
  ASSERT_TRUE(MoveFileW(u"\\folder", u"\\Folder"));
  EXPECT_FALSE(HostExists(Fs("news.cnl")));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("News.CNL")), "x");
  EXPECT_TRUE(HostExists(Fs("Folder")));
  EXPECT_FALSE(HostExists(Fs("folder")));
  // Renaming to the same name is nothing to do.
  EXPECT_TRUE(MoveFileW(u"\\News.CNL", u"\\News.CNL"));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("News.CNL")), "x");
}

TEST_F(FilesPathTest, MountedFolderAndDeepestMountWins) {
  const std::string outer = device_.Scratch() + "/install";
  const std::string inner = device_.Scratch() + "/data";
  HostDir(outer + "/Sub");
  HostDir(inner);
  orvtest::WriteHostFile(outer + "/Orv News.exe", "program");
  orvtest::WriteHostFile(inner + "/lang.txt", "inner");
  ASSERT_TRUE(MountFolder(u"\\Program Files\\Orv News", outer, false));
  ASSERT_TRUE(MountFolder(u"\\Program Files\\Orv News\\Data", inner, false));

  const std::pair<const char16_t*, std::string> cases[] = {
      {u"\\program files\\ORV NEWS\\orv news.EXE", outer + "/Orv News.exe"},
      {u"\\Program Files\\Orv News\\data\\LANG.txt", inner + "/lang.txt"},
      {u"\\Program Files\\Orv News\\Data\\..\\Sub", outer + "/Sub"},
      {u"\\Program Files\\Orv News\\Sub\\..\\..\\x", Fs("Program Files/x")},
      {u"\\Program Files\\Orv News\\..\\..\\..\\y", Fs("y")},
  };
  for (const auto& [device, host] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(device));
    EXPECT_EQ(HostPathFromDevicePath(device), host);
  }

  // The mount point is listed in its parent, which was made on the device.
  EXPECT_EQ(List(u"\\Program Files\\*"), std::vector<std::u16string>{u"Orv News"});
  EXPECT_EQ(List(u"\\Program Files\\Orv News\\*"),
            (std::vector<std::u16string>{u"Data", u"Orv News.exe", u"Sub"}));
  EXPECT_EQ(GetFileAttributesW(u"\\Program Files\\Orv News"), FILE_ATTRIBUTE_DIRECTORY);

  // Files written through the mount land in the host folder.
  HANDLE h = CreateFileW(u"\\Program Files\\Orv News\\Data\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(HostExists(inner + "/new.bin"));

  // A mount point cannot be removed, moved or opened as a file.
  EXPECT_FALSE(RemoveDirectoryW(u"\\Program Files\\Orv News"));
  EXPECT_FALSE(RemoveDirectoryW(u"\\Program Files"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(MoveFileW(u"\\Program Files\\Orv News", u"\\Elsewhere"));
  EXPECT_FALSE(MoveFileW(u"\\Program Files", u"\\Elsewhere"));
  EXPECT_TRUE(HostExists(outer + "/Orv News.exe"));

  ASSERT_TRUE(UnmountFolder(u"\\program files\\orv news\\data"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\Program Files\\Orv News\\Data"), outer + "/Data");
  EXPECT_FALSE(UnmountFolder(u"\\Program Files\\Orv News\\Data"));
}

TEST_F(FilesPathTest, MountRefusesMissingHostFolderAndBadCards) {
  EXPECT_FALSE(MountFolder(u"\\Mnt", device_.Scratch() + "/missing", false));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  HostDir(device_.Scratch() + "/card");
  EXPECT_FALSE(MountFolder(u"\\Cards\\One", device_.Scratch() + "/card", true));
  EXPECT_FALSE(MountFolder(u"\\", device_.Scratch() + "/card", false));
  EXPECT_FALSE(MountFolder(u"Storage Card", device_.Scratch() + "/card", true));
}

TEST_F(FilesPathTest, StorageCardIsListedAndDisappearsWithItsFolder) {
  const std::string card = device_.Scratch() + "/sdcard";
  HostDir(card + "/Feeds");
  orvtest::WriteHostFile(card + "/Feeds/news.cnl", "n");
  HostDir(Fs("storage card"));  // a stray folder of that name, hidden by the card
  ASSERT_TRUE(MountFolder(u"\\Storage Card", card, true));

  const DWORD cardAttrs = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card"), cardAttrs);
  EXPECT_EQ(GetFileAttributesW(u"\\STORAGE CARD\\feeds\\NEWS.cnl") & FILE_ATTRIBUTE_DIRECTORY, 0u);

  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(u"\\*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<std::pair<std::u16string, DWORD>> root;
  do root.emplace_back(fd.cFileName, fd.dwFileAttributes); while (FindNextFileW(h, &fd));
  FindClose(h);
  const DWORD dir = FILE_ATTRIBUTE_DIRECTORY;
  const std::vector<std::pair<std::u16string, DWORD>> expectRoot = {
      {u"Application Data", dir}, {u"My Documents", dir}, {u"Program Files", dir},
      {u"Storage Card", cardAttrs}, {u"Temp", dir},       {u"Windows", dir}};
  EXPECT_EQ(root, expectRoot);

  h = FindFirstFlashCard(&fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(fd.cFileName), u"Storage Card");
  EXPECT_EQ(fd.dwFileAttributes, cardAttrs);
  EXPECT_FALSE(FindNextFlashCard(h, &fd));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(h);

  // The card is taken out.
  orvtest::RemoveTree(card);
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\Feeds"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFlashCard(&fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_EQ(List(u"\\*"), (std::vector<std::u16string>{u"Application Data", u"My Documents", u"Program Files",
                                                        u"Temp", u"Windows"}));
  EXPECT_EQ(CreateFileW(u"\\Storage Card\\x.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CreateDirectoryW(u"\\Storage Card", nullptr));
  EXPECT_FALSE(HostExists(Fs("Storage Card")));

  // ... and put back.
  HostDir(card);
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card"), cardAttrs);
}

TEST_F(FilesPathTest, MountsAreForgottenWhenTheDeviceChanges) {
  HostDir(device_.Scratch() + "/m");
  ASSERT_TRUE(MountFolder(u"\\Storage Card", device_.Scratch() + "/m", true));
  EXPECT_EQ(HostPathFromDevicePath(u"\\Storage Card\\x"), device_.Scratch() + "/m/x");
  orvtest::ScopedTempDevice other;
  EXPECT_EQ(HostPathFromDevicePath(u"\\Storage Card\\x"), "");
  EXPECT_EQ(HostPathFromDevicePath(u"\\Storage Card"), other.FsRoot() + "/Storage Card");
  WIN32_FIND_DATAW fd;
  EXPECT_EQ(FindFirstFlashCard(&fd), INVALID_HANDLE_VALUE);
}

}  // namespace
