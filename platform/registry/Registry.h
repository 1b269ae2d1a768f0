// The device registry: keys under HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT holding typed values.
//
// One store ("registry.db" in the device folder) is shared by every process of
// the device; every write is its own transaction and every read goes to the
// store, so a value set in one process is seen by the next read in any other.
// Key and value names compare ignoring case (as EqualsNoCase) and keep the case
// they were created with for enumeration. Sub-key paths separate keys with "\".
// Results are ERROR_* codes: ERROR_FILE_NOT_FOUND for a missing key or value,
// ERROR_NO_MORE_ITEMS past the end of an enumeration, ERROR_MORE_DATA (with the
// needed size) when a buffer is too small.
#pragma once

#include <cstdint>

#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "platform/base/Types.h"

namespace plat {

struct RegKeyHandle;  // opaque
using HKEY = RegKeyHandle*;

// The predefined root keys; they need not (but may) be closed.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Dispositions reported by RegCreateKeyExW.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Options of RegCreateKeyExW (accepted; every key is kept).
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;

// Access masks: accepted and not checked, as on the device.
constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr DWORD KEY_NOTIFY = 0x0010;
constexpr DWORD KEY_CREATE_LINK = 0x0020;
constexpr DWORD KEY_READ = 0x00020019;
constexpr DWORD KEY_WRITE = 0x00020006;
constexpr DWORD KEY_EXECUTE = KEY_READ;
constexpr DWORD KEY_ALL_ACCESS = 0x000F003F;

// Filters of CeFindFirstRegChange.
constexpr DWORD REG_NOTIFY_CHANGE_NAME = 0x1;        // sub-keys added or deleted
constexpr DWORD REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2;
constexpr DWORD REG_NOTIFY_CHANGE_LAST_SET = 0x4;    // values set or deleted
constexpr DWORD REG_NOTIFY_CHANGE_SECURITY = 0x8;

// Opens subKey below key, creating it (and every missing key on the way) when
// needed. cls, options, sam and sa are accepted; disposition (may be null)
// receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. A null or empty
// subKey opens key itself again.
LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* cls, DWORD options,
                     DWORD sam, void* sa, HKEY* out, DWORD* disposition);
// Opens an existing key: ERROR_FILE_NOT_FOUND when it is missing.
LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD sam, HKEY* out);
LONG RegCloseKey(HKEY key);

// Reads a value. type and data may be null; *cbData holds the buffer size in
// bytes and receives the size of the stored data. With data null the size
// alone is reported (ERROR_SUCCESS); with a buffer too small the result is
// ERROR_MORE_DATA and *cbData the size needed. A null or empty name is the
// key's default value.
LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);
// Stores cbData bytes exactly as given (REG_SZ data are UTF-16LE, normally
// with their terminator).
LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY key, const char16_t* name);

// Compare-and-set: in one transaction of the store, compares the value held now
// with `expected` (type and bytes; a null `expected` means the value must be
// missing) and, only when they match, stores the new value
// (RegCompareAndSetValueW) or deletes it (RegCompareAndDeleteValueW). A value
// that differs gives ERROR_REVISION_MISMATCH and changes nothing, so two
// processes racing for the same value never both succeed.
constexpr DWORD ERROR_REVISION_MISMATCH = 1306;
struct REG_VALUE_MATCH {
  DWORD type;
  const BYTE* data;
  DWORD cbData;
};
LONG RegCompareAndSetValueW(HKEY key, const char16_t* name, const REG_VALUE_MATCH* expected, DWORD type,
                            const BYTE* data, DWORD cbData);
LONG RegCompareAndDeleteValueW(HKEY key, const char16_t* name, const REG_VALUE_MATCH& expected);
// Removes subKey with all its values and its whole subtree; an empty subKey
// removes key itself (ERROR_ACCESS_DENIED for a root key).
LONG RegDeleteKeyW(HKEY key, const char16_t* subKey);

// Enumerations in a stable order (the order of creation). *cchName is the name
// buffer size in characters, terminator included; it receives the name's length
// without the terminator. A name buffer too small gives ERROR_MORE_DATA.
// lastWriteTime (may be null) receives when the key's values or sub-keys last
// changed.
LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* cchName, DWORD* reserved,
                   char16_t* cls, DWORD* cchClass, FILETIME* lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* cchName, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* cbData);
// Counts and longest lengths (names in characters without terminator, data in
// bytes). Every out-pointer may be null.
LONG RegQueryInfoKeyW(HKEY key, char16_t* cls, DWORD* cchClass, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, FILETIME* lastWriteTime);
// Every write is its own transaction, safe from a crash of its process once it
// returns; this also writes everything through to the store's main file.
LONG RegFlushKey(HKEY key);

// Change notification: a kernel object that becomes signalled when a value of
// the key (REG_NOTIFY_CHANGE_LAST_SET) or its set of sub-keys
// (REG_NOTIFY_CHANGE_NAME) changes, in any process of the device; with
// watchSubtree, changes anywhere below the key count too. It stays signalled
// until CeFindNextRegChange re-arms it. INVALID_HANDLE_VALUE on failure.
HANDLE CeFindFirstRegChange(HKEY key, BOOL watchSubtree, DWORD filter);
BOOL CeFindNextRegChange(HANDLE notification);
BOOL CeFindCloseRegChange(HANDLE notification);

// The three calls above are also the entry points of the built-in module
// "coredll.dll" (registered at start); this registers it again after a test
// took it away.
void RegisterCoreDllModule();

}  // namespace plat
