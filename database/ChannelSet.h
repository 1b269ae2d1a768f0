// The root of the feed data model: every channel of the content folder,
// sorted by name. Its lock is the program-wide data-bank lock: whoever uses
// the set, its channels, articles or binaries holds it, and takes it before
// the update manager's lock, never after. Channel events reach the set's
// listeners as row and list events (types 21 and 22).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/UpdateItem.h"

class IChannelSet : public virtual IUpdateItem, public CSynchronized {
 public:
  ~IChannelSet() override = default;
  virtual void SetReadOnly(std::int32_t flag) = 0;
  virtual std::int32_t IsReadOnly() = 0;
  virtual bool Open() = 0;
  virtual void RemoveAll() = 0;
  virtual int GetCount() = 0;
  virtual IChannel* GetAt(int index) = 0;
  virtual int IndexOf(IChannel* channel) = 0;
  virtual int FindIndexByName(const std::u16string& name) = 0;
  virtual IChannel* FindByName(const std::u16string& name) = 0;
  virtual IChannel* Add(const std::u16string& name) = 0;
  virtual void Remove(const std::u16string& name) = 0;
  virtual bool HadUnreadableFile() = 0;
  virtual bool MoveContentFolder(const std::u16string& folder, const std::u16string& card) = 0;
  virtual bool IsContentUnavailable() = 0;
  virtual bool HasOldFormatChannels() = 0;
  virtual void ClearOldFormatFlags() = 0;

  // The names the programs load and check the content folder by. 1 when the
  // content folder is open (its channels loaded when it changed), 0 when it
  // cannot be reached (IsStorageMissing then tells a missing card) or made.
  int LoadContentFolder() { return Open() ? 1 : 0; }
  bool IsStorageMissing() { return IsContentUnavailable(); }
  IChannel* AddChannel(const std::u16string& name) { return Add(name); }
  void RemoveChannel(const std::u16string& name) { Remove(name); }
};

// What the channel set keeps across a move of the content folder: the view
// state's current channel and article. A keeper is installed explicitly in
// one channel set (CChannelSet::SetViewLocationKeeper); with none installed
// nothing is kept.
class IViewLocationKeeper {
 public:
  virtual void GetViewLocation(std::u16string& channelName, std::u16string& articleId) = 0;
  // Puts the location back and refreshes the article filter.
  virtual void RestoreViewLocation(const std::u16string& channelName, const std::u16string& articleId) = 0;

 protected:
  ~IViewLocationKeeper() = default;
};

// Why the last MoveContentFolder failed, and what stood in its way: a
// channel's name, or the name of another entry of the content folder.
struct ContentMoveFailure {
  enum Kind {
    kNone,         // no failure, or one with nothing to name
    kNameTooLong,  // the channel's name is too long for the paths of the new folder
    kChannelBusy,  // another program holds the channel past the time-out
    kInTheWay,     // the new folder already holds an entry of that name
    kNotMoved,     // the entry could not be moved
  };
  Kind kind = kNone;
  std::u16string name;
};

class CChannelSet : public IChannelSet, public CUpdateItem {
 public:
  CChannelSet();
  // Removes every channel under the lock; files stay.
  ~CChannelSet() override;

  void SetReadOnly(std::int32_t flag) override { readOnly_ = flag; }
  std::int32_t IsReadOnly() override { return readOnly_; }
  bool Open() override;
  // Unloads every channel (files stay); the next Open reads the folder again.
  void RemoveAll() override;
  int GetCount() override { return static_cast<int>(channels_.size()); }
  IChannel* GetAt(int index) override;
  int IndexOf(IChannel* channel) override;
  int FindIndexByName(const std::u16string& name) override;
  IChannel* FindByName(const std::u16string& name) override;
  IChannel* Add(const std::u16string& name) override;
  void Remove(const std::u16string& name) override;
  bool HadUnreadableFile() override { return unreadableFile_; }
  // Moves every entry of the content folder (the channels of the set, files
  // it could not read, side files) into folder, or none: a channel name too
  // long for the new folder or a channel another program holds refuses the
  // move before anything moves; an entry of the same name in the new folder
  // or a failed move puts back what had moved. GetMoveFailure says why.
  bool MoveContentFolder(const std::u16string& folder, const std::u16string& card) override;
  const ContentMoveFailure& GetMoveFailure() const { return moveFailure_; }

  // The channels whose files the last load found but could not read (not
  // those only busy), by name; they are not in the set.
  std::vector<std::u16string> GetUnreadableChannels() const;
  // Sets the unreadable file of that channel aside ("<file>.damaged", never
  // deleted), so it is no longer met at load and the name may be added
  // again; the channel's data folder stays for the channel of that name.
  // False in read-only mode, for a name not found unreadable, or when the
  // file could not be renamed. Add does this for a name found unreadable.
  bool SetAsideUnreadable(const std::u16string& name);
  bool IsContentUnavailable() override { return contentUnavailable_; }
  bool HasOldFormatChannels() override;
  void ClearOldFormatFlags() override;

  void OnDBEvent(CDBEvent* record) override;

  CChannel* GetChannelAt(int index);
  // The channel whose name equals name ignoring case (names that differ only
  // in case are one channel on the device's file system); null when none.
  CChannel* FindByNameNoCase(const std::u16string& name);
  const std::u16string& GetLoadedFolder() const { return loadedFolder_; }

  // Installs the keeper of the view location. One keeper at a time: false
  // (and nothing changes) when another one is installed. The keeper stays
  // installed until it removes itself.
  bool SetViewLocationKeeper(IViewLocationKeeper* keeper);
  // Removes the keeper when it is the one installed; nothing otherwise.
  void RemoveViewLocationKeeper(IViewLocationKeeper* keeper);
  IViewLocationKeeper* GetViewLocationKeeper() const { return viewLocationKeeper_; }

 private:
  void LoadAll();
  // inOrder: the list is in order (as LoadAll keeps it), so the channel is
  // put in its place instead of sorting the list again.
  void Attach(CChannel* channel, bool inOrder = false);
  // Fires type 20 for the channel, lets go of its events and counts it out.
  void Detach(CChannel* channel);
  // Last to first, each detached and destroyed; files stay.
  void RemoveChannels();
  void FireListChanged();
  void Sort();

  std::vector<CChannel*> channels_;
  std::u16string loadedFolder_;
  bool unreadableFile_ = false;
  bool contentUnavailable_ = false;
  std::int32_t readOnly_ = 0;
  IViewLocationKeeper* viewLocationKeeper_ = nullptr;
  ContentMoveFailure moveFailure_;
  struct UnreadableFile {
    std::u16string name;
    std::u16string path;
  };
  std::vector<UnreadableFile> unreadable_;
};

// The process's channel set, created on first use and destroyed at exit.
CChannelSet* GetChannelSet();
