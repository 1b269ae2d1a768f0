#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/support/Wait.h"
#include "tests/update/ChannelTestSupport.h"
#include "tests/update/InetTestSupport.h"
#include "tests/update/MainWindowDouble.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdateManager.h"
#include "update/jobs/UpdateQueue.h"
#include "update/jobs/UpdatersManager.h"
#include "update/script/JSPlugin.h"
#include "platform/files/Files.h"

namespace {

using Script = plat::ScriptedConnectionProvider::Script;
using Clock = std::chrono::steady_clock;

using orvtest::Eventually;

// ---------------------------------------------------------------------------
// Jobs of the tests' own: each channel is told what its job does.

enum class Behaviour { kSucceed, kFail, kBlock, kSlow, kArticles, kThrow, kLeaveWaiting };

class FakeUpdater;

class FakeJob : public CUpdateJob {
 public:
  FakeJob(FakeUpdater* owner, IUpdateItem* item, Behaviour behaviour, int articles);
  ~FakeJob() override;
  void Run() override;
  void Stop() override { stopped_ = true; }
  IUpdateItem* GetItem() override { return stopped_ ? nullptr : item_; }

 private:
  FakeUpdater* owner_;
  IUpdateItem* item_;
  Behaviour behaviour_;
  int articles_;
  std::atomic<bool> stopped_{false};
};

class FakeUpdater : public IUpdater {
 public:
  FakeUpdater() = default;
  // The worker may still be creating or running a job of this updater when a
  // test ends: no new job after this, and the old ones are waited for.
  ~FakeUpdater() override {
    CUpdatersManager::GetInstance().RemoveUpdater(this);
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (alive_.load() > 0 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  CUpdateJob* CreateJob(IUpdateItem* item) override {
    auto* channel = dynamic_cast<IChannel*>(item);
    if (!channel) return nullptr;
    std::lock_guard<std::mutex> g(lock_);
    auto it = behaviours_.find(channel->GetName());
    if (it != behaviours_.end() && it->second.declined) return nullptr;
    Entry e = it == behaviours_.end() ? Entry{} : it->second;
    return new FakeJob(this, item, e.behaviour, e.articles);
  }
  void Set(const std::u16string& name, Behaviour b, int articles = 0) {
    std::lock_guard<std::mutex> g(lock_);
    behaviours_[name] = Entry{b, articles, false};
  }
  void Decline(const std::u16string& name) {
    std::lock_guard<std::mutex> g(lock_);
    behaviours_[name].declined = true;
  }
  void Started(IChannel* channel) {
    int now = ++running_;
    int seen = maxRunning_.load();
    while (now > seen && !maxRunning_.compare_exchange_weak(seen, now)) {
    }
    std::lock_guard<std::mutex> g(lock_);
    order_.push_back(channel->GetName());
  }
  void JobEnded() {
    --running_;
    ++ended_;
  }
  std::vector<std::u16string> Order() {
    std::lock_guard<std::mutex> g(lock_);
    return order_;
  }
  int Runs() {
    std::lock_guard<std::mutex> g(lock_);
    return static_cast<int>(order_.size());
  }
  int Ended() const { return ended_.load(); }
  int MaxRunning() const { return maxRunning_.load(); }
  std::atomic<int> slowMs{30};

 private:
  struct Entry {
    Behaviour behaviour = Behaviour::kSucceed;
    int articles = 0;
    bool declined = false;
  };
  std::mutex lock_;
  std::map<std::u16string, Entry> behaviours_;
  std::vector<std::u16string> order_;
  std::atomic<int> running_{0}, maxRunning_{0}, ended_{0};
  std::atomic<int> alive_{0};
  friend class FakeJob;
};

FakeJob::FakeJob(FakeUpdater* owner, IUpdateItem* item, Behaviour behaviour, int articles)
    : owner_(owner), item_(item), behaviour_(behaviour), articles_(articles) {
  ++owner_->alive_;
}

// The last touch of the updater.
FakeJob::~FakeJob() { --owner_->alive_; }

void FakeJob::Run() {
  auto* channel = dynamic_cast<IChannel*>(item_);
  owner_->Started(channel);
  CChannelSet* set = GetChannelSet();
  {
    CSyncLock db(set);
    if (!stopped_) item_->SetUpdateState(US_UPDATING);
  }
  if (behaviour_ == Behaviour::kThrow) {
    owner_->JobEnded();
    throw std::runtime_error("job failed badly");
  }
  bool ok = behaviour_ != Behaviour::kFail;
  if (behaviour_ == Behaviour::kLeaveWaiting) {
    // Ends as it began: its item waits as before.
    CSyncLock db(set);
    if (!stopped_) item_->SetUpdateState(US_WAITING);
    owner_->JobEnded();
    return;
  }
  if (behaviour_ == Behaviour::kBlock) {
    auto end = Clock::now() + std::chrono::seconds(10);
    while (!stopped_ && !(session_ && session_->IsCancelled()) && Clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } else if (behaviour_ == Behaviour::kSlow) {
    std::this_thread::sleep_for(std::chrono::milliseconds(owner_->slowMs.load()));
  } else if (behaviour_ == Behaviour::kArticles) {
    CSyncLock db(set);
    channel->Acquire(this);
    for (int i = 0; i < articles_; ++i) {
      plat::SYSTEMTIME st{};
      plat::GetSystemTime(&st);
      plat::FILETIME now{};
      plat::SystemTimeToFileTime(&st, &now);
      std::u16string id = GetMd5Hex(channel->GetName() + u"#" + plat::Utf8ToUtf16(std::to_string(i)));
      ok = channel->CreateArticle(id, US_UP_TO_DATE, now) != nullptr && ok;
    }
    channel->MarkHeadersDirty();
    channel->Release(this, true);
  }
  {
    CSyncLock db(set);
    if (!stopped_) item_->SetUpdateState(ok ? US_UP_TO_DATE : US_FAILED);
  }
  owner_->JobEnded();
}

// The feed updater of these tests: a feed job for every "@RSS" channel.
class FeedUpdater : public IUpdater {
 public:
  CUpdateJob* CreateJob(IUpdateItem* item) override {
    auto* channel = dynamic_cast<IChannel*>(item);
    if (!channel) return nullptr;
    auto it = channel->GetProperties().find(kPropType);
    if (it == channel->GetProperties().end() || !plat::EqualsNoCase(it->second, kChannelTypeRss)) return nullptr;
    return new CRSSChannelJob(channel, 0);
  }
};

std::string RssFeed(const std::string& title, int items) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>" + title +
                    "</title><link>http://example.org/</link><description>d</description>\n";
  for (int i = 0; i < items; ++i) {
    std::string n = std::to_string(i);
    xml += "<item><title>" + title + " item " + n + "</title><link>http://example.org/" + title + "/" + n +
           "</link><guid>" + title + "-" + n + "</guid><description>Body of item " + n + " " +
           std::string(200, 'x') + "</description></item>\n";
  }
  return xml + "</channel></rss>\n";
}

std::optional<plat::DWORD> StoredDword(const char16_t* name) {
  CVORegistry key(plat::HKEY_CURRENT_USER, GetProductRegistryKey().c_str(), false, false, plat::KEY_READ);
  plat::DWORD value = 0;
  plat::DWORD size = sizeof(value);
  if (!key.QueryValue(name, &value, &size) || size != sizeof(value)) return std::nullopt;
  return value;
}

void SetUpdateLocked() {
  CVORegistry key(plat::HKEY_CURRENT_USER, GetProductRegistryKey().c_str(), true, true, plat::KEY_ALL_ACCESS);
  key.SetDWORD(u"UpdateLocked", 1);
}

void SetRoaming(bool roaming) {
  plat::HKEY key = nullptr;
  plat::DWORD disposition = 0;
  ASSERT_EQ(plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, nullptr, 0, 0, nullptr,
                                  &key, &disposition),
            0);
  plat::DWORD status = roaming ? kPhoneStatusRoaming : 0;
  plat::RegSetValueExW(key, u"Status", 0, plat::REG_DWORD, reinterpret_cast<const plat::BYTE*>(&status),
                       sizeof status);
  plat::RegCloseKey(key);
}

class UpdateManagerTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(OpenContentForUpdates());
    {
      std::lock_guard<std::mutex> g(boxLock_);
      boxes_.clear();
    }
    plat::SetMessageBoxAnswerer([this](plat::HWND, const std::u16string& text, const std::u16string&, plat::UINT) {
      std::lock_guard<std::mutex> g(boxLock_);
      boxes_.push_back(text);
      return boxAnswer_.load();
    });
  }
  void TearDown() override {
    window_.reset();
    updates_.reset();
    for (IUpdater* u : registered_) CUpdatersManager::GetInstance().RemoveUpdater(u);
    registered_.clear();
    plat::SetMessageBoxAnswerer(nullptr);
    GetChannelSet()->RemoveAll();
    InetTest::TearDown();
  }

  void Start(IUpdater* updater, bool withWindow = true, bool automatic = false) {
    CUpdatersManager::GetInstance().AddUpdater(updater);
    registered_.push_back(updater);
    updates_ = std::make_unique<CUpdateManager>(GetChannelSet(), manager_.get());
    if (withWindow) {
      window_ = std::make_unique<orvtest::MainWindowDouble>(updates_.get(), automatic);
      ASSERT_NE(window_->Window(), nullptr);
    }
  }

  IChannel* AddChannel(const std::u16string& name, const std::u16string& address = u"http://127.0.0.1:1/none",
                       const std::u16string& type = kChannelTypeRss) {
    return orvtest::AddUnlimitedChannel(name, address, type);
  }
  IChannel* AddFeed(const std::u16string& name, const std::string& path) {
    return AddChannel(name, plat::Utf8ToUtf16(server_.Url(path)));
  }

  std::uint32_t Status(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    return channel->GetUpdateStatus();
  }
  int Articles(IChannel* channel) { return orvtest::LiveArticles(channel); }
  bool Idle() {
    UpdateManagerState s;
    updates_->GetState(&s);
    return !s.updating && updates_->GetUpdateItemStatus(nullptr) == UQS_NOT_QUEUED;
  }
  bool WaitIdle(int limitMs = 8000) {
    return Eventually([&] { return !updates_->IsUpdating(); }, limitMs);
  }
  std::vector<std::u16string> Boxes() {
    std::lock_guard<std::mutex> g(boxLock_);
    return boxes_;
  }
  // A binary of the channel: its status (0xFFFFFFFF when there is none) and
  // whether its file is there.
  std::uint32_t BinaryStatus(IChannel* channel, const std::string& path, bool* file = nullptr) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    std::uint32_t status = 0xFFFFFFFFu;
    if (IBinary* binary = channel->GetBinarySet()->Lookup(plat::Utf8ToUtf16(server_.Url(path)))) {
      status = binary->GetUpdateStatus();
      std::u16string name;
      binary->GetFileName(name, true);
      if (file) *file = FileExists(name);
    }
    channel->Release(this, false);
    return status;
  }
  // The one article of a channel: its status and manual-update mark.
  std::pair<std::uint32_t, int> OnlyArticle(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    std::pair<std::uint32_t, int> out{0xFFFFFFFFu, -1};
    IArticleSet* articles = channel->GetArticleSet();
    if (articles->GetCount() == 1) {
      IArticle* article = articles->GetAt(0);
      out = {article->GetUpdateStatus(), article->GetManualUpdate()};
    }
    channel->Release(this, false);
    return out;
  }
  // A script channel over a template file of the device whose channel is "News".
  IChannel* AddScriptChannel(const std::u16string& name, const std::string& templateXml) {
    EXPECT_TRUE(CreateFolderTree(u"\\Templates"));
    const std::u16string path = u"\\Templates\\" + name + u".xml";
    orvtest::WriteHostFile(plat::HostPathFromDevicePath(path), templateXml);
    return AddChannel(name, u"file://" + path + u"?name=News", kChannelTypeScript);
  }
  // The worker sleeps: its loop passes stop counting up.
  static bool WorkerSleeps() {
    plat::DWORD passes = plat::GetSystemIdleTimerResetCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return plat::GetSystemIdleTimerResetCount() - passes <= 2u;
  }

  orvtest::HttpTestServer server_;
  std::unique_ptr<CUpdateManager> updates_;
  std::unique_ptr<orvtest::MainWindowDouble> window_;
  std::vector<IUpdater*> registered_;
  std::mutex boxLock_;
  std::vector<std::u16string> boxes_;
  std::atomic<int> boxAnswer_{plat::IDNO};
};

// ---------------------------------------------------------------------------

TEST_F(UpdateManagerTest, UpdateAllFetchesEveryFeedInOneRun) {
  server_.Serve("/a", RssFeed("alpha", 3));
  server_.Serve("/b", RssFeed("beta", 5));
  server_.Serve("/c", RssFeed("gamma", 1));
  IChannel* a = AddFeed(u"Alpha", "/a");
  IChannel* b = AddFeed(u"Beta", "/b");
  IChannel* c = AddFeed(u"Gamma", "/c");
  ASSERT_TRUE(a && b && c);
  SetUpdateLocked();
  // The connection answers when the test says, so the window surely sees the
  // run while it connects.
  Script manual;
  manual.manual = true;
  provider_->SetScript(manual);
  FeedUpdater feeds;
  Start(&feeds);

  updates_->UpdateAllChannels(0);
  ASSERT_TRUE(Eventually([&] {
    for (const auto& p : window_->Posts())
      if (p.state.updating && p.state.connecting) return true;
    return false;
  }));
  ASSERT_TRUE(Eventually([&] { return provider_->LastId() != 0; }));
  plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_CONNECTED);
  ASSERT_TRUE(Eventually([&] { return Status(a) == US_UP_TO_DATE && Status(b) == US_UP_TO_DATE &&
                                      Status(c) == US_UP_TO_DATE; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Articles(a), 3);
  EXPECT_EQ(Articles(b), 5);
  EXPECT_EQ(Articles(c), 1);
  EXPECT_EQ(server_.RequestCount("/a") + server_.RequestCount("/b") + server_.RequestCount("/c"), 3u);
  // One connection for the whole run, released when it closed.
  EXPECT_EQ(provider_->Requests().size(), 1u);
  EXPECT_TRUE(Eventually([&] { return provider_->ReleaseCount() == 1; }));

  // After the run: nothing queued, the run's bytes kept.
  UpdateManagerState s;
  updates_->GetState(&s);
  EXPECT_EQ(s.updating, 0);
  EXPECT_EQ(s.connecting, 0);
  EXPECT_GT(s.bytes, 3000u);
  EXPECT_EQ(s.percent, 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.position, 0);
  EXPECT_EQ(updates_->GetChannelStatus(u"Beta"), UQS_NOT_QUEUED);
  EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
  plat::FILETIME last{};
  ASSERT_TRUE(GetGlobalOptions().GetLastUpdateTime(&last));
  plat::SYSTEMTIME st{};
  plat::FileTimeToSystemTime(&last, &st);
  EXPECT_EQ(st.wSecond, 0);

  // The window saw the run open (wParam 1), progress while connected, and close (wParam 1).
  ASSERT_TRUE(Eventually([&] {
    auto posts = window_->Posts();
    return !posts.empty() && posts.back().changed == 1 && posts.back().state.updating == 0;
  }));
  auto posts = window_->Posts();
  int changes = 0;
  bool sawConnecting = false, sawThirdChannel = false;
  for (const auto& p : posts) {
    changes += p.changed == 1;
    sawConnecting |= p.state.updating && p.state.connecting;
    sawThirdChannel |= p.state.updating && p.state.count == 3 && p.state.position == 3;
  }
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(sawConnecting);
  EXPECT_TRUE(sawThirdChannel);
  EXPECT_TRUE(window_->Questions().empty());
}

TEST_F(UpdateManagerTest, JobsRunOneAtATimeInRequestOrder) {
  FakeUpdater fake;
  std::vector<IChannel*> channels;
  for (const char16_t* name : {u"One", u"Two", u"Three", u"Four"}) {
    channels.push_back(AddChannel(name));
    fake.Set(name, Behaviour::kSlow);
  }
  fake.Set(u"Three", Behaviour::kFail);
  Start(&fake);
  // Requested in another order than the set's; a repeated request queues once.
  updates_->UpdateChannel(channels[3]);
  updates_->UpdateChannel(channels[1]);
  updates_->UpdateChannel(channels[3]);
  updates_->UpdateChannel(channels[2]);
  updates_->UpdateChannel(channels[0]);
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 4; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"Four", u"Two", u"Three", u"One"}));
  EXPECT_EQ(fake.MaxRunning(), 1);
  EXPECT_EQ(Status(channels[2]), US_FAILED);
  EXPECT_EQ(Status(channels[0]), US_UP_TO_DATE);
}

// A request the worker has not taken up yet is work: the program's auto-exit
// timer, which ends the program when nothing is left to do, must not end it
// before the run it was started for has begun.
TEST_F(UpdateManagerTest, ARequestNotYetTakenUpIsWork) {
  FakeUpdater fake;
  IChannel* one = AddChannel(u"One");
  Start(&fake);
  EXPECT_FALSE(updates_->HasWork());
  {
    // The worker waits for the channel set's lock: the run cannot begin.
    CSyncLock lock(GetChannelSet());
    updates_->UpdateChannel(one);
    EXPECT_FALSE(updates_->IsUpdating());
    EXPECT_TRUE(updates_->HasWork());
  }
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 1; }));
  ASSERT_TRUE(Eventually([&] { return !updates_->HasWork(); }));
  EXPECT_FALSE(updates_->IsUpdating());
}

TEST_F(UpdateManagerTest, JobThatThrowsFailsItsChannelAndTheWorkerGoesOn) {
  FakeUpdater fake;
  IChannel* boom = AddChannel(u"Boom");
  IChannel* after = AddChannel(u"After");
  fake.Set(u"Boom", Behaviour::kThrow);
  Start(&fake);
  updates_->UpdateChannel(boom);
  updates_->UpdateChannel(after);
  ASSERT_TRUE(Eventually([&] { return Status(after) == US_UP_TO_DATE; }));
  EXPECT_EQ(Status(boom), US_FAILED);
  ASSERT_TRUE(WaitIdle());
  auto start = Clock::now();
  updates_->Shutdown_();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(UpdateManagerTest, StopDuringADownloadReturnsPromptlyAndKeepsTheChannel) {
  std::atomic<bool> slow{false};
  server_.Route("/feed", [&](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.headers.push_back({"Content-Type", "text/xml"});
    r.body = RssFeed(slow ? "second" : "first", slow ? 40 : 2);
    if (slow) {
      // About 8 s for the whole body: a stop that waited for it would show.
      r.trickleDelayMs = 20;
      r.trickleBytes = 32;
    }
    return r;
  });
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  ASSERT_NE(channel, nullptr);
  FeedUpdater feeds;
  Start(&feeds);
  updates_->UpdateChannel(channel);
  ASSERT_TRUE(Eventually([&] { return Status(channel) == US_UP_TO_DATE; }));
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Articles(channel), 2);

  slow = true;
  updates_->UpdateChannel(channel);
  ASSERT_TRUE(Eventually([&] {
    UpdateManagerState s;
    updates_->GetState(&s);
    return s.updating && s.bytes > 0 && updates_->GetChannelStatus(u"Harbour") == UQS_UPDATING;
  }));
  auto start = Clock::now();
  updates_->StopUpdatingAllChannels();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  ASSERT_TRUE(WaitIdle(4000));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  EXPECT_EQ(Articles(channel), 2);
  EXPECT_EQ(updates_->GetChannelStatus(u"Harbour"), UQS_NOT_QUEUED);
}

TEST_F(UpdateManagerTest, PaidConnectionIsUsedOnlyWhenTheUserAgrees) {
  struct Case {
    const char* name;
    int answer;
    std::uint32_t expected;
    int runs;
  } cases[] = {
      {"user says no", plat::IDNO, US_UP_TO_DATE, 0},
      {"user says yes", plat::IDYES, US_UP_TO_DATE, 1},
  };
  FakeUpdater fake;
  IChannel* channel = AddChannel(u"News");
  fake.Set(u"News", Behaviour::kSucceed);
  Script paid;
  paid.paid = true;
  provider_->SetScript(paid);
  GetGlobalOptions().SetUseFreeConnectionsOnly(1);
  Start(&fake);
  int runsBefore = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxAnswer_ = c.answer;
    std::size_t boxesBefore = Boxes().size();
    SetUpdateLocked();
    updates_->UpdateChannel(channel);
    ASSERT_TRUE(Eventually([&] { return Boxes().size() == boxesBefore + 1; }));
    ASSERT_TRUE(Eventually([&] { return !updates_->IsUpdating() && fake.Ended() == runsBefore + c.runs; }));
    EXPECT_EQ(Boxes().back(), orvtest::kPaidQuestionText);
    EXPECT_EQ(fake.Runs(), runsBefore + c.runs);
    EXPECT_EQ(Status(channel), c.expected);
    EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
    runsBefore = fake.Runs();
  }
  // The second request went out with a paid connection allowed.
  auto requests = provider_->Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests.front().info.ulMaxCost, 0u);
  EXPECT_NE(requests.back().info.ulMaxCost, 0u);
  EXPECT_EQ(window_->Questions(),
            (std::vector<plat::WPARAM>{CUpdateManager::kAskPaidConnection, CUpdateManager::kAskPaidConnection}));
}

TEST_F(UpdateManagerTest, RoamingAsksFirstAndAutomaticUpdatesFollowTheSetting) {
  struct Case {
    const char* name;
    bool roaming;
    int freeOnly;
    bool automatic;
    const char16_t* box;  // null: no box
    int runs;
  } cases[] = {
      {"roaming asks the roaming question", true, 0, false, orvtest::kRoamingQuestionText, 1},
      {"roaming with free-only set", true, 1, false, orvtest::kRoamingQuestionText, 1},
      {"automatic update may pay", true, 0, true, nullptr, 1},
      {"automatic update with free-only", false, 1, true, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxAnswer_ = plat::IDYES;
    SetRoaming(c.roaming);
    GetGlobalOptions().SetUseFreeConnectionsOnly(c.freeOnly);
    Script paid;
    paid.paid = true;
    paid.roaming = c.roaming;
    provider_->SetScript(paid);
    FakeUpdater fake;
    // Channel files stay in the content folder between cases: a name of its own each.
    std::u16string name = plat::Utf8ToUtf16(std::string("News ") + c.name);
    IChannel* channel = AddChannel(name);
    ASSERT_NE(channel, nullptr);
    Start(&fake, true, c.automatic);
    updates_->UpdateChannel(channel);
    ASSERT_TRUE(Eventually([&] { return !window_->Questions().empty(); }));
    ASSERT_TRUE(Eventually([&] { return !updates_->IsUpdating() && fake.Ended() == c.runs; }));
    EXPECT_EQ(fake.Runs(), c.runs);
    auto boxes = Boxes();
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0], c.box);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(Status(channel), US_UP_TO_DATE);
    TearDown();
    SetUp();
  }
}

TEST_F(UpdateManagerTest, NoListenerAndOnlyAPaidConnectionStopsWithoutAsking) {
  FakeUpdater fake;
  IChannel* channel = AddChannel(u"News");
  Script paid;
  paid.paid = true;
  provider_->SetScript(paid);
  GetGlobalOptions().SetUseFreeConnectionsOnly(1);
  Start(&fake, false);
  SetUpdateLocked();
  updates_->UpdateChannel(channel);
  ASSERT_TRUE(Eventually([&] { return provider_->Requests().size() == 1; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(fake.Runs(), 0);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
}

TEST_F(UpdateManagerTest, RefusedOrTimedOutConnectionFailsTheQueuedChannels) {
  struct Case {
    const char* name;
    Script script;
  };
  Script refused;
  refused.refuse = true;
  Script silent;
  silent.manual = true;  // never answered: the connection manager gives up
  Script failed;
  failed.finalStatus = plat::CONNMGR_STATUS_CONNECTIONFAILED;
  Case cases[] = {{"refused", refused}, {"timed out", silent}, {"failed", failed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    manager_->SetConnectTimeout(300);
    provider_->SetScript(c.script);
    FakeUpdater fake;
    IChannel* a = AddChannel(plat::Utf8ToUtf16(std::string("A ") + c.name));
    IChannel* b = AddChannel(plat::Utf8ToUtf16(std::string("B ") + c.name));
    ASSERT_TRUE(a && b);
    Start(&fake);
    SetUpdateLocked();
    updates_->UpdateAllChannels(0);
    ASSERT_TRUE(Eventually([&] { return Status(a) == US_FAILED && Status(b) == US_FAILED; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(fake.Runs(), 0);
    EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
    EXPECT_EQ(updates_->GetChannelStatus(a->GetName()), UQS_NOT_QUEUED);
    ASSERT_TRUE(Eventually([&] { return Boxes().size() == 1; }));
    EXPECT_EQ(Boxes()[0], orvtest::kNoConnectionText);
    EXPECT_EQ(window_->Questions(), (std::vector<plat::WPARAM>{CUpdateManager::kAskNoConnection}));
    // A later request starts a fresh run.
    provider_->SetScript(Script{});
    updates_->UpdateChannel(a);
    ASSERT_TRUE(Eventually([&] { return Status(a) == US_UP_TO_DATE; }));
    EXPECT_EQ(fake.Runs(), 1);
    TearDown();
    SetUp();
  }
}

TEST_F(UpdateManagerTest, ChannelNoUpdaterHandlesFailsAtOnceWithoutSpinning) {
  FakeUpdater fake;
  IChannel* odd = AddChannel(u"Odd", u"http://127.0.0.1:1/", u"@Weird");
  IChannel* fine = AddChannel(u"Fine");
  fake.Decline(u"Odd");
  Start(&fake);
  updates_->UpdateChannel(odd);
  updates_->UpdateChannel(fine);
  ASSERT_TRUE(Eventually([&] { return Status(odd) == US_FAILED && Status(fine) == US_UP_TO_DATE; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"Fine"}));
  // The idle worker sleeps: its loop passes stop counting up.
  plat::DWORD passes = plat::GetSystemIdleTimerResetCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LE(plat::GetSystemIdleTimerResetCount() - passes, 2u);
}

TEST_F(UpdateManagerTest, ArticlesOnlyRequestWithNothingPendingLeavesTheWorkerAsleep) {
  FakeUpdater fake;
  IChannel* channel = AddChannel(u"Quiet");
  Start(&fake);
  updates_->UpdateChannel(channel, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  plat::DWORD passes = plat::GetSystemIdleTimerResetCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LE(plat::GetSystemIdleTimerResetCount() - passes, 2u);
  EXPECT_EQ(fake.Runs(), 0);
  // And it still wakes for the next request.
  updates_->UpdateChannel(channel);
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 1; }));
}

TEST_F(UpdateManagerTest, RequestArrivingWhileTheRunClosesStartsTheNextRun) {
  FakeUpdater fake;
  IChannel* first = AddChannel(u"First");
  IChannel* second = AddChannel(u"Second");
  Start(&fake);
  // The second request arrives after the worker found the queue empty and
  // before it closed the run.
  std::atomic<int> hookCalls{0};
  updates_->SetRunClosingHookForTesting([&] {
    if (hookCalls++ == 0) updates_->UpdateChannel(second);
  });
  updates_->UpdateChannel(first);
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 2; }, 3000)) << "the second request was dropped";
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"First", u"Second"}));
  EXPECT_EQ(Status(first), US_UP_TO_DATE);
  EXPECT_EQ(Status(second), US_UP_TO_DATE);
  updates_->SetRunClosingHookForTesting(nullptr);

  // Requests from another thread just as runs run out of work, over a range
  // of delays.
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    int endedBefore = fake.Ended();
    updates_->UpdateChannel(first);
    ASSERT_TRUE(Eventually([&] { return fake.Ended() == endedBefore + 1; }));
    std::this_thread::sleep_for(std::chrono::microseconds(50 * round));
    updates_->UpdateChannel(second);
    ASSERT_TRUE(Eventually([&] { return fake.Ended() == endedBefore + 2; }, 3000)) << "the request was dropped";
    ASSERT_TRUE(WaitIdle());
  }
}

TEST_F(UpdateManagerTest, RequestAfterAStopGetsARunOfItsOwn) {
  FakeUpdater fake;
  IChannel* blocked = AddChannel(u"Blocked");
  IChannel* next = AddChannel(u"Next");
  fake.Set(u"Blocked", Behaviour::kBlock);
  Start(&fake);
  updates_->UpdateChannel(blocked);
  ASSERT_TRUE(Eventually([&] { return fake.Runs() == 1; }));
  updates_->StopUpdatingAllChannels();
  updates_->UpdateChannel(next);
  ASSERT_TRUE(Eventually([&] { return Status(next) == US_UP_TO_DATE; }));
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"Blocked", u"Next"}));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(provider_->Requests().size(), 2u);
}

// A stop while nothing updates (the program's stop on its way out, or before
// moving its data) cancels nothing that comes later: the next request runs.
TEST_F(UpdateManagerTest, AStopWhileIdleLeavesTheNextRequestItsRun) {
  FakeUpdater fake;
  IChannel* next = AddChannel(u"Next");
  Start(&fake);
  ASSERT_TRUE(WaitIdle());
  updates_->StopUpdatingAllChannels();
  updates_->UpdateChannel(next);
  ASSERT_TRUE(Eventually([&] { return Status(next) == US_UP_TO_DATE; })) << "status " << Status(next);
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"Next"}));
  ASSERT_TRUE(WaitIdle());
}

TEST_F(UpdateManagerTest, RemovingTheChannelStopsItsRunningJob) {
  FakeUpdater fake;
  IChannel* doomed = AddChannel(u"Doomed");
  IChannel* other = AddChannel(u"Other");
  fake.Set(u"Doomed", Behaviour::kBlock);
  Start(&fake);
  updates_->UpdateChannel(doomed);
  updates_->UpdateChannel(other);
  ASSERT_TRUE(Eventually([&] { return fake.Runs() == 1; }));
  auto start = Clock::now();
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->Remove(u"Doomed");
  }
  ASSERT_TRUE(Eventually([&] { return Status(other) == US_UP_TO_DATE; }));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(fake.Order(), (std::vector<std::u16string>{u"Doomed", u"Other"}));
}

TEST_F(UpdateManagerTest, ProgressPostsRiseWithinEachChannel) {
  constexpr int kChannels = 8;
  FeedUpdater feeds;
  std::vector<IChannel*> channels;
  for (int i = 0; i < kChannels; ++i) {
    std::string path = "/f" + std::to_string(i);
    std::string body = RssFeed("f" + std::to_string(i), 20);
    bool noLength = i % 2 == 0;
    server_.Route(path, [body, noLength](const orvtest::HttpRequest&) {
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "text/xml"});
      r.body = body;
      r.sendContentLength = !noLength;
      r.trickleDelayMs = 2;
      r.trickleBytes = 1024;
      return r;
    });
    channels.push_back(AddFeed(plat::Utf8ToUtf16("F" + std::to_string(100 + i)), path));
  }
  Start(&feeds);
  updates_->UpdateAllChannels(0);
  ASSERT_TRUE(Eventually([&] {
    for (IChannel* c : channels) {
      if (Status(c) != US_UP_TO_DATE) return false;
    }
    return true;
  }, 9000));
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(Eventually([&] {
    auto posts = window_->Posts();
    return !posts.empty() && posts.back().state.updating == 0;
  }));
  auto posts = window_->Posts();
  int lastPosition = 0, lastPercent = 0, midway = 0;
  std::set<int> positions;
  for (const auto& p : posts) {
    if (!p.state.updating || p.state.connecting) continue;
    EXPECT_EQ(p.state.count, kChannels);
    ASSERT_GE(p.state.position, lastPosition) << "the run went back to an earlier channel";
    if (p.state.position == lastPosition) {
      EXPECT_GE(p.state.percent, lastPercent) << "channel " << p.state.position;
    }
    EXPECT_LE(p.state.percent, 100);
    midway += p.state.percent > 0 && p.state.percent < 100;
    positions.insert(p.state.position);
    lastPosition = p.state.position;
    lastPercent = p.state.percent;
  }
  EXPECT_GT(midway, kChannels);
  EXPECT_GE(positions.size(), static_cast<std::size_t>(kChannels));
}

TEST_F(UpdateManagerTest, StressUpdatesWhileAnotherThreadReadsAndMarksArticles) {
  constexpr int kChannels = 50;
  constexpr int kArticles = 4;
  FakeUpdater fake;
  std::vector<IChannel*> channels;
  for (int i = 0; i < kChannels; ++i) {
    std::u16string name = plat::Utf8ToUtf16("S" + std::to_string(1000 + i));
    channels.push_back(AddChannel(name));
    fake.Set(name, Behaviour::kArticles, kArticles);
  }
  Start(&fake);

  std::atomic<bool> done{false};
  std::atomic<int> marked{0};
  std::thread reader([&] {
    int round = 0;
    while (!done) {
      CSyncLock lock(GetChannelSet());
      CChannelSet* set = GetChannelSet();
      IChannel* channel = set->GetAt(round++ % set->GetCount());
      channel->Acquire(&round);
      IArticleSet* articles = channel->GetArticleSet();
      for (int i = 0; i < articles->GetCount(); ++i) {
        channel->SetArticleRead(articles->GetAt(i), true);
        ++marked;
      }
      channel->GetUnreadCount();
      channel->Release(&round, true);
      UpdateManagerState s;
      updates_->GetState(&s);
      updates_->GetChannelStatus(channel->GetName());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::thread stopper([&] {
    // Status queries and listener changes from a third thread meanwhile.
    while (!done) {
      updates_->IsUpdating();
      updates_->GetUpdateItemStatus(channels[0]);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  updates_->UpdateAllChannels(0);
  // The watchdog: a deadlock shows as a run that never ends.
  bool finished = Eventually([&] { return fake.Ended() == kChannels && !updates_->IsUpdating(); }, 9000);
  done = true;
  reader.join();
  stopper.join();
  ASSERT_TRUE(finished) << "ended " << fake.Ended() << " of " << kChannels;
  EXPECT_EQ(fake.MaxRunning(), 1);
  EXPECT_GT(marked.load(), 0);
  for (IChannel* c : channels) {
    EXPECT_EQ(Status(c), US_UP_TO_DATE);
    EXPECT_EQ(Articles(c), kArticles) << plat::Utf16ToUtf8(c->GetName());
  }
}

TEST_F(UpdateManagerTest, StopsAndConnectionDropsRaceWithoutDeadlock) {
  Script manual;
  manual.manual = true;
  provider_->SetScript(manual);
  FakeUpdater fake;
  IChannel* a = AddChannel(u"A");
  IChannel* b = AddChannel(u"B");
  fake.Set(u"A", Behaviour::kBlock);
  Start(&fake);
  std::atomic<bool> done{false};
  // The connection answers and drops at random moments on the provider's side.
  std::thread connection([&] {
    int i = 0;
    while (!done) {
      std::uint64_t id = provider_->LastId();
      if (id) {
        plat::SetConnectionStatus(id, ++i % 3 ? plat::CONNMGR_STATUS_CONNECTED : plat::CONNMGR_STATUS_DISCONNECTED);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  auto end = Clock::now() + std::chrono::milliseconds(1500);
  int round = 0;
  while (Clock::now() < end) {
    updates_->UpdateChannel(round % 2 ? a : b);
    std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
    if (round % 3 == 0) updates_->StopUpdatingAllChannels();
    if (round % 7 == 0) updates_->StopUpdatingChannel(a);
    ++round;
  }
  updates_->StopUpdatingAllChannels();
  bool idle = Eventually([&] { return !updates_->IsUpdating(); }, 6000);
  done = true;
  connection.join();
  ASSERT_TRUE(idle);
  auto start = Clock::now();
  updates_->Shutdown_();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
}

TEST_F(UpdateManagerTest, ListenersAreReplacedAndRemovedByWindow) {
  FakeUpdater fake;
  IChannel* channel = AddChannel(u"News");
  Start(&fake);
  plat::UINT other = plat::RegisterWindowMessageW(u"OrvTestOtherMessage");
  // Re-adding the window with another message replaces its entry: posts now
  // carry the other number, which the double does not record.
  updates_->AddEventListener(window_->Window(), other);
  std::size_t before = window_->Posts().size();
  updates_->UpdateChannel(channel);
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 1 && !updates_->IsUpdating(); }));
  ASSERT_TRUE(window_->Drain());
  EXPECT_EQ(window_->Posts().size(), before);
  updates_->AddEventListener(window_->Window(), window_->Message());
  updates_->StatusChanged();
  ASSERT_TRUE(Eventually([&] { return window_->Posts().size() == before + 1; }));
  updates_->RemoveEventListener(window_->Window());
  updates_->StatusChanged();
  ASSERT_TRUE(window_->Drain());
  EXPECT_EQ(window_->Posts().size(), before + 1);
}

TEST_F(UpdateManagerTest, ArticlesOnlyUpdateAllNeverStoresTheLastUpdateTime) {
  FakeUpdater fake;
  IChannel* a = AddChannel(u"A");
  Start(&fake);
  updates_->UpdateAllChannels(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  updates_->UpdateChannel(a);
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 1 && !updates_->IsUpdating(); }));
  plat::FILETIME last{};
  EXPECT_FALSE(GetGlobalOptions().GetLastUpdateTime(&last));
  // A full update stopped by the user stores it.
  fake.Set(u"A", Behaviour::kBlock);
  updates_->UpdateAllChannels(0);
  ASSERT_TRUE(Eventually([&] { return fake.Runs() == 2; }));
  updates_->StopUpdatingAllChannels();
  EXPECT_TRUE(GetGlobalOptions().GetLastUpdateTime(&last));
  // The stopped job ends before its updater goes.
  ASSERT_TRUE(Eventually([&] { return fake.Ended() == 2 && !updates_->IsUpdating(); }));
}

// A picture of one item, at an address of the test server.
std::string FeedWithPicture(const std::string& title, const std::string& pictureUrl) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>" + title +
         "</title><link>http://example.org/</link><description>d</description>\n<item><title>" + title +
         " item</title><guid>" + title + "-0</guid><description>&lt;img src=\"" + pictureUrl +
         "\"/&gt; text</description></item>\n</channel></rss>\n";
}

// A slow answer: a stop or a lost connection comes while it arrives.
orvtest::HttpResponse Trickled(const std::string& body, const std::string& type) {
  orvtest::HttpResponse r;
  r.headers.push_back({"Content-Type", type});
  r.body = body;
  r.trickleDelayMs = 20;
  r.trickleBytes = 16;
  return r;
}

TEST_F(UpdateManagerTest, ConnectionLostDuringARunEndsTheRunAndTheNextRunCompletes) {
  struct Case {
    const char* name;
    bool picture;  // the connection goes while a picture comes, not a feed
  } cases[] = {{"while a feed comes", false}, {"while a picture comes", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> slow{false};
    const std::string picture(4000, 'P');
    server_.Route("/lost-a", [&](const orvtest::HttpRequest&) {
      std::string body = c.picture ? FeedWithPicture("lost", server_.Url("/pic.png")) : RssFeed("lost", 30);
      if (slow && !c.picture) return Trickled(body, "text/xml");
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "text/xml"});
      r.body = body;
      return r;
    });
    server_.Route("/pic.png", [&](const orvtest::HttpRequest&) {
      if (slow) return Trickled(picture, "image/png");
      orvtest::HttpResponse r;
      r.headers.push_back({"Content-Type", "image/png"});
      r.body = picture;
      return r;
    });
    server_.Serve("/lost-b", RssFeed("after", 2));
    // Channel files stay in the content folder between cases: names of their own.
    const std::u16string nameA = plat::Utf8ToUtf16(std::string("Lost A ") + c.name);
    const std::u16string nameB = plat::Utf8ToUtf16(std::string("Lost B ") + c.name);
    IChannel* a = AddFeed(nameA, "/lost-a");
    IChannel* b = AddFeed(nameB, "/lost-b");
    ASSERT_TRUE(a && b);
    GetGlobalOptions().SetRSSReportingAllowed(0);
    Start(CJSPlugin::GetInstance());
    // A first run stores what the feed has.
    if (!c.picture) {
      updates_->UpdateChannel(a);
      ASSERT_TRUE(Eventually([&] { return Status(a) == US_UP_TO_DATE; }));
      ASSERT_TRUE(WaitIdle());
      ASSERT_EQ(Articles(a), 30);
    }
    slow = true;
    SetUpdateLocked();
    const std::string slowPath = c.picture ? "/pic.png" : "/lost-a";
    const std::size_t before = server_.RequestCount(slowPath);
    updates_->UpdateChannel(a);
    updates_->UpdateChannel(b);
    ASSERT_TRUE(Eventually([&] {
      UpdateManagerState s;
      updates_->GetState(&s);
      return server_.RequestCount(slowPath) == before + 1 && s.bytes > 0;
    }));
    plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_DISCONNECTED);

    // The run ends: nothing is left to do, the worker sleeps.
    ASSERT_TRUE(WaitIdle(5000)) << "the run goes on without a connection";
    EXPECT_FALSE(updates_->HasWork());
    EXPECT_TRUE(WorkerSleeps());
    EXPECT_FALSE(StoredDword(u"UpdateLocked").has_value());
    EXPECT_EQ(updates_->GetChannelStatus(nameB), UQS_NOT_QUEUED);
    ASSERT_TRUE(Eventually([&] { return !Boxes().empty(); }));
    EXPECT_EQ(Boxes().back(), orvtest::kNoConnectionText);
    // What was not updated shows as failed; what was stored stays.
    EXPECT_EQ(Status(b), US_FAILED);
    if (c.picture) {
      EXPECT_EQ(Status(a), US_UP_TO_DATE);
      bool file = true;
      EXPECT_EQ(BinaryStatus(a, "/pic.png", &file), US_WAITING) << "the picture waits for the next run";
      EXPECT_FALSE(file);
    } else {
      EXPECT_EQ(Status(a), US_FAILED);
      EXPECT_EQ(Articles(a), 30);
    }

    // The next run, with the connection back, brings everything.
    slow = false;
    updates_->UpdateChannel(a);
    updates_->UpdateChannel(b);
    ASSERT_TRUE(Eventually([&] { return Status(a) == US_UP_TO_DATE && Status(b) == US_UP_TO_DATE; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Articles(b), 2);
    if (c.picture) {
      bool file = false;
      EXPECT_EQ(BinaryStatus(a, "/pic.png", &file), US_UP_TO_DATE);
      EXPECT_TRUE(file);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(UpdateManagerTest, ItemItsJobLeavesWaitingFailsForThisRunInsteadOfRunningAgain) {
  // The article script leaves its article waiting: it reports it not updated.
  server_.Serve("/page", "<html><body><p id=\"text\">x</p></body></html>", "text/html");
  IChannel* script = AddScriptChannel(
      u"Looping", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<template>\n<parse_channel><![CDATA["
                  "var a = new Article(); a.id = 'one'; a.header = 'One'; channel.articles.push(a);"
                  "]]></parse_channel>\n<parse_article><![CDATA[var p = Document('" +
                      server_.Url("/page") +
                      "'); article.updated = '0';]]></parse_article>\n"
                      "<channel><name>News</name></channel>\n</template>\n");
  ASSERT_NE(script, nullptr);
  GetGlobalOptions().SetRSSReportingAllowed(0);
  Start(CJSPlugin::GetInstance());
  updates_->UpdateChannel(script);
  ASSERT_TRUE(Eventually([&] { return !updates_->HasWork(); }, 5000)) << "the article is updated again and again";
  EXPECT_EQ(Status(script), US_UP_TO_DATE);
  EXPECT_EQ(OnlyArticle(script).first, US_FAILED);
  // The article's script ran once, and once more at most.
  EXPECT_GE(server_.RequestCount("/page"), 1u);
  EXPECT_LE(server_.RequestCount("/page"), 2u);
  EXPECT_TRUE(WorkerSleeps());

  // Any job that ends as it began: the same for the channel itself.
  FakeUpdater fake;
  IChannel* odd = AddChannel(u"Odd");
  IChannel* fine = AddChannel(u"Fine");
  fake.Set(u"Odd", Behaviour::kLeaveWaiting);
  CUpdatersManager::GetInstance().RemoveUpdater(CJSPlugin::GetInstance());
  CUpdatersManager::GetInstance().AddUpdater(&fake);
  registered_.push_back(&fake);
  updates_->UpdateChannel(odd);
  updates_->UpdateChannel(fine);
  ASSERT_TRUE(Eventually([&] { return !updates_->HasWork(); }, 5000));
  EXPECT_EQ(Status(odd), US_FAILED);
  EXPECT_EQ(Status(fine), US_UP_TO_DATE);
  EXPECT_LE(fake.Runs(), 3);
  EXPECT_FALSE(updates_->HasWork());
}

TEST_F(UpdateManagerTest, StoppedPictureWaitsAgainAndStoppedArticleKeepsItsManualMark) {
  std::atomic<bool> slow{true};
  const std::string picture(4000, 'P');
  server_.Serve("/pictured", FeedWithPicture("pictured", server_.Url("/pic.png")));
  server_.Route("/pic.png", [&](const orvtest::HttpRequest&) {
    if (slow) return Trickled(picture, "image/png");
    orvtest::HttpResponse r;
    r.headers.push_back({"Content-Type", "image/png"});
    r.body = picture;
    return r;
  });
  server_.Route("/story", [&](const orvtest::HttpRequest&) {
    return Trickled("<html><body><p id=\"text\">" + std::string(2000, 's') + "</p></body></html>", "text/html");
  });
  IChannel* feed = AddFeed(u"Pictured", "/pictured");
  IChannel* script = AddScriptChannel(
      u"Stories", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<template>\n<parse_channel><![CDATA["
                  "var a = new Article(); a.id = 'one'; a.header = 'One'; channel.articles.push(a);"
                  "]]></parse_channel>\n<parse_article><![CDATA[var p = Document('" +
                      server_.Url("/story") +
                      "'); article.updated = '1';]]></parse_article>\n"
                      "<channel><name>News</name></channel>\n</template>\n");
  ASSERT_TRUE(feed && script);
  GetGlobalOptions().SetRSSReportingAllowed(0);
  Start(CJSPlugin::GetInstance());

  // The picture is stopped half-way.
  updates_->UpdateChannel(feed);
  ASSERT_TRUE(Eventually([&] { return server_.RequestCount("/pic.png") == 1; }));
  updates_->StopUpdatingChannel(feed);
  ASSERT_TRUE(WaitIdle());
  bool file = true;
  EXPECT_EQ(BinaryStatus(feed, "/pic.png", &file), US_WAITING);
  EXPECT_FALSE(file);
  // The next update fetches it.
  slow = false;
  updates_->UpdateChannel(feed);
  ASSERT_TRUE(Eventually([&] { return BinaryStatus(feed, "/pic.png") == US_UP_TO_DATE; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(server_.RequestCount("/pic.png"), 2u);
  BinaryStatus(feed, "/pic.png", &file);
  EXPECT_TRUE(file);

  // The article is stopped while its script reads its page: it waits for a
  // manual update.
  updates_->UpdateChannel(script);
  ASSERT_TRUE(Eventually([&] { return server_.RequestCount("/story") == 1; }));
  updates_->StopUpdatingAllChannels();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(OnlyArticle(script), std::make_pair(std::uint32_t{US_UP_TO_DATE}, 1));
}

}  // namespace
