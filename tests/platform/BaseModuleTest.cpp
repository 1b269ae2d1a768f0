#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/base/Module.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"

using namespace plat;

namespace {

int Answer() { return 42; }
int ByOrdinal() { return 188; }

FARPROC Resolve(const char* name) {
  if (std::strcmp(name, "Answer") == 0) return reinterpret_cast<FARPROC>(&Answer);
  if (std::strcmp(name, "#188") == 0) return reinterpret_cast<FARPROC>(&ByOrdinal);
  return nullptr;
}

class BaseModule : public ::testing::Test {
 protected:
  void TearDown() override {
    UnregisterBuiltInModule(u"orvtestmodule.dll");
    SetProgramDevicePath(nullptr);
  }
};

class BaseSysInfo : public ::testing::Test {
 protected:
  void TearDown() override { ResetSystemInfoForTesting(); }
};

}  // namespace

TEST_F(BaseModule, MissingLibraryFailsCleanly) {
  const char16_t* names[] = {u"orvprofiler.dll", u"no_such_orv_module.dll", u"\\Windows\\missing.dll", u"", nullptr};
  for (const char16_t* n : names) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(n), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
  EXPECT_EQ(GetModuleHandleW(u"no_such_orv_module.dll"), nullptr);
}

TEST_F(BaseModule, BuiltInModuleByNameIgnoringCase) {
  EXPECT_EQ(LoadLibraryW(u"orvtestmodule.dll"), nullptr);
  RegisterBuiltInModule(u"OrvTestModule.dll", Resolve);
  EXPECT_EQ(GetModuleHandleW(u"orvtestmodule.dll"), nullptr);  // not loaded yet
  HMODULE h = LoadLibraryW(u"ORVTESTMODULE.DLL");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LoadLibraryW(u"orvtestmodule"), h);  // ".dll" is implied
  EXPECT_EQ(GetModuleHandleW(u"OrvTestModule.dll"), h);

  auto fn = reinterpret_cast<int (*)()>(GetProcAddressW(h, u"Answer"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  auto byOrdinal = reinterpret_cast<int (*)()>(GetProcAddress(h, reinterpret_cast<const char*>(188)));
  ASSERT_NE(byOrdinal, nullptr);
  EXPECT_EQ(byOrdinal(), 188);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(h, "Missing"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(GetModuleHandleW(u"orvtestmodule.dll"), h);  // loaded twice, freed once
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(GetModuleHandleW(u"orvtestmodule.dll"), nullptr);
}

TEST_F(BaseModule, SharedLibraryThroughTheLibraryPath) {
  // "z.dll" is looked for as libz.so.
  HMODULE h = LoadLibraryW(u"z.dll");
  ASSERT_NE(h, nullptr);
  auto version = reinterpret_cast<const char* (*)()>(GetProcAddress(h, "zlibVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version()[0], '1');
  EXPECT_EQ(GetProcAddress(h, "NoSuchEntryPoint"), nullptr);
  EXPECT_EQ(GetProcAddress(h, reinterpret_cast<const char*>(5)), nullptr);  // no ordinals
  EXPECT_TRUE(FreeLibrary(h));
  // A host library name is taken as given too.
  HMODULE byName = LoadLibraryW(u"libz.so.1");
  ASSERT_NE(byName, nullptr);
  EXPECT_NE(GetProcAddressW(byName, u"zlibVersion"), nullptr);
  EXPECT_TRUE(FreeLibrary(byName));
}

TEST_F(BaseModule, ProgramModuleAndFileName) {
  HMODULE self = GetModuleHandleW(nullptr);
  ASSERT_NE(self, nullptr);
  char16_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::u16string path(buf, n);
  EXPECT_EQ(path.rfind(u"\\Program Files\\Orv News\\", 0), 0u);
  EXPECT_EQ(path.substr(path.size() - 4), u".exe");

  SetProgramDevicePath(u"\\Program Files\\Orv News\\OrvNews.exe");
  EXPECT_EQ(GetModuleFileNameW(self, buf, MAX_PATH), 35u);
  EXPECT_EQ(std::u16string(buf), u"\\Program Files\\Orv News\\OrvNews.exe");
  char16_t small[8];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
  EXPECT_EQ(std::u16string(small), u"\\Progra");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(BaseSysInfo, DefaultsArePocketPcOnCe52) {
  char16_t buf[64];
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"PocketPC");
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETOEMINFO, sizeof buf, buf, 0));
  EXPECT_NE(std::u16string(buf).find(u"Linux"), std::u16string::npos);
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion, 5u);
  EXPECT_EQ(v.dwMinorVersion, 2u);
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_CE);
  OSVERSIONINFOW wrong{};
  EXPECT_FALSE(GetVersionExW(&wrong));
}

TEST_F(BaseSysInfo, BufferTooSmallFails) {
  char16_t buf[8];
  SetLastError(0);
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 16, buf, 0));  // "PocketPC" needs 18 bytes
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char16_t exact[9];
  EXPECT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof exact, exact, 0));
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 64, nullptr, 0));
  EXPECT_FALSE(SystemParametersInfoW(9999, sizeof exact, exact, 0));
}

TEST_F(BaseSysInfo, TestsCanPoseAnotherDevice) {
  SystemInfoSettings phone;
  phone.platformType = u"Smartphone";
  phone.oemInfo = u"HTC_X7500 test unit";
  phone.majorVersion = 4;
  phone.minorVersion = 21;
  SetSystemInfoForTesting(phone);
  char16_t buf[260];
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"Smartphone");
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETOEMINFO, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"HTC_X7500 test unit");
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion, 4u);
  EXPECT_EQ(v.dwMinorVersion, 21u);
  ResetSystemInfoForTesting();
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"PocketPC");
}
