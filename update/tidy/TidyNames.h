// Element-name tests shared by the nesting check and our node tree: ASCII
// case-insensitive, as HTML names are.
#pragma once
#include <initializer_list>
#include <string_view>

namespace Tidy {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

inline bool OneOf(std::string_view name, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (EqualNoCase(name, n)) return true;
  }
  return false;
}

// Elements that never have content or an end tag.
inline bool IsVoidElement(std::string_view name) {
  return OneOf(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "img",
                      "input", "isindex", "keygen", "link", "meta", "param", "source", "spacer", "track",
                      "wbr"});
}

}  // namespace Tidy
