// A small HTTP/1.x server on a loopback address (127.0.0.1 unless told) for tests of the download code. It binds a
// free port, serves routes from its own thread (one thread per connection) and
// stops in its destructor. It can misbehave on purpose: stall, trickle, close
// unanswered, in the headers or mid-body, answer with gzip, chunked bodies,
// redirects and error statuses.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orvtest {

struct HttpRequest {
  std::string method;
  std::string target;   // path and query as sent
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;
  // First value of a header, compared ignoring case; empty when absent.
  std::string Header(const std::string& name) const;
};

struct HttpResponse {
  int status = 200;
  std::string reason;  // default from the status
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool gzip = false;           // compress the body and send Content-Encoding: gzip
  bool rawBody = false;        // body is sent as is (already encoded); with gzip, only the header is added
  bool chunked = false;        // Transfer-Encoding: chunked instead of Content-Length
  bool sendContentLength = true;
  long long declaredLength = -1;   // Content-Length to announce; -1: the real length
  std::size_t closeAfter = static_cast<std::size_t>(-1);  // close after this many body bytes
  // Close after this many bytes of the status line and headers: 0 closes the
  // connection unanswered, a few bytes close it in the headers.
  std::size_t closeInHead = static_cast<std::size_t>(-1);
  int stallBeforeBodyMs = 0;   // wait after the headers
  int trickleDelayMs = 0;      // wait between body pieces
  std::size_t trickleBytes = 1;  // bytes per piece when trickling
  // Streams the body piece by piece instead of `body` (a gzip bomb, a long
  // stream): called until it returns false; stops early when the client leaves.
  std::function<bool(std::string& piece)> stream;
};

class HttpTestServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  // Listens on a free port of that loopback address (127.0.0.x).
  explicit HttpTestServer(const std::string& address = "127.0.0.1");
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int Port() const { return port_; }
  // "http://<address>:<port>" + path.
  std::string Url(const std::string& path) const;

  // Routes match the request path (without the query) exactly; unknown paths get 404.
  void Route(const std::string& path, Handler handler);
  void Serve(const std::string& path, const std::string& body,
             const std::string& contentType = "text/xml; charset=utf-8");

  // Requests received so far, in order.
  std::vector<HttpRequest> Requests() const;
  std::size_t RequestCount(const std::string& path) const;

  // Ends every open connection and refuses new ones until the server is destroyed.
  void Stop();

  // Keeps a connection open for the next request when the client asks for
  // it and the response has a plain body (off by default: every response
  // closes its connection). Connections accepted so far.
  void SetKeepAlive(bool keep) { keepAlive_ = keep; }
  std::size_t ConnectionCount() const { return connections_.load(); }
  // Connections open now.
  std::size_t OpenConnections() const {
    std::lock_guard<std::mutex> g(lock_);
    return static_cast<std::size_t>(activeConnections_);
  }
  // The most connections that were open at once.
  std::size_t PeakConnections() const { return peakConnections_.load(); }
  // A connection that arrives while this many requests are being answered
  // (read and not yet handled by their route) is closed at once, unread
  // (0, the default: no limit); how many were refused so.
  void SetMaxConnections(int n) { maxConnections_ = n; }
  std::size_t RefusedCount() const { return refused_.load(); }

 private:
  void AcceptLoop();
  void ServeConnection(int fd);
  // One request of the connection; true when the connection stays open for
  // another. pending holds bytes read past the request's head.
  // answering: the connection counts among those being answered.
  bool ServeRequest(int fd, std::string& pending, bool& answering);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex lock_;
  std::condition_variable idle_;
  int activeConnections_ = 0;
  int answering_ = 0;  // connections accepted or with a request not yet handled
  std::vector<int> openFds_;
  std::map<std::string, Handler> routes_;
  std::vector<HttpRequest> requests_;
  std::atomic<bool> keepAlive_{false};
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::size_t> peakConnections_{0};
  std::atomic<int> maxConnections_{0};
  std::atomic<std::size_t> refused_{0};
  std::string address_;
};

// "openssl s_server" on 127.0.0.1 with a self-signed certificate made in
// folder: an HTTPS server no client may trust. Port() is 0 when it could not start.
class SelfSignedTlsServer {
 public:
  explicit SelfSignedTlsServer(const std::string& folder);
  ~SelfSignedTlsServer();
  SelfSignedTlsServer(const SelfSignedTlsServer&) = delete;
  SelfSignedTlsServer& operator=(const SelfSignedTlsServer&) = delete;
  int Port() const { return port_; }

 private:
  int pid_ = -1;
  int port_ = 0;
};

// Gzip-encodes bytes (a complete gzip member).
std::string GzipEncode(const std::string& bytes);

// A body streamer for HttpResponse::stream: a gzip member that inflates to
// `inflatedBytes` zero bytes while only a tiny fraction of that goes on the wire.
std::function<bool(std::string&)> GzipBombStream(unsigned long long inflatedBytes);

}  // namespace orvtest
