#include "database/TodayChannelFilter.h"

#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "core/StringUtils.h"
#include "core/VORegistry.h"
#include "database/TodayViewOptions.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"

namespace {

constexpr const char16_t* kShown = u"1";
constexpr const char16_t* kHidden = u"0";

CVORegistry OpenTodayKey() {
  const std::u16string path = GetTodayRegistryKey();
  return CVORegistry(GetSettingsRootKey(), path.c_str(), true, true, plat::KEY_ALL_ACCESS);
}

bool ValueExists(CVORegistry& key, const std::u16string& name) {
  if (!key.IsOpen()) return false;
  plat::DWORD size = 0;
  return plat::RegQueryValueExW(key.GetKey(), name.c_str(), nullptr, nullptr, nullptr, &size) ==
         plat::ERROR_SUCCESS;
}

}  // namespace

CTodayChannelFilter* CTodayChannelFilter::GetInstance() {
  static CTodayChannelFilter instance;
  return &instance;
}

CTodayChannelFilter::CTodayChannelFilter() {
  mutex_ = plat::CreateMutexW(nullptr, plat::FALSE, kChannelsFilterMutex);
  Load();
}

CTodayChannelFilter::~CTodayChannelFilter() {
  if (mutex_) plat::CloseHandle(mutex_);
}

template <class F>
bool CTodayChannelFilter::Change(F change) {
  CMutexLock mutexLock(mutex_, kMutexTimeoutMs);
  if (!mutexLock.IsLocked()) return false;
  contentFolder_ = OpenSettingsKey().GetString(u"ContentFolder", u"");
  entries_.clear();
  ReadStored();
  // Channels entered here without a save are written with this change.
  for (const auto& entry : unsaved_) entries_.insert(entry);
  if (!change()) return true;
  if (!WriteEntries()) return false;
  unsaved_.clear();
  return true;
}

std::u16string CTodayChannelFilter::GetChunkName(const std::u16string& folder, int index) {
  std::u16string name = u"ChannelsFilter" + folder;
  if (index > 0) {
    name += u':';
    const std::string digits = std::to_string(index);
    name.append(digits.begin(), digits.end());
  }
  return name;
}

std::u16string CTodayChannelFilter::EncodeEntries(const CStringToStringMap& entries) {
  return MapToString(entries);
}

void CTodayChannelFilter::DecodeEntries(const std::u16string& text, CStringToStringMap& entries) {
  CStringToStringMap items;
  StringToMap(text, items);
  MergeMap(items, entries);
}

std::u16string CTodayChannelFilter::GetContentFolder() {
  CSyncLock lock(this, u"CTodayChannelFilter::GetContentFolder");
  return contentFolder_;
}

bool CTodayChannelFilter::ReadStored() {
  CVORegistry key = OpenTodayKey();
  autoIncludeNewChannels_ = key.GetDWORD(u"AutoIncludeNewChannels", 1) != 0 ? 1 : 0;
  for (int index = 0;; ++index) {
    const std::u16string name = GetChunkName(contentFolder_, index);
    if (!ValueExists(key, name)) break;
    DecodeEntries(key.GetString(name.c_str(), nullptr), entries_);
  }
  return !entries_.empty();
}

void CTodayChannelFilter::Load() {
  CSyncLock lock(this, u"CTodayChannelFilter::Load");
  entries_.clear();
  unsaved_.clear();
  contentFolder_ = OpenSettingsKey().GetString(u"ContentFolder", u"");
  if (ReadStored()) return;

  // Nothing stored for this folder: start from the channels that are there.
  Change([this] {
    if (!entries_.empty()) return false;  // another process made it meanwhile
    const std::u16string folder = contentFolder_.empty() ? GetDefaultContentFolder() : contentFolder_;
    CFileFinder finder(folder, u"*.cnl", true);
    while (finder.FindNext()) {
      const std::u16string& file = finder.GetFileName();
      if (file.size() <= 4) continue;
      Enter(UnescapeUrl(std::u16string_view(file).substr(0, file.size() - 4)));
    }
    return true;
  });
}

bool CTodayChannelFilter::Save() {
  CSyncLock lock(this, u"CTodayChannelFilter::Save");
  return Change([] { return true; });
}

bool CTodayChannelFilter::WriteEntries() {
  CVORegistry key = OpenTodayKey();
  if (!key.IsOpen()) return false;

  bool written = true;
  int index = 0;
  std::u16string text;
  for (const auto& entry : entries_) {
    text += EncodeEntries(CStringToStringMap{entry});
    if (text.size() > kChunkLength) {
      written = key.SetString(GetChunkName(contentFolder_, index++), text) && written;
      text.clear();
    }
  }
  if (!text.empty()) written = key.SetString(GetChunkName(contentFolder_, index++), text) && written;

  // Chunks beyond the ones just written belong to an older, longer filter.
  for (;; ++index) {
    const std::u16string name = GetChunkName(contentFolder_, index);
    if (!ValueExists(key, name)) break;
    plat::RegDeleteValueW(key.GetKey(), name.c_str());
  }
  return written;
}

void CTodayChannelFilter::GetEntries(CStringToStringMap& entries) {
  CSyncLock lock(this, u"CTodayChannelFilter::GetEntries");
  entries = entries_;
}

bool CTodayChannelFilter::Enter(const std::u16string& name) {
  return entries_.emplace(name, autoIncludeNewChannels_ ? kShown : kHidden).second;
}

bool CTodayChannelFilter::IsIncluded(const std::u16string& name, bool save) {
  CSyncLock lock(this, u"CTodayChannelFilter::IsIncluded");
  if (entries_.count(name) == 0) {
    if (save) {
      Change([&] { return Enter(name) || !unsaved_.empty(); });
    }
    if (Enter(name) && !save) unsaved_[name] = entries_[name];
  }
  return entries_[name] == kShown;
}

void CTodayChannelFilter::SetIncluded(const std::u16string& name, bool included) {
  SetEntries(CStringToStringMap{{name, included ? kShown : kHidden}});
}

bool CTodayChannelFilter::SetEntries(const CStringToStringMap& flags) {
  CSyncLock lock(this, u"CTodayChannelFilter::SetEntries");
  const bool written = Change([&] {
    for (const auto& [name, flag] : flags) entries_[name] = flag;
    return true;
  });
  if (!written) {
    // Keep the choice in memory at least; a later change writes it.
    for (const auto& [name, flag] : flags) entries_[name] = flag;
  }
  return written;
}

bool CTodayChannelFilter::ChangeEntries(const CStringToStringMap& flags, std::vector<std::u16string>& written) {
  CSyncLock lock(this, u"CTodayChannelFilter::ChangeEntries");
  written.clear();
  return Change([&] {
    for (const auto& [name, flag] : flags) {
      auto entry = entries_.find(name);
      if (entry == entries_.end()) continue;
      if (entry->second != flag) written.push_back(name);
      entry->second = flag;
    }
    return !written.empty();
  });
}

bool CTodayChannelFilter::SetAutoInclude(bool autoInclude) {
  CSyncLock lock(this, u"CTodayChannelFilter::SetAutoInclude");
  const int value = autoInclude ? 1 : 0;
  if (value == autoIncludeNewChannels_) return true;
  if (!OpenTodayKey().SetDWORD(u"AutoIncludeNewChannels", static_cast<std::uint32_t>(value))) return false;
  autoIncludeNewChannels_ = value;
  return true;
}

void CTodayChannelFilter::Remove(const std::u16string& name) {
  CSyncLock lock(this, u"CTodayChannelFilter::Remove");
  if (entries_.count(name) == 0) return;
  unsaved_.erase(name);
  Change([&] { return entries_.erase(name) != 0; });
  entries_.erase(name);
}
