// The main program's process-level control: the command line, the single
// instance, the hidden coordinating window and its timers, the default
// channels, the cached screen bitmaps and the shut-down.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/AppState.h"
#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "platform/base/ScreenSettings.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/files/InstallManifest.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

TEST(ParseCommandLineTest, TakesTheLineWholeAndExactly) {
  struct Case {
    const char16_t* line;
    bool autoupdate, hasOwner, createChannels;
    int owner;
  };
  const Case cases[] = {
      {u"autoupdate", true, false, false, 0},
      {u" autoupdate", false, false, false, 0},
      {u"AUTOUPDATE", false, false, false, 0},
      {u"autoupdate createchannels", false, false, false, 0},
      {u"createchannels", false, false, true, 0},
      {u"CreateChannels", false, false, false, 0},
      {u"-hwnd:1234", false, true, false, 1234},
      {u"-hwnd:0x20", false, true, false, 32},
      {u"-hwnd:0", false, true, false, 0},
      {u"-hwnd:", false, false, false, 0},
      {u"-hwnd:abc", false, false, false, 0},
      {u"", false, false, false, 0},
      {u"something", false, false, false, 0},
  };
  for (const Case& c : cases) {
    CommandLineOptions o;
    o.autoupdate = o.hasOwner = o.createChannels = true;  // every field is reset
    o.ownerWindow = 99;
    ParseCommandLine(c.line, &o);
    SCOPED_TRACE(Utf16ToUtf8(c.line));
    EXPECT_EQ(o.autoupdate, c.autoupdate);
    EXPECT_EQ(o.hasOwner, c.hasOwner);
    EXPECT_EQ(o.createChannels, c.createChannels);
    EXPECT_EQ(o.ownerWindow, c.owner);
  }
}

// The hidden window's timers run every 10 s; only a shorter period named in
// the environment (by a whole-program test) replaces it.
TEST(HiddenTimerPeriodTest, TenSecondsUnlessTheEnvironmentNamesAShorterOne) {
  const struct {
    const char* value;  // nullptr: unset
    plat::UINT period;
  } cases[] = {{nullptr, 10000}, {"50", 50},  {"9999", 9999}, {"10000", 10000}, {"60000", 10000},
               {"0", 10000},     {"-5", 10000}, {"", 10000},   {"soon", 10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) ::setenv("ORVNEWS_HIDDEN_TIMER_MS", c.value, 1);
    else ::unsetenv("ORVNEWS_HIDDEN_TIMER_MS");
    EXPECT_EQ(HiddenTimerPeriodMs(), c.period);
  }
  ::unsetenv("ORVNEWS_HIDDEN_TIMER_MS");
}

// A plain top-level window of a class, for owners and stand-in instances.
class AppTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    GetAppState() = AppState{};
    SetMainUiRunnerForTesting({});
  }
  void TearDown() override {
    SetMainUiRunnerForTesting({});
    AppState& app = GetAppState();
    if (app.hiddenWindow) DestroyWindow(app.hiddenWindow);
    if (app.instanceMutex) CloseHandle(app.instanceMutex);
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    DrainQueue();
    app = AppState{};
  }
  static LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND) Commands().push_back(static_cast<int>(wp));
    if (msg == GetRegisteredMessages().orvNewsAcknowledge) return AckAnswer();
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  static std::vector<int>& Commands() {
    static std::vector<int> c;
    return c;
  }
  static LRESULT& AckAnswer() {
    static LRESULT a = 1;
    return a;
  }
  HWND MakeWindow(const char16_t* cls) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = cls;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, cls, u"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    windows_.push_back(w);
    return w;
  }
  // True when a WM_QUIT was waiting; empties the queue.
  static bool DrainQueue() {
    bool quit = false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) quit = true;
      else DispatchMessageW(&msg);
    }
    return quit;
  }
  std::vector<HWND> windows_;
};

TEST_F(AppTest, SingleInstanceHoldsTheMutexOrFindsTheRunningWindow) {
  const std::u16string name = u"SingleInstanceTestClass";
  int sleeps = 0;
  auto countSleeps = [&](DWORD ms) {
    EXPECT_EQ(ms, 500u);
    ++sleeps;
  };
  HWND existing = reinterpret_cast<HWND>(1);
  ASSERT_TRUE(CheckSingleInstance(name, &existing, countSleeps));
  EXPECT_EQ(existing, nullptr);
  const HANDLE held = GetAppState().instanceMutex;
  ASSERT_NE(held, nullptr);

  // The mutex is held and no window shows: five attempts, then give up.
  GetAppState().instanceMutex = nullptr;
  EXPECT_FALSE(CheckSingleInstance(name, &existing, countSleeps));
  EXPECT_EQ(sleeps, 5);
  EXPECT_EQ(existing, nullptr);
  EXPECT_EQ(GetAppState().instanceMutex, nullptr);

  // The running instance's window shows up during the wait: found on the second look.
  sleeps = 0;
  HWND window = nullptr;
  EXPECT_TRUE(CheckSingleInstance(name, &existing, [&](DWORD) {
    ++sleeps;
    window = MakeWindow(name.c_str());
  }));
  EXPECT_EQ(sleeps, 1);
  EXPECT_EQ(existing, window);
  EXPECT_EQ(GetAppState().instanceMutex, nullptr);
  GetAppState().instanceMutex = held;
}

class HiddenWindowTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Commands().clear();
    AckAnswer() = 1;
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\My Documents\\Content" + Next()));
  }
  static std::u16string Next() {
    static int n = 0;
    return Utf8ToUtf16(std::to_string(++n));
  }
  void Create(const CommandLineOptions& options) {
    ASSERT_TRUE(CreateHiddenMainWindow(nullptr, options));
    GetAppState().autoupdateRun = options.autoupdate;
  }
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    return HiddenMainWindowProc(GetAppState().hiddenWindow, msg, wp, lp);
  }
  const OrvRegisteredMessages& M() { return GetRegisteredMessages(); }
};

TEST_F(HiddenWindowTest, OwnerIsAValidGivenWindowElseTheShownHiddenWindow) {
  HWND live = MakeWindow(u"OwnerClass");
  HWND dead = MakeWindow(u"OwnerClass");
  const DWORD deadNumber = HandleToValue(dead);
  DestroyWindow(dead);
  struct Case {
    bool hasOwner;
    DWORD owner;
    bool ownerIsLive;
  };
  const Case cases[] = {{true, HandleToValue(live), true}, {true, 0, false}, {true, deadNumber, false}, {false, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    CommandLineOptions o;
    o.hasOwner = c.hasOwner;
    o.ownerWindow = static_cast<std::int32_t>(c.owner);
    Create(o);
    AppState& app = GetAppState();
    ASSERT_TRUE(IsWindow(app.hiddenWindow));
    EXPECT_EQ(FindWindowW(u"A377667C-B302-4767-B9C5-EC5210805251", nullptr), app.hiddenWindow);
    if (c.ownerIsLive) {
      EXPECT_EQ(app.ownerWindow, live);
      EXPECT_FALSE(IsWindowVisible(app.hiddenWindow));
    } else {
      EXPECT_EQ(app.ownerWindow, app.hiddenWindow);
      EXPECT_TRUE(IsWindowVisible(app.hiddenWindow));
    }
    DestroyWindow(app.hiddenWindow);
    app.hiddenWindow = nullptr;
    DrainQueue();
  }
}

TEST_F(HiddenWindowTest, AnswersTheOtherProgramsAndEndsOnExit) {
  Create({});
  AppState& app = GetAppState();
  EXPECT_EQ(Send(M().isInterfaceOpen), 0);
  EXPECT_EQ(Send(M().orvNewsAcknowledge), 1);
  HWND ui = MakeWindow(u"StandInUi");
  app.uiWindow = ui;
  EXPECT_EQ(Send(M().isInterfaceOpen), 1);

  // The view-state and update-now messages reach the interface unchanged.
  EXPECT_EQ(Send(M().updateNow, 3, 4), 1);
  EXPECT_EQ(Send(M().viewStateChanged), 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, ui, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, M().updateNow);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(msg.lParam, 4);
  ASSERT_TRUE(PeekMessageW(&msg, ui, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, M().viewStateChanged);

  // A disabled hidden window enables itself again.
  EnableWindow(app.hiddenWindow, FALSE);
  Send(WM_ENABLE, 0);
  EXPECT_TRUE(IsWindowEnabled(app.hiddenWindow));

  EXPECT_FALSE(DrainQueue());
  EXPECT_EQ(Send(M().orvNewsExit), 0);
  EXPECT_EQ(Commands(), std::vector<int>{kCloseUiCommand});
  EXPECT_TRUE(DrainQueue());

  // WM_CLOSE closes the interface but leaves the program to its loop.
  Commands().clear();
  Send(WM_CLOSE);
  EXPECT_EQ(Commands(), std::vector<int>{kCloseUiCommand});
}

TEST_F(HiddenWindowTest, TimerRemovesOnlyAnUpdateLockOfTwo) {
  Create({});
  struct Case {
    int stored;  // -1: none
    int after;   // -1: none
  };
  for (const Case c : {Case{-1, -1}, Case{1, 1}, Case{2, -1}, Case{3, 3}}) {
    SCOPED_TRACE(c.stored);
    CVORegistry key = OpenSettingsKey();
    RegDeleteValueW(key.GetKey(), u"UpdateLocked");
    if (c.stored >= 0) key.SetDWORD(u"UpdateLocked", static_cast<std::uint32_t>(c.stored));
    EXPECT_EQ(Send(WM_TIMER, kUnlockTimer), 1);
    EXPECT_EQ(static_cast<int>(OpenSettingsKey().GetDWORD(u"UpdateLocked", CVORegistry::kNoDefault)),
              c.after < 0 ? static_cast<int>(CVORegistry::kNoDefault) : c.after);
  }
}

TEST_F(HiddenWindowTest, AutoUpdateRunEndsWhenIdleUnlessHidden) {
  CommandLineOptions o;
  o.autoupdate = true;
  Create(o);
  EXPECT_EQ(Send(WM_TIMER, kAutoExitTimer), 1);
  EXPECT_TRUE(DrainQueue());
  // Under a given owner the hidden window is invisible: the run goes on.
  HWND owner = MakeWindow(u"OwnerClass");
  DestroyWindow(GetAppState().hiddenWindow);
  DrainQueue();
  o.hasOwner = true;
  o.ownerWindow = static_cast<std::int32_t>(HandleToValue(owner));
  Create(o);
  EXPECT_EQ(Send(WM_TIMER, kAutoExitTimer), 1);
  EXPECT_FALSE(DrainQueue());
}

// Timer 888 of an automatic run: each update-now message arms it (in an
// automatic run only) and the second start of the program (1112) takes it
// away, so that the run does not end by itself under the user.
TEST_F(HiddenWindowTest, UpdateNowArmsTheExitTimerAndASecondStartCancelsIt) {
  ManualClock clock;
  SetClock(&clock);
  // Whether timer 888 of the hidden window fires within the next 10 s.
  auto fires = [&] {
    clock.Advance(10001);
    MSG msg;
    bool fired = false;
    while (PeekMessageW(&msg, GetAppState().hiddenWindow, WM_TIMER, WM_TIMER, PM_REMOVE))
      fired = fired || msg.wParam == kAutoExitTimer;
    return fired;
  };
  CommandLineOptions o;
  o.autoupdate = true;
  Create(o);
  EXPECT_FALSE(fires()) << "armed only by an update-now message";
  EXPECT_EQ(Send(M().updateNow), 1);
  EXPECT_TRUE(fires());
  EXPECT_EQ(Send(M().updateNow), 1);
  Send(WM_USER + 88);
  EXPECT_FALSE(fires()) << "the user started the program again";

  // Outside an automatic run the message arms nothing.
  DestroyWindow(GetAppState().hiddenWindow);
  DrainQueue();
  Create({});
  EXPECT_EQ(Send(M().updateNow), 1);
  EXPECT_FALSE(fires());
  SetClock(nullptr);
}

TEST_F(HiddenWindowTest, ShowRequestOpensTheInterfaceUnderAValidOwner) {
  Create({});
  AppState& app = GetAppState();
  std::vector<HWND> owners;
  SetMainUiRunnerForTesting([&](HWND owner, HWND* slot) {
    EXPECT_EQ(slot, &app.uiWindow);
    owners.push_back(owner);
    return true;
  });
  HWND dead = MakeWindow(u"OwnerClass");
  DestroyWindow(dead);
  HWND live = MakeWindow(u"OwnerClass");

  // No owner or a dead one: the hidden window accepts, the interface opens
  // and closing it ends the program.
  for (HWND asked : {static_cast<HWND>(nullptr), dead}) {
    EXPECT_EQ(Send(M().showInterface, 0, reinterpret_cast<LPARAM>(asked)), 0);
    EXPECT_TRUE(DrainQueue());
  }
  // A live owner that accepts is the owner; one that refuses ends the program.
  Send(M().showInterface, 0, reinterpret_cast<LPARAM>(live));
  EXPECT_TRUE(DrainQueue());
  EXPECT_EQ(owners, (std::vector<HWND>{app.hiddenWindow, app.hiddenWindow, live}));
  AckAnswer() = 0;
  Send(M().showInterface, 0, reinterpret_cast<LPARAM>(live));
  EXPECT_TRUE(DrainQueue());
  EXPECT_EQ(owners.size(), 3u);

  // While the interface is open a request only remembers who asked.
  app.uiWindow = MakeWindow(u"StandInUi");
  Send(M().showInterface, 0, reinterpret_cast<LPARAM>(live));
  EXPECT_EQ(app.pendingForeground, live);
  EXPECT_EQ(owners.size(), 3u);
  EXPECT_FALSE(DrainQueue());
}

class DefaultChannelsTest : public HiddenWindowTest {
 protected:
  void TearDown() override {
    CChannelSet* set = GetChannelSet();
    set->RemoveAll();
    GetLocalizer().Unload();
    HiddenWindowTest::TearDown();
  }
  std::vector<std::u16string> Channels() {
    std::vector<std::u16string> out;
    CChannelSet* set = GetChannelSet();
    for (int i = 0; i < set->GetCount(); ++i) {
      IChannel* c = set->GetAt(i);
      const CStringToStringMap& p = c->GetProperties();
      out.push_back(c->GetName() + u"|" + p.at(kPropUrl) + u"|" + p.at(kPropType));
    }
    return out;
  }
};

TEST_F(DefaultChannelsTest, LanguageFileChannelsOnceElseTheBuiltInSix) {
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Program Files\\Orv News"));
  CreateDirectoryW(u"\\Program Files\\Orv News", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Program Files/Orv News/localization_zz.txt",
                         "DEFCHANNEL_1_URL|http://a.example/feed\n"
                         "DEFCHANNEL_1_NAME|Alpha\n"
                         "DEFCHANNEL_2_URL|http://b.example/feed\n"
                         "DEFCHANNEL_2_NAME|\n"
                         "DEFCHANNEL_4_URL|http://d.example/feed\n"
                         "DEFCHANNEL_4_NAME|Delta\n");
  ASSERT_TRUE(LoadLanguage(u"zz"));
  Create({.createChannels = true});
  CreateDefaultChannels();
  EXPECT_EQ(Channels(), (std::vector<std::u16string>{u"Alpha|http://a.example/feed|@RSS",
                                                      u"Delta|http://d.example/feed|@RSS"}));
  // A second run adds nothing.
  CreateDefaultChannels();
  EXPECT_EQ(Channels().size(), 2u);

  // A new content folder and a language without channels: the built-in six.
  GetLocalizer().Unload();
  ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\My Documents\\Other" + Next()));
  ASSERT_EQ(GetChannelSet()->LoadContentFolder(), 1);
  ASSERT_EQ(GetChannelSet()->GetCount(), 0);
  CreateDefaultChannels();
  int count = 0;
  const DefaultChannel* builtIn = GetBuiltInDefaultChannels(&count);
  ASSERT_EQ(count, 6);
  std::vector<std::u16string> expected;
  for (int i = 0; i < count; ++i) expected.push_back(std::u16string(builtIn[i].title) + u"|" + builtIn[i].address + u"|@RSS");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Channels(), expected);

  EXPECT_FALSE(AddDefaultChannel(u"", u"Title"));
  EXPECT_FALSE(AddDefaultChannel(u"http://x.example/", u""));
}

TEST_F(AppTest, CachedBitmapsOfOtherWidthsGoInstalledFilesStay) {
  ASSERT_TRUE(WriteDeviceScreen(ScreenSettings{240, 320, 96}));
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Program Files\\Orv News"));
  ASSERT_TRUE(CreateDirectoryW(u"\\Program Files\\Orv News", nullptr));
  const std::string folder = device_.FsRoot() + "/Program Files/Orv News/";
  const char* files[] = {"240_news.dat", "480_news.dat", "176_scrolllist.dat", "320_progress1.dat", "320_progress.dat",
                         "480_news_layouts.dat", "480_news_skin.dat", "480_other.dat"};
  for (const char* f : files) orvtest::WriteHostFile(folder + f, "x");
  InstallManifest m;
  m.product = u"Orv News";
  m.files = {u"\\Program Files\\Orv News\\480_news_layouts.dat", u"\\Program Files\\Orv News\\320_PROGRESS.dat"};
  ASSERT_TRUE(WriteInstallManifest(u"Orv Brevant", m));

  DeleteUnusedScreenBitmaps();
  std::vector<std::string> left;
  for (const char* f : files)
    if (orvtest::ReadHostFile(folder + f) == "x") left.push_back(f);
  EXPECT_EQ(left, (std::vector<std::string>{"240_news.dat", "320_progress.dat", "480_news_layouts.dat",
                                            "480_news_skin.dat", "480_other.dat"}));
}

// The shut-down is the process's end: it stops the process-wide update
// manager for good. So it runs in a process of its own (the test's child),
// which says on its error output what did not hold and exits with 0 when all did.
void ShutDownTwiceAndCheck() {
  int failures = 0;
  auto check = [&](bool holds, const char* what, int remember) {
    if (holds) return;
    std::fprintf(stderr, "remember %d: %s\n", remember, what);
    ++failures;
  };
  for (int remember : {0, 1}) {
    HWND existing = nullptr;
    check(CheckSingleInstance(u"ShutdownTestMutex", &existing), "the instance is taken", remember);
    check(GetAppState().instanceMutex != nullptr, "the instance mutex is held", remember);
    GetGlobalOptions().SetRememberViewingLocation(remember);
    CVORegistry key = OpenSettingsKey();
    key.SetDWORD(kViewStateCurrentView, 2);
    key.SetString(kViewStateCurrentChannelName, u"Alpha");
    ShutdownApplication();
    check(GetAppState().instanceMutex == nullptr, "the instance mutex is released", remember);
    check(OpenSettingsKey().GetDWORD(kViewStateCurrentView, 0) == (remember ? 2u : 0u),
          "the view is reset unless remembered", remember);
    HANDLE again = CreateMutexW(nullptr, FALSE, u"ShutdownTestMutex");
    check(GetLastError() != ERROR_ALREADY_EXISTS, "the instance can be taken again", remember);
    CloseHandle(again);
  }
  std::fflush(stderr);
  _exit(failures == 0 ? 0 : 1);
}

TEST_F(AppTest, ShutdownReleasesTheInstanceAndResetsTheViewUnlessRemembered) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ShutDownTwiceAndCheck(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
