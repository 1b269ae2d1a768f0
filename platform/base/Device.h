// The simulated handheld: one host folder holds the whole device.
//
//   <root>/registry.db   the registry
//   <root>/fs/           the device file system root, device path "\"
//   <root>/run/          run-time files (sockets, window table)
//
// The root is chosen once per process: SetDeviceRoot (programs given a device
// on their command line, and every test), else $ORVNEWS_DEVICE, else
// ~/.local/share/orvnews/device.
#pragma once

#include <string>

namespace plat {

// Makes hostPath the device of this process. Creates the folder and its
// fs/ and run/ sub-folders when missing.
void SetDeviceRoot(const std::string& hostPath);

// The device folder (absolute host path, no trailing slash), created on first use.
const std::string& DeviceRoot();

// Host paths of the device's parts.
std::string DeviceFsRoot();   // DeviceRoot() + "/fs"
std::string DeviceRunDir();   // DeviceRoot() + "/run"

// A short token (16 hex digits) derived from the device folder's real path, for
// names of host-wide objects (shared memory), so objects of two devices never meet.
const std::string& DeviceToken();

// Raised by every SetDeviceRoot: layers that cache device state (open registry,
// mounts, named objects) compare it and start afresh when it changed.
unsigned DeviceGeneration();

}  // namespace plat
