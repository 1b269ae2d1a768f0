// Internet, connection and request handles over libcurl. Each request runs
// its own curl multi handle, driven by the calling thread inside
// HttpSendRequestW and InternetReadFile; a close from another thread wakes the
// driving thread, which then fails the call as cancelled.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/PercentEscape.h"
#include "platform/base/Text.h"
#include "platform/inet/Inet.h"
#include "platform/inet/InetUrl.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes buffered ahead of the reader before the transfer is paused.
constexpr std::size_t kPendingHighWater = 256 * 1024;
constexpr long kMaxRedirects = 10;

enum class Kind { Internet, Connect, Request };

struct Options {
  DWORD connectTimeout = 60000;
  DWORD sendTimeout = 30000;
  DWORD receiveTimeout = 30000;
};

struct HandleObj {
  explicit HandleObj(Kind k) : kind(k) {}
  virtual ~HandleObj() = default;
  const Kind kind;
  std::mutex optionLock;  // guards opts, the proxy credentials and the callback
  Options opts;
  INTERNET_STATUS_CALLBACK callback = nullptr;
  std::uintptr_t context = 0;
  std::atomic<bool> closed{false};

  Options GetOptions() {
    std::lock_guard<std::mutex> g(optionLock);
    return opts;
  }
};

// What the requests of one internet session share, as the platform's
// library did: open connections per host (kept alive between requests),
// name look-ups and TLS sessions.
class SessionShare {
 public:
  SessionShare() {
    share_ = curl_share_init();
    if (!share_) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  }
  ~SessionShare() {
    if (share_) curl_share_cleanup(share_);
  }
  SessionShare(const SessionShare&) = delete;
  SessionShare& operator=(const SessionShare&) = delete;
  CURLSH* Get() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SessionShare*>(self)->locks_[Slot(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SessionShare*>(self)->locks_[Slot(data)].unlock();
  }
  static std::size_t Slot(curl_lock_data data) {
    const auto n = static_cast<std::size_t>(data);
    return n < kSlots ? n : 0;
  }
  static constexpr std::size_t kSlots = 16;
  CURLSH* share_ = nullptr;
  std::mutex locks_[kSlots];
};

struct InternetObj : HandleObj {
  InternetObj() : HandleObj(Kind::Internet) {}
  SessionShare share;
  std::string agent;
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;
  std::string proxyUser;
  std::string proxyPassword;
};

struct ConnectObj : HandleObj {
  ConnectObj() : HandleObj(Kind::Connect) {}
  std::shared_ptr<InternetObj> internet;
  std::u16string host;
  INTERNET_PORT port = 0;
  std::string user;
  std::string password;
};

struct ResponseHeader {
  std::string name;
  std::string value;
};

struct RequestObj : HandleObj {
  RequestObj() : HandleObj(Kind::Request) { multi = curl_multi_init(); }
  ~RequestObj() override {
    ResetTransfer();
    if (multi) curl_multi_cleanup(multi);
  }

  void ResetTransfer() {
    if (easy) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      easy = nullptr;
    }
    if (headerList) {
      curl_slist_free_all(headerList);
      headerList = nullptr;
    }
    pending.clear();
    pendingPos = 0;
    paused = false;
    done = false;
    result = CURLE_OK;
    status = 0;
    statusText.clear();
    headers.clear();
    headersComplete = false;
    headEnded = false;
    sent = false;
  }

  std::size_t Available() const { return pending.size() - pendingPos; }

  std::shared_ptr<ConnectObj> connect;
  std::string verb;
  std::string path;
  bool http10 = false;
  DWORD flags = 0;
  DWORD securityFlags = 0;
  std::vector<std::string> extraHeaders;
  std::string body;        // sent with the request
  bool collectingBody = false;

  std::mutex io;  // one send or read at a time
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  bool sent = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  bool paused = false;
  bool activity = false;
  std::string pending;
  std::size_t pendingPos = 0;
  int status = 0;
  std::string statusText;
  std::vector<ResponseHeader> headers;
  bool headersComplete = false;
  // The blank line that ends the latest response's head has arrived.
  bool headEnded = false;
  bool locationSeen = false;
  std::string url;
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

// The handle table: handle values are increasing numbers, never reused, so a
// stale handle never reaches another object.
std::mutex g_tableLock;
std::unordered_map<std::uintptr_t, std::shared_ptr<HandleObj>> g_table;
std::uintptr_t g_nextHandle = 0x1000;

HINTERNET AddHandle(std::shared_ptr<HandleObj> obj) {
  std::lock_guard<std::mutex> g(g_tableLock);
  std::uintptr_t value = g_nextHandle;
  g_nextHandle += 4;
  g_table.emplace(value, std::move(obj));
  return reinterpret_cast<HINTERNET>(value);
}

std::shared_ptr<HandleObj> FindHandle(HINTERNET h) {
  std::lock_guard<std::mutex> g(g_tableLock);
  auto it = g_table.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == g_table.end()) return nullptr;
  return it->second;
}

template <class T>
std::shared_ptr<T> FindAs(HINTERNET h, Kind kind) {
  std::shared_ptr<HandleObj> obj = FindHandle(h);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (obj->kind != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(obj);
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Narrow(const char16_t* s) { return s ? Utf16ToUtf8(s) : std::string(); }

bool EqualsNoCaseA(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Splits a header block at CR and LF; empty lines are dropped.
std::vector<std::string> SplitHeaderLines(const char16_t* headers, DWORD length) {
  std::vector<std::string> lines;
  if (!headers) return lines;
  std::u16string block = length == 0xFFFFFFFFu ? std::u16string(headers) : std::u16string(headers, length);
  std::size_t start = 0;
  while (start <= block.size()) {
    std::size_t end = block.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) end = block.size();
    std::string line = plat::Trim(Utf16ToUtf8(std::u16string_view(block).substr(start, end - start)), plat::IsXmlSpace);
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string HeaderName(const std::string& line) {
  std::size_t colon = line.find(':');
  return plat::Trim(colon == std::string::npos ? line : line.substr(0, colon), plat::IsXmlSpace);
}

// Cookies set by InternetSetCookieW, per host.
std::mutex g_cookieLock;
std::map<std::u16string, std::map<std::string, std::string>> g_cookies;

std::string CookieHeaderFor(const std::u16string& host) {
  std::lock_guard<std::mutex> g(g_cookieLock);
  auto it = g_cookies.find(ToLower(host));
  if (it == g_cookies.end() || it->second.empty()) return std::string();
  std::string out = "Cookie: ";
  bool first = true;
  for (const auto& [name, value] : it->second) {
    if (!first) out += "; ";
    out += name + "=" + value;
    first = false;
  }
  return out;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<RequestObj*>(user);
  std::size_t n = size * count;
  if (r->Available() >= kPendingHighWater) {
    r->paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (r->pendingPos > 0 && r->pendingPos == r->pending.size()) {
    r->pending.clear();
    r->pendingPos = 0;
  }
  r->pending.append(data, n);
  r->activity = true;
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<RequestObj*>(user);
  std::size_t n = size * count;
  std::string line(data, n);
  r->activity = true;
  if (line.starts_with("HTTP/")) {
    r->headers.clear();
    r->locationSeen = false;
    r->headersComplete = false;
    r->headEnded = false;
    std::size_t sp = line.find(' ');
    r->status = sp == std::string::npos ? 0 : std::atoi(line.c_str() + sp + 1);
    std::size_t sp2 = sp == std::string::npos ? std::string::npos : line.find(' ', sp + 1);
    r->statusText = sp2 == std::string::npos ? std::string() : plat::Trim(line.substr(sp2 + 1), plat::IsXmlSpace);
    return n;
  }
  std::string trimmed = plat::Trim(line, plat::IsXmlSpace);
  if (trimmed.empty()) {
    r->headEnded = true;
    bool informational = r->status >= 100 && r->status < 200;
    bool followed = r->status >= 300 && r->status < 400 && r->locationSeen &&
                    !(r->flags & INTERNET_FLAG_NO_AUTO_REDIRECT);
    if (!informational && !followed) r->headersComplete = true;
    return n;
  }
  std::size_t colon = trimmed.find(':');
  if (colon == std::string::npos) return n;
  ResponseHeader h{plat::Trim(trimmed.substr(0, colon), plat::IsXmlSpace), plat::Trim(trimmed.substr(colon + 1), plat::IsXmlSpace)};
  if (EqualsNoCaseA(h.name, "Location")) r->locationSeen = true;
  r->headers.push_back(std::move(h));
  return n;
}

DWORD MapCurlError(RequestObj& r, CURLcode code) {
  switch (code) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_SSL_CONNECT_ERROR: return ERROR_INTERNET_SECURE_FAILURE;
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verify = 0;
      if (r.easy) curl_easy_getinfo(r.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
      if (verify == 0 || verify == 62) return ERROR_INTERNET_SEC_CERT_CN_INVALID;  // host name mismatch
      if (verify == 9 || verify == 10) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
      return ERROR_INTERNET_INVALID_CA;
    }
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

// Runs the transfer until ready() holds, the transfer ends, the handle is
// closed or nothing has arrived for idleLimitMs. True for ready or ended.
bool Pump(RequestObj& r, const std::function<bool()>& ready, DWORD idleLimitMs) {
  auto lastActivity = Clock::now();
  r.activity = false;
  for (;;) {
    if (r.closed.load()) {
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return false;
    }
    if (ready() || r.done) return true;
    if (r.paused && r.Available() == 0) {
      r.paused = false;
      curl_easy_pause(r.easy, CURLPAUSE_CONT);
    }
    int running = 0;
    curl_multi_perform(r.multi, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(r.multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == r.easy) {
        r.done = true;
        r.result = msg->data.result;
      }
    }
    if (ready() || r.done) continue;
    auto now = Clock::now();
    if (r.activity) {
      lastActivity = now;
      r.activity = false;
    }
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity).count();
    if (idle >= static_cast<long long>(idleLimitMs)) {
      SetLastError(ERROR_INTERNET_TIMEOUT);
      return false;
    }
    long long wait = std::min<long long>(static_cast<long long>(idleLimitMs) - idle, 200);
    curl_multi_poll(r.multi, nullptr, 0, static_cast<int>(std::max<long long>(wait, 1)), nullptr);
  }
}

std::string EncodePath(const std::string& path) {
  return PercentEscape(std::string_view(path), [](unsigned char c) { return c <= 0x20 || c >= 0x7F; });
}

BOOL StartSend(RequestObj& r, const std::vector<std::string>& callHeaders, std::string body) {
  std::lock_guard<std::mutex> io(r.io);
  if (r.closed.load()) {
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return FALSE;
  }
  if (!r.multi) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  r.ResetTransfer();
  r.easy = curl_easy_init();
  if (!r.easy) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  ConnectObj& c = *r.connect;
  InternetObj& inet = *c.internet;
  Options opts = r.GetOptions();
  bool secure = (r.flags & INTERNET_FLAG_SECURE) != 0;
  std::string host = Utf16ToUtf8(c.host);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  std::string path = r.path.empty() ? "/" : r.path;
  if (path[0] != '/') path = "/" + path;
  r.url = std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(c.port) + EncodePath(path);

  CURL* e = r.easy;
  curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  if (inet.share.Get()) curl_easy_setopt(e, CURLOPT_SHARE, inet.share.Get());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorBuffer);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<DWORD>(opts.connectTimeout, 1)));
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, r.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  bool follow = !(r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Bodies are handed over as they come: no Accept-Encoding of curl's own and no decoding.
  curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(e, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, (r.securityFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) ? 0L : 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (r.securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  if (!inet.agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, inet.agent.c_str());
  {
    std::lock_guard<std::mutex> g(inet.optionLock);
    if (inet.accessType == INTERNET_OPEN_TYPE_DIRECT) {
      curl_easy_setopt(e, CURLOPT_PROXY, "");
    } else if (!inet.proxy.empty()) {
      curl_easy_setopt(e, CURLOPT_PROXY, inet.proxy.c_str());
    }
    // INTERNET_OPEN_TYPE_PRECONFIG: curl reads the host's proxy variables.
    if (!inet.proxyUser.empty()) curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, inet.proxyUser.c_str());
    if (!inet.proxyPassword.empty()) curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, inet.proxyPassword.c_str());
  }
  if (!c.user.empty()) curl_easy_setopt(e, CURLOPT_USERNAME, c.user.c_str());
  if (!c.password.empty()) curl_easy_setopt(e, CURLOPT_PASSWORD, c.password.c_str());

  std::vector<std::string> lines = r.extraHeaders;
  lines.insert(lines.end(), callHeaders.begin(), callHeaders.end());
  std::string cookie = CookieHeaderFor(c.host);
  if (!cookie.empty()) lines.push_back(cookie);
  for (const std::string& line : lines) r.headerList = curl_slist_append(r.headerList, line.c_str());
  if (r.headerList) curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList);

  r.body = std::move(body);
  if (r.verb == "GET") {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (r.verb == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (r.verb == "POST") {
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(r.body.size()));
  } else {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    if (!r.body.empty()) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(r.body.size()));
    }
  }
  if (curl_multi_add_handle(r.multi, e) != CURLM_OK) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  r.sent = true;
  DWORD limit = opts.connectTimeout + std::max(opts.sendTimeout, opts.receiveTimeout);
  if (!Pump(r, [&r] { return r.headersComplete; }, limit)) return FALSE;
  if (r.headersComplete) return TRUE;
  if (r.result != CURLE_OK) {
    SetLastError(MapCurlError(r, r.result));
    return FALSE;
  }
  if (r.status == 0) {
    SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return FALSE;
  }
  // The connection closed inside the response's head: no answer.
  if (!r.headEnded) {
    SetLastError(ERROR_INTERNET_CONNECTION_RESET);
    return FALSE;
  }
  return TRUE;
}

const ResponseHeader* FindHeader(const RequestObj& r, const char* name, DWORD index) {
  DWORD seen = 0;
  for (const ResponseHeader& h : r.headers) {
    if (EqualsNoCaseA(h.name, name)) {
      if (seen == index) return &h;
      ++seen;
    }
  }
  return nullptr;
}

BOOL CopyText16(const std::u16string& text, void* buffer, DWORD* length) {
  DWORD need = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  if (!buffer || *length < need) {
    *length = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), need);
  *length = need - sizeof(char16_t);
  return TRUE;
}

}  // namespace

HINTERNET InternetOpenW(const char16_t* agent, DWORD accessType, const char16_t* proxy,
                        const char16_t* proxyBypass, DWORD flags) {
  GlobalInit();
  auto obj = std::make_shared<InternetObj>();
  obj->agent = Narrow(agent);
  obj->accessType = accessType;
  obj->proxy = Narrow(proxy);
  return AddHandle(obj);
}

BOOL InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<HandleObj> obj;
  {
    std::lock_guard<std::mutex> g(g_tableLock);
    auto it = g_table.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == g_table.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    obj = std::move(it->second);
    g_table.erase(it);
  }
  obj->closed.store(true);
  if (obj->kind == Kind::Request) {
    auto* r = static_cast<RequestObj*>(obj.get());
    if (r->multi) curl_multi_wakeup(r->multi);
  }
  return TRUE;  // the object goes when the last call using it returns
}

HINTERNET InternetConnectW(HINTERNET internet, const char16_t* server, INTERNET_PORT port,
                           const char16_t* user, const char16_t* password, DWORD service,
                           DWORD flags, std::uintptr_t context) {
  auto inet = FindAs<InternetObj>(internet, Kind::Internet);
  if (!inet) return nullptr;
  if (service != INTERNET_SERVICE_HTTP) {
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return nullptr;
  }
  if (!server || !*server) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto obj = std::make_shared<ConnectObj>();
  obj->internet = inet;
  obj->host = server;
  obj->port = port == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : port;
  obj->user = Narrow(user);
  obj->password = Narrow(password);
  obj->context = context;
  obj->opts = inet->GetOptions();
  return AddHandle(obj);
}

HINTERNET HttpOpenRequestW(HINTERNET connect, const char16_t* verb, const char16_t* objectName,
                           const char16_t* version, const char16_t* referrer,
                           const char16_t** acceptTypes, DWORD flags, std::uintptr_t context) {
  auto c = FindAs<ConnectObj>(connect, Kind::Connect);
  if (!c) return nullptr;
  auto r = std::make_shared<RequestObj>();
  if (!r->multi) {
    SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
    return nullptr;
  }
  r->connect = c;
  r->verb = verb && *verb ? Narrow(verb) : "GET";
  r->path = Narrow(objectName);
  r->http10 = version && EqualsNoCase(version, u"HTTP/1.0");
  r->flags = flags;
  if (flags & INTERNET_FLAG_SECURE) r->securityFlags |= SECURITY_FLAG_SECURE;
  if (flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) r->securityFlags |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  if (flags & INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) r->securityFlags |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  r->context = context;
  r->opts = c->GetOptions();
  if (referrer && *referrer) r->extraHeaders.push_back("Referer: " + Narrow(referrer));
  if (acceptTypes && acceptTypes[0]) {
    std::string accept = "Accept: ";
    for (int i = 0; acceptTypes[i]; ++i) accept += (i ? ", " : "") + Narrow(acceptTypes[i]);
    r->extraHeaders.push_back(accept);
  }
  return AddHandle(r);
}

BOOL HttpAddRequestHeadersW(HINTERNET request, const char16_t* headers, DWORD length, DWORD modifiers) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  std::vector<std::string> lines = SplitHeaderLines(headers, length);
  if (lines.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> io(r->io);
  for (const std::string& line : lines) {
    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
      std::string name = HeaderName(line);
      std::erase_if(r->extraHeaders, [&](const std::string& h) { return EqualsNoCaseA(HeaderName(h), name.c_str()); });
    }
    r->extraHeaders.push_back(line);
  }
  return TRUE;
}

BOOL HttpSendRequestW(HINTERNET request, const char16_t* headers, DWORD headersLength, void* optional,
                      DWORD optionalLength) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  std::string body;
  if (optional && optionalLength) body.assign(static_cast<const char*>(optional), optionalLength);
  return StartSend(*r, SplitHeaderLines(headers, headersLength), std::move(body));
}

BOOL HttpSendRequestExW(HINTERNET request, INTERNET_BUFFERSW* buffersIn, INTERNET_BUFFERSW* buffersOut,
                        DWORD flags, std::uintptr_t context) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  std::lock_guard<std::mutex> io(r->io);
  r->body.clear();
  for (INTERNET_BUFFERSW* b = buffersIn; b; b = b->Next) {
    for (const std::string& line : SplitHeaderLines(b->lpcszHeader, b->dwHeadersLength ? b->dwHeadersLength : 0xFFFFFFFFu)) {
      r->extraHeaders.push_back(line);
    }
    if (b->lpvBuffer && b->dwBufferLength) r->body.append(static_cast<const char*>(b->lpvBuffer), b->dwBufferLength);
  }
  r->collectingBody = true;
  return TRUE;
}

BOOL InternetWriteFile(HINTERNET request, const void* buffer, DWORD toWrite, DWORD* written) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  std::lock_guard<std::mutex> io(r->io);
  if (!r->collectingBody) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  if (toWrite && buffer) r->body.append(static_cast<const char*>(buffer), toWrite);
  if (written) *written = toWrite;
  return TRUE;
}

BOOL HttpEndRequestW(HINTERNET request, INTERNET_BUFFERSW* buffersOut, DWORD flags, std::uintptr_t context) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  std::string body;
  {
    std::lock_guard<std::mutex> io(r->io);
    if (!r->collectingBody) {
      SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
      return FALSE;
    }
    r->collectingBody = false;
    body = std::move(r->body);
  }
  return StartSend(*r, {}, std::move(body));
}

BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) {
  if (read) *read = 0;
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  if (!read || (!buffer && toRead)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> io(r->io);
  if (!r->sent) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  if (toRead == 0) return TRUE;
  if (!Pump(*r, [&r] { return r->Available() > 0; }, r->GetOptions().receiveTimeout)) return FALSE;
  std::size_t n = std::min<std::size_t>(r->Available(), toRead);
  if (n > 0) {
    std::memcpy(buffer, r->pending.data() + r->pendingPos, n);
    r->pendingPos += n;
    if (r->pendingPos == r->pending.size()) {
      r->pending.clear();
      r->pendingPos = 0;
    } else if (r->pendingPos > kPendingHighWater) {
      r->pending.erase(0, r->pendingPos);
      r->pendingPos = 0;
    }
    *read = static_cast<DWORD>(n);
    return TRUE;
  }
  if (r->result != CURLE_OK) {
    SetLastError(MapCurlError(*r, r->result));
    return FALSE;
  }
  return TRUE;
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* length, DWORD* index) {
  auto r = FindAs<RequestObj>(request, Kind::Request);
  if (!r) return FALSE;
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> io(r->io);
  if (!r->sent || r->status == 0) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  DWORD level = infoLevel & 0xFFFF;
  DWORD which = index ? *index : 0;
  std::string value;
  bool found = true;
  switch (level) {
    case HTTP_QUERY_STATUS_CODE: value = std::to_string(r->status); break;
    case HTTP_QUERY_STATUS_TEXT: value = r->statusText; break;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      value = "HTTP/1.x " + std::to_string(r->status) + " " + r->statusText + "\r\n";
      for (const ResponseHeader& h : r->headers) value += h.name + ": " + h.value + "\r\n";
      value += "\r\n";
      break;
    default: {
      const char* name = nullptr;
      switch (level) {
        case HTTP_QUERY_CONTENT_TYPE: name = "Content-Type"; break;
        case HTTP_QUERY_CONTENT_LENGTH: name = "Content-Length"; break;
        case HTTP_QUERY_CONTENT_ENCODING: name = "Content-Encoding"; break;
        case HTTP_QUERY_LOCATION: name = "Location"; break;
        case HTTP_QUERY_LAST_MODIFIED: name = "Last-Modified"; break;
        case HTTP_QUERY_ETAG: name = "ETag"; break;
        case HTTP_QUERY_TRANSFER_ENCODING: name = "Transfer-Encoding"; break;
        default:
          SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
          return FALSE;
      }
      const ResponseHeader* h = FindHeader(*r, name, which);
      found = h != nullptr;
      if (h) value = h->value;
    }
  }
  if (!found) {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (infoLevel & HTTP_QUERY_FLAG_NUMBER) {
    if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos) {
      SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      return FALSE;
    }
    unsigned long long number = std::stoull(value);
    if (number > 0xFFFFFFFFull) {
      SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      return FALSE;
    }
    if (!buffer || *length < sizeof(DWORD)) {
      *length = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    DWORD v = static_cast<DWORD>(number);
    std::memcpy(buffer, &v, sizeof v);
    *length = sizeof(DWORD);
  } else if (!CopyText16(Utf8ToUtf16(value), buffer, length)) {
    return FALSE;
  }
  if (index) ++*index;
  return TRUE;
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD length) {
  std::shared_ptr<HandleObj> obj = FindHandle(handle);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto dwordValue = [&](DWORD& out) {
    if (!buffer || length < sizeof(DWORD)) return false;
    std::memcpy(&out, buffer, sizeof(DWORD));
    return true;
  };
  auto textValue = [&](std::string& out) {
    if (!buffer) return false;
    const char16_t* p = static_cast<const char16_t*>(buffer);
    std::size_t n = 0;
    while (n < length && p[n]) ++n;
    out = Utf16ToUtf8(std::u16string_view(p, n));
    return true;
  };
  std::lock_guard<std::mutex> g(obj->optionLock);
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      if (dwordValue(obj->opts.connectTimeout)) return TRUE;
      break;
    case INTERNET_OPTION_SEND_TIMEOUT:
      if (dwordValue(obj->opts.sendTimeout)) return TRUE;
      break;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      if (dwordValue(obj->opts.receiveTimeout)) return TRUE;
      break;
    case INTERNET_OPTION_SECURITY_FLAGS:
      if (obj->kind != Kind::Request) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return FALSE;
      }
      if (dwordValue(static_cast<RequestObj*>(obj.get())->securityFlags)) return TRUE;
      break;
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD: {
      InternetObj* inet = nullptr;
      if (obj->kind == Kind::Internet) inet = static_cast<InternetObj*>(obj.get());
      if (obj->kind == Kind::Connect) inet = static_cast<ConnectObj*>(obj.get())->internet.get();
      if (obj->kind == Kind::Request) inet = static_cast<RequestObj*>(obj.get())->connect->internet.get();
      std::string text;
      if (!textValue(text)) break;
      if (inet != obj.get()) {
        std::lock_guard<std::mutex> gi(inet->optionLock);
        (option == INTERNET_OPTION_PROXY_USERNAME ? inet->proxyUser : inet->proxyPassword) = text;
      } else {
        (option == INTERNET_OPTION_PROXY_USERNAME ? inet->proxyUser : inet->proxyPassword) = text;
      }
      return TRUE;
    }
    default:
      SetLastError(ERROR_INTERNET_INVALID_OPTION);
      return FALSE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD* length) {
  std::shared_ptr<HandleObj> obj = FindHandle(handle);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto dwordOut = [&](DWORD v) {
    if (!buffer || *length < sizeof(DWORD)) {
      *length = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, &v, sizeof v);
    *length = sizeof(DWORD);
    return TRUE;
  };
  Options opts = obj->GetOptions();
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: return dwordOut(opts.connectTimeout);
    case INTERNET_OPTION_SEND_TIMEOUT: return dwordOut(opts.sendTimeout);
    case INTERNET_OPTION_RECEIVE_TIMEOUT: return dwordOut(opts.receiveTimeout);
    case INTERNET_OPTION_HANDLE_TYPE:
      return dwordOut(obj->kind == Kind::Internet  ? INTERNET_HANDLE_TYPE_INTERNET
                      : obj->kind == Kind::Connect ? INTERNET_HANDLE_TYPE_CONNECT_HTTP
                                                   : INTERNET_HANDLE_TYPE_HTTP_REQUEST);
    case INTERNET_OPTION_SECURITY_FLAGS:
      if (obj->kind != Kind::Request) break;
      {
        std::lock_guard<std::mutex> g(obj->optionLock);
        return dwordOut(static_cast<RequestObj*>(obj.get())->securityFlags);
      }
    case INTERNET_OPTION_URL:
      if (obj->kind != Kind::Request) break;
      {
        auto* r = static_cast<RequestObj*>(obj.get());
        std::lock_guard<std::mutex> io(r->io);
        char* effective = nullptr;
        if (r->easy) curl_easy_getinfo(r->easy, CURLINFO_EFFECTIVE_URL, &effective);
        return CopyText16(Utf8ToUtf16(effective ? effective : r->url), buffer, length);
      }
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD: {
      InternetObj* inet = nullptr;
      if (obj->kind == Kind::Internet) inet = static_cast<InternetObj*>(obj.get());
      if (obj->kind == Kind::Connect) inet = static_cast<ConnectObj*>(obj.get())->internet.get();
      if (obj->kind == Kind::Request) inet = static_cast<RequestObj*>(obj.get())->connect->internet.get();
      std::string text;
      {
        std::lock_guard<std::mutex> g(inet->optionLock);
        text = option == INTERNET_OPTION_PROXY_USERNAME ? inet->proxyUser : inet->proxyPassword;
      }
      return CopyText16(Utf8ToUtf16(text), buffer, length);
    }
    default:
      SetLastError(ERROR_INTERNET_INVALID_OPTION);
      return FALSE;
  }
  SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return FALSE;
}

HINTERNET InternetOpenUrlW(HINTERNET internet, const char16_t* url, const char16_t* headers,
                           DWORD headersLength, DWORD flags, std::uintptr_t context) {
  auto inet = FindAs<InternetObj>(internet, Kind::Internet);
  if (!inet) return nullptr;
  char16_t host[1024], path[4096], extra[4096], user[256], password[256];
  URL_COMPONENTSW parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 1024;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 4096;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 4096;
  parts.lpszUserName = user;
  parts.dwUserNameLength = 256;
  parts.lpszPassword = password;
  parts.dwPasswordLength = 256;
  if (!url || !InternetCrackUrlW(url, 0, 0, &parts)) return nullptr;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return nullptr;
  }
  auto c = std::make_shared<ConnectObj>();
  c->internet = inet;
  c->host = host;
  c->port = parts.nPort;
  c->user = Narrow(user);
  c->password = Narrow(password);
  c->opts = inet->GetOptions();
  auto r = std::make_shared<RequestObj>();
  if (!r->multi) {
    SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
    return nullptr;
  }
  r->connect = c;
  r->verb = "GET";
  r->path = Utf16ToUtf8(std::u16string(path) + extra);
  r->flags = flags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
  r->context = context;
  r->opts = c->opts;
  HINTERNET handle = AddHandle(r);
  if (!StartSend(*r, SplitHeaderLines(headers, headersLength), std::string())) {
    DWORD error = GetLastError();
    InternetCloseHandle(handle);
    SetLastError(error);
    return nullptr;
  }
  return handle;
}

DWORD InternetErrorDlg(HWND_INET window, HINTERNET request, DWORD error, DWORD flags, void** data) {
  return ERROR_CANCELLED;
}

BOOL InternetSetCookieW(const char16_t* url, const char16_t* name, const char16_t* data) {
  if (!url || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char16_t host[1024];
  URL_COMPONENTSW parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 1024;
  if (!InternetCrackUrlW(url, 0, 0, &parts)) return FALSE;
  std::string text = Narrow(data);
  std::size_t semi = text.find(';');
  if (semi != std::string::npos) text.resize(semi);
  std::string cookieName = Narrow(name);
  if (cookieName.empty()) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    cookieName = plat::Trim(text.substr(0, eq), plat::IsXmlSpace);
    text = text.substr(eq + 1);
  }
  std::lock_guard<std::mutex> g(g_cookieLock);
  g_cookies[ToLower(std::u16string(host))][cookieName] = plat::Trim(text, plat::IsXmlSpace);
  return TRUE;
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
  std::shared_ptr<HandleObj> obj = FindHandle(handle);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INTERNET_INVALID_STATUS_CALLBACK;
  }
  std::lock_guard<std::mutex> g(obj->optionLock);
  INTERNET_STATUS_CALLBACK previous = obj->callback;
  obj->callback = callback;
  return previous;
}

}  // namespace plat
