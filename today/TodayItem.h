// The Today item's outer shell: its entry points, the item window and its
// class, the dispatch of the host's messages to the current view, the item's
// placement under the host's items, and the context menu.
#pragma once

#include <memory>
#include <string>

#include "platform/controls/TodayItems.h"
#include "platform/windows/Windows.h"

#include "today/HDBThread.h"
#include "today/TodayViews.h"

struct TodayItemPlacement {
  std::u16string Name;  // the container's item name
  plat::DWORD Embedded = 0;
  plat::DWORD PossibleTabs = 0;
  plat::DWORD CurrentTabs = 0;
  plat::DWORD RecommendedIndent = 0;
  plat::DWORD Version = 0;
};

// Reads where the item named name sits: directly on the Today screen, or
// embedded in a container item ("STEmbedded"), whose tab masks are OR-ed with
// those of its own container. 0 on success, E_FAIL for an empty name. A chain
// of containers is followed at most kMaxPlacementDepth deep; a chain that
// comes back to an item already seen (or is longer) ends there.
constexpr int kMaxPlacementDepth = 16;
plat::HRESULT ReadTodayItemPlacement(const std::u16string& name, TodayItemPlacement& placement);

// The data thread and the current view, shared by the item window.
class CTodayViewHolder {
 public:
  CTodayViewHolder() = default;
  ~CTodayViewHolder();
  // The view for the window and the current "ViewStyle": a view of another
  // window or style is replaced; the data thread is made first.
  CViewBase* GetView(plat::HWND window);
  // Tears down the view and the data thread.
  void Reset();
  CHDBThread* GetData() { return data_.get(); }
  CViewBase* CurrentView() { return view_.get(); }
  // Tests supply their own data thread and actions.
  void SetDataForTesting(std::unique_ptr<CHDBThread> data) { data_ = std::move(data); }
  void SetActionsForTesting(ITodayItemActions* actions) { actions_ = actions; }

 private:
  std::unique_ptr<CHDBThread> data_;
  std::unique_ptr<CViewBase> view_;
  ITodayItemActions* actions_ = nullptr;
};

// The library's holder.
CTodayViewHolder& GetTodayViewHolder();

bool RegisterTodayItemClass();
void UnregisterTodayItemClass();
// Null when the record is disabled.
plat::HWND CreateTodayItemWindow(plat::TODAYLISTITEM* item, plat::HWND parent);
plat::LRESULT TodayItemWndProc(plat::HWND window, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam);
void ShowItemContextMenu(plat::HWND window, plat::POINT point);

// The embedded-mode flag: set by InitializeEmbeddedItem.
bool IsTodayEmbeddedMode();

extern "C" {
plat::HWND InitializeCustomItem(plat::TODAYLISTITEM* item, plat::HWND parent);
plat::LRESULT CustomItemOptionsDlgProc(plat::HWND dialog, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam);
plat::HWND InitializeEmbeddedItem(plat::DWORD unused, plat::TODAYLISTITEM* item, plat::HWND parent);
plat::HRESULT GetSmartPluginInterface(plat::DWORD unused, plat::ISmartTodayPlugin** out);
plat::HICON GetTabIconEx();
}
