// The languages of the online channel catalogue and the user's choice of
// them. The choice is the REG_SZ "ChannelsLanguageFilter" of the product key:
// the chosen codes, each followed by ";" (English and German: "en;de;").
// With nothing chosen, English and the user-interface language count as
// chosen.
#pragma once
#include <string>
#include <vector>

#include "core/Synchronized.h"

inline constexpr const char16_t* kChannelsLanguageFilterValue = u"ChannelsLanguageFilter";

struct ChannelLanguage {
  const char16_t* code;
  const char16_t* name;
};

// In the order the catalogue lists them.
inline constexpr ChannelLanguage kChannelLanguages[] = {
    {u"en", u"English"},
    {u"ru", u"Russian"},
    {u"de", u"German"},
    {u"fr", u"French"},
    {u"it", u"Italian"},
    {u"pt", u"Portuguese"},
    {u"es", u"Spanish"},
    {u"zh-cn", u"Simplified Chinese"},
    {u"zh-tw", u"Traditional Chinese"},
    {u"th", u"Thai"},
    {u"da", u"Danish"},
    {u"cs", u"Czech"},
    {u"pl", u"Polish"},
    {u"ja", u"Japanese"},
    {u"nl", u"Dutch"},
    {u"other", u"Other"},
};

class CChannelLanguages : public CSynchronized {
 public:
  // Reads the stored choice (writing it empty when missing) and the
  // user-interface language.
  CChannelLanguages();
  ~CChannelLanguages() override = default;

  void GetLanguages(std::vector<std::u16string>& codes, std::vector<std::u16string>& names);
  std::u16string GetLanguageFilter();
  // "en;", then the user-interface language and ";" unless it is "en".
  std::u16string GetDefaultFilter();
  // Whether code is one of the chosen codes (the default ones while nothing
  // is chosen).
  bool IsLanguageSelected(const std::u16string& code);
  // Stores the codes as the choice; false when that is the choice already
  // (nothing is written then).
  bool SetSelectedLanguages(const std::vector<std::u16string>& codes);

 private:
  std::u16string selected_;
  // Whether selected_ is what the settings hold (not the default shown in
  // its place while nothing is stored).
  bool stored_ = false;
  std::u16string default_;
  std::vector<std::u16string> codes_;
  std::vector<std::u16string> names_;
};

// The process's languages, created on first use.
CChannelLanguages* GetChannelLanguages();
