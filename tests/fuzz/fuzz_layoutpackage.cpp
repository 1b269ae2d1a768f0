// Fuzzes layout packages: any file given as the package must open or fail
// with the layout exception, and every member must read, decode or be
// refused, within bounded time and memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "core/OrvException.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutPackage.h"
#include "platform/base/Device.h"

namespace {

std::string g_folder;
std::string g_package;

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

bool ExpectedCode(plat::HRESULT code) {
  return code == ORV_E_LAYOUT || code == plat::E_OUTOFMEMORY || (static_cast<std::uint32_t>(code) >> 16) == 0x8007u;
}

}  // namespace

// Fonts of layout documents go through fontconfig, which keeps a cache of
// its own for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/fuzz_layoutpackage.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) std::abort();
  g_folder = dir;
  std::atexit(RemoveFolder);
  plat::SetDeviceRoot(g_folder + "/device");
  const std::string layouts = plat::DeviceFsRoot() + "/Layouts";
  std::error_code ec;
  std::filesystem::create_directories(layouts, ec);
  if (ec) std::abort();
  g_package = layouts + "/480_news_layouts.dat";
  SetLayoutFolder(u"\\Layouts");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(g_package.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  CRefPtr<ResourcePackageProvider> packages(new ResourcePackageProvider());
  SetResourcePackageProvider(packages.Get());
  try {
    CRefPtr<PackageResources> package = packages->GetPackage(kLayoutPackageName);
    ResourceLock use(package.Get(), true, true);
    std::shared_ptr<CBitmapBuffer> bitmap;
    for (const char16_t* name : {u"a.bmp", u"Background_m.bmp", u"icon.bmp"}) package->GetImage(name, bitmap, true);
    MaskedImage image;
    package->GetMaskedImage(u"Icon", image, true, 3);
    CRefPtr<LayoutProvider> layouts(new LayoutProvider());
    CRefPtr<LayoutDocument> main = layouts->GetLayout(u"Main");
    if (main) SelectLayout(*main);
  } catch (const COrvException& e) {
    if (!ExpectedCode(e.GetCode())) std::abort();
  }
  ResetResourcePackageProvider();
  return 0;
}
