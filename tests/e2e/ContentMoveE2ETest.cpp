// The content folder moved by the user through the options: to a folder on a
// storage card and back with every article kept, and a move the device
// refuses part-way that leaves every channel where the program finds it. And
// the About box the main window's menu opens.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"

namespace {

using orvtest::ScreenDriver;
using plat::display::WindowLine;

const std::string kProgram = orvtest::MainProgramPath();
constexpr int kOptionsCommand = 2051;
constexpr int kAboutCommand = 2053;

class ContentMoveE2E : public ::testing::Test {
 protected:
  // Installs the program, mounts a storage card, stores the channels with
  // their articles and starts the program; false when its window did not open.
  bool Start(ScreenDriver& device, const std::vector<std::pair<std::u16string, int>>& channels) {
    if (!orvtest::InstallMainProgram()) return false;
    cardHost_ = device.Device().Scratch() + "/card";
    std::filesystem::create_directories(cardHost_);
    if (!plat::AddDeviceMount(u"\\Storage Card", cardHost_, true)) return false;
    {
      CChannelSet set;
      if (!set.Open()) return false;
      for (const auto& [name, count] : channels) {
        IChannel* c = set.Add(name);
        if (!c) return false;
        c->SetProperties(CStringToStringMap{{kPropUrl, u"http://127.0.0.1:9/" + name}, {kPropType, kChannelTypeRss}});
        int user = 0;
        c->Acquire(&user);
        for (int i = 0; i < count; ++i)
          c->CreateArticle(GetMd5Hex(name + plat::Utf8ToUtf16(std::to_string(i))), US_UP_TO_DATE, plat::FILETIME{});
        c->Release(&user, true);
      }
      original_ = GetGlobalOptions().GetContentFolder();
    }
    program_ = device.Launch(kProgram, {});
    if (program_ <= 0) return false;
    return ScreenDriver::WaitUntil([&] { return Window(device, "Orv News").has_value(); }, 30000);
  }
  std::optional<WindowLine> Window(ScreenDriver& device, const std::string& title) {
    for (const WindowLine& w : device.Windows()) {
      if (w.pid == program_ && w.visible && w.title == title && w.right - w.left >= 100) return w;
    }
    return std::nullopt;
  }
  std::optional<WindowLine> Find(ScreenDriver& device, const std::string& cls) {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.cls == cls) return w;
    return std::nullopt;
  }
  // Articles of each channel as another program of the device reads them
  // from the content folder the settings name; -1 for a channel not found.
  static std::vector<int> Articles(const std::vector<std::u16string>& names) {
    std::vector<int> out;
    GetGlobalOptions().Reset();
    CChannelSet set;
    const bool open = set.Open();
    for (const auto& name : names) {
      IChannel* c = open ? set.FindByName(name) : nullptr;
      if (!c) {
        out.push_back(-1);
        continue;
      }
      int user = 0;
      c->Acquire(&user);
      out.push_back(c->GetArticleSet() ? c->GetArticleSet()->GetCount() : -1);
      c->Release(&user, false);
    }
    return out;
  }
  bool ApplyLocation(ScreenDriver& device, const std::string& step, const std::string& shot);
  bool OpenContentPage(ScreenDriver& device, const std::string& step);
  // Taps the left (0) or right (1) soft key.
  bool SoftKey(ScreenDriver& device, int index);
  // Waits for the program's message box and presses its default button.
  bool AnswerBox(ScreenDriver& device);
  static plat::HWND Hwnd(const WindowLine& w) { return reinterpret_cast<plat::HWND>(static_cast<std::uintptr_t>(w.hwnd)); }
  // The program's message box, while one is open.
  std::optional<WindowLine> MessageBox(ScreenDriver& device) {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.cls == "#32770" && w.title == "Orv News" && w.right - w.left < 240)
        return w;
    return std::nullopt;
  }
  static std::u16string StoredContentFolder() { return OpenSettingsKey().GetString(u"ContentFolder", u""); }

  std::string cardHost_;
  std::u16string original_;
  pid_t program_ = -1;
};

// Opens the options on the Content page, moves the selection of the
// location list by one step (down or up), presses Done and answers the move
// question with Yes; false when a step could not be taken.
bool ContentMoveE2E::ApplyLocation(ScreenDriver& device, const std::string& step, const std::string& shot) {
  if (!OpenContentPage(device, step)) return false;
  if (!shot.empty()) device.Screenshot(shot);
  // Done, then Yes (the default button) to the move question.
  if (!SoftKey(device, 0) || !AnswerBox(device)) return false;
  return ScreenDriver::WaitUntil([&] { return !Window(device, "Orv News Options").has_value(); }, 30000);
}

bool ContentMoveE2E::OpenContentPage(ScreenDriver& device, const std::string& step) {
  auto main = Window(device, "Orv News");
  if (!main) return false;
  plat::PostMessageW(Hwnd(*main), plat::WM_COMMAND, kOptionsCommand, 0);
  if (!ScreenDriver::WaitUntil([&] { return Window(device, "Orv News Options").has_value(); }, 20000)) return false;
  auto sheet = Window(device, "Orv News Options");
  if (plat::SendMessageW(Hwnd(*sheet), plat::PSM_SETCURSEL, 1, 0) == 0) return false;
  // The location list has the focus on the Content page.
  return device.Key(step);
}

bool ContentMoveE2E::SoftKey(ScreenDriver& device, int index) {
  auto bar = Find(device, plat::Utf16ToUtf8(plat::kMenuBarClassName));
  if (!bar) return false;
  const int x = index == 0 ? bar->left + (bar->right - bar->left) / 4 : bar->right - (bar->right - bar->left) / 4;
  return device.Tap(x, (bar->top + bar->bottom) / 2);
}

bool ContentMoveE2E::AnswerBox(ScreenDriver& device) {
  if (!ScreenDriver::WaitUntil([&] { return MessageBox(device).has_value(); }, 20000)) return false;
  const unsigned box = MessageBox(device)->hwnd;
  auto gone = [&] {
    auto now = MessageBox(device);
    return !now || now->hwnd != box;
  };
  // The box shows with the focus on its default button: one press answers it.
  return device.Key("return") && ScreenDriver::WaitUntil(gone, 20000);
}

TEST_F(ContentMoveE2E, MoveToAStorageCardAndBackKeepsEveryArticle) {
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", 3}, {u"Beta", 5}}));
  const std::u16string cardFolder = CombinePath(u"\\Storage Card", GetDefaultContentFolder());
  ASSERT_TRUE(CreateFolderTree(cardFolder));
  ASSERT_TRUE(plat::EqualsNoCase(original_, GetDefaultContentFolder()));

  // Main Memory to the card: the card's entry is the next one down.
  ASSERT_TRUE(ApplyLocation(device, "down", "content-page-card"));
  EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), cardFolder));
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"ContentOnFlash", 9), 1u);
  EXPECT_TRUE(std::filesystem::exists(cardHost_ + "/Program Files/Orv News/Content/Alpha.cnl"));
  EXPECT_EQ(Articles({u"Alpha", u"Beta"}), (std::vector<int>{3, 5}));
  EXPECT_FALSE(FileExists(CombinePath(original_, u"Alpha.cnl")));

  // And back to main memory.
  ASSERT_TRUE(ApplyLocation(device, "up", ""));
  EXPECT_TRUE(plat::EqualsNoCase(StoredContentFolder(), original_));
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"ContentOnFlash", 9), 0u);
  EXPECT_EQ(Articles({u"Alpha", u"Beta"}), (std::vector<int>{3, 5}));
  EXPECT_FALSE(IsFolderNotEmpty(cardFolder));
  EXPECT_TRUE(Window(device, "Orv News").has_value());
}

// A card folder the test made read-only is refused before anything moves;
// then a move that fails part-way (another program holds one channel) brings
// back what had moved. Through both the program keeps every channel.
TEST_F(ContentMoveE2E, RefusedAndFailedMovesKeepEveryChannel) {
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", 3}, {u"Beta", 5}, {u"Gamma", 2}}));
  const std::u16string cardFolder = CombinePath(u"\\Storage Card", GetDefaultContentFolder());
  ASSERT_TRUE(CreateFolderTree(cardFolder));
  const std::vector<std::u16string> names{u"Alpha", u"Beta", u"Gamma"};
  const std::vector<int> counts{3, 5, 2};
  auto everythingHome = [&] {
    GetGlobalOptions().Reset();
    EXPECT_TRUE(plat::EqualsNoCase(GetGlobalOptions().GetContentFolder(), original_));
    EXPECT_EQ(Articles(names), counts);
    for (const auto& name : names) EXPECT_TRUE(FileExists(CombinePath(original_, name + u".cnl")));
    EXPECT_FALSE(IsFolderNotEmpty(cardFolder)) << "nothing is left on the card";
  };

  // Read-only: refused with a message, the options stay open; Cancel closes them.
  ASSERT_TRUE(plat::SetFileAttributesW(cardFolder.c_str(), plat::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(OpenContentPage(device, "down"));
  ASSERT_TRUE(SoftKey(device, 0));
  ASSERT_TRUE(AnswerBox(device));  // the question: Yes
  ASSERT_TRUE(AnswerBox(device));  // the refusal
  EXPECT_TRUE(Window(device, "Orv News Options").has_value());
  ASSERT_TRUE(SoftKey(device, 1));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Window(device, "Orv News Options").has_value(); }, 20000));
  everythingHome();
  ASSERT_TRUE(plat::SetFileAttributesW(cardFolder.c_str(), 0));

  // Part-way: Beta's channel is held (as the Today item holds one it reads)
  // until the program reports the failure.
  plat::HANDLE beta = plat::CreateMutexW(nullptr, plat::FALSE, (std::u16string(kChannelMutexPrefix) + u"Beta").c_str());
  ASSERT_NE(beta, nullptr);
  ASSERT_EQ(plat::WaitForSingleObject(beta, 0), plat::WAIT_OBJECT_0);
  ASSERT_TRUE(OpenContentPage(device, "down"));
  ASSERT_TRUE(SoftKey(device, 0));
  ASSERT_TRUE(AnswerBox(device));  // the question: Yes
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MessageBox(device).has_value(); }, 30000));
  plat::ReleaseMutex(beta);
  plat::CloseHandle(beta);
  ASSERT_TRUE(AnswerBox(device));  // "Failed to move the database."
  EXPECT_TRUE(Window(device, "Orv News Options").has_value());
  ASSERT_TRUE(SoftKey(device, 1));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Window(device, "Orv News Options").has_value(); }, 20000));
  everythingHome();
  device.Screenshot("after-failed-move");
}

// The main window's "About..." command (2053) opens the About box over it;
// Done closes it and the main window is back.
TEST_F(ContentMoveE2E, AboutCommandOpensTheAboutBox) {
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", 1}}));
  auto main = Window(device, "Orv News");
  ASSERT_TRUE(main.has_value());
  auto about = [&]() -> std::optional<WindowLine> {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.cls == "#32770" && w.title == "Orv News" && w.hwnd != main->hwnd &&
          w.right - w.left == 240)
        return w;
    return std::nullopt;
  };
  plat::PostMessageW(Hwnd(*main), plat::WM_COMMAND, kAboutCommand, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return about().has_value(); }, 20000));
  EXPECT_FALSE(device.Screenshot("about-box").empty());
  ASSERT_TRUE(SoftKey(device, 0));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return !about().has_value(); }, 20000));
  EXPECT_TRUE(Window(device, "Orv News").has_value());
}

}  // namespace
