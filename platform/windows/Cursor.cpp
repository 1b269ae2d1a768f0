// The cursor of each program; the wait cursor is a marker file of the device's
// run-time folder ("waitcursor.<pid>") that the screen composition looks for.
#include "platform/windows/Cursor.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/base/Device.h"
#include "platform/ipc/ScreenNotice.h"

namespace plat {
namespace {

constexpr char kMarkerPrefix[] = "waitcursor.";

HCURSOR MakeCursor() {
  // A stock cursor only needs an identity: an empty 1x1 icon.
  BYTE mask[4] = {0x80, 0, 0, 0};
  HBITMAP bitmap = CreateBitmap(1, 2, 1, 1, mask);
  ICONINFO ii{FALSE, 0, 0, bitmap, nullptr};
  HCURSOR cursor = CreateIconIndirect(&ii);
  DeleteObject(bitmap);
  return cursor;
}

struct Cursors {
  HCURSOR arrow = MakeCursor();
  HCURSOR wait = MakeCursor();
};
Cursors& Stock() {
  static auto* c = new Cursors;  // the system's: never destroyed
  return *c;
}

std::mutex& Lock() {
  static auto* m = new std::mutex;
  return *m;
}
HCURSOR g_current = nullptr;

std::string Marker() { return DeviceRunDir() + "/" + kMarkerPrefix + std::to_string(::getpid()); }

}  // namespace

HCURSOR LoadCursorW(HINSTANCE instance, const WCHAR* name) {
  if (!instance && name == IDC_ARROW) return Stock().arrow;
  if (!instance && name == IDC_WAIT) return Stock().wait;
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  std::lock_guard<std::mutex> g(Lock());
  HCURSOR previous = g_current;
  g_current = cursor;
  const bool wasWaiting = previous && previous == Stock().wait;
  const bool waiting = cursor && cursor == Stock().wait;
  if (waiting != wasWaiting) {
    if (waiting) {
      ::mkdir(DeviceRunDir().c_str(), 0700);
      if (FILE* f = std::fopen(Marker().c_str(), "w")) std::fclose(f);
    } else {
      std::remove(Marker().c_str());
    }
    NotifyScreenChanged();
  }
  return previous;
}

HCURSOR GetCursor() {
  std::lock_guard<std::mutex> g(Lock());
  return g_current;
}

bool WaitCursorShownOnDevice() {
  DIR* dir = ::opendir(DeviceRunDir().c_str());
  if (!dir) return false;
  bool shown = false;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind(kMarkerPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + sizeof kMarkerPrefix - 1, nullptr, 10);
    if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      shown = true;
      break;
    }
    std::remove((DeviceRunDir() + "/" + name).c_str());  // its program has ended
  }
  ::closedir(dir);
  return shown;
}

void DrawWaitCursor(std::uint16_t* pixels, int width, int height, std::size_t stride, int dpi) {
  // A ring of eight segments, alternately dark and light blue.
  const double outer = 14.0 * dpi / 96, inner = 8.0 * dpi / 96;
  const double cx = width / 2.0, cy = height / 2.0;
  constexpr std::uint16_t kDark = (0x00 >> 3) << 11 | (0x52 >> 2) << 5 | (0xA5 >> 3);
  constexpr std::uint16_t kLight = (0x9C >> 3) << 11 | (0xCC >> 2) << 5 | (0xF0 >> 3);
  const int y0 = std::max(0, static_cast<int>(cy - outer)), y1 = std::min(height, static_cast<int>(cy + outer) + 1);
  const int x0 = std::max(0, static_cast<int>(cx - outer)), x1 = std::min(width, static_cast<int>(cx + outer) + 1);
  for (int y = y0; y < y1; ++y) {
    auto* row = reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(pixels) + y * stride);
    for (int x = x0; x < x1; ++x) {
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy, d = std::sqrt(dx * dx + dy * dy);
      if (d < inner || d > outer) continue;
      const int segment = static_cast<int>(std::floor((std::atan2(dy, dx) + M_PI) / (M_PI / 4))) & 7;
      row[x] = segment % 2 ? kLight : kDark;
    }
  }
}

}  // namespace plat
