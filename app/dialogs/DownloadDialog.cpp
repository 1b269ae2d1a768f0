#include "app/dialogs/DownloadDialog.h"

#include <memory>

#include "app/dialogs/ConnectionQuestions.h"
#include "core/Localizer.h"
#include "core/StringUtils.h"
#include "database/GlobalOptions.h"
#include "layout/DialogTitle.h"
#include "layout/ScreenScale.h"
#include "layout/WaitCursor.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/files/Files.h"
#include "resources/app/resource.h"
#include "update/http/InetJob.h"
#include "update/http/TidyDownload.h"
#include "update/tidy/TidyDocument.h"

namespace {

// Texts of the dialog.
constexpr plat::UINT kTextConnecting = 223;
constexpr plat::UINT kTextFinishing = 224;
constexpr plat::UINT kTextError = 225;
constexpr plat::UINT kTextSending = 226;
constexpr plat::UINT kTextDownloading = 227;
constexpr plat::UINT kTextParsing = 228;
constexpr plat::UINT kTextConnectionLost = 229;
constexpr plat::UINT kTextDone = 230;
constexpr plat::UINT kTextCanceling = 231;
constexpr plat::UINT kTextCancel = 282;
constexpr plat::UINT kTextNoConnection = 220;
constexpr plat::UINT kTextUnreadable = 336;
constexpr plat::UINT kTextNoFile = 337;

// The progress bar: child, visible, clipping siblings; 16 units high.
constexpr plat::DWORD kProgressStyle = 0x54000000;
constexpr int kProgressHeight = 16;
constexpr int kProgressAfterConnect = 10;


std::u16string ErrorMessage(const std::u16string& detail) {
  std::u16string message = LocalizeResourceString(kTextError);
  if (!detail.empty()) message += u" " + detail;
  return message;
}

}  // namespace

// ---- Run --------------------------------------------------------------------------

bool DownloadDialog::Run(plat::HWND owner, const std::u16string& address, const std::u16string& title,
                         const std::u16string& caption, Tidy::Document* output, CInetManager* manager) {
  if (address.empty() || title.empty() || output == nullptr) return false;
  const plat::HWND focus = plat::GetFocus();
  plat::INT_PTR result;
  {
    DownloadDialog dialog(address, title, caption, output);
    dialog.SetConnectionManager(manager);
    result = dialog.Execute(owner);
  }
  if (focus && plat::IsWindow(focus)) plat::SetFocus(focus);
  return result == kResultSuccess;
}

DownloadDialog::DownloadDialog(const std::u16string& address, const std::u16string& title,
                               const std::u16string& caption, Tidy::Document* output)
    : address_(address), title_(title), caption_(caption), output_(output) {}

DownloadDialog::~DownloadDialog() {
  // The dialog never ends while its worker runs; this only guards a dialog
  // whose window went away some other way.
  if (worker_) {
    cancelRequested_ = true;
    std::shared_ptr<CInetSession> session;
    {
      std::lock_guard<std::mutex> g(lock_);
      session = session_;
    }
    if (session) session->Cancel();
    JoinWorker();
  }
}

plat::INT_PTR DownloadDialog::Execute(plat::HWND owner) {
  if (address_.empty() || title_.empty() || output_ == nullptr) return -1;
  SetTitle(title_);
  const plat::INT_PTR result = DoModal(owner, IDD_DOWNLOAD);
  JoinWorker();
  return result;
}

std::u16string DownloadDialog::GetResultMessage() {
  std::lock_guard<std::mutex> g(lock_);
  return resultMessage_;
}

plat::HWND DownloadDialog::GetStatusWindow() const {
  return hwnd_ ? plat::GetDlgItem(hwnd_, IDC_DOWNLOAD_STATUS) : nullptr;
}

// ---- Addresses and progress ---------------------------------------------------------

int DownloadDialog::ProgressPosition(std::uint64_t received, std::int64_t announced) {
  const std::uint64_t length = announced > 0 ? static_cast<std::uint64_t>(announced) : kAssumedLength;
  const std::uint64_t total = received > length ? received : length;
  const unsigned __int128 share = static_cast<unsigned __int128>(received) * 90u / total;
  return kProgressAfterConnect + static_cast<int>(share);
}

bool DownloadDialog::IsLocalAddress(const std::u16string& address) {
  return !address.empty() && (address[0] == u'\\' || address[0] == u'/' || plat::StartsWithNoCase(address, u"file://"));
}

std::u16string DownloadDialog::LocalPath(const std::u16string& address) {
  std::u16string path = address;
  if (plat::StartsWithNoCase(path, u"file://")) {
    path.erase(0, 7);
    if (plat::StartsWithNoCase(path, u"localhost/")) path.erase(0, 9);
    path = UnescapeUrl(path);
  }
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (path.empty() || path[0] != u'\\') path.insert(path.begin(), u'\\');
  return path;
}

// ---- The dialog ------------------------------------------------------------------------

void DownloadDialog::OnInit() { StartDownload(); }

void DownloadDialog::StartDownload() {
  softKeys_.Create(hwnd_, IDR_MENU_DOWNLOAD, false);
  SetSoftKey(softKeys_.GetLeftCommand(), LocalizeResourceString(kTextCancel), true, kCommandCancel);
  plat::SetDlgItemTextW(hwnd_, IDC_DOWNLOAD_TITLE, caption_.c_str());
  if (plat::HWND status = GetStatusWindow()) {
    plat::SetWindowLongW(status, plat::GWL_STYLE, plat::GetWindowLongW(status, plat::GWL_STYLE) | plat::SS_NOPREFIX);
    plat::SetWindowTextW(status, LocalizeResourceString(kTextConnecting).c_str());
  }
  progress_ = plat::CreateWindowExW(0, plat::PROGRESS_CLASSW, u"", kProgressStyle, 0, 0, 0, 0, hwnd_, nullptr,
                                    nullptr, nullptr);
  if (progress_) plat::SendMessageW(progress_, plat::PBM_SETRANGE, 0, plat::MAKELPARAM(0, 100));
  LayoutControls();
  notifyWindow_ = hwnd_;

  if (IsLocalAddress(address_)) {
    // A local file is read here, on the UI thread; its outcome is shown as a
    // download's would be, once the dialog is up.
    const std::u16string path = LocalPath(address_);
    int code = kResultSuccess;
    std::u16string message;
    {
      CWaitCursor wait;
      if (plat::GetFileAttributesW(path.c_str()) == plat::INVALID_FILE_ATTRIBUTES) {
        code = kResultFailed;
        message = ErrorMessage(plat::FormatString(LocalizeResourceString(kTextNoFile).c_str(), path.c_str()));
      } else if (!Tidy::ParseLocalFile(path, output_, u"")) {
        code = kResultFailed;
        message = ErrorMessage(LocalizeResourceString(kTextUnreadable));
      } else {
        message = LocalizeResourceString(kTextFinishing);
      }
    }
    ReportResult(code, message);
    return;
  }

  worker_ = plat::CreateThread(nullptr, 0, &DownloadDialog::DownloadThreadProc, this, plat::CREATE_SUSPENDED,
                               nullptr);
  if (!worker_) {
    ReportResult(kResultFailed, ErrorMessage(u""));
    return;
  }
  plat::SetThreadPriority(worker_, plat::THREAD_PRIORITY_NORMAL);
  plat::ResumeThread(worker_);
}

void DownloadDialog::LayoutControls() {
  if (!hwnd_) return;
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  const int margin = ScaleX(8);
  const int width = std::max(0, static_cast<int>(client.right - client.left) - 2 * margin);
  int y = GetDialogHeaderHeight() + ScaleY(8);
  // Room for two lines each: a long caption or error text wraps.
  const int textHeight = ScaleY(34);
  if (plat::HWND title = plat::GetDlgItem(hwnd_, IDC_DOWNLOAD_TITLE)) {
    plat::MoveWindow(title, margin, y, width, textHeight, 1);
  }
  y += textHeight + ScaleY(4);
  if (plat::HWND status = GetStatusWindow()) plat::MoveWindow(status, margin, y, width, textHeight, 1);
  y += textHeight + ScaleY(4);
  if (progress_) plat::MoveWindow(progress_, margin, y, width, ScaleY(kProgressHeight), 1);
}

void DownloadDialog::SetSoftKey(int command, const std::u16string& text, bool enabled, int newCommand) {
  const plat::BYTE state = enabled ? plat::TBSTATE_ENABLED : 0;
  softKeys_.SetButton(command, state, text, newCommand);
}

bool DownloadDialog::ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM,
                                           plat::LRESULT& result) {
  switch (msg) {
    case plat::WM_COMMAND:
      // The shell's OK and Cancel keys act as the soft key would.
      return RouteSoftKeysToOkAndCancel(wParam, result);
    case kMsgShowStatus:
      OnShowStatus();
      result = 0;
      return true;
    case kMsgWorkerFinished:
      OnWorkerFinished();
      result = 0;
      return true;
    case kMsgAskPaidConnection:
      result = AskToUsePaidConnection(hwnd_) ? 1 : 0;
      return true;
    case plat::WM_SIZE:
      LayoutControls();
      return false;
    default: return false;
  }
}

plat::LRESULT DownloadDialog::OnOK() {
  // Done after a failure; the dialog's outcome stays a failure.
  if (resultShown_) EndWith(result_ == kResultSuccess ? kResultSuccess : kResultFailed);
  return 0;
}

plat::LRESULT DownloadDialog::OnCancel() {
  RequestCancel();
  return 0;
}

void DownloadDialog::RequestCancel() {
  if (resultShown_) {
    EndWith(result_ == kResultFailed ? kResultFailed : kResultCancelled);
    return;
  }
  if (cancelRequested_.exchange(true)) return;
  SetSoftKey(softKeys_.GetLeftCommand(), LocalizeResourceString(kTextCanceling), false, -1);
  std::shared_ptr<CInetSession> session;
  {
    std::lock_guard<std::mutex> g(lock_);
    session = session_;
  }
  // Cancelled outside the lock: the session reports to this dialog.
  if (session) session->Cancel();
  // The dialog ends when the worker has reported (kMsgWorkerFinished).
}

void DownloadDialog::OnShowStatus() {
  std::u16string text;
  int position;
  {
    std::lock_guard<std::mutex> g(lock_);
    text = pendingText_;
    position = pendingPosition_;
  }
  if (resultShown_) return;
  if (plat::HWND status = GetStatusWindow(); status && !text.empty()) plat::SetWindowTextW(status, text.c_str());
  if (progress_ && position >= 0) plat::SendMessageW(progress_, plat::PBM_SETPOS, position, 0);
  OnStatusShown();
}

void DownloadDialog::OnWorkerFinished() {
  if (resultShown_) return;
  JoinWorker();
  int result;
  std::u16string message;
  {
    std::lock_guard<std::mutex> g(lock_);
    result = cancelRequested_ ? kResultCancelled : result_;
    result_ = result;
    message = resultMessage_;
  }
  resultShown_ = true;
  if (!message.empty() && result != kResultCancelled) {
    if (plat::HWND status = GetStatusWindow()) plat::SetWindowTextW(status, message.c_str());
  }
  if (result == kResultFailed) {
    SetSoftKey(softKeys_.GetLeftCommand(), LocalizeResourceString(kTextDone), true, kCommandDone);
    // Nothing came: the bar goes, and the status line says why.
    if (progress_) {
      plat::SendMessageW(progress_, plat::PBM_SETPOS, 0, 0);
      plat::ShowWindow(progress_, plat::SW_HIDE);
    }
    OnResultShown(result);
    return;
  }
  SetSoftKey(softKeys_.GetLeftCommand(), LocalizeResourceString(kTextCancel), false, -1);
  OnResultShown(result);
  EndWith(result);
}

void DownloadDialog::JoinWorker() {
  if (!worker_) return;
  plat::WaitForSingleObject(worker_, plat::INFINITE);
  plat::CloseHandle(worker_);
  worker_ = nullptr;
}

// ---- The worker -------------------------------------------------------------------------

plat::DWORD DownloadDialog::DownloadThreadProc(void* self) {
  static_cast<DownloadDialog*>(self)->RunDownload();
  return 0;
}

void DownloadDialog::RunDownload() {
  ReportStatus(-1, LocalizeResourceString(kTextConnecting));
  CGlobalOptions& options = GetGlobalOptions();
  bool restricted = options.GetUseFreeConnectionsOnly() != 0 || options.IsRoaming();
  int result = kResultCancelled;
  std::u16string message;
  enum class State { Create, Wait, NoConnection, Download } state = State::Create;
  bool done = false;
  while (!done && !cancelRequested_) {
    switch (state) {
      case State::Create: {
        auto session = std::make_shared<CInetSession>(static_cast<IInetEventListener*>(this), restricted, manager_);
        std::shared_ptr<CInetSession> old;
        {
          std::lock_guard<std::mutex> g(lock_);
          old = std::move(session_);
          session_ = session;
        }
        old.reset();
        // A Cancel that came before the session was stored did not see it.
        if (cancelRequested_) session->Cancel();
        state = State::Wait;
        break;
      }
      case State::Wait: {
        std::shared_ptr<CInetSession> session;
        {
          std::lock_guard<std::mutex> g(lock_);
          session = session_;
        }
        connected_ = session->WaitForConnection();
        state = connected_ ? State::Download : State::NoConnection;
        break;
      }
      case State::NoConnection:
        if (!restricted) {
          result = kResultFailed;
          message = LocalizeResourceString(kTextNoConnection);
          done = true;
        } else if (plat::SendMessageW(notifyWindow_, kMsgAskPaidConnection, 0, 0) == 1) {
          restricted = false;
          state = State::Create;
        } else {
          result = kResultCancelled;
          done = true;
        }
        break;
      case State::Download: {
        std::shared_ptr<CInetSession> session;
        {
          std::lock_guard<std::mutex> g(lock_);
          session = session_;
        }
        std::u16string errorText;
        const int code = Tidy::DownloadDocument(session.get(), address_, output_, u"", &errorText);
        if (code == CInetJob::RESULT_SUCCESS) {
          result = kResultSuccess;
          message = LocalizeResourceString(kTextFinishing);
        } else if (code == CInetJob::RESULT_CANCELLED) {
          result = kResultCancelled;
        } else {
          result = kResultFailed;
          message = ErrorMessage(errorText.empty() ? LocalizeResourceString(kTextUnreadable) : errorText);
        }
        done = true;
        break;
      }
    }
  }
  std::shared_ptr<CInetSession> session;
  {
    std::lock_guard<std::mutex> g(lock_);
    session = std::move(session_);
  }
  session.reset();
  ReportResult(result, message);
}

void DownloadDialog::OnInetEvent(int code, CInetJob* job) {
  switch (code) {
    case IInetEventListener::EVENT_ATTEMPT:
      ReportStatus(0, LocalizeResourceString(kTextSending));
      break;
    case IInetEventListener::EVENT_STATUS_OK:
      ReportStatus(kProgressAfterConnect, LocalizeResourceString(kTextDownloading));
      break;
    case IInetEventListener::EVENT_JOB_ENDED:
      if (job && job->GetResult() == CInetJob::RESULT_SUCCESS) ReportStatus(-1, LocalizeResourceString(kTextParsing));
      break;
    case IInetEventListener::EVENT_PROGRESS:
      if (job) ReportStatus(ProgressPosition(job->GetRawBytes(), job->GetContentLength()), u"");
      break;
    case IInetEventListener::EVENT_CANCELLED:
      // The connection went away under a running download.
      if (connected_ && !cancelRequested_) ReportStatus(-1, LocalizeResourceString(kTextConnectionLost));
      break;
    default: break;
  }
}

void DownloadDialog::ReportStatus(int position, const std::u16string& text) {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!text.empty()) pendingText_ = text;
    if (position >= 0) pendingPosition_ = position;
  }
  plat::SendNotifyMessageW(notifyWindow_, kMsgShowStatus, 0, 0);
}

void DownloadDialog::ReportResult(int code, const std::u16string& message) {
  {
    std::lock_guard<std::mutex> g(lock_);
    result_ = code;
    resultMessage_ = message;
  }
  // Posted, not sent: the dialog may end on it, and a modal loop looks at
  // its end only after a posted message.
  plat::PostMessageW(notifyWindow_, kMsgWorkerFinished, 0, 0);
}
