#include "update/JSPlugin.h"

#include <string_view>

#include "database/Channel.h"
#include "database/DataModel.h"
#include "update/BinaryJob.h"
#include "update/ChannelJob.h"
#include "update/RSSChannelJob.h"
#include "update/UpdatersManager.h"

namespace {

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    char16_t y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

CUpdateJob* CreateChannelJob(IChannel* channel) {
  const CStringToStringMap& properties = channel->GetProperties();
  auto type = properties.find(kPropType);
  std::u16string_view kind = type == properties.end() ? std::u16string_view() : std::u16string_view(type->second);
  if (EqualsIgnoringCase(kind, kChannelTypeRss)) return new CRSSChannelJob(channel, 0);
  auto templateType = properties.find(std::u16string(kTemplateValuePrefix) + u"type");
  if (templateType != properties.end() && EqualsIgnoringCase(templateType->second, u"RSS")) {
    return new CRSSChannelJob(channel, 1);
  }
  if (kind.empty() || EqualsIgnoringCase(kind, kChannelTypeScript)) return new CChannelJob(channel);
  return nullptr;
}

}  // namespace

CJSPlugin* CJSPlugin::GetInstance() {
  static CJSPlugin instance;
  return &instance;
}

CUpdateJob* CJSPlugin::CreateJob(IUpdateItem* item) {
  if (!item) return nullptr;
  if (auto* channel = dynamic_cast<IChannel*>(item)) return CreateChannelJob(channel);
  if (auto* article = dynamic_cast<IArticle*>(item)) return new CArticleJob(article);
  if (auto* binary = dynamic_cast<IBinary*>(item)) return new CBinaryJob(binary);
  return nullptr;
}

void RegisterScriptUpdater() { CUpdatersManager::GetInstance().AddUpdater(CJSPlugin::GetInstance()); }

void UnregisterScriptUpdater() { CUpdatersManager::GetInstance().RemoveUpdater(CJSPlugin::GetInstance()); }
