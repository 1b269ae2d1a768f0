#include "layout/OwnControls.h"

#include <cstdint>
#include <mutex>

#include "core/FontStorage.h"
#include "layout/ImageLists.h"
#include "layout/ScreenScale.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlView.h"

namespace {

using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::UINT;
using plat::WPARAM;

// One process-wide record per superclass: the base class's procedure stays
// in use for everything the new class does not handle.
struct Superclass {
  const char16_t* base;
  const char16_t* name;
  plat::WNDPROC proc;
  plat::WNDPROC baseProc = nullptr;
  std::once_flag once{};
};

LRESULT CheckListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT OptionTreeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT LabelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT FolderTreeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT HtmlViewerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

Superclass g_label{u"STATIC", u"OrvLabel", &LabelProc};
Superclass g_checkList{u"SysListView32", u"OrvCheckList", &CheckListProc};
Superclass g_optionTree{u"SysTreeView32", u"OrvOptionTree", &OptionTreeProc};
Superclass g_folderTree{u"SysTreeView32", u"OrvFolderTree", &FolderTreeProc};
Superclass g_htmlViewer{u"DISPLAYCLASS", u"OrvHtmlViewer", &HtmlViewerProc};

const char16_t* Register(Superclass& s) {
  std::call_once(s.once, [&s] {
    plat::InitCommonControls();
    if (&s == &g_htmlViewer) plat::InitHTMLControl(nullptr);
    plat::WNDCLASSW wc{};
    if (!plat::GetClassInfoW(nullptr, s.base, &wc)) return;
    s.baseProc = wc.lpfnWndProc;
    wc.lpfnWndProc = s.proc;
    wc.lpszClassName = s.name;
    wc.style |= plat::CS_GLOBALCLASS;
    plat::RegisterClassW(&wc);
  });
  return s.name;
}

LRESULT Base(const Superclass& s, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return s.baseProc ? plat::CallWindowProcW(s.baseProc, hwnd, msg, wParam, lParam)
                    : plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateChild(const char16_t* cls, HWND parent, const plat::RECT* rect, const std::u16string& title,
                 plat::DWORD style, plat::DWORD exStyle, int id) {
  const plat::RECT r = rect ? *rect : plat::RECT{0, 0, 0, 0};
  return plat::CreateWindowExW(exStyle, cls, title.c_str(), style ? style : kDefaultChildStyle, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, parent,
                               reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
}

void SetStandardFont(HWND hwnd) {
  if (hwnd)
    plat::SendMessageW(hwnd, plat::WM_SETFONT, reinterpret_cast<WPARAM>(GetSystemFontsStorage().GetFont()), 0);
}

LRESULT LabelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) { return Base(g_label, hwnd, msg, wParam, lParam); }
LRESULT FolderTreeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return Base(g_folderTree, hwnd, msg, wParam, lParam);
}
LRESULT HtmlViewerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return Base(g_htmlViewer, hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Check list

constexpr const char16_t* kStateHitProp = u"OrvCheckListStateHit";
std::atomic<UINT> g_checkKey{0};

// Two state images: an empty box and a ticked one.
plat::HIMAGELIST MakeCheckImages() {
  const int side = ScaleX(16);
  plat::HIMAGELIST list = plat::ImageList_Create(side, side, plat::ILC_COLOR16, 2, 0);
  plat::HDC screen = plat::GetDC(nullptr);
  plat::HDC dc = plat::CreateCompatibleDC(screen);
  for (int marked = 0; marked < 2 && list; ++marked) {
    plat::HBITMAP bitmap = plat::CreateCompatibleBitmap(screen, side, side);
    plat::HGDIOBJ old = plat::SelectObject(dc, bitmap);
    plat::RECT all{0, 0, side, side};
    plat::FillRect(dc, &all, plat::GetSysColorBrush(plat::COLOR_WINDOW));
    const int m = ScaleX(2);
    plat::RECT box{m, m, side - m, side - m};
    plat::FrameRect(dc, &box, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::BLACK_BRUSH)));
    if (marked) {
      plat::RECT tick{m * 2, m * 2, side - m * 2, side - m * 2};
      plat::FillRect(dc, &tick, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::BLACK_BRUSH)));
    }
    plat::SelectObject(dc, old);
    plat::ImageList_Add(list, bitmap, nullptr);
    plat::DeleteObject(bitmap);
  }
  plat::DeleteDC(dc);
  plat::ReleaseDC(nullptr, screen);
  return list;
}

void SetStateHit(HWND hwnd, bool hit) {
  plat::SetPropW(hwnd, kStateHitProp, reinterpret_cast<plat::HANDLE>(static_cast<std::uintptr_t>(hit ? 1 : 0)));
}
bool StateHit(HWND hwnd) { return plat::GetPropW(hwnd, kStateHitProp) != nullptr; }

LRESULT CheckListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case plat::WM_SIZE: {
      plat::RECT r{};
      plat::GetClientRect(hwnd, &r);
      Base(g_checkList, hwnd, plat::LVM_SETCOLUMNWIDTH, 0, r.right);
      break;
    }
    case plat::WM_LBUTTONDOWN: {
      plat::LVHITTESTINFO hit{{plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam)}, 0, -1, 0};
      const auto item = static_cast<int>(plat::SendMessageW(hwnd, plat::LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
      SetStateHit(hwnd, item >= 0 && (hit.flags & plat::LVHT_ONITEMSTATEICON));
      if (item >= 0) {
        plat::LVITEMW state{};
        state.stateMask = plat::LVIS_FOCUSED | plat::LVIS_SELECTED;
        state.state = state.stateMask;
        plat::SendMessageW(hwnd, plat::LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
        plat::SendMessageW(hwnd, plat::LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), 0);
      }
      break;
    }
    case plat::WM_LBUTTONDBLCLK:
      ToggleCheckListSelection(hwnd);
      return 0;
    case plat::WM_NCDESTROY:
      plat::RemovePropW(hwnd, kStateHitProp);
      break;
    default: break;
  }
  return Base(g_checkList, hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Option tree

plat::HTREEITEM Selected(HWND tree) {
  return reinterpret_cast<plat::HTREEITEM>(plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, plat::TVGN_CARET, 0));
}

plat::TVITEMW ItemOf(HWND tree, plat::HTREEITEM item) {
  plat::TVITEMW it{};
  it.mask = plat::TVIF_HANDLE | plat::TVIF_STATE | plat::TVIF_CHILDREN;
  it.hItem = item;
  it.stateMask = plat::TVIS_EXPANDED | plat::TVIS_STATEIMAGEMASK;
  plat::SendMessageW(tree, plat::TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  return it;
}

bool HasChildren(HWND tree, const plat::TVITEMW& it) {
  return it.cChildren != 0 ||
         plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, plat::TVGN_CHILD, reinterpret_cast<LPARAM>(it.hItem)) != 0;
}

void TreeClick(HWND tree, LPARAM lParam) {
  plat::TVHITTESTINFO hit{{plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam)}, 0, nullptr};
  plat::SendMessageW(tree, plat::TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if (!hit.hItem || !(hit.flags & (plat::TVHT_ONITEM | plat::TVHT_ONITEMBUTTON))) return;
  const plat::TVITEMW it = ItemOf(tree, hit.hItem);
  if (!HasChildren(tree, it) && !(it.state & plat::TVIS_STATEIMAGEMASK)) return;
  plat::SendMessageW(tree, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<LPARAM>(hit.hItem));
  ActivateOptionTreeSelection(tree);
}

LRESULT OptionTreeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case plat::WM_GETDLGCODE: return plat::DLGC_WANTALLKEYS;
    case plat::WM_KEYDOWN:
      if (wParam != plat::VK_RETURN) break;
      ActivateOptionTreeSelection(hwnd);
      return 0;
    case plat::WM_KEYUP:
      if (wParam != plat::VK_RETURN) break;
      return 0;
    case plat::WM_LBUTTONDOWN:
      if (plat::GetFocus() != hwnd) plat::SetFocus(hwnd);
      TreeClick(hwnd, lParam);
      return 0;
    case plat::WM_LBUTTONDBLCLK: return plat::SendMessageW(hwnd, plat::WM_LBUTTONDOWN, wParam, lParam);
    default: break;
  }
  return Base(g_optionTree, hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// File list

constexpr const char16_t* kFileListProp = u"OrvFileList";

struct FileList {
  plat::WNDPROC old = nullptr;
  std::u16string emptyText;
};

LRESULT FileListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FileList*>(plat::GetPropW(hwnd, kFileListProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  const plat::WNDPROC old = self->old;
  switch (msg) {
    case plat::WM_PAINT: {
      if (plat::SendMessageW(hwnd, plat::LVM_GETITEMCOUNT, 0, 0) != 0) break;
      plat::PAINTSTRUCT ps{};
      plat::HDC dc = plat::BeginPaint(hwnd, &ps);
      plat::RECT r{};
      plat::GetClientRect(hwnd, &r);
      plat::FillRect(dc, &r, plat::GetSysColorBrush(plat::COLOR_WINDOW));
      r.top = r.bottom * 40 / 100;
      plat::HGDIOBJ font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(hwnd, plat::WM_GETFONT, 0, 0));
      plat::HGDIOBJ oldFont = plat::SelectObject(dc, font ? font : GetSystemFontsStorage().GetFont());
      plat::SetBkMode(dc, plat::TRANSPARENT);
      plat::SetTextColor(dc, plat::GetSysColor(plat::COLOR_WINDOWTEXT));
      plat::DrawTextW(dc, self->emptyText.c_str(), static_cast<int>(self->emptyText.size()), &r,
                      plat::DT_CENTER | plat::DT_WORDBREAK | plat::DT_NOPREFIX);
      plat::SelectObject(dc, oldFont);
      plat::EndPaint(hwnd, &ps);
      return 0;
    }
    case plat::WM_KEYDOWN: {
      HWND parent = plat::GetParent(hwnd);
      if (wParam == plat::VK_RETURN) {
        plat::PostMessageW(parent, plat::WM_COMMAND, plat::IDOK, reinterpret_cast<LPARAM>(hwnd));
        return 0;
      }
      const auto count = static_cast<int>(plat::SendMessageW(hwnd, plat::LVM_GETITEMCOUNT, 0, 0));
      const auto focus = static_cast<int>(
          plat::SendMessageW(hwnd, plat::LVM_GETNEXTITEM, static_cast<WPARAM>(-1), plat::LVNI_FOCUSED));
      if ((wParam == plat::VK_UP && focus <= 0) || (wParam == plat::VK_DOWN && focus >= count - 1)) {
        plat::PostMessageW(parent, plat::WM_NEXTDLGCTL, 0, 0);
        return 0;
      }
      break;
    }
    case plat::WM_GETDLGCODE:
      return plat::CallWindowProcW(old, hwnd, msg, wParam, lParam) | plat::DLGC_WANTARROWS;
    case plat::WM_NCDESTROY:
      plat::RemovePropW(hwnd, kFileListProp);
      plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(old));
      delete self;
      return plat::CallWindowProcW(old, hwnd, msg, wParam, lParam);
    default: break;
  }
  return plat::CallWindowProcW(old, hwnd, msg, wParam, lParam);
}

}  // namespace

const char16_t* LabelClassName() { return Register(g_label); }
const char16_t* CheckListClassName() { return Register(g_checkList); }
const char16_t* OptionTreeClassName() { return Register(g_optionTree); }
const char16_t* FolderTreeClassName() { return Register(g_folderTree); }
const char16_t* HtmlViewerClassName() { return Register(g_htmlViewer); }

HWND CreateLabel(HWND parent, const plat::RECT* rect, const std::u16string& text, plat::DWORD style,
                 plat::DWORD exStyle, int id) {
  HWND label = CreateChild(LabelClassName(), parent, rect, u"", style, exStyle, id);
  SetStandardFont(label);
  if (label) plat::SetWindowTextW(label, text.c_str());
  return label;
}

HWND CreatePushButton(HWND parent, const plat::RECT* rect, const std::u16string& text, plat::DWORD style,
                      plat::DWORD exStyle, int id) {
  HWND button = CreateChild(u"BUTTON", parent, rect, text, style, exStyle, id);
  SetStandardFont(button);
  return button;
}

HWND CreateCheckList(HWND parent, const plat::RECT* rect, int id) {
  HWND list = CreateChild(CheckListClassName(), parent, rect, u"", kCheckListStyle, 0, id);
  if (!list) return nullptr;
  plat::LVCOLUMNW column{};
  column.mask = plat::LVCF_WIDTH;
  plat::RECT r{};
  plat::GetClientRect(list, &r);
  column.cx = r.right;
  plat::SendMessageW(list, plat::LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  plat::SendMessageW(list, plat::LVM_SETIMAGELIST, plat::LVSIL_STATE, reinterpret_cast<LPARAM>(MakeCheckImages()));
  SetStandardFont(list);
  return list;
}

HWND CreateOptionTree(HWND parent, const plat::RECT* rect, int id, UINT bitmapId, int imageWidth) {
  HWND tree = CreateChild(OptionTreeClassName(), parent, rect, u"", kOptionTreeStyle, 0, id);
  if (!tree) return nullptr;
  plat::HIMAGELIST images = nullptr;
  if (bitmapId && LoadImageList(images, bitmapId, imageWidth, 0, plat::CLR_NONE))
    plat::SendMessageW(tree, plat::TVM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
  SetStandardFont(tree);
  return tree;
}

HWND CreateFolderTree(HWND parent, const plat::RECT* rect, plat::DWORD style, int id) {
  return CreateChild(FolderTreeClassName(), parent, rect, u"", style, 0, id);
}

HWND CreateHtmlViewer(HWND parent, const plat::RECT* rect, plat::DWORD style, int id) {
  return CreateChild(HtmlViewerClassName(), parent, rect, u"", style, 0, id);
}

bool IsCheckList(HWND window) {
  char16_t name[32] = {};
  plat::GetClassNameW(window, name, 32);
  return plat::EqualsNoCase(name, g_checkList.name);
}

void ToggleCheckListSelection(HWND list) {
  const auto item = static_cast<int>(
      plat::SendMessageW(list, plat::LVM_GETNEXTITEM, static_cast<WPARAM>(-1), plat::LVNI_SELECTED));
  if (item < 0) return;
  const auto state = static_cast<UINT>(
      plat::SendMessageW(list, plat::LVM_GETITEMSTATE, static_cast<WPARAM>(item), plat::LVIS_STATEIMAGEMASK));
  plat::LVITEMW change{};
  change.stateMask = plat::LVIS_STATEIMAGEMASK;
  change.state = plat::INDEXTOSTATEIMAGEMASK((state >> 12) == 1 ? 2 : 1);
  plat::SendMessageW(list, plat::LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&change));
}

bool HandleCheckListNotify(const plat::NMHDR* header) {
  if (!header || !IsCheckList(header->hwndFrom)) return false;
  HWND list = header->hwndFrom;
  if (header->code == plat::NM_CLICK) {
    if (StateHit(list)) ToggleCheckListSelection(list);
    return true;
  }
  if (header->code == plat::LVN_KEYDOWN) {
    if (IsModernPocketPC()) return true;
    const UINT key = reinterpret_cast<const plat::NMLVKEYDOWN*>(header)->wVKey;
    UINT remembered = g_checkKey;
    if (remembered == 0 && (key == plat::VK_RETURN || key == kActionKey)) {
      g_checkKey.compare_exchange_strong(remembered, key);
      remembered = g_checkKey;
    }
    if (remembered != 0 && key == remembered) ToggleCheckListSelection(list);
    return true;
  }
  return false;
}

UINT GetCheckListKey() { return g_checkKey; }
void ResetCheckListKeyForTesting() { g_checkKey = 0; }

void ActivateOptionTreeSelection(HWND tree) {
  plat::HTREEITEM item = Selected(tree);
  if (!item) return;
  plat::TVITEMW it = ItemOf(tree, item);
  if (HasChildren(tree, it)) {
    plat::SendMessageW(tree, plat::TVM_EXPAND, (it.state & plat::TVIS_EXPANDED) ? plat::TVE_COLLAPSE : plat::TVE_EXPAND,
                       reinterpret_cast<LPARAM>(item));
  } else if (it.state & plat::TVIS_STATEIMAGEMASK) {
    it.mask = plat::TVIF_HANDLE | plat::TVIF_STATE;
    it.stateMask = plat::TVIS_STATEIMAGEMASK;
    it.state = plat::INDEXTOSTATEIMAGEMASK(((it.state & plat::TVIS_STATEIMAGEMASK) >> 12) == 1 ? 2 : 1);
    plat::SendMessageW(tree, plat::TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  }
}

bool SpinEdit::Create(HWND parent, const plat::RECT& rect, int editId, int upDownId) {
  plat::InitCommonControls();
  edit = CreateChild(u"EDIT", parent, &rect, u"", kSpinEditStyle, 0, editId);
  if (!edit) return false;
  SetStandardFont(edit);
  upDown = CreateChild(plat::UPDOWN_CLASSW, parent, nullptr, u"", kSpinUpDownStyle, 0, upDownId);
  return upDown != nullptr;
}

void SpinEdit::Enable(bool enable) {
  if (edit) plat::EnableWindow(edit, enable);
  if (upDown) plat::EnableWindow(upDown, enable);
}

bool SubclassFileList(HWND list, const std::u16string& emptyText) {
  if (!plat::IsWindow(list) || plat::GetPropW(list, kFileListProp)) return false;
  auto* self = new FileList{nullptr, emptyText};
  plat::SetPropW(list, kFileListProp, reinterpret_cast<plat::HANDLE>(self));
  self->old = reinterpret_cast<plat::WNDPROC>(
      plat::SetWindowLongW(list, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&FileListProc)));
  return true;
}

void HandleActivateFocus(HWND window, WPARAM state, bool& reentry) {
  if (plat::LOWORD(state) == 0 || reentry) return;
  reentry = true;
  auto control = reinterpret_cast<HWND>(plat::SendMessageW(window, WM_GETPREFERREDFOCUS, 0, 0));
  if (control && plat::IsWindow(control)) plat::SetFocus(control);
  reentry = false;
}
