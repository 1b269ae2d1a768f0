// What a feed update keeps of the server's answer to ask only for changes
// next time (the body's digest, its ETag and Last-Modified), when the body
// may have been cut and when another address answered.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Md5.h"
#include "tests/update/FeedTestSupport.h"
#include "update/feed/RSSChannelJob.h"

namespace {

using orvtest::HttpRequest;
using orvtest::HttpResponse;
using orvtest::LiveArticles;

constexpr const char* kLastModified = "Wed, 09 Dec 2026 10:00:00 GMT";

// An RSS feed of items prefix-[first, first + count).
std::string MakeFeed(const std::string& prefix, int first, int count) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Asked</title>\n";
  for (int i = first; i < first + count; ++i) {
    const std::string n = prefix + std::to_string(i);
    xml += "<item><title>Item " + n + "</title><guid>" + n + "</guid><description>Body of item " + n +
           "</description></item>\n";
  }
  return xml + "</channel></rss>\n";
}

// A server's feed: with its ETag and Last-Modified, a 304 to a request that
// names either.
HttpResponse Answer(const HttpRequest& request, const std::string& body, const std::string& etag) {
  HttpResponse r;
  r.headers = {{"ETag", etag}, {"Last-Modified", kLastModified}};
  if (request.Header("If-None-Match") == etag || request.Header("If-Modified-Since") == kLastModified) {
    r.status = 304;
    r.sendContentLength = false;
    return r;
  }
  r.headers.push_back({"Content-Type", "text/xml; charset=utf-8"});
  r.body = body;
  return r;
}

HttpResponse Redirect(const std::string& to) {
  HttpResponse r;
  r.status = 302;
  r.headers = {{"Location", to}};
  return r;
}

class FeedValidatorsTest : public orvtest::FeedTest {
 protected:
  bool RunJob(IChannel* channel) {
    CRSSChannelJob job(channel, 0);
    job.SetSession(session_.get());
    job.Run();
    return job.Succeeded();
  }
  bool Has(IChannel* channel, const std::string& id) { return Article(channel, U(id)).found; }
  const std::vector<orvtest::HttpRequest> Requests() const { return server_.Requests(); }
};

// The connection of an update drops after 4 of the feed's 10 items and
// nothing told its length: the 4 are stored, but the update keeps nothing
// that stands for the whole feed, so the next update reads it all.
TEST_F(FeedValidatorsTest, BodyCutShortLeavesNothingThatStandsForTheFeed) {
  const std::string feed = MakeFeed("cut-", 0, 10);
  bool cut = true;
  server_.Route("/feed", [&](const HttpRequest& request) {
    HttpResponse r = Answer(request, feed, "\"ten\"");
    if (cut && r.status == 200) {
      r.sendContentLength = false;
      r.closeAfter = feed.find("<item><title>Item cut-4") + 40;
    }
    return r;
  });
  IChannel* channel = AddFeed(u"Cut", "/feed");
  EXPECT_TRUE(RunJob(channel));
  channel = Reload(u"Cut");
  EXPECT_EQ(LiveArticles(channel), 4);
  EXPECT_TRUE(Has(channel, "cut-3"));
  EXPECT_FALSE(Has(channel, "cut-4"));
  EXPECT_EQ(Property(channel, kPropFeedETag), u"<none>");
  EXPECT_EQ(Property(channel, kPropFeedDigest), u"<none>");

  cut = false;
  EXPECT_TRUE(RunJob(channel));
  EXPECT_EQ(Requests().back().Header("If-None-Match"), "");
  EXPECT_EQ(Requests().back().Header("If-Modified-Since"), "");
  channel = Reload(u"Cut");
  EXPECT_EQ(LiveArticles(channel), 10);
  // A whole body with its length keeps them.
  EXPECT_EQ(Property(channel, kPropFeedETag), u"\"ten\"");
  EXPECT_TRUE(RunJob(channel));
  EXPECT_EQ(Requests().back().Header("If-None-Match"), "\"ten\"");
}

// Validators stand for the address that was asked and answered. A feed
// redirected elsewhere, or one whose address starts to redirect, must never
// be taken as unchanged on the word of another address: each case's second
// update finds the items the answering address has now.
TEST_F(FeedValidatorsTest, ValidatorsOfARedirectedFeedNeverGiveAWrongNotModified) {
  struct Case {
    const char* name;
    // The routes of the first update and of the second; "/a" is the feed's address.
    std::function<void(const std::string& tag)> first, second;
    const char* newItem;  // an item only the second answer has
  };
  // Every other address answers 304 to any validators, as one whose feed
  // is older than the date sent does.
  auto serve = [this](const std::string& path, const std::string& body, const std::string& etag) {
    server_.Route(path, [body, etag](const HttpRequest& request) { return Answer(request, body, etag); });
  };
  auto elsewhere = [this](const std::string& path, const std::string& body) {
    server_.Route(path, [body](const HttpRequest& request) {
      HttpResponse r = Answer(request, body, "\"other\"");
      if (!request.Header("If-None-Match").empty() || !request.Header("If-Modified-Since").empty()) {
        r = HttpResponse{};
        r.status = 304;
        r.sendContentLength = false;
      }
      return r;
    });
  };
  auto redirect = [this](const std::string& from, const std::string& to) {
    server_.Route(from, [to](const HttpRequest&) { return Redirect(to); });
  };
  const Case cases[] = {
      {"redirected, then redirected elsewhere",
       [&](const std::string& t) {
         redirect("/a" + t, "/b" + t);
         serve("/b" + t, MakeFeed("b-", 0, 3), "\"b1\"");
       },
       [&](const std::string& t) {
         redirect("/a" + t, "/c" + t);
         elsewhere("/c" + t, MakeFeed("c-", 0, 2));
       },
       "c-1"},
      {"answered itself, then redirected elsewhere",
       [&](const std::string& t) { serve("/a" + t, MakeFeed("a-", 0, 3), "\"a1\""); },
       [&](const std::string& t) {
         redirect("/a" + t, "/c" + t);
         elsewhere("/c" + t, MakeFeed("c-", 0, 2));
       },
       "c-1"},
      {"redirected, then its target changed",
       [&](const std::string& t) {
         redirect("/a" + t, "/b" + t);
         serve("/b" + t, MakeFeed("b-", 0, 3), "\"b1\"");
       },
       [&](const std::string& t) { serve("/b" + t, MakeFeed("b-", 0, 5), "\"b2\""); },
       "b-4"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tag = std::to_string(n);
    const std::u16string name = U("Moved " + tag);
    ++n;
    c.first(tag);
    IChannel* channel = AddChannel(name, Url("/a" + tag));
    ASSERT_TRUE(RunJob(channel));
    EXPECT_EQ(LiveArticles(channel), 3);

    c.second(tag);
    channel = Reload(name);
    ASSERT_TRUE(RunJob(channel));
    channel = Reload(name);
    EXPECT_TRUE(Has(channel, c.newItem)) << "taken as unchanged";
    // The last answer came through a redirect: nothing of it is asked with.
    const std::size_t before = Requests().size();
    ASSERT_TRUE(RunJob(channel));
    const std::vector<orvtest::HttpRequest> requests = Requests();
    ASSERT_GT(requests.size(), before);
    for (std::size_t i = before; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].Header("If-None-Match"), "") << requests[i].target;
      EXPECT_EQ(requests[i].Header("If-Modified-Since"), "") << requests[i].target;
    }
  }
}

}  // namespace
