// Writes and reads a headers-file-like stream of records through the memory
// and file streams and prints the rates, with the number of ReadFile-sized
// refills the 64 KiB file buffer needed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "core/RecordEncoding.h"
#include "core/Streams.h"
#include "platform/base/Device.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

constexpr int kArticles = 200000;

bool WriteArticles(CBaseWriter& w) {
  for (int i = 0; i < kArticles; ++i) {
    if (!WriteInt32(w, std::int32_t{i}) || !WriteDigest(w, u"0123456789abcdef0123456789abcdef") ||
        !WriteString(w, u"An article title of typical length, number " + std::u16string(1, u'0' + i % 10)) ||
        !WriteInt64(w, std::int64_t{132000000000000000} + i)) {
      return false;
    }
  }
  return true;
}

bool ReadArticles(CBaseReader& r) {
  std::int32_t id;
  std::int64_t date;
  std::u16string digest, title;
  for (int i = 0; i < kArticles; ++i) {
    if (!ReadInt32(r, id) || !ReadDigest(r, digest) || !ReadString(r, title) || !ReadInt64(r, date)) return false;
  }
  return true;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/bench_records.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) return 1;
  plat::SetDeviceRoot(std::string(dir) + "/device");
  std::system(("mkdir -p '" + plat::DeviceFsRoot() + "'").c_str());

  auto start = std::chrono::steady_clock::now();
  CBufferWriter memory;
  if (!WriteArticles(memory)) return 1;
  const double memWrite = Seconds(start);
  const double megabytes = memory.GetSize() / 1048576.0;
  start = std::chrono::steady_clock::now();
  CBufferReader memReader(memory.GetData(), memory.GetSize());
  if (!ReadArticles(memReader)) return 1;
  const double memRead = Seconds(start);

  start = std::chrono::steady_clock::now();
  {
    CFileWriter file(u"\\headers.bin", true);
    if (!WriteArticles(file) || !file.Close(false)) return 1;
  }
  const double fileWrite = Seconds(start);
  start = std::chrono::steady_clock::now();
  {
    CFileReader file(u"\\headers.bin");
    if (!ReadArticles(file)) return 1;
  }
  const double fileRead = Seconds(start);

  std::printf("records: %d articles, %.1f MiB\n", kArticles, megabytes);
  std::printf("memory write: %.3f s (%.0f MiB/s)\n", memWrite, megabytes / memWrite);
  std::printf("memory read:  %.3f s (%.0f MiB/s)\n", memRead, megabytes / memRead);
  std::printf("file write:   %.3f s (%.0f MiB/s, %.0f buffers of 64 KiB)\n", fileWrite, megabytes / fileWrite,
              memory.GetSize() / 65536.0);
  std::printf("file read:    %.3f s (%.0f MiB/s)\n", fileRead, megabytes / fileRead);
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
  return 0;
}
