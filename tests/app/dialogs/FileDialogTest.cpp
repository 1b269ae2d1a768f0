// The file picker and the save dialog, driven through their controls and
// commands inside their own modal loops: what the list shows, where it
// starts, folders and "Up", the chosen path handed back whole, the save
// dialog's names, extensions and replace question, and the folder selector.
#include <string>
#include <vector>

#include "app/dialogs/BrowseFolderDialog.h"
#include "app/dialogs/FileDialog.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/ipc/Ipc.h"
#include "tests/app/dialogs/PickerFixture.h"

namespace pickertest {
namespace {

using Step = DialogScript::Step;

plat::HWND List(plat::HWND dialog) { return plat::GetDlgItem(dialog, kPickerListId); }

std::vector<std::u16string> Items(plat::HWND dialog) {
  std::vector<std::u16string> names;
  plat::HWND list = List(dialog);
  const auto count = static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char16_t text[512] = {};
    plat::LVITEMW item{};
    item.mask = plat::LVIF_TEXT | plat::LVIF_PARAM;
    item.iItem = i;
    item.pszText = text;
    item.cchTextMax = 512;
    plat::SendMessageW(list, plat::LVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&item));
    names.push_back((item.lParam == 0 ? u"[" : u"") + std::u16string(text) + (item.lParam == 0 ? u"]" : u""));
  }
  return names;
}

int Selected(plat::HWND dialog) {
  return static_cast<int>(
      plat::SendMessageW(List(dialog), plat::LVM_GETNEXTITEM, static_cast<plat::WPARAM>(-1), plat::LVNI_SELECTED));
}

// Selects the item of that text (folders in brackets) and sends OK.
void Open(plat::HWND dialog, const std::u16string& shown) {
  const std::vector<std::u16string> items = Items(dialog);
  const auto at = std::find(items.begin(), items.end(), shown);
  ASSERT_NE(at, items.end()) << plat::Utf16ToUtf8(shown);
  plat::LVITEMW state{};
  state.stateMask = plat::LVIS_FOCUSED | plat::LVIS_SELECTED;
  state.state = state.stateMask;
  plat::SendMessageW(List(dialog), plat::LVM_SETITEMSTATE, static_cast<plat::WPARAM>(at - items.begin()),
                     reinterpret_cast<plat::LPARAM>(&state));
  plat::SendMessageW(dialog, plat::WM_COMMAND, plat::IDOK, 0);
}

void Command(plat::HWND dialog, int id) { plat::SendMessageW(dialog, plat::WM_COMMAND, static_cast<plat::WPARAM>(id), 0); }

bool UpEnabled(plat::HWND dialog) {
  plat::HWND bar = plat::SHFindMenuBar(dialog);
  return bar && (plat::SendMessageW(bar, plat::TB_GETSTATE, kPickerUpCommand, 0) & plat::TBSTATE_ENABLED) != 0;
}

std::u16string HeaderText(plat::HWND dialog) {
  char16_t text[512] = {};
  plat::GetWindowTextW(plat::GetDlgItem(dialog, kPickerHeaderId), text, 512);
  return text;
}

const std::u16string kOpmlFilter = u"OPML (*.opml)|*.opml|All Files (*.*)|*.*||";

class FileDialogTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFile(u"\\Feeds\\news.opml");
    MakeFile(u"\\Feeds\\Blogs.OPML");
    MakeFile(u"\\Feeds\\notes.txt");
    MakeFolder(u"\\Feeds\\archive");
    MakeFolder(u"\\Feeds\\Zoo");
    MakeFolder(u"\\Feeds\\Backup");
  }

  FileDialogRequest OpmlRequest(const std::u16string& file) {
    FileDialogRequest request;
    request.filter = kOpmlFilter;
    request.defaultExtension = u"opml";
    request.flags = kFileDialogPathMustExist | kFileDialogFileMustExist;
    request.file = file;
    return request;
  }
};

TEST_F(FileDialogTest, FiltersWithEitherSeparatorGiveTheSameTypes) {
  static const char16_t kZero[] = u"OPML (*.opml)\0*.opml\0Lists\0*.xml; *.txt\0\0Ignored\0*.x\0";
  const std::u16string zero(kZero, sizeof kZero / sizeof kZero[0] - 1);
  const std::vector<FileFilterEntry> a = ParseFileFilter(u"OPML (*.opml)|*.opml|Lists|*.xml; *.txt||Ignored|*.x|");
  const std::vector<FileFilterEntry> b = ParseFileFilter(zero);
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].description, b[i].description);
    EXPECT_EQ(a[i].patterns, b[i].patterns);
  }
  EXPECT_EQ(a[1].patterns, (std::vector<std::u16string>{u"*.xml", u"*.txt"}));
  EXPECT_TRUE(ParseFileFilter(u"No patterns|").empty());
}

TEST_F(FileDialogTest, FileNameCharacters) {
  struct Case {
    std::u16string typed;
    std::u16string kept;
  } cases[] = {{u"Morning News_2", u"Morning News_2"},
               {u"a.b/c\\d:e*f?g\"h<i>j|k", u"abcdefghijk"},
               {u"caf\u00e9 \u65b0\u95fb", u"caf\u00e9 \u65b0\u95fb"},
               {u"-+=,;'!", u""},
               {u"tab\there", u"tabhere"}};
  for (const Case& c : cases) EXPECT_EQ(CleanFileName(c.typed), c.kept) << plat::Utf16ToUtf8(c.typed);
  EXPECT_TRUE(IsFileNameChar(8));
  EXPECT_FALSE(IsFileNameChar(u'.'));
}

TEST_F(FileDialogTest, ListsFoldersThenFilesOfTheTypeAndNavigates) {
  FileDialogRequest request = OpmlRequest(u"\\Feeds");
  std::vector<std::u16string> seen;
  DialogScript script({[&](plat::HWND d) {
    EXPECT_EQ(Text(d), u"Open");
    // Capital letters sort before small ones; other extensions are not listed.
    EXPECT_EQ(Items(d), (std::vector<std::u16string>{u"[Backup]", u"[Zoo]", u"[archive]", u"Blogs.OPML", u"news.opml"}));
    EXPECT_EQ(HeaderText(d), u"\\Feeds\\");
    EXPECT_TRUE(UpEnabled(d));
    // Another type refills the list.
    plat::HWND type = plat::GetDlgItem(d, kPickerTypeId);
    plat::SendMessageW(type, plat::CB_SETCURSEL, 1, 0);
    plat::SendMessageW(d, plat::WM_COMMAND, plat::MAKEWPARAM(kPickerTypeId, plat::CBN_SELCHANGE),
                       reinterpret_cast<plat::LPARAM>(type));
    EXPECT_EQ(Items(d).size(), 6u);
    plat::SendMessageW(type, plat::CB_SETCURSEL, 0, 0);
    plat::SendMessageW(d, plat::WM_COMMAND, plat::MAKEWPARAM(kPickerTypeId, plat::CBN_SELCHANGE),
                       reinterpret_cast<plat::LPARAM>(type));
    // Into "Zoo" and back: the folder chosen before is selected again.
    Open(d, u"[Zoo]");
    EXPECT_EQ(HeaderText(d), u"\\Feeds\\Zoo\\");
    EXPECT_TRUE(Items(d).empty());
    Command(d, kPickerUpCommand);
    EXPECT_EQ(Selected(d), 1);
    // Up to the root: "Up" is disabled there and does nothing.
    Command(d, kPickerUpCommand);
    EXPECT_EQ(HeaderText(d), u"\\");
    EXPECT_FALSE(UpEnabled(d));
    seen = Items(d);
    Command(d, kPickerUpCommand);
    EXPECT_EQ(HeaderText(d), u"\\");
    EXPECT_EQ(Items(d), seen);
    Open(d, u"[Feeds]");
    Open(d, u"news.opml");
  }});
  EXPECT_EQ(RunFileDialog(request), plat::IDOK);
  EXPECT_EQ(script.Ran(), 1u);
  EXPECT_EQ(request.file, u"\\Feeds\\news.opml");
  EXPECT_EQ(request.filterIndex, 0);
  EXPECT_NE(std::find(seen.begin(), seen.end(), u"[Feeds]"), seen.end());
}

TEST_F(FileDialogTest, StartsInTheDocumentsFolderUnlessGivenAnExistingFolder) {
  MakeFolder(u"\\Deep\\Down");
  struct Case {
    std::u16string file;
    std::u16string folder;
  } cases[] = {{u"", u"\\"},
               {u"\\", u"\\"},
               {u"\\deep\\down\\", u"\\deep\\down\\"},
               {u"\\Feeds\\news.opml", u"\\My Documents\\"},
               {u"\\No Such Folder", u"\\My Documents\\"},
               {u"relative", u"\\My Documents\\"}};
  for (const Case& c : cases) {
    FileDialogRequest request = OpmlRequest(c.file);
    std::u16string header;
    DialogScript script({[&](plat::HWND d) {
      header = HeaderText(d);
      Command(d, plat::IDCANCEL);
    }});
    EXPECT_EQ(RunFileDialog(request), plat::IDCANCEL);
    EXPECT_EQ(header, c.folder) << plat::Utf16ToUtf8(c.file);
    EXPECT_EQ(request.file, c.file) << "a cancelled run leaves the buffer alone";
  }
}

TEST_F(FileDialogTest, ChosenPathLongerThanTheOldBufferComesBackWhole) {
  // A deep folder the device can list, holding a file whose whole path is
  // longer than 259 characters (put there from outside, as on a card).
  std::u16string folder;
  std::string host = device_.FsRoot();
  for (int i = 0; i < 7; ++i) {
    const std::string part = "A rather long folder name " + std::to_string(i);
    folder += u"\\" + plat::Utf8ToUtf16(part);
    host += "/" + part;
  }
  const std::string name = "a feed list with a long name that goes on and on and on and on and on and on.opml";
  std::filesystem::create_directories(host);
  orvtest::WriteHostFile(host + "/" + name, "<opml/>");
  const std::u16string expected = folder + u"\\" + plat::Utf8ToUtf16(name);
  ASSERT_GT(expected.size(), 259u);
  FileDialogRequest request = OpmlRequest(folder);
  DialogScript script({[&](plat::HWND d) { Open(d, plat::Utf8ToUtf16(name)); }});
  EXPECT_EQ(RunFileDialog(request), plat::IDOK);
  EXPECT_EQ(request.file, expected);
}

TEST_F(FileDialogTest, KeepingTheInputPanelRestoresTheFocus) {
  plat::HWND owner = plat::CreateWindowExW(0, u"EDIT", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 100, 20, nullptr,
                                           nullptr, nullptr, nullptr);
  plat::SetActiveWindow(owner);
  plat::SetFocus(owner);
  FileDialogRequest request = OpmlRequest(u"\\Feeds");
  plat::HWND dialogOwner = nullptr;
  DialogScript script({[&](plat::HWND d) {
    dialogOwner = plat::GetWindow(d, plat::GW_OWNER);
    Open(d, u"Blogs.OPML");
  }});
  EXPECT_EQ(RunFileDialogKeepingInputPanel(request), plat::IDOK);
  EXPECT_EQ(request.file, u"\\Feeds\\Blogs.OPML");
  EXPECT_EQ(dialogOwner, owner);
  EXPECT_EQ(plat::GetFocus(), owner);
  plat::DestroyWindow(owner);
}

// ---------------------------------------------------------------------------
// The save dialog

plat::HWND NameEdit(plat::HWND dialog) {
  plat::HWND combo = plat::GetDlgItem(dialog, kSaveNameId);
  plat::HWND edit = plat::GetWindow(combo, plat::GW_CHILD);
  return edit ? edit : combo;
}

void Type(plat::HWND edit, const std::u16string& text) {
  for (char16_t ch : text) plat::SendMessageW(edit, plat::WM_CHAR, ch, 0);
}

void SetName(plat::HWND dialog, const std::u16string& name) {
  plat::SetWindowTextW(NameEdit(dialog), name.c_str());
}

FileDialogRequest SaveRequest(const std::u16string& file, int type) {
  FileDialogRequest request;
  request.dialogSelector = 0;
  request.filter = kOpmlFilter;
  request.defaultExtension = u"opml";
  request.filterIndex = type;
  request.file = file;
  return request;
}

TEST_F(FileDialogTest, SaveDialogTypedNamesLoseRefusedCharacters) {
  FileDialogRequest request = SaveRequest(u"\\Feeds\\old.name.opml", 0);
  DialogScript script({[&](plat::HWND d) {
    EXPECT_EQ(Text(d), u"Save As");
    plat::HWND edit = NameEdit(d);
    EXPECT_EQ(Text(edit), u"oldname") << "the buffer's name without its extension, cleaned";
    SetName(d, u"");
    Type(edit, u"my.feeds/2");
    EXPECT_EQ(Text(edit), u"myfeeds2");
    plat::DWORD start = 0, end = 0;
    plat::SendMessageW(edit, plat::EM_GETSEL, reinterpret_cast<plat::WPARAM>(&start), reinterpret_cast<plat::LPARAM>(&end));
    EXPECT_EQ(start, 8u);
    EXPECT_EQ(end, 8u);
    Command(d, plat::IDOK);
  }});
  EXPECT_EQ(RunFileDialog(request), plat::IDOK);
  EXPECT_EQ(request.file, u"\\Feeds\\myfeeds2.opml");
}

TEST_F(FileDialogTest, SaveDialogExtensionComesFromTheTypeOrTheDefault) {
  struct Case {
    int type;
    std::u16string defaultExtension;
    std::u16string result;
  } cases[] = {{0, u"opml", u"\\Feeds\\list.opml"},
               {1, u"opml", u"\\Feeds\\list.opml"},  // "*.*" takes the default extension
               {1, u".xml", u"\\Feeds\\list.xml"},
               {1, u"", u"\\Feeds\\list"}};
  for (const Case& c : cases) {
    FileDialogRequest request = SaveRequest(u"\\Feeds\\", c.type);
    request.defaultExtension = c.defaultExtension;
    DialogScript script({[&](plat::HWND d) {
      SetName(d, u"list");
      Command(d, plat::IDOK);
    }});
    EXPECT_EQ(RunFileDialog(request), plat::IDOK);
    EXPECT_EQ(request.file, c.result) << c.type << " " << plat::Utf16ToUtf8(c.defaultExtension);
    EXPECT_EQ(request.filterIndex, c.type);
  }
}

TEST_F(FileDialogTest, SaveDialogAsksBeforeReplacingAndStaysOnCancel) {
  FileDialogRequest request = SaveRequest(u"\\Feeds\\", 0);
  int stillOpen = 0;
  DialogScript script({[&](plat::HWND d) {
    SetName(d, u"NEWS");
    Command(d, plat::IDOK);  // news.opml exists; the answer is Cancel
    stillOpen += plat::IsWindow(d) && plat::IsWindowVisible(d) ? 1 : 0;
    SetName(d, u"");
    Command(d, plat::IDOK);  // an empty name stays too
    stillOpen += plat::IsWindow(d) && plat::IsWindowVisible(d) ? 1 : 0;
    answer = plat::IDOK;
    SetName(d, u"NEWS");
    Command(d, plat::IDOK);
  }});
  answer = plat::IDCANCEL;
  EXPECT_EQ(RunFileDialog(request), plat::IDOK);
  EXPECT_EQ(stillOpen, 2);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"NEWS.opml already exists. Do you want to replace it?");
  EXPECT_EQ(boxes[0].caption, u"Save As");
  EXPECT_EQ(boxes[0].type, 0x31u);
  EXPECT_EQ(request.file, u"\\Feeds\\NEWS.opml");
}

// A type of two patterns: the picker lists each pattern's files in turn,
// each sorted by itself; saving asks about a file of the name under either
// pattern, not only the first.
const std::u16string kFeedsFilter = u"Feeds (*.opml;*.xml)|*.opml;*.xml||";

TEST_F(FileDialogTest, ATypeOfTwoPatternsListsAndAsksForEach) {
  MakeFile(u"\\Feeds\\alpha.xml");
  MakeFile(u"\\Feeds\\Digest.xml");
  FileDialogRequest open = OpmlRequest(u"\\Feeds");
  open.filter = kFeedsFilter;
  DialogScript list({[&](plat::HWND d) {
    EXPECT_EQ(Items(d), (std::vector<std::u16string>{u"[Backup]", u"[Zoo]", u"[archive]", u"Blogs.OPML", u"news.opml",
                                                     u"Digest.xml", u"alpha.xml"}));
    Command(d, plat::IDCANCEL);
  }});
  EXPECT_EQ(RunFileDialog(open), plat::IDCANCEL);

  FileDialogRequest save = SaveRequest(u"\\Feeds\\", 0);
  save.filter = kFeedsFilter;
  DialogScript script({[&](plat::HWND d) {
    SetName(d, u"digest");  // only digest.xml exists; the answer is Cancel
    Command(d, plat::IDOK);
    answer = plat::IDOK;
    Command(d, plat::IDOK);
  }});
  answer = plat::IDCANCEL;
  EXPECT_EQ(RunFileDialog(save), plat::IDOK);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"digest.xml already exists. Do you want to replace it?");
  EXPECT_EQ(save.file, u"\\Feeds\\digest.opml") << "the name takes the type's first extension";
}

// The list picker and the folder selector scroll in their own list and tree:
// asked by the registered message, the page gives up its scroll bar.
TEST_F(FileDialogTest, PickersGiveUpTheirPagesScrollBarWhenAsked) {
  const plat::UINT message = plat::RegisterWindowMessageW(u"OrvWTL_DisableScrollBarMessage");
  ASSERT_NE(message, 0u);
  auto ask = [&](plat::HWND d) {
    plat::SetWindowLongW(d, plat::GWL_STYLE, plat::GetWindowLongW(d, plat::GWL_STYLE) | plat::WS_VSCROLL);
    EXPECT_EQ(plat::SendMessageW(d, message, 0, 0), 1);
    EXPECT_EQ(plat::GetWindowLongW(d, plat::GWL_STYLE) & plat::WS_VSCROLL, 0);
    Command(d, plat::IDCANCEL);
  };
  FileDialogRequest request = OpmlRequest(u"\\Feeds");
  {
    DialogScript script({ask});
    EXPECT_EQ(RunFileDialog(request), plat::IDCANCEL);
    EXPECT_EQ(script.Ran(), 1u);
  }
  BrowseFolderDialog folders;
  folders.SetFolderPath(u"\\Feeds");
  DialogScript script({ask});
  EXPECT_EQ(folders.DoModal(nullptr), plat::IDCANCEL);
  EXPECT_EQ(script.Ran(), 1u);
}

TEST_F(FileDialogTest, SaveDialogPicksAFileAndAFolder) {
  FileDialogRequest request = SaveRequest(u"\\Feeds\\", 0);
  plat::HWND save = nullptr;
  DialogScript* running = nullptr;
  DialogScript script({
      [&](plat::HWND d) {
        save = d;
        plat::SendMessageW(d, plat::WM_COMMAND, plat::MAKEWPARAM(kSaveNameId, plat::CBN_DROPDOWN),
                           reinterpret_cast<plat::LPARAM>(plat::GetDlgItem(d, kSaveNameId)));
      },
      [&](plat::HWND picker) {
        // Files only, no "Up", soft keys "Select" and "Cancel".
        EXPECT_EQ(Text(picker), u"Select File");
        EXPECT_EQ(Items(picker), (std::vector<std::u16string>{u"Blogs.OPML", u"news.opml"}));
        Command(picker, kPickerUpCommand);
        EXPECT_EQ(HeaderText(picker), u"\\Feeds\\");
        Open(picker, u"Blogs.OPML");
        running->Resume(save);
      },
      [&](plat::HWND d) {
        EXPECT_EQ(Text(NameEdit(d)), u"Blogs");
        plat::SendMessageW(d, plat::WM_COMMAND, plat::MAKEWPARAM(kSaveFolderId, plat::CBN_DROPDOWN),
                           reinterpret_cast<plat::LPARAM>(plat::GetDlgItem(d, kSaveFolderId)));
      },
      [&](plat::HWND selector) {
        EXPECT_EQ(Text(selector), u"Select Folder");
        plat::HWND tree = plat::GetDlgItem(selector, kFolderSelectorTreeId);
        plat::HTREEITEM selected = Next(tree, plat::TVGN_CARET);
        EXPECT_EQ(TextOf(tree, selected), u"Feeds") << "the current folder is selected";
        plat::SendMessageW(tree, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(selected));
        EXPECT_EQ(Children(tree, selected), (std::vector<std::u16string>{u"archive", u"Backup", u"Zoo"}));
        // "Zoo" has no sub-folders: Enter on it acts as OK.
        plat::HTREEITEM child = Child(tree, selected, u"Zoo");
        ASSERT_TRUE(child);
        plat::SendMessageW(tree, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(child));
        plat::SendMessageW(tree, plat::WM_KEYDOWN, plat::VK_RETURN, 0);
        running->Resume(save);
      },
      [&](plat::HWND d) {
        plat::HWND folder = plat::GetDlgItem(d, kSaveFolderId);
        EXPECT_EQ(Text(folder), u"\\Feeds\\Zoo");
        Command(d, plat::IDOK);
      },
  });
  running = &script;
  EXPECT_EQ(RunFileDialog(request), plat::IDOK);
  EXPECT_EQ(script.Ran(), 5u);
  EXPECT_EQ(request.file, u"\\Feeds\\Zoo\\Blogs.opml");
}

// Pictures of the picker, the save dialog and the folder selector on both
// screens, to look at; each dialog fills the screen above the soft keys.
TEST_F(FileDialogTest, PicturesOfThePickers) {
  for (int i = 0; i < 30; ++i) MakeFile(u"\\Feeds\\feed number " + plat::Utf8ToUtf16(std::to_string(i)) + u".opml");
  for (const ScreenSize& s : kPictureScreens) {
    UseScreen(s.width, s.height, s.dpi);
    const std::string tag = s.tag;
    FileDialogRequest open = OpmlRequest(u"\\Feeds");
    DialogScript pick({[&](plat::HWND d) {
      plat::RECT r{};
      plat::GetWindowRect(d, &r);
      EXPECT_EQ(r.right - r.left, s.width);
      // The list starts below the type combo's field and ends at the bottom.
      plat::RECT list{}, type{};
      plat::GetWindowRect(List(d), &list);
      plat::GetWindowRect(plat::GetDlgItem(d, kPickerTypeId), &type);
      EXPECT_GT(list.top, type.top);
      EXPECT_EQ(list.bottom, r.bottom);
      Shot(d, "file-picker-" + tag);
      Command(d, plat::IDCANCEL);
    }});
    EXPECT_EQ(RunFileDialog(open), plat::IDCANCEL);
    FileDialogRequest save = SaveRequest(u"\\Feeds\\My feeds", 0);
    DialogScript saving({[&](plat::HWND d) {
                           Shot(d, "save-dialog-" + tag);
                           plat::PostMessageW(d, kSaveOpenFolderSelector, 0, 0);
                         },
                         [&](plat::HWND selector) {
                           Shot(selector, "folder-selector-" + tag);
                           Command(selector, plat::IDCANCEL);
                           plat::PostMessageW(plat::GetWindow(selector, plat::GW_OWNER), plat::WM_COMMAND, plat::IDCANCEL, 0);
                         }});
    EXPECT_EQ(RunFileDialog(save), plat::IDCANCEL);
    EXPECT_EQ(saving.Ran(), 2u);
  }
}

}  // namespace
}  // namespace pickertest
