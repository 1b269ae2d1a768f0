// Shared set-up of the picker tests: a device of its own with a chosen
// screen, folder fixtures made in it, message boxes answered by the test, and
// a script that drives the modal pickers from inside their message loops.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs/FileDialog.h"
#include "layout/UiKitModule.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"
#include "tests/app/PocketPcScreen.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_APP_SHOTS
#define ORV_APP_SHOTS "."
#endif

namespace pickertest {

// Each dialog that opens is handed to the next step, from a message posted
// once the dialog is initialised, so the step runs inside the dialog's own
// modal loop. Resume(dialog) hands a dialog to the next step again (after a
// nested dialog has ended). A dialog with no step left is cancelled.
class DialogScript {
 public:
  using Step = std::function<void(plat::HWND dialog)>;

  explicit DialogScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    static const char16_t* cls = [] {
      plat::WNDCLASSW wc{};
      wc.lpfnWndProc = &DialogScript::Proc;
      wc.lpszClassName = u"OrvPickerTestScript";
      plat::RegisterClassW(&wc);
      return u"OrvPickerTestScript";
    }();
    window_ = plat::CreateWindowExW(0, cls, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    plat::SetPropW(window_, u"script", reinterpret_cast<plat::HANDLE>(this));
    SetFileDialogObserverForTesting([this](plat::HWND dialog) { Resume(dialog); });
  }
  ~DialogScript() {
    SetFileDialogObserverForTesting(nullptr);
    plat::DestroyWindow(window_);
  }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  void Resume(plat::HWND dialog) {
    plat::PostMessageW(window_, plat::WM_APP + 1, 0, reinterpret_cast<plat::LPARAM>(dialog));
  }
  std::size_t Ran() const { return next_; }

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
    auto* self = reinterpret_cast<DialogScript*>(plat::GetPropW(hwnd, u"script"));
    if (msg != plat::WM_APP + 1 || !self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
    auto dialog = reinterpret_cast<plat::HWND>(lParam);
    if (self->next_ < self->steps_.size()) {
      self->steps_[self->next_++](dialog);
    } else {
      ADD_FAILURE() << "a dialog opened with no step left";
      plat::SendMessageW(dialog, plat::WM_COMMAND, plat::IDCANCEL, 0);
    }
    return 0;
  }

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  plat::HWND window_ = nullptr;
};

// Tree items: the next one of a kind, their fields, their children.
inline plat::HTREEITEM Next(plat::HWND tree, plat::WPARAM how, plat::HTREEITEM item = nullptr) {
  return reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, how, reinterpret_cast<plat::LPARAM>(item)));
}

inline plat::TVITEMW Read(plat::HWND tree, plat::HTREEITEM item, std::u16string* text = nullptr) {
  char16_t buffer[260] = {};
  plat::TVITEMW it{};
  it.mask = plat::TVIF_HANDLE | plat::TVIF_TEXT | plat::TVIF_IMAGE | plat::TVIF_STATE | plat::TVIF_CHILDREN;
  it.hItem = item;
  it.stateMask = plat::TVIS_EXPANDED;
  it.pszText = buffer;
  it.cchTextMax = 260;
  plat::SendMessageW(tree, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it));
  if (text) *text = buffer;
  return it;
}

inline std::u16string TextOf(plat::HWND tree, plat::HTREEITEM item) {
  std::u16string text;
  Read(tree, item, &text);
  return text;
}

inline std::vector<std::u16string> Children(plat::HWND tree, plat::HTREEITEM item) {
  std::vector<std::u16string> names;
  for (plat::HTREEITEM c = Next(tree, plat::TVGN_CHILD, item); c; c = Next(tree, plat::TVGN_NEXT, c))
    names.push_back(TextOf(tree, c));
  return names;
}

inline plat::HTREEITEM Child(plat::HWND tree, plat::HTREEITEM item, const std::u16string& name) {
  for (plat::HTREEITEM c = Next(tree, plat::TVGN_CHILD, item); c; c = Next(tree, plat::TVGN_NEXT, c))
    if (TextOf(tree, c) == name) return c;
  return nullptr;
}

// The two screens the pictures are taken on.
struct ScreenSize {
  int width, height, dpi;
  const char* tag;
};
constexpr ScreenSize kPictureScreens[] = {{240, 320, 96, "240x320"}, {480, 640, 192, "480x640"}};

struct AskedBox {
  std::u16string text;
  std::u16string caption;
  plat::UINT type = 0;
};

class PickerTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    UseScreen(480, 640, 192);
    plat::InitCommonControls();
    InitUiKit(nullptr);
    plat::SetMessageBoxAnswerer([this](plat::HWND, const std::u16string& text, const std::u16string& caption,
                                       plat::UINT type) {
      boxes.push_back({text, caption, type});
      return answer;
    });
  }
  void TearDown() override {
    plat::SetMessageBoxAnswerer(nullptr);
    apptest::ResetPocketPcScreen();
  }

  void UseScreen(int width, int height, int dpi) {
    apptest::UsePocketPcScreen(width, height, dpi);
  }

  // Device folders and files (parents made as needed).
  static void MakeFolder(const std::u16string& path) {
    std::u16string at;
    std::size_t from = 1;
    while (from <= path.size()) {
      std::size_t cut = path.find(u'\\', from);
      if (cut == std::u16string::npos) cut = path.size();
      at = path.substr(0, cut);
      plat::CreateDirectoryW(at.c_str(), nullptr);
      from = cut + 1;
    }
  }
  static void MakeFile(const std::u16string& path, const std::string& bytes = "x") {
    MakeFolder(path.substr(0, path.rfind(u'\\')));
    plat::HANDLE file = plat::CreateFileW(path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, plat::INVALID_HANDLE_VALUE) << plat::Utf16ToUtf8(path);
    plat::DWORD written = 0;
    plat::WriteFile(file, bytes.data(), static_cast<plat::DWORD>(bytes.size()), &written, nullptr);
    plat::CloseHandle(file);
  }

  // Paints every window and keeps a picture of the composed screen.
  static void Shot(plat::HWND dialog, const std::string& name) {
    std::function<void(plat::HWND)> paint = [&paint](plat::HWND w) {
      plat::InvalidateRect(w, nullptr, 1);
      plat::UpdateWindow(w);
      for (plat::HWND c = plat::GetWindow(w, plat::GW_CHILD); c; c = plat::GetWindow(c, plat::GW_HWNDNEXT)) paint(c);
    };
    paint(dialog);
    if (plat::HWND bar = plat::SHFindMenuBar(dialog)) paint(bar);
    ASSERT_TRUE(plat::ComposeScreen());
    std::filesystem::create_directories(ORV_APP_SHOTS);
    EXPECT_TRUE(plat::SaveBitmapPng(plat::ScreenBitmap(), std::string(ORV_APP_SHOTS) + "/" + name + ".png"));
  }

  static std::u16string Text(plat::HWND window) {
    char16_t text[1024] = {};
    plat::GetWindowTextW(window, text, 1024);
    return text;
  }

  std::vector<AskedBox> boxes;
  int answer = plat::IDOK;
};

}  // namespace pickertest
