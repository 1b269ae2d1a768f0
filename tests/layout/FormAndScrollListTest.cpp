// The "Form" plug-in (a layout shown inside a layout: the progress form,
// forwarding to the nested screen, its own screen stack) and the
// "ScrollList" plug-in (rows from the data source's entry service).
#include "layout/DialogContent.h"
#include "layout/FormPlugin.h"
#include "layout/LayoutRules.h"
#include "layout/ScrollListPlugin.h"
#include "tests/layout/ContentFixture.h"

namespace layouttest {
namespace {

using XmlLayouts::CDialogContent;

constexpr std::uint16_t To565(plat::COLORREF c) {
  return static_cast<std::uint16_t>(((plat::GetRValue(c) >> 3) << 11) | ((plat::GetGValue(c) >> 2) << 5) |
                                    (plat::GetBValue(c) >> 3));
}
constexpr plat::COLORREF kBlue = plat::RGB(0, 0, 255);
constexpr plat::COLORREF kRed = plat::RGB(255, 0, 0);
constexpr plat::COLORREF kGreen = plat::RGB(0, 255, 0);

class NoList : public CLayoutObject<IListSource> {
 public:
  NoList() : CLayoutObject(IID_IListSource) {}
  std::int32_t GetRowCount() override { return 0; }
  std::int32_t GetUpdateProgress() override { return 40; }
  std::u16string GetEmptyText() override { return u""; }
};

std::u16string FormEntry(const std::u16string& name, int x, int y, int w, int h) {
  auto n = [](int v) { return plat::Utf8ToUtf16(std::to_string(v)); };
  return u"<Plugin Name=\"" + name + u"\" Class=\"Orv.LSP.Form\" BoundRect=\"" + n(x) + u"," + n(y) + u"," + n(w) +
         u"," + n(h) + u"\"/>";
}

class FormTest : public ScreenTest {
 protected:
  CRefPtr<CDialogContent> ShowHost(const std::u16string& plugins, plat::IUnknown* owner) {
    AddLayout(u"main", OneLayout(u"main", plugins));
    EXPECT_TRUE(manager_->ShowLayout(u"main", kShowReplace, owner));
    return manager_->GetContent();
  }
  static CComRef<ILayoutPlugin> Plugin(CDialogContent& content, const char16_t* name) {
    CComRef<ILayoutPlugin> plugin;
    EXPECT_TRUE(content.FindPluginByName(name, plugin.Receive(), nullptr));
    return plugin;
  }
  static CComRef<IFormPlugin> Form(ILayoutPlugin* plugin) {
    CComRef<IFormPlugin> form;
    EXPECT_EQ(plugin->QueryOwnInterface(IID_IFormPlugin, reinterpret_cast<void**>(form.Receive())), plat::S_OK);
    return form;
  }
  // A content of a layout given as text, over the manager's site.
  CRefPtr<CDialogContent> MakeContent(const std::u16string& text) {
    CRefPtr<LayoutDocument> document = ParseLayoutText(text);
    CRefPtr<LayoutDefinition> layout = SelectLayout(*document);
    return CRefPtr<CDialogContent>(new CDialogContent(layout.Get(), manager_->GetSite()));
  }
};

TEST_F(FormTest, TheProgressFormShowsTheProgressLayoutInsideItsRectangle) {
  CComRef<NoList> list(new NoList());
  CComRef<CProgressFormDataSource> source(new CProgressFormDataSource(list.Get()));
  AddLayout(u"progress", OneLayout(u"progress", Box(u"bar", 0, 0, 200, 50, Fill(kRed)) +
                                                    Box(u"tail", 300, 10, 60, 20, Fill(kGreen))));
  auto host = ShowHost(Box(u"bg", 0, 0, 480, 640, Fill(kBlue)) + FormEntry(u"ProgressForm", 40, 100, 400, 200),
                       static_cast<IDataSource*>(source.Get()));
  ASSERT_TRUE(host);
  auto plugin = Plugin(*host, u"ProgressForm");
  auto* form = static_cast<FormPlugin*>(plugin.Get());
  auto nested = form->GetNested();
  ASSERT_TRUE(nested) << "the data source put the layout \"progress\" into the form";
  EXPECT_EQ(nested->GetLayout()->GetName(), u"progress");
  EXPECT_EQ(nested->GetHandler(), static_cast<IDataSource*>(source.Get())) << "the source feeds the nested screen";
  // The nested view is the form's rectangle on the screen.
  const LayoutViewRecord& view = nested->GetViewRecord();
  EXPECT_EQ(view.x, 40);
  EXPECT_EQ(view.y, 100);
  EXPECT_EQ(view.width, 400);
  EXPECT_EQ(view.height, 200);

  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("form_progress");
  const struct {
    int x, y;
    plat::COLORREF colour;
  } probes[] = {
      {45, 105, kRed},    {239, 149, kRed},   {240, 149, kBlue},  {239, 150, kBlue}, {39, 120, kBlue},
      {345, 115, kGreen}, {399, 129, kGreen}, {400, 129, kBlue},  {10, 10, kBlue},   {470, 630, kBlue},
  };
  for (const auto& p : probes) {
    EXPECT_EQ(Pixel(p.x, p.y), To565(p.colour)) << "at " << p.x << "," << p.y;
  }
}

TEST_F(FormTest, ALayoutPassWithTheFormHalfOutsideBuildsTheVisibleHalfOnly) {
  auto host = ShowHost(FormEntry(u"F", 300, 600, 400, 200), nullptr);
  auto plugin = Plugin(*host, u"F");
  AddLayout(u"inner", OneLayout(u"inner", Box(u"x", 0, 0, 50, 50)));
  ASSERT_EQ(Form(plugin.Get())->ShowLayoutByName(u"inner", nullptr), plat::S_OK);
  const LayoutViewRecord& view = static_cast<FormPlugin*>(plugin.Get())->GetNested()->GetViewRecord();
  EXPECT_EQ(view.x, 300);
  EXPECT_EQ(view.y, 600);
  EXPECT_EQ(view.width, 180);
  EXPECT_EQ(view.height, 40);
  EXPECT_EQ(Form(plugin.Get())->ShowLayoutByName(u"nowhere", nullptr), plat::E_FAIL);
  EXPECT_EQ(Form(plugin.Get())->ShowContent(nullptr, nullptr), plat::E_FAIL);
}

TEST_F(FormTest, AnEmptyFormPaintsNothingAndTakesNothing) {
  auto host = ShowHost(Box(u"bg", 0, 0, 480, 640, Fill(kBlue)) + FormEntry(u"F", 40, 100, 400, 200), nullptr);
  auto plugin = Plugin(*host, u"F");
  std::int32_t kind = -1;
  EXPECT_EQ(plugin->GetKind(2, &kind), plat::S_OK);
  EXPECT_EQ(kind, 0);
  const plat::POINT p{50, 110};
  EXPECT_EQ(plugin->OnFocus(0, &p, nullptr), plat::E_FAIL);
  EXPECT_EQ(plugin->OnFocus(kKeyDown, nullptr, nullptr), plat::E_FAIL);
  std::int32_t handled = 7;
  EXPECT_EQ(plugin->OnKey(kVkDown, &handled), plat::E_FAIL);
  EXPECT_EQ(handled, 7);
  EXPECT_EQ(plugin->ReservedB(&p, 0), plat::E_FAIL);
  EXPECT_EQ(plugin->OnTap(&p), plat::E_FAIL);
  GestureRecord drag{50, 110};
  for (std::int32_t event : {2, 8, 10, 19, 21}) EXPECT_EQ(plugin->ReservedC(event, 'a', &drag), plat::S_FALSE);
  EXPECT_EQ(plugin->GetContentSize(nullptr, nullptr), plat::S_FALSE);
  plat::RECT whole{};
  EXPECT_EQ(plugin->GetRect(0, 1, &whole, nullptr, nullptr), plat::S_OK);
  EXPECT_EQ(whole.left, 40);
  EXPECT_EQ(whole.bottom, 300);
  EXPECT_EQ(plugin->GetRect(0, 0, &whole, nullptr, nullptr), plat::E_FAIL);
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(100, 150), To565(kBlue));
}

TEST_F(FormTest, PressesTapsKeysAndDragsReachTheNestedScreen) {
  auto host = ShowHost(FormEntry(u"F", 40, 100, 400, 200), nullptr);
  auto plugin = Plugin(*host, u"F");
  CComRef<RecordingSource> inner(new RecordingSource());
  AddLayout(u"inner", OneLayout(u"inner", Box(u"one", 0, 0, 100, 50, u"<String Name=\"Key\" Value=\"xA\"/>") +
                                              Box(u"two", 0, 60, 100, 50, u"<String Name=\"Key\" Value=\"ba\"/>") +
                                              Box(u"glass", 200, 0, 50, 50, u"<String Name=\"Key\" Value=\"a\"/>" +
                                                                                 IntValue(u"Kind", 0))));
  ASSERT_EQ(Form(plugin.Get())->ShowLayoutByName(u"inner", static_cast<IDataSource*>(inner.Get())), plat::S_OK);
  auto nested = static_cast<FormPlugin*>(plugin.Get())->GetNested();
  ASSERT_TRUE(nested);
  auto box = [&](const char16_t* name) {
    CComRef<ILayoutPlugin> p;
    nested->FindPluginByName(name, p.Receive(), nullptr);
    return static_cast<BoxPlugin*>(p.Get());
  };
  std::int32_t kind = 0;
  EXPECT_EQ(plugin->GetKind(2, &kind), plat::S_OK);
  EXPECT_EQ(kind, 2);

  // A press at the host's (50, 170) is (10, 70) in the form: "two".
  const plat::POINT press{50, 170};
  EXPECT_EQ(plugin->OnFocus(0, &press, nullptr), plat::S_OK);
  EXPECT_EQ(nested->GetSelectedIndex(), 1);
  EXPECT_EQ(box(u"two")->lastFocusPoint.y, 70);
  plat::RECT rect{};
  EXPECT_EQ(plugin->GetRect(0, 0, &rect, nullptr, nullptr), plat::S_OK);
  EXPECT_EQ(rect.top, 60);
  EXPECT_EQ(plugin->OnTap(&press), plat::S_OK);
  EXPECT_EQ(box(u"two")->taps, 1);
  const plat::POINT outside{300, 290};
  EXPECT_EQ(plugin->OnTap(&outside), plat::E_FAIL);
  EXPECT_EQ(plugin->ReservedB(nullptr, 3), plat::S_OK);
  EXPECT_EQ(box(u"two")->lastActivateFlag, 3);
  std::int32_t handled = 0;
  EXPECT_EQ(plugin->OnKey(kVkUp, &handled), plat::S_OK);
  EXPECT_EQ(nested->GetSelectedIndex(), 0);

  // The character "a": "two" holds it and takes the pointer; "one" holds "A"
  // only; "glass" holds it but takes no pointer.
  const int activationsBefore = box(u"two")->activations;
  EXPECT_EQ(plugin->ReservedC(19, 'a', nullptr), plat::S_OK);
  EXPECT_EQ(nested->GetSelectedIndex(), 1);
  EXPECT_EQ(box(u"two")->activations, activationsBefore + 1);
  EXPECT_EQ(box(u"two")->taps, 2) << "a handled activation is released";
  EXPECT_EQ(plugin->ReservedC(19, 'q', nullptr), plat::S_FALSE);

  // Drags: only inside the form's rectangle.
  GestureRecord in{100, 150, 100, 150, 100, 140};
  GestureRecord out{10, 10, 10, 10, 10, 0};
  inner->events.clear();
  EXPECT_EQ(plugin->ReservedC(8, 0, &out), plat::S_FALSE);
  EXPECT_TRUE(inner->events.empty());
  plugin->ReservedC(8, 0, &in);
  EXPECT_EQ(inner->events, (std::vector<std::int32_t>{8}));
  EXPECT_EQ(plugin->ReservedC(8, 0, nullptr), plat::S_FALSE);
}

TEST_F(FormTest, TheFormKeepsItsOwnScreenStack) {
  auto host = ShowHost(FormEntry(u"F", 40, 100, 400, 200), nullptr);
  auto plugin = Plugin(*host, u"F");
  auto form = Form(plugin.Get());
  CComRef<RecordingSource> first(new RecordingSource());
  CComRef<RecordingSource> second(new RecordingSource());
  auto a = MakeContent(OneLayout(u"a", Box(u"x", 0, 0, 10, 10)));
  auto b = MakeContent(OneLayout(u"b", Box(u"y", 0, 0, 10, 10)));
  ASSERT_EQ(form->ShowContent(a.Get(), static_cast<IDataSource*>(first.Get())), plat::S_OK);
  IScreenContent* root = nullptr;
  ASSERT_EQ(form->GetRootContent(&root), plat::S_OK);
  EXPECT_EQ(root, a.Get());
  ReleaseRefPtr(root);
  first->events.clear();
  ASSERT_EQ(form->ShowContent(b.Get(), static_cast<IDataSource*>(second.Get())), plat::S_OK);
  EXPECT_EQ(first->events, (std::vector<std::int32_t>{kScreenLeft})) << "the first content left the stack";
  ASSERT_EQ(form->GetRootContent(&root), plat::S_OK);
  EXPECT_EQ(root, b.Get());
  ReleaseRefPtr(root);
  EXPECT_EQ(static_cast<FormPlugin*>(plugin.Get())->GetHolder().GetDepth(), 1u);

  // Event 10 empties the stack and still goes on to other receivers.
  second->events.clear();
  EXPECT_EQ(plugin->ReservedC(10, 0, nullptr), plat::S_FALSE);
  EXPECT_EQ(second->events, (std::vector<std::int32_t>{kScreenLeft}));
  ASSERT_EQ(form->GetRootContent(&root), plat::S_OK);
  EXPECT_EQ(root, nullptr);
  EXPECT_FALSE(static_cast<FormPlugin*>(plugin.Get())->GetNested());
}

TEST_F(FormTest, PopToRootTellsTheRootAndEveryContentAboveIt) {
  ContentHolder holder;
  std::vector<std::u16string> order;
  CComRef<RecordingSource> sources[3] = {CComRef<RecordingSource>(new RecordingSource()),
                                         CComRef<RecordingSource>(new RecordingSource()),
                                         CComRef<RecordingSource>(new RecordingSource())};
  CRefPtr<CDialogContent> contents[3];
  for (int i = 0; i < 3; ++i) {
    contents[i] = MakeContent(OneLayout(u"c", Box(u"x", 0, 0, 10, 10)));
    ASSERT_TRUE(holder.Show(contents[i].Get(), i == 0 ? kShowReset : kShowPush,
                            static_cast<IDataSource*>(sources[i].Get())));
  }
  for (auto& source : sources) source->events.clear();
  ASSERT_TRUE(holder.PopToRoot(false));
  EXPECT_EQ(sources[0]->events, (std::vector<std::int32_t>{kScreenAboutToBeUncovered, kScreenUncovered}));
  EXPECT_EQ(sources[1]->events, (std::vector<std::int32_t>{kScreenLeft}));
  EXPECT_EQ(sources[2]->events, (std::vector<std::int32_t>{kScreenLeft}));
  EXPECT_EQ(holder.GetContent().Get(), contents[0].Get());
  EXPECT_EQ(holder.GetDepth(), 1u);
  ASSERT_TRUE(holder.PopToRoot(true));
  EXPECT_EQ(holder.GetDepth(), 0u);
  EXPECT_FALSE(holder.GetContent());
}

// A nested screen that asks the form for its stack while it goes away.
class ProbeContent : public CDialogContent {
 public:
  ProbeContent(LayoutDefinition* layout, IPluginSite* site, IFormPlugin* form, plat::HRESULT* answer)
      : CDialogContent(layout, site), form_(form), answer_(answer) {}

 protected:
  ~ProbeContent() override {
    IScreenContent* root = reinterpret_cast<IScreenContent*>(1);
    *answer_ = form_->GetRootContent(&root);
    if (root) *answer_ = plat::E_NOINTERFACE;
  }

 private:
  IFormPlugin* form_;  // not counted: the form owns this content
  plat::HRESULT* answer_;
};

TEST_F(FormTest, TheFormLetsItsScreensGoWhileItsStackStillWorks) {
  auto host = ShowHost(FormEntry(u"F", 40, 100, 400, 200), nullptr);
  plat::HRESULT answer = plat::E_POINTER;
  {
    auto plugin = Plugin(*host, u"F");
    auto form = Form(plugin.Get());
    CRefPtr<LayoutDocument> document = ParseLayoutText(OneLayout(u"p", Box(u"x", 0, 0, 10, 10)));
    CRefPtr<LayoutDefinition> layout = SelectLayout(*document);
    CRefPtr<ProbeContent> probe(new ProbeContent(layout.Get(), manager_->GetSite(), form.Get(), &answer));
    ASSERT_EQ(form->ShowContent(probe.Get(), nullptr), plat::S_OK);
  }
  host.Reset();
  AddLayout(u"other", OneLayout(u"other", Box(u"x", 0, 0, 10, 10)));
  ASSERT_TRUE(manager_->ShowLayout(u"other", kShowReplace, nullptr));
  EXPECT_EQ(answer, plat::S_OK) << "the screen went with the form, and the form's stack answered it";
}

// ---------------------------------------------------------------------------
// ScrollList

struct EntryLog {
  int inits = 0, properties = 0, activations = 0, onActivated = 0, paints = 0;
};

class ColourEntry : public ScrollListEntry {
 public:
  ColourEntry(plat::COLORREF colour, std::int32_t answer, EntryLog& log) : colour_(colour), answer_(answer), log_(log) {}
  plat::HRESULT OnActivated() override {
    ++log_.onActivated;
    return plat::S_OK;
  }
  std::int32_t Activate(std::int32_t, const plat::RECT& rect, std::intptr_t) override {
    ++log_.activations;
    lastRect = rect;
    return answer_;
  }
  std::int32_t GetHeight(std::int32_t) override { return 40; }
  bool IsSelectable(std::int32_t) override { return true; }
  plat::HRESULT Paint(CBitmapBuffer&, plat::HDC dc, std::int32_t, const plat::RECT& rect) override {
    ++log_.paints;
    plat::HBRUSH brush = plat::CreateSolidBrush(colour_);
    plat::FillRect(dc, &rect, brush);
    plat::DeleteObject(brush);
    return plat::S_OK;
  }
  plat::HRESULT Init(IPluginSite* site, IDialogContent* content) override {
    ++log_.inits;
    return site && content ? plat::S_OK : plat::E_FAIL;
  }
  plat::HRESULT SetProperties(ILayoutItem* item) override {
    ++log_.properties;
    return item ? plat::S_OK : plat::E_FAIL;
  }
  plat::RECT lastRect{};

 private:
  plat::COLORREF colour_;
  std::int32_t answer_;
  EntryLog& log_;
};

// A data source whose entry service gives the rows red, green, blue; the
// green row does not take activation.
class RowSource : public RecordingSource, public IScrollListSource {
 public:
  plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override { return RecordingSource::QueryInterface(iid, object); }
  plat::ULONG AddRef() override { return RecordingSource::AddRef(); }
  plat::ULONG Release() override { return RecordingSource::Release(); }
  plat::HRESULT QueryService(plat::REFIID iid, void** object) override {
    if (!SameIid(iid, IID_IScrollListSource)) return RecordingSource::QueryService(iid, object);
    ++services;
    *object = static_cast<IScrollListSource*>(this);
    AddRef();
    return plat::S_OK;
  }
  plat::HRESULT FillList(ScrollListPlugin* list) override {
    ++fills;
    const plat::COLORREF colours[] = {kRed, kGreen, kBlue};
    for (int i = 0; i < 3; ++i) {
      CRefPtr<ColourEntry> entry(new ColourEntry(colours[i], i == 1 ? 0 : 1, log));
      list->AddEntry(entry.Get());
    }
    return plat::S_OK;
  }
  EntryLog log;
  int services = 0, fills = 0;
};

TEST_F(FormTest, AScrollListDrawsTheSourcesRowsOnceEachAfterEveryLayoutPass) {
  CComRef<RowSource> source(new RowSource());
  auto host = ShowHost(u"<Plugin Name=\"rows\" Class=\"Orv.LSP.ScrollList\" BoundRect=\"20,30,200,300\"/>",
                       static_cast<IDataSource*>(source.Get()));
  auto plugin = Plugin(*host, u"rows");
  auto* list = static_cast<ScrollListPlugin*>(plugin.Get());
  manager_->Relayout();
  manager_->Relayout();
  EXPECT_GE(source->fills, 3);
  EXPECT_EQ(list->GetEntryCount(), 3) << "a layout pass replaces the rows, never appends them again";
  EXPECT_EQ(list->GetItemCount(), 3);
  EXPECT_EQ(source->log.inits, 3 * source->fills);

  source->log.paints = 0;
  ASSERT_TRUE(manager_->ProcessPaint());
  Shoot("scroll_list");
  EXPECT_EQ(source->log.paints, 3);
  EXPECT_EQ(Pixel(25, 35), To565(kRed));
  EXPECT_EQ(Pixel(215, 69), To565(kRed));
  EXPECT_EQ(Pixel(25, 70), To565(kGreen));
  EXPECT_EQ(Pixel(25, 149), To565(kBlue));
  EXPECT_EQ(Pixel(25, 150), 0) << "nothing under the last row";
  EXPECT_EQ(Pixel(19, 35), 0);

  // A tap on the blue row activates it; the green row answers 0 and is not
  // told it was activated.
  const plat::POINT blue{30, 130};
  EXPECT_EQ(plugin->OnTap(&blue), plat::S_OK);
  EXPECT_EQ(list->GetSelection(), 2);
  EXPECT_EQ(source->log.onActivated, 1);
  auto* blueEntry = static_cast<ColourEntry*>(list->GetEntry(2));
  EXPECT_EQ(blueEntry->lastRect.top, 110);
  EXPECT_EQ(blueEntry->lastRect.bottom, 150);
  const plat::POINT green{30, 80};
  EXPECT_EQ(plugin->OnTap(&green), 0);
  EXPECT_EQ(source->log.activations, 2);
  EXPECT_EQ(source->log.onActivated, 1);
}

TEST_F(FormTest, AScrollListWithoutTheEntryServiceStaysEmpty) {
  CComRef<RecordingSource> source(new RecordingSource());
  auto host = ShowHost(Box(u"bg", 0, 0, 480, 640, Fill(kBlue)) +
                           u"<Plugin Name=\"rows\" Class=\"Orv.LSP.ScrollList\" BoundRect=\"20,30,200,300\"/>",
                       static_cast<IDataSource*>(source.Get()));
  auto plugin = Plugin(*host, u"rows");
  auto* list = static_cast<ScrollListPlugin*>(plugin.Get());
  LayoutViewRecord view;
  EXPECT_EQ(plugin->OnCommand(reinterpret_cast<std::intptr_t>(&view), 0), plat::E_FAIL);
  EXPECT_EQ(list->GetEntryCount(), 0);
  ASSERT_TRUE(manager_->ProcessPaint());
  EXPECT_EQ(Pixel(25, 35), To565(kBlue));
  // No owner at all: the owner query's failure.
  auto bare = ShowHost(u"<Plugin Name=\"rows\" Class=\"Orv.LSP.ScrollList\" BoundRect=\"20,30,200,300\"/>", nullptr);
  EXPECT_TRUE(plat::FAILED(Plugin(*bare, u"rows")->OnCommand(reinterpret_cast<std::intptr_t>(&view), 0)));
}

}  // namespace
}  // namespace layouttest
