// Registered window messages: one number per name ignoring case, the same in
// every process of the device.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/base/Device.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using orvtest::ChildContext;
using orvtest::ChildProcess;

class IpcMessageTest : public orvtest::DeviceTest {};

const char16_t* const kNames[] = {
    u"Orv News acknowledge", u"Orv News exit", u"48D1000C-0D36-4050-915D-F045C740F3C5",
    u"59F06DBC-9A67-4573-B630-3250852ED285", u"postponed invalidate", u"HtmlCtrlReload",
    u"OrvSmartScrolling_TapTimeoutMessage", u"\u00C9v\u00E9nement"};

TEST_F(IpcMessageTest, EachNameHasOneNumberIgnoringCase) {
  std::set<UINT> numbers;
  for (const char16_t* name : kNames) {
    const UINT n = RegisterWindowMessageW(name);
    EXPECT_GE(n, 0xC000u);
    EXPECT_LE(n, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessageW(name), n);
    numbers.insert(n);
  }
  EXPECT_EQ(numbers.size(), std::size(kNames));
  EXPECT_EQ(RegisterWindowMessageW(u"ORV NEWS EXIT"), RegisterWindowMessageW(u"Orv News exit"));
  EXPECT_EQ(RegisterWindowMessageW(u"\u00E9V\u00C9NEMENT"), RegisterWindowMessageW(u"\u00C9v\u00E9nement"));
  EXPECT_NE(RegisterWindowMessageW(u"Orv News exit "), RegisterWindowMessageW(u"Orv News exit"));
  EXPECT_EQ(RegisterWindowMessageW(nullptr), 0u);
  EXPECT_EQ(RegisterWindowMessageW(u""), 0u);
}

TEST_F(IpcMessageTest, EveryProcessOfTheDeviceGetsTheSameNumbers) {
  // The child registers first and in reverse order; the parent must agree.
  ChildProcess child([](ChildContext& ctx) {
    for (auto it = std::rbegin(kNames); it != std::rend(kNames); ++it)
      ctx.Send(std::to_string(RegisterWindowMessageW(*it)));
    ctx.Send("done");
    return 0;
  });
  ASSERT_TRUE(child.WaitFor("done"));
  ASSERT_EQ(child.Wait(), 0);
  for (auto it = std::rbegin(kNames); it != std::rend(kNames); ++it) {
    std::u16string upper;
    for (const char16_t* p = *it; *p; p++) upper += (*p >= u'a' && *p <= u'z') ? char16_t(*p - 32) : *p;
    const UINT n = RegisterWindowMessageW(upper.c_str());
    EXPECT_TRUE(child.WaitFor(std::to_string(n), 0)) << n;
  }
}

TEST_F(IpcMessageTest, NumbersLastForTheDevice) {
  const UINT first = RegisterWindowMessageW(u"MyImageLoaded");
  const std::string root = plat::DeviceRoot();
  {
    orvtest::ScopedTempDevice other;
    // Another device numbers its own names: here the name comes second.
    EXPECT_EQ(RegisterWindowMessageW(u"something else first"), first);
    EXPECT_EQ(RegisterWindowMessageW(u"MyImageLoaded"), first + 1);
  }
  plat::SetDeviceRoot(root);
  EXPECT_EQ(RegisterWindowMessageW(u"MyImageLoaded"), first);
}

}  // namespace
