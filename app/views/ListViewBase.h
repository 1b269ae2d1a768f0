// What the channel list and the article list have in common: the rows of a
// "VirtualList", rebuilt lazily from their filter. Every change marks rows
// invalid (InvalidateRow, InvalidateAllRows); the next RefreshRows rebuilds
// the invalid rows in two locked phases, the view's own lock released before
// the channel set's lock is taken, so a change that arrives in between is
// kept for the following refresh. The view answers the layout's list
// (IVirtualList) and its list-bound data sources (IListSource).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/views/ListItemMetrics.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "layout/DataSources.h"
#include "layout/VirtualListPlugin.h"
#include "platform/windows/Windows.h"

class CUpdateManager;

// How the views ask and show: replaceable so that tests answer instead of a
// user. The defaults are the platform's message box and TrackPopupMenuEx.
struct ListViewUi {
  // A Yes/No question with the question icon; true for Yes.
  std::function<bool(plat::HWND owner, const std::u16string& text)> confirm;
  // Tracks the pop-up menu and answers the chosen id (0: none).
  std::function<plat::UINT(plat::HMENU menu, plat::HWND owner, plat::POINT screenPoint)> trackMenu;
};

// The defaults filled in where ui leaves them empty.
ListViewUi CompleteUi(ListViewUi ui);
// A pop-up item with its localized string, greyed when asked.
void AppendPopupString(plat::HMENU menu, plat::UINT id, plat::UINT stringId, bool greyed);
// Percent of the running update for a list: -1 unless updating outside the
// article view; else (current item's percent + (position - 1) x 100) / count.
int ListProgress(CUpdateManager* updates);

// Lock, valid flags and the list interfaces; knows nothing of the rows.
class ListViewBase {
 public:
  ListViewBase();
  virtual ~ListViewBase();
  ListViewBase(const ListViewBase&) = delete;
  ListViewBase& operator=(const ListViewBase&) = delete;

  // Row invalidation, under the view's lock. An index outside the valid
  // flags changes only the rows-current flag.
  void InvalidateRow(int index);
  // Every row invalid at the next refresh.
  void InvalidateAllRows();
  // Mark one row or every row invalid and ask the list to repaint.
  void RefreshRow(int index);
  void RefreshAll();
  // Rebuilds the invalid rows; false when nothing was to be done.
  virtual bool RefreshRows() = 0;

  // The layout's list and the list-bound data sources' view of this list
  // (counted references that never delete the view): whoever holds them (the
  // layout view, the data sources) must let go before the view is destroyed.
  IVirtualList* GetVirtualList() { return &virtualList_; }
  IListSource* GetListSource() { return &listSource_; }

  // The window that shows the list (the layout view), and the owner window
  // of message boxes and menus.
  void SetListWindow(plat::HWND window) { listWindow_ = window; }
  plat::HWND GetListWindow() const { return listWindow_; }
  void SetOwner(plat::HWND owner) { owner_ = owner; }
  plat::HWND GetOwner() const { return owner_; }
  // The channel set whose lock guards the data (null: the process's set).
  void SetChannelSet(CChannelSet* set) { channelSet_ = set; }
  CChannelSet* ChannelSet();

  int GetCurrentIndex();
  void SetCurrentIndex(int index);

  // Tells the list window that rows changed: the list counts its rows again
  // and repaints (one repaint request in flight at a time).
  void RequestRepaint();

  // How rows are drawn: the defaults, then what the layout's list gives.
  ListItemStyle& GetItemStyle() { return style_; }

  // Test view of the flags.
  bool AreRowsCurrent();
  std::vector<std::uint8_t> GetValidFlags();

 protected:
  // Phase 1 under the view's lock: false when the rows are current; else
  // marks them current and copies the valid flags.
  bool BeginRefresh(std::vector<std::uint8_t>& flags);
  // Phase 3 (caller holds the view's lock): the flags go back only when no
  // invalidation came since BeginRefresh.
  void EndRefreshLocked(std::vector<std::uint8_t>& flags);

  // The list's operations, implemented by each view.
  virtual int RowCount() = 0;
  virtual int InitialSelection() = 0;
  virtual int RowHeight(int row, int width) = 0;
  virtual int PaintRow(int row, CBitmapBuffer& target, int state, const plat::RECT& rect) = 0;
  virtual void OnSelectionChanged(int row) = 0;
  virtual void OnActivate(int row) = 0;
  virtual void OnContextGesture(int row, plat::POINT screenPoint) = 0;
  virtual int Progress() = 0;
  virtual std::u16string EmptyText() = 0;

  CSynchronized lock_;
  int current_ = -1;
  bool rowsCurrent_ = false;
  std::vector<std::uint8_t> valid_;
  ListItemStyle style_;

 private:
  class VirtualListPart : public IVirtualList {
   public:
    explicit VirtualListPart(ListViewBase& owner) : owner_(owner) {}
    plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override;
    plat::ULONG AddRef() override;
    plat::ULONG Release() override;
    plat::HRESULT LoadProperties(ILayoutPlugin* plugin, IPropertySource* properties, PackageResources* package) override;
    std::int32_t GetRowCount() override;
    std::int32_t GetInitialSelection() override;
    std::int32_t GetRowHeight(std::int32_t row, std::int32_t width) override;
    std::int32_t PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state, const plat::RECT& rect) override;
    plat::HRESULT OnSelectionChanged(std::int32_t row) override;
    plat::HRESULT Activate(std::int32_t row, const plat::POINT* point) override;
    plat::HRESULT OnContextGesture(std::int32_t row, std::int32_t screenX, std::int32_t screenY) override;
    plat::HRESULT Forward(std::intptr_t a, std::intptr_t b) override;

   private:
    ListViewBase& owner_;
  };
  class ListSourcePart : public IListSource {
   public:
    explicit ListSourcePart(ListViewBase& owner) : owner_(owner) {}
    plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override;
    plat::ULONG AddRef() override;
    plat::ULONG Release() override;
    std::int32_t GetRowCount() override;
    std::int32_t GetUpdateProgress() override;
    std::u16string GetEmptyText() override;

   private:
    ListViewBase& owner_;
  };

  void SetPlugin(ILayoutPlugin* plugin);

  VirtualListPart virtualList_{*this};
  ListSourcePart listSource_{*this};
  plat::LONG refs_ = 0;
  ILayoutPlugin* plugin_ = nullptr;  // counted; the list that last loaded us
  plat::HWND listWindow_ = nullptr;
  plat::HWND owner_ = nullptr;
  CChannelSet* channelSet_ = nullptr;
  bool repaintPosted_ = false;
};

// The rows of a view and the two-phase rebuild over them.
template <class Row>
class RowListViewBase : public ListViewBase {
 public:
  // A copy of row index as last built; false outside the rows.
  bool GetRow(int index, Row& row) {
    CSyncLock lock(&lock_, u"ListView::GetRow");
    if (index < 0 || index >= static_cast<int>(rows_.size())) return false;
    row = rows_[static_cast<std::size_t>(index)];
    return true;
  }
  int GetBuiltRowCount() {
    CSyncLock lock(&lock_, u"ListView::GetBuiltRowCount");
    return static_cast<int>(rows_.size());
  }
  bool RefreshRows() override { return RebuildRows(); }

 protected:
  // Under the channel set's lock: the filter's row count and one fresh row.
  virtual int SourceCount() = 0;
  virtual bool FillRow(int index, Row& row) = 0;

  // True when rows were rebuilt; false when they were current already.
  bool RebuildRows();

  std::vector<Row> rows_;
};

template <class Row>
bool RowListViewBase<Row>::RebuildRows() {
  std::vector<std::uint8_t> flags;
  if (!BeginRefresh(flags)) return false;
  // Built outside the view's lock: the channel set's lock comes first.
  std::vector<std::pair<int, Row>> built;
  int count = 0;
  {
    CSyncLock lock(ChannelSet(), u"ListView::RebuildRows");
    count = SourceCount();
    flags.resize(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
      if (flags[static_cast<std::size_t>(i)]) continue;
      Row row;
      if (FillRow(i, row)) built.emplace_back(i, std::move(row));
    }
  }
  CSyncLock lock(&lock_, u"ListView::RebuildRows");
  // The rows follow the filter's count, shorter as well as longer.
  rows_.resize(static_cast<std::size_t>(count));
  for (auto& [index, row] : built) {
    rows_[static_cast<std::size_t>(index)] = std::move(row);
    flags[static_cast<std::size_t>(index)] = 1;
  }
  EndRefreshLocked(flags);
  return true;
}
