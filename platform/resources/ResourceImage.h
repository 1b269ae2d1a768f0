// The resource image: the compiled form of a module's resources.
//
// Layout (little-endian): "ORVRES01", uint32 entry count, then per entry
// type and name (each uint16 kind 0 = id followed by uint16 id, kind 1 = name
// followed by uint16 length and that many UTF-16 units), uint32 data offset
// from the image start (a multiple of 8) and uint32 data size; then the data.
// String tables are stored as the platform's blocks of 16 counted strings
// (type RT_STRING, name id / 16 + 1); icons as whole ".ico" files (type
// RT_GROUP_ICON); bitmaps as packed DIBs (header, colours, bits).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/base/Types.h"

namespace plat {

struct ResName {
  bool isId = true;
  WORD id = 0;
  std::u16string name;  // upper-cased when compiled; compared ignoring case
  static ResName Id(WORD v) {
    ResName n;
    n.id = v;
    return n;
  }
  static ResName Named(std::u16string s) {
    ResName n;
    n.isId = false;
    n.name = std::move(s);
    return n;
  }
};

struct ResourceEntry {
  ResName type;
  ResName name;
  const std::uint8_t* data = nullptr;
  DWORD size = 0;
};

class ResourceImageBuilder {
 public:
  void Add(ResName type, ResName name, std::string data);
  void SetStrings(const std::map<WORD, std::u16string>& strings) { strings_ = strings; }
  // False (with a reason) for two resources of one type and name.
  bool Build(std::vector<unsigned char>& out, std::string* error) const;

 private:
  struct Item {
    ResName type, name;
    std::string data;
  };
  std::vector<Item> items_;
  std::map<WORD, std::u16string> strings_;
};

// Parses an image; entries point into `data`. False for malformed bytes.
bool ParseResourceImage(const unsigned char* data, std::size_t size, std::vector<ResourceEntry>& entries);

}  // namespace plat
