#include "layout/LayoutPlugin.h"

#include "layout/ScreenScale.h"

using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::E_POINTER;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;

namespace {

template <class T>
void Replace(T*& held, T* next) {
  if (held == next) return;
  if (next) next->AddRef();
  T* old = held;
  held = next;
  if (old) old->Release();
}

}  // namespace

// ---------------------------------------------------------------------------
// LayoutPluginBase

LayoutPluginBase::LayoutPluginBase(std::int32_t kind) : CLayoutObject(IID_ILayoutPlugin), kind_(kind) {}

LayoutPluginBase::~LayoutPluginBase() {
  Replace<ILayoutItem>(item_, nullptr);
  Replace<IDialogContent>(content_, nullptr);
  Replace<IPluginSite>(site_, nullptr);
}

HRESULT LayoutPluginBase::QueryOwnInterface(plat::REFIID, void**) { return S_FALSE; }

HRESULT LayoutPluginBase::Init(IPluginSite* site, IDialogContent* content) {
  if (!site || !content) ThrowLayout(E_INVALIDARG);
  Replace(site_, site);
  Replace(content_, content);
  plat::HWND window = nullptr;
  if (site_->GetWindow(&window) == S_OK) window_ = window;
  return S_OK;
}

HRESULT LayoutPluginBase::SetProperties(ILayoutItem* item) {
  if (!item) ThrowLayout(E_INVALIDARG);
  Replace(item_, item);
  std::u16string skin;
  if (item_->GetSkin(&skin) != S_OK) skin.clear();
  if (skin != name_) {
    name_ = std::move(skin);
    const HRESULT hr = OnNameChanged();
    if (hr != S_OK) return hr;
  }
  return LoadProperties();
}

HRESULT LayoutPluginBase::Paint(const LayoutPaintRecord& record) { return DoPaint(record.dc, record.clip, record.focus); }

HRESULT LayoutPluginBase::GetKind(std::int32_t, std::int32_t* kind) {
  if (!kind) ThrowLayout(E_INVALIDARG);
  *kind = kind_;
  return S_OK;
}

HRESULT LayoutPluginBase::GetOwnerPropertySource(CComRef<IPropertySource>& source) {
  source = CComRef<IPropertySource>();
  if (!content_) return E_FAIL;
  IPropertySource* found = nullptr;
  const HRESULT hr = content_->QueryOwner(IID_IPropertySource, reinterpret_cast<void**>(&found));
  if (hr != S_OK) return hr;
  if (!found) return E_FAIL;
  source.Attach(found);
  return S_OK;
}

HRESULT LayoutPluginBase::GetItemRect(plat::RECT& rect, std::uint32_t flags) {
  if (!item_) return E_FAIL;
  return item_->GetBoundRect(&rect, flags);
}

HRESULT LayoutPluginBase::GetRect(std::int32_t, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                                  std::intptr_t* out2) {
  if (!rect) return E_POINTER;
  if (!item_ || item_->GetBoundRect(rect, flags) != S_OK) return E_FAIL;
  if (out1) *out1 = 0;
  if (out2) *out2 = 0;
  return S_OK;
}

HRESULT LayoutPluginBase::GetContentSize(plat::HDC, plat::SIZE*) { return S_FALSE; }
HRESULT LayoutPluginBase::OnFocus(std::int32_t, const plat::POINT*, const plat::RECT*) { return S_OK; }

HRESULT LayoutPluginBase::OnKey(std::uint32_t, std::int32_t* handled) {
  if (!handled) ThrowLayout(E_INVALIDARG);
  *handled = 0;
  return S_OK;
}

HRESULT LayoutPluginBase::ReservedB(const plat::POINT*, std::int32_t) { return S_OK; }
HRESULT LayoutPluginBase::OnTap(const plat::POINT*) { return S_OK; }
HRESULT LayoutPluginBase::OnCommand(std::intptr_t a, std::intptr_t b) { return DoCommand(a, b); }
HRESULT LayoutPluginBase::ReservedC(std::int32_t, std::intptr_t, void*) { return S_FALSE; }
HRESULT LayoutPluginBase::DoPaint(plat::HDC, const plat::RECT*, std::int32_t) { return S_OK; }
HRESULT LayoutPluginBase::DoCommand(std::intptr_t, std::intptr_t) { return S_OK; }
HRESULT LayoutPluginBase::OnNameChanged() { return S_OK; }
HRESULT LayoutPluginBase::LoadProperties() { return S_OK; }

// ---------------------------------------------------------------------------
// LayoutListPluginBase

LayoutListPluginBase::LayoutListPluginBase() : LayoutPluginBase(2) {}
LayoutListPluginBase::LayoutListPluginBase(std::int32_t kind) : LayoutPluginBase(kind) {}

std::int32_t LayoutListPluginBase::SeparatorAllowance() { return 2 * ((GetScreenDpiY() + 48) / 96); }

void LayoutListPluginBase::SetItemCount(std::int32_t count) {
  count_ = count < 0 ? 0 : count;
  geometryDirty_ = true;
  if (selection_ >= count_) selection_ = count_ - 1;
}

HRESULT LayoutListPluginBase::LoadProperties() {
  std::int32_t value = 0;
  removeSeparator_ = GetItem() && GetItem()->GetInt(u"RemoveSeparator", &value) == S_OK && value != 0;
  value = 0;
  fillWidth_ = GetItem() && GetItem()->GetInt(u"FillWidth", &value) == S_OK && value != 0;
  geometryDirty_ = true;
  return S_OK;
}

HRESULT LayoutListPluginBase::ListRect(plat::RECT& rect, std::uint32_t flags) {
  const HRESULT hr = LayoutPluginBase::GetItemRect(rect, flags);
  if (hr != S_OK || !fillWidth_) return hr;
  // The layout names the list's left edge; its rows reach the right edge of
  // the window, whatever the screen's shape.
  plat::RECT client{};
  plat::HWND window = GetWindow();
  if (window && plat::GetClientRect(window, &client) && client.right > rect.right) rect.right = client.right;
  return S_OK;
}

HRESULT LayoutListPluginBase::Measure() {
  plat::RECT rect{};
  const HRESULT hr = ListRect(rect);
  if (hr != S_OK) return hr;
  const std::int32_t width = rect.right - rect.left;
  // Rows are as tall as their text needs at the list's width.
  if (!geometryDirty_ && width == measuredWidth_) return S_OK;
  measuredWidth_ = width;
  geometry_.assign(static_cast<std::size_t>(count_), Geometry{0, 0});
  totalHeight_ = 0;
  for (std::int32_t i = 0; i < count_; ++i) {
    geometry_[static_cast<std::size_t>(i)].top = totalHeight_;
    const std::int32_t h = GetItemHeight(i, width);
    geometry_[static_cast<std::size_t>(i)].height = h;
    totalHeight_ += h;
  }
  geometryDirty_ = false;
  return S_OK;
}

HRESULT LayoutListPluginBase::Paint(const LayoutPaintRecord& record) {
  plat::RECT rect{};
  HRESULT hr = ListRect(rect);
  if (hr != S_OK) return hr;
  CBitmapBuffer target;
  if (record.dc) target.Attach(static_cast<plat::HBITMAP>(plat::GetCurrentObject(record.dc, plat::OBJ_BITMAP)), record.dc);
  if (emptyFocus_) PaintFocus(record, target);
  hr = Measure();
  if (hr != S_OK) return hr;
  const std::int32_t visibleTop = record.scrollY;
  const std::int32_t visibleBottom = record.scrollY + record.visibleHeight;
  const std::int32_t width = rect.right - rect.left;
  for (std::int32_t i = 0; i < count_; ++i) {
    const Geometry& g = geometry_[static_cast<std::size_t>(i)];
    if (g.top >= visibleBottom) break;
    if (g.top + g.height <= visibleTop) continue;
    plat::RECT item;
    item.left = rect.left + record.originX;
    item.top = rect.top + g.top - visibleTop + record.originY;
    item.right = item.left + width;
    item.bottom = item.top + g.height;
    const std::int32_t state = (record.focus && i == selection_) ? kListItemSelected : kListItemNormal;
    PaintItem(i, target, record.dc, state, item);
  }
  return S_OK;
}

HRESULT LayoutListPluginBase::GetContentSize(plat::HDC, plat::SIZE* size) {
  if (!size) return E_POINTER;
  const HRESULT hr = Measure();
  if (hr != S_OK) return hr;
  size->cx = 0;
  size->cy = totalHeight_ - (removeSeparator_ ? SeparatorAllowance() : 0);
  return S_OK;
}

HRESULT LayoutListPluginBase::GetItemRect(std::int32_t index, plat::RECT& rect) {
  if (index < 0 || index >= count_) return E_FAIL;
  HRESULT hr = Measure();
  if (hr != S_OK) return hr;
  hr = ListRect(rect);
  if (hr != S_OK) return hr;
  const Geometry& g = geometry_[static_cast<std::size_t>(index)];
  rect.top += g.top;
  rect.bottom = rect.top + g.height;
  return S_OK;
}

HRESULT LayoutListPluginBase::GetRect(std::int32_t, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                                      std::intptr_t* out2) {
  if (!rect) return E_POINTER;
  if (out1) *out1 = 0;
  if (out2) *out2 = 0;
  if (flags == 0 && !IsEmptyWithFocus()) {
    const HRESULT hr = GetItemRect(selection_, *rect);
    if (hr != S_OK) return hr;
    if (removeSeparator_) rect->bottom -= SeparatorAllowance();
    return S_OK;
  }
  HRESULT hr = ListRect(*rect, flags);
  if (hr != S_OK) return hr;
  hr = Measure();
  if (hr != S_OK) return hr;
  rect->bottom += totalHeight_;
  return S_OK;
}

std::int32_t LayoutListPluginBase::HitTest(std::int32_t y) {
  if (count_ == 0) return -1;
  plat::RECT rect{};
  if (ListRect(rect) != S_OK || Measure() != S_OK) return -1;
  const std::int32_t offset = y - rect.top;
  if (offset < 0) return -1;  // above the list: no row
  for (std::int32_t i = 0; i < count_; ++i) {
    const Geometry& g = geometry_[static_cast<std::size_t>(i)];
    if (g.top + g.height > offset) return i;
  }
  return -1;
}

HRESULT LayoutListPluginBase::SetSelection(std::int32_t index) {
  if (index > count_ - 1) index = count_ - 1;
  if (index < -1) index = -1;  // anything below the list selects nothing
  if (index >= 0 && !IsItemSelectable(index)) {
    std::int32_t found = -1;
    for (std::int32_t d = 1;; ++d) {
      const bool below = index + d < count_;
      const bool above = index - d >= 0;
      if (!below && !above) break;
      if (below && IsItemSelectable(index + d)) {
        found = index + d;
        break;
      }
      if (above && IsItemSelectable(index - d)) {
        found = index - d;
        break;
      }
    }
    index = found;
  }
  selection_ = index;
  focusShown_ = selection_ != -1;
  return S_OK;
}

HRESULT LayoutListPluginBase::OnFocus(std::int32_t, const plat::POINT* point, const plat::RECT*) {
  std::int32_t index;
  if (!point) {
    index = selection_ >= 0 ? selection_ : 0;
    if (index > count_ - 1) index = count_ - 1;
  } else {
    index = HitTest(point->y);
  }
  SetSelection(index);
  if (IsEmptyWithFocus()) {
    focusShown_ = true;
    return 0;
  }
  return selection_ == -1 ? 1 : 0;
}

std::int32_t LayoutListPluginBase::FindSelectable(std::int32_t from, std::int32_t step) {
  for (std::int32_t i = from; i >= 0 && i < count_; i += step) {
    if (IsItemSelectable(i)) return i;
  }
  return -1;
}

HRESULT LayoutListPluginBase::OnKey(std::uint32_t key, std::int32_t* handled) {
  if (!handled) return E_INVALIDARG;
  *handled = 1;
  if (IsEmptyWithFocus()) {
    if (key == kVkUp || key == kVkDown) {
      focusShown_ = false;
      *handled = 0;
    }
    return S_OK;
  }
  if (key == kVkUp) {
    const std::int32_t found = selection_ > 0 ? FindSelectable(selection_ - 1, -1) : -1;
    if (found >= 0) {
      SetSelection(found);
    } else {
      focusShown_ = false;
      *handled = 0;
      if (selection_ < 0) {
        const std::int32_t first = FindSelectable(0, 1);
        if (first >= 0) selection_ = first;
      }
    }
    return S_OK;
  }
  if (key == kVkDown) {
    const std::int32_t found = FindSelectable(selection_ + 1, 1);
    if (found >= 0) {
      SetSelection(found);
    } else {
      focusShown_ = false;
      *handled = 0;
    }
    return S_OK;
  }
  if (selection_ >= 0) return S_OK;
  const std::int32_t first = FindSelectable(0, 1);
  if (first >= 0) SetSelection(first);
  return S_OK;
}

HRESULT LayoutListPluginBase::OnTap(const plat::POINT* point) {
  if (point) {
    const std::int32_t index = HitTest(point->y);
    if (index < 0) return E_FAIL;
    SetSelection(index);
  }
  if (selection_ >= 0 && selection_ < count_) return ActivateItem(point, 0);
  return E_FAIL;
}

HRESULT LayoutListPluginBase::PaintFocus(const LayoutPaintRecord& record, CBitmapBuffer& target) {
  plat::RECT rect{};
  const HRESULT hr = ListRect(rect);
  if (hr == S_OK && record.focus && focusShown_ && count_ == 0 && target.GetBits()) {
    target.FillRectAlpha(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0xFFFFFF, 100);
  }
  return hr;
}

HRESULT LayoutListPluginBase::OnItemActivated(const plat::POINT*, std::intptr_t) { return S_OK; }
HRESULT LayoutListPluginBase::ActivateItem(const plat::POINT* point, std::intptr_t b) {
  return OnItemActivated(point, b);
}
