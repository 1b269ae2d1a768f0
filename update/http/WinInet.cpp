#include "update/http/WinInet.h"

#include <cstring>
#include <vector>

#include "core/Localizer.h"
#include "platform/base/Text.h"

using namespace plat;

std::u16string InetText(UINT id, const char16_t* english) {
  std::u16string text = LocalizeResourceString(id);
  return text.empty() ? Localize(english) : text;
}

struct CWinInet::Api {
  decltype(&plat::InternetOpenW) InternetOpenW;
  decltype(&plat::InternetCloseHandle) InternetCloseHandle;
  decltype(&plat::InternetReadFile) InternetReadFile;
  decltype(&plat::InternetWriteFile) InternetWriteFile;
  decltype(&plat::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&plat::HttpSendRequestW) HttpSendRequestW;
  decltype(&plat::HttpSendRequestExW) HttpSendRequestExW;
  decltype(&plat::HttpOpenRequestW) HttpOpenRequestW;
  decltype(&plat::InternetConnectW) InternetConnectW;
  decltype(&plat::HttpEndRequestW) HttpEndRequestW;
  decltype(&plat::HttpAddRequestHeadersW) HttpAddRequestHeadersW;
  decltype(&plat::InternetCrackUrlW) InternetCrackUrlW;
  decltype(&plat::InternetOpenUrlW) InternetOpenUrlW;
  decltype(&plat::InternetSetOptionW) InternetSetOptionW;
  decltype(&plat::InternetErrorDlg) InternetErrorDlg;
  decltype(&plat::InternetQueryOptionW) InternetQueryOptionW;
  decltype(&plat::InternetSetCookieW) InternetSetCookieW;
  decltype(&plat::InternetCombineUrlW) InternetCombineUrlW;
  decltype(&plat::InternetCreateUrlW) InternetCreateUrlW;
  decltype(&plat::InternetCanonicalizeUrlW) InternetCanonicalizeUrlW;
  decltype(&plat::InternetSetStatusCallbackW) InternetSetStatusCallbackW;
};

CWinInet::CWinInet() = default;

CWinInet::~CWinInet() {
  Unload();
  delete api_;
}

bool CWinInet::Bind() {
  CSyncLock hold(&lock_, u"CWinInet::Bind");
  if (bindTried_) return bound_;
  bindTried_ = true;
  // A loaded module is loaded once more, so Unload's FreeLibrary is ours.
  HMODULE module = LoadLibraryW(u"wininet.dll");
  if (!module) return false;
  Api* api = new Api{};
  bool all = true;
  auto get = [&](auto& slot, const char16_t* name) {
    FARPROC p = GetProcAddressW(module, name);
    if (!p) all = false;
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
  };
  get(api->InternetOpenW, u"InternetOpenW");
  get(api->InternetCloseHandle, u"InternetCloseHandle");
  get(api->InternetReadFile, u"InternetReadFile");
  get(api->InternetWriteFile, u"InternetWriteFile");
  get(api->HttpQueryInfoW, u"HttpQueryInfoW");
  get(api->HttpSendRequestW, u"HttpSendRequestW");
  get(api->HttpSendRequestExW, u"HttpSendRequestExW");
  get(api->HttpOpenRequestW, u"HttpOpenRequestW");
  get(api->InternetConnectW, u"InternetConnectW");
  get(api->HttpEndRequestW, u"HttpEndRequestW");
  get(api->HttpAddRequestHeadersW, u"HttpAddRequestHeadersW");
  get(api->InternetCrackUrlW, u"InternetCrackUrlW");
  get(api->InternetOpenUrlW, u"InternetOpenUrlW");
  get(api->InternetSetOptionW, u"InternetSetOptionW");
  get(api->InternetErrorDlg, u"InternetErrorDlg");
  get(api->InternetQueryOptionW, u"InternetQueryOptionW");
  get(api->InternetSetCookieW, u"InternetSetCookieW");
  get(api->InternetCombineUrlW, u"InternetCombineUrlW");
  get(api->InternetCreateUrlW, u"InternetCreateUrlW");
  get(api->InternetCanonicalizeUrlW, u"InternetCanonicalizeUrlW");
  get(api->InternetSetStatusCallbackW, u"InternetSetStatusCallbackW");
  if (!all) {
    delete api;
    FreeLibrary(module);
    return false;
  }
  module_ = module;
  api_ = api;
  bound_ = true;
  return true;
}

bool CWinInet::OpenInternet() {
  if (!Bind()) return false;
  CSyncLock hold(&lock_, u"CWinInet::OpenInternet");
  if (!internet_) internet_ = api_->InternetOpenW(u"Mozilla/5.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  return internet_ != nullptr;
}

bool CWinInet::HasInternet() {
  CSyncLock hold(&lock_, u"CWinInet::HasInternet");
  return internet_ != nullptr;
}

void CWinInet::Unload() {
  CloseAll();
  CSyncLock hold(&lock_, u"CWinInet::Unload");
  if (module_) {
    FreeLibrary(module_);
    module_ = nullptr;
  }
  for (int i = 0; i < 1000 && GetModuleHandleW(u"wininet.exe"); ++i) FreeLibrary(GetModuleHandleW(u"wininet.exe"));
  bound_ = false;
  bindTried_ = false;
}

void CWinInet::CloseAll() {
  CSyncLock hold(&lock_, u"CWinInet::CloseAll");
  if (!api_ || !bound_) return;
  for (Entry& e : cache_) {
    if (e.handle) api_->InternetCloseHandle(e.handle);
    e = Entry{};
  }
  for (const Entry& e : evicted_) api_->InternetCloseHandle(e.handle);
  evicted_.clear();
  if (internet_) {
    api_->InternetSetStatusCallbackW(internet_, nullptr);
    api_->InternetCloseHandle(internet_);
    internet_ = nullptr;
  }
}

HINTERNET CWinInet::GetConnection(const std::u16string& host, INTERNET_PORT port, const char16_t* user,
                                  const char16_t* password, DWORD service, DWORD flags) {
  CSyncLock hold(&lock_, u"CWinInet::GetConnection");
  if (!bound_ || !internet_) return nullptr;
  int index = -1;
  for (int i = 0; i < kCacheSize; ++i) {
    if (cache_[i].handle && cache_[i].port == port && EqualsNoCase(cache_[i].host, host)) {
      index = i;
      break;
    }
  }
  if (index < 0) {
    HINTERNET h = api_->InternetConnectW(internet_, host.c_str(), port, user, password, service, flags, context_);
    if (!h) return nullptr;
    ++connectCount_;
    index = kCacheSize - 1;
    // The least recently used goes; a connection still in use is closed
    // only when its last user gives it back.
    if (cache_[index].handle) {
      if (cache_[index].uses > 0) {
        evicted_.push_back(cache_[index]);
      } else {
        api_->InternetCloseHandle(cache_[index].handle);
      }
    }
    cache_[index] = Entry{host, port, h};
  }
  ++cache_[index].uses;
  Entry used = cache_[index];
  for (int i = index; i > 0; --i) cache_[i] = cache_[i - 1];
  cache_[0] = used;
  DWORD timeout = timeoutMs_;
  api_->InternetSetOptionW(used.handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  api_->InternetSetOptionW(used.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  api_->InternetSetOptionW(used.handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
  return used.handle;
}

void CWinInet::ReleaseConnection(HINTERNET handle) {
  if (!handle) return;
  CSyncLock hold(&lock_, u"CWinInet::ReleaseConnection");
  if (!api_ || !bound_) return;
  for (Entry& e : cache_) {
    if (e.handle == handle) {
      if (e.uses > 0) --e.uses;
      return;
    }
  }
  for (auto it = evicted_.begin(); it != evicted_.end(); ++it) {
    if (it->handle != handle) continue;
    if (--it->uses <= 0) {
      api_->InternetCloseHandle(it->handle);
      evicted_.erase(it);
    }
    return;
  }
}

bool CWinInet::IsCachedConnection(HINTERNET handle) {
  CSyncLock hold(&lock_, u"CWinInet::IsCachedConnection");
  for (const Entry& e : cache_) {
    if (e.handle == handle) return true;
  }
  for (const Entry& e : evicted_) {
    if (e.handle == handle) return true;
  }
  return false;
}

void CWinInet::CloseRequest(HINTERNET handle) {
  if (!handle || !bound_) return;
  if (IsCachedConnection(handle)) return;
  api_->InternetCloseHandle(handle);
}

void CWinInet::CloseRequestHandle(HINTERNET handle) {
  if (handle && bound_) api_->InternetCloseHandle(handle);
}

#define ORV_BOUND_OR(fail) \
  if (!Bind()) {           \
    return fail;           \
  }

BOOL CWinInet::InternetCrackUrlW(const char16_t* url, DWORD length, DWORD flags, URL_COMPONENTSW* c) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetCrackUrlW(url, length, flags, c);
}
BOOL CWinInet::InternetCombineUrlW(const char16_t* base, const char16_t* relative, char16_t* buffer, DWORD* length,
                                   DWORD flags) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetCombineUrlW(base, relative, buffer, length, flags);
}
BOOL CWinInet::InternetCreateUrlW(const URL_COMPONENTSW* c, DWORD flags, char16_t* buffer, DWORD* length) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetCreateUrlW(c, flags, buffer, length);
}
BOOL CWinInet::InternetCanonicalizeUrlW(const char16_t* url, char16_t* buffer, DWORD* length, DWORD flags) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetCanonicalizeUrlW(url, buffer, length, flags);
}
HINTERNET CWinInet::HttpOpenRequestW(HINTERNET connect, const char16_t* verb, const char16_t* path,
                                     const char16_t* version, const char16_t* referrer, const char16_t** accept,
                                     DWORD flags, std::uintptr_t context) {
  ORV_BOUND_OR(nullptr);
  return api_->HttpOpenRequestW(connect, verb, path, version, referrer, accept, flags, context);
}
// Calls on a request handle take no lock of this object: each request is
// guarded by the library on its own, so transfers of different requests run
// at the same time.
BOOL CWinInet::HttpQueryInfoW(HINTERNET request, DWORD level, void* buffer, DWORD* length, DWORD* index) {
  ORV_BOUND_OR(FALSE);
  return api_->HttpQueryInfoW(request, level, buffer, length, index);
}
BOOL CWinInet::InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetReadFile(request, buffer, toRead, read);
}
BOOL CWinInet::HttpAddRequestHeadersW(HINTERNET request, const char16_t* headers, DWORD length, DWORD modifiers) {
  ORV_BOUND_OR(FALSE);
  return api_->HttpAddRequestHeadersW(request, headers, length, modifiers);
}
BOOL CWinInet::InternetSetOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD length) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetSetOptionW(handle, option, buffer, length);
}
BOOL CWinInet::InternetQueryOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD* length) {
  ORV_BOUND_OR(FALSE);
  return api_->InternetQueryOptionW(handle, option, buffer, length);
}

BOOL CWinInet::SendRequest(HINTERNET request, const char16_t* headers, DWORD length, void* optional,
                           DWORD optionalLength) {
  if (!request || !Bind()) return FALSE;
  for (;;) {
    {
      CSyncLock hold(&lock_, u"CWinInet::SendRequest");
      if (internet_ && !proxyUser_.empty()) {
        api_->InternetSetOptionW(internet_, INTERNET_OPTION_PROXY_USERNAME, proxyUser_.data(),
                                 static_cast<DWORD>(proxyUser_.size() + 1));
      }
      if (internet_ && !proxyPassword_.empty()) {
        api_->InternetSetOptionW(internet_, INTERNET_OPTION_PROXY_PASSWORD, proxyPassword_.data(),
                                 static_cast<DWORD>(proxyPassword_.size() + 1));
      }
    }
    // The send itself holds no lock: it waits for the answer's head, and
    // other requests go on meanwhile.
    std::u16string statusText;
    const BOOL result = api_->HttpSendRequestW(request, headers, length, optional, optionalLength);
    const DWORD error = GetLastError();
    if (result) {
      char16_t status[16] = {};
      DWORD size = sizeof status;
      if (api_->HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) statusText = status;
    }
    // An unknown certificate authority stays an error: the download is refused
    // rather than made without verification.
    if (!result) SetLastError(error);
    if (statusText != u"407") return result;
    if (api_->InternetErrorDlg(nullptr, request, 0, FLAGS_ERROR_UI_FILTER_FOR_ERRORS, nullptr) !=
        ERROR_INTERNET_FORCE_RETRY) {
      return result;
    }
    auto readText = [&](DWORD option, std::u16string& out) {
      std::vector<char16_t> buffer(32);
      DWORD size = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
      if (!api_->InternetQueryOptionW(request, option, buffer.data(), &size)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
        buffer.assign(size / sizeof(char16_t) + 1, 0);
        if (!api_->InternetQueryOptionW(request, option, buffer.data(), &size)) return;
      }
      out = buffer.data();
    };
    CSyncLock hold(&lock_, u"CWinInet::SendRequest");
    readText(INTERNET_OPTION_PROXY_USERNAME, proxyUser_);
    readText(INTERNET_OPTION_PROXY_PASSWORD, proxyPassword_);
  }
}

bool CWinInet::CrackUrl(const std::u16string& input, CrackedUrl& out, std::u16string& error) {
  out = CrackedUrl{};
  error.clear();
  if (!Bind()) {
    error = u"No internet";
    return false;
  }
  std::u16string url = input.find(u"://") == std::u16string::npos ? u"http://" + input : input;
  std::vector<char16_t> scheme(64), user(256), password(256), host(1024), path(4096), extra(4096);
  URL_COMPONENTSW c;
  c.lpszScheme = scheme.data();
  c.dwSchemeLength = 64;
  c.lpszUserName = user.data();
  c.dwUserNameLength = 256;
  c.lpszPassword = password.data();
  c.dwPasswordLength = 256;
  c.lpszHostName = host.data();
  c.dwHostNameLength = 1024;
  c.lpszUrlPath = path.data();
  c.dwUrlPathLength = 4096;
  c.lpszExtraInfo = extra.data();
  c.dwExtraInfoLength = 4096;
  if (!api_->InternetCrackUrlW(url.c_str(), 0, 0, &c)) {
    error = InetText(233, u"Invalid url");
    return false;
  }
  if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) {
    error = InetText(234, u"Unsupported url scheme (only http and https are supported)");
    return false;
  }
  out.scheme = c.nScheme;
  out.user = user.data();
  out.password = password.data();
  out.host = host.data();
  out.port = c.nPort;
  out.path = std::u16string(path.data()) + extra.data();
  return true;
}

bool CWinInet::NormalizeUrl(std::u16string& url) {
  CrackedUrl parts;
  std::u16string error;
  std::u16string full = url.find(u"://") == std::u16string::npos ? u"http://" + url : url;
  if (!CrackUrl(full, parts, error)) return false;
  URL_COMPONENTSW c;
  c.nScheme = parts.scheme;
  c.lpszHostName = parts.host.data();
  c.nPort = parts.port;
  c.lpszUserName = parts.user.empty() ? nullptr : parts.user.data();
  c.lpszPassword = parts.password.empty() ? nullptr : parts.password.data();
  c.lpszUrlPath = parts.path.data();
  std::vector<char16_t> buffer(2048);
  DWORD length = 2048;
  if (!api_->InternetCreateUrlW(&c, 0, buffer.data(), &length)) return false;
  url.assign(buffer.data(), length);
  return true;
}
