// "OrvNewsRemover": removes the installed product by handing the uninstall
// provisioning document to the device's configuration manager (the shell's
// ordinal 2021). It has no window and takes no command line.
//
// The exit code is 0 when the product was removed, else the configuration
// manager's error (or 1 when it could not be reached); every run writes what
// happened to standard error and to "\OrvNewsRemover_log.txt" of the device.
#include <cstdio>
#include <string>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"

namespace {

constexpr const char16_t* kUninstallDocument =
    u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
    u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>";
constexpr const char16_t* kLogFile = u"\\OrvNewsRemover_log.txt";
constexpr plat::DWORD kConfigProcess = 1;

using ProcessConfigFn = plat::HRESULT (*)(const char16_t* document, plat::DWORD flags, char16_t** result);

void Log(const std::string& line) {
  plat::SYSTEMTIME now{};
  plat::GetLocalTime(&now);
  char stamp[32];
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
    return 1;
  }
  char16_t* answer = nullptr;
  const plat::HRESULT hr = process(kUninstallDocument, kConfigProcess, &answer);
  const std::string answerText = answer ? plat::Utf16ToUtf8(answer) : std::string();
  delete[] answer;
  plat::FreeLibrary(shell);
  if (hr < 0) {
    Log("removal failed with " + Hex(hr) + ": " + answerText);
    return static_cast<int>(hr & 0xFF) ? static_cast<int>(hr & 0xFF) : 1;
  }
  Log("Orv Brevant removed: " + answerText);
  return 0;
}

int main() { return RemoverMain(); }
