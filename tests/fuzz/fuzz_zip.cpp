// Fuzzes the zip reader: any file must open or be refused, and every entry
// must read or fail, without a read past the archive or an unbounded loop.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/Unzippo.h"
#include "platform/base/Device.h"

namespace {

std::string g_archive;  // host path of the device file "\fuzz.zip"
std::string g_folder;   // the temporary folder holding the device

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/fuzz_zip.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) std::abort();
  g_folder = dir;
  std::atexit(RemoveFolder);
  plat::SetDeviceRoot(g_folder + "/device");
  const std::string fs = plat::DeviceFsRoot();
  std::error_code ec;
  std::filesystem::create_directories(fs, ec);
  if (ec) std::abort();
  g_archive = fs + "/fuzz.zip";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(g_archive.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  for (const char* password : {static_cast<const char*>(nullptr), "pw"}) {
    CUnzippo zip;
    if (!zip.Open(u"\\fuzz.zip", password)) {
      Check(!zip.IsOpen());
      continue;
    }
    const std::uint32_t count = zip.GetEntryCount();
    for (std::uint32_t i = 0; i < count && i < 64; ++i) {
      const char* name = zip.GetEntryName(i);
      Check(name != nullptr);
      std::uint32_t entrySize = 0;
      if (!zip.GetEntrySize(name, entrySize)) continue;
      // Whole entries up to 1 MiB, and always a short partial read.
      const std::uint32_t want = entrySize < (1u << 20) ? entrySize : (1u << 20);
      std::vector<std::uint8_t> buffer(want + 1, 0xA5);
      zip.ReadEntry(name, buffer.data(), want);
      Check(buffer[want] == 0xA5);
      std::uint8_t small[7];
      zip.ReadEntry(name, small, sizeof small);
    }
    Check(zip.GetEntryName(count) == nullptr);
  }
  return 0;
}
