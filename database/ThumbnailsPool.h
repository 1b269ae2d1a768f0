// Thumbnail pools: small square thumbnails of downloaded images, cached next
// to the images. All thumbnails of one edge length S in one folder form a pool
// of two files: the index "tmbp.<S>.tdf" (S, the slot count N and N keys, an
// empty key marking a free slot) and the strip "tmbp.<S>.bmp", a 24-bit BMP
// S * N pixels wide and S high holding slot i in columns i * S .. i * S + S - 1.
// CSizedThumbnailsPools gathers the pools of one folder, one per edge length.
//
// The main program and the Today item both read and write these files. Every
// file access holds the folder's named mutex (ThumbnailsPoolMutexName), and
// both files are replaced through side files (name + ".ttmp"). A pool keeps
// what it added and removed since it last read the files; a save first takes
// in what another process wrote meanwhile, so neither loses the other's
// thumbnails.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Synchronized.h"
#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "platform/gdi/Gdi.h"

class CBitmapBuffer;

constexpr char16_t kThumbnailsIndexExtension[] = u"tdf";
constexpr char16_t kThumbnailsStripExtension[] = u"bmp";
constexpr char16_t kThumbnailsTempSuffix[] = u".ttmp";
constexpr char16_t kThumbnailsMutexPrefix[] = u"TP.";
// The strip grows by this many slots at a time.
constexpr int kThumbnailsGrowSlots = 10;
// A save compacts the strip once this many slots are free (or all are).
constexpr int kThumbnailsCompactFreeSlots = 20;
// An Add that brings the unsaved changes above this saves the pool.
constexpr int kThumbnailsMaxUnsavedChanges = 5;
// Largest edge length a pool accepts from an index file.
constexpr int kThumbnailsMaxEdge = 1024;
// How long a pool waits for its folder's mutex before giving up (not done).
constexpr plat::DWORD kThumbnailsMutexTimeoutMs = 5000;

// The form every image path takes as a pool key, so that every process finds
// a thumbnail under the same key: "/" becomes "\", runs of "\" become one, a
// final "\" is dropped, and the text is lower-cased (device file names are
// matched ignoring case).
std::u16string NormalizeThumbnailPath(const std::u16string& path);

// "TP." + the normalised folder; folders too long for a kernel-object name
// (MAX_PATH) use "TP." + the MD5 of the normalised folder instead.
std::u16string ThumbnailsPoolMutexName(const std::u16string& folder);

// File names of the pool of edge length size in folder.
std::u16string ThumbnailsIndexPath(const std::u16string& folder, int size);
std::u16string ThumbnailsStripPath(const std::u16string& folder, int size);

// Writes a 24-bit DIB section as a bottom-up, uncompressed 24-bit BMP file.
// A failed write deletes the file and answers false.
bool SaveBmp(plat::HBITMAP bitmap, const std::u16string& path);

class CThumbnailsPool : public CSynchronized {
 public:
  // The pool of edge length size in folder; nothing is read.
  CThumbnailsPool(const std::u16string& folder, int size);
  // An empty pool of unknown size, for LoadIndex.
  CThumbnailsPool();
  // Saves, then releases the strip.
  ~CThumbnailsPool() override;

  // Reads an index file "tmbp.<S>.tdf" (its name must carry the S it holds);
  // false, and an empty pool, for a missing, misnamed or damaged file.
  bool LoadIndex(const std::u16string& indexPath);
  // Makes sure the strip is in memory. A strip file that is missing, damaged
  // or of another size than the index says (S * N by S, 24 bits, uncompressed,
  // its size as its headers say) makes the pool start over empty (true then,
  // with nothing to load). False when the folder's mutex could not be had.
  bool LoadBitmap();
  void ReleaseBitmap();

  // The slot of key, true only while the strip holding it can be drawn from.
  bool Lookup(const std::u16string& key, int* slot);
  // Stores an S x S thumbnail under key (replacing an older one of the same
  // key). True when stored: the pool has then taken and deleted bitmap;
  // otherwise the bitmap stays the caller's.
  bool Add(const std::u16string& key, plat::HBITMAP bitmap);
  // Frees the key's slot (its pixels stay until a compaction).
  bool Remove(const std::u16string& key);
  // Moves the used slots to the front and cuts the strip, when at least 20
  // slots are free or all are.
  void Compact();
  // Writes what changed (index and strip through side files). True when
  // nothing had changed or everything was written; false leaves the changes
  // in memory for a later save.
  bool Save();
  // Forgets everything and deletes both files.
  void Clear();
  // After the folder tree from was moved to to: keys naming images below
  // from name them below to, and the index file is written again (the strip
  // keeps its slots). True when nothing named from or the index was written.
  bool MoveKeys(const std::u16string& from, const std::u16string& to);
  // Draws the thumbnail of slot into rectangle r of target (RGB565).
  bool DrawThumbnail(CBitmapBuffer& target, const plat::RECT& r, int slot, bool dimmed);

  int GetSize() const { return size_; }
  int GetSlotCount() const { return static_cast<int>(keys_.size()); }
  int GetFreeCount() const { return free_; }
  int GetChangeCount() const { return changes_; }
  bool IsStripChanged() const { return stripChanged_; }
  bool IsStripLoaded() const { return strip_ != nullptr; }
  // The strip (owned by the pool; null while not loaded).
  plat::HBITMAP GetStrip() const { return strip_; }
  const std::vector<std::u16string>& GetKeys() const { return keys_; }
  const std::u16string& GetFolder() const { return folder_; }
  const std::u16string& GetIndexPath() const { return indexPath_; }
  const std::u16string& GetStripPath() const { return stripPath_; }

 private:
  struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    plat::FILETIME written{};
    bool operator==(const FileStamp& o) const;
  };
  struct Content {
    std::vector<std::u16string> keys;
    plat::HBITMAP strip = nullptr;
  };

  void SetFolder(const std::u16string& folder);
  plat::HANDLE FilesMutex();
  static FileStamp StampOf(const std::u16string& path);
  bool ParseIndex(const std::string& bytes, int* size, std::vector<std::u16string>& keys) const;
  // The strip file if it is exactly what an index of slots slots needs.
  plat::HBITMAP ReadStrip(int slots) const;
  void AdoptKeys(std::vector<std::u16string> keys);
  void ReleaseStrip();
  // Empties the pool in memory (keys, slots, strip, pending changes).
  void ForgetContents();
  void StartOver();
  // Under the folder's mutex: takes in what another process wrote since this
  // pool last read or wrote the files.
  void SyncWithFiles();
  bool LoadBitmapLocked();
  int TakeSlot(const std::u16string& key);
  bool Grow();
  bool CopyIntoSlot(int slot, plat::HBITMAP source, int sourceX);
  bool WriteIndexTo(const std::u16string& path, std::string* written) const;

  std::u16string folder_;
  std::u16string indexPath_;
  std::u16string stripPath_;
  int size_ = -1;
  std::vector<std::u16string> keys_;
  std::unordered_map<std::u16string, int> slots_;
  plat::HBITMAP strip_ = nullptr;
  int changes_ = 0;
  bool stripChanged_ = false;
  int free_ = 0;
  // What this process did since the files were last read or written.
  std::set<std::u16string> added_;
  std::set<std::u16string> removed_;
  // The files as this pool last saw them.
  bool synced_ = false;
  std::string knownIndex_;
  bool knownIndexExists_ = false;
  FileStamp knownStrip_;
  plat::HANDLE mutex_ = nullptr;
};

class CSizedThumbnailsPools : public CSynchronized {
 public:
  explicit CSizedThumbnailsPools(const std::u16string& folder);
  // Deletes every pool (each saves itself).
  ~CSizedThumbnailsPools() override;

  // Reads every "*.tdf" index of the folder, once; false when the folder is missing.
  bool Load();
  CThumbnailsPool* FindPool(int size);
  CThumbnailsPool* CreatePool(int size);
  bool Contains(int size, const std::u16string& key);
  // Creates the pool of size when missing. True when the pool took bitmap.
  bool Add(int size, const std::u16string& key, plat::HBITMAP bitmap);
  // Finds or creates the pool of size; whether it holds key.
  bool GetPool(int size, const std::u16string& key, CThumbnailsPool** pool);
  // Removes key from every pool; true when any held it.
  bool Remove(const std::u16string& key);
  // Clears and deletes the pool of size; every pool with a negative size.
  void DeletePool(int size);
  // Saves every pool; false when any save failed.
  bool SaveAll();

  const std::u16string& GetFolder() const { return folder_; }
  bool IsLoaded() const { return loaded_; }
  std::vector<int> GetPoolSizes();

 private:
  std::u16string folder_;
  bool loaded_ = false;
  std::map<int, std::unique_ptr<CThumbnailsPool>> pools_;
};
