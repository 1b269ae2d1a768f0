// The Today item's refresh after a change notice for one channel, in a
// content folder of 300 channels of 50 articles each, all shown: the data
// thread's reload of the channel into the unread filter, and what the host's
// UI thread then spends (the status and a repaint of the list view, the
// heavier of the two views). Goal: at most 20 ms of the UI thread.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/windows/Windows.h"
#include "today/HDBThread.h"
#include "today/TodayViews.h"

namespace {

constexpr int kChannels = 300;
constexpr int kArticles = 50;
constexpr int kRounds = 30;
constexpr char16_t kContent[] = u"\\Content";

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::u16string Num(int n) { return plat::Utf8ToUtf16(std::to_string(n)); }

// The first channel is filled article by article, the others get copies of
// its files.
int Build() {
  CChannelSet set;
  if (!set.Open()) return 2;
  IChannel* first = nullptr;
  for (int c = 0; c < kChannels; ++c) {
    IChannel* channel = set.Add(u"Channel " + Num(c));
    if (channel == nullptr) return 3;
    channel->GetOptions()->SetUseDefaultLimits(0);
    channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
    channel->GetOptions()->SetArticlesCountLimitEnabled(0);
    channel->GetOptions()->OnChanged();
    if (first != nullptr) {
      for (const char16_t* file : {u"headers.bin", u"unread.bin", u"data.bin", u"dataidx.bin"}) {
        const std::u16string from = CombinePath(first->GetDataFolder(), file);
        if (FileExists(from) && !CopyFileReplacing(from, CombinePath(channel->GetDataFolder(), file))) return 5;
      }
      continue;
    }
    first = channel;
    channel->Acquire(&set);
    for (int a = 0; a < kArticles; ++a) {
      IArticle* article = channel->CreateArticle(
          GetMd5Hex(u"article " + Num(a)), US_UP_TO_DATE,
          plat::ULLToFileTime(plat::CurrentClock().NowUtcFileTime() - static_cast<std::uint64_t>(a) * 600000000ull));
      if (article == nullptr) return 4;
      article->SetTitle(u"A headline of moderate length, number " + Num(a));
    }
    channel->MarkHeadersDirty();
    channel->Release(&set, true);
  }
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
  const std::string root = bench::MakeTempDevice();
  if (root.empty()) return 1;
  CreateFolderTree(kContent);
  GetGlobalOptions().SetContentFolder(kContent, u"");
  const pid_t child = fork();
  if (child == 0) _exit(Build());
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("building the content folder failed (%d)\n", status);
    return 1;
  }
  const std::u16string todayKey = GetTodayRegistryKey();
  CVORegistry(GetSettingsRootKey(), todayKey.c_str(), true, true, plat::KEY_ALL_ACCESS).SetDWORD(u"ViewStyle", 1);

  int result = 0;
  {
    CChannelSet set;
    CHDBThread data(&set);
    data.Start();
    const auto loadStart = std::chrono::steady_clock::now();
    for (;;) {
      {
        CSyncLock lock(&set);
        if (data.GetFilter()->GetCount() >= kChannels * kArticles) break;
      }
      if (MsSince(loadStart) > 300000) {
        std::printf("the item did not load everything\n");
        return 1;
      }
      plat::Sleep(5);
    }
    std::printf("item loaded %d channels x %d articles in %.0f ms\n", kChannels, kArticles, MsSince(loadStart));

    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = plat::DefWindowProcW;
    wc.lpszClassName = u"BenchTodayItem";
    plat::RegisterClassW(&wc);
    const int width = plat::GetSystemMetrics(0);
    plat::HWND window = plat::CreateWindowExW(0, wc.lpszClassName, u"", plat::WS_VISIBLE, 0, 0, width, 10, nullptr,
                                              nullptr, nullptr, nullptr);
    CViewList view(window, &data, nullptr);
    const int height = view.GetHeight();
    plat::MoveWindow(window, 0, 0, width, height, plat::FALSE);
    plat::HDC screen = plat::GetDC(nullptr);
    plat::HDC dc = plat::CreateCompatibleDC(screen);
    plat::HBITMAP bitmap = plat::CreateCompatibleBitmap(screen, width, height);
    plat::HGDIOBJ old = plat::SelectObject(dc, bitmap);
    const plat::RECT rect{0, 0, width, height};
    view.Paint(dc, rect);  // fonts and skins made once, as after the first paint

    std::vector<double> reload, ui;
    for (int round = 0; round < kRounds; ++round) {
      IChannel* channel = nullptr;
      {
        // The data thread's part: the named channel read again from disk.
        CSyncLock lock(&set);
        channel = set.GetAt((round * 37) % set.GetCount());
        const auto start = std::chrono::steady_clock::now();
        data.GetFilter()->RefreshChannel(channel);
        reload.push_back(MsSince(start));
      }
      // The host's UI thread: the repaint the filter's change asks for.
      const auto start = std::chrono::steady_clock::now();
      data.GetStatus();
      view.Paint(dc, rect);
      ui.push_back(MsSince(start));
    }
    plat::SelectObject(dc, old);
    plat::DeleteObject(bitmap);
    plat::DeleteDC(dc);
    plat::ReleaseDC(nullptr, screen);
    const double uiMedian = Median(ui), uiMax = *std::max_element(ui.begin(), ui.end());
    std::printf("data thread, one channel reloaded into the filter: median %.2f ms, max %.2f ms\n", Median(reload),
                *std::max_element(reload.begin(), reload.end()));
    std::printf("UI thread, status and repaint after the notice: median %.2f ms, max %.2f ms (goal <= 20 ms) %s\n",
                uiMedian, uiMax, uiMedian <= 20.0 ? "met" : "NOT MET");
    plat::DestroyWindow(window);
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return result;
}
