#include "platform/hosts/InstallManifest.h"

#include "platform/base/Text.h"
#include "platform/files/Files.h"

namespace plat::hosts {

InstallManifest ParseInstallManifest(const std::string& utf8) {
  InstallManifest m;
  std::size_t start = 0;
  while (start < utf8.size()) {
    std::size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    std::string line = utf8.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    std::size_t lead = line.find_first_not_of(" \t");
    if (lead == std::string::npos || line[lead] == '#') continue;
    std::u16string path = Utf8ToUtf16(line.substr(lead));
    if (path.empty() || path.front() != u'\\') continue;  // only absolute device paths
    if (path.back() == u'\\') {
      path.pop_back();
      if (!path.empty()) m.folders.push_back(path);
    } else {
      m.files.push_back(path);
    }
  }
  return m;
}

bool ReadInstallManifest(const std::u16string& devicePath, InstallManifest* out) {
  HANDLE f = CreateFileW(devicePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::string text;
  char buf[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(f, buf, sizeof buf, &got, nullptr) != FALSE) && got > 0) text.append(buf, got);
  CloseHandle(f);
  if (!ok) return false;
  *out = ParseInstallManifest(text);
  return true;
}

}  // namespace plat::hosts
