// Small system icons of files and folders (SHGetFileInfo), drawn at the
// screen's DPI the first time they are asked for.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"
#include "platform/windows/SystemMetrics.h"

namespace plat {
namespace {

// A square ARGB picture drawn on a 16-unit grid.
class IconPainter {
 public:
  explicit IconPainter(int size) : size_(size), px_(static_cast<std::size_t>(size) * size, 0) {}
  void Box(int x0, int y0, int x1, int y1, std::uint32_t argb) {
    for (int y = At(y0); y < At(y1); ++y)
      for (int x = At(x0); x < At(x1); ++x) px_[static_cast<std::size_t>(y) * size_ + x] = argb;
  }
  // A box with a one-pixel frame.
  void Framed(int x0, int y0, int x1, int y1, std::uint32_t fill, std::uint32_t frame) {
    Box(x0, y0, x1, y1, frame);
    const int a = At(x0) + 1, b = At(y0) + 1, c = At(x1) - 1, d = At(y1) - 1;
    for (int y = b; y < d; ++y)
      for (int x = a; x < c; ++x) px_[static_cast<std::size_t>(y) * size_ + x] = fill;
  }
  HICON Make() const {
    DibInfo info(size_, -size_, 32);
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, info.get(), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!colour || !bits) return nullptr;
    std::memcpy(bits, px_.data(), px_.size() * 4);
    // The mask: 1 where nothing is drawn.
    const int stride = (size_ + 15) / 16 * 2;
    std::vector<BYTE> mask(static_cast<std::size_t>(stride) * size_, 0);
    for (int y = 0; y < size_; ++y)
      for (int x = 0; x < size_; ++x)
        if ((px_[static_cast<std::size_t>(y) * size_ + x] >> 24) == 0)
          mask[static_cast<std::size_t>(y) * stride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
    HBITMAP maskBitmap = CreateBitmap(size_, size_, 1, 1, mask.data());
    ICONINFO ii{TRUE, 0, 0, maskBitmap, colour};
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(colour);
    if (maskBitmap) DeleteObject(maskBitmap);
    return icon;
  }

 private:
  int At(int unit) const { return std::clamp((unit * size_ + 8) / 16, 0, size_); }
  int size_;
  std::vector<std::uint32_t> px_;
};

constexpr std::uint32_t kFrame = 0xFF404040;

std::vector<HICON> DrawIcons() {
  const int size = std::max(8, GetSystemMetrics(SM_CXSMICON));
  std::vector<HICON> icons(kIconCount, nullptr);
  {
    IconPainter p(size);  // a yellow folder with its tab
    p.Framed(1, 2, 8, 5, 0xFFE8B830, kFrame);
    p.Framed(1, 4, 15, 14, 0xFFF4CC50, kFrame);
    icons[kIconFolder] = p.Make();
  }
  {
    IconPainter p(size);  // a white page with lines of text
    p.Framed(3, 1, 13, 15, 0xFFFFFFFF, kFrame);
    for (int y = 4; y < 13; y += 3) p.Box(5, y, 11, y + 1, 0xFF8090A0);
    icons[kIconFile] = p.Make();
  }
  {
    IconPainter p(size);  // a window with a blue title bar
    p.Framed(1, 2, 15, 14, 0xFFFFFFFF, kFrame);
    p.Box(2, 3, 14, 6, 0xFF0052A5);
    icons[kIconProgram] = p.Make();
  }
  {
    IconPainter p(size);  // a picture: sky, sun and a green field
    p.Framed(1, 2, 15, 14, 0xFF9CCCF0, kFrame);
    p.Box(10, 4, 13, 7, 0xFFFFD020);
    p.Box(2, 9, 14, 13, 0xFF40A040);
    icons[kIconImage] = p.Make();
  }
  return icons;
}

std::atomic<SystemImageListMaker> g_maker{nullptr};

int IconOf(const std::u16string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kIconFolder;
  for (const char16_t* ext : {u".exe", u".lnk"})
    if (EndsWithNoCase(path, ext)) return kIconProgram;
  return IsPictureFileName(path) ? kIconImage : kIconFile;
}

void CopyText(const std::u16string& text, WCHAR* out, std::size_t cch) {
  const std::size_t n = std::min(text.size(), cch - 1);
  std::copy_n(text.data(), n, out);
  out[n] = 0;
}

}  // namespace

bool IsPictureFileName(std::u16string_view name) {
  for (std::u16string_view ext : {u".jpg", u".jpeg", u".png", u".gif", u".bmp"})
    if (EndsWithNoCase(name, ext)) return true;
  return false;
}

const std::vector<HICON>& SystemSmallIcons() {
  static std::vector<HICON>* icons = new std::vector<HICON>(DrawIcons());
  return *icons;
}

void SetSystemImageListMaker(SystemImageListMaker maker) { g_maker = maker; }

DWORD_PTR SHGetFileInfo(const WCHAR* path, DWORD attributes, SHFILEINFO* info, UINT size, UINT flags) {
  const bool fills = flags & (SHGFI_ICON | SHGFI_SYSICONINDEX | SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES);
  if (!path || (fills && (!info || size < sizeof(SHFILEINFO)))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string name(path);
  if (!(flags & SHGFI_USEFILEATTRIBUTES)) {
    attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  }
  const int icon = IconOf(name, attributes);
  DWORD_PTR result = 1;
  if (flags & SHGFI_ATTRIBUTES) info->dwAttributes = attributes;
  if (flags & SHGFI_DISPLAYNAME) {
    std::size_t slash = name.find_last_of(u'\\');
    std::u16string shown = slash == std::u16string::npos ? name : name.substr(slash + 1);
    if (shown.empty()) shown = u"My Device";
    CopyText(shown, info->szDisplayName, MAX_PATH);
  }
  if (flags & SHGFI_TYPENAME) {
    static const char16_t* const kTypes[kIconCount] = {u"Folder", u"File", u"Application", u"Picture"};
    CopyText(kTypes[icon], info->szTypeName, 80);
  }
  if (flags & SHGFI_ICON) {
    HICON own = SystemSmallIcons()[static_cast<std::size_t>(icon)];
    ICONINFO ii{};
    info->hIcon = own && GetIconInfo(own, &ii) ? CreateIconIndirect(&ii) : nullptr;
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
  }
  if (flags & SHGFI_SYSICONINDEX) {
    info->iIcon = icon;
    static std::once_flag once;
    static DWORD_PTR list = 0;
    if (SystemImageListMaker maker = g_maker.load()) std::call_once(once, [maker] { list = maker(SystemSmallIcons()); });
    result = list;
  }
  return result;
}

}  // namespace plat
