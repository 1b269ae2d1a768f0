#include "database/HeadersFile.h"

#include "core/FileUtils.h"
#include "core/RecordEncoding.h"
#include "platform/files/Files.h"

bool CHeadersFile::Build(CBinarySet& binaries, CArticleSet& articles, CBufferWriter& out) {
  return WriteInt32(out, kHeadersMagic) && binaries.Write(out) && articles.Write(out);
}

bool CHeadersFile::Save(const std::u16string& path, CBinarySet& binaries, CArticleSet& articles) {
  CBufferWriter out;
  if (!Build(binaries, articles, out)) return false;
  return plat::ReplaceFileContents(path, out.GetData(), out.GetSize());
}

HeadersLoadResult CHeadersFile::Load(const std::u16string& path, CBinarySet& binaries, CArticleSet& articles) {
  HeadersLoadResult result;
  if (!FileExists(path)) return result;
  {
    CFileReader reader(path);
    if (!reader.IsOpen()) return result;
    result.present = true;
    std::int32_t magic = 0;
    if (!ReadInt32(reader, magic) || magic != kHeadersMagic) {
      result.damaged = true;
    } else {
      result.loaded = true;
      if (!binaries.Read(reader)) {
        result.damaged = true;
      } else if (!articles.Read(reader)) {
        result.damaged = true;
      }
    }
  }
  // Keep what the next save would overwrite, for whoever wants to look.
  if (result.damaged) CopyFileReplacing(path, path + kDamagedHeadersSuffix);
  return result;
}
