// The traditional PKWARE stream cipher of zip archives: the zip reader
// decrypts with it and the layout packer encrypts with it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string_view>

class CZipCipher {
 public:
  explicit CZipCipher(std::string_view password) {
    for (unsigned char c : password) Update(c);
  }
  std::uint8_t Decrypt(std::uint8_t c) {
    const auto plain = static_cast<std::uint8_t>(c ^ KeyByte());
    Update(plain);
    return plain;
  }
  std::uint8_t Encrypt(std::uint8_t plain) {
    const auto c = static_cast<std::uint8_t>(plain ^ KeyByte());
    Update(plain);
    return c;
  }

 private:
  std::uint8_t KeyByte() const {
    const std::uint32_t temp = (keys_[2] | 2u) & 0xFFFFu;
    return static_cast<std::uint8_t>((temp * (temp ^ 1u)) >> 8);
  }
  static std::uint32_t Crc(std::uint32_t crc, std::uint8_t b) {
    return static_cast<std::uint32_t>(get_crc_table()[(crc ^ b) & 0xFFu]) ^ (crc >> 8);
  }
  void Update(std::uint8_t c) {
    keys_[0] = Crc(keys_[0], c);
    keys_[1] = keys_[1] + (keys_[0] & 0xFFu);
    keys_[1] = keys_[1] * 134775813u + 1u;
    keys_[2] = Crc(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
  }
  std::uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};
