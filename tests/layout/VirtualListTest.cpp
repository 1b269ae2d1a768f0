// The virtual list plug-in over a list of rows it does not own: the row
// separators and their fading fill, row heights, taps, the "Back" swipe, the
// hold gesture, refreshes and the first scroll into view.
#include <vector>

#include "layout/DataSources.h"
#include "layout/DialogContent.h"
#include "layout/LayoutCom.h"
#include "layout/PluginFactory.h"
#include "layout/VirtualListPlugin.h"
#include "platform/controls/Shell.h"
#include "platform/windows/Windows.h"
#include "tests/layout/LayoutFixture.h"
#include "tests/layout/PluginFixture.h"
#include "tests/layout/ScreenParts.h"

namespace layouttest {
namespace {

int Green(std::uint16_t p) { return (p >> 5) & 63; }

// Rows of fixed height painted in one colour each; every row but the last
// asks for a separator.
class FakeList : public CLayoutObject<IVirtualList> {
 public:
  FakeList() : CLayoutObject(IID_IVirtualList) {}
  plat::HRESULT LoadProperties(ILayoutPlugin* plugin, IPropertySource* properties, PackageResources*) override {
    loadedWith = plugin;
    hadProperties = properties != nullptr;
    return plat::S_OK;
  }
  std::int32_t GetRowCount() override { return rows; }
  std::int32_t GetInitialSelection() override { return initial; }
  std::int32_t GetRowHeight(std::int32_t, std::int32_t) override { return height; }
  std::int32_t PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state, const plat::RECT& r) override {
    painted.push_back(row);
    target.FillRectAlpha(r.left, r.top, r.right - r.left, r.bottom - r.top, state ? 0x00FF00 : 0x808080, 255);
    return row + 1 < rows;
  }
  plat::HRESULT OnSelectionChanged(std::int32_t row) override {
    selections.push_back(row);
    return plat::S_OK;
  }
  plat::HRESULT Activate(std::int32_t row, const plat::POINT* point) override {
    activated.push_back(row);
    activatedWithPoint = point != nullptr;
    return plat::S_OK;
  }
  plat::HRESULT OnContextGesture(std::int32_t row, std::int32_t x, std::int32_t y) override {
    context.push_back({row, x, y});
    return plat::S_OK;
  }
  plat::HRESULT Forward(std::intptr_t a, std::intptr_t b) override { return static_cast<plat::HRESULT>(a + b); }

  std::int32_t rows = 5, initial = 2, height = 20;
  ILayoutPlugin* loadedWith = nullptr;
  bool hadProperties = false;
  std::vector<std::int32_t> painted, selections, activated;
  bool activatedWithPoint = false;
  struct Context {
    std::int32_t row, x, y;
  };
  std::vector<Context> context;
};

class VirtualListTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    site_ = CComRef<PluginSite>(new PluginSite(&host_));
    view_ = CComRef<DialogContentView>(new DialogContentView(&content_));
    source_ = CComRef<ListSource>(new ListSource(list_.Get()));
    content_.owner = static_cast<IDataSource*>(source_.Get());
  }
  void TearDown() override {
    plugin_ = CComRef<ILayoutPlugin>();
    if (parent_) plat::DestroyWindow(parent_);
    plat::MSG m;
    while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
    }
    LayoutTest::TearDown();
  }
  // The plug-in made by the factory, bound to the fake screen.
  VirtualListPlugin* Build() {
    plugin_.Attach(CreatePlugin(u"Orv.LSP.VirtualList"));
    auto* list = static_cast<VirtualListPlugin*>(plugin_.Get());
    EXPECT_EQ(list->Init(site_.Get(), view_.Get()), plat::S_OK);
    item_ = ItemFor(u"<Plugin Name=\"rows\" BoundRect=\"0,0,100,40\"/>");
    EXPECT_EQ(list->SetProperties(item_.Get()), plat::S_OK);
    return list;
  }
  // A parent window with a child the host reports as its window.
  void MakeWindows() {
    plat::WNDCLASSW wc{};
    if (!plat::GetClassInfoW(nullptr, u"VirtualListTestWindow", &wc)) {
      wc.lpfnWndProc = &plat::DefWindowProcW;
      wc.lpszClassName = u"VirtualListTestWindow";
      ASSERT_TRUE(plat::RegisterClassW(&wc));
    }
    parent_ = plat::CreateWindowExW(0, u"VirtualListTestWindow", u"", plat::WS_POPUP, 0, 0, 200, 300, nullptr,
                                    nullptr, nullptr, nullptr);
    child_ = plat::CreateWindowExW(0, u"VirtualListTestWindow", u"", plat::WS_CHILD, 10, 20, 100, 200, parent_,
                                   nullptr, nullptr, nullptr);
    ASSERT_NE(child_, nullptr);
    host_.window = child_;
  }

  FakeHost host_;
  FakeContent content_;
  CComRef<FakeList> list_{new FakeList()};
  CComRef<PluginSite> site_;
  CComRef<DialogContentView> view_;
  CComRef<ListSource> source_;
  CComRef<ILayoutPlugin> plugin_;
  CComRef<PlacedLayoutItem> item_;
  plat::HWND parent_ = nullptr;
  plat::HWND child_ = nullptr;
};

TEST_F(VirtualListTest, GradientFadesAndClipsToTheTarget) {
  const std::uint16_t grey = 0x8410;
  const std::uint16_t white = 0xFFFF;
  auto target = MakeTarget(100, 4, grey);
  EXPECT_EQ(FillRectAlphaGradient(target->buffer, 0, 0, 100, 1, 0xFFFFFF, 130, 0, false), 1);
  // The first pixel at alpha (130 * 16 - 20) >> 4 = 128, then fainter to the right.
  std::uint16_t first = grey;
  BlendPixel565(first, white, 128);
  EXPECT_EQ(target->At(0, 0), first);
  for (int x = 10; x < 100; x += 10) EXPECT_LE(Green(target->At(x, 0)), Green(target->At(x - 10, 0))) << x;
  EXPECT_LE(Green(target->At(99, 0)), Green(grey) + 1);
  EXPECT_EQ(target->At(0, 1), grey);  // one row only
  // Vertical: the fade runs down each column.
  auto down = MakeTarget(4, 50, grey);
  FillRectAlphaGradient(down->buffer, 1, 0, 2, 50, 0xFFFFFF, 0, 255, true);
  EXPECT_LT(Green(down->At(1, 5)), Green(down->At(1, 45)));
  EXPECT_GE(Green(down->At(1, 49)), 61);  // alpha (81 * 50) >> 4 = 253
  EXPECT_EQ(down->At(2, 45), down->At(1, 45));
  EXPECT_EQ(down->At(0, 45), grey);
  EXPECT_EQ(down->At(3, 45), grey);

  // A negative x shortens the fill by as much: (-10, 20 wide) covers columns
  // 0..9, with the fade of its last ten pixels.
  auto clipped = MakeTarget(40, 1, grey);
  auto reference = MakeTarget(40, 1, grey);
  FillRectAlphaGradient(clipped->buffer, -10, 0, 20, 1, 0xFFFFFF, 255, 255, false);
  EXPECT_EQ(clipped->At(9, 0), white);
  EXPECT_EQ(clipped->At(10, 0), grey);
  FillRectAlphaGradient(clipped->buffer, -5, -3, 10, 2, 0xFFFFFF, 255, 255, false);  // entirely above
  EXPECT_EQ(clipped->At(0, 0), white);
  // Nothing to fill: no pixel changes and no division by zero.
  for (const plat::RECT r : {plat::RECT{0, 0, 0, 1}, plat::RECT{0, 0, 5, 0}, plat::RECT{-20, 0, 10, 1},
                             plat::RECT{40, 0, 5, 1}, plat::RECT{0, 1, 5, 1}, plat::RECT{5, 0, -3, 1}}) {
    EXPECT_EQ(FillRectAlphaGradient(reference->buffer, r.left, r.top, r.right, r.bottom, 0xFFFFFF, 255, 0, false), 1);
  }
  for (int x = 0; x < 40; ++x) ASSERT_EQ(reference->At(x, 0), grey) << x;
  // Only 16-bit targets are filled: another answers 0 and keeps its pixels.
  CBitmapBuffer grey8;
  ASSERT_TRUE(grey8.Create(8, 2, CBitmapBuffer::kGrey8));
  grey8.Row(0)[0] = 7;
  EXPECT_EQ(FillRectAlphaGradient(grey8, 0, 0, 8, 2, 0xFFFFFF, 255, 255, false), 0);
  EXPECT_EQ(grey8.Row(0)[0], 7);
}

TEST_F(VirtualListTest, SeparatorIsAnEngravedGrooveFadingToTheRight) {
  SetScreen(480, 640, 96);
  const std::uint16_t grey = 0x8410;
  auto target = MakeTarget(120, 20, grey);
  DrawRowSeparator(target->buffer, {10, 0, 110, 10});
  ShootBitmap(target->buffer, "row_separator");
  // At 96 dpi: a dark line at row 8 and a light one at row 9, one pixel each.
  EXPECT_LT(Green(target->At(10, 8)), Green(grey));
  EXPECT_GT(Green(target->At(10, 9)), Green(grey));
  EXPECT_EQ(target->At(10, 8), target->At(59, 8));  // solid over the left half
  EXPECT_EQ(target->At(10, 9), target->At(59, 9));
  EXPECT_LE(std::abs(Green(target->At(109, 8)) - Green(grey)), 1);  // faded out at the right end
  EXPECT_LE(std::abs(Green(target->At(109, 9)) - Green(grey)), 1);
  EXPECT_LT(Green(target->At(60, 8)), Green(target->At(100, 8)));
  for (const plat::POINT p : {plat::POINT{9, 8}, plat::POINT{110, 8}, plat::POINT{50, 7}, plat::POINT{50, 10}})
    EXPECT_EQ(target->At(p.x, p.y), grey) << p.x << "," << p.y;
  // Above the target, or an empty row: nothing.
  auto untouched = MakeTarget(20, 4, grey);
  DrawRowSeparator(untouched->buffer, {0, -10, 20, 0});
  DrawRowSeparator(untouched->buffer, {10, 0, 10, 4});
  DrawRowSeparator(untouched->buffer, {0, 10, 20, 30});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(untouched->At(x, y), grey);
}

TEST_F(VirtualListTest, RowsComeFromTheScreensListWithSeparators) {
  VirtualListPlugin* list = Build();
  std::int32_t kind = 0;
  list->GetKind(0, &kind);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(list_->loadedWith, static_cast<ILayoutPlugin*>(list));
  EXPECT_TRUE(list_->hadProperties);
  EXPECT_EQ(content_.selected, u"rows");
  EXPECT_EQ(list->GetItemCount(), 5);
  EXPECT_EQ(list->GetSelection(), 2);  // the list's initial row
  ASSERT_FALSE(list_->selections.empty());
  EXPECT_EQ(list_->selections.back(), 2);
  EXPECT_GT(host_.invalidations, 0);
  // At 192 dpi every row is 4 pixels taller than the list says.
  EXPECT_EQ(list->GetItemHeight(0, 100), 24);
  plat::SIZE size{};
  ASSERT_EQ(list->GetContentSize(nullptr, &size), plat::S_OK);
  EXPECT_EQ(size.cy, 5 * 24);
  EXPECT_EQ(list->ForwardToList(3, 4), 7);

  auto target = MakeTarget(100, 140);
  LayoutPaintRecord record;
  record.dc = target->dc;
  record.focus = 1;
  record.visibleHeight = 140;
  ASSERT_EQ(list->Paint(record), plat::S_OK);
  ShootBitmap(target->buffer, "virtual_list_rows");
  EXPECT_EQ(list_->painted, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
  const std::uint16_t row = ColorToRgb565(0x808080);
  EXPECT_EQ(target->At(10, 5), row);
  EXPECT_EQ(target->At(10, 2 * 24 + 5), ColorToRgb565(0x00FF00));  // the selected row
  // Separators over the last 4 rows of every row but the last: dark, then light.
  EXPECT_LT(Green(target->At(10, 20)), Green(row));
  EXPECT_GT(Green(target->At(10, 22)), Green(row));
  EXPECT_EQ(target->At(10, 4 * 24 + 20), row);

  // An empty list paints no rows.
  list_->rows = 0;
  list_->painted.clear();
  ASSERT_EQ(list->DoCommand(0, 0), plat::S_OK);
  EXPECT_EQ(list->GetItemCount(), 0);
  auto empty = MakeTarget(100, 140);
  record.dc = empty->dc;
  ASSERT_EQ(list->Paint(record), plat::S_OK);
  EXPECT_TRUE(list_->painted.empty());
}

TEST_F(VirtualListTest, TapsActivateTheSelectedRow) {
  VirtualListPlugin* list = Build();
  plat::POINT p{5, 5};
  EXPECT_EQ(list->OnTap(&p), plat::S_OK);
  EXPECT_EQ(list_->activated, (std::vector<std::int32_t>{2}));  // the host already moved the selection
  EXPECT_TRUE(list_->activatedWithPoint);
  EXPECT_EQ(list->OnItemActivated(nullptr, 0), plat::S_OK);
  EXPECT_FALSE(list_->activatedWithPoint);
  list->SetSelection(-1);
  EXPECT_EQ(list->OnTap(&p), plat::E_FAIL);
  EXPECT_EQ(list_->activated.size(), 2u);
}

TEST_F(VirtualListTest, RightSwipeSendsBackToTheMainWindow) {
  SetScreen(480, 640, 96);
  MakeWindows();
  VirtualListPlugin* list = Build();
  struct Case {
    int dx, dy;
    bool consumed, back;
    plat::HRESULT answer;
  } cases[] = {{30, 5, true, true, plat::S_OK},     {-30, 5, true, false, plat::S_FALSE},
               {25, 0, false, false, plat::S_FALSE}, {26, 0, true, true, plat::S_OK},
               {30, 30, false, false, plat::S_FALSE}, {5, 40, false, false, plat::S_FALSE}};
  for (const Case& c : cases) {
    GestureRecord g;
    g.downX = 50;
    g.downY = 60;
    g.currentX = 50 + c.dx;
    g.currentY = 60 + c.dy;
    EXPECT_EQ(list->ReservedC(kContentEventDrag, 0, &g), c.answer) << c.dx << "," << c.dy;
    EXPECT_EQ(g.stop, c.consumed ? 1 : 0) << c.dx << "," << c.dy;
    plat::MSG m{};
    const bool posted = plat::PeekMessageW(&m, parent_, plat::WM_COMMAND, plat::WM_COMMAND, plat::PM_REMOVE);
    EXPECT_EQ(posted, c.back) << c.dx << "," << c.dy;
    if (posted) {
      EXPECT_EQ(m.wParam, kBackCommand);
      EXPECT_EQ(m.lParam, 0);
    }
  }
  EXPECT_EQ(list->ReservedC(kContentEventDrag, 0, nullptr), plat::S_FALSE);
  EXPECT_EQ(list->ReservedC(kContentEventKeyDown, 0, nullptr), plat::S_FALSE);
}

TEST_F(VirtualListTest, HoldGestureOpensTheRowsMenuOnlyWhenRecognised) {
  MakeWindows();
  VirtualListPlugin* list = Build();
  std::vector<plat::POINT> asked;
  std::uint32_t answer = 0;
  list->SetGestureRecognizer([&](plat::HWND window, plat::POINT p) {
    EXPECT_EQ(window, child_);
    asked.push_back(p);
    return answer;
  });
  // Not recognised: the row is selected but no menu.
  plat::POINT onSecond{5, 24 + 10};
  EXPECT_EQ(list->ReservedB(&onSecond, 0), 0);
  EXPECT_EQ(list->GetSelection(), 1);
  EXPECT_TRUE(list_->context.empty());
  // Content point (5, 34) in the window: minus the scroll origin (0, 100), plus the view (0, 26).
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].x, 5);
  EXPECT_EQ(asked[0].y, 34 - 100 + 26);
  // Recognised: the list hears of it with the row and the screen point (the
  // child sits at (10, 20) in its parent at the screen's origin).
  answer = plat::GN_CONTEXTMENU;
  plat::POINT onFifth{5, 4 * 24 + 1};
  EXPECT_EQ(list->ReservedB(&onFifth, 0), 1);
  ASSERT_EQ(list_->context.size(), 1u);
  EXPECT_EQ(list_->context[0].row, 4);
  EXPECT_EQ(list_->context[0].x, 5 + 10);
  EXPECT_EQ(list_->context[0].y, 4 * 24 + 1 - 100 + 26 + 20);
  // No point: the centre of the selected row.
  EXPECT_EQ(list->ReservedB(nullptr, 0), 1);
  EXPECT_EQ(asked.back().x, 50);
  EXPECT_EQ(asked.back().y, 4 * 24 + 12 - 100 + 26);
  // Off the rows, or a flag asking for no gesture.
  plat::POINT below{5, 500};
  EXPECT_EQ(list->ReservedB(&below, 0), plat::E_FAIL);
  const std::size_t before = asked.size();
  EXPECT_EQ(list->ReservedB(&onSecond, 1), 0);
  EXPECT_EQ(list->GetSelection(), 1);
  EXPECT_EQ(asked.size(), before);
}

TEST_F(VirtualListTest, PendingRefreshRunsOnTheUpdateEventAndTheFirstSizeScrollsOnce) {
  MakeWindows();
  VirtualListPlugin* list = Build();
  // The update event reloads only a pending list.
  list_->rows = 8;
  EXPECT_EQ(list->ReservedC(kUpdateProgressEvent, kUpdateProgressParameter, nullptr), plat::S_OK);
  EXPECT_EQ(list->GetItemCount(), 5);
  list->SetRefreshPending();
  EXPECT_EQ(list->ReservedC(kUpdateProgressEvent, 1, nullptr), plat::S_FALSE);
  EXPECT_TRUE(list->IsRefreshPending());
  EXPECT_EQ(list->ReservedC(kUpdateProgressEvent, kUpdateProgressParameter, nullptr), plat::S_OK);
  EXPECT_FALSE(list->IsRefreshPending());
  EXPECT_EQ(list->GetItemCount(), 8);
  EXPECT_EQ(list->GetSelection(), 2);

  // The first size query scrolls the selected row into view, later ones do not.
  EXPECT_TRUE(list->IsEnsureVisiblePending());
  plat::SIZE size{};
  ASSERT_EQ(list->GetContentSize(nullptr, &size), plat::S_OK);
  ASSERT_EQ(content_.ensured, 1);
  EXPECT_EQ(content_.lastEnsured.top, 2 * 24);
  ASSERT_EQ(list->GetContentSize(nullptr, &size), plat::S_OK);
  EXPECT_EQ(content_.ensured, 1);
  EXPECT_FALSE(list->IsEnsureVisiblePending());
}

TEST_F(VirtualListTest, WithoutAListInterfaceInitFails) {
  content_.owner = nullptr;
  plugin_.Attach(CreatePlugin(u"Orv.LSP.VirtualList"));
  EXPECT_NE(plugin_->Init(site_.Get(), view_.Get()), plat::S_OK);
  CComRef<ListSource> none(new ListSource(nullptr));
  content_.owner = static_cast<IDataSource*>(none.Get());
  EXPECT_NE(plugin_->Init(site_.Get(), view_.Get()), plat::S_OK);
}

}  // namespace
}  // namespace layouttest
