// Data sources: the program's side of a layout screen. The dialog content
// asks its data source first about every item it paints, measures, selects,
// activates or tells of an event; the plug-ins read the source's named
// values. Besides the interface and its default answers, the four sources of
// the main window: progress, list-bound, progress-form and list-name.
#pragma once

#include <cstdint>
#include <string>

#include "layout/ContentInterfaces.h"
#include "layout/LayoutPlugin.h"
#include "layout/UpdateProgressText.h"

// {08EC3D02-C8D9-4BFB-BD57-F7A987166089}
inline constexpr plat::IID IID_IListSource = {
    0x08EC3D02, 0xC8D9, 0x4BFB, {0xBD, 0x57, 0xF7, 0xA9, 0x87, 0x16, 0x60, 0x89}};

// Everything the content tells a data source about one of its items.
struct LayoutItemDescription {
  IPluginSite* site = nullptr;
  IDialogContent* view = nullptr;
  std::int32_t id = -1;
  const char16_t* name = u"";
  const char16_t* className = u"";
  ILayoutItem* item = nullptr;
  ILayoutPlugin* plugin = nullptr;
};

// The change event of data sources and its parameter: the update progress
// moved on (refresh, lay out again, redraw).
constexpr std::int32_t kContentEventDataChanged = 21;
constexpr std::intptr_t kDataChangedProgress = 32868;

class IDataSource : public plat::IUnknown {
 public:
  virtual plat::HRESULT QueryService(plat::REFIID iid, void** object) = 0;                              // 3
  virtual plat::HRESULT PaintItem(const LayoutItemDescription& item, const LayoutPaintRecord& record) = 0;  // 4
  virtual plat::HRESULT QueryItemState(const LayoutItemDescription& item, std::int32_t code,
                                       std::int32_t* flag) = 0;                                         // 5
  virtual plat::HRESULT MeasureItem(const LayoutItemDescription& item, plat::HDC dc, plat::SIZE* size) = 0;  // 6
  virtual plat::HRESULT OnBuild(std::int32_t phase, IDialogContent* view) = 0;                          // 7
  virtual plat::HRESULT ActivateItem(const LayoutItemDescription& item, const plat::POINT* point,
                                     std::int32_t flag) = 0;                                           // 8
  virtual plat::HRESULT ReleaseItem(const LayoutItemDescription& item, const plat::POINT* point) = 0;  // 9
  virtual plat::HRESULT OnEvent(const LayoutItemDescription& item, std::int32_t event, std::intptr_t parameter,
                                void* record) = 0;                                                      // 10
  virtual plat::HRESULT DrawItem(const LayoutItemDescription& item, std::int32_t mode, plat::HDC dc,
                                 void* bits) = 0;                                                       // 12
  virtual plat::HRESULT OnBuildPhase(std::int32_t phase, IDialogContent* view) = 0;                     // 13
  virtual std::int32_t Refresh() = 0;                                                                   // 14
  virtual plat::HRESULT IsPluginShown(const char16_t* name, std::uint8_t* flag) = 0;                   // 15
};

// What a list view offers a list-bound source.
class IListSource : public plat::IUnknown {
 public:
  virtual std::int32_t GetRowCount() = 0;
  // Update progress of the shown list in percent, -1 when none.
  virtual std::int32_t GetUpdateProgress() = 0;
  virtual std::u16string GetEmptyText() = 0;
};

// The base data source: the default answers of every operation, and the
// property part with no values. Reference counted; starts at 0.
class CDataSource : public IDataSource {
 public:
  CDataSource();
  CDataSource(const CDataSource&) = delete;
  CDataSource& operator=(const CDataSource&) = delete;

  plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override;
  plat::ULONG AddRef() override;
  plat::ULONG Release() override;
  plat::HRESULT QueryService(plat::REFIID iid, void** object) override;
  plat::HRESULT PaintItem(const LayoutItemDescription& item, const LayoutPaintRecord& record) override;
  plat::HRESULT QueryItemState(const LayoutItemDescription& item, std::int32_t code, std::int32_t* flag) override;
  plat::HRESULT MeasureItem(const LayoutItemDescription& item, plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnBuild(std::int32_t phase, IDialogContent* view) override;
  plat::HRESULT ActivateItem(const LayoutItemDescription& item, const plat::POINT* point, std::int32_t flag) override;
  plat::HRESULT ReleaseItem(const LayoutItemDescription& item, const plat::POINT* point) override;
  plat::HRESULT OnEvent(const LayoutItemDescription& item, std::int32_t event, std::intptr_t parameter,
                        void* record) override;
  plat::HRESULT DrawItem(const LayoutItemDescription& item, std::int32_t mode, plat::HDC dc, void* bits) override;
  plat::HRESULT OnBuildPhase(std::int32_t phase, IDialogContent* view) override;
  std::int32_t Refresh() override;
  plat::HRESULT IsPluginShown(const char16_t* name, std::uint8_t* flag) override;

  // The property part: names not listed give S_FALSE, a null output
  // E_POINTER.
  virtual plat::HRESULT GetIntValue(const char16_t* name, std::int32_t* value);
  virtual plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value);

  IPropertySource* GetPropertyPart() { return &properties_; }

 protected:
  virtual ~CDataSource();

 private:
  // The second interface: forwards to the owner's Get…Value and counts on it.
  class PropertyPart : public IPropertySource {
   public:
    explicit PropertyPart(CDataSource& owner) : owner_(owner) {}
    plat::HRESULT QueryInterface(plat::REFIID iid, void** object) override { return owner_.QueryInterface(iid, object); }
    plat::ULONG AddRef() override { return owner_.AddRef(); }
    plat::ULONG Release() override { return owner_.Release(); }
    plat::HRESULT GetInt(PropertyNameArg name, std::int32_t* value) override;
    plat::HRESULT GetString(PropertyNameArg name, std::u16string* value) override;
    plat::HRESULT GetPair(PropertyNameArg, CPropertyPair*) override { return plat::S_FALSE; }
    plat::HRESULT GetRect(PropertyNameArg, CPropertyRect*) override { return plat::S_FALSE; }
    plat::HRESULT GetFont(PropertyNameArg, plat::HFONT*) override { return plat::S_FALSE; }
    plat::HRESULT GetObject(PropertyNameArg, plat::IUnknown**) override { return plat::S_FALSE; }

   private:
    CDataSource& owner_;
  };

  plat::LONG refCount_ = 0;
  PropertyPart properties_;
};

// A name handed to the property part: text names only (numeric keys are not
// data-source values).
bool IsTextPropertyName(PropertyNameArg name);

// "progress" / "Progress", "status", "message" from an update progress text.
class CProgressDataSource : public CDataSource {
 public:
  plat::HRESULT GetIntValue(const char16_t* name, std::int32_t* value) override;
  plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value) override;
  // Runs the update of the progress text; 1: lay the screen out again.
  std::int32_t Refresh() override;
  UpdateProgressText& GetProgress() { return progress_; }

 private:
  UpdateProgressText progress_;
};

// Reads a list view: "Progress" (clamped to -1..100), "EmptyList" (text,
// and shown only while the list has no rows).
class CListDataSource : public CDataSource {
 public:
  explicit CListDataSource(IListSource* list);
  // The list interface id is passed to the list (its QueryInterface), which
  // gives the rows to the layout's "VirtualList"; else as the base.
  plat::HRESULT QueryService(plat::REFIID iid, void** object) override;
  plat::HRESULT GetIntValue(const char16_t* name, std::int32_t* value) override;
  plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value) override;
  plat::HRESULT IsPluginShown(const char16_t* name, std::uint8_t* flag) override;

 protected:
  ~CListDataSource() override;

 private:
  IListSource* list_;  // counted
};

// A list-bound source with an update progress text and the progress form:
// the plug-in "ProgressForm" shows the layout "progress" fed by this source.
class CProgressFormDataSource : public CListDataSource {
 public:
  explicit CProgressFormDataSource(IListSource* list) : CListDataSource(list) {}
  plat::HRESULT GetIntValue(const char16_t* name, std::int32_t* value) override;
  plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value) override;
  plat::HRESULT IsPluginShown(const char16_t* name, std::uint8_t* flag) override;
  // While the progress form is hidden it takes no room: it measures minus
  // its own height, so the items after it move up into its place.
  plat::HRESULT MeasureItem(const LayoutItemDescription& item, plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnBuildPhase(std::int32_t phase, IDialogContent* view) override;
  std::int32_t Refresh() override;
  void SetProgressFormShown(bool shown) { progressFormShown_ = shown ? 1 : 0; }
  UpdateProgressText& GetProgress() { return progress_; }

 private:
  UpdateProgressText progress_;
  std::uint8_t progressFormShown_ = 0;
};

// "List": the name of the shown list.
class CListNameDataSource : public CDataSource {
 public:
  plat::HRESULT GetStringValue(const char16_t* name, std::u16string* value) override;
  void SetListName(std::u16string name) { name_ = std::move(name); }

 private:
  std::u16string name_;
};

// The interface part of a new source with one reference for the caller.
template <class Source, class... Args>
CComRef<Source> MakeDataSource(Args&&... args) {
  CComRef<Source> ref(new Source(std::forward<Args>(args)...));
  return ref;
}
