#include <gtest/gtest.h>


#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/inet/ConnMgr.h"
#include "platform/inet/Inet.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/TempDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

class InetHandlesTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(v);
    }
    internet_ = plat::InternetOpenW(u"Mozilla/5.0", plat::INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(internet_, nullptr);
  }
  void TearDown() override { plat::InternetCloseHandle(internet_); }

  // Opens a GET request of path on the loopback port with the given receive time-out.
  plat::HINTERNET Open(int port, const char16_t* path, plat::DWORD timeoutMs, plat::DWORD flags = 0) {
    connect_ = plat::InternetConnectW(internet_, u"127.0.0.1", static_cast<plat::INTERNET_PORT>(port), nullptr,
                                      nullptr, plat::INTERNET_SERVICE_HTTP, 0, 0);
    if (!connect_) return nullptr;
    plat::InternetSetOptionW(connect_, plat::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
    return plat::HttpOpenRequestW(connect_, u"GET", path, u"HTTP/1.0", nullptr, nullptr, flags, 0);
  }

  std::string ReadAll(plat::HINTERNET request, bool* ok) {
    std::string out;
    char buffer[4096];
    for (;;) {
      plat::DWORD n = 0;
      if (!plat::InternetReadFile(request, buffer, sizeof buffer, &n)) {
        *ok = false;
        return out;
      }
      if (n == 0) break;
      out.append(buffer, n);
    }
    *ok = true;
    return out;
  }

  plat::HINTERNET internet_ = nullptr;
  plat::HINTERNET connect_ = nullptr;
  orvtest::HttpTestServer server_;
};

TEST_F(InetHandlesTest, BodyStreamsAsItArrives) {
  server_.Route("/slow", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = std::string(8, 'x');
    r.trickleDelayMs = 200;
    return r;
  });
  plat::HINTERNET request = Open(server_.Port(), u"/slow", 5000);
  ASSERT_NE(request, nullptr);
  auto start = Clock::now();
  ASSERT_TRUE(plat::HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  char c;
  plat::DWORD n = 0;
  ASSERT_TRUE(plat::InternetReadFile(request, &c, 1, &n));
  EXPECT_EQ(n, 1u);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1200));  // long before the last byte is sent
  bool ok = false;
  EXPECT_EQ(ReadAll(request, &ok).size(), 7u);
  EXPECT_TRUE(ok);
  plat::InternetCloseHandle(request);
  plat::InternetCloseHandle(connect_);
}

TEST_F(InetHandlesTest, GzipBodiesAreHandedOverUndecoded) {
  std::string body(5000, 'z');
  server_.Route("/gz", [&](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = body;
    r.gzip = true;
    return r;
  });
  plat::HINTERNET request = Open(server_.Port(), u"/gz", 5000);
  ASSERT_TRUE(plat::HttpSendRequestW(request, u"Accept-Encoding: gzip", static_cast<plat::DWORD>(-1), nullptr, 0));
  char16_t text[64];
  plat::DWORD size = sizeof text;
  ASSERT_TRUE(plat::HttpQueryInfoW(request, plat::HTTP_QUERY_CONTENT_ENCODING, text, &size, nullptr));
  EXPECT_EQ(std::u16string(text), u"gzip");
  plat::DWORD status = 0;
  size = sizeof status;
  ASSERT_TRUE(plat::HttpQueryInfoW(request, plat::HTTP_QUERY_STATUS_CODE | plat::HTTP_QUERY_FLAG_NUMBER, &status,
                                   &size, nullptr));
  EXPECT_EQ(status, 200u);
  bool ok = false;
  EXPECT_EQ(ReadAll(request, &ok), orvtest::GzipEncode(body));
  EXPECT_TRUE(ok);
  EXPECT_EQ(server_.Requests().at(0).Header("Accept-Encoding"), "gzip");
  plat::InternetCloseHandle(request);
  plat::InternetCloseHandle(connect_);
}

TEST_F(InetHandlesTest, ReceiveTimeoutAndCancel) {
  server_.Route("/stall", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = "late";
    r.stallBeforeBodyMs = 6000;
    return r;
  });
  // A short receive time-out ends the read.
  plat::HINTERNET request = Open(server_.Port(), u"/stall", 300);
  ASSERT_TRUE(plat::HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  char buffer[16];
  plat::DWORD n = 0;
  auto start = Clock::now();
  EXPECT_FALSE(plat::InternetReadFile(request, buffer, sizeof buffer, &n));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  plat::InternetCloseHandle(request);

  // Closing the handle from another thread ends a blocked read at once.
  request = Open(server_.Port(), u"/stall", 30000);
  ASSERT_TRUE(plat::HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  std::thread closer([request] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    plat::InternetCloseHandle(request);
  });
  start = Clock::now();
  EXPECT_FALSE(plat::InternetReadFile(request, buffer, sizeof buffer, &n));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  closer.join();
  plat::InternetCloseHandle(connect_);
}

TEST_F(InetHandlesTest, MissingHeadersAndWrongHandles) {
  server_.Route("/chunked", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = "abc";
    r.chunked = true;
    return r;
  });
  plat::HINTERNET request = Open(server_.Port(), u"/chunked", 5000);
  ASSERT_TRUE(plat::HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  plat::DWORD value = 0, size = sizeof value;
  EXPECT_FALSE(plat::HttpQueryInfoW(request, plat::HTTP_QUERY_CONTENT_LENGTH | plat::HTTP_QUERY_FLAG_NUMBER, &value,
                                    &size, nullptr));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_HTTP_HEADER_NOT_FOUND);
  char16_t tiny[2];
  size = sizeof tiny;
  EXPECT_FALSE(plat::HttpQueryInfoW(request, plat::HTTP_QUERY_STATUS_CODE, tiny, &size, nullptr));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 8u);  // "200" and its null, in bytes
  bool ok = false;
  EXPECT_EQ(ReadAll(request, &ok), "abc");
  EXPECT_TRUE(ok);
  EXPECT_FALSE(plat::InternetReadFile(connect_, tiny, 1, &value));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  plat::InternetCloseHandle(request);
  EXPECT_FALSE(plat::InternetCloseHandle(request));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
  plat::InternetCloseHandle(connect_);
}

TEST_F(InetHandlesTest, SelfSignedHttpsIsRefused) {
  orvtest::SelfSignedTlsServer tls(device_.Scratch());
  ASSERT_NE(tls.Port(), 0) << "the TLS server did not start";
  plat::HINTERNET request = Open(tls.Port(), u"/", 5000, plat::INTERNET_FLAG_SECURE);
  ASSERT_NE(request, nullptr);
  EXPECT_FALSE(plat::HttpSendRequestW(request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INTERNET_INVALID_CA);
  plat::InternetCloseHandle(request);
  plat::InternetCloseHandle(connect_);
}

TEST_F(InetHandlesTest, ModulesResolveByNameAndOrdinal) {
  plat::RegisterInternetModules();
  plat::HMODULE inet = plat::LoadLibraryW(u"wininet.dll");
  ASSERT_NE(inet, nullptr);
  const char* names[] = {"InternetOpenW", "InternetCloseHandle", "InternetReadFile", "InternetWriteFile",
                         "HttpQueryInfoW", "HttpSendRequestW", "HttpSendRequestExW", "HttpOpenRequestW",
                         "InternetConnectW", "HttpEndRequestW", "HttpAddRequestHeadersW", "InternetCrackUrlW",
                         "InternetOpenUrlW", "InternetSetOptionW", "InternetErrorDlg", "InternetQueryOptionW",
                         "InternetSetCookieW", "InternetCombineUrlW", "InternetCreateUrlW",
                         "InternetCanonicalizeUrlW", "InternetSetStatusCallbackW"};
  for (const char* name : names) EXPECT_NE(plat::GetProcAddress(inet, name), nullptr) << name;
  EXPECT_EQ(plat::GetProcAddress(inet, "InternetDial"), nullptr);
  plat::FreeLibrary(inet);

  plat::HMODULE cell = plat::LoadLibraryW(u"cellcore.dll");
  ASSERT_NE(cell, nullptr);
  auto establish = reinterpret_cast<decltype(&plat::ConnMgrEstablishConnection)>(
      plat::GetProcAddress(cell, reinterpret_cast<const char*>(120)));
  auto status = reinterpret_cast<decltype(&plat::ConnMgrConnectionStatus)>(
      plat::GetProcAddress(cell, reinterpret_cast<const char*>(121)));
  auto release = reinterpret_cast<decltype(&plat::ConnMgrReleaseConnection)>(
      plat::GetProcAddress(cell, reinterpret_cast<const char*>(122)));
  ASSERT_TRUE(establish && status && release);
  plat::SetConnectionProvider(std::make_shared<plat::HostNetworkProvider>(true));
  plat::CONNMGR_CONNECTIONINFO info{};
  info.cbSize = sizeof info;
  plat::HANDLE h = nullptr;
  ASSERT_EQ(establish(&info, &h), plat::S_OK_CONN);
  EXPECT_EQ(plat::WaitForSingleObject(h, 1000), plat::WAIT_OBJECT_0);  // the handle is waitable
  plat::DWORD s = 0;
  EXPECT_EQ(status(h, &s), plat::S_OK_CONN);
  EXPECT_EQ(s, plat::CONNMGR_STATUS_CONNECTED);
  EXPECT_EQ(release(h, 1), plat::S_OK_CONN);
  EXPECT_EQ(plat::LiveConnectionCount(), 0u);
  plat::SetConnectionProvider(nullptr);
  plat::FreeLibrary(cell);
}

}  // namespace
