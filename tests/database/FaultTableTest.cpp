// The fault table: every operation that reads or writes a channel's files,
// run over every way those files can fail it: the channel's mutex held by
// another thread past the time-out, each file missing, cut short or with a
// bad magic, and each write, flush, rename and open for writing failing in
// turn. After each, the channel is read back from disk: an operation that
// said it failed left what was stored intact (and what it held is stored by
// a later save), one that said it succeeded left the whole result.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelMutexTimeout.h"
#include "platform/files/Files.h"
#include "tests/database/ChannelFixture.h"
#include "tests/database/HeldMutex.h"

namespace {

using namespace orvtest;
namespace fs = std::filesystem;

std::u16string Id(char16_t digit) { return std::u16string(32, digit); }

// What a channel holds, as a fresh reader finds it in the files.
struct Stored {
  bool opened = false;
  std::map<std::u16string, std::u16string> properties;
  std::set<std::u16string> live;    // ids of live articles
  std::set<std::u16string> unread;  // ... of those unread
  std::map<std::u16string, std::u16string> texts;  // "text" of each live article's record
  bool operator==(const Stored&) const = default;
};

std::string Describe(const Stored& s) {
  if (!s.opened) return "not opened";
  std::string out = "properties:";
  for (const auto& [k, v] : s.properties) out += " " + plat::Utf16ToUtf8(k) + "=" + plat::Utf16ToUtf8(v);
  out += "; articles:";
  for (const auto& id : s.live) {
    out += " " + plat::Utf16ToUtf8(id.substr(0, 1)) + (s.unread.count(id) ? "(unread)" : "") + "=" +
           plat::Utf16ToUtf8(s.texts.count(id) ? s.texts.at(id) : u"?");
  }
  return out;
}

void PrintTo(const Stored& s, std::ostream* os) { *os << Describe(s); }

struct Operation {
  const char* name;
  // Runs on an opened channel; true when it said it succeeded.
  bool (*run)(CChannel& channel);
  // The whole result, from what was stored before.
  void (*result)(Stored& stored);
  // What a later save stores of a failed operation that held its change
  // (null: the whole result).
  void (*later)(Stored& stored);
};

// Called by each operation once its channel is in use, before it changes
// anything (where a fault that strikes the save only begins).
std::function<void()> g_beforeChange;

void BeforeChange() {
  if (g_beforeChange) g_beforeChange();
}

IArticle* Find(CChannel& channel, char16_t digit) {
  IArticle* article = channel.GetArticleSet()->FindById(Id(digit));
  return article != nullptr && !article->IsDeleted() ? article : nullptr;
}

// Changes an article the user sees, as a view does: acquire, change,
// release (which saves). Failed when the article was not there (the
// channel could not be loaded) or the release could not store the change.
template <typename Change>
bool ChangeArticle(CChannel& channel, char16_t digit, Change change) {
  channel.Acquire(&channel);
  IArticle* article = Find(channel, digit);
  BeforeChange();
  if (article != nullptr) change(channel, article);
  channel.Release(&channel, false);
  return article != nullptr && !channel.HasUnsavedData();
}

const Operation kOperations[] = {
    {"channel file: a property set",
     [](CChannel& channel) {
       BeforeChange();
       channel.SetProperty(u"note", u"new");
       return !channel.IsChannelFileDirty();
     },
     [](Stored& s) { s.properties[u"note"] = u"new"; }, nullptr},
    {"read states: an article marked read",
     [](CChannel& channel) {
       return ChangeArticle(channel, u'a', [](CChannel& c, IArticle* a) { c.SetArticleRead(a, true); });
     },
     [](Stored& s) { s.unread.erase(Id(u'a')); }, nullptr},
    {"data bank: an article's record replaced",
     [](CChannel& channel) {
       return ChangeArticle(channel, u'b',
                            [](CChannel& c, IArticle* a) { c.SetArticleProperties(a, {{u"text", u"changed b"}}); });
     },
     [](Stored& s) { s.texts[Id(u'b')] = u"changed b"; }, nullptr},
    {"headers: an article deleted",
     [](CChannel& channel) { return ChangeArticle(channel, u'c', [](CChannel&, IArticle* a) { a->Delete(); }); },
     [](Stored& s) {
       s.live.erase(Id(u'c'));
       s.unread.erase(Id(u'c'));
       s.texts.erase(Id(u'c'));
     },
     nullptr},
    {"update: an article added",
     [](CChannel& channel) {
       channel.Acquire(&channel);
       BeforeChange();
       channel.SetUpdateState(US_UPDATING);
       IArticle* d = channel.CreateArticle(Id(u'd'), US_UP_TO_DATE, plat::FILETIME{});
       if (d != nullptr) channel.SetArticleProperties(d, {{u"text", u"new d"}});
       channel.KeepWithSuccessfulSave({{kPropFeedDigest, u"digest of d"}});
       channel.SetUpdateState(US_UP_TO_DATE);
       const bool saved = !channel.LastSaveFailed() && channel.GetOwnUpdateState() == US_UP_TO_DATE;
       channel.Release(&channel, false);
       return d != nullptr && saved;
     },
     [](Stored& s) {
       s.live.insert(Id(u'd'));
       s.unread.insert(Id(u'd'));
       s.texts[Id(u'd')] = u"new d";
       s.properties[kPropFeedDigest] = u"digest of d";
     },
     // Kept by the later save, but nothing describes the feed as stored.
     [](Stored& s) {
       s.live.insert(Id(u'd'));
       s.unread.insert(Id(u'd'));
       s.texts[Id(u'd')] = u"new d";
     }},
};

enum class FaultKind { kNone, kBusy, kBusyWhileSaving, kReadOnly, kMissing, kCutShort, kBadMagic, kFailing };

struct Fault {
  FaultKind kind;
  const char* file = nullptr;  // of the channel's files, for damage
  plat::FileOperation operation = plat::FileOperation::kWrite;  // for kFailing
};

std::string Describe(const Fault& f) {
  switch (f.kind) {
    case FaultKind::kNone: return "no fault";
    case FaultKind::kBusy: return "channel busy";
    case FaultKind::kBusyWhileSaving: return "channel busy once in use";
    case FaultKind::kReadOnly: return "folders read-only";
    case FaultKind::kMissing: return std::string(f.file) + " missing";
    case FaultKind::kCutShort: return std::string(f.file) + " cut short";
    case FaultKind::kBadMagic: return std::string(f.file) + " with a bad magic";
    case FaultKind::kFailing: break;
  }
  const char* names[] = {"write", "flush", "rename", "open for writing"};
  return std::string(names[static_cast<int>(f.operation)]) + " failing";
}

class FaultTableTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    SetChannelMutexTimeout(5);
  }
  void TearDown() override {
    g_beforeChange = nullptr;
    plat::ResetFileFaults();
    SetChannelMutexTimeout(kDefaultChannelMutexTimeoutMs);
  }

  std::u16string ChannelPath() const { return CombinePath(kTestContent, u"Table.cnl"); }
  std::string DataHost() const { return ContentHost(u"Table"); }

  // The channel every case starts from: three articles with their records,
  // a and c unread, a property.
  void Build() {
    CChannel channel;
    ASSERT_TRUE(channel.Rename(u"Table"));
    channel.SetProperty(kPropUrl, u"http://table.test/");
    channel.Acquire(this);
    for (char16_t digit : {u'a', u'b', u'c'}) {
      IArticle* article = channel.CreateArticle(Id(digit), US_UP_TO_DATE, plat::FILETIME{});
      ASSERT_NE(article, nullptr);
      ASSERT_TRUE(channel.SetArticleProperties(article, {{u"text", std::u16string(u"text of ") + digit}}));
    }
    channel.SetArticleRead(Find(channel, u'b'), true);
    ASSERT_TRUE(channel.SaveHeaders());
    channel.Release(this, false);
  }

  Stored ReadBack() {
    Stored out;
    CChannel reader;
    if (!reader.OpenFromFile(ChannelPath())) return out;
    out.opened = true;
    for (const auto& [key, value] : reader.GetProperties()) out.properties[key] = value;
    reader.Acquire(this);
    IArticleSet* set = reader.GetArticleSet();
    for (int i = 0; i < set->GetCount(); ++i) {
      IArticle* article = set->GetAt(i);
      if (article->IsDeleted()) continue;
      out.live.insert(article->GetId());
      if (!reader.IsArticleRead(article)) out.unread.insert(article->GetId());
      CStringToStringMap properties;
      out.texts[article->GetId()] =
          reader.GetArticleProperties(article, properties) ? properties[u"text"] : u"<unreadable>";
    }
    reader.Release(this, false);
    return out;
  }

  void Damage(const Fault& f) {
    const std::string host = std::string(f.file) == "Table.cnl" ? ContentHost(u"Table.cnl")
                                                                 : DataHost() + "/" + f.file;
    if (!fs::exists(host)) return;
    if (f.kind == FaultKind::kMissing) {
      fs::remove(host);
    } else if (f.kind == FaultKind::kCutShort) {
      fs::resize_file(host, fs::file_size(host) / 2);
    } else {
      std::string bytes = ReadHostFile(host);
      for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) bytes[i] = '\xA5';
      WriteHostFile(host, bytes);
    }
  }

  // Runs one case; false when the fault was never met (a failing call past
  // the operation's last one).
  bool RunCase(const Operation& op, const Fault& fault, int n) {
    fs::remove_all(Host(kTestContent));
    EXPECT_TRUE(CreateFolderTree(kTestContent));
    Build();
    if (fault.kind == FaultKind::kMissing || fault.kind == FaultKind::kCutShort ||
        fault.kind == FaultKind::kBadMagic) {
      Damage(fault);
    }
    // What the program finds in the files before the operation.
    const Stored before = ReadBack();

    bool met = true;
    bool done = false;
    auto channel = std::make_unique<CChannel>();
    {
      std::unique_ptr<HeldMutex> busy;
      if (fault.kind == FaultKind::kBusy) busy = std::make_unique<HeldMutex>(u"CL.Table");
      if (fault.kind == FaultKind::kBusyWhileSaving) {
        g_beforeChange = [&busy] { busy = std::make_unique<HeldMutex>(u"CL.Table"); };
      }
      plat::ResetFileFaults();
      if (fault.kind == FaultKind::kReadOnly) plat::SetReadOnlyPath(kTestContent);
      if (fault.kind == FaultKind::kFailing) plat::FailFileOperation(fault.operation, n);
      if (channel->OpenFromFile(ChannelPath())) done = op.run(*channel);
      g_beforeChange = nullptr;
      if (fault.kind == FaultKind::kFailing) met = plat::CountFileOperations(fault.operation) >= n;
      plat::ResetFileFaults();
    }

    Stored whole = before;
    op.result(whole);
    Stored later = before;
    (op.later != nullptr ? op.later : op.result)(later);
    const bool pending = channel->HasUnsavedData();
    const Stored after = ReadBack();
    if (done) {
      EXPECT_FALSE(pending);
      EXPECT_EQ(after, whole) << "said done, but the result is not whole; before: " << Describe(before);
    } else if (pending) {
      // Held in memory: the files are as before, and a later save (here the
      // channel's end) stores it.
      EXPECT_EQ(after, before) << "said failed, but what was stored changed";
      channel.reset();
      EXPECT_EQ(ReadBack(), later) << "the later save lost what the failed operation held";
    } else {
      // Refused (nothing changed), or what it held was stored on a retry,
      // without what the failure may not describe as stored.
      EXPECT_TRUE(after == before || after == later)
          << "said failed and holds nothing, but the files are neither as before nor as a later save leaves them"
          << "\n  before: " << Describe(before) << "\n  after:  " << Describe(after)
          << "\n  later:  " << Describe(later);
    }
    return met;
  }
};

TEST_F(FaultTableTest, EveryOperationUnderEveryFaultFailsWithTheFilesIntactOrSucceedsWhole) {
  std::vector<Fault> faults = {
      {FaultKind::kNone}, {FaultKind::kBusy}, {FaultKind::kBusyWhileSaving}, {FaultKind::kReadOnly}};
  for (const char* file : {"Table.cnl", "headers.bin", "unread.bin", "dataidx.bin", "data.bin"}) {
    for (FaultKind kind : {FaultKind::kMissing, FaultKind::kCutShort, FaultKind::kBadMagic}) {
      faults.push_back({kind, file});
    }
  }
  for (plat::FileOperation operation : {plat::FileOperation::kWrite, plat::FileOperation::kFlush,
                                        plat::FileOperation::kRename, plat::FileOperation::kOpenForWrite}) {
    faults.push_back({FaultKind::kFailing, nullptr, operation});
  }
  int cases = 0;
  for (const Operation& op : kOperations) {
    int failures = 0;
    for (const Fault& fault : faults) {
      for (int n = 1; n < 100; ++n) {
        SCOPED_TRACE(std::string(op.name) + ", " + Describe(fault) +
                     (fault.kind == FaultKind::kFailing ? " (call " + std::to_string(n) + ")" : ""));
        const bool met = RunCase(op, fault, n);
        if (HasFailure()) return;
        ++cases;
        if (fault.kind != FaultKind::kFailing || !met) break;
        ++failures;
      }
    }
    // Every operation writes: each kind of failing call was met at least once.
    EXPECT_GE(failures, 4) << op.name;
  }
  EXPECT_GT(cases, 150);
}

}  // namespace
