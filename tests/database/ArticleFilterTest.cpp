// The article filter over real channels of the channel set: its sort order,
// the events it follows and fires, and a randomized stream of changes checked
// against a list computed from scratch.
#include "database/ArticleFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "database/ChannelSet.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "tests/support/TempDevice.h"

namespace {

constexpr plat::ULONGLONG kHour = 36000000000ull;

// Records what a source fires.
struct EventLog : CDBEventListener {
  std::vector<std::pair<std::uint32_t, int>> events;
  void OnDBEvent(CDBEvent* record) override {
    events.emplace_back(record->type, record->index);
    CDBEventListener::OnDBEvent(record);
  }
  int Count(std::uint32_t type) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [type](const auto& e) { return e.first == type; }));
  }
};

class ArticleFilterTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    set_ = GetChannelSet();
    lock_ = std::make_unique<CSyncLock>(set_, u"ArticleFilterTest");
    ASSERT_TRUE(set_->Open());
    now_ = plat::CurrentClock().NowUtcFileTime();
  }
  void TearDown() override {
    for (IChannel* channel : used_) channel->Release(this, false);
    // The device goes with the test: the process's set lets go of its
    // channels, so the next test's Open reads that test's own device.
    set_->RemoveAll();
    lock_.reset();
  }

  // The test is a user of its channels (as an update would be), so their
  // articles stay loaded whatever the filter does.
  IChannel* Channel(const std::u16string& name) {
    IChannel* channel = set_->FindByName(name);
    if (channel == nullptr) channel = set_->Add(name);
    if (channel != nullptr && std::find(used_.begin(), used_.end(), channel) == used_.end()) {
      channel->Acquire(this);
      used_.push_back(channel);
    }
    return channel;
  }
  // An article dated hoursAgo before now (negative: undated) with a given
  // order value. The date is set last, so that a filter showing the channel
  // places the article by both.
  IArticle* Make(IChannel* channel, const std::u16string& id, int hoursAgo, std::uint32_t order) {
    const plat::FILETIME date =
        plat::ULLToFileTime(hoursAgo < 0 ? 0 : now_ - static_cast<plat::ULONGLONG>(hoursAgo) * kHour);
    IArticle* article = channel->CreateArticle(id, US_UP_TO_DATE, plat::ULLToFileTime(0));
    if (article == nullptr) return nullptr;
    article->SetOrder(order);
    article->SetDate(date);
    return article;
  }
  // Gives up the test's use of a channel (before it is removed from the set).
  void Unuse(IChannel* channel) {
    const auto it = std::find(used_.begin(), used_.end(), channel);
    if (it == used_.end()) return;
    used_.erase(it);
    channel->Release(this, false);
  }
  std::vector<std::u16string> Ids(const CArticleFilter& filter) {
    std::vector<std::u16string> ids;
    for (int i = 0; i < filter.GetCount(); ++i) ids.push_back(filter.GetAt(i)->GetId());
    return ids;
  }

  CChannelSet* set_ = nullptr;
  std::unique_ptr<CSyncLock> lock_;
  plat::ULONGLONG now_ = 0;
  std::vector<IChannel*> used_;
};

TEST_F(ArticleFilterTest, SortOrderTable) {
  struct Row {
    const char16_t* channel;
    const char16_t* id;
    int hoursAgo;  // -1: undated
    std::uint32_t order;
  };
  // Listed in the expected order.
  const Row rows[] = {
      {u"alpha", u"newest", 1, 5},          // the latest date wins over any value
      {u"alpha", u"bigvalue", 2, 0x90000000u},  // same date: values compared unsigned
      {u"alpha", u"value10", 2, 10},
      {u"Beta", u"beta9", 2, 9},            // same date and value: "Beta" > "alpha" ignoring case
      {u"alpha", u"alpha9", 2, 9},
      {u"alpha", u"older", 30, 1000},       // an older date, whatever its value
      {u"Beta", u"undatedTop", -1, 0xFFFFFFF0u},  // undated after every dated one
      {u"alpha", u"undatedMid", -1, 0x80000000u},
      {u"alpha", u"undatedLow", -1, 3},
  };
  std::vector<std::u16string> expected;
  for (const Row& row : rows) expected.push_back(row.id);

  // Both ways into the list: articles there when the channels are added, and
  // articles added while the channels are shown.
  for (bool addedLater : {false, true}) {
    SCOPED_TRACE(addedLater ? "added while shown" : "shown after adding");
    const std::u16string suffix = addedLater ? u"2" : u"1";
    IChannel* alpha = Channel(u"alpha" + suffix);
    IChannel* beta = Channel(u"Beta" + suffix);
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(beta, nullptr);
    CArticleFilter filter(set_);
    auto fill = [&] {
      // Created out of order.
      for (int i : {4, 0, 7, 2, 8, 5, 1, 6, 3}) {
        const Row& row = rows[i];
        IChannel* channel = std::u16string(row.channel) == u"alpha" ? alpha : beta;
        ASSERT_NE(Make(channel, row.id, row.hoursAgo, row.order), nullptr);
      }
    };
    if (addedLater) {
      filter.AddChannel(alpha);
      filter.AddChannel(beta);
      fill();
    } else {
      fill();
      filter.AddChannel(alpha);
      filter.AddChannel(beta);
    }
    EXPECT_EQ(Ids(filter), expected);
    // A case-sensitive comparison of the names would put alpha9 first.
    EXPECT_TRUE(CArticleFilter::ComesBefore(filter.FindById(u"beta9"), filter.FindById(u"alpha9")));
    EXPECT_FALSE(CArticleFilter::ComesBefore(filter.FindById(u"alpha9"), filter.FindById(u"beta9")));
  }
}

TEST_F(ArticleFilterTest, LookupsAndChannelUse) {
  CChannel* one = dynamic_cast<CChannel*>(Channel(u"one"));
  ASSERT_NE(one, nullptr);
  IArticle* a = Make(one, u"aaaa", 1, 1);
  IArticle* b = Make(one, u"bbbb", 2, 2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  CArticleFilter filter(set_);
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_EQ(filter.GetAt(0), nullptr);
  const std::size_t usersBefore = one->GetUserCount();
  filter.AddChannel(one);
  EXPECT_EQ(one->GetUserCount(), usersBefore + 1);
  EXPECT_TRUE(filter.ContainsChannel(one));
  EXPECT_EQ(filter.GetChannelCount(), 1);
  EXPECT_EQ(filter.GetCount(), 2);
  EXPECT_EQ(filter.IndexOf(a), 0);
  EXPECT_EQ(filter.IndexOf(b), 1);
  EXPECT_EQ(filter.IndexOf(nullptr), -1);
  EXPECT_EQ(filter.GetAt(2), nullptr);
  EXPECT_EQ(filter.GetAt(-1), nullptr);
  EXPECT_EQ(filter.FindIndexById(u"bbbb"), 1);
  EXPECT_EQ(filter.FindById(u"aaaa"), a);
  EXPECT_EQ(filter.FindIndexById(u"BBBB"), -1);  // ids compare exactly
  EXPECT_EQ(filter.FindById(u"cccc"), nullptr);
  EXPECT_FALSE(filter.Accepts(nullptr));
  EXPECT_TRUE(filter.Accepts(a));

  // Adding the same channel again changes nothing.
  filter.AddChannel(one);
  EXPECT_EQ(filter.GetCount(), 2);
  EXPECT_EQ(one->GetUserCount(), usersBefore + 1);

  filter.RemoveChannel(one);
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_FALSE(filter.ContainsChannel(one));
  EXPECT_EQ(one->GetUserCount(), usersBefore);
  EXPECT_FALSE(filter.Accepts(a));
}

TEST_F(ArticleFilterTest, FiresWhatTheScreenNeeds) {
  IChannel* shown = Channel(u"shown");
  IChannel* hidden = Channel(u"hidden");
  IArticle* s1 = Make(shown, u"s1", 1, 1);
  IArticle* s2 = Make(shown, u"s2", 2, 2);
  IArticle* h1 = Make(hidden, u"h1", 1, 1);
  ASSERT_TRUE(s1 && s2 && h1);
  CArticleFilter filter(set_);
  filter.SetChannel(shown);
  ASSERT_EQ(Ids(filter), (std::vector<std::u16string>{u"s1", u"s2"}));
  EventLog log;
  log.Subscribe(&filter);

  // Shown alone already: nothing.
  filter.SetChannel(shown);
  EXPECT_TRUE(log.events.empty());

  // A change in a channel that is not shown: nothing.
  h1->SetTitle(u"hidden title");
  h1->SetDate(plat::ULLToFileTime(now_));
  hidden->SetArticleRead(h1, true);
  EXPECT_TRUE(log.events.empty());

  // Read state, image and update status changes name the row, and only it.
  auto onlyRow = [&](int index) {
    ASSERT_FALSE(log.events.empty());
    for (const auto& event : log.events) EXPECT_EQ(event, std::make_pair(std::uint32_t{DBE_ROW_CHANGED}, index));
    log.events.clear();
  };
  shown->SetArticleRead(s2, true);
  onlyRow(1);
  s1->SetImageUrl(u"http://example.invalid/a.png");
  onlyRow(0);
  s2->SetUpdateState(US_WAITING);
  onlyRow(1);

  // A date change moves the article and rebuilds the list.
  log.events.clear();
  s2->SetDate(plat::ULLToFileTime(now_));
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 1);
  EXPECT_EQ(Ids(filter), (std::vector<std::u16string>{u"s2", u"s1"}));

  // A new article is listed in its place.
  log.events.clear();
  ASSERT_NE(shown->CreateArticle(u"s3", US_UP_TO_DATE, plat::ULLToFileTime(0)), nullptr);
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 1);
  EXPECT_EQ(Ids(filter), (std::vector<std::u16string>{u"s2", u"s1", u"s3"}));

  // A deleted article leaves the list.
  log.events.clear();
  s1->Delete();
  EXPECT_GE(log.Count(DBE_FILTER_REBUILT), 1);
  EXPECT_EQ(Ids(filter), (std::vector<std::u16string>{u"s2", u"s3"}));

  // Articles taken out of their set leave silently.
  log.events.clear();
  dynamic_cast<CChannel*>(shown)->GetArticleSetObject().RemoveAll();
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 0);

  // A null channel empties the list without an event.
  ASSERT_NE(Make(shown, u"s4", 1, 1), nullptr);
  ASSERT_EQ(filter.GetCount(), 1);
  log.events.clear();
  filter.SetChannel(nullptr);
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_EQ(filter.GetChannelCount(), 0);
  EXPECT_TRUE(log.events.empty());
  log.Unsubscribe(&filter);
}

TEST_F(ArticleFilterTest, ChannelRemovedFromTheSetLeavesTheList) {
  IChannel* keep = Channel(u"keep");
  IChannel* gone = Channel(u"gone");
  ASSERT_NE(Make(keep, u"k1", 1, 1), nullptr);
  ASSERT_NE(Make(gone, u"g1", 2, 1), nullptr);
  CArticleFilter filter(set_);
  filter.AddChannel(keep);
  filter.AddChannel(gone);
  ASSERT_EQ(filter.GetCount(), 2);
  EventLog log;
  log.Subscribe(&filter);
  Unuse(gone);
  set_->Remove(u"gone");
  EXPECT_EQ(filter.GetChannelCount(), 1);
  EXPECT_TRUE(filter.ContainsChannel(keep));
  EXPECT_EQ(Ids(filter), std::vector<std::u16string>{u"k1"});
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 1);
  log.Unsubscribe(&filter);
}

// A reader of the files another writer changes (as the Today item reads what
// the main program writes): refreshing a shown channel lists what is stored
// now, in place of what the reader loaded before.
TEST_F(ArticleFilterTest, RefreshChannelListsWhatIsStoredNow) {
  const int writer = 0;
  // Stored articles have digest ids.
  const std::u16string first = std::u16string(32, u'1');
  const std::u16string second = std::u16string(32, u'2');
  const std::u16string manualId = std::u16string(32, u'3');
  IChannel* written = set_->Add(u"feed");
  ASSERT_NE(written, nullptr);
  ASSERT_NE(set_->Add(u"other"), nullptr);
  written->Acquire(&writer);
  ASSERT_NE(Make(written, first, 2, 1), nullptr);
  written->Release(&writer, true);

  CChannelSet reader;
  reader.SetReadOnly(1);
  ASSERT_TRUE(reader.Open());
  CChannel* feed = reader.FindByNameNoCase(u"feed");
  CChannel* other = reader.FindByNameNoCase(u"other");
  ASSERT_TRUE(feed && other);
  CArticleFilter filter(&reader);
  filter.AddChannel(feed);
  ASSERT_EQ(Ids(filter), std::vector<std::u16string>{first});
  EventLog log;
  log.Subscribe(&filter);

  // The writer deletes the article the reader shows and adds two, one of
  // them marked for manual update.
  written->Acquire(&writer);
  ASSERT_EQ(written->GetArticleSet()->GetCount(), 1);
  written->GetArticleSet()->GetAt(0)->Delete();
  ASSERT_NE(Make(written, second, 1, 2), nullptr);
  IArticle* manual = Make(written, manualId, 3, 3);
  ASSERT_NE(manual, nullptr);
  manual->SetManualUpdate(true);
  written->Release(&writer, true);
  EXPECT_EQ(Ids(filter), std::vector<std::u16string>{first});  // not read again by itself

  EXPECT_TRUE(filter.RefreshChannel(feed));
  EXPECT_EQ(Ids(filter), (std::vector<std::u16string>{second, manualId}));
  EXPECT_EQ(filter.GetManualCount(), 1);
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 1);
  EXPECT_EQ(feed->GetUserCount(), 1u);
  EXPECT_TRUE(filter.HasChannel(feed));
  // The refreshed articles are followed again: a title change re-sorts.
  filter.FindById(manualId)->SetTitle(u"renamed");
  EXPECT_EQ(log.Count(DBE_FILTER_REBUILT), 2);

  // Channels that are not shown are not refreshed.
  log.events.clear();
  EXPECT_FALSE(filter.RefreshChannel(other));
  EXPECT_FALSE(filter.RefreshChannel(nullptr));
  EXPECT_EQ(other->GetUserCount(), 0u);
  EXPECT_FALSE(filter.HasChannel(other));
  EXPECT_TRUE(log.events.empty());

  filter.RemoveAllChannels();
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_EQ(filter.GetChannelCount(), 0);
  EXPECT_EQ(filter.GetManualCount(), 0);
  EXPECT_EQ(feed->GetUserCount(), 0u);
  log.Unsubscribe(&filter);
}

TEST_F(ArticleFilterTest, DeleteAllMarkAllReadAndUpdatable) {
  IChannel* shown = Channel(u"shown");
  IChannel* hidden = Channel(u"hidden");
  IArticle* s1 = Make(shown, u"s1", 1, 1);
  IArticle* s2 = Make(shown, u"s2", 2, 2);
  IArticle* h1 = Make(hidden, u"h1", 1, 1);
  ASSERT_TRUE(s1 && s2 && h1);
  CArticleFilter filter(set_);
  filter.AddChannel(shown);
  EventLog log;
  log.Subscribe(&filter);

  EXPECT_FALSE(filter.HasUpdatableArticles());
  s1->SetManualUpdate(true);
  EXPECT_EQ(filter.GetManualCount(), 1);
  EXPECT_TRUE(filter.HasUpdatableArticles());
  s1->SetManualUpdate(false);
  EXPECT_EQ(filter.GetManualCount(), 0);
  EXPECT_FALSE(filter.HasUpdatableArticles());
  // A waiting article of a shown channel.
  s2->SetUpdateState(US_WAITING);
  EXPECT_TRUE(filter.HasUpdatableArticles());
  s2->SetUpdateState(US_UP_TO_DATE);
  EXPECT_FALSE(filter.HasUpdatableArticles());
  // One of a hidden channel does not count.
  h1->SetUpdateState(US_WAITING);
  EXPECT_FALSE(filter.HasUpdatableArticles());

  ASSERT_EQ(shown->GetUnreadCount(), 2);
  ASSERT_EQ(hidden->GetUnreadCount(), 1);
  log.events.clear();
  filter.MarkAllRead();
  EXPECT_EQ(shown->GetUnreadCount(), 0);
  EXPECT_EQ(hidden->GetUnreadCount(), 1);
  ASSERT_FALSE(log.events.empty());
  EXPECT_EQ(log.events.back().first, std::uint32_t{DBE_FILTER_REBUILT});

  s2->SetManualUpdate(true);
  log.events.clear();
  filter.DeleteAll();
  EXPECT_EQ(filter.GetCount(), 0);
  EXPECT_EQ(filter.GetManualCount(), 0);
  EXPECT_TRUE(s1->IsDeleted());
  EXPECT_TRUE(s2->IsDeleted());
  EXPECT_FALSE(h1->IsDeleted());
  ASSERT_FALSE(log.events.empty());
  EXPECT_EQ(log.events.back().first, std::uint32_t{DBE_FILTER_REBUILT});
  log.Unsubscribe(&filter);
}

// The list the filter should show, worked out from the channels themselves.
std::string Lower(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

using SortKey = std::tuple<bool, plat::ULONGLONG, std::uint32_t, std::string>;

SortKey KeyOf(IArticle* article) {
  plat::FILETIME date{};
  const bool dated = article->GetDate(date);
  // Undated articles with equal values are equal whatever their channel.
  return SortKey(dated, dated ? plat::FileTimeToULL(date) : 0, article->GetOrder(),
                 dated ? Lower(article->GetChannel()->GetName()) : std::string());
}

TEST_F(ArticleFilterTest, RandomStreamMatchesAFilterComputedFromScratch) {
  std::mt19937 random(20261210u);
  IChannel* channels[] = {Channel(u"one"), Channel(u"Two"), Channel(u"three")};
  for (IChannel* channel : channels) ASSERT_NE(channel, nullptr);
  CArticleFilter filter(set_);
  filter.AddChannel(channels[0]);
  filter.AddChannel(channels[1]);
  std::set<IChannel*> shown = {channels[0], channels[1]};
  EventLog log;
  log.Subscribe(&filter);

  // Few distinct dates, so that equal dates (and ties on values) occur.
  auto randomDate = [&] {
    const int pick = static_cast<int>(random() % 6);
    return plat::ULLToFileTime(pick == 0 ? 0 : now_ - static_cast<plat::ULONGLONG>(pick) * kHour);
  };
  std::vector<IArticle*> all;
  int nextId = 0;

  auto check = [&](int step) {
    SCOPED_TRACE("step " + std::to_string(step));
    std::vector<IArticle*> expected;
    for (IChannel* channel : shown) {
      IArticleSet* articles = channel->GetArticleSet();
      for (int i = 0; i < articles->GetCount(); ++i) {
        if (!articles->GetAt(i)->IsDeleted()) expected.push_back(articles->GetAt(i));
      }
    }
    std::vector<IArticle*> listed;
    for (int i = 0; i < filter.GetCount(); ++i) listed.push_back(filter.GetAt(i));
    ASSERT_EQ(std::set<IArticle*>(listed.begin(), listed.end()), std::set<IArticle*>(expected.begin(), expected.end()));
    ASSERT_EQ(listed.size(), expected.size());  // no article twice
    std::vector<SortKey> keys;
    for (IArticle* article : listed) keys.push_back(KeyOf(article));
    std::vector<SortKey> sorted = keys;
    std::sort(sorted.begin(), sorted.end(), std::greater<SortKey>());
    ASSERT_EQ(keys, sorted);
    int manual = 0;
    for (IArticle* article : listed) manual += article->GetManualUpdate() != 0 ? 1 : 0;
    ASSERT_EQ(filter.GetManualCount(), manual);
  };

  for (int step = 0; step < 400; ++step) {
    const int action = static_cast<int>(random() % 10);
    std::vector<IArticle*> live;
    for (IArticle* article : all) {
      if (!article->IsDeleted()) live.push_back(article);
    }
    IArticle* some = live.empty() ? nullptr : live[random() % live.size()];
    if (action <= 2 || some == nullptr) {
      IChannel* channel = channels[random() % 3];
      const std::u16string id = plat::Utf8ToUtf16("article" + std::to_string(nextId++));
      const std::uint32_t state = random() % 4 == 0 ? US_WAITING : US_UP_TO_DATE;
      IArticle* article = channel->CreateArticle(id, state, randomDate());
      ASSERT_NE(article, nullptr);
      all.push_back(article);
    } else if (action == 3) {
      some->Delete();
    } else if (action == 4) {
      log.events.clear();
      IChannel* channel = some->GetChannel();
      const bool wasRead = channel->IsArticleRead(some);
      channel->SetArticleRead(some, !wasRead);
      const int index = filter.IndexOf(some);
      if (index >= 0) {
        // The screen hears which row changed.
        ASSERT_FALSE(log.events.empty());
        EXPECT_EQ(log.events.back(), std::make_pair(std::uint32_t{DBE_ROW_CHANGED}, index));
      } else {
        EXPECT_TRUE(log.events.empty());
      }
    } else if (action == 5) {
      some->SetTitle(plat::Utf8ToUtf16("title " + std::to_string(random() % 100)));
    } else if (action == 6) {
      some->SetDate(randomDate());
    } else if (action == 7) {
      some->SetManualUpdate(random() % 2 == 0);
    } else if (action == 8) {
      some->SetUpdateState(random() % 2 == 0 ? US_WAITING : US_UP_TO_DATE);
    } else {
      // The view changes: the second channel goes or comes back.
      if (shown.count(channels[1]) != 0) {
        filter.RemoveChannel(channels[1]);
        shown.erase(channels[1]);
      } else {
        filter.AddChannel(channels[1]);
        shown.insert(channels[1]);
      }
    }
    check(step);
    if (HasFatalFailure()) return;
  }
  // The stream did exercise the list.
  EXPECT_GT(filter.GetCount(), 5);
  log.Unsubscribe(&filter);
}

}  // namespace
