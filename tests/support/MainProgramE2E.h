// What the whole-program tests of the main program share: its names on the
// device, its path in the build's program folder, the feeds they serve, and
// the program's own answers: whether its interface is open, its end by the
// exit request.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "core/ProcessGlobals.h"
#include "platform/windows/Windows.h"
#include "tests/support/ScreenDriver.h"

#ifndef ORV_PROGRAM_DIR
#define ORV_PROGRAM_DIR "programfiles"
#endif

namespace orvtest {

// The main program's hidden window class and single-instance mutex name.
inline constexpr const char* kHiddenClass = "A377667C-B302-4767-B9C5-EC5210805251";
inline constexpr const char16_t* kInstanceName = u"A377667C-B302-4767-B9C5-EC5210805251";

// The main program as the build installs it.
inline std::string MainProgramPath() { return std::string(ORV_PROGRAM_DIR) + "/Orv News"; }

// The running main program's hidden window (null when none runs).
inline plat::HWND MainHiddenWindow() { return plat::FindWindowW(kInstanceName, nullptr); }

// The running main program says its interface is open.
inline bool MainInterfaceOpen() {
  plat::HWND hidden = MainHiddenWindow();
  return hidden && plat::SendMessageW(hidden, GetRegisteredMessages().isInterfaceOpen, 0, 0) == 1;
}

// Ends the main program started on the device as `program` through its exit
// request and waits for it; its exit status, -1 when no program runs.
inline int ExitMainProgram(ScreenDriver& device, pid_t program, int boundMs = 30000) {
  plat::HWND hidden = MainHiddenWindow();
  if (!hidden) return -1;
  plat::PostMessageW(hidden, GetRegisteredMessages().orvNewsExit, 0, 0);
  return device.WaitExit(program, boundMs);
}

// An RSS 2.0 feed of `items` items: item i has the guid "<tag>-<i>", the
// description "Text <i>", the title itemTitle(i) ("<tag> <i>" when not given)
// and, when pubDate is given and answers non-empty, that date.
inline std::string RssFeed(const std::string& title, int items, const std::string& tag,
                           const std::function<std::string(int)>& itemTitle = {},
                           const std::function<std::string(int)>& pubDate = {}) {
  std::string xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title + "</title>";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    xml += "<item><title>" + (itemTitle ? itemTitle(i) : tag + " " + n) + "</title><guid>" + tag + "-" + n + "</guid>";
    if (pubDate) {
      const std::string date = pubDate(i);
      if (!date.empty()) xml += "<pubDate>" + date + "</pubDate>";
    }
    xml += "<description>Text " + n + "</description></item>";
  }
  return xml + "</channel></rss>";
}

}  // namespace orvtest
