#include "core/Unzippo.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/Streams.h"
#include "core/ZipCipher.h"
#include "platform/base/Endian.h"
#include "platform/files/Files.h"

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;  // with its signature
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kEndSearchSpan = 65535;
constexpr std::size_t kInputBufferSize = 16384;
constexpr std::size_t kEncryptionHeaderSize = 12;
constexpr std::size_t kMaxLookupName = 260;
// A gzip stream: its magic (the bytes 1F 8B read little-endian), its fixed
// header, its trailer (CRC and size), and how much of its start may hold the
// optional header fields.
constexpr std::uint16_t kGzipMagic = 0x8B1F;
constexpr std::size_t kGzipHeaderSize = 10;
constexpr std::size_t kGzipTrailerSize = 8;
constexpr std::size_t kGzipHeadSpan = 4 * 65536;


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

class CInflater {
 public:
  CInflater() { std::memset(&stream_, 0, sizeof stream_); }
  ~CInflater() {
    if (ready_) inflateEnd(&stream_);
  }
  CInflater(const CInflater&) = delete;
  CInflater& operator=(const CInflater&) = delete;
  bool Init() {
    ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return ready_;
  }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_;
  bool ready_ = false;
};

}  // namespace

CUnzippo::CUnzippo() : file_(plat::INVALID_HANDLE_VALUE), index_(false) {}

CUnzippo::~CUnzippo() { Close(); }

void CUnzippo::Close() {
  CloseStreamFile(file_);
  open_ = false;
  index_.Clear();
  entries_.clear();
  entries_.shrink_to_fit();
  names_.clear();
  names_.shrink_to_fit();
  input_.clear();
  input_.shrink_to_fit();
  password_.clear();
  hasPassword_ = false;
  fileSize_ = 0;
  bytesBefore_ = 0;
  directoryStart_ = 0;
}

bool CUnzippo::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
  if (offset > fileSize_ || size > fileSize_ - offset) return false;
  plat::LONG high = static_cast<plat::LONG>(offset >> 32);
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD low = plat::SetFilePointer(file_, static_cast<plat::LONG>(offset & 0xFFFFFFFFu), &high,
                                               plat::FILE_BEGIN);
  if (low == plat::INVALID_SET_FILE_POINTER && plat::GetLastError() != plat::ERROR_SUCCESS) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    plat::DWORD got = 0;
    const auto chunk = static_cast<plat::DWORD>(std::min<std::size_t>(size, 1u << 20));
    if (!plat::ReadFile(file_, out, chunk, &got, nullptr) || got == 0) return false;
    if (got > chunk) got = chunk;
    out += got;
    size -= got;
  }
  return true;
}

int CUnzippo::Open(const char16_t* path, const char* password) {
  Close();
  if (!path || !*path) {
    lastError_ = UNZ_FILE_NOT_FOUND;
    return 0;
  }
  try {
    if (password) {
      password_ = password;
      hasPassword_ = true;
    }
    lastError_ = OpenArchive(path);
  } catch (const std::bad_alloc&) {
    lastError_ = UNZ_OUT_OF_MEMORY;
  }
  if (lastError_ != UNZ_OK) {
    const int error = lastError_;
    Close();
    lastError_ = error;
    return 0;
  }
  open_ = true;
  return 1;
}

int CUnzippo::OpenArchive(const char16_t* path) {
  file_ = plat::CreateFileW(path, plat::GENERIC_READ, plat::FILE_SHARE_READ, nullptr, plat::OPEN_EXISTING,
                             plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == plat::INVALID_HANDLE_VALUE || file_ == nullptr) {
    file_ = plat::INVALID_HANDLE_VALUE;
    return UNZ_FILE_NOT_FOUND;
  }
  plat::DWORD sizeHigh = 0;
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD sizeLow = plat::GetFileSize(file_, &sizeHigh);
  if (sizeLow == plat::INVALID_FILE_SIZE && plat::GetLastError() != plat::ERROR_SUCCESS) return UNZ_NO_FILE_POSITION;
  fileSize_ = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;

  // The end record lies in the last 64 KiB; the last candidate whose record and
  // comment fit the file wins.
  std::uint64_t endPos = 0;
  bool found = false;
  if (fileSize_ >= kEndRecordSize) {
    const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kEndSearchSpan));
    const std::uint64_t tailStart = fileSize_ - span;
    std::vector<std::uint8_t> tail(span);
    if (!ReadAt(tailStart, tail.data(), span)) return UNZ_READ_ERROR;
    for (std::size_t i = span >= 4 ? span - 4 + 1 : 0; i-- > 0;) {
      if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6) {
        const std::uint64_t pos = tailStart + i;
        if (pos + kEndRecordSize > fileSize_) continue;
        endPos = pos;
        found = true;
        break;
      }
    }
  }
  if (!found) {
    // Without an end record, a file that begins with the gzip magic is one
    // gzip stream: an archive of a single entry.
    std::uint8_t magic[2];
    if (fileSize_ >= sizeof magic && ReadAt(0, magic, sizeof magic) && plat::GetLe16(magic) == kGzipMagic)
      return OpenGzipStream(path);
    return UNZ_CORRUPT_DIRECTORY;
  }

  std::uint8_t end[kEndRecordSize];
  if (!ReadAt(endPos, end, sizeof end)) return UNZ_CORRUPT_DIRECTORY;
  const std::uint16_t thisDisk = plat::GetLe16(end + 4);
  const std::uint16_t directoryDisk = plat::GetLe16(end + 6);
  const std::uint16_t entriesHere = plat::GetLe16(end + 8);
  const std::uint16_t entriesTotal = plat::GetLe16(end + 10);
  const std::uint32_t directorySize = plat::GetLe32(end + 12);
  const std::uint32_t directoryOffset = plat::GetLe32(end + 16);
  if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entriesTotal) return UNZ_SPANNED;
  if (endPos < static_cast<std::uint64_t>(directoryOffset) + directorySize) return UNZ_CORRUPT_DIRECTORY;
  bytesBefore_ = endPos - (static_cast<std::uint64_t>(directoryOffset) + directorySize);
  directoryStart_ = bytesBefore_ + directoryOffset;

  if (static_cast<std::uint64_t>(entriesTotal) * kCentralHeaderSize > directorySize) return UNZ_CORRUPT_DIRECTORY;
  std::vector<std::uint8_t> directory(directorySize);
  if (directorySize && !ReadAt(directoryStart_, directory.data(), directorySize)) return UNZ_CORRUPT_DIRECTORY;

  // Walk the records by their own lengths: name, extra field and comment.
  std::vector<std::pair<std::size_t, std::size_t>> names;  // offset and length in the directory
  entries_.reserve(entriesTotal);
  names.reserve(entriesTotal);
  std::size_t pos = 0;
  for (std::uint32_t i = 0; i < entriesTotal; ++i) {
    if (directorySize - pos < kCentralHeaderSize) return UNZ_CORRUPT_DIRECTORY;
    const std::uint8_t* r = directory.data() + pos;
    if (plat::GetLe32(r) != 0x02014B50u) return UNZ_CORRUPT_DIRECTORY;
    const std::size_t nameLength = plat::GetLe16(r + 28);
    const std::size_t extraLength = plat::GetLe16(r + 30);
    const std::size_t commentLength = plat::GetLe16(r + 32);
    const std::size_t recordLength = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (directorySize - pos < recordLength) return UNZ_CORRUPT_DIRECTORY;
    Entry entry;
    entry.flags = plat::GetLe16(r + 8);
    entry.method = plat::GetLe16(r + 10);
    entry.time = plat::GetLe16(r + 12);
    entry.crc = plat::GetLe32(r + 16);
    entry.compressedSize = plat::GetLe32(r + 20);
    entry.uncompressedSize = plat::GetLe32(r + 24);
    entry.localHeaderOffset = plat::GetLe32(r + 42);
    entries_.push_back(entry);
    names.emplace_back(pos + kCentralHeaderSize, nameLength);
    pos += recordLength;
  }

  // Lower-cased, NUL-terminated names in one block that no longer moves.
  std::size_t total = 0;
  for (const auto& n : names) total += n.second + 1;
  names_.resize(total);
  std::vector<std::size_t> nameStart(names.size());
  std::size_t at = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    nameStart[i] = at;
    entries_[i].nameOffset = at;
    const char* src = reinterpret_cast<const char*>(directory.data() + names[i].first);
    for (std::size_t k = 0; k < names[i].second; ++k) names_[at++] = LowerAscii(src[k]);
    names_[at++] = '\0';
  }

  std::uint32_t bits = 5;
  while (entriesTotal > (1u << (bits - 1))) ++bits;
  index_.SetInitialExponent(bits);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const char* key = names_.data() + nameStart[i];
    if (IsUnsafeName(key, names[i].second)) continue;
    unsigned long existing = 0;
    if (index_.Lookup(key, existing)) continue;  // the first of repeated names stays
    if (!index_.SetAt(key, static_cast<unsigned long>(i))) return UNZ_OUT_OF_MEMORY;
  }
  // An index table even for an archive without usable entries, so the slot
  // count reflects the directory.
  if (!index_.HasTable() && !index_.Resize(bits)) return UNZ_OUT_OF_MEMORY;
  return UNZ_OK;
}

int CUnzippo::OpenGzipStream(const char16_t* path) {
  // The header (RFC 1952): magic, method 8, flags, time, extra flags and
  // system; then, as the flags say, an extra field, a NUL-terminated name, a
  // NUL-terminated comment and a header CRC. The deflate data follow and end
  // 8 bytes before the file does, at the CRC and size of what they hold.
  if (fileSize_ < kGzipHeaderSize + kGzipTrailerSize) return UNZ_CORRUPT_DIRECTORY;
  const std::size_t headLength =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_ - kGzipTrailerSize, kGzipHeadSpan));
  std::vector<std::uint8_t> head(headLength);
  if (!ReadAt(0, head.data(), headLength)) return UNZ_READ_ERROR;
  const std::uint8_t flags = head[3];
  if (head[2] != 8 || (flags & 0xE0u) != 0) return UNZ_CORRUPT_DIRECTORY;
  std::size_t pos = kGzipHeaderSize;
  if (flags & 0x04u) {  // extra field
    if (headLength - pos < 2) return UNZ_CORRUPT_DIRECTORY;
    const std::size_t extra = plat::GetLe16(head.data() + pos);
    if (headLength - pos - 2 < extra) return UNZ_CORRUPT_DIRECTORY;
    pos += 2 + extra;
  }
  std::string name;
  bool named = false;
  for (const std::uint8_t bit : {std::uint8_t{0x08}, std::uint8_t{0x10}}) {  // name, comment
    if ((flags & bit) == 0) continue;
    const std::uint8_t* start = head.data() + pos;
    const void* nul = std::memchr(start, 0, headLength - pos);
    if (!nul) return UNZ_CORRUPT_DIRECTORY;
    const std::size_t length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start);
    if (bit == 0x08) {
      name.assign(reinterpret_cast<const char*>(start), length);
      named = true;
    }
    pos += length + 1;
  }
  if (flags & 0x02u) {  // header CRC
    if (headLength - pos < 2) return UNZ_CORRUPT_DIRECTORY;
    pos += 2;
  }
  const std::uint64_t dataEnd = fileSize_ - kGzipTrailerSize;
  if (pos > dataEnd || dataEnd - pos > 0xFFFFFFFFu) return UNZ_CORRUPT_DIRECTORY;
  std::uint8_t trailer[kGzipTrailerSize];
  if (!ReadAt(dataEnd, trailer, sizeof trailer)) return UNZ_READ_ERROR;

  if (!named) {
    // The file's own name, less its folder and a ".gz" ending.
    std::u16string file(path);
    const std::size_t slash = file.find_last_of(u"\\/");
    if (slash != std::u16string::npos) file.erase(0, slash + 1);
    if (file.size() > 3) {
      std::u16string ending = file.substr(file.size() - 3);
      for (char16_t& c : ending)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
      if (ending == u".gz") file.resize(file.size() - 3);
    }
    for (char16_t c : file) name += c < 0x80 ? static_cast<char>(c) : '_';
  }

  Entry entry;
  entry.method = 8;
  entry.crc = plat::GetLe32(trailer);
  entry.compressedSize = static_cast<std::uint32_t>(dataEnd - pos);
  entry.uncompressedSize = plat::GetLe32(trailer + 4);
  entry.gzip = true;
  entry.dataOffset = pos;
  entries_.push_back(entry);
  bytesBefore_ = 0;
  directoryStart_ = dataEnd;
  names_.resize(name.size() + 1);
  for (std::size_t k = 0; k < name.size(); ++k) names_[k] = LowerAscii(name[k]);
  names_[name.size()] = '\0';
  index_.SetInitialExponent(5);
  if (!IsUnsafeName(names_.data(), name.size()) && !index_.SetAt(names_.data(), 0)) return UNZ_OUT_OF_MEMORY;
  if (!index_.HasTable() && !index_.Resize(5)) return UNZ_OUT_OF_MEMORY;
  return UNZ_OK;
}

const CUnzippo::Entry* CUnzippo::Find(const char* name) const {
  if (!open_ || !name) return nullptr;
  char key[kMaxLookupName];
  std::size_t n = 0;
  for (; name[n]; ++n) {
    if (n + 1 >= kMaxLookupName) return nullptr;
    key[n] = LowerAscii(name[n]);
  }
  key[n] = '\0';
  unsigned long index = 0;
  if (!index_.Lookup(key, index) || index >= entries_.size()) return nullptr;
  return &entries_[index];
}

const char* CUnzippo::GetEntryName(std::uint32_t i) const {
  return i < entries_.size() ? names_.data() + entries_[i].nameOffset : nullptr;
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
    lastError_ = UNZ_FILE_NOT_FOUND;
    return 0;
  }
  lastError_ = UNZ_OK;
  if (!buffer || bufferSize == 0) return 1;
  const std::uint32_t count = std::min(bufferSize, entry->uncompressedSize);
  try {
    lastError_ = ReadEntryData(*entry, static_cast<std::uint8_t*>(buffer), count);
  } catch (const std::bad_alloc&) {
    lastError_ = UNZ_OUT_OF_MEMORY;
  }
  return (lastError_ == UNZ_OK || lastError_ == UNZ_MORE_DATA) ? 1 : 0;
}

int CUnzippo::LocateData(const Entry& entry, std::uint64_t& dataStart) {
  if (entry.gzip) {
    dataStart = entry.dataOffset;
    if (dataStart > directoryStart_ || entry.compressedSize > directoryStart_ - dataStart) return UNZ_CORRUPT_DATA;
    return UNZ_OK;
  }
  // The data begin after the local header's own name and extra field, and
  // must end before the central directory.
  const std::uint64_t local = bytesBefore_ + entry.localHeaderOffset;
  std::uint8_t header[kLocalHeaderSize];
  if (local + kLocalHeaderSize > directoryStart_ || !ReadAt(local, header, sizeof header)) return UNZ_CORRUPT_DATA;
  if (plat::GetLe32(header) != 0x04034B50u) return UNZ_CORRUPT_DATA;
  dataStart = local + kLocalHeaderSize + plat::GetLe16(header + 26) + plat::GetLe16(header + 28);
  if (dataStart > directoryStart_ || entry.compressedSize > directoryStart_ - dataStart) return UNZ_CORRUPT_DATA;
  return UNZ_OK;
}

bool CUnzippo::CheckPassword() {
  if (!open_) return false;
  for (const Entry& entry : entries_) {
    if ((entry.flags & 1u) == 0) continue;
    if (!hasPassword_) {
      lastError_ = UNZ_WRONG_PASSWORD;
      return false;
    }
    std::uint64_t dataStart = 0;
    std::uint8_t header[kEncryptionHeaderSize];
    if (LocateData(entry, dataStart) != UNZ_OK || entry.compressedSize < kEncryptionHeaderSize ||
        !ReadAt(dataStart, header, sizeof header)) {
      lastError_ = UNZ_CORRUPT_DATA;
      return false;
    }
    CZipCipher cipher(password_);
    std::uint8_t last = 0;
    for (std::uint8_t b : header) last = cipher.Decrypt(b);
    const std::uint8_t checkByte = (entry.flags & 8u) ? static_cast<std::uint8_t>(entry.time >> 8)
                                                       : static_cast<std::uint8_t>(entry.crc >> 24);
    if (last != checkByte) {
      lastError_ = UNZ_WRONG_PASSWORD;
      return false;
    }
  }
  lastError_ = UNZ_OK;
  return true;
}

int CUnzippo::ReadEntryData(const Entry& entry, std::uint8_t* out, std::uint32_t count) {
  if (entry.method != 0 && entry.method != 8) return UNZ_CORRUPT_DATA;
  const bool encrypted = (entry.flags & 1u) != 0;
  if (encrypted && !hasPassword_) return UNZ_WRONG_PASSWORD;

  std::uint64_t dataStart = 0;
  const int located = LocateData(entry, dataStart);
  if (located != UNZ_OK) return located;

  std::uint32_t compressedLeft = entry.compressedSize;
  std::size_t headerLeft = 0;
  std::unique_ptr<CZipCipher> cipher;
  std::uint8_t checkByte = 0;
  if (encrypted) {
    if (compressedLeft < kEncryptionHeaderSize) return UNZ_CORRUPT_DATA;
    cipher = std::make_unique<CZipCipher>(password_);
    headerLeft = kEncryptionHeaderSize;
    checkByte = (entry.flags & 8u) ? static_cast<std::uint8_t>(entry.time >> 8)
                                   : static_cast<std::uint8_t>(entry.crc >> 24);
  }
  if (entry.method == 0) {
    const std::uint32_t stored = compressedLeft - static_cast<std::uint32_t>(headerLeft);
    if (stored != entry.uncompressedSize) return UNZ_CORRUPT_DATA;
  }

  input_.resize(kInputBufferSize);
  CInflater inflater;
  if (entry.method == 8 && !inflater.Init()) return UNZ_OUT_OF_MEMORY;

  std::uint64_t filePos = dataStart;
  std::uint32_t produced = 0;
  bool streamEnded = false;
  while (produced < count) {
    if (compressedLeft == 0) return UNZ_CORRUPT_DATA;  // the data end before the declared size
    const std::uint32_t chunk = std::min<std::uint32_t>(compressedLeft, kInputBufferSize);
    if (!ReadAt(filePos, input_.data(), chunk)) return UNZ_READ_ERROR;
    filePos += chunk;
    compressedLeft -= chunk;
    std::uint8_t* data = input_.data();
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
