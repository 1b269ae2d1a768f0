// Resource images: building and parsing them, registering them per module,
// and the platform's resource calls over them.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/base/Endian.h"
#include "platform/base/Text.h"
#include "platform/imaging/Imaging.h"
#include "platform/resources/ResourceImage.h"
#include "platform/resources/Resources.h"

namespace plat {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'R', 'E', 'S', '0', '1'};


void PutName(std::vector<unsigned char>& v, const ResName& n) {
  if (n.isId) {
    PutLe16(v, 0);
    PutLe16(v, n.id);
  } else {
    PutLe16(v, 1);
    PutLe16(v, static_cast<unsigned>(n.name.size()));
    for (char16_t c : n.name) PutLe16(v, c);
  }
}

bool SameName(const ResName& a, const ResName& b) {
  if (a.isId != b.isId) return false;
  return a.isId ? a.id == b.id : EqualsNoCase(a.name, b.name);
}

bool ReadName(const unsigned char* data, std::size_t size, std::size_t& pos, ResName& out) {
  if (pos + 4 > size) return false;
  unsigned kind = GetLe16(data + pos);
  unsigned v = GetLe16(data + pos + 2);
  pos += 4;
  if (kind == 0) {
    out = ResName::Id(static_cast<WORD>(v));
    return true;
  }
  if (kind != 1 || pos + 2ull * v > size) return false;
  std::u16string s;
  for (unsigned i = 0; i < v; ++i) s.push_back(static_cast<char16_t>(GetLe16(data + pos + 2 * i)));
  pos += 2ull * v;
  out = ResName::Named(std::move(s));
  return true;
}

}  // namespace

void ResourceImageBuilder::Add(ResName type, ResName name, std::string data) {
  items_.push_back(Item{std::move(type), std::move(name), std::move(data)});
}

bool ResourceImageBuilder::Build(std::vector<unsigned char>& out, std::string* error) const {
  std::vector<Item> items = items_;
  // String blocks of 16: each a counted string, empty for ids not defined.
  std::map<WORD, std::string> blocks;
  for (const auto& [id, text] : strings_) {
    WORD block = static_cast<WORD>((id >> 4) + 1);
    if (!blocks.count(block)) blocks[block] = std::string();
  }
  for (auto& [block, bytes] : blocks) {
    for (unsigned k = 0; k < 16; ++k) {
      unsigned id = (static_cast<unsigned>(block) - 1) * 16 + k;
      auto it = strings_.find(static_cast<WORD>(id));
      std::u16string text = it != strings_.end() ? it->second : std::u16string();
      std::vector<unsigned char> v;
      PutLe16(v, static_cast<unsigned>(text.size()));
      for (char16_t c : text) PutLe16(v, c);
      bytes.append(v.begin(), v.end());
    }
    items.push_back(Item{ResName::Id(6), ResName::Id(block), bytes});
  }
  for (std::size_t i = 0; i < items.size(); ++i)
    for (std::size_t j = i + 1; j < items.size(); ++j)
      if (SameName(items[i].type, items[j].type) && SameName(items[i].name, items[j].name)) {
        if (error) {
          std::string n = items[i].name.isId ? std::to_string(items[i].name.id) : Utf16ToUtf8(items[i].name.name);
          *error = "resource " + n + " defined twice";
        }
        return false;
      }
  out.assign(kMagic, kMagic + 8);
  PutLe32(out, static_cast<std::uint32_t>(items.size()));
  std::vector<std::size_t> offsetSlots;
  for (const Item& it : items) {
    PutName(out, it.type);
    PutName(out, it.name);
    offsetSlots.push_back(out.size());
    PutLe32(out, 0);
    PutLe32(out, static_cast<std::uint32_t>(it.data.size()));
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    while (out.size() % 8) out.push_back(0);
    SetLe32(out, offsetSlots[i], static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), items[i].data.begin(), items[i].data.end());
  }
  return true;
}

bool ParseResourceImage(const unsigned char* data, std::size_t size, std::vector<ResourceEntry>& entries) {
  entries.clear();
  if (!data || size < 12 || std::memcmp(data, kMagic, 8) != 0) return false;
  std::uint32_t count = GetLe32(data + 8);
  std::size_t pos = 12;
  if (count > size / 16) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    ResourceEntry e;
    if (!ReadName(data, size, pos, e.type) || !ReadName(data, size, pos, e.name) || pos + 8 > size) {
      entries.clear();
      return false;
    }
    std::uint32_t off = GetLe32(data + pos), len = GetLe32(data + pos + 4);
    pos += 8;
    if (off > size || len > size - off) {
      entries.clear();
      return false;
    }
    e.data = data + off;
    e.size = len;
    entries.push_back(std::move(e));
  }
  return true;
}

// ---------------------------------------------------------------------------
// Modules

namespace {

struct Module {
  std::u16string name;
  bool inProgram = false;
  std::vector<unsigned char> owned;
  std::vector<ResourceEntry> entries;
};

struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<Module>> registered;
  std::vector<std::pair<HINSTANCE, std::unique_ptr<Module>>> bound;
};

Registry& Reg() {
  static auto* r = new Registry();
  return *r;
}

bool InMainProgram(const void* p) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(p, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) return true;
  return map->l_name == nullptr || map->l_name[0] == '\0';
}

std::u16string BaseNameWithoutExtension(std::u16string path) {
  std::size_t cut = path.find_last_of(u"\\/");
  if (cut != std::u16string::npos) path = path.substr(cut + 1);
  std::size_t dot = path.rfind(u'.');
  if (dot != std::u16string::npos) path = path.substr(0, dot);
  return path;
}

const Module* FindModule(HINSTANCE h) {
  Registry& r = Reg();
  {
    std::lock_guard<std::mutex> g(r.mutex);
    for (auto& [handle, m] : r.bound)
      if (handle == h) return m.get();
  }
  bool program = h == nullptr || h == GetModuleHandleW(nullptr);
  std::u16string wanted;
  if (!program) {
    char16_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(h, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    wanted = BaseNameWithoutExtension(std::u16string(buf, n));
  }
  std::lock_guard<std::mutex> g(Reg().mutex);
  for (auto& m : r.registered) {
    if (program ? m->inProgram : (!m->inProgram && (EqualsNoCase(m->name, wanted) || EqualsNoCase(u"lib" + m->name, wanted))))
      return m.get();
  }
  return nullptr;
}

bool NameMatches(const ResName& n, const WCHAR* want) {
  if (IS_INTRESOURCE(want)) return n.isId && n.id == static_cast<WORD>(reinterpret_cast<std::uintptr_t>(want));
  std::u16string s(want);
  if (!s.empty() && s[0] == u'#') {
    // "#123" names resource 123.
    WORD v = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
      if (s[i] < u'0' || s[i] > u'9') return !n.isId && EqualsNoCase(n.name, s);
      v = static_cast<WORD>(v * 10 + (s[i] - u'0'));
    }
    return n.isId && n.id == v;
  }
  return !n.isId && EqualsNoCase(n.name, s);
}

// A packed DIB (header, colours, bits) as a DIB section.
HBITMAP BitmapFromPackedDib(const unsigned char* p, std::size_t size) {
  if (size < 40) return nullptr;
  std::uint32_t hs = GetLe32(p);
  if (hs < 40 || hs > size) return nullptr;
  BITMAPINFOHEADER h{};
  std::memcpy(&h, p, sizeof(h));
  h.biSize = sizeof(BITMAPINFOHEADER);
  std::size_t pos = hs;
  std::vector<unsigned char> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  std::size_t colours = 0;
  if (h.biBitCount <= 8) {
    colours = h.biClrUsed ? h.biClrUsed : (std::size_t{1} << h.biBitCount);
    if (colours > 256 || pos + colours * 4 > size) return nullptr;
    std::memcpy(info.data() + sizeof(h), p + pos, colours * 4);
    pos += colours * 4;
  } else if (h.biCompression == BI_BITFIELDS) {
    if (hs >= 52) {
      std::memcpy(info.data() + sizeof(h), p + 40, 12);
    } else {
      if (pos + 12 > size) return nullptr;
      std::memcpy(info.data() + sizeof(h), p + pos, 12);
      pos += 12;
    }
  }
  std::memcpy(info.data(), &h, sizeof(h));
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!b) return nullptr;
  DIBSECTION ds{};
  GetObjectW(b, sizeof(ds), &ds);
  std::size_t need = static_cast<std::size_t>(ds.dsBm.bmWidthBytes) * static_cast<std::size_t>(ds.dsBm.bmHeight);
  if (pos + need > size) {
    DeleteObject(b);
    return nullptr;
  }
  std::memcpy(bits, p + pos, need);
  return b;
}

int SystemIconSize() { return 32 * ScreenDpi() / 96; }

}  // namespace

bool RegisterResourceImage(const char16_t* moduleName, const unsigned char* data, std::size_t size) {
  auto m = std::make_unique<Module>();
  if (!ParseResourceImage(data, size, m->entries)) return false;
  m->name = moduleName ? moduleName : u"";
  m->inProgram = InMainProgram(data);
  std::lock_guard<std::mutex> g(Reg().mutex);
  Reg().registered.push_back(std::move(m));
  return true;
}

bool BindModuleResources(HINSTANCE module, std::vector<unsigned char> owned) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.mutex);
  r.bound.erase(std::remove_if(r.bound.begin(), r.bound.end(), [&](const auto& p) { return p.first == module; }),
                r.bound.end());
  if (owned.empty()) return true;
  auto m = std::make_unique<Module>();
  m->owned = std::move(owned);
  if (!ParseResourceImage(m->owned.data(), m->owned.size(), m->entries)) return false;
  r.bound.emplace_back(module, std::move(m));
  return true;
}

bool BindModuleResources(HINSTANCE module, const unsigned char* data, std::size_t size) {
  if (!data) return BindModuleResources(module, std::vector<unsigned char>());
  std::vector<ResourceEntry> check;
  if (!ParseResourceImage(data, size, check)) return false;
  return BindModuleResources(module, std::vector<unsigned char>(data, data + size));
}

HRSRC FindResourceW(HINSTANCE module, const WCHAR* name, const WCHAR* type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const Module* m = FindModule(module);
  if (!m) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  bool typeSeen = false;
  for (const ResourceEntry& e : m->entries) {
    if (!NameMatches(e.type, type)) continue;
    typeSeen = true;
    if (NameMatches(e.name, name)) return &e;
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HINSTANCE, HRSRC resource) { return resource ? resource->data : nullptr; }
const void* LockResource(HGLOBAL data) { return data; }
DWORD SizeofResource(HINSTANCE, HRSRC resource) { return resource ? resource->size : 0; }

int LoadStringW(HINSTANCE module, UINT id, WCHAR* buf, int cch) {
  if (!buf || cch < 0) return 0;
  if (cch > 0) buf[0] = 0;
  if (id > 0xFFFF) return 0;
  HRSRC r = FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1), RT_STRING);
  if (!r) return 0;
  const unsigned char* p = r->data;
  std::size_t pos = 0, size = r->size;
  for (unsigned k = 0; k < 16; ++k) {
    if (pos + 2 > size) return 0;
    unsigned len = GetLe16(p + pos);
    pos += 2;
    if (pos + 2ull * len > size) return 0;
    if (k == (id & 15)) {
      if (len == 0) return 0;
      if (cch == 0) {
        // The read-only text itself (entries are 8-aligned, strings 2-aligned).
        *reinterpret_cast<const WCHAR**>(buf) = reinterpret_cast<const WCHAR*>(p + pos);
        return static_cast<int>(len);
      }
      int n = std::min(static_cast<int>(len), cch - 1);
      std::memcpy(buf, p + pos, static_cast<std::size_t>(n) * 2);
      buf[n] = 0;
      return n;
    }
    pos += 2ull * len;
  }
  return 0;
}

void* LoadImageW(HINSTANCE module, const WCHAR* name, UINT type, int cx, int cy, UINT flags) {
  if (!name) return nullptr;
  if ((cx == 0 || cy == 0) && (flags & LR_DEFAULTSIZE)) {
    if (cx == 0) cx = SystemIconSize();
    if (cy == 0) cy = SystemIconSize();
  }
  if (flags & LR_LOADFROMFILE) {
    if (IS_INTRESOURCE(name)) return nullptr;
    std::vector<std::uint8_t> bytes;
    if (!ReadDeviceFile(name, bytes, kMaxImageFileBytes)) return nullptr;
    if (type == IMAGE_ICON || type == IMAGE_CURSOR) return CreateIconFromIcoData(bytes.data(), bytes.size(), cx, cy);
    if (type != IMAGE_BITMAP) return nullptr;
    DecodedImage img;
    if (!DecodeImage(bytes.data(), bytes.size(), img)) return nullptr;
    if (cx > 0 && cy > 0 && (cx != img.width || cy != img.height)) img = ScaleImage(img, cx, cy);
    return CreateDibFromImage(img, img.hasAlpha ? 32 : 24);
  }
  if (type == IMAGE_ICON || type == IMAGE_CURSOR) {
    HRSRC r = FindResourceW(module, name, RT_GROUP_ICON);
    if (!r) return nullptr;
    return CreateIconFromIcoData(r->data, r->size, cx, cy);
  }
  if (type == IMAGE_BITMAP) {
    HRSRC r = FindResourceW(module, name, RT_BITMAP);
    if (!r) return nullptr;
    return BitmapFromPackedDib(r->data, r->size);
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

HICON LoadIconW(HINSTANCE module, const WCHAR* name) {
  return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

HBITMAP LoadBitmapW(HINSTANCE module, const WCHAR* name) {
  return static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, 0));
}

}  // namespace plat
