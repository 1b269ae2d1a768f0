// A channel: one subscribed feed with its properties, options, articles,
// binaries, read states and per-article data. CChannel owns the channel file
// "<escaped name>.cnl" in the content folder and the data folder of the same
// name; every access to those files holds the named mutex "CL." + name, which
// the Today item shares. Articles are loaded only while the channel has users
// (Acquire / Release).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "core/StringMaps.h"
#include "database/ArticleSet.h"
#include "database/BinarySet.h"
#include "database/ChannelMutexTimeout.h"
#include "database/ChannelOptions.h"
#include "database/DataBank.h"
#include "database/DataModel.h"
#include "database/ReadStates.h"
#include "platform/base/Handle.h"
#include "platform/base/Time.h"

// "OBC1" read as a little-endian uint32, and the legacy first word.
constexpr std::uint32_t kChannelFileMagic = 0x3143424F;
constexpr std::uint32_t kChannelFileLegacyMagic = 16;
constexpr char16_t kChannelFileExtension[] = u"cnl";
constexpr char16_t kChannelMutexPrefix[] = u"CL.";

// Reserved property keys.
constexpr char16_t kPropUrl[] = u"@url";
constexpr char16_t kPropType[] = u"@type";
constexpr char16_t kPropThumbnail[] = u"thumbnail";
constexpr char16_t kPropThumbnailFile[] = u"thumbnail_file";
// What the last successful update stored came from: the digest of the feed
// body and the server's validators of it (sent back to ask for changes only).
// They are kept only with a successful save (IChannel::KeepWithSuccessfulSave).
constexpr char16_t kPropFeedDigest[] = u"@digest";
constexpr char16_t kPropFeedETag[] = u"@etag";
constexpr char16_t kPropFeedLastModified[] = u"@lastmodified";
// The address the validators came from: another address (the user changed
// the feed's) is asked without them.
constexpr char16_t kPropFeedValidatorsUrl[] = u"@validatorsurl";
constexpr char16_t kChannelTypeRss[] = u"@RSS";
constexpr char16_t kChannelTypeScript[] = u"@Ridudo";
constexpr char16_t kTemplateValuePrefix[] = u"channel#";

class IChannel : public virtual IUpdateItem {
 public:
  virtual bool Load() = 0;
  virtual const std::u16string& GetName() = 0;
  virtual bool Rename(const std::u16string& newName) = 0;
  // Property "thumbnail", empty when absent.
  virtual std::u16string GetThumbnail() = 0;
  // Property "thumbnail_file" joined to the bin folder; empty when absent.
  virtual std::u16string GetThumbnailFile() = 0;
  virtual std::int32_t GetUnreadCount() = 0;
  virtual void SetArticleRead(IArticle* article, bool read) = 0;
  virtual bool IsArticleRead(IArticle* article) = 0;
  virtual void MarkAllRead() = 0;
  // Users are counted by pointer; the first loads the headers.
  virtual void Acquire(const void* user) = 0;
  virtual void MarkHeadersDirty() = 0;
  // The last user's release saves and unloads; save asks a save when users remain.
  virtual void Release(const void* user, bool save) = 0;
  virtual const CStringToStringMap& GetProperties() = 0;
  virtual void SetProperties(const CStringToStringMap& properties) = 0;
  virtual void SetProperty(const std::u16string& key, const std::u16string& value) = 0;
  // Properties that describe what the running update stores (the feed's
  // digest and validators): they become properties only when the update's
  // end (state 6) saves everything; a failed save, or an update that fails,
  // drops them, so the next update reads the feed whole again.
  virtual void KeepWithSuccessfulSave(const CStringToStringMap& properties) = 0;
  // Null when the date is past the age limit. A zero date is no date.
  virtual IArticle* CreateArticle(const std::u16string& id, std::uint32_t state,
                                  const plat::FILETIME& date) = 0;
  virtual bool GetArticleProperties(IArticle* article, CStringToStringMap& properties) = 0;
  virtual bool SetArticleProperties(IArticle* article, const CStringToStringMap& properties) = 0;
  // The article's data record was missing when the headers were loaded (and
  // has not been stored since): an update stores the article again.
  virtual bool IsArticleDataMissing(IArticle* article) = 0;
  // The end of the last update could not store everything: the channel
  // turned the update into a failure.
  virtual bool LastSaveFailed() const = 0;
  // Articles or their data were lost (a headers file missing or damaged, a
  // data record gone): the stored feed digest and validators do not stand
  // for what is stored, so an update reads the feed whole.
  virtual bool HasMissingArticleData() const = 0;
  virtual const std::u16string& GetFilePath() = 0;
  virtual IArticleSet* GetArticleSet() = 0;
  virtual const std::u16string& GetDataFolder() = 0;
  virtual IBinarySet* GetBinarySet() = 0;
  virtual std::u16string GetBinFolder() = 0;
  virtual IChannelOptions* GetOptions() = 0;
  // Every deleted article whose id is not in ids is forgotten (no longer saved).
  virtual void ForgetDeletedArticles(const CStringSet& ids) = 0;
  virtual bool IsOldFormat() = 0;
  virtual void ClearOldFormat() = 0;
  virtual void ClearData() = 0;
};

// What the channel tells the thumbnails service. The thumbnails manager
// installs these when it is created and clears them when it is destroyed;
// while none is installed there is nothing to tell.
struct ChannelThumbnailsHooks {
  // Drops a folder's pools from memory (they save themselves).
  void (*unloadPools)(const std::u16string& folder) = nullptr;
  // Drops the thumbnails made of an image file.
  void (*removeImage)(const std::u16string& imagePath) = nullptr;
};
void SetChannelThumbnailsHooks(const ChannelThumbnailsHooks& hooks);
// Drops every folder's pools from memory, each saving itself (nothing while
// no thumbnails service is installed).
void UnloadAllThumbnailPools();

class CChannelSet;

class CChannel : public IChannel, public CUpdateItem, public IHeadersOwner, public IChannelOptionsOwner {
 public:
  // set: the channel set whose read-only mode and names the channel follows
  // (null: never read-only, no other channels).
  explicit CChannel(CChannelSet* set = nullptr);
  ~CChannel() override;
  CChannel(const CChannel&) = delete;
  CChannel& operator=(const CChannel&) = delete;

  // Checks a channel name before it becomes a file, folder and mutex name:
  // false (with a reason) for an empty name, one holding NUL, one that
  // escapes to "." or "..", or one whose escaped form is too long for a host
  // file name.
  static bool IsValidName(const std::u16string& name, std::u16string* reason = nullptr);
  // The same for a channel in contentFolder (IsValidName checks the present
  // content folder): the paths of a channel's files depend on its folder.
  static bool IsValidNameIn(const std::u16string& name, const std::u16string& contentFolder,
                            std::u16string* reason = nullptr);
  // The file-name form of a channel name, and back.
  static std::u16string EscapeName(const std::u16string& name);
  static std::u16string UnescapeName(const std::u16string& escaped);

  // Exactly one of the two is non-empty.
  bool SetPaths(const std::u16string& filePath, const std::u16string& name);
  // SetPaths (path, ""), drop loaded data, Load; on success both dirty flags
  // clear. mayHaveSideFiles false: the caller listed the folder and found no
  // side file of a stopped save beside this file, so none is looked for.
  bool OpenFromFile(const std::u16string& path, bool mayHaveSideFiles = true);
  bool SaveChannelFile();
  // Writes the article records, the read states, then the headers and the
  // channel file, each when changed. False when any of them could not be
  // written (logged with the file's name), or when articles were added to
  // headers that could not be read in; what was not written stays dirty.
  bool SaveHeaders();
  // The last update's end could not store everything (the update was then
  // turned into a failure).
  bool LastSaveFailed() const override { return saveFailed_; }
  bool HasMissingArticleData() const override { return headersLost_ || !missingRecords_.empty(); }
  void KeepWithSuccessfulSave(const CStringToStringMap& properties) override { withSave_ = properties; }
  // Deletes the data folder tree and the channel file (not in read-only mode).
  void DeleteFiles();
  bool HadUnreadableFile() const { return unreadableFile_; }
  // The channel file was there but could not be read (another magic, cut
  // short, a bad record); not set when it was only busy.
  bool IsFileUnreadable() const { return fileUnreadable_; }
  bool IsChannelFileDirty() const { return channelFileDirty_; }
  // Changes not yet stored, because a save failed (a release then keeps the
  // channel loaded for the next one).
  bool HasUnsavedData() const;
  std::uint32_t GetOrderCounter() const { return orderCounter_; }
  std::size_t GetUserCount() const { return users_.size(); }
  bool IsReadOnly() const;
  std::u16string GetMutexName() const;

  // IChannel
  bool Load() override;
  const std::u16string& GetName() override { return name_; }
  bool Rename(const std::u16string& newName) override;
  std::u16string GetThumbnail() override;
  std::u16string GetThumbnailFile() override;
  std::int32_t GetUnreadCount() override;
  void SetArticleRead(IArticle* article, bool read) override;
  bool IsArticleRead(IArticle* article) override;
  void MarkAllRead() override;
  void Acquire(const void* user) override;
  void MarkHeadersDirty() override { headersDirty_ = true; }
  void Release(const void* user, bool save) override;
  const CStringToStringMap& GetProperties() override { return properties_; }
  void SetProperties(const CStringToStringMap& properties) override;
  void SetProperty(const std::u16string& key, const std::u16string& value) override;
  IArticle* CreateArticle(const std::u16string& id, std::uint32_t state, const plat::FILETIME& date) override;
  bool GetArticleProperties(IArticle* article, CStringToStringMap& properties) override;
  bool IsArticleDataMissing(IArticle* article) override;
  bool SetArticleProperties(IArticle* article, const CStringToStringMap& properties) override;
  const std::u16string& GetFilePath() override { return filePath_; }
  IArticleSet* GetArticleSet() override { return &articles_; }
  const std::u16string& GetDataFolder() override { return dataFolder_; }
  IBinarySet* GetBinarySet() override { return &binaries_; }
  std::u16string GetBinFolder() override { return binFolder_; }
  IChannelOptions* GetOptions() override { return &options_; }
  void ForgetDeletedArticles(const CStringSet& ids) override;
  bool IsOldFormat() override { return oldFormat_; }
  void ClearOldFormat() override { oldFormat_ = false; }
  void ClearData() override;

  // IUpdateItem
  void FireUpdateStatusChanged(std::uint32_t oldStatus) override;
  void OnDBEvent(CDBEvent* record) override;

  // IHeadersOwner
  IChannel* GetChannelInterface() override { return this; }
  IChannelOptions* GetChannelOptions() override { return &options_; }
  CBinarySet* GetBinarySetObject() override { return &binaries_; }
  void SetOrderCounter(std::uint32_t counter) override { orderCounter_ = counter; }
  void RemoveThumbnails(const std::u16string& imagePath) override;
  bool IsReadOnlyMode() override { return IsReadOnly(); }

  // IChannelOptionsOwner
  void OnChannelOptionsChanged() override;

  CArticleSet& GetArticleSetObject() { return articles_; }
  // The headers were read in (or found missing) by the first user, so saving
  // them writes what is stored, not an empty set.
  bool AreHeadersLoaded() const { return headersLoaded_; }

 private:
  struct Paths {
    std::u16string name;
    std::u16string filePath;
    std::u16string dataFolder;
  };
  // Where the files of a channel file path or of a name lie; false for a bad
  // path or name. Touches nothing.
  static bool ComputePaths(const std::u16string& filePath, const std::u16string& name, Paths& paths);
  void ApplyPaths(const Paths& paths);
  void CreateFolders();
  // Load, removing first the side files of stopped saves when asked.
  bool LoadFile(bool removeSideFiles);
  bool BuildChannelFile(CBufferWriter& out);
  void LoadHeaders();
  // SaveHeaders; notifyToday false leaves the Today item untold.
  bool SaveFiles(bool notifyToday);
  void FindMissingRecords();
  // Moves the data folder to the new name and writes the new channel file,
  // then removes the old one; both mutexes are held.
  bool MoveFiles(const Paths& paths);
  void FireChannel(std::uint32_t type);
  // keepUnsaved: read states and article records not yet saved stay.
  void DropLoadedData(bool keepUnsaved = false);

  void ChangeReadState(IArticle* article, bool read, bool saveNow);
  CReadStates* ReadStates();
  CArticlesPropertiesFile* PropertiesFile();

  CChannelSet* set_;
  std::u16string name_;
  std::u16string filePath_;
  std::u16string readStatesPath_;
  std::u16string dataBankFolder_;
  std::u16string headersPath_;
  std::u16string dataFolder_;
  std::u16string binFolder_;
  CStringToStringMap properties_;
  std::uint32_t orderCounter_ = 0;
  bool channelFileDirty_ = false;
  bool saveFailed_ = false;
  // Waiting for the running update's last save (KeepWithSuccessfulSave).
  CStringToStringMap withSave_;
  // Live articles whose data-bank record was missing at load (a bank lost or
  // cut short): the next update stores them again.
  std::unordered_set<std::u16string> missingRecords_;
  // The headers file was missing or damaged at load: what the feed's digest
  // and validators describe is not all stored, so the next update reads the
  // feed whole and its end writes the headers again.
  bool headersLost_ = false;
  bool unreadableFile_ = false;
  bool fileUnreadable_ = false;
  std::unordered_set<const void*> users_;
  bool headersDirty_ = false;
  CArticleSet articles_;
  CBinarySet binaries_;
  CChannelOptions options_;
  std::unique_ptr<CReadStates> readStates_;
  std::unique_ptr<CArticlesPropertiesFile> propertiesFile_;
  plat::HANDLE mutex_ = nullptr;
  bool oldFormat_ = false;
  bool headersLoaded_ = false;
  // The last release could not save: the articles stayed loaded, dirty.
  bool keptUnsaved_ = false;
  bool filesDeleted_ = false;
  // The first user's acquire could not read the headers (mutex busy): the
  // channel is used with nothing loaded, takes no articles and stores nothing.
  bool headersBusy_ = false;
  bool loading_ = false;
  std::uint32_t lastOwnState_ = US_NEVER_UPDATED;
};
