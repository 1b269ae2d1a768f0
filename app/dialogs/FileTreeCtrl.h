// The pickers' tree of the device: a subclassed tree-view control that lists
// a folder's entries when it is expanded, throws them away when it is
// collapsed (so every expansion shows the folder as it is now), and turns
// Enter and a double tap into OK of its parent. The tree pane helpers build
// its entries: a type letter and a name ("d" folder, "e" program or link,
// "f" other file), sorted folders first.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/files/Files.h"
#include "platform/windows/Windows.h"

// The reflected form of WM_NOTIFY that a parent hands back to the control.
constexpr plat::UINT kReflectedNotify = 0x204E;
// The tree style of the folder selector.
constexpr plat::DWORD kFileTreeStyle = 0x50010037;

namespace TreePane {
// Calls visit for each entry of the folder matching the pattern, in the order
// the device lists them; nothing for a folder that cannot be listed.
void Enumerate(const std::u16string& folder, const std::u16string& pattern,
               const std::function<void(const plat::WIN32_FIND_DATAW&)>& visit);
// Whether the folder holds at least one sub-folder.
bool HasSubFolder(const std::u16string& folder);
// The system's small file icon of a device path (its index in the system
// image list), and that list; when the shell has none, a list of the same
// icons is made in own (the caller destroys it).
int SystemIconIndex(const std::u16string& path);
plat::HIMAGELIST SystemSmallImageList(plat::HIMAGELIST& own);
// The entries of a folder ("*.*"): "d" + name for folders; "e" + name for
// files ending in ".exe" or ".lnk" (any case) and "f" + name for other files,
// listed only with withFiles. A folder that cannot be listed has none.
std::vector<std::u16string> ListFolder(const std::u16string& folder, bool withFiles);
// Sorts entry strings ignoring case: folders, then programs, then files.
void SortEntries(std::vector<std::u16string>& entries);
// The image of an entry without system icons: 0 folder, 2 program, 1 file.
int EntryImage(const std::u16string& entry);
// The path of name inside folder ("\" + name in the root; name alone when the
// folder is empty).
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
// Drops characters from the front of text, two at a time, until it fits the
// width in the window's font or fewer than two are left.
std::u16string FitTextToWidth(plat::HWND window, const std::u16string& text, int width);
}  // namespace TreePane

class FileTreeCtrl {
 public:
  explicit FileTreeCtrl(bool foldersOnly);
  ~FileTreeCtrl();
  FileTreeCtrl(const FileTreeCtrl&) = delete;
  FileTreeCtrl& operator=(const FileTreeCtrl&) = delete;

  // Takes over the tree-view window, gives it the system's small icons and
  // fills it from the root; whether the root item was inserted.
  bool SubclassWindow(plat::HWND tree);
  void UnsubclassWindow();
  plat::HWND GetHwnd() const { return tree_; }

  // Empty: the whole device, one top-level item "\".
  void SetRootPath(const std::u16string& root) { root_ = root; }
  const std::u16string& GetRootPath() const { return root_; }
  void SetSystemIcons(bool on) { systemIcons_ = on; }
  bool IsFoldersOnly() const { return foldersOnly_; }

  bool FillFromRoot();
  // Fills and expands an item unless it is expanded already.
  void ExpandByCode(plat::HTREEITEM item);
  // Throws the children away, keeping a placeholder for the expand button.
  void Collapse(plat::HTREEITEM item);
  // Lists the item's folder under it in place of its placeholder.
  void ExpandItem(plat::HTREEITEM item);
  // The device path of an item; empty for none.
  std::u16string GetItemPath(plat::HTREEITEM item) const;
  std::u16string GetItemText(plat::HTREEITEM item) const;
  plat::UINT GetItemState(plat::HTREEITEM item, plat::UINT mask) const;
  plat::HTREEITEM GetSelectedItem() const;
  // Selects the path, its components matched ignoring case, expanding on the
  // way; false when a component is missing (the deepest match stays selected).
  bool SelectPath(const std::u16string& path);

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  bool OnMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result);
  plat::HTREEITEM InsertEntry(plat::HTREEITEM parent, const std::u16string& folder, const std::u16string& entry);
  bool HasChildren(plat::HTREEITEM item) const;

  plat::HWND tree_ = nullptr;
  plat::WNDPROC previous_ = nullptr;
  plat::HIMAGELIST images_ = nullptr;
  bool handled_ = false;
  bool expandingByCode_ = false;
  bool systemIcons_ = false;
  bool foldersOnly_;
  std::u16string root_;
  std::u16string rootParent_;
};
