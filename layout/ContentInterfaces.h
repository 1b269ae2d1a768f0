// The interfaces that connect layout plug-ins, dialog contents and the dialog
// manager, and the small objects behind them: a layered property source, a
// placed property set for one plug-in, the plug-in site, the outside view of
// a dialog content and the screen stack.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/PropertyValue.h"
#include "core/RefCounted.h"
#include "layout/LayoutCom.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class ILayoutPlugin;

// {1A48B65D-1D9A-45A6-9AE5-2C0E52D6DEA2}
inline constexpr plat::IID IID_IPropertySource = {
    0x1A48B65D, 0x1D9A, 0x45A6, {0x9A, 0xE5, 0x2C, 0x0E, 0x52, 0xD6, 0xDE, 0xA2}};
// {2DCEBE76-0A84-406B-8A97-804B9B40D3B7}
inline constexpr plat::IID IID_ILayoutItem = {
    0x2DCEBE76, 0x0A84, 0x406B, {0x8A, 0x97, 0x80, 0x4B, 0x9B, 0x40, 0xD3, 0xB7}};
// {4D4FE2CE-CF4E-4414-83D0-66594B7C65F6}
inline constexpr plat::IID IID_IPluginSite = {
    0x4D4FE2CE, 0xCF4E, 0x4414, {0x83, 0xD0, 0x66, 0x59, 0x4B, 0x7C, 0x65, 0xF6}};
// {332B0A4B-A39F-46A4-A07E-BB9DA03B4F06}
inline constexpr plat::IID IID_IDialogContent = {
    0x332B0A4B, 0xA39F, 0x46A4, {0xA0, 0x7E, 0xBB, 0x9D, 0xA0, 0x3B, 0x4F, 0x06}};
// {9C16E7B5-C308-4206-B454-278D753BF42D}
inline constexpr plat::IID IID_IDataSource = {
    0x9C16E7B5, 0xC308, 0x4206, {0xB4, 0x54, 0x27, 0x8D, 0x75, 0x3B, 0xF4, 0x2D}};

// Names of properties: a text, or a numeric key below 0x10000 passed in the
// pointer (as CPropertyName reads it).
using PropertyNameArg = const char16_t*;
inline PropertyNameArg PropertyKeyName(int key) {
  return reinterpret_cast<PropertyNameArg>(static_cast<std::uintptr_t>(key));
}

// Named values of a definition, an environment or a data source.
class IPropertySource : public plat::IUnknown {
 public:
  virtual plat::HRESULT GetInt(PropertyNameArg name, std::int32_t* value) = 0;
  virtual plat::HRESULT GetString(PropertyNameArg name, std::u16string* value) = 0;
  virtual plat::HRESULT GetPair(PropertyNameArg name, CPropertyPair* value) = 0;
  virtual plat::HRESULT GetRect(PropertyNameArg name, CPropertyRect* value) = 0;
  virtual plat::HRESULT GetFont(PropertyNameArg name, plat::HFONT* value) = 0;
  virtual plat::HRESULT GetObject(PropertyNameArg name, plat::IUnknown** value) = 0;
};

// The placed properties of one plug-in.
class ILayoutItem : public IPropertySource {
 public:
  virtual plat::HRESULT GetName(std::u16string* value) = 0;                   // key 5
  virtual plat::HRESULT GetClass(std::u16string* value) = 0;                  // key 4
  virtual plat::HRESULT GetId(std::int32_t* value) = 0;                       // key 12
  virtual plat::HRESULT GetBoundRect(plat::RECT* rect, std::uint32_t flags) = 0;  // key 1, moved
  virtual plat::HRESULT GetPosition(plat::POINT* point) = 0;                  // key 2, moved
  virtual plat::HRESULT GetSecondPosition(plat::POINT* point) = 0;            // key 3, moved
  virtual plat::HRESULT GetSkin(std::u16string* value) = 0;                   // key 6
  virtual plat::HRESULT IsBoldFontOff(bool* value) = 0;                       // key 7
  virtual plat::HRESULT GetFont1(plat::HFONT* value) = 0;                     // key 8
  virtual plat::HRESULT GetFont2(plat::HFONT* value) = 0;                     // key 9
  virtual plat::HRESULT GetFont3(plat::HFONT* value) = 0;                     // key 10
  virtual plat::HRESULT GetInt11(std::int32_t* value) = 0;                    // key 11 (text colour)
};

// What a plug-in reaches of its host.
class IPluginSite : public plat::IUnknown {
 public:
  virtual plat::HRESULT LoadLayout(const char16_t* name) = 0;
  virtual plat::HRESULT ReloadLayout() = 0;
  virtual plat::HRESULT GetWindow(plat::HWND* window) = 0;
  virtual plat::HRESULT Invalidate(bool updateNow) = 0;
  virtual plat::HRESULT RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) = 0;
  virtual plat::HRESULT Relayout() = 0;
  virtual plat::HRESULT SetShellState(std::uint32_t flags) = 0;
};

// The outside view of a dialog content.
class IDialogContent : public plat::IUnknown {
 public:
  virtual plat::HRESULT QueryOwner(plat::REFIID iid, void** object) = 0;
  virtual plat::HRESULT GetPluginCount(std::int32_t* count) = 0;
  virtual plat::HRESULT GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) = 0;
  virtual plat::HRESULT GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) = 0;
  virtual plat::HRESULT Dispatch(std::int32_t event, std::intptr_t parameter, void* record) = 0;
  virtual plat::HRESULT SelectByName(const char16_t* name) = 0;
  virtual plat::HRESULT GetSelectedName(std::u16string* name) = 0;
  virtual plat::HRESULT SetScrollOrigin(plat::POINT point) = 0;
  virtual plat::HRESULT GetScrollOrigin(plat::POINT* point) = 0;
  virtual plat::HRESULT EnsureVisible(const plat::RECT* rect) = 0;
  virtual plat::HRESULT ContentToWindow(plat::POINT* point) = 0;
  virtual plat::HRESULT WindowToContent(plat::POINT* point) = 0;
};

// Property getters over a list, asking an override source first.
class LayeredPropertySource : public CLayoutObject<IPropertySource> {
 public:
  LayeredPropertySource(IPropertySource* overrideSource, CPropertyList list);
  plat::HRESULT GetInt(PropertyNameArg name, std::int32_t* value) override;
  plat::HRESULT GetString(PropertyNameArg name, std::u16string* value) override;
  plat::HRESULT GetPair(PropertyNameArg name, CPropertyPair* value) override;
  plat::HRESULT GetRect(PropertyNameArg name, CPropertyRect* value) override;
  plat::HRESULT GetFont(PropertyNameArg name, plat::HFONT* value) override;
  plat::HRESULT GetObject(PropertyNameArg name, plat::IUnknown** value) override;

 private:
  ~LayeredPropertySource() override;
  IPropertySource* override_;  // counted
  CPropertyList list_;
};

// The properties of one plug-in definition, with positions moved by the
// origin the content gives it.
class PlacedLayoutItem : public CLayoutObject<ILayoutItem> {
 public:
  explicit PlacedLayoutItem(CPropertyList list);
  void SetOrigin(int x, int y) {
    originX_ = x;
    originY_ = y;
  }
  const CPropertyList& GetList() const { return list_; }

  plat::HRESULT GetInt(PropertyNameArg name, std::int32_t* value) override;
  plat::HRESULT GetString(PropertyNameArg name, std::u16string* value) override;
  plat::HRESULT GetPair(PropertyNameArg name, CPropertyPair* value) override;
  plat::HRESULT GetRect(PropertyNameArg name, CPropertyRect* value) override;
  plat::HRESULT GetFont(PropertyNameArg name, plat::HFONT* value) override;
  plat::HRESULT GetObject(PropertyNameArg name, plat::IUnknown** value) override;
  plat::HRESULT GetName(std::u16string* value) override;
  plat::HRESULT GetClass(std::u16string* value) override;
  plat::HRESULT GetId(std::int32_t* value) override;
  plat::HRESULT GetBoundRect(plat::RECT* rect, std::uint32_t flags) override;
  plat::HRESULT GetPosition(plat::POINT* point) override;
  plat::HRESULT GetSecondPosition(plat::POINT* point) override;
  plat::HRESULT GetSkin(std::u16string* value) override;
  plat::HRESULT IsBoldFontOff(bool* value) override;
  plat::HRESULT GetFont1(plat::HFONT* value) override;
  plat::HRESULT GetFont2(plat::HFONT* value) override;
  plat::HRESULT GetFont3(plat::HFONT* value) override;
  plat::HRESULT GetInt11(std::int32_t* value) override;

 private:
  plat::HRESULT GetPoint(int key, plat::POINT* point);
  CPropertyList list_;
  int originX_ = 0;
  int originY_ = 0;
};

// What the host of a plug-in site offers (the dialog manager implements it).
class IPluginSiteHost {
 public:
  virtual ~IPluginSiteHost() = default;
  virtual plat::HRESULT LoadLayout(const char16_t* name) = 0;
  virtual plat::HRESULT ReloadLayout() = 0;
  virtual plat::HWND GetHostWindow() = 0;
  virtual void InvalidateAll(bool updateNow) = 0;
  virtual plat::HRESULT RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) = 0;
  virtual plat::HRESULT Relayout() = 0;
};

// The plug-ins' way to their host; every call after the host went answers
// E_FAIL.
class PluginSite : public CLayoutObject<IPluginSite> {
 public:
  // Raises 0x84000001 without a host.
  explicit PluginSite(IPluginSiteHost* host);
  // The host clears the back pointer when it is destroyed.
  void DetachHost();

  plat::HRESULT LoadLayout(const char16_t* name) override;
  plat::HRESULT ReloadLayout() override;
  plat::HRESULT GetWindow(plat::HWND* window) override;
  plat::HRESULT Invalidate(bool updateNow) override;
  plat::HRESULT RedrawPlugin(ILayoutPlugin* plugin, bool updateNow, const plat::RECT* rect) override;
  plat::HRESULT Relayout() override;
  plat::HRESULT SetShellState(std::uint32_t flags) override;

 private:
  std::recursive_mutex lock_;
  IPluginSiteHost* host_;
};

// What a dialog content offers its outside view (the dialog content
// implements it); the view adds the lock and the check that it still lives.
class IDialogContentHost {
 public:
  virtual ~IDialogContentHost() = default;
  virtual plat::HRESULT QueryOwner(plat::REFIID iid, void** object) = 0;
  virtual std::int32_t GetPluginCount() = 0;
  virtual plat::HRESULT GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) = 0;
  virtual plat::HRESULT GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) = 0;
  virtual plat::HRESULT Dispatch(std::int32_t event, std::intptr_t parameter, void* record) = 0;
  virtual plat::HRESULT SelectByName(const char16_t* name) = 0;
  virtual plat::HRESULT GetSelectedName(std::u16string* name) = 0;
  virtual void SetScrollOrigin(plat::POINT point) = 0;
  virtual plat::POINT GetScrollOrigin() = 0;
  virtual plat::HRESULT EnsureVisible(const plat::RECT* rect) = 0;
  virtual plat::POINT GetViewPosition() = 0;
};

class DialogContentView : public CLayoutObject<IDialogContent> {
 public:
  // Raises 0x84000001 without a content.
  explicit DialogContentView(IDialogContentHost* content);
  void DetachContent();

  plat::HRESULT QueryOwner(plat::REFIID iid, void** object) override;
  plat::HRESULT GetPluginCount(std::int32_t* count) override;
  plat::HRESULT GetPluginByIndex(std::int32_t index, ILayoutPlugin** plugin, ILayoutItem** item) override;
  plat::HRESULT GetPluginByName(const char16_t* name, ILayoutPlugin** plugin, ILayoutItem** item) override;
  plat::HRESULT Dispatch(std::int32_t event, std::intptr_t parameter, void* record) override;
  plat::HRESULT SelectByName(const char16_t* name) override;
  plat::HRESULT GetSelectedName(std::u16string* name) override;
  plat::HRESULT SetScrollOrigin(plat::POINT point) override;
  plat::HRESULT GetScrollOrigin(plat::POINT* point) override;
  plat::HRESULT EnsureVisible(const plat::RECT* rect) override;
  plat::HRESULT ContentToWindow(plat::POINT* point) override;
  plat::HRESULT WindowToContent(plat::POINT* point) override;

 private:
  std::recursive_mutex lock_;
  IDialogContentHost* content_;
};

// A named string property of a source, or the default when the source has
// none (a null source gives the default too).
std::u16string GetPropertyString(IPropertySource* source, const char16_t* name, const std::u16string& defaultValue);

// Events a screen receives from the screen stack.
enum ScreenEvent : std::int32_t {
  kScreenAttached = 1,
  kScreenShown = 2,
  kScreenLeft = 3,
  kScreenAboutToBeUncovered = 4,
  kScreenUncovered = 5,
  kScreenCovered = 6,
  kScreenCoveredByTransient = 7,
};

// A screen on the stack (the dialog content): binding to its owner when it is
// shown, and the events of the stack.
class IScreenContent : public CRefCounted {
 public:
  virtual void Bind(plat::IUnknown* owner) = 0;
  virtual void OnScreenEvent(std::int32_t event) = 0;
};

// Show modes.
enum ShowMode : std::int32_t { kShowReplace = 1, kShowReset = 2, kShowPush = 3, kShowPushTransient = 4 };

// The stack of screens that shows one content at a time.
class ContentHolder {
 public:
  ContentHolder() = default;
  ContentHolder(const ContentHolder&) = delete;
  ContentHolder& operator=(const ContentHolder&) = delete;

  CRefPtr<IScreenContent> GetContent();
  // During a transient show also the content below the top (0x84000001 when
  // fewer than two are stacked); otherwise previous is empty.
  void GetTransition(CRefPtr<IScreenContent>& current, CRefPtr<IScreenContent>& previous);
  // False while another Show or Back runs.
  bool Show(IScreenContent* content, std::int32_t mode, plat::IUnknown* owner);
  bool Back(bool force);
  // Takes every content above the bottom one (all: every content) off the
  // stack, each told it left, top first; false while another call runs.
  bool PopToRoot(bool all);
  // The bottom content, or empty.
  CRefPtr<IScreenContent> GetRoot();
  // Lets go of every content without events (the owner is going away).
  void ReleaseAll();
  std::size_t GetDepth();
  bool IsTransient();

 private:
  std::recursive_mutex lock_;
  CRefPtr<IScreenContent> current_;
  bool transient_ = false;
  std::vector<CRefPtr<IScreenContent>> stack_;
  bool busy_ = false;
};
