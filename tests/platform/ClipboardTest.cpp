// The clipboard: the calls over the device's text, one opener at a time across
// threads and programs, text carried from one program to another, the edit
// pasting what a program put there, and the bridge to the desktop's clipboard.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/controls/Clipboard.h"
#include "platform/controls/StandardControls.h"
#include "platform/display/ClipboardBridge.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

HLOCAL TextBlock(const std::u16string& text, std::size_t extraChars = 1) {
  HLOCAL block = LocalAlloc(LPTR, (text.size() + extraChars) * sizeof(char16_t));
  std::memcpy(block, text.data(), text.size() * sizeof(char16_t));
  return block;
}

bool Put(const std::u16string& text) {
  if (!OpenClipboard(nullptr)) return false;
  const bool ok = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, TextBlock(text)) != nullptr;
  return CloseClipboard() && ok;
}

std::optional<std::u16string> Take() {
  if (!OpenClipboard(nullptr)) return std::nullopt;
  std::optional<std::u16string> text;
  if (HLOCAL data = GetClipboardData(CF_UNICODETEXT)) text = static_cast<const char16_t*>(LocalLock(data));
  CloseClipboard();
  return text;
}

class ClipboardTest : public orvtest::DeviceTest {};

TEST_F(ClipboardTest, TextGoesInAndComesOutUnchanged) {
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  for (const std::u16string text : {u"100% sure", u"Zürich – €5\nline two", u""}) {
    ASSERT_TRUE(Put(text));
    EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
    EXPECT_EQ(Take(), text);
  }
  // A block without its null: the text is what the block holds.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(SetClipboardData(CF_UNICODETEXT, TextBlock(u"abc", 0)));
  HLOCAL refused = TextBlock(u"x");
  EXPECT_FALSE(SetClipboardData(CF_TEXT, refused));  // the caller keeps a block that was refused
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  LocalFree(refused);
  EXPECT_FALSE(GetClipboardData(CF_TEXT));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_EQ(Take(), u"abc");

  // Emptying leaves no text.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_FALSE(GetClipboardData(CF_UNICODETEXT));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
}

TEST_F(ClipboardTest, CallsNeedTheClipboardOpenByThisThread) {
  HLOCAL block = TextBlock(u"lost");
  EXPECT_FALSE(SetClipboardData(CF_UNICODETEXT, block));
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  LocalFree(block);
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(CloseClipboard());

  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(OpenClipboard(nullptr));  // the same thread again
  bool otherOpened = true;
  std::thread other([&] { otherOpened = OpenClipboard(nullptr); });
  other.join();
  EXPECT_FALSE(otherOpened);
  EXPECT_TRUE(CloseClipboard());
  std::thread later([&] {
    otherOpened = OpenClipboard(nullptr);
    if (otherOpened) CloseClipboard();
  });
  later.join();
  EXPECT_TRUE(otherOpened);
}

TEST_F(ClipboardTest, TextCopiedInOneProgramIsPastedInAnother) {
  orvtest::ChildProcess writer([](orvtest::ChildContext& ctx) {
    if (!Put(u"copied in the child: 50% off")) return 1;
    ctx.Send("copied");
    // Holds the clipboard open until told, so the other program is kept out.
    if (!OpenClipboard(nullptr)) return 2;
    ctx.Send("holding");
    if (!ctx.WaitFor("release")) return 3;
    CloseClipboard();
    return ctx.WaitFor("read") && Take() == std::u16string(u"answer from the parent") ? 0 : 4;
  });
  ASSERT_TRUE(writer.WaitFor("copied"));
  ASSERT_TRUE(writer.WaitFor("holding"));
  EXPECT_FALSE(OpenClipboard(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  writer.Send("release");
  std::optional<std::u16string> text;
  for (int i = 0; i < 1000 && !(text = Take()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(text, u"copied in the child: 50% off");
  ASSERT_TRUE(Put(u"answer from the parent"));
  writer.Send("read");
  EXPECT_EQ(writer.Wait(), 0);
}

TEST_F(ClipboardTest, TheEditPastesWhatAProgramCopied) {
  HWND edit = CreateWindowExW(0, u"edit", u"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 30, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(edit);
  ASSERT_TRUE(Put(u"pasted"));
  SendMessageW(edit, WM_PASTE, 0, 0);
  WCHAR buffer[32] = {};
  GetWindowTextW(edit, buffer, 32);
  EXPECT_EQ(std::u16string(buffer), u"pasted");
  SendMessageW(edit, EM_SETSEL, 0, 3);
  SendMessageW(edit, WM_COPY, 0, 0);
  EXPECT_EQ(Take(), u"pas");
  DestroyWindow(edit);
}

TEST_F(ClipboardTest, BridgeKeepsTheDesktopAndTheDeviceTheSame) {
  std::optional<std::string> desktop = "on the desktop before";
  std::vector<std::string> setOnDesktop;
  ASSERT_TRUE(SetClipboardTextOfDevice(u"on the device before"));
  display::ClipboardBridge bridge({[&] { return desktop; },
                                   [&](const std::string& t) {
                                     setOnDesktop.push_back(t);
                                     desktop = t;
                                   }});
  bridge.PollDevice();
  EXPECT_TRUE(setOnDesktop.empty());  // nothing changed since the bridge began

  ASSERT_TRUE(Put(u"copied on the device ✓"));
  bridge.PollDevice();
  ASSERT_EQ(setOnDesktop.size(), 1u);
  EXPECT_EQ(setOnDesktop[0], "copied on the device ✓");
  bridge.DesktopChanged();  // the desktop reports the change the bridge made
  bridge.PollDevice();
  EXPECT_EQ(setOnDesktop.size(), 1u);

  desktop = "copied on the desktop";
  bridge.DesktopChanged();
  EXPECT_EQ(Take(), u"copied on the desktop");
  bridge.PollDevice();
  EXPECT_EQ(setOnDesktop.size(), 1u);  // not sent back

  desktop.reset();  // a picture: the device keeps its text
  bridge.DesktopChanged();
  EXPECT_EQ(Take(), u"copied on the desktop");
}

}  // namespace
