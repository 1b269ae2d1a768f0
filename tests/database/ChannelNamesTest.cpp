// Channel names become file, folder and mutex names: every accepted name
// stays inside the content folder and loads again; a refused one touches
// nothing.
#include <gtest/gtest.h>

#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "tests/database/ChannelFixture.h"

namespace {

using namespace orvtest;

class ChannelNamesTest : public ChannelTest {
 protected:
  // The device's files outside the content folder.
  std::map<std::string, std::string> Outside() {
    auto files = Snapshot(device_.FsRoot());
    for (auto it = files.begin(); it != files.end();) {
      it = it->first.rfind("/Content/", 0) == 0 ? files.erase(it) : std::next(it);
    }
    return files;
  }
};

TEST_F(ChannelNamesTest, AcceptedNamesStayInsideTheContentFolderAndLoadAgain) {
  struct Case {
    std::u16string given;
    std::u16string stored;  // the name after trimming
  };
  const Case cases[] = {
      {u"Tab\there", u"Tab\there"},
      {u"Line\nbreak", u"Line\nbreak"},
      {u"Bell\x07 and DEL\x7F", u"Bell\x07 and DEL\x7F"},
      {u"a/b\\c", u"a/b\\c"},
      {u"..", u".."},
      {u".", u"."},
      {u"..\\..\\escape", u"..\\..\\escape"},
      {u"%41%", u"%41%"},
      {u"News: Tech | \"quoted\" <x> *?", u"News: Tech | \"quoted\" <x> *?"},
      {u"Ünïcödé ☃ новости", u"Ünïcödé ☃ новости"},
      {u"  padded  ", u"padded"},
      // The longest: "\Content\" + 201 + "\bin\" + a binary's name stays within a device path.
      {std::u16string(201, u'n'), std::u16string(201, u'n')},
  };
  std::map<std::string, std::string> outsideBefore;
  {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    outsideBefore = Outside();
    for (const auto& c : cases) {
      IChannel* channel = set.Add(c.given);
      ASSERT_NE(channel, nullptr) << plat::Utf16ToUtf8(c.given);
      EXPECT_EQ(channel->GetName(), c.stored);
      // The files lie directly in the content folder.
      std::u16string folder, name, extension;
      ASSERT_TRUE(SplitPath(channel->GetFilePath(), &folder, &name, &extension)) << plat::Utf16ToUtf8(c.given);
      EXPECT_EQ(folder, kTestContent);
      EXPECT_EQ(channel->GetDataFolder(), CombinePath(kTestContent, name));
      EXPECT_TRUE(FileExists(channel->GetFilePath()));
      EXPECT_TRUE(DirectoryExists(channel->GetBinFolder()));
    }
    EXPECT_EQ(set.GetCount(), static_cast<int>(std::size(cases)));
  }
  // Nothing was made outside the content folder.
  EXPECT_EQ(Outside(), outsideBefore);
  CChannelSet reloaded;
  ASSERT_TRUE(reloaded.Open());
  EXPECT_EQ(reloaded.GetCount(), static_cast<int>(std::size(cases)));
  EXPECT_FALSE(reloaded.HadUnreadableFile());
  for (const auto& c : cases) {
    EXPECT_NE(reloaded.FindByName(c.stored), nullptr) << plat::Utf16ToUtf8(c.stored);
  }
}

TEST_F(ChannelNamesTest, RefusedNamesTouchNothing) {
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  ASSERT_NE(set.Add(u"Existing"), nullptr);
  const auto before = Snapshot(Host(kTestContent));
  const std::u16string cases[] = {
      u"",
      u"   ",
      u"\t\r\n",
      std::u16string(u"a\0b", 3),
      std::u16string(1, u'\0'),
      std::u16string(202, u'n'),     // the paths of its binaries would be too long
      std::u16string(130, u'\u00E9'),  // 260 bytes of UTF-8, too long for a host file name
      std::u16string(90, u'/'),      // 270 characters once escaped
  };
  const std::u16string taken[] = {u"existing", u"EXISTING "};  // another channel's name in other case
  for (const auto& name : cases) {
    std::u16string reason;
    EXPECT_FALSE(CChannel::IsValidName(name, &reason)) << plat::Utf16ToUtf8(name);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(set.Add(name), nullptr) << plat::Utf16ToUtf8(name);
  }
  for (const auto& name : taken) EXPECT_EQ(set.Add(name), nullptr) << plat::Utf16ToUtf8(name);
  EXPECT_EQ(set.GetCount(), 1);
  EXPECT_EQ(Snapshot(Host(kTestContent)), before);

  // Renaming to a refused name changes nothing either.
  IChannel* channel = set.GetAt(0);
  for (const auto& name : cases) EXPECT_FALSE(channel->Rename(name)) << plat::Utf16ToUtf8(name);
  // Its own name in other case is no rename at all.
  for (const auto& name : taken) EXPECT_TRUE(channel->Rename(name));
  EXPECT_EQ(channel->GetName(), u"Existing");
  EXPECT_EQ(Snapshot(Host(kTestContent)), before);
}

TEST_F(ChannelNamesTest, EscapingRoundTrips) {
  const std::u16string names[] = {u"plain", u"a:b/c.d", u"100%", u"%2E", u"tab\tnl\n", u"\x1F\x7F", u"☃"};
  for (const auto& name : names) {
    const std::u16string escaped = CChannel::EscapeName(name);
    for (char16_t c : escaped) {
      EXPECT_TRUE(c >= 0x20 && c != 0x7F && c != u'\\' && c != u'/' && c != u':' && c != u'.')
          << plat::Utf16ToUtf8(escaped);
    }
    EXPECT_EQ(CChannel::UnescapeName(escaped), name) << plat::Utf16ToUtf8(escaped);
  }
  EXPECT_EQ(CChannel::EscapeName(u"a:b/c.d"), u"a%3Ab%2Fc%2Ed");
  EXPECT_EQ(CChannel::EscapeName(u"tab\there"), u"tab%09here");
}

}  // namespace
