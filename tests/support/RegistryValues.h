// Registry values as stored, read without creating any key or value.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

namespace orvtest {

struct RegValue {
  plat::DWORD type = 0;
  std::vector<plat::BYTE> data;
};

// The value `name` of the key `path` under `root`; nullopt when the key or the
// value is missing.
inline std::optional<RegValue> ReadRegValue(plat::HKEY root, const std::u16string& path, const std::u16string& name) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(root, path.c_str(), 0, plat::KEY_READ, &key) != plat::ERROR_SUCCESS) return std::nullopt;
  std::optional<RegValue> result;
  RegValue value;
  plat::DWORD size = 0;
  if (plat::RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) == plat::ERROR_SUCCESS) {
    value.data.resize(size);
    if (plat::RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.data.data(), &size) ==
        plat::ERROR_SUCCESS) {
      result = std::move(value);
    }
  }
  plat::RegCloseKey(key);
  return result;
}

// A REG_DWORD value; nullopt when missing or of another type or size.
inline std::optional<plat::DWORD> ReadRegDword(plat::HKEY root, const std::u16string& path, const std::u16string& name) {
  auto value = ReadRegValue(root, path, name);
  if (!value || value->type != plat::REG_DWORD || value->data.size() != 4) return std::nullopt;
  plat::DWORD v = 0;
  std::memcpy(&v, value->data.data(), 4);
  return v;
}

// A REG_SZ value without its terminating nulls; nullopt when missing or of
// another type.
inline std::optional<std::u16string> ReadRegString(plat::HKEY root, const std::u16string& path,
                                                   const std::u16string& name) {
  auto value = ReadRegValue(root, path, name);
  if (!value || value->type != plat::REG_SZ) return std::nullopt;
  std::u16string text(value->data.size() / 2, u'\0');
  std::memcpy(text.data(), value->data.data(), text.size() * 2);
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

}  // namespace orvtest
