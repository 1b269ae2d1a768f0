// The install manifest: the list of files the install step put on the device,
// read by the configuration manager when the product is removed.
//
// "\Windows\Orv Brevant.manifest", UTF-8 text, one device path a line; empty
// lines and lines starting with "#" are ignored; a path ending in "\" names a
// folder, removed after the files when it is empty.
#pragma once

#include <string>
#include <vector>

namespace plat::hosts {

inline constexpr const char16_t* kInstallManifestPath = u"\\Windows\\Orv Brevant.manifest";

struct InstallManifest {
  std::vector<std::u16string> files;
  std::vector<std::u16string> folders;  // without the trailing "\"
};

// False when the manifest is missing or unreadable.
bool ReadInstallManifest(const std::u16string& devicePath, InstallManifest* out);
// Parses the manifest's text.
InstallManifest ParseInstallManifest(const std::string& utf8);

}  // namespace plat::hosts
