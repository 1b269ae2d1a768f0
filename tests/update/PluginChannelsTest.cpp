#include "update/script/PluginChannels.h"

#include <gtest/gtest.h>

#include "tests/update/ScriptTestSupport.h"
#include "update/tidy/TidyDocument.h"

namespace {

using orvtest::ScriptFixture;

struct SplitCase {
  const char16_t* address;
  bool ok;
  const char16_t* scheme;
  const char16_t* templatePart;
  const char16_t* name;
};

const SplitCase kSplitCases[] = {
    {u"http://example.com/t.xml?name=  My channel \t", true, u"http", u"example.com/t.xml", u"My channel"},
    {u"FILE://\\Templates\\a.xml?name=News", true, u"FILE", u"\\Templates\\a.xml", u"News"},
    {u"http://h/t.php?x=1?name=A?name=B", true, u"http", u"h/t.php?x=1", u"A?name=B"},
    {u"http://example.com/t.xml", false, u"", u"", u""},
    {u"http://example.com/t.xml?name=   ", false, u"", u"", u""},
    {u"example.com/t.xml?name=A", false, u"", u"", u""},
    {u"?name=A://x", false, u"", u"", u""},
    {u"", false, u"", u"", u""},
};

TEST(PluginChannelAddress, SplitsIntoSchemeTemplateAndTrimmedName) {
  for (const SplitCase& c : kSplitCases) {
    std::u16string scheme, templatePart, name;
    SCOPED_TRACE(plat::Utf16ToUtf8(c.address));
    ASSERT_EQ(CPluginChannels::SplitChannelAddress(c.address, scheme, templatePart, name), c.ok);
    EXPECT_EQ(CPluginChannels::GetChannelName(c.address), c.name);
    if (!c.ok) continue;
    EXPECT_EQ(scheme, c.scheme);
    EXPECT_EQ(templatePart, c.templatePart);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(CPluginChannels::BuildChannelAddress(scheme, templatePart, name),
              scheme + u"://" + templatePart + u"?name=" + name);
  }
}

class PluginChannelsTest : public orvtest::ScriptChannelTest {
 protected:
  CPluginChannels& plugins_ = CPluginChannels::GetInstance();

  std::u16string FileAddress(const std::u16string& path, const std::u16string& name) {
    return CPluginChannels::BuildChannelAddress(u"file", path, name);
  }
};

TEST_F(PluginChannelsTest, ReadsTemplateAndChannelProperties) {
  std::u16string path = WriteTemplate(
      "props.xml",
      "<?xml version=\"1.0\"?>\n<!-- channels of the test -->\n<template>"
      "<parse_channel>var a = 1;</parse_channel><parse_channel><![CDATA[ if (a < 2) a = 2;]]></parse_channel>"
      "<url>http://site.example/news/index.html?x=1</url>"
      "<channel id=\"7\" type=\"\"><name> First </name><language>en</language><channel><name>First</name>"
      "<nested>yes</nested></channel></channel>"
      "<channel><name>Second</name><language>de</language><secret>no</secret></channel>"
      "<channel><language>fr</language></channel>"
      "<feed><name>First</name><language>xx</language></feed>"
      "</template>");

  CStringToStringMap properties{{u"stale", u"1"}};
  ASSERT_EQ(plugins_.LoadTemplate(FileAddress(path, u"First"), properties, nullptr), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(properties[u"parse_channel"], u"var a = 1; if (a < 2) a = 2;") << "two elements joined";
  EXPECT_EQ(properties[u"language"], u"en");
  EXPECT_EQ(properties[u"channel#id"], u"7");
  EXPECT_EQ(properties[u"channel#type"], u"");
  EXPECT_EQ(properties[u"name"], u"FirstFirst") << "the nested channel of the same name is read too";
  EXPECT_EQ(properties[u"nested"], u"yes");
  EXPECT_EQ(properties[u"thumbnail"], u"http://site.example/favicon.ico");
  EXPECT_EQ(properties.count(u"secret"), 0u);
  EXPECT_EQ(properties.count(u"stale"), 0u);
  EXPECT_EQ(properties[u"feed"], u"First xx") << "an element of another name is a property";

  ASSERT_EQ(plugins_.LoadTemplate(FileAddress(path, u"Missing"), properties, nullptr), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(properties.count(u"language"), 0u) << "only the template's own properties";
  EXPECT_EQ(properties.count(u"parse_channel"), 1u);

  CStringList addresses, names;
  ASSERT_TRUE(plugins_.EnumTemplateChannels(path, addresses, names));
  EXPECT_EQ(names, (CStringList{u"First", u"Second"}));
  EXPECT_EQ(addresses, (CStringList{FileAddress(path, u"First"), FileAddress(path, u"Second")}));
}

TEST_F(PluginChannelsTest, TemplateWithOwnThumbnailKeepsIt) {
  std::u16string path = WriteTemplate("thumb.xml",
                                      "<?xml version=\"1.0\"?><template><url>http://a.example/x</url>"
                                      "<thumbnail>http://a.example/logo.png</thumbnail></template>");
  CStringToStringMap properties;
  ASSERT_EQ(plugins_.LoadTemplate(FileAddress(path, u"X"), properties, nullptr), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(properties[u"thumbnail"], u"http://a.example/logo.png");
}

TEST_F(PluginChannelsTest, LoadFailures) {
  std::u16string path = WriteTemplate("ok.xml", "<?xml version=\"1.0\"?><template><a>1</a></template>");
  std::u16string wrongRoot = WriteTemplate("root.xml", "<?xml version=\"1.0\"?><channels><a>1</a></channels>");
  struct Case {
    std::u16string address;
    int result;
  } cases[] = {
      {u"", CPluginChannels::kTemplateFailed},
      {u"file://" + path, CPluginChannels::kTemplateFailed},
      {u"ftp://" + path + u"?name=A", CPluginChannels::kTemplateFailed},
      {FileAddress(u"\\Templates\\absent.xml", u"A"), CPluginChannels::kTemplateNotFound},
      {FileAddress(u"", u"A"), CPluginChannels::kTemplateNotFound},
      {FileAddress(path, u"A"), CPluginChannels::kTemplateLoaded},
      {FileAddress(wrongRoot, u"A"), CPluginChannels::kTemplateLoaded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.address));
    CStringToStringMap properties{{u"kept", u"1"}};
    EXPECT_EQ(plugins_.LoadTemplate(c.address, properties, session_.get()), c.result);
    if (c.result != CPluginChannels::kTemplateLoaded) {
      EXPECT_EQ(properties.count(u"kept"), 1u);
    }
  }
  CStringToStringMap properties;
  plugins_.LoadTemplate(FileAddress(wrongRoot, u"A"), properties, nullptr);
  EXPECT_TRUE(properties.empty()) << "a document whose root is not a template holds nothing";

  CStringList addresses{u"old"}, names{u"old"};
  EXPECT_FALSE(plugins_.EnumTemplateChannels(u"\\Templates\\absent.xml", addresses, names));
  EXPECT_TRUE(addresses.empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(PluginChannelsTest, DownloadsHttpTemplatesWithPingOnlyWhenReportingIsAllowed) {
  const std::string xml = "<?xml version=\"1.0\"?><template><channel><name>N</name><p>v</p></channel></template>";
  server_.Serve("/t.xml", xml, "text/xml");
  server_.Serve("/t.php", xml, "text/xml");
  std::string host = server_.Url("").substr(std::string("http://").size());
  auto address = [&](const std::string& part) {
    return CPluginChannels::BuildChannelAddress(u"http", plat::Utf8ToUtf16(host + part), u"N");
  };
  auto lastTarget = [&] { return server_.Requests().back().target; };

  CStringToStringMap properties;
  ASSERT_EQ(plugins_.LoadTemplate(address("/t.xml"), properties, session_.get()), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(properties[u"p"], u"v");
  EXPECT_EQ(lastTarget(), "/t.xml");

  GetGlobalOptions().SetRSSReportingAllowed(1);
  ASSERT_EQ(plugins_.LoadTemplate(address("/t.xml"), properties, session_.get()), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(lastTarget(), "/t.xml?ping=1");
  ASSERT_EQ(plugins_.LoadTemplate(address("/t.php?id=3"), properties, session_.get()),
            CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(lastTarget(), "/t.php?id=3&ping=1");

  EXPECT_EQ(plugins_.LoadTemplate(address("/none.xml"), properties, session_.get()),
            CPluginChannels::kTemplateNotFound);
  EXPECT_EQ(properties[u"p"], u"v") << "a failed load changes nothing";
}

TEST_F(PluginChannelsTest, ApplyingTemplateProperties) {
  IChannel* channel = AddScriptChannel(u"Applied", u"\\Templates\\x.xml");
  ASSERT_NE(channel, nullptr);
  CSyncLock lock(GetChannelSet());
  channel->SetProperty(u"thumbnail", u"http://own/icon.png");
  channel->SetProperty(u"parse_article", u"old article script");
  channel->SetProperty(u"parse_channel", u"old channel script");
  channel->SetProperty(u"mine", u"kept");

  CStringToStringMap templ{{u"thumbnail", u"http://template/icon.png"},
                           {u"parse_channel", u"new channel script"},
                           {u"language", u"en"}};
  plugins_.ApplyTemplateProperties(channel, templ, false);
  EXPECT_EQ(channel->GetProperties().at(u"thumbnail"), u"http://own/icon.png");
  EXPECT_EQ(channel->GetProperties().at(u"parse_article"), u"old article script") << "kept without the flag";
  EXPECT_EQ(channel->GetProperties().at(u"parse_channel"), u"new channel script");

  plugins_.ApplyTemplateProperties(channel, templ, true);
  EXPECT_EQ(channel->GetProperties().count(u"parse_article"), 0u);
  EXPECT_EQ(channel->GetProperties().at(u"language"), u"en");
  EXPECT_EQ(channel->GetProperties().at(u"mine"), u"kept");
  EXPECT_EQ(channel->GetProperties().at(u"@type"), u"@Ridudo");

  plugins_.ApplyTemplateProperties(channel, {{u"parse_article", u"a"}}, true);
  EXPECT_EQ(channel->GetProperties().count(u"parse_channel"), 0u);
  EXPECT_EQ(channel->GetProperties().at(u"parse_article"), u"a");
}

TEST_F(PluginChannelsTest, CreatesFeedAndScriptChannels) {
  IChannel* feed = plugins_.CreateChannel(u"A feed", u"http://feeds.example/rss.xml", true);
  ASSERT_NE(feed, nullptr);
  IChannel* script = plugins_.CreateChannel(u"A script", u"file://\\Templates\\s.xml", false);
  ASSERT_NE(script, nullptr);
  IChannel* named = plugins_.CreateChannel(u"Named", u"file://\\Templates\\s.xml?name=Other", false);
  ASSERT_NE(named, nullptr);
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(feed->GetProperties().at(u"@url"), u"http://feeds.example/rss.xml");
  EXPECT_EQ(feed->GetProperties().at(u"@type"), u"@RSS");
  EXPECT_EQ(script->GetProperties().at(u"@url"), u"file://\\Templates\\s.xml?name=A script");
  EXPECT_EQ(script->GetProperties().at(u"@type"), u"@Ridudo");
  EXPECT_EQ(named->GetProperties().at(u"@url"), u"file://\\Templates\\s.xml?name=Other");
  EXPECT_EQ(CPluginChannels::GetChannelUrl(named), u"file://\\Templates\\s.xml?name=Other");
  EXPECT_EQ(CPluginChannels::GetChannelUrl(nullptr), u"");
  EXPECT_EQ(GetChannelSet()->FindByName(u"A script"), script);

  EXPECT_EQ(plugins_.CreateChannel(u"A feed", u"http://other", true), nullptr) << "the name is taken";
  EXPECT_EQ(plugins_.CreateChannel(u"", u"http://other", true), nullptr);
  EXPECT_EQ(plugins_.CreateChannel(u"Empty", u"", true), nullptr);
  EXPECT_EQ(GetChannelSet()->GetCount(), 3);
}

TEST_F(PluginChannelsTest, ProgramTemplatesFolderListsItsChannels) {
  std::u16string folder = GetGlobalOptions().GetTemplatesFolder();
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(CreateFolderTree(folder));
  std::u16string path = folder + u"\\site.xml";
  orvtest::WriteHostFile(plat::HostPathFromDevicePath(path), ScriptFixture("site.xml"));
  CStringList addresses, names;
  ASSERT_TRUE(plugins_.EnumTemplateChannels(path, addresses, names));
  EXPECT_EQ(names, (CStringList{u"News", u"Sport"}));
  CStringToStringMap properties;
  ASSERT_EQ(plugins_.LoadTemplate(addresses[1], properties, nullptr), CPluginChannels::kTemplateLoaded);
  EXPECT_EQ(properties[u"section"], u"sport");
}

}  // namespace
