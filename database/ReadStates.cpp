#include "database/ReadStates.h"

#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "core/RecordEncoding.h"
#include "core/Streams.h"
#include "database/ChannelMutexTimeout.h"
#include "database/DataModel.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"

std::unique_ptr<CReadStates> CReadStates::Create(const std::u16string& path, const std::u16string& mutexName) {
  if (path.empty() || mutexName.empty()) return nullptr;
  return std::unique_ptr<CReadStates>(new CReadStates(path, mutexName));
}

CReadStates::CReadStates(const std::u16string& path, const std::u16string& mutexName)
    : path_(path), mutexName_(mutexName) {}

CReadStates::~CReadStates() {
  Save();
  if (mutex_ != nullptr) plat::CloseHandle(mutex_);
}

plat::HANDLE CReadStates::Mutex() {
  if (mutex_ == nullptr) mutex_ = plat::CreateMutexW(nullptr, plat::FALSE, mutexName_.c_str());
  return mutex_;
}

void CReadStates::ReadFile() {
  CFileReader reader(path_);
  if (!reader.IsOpen()) return;
  std::int32_t count = 0;
  if (!ReadInt32(reader, count) || count < 0) return;
  // Reading stops where the file does, whatever the count claims.
  for (std::int32_t i = 0; i < count; ++i) {
    std::u16string id;
    if (!ReadDigest(reader, id)) break;
    unread_.insert(id);
  }
}

bool CReadStates::Load() {
  if (loaded_ != 0) return true;
  plat::HANDLE mutex = Mutex();
  CMutexLock lock(mutex, GetChannelMutexTimeout());
  // A mutex that could not be had is not an empty file: nothing counts as
  // loaded, and the changes made meanwhile wait to be laid over the file.
  if (mutex == nullptr || !lock.IsLocked()) return false;
  LoadLocked();
  return true;
}

void CReadStates::LoadLocked() {
  if (loaded_ != 0) return;
  // Changes made before the file could be read stand over what it holds.
  CStringSet changedUnread;
  CStringSet changedRead;
  changedUnread.swap(unread_);
  changedRead.swap(read_);
  if (FileExists(path_)) ReadFile();
  for (const std::u16string& id : changedRead) unread_.erase(id);
  for (const std::u16string& id : changedUnread) unread_.insert(id);
  loaded_ = 1;
  count_ = static_cast<std::int32_t>(unread_.size());
}

std::int32_t CReadStates::GetUnreadCount() {
  if (count_ >= 0) return count_;
  plat::HANDLE mutex = Mutex();
  CMutexLock lock(mutex, GetChannelMutexTimeout());
  if (mutex == nullptr || !lock.IsLocked()) return count_;
  if (loaded_ == 0 && dirty_ != 0) {
    // Changes wait for the file: the count is of both together.
    LoadLocked();
    count_ = static_cast<std::int32_t>(unread_.size());
    return count_;
  }
  std::int64_t size = -1;
  {
    CFileReader reader(path_);
    if (reader.IsOpen()) size = reader.Remaining();
  }
  if (size < 0) {
    count_ = 0;
  } else if (size >= 4 && (size - 4) % 16 == 0) {
    count_ = static_cast<std::int32_t>((size - 4) / 16);
  } else {
    // Damaged: count what can be read of it (the mutex is still held).
    LoadLocked();
    count_ = static_cast<std::int32_t>(unread_.size());
  }
  return count_;
}

bool CReadStates::IsRead(IArticle* article) {
  if (article == nullptr) return true;
  // Not loaded (the mutex busy): as far as is known, what was marked since.
  Load();
  return unread_.count(article->GetId()) == 0;
}

bool CReadStates::SetRead(IArticle* article, bool read, bool saveNow) {
  if (article == nullptr) return false;
  const std::u16string& id = article->GetId();
  if (!Load()) {
    // The mark waits for the file; it is written with it.
    if (read) {
      if (read_.count(id) != 0) return false;
      unread_.erase(id);
      read_.insert(id);
    } else {
      if (unread_.count(id) != 0) return false;
      read_.erase(id);
      unread_.insert(id);
    }
    count_ = -1;
    dirty_ = 1;
    if (saveNow) Save();
    return true;
  }
  const bool isRead = unread_.count(id) == 0;
  if (read == isRead) return false;
  if (read) {
    unread_.erase(id);
  } else {
    unread_.insert(id);
  }
  count_ = static_cast<std::int32_t>(unread_.size());
  dirty_ = 1;
  if (saveNow) Save();
  return true;
}

bool CReadStates::RemoveMissing(const CStringSet& validIds) {
  // Only the whole set can be cleaned.
  if (!Load()) return false;
  bool removed = false;
  for (auto it = unread_.begin(); it != unread_.end();) {
    if (validIds.count(*it) == 0) {
      it = unread_.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  if (removed) {
    count_ = static_cast<std::int32_t>(unread_.size());
    dirty_ = 1;
    Save();
  }
  return removed;
}

bool CReadStates::PrepareSave(plat::FileReplaceBatch& batch) {
  prepared_ = 0;
  if (dirty_ == 0) return true;
  if (readOnly_ && readOnly_()) return false;
  // Called with the channel mutex held: the file can be read in now. A set
  // that was never read in is not written over the stored one.
  if (loaded_ == 0) {
    plat::HANDLE mutex = Mutex();
    CMutexLock lock(mutex, GetChannelMutexTimeout());
    if (mutex == nullptr || !lock.IsLocked()) return false;
    LoadLocked();
  }
  if (unread_.empty()) {
    prepared_ = 2;
    return true;
  }
  CBufferWriter out;
  if (!WriteDigestSet(out, unread_) || !batch.Add(path_, out.GetData(), out.GetSize())) return false;
  prepared_ = 1;
  return true;
}

void CReadStates::FinishSave(bool committed) {
  const int prepared = prepared_;
  prepared_ = 0;
  if (!committed || prepared == 0) return;
  if (prepared == 2 && !DeleteFileIfExists(path_)) return;
  dirty_ = 0;
}

void CReadStates::MarkAllRead() {
  count_ = 0;
  unread_.clear();
  read_.clear();
  loaded_ = 1;
  dirty_ = 1;
  Save();
}

bool CReadStates::Save() {
  if (dirty_ == 0) return true;
  if (readOnly_ && readOnly_()) return false;
  plat::HANDLE mutex = Mutex();
  CMutexLock lock(mutex, GetChannelMutexTimeout());
  if (mutex == nullptr || !lock.IsLocked()) return false;
  LoadLocked();
  bool ok = true;
  if (!unread_.empty()) {
    CBufferWriter out;
    ok = WriteDigestSet(out, unread_) && plat::ReplaceFileContents(path_, out.GetData(), out.GetSize());
  } else {
    ok = DeleteFileIfExists(path_);
  }
  if (ok) dirty_ = 0;
  return ok;
}
