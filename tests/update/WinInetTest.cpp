#include <gtest/gtest.h>

#include <cstring>

#include "platform/base/Module.h"
#include "tests/update/InetTestSupport.h"

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
  std::vector<plat::HINTERNET> handles;
  for (int port = 1; port <= 20; ++port) {
    handles.push_back(inet.GetConnection(u"127.0.0.1", static_cast<plat::INTERNET_PORT>(port), nullptr, nullptr,
                                         plat::INTERNET_SERVICE_HTTP, 0));
    ASSERT_NE(handles.back(), nullptr);
  }
  EXPECT_EQ(inet.GetConnectCount(), 20);
  // Port 1 used again: no new connection, it moves to the front; port 2 is now the oldest.
  EXPECT_EQ(inet.GetConnection(u"127.0.0.1", 1, nullptr, nullptr, plat::INTERNET_SERVICE_HTTP, 0), handles[0]);
  EXPECT_EQ(inet.GetConnection(u"127.0.0.1", 20, nullptr, nullptr, plat::INTERNET_SERVICE_HTTP, 0), handles[19]);
  EXPECT_EQ(inet.GetConnectCount(), 20);
  // The 21st server evicts port 2 and closes its handle.
  ASSERT_NE(inet.GetConnection(u"LOCALHOST", 21, nullptr, nullptr, plat::INTERNET_SERVICE_HTTP, 0), nullptr);
  EXPECT_EQ(inet.GetConnectCount(), 21);
  plat::DWORD type = 0, size = sizeof type;
  EXPECT_FALSE(plat::InternetQueryOptionW(handles[1], plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_TRUE(plat::InternetQueryOptionW(handles[0], plat::INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  // Host names match ignoring case.
  EXPECT_NE(inet.GetConnection(u"localhost", 21, nullptr, nullptr, plat::INTERNET_SERVICE_HTTP, 0), nullptr);
  EXPECT_EQ(inet.GetConnectCount(), 21);
  inet.GetConnection(u"127.0.0.1", 2, nullptr, nullptr, plat::INTERNET_SERVICE_HTTP, 0);
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
