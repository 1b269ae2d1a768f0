#include "layout/FormPlugin.h"

#include <new>

using plat::E_FAIL;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;
using XmlLayouts::CDialogContent;

namespace {

constexpr std::int32_t kEventDrag = 8;
constexpr std::int32_t kEventEmpty = 10;
constexpr std::int32_t kEventCharacter = 19;

// Holds a counted object in a raw member: the new one counted, the old one
// released, nothing done when it is the one already held.
template <class T>
void Hold(T*& member, T* object) {
  if (member == object) return;
  object->AddRef();
  T* old = member;
  member = object;
  if (old) old->Release();
}

template <class T>
void Drop(T*& member) {
  T* old = member;
  member = nullptr;
  if (old) old->Release();
}

}  // namespace

ILayoutPlugin* MakeFormPlugin() { return new (std::nothrow) FormPlugin(); }

FormPlugin::FormPlugin() : CLayoutObject(IID_ILayoutPlugin), form_(*this) {}

FormPlugin::~FormPlugin() {
  // The nested screens go first, while the stack and its lock still exist:
  // a content that goes away may still ask the form for its stack.
  holder_.ReleaseAll();
  Drop(item_);
  Drop(content_);
  Drop(site_);
}

HRESULT FormPlugin::QueryInterface(plat::REFIID iid, void** object) {
  if (!object || !SameIid(iid, IID_IFormPlugin)) return CLayoutObject::QueryInterface(iid, object);
  *object = static_cast<IFormPlugin*>(&form_);
  AddRef();
  return S_OK;
}

HRESULT FormPlugin::QueryOwnInterface(plat::REFIID iid, void** object) { return QueryInterface(iid, object); }

HRESULT FormPlugin::Init(IPluginSite* site, IDialogContent* content) {
  if (!site || !content) ThrowLayout(plat::E_INVALIDARG);
  Hold(site_, site);
  Hold(content_, content);
  return S_OK;
}

HRESULT FormPlugin::SetProperties(ILayoutItem* item) {
  if (!item) ThrowLayout(plat::E_INVALIDARG);
  Hold(item_, item);
  return S_OK;
}

CRefPtr<CDialogContent> FormPlugin::GetNested() {
  CRefPtr<IScreenContent> top = holder_.GetContent();
  return CRefPtr<CDialogContent>(dynamic_cast<CDialogContent*>(top.Get()));
}

HRESULT FormPlugin::BoundRect(plat::RECT& rect) {
  if (!item_) return E_FAIL;
  return item_->GetBoundRect(&rect, 0);
}

HRESULT FormPlugin::OnCommand(std::intptr_t a, std::intptr_t) {
  if (a) view_ = *reinterpret_cast<const LayoutViewRecord*>(a);
  plat::RECT bound{};
  if (BoundRect(bound) == S_OK) {
    const plat::RECT visible{view_.x, view_.y, view_.x + view_.width, view_.y + view_.height};
    plat::OffsetRect(&bound, view_.x, view_.y);
    plat::RECT shown{};
    plat::IntersectRect(&shown, &bound, &visible);
    view_.width = shown.right - shown.left;
    view_.height = shown.bottom - shown.top;
    view_.x = shown.left;
    view_.y = shown.top;
  }
  if (CRefPtr<CDialogContent> nested = GetNested()) nested->Build(view_);
  return S_OK;
}

HRESULT FormPlugin::Paint(const LayoutPaintRecord& record) {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) return S_OK;
  // The nested content paints from its own view (the form's view record,
  // given at its layout pass) and its own scroll.
  ContentPaintRequest request;
  request.dc = record.dc;
  request.clip = record.clip;
  request.mode = record.focus;
  nested->Paint(request);
  return S_OK;
}

HRESULT FormPlugin::GetKind(std::int32_t code, std::int32_t* kind) {
  std::int32_t answer = 0;
  if (CRefPtr<CDialogContent> nested = GetNested()) {
    const auto& items = nested->GetItems();
    for (std::size_t i = items.size(); i-- > 0;) {
      if (nested->QueryState(items[i], code) != 0) {
        answer = 2;
        break;
      }
    }
  }
  if (kind) *kind = answer;
  return S_OK;
}

HRESULT FormPlugin::GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                            std::intptr_t* out2) {
  if (!rect) return plat::E_POINTER;
  plat::RECT bound{};
  if (BoundRect(bound) != S_OK) return E_FAIL;
  if (flags != 0) {
    *rect = bound;
    return S_OK;
  }
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) return E_FAIL;
  const std::int32_t selected = nested->GetSelectedIndex();
  if (selected < 0) return E_FAIL;
  ILayoutPlugin* plugin = nested->GetItems()[static_cast<std::size_t>(selected)].plugin.Get();
  if (!plugin) return E_FAIL;
  const HRESULT hr = plugin->GetRect(part, 0, rect, out1, out2);
  if (hr != S_OK) return hr;
  const plat::POINT scroll = nested->GetScroll();
  plat::OffsetRect(rect, -scroll.x, -scroll.y);
  return S_OK;
}

HRESULT FormPlugin::GetContentSize(plat::HDC, plat::SIZE*) { return S_FALSE; }

HRESULT FormPlugin::OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT* from) {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) return E_FAIL;
  if (point) {
    plat::RECT bound{};
    const HRESULT hr = BoundRect(bound);
    if (hr != S_OK) return hr;
    return nested->PointerDown(point->x - bound.left, point->y - bound.top) ? S_OK : E_FAIL;
  }
  if (from) {
    plat::RECT moved = *from;
    const plat::POINT scroll = nested->GetScroll();
    plat::OffsetRect(&moved, scroll.x, scroll.y);
    if (nested->SelectPluginInDirection(moved, key, false)) return S_OK;
  }
  return nested->SelectEdgePlugin(key) ? S_OK : E_FAIL;
}

HRESULT FormPlugin::OnKey(std::uint32_t key, std::int32_t* handled) {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) return E_FAIL;
  bool done = false;
  nested->HandleKey(static_cast<std::int32_t>(key), &done, true);
  if (handled) *handled = done ? 1 : 0;
  return S_OK;
}

HRESULT FormPlugin::ReservedB(const plat::POINT* point, std::int32_t flag) {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested || nested->GetSelectedIndex() < 0) return E_FAIL;
  plat::POINT relative{};
  if (point) {
    plat::RECT bound{};
    const HRESULT hr = BoundRect(bound);
    if (hr != S_OK) return hr;
    relative = plat::POINT{point->x - bound.left, point->y - bound.top};
  }
  bool handled = false;
  nested->Activate(point ? &relative : nullptr, flag, &handled);
  return handled ? S_OK : S_FALSE;
}

HRESULT FormPlugin::OnTap(const plat::POINT* point) {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested || nested->GetSelectedIndex() < 0) return E_FAIL;
  if (!point) {
    nested->ReleaseSelected(nullptr);
    return S_OK;
  }
  plat::RECT bound{};
  const HRESULT hr = BoundRect(bound);
  if (hr != S_OK) return hr;
  const plat::POINT scroll = nested->GetScroll();
  const plat::POINT p{point->x - bound.left + scroll.x, point->y - bound.top + scroll.y};
  const auto& selected = nested->GetItems()[static_cast<std::size_t>(nested->GetSelectedIndex())];
  if (!nested->HitTest(selected, true, p.x, p.y)) return E_FAIL;
  nested->ReleaseSelected(&p);
  return S_OK;
}

bool FormPlugin::SelectByKey(CDialogContent& content, IPluginSite* site, char16_t c) {
  if (content.DispatchEvent(kEventCharacter, c, nullptr)) return true;
  const auto& items = content.GetItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    const std::u16string keys = GetPropertyString(item.placed.Get(), u"Key", u"");
    if (keys.find(c) == std::u16string::npos) continue;
    if (content.QueryState(item, 2) == 0) continue;
    // Select takes the item by pointer; it changes the selection only.
    auto* chosen = const_cast<CDialogContent::Item*>(&item);
    content.Select(chosen, 0, nullptr);
    if (site) site->Invalidate(true);
    bool handled = false;
    content.Activate(nullptr, 0, &handled);
    if (handled) content.ReleaseSelected(nullptr);
    return true;
  }
  return false;
}

HRESULT FormPlugin::ReservedC(std::int32_t event, std::intptr_t parameter, void* record) {
  if (event == kEventEmpty) {
    holder_.PopToRoot(true);
    return S_FALSE;
  }
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) return S_FALSE;
  if (event == kEventDrag) {
    if (!record) return S_FALSE;
    const auto* words = static_cast<const std::int32_t*>(record);
    plat::RECT bound{};
    if (BoundRect(bound) != S_OK) return S_FALSE;
    if (!plat::PtInRect(&bound, plat::POINT{words[0], words[1]})) return S_FALSE;
    return nested->DispatchEvent(event, parameter, record) ? S_OK : S_FALSE;
  }
  if (event == kEventCharacter) {
    return SelectByKey(*nested, site_, static_cast<char16_t>(parameter & 0xFFFF)) ? S_OK : S_FALSE;
  }
  return nested->DispatchEvent(event, parameter, record) ? S_OK : S_FALSE;
}

HRESULT FormPlugin::AfterShow() {
  CRefPtr<CDialogContent> nested = GetNested();
  if (!nested) ThrowLayout(ORV_E_LAYOUT);
  nested->ClearSelection();
  if (site_) site_->Invalidate(false);
  nested->Build(view_);
  if (site_) site_->Invalidate(false);
  return S_OK;
}

HRESULT FormPlugin::FormPart::GetRootContent(IScreenContent** content) {
  if (!content) return plat::E_POINTER;
  CRefPtr<IScreenContent> root = owner_.holder_.GetRoot();
  *content = root.Get();
  if (*content) (*content)->AddRef();
  return S_OK;
}

HRESULT FormPlugin::FormPart::ShowContent(IScreenContent* content, plat::IUnknown* owner) {
  if (!content) return E_FAIL;
  CComRef<plat::IUnknown> holdOwner(owner);
  if (!owner_.holder_.Show(content, kShowReset, owner)) return E_FAIL;
  return owner_.AfterShow();
}

HRESULT FormPlugin::FormPart::ShowLayoutByName(const char16_t* name, plat::IUnknown* owner) {
  if (!name || !owner_.site_) return E_FAIL;
  CComRef<plat::IUnknown> holdOwner(owner);
  if (!ShowNamedLayout(owner_.holder_, name, kShowReset, owner, owner_.site_)) return E_FAIL;
  return owner_.AfterShow();
}
