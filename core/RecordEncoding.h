// The records every database file is built from: little-endian integers,
// strings (32-bit byte count and UTF-8 bytes), digests (16 raw bytes, held in
// memory as 32 lower-case hex digits), string sets, digest sets and string maps
// (a 32-bit count and the items). Every function takes the stream first and
// returns true on success; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include "core/Streams.h"
#include "core/StringMaps.h"
#include "platform/base/Time.h"

// Largest byte count of a string and item count of a container accepted on
// reading (2^24); writers refuse what a reader would refuse.
constexpr std::uint32_t kMaxRecordCount = 16777216u;

// Bytes of a digest record; characters of a digest string.
constexpr std::size_t kDigestBytes = 16;
constexpr std::size_t kDigestChars = 32;

bool ReadInt32(CBaseReader& stream, std::int32_t& value);
bool ReadInt32(CBaseReader& stream, std::uint32_t& value);
bool WriteInt32(CBaseWriter& stream, std::int32_t value);
bool WriteInt32(CBaseWriter& stream, std::uint32_t value);

bool ReadByte(CBaseReader& stream, std::uint8_t& value);
bool WriteByte(CBaseWriter& stream, std::uint8_t value);

bool ReadInt64(CBaseReader& stream, std::int64_t& value);
bool ReadInt64(CBaseReader& stream, std::uint64_t& value);
bool WriteInt64(CBaseWriter& stream, std::int64_t value);
bool WriteInt64(CBaseWriter& stream, std::uint64_t value);
// A FILETIME is its 64-bit value: the low word first.
bool ReadInt64(CBaseReader& stream, plat::FILETIME& value);
bool WriteInt64(CBaseWriter& stream, const plat::FILETIME& value);

// The empty string is the count 0 alone; final NUL characters are left out.
// Fails, writing nothing, when the UTF-8 form is longer than kMaxRecordCount
// bytes.
bool WriteString(CBaseWriter& stream, std::u16string_view value);
// Empties value first. Final NUL bytes are dropped; a string that then
// converts to no character fails.
bool ReadString(CBaseReader& stream, std::u16string& value);

// value: at least 32 characters, all hexadecimal digits (either case); the
// first 32 give the 16 bytes. Otherwise fails and writes nothing.
bool WriteDigest(CBaseWriter& stream, std::u16string_view value);
// Empties value, then sets it to the 16 bytes as 32 lower-case hex digits.
bool ReadDigest(CBaseReader& stream, std::u16string& value);

// Digest text <-> bytes, as the digest record uses them.
bool DigestTextToBytes(std::u16string_view text, std::uint8_t (&bytes)[kDigestBytes]);
std::u16string DigestBytesToText(const std::uint8_t (&bytes)[kDigestBytes]);

// Containers: the writers write the count, then each item in the container's
// order, and stop at the first failure. The readers empty the container, read
// and check the count, add items while every read succeeds, and leave the
// container empty when the whole read fails. A repeated key on reading
// replaces the earlier entry.
bool WriteStringSet(CBaseWriter& stream, const CStringSet& set);
bool ReadStringSet(CBaseReader& stream, CStringSet& set);
bool WriteDigestSet(CBaseWriter& stream, const CStringSet& set);
bool ReadDigestSet(CBaseReader& stream, CStringSet& set);
bool WriteStringMap(CBaseWriter& stream, const CStringToStringMap& map);
bool ReadStringMap(CBaseReader& stream, CStringToStringMap& map);
