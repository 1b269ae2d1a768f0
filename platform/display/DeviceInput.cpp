#include "platform/display/DeviceInput.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/display/UserActivity.h"
#include "platform/windows/Windows.h"

namespace plat::display {

std::optional<DeviceKey> KeyByName(const std::string& name) {
  std::string n = name;
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  struct Named {
    const char* name;
    DeviceKey key;
  };
  static const Named kNames[] = {
      {"left", {KeyKind::Plain, VK_LEFT}},       {"right", {KeyKind::Plain, VK_RIGHT}},
      {"up", {KeyKind::Plain, VK_UP}},           {"down", {KeyKind::Plain, VK_DOWN}},
      {"enter", {KeyKind::Plain, VK_RETURN}},    {"return", {KeyKind::Plain, VK_RETURN}},
      {"action", {KeyKind::Plain, kVkAction}},   {"back", {KeyKind::Plain, VK_ESCAPE}},
      {"escape", {KeyKind::Plain, VK_ESCAPE}},   {"backspace", {KeyKind::Plain, VK_BACK}},
      {"tab", {KeyKind::Plain, VK_TAB}},         {"delete", {KeyKind::Plain, VK_DELETE}},
      {"soft1", {KeyKind::Plain, kVkSoft1}},     {"soft2", {KeyKind::Plain, kVkSoft2}},
      {"help", {KeyKind::Help, 0}},              {"home", {KeyKind::Home, 0}},
  };
  for (const Named& k : kNames)
    if (n == k.name) return k.key;
  if (n.size() == 1 && std::isalnum(static_cast<unsigned char>(n[0])))
    return DeviceKey{KeyKind::Plain, static_cast<UINT>(std::toupper(static_cast<unsigned char>(n[0])))};
  unsigned v = 0;
  const char* b = n.data();
  const char* e = n.data() + n.size();
  int base = 10;
  if (n.size() > 2 && n[0] == '0' && n[1] == 'x') {
    b += 2;
    base = 16;
  }
  auto [p, ec] = std::from_chars(b, e, v, base);
  if (ec != std::errc() || p != e || b == e || v == 0 || v > 0xFE) return std::nullopt;
  return DeviceKey{KeyKind::Plain, v};
}

DeviceInput::DeviceInput(std::function<void(DWORD)> sleep, KeySink keys)
    : sleep_(std::move(sleep)), keys_(std::move(keys)) {
  realSleep_ = !sleep_;
  if (!sleep_) sleep_ = [](DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  if (!keys_) keys_ = [](UINT vk, bool down, bool repeat) { return InjectKey(vk, down, repeat) != FALSE; };
}

void DeviceInput::NoteActivity() {
  if (activity_) activity_->Note();
}

bool DeviceInput::Stylus(UINT message, int x, int y) {
  NoteActivity();
  return InjectStylus(message, x, y) != FALSE;
}

bool DeviceInput::Tap(int x, int y) {
  if (!Stylus(WM_LBUTTONDOWN, x, y)) return false;
  return Stylus(WM_LBUTTONUP, x, y);
}

bool DeviceInput::Hold(int x, int y, DWORD ms) {
  if (!Stylus(WM_LBUTTONDOWN, x, y)) return false;
  sleep_(ms);
  return Stylus(WM_LBUTTONUP, x, y);
}

bool DeviceInput::Drag(int x1, int y1, int x2, int y2, DWORD ms) {
  constexpr DWORD kStepMs = 15;
  int steps = std::max<int>(2, static_cast<int>(ms / kStepMs));
  // The stylus is where a finger moving evenly would be by the time each move
  // is sent: a display that falls behind (a busy machine) moves the stylus
  // further at its next step instead of dragging more slowly than asked. With
  // a sleep of the caller's, its pauses are the time that passes.
  std::int64_t slept = 0;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&]() -> std::int64_t {
    if (!realSleep_) return slept;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  if (!Stylus(WM_LBUTTONDOWN, x1, y1)) return false;
  bool ok = true;
  for (int i = 1; i <= steps; ++i) {
    const DWORD pause = ms / static_cast<DWORD>(steps);
    sleep_(pause);
    slept += pause;
    // The share of the way done: elapsed of ms (by step for a drag of no time).
    const std::int64_t whole = ms ? ms : steps;
    const std::int64_t done = i == steps ? whole : ms ? std::min<std::int64_t>(elapsed(), ms) : i;
    const int x = x1 + static_cast<int>((x2 - x1) * done / whole);
    const int y = y1 + static_cast<int>((y2 - y1) * done / whole);
    // The stylus stays with the window that took it, even when a move misses.
    ok = Stylus(WM_MOUSEMOVE, x, y) && ok;
    if (done >= whole) break;
  }
  return Stylus(WM_LBUTTONUP, x2, y2) && ok;
}

bool DeviceInput::Wheel(int x, int y, int clicks) {
  NoteActivity();
  return InjectWheel(x, y, clicks) != FALSE;
}

bool DeviceInput::Key(const DeviceKey& key, bool down) {
  NoteActivity();
  switch (key.kind) {
    case KeyKind::Plain: {
      bool& held = held_[key.vk & 0xFF];
      const bool repeat = down && held;
      held = down;
      return keys_(key.vk, down, repeat);
    }
    case KeyKind::Help: {
      if (!down) return true;
      HWND fg = GetForegroundWindow();
      return fg && PostMessageW(fg, WM_HELP, 0, 0);
    }
    case KeyKind::Home: {
      if (!down) return true;
      HWND today = FindWindowW(u"DesktopExplorerWindow", nullptr);
      return today && SetForegroundWindow(today);
    }
  }
  return false;
}

bool DeviceInput::Press(const DeviceKey& key) {
  if (!Key(key, true)) return false;
  // The press is taken once a window has its down. The program may act on the
  // down by closing that window, or end, before the release comes: then no
  // window hears the release, as on the device, and the press still counts.
  Key(key, false);
  return true;
}

bool DeviceInput::Text(const std::u16string& text) {
  NoteActivity();
  for (char16_t c : text)
    if (!InjectChar(c)) return false;
  return true;
}

}  // namespace plat::display
