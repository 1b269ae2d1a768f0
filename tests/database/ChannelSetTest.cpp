// The channel set over a content folder: order, loading, adding, removing,
// events, a missing storage card and moving the content folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "core/FileUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/TodayChannelFilter.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "tests/database/ChannelFixture.h"

namespace {

using namespace orvtest;

struct Recorder : CDBEventListener {
  void OnDBEvent(CDBEvent* record) override {
    types.push_back(record->type);
    if (record->type == DBE_CHANNEL_AT_INDEX_CHANGED) indexes.push_back(record->index);
  }
  int Count(std::uint32_t type) const { return static_cast<int>(std::count(types.begin(), types.end(), type)); }
  std::vector<std::uint32_t> types;
  std::vector<std::int32_t> indexes;
};

std::vector<std::u16string> Names(CChannelSet& set) {
  std::vector<std::u16string> names;
  for (int i = 0; i < set.GetCount(); ++i) names.push_back(set.GetAt(i)->GetName());
  return names;
}

class ChannelSetTest : public ChannelTest {
 protected:
  void WriteChannel(const std::u16string& escapedName, std::uint32_t magic = kMagicOBC1) {
    WriteHostFile(ContentHost(escapedName + u".cnl"),
                  ChannelFileBytes(magic, 6, {}, {{"@url", "http://" + plat::Utf16ToUtf8(escapedName) + ".test/"}}));
  }
};

TEST_F(ChannelSetTest, ChannelsAreSortedIgnoringCase) {
  WriteChannel(u"b");
  WriteChannel(u"A");
  WriteChannel(u"c");
  GetChannelSet();  // the process's set is made first, as in the program
  CChannelSet set;
  Recorder recorder;
  recorder.Subscribe(&set);
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"A", u"b", u"c"}));
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), 1);
  EXPECT_EQ(set.GetAt(-1), nullptr);
  EXPECT_EQ(set.GetAt(set.GetCount()), nullptr);
  EXPECT_EQ(set.IndexOf(set.GetAt(2)), 2);
  EXPECT_EQ(set.IndexOf(nullptr), -1);
  EXPECT_EQ(set.FindIndexByName(u"b"), 1);
  EXPECT_EQ(set.FindIndexByName(u"B"), -1);  // exact
  EXPECT_EQ(set.FindByName(u""), nullptr);
  EXPECT_EQ(set.FindByNameNoCase(u"B"), set.GetAt(1));
  recorder.Unsubscribe(&set);

  // Channel options by name come from the process's set, made first as in
  // the program (another test in this process may have made it already).
  CChannelSet* process = GetChannelSet();
  CSyncLock lock(process, u"ChannelSetTest");
  ASSERT_TRUE(process->Open());
  ASSERT_NE(process->FindByName(u"c"), nullptr);
  EXPECT_EQ(GetChannelOptionsByName(u"c"), process->FindByName(u"c")->GetOptions());
  EXPECT_EQ(GetChannelOptionsByName(u"none"), nullptr);
  // The device goes with the test: the process's set lets go of it.
  process->RemoveAll();
}

// Escaped file names list in another order than the names they stand for:
// the set is in the order of the names.
TEST_F(ChannelSetTest, ChannelsAreInTheOrderOfTheirNamesWhateverTheOrderOfTheirFiles) {
  for (const char16_t* file : {u"%7Aeta", u"Mid", u"alpha", u"%42eta", u"delta", u"%2Bplus", u"Zulu%20two"})
    WriteChannel(file);
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"+plus", u"alpha", u"Beta", u"delta", u"Mid", u"zeta",
                                                     u"Zulu two"}));
}

TEST_F(ChannelSetTest, UnreadableFilesAreSkippedAndKept) {
  WriteChannel(u"good1");
  WriteChannel(u"bad", 0x12345678);
  WriteChannel(u"good2");
  WriteHostFile(ContentHost(u"short.cnl"), "OB");
  WriteChannel(u"legacy", 16);
  // Two file names of one name: only one channel.
  WriteChannel(u"Twin");
  WriteChannel(u"%54win");
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"good1", u"good2", u"legacy", u"Twin"}));
  EXPECT_TRUE(set.HadUnreadableFile());
  EXPECT_TRUE(HostExists(ContentHost(u"bad.cnl")));
  EXPECT_TRUE(HostExists(ContentHost(u"short.cnl")));
  EXPECT_TRUE(HostExists(ContentHost(u"%54win.cnl")));
  EXPECT_TRUE(set.HasOldFormatChannels());
  set.ClearOldFormatFlags();
  EXPECT_FALSE(set.HasOldFormatChannels());
}

// A save stopped by a kill leaves "<file>.XXXXXX.tmp" beside the channel
// file; loading the set removes exactly those of its channels (a reader that
// may not write removes nothing) and leaves every other file.
TEST_F(ChannelSetTest, SideFilesOfStoppedSavesAreRemovedAsTheSetLoads) {
  struct Leftover {
    const char16_t* name;
    bool folder;
    bool removed;
  };
  const Leftover leftovers[] = {
      {u"one.cnl.a1B2c3.tmp", false, true},
      {u"one.cnl.x9y8z7.tmp", false, true},      // two of one channel
      {u"TWO.cnl.qwerty.tmp", false, true},      // the name in other letters
      {u"%54hree.cnl.zzzzzz.tmp", false, true},  // an escaped name
      {u"one.cnl.abc.tmp", false, false},        // not six characters
      {u"one.cnl.abcdefg.tmp", false, false},
      {u"one.cnl.abcdef.tmp", true, false},      // a folder
      {u"gone.cnl.abcdef.tmp", false, false},    // of no channel file
      {u"one.abcdef.tmp", false, false},
      {u"notes.tmp", false, false},
  };
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only set" : "writing set");
    WriteChannel(u"one");
    WriteChannel(u"two");
    WriteChannel(u"%54hree");
    for (const Leftover& l : leftovers) {
      if (l.folder) ASSERT_EQ(::mkdir(ContentHost(l.name).c_str(), 0755), 0);
      else WriteHostFile(ContentHost(l.name), "partial");
    }
    CChannelSet set;
    set.SetReadOnly(readOnly ? 1 : 0);
    ASSERT_TRUE(set.Open());
    EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"one", u"Three", u"two"}));
    for (const Leftover& l : leftovers) {
      EXPECT_EQ(HostExists(ContentHost(l.name)), readOnly || !l.removed) << plat::Utf16ToUtf8(l.name);
      if (l.folder) ::rmdir(ContentHost(l.name).c_str());
      else std::remove(ContentHost(l.name).c_str());
    }
  }
}

TEST_F(ChannelSetTest, TodayChannelFilterFollowsTheChannelFiles) {
  CTodayChannelFilter* filter = CTodayChannelFilter::GetInstance();
  filter->SetIncluded(u"Kept", false);
  filter->SetIncluded(u"Broken", false);
  filter->SetIncluded(u"Gone", true);
  WriteChannel(u"Kept");
  WriteChannel(u"Broken", 0x12345678);
  WriteChannel(u"New");
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  CStringToStringMap entries;
  filter->GetEntries(entries);
  // A file that could not be read keeps its entry; a missing one loses it.
  EXPECT_EQ(entries, (CStringToStringMap{{u"Broken", u"0"}, {u"Kept", u"0"}, {u"New", u"1"}}));
  ASSERT_NE(set.Add(u"Added"), nullptr);
  set.Remove(u"Kept");
  filter->GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Added", u"1"}, {u"Broken", u"0"}, {u"New", u"1"}}));
  // A renamed channel keeps its choice under the new name.
  filter->SetIncluded(u"New", false);
  ASSERT_TRUE(set.FindByName(u"New")->Rename(u"Renamed"));
  filter->GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Added", u"1"}, {u"Broken", u"0"}, {u"Renamed", u"0"}}));
}

TEST_F(ChannelSetTest, OpenTwiceLoadsOnce) {
  WriteChannel(u"one");
  CChannelSet set;
  Recorder recorder;
  recorder.Subscribe(&set);
  ASSERT_TRUE(set.Open());
  IChannel* first = set.GetAt(0);
  WriteChannel(u"two");
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(set.GetCount(), 1);
  EXPECT_EQ(set.GetAt(0), first);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), 1);
  recorder.Unsubscribe(&set);
}

TEST_F(ChannelSetTest, AddAndRemove) {
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  Recorder recorder;
  recorder.Subscribe(&set);
  IChannel* b = set.Add(u"Bravo");
  IChannel* a = set.Add(u"alpha");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"alpha", u"Bravo"}));
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), 2);
  const auto before = Snapshot(Host(kTestContent));
  EXPECT_EQ(set.Add(u"Bravo"), nullptr);
  EXPECT_EQ(set.Add(u"ALPHA"), nullptr);
  EXPECT_EQ(set.GetCount(), 2);
  EXPECT_EQ(Snapshot(Host(kTestContent)), before);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), 2);

  set.Remove(u"nothing");
  EXPECT_EQ(set.GetCount(), 2);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_REMOVED), 0);
  set.Remove(u"alpha");
  EXPECT_EQ(Names(set), std::vector<std::u16string>{u"Bravo"});
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_REMOVED), 1);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), 3);
  EXPECT_FALSE(HostExists(ContentHost(u"alpha.cnl")));
  EXPECT_FALSE(HostExists(ContentHost(u"alpha")));
  EXPECT_TRUE(HostExists(ContentHost(u"Bravo.cnl")));

  // RemoveAll keeps the files.
  set.RemoveAll();
  EXPECT_EQ(set.GetCount(), 0);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_REMOVED), 2);
  EXPECT_TRUE(HostExists(ContentHost(u"Bravo.cnl")));

  // The names the programs use add and remove the same way.
  IChannelSet& program = set;
  IChannel* c = program.AddChannel(u"charlie");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(set.FindByName(u"charlie"), c);
  EXPECT_EQ(program.AddChannel(u"Charlie"), nullptr);
  EXPECT_EQ(program.AddChannel(u""), nullptr);
  program.RemoveChannel(u"charlie");
  EXPECT_EQ(set.FindByName(u"charlie"), nullptr);
  EXPECT_FALSE(HostExists(ContentHost(u"charlie.cnl")));
  recorder.Unsubscribe(&set);
}

TEST_F(ChannelSetTest, ChannelEventsBecomeRowAndListEvents) {
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  ASSERT_NE(set.Add(u"Alpha"), nullptr);
  ASSERT_NE(set.Add(u"Beta"), nullptr);
  ASSERT_NE(set.Add(u"Gamma"), nullptr);
  Recorder recorder;
  recorder.Subscribe(&set);
  IChannel* beta = set.FindByName(u"Beta");
  beta->SetUpdateState(US_WAITING);
  EXPECT_EQ(set.GetUpdateStatus(), static_cast<std::uint32_t>(US_CHILD_WAITING));
  ASSERT_EQ(recorder.indexes, std::vector<std::int32_t>{1});
  beta->Acquire(this);
  IArticle* article = beta->CreateArticle(std::u16string(32, u'a'), US_UP_TO_DATE, plat::FILETIME{});
  ASSERT_NE(article, nullptr);
  recorder.indexes.clear();
  recorder.types.clear();
  beta->SetArticleRead(article, true);
  EXPECT_EQ(recorder.indexes, std::vector<std::int32_t>{1});
  EXPECT_EQ(recorder.Count(DBE_ARTICLE_READ_CHANGED), 1);
  beta->Release(this, false);

  // A rename that sorts elsewhere moves the channel and redraws the list.
  IChannel* alpha = set.FindByName(u"Alpha");
  const int lists = recorder.Count(DBE_CHANNEL_LIST_CHANGED);
  ASSERT_TRUE(alpha->Rename(u"Zulu"));
  EXPECT_EQ(Names(set), (std::vector<std::u16string>{u"Beta", u"Gamma", u"Zulu"}));
  EXPECT_EQ(set.IndexOf(alpha), 2);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_LIST_CHANGED), lists + 1);
  recorder.Unsubscribe(&set);

  CChannelSet reloaded;
  ASSERT_TRUE(reloaded.Open());
  EXPECT_EQ(Names(reloaded), (std::vector<std::u16string>{u"Beta", u"Gamma", u"Zulu"}));
}

TEST_F(ChannelSetTest, MissingStorageCard) {
  const std::string card = device_.Scratch() + "/card";
  ASSERT_EQ(::mkdir(card.c_str(), 0755), 0);
  ASSERT_TRUE(plat::MountFolder(u"\\Storage Card", card, true));
  ASSERT_TRUE(GetGlobalOptions().SetContentFolder(u"\\Storage Card\\News", u"\\Storage Card"));
  {
    CChannelSet writer;
    ASSERT_TRUE(writer.Open());
    ASSERT_NE(writer.Add(u"OnCard"), nullptr);
  }
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  ASSERT_EQ(set.GetCount(), 1);
  Recorder recorder;
  recorder.Subscribe(&set);

  // The card is taken out.
  ASSERT_EQ(std::rename(card.c_str(), (card + ".out").c_str()), 0);
  EXPECT_FALSE(set.Open());
  EXPECT_TRUE(set.IsContentUnavailable());
  EXPECT_EQ(set.GetCount(), 0);
  EXPECT_EQ(recorder.Count(DBE_CHANNEL_REMOVED), 1);
  EXPECT_FALSE(HostExists(Host(u"\\Storage Card")));
  // The same as the programs ask it.
  IChannelSet& program = set;
  EXPECT_EQ(program.LoadContentFolder(), 0);
  EXPECT_TRUE(program.IsStorageMissing());

  // And put back: the same folder is loaded again.
  ASSERT_EQ(std::rename((card + ".out").c_str(), card.c_str()), 0);
  EXPECT_EQ(program.LoadContentFolder(), 1);
  EXPECT_FALSE(program.IsStorageMissing());
  EXPECT_FALSE(set.IsContentUnavailable());
  EXPECT_EQ(Names(set), std::vector<std::u16string>{u"OnCard"});
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(Names(set), std::vector<std::u16string>{u"OnCard"});
  recorder.Unsubscribe(&set);
}

class KeptLocation : public IViewLocationKeeper {
 public:
  void GetViewLocation(std::u16string& channelName, std::u16string& articleId) override {
    ++gets;
    channelName = channel;
    articleId = article;
  }
  void RestoreViewLocation(const std::u16string& channelName, const std::u16string& articleId) override {
    restoredChannel = channelName;
    restoredArticle = articleId;
  }
  int gets = 0;
  std::u16string channel = u"Beta", article = std::u16string(32, u'b');
  std::u16string restoredChannel, restoredArticle;
};

class MoveContentTest : public ChannelSetTest {
 protected:
  void SetUp() override {
    ChannelSetTest::SetUp();
    ASSERT_TRUE(set_.SetViewLocationKeeper(&keeper_));
    ASSERT_TRUE(set_.Open());
    for (const char16_t* name : {u"Alpha", u"Beta", u"Gamma"}) {
      IChannel* channel = set_.Add(name);
      ASSERT_NE(channel, nullptr);
      channel->SetProperty(kPropUrl, std::u16string(u"http://") + name + u".test/");
      channel->Acquire(this);
      channel->CreateArticle(std::u16string(32, u'a'), US_UP_TO_DATE, plat::FILETIME{});
      channel->Release(this, false);
    }
  }
  void TearDown() override { set_.RemoveViewLocationKeeper(&keeper_); }

  KeptLocation keeper_;
  CChannelSet set_;
};

TEST_F(MoveContentTest, MovesEveryChannel) {
  ASSERT_TRUE(set_.MoveContentFolder(u"\\Elsewhere\\News", u""));
  EXPECT_EQ(GetGlobalOptions().GetContentFolder(), u"\\Elsewhere\\News");
  EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Gamma"}));
  for (int i = 0; i < set_.GetCount(); ++i) {
    IChannel* channel = set_.GetAt(i);
    EXPECT_EQ(channel->GetDataFolder(), CombinePath(u"\\Elsewhere\\News", channel->GetName()));
    EXPECT_EQ(channel->GetProperties().at(kPropUrl), u"http://" + channel->GetName() + u".test/");
    channel->Acquire(this);
    EXPECT_EQ(channel->GetArticleSet()->GetCount(), 1);
    channel->Release(this, false);
  }
  EXPECT_FALSE(HostExists(ContentHost(u"Alpha.cnl")));
  EXPECT_FALSE(HostExists(ContentHost(u"Alpha")));
  EXPECT_EQ(keeper_.gets, 1);
  EXPECT_EQ(keeper_.restoredChannel, u"Beta");
  EXPECT_EQ(keeper_.restoredArticle, std::u16string(32, u'b'));
}

TEST_F(MoveContentTest, OntoOrIntoItselfIsRefusedBeforeAnythingMoves) {
  const auto before = Snapshot(Host(kTestContent));
  const std::u16string targets[] = {u"\\Content", u"\\CONTENT\\", u"\\content\\Sub", u"\\Content\\a\\b"};
  for (const auto& target : targets) {
    EXPECT_FALSE(set_.MoveContentFolder(target, u"")) << plat::Utf16ToUtf8(target);
    EXPECT_EQ(set_.GetCount(), 3);
    EXPECT_EQ(Snapshot(Host(kTestContent)), before);
  }
  EXPECT_EQ(GetGlobalOptions().GetContentFolder(), kTestContent);
  EXPECT_EQ(keeper_.gets, 0);
  // A sibling whose name starts the same is another folder.
  EXPECT_TRUE(set_.MoveContentFolder(u"\\Content2", u""));
  EXPECT_EQ(set_.GetCount(), 3);
}

TEST_F(MoveContentTest, AFailedMovePutsEverythingBack) {
  // A read-only file in the way of the second channel.
  ASSERT_TRUE(CreateFolderTree(u"\\Target"));
  WriteHostFile(Host(u"\\Target\\Beta.cnl"), "in the way");
  ASSERT_TRUE(plat::SetFileAttributesW(u"\\Target\\Beta.cnl", plat::FILE_ATTRIBUTE_READONLY));
  const auto before = Snapshot(Host(kTestContent));
  EXPECT_FALSE(set_.MoveContentFolder(u"\\Target", u""));
  EXPECT_EQ(GetGlobalOptions().GetContentFolder(), kTestContent);
  EXPECT_EQ(Snapshot(Host(kTestContent)), before);
  EXPECT_EQ(Names(set_), (std::vector<std::u16string>{u"Alpha", u"Beta", u"Gamma"}));
  EXPECT_EQ(ReadHostFile(Host(u"\\Target\\Beta.cnl")), "in the way");
  EXPECT_FALSE(HostExists(Host(u"\\Target\\Alpha.cnl")));
  EXPECT_EQ(keeper_.restoredChannel, u"Beta");
}


// The files of a snapshot, without its folders.
std::map<std::string, std::string> FilesOf(std::map<std::string, std::string> snapshot) {
  std::erase_if(snapshot, [](const auto& entry) { return entry.first.back() == '/'; });
  return snapshot;
}

// Holds a channel's mutex from another thread, as another program would,
// until destroyed.
class HeldChannel {
 public:
  explicit HeldChannel(const std::u16string& name) {
    ready_ = plat::CreateLocalEvent(true, false);
    letGo_ = plat::CreateLocalEvent(true, false);
    holder_ = std::thread([this, name] {
      plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, (std::u16string(kChannelMutexPrefix) + name).c_str());
      const bool taken = plat::WaitForSingleObject(mutex, 10000) == plat::WAIT_OBJECT_0;
      plat::SetEvent(ready_);
      plat::WaitForSingleObject(letGo_, 20000);
      if (taken) plat::ReleaseMutex(mutex);
      plat::CloseHandle(mutex);
    });
    plat::WaitForSingleObject(ready_, 10000);
  }
  ~HeldChannel() {
    plat::SetEvent(letGo_);
    holder_.join();
    plat::CloseHandle(ready_);
    plat::CloseHandle(letGo_);
  }

 private:
  plat::HANDLE ready_ = nullptr;
  plat::HANDLE letGo_ = nullptr;
  std::thread holder_;
};

// What the content folder holds beside the set's channels moves with them,
// or the move is refused, naming what stands in its way: nothing is left in
// a folder the program no longer reads and nothing is lost. After each case
// the folder in use is read again from disk.
TEST_F(MoveContentTest, EverythingMovesOrTheMoveIsRefusedNamingWhatStoodInItsWay) {
  const std::u16string longName(195, u'L');
  const std::string damaged = ChannelFileBytes(0x58585858, 6, {}, {});
  const std::string cutShort = "OBC1\x06";
  struct Case {
    const char* name;
    std::u16string target;
    // Run before the move, given the old folder and the target; what it
    // returns lives through the move.
    std::function<std::shared_ptr<void>(const std::u16string& from, const std::u16string& to)> prepare;
    bool ok;
    ContentMoveFailure::Kind kind;
    std::u16string what;
  };
  const Case cases[] = {
      {"channel files that cannot be read, with their folders", u"\\Moved1",
       [&](const std::u16string& from, const std::u16string&) {
         WriteHostFile(Host(from + u"\\Damaged.cnl"), damaged);
         EXPECT_TRUE(CreateFolderTree(from + u"\\Damaged"));
         WriteHostFile(Host(from + u"\\Damaged\\headers.bin"), "kept");
         WriteHostFile(Host(from + u"\\Short.cnl"), cutShort);
         return nullptr;
       },
       true, ContentMoveFailure::kNone, u""},
      {"a channel held by another program", u"\\Moved2",
       [](const std::u16string&, const std::u16string&) {
         SetChannelMutexTimeout(50);
         return std::make_shared<HeldChannel>(u"Beta");
       },
       false, ContentMoveFailure::kChannelBusy, u"Beta"},
      {"a folder of a channel's name in the new folder", u"\\Moved3",
       [&](const std::u16string&, const std::u16string& to) {
         EXPECT_TRUE(CreateFolderTree(to + u"\\Beta"));
         WriteHostFile(Host(to + u"\\Beta\\notes.txt"), "someone else's");
         return nullptr;
       },
       false, ContentMoveFailure::kInTheWay, u"Beta"},
      {"a channel name too long for the new folder", u"\\Moved4\\" + std::u16string(50, u'F'),
       [&](const std::u16string&, const std::u16string&) {
         EXPECT_NE(set_.Add(longName), nullptr);
         return nullptr;
       },
       false, ContentMoveFailure::kNameTooLong, longName},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string from = u"\\Case" + plat::Utf8ToUtf16(std::to_string(++serial));
    ASSERT_TRUE(CreateFolderTree(from));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(from, u""));
    ASSERT_TRUE(set_.Open());
    std::vector<std::u16string> expected = {u"Alpha", u"Beta", u"Gamma"};
    for (const std::u16string& name : expected) {
      IChannel* channel = set_.Add(name);
      ASSERT_NE(channel, nullptr);
      channel->Acquire(this);
      channel->CreateArticle(std::u16string(32, u'a'), US_UP_TO_DATE, plat::FILETIME{});
      channel->Release(this, false);
    }
    ASSERT_TRUE(CreateFolderTree(c.target));
    std::shared_ptr<void> during = c.prepare(from, c.target);
    if (set_.GetCount() == 4) expected.push_back(longName);
    const auto oldBefore = Snapshot(Host(from));
    const auto newBefore = Snapshot(Host(c.target));

    EXPECT_EQ(set_.MoveContentFolder(c.target, u""), c.ok);
    during.reset();
    SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
    EXPECT_EQ(set_.GetMoveFailure().kind, c.kind);
    EXPECT_EQ(set_.GetMoveFailure().name, c.what);
    const std::u16string inUse = c.ok ? c.target : from;
    EXPECT_EQ(GetGlobalOptions().GetContentFolder(), inUse);
    EXPECT_EQ(Names(set_), expected);
    if (c.ok) {
      // The whole folder moved, every file byte for byte (loading it may add
      // empty folders); the old one is left empty.
      EXPECT_EQ(FilesOf(Snapshot(Host(c.target))), FilesOf(oldBefore));
      EXPECT_TRUE(Snapshot(Host(from)).empty());
    } else {
      EXPECT_EQ(Snapshot(Host(from)), oldBefore);
      EXPECT_EQ(Snapshot(Host(c.target)), newBefore);
    }
    // Read again from disk, as the next start of the program reads it.
    CChannelSet reader;
    reader.SetReadOnly(1);
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(Names(reader), expected);
    for (int i = 0; i < reader.GetCount(); ++i) {
      IChannel* channel = reader.GetAt(i);
      channel->Acquire(this);
      EXPECT_EQ(channel->GetArticleSet()->GetCount(), i < 3 ? 1 : 0) << plat::Utf16ToUtf8(channel->GetName());
      channel->Release(this, false);
    }
    set_.RemoveAll();
  }
}


// A channel whose file is there but cannot be read is named by the set (one
// only busy is not), and its name can be added again: the file is set aside,
// never deleted, and the new channel finds the articles of its data folder.
TEST_F(ChannelSetTest, AChannelWhoseFileCannotBeReadIsNamedAndCanBeAddedAgain) {
  struct Case {
    const char* name;
    std::function<void(const std::string& file)> damage;
    bool listed;
  };
  const Case cases[] = {
      {"another magic", [](const std::string& f) { WriteHostFile(f, ChannelFileBytes(0x58585858, 6, {}, {})); }, true},
      {"cut short", [](const std::string& f) { WriteHostFile(f, ReadHostFile(f).substr(0, 10)); }, true},
      {"empty", [](const std::string& f) { WriteHostFile(f, ""); }, true},
      {"busy only", [](const std::string&) {}, false},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string name = u"Lost " + plat::Utf8ToUtf16(std::to_string(++serial));
    const std::string file = ContentHost(CChannel::EscapeName(name) + u".cnl");
    {
      CChannelSet writer;
      ASSERT_TRUE(writer.Open());
      IChannel* channel = writer.Add(name);
      ASSERT_NE(channel, nullptr);
      channel->Acquire(this);
      channel->CreateArticle(std::u16string(32, u'c'), US_UP_TO_DATE, plat::FILETIME{});
      channel->Release(this, true);
    }
    c.damage(file);
    const std::string damagedBytes = ReadHostFile(file);
    std::vector<std::u16string> unreadable;
    {
      std::unique_ptr<HeldChannel> held;
      if (!c.listed) {
        SetChannelMutexTimeout(50);
        held = std::make_unique<HeldChannel>(name);
      }
      CChannelSet set;
      ASSERT_TRUE(set.Open());
      SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
      EXPECT_EQ(set.FindByName(name), nullptr);
      unreadable = set.GetUnreadableChannels();
      EXPECT_EQ(std::count(unreadable.begin(), unreadable.end(), name), c.listed ? 1 : 0);
      if (!c.listed) {
        // Not unreadable: nothing to set aside, the file stays as it is.
        EXPECT_FALSE(set.SetAsideUnreadable(name));
        EXPECT_EQ(ReadHostFile(file), damagedBytes);
        continue;
      }
      // Added again: the damaged file is kept beside the new one.
      IChannel* again = set.Add(name);
      ASSERT_NE(again, nullptr);
      const std::vector<std::u16string> left = set.GetUnreadableChannels();
      EXPECT_EQ(std::count(left.begin(), left.end(), name), 0);
    }
    EXPECT_EQ(ReadHostFile(file + ".damaged"), damagedBytes);
    // Read again from disk: the channel is there with its stored article.
    CChannelSet reader;
    ASSERT_TRUE(reader.Open());
    IChannel* channel = reader.FindByName(name);
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(reader.GetUnreadableChannels().empty());
    channel->Acquire(this);
    EXPECT_EQ(channel->GetArticleSet()->GetCount(), 1);
    channel->Release(this, false);
  }
}

}  // namespace
