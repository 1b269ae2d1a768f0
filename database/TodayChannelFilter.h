// Which channels the Today-screen item shows. One flag per channel name, "1"
// shown and "0" hidden, kept per content folder in the "Today" subkey of the
// product key: the value "ChannelsFilter" followed by the content folder as
// the product key's "ContentFolder" gives it, continued when long in further
// values named like it plus ":1", ":2", ... Each value holds items of the
// form name ":" flag "|", with ":", "|" and "\" escaped by "\".
//
// Several processes write the filter (the main program as channels come and
// go, the Today item as it meets new channels, the Today options program).
// Each change is a read-modify-write of the stored values under the named
// mutex kChannelsFilterMutex: the stored filter is read again, the change is
// applied to it and it is written back, so that no writer loses another's
// change. A change whose mutex wait times out is not written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "platform/base/Handle.h"

// Guards every read-modify-write of the stored filter, in every process.
inline constexpr const char16_t* kChannelsFilterMutex = u"OrvNews.ChannelsFilter.7E2C1A54";

class CTodayChannelFilter : public CSynchronized {
 public:
  // A value is finished once its text has grown beyond this many characters.
  static constexpr std::size_t kChunkLength = 1499;

  // The process's filter, created (and loaded) on first use.
  static CTodayChannelFilter* GetInstance();

  static constexpr plat::DWORD kMutexTimeoutMs = 5000;

  // Loads.
  CTodayChannelFilter();
  ~CTodayChannelFilter() override;

  // Reads the filter of the current content folder. When it holds nothing
  // (missing, unreadable or empty), it is made from the channel files
  // ("*.cnl") of the content folder, each channel entered as a new one, and
  // saved.
  void Load();
  // Writes the whole filter (the stored one with this object's unsaved
  // entries, under the named mutex). Values are overwritten in order and only the
  // ones left over afterwards are deleted, so the stored filter is never
  // missing while it is rewritten. False when a value could not be written.
  bool Save();

  // A copy of the flags by channel name.
  void GetEntries(CStringToStringMap& entries);
  // Whether the channel is shown. A name not in the filter yet is entered,
  // shown when "AutoIncludeNewChannels" is on and hidden otherwise, and the
  // filter is saved when save is asked.
  bool IsIncluded(const std::u16string& name, bool save);
  // Shows or hides a channel (the options program's choice) and saves.
  void SetIncluded(const std::u16string& name, bool included);
  // Sets the flags of several channels ("1" or "0" by name) in one change of
  // the stored filter; false when it could not be written (mutex or registry).
  bool SetEntries(const CStringToStringMap& flags);
  // Sets the flags of the channels of flags that the stored filter holds now;
  // a name gone from it meanwhile (the channel removed or renamed) stays out.
  // written gets the names whose flag was set. False when it could not be
  // written (mutex or registry).
  bool ChangeEntries(const CStringToStringMap& flags, std::vector<std::u16string>& written);
  // Forgets a channel (removed, or its file gone) and saves when it was there.
  void Remove(const std::u16string& name);

  bool GetAutoIncludeNewChannels() const { return autoIncludeNewChannels_ != 0; }
  // Sets "AutoIncludeNewChannels", writing it only when it changed; false
  // when the write failed.
  bool SetAutoInclude(bool autoInclude);
  // The content folder the filter belongs to, as the registry names it.
  std::u16string GetContentFolder();

  // The stored text of entries (one value's worth or more).
  static std::u16string EncodeEntries(const CStringToStringMap& entries);
  // Adds the items of a stored text to entries (later items replace earlier).
  static void DecodeEntries(const std::u16string& text, CStringToStringMap& entries);
  // The name of chunk index of the filter of folder: "ChannelsFilter" +
  // folder for 0, then that + ":" + index.
  static std::u16string GetChunkName(const std::u16string& folder, int index);

 private:
  bool Enter(const std::u16string& name);
  // Reads the stored values of the current folder into entries_ (the
  // default selection is not made); false when nothing is stored.
  bool ReadStored();
  // Writes entries_ (under the named mutex, from Change).
  bool WriteEntries();
  // Under the named mutex: reads the stored filter again, lets change edit
  // entries_ (it answers whether anything is to be written) and saves. False
  // when the mutex could not be had or the save failed.
  template <class F>
  bool Change(F change);

  plat::HANDLE mutex_ = nullptr;
  // Entered by IsIncluded without a save; written with the next change.
  CStringToStringMap unsaved_;

  int autoIncludeNewChannels_ = 1;
  CStringToStringMap entries_;
  std::u16string contentFolder_;
};
