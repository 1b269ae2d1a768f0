// Loadable modules over dlopen, and built-in modules of the program.
#include "platform/base/Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Text.h"

namespace plat {

struct ModuleRecord {
  std::u16string key;       // normalized device name ("wininet.dll"); empty for the program
  std::u16string name;      // as first loaded
  void* dl = nullptr;       // dlopen handle, null for built-in modules
  BuiltInResolver resolve = nullptr;
  int loads = 0;
};

namespace {

// Never destroyed: modules stay usable by code that runs at process exit.
struct ModuleState {
  std::mutex mutex;
  std::vector<std::unique_ptr<ModuleRecord>> loaded;
  std::vector<std::pair<std::u16string, BuiltInResolver>> builtIn;
  std::u16string programPath;
};

ModuleState& State() {
  static ModuleState* state = new ModuleState;
  return *state;
}

ModuleRecord& Program() {
  static ModuleRecord* self = [] {
    auto* r = new ModuleRecord;
    r->dl = dlopen(nullptr, RTLD_NOW);
    r->loads = 1;
    return r;
  }();
  return *self;
}

std::string HostProgramPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string HostProgramFolder() {
  std::string p = HostProgramPath();
  std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

// The last path component, lower case, with ".dll" added when it has no extension.
std::u16string NormalizeName(std::u16string_view name) {
  std::size_t cut = name.find_last_of(u"\\/");
  std::u16string base = ToLower(cut == std::u16string_view::npos ? name : name.substr(cut + 1));
  if (base.find(u'.') == std::u16string::npos) base += u".dll";
  return base;
}

// A host program's device path: its file name in the install folder, ".exe" added.
std::u16string DevicePathOfHostProgram(const std::string& host) {
  std::size_t slash = host.rfind('/');
  std::string file = slash == std::string::npos ? host : host.substr(slash + 1);
  if (file.size() > 4 && file.compare(file.size() - 4, 4, ".exe") == 0) file.resize(file.size() - 4);
  return u"\\Program Files\\Orv News\\" + Utf8ToUtf16(file) + u".exe";
}

std::u16string ProgramPathLocked() {
  if (!State().programPath.empty()) return State().programPath;
  return DevicePathOfHostProgram(HostProgramPath());
}

void* OpenShared(const std::u16string& key) {
  std::string base = Utf16ToUtf8(key);
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) base.resize(base.size() - 4);
  if (base.empty() || base.find('/') != std::string::npos) return nullptr;
  const std::string names[] = {"lib" + base + ".so", base + ".so", Utf16ToUtf8(key)};
  const std::string folder = HostProgramFolder();
  for (const std::string& n : names) {
    std::string path = folder + "/" + n;
    if (access(path.c_str(), F_OK) == 0) {
      if (void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
  }
  for (const std::string& n : names) {
    if (void* h = dlopen(n.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return nullptr;
}

ModuleRecord* FindLoadedLocked(const std::u16string& key) {
  for (auto& r : State().loaded)
    if (r->key == key) return r.get();
  return nullptr;
}

bool IsOrdinal(const void* name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

}  // namespace

HMODULE LoadLibraryW(const char16_t* name) {
  if (!name || !*name) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::u16string key = NormalizeName(name);
  std::lock_guard<std::mutex> lock(State().mutex);
  if (ModuleRecord* r = FindLoadedLocked(key)) {
    ++r->loads;
    return r;
  }
  auto record = std::make_unique<ModuleRecord>();
  record->key = key;
  record->name = name;
  record->loads = 1;
  for (auto& b : State().builtIn) {
    if (b.first == key) record->resolve = b.second;
  }
  if (!record->resolve) {
    record->dl = OpenShared(key);
    if (!record->dl) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  State().loaded.push_back(std::move(record));
  return State().loaded.back().get();
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (module == &Program()) return TRUE;
  std::lock_guard<std::mutex> lock(State().mutex);
  for (auto it = State().loaded.begin(); it != State().loaded.end(); ++it) {
    if (it->get() != module) continue;
    if (--module->loads == 0) {
      if (module->dl) dlclose(module->dl);
      State().loaded.erase(it);
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HMODULE GetModuleHandleW(const char16_t* name) {
  if (!name) return &Program();
  std::u16string key = NormalizeName(name);
  std::lock_guard<std::mutex> lock(State().mutex);
  if (ModuleRecord* r = FindLoadedLocked(key)) return r;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) {
    SetLastError(module ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::string ordinalName;
  if (IsOrdinal(name)) {
    ordinalName = "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name));
    name = ordinalName.c_str();
  }
  FARPROC proc = nullptr;
  if (module->resolve) {
    proc = module->resolve(name);
  } else if (module->dl && ordinalName.empty()) {
    void* sym = dlsym(module->dl, name);
    static_assert(sizeof(void*) == sizeof(FARPROC));
    if (sym) std::memcpy(&proc, &sym, sizeof proc);
  }
  if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
  return proc;
}

FARPROC GetProcAddressW(HMODULE module, const char16_t* name) {
  if (name && IsOrdinal(name)) return GetProcAddress(module, reinterpret_cast<const char*>(name));
  if (!name) return GetProcAddress(module, nullptr);
  std::string narrow = Utf16ToUtf8(name);
  return GetProcAddress(module, narrow.c_str());
}

DWORD GetModuleFileNameW(HMODULE module, char16_t* buf, DWORD cch) {
  std::u16string path;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    path = ProgramPathLocked();
    if (module && module != &Program()) {
      ModuleRecord* found = nullptr;
      for (auto& r : State().loaded)
        if (r.get() == module) found = r.get();
      if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
      }
      path = path.substr(0, path.rfind(u'\\') + 1) + NormalizeName(found->name);
    }
  }
  if (!buf || cch == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= cch) {
    std::memcpy(buf, path.data(), (cch - 1) * sizeof(char16_t));
    buf[cch - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return cch;
  }
  std::memcpy(buf, path.data(), path.size() * sizeof(char16_t));
  buf[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}

std::u16string GetProcessProgramPath(DWORD processId) {
  if (processId == static_cast<DWORD>(getpid())) {
    std::lock_guard<std::mutex> lock(State().mutex);
    return ProgramPathLocked();
  }
  char buf[4096];
  const std::string link = "/proc/" + std::to_string(processId) + "/exe";
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::u16string();
  std::string host(buf, static_cast<std::size_t>(n));
  const std::string deleted = " (deleted)";
  if (host.size() > deleted.size() && host.compare(host.size() - deleted.size(), deleted.size(), deleted) == 0)
    host.resize(host.size() - deleted.size());
  return DevicePathOfHostProgram(host);
}

void SetProgramDevicePath(const char16_t* devicePath) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().programPath = devicePath ? devicePath : u"";
}

void RegisterBuiltInModule(const char16_t* name, BuiltInResolver resolve) {
  if (!name || !resolve) return;
  std::u16string key = NormalizeName(name);
  std::lock_guard<std::mutex> lock(State().mutex);
  for (auto& b : State().builtIn) {
    if (b.first == key) {
      b.second = resolve;
      return;
    }
  }
  State().builtIn.emplace_back(key, resolve);
}

void UnregisterBuiltInModule(const char16_t* name) {
  if (!name) return;
  std::u16string key = NormalizeName(name);
  std::lock_guard<std::mutex> lock(State().mutex);
  for (auto it = State().builtIn.begin(); it != State().builtIn.end(); ++it) {
    if (it->first == key) {
      State().builtIn.erase(it);
      return;
    }
  }
}

}  // namespace plat
