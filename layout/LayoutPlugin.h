// The object model of layout plug-ins: the ILayoutPlugin interface, the base
// object whose defaults every plug-in inherits ("ZeroBackground" is the base
// alone), and the base of the list plug-ins with its item geometry,
// selection and arrow-key navigation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "layout/ContentInterfaces.h"

// {AFB0DBC4-38EE-4047-B0F1-7C4685C24235}
inline constexpr plat::IID IID_ILayoutPlugin = {
    0xAFB0DBC4, 0x38EE, 0x4047, {0xB0, 0xF1, 0x7C, 0x46, 0x85, 0xC2, 0x42, 0x35}};
// {1C0861F7-B1BA-4407-9E11-FCC2DAA74106}
inline constexpr plat::IID IID_IFormPlugin = {
    0x1C0861F7, 0xB1BA, 0x4407, {0x9E, 0x11, 0xFC, 0xC2, 0xDA, 0xA7, 0x41, 0x06}};

// What a host hands a plug-in to paint: the target (a DC holding a DIB
// section, and a clip), the paint state (0 normal, 1 focused, 2 pressed),
// the scroll position, the visible size, the content rectangle, the drawing
// origin (the view's position in the target) and the bottom limit (text).
struct LayoutPaintRecord {
  plat::HDC dc = nullptr;
  const plat::RECT* clip = nullptr;
  std::int32_t focus = 0;
  std::int32_t scrollY = 0;
  std::int32_t visibleHeight = 0;
  std::int32_t originX = 0;
  std::int32_t originY = 0;
  std::int32_t bottomLimit = 0;
  std::int32_t scrollX = 0;
  std::int32_t visibleWidth = 0;
  plat::RECT content{};
};

// What a host hands every plug-in at a layout pass: the visible size, the
// content rectangle and the view's position.
struct LayoutViewRecord {
  std::int32_t width = 0;
  std::int32_t height = 0;
  plat::RECT content{};
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// Virtual-key codes the lists answer.
constexpr std::uint32_t kVkUp = 38;
constexpr std::uint32_t kVkDown = 40;

class ILayoutPlugin : public plat::IUnknown {
 public:
  virtual plat::HRESULT QueryOwnInterface(plat::REFIID iid, void** object) = 0;               // 3
  virtual plat::HRESULT Init(IPluginSite* site, IDialogContent* content) = 0;                // 4
  virtual plat::HRESULT SetProperties(ILayoutItem* item) = 0;                                // 5
  virtual plat::HRESULT Paint(const LayoutPaintRecord& record) = 0;                          // 6
  virtual plat::HRESULT GetKind(std::int32_t code, std::int32_t* kind) = 0;                  // 7
  // flags 0: the selection's rectangle; otherwise the whole plug-in. out1
  // may receive a mask bitmap (HBITMAP) of the rectangle's shape.
  virtual plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                                std::intptr_t* out2) = 0;                                    // 8
  virtual plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) = 0;                  // 9
  // The selection offered: by a key (with the rectangle it comes from) or by
  // the pointer (point); S_OK accepts it.
  virtual plat::HRESULT OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT* from) = 0;  // 10
  virtual plat::HRESULT OnKey(std::uint32_t key, std::int32_t* handled) = 0;                 // 11
  // Activation of the selected plug-in (Enter, or a press that stays a tap).
  virtual plat::HRESULT ReservedB(const plat::POINT* point, std::int32_t flag) = 0;          // 12
  virtual plat::HRESULT OnTap(const plat::POINT* point) = 0;                                 // 13
  // The layout pass: a points at the host's LayoutViewRecord.
  virtual plat::HRESULT OnCommand(std::intptr_t a, std::intptr_t b) = 0;                     // 14
  // Content events; S_OK when handled.
  virtual plat::HRESULT ReservedC(std::int32_t event, std::intptr_t parameter, void* record) = 0;  // 15
};

// The second interface of the "Form" plug-in (reached through its
// QueryOwnInterface): puts a content or a named layout into the form.
class IFormPlugin : public plat::IUnknown {
 public:
  virtual plat::HRESULT GetRootContent(IScreenContent** content) = 0;                       // 3
  virtual plat::HRESULT ShowContent(IScreenContent* content, plat::IUnknown* owner) = 0;     // 4
  virtual plat::HRESULT ShowLayoutByName(const char16_t* name, plat::IUnknown* owner) = 0;   // 5
};

class LayoutPluginBase : public CLayoutObject<ILayoutPlugin> {
 public:
  explicit LayoutPluginBase(std::int32_t kind = 0);

  plat::HRESULT QueryOwnInterface(plat::REFIID iid, void** object) override;
  plat::HRESULT Init(IPluginSite* site, IDialogContent* content) override;
  plat::HRESULT SetProperties(ILayoutItem* item) override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  plat::HRESULT GetKind(std::int32_t code, std::int32_t* kind) override;
  plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                        std::intptr_t* out2) override;
  plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT* from) override;
  plat::HRESULT OnKey(std::uint32_t key, std::int32_t* handled) override;
  plat::HRESULT ReservedB(const plat::POINT* point, std::int32_t flag) override;
  plat::HRESULT OnTap(const plat::POINT* point) override;
  plat::HRESULT OnCommand(std::intptr_t a, std::intptr_t b) override;
  plat::HRESULT ReservedC(std::int32_t event, std::intptr_t parameter, void* record) override;

  // The overridable steps.
  virtual plat::HRESULT DoPaint(plat::HDC dc, const plat::RECT* clip, std::int32_t focus);  // 17
  virtual plat::HRESULT DoCommand(std::intptr_t a, std::intptr_t b);                      // 18
  virtual plat::HRESULT OnNameChanged();                                                  // 19
  virtual plat::HRESULT LoadProperties();                                                 // 20

  const std::u16string& GetSkinName() const { return name_; }
  ILayoutItem* GetItem() const { return item_; }
  IPluginSite* GetSite() const { return site_; }
  IDialogContent* GetContent() const { return content_; }
  plat::HWND GetWindow() const { return window_; }
  // The screen's property source: the content owner's IPropertySource.
  plat::HRESULT GetOwnerPropertySource(CComRef<IPropertySource>& source);

 protected:
  ~LayoutPluginBase() override;
  // The item's rectangle (item slot 12).
  plat::HRESULT GetItemRect(plat::RECT& rect, std::uint32_t flags = 0);

 private:
  IPluginSite* site_ = nullptr;         // counted
  IDialogContent* content_ = nullptr;   // counted
  ILayoutItem* item_ = nullptr;         // counted
  std::int32_t kind_;
  std::u16string name_;
  plat::HWND window_ = nullptr;
};

// Per-item state of a list plug-in's paint.
constexpr std::int32_t kListItemNormal = 0;
constexpr std::int32_t kListItemSelected = 2;

class LayoutListPluginBase : public LayoutPluginBase {
 public:
  LayoutListPluginBase();
  // A list of another kind (the base is kind 2).
  explicit LayoutListPluginBase(std::int32_t kind);

  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                        std::intptr_t* out2) override;
  plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnFocus(std::int32_t key, const plat::POINT* point, const plat::RECT* from) override;
  plat::HRESULT OnKey(std::uint32_t key, std::int32_t* handled) override;
  plat::HRESULT OnTap(const plat::POINT* point) override;
  plat::HRESULT LoadProperties() override;

  virtual plat::HRESULT PaintFocus(const LayoutPaintRecord& record, CBitmapBuffer& target);  // 21
  virtual plat::HRESULT SetSelection(std::int32_t index);                                    // 22
  virtual std::int32_t GetSelection() const { return selection_; }                          // 23
  virtual std::int32_t GetItemHeight(std::int32_t index, std::int32_t width) = 0;            // 24
  virtual plat::HRESULT PaintItem(std::int32_t index, CBitmapBuffer& target, plat::HDC dc, std::int32_t state,
                                  const plat::RECT& rect) = 0;                               // 25
  virtual plat::HRESULT OnItemActivated(const plat::POINT* point, std::intptr_t b);          // 26
  virtual plat::HRESULT ActivateItem(const plat::POINT* point, std::intptr_t b);             // 27
  virtual bool IsItemSelectable(std::int32_t index) { return true; }                         // 28

  // Item count changes mark the geometry for measuring again.
  void SetItemCount(std::int32_t count);
  std::int32_t GetItemCount() const { return count_; }
  void SetEmptyFocus(bool on) { emptyFocus_ = on; }
  bool IsFocusShown() const { return focusShown_; }
  bool GetRemoveSeparator() const { return removeSeparator_; }
  std::int32_t GetTotalHeight() const { return totalHeight_; }
  // The item rectangle of index (E_FAIL outside the list).
  plat::HRESULT GetItemRect(std::int32_t index, plat::RECT& rect);
  // The item at a vertical position, -1 for none.
  std::int32_t HitTest(std::int32_t y);
  // Measures when the geometry is dirty.
  plat::HRESULT Measure();
  void InvalidateGeometry() { geometryDirty_ = true; }

  // Two device pixels per 96-dpi unit.
  static std::int32_t SeparatorAllowance();

 private:
  bool IsEmptyWithFocus() const { return count_ == 0 && emptyFocus_; }
  // The list's rectangle: the item's bound rectangle, which reaches the
  // window's right edge when the layout gives the list the Int "FillWidth" 1.
  plat::HRESULT ListRect(plat::RECT& rect, std::uint32_t flags = 0);
  std::int32_t FindSelectable(std::int32_t from, std::int32_t step) ;

  bool geometryDirty_ = true;
  bool removeSeparator_ = false;
  bool fillWidth_ = false;
  std::int32_t measuredWidth_ = -1;
  std::int32_t totalHeight_ = 0;
  std::int32_t selection_ = -1;
  struct Geometry {
    std::int32_t top;
    std::int32_t height;
  };
  std::vector<Geometry> geometry_;
  std::int32_t count_ = 0;
  bool emptyFocus_ = false;
  bool focusShown_ = false;
};
