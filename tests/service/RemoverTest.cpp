// The configuration manager's documents, and the uninstaller as a program:
// it removes exactly what the install manifest lists, the product's keys and
// the Today item's entry, leaves the user's content, and says so in its exit
// code and its log.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/VORegistry.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"
#include "platform/hosts/ConfigManager.h"
#include "platform/hosts/InstallManifest.h"
#include "platform/registry/Registry.h"
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

// An installed product: its files, its manifest, its keys, the Today item's
// entry beside another program's item, and the user's articles.
class RemoverTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    for (const char16_t* folder : {u"\\Program Files", u"\\Program Files\\Orv News",
                                   u"\\Program Files\\Orv News\\Content", u"\\Program Files\\Orv News\\Images"})
      plat::CreateDirectoryW(folder, nullptr);
    for (const char* file : {"Orv News.exe", "OrvNewsToday.dll", "Images/Empty_db_VGA.png"})
      orvtest::WriteHostFile(Host(std::string("Program Files/Orv News/") + file), "installed");
    orvtest::WriteHostFile(Host("Program Files/Orv News/Content/article.htm"), "the user's article");
    orvtest::WriteHostFile(Host("Program Files/Orv News/notes.txt"), "the user's own file");
    WriteManifest(
        "# installed by the install step\n"
        "\\Program Files\\Orv News\\Orv News.exe\n"
        "\\Program Files\\Orv News\\OrvNewsToday.dll\n"
        "\\Program Files\\Orv News\\Images\\Empty_db_VGA.png\n"
        "\\Program Files\\Orv News\\Images\\\n"
        "\\Program Files\\Orv News\\\n");
    OpenSettingsKey().SetDWORD(u"AutoUpdate", 6);
    SetString(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News\\Channels", u"x", u"y");
    SetString(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News", u"DLL",
              u"\\Program Files\\Orv News\\OrvNewsToday.dll");
    SetString(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Calendar", u"DLL",
              u"\\Windows\\calendar.dll");
  }

  std::string Host(const std::string& relative) const { return device_.FsRoot() + "/" + relative; }
  void WriteManifest(const std::string& text) {
    plat::CreateDirectoryW(u"\\Windows", nullptr);
    orvtest::WriteHostFile(Host("Windows/Orv Brevant.manifest"), text);
  }

  void ExpectRemoved() {
    EXPECT_FALSE(Exists(u"\\Program Files\\Orv News\\Orv News.exe"));
    EXPECT_FALSE(Exists(u"\\Program Files\\Orv News\\OrvNewsToday.dll"));
    EXPECT_FALSE(Exists(u"\\Program Files\\Orv News\\Images"));  // emptied, so removed
    EXPECT_FALSE(Exists(plat::hosts::kInstallManifestPath));
    EXPECT_FALSE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House"));
    EXPECT_FALSE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Orv News"));
    EXPECT_TRUE(KeyExists(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Today\\Items\\Calendar"));
    // What the user made stays, and with it the folders that hold it.
    EXPECT_EQ(orvtest::ReadHostFile(Host("Program Files/Orv News/Content/article.htm")), "the user's article");
    EXPECT_EQ(orvtest::ReadHostFile(Host("Program Files/Orv News/notes.txt")), "the user's own file");
  }

  // Runs the uninstaller program on this device; its exit code.
  int RunRemover() {
    pid_t pid = fork();
    if (pid == 0) {
      execl(ORV_REMOVER, ORV_REMOVER, static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  std::string Log() { return orvtest::ReadHostFile(Host("OrvNewsRemover_log.txt")); }
};

TEST_F(RemoverTest, TheUninstallDocumentRemovesTheProduct) {
  std::u16string answer;
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), 0);
  EXPECT_EQ(answer, kUninstall);
  ExpectRemoved();
  // Again: nothing is left to remove, and that is no failure.
  EXPECT_EQ(ProcessConfiguration(kUninstall, plat::CFGFLAG_PROCESS, &answer), 0);
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
  EXPECT_TRUE(Exists(u"\\Program Files\\Orv News\\Orv News.exe"));
  EXPECT_TRUE(Exists(plat::hosts::kInstallManifestPath));
  EXPECT_TRUE(KeyExists(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News"));
}

TEST_F(RemoverTest, TheUninstallerReportsSuccessAndFailureInItsExitCodeAndLog) {
  // A folder where the manifest lists a file cannot be removed as that file.
  plat::CreateDirectoryW(u"\\Program Files\\Orv News\\Locked.dll", nullptr);
  orvtest::WriteHostFile(Host("Program Files/Orv News/Locked.dll/inside"), "x");
  WriteManifest("\\Program Files\\Orv News\\Orv News.exe\n\\Program Files\\Orv News\\Locked.dll\n");
  EXPECT_NE(RunRemover(), 0);
  EXPECT_NE(Log().find("removal failed"), std::string::npos) << Log();
  EXPECT_FALSE(Exists(u"\\Program Files\\Orv News\\Orv News.exe"));  // the rest went
  EXPECT_TRUE(Exists(plat::hosts::kInstallManifestPath));            // kept for another try

  plat::RemoveDirectoryW(u"\\Program Files\\Orv News\\Locked.dll\\inside");
  plat::DeleteFileW(u"\\Program Files\\Orv News\\Locked.dll\\inside");
  plat::RemoveDirectoryW(u"\\Program Files\\Orv News\\Locked.dll");
  WriteManifest(
      "\\Program Files\\Orv News\\OrvNewsToday.dll\n\\Program Files\\Orv News\\Images\\Empty_db_VGA.png\n"
      "\\Program Files\\Orv News\\Images\\\n");
  EXPECT_EQ(RunRemover(), 0);
  EXPECT_NE(Log().find("Orv Brevant removed"), std::string::npos) << Log();
  ExpectRemoved();
  // Run twice: the same document, and again success.
  EXPECT_EQ(RunRemover(), 0);
}

TEST(InstallManifestTest, ReadsFilesAndFoldersAndSkipsTheRest) {
  const auto m = plat::hosts::ParseInstallManifest(
      "# comment\r\n\\A\\b.exe\r\n\n   \\A\\c d.dat  \nrelative\\x\n\\A\\\n\\\n");
  EXPECT_EQ(m.files, (std::vector<std::u16string>{u"\\A\\b.exe", u"\\A\\c d.dat"}));
  EXPECT_EQ(m.folders, (std::vector<std::u16string>{u"\\A"}));
}

}  // namespace
