// The standard scroll bars' state: range, page and position kept consistent.
#include <gtest/gtest.h>

#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class ScrollInfoTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    wmtest::EnsureClass(u"ScrollInfoTestWindow", &DefWindowProcW);
    hwnd_ = CreateWindowExW(0, u"ScrollInfoTestWindow", u"", WS_POPUP | WS_VSCROLL, 0, 0, 100, 100, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override { DestroyWindow(hwnd_); }
  HWND hwnd_ = nullptr;
};

TEST_F(ScrollInfoTest, PageAndPositionStayInsideTheRange) {
  struct Case {
    int min, max;
    UINT page;
    int pos;
    UINT wantPage;
    int wantPos;
  };
  const Case cases[] = {
      {0, 999, 100, 500, 100, 500},      // inside
      {0, 999, 100, 950, 100, 900},      // the last page
      {0, 999, 100, -5, 100, 0},         // below the range
      {0, 99, 500, 10, 100, 0},          // page larger than the range
      {10, 20, 0, 30, 0, 20},            // no page: up to the maximum
      {0, 200000, 640, 150000, 640, 150000},  // beyond 16 bits
  };
  for (const Case& c : cases) {
    SCROLLINFO set{sizeof(SCROLLINFO), SIF_ALL, c.min, c.max, c.page, c.pos, 0};
    EXPECT_EQ(SetScrollInfo(hwnd_, SB_VERT, &set, TRUE), c.wantPos);
    SCROLLINFO got{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    ASSERT_TRUE(GetScrollInfo(hwnd_, SB_VERT, &got));
    EXPECT_EQ(got.nMin, c.min);
    EXPECT_EQ(got.nMax, c.max);
    EXPECT_EQ(got.nPage, c.wantPage);
    EXPECT_EQ(got.nPos, c.wantPos);
  }
}

TEST_F(ScrollInfoTest, BarsAreSeparateAndBadArgumentsFail) {
  EXPECT_TRUE(SetScrollRange(hwnd_, SB_HORZ, 0, 50, FALSE));
  EXPECT_EQ(SetScrollPos(hwnd_, SB_HORZ, 20, FALSE), 0);
  EXPECT_EQ(SetScrollPos(hwnd_, SB_HORZ, 70, FALSE), 20);
  EXPECT_EQ(GetScrollPos(hwnd_, SB_HORZ), 50);
  EXPECT_EQ(GetScrollPos(hwnd_, SB_VERT), 0);
  int lo = -1, hi = -1;
  EXPECT_TRUE(GetScrollRange(hwnd_, SB_HORZ, &lo, &hi));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 50);
  // Only what the mask names changes.
  SCROLLINFO pos{sizeof(SCROLLINFO), SIF_POS, 999, 999, 999, 10, 0};
  SetScrollInfo(hwnd_, SB_HORZ, &pos, FALSE);
  EXPECT_TRUE(GetScrollRange(hwnd_, SB_HORZ, &lo, &hi));
  EXPECT_EQ(hi, 50);

  SCROLLINFO bad{sizeof(SCROLLINFO) + 1, SIF_ALL, 0, 0, 0, 0, 0};
  EXPECT_FALSE(GetScrollInfo(hwnd_, SB_VERT, &bad));
  SCROLLINFO ok{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  EXPECT_FALSE(GetScrollInfo(hwnd_, SB_CTL, &ok));
  EXPECT_FALSE(GetScrollInfo(ValueToHandle(0x7FFFFFF0), SB_VERT, &ok));
}

}  // namespace
