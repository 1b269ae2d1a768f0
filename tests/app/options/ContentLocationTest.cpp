// The content location chooser, the folder-size label and the database move
// of the Content page: which places are offered, what each answer of the
// move question does, and that no refusal moves or writes anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/options/ContentFolderMove.h"
#include "app/options/ContentLocationChooser.h"
#include "app/options/ContentLocationPage.h"
#include "app/options/FolderSizeLabel.h"
#include "core/FileUtils.h"
#include "core/FolderSizeScanner.h"
#include "core/Md5.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "layout/DialogFontCache.h"
#include "layout/DialogTitle.h"
#include "layout/ScreenScale.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "platform/controls/ComboBox.h"
#include "platform/ipc/Ipc.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/Wait.h"

namespace {

using apptest::MainWindowTest;

constexpr char16_t kNoFolder[] = u"The folder does not exist.";
constexpr char16_t kQuestion[] =
    u"The content folder was changed. Do you want to move the database to the new location?";
constexpr char16_t kNotEmpty[] = u"Cannot move the database because the new folder is not empty.";
constexpr char16_t kNoSpace[] = u"There is not enough free space to move database.";
constexpr char16_t kFailed[] = u"Failed to move the database.";
constexpr char16_t kBetaBusy[] = u"Failed to move the database: the channel \"Beta\" is in use by another program.";

class ContentLocationTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    page_ = plat::CreateWindowExW(0, u"STATIC", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 480, 640, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(page_, nullptr);
  }
  void TearDown() override {
    plat::SetClock(nullptr);
    SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
    if (page_) plat::DestroyWindow(page_);
    MainWindowTest::TearDown();
  }

  // A storage card named name, backed by a host folder of the test.
  void AddCard(const std::u16string& name) {
    const std::string host = device_.Scratch() + "/card-" + plat::Utf16ToUtf8(name);
    std::filesystem::create_directories(host);
    ASSERT_TRUE(plat::MountFolder(u"\\" + name, host, true));
  }
  std::string HostOf(const std::u16string& devicePath) { return plat::HostPathFromDevicePath(devicePath); }

  // A stored channel with count articles (saved and let go).
  void MakeChannel(const std::u16string& name, int count) {
    IChannel* channel = AddChannel(name);
    ASSERT_NE(channel, nullptr);
    CSyncLock lock(GetChannelSet());
    for (int i = 0; i < count; ++i) {
      const std::u16string id = GetMd5Hex(name + u"-" + plat::Utf8ToUtf16(std::to_string(i)));
      ASSERT_NE(channel->CreateArticle(id, US_UP_TO_DATE, plat::FILETIME{}), nullptr);
    }
    channel->Release(this, true);
    used_.erase(std::find(used_.begin(), used_.end(), channel));
  }
  // The live articles of a loaded channel, read from its files; -1 when the
  // set has no such channel.
  int StoredArticles(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(name);
    if (!channel) return -1;
    channel->Acquire(this);
    int live = 0;
    IArticleSet* set = channel->GetArticleSet();
    for (int i = 0; i < set->GetCount(); ++i) live += set->GetAt(i)->IsDeleted() ? 0 : 1;
    channel->Release(this, false);
    return live;
  }
  std::u16string ContentFolder() {
    CSyncLock lock(GetChannelSet());
    return GetGlobalOptions().GetContentFolder();
  }
  std::u16string StoredContentFolder() { return OpenSettingsKey().GetString(u"ContentFolder", u""); }

  // The size of the current content folder, counted to the end.
  void CountCurrent(CFolderSizeScanner& scanner) {
    ASSERT_TRUE(scanner.Start(ContentFolder()));
    ASSERT_TRUE(orvtest::Eventually([&] { return scanner.IsDone(); }));
  }

  std::vector<std::u16string> BoxTexts() const {
    std::vector<std::u16string> texts;
    for (const auto& box : boxes) texts.push_back(box.text);
    return texts;
  }

  plat::HWND page_ = nullptr;
};

// ---- Chooser ---------------------------------------------------------------------------------

TEST_F(ContentLocationTest, ChooserListsMainMemoryTheCardsAndCustom) {
  const std::u16string def = GetDefaultContentFolder();
  struct Case {
    std::vector<std::u16string> cards;
    std::vector<std::u16string> names;
    std::vector<std::u16string> paths;
  };
  const Case cases[] = {
      {{}, {u"Main Memory", u"<Custom>"}, {def, u"<Custom>"}},
      {{u"Storage Card", u"SD Card"},
       {u"Main Memory", u"SD Card", u"Storage Card", u"<Custom>"},
       {def, u"\\SD Card" + def, u"\\Storage Card" + def, u"<Custom>"}},
  };
  for (const Case& c : cases) {
    for (const auto& card : c.cards) AddCard(card);
    ContentLocationChooser chooser;
    chooser.FillLists(contentFolder_);
    // The device lists its cards in its own order: compare as sets beside the fixed ends.
    std::vector<std::u16string> names = chooser.GetNames();
    std::vector<std::u16string> paths = chooser.GetPaths();
    ASSERT_EQ(names.size(), c.names.size());
    EXPECT_EQ(names.front(), u"Main Memory");
    EXPECT_EQ(names.back(), u"<Custom>");
    EXPECT_EQ(chooser.GetCustomIndex(), static_cast<int>(names.size()) - 1);
    std::sort(names.begin() + 1, names.end() - 1);
    std::sort(paths.begin() + 1, paths.end() - 1);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(paths, c.paths);
    for (const auto& card : c.cards) plat::UnmountFolder(u"\\" + card);
  }
}

TEST_F(ContentLocationTest, ChooserSelectsTheCurrentFolderIgnoringCase) {
  AddCard(u"Storage Card");
  const std::u16string def = GetDefaultContentFolder();
  const std::u16string cardPath = u"\\Storage Card" + def;
  std::u16string upperDef = def;
  for (auto& ch : upperDef) ch = static_cast<char16_t>(std::towupper(ch));
  struct Case {
    std::u16string current;
    int selection;  // -1: the custom entry
    std::u16string field;
  };
  const Case cases[] = {
      {def, 0, def},
      {upperDef, 0, def},
      {u"", 0, def},
      {u"\\STORAGE CARD" + def, 1, cardPath},
      {u"\\My Content", -1, u"\\My Content"},
  };
  for (const Case& c : cases) {
    ContentLocationChooser chooser;
    ASSERT_TRUE(chooser.Create(page_, c.current));
    const int expected = c.selection < 0 ? chooser.GetCustomIndex() : c.selection;
    EXPECT_EQ(chooser.GetSelection(), expected) << plat::Utf16ToUtf8(c.current);
    EXPECT_EQ(chooser.GetSelectedPath(), c.field) << plat::Utf16ToUtf8(c.current);
    const bool custom = expected == chooser.GetCustomIndex();
    EXPECT_EQ(plat::IsWindowEnabled(chooser.GetCustomField()) != 0, custom);
    EXPECT_EQ(plat::IsWindowEnabled(chooser.GetBrowseButton()) != 0, custom);
    for (plat::HWND w : {chooser.GetLabel(), chooser.GetComboBox(), chooser.GetCustomField(), chooser.GetBrowseButton()}) {
      plat::DestroyWindow(w);
    }
  }
}

TEST_F(ContentLocationTest, CustomFieldAndBrowseFollowTheSelection) {
  ContentLocationChooser chooser;
  std::u16string browsedFrom;
  chooser.SetBrowseRunner([&](plat::HWND, const std::u16string& start, std::u16string& folder) {
    browsedFrom = start;
    folder = u"\\Picked\\Folder";
    return true;
  });
  ASSERT_TRUE(chooser.Create(page_, contentFolder_));
  ASSERT_EQ(chooser.GetSelection(), chooser.GetCustomIndex());
  EXPECT_EQ(chooser.GetSelectedPath(), contentFolder_);

  // Browse fills the custom field from the folder the field names.
  plat::SendMessageW(page_, plat::WM_NULL, 0, 0);
  EXPECT_TRUE(chooser.OnCommand(plat::MAKEWPARAM(ContentLocationChooser::kBrowseButtonId, plat::BN_CLICKED), 0));
  EXPECT_EQ(browsedFrom, contentFolder_);
  EXPECT_EQ(chooser.GetSelectedPath(), u"\\Picked\\Folder");

  // Main Memory: the field shows its path, disabled; back to custom: enabled again.
  plat::SendMessageW(chooser.GetComboBox(), plat::CB_SETCURSEL, 0, 0);
  EXPECT_TRUE(chooser.OnCommand(plat::MAKEWPARAM(ContentLocationChooser::kComboId, plat::CBN_SELCHANGE), 0));
  EXPECT_FALSE(plat::IsWindowEnabled(chooser.GetCustomField()));
  EXPECT_FALSE(plat::IsWindowEnabled(chooser.GetBrowseButton()));
  EXPECT_EQ(chooser.GetSelectedPath(), GetDefaultContentFolder());
  char16_t text[260] = {};
  plat::GetWindowTextW(chooser.GetCustomField(), text, 260);
  EXPECT_EQ(std::u16string(text), GetDefaultContentFolder());

  ASSERT_TRUE(chooser.Select(chooser.GetCustomIndex()));
  EXPECT_TRUE(plat::IsWindowEnabled(chooser.GetCustomField()));
  EXPECT_TRUE(plat::IsWindowEnabled(chooser.GetBrowseButton()));
  plat::SetWindowTextW(chooser.GetCustomField(), u"\\Typed");
  EXPECT_EQ(chooser.GetSelectedPath(), u"\\Typed");
}

// Only the device's configured cards count as storage: a plain top-level
// folder (or one whose name merely begins like a card's) does not.
TEST_F(ContentLocationTest, StorageCardComesFromTheConfiguredCards) {
  AddCard(u"Storage Card");
  ASSERT_TRUE(CreateFolderTree(u"\\Temp\\Content"));
  ASSERT_TRUE(CreateFolderTree(u"\\Storage Cards\\Content"));
  struct Case {
    std::u16string path;
    std::u16string card;
  };
  const Case cases[] = {
      {u"\\Storage Card\\Content", u"\\Storage Card"},
      {u"\\storage card\\x\\y", u"\\Storage Card"},
      {u"\\Storage Card", u"\\Storage Card"},
      {u"\\Storage Cards\\Content", u""},
      {u"\\Temp\\Content", u""},
      {u"\\Program Files\\Orv News\\Content", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ContentLocationChooser::GetStorageCard(c.path), c.card) << plat::Utf16ToUtf8(c.path);
  }
}

// ---- Move ------------------------------------------------------------------------------------

// Every way one apply can go: what the user answers, what the folder is like,
// what is shown, where the setting points and where the channels are.
TEST_F(ContentLocationTest, MoveBranches) {
  enum Where { kOld, kNew };
  struct Case {
    const char* name;
    std::u16string folder;  // the new folder (relative ones are made below the card)
    std::function<void(const std::u16string& folder)> prepare;
    int answer;
    std::uint64_t freeSpace;  // 0: the real free space
    bool result;
    std::vector<std::u16string> texts;  // the message boxes, in order
    Where setting;
    Where channels;  // where the channel files are after the run
  };
  auto makeFolder = [](const std::u16string& f) { ASSERT_TRUE(CreateFolderTree(f)); };
  auto nothing = [](const std::u16string&) {};
  const std::u16string card = u"\\Storage Card\\News";
  const Case cases[] = {
      {"same folder, other case", u"", nothing, plat::IDYES, 0, true, {}, kOld, kOld},
      {"missing folder", card, nothing, plat::IDYES, 0, false, {kNoFolder}, kOld, kOld},
      {"cancel", card, makeFolder, plat::IDCANCEL, 0, false, {kQuestion}, kOld, kOld},
      {"not empty", card,
       [&](const std::u16string& f) {
         makeFolder(f);
         orvtest::WriteHostFile(HostOf(f) + "/notes.txt", "x");
       },
       plat::IDYES, 0, false, {kQuestion, kNotEmpty}, kOld, kOld},
      {"not enough space", card, makeFolder, plat::IDYES, 1, false, {kQuestion, kNoSpace}, kOld, kOld},
      {"read-only folder", card,
       [&](const std::u16string& f) {
         makeFolder(f);
         // A device folder marked read-only takes nothing new.
         ASSERT_TRUE(plat::SetFileAttributesW(f.c_str(), plat::FILE_ATTRIBUTE_READONLY));
       },
       plat::IDYES, 0, false,
       {kQuestion, u"Cannot move the database because the new folder cannot be written to."}, kOld, kOld},
      {"yes moves", card, makeFolder, plat::IDYES, 0, true, {kQuestion}, kNew, kNew},
      {"no switches", card, makeFolder, plat::IDNO, 0, true,
       {kQuestion, u"The new database folder is \\Storage Card\\News."}, kNew, kOld},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh content folder and card per case.
    const std::u16string oldFolder = contentFolder_ + u"-" + plat::Utf8ToUtf16(std::to_string(++serial));
    ASSERT_TRUE(CreateFolderTree(oldFolder));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(oldFolder, u""));
    {
      CSyncLock lock(GetChannelSet());
      ASSERT_EQ(GetChannelSet()->LoadContentFolder(), 1);
    }
    plat::UnmountFolder(u"\\Storage Card");
    const std::string cardHost = device_.Scratch() + "/card" + std::to_string(serial);
    std::filesystem::create_directories(cardHost);
    ASSERT_TRUE(plat::MountFolder(u"\\Storage Card", cardHost, true));
    MakeChannel(u"Alpha", 3);
    MakeChannel(u"Beta", 2);
    std::u16string target = c.folder;
    if (target.empty()) {
      target = oldFolder;
      for (auto& ch : target) ch = static_cast<char16_t>(std::towupper(ch));
    }
    c.prepare(target);
    boxes.clear();
    answer = c.answer;

    CFolderSizeScanner scanner;
    CountCurrent(scanner);
    ContentFolderMove move;
    if (c.freeSpace != 0) move.SetFreeSpaceReader([&](const std::u16string&) { return c.freeSpace; });
    EXPECT_EQ(move.Run(page_, target, scanner), c.result);
    EXPECT_FALSE(move.IsRunning());
    EXPECT_EQ(BoxTexts(), c.texts);

    const std::u16string expectedSetting = c.setting == kNew ? target : oldFolder;
    EXPECT_TRUE(plat::EqualsNoCase(ContentFolder(), expectedSetting));
    EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), expectedSetting));
    EXPECT_EQ(OpenSettingsKey().GetDWORD(u"ContentOnFlash", 9), c.setting == kNew ? 1u : 0u);
    const std::u16string channelsAt = c.channels == kNew ? target : oldFolder;
    const std::u16string other = c.channels == kNew ? oldFolder : target;
    EXPECT_TRUE(FileExists(CombinePath(channelsAt, u"Alpha.cnl")));
    EXPECT_TRUE(FileExists(CombinePath(channelsAt, u"Beta.cnl")));
    if (!plat::EqualsNoCase(other, channelsAt)) {
      EXPECT_FALSE(FileExists(CombinePath(other, u"Alpha.cnl")));
      EXPECT_FALSE(FileExists(CombinePath(other, u"Beta.cnl")));
    }
    if (c.setting == c.channels) {
      // Everything stays in view with every article.
      EXPECT_EQ(StoredArticles(u"Alpha"), 3);
      EXPECT_EQ(StoredArticles(u"Beta"), 2);
    } else {
      // Switched without moving: the new folder's database is empty.
      CSyncLock lock(GetChannelSet());
      EXPECT_EQ(GetChannelSet()->GetCount(), 0);
    }
    if (!c.result && DirectoryExists(target)) {
      // A refusal writes nothing into the new folder.
      std::vector<std::string> entries;
      for (const auto& e : std::filesystem::directory_iterator(HostOf(target))) entries.push_back(e.path().filename());
      EXPECT_LE(entries.size(), 1u);
      if (entries.size() == 1) {
        EXPECT_EQ(entries[0], "notes.txt");
      }
    }
    plat::SetFileAttributesW(target.c_str(), 0);
  }
}

// A second apply that arrives while the first still asks does nothing and
// keeps the options open; the first then goes on as answered.
TEST_F(ContentLocationTest, ApplyWhileAMoveRunsAnswersFalse) {
  MakeChannel(u"Alpha", 1);
  const std::u16string target = contentFolder_ + u"-new";
  ASSERT_TRUE(CreateFolderTree(target));
  CFolderSizeScanner scanner;
  CountCurrent(scanner);
  ContentFolderMove move;
  int inner = -1;
  plat::SetMessageBoxAnswerer([&](plat::HWND, const std::u16string& text, const std::u16string&, plat::UINT) {
    boxes.push_back({text, u"", 0});
    if (text == kQuestion && inner < 0) {
      EXPECT_TRUE(move.IsRunning());
      inner = move.Run(page_, target, scanner) ? 1 : 0;
    }
    return plat::IDYES;
  });
  EXPECT_TRUE(move.Run(page_, target, scanner));
  EXPECT_EQ(inner, 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::u16string>{kQuestion});
  EXPECT_TRUE(plat::EqualsNoCase(ContentFolder(), target));
  EXPECT_EQ(StoredArticles(u"Alpha"), 1);
}

// The wait for the size count has a deadline: a count that does not end
// refuses the apply with a message instead of hanging the options.
TEST_F(ContentLocationTest, SizeCountThatDoesNotEndRefusesAfterTheDeadline) {
  MakeChannel(u"Alpha", 1);
  const std::u16string target = contentFolder_ + u"-new";
  ASSERT_TRUE(CreateFolderTree(target));
  CFolderSizeScanner scanner;  // never started: never done
  plat::ManualClock clock;
  plat::SetClock(&clock);
  const plat::DWORD start = clock.TickCount();
  ContentFolderMove move;
  EXPECT_FALSE(move.Run(page_, target, scanner));
  plat::SetClock(nullptr);
  EXPECT_GE(clock.TickCount() - start, ContentFolderMove::kScanWaitLimitMs);
  EXPECT_LE(clock.TickCount() - start, ContentFolderMove::kScanWaitLimitMs + ContentFolderMove::kScanPollMs);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::u16string>{u"The size of the database is still being counted. Please try again in a moment."});
  EXPECT_TRUE(plat::EqualsNoCase(ContentFolder(), contentFolder_));
  EXPECT_TRUE(FileExists(CombinePath(contentFolder_, u"Alpha.cnl")));
}

// A channel that cannot be moved (another program holds it) refuses the
// move, naming the channel: nothing moves, the setting stays, and once the
// other program lets go (while the user reads the message) every channel
// and article is in view.
TEST_F(ContentLocationTest, MoveThatFailsPartWayKeepsEveryChannel) {
  MakeChannel(u"Alpha", 3);
  MakeChannel(u"Beta", 2);
  MakeChannel(u"Gamma", 4);
  const std::u16string target = contentFolder_ + u"-new";
  ASSERT_TRUE(CreateFolderTree(target));
  SetChannelMutexTimeout(50);
  plat::HANDLE ready = plat::CreateLocalEvent(true, false);
  plat::HANDLE letGo = plat::CreateLocalEvent(true, false);
  plat::HANDLE released = plat::CreateLocalEvent(true, false);
  std::thread holder([&] {
    // The channel has its mutex open already, so it is taken by a wait.
    plat::HANDLE held =
        plat::CreateMutexW(nullptr, plat::FALSE, (std::u16string(kChannelMutexPrefix) + u"Beta").c_str());
    const bool taken = plat::WaitForSingleObject(held, 10000) == plat::WAIT_OBJECT_0;
    plat::SetEvent(ready);
    plat::WaitForSingleObject(letGo, 20000);
    if (taken) plat::ReleaseMutex(held);
    plat::CloseHandle(held);
    plat::SetEvent(released);
  });
  ASSERT_EQ(plat::WaitForSingleObject(ready, 10000), plat::WAIT_OBJECT_0);
  plat::SetMessageBoxAnswerer([&](plat::HWND, const std::u16string& text, const std::u16string&, plat::UINT) {
    boxes.push_back({text, u"", 0});
    if (text == kBetaBusy) {
      plat::SetEvent(letGo);
      plat::WaitForSingleObject(released, 10000);
    }
    return plat::IDYES;
  });
  CFolderSizeScanner scanner;
  CountCurrent(scanner);
  ContentFolderMove move;
  const bool moved = move.Run(page_, target, scanner);
  plat::SetEvent(letGo);
  holder.join();
  plat::CloseHandle(ready);
  plat::CloseHandle(letGo);
  plat::CloseHandle(released);

  EXPECT_FALSE(moved);
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{kQuestion, kBetaBusy}));
  EXPECT_TRUE(plat::EqualsNoCase(ContentFolder(), contentFolder_));
  EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), contentFolder_));
  EXPECT_EQ(StoredArticles(u"Alpha"), 3);
  EXPECT_EQ(StoredArticles(u"Beta"), 2);
  EXPECT_EQ(StoredArticles(u"Gamma"), 4);
  EXPECT_FALSE(IsFolderNotEmpty(target));
}

// A channel whose name fits the paths of the old folder but not those of the
// new one would not load there: the move is refused with the channel named,
// and every channel stays in view with its articles.
TEST_F(ContentLocationTest, MoveRefusesAChannelNameTooLongForTheNewFolder) {
  const std::u16string longName = u"A long channel name " + std::u16string(150, u'x');
  MakeChannel(u"Alpha", 2);
  MakeChannel(longName, 3);
  const std::u16string target = contentFolder_ + u"-" + std::u16string(60, u'n');
  ASSERT_TRUE(CreateFolderTree(target));
  ASSERT_TRUE(CChannel::IsValidNameIn(longName, contentFolder_));
  ASSERT_FALSE(CChannel::IsValidNameIn(longName, target));
  CFolderSizeScanner scanner;
  CountCurrent(scanner);
  ContentFolderMove move;
  EXPECT_FALSE(move.Run(page_, target, scanner));
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{
                            kQuestion, u"Failed to move the database: the name of the channel \"" + longName +
                                           u"\" is too long for the new folder."}));
  EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), contentFolder_));
  EXPECT_EQ(StoredArticles(u"Alpha"), 2);
  EXPECT_EQ(StoredArticles(longName), 3);
  EXPECT_FALSE(IsFolderNotEmpty(target));
}

// The card is pulled out while the question is shown: switching to it fails
// and says so, and the program stays on the folder it had.
TEST_F(ContentLocationTest, SwitchToACardPulledOutMeanwhileIsReportedAsFailure) {
  MakeChannel(u"Alpha", 2);
  AddCard(u"Storage Card");
  const std::u16string target = u"\\Storage Card\\News";
  ASSERT_TRUE(CreateFolderTree(target));
  plat::SetMessageBoxAnswerer([&](plat::HWND, const std::u16string& text, const std::u16string&, plat::UINT) {
    boxes.push_back({text, u"", 0});
    if (text == kQuestion) plat::UnmountFolder(u"\\Storage Card");
    return plat::IDNO;
  });
  CFolderSizeScanner scanner;
  CountCurrent(scanner);
  ContentFolderMove move;
  EXPECT_FALSE(move.Run(page_, target, scanner));
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{kQuestion, u"Failed to switch to the new database folder."}));
  EXPECT_TRUE(plat::EqualsNoCase(ContentFolder(), contentFolder_));
  EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), contentFolder_));
  EXPECT_EQ(StoredArticles(u"Alpha"), 2);
}

// ---- Page ------------------------------------------------------------------------------------

// The page as the options show it: the content folder selected, its size
// counted up by the page's timer, the rows inside the screen; applying with
// the folder unchanged closes the options without a question.
TEST_F(ContentLocationTest, ContentPageShowsTheFolderAndItsSize) {
  MakeChannel(u"Alpha", 3);
  AddCard(u"Storage Card");
  struct Screen {
    int width, height, dpi;
    const char* name;
  };
  for (const Screen& s : {Screen{240, 320, 96, "content-page-240x320.png"},
                          Screen{480, 640, 192, "content-page-480x640.png"}}) {
    SCOPED_TRACE(s.name);
    UseScreen(s.width, s.height, s.dpi);
    GetDialogFontCache().Reset();  // its fonts are made for one screen
    plat::HWND host = plat::CreateWindowExW(0, u"STATIC", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, s.width,
                                            s.height * 3 / 4, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    {
      ContentLocationPage page;
      EXPECT_EQ(page.GetTitle(), u"Content");
      EXPECT_STREQ(reinterpret_cast<const char*>(page.GetHelpTopic()), reinterpret_cast<const char*>(u"options_content"));
      plat::HWND hwnd = page.Create(host);
      ASSERT_NE(hwnd, nullptr);
      ContentLocationChooser& chooser = page.GetChooser();
      EXPECT_EQ(chooser.GetSelection(), chooser.GetCustomIndex());
      EXPECT_EQ(chooser.GetSelectedPath(), contentFolder_);
      EXPECT_EQ(plat::GetFocus(), chooser.GetComboBox());
      EXPECT_EQ(plat::SendMessageW(hwnd, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTALLKEYS);
      // The page's own timer brings the total.
      ASSERT_TRUE(Pump([&] { return !page.GetSizeLabel().IsTimerSet(); }));
      const std::u16string total = u"Size: " +
          FormatFileSize(static_cast<std::int64_t>(page.GetSizeLabel().GetScanner().GetTotalSize()), false);
      EXPECT_GT(page.GetSizeLabel().GetScanner().GetTotalSize(), 0u);
      EXPECT_EQ(page.GetSizeLabel().GetText(), total);

      // Every row inside the page, one below the other; Browse at the custom field's right.
      plat::RECT client{};
      plat::GetClientRect(hwnd, &client);
      auto place = [&](plat::HWND w) {
        plat::RECT r{};
        plat::GetWindowRect(w, &r);
        plat::MapWindowPoints(nullptr, hwnd, reinterpret_cast<plat::POINT*>(&r), 2);
        return r;
      };
      const plat::RECT label = place(chooser.GetLabel()), combo = place(chooser.GetComboBox()),
                       field = place(chooser.GetCustomField()), browse = place(chooser.GetBrowseButton()),
                       size = place(page.GetSizeLabel().GetWindow());
      EXPECT_LE(label.bottom, combo.top);
      EXPECT_LE(field.top, size.top);
      EXPECT_LE(field.right, browse.left + ScaleX(1));  // bordered fields meet the buddy
      EXPECT_LT(field.left, field.right);
      EXPECT_LE(browse.right, client.right);
      EXPECT_LE(size.bottom, client.bottom);
      EXPECT_GE(combo.top, GetDialogHeaderHeight());

      InvalidateWithChildren(hwnd);
      plat::UpdateWindow(hwnd);
      for (plat::HWND c = plat::GetWindow(hwnd, plat::GW_CHILD); c; c = plat::GetWindow(c, plat::GW_HWNDNEXT)) {
        plat::UpdateWindow(c);
      }
      Pump();
      std::filesystem::create_directories(ORV_APP_SHOTS);
      plat::SaveBitmapPng(plat::GetWindowSurfaceForTesting(host), std::string(ORV_APP_SHOTS) + "/" + s.name);

      boxes.clear();
      EXPECT_TRUE(page.OnApply());
      EXPECT_TRUE(boxes.empty());
      plat::DestroyWindow(hwnd);
    }
    plat::DestroyWindow(host);
  }
}

// ---- Size label ------------------------------------------------------------------------------

TEST_F(ContentLocationTest, SizeLabelCountsUpAndStopsItsTimer) {
  const std::string host = HostOf(contentFolder_);
  orvtest::WriteHostFile(host + "/a.bin", std::string(1000, 'a'));
  std::filesystem::create_directories(host + "/Sub");
  orvtest::WriteHostFile(host + "/Sub/b.bin", std::string(2072, 'b'));
  const std::u16string expected = u"Size: " + FormatFileSize(3172, false);
  orvtest::WriteHostFile(device_.FsRoot() + "/single.cnl", std::string(100, 'c'));

  FolderSizeLabel label;
  ASSERT_NE(label.Create(page_), nullptr);
  ASSERT_TRUE(label.Start(u"Size: %s", u"counting...", {contentFolder_, u"\\single.cnl"}));
  EXPECT_EQ(label.GetText(), u"Size: counting...");
  EXPECT_TRUE(label.IsTimerSet());
  EXPECT_FALSE(label.Start(u"Size: %s", u"again", {contentFolder_})) << "the scanner takes one list";
  EXPECT_FALSE(label.OnTimer(FolderSizeLabel::kTimerId + 1));
  ASSERT_TRUE(orvtest::Eventually([&] { return label.GetScanner().IsDone(); }));
  // The tick that finds the count done shows the total and ends the timer.
  EXPECT_TRUE(label.OnTimer(FolderSizeLabel::kTimerId));
  EXPECT_FALSE(label.IsTimerSet());
  EXPECT_EQ(label.GetText(), expected);
  char16_t shown[64] = {};
  plat::GetWindowTextW(label.GetWindow(), shown, 64);
  EXPECT_EQ(std::u16string(shown), expected);
}

TEST_F(ContentLocationTest, SizeFormatTakesOnlyItsOneText) {
  struct Case {
    std::u16string format, expected;
  };
  const Case cases[] = {
      {u"Size: %s", u"Size: 5 KB"},
      {u"%s used (100%%)", u"5 KB used (100%)"},
      {u"%s %s %d", u"5 KB %s %d"},
      {u"no size", u"no size"},
      {u"ends in %", u"ends in %"},
  };
  for (const Case& c : cases) EXPECT_EQ(FolderSizeLabel::FillFormat(c.format, u"5 KB"), c.expected);
}

}  // namespace
