// The install manifest: text form and its place on the device.
#include "platform/files/InstallManifest.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/base/Text.h"
#include "platform/files/Files.h"

namespace plat {

namespace {

constexpr const char* kHeader = "OrvInstallManifest\t2";
// Version 1 had no last line: read as it stands.
constexpr const char* kHeaderVersion1 = "OrvInstallManifest\t1";
constexpr const char* kEnd = "end";

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
  std::string out;
  out += "product\t" + Utf16ToUtf8(m.product) + "\n";
  for (const auto& p : m.mounts) out += "mount\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& p : m.folders) out += "folder\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& p : m.files) out += "file\t" + Utf16ToUtf8(p) + "\n";
  for (const auto& r : m.registry) {
    if (r.value.empty()) out += "regkey\t" + Utf16ToUtf8(r.root) + "\t" + Utf16ToUtf8(r.key) + "\n";
    else
      out += "regvalue\t" + Utf16ToUtf8(r.root) + "\t" + Utf16ToUtf8(r.key) + "\t" + Utf16ToUtf8(r.value) + "\n";
  }
  const auto entries = std::count(out.begin(), out.end(), '\n');
  return std::string(kHeader) + "\n" + out + kEnd + "\t" + std::to_string(entries) + "\n";
}

std::optional<InstallManifest> ParseInstallManifest(std::string_view text) {
  // The lines, each without its line end; a last line without one is kept
  // apart (a version 2 manifest ends with a line end).
  std::vector<std::string> lines;
  std::size_t at = 0;
  bool endedByLineEnd = true;
  while (at < text.size()) {
    const std::size_t lf = text.find('\n', at);
    std::string line(text.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (lf == std::string_view::npos) {
      endedByLineEnd = false;
      break;
    }
    at = lf + 1;
  }
  if (lines.empty()) return std::nullopt;
  std::size_t entryEnd = lines.size();
  if (lines[0] == kHeader) {
    // Whole only with its last line, which counts the entries before it.
    if (!endedByLineEnd || lines.size() < 2) return std::nullopt;
    const std::vector<std::string> last = SplitTabs(lines.back());
    if (last.size() != 2 || last[0] != kEnd || last[1].empty() ||
        last[1].find_first_not_of("0123456789") != std::string::npos || last[1].size() > 9 ||
        std::stoul(last[1]) != lines.size() - 2)
      return std::nullopt;
    entryEnd = lines.size() - 1;
  } else if (lines[0] != kHeaderVersion1) {
    return std::nullopt;
  }
  InstallManifest m;
  for (std::size_t i = 1; i < entryEnd; ++i) {
    const std::vector<std::string> f = SplitTabs(lines[i]);
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
  if (in.bad()) return std::nullopt;
  return ParseInstallManifest(text.str());
}

bool InstallManifestPresent(std::u16string_view name) {
  return GetFileAttributesW(InstallManifestPath(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace plat
