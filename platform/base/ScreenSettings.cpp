#include "platform/base/ScreenSettings.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>

#include "platform/base/Device.h"

namespace plat {
namespace {

bool ParseInt(std::string_view s, int* out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && p == s.data() + s.size();
}

std::string ScreenFile() { return DeviceRoot() + "/screen"; }

}  // namespace

bool ValidScreenSettings(const ScreenSettings& s) {
  auto side = [](int v) { return v >= kMinScreenSide && v <= kMaxScreenSide; };
  return side(s.width) && side(s.height) && s.dpi >= kMinScreenDpi && s.dpi <= kMaxScreenDpi;
}

std::optional<ScreenSettings> ParseScreenSpec(const std::string& text) {
  std::string_view t(text);
  std::string_view turn;
  if (auto comma = t.find(','); comma != std::string_view::npos) {
    turn = t.substr(comma + 1);
    t = t.substr(0, comma);
    if (turn != "landscape" && turn != "portrait") return std::nullopt;
  }
  ScreenSettings s;
  if (auto at = t.find('@'); at != std::string_view::npos) {
    if (!ParseInt(t.substr(at + 1), &s.dpi)) return std::nullopt;
    t = t.substr(0, at);
  }
  auto x = t.find('x');
  if (x == std::string_view::npos || !ParseInt(t.substr(0, x), &s.width) || !ParseInt(t.substr(x + 1), &s.height))
    return std::nullopt;
  if ((turn == "landscape" && !s.Landscape() && s.width != s.height) || (turn == "portrait" && s.Landscape()))
    s = s.Turned();
  if (!ValidScreenSettings(s)) return std::nullopt;
  return s;
}

std::string FormatScreenSpec(const ScreenSettings& s) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%dx%d@%d", s.width, s.height, s.dpi);
  return buf;
}

ScreenSettings ReadDeviceScreen() {
  ScreenSettings s;
  std::ifstream f(ScreenFile());
  if (!f) return s;
  ScreenSettings read = s;
  std::string line;
  while (std::getline(f, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    int v = 0;
    if (!ParseInt(std::string_view(line).substr(eq + 1), &v)) return s;
    if (key == "width") read.width = v;
    else if (key == "height") read.height = v;
    else if (key == "dpi") read.dpi = v;
  }
  return ValidScreenSettings(read) ? read : s;
}

bool WriteDeviceScreen(const ScreenSettings& s) {
  if (!ValidScreenSettings(s)) return false;
  std::string path = ScreenFile();
  std::string tmp = path + ".new." + std::to_string(::getpid());
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << "width=" << s.width << "\nheight=" << s.height << "\ndpi=" << s.dpi << "\n";
    f.flush();
    if (!f) {
      ::unlink(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace plat
