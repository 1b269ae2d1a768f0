// The record of an installed product on the device, as the device's
// application manager keeps it: what the install put there, so that the
// configuration manager can take it away again.
//
// Place: "\Windows\AppMgr\<name>.manifest", where <name> is the name an
// uninstall provisioning document names the product by ("Orv Brevant").
// Format: UTF-8 text, one entry a line, fields separated by one TAB; the first
// line is "OrvInstallManifest<TAB>2", the last "end<TAB><n>" with n the number
// of entry lines between them, each line ended by LF (CR LF is read too);
// unknown kinds are skipped. A manifest is read whole or not at all: another
// header, a missing or wrong last line, or anything after it is a damaged
// manifest (cut short, overwritten), never a shorter list. A manifest of
// version 1 (header "OrvInstallManifest<TAB>1", no last line) is read as it
// stands.
//
//   product   <TAB> Orv News                          the product installed
//   mount     <TAB> \Program Files\Orv News           a device mount made (AddDeviceMount)
//   folder    <TAB> \Program Files\Orv News\Content   a device folder made
//   file      <TAB> \Program Files\Orv News\Orv News.exe   an installed file
//   regvalue  <TAB> HKCU <TAB> SOFTWARE\...\Orv News <TAB> InstallFolder
//   regkey    <TAB> HKCU <TAB> SOFTWARE\...\Orv News    a key made by the install
//
// Removing a product: the registry values, then the keys; the files that do
// not lie below a listed mount (files below one belong to the folder the
// mount shows, which the device does not own); the mounts (RemoveDeviceMount);
// the folders when they are empty; last the manifest itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

inline constexpr const char16_t* kAppMgrFolder = u"\\Windows\\AppMgr";

struct InstallManifest {
  struct RegistryEntry {
    std::u16string root;   // "HKCU" or "HKLM"
    std::u16string key;    // path below the root
    std::u16string value;  // empty for a whole key
  };
  std::u16string product;
  std::vector<std::u16string> mounts;
  std::vector<std::u16string> folders;
  std::vector<std::u16string> files;
  std::vector<RegistryEntry> registry;  // values and keys, in the order written
};

// "\Windows\AppMgr\" + name + ".manifest".
std::u16string InstallManifestPath(std::u16string_view name);

// The manifest as text, and back; nothing for text that is not a whole
// manifest.
std::string FormatInstallManifest(const InstallManifest& manifest);
std::optional<InstallManifest> ParseInstallManifest(std::string_view text);

// Writes (replacing safely) or reads the manifest of the name on the device.
bool WriteInstallManifest(std::u16string_view name, const InstallManifest& manifest);
std::optional<InstallManifest> ReadInstallManifest(std::u16string_view name);
// Whether a file stands at the manifest's place, whole or not.
bool InstallManifestPresent(std::u16string_view name);

}  // namespace plat
