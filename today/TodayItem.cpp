#include "today/TodayItem.h"

#include <algorithm>
#include <set>

#include "core/IconCache.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "database/ThumbnailsManager.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Interlocked.h"
#include "platform/base/Time.h"
#include "platform/controls/Shell.h"
#include "platform/imaging/Com.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Menus.h"
#include "platform/windows/SystemMetrics.h"
#include "resources/today/resource.h"
#include "today/HDBThread.h"
#include "today/MainProgramStarter.h"
#include "today/TodayCommon.h"
#include "today/TodayViews.h"

namespace {

bool g_embeddedMode = false;

constexpr plat::HRESULT kFail = static_cast<plat::HRESULT>(0x80004005u);

class DefaultActions : public ITodayItemActions {
 public:
  void RequestShow() override { CMainProgramStarter::GetInstance()->RequestShow(); }
  void RequestShowArticle(const std::u16string& channel, const std::u16string& articleId) override {
    CMainProgramStarter::GetInstance()->RequestShowArticle(channel, articleId);
  }
  void StartOptions() override { StartOptionsProgram(); }
  bool IsHeld(plat::HWND window, plat::POINT point) override {
    plat::SHRGINFO info{sizeof(plat::SHRGINFO), window, point, plat::SHRG_RETURNCMD};
    return plat::SHRecognizeGesture(&info) == plat::GN_CONTEXTMENU;
  }
  void ShowContextMenu(plat::HWND window, plat::POINT point) override { ShowItemContextMenu(window, point); }
};

plat::DWORD ReadDword(plat::HKEY key, const char16_t* name) {
  plat::DWORD value = 0, type = 0, size = sizeof value;
  if (plat::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(&value), &size) !=
      plat::ERROR_SUCCESS)
    return 0;
  return value;
}

std::u16string ReadString(plat::HKEY key, const char16_t* name) {
  plat::DWORD type = 0, size = 0;
  if (plat::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != plat::ERROR_SUCCESS || size < 2) return {};
  std::u16string value(size / 2, u'\0');
  if (plat::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(value.data()), &size) !=
      plat::ERROR_SUCCESS)
    return {};
  return std::u16string(value.c_str());
}

plat::HKEY OpenItemKey(const std::u16string& name) {
  const std::u16string path = std::u16string(plat::kTodayItemsKey) + u"\\" + name;
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != plat::ERROR_SUCCESS) return nullptr;
  return key;
}

plat::HRESULT ReadPlacement(const std::u16string& name, TodayItemPlacement& placement, std::set<std::u16string>& seen) {
  placement = TodayItemPlacement{};
  if (name.empty()) return kFail;
  plat::HKEY key = OpenItemKey(name);
  if (!key) return 0;
  std::u16string container;
  if (ReadDword(key, u"Enabled") == 0) container = ReadString(key, u"STEmbedded");
  plat::RegCloseKey(key);
  if (container.empty()) return 0;
  plat::HKEY containerKey = OpenItemKey(container);
  if (!containerKey) return 0;
  placement.Embedded = 1;
  placement.Name = container;
  placement.PossibleTabs = ReadDword(containerKey, u"STCPossibleTabs");
  placement.CurrentTabs = ReadDword(containerKey, u"STCCurrentTabs");
  placement.RecommendedIndent = ReadDword(containerKey, u"STCRecommendedIndent");
  placement.Version = ReadDword(containerKey, u"STCVersion");
  plat::RegCloseKey(containerKey);
  // A container that contains itself, directly or through others, or a
  // chain deeper than any real one, ends the walk here.
  std::u16string lowered = container;
  for (char16_t& c : lowered) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (!seen.insert(lowered).second || static_cast<int>(seen.size()) > kMaxPlacementDepth) return 0;
  TodayItemPlacement outer;
  if (ReadPlacement(container, outer, seen) != 0) return kFail;
  if (outer.Embedded) {
    placement.PossibleTabs |= outer.PossibleTabs;
    placement.CurrentTabs |= outer.CurrentTabs;
  }
  return 0;
}

void RefreshPlacement(CViewBase* view) {
  // Each view reads the placement at most once a second.
  if (!view->PlacementDue(plat::GetTickCount())) return;
  TodayItemPlacement placement;
  if (ReadTodayItemPlacement(GetTodayItemKeyName(), placement) != 0) return;
  view->SetEmbedded(placement.Embedded != 0);
  view->SetIconMode(static_cast<int>(placement.RecommendedIndent));
  if (!placement.Embedded) view->SetIconMode(g_embeddedMode ? 0 : 1);
}

void FitToScreenWidth(plat::HWND window, CViewBase* view) {
  if (g_embeddedMode || view->IsEmbedded()) return;
  int wanted = plat::GetSystemMetrics(plat::SM_CXSCREEN);
  plat::HWND parent = plat::GetParent(window);
  if (parent && (plat::GetWindowLongW(parent, plat::GWL_STYLE) & plat::WS_VSCROLL))
    wanted -= plat::GetSystemMetrics(plat::SM_CXVSCROLL);
  plat::RECT r{};
  plat::GetWindowRect(window, &r);
  if (std::abs((r.right - r.left) - wanted) <= 4) return;
  plat::SetWindowPos(window, nullptr, 0, 0, wanted, r.bottom - r.top, plat::SWP_NOMOVE | plat::SWP_NOZORDER);
}

void PaintItem(plat::HWND window, CViewBase* view) {
  if (view) RefreshPlacement(view);
  if (!plat::GetUpdateRect(window, nullptr, plat::FALSE)) return;
  if (view) FitToScreenWidth(window, view);
  plat::PAINTSTRUCT ps;
  plat::HDC dc = plat::BeginPaint(window, &ps);
  plat::RECT client{};
  plat::GetClientRect(window, &client);
  if (view && client.right > 0 && client.bottom > 0) {
    plat::HDC memory = plat::CreateCompatibleDC(dc);
    plat::HBITMAP bitmap = plat::CreateCompatibleBitmap(dc, client.right, client.bottom);
    plat::HGDIOBJ old = plat::SelectObject(memory, bitmap);
    plat::SetBkMode(memory, plat::TRANSPARENT);
    view->Paint(memory, client);
    plat::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, plat::SRCCOPY);
    plat::SelectObject(memory, old);
    plat::DeleteObject(bitmap);
    plat::DeleteDC(memory);
  }
  plat::EndPaint(window, &ps);
  if (CHDBThread* data = GetTodayViewHolder().GetData()) data->Start();
}

// The id the other shell host asks the plug-in interface by.
constexpr plat::IID kIidSmartTodayPlugin = {0x5C1F2E07, 0x6A2B, 0x4D19, {0x9E, 0x31, 0x7B, 0x44, 0xA0, 0x2D, 0x8C, 0x15}};

// The interface the other shell host asks for.
class CSmartTodayImpl final : public plat::ISmartTodayPlugin {
 public:
  explicit CSmartTodayImpl(CTodayViewHolder* holder) : holder_(holder) {}
  plat::HRESULT QueryInterface(const void* iid, void** out) override {
    if (!out) return static_cast<plat::HRESULT>(0x80070057u);
    *out = nullptr;
    if (!iid || !(*static_cast<const plat::IID*>(iid) == plat::IID_IUnknown ||
                  *static_cast<const plat::IID*>(iid) == kIidSmartTodayPlugin))
      return static_cast<plat::HRESULT>(0x80004002u);  // E_NOINTERFACE
    *out = this;
    AddRef();
    return 0;
  }
  plat::DWORD AddRef() override { return static_cast<plat::DWORD>(plat::InterlockedIncrement(&refs_)); }
  plat::DWORD Release() override {
    const plat::LONG left = plat::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<plat::DWORD>(left);
  }
  plat::HRESULT SetHostValues(plat::DWORD value, plat::DWORD iconWidth, plat::DWORD iconHeight) override {
    value_ = value;
    iconWidth_ = iconWidth;
    iconHeight_ = iconHeight;
    return 0;
  }
  plat::HRESULT PaintTabIcon(plat::HDC dc, const plat::RECT* rect) override {
    if (!dc || !rect) return kFail;
    plat::HICON icon = static_cast<plat::HICON>(plat::LoadImageW(GetTodayModule(), plat::MAKEINTRESOURCEW(IDI_TODAY),
                                                                 plat::IMAGE_ICON, static_cast<int>(iconWidth_),
                                                                 static_cast<int>(iconHeight_), 0));
    if (!icon) return kFail;
    const int x = rect->left + (rect->right - rect->left - static_cast<int>(iconWidth_)) / 2;
    const int y = rect->top + (rect->bottom - rect->top - static_cast<int>(iconHeight_)) / 2;
    plat::DrawIconEx(dc, x, y, icon, static_cast<int>(iconWidth_), static_cast<int>(iconHeight_), 0, nullptr,
                     plat::DI_NORMAL);
    plat::DestroyIcon(icon);
    return 0;
  }
  plat::DWORD PassThrough(plat::DWORD value) override { return value; }
  plat::HRESULT SetIconSize(plat::DWORD iconWidth, plat::DWORD iconHeight) override {
    iconWidth_ = iconWidth;
    iconHeight_ = iconHeight;
    return 0;
  }
  plat::HRESULT Reserved() override { return 0; }

 private:
  plat::LONG refs_ = 0;
  plat::DWORD value_ = 0;
  plat::DWORD iconWidth_ = 16;
  plat::DWORD iconHeight_ = 16;
  CTodayViewHolder* holder_;
};

}  // namespace

ITodayItemActions* GetDefaultTodayActions() {
  static DefaultActions actions;
  return &actions;
}

plat::HRESULT ReadTodayItemPlacement(const std::u16string& name, TodayItemPlacement& placement) {
  std::set<std::u16string> seen;
  return ReadPlacement(name, placement, seen);
}

bool IsTodayEmbeddedMode() { return g_embeddedMode; }

// ---- The view holder ----------------------------------------------------------------

CTodayViewHolder::~CTodayViewHolder() { Reset(); }

void CTodayViewHolder::Reset() {
  view_.reset();
  data_.reset();
}

CViewBase* CTodayViewHolder::GetView(plat::HWND window) {
  CTodayViewOptions* options = CTodayViewOptions::GetInstance();
  options->Reload();
  const int style = static_cast<int>(options->GetViewStyle());
  if (view_ && (view_->GetWindow() != window || view_->GetStyle() != style)) view_.reset();
  if (!data_) {
    data_ = std::make_unique<CHDBThread>();
    if (!data_->IsRunning()) {
      data_.reset();
      return view_.get();
    }
  }
  if (!view_) {
    if (style == 0) view_ = std::make_unique<CViewSimple>(window, data_.get(), actions_);
    else if (style == 1) view_ = std::make_unique<CViewList>(window, data_.get(), actions_);
  }
  return view_.get();
}

CTodayViewHolder& GetTodayViewHolder() {
  static CTodayViewHolder holder;
  return holder;
}

// ---- The item window ----------------------------------------------------------------

bool RegisterTodayItemClass() {
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = &TodayItemWndProc;
  // Registered while the library loads, when its module handle cannot be
  // asked for yet (classes are found by name); the window takes the instance.
  wc.hbrBackground = static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH));
  wc.lpszClassName = kTodayItemClass;
  return plat::RegisterClassW(&wc) != 0;
}

void UnregisterTodayItemClass() { plat::UnregisterClassW(kTodayItemClass, nullptr); }

plat::HWND CreateTodayItemWindow(plat::TODAYLISTITEM* item, plat::HWND parent) {
  if (item == nullptr || !item->fEnabled) return nullptr;
  // The host's process reads the user's language file once, before the
  // item's window starts the data thread.
  if (!GetLocalizer().IsLoaded()) InitLocalizer();
  plat::SHInitExtraControls();
  const std::u16string title = GetTodayItemTitle();
  plat::HWND window = plat::CreateWindowExW(0, kTodayItemClass, title.c_str(),
                                            plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP, 0, 0,
                                            plat::GetSystemMetrics(plat::SM_CXSCREEN), 0, parent, nullptr,
                                            GetTodayModule(), nullptr);
  if (!window) return nullptr;
  plat::SetWindowLongW(window, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&TodayItemWndProc));
  plat::ShowWindow(window, plat::SW_SHOW);
  plat::UpdateWindow(window);
  CThumbnailsManager::GetInstance()->AddSize(Dx(27));
  CThumbnailsManager::GetInstance()->AddSize(CTodayViewOptions::GetInstance()->GetRowHeight());
  CResourceIconsManager::GetInstance().SetModule(GetTodayModule());
  return window;
}

plat::LRESULT TodayItemWndProc(plat::HWND window, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  static const plat::UINT metricChange = plat::RegisterWindowMessageW(plat::SH_UIMETRIC_CHANGE);
  CTodayViewHolder& holder = GetTodayViewHolder();
  if (message == plat::WM_DESTROY) {
    // The view and the reading thread go with the window: the host may free
    // the library right after, and a thread still running then would be
    // waited for in the library's static destructor, under the loader's lock
    // that the ending thread needs too.
    holder.Reset();
    return plat::DefWindowProcW(window, message, wParam, lParam);
  }
  const plat::POINT point{plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam)};
  switch (message) {
    case plat::WM_CREATE:
      holder.GetView(window);
      break;
    case plat::WM_SIZE:
      if (CViewBase* view = holder.GetView(window)) view->OnSize();
      return 1;
    case plat::WM_ERASEBKGND:
      return 1;
    case plat::WM_PAINT:
      PaintItem(window, holder.GetView(window));
      return 0;
    case plat::WM_TIMER:
      if (CViewBase* view = holder.GetView(window)) view->OnTimer(wParam);
      break;
    case plat::WM_MOUSEMOVE:
      if (CViewBase* view = holder.GetView(window)) view->OnMouseMove(point);
      return 1;
    case plat::WM_LBUTTONDOWN:
      if (CViewBase* view = holder.GetView(window)) view->OnButtonDown(point);
      return 1;
    case plat::WM_LBUTTONUP:
      if (CViewBase* view = holder.GetView(window)) view->OnButtonUp(point);
      return 1;
    case plat::WM_TODAYCUSTOM_QUERYREFRESHCACHE: {
      CViewBase* view = holder.GetView(window);
      return view ? view->OnQueryRefreshCache(reinterpret_cast<plat::TODAYLISTITEM*>(lParam)) : 0;
    }
    case plat::WM_TODAYCUSTOM_RECEIVEDSELECTION:
      if (CViewBase* view = holder.GetView(window)) view->OnReceivedSelection(wParam);
      return 1;
    case plat::WM_TODAYCUSTOM_LOSTSELECTION:
      if (CViewBase* view = holder.GetView(window)) view->OnLostSelection();
      return 1;
    case plat::WM_TODAYCUSTOM_USERNAVIGATION: {
      CViewBase* view = holder.GetView(window);
      return view ? view->OnUserNavigation(wParam) : 0;
    }
    case plat::WM_TODAYCUSTOM_ACTION:
      if (CViewBase* view = holder.GetView(window)) view->OnAction();
      return 1;
    default:
      if (message == metricChange && metricChange != 0) {
        if (CViewBase* view = holder.GetView(window)) view->OnUIMetricChange();
        plat::InvalidateRect(window, nullptr, plat::FALSE);
      }
      break;
  }
  return plat::DefWindowProcW(window, message, wParam, lParam);
}

void ShowItemContextMenu(plat::HWND window, plat::POINT point) {
  plat::HMENU menu = plat::CreatePopupMenu();
  if (!menu) return;
  const std::u16string run = LoadLocalizedString(IDS_TODAY_RUN);
  const std::u16string options = LoadLocalizedString(IDS_TODAY_OPTIONS);
  plat::AppendMenuW(menu, plat::MF_STRING, ID_TODAY_RUN, run.c_str());
  plat::AppendMenuW(menu, plat::MF_STRING, ID_TODAY_OPTIONS, options.c_str());
  plat::ClientToScreen(window, &point);
  const int command = static_cast<int>(plat::TrackPopupMenuEx(menu, plat::TPM_RETURNCMD, point.x, point.y, window, nullptr));
  plat::DestroyMenu(menu);
  if (command == ID_TODAY_RUN) CMainProgramStarter::GetInstance()->RequestShow();
  else if (command == ID_TODAY_OPTIONS) StartOptionsProgram();
}

// ---- Entry points ---------------------------------------------------------------------

extern "C" plat::HWND InitializeCustomItem(plat::TODAYLISTITEM* item, plat::HWND parent) {
  g_embeddedMode = false;
  return CreateTodayItemWindow(item, parent);
}

extern "C" plat::LRESULT CustomItemOptionsDlgProc(plat::HWND dialog, plat::UINT message, plat::WPARAM, plat::LPARAM) {
  if (message != plat::WM_INITDIALOG) return 0;
  StartOptionsProgram();
  plat::EndDialog(dialog, 1);
  return 1;
}

extern "C" plat::HWND InitializeEmbeddedItem(plat::DWORD, plat::TODAYLISTITEM* item, plat::HWND parent) {
  g_embeddedMode = true;
  return CreateTodayItemWindow(item, parent);
}

extern "C" plat::HRESULT GetSmartPluginInterface(plat::DWORD, plat::ISmartTodayPlugin** out) {
  if (!out) return kFail;
  *out = nullptr;
  auto* object = new (std::nothrow) CSmartTodayImpl(&GetTodayViewHolder());
  if (!object) return kFail;
  object->AddRef();
  *out = object;
  return 0;
}

extern "C" plat::HICON GetTabIconEx() {
  return static_cast<plat::HICON>(plat::LoadImageW(GetTodayModule(), plat::MAKEINTRESOURCEW(IDI_TODAY_TAB),
                                                   plat::IMAGE_ICON, Dx(12), Dy(11), 0));
}
