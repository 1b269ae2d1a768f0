#include "database/GlobalOptions.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"
#include "platform/registry/Registry.h"

namespace {

std::int32_t AsFlag(std::int32_t value) { return value != 0 ? 1 : 0; }

std::uint32_t ReadDWORD(const char16_t* name, std::uint32_t def) { return OpenSettingsKey().GetDWORD(name, def); }

void WriteDWORD(const char16_t* name, std::uint32_t value) { OpenSettingsKey().SetDWORD(name, value); }

bool ReadTime(const char16_t* name, plat::FILETIME* time) {
  CVORegistry key = OpenSettingsKey();
  if (!key.IsOpen()) return false;
  plat::DWORD type = 0;
  plat::BYTE data[16] = {};
  plat::DWORD size = sizeof(data);
  if (plat::RegQueryValueExW(key.GetKey(), name, nullptr, &type, data, &size) != static_cast<plat::LONG>(plat::ERROR_SUCCESS)) return false;
  if (size != 8) return false;
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  std::memcpy(&low, data, 4);
  std::memcpy(&high, data + 4, 4);
  time->dwLowDateTime = low;
  time->dwHighDateTime = high;
  return true;
}

unsigned g_optionsGeneration = 0;
ChannelOptionsLookup g_channelOptionsLookup = nullptr;

CGlobalOptions& OptionsObject() {
  static CGlobalOptions options;
  return options;
}

}  // namespace

CGlobalOptions& GetGlobalOptions() {
  CGlobalOptions& options = OptionsObject();
  const unsigned generation = plat::DeviceGeneration();
  if (generation != g_optionsGeneration) {
    g_optionsGeneration = generation;
    options.Reset();
    options.GetChannelDefaultOptions().Reset();
  }
  return options;
}

CChannelDefaultOptions& GetChannelDefaultOptions() { return GetGlobalOptions().GetChannelDefaultOptions(); }

void SetChannelOptionsLookup(ChannelOptionsLookup lookup) { g_channelOptionsLookup = lookup; }

IChannelOptions* GetChannelOptionsByName(const std::u16string& channelName) {
  if (channelName.empty()) return &GetChannelDefaultOptions();
  if (g_channelOptionsLookup == nullptr) return nullptr;
  return g_channelOptionsLookup(channelName);
}

std::int32_t CGlobalOptions::GetCachedFlag(std::int32_t& cache, const char16_t* name, std::uint32_t def) {
  if (cache == 2) cache = AsFlag(static_cast<std::int32_t>(ReadDWORD(name, def)));
  return cache;
}

void CGlobalOptions::SetCachedFlag(std::int32_t& cache, const char16_t* name, std::int32_t flag) {
  cache = AsFlag(flag);
  WriteDWORD(name, static_cast<std::uint32_t>(cache));
}

std::uint32_t CGlobalOptions::GetAutoUpdate() { return ReadDWORD(u"AutoUpdate", 0); }
void CGlobalOptions::SetAutoUpdate(std::uint32_t value) { WriteDWORD(u"AutoUpdate", value); }

plat::FILETIME CGlobalOptions::GetAutoUpdateTime() {
  plat::FILETIME time{};
  // Like "LastUpdateTime", a local time: the service compares the user's times of day.
  if (!ReadTime(u"AutoUpdateTime", &time)) {
    plat::SYSTEMTIME now{};
    plat::GetLocalTime(&now);
    plat::SystemTimeToFileTime(&now, &time);
  }
  return time;
}

bool CGlobalOptions::SetTime(const char16_t* name, const plat::FILETIME* time) {
  if (time == nullptr) return false;
  CVORegistry key = OpenSettingsKey();
  if (!key.IsOpen()) return false;
  plat::BYTE data[8];
  std::memcpy(data, &time->dwLowDateTime, 4);
  std::memcpy(data + 4, &time->dwHighDateTime, 4);
  return plat::RegSetValueExW(key.GetKey(), name, 0, plat::REG_BINARY, data, sizeof(data)) == static_cast<plat::LONG>(plat::ERROR_SUCCESS);
}

bool CGlobalOptions::SetAutoUpdateTime(const plat::FILETIME* time) { return SetTime(u"AutoUpdateTime", time); }
bool CGlobalOptions::SetLastUpdateTime(const plat::FILETIME* time) { return SetTime(u"LastUpdateTime", time); }
bool CGlobalOptions::GetLastUpdateTime(plat::FILETIME* time) {
  return time != nullptr && ReadTime(u"LastUpdateTime", time);
}

std::uint32_t CGlobalOptions::GetHTMLTextSize() { return ReadDWORD(u"HTMLTextSize", 2); }
void CGlobalOptions::SetHTMLTextSize(std::uint32_t size) {
  WriteDWORD(u"HTMLTextSize", std::min(size, kMaxHTMLTextSize));
}

std::int32_t CGlobalOptions::GetShowArticleLocation() {
  return AsFlag(static_cast<std::int32_t>(ReadDWORD(u"ShowArticleLocation", 1)));
}
void CGlobalOptions::SetShowArticleLocation(std::int32_t flag) {
  WriteDWORD(u"ShowArticleLocation", static_cast<std::uint32_t>(AsFlag(flag)));
}

std::int32_t CGlobalOptions::GetAutoUpdateWhenCradled() {
  return AsFlag(static_cast<std::int32_t>(ReadDWORD(kAutoUpdateWhenCradledName, 0)));
}
void CGlobalOptions::SetAutoUpdateWhenCradled(std::int32_t flag) {
  SetCachedFlag(autoUpdateWhenCradled_, kAutoUpdateWhenCradledName, flag);
}

std::int32_t CGlobalOptions::GetContentOnFlash() { return GetCachedFlag(contentOnFlash_, u"ContentOnFlash", 1); }

std::int32_t CGlobalOptions::GetIntegralPaging() { return GetCachedFlag(integralPaging_, u"IntegralPaging", 1); }
void CGlobalOptions::SetIntegralPaging(std::int32_t flag) { SetCachedFlag(integralPaging_, u"IntegralPaging", flag); }

std::int32_t CGlobalOptions::GetDisableLeftRightButtons() {
  return GetCachedFlag(disableLeftRightButtons_, u"DisableLeftRightButtons", 0);
}
void CGlobalOptions::SetDisableLeftRightButtons(std::int32_t flag) {
  SetCachedFlag(disableLeftRightButtons_, u"DisableLeftRightButtons", flag);
}

std::int32_t CGlobalOptions::GetTapIconsToUpdate() { return GetCachedFlag(tapIconsToUpdate_, u"TapIconsToUpdate", 1); }
void CGlobalOptions::SetTapIconsToUpdate(std::int32_t flag) {
  SetCachedFlag(tapIconsToUpdate_, u"TapIconsToUpdate", flag);
}

std::int32_t CGlobalOptions::GetStartUpdateForAddedChannels() {
  return GetCachedFlag(startUpdateForAddedChannels_, u"StartUpdateForAddedChannels", 1);
}
void CGlobalOptions::SetStartUpdateForAddedChannels(std::int32_t flag) {
  SetCachedFlag(startUpdateForAddedChannels_, u"StartUpdateForAddedChannels", flag);
}

std::int32_t CGlobalOptions::GetUseFreeConnectionsOnly() {
  return GetCachedFlag(useFreeConnectionsOnly_, u"UseFreeConnectionsOnly", 0);
}
void CGlobalOptions::SetUseFreeConnectionsOnly(std::int32_t flag) {
  SetCachedFlag(useFreeConnectionsOnly_, u"UseFreeConnectionsOnly", flag);
}

std::int32_t CGlobalOptions::GetRSSReportingAllowed() {
  return GetCachedFlag(rssReportingAllowed_, u"RSSReportingAllowed", 1);
}
void CGlobalOptions::SetRSSReportingAllowed(std::int32_t flag) {
  SetCachedFlag(rssReportingAllowed_, u"RSSReportingAllowed", flag);
}

std::int32_t CGlobalOptions::GetDeveloperMode() { return GetCachedFlag(developerMode_, u"DeveloperMode", 0); }
void CGlobalOptions::SetDeveloperMode(std::int32_t flag) { SetCachedFlag(developerMode_, u"DeveloperMode", flag); }

std::uint32_t CGlobalOptions::GetScriptTimeBudget() {
  return ReadDWORD(u"ScriptTimeBudget", kDefaultScriptTimeBudgetMs);
}
std::uint32_t CGlobalOptions::GetDownloadDeadline() {
  return ReadDWORD(u"DownloadDeadline", kDefaultDownloadDeadlineMs);
}
std::uint32_t CGlobalOptions::GetBinaryMinimumRate() {
  return ReadDWORD(u"BinaryMinimumRate", kDefaultBinaryMinimumRate);
}
std::uint32_t CGlobalOptions::GetBinaryMinimumRateTime() {
  return ReadDWORD(u"BinaryMinimumRateTime", kDefaultBinaryMinimumRateTimeMs);
}
std::uint32_t CGlobalOptions::GetMaxBinariesPerArticle() {
  return ReadDWORD(u"MaxBinariesPerArticle", kDefaultMaxBinariesPerArticle);
}
std::uint32_t CGlobalOptions::GetMaxBinariesPerUpdate() {
  return ReadDWORD(u"MaxBinariesPerUpdate", kDefaultMaxBinariesPerUpdate);
}

std::uint32_t CGlobalOptions::GetParallelDownloads() {
  return std::min(ReadDWORD(u"ParallelDownloads", kDefaultParallelDownloads), kMaxParallelDownloads);
}

std::int32_t CGlobalOptions::GetRememberViewingLocation() {
  return GetCachedFlag(rememberViewingLocation_, u"RememberViewingLocation", 1);
}
void CGlobalOptions::SetRememberViewingLocation(std::int32_t flag) {
  SetCachedFlag(rememberViewingLocation_, u"RememberViewingLocation", flag);
}

bool CGlobalOptions::IsRoaming() {
  CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", false, false, plat::KEY_ALL_ACCESS);
  return (key.GetDWORD(u"Status", 0) & kPhoneStatusRoaming) != 0;
}

std::u16string CGlobalOptions::GetProgramFolder() { return GetModuleFolder(); }

std::u16string CGlobalOptions::GetTemplatesFolder() { return CombinePath(GetProgramFolder(), u"Templates"); }

std::u16string CGlobalOptions::GetContentFolder() {
  if (contentFolder_.empty()) contentFolder_ = ::GetContentFolder();
  return contentFolder_;
}

bool CGlobalOptions::SetContentFolder(const std::u16string& folder, const std::u16string& card) {
  if (!card.empty() && !IsPathRootAvailable(card)) return false;
  if (!CreateFolderTree(folder)) return false;
  contentFolder_ = folder;
  contentOnFlash_ = card.empty() ? 0 : 1;
  CVORegistry key = OpenSettingsKey();
  key.SetString(u"ContentFolder", folder.c_str());
  key.SetDWORD(u"ContentOnFlash", static_cast<std::uint32_t>(contentOnFlash_));
  return true;
}

void CGlobalOptions::Reset() {
  contentFolder_.clear();
  contentOnFlash_ = 2;
  integralPaging_ = 2;
  disableLeftRightButtons_ = 2;
  tapIconsToUpdate_ = 2;
  startUpdateForAddedChannels_ = 2;
  useFreeConnectionsOnly_ = 2;
  autoUpdateWhenCradled_ = 2;
  rssReportingAllowed_ = 2;
  developerMode_ = 2;
  rememberViewingLocation_ = 2;
}
