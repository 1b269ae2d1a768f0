// Moving the channel database to another folder, or switching to a folder
// without moving: what the Content page does when the options are applied.
//
// The move asks first (Yes moves, No only switches, Cancel keeps everything)
// and refuses, before anything is written, a folder that is missing, not
// empty, cannot be written to or has too little free space for the database.
// A move that fails part-way is rolled back by the channel set, so every
// channel stays where the content folder setting points. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/FolderSizeScanner.h"
#include "platform/windows/Windows.h"

// Message texts (string resources) the move shows.
constexpr plat::UINT IDS_MOVE_QUESTION = 192;
constexpr plat::UINT IDS_MOVE_FAILED = 194;
constexpr plat::UINT IDS_MOVE_NO_SPACE = 208;
constexpr plat::UINT IDS_MOVE_NOT_EMPTY = 313;
constexpr plat::UINT IDS_MOVE_SWITCHED = 316;
constexpr plat::UINT IDS_MOVE_NO_FOLDER = 317;
constexpr plat::UINT IDS_MOVE_NOT_WRITABLE = 330;
constexpr plat::UINT IDS_MOVE_STILL_COUNTING = 331;
constexpr plat::UINT IDS_MOVE_SWITCH_FAILED = 332;
// The move refused or failed because of one channel or entry, named in it.
constexpr plat::UINT IDS_MOVE_NAME_TOO_LONG = 333;
constexpr plat::UINT IDS_MOVE_CHANNEL_BUSY = 334;
constexpr plat::UINT IDS_MOVE_IN_THE_WAY = 338;
constexpr plat::UINT IDS_MOVE_NOT_MOVED = 339;

class ContentFolderMove {
 public:
  // The size count is polled this often and waited for at most this long.
  static constexpr plat::DWORD kScanPollMs = 100;
  static constexpr plat::DWORD kScanWaitLimitMs = 15000;

  // The free bytes of a folder's volume (GetFreeDiskSpace unless a test
  // sets another). The wait for the size count sleeps on the process clock.
  using FreeSpaceReader = std::function<std::uint64_t(const std::u16string& folder)>;

  ContentFolderMove();
  void SetFreeSpaceReader(FreeSpaceReader reader);

  // Moves the database to newFolder or switches to it, as the user answers.
  // scanner counts the current database. True when the options may close
  // (nothing to do, moved, switched); false keeps the Content page open. A
  // call made while another runs (from a message box of the first) answers
  // false and does nothing.
  bool Run(plat::HWND owner, const std::u16string& newFolder, const CFolderSizeScanner& scanner);
  bool IsRunning() const { return running_; }

  // True when a folder can be made in folder and removed again.
  static bool IsFolderWritable(const std::u16string& folder);

 private:
  bool WaitForSize(plat::HWND owner, const CFolderSizeScanner& scanner);
  bool Move(plat::HWND owner, const std::u16string& folder, const std::u16string& card,
            std::uint64_t freeSpace, const CFolderSizeScanner& scanner);
  // After a failed move: loads the folder again when a channel file there is
  // not in the list.
  void ReloadMissingChannels();
  bool Switch(plat::HWND owner, const std::u16string& folder, const std::u16string& card);

  FreeSpaceReader freeSpace_;
  bool running_ = false;
};
