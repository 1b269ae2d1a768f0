#include "core/FolderSizeScanner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

class FolderSizeScannerTest : public orvtest::DeviceTest {
 protected:
  // A host file of the given size below the device root.
  void MakeFile(const std::string& devicePath, std::size_t size) {
    std::filesystem::path host = device_.FsRoot() + "/" + devicePath;
    std::filesystem::create_directories(host.parent_path());
    orvtest::WriteHostFile(host.string(), std::string(size, 'x'));
  }
  void MakeFolder(const std::string& devicePath) {
    std::filesystem::create_directories(device_.FsRoot() + "/" + devicePath);
  }
  // Makes a sparse host file, so sizes beyond 4 GiB cost no disk.
  bool MakeSparseFile(const std::string& devicePath, long long size) {
    std::filesystem::path host = device_.FsRoot() + "/" + devicePath;
    std::filesystem::create_directories(host.parent_path());
    int fd = open(host.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, size) == 0;
    close(fd);
    return ok;
  }

  static bool WaitDone(const CFolderSizeScanner& scanner) {
    return orvtest::Eventually([&] { return scanner.IsDone(); });
  }
};

TEST_F(FolderSizeScannerTest, SumsFilesAtEveryDepth) {
  MakeFile("Content/a.txt", 10);
  MakeFile("Content/News/b.bin", 100);
  MakeFile("Content/News/Images/c.jpg", 1000);
  MakeFile("Content/News/Images/Deeper/d", 5);
  MakeFolder("Content/Empty");
  MakeFile("Elsewhere/e.txt", 7777);  // outside the folder scanned

  CFolderSizeScanner scanner;
  ASSERT_TRUE(scanner.Start(u"\\Content"));
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), 1115u);
  scanner.Stop();
  EXPECT_EQ(scanner.GetTotalSize(), 1115u);
}

TEST_F(FolderSizeScannerTest, PatternPathCountsMatchingEntriesOnly) {
  MakeFile("Content/a.txt", 10);
  MakeFile("Content/b.txt", 20);
  MakeFile("Content/c.bin", 300);
  CFolderSizeScanner scanner;
  ASSERT_TRUE(scanner.Start(u"\\Content\\*.txt"));
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), 30u);
}

TEST_F(FolderSizeScannerTest, MissingFolderGivesZero) {
  CFolderSizeScanner scanner;
  ASSERT_TRUE(scanner.Start(u"\\No Such Folder"));
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), 0u);
}

TEST_F(FolderSizeScannerTest, TotalsBeyondFourGiBAddUp) {
  const long long three = 3LL << 30;
  ASSERT_TRUE(MakeSparseFile("Content/one.bin", three));
  ASSERT_TRUE(MakeSparseFile("Content/Sub/two.bin", three + 5));
  CFolderSizeScanner scanner;
  ASSERT_TRUE(scanner.Start(u"\\Content"));
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), static_cast<std::uint64_t>(2 * three + 5));
}

TEST_F(FolderSizeScannerTest, ListOfFolderAndFileAddsBoth) {
  MakeFile("Content/News/a.txt", 10);
  MakeFile("Content/News/Deep/b.txt", 20);
  MakeFile("Content/News.cnl", 300);
  MakeFile("Content/Other.cnl", 4000);  // neither listed nor below a listed folder
  CFolderSizeScanner scanner;
  EXPECT_FALSE(scanner.Start(std::vector<std::u16string>{}));
  ASSERT_TRUE(scanner.Start(std::vector<std::u16string>{u"\\Content\\News", u"\\Content\\News.cnl"}));
  EXPECT_FALSE(scanner.Start(std::vector<std::u16string>{u"\\Content"}));
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), 330u);
}

TEST_F(FolderSizeScannerTest, SecondStartIsRefused) {
  MakeFile("A/a", 1);
  MakeFile("B/b", 1000);
  CFolderSizeScanner scanner;
  ASSERT_TRUE(scanner.Start(u"\\A"));
  EXPECT_FALSE(scanner.Start(u"\\B"));
  EXPECT_FALSE(scanner.Resume());  // already started
  ASSERT_TRUE(WaitDone(scanner));
  EXPECT_EQ(scanner.GetTotalSize(), 1u);
}

TEST_F(FolderSizeScannerTest, ResumeNeedsAQueuedFolder) {
  CFolderSizeScanner scanner;
  EXPECT_FALSE(scanner.Resume());
  EXPECT_FALSE(scanner.IsDone());
}

TEST_F(FolderSizeScannerTest, StoppingAnUnstartedScannerEndsItsThread) {
  CFolderSizeScanner scanner;
  scanner.Stop();
  EXPECT_TRUE(scanner.IsStopRequested());
  EXPECT_TRUE(scanner.IsDone());  // the suspended worker ran to its end without scanning
  EXPECT_EQ(scanner.GetTotalSize(), 0u);
  EXPECT_FALSE(scanner.Start(u"\\"));  // no worker any more
}

TEST_F(FolderSizeScannerTest, StopMidScanEndsAtTheNextEntry) {
  for (int i = 0; i < 10; ++i) MakeFile("Content/f" + std::to_string(i), 1u << i);
  CFolderSizeScanner scanner;
  std::atomic<int> seen{0};
  scanner.SetEntryObserver([&](const std::u16string&) {
    if (++seen == 3) {
      // Hold the worker at the third entry until the owner asks it to stop.
      orvtest::Eventually([&] { return scanner.IsStopRequested(); });
    }
  });
  ASSERT_TRUE(scanner.Start(u"\\Content"));
  orvtest::Eventually([&] { return seen >= 3; });
  ASSERT_EQ(seen.load(), 3);
  scanner.Stop();
  EXPECT_TRUE(scanner.IsDone());
  EXPECT_EQ(seen.load(), 3);  // no entry after the one in hand
  // Entries come in name order: f0, f1, f2.
  EXPECT_EQ(scanner.GetTotalSize(), 1u + 2u + 4u);
  EXPECT_TRUE(orvtest::StaysTrue([&] { return scanner.GetTotalSize() == 7u; }, 20));
}

TEST_F(FolderSizeScannerTest, ObserverSeesDevicePaths) {
  MakeFile("Content/Sub/x.txt", 3);
  CFolderSizeScanner scanner;
  std::vector<std::u16string> seen;
  scanner.SetEntryObserver([&](const std::u16string& path) { seen.push_back(path); });
  ASSERT_TRUE(scanner.Start(u"\\Content"));
  ASSERT_TRUE(WaitDone(scanner));
  scanner.Stop();
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"\\Content\\Sub", u"\\Content\\Sub\\x.txt"}));
}

}  // namespace

namespace {

class FolderSizeScannerSlowWorker : public orvtest::DeviceTest {};

// A worker that does not notice the stop flag within the wait is never
// killed: the scanner lets go of it, and it ends on its own at its next entry
// without touching the destroyed scanner.
TEST_F(FolderSizeScannerSlowWorker, OutlivesTheScannerSafely) {
  for (int i = 0; i < 5; ++i)
    orvtest::WriteHostFile(device_.FsRoot() + "/f" + std::to_string(i), "12345");
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto entries = std::make_shared<std::atomic<int>>(0);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    CFolderSizeScanner scanner(20);
    scanner.SetEntryObserver([release, entries, finished](const std::u16string&) {
      if (++*entries == 1) {
        orvtest::Eventually([&] { return release->load(); });
        *finished = true;
      }
    });
    ASSERT_TRUE(scanner.Start(u"\\"));
    orvtest::Eventually([&] { return entries->load() != 0; });
    ASSERT_EQ(entries->load(), 1);
    scanner.Stop();  // the wait runs out while the worker is held
    EXPECT_FALSE(scanner.IsDone());
  }
  *release = true;
  EXPECT_TRUE(orvtest::Eventually([&] { return finished->load(); }));
  EXPECT_TRUE(orvtest::StaysTrue([&] { return entries->load() == 1; }, 20));  // it stopped at the next entry
}

}  // namespace
