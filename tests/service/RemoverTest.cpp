// The configuration manager's documents, and the uninstaller as a program:
// it removes exactly what the install manifest lists, the product's keys and
// the Today item's entry, leaves the user's content, and says so in its exit
// code and its log.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/VORegistry.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"
#include "hosts/ConfigManager.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/InstallManifest.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "hosts/HostRequests.h"
#include "remover/RemoverMain.h"
#include "tests/service/StuckServiceHost.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pump.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDevice.h"

namespace {

using plat::hosts::kConfigBadDocument;
using plat::hosts::ProcessConfiguration;

constexpr const char16_t* kUninstall =
    u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
    u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>";

bool Exists(const char16_t* path) { return plat::GetFileAttributesW(path) != plat::INVALID_FILE_ATTRIBUTES; }

bool KeyExists(plat::HKEY root, const char16_t* path) {
  plat::HKEY k = nullptr;
  if (plat::RegOpenKeyExW(root, path, 0, plat::KEY_READ, &k) != plat::ERROR_SUCCESS) return false;
  plat::RegCloseKey(k);
  return true;
}

void SetString(plat::HKEY root, const char16_t* path, const char16_t* name, const std::u16string& value) {
  plat::HKEY k = nullptr;
  ASSERT_EQ(plat::RegCreateKeyExW(root, path, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  plat::RegSetValueExW(k, name, 0, plat::REG_SZ, reinterpret_cast<const plat::BYTE*>(value.c_str()),
                       static_cast<plat::DWORD>((value.size() + 1) * 2));
  plat::RegCloseKey(k);
}

std::string ReadMounts() { return orvtest::ReadHostFile(plat::DeviceMountsFile()); }

// An installed product as the install step leaves it: the install folder a
// mount onto the program folder, its "Content" and "Templates" mounts onto
// the device's own folders (the user's article in Content), a file of the
// device's own, "InstallFolder" and the product key, and the Today item's
// entry beside another program's item.
class RemoverTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    programs_ = device_.Scratch() + "/programs";
    std::filesystem::create_directories(programs_);
    orvtest::WriteHostFile(programs_ + "/Orv News", "the program");
    orvtest::WriteHostFile(programs_ + "/news_layouts.dat", "layouts");
    for (const char* own : {"Content", "Templates"})
      std::filesystem::create_directories(device_.Root() + "/programdata/" + own);
    orvtest::WriteHostFile(device_.Root() + "/programdata/Content/article.htm", "the user's article");
    ASSERT_NO_FATAL_FAILURE(Install());
  }

  // What the install step leaves (again after a removal).
  void Install() {
    ASSERT_TRUE(plat::AddDeviceMount(kInstall, programs_, false));
    ASSERT_TRUE(plat::AddDeviceMount(kContent, device_.Root() + "/programdata/Content", false));
    ASSERT_TRUE(plat::AddDeviceMount(kTemplates, device_.Root() + "/programdata/Templates", false));
    plat::CreateDirectoryW(u"\\Windows", nullptr);
    plat::CreateDirectoryW(u"\\Windows\\Orv", nullptr);
    orvtest::WriteHostFile(device_.FsRoot() + "/Windows/Orv/Orv News.lnk", "a shortcut");

    manifest_.product = u"Orv News";
    manifest_.mounts = {kInstall, kContent, kTemplates};
    manifest_.folders = {u"\\Windows\\Orv"};
    manifest_.files = {u"\\Program Files\\Orv News\\Orv News.exe", u"\\Program Files\\Orv News\\news_layouts.dat",
                       u"\\Windows\\Orv\\Orv News.lnk"};
    manifest_.registry = {{u"HKCU", u"SOFTWARE\\Orv Software House\\Orv News", u"InstallFolder"},
                          {u"HKCU", u"SOFTWARE\\Orv Software House\\Orv News", u""}};
    ASSERT_TRUE(plat::WriteInstallManifest(plat::hosts::kInstalledPackage, manifest_));
    OpenSettingsKey().SetString(u"InstallFolder", kInstall);
    OpenSettingsKey().SetDWORD(u"AutoUpdate", 6);
    SetString(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News\\Channels", u"x", u"y");
    SetString(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News", u"DLL",
              u"\\Program Files\\Orv News\\OrvNewsToday.dll");
    SetString(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Calendar", u"DLL",
              u"\\Windows\\calendar.dll");
  }

  bool ManifestThere() { return Exists(plat::InstallManifestPath(plat::hosts::kInstalledPackage).c_str()); }

  void ExpectRemoved() {
    EXPECT_FALSE(ManifestThere());
    EXPECT_FALSE(Exists(u"\\Windows\\Orv"));  // its file gone, the emptied folder too
    const std::string mounts = ReadMounts();
    EXPECT_EQ(mounts.find("Program Files\\Orv News\t"), std::string::npos) << mounts;
    EXPECT_EQ(mounts.find("Templates"), std::string::npos) << mounts;
    EXPECT_FALSE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House"));
    EXPECT_FALSE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));
    EXPECT_TRUE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Calendar"));
    // The content folder with the user's article stays on the device; the
    // program folder the install mounted is not the device's to delete.
    EXPECT_NE(mounts.find("Content"), std::string::npos) << mounts;
    EXPECT_EQ(orvtest::ReadHostFile(device_.Root() + "/programdata/Content/article.htm"), "the user's article");
    EXPECT_EQ(orvtest::ReadHostFile(programs_ + "/Orv News"), "the program");
  }

  // Runs the uninstaller program on this device; its exit code.
  int RunRemover() { return orvtest::RunProgram(ORV_REMOVER); }
  std::string Log() { return orvtest::ReadHostFile(device_.FsRoot() + "/OrvNewsRemover_log.txt"); }
  // The words of the log's last line, without its time stamp.
  std::string LastLogLine() {
    std::string log = Log();
    if (!log.empty() && log.back() == '\n') log.pop_back();
    const std::string line = log.substr(log.rfind('\n') + 1);
    // "YYYY-MM-DD hh:mm:ss " before the words
    return line.size() > 20 ? line.substr(20) : line;
  }

  static constexpr const char16_t* kInstall = u"\\Program Files\\Orv News";
  static constexpr const char16_t* kContent = u"\\Program Files\\Orv News\\Content";
  static constexpr const char16_t* kTemplates = u"\\Program Files\\Orv News\\Templates";
  std::string programs_;
  plat::InstallManifest manifest_;
};

TEST_F(RemoverTest, TheUninstallDocumentRemovesTheProduct) {
  std::u16string answer;
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), 0);
  EXPECT_EQ(answer, kUninstall);
  ExpectRemoved();
  // Again: nothing is installed, and the answer says so.
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), plat::hosts::kConfigNotInstalled);
  EXPECT_NE(answer.find(u"characteristic-error"), std::u16string::npos);
}

TEST_F(RemoverTest, AnyOtherDocumentFailsAndRemovesNothing) {
  const char16_t* const documents[] = {
      u"",
      u"not a document",
      u"<wap-provisioningdoc/>",
      u"<wap-provisioningdoc><characteristic type=\"Install\"><characteristic type=\"Orv Brevant\">"
      u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>",
      u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Other\">"
      u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></wap-provisioningdoc>",
      u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
      u"<parm name=\"uninstall\" value=\"0\"/></characteristic></characteristic></wap-provisioningdoc>",
      u"<wap-provisioningdoc><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
      u"<parm name=\"uninstall\" value=\"1\"/></characteristic><characteristic type=\"Other\"/>"
      u"</characteristic></wap-provisioningdoc>",
      u"<other><characteristic type=\"UnInstall\"><characteristic type=\"Orv Brevant\">"
      u"<parm name=\"uninstall\" value=\"1\"/></characteristic></characteristic></other>",
  };
  for (const char16_t* doc : documents) {
    SCOPED_TRACE(testing::Message() << "document " << (&doc - documents));
    std::u16string answer;
    EXPECT_EQ(ProcessConfiguration(doc, plat::CFGFLAG_PROCESS, &answer), kConfigBadDocument);
    EXPECT_NE(answer.find(u"characteristic-error"), std::u16string::npos);
  }
  // The right document without the "process" flag is not carried out either.
  EXPECT_EQ(ProcessConfiguration(kUninstall, 0, nullptr), kConfigBadDocument);
  EXPECT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));
  EXPECT_TRUE(ManifestThere());
  EXPECT_NE(ReadMounts().find("Templates"), std::string::npos);
  EXPECT_TRUE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News"));
}

TEST_F(RemoverTest, TheUninstallerReportsSuccessAndFailureInItsExitCodeAndLog) {
  // A folder where the manifest lists a file of the device cannot be removed as that file.
  plat::CreateDirectoryW(u"\\Windows\\Locked.dll", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Windows/Locked.dll/inside", "x");
  plat::InstallManifest locked = manifest_;
  locked.files.push_back(u"\\Windows\\Locked.dll");
  ASSERT_TRUE(plat::WriteInstallManifest(plat::hosts::kInstalledPackage, locked));
  EXPECT_EQ(RunRemover(), 3);
  EXPECT_NE(Log().find("removal failed with 0x80070005"), std::string::npos) << Log();
  EXPECT_FALSE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));  // the rest went
  EXPECT_TRUE(ManifestThere());                            // kept for another try

  ASSERT_TRUE(plat::WriteInstallManifest(plat::hosts::kInstalledPackage, manifest_));
  EXPECT_EQ(RunRemover(), 0);
  EXPECT_NE(Log().find("Orv Brevant removed\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("wap-provisioningdoc"), std::string::npos) << Log();  // words, not the document
  ExpectRemoved();
  // Run twice: nothing is installed the second time, and it says so plainly.
  EXPECT_EQ(RunRemover(), 2);
  EXPECT_NE(Log().find("Orv Brevant is not installed; nothing was removed"), std::string::npos) << Log();
}

plat::LRESULT StaysOpenProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  if (m == plat::WM_CLOSE) return 0;  // asked to close, it does not
  return plat::DefWindowProcW(h, m, w, l);
}

// A main program that does not end when asked: the removal takes nothing
// away, so the program cannot write its key again over a removed product,
// and says so; once it has ended, the removal goes through.
TEST_F(RemoverTest, AMainProgramThatDoesNotEndKeepsEverything) {
  plat::hosts::SetProgramEndBound(50);
  struct Reset {
    ~Reset() { plat::hosts::SetProgramEndBound(20000); }
  } reset;
  orvtest::ChildProcess program([](orvtest::ChildContext& ctx) {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &StaysOpenProc;
    wc.lpszClassName = u"A377667C-B302-4767-B9C5-EC5210805251";
    plat::RegisterClassW(&wc);
    if (!plat::CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr))
      return 1;
    ctx.Ready();
    return orvtest::PumpUntil([&] { return ctx.WaitFor("end", 0); }, 60000) ? 0 : 2;
  });
  ASSERT_TRUE(program.WaitReady());

  std::u16string answer;
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), plat::hosts::kConfigProductRunning);
  EXPECT_NE(answer.find(u"characteristic-error"), std::u16string::npos);
  EXPECT_TRUE(ManifestThere());
  EXPECT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));
  EXPECT_NE(ReadMounts().find("Templates"), std::string::npos);
  EXPECT_TRUE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News"));
  EXPECT_TRUE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));

  program.Send("end");
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), 0);
  ExpectRemoved();
}

}  // namespace

namespace {

// A manifest that cannot be read whole removes nothing, run after run, and
// says so; one that is missing lists nothing, so only the product's keys and
// the Today item's entry go.
TEST_F(RemoverTest, AManifestNotReadWholeRemovesNothing) {
  const std::string path = device_.FsRoot() + "/Windows/AppMgr/Orv Brevant.manifest";
  const std::string whole = orvtest::ReadHostFile(path);
  ASSERT_FALSE(whole.empty());
  const std::size_t fileLine = whole.find("\nfile\t");
  ASSERT_NE(fileLine, std::string::npos);
  const std::size_t afterFileLine = whole.find('\n', fileLine + 1) + 1;
  std::string headerChanged = whole;
  headerChanged[3] = static_cast<char>(headerChanged[3] ^ 0x20);
  struct Case {
    const char* name;
    std::string text;
  } const cases[] = {
      {"header byte changed", headerChanged},
      {"cut mid-line", whole.substr(0, fileLine + 8)},
      {"cut at a line end", whole.substr(0, afterFileLine)},
      {"last line without its line end", whole.substr(0, whole.size() - 1)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvtest::WriteHostFile(path, c.text);
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(RunRemover(), 3);
      EXPECT_NE(Log().find("damaged and cannot be read whole; nothing was removed"), std::string::npos) << Log();
    }
    EXPECT_EQ(orvtest::ReadHostFile(path), c.text);
    EXPECT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));
    EXPECT_NE(ReadMounts().find("Templates"), std::string::npos);
    EXPECT_TRUE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News"));
    EXPECT_TRUE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));
  }
  // Made whole again, it removes everything it lists.
  orvtest::WriteHostFile(path, whole);
  EXPECT_EQ(RunRemover(), 0);
  ExpectRemoved();

  // Missing: nothing is listed; the keys and the Today item's entry go.
  SetString(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News", u"DLL",
            u"\\Program Files\\Orv News\\OrvNewsToday.dll");
  OpenSettingsKey().SetString(u"InstallFolder", kInstall);
  ASSERT_TRUE(plat::CreateDirectoryW(u"\\Windows\\Orv", nullptr));
  orvtest::WriteHostFile(device_.FsRoot() + "/Windows/Orv/Orv News.lnk", "a shortcut");
  ASSERT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));
  EXPECT_EQ(RunRemover(), 0);
  EXPECT_FALSE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House"));
  EXPECT_FALSE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));
  EXPECT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));  // no manifest names it
}

}  // namespace

namespace {

// A stand-in for a host in a process of its own: its window of the host's
// class takes the request to unload the product, says "asked", and answers
// that the library is gone, or that it keeps it, or, hung on the first
// request, answers only once the test sends "answer".
enum class StandIn { kAnswers, kKeeps, kHangs };
orvtest::ChildContext* g_standInContext = nullptr;
StandIn g_standIn = StandIn::kAnswers;
plat::UINT g_unloadMessage = 0;

plat::LRESULT StandInProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  if (m == g_unloadMessage && m != 0) {
    g_standInContext->Send("asked");
    if (g_standIn == StandIn::kKeeps) return plat::hosts::kUnloadKept;
    if (g_standIn == StandIn::kHangs) {
      g_standIn = StandIn::kAnswers;
      g_standInContext->WaitFor("answer", 60000);
    }
    return plat::hosts::kUnloadDone;
  }
  return plat::DefWindowProcW(h, m, w, l);
}

std::unique_ptr<orvtest::ChildProcess> StartStandIn(const char16_t* windowClass, StandIn behaviour) {
  return std::make_unique<orvtest::ChildProcess>([windowClass, behaviour](orvtest::ChildContext& ctx) {
    g_standInContext = &ctx;
    g_standIn = behaviour;
    g_unloadMessage = plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage);
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &StandInProc;
    wc.lpszClassName = windowClass;
    plat::RegisterClassW(&wc);
    if (!plat::CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr)) return 1;
    ctx.Ready();
    return orvtest::PumpUntil([&] { return ctx.WaitFor("end", 0); }, 60000) ? 0 : 2;
  });
}

// The uninstaller with both hosts holding the product's libraries: a host
// that does not answer in time, or keeps the library loaded, leaves the
// whole product where it was (the uninstaller names the host and fails);
// with both letting go, everything goes. Run again, it goes through once the
// host has let go, and not while the library stays loaded. The service host
// is the real one with a library whose thread outlives its stop until it is
// released, or a stand-in that hangs.
TEST_F(RemoverTest, AHostThatDoesNotLetGoOfTheProductKeepsEverything) {
  enum class Service { kReleased, kThreadRunsOn, kHangs };
  constexpr const char* kServiceKept =
      "the service host kept the library of Orv News loaded (a thread of the service still runs); nothing was "
      "removed";
  constexpr const char* kTodayKept = "the Today screen host kept the library of Orv News loaded; nothing was removed";
  struct Case {
    const char* name;
    Service service;
    StandIn today;
    plat::DWORD answerBoundMs;
    bool todayAsked;
    int exit;
    const char* line;
    int secondExit;
    const char* secondLine;
  } const cases[] = {
      {"the Today screen host does not answer", Service::kReleased, StandIn::kHangs, 1000, true, 3,
       "the Today screen host did not answer in time when asked to unload Orv News; nothing was removed", 0,
       "Orv Brevant removed"},
      {"the service host keeps the library", Service::kThreadRunsOn, StandIn::kAnswers, 30000, false, 3, kServiceKept,
       3, kServiceKept},
      {"the service host does not answer", Service::kHangs, StandIn::kAnswers, 1000, false, 3,
       "the service host did not answer in time when asked to unload Orv News; nothing was removed", 0,
       "Orv Brevant removed"},
      {"the Today screen host keeps the library", Service::kReleased, StandIn::kKeeps, 30000, true, 3, kTodayKept, 3,
       kTodayKept},
      {"both hosts let go", Service::kReleased, StandIn::kAnswers, 30000, true, 0, "Orv Brevant removed", 2,
       "Orv Brevant is not installed; nothing was removed"},
  };
  struct Reset {
    ~Reset() { plat::hosts::SetHostAnswerBound(30000); }
  } reset;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Install());
    const std::string scratch = device_.Scratch() + "/" + std::to_string(&c - cases);
    std::filesystem::create_directories(scratch);

    std::unique_ptr<orvtest::StuckServiceHost> service;
    std::unique_ptr<orvtest::ChildProcess> serviceStandIn;
    if (c.service == Service::kHangs) {
      serviceStandIn = StartStandIn(plat::hosts::kServiceHostWindowClass, StandIn::kHangs);
      ASSERT_TRUE(serviceStandIn->WaitReady());
    } else {
      service = std::make_unique<orvtest::StuckServiceHost>(scratch, c.service == Service::kReleased);
      ASSERT_NE(service->Window(), nullptr);
    }
    auto today = StartStandIn(plat::hosts::kTodayHostWindowClass, c.today);
    ASSERT_TRUE(today->WaitReady());
    plat::hosts::SetHostAnswerBound(c.answerBoundMs);

    EXPECT_EQ(RemoverMain(), c.exit);
    EXPECT_EQ(LastLogLine(), c.line) << Log();
    EXPECT_EQ(today->WaitFor("asked", 0), c.todayAsked);
    if (c.exit == 0) {
      ExpectRemoved();
    } else {
      // Everything of the product is where it was.
      EXPECT_TRUE(ManifestThere());
      EXPECT_TRUE(Exists(u"\\Windows\\Orv\\Orv News.lnk"));
      EXPECT_NE(ReadMounts().find("Templates"), std::string::npos);
      EXPECT_TRUE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News"));
      EXPECT_TRUE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));
    }

    // A hung host answers at last; the service's thread ends (its library
    // stays loaded all the same).
    for (auto* standIn : {today.get(), serviceStandIn.get()})
      if (standIn) standIn->Send("answer");
    if (service) {
      service->Release();
      EXPECT_TRUE(orvtest::Eventually([&] { return service->Ended(); }, 20000));
    }
    EXPECT_EQ(RemoverMain(), c.secondExit);
    EXPECT_EQ(LastLogLine(), c.secondLine) << Log();
    if (c.secondExit == 3) EXPECT_TRUE(ManifestThere());
    else ExpectRemoved();

    for (auto* standIn : {today.get(), serviceStandIn.get()}) {
      if (!standIn) continue;
      standIn->Send("end");
      EXPECT_EQ(standIn->Wait(), 0);
    }
    if (service) EXPECT_EQ(service->Stop(), 0);
  }
}

}  // namespace
