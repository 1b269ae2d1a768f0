// The channel list: rows rebuilt lazily in two locked phases, the pop-up
// menu of a row by state and its actions, deleting channels, the menu items
// of the channels menu and the drawing of rows.
#include <algorithm>
#include <functional>

#include "database/GlobalOptions.h"
#include "layout/VirtualListPlugin.h"
#include "core/IconCache.h"
#include "database/ThumbnailsManager.h"
#include "platform/imaging/Imaging.h"
#include "tests/support/ImagingTestFiles.h"
#include "platform/base/Time.h"
#include "tests/app/views/ListViewFixture.h"

namespace apptest {
namespace {

// Counts the rows built, can act in the middle of a build, and reports
// queue states chosen by the test.
class CountingChannels : public ChannelsView {
 public:
  using ChannelsView::ChannelsView;
  bool FillRow(int index, ChannelListRow& row) override {
    built.push_back(index);
    if (duringBuild) {
      auto act = std::move(duringBuild);
      duringBuild = nullptr;
      act();
    }
    return ChannelsView::FillRow(index, row);
  }
  int QueueStatus(const std::u16string& name) override {
    const auto found = std::find(busy.begin(), busy.end(), name);
    return found == busy.end() ? UQS_NOT_QUEUED : UQS_UPDATING;
  }
  std::vector<int> built;
  std::function<void()> duringBuild;
  std::vector<std::u16string> busy;
};

class ChannelsViewTest : public ListViewTest {
 protected:
  void SetUp() override {
    ListViewTest::SetUp();
    AddChannel(u"Alpha", u"@RSS", {u"a1", u"a2"});
    AddChannel(u"Beta", u"@Ridudo", {});
    AddChannel(u"Gamma", u"@RSS", {u"g1"});
    view_ = std::make_unique<CountingChannels>();
    view_->SetUi(ui_.Make());
  }
  void TearDown() override {
    view_.reset();
    ListViewTest::TearDown();
  }
  std::vector<std::u16string> RowNames() {
    std::vector<std::u16string> names;
    ChannelListRow row;
    for (int i = 0; view_->GetRow(i, row); ++i) names.push_back(row.info.name);
    return names;
  }

  ScriptedUi ui_;
  std::unique_ptr<CountingChannels> view_;
};

TEST_F(ChannelsViewTest, RowsAreRebuiltOnlyWhenInvalid) {
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_EQ(view_->built, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Gamma"}));
  EXPECT_TRUE(view_->AreRowsCurrent());

  // A second refresh without an invalidation rebuilds nothing.
  view_->built.clear();
  EXPECT_FALSE(view_->RefreshRows());
  EXPECT_TRUE(view_->built.empty());

  // One row invalid: only that row.
  view_->RefreshRow(1);
  EXPECT_FALSE(view_->AreRowsCurrent());
  EXPECT_EQ(view_->GetValidFlags(), (std::vector<std::uint8_t>{1, 0, 1}));
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_EQ(view_->built, (std::vector<int>{1}));

  // An index beyond the flags changes only the rows-current flag.
  view_->built.clear();
  view_->InvalidateRow(7);
  EXPECT_FALSE(view_->AreRowsCurrent());
  EXPECT_EQ(view_->GetValidFlags(), (std::vector<std::uint8_t>{1, 1, 1}));
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_TRUE(view_->built.empty());

  // Every row.
  view_->RefreshAll();
  EXPECT_TRUE(view_->GetValidFlags().empty());
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_EQ(view_->built, (std::vector<int>{0, 1, 2}));
}

TEST_F(ChannelsViewTest, AChangeBetweenTheLockedPhasesIsNotLost) {
  ASSERT_TRUE(view_->RefreshRows());
  view_->RefreshRow(0);
  view_->built.clear();
  // While row 0 is rebuilt (the view's own lock released), Gamma's unread
  // count changes and its row is invalidated, as by another thread.
  view_->duringBuild = [this] {
    CSyncLock lock(set_, u"test");
    set_->FindByName(u"Gamma")->MarkAllRead();
    EXPECT_FALSE(view_->AreRowsCurrent());
  };
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_EQ(view_->built, (std::vector<int>{0}));
  // The rebuild kept its rows but not its flags: Gamma stays invalid.
  EXPECT_FALSE(view_->AreRowsCurrent());
  EXPECT_EQ(view_->GetValidFlags(), (std::vector<std::uint8_t>{0, 1, 0}));
  view_->built.clear();
  EXPECT_TRUE(view_->RefreshRows());
  EXPECT_EQ(view_->built, (std::vector<int>{0, 2}));
  ChannelListRow gamma;
  ASSERT_TRUE(view_->GetRow(2, gamma));
  EXPECT_EQ(gamma.info.unreadCount, 0);
}

TEST_F(ChannelsViewTest, RowsFollowTheFilterWhenItGrowsAndShrinks) {
  ASSERT_TRUE(view_->RefreshRows());
  AddChannel(u"Delta", u"@RSS", {});
  view_->RefreshRows();
  EXPECT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Delta", u"Gamma"}));
  {
    CSyncLock lock(set_, u"test");
    used_.erase(std::find(used_.begin(), used_.end(), set_->FindByName(u"Alpha")));
    set_->FindByName(u"Alpha")->Release(this, false);
    set_->Remove(u"Alpha");
    used_.erase(std::find(used_.begin(), used_.end(), set_->FindByName(u"Beta")));
    set_->FindByName(u"Beta")->Release(this, false);
    set_->Remove(u"Beta");
  }
  view_->RefreshRows();
  // No rows of channels that are gone stay behind the filter's count.
  EXPECT_EQ(RowNames(), (std::vector<std::u16string>{u"Delta", u"Gamma"}));
  EXPECT_EQ(view_->GetBuiltRowCount(), 2);
}

TEST_F(ChannelsViewTest, PopupMenuByState) {
  constexpr plat::UINT kSep = 0;
  struct Case {
    const char* what;
    const char16_t* channel;
    bool developer;
    bool busy;
    std::vector<MenuItem> items;
  };
  // The head by state, then the items every row has.
  auto menu = [&](std::vector<MenuItem> head, bool greyRead) {
    std::vector<MenuItem> items = head;
    items.push_back({kSep, u"", false});
    items.push_back({5003, u"Mark as Read", greyRead});
    items.push_back({5004, u"Clear", false});
    items.push_back({5006, u"Delete", false});
    items.push_back({kSep, u"", false});
    items.push_back({5007, u"Properties...", false});
    return items;
  };
  const Case cases[] = {
      {"unread, idle", u"Alpha", false, false, menu({{5001, u"Update", false}}, false)},
      {"no unread: Mark as Read greyed", u"Beta", false, false, menu({{5001, u"Update", false}}, true)},
      {"updating", u"Alpha", false, true, menu({{5002, u"Cancel Update", false}}, false)},
      {"developer mode", u"Alpha", true, false,
       menu({{5008, u"Clean Update", false}, {kSep, u"", false}, {5001, u"Update", false}}, false)},
      {"developer mode while updating", u"Gamma", true, true, menu({{5002, u"Cancel Update", false}}, false)},
  };
  for (const auto& c : cases) {
    GetGlobalOptions().SetDeveloperMode(c.developer ? 1 : 0);
    view_->busy.clear();
    if (c.busy) view_->busy.push_back(c.channel);
    ui_.menus.clear();
    int index = -1;
    {
      CSyncLock lock(set_, u"test");
      index = GetChannelsFilter()->FindByName(c.channel);
    }
    view_->ShowPopupMenu(index, plat::POINT{10, 10});
    ASSERT_EQ(ui_.menus.size(), 1u) << c.what;
    EXPECT_EQ(ui_.menus[0], c.items) << c.what;
  }
}

TEST_F(ChannelsViewTest, PopupActionsActOnTheRowsChannel) {
  ui_.choice = 5003;  // Mark as Read
  view_->ShowPopupMenu(2, plat::POINT{0, 0});
  {
    CSyncLock lock(set_, u"test");
    EXPECT_EQ(set_->FindByName(u"Gamma")->GetUnreadCount(), 0);
    EXPECT_EQ(set_->FindByName(u"Alpha")->GetUnreadCount(), 2);
  }
  // Clear asks with the channel's name; No keeps the articles, Yes deletes them.
  ui_.choice = 5004;
  ui_.answer = false;
  view_->ShowPopupMenu(0, plat::POINT{0, 0});
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0], u"Are you sure you want to delete all articles from the \"Alpha\" channel?");
  {
    CSyncLock lock(set_, u"test");
    EXPECT_EQ(set_->FindByName(u"Alpha")->GetUnreadCount(), 2);
  }
  ui_.answer = true;
  view_->ShowPopupMenu(0, plat::POINT{0, 0});
  {
    CSyncLock lock(set_, u"test");
    EXPECT_EQ(set_->FindByName(u"Alpha")->GetUnreadCount(), 0);
  }
  // Properties go to the main window's handler with the channel's name.
  std::vector<std::u16string> shown;
  view_->SetPropertiesHandler([&shown](const std::u16string& name) { shown.push_back(name); });
  ui_.choice = 5007;
  view_->ShowPopupMenu(1, plat::POINT{0, 0});
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"Beta"}));
}

// "Clean Update" drops the articles and with them what the feed last sent
// (its digest and validators), so the update it starts reads the feed whole
// instead of being told "unchanged" and storing nothing.
TEST_F(ChannelsViewTest, CleanUpdateForgetsWhatTheFeedLastSent) {
  GetGlobalOptions().SetDeveloperMode(1);
  const CStringToStringMap stored = {{kPropUrl, u"http://alpha.test/feed"},
                                     {kPropType, u"@RSS"},
                                     {kPropFeedDigest, u"0123456789abcdef0123456789abcdef"},
                                     {kPropFeedETag, u"\"a1\""},
                                     {kPropFeedLastModified, u"Wed, 09 Dec 2026 10:00:00 GMT"},
                                     {kPropFeedValidatorsUrl, u"http://alpha.test/feed"}};
  {
    CSyncLock lock(set_, u"test");
    set_->FindByName(u"Alpha")->SetProperties(stored);
  }
  CUpdateManager updates(set_);
  view_->SetUpdateManager(&updates);
  ui_.choice = kChannelMenuCleanUpdate;
  view_->ShowPopupMenu(0, plat::POINT{0, 0});
  ASSERT_EQ(ui_.menus.size(), 1u);
  updates.Shutdown_();
  GetGlobalOptions().SetDeveloperMode(0);

  // As stored: another reader of the content folder finds the feed's
  // address and type and nothing of what it last sent.
  CChannelSet reader;
  reader.SetReadOnly(1);
  ASSERT_TRUE(reader.Open());
  IChannel* alpha = reader.FindByName(u"Alpha");
  ASSERT_NE(alpha, nullptr);
  CStringToStringMap expected = {{kPropUrl, u"http://alpha.test/feed"}, {kPropType, u"@RSS"}};
  CStringToStringMap properties = alpha->GetProperties();
  properties.erase(kPropThumbnail);
  EXPECT_EQ(properties, expected);
  alpha->Acquire(this);
  EXPECT_EQ(alpha->GetArticleSet()->GetCount(), 0);
  alpha->Release(this, false);
}

TEST_F(ChannelsViewTest, AChannelGoneWhileItsMenuIsOpenIsLeftAlone) {
  for (plat::UINT choice : {5003u, 5004u, 5006u, 5007u}) {
    SCOPED_TRACE(choice);
    ui_.choice = choice;
    ui_.questions.clear();
    std::vector<std::u16string> shown;
    view_->SetPropertiesHandler([&shown](const std::u16string& name) { shown.push_back(name); });
    // Gamma goes away while the menu is open; Alpha takes nothing of it.
    ui_.whileMenuOpen = [this] {
      CSyncLock lock(set_, u"test");
      IChannel* gamma = set_->FindByName(u"Gamma");
      ASSERT_NE(gamma, nullptr);
      used_.erase(std::find(used_.begin(), used_.end(), gamma));
      gamma->Release(this, false);
      set_->Remove(u"Gamma");
    };
    view_->ShowPopupMenu(2, plat::POINT{0, 0});
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_TRUE(shown.empty());
    CSyncLock lock(set_, u"test");
    EXPECT_EQ(set_->GetCount(), 2);
    EXPECT_EQ(set_->FindByName(u"Alpha")->GetUnreadCount(), 2);
    AddChannel(u"Gamma", u"@RSS", {u"g1"});
  }
}

TEST_F(ChannelsViewTest, DeletingChannelsUpToTheLast) {
  ASSERT_TRUE(view_->RefreshRows());
  // The last row: the one before it becomes current.
  view_->SetCurrentIndex(2);
  view_->DeleteCurrentChannel();
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0], u"Are you sure you want to delete the channel:\n\"Gamma\"");
  view_->RefreshRows();
  EXPECT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta"}));
  EXPECT_EQ(view_->GetCurrentIndex(), 1);
  EXPECT_EQ(GetDBViewState()->GetCurrentChannelName(), u"Beta");

  // A No keeps the channel.
  ui_.answer = false;
  view_->DeleteCurrentChannel();
  view_->RefreshRows();
  EXPECT_EQ(view_->GetBuiltRowCount(), 2);

  ui_.answer = true;
  view_->SetCurrentIndex(0);
  view_->DeleteCurrentChannel();
  EXPECT_EQ(GetDBViewState()->GetCurrentChannelName(), u"Beta");
  view_->DeleteCurrentChannel();
  view_->RefreshRows();
  EXPECT_EQ(view_->GetBuiltRowCount(), 0);
  EXPECT_EQ(view_->GetCurrentIndex(), -1);
  {
    CSyncLock lock(set_, u"test");
    EXPECT_EQ(set_->GetCount(), 0);
  }
  // Nothing more to delete: no question.
  const std::size_t asked = ui_.questions.size();
  view_->DeleteCurrentChannel();
  EXPECT_EQ(ui_.questions.size(), asked);
  used_.clear();
}

// The rows sort by name: when a channel is renamed or added, the current row
// follows its channel to its new place (and the current channel its new
// name), not the place it had.
TEST_F(ChannelsViewTest, TheCurrentRowFollowsItsChannelWhenTheListSortsAgain) {
  struct Case {
    const char* name;
    std::u16string current;  // chosen before the change
    std::function<void()> change;
    std::u16string expected;  // the current channel afterwards
  };
  const Case cases[] = {
      {"renamed to the end", u"Alpha",
       [&] {
         CSyncLock lock(set_, u"test");
         ASSERT_TRUE(set_->FindByName(u"Alpha")->Rename(u"Zeta"));
       },
       u"Zeta"},
      {"renamed to the start", u"Gamma",
       [&] {
         CSyncLock lock(set_, u"test");
         ASSERT_TRUE(set_->FindByName(u"Gamma")->Rename(u"Aaron"));
       },
       u"Aaron"},
      {"another added before it", u"Beta", [&] { AddChannel(u"Aardvark", u"@RSS", {}); }, u"Beta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view_->RefreshRows();
    const std::vector<std::u16string> before = RowNames();
    const int at = static_cast<int>(std::find(before.begin(), before.end(), c.current) - before.begin());
    ASSERT_LT(at, static_cast<int>(before.size()));
    view_->SetCurrentIndex(at);
    GetDBViewState()->SetCurrentChannelName(c.current);
    c.change();
    view_->RefreshRows();
    const std::vector<std::u16string> after = RowNames();
    ASSERT_GE(view_->GetCurrentIndex(), 0);
    ASSERT_LT(view_->GetCurrentIndex(), static_cast<int>(after.size()));
    EXPECT_EQ(after[static_cast<std::size_t>(view_->GetCurrentIndex())], c.expected);
    EXPECT_EQ(GetDBViewState()->GetCurrentChannelName(), c.expected);
  }
}

TEST_F(ChannelsViewTest, MenuItemsFollowTheCurrentRow) {
  plat::HMENU menu = plat::CreatePopupMenu();
  for (plat::UINT id : {2043u, 2044u, 2045u, 2046u, 2047u, 2048u, 2049u, 2050u, 2073u})
    plat::AppendMenuW(menu, plat::MF_STRING | plat::MF_GRAYED, id, u"x");
  auto greyed = [menu](plat::UINT id) {
    plat::MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = plat::MIIM_STATE;
    plat::GetMenuItemInfoW(menu, id, plat::FALSE, &info);
    return (info.fState & plat::MFS_GRAYED) != 0;
  };
  CUpdateManager updates(set_);
  view_->SetUpdateManager(&updates);
  for (int current : {-1, 0, 1}) {
    SCOPED_TRACE(current);
    view_->SetCurrentIndex(current);
    view_->EnableMenuItems(menu);
    EXPECT_TRUE(greyed(2045));  // nothing is updating
    for (plat::UINT id : {2043u, 2044u, 2047u, 2048u, 2049u, 2050u, 2073u}) EXPECT_FALSE(greyed(id)) << id;
    // Beta (row 1) has no unread articles; no current row counts as row 0.
    EXPECT_EQ(greyed(2046), current == 1);
  }
  updates.Shutdown_();
  plat::DestroyMenu(menu);
}

TEST_F(ChannelsViewTest, RowsDrawTheirCountOnlyWhenUnread) {
  const ListItemStyle& style = view_->GetItemStyle();
  const int h = style.rowHeight + 2;
  auto bitmap = MakeBitmap(240, 3 * h, 0xFFFFFF);
  for (int i = 0; i < 3; ++i) {
    const plat::RECT r{0, i * h, 240, (i + 1) * h};
    EXPECT_TRUE(view_->DrawRow(i, *bitmap, i == 2 ? kRowSelected : kRowNormal, r));
    DrawRowSeparator(*bitmap, r);
  }
  EXPECT_FALSE(view_->DrawRow(3, *bitmap, kRowNormal, plat::RECT{0, 0, 240, h}));
  ShootBitmap(*bitmap, "channel_rows_96");
  // The count's place: right of the title, left of the scroll bar's room.
  auto countArea = [&](int row) {
    const int right = 240 - (96 + 16) * 3 / 96 - style.margins.right;
    return plat::RECT{right - style.unreadWidth, row * h + 2, right, (row + 1) * h - 4};
  };
  EXPECT_GT(CountOther(*bitmap, countArea(0), 0xFFFFFF), 20);  // Alpha: "[2]"
  EXPECT_EQ(CountOther(*bitmap, countArea(1), 0xFFFFFF), 0);   // Beta: none
  // Every row shows its icon and its title.
  for (int i = 0; i < 2; ++i) {
    plat::RECT box = style.pictureBox;
    plat::OffsetRect(&box, 0, i * h);
    EXPECT_GT(CountOther(*bitmap, box, 0xFFFFFF), 20) << i;
    const plat::RECT title{style.margins.left, i * h + 2, style.margins.left + 30, (i + 1) * h - 4};
    EXPECT_GT(CountOther(*bitmap, title, 0xFFFFFF), 10) << i;
  }
  // The selected row is filled.
  EXPECT_NE(Pixel(*bitmap, 120, 2 * h + 1), ColorToRgb565(0xFFFFFF));
}

// A channel whose picture file is an icon file shows that icon on its row
// (no thumbnail can be made of it); the others keep the stock icon of
// their type.
TEST_F(ChannelsViewTest, AChannelWithAnIconFileShowsThatIcon) {
  view_.reset();
  IChannel* delta = AddChannel(u"Delta", u"@RSS", {});
  ASSERT_NE(delta, nullptr);
  std::u16string file;
  {
    CSyncLock lock(set_, u"test");
    delta->SetProperty(kPropThumbnailFile, u"delta.ico");
    file = delta->GetThumbnailFile();
    GetChannelsFilter()->UpdateEntry(delta);  // as the channel's change notice does
  }
  std::string host = device_.FsRoot() + plat::Utf16ToUtf8(file);
  std::replace(host.begin(), host.end(), '\\', '/');
  orvtest::WriteHostFile(host, imgtest::Ico({{16, 32, imgtest::Solid(16, 16, 0xFF00FF00)},
                                             {32, 32, imgtest::Solid(32, 32, 0xFF00FF00)}}));
  view_ = std::make_unique<CountingChannels>();
  view_->SetUi(ui_.Make());
  ASSERT_TRUE(view_->RefreshRows());
  ASSERT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Delta", u"Gamma"}));
  const ListItemStyle& style = view_->GetItemStyle();
  const int h = style.rowHeight + 2;
  // Green pixels in a row's picture box.
  auto green = [&](int index) {
    auto bitmap = MakeBitmap(240, h, 0xFFFFFF);
    EXPECT_TRUE(view_->DrawRow(index, *bitmap, kRowNormal, plat::RECT{0, 0, 240, h}));
    int n = 0;
    for (int y = style.pictureBox.top; y < style.pictureBox.bottom; ++y)
      for (int x = style.pictureBox.left; x < style.pictureBox.right; ++x)
        n += Pixel(*bitmap, x, y) == ColorToRgb565(0x00FF00);
    return n;
  };
  EXPECT_GE(green(2), 16 * 16 / 2) << "Delta shows its own icon";
  EXPECT_EQ(green(0), 0);
  EXPECT_EQ(green(3), 0);
}

// Thumbnails are kept by the full path of their image: when the content
// folder moves, a channel's row still shows its picture, not the stock icon
// of its type until the thumbnail is made again.
TEST_F(ChannelsViewTest, RowsKeepTheirThumbnailsWhenTheContentFolderMoves) {
  view_.reset();
  IChannel* delta = AddChannel(u"Delta", u"@RSS", {});
  ASSERT_NE(delta, nullptr);
  std::u16string image;
  {
    CSyncLock lock(set_, u"test");
    delta->SetProperty(kPropThumbnailFile, u"delta.png");
    image = delta->GetThumbnailFile();
    GetChannelsFilter()->UpdateEntry(delta);
  }
  std::string host = device_.FsRoot() + plat::Utf16ToUtf8(image);
  std::replace(host.begin(), host.end(), '\\', '/');
  orvtest::WriteHostFile(host, imgtest::Png(64, 64, imgtest::Solid(64, 64, 0xFF00FF00)));
  // The thumbnail as the preparation job stores it.
  const int size = GetListItemMetrics().thumbnailWidth;
  plat::DecodedImage green;
  green.width = green.height = size;
  green.pixels.assign(static_cast<std::size_t>(size) * size, 0xFF00FF00);
  plat::HBITMAP thumbnail = plat::CreateDibFromImage(green, 24);
  ASSERT_TRUE(CThumbnailsManager::GetInstance()->Add(image, size, thumbnail));
  // The channels are let go, as the options sheet finds them when it moves.
  {
    CSyncLock lock(set_, u"test");
    for (IChannel* channel : used_) channel->Release(this, true);
    used_.clear();
  }
  view_ = std::make_unique<CountingChannels>();
  view_->SetUi(ui_.Make());
  const ListItemStyle& style = view_->GetItemStyle();
  const int h = style.rowHeight + 2;
  auto greenPixels = [&](int index) {
    auto bitmap = MakeBitmap(240, h, 0xFFFFFF);
    EXPECT_TRUE(view_->DrawRow(index, *bitmap, kRowNormal, plat::RECT{0, 0, 240, h}));
    int n = 0;
    for (int y = style.pictureBox.top; y < style.pictureBox.bottom; ++y)
      for (int x = style.pictureBox.left; x < style.pictureBox.right; ++x)
        n += Pixel(*bitmap, x, y) == ColorToRgb565(0x00FF00);
    return n;
  };
  view_->RefreshRows();
  ASSERT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Delta", u"Gamma"}));
  const int before = greenPixels(2);
  ASSERT_GE(before, 16 * 16) << "Delta shows its thumbnail";

  {
    CSyncLock lock(set_, u"test");
    ASSERT_TRUE(set_->MoveContentFolder(u"\\Moved News", u""));
  }
  view_->RefreshRows();
  ASSERT_EQ(RowNames(), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Delta", u"Gamma"}));
  EXPECT_EQ(greenPixels(2), before) << "Delta shows its thumbnail right after the move";
  EXPECT_EQ(greenPixels(0), 0);
  CThumbnailsManager::GetInstance()->UnloadPools(u"");
}

// A row keeps the queue status it was built with. A failed channel that
// leaves the queue at the run's end changes nothing of its own (no data-bank
// event), so the update manager's status message brings its row up to date:
// only then does the row show the failure.
TEST_F(ChannelsViewTest, AFailedChannelLeavingTheQueueShowsItsFailure) {
  const ListItemStyle& style = view_->GetItemStyle();
  const int h = style.rowHeight + 2;
  // The pixels of Alpha's title in the failed colour (red on white).
  auto redTitlePixels = [&] {
    auto bitmap = MakeBitmap(240, h, 0xFFFFFF);
    EXPECT_TRUE(view_->DrawRow(0, *bitmap, kRowNormal, plat::RECT{0, 0, 240, h}));
    int red = 0;
    for (int y = 0; y < h; ++y)
      for (int x = style.margins.left; x < 200; ++x) {
        const std::uint16_t p = Pixel(*bitmap, x, y);
        red += (p >> 11) >= 16 && ((p >> 5) & 63) < 24 && (p & 31) < 12;
      }
    return red;
  };
  view_->busy = {u"Alpha"};
  {
    CSyncLock lock(set_, u"test");
    set_->FindByName(u"Alpha")->SetUpdateState(US_FAILED);
  }
  ChannelListRow row;
  view_->RefreshRows();
  ASSERT_TRUE(view_->GetRow(0, row));
  EXPECT_EQ(row.status, UQS_UPDATING);
  EXPECT_EQ(redTitlePixels(), 0) << "still in the run";

  // A status message while nothing left the queue rebuilds nothing.
  view_->OnQueueChanged();
  EXPECT_TRUE(view_->AreRowsCurrent());

  // The run ends: Alpha leaves the queue.
  view_->busy.clear();
  EXPECT_EQ(redTitlePixels(), 0) << "the row as built";
  view_->OnQueueChanged();
  EXPECT_EQ(view_->GetValidFlags(), (std::vector<std::uint8_t>{0, 1, 1}));
  view_->built.clear();
  EXPECT_GT(redTitlePixels(), 20);
  EXPECT_EQ(view_->built, (std::vector<int>{0}));
  ASSERT_TRUE(view_->GetRow(0, row));
  EXPECT_EQ(row.status, UQS_NOT_QUEUED);
}

}  // namespace
}  // namespace apptest
