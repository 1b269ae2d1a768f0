#include "core/STScreenBuffer.h"

#include <cstring>

#include "core/DeviceInfo.h"

using namespace plat;

namespace {

HBITMAP Make24BitSection(int width, int height, void** bits) {
  if (width < 1 || height < 1) return nullptr;
  BITMAPINFO info{};
  BITMAPINFOHEADER& h = info.bmiHeader;
  h = DibHeader(width, -height, 24);
  h.biXPelsPerMeter = 3780;
  h.biYPelsPerMeter = 3780;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  if (screen) ReleaseDC(nullptr, screen);
  return bitmap;
}

// A memory DC compatible with the screen holding a bitmap; undone on destruction.
class SelectedDc {
 public:
  explicit SelectedDc(HBITMAP bitmap) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    if (screen) ReleaseDC(nullptr, screen);
    if (dc_) previous_ = SelectObject(dc_, bitmap);
    if (dc_ && !previous_) {
      ::plat::DeleteDC(dc_);
      dc_ = nullptr;
    }
  }
  ~SelectedDc() {
    if (!dc_) return;
    SelectObject(dc_, previous_);
    ::plat::DeleteDC(dc_);
  }
  SelectedDc(const SelectedDc&) = delete;
  SelectedDc& operator=(const SelectedDc&) = delete;
  HDC dc() const { return dc_; }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace

int CSTScreenBuffer::StrideOf(int width) { return width > 0 ? static_cast<int>(DibStride(24, width)) : 0; }

CSTScreenBuffer::~CSTScreenBuffer() { Release(); }

void CSTScreenBuffer::Release() {
  DeleteDC();
  if (bitmap_ && ownsBitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  bits_ = nullptr;
  width_ = height_ = stride_ = 0;
}

bool CSTScreenBuffer::Create(int width, int height) {
  if (width < 1 || height < 1) return false;
  Release();
  void* bits = nullptr;
  HBITMAP bitmap = Make24BitSection(width, height, &bits);
  if (!bitmap) return false;
  bitmap_ = bitmap;
  bits_ = static_cast<std::uint8_t*>(bits);
  width_ = width;
  height_ = height;
  stride_ = StrideOf(width);
  ownsBitmap_ = true;
  return true;
}

bool CSTScreenBuffer::CreateBlank(int width, int height) {
  if (!Create(width, height)) return false;
  std::memset(bits_, 0, static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_));
  return true;
}

bool CSTScreenBuffer::CreateFromBitmap(HBITMAP source) {
  BITMAP bm{};
  if (!source || !GetObjectW(source, sizeof bm, &bm)) return false;
  if (!Create(bm.bmWidth, bm.bmHeight)) return false;
  SelectedDc from(source);
  HDC to = GetDC();
  if (!from.dc() || !to) return false;
  return DeviceBitBlt(to, 0, 0, width_, height_, from.dc(), 0, 0, SRCCOPY);
}

bool CSTScreenBuffer::CreateFromDC(HDC source, int x, int y, int width, int height) {
  if (!source || !Create(width, height)) return false;
  HDC to = GetDC();
  if (!to) return false;
  return DeviceBitBlt(to, 0, 0, width, height, source, x, y, SRCCOPY);
}

HDC CSTScreenBuffer::GetDC() {
  if (dc_ || !bitmap_) return dc_;
  HDC screen = ::plat::GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (screen) ReleaseDC(nullptr, screen);
  if (!dc) return nullptr;
  HGDIOBJ previous = SelectObject(dc, bitmap_);
  if (!previous) {
    ::plat::DeleteDC(dc);
    return nullptr;
  }
  dc_ = dc;
  previous_ = previous;
  return dc_;
}

bool CSTScreenBuffer::BlitTo(HDC target, int x, int y) {
  HDC dc = GetDC();
  if (!dc || !target) return false;
  return DeviceBitBlt(target, x, y, width_, height_, dc, 0, 0, SRCCOPY);
}

bool CSTScreenBuffer::SetOwnsBitmap(bool owns) {
  bool was = ownsBitmap_;
  ownsBitmap_ = owns;
  return was;
}

void CSTScreenBuffer::DeleteDC() {
  if (!dc_) return;
  SelectObject(dc_, previous_);
  ::plat::DeleteDC(dc_);
  dc_ = nullptr;
  previous_ = nullptr;
}

HBITMAP Create24BitDib(int width, int height) {
  void* bits = nullptr;
  return Make24BitSection(width, height, &bits);
}

bool BlitBitmap(HBITMAP* target, int x, int y, int w, int h, HBITMAP source, int srcX, int srcY) {
  if (!target || !*target || !source) return false;
  SelectedDc to(*target);
  SelectedDc from(source);
  if (!to.dc() || !from.dc()) return false;
  return DeviceBitBlt(to.dc(), x, y, w, h, from.dc(), srcX, srcY, SRCCOPY);
}
