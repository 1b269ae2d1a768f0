// Loadable modules: shared libraries standing in for the device's DLLs, and
// modules built into the program that register their entry points by name.
#pragma once

#include <string>

#include "platform/base/Types.h"

namespace plat {

struct ModuleRecord;
using HMODULE = ModuleRecord*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

// Loads a module by its device name. A built-in module registered under the
// name (ignoring case) comes first. Otherwise "Name.dll" is looked for as
// libname.so, name.so and name.dll (lower case) in the program's folder, then
// through the host's library path. A folder in the name is ignored; a name
// without an extension gets ".dll". Each load counts; FreeLibrary undoes one.
// Null with ERROR_MOD_NOT_FOUND when nothing loads.
HMODULE LoadLibraryW(const char16_t* name);
BOOL FreeLibrary(HMODULE module);

// A module already loaded, without counting a load. Null: the program itself.
// Null with ERROR_MOD_NOT_FOUND when the module is not loaded.
HMODULE GetModuleHandleW(const char16_t* name);

// Entry point by name; null with ERROR_PROC_NOT_FOUND when missing. A name
// below 0x10000 is an ordinal: a built-in module is asked for "#" + number,
// a shared library has none.
FARPROC GetProcAddress(HMODULE module, const char* name);
FARPROC GetProcAddressW(HMODULE module, const char16_t* name);

// The module's file as a device path: for the program (module null) its
// device path (SetProgramDevicePath; by default "\Program Files\Orv News\"
// + the host program's file name + ".exe"), for a loaded module the program's
// folder + the name it was loaded by. Copies with the null and returns the
// characters without it; when cch is too small, copies cch - 1 characters and
// the null, returns cch and sets ERROR_INSUFFICIENT_BUFFER. 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, char16_t* buf, DWORD cch);
// The program file of a process of the device, as a device path: this
// process's own as GetModuleFileNameW(null) gives it; another process's is its
// host program's name in "\Program Files\Orv News\" with ".exe" (a ".exe"
// the host file has already is not doubled). Empty when the process is gone.
std::u16string GetProcessProgramPath(DWORD processId);
// Names the device path of the running program (each deliverable sets its own).
void SetProgramDevicePath(const char16_t* devicePath);

// Makes a module of this program loadable by name (e.g. u"wininet.dll"):
// resolve maps an entry point's name to its address, or null when it has none.
// Registering a name again replaces the resolver for later loads.
using BuiltInResolver = FARPROC (*)(const char* name);
void RegisterBuiltInModule(const char16_t* name, BuiltInResolver resolve);
void UnregisterBuiltInModule(const char16_t* name);

}  // namespace plat
