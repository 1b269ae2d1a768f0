// Little-endian numbers in byte buffers, as files, images and archives store
// them: read from a pointer, appended to a buffer, or set in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

inline std::uint16_t GetLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// `Bytes` is any buffer of chars or bytes with push_back (std::string,
// std::vector<unsigned char>).
template <class Bytes>
void PutLe16(Bytes& out, std::uint32_t v) {
  using Byte = typename Bytes::value_type;
  out.push_back(static_cast<Byte>(v & 0xFF));
  out.push_back(static_cast<Byte>((v >> 8) & 0xFF));
}

template <class Bytes>
void PutLe32(Bytes& out, std::uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

template <class Bytes>
void SetLe32(Bytes& out, std::size_t at, std::uint32_t v) {
  using Byte = typename Bytes::value_type;
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<Byte>((v >> (8 * i)) & 0xFF);
}

}  // namespace plat
