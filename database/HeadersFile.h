// "headers.bin" of a channel folder: the magic "OBH1", the binary section and
// the article section. Replaced whole through a side file, so a failed or
// interrupted save leaves the previous file as it was.
#pragma once
#include <cstdint>
#include <string>

#include "database/ArticleSet.h"
#include "database/BinarySet.h"

// "OBH1" read as a little-endian int32.
constexpr std::int32_t kHeadersMagic = 0x3148424F;

struct HeadersLoadResult {
  bool present = false;  // a file was there and opened
  bool loaded = false;   // the magic matched and the sections were read
  // Something was wrong: a short file, another magic, a bad record, bytes
  // left over. What could be read is loaded; the caller must then neither
  // remove unreferenced binaries nor drop read states of missing articles,
  // since the damaged part may have named them. A copy of the damaged file
  // is kept beside it (kDamagedHeadersSuffix) before it is next replaced.
  bool damaged = false;
};

constexpr char16_t kDamagedHeadersSuffix[] = u".damaged";

class CHeadersFile {
 public:
  // Builds the whole file in memory and replaces the file with it. False when
  // a section could not be built or the file could not be replaced (the old
  // one then stays whole); the caller keeps its headers dirty.
  static bool Save(const std::u16string& path, CBinarySet& binaries, CArticleSet& articles);
  // Binaries first, then articles; reading stops at the first bad record.
  static HeadersLoadResult Load(const std::u16string& path, CBinarySet& binaries, CArticleSet& articles);
  // The file's bytes as Save would write them.
  static bool Build(CBinarySet& binaries, CArticleSet& articles, CBufferWriter& out);
};
