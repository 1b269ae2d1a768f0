// The channel-properties sheet (main window command 2050 and the channel
// list's item menu): the channel's name and address on the General page,
// and on the Updating and Cleaning pages whether it follows the default
// options and its own options when it does not.
//
// The sheet applies its pages in order. When the General page renames the
// channel, the option pages are told the new name before they apply, so a
// rename and option edits made together both take effect.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/SheetPage.h"
#include "app/options/OptionsSheet.h"

class FolderSizeLabel;

class ChannelGeneralPage : public SheetPage {
 public:
  enum ControlId { kIdNameLabel = 1001, kIdName = 1002, kIdUrlLabel = 1003, kIdUrl = 1004, kIdSize = 1005 };

  explicit ChannelGeneralPage(const std::u16string& channelName);
  ~ChannelGeneralPage() override;

  // Told the channel's new name after a rename.
  void SetRenamedHandler(std::function<void(const std::u16string&)> handler) { renamed_ = std::move(handler); }

  const std::u16string& GetChannelName() const { return channelName_; }
  // Whether the channel is a plain feed ("@type" "@RSS"); a script channel's
  // address cannot be edited.
  bool IsFeed() const { return feed_; }
  const std::vector<std::u16string>& GetSizePaths() const { return sizePaths_; }
  FolderSizeLabel& GetSizeLabel() { return *sizeLabel_; }

  // The name and address fields must hold something; another channel must
  // not have the new name. Shows the reason and answers false otherwise.
  bool Validate();
  // Renames the channel when its name changed other than in letter case,
  // and stores a feed's new address (stopping the channel's update first).
  bool OnApply() override;
  bool OnKillActive() override { return Validate(); }

 protected:
  void OnInitPage() override;
  plat::HWND GetFirstFocus() override { return Item(kIdName); }
  bool OnPageMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result) override;

 private:
  std::u16string channelName_;
  std::u16string shownAddress_;
  std::u16string storedAddress_;
  bool feed_ = false;
  bool found_ = false;
  std::vector<std::u16string> sizePaths_;
  std::unique_ptr<FolderSizeLabel> sizeLabel_;
  std::function<void(const std::u16string&)> renamed_;
};

class ChannelPropertiesSheet : public PropertySheet {
 public:
  // General, Updating and Cleaning for the channel of that name.
  explicit ChannelPropertiesSheet(const std::u16string& channelName);
  ~ChannelPropertiesSheet() override;

  // Builds the sheet for the channel, runs it modally over owner and
  // returns its result (1 applied, 0 cancelled, -1 not shown).
  static plat::INT_PTR Run(plat::HWND owner, const std::u16string& channelName);

  ChannelGeneralPage& GetGeneralPage() { return general_; }
  ChannelUpdatingPage& GetUpdatingPage() { return updating_; }
  ChannelCleaningPage& GetCleaningPage() { return cleaning_; }

 private:
  // Destroyed in reverse: Cleaning, Updating, General.
  ChannelGeneralPage general_;
  ChannelUpdatingPage updating_;
  ChannelCleaningPage cleaning_;
};
