// The Today views painted into pictures and checked at their pixels: the
// list with and without its scroll bar, paging and the last row, the simple
// view's stepping and automatic advance, the skins' tones, the height answer
// to the host, and pictures of both views at the two screen sizes (kept under
// the build folder to look at).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "database/ChannelMutexTimeout.h"
#include "database/ThumbnailsManager.h"
#include "platform/controls/StandardControls.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/today/TodayFixture.h"
#include "today/TodayCommon.h"
#include "today/TodayDraw.h"
#include "today/TodayViews.h"

namespace {

using namespace plat;
using todaytest::ArticleSpec;
using todaytest::TodayFixture;
using todaytest::U;

constexpr COLORREF kHostHighlight = RGB(0x31, 0x6A, 0xC5);

LRESULT HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == TODAYM_GETCOLOR) {
    if (wParam == TODAYCOLOR_HIGHLIGHT) return kHostHighlight;
    if (wParam == TODAYCOLOR_HIGHLIGHTEDTEXT) return RGB(255, 255, 255);
    return RGB(0, 0, 0);
  }
  if (msg == TODAYM_DRAWWATERMARK) {
    auto* info = reinterpret_cast<TODAYDRAWWATERMARKINFO*>(lParam);
    HBRUSH brush = CreateSolidBrush(RGB(0xF4, 0xF8, 0xFF));
    FillRect(info->hdc, &info->rc, brush);
    DeleteObject(brush);
    return 1;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Records what the views ask of the item.
struct Actions : ITodayItemActions {
  int shows = 0, options = 0, menus = 0;
  bool held = false;  // the stylus or the action key stays down
  std::u16string channel, article;
  void RequestShow() override { ++shows; }
  void RequestShowArticle(const std::u16string& c, const std::u16string& a) override {
    channel = c;
    article = a;
  }
  void StartOptions() override { ++options; }
  bool IsHeld(HWND, POINT) override { return held; }
  void ShowContextMenu(HWND, POINT) override { ++menus; }
};

class TodayViewsTest : public TodayFixture {
 protected:
  void SetUp() override {
    TodayFixture::SetUp();
    SetClock(&clock_);
  }
  void TearDown() override {
    view_.reset();
    TodayFixture::TearDown();
    if (item_) DestroyWindow(item_);
    if (host_) DestroyWindow(host_);
    SetClock(nullptr);
    SetTodayDpiForTesting(0, 0);
    ResetScreenForTesting();
  }

  void Screen(int width, int height, int dpi) {
    SetScreenForTesting(width, height, dpi);
    SetTodayDpiForTesting(dpi, dpi);
    width_ = width;
  }

  void Option(const char16_t* name, DWORD value) {
    const std::u16string path = GetTodayRegistryKey();
    CVORegistry key(GetSettingsRootKey(), path.c_str(), true, true, KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(name, value));
    clock_.Advance(1100);
    CTodayViewOptions::GetInstance()->Reload();
  }

  // The host window and the item window inside it, then the view.
  template <class View>
  void MakeView() {
    static bool registered = false;
    if (!registered) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = HostProc;
      wc.lpszClassName = u"TodayTestHost";
      RegisterClassW(&wc);
      wc.lpfnWndProc = DefWindowProcW;
      wc.lpszClassName = u"TodayTestItem";
      RegisterClassW(&wc);
      registered = true;
    }
    host_ = CreateWindowExW(0, u"TodayTestHost", u"", WS_VISIBLE, 0, 0, width_, 400, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host_, nullptr);
    item_ = CreateWindowExW(0, u"TodayTestItem", u"", WS_CHILD | WS_VISIBLE, 0, 0, width_, 10, host_, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(item_, nullptr);
    view_ = std::make_unique<View>(item_, data_.get(), &actions_);
    height_ = view_->GetHeight();
    MoveWindow(item_, 0, 0, width_, height_, FALSE);
    view_->OnSize();
  }

  // Paints the view into a 24-bit picture; kept as a PNG when named.
  PixelImage Paint(const std::string& name = "") {
    HBITMAP bitmap = gditest::MakeDib(width_, height_, 24);
    {
      gditest::MemDc dc(bitmap, false);
      SetBkMode(dc.dc(), TRANSPARENT);
      RECT rect{0, 0, width_, height_};
      view_->Paint(dc.dc(), rect);
    }
    if (!name.empty()) {
      std::filesystem::create_directories(ORV_TODAY_SHOTS);
      SaveBitmapPng(bitmap, std::string(ORV_TODAY_SHOTS) + "/" + name + ".png");
    }
    PixelImage image = ReadBitmapPixels(bitmap);
    DeleteObject(bitmap);
    return image;
  }

  static int Count(const PixelImage& image, DWORD rgb, int x0 = 0, int x1 = -1) {
    if (x1 < 0) x1 = image.width;
    int n = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = x0; x < x1; ++x) n += (image.pixels[static_cast<std::size_t>(y) * image.width + x] & 0xFFFFFF) == rgb;
    return n;
  }

  void Articles(int count) {
    std::vector<ArticleSpec> specs;
    for (int i = 0; i < count; ++i) specs.push_back({u"Headline number " + U(std::to_string(count - i))});
    WriteChannel(u"News", specs);
    StartItem();
    ASSERT_TRUE(orvtest::Eventually([&] { return static_cast<int>(Titles().size()) == count; }, 20000));
  }

  // 25 articles in a list of 10 rows, painted once: the bar shows.
  CViewList* MakeLongList() {
    Screen(240, 320, 96);
    Option(u"ViewStyle", 1);
    Option(u"ViewList.RowsCount", 10);
    Articles(25);
    MakeView<CViewList>();
    Paint();
    return static_cast<CViewList*>(view_.get());
  }

  ManualClock clock_{129068208000000000ull};  // noon: the articles are of today
  Actions actions_;
  HWND host_ = nullptr;
  HWND item_ = nullptr;
  std::unique_ptr<CViewBase> view_;
  int width_ = 240;
  int height_ = 0;
};

TEST_F(TodayViewsTest, ListShowsScrollBarOnlyWhenRowsOverflow) {
  Screen(240, 320, 96);
  Option(u"ViewStyle", 1);
  Option(u"ViewList.RowsCount", 10);
  Articles(3);
  MakeView<CViewList>();
  auto* list = static_cast<CViewList*>(view_.get());
  PixelImage image = Paint("list-3-rows");
  EXPECT_FALSE(list->GetScrollBar().IsShown());
  // 0xCE8231 as COLORREF is red 0x31, green 0x82, blue 0xCE.
  EXPECT_EQ(Count(image, 0x3182CE, width_ - CScrollBar::Width(), width_), 0);
}

TEST_F(TodayViewsTest, ListPagesAndStopsAtTheLastRow) {
  CViewList* list = MakeLongList();
  CScrollBar& bar = list->GetScrollBar();
  ASSERT_TRUE(bar.IsShown());
  view_->OnReceivedSelection(VK_DOWN);
  EXPECT_EQ(bar.GetSelected(), 0);
  EXPECT_EQ(view_->OnUserNavigation(VK_RIGHT), 1);
  EXPECT_EQ(bar.GetSelected(), 9);  // a page is 9 rows
  EXPECT_EQ(view_->OnUserNavigation(VK_RIGHT), 1);
  EXPECT_EQ(bar.GetSelected(), 18);
  EXPECT_EQ(bar.GetFirst(), 9);
  PixelImage image = Paint("list-25-rows-selected");
  // The bar in theme colour 6 at the right; the selected row in the host's highlight.
  EXPECT_GT(Count(image, 0x3182CE, width_ - CScrollBar::Width(), width_), 20);
  EXPECT_GT(Count(image, 0x316AC5, 0, width_ / 2), 0);
  // To the last row; one more step down is the host's.
  for (int i = 0; i < 10; ++i) view_->OnUserNavigation(VK_DOWN);
  EXPECT_EQ(bar.GetSelected(), 24);
  EXPECT_EQ(view_->OnUserNavigation(VK_DOWN), 0);
  EXPECT_EQ(bar.GetSelected(), 24);
  view_->OnAction();
  EXPECT_EQ(actions_.channel, u"News");
  EXPECT_EQ(actions_.article, IdOf(u"News", 0));  // the oldest is the last row
}

TEST_F(TodayViewsTest, PressOnTheScrollBarOpensNoArticleAfterATappedRow) {
  CViewList* list = MakeLongList();
  CScrollBar& bar = list->GetScrollBar();
  ASSERT_TRUE(bar.IsShown());
  const int row = list->RowHeight();
  const int barX = width_ - CScrollBar::Width() / 2;
  // A row is tapped (it opens its article), then an arrow of the bar level
  // with it: at the ends of the list the arrow cannot move it, so the row
  // under the press is still the tapped one. The arrow only scrolls.
  struct Case {
    int first;     // the first visible row before
    int rowShown;  // the row tapped, counted from the top of the list
    bool down;     // the down arrow, else the up arrow
    int firstAfter;
  };
  const Case cases[] = {{0, 0, false, 0}, {15, 9, true, 15}, {0, 9, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first * 100 + c.rowShown);
    bar.SetFirst(c.first);
    Paint();
    const POINT tap{width_ / 3, c.rowShown * row + row / 2};
    view_->OnButtonDown(tap);
    view_->OnButtonUp(tap);
    ASSERT_EQ(actions_.article, IdOf(u"News", 24 - (c.first + c.rowShown)));
    actions_.article.clear();
    const CScrollBar::Geometry g = bar.Measure();
    const POINT arrow{barX, c.down ? (g.down.top + g.down.bottom) / 2 : (g.up.top + g.up.bottom) / 2};
    view_->OnButtonDown(arrow);
    view_->OnButtonUp(arrow);
    EXPECT_TRUE(actions_.article.empty());
    EXPECT_EQ(bar.GetFirst(), c.firstAfter);
  }
}

TEST_F(TodayViewsTest, HeldActionOpensTheMenuInBothViews) {
  Screen(240, 320, 96);
  Articles(3);
  for (int style : {0, 1}) {
    SCOPED_TRACE(style);
    Option(u"ViewStyle", static_cast<DWORD>(style));
    if (style == 0) MakeView<CViewSimple>();
    else MakeView<CViewList>();
    Paint();
    view_->OnReceivedSelection(VK_DOWN);
    actions_ = Actions{};
    actions_.held = true;
    view_->OnAction();
    EXPECT_EQ(actions_.menus, 1);
    EXPECT_TRUE(actions_.article.empty());
    // A short press opens the article.
    actions_.held = false;
    view_->OnAction();
    EXPECT_EQ(actions_.menus, 1);
    EXPECT_FALSE(actions_.article.empty());
    view_.reset();
    DestroyWindow(item_);
    DestroyWindow(host_);
    item_ = host_ = nullptr;
  }
}

// A thumbnail made after the article was painted (by the item's preparation
// job, on another thread) repaints the simple view, which then draws it.
TEST_F(TodayViewsTest, SimpleViewRepaintsWhenAThumbnailIsMade) {
  Screen(240, 320, 96);
  Option(u"ViewStyle", 0);
  Articles(1);
  MakeView<CViewSimple>();
  Paint();
  ValidateRect(item_, nullptr);
  ASSERT_FALSE(GetUpdateRect(item_, nullptr, FALSE));
  CreateDirectoryW(u"\\Content\\Images", nullptr);
  HBITMAP picture = gditest::MakeDib(20, 20, 24);
  ASSERT_TRUE(CThumbnailsManager::GetInstance()->Add(u"\\Content\\Images\\a.jpg", 20, picture));
  EXPECT_TRUE(GetUpdateRect(item_, nullptr, FALSE));
  if (picture) DeleteObject(picture);
  // Gone with its view: a later thumbnail reaches no listener.
  view_.reset();
  ValidateRect(item_, nullptr);
  HBITMAP another = gditest::MakeDib(20, 20, 24);
  ASSERT_TRUE(CThumbnailsManager::GetInstance()->Add(u"\\Content\\Images\\b.jpg", 20, another));
  EXPECT_FALSE(GetUpdateRect(item_, nullptr, FALSE));
  if (another) DeleteObject(another);
}

// The view's timer looks again at the options once a second: a font or a
// switch changed in the options program shows without waiting for the host
// to ask for a paint; nothing changed, nothing is drawn again.
TEST_F(TodayViewsTest, ATimerTickShowsOptionsChangedMeanwhile) {
  // The single-article view without automatic scrolling: its second timer
  // draws nothing of its own.
  Screen(240, 320, 96);
  Option(u"ViewStyle", 0);
  Option(u"ViewSimple.AutoScrollSpeed", 0);
  Articles(2);
  MakeView<CViewSimple>();
  struct Case {
    const char16_t* option;  // null: nothing changes
    DWORD value;
  } cases[] = {{nullptr, 0}, {u"Font.Height", 16}, {u"ViewSimple.Show.ArticleTime", 0}, {nullptr, 0},
               {u"Font.Name", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option ? plat::Utf16ToUtf8(c.option) : "nothing");
    Paint();
    ValidateRect(item_, nullptr);
    if (c.option && c.option == std::u16string(u"Font.Name")) {
      CVORegistry key(GetSettingsRootKey(), GetTodayRegistryKey().c_str(), true, true, KEY_ALL_ACCESS);
      ASSERT_TRUE(key.SetString(u"Font.Name", u"DejaVu Serif"));  // as the options program writes it
      clock_.Advance(1100);
    } else if (c.option) {
      Option(c.option, c.value);
    } else {
      clock_.Advance(1100);
    }
    view_->OnTimer(kTimerAdvance);
    EXPECT_EQ(GetUpdateRect(item_, nullptr, FALSE) != FALSE, c.option != nullptr);
  }
}

TEST_F(TodayViewsTest, SimpleViewStepsAndAdvancesBySpeed) {
  Screen(240, 320, 96);
  Option(u"ViewStyle", 0);
  Articles(4);
  MakeView<CViewSimple>();
  auto* simple = static_cast<CViewSimple*>(view_.get());
  Paint();
  EXPECT_EQ(simple->GetCurrentIndex(), 0);
  EXPECT_EQ(view_->OnUserNavigation(VK_LEFT), 1);
  EXPECT_EQ(simple->GetCurrentIndex(), 3);  // left of the first is the last

  struct Case {
    DWORD speed;
    int ticks;
    int steps;
  };
  for (const Case& c : {Case{0, 12, 0}, Case{3, 5, 5}, Case{1, 8, 2}}) {
    SCOPED_TRACE(c.speed);
    Option(u"ViewSimple.AutoScrollSpeed", c.speed);
    view_->OnUserNavigation(VK_RIGHT);  // the next advance waits 10 s
    const int start = simple->GetCurrentIndex();
    for (int i = 0; i < 9; ++i) view_->OnTimer(kTimerAdvance);
    EXPECT_EQ(simple->GetCurrentIndex(), start);
    view_->OnTimer(kTimerAdvance);  // the tenth second
    int moved = c.speed == 0 ? 0 : 1;
    for (int i = 0; i < c.ticks; ++i) view_->OnTimer(kTimerAdvance);
    moved += c.speed == 0 ? 0 : c.ticks / (c.speed == 1 ? 4 : c.speed == 2 ? 2 : 1);
    EXPECT_EQ((simple->GetCurrentIndex() - start + 4) % 4, (moved) % 4);
  }
  view_->OnAction();
  EXPECT_EQ(actions_.channel, u"News");
  EXPECT_FALSE(actions_.article.empty());
}

TEST_F(TodayViewsTest, HeightAnswerTellsTheHostOnlyAChange) {
  Screen(240, 320, 96);
  Option(u"ViewStyle", 0);
  Articles(1);
  MakeView<CViewSimple>();
  TODAYLISTITEM record{};
  EXPECT_EQ(view_->OnQueryRefreshCache(&record), 1);
  EXPECT_EQ(static_cast<int>(record.cyp), view_->GetHeight());
  EXPECT_EQ(view_->OnQueryRefreshCache(&record), 0);
  Option(u"ViewSimple.LinesCount", 4);
  EXPECT_EQ(view_->OnQueryRefreshCache(&record), 1);
  EXPECT_EQ(static_cast<int>(record.cyp), 4 * (view_->LineHeight() + 1));
}

// Pictures of both views at both screens, to look at; the article's title
// and the arrows must be there.
TEST_F(TodayViewsTest, BothViewsAtBothScreens) {
  Articles(12);
  for (const auto& [w, h, dpi] : {std::tuple{240, 320, 96}, std::tuple{480, 640, 192}}) {
    Screen(w, h, dpi);
    for (DWORD style : {0u, 1u}) {
      Option(u"ViewStyle", style);
      Option(u"ViewSimple.LinesCount", 3);
      Option(u"ViewList.RowsCount", 6);
      if (style == 0) MakeView<CViewSimple>();
      else MakeView<CViewList>();
      const std::string name = std::string(style == 0 ? "simple" : "list") + "-" + std::to_string(w) + "x" + std::to_string(h);
      PixelImage image = Paint(name);
      // Black text on the light watermark, and the theme colour of the skins.
      EXPECT_GT(Count(image, 0x000000), 30) << name;
      EXPECT_GT(Count(image, 0x3182CE), 10) << name;
      view_.reset();
      DestroyWindow(item_);
      DestroyWindow(host_);
      item_ = host_ = nullptr;
    }
  }
}

// ---- Skins and the scroll bar's geometry -----------------------------------------

TEST(TodaySkinTest, WhiteTakesTheBackgroundToneRedTheThemeOthersStayTransparent) {
  CSTScreenBuffer skin;
  ASSERT_TRUE(skin.Create(4, 1));
  const COLORREF cells[4] = {RGB(255, 255, 255), RGB(255, 0, 0), RGB(255, 0, 255), RGB(10, 200, 10)};
  for (int x = 0; x < 4; ++x) {
    std::uint8_t* p = skin.Row(0) + x * 3;
    p[0] = GetBValue(cells[x]);
    p[1] = GetGValue(cells[x]);
    p[2] = GetRValue(cells[x]);
  }
  for (std::uint8_t background : {0, 255}) {
    CSTScreenBuffer target;
    ASSERT_TRUE(target.Create(4, 1));
    std::memset(target.Row(0), background, 12);
    DrawSkinCell(target, RECT{0, 0, 4, 1}, skin, POINT{0, 0}, nullptr);
    const std::uint8_t* p = target.Row(0);
    const std::uint8_t tone = background == 0 ? 63 : 255;
    EXPECT_EQ(p[0], tone);
    EXPECT_EQ(p[2], tone);
    EXPECT_EQ(p[3 + 0], 0xCE);  // theme colour 6, blue byte
    EXPECT_EQ(p[3 + 2], 0x31);  // red byte
    for (int x = 2; x < 4; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(p[x * 3 + c], background);
  }
}

TEST(TodaySkinTest, CellsReachingPastTheSkinReadNothingOutsideIt) {
  // At DPIs the skins were not drawn for, a scaled cell can be larger than
  // the skin: what lies outside it stays the background.
  CSTScreenBuffer skin, target;
  ASSERT_TRUE(skin.Create(2, 2));
  std::memset(skin.Row(0), 255, 6);
  std::memset(skin.Row(1), 255, 6);
  ASSERT_TRUE(target.Create(6, 6));
  for (int y = 0; y < 6; ++y) std::memset(target.Row(y), 0, 18);
  DrawSkinCell(target, RECT{0, 0, 6, 6}, skin, POINT{1, 1}, nullptr);
  EXPECT_EQ(target.Row(0)[0], 63);  // the one skin pixel in reach
  EXPECT_EQ(target.Row(1)[3], 0);
  EXPECT_EQ(target.Row(5)[15], 0);
}

TEST(TodaySkinTest, ShortListClampsTheTrack) {
  SetTodayDpiForTesting(120, 120);  // neither skin's own DPI
  CScrollBar bar(nullptr);
  bar.SetListRect(RECT{0, 0, 100, 12});
  bar.SetCounts(20, 5, 0);
  const CScrollBar::Geometry g = bar.Measure();
  EXPECT_EQ(g.trackLength, 0);
  EXPECT_EQ(g.thumbLength, 0);
  bar.SetFirst(15);
  EXPECT_GE(bar.Measure().thumbTop, 0);
  SetTodayDpiForTesting(0, 0);
}

// While the main program holds a channel's files (its named mutex), the data
// thread waits for them holding the channel set's lock: the views paint and
// navigate from the thread's snapshot and never wait with it. The holder lets
// go only after the view has answered (or, when the view waits, at a bound
// that fails the test).
TEST_F(TodayViewsTest, PaintAndNavigationDoNotWaitForABusyChannel) {
  SetChannelMutexTimeout(120000);  // the data thread waits as long as the holder holds
  struct Reset {
    ~Reset() { SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs); }
  } reset;
  Screen(240, 320, 96);
  Option(u"ViewStyle", 1);
  WriteChannel(u"Alpha", {{u"Alpha one"}, {u"Alpha two"}});
  WriteChannel(u"Beta", {{u"Beta one"}});
  StartItem();
  ASSERT_TRUE(orvtest::Eventually([&] { return Titles().size() == 3; }, 20000));
  MakeView<CViewList>();
  // The writer's own notices (its channels added and saved) read and done
  // with: the thread idle again after the record was emptied.
  auto noticesRead = [&] {
    clock_.Advance(1100);  // the notices are read at most once a second
    return OpenSettingsKey().GetString(u"D20926EB-4EA7-47dc-B17F-987CCCBA69CB", u"") ==
           u"DAADA2BC-0064-4289-8BC8-A825F8374003";
  };
  ASSERT_TRUE(orvtest::Eventually(noticesRead, 20000));
  const int idles = data_->GetIdleCount();
  ASSERT_TRUE(orvtest::Eventually(
      [&] {
        clock_.Advance(1100);
        return data_->GetIdleCount() > idles && data_->GetStatus() == kTodayReady && Titles().size() == 3;
      },
      20000));
  Paint();

  // Another thread holds Alpha's files until the view has answered.
  HANDLE answered = CreateLocalEvent(true, false);
  HANDLE held = CreateLocalEvent(true, false);
  std::atomic<bool> heldToTheBound{false};
  std::thread holder([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, (std::u16string(kChannelMutexPrefix) + u"Alpha").c_str());
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(held);
    heldToTheBound = WaitForSingleObject(answered, 30000) != WAIT_OBJECT_0;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  ASSERT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);

  // The main program's notice names Alpha: the data thread reloads it under
  // the set's lock and waits there for the files. A second thread that asks
  // for the lock shows it is held (the notice read first, so this is that wait).
  CNotifyToday::GetInstance()->NotifyItemChanged(u"Alpha");
  ASSERT_TRUE(orvtest::Eventually(noticesRead, 20000));
  std::atomic<bool> probing{true};
  std::thread probe([&] {
    while (probing) {
      CSyncLock lock(reader_.get(), u"probe");
    }
  });
  ASSERT_TRUE(orvtest::Eventually([&] { return reader_->GetWaitingCount() >= 1; }, 20000));

  PixelImage image = Paint();
  const int moved = view_->OnUserNavigation(VK_DOWN);
  SetEvent(answered);
  holder.join();
  probing = false;
  probe.join();
  EXPECT_FALSE(heldToTheBound.load()) << "the view waited for the channel's files";
  EXPECT_GT(Count(image, 0x000000), 0);  // the rows' text
  EXPECT_EQ(moved, 1);
  CloseHandle(answered);
  CloseHandle(held);
}

}  // namespace
