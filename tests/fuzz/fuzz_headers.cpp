// Fuzzes the loading of a channel's "headers.bin": any bytes load, whole or
// as far as they can be read, without a fault; every article read has a
// whole id; and what was read writes back into a file that loads again
// undamaged into the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/FileUtils.h"
#include "database/HeadersFile.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/HeadersFixture.h"

namespace {

using orvfuzz::Check;

std::string Built(orvtest::FakeChannel& channel, bool& ok) {
  CBufferWriter out;
  ok = CHeadersFile::Build(channel.Binaries(), channel.Articles(), out);
  return std::string(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string fs = orvfuzz::UseTempDevice();
  orvtest::FakeChannel first;
  const std::string host = fs + "/Content/Chan/headers.bin";
  orvfuzz::WriteHostFile(host, data, size);
  const HeadersLoadResult result = CHeadersFile::Load(first.HeadersPath(), first.Binaries(), first.Articles());
  Check(result.present, "a file that is there was not opened");
  Check(result.loaded || first.Articles().GetCount() == 0, "articles taken from a file that did not load");
  for (int i = 0; i < first.Articles().GetCount(); ++i) {
    Check(first.Articles().GetArticleAt(i)->GetId().size() == 32, "an article without a whole id");
  }
  DeleteFileIfExists(first.HeadersPath() + kDamagedHeadersSuffix);
  if (!result.loaded) return 0;

  bool built = false;
  const std::string bytes = Built(first, built);
  if (!built) return 0;
  orvfuzz::WriteHostFile(host, bytes.data(), bytes.size());
  orvtest::FakeChannel second;
  const HeadersLoadResult again = CHeadersFile::Load(second.HeadersPath(), second.Binaries(), second.Articles());
  if (!again.loaded || again.damaged) {
    for (unsigned char c : bytes) std::fprintf(stderr, "%02x", c);
    std::fprintf(stderr, "\n");
  }
  Check(again.loaded && !again.damaged, "a written file did not load whole");
  Check(second.Articles().GetCount() == first.Articles().GetCount() &&
            second.Binaries().GetCount() == first.Binaries().GetCount(),
        "a written file loaded another number of records");
  bool rebuilt = false;
  const std::string rewritten = Built(second, rebuilt);
  Check(rebuilt && rewritten == bytes, "a written file read back into other bytes");
  // A damaged file may stop before its articles, which set the counter.
  if (!result.damaged) Check(second.orderCounter == first.orderCounter, "the order counter changed on the way");
  return 0;
}
