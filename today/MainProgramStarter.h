// Starting and bringing forward the main program "Orv News" and starting the
// options program, for the Today item. The launch and its waits run on the
// starter's own thread so that the host's UI thread never waits.
#pragma once

#include <functional>
#include <string>

#include "platform/base/Handle.h"
#include "platform/windows/Windows.h"

class CMainProgramStarter {
 public:
  static constexpr int kWaitRounds = 30;
  static constexpr plat::DWORD kWaitStepMs = 500;

  // The process's starter, made on first use; its thread ends when the
  // library is unloaded (or the process ends).
  static CMainProgramStarter* GetInstance();

  CMainProgramStarter();
  // Sets the stop event and joins the thread; the thread's waits all include
  // the stop event, so this never takes long and no thread is killed.
  ~CMainProgramStarter();
  CMainProgramStarter(const CMainProgramStarter&) = delete;
  CMainProgramStarter& operator=(const CMainProgramStarter&) = delete;

  // Asks the thread to start (or find) and show the main program.
  void RequestShow();
  // Writes the view state (the article of the channel, view 2) and asks as
  // RequestShow; nothing when either string is empty.
  void RequestShowArticle(const std::u16string& channel, const std::u16string& articleId);

  // The main program's window: found, or started from "InstallFolder" and
  // waited for (up to 30 x 500 ms for the window, then as long for the
  // is-interface-open answer); null when there is none. The waits end early
  // when the starter is stopped.
  plat::HWND StartMainProgram();
  // StartMainProgram, then the view-state message and the main program
  // brought forward.
  void ShowMainProgram();

  // Tests replace what a request runs (null: ShowMainProgram).
  void SetShowFunctionForTesting(std::function<void()> show);
  int GetLaunchCountForTesting() const { return launches_; }

 private:
  static plat::DWORD ThreadProc(void* self);
  void Run();
  // Waits ms for the stop event; true when the starter is stopping.
  bool StopWait(plat::DWORD ms);

  plat::HANDLE thread_ = nullptr;
  plat::HANDLE requestEvent_ = nullptr;
  plat::HANDLE stopEvent_ = nullptr;
  plat::HANDLE stoppedEvent_ = nullptr;
  std::function<void()> show_;
  int launches_ = 0;
};

// Starts "Orv News Today Options.exe" of the install folder (no wait, no check).
void StartOptionsProgram();
