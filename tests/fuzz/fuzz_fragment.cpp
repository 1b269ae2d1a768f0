// Fuzzes the plain fragment reader of article texts against the library's
// HTML mode: for every fragment the plain reader takes, the library must have
// had nothing to repair and must find the same image sources in the same
// order, and the entry the update jobs use must store the same text and
// images either way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/base/Text.h"
#include "tests/fuzz/FuzzSupport.h"
#include "update/tidy/TidyDocument.h"
#include "update/tidy/TidyFragmentReader.h"

namespace {

void Check(bool condition, const char* what, const std::u16string& html) {
  if (!condition) std::fprintf(stderr, "fragment:\n%s\n", plat::Utf16ToUtf8(html).c_str());
  orvfuzz::Check(condition, what);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvfuzz::UseTempDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string html = plat::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  CStringList plain{u"before"};
  if (!Tidy::ReadPlainFragmentImages(html, plain)) {
    Check(plain.size() == 1 && plain.front() == u"before", "a refused fragment changed the list", html);
    return 0;
  }
  Tidy::Document document;
  if (document.Init() != 0) std::abort();
  Check(document.ParseUtf8(plat::Utf16ToUtf8(html), false), "the library could not parse a plain fragment", html);
  Check(document.GetRepairCount() == 0, "the library repaired a plain fragment", html);
  // Tidy notes its own warnings on any fragment (no doctype, no title); the
  // debug log's line for the fragment says so either way.
  Check(document.GetLibraryStatus() != 0, "the library reported a clean document", html);
  CStringList library{u"before"};
  Tidy::CollectImageSources(document.GetRoot(), library);
  Check(plain == library, "image sources differ from the library's", html);

  std::u16string viaPlain = html, viaLibrary = html;
  CStringList imagesPlain, imagesLibrary;
  Tidy::ProcessHtmlFragment(viaPlain, &imagesPlain, u"", true);
  Tidy::ProcessHtmlFragment(viaLibrary, &imagesLibrary, u"", false);
  Check(viaPlain == viaLibrary, "the stored text differs from the library's", html);
  Check(imagesPlain == imagesLibrary, "the stored images differ from the library's", html);
  return 0;
}
