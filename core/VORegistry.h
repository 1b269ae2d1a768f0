// Settings in the registry. Every setting is read and written through a
// CVORegistry, a wrapper around one open key. Reading a missing setting
// writes its default into the key, so after the first run the key lists every
// setting with its value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry/Registry.h"

class CVORegistry {
 public:
  // The DWORD default that reports a missing value without writing anything.
  static constexpr std::uint32_t kNoDefault = 0xDEF0;

  // Opens the key at once (Open); on failure every read gives its default
  // and every write fails.
  CVORegistry(plat::HKEY root, const char16_t* path, bool create, bool flush, plat::DWORD access);
  CVORegistry(CVORegistry&& other) noexcept;
  CVORegistry& operator=(CVORegistry&& other) noexcept;
  CVORegistry(const CVORegistry&) = delete;
  CVORegistry& operator=(const CVORegistry&) = delete;
  virtual ~CVORegistry();

  // Closes any open key, then opens (or with create, creates) root\path.
  bool Open(plat::HKEY root, const char16_t* path, bool create, bool flush, plat::DWORD access);
  // Flushes when the flush flag is set and the key was modified; always true.
  bool Close();

  // A REG_DWORD value. Missing, of another type or not 4 bytes: the default,
  // which is written into the key unless it is kNoDefault.
  std::uint32_t GetDWORD(const char16_t* name, std::uint32_t def);
  std::uint32_t GetDWORD(const std::u16string& name, std::uint32_t def) { return GetDWORD(name.c_str(), def); }
  bool SetDWORD(const char16_t* name, std::uint32_t value);
  bool SetDWORD(const std::u16string& name, std::uint32_t value) { return SetDWORD(name.c_str(), value); }

  // A REG_SZ value up to its first zero. Of another type: the default, the
  // value left as it is. Missing or unreadable: the default, written into the
  // key when it is a valid string (a null default gives "" and writes nothing).
  std::u16string GetString(const char16_t* name, const char16_t* def);
  std::u16string GetString(const std::u16string& name, const std::u16string& def) {
    return GetString(name.c_str(), def.c_str());
  }
  bool SetString(const char16_t* name, const char16_t* text);
  bool SetString(const std::u16string& name, const std::u16string& text) {
    return SetString(name.c_str(), text.c_str());
  }

  // The raw data of a value of any type; *size is the buffer size in bytes
  // and receives the stored size.
  bool QueryValue(const char16_t* name, void* buffer, plat::DWORD* size);

  bool IsOpen() const { return key_ != nullptr; }
  plat::HKEY GetKey() const { return key_; }
  plat::DWORD GetDisposition() const { return disposition_; }
  bool IsModified() const { return modified_; }

 private:
  // Stores a default for a value the read (queryResult) found missing or of
  // another type; true when another writer stored the value first.
  bool WriteDefault(const char16_t* name, plat::LONG queryResult, plat::DWORD type, const plat::BYTE* data,
                    plat::DWORD size);
  plat::HKEY key_ = nullptr;
  plat::DWORD disposition_ = 0;
  bool flushOnClose_ = false;
  bool modified_ = false;
};

// HKEY_CURRENT_USER: the root of the program's settings.
plat::HKEY GetSettingsRootKey();

// The product's settings key (HKEY_CURRENT_USER\SOFTWARE\Orv Software
// House\Orv News), created when missing, flushed on close when modified.
CVORegistry OpenSettingsKey();

// Pointer checks of the settings calls. Host memory cannot be probed for
// readability, so a non-null pointer counts as readable and writable.
bool IsValidStringPtr(const char16_t* text, std::size_t maximumLength = static_cast<std::size_t>(-1));
bool IsValidBufferPtr(const void* buffer, std::size_t size, bool writable);
