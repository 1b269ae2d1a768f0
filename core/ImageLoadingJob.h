// Decodes one picture on a job thread and hands the bitmap to the window that
// asked for it.
//
// The creator sets the key, the cookie, the target window and the message
// (the number registered for "MyImageLoaded") and queues the job at the front
// of queue 0. When the decoded bitmap is ready the job sends (synchronously)
// the message with WPARAM = the job and LPARAM = 0; during the message the
// window reads GetKey, GetCookie and GetBitmap and takes the bitmap with
// TakeBitmap (or SetBitmap(nullptr)). Whatever it did not take the job
// deletes once the send returned. The send must stay synchronous: the job
// deletes an untaken bitmap right afterwards.
//
// Stop (from any thread) empties the path, which marks the job cancelled, and
// frees a bitmap the job holds: a job that has not started does nothing, one
// that is decoding finishes but sends nothing. While the window handles the
// message, Stop leaves the bitmap alone (the window may be drawing it); the
// job deletes it after the send when it was not taken.
#pragma once

#include <cstdint>
#include <string>

#include "core/Job.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class CImageLoadingJob : public CJob {
 public:
  CImageLoadingJob(const void* owner, const std::u16string& path);
  ~CImageLoadingJob() override;

  bool IsAutoDelete() override { return true; }
  int GetQueue() override { return 0; }
  int GetType() override { return CJob::GetType(); }
  void Execute() override;
  void Stop() override;
  bool CheckForDuplicates() override { return false; }
  bool IsEqual(CJob*) override { return false; }

  // Set by the creator before the job is queued.
  void SetKey(const std::u16string& key) { key_ = key; }
  void SetCookie(std::int32_t cookie) { cookie_ = cookie; }
  void SetTarget(plat::HWND window, plat::UINT message) {
    window_ = window;
    message_ = message;
  }

  const std::u16string& GetKey() const { return key_; }
  std::int32_t GetCookie() const { return cookie_; }
  plat::HWND GetTargetWindow() const { return window_; }
  plat::UINT GetMessage() const { return message_; }
  // Empty once the job was cancelled.
  std::u16string GetPath();

  // The decoded bitmap, still owned by the job.
  plat::HBITMAP GetBitmap();
  // Replaces the held bitmap without deleting the old one (null: the window
  // took it).
  void SetBitmap(plat::HBITMAP bitmap);
  // Hands the bitmap over: the caller deletes it from now on.
  plat::HBITMAP TakeBitmap();

 private:
  void FreeBitmapLocked();

  std::u16string key_;
  std::int32_t cookie_ = 0;
  plat::HWND window_ = nullptr;
  plat::UINT message_ = 0;
  std::u16string path_;
  plat::HBITMAP bitmap_ = nullptr;
  bool delivering_ = false;  // the window is handling the message
};
