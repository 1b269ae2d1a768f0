#include "database/ArticleSet.h"

#include "core/RecordEncoding.h"
#include "database/ChannelOptions.h"
#include "platform/base/Text.h"

CArticleSet::~CArticleSet() {
  heap_.Clear();
  for (CArticle* article : articles_) {
    article->Detach();
    Unsubscribe(article);
    delete article;
  }
  articles_.clear();
}

void CArticleSet::Destroy(CArticle* article) {
  article->Detach();
  delete article;
}

void CArticleSet::Add(CArticle* article) {
  if (article == nullptr) return;
  articles_.push_back(article);
  AddChild(article);
  Subscribe(article);
  CDBEvent record = CDBEvent::ForArticle(DBE_ARTICLE_ADDED, article);
  Fire(&record);
  if (article->IsDeleted()) return;
  heap_.Push(article);
  IChannelOptions* options = owner_ != nullptr ? owner_->GetChannelOptions() : nullptr;
  if (options == nullptr || options->GetArticlesCountLimitEnabled() == 0) return;
  const std::int32_t limit = options->GetArticlesCountLimit();
  if (limit <= 0) return;
  while (heap_.GetCount() > static_cast<std::size_t>(limit)) {
    CArticle* lowest = heap_.Pop();
    if (lowest != nullptr) lowest->Delete();
  }
}

bool CArticleSet::Read(CBaseReader& reader) {
  if (owner_ == nullptr) return true;
  std::int32_t count = 0;
  if (!ReadInt32(reader, count)) return false;
  bool damaged = count < 0;
  std::uint32_t largest = 0;
  std::vector<CArticle*> tooOld;
  for (std::int32_t i = 0; i < count; ++i) {
    auto* article = new CArticle(owner_);
    const ArticleReadResult result = article->ReadRecord(reader);
    if (result == ArticleReadResult::Bad) {
      // A bad record has taken no binary uses; it goes without touching files.
      Destroy(article);
      damaged = true;
      break;
    }
    if (result == ArticleReadResult::TooOld) {
      tooOld.push_back(article);
      continue;
    }
    if (article->GetOrder() > largest) largest = article->GetOrder();
    Add(article);
  }
  if (!damaged && reader.Remaining() > 0) damaged = true;
  for (CArticle* article : tooOld) {
    // After a damaged read the uses of the articles that were not read are
    // unknown: deleting would drop files they still name.
    if (!damaged) article->Delete();
    Destroy(article);
  }
  owner_->SetOrderCounter(largest + 1000);
  return !damaged;
}

bool CArticleSet::Write(CBaseWriter& writer) {
  CBufferWriter memory;
  std::int32_t count = 0;
  bool ok = true;
  for (CArticle* article : articles_) {
    if (!article->IsWritable()) continue;
    if (!article->Write(memory)) {
      ok = false;
      break;
    }
    ++count;
  }
  if (!ok) return false;
  if (!WriteInt32(writer, count)) return false;
  if (count != 0 && !WriterWrite(writer, memory.GetData(), memory.GetSize())) return false;
  return true;
}

void CArticleSet::RemoveAll() {
  heap_.Clear();
  std::vector<CArticle*> articles;
  articles.swap(articles_);
  for (CArticle* article : articles) {
    CDBEvent record = CDBEvent::ForArticle(DBE_ARTICLE_TAKEN_OUT, article);
    Fire(&record);
    article->Detach();
    Unsubscribe(article);
    RemoveChild(article);
    delete article;
  }
}

CArticle* CArticleSet::GetArticleAt(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return articles_[static_cast<std::size_t>(index)];
}

IArticle* CArticleSet::GetAt(int index) { return GetArticleAt(index); }

IArticle* CArticleSet::FindById(const std::u16string& id) {
  for (CArticle* article : articles_) {
    if (plat::EqualsNoCase(article->GetId(), id)) return article;
  }
  return nullptr;
}

void CArticleSet::DeleteAll() {
  for (CArticle* article : std::vector<CArticle*>(articles_)) article->Delete();
}

void CArticleSet::OnDBEvent(CDBEvent* record) {
  if (record != nullptr) {
    switch (record->type) {
      case DBE_UPDATE_STATUS_CHANGED: {
        CUpdateItem::OnDBEvent(record);
        auto* article = dynamic_cast<IArticle*>(record->item);
        if (article != nullptr && record->item != static_cast<IUpdateItem*>(this)) {
          CDBEvent row = CDBEvent::ArticleRowChanged(this, article);
          Fire(&row);
        }
        break;
      }
      case DBE_ARTICLE_DELETED:
        heap_.Remove(dynamic_cast<CArticle*>(record->article));
        record->articleSet = this;
        Fire(record);
        break;
      case DBE_ARTICLE_TITLE_CHANGED:
      case DBE_ARTICLE_DATE_CHANGED:
      case DBE_ARTICLE_IMAGE_CHANGED:
      case DBE_ARTICLE_UPDATE_ENDED:
      case DBE_ARTICLE_DONE:
      case DBE_ARTICLE_MANUAL_UPDATE_CHANGED:
      case DBE_ARTICLE_READ_CHANGED:
        record->articleSet = this;
        Fire(record);
        break;
      default:
        CUpdateItem::OnDBEvent(record);
        break;
    }
  }
  CDBEventListener::OnDBEvent(record);
}
