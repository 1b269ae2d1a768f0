// The options sheet and the channel-properties sheet, driven through their
// controls: the schedule as "AutoUpdate" stores it, the use-defaults
// switches, the validation of the limits (nothing written when refused), the
// General page's rename and address rules, a channel removed while its sheet
// is open, a rename and option edits applied together, the main window's
// commands, and pictures of every page at both screen sizes.
#include <climits>
#include <filesystem>
#include <functional>
#include <string>

#include "app/options/ChannelPropertiesSheet.h"
#include "app/options/OptionsSheet.h"
#include "core/Localizer.h"
#include "database/ChannelDefaultOptions.h"
#include "platform/base/Locale.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/ShellExecute.h"
#include "platform/controls/StandardControls.h"
#include "platform/inet/ConnMgr.h"
#include "resources/app/resource.h"
#include "tests/app/MainWindowFixture.h"

namespace apptest {
namespace {

constexpr plat::UINT kDriveMessage = plat::WM_APP + 77;

// Work to do once a modal sheet's loop runs: a message posted to a window of
// the test before the sheet starts.
std::function<void(plat::HWND)>* g_driverWork = nullptr;

plat::LRESULT DriverProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == kDriveMessage && g_driverWork) {
    PropertySheet* sheet = PropertySheet::GetRunning();
    (*g_driverWork)(sheet ? sheet->GetHwnd() : nullptr);
    return 0;
  }
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

class OptionsSheetTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &DriverProc;
    wc.lpszClassName = u"OptionsSheetTestWindow";
    plat::RegisterClassW(&wc);
    owner_ = plat::CreateWindowExW(0, wc.lpszClassName, u"", plat::WS_VISIBLE, 0, 0, 480, 640, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    // A run the test started ends before the next test starts its own.
    CUpdateManager::GetInstance()->StopUpdatingAllChannels();
    EXPECT_TRUE(Pump([] { return !CUpdateManager::GetInstance()->IsUpdating(); }));
    plat::SetConnectionProvider(nullptr);
    plat::DestroyWindow(owner_);
    g_driverWork = nullptr;
    plat::ResetLocaleForTesting();
    MainWindowTest::TearDown();
  }

  // Runs fn inside the modal loop of the sheet that starts next.
  void WhenSheetRuns(std::function<void(plat::HWND)> fn) {
    work_ = std::move(fn);
    g_driverWork = &work_;
    plat::PostMessageW(owner_, kDriveMessage, 0, 0);
  }

  // The user's tap on a check box.
  static void Tap(plat::HWND page, int id) {
    plat::HWND box = plat::GetDlgItem(page, id);
    const bool checked = plat::SendMessageW(box, plat::BM_GETCHECK, 0, 0) == plat::BST_CHECKED;
    plat::SendMessageW(box, plat::BM_SETCHECK, checked ? plat::BST_UNCHECKED : plat::BST_CHECKED, 0);
    plat::SendMessageW(page, plat::WM_COMMAND, plat::MAKEWPARAM(static_cast<plat::WORD>(id), plat::BN_CLICKED),
                       reinterpret_cast<plat::LPARAM>(box));
  }
  static bool Checked(plat::HWND page, int id) {
    return plat::SendMessageW(plat::GetDlgItem(page, id), plat::BM_GETCHECK, 0, 0) == plat::BST_CHECKED;
  }
  static bool Enabled(plat::HWND page, int id) { return plat::IsWindowEnabled(plat::GetDlgItem(page, id)) != 0; }
  static std::u16string TextOf(plat::HWND page, int id) {
    char16_t text[256] = {};
    plat::GetWindowTextW(plat::GetDlgItem(page, id), text, 256);
    return text;
  }
  static void Type(plat::HWND page, int id, const std::u16string& text) {
    plat::SetWindowTextW(plat::GetDlgItem(page, id), text.c_str());
  }
  static void Choose(plat::HWND page, int id, int row) {
    plat::SendDlgItemMessageW(page, id, plat::CB_SETCURSEL, static_cast<plat::WPARAM>(row), 0);
    plat::SendMessageW(page, plat::WM_COMMAND, plat::MAKEWPARAM(static_cast<plat::WORD>(id), plat::CBN_SELCHANGE),
                       reinterpret_cast<plat::LPARAM>(plat::GetDlgItem(page, id)));
  }
  static int Selection(plat::HWND page, int id) {
    return static_cast<int>(plat::SendDlgItemMessageW(page, id, plat::CB_GETCURSEL, 0, 0));
  }

  static std::uint32_t Setting(const char16_t* name, std::uint32_t missing = 0xDEAD) {
    return OpenSettingsKey().GetDWORD(name, missing);
  }
  static ChannelOptionsRecord OwnOptions(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    ChannelOptionsRecord record;
    if (IChannel* channel = GetChannelSet()->FindByName(name)) channel->GetOptions()->GetAll(record);
    return record;
  }
  static std::pair<bool, bool> Switches(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    if (!channel) return {false, false};
    return {channel->GetOptions()->GetUseDefaultDownloadOptions() != 0,
            channel->GetOptions()->GetUseDefaultLimits() != 0};
  }
  // A channel with options of its own (not following the defaults).
  void GiveOwnOptions(const std::u16string& name, const ChannelOptionsRecord& record) {
    CSyncLock lock(GetChannelSet());
    IChannelOptions* options = GetChannelSet()->FindByName(name)->GetOptions();
    options->SetUseDefaultDownloadOptions(0);
    options->SetUseDefaultLimits(0);
    options->SetAll(record);
  }

  plat::HWND owner_ = nullptr;
  std::function<void(plat::HWND)> work_;
};

// ---- Updating page, default mode: the schedule --------------------------------------

TEST_F(OptionsSheetTest, ScheduleShowsAndWritesAutoUpdate) {
  struct Case {
    std::uint32_t stored;
    bool boxChecked;
    int selection;
    bool timeEnabled;
    std::uint32_t appliedUnchanged;
  };
  const Case cases[] = {
      {0, false, -1, false, 0},  // no schedule: nothing selected, combo and time off
      {1, true, 0, false, 1},   {3, true, 1, false, 3},  {6, true, 2, false, 6}, {12, true, 3, false, 12},
      {24, true, 4, true, 24},  // daily at a time
      {5, true, 0, false, 1},   // a value not in the list shows (and becomes) "1 hour"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    GetGlobalOptions().SetAutoUpdate(c.stored);
    ChannelUpdatingPage page(u"");
    plat::HWND hwnd = page.Create(owner_);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(plat::GetDlgItem(hwnd, ChannelUpdatingPage::kIdUseDefaults)) << "default mode has no switch";
    EXPECT_EQ(Checked(hwnd, ChannelUpdatingPage::kIdSchedule), c.boxChecked);
    EXPECT_EQ(Selection(hwnd, ChannelUpdatingPage::kIdScheduleCombo), c.selection);
    EXPECT_EQ(Enabled(hwnd, ChannelUpdatingPage::kIdScheduleCombo), c.boxChecked);
    EXPECT_EQ(Enabled(hwnd, ChannelUpdatingPage::kIdTime), c.timeEnabled);
    ASSERT_TRUE(page.OnApply());
    EXPECT_EQ(GetGlobalOptions().GetAutoUpdate(), c.appliedUnchanged);
  }
}

TEST_F(OptionsSheetTest, ScheduleControlsFollowTheUserAndDailyTimeIsWritten) {
  GetGlobalOptions().SetAutoUpdate(0);
  ChannelUpdatingPage page(u"");
  plat::HWND hwnd = page.Create(owner_);
  ASSERT_NE(hwnd, nullptr);
  Tap(hwnd, ChannelUpdatingPage::kIdSchedule);
  EXPECT_TRUE(Enabled(hwnd, ChannelUpdatingPage::kIdScheduleCombo));
  EXPECT_FALSE(Enabled(hwnd, ChannelUpdatingPage::kIdTime));
  Choose(hwnd, ChannelUpdatingPage::kIdScheduleCombo, 4);
  EXPECT_TRUE(Enabled(hwnd, ChannelUpdatingPage::kIdTime)) << "everyday at selected time";
  plat::SYSTEMTIME time{2026, 3, 0, 14, 7, 30, 0, 0};
  ASSERT_TRUE(plat::SendDlgItemMessageW(hwnd, ChannelUpdatingPage::kIdTime, plat::DTM_SETSYSTEMTIME, plat::GDT_VALID,
                                        reinterpret_cast<plat::LPARAM>(&time)));
  ASSERT_TRUE(page.OnApply());
  EXPECT_EQ(Setting(u"AutoUpdate"), 24u);
  plat::FILETIME stored = GetGlobalOptions().GetAutoUpdateTime();
  plat::SYSTEMTIME read{};
  ASSERT_TRUE(plat::FileTimeToSystemTime(&stored, &read));
  EXPECT_EQ(read.wHour, 7);
  EXPECT_EQ(read.wMinute, 30);
  EXPECT_EQ(read.wDay, 14) << "the picker's date";

  // Another item disables the time; clearing the box writes 0.
  Choose(hwnd, ChannelUpdatingPage::kIdScheduleCombo, 1);
  EXPECT_FALSE(Enabled(hwnd, ChannelUpdatingPage::kIdTime));
  Tap(hwnd, ChannelUpdatingPage::kIdSchedule);
  EXPECT_FALSE(Enabled(hwnd, ChannelUpdatingPage::kIdScheduleCombo));
  ASSERT_TRUE(page.OnApply());
  EXPECT_EQ(Setting(u"AutoUpdate"), 0u);
}

TEST_F(OptionsSheetTest, TimeFormatFollowsTheLocalesClock) {
  plat::LocaleSettings twelve;
  twelve.timeMode = u"0";
  plat::SetLocaleForTesting(twelve);
  EXPECT_EQ(ChannelUpdatingPage::TimeFormat(), u"hh':'mm' 'tt");
  plat::LocaleSettings twentyFour;
  twentyFour.timeMode = u"1";
  plat::SetLocaleForTesting(twentyFour);
  EXPECT_EQ(ChannelUpdatingPage::TimeFormat(), u"HH':'mm");
}

// ---- Channel mode: the use-defaults switches --------------------------------------------

TEST_F(OptionsSheetTest, UseDefaultsShowsTheDefaultsDisabledAndTheChannelsOwnWhenCleared) {
  AddChannel(u"news");
  ChannelOptionsRecord own;
  own.manualArticlesUpdate = 1;
  own.disableImagesInArticles = 0;
  own.articlesAgeLimitEnabled = 1;
  own.articlesAgeLimit = 3;
  own.articlesCountLimitEnabled = 0;
  own.articlesCountLimit = 400;
  GiveOwnOptions(u"news", own);
  {
    CSyncLock lock(GetChannelSet());
    IChannelOptions* options = GetChannelSet()->FindByName(u"news")->GetOptions();
    options->SetUseDefaultDownloadOptions(1);
    options->SetUseDefaultLimits(1);
  }
  CChannelDefaultOptions& defaults = GetChannelDefaultOptions();
  defaults.SetManualArticlesUpdate(0);
  defaults.SetDisableImagesInArticles(1);
  defaults.SetArticlesAgeLimitEnabled(0);
  defaults.SetArticlesAgeLimit(7);
  defaults.SetArticlesCountLimitEnabled(1);
  defaults.SetArticlesCountLimit(50);

  ChannelUpdatingPage updating(u"news");
  plat::HWND up = updating.Create(owner_);
  ASSERT_NE(up, nullptr);
  EXPECT_TRUE(Checked(up, ChannelUpdatingPage::kIdUseDefaults));
  EXPECT_FALSE(Checked(up, ChannelUpdatingPage::kIdManualUpdate));
  EXPECT_TRUE(Checked(up, ChannelUpdatingPage::kIdNoImages));
  EXPECT_FALSE(Enabled(up, ChannelUpdatingPage::kIdManualUpdate));
  EXPECT_FALSE(plat::GetDlgItem(up, ChannelUpdatingPage::kIdSchedule)) << "no schedule in channel mode";
  Tap(up, ChannelUpdatingPage::kIdUseDefaults);
  EXPECT_TRUE(Checked(up, ChannelUpdatingPage::kIdManualUpdate));
  EXPECT_FALSE(Checked(up, ChannelUpdatingPage::kIdNoImages));
  EXPECT_TRUE(Enabled(up, ChannelUpdatingPage::kIdNoImages));
  Tap(up, ChannelUpdatingPage::kIdNoImages);

  ChannelCleaningPage cleaning(u"news");
  plat::HWND clean = cleaning.Create(owner_);
  ASSERT_NE(clean, nullptr);
  EXPECT_TRUE(Checked(clean, ChannelCleaningPage::kIdUseDefaults));
  EXPECT_EQ(TextOf(clean, ChannelCleaningPage::kIdAgeLimit), u"7");
  EXPECT_EQ(TextOf(clean, ChannelCleaningPage::kIdCountLimit), u"50");
  EXPECT_FALSE(Enabled(clean, ChannelCleaningPage::kIdCountLimit));
  Tap(clean, ChannelCleaningPage::kIdUseDefaults);
  EXPECT_EQ(TextOf(clean, ChannelCleaningPage::kIdAgeLimit), u"3");
  EXPECT_TRUE(Enabled(clean, ChannelCleaningPage::kIdAgeLimit));
  EXPECT_FALSE(Enabled(clean, ChannelCleaningPage::kIdCountLimit)) << "its own box is clear";
  Type(clean, ChannelCleaningPage::kIdAgeLimit, u"9");

  ASSERT_TRUE(updating.OnApply());
  ASSERT_TRUE(cleaning.OnApply());
  EXPECT_EQ(Switches(u"news"), (std::pair<bool, bool>{false, false}));
  const ChannelOptionsRecord written = OwnOptions(u"news");
  EXPECT_EQ(written.manualArticlesUpdate, 1);
  EXPECT_EQ(written.disableImagesInArticles, 1);
  EXPECT_EQ(written.articlesAgeLimit, 9u);
  EXPECT_EQ(written.articlesCountLimit, 400u);
  EXPECT_EQ(Setting(u"DefaultArticlesAgeLimit"), 7u) << "the defaults are written back unchanged";
}

TEST_F(OptionsSheetTest, FollowingTheDefaultsKeepsTheChannelsOwnLimits) {
  AddChannel(u"news");
  ChannelOptionsRecord own;
  own.articlesAgeLimitEnabled = 1;
  own.articlesAgeLimit = 30;
  own.articlesCountLimitEnabled = 1;
  own.articlesCountLimit = 12;
  GiveOwnOptions(u"news", own);
  ChannelCleaningPage cleaning(u"news");
  plat::HWND clean = cleaning.Create(owner_);
  ASSERT_NE(clean, nullptr);
  EXPECT_FALSE(Checked(clean, ChannelCleaningPage::kIdUseDefaults));
  Tap(clean, ChannelCleaningPage::kIdUseDefaults);
  ASSERT_TRUE(cleaning.OnApply());
  EXPECT_TRUE(Switches(u"news").second);
  EXPECT_EQ(OwnOptions(u"news").articlesAgeLimit, 30u);
  EXPECT_EQ(OwnOptions(u"news").articlesCountLimit, 12u);
}

// ---- Cleaning page: validation ----------------------------------------------------------------

TEST_F(OptionsSheetTest, LimitsOutsideTheirRangesAreRefusedAndNothingIsWritten) {
  struct Case {
    const char16_t* age;
    const char16_t* count;
    const char16_t* message;  // null: accepted
  };
  const char16_t* age = u"Please enter an integer between 1 and 999.";
  const char16_t* count = u"Please enter an integer between 1 and 2500.";
  const Case cases[] = {
      {u"0", u"50", age},       {u"1000", u"50", age},     {u"", u"50", age},  // no number says so too
      {u"12abc", u"50", age},   {u"-3", u"50", age},       {u"99999999999", u"50", age},
      {u"7", u"2501", count},   {u"7", u"0", count},       {u"7", u" ", count},
      {u"0", u"2501", age},  // the first invalid field speaks
      {u" 30 ", u"2500", nullptr}, {u"1", u"1", nullptr}, {u"999", u"+5", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(std::u16string(c.age) + u" / " + c.count));
    // Known defaults, to see that a refused apply leaves them.
    CChannelDefaultOptions& defaults = GetChannelDefaultOptions();
    defaults.SetArticlesAgeLimit(33);
    defaults.SetArticlesCountLimit(44);
    defaults.SetArticlesAgeLimitEnabled(0);
    boxes.clear();
    ChannelCleaningPage page(u"");
    plat::HWND hwnd = page.Create(owner_);
    ASSERT_NE(hwnd, nullptr);
    Type(hwnd, ChannelCleaningPage::kIdAgeLimit, c.age);
    Type(hwnd, ChannelCleaningPage::kIdCountLimit, c.count);
    Tap(hwnd, ChannelCleaningPage::kIdAgeEnabled);
    const bool applied = page.OnApply();
    EXPECT_EQ(applied, c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.message);
      EXPECT_EQ(boxes[0].caption, u"Orv News");
      EXPECT_EQ(boxes[0].type & 0xF0, static_cast<plat::UINT>(plat::MB_ICONEXCLAMATION));
      EXPECT_EQ(Setting(u"DefaultArticlesAgeLimit"), 33u) << "nothing written";
      EXPECT_EQ(Setting(u"DefaultArticlesCountLimit"), 44u);
      EXPECT_EQ(Setting(u"ArticlesAgeLimitEnabled"), 0u);
    } else {
      EXPECT_TRUE(boxes.empty());
      int ageValue = 0, countValue = 0;
      ASSERT_TRUE(ChannelCleaningPage::ParseNumber(c.age, ageValue));
      ASSERT_TRUE(ChannelCleaningPage::ParseNumber(c.count, countValue));
      EXPECT_EQ(Setting(u"DefaultArticlesAgeLimit"), static_cast<std::uint32_t>(ageValue));
      EXPECT_EQ(Setting(u"DefaultArticlesCountLimit"), static_cast<std::uint32_t>(countValue));
      EXPECT_EQ(Setting(u"ArticlesAgeLimitEnabled"), 1u);
    }
  }
}

TEST_F(OptionsSheetTest, NumberFieldsReadOnlyWholeNumbers) {
  struct Case {
    const char16_t* text;
    bool number;
    int value;
  };
  const Case cases[] = {{u"12", true, 12},      {u" 12 ", true, 12},  {u"-4", true, -4},   {u"+4", true, 4},
                        {u"12abc", false, 0},   {u"1 2", false, 0},   {u"", false, 0},     {u"-", false, 0},
                        {u"abc", false, 0},     {u"99999999999", true, INT_MAX},
                        {u"-99999999999", true, INT_MIN}};
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.text));
    int value = 0;
    EXPECT_EQ(ChannelCleaningPage::ParseNumber(c.text, value), c.number);
    if (c.number) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST_F(OptionsSheetTest, InvalidLimitKeepsUseDefaultsAsItWas) {
  AddChannel(u"news");
  ChannelOptionsRecord own;
  own.articlesAgeLimit = 10;
  own.articlesCountLimit = 10;
  GiveOwnOptions(u"news", own);
  ChannelCleaningPage page(u"news");
  plat::HWND hwnd = page.Create(owner_);
  ASSERT_NE(hwnd, nullptr);
  Type(hwnd, ChannelCleaningPage::kIdCountLimit, u"2501");
  Tap(hwnd, ChannelCleaningPage::kIdUseDefaults);
  EXPECT_FALSE(Checked(hwnd, ChannelCleaningPage::kIdUseDefaults)) << "set back";
  EXPECT_EQ(TextOf(hwnd, ChannelCleaningPage::kIdCountLimit), u"2501") << "nothing else changed";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(page.OnKillActive()) << "the page cannot be left either";
}

// ---- General page ----------------------------------------------------------------------------

TEST_F(OptionsSheetTest, GeneralPageRenameRules) {
  AddChannel(u"news", 0, u"http://127.0.0.1:9/news.xml");
  AddChannel(u"Other");
  struct Case {
    const char16_t* typed;
    const char16_t* message;   // null: accepted
    const char16_t* nameAfter;
  };
  const Case cases[] = {
      {u"News", nullptr, u"news"},                                     // letter case only: nothing renamed
      {u"other", u"Channel with this name already exists.", u"news"},  // another channel's name
      {u"   ", u"Please enter channel name.", u"news"},
      {u"", u"Please enter channel name.", u"news"},
      {u"  Daily news ", nullptr, u"Daily news"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.typed));
    boxes.clear();
    const std::u16string current = GetChannelSet()->FindByName(u"news") ? u"news" : u"Daily news";
    ChannelGeneralPage page(current);
    plat::HWND hwnd = page.Create(owner_);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(TextOf(hwnd, ChannelGeneralPage::kIdName), current);
    EXPECT_EQ(TextOf(hwnd, ChannelGeneralPage::kIdUrl), u"http://127.0.0.1:9/news.xml");
    Type(hwnd, ChannelGeneralPage::kIdName, c.typed);
    EXPECT_EQ(page.OnApply(), c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.message);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    CSyncLock lock(GetChannelSet());
    EXPECT_NE(GetChannelSet()->FindByName(c.nameAfter), nullptr);
    EXPECT_NE(GetChannelSet()->FindByName(u"Other"), nullptr);
    EXPECT_EQ(GetChannelSet()->GetCount(), 2);
  }
}

TEST_F(OptionsSheetTest, ScriptChannelsAddressIsReadOnlyAndNeverChanged) {
  AddChannel(u"script");
  {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(u"script");
    channel->SetProperties({{u"@type", u"@Ridudo"}, {u"url", u"http://127.0.0.1:9/plugin.js"}, {u"@url", u"x"}});
  }
  ChannelGeneralPage page(u"script");
  plat::HWND hwnd = page.Create(owner_);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(page.IsFeed());
  EXPECT_EQ(TextOf(hwnd, ChannelGeneralPage::kIdUrl), u"http://127.0.0.1:9/plugin.js");
  const auto style = static_cast<plat::DWORD>(
      plat::GetWindowLongW(plat::GetDlgItem(hwnd, ChannelGeneralPage::kIdUrl), plat::GWL_STYLE));
  EXPECT_NE(style & plat::ES_READONLY, 0u);
  Type(hwnd, ChannelGeneralPage::kIdUrl, u"http://127.0.0.1:9/elsewhere");
  ASSERT_TRUE(page.OnApply());
  CSyncLock lock(GetChannelSet());
  const CStringToStringMap& properties = GetChannelSet()->FindByName(u"script")->GetProperties();
  EXPECT_EQ(properties.at(u"url"), u"http://127.0.0.1:9/plugin.js");
  EXPECT_EQ(properties.at(u"@url"), u"x");
}

TEST_F(OptionsSheetTest, NewAddressOfAFeedBeingUpdatedCancelsThatUpdate) {
  // Updates wait for a connection the test never gives: the channel's update stays queued.
  plat::ScriptedConnectionProvider::Script waiting;
  waiting.manual = true;
  plat::SetConnectionProvider(std::make_shared<plat::ScriptedConnectionProvider>(waiting));
  IChannel* channel = AddChannel(u"news", 0, u"http://127.0.0.1:9/old.xml");
  ChannelGeneralPage page(u"news");
  plat::HWND hwnd = page.Create(owner_);
  ASSERT_NE(hwnd, nullptr);
  {
    CSyncLock lock(GetChannelSet());
    CUpdateManager::GetInstance()->UpdateChannel(channel);
  }
  const int before = CUpdateManager::GetInstance()->GetChannelStatus(u"news");
  EXPECT_TRUE(before == UQS_WAITING || before == UQS_UPDATING) << before;
  Type(hwnd, ChannelGeneralPage::kIdUrl, u"http://127.0.0.1:9/new.xml");
  ASSERT_TRUE(page.OnApply());
  const int after = CUpdateManager::GetInstance()->GetChannelStatus(u"news");
  EXPECT_NE(after, UQS_WAITING);
  EXPECT_NE(after, UQS_UPDATING);
  {
    CSyncLock lock(GetChannelSet());
    EXPECT_EQ(channel->GetProperties().at(u"@url"), u"http://127.0.0.1:9/new.xml");
  }
}

TEST_F(OptionsSheetTest, ChannelRemovedWhileOpenWritesOnlyTheDefaults) {
  AddChannel(u"gone");
  ChannelOptionsRecord own;
  own.articlesAgeLimit = 10;
  own.articlesCountLimit = 10;
  GiveOwnOptions(u"gone", own);
  ChannelGeneralPage general(u"gone");
  ChannelCleaningPage cleaning(u"gone");
  ASSERT_NE(general.Create(owner_), nullptr);
  plat::HWND clean = cleaning.Create(owner_);
  ASSERT_NE(clean, nullptr);
  Type(clean, ChannelCleaningPage::kIdAgeLimit, u"20");
  {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(u"gone");
    used_.erase(std::find(used_.begin(), used_.end(), channel));
    channel->Release(this, true);
    GetChannelSet()->RemoveChannel(u"gone");
  }
  boxes.clear();
  EXPECT_FALSE(general.OnApply()) << "refused";
  EXPECT_TRUE(boxes.empty()) << "silently";
  EXPECT_TRUE(cleaning.OnApply());
  EXPECT_EQ(Setting(u"DefaultArticlesAgeLimit"), static_cast<std::uint32_t>(GetChannelDefaultOptions().GetArticlesAgeLimit()));
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(GetChannelSet()->FindByName(u"gone"), nullptr);
}

// ---- Whole sheets -------------------------------------------------------------------------------

TEST_F(OptionsSheetTest, RenameAndCountLimitInOneApplyBothTakeEffect) {
  AddChannel(u"news");
  bool driven = false;
  WhenSheetRuns([&](plat::HWND sheet) {
    ASSERT_NE(sheet, nullptr);
    auto page = [&] {
      return reinterpret_cast<plat::HWND>(plat::SendMessageW(sheet, plat::PSM_GETCURRENTPAGEHWND, 0, 0));
    };
    Type(page(), ChannelGeneralPage::kIdName, u"Renamed");
    ASSERT_TRUE(plat::SendMessageW(sheet, plat::PSM_SETCURSEL, 2, 0));
    plat::HWND cleaning = page();
    if (Checked(cleaning, ChannelCleaningPage::kIdUseDefaults)) Tap(cleaning, ChannelCleaningPage::kIdUseDefaults);
    if (!Checked(cleaning, ChannelCleaningPage::kIdCountEnabled)) Tap(cleaning, ChannelCleaningPage::kIdCountEnabled);
    Type(cleaning, ChannelCleaningPage::kIdCountLimit, u"5");
    driven = true;
    plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_OK, 0);
  });
  EXPECT_EQ(ChannelPropertiesSheet::Run(owner_, u"news"), 1);
  EXPECT_TRUE(driven);
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(GetChannelSet()->FindByName(u"news"), nullptr);
  IChannel* renamed = GetChannelSet()->FindByName(u"Renamed");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->GetOptions()->GetUseDefaultLimits(), 0);
  EXPECT_EQ(renamed->GetOptions()->GetArticlesCountLimitEnabled(), 1);
  EXPECT_EQ(renamed->GetOptions()->GetArticlesCountLimit(), 5);
}

TEST_F(OptionsSheetTest, RefusedPageKeepsTheSheetOpenAndNothingIsRenamed) {
  AddChannel(u"news");
  int attempts = 0;
  WhenSheetRuns([&](plat::HWND sheet) {
    auto page = [&] {
      return reinterpret_cast<plat::HWND>(plat::SendMessageW(sheet, plat::PSM_GETCURRENTPAGEHWND, 0, 0));
    };
    Type(page(), ChannelGeneralPage::kIdName, u"Renamed");
    plat::SendMessageW(sheet, plat::PSM_SETCURSEL, 2, 0);
    plat::HWND cleaning = page();
    if (Checked(cleaning, ChannelCleaningPage::kIdUseDefaults)) Tap(cleaning, ChannelCleaningPage::kIdUseDefaults);
    Type(cleaning, ChannelCleaningPage::kIdAgeLimit, u"1000");
    plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_OK, 0);
    ++attempts;
    EXPECT_TRUE(plat::IsWindow(sheet)) << "still open";
    EXPECT_EQ(page(), cleaning) << "on the refusing page";
    {
      CSyncLock lock(GetChannelSet());
      EXPECT_NE(GetChannelSet()->FindByName(u"news"), nullptr) << "nothing renamed yet";
    }
    plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_CANCEL, 0);
  });
  EXPECT_EQ(ChannelPropertiesSheet::Run(owner_, u"news"), 0);
  EXPECT_EQ(attempts, 1);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].text, u"Please enter an integer between 1 and 999.");
  CSyncLock lock(GetChannelSet());
  EXPECT_NE(GetChannelSet()->FindByName(u"news"), nullptr);
}

TEST_F(OptionsSheetTest, OptionsSheetPagesInOrderWithCaptionTitlesAndHelp) {
  OptionsSheet sheet;
  std::vector<std::u16string> titles;
  for (SheetPage* page : sheet.GetPages()) titles.push_back(page->GetTitle());
  std::vector<std::u16string> expected{u"Network"};
  if (sheet.GetContentPage()) expected.push_back(u"Content");
  expected.insert(expected.end(), {u"Updating", u"Cleaning"});
  EXPECT_EQ(titles, expected);
  EXPECT_EQ(sheet.GetCaption(), u"Orv News Options");
  EXPECT_EQ(std::u16string(sheet.GetUpdatingPage().GetHelpTopic()), u"options_default_channel_update");
  ChannelPropertiesSheet channel(u"news");
  EXPECT_EQ(channel.GetCaption(), u"Channel Properties");
  EXPECT_EQ(std::u16string(channel.GetCleaningPage().GetHelpTopic()), u"channel_properties_cleaning");
  EXPECT_EQ(channel.GetGeneralPage().GetTitle(), u"General");
}

// Help asked on any page (the key's WM_HELP, its form reflected from one of
// the page's controls, and the sheet's help button) opens the help file at
// that page's own topic.
TEST_F(OptionsSheetTest, HelpOnEveryPageOpensThatPagesTopic) {
  AddChannel(u"news");
  std::vector<std::string> opened;
  plat::SetDesktopOpenerForTesting([&opened](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  auto askOnEveryPage = [](plat::HWND sheet) {
    const int count = static_cast<int>(PropertySheet::GetRunning()->GetPages().size());
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(plat::SendMessageW(sheet, plat::PSM_SETCURSEL, static_cast<plat::WPARAM>(i), 0));
      auto page = reinterpret_cast<plat::HWND>(plat::SendMessageW(sheet, plat::PSM_GETCURRENTPAGEHWND, 0, 0));
      ASSERT_NE(page, nullptr);
      for (plat::UINT message : {plat::WM_HELP, plat::UINT{0x2000 + plat::WM_HELP}})
        plat::SendMessageW(page, message, 0, 0);
      plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_HELP, 0);
    }
    plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_CANCEL, 0);
  };
  std::vector<std::string> topics{"options_general"};
  {
    OptionsSheet probe;
    if (probe.GetContentPage()) topics.push_back("options_content");
  }
  topics.insert(topics.end(), {"options_default_channel_update", "options_default_channel_cleaning",
                               "channel_properties_general", "channel_properties_update",
                               "channel_properties_cleaning"});
  WhenSheetRuns(askOnEveryPage);
  OptionsSheet options;
  EXPECT_EQ(options.DoModal(owner_), 0);
  WhenSheetRuns(askOnEveryPage);
  EXPECT_EQ(ChannelPropertiesSheet::Run(owner_, u"news"), 0);
  plat::SetDesktopOpenerForTesting(nullptr);
  ASSERT_EQ(opened.size(), 3 * topics.size());
  for (std::size_t i = 0; i < opened.size(); ++i) {
    const std::string tail = "OrvNews.htm#" + topics[i / 3];
    EXPECT_TRUE(opened[i].size() >= tail.size() && opened[i].compare(opened[i].size() - tail.size(), tail.size(), tail) == 0)
        << opened[i] << " is not " << tail;
  }
}

TEST_F(OptionsSheetTest, NetworkPageWritesItsSwitches) {
  GetGlobalOptions().SetUseFreeConnectionsOnly(0);
  GetGlobalOptions().SetRSSReportingAllowed(1);
  GetGlobalOptions().SetAutoUpdateWhenCradled(0);
  NetworkOptionsPage page;
  plat::HWND hwnd = page.Create(owner_);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(TextOf(hwnd, NetworkOptionsPage::kIdReporting), u"Anonymous Orv News channel rating (recommended)");
  Tap(hwnd, NetworkOptionsPage::kIdFreeConnectionsOnly);
  Tap(hwnd, NetworkOptionsPage::kIdReporting);
  Tap(hwnd, NetworkOptionsPage::kIdUpdateWhenCradled);
  ASSERT_TRUE(page.OnApply());
  EXPECT_EQ(Setting(u"UseFreeConnectionsOnly"), 1u);
  EXPECT_EQ(Setting(u"RSSReportingAllowed"), 0u);
  EXPECT_EQ(Setting(u"AutoUpdateWhenCradled"), 1u);
}

// ---- The main window's commands ------------------------------------------------------------

TEST_F(OptionsSheetTest, OptionsCommandWhileUpdatingAsksToStopFirst) {
  plat::ScriptedConnectionProvider::Script waiting;
  waiting.manual = true;
  plat::SetConnectionProvider(std::make_shared<plat::ScriptedConnectionProvider>(waiting));
  IChannel* channel = AddChannel(u"news");
  Open();
  {
    CSyncLock lock(GetChannelSet());
    CUpdateManager::GetInstance()->UpdateChannel(channel);
  }
  ASSERT_TRUE(Pump([] { return CUpdateManager::GetInstance()->IsUpdating(); }));
  boxes.clear();
  bool sheetShown = false;
  WhenSheetRuns([&](plat::HWND sheet) {
    sheetShown = sheet != nullptr;
    if (sheet) plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_CANCEL, 0);
  });
  Command(ID_OPTIONS);
  EXPECT_FALSE(sheetShown);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"Please stop updating first.");
  EXPECT_EQ(boxes[0].type & 0xF0, static_cast<plat::UINT>(plat::MB_ICONERROR));
}

TEST_F(OptionsSheetTest, CommandsOpenTheSheetsOverTheMainWindow) {
  AddChannel(u"news");
  Open();
  // The caption of the sheet a command opens (empty: none opened); the sheet is cancelled.
  auto sheetOf = [&](int command) {
    std::u16string caption;
    WhenSheetRuns([&](plat::HWND sheet) {
      char16_t text[64] = {};
      plat::GetWindowTextW(sheet, text, 64);
      caption = text;
      plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_CANCEL, 0);
    });
    Command(command);
    return caption;
  };
  EXPECT_EQ(sheetOf(ID_OPTIONS), u"Orv News Options");
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->SetCurrentChannelName(u"news");
  }
  EXPECT_EQ(sheetOf(ID_CHANNEL_PROPERTIES), u"Channel Properties");
  EXPECT_TRUE(plat::IsWindow(Hwnd()));
}

// ---- Pictures of every page ------------------------------------------------------------------

class OptionsSheetScreensTest : public OptionsSheetTest, public ::testing::WithParamInterface<int> {};

TEST_P(OptionsSheetScreensTest, EveryPageIsPainted) {
  const bool small = GetParam() == 240;
  if (small) UseScreen(240, 320, 96);
  AddChannel(u"news", 0, u"http://127.0.0.1:9/a-rather-long-feed-address/news.xml");
  std::filesystem::create_directories(ORV_APP_SHOTS);
  auto shoot = [&](const std::string& name) {
    return [this, name](plat::HWND sheet) {
      const int count = static_cast<int>(PropertySheet::GetRunning()->GetPages().size());
      for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(plat::SendMessageW(sheet, plat::PSM_SETCURSEL, static_cast<plat::WPARAM>(i), 0));
        Pump();
        plat::UpdateWindow(sheet);
        const std::string file = std::string(ORV_APP_SHOTS) + "/" + name + "-" + std::to_string(i) + "-" +
                                 std::to_string(GetParam()) + ".png";
        EXPECT_TRUE(plat::SaveBitmapPng(plat::GetWindowSurfaceForTesting(sheet), file));
      }
      plat::SendMessageW(sheet, plat::PSM_PRESSBUTTON, plat::PSBTN_CANCEL, 0);
    };
  };
  GetGlobalOptions().SetAutoUpdate(24);
  WhenSheetRuns(shoot("options-sheet"));
  OptionsSheet options;
  EXPECT_EQ(options.DoModal(owner_), 0);
  WhenSheetRuns(shoot("channel-properties"));
  EXPECT_EQ(ChannelPropertiesSheet::Run(owner_, u"news"), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, OptionsSheetScreensTest, ::testing::Values(240, 480));

}  // namespace
}  // namespace apptest
