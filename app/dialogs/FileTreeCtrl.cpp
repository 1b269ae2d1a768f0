#include "app/dialogs/FileTreeCtrl.h"

#include <algorithm>
#include <vector>

#include "layout/WaitCursor.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/SystemMetrics.h"

namespace {

constexpr const char16_t* kSelfProp = u"OrvFileTreeCtrl";
constexpr plat::UINT kConsumedNotify = static_cast<plat::UINT>(-50);

plat::HTREEITEM Next(plat::HWND tree, plat::WPARAM how, plat::HTREEITEM item) {
  return reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, how, reinterpret_cast<plat::LPARAM>(item)));
}

// An empty first child, so that the item shows an expand button.
void InsertPlaceholder(plat::HWND tree, plat::HTREEITEM item) {
  plat::TVINSERTSTRUCTW placeholder{};
  placeholder.hParent = item;
  placeholder.hInsertAfter = plat::TVI_FIRST;
  placeholder.item.mask = plat::TVIF_TEXT;
  char16_t empty[1] = {0};
  placeholder.item.pszText = empty;
  plat::SendMessageW(tree, plat::TVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&placeholder));
}

}  // namespace

// ---------------------------------------------------------------------------
// Tree pane helpers

namespace TreePane {

void Enumerate(const std::u16string& folder, const std::u16string& pattern,
               const std::function<void(const plat::WIN32_FIND_DATAW&)>& visit) {
  const std::u16string query = JoinPath(folder.empty() ? u"\\" : folder, pattern);
  plat::WIN32_FIND_DATAW data{};
  plat::HANDLE find = plat::FindFirstFileW(query.c_str(), &data);
  if (find == plat::INVALID_HANDLE_VALUE) return;
  do {
    visit(data);
  } while (plat::FindNextFileW(find, &data));
  plat::FindClose(find);
}

bool HasSubFolder(const std::u16string& folder) {
  bool found = false;
  Enumerate(folder, u"*.*", [&found](const plat::WIN32_FIND_DATAW& data) {
    found = found || (data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0;
  });
  return found;
}

int SystemIconIndex(const std::u16string& path) {
  plat::SHFILEINFO info{};
  plat::SHGetFileInfo(path.c_str(), 0, &info, sizeof info, plat::SHGFI_SYSICONINDEX | plat::SHGFI_SMALLICON);
  return info.iIcon;
}

plat::HIMAGELIST SystemSmallImageList(plat::HIMAGELIST& own) {
  plat::SHFILEINFO info{};
  if (auto shared = reinterpret_cast<plat::HIMAGELIST>(
          plat::SHGetFileInfo(u"\\", 0, &info, sizeof info, plat::SHGFI_SYSICONINDEX | plat::SHGFI_SMALLICON)))
    return shared;
  // No shared list from the shell: one of the caller's, made from the same
  // small icons in the same order, so the shell's indices fit it.
  if (!own) {
    const std::vector<plat::HICON>& icons = plat::SystemSmallIcons();
    const int side = plat::GetSystemMetrics(plat::SM_CXSMICON);
    own = plat::ImageList_Create(side, side, plat::ILC_COLOR32 | plat::ILC_MASK, static_cast<int>(icons.size()), 1);
    for (plat::HICON icon : icons)
      if (own) plat::ImageList_AddIcon(own, icon);
  }
  return own;
}

std::vector<std::u16string> ListFolder(const std::u16string& folder, bool withFiles) {
  std::vector<std::u16string> entries;
  Enumerate(folder, u"*.*", [&](const plat::WIN32_FIND_DATAW& data) {
    const std::u16string name = data.cFileName;
    if (data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) {
      entries.push_back(u"d" + name);
    } else if (withFiles) {
      const bool program = plat::EndsWithNoCase(name, u".exe") || plat::EndsWithNoCase(name, u".lnk");
      entries.push_back((program ? u"e" : u"f") + name);
    }
  });
  return entries;
}

void SortEntries(std::vector<std::u16string>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const std::u16string& a, const std::u16string& b) {
    return plat::CompareNoCase(a, b) < 0;
  });
}

int EntryImage(const std::u16string& entry) {
  if (entry.empty() || entry[0] == u'd') return plat::kIconFolder;
  return entry[0] == u'e' ? plat::kIconProgram : plat::kIconFile;
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (folder.empty()) return name;
  if (folder.back() == u'\\') return folder + name;
  return folder + u"\\" + name;
}

std::u16string FitTextToWidth(plat::HWND window, const std::u16string& text, int width) {
  plat::HDC dc = plat::GetDC(window);
  if (!dc) return text;
  auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(window, plat::WM_GETFONT, 0, 0));
  plat::HGDIOBJ old = font ? plat::SelectObject(dc, font) : nullptr;
  std::u16string fitted = text;
  for (;;) {
    plat::SIZE size{0, 0};
    plat::GetTextExtentPoint32W(dc, fitted.c_str(), static_cast<int>(fitted.size()), &size);
    if (size.cx <= width || fitted.size() < 2) break;
    fitted.erase(0, 2);
  }
  if (old) plat::SelectObject(dc, old);
  plat::ReleaseDC(window, dc);
  return fitted;
}

}  // namespace TreePane

// ---------------------------------------------------------------------------
// The picker tree control

FileTreeCtrl::FileTreeCtrl(bool foldersOnly) : foldersOnly_(foldersOnly) {}

FileTreeCtrl::~FileTreeCtrl() { UnsubclassWindow(); }

bool FileTreeCtrl::SubclassWindow(plat::HWND tree) {
  if (tree_ || !plat::IsWindow(tree) || plat::GetPropW(tree, kSelfProp)) return false;
  tree_ = tree;
  plat::SetPropW(tree, kSelfProp, reinterpret_cast<plat::HANDLE>(this));
  previous_ = reinterpret_cast<plat::WNDPROC>(
      plat::SetWindowLongW(tree, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&FileTreeCtrl::Proc)));
  if (plat::HIMAGELIST images = TreePane::SystemSmallImageList(images_))
    plat::SendMessageW(tree, plat::TVM_SETIMAGELIST, plat::TVSIL_NORMAL, reinterpret_cast<plat::LPARAM>(images));
  return FillFromRoot();
}

void FileTreeCtrl::UnsubclassWindow() {
  if (!tree_) return;
  if (plat::IsWindow(tree_)) {
    if (images_) plat::SendMessageW(tree_, plat::TVM_SETIMAGELIST, plat::TVSIL_NORMAL, 0);
    plat::SetWindowLongW(tree_, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(previous_));
    plat::RemovePropW(tree_, kSelfProp);
  }
  tree_ = nullptr;
  previous_ = nullptr;
  if (images_) plat::ImageList_Destroy(images_);
  images_ = nullptr;
}

plat::LRESULT FileTreeCtrl::Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* self = reinterpret_cast<FileTreeCtrl*>(plat::GetPropW(hwnd, kSelfProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  const plat::WNDPROC previous = self->previous_;
  if (msg == plat::WM_NCDESTROY) {
    self->UnsubclassWindow();
    return plat::CallWindowProcW(previous, hwnd, msg, wParam, lParam);
  }
  // Nested dispatch (a notification sent while a message is handled) keeps
  // the outer message's flag.
  const bool saved = self->handled_;
  plat::LRESULT result = 0;
  const bool handled = self->OnMessage(msg, wParam, lParam, result);
  self->handled_ = saved;
  return handled ? result : plat::CallWindowProcW(previous, hwnd, msg, wParam, lParam);
}

bool FileTreeCtrl::OnMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result) {
  handled_ = true;
  switch (msg) {
    case kReflectedNotify: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header) break;
      if (header->code == plat::TVN_ITEMEXPANDINGW) {
        const auto* nm = reinterpret_cast<const plat::NMTREEVIEWW*>(lParam);
        if (nm->action == plat::TVE_COLLAPSE) Collapse(nm->itemNew.hItem);
        else if (nm->action == plat::TVE_EXPAND && !expandingByCode_) ExpandItem(nm->itemNew.hItem);
        result = 0;
        return true;
      }
      if (header->code == kConsumedNotify) {
        result = 1;
        return true;
      }
      break;
    }
    case plat::WM_KEYDOWN: {
      if (wParam != plat::VK_RETURN) break;
      plat::HTREEITEM item = GetSelectedItem();
      if (!item) break;
      if (!HasChildren(item)) {
        plat::SendMessageW(plat::GetParent(tree_), plat::WM_COMMAND, plat::IDOK, reinterpret_cast<plat::LPARAM>(tree_));
      } else if (GetItemState(item, plat::TVIS_EXPANDED)) {
        plat::SendMessageW(tree_, plat::TVM_EXPAND, plat::TVE_COLLAPSE, reinterpret_cast<plat::LPARAM>(item));
        Collapse(item);
      } else {
        ExpandByCode(item);
      }
      // The tree view itself would toggle the item once more on Enter.
      result = 0;
      return true;
    }
    case plat::WM_LBUTTONDBLCLK:
      if (!GetSelectedItem()) break;
      plat::SendMessageW(plat::GetParent(tree_), plat::WM_COMMAND, plat::IDOK, reinterpret_cast<plat::LPARAM>(tree_));
      result = 0;
      return true;
    default: break;
  }
  handled_ = false;
  return false;
}

bool FileTreeCtrl::FillFromRoot() {
  if (!tree_) return false;
  plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(plat::TVI_ROOT));
  std::u16string entry;
  if (root_.empty() || root_ == u"\\") {
    entry = u"d\\";
    rootParent_.clear();
  } else {
    std::u16string root = root_;
    while (root.size() > 1 && root.back() == u'\\') root.pop_back();
    const std::size_t cut = root.rfind(u'\\');
    rootParent_ = cut == std::u16string::npos || cut == 0 ? u"\\" : root.substr(0, cut);
    entry = u"d" + (cut == std::u16string::npos ? root : root.substr(cut + 1));
  }
  plat::HTREEITEM item = InsertEntry(plat::TVI_ROOT, rootParent_, entry);
  if (item) ExpandByCode(item);
  return item != nullptr;
}

plat::HTREEITEM FileTreeCtrl::InsertEntry(plat::HTREEITEM parent, const std::u16string& folder,
                                          const std::u16string& entry) {
  std::u16string text = entry.substr(1);
  const std::u16string path = TreePane::JoinPath(folder, text);
  plat::TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = plat::TVI_LAST;
  insert.item.mask = plat::TVIF_TEXT | plat::TVIF_IMAGE | plat::TVIF_SELECTEDIMAGE;
  insert.item.pszText = text.data();
  insert.item.iImage = systemIcons_ ? TreePane::SystemIconIndex(path) : TreePane::EntryImage(entry);
  insert.item.iSelectedImage = insert.item.iImage;
  auto item = reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree_, plat::TVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&insert)));
  if (item && entry[0] == u'd' && TreePane::HasSubFolder(path)) InsertPlaceholder(tree_, item);
  return item;
}

void FileTreeCtrl::ExpandItem(plat::HTREEITEM item) {
  if (!tree_ || !item) return;
  CWaitCursor wait;
  if (plat::HTREEITEM first = Next(tree_, plat::TVGN_CHILD, item))
    plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(first));
  const std::u16string folder = GetItemPath(item);
  std::vector<std::u16string> entries = TreePane::ListFolder(folder, !foldersOnly_);
  TreePane::SortEntries(entries);
  for (const std::u16string& entry : entries) InsertEntry(item, folder, entry);
  plat::SendMessageW(tree_, plat::TVM_ENSUREVISIBLE, 0, reinterpret_cast<plat::LPARAM>(item));
}

void FileTreeCtrl::ExpandByCode(plat::HTREEITEM item) {
  if (!tree_ || !item || GetItemState(item, plat::TVIS_EXPANDED)) return;
  ExpandItem(item);
  expandingByCode_ = true;
  plat::SendMessageW(tree_, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(item));
  expandingByCode_ = false;
}

void FileTreeCtrl::Collapse(plat::HTREEITEM item) {
  if (!tree_ || !item || !HasChildren(item)) return;
  while (plat::HTREEITEM child = Next(tree_, plat::TVGN_CHILD, item))
    plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(child));
  InsertPlaceholder(tree_, item);
}

bool FileTreeCtrl::HasChildren(plat::HTREEITEM item) const {
  plat::TVITEMW it{};
  it.mask = plat::TVIF_HANDLE | plat::TVIF_CHILDREN;
  it.hItem = item;
  if (!plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it))) return false;
  return it.cChildren != 0;
}

std::u16string FileTreeCtrl::GetItemText(plat::HTREEITEM item) const {
  if (!tree_ || !item) return {};
  std::vector<char16_t> buffer(256);
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), 0);
    plat::TVITEMW it{};
    it.mask = plat::TVIF_HANDLE | plat::TVIF_TEXT;
    it.hItem = item;
    it.pszText = buffer.data();
    it.cchTextMax = static_cast<int>(buffer.size());
    if (!plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it))) return {};
    const std::u16string text = buffer.data();
    if (text.size() + 1 < buffer.size()) return text;
    buffer.resize(buffer.size() * 2);
  }
}

plat::UINT FileTreeCtrl::GetItemState(plat::HTREEITEM item, plat::UINT mask) const {
  plat::TVITEMW it{};
  it.mask = plat::TVIF_HANDLE | plat::TVIF_STATE;
  it.hItem = item;
  it.stateMask = mask;
  if (!tree_ || !plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it))) return 0;
  return it.state & mask;
}

plat::HTREEITEM FileTreeCtrl::GetSelectedItem() const {
  return tree_ ? Next(tree_, plat::TVGN_CARET, nullptr) : nullptr;
}

std::u16string FileTreeCtrl::GetItemPath(plat::HTREEITEM item) const {
  if (!tree_ || !item || item == plat::TVI_ROOT) return {};
  plat::HTREEITEM parent = Next(tree_, plat::TVGN_PARENT, item);
  const std::u16string folder = parent ? GetItemPath(parent) : rootParent_;
  return TreePane::JoinPath(folder, GetItemText(item));
}

bool FileTreeCtrl::SelectPath(const std::u16string& path) {
  if (!tree_) return false;
  plat::HTREEITEM item = Next(tree_, plat::TVGN_ROOT, nullptr);
  if (!item) return false;
  std::u16string rest = path;
  const std::u16string rootPath = GetItemPath(item);
  if (rootPath != u"\\") {
    if (rest.size() < rootPath.size() || !plat::EqualsNoCase(rest.substr(0, rootPath.size()), rootPath)) return false;
    rest.erase(0, rootPath.size());
  }
  while (!rest.empty() && rest.front() == u'\\') rest.erase(0, 1);
  bool found = true;
  while (!rest.empty()) {
    const std::size_t cut = rest.find(u'\\');
    const std::u16string part = rest.substr(0, cut);
    rest = cut == std::u16string::npos ? u"" : rest.substr(cut + 1);
    if (part.empty()) continue;
    ExpandByCode(item);
    plat::HTREEITEM child = Next(tree_, plat::TVGN_CHILD, item);
    while (child && !plat::EqualsNoCase(GetItemText(child), part)) child = Next(tree_, plat::TVGN_NEXT, child);
    if (!child) {
      found = false;
      break;
    }
    item = child;
  }
  plat::SendMessageW(tree_, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(item));
  plat::SendMessageW(tree_, plat::TVM_ENSUREVISIBLE, 0, reinterpret_cast<plat::LPARAM>(item));
  return found;
}
