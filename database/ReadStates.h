// Which articles of a channel are unread: their ids in "unread.bin" of the
// channel folder. An id not in the set counts as read, so the file exists only
// while something is unread. Every file access holds the channel's named mutex.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/StringMaps.h"
#include "platform/base/Handle.h"
#include "platform/files/Files.h"

class IArticle;

class CReadStates {
 public:
  // Null for an empty path or mutex name. Reads nothing yet.
  static std::unique_ptr<CReadStates> Create(const std::u16string& path, const std::u16string& mutexName);
  // Saves, then frees the set (what could not be saved is lost: the owner
  // keeps a dirty object until it is saved).
  virtual ~CReadStates();
  CReadStates(const CReadStates&) = delete;
  CReadStates& operator=(const CReadStates&) = delete;

  bool IsRead(IArticle* article);
  // Saves at once unless saveNow is false (the change then waits for Save).
  bool SetRead(IArticle* article, bool read, bool saveNow = true);
  void MarkAllRead();
  bool RemoveMissing(const CStringSet& validIds);
  // Without loading: from the file size. A file that is not 4 + 16 * N bytes
  // long (or is shorter than its count) is damaged: the count is then the
  // number of whole ids it holds, read from it.
  std::int32_t GetUnreadCount();
  int IsDirty() const { return dirty_; }
  // Replaces the file through a side file (or deletes it when nothing is
  // unread). False when the mutex could not be had, the channel set is
  // read-only or the file could not be replaced; dirty then stays set.
  bool Save();
  // A save as part of a channel's batch: the new file joins the batch (a
  // file to delete is deleted once the batch went in). FinishSave tells
  // whether it went in; only then are the states clean.
  bool PrepareSave(plat::FileReplaceBatch& batch);
  void FinishSave(bool committed);

  // Asked before writing: true while the channel set is read-only.
  void SetReadOnlyCheck(std::function<bool()> check) { readOnly_ = std::move(check); }
  bool IsLoaded() const { return loaded_ != 0; }
  const CStringSet& GetUnreadIds() const { return unread_; }

 private:
  CReadStates(const std::u16string& path, const std::u16string& mutexName);
  // Reads the file in once; false (nothing loaded) when the mutex could not
  // be had. LoadLocked: the same with the mutex held.
  bool Load();
  void LoadLocked();
  // Reads the ids the file holds whole (up to its count) into unread_.
  void ReadFile();
  plat::HANDLE Mutex();

  std::u16string path_;
  std::u16string mutexName_;
  int loaded_ = 0;
  std::int32_t count_ = -1;
  // Loaded: the unread ids. Before that, the ids marked unread since, and
  // in read_ those marked read; both wait to be laid over the file.
  CStringSet unread_;
  CStringSet read_;
  int dirty_ = 0;
  // PrepareSave: 1 the file joined a batch, 2 it is to be deleted.
  int prepared_ = 0;
  plat::HANDLE mutex_ = nullptr;
  std::function<bool()> readOnly_;
};

