// The trees of the device's folders: the tree pane helpers (entries, order,
// images, paths, fitting), the picker tree control (lazy expansion, collapse
// throwing children away, Enter and double tap), the folder tree window
// (root, start folder, rebuilding on folder changes) and the browse-folder
// dialog.
#include <string>
#include <vector>

#include "app/dialogs/BrowseFolderDialog.h"
#include "app/dialogs/FileTreeCtrl.h"
#include "app/dialogs/FolderTree.h"
#include "layout/DialogTitle.h"
#include "layout/OwnControls.h"
#include "platform/base/Time.h"
#include "tests/app/dialogs/PickerFixture.h"
#include "tests/support/Pump.h"

namespace pickertest {
namespace {

bool Expanded(plat::HWND tree, plat::HTREEITEM item) { return (Read(tree, item).state & plat::TVIS_EXPANDED) != 0; }

// A parent that hands its children's notifications back to them, as dialogs
// of the pickers do, and records the OK commands it gets.
struct ReflectingParent {
  plat::HWND hwnd = nullptr;
  std::vector<plat::LPARAM> oks;

  ReflectingParent() {
    static const char16_t* cls = [] {
      plat::WNDCLASSW wc{};
      wc.lpfnWndProc = &Proc;
      wc.lpszClassName = u"OrvPickerTestParent";
      plat::RegisterClassW(&wc);
      return u"OrvPickerTestParent";
    }();
    hwnd = plat::CreateWindowExW(0, cls, u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 240, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    plat::SetPropW(hwnd, u"self", reinterpret_cast<plat::HANDLE>(this));
  }
  ~ReflectingParent() { plat::DestroyWindow(hwnd); }

  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
    auto* self = reinterpret_cast<ReflectingParent*>(plat::GetPropW(hwnd, u"self"));
    if (self && msg == plat::WM_NOTIFY) {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      return plat::SendMessageW(header->hwndFrom, kReflectedNotify, wParam, lParam);
    }
    if (self && msg == plat::WM_COMMAND && plat::LOWORD(wParam) == plat::IDOK) {
      self->oks.push_back(lParam);
      return 0;
    }
    return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
};

class FolderTreeTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFolder(u"\\Pane\\alpha\\deep");
    MakeFolder(u"\\Pane\\Zeta");
    MakeFile(u"\\Pane\\Zeta\\only a file.txt");
    MakeFile(u"\\Pane\\SETUP.EXE");
    MakeFile(u"\\Pane\\go.lnk");
    MakeFile(u"\\Pane\\notes.txt");
    MakeFolder(u"\\Docs\\Sub\\Leaf");
    MakeFolder(u"\\Docs\\Other");
  }

  // Handles this thread's messages until done holds (bounded by real time).
};

// ---------------------------------------------------------------------------
// Tree pane helpers

TEST_F(FolderTreeTest, PaneEntriesSortFoldersThenProgramsThenFiles) {
  std::vector<std::u16string> entries = TreePane::ListFolder(u"\\Pane", true);
  TreePane::SortEntries(entries);
  const std::vector<std::u16string> expected{u"dalpha",    u"dZeta",      u"ego.lnk",
                                             u"eSETUP.EXE", u"fnotes.txt"};
  EXPECT_EQ(entries, expected);
  std::vector<int> images;
  for (const std::u16string& e : entries) images.push_back(TreePane::EntryImage(e));
  EXPECT_EQ(images, (std::vector<int>{0, 0, 2, 2, 1}));
  std::vector<std::u16string> folders = TreePane::ListFolder(u"\\Pane\\", false);
  TreePane::SortEntries(folders);
  EXPECT_EQ(folders, (std::vector<std::u16string>{u"dalpha", u"dZeta"}));
  EXPECT_TRUE(TreePane::ListFolder(u"\\No such folder", true).empty());
  EXPECT_TRUE(TreePane::HasSubFolder(u"\\Pane\\alpha"));
  EXPECT_FALSE(TreePane::HasSubFolder(u"\\Pane\\Zeta"));
}

TEST_F(FolderTreeTest, PanePathsAndFittedTexts) {
  struct Case {
    std::u16string folder, name, path;
  } cases[] = {{u"", u"\\", u"\\"}, {u"\\", u"Docs", u"\\Docs"}, {u"\\Docs", u"Sub", u"\\Docs\\Sub"},
               {u"\\Docs\\", u"Sub", u"\\Docs\\Sub"}, {u"", u"Docs", u"Docs"}};
  for (const Case& c : cases) EXPECT_EQ(TreePane::JoinPath(c.folder, c.name), c.path) << plat::Utf16ToUtf8(c.path);

  plat::HWND label = CreateLabel(nullptr, nullptr, u"", plat::WS_POPUP, 0, 0);
  ASSERT_TRUE(label);
  const std::u16string text = u"\\Storage Card\\My Documents\\Feeds\\Archive\\2026\\December";
  const std::u16string fitted = TreePane::FitTextToWidth(label, text, 100);
  EXPECT_LT(fitted.size(), text.size());
  EXPECT_EQ((text.size() - fitted.size()) % 2, 0u) << "two characters at a time";
  EXPECT_EQ(text.substr(text.size() - fitted.size()), fitted) << "the end of the path stays";
  EXPECT_EQ(TreePane::FitTextToWidth(label, fitted, 100), fitted);
  EXPECT_LT(TreePane::FitTextToWidth(label, text, 0).size(), 2u);
  plat::DestroyWindow(label);
}

// ---------------------------------------------------------------------------
// The picker tree control

TEST_F(FolderTreeTest, PickerTreeListsEntriesLazilyAndCollapsingForgetsThem) {
  ReflectingParent parent;
  plat::HWND window = CreateFolderTree(parent.hwnd, nullptr, kFileTreeStyle, 1);
  ASSERT_TRUE(window);
  FileTreeCtrl tree(false);
  tree.SetRootPath(u"\\Pane");
  ASSERT_TRUE(tree.SubclassWindow(window));
  plat::HTREEITEM root = Next(window, plat::TVGN_ROOT);
  EXPECT_EQ(TextOf(window, root), u"Pane");
  EXPECT_EQ(Next(window, plat::TVGN_NEXT, root), nullptr);
  EXPECT_TRUE(Expanded(window, root));
  EXPECT_EQ(Children(window, root),
            (std::vector<std::u16string>{u"alpha", u"Zeta", u"go.lnk", u"SETUP.EXE", u"notes.txt"}));
  plat::HTREEITEM alpha = Child(window, root, u"alpha");
  plat::HTREEITEM zeta = Child(window, root, u"Zeta");
  EXPECT_NE(Read(window, alpha).cChildren, 0) << "a folder with a sub-folder shows a button";
  EXPECT_EQ(Read(window, zeta).cChildren, 0) << "a folder with files only does not";
  EXPECT_EQ(Read(window, Child(window, root, u"SETUP.EXE")).iImage, 2);
  EXPECT_EQ(Read(window, Child(window, root, u"notes.txt")).iImage, 1);
  EXPECT_EQ(tree.GetItemPath(alpha), u"\\Pane\\alpha");

  // Expanding lists the folder; collapsing and expanding again lists it anew.
  plat::SendMessageW(window, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(alpha));
  EXPECT_EQ(Children(window, alpha), (std::vector<std::u16string>{u"deep"}));
  MakeFolder(u"\\Pane\\alpha\\new");
  plat::SendMessageW(window, plat::TVM_EXPAND, plat::TVE_COLLAPSE, reinterpret_cast<plat::LPARAM>(alpha));
  EXPECT_EQ(Children(window, alpha), (std::vector<std::u16string>{u""})) << "only the placeholder is left";
  plat::SendMessageW(window, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(alpha));
  EXPECT_EQ(Children(window, alpha), (std::vector<std::u16string>{u"deep", u"new"}));
  EXPECT_TRUE(tree.SelectPath(u"\\pane\\ALPHA\\New"));
  EXPECT_EQ(tree.GetItemPath(tree.GetSelectedItem()), u"\\Pane\\alpha\\new");
  EXPECT_FALSE(tree.SelectPath(u"\\Elsewhere"));

  // With an empty root the whole device hangs under one item "\".
  plat::HWND whole = CreateFolderTree(parent.hwnd, nullptr, kFileTreeStyle, 2);
  FileTreeCtrl device(true);
  ASSERT_TRUE(device.SubclassWindow(whole));
  plat::HTREEITEM top = Next(whole, plat::TVGN_ROOT);
  EXPECT_EQ(TextOf(whole, top), u"\\");
  EXPECT_EQ(Next(whole, plat::TVGN_NEXT, top), nullptr);
  EXPECT_EQ(device.GetItemPath(top), u"\\");
  EXPECT_NE(Child(whole, top, u"Pane"), nullptr);
  EXPECT_EQ(device.GetItemPath(Child(whole, top, u"Pane")), u"\\Pane");
}

TEST_F(FolderTreeTest, PickerTreeEnterAndDoubleTap) {
  ReflectingParent parent;
  plat::HWND window = CreateFolderTree(parent.hwnd, nullptr, kFileTreeStyle, 1);
  FileTreeCtrl tree(true);
  tree.SetRootPath(u"\\Pane");
  ASSERT_TRUE(tree.SubclassWindow(window));
  // A double tap with nothing selected does nothing.
  plat::SendMessageW(window, plat::TVM_SELECTITEM, plat::TVGN_CARET, 0);
  ASSERT_EQ(tree.GetSelectedItem(), nullptr);
  plat::SendMessageW(window, plat::WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_TRUE(parent.oks.empty());

  plat::HTREEITEM root = Next(window, plat::TVGN_ROOT);
  plat::HTREEITEM alpha = Child(window, root, u"alpha");
  plat::HTREEITEM zeta = Child(window, root, u"Zeta");
  // Enter on a folder with sub-folders expands it, then collapses it.
  plat::SendMessageW(window, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(alpha));
  plat::SendMessageW(window, plat::WM_KEYDOWN, plat::VK_RETURN, 0);
  EXPECT_TRUE(Expanded(window, alpha));
  EXPECT_EQ(Children(window, alpha), (std::vector<std::u16string>{u"deep"}));
  plat::SendMessageW(window, plat::WM_KEYDOWN, plat::VK_RETURN, 0);
  EXPECT_FALSE(Expanded(window, alpha));
  EXPECT_EQ(Children(window, alpha), (std::vector<std::u16string>{u""}));
  EXPECT_TRUE(parent.oks.empty());
  // Enter on a folder without sub-folders, and a double tap, are OK.
  plat::SendMessageW(window, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(zeta));
  plat::SendMessageW(window, plat::WM_KEYDOWN, plat::VK_RETURN, 0);
  plat::SendMessageW(window, plat::WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_EQ(parent.oks, (std::vector<plat::LPARAM>{reinterpret_cast<plat::LPARAM>(window),
                                                   reinterpret_cast<plat::LPARAM>(window)}));
}

// ---------------------------------------------------------------------------
// The folder tree window

TEST_F(FolderTreeTest, RootFolderMustExist) {
  struct Case {
    std::u16string given;
    bool ok;
    std::u16string root;
  } cases[] = {{u"", true, u"\\"},           {u"\\", true, u"\\"},
               {u"\\Docs\\", true, u"\\Docs"}, {u"\\Docs\\Sub\\\\", true, u"\\Docs\\Sub"},
               {u"\\Missing", false, u""},    {u"\\Pane\\notes.txt", false, u""}};
  for (const Case& c : cases) {
    FolderTree tree;
    EXPECT_EQ(tree.SetRootPath(c.given), c.ok) << plat::Utf16ToUtf8(c.given);
    EXPECT_EQ(tree.GetRootPath(), c.root) << plat::Utf16ToUtf8(c.given);
  }
}

TEST_F(FolderTreeTest, OpensAtTheStartFolderWithLookAheadChildren) {
  ReflectingParent parent;
  struct Case {
    std::u16string root, start, selected;
  } cases[] = {{u"", u"\\docs\\SUB", u"\\Docs\\Sub"},
               {u"", u"Docs\\Sub", u"\\"},  // not beginning with a backslash: the root
               {u"\\Docs", u"\\Docs\\Other", u"\\Docs\\Other"},
               {u"\\Docs", u"\\Docs", u"\\Docs"},
               {u"\\Docs", u"\\Pane", u"\\Docs"}};
  for (const Case& c : cases) {
    FolderTree tree;
    tree.SetRootPath(c.root);
    tree.SetSelectedPath(c.start);
    plat::RECT r{0, 0, 200, 200};
    ASSERT_TRUE(tree.Create(parent.hwnd, &r, plat::WS_CHILD | plat::WS_VISIBLE, 5));
    std::u16string selected;
    EXPECT_TRUE(tree.GetSelectedPath(selected));
    EXPECT_EQ(selected, c.selected) << plat::Utf16ToUtf8(c.start);
  }
  FolderTree tree;
  tree.SetSelectedPath(u"\\Docs\\Sub");
  ASSERT_TRUE(tree.Create(parent.hwnd, nullptr, plat::WS_CHILD | plat::WS_VISIBLE, 5));
  plat::HWND view = tree.GetTree();
  plat::HTREEITEM root = Next(view, plat::TVGN_ROOT);
  EXPECT_EQ(TextOf(view, root), u"\\");
  plat::HTREEITEM docs = Child(view, root, u"Docs");
  ASSERT_TRUE(docs);
  EXPECT_EQ(Children(view, docs), (std::vector<std::u16string>{u"Other", u"Sub"}));
  // Under each folder only its first sub-folder, for the button.
  EXPECT_EQ(Children(view, Child(view, docs, u"Sub")), (std::vector<std::u16string>{u"Leaf"}));
  plat::HTREEITEM pane = Child(view, root, u"Pane");
  EXPECT_EQ(Children(view, pane), (std::vector<std::u16string>{u"alpha"}));
  // Expanding fills the rest.
  plat::SendMessageW(view, plat::TVM_EXPAND, plat::TVE_EXPAND, reinterpret_cast<plat::LPARAM>(pane));
  EXPECT_EQ(Children(view, pane), (std::vector<std::u16string>{u"alpha", u"Zeta"}));
  EXPECT_EQ(Children(view, Child(view, pane, u"alpha")), (std::vector<std::u16string>{u"deep"}));
  EXPECT_EQ(tree.GetItemPath(Child(view, pane, u"alpha")), u"\\Pane\\alpha");
}

TEST_F(FolderTreeTest, FolderChangesOnTheDeviceRebuildTheTreeKeepingTheSelection) {
  ReflectingParent parent;
  FolderTree tree;
  tree.SetSelectedPath(u"\\Docs\\Sub");
  ASSERT_TRUE(tree.Create(parent.hwnd, nullptr, plat::WS_CHILD | plat::WS_VISIBLE, 5));
  plat::HWND view = tree.GetTree();
  auto firstUnderSub = [&] {
    plat::HTREEITEM docs = Child(view, Next(view, plat::TVGN_ROOT), u"Docs");
    plat::HTREEITEM sub = docs ? Child(view, docs, u"Sub") : nullptr;
    const std::vector<std::u16string> names = sub ? Children(view, sub) : std::vector<std::u16string>{};
    return names.empty() ? std::u16string() : names.front();
  };
  ASSERT_EQ(firstUnderSub(), u"Leaf");
  MakeFolder(u"\\Docs\\Sub\\Fresh");  // comes before "Leaf"
  EXPECT_TRUE(orvtest::PumpUntil([&] { return firstUnderSub() == u"Fresh"; }));
  std::u16string selected;
  EXPECT_TRUE(tree.GetSelectedPath(selected));
  EXPECT_EQ(selected, u"\\Docs\\Sub");
  ASSERT_TRUE(plat::RemoveDirectoryW(u"\\Docs\\Sub\\Fresh"));
  EXPECT_TRUE(orvtest::PumpUntil([&] { return firstUnderSub() == u"Leaf"; }));
  EXPECT_TRUE(tree.GetSelectedPath(selected));
  EXPECT_EQ(selected, u"\\Docs\\Sub");
}

// ---------------------------------------------------------------------------
// The browse-folder dialog

TEST_F(FolderTreeTest, BrowseFolderDialogOkAndCancel) {
  struct Case {
    std::u16string root, start;
    bool pickParent;
    int command;
    plat::INT_PTR result;
    std::u16string chosen;
  } cases[] = {{u"", u"\\Docs\\Sub", false, plat::IDOK, plat::IDOK, u"\\Docs\\Sub"},
               {u"", u"\\Docs\\Sub", true, plat::IDOK, plat::IDOK, u"\\Docs"},
               {u"\\Docs\\", u"\\Docs\\Other", true, plat::IDOK, plat::IDOK, u"\\Docs"},
               {u"", u"\\Docs\\Sub", false, plat::IDCANCEL, plat::IDCANCEL, u""},
               {u"", u"\\Docs\\Sub", false, kSoftKeyCancel, plat::IDCANCEL, u""}};
  for (const Case& c : cases) {
    BrowseFolderDialog dialog;
    dialog.SetRootFolder(c.root);
    dialog.SetFolderPath(c.start);
    DialogScript script({[&](plat::HWND d) {
      EXPECT_TRUE(dialog.HasLayout());
      plat::HWND view = dialog.GetTree().GetTree();
      // The tree fills the dialog below its header.
      plat::RECT client{}, tree{};
      plat::GetClientRect(d, &client);
      plat::GetWindowRect(dialog.GetTree().GetHwnd(), &tree);
      plat::POINT at{tree.left, tree.top};
      plat::ScreenToClient(d, &at);
      EXPECT_GE(at.y, GetDialogHeaderHeight());
      EXPECT_EQ(tree.bottom - tree.top + at.y, client.bottom);
      if (c.pickParent) {
        plat::HTREEITEM item = Next(view, plat::TVGN_CARET);
        plat::SendMessageW(view, plat::TVM_SELECTITEM, plat::TVGN_CARET,
                           reinterpret_cast<plat::LPARAM>(Next(view, plat::TVGN_PARENT, item)));
      }
      plat::SendMessageW(d, plat::WM_COMMAND, static_cast<plat::WPARAM>(c.command), 0);
    }});
    EXPECT_EQ(dialog.DoModal(nullptr), c.result);
    EXPECT_EQ(dialog.GetFolderPath(), c.chosen) << plat::Utf16ToUtf8(c.start);
  }
}

TEST_F(FolderTreeTest, PicturesOfTheBrowseFolderDialog) {
  MakeFolder(u"\\Storage Card\\Feeds\\Archive");
  for (const ScreenSize& s : kPictureScreens) {
    UseScreen(s.width, s.height, s.dpi);
    BrowseFolderDialog dialog;
    dialog.SetFolderPath(u"\\Docs\\Sub");
    DialogScript script({[&](plat::HWND d) {
      Shot(d, std::string("browse-folder-") + s.tag);
      plat::SendMessageW(d, plat::WM_COMMAND, plat::IDOK, 0);
    }});
    EXPECT_EQ(dialog.DoModal(nullptr), plat::IDOK);
    EXPECT_EQ(dialog.GetFolderPath(), u"\\Docs\\Sub");
  }
}

}  // namespace
}  // namespace pickertest
