// Channels of the process's channel set updated by feed jobs over a loopback
// server, and helpers that read them back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/update/ChannelTestSupport.h"
#include "tests/update/InetTestSupport.h"

namespace orvtest {

inline std::string FeedFixture(const std::string& name) {
  return ReadHostFile((std::filesystem::path(ORV_UPDATE_TEST_DATA) / "feeds" / name).string());
}

inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

inline std::uint64_t UtcTicks(int year, int month, int day, int hour, int minute) {
  plat::SYSTEMTIME st{};
  st.wYear = static_cast<plat::WORD>(year);
  st.wMonth = static_cast<plat::WORD>(month);
  st.wDay = static_cast<plat::WORD>(day);
  st.wHour = static_cast<plat::WORD>(hour);
  st.wMinute = static_cast<plat::WORD>(minute);
  plat::FILETIME ft{};
  plat::SystemTimeToFileTime(&st, &ft);
  return plat::FileTimeToULL(ft);
}

// One article as read back from its channel.
struct StoredArticle {
  bool found = false;
  bool deleted = false;
  std::u16string title;
  std::uint64_t date = 0;
  std::uint32_t state = 0;
  std::u16string image;
  CStringToStringMap properties;
  CStringSet binaries;
};

class FeedTest : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(ConnectSession());
    ASSERT_TRUE(CreateFolderTree(u"\\Content"));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(u"\\Content", u""));
    ASSERT_TRUE(GetChannelSet()->Open());
  }
  void TearDown() override {
    GetChannelSet()->RemoveAll();
    InetTest::TearDown();
  }

  std::string Base() const { return server_.Url(""); }
  // Serves a fixture with "{{BASE}}" replaced by the server's address.
  void ServeFeed(const std::string& path, const std::string& fixture,
                 const std::string& type = "text/xml; charset=utf-8") {
    server_.Serve(path, ReplaceAll(FeedFixture(fixture), "{{BASE}}", Base()), type);
  }

  // A feed channel of that address with no age or count limit.
  IChannel* AddChannel(const std::u16string& name, const std::u16string& address,
                       const std::u16string& type = kChannelTypeRss) {
    return AddUnlimitedChannel(name, address, type);
  }
  IChannel* AddFeed(const std::u16string& name, const std::string& path) {
    return AddChannel(name, plat::Utf8ToUtf16(server_.Url(path)));
  }

  // Drops every channel from memory and loads the content folder again, so
  // what follows reads the files.
  IChannel* Reload(const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveAll();
    // The set loads a folder when it is not the one it holds: away and back.
    EXPECT_TRUE(GetGlobalOptions().SetContentFolder(u"\\Elsewhere", u""));
    EXPECT_TRUE(GetChannelSet()->Open());
    EXPECT_TRUE(GetGlobalOptions().SetContentFolder(u"\\Content", u""));
    EXPECT_TRUE(GetChannelSet()->Open());
    IChannel* channel = GetChannelSet()->FindByName(name);
    EXPECT_NE(channel, nullptr);
    return channel;
  }

  StoredArticle Article(IChannel* channel, const std::u16string& idText) {
    StoredArticle out;
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    IArticle* article = channel->GetArticleSet()->FindById(GetMd5Hex(idText));
    if (article != nullptr) {
      out.found = true;
      out.deleted = article->IsDeleted();
      out.title = article->GetTitle();
      plat::FILETIME date{};
      if (article->GetDate(date)) out.date = plat::FileTimeToULL(date);
      out.state = article->GetUpdateStatus();
      out.image = article->GetImageUrl();
      channel->GetArticleProperties(article, out.properties);
      article->GetBinaries()->CopyEntries(out.binaries);
    }
    channel->Release(this, false);
    return out;
  }

  std::u16string Property(IChannel* channel, const std::u16string& key) {
    CSyncLock lock(GetChannelSet());
    const CStringToStringMap& properties = channel->GetProperties();
    auto it = properties.find(key);
    return it == properties.end() ? std::u16string(u"<none>") : it->second;
  }

  std::uint32_t Status(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    return channel->GetUpdateStatus();
  }

  std::u16string U(const std::string& text) const { return plat::Utf8ToUtf16(text); }
  std::u16string Url(const std::string& path) const { return U(server_.Url(path)); }

  HttpTestServer server_;
};

}  // namespace orvtest
