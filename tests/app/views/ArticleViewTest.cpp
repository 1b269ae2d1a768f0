// The article view over real articles of the channel set: the page it
// builds, the links it follows or refuses, the pictures it supplies by
// cookie, previous and next, text size, copy, and the hostile articles it
// must open without harm.
#include "app/views/ArticleView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/FileUtils.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "core/Md5.h"
#include "core/RegisteredMessages.h"
#include "database/ArticleFilter.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "layout/ScreenScale.h"
#include "layout/UiKitModule.h"
#include "platform/base/LocalMemory.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/Clipboard.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/ShellExecute.h"
#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlView.h"
#include "platform/windows/Menus.h"
#include "tests/database/ChannelFixture.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/Pump.h"

#ifndef ORV_APP_SHOTS
#define ORV_APP_SHOTS "."
#endif

namespace {

using namespace plat;

constexpr ULONGLONG kHour = 36000000000ull;

std::vector<std::string> g_opened;
std::vector<std::u16string> g_refused;
std::vector<IArticle*> g_updated;

LRESULT ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) { return DefWindowProcW(hwnd, msg, wParam, lParam); }

class ArticleViewTest : public orvtest::ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    InitCommonControls();
    InitUiKit(nullptr);
    g_opened.clear();
    g_refused.clear();
    g_updated.clear();
    SetDesktopOpenerForTesting([](const std::string& target) {
      g_opened.push_back(target);
      return true;
    });
    SetShellLogForTesting([](const std::string&) {});
    ArticleView::SetLinkRefusedSinkForTesting([](const std::u16string& t) { g_refused.push_back(t); });
    ArticleView::SetArticleUpdaterForTesting([](IArticle* a) { g_updated.push_back(a); });
    set_ = GetChannelSet();
    {
      CSyncLock lock(set_);
      set_->RemoveAll();
      ASSERT_TRUE(set_->Open());
      channel_ = set_->Add(u"News");
      ASSERT_NE(channel_, nullptr);
      channel_->Acquire(this);
    }
    now_ = CurrentClock().NowUtcFileTime();
    state_ = std::make_unique<CDBViewState>(set_);
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"ArticleViewTestParent", &wc)) {
      wc.lpfnWndProc = &ParentProc;
      wc.lpszClassName = u"ArticleViewTestParent";
      ASSERT_TRUE(RegisterClassW(&wc));
    }
    parent_ = CreateWindowExW(0, u"ArticleViewTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                              ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
  }

  void TearDown() override {
    host_.reset();
    if (parent_) DestroyWindow(parent_);
    orvtest::PumpMessages();
    {
      CSyncLock lock(set_);
      state_->AttachArticleFilter(nullptr);
      if (channel_) channel_->Release(this, false);
      set_->RemoveAll();
    }
    SetDesktopOpenerForTesting(nullptr);
    SetShellLogForTesting(nullptr);
    ArticleView::SetLinkRefusedSinkForTesting(nullptr);
    ArticleView::SetArticleUpdaterForTesting(nullptr);
    state_.reset();
  }

  // Article ids are digests; tests name them.
  static std::u16string IdOf(const std::u16string& name) { return GetMd5Hex(name); }

  IArticle* Make(const std::u16string& name, const std::u16string& title, const CStringToStringMap& properties,
                 int hoursAgo = 1, std::uint32_t state = US_UP_TO_DATE) {
    CSyncLock lock(set_);
    IArticle* a = channel_->CreateArticle(IdOf(name), state, ULLToFileTime(now_ - static_cast<ULONGLONG>(hoursAgo) * kHour));
    EXPECT_NE(a, nullptr) << "article not made";
    if (!a) return nullptr;
    a->SetTitle(title);
    EXPECT_TRUE(channel_->SetArticleProperties(a, properties)) << "properties not stored";
    return a;
  }

  // A downloaded picture of the article at the address.
  void AddPicture(IArticle* article, const std::u16string& address, int w, int h, std::uint32_t colour) {
    CSyncLock lock(set_);
    IBinarySet* binaries = article->GetBinaries();
    binaries->AddUrl(address);
    IBinary* binary = binaries->Lookup(address);
    ASSERT_NE(binary, nullptr);
    std::u16string file;
    binary->GetFileName(file, true);
    ASSERT_TRUE(CreateFolderTree(file.substr(0, file.rfind(u'\\'))));
    orvtest::WriteHostFile(Host(file), imgtest::Bmp(w, h, 24, imgtest::Solid(w, h, colour), false));
    binary->SetUpdateState(US_UP_TO_DATE);
    ASSERT_TRUE(binary->IsDownloaded());
  }

  // The view in its host, showing the channel's article list as the filter.
  ArticleView& View() {
    if (!host_) {
      {
        CSyncLock lock(set_);
        state_->AttachArticleFilter(GetArticleFilter());
        state_->OpenChannel(u"News");
      }
      host_ = std::make_unique<ArticleViewHost>();
      host_->GetView().SetViewState(state_.get());
      const RECT r{0, 0, ScreenWidth(), ScreenHeight()};
      EXPECT_NE(host_->Create(parent_, r), nullptr);
    }
    return host_->GetView();
  }

  // Shows the article and lets every posted message run.
  void Show(IArticle* article) {
    View().SetArticle(article);
    orvtest::PumpMessages();
  }

  std::u16string PageOf(IArticle* article, bool showLocation = true) {
    std::u16string page;
    EXPECT_TRUE(ArticleHtmlBuilder(article, page, showLocation));
    return page;
  }

  // What the viewer would report for a link tap, through the host.
  void TapLink(const std::u16string& target) {
    HWND inner = View().GetInnerWindow();
    NM_HTMLVIEWW nm{};
    nm.hdr.hwndFrom = inner;
    nm.hdr.idFrom = HtmlView::kControlId;
    nm.hdr.code = NM_HOTSPOT;
    nm.szTarget = target.c_str();
    SendMessageW(host_->GetWindow(), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }

  std::u16string CurrentArticleId() { return CDBViewState().GetCurrentArticleID(); }

  std::u16string ClipboardText() {
    std::u16string text;
    if (!OpenClipboard(nullptr)) return u"<closed>";
    if (HLOCAL block = GetClipboardData(CF_UNICODETEXT)) {
      const auto* p = static_cast<const char16_t*>(LocalLock(block));
      text = p ? p : u"";
      LocalUnlock(block);
    }
    CloseClipboard();
    return text;
  }

  bool Contains(const std::u16string& page, const std::u16string& what) { return page.find(what) != std::u16string::npos; }
  int Count(const std::u16string& page, const std::u16string& what) {
    int n = 0;
    for (std::size_t at = page.find(what); at != std::u16string::npos; at = page.find(what, at + what.size())) ++n;
    return n;
  }

  CChannelSet* set_ = nullptr;
  IChannel* channel_ = nullptr;
  ULONGLONG now_ = 0;
  HWND parent_ = nullptr;
  std::unique_ptr<CDBViewState> state_;
  std::unique_ptr<ArticleViewHost> host_;
};

// Runs after every job queued before it on its queue has finished.
class MarkerJob : public CJob {
 public:
  explicit MarkerJob(std::atomic<bool>* ran) : CJob(nullptr), ran_(ran) {}
  int GetQueue() override { return 0; }
  void Execute() override { *ran_ = true; }
  void Stop() override {}

 private:
  std::atomic<bool>* ran_;
};

// ---------------------------------------------------------------------------
// The page

TEST_F(ArticleViewTest, PageHeaderFollowsShowHeaderInHtmlAndTitleIsEscaped) {
  struct Row {
    const char16_t* flag;  // null: absent
    bool titleLine;
  };
  const Row rows[] = {{nullptr, true}, {u"1", true}, {u"0", false}, {u"yes", false}, {u"", false}};
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(n);
    CStringToStringMap props{{u"body", u"<p>Body text</p>"}};
    if (row.flag) props[u"ShowHeaderInHTML"] = row.flag;
    IArticle* a = Make(u"h" + plat::Utf8ToUtf16(std::to_string(n++)), u"Fish & <Chips> today", props);
    ASSERT_NE(a, nullptr);
    const std::u16string page = PageOf(a);
    EXPECT_TRUE(Contains(page, u"<title>Fish &amp; &lt;Chips&gt; today</title>"));
    EXPECT_EQ(Contains(page, u"<h4 align=center>Fish &amp; &lt;Chips&gt; today</h4>"), row.titleLine);
    EXPECT_FALSE(Contains(page, u"<Chips>"));
    EXPECT_TRUE(Contains(page, u"<p>Body text</p>"));
    EXPECT_TRUE(Contains(page, u"<div style=\"font-size:80%; text-align:right\">"));  // it has a date
  }
}

TEST_F(ArticleViewTest, MarkersAreReplacedInOnePass) {
  IArticle* a = Make(u"m", u"About %BODY% and %HEADER%", {{u"body", u"<p>Text with %HEADER% and %BODY% 100%</p>"}});
  ASSERT_NE(a, nullptr);
  const std::u16string page = PageOf(a);
  // The title keeps its marker-like text; the body comes once, untouched.
  EXPECT_TRUE(Contains(page, u"<title>About %BODY% and %HEADER%</title>"));
  EXPECT_EQ(Count(page, u"<p>Text with %HEADER% and %BODY% 100%</p>"), 1);
  EXPECT_EQ(Count(page, u"Text with"), 1);
}

TEST_F(ArticleViewTest, FooterByStateAndTheAddressEscapedInItsLink) {
  const std::u16string hostile = u"http://example.com/a?x=1&y=\"><script>alert(1)</script>";
  IArticle* manual = Make(u"manual", u"M", {{u"body", u"b"}, {u"url", u"http://example.com/m"}}, 1, US_WAITING);
  IArticle* waiting = Make(u"waiting", u"W", {{u"body", u"b"}, {u"url", u"http://example.com/w"}}, 1, US_WAITING);
  IArticle* done = Make(u"done", u"D", {{u"body", u"b"}, {u"url", hostile}});
  IArticle* bare = Make(u"bare", u"B", {{u"body", u"b"}});
  ASSERT_TRUE(manual && waiting && done && bare);
  {
    CSyncLock lock(set_);
    manual->SetManualUpdate(true);
  }
  const std::u16string downloadLink = u"<a href=\"__manual_update__\"><font color=0033cc>";
  const std::u16string waitNote = u"<font color=cc3300>";
  const std::u16string sourceLink = u"<br /><hr />\t\t\t\t\t\t<a href=\"";

  std::u16string page = PageOf(manual);
  EXPECT_TRUE(Contains(page, downloadLink + u"Click to download entire article.</font></a>"));
  EXPECT_FALSE(Contains(page, waitNote));
  EXPECT_FALSE(Contains(page, sourceLink));

  page = PageOf(waiting);
  EXPECT_TRUE(Contains(page, waitNote + u"Please wait for article to download.</font>"));
  EXPECT_FALSE(Contains(page, sourceLink));

  page = PageOf(done);
  EXPECT_TRUE(Contains(page, sourceLink +
                                 u"http://example.com/a?x=1&amp;y=&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"
                                 u"\">Link to the article</a>"));
  EXPECT_FALSE(Contains(page, u"<script>"));
  // "ShowArticleLocation" off: no link to the address.
  EXPECT_FALSE(Contains(PageOf(done, false), sourceLink));
  EXPECT_FALSE(Contains(PageOf(bare), sourceLink));
}

TEST_F(ArticleViewTest, ShowingAnArticleMarksItReadAndUsesItsChannel) {
  IArticle* a = Make(u"r", u"Read me", {{u"body", u"<p>Hello reader</p>"}});
  ASSERT_NE(a, nullptr);
  CChannel* channel = static_cast<CChannel*>(channel_);
  View();  // the article list (the filter) uses the channel too
  const std::size_t users = channel->GetUserCount();
  Show(a);
  EXPECT_EQ(View().GetText(), PageOf(a));
  EXPECT_EQ(View().GetBusy(), 0);
  {
    CSyncLock lock(set_);
    EXPECT_TRUE(channel_->IsArticleRead(a));
  }
  EXPECT_EQ(channel->GetUserCount(), users + 1);
  View().SetArticle(nullptr);
  orvtest::PumpMessages();
  EXPECT_EQ(channel->GetUserCount(), users);
  EXPECT_TRUE(View().GetText().empty());
}

TEST_F(ArticleViewTest, TitleChangeRebuildsAndRemovingTheChannelLetsGo) {
  IArticle* a = Make(u"t", u"Old title", {{u"body", u"x"}});
  ASSERT_NE(a, nullptr);
  Show(a);
  {
    CSyncLock lock(set_);
    a->SetTitle(u"New title");
  }
  orvtest::PumpMessages();
  EXPECT_TRUE(Contains(View().GetText(), u"<title>New title</title>"));
  {
    CSyncLock lock(set_);
    channel_->Release(this, false);
    set_->Remove(u"News");
    channel_ = nullptr;
  }
  EXPECT_EQ(View().GetArticle(), nullptr);
  orvtest::PumpMessages();
  EXPECT_TRUE(View().GetText().empty());
}

// ---------------------------------------------------------------------------
// Links

TEST_F(ArticleViewTest, LinkPolicyTable) {
  struct Row {
    const char16_t* target;
    ArticleLinkAction action;
    const char16_t* id;
  };
  const Row rows[] = {
      {u"__manual_update__", ArticleLinkAction::kManualUpdate, u""},
      {u"article://abc-1", ArticleLinkAction::kOpenArticle, u"abc-1"},
      {u"ARTICLE://XyZ", ArticleLinkAction::kOpenArticle, u"XyZ"},
      {u"article://", ArticleLinkAction::kRefused, u""},
      {u"http://example.com/page", ArticleLinkAction::kBrowser, u""},
      {u"HTTPS://example.com/", ArticleLinkAction::kBrowser, u""},
      {u"mailto:someone@example.com", ArticleLinkAction::kBrowser, u""},
      {u"mailto:", ArticleLinkAction::kRefused, u""},
      {u"http:///etc/passwd", ArticleLinkAction::kRefused, u""},
      {u"file:///etc/passwd", ArticleLinkAction::kRefused, u""},
      {u"FILE:\\Windows\\x.exe", ArticleLinkAction::kRefused, u""},
      {u"javascript:alert(1)", ArticleLinkAction::kRefused, u""},
      {u" javascript:alert(1)", ArticleLinkAction::kRefused, u""},
      {u"\\Windows\\calc.exe", ArticleLinkAction::kRefused, u""},
      {u"\\Program Files\\Orv News\\OrvNews.exe", ArticleLinkAction::kRefused, u""},
      {u"calc.exe", ArticleLinkAction::kRefused, u""},
      {u"ftp://example.com/", ArticleLinkAction::kRefused, u""},
      {u"data:text/html,<b>x</b>", ArticleLinkAction::kRefused, u""},
      {u"http://example.com/\nfile:///etc", ArticleLinkAction::kRefused, u""},
      {u"relative/page.html", ArticleLinkAction::kRefused, u""},
      {u"", ArticleLinkAction::kRefused, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(plat::Utf16ToUtf8(row.target));
    std::u16string id;
    EXPECT_EQ(ClassifyArticleLink(row.target, &id), row.action);
    EXPECT_EQ(id, row.id);
  }
}

TEST_F(ArticleViewTest, TappedLinksGoWhereThePolicySays) {
  IArticle* a = Make(u"links", u"Links", {{u"body", u"<a href=\"http://example.com/\">x</a>"}});
  IArticle* b = Make(u"Other-Id", u"Other", {{u"body", u"y"}});
  ASSERT_TRUE(a && b);
  Show(a);
  TapLink(u"http://example.com/news?id=1");
  TapLink(u"mailto:editor@example.com");
  TapLink(u"file:///etc/passwd");
  TapLink(u"javascript:alert(document.cookie)");
  TapLink(u"\\Windows\\calc.exe");
  EXPECT_EQ(g_opened, (std::vector<std::string>{"http://example.com/news?id=1", "mailto:editor@example.com"}));
  EXPECT_EQ(g_refused.size(), 3u);
  TapLink(u"__manual_update__");
  ASSERT_EQ(g_updated.size(), 1u);
  EXPECT_EQ(g_updated[0], a);
  // A link to an article the list does not hold leaves the page as it is.
  const std::u16string before = CurrentArticleId();
  TapLink(u"article://" + IdOf(u"no-such-article"));
  orvtest::PumpMessages();
  EXPECT_EQ(CurrentArticleId(), before);
  EXPECT_EQ(View().GetArticle(), a);
  TapLink(u"ARTICLE://" + IdOf(u"Other-Id"));
  EXPECT_EQ(CurrentArticleId(), IdOf(u"Other-Id"));
  EXPECT_EQ(CDBViewState().GetCurrentView(), static_cast<DWORD>(DBV_ARTICLE));
  // Without an article nothing is followed.
  View().SetArticle(nullptr);
  TapLink(u"http://example.com/late");
  EXPECT_EQ(g_opened.size(), 2u);
}

TEST_F(ArticleViewTest, RealTapOnAPageLinkReachesTheOpenerOnce) {
  IArticle* a = Make(u"tap", u"Tap",
                     {{u"ShowHeaderInHTML", u"0"},
                      {u"body", u"<div style=\"font-size:400%\"><a href=\"http://example.com/tapped\">LINKLINKLINK</a>"
                                u"</div>"}},
                     -1);
  ASSERT_NE(a, nullptr);
  Show(a);
  HWND inner = View().GetInnerWindow();
  const LPARAM at = MAKELPARAM(static_cast<WORD>(ScaleX(20)), static_cast<WORD>(ScaleY(20)));
  SendMessageW(inner, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(inner, WM_LBUTTONUP, 0, at);
  orvtest::PumpMessages();
  EXPECT_EQ(g_opened, std::vector<std::string>{"http://example.com/tapped"});
}

// ---------------------------------------------------------------------------
// Pictures

TEST_F(ArticleViewTest, CookiesOfOneAddressShareOneDecodedPicture) {
  const std::u16string pic = u"http://img.example.com/a.bmp";
  const std::u16string missing = u"http://img.example.com/missing.bmp";
  IArticle* a = Make(u"img", u"Pictures",
                     {{u"body", u"<img src=\"" + pic + u"\"><p>text</p><img src=\"" + pic + u"\"><img src=\"" + missing +
                                    u"\"><img src=\"" + pic + u"\">"}});
  ASSERT_NE(a, nullptr);
  AddPicture(a, pic, 40, 30, 0xFF0000FFu);
  Show(a);
  // The three cookies of the downloaded picture are shown; the missing one waits.
  ASSERT_TRUE(orvtest::PumpUntil([&] { return View().GetPendingImageCount() == 1; }));
  std::vector<DWORD> shown;
  for (DWORD cookie = 1; cookie < 64; ++cookie)
    if (!View().GetShownImageFile(cookie).empty()) shown.push_back(cookie);
  ASSERT_EQ(shown.size(), 3u);
  for (DWORD cookie : shown) EXPECT_EQ(View().GetShownImageFile(cookie), View().GetShownImageFile(shown[0]));
  // The next page fails the waiting cookie and forgets the shown ones; the
  // shared bitmap goes with the old page (the sanitizers watch for a second free).
  IArticle* b = Make(u"img2", u"Next", {{u"body", u"<p>no pictures</p>"}});
  Show(b);
  EXPECT_EQ(View().GetPendingImageCount(), 0u);
  EXPECT_TRUE(View().GetShownImageFile(shown[0]).empty());
}

TEST_F(ArticleViewTest, PictureOfAReplacedPageIsDropped) {
  const std::u16string pic = u"http://img.example.com/late.bmp";
  IArticle* a = Make(u"late", u"Late", {{u"body", u"<img src=\"" + pic + u"\">"}});
  ASSERT_NE(a, nullptr);
  AddPicture(a, pic, 20, 20, 0xFF00FF00u);
  View().SetArticle(a);
  // Only the posted messages: the page is shown and its job queued.
  MSG m{};
  while (PeekMessageW(&m, View().GetWindow(), 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  const unsigned generation = View().GetPageGeneration();
  // The page is replaced (by one without the picture) before the picture can arrive.
  View().ShowText(u"<p>no picture</p>");
  SendMessageW(View().GetWindow(), GetRegisteredMessages().htmlCtrlReload, 0, 0);
  EXPECT_EQ(View().GetPageGeneration(), generation + 1);
  // Whatever the job did (cancelled, or delivered to the newer page), nothing of it is shown.
  std::atomic<bool> ran{false};
  CJobManager::GetInstance()->AddJob(new MarkerJob(&ran));
  ASSERT_TRUE(orvtest::PumpUntil([&] { return ran.load(); }));
  orvtest::PumpMessages();
  for (DWORD cookie = 1; cookie < 16; ++cookie) EXPECT_TRUE(View().GetShownImageFile(cookie).empty());
}

TEST_F(ArticleViewTest, PageWithPictureLooksRight) {
  const std::u16string pic = u"http://img.example.com/blue.bmp";
  IArticle* a = Make(u"look", u"A headline",
                     {{u"body", u"<p>First paragraph of the story.</p><img src=\"" + pic + u"\"><p>After the picture.</p>"},
                      {u"url", u"http://example.com/story"}});
  ASSERT_NE(a, nullptr);
  AddPicture(a, pic, 120, 60, 0xFF2040C0u);
  Show(a);
  ASSERT_TRUE(orvtest::PumpUntil([&] { return View().GetPendingImageCount() == 0 && !View().GetShownImageFile(1).empty(); }) ||
              orvtest::PumpUntil([&] { return View().GetPendingImageCount() == 0; }));
  InvalidateRect(View().GetInnerWindow(), nullptr, FALSE);
  UpdateWindow(View().GetInnerWindow());
  HBITMAP surface = GetWindowSurfaceForTesting(parent_);
  std::filesystem::create_directories(ORV_APP_SHOTS);
  ASSERT_TRUE(SaveBitmapPng(surface, std::string(ORV_APP_SHOTS) + "/article-view.png"));
  const PixelImage img = ReadBitmapPixels(surface);
  int blue = 0;
  for (DWORD p : img.pixels)
    if (((p >> 16) & 0xFF) < 0x40 && ((p >> 8) & 0xFF) > 0x30 && ((p >> 8) & 0xFF) < 0x50 && (p & 0xFF) > 0xA0) ++blue;
  EXPECT_GT(blue, 100 * 50);  // the picture is painted (at its own size)
}

// ---------------------------------------------------------------------------
// Previous and next, text size, copy

TEST_F(ArticleViewTest, PreviousAndNextStopAtTheEnds) {
  IArticle* first = Make(u"first", u"First", {{u"body", u"1"}}, 1);
  IArticle* second = Make(u"second", u"Second", {{u"body", u"2"}}, 2);
  IArticle* third = Make(u"third", u"Third", {{u"body", u"3"}}, 3);
  ASSERT_TRUE(first && second && third);
  View();
  ASSERT_EQ(GetArticleFilter()->GetCount(), 3);
  ASSERT_EQ(GetArticleFilter()->GetAt(0), first);

  Show(first);
  state_->SetCurrentArticleID(IdOf(u"first"));
  View().ShowAdjacentArticle(true);  // nothing before the first
  EXPECT_EQ(CurrentArticleId(), IdOf(u"first"));
  View().ShowAdjacentArticle(false);
  EXPECT_EQ(CurrentArticleId(), IdOf(u"second"));

  Show(third);
  state_->SetCurrentArticleID(IdOf(u"third"));
  View().ShowAdjacentArticle(false);  // nothing after the last
  EXPECT_EQ(CurrentArticleId(), IdOf(u"third"));
  View().ShowAdjacentArticle(true);
  EXPECT_EQ(CurrentArticleId(), IdOf(u"second"));
}

TEST_F(ArticleViewTest, ArrowsAtThePageEdgeMoveThroughTheList) {
  IArticle* first = Make(u"first", u"First", {{u"body", u"<p>narrow</p>"}}, 1);
  IArticle* second = Make(u"second", u"Second", {{u"body", u"<p>narrow</p>"}}, 2);
  ASSERT_TRUE(first && second);
  Show(first);
  HWND inner = View().GetInnerWindow();
  EXPECT_EQ(SendMessageW(inner, WM_GETDLGCODE, 0, 0), 0x85);
  // Left on the first article: nothing; right: the next one.
  SendMessageW(inner, WM_KEYDOWN, VK_LEFT, 0);
  SendMessageW(inner, WM_KEYUP, VK_LEFT, 0);
  orvtest::PumpMessages();
  EXPECT_NE(CurrentArticleId(), IdOf(u"second"));
  SendMessageW(inner, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(inner, WM_KEYUP, VK_RIGHT, 0);
  orvtest::PumpMessages();
  EXPECT_EQ(CurrentArticleId(), IdOf(u"second"));
}

TEST_F(ArticleViewTest, TextSizeGoesToTheViewerWithinItsRange) {
  IArticle* a = Make(u"size", u"Size", {{u"body", u"<p>text</p>"}});
  ASSERT_NE(a, nullptr);
  Show(a);
  HWND viewer = View().GetWindow();
  struct Row {
    int asked, applied;
  };
  for (const Row row : {Row{4, 4}, Row{0, 0}, Row{9, 4}, Row{-3, 0}, Row{1, 1}}) {
    View().SetTextSize(row.asked);
    EXPECT_EQ(View().GetTextSize(), row.applied);
    // The viewer answers the size it had.
    EXPECT_EQ(SendMessageW(viewer, DTM_TEXTSIZE, static_cast<WPARAM>(row.applied), 0), row.applied);
  }
  GetGlobalOptions().SetHTMLTextSize(3);
  GetGlobalOptions().SetShowArticleLocation(0);
  View().ApplyOptions();
  EXPECT_EQ(View().GetTextSize(), 3);
  EXPECT_FALSE(View().GetShowLocation());
}

TEST_F(ArticleViewTest, CopyPutsExactlyTheSelectedTextOnTheClipboard) {
  IArticle* a = Make(u"copy", u"Copy", {{u"ShowHeaderInHTML", u"0"}, {u"body", u"<p>100% sure, 50%d off %s</p>"}}, -1);
  ASSERT_NE(a, nullptr);
  Show(a);
  HMENU menu = View().BuildContextMenu(false);
  EXPECT_EQ(GetMenuItemCount(menu), 2);
  EXPECT_EQ(EnableMenuItem(menu, kArticleCopy, MF_GRAYED) & MF_GRAYED, MF_GRAYED);  // nothing selected yet
  DestroyMenu(menu);
  View().SelectAll();
  menu = View().BuildContextMenu(true);
  EXPECT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(GetMenuItemID(menu, 2), kArticleOpenImage);
  EXPECT_EQ(EnableMenuItem(menu, kArticleCopy, MF_GRAYED) & MF_GRAYED, 0u);
  DestroyMenu(menu);
  ASSERT_TRUE(View().CopySelection());
  const std::u16string text = ClipboardText();
  EXPECT_TRUE(Contains(text, u"100% sure, 50%d off %s")) << plat::Utf16ToUtf8(text);

  // Someone else holds the clipboard as Copy is chosen (a viewer reading
  // it): the copy waits for it instead of being dropped.
  std::atomic<bool> held{false};
  std::thread other([&] {
    ASSERT_TRUE(OpenClipboard(nullptr));
    held = true;
    plat::Sleep(200);
    EmptyClipboard();
    CloseClipboard();
  });
  while (!held) plat::Sleep(1);
  const bool copied = View().CopySelection();
  other.join();
  EXPECT_TRUE(copied);
  EXPECT_TRUE(Contains(ClipboardText(), u"100% sure, 50%d off %s")) << plat::Utf16ToUtf8(ClipboardText());
}

// ---------------------------------------------------------------------------
// Hostile articles

TEST_F(ArticleViewTest, HostileArticlesOpenWithoutHarm) {
  std::u16string deep;
  for (int i = 0; i < 100000; ++i) deep += u"<div>";
  deep += u"deep";
  // 10 MB: some text to lay out, then a script that fills the rest (the
  // viewer's own tests and benchmark cover laying out megabytes of text).
  std::u16string big = u"<p>";
  while (big.size() < 100u * 1024u) big += u"Lorem ipsum dolor sit amet, consectetur adipiscing. ";
  big += u"</p><script>var x = '";
  big.resize(10u * 1024u * 1024u - 16, u'x');
  big += u"';</script>";
  std::u16string broken = u"<p>broken ";
  broken += static_cast<char16_t>(0xD800);  // a lone surrogate
  broken += u" and \uFFFF and ";
  broken += static_cast<char16_t>(0xDFFF);
  broken += u"</p><meta charset=\"x-unknown\">";
  const std::vector<std::u16string> bodies = {
      u"<script>document.location='http://evil.example.com/'</script><p>s</p>",
      u"<body onload=\"location='file:///etc/passwd'\"><img src=\"x\" onerror=\"alert(1)\"></body>",
      u"<a href=\"javascript:alert(1)\">j</a><a href=\"file:///etc/passwd\">f</a>"
      u"<iframe src=\"http://evil.example.com/\"></iframe><link rel=stylesheet href=\"http://evil.example.com/s.css\">"
      u"<meta http-equiv=\"refresh\" content=\"0;url=http://evil.example.com/\">",
      big,
      deep,
      broken,
  };
  int n = 0;
  for (const std::u16string& body : bodies) {
    SCOPED_TRACE(n);
    IArticle* a = Make(u"hostile" + plat::Utf8ToUtf16(std::to_string(n++)), u"<script>alert(1)</script>",
                       {{u"body", body}, {u"url", u"javascript:alert(1)"}});
    ASSERT_NE(a, nullptr);
    Show(a);
    EXPECT_EQ(View().GetBusy(), 0);
    EXPECT_EQ(View().GetText().size() > body.size(), true);
    // Nothing was opened or fetched: no binary, no job.
    EXPECT_TRUE(g_opened.empty());
    EXPECT_EQ(CJobManager::GetInstance()->GetPendingCount(), 0u);
  }
  // The page's own hostile links are refused when tapped.
  TapLink(u"javascript:alert(1)");
  TapLink(u"file:///etc/passwd");
  EXPECT_TRUE(g_opened.empty());
  EXPECT_EQ(g_refused.size(), 2u);
}

}  // namespace
