// UTF-16 text: conversion to and from UTF-8, and case handling as the device does it.
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

// Length of a null-terminated UTF-16 string; 0 for null.
std::size_t StrLen(const char16_t* s);

}  // namespace plat
