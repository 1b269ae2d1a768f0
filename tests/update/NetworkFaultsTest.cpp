// Network faults met through the update manager, one table: for each kind of
// request an update makes (a feed, a picture, a channel template, a page a
// template's script opens), the connection closed unanswered, in the
// headers and in the body, a server error, a redirect loop, the data
// connection going away while the answer arrives, and a 304 after a body
// that was cut. Every run ends, every channel shows up to date or failed,
// nothing stored is lost, and the next run completes.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "platform/inet/ConnMgr.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/support/Wait.h"
#include "tests/update/ChannelTestSupport.h"
#include "tests/update/InetTestSupport.h"
#include "update/jobs/UpdateManager.h"
#include "update/jobs/UpdateQueue.h"
#include "update/jobs/UpdatersManager.h"
#include "update/script/JSPlugin.h"

namespace {

using orvtest::Eventually;

enum class Kind { kFeed, kPicture, kTemplate, kDocument };
enum class Fault {
  kNone,
  kCloseAtStart,    // the connection closes before any answer
  kCloseInHeaders,  // ... part-way through the status line and headers
  kCloseInBody,     // ... half-way through the body
  kServerError,     // 500
  kRedirectLoop,    // the address redirects to itself
  kConnectionLost,  // the data connection goes while the answer arrives
  kNotModified,     // 304, to the validators of the body that was cut if sent
};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFeed: return "feed";
    case Kind::kPicture: return "picture";
    case Kind::kTemplate: return "template";
    case Kind::kDocument: return "script document";
  }
  return "?";
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone: return "none";
    case Fault::kCloseAtStart: return "closed at the start";
    case Fault::kCloseInHeaders: return "closed in the headers";
    case Fault::kCloseInBody: return "closed in the body";
    case Fault::kServerError: return "server error";
    case Fault::kRedirectLoop: return "redirect loop";
    case Fault::kConnectionLost: return "connection lost";
    case Fault::kNotModified: return "304 after a cut body";
  }
  return "?";
}

// The feed: three items before the faulty runs, four from then on (so a
// later run shows whether it took the whole new feed); the new item has the
// picture.
std::string Feed(int version, const std::string& pictureUrl) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>faults</title>"
                    "<link>http://example.org/</link><description>d</description>\n";
  const int items = version == 1 ? 3 : 4;
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    std::string body = "Body " + n + " " + std::string(300, 'x');
    if (i == 3 && !pictureUrl.empty()) body = "&lt;img src=\"" + pictureUrl + "\"/&gt; " + body;
    xml += "<item><title>item " + n + "</title><guid>item-" + n + "</guid><description>" + body +
           "</description></item>\n";
  }
  return xml + "</channel></rss>\n";
}

std::string Template(const std::string& pageUrl) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<template>\n<parse_channel><![CDATA[\n"
         "var d = Document('" + pageUrl + "');\n"
         "var items = d.getElementsByTagName('li');\n"
         "for (var i = 0; i < items.length; ++i) {\n"
         "  var a = new Article(); a.id = items[i].innerText; a.header = items[i].innerText;\n"
         "  channel.articles.push(a);\n"
         "}\n]]></parse_channel>\n<channel><name>News</name></channel>\n</template>\n";
}

constexpr char kPage[] = "<html><body><ul><li>one</li><li>two</li></ul></body></html>";

class NetworkFaultsTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(OpenContentForUpdates());
    GetGlobalOptions().SetRSSReportingAllowed(0);
    GetGlobalOptions().SetStartUpdateForAddedChannels(0);
    CUpdatersManager::GetInstance().AddUpdater(CJSPlugin::GetInstance());
    updates_ = std::make_unique<CUpdateManager>(GetChannelSet(), manager_.get());
  }
  void TearDown() override {
    updates_.reset();
    CUpdatersManager::GetInstance().RemoveUpdater(CJSPlugin::GetInstance());
    GetChannelSet()->RemoveAll();
    InetTest::TearDown();
  }

  std::uint32_t Status(IUpdateItem* item) {
    CSyncLock lock(GetChannelSet());
    return item->GetUpdateStatus();
  }
  // The picture's status, and whether its file is there; 0xFFFFFFFF when the
  // channel has no such binary.
  std::uint32_t Picture(IChannel* channel, const std::u16string& url, bool& file) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    std::uint32_t status = 0xFFFFFFFFu;
    file = false;
    if (IBinary* binary = channel->GetBinarySet()->Lookup(url)) {
      status = binary->GetUpdateStatus();
      std::u16string name;
      binary->GetFileName(name, true);
      file = FileExists(name);
    }
    channel->Release(this, false);
    return status;
  }

  std::unique_ptr<CUpdateManager> updates_;
};

TEST_F(NetworkFaultsTest, EveryRunEndsAndNothingStoredIsLost) {
  const Kind kinds[] = {Kind::kFeed, Kind::kPicture, Kind::kTemplate, Kind::kDocument};
  // Each case: the faults of the runs between a good first run and a good last one.
  const std::vector<std::vector<Fault>> faults = {
      {Fault::kCloseAtStart},  {Fault::kCloseInHeaders}, {Fault::kCloseInBody},
      {Fault::kServerError},   {Fault::kRedirectLoop},   {Fault::kConnectionLost},
      {Fault::kCloseInBody, Fault::kNotModified},
  };
  int number = 0;
  for (Kind kind : kinds) {
    for (const std::vector<Fault>& runs : faults) {
      const Fault last = runs.back();
      SCOPED_TRACE(std::string(KindName(kind)) + ", " + FaultName(last));
      orvtest::HttpTestServer server;
      std::atomic<Fault> fault{Fault::kNone};
      std::atomic<int> version{1};
      const std::string pictureUrl = server.Url("/pic.png");
      const std::string target = kind == Kind::kFeed       ? "/feed"
                                 : kind == Kind::kPicture  ? "/pic.png"
                                 : kind == Kind::kTemplate ? "/tpl.xml"
                                                           : "/page";
      auto ok = [](const std::string& body, const std::string& type) {
        orvtest::HttpResponse r;
        r.headers.push_back({"Content-Type", type});
        r.body = body;
        return r;
      };
      // The answer for a path: the good one, or the fault of this run when
      // the path is the case's.
      auto answer = [&](const std::string& path, const orvtest::HttpRequest& request, orvtest::HttpResponse r) {
        if (path != target) return r;
        switch (fault.load()) {
          case Fault::kNone:
            break;
          case Fault::kCloseAtStart:
            r.closeInHeadAfter = 0;
            break;
          case Fault::kCloseInHeaders:
            r.closeInHeadAfter = 12;
            break;
          case Fault::kCloseInBody:
            r.closeAfter = r.body.size() / 2;
            break;
          case Fault::kServerError:
            r.status = 500;
            r.body = "broken";
            break;
          case Fault::kRedirectLoop:
            r.status = 302;
            r.headers.push_back({"Location", server.Url(path)});
            r.body.clear();
            break;
          case Fault::kConnectionLost:
            plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_DISCONNECTED);
            r.trickleDelayMs = 20;
            r.trickleBytes = 16;
            break;
          case Fault::kNotModified:
            // To the validators of the whole body stored before, the new
            // feed; to anything else (the cut body's), "not modified".
            if (path != "/feed" || request.Header("If-None-Match") != "\"v1\"") {
              r.status = 304;
              r.body.clear();
            }
            break;
        }
        return r;
      };
      server.Route("/feed", [&](const orvtest::HttpRequest& request) {
        orvtest::HttpResponse r = ok(Feed(version, kind == Kind::kPicture ? pictureUrl : ""), "text/xml");
        r.headers.push_back({"ETag", version == 1 ? "\"v1\"" : "\"v2\""});
        return answer("/feed", request, r);
      });
      server.Route("/pic.png", [&](const orvtest::HttpRequest& request) {
        return answer("/pic.png", request, ok(std::string(3000, 'P'), "image/png"));
      });
      server.Route("/tpl.xml", [&](const orvtest::HttpRequest& request) {
        return answer("/tpl.xml", request, ok(Template(server.Url("/page")), "text/xml"));
      });
      server.Route("/page", [&](const orvtest::HttpRequest& request) {
        return answer("/page", request, ok(kPage, "text/html"));
      });

      // Channel files stay in the content folder between cases: a name each.
      const std::u16string name = plat::Utf8ToUtf16("Faults " + std::to_string(++number));
      const bool script = kind == Kind::kTemplate || kind == Kind::kDocument;
      IChannel* channel =
          script ? orvtest::AddUnlimitedChannel(name, plat::Utf8ToUtf16(server.Url("/tpl.xml?name=News")),
                                                kChannelTypeScript)
                 : orvtest::AddUnlimitedChannel(name, plat::Utf8ToUtf16(server.Url("/feed")), kChannelTypeRss);
      ASSERT_NE(channel, nullptr);

      auto run = [&](Fault f) {
        fault = f;
        // A connection of the provider's own for each run (the last may have gone).
        provider_->SetScript(plat::ScriptedConnectionProvider::Script{});
        updates_->UpdateChannel(channel);
        return Eventually([&] { return !updates_->HasWork(); }, 10000);
      };
      ASSERT_TRUE(run(Fault::kNone));
      ASSERT_EQ(Status(channel), US_UP_TO_DATE);
      int stored = orvtest::LiveArticles(channel);
      ASSERT_EQ(stored, script ? 2 : 3);

      version = 2;
      bool first = true;
      for (Fault f : runs) {
        SCOPED_TRACE(FaultName(f));
        const std::size_t asked = server.RequestCount(target);
        ASSERT_TRUE(run(f)) << "the run did not end";
        // The run met its fault (a picture that failed is not asked again).
        if (first) EXPECT_GT(server.RequestCount(target), asked) << "the fault was not met";
        first = false;
        const std::uint32_t status = Status(channel);
        EXPECT_TRUE(status == US_UP_TO_DATE || status == US_FAILED) << "status " << status;
        EXPECT_EQ(updates_->GetChannelStatus(name), UQS_NOT_QUEUED);
        const int now = orvtest::LiveArticles(channel);
        EXPECT_GE(now, stored) << "stored articles were lost";
        stored = now;
        if (kind == Kind::kPicture) {
          bool file = false;
          const std::uint32_t picture = Picture(channel, plat::Utf8ToUtf16(pictureUrl), file);
          EXPECT_TRUE(picture != US_UP_TO_DATE || file) << "the picture shows as fetched without its file";
          EXPECT_NE(picture, US_UPDATING);
        }
      }

      // The next run completes, with the whole new feed.
      ASSERT_TRUE(run(Fault::kNone)) << "the run after the faults did not end";
      EXPECT_EQ(Status(channel), US_UP_TO_DATE);
      EXPECT_EQ(orvtest::LiveArticles(channel), script ? 2 : 4);
      if (kind == Kind::kPicture) {
        bool file = false;
        const std::uint32_t picture = Picture(channel, plat::Utf8ToUtf16(pictureUrl), file);
        EXPECT_TRUE(picture != US_UP_TO_DATE || file);
        // A picture that was only cut off is fetched by the next run.
        if (last == Fault::kConnectionLost) EXPECT_EQ(picture, US_UP_TO_DATE);
      }
      {
        CSyncLock lock(GetChannelSet());
        GetChannelSet()->Remove(name);
      }
    }
  }
}

}  // namespace
