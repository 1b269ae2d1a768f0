// CGenericMap over null-terminated string keys, wide (char16_t) or narrow
// (char), case-sensitive or not. The keys are pointers the owner keeps alive.
#pragma once

#include <cstdint>

#include "core/GenericMap.h"

// Wide string hash: 0 for null or empty; else h = h * 5 + c * 37 over the code
// units (32-bit, wrapping). The no-case form first turns 'A'..'Z' into 'a'..'z',
// so keys equal ignoring case hash alike.
std::uint32_t HashStringCase(const char16_t* s);
std::uint32_t HashStringNoCase(const char16_t* s);
// Narrow string hash: the same recurrence over the bytes taken as signed 8-bit
// values; it never folds case.
std::uint32_t HashStringCase(const char* s);

// Non-zero when the strings are equal (null counts as empty). The wide no-case
// form compares as the device's wide compare ignoring case; the narrow one
// ignores ASCII case.
int StringKeysEqual(const char16_t* a, const char16_t* b);
int StringKeysEqualNoCase(const char16_t* a, const char16_t* b);
int StringKeysEqual(const char* a, const char* b);
int StringKeysEqualNoCase(const char* a, const char* b);

template <class CharT, class V>
class CStringPtrMap : public CGenericMap<const CharT*, V> {
  using Base = CGenericMap<const CharT*, V>;

 public:
  explicit CStringPtrMap(bool caseSensitive = true) {
    if (caseSensitive) {
      Base::SetFunctions(&HashCase, &EqualCase);
    } else {
      Base::SetFunctions(&HashNoCase, &EqualNoCase);
    }
  }

 private:
  static std::uint32_t HashCase(const CharT* const& s) { return HashStringCase(s); }
  static std::uint32_t HashNoCase(const CharT* const& s) {
    if constexpr (sizeof(CharT) == 1) {
      return HashStringCase(s);  // narrow keys are folded by their owner
    } else {
      return HashStringNoCase(s);
    }
  }
  static int EqualCase(const CharT* const& a, const CharT* const& b) { return StringKeysEqual(a, b); }
  static int EqualNoCase(const CharT* const& a, const CharT* const& b) { return StringKeysEqualNoCase(a, b); }
};

// The two instances the system uses: the localizer's key-to-text index and the
// zip reader's entry-name index.
using CWideStringPtrMap = CStringPtrMap<char16_t, const char16_t*>;
using CNarrowStringPtrMap = CStringPtrMap<char, unsigned long>;
