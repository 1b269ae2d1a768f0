#include "core/FolderSizeScanner.h"

#include <vector>

#include "core/FileUtils.h"
#include "platform/base/Thread.h"
#include "platform/files/Files.h"

using namespace plat;

// What the worker uses; shared with the worker so a worker that outlives
// Stop's wait never touches freed memory.
struct CFolderSizeScanner::State {
  HANDLE doneEvent = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> total{0};
  std::vector<std::u16string> folders;  // written before the worker is resumed
  std::function<void(const std::u16string&)> observer;

  ~State() {
    if (doneEvent) CloseHandle(doneEvent);
  }
};

CFolderSizeScanner::CFolderSizeScanner(DWORD stopWaitMs)
    : state_(std::make_shared<State>()), stopWaitMs_(stopWaitMs) {
  state_->doneEvent = CreateLocalEvent(true, false);
  if (!state_->doneEvent) return;
  auto* param = new std::shared_ptr<State>(state_);
  thread_ = CreateThread(nullptr, 0, &CFolderSizeScanner::ThreadProc, param, CREATE_SUSPENDED, nullptr);
  if (!thread_) delete param;
}

CFolderSizeScanner::~CFolderSizeScanner() { Stop(); }

bool CFolderSizeScanner::Start(const std::u16string& folder) {
  return Start(std::vector<std::u16string>{folder});
}

bool CFolderSizeScanner::Start(const std::vector<std::u16string>& paths) {
  if (!state_->folders.empty() || paths.empty()) return false;
  state_->folders = paths;
  return Resume();
}

bool CFolderSizeScanner::Resume() {
  if (state_->folders.empty() || !thread_ || started_) return false;
  started_ = true;
  ResumeThread(thread_);
  return true;
}

std::uint64_t CFolderSizeScanner::GetTotalSize() const { return state_->total.load(std::memory_order_relaxed); }

bool CFolderSizeScanner::IsDone() const { return state_->done.load(std::memory_order_acquire); }

bool CFolderSizeScanner::IsStopRequested() const { return state_->stop.load(std::memory_order_relaxed); }

void CFolderSizeScanner::SetEntryObserver(std::function<void(const std::u16string& path)> observer) {
  if (!started_) state_->observer = std::move(observer);
}

void CFolderSizeScanner::Stop() {
  state_->stop.store(true, std::memory_order_relaxed);
  if (thread_) {
    if (!started_) {
      // A suspended worker is let run so it can see the stop flag and end at once.
      started_ = true;
      ResumeThread(thread_);
    }
    WaitForSingleObject(state_->doneEvent, stopWaitMs_);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  // A worker still walking keeps reading the list; it is left to it.
  if (!started_ || IsDone()) state_->folders.clear();
}

DWORD CFolderSizeScanner::ThreadProc(void* param) {
  std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(param));
  Run(**state);
  return 0;
}

void CFolderSizeScanner::Run(State& state) {
  for (const auto& folder : state.folders) {
    if (state.stop.load(std::memory_order_relaxed)) break;
    Walk(state, folder);
  }
  state.done.store(true, std::memory_order_release);
  SetEvent(state.doneEvent);
}

void CFolderSizeScanner::Walk(State& state, const std::u16string& path) {
  std::u16string pattern = DirectoryExists(path) ? CombinePath(path, u"*.*") : path;
  if (pattern.size() >= MAX_PATH) return;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  std::u16string folder = DirectoryExists(path) ? path : std::u16string();
  if (folder.empty()) {
    std::size_t slash = FindLastChar(path, u'\\');
    if (slash != std::u16string::npos) folder = path.substr(0, slash == 0 ? 1 : slash);
  }
  do {
    data.cFileName[MAX_PATH - 1] = 0;
    const char16_t* name = data.cFileName;
    bool dot = name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
    if (dot) continue;
    std::u16string entry = CombinePath(folder, name);
    if (state.observer) state.observer(entry);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(state, entry);
    } else {
      std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      state.total.fetch_add(size, std::memory_order_relaxed);
    }
  } while (!state.stop.load(std::memory_order_relaxed) && FindNextFileW(find, &data));
  FindClose(find);
}
