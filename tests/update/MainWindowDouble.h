// A stand-in for the program's main window in the update manager's protocol:
// a real window on a thread of its own that registers with the manager under
// the message "MyUpdateManagerChanged", records every status post with the
// state it reads back, and answers the worker's questions as the main window
// does (message boxes go through plat::SetMessageBoxAnswerer).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/RegisteredMessages.h"
#include "database/GlobalOptions.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "update/jobs/UpdateManager.h"

namespace orvtest {

inline constexpr char16_t kPaidQuestionText[] = u"No free connections found. Would you like to try paid connection?";
inline constexpr char16_t kRoamingQuestionText[] =
    u"Your phone is in roaming, and there are no free connections.\n"
    u"Would you like to try paid (expensive) connection instead?";
inline constexpr char16_t kNoConnectionText[] = u"No internet connection available.";

class MainWindowDouble {
 public:
  struct Post {
    plat::WPARAM changed = 0;
    UpdateManagerState state;
  };

  // automatic: the window behaves as in an update started by the update-now
  // message (asks nothing).
  explicit MainWindowDouble(CUpdateManager* manager, bool automatic = false)
      : manager_(manager), automatic_(automatic) {
    message_ = plat::RegisterWindowMessageW(kMsgNameUpdateManagerChanged);
    thread_ = std::thread([this] { ThreadMain(); });
    std::unique_lock<std::mutex> g(lock_);
    ready_.wait(g, [this] { return window_ != nullptr || failed_; });
  }
  ~MainWindowDouble() {
    if (window_) plat::PostMessageW(window_, plat::WM_CLOSE, 0, 0);
    thread_.join();
  }
  MainWindowDouble(const MainWindowDouble&) = delete;
  MainWindowDouble& operator=(const MainWindowDouble&) = delete;

  plat::HWND Window() const { return window_; }
  plat::UINT Message() const { return message_; }

  std::vector<Post> Posts() {
    std::lock_guard<std::mutex> g(lock_);
    return posts_;
  }
  // Returns true once every message posted to the window before the call has
  // been handled (a marker posted behind them came through).
  bool Drain() {
    std::unique_lock<std::mutex> g(lock_);
    const int marker = ++drainsPosted_;
    g.unlock();
    if (!plat::PostMessageW(window_, kDrainMessage, 0, 0)) return false;
    g.lock();
    return drained_.wait_for(g, std::chrono::seconds(20), [&] { return drainsHandled_ >= marker; });
  }
  // wParam values of the questions sent (lParam 1), in order.
  std::vector<plat::WPARAM> Questions() {
    std::lock_guard<std::mutex> g(lock_);
    return questions_;
  }

 private:
  static constexpr plat::UINT kDrainMessage = plat::WM_USER + 0x7A1;

  static MainWindowDouble*& Current() {
    static MainWindowDouble* current = nullptr;
    return current;
  }

  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
    MainWindowDouble* self = Current();
    if (self && msg == self->message_ && self->message_ != 0) return self->OnUpdateManagerChanged(wParam, lParam);
    if (self && msg == kDrainMessage) {
      std::lock_guard<std::mutex> g(self->lock_);
      ++self->drainsHandled_;
      self->drained_.notify_all();
      return 0;
    }
    if (msg == plat::WM_CLOSE) {
      plat::DestroyWindow(hwnd);
      return 0;
    }
    if (msg == plat::WM_DESTROY) {
      if (self) self->manager_->RemoveEventListener(hwnd);
      plat::PostQuitMessage(0);
      return 0;
    }
    return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  plat::LRESULT OnUpdateManagerChanged(plat::WPARAM wParam, plat::LPARAM lParam) {
    if (lParam == 0) {
      Post post;
      post.changed = wParam;
      manager_->GetState(&post.state);
      std::lock_guard<std::mutex> g(lock_);
      posts_.push_back(post);
      return 0;
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      questions_.push_back(wParam);
    }
    if (lParam != 1) return 0;
    CGlobalOptions& options = GetGlobalOptions();
    if (wParam == CUpdateManager::kAskPaidConnection) {
      if (automatic_) return options.GetUseFreeConnectionsOnly() ? 0 : 1;
      const char16_t* text = options.IsRoaming() ? kRoamingQuestionText : kPaidQuestionText;
      int answer = plat::MessageBoxW(window_, text, u"Orv News", plat::MB_YESNO | plat::MB_ICONQUESTION);
      return answer == plat::IDYES ? 1 : 0;
    }
    if (wParam == CUpdateManager::kAskNoConnection) {
      if (!automatic_) plat::MessageBoxW(window_, kNoConnectionText, u"Orv News", plat::MB_OK | plat::MB_ICONERROR);
      return 1;
    }
    return 0;
  }

  void ThreadMain() {
    static constexpr char16_t kClass[] = u"OrvTestMainWindowDouble";
    plat::WNDCLASSW wc{};
    if (!plat::GetClassInfoW(nullptr, kClass, &wc)) {
      wc.lpfnWndProc = &MainWindowDouble::Proc;
      wc.lpszClassName = kClass;
      plat::RegisterClassW(&wc);
    }
    Current() = this;
    plat::HWND window = plat::CreateWindowExW(0, kClass, u"Orv News", plat::WS_POPUP, 0, 0, 10, 10, nullptr,
                                              nullptr, nullptr, nullptr);
    if (window) manager_->AddEventListener(window, message_);
    {
      std::lock_guard<std::mutex> g(lock_);
      window_ = window;
      failed_ = window == nullptr;
    }
    ready_.notify_all();
    if (!window) return;
    plat::MSG msg;
    while (plat::GetMessageW(&msg, nullptr, 0, 0) > 0) plat::DispatchMessageW(&msg);
    Current() = nullptr;
  }

  CUpdateManager* manager_;
  bool automatic_;
  plat::UINT message_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::condition_variable drained_;
  int drainsPosted_ = 0;
  int drainsHandled_ = 0;
  plat::HWND window_ = nullptr;
  bool failed_ = false;
  std::vector<Post> posts_;
  std::vector<plat::WPARAM> questions_;
};

}  // namespace orvtest
