#include "platform/display/Control.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/windows/Windows.h"

namespace plat::display {
namespace {

socklen_t Address(sockaddr_un* a) {
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  std::string name = ControlAddress();
  std::memcpy(a->sun_path + 1, name.data(), name.size());  // abstract: leading NUL
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

bool WriteAll(int fd, const std::string& s) {
  std::size_t off = 0;
  while (off < s.size()) {
    ssize_t r = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    off += static_cast<std::size_t>(r);
  }
  return true;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

bool ToInt(const std::string& s, int* out) {
  if (s.empty() || s.size() > 11) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < -1000000 || v > 1000000) return false;
  *out = static_cast<int>(v);
  return true;
}

std::string Escape(const std::u16string& s) {
  std::string u = Utf16ToUtf8(s);
  std::string out;
  for (char c : u) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

BOOL CollectWindow(HWND hwnd, LPARAM lParam) {
  auto* out = reinterpret_cast<std::vector<std::string>*>(lParam);
  WCHAR cls[256] = {};
  WCHAR title[256] = {};
  GetClassNameW(hwnd, cls, 256);
  GetWindowTextW(hwnd, title, 256);
  RECT r{};
  GetWindowRect(hwnd, &r);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char head[160];
  std::snprintf(head, sizeof head, "%u\t%u\t%d\t%d,%d,%d,%d\t", static_cast<unsigned>(HandleToValue(hwnd)),
                static_cast<unsigned>(pid), IsWindowVisible(hwnd) ? 1 : 0, static_cast<int>(r.left),
                static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom));
  out->push_back(head + Escape(cls) + "\t" + Escape(title) + (IsWindowAnimating(hwnd) ? "\t1" : "\t0"));
  return TRUE;
}

bool OnScreen(int x, int y) { return x >= 0 && y >= 0 && x < ScreenWidth() && y < ScreenHeight(); }

}  // namespace

std::string ControlAddress() { return "orv-display-" + DeviceToken(); }

std::string ExecuteControl(const std::string& line, DeviceInput& input, ScreenComposer& composer,
                           const ControlHooks& hooks) {
  std::vector<std::string> w = Words(line);
  if (w.empty()) return "error empty command";
  const std::string& cmd = w[0];
  auto argc = w.size() - 1;
  // Coordinates and counts.
  std::vector<int> n;
  auto numbers = [&](std::size_t from, std::size_t count) {
    n.clear();
    for (std::size_t i = from; i < from + count; ++i) {
      int v;
      if (i >= w.size() || !ToInt(w[i], &v)) return false;
      n.push_back(v);
    }
    return true;
  };
  auto done = [](bool ok, const char* failure) { return ok ? std::string("ok") : std::string("error ") + failure; };
  constexpr const char* kNoWindow = "no window takes the input";
  constexpr const char* kOutside = "point outside the screen";

  if (cmd == "ping" && argc == 0) return "ok";
  if (cmd == "screen" && argc == 0)
    return "ok " + std::to_string(ScreenWidth()) + " " + std::to_string(ScreenHeight()) + " " +
           std::to_string(ScreenDpi());
  if ((cmd == "tap" || cmd == "down" || cmd == "move" || cmd == "up") && argc == 2) {
    if (!numbers(1, 2)) return "error bad coordinates";
    if (!OnScreen(n[0], n[1])) return std::string("error ") + kOutside;
    if (cmd == "tap") return done(input.Tap(n[0], n[1]), kNoWindow);
    UINT m = cmd == "down" ? WM_LBUTTONDOWN : cmd == "move" ? WM_MOUSEMOVE : WM_LBUTTONUP;
    return done(input.Stylus(m, n[0], n[1]), kNoWindow);
  }
  if (cmd == "hold" && (argc == 2 || argc == 3)) {
    if (!numbers(1, argc)) return "error bad numbers";
    if (!OnScreen(n[0], n[1])) return std::string("error ") + kOutside;
    int ms = argc == 3 ? n[2] : static_cast<int>(kDefaultHoldMs);
    if (ms < 0 || ms > 60000) return "error bad duration";
    return done(input.Hold(n[0], n[1], static_cast<DWORD>(ms)), kNoWindow);
  }
  if (cmd == "drag" && (argc == 4 || argc == 5)) {
    if (!numbers(1, argc)) return "error bad numbers";
    if (!OnScreen(n[0], n[1]) || !OnScreen(n[2], n[3])) return std::string("error ") + kOutside;
    int ms = argc == 5 ? n[4] : static_cast<int>(kDefaultDragMs);
    if (ms < 0 || ms > 60000) return "error bad duration";
    return done(input.Drag(n[0], n[1], n[2], n[3], static_cast<DWORD>(ms)), kNoWindow);
  }
  if (cmd == "wheel" && argc == 3) {
    if (!numbers(1, 3)) return "error bad numbers";
    if (!OnScreen(n[0], n[1])) return std::string("error ") + kOutside;
    if (n[2] == 0 || n[2] < -100 || n[2] > 100) return "error bad clicks";
    return done(input.Wheel(n[0], n[1], n[2]), kNoWindow);
  }
  if (cmd == "key" && (argc == 1 || argc == 2)) {
    auto key = KeyByName(w[1]);
    if (!key) return "error unknown key";
    if (argc == 1) return done(input.Press(*key), "no window takes the key");
    if (w[2] != "down" && w[2] != "up") return "error expected down or up";
    return done(input.Key(*key, w[2] == "down"), "no window takes the key");
  }
  if (cmd == "text") {
    auto start = line.find("text") + 4;
    if (start < line.size() && line[start] == ' ') ++start;
    std::string text = line.substr(start);
    if (text.empty()) return "error no text";
    return done(input.Text(Utf8ToUtf16(text)), "no window takes the text");
  }
  if (cmd == "screenshot" && argc >= 1) {
    auto start = line.find("screenshot") + 10;
    while (start < line.size() && line[start] == ' ') ++start;
    std::string path = line.substr(start);
    if (!composer.SavePng(path)) return "error cannot write " + path;
    return "ok " + std::to_string(ScreenWidth()) + " " + std::to_string(ScreenHeight());
  }
  if (cmd == "windows" && argc == 0) {
    std::vector<std::string> lines;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&lines));
    std::string out = "ok +" + std::to_string(lines.size());
    for (const std::string& l : lines) out += "\n" + l;
    return out;
  }
  if (cmd == "quit" && argc == 0) {
    if (hooks.quit) hooks.quit();
    return "ok";
  }
  return "error unknown command or wrong arguments: " + cmd;
}

std::optional<WindowLine> ParseWindowLine(const std::string& line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (;;) {
    auto tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  // Lines without the animation field read as not animating.
  if (f.size() != 6 && f.size() != 7) return std::nullopt;
  WindowLine w;
  int vis = 0;
  if (std::sscanf(f[0].c_str(), "%u", &w.hwnd) != 1 || std::sscanf(f[1].c_str(), "%d", &w.pid) != 1 ||
      std::sscanf(f[2].c_str(), "%d", &vis) != 1 ||
      std::sscanf(f[3].c_str(), "%d,%d,%d,%d", &w.left, &w.top, &w.right, &w.bottom) != 4)
    return std::nullopt;
  w.visible = vis != 0;
  w.cls = Unescape(f[4]);
  w.title = Unescape(f[5]);
  if (f.size() == 7) {
    if (f[6] != "0" && f[6] != "1") return std::nullopt;
    w.animating = f[6] == "1";
  }
  return w;
}

// ---------------------------------------------------------------------------

ControlServer::ControlServer(DeviceInput& input, ScreenComposer& composer, ControlHooks hooks)
    : input_(input), composer_(composer), hooks_(std::move(hooks)) {}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Start() {
  listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_ < 0) return false;
  sockaddr_un a;
  socklen_t len = Address(&a);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, 16) != 0) {
    ::close(listen_);
    listen_ = -1;
    return false;
  }
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ControlServer::Stop() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    ssize_t r = ::write(wake_, &one, sizeof one);
    (void)r;
    thread_.join();
  }
  if (listen_ >= 0) ::close(listen_);
  if (wake_ >= 0) ::close(wake_);
  listen_ = wake_ = -1;
}

void ControlServer::Run() {
  struct Conn {
    int fd;
    std::string in;
  };
  std::vector<Conn> conns;
  for (;;) {
    std::vector<pollfd> fds{{wake_, POLLIN, 0}, {listen_, POLLIN, 0}};
    for (auto& c : conns) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    for (std::size_t i = 0; i < conns.size(); ++i) {
      Conn& c = conns[i];
      if (!(fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[1024];
      ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) {
        ::close(c.fd);
        c.fd = -1;
        continue;
      }
      c.in.append(buf, static_cast<std::size_t>(n));
      std::size_t nl;
      while (c.fd >= 0 && (nl = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string reply;
        if (line.size() > kMaxControlLine) reply = "error line too long";
        else if (line.find('\0') != std::string::npos) reply = "error bad characters";
        else reply = ExecuteControl(line, input_, composer_, hooks_);
        if (!WriteAll(c.fd, reply + "\n")) {
          ::close(c.fd);
          c.fd = -1;
        }
      }
      if (c.fd >= 0 && c.in.size() > kMaxControlLine) {
        // A line that never ends: answered once, then the connection goes.
        WriteAll(c.fd, "error line too long\n");
        ::close(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(conns, [](const Conn& c) { return c.fd < 0; });
    if (fds[1].revents & POLLIN) {
      for (;;) {
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        conns.push_back(Conn{fd, {}});
      }
    }
  }
  for (auto& c : conns) ::close(c.fd);
}

// ---------------------------------------------------------------------------

ControlClient::~ControlClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControlClient::Connect() {
  if (fd_ >= 0) ::close(fd_);
  buffer_.clear();
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  sockaddr_un a;
  socklen_t len = Address(&a);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

std::optional<std::string> ControlClient::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::nullopt;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

std::optional<std::vector<std::string>> ControlClient::Call(const std::string& command, int timeoutMs) {
  if (fd_ < 0 && !Connect()) return std::nullopt;
  if (!WriteAll(fd_, command + "\n")) {
    ::close(fd_);
    fd_ = -1;
    return std::nullopt;
  }
  auto first = ReadLine(timeoutMs);
  if (!first) {
    ::close(fd_);
    fd_ = -1;
    return std::nullopt;
  }
  std::vector<std::string> lines{*first};
  unsigned more = 0;
  if (std::sscanf(first->c_str(), "ok +%u", &more) == 1) {
    for (unsigned i = 0; i < more; ++i) {
      auto l = ReadLine(timeoutMs);
      if (!l) {
        ::close(fd_);
        fd_ = -1;
        return std::nullopt;
      }
      lines.push_back(*l);
    }
  }
  return lines;
}

}  // namespace plat::display
