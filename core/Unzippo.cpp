#include "core/Unzippo.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/Streams.h"
#include "platform/files/Files.h"

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;  // with its signature
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kEndSearchSpan = 65535;
constexpr std::size_t kInputBufferSize = 16384;
constexpr std::size_t kEncryptionHeaderSize = 12;
constexpr std::size_t kMaxLookupName = 260;

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names that could point outside a folder they were extracted to: absolute
// paths, drive letters and ".." components.
bool IsUnsafeName(const char* name, std::size_t length) {
  if (length == 0) return true;
  if (name[0] == '/' || name[0] == '\\') return true;
  if (length >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/' || name[i] == '\\') {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return true;
      start = i + 1;
    }
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (name[i] == '\0') return true;
  }
  return false;
}

// The traditional PKWARE stream cipher.
class CZipCipher {
 public:
  explicit CZipCipher(const std::string& password) {
    for (unsigned char c : password) Update(c);
  }
  std::uint8_t Decrypt(std::uint8_t c) {
    const std::uint32_t temp = (m_keys[2] | 2u) & 0xFFFFu;
    const auto plain = static_cast<std::uint8_t>(c ^ static_cast<std::uint8_t>((temp * (temp ^ 1u)) >> 8));
    Update(plain);
    return plain;
  }

 private:
  static std::uint32_t Crc(std::uint32_t crc, std::uint8_t b) {
    return static_cast<std::uint32_t>(get_crc_table()[(crc ^ b) & 0xFFu]) ^ (crc >> 8);
  }
  void Update(std::uint8_t c) {
    m_keys[0] = Crc(m_keys[0], c);
    m_keys[1] = m_keys[1] + (m_keys[0] & 0xFFu);
    m_keys[1] = m_keys[1] * 134775813u + 1u;
    m_keys[2] = Crc(m_keys[2], static_cast<std::uint8_t>(m_keys[1] >> 24));
  }
  std::uint32_t m_keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

class CInflater {
 public:
  CInflater() { std::memset(&m_stream, 0, sizeof m_stream); }
  ~CInflater() {
    if (m_ready) inflateEnd(&m_stream);
  }
  CInflater(const CInflater&) = delete;
  CInflater& operator=(const CInflater&) = delete;
  bool Init() {
    m_ready = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK;
    return m_ready;
  }
  z_stream& Stream() { return m_stream; }

 private:
  z_stream m_stream;
  bool m_ready = false;
};

}  // namespace

CUnzippo::CUnzippo() : m_file(plat::INVALID_HANDLE_VALUE), m_index(false) {}

CUnzippo::~CUnzippo() { Close(); }

void CUnzippo::Close() {
  CloseStreamFile(m_file);
  m_open = false;
  m_index.Clear();
  m_entries.clear();
  m_entries.shrink_to_fit();
  m_names.clear();
  m_names.shrink_to_fit();
  m_input.clear();
  m_input.shrink_to_fit();
  m_password.clear();
  m_hasPassword = false;
  m_fileSize = 0;
  m_bytesBefore = 0;
  m_directoryStart = 0;
}

bool CUnzippo::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
  if (offset > m_fileSize || size > m_fileSize - offset) return false;
  plat::LONG high = static_cast<plat::LONG>(offset >> 32);
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD low = plat::SetFilePointer(m_file, static_cast<plat::LONG>(offset & 0xFFFFFFFFu), &high,
                                               plat::FILE_BEGIN);
  if (low == plat::INVALID_SET_FILE_POINTER && plat::GetLastError() != plat::ERROR_SUCCESS) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    plat::DWORD got = 0;
    const auto chunk = static_cast<plat::DWORD>(std::min<std::size_t>(size, 1u << 20));
    if (!plat::ReadFile(m_file, out, chunk, &got, nullptr) || got == 0) return false;
    if (got > chunk) got = chunk;
    out += got;
    size -= got;
  }
  return true;
}

int CUnzippo::Open(const char16_t* path, const char* password) {
  Close();
  if (!path || !*path) {
    m_lastError = UNZ_FILE_NOT_FOUND;
    return 0;
  }
  try {
    if (password) {
      m_password = password;
      m_hasPassword = true;
    }
    m_lastError = OpenArchive(path);
  } catch (const std::bad_alloc&) {
    m_lastError = UNZ_OUT_OF_MEMORY;
  }
  if (m_lastError != UNZ_OK) {
    const int error = m_lastError;
    Close();
    m_lastError = error;
    return 0;
  }
  m_open = true;
  return 1;
}

int CUnzippo::OpenArchive(const char16_t* path) {
  m_file = plat::CreateFileW(path, plat::GENERIC_READ, plat::FILE_SHARE_READ, nullptr, plat::OPEN_EXISTING,
                             plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_file == plat::INVALID_HANDLE_VALUE || m_file == nullptr) {
    m_file = plat::INVALID_HANDLE_VALUE;
    return UNZ_FILE_NOT_FOUND;
  }
  plat::DWORD sizeHigh = 0;
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD sizeLow = plat::GetFileSize(m_file, &sizeHigh);
  if (sizeLow == plat::INVALID_FILE_SIZE && plat::GetLastError() != plat::ERROR_SUCCESS) return UNZ_NO_FILE_POSITION;
  m_fileSize = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  if (m_fileSize < kEndRecordSize) return UNZ_CORRUPT_DIRECTORY;

  // The end record lies in the last 64 KiB; the last candidate whose record and
  // comment fit the file wins.
  const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(m_fileSize, kEndSearchSpan));
  const std::uint64_t tailStart = m_fileSize - span;
  std::vector<std::uint8_t> tail(span);
  if (!ReadAt(tailStart, tail.data(), span)) return UNZ_READ_ERROR;
  std::uint64_t endPos = 0;
  bool found = false;
  for (std::size_t i = span >= 4 ? span - 4 + 1 : 0; i-- > 0;) {
    if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6) {
      const std::uint64_t pos = tailStart + i;
      if (pos + kEndRecordSize > m_fileSize) continue;
      endPos = pos;
      found = true;
      break;
    }
  }
  if (!found) return UNZ_CORRUPT_DIRECTORY;

  std::uint8_t end[kEndRecordSize];
  if (!ReadAt(endPos, end, sizeof end)) return UNZ_CORRUPT_DIRECTORY;
  const std::uint16_t thisDisk = Get16(end + 4);
  const std::uint16_t directoryDisk = Get16(end + 6);
  const std::uint16_t entriesHere = Get16(end + 8);
  const std::uint16_t entriesTotal = Get16(end + 10);
  const std::uint32_t directorySize = Get32(end + 12);
  const std::uint32_t directoryOffset = Get32(end + 16);
  if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entriesTotal) return UNZ_SPANNED;
  if (endPos < static_cast<std::uint64_t>(directoryOffset) + directorySize) return UNZ_CORRUPT_DIRECTORY;
  m_bytesBefore = endPos - (static_cast<std::uint64_t>(directoryOffset) + directorySize);
  m_directoryStart = m_bytesBefore + directoryOffset;

  if (static_cast<std::uint64_t>(entriesTotal) * kCentralHeaderSize > directorySize) return UNZ_CORRUPT_DIRECTORY;
  std::vector<std::uint8_t> directory(directorySize);
  if (directorySize && !ReadAt(m_directoryStart, directory.data(), directorySize)) return UNZ_CORRUPT_DIRECTORY;

  // Walk the records by their own lengths: name, extra field and comment.
  std::vector<std::pair<std::size_t, std::size_t>> names;  // offset and length in the directory
  m_entries.reserve(entriesTotal);
  names.reserve(entriesTotal);
  std::size_t pos = 0;
  for (std::uint32_t i = 0; i < entriesTotal; ++i) {
    if (directorySize - pos < kCentralHeaderSize) return UNZ_CORRUPT_DIRECTORY;
    const std::uint8_t* r = directory.data() + pos;
    if (Get32(r) != 0x02014B50u) return UNZ_CORRUPT_DIRECTORY;
    const std::size_t nameLength = Get16(r + 28);
    const std::size_t extraLength = Get16(r + 30);
    const std::size_t commentLength = Get16(r + 32);
    const std::size_t recordLength = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (directorySize - pos < recordLength) return UNZ_CORRUPT_DIRECTORY;
    Entry entry;
    entry.flags = Get16(r + 8);
    entry.method = Get16(r + 10);
    entry.time = Get16(r + 12);
    entry.crc = Get32(r + 16);
    entry.compressedSize = Get32(r + 20);
    entry.uncompressedSize = Get32(r + 24);
    entry.localHeaderOffset = Get32(r + 42);
    m_entries.push_back(entry);
    names.emplace_back(pos + kCentralHeaderSize, nameLength);
    pos += recordLength;
  }

  // Lower-cased, NUL-terminated names in one block that no longer moves.
  std::size_t total = 0;
  for (const auto& n : names) total += n.second + 1;
  m_names.resize(total);
  std::vector<std::size_t> nameStart(names.size());
  std::size_t at = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    nameStart[i] = at;
    m_entries[i].nameOffset = at;
    const char* src = reinterpret_cast<const char*>(directory.data() + names[i].first);
    for (std::size_t k = 0; k < names[i].second; ++k) m_names[at++] = LowerAscii(src[k]);
    m_names[at++] = '\0';
  }

  std::uint32_t bits = 5;
  while (entriesTotal > (1u << (bits - 1))) ++bits;
  m_index.SetInitialExponent(bits);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const char* key = m_names.data() + nameStart[i];
    if (IsUnsafeName(key, names[i].second)) continue;
    unsigned long existing = 0;
    if (m_index.Lookup(key, existing)) continue;  // the first of repeated names stays
    if (!m_index.SetAt(key, static_cast<unsigned long>(i))) return UNZ_OUT_OF_MEMORY;
  }
  // An index table even for an archive without usable entries, so the slot
  // count reflects the directory.
  if (!m_index.HasTable() && !m_index.Resize(bits)) return UNZ_OUT_OF_MEMORY;
  return UNZ_OK;
}

const CUnzippo::Entry* CUnzippo::Find(const char* name) const {
  if (!m_open || !name) return nullptr;
  char key[kMaxLookupName];
  std::size_t n = 0;
  for (; name[n]; ++n) {
    if (n + 1 >= kMaxLookupName) return nullptr;
    key[n] = LowerAscii(name[n]);
  }
  key[n] = '\0';
  unsigned long index = 0;
  if (!m_index.Lookup(key, index) || index >= m_entries.size()) return nullptr;
  return &m_entries[index];
}

const char* CUnzippo::GetEntryName(std::uint32_t i) const {
  return i < m_entries.size() ? m_names.data() + m_entries[i].nameOffset : nullptr;
}

bool CUnzippo::GetEntrySize(const char* name, std::uint32_t& size) const {
  const Entry* entry = Find(name);
  if (!entry) return false;
  size = entry->uncompressedSize;
  return true;
}

std::uint32_t CUnzippo::GetEntrySize(const char* name) const {
  std::uint32_t size = 0;
  return GetEntrySize(name, size) ? size : 0;
}

int CUnzippo::ReadEntry(const char* name, void* buffer, std::uint32_t bufferSize) {
  const Entry* entry = Find(name);
  if (!entry) {
    m_lastError = UNZ_FILE_NOT_FOUND;
    return 0;
  }
  m_lastError = UNZ_OK;
  if (!buffer || bufferSize == 0) return 1;
  const std::uint32_t count = std::min(bufferSize, entry->uncompressedSize);
  try {
    m_lastError = ReadEntryData(*entry, static_cast<std::uint8_t*>(buffer), count);
  } catch (const std::bad_alloc&) {
    m_lastError = UNZ_OUT_OF_MEMORY;
  }
  return (m_lastError == UNZ_OK || m_lastError == UNZ_MORE_DATA) ? 1 : 0;
}

int CUnzippo::LocateData(const Entry& entry, std::uint64_t& dataStart) {
  // The data begin after the local header's own name and extra field, and
  // must end before the central directory.
  const std::uint64_t local = m_bytesBefore + entry.localHeaderOffset;
  std::uint8_t header[kLocalHeaderSize];
  if (local + kLocalHeaderSize > m_directoryStart || !ReadAt(local, header, sizeof header)) return UNZ_CORRUPT_DATA;
  if (Get32(header) != 0x04034B50u) return UNZ_CORRUPT_DATA;
  dataStart = local + kLocalHeaderSize + Get16(header + 26) + Get16(header + 28);
  if (dataStart > m_directoryStart || entry.compressedSize > m_directoryStart - dataStart) return UNZ_CORRUPT_DATA;
  return UNZ_OK;
}

bool CUnzippo::CheckPassword() {
  if (!m_open) return false;
  for (const Entry& entry : m_entries) {
    if ((entry.flags & 1u) == 0) continue;
    if (!m_hasPassword) {
      m_lastError = UNZ_WRONG_PASSWORD;
      return false;
    }
    std::uint64_t dataStart = 0;
    std::uint8_t header[kEncryptionHeaderSize];
    if (LocateData(entry, dataStart) != UNZ_OK || entry.compressedSize < kEncryptionHeaderSize ||
        !ReadAt(dataStart, header, sizeof header)) {
      m_lastError = UNZ_CORRUPT_DATA;
      return false;
    }
    CZipCipher cipher(m_password);
    std::uint8_t last = 0;
    for (std::uint8_t b : header) last = cipher.Decrypt(b);
    const std::uint8_t checkByte = (entry.flags & 8u) ? static_cast<std::uint8_t>(entry.time >> 8)
                                                       : static_cast<std::uint8_t>(entry.crc >> 24);
    if (last != checkByte) {
      m_lastError = UNZ_WRONG_PASSWORD;
      return false;
    }
  }
  m_lastError = UNZ_OK;
  return true;
}

int CUnzippo::ReadEntryData(const Entry& entry, std::uint8_t* out, std::uint32_t count) {
  if (entry.method != 0 && entry.method != 8) return UNZ_CORRUPT_DATA;
  const bool encrypted = (entry.flags & 1u) != 0;
  if (encrypted && !m_hasPassword) return UNZ_WRONG_PASSWORD;

  std::uint64_t dataStart = 0;
  const int located = LocateData(entry, dataStart);
  if (located != UNZ_OK) return located;

  std::uint32_t compressedLeft = entry.compressedSize;
  std::size_t headerLeft = 0;
  std::unique_ptr<CZipCipher> cipher;
  std::uint8_t checkByte = 0;
  if (encrypted) {
    if (compressedLeft < kEncryptionHeaderSize) return UNZ_CORRUPT_DATA;
    cipher = std::make_unique<CZipCipher>(m_password);
    headerLeft = kEncryptionHeaderSize;
    checkByte = (entry.flags & 8u) ? static_cast<std::uint8_t>(entry.time >> 8)
                                   : static_cast<std::uint8_t>(entry.crc >> 24);
  }
  if (entry.method == 0) {
    const std::uint32_t stored = compressedLeft - static_cast<std::uint32_t>(headerLeft);
    if (stored != entry.uncompressedSize) return UNZ_CORRUPT_DATA;
  }

  m_input.resize(kInputBufferSize);
  CInflater inflater;
  if (entry.method == 8 && !inflater.Init()) return UNZ_OUT_OF_MEMORY;

  std::uint64_t filePos = dataStart;
  std::uint32_t produced = 0;
  bool streamEnded = false;
  while (produced < count) {
    if (compressedLeft == 0) return UNZ_CORRUPT_DATA;  // the data end before the declared size
    const std::uint32_t chunk = std::min<std::uint32_t>(compressedLeft, kInputBufferSize);
    if (!ReadAt(filePos, m_input.data(), chunk)) return UNZ_READ_ERROR;
    filePos += chunk;
    compressedLeft -= chunk;
    std::uint8_t* data = m_input.data();
    std::uint32_t available = chunk;
    if (cipher) {
      for (std::uint32_t i = 0; i < chunk; ++i) data[i] = cipher->Decrypt(data[i]);
      while (headerLeft > 0 && available > 0) {
        --headerLeft;
        if (headerLeft == 0 && *data != checkByte) return UNZ_WRONG_PASSWORD;
        ++data;
        --available;
      }
    }
    if (available == 0) continue;
    if (entry.method == 0) {
      const std::uint32_t n = std::min(available, count - produced);
      std::memcpy(out + produced, data, n);
      produced += n;
      continue;
    }
    z_stream& z = inflater.Stream();
    z.next_in = data;
    z.avail_in = available;
    while (z.avail_in > 0 && produced < count) {
      z.next_out = out + produced;
      z.avail_out = count - produced;
      const int result = inflate(&z, Z_NO_FLUSH);
      produced = count - z.avail_out;
      if (result == Z_STREAM_END) {
        streamEnded = true;
        break;
      }
      if (result == Z_BUF_ERROR && z.avail_out > 0 && z.avail_in == 0) break;  // needs more input
      if (result != Z_OK) return UNZ_CORRUPT_DATA;
    }
    if (streamEnded) break;
  }
  if (produced < count) return UNZ_CORRUPT_DATA;
  if (count < entry.uncompressedSize) return UNZ_MORE_DATA;
  // The whole entry was read: its bytes must carry the recorded CRC.
  if (crc32(crc32(0L, Z_NULL, 0), out, count) != entry.crc) return UNZ_CORRUPT_DATA;
  return UNZ_OK;
}
