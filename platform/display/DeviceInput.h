// What the device's user does: the stylus (tap, hold, drag), the hardware
// keys, typed text and the wheel, delivered as the device's own input to the
// process that owns the window under the stylus (or the capture), or the
// foreground window's focus. The display program and its control interface
// both go through here.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "platform/base/Types.h"

namespace plat::display {

// The device's keys as the display program and the control interface name them.
constexpr UINT kVkAction = 0x86;  // the action key (centre of the direction pad)
constexpr UINT kVkSoft1 = 0x70;   // left soft key
constexpr UINT kVkSoft2 = 0x71;   // right soft key

enum class KeyKind {
  Plain,  // a virtual key, down and up
  Help,   // WM_HELP to the foreground window
  Home,   // the Today screen comes forward
};
struct DeviceKey {
  KeyKind kind = KeyKind::Plain;
  UINT vk = 0;
};
// "left", "right", "up", "down", "enter", "action", "back" (the device's Back
// key, VK_ESCAPE), "backspace", "tab", "delete", "soft1", "soft2", "help",
// "home", a letter or digit, or a number ("0x86", "13"); nothing for others.
std::optional<DeviceKey> KeyByName(const std::string& name);

// The time a held tap is held by default (longer than any tap-and-hold delay).
constexpr DWORD kDefaultHoldMs = 1000;
constexpr DWORD kDefaultDragMs = 300;

class UserActivity;

class DeviceInput {
 public:
  // sleep(ms) paces holds and drags; the real one by default. keys(vk, down,
  // repeat) delivers a plain key and tells whether a window took it; by
  // default the device's own (the foreground window's focus). repeat: a down
  // of a key that is held (the desktop's auto-repeat).
  using KeySink = std::function<bool(UINT vk, bool down, bool repeat)>;
  explicit DeviceInput(std::function<void(DWORD)> sleep = nullptr, KeySink keys = nullptr);

  // One stylus message (WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP) at a screen point.
  bool Stylus(UINT message, int x, int y);
  bool Tap(int x, int y);
  bool Hold(int x, int y, DWORD ms = kDefaultHoldMs);
  // From one point to the other at an even pace, a move about every 15 ms.
  bool Drag(int x1, int y1, int x2, int y2, DWORD ms = kDefaultDragMs);
  // Clicks of the wheel at a screen point (negative: towards the top).
  bool Wheel(int x, int y, int clicks);
  // A plain key goes down (or up); Help and Home act on the press. A down
  // while the key is down already is a repeat.
  bool Key(const DeviceKey& key, bool down);
  // Down then up; true when a window took the down (the release may find none).
  bool Press(const DeviceKey& key);
  // WM_CHAR for each UTF-16 unit of text.
  bool Text(const std::u16string& text);

  // Every input delivered from now on is noted there as the user's activity
  // (whether or not a window takes it); null: none is (the default).
  void SetUserActivity(UserActivity* activity) { activity_ = activity; }

 private:
  void NoteActivity();

  UserActivity* activity_ = nullptr;
  std::function<void(DWORD)> sleep_;
  bool realSleep_ = false;  // the real clock paces drags (no sleep of the caller's)
  KeySink keys_;
  std::array<bool, 256> held_{};
};

}  // namespace plat::display
