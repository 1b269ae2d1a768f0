// The feeds benchmark's workload (300 generated feeds of 50 items from a
// loopback server: cold, unchanged, 5 new items per feed) run twice: feed jobs
// called one after another directly, and the same channels updated through
// the update manager (update all, its worker, the queue tree, one connection
// per run). Prints both figures side by side and the manager's overhead.
// Image binaries of the articles are not downloaded in either run: the
// manager's updater here makes feed jobs only, so each waiting binary is
// offered once and marked failed.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/FeedsGenerator.h"
#include "core/FileUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/inet/ConnMgr.h"
#include "update/InetManager.h"
#include "update/InetSession.h"
#include "update/RSSChannelJob.h"
#include "update/UpdateManager.h"
#include "update/UpdatersManager.h"

// The loopback server of the tests, built into this program.
#include "tests/support/HttpTestServer.cpp"

namespace {

int g_feeds = benchfeeds::kFeeds;

using bench::Clock;
using bench::LiveArticles;
using bench::PeakKb;
using bench::Seconds;

class FeedOnlyUpdater : public IUpdater {
 public:
  CUpdateJob* CreateJob(IUpdateItem* item) override {
    auto* channel = dynamic_cast<IChannel*>(item);
    return channel ? new CRSSChannelJob(channel, 0) : nullptr;
  }
};

std::vector<IChannel*> AddChannels(const std::u16string& folder, orvtest::HttpTestServer& server) {
  std::vector<IChannel*> channels;
  CreateFolderTree(folder);
  CSyncLock lock(GetChannelSet());
  GetGlobalOptions().SetContentFolder(folder, u"");
  GetChannelSet()->Open();
  for (int f = 0; f < g_feeds; ++f) {
    IChannel* channel = GetChannelSet()->Add(u"Feed " + plat::Utf8ToUtf16(std::to_string(f)));
    if (channel == nullptr) return {};
    CStringToStringMap properties;
    properties[kPropUrl] = plat::Utf8ToUtf16(server.Url("/feed/" + std::to_string(f)));
    properties[kPropType] = kChannelTypeRss;
    channel->SetProperties(properties);
    channel->GetOptions()->SetUseDefaultLimits(0);
    channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
    channel->GetOptions()->SetArticlesCountLimitEnabled(0);
    channels.push_back(channel);
  }
  return channels;
}

struct Figures {
  double wall = 0;
  int failed = 0;
  int articles = 0;
};

}  // namespace

int main() {
  const std::string root = benchfeeds::SetUpBenchDevice("bench_updatemanager", g_feeds);
  int status = 0;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  {
    orvtest::HttpTestServer server;
    const std::string base = server.Url("");
    std::vector<std::string> current(g_feeds);
    for (int f = 0; f < g_feeds; ++f) {
      current[f] = benchfeeds::MakeFeed(base, f, 0, benchfeeds::kItemsPerFeed);
      server.Route("/feed/" + std::to_string(f), [&current, f](const orvtest::HttpRequest&) {
        orvtest::HttpResponse response;
        response.body = current[f];
        response.headers = {{"Content-Type", benchfeeds::ContentType(f)}};
        return response;
      });
    }
    plat::SetConnectionProvider(std::make_shared<plat::HostNetworkProvider>(true));
    CInetManager& inet = CInetManager::GetInstance();
    GetGlobalOptions().SetRSSReportingAllowed(0);
    GetGlobalOptions().SetUseFreeConnectionsOnly(0);
    std::printf("%d feeds of %d items through feed jobs directly and through the update manager\n", g_feeds,
                benchfeeds::kItemsPerFeed);

    struct Run {
      const char* name;
      int items;  // items in each feed now
      int added;  // per feed
    };
    const Run runs[] = {{"cold", benchfeeds::kItemsPerFeed, benchfeeds::kItemsPerFeed},
                        {"unchanged", benchfeeds::kItemsPerFeed, 0},
                        {"5 new per feed", benchfeeds::kItemsPerFeed + benchfeeds::kNewItemsPerFeed,
                         benchfeeds::kNewItemsPerFeed}};
    Figures direct[3], managed[3];
    long peakDirect = 0;

    // Direct: one session, one job after another.
    {
      std::vector<IChannel*> channels = AddChannels(u"\\Direct", server);
      if (channels.empty()) return 1;
      CInetSession session(nullptr, false, &inet);
      if (!session.WaitForConnection()) {
        std::fprintf(stderr, "no connection\n");
        return 1;
      }
      for (int r = 0; r < 3; ++r) {
        for (int f = 0; f < g_feeds; ++f) current[f] = benchfeeds::MakeFeed(base, f, 0, runs[r].items);
        const Clock::time_point start = Clock::now();
        for (IChannel* channel : channels) {
          CRSSChannelJob job(channel, 0);
          job.SetSession(&session);
          job.Run();
          direct[r].failed += job.Succeeded() ? 0 : 1;
        }
        direct[r].wall = Seconds(start);
        for (IChannel* channel : channels) direct[r].articles += LiveArticles(channel);
      }
      peakDirect = PeakKb();
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
    }

    // Through the update manager: update all, wait for the run to close.
    {
      std::vector<IChannel*> channels = AddChannels(u"\\Managed", server);
      if (channels.empty()) return 1;
      FeedOnlyUpdater updater;
      CUpdatersManager::GetInstance().AddUpdater(&updater);
      auto manager = std::make_unique<CUpdateManager>(GetChannelSet(), &inet);
      for (int r = 0; r < 3; ++r) {
        for (int f = 0; f < g_feeds; ++f) current[f] = benchfeeds::MakeFeed(base, f, 0, runs[r].items);
        const Clock::time_point start = Clock::now();
        manager->UpdateAllChannels(0);
        for (;;) {
          bool pending = manager->IsUpdating();
          if (!pending) {
            CSyncLock lock(GetChannelSet());
            for (IChannel* channel : channels) {
              std::uint32_t s = channel->GetUpdateStatus();
              if (s == US_WAITING || s == US_UPDATING) pending = true;
            }
          }
          if (!pending) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        managed[r].wall = Seconds(start);
        {
          CSyncLock lock(GetChannelSet());
          for (IChannel* channel : channels) managed[r].failed += channel->GetUpdateStatus() == US_FAILED;
        }
        for (IChannel* channel : channels) managed[r].articles += LiveArticles(channel);
      }
      manager.reset();
      CUpdatersManager::GetInstance().RemoveUpdater(&updater);
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
    }
    const long peakManaged = PeakKb();

    for (int r = 0; r < 3; ++r) {
      const int added = runs[r].added * g_feeds;
      std::printf(
          "%-15s direct %.3f s (%.0f articles/s, %.0f items read/s) | manager %.3f s (%.0f articles/s, %.0f items "
          "read/s) | overhead %+.1f%% | failed feeds %d / %d\n",
          runs[r].name, direct[r].wall, added / direct[r].wall, runs[r].items * g_feeds / direct[r].wall,
          managed[r].wall, added / managed[r].wall, runs[r].items * g_feeds / managed[r].wall,
          100.0 * (managed[r].wall - direct[r].wall) / direct[r].wall, direct[r].failed, managed[r].failed);
      const int expected = runs[r].items * g_feeds;
      if (direct[r].articles != expected || managed[r].articles != expected || direct[r].failed ||
          managed[r].failed) {
        std::fprintf(stderr, "%s: articles %d direct, %d managed, %d expected\n", runs[r].name, direct[r].articles,
                     managed[r].articles, expected);
        status = 1;
      }
    }
    std::printf("peak RSS %.1f MB after the direct runs, %.1f MB after the managed runs\n", peakDirect / 1024.0,
                peakManaged / 1024.0);
  }
  std::filesystem::remove_all(root);
  return status;
}
