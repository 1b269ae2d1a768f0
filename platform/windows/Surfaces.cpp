// Window surfaces: each top-level window's pixels in shared memory, the DCs
// that draw into them, and the composed screen.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

struct SurfaceInfo {
  BITMAPINFOHEADER h;
  DWORD masks[3];
};

SurfaceInfo InfoFor(int w, int h) {
  SurfaceInfo i{};
  i.h.biSize = sizeof(BITMAPINFOHEADER);
  i.h.biWidth = w;
  i.h.biHeight = -h;
  i.h.biPlanes = 1;
  i.h.biBitCount = 16;
  i.h.biCompression = BI_BITFIELDS;
  i.masks[0] = 0xF800;
  i.masks[1] = 0x07E0;
  i.masks[2] = 0x001F;
  return i;
}

std::mutex& DcMapLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::vector<std::pair<HDC, HBITMAP>>& DcMap() {
  static auto* v = new std::vector<std::pair<HDC, HBITMAP>>;
  return *v;
}

HDC WindowDc(HWND hwnd) {
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
  SurfaceInfo info = InfoFor(t->surface->width, t->surface->height);
  HBITMAP bmp = CreateDIBSectionOnMemory(reinterpret_cast<BITMAPINFO*>(&info), t->surface->mem);
  if (!bmp) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bmp);
  POINT off = OffsetInTopLevel(w);
  SetViewportOrgEx(dc, off.x, off.y, nullptr);
  RECT vis = VisibleClientRect(w);
  IntersectClipRect(dc, vis.left, vis.top, vis.right, vis.bottom);
  if (w->font) SelectObject(dc, w->font);
  std::lock_guard<std::mutex> m(DcMapLock());
  DcMap().emplace_back(dc, bmp);
  return dc;
}

int ReleaseWindowDc(HWND, HDC hdc) {
  HBITMAP bmp = nullptr;
  {
    std::lock_guard<std::mutex> m(DcMapLock());
    auto& v = DcMap();
    auto it = std::find_if(v.begin(), v.end(), [&](auto& p) { return p.first == hdc; });
    if (it == v.end()) return 0;
    bmp = it->second;
    v.erase(it);
  }
  DeleteDC(hdc);
  DeleteObject(bmp);
  return 1;
}

const WindowDcProvider kProvider{WindowDc, ReleaseWindowDc};

}  // namespace

void InstallDcProvider() {
  static std::once_flag once;
  std::call_once(once, [] { SetWindowDcProvider(&kProvider); });
}

bool CreateSurface(Window* w) {
  int width = std::max<int>(1, w->rect.right - w->rect.left);
  int height = std::max<int>(1, w->rect.bottom - w->rect.top);
  if (w->surface && w->surface->width == width && w->surface->height == height) return true;
  int stride = (width * 2 + 3) & ~3;
  std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto s = std::make_unique<Surface>();
  s->shmName = table::SurfaceName(w->handle);
  s->fd = ::shm_open(s->shmName.c_str(), O_RDWR | O_CREAT, 0600);
  if (s->fd < 0) return false;
  if (::ftruncate(s->fd, static_cast<off_t>(size)) != 0) {
    ::close(s->fd);
    return false;
  }
  void* mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, s->fd, 0);
  if (mem == MAP_FAILED) {
    ::close(s->fd);
    return false;
  }
  s->mem = mem;
  s->size = size;
  s->width = width;
  s->height = height;
  s->stride = stride;
  std::memset(mem, 0, size);
  if (w->surface) {
    // Resized: the old mapping goes, the shared object stays under its name.
    ::munmap(w->surface->mem, w->surface->size);
    ::close(w->surface->fd);
  }
  w->surface = std::move(s);
  return true;
}

void DestroySurface(Window* w) {
  if (!w->surface) return;
  ::munmap(w->surface->mem, w->surface->size);
  ::close(w->surface->fd);
  ::shm_unlink(w->surface->shmName.c_str());
  w->surface.reset();
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

HBITMAP GetWindowSurfaceForTesting(HWND topLevel) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(topLevel);
  if (!w || !w->surface) return nullptr;
  if (!w->surface->bitmap) {
    SurfaceInfo info = InfoFor(w->surface->width, w->surface->height);
    w->surface->bitmap = CreateDIBSectionOnMemory(reinterpret_cast<BITMAPINFO*>(&info), w->surface->mem);
  }
  return w->surface->bitmap;
}

BOOL ComposeScreen() {
  HDC screen = GetDC(nullptr);
  if (!screen) return FALSE;
  RECT all{0, 0, ScreenWidth(), ScreenHeight()};
  FillRect(screen, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  auto entries = table::Snapshot();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const TableEntry& e = *it;
    if (!(e.flags & kVisible) || (e.flags & kMessageOnly)) continue;
    int w = std::max<int>(1, e.right - e.left), h = std::max<int>(1, e.bottom - e.top);
    std::size_t stride = static_cast<std::size_t>((w * 2 + 3) & ~3);
    std::size_t size = stride * static_cast<std::size_t>(h);
    int fd = ::shm_open(table::SurfaceName(e.hwnd).c_str(), O_RDONLY, 0);
    if (fd < 0) continue;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) < size) {
      ::close(fd);
      continue;  // being resized
    }
    void* mem = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mem == MAP_FAILED) continue;
    SurfaceInfo info = InfoFor(w, h);
    SetDIBitsToDevice(screen, e.left, e.top, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0,
                      static_cast<UINT>(h), mem, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ::munmap(mem, size);
  }
  ReleaseDC(nullptr, screen);
  return TRUE;
}

}  // namespace plat
