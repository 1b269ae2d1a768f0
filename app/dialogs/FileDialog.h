// The program's own file and folder pickers: a finger-friendly list of the
// folders and files of one folder with a type selector and an "Up" soft key
// (the list picker), a save dialog with a file-name box, a folder combo and a
// type combo, and the folder selector the save dialog opens. Paths are device
// paths of any length: the caller always gets the whole chosen path.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "layout/ColoredStatic.h"
#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"

// Flags of the request (the callers pass both).
constexpr plat::DWORD kFileDialogPathMustExist = 0x0800;
constexpr plat::DWORD kFileDialogFileMustExist = 0x1000;

struct FileDialogRequest {
  plat::HWND owner = nullptr;
  // Pairs of description and pattern list ("*.opml;*.xml"), separated by '|'
  // and ended by "||", or separated by '\0' and ended by a double '\0'.
  std::u16string filter;
  // In: the initial file name, path or folder; out: the chosen full path.
  std::u16string file;
  // In and out: the selected type (0-based).
  int filterIndex = 0;
  plat::DWORD flags = 0;
  std::u16string defaultExtension;
  std::u16string title;
  // 0: the save dialog; any other value: the list picker.
  int dialogSelector = 1;
};

// Runs the picker over request.owner: 1 when a file was chosen (request.file
// holds its full path, request.filterIndex its type), 2 when the user
// cancelled, -1 (last error 14) when the dialog could not be made.
plat::INT_PTR RunFileDialog(FileDialogRequest& request);
// The same over the active window, keeping the focus and the input panel's
// state as they were before.
plat::INT_PTR RunFileDialogKeepingInputPanel(FileDialogRequest& request);

// One type of a filter: its description and its patterns.
struct FileFilterEntry {
  std::u16string description;
  std::vector<std::u16string> patterns;
};
// Reads a filter given with '|' or '\0' separators; the copy stops at "||" or
// a double '\0'. A description without a pattern list is dropped.
std::vector<FileFilterEntry> ParseFileFilter(const std::u16string& filter);
// The characters a typed file name may hold: codes above 128, digits, Latin
// letters, the underscore, the space and backspace.
bool IsFileNameChar(char16_t ch);
// The text without refused characters.
std::u16string CleanFileName(const std::u16string& text);

// Tests drive the modal dialogs through this: called with each picker dialog
// (list picker, save dialog, folder selector) once it is initialised.
using FileDialogObserver = std::function<void(plat::HWND dialog)>;
void SetFileDialogObserverForTesting(FileDialogObserver observer);
// Each picker dialog reports itself here once initialised.
void NotifyFileDialogObserver(plat::HWND dialog);
// Control ids of the dialogs.
constexpr int kPickerHeaderId = 101;
constexpr int kPickerListId = 102;
constexpr int kPickerTypeId = 103;
constexpr int kPickerFolderLabelId = 104;
constexpr int kPickerTypeLabelId = 105;
constexpr int kSaveFolderId = 101;
constexpr int kSaveNameId = 102;
constexpr int kSaveTypeId = 103;
constexpr int kFolderSelectorTreeId = 100;
// The "Up" command of the list picker, and the save dialog's requests to open
// the list picker on the name box and the folder selector on the folder combo.
constexpr int kPickerUpCommand = 7;
constexpr plat::UINT kSaveOpenPicker = plat::WM_USER + 67;
constexpr plat::UINT kSaveOpenFolderSelector = plat::WM_USER + 68;

// The list picker. mode 0 "Open", 1 "Save", 2 "Select File" (files only, no
// "Up", soft keys "Select" and "Cancel").
class FileDialog : public CPPCDialogImpl {
 public:
  enum Mode { kOpen = 0, kSave = 1, kSelectFile = 2 };
  FileDialog(Mode mode, FileDialogRequest& request);
  ~FileDialog() override;

  // 1 chosen (request.file, request.filterIndex set), 2 cancelled, -1 failed.
  plat::INT_PTR DoModal(plat::HWND owner);

  const std::u16string& GetCurrentFolder() const { return folder_; }
  // Lists the folder (ending with "\") again.
  void FillList();
  int GetItemCount() const;
  // The item's text and whether it is a folder; false for no such item.
  bool GetItem(int index, std::u16string& name, bool& isFolder) const;
  const SoftKeyBar& GetSoftKeys() const { return softKeys_; }

 protected:
  void OnInit() override;
  plat::LRESULT OnOK() override;
  bool ProcessDerivedMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) override;

 private:
  void Layout();
  void GoUp();
  void UpdateHeaderText();
  int SelectedType() const;

  Mode mode_;
  FileDialogRequest& request_;
  ColoredStatic header_;
  SoftKeyBar softKeys_;
  plat::HWND list_ = nullptr;
  plat::HWND typeCombo_ = nullptr;
  plat::HIMAGELIST images_ = nullptr;
  std::u16string emptyText_;
  std::vector<FileFilterEntry> types_;
  std::u16string folder_;  // always ends with "\"
  std::map<std::u16string, int> positions_;
  int lineY_ = -1;
  plat::UINT disableScrollBarMessage_ = 0;  // the registered "OrvWTL_DisableScrollBarMessage"
};

// The save dialog: a file-name box, the folder (opens the folder selector)
// and the type.
class FileSaveDialog : public CPPCDialogImpl {
 public:
  explicit FileSaveDialog(FileDialogRequest& request);
  plat::INT_PTR DoModal(plat::HWND owner);
  const std::u16string& GetCurrentFolder() const { return folder_; }

 protected:
  void OnInit() override;
  plat::LRESULT OnOK() override;
  bool ProcessDerivedMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) override;

 private:
  void Layout();
  void ShowFolder();
  void OnNameChanged();
  void OpenPicker();
  void OpenFolderSelector();
  std::u16string ReadName() const;
  int SelectedType() const;

  FileDialogRequest& request_;
  SoftKeyBar softKeys_;
  std::vector<FileFilterEntry> types_;
  std::u16string folder_;  // without a trailing "\" unless it is "\"
  plat::HWND nameBox_ = nullptr;
  plat::HWND folderCombo_ = nullptr;
  plat::HWND typeCombo_ = nullptr;
  bool cleaning_ = false;
};

// Runs the folder selector: a tree of the device's folders. path: in, the
// folder to select; out, the chosen folder. 1 chosen, 2 cancelled.
plat::INT_PTR RunFolderSelector(plat::HWND owner, const std::u16string& title, std::u16string& path);
