// Layout packages: password-protected zip archives of layouts, pictures and
// the package index. A package object reads members by name; PackageResources
// keeps the index's named values and caches the pictures and texts that the
// screens ask for.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/PropertyValue.h"
#include "core/RefCounted.h"
#include "core/Unzippo.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/MaskedImage.h"

class IPropertySource;

// Members declared larger than this are refused before anything is allocated.
constexpr std::uint32_t kMaxPackageMemberSize = 16u * 1024u * 1024u;

// The bytes of one member.
struct PackageBlob {
  const std::uint8_t* data = nullptr;
  std::shared_ptr<std::vector<std::uint8_t>> buffer;
  std::size_t size = 0;
  bool Empty() const { return size == 0; }
};

class ResourcePackage : public CRefCounted {
 public:
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // An empty blob when the member is missing or cannot be read.
  virtual PackageBlob ReadFile(const std::u16string& name) = 0;
};

class ZipResourcePackage : public ResourcePackage {
 public:
  explicit ZipResourcePackage(std::u16string path) : path_(std::move(path)) {}
  bool Open() override;
  void Close() override;
  PackageBlob ReadFile(const std::u16string& name) override;
  const std::u16string& GetPath() const { return path_; }

 private:
  CUnzippo zip_;
  std::u16string path_;
};

class PackageResources : public CRefCounted {
 public:
  // Raises 0x84000001 without a package.
  explicit PackageResources(CRefPtr<ResourcePackage> package);

  // Counts one use; opens the package when asked (0x84000001 when it cannot
  // be opened, leaving no use counted) and loads the index when asked.
  bool Lock(bool loadIndex, bool openPackage);
  // Ends one use; the last one closes the package.
  void Unlock();
  // Reads "Index.xml" once; a missing index leaves the values empty.
  void LoadIndex();

  // A picture by member name, decoded; cached (failures too) when useCache.
  bool GetImage(const std::u16string& name, std::shared_ptr<CBitmapBuffer>& bitmap, bool useCache);
  // The picture and mask of a masked-image entry of the index; bit 0 of
  // required makes the picture required, bit 1 the mask.
  bool GetMaskedImage(const std::u16string& entryName, MaskedImage& image, bool useCache, int required);
  // The bytes of a member, read once and kept.
  bool GetTextResource(const std::u16string& name, PackageBlob& blob);

  // The index's named values.
  CPropertyList GetValues();
  std::int32_t GetLockCount();
  bool IsOpened();
  ResourcePackage* GetPackage() const { return package_.Get(); }

 private:
  ~PackageResources() override;
  friend class PackageIndexReader;

  struct ImageEntry {
    std::u16string name;
    std::shared_ptr<CBitmapBuffer> bitmap;
    bool valid = false;
  };
  struct MaskedEntry {
    std::u16string name;
    std::u16string picture;
    std::u16string mask;
  };
  struct TextEntry {
    std::u16string name;
    PackageBlob blob;
    bool loaded = false;
  };

  std::recursive_mutex lock_;
  CPropertyList values_;
  std::int32_t lockCount_ = 0;
  bool opened_ = false;
  bool indexLoaded_ = false;
  CRefPtr<ResourcePackage> package_;
  std::vector<ImageEntry> images_;
  std::vector<MaskedEntry> masked_;
  std::vector<TextEntry> texts_;
};

// A scoped use of a package.
class ResourceLock {
 public:
  ResourceLock(PackageResources* resources, bool loadIndex, bool openPackage);
  ~ResourceLock();
  ResourceLock(const ResourceLock&) = delete;
  ResourceLock& operator=(const ResourceLock&) = delete;

 private:
  CRefPtr<PackageResources> resources_;
};

// The look of list rows, from a plug-in's properties and its package.
struct ListItemStyle {
  std::int32_t itemHeight = 0;
  CPropertyRect icon;
  CPropertyPair textLeft;
  CPropertyPair textRight;
  std::int32_t counterWidth = 0;
  std::int32_t textColor = 0;
  std::int32_t selTextColor = 0;
  MaskedImage iconImage;

  void Load(IPropertySource* properties, PackageResources* resources);
};
