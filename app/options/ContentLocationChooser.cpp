#include "app/options/ContentLocationChooser.h"

#include "app/dialogs/BrowseFolderDialog.h"

#include <cstdint>

#include "core/FileUtils.h"
#include "core/FontStorage.h"
#include "core/Localizer.h"
#include "layout/OwnControls.h"
#include "layout/ScreenScale.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/StandardControls.h"

namespace {

plat::HMENU ControlId(int id) { return reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(id)); }

void SetStandardFont(plat::HWND window) {
  plat::SendMessageW(window, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(GetSystemFontsStorage().GetFont()), 0);
}

std::u16string WindowText(plat::HWND window) {
  if (window == nullptr) return {};
  const int length = plat::GetWindowTextLengthW(window);
  std::u16string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, u'\0');
  const int got = plat::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// The browse-folder dialog over owner, started at start, with the focus and
// the input panel as they were before it.
bool RunBrowseFolderDialog(plat::HWND owner, const std::u16string& start, std::u16string& folder) {
  BrowseFolderDialog dialog;
  dialog.SetFolderPath(start);
  const bool chosen = RunKeepingFocusAndInputPanel([&] { return dialog.DoModal(owner); }) == plat::IDOK;
  if (chosen) folder = dialog.GetFolderPath();
  return chosen && !folder.empty();
}

}  // namespace

void ContentLocationChooser::FitBrowseButton() {
  plat::HWND button = browse_;
  if (button == nullptr) return;
  const std::u16string text = WindowText(button);
  plat::HDC dc = plat::GetDC(nullptr);
  if (dc == nullptr) return;
  auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(button, plat::WM_GETFONT, 0, 0));
  plat::HGDIOBJ old = font != nullptr ? plat::SelectObject(dc, font) : nullptr;
  plat::SIZE size{};
  plat::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (old != nullptr) plat::SelectObject(dc, old);
  plat::ReleaseDC(nullptr, dc);
  plat::SetWindowPos(button, nullptr, 0, 0, size.cx + ScaleX(16), size.cy + ScaleY(8),
                     plat::SWP_NOMOVE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
}

ContentLocationChooser::ContentLocationChooser() = default;

void ContentLocationChooser::FillLists(const std::u16string& currentPath) {
  names_.clear();
  paths_.clear();
  const std::u16string defaultFolder = GetDefaultContentFolder();
  names_.push_back(Localize(u"Main Memory"));
  paths_.push_back(defaultFolder);
  currentPath_ = currentPath.empty() ? defaultFolder : currentPath;
  for (const std::u16string& card : GetStorageCardFolders()) {
    names_.push_back(card.substr(1));
    paths_.push_back(CombinePath(card, defaultFolder));
  }
  names_.push_back(Localize(u"<Custom>"));
  paths_.push_back(kCustomPath);
  customIndex_ = static_cast<int>(paths_.size()) - 1;
}

bool ContentLocationChooser::Create(plat::HWND parent, const std::u16string& currentPath) {
  parent_ = parent;
  FillLists(currentPath);
  const std::u16string labelText = Localize(u"Choose content location:");
  label_ = CreateLabel(parent, nullptr, labelText, plat::WS_CHILD | plat::WS_VISIBLE, 0, kLabelId);
  // A drop-down list shows its selection as its text: its label is a
  // window of its own above it, as is the custom field's.
  comboLabel_ =
      CreateLabel(parent, nullptr, Localize(u"Content location"), plat::WS_CHILD | plat::WS_VISIBLE, 0, kComboLabelId);
  combo_ = CreateComboChild(parent, kComboId, names_);
  customLabel_ =
      CreateLabel(parent, nullptr, Localize(u"Custom folder"), plat::WS_CHILD | plat::WS_VISIBLE, 0, kCustomLabelId);
  custom_ = plat::CreateWindowExW(0, u"EDIT", currentPath_.c_str(),
                                  plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_BORDER | plat::WS_TABSTOP |
                                      plat::ES_AUTOHSCROLL,
                                  0, 0, 0, 0, parent, ControlId(kCustomFieldId), nullptr, nullptr);
  if (custom_ != nullptr) SetStandardFont(custom_);
  browse_ = plat::CreateWindowExW(0, u"BUTTON", Localize(u"Browse...").c_str(),
                                  plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::BS_PUSHBUTTON,
                                  0, 0, 0, 0, parent, ControlId(kBrowseButtonId), nullptr, nullptr);
  if (browse_ != nullptr) {
    SetStandardFont(browse_);
    FitBrowseButton();
  }
  if (label_ == nullptr || comboLabel_ == nullptr || combo_ == nullptr || customLabel_ == nullptr ||
      custom_ == nullptr || browse_ == nullptr)
    return false;
  int selection = customIndex_;
  for (int i = 0; i < customIndex_; ++i) {
    if (plat::EqualsNoCase(paths_[static_cast<std::size_t>(i)], currentPath_)) {
      selection = i;
      break;
    }
  }
  Select(selection);
  return true;
}

bool ContentLocationChooser::Select(int index) {
  if (combo_ == nullptr || index < 0 || index >= static_cast<int>(names_.size())) return false;
  plat::SendMessageW(combo_, plat::CB_SETCURSEL, static_cast<plat::WPARAM>(index), 0);
  UpdateCustomField();
  return true;
}

int ContentLocationChooser::GetSelection() const {
  if (combo_ == nullptr) return -1;
  return static_cast<int>(plat::SendMessageW(combo_, plat::CB_GETCURSEL, 0, 0));
}

bool ContentLocationChooser::OnCommand(plat::WPARAM wParam, plat::LPARAM) {
  const int id = static_cast<int>(wParam & 0xFFFF);
  const int code = static_cast<int>((wParam >> 16) & 0xFFFF);
  if (id == kComboId && code == plat::CBN_SELCHANGE) {
    UpdateCustomField();
    return true;
  }
  if (id == kBrowseButtonId && code == plat::BN_CLICKED) {
    Browse();
    return true;
  }
  return false;
}

void ContentLocationChooser::UpdateCustomField() {
  const int selection = GetSelection();
  const bool custom = selection == customIndex_;
  plat::EnableWindow(custom_, custom ? plat::TRUE : plat::FALSE);
  plat::EnableWindow(browse_, custom ? plat::TRUE : plat::FALSE);
  if (!custom && selection >= 0 && selection < static_cast<int>(paths_.size())) {
    plat::SetWindowTextW(custom_, paths_[static_cast<std::size_t>(selection)].c_str());
  }
}

void ContentLocationChooser::Browse() {
  std::u16string folder;
  plat::HWND owner = plat::GetActiveWindow();
  if (owner == nullptr) owner = parent_;
  const bool chosen = browseRunner_ ? browseRunner_(owner, GetSelectedPath(), folder)
                                    : RunBrowseFolderDialog(owner, GetSelectedPath(), folder);
  if (chosen && custom_ != nullptr) plat::SetWindowTextW(custom_, folder.c_str());
}

std::u16string ContentLocationChooser::GetSelectedPath() const {
  const int selection = GetSelection();
  if (selection == customIndex_) return WindowText(custom_);
  if (selection < 0 || selection >= static_cast<int>(paths_.size())) return {};
  return paths_[static_cast<std::size_t>(selection)];
}

std::u16string ContentLocationChooser::GetStorageCard(const std::u16string& path) {
  for (const std::u16string& card : GetStorageCardFolders()) {
    if (path.size() < card.size() || !plat::EqualsNoCase(std::u16string_view(path).substr(0, card.size()), card)) {
      continue;
    }
    if (path.size() == card.size() || path[card.size()] == u'\\') return card;
  }
  return {};
}
