// Installing the built programs into a device, in one step:
//   - "\Program Files\Orv News" becomes a device mount (seen by every program
//     of the device) onto the folder of the built programs and data files;
//   - its "Content" and "Templates" folders are mounts onto folders of the
//     device itself ("programdata/" in the device folder), so what a device
//     writes stays in that device and never reaches the shared build folder;
//   - "InstallFolder" names the install folder;
//   - the install manifest lists what was installed
//     ("\Windows\AppMgr\Orv Brevant.manifest", platform/files/InstallManifest.h);
//   - the program runs once with "createchannels".
// Installing again replaces the mounts and the manifest and keeps the data.
#pragma once

#include <string>

#include "platform/files/InstallManifest.h"

inline constexpr const char16_t* kInstallFolder = u"\\Program Files\\Orv News";
// The name the install manifest is kept under: the one an uninstall names the product by.
inline constexpr const char16_t* kInstallManifestName = u"Orv Brevant";
// The program's host file in the program folder.
inline constexpr const char* kProgramHostName = "Orv News";

struct InstallReport {
  int channelsBefore = 0;    // channel files in the content folder before "createchannels"
  int createChannelsExit = -1;  // the program's exit status (-1: not run or did not end)
  plat::InstallManifest manifest;
  std::string error;         // why the install failed
};

// Installs programDir (a host folder holding "Orv News") into this process's
// device. runCreateChannels: start the program with "createchannels" and wait
// for it (at most boundMs). False with report->error on failure.
bool InstallIntoDevice(const std::string& programDir, bool runCreateChannels, InstallReport* report,
                       int boundMs = 120000);

// The channel files ("*.cnl") in the content folder.
int CountChannelFiles();
