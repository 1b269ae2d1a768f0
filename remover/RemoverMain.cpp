// "OrvNewsRemover": removes the installed product by handing the uninstall
// provisioning document to the device's configuration manager (the shell's
// ordinal 2021). It has no window and takes no command line.
//
// Exit codes: 0 the product was removed; 1 the configuration manager could
// not be reached; 2 nothing of the product was installed (nothing done); 3
// the removal failed (the manager's error code follows in the log), or the
// main program did not close when asked, or the install manifest cannot be
// read whole, or the Today screen host or the service host did not answer in
// time when asked to unload the product or kept its library loaded (nothing
// removed in these; the log names the host). Every
// run writes what happened, in words, to standard error and to
// "\OrvNewsRemover_log.txt" of the device.
#include "remover/RemoverMain.h"

#include <cstdio>
#include <string>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "hosts/ConfigManager.h"

namespace {

constexpr const char16_t* kUninstallDocument =
    u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
    u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>";
constexpr const char16_t* kLogFile = u"\\OrvNewsRemover_log.txt";
constexpr plat::DWORD kConfigProcess = 1;
constexpr int kExitRemoved = 0;
constexpr int kExitNoManager = 1;
constexpr int kExitNotInstalled = 2;
constexpr int kExitFailed = 3;

using ProcessConfigFn = plat::HRESULT (*)(const char16_t* document, plat::DWORD flags, char16_t** result);

void Log(const std::string& line) {
  plat::SYSTEMTIME now{};
  plat::GetLocalTime(&now);
  char stamp[48];  // room for five-digit fields as well
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  const std::string text = stamp + line + "\n";
  std::fputs(("OrvNewsRemover: " + line + "\n").c_str(), stderr);
  plat::HANDLE f = plat::CreateFileW(kLogFile, plat::GENERIC_WRITE, 0, nullptr, plat::OPEN_ALWAYS, 0, nullptr);
  if (f == plat::INVALID_HANDLE_VALUE) return;
  plat::SetFilePointer(f, 0, nullptr, plat::FILE_END);
  plat::DWORD written = 0;
  plat::WriteFile(f, text.data(), static_cast<plat::DWORD>(text.size()), &written, nullptr);
  plat::CloseHandle(f);
}

std::string Hex(plat::HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace

int RemoverMain() {
  plat::HMODULE shell = plat::LoadLibraryW(u"aygshell.dll");
  auto process = shell ? reinterpret_cast<ProcessConfigFn>(plat::GetProcAddress(shell, reinterpret_cast<const char*>(2021)))
                       : nullptr;
  if (!process) {
    Log("the configuration manager cannot be reached; nothing was removed");
    if (shell) plat::FreeLibrary(shell);
    return kExitNoManager;
  }
  char16_t* answer = nullptr;
  const plat::HRESULT hr = process(kUninstallDocument, kConfigProcess, &answer);
  delete[] answer;
  plat::FreeLibrary(shell);
  if (hr == plat::hosts::kConfigNotInstalled) {
    Log("Orv Brevant is not installed; nothing was removed");
    return kExitNotInstalled;
  }
  if (hr == plat::hosts::kConfigManifestDamaged) {
    Log("the install manifest of Orv Brevant is damaged and cannot be read whole; nothing was removed");
    return kExitFailed;
  }
  if (hr == plat::hosts::kConfigProductRunning) {
    Log("Orv News is still running and did not close; nothing was removed");
    return kExitFailed;
  }
  struct HostFailure {
    plat::HRESULT hr;
    const char* line;
  } const hostFailures[] = {
      {plat::hosts::kConfigTodayHostNoAnswer,
       "the Today screen host did not answer in time when asked to unload Orv News; nothing was removed"},
      {plat::hosts::kConfigServiceHostNoAnswer,
       "the service host did not answer in time when asked to unload Orv News; nothing was removed"},
      {plat::hosts::kConfigTodayHostKeptLibrary,
       "the Today screen host kept the library of Orv News loaded; nothing was removed"},
      {plat::hosts::kConfigServiceHostKeptLibrary,
       "the service host kept the library of Orv News loaded (a thread of the service still runs); nothing was "
       "removed"},
  };
  for (const HostFailure& f : hostFailures) {
    if (hr == f.hr) {
      Log(f.line);
      return kExitFailed;
    }
  }
  if (hr < 0) {
    Log("removal failed with " + Hex(hr) + "; what was left can be removed by running this again");
    return kExitFailed;
  }
  Log("Orv Brevant removed");
  return kExitRemoved;
}
