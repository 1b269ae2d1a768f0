// Hosts of single plug-ins: a site host and a content host that answer
// fixed values, and a plug-in entry of a one-plug-in layout.
#pragma once

#include <cstdint>
#include <string>

#include "layout/LayoutDocument.h"
#include "layout/LayoutPlugin.h"

namespace layouttest {

class FakeHost : public IPluginSiteHost {
 public:
  plat::HRESULT LoadLayout(const char16_t*) override { return plat::S_OK; }
  plat::HRESULT ReloadLayout() override { return plat::S_OK; }
  plat::HWND GetHostWindow() override { return window; }
  void InvalidateAll(bool) override { ++invalidations; }
  plat::HRESULT RedrawPlugin(ILayoutPlugin*, bool, const plat::RECT*) override { return plat::S_OK; }
  plat::HRESULT Relayout() override { return plat::S_OK; }
  int invalidations = 0;
  plat::HWND window = reinterpret_cast<plat::HWND>(static_cast<std::uintptr_t>(77));
};

class FakeContent : public IDialogContentHost {
 public:
  plat::HRESULT QueryOwner(plat::REFIID iid, void** object) override {
    return owner ? owner->QueryInterface(iid, object) : plat::E_NOINTERFACE;
  }
  std::int32_t GetPluginCount() override { return 0; }
  plat::HRESULT GetPluginByIndex(std::int32_t, ILayoutPlugin**, ILayoutItem**) override { return plat::E_INVALIDARG; }
  plat::HRESULT GetPluginByName(const char16_t*, ILayoutPlugin**, ILayoutItem**) override { return plat::E_INVALIDARG; }
  plat::HRESULT Dispatch(std::int32_t, std::intptr_t, void*) override { return plat::S_FALSE; }
  plat::HRESULT SelectByName(const char16_t* name) override {
    selected = name ? name : u"";
    return plat::E_FAIL;
  }
  plat::HRESULT GetSelectedName(std::u16string*) override { return plat::S_FALSE; }
  void SetScrollOrigin(plat::POINT p) override { origin = p; }
  plat::POINT GetScrollOrigin() override { return origin; }
  plat::HRESULT EnsureVisible(const plat::RECT* r) override {
    ++ensured;
    if (r) lastEnsured = *r;
    return plat::S_OK;
  }
  plat::POINT GetViewPosition() override { return {0, 26}; }
  plat::IUnknown* owner = nullptr;
  plat::POINT origin{0, 100};
  std::u16string selected;
  int ensured = 0;
  plat::RECT lastEnsured{};
};

// A plug-in entry of a small document.
inline CComRef<PlacedLayoutItem> ItemFor(const std::u16string& pluginXml) {
  CRefPtr<LayoutDocument> doc =
      ParseLayoutText(u"<Layouts><Layout Name=\"L\" DontScale=\"1\"><Plugins>" + pluginXml + u"</Plugins></Layout></Layouts>");
  return CComRef<PlacedLayoutItem>(new PlacedLayoutItem(doc->GetSet().GetLayouts()[0]->GetEntries()[0]->GetProperties()));
}

}  // namespace layouttest
