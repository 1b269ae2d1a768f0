// The "ScrollList" plug-in: a vertical list whose rows are entry objects the
// screen's data source supplies through the entry-source service. The list
// base keeps the row geometry, the selection and the arrow keys; every
// per-row operation goes to the entry of that row.
#pragma once

#include <cstdint>
#include <vector>

#include "core/RefCounted.h"
#include "layout/LayoutPlugin.h"

// {69BC94A5-FDA8-4007-AA51-47ADAEDBBE26}
inline constexpr plat::IID IID_IScrollListSource = {
    0x69BC94A5, 0xFDA8, 0x4007, {0xAA, 0x51, 0x47, 0xAD, 0xAE, 0xDB, 0xBE, 0x26}};

class ScrollListPlugin;

// One row of a scroll list.
class ScrollListEntry : public CRefCounted {
 public:
  virtual plat::HRESULT OnActivated() = 0;
  // Non-zero when the entry was activated.
  virtual std::int32_t Activate(std::int32_t row, const plat::RECT& rect, std::intptr_t argument) = 0;
  virtual std::int32_t GetHeight(std::int32_t width) = 0;
  virtual bool IsSelectable(std::int32_t row) = 0;
  virtual plat::HRESULT Paint(CBitmapBuffer& target, plat::HDC dc, std::int32_t state, const plat::RECT& rect) = 0;
  virtual plat::HRESULT Init(IPluginSite* site, IDialogContent* content) = 0;
  virtual plat::HRESULT SetProperties(ILayoutItem* item) = 0;
};

// What a data source offers (QueryService) to fill a scroll list.
class IScrollListSource : public plat::IUnknown {
 public:
  virtual plat::HRESULT FillList(ScrollListPlugin* list) = 0;
};

class ScrollListPlugin : public LayoutListPluginBase {
 public:
  ScrollListPlugin() = default;

  plat::HRESULT SetProperties(ILayoutItem* item) override;
  // The fill: the rows asked of the owner's data source again.
  plat::HRESULT OnCommand(std::intptr_t a, std::intptr_t b) override;
  std::int32_t GetItemHeight(std::int32_t index, std::int32_t width) override;
  plat::HRESULT PaintItem(std::int32_t index, CBitmapBuffer& target, plat::HDC dc, std::int32_t state,
                          const plat::RECT& rect) override;
  plat::HRESULT OnItemActivated(const plat::POINT* point, std::intptr_t b) override;
  plat::HRESULT ActivateItem(const plat::POINT* point, std::intptr_t b) override;
  bool IsItemSelectable(std::int32_t index) override;

  // Appends a row (counted); for the source's FillList.
  void AddEntry(ScrollListEntry* entry);
  std::int32_t GetEntryCount() const { return static_cast<std::int32_t>(entries_.size()); }
  ScrollListEntry* GetEntry(std::int32_t index) const;

 protected:
  ~ScrollListPlugin() override;

 private:
  // The entry of a row; the framework's invalid-argument exception outside.
  ScrollListEntry& EntryAt(std::int32_t index) const;
  std::vector<CRefPtr<ScrollListEntry>> entries_;
};

ILayoutPlugin* MakeScrollListPlugin();
