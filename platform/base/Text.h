// UTF-16 text: conversion to and from UTF-8, case handling as the device does
// it, the kinds of white space and trimming.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// UTF-8 to UTF-16. Invalid or truncated sequences, overlong forms, surrogate
// code points and values above U+10FFFF each become one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD (EF BF BD).
std::string Utf16ToUtf8(std::u16string_view utf16);

// Latin-1 (each byte one code unit) to UTF-16: for ASCII literals and bytes that
// are known to be Latin-1.
std::u16string Latin1ToUtf16(std::string_view bytes);

// Case mapping of one UTF-16 code unit as the device does it: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters have simple one-to-one mappings;
// everything else maps to itself.
char16_t ToUpper(char16_t c);
char16_t ToLower(char16_t c);

std::u16string ToUpper(std::u16string_view s);
std::u16string ToLower(std::u16string_view s);

// Compares ignoring case, code unit by code unit after upper-casing both sides
// (as the device's wide compare ignoring case): <0, 0 or >0.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// True when text begins (ends) with affix, compared as EqualsNoCase does.
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix);

// Length of a null-terminated UTF-16 string; 0 for null.
std::size_t StrLen(const char16_t* s);

// White space. Each kind has its own readers that rely on it; the locale's
// white space (every Unicode space) is the core's IsSpaceChar. A char is
// passed as it is: bytes above 0x7F are never space.

// XML's four: space, tab, line feed, carriage return (also HTTP's header
// lines, the Today titles, addresses as typed).
constexpr bool IsXmlSpace(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r'; }
// The C locale's six: XML's four, vertical tab and form feed.
constexpr bool IsAsciiSpace(char32_t c) { return c == U' ' || (c >= U'\t' && c <= U'\r'); }
// HTML's five: XML's four and form feed.
constexpr bool IsHtmlSpace(char32_t c) { return IsXmlSpace(c) || c == U'\f'; }
// XML's four and the no-break space U+00A0: the blanks of a title as shown.
constexpr bool IsXmlSpaceOrNbsp(char32_t c) { return IsXmlSpace(c) || c == 0xA0; }
// Those and the ideographic space U+3000: the blanks of a name as typed.
constexpr bool IsXmlSpaceNbspOrIdeographic(char32_t c) { return IsXmlSpaceOrNbsp(c) || c == 0x3000; }

namespace text_detail {
template <class View, class IsSpace>
View TrimEnds(View text, IsSpace isSpace, bool front) {
  while (front && !text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}
}  // namespace text_detail

// text without the units at both ends (TrimRight: at its end) for which
// isSpace is true: the views point into text, the strings are copies.
template <class IsSpace>
std::u16string_view TrimView(std::u16string_view text, IsSpace isSpace) {
  return text_detail::TrimEnds(text, isSpace, true);
}
template <class IsSpace>
std::string_view TrimView(std::string_view text, IsSpace isSpace) {
  return text_detail::TrimEnds(text, isSpace, true);
}
template <class IsSpace>
std::u16string Trim(std::u16string_view text, IsSpace isSpace) {
  return std::u16string(TrimView(text, isSpace));
}
template <class IsSpace>
std::string Trim(std::string_view text, IsSpace isSpace) {
  return std::string(TrimView(text, isSpace));
}
template <class IsSpace>
std::u16string TrimRight(std::u16string_view text, IsSpace isSpace) {
  return std::u16string(text_detail::TrimEnds(text, isSpace, false));
}

}  // namespace plat
