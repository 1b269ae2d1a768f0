#include "database/ThumbnailsManager.h"

#include <atomic>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/ImageDecoder.h"
#include "core/JobManager.h"
#include "core/STScreenBuffer.h"
#include "core/Scaler.h"
#include "database/Channel.h"
#include "platform/base/Text.h"
#include "platform/base/Thread.h"

using namespace plat;

namespace {

// The manager that the channel's hooks reach.
std::atomic<CThumbnailsManager*> g_hooked{nullptr};

void HookUnloadPools(const std::u16string& folder) {
  if (CThumbnailsManager* manager = g_hooked.load()) manager->UnloadPools(folder);
}

void HookRemoveImage(const std::u16string& imagePath) {
  if (CThumbnailsManager* manager = g_hooked.load()) manager->Remove(imagePath);
}

// The normalised folder of an image path; empty when it has none.
std::u16string FolderOf(const std::u16string& imagePath) {
  std::u16string folder;
  if (imagePath.empty() || !SplitPath(NormalizeThumbnailPath(imagePath), &folder, nullptr, nullptr)) return u"";
  return folder;
}

}  // namespace

// ---- CThumbnailsManager ----------------------------------------------------------

CThumbnailsManager* CThumbnailsManager::GetInstance() {
  static CThumbnailsManager instance;
  return &instance;
}

CThumbnailsManager::CThumbnailsManager(CJobManager* jobs) : jobs_(jobs ? jobs : CJobManager::GetInstance()) {
  InitializeCriticalSection(&sizesSection_);
  g_hooked.store(this);
  ChannelThumbnailsHooks hooks;
  hooks.unloadPools = &HookUnloadPools;
  hooks.removeImage = &HookRemoveImage;
  SetChannelThumbnailsHooks(hooks);
}

CThumbnailsManager::~CThumbnailsManager() {
  CThumbnailsManager* self = this;
  if (g_hooked.compare_exchange_strong(self, nullptr)) SetChannelThumbnailsHooks(ChannelThumbnailsHooks{});
  if (jobs_) jobs_->CancelJobs(this);
  {
    std::unique_lock<std::mutex> lock(jobsMutex_);
    jobsGone_.wait(lock, [this] { return liveJobs_ == 0; });
  }
  {
    CSyncLock lock(this, u"CThumbnailsManager::~CThumbnailsManager");
    folders_.clear();
  }
  DeleteCriticalSection(&sizesSection_);
}

void CThumbnailsManager::AddSize(int size) {
  EnterCriticalSection(&sizesSection_);
  sizes_.insert(size);
  LeaveCriticalSection(&sizesSection_);
}

void CThumbnailsManager::GetSizes(std::vector<int>& sizes) {
  EnterCriticalSection(&sizesSection_);
  sizes.assign(sizes_.begin(), sizes_.end());
  LeaveCriticalSection(&sizesSection_);
}

CSizedThumbnailsPools* CThumbnailsManager::FolderPools(const std::u16string& imagePath, bool create) {
  const std::u16string folder = FolderOf(imagePath);
  if (folder.empty()) return nullptr;
  auto it = folders_.find(folder);
  if (it != folders_.end()) return it->second.get();
  if (!create) return nullptr;
  auto& entry = folders_[folder];
  entry = std::make_unique<CSizedThumbnailsPools>(folder);
  return entry.get();
}

bool CThumbnailsManager::GetThumbnail(const std::u16string& imagePath, int size, CThumbnailsPool** pool) {
  if (pool) *pool = nullptr;
  if (imagePath.empty() || size < kMinThumbnailSize) return false;
  bool holds = false;
  {
    CSyncLock lock(this, u"CThumbnailsManager::GetThumbnail");
    AddSize(size);
    CSizedThumbnailsPools* folder = FolderPools(imagePath, true);
    if (!folder) return false;
    holds = folder->GetPool(size, imagePath, pool);
  }
  if (!holds) RequestPreparation(imagePath);
  return holds;
}

bool CThumbnailsManager::Contains(const std::u16string& imagePath, int size) {
  if (imagePath.empty() || size < kMinThumbnailSize) return false;
  CSyncLock lock(this, u"CThumbnailsManager::Contains");
  CSizedThumbnailsPools* folder = FolderPools(imagePath, true);
  return folder && folder->Contains(size, imagePath);
}

bool CThumbnailsManager::Add(const std::u16string& imagePath, int size, HBITMAP& bitmap) {
  if (imagePath.empty() || size < kMinThumbnailSize || !bitmap) return false;
  bool stored = false;
  {
    CSyncLock lock(this, u"CThumbnailsManager::Add");
    CSizedThumbnailsPools* folder = FolderPools(imagePath, true);
    stored = folder && folder->Add(size, imagePath, bitmap);
  }
  if (!stored) return false;
  bitmap = nullptr;
  NotifyChanged(imagePath);
  return true;
}

bool CThumbnailsManager::Remove(const std::u16string& imagePath) {
  bool any = false;
  {
    CSyncLock lock(this, u"CThumbnailsManager::Remove");
    CSizedThumbnailsPools* folder = FolderPools(imagePath, true);
    any = folder && folder->Remove(imagePath);
  }
  if (any) NotifyChanged(imagePath);
  return any;
}

void CThumbnailsManager::RemovePools(const std::u16string& folder) {
  CSyncLock lock(this, u"CThumbnailsManager::RemovePools");
  if (folder.empty()) {
    for (auto& entry : folders_) entry.second->DeletePool(-1);
    folders_.clear();
    return;
  }
  const std::u16string key = NormalizeThumbnailPath(folder);
  auto it = folders_.find(key);
  if (it != folders_.end()) {
    it->second->DeletePool(-1);
    folders_.erase(it);
    return;
  }
  // Pools not used yet in this process lose their files too.
  CSizedThumbnailsPools pools(key);
  pools.DeletePool(-1);
}

void CThumbnailsManager::UnloadPools(const std::u16string& folder) {
  CSyncLock lock(this, u"CThumbnailsManager::UnloadPools");
  if (folder.empty()) {
    folders_.clear();
    return;
  }
  folders_.erase(NormalizeThumbnailPath(folder));
}

void CThumbnailsManager::RequestPreparation(const std::u16string& imagePath) {
  if (imagePath.empty()) return;
  {
    CSyncLock lock(this, u"CThumbnailsManager::RequestPreparation");
    if (!inPreparation_.insert(NormalizeThumbnailPath(imagePath)).second) return;
  }
  auto* job = new CPrepareThumbnailsJob(this, imagePath);
  if (!jobs_) {
    delete job;  // ends the preparation
    return;
  }
  // A refused job is deleted by the job manager, which ends its preparation.
  jobs_->AddJob(job);
}

void CThumbnailsManager::PreparationEnded(const std::u16string& imagePath) {
  CSyncLock lock(this, u"CThumbnailsManager::PreparationEnded");
  inPreparation_.erase(NormalizeThumbnailPath(imagePath));
}

bool CThumbnailsManager::IsInPreparation(const std::u16string& imagePath) {
  CSyncLock lock(this, u"CThumbnailsManager::IsInPreparation");
  return inPreparation_.count(NormalizeThumbnailPath(imagePath)) != 0;
}

std::vector<std::u16string> CThumbnailsManager::GetLoadedFolders() {
  CSyncLock lock(this, u"CThumbnailsManager::GetLoadedFolders");
  std::vector<std::u16string> folders;
  for (auto& entry : folders_) folders.push_back(entry.first);
  return folders;
}

void CThumbnailsManager::NotifyChanged(const std::u16string& imagePath) {
  ForEachListener([&imagePath](IThumbnailsListener* listener) { listener->OnThumbnailsChanged(imagePath); });
}

void CThumbnailsManager::JobCreated() {
  std::lock_guard<std::mutex> lock(jobsMutex_);
  ++liveJobs_;
}

void CThumbnailsManager::JobDestroyed() {
  std::lock_guard<std::mutex> lock(jobsMutex_);
  --liveJobs_;
  jobsGone_.notify_all();
}

// ---- CPrepareThumbnailsJob -----------------------------------------------------

CPrepareThumbnailsJob::CPrepareThumbnailsJob(CThumbnailsManager* manager, const std::u16string& imagePath)
    : CJob(manager), manager_(manager), path_(imagePath), original_(imagePath) {
  manager_->JobCreated();
}

CPrepareThumbnailsJob::~CPrepareThumbnailsJob() {
  EndPreparation();
  manager_->JobDestroyed();
}

bool CPrepareThumbnailsJob::CurrentPath(std::u16string& path) {
  CSyncLock lock(this, u"CPrepareThumbnailsJob::CurrentPath");
  path = path_;
  return !path.empty();
}

std::u16string CPrepareThumbnailsJob::GetPath() {
  std::u16string path;
  CurrentPath(path);
  return path;
}

void CPrepareThumbnailsJob::EndPreparation() {
  {
    CSyncLock lock(this, u"CPrepareThumbnailsJob::EndPreparation");
    if (ended_) return;
    ended_ = true;
  }
  manager_->PreparationEnded(original_);
}

void CPrepareThumbnailsJob::Stop() {
  EndPreparation();
  CSyncLock lock(this, u"CPrepareThumbnailsJob::Stop");
  path_.clear();
}

bool CPrepareThumbnailsJob::IsEqual(CJob* other) {
  auto* job = dynamic_cast<CPrepareThumbnailsJob*>(other);
  return job && EqualsNoCase(job->original_, original_);
}

void CPrepareThumbnailsJob::CropFor(int width, int height, int size, int* x, int* y, int* side) {
  const int shorter = width < height ? width : height;
  const int longer = width < height ? height : width;
  int d = shorter > 1 ? shorter - 1 : shorter;
  int cx = 0;
  int cy = 0;
  if (width > height)
    cx = (longer - shorter) / 2;
  else if (height > width)
    cy = (longer - shorter) / 2;
  if (size > 0 && d > 8 * size) {
    const int shrink = (d - 8 * size) / 2;
    cx += shrink;
    cy += shrink;
    d -= 2 * shrink;
  }
  *x = cx;
  *y = cy;
  *side = d;
}

void CPrepareThumbnailsJob::Execute() {
  std::u16string path;
  if (!CurrentPath(path) || !FileExists(path)) {
    EndPreparation();
    return;
  }
  std::vector<int> sizes;
  manager_->GetSizes(sizes);
  CSTScreenBuffer source;
  bool decoded = false;
  for (int size : sizes) {
    CDebugLog::GetInstance().Printf(u"** CPrepareThumbnailsJob: preparing for size %d", size);
    if (!CurrentPath(path)) break;
    if (size < kMinThumbnailSize || manager_->Contains(path, size)) continue;
    if (!decoded) {
      HBITMAP bitmap = LoadImageFromFile(path, false);
      if (!bitmap) break;
      const bool copied = source.CreateFromBitmap(bitmap);
      DeleteObject(bitmap);
      if (!copied) break;
      source.DeleteDC();
      decoded = true;
      if (!CurrentPath(path)) break;
    }
    int x = 0, y = 0, side = 0;
    CropFor(source.GetWidth(), source.GetHeight(), size, &x, &y, &side);
    CSTScreenBuffer target;
    CScaler scaler;
    if (side < 1 || !target.CreateBlank(size, size) || !scaler.Init(side, side, size, size, &target)) break;
    bool stopped = false;
    for (int row = 0; row < side; ++row) {
      if (row % 50 == 7) {
        if (!CurrentPath(path)) {
          stopped = true;
          break;
        }
        Sleep(0);
      }
      scaler.AddSourceRow(source.Row(y + row) + static_cast<std::ptrdiff_t>(x) * 3);
    }
    if (stopped) break;
    target.DeleteDC();
    target.SetOwnsBitmap(false);
    HBITMAP thumbnail = target.GetBitmap();
    if (!manager_->Add(path, size, thumbnail) && thumbnail) DeleteObject(thumbnail);
  }
  EndPreparation();
}
