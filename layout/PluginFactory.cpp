#include "layout/PluginFactory.h"

#include <cstring>
#include <new>

#include "layout/FormPlugin.h"
#include "layout/GradBackgroundPlugin.h"
#include "layout/ImagePlugins.h"
#include "layout/VirtualListPlugin.h"
#include "layout/ScrollListPlugin.h"

using plat::E_FAIL;
using plat::E_POINTER;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;

namespace {

template <class T, class... Args>
ILayoutPlugin* Make(Args... args) {
  return new (std::nothrow) T(args...);
}

}  // namespace

ILayoutPlugin* CreateLayoutPlugin(const char16_t* name) {
  if (!name) return nullptr;
  const std::u16string_view n(name);
  ILayoutPlugin* plugin = nullptr;
  try {
    if (n == u"Form") {
      plugin = MakeFormPlugin();
    } else if (n == u"GradBackground") {
      plugin = Make<GradBackgroundPlugin>(1);
    } else if (n == u"SingleLineText") {
      plugin = Make<TextPlugin>(kSingleLineTextFlags);
    } else if (n == u"Text") {
      plugin = Make<TextPlugin>(kTextFlags);
    } else if (n == u"ScrollList") {
      plugin = MakeScrollListPlugin();
    } else if (n == u"ScrollBar") {
      plugin = Make<ScrollBarPlugin>(true);
    } else if (n == u"Progress") {
      plugin = Make<ProgressPlugin>();
    } else if (n == u"Image") {
      plugin = Make<ImagePlugin>();
    } else if (n == u"TopPartImageRect") {
      plugin = Make<TopPartImageRectPlugin>(1);
    } else if (n == u"VirtualList") {
      plugin = Make<VirtualListPlugin>();
    } else if (n == u"ZeroBackground") {
      plugin = Make<LayoutPluginBase>(0);
    }
  } catch (const std::bad_alloc&) {
    plugin = nullptr;
  }
  if (plugin) plugin->AddRef();
  return plugin;
}

ILayoutPlugin* CreatePlugin(const char16_t* className) {
  if (!className) ThrowLayout(plat::E_INVALIDARG);
  const std::u16string_view name(className);
  if (name.substr(0, 8) == u"Orv.LSP.") return CreateLayoutPlugin(className + 8);
  return nullptr;  // "Orv.Data." names are data sources, made elsewhere; others are unknown
}

// ---------------------------------------------------------------------------
// TextPlugin

void TextPlugin::SelectFontAndColour(plat::HDC dc) {
  ILayoutItem* item = GetItem();
  plat::SetBkMode(dc, plat::TRANSPARENT);
  std::int32_t colour = 0;
  if (item->GetInt11(&colour) == S_OK) plat::SetTextColor(dc, static_cast<plat::COLORREF>(colour));
  plat::HFONT font = nullptr;
  if (item->GetFont1(&font) == S_OK && font) plat::SelectObject(dc, font);
}

HRESULT TextPlugin::Paint(const LayoutPaintRecord& record) {
  ILayoutItem* item = GetItem();
  if (!item) ThrowLayout(ORV_E_LAYOUT);
  plat::RECT rect{};
  const HRESULT hr = item->GetBoundRect(&rect, 0);
  if (hr != S_OK) return hr;
  plat::OffsetRect(&rect, -record.originX, -record.originY);
  if (extraSize_) rect.bottom = record.bottomLimit;
  const int saved = plat::SaveDC(record.dc);
  SelectFontAndColour(record.dc);
  std::uint32_t flags = flags_;
  const std::uint32_t vertical = plat::DT_VCENTER | plat::DT_BOTTOM;
  if ((flags & vertical) && !(flags & plat::DT_SINGLELINE)) {
    const std::uint32_t which = flags & vertical;
    flags &= ~vertical;
    plat::RECT measure = rect;
    const int h = plat::DrawTextW(record.dc, text_.c_str(), -1, &measure, flags | plat::DT_CALCRECT);
    const int boxHeight = rect.bottom - rect.top;
    if (which & plat::DT_VCENTER) {
      plat::InflateRect(&rect, 0, (h - boxHeight) / 2);
    } else {
      rect.top = rect.bottom - h;
    }
  }
  plat::DrawTextW(record.dc, text_.c_str(), -1, &rect, flags);
  plat::RestoreDC(record.dc, saved);
  return S_OK;
}

HRESULT TextPlugin::GetContentSize(plat::HDC dc, plat::SIZE* size) {
  if (!extraSize_) return S_FALSE;
  if (!size) return E_POINTER;
  ILayoutItem* item = GetItem();
  if (!item) ThrowLayout(ORV_E_LAYOUT);
  plat::RECT rect{};
  const HRESULT hr = item->GetBoundRect(&rect, 0);
  if (hr != S_OK) return hr;
  const int saved = plat::SaveDC(dc);
  SelectFontAndColour(dc);
  plat::RECT measure = rect;
  const std::uint32_t flags = (flags_ & ~(plat::DT_VCENTER | plat::DT_BOTTOM)) | plat::DT_CALCRECT;
  const int h = plat::DrawTextW(dc, text_.c_str(), -1, &measure, flags);
  plat::RestoreDC(dc, saved);
  size->cx = 0;
  size->cy = h - (rect.bottom - rect.top);
  return S_OK;
}

HRESULT TextPlugin::LoadProperties() {
  std::int32_t extra = 0;
  if (!GetItem() || GetItem()->GetInt(u"ExtraSizeY", &extra) != S_OK) extra = 0;
  extraSize_ = extra;
  return S_OK;
}

HRESULT TextPlugin::FetchText(IPropertySource* source, const std::u16string& name) {
  if (!source) return E_FAIL;
  // The old text goes first; a source without the string leaves it empty.
  text_.clear();
  std::u16string fresh;
  if (source->GetString(name.c_str(), &fresh) == S_OK) text_ = std::move(fresh);
  return S_OK;
}

HRESULT TextPlugin::DoCommand(std::intptr_t, std::intptr_t) {
  CComRef<IPropertySource> source;
  HRESULT hr = GetOwnerPropertySource(source);
  if (hr != S_OK) return hr;
  std::u16string name;
  if (!GetItem()) return E_FAIL;
  hr = GetItem()->GetName(&name);
  if (hr != S_OK) return hr;
  FetchText(source.Get(), name);
  return S_OK;
}
