// Thumbnail pools: stores 250 thumbnails of 54 pixels in one pool (saving every
// sixth change as the pool does), saves, reloads the folder and looks every
// one up; then prepares thumbnails of 50 pictures of 640 x 480 at 27 and 54
// pixels through the manager. Prints the time of each step and the file sizes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/FileUtils.h"
#include "core/JobManager.h"
#include "core/STScreenBuffer.h"
#include "database/ThumbnailsManager.h"
#include "database/ThumbnailsPool.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/files/Files.h"
#include "platform/imaging/Imaging.h"

namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

plat::HBITMAP Thumb(int size, int n) {
  CSTScreenBuffer buffer;
  if (!buffer.Create(size, size)) return nullptr;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size * 3; ++x) buffer.Row(y)[x] = static_cast<std::uint8_t>(n * 13 + x + y);
  buffer.SetOwnsBitmap(false);
  buffer.DeleteDC();
  return buffer.GetBitmap();
}

std::uint64_t SizeOf(const std::u16string& path) {
  plat::WIN32_FIND_DATAW data{};
  plat::HANDLE find = plat::FindFirstFileW(path.c_str(), &data);
  if (find == plat::INVALID_HANDLE_VALUE) return 0;
  plat::FindClose(find);
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class Counter : public IThumbnailsListener {
 public:
  void OnThumbnailsChanged(const std::u16string&) override { ++count; }
  std::atomic<int> count{0};
};

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  const std::u16string folder = u"\\Bench\\bin";
  CreateFolderTree(folder);
  constexpr int kThumbs = 250;
  constexpr int kSize = 54;
  auto key = [&](int i) { return folder + u"\\image" + plat::Utf8ToUtf16(std::to_string(i)) + u".jpg"; };

  auto start = std::chrono::steady_clock::now();
  {
    CThumbnailsPool pool(folder, kSize);
    for (int i = 0; i < kThumbs; ++i)
      if (!pool.Add(key(i), Thumb(kSize, i))) std::printf("add %d failed\n", i);
    pool.Save();
  }
  const double addMs = MsSince(start);

  start = std::chrono::steady_clock::now();
  int found = 0;
  {
    CSizedThumbnailsPools pools(folder);
    pools.Load();
    for (int i = 0; i < kThumbs; ++i) found += pools.Contains(kSize, key(i)) ? 1 : 0;
  }
  const double lookupMs = MsSince(start);
  std::printf("pool of %d thumbnails of %d px: add and save %.1f ms, reload and look up %.1f ms (%d found)\n",
              kThumbs, kSize, addMs, lookupMs, found);
  std::printf("index %llu bytes, strip %llu bytes\n",
              static_cast<unsigned long long>(SizeOf(ThumbnailsIndexPath(folder, kSize))),
              static_cast<unsigned long long>(SizeOf(ThumbnailsStripPath(folder, kSize))));

  // Pictures for the preparation jobs.
  constexpr int kPictures = 50;
  const std::u16string pictures = u"\\Bench\\pictures";
  CreateFolderTree(pictures);
  std::vector<std::u16string> paths;
  {
    plat::DecodedImage image;
    image.width = 640;
    image.height = 480;
    image.pixels.resize(640 * 480);
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) image.pixels[y * 640 + x] = 0xFF000000u | (x * 0x10101u + y * 0x3377u);
    plat::HBITMAP dib = plat::CreateDibFromImage(image, 24);
    for (int i = 0; i < kPictures; ++i) {
      paths.push_back(pictures + u"\\p" + plat::Utf8ToUtf16(std::to_string(i)) + u".bmp");
      SaveBmp(dib, paths.back());
    }
    plat::DeleteObject(dib);
  }
  {
    CJobManager jobs;
    CThumbnailsManager manager(&jobs);
    Counter counter;
    manager.AddListener(&counter);
    manager.AddSize(27);
    manager.AddSize(54);
    start = std::chrono::steady_clock::now();
    for (const auto& p : paths) manager.RequestPreparation(p);
    while (counter.count < kPictures * 2 && MsSince(start) < 120000) plat::Sleep(5);
    const double prepareMs = MsSince(start);
    std::printf("prepared %d thumbnails of %d pictures 640x480 at 27 and 54 px: %.1f ms (%.2f ms a picture)\n",
                counter.count.load(), kPictures, prepareMs, prepareMs / kPictures);
    manager.RemoveListener(&counter);
    jobs.Shutdown();
  }
  DeleteFolderTree(u"\\Bench");
  return 0;
}
