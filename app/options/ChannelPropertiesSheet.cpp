#include "app/options/ChannelPropertiesSheet.h"

#include "app/options/FolderSizeLabel.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/StringUtils.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "platform/inet/Inet.h"
#include "update/jobs/UpdateManager.h"

namespace {

constexpr plat::UINT kEnterChannelName = 162;
constexpr plat::UINT kNameTaken = 163;
constexpr plat::UINT kEnterChannelUrl = 161;
constexpr plat::UINT kRenameFailed = 165;
constexpr plat::UINT kSizeFormat = 200;
constexpr plat::UINT kCounting = 266;

constexpr plat::UINT kBadFeedAddress = 384;

std::u16string Text(plat::UINT id) { return ApplyProductName(LocalizeResourceString(id)); }

// A feed address the update can fetch: a device path or file:// address, or
// an http or https address with a host ("http://" is assumed when no scheme
// is written, as the download does), without blanks or control characters.
bool IsUsableFeedAddress(const std::u16string& address) {
  if (address.empty()) return false;
  for (char16_t c : address)
    if (c <= 0x20 || c == 0x7F) return false;
  if (address[0] == u'\\' || (address.size() >= 7 && plat::EqualsNoCase(address.substr(0, 7), u"file://"))) return true;
  const std::u16string full = address.find(u"://") == std::u16string::npos ? u"http://" + address : address;
  std::vector<char16_t> host(1024);
  plat::URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<plat::DWORD>(host.size());
  if (!plat::InternetCrackUrlW(full.c_str(), 0, 0, &parts)) return false;
  return (parts.nScheme == plat::INTERNET_SCHEME_HTTP || parts.nScheme == plat::INTERNET_SCHEME_HTTPS) &&
         host[0] != 0;
}

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
  const std::u16string name = TrimSpace(GetText(Item(kIdName)));
  if (name.empty()) {
    ShowMessageBox(hwnd_, kEnterChannelName, plat::MB_OK | plat::MB_ICONERROR);
    plat::SetFocus(Item(kIdName));
    return false;
  }
  if (feed_ && TrimSpace(GetText(Item(kIdUrl))).empty()) {
    ShowMessageBox(hwnd_, kEnterChannelUrl, plat::MB_OK | plat::MB_ICONERROR);
    plat::SetFocus(Item(kIdUrl));
    return false;
  }
  // A changed address must be one the update can fetch; the stored one is
  // kept as it is.
  if (feed_ && GetText(Item(kIdUrl)) != storedAddress_ && !IsUsableFeedAddress(TrimSpace(GetText(Item(kIdUrl))))) {
    ShowMessageBox(hwnd_, kBadFeedAddress, plat::MB_OK | plat::MB_ICONERROR);
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
  const std::u16string name = TrimSpace(GetText(Item(kIdName)));
  const std::u16string typed = GetText(Item(kIdUrl));
  const std::u16string address = typed == storedAddress_ ? typed : TrimSpace(typed);
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
