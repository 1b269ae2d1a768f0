// The program's binding to the internet library: loaded by name at run time,
// with the one internet handle, the proxy credentials and a cache of open
// server connections (most recently used first).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "core/Synchronized.h"
#include "platform/base/Module.h"
#include "platform/inet/Inet.h"

// Text of a string resource through the localizer; the English text (also
// localized) when the program carries no such resource.
std::u16string InetText(plat::UINT id, const char16_t* english);

struct CrackedUrl {
  plat::INTERNET_SCHEME scheme = plat::INTERNET_SCHEME_UNKNOWN;
  std::u16string user, password, host, path;  // path includes the query and fragment
  plat::INTERNET_PORT port = 0;
};

class CWinInet {
 public:
  static constexpr int kCacheSize = 20;
  static constexpr plat::DWORD kDefaultTimeoutMs = 30000;

  CWinInet();
  ~CWinInet();
  CWinInet(const CWinInet&) = delete;
  CWinInet& operator=(const CWinInet&) = delete;

  // Loads "wininet.dll" and resolves all 21 entry points, once; false when
  // the library or any entry point is missing.
  bool Bind();
  bool IsBound() const { return bound_; }
  bool OpenInternet();
  bool HasInternet();
  // A cached or new connection; null without an internet handle. The handle
  // is handed out until ReleaseConnection: the cache never closes a handle
  // in use (an evicted one is closed when its last user gives it back).
  plat::HINTERNET GetConnection(const std::u16string& host, plat::INTERNET_PORT port, const char16_t* user,
                                const char16_t* password, plat::DWORD service, plat::DWORD flags);
  // Gives back a handle of GetConnection; unknown handles are ignored.
  void ReleaseConnection(plat::HINTERNET handle);
  // Closes a request handle (a cached connection handle stays open). Takes no
  // lock, so another thread can end a blocked read.
  void CloseRequest(plat::HINTERNET handle);
  // Closes a handle known to be a request (never cached), without any lock.
  void CloseRequestHandle(plat::HINTERNET handle);
  void CloseAll();
  void Unload();

  plat::BOOL InternetCrackUrlW(const char16_t* url, plat::DWORD length, plat::DWORD flags, plat::URL_COMPONENTSW* c);
  plat::BOOL InternetCombineUrlW(const char16_t* base, const char16_t* relative, char16_t* buffer,
                                 plat::DWORD* length, plat::DWORD flags);
  plat::BOOL InternetCreateUrlW(const plat::URL_COMPONENTSW* c, plat::DWORD flags, char16_t* buffer, plat::DWORD* length);
  plat::BOOL InternetCanonicalizeUrlW(const char16_t* url, char16_t* buffer, plat::DWORD* length, plat::DWORD flags);
  plat::HINTERNET HttpOpenRequestW(plat::HINTERNET connect, const char16_t* verb, const char16_t* path,
                                   const char16_t* version, const char16_t* referrer, const char16_t** accept,
                                   plat::DWORD flags, std::uintptr_t context);
  plat::BOOL HttpQueryInfoW(plat::HINTERNET request, plat::DWORD level, void* buffer, plat::DWORD* length,
                            plat::DWORD* index);
  plat::BOOL InternetReadFile(plat::HINTERNET request, void* buffer, plat::DWORD toRead, plat::DWORD* read);
  plat::BOOL HttpAddRequestHeadersW(plat::HINTERNET request, const char16_t* headers, plat::DWORD length,
                                    plat::DWORD modifiers);
  plat::BOOL InternetSetOptionW(plat::HINTERNET handle, plat::DWORD option, void* buffer, plat::DWORD length);
  plat::BOOL InternetQueryOptionW(plat::HINTERNET handle, plat::DWORD option, void* buffer, plat::DWORD* length);

  plat::BOOL SendRequest(plat::HINTERNET request, const char16_t* headers, plat::DWORD length, void* optional,
                         plat::DWORD optionalLength);
  // Splits a URL ("http://" put in front when it has no "://"); http and https only.
  bool CrackUrl(const std::u16string& url, CrackedUrl& out, std::u16string& error);
  // Rebuilds an http or https URL in its normal form; false otherwise.
  bool NormalizeUrl(std::u16string& url);

  // The time-out set on every connection handed out (30,000 ms).
  void SetTimeout(plat::DWORD ms) { timeoutMs_ = ms; }
  plat::DWORD GetTimeout() const { return timeoutMs_; }
  int GetConnectCount() const { return connectCount_.load(); }

 private:
  struct Entry {
    std::u16string host;
    plat::INTERNET_PORT port = 0;
    plat::HINTERNET handle = nullptr;
    int uses = 0;  // handed out and not yet given back
  };
  struct Api;

  bool IsCachedConnection(plat::HINTERNET handle);

  CSynchronized lock_;
  plat::HMODULE module_ = nullptr;
  Api* api_ = nullptr;
  std::atomic<bool> bound_{false};
  bool bindTried_ = false;
  plat::HINTERNET internet_ = nullptr;
  std::uintptr_t context_ = 0;
  std::u16string proxyUser_, proxyPassword_;
  Entry cache_[kCacheSize];
  // Connections evicted from the cache while in use, closed when given back.
  std::vector<Entry> evicted_;
  std::atomic<plat::DWORD> timeoutMs_{kDefaultTimeoutMs};
  std::atomic<int> connectCount_{0};
};
