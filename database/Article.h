// One item of a channel: its identity, the fields lists show without opening
// it, its manual-update setting, its deletion state and its binaries. The
// rest of its properties live in the channel's data bank under its id.
#pragma once
#include <cstdint>
#include <string>

#include "database/BinarySet.h"
#include "database/DataModel.h"
#include "database/Heap.h"

enum ArticleDeletionState : std::uint8_t {
  ADS_LIVE = 0,
  ADS_DELETED = 1,    // a tombstone, still written
  ADS_FORGOTTEN = 2,  // no longer written
};

enum ArticleManualUpdate : std::uint8_t {
  AMU_OFF = 0,
  AMU_ON = 1,
  AMU_CHANNEL = 2,  // follow the channel's option
};

// How reading one article record ended.
enum class ArticleReadResult {
  Ok,
  Bad,     // the record could not be read: the rest of the stream is not to be trusted
  TooOld,  // read whole, but past the channel's age limit
};

class CArticle : public IArticle, public CUpdateItem {
 public:
  explicit CArticle(IHeadersOwner* owner);
  ~CArticle() override;
  CArticle(const CArticle&) = delete;
  CArticle& operator=(const CArticle&) = delete;

  IChannel* GetChannel() override;
  bool Read(CBaseReader& reader) override;
  bool Write(CBaseWriter& writer) override;
  const std::u16string& GetId() override { return id_; }
  const std::u16string& GetSecondDigest() override { return secondDigest_; }
  void SetSecondDigest(const std::u16string& digest) override;
  bool GetDate(plat::FILETIME& date) override;
  void SetDate(const plat::FILETIME& date) override;
  void GetDateText(std::u16string& text) override;
  const std::u16string& GetTitle() override { return title_; }
  void SetTitle(const std::u16string& title) override;
  const std::u16string& GetImageUrl() override { return imageUrl_; }
  void SetImageUrl(const std::u16string& url) override;
  std::uint32_t GetOrder() override { return order_; }
  void SetOrder(std::uint32_t order) override;
  IBinarySet* GetBinaries() override { return &binaries_; }
  void Delete() override;
  bool IsDeleted() override { return deletion_ != ADS_LIVE; }
  void Forget() override;
  std::uint8_t GetManualUpdate() override;
  void SetManualUpdate(bool manual) override;
  void NotifyChanged() override;

  void SetId(const std::u16string& id);
  void Detach();

  // Read, telling a bad record from one past the age limit.
  ArticleReadResult ReadRecord(CBaseReader& reader);
  // Whether Write would write a record (an id, not forgotten).
  bool IsWritable() const { return !id_.empty() && deletion_ != ADS_FORGOTTEN; }
  // A live article older than the channel's age limit (date, else updated
  // time, against now; all in UTC).
  bool IsPastAgeLimit();

  std::uint8_t GetDeletionState() const { return deletion_; }
  std::uint8_t GetManualUpdateByte() const { return manualUpdate_; }
  std::uint64_t GetUpdatedTime() const { return updated_; }
  void SetUpdatedTime(std::uint64_t fileTime) { updated_ = fileTime; }
  CBinarySetStub& GetBinarySetStub() { return binaries_; }

  // Own state changes are ignored on a tombstone; when the own update ends
  // (6 or 4) the updated time is now and event 13 follows; when the article
  // and its binaries are done, event 14. A binary that changes the article's
  // status after its own update ended stamps the time and fires 13 as well.
  void SetUpdateState(std::uint32_t state) override;
  void OnDBEvent(CDBEvent* record) override;

 private:
  void MarkDirty();
  void FireArticle(std::uint32_t type);
  IChannelOptions* Options();

  IHeadersOwner* owner_;
  std::u16string id_;
  std::u16string secondDigest_;
  std::uint32_t order_ = 0;
  std::uint64_t date_ = 0;
  std::uint64_t updated_ = 0;
  std::u16string title_;
  std::u16string imageUrl_;
  std::uint8_t manualUpdate_ = AMU_CHANNEL;
  std::uint8_t deletion_ = ADS_LIVE;
  CBinarySetStub binaries_;
  int detached_ = 0;
};

// Articles by order value, the smallest at the root.
class CArticlesOrderHeap : public CHeap<CArticle> {
 public:
  int Compare(const CArticle* a, const CArticle* b) const override;
};
