#include "core/VORegistry.h"

#include <cstring>
#include <vector>

#include "core/ProductStrings.h"
#include "platform/base/Text.h"

using namespace plat;

CVORegistry::CVORegistry(HKEY root, const char16_t* path, bool create, bool flush, DWORD access) {
  Open(root, path, create, flush, access);
}

CVORegistry::CVORegistry(CVORegistry&& other) noexcept
    : key_(other.key_), disposition_(other.disposition_), flushOnClose_(other.flushOnClose_),
      modified_(other.modified_) {
  other.key_ = nullptr;
  other.disposition_ = 0;
  other.modified_ = false;
}

CVORegistry& CVORegistry::operator=(CVORegistry&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.key_;
    disposition_ = other.disposition_;
    flushOnClose_ = other.flushOnClose_;
    modified_ = other.modified_;
    other.key_ = nullptr;
    other.disposition_ = 0;
    other.modified_ = false;
  }
  return *this;
}

CVORegistry::~CVORegistry() { Close(); }

bool CVORegistry::Open(HKEY root, const char16_t* path, bool create, bool flush, DWORD access) {
  Close();
  flushOnClose_ = flush;
  modified_ = false;
  HKEY key = nullptr;
  if (!create) {
    if (RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS) return false;
    key_ = key;
    return true;
  }
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  key_ = key;
  disposition_ = disposition;
  if (disposition == REG_CREATED_NEW_KEY) modified_ = true;
  return true;
}

bool CVORegistry::Close() {
  if (key_) {
    if (flushOnClose_ && modified_) RegFlushKey(key_);
    RegCloseKey(key_);
  }
  key_ = nullptr;
  disposition_ = 0;
  return true;
}

std::uint32_t CVORegistry::GetDWORD(const char16_t* name, std::uint32_t def) {
  if (key_) {
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG rc = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    // Only a 4-byte REG_DWORD is a number; the bytes of any other value are not.
    if (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value)) return value;
  }
  if (def == kNoDefault) return def;
  if (key_) {
    DWORD value = def;
    RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  return def;
}

bool CVORegistry::SetDWORD(const char16_t* name, std::uint32_t value) {
  if (!IsValidStringPtr(name)) return false;
  modified_ = true;
  if (!key_) return false;
  DWORD data = value;
  return RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) ==
         ERROR_SUCCESS;
}

std::u16string CVORegistry::GetString(const char16_t* name, const char16_t* def) {
  if (!IsValidStringPtr(name)) return std::u16string();
  if (key_) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      if (type != REG_SZ) return def ? std::u16string(def) : std::u16string();
      std::vector<char16_t> buffer(size / sizeof(char16_t) + 1 + 1, u'\0');
      DWORD got = size;
      if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) ==
              ERROR_SUCCESS &&
          type == REG_SZ) {
        return std::u16string(buffer.data());
      }
    }
  }
  if (IsValidStringPtr(def)) {
    SetString(name, def);
    return std::u16string(def);
  }
  return std::u16string();
}

bool CVORegistry::SetString(const char16_t* name, const char16_t* text) {
  if (!IsValidStringPtr(name) || !IsValidStringPtr(text)) return false;
  modified_ = true;
  if (!key_) return false;
  DWORD bytes = static_cast<DWORD>((StrLen(text) + 1) * sizeof(char16_t));
  return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool CVORegistry::QueryValue(const char16_t* name, void* buffer, DWORD* size) {
  if (buffer && size && *size != 0 && !IsValidBufferPtr(buffer, *size, true)) return false;
  if (!key_) return false;
  return RegQueryValueExW(key_, name, nullptr, nullptr, static_cast<BYTE*>(buffer), size) == ERROR_SUCCESS;
}

HKEY GetSettingsRootKey() { return HKEY_CURRENT_USER; }

CVORegistry OpenSettingsKey() {
  std::u16string path = GetProductRegistryKey();
  return CVORegistry(GetSettingsRootKey(), path.c_str(), true, true, KEY_ALL_ACCESS);
}

bool IsValidStringPtr(const char16_t* text, std::size_t maximumLength) {
  (void)maximumLength;
  return text != nullptr;
}

bool IsValidBufferPtr(const void* buffer, std::size_t size, bool writable) {
  (void)size;
  (void)writable;
  return buffer != nullptr;
}
