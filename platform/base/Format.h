// printf and scanf over UTF-16 text, with the platform's wide conventions:
// in these functions %s, %ls and %c take wide (char16_t) text, %S, %hs and
// %hc take narrow (UTF-8) text.
//
// printf conversions: d i u x X o c s S p f e E g G %, with flags - 0 + space #,
// width and precision (either may be *), length modifiers h hh l ll L I64 I32
// I z j t w. Output matches C's printf for the same conversion; a null string
// prints "(null)"; %n is not supported and is copied as written.
//
// scanf conversions: d i u x X o f e g s S c [set] n p %, with widths, *
// suppression and the length modifiers above; white space in the format
// matches any run of white space (also none), other characters match
// themselves. The width of a narrow field (%S, %hs, %hc, %h[) counts the UTF-8
// bytes stored, so it bounds the caller's buffer; a character that does not
// fit ends the field (alone it is stored as '?'). Returns the number of fields
// assigned, or EOF (-1) when the input ends before the first conversion.
//
// Length modifiers follow the platform, where long is 32 bits: for integers
// l means 32 bits (LONG, DWORD), ll and I64 64 bits, z and I pointer size.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace plat {

// Writes at most count code units including the terminating null. Returns the
// number of code units written (without the null), or -1 when the output did
// not fit (buf then holds the truncated text, null-terminated when count > 0).
int swprintf(char16_t* buf, std::size_t count, const char16_t* fmt, ...);
int vswprintf(char16_t* buf, std::size_t count, const char16_t* fmt, va_list args);

// The whole formatted text, however long.
std::u16string FormatString(const char16_t* fmt, ...);
std::u16string FormatStringV(const char16_t* fmt, va_list args);

int swscanf(const char16_t* text, const char16_t* fmt, ...);
int vswscanf(const char16_t* text, const char16_t* fmt, va_list args);

}  // namespace plat
