#include "core/VORegistry.h"

#include <algorithm>
#include <cstring>
#include <optional>
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
  // Whatever fits the 4-byte buffer is the value, whatever its type: a value
  // that is stored is read, never replaced with the default. Only a missing
  // value, or one longer than 4 bytes, takes the default.
  auto read = [&](LONG& rc) -> std::optional<std::uint32_t> {
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    rc = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc == ERROR_SUCCESS) return value;
    return std::nullopt;
  };
  LONG rc = ERROR_FILE_NOT_FOUND;
  if (key_) {
    if (auto value = read(rc)) return *value;
  }
  if (def == kNoDefault) return def;
  if (key_) {
    DWORD value = def;
    if (WriteDefault(name, rc, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value))) {
      LONG again = ERROR_SUCCESS;
      if (auto stored = read(again)) return *stored;
    }
  }
  return def;
}

bool CVORegistry::WriteDefault(const char16_t* name, LONG queryResult, DWORD type, const BYTE* data, DWORD size) {
  // A missing value gets the default only while it is still missing: a value
  // another thread or process stores meanwhile is kept, never overwritten with
  // the default (true: read it again). A value too long for what is read
  // (a number stored in more than 4 bytes) is replaced; after a failed read
  // nothing is written.
  if (queryResult == ERROR_FILE_NOT_FOUND) {
    return RegCompareAndSetValueW(key_, name, nullptr, type, data, size) == ERROR_REVISION_MISMATCH;
  }
  if (queryResult == ERROR_MORE_DATA) RegSetValueExW(key_, name, 0, type, data, size);
  return false;
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
  // rc: ERROR_FILE_NOT_FOUND when the value is missing; type: its type when held.
  // A value that grows between the size query and the read is read again.
  auto read = [&](LONG& rc, DWORD& type) -> std::optional<std::u16string> {
    for (;;) {
      DWORD size = 0;
      type = REG_NONE;
      rc = RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size);
      if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
      std::vector<char16_t> buffer(size / sizeof(char16_t) + 1 + 1, u'\0');
      DWORD got = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
      rc = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
      if (rc == ERROR_MORE_DATA) continue;
      if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
      std::u16string text(buffer.data(), std::min<std::size_t>(got / sizeof(char16_t), buffer.size()));
      const std::size_t end = text.find(u'\0');
      if (end != std::u16string::npos) text.resize(end);
      return text;
    }
  };
  LONG rc = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  if (key_) {
    if (auto text = read(rc, type)) return *text;
    if (rc == ERROR_SUCCESS && type != REG_SZ) return def ? std::u16string(def) : std::u16string();
  }
  if (IsValidStringPtr(def)) {
    modified_ = true;
    if (key_) {
      const DWORD bytes = static_cast<DWORD>((StrLen(def) + 1) * sizeof(char16_t));
      if (WriteDefault(name, rc, REG_SZ, reinterpret_cast<const BYTE*>(def), bytes)) {
        LONG again = ERROR_SUCCESS;
        if (auto stored = read(again, type)) return *stored;
      }
    }
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
