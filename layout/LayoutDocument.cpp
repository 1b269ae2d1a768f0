#include "layout/LayoutDocument.h"

#include <memory>
#include <new>

#include "core/DeviceInfo.h"
#include "core/FileUtils.h"
#include "core/OrvException.h"
#include "core/XmlDom.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/LayoutPackage.h"
#include "layout/ScreenScale.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"

CRefPtr<PluginEntry> PluginEntry::Copy() const {
  CRefPtr<PluginEntry> copy(new PluginEntry(name_));
  copy->properties_ = properties_;
  return copy;
}

CRefPtr<LayoutDefinition> FindLayoutByName(const LayoutSet& set, std::u16string_view name) {
  const auto& layouts = set.GetLayouts();
  for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) {
    if (plat::EqualsNoCase((*it)->GetName(), name)) return *it;
  }
  return {};
}

namespace {

CXmlNode FirstChildElement(const CXmlNode& parent, std::u16string_view tag) {
  const std::uint32_t count = parent.GetChildCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const CXmlNode child = parent.GetChild(i);
    if (child.GetType() == XML_NODE_ELEMENT && child.GetName() && tag == child.GetName()) return child;
  }
  return {};
}

// The entry of that name among the layout's entries (from the last), copied
// into its place so that a redeclaration changes this layout only; else a new
// entry over the document defaults.
CRefPtr<PluginEntry> GetOrAddPluginEntry(LayoutDefinition& layout, const std::u16string& name,
                                         const CPropertyList& defaults, std::vector<PluginEntry*>& owned) {
  auto& entries = layout.GetEntries();
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (plat::EqualsNoCase(entries[i]->GetName(), name)) {
      CRefPtr<PluginEntry> copy = entries[i]->Copy();
      entries[i] = copy;
      owned.push_back(copy.Get());
      return copy;
    }
  }
  CRefPtr<PluginEntry> entry(new PluginEntry(name));
  entry->GetProperties() = defaults;
  entries.push_back(entry);
  owned.push_back(entry.Get());
  return entry;
}

bool IsOwned(const std::vector<PluginEntry*>& owned, const PluginEntry* entry) {
  for (const PluginEntry* e : owned)
    if (e == entry) return true;
  return false;
}

// True when nothing but white space and comments (already parsed) follows.
bool OnlySpaceLeft(const char16_t* p) {
  if (!p) return true;
  for (; *p; ++p) {
    if (*p != u' ' && *p != u'\t' && *p != u'\r' && *p != u'\n') return false;
  }
  return true;
}

// A document holds one element and nothing but markup beside it.
bool WellFormedTop(const CXmlNode& top) {
  int elements = 0;
  for (std::uint32_t i = 0; i < top.GetChildCount(); ++i) {
    const CXmlNode child = top.GetChild(i);
    if (child.GetType() == XML_NODE_ELEMENT) ++elements;
    if (child.GetType() == XML_NODE_TEXT && child.GetValue() && !OnlySpaceLeft(child.GetValue())) return false;
  }
  return elements == 1;
}

CRefPtr<LayoutDocument> ParseDocumentTree(const CXmlDocument& document) {
  if (!WellFormedTop(document.GetRoot())) throw COrvException(ORV_E_LAYOUT);
  const CXmlNode layouts = FirstChildElement(document.GetRoot(), u"Layouts");
  if (layouts.IsEmpty()) throw COrvException(ORV_E_LAYOUT);
  const bool pocketPc = IsPocketPC();

  CPropertyList defaults;
  const CXmlNode general = FirstChildElement(layouts, u"General");
  if (!general.IsEmpty()) {
    LayoutDocumentReader reader(pocketPc);
    reader.ReadPluginElement(general, defaults);
  }
  std::int32_t scrollMode = 0;
  GetIntProperty(defaults, kKeyScrollY, scrollMode);

  CRefPtr<LayoutSet> set(new LayoutSet());
  const std::uint32_t count = layouts.GetChildCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const CXmlNode element = layouts.GetChild(i);
    if (element.GetType() != XML_NODE_ELEMENT || !element.GetName() || std::u16string_view(element.GetName()) != u"Layout")
      continue;
    NoteLayoutElement(element);
    const char16_t* name = GetAttributeText(element, u"Name");
    CRefPtr<LayoutDefinition> layout(new LayoutDefinition(name ? name : u""));
    set->GetLayouts().push_back(layout);
    layout->SetScrollMode(scrollMode);
    std::int32_t dontScale = 0;
    ScanDecimal(GetAttributeText(element, u"DontScale"), dontScale);
    LayoutDocumentReader reader(pocketPc && dontScale == 0);

    CPropertyList layoutDefaults;
    const CXmlNode layoutGeneral = FirstChildElement(element, u"General");
    if (!layoutGeneral.IsEmpty()) reader.ReadPluginElement(layoutGeneral, layoutDefaults);

    std::vector<PluginEntry*> owned;  // entries this layout made or copied
    for (std::uint32_t k = 0; k < element.GetChildCount(); ++k) {
      const CXmlNode plugins = element.GetChild(k);
      if (plugins.GetType() != XML_NODE_ELEMENT || !plugins.GetName() ||
          std::u16string_view(plugins.GetName()) != u"Plugins")
        continue;
      NoteLayoutElement(plugins);
      if (const char16_t* extends = GetAttributeText(plugins, u"Extends")) {
        if (CRefPtr<LayoutDefinition> base = FindLayoutByName(*set, extends)) {
          if (base.Get() != layout.Get()) {
            for (const auto& entry : base->GetEntries()) layout->GetEntries().push_back(entry);
          } else {
            const auto copy = layout->GetEntries();
            for (const auto& entry : copy) layout->GetEntries().push_back(entry);
          }
        }
      }
      for (std::uint32_t p = 0; p < plugins.GetChildCount(); ++p) {
        const CXmlNode plugin = plugins.GetChild(p);
        if (plugin.GetType() != XML_NODE_ELEMENT || !plugin.GetName() || std::u16string_view(plugin.GetName()) != u"Plugin")
          continue;
        const char16_t* pluginName = GetAttributeText(plugin, u"Name");
        if (!pluginName) continue;
        NoteLayoutElement(plugin);
        CRefPtr<PluginEntry> entry = GetOrAddPluginEntry(*layout, pluginName, defaults, owned);
        PrependStringProperty(entry->GetProperties(), kKeyName, pluginName);
        reader.ReadPluginElement(plugin, entry->GetProperties());
      }
    }

    if (layoutDefaults) {
      auto& entries = layout->GetEntries();
      for (std::size_t e = entries.size(); e-- > 0;) {
        // An entry shared with its base layout is copied first, so linking
        // this layout's defaults never changes the base.
        if (!IsOwned(owned, entries[e].Get())) {
          entries[e] = entries[e]->Copy();
          owned.push_back(entries[e].Get());
        }
        CPropertyList& list = entries[e]->GetProperties();
        if (!list) {
          list = layoutDefaults;
        } else {
          PrependNestedList(list, layoutDefaults);
        }
      }
    }
  }
  CRefPtr<RuleNode> rules = ParseLayoutRules(layouts);
  return CRefPtr<LayoutDocument>(new LayoutDocument(set, rules));
}

int LineOf(const char16_t* text, const char16_t* position) {
  if (!text || !position || position < text) return 0;
  int line = 1;
  for (const char16_t* p = text; p < position && *p; ++p)
    if (*p == u'\n') ++line;
  return line;
}

}  // namespace

CRefPtr<LayoutDocument> ParseLayoutTextReporting(const std::u16string& text, LayoutParseFailure& failure) {
  failure = LayoutParseFailure{};
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[text.size() + 1]);
  if (!buffer) {
    failure.code = plat::E_OUTOFMEMORY;
    return {};
  }
  std::copy(text.begin(), text.end(), buffer.get());
  buffer[text.size()] = 0;
  // The parser writes terminators into its copy of the text; positions in it
  // are found in the caller's text by their offset.
  CXmlDocument document;
  ClearLayoutElementPosition();
  const char16_t* stop = XmlDom::ParseDocument(document, buffer.get());
  if (!stop || !OnlySpaceLeft(stop) || text.find(u'\0') != std::u16string::npos) {
    failure.code = ORV_E_LAYOUT;
    failure.line = stop ? LineOf(text.c_str(), text.c_str() + (stop - buffer.get())) : 0;
    return {};
  }
  try {
    return ParseDocumentTree(document);
  } catch (const COrvException& e) {
    failure.code = e.GetCode();
  } catch (const std::bad_alloc&) {
    failure.code = plat::E_OUTOFMEMORY;
  }
  const char16_t* at = LastLayoutElementPosition();
  if (at && at >= buffer.get() && at <= buffer.get() + text.size())
    failure.line = LineOf(text.c_str(), text.c_str() + (at - buffer.get()));
  return {};
}

CRefPtr<LayoutDocument> ParseLayoutText(const std::u16string& text) {
  LayoutParseFailure failure;
  CRefPtr<LayoutDocument> document = ParseLayoutTextReporting(text, failure);
  if (!document) throw COrvException(failure.code ? failure.code : ORV_E_LAYOUT);
  return document;
}

// ---------------------------------------------------------------------------
// Folders

namespace {

std::mutex g_folderLock;
std::u16string g_explicitFolder;

std::u16string WithBackslash(std::u16string folder) {
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';
  return folder;
}

}  // namespace

void SetLayoutFolder(const std::u16string& folder) {
  std::lock_guard<std::mutex> hold(g_folderLock);
  g_explicitFolder = folder;
}

std::u16string GetLayoutFolder() {
  {
    std::lock_guard<std::mutex> hold(g_folderLock);
    if (!g_explicitFolder.empty()) return WithBackslash(g_explicitFolder);
  }
  std::u16string folder = GetInstallFolder(true);
  if (folder.empty()) {
    char16_t path[260] = {};
    const plat::DWORD n = plat::GetModuleFileNameW(nullptr, path, 260);
    folder.assign(path, n < 260 ? n : 259);
    const std::size_t slash = folder.rfind(u'\\');
    folder = slash == std::u16string::npos ? std::u16string() : folder.substr(0, slash);
  }
  return WithBackslash(folder);
}

// ---------------------------------------------------------------------------
// Providers

bool LayoutProvider::NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return plat::CompareNoCase(a, b) < 0;
}

bool ResourcePackageProvider::NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return plat::CompareNoCase(a, b) < 0;
}

CRefPtr<LayoutDocument> LayoutProvider::GetLayout(const std::u16string& name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = cache_.find(name);
  if (it != cache_.end()) return it->second;
  CRefPtr<IResourcePackageProviderService> packages = GetResourcePackageProvider();
  if (!packages) throw COrvException(ORV_E_LAYOUT);
  CRefPtr<PackageResources> package = packages->GetPackage(kLayoutPackageName);
  if (!package) throw COrvException(ORV_E_LAYOUT);
  PackageBlob blob;
  {
    ResourceLock use(package.Get(), false, true);
    if (!package->GetTextResource(name + u".xml", blob)) throw COrvException(ORV_E_LAYOUT);
  }
  CRefPtr<LayoutDocument> document = ParseLayoutText(DecodeUtf8Resource(blob.data, blob.size));
  cache_.emplace(name, document);
  return document;
}

ResourcePackageProvider::ResourcePackageProvider(std::u16string folder) : folder_(std::move(folder)) {}

std::u16string ResourcePackageProvider::GetSizedPackagePath(const std::u16string& file) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (prefix_.empty()) {
    if (folder_.empty()) folder_ = GetLayoutFolder();
    folder_ = WithBackslash(folder_);
    const int cx = GetScreenWidthPixels();
    const int cy = GetScreenHeightPixels();
    const int side = cy > cx ? cx : cy;
    std::string digits = std::to_string(side);
    prefix_ = folder_ + std::u16string(digits.begin(), digits.end()) + u"_";
  }
  return prefix_ + file;
}

std::u16string ResourcePackageProvider::GetPlainPackagePath(const std::u16string& file) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (folder_.empty()) folder_ = GetLayoutFolder();
  return WithBackslash(folder_) + file;
}

CRefPtr<PackageResources> ResourcePackageProvider::GetPackage(const std::u16string& name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = cache_.find(name);
  if (it != cache_.end()) return it->second;
  const std::u16string file = name + u".dat";
  std::u16string path = GetSizedPackagePath(file);
  if (plat::GetFileAttributesW(path.c_str()) == plat::INVALID_FILE_ATTRIBUTES) path = GetPlainPackagePath(file);
  CRefPtr<ResourcePackage> package(new ZipResourcePackage(path));
  CRefPtr<PackageResources> resources(new PackageResources(package));
  cache_.emplace(name, resources);
  return resources;
}
