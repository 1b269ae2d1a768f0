// Small functions over the system's UTF-16 strings: searching, character
// classes, number parsing, locale-aware number and size formatting, escaping
// of names, HTML character references, and the escaped text forms in which
// string maps and lists are stored. Pure functions of their arguments and the
// user's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/StringMaps.h"
#include "platform/base/Types.h"
#include "platform/gdi/Gdi.h"

constexpr std::size_t kNotFound = std::u16string::npos;

// Searching and character classes.

// Position of the first character of text that occurs in set; kNotFound when
// none does or set is null.
std::size_t FindAnyChar(std::u16string_view text, const char16_t* set);
// Position of the first occurrence of needle; 0 for an empty or null needle.
std::size_t FindSubstring(std::u16string_view text, const char16_t* needle);
bool IsHexDigit(char16_t c);
// The value of a hex digit (either case); -1 for any other character.
int HexValue(char16_t c);
// True when the locale classes c as white space (every Unicode space). The
// narrower kinds (XML's, the C locale's, HTML's) are the platform's
// (platform/base/Text.h), as are StartsWithNoCase and EndsWithNoCase.
bool IsSpaceChar(char16_t c);
// text without the characters at either end that IsSpaceChar classes as white
// space.
std::u16string TrimSpace(std::u16string_view text);
// True when text has at least 32 characters, all hex digits (an item id).
bool IsHexDigest(std::u16string_view text);

// Numbers.

// The value read with "%X"; 0 when nothing parses.
unsigned int ParseHex(std::u16string_view text);
// True when "%d" reads one value.
bool ParseInt(std::u16string_view text, int& value);
// When text begins with c, removes it and returns true.
bool ConsumeChar(std::u16string& text, char16_t c);
// Reads and removes the leading ASCII digits; with none, value is 0, text is
// left as it was and the result is false.
bool ConsumeNumber(std::u16string& text, int& value);

// x from the signed low 16 bits, y from the signed high 16 bits.
plat::POINT PointFromLParam(plat::LPARAM lParam);

// The user's decimal separator; empty when the locale gives none.
std::u16string GetDecimalSeparator();
// The value with the locale's grouping and separator and at most maxDecimals
// decimals (cut, not rounded, after rounding to two), trailing zeros removed.
std::u16string FormatNumber(double value, int maxDecimals);
// "500 B", "1.5 KB", "117 MB"; with addExactCount, KB and MB sizes are followed
// by the exact count, as in "1.5 KB (1,536 B)".
std::u16string FormatFileSize(std::int64_t bytes, bool addExactCount);
// format with each "%s" replaced by the next of values and "%%" by "%";
// anything else (a "%s" beyond the values, "%d") stays as written, so a
// translated text can never misread its arguments.
std::u16string FormatWithTexts(std::u16string_view format, std::initializer_list<std::u16string_view> values);

// Escaping and encoding.

// Replaces every character of "%<>:\"/\\|.[]{}`~#&*;'^,?" by "%" and its code
// in upper-case hex; everything else, spaces and non-ASCII included, stays.
std::u16string EscapeUrl(std::u16string_view text);
// Replaces "%" and the two characters after it by the character whose code
// they give in hex (as far as they parse). A "%" among the last two
// characters, or whose characters give no code (or 0), stays as written.
std::u16string UnescapeUrl(std::u16string_view text);
// Puts a backslash before every character that occurs in set or is a
// backslash.
std::u16string EscapeChars(std::u16string_view text, const char16_t* set);
// Decodes named and numeric character references; line feeds and carriage
// returns of the result become spaces.
std::u16string DecodeHtmlEntities(std::u16string_view text);
// Appends "?" (or "&" when the URL already holds a "?") and the parameter.
void AppendUrlParameter(std::u16string& url, std::u16string_view parameter);
// key ":" value "|" for each entry, with ":", "|" and "\" escaped.
std::u16string MapToString(const CStringToStringMap& map);
// item "|" for each item, with "|" and "\" escaped.
std::u16string ListToString(const CStringList& list);
