#include "update/TidyDownload.h"

#include <atomic>
#include <mutex>

#include "core/DebugLog.h"
#include "update/InetJob.h"
#include "update/InetSession.h"
#include "update/WinInet.h"

namespace Tidy {

namespace {

std::atomic<std::uint32_t> g_downloadedTotal{0};

std::mutex& RatingMutex() {
  static std::mutex mutex;
  return mutex;
}

std::u16string& RatingAddress() {
  static std::u16string address = u"http://rating.orvnews.example/pingrss.php?url=";
  return address;
}

}  // namespace

int DownloadDocument(CInetSession* session, const std::u16string& address, Document* document,
                     const std::u16string& forcedEncoding, std::u16string* errorText) {
  if (address.empty() || !session) return 0;
  CDebugLog& log = CDebugLog::GetInstance();
  if (document) log.Printf(u"Downloading document \"%s\"", address.c_str());
  CInetJob job(session, address);
  job.SetKeepInMemory(document != nullptr);
  job.Execute();
  int result = job.GetResult();
  if (result != CInetJob::RESULT_SUCCESS) {
    if (errorText) *errorText = job.GetErrorText();
    log.Printf(u"Downloading error: %s", job.GetErrorText().c_str());
    return result;
  }
  if (!document) return result;
  std::size_t length = job.GetDeliveredLength();
  std::uint32_t total = g_downloadedTotal.fetch_add(static_cast<std::uint32_t>(length)) +
                        static_cast<std::uint32_t>(length);
  log.Printf(u"Download complete, length = %d bytes (total: %d)", static_cast<int>(length), static_cast<int>(total));
  if (!ParseBuffer(job.GetBuffer(), length, document, job.GetCharset(), forcedEncoding)) return 0;
  if (!MakeUrlsAbsolute(document, document->GetRoot(), address))
    log.WriteLine(u"Warning: Error converting relative to absolute paths in document.");
  return 1;
}

std::uint32_t GetDownloadedTotal() { return g_downloadedTotal.load(); }

std::u16string GetRatingServerAddress() {
  std::lock_guard<std::mutex> lock(RatingMutex());
  return RatingAddress();
}

void SetRatingServerAddress(const std::u16string& address) {
  std::lock_guard<std::mutex> lock(RatingMutex());
  RatingAddress() = address;
}

int SendRatingPing(const std::u16string& feedAddress, CInetSession* session) {
  if (!session) return 0;
  std::u16string url = feedAddress;
  if (!session->GetWinInet().NormalizeUrl(url)) return 0;
  return DownloadDocument(session, GetRatingServerAddress() + PercentEncodeUtf8(url), nullptr, std::u16string(),
                          nullptr);
}

}  // namespace Tidy
