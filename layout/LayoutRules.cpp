#include "layout/LayoutRules.h"

#include <cstdio>
#include <vector>

#include "core/DeviceInfo.h"
#include "core/FrameworkProperties.h"
#include "core/FrameworkServices.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/LayoutServices.h"
#include "layout/ResourceValues.h"
#include "layout/ScreenScale.h"
#include "platform/base/Text.h"

int RuleNode::Evaluate(IPropertySource* environment, std::u16string& name) {
  if (previous_ && previous_->Evaluate(environment, name)) return 1;
  if (!Test(environment)) return 0;
  if (consequence_) return consequence_->Evaluate(environment, name) ? 1 : 0;
  return 0;
}

bool ConditionRule::Test(IPropertySource* environment) {
  if (!environment) return false;
  std::u16string value;
  if (environment->GetString(name_.c_str(), &value) != plat::S_OK) return false;
  return value == value_;
}

bool ScreenConditionRule::Test(IPropertySource*) {
  const int cx = GetScreenWidthPixels();
  const int cy = GetScreenHeightPixels();
  if (width_ == cx && height_ == cy) return true;
  if (!IsPocketPC()) return false;
  return width_ == MulDivRound(cx, 96, GetScreenDpiX()) && height_ == MulDivRound(cy, 96, GetScreenDpiY());
}

PlatformConditionRule::PlatformConditionRule(CRefPtr<RuleNode> previous, const std::u16string& platform)
    : RuleNode(std::move(previous)) {
  matches_ = plat::EqualsNoCase(platform, IsPocketPC() ? u"PocketPC" : u"Smartphone");
}

namespace {

std::u16string AttributeOrEmpty(const CXmlNode& element, const char16_t* name) {
  const char16_t* text = GetAttributeText(element, name);
  return text ? std::u16string(text) : std::u16string();
}

std::int32_t AttributeNumber(const CXmlNode& element, const char16_t* name) {
  std::int32_t value = 0;
  ScanDecimal(GetAttributeText(element, name), value);
  return value;
}

}  // namespace

void ParseLayoutRule(const CXmlNode& element, RuleNode& node) {
  CRefPtr<RuleNode> last;
  const std::uint32_t count = element.GetChildCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const CXmlNode child = element.GetChild(i);
    if (child.GetType() != XML_NODE_ELEMENT || !child.GetName()) continue;
    NoteLayoutElement(child);
    const std::u16string_view tag(child.GetName());
    if (tag == u"UseLayout") {
      // Replaces the whole level; later children are not read.
      last = CRefPtr<RuleNode>(new UseLayoutRule(AttributeOrEmpty(child, u"Name")));
      break;
    }
    CRefPtr<RuleNode> made;
    if (tag == u"Default") {
      made = CRefPtr<RuleNode>(new DefaultRule(last));
    } else if (tag == u"Condition") {
      made = CRefPtr<RuleNode>(new ConditionRule(last, AttributeOrEmpty(child, u"Name"), AttributeOrEmpty(child, u"Value")));
    } else if (tag == u"ScreenCondition") {
      made = CRefPtr<RuleNode>(
          new ScreenConditionRule(last, AttributeNumber(child, u"Width"), AttributeNumber(child, u"Height")));
    } else if (tag == u"PlatformCondition") {
      made = CRefPtr<RuleNode>(new PlatformConditionRule(last, AttributeOrEmpty(child, u"Platform")));
    } else {
      continue;
    }
    last = made;
    ParseLayoutRule(child, *made);
  }
  node.SetConsequence(std::move(last));
}

CRefPtr<RuleNode> ParseLayoutRules(const CXmlNode& layoutsElement) {
  CRefPtr<RuleNode> root(new DefaultRule(nullptr));
  const CXmlNode rules = layoutsElement.FindDescendant(u"Rules");
  if (!rules.IsEmpty()) ParseLayoutRule(rules, *root);
  return root;
}

CPropertyList BuildPluginEnvironment() {
  CPropertyList list;
  plat::HKEY key = nullptr;
  const std::u16string path = GetProductRegistryKey() + u"\\PluginEnvironment";
  if (plat::RegCreateKeyExW(GetSettingsRootKey(), path.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == 0) {
    std::vector<std::uint8_t> data;
    for (plat::DWORD index = 0;; ++index) {
      char16_t name[260];
      plat::DWORD nameLength = 260;
      plat::DWORD type = 0;
      plat::DWORD size = 0;
      const plat::LONG result = plat::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
      if (result == plat::ERROR_MORE_DATA) continue;  // a name too long for the buffer: skip it
      if (result != 0) break;
      std::u16string text;
      if (type == plat::REG_SZ) {
        data.assign(static_cast<std::size_t>(size) + 2, 0);
        plat::DWORD got = size;
        nameLength = 260;
        if (plat::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &got) == 0) {
          const std::size_t chars = got / 2;
          const auto* wide = reinterpret_cast<const char16_t*>(data.data());
          std::size_t length = 0;
          while (length < chars && wide[length]) ++length;  // up to the terminator, if any
          text.assign(wide, length);
        }
      }
      PrependStringProperty(list, CPropertyName(std::u16string_view(name, nameLength)), std::move(text));
    }
    plat::RegCloseKey(key);
  }
  const int d = IsDoubleResolutionScreen() ? 2 : 1;
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"$cx")), GetScreenWidthPixels() / d);
  PrependIntProperty(list, CPropertyName(std::u16string_view(u"$cy")), GetScreenHeightPixels() / d);
  return list;
}

CRefPtr<LayoutDefinition> SelectLayout(const LayoutDocument& document) {
  CRefPtr<IPluginEnvironmentService> service = GetPluginEnvironmentService();
  CPropertyList environment = service ? service->BuildEnvironment() : BuildPluginEnvironment();
  CComRef<IPropertySource> view(new LayeredPropertySource(nullptr, environment));
  std::u16string name;
  RuleNode* root = document.GetRules();
  if (!root || !root->Evaluate(view.Get(), name)) return {};
  return FindLayoutByName(document.GetSet(), name);
}
