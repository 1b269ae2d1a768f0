// The device's own mounts: kept in the device folder (file "mounts", one line
// "<device folder>\t<host folder>\t<0|1 storage card>" each) and set up in
// every process of the device when it first uses the device's files, so every
// program finds "\Program Files\Orv News" as it was installed. Mounts made by
// MountFolder alone stay in the process that made them.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Records the mount (replacing one at the same device folder, names compared
// ignoring case) and mounts it in this process. Processes that run already
// keep the mounts they started with.
bool AddDeviceMount(std::u16string_view devicePath, const std::string& hostFolder, bool storageCard);
// Forgets the mount in the record and in this process.
bool RemoveDeviceMount(std::u16string_view devicePath);
// The host file of the record (DeviceRoot() + "/mounts").
std::string DeviceMountsFile();

}  // namespace plat
