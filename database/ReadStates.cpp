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

void CReadStates::Load() {
  if (loaded_ != 0) return;
  plat::HANDLE mutex = Mutex();
  CMutexLock lock(mutex, GetChannelMutexTimeout());
  if (mutex != nullptr && lock.IsLocked() && FileExists(path_)) ReadFile();
  loaded_ = 1;
  dirty_ = 0;
}

std::int32_t CReadStates::GetUnreadCount() {
  if (count_ >= 0) return count_;
  plat::HANDLE mutex = Mutex();
  CMutexLock lock(mutex, GetChannelMutexTimeout());
  if (mutex == nullptr || !lock.IsLocked()) return count_;
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
    // Damaged: count what can be read of it.
    lock.Release();
    Load();
    count_ = static_cast<std::int32_t>(unread_.size());
  }
  return count_;
}

bool CReadStates::IsRead(IArticle* article) {
  if (article == nullptr) return true;
  Load();
  return unread_.count(article->GetId()) == 0;
}

bool CReadStates::SetRead(IArticle* article, bool read, bool saveNow) {
  if (article == nullptr) return false;
  Load();
  const std::u16string& id = article->GetId();
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
  Load();
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
