#include "core/RecordEncoding.h"

#include <memory>
#include <new>
#include <string>

#include "core/StringUtils.h"
#include "platform/base/Text.h"

namespace {

template <class T>
bool ReadLittle(CBaseReader& stream, T& value) {
  std::uint8_t bytes[sizeof(T)];
  if (!stream.Read(bytes, sizeof bytes)) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  value = static_cast<T>(v);
  return true;
}

template <class T>
bool WriteLittle(CBaseWriter& stream, T value) {
  std::uint8_t bytes[sizeof(T)];
  const auto v = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return stream.Write(bytes, sizeof bytes);
}

// Reads a count and checks it: 0..kMaxRecordCount, and no more items than the
// stream can still deliver when each takes at least minItemBytes.
bool ReadCount(CBaseReader& stream, std::uint32_t& count, std::uint32_t minItemBytes) {
  std::int32_t raw = 0;
  if (!ReadLittle(stream, raw)) return false;
  if (raw < 0 || static_cast<std::uint32_t>(raw) > kMaxRecordCount) return false;
  const std::int64_t left = stream.Remaining();
  if (left >= 0 && static_cast<std::int64_t>(raw) * minItemBytes > left) return false;
  count = static_cast<std::uint32_t>(raw);
  return true;
}

bool WriteCount(CBaseWriter& stream, std::size_t count) {
  if (count > kMaxRecordCount) return false;
  return WriteLittle(stream, static_cast<std::uint32_t>(count));
}

// Bytes of the UTF-8 form of a UTF-16 text (an unpaired surrogate becomes
// U+FFFD, three bytes), without converting it.
std::size_t Utf8Length(std::u16string_view text) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      bytes += 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

}  // namespace

bool ReadInt32(CBaseReader& stream, std::int32_t& value) { return ReadLittle(stream, value); }
bool ReadInt32(CBaseReader& stream, std::uint32_t& value) { return ReadLittle(stream, value); }
bool WriteInt32(CBaseWriter& stream, std::int32_t value) { return WriteLittle(stream, value); }
bool WriteInt32(CBaseWriter& stream, std::uint32_t value) { return WriteLittle(stream, value); }

bool ReadByte(CBaseReader& stream, std::uint8_t& value) { return stream.Read(&value, 1); }
bool WriteByte(CBaseWriter& stream, std::uint8_t value) { return stream.Write(&value, 1); }

bool ReadInt64(CBaseReader& stream, std::int64_t& value) { return ReadLittle(stream, value); }
bool ReadInt64(CBaseReader& stream, std::uint64_t& value) { return ReadLittle(stream, value); }
bool WriteInt64(CBaseWriter& stream, std::int64_t value) { return WriteLittle(stream, value); }
bool WriteInt64(CBaseWriter& stream, std::uint64_t value) { return WriteLittle(stream, value); }

bool ReadInt64(CBaseReader& stream, plat::FILETIME& value) {
  std::uint64_t v = 0;
  if (!ReadLittle(stream, v)) return false;
  value.dwLowDateTime = static_cast<plat::DWORD>(v);
  value.dwHighDateTime = static_cast<plat::DWORD>(v >> 32);
  return true;
}

bool WriteInt64(CBaseWriter& stream, const plat::FILETIME& value) {
  return WriteLittle(stream, (static_cast<std::uint64_t>(value.dwHighDateTime) << 32) | value.dwLowDateTime);
}

bool WriteString(CBaseWriter& stream, std::u16string_view value) {
  // Reading drops a final zero byte and refuses a string of nothing else, so
  // final zeros are not written: what is written reads back as the string
  // without them (a lone zero as the empty string), never as a bad record
  // that would end the reading of the whole file.
  while (!value.empty() && value.back() == u'\0') value.remove_suffix(1);
  if (value.empty()) return WriteLittle(stream, std::uint32_t{0});
  // Every UTF-16 unit takes at least one byte of UTF-8.
  if (value.size() > kMaxRecordCount || Utf8Length(value) > kMaxRecordCount) return false;
  std::string utf8;
  try {
    utf8 = plat::Utf16ToUtf8(value);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!WriteCount(stream, utf8.size())) return false;
  return stream.Write(utf8.data(), utf8.size());
}

bool ReadString(CBaseReader& stream, std::u16string& value) {
  value.clear();
  std::uint32_t count = 0;
  if (!ReadCount(stream, count, 1)) return false;
  if (count == 0) return true;
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[count]);
  if (!bytes) return false;
  if (!stream.Read(bytes.get(), count)) return false;
  std::size_t length = count;
  // Final zeros are no characters (WriteString leaves them out): a string of
  // nothing else is refused, so what reads always writes back the same.
  while (length > 0 && bytes[length - 1] == '\0') --length;
  try {
    value = plat::Utf8ToUtf16(std::string_view(bytes.get(), length));
  } catch (const std::bad_alloc&) {
    value.clear();
    return false;
  }
  return !value.empty();
}

bool DigestTextToBytes(std::u16string_view text, std::uint8_t (&bytes)[kDigestBytes]) {
  if (text.size() < kDigestChars) return false;
  for (char16_t c : text) {
    if (HexValue(c) < 0) return false;
  }
  for (std::size_t i = 0; i < kDigestBytes; ++i) {
    bytes[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
  }
  return true;
}

std::u16string DigestBytesToText(const std::uint8_t (&bytes)[kDigestBytes]) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string text(kDigestChars, u'0');
  for (std::size_t i = 0; i < kDigestBytes; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return text;
}

bool WriteDigest(CBaseWriter& stream, std::u16string_view value) {
  std::uint8_t bytes[kDigestBytes];
  if (!DigestTextToBytes(value, bytes)) return false;
  return stream.Write(bytes, sizeof bytes);
}

bool ReadDigest(CBaseReader& stream, std::u16string& value) {
  value.clear();
  std::uint8_t bytes[kDigestBytes];
  if (!stream.Read(bytes, sizeof bytes)) return false;
  value = DigestBytesToText(bytes);
  return true;
}

bool WriteStringSet(CBaseWriter& stream, const CStringSet& set) {
  if (!WriteCount(stream, set.size())) return false;
  for (const auto& item : set) {
    if (!WriteString(stream, item)) return false;
  }
  return true;
}

bool WriteDigestSet(CBaseWriter& stream, const CStringSet& set) {
  if (!WriteCount(stream, set.size())) return false;
  for (const auto& item : set) {
    if (!WriteDigest(stream, item)) return false;
  }
  return true;
}

bool WriteStringMap(CBaseWriter& stream, const CStringToStringMap& map) {
  if (!WriteCount(stream, map.size())) return false;
  for (const auto& [key, value] : map) {
    const bool keyOk = WriteString(stream, key);
    const bool valueOk = WriteString(stream, value);
    if (!keyOk || !valueOk) return false;
  }
  return true;
}

namespace {

// Runs read over the container and empties it again when the read fails.
template <class Container, class ReadItems>
bool ReadContainer(Container& container, ReadItems readItems) {
  container.clear();
  bool ok = false;
  try {
    ok = readItems();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) container.clear();
  return ok;
}

}  // namespace

bool ReadStringSet(CBaseReader& stream, CStringSet& set) {
  return ReadContainer(set, [&] {
    std::uint32_t count = 0;
    if (!ReadCount(stream, count, 4)) return false;
    std::u16string item;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!ReadString(stream, item)) return false;
      set.insert(item);
    }
    return true;
  });
}

bool ReadDigestSet(CBaseReader& stream, CStringSet& set) {
  return ReadContainer(set, [&] {
    std::uint32_t count = 0;
    if (!ReadCount(stream, count, kDigestBytes)) return false;
    std::u16string item;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!ReadDigest(stream, item)) return false;
      set.insert(item);
    }
    return true;
  });
}

bool ReadStringMap(CBaseReader& stream, CStringToStringMap& map) {
  return ReadContainer(map, [&] {
    std::uint32_t count = 0;
    if (!ReadCount(stream, count, 8)) return false;
    std::u16string key;
    std::u16string value;
    for (std::uint32_t i = 0; i < count; ++i) {
      const bool keyOk = ReadString(stream, key);
      const bool valueOk = ReadString(stream, value);
      if (!keyOk || !valueOk) return false;
      map.insert_or_assign(key, value);
    }
    return true;
  });
}
