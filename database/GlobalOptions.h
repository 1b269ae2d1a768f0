// The program's settings: values of the product key
// (HKEY_CURRENT_USER, "SOFTWARE\Orv Software House\Orv News"). CGlobalOptions is the one object of
// the process that reads and writes them; it embeds the channel defaults.
// Some values are read each time they are asked for; the others are read once
// and cached, and their setters update the cache and write at once. A missing
// DWORD reads as its default, which is then written into the key.
#pragma once
#include <cstdint>
#include <string>

#include "database/ChannelDefaultOptions.h"
#include "platform/base/Time.h"

// Value names, in the order of the program's option-name table, then the one
// named outside it.
inline constexpr const char16_t* kOptionNames[] = {
    u"HTMLTextSize",
    u"ContentFolder",
    u"ContentOnFlash",
    u"ShowArticleLocation",
    u"DisableImagesInArticles",
    u"AutoUpdate",
    u"AutoUpdateTime",
    u"LastUpdateTime",
    u"DefaultArticlesAgeLimit",
    u"DefaultArticlesCountLimit",
    u"DefaultManualArticlesUpdate",
    u"IntegralPaging",
    u"DisableLeftRightButtons",
    u"TapIconsToUpdate",
    u"StartUpdateForAddedChannels",
    u"ProxyEnabled",
    u"ProxyServer",
    u"ProxyLogin",
    u"ProxyPassword",
    u"UseFreeConnectionsOnly",
    u"ArticlesAgeLimitEnabled",
    u"ArticlesCountLimitEnabled",
    u"RSSReportingAllowed",
    u"DeveloperMode",
    u"RememberViewingLocation",
};
inline constexpr const char16_t* kAutoUpdateWhenCradledName = u"AutoUpdateWhenCradled";

// "AutoUpdate" value meaning daily at "AutoUpdateTime" (others: a period in hours).
constexpr std::uint32_t kAutoUpdateDaily = 24;
// "HTMLTextSize" is written as at most this.
constexpr std::uint32_t kMaxHTMLTextSize = 4;
// Bit of HKEY_LOCAL_MACHINE\System\State\Phone "Status" set while roaming.
constexpr std::uint32_t kPhoneStatusRoaming = 0x200;

class CGlobalOptions {
 public:
  CGlobalOptions() = default;
  virtual ~CGlobalOptions() = default;
  CGlobalOptions(const CGlobalOptions&) = delete;
  CGlobalOptions& operator=(const CGlobalOptions&) = delete;

  // "AutoUpdate", read each time (default 0).
  virtual std::uint32_t GetAutoUpdate();
  virtual void SetAutoUpdate(std::uint32_t value);
  // "AutoUpdateTime", 8 bytes; missing, unreadable or of another length: now.
  virtual plat::FILETIME GetAutoUpdateTime();
  // Write 8 bytes as REG_BINARY; a null time writes nothing and fails.
  virtual bool SetAutoUpdateTime(const plat::FILETIME* time);
  virtual bool SetLastUpdateTime(const plat::FILETIME* time);
  // "LastUpdateTime"; false when missing or not 8 bytes long.
  bool GetLastUpdateTime(plat::FILETIME* time);

  // Read each time.
  std::uint32_t GetHTMLTextSize();               // default 2
  void SetHTMLTextSize(std::uint32_t size);      // written as min(size, 4)
  std::int32_t GetShowArticleLocation();         // default 1
  void SetShowArticleLocation(std::int32_t flag);
  std::int32_t GetAutoUpdateWhenCradled();       // default 0; the setter also caches
  void SetAutoUpdateWhenCradled(std::int32_t flag);

  // Cached; written as 0 or 1.
  std::int32_t GetContentOnFlash();              // default 1
  std::int32_t GetIntegralPaging();              // default 1
  void SetIntegralPaging(std::int32_t flag);
  std::int32_t GetDisableLeftRightButtons();     // default 0
  void SetDisableLeftRightButtons(std::int32_t flag);
  std::int32_t GetTapIconsToUpdate();            // default 1
  void SetTapIconsToUpdate(std::int32_t flag);
  std::int32_t GetStartUpdateForAddedChannels(); // default 1
  void SetStartUpdateForAddedChannels(std::int32_t flag);
  std::int32_t GetUseFreeConnectionsOnly();      // default 0
  void SetUseFreeConnectionsOnly(std::int32_t flag);
  std::int32_t GetRSSReportingAllowed();         // default 1
  void SetRSSReportingAllowed(std::int32_t flag);
  std::int32_t GetDeveloperMode();               // default 0
  void SetDeveloperMode(std::int32_t flag);
  std::int32_t GetRememberViewingLocation();     // default 1
  void SetRememberViewingLocation(std::int32_t flag);

  // Bounds of an update, DWORD values read each time. A script's time budget
  // in ms ("ScriptTimeBudget"); the overall deadline of a feed, template or
  // page download in ms, 0 for none ("DownloadDeadline"); the rate under which
  // a binary download fails, in bytes per second, 0 for none
  // ("BinaryMinimumRate"), once it has stayed under it for
  // "BinaryMinimumRateTime" ms; the binaries one article and one channel
  // update may make ("MaxBinariesPerArticle", "MaxBinariesPerUpdate"; the rest
  // are skipped with a log line).
  static constexpr std::uint32_t kDefaultScriptTimeBudgetMs = 15000;
  static constexpr std::uint32_t kDefaultDownloadDeadlineMs = 60000;
  static constexpr std::uint32_t kDefaultBinaryMinimumRate = 256;
  static constexpr std::uint32_t kDefaultBinaryMinimumRateTimeMs = 30000;
  static constexpr std::uint32_t kDefaultMaxBinariesPerArticle = 32;
  static constexpr std::uint32_t kDefaultMaxBinariesPerUpdate = 1000;
  std::uint32_t GetScriptTimeBudget();
  std::uint32_t GetDownloadDeadline();
  std::uint32_t GetBinaryMinimumRate();
  std::uint32_t GetBinaryMinimumRateTime();
  std::uint32_t GetMaxBinariesPerArticle();
  std::uint32_t GetMaxBinariesPerUpdate();
  // Feed downloads an update makes ahead of its jobs at once
  // ("ParallelDownloads", default 16, at most 64; 0: none ahead).
  static constexpr std::uint32_t kDefaultParallelDownloads = 16;
  static constexpr std::uint32_t kMaxParallelDownloads = 64;
  std::uint32_t GetParallelDownloads();

  // HKEY_LOCAL_MACHINE\System\State\Phone "Status" has bit 0x200.
  bool IsRoaming();
  // The running program's folder, and its "Templates" folder.
  std::u16string GetProgramFolder();
  std::u16string GetTemplatesFolder();
  // The content folder ("ContentFolder", else the default), cached.
  std::u16string GetContentFolder();
  // card: the storage card folder the content goes to, or empty. Fails when
  // the card is not there or the folder cannot be made; otherwise caches and
  // writes "ContentFolder" and "ContentOnFlash".
  bool SetContentFolder(const std::u16string& folder, const std::u16string& card);

  // Forgets the cached content folder and every cached flag.
  void Reset();

  CChannelDefaultOptions& GetChannelDefaultOptions() { return defaults_; }

 private:
  std::int32_t GetCachedFlag(std::int32_t& cache, const char16_t* name, std::uint32_t def);
  void SetCachedFlag(std::int32_t& cache, const char16_t* name, std::int32_t flag);
  bool SetTime(const char16_t* name, const plat::FILETIME* time);

  std::u16string contentFolder_;
  // 2: not read yet.
  std::int32_t contentOnFlash_ = 2;
  std::int32_t integralPaging_ = 2;
  std::int32_t disableLeftRightButtons_ = 2;
  std::int32_t tapIconsToUpdate_ = 2;
  std::int32_t startUpdateForAddedChannels_ = 2;
  std::int32_t useFreeConnectionsOnly_ = 2;
  std::int32_t autoUpdateWhenCradled_ = 2;
  std::int32_t rssReportingAllowed_ = 2;
  std::int32_t developerMode_ = 2;
  std::int32_t rememberViewingLocation_ = 2;
  CChannelDefaultOptions defaults_;
};

// The process's options. When the device changes (a test's fresh device)
// every cache starts over.
CGlobalOptions& GetGlobalOptions();
CChannelDefaultOptions& GetChannelDefaultOptions();

// The options of a channel by name: an empty name gives the defaults; another
// name the named channel's own options through the lookup the channel set
// installs, or null when there is no such channel (or no lookup yet).
using ChannelOptionsLookup = IChannelOptions* (*)(const std::u16string& channelName);
void SetChannelOptionsLookup(ChannelOptionsLookup lookup);
IChannelOptions* GetChannelOptionsByName(const std::u16string& channelName);
