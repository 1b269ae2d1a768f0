// Script channels in the process's channel set, their templates on the test's
// device, pages on a loopback server, and the debug log read back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/update/ChannelTestSupport.h"
#include "tests/update/InetTestSupport.h"

namespace orvtest {

inline std::string ScriptFixture(const std::string& name) {
  return ReadHostFile((std::filesystem::path(ORV_UPDATE_TEST_DATA) / "scripts" / name).string());
}

inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A template with one channel "News" whose scripts are given.
inline std::string MakeTemplate(const std::string& parseChannel, const std::string& parseArticle = "",
                                const std::string& channelExtra = "") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<template>\n";
  xml += "<parse_channel><![CDATA[" + parseChannel + "]]></parse_channel>\n";
  if (!parseArticle.empty()) xml += "<parse_article><![CDATA[" + parseArticle + "]]></parse_article>\n";
  xml += "<channel" + channelExtra + "><name>News</name></channel>\n</template>\n";
  return xml;
}

struct StoredScriptArticle {
  bool found = false;
  bool deleted = false;
  bool read = false;
  std::u16string title;
  std::uint64_t date = 0;
  std::uint32_t state = 0;     // combined status
  std::uint32_t ownState = 0;  // the article's own state
  std::u16string secondDigest;
  CStringToStringMap properties;
  CStringSet binaries;
};

class ScriptChannelTest : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
    ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
    manager_->GetWinInet().SetTimeout(3000);
    session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
    ASSERT_TRUE(session_->WaitForConnection());
    ASSERT_TRUE(CreateFolderTree(u"\\Content"));
    ASSERT_TRUE(CreateFolderTree(u"\\Templates"));
    ASSERT_TRUE(GetGlobalOptions().SetContentFolder(u"\\Content", u""));
    GetGlobalOptions().SetRSSReportingAllowed(0);
    GetGlobalOptions().SetStartUpdateForAddedChannels(0);
    ASSERT_TRUE(GetChannelSet()->Open());
  }
  void TearDown() override {
    GetChannelSet()->RemoveAll();
    InetTest::TearDown();
  }

  std::string Base() const { return server_.Url(""); }

  // Writes a template file on the device; its device path.
  std::u16string WriteTemplate(const std::string& fileName, const std::string& xml) {
    std::u16string path = u"\\Templates\\" + plat::Utf8ToUtf16(fileName);
    WriteHostFile(plat::HostPathFromDevicePath(path), Replaced(xml, "BASE", Base()));
    return path;
  }

  // A script channel named name of the template file's channel "News".
  IChannel* AddScriptChannel(const std::u16string& name, const std::u16string& templatePath,
                             const std::u16string& templateChannel = u"News") {
    return AddUnlimitedChannel(name, u"file://" + templatePath + u"?name=" + templateChannel, kChannelTypeScript);
  }

  std::uint32_t Status(IUpdateItem* item) {
    CSyncLock lock(GetChannelSet());
    return item->GetUpdateStatus();
  }
  std::u16string Property(IChannel* channel, const std::u16string& name) {
    CSyncLock lock(GetChannelSet());
    auto found = channel->GetProperties().find(name);
    return found == channel->GetProperties().end() ? u"<none>" : found->second;
  }
  int ArticleCount(IChannel* channel) {
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    int count = channel->GetArticleSet()->GetCount();
    channel->Release(this, false);
    return count;
  }

  // The article whose key is the id text itself (a digest) or its digest.
  StoredScriptArticle Article(IChannel* channel, const std::u16string& idText) {
    StoredScriptArticle out;
    CSyncLock lock(GetChannelSet());
    channel->Acquire(this);
    std::u16string key = idText.size() == 32 ? idText : GetMd5Hex(idText);
    IArticle* article = channel->GetArticleSet()->FindById(key);
    if (article) {
      out.found = true;
      out.deleted = article->IsDeleted();
      out.read = channel->IsArticleRead(article);
      out.title = article->GetTitle();
      plat::FILETIME date{};
      if (article->GetDate(date)) out.date = plat::FileTimeToULL(date);
      out.state = article->GetUpdateStatus();
      if (auto* item = dynamic_cast<CUpdateItem*>(article)) out.ownState = item->GetOwnUpdateState();
      out.secondDigest = article->GetSecondDigest();
      channel->GetArticleProperties(article, out.properties);
      article->GetBinaries()->CopyEntries(out.binaries);
    }
    channel->Release(this, false);
    return out;
  }

  static std::vector<std::string> LogLines() {
    std::string host = plat::HostPathFromDevicePath(CDebugLog::GetInstance().GetPath());
    std::istringstream in(ReadHostFile(host));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  static bool LogHas(const std::string& text) {
    for (const std::string& line : LogLines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  HttpTestServer server_;
};

}  // namespace orvtest
