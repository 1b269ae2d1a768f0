#include "core/ProductStrings.h"

namespace {
constexpr std::u16string_view kBrand = u"Orv";
constexpr std::u16string_view kResourceProductName = u"Orv Brevant";
}  // namespace

std::u16string GetBrandName() { return std::u16string(kBrand); }

std::u16string GetCompanyName() { return GetBrandName() + u" Software House"; }

std::u16string GetProductName() { return GetBrandName() + u" News"; }

std::u16string GetApplicationTitle() { return GetProductName(); }

std::u16string GetInstanceGuid() { return u"A377667C-B302-4767-B9C5-EC5210805251"; }

std::u16string GetExeName() { return GetProductName() + u".exe"; }

std::u16string GetLogFileName() { return GetExeName() + u"_log.txt"; }

std::u16string GetInstallMarkerName() { return u"\\OrvNewsInstallation.txt"; }

std::u16string GetCompanyRegistryKey() { return u"SOFTWARE\\" + GetCompanyName(); }

std::u16string GetProductRegistryKey() { return GetCompanyRegistryKey() + u"\\" + GetProductName(); }

std::u16string GetHelpFileUrl() { return u"file:OrvNews.htm"; }

std::u16string ApplyProductName(std::u16string_view text) {
  const std::u16string product = GetProductName();
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(kResourceProductName, pos);
    if (hit == std::u16string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out += product;
    pos = hit + kResourceProductName.size();
  }
  out.append(text.substr(pos));
  return out;
}
