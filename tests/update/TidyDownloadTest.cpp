#include "update/http/TidyDownload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Text.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/update/InetTestSupport.h"

namespace {

using orvtest::HttpRequest;
using orvtest::HttpResponse;

class TidyDownloadTest : public orvtest::InetTest {
 protected:
  CInetSession* Session() {
    manager_->GetWinInet().SetTimeout(3000);
    if (!session_) {
      session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
      EXPECT_TRUE(session_->WaitForConnection());
    }
    return session_.get();
  }
  std::u16string Url(const std::string& path) { return plat::Utf8ToUtf16(server_.Url(path)); }

  orvtest::HttpTestServer server_;
};

TEST_F(TidyDownloadTest, PageIsParsedInItsCharsetWithAbsoluteAddresses) {
  std::string page = orvtest::ReadHostFile(
      (std::filesystem::path(ORV_UPDATE_TEST_DATA) / "latin1-http.html").string());
  page.insert(page.find("</body>"), "<a href=\"next.html\">next</a>");
  server_.Serve("/news/page.html", page, "text/html; charset=ISO-8859-1");
  Tidy::Document doc;
  std::uint32_t before = Tidy::GetDownloadedTotal();
  std::u16string error = u"untouched";
  ASSERT_EQ(Tidy::DownloadDocument(Session(), Url("/news/page.html"), &doc, u"", &error), 1);
  EXPECT_EQ(error, u"untouched");
  EXPECT_EQ(Tidy::GetDownloadedTotal() - before, page.size());
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->FindDescendantElement("title")->GetTextUtf8(), "M\xC3\xBCnchen \xC3\xBC" "ber alles");
  EXPECT_EQ(doc.GetRoot()->FindDescendantElement("a")->FindAttribute("href")->Value(), server_.Url("/news/next.html"));

  // A forced encoding wins over the charset.
  ASSERT_EQ(Tidy::DownloadDocument(Session(), Url("/news/page.html"), &doc, u"koi8-r", nullptr), 1);
  EXPECT_NE(doc.GetRoot()->FindDescendantElement("title")->GetTextUtf8(), "M\xC3\xBCnchen \xC3\xBC" "ber alles");
}

TEST_F(TidyDownloadTest, UnknownCharsetAndForcedEncodingArePassedOver) {
  // A server's "charset=none" and a script's encoding no platform knows are
  // ignored: the page reads as UTF-8, its default.
  server_.Serve("/none.html", "<html><head><title>Caf\xC3\xA9</title></head><body></body></html>",
                "text/html; charset=none");
  for (const char16_t* forced : {u"", u"x-no-such-encoding"}) {
    Tidy::Document doc;
    ASSERT_EQ(Tidy::DownloadDocument(Session(), Url("/none.html"), &doc, forced, nullptr), 1)
        << plat::Utf16ToUtf8(forced);
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_EQ(doc.GetRoot()->FindDescendantElement("title")->GetTextUtf8(), "Caf\xC3\xA9");
  }
}

TEST_F(TidyDownloadTest, ServerThatDripsBytesCannotOutlastTheDownloadDeadline) {
  ASSERT_TRUE(CreateFolderTree(u"\\Content"));
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DownloadDeadline", 600));
  server_.Route("/drip.xml", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = "<?xml version=\"1.0\"?><rss>" + std::string(5000, ' ') + "</rss>";
    r.trickleDelayMs = 100;  // every piece well within the per-read time-out
    r.trickleBytes = 20;
    return r;
  });
  Tidy::Document doc;
  std::u16string error;
  EXPECT_EQ(Tidy::DownloadDocument(Session(), Url("/drip.xml"), &doc, u"", &error), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(doc.GetRoot(), nullptr);
}

TEST_F(TidyDownloadTest, FailuresReturnTheJobsResultAndParseNothing) {
  server_.Serve("/empty.xml", "", "text/xml");
  Tidy::Document doc;
  std::u16string error;
  EXPECT_EQ(Tidy::DownloadDocument(Session(), Url("/missing.xml"), &doc, u"", &error), CInetJob::RESULT_NOT_FOUND);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(doc.GetRoot(), nullptr);
  // An empty body downloads but gives nothing to parse.
  EXPECT_EQ(Tidy::DownloadDocument(Session(), Url("/empty.xml"), &doc, u"", &error), 0);
  EXPECT_EQ(Tidy::DownloadDocument(nullptr, Url("/empty.xml"), &doc, u"", &error), 0);
  EXPECT_EQ(Tidy::DownloadDocument(Session(), u"", &doc, u"", &error), 0);
  EXPECT_EQ(server_.RequestCount("/empty.xml"), 1u);
}

TEST_F(TidyDownloadTest, RatingPingIsOffWhileNoServerIsSet) {
  server_.Serve("/pingrss.php", "ok", "text/plain");
  EXPECT_EQ(Tidy::GetRatingServerAddress(), u"");
  EXPECT_EQ(Tidy::SendRatingPing(u"http://feeds.example.com/a.xml", Session()), 0);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(TidyDownloadTest, RatingPingCarriesTheEncodedFeedAddress) {
  server_.Serve("/pingrss.php", "ok", "text/plain");
  Tidy::SetRatingServerAddress(Url(""));
  EXPECT_EQ(Tidy::GetRatingServerAddress(), Url("/pingrss.php?url="));
  EXPECT_EQ(Tidy::SendRatingPing(u"feeds.example.com/a b.xml", Session()), 1);
  EXPECT_EQ(Tidy::SendRatingPing(u"ftp://files.example.com/feed.xml", Session()), 0);
  std::vector<HttpRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::u16string normal = u"http://feeds.example.com/a b.xml";
  ASSERT_TRUE(manager_->GetWinInet().NormalizeUrl(normal));
  EXPECT_EQ(requests[0].target, "/pingrss.php?url=" + plat::Utf16ToUtf8(Tidy::PercentEncodeUtf8(normal)));
  EXPECT_EQ(requests[0].target.rfind("/pingrss.php?url=%68%74%74%70%3A%2F%2F", 0), 0u);
}

}  // namespace
