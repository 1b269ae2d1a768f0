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
  explicit PluginEntry(std::u16string name) : m_name(std::move(name)) {}
  // A copy shares the property list's current head; values added to the copy
  // afterwards are seen by the copy only.
  CRefPtr<PluginEntry> Copy() const;
  const std::u16string& GetName() const { return m_name; }
  CPropertyList& GetProperties() { return m_properties; }
  const CPropertyList& GetProperties() const { return m_properties; }

 private:
  CPropertyList m_properties;
  std::u16string m_name;
};

class LayoutDefinition : public CRefCounted {
 public:
  explicit LayoutDefinition(std::u16string name) : m_name(std::move(name)) {}
  const std::u16string& GetName() const { return m_name; }
  std::vector<CRefPtr<PluginEntry>>& GetEntries() { return m_entries; }
  const std::vector<CRefPtr<PluginEntry>>& GetEntries() const { return m_entries; }
  std::int32_t GetScrollMode() const { return m_scrollMode; }
  void SetScrollMode(std::int32_t mode) { m_scrollMode = mode; }

 private:
  std::u16string m_name;
  std::vector<CRefPtr<PluginEntry>> m_entries;
  std::int32_t m_scrollMode = 0;
};

class LayoutSet : public CRefCounted {
 public:
  std::vector<CRefPtr<LayoutDefinition>>& GetLayouts() { return m_layouts; }
  const std::vector<CRefPtr<LayoutDefinition>>& GetLayouts() const { return m_layouts; }

 private:
  std::vector<CRefPtr<LayoutDefinition>> m_layouts;
};

class LayoutDocument : public CRefCounted {
 public:
  LayoutDocument(CRefPtr<LayoutSet> set, CRefPtr<RuleNode> rules) : m_set(std::move(set)), m_rules(std::move(rules)) {}
  const LayoutSet& GetSet() const { return *m_set; }
  RuleNode* GetRules() const { return m_rules.Get(); }

 private:
  CRefPtr<LayoutSet> m_set;
  CRefPtr<RuleNode> m_rules;
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
  std::recursive_mutex m_lock;
  std::map<std::u16string, CRefPtr<LayoutDocument>, NoCaseLess> m_cache;
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
  std::recursive_mutex m_lock;
  std::u16string m_folder;
  std::u16string m_prefix;
  std::map<std::u16string, CRefPtr<PackageResources>, NoCaseLess> m_cache;
};
