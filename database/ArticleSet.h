// The articles of a channel in the order they were added, with the count
// limit, the relay of their events and the article section of the headers
// file.
#pragma once
#include <vector>

#include "database/Article.h"
#include "database/DataModel.h"

class CArticleSet : public IArticleSet, public CUpdateItem {
 public:
  CArticleSet() = default;
  // Destroys the articles still held, quietly (the channel normally empties
  // the set with RemoveAll first).
  ~CArticleSet() override;
  CArticleSet(const CArticleSet&) = delete;
  CArticleSet& operator=(const CArticleSet&) = delete;

  void SetChannel(IHeadersOwner* owner) { owner_ = owner; }

  // int32 count, then the records. Stops at the first record that fails to
  // read: records carry no lengths, so nothing after it can be trusted. An
  // article past the age limit is dropped (with its binaries' files) only
  // when the whole section read well; after a damaged read it is dropped
  // keeping every file. False when the section was damaged (a bad count or
  // record, or bytes after the last record).
  bool Read(CBaseReader& reader) override;
  // The writable articles built in memory, then the count and the bytes in
  // one write. False when a write failed.
  bool Write(CBaseWriter& writer) override;
  void RemoveAll() override;
  int GetCount() override { return static_cast<int>(articles_.size()); }
  IArticle* GetAt(int index) override;
  IArticle* FindById(const std::u16string& id) override;
  void DeleteAll() override;

  // Appends, adopts, and applies the count limit (the live article with the
  // smallest order value becomes a tombstone).
  void Add(CArticle* article);
  CArticle* GetArticleAt(int index);
  std::size_t GetLiveCount() const { return heap_.GetCount(); }

  void OnDBEvent(CDBEvent* record) override;

 private:
  void Destroy(CArticle* article);

  IHeadersOwner* owner_ = nullptr;
  std::vector<CArticle*> articles_;
  CArticlesOrderHeap heap_;
};
