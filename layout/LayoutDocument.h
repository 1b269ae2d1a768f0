// Layout documents: named layouts, each an ordered list of plug-in entries
// with property lists, plus the rules that pick one; the reader that builds
// them from XML text; and the providers that load and cache documents and
// packages.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/PropertyValue.h"
#include "core/RefCounted.h"
#include "layout/LayoutRules.h"
#include "layout/LayoutServices.h"

class PackageResources;

// The package the layouts live in.
inline constexpr char16_t kLayoutPackageName[] = u"news_layouts";

class PluginEntry : public CRefCounted {
 public:
  explicit PluginEntry(std::u16string name) : name_(std::move(name)) {}
  // A copy shares the property list's current head; values added to the copy
  // afterwards are seen by the copy only.
  CRefPtr<PluginEntry> Copy() const;
  const std::u16string& GetName() const { return name_; }
  CPropertyList& GetProperties() { return properties_; }
  const CPropertyList& GetProperties() const { return properties_; }

 private:
  CPropertyList properties_;
  std::u16string name_;
};

class LayoutDefinition : public CRefCounted {
 public:
  explicit LayoutDefinition(std::u16string name) : name_(std::move(name)) {}
  const std::u16string& GetName() const { return name_; }
  std::vector<CRefPtr<PluginEntry>>& GetEntries() { return entries_; }
  const std::vector<CRefPtr<PluginEntry>>& GetEntries() const { return entries_; }
  std::int32_t GetScrollMode() const { return scrollMode_; }
  void SetScrollMode(std::int32_t mode) { scrollMode_ = mode; }

 private:
  std::u16string name_;
  std::vector<CRefPtr<PluginEntry>> entries_;
  std::int32_t scrollMode_ = 0;
};

class LayoutSet : public CRefCounted {
 public:
  std::vector<CRefPtr<LayoutDefinition>>& GetLayouts() { return layouts_; }
  const std::vector<CRefPtr<LayoutDefinition>>& GetLayouts() const { return layouts_; }

 private:
  std::vector<CRefPtr<LayoutDefinition>> layouts_;
};

class LayoutDocument : public CRefCounted {
 public:
  LayoutDocument(CRefPtr<LayoutSet> set, CRefPtr<RuleNode> rules) : set_(std::move(set)), rules_(std::move(rules)) {}
  const LayoutSet& GetSet() const { return *set_; }
  RuleNode* GetRules() const { return rules_.Get(); }

 private:
  CRefPtr<LayoutSet> set_;
  CRefPtr<RuleNode> rules_;
};

// The last layout of the set whose name equals name ignoring case, or null.
CRefPtr<LayoutDefinition> FindLayoutByName(const LayoutSet& set, std::u16string_view name);

// Parses a layout document. Raises COrvException: 0x84000001 for text that
// is not a well-formed document or holds bad values, 0x8007000E when memory
// runs out.
CRefPtr<LayoutDocument> ParseLayoutText(const std::u16string& text);

// Where a failed ParseLayoutText stopped: the 1-based line of the element
// read last (0 when unknown). For the packer's messages.
struct LayoutParseFailure {
  plat::HRESULT code = 0;
  int line = 0;
};
// ParseLayoutText that reports a failure instead of raising it; null then.
CRefPtr<LayoutDocument> ParseLayoutTextReporting(const std::u16string& text, LayoutParseFailure& failure);

// The folder of the layout packages, ending in "\": the folder set with
// SetLayoutFolder, else the installation folder, else the program's folder.
std::u16string GetLayoutFolder();
// An empty folder goes back to the default.
void SetLayoutFolder(const std::u16string& folder);

// Loads documents from the package "news_layouts" and keeps them.
class LayoutProvider : public ILayoutProviderService {
 public:
  CRefPtr<LayoutDocument> GetLayout(const std::u16string& name) override;

 private:
  struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
  };
  std::recursive_mutex lock_;
  std::map<std::u16string, CRefPtr<LayoutDocument>, NoCaseLess> cache_;
};

// Opens packages by name from the layout folder and keeps them.
class ResourcePackageProvider : public IResourcePackageProviderService {
 public:
  // folder: where the packages lie; empty takes GetLayoutFolder().
  explicit ResourcePackageProvider(std::u16string folder = {});
  CRefPtr<PackageResources> GetPackage(const std::u16string& name) override;
  // The folder, the shorter screen side and "_" before the file name.
  std::u16string GetSizedPackagePath(const std::u16string& file);
  std::u16string GetPlainPackagePath(const std::u16string& file);

 private:
  struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
  };
  std::recursive_mutex lock_;
  std::u16string folder_;
  std::u16string prefix_;
  std::map<std::u16string, CRefPtr<PackageResources>, NoCaseLess> cache_;
};
