// The display's control interface: commands, replies, bad input, the window
// list, and the socket that serves it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/display/Control.h"
#include "platform/display/UserActivity.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using namespace plat;
using namespace plat::display;

std::vector<std::pair<UINT, LPARAM>>* g_seen = nullptr;

LRESULT CALLBACK_Record(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_seen && (m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_MOUSEMOVE || m == WM_KEYDOWN || m == WM_CHAR ||
                 m == WM_HELP))
    g_seen->emplace_back(m, m == WM_KEYDOWN || m == WM_CHAR ? static_cast<LPARAM>(w) : l);
  return DefWindowProcW(h, m, w, l);
}

class DisplayControlTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_seen = &seen_;
    wmtest::EnsureClass(u"OrvControlTarget", CALLBACK_Record);
  }
  void TearDown() override { g_seen = nullptr; }

  std::string Run(const std::string& line) { return ExecuteControl(line, input_, composer_, hooks_); }

  std::vector<std::pair<UINT, LPARAM>> seen_;
  std::vector<DWORD> slept_;
  DeviceInput input_{[this](DWORD ms) { slept_.push_back(ms); }};
  ScreenComposer composer_;
  ControlHooks hooks_;
};

// The user's input, whether a window takes it or not, sets the power
// manager's user-activity event that the auto-update service waits on; once
// no input comes for the idle time it is reset. Commands that are no input
// (the window list, a screenshot) leave it alone.
TEST_F(DisplayControlTest, InputRaisesTheUserActivityEventUntilTheUserIsIdle) {
  HWND target = CreateWindowExW(0, u"OrvControlTarget", u"", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(target, nullptr);
  SetForegroundWindow(target);
  SetFocus(target);
  UserActivity activity(250);
  input_.SetUserActivity(&activity);
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, kUserActivityEventName);
  ASSERT_NE(event, nullptr);
  auto set = [&] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; };
  struct Case {
    const char* command;
    bool input;
  } const cases[] = {
      {"tap 10 10", true},      {"tap 300 300", true},  // on no window: still the user's activity
      {"key down", true},       {"key soft1 down", true}, {"wheel 10 10 -1", true},
      {"drag 10 10 40 40 30", true}, {"text abc", true},  {"windows", false},
      {"ping", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_TRUE(orvtest::Eventually([&] { return !set(); })) << "not reset after the idle time";
    Run(c.command);
    orvtest::PumpMessages();
    EXPECT_EQ(set(), c.input);
    EXPECT_EQ(activity.Active(), c.input);
  }
  CloseHandle(event);
  DestroyWindow(target);
}

TEST(DeviceKeyTest, NamesOfTheDevicesKeys) {
  struct Case {
    const char* name;
    KeyKind kind;
    UINT vk;
  } cases[] = {
      {"left", KeyKind::Plain, VK_LEFT},     {"ENTER", KeyKind::Plain, VK_RETURN}, {"action", KeyKind::Plain, 0x86},
      {"back", KeyKind::Plain, VK_ESCAPE},   {"backspace", KeyKind::Plain, VK_BACK},
      {"soft1", KeyKind::Plain, 0x70},       {"soft2", KeyKind::Plain, 0x71},      {"help", KeyKind::Help, 0},
      {"home", KeyKind::Home, 0},            {"q", KeyKind::Plain, 'Q'},           {"7", KeyKind::Plain, '7'},
      {"0x86", KeyKind::Plain, 0x86},        {"13", KeyKind::Plain, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto k = KeyByName(c.name);
    ASSERT_TRUE(k.has_value());
    EXPECT_EQ(k->kind, c.kind);
    EXPECT_EQ(k->vk, c.vk);
  }
  for (const char* bad : {"", "0x", "00", "0x1FF", "soft3", "-5", "é"}) EXPECT_FALSE(KeyByName(bad).has_value()) << bad;
}

TEST_F(DisplayControlTest, BadCommandsGetErrorReplies) {
  for (const char* line : {"", "   ", "fly 1 2", "tap", "tap 1", "tap 1 2 3", "tap x y", "tap 99999999999 1",
                           "tap -1 5", "tap 480 10", "hold 1 1 -5", "drag 1 1 2", "wheel 1 1 0", "key",
                           "key nosuchkey", "key left sideways", "text", "screenshot", "windows please", "quit now"}) {
    SCOPED_TRACE(line);
    std::string r = Run(line);
    EXPECT_EQ(r.rfind("error ", 0), 0u) << r;
  }
  // Input where no window takes it.
  EXPECT_EQ(Run("tap 10 10"), "error no window takes the input");
  EXPECT_EQ(Run("screen"), "ok 480 640 192");
  EXPECT_EQ(Run("ping"), "ok");
}

TEST_F(DisplayControlTest, StylusKeysAndTextReachTheWindow) {
  HWND w = CreateWindowExW(0, u"OrvControlTarget", u"target", WS_VISIBLE, 10, 20, 200, 100, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  SetForegroundWindow(w);
  SetFocus(w);
  EXPECT_EQ(Run("tap 15 30"), "ok");
  EXPECT_EQ(Run("hold 20 40 750"), "ok");
  EXPECT_EQ(Run("drag 20 40 60 40 90"), "ok");
  EXPECT_EQ(Run("key action"), "ok");
  EXPECT_EQ(Run("key help"), "ok");
  EXPECT_EQ(Run("text hé"), "ok");
  orvtest::PumpMessages();
  auto at = [](int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); };
  std::vector<std::pair<UINT, LPARAM>> want{{WM_LBUTTONDOWN, at(5, 10)}, {WM_LBUTTONUP, at(5, 10)},
                                            {WM_LBUTTONDOWN, at(10, 20)}, {WM_LBUTTONUP, at(10, 20)},
                                            {WM_LBUTTONDOWN, at(10, 20)}};
  for (int i = 1; i <= 6; ++i) want.emplace_back(WM_MOUSEMOVE, at(10 + 40 * i / 6, 20));
  want.emplace_back(WM_LBUTTONUP, at(50, 20));
  want.emplace_back(WM_KEYDOWN, 0x86);
  want.emplace_back(WM_HELP, 0);
  want.emplace_back(WM_CHAR, u'h');
  want.emplace_back(WM_CHAR, 0xE9);
  EXPECT_EQ(seen_, want);
  // The hold is held for its time; the drag's steps share its time.
  ASSERT_GE(slept_.size(), 7u);
  EXPECT_EQ(slept_[0], 750u);
  EXPECT_EQ(slept_[1], 15u);
  DestroyWindow(w);
}

// A program that closes its window on a key's down (a sheet's Done) may be
// gone before the release comes: the press was taken all the same, once.
TEST_F(DisplayControlTest, PressIsTakenWhenTheProgramClosesOnTheKeyDown) {
  HWND w = CreateWindowExW(0, u"OrvControlTarget", u"sheet", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);
  ASSERT_NE(w, nullptr);
  SetForegroundWindow(w);
  std::vector<bool> delivered;  // each key down and up: taken or not
  // The program runs between the down and the up, and closes on the down.
  DeviceInput input(nullptr, [&](UINT vk, bool down, bool repeat) {
    const bool taken = InjectKey(vk, down, repeat) != FALSE;
    delivered.push_back(taken);
    orvtest::PumpMessages();
    if (down && IsWindow(w)) DestroyWindow(w);
    return taken;
  });
  EXPECT_EQ(ExecuteControl("key return", input, composer_, hooks_), "ok");
  EXPECT_EQ(delivered, (std::vector<bool>{true, false}));
  EXPECT_EQ(seen_, (std::vector<std::pair<UINT, LPARAM>>{{WM_KEYDOWN, VK_RETURN}, {WM_CHAR, u'\r'}}));
  // With no window at all, no press is taken and no release is sent.
  delivered.clear();
  EXPECT_EQ(ExecuteControl("key return", input, composer_, hooks_), "error no window takes the key");
  EXPECT_EQ(delivered, std::vector<bool>{false});
}

TEST_F(DisplayControlTest, WindowListEscapesAndReadsBack) {
  HWND w = CreateWindowExW(0, u"OrvControlTarget", u"tab\there\\ and\nline", WS_VISIBLE, 1, 2, 30, 40, nullptr,
                           nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  std::string r = Run("windows");
  ASSERT_EQ(r.rfind("ok +1\n", 0), 0u) << r;
  auto line = ParseWindowLine(r.substr(6));
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->hwnd, HandleToValue(w));
  EXPECT_EQ(line->pid, getpid());
  EXPECT_TRUE(line->visible);
  EXPECT_EQ(line->left, 1);
  EXPECT_EQ(line->bottom, 42);
  EXPECT_EQ(line->cls, "OrvControlTarget");
  EXPECT_EQ(line->title, "tab\there\\ and\nline");
  EXPECT_FALSE(ParseWindowLine("1\t2\t3").has_value());
  EXPECT_FALSE(ParseWindowLine("x\t2\t1\t0,0,1,1\tc\tt").has_value());
  DestroyWindow(w);
}

// The listing says which windows an animation draws over now: a window
// marked through one of its children, until the last of the animations on it
// has ended. Lines without that field still read.
TEST_F(DisplayControlTest, WindowListShowsAWindowAnimatingUntilItsLastAnimationEnds) {
  HWND top = CreateWindowExW(0, u"OrvControlTarget", u"Top", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
  ASSERT_NE(top, nullptr);
  HWND left = CreateWindowExW(0, u"OrvControlTarget", u"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 100, top, nullptr,
                              nullptr, nullptr);
  HWND right = CreateWindowExW(0, u"OrvControlTarget", u"", WS_CHILD | WS_VISIBLE, 50, 0, 50, 100, top, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  auto listed = [&] {
    const std::string r = Run("windows");
    EXPECT_EQ(r.rfind("ok +1\n", 0), 0u) << r;
    const auto line = ParseWindowLine(r.substr(r.find('\n') + 1));
    EXPECT_TRUE(line.has_value()) << r;
    return line ? line->animating : false;
  };
  EXPECT_FALSE(listed());
  EXPECT_TRUE(BeginWindowAnimation(left));
  EXPECT_TRUE(listed());
  EXPECT_TRUE(IsWindowAnimating(top));
  EXPECT_TRUE(IsWindowAnimating(right)) << "the mark is the top-level window's";
  EXPECT_TRUE(BeginWindowAnimation(right));
  EXPECT_TRUE(EndWindowAnimation(left));
  EXPECT_TRUE(listed()) << "one animation still runs";
  // The child gone, its animation still ends the mark it made.
  DestroyWindow(right);
  EXPECT_TRUE(EndWindowAnimation(right));
  EXPECT_FALSE(listed());
  EXPECT_FALSE(IsWindowAnimating(top));
  EXPECT_FALSE(EndWindowAnimation(left)) << "each begin is ended once";
  EXPECT_FALSE(BeginWindowAnimation(nullptr));

  auto old = ParseWindowLine("7\t2\t1\t0,0,1,1\tc\tt");
  ASSERT_TRUE(old.has_value());
  EXPECT_FALSE(old->animating);
  EXPECT_FALSE(ParseWindowLine("7\t2\t1\t0,0,1,1\tc\tt\tx").has_value());
  DestroyWindow(top);
}

TEST_F(DisplayControlTest, ServerAnswersGarbageAndKeepsServing) {
  bool quit = false;
  hooks_.quit = [&] { quit = true; };
  ControlServer server(input_, composer_, hooks_);
  ASSERT_TRUE(server.Start());
  ControlServer second(input_, composer_, hooks_);
  EXPECT_FALSE(second.Start());  // one display per device

  // A raw connection that sends bytes no client would.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::string name = ControlAddress();
  std::memcpy(a.sun_path + 1, name.data(), name.size());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a),
                      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
            0);
  std::string junk("\x01\x02\xff\n", 4);
  junk += std::string("tap 1\0 2\n", 9);
  junk += std::string(kMaxControlLine + 10, 'a');  // a line that never ends
  ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
  std::string replies;
  char buf[256];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) replies.append(buf, static_cast<std::size_t>(n));
  ::close(fd);  // the server closed its end after the endless line
  EXPECT_EQ(replies,
            "error unknown command or wrong arguments: \x01\x02\xff\nerror bad characters\nerror line too long\n");

  ControlClient client;
  ASSERT_TRUE(client.Connect());
  auto r = client.Call("screen");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->front(), "ok 480 640 192");
  r = client.Call("quit");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->front(), "ok");
  EXPECT_TRUE(quit);
  server.Stop();
  ControlClient late;
  EXPECT_FALSE(late.Connect());
}

}  // namespace
