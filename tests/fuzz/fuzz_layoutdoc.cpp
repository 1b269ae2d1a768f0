// Fuzzes the layout reader: any bytes must parse into a document or fail
// with the layout exception, and a parsed document must select a layout or
// none, within bounded time and memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "core/OrvException.h"
#include "layout/LayoutDocument.h"
#include "layout/ResourceValues.h"
#include "platform/base/Device.h"

namespace {

std::string g_folder;

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

}  // namespace

// Fonts of layout documents go through fontconfig, which keeps a cache of
// its own for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/fuzz_layoutdoc.XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) std::abort();
  g_folder = dir;
  std::atexit(RemoveFolder);
  plat::SetDeviceRoot(g_folder + "/device");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 16)) return 0;
  std::u16string text;
  try {
    text = DecodeUtf8Resource(data, size);
  } catch (const COrvException&) {
    return 0;
  }
  try {
    CRefPtr<LayoutDocument> document = ParseLayoutText(text);
    if (!document) std::abort();  // failure is an exception, never a null document
    SelectLayout(*document);
  } catch (const COrvException& e) {
    const plat::HRESULT code = e.GetCode();
    if (code != ORV_E_LAYOUT && code != plat::E_OUTOFMEMORY && (static_cast<std::uint32_t>(code) >> 16) != 0x8007u)
      std::abort();
  }
  return 0;
}
