// Adds up the sizes of all files below a folder on a background thread, so an
// option page can show how much storage the content takes while it stays
// responsive: start it on a list of paths (folders, walked with all their
// sub-folders, or single files), read the running total, stop it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

class CFolderSizeScanner {
 public:
  // How long Stop waits for the worker to notice the stop flag.
  static constexpr plat::DWORD kStopWaitMs = 10000;

  // Creates the done event and the worker thread, suspended. On failure the
  // scanner stays inert (Start fails). stopWaitMs bounds Stop's wait.
  explicit CFolderSizeScanner(plat::DWORD stopWaitMs = kStopWaitMs);
  // Stops the worker.
  ~CFolderSizeScanner();
  CFolderSizeScanner(const CFolderSizeScanner&) = delete;
  CFolderSizeScanner& operator=(const CFolderSizeScanner&) = delete;

  // Queues folder and resumes the worker; false when a folder is already queued.
  bool Start(const std::u16string& folder);
  // Queues the paths and resumes the worker; false when a list is already
  // queued or paths is empty.
  bool Start(const std::vector<std::u16string>& paths);
  // False when nothing is queued, there is no thread or it was started already.
  bool Resume();
  // The bytes found so far; only grows while the worker runs.
  std::uint64_t GetTotalSize() const;
  bool IsDone() const;
  bool IsStopRequested() const;

  // Sets the stop flag, waits up to the stop wait for the worker to end, then
  // lets go of the thread and the event; the folder list is emptied. A worker
  // that has not ended by then finishes on its own at its next entry (threads
  // are never killed), keeping what it uses alive until then.
  void Stop();

  // Called by the worker with each entry's path before it is counted
  // (progress displays and tests). Set it before Start.
  void SetEntryObserver(std::function<void(const std::u16string& path)> observer);

 private:
  struct State;
  static plat::DWORD ThreadProc(void* param);
  static void Run(State& state);
  static void Walk(State& state, const std::u16string& path);

  std::shared_ptr<State> state_;
  plat::HANDLE thread_ = nullptr;
  bool started_ = false;
  plat::DWORD stopWaitMs_;
};
