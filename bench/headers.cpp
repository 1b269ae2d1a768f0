// Saves and loads a headers file of 10,000 articles (each with an image, a
// third of them sharing theirs) and prints the time of each and the size.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/BenchSupport.h"
#include "core/FileUtils.h"
#include "core/Md5.h"
#include "database/ArticleSet.h"
#include "database/BinarySet.h"
#include "database/ChannelOptions.h"
#include "database/HeadersFile.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"

namespace {

class BenchChannel : public IHeadersOwner {
 public:
  BenchChannel() {
    binaries.SetChannel(this);
    articles.SetChannel(this);
  }
  ~BenchChannel() {
    articles.RemoveAll();
    binaries.Clear();
  }
  IChannel* GetChannelInterface() override { return nullptr; }
  void MarkHeadersDirty() override {}
  std::u16string GetBinFolder() override { return u"\\Bench\\bin"; }
  IChannelOptions* GetChannelOptions() override { return nullptr; }
  CBinarySet* GetBinarySetObject() override { return &binaries; }
  void SetOrderCounter(std::uint32_t c) override { counter = c; }
  void RemoveThumbnails(const std::u16string&) override {}

  CBinarySet binaries;
  CArticleSet articles;
  std::uint32_t counter = 0;
};

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  CreateFolderTree(u"\\Bench\\bin");
  constexpr int kArticles = 10000;
  const std::u16string path = u"\\Bench\\headers.bin";
  {
    BenchChannel channel;
    for (int i = 0; i < kArticles; ++i) {
      auto* article = new CArticle(&channel);
      const std::u16string n = plat::Utf8ToUtf16(std::to_string(i));
      article->SetId(GetMd5Hex(u"article " + n));
      article->SetOrder(static_cast<std::uint32_t>(100000 - i));
      article->SetTitle(u"A headline of moderate length, number " + n);
      article->SetDate(plat::ULLToFileTime(130000000000000000ull + static_cast<std::uint64_t>(i) * 10000000ull));
      article->SetImageUrl(u"http://images.example.com/pictures/" + plat::Utf8ToUtf16(std::to_string(i % 3 == 0 ? 0 : i)) + u".jpg");
      channel.articles.Add(article);
    }
    const auto start = std::chrono::steady_clock::now();
    const bool saved = CHeadersFile::Save(path, channel.binaries, channel.articles);
    std::printf("save: %.1f ms (%s)\n", MsSince(start), saved ? "ok" : "failed");
  }
  {
    BenchChannel channel;
    const auto start = std::chrono::steady_clock::now();
    const HeadersLoadResult result = CHeadersFile::Load(path, channel.binaries, channel.articles);
    std::printf("load: %.1f ms (%d articles, %zu binaries%s)\n", MsSince(start), channel.articles.GetCount(),
                channel.binaries.GetCount(), result.damaged ? ", damaged" : "");
  }
  {
    CFileReader reader(path);
    std::printf("file size: %lld bytes\n", static_cast<long long>(reader.Remaining()));
  }
  DeleteFolderTree(u"\\Bench");
  return 0;
}
