// Fuzzes the reading of OPML documents for the add-channels wizard: any
// document is read within its bounds (entries, depth) without a fault, every
// entry listed names an http or https address, an entry is "another OPML
// document" exactly when its address ends in ".opml", and reading the same
// document again lists the same entries. The first byte chooses whether the
// document was asked for by an address that relative entries resolve against.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/wizard/CatalogRequest.h"
#include "core/FileUtils.h"
#include "core/StringUtils.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "tests/fuzz/FuzzSupport.h"
#include "update/tidy/TidyDocument.h"

namespace {

using orvfuzz::Check;

bool IsWeb(const std::u16string& address) {
  return plat::StartsWithNoCase(address, u"http://") || plat::StartsWithNoCase(address, u"https://");
}

struct Listed {
  std::u16string address;
  OpmlOutlineKind kind;
  bool operator==(const Listed&) const = default;
};

std::vector<Listed> Entries(const CatalogRequest& request) {
  std::vector<Listed> entries;
  for (std::size_t i = 0; i < request.GetEntryCount(); ++i) {
    entries.push_back({request.GetEntryAddress(i), request.GetEntryKind(i)});
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvfuzz::UseTempDevice();
  if (!CreateFolderTree(u"\\Content") || !GetGlobalOptions().SetContentFolder(u"\\Content", u"")) std::abort();
  CSyncLock lock(GetChannelSet());
  if (!GetChannelSet()->Open()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  CatalogRequest request;
  request.SetOpmlAddress((data[0] & 1) ? u"http://catalog.test/lists/news.opml" : u"\\My Documents\\news.opml");
  request.BuildUrl();
  Tidy::Document document;
  if (document.Init() != 0) std::abort();
  Tidy::ParseBuffer(reinterpret_cast<const char*>(data + 1), size - 1, &document, u"", u"");

  const bool read = request.ReadDocument(&document);
  Check(read || request.GetEntryCount() == 0, "a document without a body listed entries");
  Check(request.GetEntryCount() <= CatalogRequest::kMaxEntries, "more entries than the bound");
  const std::vector<Listed> first = Entries(request);
  for (const Listed& entry : first) {
    Check(IsWeb(entry.address), "an entry without an http or https address");
    Check(entry.kind == kOutlineFeed || entry.kind == kOutlineOwnType || entry.kind == kOutlineNestedOpml,
          "a group listed as an entry");
    const bool opml = entry.address.size() >= 5 && entry.address.compare(entry.address.size() - 5, 5, u".opml") == 0;
    Check((entry.kind == kOutlineNestedOpml) == opml, "an OPML entry told wrongly");
  }
  Check(request.ReadDocument(&document) == read && Entries(request) == first, "a second reading listed other entries");
  return 0;
}
