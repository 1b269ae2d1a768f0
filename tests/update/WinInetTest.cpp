#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Module.h"
#include "tests/update/InetTestSupport.h"
#include "tools/loopback/HttpTestServer.h"

namespace {

class WinInetTest : public orvtest::InetTest {};

const char* g_missing = nullptr;

TEST_F(WinInetTest, BindingNeedsEveryEntryPoint) {
  const char* names[] = {"InternetOpenW", "InternetSetCookieW", "InternetSetStatusCallbackW", "HttpEndRequestW"};
  for (const char* missing : names) {
    SCOPED_TRACE(missing);
    g_missing = missing;
    // A library that lacks one of the 21 names.
    plat::RegisterBuiltInModule(u"wininet.dll", [](const char* name) -> plat::FARPROC {
      if (std::strcmp(name, g_missing) == 0) return nullptr;
      return reinterpret_cast<plat::FARPROC>(1);  // present, never called
    });
    CWinInet inet;
    EXPECT_FALSE(inet.Bind());
    CrackedUrl parts;
    std::u16string error;
    EXPECT_FALSE(inet.CrackUrl(u"http://example.org/", parts, error));
    EXPECT_EQ(error, u"No internet");
    EXPECT_FALSE(inet.OpenInternet());
  }
}

TEST_F(WinInetTest, ConnectionCacheKeepsTwentyMostRecent) {
  CWinInet& inet = manager_->GetWinInet();
  ASSERT_TRUE(inet.OpenInternet());
  // Each connection is given back once used, as a download does.
  auto use = [&inet](const char16_t* host, int port) {
    plat::HINTERNET h = inet.GetConnection(host, static_cast<plat::INTERNET_PORT>(port), nullptr, nullptr,
                                           plat::INTERNET_SERVICE_HTTP, 0);
    inet.ReleaseConnection(h);
    return h;
  };
  std::vector<plat::HINTERNET> handles;
  for (int port = 1; port <= 20; ++port) {
    handles.push_back(use(u"127.0.0.1", port));
    ASSERT_NE(handles.back(), nullptr);
  }
  EXPECT_EQ(inet.GetConnectCount(), 20);
  // Port 1 used again: no new connection, it moves to the front; port 2 is now the oldest.
  EXPECT_EQ(use(u"127.0.0.1", 1), handles[0]);
  EXPECT_EQ(use(u"127.0.0.1", 20), handles[19]);
  EXPECT_EQ(inet.GetConnectCount(), 20);
  // The 21st server evicts port 2 and closes its handle.
  ASSERT_NE(use(u"LOCALHOST", 21), nullptr);
  EXPECT_EQ(inet.GetConnectCount(), 21);
  plat::DWORD type = 0, size = sizeof type;
  EXPECT_FALSE(plat::InternetQueryOptionW(handles[1], plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_TRUE(plat::InternetQueryOptionW(handles[0], plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  // Host names match ignoring case.
  EXPECT_NE(use(u"localhost", 21), nullptr);
  EXPECT_EQ(inet.GetConnectCount(), 21);
  use(u"127.0.0.1", 2);
  EXPECT_EQ(inet.GetConnectCount(), 22);
  // Every connection handed out carries the layer's time-outs.
  plat::DWORD timeout = 0;
  size = sizeof timeout;
  ASSERT_TRUE(plat::InternetQueryOptionW(handles[0], plat::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, &size));
  EXPECT_EQ(timeout, 30000u);
  inet.CloseAll();
  EXPECT_FALSE(plat::InternetQueryOptionW(handles[0], plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_FALSE(inet.HasInternet());
}

// A connection handed out stays open while downloads from more servers
// than the cache holds evict its entry: the download about to use it still
// can; it is closed once given back.
TEST_F(WinInetTest, ConnectionInUseOutlivesItsEviction) {
  ASSERT_TRUE(ConnectSession());
  CWinInet& inet = manager_->GetWinInet();
  orvtest::HttpTestServer first("127.0.0.2");
  first.Serve("/doc", "first server");
  plat::HINTERNET held = inet.GetConnection(u"127.0.0.2", static_cast<plat::INTERNET_PORT>(first.Port()), nullptr,
                                            nullptr, plat::INTERNET_SERVICE_HTTP, 0);
  ASSERT_NE(held, nullptr);

  // 28 more servers, each on a loopback address of its own, downloaded from
  // meanwhile: the held connection leaves the cache.
  std::vector<std::unique_ptr<orvtest::HttpTestServer>> others;
  for (int host = 3; host <= 30; ++host) {
    SCOPED_TRACE(host);
    others.push_back(std::make_unique<orvtest::HttpTestServer>("127.0.0." + std::to_string(host)));
    others.back()->Serve("/doc", "server " + std::to_string(host));
    CInetJob job(session_.get(), plat::Utf8ToUtf16(others.back()->Url("/doc")));
    job.SetKeepInMemory(true);
    job.Execute();
    ASSERT_EQ(job.GetResult(), CInetJob::RESULT_SUCCESS) << plat::Utf16ToUtf8(job.GetErrorText());
    EXPECT_EQ(job.GetBody(), "server " + std::to_string(host));
  }
  EXPECT_EQ(inet.GetConnectCount(), 29);

  // The held connection still serves its request.
  plat::HINTERNET request = inet.HttpOpenRequestW(held, u"GET", u"/doc", u"HTTP/1.0", nullptr, nullptr,
                                                  plat::INTERNET_FLAG_NO_CACHE_WRITE, 0);
  ASSERT_NE(request, nullptr) << "the cache closed a connection in use";
  ASSERT_TRUE(inet.SendRequest(request, u"", static_cast<plat::DWORD>(-1), nullptr, 0));
  std::string body;
  char buffer[256];
  plat::DWORD read = 0;
  while (inet.InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) body.append(buffer, read);
  EXPECT_EQ(body, "first server");
  inet.CloseRequest(request);

  // Given back, the evicted connection is closed; the cache's own stay open.
  plat::DWORD type = 0, size = sizeof type;
  EXPECT_TRUE(plat::InternetQueryOptionW(held, plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  inet.ReleaseConnection(held);
  EXPECT_FALSE(plat::InternetQueryOptionW(held, plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_EQ(first.RequestCount("/doc"), 1u);
}

TEST_F(WinInetTest, NormalizeUrl) {
  CWinInet& inet = manager_->GetWinInet();
  struct Case {
    const char16_t* in;
    bool ok;
    const char16_t* out;
  } cases[] = {
      {u"example.org/feed", true, u"http://example.org/feed"},
      {u"HTTP://example.org:80/a?b#c", true, u"http://example.org/a?b#c"},
      {u"https://example.org:8443/x", true, u"https://example.org:8443/x"},
      {u"ftp://example.org/x", false, u"ftp://example.org/x"},
  };
  for (const Case& c : cases) {
    std::u16string url = c.in;
    EXPECT_EQ(inet.NormalizeUrl(url), c.ok) << plat::Utf16ToUtf8(c.in);
    EXPECT_EQ(url, c.out) << plat::Utf16ToUtf8(c.in);
  }
}

}  // namespace
