// What a feed update leaves stored when it is killed, when its writes fail,
// when its data bank was lost, and what it stores of feeds that real and
// hostile servers send.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "database/GlobalOptions.h"
#include "platform/files/Files.h"
#include "database/ChannelMutexTimeout.h"
#include "tests/database/HeldMutex.h"
#include "tests/support/ChildProcess.h"
#include "tests/update/FeedTestSupport.h"
#include "update/feed/RSSChannelJob.h"

namespace {

namespace fs = std::filesystem;
using orvtest::LiveArticles;
using orvtest::StoredArticle;

// An RSS feed of items [first, first + count), each with a title, a body and
// one enclosure.
std::string MakeFeed(int first, int count) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Store</title>\n";
  for (int i = first + count - 1; i >= first; --i) {
    const std::string n = std::to_string(i);
    xml += "<item><title>Item " + n + "</title><guid>item-" + n + "</guid><description>Body of item " + n +
           "</description><enclosure url=\"http://127.0.0.1:1/file-" + n + ".mp3\" type=\"audio/mpeg\"/></item>\n";
  }
  return xml + "</channel></rss>\n";
}

std::u16string ItemId(int i) { return plat::Utf8ToUtf16("item-" + std::to_string(i)); }

class FeedStoreTest : public orvtest::FeedTest {
 protected:
  void SetUp() override {
    orvtest::FeedTest::SetUp();
    feedHost_ = device_.FsRoot() + "/store.xml";
  }
  void WriteFeed(const std::string& xml) { orvtest::WriteHostFile(feedHost_, xml); }
  // The channel of the local feed file (no server needed, so a forked child
  // can run it too).
  IChannel* AddStore() { return AddChannel(u"Store", u"\\store.xml"); }

  bool RunJob(IChannel* channel) {
    CRSSChannelJob job(channel, 0);
    job.SetSession(session_.get());
    job.Run();
    return job.Succeeded();
  }
  std::string ContentHost() const { return device_.FsRoot() + "/Content"; }
  // No channel "Store" any more, in memory or on disk; the set open again.
  bool RemoveStore() {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveAll();
    fs::remove_all(DataHost());
    fs::remove(ContentHost() + "/Store.cnl");
    return GetChannelSet()->Open();
  }
  std::string DataHost() const { return ContentHost() + "/Store"; }
  std::uint32_t OwnState(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    return static_cast<CChannel*>(channel)->GetOwnUpdateState();
  }

  // Side files of stopped saves anywhere in the content folder.
  std::vector<std::string> SideFiles() {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(ContentHost())) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") found.push_back(name);
    }
    return found;
  }

  // Every live article has its text; the articles of the first update keep
  // theirs and their read states. New articles, when there, are whole.
  void ExpectWholeChannel(IChannel* channel, int firstCount, int readItem) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    IArticleSet* set = channel->GetArticleSet();
    for (int i = 0; i < set->GetCount(); ++i) {
      IArticle* article = set->GetAt(i);
      if (article->IsDeleted()) continue;
      CStringToStringMap properties;
      channel->GetArticleProperties(article, properties);
      EXPECT_FALSE(properties[u"body"].empty()) << "an article without its text: " << plat::Utf16ToUtf8(article->GetTitle());
    }
    for (int i = 0; i < firstCount; ++i) {
      IArticle* article = set->FindById(GetMd5Hex(ItemId(i)));
      ASSERT_NE(article, nullptr) << "lost: item " << i;
      EXPECT_EQ(channel->IsArticleRead(article), i == readItem) << "item " << i;
    }
    channel->Release(this, false);
  }

  // Serves body at path with that ETag and a Last-Modified, answering 304
  // to a request whose If-None-Match names the ETag.
  void ServeWithValidators(const std::string& path, const std::string& body, const std::string& etag) {
    server_.Route(path, [body, etag](const orvtest::HttpRequest& request) {
      orvtest::HttpResponse response;
      response.headers = {{"ETag", etag}, {"Last-Modified", kLastModified}};
      if (request.Header("If-None-Match") == etag) {
        response.status = 304;
        response.sendContentLength = false;
        return response;
      }
      response.headers.push_back({"Content-Type", "text/xml; charset=utf-8"});
      response.body = body;
      return response;
    });
  }
  orvtest::HttpRequest LastRequest() const {
    const std::vector<orvtest::HttpRequest> requests = server_.Requests();
    return requests.empty() ? orvtest::HttpRequest{} : requests.back();
  }
  static constexpr const char* kLastModified = "Wed, 09 Dec 2026 10:00:00 GMT";

  std::string feedHost_;
};

// ---- Kills at every write step ---------------------------------------------------

// The n-th write step of the child kills it.
std::atomic<int> g_stepsLeft{0};
void KillAtStep(const char*) {
  if (g_stepsLeft.fetch_sub(1) == 1) ::raise(SIGKILL);
}

TEST_F(FeedStoreTest, KillAtEveryWriteStepOfAnUpdateLeavesAWholeChannel) {
  constexpr int kFirst = 4;
  constexpr int kRead = 1;
  WriteFeed(MakeFeed(0, kFirst));
  IChannel* channel = AddStore();
  ASSERT_TRUE(RunJob(channel));
  {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    channel->SetArticleRead(channel->GetArticleSet()->FindById(GetMd5Hex(ItemId(kRead))), true);
    channel->Release(this, true);
  }
  // What the update starts from, put back before each kill.
  const std::string snapshot = orvtest::MakeTempDir("feedstore");
  fs::copy(ContentHost(), snapshot, fs::copy_options::recursive);
  WriteFeed(MakeFeed(0, kFirst + 3));

  int killed = 0;
  for (int step = 1; step < 200; ++step) {
    SCOPED_TRACE(step);
    {
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
    }
    fs::remove_all(ContentHost());
    fs::copy(snapshot, ContentHost(), fs::copy_options::recursive);
    channel = Reload(u"Store");
    ASSERT_NE(channel, nullptr);
    orvtest::ChildProcess child([channel, step, this](orvtest::ChildContext&) {
      g_stepsLeft = step;
      plat::SetFileStepHook(&KillAtStep);
      const bool ok = RunJob(channel);
      plat::SetFileStepHook(nullptr);
      return ok ? 0 : 3;
    });
    const int code = child.Wait();
    if (code == 0) break;  // every step passed: the update ran to its end
    ASSERT_EQ(code, 128 + SIGKILL);
    ++killed;

    channel = Reload(u"Store");
    ASSERT_NE(channel, nullptr);
    ExpectWholeChannel(channel, kFirst, kRead);
    EXPECT_TRUE(SideFiles().empty()) << SideFiles().front();
    // The next update completes what the killed one began.
    ASSERT_TRUE(RunJob(channel));
    channel = Reload(u"Store");
    ExpectWholeChannel(channel, kFirst, kRead);
    EXPECT_EQ(LiveArticles(channel), kFirst + 3);
    if (HasFailure()) break;
  }
  EXPECT_GT(killed, 4) << "an update writes the data bank, its index, the read states, the headers and the channel";
  orvtest::RemoveTree(snapshot);
}

// The steps of one save, in order: every file of the save reaches the disk
// before the first rename (so a power loss cannot leave a renamed file
// without its bytes), the renames follow with no write or flush between,
// and one folder is flushed at the end (the channel file may lag behind the
// files of the channel's folder).
std::mutex g_stepsLock;
std::string g_steps;
void RecordStep(const char* step) {
  std::lock_guard<std::mutex> lock(g_stepsLock);
  const std::string_view name(step);
  g_steps += name == "write" ? 'w' : name == "flush" ? 'f' : name == "rename" ? 'r' : name == "flush folder" ? 'F' : '?';
}

TEST_F(FeedStoreTest, SaveFlushesEveryFileBeforeItsRenamesThenOneFolder) {
  WriteFeed(MakeFeed(0, 3));
  IChannel* channel = AddStore();
  ASSERT_TRUE(RunJob(channel));
  WriteFeed(MakeFeed(0, 5));
  channel = Reload(u"Store");
  g_steps.clear();
  plat::SetFileStepHook(&RecordStep);
  ASSERT_TRUE(RunJob(channel));
  plat::SetFileStepHook(nullptr);
  // The data file is written in place, then the index, the headers, the
  // channel file (and the read states when they changed) beside their
  // targets: a flush of each, their renames, one folder.
  const std::string save = g_steps.substr(g_steps.find_first_not_of('w'));
  const std::size_t flushes = save.find_first_not_of('f');
  ASSERT_NE(flushes, std::string::npos) << g_steps;
  EXPECT_GE(flushes, 4u) << g_steps;
  EXPECT_EQ(save.substr(flushes), std::string(flushes - 1, 'r') + "F") << g_steps;
  EXPECT_EQ(LiveArticles(Reload(u"Store")), 5);
}

// ---- Failed writes -------------------------------------------------------------------

// From the n-th write step on, the disk is full.
std::atomic<int> g_stepsToFull{0};
void FillDiskAtStep(const char*) {
  if (g_stepsToFull.fetch_sub(1) == 1) plat::SimulateDiskFull(0);
}

// The update's writes fail: the disk fills at each write step in turn, a
// flush fails at each place of the save as a failing disk's would, or the
// channel's folder may not be written. The failed update is reported and loses nothing;
// the next one, with the disk well again and without a reload in between,
// reads the feed whole and stores what the failed one could not: the digest
// of the body that failed to save was not kept.
TEST_F(FeedStoreTest, UpdateWhoseWritesFailFailsAndLosesNothing) {
  struct Kind {
    const char* name;
    bool stepped;  // injected at each step in turn, else once
    // folder: the channel's data folder.
    void (*inject)(const std::string& folder, int step);
    void (*clear)(const std::string& folder);
  };
  const Kind kinds[] = {
      {"disk full", true,
       [](const std::string&, int step) {
         g_stepsToFull = step;
         plat::SetFileStepHook(&FillDiskAtStep);
       },
       [](const std::string&) {
         plat::SetFileStepHook(nullptr);
         plat::SimulateDiskFull(-1);
       }},
      {"flush fails", true, [](const std::string&, int step) { plat::SimulateFlushFailure(step - 1); },
       [](const std::string&) { plat::SimulateFlushFailure(-1); }},
      // Read-only for every user, root included: the file layer refuses.
      {"read-only folder", false, [](const std::string&, int) { plat::SetReadOnlyPath(u"\\Content\\Store"); },
       [](const std::string&) { plat::ResetFileFaults(); }},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    int failed = 0;
    for (int step = 1; step < 200; ++step) {
      SCOPED_TRACE(step);
      // A channel that holds the first three items, from a served feed (its
      // body has a digest).
      ASSERT_TRUE(RemoveStore());
      ServeWithValidators("/store", MakeFeed(0, 3), "\"three\"");
      IChannel* channel = AddFeed(u"Store", "/store");
      ASSERT_NE(channel, nullptr);
      ASSERT_TRUE(RunJob(channel));
      const std::u16string digest = Property(channel, kPropFeedDigest);

      ServeWithValidators("/store", MakeFeed(0, 6), "\"six\"");
      kind.inject(DataHost(), step);
      const bool ok = RunJob(channel);
      kind.clear(DataHost());
      if (ok) {
        EXPECT_EQ(Status(channel), US_UP_TO_DATE);
        break;  // the disk failed after the update's last write
      }
      ++failed;
      // Failed; what the update brought stays loaded and unsaved (its
      // binaries waiting) for the next save.
      EXPECT_EQ(OwnState(channel), US_FAILED);
      EXPECT_EQ(Property(channel, kPropFeedDigest), digest);
      EXPECT_EQ(Property(channel, kPropFeedETag), u"\"three\"");
      ExpectWholeChannel(channel, 3, -1);
      // With the disk well again, the same channel asks for changes since
      // what it holds, reads the feed and stores it.
      ASSERT_TRUE(RunJob(channel));
      EXPECT_EQ(LastRequest().Header("If-None-Match"), "\"three\"");
      EXPECT_EQ(Status(channel), US_UP_TO_DATE);
      EXPECT_EQ(LiveArticles(channel), 6);
      channel = Reload(u"Store");
      EXPECT_EQ(LiveArticles(channel), 6);
      ExpectWholeChannel(channel, 6, -1);
      if (HasFailure() || !kind.stepped) break;
    }
    EXPECT_GT(failed, kind.stepped ? 2 : 0);
  }
}

// ---- A channel busy when its update starts ---------------------------------------

// Another program holds the channel past the lock's time-out when the update
// takes it up, and lets it go while the feed downloads: the articles could
// not be read in, so the update stores nothing and fails, and keeps nothing
// of the feed's identity; the next one reads the feed whole and stores it.
TEST_F(FeedStoreTest, UpdateOfAChannelBusyWhenItStartsFailsAndKeepsNothingOfTheFeed) {
  ServeWithValidators("/busy", MakeFeed(0, 3), "\"three\"");
  IChannel* channel = AddFeed(u"Store", "/busy");
  ASSERT_NE(channel, nullptr);
  ASSERT_TRUE(RunJob(channel));
  const std::u16string digest = Property(channel, kPropFeedDigest);
  channel = Reload(u"Store");

  SetChannelMutexTimeout(20);
  auto busy = std::make_unique<orvtest::HeldMutex>(u"CL.Store");
  ASSERT_TRUE(busy->Held());
  std::mutex letGo;
  const std::string six = MakeFeed(0, 6);
  server_.Route("/busy", [&](const orvtest::HttpRequest&) {
    {
      std::lock_guard<std::mutex> guard(letGo);
      if (busy) busy->Release();
    }
    orvtest::HttpResponse response;
    response.headers = {{"ETag", "\"six\""}, {"Content-Type", "text/xml; charset=utf-8"}};
    response.body = six;
    return response;
  });
  EXPECT_FALSE(RunJob(channel));
  SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
  EXPECT_EQ(OwnState(channel), US_FAILED);
  EXPECT_EQ(Property(channel, kPropFeedDigest), digest);
  EXPECT_EQ(Property(channel, kPropFeedETag), u"\"three\"");
  EXPECT_EQ(LiveArticles(Reload(u"Store")), 3);

  channel = Reload(u"Store");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(Property(channel, kPropFeedETag), u"\"six\"");
  EXPECT_EQ(LiveArticles(Reload(u"Store")), 6);
}

// ---- A data bank lost or cut short ---------------------------------------------------

TEST_F(FeedStoreTest, ArticlesOfALostOrCutDataBankAreStoredAgainByTheNextUpdate) {
  struct Case {
    const char* name;
    void (*damage)(const std::string& folder);
  };
  const Case cases[] = {
      {"data file removed", [](const std::string& folder) { fs::remove(folder + "/data.bin"); }},
      {"data file cut short",
       [](const std::string& folder) { fs::resize_file(folder + "/data.bin", fs::file_size(folder + "/data.bin") / 2); }},
      {"index removed", [](const std::string& folder) { fs::remove(folder + "/dataidx.bin"); }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RemoveStore());
    WriteFeed(MakeFeed(n, 4));
    IChannel* channel = AddStore();
    ASSERT_NE(channel, nullptr);
    ASSERT_TRUE(RunJob(channel));
    c.damage(DataHost());
    channel = Reload(u"Store");
    ASSERT_TRUE(RunJob(channel));
    channel = Reload(u"Store");
    EXPECT_EQ(LiveArticles(channel), 4);
    for (int i = n; i < n + 4; ++i) {
      StoredArticle article = Article(channel, ItemId(i));
      ASSERT_TRUE(article.found);
      EXPECT_EQ(article.properties[u"body"], plat::Utf8ToUtf16("Body of item " + std::to_string(i)));
    }
    n += 10;
  }
}

TEST_F(FeedStoreTest, SideFilesOfAStoppedSaveGoWhenTheChannelLoads) {
  WriteFeed(MakeFeed(0, 2));
  IChannel* channel = AddStore();
  ASSERT_TRUE(RunJob(channel));
  const std::vector<std::string> leftovers = {ContentHost() + "/Store.cnl.a1B2c3.tmp",
                                              DataHost() + "/headers.bin.Zx81Qw.tmp",
                                              DataHost() + "/unread.bin.000000.tmp"};
  for (const std::string& path : leftovers) orvtest::WriteHostFile(path, "half");
  // Files that merely look alike are someone else's.
  orvtest::WriteHostFile(DataHost() + "/notes.tmp", "mine");
  orvtest::WriteHostFile(DataHost() + "/headers.bin.tmp", "mine");
  channel = Reload(u"Store");
  EXPECT_EQ(LiveArticles(channel), 2);
  for (const std::string& path : leftovers) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(DataHost() + "/notes.tmp"));
  EXPECT_TRUE(fs::exists(DataHost() + "/headers.bin.tmp"));
}

// ---- Unchanged feeds -------------------------------------------------------------------

TEST_F(FeedStoreTest, FeedWhoseBytesAreUnchangedIsNotParsedAgain) {
  ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
  auto parses = [] {
    const std::string log =
        orvtest::ReadHostFile(plat::HostPathFromDevicePath(CDebugLog::GetInstance().GetPath()));
    int skipped = 0;
    for (std::size_t at = log.find("not parsed"); at != std::string::npos; at = log.find("not parsed", at + 1)) ++skipped;
    return skipped;
  };
  server_.Serve("/feed", MakeFeed(0, 3), "text/xml; charset=utf-8");
  IChannel* channel = AddFeed(u"Steady", "/feed");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(parses(), 0);
  EXPECT_NE(Property(channel, kPropFeedDigest), u"<none>");

  // The same bytes: the stored result stays as it is, without a parse.
  channel = Reload(u"Steady");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(parses(), 1);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  channel = Reload(u"Steady");
  EXPECT_EQ(LiveArticles(channel), 3);
  EXPECT_EQ(Article(channel, ItemId(1)).properties[u"body"], u"Body of item 1");

  // Articles that lost their data make the same bytes worth a parse.
  std::filesystem::remove(ContentHost() + "/Steady/data.bin");
  channel = Reload(u"Steady");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(parses(), 1);
  channel = Reload(u"Steady");
  EXPECT_EQ(Article(channel, ItemId(1)).properties[u"body"], u"Body of item 1");

  // New bytes are parsed.
  server_.Serve("/feed", MakeFeed(0, 4), "text/xml; charset=utf-8");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(parses(), 1);
  channel = Reload(u"Steady");
  EXPECT_EQ(LiveArticles(channel), 4);
}

// A server that sends validators is asked for changes only: its 304 is a
// successful update that stores nothing and keeps every article; a changed
// feed is read and its new validators kept; validators go only to the
// address they came from, and those a server stops sending are no longer
// sent.
std::atomic<int> g_writeSteps{0};
void CountStep(const char*) { ++g_writeSteps; }

TEST_F(FeedStoreTest, FeedWithValidatorsIsAskedForChangesOnly) {
  ServeWithValidators("/feed", MakeFeed(0, 3), "\"v1\"");
  IChannel* channel = AddFeed(u"Asked", "/feed");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "");
  EXPECT_EQ(LastRequest().Header("If-Modified-Since"), "");
  EXPECT_EQ(Property(channel, kPropFeedETag), u"\"v1\"");
  EXPECT_EQ(Property(channel, kPropFeedLastModified), U(kLastModified));
  {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    channel->SetArticleRead(channel->GetArticleSet()->FindById(GetMd5Hex(ItemId(1))), true);
    channel->Release(this, true);
  }

  // Unchanged: 304, nothing written, every article kept (also from disk).
  channel = Reload(u"Asked");
  g_writeSteps = 0;
  plat::SetFileStepHook(&CountStep);
  const bool ok = RunJob(channel);
  plat::SetFileStepHook(nullptr);
  ASSERT_TRUE(ok);
  EXPECT_EQ(g_writeSteps.load(), 0);
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "\"v1\"");
  EXPECT_EQ(LastRequest().Header("If-Modified-Since"), kLastModified);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  channel = Reload(u"Asked");
  EXPECT_EQ(LiveArticles(channel), 3);
  ExpectWholeChannel(channel, 3, 1);

  // Changed: read, stored, the new validator kept and sent next time.
  ServeWithValidators("/feed", MakeFeed(0, 5), "\"v2\"");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "\"v1\"");
  EXPECT_EQ(LiveArticles(channel), 5);
  EXPECT_EQ(Property(channel, kPropFeedETag), u"\"v2\"");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "\"v2\"");
  EXPECT_EQ(LiveArticles(channel), 5);

  // Another address (the user changed the feed's) is asked without the
  // validators of the old one, although its server would take them.
  ServeWithValidators("/moved", MakeFeed(10, 2), "\"v2\"");
  {
    CSyncLock lock(GetChannelSet());
    channel->SetProperty(kPropUrl, Url("/moved"));
  }
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().target, "/moved");
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "");
  EXPECT_EQ(LastRequest().Header("If-Modified-Since"), "");
  EXPECT_TRUE(Article(channel, ItemId(11)).found);
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "\"v2\"");

  // A server that no longer sends validators is asked plainly.
  {
    CSyncLock lock(GetChannelSet());
    channel->SetProperty(kPropUrl, Url("/feed"));
  }
  server_.Serve("/feed", MakeFeed(0, 6), "text/xml; charset=utf-8");
  ASSERT_TRUE(RunJob(channel));
  EXPECT_TRUE(Article(channel, ItemId(5)).found);
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LastRequest().Header("If-None-Match"), "");
  EXPECT_EQ(LastRequest().Header("If-Modified-Since"), "");
}

// A channel whose stored articles are gone (cleaned for a clean update, or
// its headers file removed or damaged) reads its feed whole at the next
// update: no validators are sent and the same bytes are parsed, so every
// item is stored again; the update after that asks for changes only again.
TEST_F(FeedStoreTest, FeedIsReadWholeWhenTheStoredArticlesAreGone) {
  struct Loss {
    const char* name;
    // Runs with the channel loaded from disk; the channel is reloaded after.
    void (*lose)(IChannel* channel, const std::string& folder);
  };
  const Loss losses[] = {
      {"clean update: the channel's data cleared",
       [](IChannel* channel, const std::string&) {
         CSyncLock lock(GetChannelSet());
         channel->ClearData();
       }},
      {"headers removed", [](IChannel*, const std::string& folder) { fs::remove(folder + "/headers.bin"); }},
      {"headers cut short",
       [](IChannel*, const std::string& folder) {
         fs::resize_file(folder + "/headers.bin", fs::file_size(folder + "/headers.bin") / 2);
       }},
      {"headers of another kind",
       [](IChannel*, const std::string& folder) {
         std::string bytes = orvtest::ReadHostFile(folder + "/headers.bin");
         bytes.replace(0, 4, "XXXX");
         orvtest::WriteHostFile(folder + "/headers.bin", bytes);
       }},
  };
  int n = 0;
  for (const bool validators : {true, false}) {
    for (const Loss& loss : losses) {
      SCOPED_TRACE(std::string(loss.name) + (validators ? ", server sends validators" : ", same bytes"));
      const std::string path = "/whole" + std::to_string(n);
      const std::u16string name = U("Whole" + std::to_string(n));
      const std::string folder = ContentHost() + "/" + plat::Utf16ToUtf8(name);
      if (validators) {
        ServeWithValidators(path, MakeFeed(0, 5), "\"w" + std::to_string(n) + "\"");
      } else {
        server_.Serve(path, MakeFeed(0, 5), "text/xml; charset=utf-8");
      }
      ++n;
      IChannel* channel = AddFeed(name, path);
      ASSERT_NE(channel, nullptr);
      ASSERT_TRUE(RunJob(channel));
      EXPECT_NE(Property(channel, kPropFeedDigest), u"<none>");
      channel = Reload(name);
      ASSERT_EQ(LiveArticles(channel), 5);

      loss.lose(channel, folder);
      channel = Reload(name);
      ASSERT_TRUE(RunJob(channel));
      EXPECT_EQ(LastRequest().Header("If-None-Match"), "");
      EXPECT_EQ(LastRequest().Header("If-Modified-Since"), "");
      EXPECT_EQ(Status(channel), US_UP_TO_DATE);
      channel = Reload(name);
      EXPECT_EQ(LiveArticles(channel), 5);
      ExpectWholeChannel(channel, 5, -1);

      // Healed: the next update asks for changes only and keeps all five.
      ASSERT_TRUE(RunJob(channel));
      if (validators) EXPECT_NE(LastRequest().Header("If-None-Match"), "");
      channel = Reload(name);
      EXPECT_EQ(LiveArticles(channel), 5);
    }
  }
}

// ---- What feeds send ------------------------------------------------------------------

TEST_F(FeedStoreTest, FeedsWithAPrologOrWithoutADeclarationAreReadAsXml) {
  const std::string item = "<title>Kept</title><guid>prolog-1</guid><description>Text</description>";
  const std::string entry = "<title>Kept</title><id>prolog-1</id><content>Text</content>";
  const std::string cases[] = {
      "<!-- generated by a tool -->\n<rss version=\"2.0\"><channel><title>T</title><item>" + item +
          "</item></channel></rss>",
      "<?xml-stylesheet type=\"text/xsl\" href=\"feed.xsl\"?>\n<rss version=\"2.0\"><channel><item>" + item +
          "</item></channel></rss>",
      "<!DOCTYPE rss PUBLIC \"-//Netscape Communications//DTD RSS 0.91//EN\" "
      "\"http://my.netscape.com/publish/formats/rss-0.91.dtd\">\n<rss version=\"0.91\"><channel><item>" +
          item + "</item></channel></rss>",
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title><entry>" + entry + "</entry></feed>",
  };
  int n = 0;
  for (const std::string& feed : cases) {
    SCOPED_TRACE(feed.substr(0, 40));
    WriteFeed(feed);
    IChannel* channel = AddChannel(u"Prolog " + plat::Utf8ToUtf16(std::to_string(n++)), u"\\store.xml");
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(RunJob(channel));
    StoredArticle article = Article(channel, u"prolog-1");
    ASSERT_TRUE(article.found);
    EXPECT_EQ(article.title, u"Kept");
  }
}

TEST_F(FeedStoreTest, ItemCutOffByTheEndOfTheDocumentIsNotStored) {
  std::string feed = MakeFeed(0, 3);
  // Items stand newest first: item 0 is the last one; the document ends in it.
  feed.resize(feed.find("Body of item 0") + 7);
  WriteFeed(feed);
  IChannel* channel = AddStore();
  EXPECT_TRUE(RunJob(channel));
  EXPECT_TRUE(Article(channel, ItemId(2)).found);
  EXPECT_TRUE(Article(channel, ItemId(1)).found);
  EXPECT_FALSE(Article(channel, ItemId(0)).found);
  EXPECT_EQ(LiveArticles(channel), 2);
}

// A feed with one item nested 10,000 levels deep: every item is stored,
// the deep one with its text outside the deep part.
TEST_F(FeedStoreTest, FeedNestedPastTheDepthLimitStoresItsItems) {
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<x>";
  deep += "core";
  for (int i = 0; i < 10000; ++i) deep += "</x>";
  WriteFeed("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Deep</title>"
            "<item><title>Before</title><guid>item-0</guid><description>Text before</description></item>"
            "<item><title>Deep</title><guid>item-1</guid><description>head " + deep + " tail</description></item>"
            "<item><title>After</title><guid>item-2</guid><description>Text after</description></item>"
            "</channel></rss>");
  IChannel* channel = AddStore();
  ASSERT_NE(channel, nullptr);
  EXPECT_TRUE(RunJob(channel));
  EXPECT_EQ(LiveArticles(channel), 3);
  const char16_t* titles[] = {u"Before", u"Deep", u"After"};
  for (int i = 0; i < 3; ++i) {
    const StoredArticle article = Article(channel, ItemId(i));
    ASSERT_TRUE(article.found) << i;
    EXPECT_EQ(article.title, titles[i]);
  }
  StoredArticle deepItem = Article(channel, ItemId(1));
  const std::u16string body = deepItem.properties[u"body"];
  EXPECT_NE(body.find(u"head"), std::u16string::npos) << plat::Utf16ToUtf8(body);
  EXPECT_EQ(body.find(u"core"), std::u16string::npos) << plat::Utf16ToUtf8(body);
}

TEST_F(FeedStoreTest, BinariesAreBoundedPerArticleAndPerUpdate) {
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"MaxBinariesPerArticle", 5));
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"MaxBinariesPerUpdate", 7));
  std::string xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>";
  for (const char* id : {"many-1", "many-2", "many-3"}) {
    xml += std::string("<item><title>") + id + "</title><guid>" + id + "</guid><description>x</description>";
    for (int i = 0; i < 40; ++i) {
      xml += "<enclosure url=\"http://127.0.0.1:1/" + std::string(id) + "/" + std::to_string(i) + ".bin\"/>";
    }
    xml += "</item>";
  }
  WriteFeed(xml + "</channel></rss>");
  IChannel* channel = AddStore();
  ASSERT_TRUE(RunJob(channel));
  // Items are read in document order: 5, then the 2 left of the update, then none.
  EXPECT_EQ(Article(channel, u"many-1").binaries.size(), 5u);
  EXPECT_EQ(Article(channel, u"many-2").binaries.size(), 2u);
  EXPECT_EQ(Article(channel, u"many-3").binaries.size(), 0u);
  EXPECT_EQ(Article(channel, u"many-3").binaries.count(u"http://127.0.0.1:1/many-3/0.bin"), 0u);
  EXPECT_EQ(Article(channel, u"many-1").binaries.count(u"http://127.0.0.1:1/many-1/0.bin"), 1u);
}

}  // namespace
