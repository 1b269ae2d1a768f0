// Two processes over one channel file: a reader never sees a half-written
// file, and a writer killed in the middle of a save leaves the old or the new
// channel, never none.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "tests/database/ChannelFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace orvtest;

// Two large versions of one property, so a save takes a while.
const std::u16string kBodyA(150000, u'a');
const std::u16string kBodyB(150000, u'b');

// Saves the channel again and again, switching between the two versions.
int SaveForever(const std::u16string& path, ChildContext& ctx, int rounds) {
  CChannel channel;
  if (!channel.OpenFromFile(path)) return 2;
  ctx.Ready();
  for (int i = 0; rounds < 0 || i < rounds; ++i) {
    channel.SetProperty(u"body", (i % 2) == 0 ? kBodyB : kBodyA);
    if (channel.IsChannelFileDirty()) return 3;
  }
  ctx.Send("done");
  return 0;
}

class ChannelProcessTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    IChannel* channel = set.Add(u"Shared");
    ASSERT_NE(channel, nullptr);
    channel->SetProperty(u"body", kBodyA);
    path_ = channel->GetFilePath();
  }
  // The channel as stored now: loads, and holds one version whole.
  void ExpectWhole() {
    CChannel channel;
    ASSERT_TRUE(channel.OpenFromFile(path_));
    const auto& props = channel.GetProperties();
    ASSERT_EQ(props.count(u"body"), 1u);
    const std::u16string& body = props.at(u"body");
    EXPECT_TRUE(body == kBodyA || body == kBodyB) << "a body of " << body.size() << " characters";
  }

  std::u16string path_;
};

TEST_F(ChannelProcessTest, LoaderSeesTheOldOrTheNewChannel) {
  const std::u16string path = path_;
  ChildProcess writer([path](ChildContext& ctx) { return SaveForever(path, ctx, 60); });
  ASSERT_TRUE(writer.WaitReady());
  int loads = 0;
  const auto start = std::chrono::steady_clock::now();
  while (!writer.WaitFor("done", 0) && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    ExpectWhole();
    ++loads;
    if (HasFailure()) break;
  }
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_GT(loads, 0);
  ExpectWhole();
}

TEST_F(ChannelProcessTest, WriterKilledDuringASaveLeavesAWholeChannel) {
  const int delaysMs[] = {3, 17, 41};
  for (int delay : delaysMs) {
    SCOPED_TRACE(delay);
    const std::u16string path = path_;
    ChildProcess writer([path](ChildContext& ctx) { return SaveForever(path, ctx, -1); });
    ASSERT_TRUE(writer.WaitReady());
    ::usleep(static_cast<useconds_t>(delay) * 1000);
    writer.Kill(SIGKILL);
    EXPECT_EQ(writer.Wait(), 128 + SIGKILL);
    ExpectWhole();
  }
  // Whatever side files were left, the set finds the one channel.
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  ASSERT_EQ(set.GetCount(), 1);
  EXPECT_EQ(set.GetAt(0)->GetName(), u"Shared");
  EXPECT_FALSE(set.HadUnreadableFile());
}

}  // namespace
