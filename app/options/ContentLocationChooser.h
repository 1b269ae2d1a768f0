// The content location chooser of the Content page: a combo box of the
// places the content folder may live ("Main Memory", each storage card the
// device has, "<Custom>"), a "Custom folder" field for a folder of the user's
// own and a "Browse..." button that picks one from the folder tree.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/windows/Windows.h"

class ContentLocationChooser {
 public:
  static constexpr int kLabelId = 1001;
  static constexpr int kComboId = 1002;
  static constexpr int kCustomFieldId = 1003;
  static constexpr int kBrowseButtonId = 100;
  static constexpr int kComboLabelId = 1004;
  static constexpr int kCustomLabelId = 1005;
  // The path that stands for the custom entry in the path list.
  static constexpr const char16_t* kCustomPath = u"<Custom>";

  // Runs the folder picker over owner from start; true with the chosen
  // folder in folder when the user picked one.
  using BrowseRunner = std::function<bool(plat::HWND owner, const std::u16string& start, std::u16string& folder)>;

  ContentLocationChooser();

  // Fills the lists for currentPath (an empty path becomes the default
  // content folder), creates the controls in parent, selects the entry of
  // currentPath (ignoring case; else the custom entry) and updates the custom
  // field. False when a control could not be made.
  bool Create(plat::HWND parent, const std::u16string& currentPath);
  // The lists: "Main Memory" with the default content folder, each storage
  // card with the default content folder's path below its root, "<Custom>".
  void FillLists(const std::u16string& currentPath);

  // The parent's WM_COMMAND: the combo box's selection change updates the
  // custom field, "Browse..." runs the folder picker. True when handled.
  bool OnCommand(plat::WPARAM wParam, plat::LPARAM lParam);
  // The custom field and "Browse..." are enabled only for the custom entry;
  // any other entry shows its path in the (disabled) field.
  void UpdateCustomField();
  // Gives "Browse..." the width of its text and a margin, for a layout that
  // puts it at the right of the custom field.
  void FitBrowseButton();
  // Picks a folder for the custom field, starting at the selected path.
  void Browse();

  // The custom field's text for the custom entry, else the entry's path.
  std::u16string GetSelectedPath() const;
  int GetSelection() const;
  bool Select(int index);
  int GetCustomIndex() const { return customIndex_; }
  const std::u16string& GetCurrentPath() const { return currentPath_; }
  const std::vector<std::u16string>& GetNames() const { return names_; }
  const std::vector<std::u16string>& GetPaths() const { return paths_; }

  plat::HWND GetLabel() const { return label_; }
  // The labels above the combo box and above the custom field.
  plat::HWND GetComboLabel() const { return comboLabel_; }
  plat::HWND GetCustomLabel() const { return customLabel_; }
  plat::HWND GetComboBox() const { return combo_; }
  plat::HWND GetCustomField() const { return custom_; }
  plat::HWND GetBrowseButton() const { return browse_; }

  // The storage card root (as the device lists it, "\Storage Card") that
  // holds path, compared ignoring case; empty when path is on no storage card.
  static std::u16string GetStorageCard(const std::u16string& path);

  // Tests pick folders without the dialog; empty: the browse-folder dialog.
  void SetBrowseRunner(BrowseRunner runner) { browseRunner_ = std::move(runner); }

 private:
  std::vector<std::u16string> names_;
  std::vector<std::u16string> paths_;
  int customIndex_ = -1;
  std::u16string currentPath_;
  plat::HWND parent_ = nullptr;
  plat::HWND label_ = nullptr;
  plat::HWND comboLabel_ = nullptr;
  plat::HWND customLabel_ = nullptr;
  plat::HWND combo_ = nullptr;
  plat::HWND custom_ = nullptr;
  plat::HWND browse_ = nullptr;
  BrowseRunner browseRunner_;
};
