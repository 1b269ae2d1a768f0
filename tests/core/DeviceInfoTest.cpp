// Device probes: version numbers and generations, Pocket PC and model tests
// with their caches, and the screen copy split at column 480.
#include <gtest/gtest.h>

#include <string>

#include "core/DeviceInfo.h"
#include "platform/base/Device.h"
#include "platform/base/SysInfo.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class DeviceInfoTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    ResetSystemInfoForTesting();
    ResetScreenForTesting();
  }
  // Poses a device and starts its probes afresh (another device folder).
  void Pose(const SystemInfoSettings& s) {
    SetSystemInfoForTesting(s);
    SetDeviceRoot(device_.Scratch() + "/dev" + std::to_string(++devices_));
  }
  int devices_ = 0;
};

TEST_F(DeviceInfoTest, VersionNumbersAndGenerations) {
  struct Case {
    DWORD major, minor;
    int number, generation;
  } cases[] = {
      {5, 2, 502, 5}, {5, 1, 501, 4},   {4, 20, 420, 2}, {4, 21, 421, 3}, {5, 0, 500, 4}, {4, 0, 400, 2},
      {3, 0, 300, 1}, {2, 11, 211, 0},  {4, 210, 421, 3}, {5, 1000, 510, 5}, {6, 0, 600, 5}, {3, 99, 399, 1},
  };
  for (const Case& c : cases) {
    SystemInfoSettings s;
    s.majorVersion = c.major;
    s.minorVersion = c.minor;
    Pose(s);
    EXPECT_EQ(GetOsVersionNumber(), c.number) << c.major << "." << c.minor;
    EXPECT_EQ(GetPlatformGeneration(), c.generation) << c.major << "." << c.minor;
  }
}

TEST_F(DeviceInfoTest, VersionIsKeptForTheDevice) {
  SystemInfoSettings s;
  s.majorVersion = 5;
  s.minorVersion = 1;
  Pose(s);
  EXPECT_EQ(GetOsVersionNumber(), 501);
  s.minorVersion = 2;
  SetSystemInfoForTesting(s);
  EXPECT_EQ(GetOsVersionNumber(), 501);
  EXPECT_EQ(GetPlatformGeneration(), 4);
  Pose(s);
  EXPECT_EQ(GetOsVersionNumber(), 502);
}

TEST_F(DeviceInfoTest, PocketPcIsTheExactPlatformType) {
  struct Case {
    std::u16string type;
    bool pocketPc;
  } cases[] = {
      {u"PocketPC", true}, {u"pocketpc", false}, {u"Smartphone", false}, {u"PocketPC2", false}, {u"", false},
  };
  for (const Case& c : cases) {
    SystemInfoSettings s;
    s.platformType = c.type;
    Pose(s);
    EXPECT_EQ(IsPocketPC(), c.pocketPc);
  }
}

TEST_F(DeviceInfoTest, FailedPlatformCallIsAskedAgain) {
  SystemInfoSettings s;
  s.platformType = std::u16string(300, u'P');  // does not fit 512 bytes
  Pose(s);
  EXPECT_FALSE(IsPocketPC());
  s.platformType = u"PocketPC";
  SetSystemInfoForTesting(s);
  EXPECT_TRUE(IsPocketPC());
  // A success is kept.
  s.platformType = u"Smartphone";
  SetSystemInfoForTesting(s);
  EXPECT_TRUE(IsPocketPC());
}

TEST_F(DeviceInfoTest, ModelFromOemPrefix) {
  struct Case {
    std::u16string oem;
    bool split;
  } cases[] = {
      {u"HTC_X7500", true},   {u"htc_x7500 rev 2", true}, {u"Htc_X7500", true}, {u"ATHE100", true},
      {u"athena", true},      {u"HTC_X750", false},       {u"HTC", false},      {u"Orv Linux Handheld", false},
      {u" HTC_X7500", false}, {u"", false},
  };
  for (const Case& c : cases) {
    SystemInfoSettings s;
    s.oemInfo = c.oem;
    Pose(s);
    EXPECT_EQ(DeviceModel() == kDeviceModelSplitBlit, c.split);
  }
}

// Column x of the strip holds grey level x / 3 in its blue byte and x % 256
// in its green byte, so every column is told apart.
COLORREF ColumnColour(int x) { return RGB(0, static_cast<BYTE>(x % 256), static_cast<BYTE>(x / 3)); }

TEST_F(DeviceInfoTest, CopiesAcrossColumn480SplitOnTheModel) {
  // Copying a strip onto itself 80 columns further right shows two copies:
  // the second half then reads columns the first half already overwrote.
  struct Case {
    const char16_t* oem;
    int x, w;
    bool split;
  } cases[] = {
      {u"HTC_X7500", 400, 160, true},  {u"HTC_X7500", 480, 100, false}, {u"HTC_X7500", 300, 180, false},
      {u"HTC_X7500", 479, 2, true},    {u"Other", 400, 160, false},
  };
  for (const Case& c : cases) {
    SystemInfoSettings s;
    s.oemInfo = c.oem;
    Pose(s);
    gditest::MemDc m(gditest::MakeDib(640, 1, 24));
    for (int x = 0; x < 640; ++x) SetPixel(m.dc(), x, 0, ColumnColour(x));
    const int shift = 80;
    EXPECT_TRUE(DeviceBitBlt(m.dc(), c.x, 0, c.w, 1, m.dc(), c.x - shift, 0, SRCCOPY));
    for (int x = c.x; x < c.x + c.w; ++x) {
      int from = x - shift;
      if (c.split && x >= 480 && from >= c.x && from < 480) from -= shift;  // the first half's output
      ASSERT_EQ(GetPixel(m.dc(), x, 0), ColumnColour(from)) << "x=" << c.x << " column " << x;
    }
  }
}

TEST_F(DeviceInfoTest, FailedCopyIsReported) {
  gditest::MemDc m(gditest::MakeDib(4, 4, 24));
  EXPECT_FALSE(DeviceBitBlt(m.dc(), 0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));
}

TEST_F(DeviceInfoTest, ScreenDpi) {
  EXPECT_EQ(GetScreenDpi(), 192);
  SetScreenForTesting(240, 320, 96);
  EXPECT_EQ(GetScreenDpi(), 96);
}

}  // namespace
