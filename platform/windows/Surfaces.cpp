// Window surfaces: each top-level window's pixels in shared memory, the DCs
// that draw into them, and the composed screen. Any thread may draw into a
// window (an animation thread draws its frames straight in): each DC holds
// the surface it draws into, and releasing it raises the screen's change
// notice so the screen is composed again.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/base/Device.h"
#include "platform/ipc/ScreenNotice.h"
#include "platform/windows/Cursor.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

std::mutex& DcMapLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
struct WindowDcEntry {
  HDC dc;
  HBITMAP bitmap;
  std::shared_ptr<Surface> surface;  // kept mapped while the DC draws
};
std::vector<WindowDcEntry>& DcMap() {
  static auto* v = new std::vector<WindowDcEntry>;
  return *v;
}

HDC MakeWindowDc(HWND hwnd, bool whole) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  Window* t = TopLevelOf(w);
  if (!t->surface) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  const DibInfo info = Rgb565DibInfo(t->surface->width, t->surface->height);
  HBITMAP bmp = CreateDIBSectionOnMemory(info.get(), t->surface->mem);
  if (!bmp) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bmp);
  POINT off = OffsetInTopLevel(w);
  SetViewportOrgEx(dc, off.x, off.y, nullptr);
  RECT vis = VisibleClientRect(w, whole);
  IntersectClipRect(dc, vis.left, vis.top, vis.right, vis.bottom);
  if (w->font) SelectObject(dc, w->font);
  std::lock_guard<std::mutex> m(DcMapLock());
  DcMap().push_back(WindowDcEntry{dc, bmp, t->surface});
  return dc;
}

HDC WindowDc(HWND hwnd) { return MakeWindowDc(hwnd, false); }

int ReleaseWindowDc(HWND, HDC hdc) {
  WindowDcEntry entry{};
  {
    std::lock_guard<std::mutex> m(DcMapLock());
    auto& v = DcMap();
    auto it = std::find_if(v.begin(), v.end(), [&](auto& p) { return p.dc == hdc; });
    if (it == v.end()) return 0;
    entry = std::move(*it);
    v.erase(it);
  }
  DeleteDC(hdc);
  DeleteObject(entry.bitmap);
  entry.surface.reset();
  NotifyScreenChanged();
  return 1;
}

const WindowDcProvider kProvider{WindowDc, ReleaseWindowDc, ComposeScreen};

// A screen DC reads the composed screen from the start, before any window of
// this process exists.
const bool g_providerInstalled = (InstallDcProvider(), true);

}  // namespace

HDC GetWindowDcWithBars(HWND hwnd) {
  InstallDcProvider();
  return MakeWindowDc(hwnd, true);
}

void InstallDcProvider() {
  static std::once_flag once;
  std::call_once(once, [] { SetWindowDcProvider(&kProvider); });
}

Surface::~Surface() {
  if (bitmap) DeleteObject(bitmap);
  if (mem) ::munmap(mem, size);
}

bool CreateSurface(Window* w) {
  int width = std::max<int>(1, w->rect.right - w->rect.left);
  int height = std::max<int>(1, w->rect.bottom - w->rect.top);
  if (w->surface && w->surface->width == width && w->surface->height == height) return true;
  if (width > kMaxSurfaceSide || height > kMaxSurfaceSide) return false;
  int stride = static_cast<int>(DibStride(16, width));
  std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  std::uint32_t generation = w->surfaceGeneration + 1;
  auto s = std::make_shared<Surface>();
  int fd = table::CreateSurfaceObject(w->handle, generation, &s->session);
  if (fd < 0) return false;
  s->shmName = table::SurfaceName(s->session, w->handle, generation);
  void* mem = MAP_FAILED;
  if (::ftruncate(fd, static_cast<off_t>(size)) == 0)
    mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mem == MAP_FAILED) {
    ::shm_unlink(s->shmName.c_str());
    return false;
  }
  s->mem = mem;
  s->size = size;
  s->width = width;
  s->height = height;
  s->stride = stride;
  // The new surface is listed before the old one's name goes, so a reader
  // always finds one; one that mapped the old one keeps its mapping.
  table::SetSurface(w->handle, s->session, generation, width, height);
  if (w->surface) ::shm_unlink(w->surface->shmName.c_str());
  w->surface = std::move(s);
  w->surfaceGeneration = generation;
  return true;
}

void DestroySurface(Window* w) {
  if (!w->surface) return;
  ::shm_unlink(w->surface->shmName.c_str());
  w->surface.reset();  // unmapped when the last DC drawing into it is released
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

HBITMAP GetWindowSurfaceForTesting(HWND topLevel) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(topLevel);
  if (!w || !w->surface) return nullptr;
  if (!w->surface->bitmap) {
    const DibInfo info = Rgb565DibInfo(w->surface->width, w->surface->height);
    w->surface->bitmap = CreateDIBSectionOnMemory(info.get(), w->surface->mem);
  }
  return w->surface->bitmap;
}

namespace {

// Surfaces of the device mapped for reading, kept from one composition to the
// next; a generation that is no longer listed is unmapped.
struct MappedSurface {
  DWORD hwnd;
  std::uint64_t session;
  std::uint32_t generation;
  const std::uint8_t* mem;
  std::size_t size;
};
std::mutex& MappedLock() {
  static auto* m = new std::mutex;
  return *m;
}
std::vector<MappedSurface>& Mapped() {
  static auto* v = new std::vector<MappedSurface>;
  return *v;
}
pid_t& MappedPid() {
  static pid_t pid = 0;
  return pid;
}

const MappedSurface* MapForReading(const TableEntry& e, std::size_t size) {
  for (const MappedSurface& m : Mapped())
    if (m.hwnd == e.hwnd && m.session == e.surfaceSession && m.generation == e.surfaceGeneration) return &m;
  int fd = ::shm_open(table::SurfaceName(e.surfaceSession, e.hwnd, e.surfaceGeneration).c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;  // replaced meanwhile: the next composition shows the new one
  struct stat st{};
  void* mem = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= size)
    mem = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mem == MAP_FAILED) return nullptr;
  Mapped().push_back(
      MappedSurface{e.hwnd, e.surfaceSession, e.surfaceGeneration, static_cast<const std::uint8_t*>(mem), size});
  return &Mapped().back();
}

}  // namespace

void BeginScreenSession() { table::BeginScreenSession(); }

BOOL ComposeScreen() {
  DIBSECTION ds{};
  if (GetObjectW(ScreenBitmap(), sizeof ds, &ds) < static_cast<int>(sizeof ds) || !ds.dsBm.bmBits) return FALSE;
  // The screen and the surfaces are both top-down RGB565: rows are copied as they are.
  auto* screen = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
  const int sw = ds.dsBm.bmWidth, sh = ds.dsBm.bmHeight;
  const std::size_t screenStride = static_cast<std::size_t>(ds.dsBm.bmWidthBytes);
  std::memset(screen, 0, screenStride * static_cast<std::size_t>(sh));
  auto entries = table::Snapshot();
  std::lock_guard<std::mutex> g(MappedLock());
  static unsigned mappedDevice = 0;
  if (MappedPid() != getpid() || mappedDevice != DeviceGeneration()) {
    // Another device's surfaces go; a parent's mappings are not this process's to keep.
    if (MappedPid() == getpid())
      for (const MappedSurface& m : Mapped()) ::munmap(const_cast<std::uint8_t*>(m.mem), m.size);
    Mapped().clear();
    MappedPid() = getpid();
    mappedDevice = DeviceGeneration();
  }
  std::erase_if(Mapped(), [&](const MappedSurface& m) {
    bool listed = std::any_of(entries.begin(), entries.end(), [&](const TableEntry& e) {
      return e.hwnd == m.hwnd && e.surfaceSession == m.session && e.surfaceGeneration == m.generation;
    });
    if (!listed) ::munmap(const_cast<std::uint8_t*>(m.mem), m.size);
    return !listed;
  });
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const TableEntry& e = *it;
    if (!(e.flags & kVisible) || (e.flags & kMessageOnly)) continue;
    int w = e.surfaceWidth, h = e.surfaceHeight;
    if (w <= 0 || h <= 0) continue;
    std::size_t stride = static_cast<std::size_t>(DibStride(16, w));
    const MappedSurface* m = MapForReading(e, stride * static_cast<std::size_t>(h));
    if (!m) continue;
    // What of the surface lies on the screen (a window may be larger than its surface while it grows).
    int x0 = std::max(0, static_cast<int>(e.left)), y0 = std::max(0, static_cast<int>(e.top));
    int x1 = std::min({sw, static_cast<int>(e.left) + w, static_cast<int>(e.right)});
    int y1 = std::min({sh, static_cast<int>(e.top) + h, static_cast<int>(e.bottom)});
    if (x0 >= x1 || y0 >= y1) continue;
    std::size_t bytes = static_cast<std::size_t>(x1 - x0) * 2;
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* src = m->mem + static_cast<std::size_t>(y - e.top) * stride + static_cast<std::size_t>(x0 - e.left) * 2;
      std::memcpy(screen + static_cast<std::size_t>(y) * screenStride + static_cast<std::size_t>(x0) * 2, src, bytes);
    }
  }
  if (WaitCursorShownOnDevice())
    DrawWaitCursor(reinterpret_cast<std::uint16_t*>(screen), sw, sh, screenStride, ScreenDpi());
  return TRUE;
}

}  // namespace plat
