#include "update/jobs/BinaryJob.h"

#include <array>
#include <string_view>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "database/GlobalOptions.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "update/http/InetJob.h"
#include "update/http/InetSession.h"

namespace {

struct ExtensionRow {
  const char16_t* contentType;
  const char16_t* extension;
};

constexpr std::array<ExtensionRow, 18> kExtensions{{
    {u"image/vnd.microsoft.icon", u"ico"},
    {u"image/x-icon", u"ico"},
    {u"application/zip", u"zip"},
    {u"video/x-msvideo", u"avi"},
    {u"video/mpeg-2", u"mp2v"},
    {u"video/mpeg", u"mpg"},
    {u"audio/x-mpeg-3", u"mp3"},
    {u"audio/x-mpeg", u"mp3"},
    {u"audio/mpeg", u"mp3"},
    {u"image/x-ms-bmp", u"bmp"},
    {u"image/tiff", u"tif"},
    {u"image/jpeg", u"jpg"},
    {u"image/png", u"png"},
    {u"image/x-png", u"png"},
    {u"image/gif", u"gif"},
    {u"text/css", u"css"},
    {u"text/plain", u"txt"},
    {u"text/html", u"htm"},
}};

constexpr char16_t kDefaultExtension[] = u"bin";

bool IsAsciiAlnum(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The path of an address without scheme, host, query and fragment.
std::u16string_view AddressPath(std::u16string_view address) {
  std::size_t start = 0;
  const std::size_t scheme = address.find(u"://");
  if (scheme != std::u16string_view::npos) {
    const std::size_t slash = address.find(u'/', scheme + 3);
    if (slash == std::u16string_view::npos) return {};
    start = slash;
  }
  std::u16string_view path = address.substr(start);
  const std::size_t end = path.find_first_of(u"?#");
  if (end != std::u16string_view::npos) path = path.substr(0, end);
  return path;
}

// Extension of the local file name, empty when it has none.
std::u16string CurrentExtension(IBinary* binary) {
  std::u16string name;
  binary->GetFileName(name, false);
  const std::size_t dot = FindLastChar(name, u'.');
  if (dot == std::u16string::npos) return {};
  return name.substr(dot + 1);
}

// Gives the local file the extension; a file that already carries it keeps
// its name (renaming it to itself would only make a new unique name), and
// its listeners still hear that the file changed.
void ApplyExtension(IBinary* binary, const std::u16string& extension) {
  if (!plat::EqualsNoCase(CurrentExtension(binary), extension)) {
    binary->ChangeExtension(extension);
    return;
  }
  CDBEvent record = CDBEvent::ForBinary(DBE_BINARY_RENAMED, binary);
  binary->Fire(&record);
}

CSynchronized* DatabaseLock() { return GetChannelSet(); }

}  // namespace

CBinaryJob::CBinaryJob(IBinary* binary) : binary_(binary) {
  CDebugLog::GetInstance().WriteLine(u"** CBinaryJob constructed");
  if (binary_ != nullptr) {
    set_ = binary_->GetBinarySet();
    if (set_ != nullptr) Subscribe(set_);
  }
}

CBinaryJob::~CBinaryJob() {
  download_.reset();
  CSyncLock db(DatabaseLock(), u"CBinaryJob::~CBinaryJob");
  CSyncLock me(this, u"CBinaryJob::~CBinaryJob");
  if (set_ != nullptr) Unsubscribe(set_);
  binary_ = nullptr;
}

IUpdateItem* CBinaryJob::GetItem() {
  CSyncLock me(this, u"CBinaryJob::GetItem");
  return binary_;
}

std::u16string CBinaryJob::TemporaryPathFor(const std::u16string& target) { return target + u".part"; }

std::u16string CBinaryJob::ExtensionFor(const std::u16string& address, const std::u16string& contentType) {
  if (!contentType.empty()) {
    for (const ExtensionRow& row : kExtensions) {
      if (plat::EqualsNoCase(contentType, row.contentType)) return row.extension;
    }
    return kDefaultExtension;
  }
  // Only the last segment of the path names the file; a query, a folder or
  // a relative step never gives an extension.
  const std::u16string_view path = AddressPath(address);
  const std::size_t slash = path.find_last_of(u"/\\");
  const std::u16string_view segment = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = segment.rfind(u'.');
  if (dot == std::u16string_view::npos) return kDefaultExtension;
  const std::u16string_view extension = segment.substr(dot + 1);
  if (extension.empty() || extension.size() > kMaxAddressExtension) return kDefaultExtension;
  for (char16_t c : extension) {
    if (!IsAsciiAlnum(c)) return kDefaultExtension;
  }
  return std::u16string(extension);
}

void CBinaryJob::Starting() {
  CSyncLock db(DatabaseLock(), u"CBinaryJob::Starting");
  CSyncLock me(this, u"CBinaryJob::Starting");
  if (binary_ == nullptr) return;
  binary_->GetFileName(target_, true);
  if (!target_.empty()) {
    temporary_ = TemporaryPathFor(target_);
    std::u16string folder;
    if (SplitPath(target_, &folder, nullptr, nullptr) && !folder.empty()) CreateFolderTree(folder);
    DeleteFileIfExists(temporary_);
    download_ = std::make_unique<CInetJob>(session_, binary_->GetUrl());
    download_->SetOutputFile(temporary_);
    download_->SetMaxBodySize(CInetJob::kBinaryMaxBody);
    download_->SetMinimumRate(GetGlobalOptions().GetBinaryMinimumRate(), GetGlobalOptions().GetBinaryMinimumRateTime());
  }
  binary_->SetUpdateState(US_UPDATING);
}

void CBinaryJob::Run() {
  Starting();
  CInetJob* download = nullptr;
  {
    CSyncLock me(this, u"CBinaryJob::Run");
    if (binary_ != nullptr) download = download_.get();
  }
  if (download != nullptr) download->Execute();
  Finishing();
}

void CBinaryJob::Finishing() {
  CSyncLock db(DatabaseLock(), u"CBinaryJob::Finishing");
  CSyncLock me(this, u"CBinaryJob::Finishing");
  if (binary_ == nullptr) {
    // Stopped: the partial body goes; the file from an earlier download stays.
    if (!temporary_.empty()) DeleteFileIfExists(temporary_);
    return;
  }
  const int result = download_ ? download_->GetResult() : CInetJob::RESULT_FAILURE;
  if (result == CInetJob::RESULT_CANCELLED && download_ && session_ != nullptr && session_->IsCancelled()) {
    // The run is being stopped (its session cancelled; Stop follows): the
    // binary waits again as Stop leaves it, and its old file stays.
    DeleteFileIfExists(temporary_);
    StopLocked();
    return;
  }
  const std::u16string& url = binary_->GetUrl();
  bool placed = false;
  if (result == CInetJob::RESULT_SUCCESS) {
    // An empty body writes nothing; it is still a complete download.
    if (!FileExists(temporary_)) {
      plat::HANDLE file = OpenFileHandle(temporary_, plat::GENERIC_WRITE, 0, plat::CREATE_ALWAYS, 0);
      if (file != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(file);
    }
    placed = MoveFileReplacing(temporary_, target_);
  }
  if (placed) {
    ApplyExtension(binary_, ExtensionFor(url, download_->GetContentType()));
    binary_->SetUpdateState(US_UP_TO_DATE);
  } else {
    DeleteFileIfExists(temporary_);
    if (result != CInetJob::RESULT_SUCCESS && url.find(u"favicon.ico") != std::u16string::npos) {
      // A site without an icon is not asked again.
      ApplyExtension(binary_, u"ico");
      binary_->SetUpdateState(US_UP_TO_DATE);
    } else {
      binary_->SetUpdateState(US_FAILED);
    }
  }
  if (set_ != nullptr) Unsubscribe(set_);
  set_ = nullptr;
  binary_ = nullptr;
}

void CBinaryJob::Stop() {
  CSyncLock db(DatabaseLock(), u"CBinaryJob::Stop");
  StopLocked();
}

void CBinaryJob::StopLocked() {
  CSyncLock me(this, u"CBinaryJob::Stop");
  if (download_) download_->Cancel();
  if (binary_ == nullptr) return;
  if (set_ != nullptr) Unsubscribe(set_);
  set_ = nullptr;
  if (binary_->GetUpdateStatus() == US_UPDATING) binary_->SetUpdateState(US_WAITING);
  binary_ = nullptr;
}

void CBinaryJob::OnDBEvent(CDBEvent* record) {
  if (record != nullptr && record->type == DBE_BINARY_REMOVED) {
    bool ours = false;
    {
      CSyncLock me(this, u"CBinaryJob::OnDBEvent");
      ours = binary_ != nullptr && record->binary == binary_;
    }
    if (ours) Stop();
  }
  CDBEventListener::OnDBEvent(record);
}
