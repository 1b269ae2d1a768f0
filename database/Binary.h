// One downloadable file of a channel (an article image, an enclosure, the
// channel image): its URL, its local file in the channel's "bin" folder and
// its download state.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_set>

#include "database/AccountedObject.h"
#include "database/DataModel.h"

class CBinary : public IBinary, public CUpdateItem, public CAccountedObject<g_nCountBinaries> {
 public:
  // Own state 2; the local file name is the URL's digest, made unique in
  // folder, or, given the names taken there (in lower case), among them; the
  // name chosen joins them.
  CBinary(IBinarySet* set, const std::u16string& url, const std::u16string& folder,
          std::unordered_set<std::u16string>* taken = nullptr);
  // Empty, to be filled by Read.
  explicit CBinary(IBinarySet* set);
  ~CBinary() override = default;

  IBinarySet* GetBinarySet() override { return set_; }
  const std::u16string& GetUrl() override { return url_; }
  void GetFileName(std::u16string& name, bool full) override;
  bool IsDownloaded() override;
  void DeleteLocalFile() override;
  void ChangeExtension(const std::u16string& extension) override;

  // The record of the headers file: int32 state, URL, file name.
  bool Write(CBaseWriter& writer);
  // False when the state or the URL (which must not be empty) could not be
  // read. A binary whose download neither finished nor failed loses its file
  // and waits again.
  bool Read(CBaseReader& reader);
  // Read in two steps: the record alone, then the reset of a partial download.
  bool ReadRecord(CBaseReader& reader);
  // Neither downloaded nor failed: a download may have been cut short.
  bool IsPartialDownload();
  // A partial download starts again: its file (unless the caller knows none
  // can exist) is deleted and the binary waits.
  void ResetPartialDownload(bool fileMayExist = true);

  std::uint32_t GetUseCount() const { return useCount_; }
  void SetUseCount(std::uint32_t count) { useCount_ = count; }

  // Fires event 4 after the type-1 event when the own state became 6.
  void FireUpdateStatusChanged(std::uint32_t oldStatus) override;

 private:
  std::u16string Folder();

  IBinarySet* set_;
  std::uint32_t useCount_ = 0;
  std::u16string url_;
  std::u16string fileName_;
};

// The update states a stored record may hold: 0 reads as 2, above 7 as 6.
std::uint32_t NormalizeStoredUpdateState(std::int32_t state);
