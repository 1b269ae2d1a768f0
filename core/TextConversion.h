// Conversion between the system's UTF-16 text and UTF-8 (HTML Tidy, downloaded
// documents). Buffers come from the given private heap, or from the C heap
// (malloc) when none is given; the caller frees them the same way
// (FreeConversionBuffer does either).
#pragma once

#include <cstddef>
#include <string>

class CPrivateHeap;

// UTF-8 (zero-terminated) to UTF-16: *buffer receives *count code units, the
// terminating zero included. False with buffer and count 0 for a null text.
// With a heap, exhaustion throws as CPrivateHeap::Alloc does.
bool Utf8ToWide(const char* utf8, char16_t** buffer, std::size_t* count, CPrivateHeap* heap = nullptr);

// UTF-16 to zero-terminated UTF-8. length -1: text is zero-terminated and the
// terminator is converted too; otherwise length code units. Null for a null
// text or a conversion that yields nothing (length 0).
char* WideToUtf8(const char16_t* text, std::ptrdiff_t length = -1, CPrivateHeap* heap = nullptr);

// The string's characters as zero-terminated UTF-8; an empty string gives an
// empty text (never null unless allocation fails).
char* StringToUtf8(const std::u16string& text, CPrivateHeap* heap = nullptr);

// The system string of a UTF-8 text; empty for a null text.
std::u16string Utf8ToString(const char* utf8);

// Frees a buffer of the functions above.
void FreeConversionBuffer(void* buffer, CPrivateHeap* heap = nullptr);
