// The imaging factory through CoCreateInstance and the decompressor of
// "imgdecmp.dll" through LoadLibraryW, as the program reaches them.
#include <gtest/gtest.h>

#include "platform/base/Module.h"
#include "platform/imaging/Imaging.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using gditest::Fill;
using gditest::MakeDib;
using gditest::MemDc;

class ImagingServicesTest : public orvtest::DeviceTest {
 protected:
  // Writes a file under device "\" and returns its device path.
  std::u16string PutFile(const char16_t* name, const std::string& bytes) {
    std::u16string n(name);
    orvtest::WriteHostFile(device_.FsRoot() + "/" + std::string(n.begin(), n.end()), bytes);
    return u"\\" + n;
  }
};

struct ComScope {
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

IImagingFactory* MakeFactory() {
  IImagingFactory* f = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IImagingFactory,
                                reinterpret_cast<void**>(&f));
  return SUCCEEDED(hr) ? f : nullptr;
}

TEST_F(ImagingServicesTest, FactoryNeedsComAndItsClass) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_ImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IImagingFactory, &out),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(out, nullptr);
  ComScope com;
  CLSID other = CLSID_ImagingFactory;
  other.Data1 ^= 1;
  EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IImagingFactory, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_ImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IImage, &out), E_NOINTERFACE);
  IImagingFactory* f = MakeFactory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Release(), 0u);
}

TEST_F(ImagingServicesTest, ImageFromFileDrawsScaledIntoADc) {
  std::u16string path =
      PutFile(u"pic.png", imgtest::Png(4, 2, imgtest::Quadrants(4, 2, 0xFFFF0000, 0xFF0000FF, 0xFFFF0000, 0xFF0000FF)));
  ComScope com;
  IImagingFactory* f = MakeFactory();
  ASSERT_NE(f, nullptr);
  IImage* image = nullptr;
  ASSERT_EQ(f->CreateImageFromFile(path.c_str(), &image), S_OK);
  ImageInfo info{};
  ASSERT_EQ(image->GetImageInfo(&info), S_OK);
  EXPECT_EQ(info.Width, 4u);
  EXPECT_EQ(info.Height, 2u);
  EXPECT_EQ(info.Flags & ImageFlagsHasAlpha, 0u);
  // Drawn at twice its size into a 16-bit bitmap compatible with the screen.
  HDC screen = GetDC(nullptr);
  HBITMAP target = CreateCompatibleBitmap(screen, 8, 4);
  ReleaseDC(nullptr, screen);
  {
    MemDc m(target, false);
    RECT dst{0, 0, 8, 4};
    ASSERT_EQ(image->Draw(m.dc(), &dst, nullptr), S_OK);
    EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(0xF8, 0, 0));
    EXPECT_EQ(GetPixel(m.dc(), 3, 3), RGB(0xF8, 0, 0));
    EXPECT_EQ(GetPixel(m.dc(), 4, 0), RGB(0, 0, 0xF8));
    EXPECT_EQ(GetPixel(m.dc(), 7, 3), RGB(0, 0, 0xF8));
    RECT empty{0, 0, 0, 4};
    EXPECT_NE(image->Draw(m.dc(), &empty, nullptr), S_OK);
  }
  DeleteObject(target);
  EXPECT_EQ(image->Release(), 0u);

  EXPECT_EQ(f->CreateImageFromFile(u"\\missing.png", &image), E_FAIL);
  EXPECT_EQ(image, nullptr);
  std::u16string junk = PutFile(u"junk.jpg", "not a picture");
  EXPECT_EQ(f->CreateImageFromFile(junk.c_str(), &image), E_FAIL);
  f->Release();
}

TEST_F(ImagingServicesTest, ImagesWithAlphaBlendOverTheTarget) {
  std::string png = imgtest::Png(1, 1, {0x80FF0000});
  ComScope com;
  IImagingFactory* f = MakeFactory();
  ASSERT_NE(f, nullptr);
  IImage* image = nullptr;
  ASSERT_EQ(f->CreateImageFromBuffer(png.data(), static_cast<UINT>(png.size()), BufferDisposalFlagNone, &image), S_OK);
  ImageInfo info{};
  image->GetImageInfo(&info);
  EXPECT_NE(info.Flags & ImageFlagsHasAlpha, 0u);
  MemDc m(MakeDib(2, 1, 24));
  Fill(m.dc(), 0, 0, 2, 1, RGB(0, 0, 255));
  RECT dst{0, 0, 1, 1};
  ASSERT_EQ(image->Draw(m.dc(), &dst, nullptr), S_OK);
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(128, 0, 127));
  EXPECT_EQ(GetPixel(m.dc(), 1, 0), RGB(0, 0, 255));
  image->Release();
  f->Release();
}

// The read callback of the decompressor, over bytes in memory.
struct Source {
  std::string bytes;
  std::size_t pos = 0;
  int calls = 0;
};
DWORD ReadSource(char* buffer, DWORD max, LPARAM param) {
  auto* s = reinterpret_cast<Source*>(param);
  ++s->calls;
  std::size_t n = std::min<std::size_t>(max, s->bytes.size() - s->pos);
  std::memcpy(buffer, s->bytes.data() + s->pos, n);
  s->pos += n;
  return static_cast<DWORD>(n);
}

using DecompressFn = HRESULT (*)(DECOMPRESSIMAGEINFO*);

HBITMAP Decompress(const std::string& bytes, int depth, int maxW, int maxH, HRESULT* hrOut, int* calls = nullptr) {
  HMODULE lib = LoadLibraryW(u"imgdecmp.dll");
  if (!lib) return nullptr;
  auto fn = reinterpret_cast<DecompressFn>(GetProcAddressW(lib, u"DecompressImageIndirect"));
  HBITMAP result = nullptr;
  if (fn) {
    Source src{bytes};
    BYTE work[4096];
    DECOMPRESSIMAGEINFO d{};
    d.dwSize = sizeof(d);
    d.pbBuffer = work;
    d.dwBufferMax = sizeof(work);
    d.phBM = &result;
    d.iBitDepth = depth;
    d.lParam = reinterpret_cast<LPARAM>(&src);
    d.iScale = 100;
    d.iMaxWidth = maxW;
    d.iMaxHeight = maxH;
    d.pfnGetData = ReadSource;
    d.crTransparentOverride = CLR_INVALID;
    *hrOut = fn(&d);
    if (calls) *calls = src.calls;
  }
  FreeLibrary(lib);
  return result;
}

TEST_F(ImagingServicesTest, DecompressorGivesA24BitDibSection) {
  // Larger than one work buffer, so the callback runs several times.
  imgtest::Pixels px(100 * 50);
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
  std::string bmp = imgtest::Bmp(100, 50, 24, px, false);
  ASSERT_GT(bmp.size(), 4096u * 3);
  HRESULT hr = E_FAIL;
  int calls = 0;
  HBITMAP b = Decompress(bmp, 24, 100000, 100000, &hr, &calls);
  ASSERT_EQ(hr, S_OK);
  ASSERT_NE(b, nullptr);
  EXPECT_GT(calls, 3);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectW(b, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
  EXPECT_EQ(ds.dsBm.bmWidth, 100);
  EXPECT_EQ(ds.dsBm.bmHeight, 50);
  PixelImage back = ReadBitmapPixels(b);
  EXPECT_EQ(back.pixels[0], px[0] & 0xFFFFFFu);
  EXPECT_EQ(back.pixels[4999], px[4999] & 0xFFFFFFu);
  DeleteObject(b);
}

TEST_F(ImagingServicesTest, DecompressorFitsMaximumSizeAndDepths) {
  std::string png = imgtest::Png(40, 20, imgtest::Solid(40, 20, 0xFF00FF00));
  struct Case {
    int depth, maxW, maxH, w, h, bpp;
  } cases[] = {{24, 10, 100, 10, 5, 24}, {24, 100, 4, 8, 4, 24}, {32, 100000, 100000, 40, 20, 32},
               {16, 100000, 100000, 40, 20, 16}, {7, 100000, 100000, 40, 20, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.depth << " " << c.maxW << "x" << c.maxH);
    HRESULT hr = E_FAIL;
    HBITMAP b = Decompress(png, c.depth, c.maxW, c.maxH, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(b, nullptr);
    BITMAP bm{};
    GetObjectW(b, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, c.w);
    EXPECT_EQ(bm.bmHeight, c.h);
    EXPECT_EQ(bm.bmBitsPixel, c.bpp);
    EXPECT_NE(bm.bmBits, nullptr);
    DeleteObject(b);
  }
  HRESULT hr = S_OK;
  EXPECT_EQ(Decompress("garbage", 24, 100, 100, &hr), nullptr);
  EXPECT_LT(hr, 0);
  EXPECT_EQ(Decompress(png.substr(0, png.size() / 2), 24, 100, 100, &hr), nullptr);
  EXPECT_LT(hr, 0);
}

TEST_F(ImagingServicesTest, WithoutTheModuleNothingLoads) {
  UnregisterBuiltInModule(u"imgdecmp.dll");
  EXPECT_EQ(LoadLibraryW(u"imgdecmp.dll"), nullptr);
  RegisterImagingModule();
  HMODULE lib = LoadLibraryW(u"IMGDECMP.DLL");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(GetProcAddressW(lib, u"NoSuchEntry"), nullptr);
  FreeLibrary(lib);
}

}  // namespace
