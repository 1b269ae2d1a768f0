// Process-wide state of the main program: the single-instance mutex, the hidden
// coordinating window, the owner the interface opens under and the interface
// window itself. Everything here is used on the program's one UI thread.
#pragma once

#include "platform/windows/Windows.h"

struct AppState {
  plat::HANDLE instanceMutex = nullptr;  // null when none is held
  plat::HWND hiddenWindow = nullptr;     // the coordinating window
  // The window given with "-hwnd:%i" when it is valid, else the hidden window.
  plat::HWND ownerWindow = nullptr;
  // Null until the main window exists, then that window; not cleared when the
  // window closes (the program ends right after).
  plat::HWND uiWindow = nullptr;
  // The owner of a show request that arrived while the interface was open.
  plat::HWND pendingForeground = nullptr;
  bool autoupdateRun = false;
};

AppState& GetAppState();

// The module instance of the program.
void SetAppInstance(plat::HINSTANCE instance);
plat::HINSTANCE GetAppInstance();
