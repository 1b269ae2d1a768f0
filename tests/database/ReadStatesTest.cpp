#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "core/RecordEncoding.h"
#include "database/ChannelMutexTimeout.h"
#include "database/ReadStates.h"
#include "tests/database/HeldMutex.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HeadersFixture.h"

namespace {

using orvtest::FakeChannel;

class ReadStatesTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { CreateFolderTree(u"\\Content\\R"); }
  std::unique_ptr<CReadStates> Make() { return CReadStates::Create(kPath, u"CL.R"); }
  std::string Host() { return orvtest::HostPath(device_, kPath); }
  const std::u16string kPath = u"\\Content\\R\\unread.bin";
};

TEST_F(ReadStatesTest, CreateNeedsPathAndMutexName) {
  EXPECT_EQ(CReadStates::Create(u"", u"CL.R"), nullptr);
  EXPECT_EQ(CReadStates::Create(kPath, u""), nullptr);
  EXPECT_NE(CReadStates::Create(kPath, u"CL.R"), nullptr);
}

TEST_F(ReadStatesTest, CountFromTheFileSize) {
  struct Case {
    const char* what;
    bool exists;
    std::string bytes;
    std::int32_t count;
  };
  std::string two;
  orvtest::PutInt32(two, 2);
  orvtest::PutDigest(two, 0x01);
  orvtest::PutDigest(two, 0x02);
  std::string claimsThree = two;
  claimsThree[0] = 3;
  const Case cases[] = {
      {"missing", false, "", 0},
      {"empty file", true, "", 0},
      {"shorter than its header", true, std::string("\1\0", 2), 0},
      {"header only", true, std::string(4, '\0'), 0},
      {"two ids", true, two, 2},
      {"a torn id", true, two + std::string(7, 'x'), 2},
      {"claims more than it holds", true, claimsThree + std::string(5, 'y'), 2},
  };
  for (const auto& c : cases) {
    if (c.exists) {
      orvtest::WriteHostFile(Host(), c.bytes);
    } else {
      DeleteFileIfExists(kPath);
    }
    auto states = Make();
    EXPECT_EQ(states->GetUnreadCount(), c.count) << c.what;
  }
}

TEST_F(ReadStatesTest, ChangesSaveAtOnceAndSurviveAReload) {
  FakeChannel channel(u"\\Content\\C");
  CArticle* a = channel.NewArticle('a', 3);
  CArticle* b = channel.NewArticle('b', 2);
  channel.Articles().Add(a);
  channel.Articles().Add(b);
  {
    auto states = Make();
    EXPECT_TRUE(states->IsRead(a));
    EXPECT_TRUE(states->IsRead(nullptr));
    EXPECT_FALSE(states->SetRead(nullptr, false));
    EXPECT_TRUE(states->SetRead(a, false));
    EXPECT_FALSE(states->SetRead(a, false));
    EXPECT_TRUE(states->SetRead(b, false));
    EXPECT_EQ(states->GetUnreadCount(), 2);
    EXPECT_EQ(states->IsDirty(), 0);
  }
  EXPECT_EQ(orvtest::ReadHostFile(Host()).size(), 4u + 32u);
  {
    auto states = Make();
    EXPECT_EQ(states->GetUnreadCount(), 2);
    EXPECT_FALSE(states->IsRead(a));
    EXPECT_FALSE(states->IsRead(b));
    EXPECT_TRUE(states->SetRead(a, true));
    EXPECT_TRUE(states->SetRead(b, true));  // the last one: the file goes
    EXPECT_FALSE(FileExists(kPath));
    EXPECT_EQ(states->GetUnreadCount(), 0);
  }
}

TEST_F(ReadStatesTest, RemoveMissingCountsWhatIsLeft) {
  std::string three;
  orvtest::PutInt32(three, 3);
  for (unsigned char fill : {0x01, 0x02, 0x03}) orvtest::PutDigest(three, fill);
  orvtest::WriteHostFile(Host(), three);
  auto states = Make();
  EXPECT_TRUE(states->RemoveMissing(CStringSet{u"01010101010101010101010101010101"}));
  EXPECT_EQ(states->GetUnreadCount(), 1);
  EXPECT_FALSE(states->RemoveMissing(CStringSet{u"01010101010101010101010101010101"}));
  EXPECT_EQ(orvtest::ReadHostFile(Host()).size(), 20u);
  states->MarkAllRead();
  EXPECT_FALSE(FileExists(kPath));
}

TEST_F(ReadStatesTest, ReadOnlyAndFailedWritesKeepDirty) {
  FakeChannel channel(u"\\Content\\C");
  CArticle* a = channel.NewArticle('a', 3);
  channel.Articles().Add(a);
  auto states = Make();
  bool readOnly = true;
  states->SetReadOnlyCheck([&readOnly] { return readOnly; });
  EXPECT_TRUE(states->SetRead(a, false));
  EXPECT_EQ(states->IsDirty(), 1);
  EXPECT_FALSE(FileExists(kPath));
  readOnly = false;
  plat::SimulateDiskFull(3);
  EXPECT_FALSE(states->Save());
  plat::SimulateDiskFull(-1);
  EXPECT_EQ(states->IsDirty(), 1);
  EXPECT_TRUE(states->Save());
  EXPECT_EQ(states->IsDirty(), 0);
  EXPECT_EQ(orvtest::ReadHostFile(Host()).size(), 20u);
}

// A first load that times out is not an empty file: the marks made
// meanwhile wait and are laid over the stored ones once the file can be read,
// and the save writes the whole set, not only what changed since.
TEST_F(ReadStatesTest, LoadThatTimesOutKeepsTheStoredMarks) {
  std::string three;
  orvtest::PutInt32(three, 3);
  for (unsigned char fill : {0x11, 0x22, 0x33}) orvtest::PutDigest(three, fill);
  orvtest::WriteHostFile(Host(), three);
  FakeChannel channel(u"\\Content\\C");
  CArticle* stored = channel.NewArticle(u'1', 3);  // "1111...": unread on disk
  CArticle* fresh = channel.NewArticle(u'f', 2);
  channel.Articles().Add(stored);
  channel.Articles().Add(fresh);
  SetChannelMutexTimeout(20);
  {
    auto states = Make();
    {
      orvtest::HeldMutex busy(u"CL.R");
      ASSERT_TRUE(busy.Held());
      EXPECT_TRUE(states->SetRead(fresh, false, false));
      EXPECT_FALSE(states->IsLoaded());
      EXPECT_FALSE(states->Save());
      EXPECT_EQ(states->IsDirty(), 1);
      EXPECT_EQ(orvtest::ReadHostFile(Host()), three);
    }
    EXPECT_EQ(states->GetUnreadCount(), 4);
    EXPECT_TRUE(states->Save());
  }
  SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
  auto again = Make();
  EXPECT_EQ(again->GetUnreadCount(), 4);
  EXPECT_FALSE(again->IsRead(fresh));
  EXPECT_FALSE(again->IsRead(stored));
  EXPECT_TRUE(again->RemoveMissing(CStringSet{stored->GetId(), fresh->GetId(),
                                              u"22222222222222222222222222222222"}));
  EXPECT_EQ(again->GetUnreadCount(), 3);
}

// A read mark made while the file cannot be read is kept the same way.
TEST_F(ReadStatesTest, ReadMarkWhileBusyIsLaidOverTheFile) {
  std::string two;
  orvtest::PutInt32(two, 2);
  orvtest::PutDigest(two, 0x11);
  orvtest::PutDigest(two, 0x22);
  orvtest::WriteHostFile(Host(), two);
  FakeChannel channel(u"\\Content\\C");
  CArticle* first = channel.NewArticle(u'1', 2);
  channel.Articles().Add(first);
  SetChannelMutexTimeout(20);
  auto states = Make();
  {
    orvtest::HeldMutex busy(u"CL.R");
    EXPECT_TRUE(states->SetRead(first, true));
    EXPECT_EQ(states->IsDirty(), 1);
  }
  SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
  EXPECT_TRUE(states->IsRead(first));
  EXPECT_EQ(states->GetUnreadCount(), 1);
  EXPECT_TRUE(states->Save());
  EXPECT_EQ(orvtest::ReadHostFile(Host()).size(), 20u);
}

TEST_F(ReadStatesTest, KilledWhileSavingLeavesAWholeFile) {
  std::string one;
  orvtest::PutInt32(one, 1);
  orvtest::PutDigest(one, 0x99);
  orvtest::WriteHostFile(Host(), one);
  for (int round = 0; round < 3; ++round) {
    orvtest::ChildProcess child([this](orvtest::ChildContext& ctx) {
      FakeChannel channel(u"\\Content\\C");
      std::vector<CArticle*> articles;
      for (char16_t d = u'a'; d <= u'f'; ++d) {
        articles.push_back(channel.NewArticle(d, 1));
        channel.Articles().Add(articles.back());
      }
      auto states = Make();
      ctx.Ready();
      for (unsigned i = 0;; ++i) states->SetRead(articles[i % articles.size()], (i / articles.size()) % 2 == 1);
      return 0;
    });
    ASSERT_TRUE(child.WaitReady());
    ::usleep(20000 + 15000 * round);
    child.Kill(SIGKILL);
    child.Wait();
    const std::string bytes = orvtest::ReadHostFile(Host());
    if (bytes.empty() && !FileExists(kPath)) continue;  // between "all read" and the next unread
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ((bytes.size() - 4) % 16, 0u);
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    EXPECT_EQ(bytes.size(), 4u + 16u * n);
  }
}

}  // namespace
