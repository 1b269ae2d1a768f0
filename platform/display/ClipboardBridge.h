// Keeps the device's clipboard text and the desktop's the same while the
// display program runs: a copy on either side becomes the other's. The desktop
// side is handed in (SDL's clipboard in the display program, a fake in tests).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace plat::display {

class ClipboardBridge {
 public:
  struct Desktop {
    std::function<std::optional<std::string>()> get;  // UTF-8; nothing when it holds no text
    std::function<void(const std::string&)> set;
  };
  // What both hold now is taken as already shared.
  explicit ClipboardBridge(Desktop desktop);

  // The desktop's clipboard changed: its text becomes the device's.
  void DesktopChanged();
  // Looks at the device's text: when it changed since the last look, it goes to
  // the desktop.
  void PollDevice();

 private:
  Desktop desktop_;
  std::optional<std::u16string> shared_;  // the text both sides hold
};

}  // namespace plat::display
