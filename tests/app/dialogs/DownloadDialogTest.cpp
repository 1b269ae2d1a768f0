// The download-progress dialog: progress arithmetic, local addresses, and
// whole runs of the modal dialog against a loopback server and a scripted
// connection (success, failure with Done, cancel while connecting and while
// downloading, the paid-connection question, local files), with screenshots.
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "app/dialogs/DownloadDialog.h"
#include "core/Localizer.h"
#include "layout/UiKitModule.h"
#include "tests/app/dialogs/DownloadFixture.h"
#include "tests/support/Wait.h"
#include "update/tidy/TidyDocument.h"

namespace apptest {
namespace {

const std::string kOpml =
    "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>t</title></head><body>"
    "<outline text=\"One\" xmlUrl=\"http://example.com/one.xml\"/></body></opml>";

bool Contains(const std::vector<std::u16string>& list, const std::u16string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

// A route that holds its answer until released (bounded), so that a
// download is surely under way when the test acts.
class HeldRoute {
 public:
  orvtest::HttpResponse Wait() {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait_for(g, std::chrono::seconds(10), [this] { return released_; });
    orvtest::HttpResponse r;
    r.body = kOpml;
    return r;
  }
  void Release() {
    std::lock_guard<std::mutex> g(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool released_ = false;
};

class DownloadDialogTest : public DownloadTest {
 protected:
  // Runs the dialog over the address; the result code.
  int RunDialog(ObservedDialog& dialog) {
    dialog.SetConnectionManager(manager_.get());
    return static_cast<int>(dialog.Execute(nullptr));
  }
  Tidy::Document document_;
  void SetUp() override {
    DownloadTest::SetUp();
    ASSERT_EQ(document_.Init(), 0);
  }
};

TEST(DownloadDialogArithmetic, ProgressPositionsUseTheAnnouncedOrAssumedLengthIn64Bits) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const struct {
    std::uint64_t received;
    std::int64_t announced;
    int position;
  } cases[] = {
      {0, -1, 10},
      {2500, -1, 55},   // no length: 5000 assumed
      {2500, 0, 55},
      {7000, -1, 100},  // more than assumed: the received count is the length
      {500, 1000, 55},
      {1000, 1000, 100},
      {3000, 1000, 100},
      {std::uint64_t{1} << 40, std::int64_t{1} << 41, 55},  // beyond 32 bits
      {(std::uint64_t{1} << 62) - 1, std::int64_t{1} << 62, 99},
      {kMax, -1, 100},
      {std::uint64_t{1} << 62, std::numeric_limits<std::int64_t>::max(), 55},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DownloadDialog::ProgressPosition(c.received, c.announced), c.position)
        << c.received << " of " << c.announced;
  }
}

TEST(DownloadDialogArithmetic, LocalAddressesAreRecognisedAndMadeDevicePaths) {
  const struct {
    const char16_t* address;
    bool local;
    const char16_t* path;
  } cases[] = {
      {u"\\My Documents\\feeds.opml", true, u"\\My Documents\\feeds.opml"},
      {u"file:///My%20Documents/feeds.opml", true, u"\\My Documents\\feeds.opml"},
      {u"FILE:///feeds.opml", true, u"\\feeds.opml"},
      {u"File://localhost/a/b.opml", true, u"\\a\\b.opml"},
      {u"/My Documents/feeds.opml", true, u"\\My Documents\\feeds.opml"},
      {u"http://example.com/feeds.opml", false, nullptr},
      {u"HTTPS://example.com/f.opml", false, nullptr},
      {u"feeds.opml", false, nullptr},
      {u"", false, nullptr},
  };
  for (const auto& c : cases) {
    const std::u16string address = c.address;
    EXPECT_EQ(DownloadDialog::IsLocalAddress(address), c.local) << plat::Utf16ToUtf8(address);
    if (c.path) {
      EXPECT_EQ(DownloadDialog::LocalPath(address), c.path) << plat::Utf16ToUtf8(address);
    }
  }
}

TEST_F(DownloadDialogTest, MissingArgumentsShowNothing) {
  EXPECT_FALSE(DownloadDialog::Run(nullptr, u"", u"New Channel", u"c", &document_));
  EXPECT_FALSE(DownloadDialog::Run(nullptr, Url("/a"), u"", u"c", &document_));
  EXPECT_FALSE(DownloadDialog::Run(nullptr, Url("/a"), u"New Channel", u"c", nullptr));
  ObservedDialog dialog(Url("/a"), u"", u"c", &document_);
  EXPECT_EQ(RunDialog(dialog), -1);
  EXPECT_EQ(dialog.resultsShown, 0);
  EXPECT_EQ(server_.Requests().size(), 0u);
}

// The phases the status line has shown, for threads that wait for one.
class ShownPhases {
 public:
  void Shown(const std::u16string& text) {
    std::lock_guard<std::mutex> g(lock_);
    shown_.push_back(text);
    changed_.notify_all();
  }
  // Waits (bounded) until the status line has shown the string `id`.
  bool WaitFor(plat::UINT id) {
    const std::u16string text = LocalizeResourceString(id);
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::seconds(20), [&] { return Contains(shown_, text); });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::u16string> shown_;
};

TEST_F(DownloadDialogTest, DownloadsAndParsesWithItsPhasesAndEndsWithOne) {
  // Each phase is held until the status line has shown it: the connection
  // comes once "Establishing connection..." shows, the server answers once
  // the request's phase shows and sends the body once the download's shows.
  plat::ScriptedConnectionProvider::Script script;
  script.manual = true;
  Script(script);
  auto phases = std::make_shared<ShownPhases>();
  const std::string body = kOpml + std::string(20000, ' ');
  server_.Route("/cat.opml", [phases, body](const orvtest::HttpRequest&) {
    phases->WaitFor(226);
    orvtest::HttpResponse r;
    r.headers.push_back({"Content-Length", std::to_string(body.size())});
    r.trickleDelayMs = 5;
    r.stream = [phases, body, offset = std::size_t{0}](std::string& piece) mutable {
      if (offset == 0) phases->WaitFor(227);
      if (offset >= body.size()) return false;
      piece = body.substr(offset, 2000);
      offset += piece.size();
      return true;
    };
    return r;
  });
  ObservedDialog dialog(Url("/cat.opml"), u"New Channel", u"Downloading online catalog:", &document_);
  dialog.onStatus = [&](ObservedDialog& d) { phases->Shown(d.statuses.back()); };
  std::thread connect([&] {
    const bool shown = phases->WaitFor(223);
    orvtest::Eventually([&] { return provider_->LastId() != 0; }, 20000);
    // Without the phase the connection fails, so the dialog still ends.
    plat::SetConnectionStatus(provider_->LastId(),
                              shown ? plat::CONNMGR_STATUS_CONNECTED : plat::CONNMGR_STATUS_NOPATHTODESTINATION);
  });
  EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultSuccess);
  connect.join();
  EXPECT_EQ(dialog.GetResult(), DownloadDialog::kResultSuccess);
  EXPECT_EQ(dialog.resultsShown, 1);
  EXPECT_EQ(dialog.shownMessage, LocalizeResourceString(224));
  // Every phase was shown, in order.
  std::vector<std::u16string> expected;
  for (plat::UINT id : {223u, 226u, 227u, 228u}) expected.push_back(LocalizeResourceString(id));
  std::vector<std::u16string> shownPhases;
  for (const std::u16string& status : dialog.statuses) {
    if (Contains(expected, status) && !Contains(shownPhases, status)) shownPhases.push_back(status);
  }
  EXPECT_EQ(shownPhases, expected);
  // Positions only grow once data comes, and reach the end.
  ASSERT_FALSE(dialog.positions.empty());
  EXPECT_TRUE(std::is_sorted(dialog.positions.begin() + 1, dialog.positions.end()));
  EXPECT_EQ(dialog.positions.back(), 100);
  EXPECT_FALSE(dialog.keyAtResult.enabled);
  ASSERT_NE(document_.GetRoot(), nullptr);
  EXPECT_NE(Tidy::FindChildElement(&document_, document_.GetRoot(), u"opml"), nullptr);
}

TEST_F(DownloadDialogTest, FailuresEndWithThreeAfterDoneAndShowWhy) {
  // An empty answer: it arrives but gives nothing to parse. (A charset
  // nobody decodes is passed over, and the answer reads as UTF-8.)
  server_.Serve("/bad.xml", "", "text/xml; charset=x-no-such-charset");
  const struct {
    std::string path;
    std::u16string detail;  // part of the message shown
  } cases[] = {
      {"/missing.opml", u"404"},
      {"/bad.xml", LocalizeResourceString(336)},
      {"/loop.xml", LocalizeResourceString(381)},
  };
  server_.Route("/loop.xml", [](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.status = 302;
    r.headers.push_back({"Location", "/loop.xml"});
    return r;
  });
  for (const auto& c : cases) {
    ObservedDialog dialog(Url(c.path), u"New Channel", u"Downloading OPML file:", &document_);
    EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultFailed) << c.path;
    EXPECT_EQ(dialog.shownResult, DownloadDialog::kResultFailed);
    EXPECT_EQ(dialog.shownMessage.rfind(LocalizeResourceString(225), 0), 0u) << plat::Utf16ToUtf8(dialog.shownMessage);
    EXPECT_NE(dialog.shownMessage.find(c.detail), std::u16string::npos) << plat::Utf16ToUtf8(dialog.shownMessage);
    // The failure waits for Done; no progress bar stands beside it.
    EXPECT_EQ(dialog.keyAtResult.command, DownloadDialog::kCommandDone);
    EXPECT_EQ(dialog.keyAtResult.text, LocalizeResourceString(230));
    EXPECT_TRUE(dialog.keyAtResult.enabled);
    EXPECT_EQ(dialog.positionAtResult, 0);
    EXPECT_FALSE(dialog.progressShownAtResult);
  }
}

TEST_F(DownloadDialogTest, CancelWhileDownloadingWaitsForTheWorkerAndEndsWithTwo) {
  // Shared with the route: a cancelled request may still reach the server
  // after the test has ended.
  auto held = std::make_shared<HeldRoute>();
  server_.Route("/held.opml", [held](const orvtest::HttpRequest&) { return held->Wait(); });
  ObservedDialog dialog(Url("/held.opml"), u"New Channel", u"Searching...", &document_);
  bool cancelled = false;
  SoftKeyInfo keyAfterCancel;
  bool openAfterCancel = false;
  dialog.onStatus = [&](ObservedDialog& d) {
    if (cancelled || d.statuses.back() != LocalizeResourceString(226)) return;
    cancelled = true;
    d.Cancel();
    keyAfterCancel = d.Key();
    openAfterCancel = plat::IsWindowVisible(d.GetHwnd()) && d.resultsShown == 0;
  };
  EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultCancelled);
  held->Release();
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(openAfterCancel);
  EXPECT_EQ(keyAfterCancel.text, LocalizeResourceString(231));
  EXPECT_FALSE(keyAfterCancel.enabled);
  EXPECT_EQ(dialog.resultsShown, 1);
  EXPECT_EQ(dialog.shownResult, DownloadDialog::kResultCancelled);
}

TEST_F(DownloadDialogTest, CancelWhileConnectingEndsWithTwoWhateverTheWorkerReports) {
  plat::ScriptedConnectionProvider::Script script;
  script.manual = true;
  Script(script);
  server_.Serve("/cat.opml", kOpml);
  ObservedDialog dialog(Url("/cat.opml"), u"New Channel", u"c", &document_);
  dialog.onStatus = [&](ObservedDialog& d) {
    if (d.Key().enabled) {
      d.Cancel();
      // The connection comes after all.
      if (provider_->LastId() != 0) plat::SetConnectionStatus(provider_->LastId(), plat::CONNMGR_STATUS_CONNECTED);
    }
  };
  EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultCancelled);
  EXPECT_EQ(dialog.resultsShown, 1);
  EXPECT_EQ(server_.RequestCount("/cat.opml"), 0u);
}

TEST_F(DownloadDialogTest, PaidConnectionIsUsedOnlyWhenTheUserAgrees) {
  server_.Serve("/cat.opml", kOpml);
  const struct {
    bool roaming;
    int answer;
    plat::UINT question;
    int result;
  } cases[] = {
      {false, plat::IDYES, 221, DownloadDialog::kResultSuccess},
      {false, plat::IDNO, 221, DownloadDialog::kResultCancelled},
      {true, plat::IDYES, 312, DownloadDialog::kResultSuccess},
  };
  for (const auto& c : cases) {
    manager_ = std::make_unique<CInetManager>();
    plat::ScriptedConnectionProvider::Script script;
    script.paid = true;
    script.roaming = c.roaming;
    Script(script);
    plat::SetPhoneRoaming(c.roaming);
    // Free connections only: the option, or roaming by itself.
    GetGlobalOptions().SetUseFreeConnectionsOnly(c.roaming ? 0 : 1);
    asked.clear();
    answer = c.answer;
    ObservedDialog dialog(Url("/cat.opml"), u"New Channel", u"c", &document_);
    EXPECT_EQ(RunDialog(dialog), c.result) << c.question << " " << c.answer;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, LocalizeResourceString(c.question));
    EXPECT_EQ(asked[0].type, plat::MB_YESNO | plat::MB_ICONQUESTION);
  }
  plat::SetPhoneRoaming(false);
}

TEST_F(DownloadDialogTest, NoConnectionWithoutRestrictionFailsWithItsMessage) {
  plat::ScriptedConnectionProvider::Script script;
  script.refuse = true;
  Script(script);
  GetGlobalOptions().SetUseFreeConnectionsOnly(0);
  ObservedDialog dialog(Url("/cat.opml"), u"New Channel", u"c", &document_);
  EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultFailed);
  EXPECT_EQ(dialog.shownMessage, LocalizeResourceString(220));
  EXPECT_TRUE(asked.empty());
}

TEST_F(DownloadDialogTest, LocalFilesAreReadByPathOrFileAddress) {
  ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\My Documents\\feeds.opml", kOpml));
  const struct {
    const char16_t* address;
    int result;
  } cases[] = {
      {u"\\My Documents\\feeds.opml", DownloadDialog::kResultSuccess},
      {u"file:///My%20Documents/feeds.opml", DownloadDialog::kResultSuccess},
      {u"FILE:///My Documents/feeds.opml", DownloadDialog::kResultSuccess},
      {u"/My Documents/feeds.opml", DownloadDialog::kResultSuccess},
      {u"\\My Documents\\none.opml", DownloadDialog::kResultFailed},
  };
  for (const auto& c : cases) {
    Tidy::Document document;
    ASSERT_EQ(document.Init(), 0);
    ObservedDialog dialog(c.address, u"New Channel", u"Downloading OPML file:", &document);
    EXPECT_EQ(RunDialog(dialog), c.result) << plat::Utf16ToUtf8(c.address);
    if (c.result == DownloadDialog::kResultSuccess) {
      EXPECT_NE(document.GetRoot(), nullptr);
    } else {
      EXPECT_NE(dialog.shownMessage.find(u"none.opml"), std::u16string::npos);
    }
  }
  EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(DownloadDialogTest, ScreensShowProgressAndFailureAtBothSizes) {
  const struct {
    int width, height, dpi;
    const char* name;
  } screens[] = {{240, 320, 96, "240x320"}, {480, 640, 192, "480x640"}};
  // Shared with the route: a cancelled request may still reach the server
  // after the test has ended.
  auto held = std::make_shared<HeldRoute>();
  server_.Route("/held.opml", [held](const orvtest::HttpRequest&) { return held->Wait(); });
  for (const auto& s : screens) {
    UseScreen(s.width, s.height, s.dpi);
    InitUiKit(nullptr);
    {
      ObservedDialog dialog(Url("/held.opml"), u"New Channel", u"Downloading online catalog:", &document_);
      bool shot = false;
      dialog.onStatus = [&](ObservedDialog& d) {
        if (shot || d.statuses.back() != LocalizeResourceString(226)) return;
        shot = true;
        plat::SendMessageW(d.GetProgressWindow(), plat::PBM_SETPOS, 55, 0);
        SaveScreen({d.GetHwnd(), d.GetSoftKeys().GetBar()},
                   std::string("download-progress-") + s.name + ".png");
        // The text fits its line: the status is laid out inside the dialog.
        plat::RECT status{}, client{};
        plat::GetWindowRect(d.GetStatusWindow(), &status);
        plat::GetWindowRect(d.GetHwnd(), &client);
        EXPECT_LE(status.right, client.right);
        EXPECT_GT(status.bottom - status.top, 0);
        d.Cancel();
      };
      EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultCancelled);
      EXPECT_TRUE(shot);
    }
    {
      ObservedDialog dialog(Url("/missing.opml"), u"New Channel", u"Downloading online catalog:", &document_);
      dialog.onResult = [&](ObservedDialog& d) {
        SaveScreen({d.GetHwnd(), d.GetSoftKeys().GetBar()}, std::string("download-failed-") + s.name + ".png");
        d.PressDone();
      };
      EXPECT_EQ(RunDialog(dialog), DownloadDialog::kResultFailed);
    }
  }
  held->Release();
}

}  // namespace
}  // namespace apptest
