#include "layout/DataSources.h"

#include <cstdint>

#include "platform/base/Interlocked.h"

using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::E_NOINTERFACE;
using plat::E_POINTER;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;

bool IsTextPropertyName(PropertyNameArg name) { return reinterpret_cast<std::uintptr_t>(name) >= 0x10000; }

namespace {

bool Equal(const char16_t* a, const char16_t* b) { return std::u16string_view(a) == std::u16string_view(b); }

}  // namespace

// ---------------------------------------------------------------------------
// CDataSource

CDataSource::CDataSource() : properties_(*this) {}
CDataSource::~CDataSource() = default;

HRESULT CDataSource::QueryInterface(plat::REFIID iid, void** object) {
  if (!object) return E_INVALIDARG;
  if (SameIid(iid, plat::IID_IUnknown) || SameIid(iid, IID_IDataSource)) {
    *object = static_cast<IDataSource*>(this);
  } else if (SameIid(iid, IID_IPropertySource)) {
    *object = static_cast<IPropertySource*>(&properties_);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

plat::ULONG CDataSource::AddRef() { return static_cast<plat::ULONG>(plat::InterlockedIncrement(&refCount_)); }

plat::ULONG CDataSource::Release() {
  const plat::LONG left = plat::InterlockedDecrement(&refCount_);
  if (left > 0) return static_cast<plat::ULONG>(left);
  delete this;
  return 0;
}

HRESULT CDataSource::QueryService(plat::REFIID iid, void** object) {
  if (!object) return E_INVALIDARG;
  if (!SameIid(iid, IID_IPropertySource)) return S_FALSE;
  AddRef();
  *object = static_cast<IPropertySource*>(&properties_);
  return S_OK;
}

HRESULT CDataSource::PaintItem(const LayoutItemDescription& item, const LayoutPaintRecord& record) {
  std::uint8_t shown = 1;
  IsPluginShown(item.name, &shown);
  if (!shown) return S_OK;
  return DrawItem(item, record.focus, record.dc, nullptr);
}

HRESULT CDataSource::QueryItemState(const LayoutItemDescription&, std::int32_t, std::int32_t* flag) {
  if (!flag) return E_POINTER;
  *flag = 1;
  return S_OK;
}

HRESULT CDataSource::MeasureItem(const LayoutItemDescription&, plat::HDC, plat::SIZE*) { return S_FALSE; }
HRESULT CDataSource::OnBuild(std::int32_t phase, IDialogContent* view) { return OnBuildPhase(phase, view); }
HRESULT CDataSource::ActivateItem(const LayoutItemDescription&, const plat::POINT*, std::int32_t) { return S_FALSE; }
HRESULT CDataSource::ReleaseItem(const LayoutItemDescription&, const plat::POINT*) { return S_FALSE; }

HRESULT CDataSource::OnEvent(const LayoutItemDescription& item, std::int32_t event, std::intptr_t parameter, void*) {
  if (event != kContentEventDataChanged || parameter != kDataChangedProgress) return S_FALSE;
  if (Refresh() != 0 && item.site) {
    item.site->Relayout();
    item.site->Invalidate(false);
  }
  return S_OK;
}

HRESULT CDataSource::DrawItem(const LayoutItemDescription&, std::int32_t, plat::HDC, void*) { return S_FALSE; }
HRESULT CDataSource::OnBuildPhase(std::int32_t, IDialogContent*) { return S_FALSE; }
std::int32_t CDataSource::Refresh() { return 1; }
HRESULT CDataSource::IsPluginShown(const char16_t*, std::uint8_t*) { return S_FALSE; }

HRESULT CDataSource::GetIntValue(const char16_t*, std::int32_t* value) { return value ? S_FALSE : E_POINTER; }
HRESULT CDataSource::GetStringValue(const char16_t*, std::u16string* value) { return value ? S_FALSE : E_POINTER; }

HRESULT CDataSource::PropertyPart::GetInt(PropertyNameArg name, std::int32_t* value) {
  if (!value) return E_POINTER;
  if (!IsTextPropertyName(name)) return S_FALSE;
  return owner_.GetIntValue(name, value);
}

HRESULT CDataSource::PropertyPart::GetString(PropertyNameArg name, std::u16string* value) {
  if (!value) return E_POINTER;
  if (!IsTextPropertyName(name)) return S_FALSE;
  return owner_.GetStringValue(name, value);
}

// ---------------------------------------------------------------------------
// Progress

namespace {

HRESULT ProgressInt(const UpdateProgressText& progress, const char16_t* name, std::int32_t* value) {
  if (!value) return E_POINTER;
  if (!Equal(name, u"progress") && !Equal(name, u"Progress")) return S_FALSE;
  *value = progress.percent;
  return S_OK;
}

HRESULT ProgressString(const UpdateProgressText& progress, const char16_t* name, std::u16string* value) {
  if (!value) return E_POINTER;
  if (Equal(name, u"status")) {
    *value = progress.status;
  } else if (Equal(name, u"message")) {
    *value = progress.message;
  } else {
    return S_FALSE;
  }
  return S_OK;
}

}  // namespace

HRESULT CProgressDataSource::GetIntValue(const char16_t* name, std::int32_t* value) {
  return ProgressInt(progress_, name, value);
}

HRESULT CProgressDataSource::GetStringValue(const char16_t* name, std::u16string* value) {
  return ProgressString(progress_, name, value);
}

std::int32_t CProgressDataSource::Refresh() {
  progress_.Update();
  return 1;
}

// ---------------------------------------------------------------------------
// List-bound

CListDataSource::CListDataSource(IListSource* list) : list_(list) {
  if (list_) list_->AddRef();
}

CListDataSource::~CListDataSource() {
  if (list_) list_->Release();
}

HRESULT CListDataSource::QueryService(plat::REFIID iid, void** object) {
  if (!object) return E_INVALIDARG;
  if (list_ && SameIid(iid, IID_IListSource)) {
    const HRESULT hr = list_->QueryInterface(iid, object);
    return hr == S_OK ? S_OK : S_FALSE;
  }
  return CDataSource::QueryService(iid, object);
}

HRESULT CListDataSource::GetIntValue(const char16_t* name, std::int32_t* value) {
  if (!value) return E_POINTER;
  if (!list_ || !Equal(name, u"Progress")) return S_FALSE;
  std::int32_t progress = list_->GetUpdateProgress();
  if (progress > 100) progress = 100;
  if (progress < -1) progress = -1;
  *value = progress;
  return S_OK;
}

HRESULT CListDataSource::GetStringValue(const char16_t* name, std::u16string* value) {
  if (!value) return E_POINTER;
  if (!list_ || !Equal(name, u"EmptyList")) return S_FALSE;
  *value = list_->GetEmptyText();
  return S_OK;
}

HRESULT CListDataSource::IsPluginShown(const char16_t* name, std::uint8_t* flag) {
  if (!flag) return E_POINTER;
  if (!list_ || !name || !Equal(name, u"EmptyList")) return S_FALSE;
  *flag = list_->GetRowCount() == 0 ? 1 : 0;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Progress form

HRESULT CProgressFormDataSource::GetIntValue(const char16_t* name, std::int32_t* value) {
  const HRESULT hr = ProgressInt(progress_, name, value);
  return hr == S_FALSE ? CListDataSource::GetIntValue(name, value) : hr;
}

HRESULT CProgressFormDataSource::GetStringValue(const char16_t* name, std::u16string* value) {
  const HRESULT hr = ProgressString(progress_, name, value);
  return hr == S_FALSE ? CListDataSource::GetStringValue(name, value) : hr;
}

HRESULT CProgressFormDataSource::IsPluginShown(const char16_t* name, std::uint8_t* flag) {
  if (!flag) return E_POINTER;
  if (name && Equal(name, u"ProgressForm")) {
    *flag = progressFormShown_;
    return S_OK;
  }
  return CListDataSource::IsPluginShown(name, flag);
}

HRESULT CProgressFormDataSource::MeasureItem(const LayoutItemDescription& item, plat::HDC, plat::SIZE* size) {
  if (!size) return E_POINTER;
  if (progressFormShown_ || !item.item || !item.name || !Equal(item.name, u"ProgressForm")) return S_FALSE;
  plat::RECT bound{};
  if (item.item->GetBoundRect(&bound, 0) != S_OK) return S_FALSE;
  *size = plat::SIZE{0, -(bound.bottom - bound.top)};
  return S_OK;
}

HRESULT CProgressFormDataSource::OnBuildPhase(std::int32_t phase, IDialogContent* view) {
  if (phase == 1 && view) {
    CComRef<ILayoutPlugin> plugin;
    if (view->GetPluginByName(u"ProgressForm", plugin.Receive(), nullptr) == S_OK && plugin) {
      void* form = nullptr;
      if (plugin->QueryOwnInterface(IID_IFormPlugin, &form) == S_OK && form) {
        auto* formPlugin = static_cast<IFormPlugin*>(form);
        formPlugin->ShowLayoutByName(u"progress", static_cast<IDataSource*>(this));
        formPlugin->Release();
      }
    }
  }
  return CListDataSource::OnBuildPhase(phase, view);
}

std::int32_t CProgressFormDataSource::Refresh() {
  progress_.Update();
  return 1;
}

// ---------------------------------------------------------------------------
// List name

HRESULT CListNameDataSource::GetStringValue(const char16_t* name, std::u16string* value) {
  if (!value) return E_POINTER;
  if (!Equal(name, u"List")) return S_FALSE;
  *value = name_;
  return S_OK;
}
