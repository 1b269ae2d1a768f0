// The main program's entry and process-level control: one instance per
// device, the hand-over of a second start, the command line, the
// process-wide services, the hidden coordinating window that the other
// programs talk to, the default channels of a first run and the shut-down.
// Everything here runs on the program's one UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/Time.h"
#include "platform/windows/Windows.h"

// Filled by ParseCommandLine from the whole command line.
struct CommandLineOptions {
  bool autoupdate = false;      // "autoupdate"
  bool hasOwner = false;        // "-hwnd:%i"
  bool createChannels = false;  // "createchannels"
  std::int32_t ownerWindow = 0;
};

// Timers of the hidden window, both every 10 s: 777 removes an "UpdateLocked"
// of 2 once nothing updates; 888 (autoupdate runs) ends the program when the
// update is over.
inline constexpr plat::UINT_PTR kUnlockTimer = 777;
inline constexpr plat::UINT_PTR kAutoExitTimer = 888;
inline constexpr plat::UINT kHiddenTimerPeriodMs = 10000;
// The period both timers run with: kHiddenTimerPeriodMs, or, in a test build
// (ORV_TEST_SWITCHES), a shorter one a whole-program test names in the
// environment variable "ORVNEWS_HIDDEN_TIMER_MS" (milliseconds). A release
// build does not read the variable.
plat::UINT HiddenTimerPeriodMs();
// Sent by a second instance started without an owner: the user wants the interface.
inline constexpr plat::UINT kUserWantsUiMessage = plat::WM_USER + 88;
// The main window's "Exit" command.
inline constexpr int kCloseUiCommand = 2084;

// The whole start-up and run; returns 0.
int RunApplication(plat::HINSTANCE instance, const std::u16string& commandLine);
// RunApplication inside the handler of everything that escapes: then
// "UpdateLocked" is deleted. Always 0.
int WinMain(plat::HINSTANCE instance, plat::HINSTANCE previous, const std::u16string& commandLine, int show);

// True when this process may go on: either it holds the instance mutex
// (*existing null), or a running instance showed its window (*existing).
// At most 5 attempts of two looks with a sleep of 500 ms between them.
bool CheckSingleInstance(const std::u16string& name, plat::HWND* existing,
                         const std::function<void(plat::DWORD)>& sleep = plat::Sleep);

// The command line taken whole, exactly (no splitting, trimming or case folding).
void ParseCommandLine(const std::u16string& commandLine, CommandLineOptions* options);

// Sets up the process-wide services and, unless creating channels, the hidden
// window with its timer 777 and the owner the interface opens under. True.
bool CreateHiddenMainWindow(plat::HINSTANCE instance, const CommandLineOptions& options);
plat::LRESULT HiddenMainWindowProc(plat::HWND window, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam);
void RunMessageLoop();

// The default channels of a first run: the language file's "DEFCHANNEL_%d_URL"
// and "DEFCHANNEL_%d_NAME" (1 to 6), else the built-in six; nothing when the
// channel set holds a channel already.
void CreateDefaultChannels();
// A feed channel of that title and address; false when either is empty or
// the channel could not be made.
bool AddDefaultChannel(const std::u16string& address, const std::u16string& title);
// The built-in default channels, {address, title} in their order.
struct DefaultChannel {
  const char16_t* address;
  const char16_t* title;
};
const DefaultChannel* GetBuiltInDefaultChannels(int* count);

// Deletes the cached screen bitmaps ("<install folder>\<width>_<name>.dat")
// of the widths other than the screen's short side. Files the install
// manifest lists are never deleted.
void DeleteUnusedScreenBitmaps();

void ShutdownApplication();

// Sends the main window "Exit" when it exists.
void CloseMainUi();
// Opens the main window under owner and runs it until it is gone; true.
bool RunMainUi(plat::HWND owner, plat::HWND* uiWindowSlot);
// Tests run a stand-in interface instead of the main window (empty: the main
// window again).
using MainUiRunner = std::function<bool(plat::HWND owner, plat::HWND* uiWindowSlot)>;
void SetMainUiRunnerForTesting(MainUiRunner runner);

// Brings window forward, and the visible top-level windows it owns with it
// (the interface window above the hidden window).
void BringWindowForward(plat::HWND window);
