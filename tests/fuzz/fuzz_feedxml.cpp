// Fuzzes the plain XML reader of feeds against the library's XML mode: any
// document the plain reader takes must give the very tree (types, names,
// positions, attributes, texts, empty tags) and the same result and counts
// the library gives; documents it refuses go to the library unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TidyTreeText.h"
#include "update/tidy/TidyDocument.h"

namespace {

struct Parsed {
  int result = 0;
  bool plain = false;
  std::string tree;
};

Parsed Parse(const std::string& bytes, bool plainReading) {
  Tidy::Document document;
  if (document.Init() != 0) std::abort();
  document.SetPlainXmlReading(plainReading);
  Parsed parsed;
  parsed.result = Tidy::ParseBuffer(bytes.data(), bytes.size(), &document, u"", u"");
  parsed.plain = document.WasReadPlain();
  parsed.tree = orvtest::DescribeTidyDocument(document);
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvfuzz::UseTempDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const Parsed plain = Parse(bytes, true);
  if (!plain.plain) return 0;  // refused: the library parsed it, nothing to compare
  const Parsed library = Parse(bytes, false);
  if (library.plain || library.result != plain.result || library.tree != plain.tree) {
    std::fprintf(stderr, "plain reader (result %d):\n%s\nlibrary (result %d):\n%s\n", plain.result,
                 plain.tree.c_str(), library.result, library.tree.c_str());
    std::abort();
  }
  return 0;
}
