#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/Md5.h"

#include "database/ChannelSet.h"
#include "tests/support/HeadersFixture.h"
#include "tests/support/Wait.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/update/InetTestSupport.h"
#include "update/jobs/BinaryJob.h"

namespace {

TEST(BinaryJobExtension, FromTheContentType) {
  struct Case {
    std::u16string type;
    std::u16string extension;
  };
  const Case cases[] = {
      {u"image/jpeg", u"jpg"},     {u"IMAGE/JPEG", u"jpg"},         {u"image/x-icon", u"ico"},
      {u"audio/mpeg", u"mp3"},     {u"video/mpeg-2", u"mp2v"},      {u"video/mpeg", u"mpg"},
      {u"text/html", u"htm"},      {u"image/x-png", u"png"},        {u"application/pdf", u"bin"},
      {u"image/jpeg;q=1", u"bin"},  // whole-type comparison
  };
  for (const Case& c : cases) {
    // The type decides even when the address names another extension.
    EXPECT_EQ(CBinaryJob::ExtensionFor(u"http://host/picture.gif", c.type), c.extension)
        << plat::Utf16ToUtf8(c.type);
  }
}

TEST(BinaryJobExtension, FromTheLastPathSegmentWithoutAType) {
  struct Case {
    std::u16string address;
    std::u16string extension;
  };
  const Case cases[] = {
      {u"http://host/a/photo.JPG", u"JPG"},
      {u"http://host/a/track.mp3?session=1.exe", u"mp3"},
      {u"http://host/download?file=x.exe", u"bin"},
      {u"http://host/a/photo.png#frag.exe", u"png"},
      {u"http://host/dir.d/", u"bin"},
      {u"http://host/name.", u"bin"},
      {u"http://host/a/..", u"bin"},
      {u"http://host/a/../b", u"bin"},
      {u"http://host/noext", u"bin"},
      {u"http://host.example.com", u"bin"},
      {u"http://host/archive.verylongext", u"bin"},
      {u"http://host/archive.12345678", u"12345678"},
      {u"http://host/x.t%2fgz", u"bin"},
      {u"http://host/a.b\\c", u"bin"},
      {u"http://host/a\\b.gif", u"gif"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CBinaryJob::ExtensionFor(c.address, u""), c.extension) << plat::Utf16ToUtf8(c.address);
  }
}

class BinaryJobTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(ConnectSession());
  }

  IBinary* Add(const std::string& path) {
    const std::u16string url = plat::Utf8ToUtf16(server_.Url(path));
    channel_.Binaries().AddUrl(url);
    return channel_.Binaries().Lookup(url);
  }
  std::uint32_t RunJob(IBinary* binary) {
    CBinaryJob job(binary);
    job.SetSession(session_.get());
    EXPECT_EQ(job.GetItem(), static_cast<IUpdateItem*>(binary));
    job.Run();
    EXPECT_EQ(job.GetItem(), nullptr);
    return binary->GetUpdateStatus();
  }
  std::u16string Name(IBinary* binary) {
    std::u16string name;
    binary->GetFileName(name, false);
    return name;
  }
  std::string Contents(IBinary* binary) {
    std::u16string path;
    binary->GetFileName(path, true);
    return FileExists(path) ? orvtest::ReadHostFile(orvtest::HostPath(device_, path)) : "<no file>";
  }
  // Files of the bin folder, so leftovers show.
  std::size_t FilesInBin() {
    std::size_t count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(orvtest::HostPath(device_, channel_.GetBinFolder()))) {
      (void)entry;
      ++count;
    }
    return count;
  }

  orvtest::HttpTestServer server_;
  orvtest::FakeChannel channel_;
};

TEST_F(BinaryJobTest, DownloadGivesTheFileTheTypesExtension) {
  server_.Serve("/pics/photo", "JPEG BYTES", "image/jpeg");
  server_.Serve("/files/report.PDF", "PDF BYTES", "");
  server_.Serve("/empty.txt", "", "text/plain");
  struct Case {
    const char* path;
    std::u16string extension;
    std::string bytes;
  };
  const Case cases[] = {
      {"/pics/photo", u".jpg", "JPEG BYTES"},
      {"/files/report.PDF", u".PDF", "PDF BYTES"},  // no type: the address's extension, as written
      {"/empty.txt", u".txt", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    IBinary* binary = Add(c.path);
    ASSERT_NE(binary, nullptr);
    EXPECT_EQ(RunJob(binary), US_UP_TO_DATE);
    EXPECT_EQ(Name(binary), GetMd5Hex(binary->GetUrl()) + c.extension);
    EXPECT_EQ(Contents(binary), c.bytes);
    EXPECT_TRUE(binary->IsDownloaded());
  }
  EXPECT_EQ(FilesInBin(), 3u);  // no side file left behind
}

TEST_F(BinaryJobTest, NotFoundFailsWithoutAFile) {
  IBinary* binary = Add("/missing.png");
  EXPECT_EQ(RunJob(binary), US_FAILED);
  EXPECT_EQ(Contents(binary), "<no file>");
  EXPECT_EQ(FilesInBin(), 0u);
}

TEST_F(BinaryJobTest, MissingSiteIconIsNotAskedForAgain) {
  IBinary* binary = Add("/favicon.ico");
  EXPECT_EQ(RunJob(binary), US_UP_TO_DATE);
  EXPECT_EQ(Name(binary), GetMd5Hex(binary->GetUrl()) + u".ico");
}

TEST_F(BinaryJobTest, FailedRedownloadKeepsTheGoodFile) {
  server_.Serve("/pic.png", "GOOD PICTURE", "image/png");
  IBinary* binary = Add("/pic.png");
  ASSERT_EQ(RunJob(binary), US_UP_TO_DATE);
  const std::u16string name = Name(binary);

  orvtest::HttpResponse cut;
  cut.body = std::string(200000, 'x');
  cut.headers = {{"Content-Type", "image/png"}};
  cut.closeAfter = 70000;
  orvtest::HttpResponse error;
  error.status = 500;
  for (const orvtest::HttpResponse& response : {cut, error}) {
    server_.Route("/pic.png", [response](const orvtest::HttpRequest&) { return response; });
    EXPECT_EQ(RunJob(binary), US_FAILED);
    EXPECT_EQ(Name(binary), name);
    EXPECT_EQ(Contents(binary), "GOOD PICTURE");
    EXPECT_EQ(FilesInBin(), 1u);
  }

  // A good download replaces the file and keeps its name.
  server_.Serve("/pic.png", "NEWER PICTURE", "image/png");
  EXPECT_EQ(RunJob(binary), US_UP_TO_DATE);
  EXPECT_EQ(Name(binary), name);
  EXPECT_EQ(Contents(binary), "NEWER PICTURE");
  EXPECT_EQ(FilesInBin(), 1u);
}

TEST_F(BinaryJobTest, StoppedDownloadWaitsAgainAndKeepsTheOldFile) {
  server_.Serve("/clip.mp3", "OLD CLIP", "audio/mpeg");
  IBinary* binary = Add("/clip.mp3");
  ASSERT_EQ(RunJob(binary), US_UP_TO_DATE);
  const std::u16string name = Name(binary);

  std::atomic<int> asked{0};
  server_.Route("/clip.mp3", [&](const orvtest::HttpRequest&) {
    ++asked;
    orvtest::HttpResponse slow;
    slow.body = std::string(100000, 'n');
    slow.headers = {{"Content-Type", "audio/mpeg"}};
    slow.trickleBytes = 1000;
    slow.trickleDelayMs = 50;
    return slow;
  });
  // The manager's two moves (cancel the session, then Stop), and the cancel
  // alone with Stop still to come: either way the binary waits again.
  int expectedRequests = 0;
  for (bool callStop : {true, false}) {
    SCOPED_TRACE(callStop ? "cancel and stop" : "cancel only");
    // Each round on a connection manager of its own: a connection of the
    // cancelled round is never the one the next round waits behind.
    ASSERT_TRUE(FreshSession());
    CBinaryJob job(binary);
    job.SetSession(session_.get());
    std::thread runner([&] { job.Run(); });
    std::u16string side = CBinaryJob::TemporaryPathFor(channel_.BinFile(name));
    // The body has begun to arrive once the side file exists.
    orvtest::Eventually([&] { return FileExists(side); });
    EXPECT_TRUE(FileExists(side));
    EXPECT_EQ(binary->GetUpdateStatus(), US_UPDATING);
    const auto start = std::chrono::steady_clock::now();
    session_->Cancel();
    if (callStop) job.Stop();
    runner.join();
    if (!callStop) job.Stop();  // late: nothing left to do
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(asked.load(), ++expectedRequests);
    EXPECT_EQ(binary->GetUpdateStatus(), US_WAITING);
    EXPECT_EQ(job.GetItem(), nullptr);
    EXPECT_EQ(Name(binary), name);
    EXPECT_EQ(Contents(binary), "OLD CLIP");
    EXPECT_FALSE(FileExists(side));
  }
}

TEST_F(BinaryJobTest, BinaryTakenOutOfItsSetStopsTheJob) {
  IBinary* binary = Add("/gone.gif");
  CBinaryJob job(binary);
  job.SetSession(session_.get());
  channel_.Binaries().RemoveUrl(binary->GetUrl());  // last use: the binary is destroyed
  EXPECT_EQ(job.GetItem(), nullptr);
  job.Run();  // must not touch the destroyed binary
  EXPECT_EQ(server_.RequestCount("/gone.gif"), 0u);
}

}  // namespace
