#include "layout/LayoutPackage.h"

#include <new>

#include "core/OrvException.h"
#include "layout/ContentInterfaces.h"
#include "layout/PackagePassword.h"
#include "layout/ScreenScale.h"
#include "platform/base/CodePage.h"
#include "platform/base/Text.h"

namespace {

bool SameName(const std::u16string& a, const std::u16string& b) { return plat::EqualsNoCase(a, b); }

}  // namespace

// ---------------------------------------------------------------------------
// ZipResourcePackage

bool ZipResourcePackage::Open() {
  const char* password = layout_package::GetPackagePassword();
  if (path_.empty() || path_.size() >= 259) return false;
  zip_.Close();
  // A wrong password is refused here, not member by member later.
  if (!zip_.Open(path_.c_str(), password)) return false;
  if (zip_.CheckPassword()) return true;
  zip_.Close();
  return false;
}

void ZipResourcePackage::Close() { zip_.Close(); }

PackageBlob ZipResourcePackage::ReadFile(const std::u16string& name) {
  if (name.empty() || name.size() >= 260) return {};
  char ansi[600];
  const int n = plat::WideCharToMultiByte(plat::CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), ansi,
                                          static_cast<int>(sizeof ansi) - 1, nullptr, nullptr);
  if (n <= 0 || n >= 260) return {};
  ansi[n] = '\0';
  const std::uint32_t size = zip_.GetEntrySize(ansi);
  if (size == 0 || size > kMaxPackageMemberSize) return {};
  PackageBlob blob;
  try {
    blob.buffer = std::make_shared<std::vector<std::uint8_t>>(size);
  } catch (const std::bad_alloc&) {
    throw COrvException(plat::E_OUTOFMEMORY);
  }
  if (!zip_.ReadEntry(ansi, blob.buffer->data(), size) || zip_.GetLastError() != UNZ_OK) return {};
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
  explicit PackageIndexReader(PackageResources& resources) : LayoutDocumentReader(false), resources_(resources) {}

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
    resources_.masked_.insert(resources_.masked_.begin(),
                                PackageResources::MaskedEntry{name, image ? image : u"", mask ? mask : u""});
  }

 private:
  PackageResources& resources_;
};

// ---------------------------------------------------------------------------
// PackageResources

PackageResources::PackageResources(CRefPtr<ResourcePackage> package) : package_(std::move(package)) {
  if (!package_) throw COrvException(ORV_E_LAYOUT);
}

PackageResources::~PackageResources() {
  if (opened_) package_->Close();
}

bool PackageResources::Lock(bool loadIndex, bool openPackage) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  ++lockCount_;
  if (openPackage && !opened_) {
    bool opened = false;
    try {
      opened = package_->Open();
    } catch (...) {
      --lockCount_;
      throw;
    }
    if (!opened) {
      // A failed open leaves no use counted.
      --lockCount_;
      throw COrvException(ORV_E_LAYOUT);
    }
    opened_ = true;
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
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (lockCount_ > 0) --lockCount_;
  if (lockCount_ == 0 && opened_) {
    opened_ = false;
    package_->Close();
  }
}

std::int32_t PackageResources::GetLockCount() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return lockCount_;
}

bool PackageResources::IsOpened() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return opened_;
}

CPropertyList PackageResources::GetValues() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return values_;
}

void PackageResources::LoadIndex() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (indexLoaded_) return;
  indexLoaded_ = true;  // tried once, whatever comes of it
  PackageBlob blob;
  {
    ResourceLock use(this, false, true);
    blob = package_->ReadFile(u"Index.xml");
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
  CPropertyList values = values_;
  LayoutResourceParser(reader, item, values);
  values_ = values;
}

bool PackageResources::GetImage(const std::u16string& name, std::shared_ptr<CBitmapBuffer>& bitmap, bool useCache) {
  if (name.empty()) return false;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  ImageEntry* entry = nullptr;
  if (useCache) {
    for (ImageEntry& e : images_) {
      if (SameName(e.name, name)) {
        entry = &e;
        break;
      }
    }
    if (!entry) {
      images_.push_back(ImageEntry{name, nullptr, false});
      entry = &images_.back();
    }
    if (entry->valid) {
      bitmap = entry->bitmap;
      return bitmap != nullptr;
    }
  }
  std::shared_ptr<CBitmapBuffer> decoded;
  {
    ResourceLock use(this, false, true);
    PackageBlob blob = package_->ReadFile(name);
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
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const MaskedEntry* found = nullptr;
  for (const MaskedEntry& e : masked_) {
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
  std::lock_guard<std::recursive_mutex> hold(lock_);
  TextEntry* entry = nullptr;
  for (TextEntry& e : texts_) {
    if (SameName(e.name, name)) {
      entry = &e;
      break;
    }
  }
  if (!entry) {
    texts_.push_back(TextEntry{name, {}, false});
    entry = &texts_.back();
  }
  if (!entry->loaded) {
    PackageBlob read;
    {
      ResourceLock use(this, false, true);
      read = package_->ReadFile(name);
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
  resources_ = CRefPtr<PackageResources>(resources);
}

ResourceLock::~ResourceLock() {
  if (resources_) resources_->Unlock();
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
