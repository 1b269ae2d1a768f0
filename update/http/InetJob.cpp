#include "update/http/InetJob.h"

#include <zlib.h>

#include <algorithm>

#include "core/DebugLog.h"
#include "core/StringUtils.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "update/http/InetSession.h"

using namespace plat;

namespace {

constexpr const char16_t* kRequestHeaders =
    u"User-Agent: Mozilla/5.0\nAccept: text/html,image/*,*/*;q=0.5\nAccept-Charset: utf-8\n"
    u"Accept-Encoding: gzip\nConnection: Keep-Alive";

}  // namespace

CInetJob::CInetJob(CInetSession* session, const std::u16string& url) : session_(session), url_(url) {
  event_ = CreateLocalEvent(true, false);
  readBuffer_.resize(kChunkSize + 10);
  inputBuffer_.resize(kChunkSize + 10);
  CDebugLog::GetInstance().WriteLine(u"** CInetJob constructed");
  if (session_) {
    session_->AddJob(this);
    if (session_->IsCancelled()) {
      cancelled_ = true;
      SetEvent(event_);
    } else if (session_->IsConnected()) {
      SetEvent(event_);
    }
  } else {
    cancelled_ = true;  // a job without a session has no connection to wait for
    SetEvent(event_);
  }
}

CInetJob::~CInetJob() {
  CloseRequest();
  CloseOutput();
  if (session_) session_->RemoveJob(this);
  CloseHandle(event_);
}

void CInetJob::Cancel() {
  cancelled_ = true;
  HINTERNET request = request_.exchange(nullptr);
  if (request && session_) session_->GetWinInet().CloseRequestHandle(request);
  SetEvent(event_);
}

void CInetJob::Resume() { SetEvent(event_); }

void CInetJob::CloseRequest() {
  HINTERNET request = request_.exchange(nullptr);
  if (request && session_) session_->GetWinInet().CloseRequest(request);
  // The connection is given back to the cache once its request is done.
  if (connection_ && session_) session_->GetWinInet().ReleaseConnection(connection_);
  connection_ = nullptr;
}

void CInetJob::CloseOutput() {
  if (output_) {
    CloseHandle(output_);
    output_ = nullptr;
  }
}

bool CInetJob::DeadlinePassed() const { return GetTickCount() - startTick_ >= deadlineMs_; }

std::u16string CInetJob::SendFailureText(DWORD error, int port) const {
  // Why the request got no answer, in the words a person can act on.
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return FormatString(InetText(235, u"Cannot connect to the host %s:%d").c_str(), host_.c_str(), port);
    case ERROR_INTERNET_TIMEOUT:
      return FormatString(InetText(380, u"The host %s did not answer in time.").c_str(), host_.c_str());
    case ERROR_HTTP_REDIRECT_FAILED:
      return InetText(381, u"The address redirects too many times.");
    default:
      return InetText(237, u"Sending request failed or canceled");
  }
}

std::u16string CInetJob::RequestKey() const {
  std::u16string key = url_;
  for (const std::u16string* part : {&sentETag_, &sentLastModified_, &outputPath_}) {
    key += u'\n';
    key += *part;
  }
  key += FormatString(u"\n%u %u %u %u %d%d", static_cast<unsigned>(maxBody_), static_cast<unsigned>(deadlineMs_),
                      static_cast<unsigned>(minimumRate_), static_cast<unsigned>(rateWindowMs_),
                      keepInMemory_ ? 1 : 0, writeToFile_ ? 1 : 0);
  return key;
}

void CInetJob::Adopt(CInetJob& ended) {
  result_ = ended.result_;
  statusCode_ = ended.statusCode_;
  contentLength_ = ended.contentLength_;
  charset_ = ended.charset_;
  contentType_ = ended.contentType_;
  etag_ = ended.etag_;
  lastModified_ = ended.lastModified_;
  errorText_ = ended.errorText_;
  host_ = ended.host_;
  path_ = ended.path_;
  gzip_ = ended.gzip_;
  chunked_ = ended.chunked_;
  lengthChecked_ = ended.lengthChecked_;
  redirected_ = ended.redirected_;
  finalUrl_ = ended.finalUrl_;
  finished_ = ended.finished_;
  tooSlow_ = ended.tooSlow_;
  networkError_ = ended.networkError_;
  buffer_ = std::move(ended.buffer_);
  ended.buffer_ = std::vector<char>();
  decoded_ = ended.decoded_;
  raw_ = ended.raw_;
  delivered_ = ended.delivered_;
  ended.decoded_ = ended.raw_ = ended.delivered_ = 0;
  if (statusCode_ == 200) session_->Notify(IInetEventListener::EVENT_STATUS_OK, this);
  if (delivered_ > 0) session_->Notify(IInetEventListener::EVENT_PROGRESS, this);
  session_->Notify(IInetEventListener::EVENT_JOB_ENDED, this);
}

void CInetJob::RelayProgress(std::size_t rawBytes, int contentLength) {
  raw_ = rawBytes;
  contentLength_ = contentLength;
  session_->Notify(IInetEventListener::EVENT_PROGRESS, this);
}

void CInetJob::Execute() {
  startTick_ = GetTickCount();
  rateWindowStart_ = 0;
  rateWindowBytes_ = 0;
  tooSlow_ = false;
  networkError_ = 0;
  bool askedAhead = false;
  // Validators go with the request unless another address answered them.
  bool sendValidators = true;
  for (;;) {
    WaitForSingleObject(event_, INFINITE);
    if (cancelled_) break;
    if (!askedAhead) {
      // A body fetched ahead for exactly this request stands for the download.
      askedAhead = true;
      if (IInetAhead* ahead = session_->GetAhead(); ahead && ahead->Serve(*this)) return;
      if (cancelled_) break;
    }
    CWinInet& inet = session_->GetWinInet();
    session_->Notify(IInetEventListener::EVENT_ATTEMPT, this);
    statusCode_ = 0;
    lengthChecked_ = false;
    redirected_ = false;
    finalUrl_.clear();
    CrackedUrl parts;
    bool ok = inet.CrackUrl(url_, parts, errorText_);
    if (ok) {
      host_ = parts.host;
      path_ = parts.path;
      user_ = parts.user;
      password_ = parts.password;
      connection_ = inet.GetConnection(host_, parts.port, user_.empty() ? nullptr : user_.c_str(),
                                       password_.empty() ? nullptr : password_.c_str(), INTERNET_SERVICE_HTTP, 0);
      if (!connection_ || cancelled_) {
        ok = false;
        errorText_ = FormatString(InetText(235, u"Cannot connect to the host %s:%d").c_str(), host_.c_str(),
                                  static_cast<int>(parts.port));
      }
    }
    if (ok) {
      // HTTPS keeps full certificate and host name checks.
      DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
      if (parts.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
      HINTERNET request = inet.HttpOpenRequestW(connection_, u"GET", path_.c_str(), u"HTTP/1.0", nullptr, nullptr,
                                                flags, 0);
      request_ = request;
      if (!request || cancelled_) {
        ok = false;
        errorText_ = FormatString(InetText(236, u"Cannot open resource %s").c_str(), path_.c_str());
      }
    }
    if (ok) {
      HINTERNET request = request_.load();
      DWORD timeout = std::min<DWORD>(inet.GetTimeout(), std::max<DWORD>(deadlineMs_, 1));
      if (request) inet.InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
      std::u16string headers = kRequestHeaders;
      // Header values end at a line break: a stored validator cannot add lines.
      auto addValidator = [&headers](const char16_t* name, const std::u16string& value) {
        if (value.empty() || value.find_first_of(u"\r\n") != std::u16string::npos) return;
        headers += u"\n";
        headers += name;
        headers += value;
      };
      if (sendValidators) {
        addValidator(u"If-None-Match: ", sentETag_);
        addValidator(u"If-Modified-Since: ", sentLastModified_);
      }
      if (!request || !inet.SendRequest(request, headers.c_str(), static_cast<DWORD>(-1), nullptr, 0) || cancelled_) {
        ok = false;
        networkError_ = request ? GetLastError() : 0;
        errorText_ = SendFailureText(networkError_, static_cast<int>(parts.port));
      }
    }
    if (ok) {
      ReadHeaders();
      ReadFinalUrl();
      if (statusCode_ == 304 && sendValidators && (!sentETag_.empty() || !sentLastModified_.empty()) &&
          !cancelled_) {
        if (!redirected_) {
          Finish(RESULT_NOT_MODIFIED);
          return;
        }
        // The validators are those of this address's answer: another
        // address has no say on them. Asked again without them.
        CDebugLog::GetInstance().Printf(u"Not modified, answered by another address (%s): asked again.",
                                        finalUrl_.c_str());
        sendValidators = false;
        CloseRequest();
        CloseOutput();
        continue;
      }
      if (statusCode_ != 200) {
        ok = false;
        errorText_ = FormatString(InetText(238, u"Bad status code: %d").c_str(), statusCode_);
      } else if (!cancelled_) {
        session_->Notify(IInetEventListener::EVENT_STATUS_OK, this);
        bool read = gzip_ ? ReadGzip() : ReadPlain();
        if (read && !cancelled_) {
          // A gzip body reads whole only to its stream's end; a plain one
          // to its Content-Length (the library fails one cut short) or its
          // last chunk.
          lengthChecked_ = gzip_ || chunked_ || contentLength_ >= 0;
          Finish(RESULT_SUCCESS);
          return;
        }
        ok = false;
        errorText_ = InetText(239, u"Reading from stream failed or canceled");
      } else {
        ok = false;
      }
    }
    CloseRequest();
    CloseOutput();
    if (cancelled_) break;
    result_ = statusCode_ == 404 ? RESULT_NOT_FOUND : RESULT_FAILURE;
    session_->Notify(IInetEventListener::EVENT_JOB_ENDED, this);
    return;
  }
  CloseRequest();
  CloseOutput();
  errorText_ = InetText(240, u"Canceled");
  result_ = RESULT_CANCELLED;
  session_->Notify(IInetEventListener::EVENT_JOB_ENDED, this);
}

void CInetJob::Finish(int result) {
  CloseRequest();
  CloseOutput();
  finished_ = true;
  result_ = result;
  session_->Notify(IInetEventListener::EVENT_JOB_ENDED, this);
}

void CInetJob::ReadHeaders() {
  CWinInet& inet = session_->GetWinInet();
  HINTERNET request = request_.load();
  DWORD number = 0, size = sizeof number;
  statusCode_ = inet.HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr)
                    ? static_cast<int>(number)
                    : 0;
  size = sizeof number;
  contentLength_ = -1;
  if (inet.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr) &&
      number <= 0x7FFFFFFFu) {
    contentLength_ = static_cast<int>(number);
  }
  charset_.clear();
  contentType_.clear();
  std::vector<char16_t> text(5000 + 1);
  size = 10000;
  if (inet.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, text.data(), &size, nullptr)) {
    std::u16string type(text.data());
    std::size_t at = type.find(u"charset");
    if (at != std::u16string::npos) {
      std::u16string rest = type.substr(at + 7);
      std::size_t semi = rest.find(u';');
      if (semi != std::u16string::npos) rest.resize(semi);
      std::erase(rest, u'=');
      rest = plat::Trim(rest, plat::IsXmlSpace);
      if (!rest.empty()) charset_ = rest;
    }
    std::size_t space = type.find(u' ');
    std::u16string head = space == std::u16string::npos ? type : type.substr(0, space);
    while (!head.empty() && head.front() == u';') head.erase(0, 1);
    while (!head.empty() && head.back() == u';') head.pop_back();
    contentType_ = head;
  }
  auto text16 = [&](DWORD level, std::u16string& out) {
    out.clear();
    size = 10000;
    if (inet.HttpQueryInfoW(request, level, text.data(), &size, nullptr)) out = plat::Trim(text.data(), plat::IsXmlSpace);
  };
  text16(HTTP_QUERY_ETAG, etag_);
  text16(HTTP_QUERY_LAST_MODIFIED, lastModified_);
  std::u16string transfer;
  text16(HTTP_QUERY_TRANSFER_ENCODING, transfer);
  chunked_ = plat::ToLower(transfer).find(u"chunked") != std::u16string::npos;
  gzip_ = false;
  size = 10000;
  if (inet.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_ENCODING, text.data(), &size, nullptr)) {
    gzip_ = std::u16string(text.data()).find(u"gzip") != std::u16string::npos;
  }
}

void CInetJob::ReadFinalUrl() {
  finalUrl_.clear();
  redirected_ = false;
  CWinInet& inet = session_->GetWinInet();
  HINTERNET request = request_.load();
  if (!request) return;
  std::vector<char16_t> text(2048);
  DWORD size = static_cast<DWORD>(text.size() * sizeof(char16_t));
  if (!inet.InternetQueryOptionW(request, INTERNET_OPTION_URL, text.data(), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    text.assign(size / sizeof(char16_t) + 1, 0);
    size = static_cast<DWORD>(text.size() * sizeof(char16_t));
    if (!inet.InternetQueryOptionW(request, INTERNET_OPTION_URL, text.data(), &size)) return;
  }
  finalUrl_ = text.data();
  // The same resource: scheme, host (ignoring case), port and path with its
  // query, the path's escapes aside (the library escapes what the address
  // left plain) and the fragment, which is never sent.
  CrackedUrl asked, answered;
  std::u16string error;
  if (!inet.CrackUrl(url_, asked, error) || !inet.CrackUrl(finalUrl_, answered, error)) {
    redirected_ = true;
    return;
  }
  auto resource = [](const std::u16string& path) { return UnescapeUrl(path.substr(0, path.find(u'#'))); };
  redirected_ = asked.scheme != answered.scheme || asked.port != answered.port ||
                !plat::EqualsNoCase(asked.host, answered.host) || resource(asked.path) != resource(answered.path);
}

bool CInetJob::ReadChunk(void* buffer, DWORD* read) {
  *read = 0;
  if (cancelled_ || DeadlinePassed()) return false;
  HINTERNET request = request_.load();
  if (!request) return false;
  CWinInet& inet = session_->GetWinInet();
  // No single read may outlast the download's deadline, nor a window of the
  // rate floor.
  DWORD remaining = deadlineMs_ - (GetTickCount() - startTick_);
  DWORD timeout = std::max<DWORD>(std::min<DWORD>(inet.GetTimeout(), remaining), 1);
  if (minimumRate_ != 0 && rateWindowMs_ != 0) timeout = std::min<DWORD>(timeout, std::max<DWORD>(rateWindowMs_, 1));
  inet.InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  if (inet.InternetReadFile(request, buffer, static_cast<DWORD>(kChunkSize), read) == FALSE) {
    networkError_ = GetLastError();
    return false;
  }
  return KeepsMinimumRate(*read);
}

bool CInetJob::KeepsMinimumRate(DWORD bytes) {
  if (minimumRate_ == 0 || rateWindowMs_ == 0) return true;
  const DWORD now = GetTickCount();
  rateWindowBytes_ += bytes;
  const DWORD elapsed = now - rateWindowStart_;
  if (elapsed < rateWindowMs_) return true;
  if (rateWindowBytes_ * 1000u < static_cast<std::uint64_t>(minimumRate_) * elapsed) {
    tooSlow_ = true;
    CDebugLog::GetInstance().Printf(u"Download too slow (%u bytes in %u ms): %s",
                                    static_cast<unsigned>(rateWindowBytes_), static_cast<unsigned>(elapsed),
                                    url_.c_str());
    return false;
  }
  rateWindowStart_ = now;
  rateWindowBytes_ = 0;
  return true;
}

bool CInetJob::ReadPlain() {
  decoded_ = raw_ = delivered_ = 0;
  rateWindowStart_ = GetTickCount();
  rateWindowBytes_ = 0;
  for (;;) {
    DWORD n = 0;
    if (!ReadChunk(readBuffer_.data(), &n)) return false;
    // A body shorter than its Content-Length is cut.
    if (n == 0) return contentLength_ < 0 || raw_ == static_cast<std::size_t>(contentLength_);
    decoded_ += n;
    raw_ += n;
    if (decoded_ > maxBody_) return false;
    if (!Deliver()) return false;
  }
}

bool CInetJob::ReadGzip() {
  decoded_ = raw_ = delivered_ = 0;
  rateWindowStart_ = GetTickCount();
  rateWindowBytes_ = 0;
  z_stream z{};
  if (inflateInit2_(&z, 47, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) return false;
  bool ok = false;
  for (;;) {
    DWORD n = 0;
    if (!ReadChunk(inputBuffer_.data(), &n)) break;
    if (n == 0) break;  // the stream ended before its end marker: truncated
    raw_ += n;
    z.next_in = inputBuffer_.data();
    z.avail_in = n;
    int rc = Z_OK;
    bool failed = false;
    do {
      z.next_out = readBuffer_.data();
      z.avail_out = static_cast<uInt>(kChunkSize);
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
        failed = true;
        break;
      }
      std::size_t produced = kChunkSize - z.avail_out;
      decoded_ += produced;
      if (decoded_ > maxBody_ || !Deliver()) {
        failed = true;
        break;
      }
      if (rc == Z_STREAM_END) break;
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    } while (z.avail_out == 0 || z.avail_in > 0);
    if (failed) break;
    if (rc == Z_STREAM_END) {
      ok = true;
      break;
    }
  }
  inflateEnd(&z);
  return ok;
}

bool CInetJob::Deliver() {
  std::size_t count = decoded_ - delivered_;
  if (count == 0) return true;
  const char* bytes = reinterpret_cast<const char*>(readBuffer_.data());
  if (keepInMemory_) {
    // The body is appended in place: room for the length the server
    // announced (up to a bound, as it may be false) is taken at once, more
    // by doubling; nothing is filled in advance.
    if (buffer_.capacity() < decoded_) {
      std::size_t capacity = std::max(buffer_.capacity(), kInitialBuffer);
      if (delivered_ == 0 && contentLength_ > 0) {
        capacity = std::max(capacity, std::min(static_cast<std::size_t>(contentLength_), kMaxAnnouncedReserve));
      }
      while (capacity < decoded_) capacity *= 2;
      try {
        buffer_.reserve(capacity);
      } catch (...) {
        return false;
      }
    }
    buffer_.resize(delivered_);
    buffer_.insert(buffer_.end(), bytes, bytes + count);
  }
  if (writeToFile_) {
    bool written = false;
    if (!output_) {
      for (int attempt = 0; attempt < 5 && !output_; ++attempt) {
        if (attempt) Sleep(100);
        HANDLE h = CreateFileW(outputPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h && h != INVALID_HANDLE_VALUE) output_ = h;
      }
    }
    if (output_) {
      DWORD done = 0;
      written = WriteFile(output_, bytes, static_cast<DWORD>(count), &done, nullptr) && done == count;
    }
    if (!written && !keepInMemory_) return false;
  }
  delivered_ = decoded_;
  session_->Notify(IInetEventListener::EVENT_PROGRESS, this);
  return true;
}
