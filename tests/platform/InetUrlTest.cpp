#include <gtest/gtest.h>

#include "platform/base/Text.h"
#include "platform/inet/Inet.h"
#include "tests/support/TempDevice.h"

namespace {

class InetUrlTest : public orvtest::DeviceTest {};

std::u16string Combine(const char16_t* base, const char16_t* rel, plat::DWORD flags = plat::ICU_NO_ENCODE) {
  char16_t buffer[1024];
  plat::DWORD length = 1024;
  if (!plat::InternetCombineUrlW(base, rel, buffer, &length, flags)) return u"<failed>";
  return std::u16string(buffer, length);
}

TEST_F(InetUrlTest, CombinesAsRfc3986Examples) {
  const char16_t* base = u"http://a/b/c/d;p?q";
  struct Case {
    const char16_t* rel;
    const char16_t* result;
  } cases[] = {
      // Normal examples (section 5.4.1).
      {u"g:h", u"g:h"}, {u"g", u"http://a/b/c/g"}, {u"./g", u"http://a/b/c/g"}, {u"g/", u"http://a/b/c/g/"},
      {u"/g", u"http://a/g"}, {u"//g", u"http://g"}, {u"?y", u"http://a/b/c/d;p?y"}, {u"g?y", u"http://a/b/c/g?y"},
      {u"#s", u"http://a/b/c/d;p?q#s"}, {u"g#s", u"http://a/b/c/g#s"}, {u"g?y#s", u"http://a/b/c/g?y#s"},
      {u";x", u"http://a/b/c/;x"}, {u"g;x", u"http://a/b/c/g;x"}, {u"g;x?y#s", u"http://a/b/c/g;x?y#s"},
      {u"", u"http://a/b/c/d;p?q"}, {u".", u"http://a/b/c/"}, {u"./", u"http://a/b/c/"}, {u"..", u"http://a/b/"},
      {u"../", u"http://a/b/"}, {u"../g", u"http://a/b/g"}, {u"../..", u"http://a/"}, {u"../../", u"http://a/"},
      {u"../../g", u"http://a/g"},
      // Abnormal examples (section 5.4.2).
      {u"../../../g", u"http://a/g"}, {u"../../../../g", u"http://a/g"}, {u"/./g", u"http://a/g"},
      {u"/../g", u"http://a/g"}, {u"g.", u"http://a/b/c/g."}, {u".g", u"http://a/b/c/.g"},
      {u"g..", u"http://a/b/c/g.."}, {u"..g", u"http://a/b/c/..g"}, {u"./../g", u"http://a/b/g"},
      {u"./g/.", u"http://a/b/c/g/"}, {u"g/./h", u"http://a/b/c/g/h"}, {u"g/../h", u"http://a/b/c/h"},
      {u"g;x=1/./y", u"http://a/b/c/g;x=1/y"}, {u"g;x=1/../y", u"http://a/b/c/y"},
      {u"g?y/./x", u"http://a/b/c/g?y/./x"}, {u"g?y/../x", u"http://a/b/c/g?y/../x"},
      {u"g#s/./x", u"http://a/b/c/g#s/./x"}, {u"g#s/../x", u"http://a/b/c/g#s/../x"}, {u"http:g", u"http:g"},
  };
  for (const Case& c : cases) EXPECT_EQ(Combine(base, c.rel), c.result) << plat::Utf16ToUtf8(c.rel);
}

TEST_F(InetUrlTest, CombineEncodesUnsafeCharactersAndReportsSizes) {
  EXPECT_EQ(Combine(u"http://a/b/", u"c d\u00e9", 0), u"http://a/b/c%20d%C3%A9");
  EXPECT_EQ(Combine(u"http://a/b/", u"c d", plat::ICU_NO_ENCODE), u"http://a/b/c d");
  char16_t small[4];
  plat::DWORD length = 4;
  EXPECT_FALSE(plat::InternetCombineUrlW(u"http://a/", u"bcdef", small, &length, 0));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 15u);  // "http://a/bcdef" and its null
  EXPECT_EQ(Combine(u"relative/only", u"x"), u"<failed>");
}

// A refused address names only the address and false.
struct CrackCase {
  const char16_t* url;
  bool ok;
  plat::INTERNET_SCHEME scheme{};
  const char16_t* host = nullptr;
  int port = 0;
  const char16_t* user = nullptr;
  const char16_t* password = nullptr;
  const char16_t* path = nullptr;
  const char16_t* extra = nullptr;
};

TEST_F(InetUrlTest, CracksUrls) {
  using plat::INTERNET_SCHEME_FTP;
  using plat::INTERNET_SCHEME_HTTP;
  using plat::INTERNET_SCHEME_HTTPS;
  using plat::INTERNET_SCHEME_UNKNOWN;
  const CrackCase cases[] = {
      {u"http://example.org/feed.xml?a=1#top", true, INTERNET_SCHEME_HTTP, u"example.org", 80, u"", u"", u"/feed.xml",
       u"?a=1#top"},
      {u"HTTPS://u:p@Example.org:8443", true, INTERNET_SCHEME_HTTPS, u"Example.org", 8443, u"u", u"p", u"", u""},
      {u"ftp://files.example.org/x", true, INTERNET_SCHEME_FTP, u"files.example.org", 21, u"", u"", u"/x", u""},
      {u"http://[::1]:8080/v6", true, INTERNET_SCHEME_HTTP, u"::1", 8080, u"", u"", u"/v6", u""},
      {u"foo://host/x", true, INTERNET_SCHEME_UNKNOWN, u"host", 0, u"", u"", u"/x", u""},
      {u"http://", false},
      {u"http://host:99999/", false},
      {u"http://host:12a/", false},
      {u"example.org/feed", false},
      {u"http://bad host/", false},
  };
  for (const CrackCase& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.url));
    char16_t host[256] = {}, user[64] = {}, password[64] = {}, path[256] = {}, extra[256] = {};
    plat::URL_COMPONENTSW parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUserName = user;
    parts.dwUserNameLength = 64;
    parts.lpszPassword = password;
    parts.dwPasswordLength = 64;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 256;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 256;
    ASSERT_EQ(plat::InternetCrackUrlW(c.url, 0, 0, &parts) != plat::FALSE, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(parts.nScheme, c.scheme);
    EXPECT_EQ(std::u16string(host), c.host);
    EXPECT_EQ(parts.nPort, c.port);
    EXPECT_EQ(std::u16string(user), c.user);
    EXPECT_EQ(std::u16string(password), c.password);
    EXPECT_EQ(std::u16string(path), c.path);
    EXPECT_EQ(std::u16string(extra), c.extra);
  }
}

TEST_F(InetUrlTest, CrackGivesPointersIntoTheUrlWithoutBuffers) {
  const char16_t* url = u"http://example.org/a/b?q";
  plat::URL_COMPONENTSW parts;
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  ASSERT_TRUE(plat::InternetCrackUrlW(url, 0, 0, &parts));
  EXPECT_EQ(std::u16string(parts.lpszHostName, parts.dwHostNameLength), u"example.org");
  EXPECT_EQ(parts.lpszHostName, url + 7);
  EXPECT_EQ(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength), u"/a/b");
  EXPECT_EQ(parts.lpszExtraInfo, nullptr);
}

TEST_F(InetUrlTest, CreatesAndCanonicalizesUrls) {
  char16_t host[] = u"example.org", path[] = u"/a b", extra[] = u"?x";
  plat::URL_COMPONENTSW parts;
  parts.nScheme = plat::INTERNET_SCHEME_HTTPS;
  parts.lpszHostName = host;
  parts.nPort = 443;
  parts.lpszUrlPath = path;
  parts.lpszExtraInfo = extra;
  char16_t buffer[256];
  plat::DWORD length = 256;
  ASSERT_TRUE(plat::InternetCreateUrlW(&parts, 0, buffer, &length));
  EXPECT_EQ(std::u16string(buffer, length), u"https://example.org/a b?x");
  parts.nPort = 8080;
  length = 256;
  ASSERT_TRUE(plat::InternetCreateUrlW(&parts, 0, buffer, &length));
  EXPECT_EQ(std::u16string(buffer, length), u"https://example.org:8080/a b?x");

  length = 256;
  ASSERT_TRUE(plat::InternetCanonicalizeUrlW(u"http://h/a/./b/../c d", buffer, &length, 0));
  EXPECT_EQ(std::u16string(buffer, length), u"http://h/a/c%20d");
  length = 256;
  ASSERT_TRUE(plat::InternetCanonicalizeUrlW(u"http://h", buffer, &length, 0));
  EXPECT_EQ(std::u16string(buffer, length), u"http://h/");
}

}  // namespace
