#include "database/Article.h"

#include "core/DateUtils.h"
#include "core/Md5.h"
#include "core/RecordEncoding.h"
#include "database/ChannelOptions.h"
#include "platform/base/Text.h"

namespace {

// The MD5 of empty input.
const std::u16string kEmptyInputMd5 = u"d41d8cd98f00b204e9800998ecf8427e";

std::uint64_t NowFileTime() { return plat::CurrentClock().NowUtcFileTime(); }

// Seconds since 1970 of a UTC file time.
std::int64_t UnixSeconds(std::uint64_t fileTime) {
  return (static_cast<std::int64_t>(fileTime) - static_cast<std::int64_t>(plat::FILETIME_UNIX_EPOCH)) /
         static_cast<std::int64_t>(plat::FILETIME_TICKS_PER_SECOND);
}

}  // namespace

CArticle::CArticle(IHeadersOwner* owner) : owner_(owner) {
  secondDigest_ = kEmptyInputMd5;
  updated_ = NowFileTime();
  if (owner_ != nullptr) binaries_.Bind(owner_->GetBinarySetObject());
  AddChild(&binaries_);
  Subscribe(&binaries_);
}

CArticle::~CArticle() {
  Unsubscribe(&binaries_);
  binaries_.Detach();
}

IChannel* CArticle::GetChannel() { return owner_ != nullptr ? owner_->GetChannelInterface() : nullptr; }

IChannelOptions* CArticle::Options() { return owner_ != nullptr ? owner_->GetChannelOptions() : nullptr; }

void CArticle::MarkDirty() {
  if (owner_ != nullptr) owner_->MarkHeadersDirty();
}

void CArticle::FireArticle(std::uint32_t type) {
  CDBEvent record = CDBEvent::ForArticle(type, this);
  Fire(&record);
}

void CArticle::SetId(const std::u16string& id) {
  id_ = id;
  MarkDirty();
}

void CArticle::SetSecondDigest(const std::u16string& digest) {
  if (plat::EqualsNoCase(digest, secondDigest_)) return;
  secondDigest_ = digest;
  MarkDirty();
}

bool CArticle::GetDate(plat::FILETIME& date) {
  date = plat::ULLToFileTime(date_);
  return date_ != 0;
}

void CArticle::SetDate(const plat::FILETIME& date) {
  date_ = plat::FileTimeToULL(date);
  MarkDirty();
  FireArticle(DBE_ARTICLE_DATE_CHANGED);
}

void CArticle::GetDateText(std::u16string& text) {
  if (date_ == 0) {
    text.clear();
    return;
  }
  text = FormatDateTime(plat::ULLToFileTime(date_), false);
}

void CArticle::SetTitle(const std::u16string& title) {
  if (deletion_ != ADS_LIVE || title == title_) return;
  std::u16string old;
  old.swap(title_);
  title_ = title;
  MarkDirty();
  CDBEvent record = CDBEvent::ArticleTitleChanged(this, old);
  Fire(&record);
}

void CArticle::SetImageUrl(const std::u16string& url) {
  if (deletion_ == ADS_LIVE && !plat::EqualsNoCase(url, imageUrl_)) {
    binaries_.RemoveUrl(imageUrl_);
    binaries_.AddUrl(url);
    imageUrl_ = url;
    MarkDirty();
  }
  FireArticle(DBE_ARTICLE_IMAGE_CHANGED);
}

void CArticle::SetOrder(std::uint32_t order) {
  if (order == order_) return;
  order_ = order;
  MarkDirty();
}

void CArticle::Delete() {
  if (deletion_ != ADS_LIVE) return;
  SetTitle(u"");
  SetUpdateState(US_UP_TO_DATE);
  std::u16string imageFile;
  binaries_.GetDownloadedFile(imageUrl_, imageFile);
  imageUrl_.clear();
  binaries_.RemoveAll();
  deletion_ = ADS_DELETED;
  FireArticle(DBE_ARTICLE_DELETED);
  MarkDirty();
  if (!imageFile.empty() && owner_ != nullptr) owner_->RemoveThumbnails(imageFile);
}

void CArticle::Forget() {
  if (deletion_ != ADS_DELETED) return;
  deletion_ = ADS_FORGOTTEN;
  MarkDirty();
}

std::uint8_t CArticle::GetManualUpdate() {
  if (manualUpdate_ != AMU_CHANNEL) return manualUpdate_;
  IChannelOptions* options = Options();
  return options != nullptr && options->GetManualArticlesUpdate() != 0 ? AMU_ON : AMU_OFF;
}

void CArticle::SetManualUpdate(bool manual) {
  const std::uint8_t value = manual ? AMU_ON : AMU_OFF;
  if (deletion_ != ADS_LIVE || manualUpdate_ == value) return;
  const std::uint8_t before = GetManualUpdate();
  manualUpdate_ = value;
  MarkDirty();
  if (GetManualUpdate() != before) FireArticle(DBE_ARTICLE_MANUAL_UPDATE_CHANGED);
}

void CArticle::NotifyChanged() { FireArticle(DBE_ARTICLE_UPDATE_ENDED); }

void CArticle::Detach() {
  detached_ = 1;
  binaries_.Detach();
}

bool CArticle::Write(CBaseWriter& writer) {
  if (!IsWritable()) return false;
  bool ok = WriteInt32(writer, GetOwnUpdateState());
  ok = ok && WriteDigest(writer, id_);
  ok = ok && WriteDigest(writer, secondDigest_);
  ok = ok && WriteByte(writer, deletion_ == ADS_LIVE ? 0 : 1);
  if (ok && deletion_ == ADS_LIVE) {
    ok = WriteString(writer, title_);
    ok = ok && WriteString(writer, imageUrl_);
    ok = ok && WriteByte(writer, manualUpdate_);
    ok = ok && WriteInt32(writer, order_);
    ok = ok && WriteInt64(writer, date_);
    ok = ok && WriteInt64(writer, updated_);
    ok = ok && binaries_.Write(writer);
  }
  return ok;
}

bool CArticle::Read(CBaseReader& reader) { return ReadRecord(reader) == ArticleReadResult::Ok; }

ArticleReadResult CArticle::ReadRecord(CBaseReader& reader) {
  std::int32_t state = 0;
  std::uint8_t deletion = 0;
  if (!ReadInt32(reader, state) || !ReadDigest(reader, id_) || !ReadDigest(reader, secondDigest_) ||
      !ReadByte(reader, deletion) || deletion > ADS_DELETED) {
    return ArticleReadResult::Bad;
  }
  deletion_ = deletion;
  CUpdateItem::SetUpdateState(NormalizeStoredUpdateState(state));
  if (deletion_ == ADS_LIVE) {
    std::uint8_t manual = 0;
    if (!ReadString(reader, title_) || !ReadString(reader, imageUrl_) || !ReadByte(reader, manual) ||
        manual > AMU_CHANNEL || !ReadInt32(reader, order_) || !ReadInt64(reader, date_) ||
        !ReadInt64(reader, updated_)) {
      return ArticleReadResult::Bad;
    }
    manualUpdate_ = manual;
    CStringSet urls;
    if (!ReadStringSet(reader, urls)) return ArticleReadResult::Bad;
    if (binaries_.IsBound() && !urls.empty()) binaries_.AddUrls(urls);
    if (IsPastAgeLimit()) return ArticleReadResult::TooOld;
    if (!imageUrl_.empty() && binaries_.Lookup(imageUrl_) == nullptr) binaries_.AddUrl(imageUrl_);
  }
  return ArticleReadResult::Ok;
}

bool CArticle::IsPastAgeLimit() {
  if (deletion_ != ADS_LIVE) return false;
  IChannelOptions* options = Options();
  if (options == nullptr || options->GetArticlesAgeLimitEnabled() == 0) return false;
  const std::int64_t days = options->GetArticlesAgeLimit();
  if (days == 0) return false;
  const std::uint64_t then = date_ != 0 ? date_ : updated_;
  const std::int64_t age = (UnixSeconds(NowFileTime()) - UnixSeconds(then)) / 86400;
  return days <= age;
}

void CArticle::SetUpdateState(std::uint32_t state) {
  if (deletion_ != ADS_LIVE) return;
  if (state == GetOwnUpdateState()) return;
  CUpdateItem::SetUpdateState(state);
  const std::uint32_t own = GetOwnUpdateState();
  if (own == US_UP_TO_DATE || own == US_FAILED) {
    updated_ = NowFileTime();
    MarkDirty();
    FireArticle(DBE_ARTICLE_UPDATE_ENDED);
  }
  const std::uint32_t status = GetUpdateStatus();
  if (status == US_UP_TO_DATE || status == US_CHILD_FAILED) FireArticle(DBE_ARTICLE_DONE);
}

void CArticle::OnDBEvent(CDBEvent* record) {
  if (record != nullptr) {
    switch (record->type) {
      case DBE_UPDATE_STATUS_CHANGED: {
        const std::uint32_t before = GetUpdateStatus();
        CUpdateItem::OnDBEvent(record);
        const std::uint32_t status = GetUpdateStatus();
        // A binary moved the article's status (an image or enclosure
        // finished): when the article's own update has ended it counts as
        // updated now, and the lists hear 13 before 14 as after its own update.
        if (status != before && detached_ == 0 && deletion_ == ADS_LIVE) {
          const std::uint32_t own = GetOwnUpdateState();
          if (own == US_UP_TO_DATE || own == US_FAILED) {
            updated_ = NowFileTime();
            MarkDirty();
            FireArticle(DBE_ARTICLE_UPDATE_ENDED);
          }
        }
        if ((status == US_UP_TO_DATE || status == US_CHILD_FAILED) && detached_ == 0) {
          FireArticle(DBE_ARTICLE_DONE);
        }
        break;
      }
      case DBE_BINARY_STATE_CHANGED:
        record->article = this;
        Fire(record);
        break;
      case DBE_BINARY_SET_REFILLED: {
        if (!imageUrl_.empty() && binaries_.Lookup(imageUrl_) == nullptr) SetImageUrl(u"");
        MarkDirty();
        const std::uint32_t status = GetUpdateStatus();
        if (status != US_WAITING && status != US_CHILD_WAITING) FireArticle(DBE_ARTICLE_DONE);
        break;
      }
      default:
        break;
    }
  }
  CDBEventListener::OnDBEvent(record);
}

int CArticlesOrderHeap::Compare(const CArticle* a, const CArticle* b) const {
  // Read as signed, so counter values that wrapped below 0 still rank lowest.
  return static_cast<std::int32_t>(const_cast<CArticle*>(a)->GetOrder() - const_cast<CArticle*>(b)->GetOrder());
}
