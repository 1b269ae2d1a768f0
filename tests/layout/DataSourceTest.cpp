// Data sources: the default answers of the base source, the values of the
// progress, list-bound, progress-form and list-name sources, the binding of
// the progress form, and the update progress text.
#include "layout/DataSources.h"
#include "layout/UpdateProgressText.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

class FakeList : public CLayoutObject<IListSource> {
 public:
  FakeList() : CLayoutObject(IID_IListSource) {}
  std::int32_t GetRowCount() override { return rows; }
  std::int32_t GetUpdateProgress() override { return progress; }
  std::u16string GetEmptyText() override { return u"No channels"; }
  std::int32_t rows = 0;
  std::int32_t progress = -1;
};

// A site that counts what the data source asks of it.
class CountingSite : public CLayoutObject<IPluginSite> {
 public:
  CountingSite() : CLayoutObject(IID_IPluginSite) {}
  plat::HRESULT LoadLayout(const char16_t*) override { return plat::S_OK; }
  plat::HRESULT ReloadLayout() override { return plat::S_OK; }
  plat::HRESULT GetWindow(plat::HWND*) override { return plat::E_FAIL; }
  plat::HRESULT Invalidate(bool) override {
    ++invalidations;
    return plat::S_OK;
  }
  plat::HRESULT RedrawPlugin(ILayoutPlugin*, bool, const plat::RECT*) override { return plat::S_OK; }
  plat::HRESULT Relayout() override {
    ++relayouts;
    return plat::S_OK;
  }
  plat::HRESULT SetShellState(std::uint32_t) override { return plat::S_OK; }
  int invalidations = 0;
  int relayouts = 0;
};

UpdateProgressState g_state;
void ReadTestState(UpdateProgressState* state) { *state = g_state; }

class DataSourceTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    UpdateProgressText::SetStateReader(&ReadTestState);
    g_state = UpdateProgressState{};
  }
  void TearDown() override {
    UpdateProgressText::SetStateReader(nullptr);
    LayoutTest::TearDown();
  }
  static plat::HRESULT Int(IDataSource* source, const char16_t* name, std::int32_t* value) {
    CComRef<IPropertySource> properties;
    EXPECT_EQ(source->QueryInterface(IID_IPropertySource, reinterpret_cast<void**>(properties.Receive())), plat::S_OK);
    return properties->GetInt(name, value);
  }
  static plat::HRESULT String(IDataSource* source, const char16_t* name, std::u16string* value) {
    CComRef<IPropertySource> properties;
    void* out = nullptr;
    EXPECT_EQ(source->QueryService(IID_IPropertySource, &out), plat::S_OK);
    properties.Attach(static_cast<IPropertySource*>(out));
    return properties->GetString(name, value);
  }
};

TEST_F(DataSourceTest, TheBaseSourceAnswersWithItsDefaults) {
  CComRef<CDataSource> source(new CDataSource());
  void* out = nullptr;
  EXPECT_EQ(source->QueryInterface(IID_IDataSource, nullptr), plat::E_INVALIDARG);
  EXPECT_EQ(source->QueryInterface(IID_ILayoutItem, &out), plat::E_NOINTERFACE);
  EXPECT_EQ(source->QueryService(IID_IDataSource, &out), plat::S_FALSE);
  LayoutItemDescription item;
  std::int32_t flag = 0;
  EXPECT_EQ(source->QueryItemState(item, 2, &flag), plat::S_OK);
  EXPECT_EQ(flag, 1);
  plat::SIZE size{};
  EXPECT_EQ(source->MeasureItem(item, nullptr, &size), plat::S_FALSE);
  EXPECT_EQ(source->ActivateItem(item, nullptr, 0), plat::S_FALSE);
  EXPECT_EQ(source->ReleaseItem(item, nullptr), plat::S_FALSE);
  EXPECT_EQ(source->PaintItem(item, LayoutPaintRecord{}), plat::S_FALSE) << "the plug-in paints itself";
  std::u16string text;
  EXPECT_EQ(String(source.Get(), u"status", &text), plat::S_FALSE);
  EXPECT_EQ(String(source.Get(), nullptr, &text), plat::S_FALSE);

  // The update-progress event: handled, and the screen is laid out again.
  CComRef<CountingSite> site(new CountingSite());
  item.site = site.Get();
  EXPECT_EQ(source->OnEvent(item, 21, 32868, nullptr), plat::S_OK);
  EXPECT_EQ(site->relayouts, 1);
  EXPECT_EQ(site->invalidations, 1);
  EXPECT_EQ(source->OnEvent(item, 21, 5, nullptr), plat::S_FALSE);
  EXPECT_EQ(source->OnEvent(item, 8, 32868, nullptr), plat::S_FALSE);
  EXPECT_EQ(site->relayouts, 1);
}

TEST_F(DataSourceTest, ProgressValuesFromTheUpdateState) {
  CComRef<CProgressDataSource> source(new CProgressDataSource());
  g_state.updating = true;
  g_state.count = 4;
  g_state.position = 2;
  g_state.percent = 50;
  g_state.bytes = 2560;
  EXPECT_EQ(source->Refresh(), 1);
  std::int32_t percent = 0;
  EXPECT_EQ(Int(source.Get(), u"progress", &percent), plat::S_OK);
  EXPECT_EQ(percent, 37);  // (1 * 100 + 50) / 4
  EXPECT_EQ(Int(source.Get(), u"Progress", &percent), plat::S_OK);
  std::u16string text;
  EXPECT_EQ(String(source.Get(), u"message", &text), plat::S_OK);
  EXPECT_EQ(text, u"2/4 | 3 kb");
  EXPECT_EQ(String(source.Get(), u"status", &text), plat::S_OK);
  EXPECT_EQ(String(source.Get(), u"Status", &text), plat::S_FALSE) << "names compare with case";
  EXPECT_EQ(Int(source.Get(), u"PROGRESS", &percent), plat::S_FALSE);
  CComRef<IPropertySource> properties;
  source->QueryInterface(IID_IPropertySource, reinterpret_cast<void**>(properties.Receive()));
  EXPECT_EQ(properties->GetInt(u"progress", nullptr), plat::E_POINTER);

  g_state = UpdateProgressState{};
  source->Refresh();
  EXPECT_EQ(Int(source.Get(), u"progress", &percent), plat::S_OK);
  EXPECT_EQ(percent, -1);
  EXPECT_EQ(String(source.Get(), u"message", &text), plat::S_OK);
  EXPECT_EQ(text, u"");
}

TEST_F(DataSourceTest, UpdateProgressTextOfAnEmptyRun) {
  UpdateProgressText progress;
  UpdateProgressState state;
  state.updating = true;
  state.count = 0;
  state.position = 0;
  state.bytes = 511;
  progress.Update(state);
  EXPECT_EQ(progress.percent, 0);
  EXPECT_EQ(progress.message, u"0/0 | 0 kb");
}

TEST_F(DataSourceTest, ListBoundValuesAreClampedAndTheEmptyTextShowsOnlyWhenEmpty) {
  CComRef<FakeList> list(new FakeList());
  CComRef<CListDataSource> source(new CListDataSource(list.Get()));
  const std::pair<std::int32_t, std::int32_t> cases[] = {{150, 100}, {-5, -1}, {-1, -1}, {42, 42}};
  for (const auto& [given, read] : cases) {
    list->progress = given;
    std::int32_t value = 0;
    EXPECT_EQ(Int(source.Get(), u"Progress", &value), plat::S_OK);
    EXPECT_EQ(value, read) << given;
  }
  std::u16string text;
  EXPECT_EQ(String(source.Get(), u"EmptyList", &text), plat::S_OK);
  EXPECT_EQ(text, u"No channels");
  std::uint8_t shown = 1;
  EXPECT_EQ(source->IsPluginShown(u"EmptyList", &shown), plat::S_OK);
  EXPECT_EQ(shown, 1);
  list->rows = 3;
  EXPECT_EQ(source->IsPluginShown(u"EmptyList", &shown), plat::S_OK);
  EXPECT_EQ(shown, 0);
  // Through the paint: a hidden item is not painted, and that is the answer.
  LayoutItemDescription item;
  item.name = u"EmptyList";
  EXPECT_EQ(source->PaintItem(item, LayoutPaintRecord{}), plat::S_OK);
  shown = 7;
  EXPECT_EQ(source->IsPluginShown(u"Other", &shown), plat::S_FALSE);
  EXPECT_EQ(shown, 7);
}

TEST_F(DataSourceTest, ProgressFormAsksItsProgressFirstThenTheList) {
  CComRef<FakeList> list(new FakeList());
  list->progress = 77;
  CComRef<CProgressFormDataSource> source(new CProgressFormDataSource(list.Get()));
  std::int32_t value = 0;
  EXPECT_EQ(Int(source.Get(), u"Progress", &value), plat::S_OK);
  EXPECT_EQ(value, -1) << "the source's own progress answers first";
  std::u16string text;
  EXPECT_EQ(String(source.Get(), u"EmptyList", &text), plat::S_OK);
  std::uint8_t shown = 1;
  EXPECT_EQ(source->IsPluginShown(u"ProgressForm", &shown), plat::S_OK);
  EXPECT_EQ(shown, 0);
  source->SetProgressFormShown(true);
  EXPECT_EQ(source->IsPluginShown(u"ProgressForm", &shown), plat::S_OK);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(source->IsPluginShown(u"EmptyList", &shown), plat::S_OK);
}

// A form plug-in that records what it is asked to show.
class FakeForm : public LayoutPluginBase, public IFormPlugin {
 public:
  plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override {
    return LayoutPluginBase::QueryInterface(iid, object);
  }
  plat::ULONG AddRef() override { return LayoutPluginBase::AddRef(); }
  plat::ULONG Release() override { return LayoutPluginBase::Release(); }
  plat::HRESULT QueryOwnInterface(plat::REFIID iid, void** object) override {
    if (!SameIid(iid, IID_IFormPlugin)) return plat::E_NOINTERFACE;
    *object = static_cast<IFormPlugin*>(this);
    AddRef();
    return plat::S_OK;
  }
  plat::HRESULT GetRootContent(IScreenContent**) override { return plat::E_FAIL; }
  plat::HRESULT ShowContent(IScreenContent*, plat::IUnknown*) override { return plat::E_FAIL; }
  plat::HRESULT ShowLayoutByName(const char16_t* name, plat::IUnknown* owner) override {
    shown = name;
    this->owner = owner;
    return plat::S_OK;
  }
  std::u16string shown;
  plat::IUnknown* owner = nullptr;
};

class FormView : public IDialogContentHost {
 public:
  plat::HRESULT QueryOwner(plat::REFIID, void**) override { return plat::E_NOINTERFACE; }
  std::int32_t GetPluginCount() override { return 1; }
  plat::HRESULT GetPluginByIndex(std::int32_t, ILayoutPlugin**, ILayoutItem**) override { return plat::E_INVALIDARG; }
  plat::HRESULT GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem**) override {
    if (std::u16string_view(name) != u"ProgressForm" || !form) return plat::E_INVALIDARG;
    *plugin = form;
    form->AddRef();
    return plat::S_OK;
  }
  plat::HRESULT Dispatch(std::int32_t, std::intptr_t, void*) override { return plat::S_FALSE; }
  plat::HRESULT SelectByName(const char16_t*) override { return plat::E_FAIL; }
  plat::HRESULT GetSelectedName(std::u16string*) override { return plat::S_FALSE; }
  void SetScrollOrigin(plat::POINT) override {}
  plat::POINT GetScrollOrigin() override { return {}; }
  plat::HRESULT EnsureVisible(const plat::RECT*) override { return plat::S_OK; }
  plat::POINT GetViewPosition() override { return {}; }
  ILayoutPlugin* form = nullptr;
};

TEST_F(DataSourceTest, ProgressFormShowsTheProgressLayoutWhenThePluginsExist) {
  CComRef<FakeList> list(new FakeList());
  CComRef<CProgressFormDataSource> source(new CProgressFormDataSource(list.Get()));
  CComRef<FakeForm> form(new FakeForm());
  FormView host;
  host.form = form.Get();
  CComRef<DialogContentView> view(new DialogContentView(&host));
  source->OnBuild(0, view.Get());
  EXPECT_TRUE(form->shown.empty());
  source->OnBuild(1, view.Get());
  EXPECT_EQ(form->shown, u"progress");
  EXPECT_EQ(form->owner, static_cast<plat::IUnknown*>(static_cast<IDataSource*>(source.Get())));
  // Without the plug-in the phase passes quietly.
  host.form = nullptr;
  form->shown.clear();
  EXPECT_EQ(source->OnBuild(1, view.Get()), plat::S_FALSE);
  EXPECT_TRUE(form->shown.empty());
  view->DetachContent();
}

TEST_F(DataSourceTest, ListNameSourceServesTheListName) {
  CComRef<CListNameDataSource> source(new CListNameDataSource());
  std::u16string text = u"x";
  EXPECT_EQ(String(source.Get(), u"List", &text), plat::S_OK);
  EXPECT_EQ(text, u"");
  source->SetListName(u"Channels");
  EXPECT_EQ(String(source.Get(), u"List", &text), plat::S_OK);
  EXPECT_EQ(text, u"Channels");
  EXPECT_EQ(String(source.Get(), u"list", &text), plat::S_FALSE);
  std::int32_t value = 0;
  EXPECT_EQ(Int(source.Get(), u"List", &value), plat::S_FALSE);
}

}  // namespace
}  // namespace layouttest
