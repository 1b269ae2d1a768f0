#include "database/ChannelDefaultOptions.h"

#include <algorithm>

#include "core/VORegistry.h"

namespace {

constexpr const char16_t* kManualName = u"DefaultManualArticlesUpdate";
constexpr const char16_t* kDisableImagesName = u"DisableImagesInArticles";
constexpr const char16_t* kAgeEnabledName = u"ArticlesAgeLimitEnabled";
constexpr const char16_t* kAgeLimitName = u"DefaultArticlesAgeLimit";
constexpr const char16_t* kCountEnabledName = u"ArticlesCountLimitEnabled";
constexpr const char16_t* kCountLimitName = u"DefaultArticlesCountLimit";

std::int32_t ReadFlag(std::int32_t& cache, const char16_t* name, std::uint32_t def) {
  if (cache == 2) cache = OpenSettingsKey().GetDWORD(name, def) != 0 ? 1 : 0;
  return cache;
}

void WriteFlag(std::int32_t& cache, const char16_t* name, std::int32_t flag) {
  cache = flag != 0 ? 1 : 0;
  OpenSettingsKey().SetDWORD(name, static_cast<std::uint32_t>(cache));
}

std::int32_t ReadLimit(std::int32_t& cache, const char16_t* name, std::uint32_t def) {
  if (cache == -1) cache = static_cast<std::int32_t>(OpenSettingsKey().GetDWORD(name, def));
  return cache;
}

void WriteLimit(std::int32_t& cache, const char16_t* name, std::int32_t value, std::int32_t lo, std::int32_t hi) {
  cache = std::clamp(value, lo, hi);
  OpenSettingsKey().SetDWORD(name, static_cast<std::uint32_t>(cache));
}

}  // namespace

std::int32_t CChannelDefaultOptions::GetManualArticlesUpdate() {
  return ReadFlag(manualArticlesUpdate_, kManualName, 0);
}
void CChannelDefaultOptions::SetManualArticlesUpdate(std::int32_t flag) {
  WriteFlag(manualArticlesUpdate_, kManualName, flag);
}
std::int32_t CChannelDefaultOptions::GetDisableImagesInArticles() {
  return ReadFlag(disableImagesInArticles_, kDisableImagesName, 0);
}
void CChannelDefaultOptions::SetDisableImagesInArticles(std::int32_t flag) {
  WriteFlag(disableImagesInArticles_, kDisableImagesName, flag);
}
std::int32_t CChannelDefaultOptions::GetArticlesAgeLimitEnabled() {
  return ReadFlag(articlesAgeLimitEnabled_, kAgeEnabledName, 0);
}
void CChannelDefaultOptions::SetArticlesAgeLimitEnabled(std::int32_t flag) {
  WriteFlag(articlesAgeLimitEnabled_, kAgeEnabledName, flag);
}
std::int32_t CChannelDefaultOptions::GetArticlesAgeLimit() { return ReadLimit(articlesAgeLimit_, kAgeLimitName, 7); }
void CChannelDefaultOptions::SetArticlesAgeLimit(std::int32_t days) {
  WriteLimit(articlesAgeLimit_, kAgeLimitName, days, kMinArticlesAgeLimit, kMaxArticlesAgeLimit);
}
std::int32_t CChannelDefaultOptions::GetArticlesCountLimitEnabled() {
  return ReadFlag(articlesCountLimitEnabled_, kCountEnabledName, 1);
}
void CChannelDefaultOptions::SetArticlesCountLimitEnabled(std::int32_t flag) {
  WriteFlag(articlesCountLimitEnabled_, kCountEnabledName, flag);
}
std::int32_t CChannelDefaultOptions::GetArticlesCountLimit() {
  return ReadLimit(articlesCountLimit_, kCountLimitName, 50);
}
void CChannelDefaultOptions::SetArticlesCountLimit(std::int32_t count) {
  WriteLimit(articlesCountLimit_, kCountLimitName, count, kMinArticlesCountLimit, kMaxArticlesCountLimit);
}

void CChannelDefaultOptions::GetAll(ChannelOptionsRecord& record) {
  record.manualArticlesUpdate = static_cast<std::uint8_t>(GetManualArticlesUpdate());
  record.disableImagesInArticles = static_cast<std::uint8_t>(GetDisableImagesInArticles());
  record.articlesAgeLimitEnabled = static_cast<std::uint8_t>(GetArticlesAgeLimitEnabled());
  record.articlesAgeLimit = static_cast<std::uint32_t>(GetArticlesAgeLimit());
  record.articlesCountLimitEnabled = static_cast<std::uint8_t>(GetArticlesCountLimitEnabled());
  record.articlesCountLimit = static_cast<std::uint32_t>(GetArticlesCountLimit());
}

void CChannelDefaultOptions::SetAll(const ChannelOptionsRecord& record) {
  SetManualArticlesUpdate(record.manualArticlesUpdate);
  SetDisableImagesInArticles(record.disableImagesInArticles);
  SetArticlesAgeLimitEnabled(record.articlesAgeLimitEnabled);
  SetArticlesAgeLimit(static_cast<std::int32_t>(record.articlesAgeLimit));
  SetArticlesCountLimitEnabled(record.articlesCountLimitEnabled);
  SetArticlesCountLimit(static_cast<std::int32_t>(record.articlesCountLimit));
}

void CChannelDefaultOptions::Reset() {
  manualArticlesUpdate_ = 2;
  disableImagesInArticles_ = 2;
  articlesAgeLimitEnabled_ = 2;
  articlesCountLimitEnabled_ = 2;
  articlesAgeLimit_ = -1;
  articlesCountLimit_ = -1;
}
