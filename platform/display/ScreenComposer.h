// The composed device screen as the display program sees it: the visible
// top-level windows of every process drawn from their shared surfaces onto
// this process's screen bitmap, bottom of the z-order first.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace plat::display {

class ScreenComposer {
 public:
  // Composes the screen and hands its pixels (RGB565, rows of stride bytes,
  // top row first) to use, under the composer's lock.
  bool Compose(const std::function<void(const std::uint16_t* pixels, int width, int height, int stride)>& use);
  // Composes the screen and writes it to a PNG file (host path).
  bool SavePng(const std::string& hostPath);

 private:
  std::mutex lock_;  // the screen bitmap of this process is one
};

}  // namespace plat::display
