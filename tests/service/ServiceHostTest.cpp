// The service host and a library whose thread outlives its stop: the host
// keeps the library loaded while that thread may still run in it, so the
// thread ends in its own code and the host runs on; asked to unload the
// product, it answers that it kept the library, then and every time after.
#include <gtest/gtest.h>

#include <string>

#include "hosts/HostRequests.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/service/StuckServiceHost.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using orvtest::Eventually;
using orvtest::StuckServiceHost;

class ServiceHostTest : public orvtest::DeviceTest {};

// The removal's request, as the configuration manager sends it; the answer,
// or -1 when the send failed.
long long AskToUnload(plat::HWND window) {
  const plat::UINT unload = plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage);
  plat::DWORD_PTR answer = 0;
  if (!plat::SendMessageTimeoutW(window, unload, 0, 0, plat::SMTO_NORMAL, 20000, &answer)) return -1;
  return static_cast<long long>(answer);
}

TEST_F(ServiceHostTest, ALibraryWhoseThreadStillRunsAfterItsStopStaysLoaded) {
  StuckServiceHost host(device_.Scratch(), false);
  ASSERT_GT(host.Pid(), 0);
  const plat::HWND window = host.Window();
  ASSERT_NE(window, nullptr);

  // The host stops the library, whose thread runs on: the library stays
  // loaded, and the answer says so.
  EXPECT_EQ(AskToUnload(window), plat::hosts::kUnloadKept);

  // The thread goes on in the library's code and ends there.
  host.Release();
  EXPECT_TRUE(Eventually([&] { return host.Ended(); }, 20000));
  // The library is never freed after all: asked again, the host says it keeps it.
  EXPECT_EQ(AskToUnload(window), plat::hosts::kUnloadKept);
  // The host is still there, and stops cleanly.
  EXPECT_TRUE(host.Running());
  EXPECT_EQ(host.Stop(), 0);
}

// A library whose stop is clean is freed: the host says it is gone, and
// afterwards that it holds none.
TEST_F(ServiceHostTest, ALibraryThatStopsCleanlyIsUnloaded) {
  StuckServiceHost host(device_.Scratch(), true);
  ASSERT_GT(host.Pid(), 0);
  const plat::HWND window = host.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(AskToUnload(window), plat::hosts::kUnloadDone);
  EXPECT_TRUE(host.Ended());
  EXPECT_EQ(AskToUnload(window), plat::hosts::kUnloadHeldNone);
  EXPECT_TRUE(host.Running());
  EXPECT_EQ(host.Stop(), 0);
}

}  // namespace
