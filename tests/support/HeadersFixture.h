// A channel as articles and binaries see it: its bin folder, options, binary
// set and article set, with the calls it receives recorded.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "database/ArticleSet.h"
#include "database/BinarySet.h"
#include "database/ChannelOptions.h"
#include "database/HeadersFile.h"
#include "platform/base/Text.h"
#include "tests/support/TempDevice.h"

namespace orvtest {

class FakeChannel : public IHeadersOwner {
 public:
  explicit FakeChannel(const std::u16string& folder = u"\\Content\\Chan") : folder_(folder) {
    CreateFolderTree(GetBinFolder());
    options_.SetUseDefaultDownloadOptions(0);
    options_.SetUseDefaultLimits(0);
    options_.SetManualArticlesUpdate(0);
    options_.SetDisableImagesInArticles(0);
    options_.SetArticlesAgeLimitEnabled(0);
    options_.SetArticlesCountLimitEnabled(0);
    binaries_.SetChannel(this);
    articles_.SetChannel(this);
  }
  ~FakeChannel() {
    articles_.RemoveAll();
    binaries_.Clear();
  }

  IChannel* GetChannelInterface() override { return nullptr; }
  void MarkHeadersDirty() override { ++dirtyMarks; }
  std::u16string GetBinFolder() override { return folder_ + u"\\bin"; }
  IChannelOptions* GetChannelOptions() override { return &options_; }
  CBinarySet* GetBinarySetObject() override { return &binaries_; }
  void SetOrderCounter(std::uint32_t counter) override { orderCounter = counter; }
  void RemoveThumbnails(const std::u16string& path) override { thumbnailsRemoved.push_back(path); }

  std::u16string HeadersPath() const { return folder_ + u"\\headers.bin"; }
  std::u16string BinFile(const std::u16string& name) { return CombinePath(GetBinFolder(), name); }

  // A live article with the given id digit pattern, order and optional image.
  CArticle* NewArticle(char16_t idDigit, std::uint32_t order, const std::u16string& image = u"") {
    auto* article = new CArticle(this);
    article->SetId(std::u16string(32, idDigit));
    article->SetOrder(order);
    if (!image.empty()) article->SetImageUrl(image);
    return article;
  }

  CChannelOptions& Options() { return options_; }
  CBinarySet& Binaries() { return binaries_; }
  CArticleSet& Articles() { return articles_; }

  int dirtyMarks = 0;
  std::uint32_t orderCounter = 0;
  std::vector<std::u16string> thumbnailsRemoved;

 private:
  std::u16string folder_;
  CChannelOptions options_;
  CBinarySet binaries_;
  CArticleSet articles_;
};

// Host path of a device path of the test's device.
inline std::string HostPath(const ScopedTempDevice& device, const std::u16string& devicePath) {
  std::string path = device.FsRoot();
  for (char c : plat::Utf16ToUtf8(devicePath)) path += c == '\\' ? '/' : c;
  return path;
}

// Little-endian record pieces for hand-built files.
inline void PutInt32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutInt64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutString(std::string& out, const std::string& utf8) {
  PutInt32(out, static_cast<std::uint32_t>(utf8.size()));
  out += utf8;
}
inline void PutDigest(std::string& out, unsigned char fill) { out.append(16, static_cast<char>(fill)); }

}  // namespace orvtest
