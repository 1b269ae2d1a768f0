// The options sheet (main window command 2051) and its pages: the network
// switches, the content folder, the automatic-update schedule with the
// default download options, and the default cleaning limits.
//
// ChannelUpdatingPage and ChannelCleaningPage serve the channel-properties
// sheet too: built with an empty channel name they edit the defaults every
// channel follows (default mode); built with a channel's name they edit that
// channel's switch to follow the defaults and its own options (channel mode).
//
// Pages read the options when they open and write them only when the sheet
// is applied, under the channel set's lock; pages never opened write nothing.
#pragma once

#include <memory>
#include <string>

#include "app/dialogs/SheetPage.h"
#include "database/ChannelOptions.h"

class NetworkOptionsPage : public SheetPage {
 public:
  enum ControlId { kIdFreeConnectionsOnly = 1001, kIdReporting = 1002, kIdUpdateWhenCradled = 1003 };

  NetworkOptionsPage();
  // Writes the three check states; always succeeds.
  bool OnApply() override;

 protected:
  void OnInitPage() override;
  plat::HWND GetFirstFocus() override { return Item(kIdFreeConnectionsOnly); }
};

// What the channel-mode pages share: the channel they edit, by name, which
// the channel-properties sheet moves along when its General page renamed the
// channel in the same apply.
class ChannelOptionsPageBase : public SheetPage {
 public:
  bool IsDefaultMode() const { return channelName_.empty(); }
  const std::u16string& GetChannelName() const { return channelName_; }
  void SetChannelName(const std::u16string& name) { channelName_ = name; }
  // The use-defaults flag as it stands (always 1 in default mode).
  bool GetUseDefaults() const { return useDefaults_; }

 protected:
  ChannelOptionsPageBase(const std::u16string& channelName, plat::UINT defaultTitle, plat::UINT channelTitle,
                         const char16_t* defaultHelp, const char16_t* channelHelp);
  // Copies the defaults and, in channel mode, the channel's own record and
  // the page's switch (useDefaults of the channel's options; 1 when the
  // channel is gone). Under the channel set's lock.
  void LoadRecords();
  // The channel's switch this page edits.
  virtual bool ReadSwitch(IChannelOptions& options) = 0;
  // The record the controls show: the defaults while the flag is set.
  ChannelOptionsRecord& ShownRecord() { return useDefaults_ ? defaults_ : own_; }
  // Whether the option controls may be edited.
  bool Editable() const { return IsDefaultMode() || !useDefaults_; }

  std::u16string channelName_;
  ChannelOptionsRecord defaults_;
  ChannelOptionsRecord own_;
  bool useDefaults_ = true;
};

class ChannelUpdatingPage : public ChannelOptionsPageBase {
 public:
  enum ControlId {
    kIdUseDefaults = 1001,
    kIdManualUpdate = 1002,
    kIdNoImages = 1003,
    kIdSchedule = 1004,
    kIdScheduleLabel = 1005,
    kIdScheduleCombo = 1006,
    kIdTime = 1007,
  };
  // The "AutoUpdate" value of each schedule item, in item order.
  static constexpr int kScheduleValues[5] = {1, 3, 6, 12, 24};
  // The item an "AutoUpdate" value selects: -1 for 0, item 0 for a value
  // not in the list.
  static int ScheduleIndex(std::uint32_t autoUpdate);
  // The time picker's format: "hh':'mm' 'tt" for a user locale with a
  // 12-hour clock (LOCALE_ITIME "0"), else "HH':'mm".
  static std::u16string TimeFormat();

  explicit ChannelUpdatingPage(const std::u16string& channelName);
  ~ChannelUpdatingPage() override;
  bool OnApply() override;

 protected:
  void OnInitPage() override;
  bool OnCommand(int id, int code, plat::HWND control) override;
  plat::HWND GetFirstFocus() override { return Item(IsDefaultMode() ? kIdManualUpdate : kIdUseDefaults); }
  bool ReadSwitch(IChannelOptions& options) override;

 private:
  void ShowRecord();
  void StoreShown();
  void UpdateTimeEnabled();

  class PickerHeight;
  std::unique_ptr<PickerHeight> pickerHeight_;
};

class ChannelCleaningPage : public ChannelOptionsPageBase {
 public:
  enum ControlId {
    kIdUseDefaults = 1001,
    kIdAgeEnabled = 1002,
    kIdAgeLimit = 1003,
    kIdCountEnabled = 1004,
    kIdCountLimit = 1005,
  };
  // Reads a number field's text: optional spaces around an optionally signed
  // run of decimal digits. False for anything else ("", "12abc", "1 2");
  // numbers too long for an int read as the nearest int.
  static bool ParseNumber(const std::u16string& text, int& value);

  explicit ChannelCleaningPage(const std::u16string& channelName);
  // Validates both number fields (a message names the allowed range of the
  // first invalid one), then writes.
  bool OnApply() override;
  bool OnKillActive() override { return ValidateAndStore(); }

 protected:
  void OnInitPage() override;
  bool OnCommand(int id, int code, plat::HWND control) override;
  plat::HWND GetFirstFocus() override { return Item(IsDefaultMode() ? kIdAgeEnabled : kIdUseDefaults); }
  bool ReadSwitch(IChannelOptions& options) override;

 private:
  void ShowRecord();
  // Both fields are read; valid ones are stored into the shown record. The
  // first invalid field gets string 244 and the focus. True when both are valid.
  bool ValidateAndStore();
  void StoreChecks();
};

class OptionsSheet : public PropertySheet {
 public:
  // Network, Content, Updating and Cleaning, in that order.
  OptionsSheet();
  ~OptionsSheet() override;

  NetworkOptionsPage& GetNetworkPage() { return network_; }
  ChannelUpdatingPage& GetUpdatingPage() { return updating_; }
  ChannelCleaningPage& GetCleaningPage() { return cleaning_; }
  SheetPage* GetContentPage() { return content_.get(); }

 private:
  NetworkOptionsPage network_;
  std::unique_ptr<SheetPage> content_;
  ChannelUpdatingPage updating_;
  ChannelCleaningPage cleaning_;
};
