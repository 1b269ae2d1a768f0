// Icon caches: the icon-file reader (choice of image, scaling, masks, damaged
// files) and the resource and file caches.
#include <gtest/gtest.h>

#include <string>

#include "core/BitmapBuffer.h"
#include "core/IconCache.h"
#include "platform/resources/Resources.h"
#include "tests/platform/GdiTestSupport.h"
#include "tests/platform/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

namespace {

using namespace plat;

// 16x16 at 4 bits (grey), 32x32 at 8 bits (grey), 32x32 at 32 bits (red).
std::string ThreeImageIco() {
  imgtest::Pixels grey16 = imgtest::Solid(16, 16, 0xFF808080);
  for (int i : {0, 1, 16, 17}) grey16[i] = 0;  // top-left 2x2 transparent
  return imgtest::Ico({{16, 4, grey16},
                       {32, 8, imgtest::Solid(32, 32, 0xFF404040)},
                       {32, 32, imgtest::Solid(32, 32, 0xFFFF0000)}});
}

class IconCacheTest : public orvtest::DeviceTest {
 protected:
  std::u16string Put(const std::string& name, const std::string& bytes) {
    orvtest::WriteHostFile(device_.FsRoot() + "/" + name, bytes);
    return u"\\" + std::u16string(name.begin(), name.end());
  }
};

// The icon drawn over blue: colour at (x, y).
COLORREF Drawn(HICON icon, int x, int y) {
  SIZE s = GetIconSize(icon);
  gditest::MemDc m(gditest::MakeDib(s.cx, s.cy, 24));
  gditest::Fill(m.dc(), 0, 0, s.cx, s.cy, RGB(0, 0, 255));
  DrawIconEx(m.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
  return GetPixel(m.dc(), x, y);
}

TEST_F(IconCacheTest, ChoiceOfImage) {
  CIconFile file;
  ASSERT_TRUE(file.Open(Put("three.ico", ThreeImageIco())));
  ASSERT_EQ(file.ImageCount(), 3u);
  EXPECT_EQ(file.GetImage(0).bitDepth, 4);
  EXPECT_EQ(file.GetImage(0).colors, 16);
  EXPECT_EQ(file.GetImage(2).bitDepth, 32);
  EXPECT_EQ(file.GetImage(2).colors, 0);
  struct Case {
    int wanted;
    int index;  // chosen image
    int obtained;
  } cases[] = {{32, 2, 32}, {20, 0, 16}, {24, 0, 16}, {16, 0, 16}, {8, 0, 8},
               {40, 2, 32}, {255, 2, 32}, {0, -1, 0}, {256, -1, 0}, {-4, -1, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(file.ChooseImage(c.wanted, c.wanted), c.index) << c.wanted;
    int w = -1, h = -1;
    HICON icon = file.MakeIcon(c.wanted, c.wanted, &w, &h);
    if (c.index < 0) {
      EXPECT_EQ(icon, nullptr) << c.wanted;
      continue;
    }
    ASSERT_NE(icon, nullptr) << c.wanted;
    EXPECT_EQ(w, c.obtained) << c.wanted;
    EXPECT_EQ(h, c.obtained);
    EXPECT_EQ(GetIconSize(icon).cx, c.obtained);
    DestroyIcon(icon);
  }
}

TEST_F(IconCacheTest, IconsKeepColoursAndMasks) {
  CIconFile file;
  ASSERT_TRUE(file.Open(Put("three.ico", ThreeImageIco())));
  int w = 0, h = 0;
  HICON grey = file.MakeIcon(16, 16, &w, &h);
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(Drawn(grey, 0, 0), RGB(0, 0, 255));  // transparent: the background
  EXPECT_EQ(Drawn(grey, 5, 5), RGB(0x88, 0x88, 0x88));  // grey level 8 of 15
  DestroyIcon(grey);
  HICON red = file.MakeIcon(32, 32, &w, &h);
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(Drawn(red, 10, 10), RGB(255, 0, 0));
  DestroyIcon(red);
  HICON small = file.MakeIcon(8, 8, &w, &h);  // 16x16 scaled down
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(Drawn(small, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(Drawn(small, 4, 4), RGB(0x88, 0x88, 0x88));
  DestroyIcon(small);
}

std::string Patched(std::string s, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(value >> (8 * i));
  return s;
}

TEST_F(IconCacheTest, DamagedFilesAreRefused) {
  const std::string good = imgtest::Ico({{16, 8, imgtest::Solid(16, 16, 0xFF808080)}});
  const std::size_t img = 6 + 16;  // the image data follows the one directory entry
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short header", good.substr(0, 5)},
      {"type 2", Patched(good, 2, 2, 2)},
      {"reserved 1", Patched(good, 0, 1, 2)},
      {"no images", Patched(good, 4, 0, 2)},
      {"directory beyond the file", Patched(good, 4, 3, 2)},
      {"offset beyond the file", Patched(good, 6 + 12, static_cast<std::uint32_t>(good.size()), 4)},
      {"size beyond the file", Patched(good, 6 + 8, static_cast<std::uint32_t>(good.size()), 4)},
      {"size wraps around", Patched(good, 6 + 8, 0xFFFFFFF0u, 4)},
      {"size below a header", Patched(good, 6 + 8, 20, 4)},
      {"truncated data", good.substr(0, good.size() - 1)},
      {"header size beyond the data", Patched(good, img, 100000, 4)},
      {"width 0", Patched(good, img + 4, 0, 4)},
      {"width 1000", Patched(good, img + 4, 1000, 4)},
      {"height beyond the data", Patched(good, img + 8, 64, 4)},
      {"bit count 7", Patched(good, img + 14, 7, 2)},
      {"too many colours", Patched(good, img + 32, 100000, 4)},
      {"colour table beyond the data",
       Patched(imgtest::Ico({{16, 4, imgtest::Solid(16, 16, 0xFF808080)}}), img + 32, 256, 4)},
  };
  {
    CIconFile ok;
    ASSERT_TRUE(ok.Open(Put("good.ico", good)));
  }
  for (const Case& c : cases) {
    std::u16string path = Put("bad.ico", c.bytes);
    CIconFile file;
    EXPECT_FALSE(file.Open(path)) << c.name;
    EXPECT_EQ(file.ImageCount(), 0u) << c.name;
    CFileIconsManager cache;
    int size = 16;
    EXPECT_EQ(cache.GetIcon(path, &size), nullptr) << c.name;
  }
  CIconFile missing;
  EXPECT_FALSE(missing.Open(u"\\none.ico"));
}

TEST_F(IconCacheTest, FileCacheLoadsEachSizeOnce) {
  std::u16string path = Put("three.ico", ThreeImageIco());
  CFileIconsManager cache;
  int size = 24;
  HICON a = cache.GetIcon(path, &size);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(size, 16);
  size = 24;
  EXPECT_EQ(cache.GetIcon(path, &size), a);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(cache.FileReads(), 1);
  size = 8;
  HICON b = cache.GetIcon(path, &size);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, a);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(cache.FileReads(), 2);
  size = 300;
  EXPECT_EQ(cache.GetIcon(path, &size), nullptr);
  EXPECT_EQ(cache.GetIcon(path, nullptr), nullptr);
  cache.Clear();
  size = 24;
  HICON c = cache.GetIcon(path, &size);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(cache.FileReads(), 4);
  EXPECT_EQ(&GetFileIconsManager(), &GetFileIconsManager());
}

class IconCacheResourceTest : public IconCacheTest {
 protected:
  void SetUp() override {
    orvtest::WriteHostFile(device_.Scratch() + "/app.ico",
                           imgtest::Ico({{16, 32, imgtest::Solid(16, 16, 0xFF00FF00)},
                                         {32, 32, imgtest::Solid(32, 32, 0xFF0000FF)},
                                         {48, 32, imgtest::Solid(48, 48, 0xFFFF0000)}}));
    ResourceCompileResult r = CompileResourceScript("5 ICON \"app.ico\"\n", device_.Scratch(), "icons.rc");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(BindModuleResources(Module(), std::move(r.image)));
  }
  void TearDown() override { BindModuleResources(Module(), nullptr, 0); }
  static HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x6170)); }
};

TEST_F(IconCacheResourceTest, SizesForTheWantedSize) {
  struct Case {
    int wanted;
    std::vector<int> sizes;
    int size;
  } cases[] = {{20, {16, 32, 48}, 16}, {12, {16, 32, 48}, 12}, {32, {16, 32, 48}, 32},
               {100, {16, 32, 48}, 48}, {47, {16, 32, 48}, 32}, {20, {}, 20}};
  for (const Case& c : cases) EXPECT_EQ(CResourceIconsManager::GetIconForSize(5, c.wanted, c.sizes), c.size) << c.wanted;
}

TEST_F(IconCacheResourceTest, IconsLoadOncePerSize) {
  CResourceIconsManager cache;
  EXPECT_EQ(cache.GetIcon(5, 16), nullptr);  // no module yet
  cache.SetModule(Module());
  HICON a = cache.GetIcon(5, 16);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetIconSize(a).cx, 16);
  EXPECT_EQ(cache.GetIcon(5, 16), a);
  EXPECT_EQ(cache.LoadCount(), 1);
  HICON b = cache.GetIcon(5, 12);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetIconSize(b).cx, 12);
  EXPECT_EQ(cache.LoadCount(), 2);
  EXPECT_EQ(cache.GetIcon(6, 16), nullptr);  // no such resource
  cache.Clear();
  EXPECT_NE(cache.GetIcon(5, 16), nullptr);
  EXPECT_EQ(cache.LoadCount(), 3);
  EXPECT_EQ(&CResourceIconsManager::GetInstance(), &CResourceIconsManager::GetInstance());
}

TEST_F(IconCacheResourceTest, DrawIconIntoABuffer) {
  CResourceIconsManager cache;
  cache.SetModule(Module());
  CBitmapBuffer buffer;
  ASSERT_TRUE(buffer.Create(24, 24, CBitmapBuffer::kRgb565));
  RECT r{2, 2, 22, 22};  // 20 wide: the 16-pixel icon, stretched
  const std::vector<int> sizes = {16, 32, 48};
  EXPECT_TRUE(cache.DrawIcon(buffer, r, 5, sizes, false));
  EXPECT_EQ(cache.LoadCount(), 1);
  EXPECT_NE(cache.GetIcon(5, 16), nullptr);
  EXPECT_EQ(cache.LoadCount(), 1);  // the 16-pixel icon was the one drawn
  auto px = [&](int x, int y) { return reinterpret_cast<const std::uint16_t*>(buffer.Row(y))[x]; };
  EXPECT_EQ(px(2, 2), 0x07E0);
  EXPECT_EQ(px(21, 21), 0x07E0);
  EXPECT_EQ(px(1, 1), 0x0000);
  EXPECT_TRUE(cache.DrawIcon(buffer, r, 5, sizes, true));
  std::uint16_t dimmed = 0x07E0;
  BlendPixel565(dimmed, 0x8410, 192);
  EXPECT_EQ(px(10, 10), dimmed);
  EXPECT_FALSE(cache.DrawIcon(buffer, r, 9, sizes, false));
}

}  // namespace
