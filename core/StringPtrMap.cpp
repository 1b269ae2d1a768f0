#include "core/StringPtrMap.h"

#include "platform/base/Text.h"

namespace {

template <class CharT>
std::uint32_t HashUnits(const CharT* s, bool fold) {
  std::uint32_t h = 0;
  if (!s) return h;
  for (; *s; ++s) {
    std::uint32_t c;
    if constexpr (sizeof(CharT) == 1) {
      c = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*s)));
    } else {
      c = static_cast<std::uint16_t>(*s);
      if (fold && c >= u'A' && c <= u'Z') c += 32;
    }
    h = h * 5u + c * 37u;
  }
  return h;
}

template <class CharT>
const CharT* OrEmpty(const CharT* s) {
  static const CharT empty[1] = {0};
  return s ? s : empty;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

std::uint32_t HashStringCase(const char16_t* s) { return HashUnits(s, false); }
std::uint32_t HashStringNoCase(const char16_t* s) { return HashUnits(s, true); }
std::uint32_t HashStringCase(const char* s) { return HashUnits(s, false); }

int StringKeysEqual(const char16_t* a, const char16_t* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

int StringKeysEqualNoCase(const char16_t* a, const char16_t* b) {
  return plat::EqualsNoCase(OrEmpty(a), OrEmpty(b));
}

int StringKeysEqual(const char* a, const char* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

int StringKeysEqualNoCase(const char* a, const char* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  while (*a && AsciiLower(*a) == AsciiLower(*b)) ++a, ++b;
  return AsciiLower(*a) == AsciiLower(*b);
}
