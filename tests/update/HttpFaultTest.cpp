// The HTTP layer against a server that fails in every way a connection can:
// closed before answering, in the head, in the body (with or without a
// length), a chunked or gzip body cut short, an error status, a redirect
// loop and a 304 that follows a cut body. Every kind of request the layer
// makes ends; only a body whose end was confirmed counts as whole, and
// nothing of a body that may be a part is kept to stand for the document.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/FileUtils.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"
#include "tests/update/InetTestSupport.h"
#include "tools/loopback/HttpTestServer.h"
#include "update/http/TidyDownload.h"
#include "update/tidy/TidyDocument.h"

namespace {

using orvtest::HttpRequest;
using orvtest::HttpResponse;

constexpr const char* kETag = "\"whole-1\"";

// A feed of 200 items: long enough to be cut in its middle, in any encoding.
std::string Feed() {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Faults</title>\n";
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    xml += "<item><title>Item " + n + "</title><guid>fault-" + n + "</guid><description>Text of item " + n +
           ", " + std::string(static_cast<std::size_t>(40 + i % 17), static_cast<char>('a' + i % 26)) +
           "</description></item>\n";
  }
  return xml + "</channel></rss>\n";
}

// What a request ended with, as its kind shows it.
struct Outcome {
  bool ended = false;
  int result = -1;
  std::u16string error;
  bool lengthChecked = false;  // jobs: IsLengthChecked
  std::string body;            // jobs: the bytes kept (memory or file)
  bool parsed = false;         // documents: a tree with an "rss" element
  std::u16string digest;       // conditional documents: what was kept of the body
  Tidy::Validators validators;
  bool unchanged = false;
};

// What a case must end with.
enum class Expect {
  kWhole,      // success, the body's end confirmed: digest and validators kept
  kMaybePart,  // success, ended by the connection's close: nothing kept to stand for it
  kCutDocument,  // success, the body whole as sent, the document in it cut: nothing kept
  kFailed,     // a failure (not a cancel), nothing kept
};

class HttpFaultTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    orvtest::InetTest::SetUp();
    ASSERT_TRUE(CreateFolderTree(u"\\Downloads"));
    // Time-outs longer than the bound below: a request that ends only by
    // one counts as hung.
    ASSERT_TRUE(ConnectSession(60000));
  }

  // Runs one request on its own thread; a request that does not end within
  // the bound is cancelled (so the test can report it) and counts as hung.
  Outcome Run(const std::function<void(Outcome&)>& request) {
    Outcome out;
    std::atomic<bool> done{false};
    std::thread runner([&] {
      request(out);
      done = true;
    });
    out.ended = orvtest::Eventually([&] { return done.load(); }, 20000);
    if (!out.ended) session_->Cancel();
    runner.join();
    return out;
  }

  // The kinds of request the layer makes.
  std::vector<std::pair<const char*, std::function<Outcome(const std::string&, const Outcome*)>>> Kinds() {
    std::vector<std::pair<const char*, std::function<Outcome(const std::string&, const Outcome*)>>> kinds;
    kinds.push_back({"job in memory", [this](const std::string& url, const Outcome*) {
                       return Run([&](Outcome& out) {
                         CInetJob job(session_.get(), plat::Utf8ToUtf16(url));
                         job.SetKeepInMemory(true);
                         job.Execute();
                         out.result = job.GetResult();
                         out.error = job.GetErrorText();
                         out.lengthChecked = job.IsLengthChecked();
                         out.body = job.GetBody();
                       });
                     }});
    kinds.push_back({"job to a file", [this](const std::string& url, const Outcome*) {
                       return Run([&](Outcome& out) {
                         const std::u16string path = u"\\Downloads\\body.bin";
                         std::filesystem::remove(plat::HostPathFromDevicePath(path));
                         CInetJob job(session_.get(), plat::Utf8ToUtf16(url));
                         job.SetOutputFile(path);
                         job.Execute();
                         out.result = job.GetResult();
                         out.error = job.GetErrorText();
                         out.lengthChecked = job.IsLengthChecked();
                         out.body = orvtest::ReadHostFile(plat::HostPathFromDevicePath(path));
                       });
                     }});
    kinds.push_back({"request only", [this](const std::string& url, const Outcome*) {
                       return Run([&](Outcome& out) {
                         out.result = Tidy::DownloadDocument(session_.get(), plat::Utf8ToUtf16(url), nullptr, u"",
                                                             &out.error);
                       });
                     }});
    kinds.push_back({"document", [this](const std::string& url, const Outcome*) {
                       return Run([&](Outcome& out) {
                         Tidy::Document document;
                         out.result = Tidy::DownloadDocument(session_.get(), plat::Utf8ToUtf16(url), &document, u"",
                                                             &out.error);
                         out.parsed = document.GetRoot() != nullptr &&
                                      document.GetRoot()->FindDescendantElement("rss") != nullptr;
                       });
                     }});
    kinds.push_back({"conditional document", [this](const std::string& url, const Outcome* before) {
                       return Run([&](Outcome& out) {
                         Tidy::Document document;
                         // What an earlier request of the case kept is sent again.
                         if (before != nullptr) {
                           out.digest = before->digest;
                           out.validators = before->validators;
                         }
                         out.result = Tidy::DownloadChangedDocument(session_.get(), plat::Utf8ToUtf16(url), &document,
                                                                    u"", &out.error, &out.digest, &out.unchanged,
                                                                    &out.validators);
                         out.parsed = document.GetRoot() != nullptr &&
                                      document.GetRoot()->FindDescendantElement("rss") != nullptr;
                       });
                     }});
    return kinds;
  }

  orvtest::HttpTestServer server_;
};

void ExpectOutcome(const char* kind, const Outcome& out, Expect expect, const std::string& whole) {
  SCOPED_TRACE(kind);
  ASSERT_TRUE(out.ended) << "the request did not end";
  const std::string k = kind;
  const bool job = k.rfind("job", 0) == 0;
  switch (expect) {
    case Expect::kWhole:
      EXPECT_EQ(out.result, CInetJob::RESULT_SUCCESS) << plat::Utf16ToUtf8(out.error);
      if (job) {
        EXPECT_TRUE(out.lengthChecked);
        EXPECT_EQ(out.body, whole);
      }
      if (k == "document" || k == "conditional document") {
        EXPECT_TRUE(out.parsed);
      }
      if (k == "conditional document") {
        EXPECT_FALSE(out.unchanged);
        EXPECT_EQ(out.digest.size(), 32u);
        EXPECT_EQ(out.validators.etag, plat::Utf8ToUtf16(kETag));
      }
      break;
    case Expect::kMaybePart:
    case Expect::kCutDocument:
      // The layer cannot tell this end from a whole body's: the request
      // succeeds, but says its length went unchecked (or, for a document
      // that ends inside its root, keeps nothing of it).
      EXPECT_EQ(out.result, CInetJob::RESULT_SUCCESS) << plat::Utf16ToUtf8(out.error);
      if (job) {
        EXPECT_EQ(out.lengthChecked, expect == Expect::kCutDocument);
        EXPECT_EQ(out.body, whole.substr(0, out.body.size()));
      }
      if (k == "conditional document") {
        EXPECT_FALSE(out.unchanged);
        EXPECT_EQ(out.digest, u"") << "the digest of a body that may be a part was kept";
        EXPECT_EQ(out.validators.etag, u"") << "the validators of a body that may be a part were kept";
        EXPECT_EQ(out.validators.lastModified, u"");
      }
      break;
    case Expect::kFailed:
      EXPECT_NE(out.result, CInetJob::RESULT_SUCCESS);
      EXPECT_NE(out.result, CInetJob::RESULT_CANCELLED);
      if (k != "request only") {
        EXPECT_FALSE(out.error.empty());
      }
      if (job) {
        EXPECT_FALSE(out.lengthChecked);
      }
      if (k == "conditional document") {
        EXPECT_FALSE(out.unchanged);
        EXPECT_EQ(out.validators.etag, u"");
      }
      break;
  }
}

TEST_F(HttpFaultTest, EveryKindOfRequestEndsAndOnlyAWholeBodyCounts) {
  const std::string whole = Feed();
  const std::string gz = orvtest::GzipEncode(whole);
  auto base = [&] {
    HttpResponse r;
    r.body = whole;
    r.headers = {{"Content-Type", "text/xml; charset=utf-8"}, {"ETag", kETag}};
    return r;
  };
  struct Case {
    const char* name;
    std::function<HttpResponse(const HttpRequest&)> respond;
    Expect first;
    // When set, each kind asks once more (the conditional document with
    // what the first request kept) and must get this.
    bool again = false;
    Expect second = Expect::kWhole;
  };
  const std::size_t half = whole.size() / 2;
  std::vector<Case> cases = {
      {"whole, with its length", [&](const HttpRequest&) { return base(); }, Expect::kWhole},
      {"whole, chunked",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.chunked = true;
         return r;
       },
       Expect::kWhole},
      {"whole, gzip with its length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.gzip = true;
         return r;
       },
       Expect::kWhole},
      {"whole, gzip ended by the close",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.gzip = true;
         r.sendContentLength = false;
         return r;
       },
       Expect::kWhole},
      {"whole, ended by the close",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.sendContentLength = false;
         return r;
       },
       Expect::kMaybePart},
      {"a cut document sent whole with its length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.body = whole.substr(0, half);
         return r;
       },
       Expect::kCutDocument},
      {"closed before answering",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.closeInHeadAfter = 0;
         return r;
       },
       Expect::kFailed},
      {"closed in the status line",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.closeInHeadAfter = 6;
         return r;
       },
       Expect::kFailed},
      {"closed in the headers",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.closeInHeadAfter = 40;
         return r;
       },
       Expect::kFailed},
      {"closed in the body, with its length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.closeAfter = half;
         return r;
       },
       Expect::kFailed},
      {"closed in the body, without a length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.sendContentLength = false;
         r.closeAfter = half;
         return r;
       },
       Expect::kMaybePart},
      {"chunked body cut",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.chunked = true;
         r.closeAfter = half;
         return r;
       },
       Expect::kFailed},
      {"gzip cut, with its length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.gzip = true;
         r.closeAfter = gz.size() / 2;
         return r;
       },
       Expect::kFailed},
      {"gzip cut, without a length",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.gzip = true;
         r.sendContentLength = false;
         r.closeAfter = gz.size() / 2;
         return r;
       },
       Expect::kFailed},
      {"server error",
       [&](const HttpRequest&) {
         HttpResponse r = base();
         r.status = 500;
         return r;
       },
       Expect::kFailed},
      {"redirect loop",
       [&](const HttpRequest& request) {
         HttpResponse r;
         r.status = 302;
         r.headers = {{"Location", request.target}};
         return r;
       },
       Expect::kFailed},
      // A server answering 304 to its ETag: nothing of the cut body may
      // have kept it, so the next request reads the whole feed.
      {"304 after a body cut without a length",
       [&, served = std::make_shared<int>(0)](const HttpRequest& request) {
         HttpResponse r = base();
         if (!request.Header("If-None-Match").empty()) {
           r.status = 304;
           r.body.clear();
         } else if ((*served)++ % 2 == 0) {
           r.sendContentLength = false;
           r.closeAfter = half;
         }
         return r;
       },
       Expect::kMaybePart, true, Expect::kWhole},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/case" + std::to_string(n++);
    server_.Route(path, c.respond);
    for (const auto& [kind, request] : Kinds()) {
      const Outcome first = request(server_.Url(path), nullptr);
      ExpectOutcome(kind, first, c.first, whole);
      if (c.again) {
        const Outcome second = request(server_.Url(path), &first);
        ExpectOutcome(kind, second, c.second, whole);
      }
    }
  }
  // Every request ended in its session: nothing was cancelled or hung.
  EXPECT_FALSE(session_->IsCancelled());
}

}  // namespace
