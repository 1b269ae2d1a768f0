// The article view: from the tap that opens an article to the page complete
// (page built from the database, handed to the viewer, laid out, and its 10
// already downloaded pictures decoded on the job threads and shown), for a
// 100 KB article. Goal: <= 50 ms.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/views/ArticleView.h"
#include "bench/BenchSupport.h"
#include "core/FileUtils.h"
#include "core/JobManager.h"
#include "core/Md5.h"
#include "core/RegisteredMessages.h"
#include "database/ArticleFilter.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "layout/UiKitModule.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/files/Files.h"
#include "platform/windows/Windows.h"
#include "tests/support/DeviceFiles.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/Pump.h"

namespace {

using namespace plat;

std::u16string Body(int images, const std::u16string& prefix) {
  const char16_t* words[] = {u"storm", u"coast", u"council", u"river", u"market", u"minister", u"village", u"season",
                             u"harbour", u"report", u"weather", u"school", u"railway", u"festival", u"energy", u"league"};
  unsigned seed = 11;
  auto word = [&] {
    seed = seed * 1103515245u + 12345u;
    return std::u16string(words[(seed >> 16) % 16]);
  };
  std::u16string html;
  int placed = 0;
  int paragraph = 0;
  while (html.size() < 100 * 1024) {
    html += u"<p>";
    for (int w = 0; w < 60; ++w) {
      if (w % 17 == 5) html += u"<b>" + word() + u"</b> ";
      else if (w % 23 == 9) html += u"<a href=\"http://example.com/" + word() + u"\">" + word() + u"</a> ";
      else html += word() + u" ";
    }
    html += u"</p>";
    if (++paragraph % 12 == 0 && placed < images)
      html += u"<img src=\"" + prefix + Utf8ToUtf16(std::to_string(placed++)) + u".bmp\" width=\"300\" height=\"200\">";
  }
  return html;
}

IArticle* MakeArticle(IChannel* channel, const std::u16string& name, ULONGLONG date) {
  const std::u16string prefix = u"http://img.example.com/" + name + u"/";
  IArticle* a = channel->CreateArticle(GetMd5Hex(name), US_UP_TO_DATE, ULLToFileTime(date));
  if (!a) return nullptr;
  a->SetTitle(u"A long article: " + name);
  if (!channel->SetArticleProperties(a, {{u"body", Body(10, prefix)}, {u"url", u"http://example.com/" + name}}))
    return nullptr;
  const std::string picture = imgtest::Bmp(300, 200, 24, imgtest::Quadrants(300, 200, 0xFF2040C0u, 0xFFC04020u,
                                                                            0xFF20C040u, 0xFFC0C020u), false);
  for (int i = 0; i < 10; ++i) {
    const std::u16string url = prefix + Utf8ToUtf16(std::to_string(i)) + u".bmp";
    a->GetBinaries()->AddUrl(url);
    IBinary* binary = a->GetBinaries()->Lookup(url);
    if (!binary) return nullptr;
    std::u16string file;
    binary->GetFileName(file, true);
    CreateFolderTree(file.substr(0, file.rfind(u'\\')));
    if (!orvtest::WriteDeviceFile(file, picture)) return nullptr;
    binary->SetUpdateState(US_UP_TO_DATE);
  }
  return a;
}

int ShownCount(ArticleView& view) {
  int shown = 0;
  for (DWORD cookie = 1; cookie < 4096 && shown < 10; ++cookie) shown += view.GetShownImageFile(cookie).empty() ? 0 : 1;
  return shown;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
  const std::string root = bench::MakeTempDevice();
  if (root.empty()) return 1;
  InitCommonControls();
  InitUiKit(nullptr);
  CreateFolderTree(u"\\Content");
  GetGlobalOptions().SetContentFolder(u"\\Content", u"");
  CChannelSet* set = GetChannelSet();
  IArticle* articles[2] = {};
  CDBViewState state(set);
  {
    CSyncLock lock(set);
    set->Open();
    IChannel* channel = set->Add(u"Bench");
    channel->Acquire(&state);
    const ULONGLONG now = CurrentClock().NowUtcFileTime();
    articles[0] = MakeArticle(channel, u"one", now - 36000000000ull);
    articles[1] = MakeArticle(channel, u"two", now - 72000000000ull);
    state.AttachArticleFilter(GetArticleFilter());
    state.OpenChannel(u"Bench");
  }
  if (!articles[0] || !articles[1]) {
    std::printf("articles could not be made\n");
    return 1;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"ArticleBenchParent";
  RegisterClassW(&wc);
  HWND parent = CreateWindowExW(0, wc.lpszClassName, u"", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(), ScreenHeight(),
                                nullptr, nullptr, nullptr, nullptr);
  ArticleViewHost host;
  if (!host.Create(parent, RECT{0, 0, ScreenWidth(), ScreenHeight()})) return 1;
  ArticleView& view = host.GetView();
  view.SetViewState(&state);

  std::vector<double> complete;
  std::vector<double> textShown;
  for (int round = 0; round < 12; ++round) {
    const auto start = bench::Clock::now();
    view.SetArticle(articles[round % 2]);
    orvtest::PumpMessages();
    textShown.push_back(bench::Seconds(start) * 1000);
    // The pictures arrive from the job threads.
    while (ShownCount(view) < 10 && bench::Seconds(start) < 10) orvtest::PumpMessages();
    const double ms = bench::Seconds(start) * 1000;
    if (round >= 2) complete.push_back(ms);  // the first rounds warm the caches
  }
  // Where the time goes: building the page from the database, handing it to
  // the viewer (parse, lay out, notifications), one full paint.
  std::vector<double> build, hand, paint;
  for (int round = 0; round < 7; ++round) {
    std::u16string page;
    auto start = bench::Clock::now();
    ArticleHtmlBuilder(articles[0], page);
    build.push_back(bench::Seconds(start) * 1000);
    view.ShowText(page);
    start = bench::Clock::now();
    SendMessageW(view.GetWindow(), GetRegisteredMessages().htmlCtrlReload, 0, 0);
    hand.push_back(bench::Seconds(start) * 1000);
    start = bench::Clock::now();
    InvalidateRect(view.GetInnerWindow(), nullptr, FALSE);
    UpdateWindow(view.GetInnerWindow());
    paint.push_back(bench::Seconds(start) * 1000);
    orvtest::PumpMessages();
  }
  std::printf("article: %zu characters, 10 pictures of 300x200, screen %dx%d at %d dpi\n",
              view.GetText().size(), ScreenWidth(), ScreenHeight(), ScreenDpi());
  std::printf("text shown:     %6.2f ms (median)\n", Median(textShown));
  std::printf("page complete:  %6.2f ms (median), %6.2f ms (best)  goal <= 60\n", Median(complete),
              *std::min_element(complete.begin(), complete.end()));
  std::printf("  page built:   %6.2f ms\n  handed over:  %6.2f ms (parse, lay out)\n  one paint:    %6.2f ms\n",
              Median(build), Median(hand), Median(paint));

  // Hostile articles: each opens (page shown) well within 2 s.
  // BENCH_ARTICLE_HOSTILE=0 leaves them out (for profiling under valgrind).
  struct Hostile {
    const char* name;
    std::u16string body;
  };
  std::vector<Hostile> hostile;
  if (const char* wanted = std::getenv("BENCH_ARTICLE_HOSTILE"); !(wanted && *wanted == '0')) {
    std::u16string big;
    while (big.size() < 10u * 1024u * 1024u) big += u"<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>";
    hostile.push_back({"10 MB of paragraphs", big});
    std::u16string deep;
    for (int i = 0; i < 100000; ++i) deep += u"<div>";
    hostile.push_back({"100,000 levels", deep + u"deep"});
    std::u16string scripts;
    for (int i = 0; i < 2000; ++i)
      scripts += u"<script>while(1){}</script><p onclick=\"x()\"><a href=\"javascript:x()\">j</a></p>";
    hostile.push_back({"scripts and handlers", scripts});
  }
  int serial = 0;
  for (const Hostile& h : hostile) {
    IArticle* a = nullptr;
    {
      CSyncLock lock(set);
      IChannel* channel = set->FindByName(u"Bench");
      a = channel->CreateArticle(GetMd5Hex(u"hostile" + Utf8ToUtf16(std::to_string(++serial))), US_UP_TO_DATE,
                                 ULLToFileTime(CurrentClock().NowUtcFileTime()));
      if (a) channel->SetArticleProperties(a, {{u"body", h.body}});
    }
    if (!a) continue;
    const auto start = bench::Clock::now();
    view.SetArticle(a);
    orvtest::PumpMessages();
    std::printf("hostile %-22s %8.1f ms (goal < 2000)\n", h.name, bench::Seconds(start) * 1000);
  }
  view.SetArticle(nullptr);
  DestroyWindow(parent);
  return 0;
}
