#include "app/ChannelPropertiesSheet.h"

#include "app/FolderSizeLabel.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "layout/UIToolkit.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "update/UpdateManager.h"

namespace {

constexpr plat::UINT kEnterChannelName = 162;
constexpr plat::UINT kNameTaken = 163;
constexpr plat::UINT kEnterChannelUrl = 161;
constexpr plat::UINT kRenameFailed = 165;
constexpr plat::UINT kSizeFormat = 200;
constexpr plat::UINT kCounting = 266;

std::u16string Text(plat::UINT id) { return ApplyProductName(LocalizeResourceString(id)); }

std::u16string Property(const CStringToStringMap& properties, const char16_t* key) {
  auto found = properties.find(key);
  return found == properties.end() ? std::u16string() : found->second;
}

}  // namespace

// ---- ChannelGeneralPage -----------------------------------------------------------

ChannelGeneralPage::ChannelGeneralPage(const std::u16string& channelName)
    : SheetPage(267, 186, u"channel_properties_general"),
      channelName_(channelName),
      sizeLabel_(std::make_unique<FolderSizeLabel>()) {}

ChannelGeneralPage::~ChannelGeneralPage() {
  sizePaths_.clear();
  sizeLabel_->Stop();
}

void ChannelGeneralPage::OnInitPage() {
  {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->FindByName(channelName_);
    if (!channel) return;  // the page stays empty
    found_ = true;
    const CStringToStringMap& properties = channel->GetProperties();
    feed_ = Property(properties, u"@type") == kChannelTypeRss;
    shownAddress_ = Property(properties, feed_ ? u"@url" : u"url");
    storedAddress_ = shownAddress_;
    sizePaths_ = {channel->GetDataFolder(), channel->GetFilePath()};
  }
  AddLabel(Text(264), kIdNameLabel);
  AddEdit(kIdName, channelName_);
  AddLabel(Text(258), kIdUrlLabel);
  AddEdit(kIdUrl, shownAddress_);
  sizeLabel_->Attach(hwnd_, AddLabel(u"", kIdSize));
  sizeLabel_->Start(Text(kSizeFormat), Text(kCounting), sizePaths_);
  BindRows();
  if (!feed_) plat::SendMessageW(Item(kIdUrl), plat::EM_SETREADONLY, plat::TRUE, 0);
}

bool ChannelGeneralPage::OnPageMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM, plat::LRESULT& result) {
  if (msg == plat::WM_TIMER && sizeLabel_->OnTimer(wParam)) {
    result = 0;
    return true;
  }
  return false;
}

bool ChannelGeneralPage::Validate() {
  if (!found_) return true;  // nothing to check; apply refuses
  const std::u16string name = TrimSpaces(GetText(Item(kIdName)));
  if (name.empty()) {
    ShowMessageBox(hwnd_, kEnterChannelName, plat::MB_OK | plat::MB_ICONERROR);
    plat::SetFocus(Item(kIdName));
    return false;
  }
  if (feed_ && TrimSpaces(GetText(Item(kIdUrl))).empty()) {
    ShowMessageBox(hwnd_, kEnterChannelUrl, plat::MB_OK | plat::MB_ICONERROR);
    plat::SetFocus(Item(kIdUrl));
    return false;
  }
  if (!plat::EqualsNoCase(name, channelName_)) {
    CSyncLock lock(GetChannelSet());
    CChannel* other = GetChannelSet()->FindByNameNoCase(name);
    if (other && other != GetChannelSet()->FindByName(channelName_)) {
      ShowMessageBox(hwnd_, kNameTaken, plat::MB_OK | plat::MB_ICONERROR);
      plat::SetFocus(Item(kIdName));
      return false;
    }
  }
  return true;
}

bool ChannelGeneralPage::OnApply() {
  if (!found_ || !Validate()) return false;
  const std::u16string name = TrimSpaces(GetText(Item(kIdName)));
  const std::u16string address = GetText(Item(kIdUrl));
  CSyncLock lock(GetChannelSet());
  IChannel* channel = GetChannelSet()->FindByName(channelName_);
  if (!channel) return false;
  if (!plat::EqualsNoCase(name, channelName_)) {
    if (!channel->Rename(name)) {
      ShowMessageBox(hwnd_, kRenameFailed, plat::MB_OK | plat::MB_ICONERROR);
      return false;
    }
    // A second apply (another page refused the first) finds the channel by
    // its new name.
    channelName_ = channel->GetName();
    SetText(Item(kIdName), channelName_);
    if (renamed_) renamed_(channelName_);
  }
  if (feed_ && address != storedAddress_) {
    CUpdateManager::GetInstance()->StopUpdatingChannel(channel);
    channel->SetProperty(u"@url", address);
    storedAddress_ = address;
    shownAddress_ = address;
  }
  return true;
}

// ---- ChannelPropertiesSheet -------------------------------------------------------------

ChannelPropertiesSheet::ChannelPropertiesSheet(const std::u16string& channelName)
    : PropertySheet(186), general_(channelName), updating_(channelName), cleaning_(channelName) {
  general_.SetRenamedHandler([this](const std::u16string& name) {
    updating_.SetChannelName(name);
    cleaning_.SetChannelName(name);
  });
  AddPage(general_);
  AddPage(updating_);
  AddPage(cleaning_);
}

ChannelPropertiesSheet::~ChannelPropertiesSheet() = default;

plat::INT_PTR ChannelPropertiesSheet::Run(plat::HWND owner, const std::u16string& channelName) {
  ChannelPropertiesSheet sheet(channelName);
  return sheet.DoModal(owner);
}
