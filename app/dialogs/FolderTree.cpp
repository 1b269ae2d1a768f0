#include "app/dialogs/FolderTree.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "app/dialogs/FileTreeCtrl.h"
#include "core/FileUtils.h"
#include "layout/ScreenScale.h"
#include "layout/WaitCursor.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/controls/StandardControls.h"

namespace {

constexpr const char16_t* kClassName = u"OrvFolderTreeWindow";
constexpr const char16_t* kSelfProp = u"OrvFolderTreeSelf";
// The tree-view child: child, visible, clip siblings, buttons, lines, lines at root.
constexpr plat::DWORD kTreeStyle = 0x54000007;
// Folder created, removed, renamed, shared or unshared; media and drives
// coming and going.
constexpr plat::DWORD kFolderEvents = 0x000207F8;
// Items marked as filled keep this in their item data.
constexpr plat::LPARAM kFilled = 1;

const char16_t* RegisterFolderTreeClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    plat::InitCommonControls();
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = [](plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) -> plat::LRESULT {
      return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
    };
    wc.lpszClassName = kClassName;
    wc.hbrBackground = plat::GetSysColorBrush(plat::COLOR_WINDOW);
    plat::RegisterClassW(&wc);
  });
  return kClassName;
}

plat::HTREEITEM Next(plat::HWND tree, plat::WPARAM how, plat::HTREEITEM item) {
  return reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, how, reinterpret_cast<plat::LPARAM>(item)));
}

plat::TVITEMW ReadItem(plat::HWND tree, plat::HTREEITEM item, plat::UINT mask, char16_t* text = nullptr,
                       int textMax = 0) {
  plat::TVITEMW it{};
  it.mask = plat::TVIF_HANDLE | mask;
  it.hItem = item;
  it.stateMask = plat::TVIS_EXPANDED;
  it.pszText = text;
  it.cchTextMax = textMax;
  plat::SendMessageW(tree, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it));
  return it;
}

void MarkFilled(plat::HWND tree, plat::HTREEITEM item) {
  plat::TVITEMW mark{};
  mark.mask = plat::TVIF_HANDLE | plat::TVIF_PARAM;
  mark.hItem = item;
  mark.lParam = kFilled;
  plat::SendMessageW(tree, plat::TVM_SETITEMW, 0, reinterpret_cast<plat::LPARAM>(&mark));
}

std::u16string ItemText(plat::HWND tree, plat::HTREEITEM item) {
  char16_t text[plat::MAX_PATH] = {};
  ReadItem(tree, item, plat::TVIF_TEXT, text, plat::MAX_PATH);
  return text;
}

}  // namespace

FolderTree::~FolderTree() {
  if (hwnd_ && plat::IsWindow(hwnd_)) plat::DestroyWindow(hwnd_);
}

bool FolderTree::SetRootPath(const std::u16string& path) {
  if (path.empty() || path == u"\\") {
    root_ = u"\\";
    return true;
  }
  std::u16string root = path;
  while (root.size() > 1 && root.back() == u'\\') root.pop_back();
  if (!DirectoryExists(root)) {
    root_.clear();
    return false;
  }
  root_ = root;
  return true;
}

void FolderTree::SetSelectedPath(const std::u16string& path) {
  selected_ = path;
  if (tree_) ShowPath(path);
}

bool FolderTree::GetSelectedPath(std::u16string& path) const {
  plat::HTREEITEM item = tree_ ? Next(tree_, plat::TVGN_CARET, nullptr) : nullptr;
  path = item ? GetItemPath(item) : std::u16string();
  return item != nullptr;
}

plat::HWND FolderTree::Create(plat::HWND parent, const plat::RECT* rect, plat::DWORD style, int id) {
  const plat::RECT r = rect ? *rect : plat::RECT{0, 0, 0, 0};
  // The class's procedure is the default one; the window takes ours once it
  // exists, and its creation work runs here.
  hwnd_ = plat::CreateWindowExW(0, RegisterFolderTreeClass(), u"", style, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, parent,
                                reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
  if (!hwnd_) return nullptr;
  plat::SetPropW(hwnd_, kSelfProp, reinterpret_cast<plat::HANDLE>(this));
  plat::SetWindowLongW(hwnd_, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&FolderTree::WndProc));
  OnCreate();
  if (!tree_) {
    plat::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  return hwnd_;
}

plat::LRESULT FolderTree::WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* self = reinterpret_cast<FolderTree*>(plat::GetPropW(hwnd, kSelfProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->OnMessage(msg, wParam, lParam);
}

plat::LRESULT FolderTree::OnMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  switch (msg) {
    case plat::WM_FILECHANGEINFO: {
      plat::SHChangeNotifyFree(reinterpret_cast<plat::FILECHANGENOTIFY*>(lParam));
      // Rebuilt with the same folder selected.
      std::u16string path;
      if (!GetSelectedPath(path)) path = selected_;
      ShowPath(path);
      return 0;
    }
    case plat::WM_DESTROY:
      OnDestroy();
      break;
    case plat::WM_NCDESTROY: {
      plat::RemovePropW(hwnd_, kSelfProp);
      const plat::LRESULT result = plat::DefWindowProcW(hwnd_, msg, wParam, lParam);
      hwnd_ = nullptr;
      return result;
    }
    case plat::WM_SIZE:
      if (tree_) plat::MoveWindow(tree_, 0, 0, plat::LOWORD(lParam), plat::HIWORD(lParam), 1);
      return 0;
    case plat::WM_SETFOCUS:
      if (tree_) plat::SetFocus(tree_);
      return 0;
    case plat::WM_NOTIFY: {
      const auto* nm = reinterpret_cast<const plat::NMTREEVIEWW*>(lParam);
      if (!nm || nm->hdr.hwndFrom != tree_ || nm->hdr.code != plat::TVN_ITEMEXPANDINGW) break;
      const plat::TVITEMW it = ReadItem(tree_, nm->itemNew.hItem, plat::TVIF_STATE | plat::TVIF_CHILDREN);
      if (!(it.state & plat::TVIS_EXPANDED) && it.cChildren) ExpandItem(nm->itemNew.hItem);
      return 0;
    }
    default: break;
  }
  return plat::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void FolderTree::OnCreate() {
  font_ = nullptr;
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  tree_ = plat::CreateWindowExW(0, plat::WC_TREEVIEWW, u"", kTreeStyle, 0, 0, client.right, client.bottom, hwnd_,
                                nullptr, nullptr, nullptr);
  if (!tree_) return;
  if (plat::HIMAGELIST images = TreePane::SystemSmallImageList(images_))
    plat::SendMessageW(tree_, plat::TVM_SETIMAGELIST, plat::TVSIL_NORMAL, reinterpret_cast<plat::LPARAM>(images));
  // The whole device, recursively; without the notices the tree only misses
  // changes made while it is shown.
  plat::SHCHANGENOTIFYENTRY entry{kFolderEvents, nullptr, plat::TRUE};
  plat::SHChangeNotifyRegister(hwnd_, &entry);
  // 9 points at the screen's DPI, from the window's font.
  auto base = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(hwnd_, plat::WM_GETFONT, 0, 0));
  if (!base) base = plat::GetStockObject(plat::SYSTEM_FONT);
  plat::LOGFONTW logFont{};
  if (plat::GetObjectW(base, sizeof logFont, &logFont)) {
    logFont.lfHeight = -(9 * GetScreenDpiY() / 72);
    font_ = plat::CreateFontIndirectW(&logFont);
    if (font_) plat::SendMessageW(tree_, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(font_), 1);
  }
  ShowPath(selected_);
  plat::SetFocus(tree_);
}

void FolderTree::OnDestroy() {
  plat::SHChangeNotifyDeregister(hwnd_);
  // Notices posted before the registration ended are freed, not lost.
  plat::MSG pending;
  while (plat::PeekMessageW(&pending, hwnd_, plat::WM_FILECHANGEINFO, plat::WM_FILECHANGEINFO, plat::PM_REMOVE))
    plat::SHChangeNotifyFree(reinterpret_cast<plat::FILECHANGENOTIFY*>(pending.lParam));
  if (tree_) {
    plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(plat::TVI_ROOT));
    plat::SendMessageW(tree_, plat::WM_SETFONT, 0, 0);
    plat::DestroyWindow(tree_);
    tree_ = nullptr;
  }
  if (font_) plat::DeleteObject(font_);
  font_ = nullptr;
  if (images_) plat::ImageList_Destroy(images_);
  images_ = nullptr;
}

plat::HTREEITEM FolderTree::InsertItem(plat::HTREEITEM parent, const std::u16string& text,
                                       const std::u16string& path) {
  std::u16string label = text;
  plat::TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = plat::TVI_LAST;
  insert.item.mask = plat::TVIF_TEXT | plat::TVIF_IMAGE | plat::TVIF_SELECTEDIMAGE | plat::TVIF_PARAM;
  insert.item.pszText = label.data();
  insert.item.iImage = TreePane::SystemIconIndex(path);
  insert.item.iSelectedImage = insert.item.iImage;
  insert.item.lParam = 0;
  return reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree_, plat::TVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&insert)));
}

void FolderTree::Fill() {
  if (!tree_) return;
  plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(plat::TVI_ROOT));
  if (root_.empty()) return;
  plat::HTREEITEM root = InsertItem(plat::TVI_ROOT, root_, root_);
  if (!root) return;
  FillItem(root, root_, 2);
  MarkFilled(tree_, root);
  plat::SendMessageW(tree_, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(root));
}

void FolderTree::FillItem(plat::HTREEITEM item, const std::u16string& path, int depth) {
  if (depth < 1) return;
  std::vector<std::u16string> folders;
  TreePane::Enumerate(path, u"*.*", [&](const plat::WIN32_FIND_DATAW& data) {
    if ((data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) && (depth > 1 || folders.empty()))
      folders.push_back(data.cFileName);
  });
  for (const std::u16string& name : folders) {
    const std::u16string childPath = TreePane::JoinPath(path, name);
    plat::HTREEITEM child = InsertItem(item, name, childPath);
    if (child && depth > 1) FillItem(child, childPath, depth - 1);
  }
}

void FolderTree::ExpandItem(plat::HTREEITEM item) {
  const plat::TVITEMW it = ReadItem(tree_, item, plat::TVIF_PARAM);
  if (it.lParam == kFilled) return;
  CWaitCursor wait;
  plat::HTREEITEM root = Next(tree_, plat::TVGN_ROOT, nullptr);
  plat::HTREEITEM first = Next(tree_, plat::TVGN_CHILD, item);
  if (item == root || first) {
    const std::u16string path = item == root ? root_ : GetItemPath(item);
    if (first) plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(first));
    FillItem(item, path, 2);
  }
  MarkFilled(tree_, item);
}

std::u16string FolderTree::GetItemPath(plat::HTREEITEM item) const {
  std::vector<std::u16string> parts;
  plat::HTREEITEM root = Next(tree_, plat::TVGN_ROOT, nullptr);
  for (plat::HTREEITEM at = item; at && at != root; at = Next(tree_, plat::TVGN_PARENT, at))
    parts.push_back(ItemText(tree_, at));
  std::u16string path = root_;
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) path = TreePane::JoinPath(path, *part);
  return path;
}

bool FolderTree::ShowPath(const std::u16string& path) {
  if (!tree_) return false;
  plat::SendMessageW(tree_, plat::WM_SETREDRAW, 0, 0);
  Fill();
  plat::HTREEITEM item = Next(tree_, plat::TVGN_ROOT, nullptr);
  // The path below the root; one that does not begin with a backslash, or
  // lies outside the root, opens the root.
  std::u16string rest;
  if (!path.empty() && path[0] == u'\\') {
    rest = path;
    if (root_ != u"\\") {
      const bool inside = rest.size() >= root_.size() && plat::EqualsNoCase(rest.substr(0, root_.size()), root_) &&
                          (rest.size() == root_.size() || rest[root_.size()] == u'\\');
      rest = inside ? rest.substr(root_.size()) : u"";
    }
  }
  while (!rest.empty() && rest.front() == u'\\') rest.erase(0, 1);
  while (item && !rest.empty()) {
    const std::size_t cut = rest.find(u'\\');
    const std::u16string part = rest.substr(0, cut);
    rest = cut == std::u16string::npos ? u"" : rest.substr(cut + 1);
    while (!rest.empty() && rest.front() == u'\\') rest.erase(0, 1);
    plat::HTREEITEM child = Next(tree_, plat::TVGN_CHILD, item);
    while (child && !plat::EqualsNoCase(ItemText(tree_, child), part)) child = Next(tree_, plat::TVGN_NEXT, child);
    item = child;
    if (item && !rest.empty()) {
      ExpandItem(item);
      plat::SendMessageW(tree_, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(item));
    }
  }
  plat::SendMessageW(tree_, plat::WM_SETREDRAW, 1, 0);
  plat::InvalidateRect(tree_, nullptr, 1);
  if (!item) return false;
  selected_ = GetItemPath(item);
  plat::SendMessageW(tree_, plat::TVM_ENSUREVISIBLE, 0, reinterpret_cast<plat::LPARAM>(item));
  plat::SendMessageW(tree_, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(item));
  return true;
}
