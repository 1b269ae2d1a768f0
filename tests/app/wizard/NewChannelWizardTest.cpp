// The add-channels wizard run modally over a device of its own: the pages and
// their soft keys, navigation and its dead ends, the checks of each page and
// their messages, the feed-address page adding a channel by the feed's title,
// the template page copying its template, and every page's look at both
// screen sizes. Downloads, the file picker and the catalogue load are played
// by the test through the wizard's own hooks.
#include "app/wizard/NewChannelWizard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/Streams.h"
#include "database/Channel.h"
#include "database/ChannelLanguages.h"
#include "layout/DialogTitle.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/ShellExecute.h"
#include "platform/controls/StandardControls.h"
#include "platform/display/ScreenComposer.h"
#include "platform/files/Files.h"
#include "tests/app/MainWindowFixture.h"
#include "update/script/PluginChannels.h"
#include "update/tidy/TidyDocument.h"
#include "tests/support/DeviceFiles.h"

#ifndef ORV_APP_SHOTS
#define ORV_APP_SHOTS "."
#endif

namespace apptest {
namespace {

using namespace AddChannelsWizard;

constexpr plat::UINT kRunScript = plat::WM_APP + 7;
// What Run answers when the script left the wizard open.
constexpr plat::INT_PTR kStillOpen = 42;

// The wizard with its outside world played by the test: the script runs once
// the modal loop pumps, and the wizard is closed with kStillOpen when the
// script left it open.
class ScriptedWizard : public NewChannelWizard {
 public:
  std::function<void(ScriptedWizard&)> script;
  // Answers of the hooks; each call is logged.
  std::function<bool(const std::u16string&, Tidy::Document*)> download;
  std::function<plat::INT_PTR(FileDialogRequest&)> pick;
  std::function<bool(CatalogRequest&)> loadCatalog;
  std::vector<std::u16string> downloads;
  std::vector<plat::UINT> captions;
  std::vector<FileDialogRequest> picks;

  bool DownloadDocument(const std::u16string& address, plat::UINT captionId, Tidy::Document* document) override {
    downloads.push_back(address);
    captions.push_back(captionId);
    return download ? download(address, document) : false;
  }
  plat::INT_PTR PickFile(FileDialogRequest& request, bool) override {
    picks.push_back(request);
    return pick ? pick(request) : 2;
  }
  bool LoadCatalog(CatalogRequest& request) override { return loadCatalog ? loadCatalog(request) : false; }

 protected:
  void OnInit() override {
    NewChannelWizard::OnInit();
    plat::PostMessageW(GetHwnd(), kRunScript, 0, 0);
  }
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override {
    if (msg != kRunScript) return NewChannelWizard::ProcessDerivedMessage(hwnd, msg, wParam, lParam, result);
    if (script) script(*this);
    if (plat::IsWindowVisible(hwnd)) EndWith(kStillOpen);
    result = 0;
    return true;
  }
};

std::u16string TextOf(plat::HWND window) {
  char16_t buffer[1024] = {};
  plat::GetWindowTextW(window, buffer, 1024);
  return buffer;
}

void Press(NewChannelWizard& w, int id) { plat::SendMessageW(w.GetHwnd(), plat::WM_COMMAND, id, 0); }

// The command and text of soft key index (0 left, 1 right).
std::pair<int, std::u16string> KeyOf(const NewChannelWizard& w, int index) {
  char16_t text[64] = {};
  plat::TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = plat::TBIF_BYINDEX | plat::TBIF_COMMAND | plat::TBIF_TEXT;
  info.pszText = text;
  info.cchText = 64;
  plat::HWND bar = w.GetSoftKeyBar().GetBar();
  if (!bar || plat::SendMessageW(bar, plat::TB_GETBUTTONINFOW, static_cast<plat::WPARAM>(index),
                                 reinterpret_cast<plat::LPARAM>(&info)) < 0)
    return {-1, u""};
  return {info.idCommand, text};
}

std::u16string PageName(const NewChannelWizard& w) {
  const Page* page = w.GetCurrentPage();
  return page ? page->GetLayoutName() : u"";
}

// The visible children of the dialog that take room.
std::vector<plat::HWND> VisibleControls(const NewChannelWizard& w) {
  std::vector<plat::HWND> shown;
  for (plat::HWND c = plat::GetWindow(w.GetHwnd(), plat::GW_CHILD); c; c = plat::GetWindow(c, plat::GW_HWNDNEXT)) {
    plat::RECT r{};
    plat::GetWindowRect(c, &r);
    if (plat::IsWindowVisible(c) && r.right > r.left && r.bottom > r.top) shown.push_back(c);
  }
  return shown;
}

void SetCheck(plat::HWND list, int index, bool checked) {
  plat::LVITEMW item{};
  item.state = plat::INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  item.stateMask = plat::LVIS_STATEIMAGEMASK;
  plat::SendMessageW(list, plat::LVM_SETITEMSTATE, static_cast<plat::WPARAM>(index),
                     reinterpret_cast<plat::LPARAM>(&item));
}

bool IsChecked(plat::HWND list, int index) {
  const auto state = static_cast<plat::UINT>(
      plat::SendMessageW(list, plat::LVM_GETITEMSTATE, static_cast<plat::WPARAM>(index), plat::LVIS_STATEIMAGEMASK));
  return ((state & plat::LVIS_STATEIMAGEMASK) >> 12) == 2;
}

std::string ReadDeviceFile(const std::u16string& path) {
  CFileReader reader(path);
  std::string bytes(static_cast<std::size_t>(std::max<std::int64_t>(reader.Remaining(), 0)), '\0');
  if (!bytes.empty() && !reader.Read(bytes.data(), bytes.size())) return {};
  return bytes;
}

std::string TemplateXml(const std::vector<std::string>& channels, const std::string& marker = "") {
  std::string xml = "<?xml version=\"1.0\"?><template><url>http://127.0.0.1:9/" + marker + "</url>";
  for (const std::string& name : channels) xml += "<channel><name>" + name + "</name></channel>";
  return xml + "</template>";
}

std::string Feed(const std::string& title) {
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
         "</title><item><title>One</title><guid>one</guid></item></channel></rss>";
}

class NewChannelWizardTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // Added channels wait for an update that the tests do not run.
    GetGlobalOptions().SetStartUpdateForAddedChannels(0);
  }

  plat::INT_PTR Run(ScriptedWizard& wizard) { return wizard.Run(nullptr); }

  // The wizard on the page the start page's choice leads to.
  static void Choose(ScriptedWizard& w, int choice) {
    w.GetStartPage().Choose(choice);
    Press(w, NewChannelWizard::kCmdNext);
  }

  // Channel names and their "@url" and "@type".
  std::map<std::u16string, std::pair<std::u16string, std::u16string>> Channels() {
    std::map<std::u16string, std::pair<std::u16string, std::u16string>> out;
    CSyncLock lock(GetChannelSet());
    for (int i = 0; i < GetChannelSet()->GetCount(); ++i) {
      IChannel* c = GetChannelSet()->GetAt(i);
      const CStringToStringMap& p = c->GetProperties();
      const auto url = p.find(u"@url");
      const auto type = p.find(u"@type");
      out[c->GetName()] = {url == p.end() ? u"" : url->second, type == p.end() ? u"" : type->second};
    }
    return out;
  }

  std::vector<plat::UINT> BoxIds() const {
    std::vector<plat::UINT> ids;
    for (const AskedBox& box : boxes) {
      plat::UINT found = 0;
      for (plat::UINT id : {161u, 163u, 164u, 168u, 185u, 188u, 193u, 203u, 204u, 222u, 277u, 346u, 347u, 382u, 383u})
        if (box.text == LocalizeResourceString(id)) found = id;
      ids.push_back(found);
    }
    return ids;
  }
};

// ---------------------------------------------------------------------------
// Pages, soft keys and navigation

TEST_F(NewChannelWizardTest, EachChoiceLeadsToItsPageWithItsSoftKeysAndControls) {
  struct Case {
    int choice;
    const char16_t* page;
    int rightKey;
    bool sipButton;
  };
  const Case cases[] = {
      {0, u"new_channel_catalog", NewChannelWizard::kCmdNext, false},   // languages
      {1, u"new_channel_rss_atom", NewChannelWizard::kCmdDone, true},
      {2, u"new_channel_search", NewChannelWizard::kCmdNext, true},
      {3, u"new_channel_opml", NewChannelWizard::kCmdNext, true},
      {4, u"new_channel_template", NewChannelWizard::kCmdDone, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.choice);
    ScriptedWizard w;
    w.script = [&](ScriptedWizard& w) {
      EXPECT_EQ(PageName(w), u"new_channel_general");
      EXPECT_EQ(KeyOf(w, 0), std::make_pair(NewChannelWizard::kCmdCancel, Localize(u"Cancel")));
      EXPECT_EQ(KeyOf(w, 1), std::make_pair(NewChannelWizard::kCmdNext, Localize(u"Next")));
      EXPECT_FALSE(w.IsInputPanelButtonShown());
      ASSERT_EQ(w.GetStartPage().GetRadioButtons().size(), 5u);
      EXPECT_EQ(plat::GetFocus(), w.GetStartPage().GetRadioButtons()[0]);

      Choose(w, c.choice);
      EXPECT_EQ(PageName(w), c.page);
      EXPECT_EQ(w.GetStackDepth(), 2u);
      EXPECT_EQ(KeyOf(w, 0).first, NewChannelWizard::kCmdBack);
      EXPECT_EQ(KeyOf(w, 1).first, c.rightKey);
      EXPECT_EQ(KeyOf(w, 1).second, Localize(c.rightKey == NewChannelWizard::kCmdDone ? u"Done" : u"Next"));
      EXPECT_EQ(w.IsInputPanelButtonShown(), c.sipButton);
      // Exactly the page's controls show.
      std::vector<plat::HWND> expected = w.GetCurrentPage()->GetControls();
      std::vector<plat::HWND> shown = VisibleControls(w);
      std::sort(expected.begin(), expected.end());
      std::sort(shown.begin(), shown.end());
      EXPECT_EQ(shown, expected);

      // The device's Back key, pressed and released, steps back once.
      plat::SendMessageW(w.GetHwnd(), plat::WM_HOTKEY, 0, plat::MAKELPARAM(0, plat::VK_TBACK));
      plat::SendMessageW(w.GetHwnd(), plat::WM_HOTKEY, 0, plat::MAKELPARAM(plat::MOD_KEYUP, plat::VK_TBACK));
      EXPECT_EQ(PageName(w), u"new_channel_general");
      EXPECT_FALSE(w.IsInputPanelButtonShown());
      EXPECT_EQ(KeyOf(w, 0).first, NewChannelWizard::kCmdCancel);
      // Back from the first page cancels.
      Press(w, NewChannelWizard::kCmdBack);
    };
    EXPECT_EQ(Run(w), 2);
  }
}

TEST_F(NewChannelWizardTest, CancelEndsWithTwoFromAnyPageAndGoToPageKnowsOnlyThePages) {
  for (int command : {NewChannelWizard::kCmdCancel, static_cast<int>(plat::IDCANCEL)}) {
    for (int choice = 0; choice < 5; ++choice) {
      ScriptedWizard w;
      w.script = [&](ScriptedWizard& w) {
        Choose(w, choice);
        EXPECT_FALSE(w.GoToPage(u"m_pageNowhere"));
        EXPECT_EQ(w.GetStackDepth(), 2u);
        Press(w, command);
      };
      EXPECT_EQ(Run(w), 2) << command << " on choice " << choice;
    }
  }
  EXPECT_TRUE(Channels().empty());
}

// ---------------------------------------------------------------------------
// Checks and their messages

TEST_F(NewChannelWizardTest, ChecksTellTheUserAndKeepThePage) {
  struct Case {
    const char* what;
    int choice;
    std::function<void(ScriptedWizard&)> prepare;
    int command;
    plat::UINT message;
    plat::UINT style;
  };
  const std::u16string longSearch(201, u'x');
  const Case cases[] = {
      {"empty address", 1, [](ScriptedWizard& w) { plat::SetWindowTextW(w.GetFeedAddressPage().GetAddressBox(), u""); },
       NewChannelWizard::kCmdDone, 161, 0x10},
      {"blank address, Check and Get Name", 1,
       [](ScriptedWizard& w) {
         plat::SetWindowTextW(w.GetFeedAddressPage().GetAddressBox(), u"   ");
         w.GetFeedAddressPage().CheckAndGetName();
       },
       0, 161, 0x10},
      {"empty search", 2, [](ScriptedWizard& w) { plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), u""); },
       NewChannelWizard::kCmdNext, 203, 0x30},
      {"201-character search", 2,
       [&](ScriptedWizard& w) { plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), longSearch.c_str()); },
       NewChannelWizard::kCmdNext, 222, 0x30},
      {"empty OPML address", 3, [](ScriptedWizard& w) { plat::SetWindowTextW(w.GetWebOpmlPage().GetAddressBox(), u""); },
       NewChannelWizard::kCmdNext, 188, 0x30},
      {"no language", 0,
       [](ScriptedWizard& w) {
         for (int i = 0; i < static_cast<int>(w.GetLanguagesPage().GetCodes().size()); ++i)
           SetCheck(w.GetLanguagesPage().GetList(), i, false);
       },
       NewChannelWizard::kCmdNext, 185, 0x30},
      {"no template", 4, nullptr, NewChannelWizard::kCmdDone, 193, 0x10},
      // Enter on a last page is Done, on a middle page Next.
      {"Enter on the feed page", 1, [](ScriptedWizard& w) { plat::SetWindowTextW(w.GetFeedAddressPage().GetAddressBox(), u""); },
       plat::IDOK, 161, 0x10},
      {"Enter on the search page", 2, [](ScriptedWizard& w) { plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), u""); },
       plat::IDOK, 203, 0x30},
      {"Enter on the template page", 4, nullptr, plat::IDOK, 193, 0x10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.clear();
    ScriptedWizard w;
    bool loaded = false;
    w.loadCatalog = [&](CatalogRequest&) { return loaded = true; };
    std::u16string page;
    w.script = [&](ScriptedWizard& w) {
      Choose(w, c.choice);
      page = PageName(w);
      if (c.prepare) c.prepare(w);
      if (c.command) Press(w, c.command);
      EXPECT_EQ(PageName(w), page) << "the wizard stays on the page";
      EXPECT_EQ(w.GetStackDepth(), 2u);
    };
    EXPECT_EQ(Run(w), kStillOpen);
    EXPECT_EQ(BoxIds(), std::vector<plat::UINT>{c.message});
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].type, c.style);
    }
    EXPECT_TRUE(w.downloads.empty());
    EXPECT_FALSE(loaded);
  }
  EXPECT_TRUE(Channels().empty());
  // Nothing was stored by a refused next.
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastSearch", u""), u"");
}

TEST_F(NewChannelWizardTest, SearchOfTwoHundredCharactersAsksTheCatalogueAndAFailedLoadReturnsUnchanged) {
  const std::u16string text = u"\u00e9" + std::u16string(199, u'n');
  ScriptedWizard w;
  std::vector<std::pair<std::u16string, std::u16string>> asked;  // OPML address, search text
  w.loadCatalog = [&](CatalogRequest& r) {
    asked.emplace_back(r.GetOpmlAddress(), r.GetSearchText());
    return false;
  };
  w.script = [&](ScriptedWizard& w) {
    Choose(w, 2);
    plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), text.c_str());
    Press(w, plat::IDOK);  // Enter: next
    // The load failed: back on the search page, its text kept.
    EXPECT_EQ(PageName(w), u"new_channel_search");
    EXPECT_EQ(TextOf(w.GetSearchPage().GetTextBox()), text);
    EXPECT_EQ(w.GetStackDepth(), 2u);

    // "Online catalog" after the search asks by language.
    Press(w, NewChannelWizard::kCmdBack);
    Choose(w, 0);
    EXPECT_EQ(PageName(w), u"new_channel_catalog");
    Press(w, NewChannelWizard::kCmdNext);
    EXPECT_EQ(w.GetStackDepth(), 2u) << "the failed load went back to the languages page";
  };
  EXPECT_EQ(Run(w), kStillOpen);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], std::make_pair(std::u16string(), text));
  EXPECT_EQ(asked[1], std::make_pair(std::u16string(), std::u16string()));
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastSearch", u""), text);
  EXPECT_TRUE(boxes.empty());
}

// Only an empty search is refused: blanks are a search text like any other
// and go to the catalogue as typed.
TEST_F(NewChannelWizardTest, ASearchOfBlanksAsksTheCatalogue) {
  ScriptedWizard w;
  std::vector<std::u16string> asked;
  w.loadCatalog = [&](CatalogRequest& r) {
    asked.push_back(r.GetSearchText());
    return false;
  };
  w.script = [&](ScriptedWizard& w) {
    Choose(w, 2);
    plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), u"   ");
    Press(w, NewChannelWizard::kCmdNext);
  };
  EXPECT_EQ(Run(w), kStillOpen);
  EXPECT_EQ(asked, std::vector<std::u16string>{u"   "});
  EXPECT_TRUE(boxes.empty()) << "no \"Please enter search string.\"";
}

// Help on any page, asked by the key (WM_HELP) or reflected from one of its
// controls, opens the help file at the page's layout name.
TEST_F(NewChannelWizardTest, HelpOnEveryPageOpensThatPagesTopic) {
  std::vector<std::string> opened;
  plat::SetDesktopOpenerForTesting([&opened](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  std::vector<std::string> pages;
  ScriptedWizard w;
  w.script = [&](ScriptedWizard& w) {
    auto ask = [&] {
      pages.push_back(plat::Utf16ToUtf8(PageName(w)));
      for (plat::UINT message : {plat::WM_HELP, plat::UINT{0x2000 + plat::WM_HELP}})
        EXPECT_EQ(plat::SendMessageW(w.GetHwnd(), message, 0, 0), 1);
    };
    ask();
    for (int choice : {0, 1, 2, 3, 4}) {
      Choose(w, choice);
      ask();
      Press(w, NewChannelWizard::kCmdBack);
    }
  };
  EXPECT_EQ(Run(w), kStillOpen);
  plat::SetDesktopOpenerForTesting(nullptr);
  EXPECT_EQ(pages, (std::vector<std::string>{"new_channel_general", "new_channel_catalog", "new_channel_rss_atom",
                                             "new_channel_search", "new_channel_opml", "new_channel_template"}));
  ASSERT_EQ(opened.size(), 2 * pages.size());
  for (std::size_t i = 0; i < opened.size(); ++i) {
    const std::string tail = "OrvNews.htm#" + pages[i / 2];
    EXPECT_TRUE(opened[i].size() >= tail.size() && opened[i].compare(opened[i].size() - tail.size(), tail.size(), tail) == 0)
        << opened[i] << " is not " << tail;
  }
}

TEST_F(NewChannelWizardTest, AnEmptyCatalogueSaysWhyByHowItWasAskedAndGoesBack) {
  struct Case {
    int choice;
    plat::UINT message;
    plat::UINT style;
  };
  for (const Case& c : {Case{0, 168, 0x10}, Case{2, 204, 0x30}, Case{3, 204, 0x30}}) {
    SCOPED_TRACE(c.choice);
    boxes.clear();
    ScriptedWizard w;
    w.loadCatalog = [](CatalogRequest& r) {
      r.Clear();
      return true;
    };
    w.script = [&](ScriptedWizard& w) {
      Choose(w, c.choice);
      const std::u16string asking = PageName(w);
      if (c.choice == 2) plat::SetWindowTextW(w.GetSearchPage().GetTextBox(), u"news");
      if (c.choice == 3) plat::SetWindowTextW(w.GetWebOpmlPage().GetAddressBox(), u"http://127.0.0.1:9/list.opml");
      Press(w, NewChannelWizard::kCmdNext);
      EXPECT_EQ(PageName(w), asking);
      EXPECT_EQ(w.GetStackDepth(), 2u);
    };
    EXPECT_EQ(Run(w), kStillOpen);
    EXPECT_EQ(BoxIds(), std::vector<plat::UINT>{c.message});
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].type, c.style);
    }
  }
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastWebOpmlUrl", u""), u"http://127.0.0.1:9/list.opml");
}

TEST_F(NewChannelWizardTest, CatalogueDoneCreatesTheCheckedEntriesOnly) {
  const std::string opml =
      "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>"
      "<outline text=\"Alpha\" xmlUrl=\"http://127.0.0.1:9/alpha.xml\"/>"
      "<outline text=\"Beta\" xmlUrl=\"http://127.0.0.1:9/beta.xml\"/></body></opml>";
  for (bool checkOne : {false, true}) {
    SCOPED_TRACE(checkOne);
    ScriptedWizard w;
    w.loadCatalog = [&](CatalogRequest& r) {
      r.Clear();
      Tidy::Document document;
      return document.Init() == 0 && document.ParseUtf8(opml, true) && r.ReadDocument(&document);
    };
    w.script = [&](ScriptedWizard& w) {
      Choose(w, 3);
      Press(w, NewChannelWizard::kCmdNext);
      ASSERT_EQ(PageName(w), u"new_channel_catalog");
      EXPECT_EQ(plat::GetFocus(), w.GetCatalogPage().GetTree());
      if (checkOne) {
        plat::HWND tree = w.GetCatalogPage().GetTree();
        auto second = reinterpret_cast<plat::HTREEITEM>(plat::SendMessageW(
            tree, plat::TVM_GETNEXTITEM, plat::TVGN_NEXT,
            plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, plat::TVGN_ROOT, 0)));
        ASSERT_NE(second, nullptr);
        plat::TVITEMW item{};
        item.mask = plat::TVIF_STATE;
        item.hItem = second;
        item.state = plat::INDEXTOSTATEIMAGEMASK(2);
        item.stateMask = plat::TVIS_STATEIMAGEMASK;
        plat::SendMessageW(tree, plat::TVM_SETITEMW, 0, reinterpret_cast<plat::LPARAM>(&item));
      }
      Press(w, plat::IDOK);  // Enter on the last page: done
    };
    EXPECT_EQ(Run(w), 1);
  }
  const auto channels = Channels();
  ASSERT_EQ(channels.size(), 1u);
  EXPECT_EQ(channels.begin()->first, u"Beta");
  EXPECT_EQ(channels.begin()->second, std::make_pair(std::u16string(u"http://127.0.0.1:9/beta.xml"),
                                                     std::u16string(u"@RSS")));
}

// ---------------------------------------------------------------------------
// Feed-address page

TEST_F(NewChannelWizardTest, FeedAddressPageNamesTheChannelAndRefusesWhatTheDatabaseWould) {
  AddChannel(u"Taken");
  std::size_t longest = 400;
  while (longest > 0 && !CChannel::IsValidName(std::u16string(longest, u'n'))) --longest;
  ASSERT_GT(longest, 20u);
  const std::u16string longestName(longest, u'n');
  struct Case {
    const char* what;
    std::u16string name;     // typed
    bool reachable;
    std::string title;       // the feed's
    int answer;              // to the "add anyway" question
    plat::INT_PTR result;
    std::vector<plat::UINT> messages;
    std::u16string created;  // empty: nothing
  };
  const Case cases[] = {
      {"title names the channel", u"", true, "  Morning\n\tNews  ", plat::IDYES, 1, {}, u"Morning News"},
      {"typed name wins", u"  Mine ", true, "Feed title", plat::IDYES, 1, {}, u"Mine"},
      {"title of blanks", u"", true, " \n ", plat::IDYES, kStillOpen, {164}, u""},
      {"name taken, other case", u"TAKEN", true, "x", plat::IDYES, kStillOpen, {163}, u""},
      {"title taken", u"", true, "Taken", plat::IDYES, kStillOpen, {163}, u""},
      // A title too long for a file names the channel by its longest start that fits.
      {"title too long for a file", u"", true, std::string(400, 'n'), plat::IDYES, 1, {}, longestName},
      {"typed name too long for a file", std::u16string(400, u'n'), true, "x", plat::IDYES, kStillOpen, {347}, u""},
      {"not a feed, no name", u"", true, "<html>", plat::IDYES, kStillOpen, {382}, u""},
      {"not a feed, named, No", u"Page", true, "<html>", plat::IDNO, kStillOpen, {383}, u""},
      {"not a feed, named, Yes", u"Page", true, "<html>", plat::IDYES, 1, {383}, u"Page"},
      {"title with path characters", u"", true, "../up/..", plat::IDYES, 1, {}, u"../up/.."},
      {"unreachable, no name", u"", false, "", plat::IDYES, kStillOpen, {}, u""},
      {"unreachable, named, No", u"Named", false, "", plat::IDNO, kStillOpen, {277}, u""},
      {"unreachable, named, Yes", u"Named", false, "", plat::IDYES, 1, {277}, u"Named"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.clear();
    answer = c.answer;
    ScriptedWizard w;
    w.download = [&](const std::u16string&, Tidy::Document* d) {
      if (c.title == "<html>") return c.reachable && d->ParseUtf8("<html><body><p>A page</p></body></html>", true);
      return c.reachable && d->ParseUtf8(Feed(c.title), true);
    };
    w.script = [&](ScriptedWizard& w) {
      Choose(w, 1);
      FeedAddressPage& page = w.GetFeedAddressPage();
      EXPECT_EQ(TextOf(page.GetAddressBox()), u"http://");
      EXPECT_EQ(plat::GetFocus(), page.GetAddressBox());
      plat::SetWindowTextW(page.GetAddressBox(), u" http://127.0.0.1:9/feed.xml ");
      plat::SetWindowTextW(page.GetNameBox(), c.name.c_str());
      Press(w, NewChannelWizard::kCmdDone);
    };
    const auto before = Channels();
    EXPECT_EQ(Run(w), c.result);
    EXPECT_EQ(BoxIds(), c.messages);
    EXPECT_EQ(w.downloads, std::vector<std::u16string>{u"http://127.0.0.1:9/feed.xml"});
    EXPECT_EQ(w.captions, std::vector<plat::UINT>{182});
    auto after = Channels();
    if (c.created.empty()) {
      EXPECT_EQ(after, before);
      continue;
    }
    ASSERT_EQ(after.count(c.created), 1u);
    EXPECT_EQ(after[c.created], std::make_pair(std::u16string(u"http://127.0.0.1:9/feed.xml"), std::u16string(u"@RSS")));
    EXPECT_EQ(after.size(), before.size() + 1);
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->RemoveChannel(c.created);
  }
  // The channel files stay inside the content folder.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(device_.FsRoot()))
    EXPECT_EQ(entry.path().filename().string().find(".."), std::string::npos) << entry.path();
}

TEST_F(NewChannelWizardTest, CheckAndGetNamePutsTheFeedTitleInTheNameBox) {
  struct Case {
    bool reachable;
    std::string title;
    std::u16string name;  // in the box afterwards
    std::vector<plat::UINT> messages;
  };
  for (const Case& c : {Case{true, " The\r\nTitle ", u"The Title", {}}, Case{true, "", u"kept", {164}},
                        Case{false, "", u"kept", {}}}) {
    SCOPED_TRACE(c.title);
    boxes.clear();
    ScriptedWizard w;
    w.download = [&](const std::u16string&, Tidy::Document* d) {
      return c.reachable && d->ParseUtf8(Feed(c.title), true);
    };
    w.script = [&](ScriptedWizard& w) {
      Choose(w, 1);
      plat::SetWindowTextW(w.GetFeedAddressPage().GetNameBox(), u"kept");
      plat::SendMessageW(w.GetHwnd(), plat::WM_COMMAND, plat::MAKEWPARAM(kCheckAndGetNameId, plat::BN_CLICKED), 0);
      EXPECT_EQ(TextOf(w.GetFeedAddressPage().GetNameBox()), c.name);
      EXPECT_EQ(PageName(w), u"new_channel_rss_atom");
    };
    EXPECT_EQ(Run(w), kStillOpen);
    EXPECT_EQ(BoxIds(), c.messages);
    EXPECT_EQ(w.downloads.size(), 1u);
  }
  EXPECT_TRUE(Channels().empty());
}

// ---------------------------------------------------------------------------
// Web-OPML and template pages

TEST_F(NewChannelWizardTest, BrowseForOpmlPutsThePickedPathInTheAddressBox) {
  ScriptedWizard w;
  w.pick = [](FileDialogRequest& r) {
    r.file = u"\\My Documents\\feeds.opml";
    return 1;
  };
  std::u16string asked;
  w.loadCatalog = [&](CatalogRequest& r) {
    asked = r.GetOpmlAddress();
    return false;
  };
  plat::HWND dialog = nullptr;
  w.script = [&](ScriptedWizard& w) {
    dialog = w.GetHwnd();
    Choose(w, 3);
    EXPECT_EQ(TextOf(w.GetWebOpmlPage().GetAddressBox()), u"http://");
    plat::SendMessageW(w.GetHwnd(), plat::WM_COMMAND, plat::MAKEWPARAM(kOpmlBrowseId, plat::BN_CLICKED), 0);
    EXPECT_EQ(TextOf(w.GetWebOpmlPage().GetAddressBox()), u"\\My Documents\\feeds.opml");
    Press(w, NewChannelWizard::kCmdNext);
  };
  EXPECT_EQ(Run(w), kStillOpen);
  ASSERT_EQ(w.picks.size(), 1u);
  EXPECT_EQ(w.picks[0].owner, dialog);
  EXPECT_EQ(w.picks[0].defaultExtension, u"opml");
  EXPECT_EQ(w.picks[0].flags, 0x1800u);
  EXPECT_TRUE(w.picks[0].file.empty());
  EXPECT_EQ(asked, u"\\My Documents\\feeds.opml");
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastWebOpmlUrl", u""), u"\\My Documents\\feeds.opml");
}

class TemplatePageTest : public NewChannelWizardTest {
 protected:
  void SetUp() override {
    NewChannelWizardTest::SetUp();
    ASSERT_TRUE(CreateFolderTree(u"\\My Documents"));
    ASSERT_TRUE(orvtest::WriteDeviceFile(kSource, TemplateXml({"One", "Two", "Three"}, "new")));
    target_ = CombinePath(GetGlobalOptions().GetTemplatesFolder(), u"sports.xml");
  }

  // Opens the template, leaves the items of unchecked unmarked, presses Done.
  plat::INT_PTR OpenAndDone(const std::vector<int>& unchecked) {
    ScriptedWizard w;
    w.pick = [](FileDialogRequest& r) {
      r.file = kSource;
      return 1;
    };
    w.script = [&](ScriptedWizard& w) {
      Choose(w, 4);
      plat::SendMessageW(w.GetHwnd(), plat::WM_COMMAND, plat::MAKEWPARAM(kTemplateOpenId, plat::BN_CLICKED), 0);
      plat::HWND list = w.GetTemplatePage().GetList();
      EXPECT_EQ(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0), 3);
      for (int i : unchecked) SetCheck(list, i, false);
      Press(w, NewChannelWizard::kCmdDone);
    };
    const plat::INT_PTR result = Run(w);
    EXPECT_EQ(w.picks.size(), 1u);
    if (!w.picks.empty()) {
      EXPECT_EQ(w.picks[0].file, u"\\");
      EXPECT_EQ(w.picks[0].defaultExtension, u"xml");
    }
    return result;
  }

  static constexpr const char16_t* kSource = u"\\My Documents\\sports.xml";
  std::u16string target_;
};

TEST_F(TemplatePageTest, DoneCopiesTheTemplateAndAddsTheCheckedChannelsReadingTheCopy) {
  EXPECT_EQ(OpenAndDone({1}), 1);
  EXPECT_EQ(ReadDeviceFile(target_), TemplateXml({"One", "Two", "Three"}, "new"));
  const auto channels = Channels();
  ASSERT_EQ(channels.size(), 2u);
  for (const char16_t* name : {u"One", u"Three"}) {
    ASSERT_EQ(channels.count(name), 1u) << plat::Utf16ToUtf8(name);
    EXPECT_EQ(channels.at(name).first, CPluginChannels::BuildChannelAddress(u"file", target_, name));
    EXPECT_EQ(channels.at(name).second, u"@Ridudo");
  }
}

TEST_F(TemplatePageTest, DoneWithEveryItemUncheckedStillCopiesAndEnds) {
  EXPECT_EQ(OpenAndDone({0, 1, 2}), 1);
  EXPECT_EQ(ReadDeviceFile(target_), TemplateXml({"One", "Two", "Three"}, "new"));
  EXPECT_TRUE(Channels().empty());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(TemplatePageTest, TheInstalledTemplatesAreListedUncheckedAndTheCheckedOnesAdded) {
  const std::u16string folder = GetGlobalOptions().GetTemplatesFolder();
  ASSERT_TRUE(CreateFolderTree(folder));
  const std::u16string weather = CombinePath(folder, u"weather.xml");
  const std::u16string cities = CombinePath(folder, u"Cities.xml");
  ASSERT_TRUE(orvtest::WriteDeviceFile(weather, TemplateXml({"Rain", "Sun"}, "w")));
  ASSERT_TRUE(orvtest::WriteDeviceFile(cities, TemplateXml({"Paris"}, "c")));
  ASSERT_TRUE(orvtest::WriteDeviceFile(CombinePath(folder, u"notes.txt"), "not a template"));
  ScriptedWizard w;
  std::vector<std::u16string> listed;
  std::vector<bool> checked;
  w.script = [&](ScriptedWizard& w) {
    Choose(w, 4);
    plat::HWND list = w.GetTemplatePage().GetList();
    for (int i = 0; i < static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0)); ++i) {
      char16_t text[64] = {};
      plat::LVITEMW item{};
      item.iSubItem = 0;
      item.pszText = text;
      item.cchTextMax = 64;
      plat::SendMessageW(list, plat::LVM_GETITEMTEXTW, static_cast<plat::WPARAM>(i), reinterpret_cast<plat::LPARAM>(&item));
      listed.push_back(text);
      checked.push_back(IsChecked(list, i));
    }
    SetCheck(list, 2, true);  // "Sun"
    Press(w, NewChannelWizard::kCmdDone);
  };
  EXPECT_EQ(Run(w), 1);
  EXPECT_TRUE(w.picks.empty()) << "nothing was picked";
  // The files in the order of their names, each file's channels in its order.
  EXPECT_EQ(listed, (std::vector<std::u16string>{u"Paris", u"Rain", u"Sun"}));
  EXPECT_EQ(checked, (std::vector<bool>{false, false, false}));
  const auto channels = Channels();
  ASSERT_EQ(channels.size(), 1u);
  ASSERT_EQ(channels.count(u"Sun"), 1u);
  EXPECT_EQ(channels.at(u"Sun").first, CPluginChannels::BuildChannelAddress(u"file", weather, u"Sun"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(TemplatePageTest, ASameNamedTemplateInUseIsReplacedOnlyWhenTheUserAgrees) {
  const std::string old = TemplateXml({"Old"}, "old");
  ASSERT_TRUE(CreateFolderTree(GetGlobalOptions().GetTemplatesFolder()));
  ASSERT_TRUE(orvtest::WriteDeviceFile(target_, old));
  AddChannel(u"Old", 0, CPluginChannels::BuildChannelAddress(u"file", target_, u"Old"));
  {
    CSyncLock lock(GetChannelSet());
    GetChannelSet()->FindByName(u"Old")->SetProperty(u"@type", u"@Ridudo");
  }

  answer = plat::IDNO;
  EXPECT_EQ(OpenAndDone({}), kStillOpen);
  EXPECT_EQ(BoxIds(), std::vector<plat::UINT>{346});
  if (!boxes.empty()) {
    EXPECT_EQ(boxes[0].type, 0x24u);
  }
  EXPECT_EQ(ReadDeviceFile(target_), old) << "refused: the template in use stays";
  EXPECT_EQ(Channels().size(), 1u);

  boxes.clear();
  answer = plat::IDYES;
  EXPECT_EQ(OpenAndDone({1, 2}), 1);
  EXPECT_EQ(BoxIds(), std::vector<plat::UINT>{346});
  EXPECT_EQ(ReadDeviceFile(target_), TemplateXml({"One", "Two", "Three"}, "new"));
  EXPECT_EQ(Channels().count(u"One"), 1u);
  // Nothing is left beside the template.
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(device_.Scratch() + "/Templates"))
    files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"sports.xml"});
}

TEST_F(TemplatePageTest, AnUnusedOrEqualTemplateIsReplacedWithoutAQuestion) {
  ASSERT_TRUE(CreateFolderTree(GetGlobalOptions().GetTemplatesFolder()));
  ASSERT_TRUE(orvtest::WriteDeviceFile(target_, TemplateXml({"Stale"}, "stale")));
  EXPECT_EQ(OpenAndDone({1, 2}), 1);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ReadDeviceFile(target_), TemplateXml({"One", "Two", "Three"}, "new"));
}

TEST_F(TemplatePageTest, ATemplateWithoutChannelsIsRefused) {
  ASSERT_TRUE(orvtest::WriteDeviceFile(kSource, "<?xml version=\"1.0\"?><template><url>x</url></template>"));
  ScriptedWizard w;
  w.pick = [](FileDialogRequest& r) {
    r.file = kSource;
    return 1;
  };
  w.script = [&](ScriptedWizard& w) {
    Choose(w, 4);
    w.GetTemplatePage().OpenTemplate();
    Press(w, NewChannelWizard::kCmdDone);
  };
  EXPECT_EQ(Run(w), kStillOpen);
  EXPECT_EQ(BoxIds(), (std::vector<plat::UINT>{193, 193}));
  EXPECT_FALSE(FileExists(target_));
}

// ---------------------------------------------------------------------------
// The pages' look

class WizardScreensTest : public NewChannelWizardTest, public ::testing::WithParamInterface<int> {};

TEST_P(WizardScreensTest, EveryPageFitsTheScreenWithoutOverlaps) {
  const bool small = GetParam() == 240;
  UseScreen(small ? 240 : 480, small ? 320 : 640, small ? 96 : 192);
  const std::string opml =
      "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body><outline text=\"News\">"
      "<outline text=\"World news\" xmlUrl=\"http://127.0.0.1:9/w.xml\"/>"
      "<outline text=\"Sport\" xmlUrl=\"http://127.0.0.1:9/s.xml\"/></outline>"
      "<outline text=\"Weather\" xmlUrl=\"http://127.0.0.1:9/weather.xml\"/></body></opml>";
  ASSERT_TRUE(CreateFolderTree(u"\\My Documents"));
  ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\My Documents\\t.xml", TemplateXml({"First channel", "Second channel"})));
  std::filesystem::create_directories(ORV_APP_SHOTS);
  const std::string prefix = std::string(ORV_APP_SHOTS) + "/wizard-" + std::to_string(GetParam()) + "-";

  ScriptedWizard w;
  w.loadCatalog = [&](CatalogRequest& r) {
    r.Clear();
    Tidy::Document document;
    return document.Init() == 0 && document.ParseUtf8(opml, true) && r.ReadDocument(&document);
  };
  w.pick = [](FileDialogRequest& r) {
    r.file = u"\\My Documents\\t.xml";
    return 1;
  };
  w.script = [&](ScriptedWizard& w) {
    plat::RECT client{};
    plat::GetClientRect(w.GetHwnd(), &client);
    EXPECT_EQ(client.right, small ? 240 : 480);
    auto check = [&](const std::string& name) {
      SCOPED_TRACE(name);
      plat::UpdateWindow(w.GetHwnd());
      plat::display::ScreenComposer composer;
      EXPECT_TRUE(composer.SavePng(prefix + name + ".png"));
      const std::vector<plat::HWND> shown = VisibleControls(w);
      EXPECT_FALSE(shown.empty());
      std::vector<plat::RECT> rects;
      for (plat::HWND c : shown) {
        plat::RECT r{};
        plat::GetWindowRect(c, &r);
        plat::MapWindowPoints(nullptr, w.GetHwnd(), reinterpret_cast<plat::POINT*>(&r), 2);
        EXPECT_GE(r.left, 0);
        EXPECT_LE(r.right, client.right);
        EXPECT_GE(r.top, GetDialogHeaderHeight()) << "below the title";
        EXPECT_LE(r.bottom, client.bottom) << "on the screen";
        for (const plat::RECT& o : rects) {
          const bool apart = r.right <= o.left || o.right <= r.left || r.bottom <= o.top || o.bottom <= r.top;
          EXPECT_TRUE(apart) << "controls overlap";
        }
        rects.push_back(r);
      }
    };
    check("start");
    for (int choice : {0, 1, 2, 3, 4}) {
      Choose(w, choice);
      if (choice == 4) w.GetTemplatePage().OpenTemplate();
      check(plat::Utf16ToUtf8(PageName(w)) + (choice == 0 ? "-languages" : ""));
      if (choice == 0) {
        Press(w, NewChannelWizard::kCmdNext);
        ASSERT_EQ(PageName(w), u"new_channel_catalog");
        plat::SendMessageW(w.GetCatalogPage().GetTree(), plat::TVM_EXPAND, plat::TVE_EXPAND,
                           plat::SendMessageW(w.GetCatalogPage().GetTree(), plat::TVM_GETNEXTITEM, plat::TVGN_ROOT, 0));
        check("new_channel_catalog");
        Press(w, NewChannelWizard::kCmdBack);
      }
      Press(w, NewChannelWizard::kCmdBack);
    }
    Press(w, NewChannelWizard::kCmdCancel);
  };
  EXPECT_EQ(Run(w), 2);
}

INSTANTIATE_TEST_SUITE_P(Screens, WizardScreensTest, ::testing::Values(240, 480));

}  // namespace
}  // namespace apptest
