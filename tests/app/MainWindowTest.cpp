// The main window: the layout, menu and soft key of each view, the commands
// of its menus and their effect on the channels, the update manager and the
// registry, the confirmations, the update manager's questions, the hint of an
// empty database and the window's own messages.
#include <memory>

#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/RegisteredMessages.h"
#include "platform/controls/ShellExecute.h"
#include "platform/inet/ConnMgr.h"
#include "platform/registry/Registry.h"
#include "resources/app/resource.h"
#include "tests/app/MainWindowFixture.h"

namespace apptest {
namespace {

using Script = plat::ScriptedConnectionProvider::Script;

constexpr char16_t kNoChannelsHint[] = u"Tap \"New\"\nto add channels";

void SetRoaming(bool roaming) {
  plat::HKEY key = nullptr;
  plat::DWORD disposition = 0;
  ASSERT_EQ(plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, nullptr, 0, 0, nullptr,
                                  &key, &disposition),
            0);
  const plat::DWORD status = roaming ? 0x200 : 0;
  plat::RegSetValueExW(key, u"Status", 0, plat::REG_DWORD, reinterpret_cast<const plat::BYTE*>(&status),
                       sizeof status);
  plat::RegCloseKey(key);
}

// Updates wait for a data connection that the test never gives, so what the
// commands queued stays queued until they are stopped.
class MainWindowCommandTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Script waiting;
    waiting.manual = true;
    provider_ = std::make_shared<plat::ScriptedConnectionProvider>(waiting);
    plat::SetConnectionProvider(provider_);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    plat::SetConnectionProvider(nullptr);
  }
  int Status(const std::u16string& name) { return CUpdateManager::GetInstance()->GetChannelStatus(name); }
  bool Queued(const std::u16string& name) {
    const int status = Status(name);
    return status == UQS_WAITING || status == UQS_UPDATING;
  }
  std::shared_ptr<plat::ScriptedConnectionProvider> provider_;
};

TEST_F(MainWindowTest, EachViewShowsItsLayoutMenuAndSoftKey) {
  AddChannel(u"Alpha", 3);
  AddChannel(u"Beta", 1);
  MainWindow& window = Open();
  EXPECT_EQ(GetAppState().uiWindow, Hwnd()) << "the window is stored where the program reads it";
  EXPECT_EQ(GetDBViewState()->GetNotifyWindow(), Hwnd());
  EXPECT_TRUE(plat::IsWindowVisible(Hwnd()));

  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  EXPECT_TRUE(window.GetHintText().empty());
  EXPECT_EQ(MenuCommands(), (std::vector<int>{ID_UPDATE_CHANNEL, ID_UPDATE_CHANNEL, ID_UPDATE_ALL, ID_UPDATE_STOP,
                                              ID_MARK_CHANNEL_READ, ID_MARK_ALL_READ, ID_CLEAR_CHANNEL, ID_CLEAR_ALL,
                                              ID_NEW_CHANNEL, ID_DELETE_CHANNEL, ID_CHANNEL_PROPERTIES, ID_OPTIONS,
                                              ID_ABOUT, ID_EXIT}));
  EXPECT_EQ(SoftKey(0), (std::pair<int, std::u16string>{ID_UPDATE_ALL, u"Update"}));
  char16_t caption[64] = {};
  plat::GetWindowTextW(Hwnd(), caption, 64);
  EXPECT_EQ(std::u16string(caption), u"Orv News");

  // The view state moves; its message brings the window along.
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->OpenChannel(u"Alpha");
  }
  Pump();
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticles);
  EXPECT_EQ(MenuCommands(), (std::vector<int>{ID_BACK, ID_UPDATE_CHANNEL, ID_FINISH_UPDATE, ID_MARK_CHANNEL_READ,
                                              ID_CLEAR_CHANNEL, ID_OPTIONS}));
  EXPECT_EQ(SoftKey(0).first, ID_BACK);
  plat::GetWindowTextW(Hwnd(), caption, 64);
  EXPECT_EQ(std::u16string(caption), u"Alpha") << "the article screens carry the channel's name";
  {
    CSyncLock lock(GetChannelSet());
    EXPECT_EQ(GetArticleFilter()->GetCount(), 3);
    GetDBViewState()->OpenArticle(GetArticleFilter()->GetAt(1)->GetId());
  }
  Pump();
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticle);
  EXPECT_EQ(MenuCommands(), (std::vector<int>{ID_BACK, ID_TEXT_LARGEST, ID_TEXT_LARGER, ID_TEXT_MEDIUM,
                                              ID_TEXT_SMALLER, ID_TEXT_SMALLEST, ID_OPTIONS}));
  EXPECT_FALSE(window.IsUpdatingShown());

  // Back twice leads to the channel list; a third Back does nothing.
  Command(ID_BACK);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticles);
  EXPECT_EQ(GetDBViewState()->GetCurrentView(), static_cast<plat::DWORD>(DBV_ARTICLE_LIST));
  Command(ID_BACK);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  EXPECT_TRUE(GetDBViewState()->GetCurrentArticleID().empty()) << "the channel list forgets the article";
  EXPECT_EQ(GetDBViewState()->GetCurrentChannelName(), u"Alpha") << "and keeps the channel";
  Command(ID_BACK);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  EXPECT_TRUE(plat::IsWindow(Hwnd()));
  EXPECT_EQ(quitCode, -1) << "Back never ends the program";
}

TEST_F(MainWindowTest, PreviousAndNextArticleStopAtTheEnds) {
  AddChannel(u"Alpha", 3);
  MainWindow& window = Open();
  std::vector<std::u16string> ids;
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->OpenChannel(u"Alpha");
    for (int i = 0; i < GetArticleFilter()->GetCount(); ++i) ids.push_back(GetArticleFilter()->GetAt(i)->GetId());
  }
  ASSERT_EQ(ids.size(), 3u);
  // Not in the article view: nothing moves.
  window.ShowNextArticle();
  EXPECT_TRUE(GetDBViewState()->GetCurrentArticleID().empty());
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->OpenArticle(ids[1]);
  }
  Pump();
  window.ShowNextArticle();
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), ids[2]);
  window.ShowNextArticle();
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), ids[2]) << "the last article stays";
  window.ShowPreviousArticle();
  window.ShowPreviousArticle();
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), ids[0]);
  window.ShowPreviousArticle();
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), ids[0]) << "the first article stays";
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticle);
}

TEST_F(MainWindowTest, AnEmptyDatabaseShowsTheHintAndATapStartsTheWizard) {
  MainWindow& window = Open();
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutBlank);
  EXPECT_EQ(window.GetHintText(), kNoChannelsHint);
  EXPECT_EQ(MenuCommands(), (std::vector<int>{ID_NEW_CHANNEL, ID_OPTIONS, ID_ABOUT, ID_EXIT}));
  EXPECT_EQ(SoftKey(0), (std::pair<int, std::u16string>{ID_NEW_CHANNEL, u"New"}));

  // The background: white, the picture and the hint below it.
  plat::HDC screen = plat::GetDC(nullptr);
  plat::HDC dc = plat::CreateCompatibleDC(screen);
  plat::HBITMAP bitmap = plat::CreateCompatibleBitmap(screen, 480, 640);
  plat::HGDIOBJ old = plat::SelectObject(dc, bitmap);
  EXPECT_EQ(plat::SendMessageW(Hwnd(), plat::WM_ERASEBKGND, reinterpret_cast<plat::WPARAM>(dc), 0), 1);
  EXPECT_TRUE(window.GetEmptyDatabasePicture()) << "the picture of the program folder was loaded";
  const plat::COLORREF corner = plat::GetPixel(dc, 2, 2);  // white in 16 bits
  EXPECT_GE(corner & 0xFF, 0xF0u);
  EXPECT_GE((corner >> 8) & 0xFF, 0xF0u);
  EXPECT_GE((corner >> 16) & 0xFF, 0xF0u);
  plat::SelectObject(dc, old);
  plat::DeleteObject(bitmap);
  plat::DeleteDC(dc);
  plat::ReleaseDC(nullptr, screen);

  // A tap anywhere reaches the window (the blank screen's view takes none)
  // and asks for the wizard (which comes with another part).
  EXPECT_FALSE(plat::IsWindowEnabled(window.GetLayoutView().GetWindow()));
  plat::SendMessageW(Hwnd(), plat::WM_LBUTTONDOWN, plat::MK_LBUTTON, plat::MAKELPARAM(100, 100));
  plat::MSG m;
  ASSERT_TRUE(plat::PeekMessageW(&m, Hwnd(), plat::WM_COMMAND, plat::WM_COMMAND, plat::PM_REMOVE));
  EXPECT_EQ(plat::LOWORD(m.wParam), ID_NEW_CHANNEL);

  // Channels arrive: the wizard's return shows the list, the picture goes.
  // The wizard opens over the window and is cancelled from its own loop.
  AddChannel(u"Alpha");
  static std::u16string wizardTitle;
  wizardTitle.clear();
  plat::SetTimer(Hwnd(), 77, 1, [](plat::HWND owner, plat::UINT, plat::UINT_PTR id, plat::DWORD) {
    plat::HWND active = plat::GetActiveWindow();
    if (!active || active == owner) return;
    plat::KillTimer(owner, id);
    char16_t title[64] = {};
    plat::GetWindowTextW(active, title, 64);
    wizardTitle = title;
    plat::PostMessageW(active, plat::WM_COMMAND, plat::IDCANCEL, 0);
  });
  Command(ID_NEW_CHANNEL);
  plat::KillTimer(Hwnd(), 77);
  EXPECT_EQ(wizardTitle, LocalizeResourceString(135));
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  EXPECT_TRUE(window.GetHintText().empty());
  EXPECT_FALSE(window.GetEmptyDatabasePicture());
  EXPECT_TRUE(plat::IsWindowEnabled(window.GetLayoutView().GetWindow()));
  EXPECT_FALSE(window.PaintEmptyDatabase(plat::GetDC(Hwnd()))) << "a list paints no hint";
  plat::SendMessageW(Hwnd(), plat::WM_LBUTTONDOWN, plat::MK_LBUTTON, plat::MAKELPARAM(100, 100));
  EXPECT_FALSE(plat::PeekMessageW(&m, Hwnd(), plat::WM_COMMAND, plat::WM_COMMAND, plat::PM_REMOVE));
}

TEST_F(MainWindowCommandTest, UpdateCommandsQueueChannelsAndMarkTheLock) {
  AddChannel(u"Alpha");
  AddChannel(u"Beta");
  MainWindow& window = Open();
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->SetCurrentChannelName(u"Beta");
  }
  auto updating = [] { return CUpdateManager::GetInstance()->IsUpdating(); };
  // Stops the open run and waits until the worker has closed it, so that the
  // next request starts a run of its own.
  auto stop = [&] {
    EXPECT_TRUE(Pump(updating));
    Command(ID_UPDATE_STOP);
    EXPECT_TRUE(Pump([&] { return !updating(); }));
  };

  Command(ID_UPDATE_CHANNEL);
  EXPECT_EQ(orvtest::UpdateLockHolder(), 2u);
  EXPECT_TRUE(Queued(u"Beta"));
  EXPECT_FALSE(Queued(u"Alpha"));
  EXPECT_FALSE(window.IsAutomaticMode());
  // The key follows the manager's status posts.
  EXPECT_TRUE(Pump([&] { return SoftKey(0).first == ID_UPDATE_STOP; }));
  EXPECT_EQ(SoftKey(0).second, u"Stop");

  stop();
  EXPECT_FALSE(Queued(u"Beta"));
  EXPECT_EQ(orvtest::UpdateLockHolder(), 0u) << "stopping takes the lock away";
  EXPECT_TRUE(Pump([&] { return SoftKey(0).first == ID_UPDATE_ALL; }));

  Command(ID_UPDATE_ALL);
  EXPECT_EQ(orvtest::UpdateLockHolder(), 1u);
  EXPECT_TRUE(Queued(u"Alpha"));
  EXPECT_TRUE(Queued(u"Beta"));
  stop();

  // The update-now message is the automatic run; any user command ends it.
  plat::SendMessageW(Hwnd(), GetRegisteredMessages().updateNow, 0, 0);
  EXPECT_TRUE(window.IsAutomaticMode());
  EXPECT_EQ(orvtest::UpdateLockHolder(), 2u);
  EXPECT_TRUE(Queued(u"Alpha"));
  stop();
  EXPECT_FALSE(window.IsAutomaticMode());

  // Finishing an incomplete update takes up the current channel's pending
  // articles (an article without an address fails at once, with no
  // download) and writes no lock.
  IArticle* pendingBeta = nullptr;
  IArticle* pendingAlpha = nullptr;
  {
    CSyncLock lock(GetChannelSet());
    pendingBeta = GetChannelSet()->FindByName(u"Beta")->CreateArticle(u"pending-b", US_WAITING, plat::ULLToFileTime(0));
    pendingAlpha =
        GetChannelSet()->FindByName(u"Alpha")->CreateArticle(u"pending-a", US_WAITING, plat::ULLToFileTime(0));
  }
  ASSERT_TRUE(pendingBeta && pendingAlpha);
  auto status = [](IArticle* article) {
    CSyncLock lock(GetChannelSet());
    return article->GetUpdateStatus();
  };
  provider_->SetScript(Script{});
  Command(ID_FINISH_UPDATE);
  EXPECT_TRUE(Pump([&] { return status(pendingBeta) != US_WAITING && !updating(); }));
  EXPECT_EQ(status(pendingAlpha), static_cast<std::uint32_t>(US_WAITING)) << "another channel";
  EXPECT_EQ(orvtest::UpdateLockHolder(), 0u);
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->SetCurrentChannelName(u"");
  }
  Command(ID_FINISH_UPDATE);
  EXPECT_TRUE(Pump([&] { return status(pendingAlpha) != US_WAITING && !updating(); }))
      << "with no current channel every channel";
  EXPECT_EQ(orvtest::UpdateLockHolder(), 0u);

  // A current channel that no longer exists: nothing is queued.
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->SetCurrentChannelName(u"Gone");
  }
  Command(ID_UPDATE_CHANNEL);
  Pump();
  EXPECT_FALSE(updating());
}

TEST_F(MainWindowTest, ConfirmationsActOnlyOnYes) {
  struct Case {
    const char* what;
    int command;
    const char16_t* question;
    int answer;
    int alphaUnread, betaUnread, alphaLive, betaLive;
  } cases[] = {
      {"mark all, no", ID_MARK_ALL_READ, u"Are you sure you want to mark all channels as read?", plat::IDNO, 3, 2, 3, 2},
      {"mark all, yes", ID_MARK_ALL_READ, u"Are you sure you want to mark all channels as read?", plat::IDYES, 0, 0, 3, 2},
      {"clear channel, no", ID_CLEAR_CHANNEL,
       u"Are you sure you want to delete all articles from the \"Alpha\" channel?", plat::IDNO, 3, 2, 3, 2},
      {"clear channel, yes", ID_CLEAR_CHANNEL,
       u"Are you sure you want to delete all articles from the \"Alpha\" channel?", plat::IDYES, 0, 2, 0, 2},
      {"clear all, no", ID_CLEAR_ALL, u"Are you sure you want to delete all articles from all channels?", plat::IDNO,
       3, 2, 3, 2},
      {"clear all, yes", ID_CLEAR_ALL, u"Are you sure you want to delete all articles from all channels?",
       plat::IDYES, 0, 0, 0, 0},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Fresh channels each case (names of their own).
    const std::u16string suffix = plat::Utf8ToUtf16(std::to_string(++round));
    const std::u16string alpha = u"Alpha", beta = u"Beta" + suffix;
    {
      CSyncLock lock(GetChannelSet());
      while (GetChannelSet()->GetCount() > 0) {
        IChannel* channel = GetChannelSet()->GetAt(0);
        used_.erase(std::remove(used_.begin(), used_.end(), channel), used_.end());
        channel->Release(this, false);
        GetChannelSet()->RemoveChannel(channel->GetName());
      }
    }
    AddChannel(alpha, 3);
    AddChannel(beta, 2);
    if (!window_) Open();
    {
      CSyncLock lock(GetChannelSet());
      GetDBViewState()->SetCurrentChannelName(alpha);
    }
    boxes.clear();
    answer = c.answer;
    Command(c.command);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.question);
    EXPECT_EQ(boxes[0].caption, u"Orv News");
    EXPECT_EQ(boxes[0].type, plat::MB_YESNO | plat::MB_ICONQUESTION);
    EXPECT_EQ(Unread(alpha), c.alphaUnread);
    EXPECT_EQ(Unread(beta), c.betaUnread);
    EXPECT_EQ(LiveArticles(alpha), c.alphaLive);
    EXPECT_EQ(LiveArticles(beta), c.betaLive);
  }
}

TEST_F(MainWindowTest, MarkChannelReadAndTextSizeNeedNoConfirmation) {
  AddChannel(u"Alpha", 3);
  AddChannel(u"Beta", 2);
  Open();
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->SetCurrentChannelName(u"Alpha");
  }
  Command(ID_MARK_CHANNEL_READ);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(Unread(u"Alpha"), 0);
  EXPECT_EQ(Unread(u"Beta"), 2);

  const struct {
    int command;
    std::uint32_t size;
  } sizes[] = {{ID_TEXT_LARGEST, 4}, {ID_TEXT_LARGER, 3}, {ID_TEXT_MEDIUM, 2}, {ID_TEXT_SMALLER, 1},
               {ID_TEXT_SMALLEST, 0}};
  for (const auto& s : sizes) {
    Command(s.command);
    EXPECT_EQ(GetGlobalOptions().GetHTMLTextSize(), s.size) << s.command;
    EXPECT_EQ(OpenSettingsKey().GetDWORD(u"HTMLTextSize", 99), s.size) << s.command;
  }
}

TEST_F(MainWindowTest, TheUpdateManagersQuestionsAreAnsweredByMode) {
  AddChannel(u"Alpha");
  MainWindow& window = Open();
  const plat::UINT message = GetRegisteredMessages().updateManagerChanged;
  ASSERT_NE(message, 0u);
  constexpr char16_t kPaid[] = u"No free connections found. Would you like to try paid connection?";
  constexpr char16_t kRoaming[] =
      u"Your phone is in roaming, and there are no free connections.\n"
      u"Would you like to try paid (expensive) connection instead?";
  struct Case {
    const char* what;
    bool automatic, roaming;
    int freeOnly;
    plat::WPARAM question;
    int answer;
    const char16_t* box;  // null: none shown
    plat::LRESULT reply;
  } cases[] = {
      {"no connection", false, false, 0, CUpdateManager::kAskNoConnection, plat::IDOK,
       u"No internet connection available.", 1},
      {"no connection, automatic", true, false, 0, CUpdateManager::kAskNoConnection, plat::IDOK, nullptr, 1},
      {"paid, yes", false, false, 0, CUpdateManager::kAskPaidConnection, plat::IDYES, kPaid, 1},
      {"paid, no", false, false, 1, CUpdateManager::kAskPaidConnection, plat::IDNO, kPaid, 0},
      {"paid while roaming", false, true, 0, CUpdateManager::kAskPaidConnection, plat::IDYES, kRoaming, 1},
      {"automatic may pay", true, true, 0, CUpdateManager::kAskPaidConnection, plat::IDNO, nullptr, 1},
      {"automatic with free-only", true, false, 1, CUpdateManager::kAskPaidConnection, plat::IDYES, nullptr, 0},
      {"an unknown question", false, false, 0, 7, plat::IDYES, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetRoaming(c.roaming);
    GetGlobalOptions().SetUseFreeConnectionsOnly(c.freeOnly);
    if (c.automatic) {
      plat::SendMessageW(Hwnd(), GetRegisteredMessages().updateNow, 0, 0);
      CUpdateManager::GetInstance()->StopUpdatingAllChannels();
    } else {
      Command(ID_UPDATE_STOP);
    }
    ASSERT_EQ(window.IsAutomaticMode(), c.automatic);
    boxes.clear();
    answer = c.answer;
    EXPECT_EQ(plat::SendMessageW(Hwnd(), message, c.question, 1), c.reply);
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.box);
      EXPECT_EQ(boxes[0].caption, u"Orv News");
      EXPECT_EQ(boxes[0].type & plat::MB_TYPEMASK, c.question == CUpdateManager::kAskNoConnection
                                                       ? plat::MB_OK
                                                       : plat::MB_YESNO);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
  EXPECT_EQ(plat::SendMessageW(Hwnd(), message, 1, 5), 0) << "other lParam values answer 0";
  SetRoaming(false);
}

TEST_F(MainWindowCommandTest, APaidConnectionQuestionFromTheWorkerReachesTheUser) {
  Script paid;
  paid.paid = true;
  provider_->SetScript(paid);
  GetGlobalOptions().SetUseFreeConnectionsOnly(1);
  AddChannel(u"Alpha");
  Open();
  answer = plat::IDNO;
  Command(ID_UPDATE_ALL);
  ASSERT_TRUE(Pump([&] { return !boxes.empty(); }));
  EXPECT_EQ(boxes[0].text, u"No free connections found. Would you like to try paid connection?");
  ASSERT_TRUE(Pump([&] { return !CUpdateManager::GetInstance()->IsUpdating(); }));
  EXPECT_EQ(provider_->Requests().size(), 1u) << "a no keeps the update off paid connections";
}

TEST_F(MainWindowTest, ExitAndCloseEndTheLoopWithoutClosingAForeignOwner) {
  // A window of another program asked for the interface (the owner); the
  // coordinating window is the program's own.
  static int ownerCloses = 0, hiddenCloses = 0;
  ownerCloses = hiddenCloses = 0;
  auto make = [](const char16_t* name, plat::WNDPROC proc) {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name;
    plat::UnregisterClassW(name, nullptr);
    plat::RegisterClassW(&wc);
    return plat::CreateWindowExW(0, name, u"", plat::WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  };
  plat::HWND owner = make(u"OrvTestOwner", [](plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
    if (m == plat::WM_CLOSE) return static_cast<plat::LRESULT>(++ownerCloses);
    return plat::DefWindowProcW(h, m, w, l);
  });
  plat::HWND hidden = make(u"OrvTestHidden", [](plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
    if (m == plat::WM_CLOSE) return static_cast<plat::LRESULT>(++hiddenCloses);
    return plat::DefWindowProcW(h, m, w, l);
  });
  GetAppState().hiddenWindow = hidden;
  GetAppState().ownerWindow = owner;
  AddChannel(u"Alpha");
  Open(owner);
  plat::SendMessageW(Hwnd(), plat::WM_CLOSE, 0, 0);
  Pump();
  EXPECT_EQ(quitCode, 0);
  EXPECT_EQ(ownerCloses, 0) << "the owner belongs to another program";
  EXPECT_EQ(hiddenCloses, 1);

  quitCode = -1;
  Command(ID_EXIT);
  EXPECT_EQ(quitCode, 0);
  EXPECT_EQ(hiddenCloses, 1) << "Exit only ends the loop";
  plat::DestroyWindow(owner);
  plat::DestroyWindow(hidden);
}

TEST_F(MainWindowTest, RunEndsOnExitAndDestroysTheWindow) {
  AddChannel(u"Alpha");
  MainWindow window(&GetAppState().uiWindow);
  window.SetTransitionsEnabled(false);
  // The command waits in the queue until the loop runs.
  struct Poster {
    static void Post() {
      plat::HWND ui = GetAppState().uiWindow;
      if (ui) plat::PostMessageW(ui, plat::WM_COMMAND, ID_EXIT, 0);
    }
  };
  plat::UINT_PTR timer = plat::SetTimer(nullptr, 0, 1, [](plat::HWND, plat::UINT, plat::UINT_PTR id, plat::DWORD) {
    Poster::Post();
    plat::KillTimer(nullptr, id);
  });
  EXPECT_EQ(window.Run(nullptr), 0);
  plat::KillTimer(nullptr, timer);
  ASSERT_TRUE(GetAppState().uiWindow);
  EXPECT_FALSE(plat::IsWindow(GetAppState().uiWindow));
  EXPECT_EQ(CUpdateManager::GetInstance()->IsUpdating(), false);
}

TEST_F(MainWindowTest, StatusChangesRefreshTheListsAndTheSoftKey) {
  AddChannel(u"Alpha");
  MainWindow& window = Open();
  const plat::UINT message = GetRegisteredMessages().updateManagerChanged;
  // A "show again" status re-reads the view state.
  GetDBViewState()->SetCurrentChannelName(u"Alpha");
  GetDBViewState()->SetCurrentView(DBV_ARTICLE_LIST);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  plat::SendMessageW(Hwnd(), message, 1, 0);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticles);
  // A plain status change asks the layout view to repaint everything.
  plat::SendMessageW(Hwnd(), message, 0, 0);
  EXPECT_TRUE(window.GetLayoutView().IsRepaintAllPending());
}

}  // namespace
}  // namespace apptest

namespace apptest {
namespace {

TEST_F(MainWindowCommandTest, ArticleCommandsActOnTheCurrentArticle) {
  AddChannel(u"Alpha", 3);
  MainWindow& window = Open();
  std::vector<IArticle*> articles;
  {
    CSyncLock lock(GetChannelSet());
    GetDBViewState()->OpenChannel(u"Alpha");
  }
  Pump();
  {
    CSyncLock lock(GetChannelSet());
    for (int i = 0; i < GetArticleFilter()->GetCount(); ++i) articles.push_back(GetArticleFilter()->GetAt(i));
  }
  ASSERT_EQ(articles.size(), 3u);
  auto read = [](IArticle* a) {
    CSyncLock lock(GetChannelSet());
    return a->GetChannel()->IsArticleRead(a);
  };
  window.GetArticlesView().SelectRow(1);
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), articles[1]->GetId());

  Command(2076);  // mark read
  EXPECT_FALSE(read(articles[0]));
  EXPECT_TRUE(read(articles[1]));
  EXPECT_FALSE(read(articles[2]));
  Command(2079);  // mark unread
  EXPECT_FALSE(read(articles[1]));

  // Update the article (one still to download): the lock of a user's
  // update, the article queued.
  {
    CSyncLock lock(GetChannelSet());
    articles[1]->SetUpdateState(US_WAITING);
  }
  Command(2080);
  EXPECT_EQ(orvtest::UpdateLockHolder(), 2u);
  EXPECT_TRUE(Pump([&] {
    const int status = CUpdateManager::GetInstance()->GetUpdateItemStatus(articles[1]);
    return status == UQS_WAITING || status == UQS_UPDATING;
  }));
  EXPECT_EQ(CUpdateManager::GetInstance()->GetUpdateItemStatus(articles[0]), UQS_NOT_QUEUED);
  CUpdateManager::GetInstance()->StopUpdatingAllChannels();
  Pump([] { return !CUpdateManager::GetInstance()->IsUpdating(); });

  // Delete it: the one at its place becomes current.
  const std::u16string third = articles[2]->GetId();
  Command(2078);
  EXPECT_EQ(LiveArticles(u"Alpha"), 2);
  {
    CSyncLock lock(GetChannelSet());
    EXPECT_TRUE(articles[1]->IsDeleted());
  }
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), third);

  // The location setting toggles.
  const std::int32_t location = GetGlobalOptions().GetShowArticleLocation();
  Command(2082);
  EXPECT_NE(GetGlobalOptions().GetShowArticleLocation(), location);
  Command(2082);
  EXPECT_EQ(GetGlobalOptions().GetShowArticleLocation(), location);
}

// A channel whose file cannot be read is not in the list; the window names
// it once shown and, on Yes, sets its file aside (kept, not deleted), after
// which the name can be added again. No leaves everything as it was.
TEST_F(MainWindowTest, AChannelWhoseFileCannotBeReadIsNamedOnOpening) {
  const std::u16string question =
      u"The channel \"Lost\" could not be read, so it is not in the list. Set its file aside? You can then add the "
      u"channel again and keep its articles.";
  const std::u16string file = CombinePath(contentFolder_, u"Lost.cnl");
  {
    CSyncLock lock(GetChannelSet());
    ASSERT_NE(GetChannelSet()->Add(u"Kept"), nullptr);
  }
  for (const int reply : {plat::IDNO, plat::IDYES}) {
    SCOPED_TRACE(reply == plat::IDYES ? "yes" : "no");
    orvtest::WriteHostFile(plat::HostPathFromDevicePath(file), "XXXX not a channel");
    {
      CSyncLock lock(GetChannelSet());
      GetChannelSet()->RemoveAll();
      ASSERT_EQ(GetChannelSet()->LoadContentFolder(), 1);
      ASSERT_EQ(GetChannelSet()->GetCount(), 1);
    }
    boxes.clear();
    answer = reply;
    Open();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, question);
    EXPECT_EQ(boxes[0].caption, u"Orv News");
    EXPECT_EQ(boxes[0].type, static_cast<plat::UINT>(plat::MB_YESNO | plat::MB_ICONEXCLAMATION));
    if (reply == plat::IDNO) {
      EXPECT_EQ(orvtest::ReadHostFile(plat::HostPathFromDevicePath(file)), "XXXX not a channel");
    } else {
      EXPECT_FALSE(FileExists(file));
      EXPECT_EQ(orvtest::ReadHostFile(plat::HostPathFromDevicePath(file + u".damaged")), "XXXX not a channel");
      // Added again (as the wizard adds it): a channel of the list.
      CSyncLock lock(GetChannelSet());
      ASSERT_NE(GetChannelSet()->Add(u"Lost"), nullptr);
      EXPECT_EQ(GetChannelsFilter()->FindByName(u"Lost"), 1);
    }
    window_.reset();
    Pump();
  }
}

TEST_F(MainWindowTest, DeletingTheLastChannelLeavesTheHint) {
  AddChannel(u"Alpha");
  AddChannel(u"Beta");
  MainWindow& window = Open();
  used_.clear();  // the channels go with the set
  {
    CSyncLock lock(GetChannelSet());
    for (int i = 0; i < GetChannelSet()->GetCount(); ++i) GetChannelSet()->GetAt(i)->Release(this, true);
  }
  window.GetChannelsView().SetCurrentIndex(0);

  answer = plat::IDNO;
  Command(ID_DELETE_CHANNEL);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"Are you sure you want to delete the channel:\n\"Alpha\"");
  EXPECT_EQ(GetChannelsFilter()->GetCount(), 2);

  answer = plat::IDYES;
  Command(ID_DELETE_CHANNEL);
  EXPECT_EQ(GetChannelsFilter()->GetCount(), 1);
  EXPECT_EQ(GetDBViewState()->GetCurrentChannelName(), u"Beta");
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutChannels);
  window.GetChannelsView().SetCurrentIndex(0);
  Command(ID_DELETE_CHANNEL);
  EXPECT_EQ(GetChannelsFilter()->GetCount(), 0);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutBlank);
  EXPECT_EQ(window.GetHintText(), kNoChannelsHint);
}

TEST_F(MainWindowTest, ChannelsMenuItemsFollowTheUpdateAndTheUnreadCount) {
  AddChannel(u"Alpha", 2);
  AddChannel(u"Beta");
  MainWindow& window = Open();
  plat::HWND bar = window.GetSoftKeyBar().GetBar();
  auto menu = reinterpret_cast<plat::HMENU>(plat::SendMessageW(bar, plat::SHCMBM_GETMENU, 0, 0));
  ASSERT_TRUE(menu);
  auto enabled = [&](int id) {
    plat::MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = plat::MIIM_STATE;
    EXPECT_TRUE(plat::GetMenuItemInfoW(menu, static_cast<plat::UINT>(id), plat::FALSE, &info)) << id;
    return (info.fState & plat::MFS_GRAYED) == 0;
  };
  // Beta (no unread articles) is current.
  window.GetChannelsView().SetCurrentIndex(1);
  plat::SendMessageW(Hwnd(), plat::WM_INITMENUPOPUP, reinterpret_cast<plat::WPARAM>(menu), 0);
  EXPECT_FALSE(enabled(ID_UPDATE_STOP)) << "nothing updates";
  EXPECT_FALSE(enabled(ID_MARK_CHANNEL_READ));
  EXPECT_TRUE(enabled(ID_MARK_ALL_READ));
  EXPECT_TRUE(enabled(ID_DELETE_CHANNEL));
  window.GetChannelsView().SetCurrentIndex(0);
  plat::SendMessageW(Hwnd(), plat::WM_INITMENUPOPUP, reinterpret_cast<plat::WPARAM>(menu), 0);
  EXPECT_TRUE(enabled(ID_MARK_CHANNEL_READ)) << "Alpha has unread articles";
}

TEST_F(MainWindowTest, FocusSettingsAndHelpReachTheShownView) {
  AddChannel(u"Alpha");
  MainWindow& window = Open();
  plat::HWND view = window.GetLayoutView().GetWindow();
  plat::SetFocus(nullptr);
  plat::SendMessageW(Hwnd(), plat::WM_SETFOCUS, 0, 0);
  EXPECT_EQ(plat::GetFocus(), view);
  // A setting change repaints the window and reaches the layout view, which
  // marks its picture stale.
  plat::ValidateRect(Hwnd(), nullptr);
  plat::SendMessageW(Hwnd(), plat::WM_SETTINGCHANGE, 0, 0);
  plat::RECT update{};
  EXPECT_TRUE(plat::GetUpdateRect(Hwnd(), &update, plat::FALSE));
  EXPECT_TRUE(window.GetLayoutView().GetManager()->IsBufferStale());
  // Help opens the help file at the shown view's topic through the desktop.
  std::vector<std::string> opened;
  plat::SetDesktopOpenerForTesting([&opened](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  EXPECT_EQ(plat::SendMessageW(Hwnd(), plat::WM_HELP, 0, 0), 1) << "help is always handled";
  plat::SetDesktopOpenerForTesting(nullptr);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_NE(opened[0].find("OrvNews.htm#"), std::string::npos) << opened[0];
}

}  // namespace
}  // namespace apptest
