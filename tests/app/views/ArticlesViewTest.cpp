// The article list: the current article per channel, marks and deletes of
// the current article and of a held row, the pop-up menu by state, the empty
// text and the drawing of titles.
#include <algorithm>

#include "platform/base/Time.h"
#include "tests/app/views/ListViewFixture.h"

namespace apptest {
namespace {

// Reports queue states chosen by the test.
class QueuedArticles : public ArticlesView {
 public:
  using ArticlesView::ArticlesView;
  int QueueStatus(IArticle* article) override {
    return std::find(busy.begin(), busy.end(), article) == busy.end() ? UQS_NOT_QUEUED : UQS_WAITING;
  }
  std::vector<IArticle*> busy;
};

class ArticlesViewTest : public ListViewTest {
 protected:
  void SetUp() override {
    ListViewTest::SetUp();
    AddChannel(u"Alpha", u"@RSS", {u"a0", u"a1", u"a2", u"a3"});
    AddChannel(u"Beta", u"", {u"b0", u"b1", u"b2"});
    AddChannel(u"Empty", u"@RSS", {});
    view_ = std::make_unique<QueuedArticles>();
    view_->SetUi(ui_.Make());
    OpenChannel(u"Alpha");
  }
  void TearDown() override {
    view_.reset();
    ListViewTest::TearDown();
  }
  IArticle* At(int index) {
    CSyncLock lock(set_, u"test");
    return GetArticleFilter()->GetAt(index);
  }
  std::vector<std::u16string> Titles() {
    view_->RefreshRows();
    std::vector<std::u16string> titles;
    ArticleInfo row;
    for (int i = 0; view_->GetRow(i, row); ++i) titles.push_back(row.title);
    return titles;
  }
  bool IsRead(int index) {
    CSyncLock lock(set_, u"test");
    IArticle* article = GetArticleFilter()->GetAt(index);
    return article->GetChannel()->IsArticleRead(article);
  }

  ScriptedUi ui_;
  std::unique_ptr<QueuedArticles> view_;
};

TEST_F(ArticlesViewTest, EachChannelComesBackAtItsArticle) {
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"a0", u"a1", u"a2", u"a3"}));
  EXPECT_EQ(view_->FindCurrentIndex(), 0);
  view_->SelectRow(2);
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), IdOf(u"Alpha", 2));

  OpenChannel(u"Beta");
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"b0", u"b1", u"b2"}));
  EXPECT_EQ(view_->FindCurrentIndex(), 0);
  view_->SelectRow(1);

  OpenChannel(u"Alpha");
  EXPECT_EQ(view_->FindCurrentIndex(), 2);
  OpenChannel(u"Beta");
  EXPECT_EQ(view_->FindCurrentIndex(), 1);

  // A remembered article that is gone: the first row.
  OpenChannel(u"Alpha");
  {
    CSyncLock lock(set_, u"test");
    GetArticleFilter()->GetAt(2)->Delete();
  }
  EXPECT_EQ(view_->FindCurrentIndex(), 0);
}

TEST_F(ArticlesViewTest, MarksAndDeletesOfTheCurrentArticle) {
  view_->SelectRow(1);
  view_->SetCurrentRead(true);
  EXPECT_TRUE(IsRead(1));
  EXPECT_FALSE(IsRead(0));
  view_->SetCurrentRead(false);
  EXPECT_FALSE(IsRead(1));

  // Deleting the last row makes the one before it current.
  view_->SelectRow(3);
  view_->DeleteCurrent();
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"a0", u"a1", u"a2"}));
  EXPECT_EQ(view_->GetCurrentIndex(), 2);
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), IdOf(u"Alpha", 2));
  // A middle row: the next one takes its place.
  view_->SelectRow(0);
  view_->DeleteCurrent();
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"a1", u"a2"}));
  EXPECT_EQ(GetDBViewState()->GetCurrentArticleID(), IdOf(u"Alpha", 1));
  view_->DeleteCurrent();
  view_->DeleteCurrent();
  EXPECT_TRUE(Titles().empty());
  EXPECT_EQ(view_->GetCurrentIndex(), -1);
  int index = 0;
  EXPECT_FALSE(view_->GetCurrent(&index, nullptr));
  view_->DeleteCurrent();  // nothing left: nothing happens
  view_->SetCurrentRead(true);
}

TEST_F(ArticlesViewTest, TheRowsPopupActsOnTheRowsArticle) {
  view_->SelectRow(0);
  ui_.choice = 5003;  // Mark as Read, held on row 2
  view_->ShowPopupMenu(2, plat::POINT{0, 0});
  EXPECT_TRUE(IsRead(2));
  EXPECT_FALSE(IsRead(0));
  ui_.choice = 5004;
  view_->ShowPopupMenu(2, plat::POINT{0, 0});
  EXPECT_FALSE(IsRead(2));

  ui_.choice = 5050;  // Delete, held on row 1
  view_->ShowPopupMenu(1, plat::POINT{0, 0});
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"a0", u"a2", u"a3"}));

  // The article gone while the menu is open: nothing happens.
  ui_.whileMenuOpen = [this] {
    CSyncLock lock(set_, u"test");
    GetArticleFilter()->GetAt(1)->Delete();
  };
  view_->ShowPopupMenu(1, plat::POINT{0, 0});
  EXPECT_EQ(Titles(), (std::vector<std::u16string>{u"a0", u"a3"}));
}

TEST_F(ArticlesViewTest, PopupMenuByState) {
  struct Case {
    const char* what;
    const char16_t* channel;
    bool read;
    bool queued;
    std::uint32_t ownState;
    std::vector<MenuItem> items;
  };
  const MenuItem markRead{5003, u"Mark as Read", false};
  const MenuItem markUnread{5004, u"Mark as Unread", false};
  const MenuItem del{5050, u"Delete", false};
  const Case cases[] = {
      {"feed article, complete", u"Alpha", false, false, US_UP_TO_DATE, {markRead, del}},
      {"read", u"Alpha", true, false, US_UP_TO_DATE, {markUnread, del}},
      {"queued", u"Alpha", false, true, US_WAITING, {{5002, u"Cancel Download", false}, markRead, del}},
      {"waiting", u"Alpha", false, false, US_WAITING, {{5001, u"Finish Download", false}, markRead, del}},
      {"failed", u"Alpha", false, false, US_FAILED, {{5001, u"Finish Download", false}, markRead, del}},
      {"channel without a type", u"Beta", true, false, US_UP_TO_DATE,
       {{5006, u"Redownload", false}, markUnread, del}},
  };
  for (const auto& c : cases) {
    OpenChannel(c.channel);
    IArticle* article = At(1);
    {
      CSyncLock lock(set_, u"test");
      article->GetChannel()->SetArticleRead(article, c.read);
      article->SetUpdateState(c.ownState);
    }
    view_->busy.clear();
    if (c.queued) view_->busy.push_back(article);
    ui_.menus.clear();
    view_->ShowPopupMenu(1, plat::POINT{0, 0});
    ASSERT_EQ(ui_.menus.size(), 1u) << c.what;
    EXPECT_EQ(ui_.menus[0], c.items) << c.what;
  }
}

TEST_F(ArticlesViewTest, EmptyTextOnlyForAnEmptyList) {
  EXPECT_EQ(view_->GetEmptyText(), u"");
  EXPECT_EQ(view_->GetListSource()->GetEmptyText(), u"");
  OpenChannel(u"Empty");
  EXPECT_EQ(view_->GetEmptyText(), u"The channel has no articles");
  EXPECT_EQ(view_->GetListSource()->GetRowCount(), 0);
  EXPECT_EQ(view_->FindCurrentIndex(), 0);
  // The list-bound data source shows the text plug-in only while empty.
  auto source = MakeDataSource<CListDataSource>(view_->GetListSource());
  std::uint8_t shown = 0;
  EXPECT_EQ(source->IsPluginShown(u"EmptyList", &shown), plat::S_OK);
  EXPECT_EQ(shown, 1);
  std::u16string text;
  EXPECT_EQ(source->GetStringValue(u"EmptyList", &text), plat::S_OK);
  EXPECT_EQ(text, u"The channel has no articles");
  // And hands the rows to the layout's list.
  IVirtualList* list = nullptr;
  ASSERT_EQ(source->QueryService(IID_IVirtualList, reinterpret_cast<void**>(&list)), plat::S_OK);
  EXPECT_EQ(list, view_->GetVirtualList());
  list->Release();
}

TEST_F(ArticlesViewTest, EmptyTitlesShowNoHeaderBoldWhileUnread) {
  AddChannel(u"Headers", u"@RSS", {u"", u"No header", u"", u"No header"});
  OpenChannel(u"Headers");
  {
    CSyncLock lock(set_, u"test");
    for (int i : {2, 3}) {
      IArticle* article = GetArticleFilter()->GetAt(i);
      article->GetChannel()->SetArticleRead(article, true);
    }
  }
  const ListItemStyle& style = view_->GetItemStyle();
  const int h = style.rowHeight + 2;
  auto bitmap = MakeBitmap(240, 4 * h, 0xFFFFFF);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(view_->DrawRow(i, *bitmap, kRowNormal, plat::RECT{0, i * h, 240, (i + 1) * h}));
  ShootBitmap(*bitmap, "article_no_header_96");
  // The text of a row, as its pixels.
  auto text = [&](int row) {
    std::vector<std::uint16_t> pixels;
    for (int y = row * h; y < (row + 1) * h; ++y)
      for (int x = style.margins.left; x < 240 - style.margins.right; ++x) pixels.push_back(Pixel(*bitmap, x, y));
    return pixels;
  };
  EXPECT_EQ(text(0), text(1));  // empty title unread = "No header" unread
  EXPECT_EQ(text(2), text(3));  // and read
  EXPECT_NE(text(0), text(2));  // bold while unread, normal once read
  plat::RECT area{style.margins.left, 0, 240 - style.margins.right, h};
  EXPECT_GT(CountOther(*bitmap, area, 0xFFFFFF), 30);
}

}  // namespace
}  // namespace apptest
