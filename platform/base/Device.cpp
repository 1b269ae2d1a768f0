#include "platform/base/Device.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <atomic>

namespace plat {

namespace {

struct DeviceState {
  std::mutex lock;
  std::string root;
  std::string token;
  std::atomic<unsigned> generation{0};
};

DeviceState& State() {
  static DeviceState* s = new DeviceState;  // lives for the whole process
  return *s;
}

std::string MakeToken(const std::string& path) {
  // FNV-1a 64 over the real path.
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : path) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

void Establish(DeviceState& s, const std::string& hostPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(hostPath, ec);
  if (ec) p = hostPath;
  fs::create_directories(p / "fs", ec);
  fs::create_directories(p / "run", ec);
  fs::path canon = fs::weakly_canonical(p, ec);
  if (ec) canon = p;
  std::string root = canon.string();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  s.root = root;
  s.token = MakeToken(root);
}

std::string DefaultRoot() {
  if (const char* env = std::getenv("ORVNEWS_DEVICE"); env && *env) return env;
  const char* home = std::getenv("HOME");
  std::string base = (home && *home) ? home : "/tmp";
  return base + "/.local/share/orvnews/device";
}

}  // namespace

void SetDeviceRoot(const std::string& hostPath) {
  auto& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  Establish(s, hostPath);
  s.generation.fetch_add(1);
}

const std::string& DeviceRoot() {
  auto& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.root.empty()) Establish(s, DefaultRoot());
  return s.root;
}

std::string DeviceFsRoot() { return DeviceRoot() + "/fs"; }
std::string DeviceRunDir() { return DeviceRoot() + "/run"; }

const std::string& DeviceToken() {
  DeviceRoot();
  return State().token;
}

unsigned DeviceGeneration() { return State().generation.load(); }

}  // namespace plat
