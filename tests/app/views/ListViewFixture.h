// Shared set-up of the list view tests: a device of their own with a small
// screen, channels and articles made through the feed database, the views
// asking a test instead of a user, and 16-bit bitmaps to paint rows into.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/views/ArticlesView.h"
#include "app/views/ChannelsView.h"
#include "core/BitmapBuffer.h"
#include "database/ArticleFilter.h"
#include "database/ChannelSet.h"
#include "database/ChannelsFilter.h"
#include "database/ViewState.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Menus.h"
#include "tests/app/PocketPcScreen.h"
#include "tests/layout/LayoutFixture.h"
#include "tests/support/TempDevice.h"

namespace apptest {

// One item of a pop-up menu as the user sees it: id 0 is a separator.
struct MenuItem {
  plat::UINT id;
  std::u16string text;
  bool greyed;
  friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

inline std::vector<MenuItem> ReadMenu(plat::HMENU menu) {
  std::vector<MenuItem> items;
  const int count = plat::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    char16_t text[128] = {};
    plat::MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = plat::MIIM_ID | plat::MIIM_STATE | plat::MIIM_FTYPE | plat::MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 127;
    plat::GetMenuItemInfoW(menu, static_cast<plat::UINT>(i), plat::TRUE, &info);
    if (info.fType & plat::MFT_SEPARATOR) {
      items.push_back({0, u"", false});
    } else {
      items.push_back({info.wID, text, (info.fState & plat::MFS_GRAYED) != 0});
    }
  }
  return items;
}

inline void PrintTo(const MenuItem& item, std::ostream* os) {
  *os << "{" << item.id << ", \"" << plat::Utf16ToUtf8(item.text) << "\"" << (item.greyed ? ", greyed" : "") << "}";
}

// Answers of the test in place of the user: the questions asked, the menus
// shown (read as items) and the choice made in them.
struct ScriptedUi {
  bool answer = true;
  std::vector<std::u16string> questions;
  std::vector<std::vector<MenuItem>> menus;
  plat::UINT choice = 0;
  std::function<void()> whileMenuOpen;

  ListViewUi Make() {
    ListViewUi ui;
    ui.confirm = [this](plat::HWND, const std::u16string& text) {
      questions.push_back(text);
      return answer;
    };
    ui.trackMenu = [this](plat::HMENU menu, plat::HWND, plat::POINT) {
      menus.push_back(ReadMenu(menu));
      if (whileMenuOpen) whileMenuOpen();
      return choice;
    };
    return ui;
  }
};

// A 16-bit picture of painted rows.
inline std::unique_ptr<CBitmapBuffer> MakeBitmap(int width, int height, plat::COLORREF fill) {
  auto buffer = std::make_unique<CBitmapBuffer>();
  EXPECT_TRUE(buffer->Create(width, height, CBitmapBuffer::kRgb565));
  buffer->FillRectAlpha(0, 0, width, height, fill, 255);
  return buffer;
}

inline std::uint16_t Pixel(const CBitmapBuffer& buffer, int x, int y) {
  return reinterpret_cast<const std::uint16_t*>(buffer.Row(y))[x];
}

// Pixels of the rectangle that differ from the colour.
inline int CountOther(const CBitmapBuffer& buffer, const plat::RECT& r, plat::COLORREF colour) {
  const std::uint16_t c = ColorToRgb565(colour);
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += Pixel(buffer, x, y) != c;
  return n;
}

// Pictures go where the layout tests keep theirs (ORV_SCREEN_SHOTS).
using layouttest::ShootBitmap;

class ListViewTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { UseScreen(240, 320, 96); }
  void TearDown() override {
    for (IChannel* channel : used_) {
      CSyncLock lock(set_, u"ListViewTest");
      channel->Release(this, true);
    }
    used_.clear();
    {
      // The device goes with the test: the process's set lets go of its
      // channels, so the next test's Open reads that test's own device.
      CSyncLock lock(set_, u"ListViewTest");
      set_->RemoveAll();
    }
    apptest::ResetPocketPcScreen();
  }
  void UseScreen(int width, int height, int dpi) {
    apptest::UsePocketPcScreen(width, height, dpi);
    set_ = GetChannelSet();
    CSyncLock lock(set_, u"ListViewTest");
    ASSERT_TRUE(set_->Open());
  }

  // A channel of the set with unread articles of these titles, the first
  // the newest; the test uses it until its end.
  IChannel* AddChannel(const std::u16string& name, const std::u16string& type,
                       const std::vector<std::u16string>& titles) {
    CSyncLock lock(set_, u"ListViewTest");
    IChannel* channel = set_->Add(name);
    EXPECT_NE(channel, nullptr);
    if (!channel) return nullptr;
    if (!type.empty()) channel->SetProperty(u"@type", type);
    channel->Acquire(this);
    used_.push_back(channel);
    const plat::ULONGLONG now = plat::CurrentClock().NowUtcFileTime();
    for (std::size_t i = 0; i < titles.size(); ++i) {
      IArticle* article = channel->CreateArticle(IdOf(name, i), US_UP_TO_DATE,
                                                 plat::ULLToFileTime(now - (i + 1) * 36000000000ull));
      EXPECT_NE(article, nullptr);
      if (article) article->SetTitle(titles[i]);
    }
    return channel;
  }
  // Article ids: 32 hex digits from the channel's first letter and the index.
  static std::u16string IdOf(const std::u16string& channel, std::size_t index) {
    std::u16string id(32, u'0');
    const char16_t hex[] = u"0123456789abcdef";
    id[0] = hex[channel.empty() ? 0 : channel[0] % 16];
    id[31] = hex[index % 16];
    id[30] = hex[(index / 16) % 16];
    return id;
  }
  // Shows the channel's articles as the main window does when it is opened.
  void OpenChannel(const std::u16string& name) {
    CDBViewState* state = GetDBViewState();
    state->SetCurrentArticleID(u"");
    state->OpenChannel(name);
  }

  CChannelSet* set_ = nullptr;
  std::vector<IChannel*> used_;
};

}  // namespace apptest
