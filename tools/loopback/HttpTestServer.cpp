#include "tools/loopback/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/base/Spawn.h"
#include "platform/base/Text.h"

namespace orvtest {

namespace {

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string ReasonFor(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& h : headers)
    if (EqualsIgnoreCase(h.first, name)) return h.second;
  return {};
}

std::string GzipEncode(const std::string& bytes) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out;
  out.resize(deflateBound(&zs, bytes.size()) + 32);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&zs, Z_FINISH);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(zs.total_out);
  return out;
}

std::function<bool(std::string&)> GzipBombStream(unsigned long long inflatedBytes) {
  // A full flush makes every block independent of what came before, so one
  // compressed megabyte of zeros can be repeated as often as needed.
  constexpr std::size_t kBlock = 1 << 20;
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
  std::string zeros(kBlock, '\0');
  std::string header, block;
  std::string buf(64 * 1024, '\0');
  auto run = [&](const char* in, std::size_t n, int flush, std::string& out) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    zs.avail_in = static_cast<uInt>(n);
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buf.data());
      zs.avail_out = static_cast<uInt>(buf.size());
      deflate(&zs, flush);
      out.append(buf.data(), buf.size() - zs.avail_out);
    } while (zs.avail_out == 0);
  };
  run(nullptr, 0, Z_FULL_FLUSH, header);  // gzip header
  run(zeros.data(), zeros.size(), Z_FULL_FLUSH, block);
  std::string second;
  run(zeros.data(), zeros.size(), Z_FULL_FLUSH, second);
  deflateEnd(&zs);
  // The first block may still differ from the rest; send the first once and
  // repeat the steady one. The stream never ends properly: the reader must stop.
  auto blocks = std::make_shared<unsigned long long>((inflatedBytes + kBlock - 1) / kBlock);
  auto first = std::make_shared<std::string>(header + block);
  auto steady = std::make_shared<std::string>(second);
  auto sentFirst = std::make_shared<bool>(false);
  return [=](std::string& piece) {
    if (*blocks == 0) return false;
    --*blocks;
    if (!*sentFirst) {
      *sentFirst = true;
      piece = *first;
    } else {
      piece = *steady;
    }
    return true;
  };
}

HttpTestServer::HttpTestServer(const std::string& address) : address_(address) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  if (::inet_pton(AF_INET, address_.c_str(), &addr.sin_addr) != 1 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("bind/listen on " + address_);
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
  Stop();
  std::unique_lock<std::mutex> g(lock_);
  idle_.wait(g, [this] { return activeConnections_ == 0; });
}

void HttpTestServer::Stop() {
  if (stopping_.exchange(true)) return;
  ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  std::lock_guard<std::mutex> g(lock_);
  for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://" + address_ + ":" + std::to_string(port_) + path;
}

void HttpTestServer::Route(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> g(lock_);
  routes_[path] = std::move(handler);
}

void HttpTestServer::Serve(const std::string& path, const std::string& body, const std::string& contentType) {
  Route(path, [body, contentType](const HttpRequest&) {
    HttpResponse r;
    r.body = body;
    r.headers.push_back({"Content-Type", contentType});
    return r;
  });
}

std::vector<HttpRequest> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> g(lock_);
  return requests_;
}

std::size_t HttpTestServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> g(lock_);
  std::size_t n = 0;
  for (const auto& r : requests_) {
    std::string p = r.target.substr(0, r.target.find('?'));
    if (p == path) ++n;
  }
  return n;
}

void HttpTestServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    int rc = ::poll(&p, 1, 100);
    if (rc <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (stopping_) {
        ::close(fd);
        break;
      }
      if (maxConnections_ > 0 && answering_ >= maxConnections_) {
        // Refused: closed before anything is read or sent.
        ++refused_;
        ::close(fd);
        continue;
      }
      ++answering_;
      ++activeConnections_;
      ++connections_;
      peakConnections_ = std::max(peakConnections_.load(), static_cast<std::size_t>(activeConnections_));
      // A response's pieces go out at once (no wait for the client's
      // delayed acknowledgement on a kept connection).
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      openFds_.push_back(fd);
    }
    std::thread([this, fd] {
      ServeConnection(fd);
      std::lock_guard<std::mutex> g(lock_);
      openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
      ::close(fd);
      --activeConnections_;
      idle_.notify_all();
    }).detach();
  }
}

void HttpTestServer::ServeConnection(int fd) {
  std::string pending;
  bool answering = true;  // counted at the accept
  while (ServeRequest(fd, pending, answering)) {
  }
  if (answering) {
    std::lock_guard<std::mutex> g(lock_);
    --answering_;
  }
}

bool HttpTestServer::ServeRequest(int fd, std::string& pending, bool& answering) {
  auto sleepFor = [this](int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping_ && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
  };
  auto sendAll = [this, fd](const char* data, std::size_t n) {
    while (n > 0) {
      if (stopping_) return false;
      ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
      if (w <= 0) return false;
      data += w;
      n -= static_cast<std::size_t>(w);
    }
    return true;
  };

  // Read the request head.
  std::string head;
  head.swap(pending);
  char buf[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos) {
    if (stopping_ || head.size() > 64 * 1024) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    ssize_t r = ::recv(fd, buf, sizeof buf, 0);
    if (r <= 0) return false;
    head.append(buf, static_cast<std::size_t>(r));
  }
  {
    std::size_t end = head.find("\r\n\r\n");
    end = end == std::string::npos ? head.find("\n\n") + 2 : end + 4;
    pending = head.substr(end);
    head.resize(end);
  }

  HttpRequest req;
  std::size_t pos = 0;
  auto nextLine = [&](std::string& line) {
    std::size_t e = head.find('\n', pos);
    if (e == std::string::npos) return false;
    line = head.substr(pos, e - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = e + 1;
    return true;
  };
  std::string line;
  if (!nextLine(line)) return false;
  {
    std::size_t a = line.find(' ');
    std::size_t b = line.rfind(' ');
    if (a == std::string::npos || b == a) return false;
    req.method = line.substr(0, a);
    req.target = line.substr(a + 1, b - a - 1);
    req.version = line.substr(b + 1);
  }
  while (nextLine(line) && !line.empty()) {
    std::size_t c = line.find(':');
    if (c == std::string::npos) continue;
    req.headers.push_back({plat::Trim(line.substr(0, c), plat::IsXmlSpace), plat::Trim(line.substr(c + 1), plat::IsXmlSpace)});
  }

  Handler handler;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!answering) {
      ++answering_;
      answering = true;
    }
    requests_.push_back(req);
    auto it = routes_.find(req.target.substr(0, req.target.find('?')));
    if (it != routes_.end()) handler = it->second;
  }
  HttpResponse resp;
  if (handler) {
    resp = handler(req);
  } else {
    resp.status = 404;
    resp.body = "not found";
  }
  {
    // Answered: from here on a new connection is no longer refused.
    std::lock_guard<std::mutex> g(lock_);
    --answering_;
    answering = false;
  }

  std::string body = resp.body;
  if (resp.gzip && !resp.rawBody && !resp.stream) body = GzipEncode(body);

  std::string out = "HTTP/1.1 " + std::to_string(resp.status) + " " +
                    (resp.reason.empty() ? ReasonFor(resp.status) : resp.reason) + "\r\n";
  for (const auto& h : resp.headers) out += h.first + ": " + h.second + "\r\n";
  if (resp.gzip) out += "Content-Encoding: gzip\r\n";
  if (resp.chunked) {
    out += "Transfer-Encoding: chunked\r\n";
  } else if (resp.sendContentLength && !resp.stream) {
    long long len = resp.declaredLength >= 0 ? resp.declaredLength : static_cast<long long>(body.size());
    out += "Content-Length: " + std::to_string(len) + "\r\n";
  }
  // The client's wish for the connection, and whether this response allows
  // keeping it.
  bool keep = keepAlive_ && !resp.stream && resp.closeAfter == static_cast<std::size_t>(-1) &&
              (resp.chunked || (resp.sendContentLength && resp.declaredLength < 0));
  if (keep) {
    std::string connection;
    for (const auto& h : req.headers) {
      std::string name = h.first;
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "connection") {
        connection = h.second;
        for (char& c : connection) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    keep = req.version == "HTTP/1.1" ? connection.find("close") == std::string::npos
                                     : connection.find("keep-alive") != std::string::npos;
  }
  out += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  if (resp.closeInHead < out.size()) {
    if (resp.closeInHead > 0) sendAll(out.data(), resp.closeInHead);
    return false;  // closed unanswered or in the headers on purpose
  }
  if (!sendAll(out.data(), out.size())) return false;
  if (req.method == "HEAD") return keep;

  if (resp.stallBeforeBodyMs > 0) sleepFor(resp.stallBeforeBodyMs);

  auto sendPiece = [&](const char* data, std::size_t n) {
    if (resp.chunked) {
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", n);
      if (!sendAll(size, std::strlen(size))) return false;
      if (!sendAll(data, n)) return false;
      return sendAll("\r\n", 2);
    }
    return sendAll(data, n);
  };

  std::size_t sent = 0;
  if (resp.stream) {
    std::string piece;
    while (!stopping_ && resp.stream(piece)) {
      if (!sendPiece(piece.data(), piece.size())) return false;
      sent += piece.size();
      if (sent >= resp.closeAfter) return false;
      if (resp.trickleDelayMs > 0) sleepFor(resp.trickleDelayMs);
    }
  } else {
    std::size_t limit = std::min(body.size(), resp.closeAfter);
    std::size_t step = resp.trickleDelayMs > 0 ? std::max<std::size_t>(1, resp.trickleBytes) : (limit ? limit : 1);
    while (sent < limit) {
      std::size_t n = std::min(step, limit - sent);
      if (!sendPiece(body.data() + sent, n)) return false;
      sent += n;
      if (resp.trickleDelayMs > 0 && sent < limit) sleepFor(resp.trickleDelayMs);
    }
    if (limit < body.size()) return false;  // closed mid-body on purpose
  }
  if (resp.chunked && !sendAll("0\r\n\r\n", 5)) return false;
  return keep;
}

}  // namespace orvtest

namespace orvtest {

namespace {

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

SelfSignedTlsServer::SelfSignedTlsServer(const std::string& folder) {
  std::string cert = folder + "/cert.pem", key = folder + "/key.pem";
  std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key + "' -out '" + cert +
                     "' -days 1 -subj /CN=127.0.0.1 >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) return;
  int port = FreeLoopbackPort();
  if (port == 0) return;
  plat::SpawnOptions quiet;
  quiet.quiet = true;
  int pid = 0;
  if (plat::SpawnProcess({"openssl", "s_server", "-accept", std::to_string(port), "-cert", cert, "-key", key, "-www",
                          "-quiet"},
                         quiet, &pid) != 0)
    return;
  pid_ = pid;
  for (int i = 0; i < 100; ++i) {
    if (Accepts(port)) {
      port_ = port;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

SelfSignedTlsServer::~SelfSignedTlsServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace orvtest
