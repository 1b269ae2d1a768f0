// Pictures decoded by image loading jobs and handed to a window that lives on
// another thread: taken, left to the job, refused files, cancelled jobs and a
// window that is gone before the job runs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/ImageLoadingJob.h"
#include "core/JobManager.h"
#include "platform/base/Handle.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

constexpr UINT kQuitWindow = WM_USER + 77;  // asks the window thread to end

// What the receiving window does with the result, and what it saw.
struct Receiver {
  bool take = true;
  bool stopDuringMessage = false;
  std::atomic<int> messages{0};
  std::u16string key;
  std::int32_t cookie = 0;
  HBITMAP seen = nullptr;   // the bitmap the job offered
  HBITMAP taken = nullptr;  // what the window took (the test deletes it)
  LPARAM lParam = -1;
  DWORD bitmapType = 0;     // GetObjectType of the offered bitmap during the message
  HANDLE delivered = nullptr;
};

UINT g_imageLoaded = 0;

LRESULT ViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* r = reinterpret_cast<Receiver*>(GetWindowLongPtrW(hwnd, GWL_USERDATA));
  if (msg == g_imageLoaded && r) {
    auto* job = reinterpret_cast<CImageLoadingJob*>(wParam);
    r->key = job->GetKey();
    r->cookie = job->GetCookie();
    r->seen = job->GetBitmap();
    r->bitmapType = GetObjectType(r->seen);
    r->lParam = lParam;
    if (r->stopDuringMessage) {
      job->Stop();
      // The bitmap stays usable while the message is handled.
      r->bitmapType = GetObjectType(r->seen);
    }
    if (r->take) r->taken = job->TakeBitmap();
    ++r->messages;
    SetEvent(r->delivered);
    return 0;
  }
  if (msg == kQuitWindow) {
    DestroyWindow(hwnd);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class ImageLoadingJobTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_imageLoaded = RegisterWindowMessageW(u"MyImageLoaded");
    ASSERT_NE(g_imageLoaded, 0u);
    receiver_.delivered = CreateLocalEvent(TRUE, FALSE);
    WNDCLASSW wc{};
    wc.lpfnWndProc = ViewProc;
    wc.lpszClassName = u"ImageJobTestView";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    StopWindow();
    if (receiver_.taken) DeleteObject(receiver_.taken);
    CloseHandle(receiver_.delivered);
  }

  // Starts the window's own thread, which pumps messages until told to end.
  void StartWindow() {
    HANDLE ready = CreateLocalEvent(TRUE, FALSE);
    ui_ = std::thread([this, ready] {
      window_ = CreateWindowW(u"ImageJobTestView", u"view", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr);
      SetWindowLongPtrW(window_, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&receiver_));
      SetEvent(ready);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    });
    ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
    CloseHandle(ready);
    ASSERT_TRUE(IsWindow(window_));
  }
  void StopWindow() {
    if (!ui_.joinable()) return;
    if (IsWindow(window_)) PostMessageW(window_, kQuitWindow, 0, 0);
    ui_.join();
  }

  std::u16string PutPicture(const std::string& name) {
    imgtest::Pixels px = imgtest::Quadrants(16, 16, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF);
    orvtest::WriteHostFile(device_.FsRoot() + "/" + name, imgtest::Bmp(16, 16, 24, px, false));
    return u"\\" + std::u16string(name.begin(), name.end());
  }

  CImageLoadingJob* MakeJob(const std::u16string& path) {
    auto* job = new CImageLoadingJob(this, path);
    job->SetKey(u"picture-7");
    job->SetCookie(42);
    job->SetTarget(window_, g_imageLoaded);
    return job;
  }

  Receiver receiver_;
  HWND window_ = nullptr;
  std::thread ui_;
};

TEST_F(ImageLoadingJobTest, FixedAnswersOfTheJob) {
  CImageLoadingJob job(this, u"\\a.bmp");
  EXPECT_TRUE(job.IsAutoDelete());
  EXPECT_EQ(job.GetQueue(), 0);
  EXPECT_EQ(job.GetType(), 3);
  EXPECT_FALSE(job.CheckForDuplicates());
  EXPECT_FALSE(job.IsEqual(&job));
  EXPECT_EQ(job.GetKey(), u"");
  EXPECT_EQ(job.GetCookie(), 0);
  EXPECT_EQ(job.GetTargetWindow(), nullptr);
  EXPECT_EQ(job.GetMessage(), 0u);
  EXPECT_EQ(job.GetPath(), u"\\a.bmp");
  EXPECT_EQ(job.GetBitmap(), nullptr);
  EXPECT_EQ(job.GetOwner(), this);
}

// The window takes the bitmap or leaves it; either way nothing is freed twice
// or left behind (the sanitizer checks both).
TEST_F(ImageLoadingJobTest, WindowOnAnotherThreadTakesOrLeavesTheBitmap) {
  for (bool take : {true, false}) {
    SCOPED_TRACE(take ? "taken" : "left");
    receiver_.take = take;
    StartWindow();
    CImageLoadingJob* job = MakeJob(PutPicture("p.bmp"));
    job->Execute();
    EXPECT_EQ(receiver_.messages.load(), 1);
    EXPECT_EQ(receiver_.key, u"picture-7");
    EXPECT_EQ(receiver_.cookie, 42);
    EXPECT_EQ(receiver_.lParam, 0);
    ASSERT_NE(receiver_.seen, nullptr);
    EXPECT_EQ(receiver_.bitmapType, OBJ_BITMAP);
    EXPECT_EQ(job->GetBitmap(), nullptr);
    if (take) {
      ASSERT_EQ(receiver_.taken, receiver_.seen);
      EXPECT_EQ(GetObjectType(receiver_.taken), OBJ_BITMAP);
      BITMAP bm{};
      ASSERT_NE(GetObject(receiver_.taken, sizeof(bm), &bm), 0);
      EXPECT_EQ(bm.bmWidth, 16);
      EXPECT_EQ(bm.bmHeight, 16);
      DeleteObject(receiver_.taken);
    } else {
      EXPECT_EQ(GetObjectType(receiver_.seen), 0u);  // the job deleted it
    }
    receiver_.taken = nullptr;
    delete job;
    StopWindow();
    receiver_.messages = 0;
  }
}

// Files that give no bitmap end the job without a message.
TEST_F(ImageLoadingJobTest, NothingIsSentWithoutAPicture) {
  orvtest::WriteHostFile(device_.FsRoot() + "/broken.bmp", "BM not really a bitmap");
  struct Case {
    const char* name;
    std::u16string path;
  } cases[] = {
      {"empty path", u""},
      {"missing file", u"\\missing.bmp"},
      {"damaged file", u"\\broken.bmp"},
  };
  StartWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CImageLoadingJob* job = MakeJob(c.path);
    job->Execute();
    EXPECT_EQ(job->GetBitmap(), nullptr);
    delete job;
  }
  StopWindow();
  EXPECT_EQ(receiver_.messages.load(), 0);
}

TEST_F(ImageLoadingJobTest, JobWithoutTargetDecodesAndFreesTheBitmap) {
  StartWindow();
  CImageLoadingJob job(this, PutPicture("p.bmp"));
  job.Execute();
  EXPECT_EQ(job.GetBitmap(), nullptr);
  job.SetTarget(window_, 0);  // a window without a message gets nothing either
  job.Execute();
  EXPECT_EQ(job.GetBitmap(), nullptr);
  StopWindow();
  EXPECT_EQ(receiver_.messages.load(), 0);
}

TEST_F(ImageLoadingJobTest, WindowDestroyedBeforeTheJobRuns) {
  StartWindow();
  CImageLoadingJob* job = MakeJob(PutPicture("p.bmp"));
  StopWindow();  // destroys the window
  ASSERT_FALSE(IsWindow(window_));
  job->Execute();
  EXPECT_EQ(job->GetBitmap(), nullptr);
  EXPECT_EQ(receiver_.messages.load(), 0);
  delete job;
}

TEST_F(ImageLoadingJobTest, CancelledBeforeItRunsDoesNothing) {
  StartWindow();
  CImageLoadingJob* job = MakeJob(PutPicture("p.bmp"));
  job->Stop();
  EXPECT_EQ(job->GetPath(), u"");
  job->Execute();
  EXPECT_EQ(job->GetBitmap(), nullptr);
  delete job;
  StopWindow();
  EXPECT_EQ(receiver_.messages.load(), 0);
}

// A cancel that arrives while the window handles the message does not free
// the bitmap under the window; the job frees it afterwards unless taken.
TEST_F(ImageLoadingJobTest, CancelDuringTheMessageKeepsTheBitmapValid) {
  receiver_.take = false;
  receiver_.stopDuringMessage = true;
  StartWindow();
  CImageLoadingJob* job = MakeJob(PutPicture("p.bmp"));
  job->Execute();
  EXPECT_EQ(receiver_.messages.load(), 1);
  EXPECT_EQ(receiver_.bitmapType, OBJ_BITMAP);
  EXPECT_EQ(job->GetBitmap(), nullptr);
  EXPECT_EQ(GetObjectType(receiver_.seen), 0u);
  delete job;
}

// Queued on a job manager at the front: the job thread delivers to the window
// thread and the manager deletes the job afterwards.
TEST_F(ImageLoadingJobTest, RunsOnTheJobManager) {
  StartWindow();
  CJobManager manager;
  manager.AddJob(MakeJob(PutPicture("p.bmp")), true);
  ASSERT_EQ(WaitForSingleObject(receiver_.delivered, 10000), WAIT_OBJECT_0);
  manager.Shutdown();
  EXPECT_EQ(receiver_.messages.load(), 1);
  EXPECT_EQ(receiver_.key, u"picture-7");
  ASSERT_NE(receiver_.taken, nullptr);
  EXPECT_EQ(GetObjectType(receiver_.taken), OBJ_BITMAP);
}

}  // namespace
