// The channel's files byte by byte: a content folder built by hand from the
// file layouts loads whole, and a saved channel file has exactly the layout.
#include <gtest/gtest.h>

#include <zlib.h>

#include "core/FileUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "tests/database/ChannelFixture.h"

namespace {

using namespace orvtest;

const std::string kId1 = "0123456789abcdef0123456789abcdef";
const std::string kId2 = "fedcba9876543210fedcba9876543210";
const std::string kId3 = "00112233445566778899aabbccddeeff";
const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
constexpr std::uint64_t kDate1 = 0x01D5000000000000ull;

std::u16string U(const std::string& s) { return plat::Utf8ToUtf16(s); }

// One live article record.
void PutArticle(std::string& out, std::uint32_t state, const std::string& id, const std::string& title,
                const std::string& image, std::uint32_t order, std::uint64_t date,
                const std::vector<std::string>& urls) {
  PutInt32(out, state);
  PutDigestHex(out, id);
  PutDigestHex(out, kEmptyMd5);
  PutByte(out, 0);
  PutString(out, title);
  PutString(out, image);
  PutByte(out, 2);
  PutInt32(out, order);
  PutInt64(out, date);
  PutInt64(out, date);
  PutInt32(out, static_cast<std::uint32_t>(urls.size()));
  for (const auto& url : urls) PutString(out, url);
}

class ChannelFileTest : public ChannelTest {};

TEST_F(ChannelFileTest, HandBuiltContentFolderLoadsWhole) {
  // "News: Tech" is stored as "News%3A Tech".
  const std::u16string escaped = u"News%3A Tech";
  OptionsBytes options;
  options.manual = 1;
  options.disableImages = 0;  // images of articles are kept as binaries
  options.ageEnabled = 0;
  options.ageLimit = 30;
  options.countEnabled = 1;
  options.countLimit = 100;
  WriteHostFile(ContentHost(escaped + u".cnl"),
                ChannelFileBytes(kMagicOBC1, 4, options,
                                 {{"@type", "@RSS"}, {"@url", "http://feeds.test/tech"}, {"thumbnail", "http://img.test/logo.png"},
                                  {"thumbnail_file", "logo.png"}}));
  const std::u16string data = CombinePath(kTestContent, escaped);
  ASSERT_TRUE(CreateFolderTree(CombinePath(data, u"bin")));

  std::string headers;
  PutInt32(headers, 0x3148424F);  // "OBH1"
  PutInt32(headers, 2);
  PutInt32(headers, 6);
  PutString(headers, "http://img.test/a.jpg");
  PutString(headers, "a.jpg");
  PutInt32(headers, 6);
  PutString(headers, "http://img.test/logo.png");
  PutString(headers, "logo.png");
  PutInt32(headers, 3);
  PutArticle(headers, 6, kId1, "First story", "http://img.test/a.jpg", 500, kDate1, {"http://img.test/a.jpg"});
  PutArticle(headers, 0, kId2, "Second story", "", 700, kDate1 + 1, {});
  // A tombstone: fields 1 to 4 only.
  PutInt32(headers, 6);
  PutDigestHex(headers, kId3);
  PutDigestHex(headers, kEmptyMd5);
  PutByte(headers, 1);
  WriteHostFile(Host(CombinePath(data, u"headers.bin")), headers);
  WriteHostFile(Host(CombinePath(data, u"bin\\a.jpg")), "jpeg");
  WriteHostFile(Host(CombinePath(data, u"bin\\logo.png")), "png");

  // Only the second article is unread.
  std::string unread;
  PutInt32(unread, 1);
  PutDigestHex(unread, kId2);
  WriteHostFile(Host(CombinePath(data, u"unread.bin")), unread);

  // Article properties: a plain record for the first article, a compressed one
  // for the second.
  std::string plain;
  PutInt32(plain, 0);
  PutMap(plain, {{"link", "http://feeds.test/1"}, {"text", "Hello"}});
  std::string map2;
  PutMap(map2, {{"text", std::string(400, 'z')}});
  uLongf packedSize = compressBound(map2.size());
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&packed[0]), &packedSize,
                     reinterpret_cast<const Bytef*>(map2.data()), map2.size()),
            Z_OK);
  packed.resize(packedSize);
  std::string compressed;
  PutInt32(compressed, static_cast<std::uint32_t>(map2.size()));
  compressed += packed;
  const std::string bank = "garbage" + plain + compressed;
  WriteHostFile(Host(CombinePath(data, u"data.bin")), bank);
  std::string index;
  PutInt32(index, 0x3149424F);  // "OBI1"
  PutInt32(index, 2);
  PutDigestHex(index, kId1);
  PutInt32(index, 7);
  PutInt32(index, static_cast<std::uint32_t>(plain.size()));
  PutDigestHex(index, kId2);
  PutInt32(index, static_cast<std::uint32_t>(7 + plain.size()));
  PutInt32(index, static_cast<std::uint32_t>(compressed.size()));
  WriteHostFile(Host(CombinePath(data, u"dataidx.bin")), index);

  CChannelSet set;
  ASSERT_TRUE(set.Open());
  ASSERT_EQ(set.GetCount(), 1);
  EXPECT_FALSE(set.HadUnreadableFile());
  IChannel* channel = set.GetAt(0);
  EXPECT_EQ(channel->GetName(), u"News: Tech");
  EXPECT_FALSE(channel->IsOldFormat());
  EXPECT_EQ(channel->GetUpdateStatus(), 4u);
  EXPECT_EQ(channel->GetProperties().at(kPropUrl), u"http://feeds.test/tech");
  EXPECT_EQ(channel->GetProperties().at(kPropType), u"@RSS");
  EXPECT_EQ(channel->GetThumbnail(), u"http://img.test/logo.png");
  EXPECT_EQ(channel->GetThumbnailFile(), CombinePath(data, u"bin\\logo.png"));
  IChannelOptions* o = channel->GetOptions();
  EXPECT_EQ(o->GetUseDefaultDownloadOptions(), 0);
  EXPECT_EQ(o->GetUseDefaultLimits(), 0);
  EXPECT_EQ(o->GetManualArticlesUpdate(), 1);
  EXPECT_EQ(o->GetDisableImagesInArticles(), 0);
  EXPECT_EQ(o->GetArticlesAgeLimitEnabled(), 0);
  EXPECT_EQ(o->GetArticlesAgeLimit(), 30);
  EXPECT_EQ(o->GetArticlesCountLimitEnabled(), 1);
  EXPECT_EQ(o->GetArticlesCountLimit(), 100);
  EXPECT_EQ(channel->GetUnreadCount(), 1);

  channel->Acquire(this);
  IArticleSet* articles = channel->GetArticleSet();
  ASSERT_EQ(articles->GetCount(), 3);
  IArticle* first = articles->FindById(U(kId1));
  IArticle* second = articles->FindById(U(kId2));
  IArticle* tomb = articles->FindById(U(kId3));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(tomb, nullptr);
  EXPECT_EQ(first->GetTitle(), u"First story");
  EXPECT_EQ(first->GetImageUrl(), u"http://img.test/a.jpg");
  EXPECT_EQ(first->GetOrder(), 500u);
  EXPECT_EQ(second->GetTitle(), u"Second story");
  EXPECT_EQ(second->GetUpdateStatus(), 2u);  // a stored 0 reads as waiting
  EXPECT_TRUE(tomb->IsDeleted());
  plat::FILETIME date{};
  ASSERT_TRUE(first->GetDate(date));
  EXPECT_EQ(plat::FileTimeToULL(date), kDate1);
  EXPECT_TRUE(channel->IsArticleRead(first));
  EXPECT_FALSE(channel->IsArticleRead(second));
  // Both binaries are used (one by an article, one as the channel image).
  EXPECT_NE(channel->GetBinarySet()->Lookup(u"http://img.test/a.jpg"), nullptr);
  EXPECT_NE(channel->GetBinarySet()->Lookup(u"http://img.test/logo.png"), nullptr);
  CStringToStringMap props;
  ASSERT_TRUE(channel->GetArticleProperties(first, props));
  EXPECT_EQ(props, (CStringToStringMap{{u"link", u"http://feeds.test/1"}, {u"text", u"Hello"}}));
  ASSERT_TRUE(channel->GetArticleProperties(second, props));
  EXPECT_EQ(props, (CStringToStringMap{{u"text", std::u16string(400, u'z')}}));
  // The order counter continues above the highest order read.
  EXPECT_EQ(static_cast<CChannel*>(channel)->GetOrderCounter(), 1700u);
  channel->Release(this, false);
  EXPECT_EQ(ReadHostFile(Host(CombinePath(data, u"headers.bin"))), headers) << "nothing changed, nothing written";
}

TEST_F(ChannelFileTest, SavedChannelFileHasTheStoredLayout) {
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  IChannel* channel = set.Add(u"Tech/Daily. News");
  ASSERT_NE(channel, nullptr);
  const std::string path = ContentHost(u"Tech%2FDaily%2E News.cnl");
  ASSERT_TRUE(HostExists(path));
  // A new channel: never updated, following the defaults, no properties.
  std::string fresh;
  PutInt32(fresh, kMagicOBC1);
  PutInt32(fresh, 7);
  ASSERT_GE(ReadHostFile(path).size(), 22u);
  EXPECT_EQ(ReadHostFile(path).substr(0, 8), fresh);
  EXPECT_EQ(ReadHostFile(path).substr(8, 1), std::string(1, '\1'));  // use default download options
  EXPECT_EQ(ReadHostFile(path).substr(11, 1), std::string(1, '\1'));  // use default limits
  EXPECT_EQ(ReadHostFile(path).substr(22), std::string(4, '\0'));

  channel->SetProperties({{u"@url", u"http://feeds.test/daily"}, {u"@type", u"@RSS"}, {u"note", u"ß€"}});
  ChannelOptionsRecord record;
  record.manualArticlesUpdate = 1;
  record.disableImagesInArticles = 0;
  record.articlesAgeLimitEnabled = 1;
  record.articlesAgeLimit = 14;
  record.articlesCountLimitEnabled = 1;
  record.articlesCountLimit = 250;
  channel->GetOptions()->SetUseDefaultDownloadOptions(0);
  channel->GetOptions()->SetUseDefaultLimits(0);
  channel->GetOptions()->SetAll(record);
  channel->SetUpdateState(US_UP_TO_DATE);

  OptionsBytes options;
  options.manual = 1;
  options.ageEnabled = 1;
  options.ageLimit = 14;
  options.countEnabled = 1;
  options.countLimit = 250;
  const std::string expected = ChannelFileBytes(
      kMagicOBC1, 6, options, {{"@type", "@RSS"}, {"@url", "http://feeds.test/daily"}, {"note", "\xC3\x9F\xE2\x82\xAC"}});
  EXPECT_EQ(ReadHostFile(path), expected);
  EXPECT_FALSE(static_cast<CChannel*>(channel)->IsChannelFileDirty());
}

struct LoadCase {
  const char* what;
  std::string bytes;
  bool loads;
  bool unreadable;
  std::uint32_t state;  // when it loads
  bool oldFormat;
};

TEST_F(ChannelFileTest, LoadingStoredFilesOfEveryKind) {
  OptionsBytes o;
  const std::map<std::string, std::string> props{{"@url", "http://x.test/"}};
  const std::string good = ChannelFileBytes(kMagicOBC1, 6, o, props);
  const LoadCase cases[] = {
      {"current", good, true, false, 6, false},
      {"legacy first word", ChannelFileBytes(16, 6, o, props), true, false, 6, true},
      {"stored updating", ChannelFileBytes(kMagicOBC1, 0, o, props), true, false, 2, false},
      {"state past the last", ChannelFileBytes(kMagicOBC1, 9, o, props), true, false, 6, false},
      {"failed stays failed", ChannelFileBytes(kMagicOBC1, 4, o, props), true, false, 4, false},
      {"another magic", ChannelFileBytes(0x3143424E, 6, o, props), false, true, 0, false},
      {"magic only", good.substr(0, 4), false, false, 0, false},
      {"cut in the options", good.substr(0, 15), false, false, 0, false},
      {"cut in the properties", good.substr(0, good.size() - 3), false, false, 0, false},
      {"empty", std::string(), false, false, 0, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string name = u"case" + plat::Utf8ToUtf16(std::to_string(n++));
    const std::u16string file = CombinePath(kTestContent, name + u".cnl");
    const std::u16string data = CombinePath(kTestContent, name);
    WriteHostFile(Host(file), c.bytes);
    ASSERT_TRUE(CreateFolderTree(data));
    WriteHostFile(Host(CombinePath(data, u"headers.bin")), "kept");

    CChannel channel;
    EXPECT_EQ(channel.OpenFromFile(file), c.loads);
    EXPECT_EQ(channel.HadUnreadableFile(), c.unreadable);
    if (c.loads) {
      EXPECT_EQ(channel.GetName(), name);
      EXPECT_EQ(channel.GetOwnUpdateState(), c.state);
      EXPECT_EQ(channel.IsOldFormat(), c.oldFormat);
      EXPECT_EQ(channel.GetProperties().at(kPropUrl), u"http://x.test/");
      EXPECT_FALSE(channel.IsChannelFileDirty());
    }
    // Nothing is deleted, whatever the file held.
    EXPECT_EQ(ReadHostFile(Host(file)), c.bytes);
    EXPECT_EQ(ReadHostFile(Host(CombinePath(data, u"headers.bin"))), "kept");
  }
}

TEST_F(ChannelFileTest, FilePathsThatAreNoChannelFile) {
  WriteHostFile(ContentHost(u"plain.txt"), ChannelFileBytes(kMagicOBC1, 6, {}, {}));
  WriteHostFile(ContentHost(u".cnl"), ChannelFileBytes(kMagicOBC1, 6, {}, {}));
  const std::u16string paths[] = {
      CombinePath(kTestContent, u"plain.txt"),
      CombinePath(kTestContent, u".cnl"),
      CombinePath(kTestContent, u"missing.cnl"),
  };
  for (const auto& path : paths) {
    CChannel channel;
    EXPECT_FALSE(channel.SetPaths(path, u"")) << plat::Utf16ToUtf8(path);
  }
  CChannel both;
  EXPECT_FALSE(both.SetPaths(CombinePath(kTestContent, u"plain.txt"), u"name"));
  EXPECT_FALSE(both.SetPaths(u"", u""));
}

}  // namespace
