#include "core/Streams.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "core/DebugLog.h"
#include "platform/base/Format.h"
#include "platform/files/Files.h"

namespace {

// WriteFile and ReadFile take 32-bit counts; larger blocks go in pieces.
constexpr std::size_t kMaxIoChunk = 0x40000000u;

bool FilePosition(plat::HANDLE file, std::int64_t& position) {
  plat::LONG high = 0;
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD low = plat::SetFilePointer(file, 0, &high, plat::FILE_CURRENT);
  if (low == plat::INVALID_SET_FILE_POINTER && plat::GetLastError() != plat::ERROR_SUCCESS) return false;
  position = static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<plat::DWORD>(high)) << 32) | low);
  return true;
}

bool MoveFilePosition(plat::HANDLE file, std::int64_t distance, plat::DWORD method,
                      std::int64_t* newPosition = nullptr) {
  plat::LONG high = static_cast<plat::LONG>(static_cast<std::uint64_t>(distance) >> 32);
  const plat::LONG low = static_cast<plat::LONG>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(distance)));
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD result = plat::SetFilePointer(file, low, &high, method);
  if (result == plat::INVALID_SET_FILE_POINTER && plat::GetLastError() != plat::ERROR_SUCCESS) return false;
  if (newPosition) {
    *newPosition =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<plat::DWORD>(high)) << 32) | result);
  }
  return true;
}

bool FileSize(plat::HANDLE file, std::int64_t& size) {
  plat::DWORD high = 0;
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::DWORD low = plat::GetFileSize(file, &high);
  if (low == plat::INVALID_FILE_SIZE && plat::GetLastError() != plat::ERROR_SUCCESS) return false;
  size = static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  return true;
}

}  // namespace

// ---- CBufferReader ----------------------------------------------------------

CBufferReader::CBufferReader(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {}

bool CBufferReader::Read(void* buffer, std::size_t size) {
  if (!buffer) return false;
  if (size > size_ - position_) return false;
  if (size) std::memcpy(buffer, data_ + position_, size);
  position_ += size;
  return true;
}

std::int64_t CBufferReader::Remaining() const { return static_cast<std::int64_t>(size_ - position_); }

// ---- CBufferWriter ----------------------------------------------------------

CBufferWriter::~CBufferWriter() { std::free(buffer_); }

bool CBufferWriter::Write(const void* data, std::size_t size) {
  if (!data || size == 0) return true;
  if (size > std::numeric_limits<std::size_t>::max() / 2 - used_) return false;
  if (used_ + size > capacity_) {
    std::size_t capacity = 2 * (used_ + size);
    if (capacity < 8192) capacity = 8192;
    auto* grown = static_cast<std::uint8_t*>(std::realloc(buffer_, capacity));
    if (!grown) return false;
    buffer_ = grown;
    capacity_ = capacity;
  }
  std::memcpy(buffer_ + used_, data, size);
  used_ += size;
  return true;
}

void CBufferWriter::Detach(std::uint8_t** buffer, std::size_t* size) {
  if (buffer) {
    *buffer = buffer_;
  } else {
    std::free(buffer_);
  }
  if (size) *size = used_;
  buffer_ = nullptr;
  capacity_ = 0;
  used_ = 0;
}

// ---- File streams -----------------------------------------------------------

void CloseStreamFile(plat::HANDLE& handle) {
  if (handle != plat::INVALID_HANDLE_VALUE && handle != nullptr) plat::CloseHandle(handle);
  handle = plat::INVALID_HANDLE_VALUE;
}

CFileReader::CFileReader(const std::u16string& path) : path_(path) {
  plat::HANDLE file = plat::CreateFileW(path_.c_str(), plat::GENERIC_READ, 0, nullptr, plat::OPEN_EXISTING,
                                        plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  file_ = file ? file : plat::INVALID_HANDLE_VALUE;
  buffer_ = new (std::nothrow) std::uint8_t[capacity_];
  // Nobody else may write the file while it is open (no sharing), so its size
  // and the file position are known from here on without asking again.
  if (IsOpen() && !FileSize(file_, fileSize_)) fileSize_ = -1;
}

CFileReader::~CFileReader() {
  CloseStreamFile(file_);
  delete[] buffer_;
}

bool CFileReader::Read(void* buffer, std::size_t size) {
  if (!IsOpen() || !buffer_) return false;
  if (size == 0) return true;
  if (!buffer) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    if (readPos_ >= filled_) {
      plat::DWORD got = 0;
      readPos_ = 0;
      filled_ = 0;
      if (!plat::ReadFile(file_, buffer_, static_cast<plat::DWORD>(capacity_), &got, nullptr)) {
        filePos_ = -1;
        return false;
      }
      if (got == 0) return false;
      filled_ = got > capacity_ ? capacity_ : got;
      if (filePos_ >= 0) filePos_ += static_cast<std::int64_t>(filled_);
    }
    std::size_t n = filled_ - readPos_;
    if (n > size) n = size;
    std::memcpy(out, buffer_ + readPos_, n);
    readPos_ += n;
    out += n;
    size -= n;
  }
  return true;
}

std::int64_t CFileReader::Remaining() const {
  if (!IsOpen()) return 0;
  if (fileSize_ < 0 || filePos_ < 0) return -1;
  const std::int64_t buffered = static_cast<std::int64_t>(filled_ - readPos_);
  const std::int64_t left = fileSize_ - filePos_ + buffered;
  return left < 0 ? 0 : left;
}

bool CFileReader::Seek(std::int64_t distance, plat::DWORD method) {
  if (!IsOpen()) return false;
  filled_ = 0;
  readPos_ = 0;
  std::int64_t position = -1;
  const bool moved = MoveFilePosition(file_, distance, method, &position);
  filePos_ = moved ? position : -1;
  return moved;
}

CFileWriter::CFileWriter(const std::u16string& path, bool truncate) : path_(path) {
  plat::HANDLE file;
  {
    CProfileScope profile(u"CreateFile");
    file = plat::CreateFileW(path_.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::OPEN_ALWAYS,
                             plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  file_ = file ? file : plat::INVALID_HANDLE_VALUE;
  if (!IsOpen()) return;
  if (truncate) {
    bool truncated;
    {
      CProfileScope profile(u"SetEndOfFile");
      truncated = MoveFilePosition(file_, 0, plat::FILE_BEGIN) && plat::SetEndOfFile(file_);
    }
    if (!truncated) {
      CloseStreamFile(file_);
      file = plat::CreateFileW(path_.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                               plat::FILE_ATTRIBUTE_NORMAL, nullptr);
      file_ = file ? file : plat::INVALID_HANDLE_VALUE;
      if (!IsOpen()) return;
    }
  }
  buffer_ = new (std::nothrow) std::uint8_t[capacity_];
}

CFileWriter::~CFileWriter() {
  Close(false);
  delete[] buffer_;
}

bool CFileWriter::WriteAll(const void* data, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t chunk = size > kMaxIoChunk ? kMaxIoChunk : size;
    plat::DWORD written = 0;
    if (!plat::WriteFile(file_, in, static_cast<plat::DWORD>(chunk), &written, nullptr)) return false;
    if (written != chunk) return false;
    in += chunk;
    size -= chunk;
  }
  return true;
}

bool CFileWriter::Write(const void* data, std::size_t size) {
  if (!IsOpen() || !buffer_) return false;
  if (size == 0) return true;
  if (!data) return false;
  if (buffered_ > 0 && size > capacity_ - buffered_) {
    if (!Flush()) return false;
  }
  if (size <= capacity_ - buffered_) {
    std::memcpy(buffer_ + buffered_, data, size);
    buffered_ += size;
    return true;
  }
  return WriteAll(data, size);
}

bool CFileWriter::Flush() {
  if (!IsOpen() || !buffer_ || buffered_ == 0) return true;
  plat::DWORD written = 0;
  const bool ok = plat::WriteFile(file_, buffer_, static_cast<plat::DWORD>(buffered_), &written, nullptr);
  if (written > buffered_) written = static_cast<plat::DWORD>(buffered_);
  if (ok && written == buffered_) {
    buffered_ = 0;
    return true;
  }
  // What reached the file leaves the buffer, so a later flush does not write it twice.
  if (written > 0) {
    std::memmove(buffer_, buffer_ + written, buffered_ - written);
    buffered_ -= written;
  }
  return false;
}

std::int64_t CFileWriter::GetPosition() const {
  if (!IsOpen()) return 0;
  std::int64_t position = 0;
  if (!FilePosition(file_, position)) return 0;
  return position + static_cast<std::int64_t>(buffered_);
}

bool CFileWriter::Seek(std::int64_t distance, plat::DWORD method) {
  if (!IsOpen()) return false;
  if (!Flush()) return false;
  return MoveFilePosition(file_, distance, method);
}

bool CFileWriter::Close(bool truncateHere) {
  const std::u16string section = plat::FormatString(u"Close - WriteFile(%d)", static_cast<int>(buffered_));
  CProfileScope profile(section.c_str());
  if (!IsOpen()) return true;
  bool ok = Flush();
  if (truncateHere && !plat::SetEndOfFile(file_)) ok = false;
  buffered_ = 0;
  CloseStreamFile(file_);
  return ok;
}

bool CFileWriter::DeleteFile() {
  CProfileScope profile(u"CFileWriter::DeleteFile");
  buffered_ = 0;
  CloseStreamFile(file_);
  if (plat::DeleteFileW(path_.c_str())) return true;
  const plat::DWORD attributes = plat::GetFileAttributesW(path_.c_str());
  if (attributes == plat::INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0;
}
