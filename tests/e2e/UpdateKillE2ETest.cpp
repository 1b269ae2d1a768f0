// The main program killed at a write step of an update: the real program,
// updating a channel from a loopback server at the service's request, ends
// itself with SIGKILL at each file step in turn (every write, flush, rename
// and folder flush), is started again and must find the channel
// whole: every article stored before with its read state, and the next
// update completing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/Md5.h"
#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/windows/Windows.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tools/device/DeviceInstall.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/UpdateLock.h"

namespace {

namespace fs = std::filesystem;
using orvtest::ScreenDriver;

const std::string kProgram = orvtest::MainProgramPath();
constexpr int kFirstItems = 4;  // stored by the first update
constexpr int kNewItems = 3;    // the feed of the killed update has only new items
constexpr int kReadItem = 1;    // marked read after the first update

std::string Feed(int first, int count) {
  std::string xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Alpha</title>";
  for (int i = first; i < first + count; ++i) {
    const std::string n = std::to_string(i);
    xml += "<item><title>Story " + n + "</title><guid>alpha-" + n + "</guid><description>Text of story " + n +
           "</description></item>";
  }
  return xml + "</channel></rss>";
}

std::u16string ArticleId(int i) { return GetMd5Hex(plat::Utf8ToUtf16("alpha-" + std::to_string(i))); }

// One file step of the program as it logged it.
struct Step {
  int number;
  std::string kind;
};

class UpdateKillE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"ORVNEWS_TEST_FILE_STEPS", "ORVNEWS_TEST_KILL_AT_FILE_STEP"}) ::unsetenv(v);
  }
  void TearDown() override { SetUp(); }


  // Starts the program; waits until its interface is open.
  static pid_t Start(ScreenDriver& device) {
    const pid_t program = device.Launch(kProgram, {});
    EXPECT_GT(program, 0);
    EXPECT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000)) << "the program did not start";
    return program;
  }
  // Asks the running program to update every channel, as the service does;
  // waits until the feed was asked for.
  static void RequestUpdate(orvtest::HttpTestServer& server) {
    const std::size_t asked = server.RequestCount("/alpha.xml");
    EXPECT_TRUE(plat::PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/alpha.xml") > asked; }, 30000))
        << "the update did not start";
  }
  // Waits until the update that asked for the feed has ended (its lock is
  // taken away at the end of the run), then ends the program.
  void FinishUpdateAndExit(ScreenDriver& device, pid_t program) {
    EXPECT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 60000)) << "the update did not end";
    EXPECT_TRUE(plat::PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().orvNewsExit, 0, 0));
    EXPECT_EQ(device.WaitExit(program, 30000), 0);
  }

  // The live articles of the channel by id, with their read states and
  // whether their text is stored; reads the files as another program of the
  // device would.
  struct Stored {
    bool loaded = false;
    std::map<std::u16string, bool> read;
    std::set<std::u16string> withoutText;
  };
  static Stored ReadChannel() {
    Stored stored;
    CChannelSet set;
    if (!set.Open()) return stored;
    IChannel* channel = set.FindByName(u"Alpha");
    if (!channel) return stored;
    int user = 0;
    channel->Acquire(&user);
    if (IArticleSet* articles = channel->GetArticleSet()) {
      stored.loaded = true;
      for (int i = 0; i < articles->GetCount(); ++i) {
        IArticle* article = articles->GetAt(i);
        if (article->IsDeleted()) continue;
        stored.read[article->GetId()] = channel->IsArticleRead(article);
        CStringToStringMap properties;
        channel->GetArticleProperties(article, properties);
        if (properties[u"body"].empty()) stored.withoutText.insert(article->GetId());
      }
    }
    channel->Release(&user, false);
    return stored;
  }
  // Every article of the first update is there with its text and read state;
  // any other article is one of the new ones and whole.
  static void ExpectWholeChannel(const Stored& stored, bool withNew) {
    ASSERT_TRUE(stored.loaded) << "the channel does not load";
    EXPECT_TRUE(stored.withoutText.empty()) << "an article without its text";
    for (int i = 0; i < kFirstItems; ++i) {
      const auto it = stored.read.find(ArticleId(i));
      ASSERT_NE(it, stored.read.end()) << "lost: story " << i;
      EXPECT_EQ(it->second, i == kReadItem) << "the read state of story " << i;
    }
    for (int i = kFirstItems; i < kFirstItems + kNewItems; ++i) {
      const auto it = stored.read.find(ArticleId(i));
      if (withNew) {
        EXPECT_NE(it, stored.read.end()) << "not stored: story " << i;
      }
      if (it != stored.read.end()) {
        EXPECT_FALSE(it->second) << "a new story read: " << i;
      }
    }
    EXPECT_LE(stored.read.size(), static_cast<std::size_t>(kFirstItems + kNewItems)) << "stories stored twice";
  }

  static std::vector<Step> ReadSteps(const std::string& log) {
    std::vector<Step> steps;
    for (const std::string& line : orvtest::ReadLines(log)) {
      const std::size_t blank = line.find(' ');
      if (blank == std::string::npos) continue;
      steps.push_back({std::atoi(line.substr(0, blank).c_str()), line.substr(blank + 1)});
    }
    return steps;
  }

  // Side files of stopped saves anywhere below the folder.
  static std::vector<std::string> SideFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") found.push_back(name);
    }
    return found;
  }
};

TEST_F(UpdateKillE2E, KilledAtWriteStepsOfAnUpdateRestartsWithAWholeChannel) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed(0, kFirstItems));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallWithFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));

  // The first update stores the first stories; the person reads one.
  pid_t program = Start(device);
  RequestUpdate(server);
  FinishUpdateAndExit(device, program);
  {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    IChannel* channel = set.FindByName(u"Alpha");
    ASSERT_NE(channel, nullptr);
    int user = 0;
    channel->Acquire(&user);
    IArticle* article = channel->GetArticleSet()->FindById(ArticleId(kReadItem));
    ASSERT_NE(article, nullptr);
    channel->SetArticleRead(article, true);
    channel->Release(&user, true);
  }
  ASSERT_NO_FATAL_FAILURE(ExpectWholeChannel(ReadChannel(), false));

  // What every killed update starts from, put back before each run.
  const std::string contentHost = plat::HostPathFromDevicePath(GetGlobalOptions().GetContentFolder());
  ASSERT_TRUE(fs::is_directory(contentHost)) << contentHost;
  const std::string snapshot = device.Device().Scratch() + "/content-before";
  fs::copy(contentHost, snapshot, fs::copy_options::recursive);
  auto restore = [&] {
    fs::remove_all(contentHost);
    fs::copy(snapshot, contentHost, fs::copy_options::recursive);
  };
  server.Serve("/alpha.xml", Feed(kFirstItems, kNewItems));

  // A run that is not killed numbers the steps of the update.
  const std::string log = device.Device().Scratch() + "/steps.log";
  ::setenv("ORVNEWS_TEST_FILE_STEPS", log.c_str(), 1);
  program = Start(device);
  const std::size_t before = ReadSteps(log).size();
  RequestUpdate(server);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 60000));
  std::vector<Step> steps = ReadSteps(log);
  ASSERT_TRUE(plat::PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().orvNewsExit, 0, 0));
  ASSERT_EQ(device.WaitExit(program, 30000), 0);
  ::unsetenv("ORVNEWS_TEST_FILE_STEPS");
  ASSERT_NO_FATAL_FAILURE(ExpectWholeChannel(ReadChannel(), true));
  ASSERT_GT(steps.size(), before);
  const std::vector<Step> update(steps.begin() + static_cast<std::ptrdiff_t>(before), steps.end());
  std::set<std::string> kinds;
  for (const Step& s : update) kinds.insert(s.kind);
  for (const char* kind : {"write", "flush", "rename", "flush folder"}) {
    EXPECT_TRUE(kinds.count(kind)) << "an update without a step \"" << kind << "\"";
  }

  std::set<std::string> killedAt;
  // Killed at every step of the update in turn.
  for (const Step& step : update) {
    SCOPED_TRACE("killed at step " + std::to_string(step.number) + " (" + step.kind + ")");
    restore();
    fs::remove(log);
    ::setenv("ORVNEWS_TEST_FILE_STEPS", log.c_str(), 1);
    ::setenv("ORVNEWS_TEST_KILL_AT_FILE_STEP", std::to_string(step.number).c_str(), 1);
    program = Start(device);
    RequestUpdate(server);
    ASSERT_EQ(device.WaitExit(program, 60000), 128 + SIGKILL) << "the program was not killed at its step";
    ::unsetenv("ORVNEWS_TEST_KILL_AT_FILE_STEP");
    ::unsetenv("ORVNEWS_TEST_FILE_STEPS");
    const std::vector<Step> ran = ReadSteps(log);
    ASSERT_FALSE(ran.empty());
    EXPECT_EQ(ran.back().number, step.number);
    killedAt.insert(ran.back().kind);

    // Started again: the channel loads whole, and the next update stores
    // the new stories beside the old ones.
    program = Start(device);
    ASSERT_NO_FATAL_FAILURE(ExpectWholeChannel(ReadChannel(), false));
    RequestUpdate(server);
    FinishUpdateAndExit(device, program);
    ASSERT_NO_FATAL_FAILURE(ExpectWholeChannel(ReadChannel(), true));
    EXPECT_TRUE(SideFiles(contentHost).empty()) << SideFiles(contentHost).front();
    if (HasFailure()) break;
  }
  for (const char* kind : {"write", "flush", "rename", "flush folder"}) {
    EXPECT_TRUE(killedAt.count(kind)) << "no kill at a step \"" << kind << "\"";
  }
}

}  // namespace
