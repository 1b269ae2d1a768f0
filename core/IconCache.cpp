#include "core/IconCache.h"

#include <cstring>
#include <limits>

#include "core/BitmapBuffer.h"
#include "platform/base/Endian.h"
#include "platform/base/Handle.h"
#include "platform/files/Files.h"
#include "platform/resources/Resources.h"

using namespace plat;

namespace {


// Files above this size are no icon files worth reading.
constexpr std::size_t kMaxIconFileBytes = 16u * 1024u * 1024u;

// A memory DC holding a bitmap, put back on destruction.
class SelectedDc {
 public:
  explicit SelectedDc(HBITMAP bitmap) {
    dc_ = CreateCompatibleDC(nullptr);
    if (dc_) previous_ = SelectObject(dc_, bitmap);
  }
  ~SelectedDc() {
    if (!dc_) return;
    if (previous_) SelectObject(dc_, previous_);
    DeleteDC(dc_);
  }
  SelectedDc(const SelectedDc&) = delete;
  SelectedDc& operator=(const SelectedDc&) = delete;
  HDC dc() const { return previous_ ? dc_ : nullptr; }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

HBITMAP MakeSection(int width, int height, int bits, const RGBQUAD* table, int colors, void** pixels) {
  DibInfo info(width, height, bits);
  if (bits <= 8) {
    int full = 1 << bits;
    if (colors > full) colors = full;
    info.bmiHeader.biClrUsed = static_cast<DWORD>(full);
    if (table && colors > 0) std::memcpy(info.bmiColors, table, sizeof(RGBQUAD) * static_cast<std::size_t>(colors));
  }
  return CreateDIBSection(nullptr, info.get(), DIB_RGB_COLORS, pixels, nullptr, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// CResourceIconsManager

CResourceIconsManager::~CResourceIconsManager() { Clear(); }

CResourceIconsManager& CResourceIconsManager::GetInstance() {
  static CResourceIconsManager instance;
  return instance;
}

void CResourceIconsManager::SetModule(HINSTANCE module) {
  CSyncLock lock(this, u"CResourceIconsManager::SetModule");
  module_ = module;
}

HICON CResourceIconsManager::GetIcon(int resourceId, int size) {
  CSyncLock lock(this, u"CResourceIconsManager::GetIcon");
  if (!module_) return nullptr;
  auto outer = icons_.find(resourceId);
  if (outer != icons_.end()) {
    auto inner = outer->second.find(size);
    if (inner != outer->second.end()) return inner->second;
  }
  auto icon = static_cast<HICON>(
      LoadImageW(module_, MAKEINTRESOURCEW(static_cast<std::uintptr_t>(resourceId)), IMAGE_ICON, size, size, 0));
  if (!icon) return nullptr;
  ++loads_;
  icons_[resourceId][size] = icon;
  return icon;
}

int CResourceIconsManager::GetIconForSize(int /*resourceId*/, int wanted, const std::vector<int>& sizes) {
  for (auto it = sizes.rbegin(); it != sizes.rend(); ++it)
    if (*it <= wanted) return *it;
  return wanted;
}

bool CResourceIconsManager::DrawIcon(CBitmapBuffer& buffer, const RECT& r, int resourceId,
                                     const std::vector<int>& sizes, bool dim) {
  CSyncLock lock(this, u"CResourceIconsManager::DrawIcon");
  HICON icon = GetIcon(resourceId, GetIconForSize(resourceId, r.right - r.left, sizes));
  if (!icon) return false;
  if (buffer.DrawIcon(icon, r) && dim) buffer.ShadeRect(r, true);
  return true;
}

void CResourceIconsManager::Clear() {
  CSyncLock lock(this, u"CResourceIconsManager::Clear");
  for (auto& [id, bySize] : icons_)
    for (auto& [size, icon] : bySize)
      if (icon) DestroyIcon(icon);
  icons_.clear();
}

// ---------------------------------------------------------------------------
// CIconFile

bool CIconFile::Open(const std::u16string& path) {
  Close();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  bool ok = low != INVALID_FILE_SIZE && high == 0 && low <= kMaxIconFileBytes;
  std::vector<std::uint8_t> bytes;
  if (ok) {
    bytes.resize(low);
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      DWORD read = 0;
      ok = ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) && read > 0;
      done += read;
    }
  }
  CloseHandle(file);
  if (!ok) return false;
  data_ = std::move(bytes);
  if (!Parse()) {
    Close();
    return false;
  }
  return true;
}

bool CIconFile::OpenData(const void* data, std::size_t size) {
  Close();
  if (!data || size > kMaxIconFileBytes) return false;
  data_.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
  if (!Parse()) {
    Close();
    return false;
  }
  return true;
}

void CIconFile::Close() {
  data_.clear();
  data_.shrink_to_fit();
  images_.clear();
}

bool CIconFile::Parse() {
  const std::size_t size = data_.size();
  const std::uint8_t* p = data_.data();
  if (size < 6 || plat::GetLe16(p) != 0 || plat::GetLe16(p + 2) != 1) return false;
  std::size_t count = plat::GetLe16(p + 4);
  if (count == 0 || 6 + 16 * count > size) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = p + 6 + 16 * i;
    std::uint64_t dataSize = plat::GetLe32(entry + 8);
    std::uint64_t offset = plat::GetLe32(entry + 12);
    if (offset + dataSize > size || dataSize < sizeof(BITMAPINFOHEADER)) return false;
    const std::uint8_t* h = p + offset;
    // Images stored as PNG are not drawn by this reader; they are skipped.
    if (dataSize >= 8 && std::memcmp(h, "\x89PNG", 4) == 0) continue;
    std::uint32_t headerSize = plat::GetLe32(h);
    auto width = static_cast<std::int32_t>(plat::GetLe32(h + 4));
    auto doubleHeight = static_cast<std::int32_t>(plat::GetLe32(h + 8));
    int planes = plat::GetLe16(h + 12);
    int bitCount = plat::GetLe16(h + 14);
    std::uint32_t compression = plat::GetLe32(h + 16);
    std::uint32_t used = plat::GetLe32(h + 32);
    if (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > dataSize) return false;
    if (width < 1 || width > 256 || doubleHeight < 2 || doubleHeight > 512) return false;
    if (compression != BI_RGB || planes != 1) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
      return false;
    Image im;
    im.width = width;
    im.height = doubleHeight / 2;
    im.bitDepth = bitCount * planes;
    int defaultColors = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
    if (used > 256) return false;
    im.colors = used ? static_cast<int>(used) : defaultColors;
    std::uint64_t colorBitsAt = headerSize + 4ull * static_cast<std::uint64_t>(im.colors);
    std::uint64_t colorBytes = DibStride(im.bitDepth, im.width) * static_cast<std::uint64_t>(im.height);
    std::uint64_t maskBytes = DibStride(1, im.width) * static_cast<std::uint64_t>(im.height);
    if (colorBitsAt + colorBytes + maskBytes > dataSize) return false;
    im.header = h;
    im.colorTable = h + headerSize;
    im.colorBits = h + colorBitsAt;
    im.maskBits = h + colorBitsAt + colorBytes;
    images_.push_back(im);
  }
  return !images_.empty();
}

int CIconFile::ChooseImage(int w, int h) const {
  if (w < 1 || w > 255 || h < 1 || h > 255) return -1;
  int best = -1;
  for (std::size_t i = 0; i < images_.size(); ++i) {
    const Image& im = images_[i];
    if (im.width == w && im.height == h && (best < 0 || im.bitDepth > images_[best].bitDepth))
      best = static_cast<int>(i);
  }
  if (best >= 0) return best;
  for (std::size_t i = 0; i < images_.size(); ++i) {
    const Image& im = images_[i];
    if (im.width >= w || im.height >= h) continue;
    if (best < 0 || im.width > images_[best].width ||
        (im.width == images_[best].width && im.bitDepth > images_[best].bitDepth))
      best = static_cast<int>(i);
  }
  if (best >= 0) return best;
  for (std::size_t i = 0; i < images_.size(); ++i) {
    const Image& im = images_[i];
    if (im.width <= w || im.height <= h) continue;
    if (best < 0 || im.width < images_[best].width ||
        (im.width == images_[best].width && im.bitDepth > images_[best].bitDepth))
      best = static_cast<int>(i);
  }
  return best;
}

HICON CIconFile::MakeIcon(int w, int h, int* outW, int* outH) const {
  int index = ChooseImage(w, h);
  if (index < 0) return nullptr;
  const Image& im = images_[static_cast<std::size_t>(index)];

  void* colorPixels = nullptr;
  void* maskPixels = nullptr;
  HBITMAP color = MakeSection(im.width, im.height, im.bitDepth, reinterpret_cast<const RGBQUAD*>(im.colorTable),
                              im.colors, &colorPixels);
  static const RGBQUAD kMono[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  HBITMAP mask = MakeSection(im.width, im.height, 1, kMono, 2, &maskPixels);
  auto cleanup = [&] {
    if (color) DeleteObject(color);
    if (mask) DeleteObject(mask);
  };
  if (!color || !mask || !colorPixels || !maskPixels) {
    cleanup();
    return nullptr;
  }
  std::memcpy(colorPixels, im.colorBits, static_cast<std::size_t>(DibStride(im.bitDepth, im.width)) * static_cast<std::size_t>(im.height));
  std::memcpy(maskPixels, im.maskBits, static_cast<std::size_t>(DibStride(1, im.width)) * static_cast<std::size_t>(im.height));
  {
    // Black wherever the mask marks transparency.
    SelectedDc dc(color);
    if (!dc.dc() ||
        !MaskBlt(dc.dc(), 0, 0, im.width, im.height, dc.dc(), 0, 0, mask, 0, 0, MAKEROP4(BLACKNESS, SRCCOPY))) {
      cleanup();
      return nullptr;
    }
  }
  int gotW = im.width, gotH = im.height;
  if (im.width > w || im.height > h) {
    void* scaledPixels = nullptr;
    HBITMAP scaledColor = MakeSection(w, h, im.bitDepth == 32 ? 32 : 24, nullptr, 0, &scaledPixels);
    HBITMAP scaledMask = MakeSection(w, h, 1, kMono, 2, &scaledPixels);
    bool ok = scaledColor && scaledMask;
    if (ok) {
      SelectedDc from(color), to(scaledColor);
      ok = from.dc() && to.dc() && StretchBlt(to.dc(), 0, 0, w, h, from.dc(), 0, 0, im.width, im.height, SRCCOPY);
    }
    if (ok) {
      SelectedDc from(mask), to(scaledMask);
      ok = from.dc() && to.dc() && StretchBlt(to.dc(), 0, 0, w, h, from.dc(), 0, 0, im.width, im.height, SRCCOPY);
    }
    cleanup();
    color = scaledColor;
    mask = scaledMask;
    if (!ok) {
      cleanup();
      return nullptr;
    }
    gotW = w;
    gotH = h;
  }
  ICONINFO info{};
  info.fIcon = TRUE;
  info.xHotspot = 0;
  info.yHotspot = 0;
  info.hbmMask = mask;
  info.hbmColor = color;
  HICON icon = CreateIconIndirect(&info);
  cleanup();
  if (!icon) return nullptr;
  if (outW) *outW = gotW;
  if (outH) *outH = gotH;
  return icon;
}

// ---------------------------------------------------------------------------
// CFileIconsManager

CFileIconsManager::~CFileIconsManager() { Clear(); }

HICON CFileIconsManager::GetIcon(const std::u16string& path, int* size) {
  CSyncLock lock(this, u"CFileIconsManager::GetIcon");
  if (!size) return nullptr;
  auto outer = icons_.find(path);
  if (outer != icons_.end()) {
    auto inner = outer->second.find(*size);
    if (inner != outer->second.end()) {
      *size = inner->second.width;
      return inner->second.icon;
    }
  }
  CIconFile file;
  ++reads_;
  if (!file.Open(path)) return nullptr;
  Entry entry;
  entry.icon = file.MakeIcon(*size, *size, &entry.width, &entry.height);
  if (!entry.icon) return nullptr;
  icons_[path][*size] = entry;
  *size = entry.width;
  return entry.icon;
}

void CFileIconsManager::Clear() {
  CSyncLock lock(this, u"CFileIconsManager::Clear");
  for (auto& [path, bySize] : icons_)
    for (auto& [size, entry] : bySize)
      if (entry.icon) DestroyIcon(entry.icon);
  icons_.clear();
}

CFileIconsManager& GetFileIconsManager() {
  static CFileIconsManager instance;
  return instance;
}
