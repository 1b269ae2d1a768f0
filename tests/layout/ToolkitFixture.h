// Shared set-up of the toolkit, control and dialog tests: a top-level window
// at the screen's origin to hold children, and a language file that asks for
// large fonts.
#pragma once

#include <filesystem>
#include <string>

#include "core/Localizer.h"
#include "core/VORegistry.h"
#include "layout/DialogFontCache.h"
#include "layout/UiKitModule.h"
#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {

class ToolkitTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    plat::InitCommonControls();
    InitUiKit(nullptr);
  }
  void TearDown() override {
    if (host_ && plat::IsWindow(host_)) plat::DestroyWindow(host_);
    GetLocalizer().Unload();
    LayoutTest::TearDown();
  }

  // A visible popup window covering the screen, whose procedure is proc.
  plat::HWND Host(plat::WNDPROC proc = &plat::DefWindowProcW) {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = u"OrvToolkitHost";
    plat::UnregisterClassW(wc.lpszClassName, nullptr);
    plat::RegisterClassW(&wc);
    host_ = plat::CreateWindowExW(0, wc.lpszClassName, u"Host", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0,
                                  plat::ScreenWidth(), plat::ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    return host_;
  }

  plat::HWND Child(const char16_t* cls, plat::DWORD style, int x, int y, int w, int h, int id = 0,
                   const char16_t* text = u"") {
    return plat::CreateWindowExW(0, cls, text, plat::WS_CHILD | plat::WS_VISIBLE | style, x, y, w, h, host_,
                                 reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
  }

  // The language file of the device says "_LARGE_SMALL_FONTS" is "1".
  void UseLargeFontsLanguage() {
    ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Storage\\Orv"));
    const std::string folder = device_.FsRoot() + "/Storage/Orv";
    std::filesystem::create_directories(folder);
    orvtest::WriteHostFile(folder + "/localization_en.txt", "_LARGE_SMALL_FONTS|1\n");
    ASSERT_TRUE(LoadLanguage(u"en"));
    ASSERT_TRUE(UseLargeFonts());
    GetDialogFontCache().Reset();
  }

  static plat::LOGFONTW FontOf(plat::HGDIOBJ font) {
    plat::LOGFONTW lf{};
    plat::GetObjectW(font, sizeof lf, &lf);
    return lf;
  }
  static plat::HFONT WindowFont(plat::HWND w) {
    return reinterpret_cast<plat::HFONT>(plat::SendMessageW(w, plat::WM_GETFONT, 0, 0));
  }
  // Colours as the 16-bit screen keeps them (5-6-5 bits).
  static plat::COLORREF On565(plat::COLORREF c) { return c & 0xF8FCF8; }
  static plat::RECT ScreenRect(plat::HWND w) {
    plat::RECT r{};
    plat::GetWindowRect(w, &r);
    return r;
  }

  plat::HWND host_ = nullptr;
};

}  // namespace layouttest
