// "VirtualList": a list whose rows live outside the layout. The screen's data
// source hands the plug-in an IVirtualList that counts, measures and paints
// the rows and answers selection, activation and the context gesture; the
// plug-in adds the engraved separators, the "Back" swipe and the hold
// gesture to the scrolling and keys of the list base.
#pragma once

#include <cstdint>
#include <functional>

#include "core/BitmapBuffer.h"
#include "layout/LayoutPlugin.h"

class PackageResources;

// {08EC3D02-C8D9-4BFB-BD57-F7A987166089}
inline constexpr plat::IID IID_IVirtualList = {
    0x08EC3D02, 0xC8D9, 0x4BFB, {0xBD, 0x57, 0xF7, 0xA9, 0x87, 0x16, 0x60, 0x89}};

class IVirtualList : public plat::IUnknown {
 public:
  virtual plat::HRESULT LoadProperties(ILayoutPlugin* plugin, IPropertySource* properties,
                                       PackageResources* package) = 0;
  virtual std::int32_t GetRowCount() = 0;
  virtual std::int32_t GetInitialSelection() = 0;
  virtual std::int32_t GetRowHeight(std::int32_t row, std::int32_t width) = 0;
  // Non-zero asks for the row separator under the row.
  virtual std::int32_t PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state,
                                const plat::RECT& rect) = 0;
  virtual plat::HRESULT OnSelectionChanged(std::int32_t row) = 0;
  // point is null when the row is activated without one (a key).
  virtual plat::HRESULT Activate(std::int32_t row, const plat::POINT* point) = 0;
  virtual plat::HRESULT OnContextGesture(std::int32_t row, std::int32_t screenX, std::int32_t screenY) = 0;
  // An operation the plug-in passes on untouched.
  virtual plat::HRESULT Forward(std::intptr_t a, std::intptr_t b) = 0;
};

// Fills the rectangle with the colour at an alpha fading linearly from
// alphaFrom to alphaTo (across, or down when vertical). 16-bit targets only;
// the rectangle is clipped to the target. Answers 1.
int FillRectAlphaGradient(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                          int alphaFrom, int alphaTo, bool vertical);

// The engraved separator at the bottom of a row rectangle: a dark and a light
// line, solid over the left half and fading out towards the right.
void DrawRowSeparator(CBitmapBuffer& target, const plat::RECT& row);

// The command the main window takes as "Back".
constexpr std::uint32_t kBackCommand = 2064;
// The update-progress event and the parameter that refreshes a pending list.
constexpr std::int32_t kUpdateProgressEvent = 21;
constexpr std::intptr_t kUpdateProgressParameter = 32868;

class VirtualListPlugin : public LayoutListPluginBase {
 public:
  VirtualListPlugin() : LayoutListPluginBase(1) {}

  plat::HRESULT Init(IPluginSite* site, IDialogContent* content) override;
  plat::HRESULT LoadProperties() override;
  plat::HRESULT GetContentSize(plat::HDC dc, plat::SIZE* size) override;
  plat::HRESULT OnTap(const plat::POINT* point) override;
  // The hold gesture: 1 when the shell recognised the context gesture and the
  // list was told, 0 otherwise (E_FAIL for a point on no row).
  plat::HRESULT ReservedB(const plat::POINT* point, std::int32_t flag) override;
  plat::HRESULT ReservedC(std::int32_t event, std::intptr_t parameter, void* record) override;
  plat::HRESULT DoCommand(std::intptr_t a, std::intptr_t b) override;

  plat::HRESULT SetSelection(std::int32_t index) override;
  std::int32_t GetItemHeight(std::int32_t index, std::int32_t width) override;
  plat::HRESULT PaintItem(std::int32_t index, CBitmapBuffer& target, plat::HDC dc, std::int32_t state,
                          const plat::RECT& rect) override;
  plat::HRESULT OnItemActivated(const plat::POINT* point, std::intptr_t b) override;
  virtual plat::HRESULT ForwardToList(std::intptr_t a, std::intptr_t b);  // 29

  // Counts the rows again; with select the list's initial row is selected.
  void Reload(bool select);
  void SetRefreshPending() { refreshPending_ = true; }
  bool IsRefreshPending() const { return refreshPending_; }
  bool IsEnsureVisiblePending() const { return ensureVisible_; }
  // The shell's tap-and-hold recognition; replaceable for tests.
  using GestureRecognizer = std::function<std::uint32_t(plat::HWND window, plat::POINT point)>;
  void SetGestureRecognizer(GestureRecognizer recognizer) { recognizer_ = std::move(recognizer); }
  void SetHostWindow(plat::HWND window) { hostWindow_ = window; }

 protected:
  ~VirtualListPlugin() override;

 private:
  plat::HWND HostWindow();

  IVirtualList* list_ = nullptr;  // counted
  bool ensureVisible_ = false;
  bool refreshPending_ = false;
  plat::HWND hostWindow_ = nullptr;
  GestureRecognizer recognizer_;
};
