// The main window's article layout: the article view covers the window,
// shows the view state's article with the text size of the options, and lets
// go of it when the window goes.
#include <gtest/gtest.h>

#include "app/views/ArticleView.h"
#include "core/Md5.h"
#include "platform/controls/ShellExecute.h"
#include "platform/htmlview/HtmlView.h"
#include "resources/app/resource.h"
#include "tests/app/MainWindowFixture.h"

namespace apptest {
namespace {

class MainWindowArticleTest : public MainWindowTest {
 protected:
  // Three articles with stored pages; their ids are digests of their names.
  void AddArticles() {
    IChannel* channel = AddChannel(u"News");
    ASSERT_NE(channel, nullptr);
    CSyncLock lock(GetChannelSet());
    const plat::ULONGLONG now = plat::CurrentClock().NowUtcFileTime();
    int i = 0;
    for (const char16_t* name : {u"one", u"two", u"three"}) {
      IArticle* a = channel->CreateArticle(GetMd5Hex(name), US_UP_TO_DATE,
                                           plat::ULLToFileTime(now - static_cast<plat::ULONGLONG>(++i) * 36000000000ull));
      ASSERT_NE(a, nullptr);
      a->SetTitle(std::u16string(u"Story ") + name);
      ASSERT_TRUE(channel->SetArticleProperties(a, {{u"body", std::u16string(u"<p>Body of ") + name + u"</p>"}}));
    }
  }
  // The channel "News" opened, then its article of that name, as the lists do.
  void ShowArticle(const char16_t* name) {
    {
      CSyncLock lock(GetChannelSet());
      GetDBViewState()->OpenChannel(u"News");
    }
    Pump();
    {
      CSyncLock lock(GetChannelSet());
      GetDBViewState()->OpenArticle(GetMd5Hex(name));
    }
    Pump();
  }
  // The article view's host among the window's children.
  plat::HWND ArticleHost() {
    for (plat::HWND child = plat::GetWindow(Hwnd(), plat::GW_CHILD); child;
         child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
      char16_t cls[64] = {};
      plat::GetClassNameW(child, cls, 64);
      if (std::u16string(cls) == ArticleViewHost::kClassName) return child;
    }
    return nullptr;
  }
};

TEST_F(MainWindowArticleTest, ArticleLayoutShowsTheArticleViewOverTheWindow) {
  AddArticles();
  GetGlobalOptions().SetHTMLTextSize(3);
  MainWindow& window = Open();
  plat::HWND host = ArticleHost();
  ASSERT_NE(host, nullptr);
  EXPECT_FALSE(plat::IsWindowVisible(host)) << "hidden outside the article layout";
  ShowArticle(u"two");
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticle);
  ASSERT_TRUE(plat::IsWindowVisible(host));
  plat::RECT client{}, shown{};
  plat::GetClientRect(Hwnd(), &client);
  plat::GetClientRect(host, &shown);
  EXPECT_GE(shown.bottom - shown.top, (client.bottom - client.top) * 9 / 10) << "the view covers the window";
  EXPECT_EQ(shown.right - shown.left, client.right - client.left);
  plat::HWND viewer = plat::GetWindow(host, plat::GW_CHILD);
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(plat::IsWindowVisible(viewer));
  // The text size of the options reached the viewer (it answers the size it had).
  EXPECT_EQ(plat::SendMessageW(viewer, plat::DTM_TEXTSIZE, 3, 0), 3);
  {
    CSyncLock lock(GetChannelSet());
    IArticle* two = GetArticleFilter()->FindById(GetMd5Hex(u"two"));
    ASSERT_NE(two, nullptr);
    EXPECT_TRUE(two->GetChannel()->IsArticleRead(two)) << "the shown article is read";
  }
  Pump();
  std::filesystem::create_directories(ORV_APP_SHOTS);
  plat::SaveBitmapPng(plat::GetWindowSurfaceForTesting(Hwnd()), std::string(ORV_APP_SHOTS) + "/main-window-article.png");
  // The window's help request goes to the visible article view, which opens
  // the help file through the desktop.
  std::vector<std::string> opened;
  plat::SetDesktopOpenerForTesting([&opened](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  EXPECT_NE(plat::SendMessageW(host, kArticleHelpMessage, 0, 0), 0);
  plat::SetDesktopOpenerForTesting(nullptr);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_NE(opened[0].find("OrvNews.htm#"), std::string::npos) << opened[0];

  // Back: the list shows again, the view hides.
  Command(ID_BACK);
  EXPECT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticles);
  EXPECT_FALSE(plat::IsWindowVisible(host));
}

TEST_F(MainWindowArticleTest, TheTextSizeMenuChecksTheSizeInUse) {
  AddArticles();
  MainWindow& window = Open();
  ShowArticle(u"one");
  ASSERT_EQ(window.GetLayoutState(), MainWindow::kLayoutArticle);
  // "Largest" (size 4) down to "Smallest" (size 0).
  const int items[] = {ID_TEXT_LARGEST, ID_TEXT_LARGER, ID_TEXT_MEDIUM, ID_TEXT_SMALLER, ID_TEXT_SMALLEST};
  plat::HMENU sizes = plat::CreatePopupMenu();
  for (int id : items) plat::AppendMenuW(sizes, plat::MF_STRING, static_cast<plat::UINT_PTR>(id), u"size");
  auto checkedItems = [&] {
    plat::SendMessageW(Hwnd(), plat::WM_INITMENUPOPUP, reinterpret_cast<plat::WPARAM>(sizes), 0);
    std::vector<int> checked;
    for (int id : items) {
      plat::MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = plat::MIIM_STATE;
      if (plat::GetMenuItemInfoW(sizes, static_cast<plat::UINT>(id), plat::FALSE, &info) &&
          (info.fState & plat::MFS_CHECKED))
        checked.push_back(id);
    }
    return checked;
  };
  for (int id : {ID_TEXT_SMALLER, ID_TEXT_LARGEST, ID_TEXT_MEDIUM}) {
    Command(id);
    EXPECT_EQ(checkedItems(), std::vector<int>{id}) << id;
  }
  plat::DestroyMenu(sizes);
}

}  // namespace
}  // namespace apptest
