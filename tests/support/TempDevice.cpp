#include "tests/support/TempDevice.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include "platform/base/Device.h"

namespace orvtest {

std::string MakeTempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  std::string buf = pattern;
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  return buf;
}

void RemoveTree(const std::string& hostPath) {
  std::error_code ec;
  std::filesystem::remove_all(hostPath, ec);
}

void WriteHostFile(const std::string& hostPath, const std::string& bytes) {
  std::ofstream f(hostPath, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream f(hostPath, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

ScopedTempDevice::ScopedTempDevice() {
  base_ = MakeTempDir("orvdevice");
  root_ = base_ + "/device";
  scratch_ = base_ + "/scratch";
  std::filesystem::create_directories(scratch_);
  std::filesystem::create_directories(base_ + "/home");
  setenv("HOME", (base_ + "/home").c_str(), 1);
  setenv("ORVNEWS_DEVICE", root_.c_str(), 1);
  plat::SetDeviceRoot(root_);
  root_ = plat::DeviceRoot();
}

ScopedTempDevice::~ScopedTempDevice() { RemoveTree(base_); }

}  // namespace orvtest
