// Opens a content folder of 200 channels of 200 articles each: the time of the
// channel set's Open, the time of acquiring (loading the headers of) every
// channel, and the process's peak memory. The folder is built first, by the
// same code, in a child process, so its memory does not count.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/ContentBuilder.h"
#include "core/FileUtils.h"
#include "core/Md5.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"

namespace {

constexpr int kChannels = 200;
constexpr int kArticles = 200;
constexpr char16_t kContent[] = u"\\Content";

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  const std::string& root = device;
  CreateFolderTree(kContent);
  GetGlobalOptions().SetContentFolder(kContent, u"");

  const auto buildStart = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) _exit(bench::BuildContentFolder(kChannels, kArticles));
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("building the content folder failed (%d)\n", status);
    return 1;
  }
  std::printf("built %d channels x %d articles in %.0f ms\n", kChannels, kArticles, MsSince(buildStart));

  int articles = 0;
  {
    CChannelSet set;
    const auto openStart = std::chrono::steady_clock::now();
    const bool opened = set.Open();
    const double openMs = MsSince(openStart);
    const auto acquireStart = std::chrono::steady_clock::now();
    for (int i = 0; i < set.GetCount(); ++i) {
      IChannel* channel = set.GetAt(i);
      channel->Acquire(&set);
      articles += channel->GetArticleSet()->GetCount();
    }
    const double acquireMs = MsSince(acquireStart);
    std::printf("open: %.1f ms (%s, %d channels)\n", openMs, opened ? "ok" : "failed", set.GetCount());
    std::printf("acquire all: %.1f ms (%d articles)\n", acquireMs, articles);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    for (int i = 0; i < set.GetCount(); ++i) set.GetAt(i)->Release(&set, false);
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return articles == kChannels * kArticles ? 0 : 1;
}
