#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/base/Device.h"

namespace orvfuzz {
namespace {

std::string base;

void RemoveDevice() {
  std::error_code ec;
  if (!base.empty()) std::filesystem::remove_all(base, ec);
}

}  // namespace

const std::string& UseTempDevice() {
  static const std::string fsRoot = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvfuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    base = pattern;
    std::atexit(RemoveDevice);
    std::filesystem::create_directories(base + "/home");
    setenv("HOME", (base + "/home").c_str(), 1);
    setenv("ORVNEWS_DEVICE", (base + "/device").c_str(), 1);
    plat::SetDeviceRoot(base + "/device");
    std::filesystem::create_directories(plat::DeviceFsRoot());
    return plat::DeviceFsRoot();
  }();
  return fsRoot;
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void WriteHostFile(const std::string& hostPath, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(hostPath.c_str(), "wb");
  if (!f) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace orvfuzz
