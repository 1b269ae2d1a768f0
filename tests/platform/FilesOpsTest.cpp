// Files and folders by name: move, copy, delete, folders, attributes, find,
// safe replace, special folders, the program's path, free space.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class FilesOpsTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    SimulateDiskFull(-1);
    SimulateFlushFailure(-1);
    ResetFileFaults();
    SetModuleDevicePath(u"");
  }
  std::string Fs(const std::string& rel) const { return device_.FsRoot() + "/" + rel; }
  static bool HostExists(const std::string& hostPath) { return std::filesystem::exists(hostPath); }
  void HostDir(const std::string& rel) { std::filesystem::create_directories(Fs(rel)); }
  // Host entries of "\": the standard folders and the test's own, sorted.
  static std::vector<std::string> RootWith(std::vector<std::string> own) {
    for (const char* f : {"Application Data", "My Documents", "Program Files", "Temp", "Windows"}) own.push_back(f);
    std::sort(own.begin(), own.end());
    return own;
  }
  // Host entries of a folder, sorted.
  std::vector<std::string> HostNames(const std::string& rel) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Fs(rel))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Content of a device file, or "<missing>".
  static std::string Content(const std::u16string& name) {
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out(GetFileSize(h, nullptr), '\0');
    DWORD got = 0;
    if (!out.empty() && !ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr)) out = "<unreadable>";
    CloseHandle(h);
    return out;
  }
  struct Found {
    std::u16string name;
    DWORD attributes;
    DWORD size;
    bool operator==(const Found&) const = default;
  };
  static std::vector<Found> Find(const std::u16string& pattern, DWORD* error) {
    std::vector<Found> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return out;
    }
    do out.push_back({fd.cFileName, fd.dwFileAttributes, fd.nFileSizeLow}); while (FindNextFileW(h, &fd));
    *error = GetLastError();
    FindClose(h);
    return out;
  }
  // a.txt "A", b.txt "B", D\in.txt "I" in the host folder of "\".
  static void Populate(const std::string& fs) {
    std::filesystem::create_directories(fs + "/D");
    orvtest::WriteHostFile(fs + "/a.txt", "A");
    orvtest::WriteHostFile(fs + "/b.txt", "B");
    orvtest::WriteHostFile(fs + "/D/in.txt", "I");
  }
  void Populate() { Populate(device_.FsRoot()); }
};

enum class Op { Move, MoveReplace, Copy, CopyOver };

struct ChangeCase {
  Op op;
  const char16_t* from;
  const char16_t* to;
  bool ok;
  DWORD error;
  // Contents afterwards ("<missing>" for none).
  std::vector<std::pair<const char16_t*, const char*>> after;
};

TEST_F(FilesOpsTest, MoveAndCopyTable) {
  const ChangeCase cases[] = {
      {Op::Move, u"\\a.txt", u"\\c.txt", true, 0, {{u"\\a.txt", "<missing>"}, {u"\\c.txt", "A"}}},
      {Op::Move, u"\\A.TXT", u"\\b.txt", false, ERROR_ALREADY_EXISTS, {{u"\\a.txt", "A"}, {u"\\b.txt", "B"}}},
      {Op::Move, u"\\nothing.txt", u"\\x.txt", false, ERROR_FILE_NOT_FOUND, {{u"\\x.txt", "<missing>"}}},
      {Op::Move, u"\\a.txt", u"\\Nowhere\\x.txt", false, ERROR_PATH_NOT_FOUND, {{u"\\a.txt", "A"}}},
      {Op::Move, u"\\a.txt", u"\\d\\moved.txt", true, 0, {{u"\\a.txt", "<missing>"}, {u"\\D\\moved.txt", "A"}}},
      {Op::Move, u"\\D", u"\\E", true, 0, {{u"\\E\\in.txt", "I"}, {u"\\D\\in.txt", "<missing>"}}},
      {Op::Move, u"\\D", u"\\D\\Inside", false, ERROR_ACCESS_DENIED, {{u"\\D\\in.txt", "I"}}},
      {Op::MoveReplace, u"\\a.txt", u"\\b.txt", true, 0, {{u"\\a.txt", "<missing>"}, {u"\\b.txt", "A"}}},
      {Op::MoveReplace, u"\\a.txt", u"\\new.txt", true, 0, {{u"\\new.txt", "A"}}},
      {Op::MoveReplace, u"\\a.txt", u"\\D", false, ERROR_ACCESS_DENIED, {{u"\\a.txt", "A"}, {u"\\D\\in.txt", "I"}}},
      {Op::MoveReplace, u"\\D", u"\\b.txt", false, ERROR_ACCESS_DENIED, {{u"\\b.txt", "B"}, {u"\\D\\in.txt", "I"}}},
      {Op::Copy, u"\\a.txt", u"\\c.txt", true, 0, {{u"\\a.txt", "A"}, {u"\\c.txt", "A"}}},
      {Op::Copy, u"\\a.txt", u"\\B.TXT", false, ERROR_FILE_EXISTS, {{u"\\b.txt", "B"}}},
      {Op::CopyOver, u"\\a.txt", u"\\B.TXT", true, 0, {{u"\\a.txt", "A"}, {u"\\b.txt", "A"}}},
      {Op::CopyOver, u"\\a.txt", u"\\a.txt", false, ERROR_SHARING_VIOLATION, {{u"\\a.txt", "A"}}},
      {Op::Copy, u"\\D", u"\\x", false, ERROR_ACCESS_DENIED, {{u"\\x", "<missing>"}}},
      {Op::Copy, u"\\missing", u"\\x", false, ERROR_FILE_NOT_FOUND, {{u"\\x", "<missing>"}}},
      {Op::CopyOver, u"\\a.txt", u"\\D", false, ERROR_ACCESS_DENIED, {{u"\\D\\in.txt", "I"}}},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(i++) + ": " + Utf16ToUtf8(c.from) + " -> " + Utf16ToUtf8(c.to));
    orvtest::ScopedTempDevice fresh;  // each case on a device of its own
    Populate(fresh.FsRoot());
    SetLastError(0xDEAD);
    BOOL ok = FALSE;
    switch (c.op) {
      case Op::Move: ok = MoveFileW(c.from, c.to); break;
      case Op::MoveReplace: ok = MoveFileExW(c.from, c.to, MOVEFILE_REPLACE_EXISTING); break;
      case Op::Copy: ok = CopyFileW(c.from, c.to, TRUE); break;
      case Op::CopyOver: ok = CopyFileW(c.from, c.to, FALSE); break;
    }
    EXPECT_EQ(ok != FALSE, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    for (const auto& [name, content] : c.after) EXPECT_EQ(Content(name), content) << Utf16ToUtf8(name);
    // No side file or second case of a name is left behind.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(fresh.FsRoot())) names.push_back(e.path().filename());
    for (const auto& n : names) {
      EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
      EXPECT_NE(n, "B.TXT");
    }
  }
}

TEST_F(FilesOpsTest, ReplacingMoveOverOtherCaseKeepsOneEntry) {
  Populate();
  ASSERT_TRUE(MoveFileExW(u"\\a.txt", u"\\B.TXT", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(HostNames(""), RootWith({"D", "b.txt"}));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("b.txt")), "A");
}

TEST_F(FilesOpsTest, MoveAndCopyAcrossHostFileSystemsOfMounts) {
  Populate();
  const std::string card = device_.Scratch() + "/card";
  std::filesystem::create_directories(card);
  ASSERT_TRUE(MountFolder(u"\\Storage Card", card, true));
  ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(MoveFileW(u"\\a.txt", u"\\Storage Card\\a.txt"));
  EXPECT_EQ(orvtest::ReadHostFile(card + "/a.txt"), "A");
  EXPECT_FALSE(HostExists(Fs("a.txt")));
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\a.txt"), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\b.txt", FALSE));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("b.txt")), "A");
  EXPECT_EQ(GetFileAttributesW(u"\\b.txt"), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FilesOpsTest, DeleteTable) {
  Populate();
  orvtest::WriteHostFile(Fs("ro.txt"), "R");
  ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_READONLY));
  const struct {
    const char16_t* name;
    bool ok;
    DWORD error;
  } cases[] = {
      {u"\\A.txt", true, 0},
      {u"\\a.txt", false, ERROR_FILE_NOT_FOUND},
      {u"\\Nowhere\\a.txt", false, ERROR_PATH_NOT_FOUND},
      {u"\\D", false, ERROR_ACCESS_DENIED},
      {u"\\ro.txt", false, ERROR_ACCESS_DENIED},
      {u"\\", false, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    SetLastError(0xDEAD);
    EXPECT_EQ(DeleteFileW(c.name) != FALSE, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_FALSE(HostExists(Fs("a.txt")));
  EXPECT_TRUE(HostExists(Fs("ro.txt")));
  ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileW(u"\\ro.txt"));
  EXPECT_FALSE(HostExists(Fs("ro.txt")));
}

TEST_F(FilesOpsTest, FolderTable) {
  Populate();
  const struct {
    bool create;
    const char16_t* name;
    bool ok;
    DWORD error;
  } cases[] = {
      {true, u"\\New", true, 0},
      {true, u"\\new", false, ERROR_ALREADY_EXISTS},
      {true, u"\\a.txt", false, ERROR_ALREADY_EXISTS},
      {true, u"\\", false, ERROR_ALREADY_EXISTS},
      {true, u"\\Missing\\Sub", false, ERROR_PATH_NOT_FOUND},
      {true, u"\\NEW\\Sub", true, 0},
      {false, u"\\new", false, ERROR_DIR_NOT_EMPTY},
      {false, u"\\New\\SUB", true, 0},
      {false, u"\\New\\Sub", false, ERROR_FILE_NOT_FOUND},
      {false, u"\\Missing\\Sub", false, ERROR_PATH_NOT_FOUND},
      {false, u"\\a.txt", false, ERROR_ACCESS_DENIED},
      {false, u"\\", false, ERROR_ACCESS_DENIED},
      {false, u"\\d", false, ERROR_DIR_NOT_EMPTY},
      {false, u"\\New", true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.create ? "create " : "remove ") + Utf16ToUtf8(c.name));
    SetLastError(0xDEAD);
    const BOOL ok = c.create ? CreateDirectoryW(c.name, nullptr) : RemoveDirectoryW(c.name);
    EXPECT_EQ(ok != FALSE, c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_EQ(HostNames(""), RootWith({"D", "a.txt", "b.txt"}));
}

TEST_F(FilesOpsTest, AttributesTable) {
  orvtest::WriteHostFile(Fs("f.txt"), "f");
  HostDir("Dir");
  EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesW(u"\\DIR"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
  const struct {
    const char16_t* name;
    DWORD set;
    DWORD get;
  } cases[] = {
      {u"\\f.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
      {u"\\f.txt", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
      {u"\\F.TXT", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {u"\\f.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY,
       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY},
      {u"\\f.txt", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {u"\\Dir", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
      {u"\\Dir", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name) + " set " + std::to_string(c.set));
    ASSERT_TRUE(SetFileAttributesW(c.name, c.set));
    EXPECT_EQ(GetFileAttributesW(c.name), c.get);
  }
  SetLastError(0);
  EXPECT_EQ(GetFileAttributesW(u"\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(u"\\missing\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetFileAttributesW(u"\\missing", FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(FilesOpsTest, AttributesStayWithTheFile) {
  orvtest::WriteHostFile(Fs("f.txt"), "f");
  HostDir("Dir");
  const DWORD attrs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(SetFileAttributesW(u"\\f.txt", attrs));
  ASSERT_TRUE(SetFileAttributesW(u"\\Dir", FILE_ATTRIBUTE_READONLY));
  // Kept on the host entry, so another process (here: the same device opened
  // afresh) and a renamed file see them.
  plat::SetDeviceRoot(device_.Root());
  EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), attrs);
  ASSERT_TRUE(MoveFileW(u"\\f.txt", u"\\Dir\\g.txt"));
  EXPECT_EQ(GetFileAttributesW(u"\\Dir\\g.txt"), attrs);
  // A read-only folder still takes new files, as on the device.
  HANDLE h = CreateFileW(u"\\Dir\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  // Attributes given at creation.
  h = CreateFileW(u"\\hidden.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "x", 1, &n, nullptr));  // the creating handle writes even when read-only is asked
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(u"\\hidden.txt"),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("hidden.txt")), "x");
}

struct FindCase {
  const char16_t* pattern;
  std::vector<const char16_t*> names;  // empty: fails
  DWORD error;
};

TEST_F(FilesOpsTest, FindWithWildcards) {
  HostDir("F/dir");
  orvtest::WriteHostFile(Fs("F/a.cnl"), "1");
  orvtest::WriteHostFile(Fs("F/B.CNL"), "22");
  orvtest::WriteHostFile(Fs("F/c.txt"), "333");
  orvtest::WriteHostFile(Fs("F/abc.cnl.bak"), "4444");
  orvtest::WriteHostFile(Fs("F/noext"), "");
  const FindCase cases[] = {
      {u"\\F\\*", {u"a.cnl", u"abc.cnl.bak", u"B.CNL", u"c.txt", u"dir", u"noext"}, ERROR_NO_MORE_FILES},
      {u"\\f\\*.*", {u"a.cnl", u"abc.cnl.bak", u"B.CNL", u"c.txt", u"dir", u"noext"}, ERROR_NO_MORE_FILES},
      {u"\\F\\*.cnl", {u"a.cnl", u"B.CNL"}, ERROR_NO_MORE_FILES},
      {u"\\F\\*.CNL", {u"a.cnl", u"B.CNL"}, ERROR_NO_MORE_FILES},
      {u"\\F\\?.cnl", {u"a.cnl", u"B.CNL"}, ERROR_NO_MORE_FILES},
      {u"\\F\\a*", {u"a.cnl", u"abc.cnl.bak"}, ERROR_NO_MORE_FILES},
      {u"\\F\\*c*", {u"a.cnl", u"abc.cnl.bak", u"B.CNL", u"c.txt"}, ERROR_NO_MORE_FILES},
      {u"\\F\\??.cnl", {}, ERROR_FILE_NOT_FOUND},
      {u"\\F\\b.cnl", {u"B.CNL"}, ERROR_NO_MORE_FILES},
      {u"\\F\\*.xyz", {}, ERROR_FILE_NOT_FOUND},
      {u"\\F\\Dir\\*", {}, ERROR_FILE_NOT_FOUND},
      {u"\\Nope\\*", {}, ERROR_PATH_NOT_FOUND},
      {u"\\F\\c.txt\\*", {}, ERROR_PATH_NOT_FOUND},
      {u"\\F*\\*", {}, ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.pattern));
    DWORD error = 0;
    const auto found = Find(c.pattern, &error);
    std::vector<std::u16string> names;
    for (const auto& f : found) names.push_back(f.name);
    EXPECT_EQ(names, std::vector<std::u16string>(c.names.begin(), c.names.end()));
    EXPECT_EQ(error, c.error);
  }
  DWORD error = 0;
  const auto all = Find(u"\\F\\*", &error);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], (Found{u"a.cnl", FILE_ATTRIBUTE_ARCHIVE, 1}));
  EXPECT_EQ(all[3], (Found{u"c.txt", FILE_ATTRIBUTE_ARCHIVE, 3}));
  EXPECT_EQ(all[4], (Found{u"dir", FILE_ATTRIBUTE_DIRECTORY, 0}));
  // The handle ends with ERROR_NO_MORE_FILES and keeps saying so.
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(u"\\F\\c.txt", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(h, &fd));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_FALSE(FindNextFileW(h, &fd));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(FilesOpsTest, ReplaceFileContentsTable) {
  HostDir("R");
  orvtest::WriteHostFile(Fs("R/target.bin"), "old contents");
  ASSERT_TRUE(SetFileAttributesW(u"\\R\\target.bin", FILE_ATTRIBUTE_HIDDEN));
  orvtest::WriteHostFile(Fs("R/ro.bin"), "read-only");
  ASSERT_TRUE(SetFileAttributesW(u"\\R\\ro.bin", FILE_ATTRIBUTE_READONLY));
  const struct {
    const char16_t* name;
    const char* data;
    std::int64_t diskLeft;  // -1: no limit
    bool ok;
    DWORD error;
    const char* hostName;
    const char* after;
  } cases[] = {
      {u"\\R\\TARGET.BIN", "short", -1, true, 0, "target.bin", "short"},
      {u"\\R\\target.bin", "a much longer new content", 5, false, ERROR_DISK_FULL, "target.bin", "short"},
      {u"\\R\\target.bin", "x", 0, false, ERROR_DISK_FULL, "target.bin", "short"},
      {u"\\R\\new.bin", "fresh", -1, true, 0, "new.bin", "fresh"},
      {u"\\R\\other.bin", "never", 2, false, ERROR_DISK_FULL, "other.bin", nullptr},
      {u"\\R\\ro.bin", "changed", -1, false, ERROR_ACCESS_DENIED, "ro.bin", "read-only"},
      {u"\\R", "folder", -1, false, ERROR_ACCESS_DENIED, "target.bin", "short"},
      {u"\\Missing\\x.bin", "x", -1, false, ERROR_PATH_NOT_FOUND, "x.bin", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name) + " <- " + c.data);
    SimulateDiskFull(c.diskLeft);
    SetLastError(0xDEAD);
    EXPECT_EQ(ReplaceFileContents(c.name, c.data, std::strlen(c.data)), c.ok);
    SimulateDiskFull(-1);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    const std::string host = Fs(std::string("R/") + c.hostName);
    if (c.after) {
      EXPECT_EQ(orvtest::ReadHostFile(host), c.after);
    } else {
      EXPECT_FALSE(HostExists(host));
    }
    // The side file never stays.
    for (const auto& n : HostNames("R")) EXPECT_TRUE(n == "target.bin" || n == "ro.bin" || n == "new.bin") << n;
  }
  EXPECT_EQ(GetFileAttributesW(u"\\R\\target.bin"), FILE_ATTRIBUTE_HIDDEN);
}

// A batch of a file changed in place and three replaced ones: a flush that
// fails, whichever it is, fails the batch before any rename and leaves no
// side file.
TEST_F(FilesOpsTest, ReplaceBatchFailsWholeWhenAnyFlushFails) {
  const char* names[] = {"one.bin", "two.bin", "three.bin"};
  for (int failing = -1; failing < 4; ++failing) {
    SCOPED_TRACE("failing flush " + std::to_string(failing));
    std::filesystem::remove_all(Fs("B"));
    HostDir("B");
    orvtest::WriteHostFile(Fs("B/inplace.bin"), "kept");
    for (const char* name : names) orvtest::WriteHostFile(Fs(std::string("B/") + name), std::string("old ") + name);
    FileReplaceBatch batch;
    ASSERT_TRUE(batch.AddFlush(u"\\B\\inplace.bin"));
    for (const char* name : names) {
      const std::string data = std::string("new ") + name;
      ASSERT_TRUE(batch.Add(u"\\B\\" + Utf8ToUtf16(name), data.data(), data.size()));
    }
    SimulateFlushFailure(failing);
    SetLastError(0);
    const bool committed = batch.Commit();
    SimulateFlushFailure(-1);
    EXPECT_EQ(committed, failing < 0);
    if (!committed) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    }
    for (const char* name : names) {
      EXPECT_EQ(orvtest::ReadHostFile(Fs(std::string("B/") + name)), std::string(committed ? "new " : "old ") + name);
    }
    EXPECT_EQ(HostNames("B"), (std::vector<std::string>{"inplace.bin", "one.bin", "three.bin", "two.bin"}));
  }
}

// Each kind of injected failure fails exactly the n-th call of its kind: a
// replacement (one open for writing, one write, one flush, one rename) fails
// whole and leaves the old file; the next one goes in.
TEST_F(FilesOpsTest, InjectedFailureFailsTheNthCallOfItsKind) {
  struct Case {
    FileOperation kind;
    DWORD error;
  };
  const Case cases[] = {{FileOperation::kOpenForWrite, ERROR_ACCESS_DENIED},
                        {FileOperation::kWrite, ERROR_WRITE_FAULT},
                        {FileOperation::kFlush, ERROR_WRITE_FAULT},
                        {FileOperation::kRename, ERROR_ACCESS_DENIED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    orvtest::WriteHostFile(Fs("f.bin"), "old");
    ResetFileFaults();
    FailFileOperation(c.kind, 2);
    EXPECT_TRUE(ReplaceFileContents(u"\\f.bin", "one", 3));
    EXPECT_EQ(CountFileOperations(c.kind), 1);
    SetLastError(0);
    EXPECT_FALSE(ReplaceFileContents(u"\\f.bin", "two", 3));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(orvtest::ReadHostFile(Fs("f.bin")), "one");
    EXPECT_TRUE(ReplaceFileContents(u"\\f.bin", "three", 5));
    EXPECT_EQ(orvtest::ReadHostFile(Fs("f.bin")), "three");
    EXPECT_EQ(HostNames(""), RootWith({"f.bin"}));
    std::filesystem::remove(Fs("f.bin"));
  }
  // Handles: an open for writing, a write, a flush, a move.
  ResetFileFaults();
  FailFileOperation(FileOperation::kOpenForWrite, 1);
  EXPECT_EQ(CreateFileW(u"\\h.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(HostExists(Fs("h.bin")));
  HANDLE h = CreateFileW(u"\\h.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FailFileOperation(FileOperation::kWrite, CountFileOperations(FileOperation::kWrite) + 1);
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(h, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  FailFileOperation(FileOperation::kFlush, CountFileOperations(FileOperation::kFlush) + 1);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  FailFileOperation(FileOperation::kRename, CountFileOperations(FileOperation::kRename) + 1);
  EXPECT_FALSE(MoveFileW(u"\\h.bin", u"\\g.bin"));
  EXPECT_TRUE(MoveFileW(u"\\h.bin", u"\\g.bin"));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("g.bin")), "abc");
}

// A read-only path refuses every change at or below it, for any user (root
// included), and nothing beside it.
TEST_F(FilesOpsTest, ReadOnlyPathRefusesChangesForAnyUser) {
  HostDir("RO/sub");
  HostDir("ROX");
  orvtest::WriteHostFile(Fs("RO/sub/a.txt"), "A");
  orvtest::WriteHostFile(Fs("x.txt"), "X");
  SetReadOnlyPath(u"\\RO");
  EXPECT_EQ(CreateFileW(u"\\RO\\sub\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFileW(u"\\RO\\b.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceFileContents(u"\\RO\\sub\\a.txt", "B", 1));
  EXPECT_FALSE(DeleteFileW(u"\\RO\\sub\\a.txt"));
  EXPECT_FALSE(MoveFileW(u"\\RO\\sub\\a.txt", u"\\a.txt"));
  EXPECT_FALSE(MoveFileW(u"\\x.txt", u"\\RO\\x.txt"));
  EXPECT_FALSE(CreateDirectoryW(u"\\RO\\new", nullptr));
  EXPECT_FALSE(CopyFileW(u"\\x.txt", u"\\RO\\x.txt", FALSE));
  // Reading goes on; a folder that only begins with the same name is not in it.
  HANDLE h = CreateFileW(u"\\RO\\sub\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(ReplaceFileContents(u"\\ROX\\y.txt", "Y", 1));
  ResetFileFaults();
  EXPECT_TRUE(ReplaceFileContents(u"\\RO\\sub\\a.txt", "B", 1));
  EXPECT_EQ(orvtest::ReadHostFile(Fs("RO/sub/a.txt")), "B");
  EXPECT_EQ(orvtest::ReadHostFile(Fs("x.txt")), "X");
}

// A rename that fails, whichever it is, puts back the files renamed before
// it: the batch goes in whole or not at all, and leaves no side file.
TEST_F(FilesOpsTest, ReplaceBatchFailsWholeWhenAnyRenameFails) {
  const char* names[] = {"one.bin", "two.bin", "new.bin", "three.bin"};
  for (int failing = 0; failing <= 4; ++failing) {
    SCOPED_TRACE("failing rename " + std::to_string(failing));
    std::filesystem::remove_all(Fs("B"));
    HostDir("B");
    for (const char* name : names) {
      if (std::string(name) != "new.bin") orvtest::WriteHostFile(Fs(std::string("B/") + name), std::string("old ") + name);
    }
    FileReplaceBatch batch;
    for (const char* name : names) {
      const std::string data = std::string("new ") + name;
      ASSERT_TRUE(batch.Add(u"\\B\\" + Utf8ToUtf16(name), data.data(), data.size()));
    }
    ResetFileFaults();
    FailFileOperation(FileOperation::kRename, failing);
    const bool committed = batch.Commit();
    ResetFileFaults();
    EXPECT_EQ(committed, failing == 0);
    for (const char* name : names) {
      const std::string path = Fs(std::string("B/") + name);
      if (committed) {
        EXPECT_EQ(orvtest::ReadHostFile(path), std::string("new ") + name);
      } else if (std::string(name) == "new.bin") {
        EXPECT_FALSE(HostExists(path));
      } else {
        EXPECT_EQ(orvtest::ReadHostFile(path), std::string("old ") + name);
      }
    }
    EXPECT_EQ(HostNames("B").size(), committed ? 4u : 3u);
  }
}

TEST_F(FilesOpsTest, CopyThatFailsLeavesTargetWhole) {
  Populate();
  SimulateDiskFull(0);
  EXPECT_FALSE(CopyFileW(u"\\a.txt", u"\\b.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  SimulateDiskFull(-1);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("b.txt")), "B");
  EXPECT_EQ(HostNames(""), RootWith({"D", "a.txt", "b.txt"}));
}

TEST_F(FilesOpsTest, SpecialFoldersAndTempPath) {
  const struct {
    int csidl;
    const char16_t* path;
    bool standard;  // every device has it from the start
  } cases[] = {
      {CSIDL_PERSONAL, u"\\My Documents", true},
      {CSIDL_PROGRAM_FILES, u"\\Program Files", true},
      {CSIDL_WINDOWS, u"\\Windows", true},
      {CSIDL_APPDATA, u"\\Application Data", true},
      {CSIDL_STARTUP, u"\\Windows\\StartUp", false},
      {CSIDL_PROGRAMS, u"\\Windows\\Start Menu\\Programs", false},
      {CSIDL_MYPICTURES, u"\\My Documents\\My Pictures", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.path));
    WCHAR buf[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, c.csidl, FALSE));
    EXPECT_EQ(std::u16string(buf), c.path);
    EXPECT_EQ(GetFileAttributesW(c.path), c.standard ? FILE_ATTRIBUTE_DIRECTORY : INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, c.csidl, TRUE));
    EXPECT_EQ(GetFileAttributesW(c.path), FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, c.csidl, TRUE));  // already there
  }
  WCHAR buf[MAX_PATH];
  EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, buf, 0x7777, FALSE));

  EXPECT_EQ(GetTempPathW(MAX_PATH, buf), 6u);
  EXPECT_EQ(std::u16string(buf), u"\\Temp\\");
  EXPECT_EQ(GetFileAttributesW(u"\\Temp"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetTempPathW(3, buf), 7u);  // too small: the size needed
}

TEST_F(FilesOpsTest, ModuleFileNameIsADevicePath) {
  WCHAR buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  const std::u16string def(buf, n);
  EXPECT_EQ(def.rfind(u"\\Program Files\\Orv News\\", 0), 0u) << Utf16ToUtf8(def);
  EXPECT_NE(def.find(u"test_platform"), std::u16string::npos) << Utf16ToUtf8(def);
  EXPECT_EQ(ModuleDevicePath(), def);

  const std::u16string program = u"\\Program Files\\Orv News\\Orv News.exe";
  SetModuleDevicePath(program);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), program.size());
  EXPECT_EQ(std::u16string(buf), program);
  WCHAR small[8];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(small), u"\\Progra");
  SetModuleDevicePath(u"");
  EXPECT_EQ(std::u16string(buf, GetModuleFileNameW(nullptr, buf, MAX_PATH)), def);
}

TEST_F(FilesOpsTest, FreeSpaceOfTheHostFolderBehindThePath) {
  ULARGE_INTEGER avail{}, total{}, free{};
  HostDir("My Documents");
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"\\My Documents", &avail, &total, &free));
  struct statvfs vfs;
  ASSERT_EQ(statvfs(device_.FsRoot().c_str(), &vfs), 0);
  EXPECT_EQ(total.QuadPart, static_cast<ULONGLONG>(vfs.f_frsize) * vfs.f_blocks);
  EXPECT_GT(total.QuadPart, 0u);
  EXPECT_LE(avail.QuadPart, free.QuadPart);
  EXPECT_LE(free.QuadPart, total.QuadPart);
  EXPECT_FALSE(GetDiskFreeSpaceExW(u"\\Missing", &avail, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

}  // namespace
