#include "database/BinarySet.h"

#include <optional>
#include <unordered_set>
#include <vector>

#include "core/FileUtils.h"
#include "core/RecordEncoding.h"
#include "database/ChannelOptions.h"
#include "platform/base/Text.h"

// ---- CBinarySet ----------------------------------------------------------------

CBinarySet::~CBinarySet() {
  for (auto& entry : binaries_) {
    Unsubscribe(entry.second);
    delete entry.second;
  }
  binaries_.clear();
}

IChannel* CBinarySet::GetChannel() { return owner_ != nullptr ? owner_->GetChannelInterface() : nullptr; }

void CBinarySet::GetFolder(std::u16string& folder) {
  folder = owner_ != nullptr ? owner_->GetBinFolder() : std::u16string();
}

void CBinarySet::MarkDirty() {
  if (owner_ != nullptr) owner_->MarkHeadersDirty();
}

CBinary* CBinarySet::Find(const std::u16string& url) {
  auto it = binaries_.find(url);
  return it == binaries_.end() ? nullptr : it->second;
}

bool CBinarySet::AddOne(const std::u16string& url) {
  if (url.empty()) return false;
  bool created = false;
  CBinary* binary = Find(url);
  if (binary == nullptr) {
    std::u16string folder;
    GetFolder(folder);
    // The folder is listed once for the binaries an update adds, not
    // searched again for each new name.
    if (!takenNames_ && !folder.empty()) takenNames_ = ListFileNames(folder);
    binary = new CBinary(this, url, folder, folder.empty() ? nullptr : &*takenNames_);
    Subscribe(binary);
    AddChild(binary);
    binaries_[url] = binary;
    CDBEvent record = CDBEvent::ForBinaryInSet(DBE_BINARY_ADDED, this, binary);
    Fire(&record);
    created = true;
  }
  binary->SetUseCount(binary->GetUseCount() + 1);
  return created;
}

std::unordered_set<std::u16string> CBinarySet::ListFileNames(const std::u16string& folder) {
  std::unordered_set<std::u16string> names;
  CFileFinder finder(folder, u"*.*", true);
  while (finder.FindNext()) names.insert(plat::ToLower(finder.GetFileName()));
  return names;
}

void CBinarySet::Destroy(CBinary* binary, bool deleteFile, bool announce) {
  if (deleteFile) takenNames_.reset();
  Unsubscribe(binary);
  RemoveChild(binary);
  binaries_.erase(binary->GetUrl());
  if (announce) {
    CDBEvent record = CDBEvent::ForBinaryInSet(DBE_BINARY_REMOVED, this, binary);
    Fire(&record);
  }
  if (deleteFile) binary->DeleteLocalFile();
  delete binary;
}

bool CBinarySet::RemoveOne(const std::u16string& url) {
  if (url.empty()) return false;
  CBinary* binary = Find(url);
  if (binary == nullptr) return false;
  if (binary->GetUseCount() < 2) {
    Destroy(binary, true, true);
    return true;
  }
  binary->SetUseCount(binary->GetUseCount() - 1);
  return false;
}

void CBinarySet::AddUrl(const std::u16string& url) {
  if (AddOne(url)) MarkDirty();
}

void CBinarySet::AddUrls(const CStringSet& urls) {
  bool created = false;
  for (const auto& url : urls) created = AddOne(url) || created;
  if (created) MarkDirty();
}

void CBinarySet::RemoveUrl(const std::u16string& url) {
  if (RemoveOne(url)) MarkDirty();
}

void CBinarySet::RemoveUrls(const CStringSet& urls) {
  bool destroyed = false;
  for (const auto& url : urls) destroyed = RemoveOne(url) || destroyed;
  if (destroyed) MarkDirty();
}

IBinary* CBinarySet::Lookup(const std::u16string& url) { return Find(url); }

void CBinarySet::CopyEntries(CStringSet& urls) {
  for (const auto& entry : binaries_) urls.insert(entry.first);
}

bool IBinarySet::GetDownloadedFile(const std::u16string& url, std::u16string& path) {
  path.clear();
  if (url.empty()) return false;
  IBinary* binary = Lookup(url);
  if (binary == nullptr || !binary->IsDownloaded()) return false;
  binary->GetFileName(path, true);
  return true;
}

void CBinarySet::RemoveAll() {
  if (binaries_.empty()) return;
  while (!binaries_.empty()) Destroy(binaries_.begin()->second, true, true);
  MarkDirty();
}

void CBinarySet::Clear() {
  takenNames_.reset();
  while (!binaries_.empty()) Destroy(binaries_.begin()->second, false, true);
}

bool CBinarySet::Write(CBaseWriter& writer) {
  if (!WriteInt32(writer, static_cast<std::int32_t>(binaries_.size()))) return false;
  for (auto& entry : binaries_) {
    if (!entry.second->Write(writer)) return false;
  }
  return true;
}

bool CBinarySet::Read(CBaseReader& reader) {
  if (!binaries_.empty()) return true;
  std::int32_t count = 0;
  if (!ReadInt32(reader, count) || count < 0) return false;
  // The folder's files, listed once (in lower case) for the binaries whose
  // download was cut short: probing each name would scan the folder again.
  std::optional<std::unordered_set<std::u16string>> files;
  takenNames_.reset();
  for (std::int32_t i = 0; i < count; ++i) {
    auto* binary = new CBinary(this);
    if (!binary->ReadRecord(reader)) {
      // Records carry no lengths: nothing after a bad one can be trusted.
      delete binary;
      return false;
    }
    if (Find(binary->GetUrl()) != nullptr) {
      // A repeated URL: the first record stands. The copy was never counted
      // in nor subscribed to, and its file (likely the first one's) stays.
      delete binary;
      continue;
    }
    if (binary->IsPartialDownload()) {
      if (!files) {
        std::u16string folder;
        GetFolder(folder);
        files = folder.empty() ? std::unordered_set<std::u16string>() : ListFileNames(folder);
      }
      std::u16string name;
      binary->GetFileName(name, false);
      binary->ResetPartialDownload(!name.empty() && files->count(plat::ToLower(name)) != 0);
    }
    Subscribe(binary);
    AddChild(binary);
    binaries_[binary->GetUrl()] = binary;
  }
  return true;
}

void CBinarySet::RemoveUnreferenced() {
  CStringSet unused;
  for (const auto& entry : binaries_) {
    if (entry.second->GetUseCount() == 0) unused.insert(entry.first);
  }
  if (!unused.empty()) RemoveUrls(unused);
}

void CBinarySet::OnDBEvent(CDBEvent* record) {
  if (record != nullptr) {
    switch (record->type) {
      case DBE_UPDATE_STATUS_CHANGED:
        if (record->item != nullptr && record->item != static_cast<IUpdateItem*>(this)) {
          const std::uint32_t status = record->item->GetUpdateStatus();
          if (status == US_FAILED || status == US_UP_TO_DATE) MarkDirty();
          takenNames_.reset();  // a download writes or removes its file
        }
        CUpdateItem::OnDBEvent(record);
        break;
      case DBE_BINARY_RENAMED:
        takenNames_.reset();
        if (record->binary != nullptr && record->binary->GetUpdateStatus() == US_UP_TO_DATE) MarkDirty();
        break;
      case DBE_BINARY_STATE_CHANGED:
        Fire(record);
        break;
      default:
        break;
    }
  }
  CDBEventListener::OnDBEvent(record);
}

// ---- CBinarySetStub --------------------------------------------------------------

bool CBinarySetStub::Bind(CBinarySet* set) {
  if (set_ != nullptr || set == nullptr) return false;
  set_ = set;
  if (!urls_.empty()) {
    CStringSet held;
    held.swap(urls_);
    set_->AddUrls(held);
    for (const auto& url : held) Adopt(url);
  }
  return true;
}

void CBinarySetStub::Detach() {
  if (set_ == nullptr) return;
  for (const auto& url : urls_) {
    CBinary* binary = set_->Find(url);
    if (binary == nullptr) continue;
    Unsubscribe(binary);
    RemoveChild(binary);
    CDBEvent record = CDBEvent::ForBinaryInSet(DBE_BINARY_REMOVED, this, binary);
    Fire(&record);
  }
  set_ = nullptr;
}

IChannel* CBinarySetStub::GetChannel() { return set_ != nullptr ? set_->GetChannel() : nullptr; }

void CBinarySetStub::GetFolder(std::u16string& folder) {
  if (set_ != nullptr) {
    set_->GetFolder(folder);
  } else {
    folder.clear();
  }
}

bool CBinarySetStub::ImagesDisabled() {
  if (set_ == nullptr || set_->GetOwner() == nullptr) return false;
  IChannelOptions* options = set_->GetOwner()->GetChannelOptions();
  return options != nullptr && options->GetDisableImagesInArticles() != 0;
}

// After the backing set took its use: the stub holds the URL and the binary.
void CBinarySetStub::Adopt(const std::u16string& url) {
  CBinary* binary = set_->Find(url);
  if (binary == nullptr) return;
  urls_.insert(url);
  Subscribe(binary);
  AddChild(binary);
  CDBEvent record = CDBEvent::ForBinaryInSet(DBE_BINARY_ADDED, this, binary);
  Fire(&record);
}

void CBinarySetStub::Release(CBinary* binary) {
  Unsubscribe(binary);
  CDBEvent record = CDBEvent::ForBinaryInSet(DBE_BINARY_REMOVED, this, binary);
  Fire(&record);
  RemoveChild(binary);
}

void CBinarySetStub::AddUrl(const std::u16string& url) {
  if (set_ == nullptr || ImagesDisabled() || url.empty() || urls_.count(url) != 0) return;
  set_->AddUrl(url);
  Adopt(url);
}

void CBinarySetStub::AddUrls(const CStringSet& urls) {
  if (set_ == nullptr || ImagesDisabled()) return;
  CStringSet added;
  for (const auto& url : urls) {
    if (!url.empty() && urls_.count(url) == 0) added.insert(url);
  }
  if (added.empty()) return;
  set_->AddUrls(added);
  for (const auto& url : added) Adopt(url);
}

void CBinarySetStub::RemoveUrl(const std::u16string& url) {
  if (set_ == nullptr || urls_.count(url) == 0) return;
  CBinary* binary = set_->Find(url);
  if (binary != nullptr) Release(binary);
  urls_.erase(url);
  if (binary != nullptr) set_->RemoveUrl(url);
}

void CBinarySetStub::RemoveUrls(const CStringSet& urls) {
  if (set_ == nullptr) return;
  CStringSet removed;
  for (const auto& url : urls) {
    if (urls_.count(url) == 0) continue;
    removed.insert(url);
    CBinary* binary = set_->Find(url);
    if (binary != nullptr) Release(binary);
    urls_.erase(url);
  }
  if (!removed.empty()) set_->RemoveUrls(removed);
}

IBinary* CBinarySetStub::Lookup(const std::u16string& url) {
  if (set_ == nullptr || urls_.count(url) == 0) return nullptr;
  return set_->Lookup(url);
}

void CBinarySetStub::SetUrls(const CStringSet& urls) {
  if (ImagesDisabled()) return;
  CStringSet toRemove;
  CStringSet toAdd;
  for (const auto& url : urls_) {
    if (urls.count(url) == 0) toRemove.insert(url);
  }
  for (const auto& url : urls) {
    if (urls_.count(url) == 0) toAdd.insert(url);
  }
  RemoveUrls(toRemove);
  AddUrls(toAdd);
  CDBEvent record = CDBEvent::BinarySetRefilled(this);
  Fire(&record);
}

void CBinarySetStub::CopyEntries(CStringSet& urls) { urls.insert(urls_.begin(), urls_.end()); }

void CBinarySetStub::RemoveAll() {
  if (set_ == nullptr || urls_.empty()) return;
  for (const auto& url : urls_) {
    CBinary* binary = set_->Find(url);
    if (binary != nullptr) Release(binary);
  }
  CStringSet held;
  held.swap(urls_);
  set_->RemoveUrls(held);
  CDBEvent record = CDBEvent::BinarySetRefilled(this);
  Fire(&record);
}

bool CBinarySetStub::Write(CBaseWriter& writer) { return WriteStringSet(writer, urls_); }

bool CBinarySetStub::Read(CBaseReader& reader) {
  CStringSet urls;
  if (!ReadStringSet(reader, urls)) return false;
  if (set_ != nullptr && !urls.empty()) AddUrls(urls);
  return true;
}

void CBinarySetStub::OnDBEvent(CDBEvent* record) {
  if (record != nullptr && record->type == DBE_BINARY_STATE_CHANGED) Fire(record);
  CUpdateItem::OnDBEvent(record);
}
