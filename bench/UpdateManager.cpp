// The feeds benchmark's workload (300 generated feeds of 50 items: cold,
// unchanged, 5 new items per feed) from a loopback server, run twice: feed
// jobs called one after another directly, and the same channels updated
// through the update manager (update all, its worker, the queue tree, one
// connection per run). Prints both figures side by side and the manager's
// overhead. Then the same feeds through the manager from 10 hosts
// (127.0.0.2 to 127.0.0.11), each answer sent 100 ms after its request:
// cold, unchanged, and unchanged from servers that ignore validators; then
// a stop in the middle of a run.
// Every server sends an ETag and a Last-Modified with each feed and answers
// 304 to a request that names the current ETag (except where said).
// Image binaries of the articles are not downloaded in either run: the
// manager's updater here makes feed jobs only, so each waiting binary is
// offered once and marked failed.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include "update/http/InetManager.h"
#include "update/http/InetSession.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdateManager.h"
#include "update/jobs/UpdatersManager.h"

// The loopback server of the tests.
#include "tools/loopback/HttpTestServer.h"

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

template <class UrlOf>
std::vector<IChannel*> AddChannels(const std::u16string& folder, UrlOf urlOf) {
  std::vector<IChannel*> channels;
  CreateFolderTree(folder);
  CSyncLock lock(GetChannelSet());
  GetGlobalOptions().SetContentFolder(folder, u"");
  GetChannelSet()->Open();
  for (int f = 0; f < g_feeds; ++f) {
    IChannel* channel = GetChannelSet()->Add(u"Feed " + plat::Utf8ToUtf16(std::to_string(f)));
    if (channel == nullptr) return {};
    CStringToStringMap properties;
    properties[kPropUrl] = plat::Utf8ToUtf16(urlOf(f));
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

constexpr char kLastModified[] = "Wed, 09 Dec 2026 10:00:00 GMT";

// What every server answers for feed f: the current body with validators of
// its version, or 304 when the request names the current ETag (while
// validators are honoured); each answer after the host's delay.
struct FeedServing {
  std::vector<std::string> body;
  std::vector<int> items;
  std::atomic<bool> honourValidators{true};

  void Set(const std::string& base, int itemsNow) {
    for (std::size_t f = 0; f < body.size(); ++f) {
      body[f] = benchfeeds::MakeFeed(base, static_cast<int>(f), 0, itemsNow);
      items[f] = itemsNow;
    }
  }
  void Route(orvtest::HttpTestServer& server, int f, int delayMs) {
    server.Route("/feed/" + std::to_string(f), [this, f, delayMs](const orvtest::HttpRequest& request) {
      if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      orvtest::HttpResponse response;
      const std::string etag = "\"" + std::to_string(f) + "-" + std::to_string(items[f]) + "\"";
      response.headers = {{"ETag", etag}, {"Last-Modified", kLastModified}};
      if (honourValidators && request.Header("If-None-Match") == etag) {
        response.status = 304;
        response.sendContentLength = false;
        return response;
      }
      response.headers.push_back({"Content-Type", benchfeeds::ContentType(f)});
      response.body = body[f];
      return response;
    });
  }
};

// Update all through the manager and wait until no channel waits or updates.
Figures RunManaged(CUpdateManager& manager, const std::vector<IChannel*>& channels) {
  Figures figures;
  const Clock::time_point start = Clock::now();
  manager.UpdateAllChannels(0);
  for (;;) {
    bool pending = manager.IsUpdating();
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
  figures.wall = Seconds(start);
  {
    CSyncLock lock(GetChannelSet());
    for (IChannel* channel : channels) figures.failed += channel->GetUpdateStatus() == US_FAILED;
  }
  for (IChannel* channel : channels) figures.articles += LiveArticles(channel);
  return figures;
}

std::string LoadAverage() {
  double load[3] = {};
  if (getloadavg(load, 3) != 3) return "load ?";
  char text[64];
  std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

}  // namespace

int main() {
  const std::string root = benchfeeds::SetUpBenchDevice("bench_updatemanager", g_feeds);
  int status = 0;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  {
    orvtest::HttpTestServer server;
    const std::string base = server.Url("");
    FeedServing serving;
    serving.body.resize(g_feeds);
    serving.items.resize(g_feeds);
    for (int f = 0; f < g_feeds; ++f) serving.Route(server, f, 0);
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
    Figures direct[3], managed[3], ignoring;
    std::string loads[3], ignoringLoad;
    long peakDirect = 0;

    // Direct: one session, one job after another.
    {
      std::vector<IChannel*> channels =
          AddChannels(u"\\Direct", [&server](int f) { return server.Url("/feed/" + std::to_string(f)); });
      if (channels.empty()) return 1;
      CInetSession session(nullptr, false, &inet);
      if (!session.WaitForConnection()) {
        std::fprintf(stderr, "no connection\n");
        return 1;
      }
      for (int r = 0; r < 3; ++r) {
        serving.Set(base, runs[r].items);
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
      std::vector<IChannel*> channels =
          AddChannels(u"\\Managed", [&server](int f) { return server.Url("/feed/" + std::to_string(f)); });
      if (channels.empty()) return 1;
      FeedOnlyUpdater updater;
      CUpdatersManager::GetInstance().AddUpdater(&updater);
      auto manager = std::make_unique<CUpdateManager>(GetChannelSet(), &inet);
      for (int r = 0; r < 3; ++r) {
        serving.Set(base, runs[r].items);
        managed[r] = RunManaged(*manager, channels);
        loads[r] = LoadAverage();
      }
      // The unchanged run once more, from a server that ignores validators.
      serving.honourValidators = false;
      ignoring = RunManaged(*manager, channels);
      ignoringLoad = LoadAverage();
      serving.honourValidators = true;
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
      std::printf("%-15s (%s)\n", "", loads[r].c_str());
      const int expected = runs[r].items * g_feeds;
      if (direct[r].articles != expected || managed[r].articles != expected || direct[r].failed ||
          managed[r].failed) {
        std::fprintf(stderr, "%s: articles %d direct, %d managed, %d expected\n", runs[r].name, direct[r].articles,
                     managed[r].articles, expected);
        status = 1;
      }
    }
    std::printf("%-15s manager %.3f s | failed feeds %d (%s)\n", "unchanged, validators ignored", ignoring.wall,
                ignoring.failed, ignoringLoad.c_str());
    if (ignoring.articles != runs[2].items * g_feeds || ignoring.failed) status = 1;
    std::printf("peak RSS %.1f MB after the direct runs, %.1f MB after the managed runs\n", peakDirect / 1024.0,
                peakManaged / 1024.0);

    // Ten hosts, each answer 100 ms after its request.
    constexpr int kHosts = 10;
    constexpr int kDelayMs = 100;
    std::vector<std::unique_ptr<orvtest::HttpTestServer>> hosts;
    for (int h = 0; h < kHosts; ++h) {
      hosts.push_back(std::make_unique<orvtest::HttpTestServer>("127.0.0." + std::to_string(2 + h)));
    }
    for (int f = 0; f < g_feeds; ++f) serving.Route(*hosts[f % kHosts], f, kDelayMs);
    {
      std::vector<IChannel*> channels = AddChannels(
          u"\\Hosts", [&hosts](int f) { return hosts[f % kHosts]->Url("/feed/" + std::to_string(f)); });
      if (channels.empty()) return 1;
      FeedOnlyUpdater updater;
      CUpdatersManager::GetInstance().AddUpdater(&updater);
      auto manager = std::make_unique<CUpdateManager>(GetChannelSet(), &inet);
      serving.Set(base, benchfeeds::kItemsPerFeed);
      struct HostRun {
        const char* name;
        bool honour;
      };
      const HostRun hostRuns[] = {{"cold", true}, {"unchanged", true}, {"unchanged, validators ignored", false}};
      for (const HostRun& run : hostRuns) {
        serving.honourValidators = run.honour;
        const Figures figures = RunManaged(*manager, channels);
        std::size_t connections = 0, peak = 0;
        for (const auto& host : hosts) {
          connections += host->ConnectionCount();
          peak = std::max(peak, host->PeakConnections());
        }
        std::printf("%d hosts, %d ms per answer, %-30s manager %.3f s | failed feeds %d | connections so far %zu, "
                    "at most %zu at once to one host (%s)\n",
                    kHosts, kDelayMs, run.name, figures.wall, figures.failed, connections, peak,
                    LoadAverage().c_str());
        if (figures.articles != benchfeeds::kItemsPerFeed * g_feeds || figures.failed) status = 1;
      }
      // A stop in the middle of a run: how long until no download is left
      // open at any host, and until the run has closed.
      {
        manager->UpdateAllChannels(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        auto open = [&hosts] {
          std::size_t n = 0;
          for (const auto& host : hosts) n += host->OpenConnections();
          return n;
        };
        const std::size_t before = open();
        const Clock::time_point start = Clock::now();
        manager->StopUpdatingAllChannels();
        while (open() > 0 && Seconds(start) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double closed = Seconds(start);
        while (manager->IsUpdating() && Seconds(start) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::printf("%d hosts, stop during a run: %zu connections open at the stop, all closed after %.3f s, run "
                    "closed after %.3f s (%s)\n",
                    kHosts, before, closed, Seconds(start), LoadAverage().c_str());
      }
      serving.honourValidators = true;
      manager.reset();
      CUpdatersManager::GetInstance().RemoveUpdater(&updater);
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
    }
    std::printf("peak RSS %.1f MB at the end\n", PeakKb() / 1024.0);
  }
  std::filesystem::remove_all(root);
  return status;
}
