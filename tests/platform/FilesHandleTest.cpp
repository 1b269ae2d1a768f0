// Files through handles: dispositions, reading, writing, seeking, sizes,
// times, sharing between handles and processes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class FilesHandleTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override { SimulateDiskFull(-1); }
  std::string Fs(const std::string& rel) const { return device_.FsRoot() + "/" + rel; }
  static bool HostExists(const std::string& hostPath) { return std::filesystem::exists(hostPath); }

  static HANDLE Open(const char16_t* name, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static std::string ReadAll(HANDLE h) {
    std::string out;
    char buf[7];  // small, so reads take several calls
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    return out;
  }
  static bool WriteText(HANDLE h, const std::string& s) {
    DWORD written = 0;
    return WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &written, nullptr) && written == s.size();
  }
};

struct DispositionCase {
  DWORD disposition;
  bool exists;
  bool opens;
  DWORD error;
  const char* contentAfter;  // nullptr: no file afterwards
};

TEST_F(FilesHandleTest, EveryDispositionOnExistingAndMissingFiles) {
  const DispositionCase cases[] = {
      {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "case" + std::to_string(n++) + ".bin";
    SCOPED_TRACE(name + " disposition " + std::to_string(c.disposition) + (c.exists ? " existing" : " missing"));
    if (c.exists) orvtest::WriteHostFile(Fs(name), "old");
    // Looked up under another case than the host file's.
    const std::u16string device = u"\\CASE" + Utf8ToUtf16(name.substr(4));
    SetLastError(0xDEAD);
    HANDLE h = Open(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(GetLastError(), c.error);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(ReadAll(h), c.contentAfter ? c.contentAfter : "");
      EXPECT_TRUE(CloseHandle(h));
    }
    const std::string host = Fs(c.exists ? name : "CASE" + name.substr(4));
    if (c.contentAfter) {
      ASSERT_TRUE(HostExists(host));
      EXPECT_EQ(orvtest::ReadHostFile(host), c.contentAfter);
    } else {
      EXPECT_FALSE(HostExists(host));
    }
  }
}

struct OpenFailCase {
  const char16_t* name;
  DWORD access;
  DWORD disposition;
  DWORD error;
};

TEST_F(FilesHandleTest, OpenFailuresReportTheirReason) {
  std::filesystem::create_directories(Fs("Dir"));
  orvtest::WriteHostFile(Fs("ro.txt"), "keep");
  ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_READONLY));
  const OpenFailCase cases[] = {
      {u"\\Dir", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\dir", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {u"\\", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\ro.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\RO.TXT", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {u"\\ro.txt", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
      {u"\\ro.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
      {u"\\Missing\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {u"\\Missing\\x.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {u"\\x.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
      {u"\\x.txt", GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
      {u"\\a:b.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_INVALID_NAME},
      {u"relative.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name) + " disposition " + std::to_string(c.disposition));
    SetLastError(0xDEAD);
    EXPECT_EQ(Open(c.name, c.access, 0, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(orvtest::ReadHostFile(Fs("ro.txt")), "keep");
  EXPECT_FALSE(HostExists(Fs("x.txt")));
  // Reading a read-only file works.
  HANDLE h = Open(u"\\ro.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(h), "keep");
  CloseHandle(h);
}

TEST_F(FilesHandleTest, ReadWriteSeekTruncate) {
  HANDLE h = Open(u"\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteText(h, "hello world"));
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 11u);
  EXPECT_EQ(high, 0u);

  struct SeekCase {
    LONG distance;
    DWORD method;
    DWORD expect;  // new position, or INVALID_SET_FILE_POINTER
  };
  const SeekCase seeks[] = {
      {0, FILE_BEGIN, 0},       {6, FILE_BEGIN, 6},  {-2, FILE_CURRENT, 4},
      {-5, FILE_END, 6},        {3, FILE_END, 14},   {-1, FILE_BEGIN, INVALID_SET_FILE_POINTER},
      {-100, FILE_CURRENT, INVALID_SET_FILE_POINTER}, {0, 3, INVALID_SET_FILE_POINTER},
  };
  DWORD pos = 0;
  for (const auto& s : seeks) {
    SCOPED_TRACE("seek " + std::to_string(s.distance) + " method " + std::to_string(s.method));
    const DWORD got = SetFilePointer(h, s.distance, nullptr, s.method);
    EXPECT_EQ(got, s.expect);
    if (s.expect == INVALID_SET_FILE_POINTER) {
      EXPECT_NE(GetLastError(), ERROR_SUCCESS);
      // A failed move leaves the position where it was.
      EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), pos);
    } else {
      pos = got;
    }
  }

  ASSERT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "world");
  // At the end a read succeeds with nothing.
  ASSERT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
  EXPECT_EQ(got, 0u);

  // Overwrite in the middle, cut, then extend with zeros.
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  ASSERT_TRUE(WriteText(h, "J"));
  ASSERT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  ASSERT_EQ(SetFilePointer(h, 8, nullptr, FILE_BEGIN), 8u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("data.bin")), std::string("Jello\0\0\0", 8));
}

TEST_F(FilesHandleTest, PositionsAndSizesBeyondFourGigabytes) {
  HANDLE h = Open(u"\\big.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 3, &high, FILE_BEGIN), 3u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(h));  // sparse on the host
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 3u);
  EXPECT_EQ(sizeHigh, 1u);
  // Without the high part a position past 32 bits cannot be reported.
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  high = -1;  // 64-bit -4 from the end
  EXPECT_EQ(SetFilePointer(h, -4, &high, FILE_END), 0xFFFFFFFFu);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // a real position that looks like the failure value
  CloseHandle(h);
}

TEST_F(FilesHandleTest, AccessRightsOfTheHandleAreEnforced) {
  orvtest::WriteHostFile(Fs("f.txt"), "abc");
  HANDLE r = Open(u"\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(r, INVALID_HANDLE_VALUE);
  DWORD n = 9;
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SetEndOfFile(r));
  CloseHandle(r);
  HANDLE w = Open(u"\\f.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  char c;
  EXPECT_FALSE(ReadFile(w, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(w);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("f.txt")), "abc");

  HANDLE bad = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(ReadFile(bad, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FlushFileBuffers(bad));
}

TEST_F(FilesHandleTest, FullDiskGivesShortWriteAndError) {
  HANDLE h = Open(u"\\full.bin", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SimulateDiskFull(4);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(h, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(written, 4u);
  EXPECT_FALSE(WriteFile(h, "g", 1, &written, nullptr));
  EXPECT_EQ(written, 0u);
  SimulateDiskFull(-1);
  EXPECT_TRUE(WriteFile(h, "Z", 1, &written, nullptr));
  CloseHandle(h);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("full.bin")), "abcdZ");
}

TEST_F(FilesHandleTest, FileTimesAreSetAndRead) {
  HANDLE h = Open(u"\\t.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const FILETIME written = ULLToFileTime(129067776000000000ull + 1234567ull * 100);  // 2010-01-01 + 0.12 s
  const FILETIME accessed = ULLToFileTime(129067776000000000ull - FILETIME_TICKS_PER_SECOND * 3600);
  ASSERT_TRUE(SetFileTime(h, nullptr, &accessed, &written));
  FILETIME c{}, a{}, w{};
  ASSERT_TRUE(GetFileTime(h, &c, &a, &w));
  EXPECT_EQ(FileTimeToULL(w), FileTimeToULL(written));
  EXPECT_EQ(FileTimeToULL(a), FileTimeToULL(accessed));
  EXPECT_GT(FileTimeToULL(c), 129067776000000000ull);  // made now, after 2010
  // Only the last write time given: the access time stays.
  const FILETIME later = ULLToFileTime(FileTimeToULL(written) + FILETIME_TICKS_PER_SECOND);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &later));
  ASSERT_TRUE(GetFileTime(h, nullptr, &a, &w));
  EXPECT_EQ(FileTimeToULL(w), FileTimeToULL(later));
  EXPECT_EQ(FileTimeToULL(a), FileTimeToULL(accessed));
  CloseHandle(h);

  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW(u"\\T.TXT", &fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileTimeToULL(fd.ftLastWriteTime), FileTimeToULL(later));
  FindClose(f);
}

struct ShareCase {
  DWORD firstAccess, firstShare, secondAccess, secondShare;
  bool secondOpens;
};

TEST_F(FilesHandleTest, ShareModesBetweenHandles) {
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
  const ShareCase cases[] = {
      {R, SR, R, SR, true},            {R, SR, R, 0, false},           {R, 0, R, SR | SW, false},
      {W, 0, R, SR | SW, false},       {R, SR, W, SR | SW, false},     {R, SR | SW, W, SR | SW, true},
      {W, SR, R, SR | SW, true},       {W, SR, R, SR, false},          {R | W, SR | SW, R | W, SR | SW, true},
      {0, SR | SW, R | W, 0, true},    {0, 0, R, SR | SW, false},
  };
  orvtest::WriteHostFile(Fs("s.txt"), "shared");
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(i++));
    HANDLE first = Open(u"\\s.txt", c.firstAccess, c.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(0xDEAD);
    HANDLE second = Open(u"\\S.TXT", c.secondAccess, c.secondShare, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    CloseHandle(first);
    // Once the first handle is closed the second open always succeeds.
    second = Open(u"\\S.TXT", c.secondAccess, c.secondShare, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
  }
}

TEST_F(FilesHandleTest, RefusedTruncationKeepsTheContents) {
  orvtest::WriteHostFile(Fs("keep.bin"), "precious");
  HANDLE holder = Open(u"\\keep.bin", GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (DWORD disposition : {CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(Open(u"\\keep.bin", GENERIC_WRITE, 0, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  CloseHandle(holder);
  EXPECT_EQ(orvtest::ReadHostFile(Fs("keep.bin")), "precious");
}

TEST_F(FilesHandleTest, ShareModesHoldAcrossProcesses) {
  orvtest::WriteHostFile(Fs("proc.txt"), "p");
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    HANDLE h = Open(u"\\proc.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    const char ready = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
    if (write(toParent[1], &ready, 1) != 1) _exit(2);
    char go;
    if (read(toChild[0], &go, 1) != 1) _exit(3);
    _exit(0);  // the process ends holding the handle
  }
  char ready = 0;
  ASSERT_EQ(read(toParent[0], &ready, 1), 1);
  ASSERT_EQ(ready, 'y');
  EXPECT_EQ(Open(u"\\proc.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  HANDLE h = Open(u"\\proc.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

TEST_F(FilesHandleTest, ConcurrentCreationHasOneWinner) {
  constexpr int kThreads = 8;
  for (DWORD disposition : {CREATE_NEW, OPEN_ALWAYS}) {
    SCOPED_TRACE("disposition " + std::to_string(disposition));
    const std::u16string name = u"\\race" + Utf8ToUtf16(std::to_string(disposition)) + u".bin";
    std::atomic<int> go{0};
    std::vector<DWORD> errors(kThreads, 0xDEAD);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        HANDLE h = Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition);
        errors[t] = h == INVALID_HANDLE_VALUE ? 0x80000000u | GetLastError() : GetLastError();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
      });
    }
    go = 1;
    for (auto& th : threads) th.join();
    // Exactly one thread made the file; the others found it.
    const DWORD others = disposition == CREATE_NEW ? 0x80000000u | ERROR_FILE_EXISTS : ERROR_ALREADY_EXISTS;
    int made = 0, found = 0;
    for (DWORD e : errors) {
      made += e == ERROR_SUCCESS;
      found += e == others;
    }
    EXPECT_EQ(made, 1);
    EXPECT_EQ(found, kThreads - 1);
  }
}

}  // namespace
