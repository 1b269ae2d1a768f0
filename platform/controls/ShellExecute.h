// Opening things from a program of the device: ShellExecuteEx "open" and
// CreateProcessW, under one policy:
//
//   - the device's own programs (a "*.exe" directly in the install folder) start
//     as processes of the same device, with the parameters as their command
//     line (one argument) and the show command in $ORVNEWS_SHOWCMD;
//   - http, https and mailto addresses go to the desktop's opener;
//   - a picture (jpg, jpeg, png, gif, bmp) inside the content folder goes to the
//     opener by its host path;
//   - the help viewer "PegHelp.exe" with "file:Name.htm#topic" opens the help
//     file of the install folder at its anchor through the opener;
//   - anything else is refused, and the reason logged.
//
// The install folder is the product's "InstallFolder" setting (HKEY_CURRENT_USER
// "SOFTWARE\Orv Software House\Orv News"), else "\Program Files\Orv News"; the
// content folder its "ContentFolder" setting, else the install folder's
// "Content". The desktop's opener is $ORVNEWS_OPENER, else "xdg-open".
#pragma once

#include <functional>
#include <string>

#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"

namespace plat {

constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr DWORD SEE_MASK_FLAG_NO_UI = 0x00000400;
// hInstApp on failure: the file is missing / nothing may open it.
constexpr std::uintptr_t SE_ERR_FNF = 2;
constexpr std::uintptr_t SE_ERR_NOASSOC = 31;
constexpr DWORD ERROR_NO_ASSOCIATION = 1155;

struct SHELLEXECUTEINFO {
  DWORD cbSize;  // sizeof(SHELLEXECUTEINFO)
  DWORD fMask;
  HWND hwnd;
  const WCHAR* lpVerb;  // null, "" or "open"
  const WCHAR* lpFile;
  const WCHAR* lpParameters;
  const WCHAR* lpDirectory;
  int nShow;
  HINSTANCE hInstApp;  // out: above 32 on success, else SE_ERR_*
  HANDLE hProcess;     // out: always null (processes are not waited for)
};

// FALSE with the last error: ERROR_INVALID_PARAMETER for a bad structure,
// ERROR_FILE_NOT_FOUND for a program or picture that is not there,
// ERROR_NO_ASSOCIATION for what may not be opened, or the error of starting.
BOOL ShellExecuteEx(SHELLEXECUTEINFO* info);

struct PROCESS_INFORMATION {
  HANDLE hProcess;  // null: processes are not waited for
  HANDLE hThread;
  DWORD dwProcessId;  // the host process id
  DWORD dwThreadId;
};

// Starts one of the device's own programs (application by its device path, or
// the first word of the command line, the rest being its command line) or the
// help viewer. Everything else fails with ERROR_NO_ASSOCIATION.
BOOL CreateProcessW(const WCHAR* application, const WCHAR* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags, void* environment,
                    const WCHAR* currentDirectory, void* startupInfo, PROCESS_INFORMATION* info);

// Whether ShellExecuteEx would start path as one of the device's own programs
// (a "*.exe" directly in the install folder that is there).
BOOL IsStartableProgram(const WCHAR* path);

// Tests hand targets to a recorder instead of the desktop (empty: the real
// opener again); the recorder's false is a failed start.
using DesktopOpener = std::function<bool(const std::string& target)>;
void SetDesktopOpenerForTesting(DesktopOpener opener);
// Where refusals and failures are logged (empty: standard error).
void SetShellLogForTesting(std::function<void(const std::string& line)> log);

}  // namespace plat
