// The install manifest: text form and its place on the device.
#include "platform/files/InstallManifest.h"

#include <fstream>
#include <sstream>

#include "platform/base/Text.h"
#include "platform/files/Files.h"

namespace plat {

namespace {

constexpr const char* kHeader = "OrvInstallManifest\t1";

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (true) {
    std::size_t tab = line.find('\t', at);
    out.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) return out;
    at = tab + 1;
  }
}

}  // namespace

std::u16string InstallManifestPath(std::u16string_view name) {
  return std::u16string(kAppMgrFolder) + u"\\" + std::u16string(name) + u".manifest";
}

std::string FormatInstallManifest(const InstallManifest& m) {
  std::string out = std::string(kHeader) + "\n";
  out += "product\t" + Utf16ToUtf8(m.product) + "\n";
  for (const auto& p : m.mounts) out += "mount\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& p : m.folders) out += "folder\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& p : m.files) out += "file\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& r : m.registry) {
    if (r.value.empty()) out += "regkey\t" + Utf16ToUtf8(r.root) + "\t" + Utf16ToUtf8(r.key) + "\n";
    else
      out += "regvalue\t" + Utf16ToUtf8(r.root) + "\t" + Utf16ToUtf8(r.key) + "\t" + Utf16ToUtf8(r.value) + "\n";
  }
  return out;
}

std::optional<InstallManifest> ParseInstallManifest(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line != kHeader) return std::nullopt;
  InstallManifest m;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 2 && f[0] == "product") m.product = Utf8ToUtf16(f[1]);
    else if (f.size() == 2 && f[0] == "mount") m.mounts.push_back(Utf8ToUtf16(f[1]));
    else if (f.size() == 2 && f[0] == "folder") m.folders.push_back(Utf8ToUtf16(f[1]));
    else if (f.size() == 2 && f[0] == "file") m.files.push_back(Utf8ToUtf16(f[1]));
    else if (f.size() == 3 && f[0] == "regkey") m.registry.push_back({Utf8ToUtf16(f[1]), Utf8ToUtf16(f[2]), u""});
    else if (f.size() == 4 && f[0] == "regvalue" && !f[3].empty())
      m.registry.push_back({Utf8ToUtf16(f[1]), Utf8ToUtf16(f[2]), Utf8ToUtf16(f[3])});
  }
  return m;
}

bool WriteInstallManifest(std::u16string_view name, const InstallManifest& manifest) {
  CreateDirectoryW(u"\\Windows", nullptr);
  CreateDirectoryW(kAppMgrFolder, nullptr);
  const std::string text = FormatInstallManifest(manifest);
  return ReplaceFileContents(InstallManifestPath(name), text.data(), text.size());
}

std::optional<InstallManifest> ReadInstallManifest(std::u16string_view name) {
  const std::string host = HostPathFromDevicePath(InstallManifestPath(name));
  if (host.empty()) return std::nullopt;
  std::ifstream in(host, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return ParseInstallManifest(text.str());
}

}  // namespace plat
