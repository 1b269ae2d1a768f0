#include "platform/display/ClipboardBridge.h"

#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"

namespace plat::display {

namespace {
std::optional<std::u16string> DeviceText() {
  std::u16string text;
  if (!GetClipboardTextOfDevice(&text)) return std::nullopt;
  return text;
}
}  // namespace

ClipboardBridge::ClipboardBridge(Desktop desktop) : desktop_(std::move(desktop)) { shared_ = DeviceText(); }

void ClipboardBridge::DesktopChanged() {
  std::optional<std::string> text = desktop_.get ? desktop_.get() : std::nullopt;
  if (!text) return;  // a picture or nothing: the device keeps its text
  std::u16string wide = Utf8ToUtf16(*text);
  if (shared_ && *shared_ == wide) return;
  if (SetClipboardTextOfDevice(wide)) shared_ = std::move(wide);
}

void ClipboardBridge::PollDevice() {
  std::optional<std::u16string> now = DeviceText();
  if (!now || now == shared_) return;
  shared_ = now;
  if (desktop_.set) desktop_.set(Utf16ToUtf8(*now));
}

}  // namespace plat::display
