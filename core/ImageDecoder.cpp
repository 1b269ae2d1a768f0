#include "core/ImageDecoder.h"

#include "core/DebugLog.h"
#include "core/DeviceInfo.h"
#include "platform/base/Handle.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/imaging/Imaging.h"

using namespace plat;

namespace {

using DecompressProc = HRESULT (*)(DECOMPRESSIMAGEINFO*);

DWORD ReadFromFile(char* buffer, DWORD bufferMax, LPARAM param) {
  HANDLE file = reinterpret_cast<HANDLE>(param);
  DWORD read = 0;
  if (!ReadFile(file, buffer, bufferMax, &read, nullptr)) read = 0;
  plat::Sleep(0);
  return read;
}

bool WithinPixelBudget(std::uint64_t width, std::uint64_t height) {
  return width >= 1 && height >= 1 && width * height <= kMaxImagePixels;
}

bool BitmapWithinBudget(HBITMAP bitmap) {
  BITMAP bm{};
  if (!GetObjectW(bitmap, sizeof bm, &bm)) return false;
  return WithinPixelBudget(static_cast<std::uint64_t>(bm.bmWidth), static_cast<std::uint64_t>(bm.bmHeight));
}

}  // namespace

bool PrefersImagingFactory(const std::u16string& path, bool forceImgdecmp) {
  if (forceImgdecmp) return false;
  std::u16string extension = path.size() > 4 ? path.substr(path.size() - 4) : path;
  if (EqualsNoCase(extension, u".gif")) return false;
  return IsPocketPC() && GetPlatformGeneration() >= 4;
}

HBITMAP LoadImageWithImgdecmp(const std::u16string& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  HMODULE library = LoadLibraryW(u"imgdecmp.dll");
  if (!library) {
    CloseHandle(file);
    return nullptr;
  }
  auto decompress = reinterpret_cast<DecompressProc>(GetProcAddressW(library, u"DecompressImageIndirect"));
  if (!decompress) {
    FreeLibrary(library);
    CloseHandle(file);
    return nullptr;
  }
  BYTE buffer[4096];
  HBITMAP result = nullptr;
  DECOMPRESSIMAGEINFO info{};
  info.dwSize = sizeof(DECOMPRESSIMAGEINFO);
  info.pbBuffer = buffer;
  info.dwBufferMax = sizeof buffer;
  info.dwBufferCurrent = 0;
  info.phBM = &result;
  info.ppImageRender = nullptr;
  info.iBitDepth = 24;
  info.lParam = reinterpret_cast<LPARAM>(file);
  info.hdc = nullptr;
  info.iScale = 100;
  info.iMaxWidth = 100000;
  info.iMaxHeight = 100000;
  info.pfnGetData = &ReadFromFile;
  info.pfnImageProgress = nullptr;
  info.crTransparentOverride = static_cast<COLORREF>(-1);
  HRESULT hr = decompress(&info);
  CloseHandle(file);
  FreeLibrary(library);
  if (hr < 0) {
    if (result) DeleteObject(result);
    return nullptr;
  }
  if (result && !BitmapWithinBudget(result)) {
    DeleteObject(result);
    return nullptr;
  }
  return result;
}

HBITMAP LoadImageWithImagingFactory(const std::u16string& path) {
  HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HBITMAP result = nullptr;
  IImagingFactory* factory = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      factory) {
    IImage* image = nullptr;
    ImageInfo info{};
    if (SUCCEEDED(factory->CreateImageFromFile(path.c_str(), &image)) && image &&
        SUCCEEDED(image->GetImageInfo(&info)) && WithinPixelBudget(info.Width, info.Height)) {
      int width = static_cast<int>(info.Width);
      int height = static_cast<int>(info.Height);
      HDC screen = GetDC(nullptr);
      HDC dc = CreateCompatibleDC(screen);
      HBITMAP bitmap = dc ? CreateCompatibleBitmap(screen, width, height) : nullptr;
      if (bitmap) {
        HGDIOBJ previous = SelectObject(dc, bitmap);
        RECT rect{0, 0, width, height};
        bool drawn = previous && SUCCEEDED(image->Draw(dc, &rect, nullptr));
        if (previous) SelectObject(dc, previous);
        if (drawn) {
          result = bitmap;
        } else {
          DeleteObject(bitmap);
        }
      }
      if (dc) DeleteDC(dc);
      if (screen) ReleaseDC(nullptr, screen);
    }
    if (image) image->Release();
    factory->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return result;
}

HBITMAP LoadImageFromFile(const std::u16string& path, bool forceImgdecmp) {
  CProfileScope profile(u"LoadImageFromFile");
  HBITMAP bitmap = nullptr;
  if (PrefersImagingFactory(path, forceImgdecmp)) bitmap = LoadImageWithImagingFactory(path);
  if (!bitmap) bitmap = LoadImageWithImgdecmp(path);
  return bitmap;
}
