// One HTTP GET of a session: waits for the connection, requests the URL and
// delivers the body (inflated when gzip) to memory and/or a file.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/inet/Inet.h"

class CInetSession;

class CInetJob {
 public:
  // RESULT_NOT_MODIFIED (status 304) only for a job that sent validators.
  enum Result {
    RESULT_FAILURE = 0,
    RESULT_SUCCESS = 1,
    RESULT_CANCELLED = 2,
    RESULT_NOT_FOUND = 3,
    RESULT_NOT_MODIFIED = 4
  };
  static constexpr std::size_t kChunkSize = 8192;
  static constexpr std::size_t kInitialBuffer = 16384;
  // The most a body kept in memory reserves ahead for its announced length.
  static constexpr std::size_t kMaxAnnouncedReserve = 32u * 1024 * 1024;
  // Decoded body limits: documents, and binaries (enclosures, images).
  static constexpr std::size_t kDocumentMaxBody = 32u << 20;
  static constexpr std::size_t kBinaryMaxBody = 512u << 20;
  // Overall time a download may take, besides the per-call time-outs.
  static constexpr plat::DWORD kDefaultDeadlineMs = 10 * 60 * 1000;

  CInetJob(CInetSession* session, const std::u16string& url);
  virtual ~CInetJob();
  CInetJob(const CInetJob&) = delete;
  CInetJob& operator=(const CInetJob&) = delete;

  virtual void Execute();

  void SetKeepInMemory(bool keep) { keepInMemory_ = keep; }
  void SetOutputFile(const std::u16string& path) {
    outputPath_ = path;
    writeToFile_ = !path.empty();
  }
  void SetMaxBodySize(std::size_t bytes) { maxBody_ = bytes; }
  // Validators of the copy the caller holds (the ETag and Last-Modified the
  // server sent with it), sent as If-None-Match and If-Modified-Since when
  // not empty: the server may then answer 304, the copy is still current.
  void SetValidators(const std::u16string& etag, const std::u16string& lastModified) {
    sentETag_ = etag;
    sentLastModified_ = lastModified;
  }
  std::size_t GetMaxBodySize() const { return maxBody_; }
  void SetDeadline(plat::DWORD ms) { deadlineMs_ = ms; }
  // A body that arrives slower than bytesPerSecond over a whole window of
  // windowMs fails the download (a server dripping bytes cannot hold the
  // worker). 0 bytes per second: no floor (the default).
  void SetMinimumRate(plat::DWORD bytesPerSecond, plat::DWORD windowMs) {
    minimumRate_ = bytesPerSecond;
    rateWindowMs_ = windowMs;
  }
  bool WasTooSlow() const { return tooSlow_; }
  // The library's error of a send or read that failed (0: none did).
  plat::DWORD GetNetworkError() const { return networkError_; }

  // What decides the request and how its answer is taken (address,
  // validators, limits, output): two jobs with equal keys make the same
  // request and keep the same of its answer.
  std::u16string RequestKey() const;
  // Takes the outcome of a job with the same key that has ended (its body
  // moved here) as if this job had made the download, and notifies the rest
  // of its events on this job's session (its attempt was notified when this
  // job began to wait for it): the status, the body's bytes, the end.
  void Adopt(CInetJob& ended);
  // While this job waits for a job with the same key: the bytes that one
  // has received so far and its content length, notified as progress.
  void RelayProgress(std::size_t rawBytes, int contentLength);

  int GetResult() const { return result_; }
  const char* GetBuffer() const { return buffer_.data(); }
  std::size_t GetDeliveredLength() const { return delivered_; }
  std::string GetBody() const { return std::string(buffer_.data(), delivered_); }
  // The buffer itself (its first GetDeliveredLength bytes are the body), for
  // a reader that frees it early.
  std::vector<char>& Buffer() { return buffer_; }
  const std::u16string& GetErrorText() const { return errorText_; }
  int GetStatusCode() const { return statusCode_; }
  int GetContentLength() const { return contentLength_; }
  const std::u16string& GetContentType() const { return contentType_; }
  const std::u16string& GetCharset() const { return charset_; }
  // The response's ETag and Last-Modified, empty when it had none.
  const std::u16string& GetETag() const { return etag_; }
  const std::u16string& GetLastModified() const { return lastModified_; }
  // After a successful read: the body's end was confirmed by the response
  // itself (its Content-Length, the last chunk of a chunked body, or the end
  // of a gzip stream), not only by the connection closing, which a
  // connection lost part way looks like as well.
  bool IsLengthChecked() const { return lengthChecked_; }
  // The answer came from another address than the job's (redirects were
  // followed); GetFinalUrl is the address that answered.
  bool WasRedirected() const { return redirected_; }
  const std::u16string& GetFinalUrl() const { return finalUrl_.empty() ? url_ : finalUrl_; }
  const std::u16string& GetUrl() const { return url_; }
  const std::u16string& GetOutputPath() const { return outputPath_; }
  std::size_t GetRawBytes() const { return raw_; }
  std::size_t GetDecodedBytes() const { return decoded_; }
  bool IsFinished() const { return finished_; }
  bool IsCancelled() const { return cancelled_.load(); }
  CInetSession* GetSession() const { return session_; }

  // From the session, on any thread.
  void Cancel();
  void Resume();

 private:
  // The error text for a request that got no answer (error: the last error).
  std::u16string SendFailureText(plat::DWORD error, int port) const;
  bool ReadPlain();
  bool ReadGzip();
  bool ReadChunk(void* buffer, plat::DWORD* read);
  bool Deliver();
  void CloseRequest();
  void CloseOutput();
  // A successful end: handles closed, the result set, the end notified.
  void Finish(int result);
  void ReadHeaders();
  // The address the request's answer came from, and whether it is another
  // than the job's.
  void ReadFinalUrl();
  bool DeadlinePassed() const;
  // Counts read bytes against the rate floor; false when the floor was missed.
  bool KeepsMinimumRate(plat::DWORD bytes);

  CInetSession* session_;
  std::u16string url_;
  int result_ = RESULT_FAILURE;
  plat::HINTERNET connection_ = nullptr;
  std::atomic<plat::HINTERNET> request_{nullptr};
  plat::HANDLE output_ = nullptr;
  std::u16string outputPath_;
  bool writeToFile_ = false;
  bool keepInMemory_ = false;
  std::vector<char> buffer_;
  std::vector<unsigned char> readBuffer_;
  std::vector<unsigned char> inputBuffer_;
  int contentLength_ = -1;
  int statusCode_ = 0;
  std::size_t decoded_ = 0, raw_ = 0, delivered_ = 0;
  std::u16string charset_, contentType_, host_, path_, user_, password_, errorText_;
  std::u16string sentETag_, sentLastModified_, etag_, lastModified_;
  bool gzip_ = false;
  bool chunked_ = false;
  bool lengthChecked_ = false;
  bool redirected_ = false;
  std::u16string finalUrl_;
  bool finished_ = false;
  std::atomic<bool> cancelled_{false};
  plat::HANDLE event_ = nullptr;
  std::size_t maxBody_ = kDocumentMaxBody;
  plat::DWORD deadlineMs_ = kDefaultDeadlineMs;
  plat::DWORD startTick_ = 0;
  plat::DWORD minimumRate_ = 0;
  plat::DWORD rateWindowMs_ = 0;
  plat::DWORD rateWindowStart_ = 0;
  std::uint64_t rateWindowBytes_ = 0;
  bool tooSlow_ = false;
  plat::DWORD networkError_ = 0;
};
