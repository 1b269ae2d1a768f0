#include "layout/ContentInterfaces.h"

#include "core/FrameworkProperties.h"
#include "layout/ResourceValues.h"

using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::HRESULT;
using plat::S_OK;

namespace {

CPropertyName NameOf(PropertyNameArg name) { return CPropertyName(name); }

// Lookups of a list by name, shared by the layered source and the placed item.
HRESULT ListGetInt(const CPropertyList& list, PropertyNameArg name, std::int32_t* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  *value = found->GetInt();
  return S_OK;
}

HRESULT ListGetString(const CPropertyList& list, PropertyNameArg name, std::u16string* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  *value = found->GetString();
  return S_OK;
}

HRESULT ListGetPair(const CPropertyList& list, PropertyNameArg name, CPropertyPair* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  *value = found->GetPair();
  return S_OK;
}

HRESULT ListGetRect(const CPropertyList& list, PropertyNameArg name, CPropertyRect* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  *value = found->GetRect();
  return S_OK;
}

HRESULT ListGetFont(const CPropertyList& list, PropertyNameArg name, plat::HFONT* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  CFontRef font = GetFontOf(found.Get());
  *value = font ? font->Get() : nullptr;
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// LayeredPropertySource

LayeredPropertySource::LayeredPropertySource(IPropertySource* overrideSource, CPropertyList list)
    : CLayoutObject(IID_IPropertySource), m_override(overrideSource), m_list(std::move(list)) {
  if (m_override) m_override->AddRef();
}

LayeredPropertySource::~LayeredPropertySource() {
  if (m_override) m_override->Release();
}

HRESULT LayeredPropertySource::GetInt(PropertyNameArg name, std::int32_t* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetInt(name, value) == S_OK) return S_OK;
  return ListGetInt(m_list, name, value);
}

HRESULT LayeredPropertySource::GetString(PropertyNameArg name, std::u16string* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetString(name, value) == S_OK) return S_OK;
  return ListGetString(m_list, name, value);
}

HRESULT LayeredPropertySource::GetPair(PropertyNameArg name, CPropertyPair* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetPair(name, value) == S_OK) return S_OK;
  return ListGetPair(m_list, name, value);
}

HRESULT LayeredPropertySource::GetRect(PropertyNameArg name, CPropertyRect* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetRect(name, value) == S_OK) return S_OK;
  return ListGetRect(m_list, name, value);
}

HRESULT LayeredPropertySource::GetFont(PropertyNameArg name, plat::HFONT* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetFont(name, value) == S_OK) return S_OK;
  return ListGetFont(m_list, name, value);
}

HRESULT LayeredPropertySource::GetObject(PropertyNameArg name, plat::IUnknown** value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (m_override && m_override->GetObject(name, value) == S_OK) return S_OK;
  return E_FAIL;
}

// ---------------------------------------------------------------------------
// PlacedLayoutItem

PlacedLayoutItem::PlacedLayoutItem(CPropertyList list) : CLayoutObject(IID_ILayoutItem), m_list(std::move(list)) {}

HRESULT PlacedLayoutItem::GetInt(PropertyNameArg name, std::int32_t* value) { return ListGetInt(m_list, name, value); }
HRESULT PlacedLayoutItem::GetString(PropertyNameArg name, std::u16string* value) {
  return ListGetString(m_list, name, value);
}
HRESULT PlacedLayoutItem::GetPair(PropertyNameArg name, CPropertyPair* value) {
  return ListGetPair(m_list, name, value);
}
HRESULT PlacedLayoutItem::GetRect(PropertyNameArg name, CPropertyRect* value) {
  return ListGetRect(m_list, name, value);
}
HRESULT PlacedLayoutItem::GetFont(PropertyNameArg name, plat::HFONT* value) {
  return ListGetFont(m_list, name, value);
}
HRESULT PlacedLayoutItem::GetObject(PropertyNameArg, plat::IUnknown** value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  return E_FAIL;
}
HRESULT PlacedLayoutItem::GetName(std::u16string* value) { return ListGetString(m_list, PropertyKeyName(5), value); }
HRESULT PlacedLayoutItem::GetClass(std::u16string* value) { return ListGetString(m_list, PropertyKeyName(4), value); }
HRESULT PlacedLayoutItem::GetId(std::int32_t* value) { return ListGetInt(m_list, PropertyKeyName(12), value); }

HRESULT PlacedLayoutItem::GetBoundRect(plat::RECT* rect, std::uint32_t) {
  if (!rect) ThrowLayout(E_INVALIDARG);
  CPropertyRect r;
  const HRESULT hr = ListGetRect(m_list, PropertyKeyName(1), &r);
  if (hr != S_OK) return hr;
  rect->left = r.left + m_originX;
  rect->top = r.top + m_originY;
  rect->right = r.right + m_originX;
  rect->bottom = r.bottom + m_originY;
  return S_OK;
}

HRESULT PlacedLayoutItem::GetPoint(int key, plat::POINT* point) {
  if (!point) ThrowLayout(E_INVALIDARG);
  CPropertyPair p;
  const HRESULT hr = ListGetPair(m_list, PropertyKeyName(key), &p);
  if (hr != S_OK) return hr;
  point->x = p.first + m_originX;
  point->y = p.second + m_originY;
  return S_OK;
}

HRESULT PlacedLayoutItem::GetPosition(plat::POINT* point) { return GetPoint(2, point); }
HRESULT PlacedLayoutItem::GetSecondPosition(plat::POINT* point) { return GetPoint(3, point); }
HRESULT PlacedLayoutItem::GetSkin(std::u16string* value) { return ListGetString(m_list, PropertyKeyName(6), value); }

HRESULT PlacedLayoutItem::IsBoldFontOff(bool* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  std::int32_t v = 1;
  const HRESULT hr = ListGetInt(m_list, PropertyKeyName(7), &v);
  *value = hr == S_OK && v == 0;
  return hr;
}

HRESULT PlacedLayoutItem::GetFont1(plat::HFONT* value) { return ListGetFont(m_list, PropertyKeyName(8), value); }
HRESULT PlacedLayoutItem::GetFont2(plat::HFONT* value) { return ListGetFont(m_list, PropertyKeyName(9), value); }
HRESULT PlacedLayoutItem::GetFont3(plat::HFONT* value) { return ListGetFont(m_list, PropertyKeyName(10), value); }
HRESULT PlacedLayoutItem::GetInt11(std::int32_t* value) { return ListGetInt(m_list, PropertyKeyName(11), value); }

// ---------------------------------------------------------------------------
// PluginSite

PluginSite::PluginSite(IPluginSiteHost* host) : CLayoutObject(IID_IPluginSite), m_host(host) {
  if (!host) ThrowLayout(ORV_E_LAYOUT);
}

void PluginSite::DetachHost() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  m_host = nullptr;
}

HRESULT PluginSite::LoadLayout(const char16_t* name) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_host ? m_host->LoadLayout(name) : E_FAIL;
}

HRESULT PluginSite::ReloadLayout() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_host ? m_host->ReloadLayout() : E_FAIL;
}

HRESULT PluginSite::GetWindow(plat::HWND* window) {
  if (!window) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_host) return E_FAIL;
  *window = m_host->GetHostWindow();
  return S_OK;
}

HRESULT PluginSite::Invalidate(bool updateNow) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_host) return E_FAIL;
  m_host->InvalidateAll(updateNow);
  return S_OK;
}

HRESULT PluginSite::RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_host ? m_host->RedrawPlugin(plugin, updateNow, rect) : E_FAIL;
}

HRESULT PluginSite::Relayout() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_host ? m_host->Relayout() : E_FAIL;
}

HRESULT PluginSite::SetShellState(std::uint32_t) {
  // The shell's layout-window state is not kept by this platform: the call
  // only checks that the host still lives.
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_host ? S_OK : E_FAIL;
}

// ---------------------------------------------------------------------------
// DialogContentView

DialogContentView::DialogContentView(IDialogContentHost* content)
    : CLayoutObject(IID_IDialogContent), m_content(content) {
  if (!content) ThrowLayout(ORV_E_LAYOUT);
}

void DialogContentView::DetachContent() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  m_content = nullptr;
}

#define ORV_WITH_CONTENT                                    \
  std::lock_guard<std::recursive_mutex> hold(m_lock);      \
  if (!m_content) return E_FAIL

HRESULT DialogContentView::QueryOwner(plat::REFIID iid, void** object) {
  ORV_WITH_CONTENT;
  return m_content->QueryOwner(iid, object);
}

HRESULT DialogContentView::GetPluginCount(std::int32_t* count) {
  if (!count) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  *count = m_content->GetPluginCount();
  return S_OK;
}

HRESULT DialogContentView::GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) {
  ORV_WITH_CONTENT;
  return m_content->GetPluginByIndex(index, plugin, item);
}

HRESULT DialogContentView::GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) {
  ORV_WITH_CONTENT;
  return m_content->GetPluginByName(name, plugin, item);
}

HRESULT DialogContentView::Dispatch(std::int32_t event, std::intptr_t parameter, void* record) {
  ORV_WITH_CONTENT;
  return m_content->Dispatch(event, parameter, record);
}

HRESULT DialogContentView::SelectByName(const char16_t* name) {
  ORV_WITH_CONTENT;
  return m_content->SelectByName(name);
}

HRESULT DialogContentView::GetSelectedName(std::u16string* name) {
  if (!name) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  return m_content->GetSelectedName(name);
}

HRESULT DialogContentView::SetScrollOrigin(plat::POINT point) {
  ORV_WITH_CONTENT;
  m_content->SetScrollOrigin(point);
  return S_OK;
}

HRESULT DialogContentView::GetScrollOrigin(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  *point = m_content->GetScrollOrigin();
  return S_OK;
}

HRESULT DialogContentView::EnsureVisible(const plat::RECT* rect) {
  ORV_WITH_CONTENT;
  return m_content->EnsureVisible(rect);
}

HRESULT DialogContentView::ContentToWindow(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  const plat::POINT origin = m_content->GetScrollOrigin();
  const plat::POINT view = m_content->GetViewPosition();
  point->x = point->x - origin.x + view.x;
  point->y = point->y - origin.y + view.y;
  return S_OK;
}

HRESULT DialogContentView::WindowToContent(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  const plat::POINT origin = m_content->GetScrollOrigin();
  const plat::POINT view = m_content->GetViewPosition();
  point->x = point->x + origin.x - view.x;
  point->y = point->y + origin.y - view.y;
  return S_OK;
}

#undef ORV_WITH_CONTENT

std::u16string GetPropertyString(IPropertySource* source, const char16_t* name, const std::u16string& defaultValue) {
  if (!source) return defaultValue;
  std::u16string value;
  if (source->GetString(name, &value) != S_OK) return defaultValue;
  return value;
}

// ---------------------------------------------------------------------------
// ContentHolder

namespace {

// Sets the busy flag for the length of a Show or Back; false when it was set.
class BusyScope {
 public:
  BusyScope(std::recursive_mutex& lock, bool& busy) : m_lock(lock), m_busy(busy) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_entered = !m_busy;
    if (m_entered) m_busy = true;
  }
  ~BusyScope() {
    if (!m_entered) return;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_busy = false;
  }
  bool Entered() const { return m_entered; }

 private:
  std::recursive_mutex& m_lock;
  bool& m_busy;
  bool m_entered = false;
};

}  // namespace

CRefPtr<IScreenContent> ContentHolder::GetContent() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_current;
}

void ContentHolder::GetTransition(CRefPtr<IScreenContent>& current, CRefPtr<IScreenContent>& previous) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  current = m_current;
  previous.Reset();
  if (!m_transient) return;
  if (m_stack.size() < 2) ThrowLayout(ORV_E_LAYOUT);
  previous = m_stack[m_stack.size() - 2];
}

std::size_t ContentHolder::GetDepth() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_stack.size();
}

bool ContentHolder::IsTransient() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_transient;
}

bool ContentHolder::Show(IScreenContent* content, std::int32_t mode, plat::IUnknown* owner) {
  BusyScope busy(m_lock, m_busy);
  if (!busy.Entered()) return false;
  CRefPtr<IScreenContent> keep(content);
  if (content) {
    content->Bind(owner);
    content->OnScreenEvent(kScreenAttached);
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_current.Reset();
  }
  auto top = [this]() -> CRefPtr<IScreenContent> {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return m_stack.empty() ? CRefPtr<IScreenContent>() : m_stack.back();
  };
  auto popTop = [this] {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (!m_stack.empty()) m_stack.pop_back();
  };
  bool transientTop;
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    transientTop = m_transient;
  }
  switch (mode) {
    case kShowReplace:
      if (auto t = top()) {
        t->OnScreenEvent(kScreenLeft);
        popTop();
      }
      break;
    case kShowReset:
      while (auto t = top()) {
        t->OnScreenEvent(kScreenLeft);
        popTop();
      }
      break;
    case kShowPush:
      if (auto t = top()) t->OnScreenEvent(kScreenCovered);
      break;
    case kShowPushTransient:
      if (auto t = top()) {
        if (transientTop) {
          t->OnScreenEvent(kScreenLeft);
          popTop();
        } else {
          t->OnScreenEvent(kScreenCoveredByTransient);
        }
      } else if (transientTop) {
        ThrowLayout(ORV_E_LAYOUT);
      }
      break;
    default: break;
  }
  if (content) {
    {
      std::lock_guard<std::recursive_mutex> hold(m_lock);
      m_current = keep;
      m_stack.push_back(keep);
      m_transient = mode == kShowPushTransient;
    }
    content->OnScreenEvent(kScreenShown);
  }
  return true;
}

bool ContentHolder::Back(bool force) {
  BusyScope busy(m_lock, m_busy);
  if (!busy.Entered()) return false;
  CRefPtr<IScreenContent> top;
  CRefPtr<IScreenContent> below;
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_stack.size() < (force ? 1u : 2u)) return false;
    top = m_stack.back();
    if (m_stack.size() >= 2) below = m_stack[m_stack.size() - 2];
  }
  if (below) below->OnScreenEvent(kScreenAboutToBeUncovered);
  top->OnScreenEvent(kScreenLeft);
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_stack.pop_back();
    m_current = below;
    m_transient = false;
  }
  if (below) below->OnScreenEvent(kScreenUncovered);
  return true;
}
