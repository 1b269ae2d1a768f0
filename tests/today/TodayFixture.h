// A device with a content folder of channels for the Today item's tests: a
// writer (as the main program) fills channels with articles through its own
// channel set, and the item reads them with a data thread of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Md5.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"
#include "today/HDBThread.h"

namespace todaytest {

inline std::u16string U(const std::string& s) { return plat::Utf8ToUtf16(s); }

// One article to write: title, read or not.
struct ArticleSpec {
  std::u16string title;
  bool read = false;
};

class TodayFixture : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Content"));
    plat::CreateDirectoryW(u"\\Content", nullptr);
    writer_ = std::make_unique<CChannelSet>();
    ASSERT_TRUE(writer_->Open());
    CTodayChannelFilter::GetInstance()->Load();
  }

  void TearDown() override {
    data_.reset();
    reader_.reset();
    writer_.reset();
  }

  static std::u16string IdOf(const std::u16string& channel, int i) {
    return GetMd5Hex(channel + u"#" + U(std::to_string(i)));
  }

  // Writes the articles into the channel (made when missing), newest first,
  // and saves; the writer's save notifies the item as the main program's does.
  void WriteChannel(const std::u16string& name, const std::vector<ArticleSpec>& articles, int firstIndex = 0) {
    CSyncLock lock(writer_.get());
    IChannel* channel = writer_->FindByName(name);
    if (!channel) channel = writer_->Add(name);
    ASSERT_NE(channel, nullptr);
    channel->Acquire(this);
    const plat::ULONGLONG now = plat::CurrentClock().NowUtcFileTime();
    for (std::size_t i = 0; i < articles.size(); ++i) {
      const int index = firstIndex + static_cast<int>(i);
      IArticle* article = channel->CreateArticle(
          IdOf(name, index), US_UP_TO_DATE,
          plat::ULLToFileTime(now - static_cast<plat::ULONGLONG>(articles.size() - i) * 600000000ull +
                              static_cast<plat::ULONGLONG>(firstIndex) * 6000000000ull));
      ASSERT_NE(article, nullptr);
      article->SetTitle(articles[i].title);
      if (articles[i].read) channel->SetArticleRead(article, true);
    }
    channel->MarkHeadersDirty();
    channel->Release(this, true);
  }

  // Starts the item's data thread on a channel set of its own.
  void StartItem() {
    reader_ = std::make_unique<CChannelSet>();
    data_ = std::make_unique<CHDBThread>(reader_.get());
    ASSERT_TRUE(data_->IsRunning());
    data_->Start();
  }

  // The titles the item's filter holds, in its order.
  std::vector<std::u16string> Titles() {
    std::vector<std::u16string> titles;
    CSyncLock lock(reader_.get());
    CUnreadArticleFilter* filter = data_->GetFilter();
    for (int i = 0; i < filter->GetCount(); ++i) titles.push_back(filter->GetAt(i)->GetTitle());
    return titles;
  }

  bool WaitForStatus(int status) {
    return orvtest::Eventually([&] { return data_->GetStatus() == status; }, 20000);
  }

  std::unique_ptr<CChannelSet> writer_;
  std::unique_ptr<CChannelSet> reader_;
  std::unique_ptr<CHDBThread> data_;
};

}  // namespace todaytest
