#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/loopback/HttpTestServer.h"
#include "tests/support/Wait.h"
#include "tests/update/InetTestSupport.h"

using orvtest::HttpRequest;
using orvtest::HttpResponse;
using orvtest::HttpTestServer;

namespace {

std::string Pattern(std::size_t n) {
  std::string s;
  s.reserve(n);
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (i * 7 + i / 13) % 26);
  return s;
}

class InetJobTest : public orvtest::InetTest {
 protected:
  // A connected session whose calls time out after timeoutMs.
  bool OpenSession(plat::DWORD timeoutMs) {
    manager_->GetWinInet().SetTimeout(timeoutMs);
    session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
    return session_->WaitForConnection();
  }

  HttpTestServer server_;
};

struct BodyCase {
  const char* name;
  bool gzip;
  bool chunked;
  bool sendLength;
  std::size_t size;
};

TEST_F(InetJobTest, BodiesArriveWhole) {
  const BodyCase cases[] = {
      {"plain", false, false, true, 50000},
      {"gzip", true, false, true, 50000},
      {"chunked", false, true, false, 70000},
      {"gzip-chunked", true, true, false, 70000},
      {"no-length", false, false, false, 20000},
      {"empty", false, false, true, 0},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body = Pattern(c.size);
    server_.Route(std::string("/") + c.name, [&](const HttpRequest&) {
      HttpResponse r;
      r.body = body;
      r.gzip = c.gzip;
      r.chunked = c.chunked;
      r.sendContentLength = c.sendLength;
      r.headers.push_back({"Content-Type", "text/xml; charset=ISO-8859-1"});
      return r;
    });
    auto job = Fetch(server_.Url(std::string("/") + c.name));
    EXPECT_EQ(job->GetResult(), CInetJob::RESULT_SUCCESS) << plat::Utf16ToUtf8(job->GetErrorText());
    EXPECT_EQ(job->GetBody(), body);
    EXPECT_EQ(job->GetStatusCode(), 200);
    EXPECT_EQ(job->GetContentType(), u"text/xml");
    EXPECT_EQ(job->GetCharset(), u"ISO-8859-1");
    if (!c.sendLength || c.chunked) {
      EXPECT_EQ(job->GetContentLength(), -1);
    }
    if (c.gzip) {
      EXPECT_LT(job->GetRawBytes(), job->GetDecodedBytes());
    }
  }
}

TEST_F(InetJobTest, RequestCarriesTheLayersHeaders) {
  server_.Serve("/feed", "<rss/>");
  auto job = Fetch(server_.Url("/feed?x=1"));
  ASSERT_EQ(job->GetResult(), CInetJob::RESULT_SUCCESS);
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest& r = requests[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/feed?x=1");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.Header("User-Agent"), "Mozilla/5.0");
  EXPECT_EQ(r.Header("Accept"), "text/html,image/*,*/*;q=0.5");
  EXPECT_EQ(r.Header("Accept-Charset"), "utf-8");
  EXPECT_EQ(r.Header("Accept-Encoding"), "gzip");
  EXPECT_EQ(r.Header("Connection"), "Keep-Alive");
}

TEST_F(InetJobTest, RedirectsAreFollowedAndLoopsFail) {
  server_.Serve("/target", "arrived");
  server_.Route("/moved", [](const HttpRequest&) {
    HttpResponse r;
    r.status = 301;
    r.headers.push_back({"Location", "/target"});
    return r;
  });
  server_.Route("/found", [](const HttpRequest&) {
    HttpResponse r;
    r.status = 302;
    r.headers.push_back({"Location", "moved"});
    return r;
  });
  server_.Route("/loop", [](const HttpRequest&) {
    HttpResponse r;
    r.status = 302;
    r.headers.push_back({"Location", "/loop"});
    return r;
  });
  for (const char* path : {"/moved", "/found"}) {
    auto job = Fetch(server_.Url(path));
    EXPECT_EQ(job->GetResult(), CInetJob::RESULT_SUCCESS) << path;
    EXPECT_EQ(job->GetBody(), "arrived") << path;
  }
  auto loop = Fetch(server_.Url("/loop"));
  EXPECT_EQ(loop->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(loop->GetErrorText(), u"The address redirects too many times.");
}

TEST_F(InetJobTest, StatusCodesGiveResultsAndTexts) {
  struct Case {
    int status;
    int result;
    const char16_t* text;
  } cases[] = {
      {404, CInetJob::RESULT_NOT_FOUND, u"Bad status code: 404"},
      {500, CInetJob::RESULT_FAILURE, u"Bad status code: 500"},
      {403, CInetJob::RESULT_FAILURE, u"Bad status code: 403"},
  };
  for (const Case& c : cases) {
    server_.Route("/s" + std::to_string(c.status), [c](const HttpRequest&) {
      HttpResponse r;
      r.status = c.status;
      r.body = "nope";
      return r;
    });
    auto job = Fetch(server_.Url("/s" + std::to_string(c.status)));
    EXPECT_EQ(job->GetResult(), c.result);
    EXPECT_EQ(job->GetErrorText(), c.text);
    EXPECT_EQ(job->GetStatusCode(), c.status);
  }
}

TEST_F(InetJobTest, DamagedBodiesFail) {
  std::string body = Pattern(100000);
  std::string gz = orvtest::GzipEncode(body);
  struct Case {
    const char* name;
    HttpResponse response;
  };
  HttpResponse closed;
  closed.body = body;
  closed.closeAfter = 30000;  // shorter than the Content-Length it declared
  HttpResponse truncatedGzip;
  truncatedGzip.body = gz.substr(0, gz.size() / 2);
  truncatedGzip.rawBody = true;
  truncatedGzip.gzip = true;
  truncatedGzip.sendContentLength = false;
  HttpResponse corruptGzip;
  corruptGzip.body = std::string("\x1f\x8b\x08\x00garbage-garbage-garbage", 27);
  corruptGzip.rawBody = true;
  corruptGzip.gzip = true;
  HttpResponse longerDeclared;
  longerDeclared.body = "short";
  longerDeclared.declaredLength = 100;
  Case cases[] = {{"closed", closed}, {"truncated-gzip", truncatedGzip}, {"corrupt-gzip", corruptGzip},
                  {"declared-longer", longerDeclared}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpResponse response = c.response;
    server_.Route(std::string("/") + c.name, [response](const HttpRequest&) { return response; });
    auto job = Fetch(server_.Url(std::string("/") + c.name));
    EXPECT_EQ(job->GetResult(), CInetJob::RESULT_FAILURE);
    EXPECT_EQ(job->GetErrorText(), u"Reading from stream failed or canceled");
    EXPECT_FALSE(job->IsFinished());
  }
}

TEST_F(InetJobTest, StalledServerTimesOut) {
  server_.Route("/stall", [](const HttpRequest&) {
    HttpResponse r;
    r.body = "late";
    r.stallBeforeBodyMs = 5000;
    return r;
  });
  auto start = std::chrono::steady_clock::now();
  auto job = Fetch(server_.Url("/stall"), 300);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(job->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(job->GetErrorText(), u"Reading from stream failed or canceled");
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
}

TEST_F(InetJobTest, TricklingServerMeetsTheDeadline) {
  server_.Route("/trickle", [](const HttpRequest&) {
    HttpResponse r;
    r.body = std::string(1000, 'x');
    r.trickleDelayMs = 150;  // each byte well within the receive time-out
    return r;
  });
  ASSERT_TRUE(OpenSession(2000));
  CInetJob job(session_.get(), plat::Utf8ToUtf16(server_.Url("/trickle")));
  job.SetKeepInMemory(true);
  job.SetDeadline(800);
  job.Execute();
  EXPECT_EQ(job.GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_LT(job.GetDeliveredLength(), 1000u);
}

TEST_F(InetJobTest, BodyUnderTheRateFloorFailsAndOneAboveItArrives) {
  server_.Route("/drip", [](const HttpRequest&) {
    HttpResponse r;
    r.body = std::string(100000, 'x');
    r.trickleDelayMs = 40;  // about 250 bytes a second
    r.trickleBytes = 10;
    return r;
  });
  server_.Route("/fast", [](const HttpRequest&) {
    HttpResponse r;
    r.body = std::string(100000, 'y');
    return r;
  });
  ASSERT_TRUE(OpenSession(2000));
  struct Case {
    const char* path;
    int result;
    bool tooSlow;
  };
  for (const Case& c : {Case{"/drip", CInetJob::RESULT_FAILURE, true}, Case{"/fast", CInetJob::RESULT_SUCCESS, false}}) {
    SCOPED_TRACE(c.path);
    CInetJob job(session_.get(), plat::Utf8ToUtf16(server_.Url(c.path)));
    job.SetKeepInMemory(true);
    job.SetMinimumRate(2000, 300);
    job.Execute();
    EXPECT_EQ(job.GetResult(), c.result);
    EXPECT_EQ(job.WasTooSlow(), c.tooSlow);
    EXPECT_EQ(job.GetDeliveredLength() == 100000u, !c.tooSlow);
  }
}

TEST_F(InetJobTest, GzipBombStopsAtTheCap) {
  server_.Route("/bomb", [](const HttpRequest&) {
    HttpResponse r;
    r.gzip = true;
    r.rawBody = true;
    r.sendContentLength = false;
    r.stream = orvtest::GzipBombStream(1ull << 30);
    return r;
  });
  auto job = Fetch(server_.Url("/bomb"), 5000, 4u << 20);
  EXPECT_EQ(job->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_LE(job->GetDeliveredLength(), 4u << 20);
  EXPECT_LE(job->GetDecodedBytes(), (4u << 20) + CInetJob::kChunkSize);
}

TEST_F(InetJobTest, CancelEndsABlockedReadPromptly) {
  // The answer's headers come at once; its body only when the test lets it,
  // so the job's read stays blocked until the cancel ends it. The gate is
  // shared with the server's thread, which may still be leaving it when the
  // test ends.
  struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool letGo = false;
    bool bodyAfterBound = false;
  };
  auto gate = std::make_shared<Gate>();
  server_.Route("/stall", [gate](const HttpRequest&) {
    HttpResponse r;
    r.stream = [gate, sent = false](std::string& piece) mutable {
      if (sent) return false;
      std::unique_lock<std::mutex> g(gate->lock);
      gate->bodyAfterBound = !gate->changed.wait_for(g, std::chrono::seconds(20), [&] { return gate->letGo; });
      piece = "late";
      sent = true;
      return true;
    };
    return r;
  });
  ASSERT_TRUE(OpenSession(20000));
  CInetJob job(session_.get(), plat::Utf8ToUtf16(server_.Url("/stall")));
  job.SetKeepInMemory(true);
  std::thread canceller([&] {
    // The status line came: the job now waits for the body.
    orvtest::Eventually([&] { return listener_.Count(IInetEventListener::EVENT_STATUS_OK) > 0; }, 20000);
    session_->Cancel();
  });
  job.Execute();
  canceller.join();
  {
    std::lock_guard<std::mutex> g(gate->lock);
    gate->letGo = true;
    gate->changed.notify_all();
  }
  EXPECT_EQ(listener_.Count(IInetEventListener::EVENT_STATUS_OK), 1);
  EXPECT_EQ(job.GetResult(), CInetJob::RESULT_CANCELLED);
  EXPECT_EQ(job.GetErrorText(), u"Canceled");
  // Ended by the cancel, not by the body coming after the server's bound.
  std::lock_guard<std::mutex> g(gate->lock);
  EXPECT_FALSE(gate->bodyAfterBound);
}

TEST_F(InetJobTest, AddressesWithoutOrWithOtherSchemes) {
  server_.Serve("/plain", "body");
  std::string noScheme = server_.Url("/plain").substr(7);  // "127.0.0.1:port/plain"
  auto job = Fetch(noScheme);
  EXPECT_EQ(job->GetResult(), CInetJob::RESULT_SUCCESS);
  EXPECT_EQ(job->GetBody(), "body");

  auto ftp = Fetch("ftp://127.0.0.1/file");
  EXPECT_EQ(ftp->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(ftp->GetErrorText(), u"Unsupported url scheme (only http and https are supported)");
  auto bad = Fetch("http://");
  EXPECT_EQ(bad->GetErrorText(), u"Invalid url");
  auto refused = Fetch("http://127.0.0.1:1/x");
  EXPECT_EQ(refused->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(refused->GetErrorText(), u"Cannot connect to the host 127.0.0.1:1");
}

TEST_F(InetJobTest, UntrustedHttpsIsRefusedNotRetriedWithoutChecks) {
  orvtest::SelfSignedTlsServer tls(device_.Scratch());
  ASSERT_NE(tls.Port(), 0) << "the TLS server did not start";
  auto job = Fetch("https://127.0.0.1:" + std::to_string(tls.Port()) + "/");
  EXPECT_EQ(job->GetResult(), CInetJob::RESULT_FAILURE);
  EXPECT_EQ(job->GetErrorText(), u"Sending request failed or canceled");
  EXPECT_EQ(job->GetDeliveredLength(), 0u);
}

TEST_F(InetJobTest, BodyIsWrittenToTheOutputFile) {
  std::string body = Pattern(40000);
  server_.Route("/bin", [&](const HttpRequest&) {
    HttpResponse r;
    r.body = body;
    r.gzip = true;
    return r;
  });
  ASSERT_TRUE(OpenSession(3000));
  CInetJob job(session_.get(), plat::Utf8ToUtf16(server_.Url("/bin")));
  job.SetOutputFile(u"\\image.bin");
  job.Execute();
  ASSERT_EQ(job.GetResult(), CInetJob::RESULT_SUCCESS);
  EXPECT_EQ(orvtest::ReadHostFile(device_.FsRoot() + "/image.bin"), body);
  std::vector<int> codes = listener_.Codes();
  ASSERT_GE(codes.size(), 5u);
  EXPECT_EQ(codes[0], 5);  // the connection came up
  EXPECT_EQ(codes[1], 0);
  EXPECT_EQ(codes[2], 1);
  EXPECT_EQ(codes.back(), 2);
  EXPECT_GE(listener_.Count(3), 1);
}

TEST_F(InetJobTest, CancellingASessionEndsEveryJobOfItAndItsChildren) {
  // No connection comes up, so every job waits for it until the cancel.
  plat::ScriptedConnectionProvider::Script script;
  script.manual = true;
  provider_->SetScript(script);
  CInetSession root(&listener_, true, manager_.get());
  CInetSession child(&root, nullptr);
  CInetSession grandchild(&child, nullptr);
  CInetJob a(&root, u"http://127.0.0.1:1/a");
  CInetJob b(&child, u"http://127.0.0.1:1/b");
  CInetJob c(&grandchild, u"http://127.0.0.1:1/c");
  std::atomic<int> started{0}, ended{0};
  std::vector<std::thread> runners;
  for (CInetJob* job : {&a, &b, &c}) {
    runners.emplace_back([job, &started, &ended] {
      ++started;
      job->Execute();
      ++ended;
    });
  }
  ASSERT_TRUE(orvtest::Eventually([&] { return started == 3; }));
  // Without a connection none of them ends on its own.
  EXPECT_TRUE(orvtest::StaysTrue([&] { return ended == 0; }, 200));
  root.Cancel();
  for (auto& t : runners) t.join();
  for (CInetJob* job : {&a, &b, &c}) {
    EXPECT_EQ(job->GetResult(), CInetJob::RESULT_CANCELLED);
    EXPECT_EQ(job->GetErrorText(), u"Canceled");
  }
  EXPECT_TRUE(child.IsCancelled());
  EXPECT_TRUE(grandchild.IsCancelled());
  CInetJob late(&grandchild, u"http://127.0.0.1:1/late");
  late.Execute();
  EXPECT_EQ(late.GetResult(), CInetJob::RESULT_CANCELLED);
}

}  // namespace

namespace {

// Each server answers only once the other's request has arrived as well:
// two jobs on two threads get their answers only when neither waits for the
// other's transfer, in the answer's head or in its body.
TEST_F(InetJobTest, TransfersOfDifferentRequestsRunAtTheSameTime) {
  ASSERT_TRUE(OpenSession(4000));
  std::mutex lock;
  std::condition_variable arrived;
  int heads = 0, bodies = 0;
  auto meet = [&](int& count) {
    std::unique_lock<std::mutex> g(lock);
    ++count;
    arrived.notify_all();
    return arrived.wait_for(g, std::chrono::seconds(3), [&] { return count >= 2; });
  };
  server_.Route("/both", [&](const HttpRequest&) {
    HttpResponse r;
    r.body = meet(heads) ? "together" : "alone";
    // The second half of the body only once the other has begun its own.
    r.stream = [&meet, &bodies, text = r.body, half = 0](std::string& piece) mutable {
      if (half == 2) return false;
      piece = half++ == 0 ? text.substr(0, 4) : (meet(bodies) ? text.substr(4) : std::string("-late"));
      return true;
    };
    return r;
  });
  std::unique_ptr<CInetJob> jobs[2];
  std::thread threads[2];
  for (int i = 0; i < 2; ++i) {
    jobs[i] = std::make_unique<CInetJob>(session_.get(), plat::Utf8ToUtf16(server_.Url("/both")));
    jobs[i]->SetKeepInMemory(true);
    threads[i] = std::thread([job = jobs[i].get()] { job->Execute(); });
  }
  for (std::thread& t : threads) t.join();
  for (const auto& job : jobs) {
    EXPECT_EQ(job->GetResult(), CInetJob::RESULT_SUCCESS);
    EXPECT_EQ(job->GetBody(), "together");
  }
}

}  // namespace
