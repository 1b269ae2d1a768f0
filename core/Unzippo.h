// Reader of zip archives (the layout packages): opens an archive by device
// path, indexes the names of its entries ignoring case, and reads one named
// entry at a time into a caller's buffer, inflating deflated entries and
// decrypting entries protected with the traditional PKWARE encryption. A file
// without a zip end record that is one gzip stream opens as an archive of one
// entry, named by the name stored in the stream, else by the file's own name
// less a ".gz" ending.
//
// The archive is untrusted input: every offset and size is checked against
// the file, extra fields and data descriptors are honoured, CRCs are checked,
// entries whose names hold ".." or are absolute are left out of the index, and
// a read that cannot deliver what the entry declares fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/StringPtrMap.h"
#include "platform/base/Handle.h"

// Error codes of the archive state.
enum UnzipError : int {
  UNZ_OK = 0,
  UNZ_FILE_NOT_FOUND = 1,
  UNZ_OUT_OF_MEMORY = 2,
  UNZ_MORE_DATA = 5,
  UNZ_CORRUPT_DIRECTORY = 6,
  UNZ_READ_ERROR = 7,
  UNZ_SPANNED = 8,
  UNZ_NO_FILE_POSITION = 16,
  UNZ_CORRUPT_DATA = 18,
  UNZ_WRONG_PASSWORD = 19,
};

class CUnzippo {
 public:
  CUnzippo();
  virtual ~CUnzippo();
  CUnzippo(const CUnzippo&) = delete;
  CUnzippo& operator=(const CUnzippo&) = delete;

  // Closes what was open, then opens the archive at a device path. password
  // (single-byte text) may be null: encrypted entries then cannot be read.
  // Non-zero on success; on failure nothing stays open.
  int Open(const char16_t* path, const char* password);
  // Frees the directory and the scratch buffer and closes the archive; safe
  // when nothing is open.
  void Close();
  bool IsOpen() const { return open_; }

  // True and the entry's uncompressed size when the archive holds the name.
  bool GetEntrySize(const char* name, std::uint32_t& size) const;
  // The uncompressed size, 0 when the entry is missing.
  std::uint32_t GetEntrySize(const char* name) const;

  // Reads the first min(bufferSize, entry size) bytes of the entry into
  // buffer. 1 on success (also for a null buffer or a size of 0, reading
  // nothing); 0 when the entry is missing or reading fails.
  int ReadEntry(const char* name, void* buffer, std::uint32_t bufferSize);

  // Checks the password against the check byte of every encrypted entry's
  // header (a wrong password passes one entry's check once in 256 times;
  // reading the whole entry checks its CRC as well). False, with the error
  // UNZ_WRONG_PASSWORD or UNZ_CORRUPT_DATA, when an entry fails.
  bool CheckPassword();

  // The error code of the last operation (UnzipError).
  int GetLastError() const { return lastError_; }
  // Records of the directory, and the lower-cased name of record i (null past
  // the end); names left out of the index are listed too.
  std::uint32_t GetEntryCount() const { return static_cast<std::uint32_t>(entries_.size()); }
  const char* GetEntryName(std::uint32_t i) const;
  std::uint32_t GetIndexSlotCount() const { return index_.GetSlotCount(); }

 private:
  struct Entry {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::size_t nameOffset = 0;  // in names_
    // The one entry of a gzip file: its deflate data start at this file
    // offset, with no local header before them.
    bool gzip = false;
    std::uint64_t dataOffset = 0;
  };

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size);
  int OpenArchive(const char16_t* path);
  int OpenGzipStream(const char16_t* path);
  const Entry* Find(const char* name) const;
  int LocateData(const Entry& entry, std::uint64_t& dataStart);
  int ReadEntryData(const Entry& entry, std::uint8_t* out, std::uint32_t count);

  bool open_ = false;
  plat::HANDLE file_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t bytesBefore_ = 0;     // bytes that precede the archive in the file
  std::uint64_t directoryStart_ = 0;  // file offset of the central directory
  int lastError_ = UNZ_OK;
  std::string password_;
  bool hasPassword_ = false;
  std::vector<Entry> entries_;
  std::vector<char> names_;  // lower-cased entry names, each NUL-terminated
  CNarrowStringPtrMap index_;
  std::vector<std::uint8_t> input_;  // scratch for compressed bytes
};
