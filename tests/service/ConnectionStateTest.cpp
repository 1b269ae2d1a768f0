// The device's network as the service and the connection stand-in see it:
// cradle, connection mode and system version decide the state; "none" leaves
// only 127.0.0.1; a paid connection is refused to a request that wants free.
#include <gtest/gtest.h>

#include "platform/base/SysInfo.h"
#include "platform/inet/ConnMgr.h"
#include "platform/inet/DeviceNetwork.h"
#include "service/CradleWatcher.h"
#include "tests/support/TempDevice.h"

namespace {

class ConnectionStateTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    plat::ResetSystemInfoForTesting();
    plat::SetConnectionProvider(nullptr);
  }
};

TEST_F(ConnectionStateTest, StateFollowsTheCradleAndTheConnectionMode) {
  struct Case {
    plat::ConnectionMode mode;
    bool cradled;
    plat::DWORD major;
    plat::DWORD state;
  } const cases[] = {
      {plat::ConnectionMode::Free, false, 5, kStateOtherNetwork},
      {plat::ConnectionMode::Free, true, 5, kStateCradled},
      {plat::ConnectionMode::Paid, true, 5, kStateCradled},
      {plat::ConnectionMode::Paid, false, 5, kStateOtherNetwork},
      {plat::ConnectionMode::None, true, 5, kStateNoNetwork},   // only 127.0.0.1
      {plat::ConnectionMode::None, false, 5, kStateNoNetwork},
      {plat::ConnectionMode::Free, true, 4, kStateOtherNetwork},  // older systems look for 192.168.55.101
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << plat::ConnectionModeName(c.mode) << " cradled " << c.cradled << " v" << c.major);
    plat::SystemInfoSettings info;
    info.majorVersion = c.major;
    plat::SetSystemInfoForTesting(info);
    ASSERT_TRUE(plat::SetConnectionMode(c.mode));
    ASSERT_TRUE(plat::SetCradled(c.cradled));
    EXPECT_EQ(GetConnectionState(), c.state);
  }
  ASSERT_TRUE(plat::SetConnectionMode(plat::ConnectionMode::None));
  std::vector<std::uint32_t> addresses;
  ASSERT_TRUE(plat::GetHostAddresses("OrvDevice", &addresses));
  EXPECT_EQ(addresses, std::vector<std::uint32_t>{plat::ParseIPv4("127.0.0.1")});
}

TEST_F(ConnectionStateTest, TheConnectionStandInFollowsTheMode) {
  plat::SetConnectionProvider(std::make_shared<plat::HostNetworkProvider>(true));
  struct Case {
    plat::ConnectionMode mode;
    bool freeOnly;
    plat::DWORD status;
  } const cases[] = {
      {plat::ConnectionMode::Free, true, plat::CONNMGR_STATUS_CONNECTED},
      {plat::ConnectionMode::Paid, false, plat::CONNMGR_STATUS_CONNECTED},
      {plat::ConnectionMode::Paid, true, plat::CONNMGR_STATUS_NOPATHTODESTINATION},
      {plat::ConnectionMode::None, false, plat::CONNMGR_STATUS_NOPATHTODESTINATION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << plat::ConnectionModeName(c.mode) << " free only " << c.freeOnly);
    ASSERT_TRUE(plat::SetConnectionMode(c.mode));
    plat::CONNMGR_CONNECTIONINFO info{};
    info.cbSize = sizeof info;
    info.dwParams = plat::CONNMGR_PARAM_GUIDDESTNET | plat::CONNMGR_PARAM_MAXCOST;
    info.ulMaxCost = c.freeOnly ? 0 : 10000;
    plat::HANDLE connection = nullptr;
    ASSERT_EQ(plat::ConnMgrEstablishConnection(&info, &connection), plat::S_OK_CONN);
    plat::DWORD status = 0;
    ASSERT_EQ(plat::ConnMgrConnectionStatus(connection, &status), plat::S_OK_CONN);
    EXPECT_EQ(status, c.status);
    plat::ConnMgrReleaseConnection(connection, 0);
  }
}

}  // namespace
