// The download-progress dialog: fetches one document (a web address or a
// local file) into a parsed Tidy::Document while showing a title, a status
// line, a progress bar and one soft key ("Cancel", "Done" after a failure).
//
// A web address is downloaded on a worker thread through an HTTP session; the
// worker touches no window: it notifies the dialog of its status, posts its
// result, and has the dialog ask the paid-connection question on the UI
// thread. A local file is parsed on the
// UI thread. The dialog never ends while its worker runs: Cancel cancels the
// session and the dialog ends when the worker has reported and been joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/windows/Windows.h"
#include "update/http/InetSession.h"

class CInetManager;

namespace Tidy {
class Document;
}

class DownloadDialog : public CPPCDialogImpl, private IInetEventListener {
 public:
  // How a run ended.
  enum Result { kResultSuccess = 1, kResultCancelled = 2, kResultFailed = 3 };
  // Worker to dialog: show the pending status; the worker has finished.
  static constexpr plat::UINT kMsgShowStatus = plat::WM_APP + 100;
  static constexpr plat::UINT kMsgWorkerFinished = plat::WM_APP + 101;
  // Worker to dialog (sent, answered on the UI thread): may a paid
  // connection be used? 1 yes.
  static constexpr plat::UINT kMsgAskPaidConnection = plat::WM_APP + 102;
  // The soft key's commands: Cancel while running, Done after a failure.
  static constexpr int kCommandCancel = 2;
  static constexpr int kCommandDone = 1;
  // Received bytes count against this length when none was announced.
  static constexpr std::uint64_t kAssumedLength = 5000;

  // Runs the dialog modally over owner: title = dialog caption (e.g. string 135), caption = the text shown
  // above the status line (e.g. string 182). Returns true only when it ended with result 1 (downloaded and
  // parsed). An empty address or title, or no output, returns false without showing anything. The focus
  // window of the caller is restored afterwards. Sessions come from manager (null: the process's).
  static bool Run(plat::HWND owner, const std::u16string& address, const std::u16string& title,
                  const std::u16string& caption, Tidy::Document* output, CInetManager* manager = nullptr);

  DownloadDialog(const std::u16string& address, const std::u16string& title, const std::u16string& caption,
                 Tidy::Document* output);
  ~DownloadDialog() override;

  // Sessions come from this connection manager (null: the process's).
  void SetConnectionManager(CInetManager* manager) { manager_ = manager; }

  // Runs the dialog modally; the result code (1, 2, 3), or -1 when the dialog
  // could not be made or the arguments are missing.
  plat::INT_PTR Execute(plat::HWND owner);
  int GetResult() const { return result_; }
  std::u16string GetResultMessage();

  // The progress bar's position for received bytes of an announced length
  // (-1 or 0: none announced): 10 .. 100.
  static int ProgressPosition(std::uint64_t received, std::int64_t announced);
  // Whether the address names a local file ("\..." or "/..." paths, and
  // "file://" addresses, ignoring case), and its device path.
  static bool IsLocalAddress(const std::u16string& address);
  static std::u16string LocalPath(const std::u16string& address);

  // The dialog's windows (null before it is shown).
  plat::HWND GetStatusWindow() const;
  plat::HWND GetProgressWindow() const { return progress_; }
  const SoftKeyBar& GetSoftKeys() const { return softKeys_; }

 protected:
  void OnInit() override;
  plat::LRESULT OnOK() override;
  plat::LRESULT OnCancel() override;
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override;

  // Seen on the UI thread after a status was shown, and after the worker's
  // result was shown (the dialog may end right after). For observers.
  virtual void OnStatusShown() {}
  virtual void OnResultShown(int /*result*/) {}

  // Cancel as the soft key does it.
  void RequestCancel();

 private:
  void StartDownload();
  void RunDownload();
  static plat::DWORD DownloadThreadProc(void* self);
  void OnInetEvent(int code, CInetJob* job) override;
  void ReportStatus(int position, const std::u16string& text);
  // Also used on the UI thread, for a local file: the result is shown once
  // the dialog is up.
  void ReportResult(int code, const std::u16string& message);
  void OnShowStatus();
  void OnWorkerFinished();
  void JoinWorker();
  void SetSoftKey(int command, const std::u16string& text, bool enabled, int newCommand);
  void LayoutControls();

  std::u16string address_;
  std::u16string title_;
  std::u16string caption_;
  Tidy::Document* output_;
  CInetManager* manager_ = nullptr;
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> connected_{false};
  bool resultShown_ = false;
  std::atomic<plat::HWND> notifyWindow_{nullptr};  // the dialog, for the worker

  std::mutex lock_;  // guards the fields below
  std::shared_ptr<CInetSession> session_;
  int result_ = kResultCancelled;
  std::u16string resultMessage_;
  std::u16string pendingText_;
  int pendingPosition_ = -1;

  plat::HANDLE worker_ = nullptr;
  SoftKeyBar softKeys_;
  int softKeyCommand_ = kCommandCancel;
  plat::HWND progress_ = nullptr;
};
