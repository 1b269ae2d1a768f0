#include "update/script/ChannelJob.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/StringUtils.h"
#include "platform/base/Time.h"
#include "database/ChannelMutexTimeout.h"
#include "tests/database/HeldMutex.h"
#include "tests/support/Wait.h"
#include "tests/update/ScriptTestSupport.h"

namespace {

using orvtest::MakeTemplate;
using orvtest::ScriptFixture;

std::uint64_t UtcDay(int year, int month, int day) {
  plat::SYSTEMTIME st{};
  st.wYear = static_cast<plat::WORD>(year);
  st.wMonth = static_cast<plat::WORD>(month);
  st.wDay = static_cast<plat::WORD>(day);
  plat::FILETIME ft{};
  plat::SystemTimeToFileTime(&st, &ft);
  return plat::FileTimeToULL(ft);
}

class ScriptJobsTest : public orvtest::ScriptChannelTest {
 protected:
  void SetUp() override {
    ScriptChannelTest::SetUp();
    server_.Serve("/list.html", ScriptFixture("list.html"), "text/html; charset=utf-8");
    server_.Serve("/story1.html", ScriptFixture("story1.html"), "text/html; charset=utf-8");
  }

  // Runs a channel job as the update manager does: session set, Run.
  void RunChannel(IChannel* channel, plat::DWORD timeBudgetMs = 5000, std::size_t memory = 8 * 1024 * 1024) {
    std::unique_ptr<CChannelJob> job;
    {
      CSyncLock lock(GetChannelSet());
      job = std::make_unique<CChannelJob>(channel);
    }
    job->SetSession(session_.get());
    job->SetBudget(timeBudgetMs, memory);
    job->Run();
    EXPECT_EQ(job->GetItem(), nullptr) << "the job lets its channel go when it ends";
  }
  void RunArticle(IChannel* channel, const std::u16string& idText) {
    std::unique_ptr<CArticleJob> job;
    {
      CSyncLock lock(GetChannelSet());
      channel->Acquire(this);
      IArticle* article = channel->GetArticleSet()->FindById(GetMd5Hex(idText));
      ASSERT_NE(article, nullptr);
      job = std::make_unique<CArticleJob>(article);
      EXPECT_EQ(job->GetItem(), static_cast<IUpdateItem*>(article));
      channel->Release(this, false);
    }
    job->SetSession(session_.get());
    job->SetBudget(5000, 8 * 1024 * 1024);
    job->Run();
  }
  IChannel* SiteChannel() {
    return AddScriptChannel(u"Site news", WriteTemplate("site.xml", ScriptFixture("site.xml")));
  }
};

TEST_F(ScriptJobsTest, ChannelScriptScrapesPageIntoArticles) {
  IChannel* channel = SiteChannel();
  ASSERT_NE(channel, nullptr);
  RunChannel(channel);

  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  // Properties from the script, the template and the template's channel.
  EXPECT_EQ(Property(channel, u"title"), u"Orv Test Site");
  EXPECT_EQ(Property(channel, u"description"), u"Stories scraped from the test site");
  EXPECT_EQ(Property(channel, u"section"), u"front");
  EXPECT_EQ(Property(channel, u"channel#lang"), u"en");
  EXPECT_EQ(Property(channel, u"thumbnail"), plat::Utf8ToUtf16(server_.Url("/favicon.ico")));
  EXPECT_EQ(Property(channel, u"@type"), u"@Ridudo");
  ASSERT_EQ(ArticleCount(channel), 2);

  std::u16string first = plat::Utf8ToUtf16(server_.Url("/story1.html"));
  orvtest::StoredScriptArticle a = Article(channel, first);
  ASSERT_TRUE(a.found);
  EXPECT_EQ(a.title, u"First & story");
  EXPECT_EQ(a.date, UtcDay(2024, 3, 5));
  // The template has parse_article: the article waits for its own job.
  EXPECT_EQ(a.state, US_WAITING);
  EXPECT_FALSE(a.read);
  EXPECT_EQ(a.properties[u"link"], first);
  EXPECT_EQ(a.properties[u"id"], first);
  EXPECT_NE(a.properties[u"body"].find(u"one.png"), std::u16string::npos);
  EXPECT_EQ(a.properties.count(u"header"), 0u);
  EXPECT_EQ(a.properties.count(u"updated"), 0u);
  EXPECT_EQ(a.binaries, CStringSet{plat::Utf8ToUtf16(server_.Url("/img/one.png"))});
  // No dynamicid: the content key is the digest of the empty text.
  EXPECT_EQ(a.secondDigest, GetMd5Hex(u""));

  orvtest::StoredScriptArticle b = Article(channel, plat::Utf8ToUtf16(server_.Url("/story2.html")));
  ASSERT_TRUE(b.found);
  EXPECT_EQ(b.title, u"Second story");
  EXPECT_TRUE(b.binaries.empty());
  EXPECT_TRUE(LogHas("Article (id = \"" + server_.Url("/story2.html") + "\", header = \"Second story\") added."));
}

TEST_F(ScriptJobsTest, ArticleScriptFillsBodyFromItsPage) {
  IChannel* channel = SiteChannel();
  ASSERT_NE(channel, nullptr);
  RunChannel(channel);
  std::u16string first = plat::Utf8ToUtf16(server_.Url("/story1.html"));
  ASSERT_EQ(Article(channel, first).state, US_WAITING);

  RunArticle(channel, first);
  orvtest::StoredScriptArticle a = Article(channel, first);
  ASSERT_TRUE(a.found);
  EXPECT_EQ(a.ownState, US_UP_TO_DATE);
  EXPECT_EQ(a.state, US_CHILD_WAITING) << "its new image waits for download";
  EXPECT_NE(a.properties[u"body"].find(u"Full text of the first story."), std::u16string::npos);
  EXPECT_EQ(a.properties[u"author"], u"Ann Writer");
  EXPECT_EQ(a.properties[u"link"], first) << "stored properties the script did not touch stay";
  EXPECT_EQ(a.title, u"First & story");
  EXPECT_EQ(a.date, UtcDay(2024, 3, 5));
  EXPECT_TRUE(a.binaries.count(plat::Utf8ToUtf16(server_.Url("/pics/big.jpg"))));
  EXPECT_EQ(ArticleCount(channel), 2);
  // The other article still waits for its own job.
  EXPECT_EQ(Article(channel, plat::Utf8ToUtf16(server_.Url("/story2.html"))).state, US_WAITING);
}

TEST_F(ScriptJobsTest, ArticleWithoutScriptIsMarkedUpdated) {
  IChannel* channel = AddScriptChannel(
      u"Plain", WriteTemplate("plain.xml", MakeTemplate("var a = new Article(); a.id = 'x'; a.header = 'X';"
                                                        "channel.articles.push(a);")));
  RunChannel(channel);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  // Without parse_article the article needs no job of its own.
  EXPECT_EQ(Article(channel, u"x").state, US_UP_TO_DATE);
  RunArticle(channel, u"x");
  EXPECT_EQ(Article(channel, u"x").state, US_UP_TO_DATE);
  EXPECT_TRUE(LogHas(">> Parse Article, no JS code in template."));
}

TEST_F(ScriptJobsTest, ArticleScriptThatThrowsFailsTheArticle) {
  IChannel* channel = AddScriptChannel(
      u"Fragile", WriteTemplate("fragile.xml", MakeTemplate("var a = new Article(); a.id = 'x'; channel.articles.push(a);",
                                                            "throw new Error('no page');")));
  RunChannel(channel);
  ASSERT_EQ(Article(channel, u"x").state, US_WAITING);
  RunArticle(channel, u"x");
  EXPECT_EQ(Article(channel, u"x").state, US_FAILED);
  EXPECT_TRUE(LogHas("Exception is thrown: article not added"));
}

struct FailingScript {
  const char* name;
  const char* script;
  const char* logged;  // a line the failure leaves in the log
  plat::DWORD timeMs = 300;  // the time budget
};

const FailingScript kFailingScripts[] = {
    {"Throws", "channel.title = 'changed'; throw new Error('scrape failed');", "Error: scrape failed"},
    {"LoopsForEver", "channel.title = 'changed'; for (;;) {}", "Script stopped: it ran longer than"},
    {"CatchesAndLoops", "for (;;) { try { for (;;) {} } catch (e) {} }", "Script stopped: it ran longer than"},
    // The heap, not the clock, must end this one.
    {"AllocatesWithoutEnd", "var keep = []; for (;;) keep.push(new Array(1000).join('x') + keep.length);",
     "Script stopped: its heap of", 120000},
    {"NativeWithWrongArguments", "var d = Document(); d.firstChild;", "TypeError"},
    {"NodeMethodWithWrongArguments", "Document('BASE/list.html').getElementsByTagName().length;", "TypeError"},
    {"SyntaxError", "var = ;", "SyntaxError"},
};

void PrintTo(const FailingScript& c, std::ostream* out) { *out << c.name; }

class FailingScriptTest : public ScriptJobsTest, public ::testing::WithParamInterface<FailingScript> {};

TEST_P(FailingScriptTest, FailsItsChannelAndTheNextChannelStillUpdates) {
  const FailingScript& c = GetParam();
  IChannel* bad = AddScriptChannel(u"Bad", WriteTemplate("bad.xml", MakeTemplate(c.script)));
  IChannel* good = AddScriptChannel(
      u"Good", WriteTemplate("good.xml", MakeTemplate("var a = new Article(); a.id = 'ok'; a.header = 'Fine';"
                                                      "channel.articles.push(a); channel.title = 'good';")));
  ASSERT_NE(bad, nullptr);
  ASSERT_NE(good, nullptr);
  {
    CSyncLock lock(GetChannelSet());
    bad->SetProperty(u"title", u"old");
  }
  RunChannel(bad, c.timeMs, 1024 * 1024);
  EXPECT_EQ(Status(bad), US_FAILED);
  EXPECT_EQ(Property(bad, u"title"), u"old") << "a failed script changes no property";
  EXPECT_EQ(ArticleCount(bad), 0);
  EXPECT_TRUE(LogHas(c.logged)) << c.logged;
  EXPECT_TRUE(LogHas("<< Parse Channel"));

  RunChannel(good, 300, 1024 * 1024);
  EXPECT_EQ(Status(good), US_UP_TO_DATE);
  EXPECT_EQ(Property(good, u"title"), u"good");
  EXPECT_EQ(Article(good, u"ok").title, u"Fine");
}

INSTANTIATE_TEST_SUITE_P(Scripts, FailingScriptTest, ::testing::ValuesIn(kFailingScripts),
                         [](const ::testing::TestParamInfo<FailingScript>& info) { return info.param.name; });

TEST_F(ScriptJobsTest, WrongChannelObjectFailsTheRun) {
  IChannel* channel = AddScriptChannel(u"Lost", WriteTemplate("lost.xml", MakeTemplate("channel = 5;")));
  RunChannel(channel);
  EXPECT_EQ(Status(channel), US_FAILED);
  EXPECT_TRUE(LogHas("Wrong type of 'channel' variable, must be object."));
}

TEST_F(ScriptJobsTest, StoppedJobEndsSoonAndChangesNothing) {
  IChannel* channel = AddScriptChannel(
      u"Endless", WriteTemplate("endless.xml",
                                MakeTemplate("channel.title = 'changed'; var a = new Article(); a.id = 'late';"
                                             "channel.articles.push(a); log('endless loop begins'); for (;;) {}")));
  std::unique_ptr<CChannelJob> job;
  {
    CSyncLock lock(GetChannelSet());
    job = std::make_unique<CChannelJob>(channel);
  }
  job->SetSession(session_.get());
  job->SetBudget(60000, 8 * 1024 * 1024);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    job->Run();
    done = true;
  });
  // Wait until the script itself runs: the channel is being updated before
  // the template is read, so that alone could let the stop come first.
  ASSERT_TRUE(orvtest::Eventually([&] { return LogHas("endless loop begins"); }));
  ASSERT_EQ(Status(channel), US_UPDATING);
  session_->Cancel();
  auto start = std::chrono::steady_clock::now();
  job->Stop();
  EXPECT_EQ(job->GetItem(), nullptr);
  worker.join();
  EXPECT_TRUE(done);
  // Without the stop the script would run out its whole minute.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(Status(channel), US_WAITING) << "a stopped channel waits again";
  EXPECT_EQ(Property(channel, u"title"), u"<none>");
  EXPECT_EQ(ArticleCount(channel), 0);
  EXPECT_TRUE(LogHas("Script stopped: its job was stopped."));
}

TEST_F(ScriptJobsTest, RemovedChannelStopsItsJob) {
  IChannel* channel = AddScriptChannel(u"Doomed", WriteTemplate("doomed.xml", MakeTemplate("for (;;) {}")));
  std::unique_ptr<CChannelJob> job;
  {
    CSyncLock lock(GetChannelSet());
    job = std::make_unique<CChannelJob>(channel);
  }
  job->SetBudget(60000, 8 * 1024 * 1024);
  std::thread worker([&] { job->Run(); });
  orvtest::Eventually([&] { return Status(channel) == US_UPDATING; });
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->Remove(u"Doomed");
  }
  EXPECT_EQ(job->GetItem(), nullptr);
  worker.join();
  EXPECT_EQ(GetChannelSet()->FindByName(u"Doomed"), nullptr);
}

TEST_F(ScriptJobsTest, TemplateDeclaringFeedHandsTheChannelOver) {
  IChannel* channel = AddScriptChannel(
      u"Feed", WriteTemplate("feed.xml", MakeTemplate("channel.title = 'ran';", "", " type=\"RSS\"")));
  std::unique_ptr<CChannelJob> job;
  {
    CSyncLock lock(GetChannelSet());
    job = std::make_unique<CChannelJob>(channel);
  }
  job->Run();
  EXPECT_TRUE(job->WasHandedOver());
  EXPECT_EQ(Status(channel), US_WAITING);
  EXPECT_EQ(Property(channel, u"channel#type"), u"RSS");
  EXPECT_EQ(Property(channel, u"title"), u"<none>") << "no script runs";
  EXPECT_TRUE(LogHas("<< Parse Channel - to be continued"));
}

TEST_F(ScriptJobsTest, MissingTemplateKeepsPropertiesAndRunsTheStoredScript) {
  IChannel* channel = AddScriptChannel(u"Orphan", u"\\Templates\\gone.xml");
  {
    CSyncLock lock(GetChannelSet());
    channel->SetProperty(u"parse_channel", u"channel.title = 'still runs';");
  }
  RunChannel(channel);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  EXPECT_EQ(Property(channel, u"title"), u"still runs");
}

// Articles a script reports, as they are stored.
TEST_F(ScriptJobsTest, ArticleKeysDatesAndProperties) {
  const char* script =
      "function add(p) { var a = new Article(); for (var k in p) a[k] = p[k]; channel.articles.push(a); }"
      "add({id: '0123456789abcdef0123456789ABCDEF', header: 'Hex'});"
      "add({header: 'Twin', body: 'same'}); add({header: 'Twin', body: 'same'});"
      "add({id: 'numdate', date: 1700000000000, header: 'N'});"
      "add({id: 'datedate', date: new Date(1700000000000), header: 'D', count: 7, flag: true});"
      "add({dynamicid: 'v1', header: 'No id'});"
      "add({id: 'far', date: new Date(8.64e15), header: 'Far'}); add({id: 'early', date: new Date(-5), header: 'E'});"
      "add({id: 'entities', header: 'Fish &amp; chips &#x263A;', read: '1'});"
      "channel.articles.push('not an object');"
      "channel.count = 3;";
  IChannel* channel = AddScriptChannel(u"Keys", WriteTemplate("keys.xml", MakeTemplate(script)));
  RunChannel(channel);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);

  orvtest::StoredScriptArticle hex = Article(channel, u"0123456789abcdef0123456789ABCDEF");
  EXPECT_TRUE(hex.found) << "a digest id is its own key";

  // Two articles without id but the same properties are one article.
  CStringToStringMap twin{{u"body", u"same"}, {u"header", u"Twin"}};
  orvtest::StoredScriptArticle t = Article(channel, MapToString(twin));
  EXPECT_TRUE(t.found);
  EXPECT_EQ(t.title, u"Twin");

  EXPECT_EQ(Article(channel, u"numdate").date, 0u) << "a number is no date";
  orvtest::StoredScriptArticle d = Article(channel, u"datedate");
  EXPECT_EQ(d.date, (1700000000000ULL + 11644473600000ULL) * 10000ULL);
  EXPECT_EQ(d.properties[u"count"], u"7");
  EXPECT_EQ(d.properties.count(u"flag"), 0u) << "booleans are not kept";

  orvtest::StoredScriptArticle e = Article(channel, u"entities");
  EXPECT_EQ(e.title, u"Fish & chips \u263A");
  EXPECT_TRUE(e.read);

  // Dates a FILETIME cannot hold, or before 1970, are no dates.
  EXPECT_EQ(Article(channel, u"far").date, 0u);
  EXPECT_TRUE(Article(channel, u"far").found);
  EXPECT_EQ(Article(channel, u"early").date, 0u);

  // hex, twin, numdate, datedate, entities, far, early; the dynamicid without id is refused.
  EXPECT_EQ(ArticleCount(channel), 7);
  EXPECT_TRUE(LogHas("Adding article error: 'id' property must be present if 'dynamicid' is present"));
  EXPECT_TRUE(LogHas("Warning: a non-string property of channel is detected: count, ignored."));
  EXPECT_EQ(Property(channel, u"count"), u"<none>");
}

TEST_F(ScriptJobsTest, UnchangedArticleIsLeftAloneAndChangedOneIsUpdated) {
  auto script = [](const char* version, const char* header) {
    return std::string("var a = new Article(); a.id = 'story'; a.dynamicid = '") + version + "'; a.header = '" +
           header + "'; a.updated = '1'; channel.articles.push(a);";
  };
  std::u16string path = WriteTemplate("versions.xml", MakeTemplate(script("v1", "First"), "article.x = 1;"));
  IChannel* channel = AddScriptChannel(u"Versions", path);
  RunChannel(channel);
  ASSERT_EQ(Article(channel, u"story").state, US_UP_TO_DATE);
  {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    channel->SetArticleRead(channel->GetArticleSet()->FindById(GetMd5Hex(u"story")), true);
    channel->Release(this, false);
  }
  // Same dynamicid: untouched, even its title and read state.
  WriteTemplate("versions.xml", MakeTemplate(script("v1", "Renamed"), "article.x = 1;"));
  RunChannel(channel);
  orvtest::StoredScriptArticle same = Article(channel, u"story");
  EXPECT_EQ(same.title, u"First");
  EXPECT_TRUE(same.read);

  // A new dynamicid: updated and unread again.
  WriteTemplate("versions.xml", MakeTemplate(script("v2", "Renamed"), "article.x = 1;"));
  RunChannel(channel);
  orvtest::StoredScriptArticle changed = Article(channel, u"story");
  EXPECT_EQ(changed.title, u"Renamed");
  EXPECT_FALSE(changed.read);
  EXPECT_EQ(changed.secondDigest, GetMd5Hex(u"v2"));
  EXPECT_EQ(ArticleCount(channel), 1);
}

// Another program holds the channel while the run stores its articles: the
// stored properties cannot be read, so nothing is stored over them and the
// run fails; the next run merges the new properties into the stored ones.
TEST_F(ScriptJobsTest, StoredPropertiesThatCannotBeReadAreNotOverwritten) {
  auto script = [](const char* version, const char* extra) {
    return std::string("var d = Document('BASE/busy.html'); var a = new Article(); a.id = 'story'; a.dynamicid = '") +
           version + "'; a.header = 'Story'; " + extra + " a.updated = '1'; channel.articles.push(a);";
  };
  std::unique_ptr<orvtest::HeldMutex> busy;
  std::mutex busyLock;
  bool holdNext = false;
  server_.Route("/busy.html", [&](const orvtest::HttpRequest&) {
    std::lock_guard<std::mutex> guard(busyLock);
    if (holdNext) {
      holdNext = false;
      busy = std::make_unique<orvtest::HeldMutex>(u"CL.Busy news");
    }
    orvtest::HttpResponse response;
    response.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    response.body = "<html><body>page</body></html>";
    return response;
  });
  std::u16string path = WriteTemplate("busy.xml", MakeTemplate(script("v1", "a.x = '1';")));
  IChannel* channel = AddScriptChannel(u"Busy news", path);
  RunChannel(channel);
  ASSERT_EQ(Status(channel), US_UP_TO_DATE);
  ASSERT_EQ(Article(channel, u"story").properties[u"x"], u"1");

  WriteTemplate("busy.xml", MakeTemplate(script("v2", "a.y = '2';")));
  SetChannelMutexTimeout(20);
  holdNext = true;
  RunChannel(channel);
  SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
  {
    std::lock_guard<std::mutex> guard(busyLock);
    ASSERT_NE(busy, nullptr);
    ASSERT_TRUE(busy->Held());
    busy->Release();
  }
  {
    CSyncLock lock(GetChannelSet());
    EXPECT_EQ(static_cast<CUpdateItem*>(static_cast<CChannel*>(channel))->GetOwnUpdateState(), US_FAILED);
  }
  orvtest::StoredScriptArticle kept = Article(channel, u"story");
  EXPECT_EQ(kept.properties[u"x"], u"1") << "the stored properties were overwritten";
  EXPECT_EQ(kept.secondDigest, GetMd5Hex(u"v1")) << "marked as done without its properties";

  RunChannel(channel);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  {
    // From the files.
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveAll();
    ASSERT_TRUE(GetChannelSet()->Open());
    channel = GetChannelSet()->FindByNameNoCase(u"Busy news");
    ASSERT_NE(channel, nullptr);
  }
  orvtest::StoredScriptArticle merged = Article(channel, u"story");
  EXPECT_EQ(merged.properties[u"x"], u"1");
  EXPECT_EQ(merged.properties[u"y"], u"2");
  EXPECT_EQ(merged.secondDigest, GetMd5Hex(u"v2"));
}

TEST_F(ScriptJobsTest, DeletedArticleIsNotBroughtBack) {
  const char* script = "var a = new Article(); a.id = 'gone'; a.header = 'G'; channel.articles.push(a);";
  IChannel* channel = AddScriptChannel(u"Tomb", WriteTemplate("tomb.xml", MakeTemplate(script)));
  RunChannel(channel);
  {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    channel->GetArticleSet()->FindById(GetMd5Hex(u"gone"))->Delete();
    channel->Release(this, true);
  }
  WriteTemplate("tomb.xml", MakeTemplate(std::string(script) + "a.dynamicid = 'new';"));
  RunChannel(channel);
  orvtest::StoredScriptArticle a = Article(channel, u"gone");
  EXPECT_TRUE(a.found);
  EXPECT_TRUE(a.deleted);
}

}  // namespace

namespace {

TEST_F(ScriptJobsTest, ManualArticlesUpdateLeavesArticlesForTheUser) {
  const char* script =
      "function add(id, manual) { var a = new Article(); a.id = id; a.header = id;"
      " if (manual !== undefined) a.manualupdate = manual; channel.articles.push(a); }"
      "add('plain'); add('forced', '0'); add('updated'); channel.articles[2].updated = '1';";
  IChannel* channel = AddScriptChannel(u"Manual", WriteTemplate("manual.xml", MakeTemplate(script, "article.x = 1;")));
  {
    CSyncLock lock(GetChannelSet());
    channel->GetOptions()->SetUseDefaultDownloadOptions(0);
    channel->GetOptions()->SetManualArticlesUpdate(1);
  }
  RunChannel(channel);
  auto manualFlag = [&](const std::u16string& id) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    IArticle* article = channel->GetArticleSet()->FindById(GetMd5Hex(id));
    std::uint8_t flag = article ? article->GetManualUpdate() : 255;
    channel->Release(this, false);
    return flag;
  };
  // A waiting article of a manually updated channel waits for the user.
  EXPECT_EQ(Article(channel, u"plain").ownState, US_UP_TO_DATE);
  EXPECT_NE(manualFlag(u"plain"), 0);
  // The channel option wins over the script's "0".
  EXPECT_NE(manualFlag(u"forced"), 0);
  // An article the script marked updated needs nothing.
  EXPECT_EQ(Article(channel, u"updated").ownState, US_UP_TO_DATE);
  EXPECT_EQ(manualFlag(u"updated"), 0);
}

}  // namespace

namespace {

// The page's tree outlives the script's last reference to its document, and
// the nodes a script reaches again later are the ones it held.
TEST_F(ScriptJobsTest, NodesStayAliveWhileTheScriptHoldsThem) {
  const char* script =
      "function pick() { return Document('BASE/list.html').getElementsByClassName('item')[1]; }"
      "var kept = pick(); var again = pick();"
      "var junk; for (var i = 0; i < 20000; ++i) { junk = { n: [i, String(i)], o: {} }; }"
      "for (var j = 0; j < 5; ++j) Document('BASE/list.html').all.length;"
      "var parent = kept.parentNode;"
      "channel.kept = kept.getElementsByTagName('a')[0].innerText + '|' + parent.nodeName + '|' +"
      "  parent.getElementsByClassName('item').length + '|' + (kept.parentNode === parent) + '|' + (kept === again);";
  IChannel* channel = AddScriptChannel(u"Held", WriteTemplate("held.xml", orvtest::MakeTemplate(script)));
  RunChannel(channel, 20000, 16 * 1024 * 1024);
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  EXPECT_EQ(Property(channel, u"kept"), u"Second story|body|2|true|false");
}

}  // namespace
