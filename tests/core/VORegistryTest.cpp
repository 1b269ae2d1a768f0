#include "core/VORegistry.h"

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry/Registry.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempDevice.h"

using namespace plat;

namespace {

const char16_t* const kKey = u"SOFTWARE\\Orv Software House\\Orv News";

using Stored = orvtest::RegValue;

std::vector<BYTE> Bytes(const std::u16string& text, bool terminator = true) {
  std::vector<BYTE> out((text.size() + (terminator ? 1 : 0)) * 2, 0);
  std::memcpy(out.data(), text.data(), text.size() * 2);
  return out;
}

std::vector<BYTE> Bytes(DWORD value) {
  std::vector<BYTE> out(4);
  std::memcpy(out.data(), &value, 4);
  return out;
}

class VORegistryTest : public orvtest::DeviceTest {
 protected:
  void Put(const char16_t* name, const Stored& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::optional<Stored> Get(const char16_t* path, const char16_t* name) {
    return orvtest::ReadRegValue(HKEY_CURRENT_USER, path, name);
  }
  std::optional<Stored> Get(const char16_t* name) { return Get(kKey, name); }

  static bool KeyExists(const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
};

// ---- DWORD reads -------------------------------------------------------------

struct DwordCase {
  const char* name;
  std::optional<Stored> before;
  std::uint32_t def;
  std::uint32_t expected;
  std::optional<Stored> after;
};

// Names the case in test listings.
void PrintTo(const DwordCase& c, std::ostream* os) { *os << c.name; }

class VORegistryDword : public VORegistryTest, public ::testing::WithParamInterface<DwordCase> {};

TEST_P(VORegistryDword, ReadAndMissingValueRule) {
  const DwordCase& c = GetParam();
  if (c.before) Put(u"Setting", *c.before);
  {
    CVORegistry key = OpenSettingsKey();
    EXPECT_EQ(key.GetDWORD(u"Setting", c.def), c.expected);
  }
  std::optional<Stored> after = Get(u"Setting");
  ASSERT_EQ(after.has_value(), c.after.has_value());
  if (after) {
    EXPECT_EQ(after->type, c.after->type);
    EXPECT_EQ(after->data, c.after->data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VORegistryDword,
    ::testing::Values(
        DwordCase{"missing_written_with_default", std::nullopt, 7, 7, Stored{REG_DWORD, Bytes(7u)}},
        DwordCase{"missing_zero_default_written", std::nullopt, 0, 0, Stored{REG_DWORD, Bytes(0u)}},
        DwordCase{"missing_no_default_marker", std::nullopt, 0xDEF0, 0xDEF0, std::nullopt},
        DwordCase{"stored_value_read", Stored{REG_DWORD, Bytes(5u)}, 7, 5, Stored{REG_DWORD, Bytes(5u)}},
        DwordCase{"stored_value_with_marker", Stored{REG_DWORD, Bytes(5u)}, 0xDEF0, 5, Stored{REG_DWORD, Bytes(5u)}},
        DwordCase{"long_string_overwritten", Stored{REG_SZ, Bytes(u"abcdef")}, 7, 7, Stored{REG_DWORD, Bytes(7u)}},
        // Four bytes of any type are what the setting holds: read, and kept.
        DwordCase{"short_string_read_as_its_bytes", Stored{REG_SZ, Bytes(u"a")}, 7, 0x61,
                  Stored{REG_SZ, Bytes(u"a")}},
        DwordCase{"four_binary_bytes_read", Stored{REG_BINARY, Bytes(0x01020304u)}, 9, 0x01020304u,
                  Stored{REG_BINARY, Bytes(0x01020304u)}},
        DwordCase{"two_binary_bytes_read", Stored{REG_BINARY, std::vector<std::uint8_t>{0x34, 0x12}}, 9, 0x1234u,
                  Stored{REG_BINARY, std::vector<std::uint8_t>{0x34, 0x12}}},
        DwordCase{"string_kept_with_marker", Stored{REG_SZ, Bytes(u"abcdef")}, 0xDEF0, 0xDEF0,
                  Stored{REG_SZ, Bytes(u"abcdef")}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- String reads ------------------------------------------------------------

struct StringCase {
  const char* name;
  std::optional<Stored> before;
  const char16_t* def;
  std::u16string expected;
  std::optional<Stored> after;
};

// Names the case in test listings.
void PrintTo(const StringCase& c, std::ostream* os) { *os << c.name; }

class VORegistryString : public VORegistryTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(VORegistryString, ReadAndMissingValueRule) {
  const StringCase& c = GetParam();
  if (c.before) Put(u"Text", *c.before);
  {
    CVORegistry key = OpenSettingsKey();
    EXPECT_EQ(key.GetString(u"Text", c.def), c.expected);
  }
  std::optional<Stored> after = Get(u"Text");
  ASSERT_EQ(after.has_value(), c.after.has_value());
  if (after) {
    EXPECT_EQ(after->type, c.after->type);
    EXPECT_EQ(after->data, c.after->data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VORegistryString,
    ::testing::Values(
        StringCase{"missing_written_with_default", std::nullopt, u"news", u"news", Stored{REG_SZ, Bytes(u"news")}},
        StringCase{"missing_empty_default_written", std::nullopt, u"", u"", Stored{REG_SZ, Bytes(u"")}},
        StringCase{"missing_null_default_nothing", std::nullopt, nullptr, u"", std::nullopt},
        StringCase{"stored_read", Stored{REG_SZ, Bytes(u"Caf\u00E9")}, u"x", u"Caf\u00E9",
                   Stored{REG_SZ, Bytes(u"Caf\u00E9")}},
        StringCase{"stored_empty_read", Stored{REG_SZ, Bytes(u"")}, u"x", u"", Stored{REG_SZ, Bytes(u"")}},
        StringCase{"up_to_first_zero", Stored{REG_SZ, Bytes(std::u16string(u"ab\0cd", 5))}, u"x", u"ab",
                   Stored{REG_SZ, Bytes(std::u16string(u"ab\0cd", 5))}},
        StringCase{"no_terminator_stored", Stored{REG_SZ, Bytes(u"abc", false)}, u"x", u"abc",
                   Stored{REG_SZ, Bytes(u"abc", false)}},
        StringCase{"other_type_left_alone", Stored{REG_DWORD, Bytes(5u)}, u"x", u"x", Stored{REG_DWORD, Bytes(5u)}},
        StringCase{"expand_string_left_alone", Stored{REG_EXPAND_SZ, Bytes(u"%x%")}, u"d", u"d",
                   Stored{REG_EXPAND_SZ, Bytes(u"%x%")}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Setters and raw reads ---------------------------------------------------

TEST_F(VORegistryTest, TypedSettersRoundTrip) {
  {
    CVORegistry key = OpenSettingsKey();
    EXPECT_TRUE(key.SetDWORD(u"Count", 0xFFFFFFFFu));
    EXPECT_TRUE(key.SetString(u"Name", u"Orv \u00FC"));
    EXPECT_TRUE(key.SetString(std::u16string(u"Empty"), std::u16string()));
    EXPECT_EQ(key.GetDWORD(u"Count", 1), 0xFFFFFFFFu);
    EXPECT_EQ(key.GetString(u"Name", u""), u"Orv \u00FC");
    EXPECT_EQ(key.GetString(std::u16string(u"Empty"), std::u16string(u"d")), u"");
  }
  EXPECT_EQ(Get(u"Count")->type, REG_DWORD);
  EXPECT_EQ(Get(u"Count")->data, Bytes(0xFFFFFFFFu));
  EXPECT_EQ(Get(u"Name")->data, Bytes(u"Orv \u00FC"));  // terminator included
  EXPECT_EQ(Get(u"Empty")->data, Bytes(u""));
  // Names ignore case as the registry does.
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"COUNT", 1), 0xFFFFFFFFu);
}

// A read with a default that finds the value missing (even rounds) stores the
// default only while the value is still missing, and one that races with the
// value growing (odd rounds) reads it again: a value another thread stores
// meanwhile is what stays, never the default.
TEST_F(VORegistryTest, DefaultNeverOverwritesAValueStoredMeanwhile) {
  constexpr int kRounds = 400;
  int lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    const bool grows = round % 2 == 1;
    Put(u"Folder", Stored{REG_SZ, Bytes(u"\\C")});
    Put(u"Limit", Stored{REG_DWORD, Bytes(1u)});
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
    if (!grows) RegDeleteValueW(raw, u"Folder");
    RegDeleteValueW(raw, u"Limit");
    RegCloseKey(raw);
    std::atomic<int> ready{0};
    std::u16string read;
    std::uint32_t number = 0;
    std::thread reader([&] {
      CVORegistry key = OpenSettingsKey();
      ++ready;
      while (ready < 2) {
      }
      read = key.GetString(u"Folder", u"");
      number = key.GetDWORD(u"Limit", 7);
    });
    {
      CVORegistry key = OpenSettingsKey();
      ++ready;
      while (ready < 2) {
      }
      EXPECT_TRUE(key.SetString(u"Folder", u"\\Storage Card\\Content"));
      EXPECT_TRUE(key.SetDWORD(u"Limit", 30));
    }
    reader.join();
    // The reader saw the value either before or after the write, never a mix.
    EXPECT_TRUE(read == (grows ? u"\\C" : u"") || read == u"\\Storage Card\\Content") << "round " << round;
    EXPECT_TRUE(number == 7 || number == 30) << "round " << round;
    if (Get(u"Folder")->data != Bytes(u"\\Storage Card\\Content") || Get(u"Limit")->data != Bytes(30)) ++lost;
  }
  EXPECT_EQ(lost, 0);
}

TEST_F(VORegistryTest, SettersRefuseInvalidText) {
  CVORegistry key = OpenSettingsKey();
  EXPECT_FALSE(key.SetDWORD(static_cast<const char16_t*>(nullptr), 1));
  EXPECT_FALSE(key.SetString(u"Name", static_cast<const char16_t*>(nullptr)));
  EXPECT_FALSE(key.SetString(static_cast<const char16_t*>(nullptr), u"x"));
  EXPECT_EQ(key.GetString(static_cast<const char16_t*>(nullptr), u"x"), u"");
  EXPECT_FALSE(Get(u"Name").has_value());
}

TEST_F(VORegistryTest, QueryValueReadsAnyType) {
  ULONGLONG time = 0x0123456789ABCDEFull;
  Put(u"LastUpdate", Stored{REG_BINARY, std::vector<BYTE>(reinterpret_cast<BYTE*>(&time),
                                                           reinterpret_cast<BYTE*>(&time) + 8)});
  CVORegistry key = OpenSettingsKey();
  ULONGLONG read = 0;
  DWORD size = sizeof(read);
  EXPECT_TRUE(key.QueryValue(u"LastUpdate", &read, &size));
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(read, time);
  DWORD small = 0;
  size = sizeof(small);
  EXPECT_FALSE(key.QueryValue(u"LastUpdate", &small, &size));  // does not fit
  size = 0;
  EXPECT_TRUE(key.QueryValue(u"LastUpdate", nullptr, &size));  // size only
  EXPECT_EQ(size, 8u);
  size = sizeof(read);
  EXPECT_FALSE(key.QueryValue(u"Missing", &read, &size));
}

TEST_F(VORegistryTest, MissingKeyWithoutCreate) {
  const char16_t* path = u"SOFTWARE\\Orv Software House\\Nothing Here";
  CVORegistry key(HKEY_CURRENT_USER, path, false, true, KEY_ALL_ACCESS);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.GetDWORD(u"Value", 7), 7u);
  EXPECT_EQ(key.GetString(u"Text", u"d"), u"d");
  EXPECT_FALSE(key.SetDWORD(u"Value", 1));
  EXPECT_FALSE(key.SetString(u"Text", u"x"));
  ULONGLONG v = 0;
  DWORD size = sizeof(v);
  EXPECT_FALSE(key.QueryValue(u"Value", &v, &size));
  key.Close();
  EXPECT_FALSE(KeyExists(path));
}

TEST_F(VORegistryTest, OpenReportsDispositionAndModification) {
  const char16_t* path = u"SOFTWARE\\Orv Software House\\Fresh";
  {
    CVORegistry key(HKEY_CURRENT_USER, path, true, true, KEY_ALL_ACCESS);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_EQ(key.GetDisposition(), REG_CREATED_NEW_KEY);
    EXPECT_TRUE(key.IsModified());  // a new key is flushed on close
    EXPECT_TRUE(key.Close());
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.GetDisposition(), 0u);
  }
  CVORegistry key(HKEY_CURRENT_USER, path, true, true, KEY_ALL_ACCESS);
  EXPECT_EQ(key.GetDisposition(), REG_OPENED_EXISTING_KEY);
  EXPECT_FALSE(key.IsModified());
  key.GetDWORD(u"Written", 3);  // the default's write does not count as a change
  EXPECT_FALSE(key.IsModified());
  EXPECT_TRUE(Get(path, u"Written").has_value());
  key.SetDWORD(u"Written", 4);
  EXPECT_TRUE(key.IsModified());
  // Reopening clears the modified flag.
  EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, path, false, false, KEY_READ));
  EXPECT_FALSE(key.IsModified());
  EXPECT_EQ(key.GetDWORD(u"Written", 9), 4u);
}

TEST_F(VORegistryTest, SettingsKeyIsTheProductKey) {
  EXPECT_EQ(GetSettingsRootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(KeyExists(kKey));
  {
    CVORegistry key = OpenSettingsKey();
    EXPECT_TRUE(key.IsOpen());
    EXPECT_EQ(key.GetDisposition(), REG_CREATED_NEW_KEY);
    EXPECT_TRUE(key.SetDWORD(u"DeveloperMode", 1));
  }
  ASSERT_TRUE(Get(u"DeveloperMode").has_value());
  EXPECT_EQ(Get(u"DeveloperMode")->data, Bytes(1u));
}

TEST_F(VORegistryTest, MovedKeyIsClosedOnce) {
  CVORegistry first = OpenSettingsKey();
  CVORegistry second(std::move(first));
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(second.IsOpen());
  EXPECT_FALSE(first.SetDWORD(u"A", 1));
  EXPECT_TRUE(second.SetDWORD(u"A", 2));
  EXPECT_EQ(Get(u"A")->data, Bytes(2u));
}

TEST(VORegistryPointers, ValidityChecks) {
  EXPECT_FALSE(IsValidStringPtr(nullptr));
  EXPECT_TRUE(IsValidStringPtr(u""));
  EXPECT_TRUE(IsValidStringPtr(u"abc", 2));
  char buffer[4];
  EXPECT_FALSE(IsValidBufferPtr(nullptr, 4, false));
  EXPECT_TRUE(IsValidBufferPtr(buffer, 4, true));
}

}  // namespace
