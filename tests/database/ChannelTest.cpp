// A channel's behaviour over its files: age limit, order counter, the channel
// image, renaming, unloading, read-only mode and a busy channel mutex.
#include <gtest/gtest.h>

#include <vector>

#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "tests/database/ChannelFixture.h"
#include "tests/database/HeldMutex.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace orvtest;

constexpr std::uint64_t kTicksPerSecond = 10000000ull;

struct Recorder : CDBEventListener {
  void OnDBEvent(CDBEvent* record) override {
    types.push_back(record->type);
    if (record->type == DBE_CHANNEL_RENAMED) oldNames.push_back(record->oldText);
    if (record->type == DBE_CHANNEL_AT_INDEX_CHANGED) indexes.push_back(record->index);
  }
  int Count(std::uint32_t type) const { return static_cast<int>(std::count(types.begin(), types.end(), type)); }
  std::vector<std::uint32_t> types;
  std::vector<std::u16string> oldNames;
  std::vector<std::int32_t> indexes;
};

std::u16string Id(char16_t digit) { return std::u16string(32, digit); }

class ChannelBehaviourTest : public ChannelTest {
 protected:
  void TearDown() override { plat::SetClock(nullptr); }
  CChannel* AddChannel(const std::u16string& name) {
    IChannel* channel = set_.Add(name);
    EXPECT_NE(channel, nullptr);
    return static_cast<CChannel*>(channel);
  }
  std::string ChannelFileHost(CChannel* channel) { return Host(channel->GetFilePath()); }

  plat::ManualClock clock_;
  CChannelSet set_;
};

TEST_F(ChannelBehaviourTest, AgeLimitDecidesWhichArticlesAreCreated) {
  plat::SetClock(&clock_);
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Ages");
  channel->GetOptions()->SetUseDefaultLimits(0);
  channel->GetOptions()->SetArticlesAgeLimitEnabled(1);
  channel->GetOptions()->SetArticlesAgeLimit(7);
  channel->Acquire(this);
  const std::uint64_t now = clock_.NowUtcFileTime();
  const std::uint64_t day = 86400 * kTicksPerSecond;
  struct Case {
    const char* what;
    std::uint64_t date;
    bool created;
  };
  const Case cases[] = {
      {"7 days and 1 second old", now - 7 * day - kTicksPerSecond, false},
      {"exactly 7 days old", now - 7 * day, false},
      {"6 days 23 hours old", now - 6 * day - 23 * 3600 * kTicksPerSecond, true},
      {"no date", 0, true},
      {"dated in the future", now + day, true},
  };
  char16_t digit = u'1';
  for (const auto& c : cases) {
    IArticle* article = channel->CreateArticle(Id(digit++), US_UP_TO_DATE, plat::ULLToFileTime(c.date));
    EXPECT_EQ(article != nullptr, c.created) << c.what;
  }
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 3);

  // With the limit switched off an old article is created.
  channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
  EXPECT_NE(channel->CreateArticle(Id(u'9'), US_UP_TO_DATE, plat::ULLToFileTime(now - 100 * day)), nullptr);
  channel->Release(this, false);
}

TEST_F(ChannelBehaviourTest, OrderCounterRisesOncePerUpdate) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Orders");
  channel->Acquire(this);
  EXPECT_EQ(channel->GetOrderCounter(), 1000u);
  channel->SetUpdateState(US_UPDATING);
  const std::uint32_t n = channel->GetOrderCounter();
  EXPECT_EQ(n, 2000u);
  // Articles waiting for their own jobs change the channel's combined status;
  // that is no new update.
  IArticle* a = channel->CreateArticle(Id(u'a'), US_WAITING, plat::FILETIME{});
  IArticle* b = channel->CreateArticle(Id(u'b'), US_WAITING, plat::FILETIME{});
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->GetOrder(), n - 1);
  EXPECT_EQ(b->GetOrder(), n - 2);
  a->SetUpdateState(US_UP_TO_DATE);
  b->SetUpdateState(US_UP_TO_DATE);
  channel->SetUpdateState(US_UP_TO_DATE);
  // The end of the update saved the headers and the channel file.
  EXPECT_TRUE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  EXPECT_FALSE(channel->IsChannelFileDirty());

  channel->SetUpdateState(US_UPDATING);
  IArticle* c = channel->CreateArticle(Id(u'c'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetOrder(), n - 3 + 1000);
  channel->SetUpdateState(US_UP_TO_DATE);
  channel->Release(this, false);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 0);

  // Loading again: the counter continues above the highest stored order.
  channel->Acquire(this);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 3);
  EXPECT_EQ(channel->GetOrderCounter(), n - 3 + 1000 + 1000);
  EXPECT_FALSE(channel->IsArticleRead(channel->GetArticleSet()->FindById(Id(u'c'))));
  EXPECT_EQ(channel->GetUnreadCount(), 3);
  channel->Release(this, false);
}

TEST_F(ChannelBehaviourTest, ReleaseOfTheLastUserSavesAndUnloads) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Users");
  int second = 0;
  channel->Acquire(this);
  channel->Acquire(&second);
  channel->Acquire(this);  // counted once
  EXPECT_EQ(channel->GetUserCount(), 2u);
  IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"body"}}));
  channel->Release(&second, false);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 1);
  EXPECT_FALSE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  channel->Release(&second, true);  // not a user any more: nothing
  EXPECT_FALSE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  channel->Release(this, false);
  EXPECT_EQ(channel->GetUserCount(), 0u);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 0);
  EXPECT_TRUE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  EXPECT_EQ(channel->GetUnreadCount(), 1);

  channel->Acquire(this);
  IArticle* again = channel->GetArticleSet()->FindById(Id(u'a'));
  ASSERT_NE(again, nullptr);
  CStringToStringMap props;
  ASSERT_TRUE(channel->GetArticleProperties(again, props));
  EXPECT_EQ(props.at(u"text"), u"body");
  // A deleted article loses its stored data and counts as read.
  again->Delete();
  EXPECT_TRUE(channel->IsArticleRead(again));
  ASSERT_TRUE(channel->GetArticleProperties(again, props));
  EXPECT_TRUE(props.empty());
  // Tombstones whose ids the feed no longer names are forgotten.
  channel->ForgetDeletedArticles({Id(u'z')});
  channel->Release(this, false);
  channel->Acquire(this);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 0);
  channel->Release(this, false);
}

// An article read by itself is written at once, and the Today item, which
// lists the unread articles, is told to read the channel again.
TEST_F(ChannelBehaviourTest, AnArticleMarkedReadTellsTheTodayItem) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Reads");
  channel->Acquire(this);
  IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"body"}}));
  channel->Release(this, true);
  channel->Acquire(this);
  a = channel->GetArticleSet()->FindById(Id(u'a'));
  ASSERT_NE(a, nullptr);
  // The Today item has taken every change so far.
  ASSERT_TRUE(OpenSettingsKey().SetString(kChangedItemsValue, kNoItemsChanged));
  channel->SetArticleRead(a, true);
  EXPECT_NE(OpenSettingsKey().GetString(kChangedItemsValue, u"").find(u"Reads"), std::u16string::npos);
  channel->Release(this, false);
}

TEST_F(ChannelBehaviourTest, NewChannelImageReplacesTheOldBinary) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Pictures");
  Recorder recorder;
  recorder.Subscribe(channel);
  channel->Acquire(this);
  channel->SetProperties({{kPropUrl, u"http://feed.test/"}, {kPropThumbnail, u"http://img.test/old.png"}});
  IBinary* old = channel->GetBinarySet()->Lookup(u"http://img.test/old.png");
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_CHANGED), 1);

  // The download of the image ends: the channel remembers its local file.
  std::u16string fileName;
  old->GetFileName(fileName, false);
  ASSERT_FALSE(fileName.empty());
  WriteHostFile(Host(CombinePath(channel->GetBinFolder(), fileName)), "png");
  old->SetUpdateState(US_UP_TO_DATE);
  EXPECT_EQ(channel->GetProperties().at(kPropThumbnailFile), fileName);
  EXPECT_EQ(channel->GetThumbnailFile(), CombinePath(channel->GetBinFolder(), fileName));

  CStringToStringMap props = channel->GetProperties();
  props[kPropThumbnail] = u"http://img.test/new.png";
  channel->SetProperties(props);
  EXPECT_EQ(channel->GetProperties().count(kPropThumbnailFile), 0u);
  EXPECT_EQ(channel->GetThumbnailFile(), u"");
  EXPECT_EQ(channel->GetBinarySet()->Lookup(u"http://img.test/old.png"), nullptr);
  EXPECT_NE(channel->GetBinarySet()->Lookup(u"http://img.test/new.png"), nullptr);

  // The same address in other letter case is no change.
  const int changes = recorder.Count(DBE_CHANNEL_CHANGED);
  props = channel->GetProperties();
  props[kPropThumbnail] = u"HTTP://IMG.TEST/NEW.PNG";
  channel->SetProperties(props);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_CHANGED), changes);
  channel->Release(this, false);
  recorder.Unsubscribe(channel);

  CChannel reloaded;
  ASSERT_TRUE(reloaded.OpenFromFile(channel->GetFilePath()));
  EXPECT_EQ(reloaded.GetThumbnail(), u"HTTP://IMG.TEST/NEW.PNG");
  EXPECT_EQ(reloaded.GetProperties().count(kPropThumbnailFile), 0u);
}

TEST_F(ChannelBehaviourTest, RenameMovesTheFilesAndKeepsNamesApart) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Alpha");
  AddChannel(u"Beta");
  channel->SetProperty(kPropUrl, u"http://alpha.test/");
  channel->Acquire(this);
  IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"kept"}}));
  channel->Release(this, false);
  const std::string oldFile = ChannelFileHost(channel);
  const std::string oldFileBytes = ReadHostFile(oldFile);
  Recorder recorder;
  recorder.Subscribe(channel);

  // Another letter case is the same name: nothing moves.
  EXPECT_TRUE(channel->Rename(u"ALPHA"));
  EXPECT_EQ(channel->GetName(), u"Alpha");
  EXPECT_EQ(ReadHostFile(oldFile), oldFileBytes);
  // Another channel's name, in any case, is refused.
  EXPECT_FALSE(channel->Rename(u"beta"));
  EXPECT_FALSE(channel->Rename(u"  Beta "));
  EXPECT_FALSE(channel->Rename(u"   "));
  EXPECT_EQ(channel->GetName(), u"Alpha");
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_RENAMED), 0);

  ASSERT_TRUE(channel->Rename(u"  Gamma  "));
  EXPECT_EQ(channel->GetName(), u"Gamma");
  EXPECT_EQ(channel->GetMutexName(), u"CL.Gamma");
  EXPECT_EQ(channel->GetFilePath(), CombinePath(kTestContent, u"Gamma.cnl"));
  EXPECT_FALSE(HostExists(oldFile));
  EXPECT_FALSE(HostExists(ContentHost(u"Alpha")));
  EXPECT_TRUE(HostExists(ContentHost(u"Gamma.cnl")));
  ASSERT_EQ(recorder.oldNames, std::vector<std::u16string>{u"Alpha"});
  recorder.Unsubscribe(channel);

  CChannel reloaded;
  ASSERT_TRUE(reloaded.OpenFromFile(CombinePath(kTestContent, u"Gamma.cnl")));
  EXPECT_EQ(reloaded.GetProperties().at(kPropUrl), u"http://alpha.test/");
  reloaded.Acquire(this);
  IArticle* moved = reloaded.GetArticleSet()->FindById(Id(u'a'));
  ASSERT_NE(moved, nullptr);
  CStringToStringMap props;
  ASSERT_TRUE(reloaded.GetArticleProperties(moved, props));
  EXPECT_EQ(props.at(u"text"), u"kept");
  EXPECT_FALSE(reloaded.IsArticleRead(moved));
  reloaded.Release(this, false);
}

TEST_F(ChannelBehaviourTest, RenameDoesNotOverwriteAChannelFileLeftOnDisk) {
  // A file that did not load is not part of the set but stays stored.
  WriteHostFile(ContentHost(u"Stored.cnl"), "XXXXjunk");
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Fresh");
  EXPECT_FALSE(channel->Rename(u"Stored"));
  EXPECT_EQ(channel->GetName(), u"Fresh");
  EXPECT_EQ(ReadHostFile(ContentHost(u"Stored.cnl")), "XXXXjunk");
  // Adding the name itself sets the unreadable file aside, kept as it was,
  // and makes the channel anew.
  EXPECT_NE(set_.Add(u"Stored"), nullptr);
  EXPECT_EQ(ReadHostFile(ContentHost(u"Stored.cnl.damaged")), "XXXXjunk");
}

TEST_F(ChannelBehaviourTest, ClearDataEmptiesTheDataFolder) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Clear");
  channel->Acquire(this);
  channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  channel->SaveHeaders();
  ASSERT_TRUE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  channel->ClearData();
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 0);
  EXPECT_FALSE(FileExists(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  EXPECT_FALSE(FileExists(CombinePath(channel->GetDataFolder(), u"unread.bin")));
  EXPECT_TRUE(DirectoryExists(channel->GetBinFolder()));
  EXPECT_EQ(channel->GetUnreadCount(), 0);
  channel->Release(this, false);
}

TEST_F(ChannelBehaviourTest, ReadOnlyModeTouchesNoStoredFile) {
  {
    CChannelSet writer;
    ASSERT_TRUE(writer.Open());
    auto* channel = static_cast<CChannel*>(writer.Add(u"Shared"));
    ASSERT_NE(channel, nullptr);
    channel->SetProperties({{kPropUrl, u"http://shared.test/"}});
    channel->Acquire(this);
    IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
    channel->CreateArticle(Id(u'b'), US_UP_TO_DATE, plat::FILETIME{});
    ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"stored"}}));
    // b carries a downloaded binary, whose file the reader's delete must keep.
    IArticle* b = channel->GetArticleSet()->FindById(Id(u'b'));
    b->GetBinaries()->AddUrl(u"http://shared.test/b.png");
    IBinary* binary = channel->GetBinarySet()->Lookup(u"http://shared.test/b.png");
    ASSERT_NE(binary, nullptr);
    std::u16string file;
    binary->GetFileName(file, true);
    WriteHostFile(Host(file), "picture");
    binary->SetUpdateState(US_UP_TO_DATE);
    channel->SetUpdateState(US_UP_TO_DATE);
    channel->Release(this, false);
    ASSERT_NE(writer.Add(u"Other"), nullptr);
  }
  // A damaged headers file stays exactly as it is too.
  WriteHostFile(ContentHost(u"Other\\headers.bin"), std::string("OBH1\x05\0\0\0\x06", 9));
  const std::string root = Host(kTestContent);
  const auto before = Snapshot(root);
  ASSERT_TRUE(before.count("/Shared/headers.bin"));
  ASSERT_TRUE(before.count("/Shared/unread.bin"));
  ASSERT_TRUE(before.count("/Shared/data.bin"));
  ASSERT_EQ(std::count_if(before.begin(), before.end(),
                          [](const auto& entry) { return entry.second == "picture"; }),
            1);

  CChannelSet reader;
  reader.SetReadOnly(1);
  ASSERT_TRUE(reader.Open());
  ASSERT_EQ(reader.GetCount(), 2);
  auto* channel = static_cast<CChannel*>(reader.FindByName(u"Shared"));
  ASSERT_NE(channel, nullptr);
  channel->Acquire(this);
  IArticle* a = channel->GetArticleSet()->FindById(Id(u'a'));
  IArticle* b = channel->GetArticleSet()->FindById(Id(u'b'));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  CStringToStringMap props;
  ASSERT_TRUE(channel->GetArticleProperties(a, props));
  EXPECT_EQ(props.at(u"text"), u"stored");
  channel->SetArticleRead(a, true);
  EXPECT_FALSE(channel->SetArticleProperties(b, {{u"text", u"new"}}));
  b->Delete();
  channel->SetProperty(u"note", u"changed");
  channel->CreateArticle(Id(u'c'), US_UP_TO_DATE, plat::FILETIME{});
  channel->SetUpdateState(US_FAILED);
  channel->MarkAllRead();
  channel->Release(this, true);
  channel->Release(this, false);
  EXPECT_FALSE(channel->Rename(u"Renamed"));
  channel->ClearData();
  IChannel* other = reader.FindByName(u"Other");
  ASSERT_NE(other, nullptr);
  other->Acquire(this);
  other->Release(this, true);
  EXPECT_EQ(reader.Add(u"Third"), nullptr);
  reader.Remove(u"Other");
  EXPECT_EQ(reader.GetCount(), 1);
  reader.RemoveAll();

  EXPECT_EQ(Snapshot(root), before);
}

std::vector<std::u16string> g_unloaded;
std::vector<std::u16string> g_removedImages;

TEST_F(ChannelBehaviourTest, ThumbnailsServiceHearsOfUnloadsAndDeletedImages) {
  g_unloaded.clear();
  g_removedImages.clear();
  ChannelThumbnailsHooks hooks;
  hooks.unloadPools = [](const std::u16string& folder) { g_unloaded.push_back(folder); };
  hooks.removeImage = [](const std::u16string& path) { g_removedImages.push_back(path); };
  SetChannelThumbnailsHooks(hooks);
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Thumbs");
  int other = 0;
  channel->Acquire(this);
  channel->Acquire(&other);
  IArticle* article = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  article->SetImageUrl(u"http://img.test/a.jpg");
  IBinary* image = channel->GetBinarySet()->Lookup(u"http://img.test/a.jpg");
  ASSERT_NE(image, nullptr);
  std::u16string file;
  image->GetFileName(file, true);
  WriteHostFile(Host(file), "jpeg");
  image->SetUpdateState(US_UP_TO_DATE);
  article->Delete();
  EXPECT_EQ(g_removedImages, std::vector<std::u16string>{file});
  channel->Release(&other, true);
  EXPECT_TRUE(g_unloaded.empty()) << "a user is left";
  channel->Release(this, false);
  EXPECT_EQ(g_unloaded, std::vector<std::u16string>{channel->GetBinFolder()});
  SetChannelThumbnailsHooks(ChannelThumbnailsHooks());
}

TEST_F(ChannelBehaviourTest, NewImageOfAnUnloadedChannelKeepsItsArticles) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Unloaded");
  channel->Acquire(this);
  channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  channel->CreateArticle(Id(u'b'), US_UP_TO_DATE, plat::FILETIME{});
  channel->Release(this, false);
  const std::string headers = Host(CombinePath(channel->GetDataFolder(), u"headers.bin"));
  const std::string stored = ReadHostFile(headers);

  channel->SetProperties({{kPropThumbnail, u"http://img.test/logo.png"}});
  channel->SetUpdateState(US_UPDATING);
  channel->SetUpdateState(US_UP_TO_DATE);  // an update that never loaded the articles
  EXPECT_EQ(ReadHostFile(headers), stored);

  channel->Acquire(this);
  EXPECT_EQ(channel->GetArticleSet()->GetCount(), 2);
  EXPECT_NE(channel->GetBinarySet()->Lookup(u"http://img.test/logo.png"), nullptr);
  channel->Release(this, false);
}

// The channel mutex held by another process of the device.
class BusyChannel {
 public:
  explicit BusyChannel(const std::u16string& mutexName)
      : child_([mutexName](ChildContext& ctx) {
          plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, mutexName.c_str());
          if (mutex == nullptr || plat::WaitForSingleObject(mutex, 5000) != plat::WAIT_OBJECT_0) return 2;
          ctx.Ready();
          if (!ctx.WaitFor("release", 20000)) return 3;
          plat::ReleaseMutex(mutex);
          ctx.Send("released");
          ctx.WaitFor("end", 20000);
          return 0;
        }) {}
  bool Started() { return child_.WaitReady(); }
  bool Release() { return child_.Send("release") && child_.WaitFor("released"); }
  int End() {
    child_.Send("end");
    return child_.Wait();
  }

 private:
  ChildProcess child_;
};

// The channel's work gives up on a held mutex after a short wait here.
class BusyChannelTest : public ChannelBehaviourTest {
 protected:
  void SetUp() override {
    ChannelBehaviourTest::SetUp();
    SetChannelMutexTimeout(50);
  }
  void TearDown() override {
    SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
    ChannelBehaviourTest::TearDown();
  }
};

TEST_F(BusyChannelTest, SaveThatCannotTakeTheMutexKeepsTheChange) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Busy");
  const std::string file = ChannelFileHost(channel);
  const std::string stored = ReadHostFile(file);
  BusyChannel busy(u"CL.Busy");
  ASSERT_TRUE(busy.Started());
  channel->SetProperty(kPropUrl, u"http://busy.test/");
  EXPECT_TRUE(channel->IsChannelFileDirty());
  EXPECT_EQ(ReadHostFile(file), stored);
  ASSERT_TRUE(busy.Release());
  EXPECT_TRUE(channel->SaveChannelFile());
  EXPECT_FALSE(channel->IsChannelFileDirty());
  CChannel reloaded;
  ASSERT_TRUE(reloaded.OpenFromFile(channel->GetFilePath()));
  EXPECT_EQ(reloaded.GetProperties().at(kPropUrl), u"http://busy.test/");
  EXPECT_EQ(busy.End(), 0);
}

TEST_F(BusyChannelTest, LoadThatCannotTakeTheMutexReadsNothingAndKeepsTheFiles) {
  WriteHostFile(ContentHost(u"Locked.cnl"), ChannelFileBytes(kMagicOBC1, 6, {}, {{"@url", "http://locked.test/"}}));
  ASSERT_TRUE(CreateFolderTree(CombinePath(kTestContent, u"Locked\\bin")));
  BusyChannel busy(u"CL.Locked");
  ASSERT_TRUE(busy.Started());
  CChannel channel;
  EXPECT_FALSE(channel.OpenFromFile(CombinePath(kTestContent, u"Locked.cnl")));
  EXPECT_FALSE(channel.HadUnreadableFile());
  EXPECT_TRUE(channel.GetProperties().empty());
  ASSERT_TRUE(busy.Release());
  ASSERT_TRUE(channel.OpenFromFile(CombinePath(kTestContent, u"Locked.cnl")));
  EXPECT_EQ(channel.GetProperties().at(kPropUrl), u"http://locked.test/");
  EXPECT_EQ(busy.End(), 0);
}

// A release whose save fails (the channel busy, the disk full) loses
// nothing: a read mark, an update's new article and its pending record stay
// in memory, and the next release, or the channel's end, stores them.
TEST_F(BusyChannelTest, ReleaseWhoseSaveFailsKeepsWhatWasPending) {
  struct Case {
    const char* what;
    bool diskFull;       // else the mutex is held by another thread
    bool savedByTheEnd;  // else by the next release
  };
  const Case cases[] = {
      {"busy, next release", false, false},
      {"busy, channel's end", false, true},
      {"disk full, next release", true, false},
      {"disk full, channel's end", true, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set_.RemoveAll();
    ASSERT_TRUE(set_.Open());
    const std::u16string name = u"Keep" + std::u16string(1, static_cast<char16_t>(u'0' + n++));
    CChannel* channel = AddChannel(name);
    channel->Acquire(this);
    IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
    ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"stored"}}));
    channel->Release(this, false);

    channel->Acquire(this);
    a = channel->GetArticleSet()->FindById(Id(u'a'));
    ASSERT_NE(a, nullptr);
    ASSERT_FALSE(channel->IsArticleRead(a));
    {
      std::unique_ptr<HeldMutex> busy;
      if (c.diskFull) {
        plat::SimulateDiskFull(0);
      } else {
        busy = std::make_unique<HeldMutex>(u"CL." + name);
        ASSERT_TRUE(busy->Held());
      }
      channel->SetArticleRead(a, true);
      IArticle* b = channel->CreateArticle(Id(u'b'), US_UP_TO_DATE, plat::FILETIME{});
      ASSERT_NE(b, nullptr);
      channel->SetArticleProperties(b, {{u"text", u"new"}});
      channel->Release(this, false);
      plat::SimulateDiskFull(-1);
    }
    if (c.savedByTheEnd) {
      set_.RemoveAll();
    } else {
      channel->Acquire(this);
      channel->Release(this, false);
      set_.RemoveAll();
    }

    ASSERT_TRUE(set_.Open());
    auto* reloaded = static_cast<CChannel*>(set_.FindByNameNoCase(name));
    ASSERT_NE(reloaded, nullptr);
    reloaded->Acquire(this);
    IArticle* storedA = reloaded->GetArticleSet()->FindById(Id(u'a'));
    IArticle* storedB = reloaded->GetArticleSet()->FindById(Id(u'b'));
    ASSERT_NE(storedA, nullptr);
    ASSERT_NE(storedB, nullptr) << "the new article was lost";
    EXPECT_TRUE(reloaded->IsArticleRead(storedA)) << "the read mark was lost";
    EXPECT_FALSE(reloaded->IsArticleRead(storedB));
    CStringToStringMap properties;
    EXPECT_TRUE(reloaded->GetArticleProperties(storedA, properties));
    EXPECT_EQ(properties[u"text"], u"stored");
    EXPECT_TRUE(reloaded->GetArticleProperties(storedB, properties));
    EXPECT_EQ(properties[u"text"], u"new") << "the pending record was lost";
    reloaded->Release(this, false);
    if (HasFailure()) break;
  }
}

// Headers that could not be read in (the mutex held past its time-out when
// the first user came) take no articles, and the update over them fails:
// nothing it read is described as stored, and what was stored stays.
TEST_F(BusyChannelTest, UpdateOverHeadersThatCouldNotBeLoadedFails) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Unloaded");
  channel->Acquire(this);
  IArticle* a = channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_TRUE(channel->SetArticleProperties(a, {{u"text", u"stored"}}));
  channel->Release(this, false);
  const std::string headers = ReadHostFile(Host(CombinePath(channel->GetDataFolder(), u"headers.bin")));
  ASSERT_FALSE(headers.empty());

  {
    HeldMutex busy(u"CL.Unloaded");
    ASSERT_TRUE(busy.Held());
    channel->Acquire(this);
  }
  EXPECT_FALSE(channel->AreHeadersLoaded());
  channel->SetUpdateState(US_UPDATING);
  EXPECT_EQ(channel->CreateArticle(Id(u'b'), US_UP_TO_DATE, plat::FILETIME{}), nullptr);
  channel->KeepWithSuccessfulSave({{kPropFeedDigest, u"0123"}, {kPropFeedETag, u"\"e\""}});
  channel->SetUpdateState(US_UP_TO_DATE);
  EXPECT_TRUE(channel->LastSaveFailed());
  EXPECT_EQ(channel->GetOwnUpdateState(), US_FAILED);
  EXPECT_EQ(channel->GetProperties().count(kPropFeedDigest), 0u);
  EXPECT_EQ(channel->GetProperties().count(kPropFeedETag), 0u);
  channel->Release(this, false);
  EXPECT_EQ(ReadHostFile(Host(CombinePath(channel->GetDataFolder(), u"headers.bin"))), headers);

  set_.RemoveAll();
  ASSERT_TRUE(set_.Open());
  auto* reloaded = static_cast<CChannel*>(set_.FindByNameNoCase(u"Unloaded"));
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(reloaded->GetProperties().count(kPropFeedDigest), 0u);
  reloaded->Acquire(this);
  EXPECT_NE(reloaded->GetArticleSet()->FindById(Id(u'a')), nullptr);
  EXPECT_EQ(reloaded->GetArticleSet()->FindById(Id(u'b')), nullptr);
  reloaded->Release(this, false);
}

// A channel that could not be added (its file not written: the disk
// failed once) leaves no file behind for a later save to write.
TEST_F(BusyChannelTest, ChannelThatCouldNotBeAddedWritesNothingLater) {
  ASSERT_TRUE(set_.Open());
  plat::ResetFileFaults();
  plat::FailFileOperation(plat::FileOperation::kOpenForWrite, 1);
  EXPECT_EQ(set_.Add(u"Refused"), nullptr);
  plat::ResetFileFaults();
  EXPECT_FALSE(HostExists(ContentHost(u"Refused.cnl")));
  set_.RemoveAll();
  ASSERT_TRUE(set_.Open());
  EXPECT_EQ(set_.FindByNameNoCase(u"Refused"), nullptr);
}

TEST_F(BusyChannelTest, RenamedChannelUsesTheMutexOfItsNewName) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Before");
  ASSERT_TRUE(channel->Rename(u"After"));
  BusyChannel busy(u"CL.After");
  ASSERT_TRUE(busy.Started());
  channel->SetProperty(kPropUrl, u"http://after.test/");
  EXPECT_TRUE(channel->IsChannelFileDirty()) << "the save must wait for the new name's mutex";
  ASSERT_TRUE(busy.Release());
  EXPECT_TRUE(channel->SaveChannelFile());
  EXPECT_EQ(busy.End(), 0);
}

}  // namespace

TEST_F(ChannelBehaviourTest, UpdateThatChangesNothingRewritesNoFile) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Steady");
  channel->SetProperties({{kPropUrl, u"http://steady.test/"}});
  channel->Acquire(this);
  channel->CreateArticle(Id(u'a'), US_UP_TO_DATE, plat::FILETIME{});
  channel->SetUpdateState(US_UP_TO_DATE);
  const std::string root = Host(kTestContent);
  const std::string cnl = ChannelFileHost(channel);
  struct stat first;
  ASSERT_EQ(::stat(cnl.c_str(), &first), 0);

  // The same state again after an update: the channel file keeps its inode,
  // since replacing goes through a new file.
  channel->SetUpdateState(US_UPDATING);
  channel->SetUpdateState(US_UP_TO_DATE);
  struct stat second;
  ASSERT_EQ(::stat(cnl.c_str(), &second), 0);
  EXPECT_EQ(second.st_ino, first.st_ino);

  // A real change is written.
  channel->SetUpdateState(US_UPDATING);
  channel->SetUpdateState(US_FAILED);
  struct stat third;
  ASSERT_EQ(::stat(cnl.c_str(), &third), 0);
  EXPECT_NE(third.st_ino, first.st_ino);
  channel->Release(this, false);

  CChannelSet again;
  ASSERT_TRUE(again.Open());
  IChannel* loaded = again.FindByName(u"Steady");
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(static_cast<CChannel*>(loaded)->GetOwnUpdateState(), US_FAILED);
}

TEST_F(ChannelBehaviourTest, NewArticlesOfAnUpdateReachTheReadStatesWhenItEnds) {
  ASSERT_TRUE(set_.Open());
  CChannel* channel = AddChannel(u"Batch");
  channel->Acquire(this);
  channel->SetUpdateState(US_UPDATING);
  for (char16_t digit : {u'1', u'2', u'3'}) {
    channel->CreateArticle(Id(digit), US_UP_TO_DATE, plat::FILETIME{});
  }
  const std::string unread = ContentHost(u"Batch\\unread.bin");
  EXPECT_FALSE(HostExists(unread));
  EXPECT_EQ(channel->GetUnreadCount(), 3);

  channel->SetUpdateState(US_UP_TO_DATE);
  ASSERT_TRUE(HostExists(unread));
  EXPECT_EQ(ReadHostFile(unread).size(), 4u + 3u * 16u);

  // A reader's own change is still saved at once.
  IArticle* first = channel->GetArticleSet()->FindById(Id(u'1'));
  channel->SetArticleRead(first, true);
  EXPECT_EQ(ReadHostFile(unread).size(), 4u + 2u * 16u);
  channel->Release(this, false);
}
