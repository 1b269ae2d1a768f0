// The binaries of a channel (CBinarySet: one binary per URL, with a use count)
// and of one article (CBinarySetStub: the article's URLs, bound to the
// channel's set, which it adds and removes uses in).
#pragma once
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

#include "database/AccountedObject.h"
#include "database/Binary.h"
#include "database/DataModel.h"

class CBinarySet : public IBinarySet, public CUpdateItem, public CAccountedObject<g_nCountBinarySets> {
 public:
  CBinarySet() = default;
  // Destroys what is left without touching files.
  ~CBinarySet() override;
  CBinarySet(const CBinarySet&) = delete;
  CBinarySet& operator=(const CBinarySet&) = delete;

  void SetChannel(IHeadersOwner* owner) { owner_ = owner; }
  IHeadersOwner* GetOwner() const { return owner_; }

  IChannel* GetChannel() override;
  void GetFolder(std::u16string& folder) override;
  void AddUrl(const std::u16string& url) override;
  void AddUrls(const CStringSet& urls) override;
  void RemoveUrl(const std::u16string& url) override;
  void RemoveUrls(const CStringSet& urls) override;
  IBinary* Lookup(const std::u16string& url) override;
  void SetUrls(const CStringSet&) override {}
  void CopyEntries(CStringSet& urls) override;
  bool IsEmpty() override { return binaries_.empty(); }
  // Destroys every binary with its file, whatever its use count.
  void RemoveAll() override;

  // The binary section of the headers file: int32 count, then the records.
  // False when a write failed.
  bool Write(CBaseWriter& writer);
  // Reads only into an empty set. Stops at the first record that fails to
  // read (what follows cannot be trusted) and answers false then; a URL read
  // twice keeps its first binary. Deletes no file for a failed record.
  bool Read(CBaseReader& reader);
  // Destroys, with their files, the binaries no one uses.
  void RemoveUnreferenced();
  // Unloading: destroys every binary and keeps the files.
  void Clear();
  // Forgets the listing of the folder that names new binaries: the next new
  // binary lists it again (an update ends, files may change).
  void ForgetFileNames() { takenNames_.reset(); }

  CBinary* Find(const std::u16string& url);
  std::size_t GetCount() const { return binaries_.size(); }

  void OnDBEvent(CDBEvent* record) override;

 private:
  bool AddOne(const std::u16string& url);
  bool RemoveOne(const std::u16string& url);
  void Destroy(CBinary* binary, bool deleteFile, bool announce);
  void MarkDirty();
  static std::unordered_set<std::u16string> ListFileNames(const std::u16string& folder);

  IHeadersOwner* owner_ = nullptr;
  std::map<std::u16string, CBinary*> binaries_;
  // Names (lower case) of the folder's files and of the binaries named since
  // it was listed; empty until a new binary needs a name.
  std::optional<std::unordered_set<std::u16string>> takenNames_;
};

class CBinarySetStub : public IBinarySet, public CUpdateItem {
 public:
  CBinarySetStub() = default;
  ~CBinarySetStub() override = default;
  CBinarySetStub(const CBinarySetStub&) = delete;
  CBinarySetStub& operator=(const CBinarySetStub&) = delete;

  bool Bind(CBinarySet* set);
  bool IsBound() const { return set_ != nullptr; }
  // Lets go of the binaries' events and counts; the set's use counts stay.
  void Detach();

  IChannel* GetChannel() override;
  void GetFolder(std::u16string& folder) override;
  void AddUrl(const std::u16string& url) override;
  void AddUrls(const CStringSet& urls) override;
  void RemoveUrl(const std::u16string& url) override;
  void RemoveUrls(const CStringSet& urls) override;
  IBinary* Lookup(const std::u16string& url) override;
  void SetUrls(const CStringSet& urls) override;
  void CopyEntries(CStringSet& urls) override;
  bool IsEmpty() override { return urls_.empty(); }
  void RemoveAll() override;

  bool Write(CBaseWriter& writer);
  bool Read(CBaseReader& reader);

  const CStringSet& GetUrls() const { return urls_; }

  void OnDBEvent(CDBEvent* record) override;

 private:
  bool ImagesDisabled();
  void Adopt(const std::u16string& url);
  void Release(CBinary* binary);

  CBinarySet* set_ = nullptr;
  CStringSet urls_;
};
