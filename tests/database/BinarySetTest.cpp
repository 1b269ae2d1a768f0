#include <gtest/gtest.h>

#include "core/Md5.h"
#include "core/RecordEncoding.h"
#include "tests/support/HeadersFixture.h"

namespace {

using orvtest::FakeChannel;

class BinaryTest : public orvtest::DeviceTest {};

TEST_F(BinaryTest, LocalNameIsTheUrlDigestMadeUnique) {
  FakeChannel channel;
  const std::u16string url = u"http://example.com/a.png";
  const std::u16string digits = GetMd5Hex(url);
  const std::u16string expected[] = {digits, digits + u"(1)", digits + u"(2)"};
  for (const auto& name : expected) {
    CBinary binary(&channel.Binaries(), url, channel.GetBinFolder());
    std::u16string got;
    binary.GetFileName(got, false);
    EXPECT_EQ(got, name);
    EXPECT_EQ(binary.GetOwnUpdateState(), US_WAITING);
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(got)), "x");
  }
}

TEST_F(BinaryTest, ChangeExtensionRenamesTheFile) {
  struct Case {
    std::u16string start;  // file name before
    std::u16string taken;  // a file already there, or empty
    std::u16string ext;
    std::u16string after;
  };
  const Case cases[] = {
      {u"abc", u"", u"png", u"abc.png"},
      {u"abc.tmp", u"", u"jpg", u"abc.jpg"},
      {u"a.b.c", u"", u"gif", u"a.b.gif"},
      {u"abc.tmp", u"abc.jpg", u"jpg", u"abc(1).jpg"},
  };
  for (const auto& c : cases) {
    FakeChannel channel(u"\\Content\\C" + c.after);
    // A binary read from a record gets the name it stands under.
    CBufferWriter record;
    WriteInt32(record, 6);
    WriteString(record, u"http://x/" + c.start);
    WriteString(record, c.start);
    CBinary binary(&channel.Binaries());
    CBufferReader reader(record.GetData(), record.GetSize());
    ASSERT_TRUE(binary.Read(reader));
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(c.start)), "data");
    if (!c.taken.empty()) orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(c.taken)), "other");
    binary.ChangeExtension(c.ext);
    std::u16string name;
    binary.GetFileName(name, false);
    EXPECT_EQ(name, c.after);
    EXPECT_FALSE(FileExists(channel.BinFile(c.start)));
    EXPECT_EQ(orvtest::ReadHostFile(orvtest::HostPath(device_, channel.BinFile(c.after))), "data");
  }
}

TEST_F(BinaryTest, DownloadedOnlyWhenDoneAndTheFileIsThere) {
  FakeChannel channel;
  CBinary binary(&channel.Binaries(), u"http://x/i", channel.GetBinFolder());
  std::u16string path;
  binary.GetFileName(path, true);
  binary.SetUpdateState(US_UP_TO_DATE);
  EXPECT_FALSE(binary.IsDownloaded());
  orvtest::WriteHostFile(orvtest::HostPath(device_, path), "img");
  EXPECT_TRUE(binary.IsDownloaded());
  binary.SetUpdateState(US_FAILED);
  EXPECT_FALSE(binary.IsDownloaded());
  binary.DeleteLocalFile();
  EXPECT_FALSE(FileExists(path));
}

TEST_F(BinaryTest, RecordsThatFailToRead) {
  struct Case {
    const char* what;
    std::u16string url;
    std::u16string name;
    bool ok;
  };
  const Case cases[] = {
      {"plain", u"http://x/a", u"0123", true},
      {"empty url", u"", u"0123", false},
      {"name leaving the folder", u"http://x/a", u"..\\..\\victim", false},
      {"name with a slash", u"http://x/a", u"a/b", false},
      {"dot dot", u"http://x/a", u"..", false},
  };
  for (const auto& c : cases) {
    FakeChannel channel;
    CBufferWriter record;
    WriteInt32(record, 6);
    WriteString(record, c.url);
    WriteString(record, c.name);
    CBinary binary(&channel.Binaries());
    CBufferReader reader(record.GetData(), record.GetSize());
    EXPECT_EQ(binary.Read(reader), c.ok) << c.what;
  }
}

TEST_F(BinaryTest, UnfinishedDownloadLosesItsFileOnReading) {
  struct Case {
    std::int32_t stored;
    std::uint32_t state;
    bool fileKept;
  };
  const Case cases[] = {{6, US_UP_TO_DATE, true}, {4, US_FAILED, true}, {0, US_WAITING, false},
                        {2, US_WAITING, false},   {9, US_UP_TO_DATE, true}, {7, US_WAITING, false}};
  for (const auto& c : cases) {
    FakeChannel channel;
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(u"f")), "part");
    CBufferWriter record;
    WriteInt32(record, c.stored);
    WriteString(record, u"http://x/f");
    WriteString(record, u"f");
    CBinary binary(&channel.Binaries());
    CBufferReader reader(record.GetData(), record.GetSize());
    ASSERT_TRUE(binary.Read(reader));
    EXPECT_EQ(binary.GetOwnUpdateState(), c.state) << c.stored;
    EXPECT_EQ(FileExists(channel.BinFile(u"f")), c.fileKept) << c.stored;
  }
}

class BinarySetTest : public orvtest::DeviceTest {};

TEST_F(BinarySetTest, SharedImageGoesWithItsLastUser) {
  FakeChannel channel;
  CArticle* a = channel.NewArticle('a', 10, u"http://x/img");
  CArticle* b = channel.NewArticle('b', 9, u"http://x/img");
  channel.Articles().Add(a);
  channel.Articles().Add(b);
  ASSERT_EQ(channel.Binaries().GetCount(), 1u);
  CBinary* binary = channel.Binaries().Find(u"http://x/img");
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(binary->GetUseCount(), 2u);
  std::u16string path;
  binary->GetFileName(path, true);
  orvtest::WriteHostFile(orvtest::HostPath(device_, path), "img");

  a->GetBinaries()->AddUrl(u"http://x/img");  // held already: no second use
  EXPECT_EQ(binary->GetUseCount(), 2u);

  a->SetImageUrl(u"");
  EXPECT_EQ(channel.Binaries().Find(u"http://x/img"), binary);
  EXPECT_EQ(binary->GetUseCount(), 1u);
  EXPECT_TRUE(FileExists(path));

  b->GetBinaries()->RemoveUrl(u"http://x/img");
  EXPECT_EQ(channel.Binaries().Find(u"http://x/img"), nullptr);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(BinarySetTest, ImagesDisabledLeaveArticlesAlone) {
  FakeChannel channel;
  CArticle* a = channel.NewArticle('a', 10);
  channel.Articles().Add(a);
  channel.Options().SetDisableImagesInArticles(1);
  IBinarySet* stub = a->GetBinaries();
  stub->AddUrl(u"http://x/1");
  stub->AddUrls(CStringSet{u"http://x/2"});
  stub->SetUrls(CStringSet{u"http://x/3"});
  EXPECT_TRUE(stub->IsEmpty());
  EXPECT_TRUE(channel.Binaries().IsEmpty());
  channel.Options().SetDisableImagesInArticles(0);
  stub->SetUrls(CStringSet{u"http://x/3", u"http://x/4"});
  CStringSet held;
  stub->CopyEntries(held);
  EXPECT_EQ(held, (CStringSet{u"http://x/3", u"http://x/4"}));
  EXPECT_EQ(channel.Binaries().GetCount(), 2u);
}

TEST_F(BinarySetTest, RemoveAllDeletesEveryFileWhateverItsUsers) {
  FakeChannel channel;
  CArticle* a = channel.NewArticle('a', 10, u"http://x/1");
  channel.Articles().Add(a);
  a->GetBinaries()->AddUrl(u"http://x/2");
  std::vector<std::u16string> paths;
  for (const auto* url : {u"http://x/1", u"http://x/2"}) {
    std::u16string path;
    channel.Binaries().Find(url)->GetFileName(path, true);
    orvtest::WriteHostFile(orvtest::HostPath(device_, path), "b");
    paths.push_back(path);
  }
  a->Detach();  // the article lets go of its binaries first, as on unloading
  channel.Binaries().RemoveAll();
  EXPECT_TRUE(channel.Binaries().IsEmpty());
  for (const auto& p : paths) EXPECT_FALSE(FileExists(p));
  channel.Articles().RemoveAll();
}

TEST_F(BinarySetTest, UnreferencedBinariesGoAfterReading) {
  FakeChannel channel;
  std::string file;
  orvtest::PutInt32(file, kHeadersMagic);
  orvtest::PutInt32(file, 2);
  for (const char* name : {"used", "unused"}) {
    orvtest::PutInt32(file, 6);
    orvtest::PutString(file, std::string("http://x/") + name);
    orvtest::PutString(file, name);
    orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(plat::Utf8ToUtf16(name))), "b");
  }
  orvtest::PutInt32(file, 1);  // one tombstone-free live article naming "used"
  orvtest::PutInt32(file, 6);
  orvtest::PutDigest(file, 0xaa);
  orvtest::PutDigest(file, 0xbb);
  file += '\0';
  orvtest::PutString(file, "T");
  orvtest::PutString(file, "http://x/used");
  file += '\2';
  orvtest::PutInt32(file, 5);
  orvtest::PutInt64(file, 0);
  orvtest::PutInt64(file, 0);
  orvtest::PutInt32(file, 0);
  orvtest::WriteHostFile(orvtest::HostPath(device_, channel.HeadersPath()), file);

  const HeadersLoadResult result = CHeadersFile::Load(channel.HeadersPath(), channel.Binaries(), channel.Articles());
  ASSERT_TRUE(result.loaded);
  ASSERT_FALSE(result.damaged);
  channel.Binaries().RemoveUnreferenced();
  EXPECT_NE(channel.Binaries().Find(u"http://x/used"), nullptr);
  EXPECT_EQ(channel.Binaries().Find(u"http://x/unused"), nullptr);
  EXPECT_TRUE(FileExists(channel.BinFile(u"used")));
  EXPECT_FALSE(FileExists(channel.BinFile(u"unused")));
}

// An update's new binaries are named from one listing of the folder; files
// that appear after it (a download, anything once the listing is forgotten)
// and files that go are still taken into account.
TEST_F(BinarySetTest, NewBinariesAreNamedFromTheFolderAsItStands) {
  FakeChannel channel;
  auto host = [&](const std::u16string& name) { return orvtest::HostPath(device_, channel.BinFile(name)); };
  auto nameOf = [&](const std::u16string& url) {
    std::u16string name;
    if (CBinary* binary = channel.Binaries().Find(url)) binary->GetFileName(name, false);
    return name;
  };
  const std::u16string urls[] = {u"http://x/1.png", u"http://x/2.png", u"http://x/3.png", u"http://x/4.png"};
  std::u16string digests[4];
  for (int i = 0; i < 4; ++i) digests[i] = GetMd5Hex(urls[i]);
  // A stray file named as the first digest, in capitals.
  std::u16string upper = digests[0];
  for (char16_t& c : upper) c = (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - 32) : c;
  orvtest::WriteHostFile(host(upper), "stray");
  CArticle* a = channel.NewArticle('a', 10, urls[0]);
  channel.Articles().Add(a);
  EXPECT_EQ(nameOf(urls[0]), digests[0] + u"(1)");

  // A download writes its file: the folder is looked at again.
  orvtest::WriteHostFile(host(digests[1]), "written meanwhile");
  CBinary* first = channel.Binaries().Find(urls[0]);
  ASSERT_NE(first, nullptr);
  first->SetUpdateState(US_UPDATING);
  first->SetUpdateState(US_UP_TO_DATE);
  channel.Articles().Add(channel.NewArticle('b', 9, urls[1]));
  EXPECT_EQ(nameOf(urls[1]), digests[1] + u"(1)");

  // Once forgotten (an update ended), the listing is made again.
  orvtest::WriteHostFile(host(digests[2]), "written later");
  channel.Binaries().ForgetFileNames();
  channel.Articles().Add(channel.NewArticle('c', 8, urls[2]));
  EXPECT_EQ(nameOf(urls[2]), digests[2] + u"(1)");

  // A binary that goes with its file frees its name.
  orvtest::WriteHostFile(host(digests[3] + u"(1)"), "img");
  CArticle* d = channel.NewArticle('d', 7, urls[3]);
  channel.Articles().Add(d);
  EXPECT_EQ(nameOf(urls[3]), digests[3]);
  orvtest::WriteHostFile(host(digests[3]), "img");
  d->SetImageUrl(u"");
  EXPECT_EQ(channel.Binaries().Find(urls[3]), nullptr);
  EXPECT_FALSE(FileExists(channel.BinFile(digests[3])));
  d->SetImageUrl(urls[3]);
  EXPECT_EQ(nameOf(urls[3]), digests[3]);
}

TEST_F(BinarySetTest, ReadingASetRestartsUnfinishedDownloadsWithOrWithoutTheirFolder) {
  for (const bool folder : {true, false}) {
    FakeChannel channel;
    if (folder) {
      for (const char* name : {"done", "cut", "failed"}) {
        orvtest::WriteHostFile(orvtest::HostPath(device_, channel.BinFile(plat::Utf8ToUtf16(name))), "b");
      }
    } else {
      ASSERT_TRUE(DeleteFolderTree(channel.GetBinFolder()));
    }
    CBufferWriter section;
    WriteInt32(section, 4);
    const std::pair<std::int32_t, const char16_t*> records[] = {
        {6, u"done"}, {0, u"cut"}, {4, u"failed"}, {2, u"never"}};
    for (const auto& [state, name] : records) {
      WriteInt32(section, state);
      WriteString(section, std::u16string(u"http://x/") + name);
      WriteString(section, name);
    }
    CBufferReader reader(section.GetData(), section.GetSize());
    ASSERT_TRUE(channel.Binaries().Read(reader));
    EXPECT_EQ(channel.Binaries().Find(u"http://x/done")->GetOwnUpdateState(), US_UP_TO_DATE);
    EXPECT_EQ(channel.Binaries().Find(u"http://x/cut")->GetOwnUpdateState(), US_WAITING);
    EXPECT_EQ(channel.Binaries().Find(u"http://x/failed")->GetOwnUpdateState(), US_FAILED);
    EXPECT_EQ(channel.Binaries().Find(u"http://x/never")->GetOwnUpdateState(), US_WAITING);
    EXPECT_EQ(FileExists(channel.BinFile(u"done")), folder);
    EXPECT_FALSE(FileExists(channel.BinFile(u"cut")));
    EXPECT_EQ(FileExists(channel.BinFile(u"failed")), folder);
    EXPECT_FALSE(DirectoryExists(channel.GetBinFolder()) && !folder) << "reading made the folder";
    channel.Binaries().Clear();
  }
}

TEST_F(BinarySetTest, RepeatedUrlInTheSectionIsDroppedAndNotCounted) {
  FakeChannel channel;
  const long before = g_nCountBinaries.load();
  CBufferWriter section;
  WriteInt32(section, 3);
  for (const auto* name : {u"one", u"one", u"two"}) {
    WriteInt32(section, 2);
    WriteString(section, std::u16string(u"http://x/") + name);
    WriteString(section, name);
  }
  CBufferReader reader(section.GetData(), section.GetSize());
  ASSERT_TRUE(channel.Binaries().Read(reader));
  EXPECT_EQ(channel.Binaries().GetCount(), 2u);
  EXPECT_EQ(g_nCountBinaries.load() - before, 2);
  EXPECT_EQ(channel.Binaries().GetWaitingChildren(), 2);
  channel.Binaries().Clear();
  EXPECT_EQ(g_nCountBinaries.load(), before);
  EXPECT_EQ(channel.Binaries().GetWaitingChildren(), 0);
}

TEST_F(BinarySetTest, ReadingStopsAtTheFirstBadRecord) {
  FakeChannel channel;
  CBufferWriter section;
  WriteInt32(section, 3);
  WriteInt32(section, 6);
  WriteString(section, u"http://x/a");
  WriteString(section, u"a");
  WriteInt32(section, 6);
  WriteString(section, u"");  // bad
  WriteString(section, u"b");
  WriteInt32(section, 6);
  WriteString(section, u"http://x/c");
  WriteString(section, u"c");
  CBufferReader reader(section.GetData(), section.GetSize());
  EXPECT_FALSE(channel.Binaries().Read(reader));
  CStringSet urls;
  channel.Binaries().CopyEntries(urls);
  EXPECT_EQ(urls, CStringSet{u"http://x/a"});
}

}  // namespace
