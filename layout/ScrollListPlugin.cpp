#include "layout/ScrollListPlugin.h"

#include <new>

#include "layout/DataSources.h"

using plat::E_FAIL;
using plat::HRESULT;
using plat::S_OK;

ILayoutPlugin* MakeScrollListPlugin() { return new (std::nothrow) ScrollListPlugin(); }

ScrollListPlugin::~ScrollListPlugin() { entries_.clear(); }

void ScrollListPlugin::AddEntry(ScrollListEntry* entry) {
  if (entry) entries_.emplace_back(entry);
}

ScrollListEntry* ScrollListPlugin::GetEntry(std::int32_t index) const {
  if (index < 0 || index >= GetEntryCount()) return nullptr;
  return entries_[static_cast<std::size_t>(index)].Get();
}

ScrollListEntry& ScrollListPlugin::EntryAt(std::int32_t index) const {
  ScrollListEntry* entry = GetEntry(index);
  if (!entry) ThrowLayout(plat::E_INVALIDARG);
  return *entry;
}

HRESULT ScrollListPlugin::SetProperties(ILayoutItem* item) {
  HRESULT hr = LayoutListPluginBase::SetProperties(item);
  if (plat::FAILED(hr)) return hr;
  for (const auto& entry : entries_) {
    hr = entry->SetProperties(item);
    if (plat::FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ScrollListPlugin::OnCommand(std::intptr_t, std::intptr_t) {
  IDialogContent* content = GetContent();
  if (!content) return E_FAIL;
  CComRef<IDataSource> source;
  HRESULT hr = content->QueryOwner(IID_IDataSource, reinterpret_cast<void**>(source.Receive()));
  if (plat::FAILED(hr)) return hr;
  if (!source) return E_FAIL;
  CComRef<IScrollListSource> service;
  hr = source->QueryService(IID_IScrollListSource, reinterpret_cast<void**>(service.Receive()));
  if (plat::FAILED(hr)) return hr;
  if (!service) return E_FAIL;
  // Every layout pass asks for the rows again: the rows of the last pass go
  // first, or each pass would append the same rows once more.
  std::vector<CRefPtr<ScrollListEntry>> previous;
  previous.swap(entries_);
  hr = service->FillList(this);
  if (plat::FAILED(hr)) {
    // The list stays as it was.
    entries_.swap(previous);
    return hr;
  }
  previous.clear();
  for (const auto& entry : entries_) {
    hr = entry->Init(GetSite(), GetContent());
    if (plat::FAILED(hr)) return hr;
    CComRef<ILayoutItem> item(GetItem());
    hr = entry->SetProperties(item.Get());
    if (plat::FAILED(hr)) return hr;
  }
  SetItemCount(GetEntryCount());
  InvalidateGeometry();
  return S_OK;
}

std::int32_t ScrollListPlugin::GetItemHeight(std::int32_t index, std::int32_t width) {
  return EntryAt(index).GetHeight(width);
}

HRESULT ScrollListPlugin::PaintItem(std::int32_t index, CBitmapBuffer& target, plat::HDC dc, std::int32_t state,
                                    const plat::RECT& rect) {
  return EntryAt(index).Paint(target, dc, state, rect);
}

bool ScrollListPlugin::IsItemSelectable(std::int32_t index) { return EntryAt(index).IsSelectable(index); }

HRESULT ScrollListPlugin::OnItemActivated(const plat::POINT*, std::intptr_t) {
  return EntryAt(GetSelection()).OnActivated();
}

HRESULT ScrollListPlugin::ActivateItem(const plat::POINT* point, std::intptr_t b) {
  const std::int32_t row = GetSelection();
  CRefPtr<ScrollListEntry> entry(&EntryAt(row));
  plat::RECT rect{};
  GetItemRect(row, rect);
  if (!entry->Activate(row, rect, b)) return 0;
  return OnItemActivated(point, b);
}
