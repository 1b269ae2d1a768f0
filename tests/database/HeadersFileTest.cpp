#include <gtest/gtest.h>

#include "core/RecordEncoding.h"
#include "platform/files/Files.h"
#include "tests/support/HeadersFixture.h"

namespace {

using orvtest::FakeChannel;

class ArticleSetTest : public orvtest::DeviceTest {};

TEST_F(ArticleSetTest, CountLimitTurnsTheLowestOrderIntoATombstone) {
  struct Case {
    std::uint32_t limit;
    std::vector<std::uint32_t> orders;  // added in this order
    std::vector<std::uint32_t> gone;    // orders of the articles that end as tombstones
  };
  const Case cases[] = {
      {2, {30, 20, 10}, {10}},
      {2, {10, 20, 30}, {10}},
      {1, {5, 7, 6}, {5, 6}},
      {3, {1, 2, 3}, {}},
      {2, {0xFFFFFFFFu, 3, 2}, {0xFFFFFFFFu}},  // a counter that wrapped ranks lowest
  };
  for (const auto& c : cases) {
    FakeChannel channel;
    channel.Options().SetArticlesCountLimitEnabled(1);
    channel.Options().SetArticlesCountLimit(static_cast<std::int32_t>(c.limit));
    char16_t digit = u'a';
    for (std::uint32_t order : c.orders) channel.Articles().Add(channel.NewArticle(digit++, order));
    ASSERT_EQ(channel.Articles().GetCount(), static_cast<int>(c.orders.size()));
    std::vector<std::uint32_t> gone;
    for (int i = 0; i < channel.Articles().GetCount(); ++i) {
      IArticle* a = channel.Articles().GetAt(i);
      if (a->IsDeleted()) gone.push_back(c.orders[static_cast<std::size_t>(i)]);
    }
    std::sort(gone.begin(), gone.end());
    auto expected = c.gone;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(gone, expected) << c.limit;
    EXPECT_EQ(channel.Articles().GetLiveCount(), c.orders.size() - c.gone.size());
  }
}

TEST_F(ArticleSetTest, LookupsAndBounds) {
  FakeChannel channel;
  channel.Articles().Add(channel.NewArticle('a', 1));
  channel.Articles().Add(channel.NewArticle('b', 2));
  EXPECT_EQ(channel.Articles().GetAt(-1), nullptr);
  EXPECT_EQ(channel.Articles().GetAt(2), nullptr);
  ASSERT_NE(channel.Articles().GetAt(1), nullptr);
  EXPECT_EQ(channel.Articles().FindById(std::u16string(32, u'B')), channel.Articles().GetAt(1));
  EXPECT_EQ(channel.Articles().FindById(std::u16string(32, u'c')), nullptr);
}

TEST_F(ArticleSetTest, OnlyForgottenTombstonesWriteTheCountAlone) {
  FakeChannel channel;
  CArticle* a = channel.NewArticle('a', 1);
  channel.Articles().Add(a);
  a->Delete();
  a->Forget();
  CBufferWriter out;
  ASSERT_TRUE(channel.Articles().Write(out));
  ASSERT_EQ(out.GetSize(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.GetData()), 4), std::string(4, '\0'));
}

// Fills a channel: two live articles sharing an image, one with an
// enclosure, one tombstone, and the channel's own image.
void Fill(FakeChannel& channel) {
  CArticle* a = channel.NewArticle('a', 999, u"http://x/shared.png");
  a->SetTitle(u"First \u00e9");
  a->SetDate(plat::ULLToFileTime(130000000000000000ull));
  a->GetBinaries()->AddUrl(u"http://x/enc.mp3");
  a->SetManualUpdate(true);
  a->SetUpdateState(US_UP_TO_DATE);
  channel.Articles().Add(a);
  CArticle* b = channel.NewArticle('b', 998, u"http://x/shared.png");
  b->SetTitle(u"Second");
  b->SetSecondDigest(u"0123456789abcdef0123456789abcdef");
  channel.Articles().Add(b);
  CArticle* t = channel.NewArticle('c', 997, u"http://x/gone.png");
  channel.Articles().Add(t);
  t->Delete();
  channel.Binaries().AddUrl(u"http://x/channel.png");
  channel.Binaries().Find(u"http://x/enc.mp3")->SetUpdateState(US_FAILED);
  channel.Binaries().Find(u"http://x/shared.png")->SetUpdateState(US_UP_TO_DATE);
}

std::string Dump(FakeChannel& channel) {
  CBufferWriter out;
  EXPECT_TRUE(CHeadersFile::Build(channel.Binaries(), channel.Articles(), out));
  return std::string(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
}

TEST_F(ArticleSetTest, WrittenFileReadsBackTheSame) {
  FakeChannel first;
  Fill(first);
  ASSERT_TRUE(CHeadersFile::Save(first.HeadersPath(), first.Binaries(), first.Articles()));
  const std::string written = Dump(first);
  EXPECT_EQ(orvtest::ReadHostFile(orvtest::HostPath(device_, first.HeadersPath())), written);

  FakeChannel second;
  const HeadersLoadResult result = CHeadersFile::Load(first.HeadersPath(), second.Binaries(), second.Articles());
  EXPECT_TRUE(result.loaded);
  EXPECT_FALSE(result.damaged);
  second.Binaries().AddUrl(u"http://x/channel.png");
  EXPECT_EQ(Dump(second), written);
  EXPECT_EQ(second.orderCounter, 999u + 1000u);
  ASSERT_EQ(second.Articles().GetCount(), 3);
  CArticle* a = second.Articles().GetArticleAt(0);
  EXPECT_EQ(a->GetTitle(), u"First \u00e9");
  EXPECT_EQ(a->GetManualUpdateByte(), AMU_ON);
  EXPECT_EQ(a->GetOwnUpdateState(), US_UP_TO_DATE);
  EXPECT_TRUE(second.Articles().GetArticleAt(2)->IsDeleted());
  EXPECT_EQ(second.Articles().GetArticleAt(2)->GetId(), std::u16string(32, u'c'));
  EXPECT_EQ(second.Binaries().Find(u"http://x/shared.png")->GetUseCount(), 2u);
  EXPECT_EQ(second.Binaries().Find(u"http://x/enc.mp3")->GetOwnUpdateState(), US_FAILED);
}

TEST_F(ArticleSetTest, HandBuiltFileLoads) {
  FakeChannel channel;
  std::string f = "OBH1";
  orvtest::PutInt32(f, 1);
  orvtest::PutInt32(f, 6);
  orvtest::PutString(f, "http://h/p.jpg");
  orvtest::PutString(f, "p.jpg");
  orvtest::PutInt32(f, 2);
  // live article
  orvtest::PutInt32(f, 0);  // stored as updating: reads as waiting
  orvtest::PutDigest(f, 0x01);
  orvtest::PutDigest(f, 0x02);
  f += '\0';
  orvtest::PutString(f, "Hand \xc3\xa9");
  orvtest::PutString(f, "http://h/p.jpg");
  f += '\1';
  orvtest::PutInt32(f, 1234);
  orvtest::PutInt64(f, 0);
  orvtest::PutInt64(f, plat::CurrentClock().NowUtcFileTime());
  orvtest::PutInt32(f, 1);
  orvtest::PutString(f, "http://h/p.jpg");
  // tombstone
  orvtest::PutInt32(f, 6);
  orvtest::PutDigest(f, 0xfe);
  orvtest::PutDigest(f, 0x03);
  f += '\1';
  orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), f);

  const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
  ASSERT_TRUE(result.loaded);
  EXPECT_FALSE(result.damaged);
  ASSERT_EQ(channel.Articles().GetCount(), 2);
  CArticle* a = channel.Articles().GetArticleAt(0);
  EXPECT_EQ(a->GetId(), u"01010101010101010101010101010101");
  EXPECT_EQ(a->GetSecondDigest(), u"02020202020202020202020202020202");
  EXPECT_EQ(a->GetTitle(), u"Hand \u00e9");
  EXPECT_EQ(a->GetOrder(), 1234u);
  EXPECT_EQ(a->GetOwnUpdateState(), US_WAITING);
  EXPECT_EQ(a->GetManualUpdateByte(), AMU_ON);
  CArticle* t = channel.Articles().GetArticleAt(1);
  EXPECT_TRUE(t->IsDeleted());
  EXPECT_EQ(t->GetId(), u"fefefefefefefefefefefefefefefefe");
  EXPECT_EQ(channel.orderCounter, 2234u);
  EXPECT_EQ(channel.Binaries().Find(u"http://h/p.jpg")->GetUseCount(), 1u);
}

TEST_F(ArticleSetTest, EveryTruncationLoadsWhatItCanAndDeletesNoFile) {
  // A small fixture: one live article with an image and an enclosure (both
  // downloaded), then a tombstone.
  FakeChannel source;
  CArticle* live = source.NewArticle('a', 9, u"http://x/s");
  live->GetBinaries()->AddUrl(u"http://x/e");
  source.Articles().Add(live);
  CArticle* tomb = source.NewArticle('c', 8);
  source.Articles().Add(tomb);
  tomb->Delete();
  source.Binaries().Find(u"http://x/s")->SetUpdateState(US_UP_TO_DATE);
  source.Binaries().Find(u"http://x/e")->SetUpdateState(US_UP_TO_DATE);
  const std::string full = Dump(source);
  const std::u16string tombId(32, u'c');
  std::vector<std::u16string> names;
  for (const auto* url : {u"http://x/s", u"http://x/e"}) {
    names.emplace_back();
    source.Binaries().Find(url)->GetFileName(names.back(), false);
  }
  FakeChannel channel(u"\\Content\\T");
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    for (const auto& name : names) orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(name)), "b");
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), full.substr(0, cut));
    const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
    EXPECT_TRUE(result.damaged) << cut;
    // Whatever got read is whole; the tombstone, the last record, is lost
    // only with its own bytes.
    for (int i = 0; i < channel.Articles().GetCount(); ++i) {
      EXPECT_EQ(channel.Articles().GetArticleAt(i)->GetId().size(), 32u);
    }
    EXPECT_EQ(channel.Articles().FindById(tombId) != nullptr, false) << cut;
    for (const auto& name : names) EXPECT_TRUE(FileExists(channel.BinFile(name))) << cut;
    EXPECT_TRUE(FileExists(channel.HeadersPath() + kDamagedHeadersSuffix));
    channel.Articles().RemoveAll();
    channel.Binaries().Clear();
    DeleteFileIfExists(channel.HeadersPath() + kDamagedHeadersSuffix);
  }
}

TEST_F(ArticleSetTest, TruncationAfterTheTombstoneKeepsIt) {
  // Tombstone first, then a live article cut short: the tombstone survives.
  FakeChannel source;
  CArticle* t = source.NewArticle('d', 5);
  source.Articles().Add(t);
  t->Delete();
  source.Articles().Add(source.NewArticle('e', 4, u"http://x/i"));
  const std::string full = Dump(source);
  // The binary section holds one record; find where the article section starts.
  CBufferWriter bins;
  source.Binaries().Write(bins);
  const std::size_t articlesAt = 4 + bins.GetSize();
  const std::size_t afterTomb = articlesAt + 4 + 4 + 32 + 1;
  FakeChannel channel(u"\\Content\\K");
  for (std::size_t cut = afterTomb; cut < full.size(); ++cut) {
    channel.Articles().RemoveAll();
    channel.Binaries().Clear();
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), full.substr(0, cut));
    const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
    EXPECT_TRUE(result.damaged);
    ASSERT_EQ(channel.Articles().GetCount(), 1) << cut;
    EXPECT_TRUE(channel.Articles().GetAt(0)->IsDeleted());
    EXPECT_EQ(channel.Articles().GetAt(0)->GetId(), std::u16string(32, u'd'));
  }
}

TEST_F(ArticleSetTest, GarbageCountsEndAtTheData) {
  const std::uint32_t counts[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 5};
  for (std::uint32_t count : counts) {
    FakeChannel channel;
    std::string f = "OBH1";
    orvtest::PutInt32(f, 0);
    orvtest::PutInt32(f, count);
    orvtest::PutInt32(f, 6);
    orvtest::PutDigest(f, 0x10);
    orvtest::PutDigest(f, 0x20);
    f += '\1';
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), f);
    const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
    EXPECT_TRUE(result.damaged) << count;
    EXPECT_LE(channel.Articles().GetCount(), 1);
  }
}

TEST_F(ArticleSetTest, OtherMagicIsIgnoredWhole) {
  FakeChannel channel;
  orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), std::string("OBH2\0\0\0\0\0\0\0\0", 12));
  const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
  EXPECT_TRUE(result.present);
  EXPECT_FALSE(result.loaded);
  EXPECT_EQ(channel.Articles().GetCount(), 0);
}

TEST_F(ArticleSetTest, AgedOutArticlesGoWithTheirFilesOnlyAfterAWholeRead) {
  constexpr std::uint64_t kDay = 864000000000ull;
  plat::ManualClock clock(129067776000000000ull + 50 * kDay);
  plat::SetClock(&clock);
  FakeChannel source;
  CArticle* old = source.NewArticle('a', 40, u"http://x/old.png");
  old->SetDate(plat::ULLToFileTime(clock.NowUtcFileTime() - 10 * kDay));
  source.Articles().Add(old);
  source.Binaries().Find(u"http://x/old.png")->SetUpdateState(US_UP_TO_DATE);
  const std::string full = Dump(source);
  std::u16string name;
  source.Binaries().Find(u"http://x/old.png")->GetFileName(name, false);
  struct Case {
    bool trailingGarbage;
    bool fileKept;
  };
  for (const Case c : {Case{false, false}, Case{true, true}}) {
    FakeChannel channel(u"\\Content\\Age");
    channel.Options().SetArticlesAgeLimitEnabled(1);
    channel.Options().SetArticlesAgeLimit(7);
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(name)), "img");
    const std::string bytes = c.trailingGarbage ? full + "zz" : full;
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), bytes);
    const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
    EXPECT_EQ(result.damaged, c.trailingGarbage);
    EXPECT_EQ(channel.Articles().GetCount(), 0);
    EXPECT_EQ(channel.orderCounter, 1000u);
    if (!result.damaged) channel.Binaries().RemoveUnreferenced();
    EXPECT_EQ(FileExists(channel.BinFile(name)), c.fileKept) << c.trailingGarbage;
    channel.Binaries().Clear();
    DeleteFolderTree(u"\\Content\\Age");
  }
  plat::SetClock(nullptr);
}

TEST_F(ArticleSetTest, FailedSaveKeepsTheOldFile) {
  FakeChannel channel;
  Fill(channel);
  ASSERT_TRUE(CHeadersFile::Save(channel.HeadersPath(), channel.Binaries(), channel.Articles()));
  const std::string before = orvtest::ReadHostFile(orvtest::HostPath(device_, channel.HeadersPath()));
  channel.Articles().Add(channel.NewArticle('f', 1, u"http://x/new"));
  plat::SimulateDiskFull(10);
  const bool saved = CHeadersFile::Save(channel.HeadersPath(), channel.Binaries(), channel.Articles());
  plat::SimulateDiskFull(-1);
  EXPECT_FALSE(saved);
  EXPECT_EQ(orvtest::ReadHostFile(orvtest::HostPath(device_, channel.HeadersPath())), before);
}

}  // namespace
