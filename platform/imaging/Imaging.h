// Image decoding: PNG (libpng), JPEG (libjpeg), GIF (giflib; first frame of
// an animation) and our own BMP and ICO readers, behind the platform's two
// image services:
//  - the COM imaging factory (CLSID_ImagingFactory / IID_IImagingFactory,
//    created with CoCreateInstance): CreateImageFromFile / CreateImageFromBuffer
//    give an IImage, whose GetImageInfo tells its size and Draw paints it into
//    a DC scaled to a rectangle;
//  - the one-shot decompressor of "imgdecmp.dll" (a built-in module):
//    DecompressImageIndirect pulls the file through a read callback and makes a
//    DIB section of the asked depth.
// Downloads are untrusted: every decoder checks sizes against its input,
// refuses images above the pixel budget and fails cleanly on truncated data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/Types.h"
#include "platform/gdi/Gdi.h"
#include "platform/imaging/Com.h"

namespace plat {

// ---------------------------------------------------------------------------
// Decoded images

enum class ImageFormat { Unknown, Png, Jpeg, Gif, Bmp, Ico };

// Images above this many pixels (or 16384 a side) are refused by default.
constexpr std::uint64_t kDefaultImagePixelBudget = 16u * 1024u * 1024u;

struct DecodedImage {
  int width = 0;
  int height = 0;
  ImageFormat format = ImageFormat::Unknown;
  bool hasAlpha = false;               // some pixel is not fully opaque
  std::vector<std::uint32_t> pixels;  // 0xAARRGGBB, straight alpha, top row first
};

ImageFormat SniffImageFormat(const void* data, std::size_t size);

// Decodes a whole image held in memory; false (and a short reason) on any
// fault. `maxPixels` is the pixel budget.
bool DecodeImage(const void* data, std::size_t size, DecodedImage& out, std::string* error = nullptr,
                 std::uint64_t maxPixels = kDefaultImagePixelBudget);
// Reads a device file and decodes it.
bool DecodeImageFile(const WCHAR* devicePath, DecodedImage& out, std::string* error = nullptr,
                     std::uint64_t maxPixels = kDefaultImagePixelBudget);

// A bottom-up DIB section of 24 bits (colours kept, alpha dropped) or 32 bits
// (premultiplied alpha, for AlphaBlend) of the image; null on failure.
HBITMAP CreateDibFromImage(const DecodedImage& image, int bitsPerPixel);

// Scaled copy: a box filter when shrinking, the nearest pixel when growing.
DecodedImage ScaleImage(const DecodedImage& image, int width, int height);

// Files larger than this are not read for decoding (256 MB).
constexpr std::size_t kMaxImageFileBytes = 256u * 1024u * 1024u;
// Reads a whole device file; false when it is missing, unreadable or larger than maxBytes.
bool ReadDeviceFile(const WCHAR* devicePath, std::vector<std::uint8_t>& bytes, std::size_t maxBytes);

// Icon files (".ico"): the directory, one image decoded (its AND mask as
// alpha 0), and icons made from them.
struct IcoEntry {
  int width = 0;   // 1..256
  int height = 0;
  int bitCount = 0;
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
};
// Empty when the header or any directory entry is out of the data.
std::vector<IcoEntry> ListIcoEntries(const void* data, std::size_t size);
bool DecodeIcoEntry(const void* data, std::size_t size, std::size_t index, DecodedImage& out,
                    std::string* error = nullptr, std::uint64_t maxPixels = kDefaultImagePixelBudget);
// An icon of a decoded image: 32-bit colour with straight alpha, and a mask
// set where alpha is 0.
HICON CreateIconFromImage(const DecodedImage& image);
// The image of exactly cx x cy (deepest first), else the nearest larger one
// scaled down, else the largest scaled up; cx or cy 0: the first image's size.
HICON CreateIconFromIcoData(const void* data, std::size_t size, int cx, int cy);

// ---------------------------------------------------------------------------
// The imaging factory

inline constexpr CLSID CLSID_ImagingFactory = {
    0x327ABDA8, 0x072B, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr IID IID_IImagingFactory = {
    0x327ABDA7, 0x072B, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr IID IID_IImage = {0x327ABDA9, 0x072B, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

using PixelFormatID = DWORD;
constexpr PixelFormatID PixelFormat24bppRGB = 0x00021808;
constexpr PixelFormatID PixelFormat32bppARGB = 0x0026200A;

constexpr UINT ImageFlagsHasAlpha = 0x0002;

struct ImageInfo {
  GUID RawDataFormat;  // zero
  PixelFormatID PixelFormat;
  UINT Width;
  UINT Height;
  UINT TileWidth;
  UINT TileHeight;
  double Xdpi;
  double Ydpi;
  UINT Flags;
};

class IImage : public IUnknown {
 public:
  virtual HRESULT GetImageInfo(ImageInfo* info) = 0;
  // Paints the image into dstRect of the DC, scaled (averaging when
  // shrinking) and blended by its alpha. srcRect (pixels of the image) null:
  // the whole image.
  virtual HRESULT Draw(HDC hdc, const RECT* dstRect, const RECT* srcRect) = 0;
};

enum BufferDisposalFlag { BufferDisposalFlagNone = 0, BufferDisposalFlagGlobalFree = 1, BufferDisposalFlagCoTaskMemFree = 2, BufferDisposalFlagUnmapView = 3 };

class IImagingFactory : public IUnknown {
 public:
  // Decodes the device file at once; E_FAIL (image null) when it cannot.
  virtual HRESULT CreateImageFromFile(const WCHAR* fileName, IImage** image) = 0;
  // The buffer is copied; the disposal flag is ignored.
  virtual HRESULT CreateImageFromBuffer(const void* buffer, UINT size, BufferDisposalFlag disposal,
                                        IImage** image) = 0;
};

// ---------------------------------------------------------------------------
// imgdecmp.dll

using GETIMAGEDATA = DWORD (*)(char* buffer, DWORD bufferMax, LPARAM param);
using IMAGEPROGRESS = void (*)(void* render, BOOL complete, LPARAM param);

struct DECOMPRESSIMAGEINFO {
  DWORD dwSize;             // sizeof(DECOMPRESSIMAGEINFO)
  BYTE* pbBuffer;           // work buffer for the read callback
  DWORD dwBufferMax;
  DWORD dwBufferCurrent;
  HBITMAP* phBM;            // receives the bitmap
  void** ppImageRender;     // unused (null)
  int iBitDepth;            // 16 (RGB565), 24, 32 (premultiplied alpha), 1/4/8 (greys); 24 otherwise
  LPARAM lParam;            // handed to the callbacks
  HDC hdc;                  // unused
  int iScale;               // percent; 100 keeps the size
  int iMaxWidth;            // larger images are scaled down to fit, keeping the aspect
  int iMaxHeight;
  GETIMAGEDATA pfnGetData;  // returns the bytes read, 0 at the end
  IMAGEPROGRESS pfnImageProgress;
  COLORREF crTransparentOverride;
};

// Reads the whole input through pfnGetData (at most kMaxImageFileBytes),
// decodes it, scales it by iScale and into iMaxWidth x iMaxHeight (keeping the
// aspect), and stores a bottom-up DIB section in *phBM.
// S_OK or E_FAIL / E_INVALIDARG / E_OUTOFMEMORY.
HRESULT DecompressImageIndirect(DECOMPRESSIMAGEINFO* info);

// Makes "imgdecmp.dll" loadable (LoadLibraryW / GetProcAddressW
// "DecompressImageIndirect"). Done when the program starts; tests take it away
// with UnregisterBuiltInModule and put it back with this.
void RegisterImagingModule();

}  // namespace plat
