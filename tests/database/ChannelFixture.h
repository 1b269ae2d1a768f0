// A content folder of the test's own device, with helpers that build channel
// database files byte by byte and look at the host files behind device paths.
#pragma once
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "tests/support/HeadersFixture.h"
#include "tests/support/TempDevice.h"

namespace orvtest {

constexpr char16_t kTestContent[] = u"\\Content";

class ChannelTest : public DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFolderTree(kTestContent));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(kTestContent, u""));
  }

  std::string Host(const std::u16string& devicePath) const { return HostPath(device_, devicePath); }
  std::string ContentHost(const std::u16string& name) const {
    return Host(CombinePath(kTestContent, name));
  }
  bool HostExists(const std::string& path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  // Every file below a host folder with its bytes, by path relative to it.
  std::map<std::string, std::string> Snapshot(const std::string& root) const {
    std::map<std::string, std::string> files;
    SnapshotInto(root, "", files);
    return files;
  }

 private:
  void SnapshotInto(const std::string& root, const std::string& rel, std::map<std::string, std::string>& files) const {
    DIR* dir = ::opendir((root + rel).c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const auto& name : names) {
      const std::string path = root + rel + "/" + name;
      struct stat st;
      if (::stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        files[rel + "/" + name + "/"] = "";
        SnapshotInto(root, rel + "/" + name, files);
      } else {
        files[rel + "/" + name] = ReadHostFile(path);
      }
    }
  }
};

// ---- Hand-built records ----------------------------------------------------------

inline void PutByte(std::string& out, unsigned value) { out += static_cast<char>(value & 0xFF); }

// 32 hex digits as the 16 bytes of a digest record.
inline void PutDigestHex(std::string& out, const std::string& hex) {
  for (std::size_t i = 0; i + 1 < hex.size() && i < 32; i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
}

struct OptionsBytes {
  unsigned useDefaultDownload = 0, manual = 0, disableImages = 0, useDefaultLimits = 0, ageEnabled = 0;
  std::uint32_t ageLimit = 7;
  unsigned countEnabled = 0;
  std::uint32_t countLimit = 50;
};

inline void PutOptions(std::string& out, const OptionsBytes& o) {
  PutByte(out, o.useDefaultDownload);
  PutByte(out, o.manual);
  PutByte(out, o.disableImages);
  PutByte(out, o.useDefaultLimits);
  PutByte(out, o.ageEnabled);
  PutInt32(out, o.ageLimit);
  PutByte(out, o.countEnabled);
  PutInt32(out, o.countLimit);
}

// A string map in key order, as stored.
inline void PutMap(std::string& out, const std::map<std::string, std::string>& map) {
  PutInt32(out, static_cast<std::uint32_t>(map.size()));
  for (const auto& [key, value] : map) {
    PutString(out, key);
    PutString(out, value);
  }
}

// A whole channel file.
inline std::string ChannelFileBytes(std::uint32_t magic, std::uint32_t state, const OptionsBytes& options,
                                    const std::map<std::string, std::string>& properties) {
  std::string out;
  PutInt32(out, magic);
  PutInt32(out, state);
  PutOptions(out, options);
  PutMap(out, properties);
  return out;
}

constexpr std::uint32_t kMagicOBC1 = 0x3143424F;

}  // namespace orvtest
