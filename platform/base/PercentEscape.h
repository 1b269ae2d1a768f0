// Percent-escaping of addresses and names: a unit written as "%XX", the
// upper-case hex of its low byte.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace plat {

template <class Char>
void AppendPercentByte(std::basic_string<Char>& out, unsigned byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back(static_cast<Char>('%'));
  out.push_back(static_cast<Char>(kHex[(byte >> 4) & 15]));
  out.push_back(static_cast<Char>(kHex[byte & 15]));
}

// `text` with every unit that `escape` picks written as "%XX"; units are
// passed to `escape` unsigned (a char as 0..255).
template <class Char, class Pred>
std::basic_string<Char> PercentEscape(std::basic_string_view<Char> text, Pred escape) {
  using Unit = std::make_unsigned_t<Char>;
  std::basic_string<Char> out;
  out.reserve(text.size());
  for (Char c : text) {
    const auto u = static_cast<Unit>(c);
    if (escape(u)) AppendPercentByte(out, u);
    else out.push_back(c);
  }
  return out;
}

}  // namespace plat
