// The thumbnails manager and its preparation job: a request runs one job on
// the job manager, which stores the scaled middle of the image for every
// wanted size and tells the listeners; removal, unloading and deleting pools;
// the channel's hooks; bad input.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/ImageDecoder.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "core/STScreenBuffer.h"
#include "core/Scaler.h"
#include "database/Channel.h"
#include "database/ThumbnailsManager.h"
#include "database/ThumbnailsPool.h"
#include "platform/base/Sync.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/imaging/Imaging.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/Wait.h"
#include "tests/database/BlockerJob.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

const std::u16string kFolder = u"\\Content\\News\\bin";

// Records the paths it is told about.
class Listener : public IThumbnailsListener {
 public:
  void OnThumbnailsChanged(const std::u16string& imagePath) override {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(imagePath);
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count, int timeoutMs = 8000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return paths_.size() >= count; });
  }
  std::vector<std::u16string> Paths() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::u16string> paths_;
};

using orvtest::BlockerJob;

struct Bgr {
  int b, g, r;
};

// Pixel (x, y) of the image's thumbnail in the pool.
Bgr ThumbPixel(CThumbnailsPool* pool, const std::u16string& path, int x, int y) {
  int slot = -1;
  EXPECT_TRUE(pool->Lookup(path, &slot));
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectW(pool->GetStrip(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  if (slot < 0 || !ds.dsBm.bmBits) return {-1, -1, -1};
  int row = ds.dsBmih.biHeight < 0 ? y : ds.dsBm.bmHeight - 1 - y;
  const std::uint8_t* p = static_cast<const std::uint8_t*>(ds.dsBm.bmBits) +
                          static_cast<std::ptrdiff_t>(row) * ds.dsBm.bmWidthBytes + (slot * pool->GetSize() + x) * 3;
  return {p[0], p[1], p[2]};
}

// The colour is near argb: the box filter's truncation darkens flat areas by
// a few percent, and a wrong region would be far off.
void ExpectNear(Bgr got, std::uint32_t argb, const char* where) {
  SCOPED_TRACE(where);
  const int want[3] = {static_cast<int>(argb & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                       static_cast<int>((argb >> 16) & 0xFF)};
  const int have[3] = {got.b, got.g, got.r};
  for (int i = 0; i < 3; ++i) {
    EXPECT_LE(have[i], want[i]);
    EXPECT_GE(have[i], want[i] * 90 / 100 - 1);
  }
}

// The thumbnail the image should give: its decoded pixels, cropped by
// CropFor and box-filtered to size x size.
std::vector<Bgr> ReferenceThumb(const std::u16string& path, int size) {
  std::vector<Bgr> out;
  HBITMAP decoded = LoadImageFromFile(path, false);
  CSTScreenBuffer source;
  EXPECT_TRUE(decoded && source.CreateFromBitmap(decoded));
  if (decoded) DeleteObject(decoded);
  int x = 0, y = 0, side = 0;
  CPrepareThumbnailsJob::CropFor(source.GetWidth(), source.GetHeight(), size, &x, &y, &side);
  CSTScreenBuffer target;
  CScaler scaler;
  EXPECT_TRUE(target.CreateBlank(size, size) && scaler.Init(side, side, size, size, &target));
  for (int row = 0; row < side; ++row) scaler.AddSourceRow(source.Row(y + row) + x * 3);
  for (int ty = 0; ty < size; ++ty)
    for (int tx = 0; tx < size; ++tx) {
      const std::uint8_t* p = target.Row(ty) + tx * 3;
      out.push_back({p[0], p[1], p[2]});
    }
  return out;
}

void ExpectReference(CThumbnailsPool* pool, const std::u16string& path) {
  const int size = pool->GetSize();
  std::vector<Bgr> want = ReferenceThumb(path, size);
  ASSERT_EQ(want.size(), static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      Bgr got = ThumbPixel(pool, path, x, y);
      const Bgr& w = want[y * size + x];
      ASSERT_TRUE(got.b == w.b && got.g == w.g && got.r == w.r) << "size " << size << " at " << x << "," << y;
    }
}

constexpr std::uint32_t kLeft = 0xFF2040C0, kRight = 0xFFE0A010, kBorder = 0xFFFF0000, kMiddle = 0xFF00C080;

class ThumbnailsManagerTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateFolderTree(kFolder)); }
  void TearDown() override {
    jobs_.Shutdown();
    for (HANDLE gate : gates_) CloseHandle(gate);
  }

  std::u16string Put(const std::string& name, const std::string& bytes) {
    std::u16string path = kFolder + u"\\" + std::u16string(name.begin(), name.end());
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return path;
  }
  // 64 x 48: the left half one colour, the right half another. The scaled
  // square is columns 8 .. 54, so a thumbnail shows both halves.
  std::u16string HalvesPng(const std::string& name) {
    imgtest::Pixels px(64 * 48);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) px[y * 64 + x] = x < 32 ? kLeft : kRight;
    return Put(name, imgtest::Png(64, 48, px));
  }
  // A thumbnail bitmap of one colour.
  static HBITMAP Solid(int size) {
    DecodedImage image;
    image.width = image.height = size;
    image.pixels.assign(static_cast<std::size_t>(size) * size, 0xFF336699);
    return CreateDibFromImage(image, 24);
  }
  void BlockQueue() {
    // Waits until the blocker runs, so that only the jobs queued after it wait.
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gates_.push_back(started);
    gates_.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    jobs_.AddJob(new BlockerJob(gates_.back(), started));
    ASSERT_EQ(WaitForSingleObject(started, 10000), WAIT_OBJECT_0);
  }
  void Unblock() {
    SetEvent(gates_.back());
  }

  CJobManager jobs_;
  std::vector<HANDLE> gates_;  // events of the blockers, closed once the job threads have ended
};

TEST(ThumbnailsCropTest, CentredSquareShrunkToEightTimesTheSize) {
  struct Case {
    int w, h, s, x, y, side;
  };
  const Case cases[] = {
      {640, 480, 27, 211, 131, 217},  // crop 479 from column 80, then 131 off every side
      {480, 640, 27, 131, 211, 217},
      {100, 60, 27, 20, 0, 59},       // no larger than 8 x S: scaled whole
      {50, 50, 8, 0, 0, 49},
      {200, 100, 5, 79, 29, 41},
  };
  for (const Case& c : cases) {
    int x = -1, y = -1, side = -1;
    CPrepareThumbnailsJob::CropFor(c.w, c.h, c.s, &x, &y, &side);
    EXPECT_EQ(x, c.x) << c.w << "x" << c.h;
    EXPECT_EQ(y, c.y) << c.w << "x" << c.h;
    EXPECT_EQ(side, c.side) << c.w << "x" << c.h;
  }
}

TEST_F(ThumbnailsManagerTest, RequestRunsOneJobThatStoresEverySize) {
  CThumbnailsManager manager(&jobs_);
  Listener listener;
  ASSERT_TRUE(manager.AddListener(&listener));
  manager.AddSize(12);
  const std::u16string image = HalvesPng("halves.png");

  CThumbnailsPool* pool = nullptr;
  EXPECT_FALSE(manager.GetThumbnail(image, 8, &pool));
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->GetSize(), 8);
  ASSERT_TRUE(listener.WaitFor(2));  // one call per size
  for (const auto& p : listener.Paths()) EXPECT_EQ(p, image);
  orvtest::Eventually([&] { return !manager.IsInPreparation(image); });
  EXPECT_FALSE(manager.IsInPreparation(image));

  std::vector<int> sizes;
  manager.GetSizes(sizes);
  EXPECT_EQ(sizes, (std::vector<int>{8, 12}));
  ASSERT_TRUE(manager.GetThumbnail(image, 8, &pool));
  ExpectNear(ThumbPixel(pool, image, 0, 0), kLeft, "8: top left");
  ExpectNear(ThumbPixel(pool, image, 2, 7), kLeft, "8: bottom left");
  ExpectNear(ThumbPixel(pool, image, 7, 3), kRight, "8: right");
  ASSERT_TRUE(manager.GetThumbnail(image, 12, &pool));
  ExpectNear(ThumbPixel(pool, image, 1, 6), kLeft, "12: left");
  ExpectNear(ThumbPixel(pool, image, 11, 11), kRight, "12: right");
  ExpectReference(pool, image);
  ASSERT_TRUE(manager.GetThumbnail(image, 8, &pool));
  ExpectReference(pool, image);
  EXPECT_TRUE(manager.Contains(image, 12));
  EXPECT_EQ(listener.Paths().size(), 2u);  // found thumbnails queue nothing
  manager.RemoveListener(&listener);
}

TEST_F(ThumbnailsManagerTest, LargePictureShowsItsMiddle) {
  CThumbnailsManager manager(&jobs_);
  Listener listener;
  manager.AddListener(&listener);
  // 200 x 100 at S = 5: the scaled square is columns 79 .. 119, rows 29 .. 69.
  imgtest::Pixels px(200 * 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) px[y * 200 + x] = (x >= 79 && x < 120 && y >= 29 && y < 70) ? kMiddle : kBorder;
  const std::u16string image = Put("wide.png", imgtest::Png(200, 100, px));
  CThumbnailsPool* pool = nullptr;
  EXPECT_FALSE(manager.GetThumbnail(image, 5, &pool));
  ASSERT_TRUE(listener.WaitFor(1));
  ASSERT_TRUE(manager.GetThumbnail(image, 5, &pool));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ExpectNear(ThumbPixel(pool, image, x, y), kMiddle, "middle");
  ExpectReference(pool, image);
  manager.RemoveListener(&listener);
}

TEST_F(ThumbnailsManagerTest, SecondRequestForTheSameImageQueuesNothing) {
  CThumbnailsManager manager(&jobs_);
  manager.AddSize(8);
  const std::u16string image = HalvesPng("twice.png");
  BlockQueue();
  manager.RequestPreparation(image);
  EXPECT_FALSE(manager.GetThumbnail(image, 8, nullptr));
  manager.RequestPreparation(u"\\CONTENT\\news\\BIN\\twice.PNG");
  EXPECT_TRUE(manager.IsInPreparation(image));
  EXPECT_EQ(jobs_.GetPendingCount(), 1u);
  manager.RequestPreparation(HalvesPng("other.png"));
  EXPECT_EQ(jobs_.GetPendingCount(), 2u);
  Unblock();
}

TEST_F(ThumbnailsManagerTest, StoppedJobStoresNothingAndFreesTheImage) {
  CThumbnailsManager manager(&jobs_);
  manager.AddSize(8);
  const std::u16string image = HalvesPng("stop.png");
  manager.RequestPreparation(HalvesPng("unused.png"));  // a job of the same owner that runs
  {
    BlockQueue();
    manager.RequestPreparation(image);
    EXPECT_TRUE(manager.IsInPreparation(image));
    // Cancelling removes and deletes the waiting job: the image is free again.
    jobs_.CancelJobs(&manager);
    EXPECT_FALSE(manager.IsInPreparation(image));
    Unblock();
  }
  // A job told to stop before it runs makes nothing.
  auto* job = new CPrepareThumbnailsJob(&manager, image);
  job->Stop();
  EXPECT_TRUE(job->GetPath().empty());
  job->Execute();
  delete job;
  EXPECT_FALSE(manager.Contains(image, 8));
  EXPECT_FALSE(manager.IsInPreparation(image));
  // A later request queues a new job, which does the work.
  Listener listener;
  manager.AddListener(&listener);
  EXPECT_FALSE(manager.GetThumbnail(image, 8, nullptr));
  ASSERT_TRUE(listener.WaitFor(1));
  EXPECT_TRUE(manager.Contains(image, 8));
  manager.RemoveListener(&listener);
}

TEST_F(ThumbnailsManagerTest, JobsAreEqualForTheSameImageIgnoringCase) {
  CThumbnailsManager manager(&jobs_);
  CPrepareThumbnailsJob a(&manager, kFolder + u"\\a.png");
  CPrepareThumbnailsJob b(&manager, kFolder + u"\\A.PNG");
  CPrepareThumbnailsJob c(&manager, kFolder + u"\\c.png");
  EXPECT_TRUE(a.IsEqual(&b));
  EXPECT_FALSE(a.IsEqual(&c));
  EXPECT_EQ(a.GetQueue(), 0);
  EXPECT_EQ(a.GetType(), 4);
}

TEST_F(ThumbnailsManagerTest, UndecodableImageEndsItsJobAndMayBeAskedAgain) {
  CThumbnailsManager manager(&jobs_);
  const std::u16string image = Put("broken.jpg", std::string(300, 'z'));
  manager.AddSize(8);
  CPrepareThumbnailsJob job(&manager, image);
  job.Execute();
  EXPECT_FALSE(manager.Contains(image, 8));
  BlockQueue();
  manager.RequestPreparation(image);
  EXPECT_TRUE(manager.IsInPreparation(image));
  Unblock();
  orvtest::Eventually([&] { return !manager.IsInPreparation(image); });
  EXPECT_FALSE(manager.IsInPreparation(image));
  EXPECT_FALSE(manager.Contains(image, 8));
}

TEST_F(ThumbnailsManagerTest, BadInputIsRefused) {
  CThumbnailsManager manager(&jobs_);
  CThumbnailsPool* pool = reinterpret_cast<CThumbnailsPool*>(&manager);
  EXPECT_FALSE(manager.GetThumbnail(u"", 8, &pool));
  EXPECT_EQ(pool, nullptr);
  EXPECT_FALSE(manager.GetThumbnail(u"picture.png", 8, &pool));  // no folder
  EXPECT_FALSE(manager.IsInPreparation(u"picture.png"));
  EXPECT_FALSE(manager.GetThumbnail(kFolder + u"\\a.png", 4, &pool));
  EXPECT_FALSE(manager.IsInPreparation(kFolder + u"\\a.png"));
  EXPECT_FALSE(manager.Contains(kFolder + u"\\a.png", 4));
  HBITMAP none = nullptr;
  EXPECT_FALSE(manager.Add(kFolder + u"\\a.png", 8, none));
  HBITMAP wrong = Solid(9);
  EXPECT_FALSE(manager.Add(kFolder + u"\\a.png", 8, wrong));
  ASSERT_NE(wrong, nullptr);  // still the caller's
  EXPECT_TRUE(DeleteObject(wrong));
}

TEST_F(ThumbnailsManagerTest, AddRemoveAndTheChannelHooks) {
  Listener listener;
  const std::u16string image = kFolder + u"\\direct.png";
  {
    CThumbnailsManager manager(&jobs_);
    manager.AddListener(&listener);
    HBITMAP thumb = Solid(8);
    ASSERT_TRUE(manager.Add(image, 8, thumb));
    EXPECT_EQ(thumb, nullptr);
    EXPECT_TRUE(manager.Contains(image, 8));
    ASSERT_EQ(listener.Paths().size(), 1u);

    // The channel drops thumbnails of a deleted article through its hook.
    CChannel channel;
    channel.RemoveThumbnails(image);
    EXPECT_FALSE(manager.Contains(image, 8));
    ASSERT_EQ(listener.Paths().size(), 2u);
    EXPECT_EQ(listener.Paths()[1], image);
    EXPECT_FALSE(manager.Remove(image));
    EXPECT_EQ(listener.Paths().size(), 2u);
    manager.RemoveListener(&listener);
  }
  // With the manager gone the hook is cleared: nothing is reached.
  CChannel channel;
  channel.RemoveThumbnails(image);
  EXPECT_EQ(listener.Paths().size(), 2u);
}

TEST_F(ThumbnailsManagerTest, UnloadPoolsSavesAndRemovePoolsDeletes) {
  const std::u16string other = u"\\Content\\Other\\bin";
  ASSERT_TRUE(CreateFolderTree(other));
  CThumbnailsManager manager(&jobs_);
  const std::u16string a = kFolder + u"\\a.png";
  const std::u16string b = other + u"\\b.png";
  HBITMAP t1 = Solid(8), t2 = Solid(8), t3 = Solid(16);
  ASSERT_TRUE(manager.Add(a, 8, t1));
  ASSERT_TRUE(manager.Add(a, 16, t3));
  ASSERT_TRUE(manager.Add(b, 8, t2));
  EXPECT_EQ(manager.GetLoadedFolders().size(), 2u);
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(kFolder, 8)));

  // The channel unloads its folder's pools through its hook: they are saved.
  manager.UnloadPools(u"\\CONTENT\\News\\Bin\\");
  EXPECT_EQ(manager.GetLoadedFolders(), (std::vector<std::u16string>{NormalizeThumbnailPath(other)}));
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  EXPECT_TRUE(FileExists(ThumbnailsStripPath(kFolder, 16)));
  EXPECT_TRUE(manager.Contains(a, 16));  // read back from the files

  manager.UnloadPools(u"");
  EXPECT_TRUE(manager.GetLoadedFolders().empty());
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(other, 8)));

  // A folder not used since it was unloaded loses its files too.
  manager.RemovePools(other);
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(other, 8)));
  EXPECT_FALSE(FileExists(ThumbnailsStripPath(other, 8)));
  EXPECT_TRUE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  EXPECT_TRUE(manager.Contains(a, 8));
  manager.RemovePools(u"");
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(kFolder, 8)));
  EXPECT_FALSE(FileExists(ThumbnailsIndexPath(kFolder, 16)));
  EXPECT_FALSE(FileExists(ThumbnailsStripPath(kFolder, 16)));
  EXPECT_FALSE(manager.Contains(a, 8));
}

TEST_F(ThumbnailsManagerTest, DestroyingTheManagerWaitsForItsJobs) {
  Listener listener;
  {
    CThumbnailsManager manager(&jobs_);
    manager.AddSize(8);
    manager.AddSize(16);
    for (int i = 0; i < 4; ++i) manager.RequestPreparation(HalvesPng("p" + std::to_string(i) + ".png"));
  }  // under ASan a job reaching a destroyed manager would show here
  EXPECT_EQ(jobs_.GetPendingCount(), 0u);
}

}  // namespace
