#include "database/ChannelOptions.h"

#include <algorithm>

#include "core/RecordEncoding.h"
#include "database/GlobalOptions.h"

namespace {
std::uint8_t Flag(std::int32_t value) { return value != 0 ? 1 : 0; }
}  // namespace

CChannelOptions::CChannelOptions() {
  CChannelDefaultOptions& defaults = GetChannelDefaultOptions();
  manualArticlesUpdate_ = Flag(defaults.GetManualArticlesUpdate());
  disableImagesInArticles_ = Flag(defaults.GetDisableImagesInArticles());
  articlesAgeLimitEnabled_ = Flag(defaults.GetArticlesAgeLimitEnabled());
  articlesAgeLimit_ = static_cast<std::uint32_t>(defaults.GetArticlesAgeLimit());
  articlesCountLimitEnabled_ = Flag(defaults.GetArticlesCountLimitEnabled());
  articlesCountLimit_ = static_cast<std::uint32_t>(defaults.GetArticlesCountLimit());
}

void CChannelOptions::SetUseDefaultDownloadOptions(std::int32_t flag) {
  useDefaultDownloadOptions_ = static_cast<std::uint8_t>(flag);
}

void CChannelOptions::SetUseDefaultLimits(std::int32_t flag) { useDefaultLimits_ = static_cast<std::uint8_t>(flag); }

std::int32_t CChannelOptions::GetManualArticlesUpdate() {
  if (useDefaultDownloadOptions_ == 0) return manualArticlesUpdate_;
  return GetChannelDefaultOptions().GetManualArticlesUpdate();
}

void CChannelOptions::SetManualArticlesUpdate(std::int32_t flag) {
  manualArticlesUpdate_ = static_cast<std::uint8_t>(flag);
}

std::int32_t CChannelOptions::GetDisableImagesInArticles() {
  if (useDefaultDownloadOptions_ == 0) return disableImagesInArticles_;
  return GetChannelDefaultOptions().GetDisableImagesInArticles();
}

void CChannelOptions::SetDisableImagesInArticles(std::int32_t flag) {
  disableImagesInArticles_ = static_cast<std::uint8_t>(flag);
}

std::int32_t CChannelOptions::GetArticlesAgeLimitEnabled() {
  if (useDefaultLimits_ == 0) return articlesAgeLimitEnabled_;
  return GetChannelDefaultOptions().GetArticlesAgeLimitEnabled();
}

void CChannelOptions::SetArticlesAgeLimitEnabled(std::int32_t flag) {
  articlesAgeLimitEnabled_ = static_cast<std::uint8_t>(flag);
}

std::int32_t CChannelOptions::GetArticlesAgeLimit() {
  if (useDefaultLimits_ == 0) return static_cast<std::int32_t>(articlesAgeLimit_);
  return GetChannelDefaultOptions().GetArticlesAgeLimit();
}

void CChannelOptions::SetArticlesAgeLimit(std::int32_t days) {
  articlesAgeLimit_ = static_cast<std::uint32_t>(std::clamp(days, kMinArticlesAgeLimit, kMaxArticlesAgeLimit));
}

std::int32_t CChannelOptions::GetArticlesCountLimitEnabled() {
  if (useDefaultLimits_ == 0) return articlesCountLimitEnabled_;
  return GetChannelDefaultOptions().GetArticlesCountLimitEnabled();
}

void CChannelOptions::SetArticlesCountLimitEnabled(std::int32_t flag) {
  articlesCountLimitEnabled_ = static_cast<std::uint8_t>(flag);
}

std::int32_t CChannelOptions::GetArticlesCountLimit() {
  if (useDefaultLimits_ == 0) return static_cast<std::int32_t>(articlesCountLimit_);
  return GetChannelDefaultOptions().GetArticlesCountLimit();
}

void CChannelOptions::SetArticlesCountLimit(std::int32_t count) {
  articlesCountLimit_ =
      static_cast<std::uint32_t>(std::clamp(count, kMinArticlesCountLimit, kMaxArticlesCountLimit));
}

void CChannelOptions::GetAll(ChannelOptionsRecord& record) {
  record.manualArticlesUpdate = manualArticlesUpdate_;
  record.disableImagesInArticles = disableImagesInArticles_;
  record.articlesAgeLimitEnabled = articlesAgeLimitEnabled_;
  record.articlesAgeLimit = articlesAgeLimit_;
  record.articlesCountLimitEnabled = articlesCountLimitEnabled_;
  record.articlesCountLimit = articlesCountLimit_;
}

void CChannelOptions::SetAll(const ChannelOptionsRecord& record) {
  manualArticlesUpdate_ = record.manualArticlesUpdate;
  disableImagesInArticles_ = record.disableImagesInArticles;
  articlesAgeLimitEnabled_ = record.articlesAgeLimitEnabled;
  articlesAgeLimit_ = record.articlesAgeLimit;
  articlesCountLimitEnabled_ = record.articlesCountLimitEnabled;
  articlesCountLimit_ = record.articlesCountLimit;
  OnChanged();
}

void CChannelOptions::OnChanged() {
  if (owner_ != nullptr) owner_->OnChannelOptionsChanged();
}

bool CChannelOptions::Write(CBaseWriter& stream) const {
  return WriteByte(stream, useDefaultDownloadOptions_) && WriteByte(stream, manualArticlesUpdate_) &&
         WriteByte(stream, disableImagesInArticles_) && WriteByte(stream, useDefaultLimits_) &&
         WriteByte(stream, articlesAgeLimitEnabled_) && WriteInt32(stream, articlesAgeLimit_) &&
         WriteByte(stream, articlesCountLimitEnabled_) && WriteInt32(stream, articlesCountLimit_);
}

bool CChannelOptions::Read(CBaseReader& stream) {
  // Every field is attempted, so what was read before a short end is kept.
  bool ok = ReadByte(stream, useDefaultDownloadOptions_);
  ok = ReadByte(stream, manualArticlesUpdate_) && ok;
  ok = ReadByte(stream, disableImagesInArticles_) && ok;
  ok = ReadByte(stream, useDefaultLimits_) && ok;
  ok = ReadByte(stream, articlesAgeLimitEnabled_) && ok;
  ok = ReadInt32(stream, articlesAgeLimit_) && ok;
  ok = ReadByte(stream, articlesCountLimitEnabled_) && ok;
  ok = ReadInt32(stream, articlesCountLimit_) && ok;
  return ok;
}
