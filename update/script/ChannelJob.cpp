#include "update/script/ChannelJob.h"
#include "platform/base/Text.h"

#include <cmath>
#include <utility>
#include <vector>

#include "core/DebugLog.h"
#include "core/Md5.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "database/ChannelOptions.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/GlobalOptions.h"
#include "update/script/PluginChannels.h"
#include "update/script/ScriptDocumentModel.h"
#include "update/script/TemplateNames.h"
#include "update/tidy/TidyDocument.h"

namespace {

// Milliseconds from 1601 to 1970.
constexpr double kEpochDifferenceMs = 11644473600000.0;
// The largest date (in ms since 1970) that still fits a FILETIME.
constexpr double kLatestDateMs = 922337203685477.0 - kEpochDifferenceMs;
// Elements of channel.articles looked at, at most: a longer (or sparse)
// array is cut, so a script cannot keep the worker busy outside its budget.
constexpr std::size_t kMaxScriptArticles = 100000;
// Where the job keeps the engine's own Date.prototype.getTime, which tells
// a Date object from any other (a script may replace the public one).
constexpr const char* kDateGetTimeKey = "orvDateGetTime";

void Log(const char16_t* text) noexcept {
  try {
    CDebugLog::GetInstance().WriteLine(text);
  } catch (...) {
  }
}

template <class... Args>
void LogF(const char16_t* format, Args... args) noexcept {
  try {
    CDebugLog::GetInstance().Printf(format, args...);
  } catch (...) {
  }
}

const std::u16string* FindProperty(const CStringToStringMap& map, const char16_t* name) {
  auto found = map.find(name);
  return found == map.end() ? nullptr : &found->second;
}

// Takes a property out of the map; empty when absent.
std::u16string TakeProperty(CStringToStringMap& map, const char16_t* name) {
  auto found = map.find(name);
  if (found == map.end()) return {};
  std::u16string value = std::move(found->second);
  map.erase(found);
  return value;
}

std::u16string GetProperty(const CStringToStringMap& map, const char16_t* name) {
  const std::u16string* value = FindProperty(map, name);
  return value ? *value : std::u16string();
}

// The key of an id text: the text itself when it is already a digest.
std::u16string KeyOf(const std::u16string& text) { return IsHexDigest(text) ? text : GetMd5Hex(text); }

plat::FILETIME FileTimeFromScriptDate(double ms) {
  plat::FILETIME time{};
  if (!(ms > 0) || !(ms <= kLatestDateMs)) return time;
  std::uint64_t ticks = static_cast<std::uint64_t>(std::floor(ms) + kEpochDifferenceMs) * 10000ULL;
  time.dwLowDateTime = static_cast<plat::DWORD>(ticks & 0xFFFFFFFFULL);
  time.dwHighDateTime = static_cast<plat::DWORD>(ticks >> 32);
  return time;
}

bool IsZero(const plat::FILETIME& time) { return time.dwLowDateTime == 0 && time.dwHighDateTime == 0; }

// ---- Between the job and the engine ----------------------------------------------
//
// The bodies below run as protected calls: they hold no object with a
// destructor, and the C++ work they need (strings, containers) happens in
// noexcept helpers that record a failure instead of throwing.

struct ScriptArticleData {
  CStringToStringMap properties;
  double dateMs = 0;
};

struct ObjectBuildData {
  // Property texts already in the engine's form.
  std::vector<std::pair<std::string, std::string>> properties;
  const char* globalName = nullptr;
  bool article = false;  // an Article object (with "updated" = "1"), else channel + articles
};

struct ReadBackData {
  bool wantChannel = false;   // read the channel's properties
  bool wantArticles = false;  // read channel.articles
  bool wantArticle = false;   // read the global article
  // Results.
  bool channelIsObject = false;
  bool articlesIsObject = false;
  bool articleIsArticle = false;
  bool truncated = false;
  bool cxxFailed = false;
  std::vector<std::pair<std::u16string, std::u16string>> channelStrings;
  std::vector<std::u16string> nonStringNames;
  std::vector<ScriptArticleData> articles;
};

std::u16string TextAt(duk_context* ctx, duk_idx_t idx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, idx, &length);
  return FromScriptText(std::string_view(text ? text : "", text ? length : 0));
}

void AddChannelString(ReadBackData* data, duk_context* ctx, duk_idx_t key, duk_idx_t value) noexcept {
  try {
    data->channelStrings.emplace_back(TextAt(ctx, key), TextAt(ctx, value));
  } catch (...) {
    data->cxxFailed = true;
  }
}

void AddNonStringName(ReadBackData* data, duk_context* ctx, duk_idx_t key) noexcept {
  try {
    data->nonStringNames.push_back(TextAt(ctx, key));
  } catch (...) {
    data->cxxFailed = true;
  }
}

ScriptArticleData* NewArticle(ReadBackData* data) noexcept {
  try {
    data->articles.emplace_back();
    return &data->articles.back();
  } catch (...) {
    data->cxxFailed = true;
    return nullptr;
  }
}

void AddArticleText(ReadBackData* data, ScriptArticleData* article, duk_context* ctx, duk_idx_t key,
                    duk_idx_t value) noexcept {
  try {
    article->properties[TextAt(ctx, key)] = TextAt(ctx, value);
  } catch (...) {
    data->cxxFailed = true;
  }
}

bool KeyIsDate(duk_context* ctx, duk_idx_t key) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, key, &length);
  if (!text || length != 4) return false;
  for (int i = 0; i < 4; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != "date"[i]) return false;
  }
  return true;
}

// The time value of the Date object at idx, or 0 when it is no Date.
double ScriptDateValue(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return 0;
  idx = duk_normalize_index(ctx, idx);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kDateGetTimeKey);
  duk_remove(ctx, -2);
  if (!duk_is_function(ctx, -1)) {
    duk_pop(ctx);
    return 0;
  }
  duk_dup(ctx, idx);
  double value = 0;
  if (duk_pcall_method(ctx, 0) == DUK_EXEC_SUCCESS && duk_is_number(ctx, -1)) value = duk_get_number(ctx, -1);
  duk_pop(ctx);
  return value;
}

// Converts the article object at idx: its enumerable properties, "date"
// from a Date object only, strings and numbers as text.
void ConvertArticle(duk_context* ctx, duk_idx_t idx, ReadBackData* data) {
  idx = duk_normalize_index(ctx, idx);
  ScriptArticleData* article = NewArticle(data);
  if (!article) return;
  duk_enum(ctx, idx, 0);
  while (duk_next(ctx, -1, 1)) {
    duk_idx_t key = duk_get_top_index(ctx) - 1;
    duk_idx_t value = key + 1;
    if (KeyIsDate(ctx, key)) {
      article->dateMs = ScriptDateValue(ctx, value);
    } else if (duk_is_string(ctx, value) || duk_is_number(ctx, value)) {
      duk_dup(ctx, value);
      duk_to_string(ctx, -1);
      AddArticleText(data, article, ctx, key, duk_get_top_index(ctx));
      duk_pop(ctx);
    }
    duk_pop_2(ctx);
  }
  duk_pop(ctx);
}

duk_ret_t BuildObjectBody(duk_context* ctx, void* raw) {
  ObjectBuildData* data = static_cast<ObjectBuildData*>(raw);
  // Keep the engine's own getTime before any script runs.
  duk_push_global_stash(ctx);
  if (!duk_has_prop_string(ctx, -1, kDateGetTimeKey)) {
    duk_get_global_string(ctx, "Date");
    duk_get_prop_string(ctx, -1, "prototype");
    duk_get_prop_string(ctx, -1, "getTime");
    duk_put_prop_string(ctx, -4, kDateGetTimeKey);
    duk_pop_2(ctx);
  }
  duk_pop(ctx);

  if (data->article) {
    PushArticleObject(ctx);
  } else {
    duk_push_object(ctx);
  }
  duk_idx_t object = duk_get_top_index(ctx);
  for (const auto& property : data->properties) {
    duk_push_lstring(ctx, property.second.data(), property.second.size());
    duk_put_prop_lstring(ctx, object, property.first.data(), property.first.size());
  }
  if (data->article) {
    duk_push_string(ctx, "1");
    duk_put_prop_string(ctx, object, "updated");
  } else {
    duk_push_array(ctx);
    duk_put_prop_string(ctx, object, "articles");
  }
  duk_put_global_string(ctx, data->globalName);
  return 0;
}

duk_ret_t ReadBackBody(duk_context* ctx, void* raw) {
  ReadBackData* data = static_cast<ReadBackData*>(raw);
  if (data->wantArticle) {
    duk_get_global_string(ctx, "article");
    data->articleIsArticle = IsArticleObject(ctx, -1);
    if (data->articleIsArticle) ConvertArticle(ctx, -1, data);
    duk_pop(ctx);
    return 0;
  }
  duk_get_global_string(ctx, "channel");
  duk_idx_t channel = duk_get_top_index(ctx);
  data->channelIsObject = duk_is_object(ctx, channel);
  if (!data->channelIsObject) return 0;
  if (data->wantChannel) {
    duk_enum(ctx, channel, 0);
    while (duk_next(ctx, -1, 1)) {
      duk_idx_t key = duk_get_top_index(ctx) - 1;
      duk_size_t length = 0;
      const char* name = duk_get_lstring(ctx, key, &length);
      bool isArticles = name && std::string_view(name, length) == "articles";
      if (!isArticles) {
        if (duk_is_string(ctx, key + 1)) {
          AddChannelString(data, ctx, key, key + 1);
        } else {
          AddNonStringName(data, ctx, key);
        }
      }
      duk_pop_2(ctx);
    }
    duk_pop(ctx);
  }
  if (data->wantArticles) {
    duk_get_prop_string(ctx, channel, "articles");
    duk_idx_t articles = duk_get_top_index(ctx);
    data->articlesIsObject = duk_is_object(ctx, articles);
    if (data->articlesIsObject) {
      duk_size_t count = duk_get_length(ctx, articles);
      if (count > kMaxScriptArticles) {
        count = kMaxScriptArticles;
        data->truncated = true;
      }
      for (duk_size_t i = 0; i < count && !data->cxxFailed; ++i) {
        duk_get_prop_index(ctx, articles, static_cast<duk_uarridx_t>(i));
        if (duk_is_object(ctx, -1)) ConvertArticle(ctx, -1, data);
        duk_pop(ctx);
      }
    }
    duk_pop(ctx);
  }
  return 0;
}

// Engine-form copies of a property map.
bool ToScriptProperties(const CStringToStringMap& map, ObjectBuildData& data) noexcept {
  try {
    data.properties.reserve(map.size());
    for (const auto& entry : map) data.properties.emplace_back(ToScriptText(entry.first), ToScriptText(entry.second));
    return true;
  } catch (...) {
    return false;
  }
}

// The data-bank lock, then the job's own lock.
class JobLocks {
 public:
  JobLocks(IChannelSet* set, CSynchronized* job) : db_(set, u"CChannelJob"), job_(job, u"CChannelJob") {}

 private:
  CSyncLock db_;
  CSyncLock job_;
};

}  // namespace

// ---- CChannelJob ------------------------------------------------------------------------

CChannelJob::CChannelJob(IChannel* channel, bool) : channelSet_(GetChannelSet()) {
  SetChannel(channel);
  SetBudget(GetGlobalOptions().GetScriptTimeBudget(), GetMemoryBudget());
}

void CChannelJob::SetChannel(IChannel* channel) {
  channel_ = channel;
  item_.store(channel, std::memory_order_release);
}

CChannelJob::CChannelJob(IChannel* channel) : CChannelJob(channel, true) {
  Log(u"** CChannelJob constructed");
  JobLocks locks(channelSet_, this);
  Subscribe(channelSet_);
}

CChannelJob::~CChannelJob() {
  Log(u"Deleting channel job");
  JobLocks locks(channelSet_, this);
  Unsubscribe(channelSet_);
  if (channel_ && acquired_) channel_->Release(this, false);
  SetChannel(nullptr);
}

IUpdateItem* CChannelJob::GetItem() { return item_.load(std::memory_order_acquire); }

void CChannelJob::Run() {
  result_ = false;
  try {
    bool prepared = Prepare();
    if (prepared && !stopped_) {
      SetInetSession(GetSession());
      result_ = Execute(script_);
      SetInetSession(nullptr);
    }
  } catch (...) {
    Log(u"Script job: out of memory.");
    result_ = false;
  }
  if (handedOver_) return;
  try {
    Finish();
  } catch (...) {
    Log(u"Script job: out of memory.");
    FailAndLetGo();
  }
}

void CChannelJob::FailAndLetGo() noexcept {
  try {
    JobLocks locks(channelSet_, this);
    if (!channel_) return;
    channel_->SetUpdateState(US_FAILED);
    if (acquired_) channel_->Release(this, false);
    acquired_ = false;
    SetChannel(nullptr);
  } catch (...) {
  }
}

void CChannelJob::Stop() {
  JobLocks locks(channelSet_, this);
  stopped_ = true;
  RequestStop();
  if (!channel_) return;
  if (channel_->GetUpdateStatus() == US_UPDATING) channel_->SetUpdateState(US_WAITING);
  if (acquired_) channel_->Release(this, false);
  acquired_ = false;
  SetChannel(nullptr);
}

void CChannelJob::OnDBEvent(CDBEvent* record) {
  if (record && record->type == DBE_CHANNEL_REMOVED && record->channel && record->channel == channel_) Stop();
  CDBEventListener::OnDBEvent(record);
}

bool CChannelJob::Prepare() {
  if (!Init(&RegisterScriptDocumentModel)) return false;
  std::u16string address;
  {
    JobLocks locks(channelSet_, this);
    if (!channel_ || stopped_) {
      Log(u"Internal error in getting Channel properties");
      return false;
    }
    address = CPluginChannels::GetChannelUrl(channel_);
    LogF(u">> Parse Channel \"%s\"", channel_->GetName().c_str());
    channel_->Acquire(this);
    acquired_ = true;
    channel_->SetUpdateState(US_UPDATING);
  }

  CStringToStringMap templateProperties;
  int loaded = CPluginChannels::GetInstance().LoadTemplate(address, templateProperties, GetSession());

  JobLocks locks(channelSet_, this);
  if (!channel_) {
    Log(u"Error parsing channel - maybe deleted?");
    Log(u"<< Parse Channel");
    return false;
  }
  if (loaded == CPluginChannels::kTemplateLoaded) {
    CPluginChannels::GetInstance().ApplyTemplateProperties(channel_, templateProperties, true);
  } else if (loaded == CPluginChannels::kTemplateFailed) {
    Log(u"Internal error in getting Channel properties");
  }

  const CStringToStringMap& properties = channel_->GetProperties();
  const std::u16string* templateType = FindProperty(properties, kPropTemplateType);
  if (templateType && plat::EqualsNoCase(*templateType, u"RSS")) {
    channel_->SetUpdateState(US_WAITING);
    handedOver_ = true;
    channel_->Release(this, false);
    acquired_ = false;
    SetChannel(nullptr);
    Log(u"<< Parse Channel - to be continued");
    return false;
  }

  script_ = GetProperty(properties, kPropParseChannel);
  ObjectBuildData build;
  build.globalName = "channel";
  if (!ToScriptProperties(properties, build)) return false;
  return RunProtected(&BuildObjectBody, &build, "Setting up 'channel'");
}

bool CChannelJob::ReadChannelObject() {
  ReadBackData data;
  data.wantChannel = true;
  bool ran = RunProtected(&ReadBackBody, &data, "Reading 'channel'");
  if (!data.channelIsObject) {
    Log(u"Wrong type of 'channel' variable, must be object.");
    return false;
  }
  if (!ran || data.cxxFailed) return false;
  for (const std::u16string& name : data.nonStringNames) {
    LogF(u"Warning: a non-string property of channel is detected: %s, ignored.", name.c_str());
  }
  JobLocks locks(channelSet_, this);
  if (!channel_) return false;
  CStringToStringMap properties = channel_->GetProperties();
  for (auto& entry : data.channelStrings) properties[entry.first] = entry.second;
  channel_->SetProperties(properties);
  return true;
}

void CChannelJob::ReadArticles() {
  ReadBackData data;
  data.wantArticles = true;
  bool ran = RunProtected(&ReadBackBody, &data, "Reading 'channel.articles'");
  if (!data.channelIsObject) {
    Log(u"Warning: wrong 'channel' object.");
    return;
  }
  if (!data.articlesIsObject) {
    Log(u"Warning: wrong 'channel.articles' object.");
    return;
  }
  if (!ran || data.cxxFailed) Log(u"Warning: not every article of 'channel.articles' could be read.");
  if (data.truncated) {
    LogF(u"Warning: only the first %u elements of 'channel.articles' are read.",
         static_cast<unsigned>(kMaxScriptArticles));
  }
  for (ScriptArticleData& article : data.articles) {
    if (stopped_) return;
    AddArticle(std::move(article.properties), FileTimeFromScriptDate(article.dateMs));
  }
  if (articleKeys_.empty()) return;
  JobLocks locks(channelSet_, this);
  if (channel_) channel_->ForgetDeletedArticles(articleKeys_);
}

void CChannelJob::Finish() {
  bool failed = !result_;
  storeFailed_ = false;
  {
    CSyncLock lock(this, u"CChannelJob::Finish");
    if (!channel_) failed = true;
  }
  if (!failed && !stopped_) {
    if (!ReadChannelObject()) {
      failed = true;
    } else {
      ReadArticles();
      failed = storeFailed_;
    }
  }
  JobLocks locks(channelSet_, this);
  if (channel_) {
    channel_->SetUpdateState(failed ? US_FAILED : US_UP_TO_DATE);
    if (acquired_) channel_->Release(this, false);
    acquired_ = false;
    SetChannel(nullptr);
  }
  Log(u"<< Parse Channel");
}

void CChannelJob::AddArticle(CStringToStringMap properties, const plat::FILETIME& date) {
  if (properties.empty()) {
    Log(u"Adding article error: article object must contain at least one property");
    return;
  }
  std::u16string read = TakeProperty(properties, u"read");
  TakeProperty(properties, u"agelimit");
  std::u16string manualUpdate = TakeProperty(properties, u"manualupdate");

  std::u16string id = GetProperty(properties, u"id");
  std::u16string dynamicId = GetProperty(properties, u"dynamicid");
  if (id.empty() && !dynamicId.empty()) {
    Log(u"Adding article error: 'id' property must be present if 'dynamicid' is present");
    return;
  }
  if (id.empty()) id = MapToString(properties);
  std::u16string header = TakeProperty(properties, u"header");
  std::u16string thumbnail = TakeProperty(properties, u"thumbnail");
  CStringList images;
  if (const std::u16string* body = FindProperty(properties, u"body")) {
    std::u16string copy = *body;
    Tidy::ProcessHtmlFragment(copy, &images, std::u16string());
  }

  JobLocks locks(channelSet_, this);
  if (!channel_ || stopped_) {
    Log(u"Adding article error: channel does not exists");
    return;
  }
  std::uint32_t state = US_WAITING;
  std::u16string updated = TakeProperty(properties, u"updated");
  if (updated == u"1" || !FindProperty(channel_->GetProperties(), kPropParseArticle)) {
    state = US_UP_TO_DATE;
    manualUpdate = u"0";
  }
  std::u16string idKey = KeyOf(id);
  std::u16string contentKey = KeyOf(dynamicId);
  articleKeys_.insert(idKey);

  IArticleSet* set = channel_->GetArticleSet();
  IArticle* article = set ? set->FindById(idKey) : nullptr;
  if (!article) {
    article = channel_->CreateArticle(idKey, state, date);
    if (!article) return;
  } else {
    std::uint32_t status = article->GetUpdateStatus();
    if (article->GetSecondDigest() == contentKey && status != US_UPDATING && status != US_WAITING &&
        !channel_->IsArticleDataMissing(article)) {
      return;
    }
    if (article->IsDeleted()) return;
    if (!IsZero(date)) article->SetDate(date);
  }
  if (article->IsDeleted()) return;

  // The stored properties are read before anything changes: when they cannot
  // be had (the channel busy, its files unreadable) nothing is stored over
  // them, the article is not marked as done, and the run fails.
  CStringToStringMap stored;
  if (!channel_->GetArticleProperties(article, stored)) {
    LogF(u"Adding article error: stored properties of \"%s\" could not be read", id.c_str());
    article->SetUpdateState(US_FAILED);
    storeFailed_ = true;
    return;
  }
  article->SetSecondDigest(contentKey);
  if (!header.empty()) article->SetTitle(DecodeHtmlEntities(header));
  if (stored.empty()) {
    channel_->SetArticleProperties(article, properties);
  } else {
    MergeMap(properties, stored);
    channel_->SetArticleProperties(article, stored);
  }
  if (IBinarySet* binaries = article->GetBinaries()) {
    // Bounded per article and per update; the rest are skipped.
    CGlobalOptions& options = GetGlobalOptions();
    const std::size_t perArticle = options.GetMaxBinariesPerArticle();
    const std::size_t perUpdate = options.GetMaxBinariesPerUpdate();
    std::size_t added = 0, skipped = 0;
    for (const std::u16string& image : images) {
      if (added < perArticle && binariesMade_ < perUpdate) {
        binaries->AddUrl(image);
        ++added;
        ++binariesMade_;
      } else {
        ++skipped;
      }
    }
    if (skipped != 0) {
      CDebugLog::GetInstance().Printf(u"Article \"%s\": %u binaries skipped (limits: %u per article, %u per update)",
                                      id.c_str(), static_cast<unsigned>(skipped), static_cast<unsigned>(perArticle),
                                      static_cast<unsigned>(perUpdate));
    }
  }
  if (!thumbnail.empty()) article->SetImageUrl(thumbnail);
  IChannelOptions* options = channel_->GetOptions();
  if (options && options->GetManualArticlesUpdate() && state == US_WAITING) manualUpdate = u"1";
  if (manualUpdate == u"1") {
    article->SetManualUpdate(true);
    state = US_UP_TO_DATE;
  } else if (manualUpdate == u"0") {
    article->SetManualUpdate(false);
  }
  channel_->SetArticleRead(article, read == u"1");
  article->SetUpdateState(state);
  LogF(u"Article (id = \"%s\", header = \"%s\") added.", id.c_str(), header.c_str());
}

// ---- CArticleJob ------------------------------------------------------------------------

CArticleJob::CArticleJob(IArticle* article)
    : CChannelJob(article ? article->GetChannel() : nullptr, true), article_(article) {
  item_.store(article, std::memory_order_release);
  Log(u"** CArticleJob constructed");
  JobLocks locks(channelSet_, this);
  if (channel_) {
    articleSet_ = channel_->GetArticleSet();
    Subscribe(articleSet_);
    // Keeps the channel's articles loaded while the job holds one of them.
    channel_->Acquire(this);
    acquired_ = true;
  }
  Subscribe(channelSet_);
}

CArticleJob::~CArticleJob() {
  JobLocks locks(channelSet_, this);
  LetGo();
}

IUpdateItem* CArticleJob::GetItem() { return item_.load(std::memory_order_acquire); }

void CArticleJob::LetGo() {
  if (articleSet_) Unsubscribe(articleSet_);
  articleSet_ = nullptr;
  Unsubscribe(channelSet_);
  if (channel_ && acquired_) channel_->Release(this, false);
  acquired_ = false;
  article_ = nullptr;
  SetChannel(nullptr);
}

void CArticleJob::FailAndLetGo() noexcept {
  try {
    JobLocks locks(channelSet_, this);
    if (article_ && channel_) article_->SetUpdateState(US_FAILED);
    LetGo();
  } catch (...) {
  }
}

void CArticleJob::Stop() {
  JobLocks locks(channelSet_, this);
  stopped_ = true;
  RequestStop();
  if (!article_) return;
  if (article_->GetUpdateStatus() == US_UPDATING) article_->SetUpdateState(US_WAITING);
  LetGo();
}

void CArticleJob::OnDBEvent(CDBEvent* record) {
  if (record) {
    bool ours = false;
    if (record->type == DBE_CHANNEL_REMOVED && record->channel && record->channel == channel_) ours = true;
    if ((record->type == DBE_ARTICLE_DELETED || record->type == DBE_ARTICLE_TAKEN_OUT) && record->article &&
        record->article == article_) {
      ours = true;
    }
    if (ours) Stop();
  }
  CDBEventListener::OnDBEvent(record);
}

bool CArticleJob::Prepare() {
  Log(u"** Enter Parse Article");
  if (!Init(&RegisterScriptDocumentModel)) return false;
  ObjectBuildData build;
  {
    JobLocks locks(channelSet_, this);
    if (!article_ || !channel_ || stopped_) return false;
    script_ = GetProperty(channel_->GetProperties(), kPropParseArticle);
    if (script_.empty()) {
      Log(u">> Parse Article, no JS code in template.");
      article_->SetUpdateState(US_UP_TO_DATE);
      Log(u"<< Parse Article, marked as updated.");
      return false;
    }
    CStringToStringMap properties;
    if (!channel_->GetArticleProperties(article_, properties)) {
      Log(u"Error parsing article - something wrong with files.");
      return false;
    }
    properties[u"manualupdate"] = u"0";
    properties.emplace(u"id", article_->GetId());
    properties.emplace(u"dynamicid", article_->GetSecondDigest());
    properties[u"header"] = article_->GetTitle();
    properties[u"thumbnail"] = article_->GetImageUrl();
    article_->SetUpdateState(US_UPDATING);
    if (!ToScriptProperties(properties, build)) return false;
  }
  Log(u">> Parse Article");
  CSyncLock lock(this, u"CArticleJob::Prepare");
  if (!article_ || !channel_) return false;
  build.globalName = "article";
  build.article = true;
  ran_ = true;
  return RunProtected(&BuildObjectBody, &build, "Setting up 'article'");
}

void CArticleJob::Finish() {
  ReadBackData data;
  if (ran_ && result_ && !stopped_) {
    data.wantArticle = true;
    if (!RunProtected(&ReadBackBody, &data, "Reading 'article'") || data.cxxFailed) data.articleIsArticle = false;
  }
  bool add = false;
  {
    JobLocks locks(channelSet_, this);
    if (!article_ || !channel_) {
      LetGo();
      return;
    }
    if (ran_) {
      if (!result_) {
        Log(u"Exception is thrown: article not added");
        article_->SetUpdateState(US_FAILED);
      } else if (data.articleIsArticle && !data.articles.empty()) {
        add = true;
      } else {
        Log(u"Wrong type of article object: article not added");
        article_->SetUpdateState(US_FAILED);
      }
    } else if (article_->GetUpdateStatus() == US_UPDATING) {
      // Prepared half-way (the script's object could not be made).
      article_->SetUpdateState(US_FAILED);
    }
  }
  if (add) {
    AddArticle(std::move(data.articles.front().properties), FileTimeFromScriptDate(data.articles.front().dateMs));
  }
  JobLocks locks(channelSet_, this);
  // The script may have reported the article under another id: this one is
  // not left marked as being updated.
  if (add && article_ && article_->GetUpdateStatus() == US_UPDATING) article_->SetUpdateState(US_FAILED);
  if (ran_) Log(u"<< Parse Article");
  LetGo();
}
