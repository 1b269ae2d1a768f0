// Interfaces of the feed data model that screens, jobs and the channel use:
// binaries, binary sets, articles and article sets. Every one of them is an
// update item (virtual base IUpdateItem) and so also an event source.
#pragma once
#include <cstdint>
#include <string>

#include "core/Streams.h"
#include "core/StringMaps.h"
#include "database/UpdateItem.h"
#include "platform/base/Time.h"

class IChannel;
class IChannelOptions;
class IBinarySet;
class CBinarySet;

class IBinary : public virtual IUpdateItem {
 public:
  virtual IBinarySet* GetBinarySet() = 0;
  virtual const std::u16string& GetUrl() = 0;
  // full: the set's folder joined with the file name.
  virtual void GetFileName(std::u16string& name, bool full) = 0;
  virtual bool IsDownloaded() = 0;
  virtual void DeleteLocalFile() = 0;
  virtual void ChangeExtension(const std::u16string& extension) = 0;
};

class IBinarySet : public virtual IUpdateItem {
 public:
  virtual IChannel* GetChannel() = 0;
  virtual void GetFolder(std::u16string& folder) = 0;
  virtual void AddUrl(const std::u16string& url) = 0;
  virtual void AddUrls(const CStringSet& urls) = 0;
  virtual void RemoveUrl(const std::u16string& url) = 0;
  virtual void RemoveUrls(const CStringSet& urls) = 0;
  virtual IBinary* Lookup(const std::u16string& url) = 0;
  virtual void SetUrls(const CStringSet& urls) = 0;
  virtual void CopyEntries(CStringSet& urls) = 0;
  virtual bool IsEmpty() = 0;
  // The local file of the URL's binary when it is downloaded (the path is
  // cleared otherwise). Answers through Lookup.
  virtual bool GetDownloadedFile(const std::u16string& url, std::u16string& path);
  virtual void RemoveAll() = 0;
};

class IArticle : public virtual IUpdateItem {
 public:
  virtual IChannel* GetChannel() = 0;
  virtual bool Read(CBaseReader& reader) = 0;
  virtual bool Write(CBaseWriter& writer) = 0;
  virtual const std::u16string& GetId() = 0;
  virtual const std::u16string& GetSecondDigest() = 0;
  virtual void SetSecondDigest(const std::u16string& digest) = 0;
  virtual bool GetDate(plat::FILETIME& date) = 0;
  virtual void SetDate(const plat::FILETIME& date) = 0;
  virtual void GetDateText(std::u16string& text) = 0;
  virtual const std::u16string& GetTitle() = 0;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual const std::u16string& GetImageUrl() = 0;
  virtual void SetImageUrl(const std::u16string& url) = 0;
  virtual std::uint32_t GetOrder() = 0;
  virtual void SetOrder(std::uint32_t order) = 0;
  virtual IBinarySet* GetBinaries() = 0;
  virtual void Delete() = 0;
  virtual bool IsDeleted() = 0;
  virtual void Forget() = 0;
  virtual std::uint8_t GetManualUpdate() = 0;
  virtual void SetManualUpdate(bool manual) = 0;
  virtual void NotifyChanged() = 0;
};

class IArticleSet : public virtual IUpdateItem {
 public:
  // Both report whether the section was read (written) whole.
  virtual bool Read(CBaseReader& reader) = 0;
  virtual bool Write(CBaseWriter& writer) = 0;
  virtual void RemoveAll() = 0;
  virtual int GetCount() = 0;
  virtual IArticle* GetAt(int index) = 0;
  virtual IArticle* FindById(const std::u16string& id) = 0;
  virtual void DeleteAll() = 0;
};

// What articles, article sets and binary sets need of the channel that owns
// them. The channel implements it beside IChannel.
class IHeadersOwner {
 public:
  virtual IChannel* GetChannelInterface() = 0;
  virtual void MarkHeadersDirty() = 0;
  // The channel's "bin" folder.
  virtual std::u16string GetBinFolder() = 0;
  // Null when the channel has none: no limits, no manual update.
  virtual IChannelOptions* GetChannelOptions() = 0;
  virtual CBinarySet* GetBinarySetObject() = 0;
  // Set after the headers were read: the largest order read + 1000.
  virtual void SetOrderCounter(std::uint32_t counter) = 0;
  // Drops the thumbnails made of an image file.
  virtual void RemoveThumbnails(const std::u16string& imagePath) = 0;
  // True while the data may be read but not changed on disk (the Today item):
  // no local file of a binary is deleted then.
  virtual bool IsReadOnlyMode() { return false; }

 protected:
  ~IHeadersOwner() = default;
};
