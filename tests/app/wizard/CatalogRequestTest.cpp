// The catalogue request: composing the address, reading an OPML answer into
// the tree, creating the checked channels, and answers that try to hurt
// (entities, huge and deep documents, foreign schemes, hostile titles).
#include <filesystem>
#include <set>

#include "app/wizard/CatalogRequest.h"
#include "core/Localizer.h"
#include "database/ChannelLanguages.h"
#include "platform/registry/Registry.h"
#include "tests/app/dialogs/DownloadFixture.h"
#include "update/tidy/TidyDocument.h"

namespace apptest {
namespace {

// Downloads through the real dialog, over the test's connection; a failure
// is closed with Done.
class TestCatalogRequest : public CatalogRequest {
 public:
  int downloads = 0;
  int lastResult = 0;
  std::u16string lastCaption;

 protected:
  bool Download(plat::HWND owner, const std::u16string& address, const std::u16string& caption,
                Tidy::Document* document) override {
    ++downloads;
    lastCaption = caption;
    ObservedDialog dialog(address, u"New Channel", caption, document);
    dialog.SetConnectionManager(manager);
    lastResult = static_cast<int>(dialog.Execute(owner));
    return lastResult == DownloadDialog::kResultSuccess;
  }

 public:
  CInetManager* manager = nullptr;
};

// One tree item as the user sees it.
struct Row {
  int depth;
  std::u16string text;
  int image;
  int state;      // 0 no check box, 1 unchecked, 2 checked
  bool hasEntry;  // item data names an entry
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
  return out << r.depth << " '" << plat::Utf16ToUtf8(r.text) << "' image " << r.image << " state " << r.state
             << (r.hasEntry ? " entry" : "");
}

plat::LRESULT HolderProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::u16string Property(const CStringToStringMap& map, const std::u16string& key) {
  auto it = map.find(key);
  return it == map.end() ? u"<none>" : it->second;
}

const std::u16string kCatalogPath = u"/catalog.php";

class CatalogRequestTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    plat::WNDCLASSW wc{};
    if (!plat::GetClassInfoW(nullptr, u"CatalogTestHolder", &wc)) {
      wc.lpfnWndProc = &HolderProc;
      wc.lpszClassName = u"CatalogTestHolder";
      ASSERT_TRUE(plat::RegisterClassW(&wc));
    }
    holder_ = plat::CreateWindowExW(0, u"CatalogTestHolder", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 480, 640,
                                    nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(holder_, nullptr);
    tree_ = plat::CreateWindowExW(0, plat::WC_TREEVIEWW, u"",
                                  plat::WS_CHILD | plat::WS_VISIBLE | plat::TVS_HASBUTTONS | plat::TVS_CHECKBOXES, 0,
                                  0, 480, 600, holder_, nullptr, nullptr, nullptr);
    ASSERT_NE(tree_, nullptr);
    request_.SetTree(tree_);
    request_.manager = manager_.get();
  }
  void TearDown() override {
    if (holder_) plat::DestroyWindow(holder_);
    DownloadTest::TearDown();
  }

  void ServeCatalog(const std::string& opml) {
    server_.Serve(plat::Utf16ToUtf8(kCatalogPath), opml);
    ASSERT_TRUE(OpenSettingsKey().SetString(kOnlineCatalogUrlValue, Url(plat::Utf16ToUtf8(kCatalogPath)).c_str()));
  }
  bool LoadOpml(const std::string& opml, const std::string& path = "/list.opml") {
    server_.Serve(path, opml);
    request_.SetOpmlAddress(Url(path));
    request_.SetSearchText(u"");
    return request_.Load(holder_);
  }

  plat::HTREEITEM Next(plat::HTREEITEM item, plat::WPARAM how) const {
    return reinterpret_cast<plat::HTREEITEM>(
        plat::SendMessageW(tree_, plat::TVM_GETNEXTITEM, how, reinterpret_cast<plat::LPARAM>(item)));
  }
  // Every item in document order with its depth.
  std::vector<std::pair<plat::HTREEITEM, int>> Items() const {
    std::vector<std::pair<plat::HTREEITEM, int>> items;
    std::vector<std::pair<plat::HTREEITEM, int>> pending;
    if (plat::HTREEITEM root = Next(nullptr, plat::TVGN_ROOT)) pending.push_back({root, 0});
    while (!pending.empty()) {
      auto [item, depth] = pending.back();
      pending.pop_back();
      items.push_back({item, depth});
      if (plat::HTREEITEM next = Next(item, plat::TVGN_NEXT)) pending.push_back({next, depth});
      if (plat::HTREEITEM child = Next(item, plat::TVGN_CHILD)) pending.push_back({child, depth + 1});
    }
    return items;
  }
  plat::TVITEMW Info(plat::HTREEITEM item, char16_t* text, int size) const {
    plat::TVITEMW info{};
    info.mask = plat::TVIF_HANDLE | plat::TVIF_TEXT | plat::TVIF_IMAGE | plat::TVIF_STATE | plat::TVIF_PARAM;
    info.hItem = item;
    info.stateMask = plat::TVIS_STATEIMAGEMASK;
    info.pszText = text;
    info.cchTextMax = size;
    plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info));
    return info;
  }
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (auto [item, depth] : Items()) {
      char16_t text[256] = {};
      const plat::TVITEMW info = Info(item, text, 256);
      const bool entry = info.lParam >= 0 && static_cast<std::size_t>(info.lParam) < request_.GetEntryCount();
      rows.push_back({depth, text, info.iImage, static_cast<int>((info.state & plat::TVIS_STATEIMAGEMASK) >> 12),
                      entry});
    }
    return rows;
  }
  // The entry address of the item of that text.
  std::u16string AddressOf(const std::u16string& title) const {
    for (auto [item, depth] : Items()) {
      char16_t text[256] = {};
      const plat::TVITEMW info = Info(item, text, 256);
      if (title == text && info.lParam >= 0) return request_.GetEntryAddress(static_cast<std::size_t>(info.lParam));
    }
    return {};
  }
  void Check(const std::u16string& title) {
    for (auto [item, depth] : Items()) {
      char16_t text[256] = {};
      Info(item, text, 256);
      if (title != text) continue;
      plat::TVITEMW info{};
      info.mask = plat::TVIF_HANDLE | plat::TVIF_STATE;
      info.hItem = item;
      info.state = 2u << 12;
      info.stateMask = plat::TVIS_STATEIMAGEMASK;
      plat::SendMessageW(tree_, plat::TVM_SETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info));
      return;
    }
    ADD_FAILURE() << "no item " << plat::Utf16ToUtf8(title);
  }

  // Every file of the device, as host paths.
  std::set<std::string> DeviceFiles() const {
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(device_.FsRoot())) {
      files.insert(e.path().string());
    }
    return files;
  }
  std::string ContentHostFolder() const {
    std::string host = device_.FsRoot();
    for (char16_t c : contentFolder_) host += c == u'\\' ? '/' : static_cast<char>(c);
    return host;
  }

  static std::string Outline(const std::string& attributes, const std::string& inner = "") {
    return inner.empty() ? "<outline " + attributes + "/>" : "<outline " + attributes + ">" + inner + "</outline>";
  }
  static std::string Opml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><opml version=\"1.1\"><head><title>Catalog</title></head><body>" +
           body + "</body></opml>";
  }

  plat::HWND holder_ = nullptr;
  plat::HWND tree_ = nullptr;
  TestCatalogRequest request_;
};

TEST_F(CatalogRequestTest, AddressesComposeFromTheOpmlAddressOrTheCatalogue) {
  CChannelLanguages().SetSelectedLanguages({u"en", u"zh-cn"});
  const struct {
    const char16_t* opml;
    const char16_t* search;
    const char16_t* catalog;  // null: none configured
    int developer;
    const char16_t* filter;   // stored as is; null: the selection above
    const char16_t* address;
    plat::UINT caption;
  } cases[] = {
      {u"http://example.com/a.opml", u"ignored", u"http://cat.example.com/", 1, nullptr, u"http://example.com/a.opml",
       245},
      {u"\\My Documents\\a.opml", u"", nullptr, 0, nullptr, u"\\My Documents\\a.opml", 245},
      {u"", u"", u"http://cat.example.com/opml.php", 0, nullptr, u"http://cat.example.com/opml.php?lang=en;zh-cn;", 183},
      {u"", u"", u"http://cat.example.com/opml.php", 1, nullptr,
       u"http://cat.example.com/opml.php?developer=1&lang=en;zh-cn;", 183},
      {u"", u"caf\u00e9 news", u"http://cat.example.com/o.php?v=2", 0, nullptr,
       u"http://cat.example.com/o.php?v=2&q=%63%61%66%C3%A9%20%6E%65%77%73", 207},
      // Codes go out percent-encoded, whatever the stored filter holds.
      {u"", u"", u"http://cat.example.com/", 0, u"en;a&b=c;x y;", u"http://cat.example.com/?lang=en;a%26b%3Dc;x%20y;",
       183},
      // No catalogue configured: no address, nothing written in its place.
      {u"", u"", nullptr, 0, nullptr, u"", 183},
      {u"", u"news", u"  ", 0, nullptr, u"", 207},
  };
  for (const auto& c : cases) {
    CVORegistry key = OpenSettingsKey();
    if (c.catalog) {
      key.SetString(kOnlineCatalogUrlValue, c.catalog);
    } else {
      plat::RegDeleteValueW(key.GetKey(), kOnlineCatalogUrlValue);
    }
    if (c.filter) key.SetString(kChannelsLanguageFilterValue, c.filter);
    GetGlobalOptions().SetDeveloperMode(c.developer);
    request_.SetOpmlAddress(c.opml);
    request_.SetSearchText(c.search);
    EXPECT_EQ(request_.BuildUrl(), c.address) << plat::Utf16ToUtf8(c.address);
    EXPECT_EQ(request_.GetLastAddress(), c.address);
    EXPECT_EQ(request_.GetCaptionId(), c.caption) << plat::Utf16ToUtf8(c.address);
    if (!c.catalog) {
      EXPECT_EQ(OpenSettingsKey().GetString(kOnlineCatalogUrlValue, nullptr), u"");
    }
    if (c.filter) CChannelLanguages().SetSelectedLanguages({u"en", u"zh-cn"});
  }
  GetGlobalOptions().SetDeveloperMode(0);
}

TEST_F(CatalogRequestTest, WithoutACatalogueTheLoadFailsAndSaysSo) {
  plat::RegDeleteValueW(OpenSettingsKey().GetKey(), kOnlineCatalogUrlValue);
  for (const char16_t* search : {u"", u"news"}) {
    asked.clear();
    request_.SetOpmlAddress(u"");
    request_.SetSearchText(search);
    EXPECT_FALSE(request_.Load(holder_));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, LocalizeResourceString(CatalogRequest::kNoCatalogMessage));
    EXPECT_EQ(asked[0].type, plat::MB_OK | plat::MB_ICONEXCLAMATION);
  }
  EXPECT_EQ(request_.downloads, 0);
  EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(CatalogRequestTest, CatalogueAnswersAreRequestedByLanguageOrSearchAndListed) {
  ServeCatalog(Opml(Outline("text=\"World\" xmlUrl=\"http://news.example.com/world.xml\"")));
  CChannelLanguages().SetSelectedLanguages({u"de"});
  request_.SetSearchText(u"");
  ASSERT_TRUE(request_.Load(holder_));
  EXPECT_FALSE(request_.IsEmpty());
  EXPECT_EQ(request_.lastCaption, LocalizeResourceString(183));
  request_.SetSearchText(u"Welt");
  ASSERT_TRUE(request_.Load(holder_));
  EXPECT_EQ(request_.lastCaption, LocalizeResourceString(207));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/catalog.php?lang=de;");
  EXPECT_EQ(requests[1].target, "/catalog.php?q=%57%65%6C%74");
  // Each load replaces the tree.
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(CatalogRequestTest, OutlinesBecomeTreeEntriesByKind) {
  {
    CSyncLock lock(GetChannelSet());
    ASSERT_NE(GetChannelSet()->AddChannel(u"Existing"), nullptr);
  }
  const std::string longPath = "/" + std::string(300, 'p');
  const std::string tooLongPath = "/" + std::string(3000, 'q');
  const std::string body =
      Outline("text=\"News\"",
              Outline("text=\"World\" title=\"Not this\" xmlUrl=\"http://news.example.com/world.xml\"") +
                  Outline("title=\"Tech\" xmlUrl=\"feeds/tech.xml\"") +
                  Outline("text=\"Own\" type=\"BREVANT\" Url=\"http://own.example.com/t.xml\" xmlUrl=\"http://no/\"") +
                  Outline("text=\"More\" xmlUrl=\"http://more.example.com/list.opml\"") +
                  Outline("text=\"Upper\" xmlUrl=\"http://up.example.com/LIST.OPML\"")) +
      Outline("text=\"Existing\" xmlUrl=\"http://other.example.com/e.xml\"") +
      Outline("text=\"Existing\"", Outline("text=\"Inside\" xmlUrl=\"http://in.example.com/\"")) +
      Outline("text=\"Foreign\"",
              Outline("text=\"Local\" xmlUrl=\"file:///etc/passwd\"") +
                  Outline("text=\"Script\" xmlUrl=\"javascript:alert(1)\"") +
                  Outline("text=\"Ftp\" xmlUrl=\"ftp://ftp.example.com/feed\"")) +
      Outline("xmlUrl=\"http://untitled.example.com/\"") + Outline("text=\" \t \" xmlUrl=\"http://blank.example.com/\"") +
      Outline("text=\"Long\" xmlUrl=\"http://long.example.com" + longPath + "\"") +
      Outline("text=\"Too long\" xmlUrl=\"http://toolong.example.com" + tooLongPath + "\"") +
      Outline("text=\" Ctl&#9;name&#1;x \" xmlUrl=\"http://ctl.example.com/\"") +
      Outline("text=\"" + std::string(120, 'T') + "\" xmlUrl=\"http://t.example.com/\"") +
      "<other text=\"Not an outline\" xmlUrl=\"http://no.example.com/\"/>";
  ASSERT_TRUE(LoadOpml(Opml(body), "/dir/list.opml"));
  EXPECT_FALSE(request_.IsEmpty());
  const std::vector<Row> expected = {
      {0, u"News", 1, 0, false},
      {1, u"World", 3, 1, true},
      {1, u"Tech", 3, 1, true},
      {1, u"Own", 2, 1, true},
      {1, u"More", 4, 0, true},  // another OPML document: listed, not offered,
      {2, u"Fake", 0, 0, false},  // read when opened
      {1, u"Upper", 3, 1, true},
      {0, u"Existing", 1, 0, false},  // a group of that name stays
      {1, u"Inside", 3, 1, true},
      {0, u"Foreign", 1, 0, false},   // its entries are skipped, the group stays
      {0, u"Long", 3, 1, true},
      {0, u"Ctl name x", 3, 1, true},
      {0, std::u16string(100, u'T'), 3, 1, true},
  };
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(AddressOf(u"Tech"), Url("/dir/feeds/tech.xml"));
  EXPECT_EQ(AddressOf(u"Own"), u"http://own.example.com/t.xml");
  EXPECT_EQ(AddressOf(u"Long"), plat::Utf8ToUtf16("http://long.example.com" + longPath));  // whole
}

// A nested OPML document opens in place: the user expands its entry, the
// placeholder goes and the document's outlines are listed under it, their
// addresses resolved against the nested document's; checked there, they
// become channels. It is read once; one that cannot be read keeps its
// placeholder, and so its expand button, and is read when opened again.
TEST_F(CatalogRequestTest, ANestedDocumentIsReadIntoItsEntryWhenOpened) {
  server_.Serve("/dir/more.opml", Opml(Outline("text=\"Deep\" xmlUrl=\"deep.xml\"") +
                                       Outline("text=\"Far\" xmlUrl=\"http://far.example.com/rss\"")));
  ASSERT_TRUE(LoadOpml(Opml(Outline("text=\"More\" xmlUrl=\"dir/more.opml\"") +
                            Outline("text=\"Gone\" xmlUrl=\"missing.opml\""))));
  auto itemOf = [&](const std::u16string& title) -> plat::HTREEITEM {
    for (auto [item, depth] : Items()) {
      char16_t text[256] = {};
      Info(item, text, 256);
      if (title == text) return item;
    }
    return nullptr;
  };
  const int before = request_.downloads;
  EXPECT_TRUE(request_.ExpandNested(holder_, itemOf(u"More")));
  EXPECT_FALSE(request_.ExpandNested(holder_, itemOf(u"More"))) << "read once";
  EXPECT_FALSE(request_.ExpandNested(holder_, itemOf(u"Deep"))) << "no nested document";
  EXPECT_FALSE(request_.ExpandNested(holder_, itemOf(u"Gone")));
  EXPECT_EQ(request_.downloads, before + 2);
  const std::vector<Row> expected = {
      {0, u"More", 4, 0, true},
      {1, u"Deep", 3, 1, true},
      {1, u"Far", 3, 1, true},
      {0, u"Gone", 4, 0, true},  // its document could not be read:
      {1, u"Fake", 0, 0, false},  // it can be opened again
  };
  EXPECT_EQ(Rows(), expected);
  EXPECT_FALSE(request_.IsUnreadNested(itemOf(u"More")));
  EXPECT_TRUE(request_.IsUnreadNested(itemOf(u"Gone")));
  // The document is there now: the second opening lists it.
  server_.Serve("/missing.opml", Opml(Outline("text=\"Found\" xmlUrl=\"http://found.example.com/rss\"")));
  EXPECT_TRUE(request_.ExpandNested(holder_, itemOf(u"Gone")));
  EXPECT_EQ(request_.downloads, before + 3);
  EXPECT_FALSE(request_.IsUnreadNested(itemOf(u"Gone")));
  const std::vector<Row> reread = {
      {0, u"More", 4, 0, true},  {1, u"Deep", 3, 1, true},  {1, u"Far", 3, 1, true},
      {0, u"Gone", 4, 0, true},  {1, u"Found", 3, 1, true},
  };
  EXPECT_EQ(Rows(), reread);
  EXPECT_EQ(AddressOf(u"Deep"), Url("/dir/deep.xml"));
  Check(u"Deep");
  EXPECT_TRUE(request_.AddChosenChannels());
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(GetChannelSet()->GetCount(), 1);
  EXPECT_NE(GetChannelSet()->FindByName(u"Deep"), nullptr);
}

TEST_F(CatalogRequestTest, LoadFailuresAndEmptyAnswers) {
  server_.Serve("/nobody.opml", "<?xml version=\"1.0\"?><opml><head/></opml>");
  server_.Serve("/groups.opml", Opml(Outline("text=\"Empty\"")));
  server_.Serve("/none.opml", Opml(Outline("text=\"Old\"")));
  server_.Serve("/only-foreign.opml", Opml(Outline("text=\"x\" xmlUrl=\"file:///x.xml\"")));
  const struct {
    std::string path;
    bool loads;
    bool empty;
  } cases[] = {
      {"/missing.opml", false, true},  // 404
      {"/nobody.opml", false, true},   // no body
      {"/groups.opml", true, false},   // an empty group counts
      {"/only-foreign.opml", true, true},
  };
  for (const auto& c : cases) {
    request_.SetOpmlAddress(Url(c.path));
    EXPECT_EQ(request_.Load(holder_), c.loads) << c.path;
    if (c.loads) {
      EXPECT_EQ(request_.IsEmpty(), c.empty) << c.path;
    }
  }
}

TEST_F(CatalogRequestTest, LocalOpmlFilesAreRead) {
  ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\My Documents\\feeds.opml",
                                       Opml(Outline("text=\"Web\" xmlUrl=\"http://web.example.com/rss\"") +
                                            Outline("text=\"Relative\" xmlUrl=\"rss.xml\""))));
  request_.SetOpmlAddress(u"\\My Documents\\feeds.opml");
  ASSERT_TRUE(request_.Load(holder_));
  EXPECT_EQ(request_.lastCaption, LocalizeResourceString(245));
  // Nothing to resolve a relative address against: only the web address is listed.
  const std::vector<Row> expected = {{0, u"Web", 3, 1, true}};
  EXPECT_EQ(Rows(), expected);
}

TEST_F(CatalogRequestTest, CheckedEntriesBecomeChannelsWithinTheContentFolder) {
  const std::string body =
      Outline("text=\"Group\"", Outline("text=\"Inner\" xmlUrl=\"http://inner.example.com/rss\"")) +
      Outline("text=\"Sport\" xmlUrl=\"http://sport.example.com/rss\"") +
      Outline("text=\"Own\" type=\"brevant\" xmlUrl=\"http://own.example.com/t.xml\"") +
      Outline("text=\"Nested\" xmlUrl=\"http://more.example.com/list.opml\"") +
      Outline("text=\"..\" xmlUrl=\"http://dots.example.com/rss\"") +
      Outline("text=\"../../escape\" xmlUrl=\"http://escape.example.com/rss\"") +
      Outline("text=\"a/b\\c\" xmlUrl=\"http://slash.example.com/rss\"") +
      Outline("text=\"Bell&#7;\" xmlUrl=\"http://bell.example.com/rss\"") +
      Outline("text=\"Unchecked\" xmlUrl=\"http://no.example.com/rss\"");
  ASSERT_TRUE(LoadOpml(Opml(body)));
  const std::set<std::string> before = DeviceFiles();
  // A checked group takes none of its children; a nested document is never
  // a channel, even when its box is set by force.
  for (const char16_t* title : {u"Group", u"Inner", u"Sport", u"Own", u"Nested", u"..", u"../../escape", u"a/b\\c",
                                u"Bell"}) {
    Check(title);
  }
  EXPECT_TRUE(request_.AddChosenChannels());

  CSyncLock lock(GetChannelSet());
  const struct {
    const char16_t* name;
    const char16_t* type;  // null: no such channel
    std::u16string url;
  } expected[] = {
      {u"Sport", u"@RSS", u"http://sport.example.com/rss"},
      {u"Own", u"@Ridudo", u"http://own.example.com/t.xml?name=Own"},
      {u"..", u"@RSS", u"http://dots.example.com/rss"},
      {u"../../escape", u"@RSS", u"http://escape.example.com/rss"},
      {u"a/b\\c", u"@RSS", u"http://slash.example.com/rss"},
      {u"Bell", u"@RSS", u"http://bell.example.com/rss"},
      {u"Inner", nullptr, u""},
      {u"Nested", nullptr, u""},
      {u"Unchecked", nullptr, u""},
      {u"Group", nullptr, u""},
  };
  for (const auto& e : expected) {
    IChannel* channel = GetChannelSet()->FindByName(e.name);
    if (!e.type) {
      EXPECT_EQ(channel, nullptr) << plat::Utf16ToUtf8(e.name);
      continue;
    }
    ASSERT_NE(channel, nullptr) << plat::Utf16ToUtf8(e.name);
    const CStringToStringMap& properties = channel->GetProperties();
    EXPECT_EQ(Property(properties, u"@type"), e.type);
    EXPECT_EQ(Property(properties, u"@url"), e.url);
  }
  EXPECT_EQ(GetChannelSet()->GetCount(), 6);
  const std::string content = ContentHostFolder() + "/";
  for (const std::string& file : DeviceFiles()) {
    if (before.count(file)) continue;
    EXPECT_EQ(file.rfind(content, 0), 0u) << file;
  }
}

// Answers built to hurt: each loads into a clean, bounded list or fails
// plainly, fetches nothing it names, and creates nothing.
TEST_F(CatalogRequestTest, HostileAnswersGiveABoundedListOrAClearFailure) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE opml [<!ENTITY a0 \"lol lol lol lol lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&a" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><opml version=\"1.0\"><body><outline text=\"&a9;\" xmlUrl=\"http://laughs.example.com/\"/>"
            "<outline text=\"Plain\" xmlUrl=\"http://plain.example.com/\"/></body></opml>";
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE opml SYSTEM \"" + server_.Url("/dtd") + "\" [<!ENTITY ext SYSTEM \"" +
      server_.Url("/secret") + "\">]><opml version=\"1.0\"><body><outline text=\"&ext;\" xmlUrl=\"" +
      server_.Url("/feed") + "\"/><outline text=\"Plain\" xmlUrl=\"http://plain.example.com/\"/></body></opml>";
  std::string many;
  for (int i = 0; i < 100000; ++i) {
    many += "<outline text=\"F" + std::to_string(i) + "\" xmlUrl=\"http://f.example.com/" + std::to_string(i) + "\"/>";
  }
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<outline text=\"g\">";
  deep += "<outline text=\"Bottom\" xmlUrl=\"http://bottom.example.com/\"/>";
  for (int i = 0; i < 10000; ++i) deep += "</outline>";
  // Deeper than the reader goes, within what the parser takes.
  std::string nested;
  for (int i = 0; i < 200; ++i) nested += "<outline text=\"g" + std::to_string(i) + "\">";
  nested += "<outline text=\"Bottom\" xmlUrl=\"http://bottom.example.com/\"/>";
  for (int i = 0; i < 200; ++i) nested += "</outline>";

  const struct {
    const char* name;
    std::string answer;
    std::size_t maxRows;
  } cases[] = {
      {"billion laughs", laughs, 2},
      {"external entities", external, 2},
      {"100,000 outlines", Opml(many), CatalogRequest::kMaxEntries},
      {"10,000 levels", Opml(deep), CatalogRequest::kMaxDepth},
      {"200 levels", Opml(nested), CatalogRequest::kMaxDepth},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool loaded = LoadOpml(c.answer);
    if (!loaded) {
      // The dialog said why, and waited for Done.
      EXPECT_EQ(request_.lastResult, DownloadDialog::kResultFailed);
      EXPECT_EQ(Rows().size(), 0u);
      continue;
    }
    const std::vector<Row> rows = Rows();
    EXPECT_LE(rows.size(), c.maxRows);
    EXPECT_LE(request_.GetEntryCount(), CatalogRequest::kMaxEntries);
    for (const Row& row : rows) {
      EXPECT_LE(row.text.size(), CatalogRequest::kMaxTitleLength);
      EXPECT_LT(static_cast<std::size_t>(row.depth), CatalogRequest::kMaxDepth);
    }
  }
  EXPECT_EQ(server_.RequestCount("/dtd"), 0u);
  EXPECT_EQ(server_.RequestCount("/secret"), 0u);
  EXPECT_EQ(server_.RequestCount("/feed"), 0u);
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(GetChannelSet()->GetCount(), 0);
}

TEST_F(CatalogRequestTest, LargeAndDeepDocumentsAreReadWithinTheirBounds) {
  // Read straight from parsed documents: the list stops at its bounds.
  const struct {
    int width;   // outlines per level
    int depth;   // levels of groups above them
    std::size_t entries;
    std::size_t rows;
  } cases[] = {
      {CatalogRequest::kMaxEntries + 10, 0, CatalogRequest::kMaxEntries, CatalogRequest::kMaxEntries},
      {3, 500, 0, CatalogRequest::kMaxDepth},
      {3, static_cast<int>(CatalogRequest::kMaxDepth) - 1, 3, CatalogRequest::kMaxDepth - 1 + 3},
  };
  for (const auto& c : cases) {
    std::string body;
    for (int i = 0; i < c.depth; ++i) body += "<outline text=\"g\">";
    for (int i = 0; i < c.width; ++i) {
      body += "<outline text=\"F" + std::to_string(i) + "\" xmlUrl=\"http://f.example.com/" + std::to_string(i) + "\"/>";
    }
    for (int i = 0; i < c.depth; ++i) body += "</outline>";
    const std::string xml = Opml(body);
    Tidy::Document document;
    ASSERT_EQ(document.Init(), 0);
    ASSERT_EQ(Tidy::ParseBuffer(xml.data(), xml.size(), &document, u"", u""), 1);
    ASSERT_TRUE(request_.ReadDocument(&document));
    EXPECT_EQ(request_.GetEntryCount(), c.entries) << c.width << "x" << c.depth;
    EXPECT_EQ(Rows().size(), c.rows) << c.width << "x" << c.depth;
  }
}

}  // namespace
TEST_F(CatalogRequestTest, ACheckedItemNamingNoEntryFailsAndCreatesNothing) {
  ASSERT_TRUE(LoadOpml(Opml(Outline("text=\"Alpha\" xmlUrl=\"http://a.example.com/rss\"") +
                            Outline("text=\"Beta\" xmlUrl=\"http://b.example.com/rss\""))));
  Check(u"Alpha");
  Check(u"Beta");
  // Beta's item data is moved past the entries.
  bool moved = false;
  for (auto [item, depth] : Items()) {
    char16_t text[256] = {};
    Info(item, text, 256);
    if (std::u16string(text) != u"Beta") continue;
    plat::TVITEMW info{};
    info.mask = plat::TVIF_HANDLE | plat::TVIF_PARAM;
    info.hItem = item;
    info.lParam = static_cast<plat::LPARAM>(request_.GetEntryCount());
    moved = plat::SendMessageW(tree_, plat::TVM_SETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info)) != 0;
  }
  ASSERT_TRUE(moved);
  EXPECT_FALSE(request_.AddChosenChannels());
  CSyncLock lock(GetChannelSet());
  EXPECT_EQ(GetChannelSet()->GetCount(), 0);
}

}  // namespace apptest
