#include "database/ChannelImageListener.h"

#include "core/StringMaps.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/ThumbnailsManager.h"
#include "platform/files/Files.h"

using namespace plat;

namespace {

// Low 32 bits of the file's size; 0xFFFFFFFF when it cannot be read.
DWORD FileSizeOf(const std::u16string& path) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0xFFFFFFFFu;
  FindClose(find);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0xFFFFFFFFu;
  return data.nFileSizeLow;
}

}  // namespace

CChannelImageListener* CChannelImageListener::GetInstance() {
  static CChannelImageListener instance(GetChannelSet(), CThumbnailsManager::GetInstance());
  return &instance;
}

CChannelImageListener* GetChannelImageListener() { return CChannelImageListener::GetInstance(); }

CChannelImageListener::CChannelImageListener(CChannelSet* set, CThumbnailsManager* manager)
    : set_(set), manager_(manager) {
  if (!set_) return;
  CSyncLock lock(set_, u"CChannelImageListener::CChannelImageListener");
  Subscribe(set_);
}

CChannelImageListener::~CChannelImageListener() {
  if (!set_) return;
  CSyncLock lock(set_, u"CChannelImageListener::~CChannelImageListener");
  Unsubscribe(set_);
}

bool CChannelImageListener::ChooseImage(IArticle* article, std::u16string& url, std::u16string& file) {
  url.clear();
  file.clear();
  IBinarySet* binaries = article ? article->GetBinaries() : nullptr;
  if (!binaries || binaries->IsEmpty()) return false;
  url = article->GetImageUrl();
  if (!url.empty() && !binaries->GetDownloadedFile(url, file)) url.clear();
  if (url.empty() || file.empty()) {
    url.clear();
    file.clear();
    DWORD best = kMinImageBytes;
    CStringSet urls;
    binaries->CopyEntries(urls);
    for (const auto& entry : urls) {
      std::u16string path;
      if (!binaries->GetDownloadedFile(entry, path) || path.empty()) continue;
      const DWORD size = FileSizeOf(path);
      if (size == 0xFFFFFFFFu || size == 0 || size <= best) continue;
      best = size;
      url = entry;
      file = path;
    }
  }
  return !url.empty() && !file.empty();
}

void CChannelImageListener::OnDBEvent(CDBEvent* record) {
  if (record && record->type == DBE_ARTICLE_DONE && record->article && manager_) {
    IArticle* article = record->article;
    const std::uint32_t status = article->GetUpdateStatus();
    std::u16string url, file;
    if ((status == US_UP_TO_DATE || status == US_CHILD_FAILED) && ChooseImage(article, url, file)) {
      if (article->GetImageUrl() != url) article->SetImageUrl(url);
      manager_->RequestPreparation(file);
    }
  }
  CDBEventListener::OnDBEvent(record);
}
