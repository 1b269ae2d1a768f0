// Feeds downloaded ahead of the update worker: the bounds, hosts that take
// one connection only, stops with downloads in flight, and which request a
// body fetched ahead may serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/support/Wait.h"
#include "tests/update/ChannelTestSupport.h"
#include "tests/update/InetTestSupport.h"
#include "update/feed/RSSChannelJob.h"
#include "update/http/FeedsAhead.h"
#include "update/http/InetJob.h"
#include "update/http/TidyDownload.h"
#include "update/jobs/BinaryJob.h"
#include "update/jobs/UpdateManager.h"
#include "update/jobs/UpdatersManager.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvtest::Eventually;

std::string RssFeed(const std::string& title, int items) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>" + title +
                    "</title><link>http://example.org/</link><description>d</description>\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    xml += "<item><title>" + title + " item " + n + "</title><guid>" + title + "-" + n +
           "</guid><description>Body " + n + " " + std::string(200, 'x') + "</description></item>\n";
  }
  return xml + "</channel></rss>\n";
}

// A job that holds the worker until the test lets it go (or the run stops),
// so that the feeds queued after it are fetched ahead meanwhile.
class GateJob : public CUpdateJob {
 public:
  GateJob(IChannel* channel, std::atomic<bool>* open) : channel_(channel), open_(open) {}
  void Run() override {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!*open_ && !stopped_ && !(session_ && session_->IsCancelled()) && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    CSyncLock db(GetChannelSet());
    if (!stopped_) channel_->SetUpdateState(US_UP_TO_DATE);
  }
  void Stop() override { stopped_ = true; }
  IUpdateItem* GetItem() override { return stopped_ ? nullptr : channel_; }

 private:
  IChannel* channel_;
  std::atomic<bool>* open_;
  std::atomic<bool> stopped_{false};
};

// Feed jobs for "@RSS" channels; a gate for channels named "Gate".
class AheadUpdater : public IUpdater {
 public:
  CUpdateJob* CreateJob(IUpdateItem* item) override {
    auto* channel = dynamic_cast<IChannel*>(item);
    if (auto* binary = dynamic_cast<IBinary*>(item)) return binaries ? new CBinaryJob(binary) : nullptr;
    if (!channel) return nullptr;
    if (channel->GetName().starts_with(u"Gate")) return new GateJob(channel, &gateOpen);
    return new CRSSChannelJob(channel, 0);
  }
  std::atomic<bool> gateOpen{false};
  std::atomic<bool> binaries{false};  // pictures are downloaded too
};

// Requests being answered at once, per host and overall, with their peaks.
class InFlight {
 public:
  void Enter(const std::string& host) {
    std::lock_guard<std::mutex> g(lock_);
    peakOverall_ = std::max(peakOverall_, ++overall_);
    int& now = ++perHost_[host];
    peakPerHost_ = std::max(peakPerHost_, now);
  }
  void Leave(const std::string& host) {
    std::lock_guard<std::mutex> g(lock_);
    --overall_;
    --perHost_[host];
  }
  int PeakOverall() {
    std::lock_guard<std::mutex> g(lock_);
    return peakOverall_;
  }
  int PeakPerHost() {
    std::lock_guard<std::mutex> g(lock_);
    return peakPerHost_;
  }

 private:
  std::mutex lock_;
  int overall_ = 0, peakOverall_ = 0, peakPerHost_ = 0;
  std::map<std::string, int> perHost_;
};

class FeedsAheadTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(OpenContentForUpdates());
    GetGlobalOptions().SetRSSReportingAllowed(0);
    CUpdatersManager::GetInstance().AddUpdater(&updater_);
    updates_ = std::make_unique<CUpdateManager>(GetChannelSet(), manager_.get());
  }
  void TearDown() override {
    updater_.gateOpen = true;
    updates_.reset();
    CUpdatersManager::GetInstance().RemoveUpdater(&updater_);
    GetChannelSet()->RemoveAll();
    InetTest::TearDown();
  }

  static void SetParallelDownloads(plat::DWORD n) { OpenSettingsKey().SetDWORD(u"ParallelDownloads", n); }

  IChannel* AddFeed(const std::u16string& name, const std::string& url) {
    return orvtest::AddUnlimitedChannel(name, plat::Utf8ToUtf16(url), kChannelTypeRss);
  }
  std::uint32_t Status(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    return channel->GetUpdateStatus();
  }
  std::u16string Property(IChannel* channel, const char16_t* name) {
    CSyncLock lock(GetChannelSet());
    auto it = channel->GetProperties().find(name);
    return it == channel->GetProperties().end() ? std::u16string() : it->second;
  }
  bool AllUpToDate(const std::vector<IChannel*>& channels) {
    for (IChannel* c : channels) {
      if (Status(c) != US_UP_TO_DATE) return false;
    }
    return true;
  }
  bool WaitIdle(int limitMs = 10000) {
    return Eventually([&] { return !updates_->IsUpdating(); }, limitMs);
  }

  AheadUpdater updater_;
  std::unique_ptr<CUpdateManager> updates_;
};

TEST_F(FeedsAheadTest, BoundsHoldOverallAndPerHostAndEveryChannelGetsItsOwnFeed) {
  struct Case {
    const char* name;
    int hosts;
    plat::DWORD parallel;
    int maxOverall;  // downloads ahead plus the worker's own
    int maxPerHost;
    int minOverall;  // downloads ahead do run beside the worker
  } cases[] = {
      {"three hosts, 5 ahead", 3, 5, 6, 4, 2},
      {"one host, 16 ahead", 1, 16, 4, 4, 2},
      {"three hosts, 1 ahead", 3, 1, 2, 2, 2},
      {"three hosts, none ahead", 3, 0, 1, 1, 1},
  };
  constexpr int kFeedsPerHost = 6;
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetParallelDownloads(c.parallel);
    InFlight inFlight;
    std::vector<std::unique_ptr<orvtest::HttpTestServer>> hosts;
    std::vector<IChannel*> channels;
    std::vector<std::string> titles, paths;
    for (int h = 0; h < c.hosts; ++h) {
      const std::string address = "127.0.0." + std::to_string(2 + h);
      hosts.push_back(std::make_unique<orvtest::HttpTestServer>(address));
      for (int f = 0; f < kFeedsPerHost; ++f) {
        const std::string title = "r" + std::to_string(round) + "h" + std::to_string(h) + "f" + std::to_string(f);
        const std::string path = "/" + title;
        const std::string body = RssFeed(title, 2 + f % 3);
        hosts.back()->Route(path, [&inFlight, address, body](const orvtest::HttpRequest&) {
          inFlight.Enter(address);
          std::this_thread::sleep_for(std::chrono::milliseconds(40));
          inFlight.Leave(address);
          orvtest::HttpResponse r;
          r.headers.push_back({"Content-Type", "text/xml"});
          r.body = body;
          return r;
        });
        channels.push_back(AddFeed(plat::Utf8ToUtf16(title), hosts.back()->Url(path)));
        titles.push_back(title);
        paths.push_back(path);
      }
    }
    ++round;
    updates_->UpdateAllChannels(0);
    ASSERT_TRUE(Eventually([&] { return AllUpToDate(channels); }, 20000));
    ASSERT_TRUE(WaitIdle());
    for (std::size_t i = 0; i < channels.size(); ++i) {
      SCOPED_TRACE(titles[i]);
      EXPECT_EQ(Property(channels[i], u"title"), plat::Utf8ToUtf16(titles[i]));
      EXPECT_EQ(orvtest::LiveArticles(channels[i]), 2 + static_cast<int>(i % kFeedsPerHost) % 3);
      // Fetched once: ahead, or by the job, never both.
      EXPECT_EQ(hosts[i / kFeedsPerHost]->RequestCount(paths[i]), 1u);
    }
    EXPECT_LE(inFlight.PeakOverall(), c.maxOverall);
    EXPECT_LE(inFlight.PeakPerHost(), c.maxPerHost);
    EXPECT_GE(inFlight.PeakOverall(), c.minOverall);
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveAll();
  }
}

TEST_F(FeedsAheadTest, HostThatRefusesASecondConnectionStillGetsItsFeeds) {
  orvtest::HttpTestServer server;
  server.SetMaxConnections(1);
  std::vector<IChannel*> channels;
  for (int f = 0; f < 6; ++f) {
    const std::string title = "one" + std::to_string(f);
    const std::string body = RssFeed(title, 3);
    server.Route("/" + title, [body](const orvtest::HttpRequest&) {
      // Long enough that the downloads ahead meet a busy host.
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "text/xml"});
      r.body = body;
      return r;
    });
    channels.push_back(AddFeed(plat::Utf8ToUtf16(title), server.Url("/" + title)));
  }
  updates_->UpdateAllChannels(0);
  ASSERT_TRUE(Eventually([&] { return AllUpToDate(channels); }, 20000));
  ASSERT_TRUE(WaitIdle());
  for (std::size_t f = 0; f < channels.size(); ++f) {
    SCOPED_TRACE(f);
    EXPECT_EQ(orvtest::LiveArticles(channels[f]), 3);
    EXPECT_EQ(Property(channels[f], u"title"), plat::Utf8ToUtf16("one" + std::to_string(f)));
  }
  // The host did refuse connections: the feeds came in spite of it.
  EXPECT_GT(server.RefusedCount(), 0u);
}

TEST_F(FeedsAheadTest, StopWithDownloadsInFlightEndsThemAndStoresNothingOfThem) {
  orvtest::HttpTestServer server;
  std::atomic<bool> slow{true};
  std::vector<IChannel*> fast, trickled;
  IChannel* gate = AddFeed(u"Gate", server.Url("/gate"));
  auto route = [&](const std::string& path, const std::string& body, bool trickle) {
    server.Route(path, [&slow, body, trickle](const orvtest::HttpRequest&) {
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "text/xml"});
      r.body = body;
      if (trickle && slow) {
        // Several seconds for the body: a stop that waited for it would show.
        r.trickleDelayMs = 20;
        r.trickleBytes = 32;
      }
      return r;
    });
  };
  for (int f = 0; f < 3; ++f) {
    const std::string name = "fast" + std::to_string(f);
    route("/" + name, RssFeed(name, 4), false);
    fast.push_back(AddFeed(plat::Utf8ToUtf16(name), server.Url("/" + name)));
  }
  for (int f = 0; f < 3; ++f) {
    const std::string name = "slow" + std::to_string(f);
    route("/" + name, RssFeed(name, 12), true);
    trickled.push_back(AddFeed(plat::Utf8ToUtf16(name), server.Url("/" + name)));
  }
  // The gate holds the worker while the fast feeds come in whole and the
  // slow ones are half-way.
  updates_->UpdateChannel(gate);
  for (IChannel* c : fast) updates_->UpdateChannel(c);
  for (IChannel* c : trickled) updates_->UpdateChannel(c);
  ASSERT_TRUE(Eventually([&] {
    for (int f = 0; f < 3; ++f) {
      if (server.RequestCount("/fast" + std::to_string(f)) != 1) return false;
    }
    return server.OpenConnections() >= 3;
  }));
  const auto start = Clock::now();
  updates_->StopUpdatingAllChannels();
  ASSERT_TRUE(Eventually([&] { return server.OpenConnections() == 0; }, 2000)) << "downloads went on after the stop";
  const auto ended = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  ASSERT_TRUE(WaitIdle(3000));
  RecordProperty("downloads_ended_ms", static_cast<int>(ended));
  const std::size_t requests = server.Requests().size();
  EXPECT_TRUE(orvtest::StaysTrue([&] { return server.Requests().size() == requests; }, 200));
  for (IChannel* c : fast) {
    EXPECT_EQ(orvtest::LiveArticles(c), 0) << "a body fetched ahead was stored after the stop";
    EXPECT_NE(Status(c), US_FAILED);
    EXPECT_TRUE(Property(c, kPropFeedETag).empty());
  }
  for (IChannel* c : trickled) {
    EXPECT_EQ(orvtest::LiveArticles(c), 0);
    EXPECT_NE(Status(c), US_FAILED);
  }
  EXPECT_NE(Status(gate), US_FAILED);

  // The next run brings every feed whole.
  slow = false;
  updater_.gateOpen = true;
  updates_->UpdateAllChannels(0);
  ASSERT_TRUE(Eventually([&] { return AllUpToDate(fast) && AllUpToDate(trickled); }));
  ASSERT_TRUE(WaitIdle());
  for (IChannel* c : fast) EXPECT_EQ(orvtest::LiveArticles(c), 4);
  for (IChannel* c : trickled) EXPECT_EQ(orvtest::LiveArticles(c), 12);
}

TEST_F(FeedsAheadTest, BodyFetchedAheadServesOnlyItsOwnChannelsVeryRequestOnce) {
  orvtest::HttpTestServer server;
  server.Serve("/a", RssFeed("alpha", 2));
  server.Serve("/a2", RssFeed("alpha two", 3));
  server.Serve("/shared", RssFeed("shared", 1));
  IChannel* gate = AddFeed(u"Gate", server.Url("/gate"));
  IChannel* a = AddFeed(u"A", server.Url("/a"));
  IChannel* b = AddFeed(u"B", server.Url("/shared"));
  IChannel* c = AddFeed(u"C", server.Url("/shared"));
  updates_->UpdateChannel(gate);
  updates_->UpdateChannel(a);
  updates_->UpdateChannel(b);
  updates_->UpdateChannel(c);
  // Fetched ahead while the gate holds the worker: each channel its own.
  ASSERT_TRUE(Eventually([&] { return server.RequestCount("/a") == 1 && server.RequestCount("/shared") == 2; }));
  // A's job will ask for another address now: the body fetched for the old
  // one does not stand for it.
  {
    CSyncLock lock(GetChannelSet());
    a->SetProperty(kPropUrl, plat::Utf8ToUtf16(server.Url("/a2")));
  }
  updater_.gateOpen = true;
  ASSERT_TRUE(Eventually([&] { return AllUpToDate({gate, a, b, c}); }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(orvtest::LiveArticles(a), 3);
  EXPECT_EQ(Property(a, u"title"), u"alpha two");
  EXPECT_EQ(server.RequestCount("/a"), 1u);
  EXPECT_EQ(server.RequestCount("/a2"), 1u);
  EXPECT_EQ(orvtest::LiveArticles(b), 1);
  EXPECT_EQ(orvtest::LiveArticles(c), 1);
  EXPECT_EQ(server.RequestCount("/shared"), 2u);

  // The next run asks again: nothing of the last run serves it.
  updates_->UpdateChannel(a);
  ASSERT_TRUE(Eventually([&] { return server.RequestCount("/a2") == 2; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(server.RequestCount("/a"), 1u);
  EXPECT_EQ(orvtest::LiveArticles(a), 3);
}

// A host that refuses connections leaves the look-ahead's room to the
// channels of other hosts queued after it.
TEST_F(FeedsAheadTest, RefusingHostLeavesTheRoomToOtherHosts) {
  SetParallelDownloads(3);
  orvtest::HttpTestServer good;
  const std::string dead = "http://127.0.0.1:1/";  // nothing listens there
  std::vector<IChannel*> refused, later;
  refused.push_back(AddFeed(u"Refused 0", dead + "r0"));
  IChannel* gate = AddFeed(u"Gate", good.Url("/gate"));
  for (int f = 1; f <= 4; ++f) refused.push_back(AddFeed(plat::Utf8ToUtf16("Refused " + std::to_string(f)), dead + "r" + std::to_string(f)));
  for (int f = 0; f < 2; ++f) {
    const std::string name = "later" + std::to_string(f);
    good.Serve("/" + name, RssFeed(name, 2));
    later.push_back(AddFeed(plat::Utf8ToUtf16(name), good.Url("/" + name)));
  }
  updates_->UpdateChannel(refused[0]);
  updates_->UpdateChannel(gate);
  for (std::size_t f = 1; f < refused.size(); ++f) updates_->UpdateChannel(refused[f]);
  for (IChannel* c : later) updates_->UpdateChannel(c);
  // While the gate holds the worker, the first feed of the good host comes ahead.
  ASSERT_TRUE(Eventually([&] { return good.RequestCount("/later0") == 1; }, 3000))
      << "the refusing host's channels took the room";
  EXPECT_EQ(Status(later[0]), US_WAITING);
  updater_.gateOpen = true;
  ASSERT_TRUE(Eventually([&] { return AllUpToDate(later) && Status(refused.back()) == US_FAILED; }));
  ASSERT_TRUE(WaitIdle());
  for (IChannel* c : refused) EXPECT_EQ(Status(c), US_FAILED);
  for (IChannel* c : later) EXPECT_EQ(orvtest::LiveArticles(c), 2);
  EXPECT_EQ(good.RequestCount("/later0"), 1u);
}

// Bodies held ahead stay within the byte budget: a download that would pass
// it is dropped, and its job asks the server itself.
TEST_F(FeedsAheadTest, BodiesHeldAheadStayWithinTheByteBudget) {
  SetParallelDownloads(16);
  constexpr std::size_t kBudget = 100 * 1024;
  updates_->SetAheadByteBudgetForTesting(kBudget);
  orvtest::HttpTestServer server;
  std::atomic<bool> slow{true};
  IChannel* gate = AddFeed(u"Gate", server.Url("/gate"));
  std::vector<IChannel*> channels;
  std::vector<std::string> paths;
  std::size_t size = 0;
  for (int f = 0; f < 6; ++f) {
    const std::string name = "big" + std::to_string(f);
    const std::string body = RssFeed(name, 200);
    size = std::max(size, body.size());
    server.Route("/" + name, [&slow, body](const orvtest::HttpRequest&) {
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "text/xml"});
      r.body = body;
      if (slow) {
        r.trickleDelayMs = 5;
        r.trickleBytes = 2048;
      }
      return r;
    });
    channels.push_back(AddFeed(plat::Utf8ToUtf16(name), server.Url("/" + name)));
    paths.push_back("/" + name);
  }
  ASSERT_GT(size * 2, kBudget);
  updates_->UpdateChannel(gate);
  for (IChannel* c : channels) updates_->UpdateChannel(c);
  // The downloads ahead run while the gate holds the worker, until each is
  // held whole or dropped.
  ASSERT_TRUE(Eventually([&] { return server.Requests().size() >= 2 && server.OpenConnections() == 0; }));
  std::vector<std::size_t> ahead;
  for (const std::string& p : paths) ahead.push_back(server.RequestCount(p));
  slow = false;
  updater_.gateOpen = true;
  ASSERT_TRUE(Eventually([&] { return AllUpToDate(channels); }, 20000));
  ASSERT_TRUE(WaitIdle());
  std::size_t heldWhole = 0;
  for (std::size_t f = 0; f < paths.size(); ++f) {
    SCOPED_TRACE(paths[f]);
    EXPECT_EQ(orvtest::LiveArticles(channels[f]), 200);
    // Fetched ahead and asked again: dropped ahead. Fetched ahead once: held whole.
    if (ahead[f] == 1 && server.RequestCount(paths[f]) == 1) ++heldWhole;
  }
  EXPECT_LE(heldWhole * size, kBudget) << heldWhole << " bodies of " << size << " bytes were held";
}

// The worker's own requests (here the pictures of a channel) count at their
// host: with the downloads ahead, no more than the bound reach one host.
TEST_F(FeedsAheadTest, WorkersOwnRequestsCountTowardsTheHostsBound) {
  SetParallelDownloads(16);
  updater_.binaries = true;
  orvtest::HttpTestServer server;
  InFlight inFlight;
  auto slowRoute = [&](const std::string& path, const std::string& body, const std::string& type) {
    server.Route(path, [&inFlight, body, type](const orvtest::HttpRequest&) {
      inFlight.Enter("host");
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      inFlight.Leave("host");
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", type});
      r.body = body;
      return r;
    });
  };
  std::string feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>pics</title>"
                     "<link>http://example.org/</link><description>d</description>\n";
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    feed += "<item><title>pic " + n + "</title><guid>pic-" + n + "</guid><description>&lt;img src=\"" +
            server.Url("/pic" + n + ".png") + "\"/&gt;</description></item>\n";
    slowRoute("/pic" + n + ".png", "PNG" + n, "image/png");
  }
  feed += "</channel></rss>\n";
  slowRoute("/pics", feed, "text/xml");
  slowRoute("/favicon.ico", "ICO", "image/x-icon");
  IChannel* pictures = AddFeed(u"Pictures", server.Url("/pics"));
  std::vector<IChannel*> channels{pictures};
  for (int f = 0; f < 10; ++f) {
    const std::string name = "side" + std::to_string(f);
    slowRoute("/" + name, RssFeed(name, 2), "text/xml");
    channels.push_back(AddFeed(plat::Utf8ToUtf16(name), server.Url("/" + name)));
  }
  for (IChannel* c : channels) updates_->UpdateChannel(c);
  ASSERT_TRUE(Eventually([&] { return AllUpToDate(channels); }, 20000));
  ASSERT_TRUE(WaitIdle());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(server.RequestCount("/pic" + std::to_string(i) + ".png"), 1u);
  EXPECT_LE(inFlight.PeakPerHost(), CFeedsAhead::kDefaultPerHost);
  EXPECT_GE(inFlight.PeakPerHost(), 2);
}

// A job stopped or cut off takes nothing fetched for it, even a whole body.
// (The moment a stop meets a finished download cannot be picked through the
// manager; the downloads are driven here as the manager drives them.)
TEST_F(FeedsAheadTest, CancelledJobTakesNoBodyFetchedForIt) {
  orvtest::HttpTestServer server;
  server.Serve("/a", RssFeed("alpha", 2));
  server.Serve("/b", RssFeed("beta", 2));
  CInetSession run(&listener_, true, manager_.get());
  ASSERT_TRUE(run.WaitForConnection());
  // Channels are only compared by address here.
  int channelA = 0, channelB = 0;
  IChannel* a = reinterpret_cast<IChannel*>(&channelA);
  IChannel* b = reinterpret_cast<IChannel*>(&channelB);
  {
    // One download at a time to the host: once the second is asked for, the
    // first has ended.
    CFeedsAhead ahead(&run, 2, 1);
    ahead.SetCurrent(a);
    ASSERT_TRUE(ahead.Offer(a, plat::Utf8ToUtf16(server.Url("/a")), u"", u"", true));
    ASSERT_TRUE(ahead.Offer(b, plat::Utf8ToUtf16(server.Url("/b")), u"", u"", false));
    ASSERT_TRUE(Eventually([&] { return server.RequestCount("/b") == 1; }));

    CInetSession worker(&run, &ahead);
    worker.SetAhead(&ahead);
    CInetJob job(&worker, plat::Utf8ToUtf16(server.Url("/a")));
    Tidy::PrepareDocumentJob(job, nullptr);
    job.Cancel();
    EXPECT_FALSE(ahead.Serve(job)) << "a cancelled job took the body fetched ahead";
    EXPECT_NE(job.GetResult(), CInetJob::RESULT_SUCCESS);
    EXPECT_EQ(job.GetDeliveredLength(), 0u);
    // A job that is not cancelled is served as before.
    CInetJob next(&worker, plat::Utf8ToUtf16(server.Url("/b")));
    Tidy::PrepareDocumentJob(next, nullptr);
    ahead.SetCurrent(b);
    EXPECT_TRUE(ahead.Serve(next));
    EXPECT_EQ(next.GetResult(), CInetJob::RESULT_SUCCESS);
  }
  EXPECT_EQ(server.RequestCount("/a"), 1u);
  EXPECT_EQ(server.RequestCount("/b"), 1u);
}

}  // namespace
