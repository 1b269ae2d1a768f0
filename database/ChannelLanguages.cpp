#include "database/ChannelLanguages.h"

#include "core/Localizer.h"
#include "core/VORegistry.h"

CChannelLanguages::CChannelLanguages() {
  for (const ChannelLanguage& language : kChannelLanguages) {
    codes_.emplace_back(language.code);
    names_.emplace_back(language.name);
  }
  selected_ = OpenSettingsKey().GetString(kChannelsLanguageFilterValue, u"");
  stored_ = !selected_.empty();
  default_ = u"en;";
  const std::u16string interfaceLanguage = GetLanguageSetting();
  if (interfaceLanguage != u"en") default_ += interfaceLanguage + u";";
}

void CChannelLanguages::GetLanguages(std::vector<std::u16string>& codes, std::vector<std::u16string>& names) {
  CSyncLock lock(this, u"CChannelLanguages::GetLanguages");
  codes = codes_;
  names = names_;
}

std::u16string CChannelLanguages::GetLanguageFilter() {
  CSyncLock lock(this, u"CChannelLanguages::GetLanguageFilter");
  return selected_;
}

std::u16string CChannelLanguages::GetDefaultFilter() {
  CSyncLock lock(this, u"CChannelLanguages::GetDefaultFilter");
  return default_;
}

bool CChannelLanguages::IsLanguageSelected(const std::u16string& code) {
  CSyncLock lock(this, u"CChannelLanguages::IsLanguageSelected");
  if (selected_.empty()) selected_ = default_;
  if (code.empty()) return false;
  // A whole entry: at the start or right after a ";". Every occurrence is
  // looked at, so "tw" is not found inside "zh-tw;" yet is found after it.
  const std::u16string entry = code + u";";
  for (std::size_t at = selected_.find(entry); at != std::u16string::npos; at = selected_.find(entry, at + 1)) {
    if (at == 0 || selected_[at - 1] == u';') return true;
  }
  return false;
}

bool CChannelLanguages::SetSelectedLanguages(const std::vector<std::u16string>& codes) {
  CSyncLock lock(this, u"CChannelLanguages::SetSelectedLanguages");
  std::u16string joined;
  for (const std::u16string& code : codes) joined += code + u";";
  // A choice equal to the default shown in place of a missing value is
  // stored all the same, so the catalogue is asked for it.
  if (joined == selected_ && stored_) return false;
  selected_ = joined;
  stored_ = OpenSettingsKey().SetString(kChannelsLanguageFilterValue, selected_);
  return true;
}

CChannelLanguages* GetChannelLanguages() {
  static CChannelLanguages languages;
  return &languages;
}
