// Options of a channel: updating articles only on request, leaving images out
// of articles, and the age and count limits. Two switches make a channel
// follow the defaults instead (one for the two download options, one for the
// four limits). The options record is stored inside the channel file.
#pragma once
#include <cstdint>

#include "core/Streams.h"

// Limits accepted by the setters.
constexpr std::int32_t kMinArticlesAgeLimit = 1;
constexpr std::int32_t kMaxArticlesAgeLimit = 999;
constexpr std::int32_t kMinArticlesCountLimit = 1;
constexpr std::int32_t kMaxArticlesCountLimit = 2500;

// Bytes of the options record in the channel file.
constexpr std::size_t kChannelOptionsRecordSize = 14;

// The six options of a channel, passed to GetAll and SetAll.
struct ChannelOptionsRecord {
  std::uint8_t manualArticlesUpdate = 0;
  std::uint8_t disableImagesInArticles = 0;
  std::uint8_t articlesAgeLimitEnabled = 0;
  std::uint32_t articlesAgeLimit = 0;
  std::uint8_t articlesCountLimitEnabled = 0;
  std::uint32_t articlesCountLimit = 0;
};

class IChannelOptions {
 public:
  virtual ~IChannelOptions() = default;
  virtual std::int32_t GetUseDefaultDownloadOptions() = 0;
  virtual void SetUseDefaultDownloadOptions(std::int32_t flag) = 0;
  virtual std::int32_t GetUseDefaultLimits() = 0;
  virtual void SetUseDefaultLimits(std::int32_t flag) = 0;
  virtual std::int32_t GetManualArticlesUpdate() = 0;
  virtual void SetManualArticlesUpdate(std::int32_t flag) = 0;
  virtual std::int32_t GetDisableImagesInArticles() = 0;
  virtual void SetDisableImagesInArticles(std::int32_t flag) = 0;
  virtual std::int32_t GetArticlesAgeLimitEnabled() = 0;
  virtual void SetArticlesAgeLimitEnabled(std::int32_t flag) = 0;
  virtual std::int32_t GetArticlesAgeLimit() = 0;  // days
  virtual void SetArticlesAgeLimit(std::int32_t days) = 0;
  virtual std::int32_t GetArticlesCountLimitEnabled() = 0;
  virtual void SetArticlesCountLimitEnabled(std::int32_t flag) = 0;
  virtual std::int32_t GetArticlesCountLimit() = 0;  // articles
  virtual void SetArticlesCountLimit(std::int32_t count) = 0;
  virtual void GetAll(ChannelOptionsRecord& record) = 0;
  virtual void SetAll(const ChannelOptionsRecord& record) = 0;
  virtual void OnChanged() = 0;
};

// What a channel offers its options object: told when the options changed as
// a whole, it marks them changed and saves its channel file.
class IChannelOptionsOwner {
 public:
  virtual void OnChannelOptionsChanged() = 0;

 protected:
  ~IChannelOptionsOwner() = default;
};

class CChannelOptions : public IChannelOptions {
 public:
  // Owner null, both use-default switches on, the six values copied from the
  // defaults as they read now.
  CChannelOptions();

  void SetOwner(IChannelOptionsOwner* owner) { owner_ = owner; }
  IChannelOptionsOwner* GetOwner() const { return owner_; }

  std::int32_t GetUseDefaultDownloadOptions() override { return useDefaultDownloadOptions_; }
  void SetUseDefaultDownloadOptions(std::int32_t flag) override;
  std::int32_t GetUseDefaultLimits() override { return useDefaultLimits_; }
  void SetUseDefaultLimits(std::int32_t flag) override;
  // The getters answer the defaults' value while the matching switch is on.
  std::int32_t GetManualArticlesUpdate() override;
  void SetManualArticlesUpdate(std::int32_t flag) override;
  std::int32_t GetDisableImagesInArticles() override;
  void SetDisableImagesInArticles(std::int32_t flag) override;
  std::int32_t GetArticlesAgeLimitEnabled() override;
  void SetArticlesAgeLimitEnabled(std::int32_t flag) override;
  std::int32_t GetArticlesAgeLimit() override;
  // Clamped to 1..999.
  void SetArticlesAgeLimit(std::int32_t days) override;
  std::int32_t GetArticlesCountLimitEnabled() override;
  void SetArticlesCountLimitEnabled(std::int32_t flag) override;
  std::int32_t GetArticlesCountLimit() override;
  // Clamped to 1..2500.
  void SetArticlesCountLimit(std::int32_t count) override;
  // The channel's own six values, whatever the switches say.
  void GetAll(ChannelOptionsRecord& record) override;
  // Takes the six values as they are (no clamping), then OnChanged.
  void SetAll(const ChannelOptionsRecord& record) override;
  // Tells the owner (which saves its channel file); nothing without an owner.
  void OnChanged() override;

  // The 14-byte record of the channel file. Reading attempts all eight fields
  // and stores each one read (no clamping); true only when all eight were read.
  bool Write(CBaseWriter& stream) const;
  bool Read(CBaseReader& stream);

 private:
  IChannelOptionsOwner* owner_ = nullptr;
  std::uint8_t manualArticlesUpdate_ = 0;
  std::uint8_t disableImagesInArticles_ = 0;
  std::uint8_t articlesAgeLimitEnabled_ = 0;
  std::uint32_t articlesAgeLimit_ = 0;
  std::uint8_t articlesCountLimitEnabled_ = 0;
  std::uint32_t articlesCountLimit_ = 0;
  std::uint8_t useDefaultDownloadOptions_ = 1;
  std::uint8_t useDefaultLimits_ = 1;
};
