// Messages between processes: each process with top-level windows serves an
// abstract Unix socket named after the device and its pid on a thread of its
// own, which hands incoming messages to the queue of the window's thread and
// answers sends once the window procedure returned. A request carries integers
// only.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "platform/base/Device.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

constexpr std::uint32_t kWireMagic = 0x4F524D31u;

struct Request {
  std::uint32_t magic;
  std::uint32_t kind;
  std::uint32_t hwnd;
  std::uint32_t msg;
  std::uint64_t wParam;
  std::int64_t lParam;
  std::uint32_t flags;
  std::uint32_t reserved;
};

struct Reply {
  std::int32_t status;
  std::int32_t reserved;
  std::int64_t result;
};

socklen_t AddressOf(pid_t pid, sockaddr_un* a) {
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  char name[96];
  int n = std::snprintf(name, sizeof name, "orv-wm-%s-%d", DeviceToken().c_str(), static_cast<int>(pid));
  std::memcpy(a->sun_path + 1, name, static_cast<std::size_t>(n));  // abstract: leading NUL
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(n));
}

bool WriteAll(int fd, const void* p, std::size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n) {
    ssize_t r = ::send(fd, c, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    c += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

class Server {
 public:
  ~Server() {
    if (pid_ != getpid() || !thread_.joinable()) return;
    stop_ = true;
    if (queue_) queue_->Wake();
    thread_.join();
    ::close(listen_);
  }

  // Stops serving without waiting: the thread ends at its next pass and
  // closes the socket; the object is never freed, so the thread may finish.
  void Retire() {
    stop_ = true;
    retired_ = true;
    if (queue_) queue_->Wake();
    if (thread_.joinable()) thread_.detach();
  }

  bool Start() {
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_ < 0) return false;
    sockaddr_un a;
    socklen_t len = AddressOf(getpid(), &a);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, 64) != 0) {
      ::close(listen_);
      listen_ = -1;
      return false;
    }
    pid_ = getpid();
    // The promise's state is shared with the thread, so it stays valid while
    // the thread signals even after this function has returned.
    std::promise<void> started;
    std::future<void> ready = started.get_future();
    thread_ = std::thread([this, started = std::move(started)]() mutable {
      queue_ = CurrentQueue();
      started.set_value();
      Run();
    });
    ready.wait();
    return true;
  }

 private:
  struct Conn {
    int fd;
    std::string in;
    std::shared_ptr<SentMessage> pending;
  };

  void Run() {
    std::vector<Conn> conns;
    while (!stop_) {
      std::vector<pollfd> fds;
      fds.push_back({queue_->efd, POLLIN, 0});
      fds.push_back({listen_, POLLIN, 0});
      for (auto& c : conns) fds.push_back({c.fd, static_cast<short>(c.pending ? 0 : POLLIN), 0});
      int r = ::poll(fds.data(), fds.size(), 1000);
      if (r < 0 && errno != EINTR) break;
      std::uint64_t v;
      ssize_t rd = ::read(queue_->efd, &v, sizeof v);
      (void)rd;
      // Existing connections first, so that requests keep their order.
      for (std::size_t i = 0; i < conns.size(); ++i) {
        Conn& c = conns[i];
        short re = fds[i + 2].revents;
        if (c.pending) {
          if (c.pending->state != kPending) {
            Reply rep{c.pending->state == kDone ? kWireOk : kWireNoWindow, 0, c.pending->result};
            WriteAll(c.fd, &rep, sizeof rep);
            c.pending.reset();
          }
          continue;
        }
        if (!(re & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[512];
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n <= 0) {
          ::close(c.fd);
          c.fd = -1;
          continue;
        }
        c.in.append(buf, static_cast<std::size_t>(n));
        while (!c.pending && c.in.size() >= sizeof(Request)) {
          Request req;
          std::memcpy(&req, c.in.data(), sizeof req);
          c.in.erase(0, sizeof req);
          if (req.magic != kWireMagic) {
            c.in.clear();
            break;
          }
          Handle(c, req);
        }
      }
      std::erase_if(conns, [](const Conn& c) { return c.fd < 0; });
      if (fds[1].revents & POLLIN) {
        for (;;) {
          int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
          if (fd < 0) break;
          conns.push_back(Conn{fd, {}, nullptr});
        }
      }
    }
    for (auto& c : conns) ::close(c.fd);
    if (retired_) ::close(listen_);
  }

  void Handle(Conn& c, const Request& req) {
    auto kind = static_cast<WireKind>(req.kind);
    auto reply = [&](int status) {
      Reply rep{status, 0, 0};
      WriteAll(c.fd, &rep, sizeof rep);
    };
    switch (kind) {
      case WireKind::Post: {
        std::lock_guard<std::recursive_mutex> g(W().lock);
        Window* w = FindValue(req.hwnd);
        bool ok = w && !w->destroying && PostToWindowLocal(w, req.msg, req.wParam, req.lParam);
        reply(ok ? kWireOk : kWireNoWindow);
        return;
      }
      case WireKind::Key:
        reply(InjectKeyLocal(req.msg, req.wParam != 0, req.wParam == 2) ? kWireOk : kWireFailed);
        return;
      case WireKind::Char:
        reply(InjectCharLocal(static_cast<WCHAR>(req.msg)) ? kWireOk : kWireFailed);
        return;
      case WireKind::Wheel:
        reply(InjectWheelLocal(static_cast<int>(req.wParam), static_cast<int>(req.lParam),
                               static_cast<int>(static_cast<std::int32_t>(req.msg)), false)
                  ? kWireOk
                  : kWireFailed);
        return;
      case WireKind::Stylus:
        reply(InjectStylusLocal(req.msg, static_cast<int>(req.wParam), static_cast<int>(req.lParam), false) ? kWireOk
                                                                                                           : kWireFailed);
        return;
      case WireKind::Send:
      case WireKind::Notify: {
        std::shared_ptr<ThreadQueue> target;
        {
          std::lock_guard<std::recursive_mutex> g(W().lock);
          Window* w = FindValue(req.hwnd);
          if (w && !w->destroying) target = w->queue;
        }
        if (!target) {
          reply(kWireNoWindow);
          return;
        }
        if ((req.flags & SMTO_ABORTIFHUNG) && target->IsHung()) {
          reply(kWireHung);
          return;
        }
        auto sm = std::make_shared<SentMessage>();
        sm->hwnd = req.hwnd;
        sm->msg = req.msg;
        sm->wParam = req.wParam;
        sm->lParam = req.lParam;
        sm->remote = true;
        if (kind == WireKind::Send) sm->waiter = queue_;
        if (!QueueSent(sm)) {
          reply(kWireNoWindow);
          return;
        }
        if (kind == WireKind::Notify) reply(kWireOk);
        else c.pending = sm;
        return;
      }
    }
    reply(kWireFailed);
  }

  pid_t pid_ = 0;
  int listen_ = -1;
  std::thread thread_;
  std::shared_ptr<ThreadQueue> queue_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> retired_{false};
};

std::mutex& ServerLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

}  // namespace

void EnsureServer() {
  // The server of this process and device, stopped and joined at exit. A
  // forked child's copy of its parent's server is not its own: it is left
  // alone. The socket's name holds the device, so a process that moves to
  // another device (tests) serves that one from then on.
  static std::unique_ptr<Server> owned;
  static pid_t serverPid = 0;
  static unsigned serverDevice = 0;
  std::lock_guard<std::mutex> g(ServerLock());
  if (owned && serverPid == getpid() && serverDevice == DeviceGeneration()) return;
  if (owned && serverPid == getpid()) {
    static auto* retired = new std::vector<Server*>;
    retired->push_back(owned.release());
    retired->back()->Retire();
  }
  if (owned) owned.release();
  auto s = std::make_unique<Server>();
  if (!s->Start()) return;
  serverPid = getpid();
  serverDevice = DeviceGeneration();
  owned = std::move(s);
}

int RemoteCall(const TableEntry& e, WireKind kind, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
               DWORD timeoutMs, LRESULT* result) {
  *result = 0;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kWireFailed;
  sockaddr_un a;
  socklen_t len = AddressOf(e.pid, &a);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) {
    ::close(fd);
    return kWireNoWindow;  // the process has gone
  }
  Request req{kWireMagic, static_cast<std::uint32_t>(kind), e.hwnd, msg, wParam, lParam, flags, 0};
  if (!WriteAll(fd, &req, sizeof req)) {
    ::close(fd);
    return kWireNoWindow;
  }
  auto me = CurrentQueue();
  std::int64_t deadline = timeoutMs == INFINITE ? -1 : SteadyMs() + timeoutMs;
  Reply rep{};
  std::size_t got = 0;
  for (;;) {
    DWORD wait = INFINITE;
    if (deadline >= 0) {
      std::int64_t left = deadline - SteadyMs();
      if (left <= 0) {
        ::close(fd);
        return -1;
      }
      wait = static_cast<DWORD>(left);
    }
    bool readable;
    if (kind == WireKind::Send && !(flags & SMTO_BLOCK)) {
      // Messages sent to this thread's windows meanwhile are handled, so two
      // processes sending to each other do not wait for ever.
      ProcessSentMessages(me);
      readable = me->Wait(wait, fd);
    } else {
      pollfd p{fd, POLLIN, 0};
      readable = ::poll(&p, 1, wait == INFINITE ? -1 : static_cast<int>(wait)) > 0;
    }
    if (!readable) continue;
    ssize_t n = ::recv(fd, reinterpret_cast<char*>(&rep) + got, sizeof rep - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      ::close(fd);
      return kWireNoWindow;  // the other process died before it answered
    }
    got += static_cast<std::size_t>(n);
    if (got == sizeof rep) break;
  }
  ::close(fd);
  *result = static_cast<LRESULT>(rep.result);
  return rep.status;
}

}  // namespace plat::wm
