#include "layout/DialogContent.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "core/DebugLog.h"
#include "core/FrameworkProperties.h"
#include "layout/LayoutRules.h"
#include "layout/LayoutServices.h"
#include "layout/MaskBlend.h"
#include "layout/ScreenScale.h"
#include "platform/base/Time.h"
#include "platform/windows/Windows.h"

using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;

namespace XmlLayouts {

namespace {

// Property key of a definition's explicit content rectangle.
constexpr int kKeyDialogRect = 13;

// A named Int or String of a definition.
bool DefinitionInt(const PluginEntry* entry, const char16_t* name, std::int32_t& value) {
  return entry && GetIntProperty(entry->GetProperties(), CPropertyName(std::u16string_view(name)), value);
}

bool DefinitionString(const PluginEntry* entry, const char16_t* name, std::u16string& value) {
  if (!entry) return false;
  CPropertyList found = FindProperty(entry->GetProperties(), CPropertyName(std::u16string_view(name)));
  if (!found) return false;
  value = found->GetString();
  return true;
}

void Direction(std::int32_t key, int& dx, int& dy) {
  dx = dy = 0;
  switch (key) {
    case kKeyLeft: dx = -1; break;
    case kKeyUp: dy = -1; break;
    case kKeyRight: dx = 1; break;
    case kKeyDown: dy = 1; break;
    default: break;
  }
}

int Sign(std::int64_t v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

}  // namespace

CDialogContent::CDialogContent(LayoutDefinition* layout, IPluginSite* site) : layout_(layout), site_(site) {
  if (!layout || !site) ThrowLayout(ORV_E_LAYOUT);
  outside_ = CComRef<DialogContentView>(new DialogContentView(this));
}

CDialogContent::~CDialogContent() {
  if (outside_) outside_->DetachContent();
  items_.clear();
  handler_.Reset();
  owner_.Reset();
  outside_.Reset();
  site_.Reset();
  layout_.Reset();
}

void CDialogContent::Bind(plat::IUnknown* owner) {
  owner_ = CComRef<plat::IUnknown>(owner);
  handler_.Reset();
  if (owner) {
    void* source = nullptr;
    if (owner->QueryInterface(IID_IDataSource, &source) == S_OK && source) {
      handler_.Attach(static_cast<IDataSource*>(source));
    }
  }
}

void CDialogContent::OnScreenEvent(std::int32_t event) { DispatchEvent(event, 0, nullptr); }

LayoutItemDescription CDialogContent::Describe(const Item& item) const {
  LayoutItemDescription d;
  d.site = site_.Get();
  d.view = outside_.Get();
  d.id = item.id;
  d.name = item.name.c_str();
  d.className = item.className.c_str();
  d.item = item.placed.Get();
  d.plugin = item.plugin.Get();
  return d;
}

LayoutItemDescription CDialogContent::DescribeContent() const {
  LayoutItemDescription d;
  d.site = site_.Get();
  d.view = outside_.Get();
  return d;
}

std::int32_t CDialogContent::IndexOf(const Item* item) const {
  if (!item) return -1;
  return static_cast<std::int32_t>(item - items_.data());
}

std::int32_t CDialogContent::QueryState(const Item& item, std::int32_t code) {
  std::int32_t flag = 0;
  if (Offered(item) && handler_->QueryItemState(Describe(item), code, &flag) == S_OK) return flag;
  flag = 0;
  if (item.plugin) item.plugin->GetKind(code, &flag);
  return flag;
}

bool CDialogContent::GetItemRect(const Item& item, std::uint32_t flags, plat::RECT& rect, std::intptr_t* mask) {
  if (!item.plugin) return false;
  if (mask) *mask = 0;
  return item.plugin->GetRect(0, flags, &rect, mask, nullptr) == S_OK;
}

// ---------------------------------------------------------------------------
// Build

void CDialogContent::Build(const LayoutViewRecord& view, const std::vector<CRefPtr<PluginEntry>>* entries) {
  std::u16string selectedName;
  std::u16string selectedClass;
  bool hadSelection = false;
  if (const Item* s = Selected()) {
    selectedName = s->name;
    selectedClass = s->className;
    hadSelection = true;
  }
  if (handler_) handler_->OnBuild(0, outside_.Get());

  std::vector<Item> spare;
  spare.swap(items_);
  selected_ = -1;
  entries_ = entries ? *entries : layout_->GetEntries();
  view_ = view;

  for (const CRefPtr<PluginEntry>& entry : entries_) {
    Item item;
    item.definition = entry;
    const CPropertyList& list = entry->GetProperties();
    if (CPropertyList v = FindProperty(list, CPropertyName(5))) item.name = v->GetString();
    if (CPropertyList v = FindProperty(list, CPropertyName(4))) item.className = v->GetString();
    if (CPropertyList v = FindProperty(list, CPropertyName(12))) item.id = v->GetInt();
    for (auto it = spare.rbegin(); it != spare.rend(); ++it) {
      if (it->plugin && it->name == item.name && it->className == item.className) {
        item.plugin = std::move(it->plugin);
        // The placed properties survive with the plug-in when the definition
        // is the same; a new definition gets its own.
        if (it->definition.Get() == entry.Get()) item.placed = std::move(it->placed);
        break;
      }
    }
    if (!item.plugin) {
      CRefPtr<IPluginFactoryService> factory = GetPluginFactory();
      ILayoutPlugin* made = factory ? factory->CreatePlugin(item.className.c_str()) : nullptr;
      if (!made) ThrowLayout(ORV_E_LAYOUT);
      item.plugin.Attach(made);
      const HRESULT hr = item.plugin->Init(site_.Get(), outside_.Get());
      if (plat::FAILED(hr)) ThrowLayout(hr);
    }
    if (!item.placed) item.placed = CComRef<PlacedLayoutItem>(new PlacedLayoutItem(list));
    items_.push_back(std::move(item));
  }
  spare.clear();
  for (Item& item : items_) {
    const HRESULT hr = item.plugin->SetProperties(item.placed.Get());
    if (plat::FAILED(hr)) ThrowLayout(hr);
  }
  if (handler_) handler_->OnBuild(1, outside_.Get());

  LayOut();

  if (hadSelection) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].name == selectedName && items_[i].className == selectedClass) {
        selected_ = static_cast<std::int32_t>(i);
        break;
      }
    }
  }
  SetScrollOriginPoint(scroll_);
  if (handler_) handler_->OnBuild(2, outside_.Get());
}

void CDialogContent::LayOut() {
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  std::int32_t dx = 0;
  std::int32_t dy = 0;
  extent_ = plat::RECT{0, 0, 0, 0};
  bool explicitExtent = false;
  LayoutViewRecord record = view_;
  for (Item& item : items_) {
    item.placed->SetOrigin(dx, dy);
    record.content = extent_;
    item.plugin->OnCommand(reinterpret_cast<std::intptr_t>(&record), 0);
    plat::RECT rect{};
    const bool hasRect = item.placed->GetBoundRect(&rect, 0) == S_OK;
    plat::SIZE size{0, 0};
    HRESULT measured = S_FALSE;
    if (Offered(item)) measured = handler_->MeasureItem(Describe(item), dc, &size);
    if (measured != S_OK) measured = item.plugin->GetContentSize(dc, &size);
    if (measured == S_OK) {
      dx += size.cx;
      dy += size.cy;
      rect.right += size.cx;
      rect.bottom += size.cy;
    }
    if (!explicitExtent) {
      if (CPropertyList r = FindProperty(item.definition->GetProperties(), CPropertyName(kKeyDialogRect))) {
        const CPropertyRect c = r->GetRect();
        extent_ = plat::RECT{c.left, c.top, c.right, c.bottom};
        explicitExtent = true;
        continue;
      }
      if (hasRect) {
        extent_.left = std::min(extent_.left, rect.left);
        extent_.top = std::min(extent_.top, rect.top);
        extent_.right = std::max(extent_.right, rect.right);
        extent_.bottom = std::max(extent_.bottom, rect.bottom);
      }
    } else if (measured == S_OK) {
      extent_.right += size.cx;
      extent_.bottom += size.cy;
    }
  }
  extent_.right = std::max(extent_.right, dx);
  extent_.bottom = std::max(extent_.bottom, dy);
  view_.content = extent_;
  if (dc) plat::DeleteDC(dc);
}

// ---------------------------------------------------------------------------
// Painting and hit tests

LayoutPaintRecord CDialogContent::MakeRecord(const ContentPaintRequest& request) const {
  LayoutPaintRecord record;
  record.dc = request.dc;
  record.clip = request.clip;
  record.scrollX = scroll_.x;
  record.scrollY = scroll_.y;
  record.visibleWidth = view_.width;
  record.visibleHeight = view_.height;
  record.content = extent_;
  record.originX = view_.x;
  record.originY = view_.y;
  record.bottomLimit = view_.y + view_.height;
  return record;
}

void CDialogContent::Paint(const ContentPaintRequest& request, ILayoutPlugin* only) {
  const int saved = plat::SaveDC(request.dc);
  plat::SetBkMode(request.dc, plat::TRANSPARENT);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    if (only && item.plugin.Get() != only) continue;
    const bool selected = static_cast<std::int32_t>(i) == selected_;
    if (request.mode != 0 && selected && QueryState(item, request.mode) != 0) PaintSelection(item, request);
    LayoutPaintRecord record = MakeRecord(request);
    record.focus = selected ? request.mode : 0;
    if (Offered(item) && handler_->PaintItem(Describe(item), record) == S_OK) continue;
    item.plugin->Paint(record);
  }
  plat::RestoreDC(request.dc, saved);
}

void CDialogContent::PaintSelection(const Item& item, const ContentPaintRequest& request) {
  CProfileScope profile(u"XmlLayouts::CDialogContent::PaintSelection");
  plat::RECT rect{};
  std::intptr_t mask = 0;
  if (!GetItemRect(item, 0, rect, &mask)) return;
  CBitmapBuffer attached;
  CBitmapBuffer* target = request.target;
  if (!target) {
    attached.Attach(static_cast<plat::HBITMAP>(plat::GetCurrentObject(request.dc, plat::OBJ_BITMAP)), request.dc);
    target = &attached;
  }
  if (!target->GetBits()) return;
  const int shiftX = view_.x - scroll_.x;
  const int shiftY = view_.y - scroll_.y;
  plat::RECT shape{rect.left + shiftX, rect.top + shiftY, rect.right + shiftX, rect.bottom + shiftY};
  plat::RECT area = shape;
  if (request.clip && !plat::IntersectRect(&area, &shape, request.clip)) return;
  const plat::RECT bounds{0, 0, target->GetWidth(), target->GetHeight()};
  if (!plat::IntersectRect(&area, &area, &bounds)) return;
  const int w = area.right - area.left;
  const int h = area.bottom - area.top;
  if (mask) {
    CBitmapBuffer maskBuffer;
    if (maskBuffer.Attach(reinterpret_cast<plat::HBITMAP>(mask), nullptr)) {
      BlendColorThroughMask(*target, area.left, area.top, w, h, 0xFFFFFF, area.left - shape.left,
                            area.top - shape.top, maskBuffer, 100);
      return;
    }
  }
  target->FillRectAlpha(area.left, area.top, w, h, 0xFFFFFF, 100);
}

bool CDialogContent::HitTest(const Item& item, bool selected, int x, int y) {
  plat::RECT rect{};
  std::intptr_t mask = 0;
  if (!item.plugin || item.plugin->GetRect(selected ? 1 : 0, 1, &rect, &mask, nullptr) != S_OK) return false;
  if (!plat::PtInRect(&rect, plat::POINT{x, y})) return false;
  if (!mask) return true;
  CBitmapBuffer maskBuffer;
  if (!maskBuffer.Attach(reinterpret_cast<plat::HBITMAP>(mask), nullptr)) return true;
  const int mx = x - rect.left;
  const int my = y - rect.top;
  if (mx >= maskBuffer.GetWidth() || my >= maskBuffer.GetHeight()) return false;
  const std::uint8_t* row = maskBuffer.Row(my);
  const int bpp = maskBuffer.GetBitsPerPixel();
  if (bpp == 1) return (row[mx / 8] >> (7 - (mx & 7))) & 1;
  if (bpp == 8) return row[mx] != 0;
  if (bpp == 16) return reinterpret_cast<const std::uint16_t*>(row)[mx] != 0;
  return true;
}

// ---------------------------------------------------------------------------
// Pointer

bool CDialogContent::PointerDown(int x, int y) {
  const plat::POINT p{x + scroll_.x, y + scroll_.y};
  for (std::size_t i = items_.size(); i-- > 0;) {
    Item& item = items_[i];
    if (QueryState(item, 2) == 0) continue;
    if (!HitTest(item, static_cast<std::int32_t>(i) == selected_, p.x, p.y)) continue;
    if (!Select(&item, 0, nullptr, &p)) return false;
    Redraw(false);
    return true;
  }
  return false;
}

void CDialogContent::PointerUp(int x, int y) {
  const plat::POINT p{x + scroll_.x, y + scroll_.y};
  Item* item = Selected();
  if (!item || QueryState(*item, 2) == 0 || !HitTest(*item, true, p.x, p.y)) return;
  if (ReleaseSelected(&p)) selected_ = -1;
}

bool CDialogContent::Select(Item* item, std::int32_t key, const plat::RECT* from, const plat::POINT* point) {
  if (!item || !item->plugin) return false;
  if (item->plugin->OnFocus(key, point, from) != S_OK) return false;
  selected_ = IndexOf(item);
  plat::RECT rect{};
  if (GetItemRect(*item, 0, rect)) EnsureVisibleRect(rect);
  return true;
}

void CDialogContent::Activate(const plat::POINT* point, std::int32_t flag, bool* handled) {
  bool done = false;
  if (Item* item = Selected()) {
    if (Offered(*item) && handler_->ActivateItem(Describe(*item), point, flag) == S_OK) {
      done = true;
    } else {
      done = item->plugin->ReservedB(point, flag) == S_OK;
    }
  }
  if (handled) *handled = done;
}

bool CDialogContent::ReleaseSelected(const plat::POINT* point) {
  Item* item = Selected();
  if (!item) return false;
  if (Offered(*item) && handler_->ReleaseItem(Describe(*item), point) == S_OK) return true;
  return item->plugin->OnTap(point) == S_OK;
}

// ---------------------------------------------------------------------------
// Keys and navigation

void CDialogContent::HandleKey(std::int32_t key, bool* handled, bool noWrap) {
  bool dummy = false;
  bool& result = handled ? *handled : dummy;
  result = true;
  Item* item = Selected();
  if (!item) {
    result = false;
    return;
  }
  if (key == kKeyEnter || key == kKeyActivate) {
    Redraw(false);
    bool activated = false;
    Activate(nullptr, key == kKeyActivate ? 1 : 0, &activated);
    if (activated) ReleaseSelected(nullptr);
    return;
  }
  plat::RECT rect{};
  const bool hasRect = GetItemRect(*item, 0, rect);
  std::int32_t keyHandled = 0;
  if (item->plugin->OnKey(static_cast<std::uint32_t>(key), &keyHandled) == S_OK && keyHandled) {
    plat::RECT now{};
    if (GetItemRect(*item, 0, now)) EnsureVisibleRect(now);
    return;
  }
  const char16_t* property = nullptr;
  switch (key) {
    case kKeyLeft: property = u"Left"; break;
    case kKeyUp: property = u"Up"; break;
    case kKeyRight: property = u"Right"; break;
    case kKeyDown: property = u"Down"; break;
    default:
      result = false;
      return;
  }
  std::u16string neighbour;
  if (DefinitionString(item->definition.Get(), property, neighbour)) {
    if (neighbour.empty()) {
      selected_ = -1;
      result = false;
      return;
    }
    for (std::size_t i = items_.size(); i-- > 0;) {
      if (items_[i].name == neighbour) {
        Select(&items_[i], key, hasRect ? &rect : nullptr);
        return;
      }
    }
  }
  if (!hasRect) {
    selected_ = -1;
    result = false;
    return;
  }
  if (SelectPluginInDirection(rect, key, false)) return;
  if (!noWrap) {
    plat::RECT wrapped = rect;
    int shiftX = 0;
    int shiftY = 0;
    switch (key) {
      case kKeyLeft: shiftX = GetScreenWidthPixels() - rect.left; break;
      case kKeyUp: shiftY = GetScreenHeightPixels() - rect.top; break;
      case kKeyRight: shiftX = -rect.right; break;
      case kKeyDown: shiftY = -rect.bottom; break;
      default: break;
    }
    plat::OffsetRect(&wrapped, shiftX, shiftY);
    if (SelectPluginInDirection(wrapped, key, true)) return;
  }
  selected_ = -1;
  result = false;
}

bool CDialogContent::SelectPluginInDirection(const plat::RECT& from, std::int32_t key, bool includeCurrent) {
  CProfileScope profile(u"XmlLayouts::CDialogContent::SelectPluginInDirection");
  int dx = 0;
  int dy = 0;
  Direction(key, dx, dy);
  if (dx == 0 && dy == 0) return false;
  plat::POINT s{(from.left + from.right) / 2, (from.top + from.bottom) / 2};
  while (plat::PtInRect(&from, s)) {
    s.x += dx;
    s.y += dy;
  }
  const std::int64_t w = from.right - from.left;
  const std::int64_t h = from.bottom - from.top;
  const std::int64_t along = h * dy + w * dx;
  const std::int64_t across = std::llabs(h * dx + w * dy);
  const std::int64_t d = across - std::llabs(along);
  const std::int64_t ax = static_cast<std::int64_t>(from.left) + from.right - d * dx;
  const std::int64_t ay = static_cast<std::int64_t>(from.top) + from.bottom - d * dy;

  Item* best = nullptr;
  std::int64_t bestScore = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = items_.size(); i-- > 0;) {
    Item& item = items_[i];
    if (static_cast<std::int32_t>(i) == selected_ && !includeCurrent) continue;
    if (QueryState(item, 1) == 0) continue;
    plat::RECT r{};
    if (!GetItemRect(item, 1, r) || r.left >= r.right) continue;
    std::int64_t itemBest = std::numeric_limits<std::int64_t>::max();
    for (std::int64_t y = r.top; y < r.bottom; y += 2) {
      for (std::int64_t x = r.left; x < r.right; x += 2) {
        const std::int64_t ex = x - s.x;
        const std::int64_t ey = y - s.y;
        std::int64_t score = 640000 * (ex * dx + ey * dy) + std::llabs(ex * dy + ey * dx);
        if (std::llabs((2 * x - ax) * dy + (2 * y - ay) * dx) > across) score += 800;
        if (score < 0) continue;
        const std::int64_t cx = 2 * x + 1 - ax;
        const std::int64_t cy = 2 * y + 1 - ay;
        if (std::llabs(cx * dx + cy * dy) < std::llabs(cx * dy + cy * dx)) continue;
        itemBest = std::min(itemBest, score);
      }
    }
    if (itemBest < bestScore) {
      bestScore = itemBest;
      best = &item;
    }
  }
  if (!best) return false;
  return Select(best, key, &from);
}

bool CDialogContent::SelectEdgePlugin(std::int32_t key) {
  const char16_t* mark = nullptr;
  switch (key) {
    case kKeyLeft: mark = u"IsRight"; break;
    case kKeyUp: mark = u"IsBottom"; break;
    case kKeyRight: mark = u"IsLeft"; break;
    case kKeyDown: mark = u"IsTop"; break;
    default: return false;
  }
  for (Item& item : items_) {
    std::int32_t marked = 0;
    if (!DefinitionInt(item.definition.Get(), mark, marked) || marked == 0) continue;
    if (QueryState(item, 0) == 0) continue;
    if (Select(&item, key, nullptr)) return true;
  }
  Item* chosen = nullptr;
  std::int32_t chosenEdge = 0;
  for (Item& item : items_) {
    if (QueryState(item, 2) == 0) continue;
    plat::RECT r{};
    if (!GetItemRect(item, 1, r)) continue;
    std::int32_t edge = 0;
    bool better = false;
    switch (key) {
      case kKeyRight: edge = r.left; better = !chosen || edge < chosenEdge; break;
      case kKeyLeft: edge = r.right; better = !chosen || edge >= chosenEdge; break;
      case kKeyDown: edge = r.top; better = !chosen || edge < chosenEdge; break;
      case kKeyUp: edge = r.bottom; better = !chosen || edge >= chosenEdge; break;
      default: break;
    }
    if (better) {
      chosen = &item;
      chosenEdge = edge;
    }
  }
  return chosen && Select(chosen, key, nullptr);
}

// ---------------------------------------------------------------------------
// Events and scrolling

bool CDialogContent::MayScroll() const {
  if (view_.width <= 0 || view_.height <= 0) return false;
  const std::int32_t mode = layout_->GetScrollMode();
  if (mode == 1) return true;
  if (mode == 2) return extent_.bottom - extent_.top > view_.height;
  return false;
}

std::int32_t CDialogContent::ScrollLimit() const {
  return std::max<std::int32_t>(extent_.top, extent_.bottom - view_.height);
}

void CDialogContent::Redraw(bool now) {
  if (site_) site_->Invalidate(now);
}

bool CDialogContent::PressWaiting() {
  plat::HWND window = nullptr;
  if (!site_ || site_->GetWindow(&window) != S_OK || !window) return false;
  plat::MSG msg{};
  return plat::PeekMessageW(&msg, window, plat::WM_LBUTTONDOWN, plat::WM_LBUTTONDOWN, plat::PM_NOREMOVE) != 0;
}

bool CDialogContent::DispatchEvent(std::int32_t code, std::intptr_t parameter, void* record) {
  // A handler may take this screen off the stack while the event runs.
  CRefPtr<CDialogContent> keep(this);
  if (handler_ && handler_->OnEvent(DescribeContent(), code, parameter, record) == S_OK) return true;
  // A plug-in may rebuild the content while it handles the event: walk a copy.
  std::vector<CComRef<ILayoutPlugin>> plugins;
  plugins.reserve(items_.size());
  for (const Item& item : items_) plugins.push_back(item.plugin);
  for (const auto& plugin : plugins) {
    if (plugin && plugin->ReservedC(code, parameter, record) == S_OK) return true;
  }
  if (code == kContentEventDragEnd) {
    if (!MayScroll()) return false;
    const std::int32_t clamped = std::clamp<std::int32_t>(scroll_.y, extent_.top, ScrollLimit());
    if (clamped != scroll_.y) {
      scroll_.y = clamped;
      Redraw(false);
    }
    return false;
  }
  if (code == kContentEventDrag && record) return DragScroll(*static_cast<GestureRecord*>(record));
  return false;
}

bool CDialogContent::DragScroll(const GestureRecord& g) {
  if (!MayScroll()) return false;
  bool handled = false;
  const std::int32_t before = scroll_.y;
  if (std::abs(g.currentY - g.previousY) > std::abs(g.currentX - g.previousX)) {
    scroll_.y += g.previousY - g.currentY;
    handled = true;
  }
  if (!g.released) {
    if (scroll_.y != before) Redraw(false);
    return handled;
  }
  const std::int32_t top = extent_.top;
  const std::int32_t limit = ScrollLimit();
  if (scroll_.y < top) {
    AnimateTo(top, 400, &scroll_.y);
  } else if (scroll_.y > limit) {
    AnimateTo(limit, 400, &scroll_.y);
  } else {
    const std::int32_t left = Glide(g.velocityY, 20, top, limit, &scroll_.y);
    if (left != 0) {
      // The elastic edge: overshoot into a band beyond the edge, come back in
      // twice the time the overshoot took.
      const bool atTop = scroll_.y <= top;
      const std::int32_t edge = atTop ? top : limit;
      const std::int32_t band = view_.height * 3 / 4;
      const plat::DWORD start = plat::GetTickCount();
      if (atTop) {
        Glide(left, 500, top - band, top, &scroll_.y);
      } else {
        Glide(left, 500, limit, limit + band, &scroll_.y);
      }
      const plat::DWORD took = plat::GetTickCount() - start;
      AnimateTo(edge, static_cast<std::int32_t>(std::min<plat::DWORD>(2 * took, kGlideMaxMs)), &scroll_.y);
      scroll_.y = edge;
    }
  }
  Redraw(false);
  return handled;
}

std::int32_t CDialogContent::Glide(std::int32_t velocity, std::int32_t deceleration, std::int32_t lower,
                                   std::int32_t upper, std::int32_t* position) {
  if (!position || !site_) ThrowLayout(ORV_E_LAYOUT);
  if (lower > upper) std::swap(lower, upper);
  const std::int64_t v = std::clamp<std::int64_t>(velocity, -kGlideMaxVelocity, kGlideMaxVelocity);
  const std::int64_t decel = std::max<std::int64_t>(1, std::llabs(deceleration));
  if (v == 0) return 0;
  const std::int64_t duration = std::min<std::int64_t>(100 * std::llabs(v) / decel, kGlideMaxMs);
  const std::int64_t p0 = *position;
  const plat::DWORD start = plat::GetTickCount() - 40;
  for (;;) {
    const std::int64_t t = std::min<std::int64_t>(static_cast<plat::DWORD>(plat::GetTickCount() - start), duration);
    const std::int64_t delta = t * (-Sign(v) * decel) / 100;
    // p0 - (delta + 2v) t / 2000, with delta's division left to the end so
    // that rounding never steps back against the motion.
    std::int64_t p = p0 - (t * (200 * v - Sign(v) * decel * t)) / 200000;
    // Moving down in value stops at the lower bound, up at the upper one.
    bool atBound = false;
    if (p <= lower) {
      p = lower;
      atBound = v > 0;
    } else if (p >= upper) {
      p = upper;
      atBound = v < 0;
    }
    *position = static_cast<std::int32_t>(p);
    Redraw(true);
    if (atBound) return static_cast<std::int32_t>(v + delta);
    if (t >= duration || PressWaiting()) return 0;
    plat::Sleep(kGlideFrameMs);
  }
}

void CDialogContent::AnimateTo(std::int32_t target, std::int32_t duration, std::int32_t* position) {
  if (!position) ThrowLayout(ORV_E_LAYOUT);
  if (duration > 0) {
    const std::int64_t d = duration;
    const std::int64_t a = ((static_cast<std::int64_t>(*position) - target) * 2000 / d) * 100 / d;
    if (a != 0) {
      Glide(static_cast<std::int32_t>(std::clamp<std::int64_t>(a * d / 100, -kGlideMaxVelocity, kGlideMaxVelocity)),
            static_cast<std::int32_t>(std::min<std::int64_t>(std::llabs(a), std::numeric_limits<std::int32_t>::max())),
            std::min(*position, target), std::max(*position, target), position);
    }
  }
  // The motion ends at the target, whatever the rounding of the steps left.
  *position = target;
}

void CDialogContent::EnsureVisibleRect(const plat::RECT& rect) {
  if (rect.top < scroll_.y) {
    scroll_.y = rect.top;
  } else if (rect.bottom > scroll_.y + view_.height) {
    scroll_.y = rect.bottom - view_.height;
  }
  if (rect.left < scroll_.x) {
    scroll_.x = rect.left;
  } else if (rect.right > scroll_.x + view_.width) {
    scroll_.x = rect.right - view_.width;
  }
}

void CDialogContent::SetScrollOriginPoint(plat::POINT point) {
  scroll_ = point;
  if (extent_.bottom - extent_.top > view_.height) {
    scroll_.y = std::clamp<std::int32_t>(scroll_.y, extent_.top, extent_.bottom - view_.height);
  }
  if (extent_.right - extent_.left > view_.width) {
    scroll_.x = std::clamp<std::int32_t>(scroll_.x, extent_.left, extent_.right - view_.width);
  }
}

// ---------------------------------------------------------------------------
// The outside view's side

HRESULT CDialogContent::QueryOwner(plat::REFIID iid, void** object) {
  if (!object) return E_INVALIDARG;
  if (!owner_) return plat::E_NOINTERFACE;
  return owner_->QueryInterface(iid, object);
}

bool CDialogContent::FindPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) {
  if (index < 0 || index >= static_cast<std::int32_t>(items_.size())) return false;
  const Item& found = items_[static_cast<std::size_t>(index)];
  if (plugin) {
    *plugin = found.plugin.Get();
    if (*plugin) (*plugin)->AddRef();
  }
  if (item) {
    *item = found.placed.Get();
    if (*item) (*item)->AddRef();
  }
  return true;
}

HRESULT CDialogContent::GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) {
  return FindPluginByIndex(index, plugin, item) ? S_OK : E_INVALIDARG;
}

bool CDialogContent::FindPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) {
  if (!name) return false;
  for (std::size_t i = items_.size(); i-- > 0;) {
    if (items_[i].name == name) return FindPluginByIndex(static_cast<std::int32_t>(i), plugin, item);
  }
  return false;
}

HRESULT CDialogContent::GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) {
  return FindPluginByName(name, plugin, item) ? S_OK : E_INVALIDARG;
}

HRESULT CDialogContent::Dispatch(std::int32_t event, std::intptr_t parameter, void* record) {
  return DispatchEvent(event, parameter, record) ? S_OK : S_FALSE;
}

HRESULT CDialogContent::SelectByName(const char16_t* name) {
  if (!name) {
    selected_ = -1;
    Redraw(false);
    return S_OK;
  }
  for (std::size_t i = items_.size(); i-- > 0;) {
    if (items_[i].name != name) continue;
    if (!Select(&items_[i], kKeyDown, nullptr)) return E_FAIL;
    Redraw(false);
    return S_OK;
  }
  return E_FAIL;
}

HRESULT CDialogContent::GetSelectedName(std::u16string* name) {
  const Item* item = Selected();
  if (!item) return S_FALSE;
  *name = item->name;
  return S_OK;
}

HRESULT CDialogContent::EnsureVisible(const plat::RECT* rect) {
  if (!rect) return E_INVALIDARG;
  EnsureVisibleRect(*rect);
  return S_OK;
}

}  // namespace XmlLayouts

bool ShowNamedLayout(ContentHolder& holder, const std::u16string& name, std::int32_t mode, plat::IUnknown* owner,
                     IPluginSite* site) {
  CRefPtr<ILayoutProviderService> provider = GetLayoutProvider();
  if (!provider) return false;
  CRefPtr<LayoutDocument> document;
  try {
    document = provider->GetLayout(name);
  } catch (const COrvException&) {
    return false;  // no layout of that name
  }
  if (!document) return false;
  CRefPtr<LayoutDefinition> layout = SelectLayout(*document);
  if (!layout) return false;
  CRefPtr<XmlLayouts::CDialogContent> content(new XmlLayouts::CDialogContent(layout.Get(), site));
  return holder.Show(content.Get(), mode, owner);
}
