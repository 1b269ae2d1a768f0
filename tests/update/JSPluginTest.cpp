#include "update/script/JSPlugin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/Wait.h"
#include "tests/update/ScriptTestSupport.h"
#include "update/jobs/BinaryJob.h"
#include "update/script/ChannelJob.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdateManager.h"
#include "update/jobs/UpdatersManager.h"

namespace {

enum class Expect { None, Feed0, Feed1, Script };

struct SelectionCase {
  const char* name;
  const char16_t* type;          // "@type"; null: absent
  const char16_t* templateType;  // "channel#type"; null: absent
  Expect job;
};

const SelectionCase kCases[] = {
    {"Rss", u"@RSS", nullptr, Expect::Feed0},
    {"RssAnyCase", u"@rSs", nullptr, Expect::Feed0},
    {"RssWithTemplateType", u"@RSS", u"RSS", Expect::Feed0},
    {"ScriptWithTemplateFeed", u"@Ridudo", u"rss", Expect::Feed1},
    {"UntypedWithTemplateFeed", nullptr, u"RSS", Expect::Feed1},
    {"OtherTypeWithTemplateFeed", u"@Other", u"RSS", Expect::Feed1},
    {"Script", u"@Ridudo", nullptr, Expect::Script},
    {"ScriptAnyCase", u"@RIDUDO", u"Atom", Expect::Script},
    {"EmptyType", u"", nullptr, Expect::Script},
    {"NoType", nullptr, nullptr, Expect::Script},
    {"OtherType", u"@Other", nullptr, Expect::None},
    {"RssWithoutAt", u"RSS", nullptr, Expect::None},
};

class JSPluginTest : public orvtest::ScriptChannelTest {
 protected:
  IChannel* Channel(const std::u16string& name, const char16_t* type, const char16_t* templateType) {
    CSyncLock lock(GetChannelSet());
    IChannel* channel = GetChannelSet()->Add(name);
    EXPECT_NE(channel, nullptr);
    CStringToStringMap properties{{u"@url", u"http://example.invalid/feed"}};
    if (type) properties[u"@type"] = type;
    if (templateType) properties[u"channel#type"] = templateType;
    channel->SetProperties(properties);
    return channel;
  }
};

TEST_F(JSPluginTest, ChoosesTheChannelJobByType) {
  int index = 0;
  for (const SelectionCase& c : kCases) {
    SCOPED_TRACE(c.name);
    IChannel* channel = Channel(u"Channel " + plat::Utf8ToUtf16(std::to_string(index++)), c.type, c.templateType);
    ASSERT_NE(channel, nullptr);
    CSyncLock lock(GetChannelSet());
    std::unique_ptr<CUpdateJob> job(CJSPlugin::GetInstance()->CreateJob(channel));
    switch (c.job) {
      case Expect::None:
        EXPECT_EQ(job, nullptr);
        break;
      case Expect::Feed0:
      case Expect::Feed1: {
        auto* feed = dynamic_cast<CRSSChannelJob*>(job.get());
        ASSERT_NE(feed, nullptr);
        EXPECT_EQ(feed->GetPluginRss(), c.job == Expect::Feed1 ? 1 : 0);
        EXPECT_EQ(job->GetItem(), static_cast<IUpdateItem*>(channel));
        break;
      }
      case Expect::Script:
        ASSERT_NE(dynamic_cast<CChannelJob*>(job.get()), nullptr);
        EXPECT_EQ(dynamic_cast<CArticleJob*>(job.get()), nullptr);
        EXPECT_EQ(job->GetItem(), static_cast<IUpdateItem*>(channel));
        break;
    }
  }
}

TEST_F(JSPluginTest, ArticlesBinariesAndOtherItems) {
  IChannel* channel = Channel(u"Items", u"@Other", nullptr);
  CSyncLock lock(GetChannelSet());
  channel->Acquire(this);
  plat::FILETIME noDate{};
  IArticle* article = channel->CreateArticle(GetMd5Hex(u"a"), US_WAITING, noDate);
  ASSERT_NE(article, nullptr);
  article->GetBinaries()->AddUrl(u"http://example.invalid/a.png");
  IBinary* binary = article->GetBinaries()->Lookup(u"http://example.invalid/a.png");
  ASSERT_NE(binary, nullptr);

  // Articles and binaries get their jobs whatever the channel's type.
  std::unique_ptr<CUpdateJob> articleJob(CJSPlugin::GetInstance()->CreateJob(article));
  ASSERT_NE(dynamic_cast<CArticleJob*>(articleJob.get()), nullptr);
  EXPECT_EQ(articleJob->GetItem(), static_cast<IUpdateItem*>(article));
  std::unique_ptr<CUpdateJob> binaryJob(CJSPlugin::GetInstance()->CreateJob(binary));
  ASSERT_NE(dynamic_cast<CBinaryJob*>(binaryJob.get()), nullptr);

  EXPECT_EQ(CJSPlugin::GetInstance()->CreateJob(nullptr), nullptr);
  EXPECT_EQ(CJSPlugin::GetInstance()->CreateJob(GetChannelSet()), nullptr);
  EXPECT_EQ(CJSPlugin::GetInstance()->CreateJob(article->GetBinaries()), nullptr);
  articleJob.reset();
  binaryJob.reset();
  channel->Release(this, false);
}

TEST_F(JSPluginTest, RegisteredOnceInTheUpdatersRegistry) {
  IChannel* channel = Channel(u"Registered", u"@Ridudo", nullptr);
  CUpdatersManager& registry = CUpdatersManager::GetInstance();
  EXPECT_EQ(CJSPlugin::GetInstance(), CJSPlugin::GetInstance());
  RegisterScriptUpdater();
  RegisterScriptUpdater();
  int listed = 0;
  for (int i = 0; i < registry.GetCount(); ++i) listed += registry.GetAt(i) == CJSPlugin::GetInstance();
  EXPECT_EQ(listed, 1);
  {
    CSyncLock lock(GetChannelSet());
    std::unique_ptr<CUpdateJob> job(registry.CreateJob(channel));
    EXPECT_NE(dynamic_cast<CChannelJob*>(job.get()), nullptr);
  }
  UnregisterScriptUpdater();
  for (int i = 0; i < registry.GetCount(); ++i) EXPECT_NE(registry.GetAt(i), CJSPlugin::GetInstance());
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(std::unique_ptr<CUpdateJob>(registry.CreateJob(channel)), nullptr);
}

// The update manager runs the jobs the script updater makes: the channel's
// script adds articles, and each article that waits gets its article job.
TEST_F(JSPluginTest, UpdateManagerRunsScriptChannelAndArticleJobs) {
  server_.Serve("/list.html", orvtest::ScriptFixture("list.html"), "text/html; charset=utf-8");
  server_.Serve("/story1.html", orvtest::ScriptFixture("story1.html"), "text/html; charset=utf-8");
  IChannel* channel = AddScriptChannel(u"Site", WriteTemplate("site.xml", orvtest::ScriptFixture("site.xml")));
  ASSERT_NE(channel, nullptr);
  RegisterScriptUpdater();
  auto updates = std::make_unique<CUpdateManager>(GetChannelSet(), manager_.get());
  auto eventually = [](const std::function<bool()>& condition) { return orvtest::Eventually(condition); };
  std::u16string first = plat::Utf8ToUtf16(server_.Url("/story1.html"));
  std::u16string second = plat::Utf8ToUtf16(server_.Url("/story2.html"));

  {
    CSyncLock lock(GetChannelSet());
    updates->UpdateChannel(channel, 0);
  }
  EXPECT_TRUE(eventually([&] { return Article(channel, second).ownState == US_FAILED; }));
  EXPECT_TRUE(eventually([&] { return !updates->IsUpdating(); }));
  updates->Shutdown_();
  updates.reset();
  UnregisterScriptUpdater();

  EXPECT_EQ(Property(channel, u"title"), u"Orv Test Site");
  // The first story's page was read by its article job; the second has no
  // page, so its script failed.
  orvtest::StoredScriptArticle a = Article(channel, first);
  EXPECT_EQ(a.ownState, US_UP_TO_DATE);
  EXPECT_EQ(a.properties[u"author"], u"Ann Writer");
  EXPECT_EQ(Article(channel, second).ownState, US_FAILED);
  EXPECT_EQ(server_.RequestCount("/story1.html"), 1u);
  EXPECT_EQ(server_.RequestCount("/story2.html"), 1u);
}

}  // namespace
