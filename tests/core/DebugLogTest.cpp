#include "core/DebugLog.h"

#include <gtest/gtest.h>

#include <ostream>

#include <unistd.h>

#include <cstdio>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

namespace {

class DebugLogTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    plat::SetClock(&clock_);
    ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
  }
  void TearDown() override { plat::SetClock(nullptr); }

  static void SetDeveloperMode(plat::DWORD value) { ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", value)); }

  static std::string LogText() {
    std::string host = plat::HostPathFromDevicePath(CDebugLog::GetInstance().GetPath());
    return orvtest::ReadHostFile(host);
  }

  plat::ManualClock clock_;
};

TEST_F(DebugLogTest, FileLiesBesideTheProgram) {
  EXPECT_EQ(CDebugLog::GetInstance().GetPath(), GetModuleFolder() + u"\\Orv News.exe_log.txt");
  std::u16string program = plat::ModuleDevicePath();
  EXPECT_EQ(GetModuleFolder(), program.substr(0, program.rfind(u'\\')));
}

TEST_F(DebugLogTest, PreviousRunsLogIsDeleted) {
  std::u16string path = GetModuleFolder() + u"\\Orv News.exe_log.txt";
  orvtest::WriteHostFile(plat::HostPathFromDevicePath(path), "old run\n");
  ASSERT_TRUE(FileExists(path));
  CDebugLog& log = CDebugLog::GetInstance();
  EXPECT_FALSE(FileExists(path));
  SetDeveloperMode(1);
  log.WriteLine(u"new run");
  EXPECT_EQ(LogText(), "new run\n");
}

TEST_F(DebugLogTest, NothingIsWrittenWhileDeveloperModeIsOff) {
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u">> CJobManager::AddJob");
  log.Printf(u"** CJob constructed : %08x", 0x1234);
  EXPECT_FALSE(FileExists(log.GetPath()));
  EXPECT_EQ(log.GetIndent(), 0);  // a disabled line does not move the level
  // The missing setting was created with its default.
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"DeveloperMode", CVORegistry::kNoDefault), 0u);
  SetDeveloperMode(0);
  clock_.Advance(20000);
  log.WriteLine(u"still off");
  EXPECT_FALSE(FileExists(log.GetPath()));
}

struct IndentCase {
  const char* name;
  std::vector<std::u16string> lines;
  std::string expected;
  int finalIndent;
};

// Names the case in test listings.
void PrintTo(const IndentCase& c, std::ostream* os) { *os << c.name; }

class DebugLogIndent : public DebugLogTest, public ::testing::WithParamInterface<IndentCase> {};

TEST_P(DebugLogIndent, LevelsFollowTheMarkers) {
  const IndentCase& c = GetParam();
  SetDeveloperMode(1);
  CDebugLog& log = CDebugLog::GetInstance();
  for (const auto& line : c.lines) log.WriteLine(line);
  EXPECT_EQ(LogText(), c.expected);
  EXPECT_EQ(log.GetIndent(), c.finalIndent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DebugLogIndent,
    ::testing::Values(
        IndentCase{"plain", {u"one", u"two"}, "one\ntwo\n", 0},
        IndentCase{"event_inside_level",
                   {u">> CJobManager::AddJob", u"** CJobManager::AddJob - adding to queue", u"<< CJobManager::AddJob"},
                   ">> CJobManager::AddJob\n  ** CJobManager::AddJob - adding to queue\n<< CJobManager::AddJob\n", 0},
        IndentCase{"two_nested_levels",
                   {u">> a", u">> b", u"<< b", u"<< a"},
                   ">> a\n  >> b\n  << b\n<< a\n", 0},
        IndentCase{"close_at_level_zero_stays_zero", {u"<< CJobManager::AddJob - duplicate", u"next"},
                   "<< CJobManager::AddJob - duplicate\nnext\n", 0},
        IndentCase{"extra_close_after_levels",
                   {u">> a", u"<< a", u"<< again", u">> b", u"in b"},
                   ">> a\n<< a\n<< again\n>> b\n  in b\n", 1},
        IndentCase{"markers_only_at_start", {u">> a", u"x >> y", u"x << y", u"<< a"},
                   ">> a\n  x >> y\n  x << y\n<< a\n", 0},
        IndentCase{"bare_markers", {u">>", u">>", u"<<"}, ">>\n  >>\n  <<\n", 1},
        IndentCase{"non_ascii_text", {u">> Caf\u00E9", u"\u20AC"}, ">> Caf\xC3\xA9\n  \xE2\x82\xAC\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DebugLogTest, PrintfFormatsWideText) {
  SetDeveloperMode(1);
  CDebugLog& log = CDebugLog::GetInstance();
  log.Printf(u"** CJob constructed : %08x", 0xBEEF);
  log.Printf(u"Close - WriteFile(%d) %s", -5, u"done");
  EXPECT_EQ(LogText(), "** CJob constructed : 0000beef\nClose - WriteFile(-5) done\n");
}

TEST_F(DebugLogTest, DeveloperModeIsReadAgainAfterTenSeconds) {
  SetDeveloperMode(1);
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u"one");  // the first line reads the setting at once
  SetDeveloperMode(0);
  log.WriteLine(u"two");  // cached
  clock_.Advance(10000);
  log.WriteLine(u"three");  // exactly 10 s: still cached
  clock_.Advance(1);
  log.WriteLine(u"four");  // read again: off
  SetDeveloperMode(1);
  clock_.Advance(5000);
  log.WriteLine(u"five");  // cached off
  clock_.Advance(5001);
  log.WriteLine(u"six");
  EXPECT_EQ(LogText(), "one\ntwo\nthree\nsix\n");
}

TEST_F(DebugLogTest, TickCountWrapIsHandled) {
  plat::ManualClock wrapping(129067776000000000ull, 0xFFFFFF00u);
  plat::SetClock(&wrapping);
  SetDeveloperMode(1);
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u"before");
  SetDeveloperMode(0);
  wrapping.Advance(0x200);  // the tick count wraps; only 512 ms passed
  log.WriteLine(u"after");
  plat::SetClock(&clock_);
  EXPECT_EQ(LogText(), "before\nafter\n");
}

TEST_F(DebugLogTest, MissingFolderLosesLinesSilently) {
  CDebugLog& log = CDebugLog::GetInstance();
  ASSERT_TRUE(DeleteFolderTree(GetModuleFolder()));
  SetDeveloperMode(1);
  log.WriteLine(u"lost");
  EXPECT_FALSE(FileExists(log.GetPath()));
}

TEST_F(DebugLogTest, LinesOfSeveralThreadsStayWhole) {
  SetDeveloperMode(1);
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u"start");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 20; ++i) log.Printf(u"thread %d line %d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  std::string text = LogText();
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
    lines.push_back(text.substr(begin, end - begin));
  EXPECT_EQ(begin, text.size());  // the file ends with a whole line
  ASSERT_EQ(lines.size(), 81u);
  std::vector<int> next(4, 0);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    int t = -1, n = -1;
    ASSERT_EQ(std::sscanf(lines[i].c_str(), "thread %d line %d", &t, &n), 2) << lines[i];
    ASSERT_GE(t, 0);
    ASSERT_LT(t, 4);
    EXPECT_EQ(n, next[t]++);  // each thread's lines in its order
  }
}

// ---- Profiler hooks ------------------------------------------------------------

TEST(ProfilerHooks, AbsentLibraryLeavesEveryHookUnbound) {
  const ProfilerHooks& hooks = GetProfilerHooks();
  EXPECT_EQ(hooks.module, nullptr);
  EXPECT_EQ(hooks.BeginDuration, nullptr);
  EXPECT_EQ(hooks.EndDuration, nullptr);
  EXPECT_EQ(hooks.Flush, nullptr);
  EXPECT_EQ(&GetProfilerHooks(), &hooks);
  { CProfileScope scope(u"CreateFile"); }
  ProfileBegin(u"SetEndOfFile");
  ProfileEnd(u"SetEndOfFile");
  ProfileFlush();
}

// A stand-in profiler library, built into the test program.
std::u16string g_calls;

void TestBegin(const char16_t* name) { g_calls += u"+" + std::u16string(name); }
void TestEnd(const char16_t* name) { g_calls += u"-" + std::u16string(name); }
void TestFlush() { g_calls += u"!"; }

plat::FARPROC ResolveFull(const char* name) {
  if (std::strcmp(name, "BeginDuration") == 0) return reinterpret_cast<plat::FARPROC>(&TestBegin);
  if (std::strcmp(name, "EndDuration") == 0) return reinterpret_cast<plat::FARPROC>(&TestEnd);
  if (std::strcmp(name, "Flush") == 0) return reinterpret_cast<plat::FARPROC>(&TestFlush);
  return nullptr;
}

plat::FARPROC ResolveEndOnly(const char* name) {
  if (std::strcmp(name, "EndDuration") == 0) return reinterpret_cast<plat::FARPROC>(&TestEnd);
  return nullptr;
}

// The hooks are looked for once per process: each case runs in a fresh child
// process, which prints the calls the library received.
void RunStepsAndPrintCalls(plat::BuiltInResolver resolver) {
  plat::RegisterBuiltInModule(u"orvprofiler.dll", resolver);
  {
    CProfileScope scope(u"GradientFillD");
    ProfileBegin(u"CreateFile");
    ProfileEnd(u"CreateFile");
  }
  ProfileFlush();
  std::fprintf(stderr, "calls=[%s]\n", plat::Utf16ToUtf8(g_calls).c_str());
  std::fflush(stderr);
  _exit(0);
}

TEST(ProfilerHooksDeathTest, PresentLibraryReceivesEveryStep) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunStepsAndPrintCalls(&ResolveFull), ::testing::ExitedWithCode(0),
              "calls=\\[\\+GradientFillD\\+CreateFile-CreateFile-GradientFillD!\\]");
}

TEST(ProfilerHooksDeathTest, MissingEntryPointsAreSkipped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunStepsAndPrintCalls(&ResolveEndOnly), ::testing::ExitedWithCode(0),
              "calls=\\[-CreateFile-GradientFillD\\]");
}

}  // namespace
