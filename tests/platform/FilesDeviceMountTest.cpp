// The device's recorded mounts (seen by every process of the device) and the
// install manifest's text form and place.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/base/Device.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/Files.h"
#include "platform/files/InstallManifest.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class DeviceMountTest : public orvtest::DeviceTest {
 protected:
  // What another process of the device sees: the device taken up afresh.
  void AsAnotherProcess() { SetDeviceRoot(device_.Root()); }
  std::string Dir(const std::string& name) {
    std::string d = device_.Scratch() + "/" + name;
    std::filesystem::create_directories(d);
    return d;
  }
};

TEST_F(DeviceMountTest, RecordedMountsReachEveryProcessAndNestedOnesWin) {
  const std::string programs = Dir("programs");
  const std::string content = Dir("own/Content");
  orvtest::WriteHostFile(programs + "/readme.txt", "p");
  orvtest::WriteHostFile(content + "/a.cnl", "c");
  Dir("programs/Content");  // hidden by the nested mount while it is there
  ASSERT_TRUE(AddDeviceMount(u"\\Program Files\\Orv News", programs, false));
  ASSERT_TRUE(AddDeviceMount(u"\\Program Files\\Orv News\\Content", content, false));
  // Recording the same folder again replaces the entry instead of adding one.
  ASSERT_TRUE(AddDeviceMount(u"\\program files\\orv news", programs, false));

  AsAnotherProcess();
  const std::string canonPrograms = std::filesystem::canonical(programs).string();
  const std::string canonContent = std::filesystem::canonical(content).string();
  EXPECT_EQ(HostPathFromDevicePath(u"\\Program Files\\Orv News\\README.TXT"), canonPrograms + "/readme.txt");
  EXPECT_EQ(HostPathFromDevicePath(u"\\Program Files\\Orv News\\Content\\a.cnl"), canonContent + "/a.cnl");
  EXPECT_EQ(orvtest::ReadLines(DeviceMountsFile()).size(), 2u);

  ASSERT_TRUE(RemoveDeviceMount(u"\\Program Files\\Orv News\\Content"));
  AsAnotherProcess();
  EXPECT_EQ(HostPathFromDevicePath(u"\\Program Files\\Orv News\\Content\\a.cnl"), canonPrograms + "/Content/a.cnl");
  EXPECT_EQ(orvtest::ReadLines(DeviceMountsFile()).size(), 1u);

  // A missing host folder cannot be recorded.
  EXPECT_FALSE(AddDeviceMount(u"\\Elsewhere", device_.Scratch() + "/missing", false));
}

TEST_F(DeviceMountTest, ManifestRoundTripsAndRejectsOtherText) {
  InstallManifest m;
  m.product = u"Orv News";
  m.mounts = {u"\\Program Files\\Orv News", u"\\Program Files\\Orv News\\Content"};
  m.folders = {u"\\Program Files\\Orv News\\Templates"};
  m.files = {u"\\Program Files\\Orv News\\Orv News.exe", u"\\Program Files\\Orv News\\Images\\\u00dcber.png"};
  m.registry = {{u"HKCU", u"SOFTWARE\\Orv Software House\\Orv News", u"InstallFolder"},
                {u"HKCU", u"SOFTWARE\\Orv Software House\\Orv News", u""}};
  ASSERT_TRUE(WriteInstallManifest(u"Orv Brevant", m));
  EXPECT_EQ(InstallManifestPath(u"Orv Brevant"), u"\\Windows\\AppMgr\\Orv Brevant.manifest");

  AsAnotherProcess();
  auto back = ReadInstallManifest(u"orv brevant");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->product, m.product);
  EXPECT_EQ(back->mounts, m.mounts);
  EXPECT_EQ(back->folders, m.folders);
  EXPECT_EQ(back->files, m.files);
  ASSERT_EQ(back->registry.size(), 2u);
  EXPECT_EQ(back->registry[0].value, u"InstallFolder");
  EXPECT_EQ(back->registry[1].value, u"");

  EXPECT_FALSE(ParseInstallManifest("product\tOrv News\n").has_value());
  // The last line counts the entries: a manifest cut short, or with a line
  // more, is no manifest.
  const std::string text = FormatInstallManifest(m);
  EXPECT_EQ(text.substr(text.size() - 7), "\nend\t8\n");  // product, 2 mounts, a folder, 2 files, 2 registry entries
  EXPECT_TRUE(ParseInstallManifest(text).has_value());
  const std::size_t secondLine = text.find('\n') + 1;
  const std::string withoutOne = text.substr(0, secondLine) + text.substr(text.find('\n', secondLine) + 1);
  EXPECT_FALSE(ParseInstallManifest(withoutOne).has_value());
  EXPECT_FALSE(ParseInstallManifest(text + "file\t\\x\n").has_value());
  EXPECT_FALSE(ReadInstallManifest(u"Nothing").has_value());
  // Unknown kinds and short lines are skipped; CR LF line ends are read.
  auto lax = ParseInstallManifest("OrvInstallManifest\t1\r\nshortcut\tx\r\nfile\r\nfile\t\\a.txt\r\n");
  ASSERT_TRUE(lax.has_value());
  EXPECT_EQ(lax->files, std::vector<std::u16string>{u"\\a.txt"});
}

}  // namespace
