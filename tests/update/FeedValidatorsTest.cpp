// What a feed update keeps of the server's answer to ask only for changes
// next time (the body's digest, its ETag and Last-Modified), when the body
// may have been cut and when another address answered.
#include <gtest/gtest.h>

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

}  // namespace
