// Starting the main program for an automatic update: found by its hidden
// window's class, started with "autoupdate" behind the screen cover, sent to
// the back of the window order, then asked to update all channels.
#pragma once

#include "platform/base/Handle.h"
#include "platform/windows/Windows.h"

class CScreenCover;

// The main program's hidden window class (also its single-instance name).
inline constexpr const char16_t* kMainProgramWindowClass = u"A377667C-B302-4767-B9C5-EC5210805251";

struct LaunchTimings {
  plat::DWORD attempts = 30;        // asks whether the interface is open
  plat::DWORD pauseMs = 500;        // between looks and asks; cut short by the stop event
  // How long a started main program has to show its window (30 looks 500 ms
  // apart). A time, not a count of looks: shorter pauses look more often but
  // do not give a slow start less time, and a program whose window shows
  // after the service gave up would stay in front, never asked to update.
  plat::DWORD windowBoundMs = 15000;
  // For one answer of the main program: the service's own bound, so a hung
  // main program cannot hold the service thread (it counts as "not open yet").
  plat::DWORD answerBoundMs = 5000;
};

class CMainProgramLauncher {
 public:
  // stop: the service's stop event; every pause ends at once when it is set.
  CMainProgramLauncher(CScreenCover& cover, plat::HANDLE stop, LaunchTimings timings = {});

  static bool IsMainProgramRunning();
  // Posts the update-now message to the main program, starting it when it does
  // not run; false when it could not be reached.
  bool PostUpdateNow();
  // The main program's hidden window, or null.
  plat::HWND LaunchForAutoUpdate();
  // Brings the first ordinary window below `window` (or the desktop) forward
  // and moves the main program to the bottom of the window order.
  static void SendProgramToBack(plat::HWND window);

 private:
  bool Pause();  // false when the service is stopping

  CScreenCover& cover_;
  plat::HANDLE stop_;
  LaunchTimings timings_;
};
