#include "core/ImageLoadingJob.h"

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/ImageDecoder.h"

CImageLoadingJob::CImageLoadingJob(const void* owner, const std::u16string& path) : CJob(owner), path_(path) {
  CDebugLog::GetInstance().WriteLine(u"** CImageLoadingJob constructed");
}

CImageLoadingJob::~CImageLoadingJob() {
  CSyncLock lock(this, u"CImageLoadingJob::~CImageLoadingJob");
  FreeBitmapLocked();
}

void CImageLoadingJob::FreeBitmapLocked() {
  if (bitmap_) {
    plat::DeleteObject(bitmap_);
    bitmap_ = nullptr;
  }
}

std::u16string CImageLoadingJob::GetPath() {
  CSyncLock lock(this, u"CImageLoadingJob::GetPath");
  return path_;
}

plat::HBITMAP CImageLoadingJob::GetBitmap() {
  CSyncLock lock(this, u"CImageLoadingJob::GetBitmap");
  return bitmap_;
}

void CImageLoadingJob::SetBitmap(plat::HBITMAP bitmap) {
  CSyncLock lock(this, u"CImageLoadingJob::SetBitmap");
  bitmap_ = bitmap;
}

plat::HBITMAP CImageLoadingJob::TakeBitmap() {
  CSyncLock lock(this, u"CImageLoadingJob::TakeBitmap");
  plat::HBITMAP bitmap = bitmap_;
  bitmap_ = nullptr;
  return bitmap;
}

void CImageLoadingJob::Execute() {
  std::u16string path;
  {
    CSyncLock lock(this, u"CImageLoadingJob::Execute");
    if (path_.empty() || !FileExists(path_)) return;
    path = path_;
  }

  // Decoding runs without the lock, so Stop is never kept waiting by it.
  plat::HBITMAP bitmap = LoadImageFromFile(path, false);
  bool deliver = false;
  {
    CSyncLock lock(this, u"CImageLoadingJob::Execute");
    FreeBitmapLocked();
    bitmap_ = bitmap;
    // A job cancelled meanwhile has an empty path and sends nothing.
    deliver = bitmap_ && window_ && message_ && !path_.empty();
    delivering_ = deliver;
  }

  // Synchronous: the window takes the bitmap during the message, before the
  // job deletes what is left. The lock is not held while the window works.
  if (deliver) plat::SendMessageW(window_, message_, reinterpret_cast<plat::WPARAM>(this), 0);

  CSyncLock lock(this, u"CImageLoadingJob::Execute");
  delivering_ = false;
  FreeBitmapLocked();
}

void CImageLoadingJob::Stop() {
  CSyncLock lock(this, u"CImageLoadingJob::Stop");
  path_.clear();
  if (!delivering_) FreeBitmapLocked();
}
