// The list views in the shipped layouts "news_channels" and "news_articles",
// fed through the main window's progress-form data sources and painted by
// the layout view: rows in the layout's font and colours, and a change of
// the data reaching the screen through the view's repaint request. The
// painted screens are kept as pictures at 96 and 192 dpi.
#include <filesystem>

#include "layout/DataSources.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutServices.h"
#include "layout/LayoutView.h"
#include "layout/ScreenScale.h"
#include "platform/base/Device.h"
#include "tests/app/views/ListViewFixture.h"
#include "tests/support/Pump.h"

namespace apptest {
namespace {

class ListLayoutTest : public ListViewTest {
 protected:
  void SetUp() override {
    ListViewTest::SetUp();
    const std::string folder = device_.FsRoot() + "/Layouts";
    std::filesystem::create_directories(folder);
    for (const auto& entry : std::filesystem::directory_iterator(ORV_APP_PROGRAM_DIR)) {
      if (entry.path().extension() == ".dat")
        std::filesystem::copy_file(entry.path(), folder + "/" + entry.path().filename().string());
    }
    SetLayoutFolder(u"\\Layouts\\");
  }
  void TearDown() override {
    if (view_ && view_->GetWindow()) plat::DestroyWindow(view_->GetWindow());
    view_.reset();
    orvtest::PumpMessages();
    RemoveLayoutServices();
    SetLayoutFolder(u"");
    ListViewTest::TearDown();
  }
  void Start(int width, int height, int dpi) {
    UseScreen(width, height, dpi);
    InstallLayoutServices();
    width_ = width;
    height_ = height;
    scale_ = (dpi + 48) / 96;
    view_ = std::make_unique<LayoutView>();
    ASSERT_TRUE(view_->Create(nullptr, plat::RECT{0, 0, width, height}, plat::WS_POPUP | plat::WS_VISIBLE));
  }
  // The screen as the layout view paints it now.
  std::unique_ptr<CBitmapBuffer> Screen() {
    orvtest::PumpMessages();
    auto bitmap = MakeBitmap(width_, height_, 0x000000);
    EXPECT_TRUE(view_->GetManager()->Paint(bitmap->GetDC(), plat::POINT{0, 0}, nullptr));
    return bitmap;
  }
  // Bright pixels (the layout's white text) in a band of the screen.
  int WhiteIn(const CBitmapBuffer& bitmap, const plat::RECT& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += Pixel(bitmap, x, y) == 0xFFFF;
    return n;
  }

  void ChannelsAndArticles(const std::string& suffix) {
    AddChannel(u"Alpha news", u"@RSS", {u"A first article whose title is long enough to need the second line",
                                        u"Second", u""});
    AddChannel(u"Beta scripts", u"@Ridudo", {});
    AddChannel(u"Gamma", u"@RSS", {u"g"});
    ChannelsView channels;
    ArticlesView articles;
    channels.SetListWindow(view_->GetWindow());
    articles.SetListWindow(view_->GetWindow());
    auto channelsSource = MakeDataSource<CProgressFormDataSource>(channels.GetListSource());
    auto articlesSource = MakeDataSource<CProgressFormDataSource>(articles.GetListSource());

    view_->ShowLayout(u"news_channels", static_cast<IDataSource*>(channelsSource.Get()), 0);
    ASSERT_TRUE(view_->GetManager()->GetContent());
    // The layout's list: 40-unit rows from the top while nothing updates (the
    // 44-unit progress form then takes no room).
    const ListItemStyle& style = channels.GetItemStyle();
    EXPECT_EQ(style.rowHeight, 40 * scale_);
    EXPECT_EQ(style.textColours[0], 0xFFFFFFu);
    const int top = 0;
    const int row = style.rowHeight + 2 * scale_;
    auto shot = Screen();
    ShootBitmap(*shot, "news_channels_" + suffix);
    const int countLeft = width_ - (GetScreenDpiX() + 16) * 3 / 96 - style.margins.right - style.unreadWidth;
    auto countOf = [&](const CBitmapBuffer& b, int i) {
      return WhiteIn(b, plat::RECT{countLeft, top + i * row, width_ - style.margins.right, top + (i + 1) * row});
    };
    EXPECT_GT(WhiteIn(*shot, plat::RECT{style.margins.left, top, countLeft, top + row}), 20);  // a title
    EXPECT_GT(countOf(*shot, 0), 10);                                                        // "[3]"
    EXPECT_EQ(countOf(*shot, 1), 0);                                                         // no unread
    EXPECT_EQ(WhiteIn(*shot, plat::RECT{0, top + 3 * row + 4, width_, top + 4 * row}), 0);  // three rows only

    // While channels update the form shows its 44 units at the top and the
    // list moves down below it; afterwards it moves back up.
    const int below = 44 * scale_;
    for (const bool updating : {true, false}) {
      SCOPED_TRACE(updating ? "updating" : "updated");
      channelsSource->SetProgressFormShown(updating);
      plat::SendMessageW(view_->GetWindow(), WM_LAYOUT_REPAINT_ALL, 0, 0);
      auto moved = Screen();
      if (updating) ShootBitmap(*moved, "news_channels_updating_" + suffix);
      const int first = updating ? below : top;
      EXPECT_GT(WhiteIn(*moved, plat::RECT{countLeft, first, width_ - style.margins.right, first + row}), 10);  // "[3]"
      EXPECT_EQ(WhiteIn(*moved, plat::RECT{0, first + 3 * row + 4, width_, first + 4 * row}), 0);
    }

    // Alpha read and a fourth channel: the list follows on its next paint.
    {
      CSyncLock lock(set_, u"test");
      set_->FindByName(u"Alpha news")->MarkAllRead();
    }
    AddChannel(u"Zeta", u"@RSS", {u"z"});
    auto after = Screen();
    ShootBitmap(*after, "news_channels_changed_" + suffix);
    EXPECT_EQ(countOf(*after, 0), 0);
    EXPECT_GT(WhiteIn(*after, plat::RECT{style.margins.left, top + 3 * row, countLeft, top + 4 * row}), 20);

    channels.OpenChannel(0);
    view_->ShowLayout(u"news_articles", static_cast<IDataSource*>(articlesSource.Get()), 0);
    auto list = Screen();
    ShootBitmap(*list, "news_articles_" + suffix);
    EXPECT_EQ(articles.GetItemStyle().rowHeight, 48 * scale_);
    const int articleRow = articles.GetItemStyle().rowHeight + 2 * scale_;
    // The long title breaks onto the row's second line.
    const plat::RECT& m = articles.GetItemStyle().margins;
    const int middle = top + (m.top + articleRow - 2 * scale_ - m.bottom) / 2;
    EXPECT_GT(WhiteIn(*list, plat::RECT{m.left, top, width_ - m.right, middle}), 20);
    EXPECT_GT(WhiteIn(*list, plat::RECT{m.left, middle, width_ - m.right, top + articleRow}), 20);

    // An empty channel shows the layout's empty text instead of rows.
    GetDBViewState()->SetCurrentArticleID(u"");
    GetDBViewState()->OpenChannel(u"Beta scripts");
    articles.RefreshAll();
    auto empty = Screen();
    ShootBitmap(*empty, "news_articles_empty_" + suffix);
    EXPECT_GT(WhiteIn(*empty, plat::RECT{0, 100 * scale_, width_, 160 * scale_}), 20);

    // The screen lets go of the sources and lists before the views go.
    plat::DestroyWindow(view_->GetWindow());
    view_.reset();
    orvtest::PumpMessages();
  }

  std::unique_ptr<LayoutView> view_;
  int width_ = 0, height_ = 0, scale_ = 1;
};

// The lists span the window at every screen shape: on the shapes the layouts
// name (240x320, 320x240 in 96-dpi units) and on the others, which take the
// portrait layout. A channel's unread count sits at the window's right edge,
// the row separator runs on across the width, and the selected row's
// highlight covers the row from edge to edge.
struct ScreenShape {
  int width, height, dpi;
};

class ListSpanTest : public ListLayoutTest, public ::testing::WithParamInterface<ScreenShape> {};

TEST_P(ListSpanTest, ListsSpanTheWindow) {
  const ScreenShape shape = GetParam();
  const std::string name =
      std::to_string(shape.width) + "x" + std::to_string(shape.height) + "_" + std::to_string(shape.dpi);
  ASSERT_NO_FATAL_FAILURE(Start(shape.width, shape.height, shape.dpi));
  AddChannel(u"Alpha news", u"@RSS", {u"A first article whose title is long enough to need the second line",
                                      u"Second", u""});
  AddChannel(u"Beta scripts", u"@Ridudo", {});
  AddChannel(u"Gamma", u"@RSS", {u"g"});
  ChannelsView channels;
  ArticlesView articles;
  channels.SetListWindow(view_->GetWindow());
  articles.SetListWindow(view_->GetWindow());
  auto channelsSource = MakeDataSource<CProgressFormDataSource>(channels.GetListSource());
  auto articlesSource = MakeDataSource<CProgressFormDataSource>(articles.GetListSource());
  view_->ShowLayout(u"news_channels", static_cast<IDataSource*>(channelsSource.Get()), 0);
  ASSERT_TRUE(view_->GetManager()->GetContent());
  const ListItemStyle& style = channels.GetItemStyle();
  const int row = style.rowHeight + 2 * scale_;
  auto shot = Screen();
  ShootBitmap(*shot, "news_channels_span_" + name);
  // "[3]" of the first channel at the right edge of the window.
  const int countLeft = width_ - (GetScreenDpiX() + 16) * 3 / 96 - style.margins.right - style.unreadWidth;
  EXPECT_GT(WhiteIn(*shot, plat::RECT{countLeft, 0, width_ - style.margins.right, row}), 10);
  // The separator under the second row: a dark line in the left half of the
  // window, darker than the row's own background above it.
  const int d = scale_;
  const int x = width_ / 2 - 2;
  const int line = 2 * row - 2 * d;
  EXPECT_LT(Pixel(*shot, x, line) >> 11, Pixel(*shot, x, line - 3 * d) >> 11) << "separator at x " << x;
  // The highlight of the selected first row reaches the window's right edge:
  // brighter there than the second row at the same place.
  const int right = width_ - 2;
  EXPECT_GT(Pixel(*shot, right, row / 2) >> 11, Pixel(*shot, right, row + row / 2) >> 11);

  // The article list of the first channel: the separator under its first
  // row runs on across the window too.
  channels.OpenChannel(0);
  view_->ShowLayout(u"news_articles", static_cast<IDataSource*>(articlesSource.Get()), 0);
  auto list = Screen();
  ShootBitmap(*list, "news_articles_span_" + name);
  const int articleLine = articles.GetItemStyle().rowHeight + 2 * scale_ - 2 * d;
  EXPECT_LT(Pixel(*list, x, articleLine) >> 11, Pixel(*list, x, articleLine - 3 * d) >> 11) << "separator at x " << x;

  plat::DestroyWindow(view_->GetWindow());
  view_.reset();
  orvtest::PumpMessages();
}

INSTANTIATE_TEST_SUITE_P(Shapes, ListSpanTest,
                         ::testing::Values(ScreenShape{240, 320, 96}, ScreenShape{320, 240, 96},
                                           ScreenShape{640, 480, 96}, ScreenShape{480, 640, 96},
                                           ScreenShape{640, 480, 192}, ScreenShape{800, 480, 96}),
                         [](const ::testing::TestParamInfo<ScreenShape>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                  "at" + std::to_string(info.param.dpi);
                         });

TEST_F(ListLayoutTest, ShippedListsAt96Dpi) {
  Start(240, 320, 96);
  ChannelsAndArticles("96");
}

TEST_F(ListLayoutTest, ShippedListsAt192Dpi) {
  Start(480, 640, 192);
  ChannelsAndArticles("192");
}

}  // namespace
}  // namespace apptest
