// The process's thumbnail service. Screens ask for the thumbnail of an image
// file at an edge length; when the pools of the image's folder do not hold it
// yet, one CPrepareThumbnailsJob for the image is queued on job queue 0, which
// makes the thumbnails of every wanted edge length, stores them and tells the
// listeners, so that the screens repaint.
//
// Lock order: the manager's lock, then a folder object's, then a pool's. The
// wanted-size lock is taken alone (or inside the manager's). Listeners are
// told outside the manager's lock, on the thread that stored or removed the
// thumbnail, under the listener set's critical section.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/Job.h"
#include "core/Synchronized.h"
#include "core/WithListeners.h"
#include "database/ThumbnailsPool.h"
#include "platform/base/Sync.h"
#include "platform/gdi/Gdi.h"

class CJobManager;
class CSizedThumbnailsPools;

// Edge lengths below this are refused.
constexpr int kMinThumbnailSize = 5;

class IThumbnailsListener {
 public:
  virtual ~IThumbnailsListener() = default;
  // The thumbnails of the image were made or removed.
  virtual void OnThumbnailsChanged(const std::u16string& imagePath) = 0;
};

class CThumbnailsManager : public CSynchronized, public CWithListeners<IThumbnailsListener> {
 public:
  // The process's manager, made on the first call and destroyed at exit.
  static CThumbnailsManager* GetInstance();

  // A manager of its own whose jobs go to jobs (null: the process's job
  // manager). Installs the channel's thumbnail hooks.
  explicit CThumbnailsManager(CJobManager* jobs = nullptr);
  // Cancels its jobs and waits for the running one, clears the hooks it
  // installed, and drops every folder's pools (each saves itself).
  ~CThumbnailsManager() override;

  void AddSize(int size);
  void GetSizes(std::vector<int>& sizes);

  // Adds size to the wanted sizes; finds the pools of the image's folder and
  // the pool of size (created empty when missing), given back through pool;
  // whether that pool holds the image. When it does not, the image's
  // preparation is requested. False without a request for an empty path, one
  // without a folder, or a size below 5.
  bool GetThumbnail(const std::u16string& imagePath, int size, CThumbnailsPool** pool);
  bool Contains(const std::u16string& imagePath, int size);
  // Stores bitmap (S x S) in the folder's pool of size. On success the pool
  // has taken the bitmap (bitmap becomes null) and the listeners are told.
  bool Add(const std::u16string& imagePath, int size, plat::HBITMAP& bitmap);
  // Removes the image from every pool of its folder; tells the listeners when
  // any held it.
  bool Remove(const std::u16string& imagePath);
  // Deletes the pool files of folder (of every folder held when empty) and
  // forgets those pools.
  void RemovePools(const std::u16string& folder);
  // Drops folder's pools (every folder's when empty); they save themselves.
  void UnloadPools(const std::u16string& folder);
  // Queues one preparation job for the image unless one is queued or running.
  void RequestPreparation(const std::u16string& imagePath);
  void PreparationEnded(const std::u16string& imagePath);
  bool IsInPreparation(const std::u16string& imagePath);
  // Folders whose pools are held in memory (normalised).
  std::vector<std::u16string> GetLoadedFolders();

 private:
  friend class CPrepareThumbnailsJob;

  CSizedThumbnailsPools* FolderPools(const std::u16string& imagePath, bool create);
  void NotifyChanged(const std::u16string& imagePath);
  void JobCreated();
  void JobDestroyed();

  CJobManager* jobs_;
  plat::CRITICAL_SECTION sizesSection_;
  std::set<int> sizes_;
  std::map<std::u16string, std::unique_ptr<CSizedThumbnailsPools>> folders_;
  std::set<std::u16string> inPreparation_;
  std::mutex jobsMutex_;
  std::condition_variable jobsGone_;
  int liveJobs_ = 0;
};

// Makes the thumbnails of one image for every wanted size.
class CPrepareThumbnailsJob : public CJob {
 public:
  CPrepareThumbnailsJob(CThumbnailsManager* manager, const std::u16string& imagePath);
  ~CPrepareThumbnailsJob() override;

  bool IsAutoDelete() override { return true; }
  int GetQueue() override { return 0; }
  int GetType() override { return 4; }
  void Execute() override;
  // Ends the preparation at once and makes a running Execute stop within 50
  // source rows.
  void Stop() override;
  // The manager's set of images in preparation keeps out a second job, so a
  // job ending is never mistaken for one still waiting.
  bool CheckForDuplicates() override { return false; }
  bool IsEqual(CJob* other) override;

  std::u16string GetPath();

  // The square of the source that is scaled: the centred square of side
  // min(W, H) - 1, shrunk about its centre to about 8 x size across.
  static void CropFor(int width, int height, int size, int* x, int* y, int* side);

 private:
  // The path, or empty once stopped.
  bool CurrentPath(std::u16string& path);
  void EndPreparation();

  CThumbnailsManager* manager_;
  std::u16string path_;
  const std::u16string original_;
  bool ended_ = false;
};
