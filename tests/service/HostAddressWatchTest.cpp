// The host's own address list wakes the cradle watcher of older systems. The
// addresses change inside a user and network namespace this test makes for
// itself (the test binary runs again under "unshare -rn"), so no interface of
// the machine is touched and no privilege is needed.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/SysInfo.h"
#include "platform/inet/DeviceNetwork.h"
#include "service/AddressWatch.h"
#include "service/CradleWatcher.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

constexpr const char* kInsideMark = "ORV_TEST_IN_OWN_NETNS";

// Adds (or deletes) an IPv4 address on the loopback interface of the
// namespace, as "ip addr add" does: one route message, its answer awaited.
bool ChangeLoopbackAddress(bool add, const char* dotted) {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return false;
  struct {
    nlmsghdr header;
    ifaddrmsg address;
    char attributes[64];
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  request.header.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
  request.header.nlmsg_seq = 1;
  request.address.ifa_family = AF_INET;
  request.address.ifa_prefixlen = 32;
  request.address.ifa_index = ::if_nametoindex("lo");
  const std::uint32_t value = plat::ParseIPv4(dotted);
  for (unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = RTA_LENGTH(sizeof value);
    std::memcpy(RTA_DATA(attribute), &value, sizeof value);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
  }
  bool ok = ::send(fd, &request, request.header.nlmsg_len, 0) == static_cast<ssize_t>(request.header.nlmsg_len);
  alignas(nlmsghdr) char answer[1024];
  const ssize_t n = ok ? ::recv(fd, answer, sizeof answer, 0) : -1;
  const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
  ok = n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) && reply->nlmsg_type == NLMSG_ERROR &&
       static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error == 0;
  ::close(fd);
  return ok;
}

class HostAddressWatchTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    if (!std::getenv(kInsideMark)) GTEST_SKIP() << "runs inside the namespace that InOwnNetworkNamespace makes";
  }
  void TearDown() override { plat::ResetSystemInfoForTesting(); }
};

TEST_F(HostAddressWatchTest, EachAddressAddedOrRemovedCallsBack) {
  std::atomic<int> calls{0};
  CAddressWatch watch;
  ASSERT_TRUE(watch.Start([&] { ++calls; }));
  ASSERT_TRUE(ChangeLoopbackAddress(true, "10.77.0.1"));
  ASSERT_TRUE(orvtest::Eventually([&] { return calls.load() >= 1; }));
  const int added = calls.load();
  ASSERT_TRUE(ChangeLoopbackAddress(false, "10.77.0.1"));
  EXPECT_TRUE(orvtest::Eventually([&] { return calls.load() > added; }));
}

TEST_F(HostAddressWatchTest, ANewAddressWakesTheWatcherOfAnOlderSystem) {
  plat::SystemInfoSettings info;
  info.majorVersion = 4;
  plat::SetSystemInfoForTesting(info);
  CradleWatcher watcher;
  ASSERT_TRUE(watcher.Running());
  ASSERT_TRUE(watcher.WatchesHostAddresses());
  ASSERT_TRUE(orvtest::Eventually([&] { return watcher.Looks() >= 1; }));
  const unsigned before = watcher.Looks();
  ASSERT_TRUE(ChangeLoopbackAddress(true, "10.77.0.2"));
  EXPECT_TRUE(orvtest::Eventually([&] { return watcher.Looks() > before; }));
}

std::string SelfPath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// Runs the tests above in a namespace of their own.
TEST(HostAddressWatch, InOwnNetworkNamespace) {
  if (std::getenv(kInsideMark)) GTEST_SKIP() << "already inside";
  if (orvtest::RunProgram("/usr/bin/unshare", {"-rn", "true"}) != 0)
    GTEST_SKIP() << "this machine allows no user and network namespace";
  ::setenv(kInsideMark, "1", 1);
  const int rc = orvtest::RunProgram("/usr/bin/unshare", {"-rn", SelfPath(), "--gtest_filter=HostAddressWatchTest.*"});
  ::unsetenv(kInsideMark);
  EXPECT_EQ(rc, 0);
}

}  // namespace
