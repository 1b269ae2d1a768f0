// The dialog that lets the user pick a folder of the device from a folder
// tree, with Done and Cancel soft keys.
#pragma once

#include <memory>
#include <string>

#include "app/dialogs/FolderTree.h"
#include "layout/DialogAutoFit.h"
#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"

class BrowseFolderDialog : public CPPCDialogImpl {
 public:
  BrowseFolderDialog();
  ~BrowseFolderDialog() override;

  // The folder the tree starts from (empty: the whole device).
  void SetRootFolder(const std::u16string& root) { root_ = root; }
  const std::u16string& GetRootFolder() const { return root_; }
  // The folder selected when the dialog opens; the chosen one after OK,
  // empty after Cancel.
  void SetFolderPath(const std::u16string& path) { path_ = path; }
  const std::u16string& GetFolderPath() const { return path_; }

  // 1 (IDOK) when a folder was chosen, 2 (IDCANCEL) when cancelled, -1 when
  // the dialog could not be made.
  plat::INT_PTR DoModal(plat::HWND owner);

  FolderTree& GetTree() { return tree_; }
  // Whether the initialisation made the tree window and its layout.
  bool HasLayout() const { return fit_ != nullptr; }

 protected:
  void OnInit() override;
  plat::LRESULT OnOK() override;
  plat::LRESULT OnCancel() override;
  bool ProcessDerivedMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) override;

 private:
  std::u16string root_;
  std::u16string path_;
  FolderTree tree_;
  SoftKeyBar softKeys_;
  std::unique_ptr<DialogAutoFit> fit_;
  plat::UINT disableScrollBarMessage_ = 0;  // the registered "OrvWTL_DisableScrollBarMessage"
};
