// The host's own address list, watched for real: a thread reads the kernel's
// route messages (an AF_NETLINK socket joined to the IPv4 and IPv6 address
// groups) and calls back at each address added or removed, so a connection
// that comes up wakes the cradle watcher as the address-list-change request
// does on the device.
#pragma once

#include <functional>
#include <thread>

class CAddressWatch {
 public:
  CAddressWatch() = default;
  // Ends the thread (at once: it polls a stop descriptor beside the socket).
  ~CAddressWatch();
  CAddressWatch(const CAddressWatch&) = delete;
  CAddressWatch& operator=(const CAddressWatch&) = delete;

  // Opens the socket and starts the thread; false when the host offers no
  // route socket (nothing then calls back).
  bool Start(std::function<void()> onChange);
  bool Running() const { return thread_.joinable(); }

 private:
  void Run();

  std::function<void()> onChange_;
  int socket_ = -1;
  int stop_ = -1;
  std::thread thread_;
};
