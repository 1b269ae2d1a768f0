// The live form of one layout inside a window: its plug-ins as an ordered
// list of items, laid out, painted with the selection highlight, hit-tested,
// driven by the pointer and the navigation keys, and scrolled by finger drags
// with glides and an elastic edge. Every notification goes to the screen's
// data source first and to the plug-in only when the source does not answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/PropertyValue.h"
#include "layout/ContentInterfaces.h"
#include "layout/DataSources.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutPlugin.h"

// Content events.
enum ContentEvent : std::int32_t {
  kContentEventDrag = 8,
  kContentEventDragEnd = 9,
  kContentEventKeyDown = 17,
  kContentEventKeyDownOther = 18,
  kContentEventTransitionTime = 22,
  kContentEventLayoutShown = 23,
  kContentEventLayoutReloaded = 24,
};

// What the host's stylus loop hands the content with the drag events:
// points, the velocity in pixels per 1000 ms, whether the stylus is up, and
// a flag the content may set to end the gesture.
struct GestureRecord {
  std::int32_t downX = 0, downY = 0;
  std::int32_t previousX = 0, previousY = 0;
  std::int32_t currentX = 0, currentY = 0;
  std::int32_t velocityX = 0, velocityY = 0;
  std::int32_t released = 0;
  std::int32_t stop = 0;
};

// A paint of the content: the target (DC and, where known, its bitmap), the
// selection mode (0 none, 1 focus, 2 pressed) and the clip.
struct ContentPaintRequest {
  plat::HDC dc = nullptr;
  CBitmapBuffer* target = nullptr;
  std::int32_t mode = 0;
  const plat::RECT* clip = nullptr;
};

// Keys of the navigation.
constexpr std::int32_t kKeyEnter = 13;
constexpr std::int32_t kKeyActivate = -1;
constexpr std::int32_t kKeyLeft = 37;
constexpr std::int32_t kKeyUp = 38;
constexpr std::int32_t kKeyRight = 39;
constexpr std::int32_t kKeyDown = 40;

// Limits of the scroll loops: a frame every 16 ms, no glide longer than this
// and no velocity beyond this (pixels per 1000 ms).
constexpr plat::DWORD kGlideFrameMs = 16;
constexpr std::int64_t kGlideMaxMs = 10000;
constexpr std::int32_t kGlideMaxVelocity = 40000;

namespace XmlLayouts {

class CDialogContent : public IScreenContent, private IDialogContentHost {
 public:
  struct Item {
    std::u16string name;
    std::u16string className;
    std::int32_t id = -1;
    CRefPtr<PluginEntry> definition;
    CComRef<PlacedLayoutItem> placed;
    CComRef<ILayoutPlugin> plugin;
  };

  // Both are required (0x84000001 otherwise).
  CDialogContent(LayoutDefinition* layout, IPluginSite* site);

  // (Re)creates the items from the layout's entries (or the given list) and
  // lays them out for the view.
  void Build(const LayoutViewRecord& view, const std::vector<CRefPtr<PluginEntry>>* entries = nullptr);
  // Paints every item, or only the item of the given plug-in.
  void Paint(const ContentPaintRequest& request, ILayoutPlugin* only = nullptr);
  void PaintSelection(const Item& item, const ContentPaintRequest& request);
  bool HitTest(const Item& item, bool selected, int x, int y);

  // Window coordinates.
  bool PointerDown(int x, int y);
  void PointerUp(int x, int y);

  void HandleKey(std::int32_t key, bool* handled, bool noWrap);
  bool SelectPluginInDirection(const plat::RECT& from, std::int32_t key, bool includeCurrent);
  bool SelectEdgePlugin(std::int32_t key);
  bool Select(Item* item, std::int32_t key, const plat::RECT* from, const plat::POINT* point = nullptr);
  void Activate(const plat::POINT* point, std::int32_t flag, bool* handled);
  bool ReleaseSelected(const plat::POINT* point);
  void ClearSelection() { selected_ = -1; }

  // Events: the data source, then the plug-ins; drags scroll the content.
  bool DispatchEvent(std::int32_t code, std::intptr_t parameter, void* record);
  // The state query of an item with a code; the flag.
  std::int32_t QueryState(const Item& item, std::int32_t code);

  // Counted references to an item's plug-in and placed properties (either
  // output may be null); false when there is no such item.
  bool FindPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item);
  bool FindPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item);

  // The timed scroll loops over a position (the scroll y); see the source.
  std::int32_t Glide(std::int32_t velocity, std::int32_t deceleration, std::int32_t lower, std::int32_t upper,
                     std::int32_t* position);
  void AnimateTo(std::int32_t target, std::int32_t duration, std::int32_t* position);

  void EnsureVisibleRect(const plat::RECT& rect);
  void SetScrollOriginPoint(plat::POINT point);

  // IScreenContent
  void Bind(plat::IUnknown* owner) override;
  void OnScreenEvent(std::int32_t event) override;

  const std::vector<Item>& GetItems() const { return items_; }
  std::int32_t GetSelectedIndex() const { return selected_; }
  plat::POINT GetScroll() const { return scroll_; }
  plat::RECT GetExtent() const { return extent_; }
  plat::SIZE GetViewSize() const { return {view_.width, view_.height}; }
  const LayoutViewRecord& GetViewRecord() const { return view_; }
  IDialogContent* GetOutsideView() const { return outside_.Get(); }
  IDataSource* GetHandler() const { return handler_.Get(); }
  IPluginSite* GetSite() const { return site_.Get(); }
  LayoutDefinition* GetLayout() const { return layout_.Get(); }

 protected:
  ~CDialogContent() override;

 private:
  // IDialogContentHost
  plat::HRESULT QueryOwner(plat::REFIID iid, void** object) override;
  std::int32_t GetPluginCount() override { return static_cast<std::int32_t>(items_.size()); }
  plat::HRESULT GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) override;
  plat::HRESULT GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) override;
  plat::HRESULT Dispatch(std::int32_t event, std::intptr_t parameter, void* record) override;
  plat::HRESULT SelectByName(const char16_t* name) override;
  plat::HRESULT GetSelectedName(std::u16string* name) override;
  void SetScrollOrigin(plat::POINT point) override { SetScrollOriginPoint(point); }
  plat::POINT GetScrollOrigin() override { return scroll_; }
  plat::HRESULT EnsureVisible(const plat::RECT* rect) override;
  plat::POINT GetViewPosition() override { return {view_.x, view_.y}; }

  LayoutItemDescription Describe(const Item& item) const;
  LayoutItemDescription DescribeContent() const;
  // Whether the handler is asked about the item.
  bool Offered(const Item& item) const { return handler_ && item.id != -1; }
  Item* Selected() { return selected_ >= 0 ? &items_[static_cast<std::size_t>(selected_)] : nullptr; }
  std::int32_t IndexOf(const Item* item) const;
  bool GetItemRect(const Item& item, std::uint32_t flags, plat::RECT& rect, std::intptr_t* mask = nullptr);
  LayoutPaintRecord MakeRecord(const ContentPaintRequest& request) const;
  bool MayScroll() const;
  std::int32_t ScrollLimit() const;
  void Redraw(bool now);
  bool PressWaiting();
  void LayOut();
  bool DragScroll(const GestureRecord& gesture);

  CRefPtr<LayoutDefinition> layout_;
  CComRef<IPluginSite> site_;
  CComRef<DialogContentView> outside_;
  CComRef<plat::IUnknown> owner_;
  CComRef<IDataSource> handler_;
  std::vector<CRefPtr<PluginEntry>> entries_;
  std::vector<Item> items_;
  std::int32_t selected_ = -1;
  plat::RECT extent_{};
  LayoutViewRecord view_;
  plat::POINT scroll_{};
};

}  // namespace XmlLayouts

// Looks the layout up by name (the provider's document, its rules' choice),
// makes a content for it over the site and shows it on the holder. False when
// no layout is selected or the holder is busy.
bool ShowNamedLayout(ContentHolder& holder, const std::u16string& name, std::int32_t mode, plat::IUnknown* owner,
                     IPluginSite* site);
