#include "layout/ContentInterfaces.h"

#include "core/FrameworkProperties.h"
#include "layout/ResourceValues.h"
#include "platform/controls/Shell.h"

using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::HRESULT;
using plat::S_OK;

namespace {

CPropertyName NameOf(PropertyNameArg name) { return CPropertyName(name); }

// Lookups of a list by name, shared by the layered source and the placed
// item: E_FAIL when the name is missing, else the value's answer.
template <class Out, class Read>
HRESULT ListGet(const CPropertyList& list, PropertyNameArg name, Out* value, Read read) {
  if (!value) ThrowLayout(E_INVALIDARG);
  CPropertyList found = FindProperty(list, NameOf(name));
  if (!found) return E_FAIL;
  *value = read(*found);
  return S_OK;
}

HRESULT ListGetInt(const CPropertyList& list, PropertyNameArg name, std::int32_t* value) {
  return ListGet(list, name, value, [](const CPropertyValue& v) { return v.GetInt(); });
}
HRESULT ListGetString(const CPropertyList& list, PropertyNameArg name, std::u16string* value) {
  return ListGet(list, name, value, [](const CPropertyValue& v) { return v.GetString(); });
}
HRESULT ListGetPair(const CPropertyList& list, PropertyNameArg name, CPropertyPair* value) {
  return ListGet(list, name, value, [](const CPropertyValue& v) { return v.GetPair(); });
}
HRESULT ListGetRect(const CPropertyList& list, PropertyNameArg name, CPropertyRect* value) {
  return ListGet(list, name, value, [](const CPropertyValue& v) { return v.GetRect(); });
}
HRESULT ListGetFont(const CPropertyList& list, PropertyNameArg name, plat::HFONT* value) {
  return ListGet(list, name, value, [](const CPropertyValue& v) -> plat::HFONT {
    CFontRef font = GetFontOf(&v);
    return font ? font->Get() : nullptr;
  });
}

}  // namespace

// ---------------------------------------------------------------------------
// LayeredPropertySource

LayeredPropertySource::LayeredPropertySource(IPropertySource* overrideSource, CPropertyList list)
    : CLayoutObject(IID_IPropertySource), override_(overrideSource), list_(std::move(list)) {
  if (override_) override_->AddRef();
}

LayeredPropertySource::~LayeredPropertySource() {
  if (override_) override_->Release();
}

HRESULT LayeredPropertySource::GetInt(PropertyNameArg name, std::int32_t* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetInt(name, value) == S_OK) return S_OK;
  return ListGetInt(list_, name, value);
}

HRESULT LayeredPropertySource::GetString(PropertyNameArg name, std::u16string* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetString(name, value) == S_OK) return S_OK;
  return ListGetString(list_, name, value);
}

HRESULT LayeredPropertySource::GetPair(PropertyNameArg name, CPropertyPair* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetPair(name, value) == S_OK) return S_OK;
  return ListGetPair(list_, name, value);
}

HRESULT LayeredPropertySource::GetRect(PropertyNameArg name, CPropertyRect* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetRect(name, value) == S_OK) return S_OK;
  return ListGetRect(list_, name, value);
}

HRESULT LayeredPropertySource::GetFont(PropertyNameArg name, plat::HFONT* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetFont(name, value) == S_OK) return S_OK;
  return ListGetFont(list_, name, value);
}

HRESULT LayeredPropertySource::GetObject(PropertyNameArg name, plat::IUnknown** value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  if (override_ && override_->GetObject(name, value) == S_OK) return S_OK;
  return E_FAIL;
}

// ---------------------------------------------------------------------------
// PlacedLayoutItem

PlacedLayoutItem::PlacedLayoutItem(CPropertyList list) : CLayoutObject(IID_ILayoutItem), list_(std::move(list)) {}

HRESULT PlacedLayoutItem::GetInt(PropertyNameArg name, std::int32_t* value) { return ListGetInt(list_, name, value); }
HRESULT PlacedLayoutItem::GetString(PropertyNameArg name, std::u16string* value) {
  return ListGetString(list_, name, value);
}
HRESULT PlacedLayoutItem::GetPair(PropertyNameArg name, CPropertyPair* value) {
  return ListGetPair(list_, name, value);
}
HRESULT PlacedLayoutItem::GetRect(PropertyNameArg name, CPropertyRect* value) {
  return ListGetRect(list_, name, value);
}
HRESULT PlacedLayoutItem::GetFont(PropertyNameArg name, plat::HFONT* value) {
  return ListGetFont(list_, name, value);
}
HRESULT PlacedLayoutItem::GetObject(PropertyNameArg, plat::IUnknown** value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  return E_FAIL;
}
HRESULT PlacedLayoutItem::GetName(std::u16string* value) { return ListGetString(list_, PropertyKeyName(5), value); }
HRESULT PlacedLayoutItem::GetClass(std::u16string* value) { return ListGetString(list_, PropertyKeyName(4), value); }
HRESULT PlacedLayoutItem::GetId(std::int32_t* value) { return ListGetInt(list_, PropertyKeyName(12), value); }

HRESULT PlacedLayoutItem::GetBoundRect(plat::RECT* rect, std::uint32_t) {
  if (!rect) ThrowLayout(E_INVALIDARG);
  CPropertyRect r;
  const HRESULT hr = ListGetRect(list_, PropertyKeyName(1), &r);
  if (hr != S_OK) return hr;
  rect->left = r.left + originX_;
  rect->top = r.top + originY_;
  rect->right = r.right + originX_;
  rect->bottom = r.bottom + originY_;
  return S_OK;
}

HRESULT PlacedLayoutItem::GetPoint(int key, plat::POINT* point) {
  if (!point) ThrowLayout(E_INVALIDARG);
  CPropertyPair p;
  const HRESULT hr = ListGetPair(list_, PropertyKeyName(key), &p);
  if (hr != S_OK) return hr;
  point->x = p.first + originX_;
  point->y = p.second + originY_;
  return S_OK;
}

HRESULT PlacedLayoutItem::GetPosition(plat::POINT* point) { return GetPoint(2, point); }
HRESULT PlacedLayoutItem::GetSecondPosition(plat::POINT* point) { return GetPoint(3, point); }
HRESULT PlacedLayoutItem::GetSkin(std::u16string* value) { return ListGetString(list_, PropertyKeyName(6), value); }

HRESULT PlacedLayoutItem::IsBoldFontOff(bool* value) {
  if (!value) ThrowLayout(E_INVALIDARG);
  std::int32_t v = 1;
  const HRESULT hr = ListGetInt(list_, PropertyKeyName(7), &v);
  *value = hr == S_OK && v == 0;
  return hr;
}

HRESULT PlacedLayoutItem::GetFont1(plat::HFONT* value) { return ListGetFont(list_, PropertyKeyName(8), value); }
HRESULT PlacedLayoutItem::GetFont2(plat::HFONT* value) { return ListGetFont(list_, PropertyKeyName(9), value); }
HRESULT PlacedLayoutItem::GetFont3(plat::HFONT* value) { return ListGetFont(list_, PropertyKeyName(10), value); }
HRESULT PlacedLayoutItem::GetInt11(std::int32_t* value) { return ListGetInt(list_, PropertyKeyName(11), value); }

// ---------------------------------------------------------------------------
// PluginSite

PluginSite::PluginSite(IPluginSiteHost* host) : CLayoutObject(IID_IPluginSite), host_(host) {
  if (!host) ThrowLayout(ORV_E_LAYOUT);
}

void PluginSite::DetachHost() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  host_ = nullptr;
}

HRESULT PluginSite::LoadLayout(const char16_t* name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return host_ ? host_->LoadLayout(name) : E_FAIL;
}

HRESULT PluginSite::ReloadLayout() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return host_ ? host_->ReloadLayout() : E_FAIL;
}

HRESULT PluginSite::GetWindow(plat::HWND* window) {
  if (!window) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!host_) return E_FAIL;
  *window = host_->GetHostWindow();
  return S_OK;
}

HRESULT PluginSite::Invalidate(bool updateNow) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!host_) return E_FAIL;
  host_->InvalidateAll(updateNow);
  return S_OK;
}

HRESULT PluginSite::RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return host_ ? host_->RedrawPlugin(plugin, updateNow, rect) : E_FAIL;
}

HRESULT PluginSite::Relayout() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return host_ ? host_->Relayout() : E_FAIL;
}

HRESULT PluginSite::SetShellState(std::uint32_t flags) {
  // The shell sets the state of the host's window (its full-screen parts).
  plat::HWND window = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!host_) return E_FAIL;
    window = host_->GetHostWindow();
  }
  return plat::SHSetWindowState(window, flags) ? S_OK : E_FAIL;
}

// ---------------------------------------------------------------------------
// DialogContentView

DialogContentView::DialogContentView(IDialogContentHost* content)
    : CLayoutObject(IID_IDialogContent), content_(content) {
  if (!content) ThrowLayout(ORV_E_LAYOUT);
}

void DialogContentView::DetachContent() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  content_ = nullptr;
}

#define ORV_WITH_CONTENT                                    \
  std::lock_guard<std::recursive_mutex> hold(lock_);      \
  if (!content_) return E_FAIL

HRESULT DialogContentView::QueryOwner(plat::REFIID iid, void** object) {
  ORV_WITH_CONTENT;
  return content_->QueryOwner(iid, object);
}

HRESULT DialogContentView::GetPluginCount(std::int32_t* count) {
  if (!count) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  *count = content_->GetPluginCount();
  return S_OK;
}

HRESULT DialogContentView::GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) {
  ORV_WITH_CONTENT;
  return content_->GetPluginByIndex(index, plugin, item);
}

HRESULT DialogContentView::GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) {
  ORV_WITH_CONTENT;
  return content_->GetPluginByName(name, plugin, item);
}

HRESULT DialogContentView::Dispatch(std::int32_t event, std::intptr_t parameter, void* record) {
  ORV_WITH_CONTENT;
  return content_->Dispatch(event, parameter, record);
}

HRESULT DialogContentView::SelectByName(const char16_t* name) {
  ORV_WITH_CONTENT;
  return content_->SelectByName(name);
}

HRESULT DialogContentView::GetSelectedName(std::u16string* name) {
  if (!name) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  return content_->GetSelectedName(name);
}

HRESULT DialogContentView::SetScrollOrigin(plat::POINT point) {
  ORV_WITH_CONTENT;
  content_->SetScrollOrigin(point);
  return S_OK;
}

HRESULT DialogContentView::GetScrollOrigin(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  *point = content_->GetScrollOrigin();
  return S_OK;
}

HRESULT DialogContentView::EnsureVisible(const plat::RECT* rect) {
  ORV_WITH_CONTENT;
  return content_->EnsureVisible(rect);
}

HRESULT DialogContentView::ContentToWindow(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  const plat::POINT origin = content_->GetScrollOrigin();
  const plat::POINT view = content_->GetViewPosition();
  point->x = point->x - origin.x + view.x;
  point->y = point->y - origin.y + view.y;
  return S_OK;
}

HRESULT DialogContentView::WindowToContent(plat::POINT* point) {
  if (!point) return E_INVALIDARG;
  ORV_WITH_CONTENT;
  const plat::POINT origin = content_->GetScrollOrigin();
  const plat::POINT view = content_->GetViewPosition();
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
  BusyScope(std::recursive_mutex& lock, bool& busy) : lock_(lock), busy_(busy) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    entered_ = !busy_;
    if (entered_) busy_ = true;
  }
  ~BusyScope() {
    if (!entered_) return;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    busy_ = false;
  }
  bool Entered() const { return entered_; }

 private:
  std::recursive_mutex& lock_;
  bool& busy_;
  bool entered_ = false;
};

}  // namespace

CRefPtr<IScreenContent> ContentHolder::GetContent() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return current_;
}

void ContentHolder::GetTransition(CRefPtr<IScreenContent>& current, CRefPtr<IScreenContent>& previous) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  current = current_;
  previous.Reset();
  if (!transient_) return;
  if (stack_.size() < 2) ThrowLayout(ORV_E_LAYOUT);
  previous = stack_[stack_.size() - 2];
}

std::size_t ContentHolder::GetDepth() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return stack_.size();
}

bool ContentHolder::IsTransient() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return transient_;
}

bool ContentHolder::Show(IScreenContent* content, std::int32_t mode, plat::IUnknown* owner) {
  BusyScope busy(lock_, busy_);
  if (!busy.Entered()) return false;
  CRefPtr<IScreenContent> keep(content);
  if (content) {
    content->Bind(owner);
    content->OnScreenEvent(kScreenAttached);
    std::lock_guard<std::recursive_mutex> hold(lock_);
    current_.Reset();
  }
  auto top = [this]() -> CRefPtr<IScreenContent> {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return stack_.empty() ? CRefPtr<IScreenContent>() : stack_.back();
  };
  auto popTop = [this] {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!stack_.empty()) stack_.pop_back();
  };
  bool transientTop;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    transientTop = transient_;
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
      std::lock_guard<std::recursive_mutex> hold(lock_);
      current_ = keep;
      stack_.push_back(keep);
      transient_ = mode == kShowPushTransient;
    }
    content->OnScreenEvent(kScreenShown);
  }
  return true;
}

bool ContentHolder::Back(bool force) {
  BusyScope busy(lock_, busy_);
  if (!busy.Entered()) return false;
  CRefPtr<IScreenContent> top;
  CRefPtr<IScreenContent> below;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (stack_.size() < (force ? 1u : 2u)) return false;
    top = stack_.back();
    if (stack_.size() >= 2) below = stack_[stack_.size() - 2];
  }
  if (below) below->OnScreenEvent(kScreenAboutToBeUncovered);
  top->OnScreenEvent(kScreenLeft);
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    stack_.pop_back();
    current_ = below;
    transient_ = false;
  }
  if (below) below->OnScreenEvent(kScreenUncovered);
  return true;
}

bool ContentHolder::PopToRoot(bool all) {
  CRefPtr<IScreenContent> now;
  {
    BusyScope busy(lock_, busy_);
    if (!busy.Entered()) return false;
    const std::size_t keep = all ? 0u : 1u;
    CRefPtr<IScreenContent> bottom;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (!all && stack_.size() > 1) bottom = stack_.front();
    }
    if (bottom) bottom->OnScreenEvent(kScreenAboutToBeUncovered);
    for (;;) {
      CRefPtr<IScreenContent> top;
      {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        if (stack_.size() <= keep) break;
        top = stack_.back();
      }
      top->OnScreenEvent(kScreenLeft);
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (!stack_.empty() && stack_.back().Get() == top.Get()) stack_.pop_back();
      transient_ = false;
    }
    std::lock_guard<std::recursive_mutex> hold(lock_);
    current_ = stack_.empty() ? CRefPtr<IScreenContent>() : stack_.back();
    now = current_;
  }
  // Not busy any more: the uncovered screen may show another at once.
  if (now) now->OnScreenEvent(kScreenUncovered);
  return true;
}

CRefPtr<IScreenContent> ContentHolder::GetRoot() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return stack_.empty() ? CRefPtr<IScreenContent>() : stack_.front();
}

void ContentHolder::ReleaseAll() {
  std::vector<CRefPtr<IScreenContent>> stack;
  CRefPtr<IScreenContent> current;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    stack.swap(stack_);
    current = std::move(current_);
    transient_ = false;
  }
  // Released outside the lock: a content going away may still ask the holder.
  while (!stack.empty()) stack.pop_back();
  current.Reset();
}
