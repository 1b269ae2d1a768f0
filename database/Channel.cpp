#include "database/Channel.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "core/RecordEncoding.h"
#include "core/StringUtils.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/HeadersFile.h"
#include "database/NotifyToday.h"
#include "platform/base/PercentEscape.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"

namespace {

ChannelThumbnailsHooks g_thumbnailsHooks;

// Longest host file name, in bytes of UTF-8.
constexpr std::size_t kMaxHostFileNameBytes = 255;
constexpr char16_t kChannelFileSuffix[] = u".cnl";
// Characters a channel's own paths add after its data folder: "\bin\" and a
// binary's file name (32 hex digits, a "(n)" and an extension).
constexpr std::size_t kChannelPathReserve = 49;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::uint32_t kOrderCounterStep = 1000;

void LogChannel(const char16_t* what, const std::u16string& subject) {
  CDebugLog::GetInstance().WriteLine(std::u16string(u"** CChannel: ") + what + u": " + subject);
}

// A file that could not be written: the debug log line names it and the
// system's error.
void LogChannelFailure(const char16_t* what, const std::u16string& file) {
  const plat::DWORD error = plat::GetLastError();
  CDebugLog::GetInstance().Printf(u"** CChannel: %s: %s (error %u)", what, file.c_str(),
                                  static_cast<unsigned>(error));
}

// Removes the side files that a save stopped by a kill left beside file:
// "<name>.XXXXXX.tmp" in its folder. Called with the channel mutex held, so
// no save of this channel is under way.
void RemoveSideFiles(const std::u16string& file) {
  std::u16string folder, base, extension;
  if (!SplitPath(file, &folder, &base, &extension)) return;
  const std::u16string name = extension.empty() ? base : base + u"." + extension;
  const std::u16string pattern = CombinePath(folder, name + u".*.tmp");
  plat::WIN32_FIND_DATAW data{};
  plat::HANDLE find = plat::FindFirstFileW(pattern.c_str(), &data);
  if (find == plat::INVALID_HANDLE_VALUE) return;
  std::vector<std::u16string> leftovers;
  do {
    const std::u16string found = data.cFileName;
    // Exactly the side-file shape: the name, six characters, ".tmp".
    if (found.size() == name.size() + 11 && (data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0) {
      leftovers.push_back(CombinePath(folder, found));
    }
  } while (plat::FindNextFileW(find, &data));
  plat::FindClose(find);
  for (const std::u16string& path : leftovers) {
    if (plat::DeleteFileW(path.c_str())) LogChannel(u"side file of a stopped save removed", path);
  }
}

}  // namespace

void SetChannelThumbnailsHooks(const ChannelThumbnailsHooks& hooks) { g_thumbnailsHooks = hooks; }

void UnloadAllThumbnailPools() {
  if (g_thumbnailsHooks.unloadPools != nullptr) g_thumbnailsHooks.unloadPools(u"");
}

// ---- Names ---------------------------------------------------------------------

std::u16string CChannel::EscapeName(const std::u16string& name) {
  // The address escaping, plus control characters, which no device path may hold.
  const std::u16string escaped = EscapeUrl(name);
  return plat::PercentEscape(std::u16string_view(escaped), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

std::u16string CChannel::UnescapeName(const std::u16string& escaped) { return UnescapeUrl(escaped); }

bool CChannel::IsValidName(const std::u16string& name, std::u16string* reason) {
  return IsValidNameIn(name, GetGlobalOptions().GetContentFolder(), reason);
}

bool CChannel::IsValidNameIn(const std::u16string& name, const std::u16string& contentFolder, std::u16string* reason) {
  auto refuse = [&](const char16_t* why) {
    if (reason != nullptr) *reason = why;
    LogChannel(why, name);
    return false;
  };
  if (name.find(u'\0') != std::u16string::npos) return refuse(u"a channel name may not hold NUL");
  if (TrimSpace(name).empty()) return refuse(u"a channel name may not be empty");
  const std::u16string escaped = EscapeName(name);
  if (escaped == u"." || escaped == u"..") return refuse(u"a channel name may not be . or ..");
  if (escaped.find(u'\\') != std::u16string::npos || escaped.find(u'/') != std::u16string::npos) {
    return refuse(u"a channel name may not name a folder");
  }
  const std::size_t bytes = plat::Utf16ToUtf8(escaped).size() + plat::Utf16ToUtf8(kChannelFileSuffix).size();
  if (bytes > kMaxHostFileNameBytes) return refuse(u"the channel name is too long for a file name");
  // Every file of the channel, the binaries in its bin folder included, must
  // stay within the device's path length.
  const std::size_t pathLength = contentFolder.size() + 1 + escaped.size() + kChannelPathReserve;
  if (pathLength >= plat::MAX_PATH) return refuse(u"the channel name is too long for the paths of its files");
  if (reason != nullptr) reason->clear();
  return true;
}

// ---- Construction ----------------------------------------------------------------

CChannel::CChannel(CChannelSet* set) : set_(set) {
  articles_.SetChannel(this);
  binaries_.SetChannel(this);
  options_.SetOwner(this);
  Subscribe(&articles_);
  Subscribe(&binaries_);
  AddChild(&articles_);
  AddChild(&binaries_);
  lastOwnState_ = GetOwnUpdateState();
}

CChannel::~CChannel() {
  Unsubscribe(&articles_);
  Unsubscribe(&binaries_);
  RemoveChild(&articles_);
  RemoveChild(&binaries_);
  // What a release could not save gets its last chance (without telling the
  // Today item: at the program's end the notifier may be gone already).
  if (HasUnsavedData() && !filesDeleted_ && !SaveFiles(false)) LogChannel(u"unsaved changes lost", name_);
  DropLoadedData();
  options_.SetOwner(nullptr);
  if (mutex_ != nullptr) plat::CloseHandle(mutex_);
  mutex_ = nullptr;
}

bool CChannel::IsReadOnly() const { return set_ != nullptr && set_->IsReadOnly() != 0; }

std::u16string CChannel::GetMutexName() const { return std::u16string(kChannelMutexPrefix) + name_; }

// ---- Paths -------------------------------------------------------------------------

bool CChannel::ComputePaths(const std::u16string& filePath, const std::u16string& name, Paths& paths) {
  if (filePath.empty() == name.empty()) return false;
  if (!filePath.empty()) {
    if (!FileExists(filePath)) return false;
    std::u16string folder, base, extension;
    if (!SplitPath(filePath, &folder, &base, &extension)) return false;
    if (base.empty() || extension.empty() || !plat::EqualsNoCase(extension, kChannelFileExtension)) return false;
    paths.name = UnescapeName(base);
    if (!IsValidName(paths.name)) return false;
    paths.filePath = filePath;
    paths.dataFolder = CombinePath(folder, base);
  } else {
    if (!IsValidName(name)) return false;
    const std::u16string escaped = EscapeName(name);
    const std::u16string content = GetGlobalOptions().GetContentFolder();
    paths.name = name;
    paths.filePath = CombinePath(content, escaped + kChannelFileSuffix);
    paths.dataFolder = CombinePath(content, escaped);
  }
  return true;
}

void CChannel::ApplyPaths(const Paths& paths) {
  name_ = paths.name;
  filePath_ = paths.filePath;
  dataFolder_ = paths.dataFolder;
  binFolder_ = CombinePath(dataFolder_, u"bin");
  readStatesPath_ = CombinePath(dataFolder_, u"unread.bin");
  headersPath_ = CombinePath(dataFolder_, u"headers.bin");
  dataBankFolder_ = dataFolder_;
}

void CChannel::CreateFolders() {
  if (IsReadOnly() || dataFolder_.empty()) return;
  if (DirectoryExists(binFolder_)) return;  // nothing to make, no need to wait
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  if (!lock.IsLocked()) return;
  if (!DirectoryExists(GetGlobalOptions().GetContentFolder())) return;
  CreateFolderTree(dataFolder_);
  CreateFolderTree(binFolder_);
}

bool CChannel::SetPaths(const std::u16string& filePath, const std::u16string& name) {
  Paths paths;
  if (!ComputePaths(filePath, name, paths)) return false;
  if (mutex_ == nullptr) {
    const std::u16string mutexName = std::u16string(kChannelMutexPrefix) + paths.name;
    mutex_ = plat::CreateMutexW(nullptr, plat::FALSE, mutexName.c_str());
    if (mutex_ == nullptr) return false;
  }
  ApplyPaths(paths);
  CreateFolders();
  return true;
}

// ---- The channel file ----------------------------------------------------------

bool CChannel::OpenFromFile(const std::u16string& path, bool mayHaveSideFiles) {
  if (!SetPaths(path, u"")) return false;
  DropLoadedData();
  if (!LoadFile(mayHaveSideFiles)) return false;
  channelFileDirty_ = false;
  headersDirty_ = false;
  return true;
}

bool CChannel::Load() { return LoadFile(true); }

bool CChannel::LoadFile(bool removeSideFiles) {
  if (filePath_.empty()) return false;
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  // Not having the lock is not an empty channel: nothing is taken in, and the
  // caller must not treat the channel as loaded (a later save would overwrite
  // the file with nothing).
  if (!lock.IsLocked()) {
    LogChannel(u"channel file busy", filePath_);
    return false;
  }
  if (removeSideFiles && !IsReadOnly()) RemoveSideFiles(filePath_);
  if (!FileExists(filePath_)) return true;

  CFileReader reader(filePath_);
  std::uint32_t magic = 0;
  if (!ReadInt32(reader, magic)) {
    LogChannel(u"channel file unreadable", filePath_);
    fileUnreadable_ = true;
    return false;
  }
  if (magic != kChannelFileMagic && magic != kChannelFileLegacyMagic) {
    unreadableFile_ = true;
    fileUnreadable_ = true;
    LogChannel(u"channel file of another kind", filePath_);
    return false;
  }
  std::uint32_t state = 0;
  CChannelOptions options;  // no owner: reading it announces nothing
  CStringToStringMap properties;
  const bool stateRead = ReadInt32(reader, state);
  const bool optionsRead = stateRead && options.Read(reader);
  const bool propertiesRead = optionsRead && ReadStringMap(reader, properties);
  if (!propertiesRead) {
    // The file is left as it is: a damaged file is no reason to lose what may
    // still be recovered from it or from the data folder.
    LogChannel(u"channel file damaged", filePath_);
    fileUnreadable_ = true;
    return false;
  }
  if (state == US_UPDATING) state = US_WAITING;
  if (state > US_NEVER_UPDATED) state = US_UP_TO_DATE;

  // Take the options in through their record, so their owner is not told.
  CBufferWriter record;
  options.Write(record);
  CBufferReader recordReader(record.GetData(), record.GetSize());
  options_.Read(recordReader);
  properties_.swap(properties);
  loading_ = true;
  SetUpdateState(state);
  lastOwnState_ = GetOwnUpdateState();
  loading_ = false;
  oldFormat_ = magic == kChannelFileLegacyMagic;
  return true;
}

bool CChannel::BuildChannelFile(CBufferWriter& out) {
  return WriteInt32(out, kChannelFileMagic) && WriteInt32(out, GetOwnUpdateState()) && options_.Write(out) &&
         WriteStringMap(out, properties_);
}

namespace {

// Whether the file at path holds exactly these bytes.
bool FileHoldsBytes(const std::u16string& path, const std::uint8_t* data, std::size_t size) {
  CFileReader reader(path);
  if (reader.Remaining() != static_cast<std::int64_t>(size)) return false;
  std::vector<std::uint8_t> stored(size);
  return (size == 0 || reader.Read(stored.data(), size)) && std::equal(stored.begin(), stored.end(), data);
}

}  // namespace

bool CChannel::SaveChannelFile() {
  if (!channelFileDirty_ || IsReadOnly()) return true;
  if (filePath_.empty()) return false;
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  // The change stays pending for the next save.
  if (!lock.IsLocked()) {
    LogChannel(u"channel file busy, not saved", filePath_);
    return false;
  }
  CBufferWriter out;
  if (!BuildChannelFile(out)) return false;
  // An update that ends as it began (6, then 0, then 6 again) leaves the same
  // bytes: the file is not rewritten then.
  if (FileHoldsBytes(filePath_, out.GetData(), out.GetSize())) {
    channelFileDirty_ = false;
    return true;
  }
  if (!plat::ReplaceFileContents(filePath_, out.GetData(), out.GetSize())) {
    LogChannelFailure(u"channel file not saved", filePath_);
    return false;
  }
  channelFileDirty_ = false;
  return true;
}

// ---- Headers, read states, article properties -----------------------------------

CReadStates* CChannel::ReadStates() {
  if (!readStates_) {
    readStates_ = CReadStates::Create(readStatesPath_, name_.empty() ? std::u16string() : GetMutexName());
    if (readStates_) readStates_->SetReadOnlyCheck([this] { return IsReadOnly(); });
  }
  return readStates_.get();
}

CArticlesPropertiesFile* CChannel::PropertiesFile() {
  if (!propertiesFile_ && !dataBankFolder_.empty() && !name_.empty()) {
    propertiesFile_ = std::make_unique<CArticlesPropertiesFile>(dataBankFolder_, GetMutexName(), GetChannelMutexTimeout());
  }
  return propertiesFile_.get();
}

bool CChannel::HasUnsavedData() const {
  if (IsReadOnly()) return false;
  return (headersDirty_ && headersLoaded_) || (propertiesFile_ && propertiesFile_->IsDirty() != 0) ||
         (readStates_ && readStates_->IsDirty() != 0) || channelFileDirty_;
}

bool CChannel::SaveHeaders() { return SaveFiles(true); }

bool CChannel::SaveFiles(bool notifyToday) {
  if (IsReadOnly()) return true;
  // Articles added to headers that were never read in (the mutex was busy
  // then) cannot be stored: writing them would replace the stored ones, and
  // leaving them out is no save. Nothing of the update is stored.
  if (headersDirty_ && !headersLoaded_) {
    LogChannel(u"headers not loaded, not saved", headersPath_);
    return false;
  }
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  if (!lock.IsLocked()) {
    LogChannel(u"channel busy, headers not saved", headersPath_);
    return false;
  }
  const bool changed = headersDirty_ || (propertiesFile_ && propertiesFile_->IsDirty() != 0) ||
                       (readStates_ && readStates_->IsDirty() != 0);
  // The listing that named this update's new binaries is not kept past it.
  binaries_.ForgetFileNames();
  // One batch replaces the files: the article records, the read states,
  // the headers, then the channel file. The side files reach the disk with
  // one flush before any is renamed, and the renames keep that order, so a
  // save stopped at any point leaves either the old headers (whose records
  // and read states are still there) or the new ones with everything they
  // name.
  plat::FileReplaceBatch batch;
  bool ok = true;
  if (propertiesFile_ && !propertiesFile_->PrepareSave(batch)) {
    LogChannelFailure(u"article data not saved", propertiesFile_->GetDataPath());
    ok = false;
  }
  if (ok && readStates_ && !readStates_->PrepareSave(batch)) {
    LogChannelFailure(u"read states not saved", readStatesPath_);
    ok = false;
  }
  // Headers that were never read in are not written: that would replace the
  // stored articles with whatever little is in memory.
  const bool headers = ok && headersDirty_ && headersLoaded_;
  if (headers) {
    CBufferWriter out;
    if (!CHeadersFile::Build(binaries_, articles_, out) || !batch.Add(headersPath_, out.GetData(), out.GetSize())) {
      LogChannelFailure(u"headers not saved", headersPath_);
      ok = false;
    }
  }
  // After the channel's own files the channel file may lag: with its old
  // state beside them the channel is whole (as after a stop between the two
  // renames), so its folder, the content folder, is not flushed for it.
  bool channelFile = false;
  if (ok && channelFileDirty_ && !filePath_.empty()) {
    CBufferWriter out;
    if (!BuildChannelFile(out)) {
      ok = false;
    } else if (FileHoldsBytes(filePath_, out.GetData(), out.GetSize())) {
      channelFileDirty_ = false;
    } else if (batch.Add(filePath_, out.GetData(), out.GetSize(), !batch.IsEmpty())) {
      channelFile = true;
    } else {
      LogChannelFailure(u"channel file not saved", filePath_);
      ok = false;
    }
  }
  const bool committed = ok && batch.Commit();
  if (ok && !committed) {
    LogChannelFailure(u"channel files not replaced", dataFolder_);
    ok = false;
  }
  if (propertiesFile_) propertiesFile_->FinishSave(committed);
  if (readStates_) readStates_->FinishSave(committed);
  if (committed && headers) headersDirty_ = false;
  if (committed && channelFile) channelFileDirty_ = false;
  if (changed && notifyToday) CNotifyToday::GetInstance()->NotifyItemChanged(name_);
  return ok;
}

void CChannel::Acquire(const void* user) {
  const bool first = users_.empty();
  if (!users_.insert(user).second || !first) return;
  // Kept in memory by a release that could not save them: they are what the
  // channel holds, newer than the files.
  if (keptUnsaved_) {
    keptUnsaved_ = false;
    return;
  }
  LoadHeaders();
}

void CChannel::LoadHeaders() {
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  if (!lock.IsLocked()) {
    // Used with nothing loaded; the stored headers are then never overwritten.
    LogChannel(u"headers busy, not loaded", headersPath_);
    headersLoaded_ = false;
    headersBusy_ = true;
    return;
  }
  headersBusy_ = false;
  headersDirty_ = false;
  missingRecords_.clear();
  headersLost_ = false;
  if (!IsReadOnly()) {
    RemoveSideFiles(headersPath_);
    RemoveSideFiles(readStatesPath_);
    RemoveSideFiles(CombinePath(dataBankFolder_, u"dataidx.bin"));
  }
  bool damaged = false;
  if (FileExists(headersPath_) && IsReadOnly()) {
    // Read in place: a reader that may not write keeps no copy of a damaged file.
    CFileReader reader(headersPath_);
    std::int32_t magic = 0;
    if (ReadInt32(reader, magic) && magic == kHeadersMagic && binaries_.Read(reader)) {
      articles_.Read(reader);
    } else {
      orderCounter_ = kOrderCounterStep;
    }
  } else if (FileExists(headersPath_)) {
    const HeadersLoadResult result = CHeadersFile::Load(headersPath_, binaries_, articles_);
    damaged = result.damaged;
    if (!result.loaded) orderCounter_ = kOrderCounterStep;
    headersLost_ = damaged || !result.loaded;
  } else {
    // As after reading an empty article section.
    orderCounter_ = kOrderCounterStep;
    headersLost_ = true;
  }
  headersLoaded_ = true;
  const std::u16string thumbnail = GetThumbnail();
  if (!thumbnail.empty()) binaries_.AddUrl(thumbnail);
  if (IsReadOnly() || damaged) return;
  binaries_.RemoveUnreferenced();
  CStringSet ids;
  for (int i = 0; i < articles_.GetCount(); ++i) ids.insert(articles_.GetAt(i)->GetId());
  CReadStates* states = ReadStates();
  if (states != nullptr && states->RemoveMissing(ids)) FireChannel(DBE_CHANNEL_CHANGED);
  FindMissingRecords();
}

void CChannel::FindMissingRecords() {
  // Live articles whose record is gone (a data bank lost, cut short or
  // damaged) would stay empty for ever: they are noted, and the next update
  // stores them again.
  std::vector<std::u16string> live;
  for (int i = 0; i < articles_.GetCount(); ++i) {
    IArticle* article = articles_.GetAt(i);
    if (!article->IsDeleted()) live.push_back(article->GetId());
  }
  if (live.empty()) return;
  CArticlesPropertiesFile* file = PropertiesFile();
  std::vector<std::u16string> missing;
  if (file == nullptr || !file->FindMissing(live, missing) || missing.empty()) return;
  missingRecords_.insert(missing.begin(), missing.end());
  CDebugLog::GetInstance().Printf(u"** CChannel: %u articles without their data, fetched again at the next update: %s",
                                  static_cast<unsigned>(missing.size()), name_.c_str());
}

bool CChannel::IsArticleDataMissing(IArticle* article) {
  return article != nullptr && !missingRecords_.empty() && missingRecords_.count(article->GetId()) != 0;
}

void CChannel::Release(const void* user, bool save) {
  if (users_.erase(user) == 0) return;
  if (users_.empty()) {
    const bool saved = SaveHeaders();
    if (!saved && headersLoaded_ && HasUnsavedData()) {
      // Not stored (the mutex busy, the disk full): the channel stays loaded
      // and dirty, and the next release or the channel's end saves it.
      LogChannel(u"not saved, kept loaded", name_);
      keptUnsaved_ = true;
    } else {
      DropLoadedData(!saved);
    }
    if (g_thumbnailsHooks.unloadPools != nullptr) g_thumbnailsHooks.unloadPools(binFolder_);
  } else if (save) {
    SaveHeaders();
  }
}

void CChannel::DropLoadedData(bool keepUnsaved) {
  articles_.RemoveAll();
  binaries_.Clear();
  keptUnsaved_ = false;
  // Read marks and article records that could not be saved stay for the
  // next save; they stand by themselves, without the articles.
  const bool keep = keepUnsaved && !IsReadOnly();
  if (!(keep && readStates_ && readStates_->IsDirty() != 0)) readStates_.reset();
  if (!(keep && propertiesFile_ && propertiesFile_->IsDirty() != 0)) {
    if (propertiesFile_ && IsReadOnly()) propertiesFile_->Clear();
    propertiesFile_.reset();
  }
  headersLoaded_ = false;
  headersBusy_ = false;
  headersDirty_ = false;
  missingRecords_.clear();
  headersLost_ = false;
}

void CChannel::FireChannel(std::uint32_t type) {
  CDBEvent record = CDBEvent::ForChannel(type, this);
  Fire(&record);
}

// ---- Read states -------------------------------------------------------------

std::int32_t CChannel::GetUnreadCount() {
  CReadStates* states = ReadStates();
  if (states == nullptr) return 0;
  const std::int32_t count = states->GetUnreadCount();
  return count < 0 ? 0 : count;
}

void CChannel::SetArticleRead(IArticle* article, bool read) { ChangeReadState(article, read, true); }

void CChannel::ChangeReadState(IArticle* article, bool read, bool saveNow) {
  CReadStates* states = ReadStates();
  if (states == nullptr || !states->SetRead(article, read, saveNow)) return;
  FireChannel(DBE_CHANNEL_CHANGED);
  if (article != nullptr) {
    CDBEvent record = CDBEvent::ForArticle(DBE_ARTICLE_READ_CHANGED, article);
    Fire(&record);
  }
  // Written at once: the Today item lists unread articles and reads the
  // channel again only when told.
  if (saveNow) CNotifyToday::GetInstance()->NotifyItemChanged(name_);
}

bool CChannel::IsArticleRead(IArticle* article) {
  CReadStates* states = ReadStates();
  return states == nullptr || states->IsRead(article);
}

void CChannel::MarkAllRead() {
  CReadStates* states = ReadStates();
  if (states != nullptr) states->MarkAllRead();
  FireChannel(DBE_CHANNEL_CHANGED);
  CNotifyToday::GetInstance()->NotifyItemChanged(name_);
}

// ---- Properties ------------------------------------------------------------------

std::u16string CChannel::GetThumbnail() {
  auto it = properties_.find(kPropThumbnail);
  return it == properties_.end() ? std::u16string() : it->second;
}

std::u16string CChannel::GetThumbnailFile() {
  auto it = properties_.find(kPropThumbnailFile);
  if (it == properties_.end() || it->second.empty()) return std::u16string();
  return CombinePath(binFolder_, it->second);
}

void CChannel::SetProperties(const CStringToStringMap& properties) {
  const std::u16string oldThumbnail = GetThumbnail();
  properties_ = properties;
  const std::u16string newThumbnail = GetThumbnail();
  if (!plat::EqualsNoCase(oldThumbnail, newThumbnail)) {
    properties_.erase(kPropThumbnailFile);
    // An unloaded channel's binaries are read with its headers, which then
    // take the new image in and let the old one go.
    if (!users_.empty()) {
      if (!oldThumbnail.empty()) binaries_.RemoveUrl(oldThumbnail);
      if (!newThumbnail.empty()) binaries_.AddUrl(newThumbnail);
    }
    FireChannel(DBE_CHANNEL_CHANGED);
  }
  channelFileDirty_ = true;
  // During an update the change goes with the update's last save.
  if (GetOwnUpdateState() != US_UPDATING) SaveChannelFile();
}

void CChannel::SetProperty(const std::u16string& key, const std::u16string& value) {
  properties_[key] = value;
  channelFileDirty_ = true;
  if (GetOwnUpdateState() != US_UPDATING) SaveChannelFile();
}

void CChannel::OnChannelOptionsChanged() {
  channelFileDirty_ = true;
  SaveChannelFile();
}

bool CChannel::GetArticleProperties(IArticle* article, CStringToStringMap& properties) {
  properties.clear();
  CArticlesPropertiesFile* file = PropertiesFile();
  if (article == nullptr || file == nullptr) return false;
  return file->GetProperties(article->GetId(), properties);
}

bool CChannel::SetArticleProperties(IArticle* article, const CStringToStringMap& properties) {
  if (IsReadOnly()) return false;
  CArticlesPropertiesFile* file = PropertiesFile();
  if (article == nullptr || file == nullptr) return false;
  if (!properties.empty()) missingRecords_.erase(article->GetId());
  return file->PutProperties(article->GetId(), properties);
}

// ---- Articles --------------------------------------------------------------------

IArticle* CChannel::CreateArticle(const std::u16string& id, std::uint32_t state, const plat::FILETIME& date) {
  // Headers that could not be read in take no articles: they could never
  // be stored beside the ones on disk.
  if (headersBusy_) return nullptr;
  const std::uint64_t dateTicks = plat::FileTimeToULL(date);
  const std::int32_t limit = options_.GetArticlesAgeLimit();
  if (options_.GetArticlesAgeLimitEnabled() != 0 && dateTicks != 0 && limit != 0) {
    // Dates are kept in UTC, so the present time is taken in UTC too.
    const std::int64_t now = static_cast<std::int64_t>(plat::CurrentClock().NowUtcFileTime() / 10000000ull);
    const std::int64_t then = static_cast<std::int64_t>(dateTicks / 10000000ull);
    const std::int64_t age = (now - then) / kSecondsPerDay;
    if (age >= limit) return nullptr;
  }
  auto* article = new CArticle(this);
  article->SetId(id);
  --orderCounter_;
  article->SetOrder(orderCounter_);
  article->SetUpdateState(state);
  if (dateTicks != 0) article->SetDate(date);
  // New articles of an update are saved with the headers when the update
  // ends, not one file replacement each.
  ChangeReadState(article, false, false);
  articles_.Add(article);
  return article;
}

void CChannel::ForgetDeletedArticles(const CStringSet& ids) {
  for (int i = 0; i < articles_.GetCount(); ++i) {
    IArticle* article = articles_.GetAt(i);
    if (article->IsDeleted() && ids.count(article->GetId()) == 0) article->Forget();
  }
}

void CChannel::RemoveThumbnails(const std::u16string& imagePath) {
  if (g_thumbnailsHooks.removeImage != nullptr) g_thumbnailsHooks.removeImage(imagePath);
}

// ---- Renaming and removal ----------------------------------------------------------

bool CChannel::Rename(const std::u16string& newName) {
  const std::u16string name = TrimSpace(newName);
  if (plat::EqualsNoCase(name, name_)) return !name.empty();
  if (!IsValidName(name)) return false;
  if (set_ != nullptr && set_->FindByNameNoCase(name) != nullptr) return false;
  if (IsReadOnly()) return false;

  Paths paths;
  if (!ComputePaths(u"", name, paths)) return false;
  // A file of that name that is not a channel of the set (one that could not
  // be read, say) is not overwritten.
  if (FileExists(paths.filePath)) {
    LogChannel(u"a channel file of that name exists", paths.filePath);
    return false;
  }

  if (name_.empty()) {
    if (!SetPaths(u"", name)) return false;
    channelFileDirty_ = true;
    if (!SaveChannelFile()) {
      LogChannel(u"new channel file not written", filePath_);
      // Not made: nothing of it is written later either.
      channelFileDirty_ = false;
      return false;
    }
    return true;
  }

  // The new name gets its own mutex, so every process that opens the channel
  // by its new file name meets this one.
  const std::u16string newMutexName = std::u16string(kChannelMutexPrefix) + name;
  plat::HANDLE newMutex = plat::CreateMutexW(nullptr, plat::FALSE, newMutexName.c_str());
  if (newMutex == nullptr) return false;

  bool ok = false;
  const std::u16string oldName = name_;
  {
    CMutexLock oldLock(mutex_, GetChannelMutexTimeout());
    CMutexLock newLock(newMutex, GetChannelMutexTimeout());
    if (oldLock.IsLocked() && newLock.IsLocked()) ok = MoveFiles(paths);
  }
  if (!ok) {
    plat::CloseHandle(newMutex);
    return false;
  }
  plat::CloseHandle(mutex_);
  mutex_ = newMutex;
  CDBEvent record = CDBEvent::ChannelRenamed(this, oldName);
  Fire(&record);
  return true;
}

bool CChannel::MoveFiles(const Paths& paths) {
  const Paths old{name_, filePath_, dataFolder_};
  // What is pending goes to the old files first; the objects are made again
  // over the new paths on next use.
  if (readStates_) readStates_->Save();
  if (propertiesFile_) propertiesFile_->Save();
  readStates_.reset();
  propertiesFile_.reset();

  if (DirectoryExists(paths.dataFolder)) DeleteFolderTree(paths.dataFolder);
  if (DirectoryExists(old.dataFolder) && !MoveFolderTree(old.dataFolder, paths.dataFolder)) {
    LogChannel(u"data folder not moved", old.dataFolder);
    MoveFolderTree(paths.dataFolder, old.dataFolder);
    return false;
  }
  ApplyPaths(paths);
  CreateFolderTree(dataFolder_);
  CreateFolderTree(binFolder_);
  channelFileDirty_ = true;
  // The new channel file is written before the old one goes, so one of them
  // is always there.
  if (!SaveChannelFile()) {
    LogChannel(u"renamed channel file not written", filePath_);
    ApplyPaths(old);
    MoveFolderTree(paths.dataFolder, old.dataFolder);
    channelFileDirty_ = false;
    return false;
  }
  DeleteFileIfExists(old.filePath);
  return true;
}

void CChannel::DeleteFiles() {
  if (IsReadOnly() || filePath_.empty()) return;
  filesDeleted_ = true;
  CMutexLock lock(mutex_, GetChannelMutexTimeout());
  if (!lock.IsLocked()) return;
  DeleteFolderTree(dataFolder_);
  DeleteFileIfExists(filePath_);
}

void CChannel::ClearData() {
  const bool used = !users_.empty();
  DropLoadedData();
  if (!IsReadOnly() && !dataFolder_.empty()) {
    CMutexLock lock(mutex_, GetChannelMutexTimeout());
    if (lock.IsLocked() && DirectoryExists(GetGlobalOptions().GetContentFolder())) {
      DeleteFolderTree(dataFolder_);
      CreateFolderTree(dataFolder_);
      CreateFolderTree(binFolder_);
      // The channel is now empty on disk as in memory: its users may save it.
      headersLoaded_ = used;
      orderCounter_ = kOrderCounterStep;
    }
    // The feed's digest and validators described the articles just dropped:
    // without them the next update reads the feed whole and stores it again.
    withSave_.clear();
    bool forgot = false;
    for (const char16_t* key : {kPropFeedDigest, kPropFeedETag, kPropFeedLastModified, kPropFeedValidatorsUrl}) {
      forgot = properties_.erase(key) != 0 || forgot;
    }
    if (forgot) {
      channelFileDirty_ = true;
      SaveChannelFile();
    }
  }
  CNotifyToday::GetInstance()->NotifyItemChanged(name_);
}

// ---- Events ------------------------------------------------------------------------

void CChannel::OnDBEvent(CDBEvent* record) {
  if (record == nullptr) return;
  switch (record->type) {
    case DBE_ARTICLE_DELETED:
      if (record->article != nullptr) {
        if (!IsReadOnly()) {
          CArticlesPropertiesFile* file = PropertiesFile();
          if (file != nullptr) file->PutProperties(record->article->GetId(), CStringToStringMap());
        }
        // With the headers' save that stores the deletion, not before it: a
        // failed save leaves the article live and unread as it was.
        ChangeReadState(record->article, true, false);
      }
      return;
    case DBE_BINARY_STATE_CHANGED: {
      record->channel = this;
      Fire(record);
      IBinary* binary = record->binary;
      const std::u16string thumbnail = GetThumbnail();
      if (binary != nullptr && !thumbnail.empty() && plat::EqualsNoCase(binary->GetUrl(), thumbnail)) {
        std::u16string file;
        binary->GetFileName(file, false);
        SetProperty(kPropThumbnailFile, file);
        FireChannel(DBE_CHANNEL_CHANGED);
      }
      return;
    }
    case DBE_BINARY_ADDED:
      if (record->binarySet == static_cast<IBinarySet*>(&binaries_)) {
        record->channel = this;
        Fire(record);
      }
      return;
    case DBE_ARTICLE_UPDATE_ENDED:
    case DBE_ARTICLE_DONE:
    case DBE_ARTICLE_READ_CHANGED:
    case DBE_ARTICLE_ADDED:
      record->channel = this;
      Fire(record);
      return;
    default:
      CUpdateItem::OnDBEvent(record);
      return;
  }
}

void CChannel::FireUpdateStatusChanged(std::uint32_t oldStatus) {
  const std::uint32_t own = GetOwnUpdateState();
  // Children change the combined status too; only a change of the channel's
  // own state starts or ends an update.
  if (!loading_ && own != lastOwnState_) {
    lastOwnState_ = own;
    if (own == US_FAILED || own == US_UP_TO_DATE) {
      // The channel file (its state) goes with the headers' batch, and so do
      // the properties that hold only with what this update stored.
      channelFileDirty_ = true;
      CStringToStringMap withSave;
      withSave.swap(withSave_);
      // Headers that could not be read in: the update stored nothing, so
      // nothing describes what it read.
      if (own != US_UP_TO_DATE || IsReadOnly() || headersBusy_) withSave.clear();
      CStringToStringMap before;
      std::vector<std::u16string> added;
      for (const auto& [key, value] : withSave) {
        auto it = properties_.find(key);
        if (it == properties_.end()) {
          added.push_back(key);
        } else {
          before[key] = it->second;
        }
        properties_[key] = value;
      }
      // A feed read whole over lost headers writes them again, even when it
      // brought nothing new, so the next update may ask for changes only.
      if (own == US_UP_TO_DATE && headersLost_ && headersLoaded_) headersDirty_ = true;
      bool saved = SaveHeaders();
      if (headersBusy_) {
        LogChannel(u"headers busy, update not stored", name_);
        saved = false;
      }
      if (saved && own == US_UP_TO_DATE && headersLoaded_ && !headersDirty_) headersLost_ = false;
      if (!saved) {
        // Not stored: the channel describes what it holds, not what failed.
        for (const std::u16string& key : added) properties_.erase(key);
        for (const auto& [key, value] : before) properties_[key] = value;
      }
      saved = SaveChannelFile() && saved;
      if (!saved && own == US_UP_TO_DATE && !IsReadOnly()) {
        // What the update brought is not all stored: the update failed. The
        // change stays in memory, dirty, for the next save.
        LogChannel(u"update not stored, channel failed", name_);
        saveFailed_ = true;
        SetUpdateState(US_FAILED);
        return;
      }
      if (saved) saveFailed_ = false;
    } else if (own == US_UPDATING) {
      orderCounter_ += kOrderCounterStep;
    }
  }
  CUpdateItem::FireUpdateStatusChanged(oldStatus);
}
