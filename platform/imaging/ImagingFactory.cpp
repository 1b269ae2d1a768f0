// The platform's image services: COM initialisation and class creation, the
// imaging factory and its images, and the one-shot decompressor of
// "imgdecmp.dll".
#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/base/Module.h"
#include "platform/imaging/Imaging.h"

namespace plat {

namespace {

thread_local int t_comInits = 0;

// Image pixels drawn into a DC: scaled with a box filter to the target size,
// blended by alpha when the image has any.
HRESULT DrawDecoded(const DecodedImage& image, HDC hdc, const RECT* dst, const RECT* src) {
  if (!hdc || !dst) return E_INVALIDARG;
  RECT s = src ? *src : RECT{0, 0, image.width, image.height};
  s.left = std::max<LONG>(s.left, 0);
  s.top = std::max<LONG>(s.top, 0);
  s.right = std::min<LONG>(s.right, image.width);
  s.bottom = std::min<LONG>(s.bottom, image.height);
  int dw = dst->right - dst->left, dh = dst->bottom - dst->top;
  if (s.right <= s.left || s.bottom <= s.top || dw <= 0 || dh <= 0) return E_INVALIDARG;
  if (static_cast<std::uint64_t>(dw) * static_cast<std::uint64_t>(dh) > kDefaultImagePixelBudget) return E_OUTOFMEMORY;
  DecodedImage part;
  const DecodedImage* from = &image;
  if (s.left != 0 || s.top != 0 || s.right != image.width || s.bottom != image.height) {
    part.width = s.right - s.left;
    part.height = s.bottom - s.top;
    part.hasAlpha = image.hasAlpha;
    part.pixels.resize(static_cast<std::size_t>(part.width) * part.height);
    for (int y = 0; y < part.height; ++y)
      std::memcpy(part.pixels.data() + static_cast<std::size_t>(y) * part.width,
                  image.pixels.data() + static_cast<std::size_t>(y + s.top) * image.width + s.left,
                  static_cast<std::size_t>(part.width) * sizeof(std::uint32_t));
    from = &part;
  }
  DecodedImage scaled;
  if (from->width != dw || from->height != dh) {
    scaled = ScaleImage(*from, dw, dh);
    if (scaled.pixels.empty()) return E_OUTOFMEMORY;
    from = &scaled;
  }
  bool alpha = from->hasAlpha;
  HBITMAP bmp = CreateDibFromImage(*from, alpha ? 32 : 24);
  if (!bmp) return E_OUTOFMEMORY;
  HDC mem = CreateCompatibleDC(hdc);
  HGDIOBJ old = SelectObject(mem, bmp);
  BOOL ok = alpha ? AlphaBlend(hdc, dst->left, dst->top, dw, dh, mem, 0, 0, dw, dh,
                               BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA})
                  : BitBlt(hdc, dst->left, dst->top, dw, dh, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(bmp);
  return ok ? S_OK : E_FAIL;
}

class Image final : public ComObject<IImage, IID_IImage> {
 public:
  explicit Image(DecodedImage img) : image_(std::move(img)) {}
  HRESULT GetImageInfo(ImageInfo* info) override {
    if (!info) return E_POINTER;
    std::memset(info, 0, sizeof(*info));
    info->PixelFormat = image_.hasAlpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
    info->Width = static_cast<UINT>(image_.width);
    info->Height = static_cast<UINT>(image_.height);
    info->TileWidth = info->Width;
    info->TileHeight = 1;
    info->Xdpi = 96.0;
    info->Ydpi = 96.0;
    info->Flags = image_.hasAlpha ? ImageFlagsHasAlpha : 0;
    return S_OK;
  }
  HRESULT Draw(HDC hdc, const RECT* dst, const RECT* src) override { return DrawDecoded(image_, hdc, dst, src); }

 private:
  ~Image() override = default;
  DecodedImage image_;
};

class ImagingFactory final : public ComObject<IImagingFactory, IID_IImagingFactory> {
 public:
  HRESULT CreateImageFromFile(const WCHAR* fileName, IImage** image) override {
    if (!image) return E_POINTER;
    *image = nullptr;
    if (!fileName) return E_INVALIDARG;
    DecodedImage img;
    if (!DecodeImageFile(fileName, img)) return E_FAIL;
    *image = new Image(std::move(img));
    return S_OK;
  }
  HRESULT CreateImageFromBuffer(const void* buffer, UINT size, BufferDisposalFlag, IImage** image) override {
    if (!image) return E_POINTER;
    *image = nullptr;
    if (!buffer) return E_INVALIDARG;
    DecodedImage img;
    if (!DecodeImage(buffer, size, img)) return E_FAIL;
    *image = new Image(std::move(img));
    return S_OK;
  }

 private:
  ~ImagingFactory() override = default;
};

FARPROC ResolveImgdecmp(const char* name) {
  if (name && std::strcmp(name, "DecompressImageIndirect") == 0)
    return reinterpret_cast<FARPROC>(&DecompressImageIndirect);
  return nullptr;
}

// The decompressor is part of the device from the start.
const bool g_imgdecmpRegistered = (RegisterImagingModule(), true);

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) {
  ++t_comInits;
  return t_comInits == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_comInits > 0) --t_comInits;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
  (void)g_imgdecmpRegistered;
  if (!object) return E_POINTER;
  *object = nullptr;
  if (t_comInits <= 0) return CO_E_NOTINITIALIZED;
  if (outer) return E_INVALIDARG;
  if (!(context & CLSCTX_INPROC_SERVER) || !(clsid == CLSID_ImagingFactory)) return REGDB_E_CLASSNOTREG;
  auto* factory = new ImagingFactory();
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

HRESULT DecompressImageIndirect(DECOMPRESSIMAGEINFO* info) {
  if (!info || info->dwSize != sizeof(DECOMPRESSIMAGEINFO) || !info->pfnGetData || !info->phBM) return E_INVALIDARG;
  *info->phBM = nullptr;
  std::vector<std::uint8_t> own;
  char* buffer = reinterpret_cast<char*>(info->pbBuffer);
  DWORD bufferMax = info->dwBufferMax;
  if (!buffer || bufferMax == 0) {
    own.resize(4096);
    buffer = reinterpret_cast<char*>(own.data());
    bufferMax = static_cast<DWORD>(own.size());
  }
  std::vector<std::uint8_t> data;
  for (;;) {
    DWORD n = info->pfnGetData(buffer, bufferMax, info->lParam);
    if (n == 0) break;
    if (n > bufferMax || data.size() + n > kMaxImageFileBytes) return E_FAIL;
    data.insert(data.end(), buffer, buffer + n);
  }
  info->dwBufferCurrent = 0;
  DecodedImage img;
  if (!DecodeImage(data.data(), data.size(), img)) return E_FAIL;
  int w = img.width, h = img.height;
  if (info->iScale > 0 && info->iScale != 100) {
    w = std::max(1, static_cast<int>(static_cast<long long>(w) * info->iScale / 100));
    h = std::max(1, static_cast<int>(static_cast<long long>(h) * info->iScale / 100));
  }
  if (info->iMaxWidth > 0 && w > info->iMaxWidth) {
    h = std::max(1, static_cast<int>(static_cast<long long>(h) * info->iMaxWidth / w));
    w = info->iMaxWidth;
  }
  if (info->iMaxHeight > 0 && h > info->iMaxHeight) {
    w = std::max(1, static_cast<int>(static_cast<long long>(w) * info->iMaxHeight / h));
    h = info->iMaxHeight;
  }
  if (w != img.width || h != img.height) {
    img = ScaleImage(img, w, h);
    if (img.pixels.empty()) return E_OUTOFMEMORY;
  }
  int depth = info->iBitDepth;
  HBITMAP result = nullptr;
  if (depth == 32) {
    result = CreateDibFromImage(img, 32);
  } else if (depth == 16 || depth == 8 || depth == 4 || depth == 1) {
    HBITMAP full = CreateDibFromImage(img, 24);
    if (!full) return E_OUTOFMEMORY;
    DibInfo hdr(w, h, depth, depth == 16 ? BI_BITFIELDS : BI_RGB);
    if (depth == 16) {
      hdr.SetMasks(0xF800, 0x07E0, 0x001F);
    } else {
      int n = 1 << depth;
      for (int i = 0; i < n; ++i) {
        BYTE v = static_cast<BYTE>(i * 255 / (n - 1));
        hdr.bmiColors[i] = RGBQUAD{v, v, v, 0};
      }
    }
    result = CreateDIBSection(nullptr, hdr.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
    if (result) {
      HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
      HGDIOBJ oa = SelectObject(a, full), ob = SelectObject(b, result);
      BitBlt(b, 0, 0, w, h, a, 0, 0, SRCCOPY);
      SelectObject(a, oa);
      SelectObject(b, ob);
      DeleteDC(a);
      DeleteDC(b);
    }
    DeleteObject(full);
  } else {
    result = CreateDibFromImage(img, 24);
  }
  if (!result) return E_OUTOFMEMORY;
  *info->phBM = result;
  if (info->pfnImageProgress) info->pfnImageProgress(nullptr, TRUE, info->lParam);
  return S_OK;
}

void RegisterImagingModule() { RegisterBuiltInModule(u"imgdecmp.dll", &ResolveImgdecmp); }

}  // namespace plat
