// The screen cover and a task bar of another process: the bar goes back into
// place when the cover is taken down, also when its owner could not take the
// request at the first attempt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "service/ScreenCover.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using orvtest::ChildContext;
using orvtest::ChildProcess;
using orvtest::Eventually;

class ScreenCoverTest : public orvtest::DeviceTest {};

plat::LRESULT BarProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  if (wmtest::PaintWhite(h, m)) return 0;
  return plat::DefWindowProcW(h, m, w, l);
}

// A thread that has not read its messages for longer than this is taken as
// hung: requests of other processes to its windows are refused at once.
constexpr auto kTakenAsHung = std::chrono::milliseconds(5000 + 300);

TEST_F(ScreenCoverTest, TheTaskBarGoesBackAlsoWhenItsOwnerWasBusyAtTheFirstAttempt) {
  ChildProcess owner([](ChildContext& ctx) {
    wmtest::EnsureClass(u"HHTaskBar", BarProc);
    plat::HWND bar = plat::CreateWindowExW(0, u"HHTaskBar", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 120, 26,
                                           nullptr, nullptr, nullptr, nullptr);
    if (!bar) return 1;
    ctx.Ready();
    if (!orvtest::PumpUntil([&] { return ctx.WaitFor("busy", 0); }, 30000)) return 2;
    // Busy: its messages wait until it is told to go on.
    ctx.Send("not reading");
    if (!ctx.WaitFor("go on", 60000)) return 3;
    if (!orvtest::PumpUntil([&] { return ctx.WaitFor("end", 0); }, 60000)) return 4;
    return 0;
  });
  ASSERT_TRUE(owner.WaitReady());
  plat::HWND bar = plat::FindWindowW(u"HHTaskBar", nullptr);
  ASSERT_NE(bar, nullptr);
  plat::RECT before{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &before));

  // Shown from a thread that has ended, so that another one may take it down.
  CScreenCover cover;
  bool shown = false;
  std::thread([&] { shown = cover.Show(); }).join();
  ASSERT_TRUE(shown);
  plat::RECT shelved{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &shelved));
  ASSERT_NE(shelved.left, before.left) << "the cover moves the bar out of sight";

  owner.Send("busy");
  ASSERT_TRUE(owner.WaitFor("not reading", 20000));
  // Long enough for the owner's thread to be taken as hung.
  std::this_thread::sleep_for(kTakenAsHung);

  std::atomic<bool> hidden{false};
  std::thread hide([&] {
    cover.Hide();
    hidden = true;
  });
  // While the owner cannot answer, the cover does not give the bar up.
  EXPECT_FALSE(Eventually([&] { return hidden.load(); }, 1000)) << "the put-back was given up at the first refusal";
  owner.Send("go on");
  EXPECT_TRUE(Eventually([&] { return hidden.load(); }, 30000));
  hide.join();
  plat::RECT after{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &after));
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(plat::FindWindowW(kCoverClassName, nullptr), nullptr);
  owner.Send("end");
  EXPECT_EQ(owner.Wait(), 0);
}

// The service stops while the bar's owner does not read its messages (taken
// as hung: every request to it is refused at once, none is left with it):
// the asking ends with the stop, so the service's thread ends within its
// bound; the last try after the stop is left with the owner, and the bar goes
// back once the owner reads its messages again.
TEST_F(ScreenCoverTest, AStopEndsTheAskingWhileTheOwnerIsBusy) {
  ChildProcess owner([](ChildContext& ctx) {
    wmtest::EnsureClass(u"HHTaskBar", BarProc);
    plat::HWND bar = plat::CreateWindowExW(0, u"HHTaskBar", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 120, 26,
                                           nullptr, nullptr, nullptr, nullptr);
    if (!bar) return 1;
    ctx.Ready();
    if (!orvtest::PumpUntil([&] { return ctx.WaitFor("busy", 0); }, 30000)) return 2;
    // Its last look at its queue is timed by a clock that then passes the
    // time after which a thread is taken as hung.
    static plat::ManualClock clock;  // read by the process's other threads until it ends
    plat::SetClock(&clock);
    orvtest::PumpMessages();
    clock.Advance(static_cast<plat::DWORD>(kTakenAsHung.count()));
    ctx.Send("not reading");
    if (!ctx.WaitFor("go on", 120000)) return 3;
    plat::SetClock(nullptr);
    orvtest::PumpMessages();
    ctx.Send("read");
    if (!orvtest::PumpUntil([&] { return ctx.WaitFor("end", 0); }, 60000)) return 4;
    return 0;
  });
  ASSERT_TRUE(owner.WaitReady());
  plat::HWND bar = plat::FindWindowW(u"HHTaskBar", nullptr);
  ASSERT_NE(bar, nullptr);
  plat::RECT before{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &before));

  plat::HANDLE stop = plat::CreateLocalEvent(true, false);
  ASSERT_NE(stop, nullptr);
  CScreenCover cover;
  cover.SetStopEvent(stop);
  bool shown = false;
  std::thread([&] { shown = cover.Show(); }).join();
  ASSERT_TRUE(shown);

  owner.Send("busy");
  ASSERT_TRUE(owner.WaitFor("not reading", 20000));
  std::atomic<bool> hidden{false};
  std::thread hide([&] {
    cover.Hide();
    hidden = true;
  });
  plat::SetEvent(stop);
  // Hide returns while the owner still does not read its messages.
  EXPECT_TRUE(Eventually([&] { return hidden.load(); }, 20000)) << "the asking went on past the stop";
  hide.join();
  EXPECT_EQ(plat::FindWindowW(kCoverClassName, nullptr), nullptr);
  plat::RECT shelved{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &shelved));
  EXPECT_NE(shelved.left, before.left) << "the owner took no request while it did not read its messages";
  cover.LastTry();
  owner.Send("go on");
  ASSERT_TRUE(owner.WaitFor("read", 20000));
  plat::RECT after{};
  ASSERT_TRUE(plat::GetWindowRect(bar, &after));
  EXPECT_EQ(after.left, before.left) << "the last try was not left with the owner";
  EXPECT_EQ(after.top, before.top);
  owner.Send("end");
  EXPECT_EQ(owner.Wait(), 0);
  cover.SetStopEvent(nullptr);
  plat::CloseHandle(stop);
}

}  // namespace
