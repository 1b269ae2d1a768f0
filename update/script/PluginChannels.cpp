#include "update/script/PluginChannels.h"
#include "platform/base/Text.h"

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "update/http/InetJob.h"
#include "update/script/TemplateNames.h"
#include "update/tidy/TidyDocument.h"
#include "update/http/TidyDownload.h"
#include "update/jobs/UpdateManager.h"

namespace {

constexpr char16_t kSchemeSeparator[] = u"://";
constexpr char16_t kNameSeparator[] = u"?name=";
constexpr char16_t kSchemeHttp[] = u"http";
constexpr char16_t kSchemeFile[] = u"file";
constexpr char16_t kPingParameter[] = u"ping=1";

// The name of a channel element: the plain text of its first "name" child.
bool GetChannelElementName(Tidy::Document* document, Tidy::Node* channel, std::u16string& name) {
  Tidy::Node* nameElement = channel->FindChildElement("name");
  if (!nameElement) return false;
  name = Tidy::GetNodeText(document, nameElement);
  return true;
}

// Reads the child elements of element: property elements are appended to
// their property; a channel element is read (recursively) only when it is the
// wanted channel, others are skipped with all their content.
void ReadElementProperties(Tidy::Document* document, Tidy::Node* element, const std::u16string& channelName,
                           CStringToStringMap& properties);

void ReadChannelElement(Tidy::Document* document, Tidy::Node* channel, const std::u16string& channelName,
                        CStringToStringMap& properties) {
  for (Tidy::Attribute* attribute = channel->FirstAttribute(); attribute; attribute = attribute->Next()) {
    if (attribute->Name().empty() || !attribute->HasValue()) continue;
    properties[std::u16string(kTemplateValuePrefix) + attribute->GetName()] = attribute->GetValue();
  }
  ReadElementProperties(document, channel, channelName, properties);
}

void ReadElementProperties(Tidy::Document* document, Tidy::Node* element, const std::u16string& channelName,
                           CStringToStringMap& properties) {
  for (Tidy::Node* child : element->Children()) {
    if (!child->IsElement() || child->Name().empty()) continue;
    if (child->NameIs("channel")) {
      std::u16string name;
      if (!GetChannelElementName(document, child, name)) continue;
      if (TrimSpace(name) == channelName) ReadChannelElement(document, child, channelName, properties);
      continue;
    }
    properties[child->GetName()] += Tidy::GetNodeText(document, child);
  }
}

}  // namespace

CPluginChannels& CPluginChannels::GetInstance() {
  static CPluginChannels instance;
  return instance;
}

std::u16string CPluginChannels::BuildChannelAddress(const std::u16string& scheme, const std::u16string& templatePart,
                                                    const std::u16string& name) {
  return scheme + kSchemeSeparator + templatePart + kNameSeparator + name;
}

bool CPluginChannels::SplitChannelAddress(const std::u16string& address, std::u16string& scheme,
                                          std::u16string& templatePart, std::u16string& name) {
  std::size_t separator = address.find(kSchemeSeparator);
  if (separator == std::u16string::npos) return false;
  std::size_t templateStart = separator + std::char_traits<char16_t>::length(kSchemeSeparator);
  std::size_t nameMark = address.find(kNameSeparator, templateStart);
  if (nameMark == std::u16string::npos) return false;
  std::u16string trimmed =
      TrimSpace(std::u16string_view(address).substr(nameMark + std::char_traits<char16_t>::length(kNameSeparator)));
  if (trimmed.empty()) return false;
  scheme = address.substr(0, separator);
  templatePart = address.substr(templateStart, nameMark - templateStart);
  name = std::move(trimmed);
  return true;
}

std::u16string CPluginChannels::GetChannelName(const std::u16string& address) {
  std::u16string scheme, templatePart, name;
  if (!SplitChannelAddress(address, scheme, templatePart, name)) return {};
  return name;
}

std::u16string CPluginChannels::GetChannelUrl(IChannel* channel) {
  if (!channel) return {};
  const CStringToStringMap& properties = channel->GetProperties();
  auto found = properties.find(kPropUrl);
  return found == properties.end() ? std::u16string() : found->second;
}

std::u16string CPluginChannels::GetTemplateDownloadAddress(const std::u16string& scheme,
                                                           const std::u16string& templatePart) {
  std::u16string address = scheme + kSchemeSeparator + templatePart;
  if (GetGlobalOptions().GetRSSReportingAllowed()) AppendUrlParameter(address, kPingParameter);
  return address;
}

Tidy::Node* CPluginChannels::FindTemplateElement(Tidy::Document* document) {
  if (!document || !document->GetRoot()) return nullptr;
  // The first element at the top level (after the XML declaration).
  for (Tidy::Node* child : document->GetRoot()->Children()) {
    if (!child->IsElement()) continue;
    return child->NameIs("template") ? child : nullptr;
  }
  return nullptr;
}

void CPluginChannels::ReadTemplate(Tidy::Document* document, const std::u16string& channelName,
                                   CStringToStringMap& properties) {
  properties.clear();
  Tidy::Node* templateElement = FindTemplateElement(document);
  if (!templateElement) return;
  ReadElementProperties(document, templateElement, channelName, properties);
}

bool CPluginChannels::EnumTemplateChannels(const std::u16string& templatePath, CStringList& addresses,
                                           CStringList& names) {
  addresses.clear();
  names.clear();
  if (templatePath.empty() || !FileExists(templatePath)) return false;
  Tidy::Document document;
  if (document.Init() != 0 || !Tidy::ParseLocalFile(templatePath, &document, std::u16string())) return false;
  Tidy::Node* templateElement = FindTemplateElement(&document);
  if (!templateElement) return false;
  CStringList foundAddresses;
  CStringList foundNames;
  for (Tidy::Node* child : templateElement->Children()) {
    if (!child->IsElement() || !child->NameIs("channel")) continue;
    std::u16string name;
    if (!GetChannelElementName(&document, child, name)) continue;
    foundAddresses.push_back(BuildChannelAddress(kSchemeFile, templatePath, name));
    foundNames.push_back(std::move(name));
  }
  addresses.swap(foundAddresses);
  names.swap(foundNames);
  return true;
}

IChannel* CPluginChannels::CreateChannel(const std::u16string& name, const std::u16string& address, bool isFeed) {
  if (address.empty() || name.empty()) return nullptr;
  CChannelSet* set = GetChannelSet();
  if (!set) return nullptr;
  IChannel* channel = nullptr;
  {
    CSyncLock lock(set, u"CPluginChannels::CreateChannel");
    channel = set->Add(name);
    if (!channel) return nullptr;
    CStringToStringMap properties;
    std::u16string url = address;
    if (!isFeed && url.find(kNameSeparator) == std::u16string::npos) url += kNameSeparator + name;
    properties[kPropUrl] = url;
    properties[kPropType] = isFeed ? kChannelTypeRss : kChannelTypeScript;
    channel->SetProperties(properties);
  }
  if (GetGlobalOptions().GetStartUpdateForAddedChannels()) CUpdateManager::GetInstance()->UpdateChannel(channel, 0);
  return channel;
}

int CPluginChannels::LoadTemplate(const std::u16string& address, CStringToStringMap& properties,
                                  CInetSession* session) {
  if (address.empty()) return kTemplateFailed;
  std::u16string scheme, templatePart, name;
  if (!SplitChannelAddress(address, scheme, templatePart, name)) return kTemplateFailed;

  Tidy::Document document;
  bool loaded = false;
  bool notFound = false;
  if (plat::EqualsNoCase(scheme, kSchemeHttp)) {
    if (document.Init() != 0) return kTemplateFailed;
    int result = Tidy::DownloadDocument(session, GetTemplateDownloadAddress(scheme, templatePart), &document,
                                        std::u16string(), nullptr);
    loaded = result == CInetJob::RESULT_SUCCESS;
    notFound = result == CInetJob::RESULT_NOT_FOUND;
  } else if (plat::EqualsNoCase(scheme, kSchemeFile)) {
    if (!templatePart.empty() && FileExists(templatePart)) {
      if (document.Init() != 0) return kTemplateFailed;
      loaded = Tidy::ParseLocalFile(templatePart, &document, std::u16string());
    } else {
      notFound = true;
    }
  } else {
    return kTemplateFailed;
  }
  if (!loaded) return notFound ? kTemplateNotFound : kTemplateFailed;

  ReadTemplate(&document, name, properties);
  auto url = properties.find(kPropTemplateUrl);
  if (url != properties.end() && properties.find(kPropThumbnail) == properties.end()) {
    std::u16string icon = Tidy::GetFaviconUrl(url->second);
    if (!icon.empty()) properties[kPropThumbnail] = icon;
  }
  return kTemplateLoaded;
}

void CPluginChannels::ApplyTemplateProperties(IChannel* channel, const CStringToStringMap& templateProperties,
                                              bool scripts) {
  if (!channel) return;
  CStringToStringMap properties = channel->GetProperties();
  CStringToStringMap incoming = templateProperties;
  if (properties.count(kPropThumbnail)) incoming.erase(kPropThumbnail);
  if (scripts) {
    for (const char16_t* script : {kPropParseArticle, kPropParseChannel}) {
      if (!incoming.count(script)) properties.erase(script);
    }
  }
  MergeMap(incoming, properties);
  channel->SetProperties(properties);
}
