#include "layout/ResourceValues.h"

#include <cstring>
#include <new>
#include <vector>

#include "core/OrvException.h"
#include "core/VORegistry.h"
#include "platform/base/CodePage.h"

CFontHolder::~CFontHolder() {
  if (font_) plat::DeleteObject(font_);
}

void CFontHolder::Assign(plat::HFONT font) {
  if (font_ && font_ != font) plat::DeleteObject(font_);
  font_ = font;
}

bool PrependFontProperty(CPropertyList& listHead, const CPropertyName& name, CFontRef font) {
  return PrependObjectProperty(listHead, name, std::static_pointer_cast<void>(std::move(font)));
}

void PrependFontHandle(CPropertyList& listHead, const CPropertyName& name, plat::HFONT font) {
  CFontRef holder;
  try {
    holder = std::make_shared<CFontHolder>(font);
  } catch (const std::bad_alloc&) {
    plat::DeleteObject(font);
    throw COrvException(plat::E_OUTOFMEMORY);
  }
  PrependFontProperty(listHead, name, std::move(holder));
}

CFontRef GetFontOf(const CPropertyValue* value) {
  if (!value || !dynamic_cast<const CObjectPropertyValue*>(value)) return {};
  return std::static_pointer_cast<CFontHolder>(value->GetSharedObject());
}

const char16_t* GetAttributeText(const CXmlNode& element, const char16_t* name) {
  XmlAttribute* attribute = element.FindAttributeRecord(name);
  if (!attribute) return nullptr;
  return attribute->value ? attribute->value : u"";
}

void LayoutResourceParser(IResourceValueReader& reader, const CXmlNode& element, CPropertyList& list) {
  const std::uint32_t count = element.GetChildCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const CXmlNode child = element.GetChild(i);
    const bool isElement = child.GetType() == XML_NODE_ELEMENT;
    const char16_t* tag = isElement && child.GetName() ? child.GetName() : u"";
    const char16_t* name = isElement ? GetAttributeText(child, u"Name") : nullptr;
    if (name) {
      const std::u16string_view t(tag);
      const CPropertyName key{std::u16string_view(name)};
      bool handled = true;
      if (t == u"Int") {
        std::int32_t v = 0;
        if (reader.ReadInt(child, v)) PrependIntProperty(list, key, v);
      } else if (t == u"String") {
        std::u16string v;
        if (reader.ReadString(child, v)) PrependStringProperty(list, key, std::move(v));
      } else if (t == u"Point") {
        CPropertyPair v;
        if (reader.ReadPoint(child, v)) PrependPairProperty(list, key, v.first, v.second);
      } else if (t == u"Rect") {
        CPropertyRect v;
        if (reader.ReadRect(child, v)) PrependRectProperty(list, key, v.left, v.top, v.right, v.bottom);
      } else if (t == u"Color") {
        std::int32_t v = 0;
        if (reader.ReadColor(child, v)) PrependIntProperty(list, key, v);
      } else if (t == u"Font") {
        plat::HFONT font = nullptr;
        if (reader.ReadFont(child, font) && font) PrependFontHandle(list, key, font);
      } else {
        handled = false;
      }
      if (handled) continue;
    }
    if (isElement) reader.OnOtherElement(tag, child, list);
  }
}

namespace {

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::shared_ptr<CBitmapBuffer> DecodeBitmapResource(const std::uint8_t* bytes, std::size_t length) {
  constexpr std::size_t kFileHeader = 14;
  constexpr std::size_t kInfoHeader = 40;
  if (!bytes || length < kFileHeader + kInfoHeader || bytes[0] != 'B' || bytes[1] != 'M') return {};
  const std::uint64_t dataOffset = Get32(bytes + 10);
  if (dataOffset > length || dataOffset < kFileHeader + kInfoHeader) return {};
  plat::BITMAPINFOHEADER header;
  std::memcpy(&header, bytes + kFileHeader, sizeof header);
  if (header.biSize < kInfoHeader || header.biSize > dataOffset - kFileHeader) return {};
  const int bpp = header.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return {};
  if (header.biCompression != plat::BI_RGB && header.biCompression != plat::BI_BITFIELDS) return {};
  if (header.biCompression == plat::BI_BITFIELDS && bpp != 16 && bpp != 32) return {};
  const std::int64_t width = header.biWidth;
  const std::int64_t signedHeight = header.biHeight;
  const std::int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
  if (width < 1 || height < 1 || width > kMaxResourceBitmapSide || height > kMaxResourceBitmapSide) return {};

  // The info block handed to the section: the header and what follows it up
  // to the pixels (colour table or masks), bounded to 256 entries.
  std::size_t tableBytes = 0;
  if (bpp <= 8) {
    std::uint64_t entries = header.biClrUsed ? header.biClrUsed : (1u << bpp);
    if (entries > (1u << bpp)) entries = 1u << bpp;
    tableBytes = static_cast<std::size_t>(entries) * 4;
    header.biClrUsed = static_cast<plat::DWORD>(entries);
  } else if (header.biCompression == plat::BI_BITFIELDS) {
    tableBytes = 12;
  }
  const std::uint64_t tableStart = kFileHeader + header.biSize;
  if (tableStart + tableBytes > dataOffset) return {};
  std::vector<std::uint8_t> info(sizeof(plat::BITMAPINFOHEADER) + 256 * 4 + 16, 0);
  header.biSize = kInfoHeader;
  header.biSizeImage = 0;
  std::memcpy(info.data(), &header, sizeof header);
  if (tableBytes) std::memcpy(info.data() + sizeof header, bytes + tableStart, tableBytes);

  void* bits = nullptr;
  plat::HBITMAP bitmap =
      plat::CreateDIBSection(nullptr, reinterpret_cast<const plat::BITMAPINFO*>(info.data()), plat::DIB_RGB_COLORS,
                             &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) plat::DeleteObject(bitmap);
    return {};
  }
  std::shared_ptr<CBitmapBuffer> buffer;
  try {
    buffer = std::make_shared<CBitmapBuffer>();
  } catch (const std::bad_alloc&) {
    plat::DeleteObject(bitmap);
    return {};
  }
  if (!buffer->AttachBitmap(bitmap, true)) return {};
  const std::uint64_t stride = static_cast<std::uint64_t>(CBitmapBuffer::StrideOf(bpp, static_cast<int>(width)));
  const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(height);
  const std::uint64_t available = length - dataOffset;
  const std::uint64_t copy = imageSize < available ? imageSize : available;
  std::memcpy(buffer->GetBits(), bytes + dataOffset, static_cast<std::size_t>(copy));
  return buffer;
}

std::u16string DecodeUtf8Resource(const std::uint8_t* bytes, std::size_t length) {
  if (!bytes) throw COrvException(ORV_E_LAYOUT);
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes += 3;
    length -= 3;
  }
  if (length == 0) return {};
  if (length > 0x7FFFFFFF) throw COrvException(plat::E_OUTOFMEMORY);
  const char* text = reinterpret_cast<const char*>(bytes);
  const int n = static_cast<int>(length);
  const int wide = plat::MultiByteToWideChar(plat::CP_UTF8, plat::MB_ERR_INVALID_CHARS, text, n, nullptr, 0);
  auto systemError = [] {
    const plat::DWORD error = plat::GetLastError();
    const plat::HRESULT code = static_cast<plat::HRESULT>(error) <= 0
                                   ? static_cast<plat::HRESULT>(error)
                                   : static_cast<plat::HRESULT>((error & 0xFFFFu) | 0x80070000u);
    return COrvException(code == 0 ? ORV_E_LAYOUT : code);
  };
  if (wide <= 0) throw systemError();
  std::u16string result;
  try {
    result.resize(static_cast<std::size_t>(wide));
  } catch (const std::bad_alloc&) {
    throw COrvException(plat::E_OUTOFMEMORY);
  }
  if (plat::MultiByteToWideChar(plat::CP_UTF8, plat::MB_ERR_INVALID_CHARS, text, n, result.data(), wide) != wide) throw systemError();
  return result;
}

int GetThemeBaseHue() {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Color", 0, plat::KEY_READ, &key) != 0)
    return -1;
  plat::DWORD type = 0;
  plat::DWORD value = 0;
  plat::DWORD size = sizeof value;
  const plat::LONG result =
      plat::RegQueryValueExW(key, u"BaseHue", nullptr, &type, reinterpret_cast<plat::BYTE*>(&value), &size);
  plat::RegCloseKey(key);
  if (result != 0 || type != plat::REG_DWORD || size != sizeof value) return -1;
  if ((value & 0xFF00u) == 0) return -1;
  const int hue = static_cast<int>(value & 0xFFu);
  return hue >= 240 ? hue - 40 : hue;
}
