#include "service/AddressWatch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CAddressWatch::~CAddressWatch() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    const ssize_t w = ::write(stop_, &one, sizeof one);
    (void)w;
    thread_.join();
  }
  if (socket_ >= 0) ::close(socket_);
  if (stop_ >= 0) ::close(stop_);
}

bool CAddressWatch::Start(std::function<void()> onChange) {
  if (thread_.joinable()) return true;
  socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (socket_ < 0) return false;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  if (stop_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  onChange_ = std::move(onChange);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void CAddressWatch::Run() {
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    pollfd fds[2] = {{stop_, POLLIN, 0}, {socket_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (!(fds[1].revents & POLLIN)) {
      if (fds[1].revents) return;  // the socket failed
      continue;
    }
    bool changed = false;
    for (;;) {
      const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
      if (n < 0) {
        // ENOBUFS: messages were lost while nobody read; the list may have changed.
        if (errno == ENOBUFS) changed = true;
        if (errno == EINTR || errno == ENOBUFS) continue;
        break;  // EAGAIN: all read
      }
      if (n == 0) break;
      int left = static_cast<int>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_type == RTM_NEWADDR || h->nlmsg_type == RTM_DELADDR) changed = true;
      }
    }
    if (changed && onChange_) onChange_();
  }
}
