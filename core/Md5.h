// MD5 message digest (RFC 1321) and the item ids made from it: 32 lower-case
// hex digits of the 16 digest bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Md5Context {
  std::uint32_t count[2];   // number of bits hashed, low word first
  std::uint32_t state[4];   // A, B, C, D
  std::uint8_t buffer[64];  // input not yet transformed
};

using Md5Digest = std::array<std::uint8_t, 16>;

void Md5Init(Md5Context& ctx);
void Md5Update(Md5Context& ctx, const void* data, std::size_t length);
// Pads, appends the bit count and writes the state as 16 bytes (little-endian
// words). The context must be initialised again before reuse.
void Md5Final(Md5Context& ctx, std::uint8_t digest[16]);

// Digest of a whole buffer.
Md5Digest Md5Bytes(const void* data, std::size_t length);

// The digest of the text's UTF-16 code units as little-endian bytes (two bytes
// a unit, no terminator) as 32 lower-case hex digits.
std::u16string GetMd5Hex(std::u16string_view text);
