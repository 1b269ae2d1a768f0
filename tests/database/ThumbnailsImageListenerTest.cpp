// The channel image listener: which image of a finished article is chosen
// and handed to the thumbnails manager, and when nothing is.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/FileUtils.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "database/ChannelImageListener.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/ThumbnailsManager.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "tests/database/BlockerJob.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

const std::u16string kBin = u"\\Content\\News\\bin";

// Binaries by URL: the downloaded file of each, empty when not downloaded.
class FakeBinaries : public IBinarySet, public CUpdateItem {
 public:
  std::map<std::u16string, std::u16string> files;

  IChannel* GetChannel() override { return nullptr; }
  void GetFolder(std::u16string& folder) override { folder = kBin; }
  void AddUrl(const std::u16string& url) override { files[url]; }
  void AddUrls(const CStringSet& urls) override {
    for (const auto& u : urls) files[u];
  }
  void RemoveUrl(const std::u16string& url) override { files.erase(url); }
  void RemoveUrls(const CStringSet& urls) override {
    for (const auto& u : urls) files.erase(u);
  }
  IBinary* Lookup(const std::u16string&) override { return nullptr; }
  void SetUrls(const CStringSet&) override {}
  void CopyEntries(CStringSet& urls) override {
    for (const auto& f : files) urls.insert(f.first);
  }
  bool IsEmpty() override { return files.empty(); }
  bool GetDownloadedFile(const std::u16string& url, std::u16string& path) override {
    auto it = files.find(url);
    if (it == files.end() || it->second.empty()) return false;
    path = it->second;
    return true;
  }
  void RemoveAll() override { files.clear(); }
};

class FakeArticle : public IArticle, public CUpdateItem {
 public:
  FakeBinaries binaries;
  std::u16string imageUrl;
  std::u16string empty;
  int imageSets = 0;

  IChannel* GetChannel() override { return nullptr; }
  bool Read(CBaseReader&) override { return false; }
  bool Write(CBaseWriter&) override { return false; }
  const std::u16string& GetId() override { return empty; }
  const std::u16string& GetSecondDigest() override { return empty; }
  void SetSecondDigest(const std::u16string&) override {}
  bool GetDate(FILETIME&) override { return false; }
  void SetDate(const FILETIME&) override {}
  void GetDateText(std::u16string& text) override { text.clear(); }
  const std::u16string& GetTitle() override { return empty; }
  void SetTitle(const std::u16string&) override {}
  const std::u16string& GetImageUrl() override { return imageUrl; }
  void SetImageUrl(const std::u16string& url) override {
    imageUrl = url;
    ++imageSets;
  }
  std::uint32_t GetOrder() override { return 0; }
  void SetOrder(std::uint32_t) override {}
  IBinarySet* GetBinaries() override { return &binaries; }
  void Delete() override {}
  bool IsDeleted() override { return false; }
  void Forget() override {}
  std::uint8_t GetManualUpdate() override { return 0; }
  void SetManualUpdate(bool) override {}
  void NotifyChanged() override {}
};

using orvtest::BlockerJob;

class ThumbnailsImageListenerTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFolderTree(kBin));
    // Jobs stay queued, so that every request can be seen.
    gate_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    jobs_.AddJob(new BlockerJob(gate_, started_));
    ASSERT_EQ(WaitForSingleObject(started_, 10000), WAIT_OBJECT_0);
  }
  void TearDown() override {
    SetEvent(gate_);
    jobs_.Shutdown();
    CloseHandle(gate_);
    CloseHandle(started_);
  }
  std::u16string File(const std::string& name, std::size_t bytes) {
    std::u16string path = kBin + u"\\" + std::u16string(name.begin(), name.end());
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    std::string data(bytes, 'x');
    DWORD written = 0;
    if (bytes) WriteFile(h, data.data(), static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(h);
    return path;
  }
  static void Fire(CDBEventListener& to, IArticle* article, std::uint32_t type = DBE_ARTICLE_DONE) {
    CDBEvent record = CDBEvent::ForArticle(type, article);
    to.OnDBEvent(&record);
  }

  CJobManager jobs_;
  HANDLE gate_ = nullptr;
  HANDLE started_ = nullptr;
};

TEST_F(ThumbnailsImageListenerTest, OwnDownloadedImageIsPrepared) {
  CThumbnailsManager manager(&jobs_);
  CChannelImageListener listener(nullptr, &manager);
  FakeArticle article;
  article.SetUpdateState(US_UP_TO_DATE);
  article.imageUrl = u"http://x/own.jpg";
  const std::u16string own = File("own.jpg", 100);  // small, but the article's own
  article.binaries.files[u"http://x/own.jpg"] = own;
  article.binaries.files[u"http://x/big.jpg"] = File("big.jpg", 5000);
  Fire(listener, &article);
  EXPECT_TRUE(manager.IsInPreparation(own));
  EXPECT_FALSE(manager.IsInPreparation(kBin + u"\\big.jpg"));
  EXPECT_EQ(article.imageUrl, u"http://x/own.jpg");
  EXPECT_EQ(jobs_.GetPendingCount(), 1u);
}

TEST_F(ThumbnailsImageListenerTest, LargestDownloadAbove700BytesStandsIn) {
  CThumbnailsManager manager(&jobs_);
  CChannelImageListener listener(nullptr, &manager);
  FakeArticle article;
  article.SetUpdateState(US_CHILD_FAILED);
  article.imageUrl = u"http://x/missing.jpg";
  article.binaries.files[u"http://x/missing.jpg"] = u"";
  article.binaries.files[u"http://x/a.jpg"] = File("a.jpg", 700);
  article.binaries.files[u"http://x/b.jpg"] = File("b.jpg", 1500);
  const std::u16string c = File("c.jpg", 2100);
  article.binaries.files[u"http://x/c.jpg"] = c;
  article.binaries.files[u"http://x/gone.jpg"] = kBin + u"\\gone.jpg";  // listed, file missing
  Fire(listener, &article);
  EXPECT_EQ(article.imageUrl, u"http://x/c.jpg");
  EXPECT_TRUE(manager.IsInPreparation(c));
  EXPECT_EQ(jobs_.GetPendingCount(), 1u);
}

TEST_F(ThumbnailsImageListenerTest, NothingIsChosenOtherwise) {
  CThumbnailsManager manager(&jobs_);
  CChannelImageListener listener(nullptr, &manager);
  struct Case {
    const char* name;
    std::uint32_t state;
    std::uint32_t type;
    std::size_t bytes;  // of the one downloaded binary; 0: none listed
  };
  const Case cases[] = {
      {"only 700 bytes", US_UP_TO_DATE, DBE_ARTICLE_DONE, 700},
      {"empty file", US_UP_TO_DATE, DBE_ARTICLE_DONE, 1},
      {"no binaries", US_UP_TO_DATE, DBE_ARTICLE_DONE, 0},
      {"still waiting", US_WAITING, DBE_ARTICLE_DONE, 5000},
      {"failed", US_FAILED, DBE_ARTICLE_DONE, 5000},
      {"another event", US_UP_TO_DATE, DBE_ARTICLE_UPDATE_ENDED, 5000},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeArticle article;
    article.SetUpdateState(c.state);
    std::u16string file;
    if (c.bytes) {
      file = File("f" + std::to_string(n++) + ".jpg", c.bytes == 1 ? 0 : c.bytes);
      article.binaries.files[u"http://x/" + file] = file;
    }
    Fire(listener, &article, c.type);
    EXPECT_EQ(article.imageSets, 0);
    if (!file.empty()) {
      EXPECT_FALSE(manager.IsInPreparation(file));
    }
  }
  EXPECT_EQ(jobs_.GetPendingCount(), 0u);
}

TEST_F(ThumbnailsImageListenerTest, ListensToTheChannelSetWhileItLives) {
  CChannelSet set;
  CThumbnailsManager manager(&jobs_);
  const std::size_t before = set.GetListenerCount();
  FakeArticle article;
  article.SetUpdateState(US_UP_TO_DATE);
  const std::u16string file = File("set.png", 900);
  article.binaries.files[u"http://x/set.png"] = file;
  {
    CChannelImageListener listener(&set, &manager);
    EXPECT_EQ(set.GetListenerCount(), before + 1);
    CDBEvent record = CDBEvent::ForArticle(DBE_ARTICLE_DONE, &article);
    set.Fire(&record);
    EXPECT_TRUE(manager.IsInPreparation(file));
  }
  EXPECT_EQ(set.GetListenerCount(), before);
}

// The program's listener is made once, on the program's channel set.
TEST_F(ThumbnailsImageListenerTest, ProgramListenerIsMadeOnceOnTheChannelSet) {
  CChannelSet* set = GetChannelSet();
  CChannelImageListener* listener = GetChannelImageListener();
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(GetChannelImageListener(), listener);
  EXPECT_EQ(CChannelImageListener::GetInstance(), listener);
  CSyncLock lock(set, u"ThumbnailsImageListenerTest");
  const std::size_t count = set->GetListenerCount();
  listener->Unsubscribe(set);
  EXPECT_EQ(set->GetListenerCount(), count - 1);  // it was subscribed
  listener->Subscribe(set);
  EXPECT_EQ(set->GetListenerCount(), count);
}

}  // namespace
