// Byte streams: the two abstract streams every database file is read and
// written through, with one implementation over memory and one over a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

// Reads exactly the bytes asked for. Not deleted through this base.
class CBaseReader {
 public:
  // Copies exactly size bytes into buffer; true only when all were delivered.
  virtual bool Read(void* buffer, std::size_t size) = 0;

  // Bytes still available, or -1 when the stream does not know. Record readers
  // use it to refuse counts that cannot be satisfied before allocating.
  virtual std::int64_t Remaining() const { return -1; }

 protected:
  ~CBaseReader() = default;
};

// Appends bytes. Not deleted through this base.
class CBaseWriter {
 public:
  // Appends size bytes; true on success.
  virtual bool Write(const void* data, std::size_t size) = 0;

 protected:
  ~CBaseWriter() = default;
};

// Calls the writer's one operation and hands back its result unchanged.
inline bool WriterWrite(CBaseWriter& stream, const void* buffer, std::size_t size) {
  return stream.Write(buffer, size);
}
// The same for a reader: its Read with the buffer and the size.
inline bool WriterWrite(CBaseReader& stream, void* buffer, std::size_t size) {
  return stream.Read(buffer, size);
}

// Reader over a memory block that the caller keeps alive.
class CBufferReader : public CBaseReader {
 public:
  CBufferReader(const void* data, std::size_t size);

  bool Read(void* buffer, std::size_t size) override;
  std::int64_t Remaining() const override;

  std::size_t GetPosition() const { return position_; }
  std::size_t GetSize() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Writer into a growing memory buffer that it owns until Detach.
class CBufferWriter : public CBaseWriter {
 public:
  CBufferWriter() = default;
  virtual ~CBufferWriter();
  CBufferWriter(const CBufferWriter&) = delete;
  CBufferWriter& operator=(const CBufferWriter&) = delete;

  // A null source or a size of 0 succeeds and writes nothing. Fails, appending
  // nothing, when the buffer cannot grow.
  bool Write(const void* data, std::size_t size) override;

  // Hands the buffer (allocated with malloc: free it with std::free) and its
  // used size to the caller and leaves the writer empty.
  void Detach(std::uint8_t** buffer, std::size_t* size);

  const std::uint8_t* GetData() const { return buffer_; }
  std::size_t GetSize() const { return used_; }
  std::size_t GetCapacity() const { return capacity_; }

 private:
  std::uint8_t* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

// Both file streams buffer this many bytes.
constexpr std::size_t kFileStreamBufferSize = 65536;

// Shared by the file streams: closes the handle without flushing and marks it
// invalid.
void CloseStreamFile(plat::HANDLE& handle);

// Buffered reader of an existing device file. A reader whose file failed to
// open fails every read.
class CFileReader : public CBaseReader {
 public:
  explicit CFileReader(const std::u16string& path);
  virtual ~CFileReader();
  CFileReader(const CFileReader&) = delete;
  CFileReader& operator=(const CFileReader&) = delete;

  bool IsOpen() const { return file_ != plat::INVALID_HANDLE_VALUE; }

  // Fails when the file is not open, or when the file ends before size bytes
  // arrived (even when some did).
  bool Read(void* buffer, std::size_t size) override;
  std::int64_t Remaining() const override;

  // Moves the file position (FILE_BEGIN, FILE_CURRENT or FILE_END) and empties
  // the read buffer. FILE_CURRENT counts from the file position, which is ahead
  // of what was read by what is still buffered.
  bool Seek(std::int64_t distance, plat::DWORD method);

  const std::u16string& GetPath() const { return path_; }

 private:
  std::u16string path_;
  plat::HANDLE file_ = plat::INVALID_HANDLE_VALUE;
  std::size_t capacity_ = kFileStreamBufferSize;
  std::size_t filled_ = 0;
  std::size_t readPos_ = 0;
  std::uint8_t* buffer_ = nullptr;
  std::int64_t fileSize_ = -1;  // -1 when unknown
  std::int64_t filePos_ = 0;    // file position after the bytes buffered; -1 when unknown
};

// Buffered writer of a device file, opened or created (no sharing). Without
// truncation the old contents stay and writing starts at offset 0 over them.
class CFileWriter : public CBaseWriter {
 public:
  CFileWriter(const std::u16string& path, bool truncate);
  virtual ~CFileWriter();
  CFileWriter(const CFileWriter&) = delete;
  CFileWriter& operator=(const CFileWriter&) = delete;

  bool IsOpen() const { return file_ != plat::INVALID_HANDLE_VALUE; }

  bool Write(const void* data, std::size_t size) override;

  // File position plus the bytes still buffered (0 when not open).
  std::int64_t GetPosition() const;
  // Flushes, then moves the file position.
  bool Seek(std::int64_t distance, plat::DWORD method);
  // Writes what is buffered; on failure the bytes stay buffered.
  bool Flush();
  // Flushes, truncates at the current position when asked, and closes. False
  // when the final flush or the truncation failed (the handle is closed either
  // way); true when nothing was open.
  bool Close(bool truncateHere);
  // Closes without flushing (buffered bytes are dropped) and deletes the file;
  // a path that names nothing or a folder counts as done.
  bool DeleteFile();

  const std::u16string& GetPath() const { return path_; }

 private:
  bool WriteAll(const void* data, std::size_t size);

  std::u16string path_;
  plat::HANDLE file_ = plat::INVALID_HANDLE_VALUE;
  std::size_t capacity_ = kFileStreamBufferSize;
  std::size_t buffered_ = 0;
  std::uint8_t* buffer_ = nullptr;
};
