// Files of the test's device, written by their device paths (for fixtures).
#pragma once

#include <string>

#include "core/FileUtils.h"
#include "platform/files/Files.h"

namespace orvtest {

// Writes the whole file (e.g. u"\\feeds.opml"), making its folders; false
// when it cannot be written in full.
inline bool WriteDeviceFile(const std::u16string& path, const std::string& bytes) {
  std::u16string folder;
  if (!SplitPath(path, &folder, nullptr, nullptr) || !CreateFolderTree(folder)) return false;
  plat::HANDLE h = plat::CreateFileW(path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                                     plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == plat::INVALID_HANDLE_VALUE) return false;
  plat::DWORD written = 0;
  const bool ok = bytes.empty() ||
                  (plat::WriteFile(h, bytes.data(), static_cast<plat::DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size());
  plat::CloseHandle(h);
  return ok;
}

}  // namespace orvtest
