// First updates one channel from a feed of about 31 MB and prints the peak
// memory against the feed's size (BENCH_FEEDS_LARGE=0 leaves it out). Then
// updates 300 feed channels of 50 items (about 65 MB, UTF-8, ISO-8859-1 and
// windows-1252; BENCH_FEEDS_COUNT=N for fewer) from a loopback server, one feed job
// after another: into an empty content folder (cold), again with nothing
// changed, and with 5 new items per feed. Prints each run's wall time, the
// connections the server accepted,
// articles per second, peak memory, CPU time, the parse's share (the same
// documents, and the new item bodies, parsed alone as the job parses them:
// plain XML without Tidy, bodies by Tidy), and how many files of the content
// folder each run wrote. Each run's line ends with the machine's load
// average (1 minute) as the run began and ended: wall times on a machine
// shared with other work swing with it, CPU times much less.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
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
#include "update/tidy/TidyDocument.h"

// The loopback server of the tests.
#include "tools/loopback/HttpTestServer.h"

namespace {

// BENCH_FEEDS_COUNT runs fewer feeds (for profiling under valgrind).
int g_feeds = benchfeeds::kFeeds;

// Profiling one run: with BENCH_FEEDS_PERF_RUN=<run name> and perf's control
// descriptor in BENCH_FEEDS_PERF_FD, perf records only that run, e.g.
//   mkfifo ctl; exec 9<>ctl; BENCH_FEEDS_PERF_FD=9 BENCH_FEEDS_PERF_RUN=cold
//   perf record -D -1 --control fd:9 bench_Feeds
void PerfControl(const char* run, const char* command) {
  const char* wanted = std::getenv("BENCH_FEEDS_PERF_RUN");
  const char* fd = std::getenv("BENCH_FEEDS_PERF_FD");
  if (!wanted || !fd || std::strcmp(wanted, run) != 0) return;
  const std::string line = std::string(command) + "\n";
  (void)!write(std::atoi(fd), line.data(), line.size());
}

using bench::Clock;
using bench::LiveArticles;
using bench::Seconds;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Stamp {
  std::filesystem::file_time_type time;
  std::uintmax_t size = 0;
  std::size_t hash = 0;  // of the bytes
  bool operator!=(const Stamp& other) const { return time != other.time || size != other.size; }
};

// Modification time, size and a hash of the bytes of every file below a host folder.
std::map<std::string, Stamp> Stamps(const std::string& root) {
  std::map<std::string, Stamp> stamps;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    stamps[path] = {entry.last_write_time(), entry.file_size(),
                    std::hash<std::string>{}(ReadAll(path))};
  }
  return stamps;
}

// The parse of a run done alone: each feed document parsed as the job parses
// it, and the description of every item the run adds cleaned.
double ParseAloneSeconds(const std::vector<std::string>& feeds, int firstNew, int newCount) {
  const Clock::time_point start = Clock::now();
  for (std::size_t f = 0; f < feeds.size(); ++f) {
    const std::string& xml = feeds[f];
    Tidy::Document document;
    document.Init();
    Tidy::ParseBuffer(xml.data(), xml.size(), &document, benchfeeds::TransportEncoding(static_cast<int>(f)), u"");
    if (newCount == 0 || document.GetRoot() == nullptr) continue;
    Tidy::Node* channel = document.GetRoot()->FindChildElement("rss")->FindChildElement("channel");
    for (Tidy::Node* item : channel->Children()) {
      if (!item->IsElement() || !item->NameIs("item")) continue;
      // The guid "feed-F-item-I" tells the item's number.
      const std::string guid = plat::Utf16ToUtf8(Tidy::GetNodeText(&document, item->FindChildElement("guid")));
      const int number = std::atoi(guid.substr(guid.rfind('-') + 1).c_str());
      if (number < firstNew || number >= firstNew + newCount) continue;
      std::u16string body = Tidy::GetNodeText(&document, item->FindChildElement("description"));
      CStringList images;
      Tidy::ProcessHtmlFragment(body, &images, u"");
    }
  }
  return Seconds(start);
}

// The machine's load average over the last minute (-1 when unknown).
double LoadAverage() {
  double load[1] = {-1.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

// A figure of /proc/self/status in KB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0 && line.size() > std::strlen(key) && line[std::strlen(key)] == ':')
      return std::atol(line.c_str() + std::strlen(key) + 1);
  }
  return 0;
}

// One feed of about 31 MB (windows-1252, so it is converted) updated into an
// empty channel, served by a child process so that the server's copies do not
// count: prints the process's peak memory during the update against the
// body's size. Returns false when the feed was not stored.
bool MeasureLargeFeed(const std::string& root) {
  constexpr int kFeed = 2;  // windows-1252
  constexpr int kItems = 7300;
  int toParent[2], toChild[2];
  if (pipe(toParent) != 0 || pipe(toChild) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    close(toParent[0]);
    close(toChild[1]);
    {
      orvtest::HttpTestServer server;
      server.SetKeepAlive(true);
      const std::string body = benchfeeds::MakeFeed(server.Url(""), kFeed, 0, kItems);
      server.Route("/large", [&body](const orvtest::HttpRequest&) {
        orvtest::HttpResponse response;
        response.body = body;
        response.headers = {{"Content-Type", benchfeeds::ContentType(kFeed)}};
        return response;
      });
      const std::string line = server.Url("/large") + " " + std::to_string(body.size()) + "\n";
      (void)!write(toParent[1], line.data(), line.size());
      char c;
      while (read(toChild[0], &c, 1) > 0) {
      }
    }
    _exit(0);
  }
  close(toParent[1]);
  close(toChild[0]);
  std::string line;
  char c;
  while (read(toParent[0], &c, 1) == 1 && c != '\n') line += c;
  close(toParent[0]);
  const std::string url = line.substr(0, line.find(' '));
  const std::size_t bodyBytes = std::strtoull(line.c_str() + line.find(' ') + 1, nullptr, 10);

  CInetManager& manager = CInetManager::GetInstance();
  CInetSession session(nullptr, true, &manager);
  IChannel* channel = nullptr;
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->Open();
    channel = GetChannelSet()->Add(u"Large");
    CStringToStringMap properties;
    properties[kPropUrl] = plat::Utf8ToUtf16(url);
    properties[kPropType] = kChannelTypeRss;
    channel->SetProperties(properties);
    channel->GetOptions()->SetUseDefaultLimits(0);
    channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
    channel->GetOptions()->SetArticlesCountLimitEnabled(0);
  }
  bool ok = session.WaitForConnection();
  // Writing 5 resets the peak figure (VmHWM) to the present size.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long before = StatusKb("VmRSS");
  const Clock::time_point start = Clock::now();
  const bench::CpuTimes cpuBefore = bench::ProcessCpu();
  int stored = 0;
  if (ok) {
    CRSSChannelJob job(channel, 0);
    job.SetSession(&session);
    job.Run();
    ok = job.Succeeded();
    stored = LiveArticles(channel);
  }
  const double wall = Seconds(start);
  const bench::CpuTimes cpuAfter = bench::ProcessCpu();
  const long peak = StatusKb("VmHWM");
  const double body = bodyBytes / 1048576.0;
  std::printf(
      "large feed      %.1f MB body, %d items stored, %.3f s (CPU %.3f s); RSS %.1f MB before, peak %.1f MB: "
      "peak/body %.2f, growth/body %.2f\n",
      body, stored, wall, cpuAfter.user - cpuBefore.user + cpuAfter.system - cpuBefore.system, before / 1024.0, peak / 1024.0, peak / 1024.0 / body, (peak - before) / 1024.0 / body);
  {
    // The parse's share: the same bytes parsed alone, released once converted as the job does.
    std::string text = benchfeeds::MakeFeed(url.substr(0, url.rfind('/')), kFeed, 0, kItems);
    std::vector<char> bytes(text.begin(), text.end());
    std::string().swap(text);
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long parseBefore = StatusKb("VmRSS");
    Tidy::Document document;
    document.Init();
    Tidy::ParseBuffer(bytes.data(), bytes.size(), &document, benchfeeds::TransportEncoding(kFeed), u"", &bytes);
    const long parsed = StatusKb("VmRSS");
    const long parsePeak = StatusKb("VmHWM");
    std::printf("                parse alone: peak growth/body %.2f (body included), tree kept/body %.2f\n",
                (parsePeak - parseBefore) / 1024.0 / body + 1.0, (parsed - parseBefore) / 1024.0 / body + 1.0);
  }
  std::fflush(stdout);
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveAll();
  }
  close(toChild[1]);
  int status = 0;
  waitpid(child, &status, 0);
  (void)root;
  return ok && stored == kItems;
}

}  // namespace

int main() {
  const std::string root = benchfeeds::SetUpBenchDevice("bench_feeds", g_feeds);
  int status = 0;
  plat::SetConnectionProvider(std::make_shared<plat::HostNetworkProvider>(true));
  CreateFolderTree(u"\\Content");
  GetGlobalOptions().SetContentFolder(u"\\Content", u"");
  GetGlobalOptions().SetRSSReportingAllowed(0);
  // BENCH_FEEDS_LARGE=0 leaves out the large feed.
  if (const char* large = std::getenv("BENCH_FEEDS_LARGE"); !(large && *large == '0')) {
    if (!MeasureLargeFeed(root)) {
      std::fprintf(stderr, "large feed not stored\n");
      status = 1;
    }
  }
  {
    orvtest::HttpTestServer server;
    // As a real server: connections stay open for the next request
    // (BENCH_FEEDS_CLOSE=1: every response closes its connection).
    const char* close = std::getenv("BENCH_FEEDS_CLOSE");
    server.SetKeepAlive(!(close && *close == '1'));
    const std::string base = server.Url("");
    // Phase 0: items 0..49; phase 1: the same; phase 2: 5 newer items on top.
    std::vector<std::string> current(g_feeds);
    std::size_t totalBytes = 0;
    for (int f = 0; f < g_feeds; ++f) {
      current[f] = benchfeeds::MakeFeed(base, f, 0, benchfeeds::kItemsPerFeed);
      totalBytes += current[f].size();
      server.Route("/feed/" + std::to_string(f), [&current, f](const orvtest::HttpRequest&) {
        orvtest::HttpResponse response;
        response.body = current[f];
        response.headers = {{"Content-Type", benchfeeds::ContentType(f)}};
        return response;
      });
    }
    std::printf("%d feeds of %d items, %.1f MB in all\n", g_feeds, benchfeeds::kItemsPerFeed,
                totalBytes / 1048576.0);

    CInetManager& manager = CInetManager::GetInstance();
    CInetSession session(nullptr, true, &manager);
    if (!session.WaitForConnection()) {
      std::fprintf(stderr, "no connection\n");
      return 1;
    }
    std::vector<IChannel*> channels;
    {
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->Open();
      for (int f = 0; f < g_feeds; ++f) {
        IChannel* channel = GetChannelSet()->Add(u"Feed " + plat::Utf8ToUtf16(std::to_string(f)));
        if (channel == nullptr) {
          std::fprintf(stderr, "channel %d not added\n", f);
          return 1;
        }
        CStringToStringMap properties;
        properties[kPropUrl] = plat::Utf8ToUtf16(server.Url("/feed/" + std::to_string(f)));
        properties[kPropType] = kChannelTypeRss;
        channel->SetProperties(properties);
        channel->GetOptions()->SetUseDefaultLimits(0);
        channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
        channel->GetOptions()->SetArticlesCountLimitEnabled(0);
        channels.push_back(channel);
      }
    }
    const std::string content = root + "/fs/Content";

    struct Run {
      const char* name;
      int expectedPerFeed;
      int firstNew, newCount;  // items this run adds
    };
    const Run runs[] = {{"cold", benchfeeds::kItemsPerFeed, 0, benchfeeds::kItemsPerFeed},
                        {"unchanged", benchfeeds::kItemsPerFeed, 0, 0},
                        {"5 new per feed", benchfeeds::kItemsPerFeed + benchfeeds::kNewItemsPerFeed,
                         benchfeeds::kItemsPerFeed, benchfeeds::kNewItemsPerFeed}};
    // The runs' peak, without the large feed's.
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    int phase = 0;
    for (const Run& run : runs) {
      if (phase == 2) {
        for (int f = 0; f < g_feeds; ++f) {
          current[f] =
              benchfeeds::MakeFeed(base, f, 0, benchfeeds::kItemsPerFeed + benchfeeds::kNewItemsPerFeed);
        }
      }
      auto before = Stamps(content);
      const std::size_t connectionsBefore = server.ConnectionCount();
      const double loadBefore = LoadAverage();
      const Clock::time_point start = Clock::now();
      const bench::CpuTimes cpuBefore = bench::ProcessCpu();
      PerfControl(run.name, "enable");
      int failed = 0;
      for (IChannel* channel : channels) {
        CRSSChannelJob job(channel, 0);
        job.SetSession(&session);
        job.Run();
        failed += job.Succeeded() ? 0 : 1;
      }
      const double wall = Seconds(start);
      PerfControl(run.name, "disable");
      const bench::CpuTimes cpuAfter = bench::ProcessCpu();
      const long peak = StatusKb("VmHWM");
      auto after = Stamps(content);
      int written = 0, unchanged = 0, sameBytes = 0;
      std::map<std::string, int> writtenByName;  // file name without the channel's folder
      for (const auto& [path, stamp] : after) {
        auto it = before.find(path);
        if (it == before.end() || it->second != stamp) {
          ++written;
          if (it != before.end() && it->second.hash == stamp.hash) ++sameBytes;
          const std::string name = std::filesystem::path(path).filename().string();
          ++writtenByName[name.size() > 4 && name.substr(name.size() - 4) == ".cnl" ? "*.cnl" : name];
        } else {
          ++unchanged;
        }
      }
      int articles = 0;
      for (IChannel* channel : channels) articles += LiveArticles(channel);
      const int added = run.newCount * g_feeds;
      const double tidy = ParseAloneSeconds(current, run.firstNew, run.newCount);
      std::printf(
          "%-15s %.3f s wall, %d articles added (%.0f articles/s; %.0f items read/s), peak RSS %.1f MB, "
          "parse alone %.3f s (%.0f%% of the run), files written %d, untouched %d, failed feeds %d\n",
          run.name, wall, added, added / wall, run.expectedPerFeed * g_feeds / wall, peak / 1024.0, tidy,
          100.0 * tidy / wall, written, unchanged, failed);
      std::printf("%-15s CPU %.3f s user + %.3f s sys = %.3f s (this process, the loopback server included)\n", "",
                  cpuAfter.user - cpuBefore.user, cpuAfter.system - cpuBefore.system,
                  cpuAfter.user - cpuBefore.user + cpuAfter.system - cpuBefore.system);
      std::printf("%-15s %zu connections for %d requests; load average %.1f at the start, %.1f at the end\n", "",
                  server.ConnectionCount() - connectionsBefore, g_feeds, loadBefore, LoadAverage());
      if (written != 0) {
        std::printf("%-15s written:", "");
        for (const auto& [name, count] : writtenByName) std::printf(" %s x%d", name.c_str(), count);
        std::printf("; %d of them rewritten with the same bytes\n", sameBytes);
      }
      std::fflush(stdout);
      if (failed != 0 || articles != run.expectedPerFeed * g_feeds) {
        std::fprintf(stderr, "%s: %d articles stored, %d expected\n", run.name, articles,
                     run.expectedPerFeed * g_feeds);
        status = 1;
      }
      ++phase;
    }
    {
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
    }
  }
  std::filesystem::remove_all(root);
  return status;
}
