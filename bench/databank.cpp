// Stores 10,000 article records of about 2 KB in a data bank and reads them
// back, compressed and not; prints records per second and bytes on disk.
#include <chrono>
#include <cstdio>
#include <string>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "database/DataBank.h"
#include "platform/base/Device.h"
#include "platform/base/Time.h"
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kRecords = 10000;

std::u16string Number(int n) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return s;
}

// About 2 KB serialised: a title, a link and a body of varied words.
CStringToStringMap Article(int n) {
  static const char16_t* words[] = {u"news ", u"reader ", u"channel ", u"update ", u"article ", u"feed ",
                                     u"handheld ", u"today ", u"storage ", u"binary ", u"image ", u"link "};
  CStringToStringMap map;
  map[u"title"] = u"Article " + Number(n);
  map[u"link"] = u"http://example.com/news/" + Number(n * 7919) + u".html";
  std::u16string body;
  unsigned seed = static_cast<unsigned>(n) * 2654435761u + 1;
  while (body.size() < 1900) {
    seed = seed * 1103515245u + 12345u;
    body += words[(seed >> 16) % 12];
    if ((seed >> 8) % 5 == 0) body += Number(static_cast<int>(seed % 100000)) + u" ";
  }
  map[u"description"] = body;
  return map;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

plat::ManualClock g_clock;

void Run(bool compressed) {
  const std::u16string folder = compressed ? u"\\Content\\Compressed" : u"\\Content\\Plain";
  CreateFolderTree(folder);
  OpenSettingsKey().SetDWORD(u"CompressData", compressed ? 1 : 0);
  g_clock.Advance(10001);  // the setting is read again after 10 s
  std::vector<std::u16string> keys;
  for (int i = 0; i < kRecords; ++i) keys.push_back(GetMd5Hex(u"article " + Number(i)));

  auto start = std::chrono::steady_clock::now();
  {
    CArticlesPropertiesFile bank(folder, u"CL.Bench");
    for (int i = 0; i < kRecords; ++i) bank.PutProperties(keys[i], Article(i));
    bank.Save();
  }
  const double storeTime = Seconds(start);

  start = std::chrono::steady_clock::now();
  int good = 0;
  {
    CArticlesPropertiesFile bank(folder, u"CL.Bench");
    for (int i = 0; i < kRecords; ++i) {
      CStringToStringMap map;
      if (bank.GetProperties(keys[i], map) && map.size() == 3) ++good;
    }
  }
  const double readTime = Seconds(start);

  std::uint64_t onDisk = 0;
  for (const char16_t* name : {u"data.bin", u"dataidx.bin"}) {
    CFileFinder finder(folder, name, true);
    if (finder.FindNext()) {
      onDisk += (static_cast<std::uint64_t>(finder.GetFindData().nFileSizeHigh) << 32) |
                finder.GetFindData().nFileSizeLow;
    }
  }
  std::printf("%-12s store %9.0f records/s   read %9.0f records/s   read back %d/%d   on disk %llu bytes\n",
              compressed ? "compressed" : "plain", kRecords / storeTime, kRecords / readTime, good, kRecords,
              static_cast<unsigned long long>(onDisk));
}

}  // namespace

int main() {
  char pattern[] = "/tmp/bench_databank.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) return 1;
  plat::SetDeviceRoot(std::string(dir) + "/device");
  std::filesystem::create_directories(plat::DeviceFsRoot());
  plat::SetClock(&g_clock);
  std::printf("data bank: %d article records of about 2 KB\n", kRecords);
  Run(false);
  Run(true);
  plat::SetClock(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
