// The Today item's shell: where the item sits among the host's items (a
// chain of containers, a chain that loops), the starter's requests, and the
// channel selection written by several writers.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "core/Localizer.h"
#include "core/VORegistry.h"
#include "database/TodayChannelFilter.h"
#include "platform/base/Guid.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"
#include "resources/today/resource.h"
#include "today/MainProgramStarter.h"
#include "today/TodayCommon.h"
#include "today/TodayItem.h"

namespace {

using namespace plat;

void Item(const std::u16string& name, DWORD enabled, const std::u16string& embedded, DWORD possible = 0,
          DWORD current = 0, DWORD indent = 0) {
  const std::u16string path = std::u16string(kTodayItemsKey) + u"\\" + name;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
  auto dword = [&](const char16_t* n, DWORD v) {
    RegSetValueExW(key, n, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  };
  dword(u"Enabled", enabled);
  dword(u"STCPossibleTabs", possible);
  dword(u"STCCurrentTabs", current);
  dword(u"STCRecommendedIndent", indent);
  if (!embedded.empty())
    RegSetValueExW(key, u"STEmbedded", 0, REG_SZ, reinterpret_cast<const BYTE*>(embedded.c_str()),
                   static_cast<DWORD>((embedded.size() + 1) * 2));
  RegCloseKey(key);
}

class TodayItemTest : public orvtest::DeviceTest {};

// The host's process has read no language file: the item reads the user's
// before its first window, and its texts (status lines, context menu) come
// out translated.
TEST_F(TodayItemTest, ItemWindowShowsTheUsersLanguage) {
  GetLocalizer().Unload();
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Lang"));
  ASSERT_TRUE(OpenSettingsKey().SetString(u"language", u"xx"));
  CreateDirectoryW(u"\\Lang", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Lang/localization_xx.txt",
                         "Loading...|Chargement...\nOptions...|R\xc3\xa9glages...\n");
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"TodayLanguageHost";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, u"TodayLanguageHost", u"", WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(host, nullptr);
  RegisterTodayItemClass();
  TODAYLISTITEM record{};
  record.fEnabled = TRUE;
  HWND item = CreateTodayItemWindow(&record, host);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(GetLocalizer().IsLoaded());
  EXPECT_EQ(LoadLocalizedString(IDS_TODAY_LOADING), u"Chargement...");
  EXPECT_EQ(LoadLocalizedString(IDS_TODAY_OPTIONS), u"R\u00e9glages...");
  EXPECT_EQ(LoadLocalizedString(IDS_TODAY_NO_CARD), u"Storage card is not inserted");  // no translation
  DestroyWindow(item);
  GetTodayViewHolder().Reset();
  DestroyWindow(host);
  UnregisterTodayItemClass();
  GetLocalizer().Unload();
}

// The plug-in object of the other shell host answers for its own interface
// and the base one only.
TEST_F(TodayItemTest, SmartPluginAnswersOnlyItsInterfaces) {
  ISmartTodayPlugin* plugin = nullptr;
  ASSERT_EQ(GetSmartPluginInterface(0, &plugin), 0);
  ASSERT_NE(plugin, nullptr);
  const GUID unknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  const GUID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(plugin->QueryInterface(&other, &out), static_cast<HRESULT>(0x80004002u));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(plugin->QueryInterface(&unknown, &out), 0);
  EXPECT_EQ(out, plugin);
  EXPECT_EQ(plugin->QueryInterface(&unknown, nullptr), static_cast<HRESULT>(0x80070057u));
  plugin->Release();
  EXPECT_EQ(plugin->Release(), 0u);
}

TEST_F(TodayItemTest, PlacementFollowsAChainOfContainers) {
  Item(u"\"Orv News\"", 0, u"Tabs");
  Item(u"Tabs", 1, u"", 0x1, 0x1, 3);
  TodayItemPlacement placement;
  ASSERT_EQ(ReadTodayItemPlacement(u"\"Orv News\"", placement), 0);
  EXPECT_EQ(placement.Embedded, 1u);
  EXPECT_EQ(placement.Name, u"Tabs");
  EXPECT_EQ(placement.RecommendedIndent, 3u);
  EXPECT_EQ(placement.PossibleTabs, 0x1u);
  // The container is itself embedded: its container's masks join.
  Item(u"Tabs", 0, u"Outer", 0x1, 0x1, 3);
  Item(u"Outer", 1, u"", 0x6, 0x4);
  ASSERT_EQ(ReadTodayItemPlacement(u"\"Orv News\"", placement), 0);
  EXPECT_EQ(placement.PossibleTabs, 0x7u);
  EXPECT_EQ(placement.CurrentTabs, 0x5u);

  EXPECT_NE(ReadTodayItemPlacement(u"", placement), 0);
  ASSERT_EQ(ReadTodayItemPlacement(u"Not there", placement), 0);
  EXPECT_EQ(placement.Embedded, 0u);
}

TEST_F(TodayItemTest, PlacementOfContainersInALoopEnds) {
  Item(u"\"Orv News\"", 0, u"A");
  Item(u"A", 0, u"B", 0x1);
  Item(u"B", 0, u"A", 0x2);
  TodayItemPlacement placement;
  auto read = std::async(std::launch::async, [&] { return ReadTodayItemPlacement(u"\"Orv News\"", placement); });
  ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(read.get(), 0);
  EXPECT_EQ(placement.Embedded, 1u);
  EXPECT_EQ(placement.PossibleTabs, 0x3u);
}

TEST_F(TodayItemTest, RequestDuringALaunchIsServedAfterIt) {
  CMainProgramStarter starter;
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> runs{0};
  starter.SetShowFunctionForTesting([&] {
    if (++runs == 1) WaitForSingleObject(release, 20000);
  });
  starter.RequestShow();
  ASSERT_TRUE(orvtest::Eventually([&] { return runs == 1; }));
  starter.RequestShow();  // while the first launch runs
  SetEvent(release);
  EXPECT_TRUE(orvtest::Eventually([&] { return runs == 2; }));
  EXPECT_TRUE(orvtest::StaysTrue([&] { return runs == 2; }, 100));
  CloseHandle(release);
}

TEST_F(TodayItemTest, ArticleRequestWritesTheViewStateAndEmptyOnesNothing) {
  CMainProgramStarter starter;
  std::atomic<int> runs{0};
  starter.SetShowFunctionForTesting([&] { ++runs; });
  starter.RequestShowArticle(u"", u"abc");
  starter.RequestShowArticle(u"News", u"");
  EXPECT_TRUE(orvtest::StaysTrue([&] { return runs == 0; }, 100));
  starter.RequestShowArticle(u"News", u"0123");
  ASSERT_TRUE(orvtest::Eventually([&] { return runs == 1; }));
  CVORegistry key = OpenSettingsKey();
  EXPECT_EQ(key.GetString(u"DBViewState.CurrentChannelName", u""), u"News");
  EXPECT_EQ(key.GetString(u"DBViewState.CurrentArticleID", u""), u"0123");
  EXPECT_EQ(key.GetDWORD(u"DBViewState.CurrentView", 0), 2u);
}

TEST_F(TodayItemTest, WithoutInstallFolderNothingStartsAndUnloadIsPrompt) {
  auto starter = std::make_unique<CMainProgramStarter>();
  EXPECT_EQ(starter->StartMainProgram(), nullptr);
  // With a program file that never shows a window the starter would wait
  // 15 s; stopping it ends the waits.
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Apps"));
  CreateDirectoryW(u"\\Apps", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Apps/Orv News.exe", "not a program");
  starter->RequestShow();
  ASSERT_TRUE(orvtest::Eventually([&] { return starter->GetLaunchCountForTesting() == 1; }));
  auto stopped = std::async(std::launch::async, [&] { starter.reset(); });
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(TodayItemTest, SelectionWritersKeepEachOthersChanges) {
  ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Content"));
  CTodayChannelFilter mine;
  ASSERT_TRUE(mine.SetEntries({{u"Alpha", u"1"}}));
  // Another program adds its channel meanwhile; this one's stale copy must
  // not drop it.
  CTodayChannelFilter other;
  ASSERT_TRUE(other.SetEntries({{u"Beta", u"0"}}));
  ASSERT_TRUE(mine.SetEntries({{u"Alpha", u"0"}}));
  CTodayChannelFilter reader;
  CStringToStringMap entries;
  reader.GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Alpha", u"0"}, {u"Beta", u"0"}}));

  // While another writer holds the mutex, a change is not written.
  std::atomic<bool> held{false}, done{false};
  std::thread holder([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kChannelsFilterMutex);
    WaitForSingleObject(mutex, INFINITE);
    held = true;
    while (!done) Sleep(1);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  ASSERT_TRUE(orvtest::Eventually([&] { return held.load(); }));
  auto write = std::async(std::launch::async, [&] { return mine.SetEntries({{u"Gamma", u"1"}}); });
  EXPECT_FALSE(write.get());
  done = true;
  holder.join();
  reader.Load();
  reader.GetEntries(entries);
  EXPECT_EQ(entries.count(u"Gamma"), 0u);
}

}  // namespace
