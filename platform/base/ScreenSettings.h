// The device's screen: its size in pixels, its DPI and its orientation, kept
// per device in the text file "screen" of the device folder:
//
//   width=480
//   height=640
//   dpi=192
//
// Every process of the device reads it once when it first draws; the display
// program and the whole-program driver write it before the device's programs
// start. A missing or damaged file means the default 480x640 at 192 DPI.
// Landscape is a screen wider than it is high.
#pragma once

#include <optional>
#include <string>

namespace plat {

struct ScreenSettings {
  int width = 480;
  int height = 640;
  int dpi = 192;

  bool Landscape() const { return width > height; }
  // The same panel turned: width and height swapped.
  ScreenSettings Turned() const { return ScreenSettings{height, width, dpi}; }
  bool operator==(const ScreenSettings&) const = default;
};

// Sizes and DPIs outside these bounds are refused.
constexpr int kMinScreenSide = 64;
constexpr int kMaxScreenSide = 4096;
constexpr int kMinScreenDpi = 48;
constexpr int kMaxScreenDpi = 480;
bool ValidScreenSettings(const ScreenSettings& s);

// "480x640", "480x640@192", "240x320@96", with an optional ",landscape" or
// ",portrait" that turns the panel so that it is wider (or higher) than it is
// high. Without "@dpi" the DPI is 192. Nothing for a malformed or out-of-range
// text.
std::optional<ScreenSettings> ParseScreenSpec(const std::string& text);
std::string FormatScreenSpec(const ScreenSettings& s);  // "480x640@192"

// The settings of the current device (defaults when its file is missing or damaged).
ScreenSettings ReadDeviceScreen();
// Writes the current device's file (beside it, then renamed over it); false on
// failure or for invalid settings.
bool WriteDeviceScreen(const ScreenSettings& s);

}  // namespace plat
