#include "database/Binary.h"

#include "database/BinarySet.h"

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/RecordEncoding.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"

std::atomic<long> g_nCountBinaries{0};
std::atomic<long> g_nCountBinarySets{0};

std::uint32_t NormalizeStoredUpdateState(std::int32_t state) {
  const auto value = static_cast<std::uint32_t>(state);
  if (value == US_UPDATING) return US_WAITING;
  if (value > US_NEVER_UPDATED) return US_UP_TO_DATE;
  return value;
}

CBinary::CBinary(IBinarySet* set, const std::u16string& url, const std::u16string& folder,
                 std::unordered_set<std::u16string>* taken)
    : set_(set), url_(url) {
  CUpdateItem::SetUpdateState(US_WAITING);
  if (taken == nullptr) {
    fileName_ = MakeUniqueFileName(folder, GetMd5Hex(url), u"");
    return;
  }
  fileName_ = MakeUniqueFileName(GetMd5Hex(url), u"",
                                 [taken](const std::u16string& name) { return taken->count(plat::ToLower(name)) != 0; });
  taken->insert(plat::ToLower(fileName_));
}

CBinary::CBinary(IBinarySet* set) : set_(set) {}

std::u16string CBinary::Folder() {
  std::u16string folder;
  if (set_ != nullptr) set_->GetFolder(folder);
  return folder;
}

void CBinary::GetFileName(std::u16string& name, bool full) {
  if (!full) {
    name = fileName_;
    return;
  }
  name = fileName_.empty() ? std::u16string() : CombinePath(Folder(), fileName_);
}

bool CBinary::IsDownloaded() {
  if (GetUpdateStatus() != US_UP_TO_DATE || fileName_.empty()) return false;
  std::u16string path;
  GetFileName(path, true);
  return FileExists(path);
}

void CBinary::DeleteLocalFile() {
  // A read-only reader of the database (the Today item) never deletes files.
  auto* set = dynamic_cast<CBinarySet*>(set_);
  if (set != nullptr && set->GetOwner() != nullptr && set->GetOwner()->IsReadOnlyMode()) return;
  std::u16string path;
  GetFileName(path, true);
  if (!path.empty()) DeleteFileIfExists(path);
}

void CBinary::ChangeExtension(const std::u16string& extension) {
  std::u16string oldPath;
  GetFileName(oldPath, true);
  std::u16string stem = fileName_;
  const std::size_t dot = FindLastChar(stem, u'.');
  if (dot != std::u16string::npos) stem.resize(dot);
  fileName_ = MakeUniqueFileName(Folder(), stem, u"." + extension);
  std::u16string newPath;
  GetFileName(newPath, true);
  if (!oldPath.empty() && FileExists(oldPath)) plat::MoveFileW(oldPath.c_str(), newPath.c_str());
  CDBEvent record = CDBEvent::ForBinary(DBE_BINARY_RENAMED, this);
  Fire(&record);
}

bool CBinary::Write(CBaseWriter& writer) {
  bool ok = WriteInt32(writer, GetOwnUpdateState());
  ok = ok && WriteString(writer, url_);
  ok = ok && WriteString(writer, fileName_);
  return ok;
}

bool CBinary::Read(CBaseReader& reader) {
  if (!ReadRecord(reader)) return false;
  ResetPartialDownload();
  return true;
}

bool CBinary::IsPartialDownload() {
  const std::uint32_t own = GetOwnUpdateState();
  return own != US_UP_TO_DATE && own != US_FAILED;
}

void CBinary::ResetPartialDownload(bool fileMayExist) {
  if (IsPartialDownload()) {
    if (fileMayExist) DeleteLocalFile();
    CUpdateItem::SetUpdateState(US_WAITING);
  }
}

bool CBinary::ReadRecord(CBaseReader& reader) {
  std::int32_t state = 0;
  if (!ReadInt32(reader, state)) return false;
  CUpdateItem::SetUpdateState(NormalizeStoredUpdateState(state));
  bool ok = ReadString(reader, url_) && !url_.empty() && ReadString(reader, fileName_);
  // The name is joined to the bin folder and its file deleted on occasion: a
  // name that leaves the folder is damage, not a file of ours.
  if (ok && (fileName_.find_first_of(u"\\/") != std::u16string::npos || fileName_ == u"." ||
             fileName_ == u"..")) {
    ok = false;
  }
  return ok;
}

void CBinary::FireUpdateStatusChanged(std::uint32_t oldStatus) {
  CUpdateItem::FireUpdateStatusChanged(oldStatus);
  if (GetOwnUpdateState() == US_UP_TO_DATE) {
    CDBEvent record = CDBEvent::ForBinary(DBE_BINARY_STATE_CHANGED, this);
    Fire(&record);
  }
}
