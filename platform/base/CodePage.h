// Conversion between UTF-16 and the device's code pages (the Windows code
// page numbers: 1252, 1251, 932, 949, 28591, 65001, ...).
#pragma once

#include "platform/base/Types.h"

namespace plat {

constexpr UINT CP_ACP = 0;        // the locale's ANSI code page (1252 for the default locale)
constexpr UINT CP_OEMCP = 1;      // the locale's OEM code page (437)
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_PRECOMPOSED = 0x00000001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;

constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// True when the host can convert the code page.
BOOL IsValidCodePage(UINT codePage);

// The characters of bytes 0x80-0xFF of a single-byte code page converted by
// table (28591, 28605, 1250, 1251, 1252; bytes below 0x80 are ASCII), or null
// for the code pages the host converts. U+FFFD marks an undefined byte.
const char16_t* SingleByteUpperHalf(UINT codePage);

// Converts cb bytes of src (-1: up to and including its null) into dst.
// Returns the code units written, or with cch 0 the units needed. Invalid
// bytes become U+FFFD, or fail the call (0, ERROR_NO_UNICODE_TRANSLATION)
// with MB_ERR_INVALID_CHARS. An incomplete sequence at the end of the input
// yields nothing, so text can be fed a byte more at a time until a character
// comes out. 0 on failure: ERROR_INVALID_PARAMETER (bad code page or
// arguments), ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int cb, char16_t* dst, int cch);

// Converts cch code units of src (-1: up to and including its null) into dst.
// Returns the bytes written, or with cb 0 the bytes needed. A character the
// code page lacks becomes defaultChar (or "?") and sets *usedDefault; for
// CP_UTF8 and CP_UTF7 defaultChar and usedDefault must be null, and an
// unpaired surrogate becomes U+FFFD. 0 on failure, as above.
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int cch, char* dst, int cb,
                        const char* defaultChar, BOOL* usedDefault);

}  // namespace plat
