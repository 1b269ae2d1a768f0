// The view state: its registry values, the view-state message to the main
// program (also from another process), the article filter it refills, the
// touch-shell stub window and the location kept across a content move.
#include "database/ViewState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "database/ArticleFilter.h"
#include "database/ChannelsFilter.h"
#include "database/NotifyToday.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"

namespace {

using orvtest::ChildContext;
using orvtest::ChildProcess;

std::atomic<int> g_mainPosts{0};
std::atomic<int> g_otherPosts{0};
std::atomic<int> g_badParams{0};

// The message by its registered name, as another deliverable would ask for it.
plat::UINT ViewStateMessage() { return plat::RegisterWindowMessageW(u"48D1000C-0D36-4050-915D-F045C740F3C5"); }

plat::LRESULT CountingProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                           std::atomic<int>& counter) {
  if (msg == ViewStateMessage()) {
    if (wParam != 0 || lParam != 0) ++g_badParams;
    ++counter;
    return 0;
  }
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}
plat::LRESULT MainProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  return CountingProc(h, m, w, l, g_mainPosts);
}
plat::LRESULT OtherProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  return CountingProc(h, m, w, l, g_otherPosts);
}

plat::HWND MakeWindow(const std::u16string& className, plat::WNDPROC proc) {
  plat::WNDCLASSW wc{};
  if (!plat::GetClassInfoW(nullptr, className.c_str(), &wc)) {
    wc.lpfnWndProc = proc;
    wc.lpszClassName = className.c_str();
    plat::RegisterClassW(&wc);
  }
  return plat::CreateWindowExW(0, className.c_str(), u"", plat::WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
}

// Handles this thread's posted messages until none is left, or until
// done() holds when given (bounded by real time).
// A value of the product key as stored, without creating it.
std::optional<plat::DWORD> StoredDword(const char16_t* name) {
  CVORegistry key(plat::HKEY_CURRENT_USER, GetProductRegistryKey().c_str(), false, false, plat::KEY_READ);
  plat::DWORD value = 0;
  plat::DWORD size = sizeof(value);
  if (!key.QueryValue(name, &value, &size) || size != sizeof(value)) return std::nullopt;
  return value;
}
std::optional<std::u16string> StoredString(const char16_t* name) {
  CVORegistry key(plat::HKEY_CURRENT_USER, GetProductRegistryKey().c_str(), false, false, plat::KEY_READ);
  std::vector<char16_t> buffer(512, u'\0');
  plat::DWORD size = static_cast<plat::DWORD>(buffer.size() * 2 - 2);
  if (!key.QueryValue(name, buffer.data(), &size)) return std::nullopt;
  return std::u16string(buffer.data());
}

class ViewStateTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_mainPosts = 0;
    g_otherPosts = 0;
    g_badParams = 0;
  }
  void TearDown() override {
    if (mainWindow_ != nullptr) plat::DestroyWindow(mainWindow_);
  }
  // The main program's hidden window, found by its class.
  void MakeMainWindow() {
    mainWindow_ = MakeWindow(GetInstanceGuid(), &MainProc);
    ASSERT_NE(mainWindow_, nullptr);
  }
  plat::HWND mainWindow_ = nullptr;
};

TEST_F(ViewStateTest, ValuesLiveInTheProductKey) {
  CDBViewState state;
  EXPECT_EQ(state.GetCurrentView(), 0u);
  EXPECT_EQ(StoredDword(u"DBViewState.CurrentView"), std::optional<plat::DWORD>(0));  // written when read
  EXPECT_EQ(state.GetCurrentChannelName(), u"");
  EXPECT_EQ(state.GetCurrentArticleID(), u"");

  state.OpenChannel(u"Tech News");
  EXPECT_TRUE(state.SetCurrentArticleID(u"0123456789abcdef0123456789abcdef"));
  state.SetCurrentView(DBV_ARTICLE);
  EXPECT_EQ(StoredDword(u"DBViewState.CurrentView"), std::optional<plat::DWORD>(2));
  EXPECT_EQ(StoredString(u"DBViewState.CurrentChannelName"), std::optional<std::u16string>(u"Tech News"));
  EXPECT_EQ(StoredString(u"DBViewState.CurrentArticleID"),
            std::optional<std::u16string>(u"0123456789abcdef0123456789abcdef"));

  // Another object (another deliverable) reads the same values.
  CDBViewState other;
  EXPECT_EQ(other.GetCurrentView(), 2u);
  EXPECT_EQ(other.GetCurrentChannelName(), u"Tech News");

  state.Reset();
  EXPECT_EQ(other.GetCurrentView(), 0u);
  EXPECT_EQ(other.GetCurrentChannelName(), u"");
  EXPECT_EQ(other.GetCurrentArticleID(), u"");
  EXPECT_EQ(GetViewStateChangedMessage(), ViewStateMessage());
}

TEST_F(ViewStateTest, OpeningAnArticleTellsTheTodayItemItsChannel) {
  CDBViewState state;
  OpenSettingsKey().SetString(kChangedItemsValue, kNoItemsChanged);
  // From the list of all channels there is no one channel to name.
  state.OpenChannel(u"");
  state.OpenArticle(u"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(StoredString(kChangedItemsValue), std::optional<std::u16string>(kNoItemsChanged));
  state.OpenChannel(u"Tech|News");
  EXPECT_EQ(StoredString(kChangedItemsValue), std::optional<std::u16string>(kNoItemsChanged));
  state.OpenArticle(u"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(StoredString(kChangedItemsValue), std::optional<std::u16string>(u"Tech\\|News|"));
}

TEST_F(ViewStateTest, NavigationPostsOnlyWhenItChangesSomething) {
  MakeMainWindow();
  CDBViewState state;
  struct Step {
    const char* what;
    std::function<void(CDBViewState&)> action;
    int posts;
    plat::DWORD view;
    std::u16string channel;
  };
  const std::vector<Step> steps = {
      {"channel list again", [](CDBViewState& s) { s.GoToChannelList(); }, 0, 0, u""},
      {"open a channel", [](CDBViewState& s) { s.OpenChannel(u"a"); }, 1, 1, u"a"},
      {"open it again", [](CDBViewState& s) { s.OpenChannel(u"a"); }, 0, 1, u"a"},
      {"article list again", [](CDBViewState& s) { s.GoToArticleList(); }, 0, 1, u"a"},
      {"open an article", [](CDBViewState& s) { s.OpenArticle(u"id1"); }, 1, 2, u"a"},
      {"open it again", [](CDBViewState& s) { s.OpenArticle(u"id1"); }, 1, 2, u"a"},
      {"back to the list", [](CDBViewState& s) { s.GoToArticleList(); }, 1, 1, u"a"},
      {"all channels", [](CDBViewState& s) { s.OpenChannel(u""); }, 1, 1, u""},
      {"channel list", [](CDBViewState& s) { s.GoToChannelList(); }, 1, 0, u""},
      {"same channel from the channel list", [](CDBViewState& s) { s.OpenChannel(u""); }, 1, 1, u""},
      {"reset", [](CDBViewState& s) { s.Reset(); }, 0, 0, u""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const int before = g_mainPosts;
    step.action(state);
    orvtest::PumpMessages();
    EXPECT_EQ(g_mainPosts - before, step.posts);
    EXPECT_EQ(state.GetCurrentView(), step.view);
    EXPECT_EQ(state.GetCurrentChannelName(), step.channel);
  }
  EXPECT_EQ(g_badParams, 0);

  // With a notify window set, the notice goes there instead.
  plat::HWND other = MakeWindow(u"OrvTestViewStateWindow", &OtherProc);
  ASSERT_NE(other, nullptr);
  state.SetNotifyWindow(other);
  const int mainBefore = g_mainPosts;
  state.OpenChannel(u"b");
  orvtest::PumpMessages();
  EXPECT_EQ(g_otherPosts, 1);
  EXPECT_EQ(g_mainPosts, mainBefore);
  plat::DestroyWindow(other);
}

TEST_F(ViewStateTest, WrittenInOneProcessReadInAnotherAfterTheMessage) {
  MakeMainWindow();
  ChildProcess child([](ChildContext&) {
    CDBViewState state;
    state.OpenChannel(u"Remote channel");
    state.OpenArticle(u"fedcba9876543210fedcba9876543210");
    return 0;
  });
  // The Today item's two notices reach the main program's window.
  EXPECT_TRUE(orvtest::PumpUntil([] { return g_mainPosts.load() >= 2; }));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(g_mainPosts, 2);
  EXPECT_EQ(g_badParams, 0);
  CDBViewState state;
  EXPECT_EQ(state.GetCurrentView(), 2u);
  EXPECT_EQ(state.GetCurrentChannelName(), u"Remote channel");
  EXPECT_EQ(state.GetCurrentArticleID(), u"fedcba9876543210fedcba9876543210");
}

// Articles are stored under 32-hex-digit ids: one per channel named a, b or c.
std::u16string IdOf(const char16_t* channel) { return std::u16string(31, u'0') + channel; }

class ViewStateFilterTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    set_ = GetChannelSet();
    lock_ = std::make_unique<CSyncLock>(set_, u"ViewStateFilterTest");
    ASSERT_TRUE(set_->Open());
    for (const char16_t* name : {u"a", u"b", u"c"}) {
      IChannel* channel = set_->Add(name);
      ASSERT_NE(channel, nullptr);
      // Written to the channel's files when the last user lets go.
      channel->Acquire(this);
      const plat::FILETIME date = plat::ULLToFileTime(plat::CurrentClock().NowUtcFileTime());
      ASSERT_NE(channel->CreateArticle(IdOf(name), US_UP_TO_DATE, date), nullptr);
      channel->Release(this, false);
    }
  }
  void TearDown() override {
    // The device goes with the test: the process's set lets go of its
    // channels, so the next test's Open reads that test's own device.
    set_->RemoveAll();
    lock_.reset();
  }
  IChannel* Named(const char16_t* name) { return set_->FindByName(name); }

  CChannelSet* set_ = nullptr;
  std::unique_ptr<CSyncLock> lock_;
};

TEST_F(ViewStateFilterTest, TheFilterFollowsTheView) {
  CArticleFilter filter(set_);
  CDBViewState state(set_);
  state.OpenChannel(u"b");
  state.GoToChannelList();
  state.AttachArticleFilter(&filter);
  EXPECT_EQ(filter.GetChannelCount(), 0);  // the channel list shows no articles

  state.OpenChannel(u"b");
  ASSERT_EQ(filter.GetChannelCount(), 1);
  EXPECT_TRUE(filter.ContainsChannel(Named(u"b")));
  IArticle* first = filter.FindById(IdOf(u"b"));
  ASSERT_NE(first, nullptr);

  // All channels: the others join, the first one stays loaded as it was.
  state.OpenChannel(u"");
  EXPECT_EQ(filter.GetChannelCount(), 3);
  EXPECT_EQ(filter.GetCount(), 3);
  EXPECT_EQ(filter.FindById(IdOf(u"b")), first);

  state.OpenArticle(IdOf(u"c"));
  EXPECT_EQ(filter.GetCount(), 3);

  state.OpenChannel(u"no such channel");
  EXPECT_EQ(filter.GetChannelCount(), 0);
  EXPECT_EQ(filter.GetCount(), 0);

  state.OpenChannel(u"a");
  EXPECT_EQ(filter.GetCount(), 1);
  state.Reset();
  EXPECT_EQ(filter.GetChannelCount(), 0);
  EXPECT_EQ(filter.GetCount(), 0);
}

TEST_F(ViewStateFilterTest, LocationSurvivesAMoveOfTheContentFolder) {
  CArticleFilter filter(set_);
  CDBViewState state(set_);
  ASSERT_TRUE(state.KeepViewLocation());
  {
    // Another view state can neither take the place nor clear it.
    CDBViewState other(set_);
    EXPECT_FALSE(other.KeepViewLocation());
    EXPECT_FALSE(other.IsKeepingViewLocation());
  }
  EXPECT_EQ(set_->GetViewLocationKeeper(), &state);
  state.AttachArticleFilter(&filter);
  state.OpenChannel(u"b");
  state.OpenArticle(IdOf(u"b"));
  ASSERT_EQ(filter.GetCount(), 1);

  ASSERT_TRUE(set_->MoveContentFolder(u"\\Moved News", u""));
  EXPECT_EQ(set_->GetCount(), 3);
  EXPECT_EQ(state.GetCurrentView(), 2u);
  EXPECT_EQ(state.GetCurrentChannelName(), u"b");
  EXPECT_EQ(state.GetCurrentArticleID(), IdOf(u"b"));
  // The filter shows the reloaded channel.
  ASSERT_EQ(filter.GetChannelCount(), 1);
  EXPECT_TRUE(filter.ContainsChannel(Named(u"b")));
  EXPECT_NE(filter.FindById(IdOf(u"b")), nullptr);
}

TEST_F(ViewStateFilterTest, ProcessWideServicesWorkTogether) {
  CDBViewState* state = GetDBViewState();
  ASSERT_EQ(state, GetDBViewState());
  state->AttachArticleFilter(GetArticleFilter());
  state->OpenChannel(u"c");
  EXPECT_TRUE(GetArticleFilter()->ContainsChannel(Named(u"c")));
  EXPECT_NE(GetArticleFilter()->FindById(IdOf(u"c")), nullptr);
  EXPECT_EQ(GetChannelsFilter()->GetCount(), 3);
  // The process-wide view state keeps the location across a move.
  state->OpenArticle(IdOf(u"c"));
  ASSERT_TRUE(set_->MoveContentFolder(u"\\Elsewhere", u""));
  EXPECT_EQ(state->GetCurrentChannelName(), u"c");
  EXPECT_TRUE(GetArticleFilter()->ContainsChannel(Named(u"c")));
  EXPECT_EQ(GetChannelsFilter()->GetCount(), 3);
  // Left attached and shown: the objects go in order at exit.
}

// A view state (the process-wide one lives as long as the process) reads and
// writes the product key of the device in use, also once the device folder
// changed (as each test's own device does): it never keeps a key of the
// device before.
TEST_F(ViewStateTest, AViewStateFollowsTheDeviceInUse) {
  CDBViewState kept(nullptr);
  CDBViewState* state = &kept;
  state->SetCurrentChannelName(u"First");
  EXPECT_EQ(StoredString(kViewStateCurrentChannelName), std::u16string(u"First"));
  {
    orvtest::ScopedTempDevice second;
    EXPECT_EQ(state->GetCurrentChannelName(), u"") << "the second device has no view state yet";
    state->SetCurrentChannelName(u"Second");
    EXPECT_EQ(state->GetCurrentChannelName(), u"Second");
    EXPECT_EQ(StoredString(kViewStateCurrentChannelName), std::u16string(u"Second"));
    state->SetCurrentView(DBV_ARTICLE_LIST);
    EXPECT_EQ(StoredDword(kViewStateCurrentView), std::optional<plat::DWORD>(DBV_ARTICLE_LIST));
  }
}

TEST_F(ViewStateTest, TouchShellStubOnlyWhereAShellNeedsIt) {
  CDBViewState state;
  // No touch shell: no stub, ever.
  state.OpenArticle(u"x");
  EXPECT_EQ(GetTouchShellStub(), nullptr);
  EXPECT_EQ(plat::FindWindowW(u"MNU", nullptr), nullptr);

  // A shell window of one of the known classes.
  plat::HWND shell = MakeWindow(u"Manila", &OtherProc);
  ASSERT_NE(shell, nullptr);
  state.OpenArticle(u"x");
  plat::HWND stub = GetTouchShellStub();
  ASSERT_NE(stub, nullptr);
  EXPECT_EQ(plat::FindWindowW(u"MNU", nullptr), stub);
  EXPECT_FALSE(plat::IsWindowVisible(stub));
  char16_t title[32] = {};
  plat::GetWindowTextW(stub, title, 32);
  EXPECT_EQ(std::u16string(title), GetProductName());
  state.OpenArticle(u"y");  // one stub only
  EXPECT_EQ(GetTouchShellStub(), stub);
  state.GoToArticleList();
  EXPECT_EQ(GetTouchShellStub(), nullptr);
  EXPECT_FALSE(plat::IsWindow(stub));
  plat::DestroyWindow(shell);

  // The home-screen item's switch.
  {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"\\Software\\Microsoft\\Today\\Items\\TouchFLO 3D", true, false,
                    plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"Enabled", 0));
  }
  state.OpenArticle(u"x");
  EXPECT_EQ(GetTouchShellStub(), nullptr);
  {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"\\Software\\Microsoft\\Today\\Items\\TouchFLO 3D", true, false,
                    plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"Enabled", 1));
  }
  state.OpenArticle(u"x");
  EXPECT_NE(GetTouchShellStub(), nullptr);
  state.Reset();
  EXPECT_EQ(GetTouchShellStub(), nullptr);
}

}  // namespace
