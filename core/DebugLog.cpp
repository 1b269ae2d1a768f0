#include "core/DebugLog.h"

#include <mutex>
#include <string>

#include "core/FileUtils.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"

using namespace plat;

namespace {

std::mutex g_instanceMutex;

bool StartsWith(const std::u16string& text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

}  // namespace

CDebugLog::CDebugLog() { Start(); }

void CDebugLog::Start() {
  indent_.store(0);
  enabled_.store(0);
  lastReadTick_.store(0);
  everRead_.store(false);
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    path_ = CombinePath(GetModuleFolder(), GetLogFileName());
    // Every run starts a new log.
    DeleteFileIfExists(path_);
  }
  generation_.store(DeviceGeneration(), std::memory_order_release);
}

CDebugLog& CDebugLog::GetInstance() {
  // Never destroyed: threads may still log while the process ends.
  static std::atomic<CDebugLog*> instance{nullptr};
  CDebugLog* log = instance.load(std::memory_order_acquire);
  if (log && log->generation_.load(std::memory_order_acquire) == DeviceGeneration()) return *log;
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  log = instance.load(std::memory_order_relaxed);
  if (!log) {
    log = new CDebugLog();
    instance.store(log, std::memory_order_release);
  } else if (log->generation_.load(std::memory_order_relaxed) != DeviceGeneration()) {
    log->Start();
  }
  return *log;
}

bool CDebugLog::IsEnabled() {
  DWORD now = GetTickCount();
  if (everRead_.load(std::memory_order_acquire) &&
      now - lastReadTick_.load(std::memory_order_relaxed) <= kRecheckIntervalMs) {
    return enabled_.load(std::memory_order_relaxed) != 0;
  }
  lastReadTick_.store(now, std::memory_order_relaxed);
  everRead_.store(true, std::memory_order_release);
  DWORD value = OpenSettingsKey().GetDWORD(u"DeveloperMode", 0);
  enabled_.store(value, std::memory_order_relaxed);
  return value != 0;
}

void CDebugLog::WriteLine(const char16_t* text) {
  if (!IsEnabled()) return;
  Write(std::u16string(text ? text : u""));
}

void CDebugLog::WriteLine(const std::u16string& text) {
  if (!IsEnabled()) return;
  Write(text);
}

void CDebugLog::Write(const std::u16string& text) {
  int indent;
  // The level is shared by every thread; each update is one atomic step.
  if (StartsWith(text, u"<<")) {
    indent = indent_.load();
    while (indent > 0 && !indent_.compare_exchange_weak(indent, indent - 1)) {
    }
    if (indent > 0) --indent;
  } else if (StartsWith(text, u">>")) {
    indent = indent_.fetch_add(1);
  } else {
    indent = indent_.load();
  }
  std::string line;
  line.reserve(static_cast<std::size_t>(indent) * 2 + text.size() + 1);
  for (int i = 0; i < indent; ++i) line += "  ";
  line += Utf16ToUtf8(text);
  line += '\n';

  std::lock_guard<std::mutex> lock(writeMutex_);
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // the line is lost
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  if (SetFilePointer(file, 0, &high, FILE_END) != INVALID_SET_FILE_POINTER || GetLastError() == ERROR_SUCCESS) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    FlushFileBuffers(file);
  }
  CloseHandle(file);
}

void CDebugLog::Printf(const char16_t* format, ...) {
  if (!IsEnabled() || !format) return;
  va_list args;
  va_start(args, format);
  std::u16string text = FormatStringV(format, args);
  va_end(args);
  Write(text);
}

void CDebugLog::PrintfV(const char16_t* format, va_list args) {
  if (!IsEnabled() || !format) return;
  Write(FormatStringV(format, args));
}

// ---- Profiler hooks -------------------------------------------------------------

const ProfilerHooks& GetProfilerHooks() {
  static const ProfilerHooks hooks = [] {
    ProfilerHooks h;
    h.module = LoadLibraryW(u"orvprofiler.dll");
    if (h.module) {
      h.BeginDuration = reinterpret_cast<ProfilerHooks::DurationProc>(GetProcAddress(h.module, "BeginDuration"));
      h.EndDuration = reinterpret_cast<ProfilerHooks::DurationProc>(GetProcAddress(h.module, "EndDuration"));
      h.Flush = reinterpret_cast<ProfilerHooks::FlushProc>(GetProcAddress(h.module, "Flush"));
    }
    return h;
  }();
  return hooks;
}

void ProfileBegin(const char16_t* name) {
  const ProfilerHooks& hooks = GetProfilerHooks();
  if (hooks.BeginDuration) hooks.BeginDuration(name);
}

void ProfileEnd(const char16_t* name) {
  const ProfilerHooks& hooks = GetProfilerHooks();
  if (hooks.EndDuration) hooks.EndDuration(name);
}

void ProfileFlush() {
  const ProfilerHooks& hooks = GetProfilerHooks();
  if (hooks.Flush) hooks.Flush();
}

CProfileScope::CProfileScope(const char16_t* name) : name_(name), bound_(GetProfilerHooks().EndDuration != nullptr) {
  ProfileBegin(name_);
}

CProfileScope::~CProfileScope() {
  if (bound_) GetProfilerHooks().EndDuration(name_);
}
