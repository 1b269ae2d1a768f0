#include "tools/device/DeviceInstall.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "core/FileUtils.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"
#include "platform/base/Spawn.h"
#include "platform/base/Text.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/Files.h"

namespace fs = std::filesystem;

namespace {

// The install folder's own folders, kept by each device.
constexpr const char16_t* kDeviceOwnFolders[] = {u"Content", u"Templates"};

bool Fail(InstallReport* report, const std::string& why) {
  report->error = why;
  return false;
}

// Runs the installed program with one argument on this device and waits for
// it; its exit status, or -1 when it did not end within the bound (it is
// then killed) or could not start.
int RunProgram(const std::string& program, const std::string& argument, int boundMs) {
  plat::SpawnOptions options;
  options.environment = {"ORVNEWS_DEVICE=" + plat::DeviceRoot()};
  int pid = 0;
  if (plat::SpawnProcess({program, argument}, options, &pid) != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int CountChannelFiles() {
  const std::u16string pattern = CombinePath(GetContentFolder(), u"*.cnl");
  plat::WIN32_FIND_DATAW data;
  plat::HANDLE find = plat::FindFirstFileW(pattern.c_str(), &data);
  if (find == plat::INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (!(data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (plat::FindNextFileW(find, &data));
  plat::FindClose(find);
  return count;
}

bool InstallIntoDevice(const std::string& programDir, bool runCreateChannels, InstallReport* report, int boundMs) {
  *report = InstallReport{};
  std::error_code ec;
  const fs::path programs = fs::canonical(programDir, ec);
  if (ec || !fs::is_regular_file(programs / kProgramHostName))
    return Fail(report, "no program \"" + std::string(kProgramHostName) + "\" in " + programDir);

  plat::InstallManifest& m = report->manifest;
  m.product = GetProductName();
  if (!plat::AddDeviceMount(kInstallFolder, programs.string(), false))
    return Fail(report, "cannot mount the install folder onto " + programs.string());
  m.mounts.push_back(kInstallFolder);
  for (const char16_t* name : kDeviceOwnFolders) {
    const fs::path own = fs::path(plat::DeviceRoot()) / "programdata" / plat::Utf16ToUtf8(name);
    fs::create_directories(own, ec);
    const std::u16string devicePath = std::u16string(kInstallFolder) + u"\\" + name;
    if (ec || !plat::AddDeviceMount(devicePath, own.string(), false))
      return Fail(report, "cannot make the device's own folder " + own.string());
    m.mounts.push_back(devicePath);
  }

  // Every file of the program folder but the device's own folders.
  for (auto it = fs::recursive_directory_iterator(programs, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path rel = fs::relative(it->path(), programs, ec);
    bool own = false;
    for (const char16_t* name : kDeviceOwnFolders)
      if (plat::EqualsNoCase(plat::Utf8ToUtf16(rel.begin()->string()), name)) own = true;
    if (own) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    std::u16string devicePath = kInstallFolder;
    for (const fs::path& part : rel) devicePath += u"\\" + plat::Utf8ToUtf16(part.string());
    m.files.push_back(devicePath);
  }

  CVORegistry key = OpenSettingsKey();
  if (!key.IsOpen() || !key.SetString(u"InstallFolder", kInstallFolder))
    return Fail(report, "cannot write \"InstallFolder\"");
  m.registry.push_back({u"HKCU", GetProductRegistryKey(), u"InstallFolder"});
  m.registry.push_back({u"HKCU", GetProductRegistryKey(), u""});
  if (!plat::WriteInstallManifest(kInstallManifestName, m)) return Fail(report, "cannot write the install manifest");

  report->channelsBefore = CountChannelFiles();
  if (runCreateChannels) {
    report->createChannelsExit = RunProgram((programs / kProgramHostName).string(), "createchannels", boundMs);
    if (report->createChannelsExit != 0) return Fail(report, "\"createchannels\" did not end well");
  }
  return true;
}
