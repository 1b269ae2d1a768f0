#include "app/options/ContentFolderMove.h"

#include "app/options/ContentLocationChooser.h"
#include "app/options/FolderSizeLabel.h"
#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/NotifyToday.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Format.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"

namespace {

// Clears the running flag however the run ends.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningFlag() { flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& flag_;
};

std::u16string WithoutTrailingBackslashes(std::u16string path) {
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  return path;
}

void Tell(plat::HWND owner, plat::UINT stringId, plat::UINT icon) { ShowMessageBox(owner, stringId, plat::MB_OK | icon); }

// The failure of the channel set's move, naming the channel (or entry) that
// stood in its way when there was one.
void TellMoveFailure(plat::HWND owner, const ContentMoveFailure& failure) {
  plat::UINT id = 0;
  switch (failure.kind) {
    case ContentMoveFailure::kNameTooLong: id = IDS_MOVE_NAME_TOO_LONG; break;
    case ContentMoveFailure::kChannelBusy: id = IDS_MOVE_CHANNEL_BUSY; break;
    case ContentMoveFailure::kInTheWay: id = IDS_MOVE_IN_THE_WAY; break;
    case ContentMoveFailure::kNotMoved: id = IDS_MOVE_NOT_MOVED; break;
    case ContentMoveFailure::kNone: break;
  }
  if (id == 0 || failure.name.empty()) {
    Tell(owner, IDS_MOVE_FAILED, plat::MB_ICONERROR);
    return;
  }
  const std::u16string text = plat::FormatString(LocalizeResourceString(id).c_str(), failure.name.c_str());
  const std::u16string caption = GetApplicationTitle();
  plat::MessageBoxW(owner, text.c_str(), caption.c_str(), plat::MB_OK | plat::MB_ICONERROR);
}

void NotifyTodayAllChanged() {
  if (CNotifyToday* notify = CNotifyToday::GetInstance()) notify->Notify();
}

}  // namespace

ContentFolderMove::ContentFolderMove() : freeSpace_(&GetFreeDiskSpace) {}

void ContentFolderMove::SetFreeSpaceReader(FreeSpaceReader reader) {
  freeSpace_ = reader ? std::move(reader) : FreeSpaceReader(&GetFreeDiskSpace);
}

bool ContentFolderMove::Run(plat::HWND owner, const std::u16string& newFolder, const CFolderSizeScanner& scanner) {
  // A second apply reaching here from a message box of the first must not
  // close the options while the first still decides.
  if (running_) return false;
  RunningFlag running(running_);

  std::u16string current;
  {
    CSyncLock lock(GetChannelSet());
    current = GetGlobalOptions().GetContentFolder();
  }
  const std::u16string folder = WithoutTrailingBackslashes(newFolder);
  const std::u16string card = ContentLocationChooser::GetStorageCard(folder);
  if (plat::EqualsNoCase(folder, current)) return true;

  const std::uint64_t freeSpace = freeSpace_(folder);
  if (!WaitForSize(owner, scanner)) return false;

  if (folder.empty() || !DirectoryExists(folder)) {
    Tell(owner, IDS_MOVE_NO_FOLDER, plat::MB_ICONERROR);
    return false;
  }
  const int answer = ShowMessageBox(owner, IDS_MOVE_QUESTION, plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION);
  if (owner != nullptr) {
    InvalidateWithChildren(owner);
    plat::UpdateWindow(owner);
  }
  switch (answer) {
    case plat::IDYES:
      return Move(owner, folder, card, freeSpace, scanner);
    case plat::IDNO:
      return Switch(owner, folder, card);
    default:
      return false;
  }
}

bool ContentFolderMove::WaitForSize(plat::HWND owner, const CFolderSizeScanner& scanner) {
  if (scanner.IsDone()) return true;
  CWaitCursor wait;
  plat::IClock& clock = plat::CurrentClock();
  const plat::DWORD start = clock.TickCount();
  while (!scanner.IsDone()) {
    if (clock.TickCount() - start >= kScanWaitLimitMs) {
      wait.Restore();
      Tell(owner, IDS_MOVE_STILL_COUNTING, plat::MB_ICONEXCLAMATION);
      return false;
    }
    clock.Sleep(kScanPollMs);
  }
  return true;
}

bool ContentFolderMove::Move(plat::HWND owner, const std::u16string& folder, const std::u16string& card,
                             std::uint64_t freeSpace, const CFolderSizeScanner& scanner) {
  if (IsFolderNotEmpty(folder)) {
    Tell(owner, IDS_MOVE_NOT_EMPTY, plat::MB_ICONERROR);
    return false;
  }
  if (!IsFolderWritable(folder)) {
    Tell(owner, IDS_MOVE_NOT_WRITABLE, plat::MB_ICONERROR);
    return false;
  }
  if (scanner.GetTotalSize() > freeSpace) {
    Tell(owner, IDS_MOVE_NO_SPACE, plat::MB_ICONERROR);
    return false;
  }
  bool moved;
  {
    CWaitCursor wait;
    moved = GetChannelSet()->MoveContentFolder(folder, card);
  }
  if (!moved) {
    TellMoveFailure(owner, GetChannelSet()->GetMoveFailure());
    ReloadMissingChannels();
    return false;
  }
  NotifyTodayAllChanged();
  return true;
}

bool ContentFolderMove::Switch(plat::HWND owner, const std::u16string& folder, const std::u16string& card) {
  bool switched = false;
  {
    CSyncLock lock(GetChannelSet());
    CGlobalOptions& options = GetGlobalOptions();
    const std::u16string old = options.GetContentFolder();
    if (options.SetContentFolder(folder, card)) {
      switched = GetChannelSet()->LoadContentFolder() == 1;
      if (!switched) {
        // Back to the folder that worked, so the channels stay in view.
        options.SetContentFolder(old, ContentLocationChooser::GetStorageCard(old));
        GetChannelSet()->LoadContentFolder();
      }
    }
  }
  if (!switched) {
    Tell(owner, IDS_MOVE_SWITCH_FAILED, plat::MB_ICONERROR);
    return false;
  }
  // The message box comes after the lock is let go, so no other thread waits
  // for the database while it is open.
  const std::u16string text = FolderSizeLabel::FillFormat(LocalizeResourceString(IDS_MOVE_SWITCHED), folder);
  const std::u16string caption = GetApplicationTitle();
  plat::MessageBoxW(owner, text.c_str(), caption.c_str(), plat::MB_OK | plat::MB_ICONEXCLAMATION);
  NotifyTodayAllChanged();
  return true;
}

void ContentFolderMove::ReloadMissingChannels() {
  CSyncLock lock(GetChannelSet());
  CChannelSet* set = GetChannelSet();
  int files = 0;
  CFileFinder finder(GetGlobalOptions().GetContentFolder(), u"*.cnl", true);
  while (finder.FindNext()) ++files;
  if (set->GetCount() >= files) return;
  // A channel another program held while the channels were loaded again
  // after the failed move is back in its folder but not in the list: read
  // the folder once more, keeping the place the user was viewing.
  std::u16string channel, article;
  IViewLocationKeeper* keeper = set->GetViewLocationKeeper();
  if (keeper != nullptr) keeper->GetViewLocation(channel, article);
  set->RemoveAll();
  set->LoadContentFolder();
  if (keeper != nullptr) keeper->RestoreViewLocation(channel, article);
}

bool ContentFolderMove::IsFolderWritable(const std::u16string& folder) {
  const plat::DWORD attributes = plat::GetFileAttributesW(folder.c_str());
  if (attributes == plat::INVALID_FILE_ATTRIBUTES || (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & plat::FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  // Called on an empty folder, so the name is free.
  const std::u16string path = CombinePath(folder, u"~orvnews-write-check");
  if (!plat::CreateDirectoryW(path.c_str(), nullptr)) return false;
  return plat::RemoveDirectoryW(path.c_str()) != plat::FALSE;
}
