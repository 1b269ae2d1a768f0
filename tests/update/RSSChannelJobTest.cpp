#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "database/GlobalOptions.h"
#include "tests/support/HeadersFixture.h"
#include "tests/support/Wait.h"
#include "tests/update/FeedTestSupport.h"
#include "update/jobs/BinaryJob.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdateFailures.h"
#include "update/tidy/TidyDocument.h"
#include "update/http/TidyDownload.h"

namespace {

using orvtest::LiveArticles;
using orvtest::StoredArticle;
using orvtest::UtcTicks;

class FeedJobTest : public orvtest::FeedTest {
 protected:
  bool RunJob(IChannel* channel, int pluginRss = 0) {
    CRSSChannelJob job(channel, pluginRss);
    job.SetSession(session_.get());
    job.Run();
    EXPECT_EQ(job.GetItem(), nullptr);
    return job.Succeeded();
  }

  // Downloads every binary of the channel that waits, as the queue would.
  void DownloadBinaries(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    CStringSet urls;
    channel->GetBinarySet()->CopyEntries(urls);
    for (const auto& url : urls) {
      IBinary* binary = channel->GetBinarySet()->Lookup(url);
      if (binary == nullptr || binary->GetUpdateStatus() != US_WAITING) continue;
      CBinaryJob job(binary);
      job.SetSession(session_.get());
      job.Run();
    }
    channel->Release(this, true);
  }

  std::string BinaryFile(IChannel* channel, const std::string& path, std::u16string* name = nullptr) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    std::string bytes = "<no binary>";
    if (IBinary* binary = channel->GetBinarySet()->Lookup(Url(path)); binary != nullptr) {
      std::u16string file;
      binary->GetFileName(file, true);
      if (name) binary->GetFileName(*name, false);
      bytes = FileExists(file) ? orvtest::ReadHostFile(orvtest::HostPath(device_, file)) : "<no file>";
    }
    channel->Release(this, false);
    return bytes;
  }
};

TEST_F(FeedJobTest, Rss2ItemsBecomeArticlesWithTheirPropertiesAndBinaries) {
  ServeFeed("/feed", "harbour-rss2.xml");
  server_.Serve("/img/tide.png", "PNGDATA", "image/png");
  server_.Serve("/audio/tide.mp3", "ID3..", "audio/mpeg");
  server_.Serve("/img/thumb.jpg", "JPEGDATA", "image/jpeg");
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  ASSERT_NE(channel, nullptr);
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  DownloadBinaries(channel);

  channel = Reload(u"Harbour");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(Property(channel, u"title"), u"Harbour Gazette");
  EXPECT_EQ(Property(channel, u"description"), u"News from the quay & the lighthouse");
  EXPECT_EQ(Property(channel, u"language"), u"en-gb");
  EXPECT_EQ(Property(channel, u"thumbnail"), Url("/favicon.ico"));
  // Elements after the first item are not the channel's.
  EXPECT_EQ(Property(channel, u"copyright"), u"<none>");
  EXPECT_EQ(Property(channel, u"@url"), Url("/feed"));

  // Four items; the one repeating the first guid is not a new article.
  EXPECT_EQ(LiveArticles(channel), 4);

  StoredArticle first = Article(channel, u"harbour-1");
  ASSERT_TRUE(first.found);
  EXPECT_EQ(first.title, u"Tide & Time");
  EXPECT_EQ(first.date, UtcTicks(2026, 3, 3, 8, 15));
  EXPECT_EQ(first.state, US_UP_TO_DATE);
  EXPECT_EQ(first.properties[u"url"], Url("/posts/1"));
  EXPECT_NE(first.properties[u"body"].find(u"High water at <b>09:40</b>"), std::u16string::npos);
  EXPECT_EQ(first.properties[u"enclosure"], Url("/audio/tide.mp3"));
  for (const char16_t* gone : {u"header", u"title", u"link", u"guid", u"pubDate", u"description"}) {
    EXPECT_EQ(first.properties.count(gone), 0u) << plat::Utf16ToUtf8(gone);
  }
  EXPECT_EQ(first.binaries, (CStringSet{Url("/img/tide.png"), Url("/audio/tide.mp3")}));

  // No title: the body's first 32 characters; a non-address guid is no "url".
  StoredArticle second = Article(channel, u"harbour-2");
  ASSERT_TRUE(second.found);
  EXPECT_EQ(second.title, u"The ferry timetable changes from...");
  EXPECT_EQ(second.date, UtcTicks(2026, 3, 4, 9, 0));
  EXPECT_EQ(second.properties.count(u"url"), 0u);

  StoredArticle fourth = Article(channel, u"harbour-4");
  ASSERT_TRUE(fourth.found);
  EXPECT_EQ(fourth.date, 0u);
  EXPECT_EQ(fourth.properties.count(u"url"), 0u);  // the scheme in upper case is no web address
  EXPECT_EQ(fourth.properties[u"body"], u"Entities: caf\u00e9 <b>bold</b>");

  StoredArticle fifth = Article(channel, u"https://example.org/guid-link");
  ASSERT_TRUE(fifth.found);
  EXPECT_EQ(fifth.properties[u"url"], u"https://example.org/guid-link");
  EXPECT_EQ(fifth.properties[u"body"], u"first part<br/>second part");
  EXPECT_EQ(fifth.image, Url("/img/thumb.jpg"));

  // The binaries reached the channel's bin folder with the type's extension.
  std::u16string name;
  EXPECT_EQ(BinaryFile(channel, "/img/tide.png", &name), "PNGDATA");
  EXPECT_EQ(name, GetMd5Hex(Url("/img/tide.png")) + u".png");
  EXPECT_EQ(BinaryFile(channel, "/audio/tide.mp3", &name), "ID3..");
  EXPECT_EQ(name.substr(name.size() - 4), u".mp3");
  EXPECT_EQ(BinaryFile(channel, "/img/thumb.jpg"), "JPEGDATA");
}

TEST_F(FeedJobTest, SecondUpdateAddsOnlyNewItemsAndDeletedArticlesStayDeleted) {
  ServeFeed("/feed", "harbour-rss2.xml");
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  ASSERT_TRUE(RunJob(channel));
  ASSERT_EQ(LiveArticles(channel), 4);
  {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    for (const char16_t* id : {u"harbour-2", u"harbour-4"}) {
      IArticle* article = channel->GetArticleSet()->FindById(GetMd5Hex(id));
      ASSERT_NE(article, nullptr);
      article->Delete();
    }
    channel->Release(this, true);
  }
  ServeFeed("/feed", "harbour-rss2-next.xml");
  channel = Reload(u"Harbour");
  ASSERT_TRUE(RunJob(channel));
  channel = Reload(u"Harbour");

  EXPECT_EQ(LiveArticles(channel), 3);
  StoredArticle added = Article(channel, u"harbour-6");
  ASSERT_TRUE(added.found);
  EXPECT_EQ(added.title, u"Storm warning");
  // Known ids are never read again: the stored first article is unchanged.
  StoredArticle first = Article(channel, u"harbour-1");
  EXPECT_EQ(first.title, u"Tide & Time");
  EXPECT_NE(first.properties[u"body"].find(u"High water"), std::u16string::npos);
  // Still listed by the feed: the tombstone stays and the item is not brought back.
  StoredArticle deleted = Article(channel, u"harbour-4");
  ASSERT_TRUE(deleted.found);
  EXPECT_TRUE(deleted.deleted);
  // No longer listed: the tombstone is forgotten.
  EXPECT_FALSE(Article(channel, u"harbour-2").found);

  // A third run of the same feed adds nothing.
  ASSERT_TRUE(RunJob(channel));
  EXPECT_EQ(LiveArticles(channel), 3);
}

TEST_F(FeedJobTest, RdfFeedUsesItsTitlesDatesAndLinkBase) {
  ServeFeed("/rdf", "lighthouse-rdf.xml");
  IChannel* channel = AddFeed(u"Lighthouse", "/rdf");
  ASSERT_TRUE(RunJob(channel));
  channel = Reload(u"Lighthouse");
  EXPECT_EQ(Status(channel), US_UP_TO_DATE);
  EXPECT_EQ(Property(channel, u"title"), u"Lighthouse Log");
  EXPECT_EQ(Property(channel, u"description"), u"Keeper's notes");
  EXPECT_EQ(LiveArticles(channel), 2);  // the item without a title is skipped

  // RSS 1.0 items without an id are known by their title.
  StoredArticle lamp = Article(channel, u"Lamp serviced");
  ASSERT_TRUE(lamp.found);
  EXPECT_EQ(lamp.date, UtcTicks(2026, 3, 2, 21, 30));
  EXPECT_EQ(lamp.properties[u"url"], Url("/log/1"));
  // The body's relative image is resolved against the item's link.
  EXPECT_EQ(lamp.binaries, CStringSet{Url("/img/lamp.gif")});
  EXPECT_NE(lamp.properties[u"body"].find(plat::Utf8ToUtf16(server_.Url("/img/lamp.gif"))), std::u16string::npos);
  EXPECT_EQ(lamp.properties.count(u"dc:date"), 0u);

  StoredArticle fog = Article(channel, u"Fog horn test");
  ASSERT_TRUE(fog.found);
  EXPECT_EQ(fog.date, 0u);  // an unreadable date is no date
  EXPECT_EQ(fog.properties[u"body"], u"Three long blasts.");
}

TEST_F(FeedJobTest, AtomEntriesTakeLinksFromHrefAndPreferThePageLink) {
  ServeFeed("/atom", "quay-atom.xml", "application/atom+xml");
  IChannel* channel = AddFeed(u"Quay", "/atom");
  ASSERT_TRUE(RunJob(channel));
  channel = Reload(u"Quay");
  EXPECT_EQ(Property(channel, u"title"), u"Quay Works");
  EXPECT_EQ(Property(channel, u"subtitle"), u"Construction diary");
  EXPECT_EQ(LiveArticles(channel), 2);

  StoredArticle piles = Article(channel, u"urn:uuid:entry-1");
  ASSERT_TRUE(piles.found);
  EXPECT_EQ(piles.title, u"Piles & beams");
  // The relative page link was made absolute against the feed address.
  EXPECT_EQ(piles.properties[u"url"], Url("/quay/entry-1"));
  EXPECT_EQ(piles.date, UtcTicks(2026, 3, 5, 11, 0));
  EXPECT_EQ(piles.properties[u"enclosure"], Url("/quay/plan.pdf"));
  EXPECT_EQ(piles.binaries, (CStringSet{Url("/img/piles.png"), Url("/quay/plan.pdf")}));

  StoredArticle second = Article(channel, u"urn:uuid:entry-2");
  ASSERT_TRUE(second.found);
  EXPECT_EQ(second.date, UtcTicks(2026, 3, 4, 7, 0));  // "issued" wins over "modified"
  EXPECT_EQ(second.properties[u"body"], u"Concrete poured.");
  EXPECT_EQ(second.properties.count(u"modified"), 0u);
}

TEST_F(FeedJobTest, DeclaredLatin1FeedIsDecoded) {
  ServeFeed("/cafe", "cafe-latin1.xml", "text/xml");
  IChannel* channel = AddFeed(u"Cafe", "/cafe");
  ASSERT_TRUE(RunJob(channel));
  channel = Reload(u"Cafe");
  EXPECT_EQ(Property(channel, u"title"), u"Caf\u00e9 du Port");
  StoredArticle crepe = Article(channel, u"crepe");
  ASSERT_TRUE(crepe.found);
  EXPECT_EQ(crepe.title, u"Cr\u00eape du jour");
  EXPECT_EQ(crepe.properties[u"body"], u"Sucre et beurre sal\u00e9.");
}

TEST_F(FeedJobTest, FailedFeedFailsTheChannelAndKeepsItsArticles) {
  ServeFeed("/feed", "harbour-rss2.xml");
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  RecordUpdateFailure(u"Harbour", u"an earlier failure");
  ASSERT_TRUE(RunJob(channel));
  ASSERT_EQ(LiveArticles(channel), 4);
  EXPECT_TRUE(TakeUpdateFailure(u"Harbour").empty()) << "a successful update forgets the last failure";

  struct Case {
    const char* name;
    orvtest::HttpResponse response;
    std::u16string reason;  // what the user is told
  };
  orvtest::HttpResponse html;
  html.body = "<html><head><title>Down</title></head><body><p>Service unavailable</p></body></html>";
  html.headers = {{"Content-Type", "text/html"}};
  orvtest::HttpResponse garbage;
  static const char kGarbage[] = "\x01\x02\xff\xfe garbage \x00\x7f";
  garbage.body = std::string(kGarbage, sizeof kGarbage - 1);
  orvtest::HttpResponse notFound;
  notFound.status = 404;
  orvtest::HttpResponse serverError;
  serverError.status = 500;
  orvtest::HttpResponse cut;
  cut.body = orvtest::ReplaceAll(orvtest::FeedFixture("harbour-rss2-next.xml"), "{{BASE}}", Base());
  cut.closeAfter = 40;
  orvtest::HttpResponse empty;
  const std::u16string noFeed = u"This address does not lead to an RSS or Atom feed.";
  const Case cases[] = {{"html page", html, noFeed},
                        {"garbage", garbage, noFeed},
                        {"404", notFound, u"Bad status code: 404"},
                        {"500", serverError, u"Bad status code: 500"},
                        {"cut", cut, u"Reading from stream failed or canceled"},
                        {"empty", empty, u"The feed could not be downloaded."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Route("/feed", [response = c.response](const orvtest::HttpRequest&) { return response; });
    EXPECT_FALSE(RunJob(channel));
    EXPECT_EQ(Status(channel), US_FAILED);
    EXPECT_EQ(plat::Utf16ToUtf8(TakeUpdateFailure(u"harbour")), plat::Utf16ToUtf8(c.reason))
        << "the reason is kept under the channel's name, in any case";
    EXPECT_TRUE(TakeUpdateFailure(u"Harbour").empty()) << "taken once";
    channel = Reload(u"Harbour");
    EXPECT_EQ(LiveArticles(channel), 4);
    EXPECT_EQ(Article(channel, u"harbour-1").title, u"Tide & Time");
    EXPECT_FALSE(Article(channel, u"harbour-6").found);
  }
}

TEST_F(FeedJobTest, AddressesThatCannotBeReadFailTheChannel) {
  struct Case {
    const char* name;
    std::u16string address;
    std::u16string type;
  };
  const Case cases[] = {
      {"empty address", u"", kChannelTypeRss},
      {"missing local file", u"\\nowhere\\feed.xml", kChannelTypeRss},
      {"no such host port", u"http://127.0.0.1:1/feed", kChannelTypeRss},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string name = u"Channel " + plat::Utf8ToUtf16(std::to_string(n++));
    IChannel* channel = AddChannel(name, c.address, c.type);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(RunJob(channel));
    EXPECT_EQ(Status(channel), US_FAILED);
    EXPECT_FALSE(TakeUpdateFailure(name).empty()) << "a failure is given a reason";
  }
}

TEST_F(FeedJobTest, LocalFilesAreReadAsFeedsExceptForScriptChannels) {
  const std::string feed = orvtest::ReplaceAll(orvtest::FeedFixture("lighthouse-rdf.xml"), "{{BASE}}", Base());
  orvtest::WriteHostFile(device_.FsRoot() + "/lighthouse feed.xml", feed);
  const std::string rss = orvtest::ReplaceAll(orvtest::FeedFixture("harbour-rss2.xml"), "{{BASE}}", Base());
  orvtest::WriteHostFile(device_.FsRoot() + "/harbour.xml", rss);
  struct Case {
    std::u16string address;
    std::u16string type;
    bool succeeds;
  };
  const Case cases[] = {
      {u"\\lighthouse feed.xml", kChannelTypeRss, true},
      {u"file:///lighthouse%20feed.xml", kChannelTypeRss, true},
      {u"file://\\lighthouse feed.xml", kChannelTypeRss, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.address));
    const std::u16string name = u"Local " + plat::Utf8ToUtf16(std::to_string(n++));
    IChannel* channel = AddChannel(name, c.address, c.type);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(RunJob(channel), c.succeeds);
    EXPECT_EQ(LiveArticles(channel), c.succeeds ? 2 : 0);
  }
  // A local RSS file has no site whose icon could be the channel's image.
  IChannel* local = AddChannel(u"Local RSS", u"\\harbour.xml");
  EXPECT_TRUE(RunJob(local));
  EXPECT_EQ(LiveArticles(local), 4);
  EXPECT_EQ(Property(local, u"title"), u"Harbour Gazette");
  EXPECT_EQ(Property(local, u"thumbnail"), u"<none>");
  // A script channel takes its address from "url" and never reads a local file.
  IChannel* script = AddChannel(u"Script", u"", kChannelTypeScript);
  {
    CSyncLock lock(GetChannelSet());
    script->SetProperty(u"url", u"\\lighthouse feed.xml");
  }
  EXPECT_FALSE(RunJob(script));
  EXPECT_EQ(Status(script), US_FAILED);
  EXPECT_EQ(LiveArticles(script), 0);
}

TEST_F(FeedJobTest, ScriptChannelWithFeedTemplateGetsWaitingArticlesAndTheDeclarationIsUsedOnce) {
  ServeFeed("/rdf", "lighthouse-rdf.xml");
  IChannel* channel = AddChannel(u"Plugin", u"", kChannelTypeScript);
  {
    CSyncLock lock(GetChannelSet());
    channel->SetProperty(u"url", Url("/rdf"));
    channel->SetProperty(u"channel#type", u"RSS");
  }
  ASSERT_TRUE(RunJob(channel, 1));
  channel = Reload(u"Plugin");
  EXPECT_EQ(Property(channel, u"channel#type"), u"");
  StoredArticle lamp = Article(channel, u"Lamp serviced");
  ASSERT_TRUE(lamp.found);
  EXPECT_EQ(lamp.state, US_WAITING);
}

TEST_F(FeedJobTest, RatingPingOnlyWhenAllowedAndAServerIsSet) {
  ServeFeed("/feed", "lighthouse-rdf.xml");
  server_.Serve("/rate/pingrss.php", "ok", "text/plain");
  IChannel* channel = AddFeed(u"Rated", "/feed");
  struct Case {
    const char* name;
    std::string server;
    int allowed;
    std::size_t pings;
  };
  const Case cases[] = {{"no server", "", 1, 0}, {"not allowed", "/rate/", 0, 0}, {"allowed", "/rate/", 1, 1}};
  std::size_t total = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tidy::SetRatingServerAddress(c.server.empty() ? u"" : Url(c.server));
    GetGlobalOptions().SetRSSReportingAllowed(c.allowed);
    EXPECT_TRUE(RunJob(channel));
    total += c.pings;
    EXPECT_EQ(server_.RequestCount("/rate/pingrss.php"), total);
  }
  bool seen = false;
  for (const auto& request : server_.Requests()) {
    if (request.target.rfind("/rate/pingrss.php?url=", 0) != 0) continue;
    seen = true;
    EXPECT_EQ(request.target, "/rate/pingrss.php?url=" + plat::Utf16ToUtf8(Tidy::PercentEncodeUtf8(Url("/feed"))));
  }
  EXPECT_TRUE(seen);
}

TEST_F(FeedJobTest, StoppedJobChangesNothingAfterwards) {
  orvtest::HttpResponse slow;
  slow.body = orvtest::ReplaceAll(orvtest::FeedFixture("harbour-rss2.xml"), "{{BASE}}", Base());
  slow.headers = {{"Content-Type", "text/xml"}};
  slow.stallBeforeBodyMs = 3000;
  std::atomic<int> asked{0};
  server_.Route("/feed", [&](const orvtest::HttpRequest&) {
    ++asked;
    return slow;
  });
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  // The manager's two moves, and the cancel alone with Stop still to come.
  for (bool callStop : {true, false}) {
    SCOPED_TRACE(callStop ? "cancel and stop" : "cancel only");
    // Each round on a connection manager of its own: a connection of the
    // cancelled round is never the one the next round waits behind.
    ASSERT_TRUE(FreshSession());
    asked = 0;
    CRSSChannelJob job(channel, 0);
    job.SetSession(session_.get());
    std::thread runner([&] { job.Run(); });
    orvtest::Eventually([&] { return asked.load() != 0; });
    ASSERT_EQ(asked.load(), 1);
    EXPECT_EQ(Status(channel), US_UPDATING);
    const auto start = std::chrono::steady_clock::now();
    session_->Cancel();
    if (callStop) job.Stop();
    runner.join();
    if (!callStop) job.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(job.GetItem(), nullptr);
    EXPECT_FALSE(job.Succeeded());
    EXPECT_EQ(Status(channel), US_WAITING);
    channel = Reload(u"Harbour");
    EXPECT_EQ(LiveArticles(channel), 0);
    EXPECT_EQ(Property(channel, u"title"), u"<none>");
  }
}

TEST_F(FeedJobTest, RemovingTheChannelStopsItsJob) {
  ServeFeed("/feed", "harbour-rss2.xml");
  IChannel* channel = AddFeed(u"Harbour", "/feed");
  CRSSChannelJob job(channel, 0);
  job.SetSession(session_.get());
  EXPECT_EQ(job.GetItem(), static_cast<IUpdateItem*>(channel));
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->Remove(u"Harbour");
  }
  EXPECT_EQ(job.GetItem(), nullptr);
  job.Run();  // nothing to update, nothing touched
  EXPECT_FALSE(job.Succeeded());
  EXPECT_EQ(server_.RequestCount("/feed"), 0u);
}

class FeedTitleTest : public orvtest::DeviceTest {};

TEST_F(FeedTitleTest, TitleOfEachFeedFormat) {
  struct Case {
    const char* markup;
    bool found;
    std::u16string title;
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\"?><rss><channel><title>Plain &amp; simple</title></channel></rss>", true,
       u"Plain & simple"},
      {"<?xml version=\"1.0\"?><rdf:RDF><channel><title>RDF title</title></channel></rdf:RDF>", true, u"RDF title"},
      {"<?xml version=\"1.0\"?><feed><title>Atom title</title></feed>", true, u"Atom title"},
      {"<?xml version=\"1.0\"?><rss><title>No channel</title></rss>", false, u""},
      {"<?xml version=\"1.0\"?><opml><head><title>Not a feed</title></head></opml>", false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markup);
    Tidy::Document document;
    ASSERT_EQ(document.Init(), 0);
    ASSERT_EQ(Tidy::ParseBuffer(c.markup, std::strlen(c.markup), &document, u"", u""), 1);
    std::u16string title;
    EXPECT_EQ(CRSSChannelJob::GetFeedTitle(&document, title), c.found);
    if (c.found) {
      EXPECT_EQ(title, c.title);
    }
  }
}

}  // namespace
