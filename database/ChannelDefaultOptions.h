// The defaults every channel follows while its own options say so, kept in
// the product key: "DefaultManualArticlesUpdate", "DisableImagesInArticles",
// "ArticlesAgeLimitEnabled", "DefaultArticlesAgeLimit",
// "ArticlesCountLimitEnabled" and "DefaultArticlesCountLimit". Each value is
// read once and cached; a setter caches and writes at once.
#pragma once
#include <cstdint>

#include "database/ChannelOptions.h"

class CChannelDefaultOptions : public IChannelOptions {
 public:
  CChannelDefaultOptions() = default;

  // The defaults follow no defaults: 0, and the setters do nothing.
  std::int32_t GetUseDefaultDownloadOptions() override { return 0; }
  void SetUseDefaultDownloadOptions(std::int32_t) override {}
  std::int32_t GetUseDefaultLimits() override { return 0; }
  void SetUseDefaultLimits(std::int32_t) override {}

  std::int32_t GetManualArticlesUpdate() override;       // default 0
  void SetManualArticlesUpdate(std::int32_t flag) override;
  std::int32_t GetDisableImagesInArticles() override;    // default 0
  void SetDisableImagesInArticles(std::int32_t flag) override;
  std::int32_t GetArticlesAgeLimitEnabled() override;    // default 0
  void SetArticlesAgeLimitEnabled(std::int32_t flag) override;
  std::int32_t GetArticlesAgeLimit() override;           // default 7 days
  void SetArticlesAgeLimit(std::int32_t days) override;  // clamped to 1..999
  std::int32_t GetArticlesCountLimitEnabled() override;  // default 1
  void SetArticlesCountLimitEnabled(std::int32_t flag) override;
  std::int32_t GetArticlesCountLimit() override;         // default 50
  void SetArticlesCountLimit(std::int32_t count) override;  // clamped to 1..2500
  void GetAll(ChannelOptionsRecord& record) override;
  void SetAll(const ChannelOptionsRecord& record) override;
  void OnChanged() override {}

  // Forgets every cached value (the next read goes to the registry).
  void Reset();

 private:
  std::int32_t manualArticlesUpdate_ = 2;  // 2: not read yet
  std::int32_t disableImagesInArticles_ = 2;
  std::int32_t articlesAgeLimitEnabled_ = 2;
  std::int32_t articlesCountLimitEnabled_ = 2;
  std::int32_t articlesAgeLimit_ = -1;  // -1: not read yet
  std::int32_t articlesCountLimit_ = -1;
};
