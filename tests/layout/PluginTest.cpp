// Plug-in objects: the COM-style base, the list base, the factory, the text
// plug-ins and the content interfaces they talk to.
#include <cstdlib>
#include <utility>

#include "core/FrameworkProperties.h"
#include "core/OrvException.h"
#include "layout/LayoutDocument.h"
#include "layout/PluginFactory.h"
#include "tests/layout/LayoutFixture.h"
#include "platform/controls/Shell.h"
#include "tests/layout/PluginFixture.h"

namespace layouttest {
namespace {

class CountingPlugin : public LayoutPluginBase {
 public:
  plat::HRESULT OnNameChanged() override {
    ++nameChanges;
    return plat::S_OK;
  }
  plat::HRESULT LoadProperties() override {
    ++loads;
    return plat::S_OK;
  }
  int nameChanges = 0;
  int loads = 0;
};

class RowsPlugin : public LayoutListPluginBase {
 public:
  std::int32_t GetItemHeight(std::int32_t, std::int32_t) override { return 20; }
  plat::HRESULT PaintItem(std::int32_t index, CBitmapBuffer&, plat::HDC, std::int32_t state, const plat::RECT& r) override {
    painted.push_back({index, state, r.top});
    return plat::S_OK;
  }
  bool IsItemSelectable(std::int32_t index) override { return selectable.empty() || selectable.at(index); }
  plat::HRESULT OnItemActivated(const plat::POINT*, std::intptr_t) override {
    activated = GetSelection();
    return plat::S_OK;
  }
  struct Painted {
    std::int32_t index, state, top;
  };
  std::vector<Painted> painted;
  std::vector<bool> selectable;
  std::int32_t activated = -5;
};

class PluginTest : public LayoutTest {};

TEST_F(PluginTest, QueryInterfaceAndRelease) {
  CComRef<ILayoutPlugin> plugin;
  plugin.Attach(CreatePlugin(u"Orv.LSP.ZeroBackground"));
  ASSERT_TRUE(plugin);
  EXPECT_EQ(plugin->QueryInterface(IID_ILayoutPlugin, nullptr), plat::E_INVALIDARG);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(plugin->QueryInterface(IID_IPluginSite, &out), plat::E_NOINTERFACE);
  EXPECT_EQ(plugin->AddRef(), 2u);
  EXPECT_EQ(plugin->Release(), 1u);
  ASSERT_EQ(plugin->QueryInterface(plat::IID_IUnknown, &out), plat::S_OK);
  EXPECT_EQ(out, static_cast<void*>(plugin.Get()));
  EXPECT_EQ(plugin->Release(), 1u);
  EXPECT_EQ(plugin.Detach()->Release(), 0u);
}

TEST_F(PluginTest, FactoryNames) {
  struct Case {
    const char16_t* name;
    bool made;
  } cases[] = {{u"Orv.LSP.Text", true},      {u"Orv.LSP.text", false},         {u"orv.lsp.Text", false},
               {u"Text", false},             {u"Orv.Data.Text", false},        {u"Orv.LSP.", false},
               {u"Orv.LSP.SingleLineText", true}, {u"Orv.LSP.GradBackground", true}, {u"Orv.LSP.ZeroBackground", true}};
  for (const Case& c : cases) {
    ILayoutPlugin* plugin = CreatePlugin(c.name);
    EXPECT_EQ(plugin != nullptr, c.made) << std::u16string(c.name).size();
    if (plugin) {
      EXPECT_EQ(plugin->Release(), 0u);
    }
  }
  EXPECT_THROW(CreatePlugin(nullptr), COrvException);
  CComRef<ILayoutPlugin> text;
  text.Attach(CreatePlugin(u"Orv.LSP.Text"));
  EXPECT_EQ(static_cast<TextPlugin*>(text.Get())->GetFlags(), kTextFlags);
}

TEST_F(PluginTest, SetPropertiesRunsTheNameHookOnlyWhenTheSkinChanges) {
  CComRef<CountingPlugin> plugin(new CountingPlugin());
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"p\" Skin=\"one\"/>");
  EXPECT_THROW(plugin->SetProperties(nullptr), COrvException);
  EXPECT_EQ(plugin->SetProperties(item.Get()), plat::S_OK);
  EXPECT_EQ(plugin->SetProperties(item.Get()), plat::S_OK);
  EXPECT_EQ(plugin->nameChanges, 1);
  EXPECT_EQ(plugin->loads, 2);
  EXPECT_EQ(plugin->GetSkinName(), u"one");
  std::int32_t kind = -1;
  EXPECT_EQ(plugin->GetKind(0, &kind), plat::S_OK);
  EXPECT_EQ(kind, 0);
  EXPECT_THROW(plugin->GetKind(0, nullptr), COrvException);
}

TEST_F(PluginTest, ListSelectionSearchesOutwardAndClamps) {
  CComRef<RowsPlugin> list(new RowsPlugin());
  list->SetItemCount(3);
  list->SetSelection(5);
  EXPECT_EQ(list->GetSelection(), 2);
  list->selectable = {true, false, false};
  list->SetSelection(2);
  EXPECT_EQ(list->GetSelection(), 0);
  list->selectable = {false, true, false, true, false};
  list->SetItemCount(5);
  list->SetSelection(2);
  EXPECT_EQ(list->GetSelection(), 3);  // below is preferred at the same distance
  list->SetSelection(-7);
  EXPECT_EQ(list->GetSelection(), -1);  // below -1 is no selection
  EXPECT_FALSE(list->IsFocusShown());
  list->selectable = {false, false, false, false, false};
  list->SetSelection(2);
  EXPECT_EQ(list->GetSelection(), -1);
  EXPECT_FALSE(list->IsFocusShown());
}

TEST_F(PluginTest, ListKeysTapsGeometryAndPaint) {
  CComRef<RowsPlugin> list(new RowsPlugin());
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"rows\" BoundRect=\"0,100,50,40\"><Int Name=\"RemoveSeparator\" Value=\"1\"/></Plugin>");
  ASSERT_EQ(list->SetProperties(item.Get()), plat::S_OK);
  list->SetItemCount(3);
  plat::SIZE size{};
  ASSERT_EQ(list->GetContentSize(nullptr, &size), plat::S_OK);
  EXPECT_EQ(size.cy, 60 - 4);  // at 192 dpi the separator allowance is 4
  // Keys.
  std::int32_t handled = -1;
  list->SetSelection(1);
  EXPECT_EQ(list->OnKey(kVkDown, &handled), plat::S_OK);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(list->GetSelection(), 2);
  list->OnKey(kVkDown, &handled);
  EXPECT_EQ(handled, 0);  // the host moves the focus on
  EXPECT_FALSE(list->IsFocusShown());
  EXPECT_EQ(list->OnKey(kVkUp, nullptr), plat::E_INVALIDARG);
  // Hits: above the list is no row, rows by their geometry, below nothing.
  EXPECT_EQ(list->HitTest(99), -1);
  EXPECT_EQ(list->HitTest(100), 0);
  EXPECT_EQ(list->HitTest(139), 1);
  EXPECT_EQ(list->HitTest(160), -1);
  plat::POINT above{5, 90};
  EXPECT_EQ(list->OnTap(&above), plat::E_FAIL);
  plat::POINT second{5, 125};
  EXPECT_EQ(list->OnTap(&second), plat::S_OK);
  EXPECT_EQ(list->activated, 1);
  // Selected item rectangle, less the separator.
  plat::RECT r{};
  ASSERT_EQ(list->GetRect(0, 0, &r, nullptr, nullptr), plat::S_OK);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.bottom, 136);
  // Paint: only visible rows, moved by the scroll offset; the selection drawn selected.
  auto target = MakeTarget(60, 200);
  LayoutPaintRecord record;
  record.dc = target->dc;
  record.focus = 1;
  record.scrollY = 25;
  record.visibleHeight = 20;
  ASSERT_EQ(list->Paint(record), plat::S_OK);
  ASSERT_EQ(list->painted.size(), 2u);
  EXPECT_EQ(list->painted[0].index, 1);
  EXPECT_EQ(list->painted[0].state, kListItemSelected);
  EXPECT_EQ(list->painted[0].top, 100 + 20 - 25);
  EXPECT_EQ(list->painted[1].index, 2);
}

TEST_F(PluginTest, TextPluginCentresItsLinesAndMeasuresItsExtraHeight) {
  for (int boxHeight : {40, 41}) {
    CComRef<ILayoutPlugin> plugin;
    plugin.Attach(CreatePlugin(u"Orv.LSP.Text"));
    auto* text = static_cast<TextPlugin*>(plugin.Get());
    const std::u16string box = std::u16string(u"0,0,200,") + (boxHeight == 40 ? u"40" : u"41");
    CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"t\" BoundRect=\"" + box +
                                             u"\"><DefaultFont Face=\"DejaVu Sans\" HeightPxl=\"16\" Color=\"ffffff\"/></Plugin>");
    ASSERT_EQ(plugin->SetProperties(item.Get()), plat::S_OK);
    text->SetText(u"Hello");
    auto painted = MakeTarget(200, 60);
    LayoutPaintRecord record;
    record.dc = painted->dc;
    ASSERT_EQ(plugin->Paint(record), plat::S_OK);
    // The same text drawn from the top of a box shrunk by 12 at both ends.
    auto expected = MakeTarget(200, 60);
    plat::HFONT font = nullptr;
    item->GetFont1(&font);
    plat::SelectObject(expected->dc, font);
    plat::SetBkMode(expected->dc, plat::TRANSPARENT);
    plat::SetTextColor(expected->dc, 0xFFFFFF);
    plat::RECT probe{0, 0, 200, boxHeight};
    const int lineHeight = plat::DrawTextW(expected->dc, u"Hello", -1, &probe, (kTextFlags & ~plat::DT_VCENTER) | plat::DT_CALCRECT);
    ASSERT_GT(lineHeight, 0);
    ASSERT_LT(lineHeight, boxHeight);
    plat::RECT r{0, 0, 200, boxHeight};
    plat::InflateRect(&r, 0, (lineHeight - boxHeight) / 2);
    plat::DrawTextW(expected->dc, u"Hello", -1, &r, kTextFlags & ~plat::DT_VCENTER);
    // Centred whatever the font's line height: the ink lies as far below the
    // line's top as the same text drawn at the top of a box, and the line
    // leaves the same room above and below it (to a pixel of rounding).
    auto atTop = MakeTarget(200, 60);
    plat::SelectObject(atTop->dc, font);
    plat::SetBkMode(atTop->dc, plat::TRANSPARENT);
    plat::SetTextColor(atTop->dc, 0xFFFFFF);
    plat::RECT top{0, 0, 200, lineHeight};
    plat::DrawTextW(atTop->dc, u"Hello", -1, &top, kTextFlags & ~plat::DT_VCENTER);
    const auto inkRows = [](auto& target) {
      int first = -1, last = -1;
      for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
          if (target->At(x, y) != 0) {
            if (first < 0) first = y;
            last = y;
          }
      return std::pair<int, int>{first, last};
    };
    const auto [topInk, topInkEnd] = inkRows(atTop);
    const auto [paintedInk, paintedInkEnd] = inkRows(painted);
    ASSERT_GE(topInk, 0);
    ASSERT_GE(paintedInk, 0);
    const int lineTop = paintedInk - topInk;
    EXPECT_EQ(paintedInkEnd - topInkEnd, lineTop) << boxHeight;
    const int roomBelow = boxHeight - (lineTop + lineHeight);
    EXPECT_LE(std::abs(lineTop - roomBelow), 1) << boxHeight << ": " << lineTop << " above, " << roomBelow << " below";
    bool same = true, lit = false;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 200; ++x) {
        same = same && painted->At(x, y) == expected->At(x, y);
        lit = lit || painted->At(x, y) != 0;
      }
    EXPECT_TRUE(lit);
    EXPECT_TRUE(same) << boxHeight;
  }
  // Content size: none without ExtraSizeY; the extra height with it.
  CComRef<ILayoutPlugin> plain;
  plain.Attach(CreatePlugin(u"Orv.LSP.Text"));
  CComRef<PlacedLayoutItem> plainItem = ItemFor(u"<Plugin Name=\"t\" BoundRect=\"0,0,30,40\"/>");
  plain->SetProperties(plainItem.Get());
  plat::SIZE size{};
  EXPECT_EQ(plain->GetContentSize(nullptr, &size), plat::S_FALSE);
  CComRef<ILayoutPlugin> growing;
  growing.Attach(CreatePlugin(u"Orv.LSP.Text"));
  CComRef<PlacedLayoutItem> growingItem = ItemFor(
      u"<Plugin Name=\"t\" BoundRect=\"0,0,30,40\"><Int Name=\"ExtraSizeY\" Value=\"1\"/>"
      u"<DefaultFont Face=\"DejaVu Sans\" HeightPxl=\"16\" Color=\"0\"/></Plugin>");
  growing->SetProperties(growingItem.Get());
  static_cast<TextPlugin*>(growing.Get())->SetText(u"one two three four five six seven");
  auto target = MakeTarget(40, 40);
  ASSERT_EQ(growing->GetContentSize(target->dc, &size), plat::S_OK);
  plat::RECT measure{0, 0, 30, 40};
  plat::HFONT font = nullptr;
  growingItem->GetFont1(&font);
  plat::SelectObject(target->dc, font);
  const int needed = plat::DrawTextW(target->dc, u"one two three four five six seven", -1, &measure,
                                     plat::DT_NOPREFIX | plat::DT_WORDBREAK | plat::DT_CENTER | plat::DT_CALCRECT);
  EXPECT_GT(needed, 40);
  EXPECT_EQ(size.cy, needed - 40);
  EXPECT_EQ(growing->GetContentSize(target->dc, nullptr), plat::E_POINTER);
}

TEST_F(PluginTest, TextPluginShowsTheDataSourcesStringOfItsName) {
  FakeHost host;
  FakeContent content;
  CComRef<PluginSite> site(new PluginSite(&host));
  CComRef<DialogContentView> view(new DialogContentView(&content));
  CPropertyList data;
  PrependStringProperty(data, CPropertyName(std::u16string_view(u"status")), u"first");
  CComRef<LayeredPropertySource> source(new LayeredPropertySource(nullptr, data));
  content.owner = source.Get();

  CComRef<ILayoutPlugin> plugin;
  plugin.Attach(CreatePlugin(u"Orv.LSP.SingleLineText"));
  auto* text = static_cast<TextPlugin*>(plugin.Get());
  EXPECT_THROW(plugin->Init(nullptr, view.Get()), COrvException);
  ASSERT_EQ(plugin->Init(site.Get(), view.Get()), plat::S_OK);
  EXPECT_EQ(text->GetWindow(), host.GetHostWindow());
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"status\" BoundRect=\"0,0,10,10\"/>");
  plugin->SetProperties(item.Get());
  EXPECT_EQ(plugin->OnCommand(0, 0), plat::S_OK);
  EXPECT_EQ(text->GetText(), u"first");
  // A source without the string: the old text is gone.
  CComRef<LayeredPropertySource> empty(new LayeredPropertySource(nullptr, CPropertyList()));
  content.owner = empty.Get();
  EXPECT_EQ(plugin->OnCommand(0, 0), plat::S_OK);
  EXPECT_EQ(text->GetText(), u"");
  EXPECT_EQ(text->FetchText(nullptr, u"status"), plat::E_FAIL);
  content.owner = nullptr;
  view->DetachContent();
  EXPECT_EQ(plugin->OnCommand(0, 0), plat::E_FAIL);
}

// A plug-in's shell-state request sets the state of the host's window.
TEST_F(PluginTest, SiteSetsTheShellStateOfTheHostWindow) {
  FakeHost host;
  host.window = plat::CreateWindowExW(0, u"static", u"", plat::WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(host.window);
  CComRef<PluginSite> site(new PluginSite(&host));
  EXPECT_EQ(site->SetShellState(plat::SHFS_HIDESIPBUTTON), plat::S_OK);
  EXPECT_EQ(plat::SHGetFullScreenState(host.window) & plat::SHFS_HIDESIPBUTTON, plat::SHFS_HIDESIPBUTTON);
  EXPECT_EQ(site->SetShellState(plat::SHFS_SHOWSIPBUTTON), plat::S_OK);
  EXPECT_EQ(plat::SHGetFullScreenState(host.window) & plat::SHFS_HIDESIPBUTTON, 0u);
  EXPECT_EQ(site->SetShellState(plat::SHFS_SHOWSIPBUTTON | plat::SHFS_HIDESIPBUTTON), plat::E_FAIL)
      << "the shell refuses a state that contradicts itself";
  site->DetachHost();
  EXPECT_EQ(site->SetShellState(plat::SHFS_HIDESIPBUTTON), plat::E_FAIL);
  EXPECT_EQ(plat::SHGetFullScreenState(host.window) & plat::SHFS_HIDESIPBUTTON, 0u);
  plat::DestroyWindow(host.window);
}

TEST_F(PluginTest, ContentInterfacesAfterTheirOwnerWent) {
  FakeHost host;
  CComRef<PluginSite> site(new PluginSite(&host));
  plat::HWND window = nullptr;
  EXPECT_EQ(site->GetWindow(&window), plat::S_OK);
  EXPECT_EQ(site->Invalidate(false), plat::S_OK);
  site->DetachHost();
  EXPECT_EQ(site->GetWindow(&window), plat::E_FAIL);
  EXPECT_EQ(site->Invalidate(true), plat::E_FAIL);
  EXPECT_EQ(host.invalidations, 1);
  EXPECT_THROW(PluginSite(nullptr), COrvException);

  FakeContent content;
  CComRef<DialogContentView> view(new DialogContentView(&content));
  plat::POINT p{5, 150};
  ASSERT_EQ(view->ContentToWindow(&p), plat::S_OK);
  EXPECT_EQ(p.y, 150 - 100 + 26);
  ASSERT_EQ(view->WindowToContent(&p), plat::S_OK);
  EXPECT_EQ(p.y, 150);
  view->DetachContent();
  EXPECT_EQ(view->ContentToWindow(&p), plat::E_FAIL);
}

TEST_F(PluginTest, LayeredSourceAndPlacedItem) {
  CPropertyList over;
  PrependIntProperty(over, CPropertyName(std::u16string_view(u"n")), 1);
  CComRef<LayeredPropertySource> overrideSource(new LayeredPropertySource(nullptr, over));
  CPropertyList list;
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"n")), 2);
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"m")), 3);
  CComRef<LayeredPropertySource> layered(new LayeredPropertySource(overrideSource.Get(), list));
  std::int32_t v = 0;
  EXPECT_EQ(layered->GetInt(u"n", &v), plat::S_OK);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(layered->GetInt(u"m", &v), plat::S_OK);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(layered->GetInt(u"x", &v), plat::E_FAIL);
  EXPECT_THROW(layered->GetInt(u"n", nullptr), COrvException);
  EXPECT_EQ(GetPropertyString(layered.Get(), u"x", u"fallback"), u"fallback");

  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"p\" BoundRect=\"1,2,3,4\" BoldFont=\"n\"><LeftTop X=\"5\" Y=\"5\"/></Plugin>");
  item->SetOrigin(0, 40);
  plat::POINT point{};
  ASSERT_EQ(item->GetPosition(&point), plat::S_OK);
  EXPECT_EQ(point.x, 5);
  EXPECT_EQ(point.y, 45);
  plat::RECT rect{};
  ASSERT_EQ(item->GetBoundRect(&rect, 0), plat::S_OK);
  EXPECT_EQ(rect.top, 42);
  EXPECT_EQ(rect.bottom, 46);
  bool off = false;
  EXPECT_EQ(item->IsBoldFontOff(&off), plat::S_OK);
  EXPECT_TRUE(off);
  plat::IUnknown* object = nullptr;
  EXPECT_EQ(item->GetObject(u"p", &object), plat::E_FAIL);
}

class RecordingScreen : public IScreenContent {
 public:
  explicit RecordingScreen(std::vector<std::pair<const RecordingScreen*, int>>& log) : log_(log) {}
  void Bind(plat::IUnknown*) override {}
  void OnScreenEvent(std::int32_t event) override { log_.emplace_back(this, event); }

 private:
  std::vector<std::pair<const RecordingScreen*, int>>& log_;
};

TEST_F(PluginTest, ScreenStackEvents) {
  std::vector<std::pair<const RecordingScreen*, int>> log;
  ContentHolder holder;
  CRefPtr<IScreenContent> a(new RecordingScreen(log)), b(new RecordingScreen(log)), c(new RecordingScreen(log));
  ASSERT_TRUE(holder.Show(a.Get(), kShowReset, nullptr));
  ASSERT_TRUE(holder.Show(b.Get(), kShowPushTransient, nullptr));
  ASSERT_TRUE(holder.Show(c.Get(), kShowPushTransient, nullptr));
  // The first transient screen left; the screen below it was covered once.
  int coveredByTransient = 0, bLeft = 0;
  for (auto& [screen, event] : log) {
    if (screen == a.Get() && event == kScreenCoveredByTransient) ++coveredByTransient;
    if (screen == b.Get() && event == kScreenLeft) ++bLeft;
  }
  EXPECT_EQ(coveredByTransient, 1);
  EXPECT_EQ(bLeft, 1);
  EXPECT_EQ(holder.GetDepth(), 2u);
  CRefPtr<IScreenContent> current, previous;
  holder.GetTransition(current, previous);
  EXPECT_EQ(current.Get(), c.Get());
  EXPECT_EQ(previous.Get(), a.Get());
  ASSERT_TRUE(holder.Back(false));
  EXPECT_EQ(holder.GetContent().Get(), a.Get());
  EXPECT_FALSE(holder.Back(false));  // one screen left: only when forced
  EXPECT_TRUE(holder.Back(true));
  EXPECT_EQ(holder.GetDepth(), 0u);
}

}  // namespace
}  // namespace layouttest
