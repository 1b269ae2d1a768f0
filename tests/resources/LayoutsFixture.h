// A device whose layout folder holds the packages the build made, with a
// chosen screen, for the tests of the shipped layouts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "layout/DefaultLayoutServices.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutServices.h"
#include "platform/base/SysInfo.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/TempDevice.h"
#include "tests/app/PocketPcScreen.h"

namespace layoutlint {

// The screens the program supports: portrait and landscape at 96 and 192
// dpi, and two screens the sized packages do not cover.
struct Screen {
  int width, height, dpi;
  bool landscape;  // in 96-dpi units 320 x 240
};
inline const std::vector<Screen>& Screens() {
  static const std::vector<Screen> all = {
      {240, 320, 96, false}, {320, 240, 96, true},  {480, 640, 192, false},
      {640, 480, 192, true}, {480, 800, 192, false}, {320, 320, 96, false},
  };
  return all;
}

// The layout documents the program asks for by name: the main window's
// screens, the progress form's content and the wizard pages' backdrops.
inline const std::vector<std::u16string>& LayoutNames() {
  static const std::vector<std::u16string> all = {
      u"news_blank",          u"news_channels",         u"news_articles",      u"progress",
      u"new_channel_general", u"new_channel_rss_atom",  u"new_channel_catalog", u"new_channel_search",
      u"new_channel_opml",    u"new_channel_template"};
  return all;
}

class ShippedLayoutsTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    const std::string folder = device_.FsRoot() + "/Layouts";
    std::filesystem::create_directories(folder);
    for (const auto& entry : std::filesystem::directory_iterator(ORV_PROGRAM_DIR)) {
      if (entry.path().extension() == ".dat")
        std::filesystem::copy_file(entry.path(), folder + "/" + entry.path().filename().string());
    }
    SetLayoutFolder(u"\\Layouts\\");
  }
  void TearDown() override {
    RemoveLayoutServices();
    SetLayoutFolder(u"");
    apptest::ResetPocketPcScreen();
  }
  // A Pocket PC with this screen and fresh layout services (their caches
  // and the package prefix depend on the screen).
  void UseScreen(const Screen& s) {
    RemoveLayoutServices();
    apptest::UsePocketPcScreen(s.width, s.height, s.dpi);
    InstallLayoutServices();
  }
};

}  // namespace layoutlint
