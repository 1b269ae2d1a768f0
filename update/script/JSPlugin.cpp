#include "update/script/JSPlugin.h"
#include "platform/base/Text.h"

#include <string_view>

#include "database/Channel.h"
#include "database/DataModel.h"
#include "update/jobs/BinaryJob.h"
#include "update/script/ChannelJob.h"
#include "update/feed/RSSChannelJob.h"
#include "update/jobs/UpdatersManager.h"

namespace {

CUpdateJob* CreateChannelJob(IChannel* channel) {
  const CStringToStringMap& properties = channel->GetProperties();
  auto type = properties.find(kPropType);
  std::u16string_view kind = type == properties.end() ? std::u16string_view() : std::u16string_view(type->second);
  if (plat::EqualsNoCase(kind, kChannelTypeRss)) return new CRSSChannelJob(channel, 0);
  auto templateType = properties.find(std::u16string(kTemplateValuePrefix) + u"type");
  if (templateType != properties.end() && plat::EqualsNoCase(templateType->second, u"RSS")) {
    return new CRSSChannelJob(channel, 1);
  }
  if (kind.empty() || plat::EqualsNoCase(kind, kChannelTypeScript)) return new CChannelJob(channel);
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
