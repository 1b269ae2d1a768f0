// A window showing the folders of the device below a root folder in a tree,
// reporting the folder the user selects. The tree fills lazily (each folder
// lists its sub-folders when first expanded) and is rebuilt with the same
// folder selected whenever folders change anywhere on the device.
#pragma once

#include <string>

#include "platform/controls/CommCtrl.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class FolderTree {
 public:
  FolderTree() = default;
  ~FolderTree();
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  // "" and "\" give "\"; any other path is taken without its trailing
  // backslashes and must name an existing folder, else the root is cleared
  // and the call answers false.
  bool SetRootPath(const std::u16string& path);
  const std::u16string& GetRootPath() const { return root_; }
  // Before the window exists: the folder to open at (a path not beginning with
  // a backslash opens the root). Afterwards the tree shows and selects it.
  void SetSelectedPath(const std::u16string& path);
  // The full path of the selected item; empty and false when none.
  bool GetSelectedPath(std::u16string& path) const;
  // The path last shown or given.
  const std::u16string& GetStoredPath() const { return selected_; }

  // The window (its class registered on first use) with the tree over its
  // client area; null when it cannot be made.
  plat::HWND Create(plat::HWND parent, const plat::RECT* rect, plat::DWORD style, int id);
  plat::HWND GetHwnd() const { return hwnd_; }
  plat::HWND GetTree() const { return tree_; }

  // Deletes everything, inserts the root item, fills it two levels deep and
  // expands it.
  void Fill();
  // Looks the path up from the root item, expanding on the way; selects and
  // shows it (true) or leaves the selection alone (false).
  bool ShowPath(const std::u16string& path);
  // The full path of an item: the root path joined with the texts below it.
  std::u16string GetItemPath(plat::HTREEITEM item) const;

 private:
  static plat::LRESULT WndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  plat::LRESULT OnMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void OnCreate();
  void OnDestroy();
  // Inserts the sub-folders of path under item; each new child is filled to
  // depth - 1 (depth 1 stops after the first, a look-ahead for the button).
  void FillItem(plat::HTREEITEM item, const std::u16string& path, int depth);
  void ExpandItem(plat::HTREEITEM item);
  plat::HTREEITEM InsertItem(plat::HTREEITEM parent, const std::u16string& text, const std::u16string& path);

  plat::HWND hwnd_ = nullptr;
  plat::HWND tree_ = nullptr;
  plat::HFONT font_ = nullptr;
  plat::HIMAGELIST images_ = nullptr;
  std::u16string root_ = u"\\";
  std::u16string selected_;
  bool notifying_ = false;
};
