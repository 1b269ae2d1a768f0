#include "app/views/ListViewBase.h"

#include "layout/LayoutCom.h"
#include "layout/LayoutView.h"

using plat::HRESULT;
using plat::S_OK;

ListViewBase::ListViewBase() = default;

ListViewBase::~ListViewBase() { SetPlugin(nullptr); }

CChannelSet* ListViewBase::ChannelSet() { return channelSet_ ? channelSet_ : GetChannelSet(); }

void ListViewBase::InvalidateRow(int index) {
  CSyncLock lock(&lock_, u"ListView::InvalidateRow");
  rowsCurrent_ = false;
  if (index >= 0 && index < static_cast<int>(valid_.size())) valid_[static_cast<std::size_t>(index)] = 0;
}

void ListViewBase::InvalidateAllRows() {
  CSyncLock lock(&lock_, u"ListView::InvalidateAllRows");
  rowsCurrent_ = false;
  std::vector<std::uint8_t>().swap(valid_);
}

void ListViewBase::RefreshRow(int index) {
  InvalidateRow(index);
  RequestRepaint();
}

void ListViewBase::RefreshAll() {
  InvalidateAllRows();
  RequestRepaint();
}

int ListViewBase::GetCurrentIndex() {
  CSyncLock lock(&lock_, u"ListView::GetCurrentIndex");
  return current_;
}

void ListViewBase::SetCurrentIndex(int index) {
  CSyncLock lock(&lock_, u"ListView::SetCurrentIndex");
  current_ = index;
}

bool ListViewBase::AreRowsCurrent() {
  CSyncLock lock(&lock_, u"ListView::AreRowsCurrent");
  return rowsCurrent_;
}

std::vector<std::uint8_t> ListViewBase::GetValidFlags() {
  CSyncLock lock(&lock_, u"ListView::GetValidFlags");
  return valid_;
}

bool ListViewBase::BeginRefresh(std::vector<std::uint8_t>& flags) {
  CSyncLock lock(&lock_, u"ListView::BeginRefresh");
  if (rowsCurrent_) return false;
  rowsCurrent_ = true;
  flags = valid_;
  return true;
}

void ListViewBase::EndRefreshLocked(std::vector<std::uint8_t>& flags) {
  // An invalidation during the build cleared the flag: its rows stay invalid.
  if (rowsCurrent_) valid_.swap(flags);
}

void ListViewBase::RequestRepaint() {
  plat::HWND window = nullptr;
  bool post = false;
  {
    CSyncLock lock(&lock_, u"ListView::RequestRepaint");
    window = listWindow_;
    // The list counts its rows again at its next refresh event.
    if (auto* list = dynamic_cast<VirtualListPlugin*>(plugin_)) list->SetRefreshPending();
    post = window != nullptr && !repaintPosted_;
    if (post) repaintPosted_ = true;
  }
  if (!window) return;
  if (post && !plat::PostMessageW(window, WM_LAYOUT_REPAINT_ALL, 0, 0)) {
    CSyncLock lock(&lock_, u"ListView::RequestRepaint");
    repaintPosted_ = false;
  }
  plat::InvalidateRect(window, nullptr, plat::FALSE);
}

void ListViewBase::SetPlugin(ILayoutPlugin* plugin) {
  ILayoutPlugin* old = nullptr;
  {
    CSyncLock lock(&lock_, u"ListView::SetPlugin");
    if (plugin == plugin_) return;
    if (plugin) plugin->AddRef();
    old = plugin_;
    plugin_ = plugin;
  }
  if (old) old->Release();
}

// ---------------------------------------------------------------------------
// The layout's list

HRESULT ListViewBase::VirtualListPart::QueryInterface(plat::REFIID iid, void** object) {
  if (!object) return plat::E_INVALIDARG;
  // The list interface id names the row part, which the list plug-in uses.
  if (SameIid(iid, IID_IVirtualList) || SameIid(iid, plat::IID_IUnknown)) {
    AddRef();
    *object = static_cast<IVirtualList*>(this);
    return S_OK;
  }
  *object = nullptr;
  return plat::E_NOINTERFACE;
}

plat::ULONG ListViewBase::VirtualListPart::AddRef() {
  return static_cast<plat::ULONG>(plat::InterlockedIncrement(&owner_.refs_));
}
plat::ULONG ListViewBase::VirtualListPart::Release() {
  return static_cast<plat::ULONG>(plat::InterlockedDecrement(&owner_.refs_));
}

HRESULT ListViewBase::VirtualListPart::LoadProperties(ILayoutPlugin* plugin, IPropertySource* properties,
                                                     PackageResources*) {
  owner_.SetPlugin(plugin);
  {
    CSyncLock lock(&owner_.lock_, u"ListView::LoadProperties");
    owner_.repaintPosted_ = false;
    owner_.style_.Reset();
    owner_.style_.Load(properties);
  }
  return S_OK;
}

std::int32_t ListViewBase::VirtualListPart::GetRowCount() {
  {
    CSyncLock lock(&owner_.lock_, u"ListView::GetRowCount");
    owner_.repaintPosted_ = false;
  }
  return owner_.RowCount();
}

std::int32_t ListViewBase::VirtualListPart::GetInitialSelection() { return owner_.InitialSelection(); }

std::int32_t ListViewBase::VirtualListPart::GetRowHeight(std::int32_t row, std::int32_t width) {
  return owner_.RowHeight(row, width);
}

std::int32_t ListViewBase::VirtualListPart::PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state,
                                                     const plat::RECT& rect) {
  {
    CSyncLock lock(&owner_.lock_, u"ListView::PaintRow");
    owner_.repaintPosted_ = false;
  }
  return owner_.PaintRow(row, target, state, rect);
}

HRESULT ListViewBase::VirtualListPart::OnSelectionChanged(std::int32_t row) {
  owner_.OnSelectionChanged(row);
  return S_OK;
}

HRESULT ListViewBase::VirtualListPart::Activate(std::int32_t row, const plat::POINT*) {
  owner_.OnActivate(row);
  return S_OK;
}

HRESULT ListViewBase::VirtualListPart::OnContextGesture(std::int32_t row, std::int32_t screenX, std::int32_t screenY) {
  owner_.OnContextGesture(row, plat::POINT{screenX, screenY});
  return S_OK;
}

HRESULT ListViewBase::VirtualListPart::Forward(std::intptr_t, std::intptr_t) { return plat::S_FALSE; }

// ---------------------------------------------------------------------------
// The list-bound data sources' view

HRESULT ListViewBase::ListSourcePart::QueryInterface(plat::REFIID iid, void** object) {
  return owner_.virtualList_.QueryInterface(iid, object);
}
plat::ULONG ListViewBase::ListSourcePart::AddRef() { return owner_.virtualList_.AddRef(); }
plat::ULONG ListViewBase::ListSourcePart::Release() { return owner_.virtualList_.Release(); }
std::int32_t ListViewBase::ListSourcePart::GetRowCount() { return owner_.RowCount(); }
std::int32_t ListViewBase::ListSourcePart::GetUpdateProgress() { return owner_.Progress(); }
std::u16string ListViewBase::ListSourcePart::GetEmptyText() { return owner_.EmptyText(); }
