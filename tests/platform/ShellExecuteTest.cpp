// What ShellExecuteEx and CreateProcessW open: the device's own programs,
// addresses and content pictures handed to the desktop's opener (a recorder
// here), the help file, and everything else refused with a logged reason.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/controls/ShellExecute.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

namespace {

using namespace plat;

class ShellExecuteTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    programs_ = device_.Scratch() + "/programfiles";
    ::mkdir(programs_.c_str(), 0700);
    ASSERT_TRUE(MountFolder(u"\\Program Files\\Orv News", programs_, false));
    for (const char16_t* folder : {u"\\Program Files\\Orv News\\Content", u"\\Program Files\\Orv News\\Content\\News",
                                   u"\\Apps", u"\\Apps\\Orv"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr)) << Utf16ToUtf8(folder);
    for (const char16_t* file : {u"\\Program Files\\Orv News\\Content\\News\\pic.JPG",
                                 u"\\Program Files\\Orv News\\Content\\notes.txt", u"\\My Documents\\pic.jpg",
                                 u"\\Program Files\\Orv News\\Content\\evil.exe"})
      Touch(file);
    // A program of the device that writes down how it was started.
    probeOut_ = device_.Scratch() + "/probe.out";
    WriteProgram(programs_ + "/Probe.exe", "printf '%s|%s|%s' \"$1\" \"$ORVNEWS_SHOWCMD\" \"$ORVNEWS_DEVICE\" > '" +
                                               probeOut_ + ".new' && mv '" + probeOut_ + ".new' '" + probeOut_ + "'");
    SetDesktopOpenerForTesting([this](const std::string& target) {
      opened_.push_back(target);
      return true;
    });
    SetShellLogForTesting([this](const std::string& line) { log_.push_back(line); });
  }
  void TearDown() override {
    SetDesktopOpenerForTesting({});
    SetShellLogForTesting({});
    UnmountFolder(u"\\Program Files\\Orv News");
  }

  static void Touch(const char16_t* file) {
    HANDLE f = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
  }
  static void WriteProgram(const std::string& host, const std::string& body) {
    orvtest::WriteHostFile(host, "#!/bin/sh\n" + body + "\n");
    ::chmod(host.c_str(), 0700);
  }
  std::string ProbeResult() {
    std::string out;
    orvtest::Eventually([&] {
      struct stat st{};
      return ::stat(probeOut_.c_str(), &st) == 0;
    });
    out = orvtest::ReadHostFile(probeOut_);
    std::remove(probeOut_.c_str());
    return out;
  }

  std::string programs_, probeOut_;
  std::vector<std::string> opened_, log_;
};

TEST_F(ShellExecuteTest, OpensOnlyWhatThePolicyAllows) {
  struct Case {
    const char16_t* verb;
    const char16_t* file;
    BOOL ok;
    DWORD error;         // when refused
    std::string opened;  // what the opener got ("@" stands for the programs' host folder)
  };
  const Case cases[] = {
      {nullptr, u"http://news.example/feed?x=1&y=%20", TRUE, 0, "http://news.example/feed?x=1&y=%20"},
      {u"open", u"HTTPS://Example.org/", TRUE, 0, "HTTPS://Example.org/"},
      {u"", u"mailto:editor@example.org?subject=Hi there", TRUE, 0, "mailto:editor@example.org?subject=Hi there"},
      {u"Open", u"\\Program Files\\Orv News\\Content\\News\\pic.JPG", TRUE, 0, "@/Content/News/pic.JPG"},
      {nullptr, u"\\program files\\orv news\\content\\news\\PIC.jpg", TRUE, 0, "@/Content/News/pic.JPG"},
      {nullptr, u"ftp://example.org/file", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"javascript:alert(1)", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"file:///etc/passwd", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"http:example.org", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"http://a\nb", FALSE, ERROR_NO_ASSOCIATION, ""},
      {u"print", u"http://example.org/", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\My Documents\\pic.jpg", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\Program Files\\Orv News\\Content\\notes.txt", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\Program Files\\Orv News\\Content\\missing.png", FALSE, ERROR_FILE_NOT_FOUND, ""},
      {nullptr, u"\\Program Files\\Orv News\\Content\\..\\..\\..\\My Documents\\pic.jpg", FALSE,
       ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\Windows\\calc.exe", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\Program Files\\Orv News\\Content\\evil.exe", FALSE, ERROR_NO_ASSOCIATION, ""},
      {nullptr, u"\\Program Files\\Orv News\\Missing.exe", FALSE, ERROR_FILE_NOT_FOUND, ""},
      {nullptr, u"pic.jpg", FALSE, ERROR_NO_ASSOCIATION, ""},
  };
  for (const Case& c : cases) {
    const std::string what = Utf16ToUtf8(c.file);
    opened_.clear();
    log_.clear();
    SHELLEXECUTEINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.lpVerb = c.verb;
    info.lpFile = c.file;
    info.nShow = SW_SHOW;
    SetLastError(0);
    EXPECT_EQ(ShellExecuteEx(&info), c.ok) << what;
    const auto code = reinterpret_cast<std::uintptr_t>(info.hInstApp);
    if (c.ok) {
      EXPECT_GT(code, 32u) << what;
      std::string expected = c.opened;
      if (expected[0] == '@') expected = programs_ + expected.substr(1);
      EXPECT_EQ(opened_, std::vector<std::string>{expected}) << what;
      EXPECT_TRUE(log_.empty()) << what;
    } else {
      EXPECT_EQ(GetLastError(), c.error) << what;
      EXPECT_EQ(code, c.error == ERROR_FILE_NOT_FOUND ? SE_ERR_FNF : SE_ERR_NOASSOC) << what;
      EXPECT_TRUE(opened_.empty()) << what;
      EXPECT_EQ(log_.size(), 1u) << what;  // the reason
    }
  }
  SHELLEXECUTEINFO bad{};
  bad.cbSize = 8;
  bad.lpFile = u"http://example.org/";
  EXPECT_FALSE(ShellExecuteEx(&bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellExecuteTest, StartsTheDevicesOwnProgramsWithParametersAndShowCommand) {
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = u"\\Program Files\\Orv News\\probe.exe";  // names ignore case
  info.lpParameters = u"autoupdate";
  info.nShow = SW_MINIMIZE;
  ASSERT_TRUE(ShellExecuteEx(&info));
  EXPECT_EQ(ProbeResult(), "autoupdate|6|" + DeviceRoot());

  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, u"\"\\Program Files\\Orv News\\Probe.exe\" -hwnd:5", nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, nullptr, &pi));
  EXPECT_GT(pi.dwProcessId, 0u);
  EXPECT_EQ(ProbeResult(), "-hwnd:5|1|" + DeviceRoot());
  ASSERT_TRUE(CreateProcessW(u"\\Program Files\\Orv News\\Probe.exe", u"one two", nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, nullptr, &pi));
  EXPECT_EQ(ProbeResult(), "one two|1|" + DeviceRoot());

  // Anything but the device's own programs fails.
  for (const char16_t* other : {u"\\Windows\\explorer.exe", u"/bin/sh", u"\\Program Files\\Orv News\\Content\\evil.exe"}) {
    log_.clear();
    EXPECT_FALSE(CreateProcessW(other, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
    EXPECT_EQ(GetLastError(), ERROR_NO_ASSOCIATION);
    EXPECT_EQ(log_.size(), 1u);
  }
}

TEST_F(ShellExecuteTest, HelpViewerOpensTheInstalledHelpFileAtItsTopic) {
  orvtest::WriteHostFile(programs_ + "/Orv News.htm", "<html></html>");
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(u"PegHelp.exe", u"file:Orv News.htm#options_general", nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, nullptr, &pi));
  EXPECT_EQ(opened_, std::vector<std::string>{"file://" + programs_ + "/Orv%20News.htm#options_general"});

  // "InstallFolder" names where the help file is.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string folder = u"\\Apps\\Orv\\";
  RegSetValueExW(key, u"InstallFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>((folder.size() + 1) * 2));
  RegCloseKey(key);
  EXPECT_FALSE(CreateProcessW(u"\\Windows\\PegHelp.exe", u"file:Orv News.htm#article", nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, nullptr, &pi));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Touch(u"\\Apps\\Orv\\OrvNews.htm");
  opened_.clear();
  ASSERT_TRUE(CreateProcessW(u"\\Windows\\PegHelp.exe", u"file:OrvNews.htm#article", nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, nullptr, &pi));
  EXPECT_EQ(opened_, std::vector<std::string>{"file://" + device_.FsRoot() + "/Apps/Orv/OrvNews.htm#article"});
  EXPECT_FALSE(CreateProcessW(u"PegHelp.exe", u"file:..\\secret.htm", nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              nullptr, &pi));
}

TEST_F(ShellExecuteTest, TheDesktopOpenerIsAProgramChosenBySetting) {
  const std::string out = device_.Scratch() + "/opened.out";
  const std::string opener = device_.Scratch() + "/opener";
  WriteProgram(opener, "printf '%s' \"$1\" > '" + out + ".new' && mv '" + out + ".new' '" + out + "'");
  SetDesktopOpenerForTesting({});
  ::setenv("ORVNEWS_OPENER", opener.c_str(), 1);
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = u"https://news.example/a b";
  const BOOL ok = ShellExecuteEx(&info);
  ::setenv("ORVNEWS_OPENER", (device_.Scratch() + "/no-such-opener").c_str(), 1);
  info.lpFile = u"https://news.example/";
  const BOOL missing = ShellExecuteEx(&info);
  ::unsetenv("ORVNEWS_OPENER");
  ASSERT_TRUE(ok);
  ASSERT_TRUE(orvtest::Eventually([&] {
    struct stat st{};
    return ::stat(out.c_str(), &st) == 0;
  }));
  EXPECT_EQ(orvtest::ReadHostFile(out), "https://news.example/a b");
  EXPECT_FALSE(missing);
  EXPECT_EQ(log_.size(), 1u);
}

}  // namespace
