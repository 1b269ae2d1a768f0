#include "database/ChannelSet.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "database/Channel.h"
#include "database/GlobalOptions.h"
#include "database/NotifyToday.h"
#include "database/ReadStates.h"
#include "database/ThumbnailsPool.h"
#include "database/TodayChannelFilter.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"

namespace {

// The set whose channels answer option look-ups by name: the first one made
// (normally the process's own).
CChannelSet* g_optionsSet = nullptr;

IChannelOptions* LookupChannelOptions(const std::u16string& name) {
  if (g_optionsSet == nullptr) return nullptr;
  CChannel* channel = g_optionsSet->FindByNameNoCase(name);
  return channel != nullptr ? channel->GetOptions() : nullptr;
}

void LogSet(const char16_t* what, const std::u16string& subject) {
  CDebugLog::GetInstance().WriteLine(std::u16string(u"** CChannelSet: ") + what + u": " + subject);
}

// folder equals base or lies below it, ignoring case.
bool IsSameOrBelow(const std::u16string& folder, const std::u16string& base) {
  std::u16string a = folder;
  std::u16string b = base;
  while (a.size() > 1 && a.back() == u'\\') a.pop_back();
  while (b.size() > 1 && b.back() == u'\\') b.pop_back();
  if (plat::EqualsNoCase(a, b)) return true;
  if (b == u"\\") return true;
  if (a.size() <= b.size()) return false;
  return a[b.size()] == u'\\' && plat::EqualsNoCase(std::u16string_view(a).substr(0, b.size()), b);
}

// Every thumbnail pool index below folder (moved there from from) names
// its images below to.
void MovePoolKeys(const std::u16string& folder, const std::u16string& from, const std::u16string& to) {
  {
    CFileFinder indexes(folder, std::u16string(u"*.") + kThumbnailsIndexExtension, true);
    while (indexes.FindNext()) {
      CThumbnailsPool pool;
      if (pool.LoadIndex(indexes.GetFilePath()) && !pool.MoveKeys(from, to)) {
        LogSet(u"thumbnail pool not moved, its thumbnails are made again", indexes.GetFilePath());
      }
    }
  }
  std::vector<std::u16string> subfolders;
  {
    CFileFinder folders(folder, u"*.*", false);
    while (folders.FindNext()) subfolders.push_back(folders.GetFilePath());
  }
  for (const std::u16string& subfolder : subfolders) MovePoolKeys(subfolder, from, to);
}

}  // namespace

bool CChannelSet::SetViewLocationKeeper(IViewLocationKeeper* keeper) {
  if (viewLocationKeeper_ != nullptr && viewLocationKeeper_ != keeper) {
    LogSet(u"view location keeper refused", u"another one is installed");
    return false;
  }
  viewLocationKeeper_ = keeper;
  return true;
}

void CChannelSet::RemoveViewLocationKeeper(IViewLocationKeeper* keeper) {
  if (keeper != nullptr && viewLocationKeeper_ == keeper) viewLocationKeeper_ = nullptr;
}

CChannelSet* GetChannelSet() {
  static std::unique_ptr<CChannelSet> set(new CChannelSet());
  return set.get();
}

CChannelSet::CChannelSet() {
  if (g_optionsSet == nullptr) {
    g_optionsSet = this;
    SetChannelOptionsLookup(&LookupChannelOptions);
  }
}

CChannelSet::~CChannelSet() {
  {
    CSyncLock lock(this, u"CChannelSet::~CChannelSet");
    RemoveChannels();
  }
  if (g_optionsSet == this) {
    g_optionsSet = nullptr;
    SetChannelOptionsLookup(nullptr);
  }
}

// ---- Lookup ------------------------------------------------------------------------

IChannel* CChannelSet::GetAt(int index) { return GetChannelAt(index); }

CChannel* CChannelSet::GetChannelAt(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return channels_[static_cast<std::size_t>(index)];
}

int CChannelSet::IndexOf(IChannel* channel) {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    if (static_cast<IChannel*>(channels_[i]) == channel) return static_cast<int>(i);
  }
  return -1;
}

int CChannelSet::FindIndexByName(const std::u16string& name) {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    if (channels_[i]->GetName() == name) return static_cast<int>(i);
  }
  return -1;
}

IChannel* CChannelSet::FindByName(const std::u16string& name) {
  if (name.empty()) return nullptr;
  return GetChannelAt(FindIndexByName(name));
}

CChannel* CChannelSet::FindByNameNoCase(const std::u16string& name) {
  if (name.empty()) return nullptr;
  for (CChannel* channel : channels_) {
    if (plat::EqualsNoCase(channel->GetName(), name)) return channel;
  }
  return nullptr;
}

bool CChannelSet::HasOldFormatChannels() {
  return std::any_of(channels_.begin(), channels_.end(), [](CChannel* c) { return c->IsOldFormat(); });
}

void CChannelSet::ClearOldFormatFlags() {
  for (CChannel* channel : channels_) channel->ClearOldFormat();
}

// ---- Membership ----------------------------------------------------------------------

void CChannelSet::Sort() {
  std::stable_sort(channels_.begin(), channels_.end(), [](CChannel* a, CChannel* b) {
    return plat::CompareNoCase(a->GetName(), b->GetName()) < 0;
  });
}

void CChannelSet::Attach(CChannel* channel, bool inOrder) {
  Subscribe(channel);
  AddChild(channel);
  if (inOrder) {
    // The list is in order: the channel goes after every name that sorts
    // with it, where sorting the list again would put it.
    const auto at = std::upper_bound(channels_.begin(), channels_.end(), channel, [](CChannel* a, CChannel* b) {
      return plat::CompareNoCase(a->GetName(), b->GetName()) < 0;
    });
    channels_.insert(at, channel);
  } else {
    channels_.push_back(channel);
    Sort();
  }
  CTodayChannelFilter::GetInstance()->IsIncluded(channel->GetName(), true);
}

void CChannelSet::Detach(CChannel* channel) {
  CDBEvent removed = CDBEvent::ForChannel(DBE_CHANNEL_REMOVED, channel);
  Fire(&removed);
  Unsubscribe(channel);
  RemoveChild(channel);
}

void CChannelSet::RemoveChannels() {
  while (!channels_.empty()) {
    CChannel* channel = channels_.back();
    channels_.pop_back();
    Detach(channel);
    delete channel;
  }
}

void CChannelSet::RemoveAll() {
  CSyncLock lock(this, u"CChannelSet::RemoveAll");
  RemoveChannels();
  // Unloaded: the next Open reads the folder's channels again.
  loadedFolder_.clear();
}

void CChannelSet::FireListChanged() {
  CDBEvent record = CDBEvent::ChannelListChanged();
  Fire(&record);
}

// ---- Opening ---------------------------------------------------------------------------

bool CChannelSet::Open() {
  CGlobalOptions& options = GetGlobalOptions();
  options.Reset();
  const std::u16string folder = options.GetContentFolder();
  if (!DirectoryExists(folder) && options.GetContentOnFlash() != 0 && !IsPathRootAvailable(folder)) {
    contentUnavailable_ = true;
    RemoveChannels();
    LogSet(u"content folder unavailable", folder);
    return false;
  }
  const bool wasUnavailable = contentUnavailable_;
  contentUnavailable_ = false;
  if (wasUnavailable || !plat::EqualsNoCase(folder, loadedFolder_)) {
    if (!CreateFolderTree(folder)) {
      LogSet(u"content folder not made", folder);
      return false;
    }
    LoadAll();
    CreateFolderTree(options.GetTemplatesFolder());
  }
  return true;
}

void CChannelSet::LoadAll() {
  RemoveChannels();
  const std::u16string folder = GetGlobalOptions().GetContentFolder();
  if (DirectoryExists(folder)) {
    loadedFolder_ = folder;
    unreadableFile_ = false;
    unreadable_.clear();
    CTodayChannelFilter* filter = CTodayChannelFilter::GetInstance();
    CStringToStringMap missing;
    filter->GetEntries(missing);
    // The side files of stopped saves ("<file>.XXXXXX.tmp"), listed once for
    // the whole folder: only a channel file that has some looks for them.
    std::unordered_set<std::u16string> withSideFiles;
    {
      CFileFinder sides(folder, u"*.tmp", true);
      while (sides.FindNext()) {
        const std::u16string& name = sides.GetFileName();
        if (name.size() > 11) withSideFiles.insert(plat::ToUpper(name.substr(0, name.size() - 11)));
      }
    }
    std::unordered_set<std::u16string> names;  // of the channels loaded, in capitals
    CFileFinder finder(folder, u"*.cnl", true);
    while (finder.FindNext()) {
      auto channel = std::make_unique<CChannel>(this);
      const bool mayHaveSideFiles = withSideFiles.count(plat::ToUpper(finder.GetFileName())) != 0;
      const bool opened = channel->OpenFromFile(finder.GetFilePath(), mayHaveSideFiles);
      // A channel whose file is there stays on the Today list even when the
      // file could not be read this time.
      if (!channel->GetName().empty()) missing.erase(channel->GetName());
      if (!opened) {
        if (channel->HadUnreadableFile()) unreadableFile_ = true;
        if (channel->IsFileUnreadable() && !channel->GetName().empty()) {
          unreadable_.push_back({channel->GetName(), finder.GetFilePath()});
        }
        LogSet(u"channel file not loaded", finder.GetFilePath());
        continue;
      }
      // Two file names that unescape to one name ignoring case: the first wins.
      if (!names.insert(plat::ToUpper(channel->GetName())).second) {
        LogSet(u"second channel file of one name skipped", finder.GetFilePath());
        continue;
      }
      Attach(channel.release(), true);
    }
    for (const auto& entry : missing) filter->Remove(entry.first);
  }
  FireListChanged();
}

// ---- Adding and removing ---------------------------------------------------------------

IChannel* CChannelSet::Add(const std::u16string& name) {
  if (name.empty() || readOnly_ != 0) return nullptr;
  if (!CChannel::IsValidName(name)) return nullptr;
  if (FindByNameNoCase(name) != nullptr) return nullptr;
  if (!DirectoryExists(GetGlobalOptions().GetContentFolder())) return nullptr;
  // A channel of that name whose file could not be read: its file is set
  // aside, and the new channel takes the name (and the data folder) again.
  for (const UnreadableFile& file : unreadable_) {
    if (plat::EqualsNoCase(file.name, name)) {
      if (!SetAsideUnreadable(file.name)) return nullptr;
      break;
    }
  }
  auto channel = std::make_unique<CChannel>(this);
  if (!channel->Rename(name)) return nullptr;
  CChannel* added = channel.release();
  Attach(added);
  CNotifyToday::GetInstance()->Notify();
  FireListChanged();
  return added;
}

void CChannelSet::Remove(const std::u16string& name) {
  CChannel* channel = FindByNameNoCase(name);
  if (channel == nullptr) return;
  const std::u16string removedName = channel->GetName();
  Detach(channel);
  auto it = std::find(channels_.begin(), channels_.end(), channel);
  if (it != channels_.end()) {
    *it = channels_.back();
    channels_.pop_back();
    Sort();
  }
  if (readOnly_ == 0) CTodayChannelFilter::GetInstance()->Remove(removedName);
  channel->DeleteFiles();
  delete channel;
  CNotifyToday::GetInstance()->Notify();
  FireListChanged();
}

std::vector<std::u16string> CChannelSet::GetUnreadableChannels() const {
  std::vector<std::u16string> names;
  for (const UnreadableFile& file : unreadable_) names.push_back(file.name);
  return names;
}

bool CChannelSet::SetAsideUnreadable(const std::u16string& name) {
  if (readOnly_ != 0) return false;
  auto it = std::find_if(unreadable_.begin(), unreadable_.end(),
                         [&](const UnreadableFile& file) { return plat::EqualsNoCase(file.name, name); });
  if (it == unreadable_.end()) return false;
  const std::u16string mutexName = std::u16string(kChannelMutexPrefix) + it->name;
  plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, mutexName.c_str());
  bool moved = false;
  {
    CMutexLock channelLock(mutex, GetChannelMutexTimeout());
    if (mutex != nullptr && channelLock.IsLocked()) {
      // A name of its own beside the file, so an earlier one set aside stays.
      std::u16string aside = it->path + u".damaged";
      for (int n = 2; plat::GetFileAttributesW(aside.c_str()) != plat::INVALID_FILE_ATTRIBUTES; ++n) {
        aside = it->path + u".damaged." + std::u16string(plat::Utf8ToUtf16(std::to_string(n)));
      }
      moved = !FileExists(it->path) || plat::MoveFileW(it->path.c_str(), aside.c_str()) != plat::FALSE;
      if (moved) LogSet(u"unreadable channel file set aside", aside);
    }
  }
  if (mutex != nullptr) plat::CloseHandle(mutex);
  if (!moved) {
    LogSet(u"unreadable channel file not set aside", it->path);
    return false;
  }
  unreadable_.erase(it);
  return true;
}

// ---- Moving the content folder ---------------------------------------------------------

bool CChannelSet::MoveContentFolder(const std::u16string& folder, const std::u16string& card) {
  CSyncLock lock(this, u"CChannelSet::MoveContentFolder");
  moveFailure_ = ContentMoveFailure{};
  if (readOnly_ != 0 || folder.empty()) return false;
  const std::u16string oldFolder = GetGlobalOptions().GetContentFolder();
  if (IsSameOrBelow(folder, oldFolder)) {
    LogSet(u"content folder not moved onto or into itself", folder);
    return false;
  }
  if (!CreateFolderTree(folder)) return false;

  // Everything in the content folder goes: the set's channels, channel files
  // that could not be read and their data folders, side files of stopped
  // saves. What stayed behind would lie where the program no longer reads.
  struct Entry {
    std::u16string name;  // in the content folder
    bool isFolder = false;
    std::u16string channel;  // the channel it belongs to (empty: none)
  };
  std::vector<Entry> entries;
  {
    CFileFinder files(oldFolder, u"*.*", true);
    while (files.FindNext()) entries.push_back({files.GetFileName(), false, {}});
    CFileFinder folders(oldFolder, u"*.*", false);
    while (folders.FindNext()) entries.push_back({folders.GetFileName(), true, {}});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return plat::CompareNoCase(a.name, b.name) < 0; });
  const std::u16string suffix = std::u16string(u".") + kChannelFileExtension;
  std::map<std::u16string, std::u16string> channelOfBase;  // escaped name in capitals -> channel name
  std::vector<std::u16string> names;
  for (Entry& entry : entries) {
    if (entry.isFolder || entry.name.size() <= suffix.size() ||
        !plat::EqualsNoCase(std::u16string_view(entry.name).substr(entry.name.size() - suffix.size()), suffix)) {
      continue;
    }
    const std::u16string base = entry.name.substr(0, entry.name.size() - suffix.size());
    entry.channel = CChannel::UnescapeName(base);
    channelOfBase[plat::ToUpper(base)] = entry.channel;
    if (std::find(names.begin(), names.end(), entry.channel) == names.end()) names.push_back(entry.channel);
  }
  for (Entry& entry : entries) {
    if (!entry.isFolder) continue;
    auto owner = channelOfBase.find(plat::ToUpper(entry.name));
    if (owner != channelOfBase.end()) entry.channel = owner->second;
  }

  // A channel whose name fits the old folder's paths but not the new one's
  // would not load there: refused, naming it, before anything moves.
  for (const std::u16string& name : names) {
    if (CChannel::IsValidNameIn(name, oldFolder) && !CChannel::IsValidNameIn(name, folder)) {
      moveFailure_ = {ContentMoveFailure::kNameTooLong, name};
      LogSet(u"content folder not moved, a channel name is too long for it", name);
      return false;
    }
  }
  // Every channel is held for the whole move, so no other program reads or
  // writes one half moved; one held elsewhere past the time-out refuses it.
  std::vector<plat::HANDLE> mutexes;
  std::vector<std::unique_ptr<CMutexLock>> held;
  auto letGo = [&] {
    held.clear();
    for (plat::HANDLE mutex : mutexes) plat::CloseHandle(mutex);
    mutexes.clear();
  };
  for (const std::u16string& name : names) {
    const std::u16string mutexName = std::u16string(kChannelMutexPrefix) + name;
    plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, mutexName.c_str());
    if (mutex != nullptr) {
      mutexes.push_back(mutex);
      held.push_back(std::make_unique<CMutexLock>(mutex, GetChannelMutexTimeout()));
    }
    if (mutex == nullptr || !held.back()->IsLocked()) {
      letGo();
      moveFailure_ = {ContentMoveFailure::kChannelBusy, name};
      LogSet(u"content folder not moved, a channel is busy", name);
      return false;
    }
  }

  std::u16string viewChannel, viewArticle;
  if (viewLocationKeeper_ != nullptr) viewLocationKeeper_->GetViewLocation(viewChannel, viewArticle);
  RemoveChannels();
  // The thumbnail pools in memory write what they hold to their files first,
  // so the files that move are whole and nothing is saved to the old folder later.
  UnloadAllThumbnailPools();

  auto moveEntry = [](const Entry& entry, const std::u16string& from, const std::u16string& to) {
    const std::u16string source = CombinePath(from, entry.name);
    const std::u16string target = CombinePath(to, entry.name);
    return entry.isFolder ? MoveFolderTree(source, target)
                          : plat::MoveFileW(source.c_str(), target.c_str()) != plat::FALSE;
  };
  std::size_t moved = 0;
  bool ok = true;
  for (; moved < entries.size(); ++moved) {
    const Entry& entry = entries[moved];
    const std::u16string what = entry.channel.empty() ? entry.name : entry.channel;
    // Nothing in the new folder is replaced or merged into.
    if (plat::GetFileAttributesW(CombinePath(folder, entry.name).c_str()) != plat::INVALID_FILE_ATTRIBUTES) {
      moveFailure_ = {ContentMoveFailure::kInTheWay, what};
      LogSet(u"content folder not moved, the new folder holds", entry.name);
      ok = false;
      break;
    }
    if (!moveEntry(entry, oldFolder, folder)) {
      // A folder may have half moved: what of it left comes back.
      if (entry.isFolder && DirectoryExists(CombinePath(folder, entry.name))) moveEntry(entry, folder, oldFolder);
      moveFailure_ = {ContentMoveFailure::kNotMoved, what};
      LogSet(u"content folder not moved, an entry could not be moved", entry.name);
      ok = false;
      break;
    }
  }
  if (ok) {
    ok = GetGlobalOptions().SetContentFolder(folder, card);
    if (!ok) LogSet(u"content folder setting not changed", folder);
  }
  // The pools name their images by full path: they follow the images, so
  // the lists show the thumbnails at once instead of making them again.
  if (ok) MovePoolKeys(folder, oldFolder, folder);
  if (!ok) {
    // Back to where everything was, so nothing is left elsewhere.
    for (std::size_t i = moved; i-- > 0;) {
      if (!moveEntry(entries[i], folder, oldFolder)) LogSet(u"entry not moved back", entries[i].name);
    }
  }
  letGo();
  LoadAll();
  if (viewLocationKeeper_ != nullptr) viewLocationKeeper_->RestoreViewLocation(viewChannel, viewArticle);
  return ok;
}

// ---- Events ------------------------------------------------------------------------------

void CChannelSet::OnDBEvent(CDBEvent* record) {
  if (record == nullptr) return;
  CUpdateItem::OnDBEvent(record);
  switch (record->type) {
    case DBE_UPDATE_STATUS_CHANGED:
      for (std::size_t i = 0; i < channels_.size(); ++i) {
        if (static_cast<IUpdateItem*>(channels_[i]) == record->item) {
          CDBEvent changed = CDBEvent::ChannelAtIndexChanged(static_cast<std::int32_t>(i));
          Fire(&changed);
          break;
        }
      }
      return;
    case DBE_CHANNEL_CHANGED: {
      const int index = IndexOf(record->channel);
      if (index >= 0) {
        CDBEvent changed = CDBEvent::ChannelAtIndexChanged(index);
        Fire(&changed);
      }
      return;
    }
    case DBE_ARTICLE_UPDATE_ENDED:
    case DBE_ARTICLE_DONE:
    case DBE_ARTICLE_READ_CHANGED:
      Fire(record);
      return;
    case DBE_CHANNEL_RENAMED:
      if (readOnly_ == 0 && record->channel != nullptr) {
        // The Today item keeps showing (or hiding) the channel under its new name.
        CTodayChannelFilter* filter = CTodayChannelFilter::GetInstance();
        CStringToStringMap entries;
        filter->GetEntries(entries);
        auto old = entries.find(record->oldText);
        if (old != entries.end()) {
          const bool included = old->second == u"1";
          filter->Remove(record->oldText);
          filter->SetIncluded(record->channel->GetName(), included);
        }
      }
      Sort();
      CNotifyToday::GetInstance()->Notify();
      FireListChanged();
      return;
    default:
      return;
  }
}
