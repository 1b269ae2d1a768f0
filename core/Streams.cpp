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
    : m_data(static_cast<const std::uint8_t*>(data)), m_size(data ? size : 0) {}

bool CBufferReader::Read(void* buffer, std::size_t size) {
  if (!buffer) return false;
  if (size > m_size - m_position) return false;
  if (size) std::memcpy(buffer, m_data + m_position, size);
  m_position += size;
  return true;
}

std::int64_t CBufferReader::Remaining() const { return static_cast<std::int64_t>(m_size - m_position); }

// ---- CBufferWriter ----------------------------------------------------------

CBufferWriter::~CBufferWriter() { std::free(m_buffer); }

bool CBufferWriter::Write(const void* data, std::size_t size) {
  if (!data || size == 0) return true;
  if (size > std::numeric_limits<std::size_t>::max() / 2 - m_used) return false;
  if (m_used + size > m_capacity) {
    std::size_t capacity = 2 * (m_used + size);
    if (capacity < 8192) capacity = 8192;
    auto* grown = static_cast<std::uint8_t*>(std::realloc(m_buffer, capacity));
    if (!grown) return false;
    m_buffer = grown;
    m_capacity = capacity;
  }
  std::memcpy(m_buffer + m_used, data, size);
  m_used += size;
  return true;
}

void CBufferWriter::Detach(std::uint8_t** buffer, std::size_t* size) {
  if (buffer) {
    *buffer = m_buffer;
  } else {
    std::free(m_buffer);
  }
  if (size) *size = m_used;
  m_buffer = nullptr;
  m_capacity = 0;
  m_used = 0;
}

// ---- File streams -----------------------------------------------------------

void CloseStreamFile(plat::HANDLE& handle) {
  if (handle != plat::INVALID_HANDLE_VALUE && handle != nullptr) plat::CloseHandle(handle);
  handle = plat::INVALID_HANDLE_VALUE;
}

CFileReader::CFileReader(const std::u16string& path) : m_path(path) {
  plat::HANDLE file = plat::CreateFileW(m_path.c_str(), plat::GENERIC_READ, 0, nullptr, plat::OPEN_EXISTING,
                                        plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  m_file = file ? file : plat::INVALID_HANDLE_VALUE;
  m_buffer = new (std::nothrow) std::uint8_t[m_capacity];
  // Nobody else may write the file while it is open (no sharing), so its size
  // and the file position are known from here on without asking again.
  if (IsOpen() && !FileSize(m_file, m_fileSize)) m_fileSize = -1;
}

CFileReader::~CFileReader() {
  CloseStreamFile(m_file);
  delete[] m_buffer;
}

bool CFileReader::Read(void* buffer, std::size_t size) {
  if (!IsOpen() || !m_buffer) return false;
  if (size == 0) return true;
  if (!buffer) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    if (m_readPos >= m_filled) {
      plat::DWORD got = 0;
      m_readPos = 0;
      m_filled = 0;
      if (!plat::ReadFile(m_file, m_buffer, static_cast<plat::DWORD>(m_capacity), &got, nullptr)) {
        m_filePos = -1;
        return false;
      }
      if (got == 0) return false;
      m_filled = got > m_capacity ? m_capacity : got;
      if (m_filePos >= 0) m_filePos += static_cast<std::int64_t>(m_filled);
    }
    std::size_t n = m_filled - m_readPos;
    if (n > size) n = size;
    std::memcpy(out, m_buffer + m_readPos, n);
    m_readPos += n;
    out += n;
    size -= n;
  }
  return true;
}

std::int64_t CFileReader::Remaining() const {
  if (!IsOpen()) return 0;
  if (m_fileSize < 0 || m_filePos < 0) return -1;
  const std::int64_t buffered = static_cast<std::int64_t>(m_filled - m_readPos);
  const std::int64_t left = m_fileSize - m_filePos + buffered;
  return left < 0 ? 0 : left;
}

bool CFileReader::Seek(std::int64_t distance, plat::DWORD method) {
  if (!IsOpen()) return false;
  m_filled = 0;
  m_readPos = 0;
  std::int64_t position = -1;
  const bool moved = MoveFilePosition(m_file, distance, method, &position);
  m_filePos = moved ? position : -1;
  return moved;
}

CFileWriter::CFileWriter(const std::u16string& path, bool truncate) : m_path(path) {
  plat::HANDLE file;
  {
    CProfileScope profile(u"CreateFile");
    file = plat::CreateFileW(m_path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::OPEN_ALWAYS,
                             plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  m_file = file ? file : plat::INVALID_HANDLE_VALUE;
  if (!IsOpen()) return;
  if (truncate) {
    bool truncated;
    {
      CProfileScope profile(u"SetEndOfFile");
      truncated = MoveFilePosition(m_file, 0, plat::FILE_BEGIN) && plat::SetEndOfFile(m_file);
    }
    if (!truncated) {
      CloseStreamFile(m_file);
      file = plat::CreateFileW(m_path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                               plat::FILE_ATTRIBUTE_NORMAL, nullptr);
      m_file = file ? file : plat::INVALID_HANDLE_VALUE;
      if (!IsOpen()) return;
    }
  }
  m_buffer = new (std::nothrow) std::uint8_t[m_capacity];
}

CFileWriter::~CFileWriter() {
  Close(false);
  delete[] m_buffer;
}

bool CFileWriter::WriteAll(const void* data, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t chunk = size > kMaxIoChunk ? kMaxIoChunk : size;
    plat::DWORD written = 0;
    if (!plat::WriteFile(m_file, in, static_cast<plat::DWORD>(chunk), &written, nullptr)) return false;
    if (written != chunk) return false;
    in += chunk;
    size -= chunk;
  }
  return true;
}

bool CFileWriter::Write(const void* data, std::size_t size) {
  if (!IsOpen() || !m_buffer) return false;
  if (size == 0) return true;
  if (!data) return false;
  if (m_buffered > 0 && size > m_capacity - m_buffered) {
    if (!Flush()) return false;
  }
  if (size <= m_capacity - m_buffered) {
    std::memcpy(m_buffer + m_buffered, data, size);
    m_buffered += size;
    return true;
  }
  return WriteAll(data, size);
}

bool CFileWriter::Flush() {
  if (!IsOpen() || !m_buffer || m_buffered == 0) return true;
  plat::DWORD written = 0;
  const bool ok = plat::WriteFile(m_file, m_buffer, static_cast<plat::DWORD>(m_buffered), &written, nullptr);
  if (written > m_buffered) written = static_cast<plat::DWORD>(m_buffered);
  if (ok && written == m_buffered) {
    m_buffered = 0;
    return true;
  }
  // What reached the file leaves the buffer, so a later flush does not write it twice.
  if (written > 0) {
    std::memmove(m_buffer, m_buffer + written, m_buffered - written);
    m_buffered -= written;
  }
  return false;
}

std::int64_t CFileWriter::GetPosition() const {
  if (!IsOpen()) return 0;
  std::int64_t position = 0;
  if (!FilePosition(m_file, position)) return 0;
  return position + static_cast<std::int64_t>(m_buffered);
}

bool CFileWriter::Seek(std::int64_t distance, plat::DWORD method) {
  if (!IsOpen()) return false;
  if (!Flush()) return false;
  return MoveFilePosition(m_file, distance, method);
}

bool CFileWriter::Close(bool truncateHere) {
  const std::u16string section = plat::FormatString(u"Close - WriteFile(%d)", static_cast<int>(m_buffered));
  CProfileScope profile(section.c_str());
  if (!IsOpen()) return true;
  bool ok = Flush();
  if (truncateHere && !plat::SetEndOfFile(m_file)) ok = false;
  m_buffered = 0;
  CloseStreamFile(m_file);
  return ok;
}

bool CFileWriter::DeleteFile() {
  CProfileScope profile(u"CFileWriter::DeleteFile");
  m_buffered = 0;
  CloseStreamFile(m_file);
  if (plat::DeleteFileW(m_path.c_str())) return true;
  const plat::DWORD attributes = plat::GetFileAttributesW(m_path.c_str());
  if (attributes == plat::INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0;
}
