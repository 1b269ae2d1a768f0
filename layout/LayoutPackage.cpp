#include "layout/LayoutPackage.h"

#include <new>

#include "core/OrvException.h"
#include "layout/ContentInterfaces.h"
#include "layout/PackagePassword.h"
#include "layout/UIToolkit.h"
#include "platform/base/CodePage.h"
#include "platform/base/Text.h"

namespace {

bool SameName(const std::u16string& a, const std::u16string& b) { return plat::EqualsNoCase(a, b); }

}  // namespace

// ---------------------------------------------------------------------------
// ZipResourcePackage

bool ZipResourcePackage::Open() {
  const char* password = layout_package::GetPackagePassword();
  if (m_path.empty() || m_path.size() >= 259) return false;
  m_zip.Close();
  // A wrong password is refused here, not member by member later.
  if (!m_zip.Open(m_path.c_str(), password)) return false;
  if (m_zip.CheckPassword()) return true;
  m_zip.Close();
  return false;
}

void ZipResourcePackage::Close() { m_zip.Close(); }

PackageBlob ZipResourcePackage::ReadFile(const std::u16string& name) {
  if (name.empty() || name.size() >= 260) return {};
  char ansi[600];
  const int n = plat::WideCharToMultiByte(plat::CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), ansi,
                                          static_cast<int>(sizeof ansi) - 1, nullptr, nullptr);
  if (n <= 0 || n >= 260) return {};
  ansi[n] = '\0';
  const std::uint32_t size = m_zip.GetEntrySize(ansi);
  if (size == 0 || size > kMaxPackageMemberSize) return {};
  PackageBlob blob;
  try {
    blob.buffer = std::make_shared<std::vector<std::uint8_t>>(size);
  } catch (const std::bad_alloc&) {
    throw COrvException(plat::E_OUTOFMEMORY);
  }
  if (!m_zip.ReadEntry(ansi, blob.buffer->data(), size) || m_zip.GetLastError() != UNZ_OK) return {};
  blob.data = blob.buffer->data();
  blob.size = size;
  return blob;
}

// ---------------------------------------------------------------------------
// The index reader: values as the layout reader reads them (never scaled),
// rectangles from "x,y,w,h" text, and "Bitmap" elements as masked-image
// entries.

class PackageIndexReader : public LayoutDocumentReader {
 public:
  explicit PackageIndexReader(PackageResources& resources) : LayoutDocumentReader(false), m_resources(resources) {}

  bool ReadRect(const CXmlNode& element, CPropertyRect& value) override {
    const char16_t* text = GetAttributeText(element, u"Value");
    return ParseRectText(text ? text : u"", value);
  }

  void OnOtherElement(const char16_t* tag, const CXmlNode& element, CPropertyList&) override {
    if (!tag || std::u16string_view(tag) != u"Bitmap") return;
    const char16_t* name = GetAttributeText(element, u"Name");
    if (!name || !*name) return;
    const char16_t* image = GetAttributeText(element, u"Image");
    const char16_t* mask = GetAttributeText(element, u"Mask");
    m_resources.m_masked.insert(m_resources.m_masked.begin(),
                                PackageResources::MaskedEntry{name, image ? image : u"", mask ? mask : u""});
  }

 private:
  PackageResources& m_resources;
};

// ---------------------------------------------------------------------------
// PackageResources

PackageResources::PackageResources(CRefPtr<ResourcePackage> package) : m_package(std::move(package)) {
  if (!m_package) throw COrvException(ORV_E_LAYOUT);
}

PackageResources::~PackageResources() {
  if (m_opened) m_package->Close();
}

bool PackageResources::Lock(bool loadIndex, bool openPackage) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  ++m_lockCount;
  if (openPackage && !m_opened) {
    bool opened = false;
    try {
      opened = m_package->Open();
    } catch (...) {
      --m_lockCount;
      throw;
    }
    if (!opened) {
      // A failed open leaves no use counted.
      --m_lockCount;
      throw COrvException(ORV_E_LAYOUT);
    }
    m_opened = true;
  }
  if (loadIndex) {
    try {
      LoadIndex();
    } catch (...) {
      Unlock();
      throw;
    }
  }
  return true;
}

void PackageResources::Unlock() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (m_lockCount > 0) --m_lockCount;
  if (m_lockCount == 0 && m_opened) {
    m_opened = false;
    m_package->Close();
  }
}

std::int32_t PackageResources::GetLockCount() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_lockCount;
}

bool PackageResources::IsOpened() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_opened;
}

CPropertyList PackageResources::GetValues() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_values;
}

void PackageResources::LoadIndex() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (m_indexLoaded) return;
  m_indexLoaded = true;  // tried once, whatever comes of it
  PackageBlob blob;
  {
    ResourceLock use(this, false, true);
    blob = m_package->ReadFile(u"Index.xml");
  }
  if (blob.Empty()) return;
  std::u16string text = DecodeUtf8Resource(blob.data, blob.size);
  std::unique_ptr<char16_t[]> buffer(new char16_t[text.size() + 1]);
  std::copy(text.begin(), text.end(), buffer.get());
  buffer[text.size()] = 0;
  CXmlDocument document;
  XmlDom::ParseDocument(document, buffer.get());
  CXmlNode root;
  const CXmlNode top = document.GetRoot();
  for (std::uint32_t i = 0; i < top.GetChildCount(); ++i) {
    if (top.GetChild(i).GetType() == XML_NODE_ELEMENT) {
      root = top.GetChild(i);
      break;
    }
  }
  if (root.IsEmpty()) throw COrvException(ORV_E_LAYOUT);
  CXmlNode item = std::u16string_view(root.GetName() ? root.GetName() : u"") == u"item" ? root : root.FindDescendant(u"item");
  if (item.IsEmpty()) return;
  PackageIndexReader reader(*this);
  CPropertyList values = m_values;
  LayoutResourceParser(reader, item, values);
  m_values = values;
}

bool PackageResources::GetImage(const std::u16string& name, std::shared_ptr<CBitmapBuffer>& bitmap, bool useCache) {
  if (name.empty()) return false;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  ImageEntry* entry = nullptr;
  if (useCache) {
    for (ImageEntry& e : m_images) {
      if (SameName(e.name, name)) {
        entry = &e;
        break;
      }
    }
    if (!entry) {
      m_images.push_back(ImageEntry{name, nullptr, false});
      entry = &m_images.back();
    }
    if (entry->valid) {
      bitmap = entry->bitmap;
      return bitmap != nullptr;
    }
  }
  std::shared_ptr<CBitmapBuffer> decoded;
  {
    ResourceLock use(this, false, true);
    PackageBlob blob = m_package->ReadFile(name);
    if (!blob.Empty()) decoded = DecodeBitmapResource(blob.data, blob.size);
  }
  if (entry) {
    entry->bitmap = decoded;
    entry->valid = true;
  }
  bitmap = decoded;
  return decoded != nullptr;
}

bool PackageResources::GetMaskedImage(const std::u16string& entryName, MaskedImage& image, bool useCache,
                                      int required) {
  ResourceLock use(this, false, false);
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const MaskedEntry* found = nullptr;
  for (const MaskedEntry& e : m_masked) {
    if (SameName(e.name, entryName)) {
      found = &e;
      break;
    }
  }
  if (!found) return false;
  const MaskedEntry entry = *found;
  MaskedImage result;
  if (!GetImage(entry.picture, result.picture, useCache) && (required & 1)) return false;
  if (!GetImage(entry.mask, result.mask, useCache) && (required & 2)) return false;
  image = std::move(result);
  return true;
}

bool PackageResources::GetTextResource(const std::u16string& name, PackageBlob& blob) {
  if (name.empty()) return false;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TextEntry* entry = nullptr;
  for (TextEntry& e : m_texts) {
    if (SameName(e.name, name)) {
      entry = &e;
      break;
    }
  }
  if (!entry) {
    m_texts.push_back(TextEntry{name, {}, false});
    entry = &m_texts.back();
  }
  if (!entry->loaded) {
    PackageBlob read;
    {
      ResourceLock use(this, false, true);
      read = m_package->ReadFile(name);
    }
    entry->blob = read;
    entry->loaded = true;
  }
  if (entry->blob.Empty()) return false;
  blob = entry->blob;
  return true;
}

// ---------------------------------------------------------------------------

ResourceLock::ResourceLock(PackageResources* resources, bool loadIndex, bool openPackage) {
  if (!resources) return;
  resources->Lock(loadIndex, openPackage);
  m_resources = CRefPtr<PackageResources>(resources);
}

ResourceLock::~ResourceLock() {
  if (m_resources) m_resources->Unlock();
}

void ListItemStyle::Load(IPropertySource* properties, PackageResources* resources) {
  const std::int32_t defaultHeight = (GetScreenDpiY() + 1) * 48 / 96;
  itemHeight = GetPairPropertyOr(properties, u"ItemHeight", 0, defaultHeight).second;
  const std::int32_t h = itemHeight;
  icon = GetRectPropertyOr(properties, u"Icon", 0, 0, h, h);
  textLeft = GetPairPropertyOr(properties, u"TextLeft", h, 0);
  textRight = GetPairPropertyOr(properties, u"TextRight", h / 2, 0);
  counterWidth = GetPairPropertyOr(properties, u"CounterWidth", h, 0).first;
  std::int32_t ownColour = 0xFFFFFF;
  if (!properties || properties->GetInt(PropertyKeyName(kKeyTextColor), &ownColour) != plat::S_OK) ownColour = 0xFFFFFF;
  CPropertyList values = resources ? resources->GetValues() : CPropertyList();
  textColor = ownColour;
  GetIntProperty(values, CPropertyName(std::u16string_view(u"TextColor")), textColor);
  selTextColor = textColor;
  GetIntProperty(values, CPropertyName(std::u16string_view(u"SelTextColor")), selTextColor);
  const std::u16string iconName = GetPropertyString(properties, u"IconImage", u"");
  if (!iconName.empty() && resources) {
    ResourceLock use(resources, true, false);
    resources->GetMaskedImage(iconName, iconImage, true, 0);
  }
}
