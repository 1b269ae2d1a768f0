// Feeds arbitrary text to the date parsers. The input is read two ways: as
// UTF-8 (what feeds deliver) and as raw UTF-16 code units. Checks that a parse
// either fails and leaves its result alone, or gives a valid file time, and
// that ParseDateTime answers as its two forms do; every parsed date formats.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/DateUtils.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"

namespace {

constexpr std::uint64_t kUntouched = 0x0123456789ABCDEFull;
constexpr std::uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

void Check(bool condition) {
  if (!condition) std::abort();
}

// One parser's answer; value is what it left in its result.
bool RunOne(bool (*parse)(std::u16string_view, plat::FILETIME&), std::u16string_view text,
            std::uint64_t& value) {
  plat::FILETIME ft = plat::ULLToFileTime(kUntouched);
  bool ok = parse(text, ft);
  value = plat::FileTimeToULL(ft);
  if (!ok) {
    Check(value == kUntouched);
    return false;
  }
  Check(value <= kLargestFileTime);
  plat::SYSTEMTIME st{};
  Check(plat::FileTimeToSystemTime(&ft, &st) != 0);
  return true;
}

void Exercise(std::u16string_view text) {
  std::uint64_t rfc = 0, iso = 0, any = 0;
  bool rfcOk = RunOne(&ParseRfc822Date, text, rfc);
  bool isoOk = RunOne(&ParseIso8601Date, text, iso);

  plat::FILETIME ft = plat::ULLToFileTime(kUntouched);
  bool anyOk = ParseDateTime(text, ft);
  any = plat::FileTimeToULL(ft);
  Check(anyOk == (rfcOk || isoOk));
  Check(any == (rfcOk ? rfc : isoOk ? iso : 0));
  // Every date a feed can give must format; a formatted date is short.
  if (anyOk) {
    Check(FormatDateTime(ft, false).size() < 120);
    Check(FormatDateTime(ft, true).size() < 120);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Exercise(plat::Utf8ToUtf16(bytes));

  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  Exercise(units);
  return 0;
}
