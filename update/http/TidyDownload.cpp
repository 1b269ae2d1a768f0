#include "update/http/TidyDownload.h"

#include "database/GlobalOptions.h"

#include <atomic>

#include "core/DebugLog.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "update/http/InetJob.h"
#include "update/http/InetSession.h"
#include "update/http/WinInet.h"

namespace Tidy {

namespace {

std::atomic<std::uint32_t> g_downloadedTotal{0};

// The parser closed the document's root element itself: the input ended
// inside it.
bool EndsInsideTheRoot(Document* document) {
  Node* root = document->GetRoot();
  if (root == nullptr) return false;
  for (Node* child : root->Children()) {
    if (child->IsElement() && child->IsCut()) return true;
  }
  return false;
}

// The rating server is the user's (or the installer's) choice: the product
// key's "RatingServer" names its base address, and nothing is sent while it
// is empty, which it is by default.
constexpr char16_t kRatingServerValue[] = u"RatingServer";
constexpr char16_t kRatingScript[] = u"pingrss.php?url=";

}  // namespace

void PrepareDocumentJob(CInetJob& job, const Validators* validators) {
  job.SetKeepInMemory(true);
  // An overall deadline beside the per-read time-out (0: none).
  const plat::DWORD deadline = GetGlobalOptions().GetDownloadDeadline();
  job.SetDeadline(deadline != 0 ? deadline : 0xFFFFFFFFu);
  if (validators) job.SetValidators(validators->etag, validators->lastModified);
}

int DownloadDocument(CInetSession* session, const std::u16string& address, Document* document,
                     const std::u16string& forcedEncoding, std::u16string* errorText) {
  return DownloadChangedDocument(session, address, document, forcedEncoding, errorText, nullptr, nullptr);
}

int DownloadChangedDocument(CInetSession* session, const std::u16string& address, Document* document,
                            const std::u16string& forcedEncoding, std::u16string* errorText,
                            std::u16string* digest, bool* unchanged, Validators* validators) {
  if (unchanged) *unchanged = false;
  if (address.empty() || !session) return 0;
  CDebugLog& log = CDebugLog::GetInstance();
  if (document) log.Printf(u"Downloading document \"%s\"", address.c_str());
  CInetJob job(session, address);
  // Validators go only with a body that can be skipped when unchanged.
  const bool conditional = validators != nullptr && unchanged != nullptr && document != nullptr;
  if (document) {
    PrepareDocumentJob(job, conditional ? validators : nullptr);
  } else {
    const plat::DWORD deadline = GetGlobalOptions().GetDownloadDeadline();
    job.SetDeadline(deadline != 0 ? deadline : 0xFFFFFFFFu);
  }
  job.Execute();
  int result = job.GetResult();
  if (result == CInetJob::RESULT_NOT_MODIFIED) {
    log.Printf(u"Not modified since the last update: %s", address.c_str());
    *unchanged = true;
    return CInetJob::RESULT_SUCCESS;
  }
  if (result != CInetJob::RESULT_SUCCESS) {
    if (errorText) *errorText = job.GetErrorText();
    log.Printf(u"Downloading error: %s", job.GetErrorText().c_str());
    return result;
  }
  if (!document) return result;
  // Validators stand for the address asked: those another address answered
  // with are not kept.
  if (validators) *validators = job.WasRedirected() ? Validators{} : Validators{job.GetETag(), job.GetLastModified()};
  std::size_t length = job.GetDeliveredLength();
  std::uint32_t total = g_downloadedTotal.fetch_add(static_cast<std::uint32_t>(length)) +
                        static_cast<std::uint32_t>(length);
  log.Printf(u"Download complete, length = %d bytes (total: %d)", static_cast<int>(length), static_cast<int>(total));
  if (digest) {
    // The digest of the bytes as they came, with the encodings that decide
    // how they read.
    Md5Context md5;
    Md5Init(md5);
    Md5Update(md5, job.GetBuffer(), length);
    const std::u16string charset = job.GetCharset() + u"|" + forcedEncoding;
    Md5Update(md5, charset.data(), charset.size() * sizeof(char16_t));
    std::uint8_t bytes[16];
    Md5Final(md5, bytes);
    static const char16_t kHex[] = u"0123456789abcdef";
    std::u16string hex;
    for (std::uint8_t b : bytes) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    if (unchanged && !digest->empty() && *digest == hex) {
      *unchanged = true;
      return 1;
    }
    *digest = hex;
  }
  if (!ParseBuffer(job.GetBuffer(), length, document, job.GetCharset(), forcedEncoding, &job.Buffer())) return 0;
  if (!MakeUrlsAbsolute(document, document->GetRoot(), address))
    log.WriteLine(u"Warning: Error converting relative to absolute paths in document.");
  // A body whose end only the connection's close marked, or a document that
  // ends inside its root, may be a part: what it holds is read, but neither
  // its digest nor its validators may stand for the whole document.
  if ((digest || validators) && (!job.IsLengthChecked() || EndsInsideTheRoot(document))) {
    log.Printf(u"The document may be incomplete: its digest and validators are not kept (%s).", address.c_str());
    if (digest) digest->clear();
    if (validators) *validators = Validators{};
  }
  return 1;
}

std::uint32_t GetDownloadedTotal() { return g_downloadedTotal.load(); }

std::u16string GetRatingServerAddress() {
  std::u16string base = OpenSettingsKey().GetString(kRatingServerValue, u"");
  if (base.empty()) return base;
  if (base.back() != u'/') base.push_back(u'/');
  return base + kRatingScript;
}

void SetRatingServerAddress(const std::u16string& serverBase) {
  OpenSettingsKey().SetString(kRatingServerValue, serverBase.c_str());
}

int SendRatingPing(const std::u16string& feedAddress, CInetSession* session) {
  if (!session) return 0;
  const std::u16string rating = GetRatingServerAddress();
  if (rating.empty()) return 0;
  std::u16string url = feedAddress;
  if (!session->GetWinInet().NormalizeUrl(url)) return 0;
  return DownloadDocument(session, rating + PercentEncodeUtf8(url), nullptr, std::u16string(),
                          nullptr);
}

}  // namespace Tidy
