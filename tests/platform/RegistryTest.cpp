// The registry within one process: keys and values, names ignoring case,
// exact data, sizes, enumeration, deletion of subtrees, key information,
// device switches and change notification.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/Handle.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

// UTF-16LE bytes of s with its terminator, as REG_SZ data are stored.
std::vector<BYTE> SzBytes(std::u16string_view s) {
  std::vector<BYTE> b((s.size() + 1) * 2, 0);
  std::memcpy(b.data(), s.data(), s.size() * 2);
  return b;
}

class RegistryTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    for (HKEY k : opened_) RegCloseKey(k);
  }

  HKEY Create(HKEY root, const char16_t* path, DWORD* disposition = nullptr) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, disposition), ERROR_SUCCESS);
    if (k) opened_.push_back(k);
    return k;
  }
  LONG Open(HKEY root, const char16_t* path, HKEY* out) {
    LONG r = RegOpenKeyExW(root, path, 0, KEY_READ, out);
    if (r == ERROR_SUCCESS) opened_.push_back(*out);
    return r;
  }
  static LONG Set(HKEY k, const char16_t* name, DWORD type, const std::vector<BYTE>& data) {
    return RegSetValueExW(k, name, 0, type, data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
  }
  static LONG SetDword(HKEY k, const char16_t* name, DWORD v) {
    return RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  }
  // Reads a whole value; the result code of the reading call.
  static LONG Get(HKEY k, const char16_t* name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    LONG r = RegQueryValueExW(k, name, nullptr, type, nullptr, &size);
    if (r != ERROR_SUCCESS) return r;
    data->assign(size, 0xCC);
    DWORD got = size;
    r = RegQueryValueExW(k, name, nullptr, type, data->empty() ? nullptr : data->data(), &got);
    if (r == ERROR_SUCCESS) data->resize(got);
    return r;
  }
  static std::vector<std::u16string> ValueNames(HKEY k) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; i++) {
      char16_t name[300];
      DWORD cch = 300;
      if (RegEnumValueW(k, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, cch);
    }
    return names;
  }
  static std::vector<std::u16string> SubKeyNames(HKEY k) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; i++) {
      char16_t name[300];
      DWORD cch = 300;
      if (RegEnumKeyExW(k, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, cch);
    }
    return names;
  }

  std::vector<HKEY> opened_;
};

TEST_F(RegistryTest, CreateReportsNewThenExistingAndMakesEveryKeyOnThePath) {
  DWORD disposition = 0;
  HKEY k = Create(HKEY_CURRENT_USER, u"Software\\Orv Test\\Deep\\Key", &disposition);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

  HKEY again = Create(HKEY_CURRENT_USER, u"SOFTWARE\\orv test\\deep\\KEY", &disposition);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  HKEY mid = nullptr;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software\\Orv Test\\Deep", &mid), ERROR_SUCCESS);
  // Both handles name one key.
  ASSERT_EQ(SetDword(k, u"V", 5), ERROR_SUCCESS);
  std::vector<BYTE> data;
  DWORD type = 0;
  ASSERT_EQ(Get(again, u"v", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0], 5);
}

TEST_F(RegistryTest, OpeningAMissingKeyFailsAndCreatesNothing) {
  HKEY k = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing\\Key", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k, nullptr);
  HKEY sw = Create(HKEY_CURRENT_USER, u"Software");
  EXPECT_EQ(SubKeyNames(sw).size(), 0u);
}

TEST_F(RegistryTest, RootsAreSeparateStores) {
  HKEY user = Create(HKEY_CURRENT_USER, u"Shared\\Path");
  ASSERT_EQ(SetDword(user, u"Where", 1), ERROR_SUCCESS);
  HKEY machine = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Shared\\Path", &machine), ERROR_FILE_NOT_FOUND);
  machine = Create(HKEY_LOCAL_MACHINE, u"Shared\\Path");
  std::vector<BYTE> data;
  DWORD type = 0;
  EXPECT_EQ(Get(machine, u"Where", &type, &data), ERROR_FILE_NOT_FOUND);
}

struct ValueCase {
  const char* label;
  DWORD type;
  std::vector<BYTE> data;
};

TEST_F(RegistryTest, ValuesReturnTheirTypeAndExactlyTheBytesStored) {
  const std::vector<BYTE> multi = [] {
    std::vector<BYTE> b = SzBytes(u"one");
    auto two = SzBytes(u"two");
    b.insert(b.end(), two.begin(), two.end());
    b.push_back(0);
    b.push_back(0);
    return b;
  }();
  const ValueCase cases[] = {
      {"string with terminator", REG_SZ, SzBytes(u"Tech|Sport|")},
      {"string without terminator", REG_SZ, {'a', 0, 'b', 0}},
      {"expandable string", REG_EXPAND_SZ, SzBytes(u"%TEMP%\\x")},
      {"binary with zeros", REG_BINARY, {0, 1, 0, 255, 0, 0, 7, 0}},
      {"dword", REG_DWORD, {0xF0, 0xDE, 0, 0}},
      {"multi string", REG_MULTI_SZ, multi},
      {"empty binary", REG_BINARY, {}},
      {"none", REG_NONE, {9}},
      {"unknown type", 0x1234, {1, 2, 3}},
      {"large", REG_BINARY, std::vector<BYTE>(70000, 0x5A)},
  };
  HKEY k = Create(HKEY_CURRENT_USER, u"Values");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::u16string name = u"v-" + std::u16string(c.label, c.label + std::strlen(c.label));
    ASSERT_EQ(Set(k, name.c_str(), c.type, c.data), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(k, name.c_str(), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
}

TEST_F(RegistryTest, SettingAgainReplacesTypeAndData) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Replace");
  ASSERT_EQ(Set(k, u"X", REG_SZ, SzBytes(u"a long string value")), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"x", 7), ERROR_SUCCESS);
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_EQ(Get(k, u"X", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, (std::vector<BYTE>{7, 0, 0, 0}));
  EXPECT_EQ(ValueNames(k), (std::vector<std::u16string>{u"X"}));
}

TEST_F(RegistryTest, QuerySizesAndTooSmallBuffers) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Sizes");
  const std::vector<BYTE> text = SzBytes(u"DAADA2BC");  // 18 bytes
  ASSERT_EQ(Set(k, u"Text", REG_SZ, text), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(type, REG_SZ);

  BYTE small[4] = {1, 2, 3, 4};
  size = sizeof small;
  type = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(type, REG_SZ);

  BYTE exact[18];
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(std::vector<BYTE>(exact, exact + 18), text);

  BYTE big[64];
  size = sizeof big;
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, nullptr, big, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 18u);

  // A buffer without a size is refused; type alone tells the value exists.
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, nullptr, big, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(k, u"Text", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(k, u"Missing", nullptr, &type, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  size = sizeof big;
  EXPECT_EQ(RegQueryValueExW(k, u"Missing", nullptr, nullptr, big, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, NamesIgnoreCaseButKeepTheirFirstSpelling) {
  struct NameCase {
    const char16_t* stored;
    const char16_t* asked;
    bool same;
  };
  const NameCase cases[] = {
      {u"AutoUpdate", u"AUTOUPDATE", true},
      {u"autoupdatetime", u"AutoUpdateTime", true},
      {u"\u00C4rger", u"\u00E4RGER", true},            // Latin-1
      {u"\u0416\u0443\u0440", u"\u0436\u0423\u0420", true},  // Cyrillic
      {u"Stra\u00DFe", u"STRASSE", false},             // no multi-letter folding
      {u"Name1", u"Name2", false},
      {u"a\\b/c|d", u"A\\B/C|D", true},                // value names may hold "\"
      {u"x\xD800y", u"X\xD800Y", true},                // unpaired surrogate kept exactly
      {u"", u"", true},                                 // the default value
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::u16string_view(c.stored).size());
    // A fresh key per case, so earlier cases cannot answer.
    RegDeleteKeyW(HKEY_CURRENT_USER, u"Names");
    HKEY k = Create(HKEY_CURRENT_USER, u"Names");
    ASSERT_EQ(SetDword(k, c.stored, 42), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(Get(k, c.asked, &type, &data), c.same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(ValueNames(k), (std::vector<std::u16string>{c.stored}));
  }
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndEnumerateAsCreated) {
  HKEY root = Create(HKEY_CURRENT_USER, u"Channels");
  Create(root, u"Tech");
  Create(root, u"\u00C9conomie");
  Create(root, u"sport");
  DWORD disposition = 0;
  Create(root, u"TECH", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  Create(root, u"\u00E9CONOMIE", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(SubKeyNames(root), (std::vector<std::u16string>{u"Tech", u"\u00C9conomie", u"sport"}));

  char16_t name[3];
  DWORD cch = 3;  // "Tech" needs 5 with its terminator
  EXPECT_EQ(RegEnumKeyExW(root, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  char16_t full[8];
  cch = 8;
  FILETIME written{};
  EXPECT_EQ(RegEnumKeyExW(root, 2, full, &cch, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
  EXPECT_EQ(cch, 5u);
  EXPECT_EQ(std::u16string(full), u"sport");
  EXPECT_GT(FileTimeToULL(written), FILETIME_UNIX_EPOCH);
  cch = 8;
  EXPECT_EQ(RegEnumKeyExW(root, 3, full, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, ValueEnumerationGivesNamesTypesDataAndEnds) {
  HKEY k = Create(HKEY_CURRENT_USER, u"PluginEnvironment");
  ASSERT_EQ(Set(k, u"Theme", REG_SZ, SzBytes(u"dark")), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"Columns", 3), ERROR_SUCCESS);
  ASSERT_EQ(Set(k, u"Blob", REG_BINARY, {1, 2, 3, 4, 5, 6}), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"theme", 1), ERROR_SUCCESS);  // replaces Theme, keeps its place

  EXPECT_EQ(ValueNames(k), (std::vector<std::u16string>{u"Theme", u"Columns", u"Blob"}));

  char16_t name[16];
  DWORD cch = 16, type = 0, size = 0;
  EXPECT_EQ(RegEnumValueW(k, 2, name, &cch, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 6u);
  BYTE small[2];
  cch = 16;
  size = sizeof small;
  EXPECT_EQ(RegEnumValueW(k, 2, name, &cch, nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  cch = 5;  // "Blob" + terminator fits exactly
  BYTE data[6];
  size = sizeof data;
  EXPECT_EQ(RegEnumValueW(k, 2, name, &cch, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Blob");
  EXPECT_EQ(data[5], 6);
  cch = 4;
  EXPECT_EQ(RegEnumValueW(k, 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 16;
  EXPECT_EQ(RegEnumValueW(k, 3, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, DeleteValue) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Del");
  ASSERT_EQ(SetDword(k, u"A", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"B", 2), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"a"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ValueNames(k), (std::vector<std::u16string>{u"B"}));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeSubtreeAndNothingElse) {
  HKEY a = Create(HKEY_CURRENT_USER, u"Tree\\A");
  HKEY c = Create(HKEY_CURRENT_USER, u"Tree\\A\\B\\C");
  HKEY sibling = Create(HKEY_CURRENT_USER, u"Tree\\AB");
  ASSERT_EQ(SetDword(a, u"va", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(c, u"vc", 3), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(sibling, u"vs", 4), ERROR_SUCCESS);

  HKEY tree = Create(HKEY_CURRENT_USER, u"Tree");
  EXPECT_EQ(RegDeleteKeyW(tree, u"a"), ERROR_SUCCESS);

  HKEY k = nullptr;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Tree\\A", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Tree\\A\\B\\C", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubKeyNames(tree), (std::vector<std::u16string>{u"AB"}));
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_EQ(Get(sibling, u"vs", &type, &data), ERROR_SUCCESS);

  // Handles to deleted keys no longer read or write anything.
  EXPECT_NE(Get(c, u"vc", &type, &data), ERROR_SUCCESS);
  EXPECT_NE(SetDword(c, u"vc", 5), ERROR_SUCCESS);
  // Re-creating the path gives an empty key.
  HKEY again = Create(HKEY_CURRENT_USER, u"Tree\\A\\B\\C");
  EXPECT_EQ(Get(again, u"vc", &type, &data), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(Get(c, u"vc", &type, &data), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Tree\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, QueryInfoCountsAndLongestLengths) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Info");
  Create(k, u"abc");
  Create(k, u"abcdefg");
  ASSERT_EQ(SetDword(k, u"n", 1), ERROR_SUCCESS);
  ASSERT_EQ(Set(k, u"LongerName", REG_BINARY, std::vector<BYTE>(33, 1)), ERROR_SUCCESS);
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName, &maxData,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 7u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 10u);
  EXPECT_EQ(maxData, 33u);
}

TEST_F(RegistryTest, BadHandlesAndArguments) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"H", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"H", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  const std::u16string longName(256, u'k');
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EmptyPartsOfAPathAreSkippedAndAnEmptyPathOpensTheKeyAgain) {
  HKEY k = Create(HKEY_CURRENT_USER, u"\\Lead\\\\Trail\\");
  ASSERT_EQ(SetDword(k, u"v", 1), ERROR_SUCCESS);
  HKEY same = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Lead\\Trail", &same), ERROR_SUCCESS);
  HKEY self = nullptr;
  ASSERT_EQ(Open(same, u"", &self), ERROR_SUCCESS);
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_EQ(Get(self, u"V", &type, &data), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ValuesLastAcrossReopeningAndStayWithTheirDevice) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Persist");
  ASSERT_EQ(SetDword(k, u"v", 99), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(k), ERROR_SUCCESS);
  const std::string first = DeviceRoot();

  {
    orvtest::ScopedTempDevice other;
    // The old handle belongs to the other device.
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(Get(k, u"v", &type, &data), ERROR_INVALID_HANDLE);
    HKEY there = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Persist", 0, 0, &there), ERROR_FILE_NOT_FOUND);
  }
  SetDeviceRoot(first);
  HKEY back = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Persist", &back), ERROR_SUCCESS);
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_EQ(Get(back, u"V", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, (std::vector<BYTE>{99, 0, 0, 0}));
}

// Change notification within the process, for each kind of watch.
struct WatchCase {
  const char* label;
  BOOL subtree;
  DWORD filter;
  int change;  // 0 value of the key, 1 value of a sub-key, 2 new sub-key, 3 deleted sub-key, 4 key deleted
  bool fires;
};

class RegistryChangeTest : public RegistryTest, public testing::WithParamInterface<WatchCase> {};

TEST_P(RegistryChangeTest, FiresForWhatItWatches) {
  const WatchCase& c = GetParam();
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware");
  HKEY child = Create(k, u"Child");
  HANDLE n = CeFindFirstRegChange(k, c.subtree, c.filter);
  ASSERT_NE(n, INVALID_HANDLE_VALUE);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(WaitForSingleObject(n, 0), WAIT_TIMEOUT);
  switch (c.change) {
    case 0: ASSERT_EQ(SetDword(k, u"Cradled", 1), ERROR_SUCCESS); break;
    case 1: ASSERT_EQ(SetDword(child, u"x", 1), ERROR_SUCCESS); break;
    case 2: Create(k, u"NewOne"); break;
    case 3: ASSERT_EQ(RegDeleteKeyW(k, u"Child"), ERROR_SUCCESS); break;
    case 4: ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"System\\State"), ERROR_SUCCESS); break;
  }
  EXPECT_EQ(WaitForSingleObject(n, c.fires ? 5000 : 50), c.fires ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
  if (c.fires) {
    // Signalled until re-armed, then quiet until the next change.
    EXPECT_EQ(WaitForSingleObject(n, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CeFindNextRegChange(n));
    EXPECT_EQ(WaitForSingleObject(n, 0), WAIT_TIMEOUT);
  }
  EXPECT_TRUE(CeFindCloseRegChange(n));
}

INSTANTIATE_TEST_SUITE_P(
    Watches, RegistryChangeTest,
    testing::Values(WatchCase{"own value", FALSE, REG_NOTIFY_CHANGE_LAST_SET, 0, true},
                    WatchCase{"sub-key value, subtree", TRUE, REG_NOTIFY_CHANGE_LAST_SET, 1, true},
                    WatchCase{"sub-key value, key only", FALSE, REG_NOTIFY_CHANGE_LAST_SET, 1, false},
                    WatchCase{"new sub-key, names", FALSE, REG_NOTIFY_CHANGE_NAME, 2, true},
                    WatchCase{"new sub-key, values only", FALSE, REG_NOTIFY_CHANGE_LAST_SET, 2, false},
                    WatchCase{"own value, names only", FALSE, REG_NOTIFY_CHANGE_NAME, 0, false},
                    WatchCase{"deleted sub-key", FALSE, REG_NOTIFY_CHANGE_NAME, 3, true},
                    WatchCase{"watched key deleted", FALSE, REG_NOTIFY_CHANGE_LAST_SET, 4, true},
                    WatchCase{"both, subtree", TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, 1,
                              true}),
    [](const testing::TestParamInfo<WatchCase>& info) {
      std::string s;
      for (const char* p = info.param.label; *p; p++) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return s;
    });

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kValues = 20;
  HKEY k = Create(HKEY_CURRENT_USER, u"Threads");
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kValues; i++) {
        const std::u16string name = u"t" + std::u16string(1, char16_t(u'0' + t)) + u"-" +
                                    std::u16string(1, char16_t(0x400 + i));
        HKEY sub = nullptr;
        if (SetDword(k, name.c_str(), static_cast<DWORD>(t * 100 + i)) != ERROR_SUCCESS) failures++;
        if (RegCreateKeyExW(k, name.c_str(), 0, nullptr, 0, 0, nullptr, &sub, nullptr) != ERROR_SUCCESS) failures++;
        else RegCloseKey(sub);
        DWORD v = 0, size = 4, type = 0;
        if (RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
            v != static_cast<DWORD>(t * 100 + i))
          failures++;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(ValueNames(k).size(), static_cast<std::size_t>(kThreads * kValues));
  EXPECT_EQ(SubKeyNames(k).size(), static_cast<std::size_t>(kThreads * kValues));
}

TEST_F(RegistryTest, NotificationWakesAWaiterBlockedOnIt) {
  HKEY k = Create(HKEY_CURRENT_USER, u"Wake");
  HANDLE n = CeFindFirstRegChange(k, FALSE, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_NE(n, INVALID_HANDLE_VALUE);
  HANDLE stop = CreateLocalEvent(true, false);
  std::thread writer([&] {
    // Writes until told to stop, so the waiter is woken whenever it blocks.
    for (int i = 0; i < 500 && WaitForSingleObject(stop, 10) == WAIT_TIMEOUT; i++) SetDword(k, u"tick", i);
  });
  const DWORD r = WaitForSingleObject(n, 10000);
  SetEvent(stop);
  writer.join();
  EXPECT_EQ(r, WAIT_OBJECT_0);
  // Mixed with a local event in one wait.
  HANDLE local = CreateLocalEvent(true, false);
  const HANDLE both[] = {local, n};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 1000), WAIT_OBJECT_0 + 1);
  CloseHandle(local);
  CloseHandle(stop);
  CeFindCloseRegChange(n);
}

TEST_F(RegistryTest, NotificationOnAMissingKeyIsRefused) {
  EXPECT_EQ(CeFindFirstRegChange(nullptr, FALSE, REG_NOTIFY_CHANGE_LAST_SET), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CeFindNextRegChange(nullptr));
  HANDLE local = CreateLocalEvent(false, false);
  EXPECT_FALSE(CeFindCloseRegChange(local));  // not a notification
  CloseHandle(local);
}

}  // namespace
