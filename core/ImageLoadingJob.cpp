#include "core/ImageLoadingJob.h"

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/ImageDecoder.h"

CImageLoadingJob::CImageLoadingJob(const void* owner, const std::u16string& path) : CJob(owner), m_path(path) {
  CDebugLog::GetInstance().WriteLine(u"** CImageLoadingJob constructed");
}

CImageLoadingJob::~CImageLoadingJob() {
  CSyncLock lock(this, u"CImageLoadingJob::~CImageLoadingJob");
  FreeBitmapLocked();
}

void CImageLoadingJob::FreeBitmapLocked() {
  if (m_bitmap) {
    plat::DeleteObject(m_bitmap);
    m_bitmap = nullptr;
  }
}

std::u16string CImageLoadingJob::GetPath() {
  CSyncLock lock(this, u"CImageLoadingJob::GetPath");
  return m_path;
}

plat::HBITMAP CImageLoadingJob::GetBitmap() {
  CSyncLock lock(this, u"CImageLoadingJob::GetBitmap");
  return m_bitmap;
}

void CImageLoadingJob::SetBitmap(plat::HBITMAP bitmap) {
  CSyncLock lock(this, u"CImageLoadingJob::SetBitmap");
  m_bitmap = bitmap;
}

plat::HBITMAP CImageLoadingJob::TakeBitmap() {
  CSyncLock lock(this, u"CImageLoadingJob::TakeBitmap");
  plat::HBITMAP bitmap = m_bitmap;
  m_bitmap = nullptr;
  return bitmap;
}

void CImageLoadingJob::Execute() {
  std::u16string path;
  {
    CSyncLock lock(this, u"CImageLoadingJob::Execute");
    if (m_path.empty() || !FileExists(m_path)) return;
    path = m_path;
  }

  // Decoding runs without the lock, so Stop is never kept waiting by it.
  plat::HBITMAP bitmap = LoadImageFromFile(path, false);
  bool deliver = false;
  {
    CSyncLock lock(this, u"CImageLoadingJob::Execute");
    FreeBitmapLocked();
    m_bitmap = bitmap;
    // A job cancelled meanwhile has an empty path and sends nothing.
    deliver = m_bitmap && m_window && m_message && !m_path.empty();
    m_delivering = deliver;
  }

  // Synchronous: the window takes the bitmap during the message, before the
  // job deletes what is left. The lock is not held while the window works.
  if (deliver) plat::SendMessageW(m_window, m_message, reinterpret_cast<plat::WPARAM>(this), 0);

  CSyncLock lock(this, u"CImageLoadingJob::Execute");
  m_delivering = false;
  FreeBitmapLocked();
}

void CImageLoadingJob::Stop() {
  CSyncLock lock(this, u"CImageLoadingJob::Stop");
  m_path.clear();
  if (!m_delivering) FreeBitmapLocked();
}
