#include "update/feed/RSSChannelJob.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "core/DateUtils.h"
#include "core/DebugLog.h"
#include "core/Md5.h"
#include "core/StringUtils.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/GlobalOptions.h"
#include "platform/base/Text.h"
#include "update/script/TemplateNames.h"
#include "update/tidy/TidyDocument.h"
#include "update/http/InetSession.h"
#include "update/http/TidyDownload.h"
#include "update/jobs/UpdateFailures.h"
#include "update/http/WinInet.h"
#include "update/feed/FetchedFeeds.h"

namespace {

constexpr char16_t kPropEncoding[] = u"channel#encoding";
constexpr char16_t kTemplateTypeRss[] = u"RSS";

// Article body candidates, in order of preference.
constexpr std::initializer_list<const char16_t*> kBodyCandidates = {
    u"content:encoded", u"content", u"description", u"dc:description", u"summary"};

CSynchronized* DatabaseLock() { return GetChannelSet(); }

CStringToStringMap::iterator FindNoCase(CStringToStringMap& map, std::u16string_view key) {
  auto exact = map.find(std::u16string(key));
  if (exact != map.end()) return exact;
  for (auto it = map.begin(); it != map.end(); ++it) {
    if (plat::EqualsNoCase(it->first, key)) return it;
  }
  return map.end();
}

// The value under key (ignoring case); false when there is none.
bool Lookup(CStringToStringMap& map, std::u16string_view key, std::u16string& value) {
  auto it = FindNoCase(map, key);
  if (it == map.end()) return false;
  value = it->second;
  return true;
}

// Removes every entry of that key (ignoring case); the first value found is
// returned when there was one.
bool Take(CStringToStringMap& map, std::u16string_view key, std::u16string& value) {
  bool found = false;
  for (auto it = FindNoCase(map, key); it != map.end(); it = FindNoCase(map, key)) {
    if (!found) value = it->second;
    found = true;
    map.erase(it);
  }
  return found;
}

void Remove(CStringToStringMap& map, std::u16string_view key) {
  std::u16string ignored;
  Take(map, key, ignored);
}

// The first non-empty body candidate; every candidate is removed.
std::u16string TakeBody(CStringToStringMap& map) {
  std::u16string body;
  for (const char16_t* name : kBodyCandidates) {
    std::u16string value;
    if (Take(map, name, value) && body.empty() && !value.empty()) body = value;
  }
  return body;
}

std::u16string GetStringProperty(const CStringToStringMap& map, const char16_t* key) {
  auto it = map.find(key);
  return it == map.end() ? std::u16string() : it->second;
}

bool StartsWithHttp(const std::u16string& link) { return link.compare(0, 4, u"http") == 0; }

// The first count characters, not splitting a surrogate pair.
std::u16string Prefix(const std::u16string& text, std::size_t count) {
  if (text.size() <= count) return text;
  std::size_t end = count;
  if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) --end;
  return text.substr(0, end);
}

// Device path of a local feed address: "\..." as it stands; "file://" with
// the rest unescaped and its slashes turned into the device's backslashes.
std::u16string LocalPath(const std::u16string& address) {
  if (address.compare(0, 7, u"file://") != 0) return address;
  std::u16string path = UnescapeUrl(std::u16string_view(address).substr(7));
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (path.empty() || path.front() != u'\\') path.insert(path.begin(), u'\\');
  return path;
}

bool IsLocalAddress(const std::u16string& address) {
  return (!address.empty() && address.front() == u'\\') || address.compare(0, 7, u"file://") == 0;
}

// Writes the feed's channel properties into the channel the way a template
// applies its own: a channel that has an image keeps it. A map that changes
// nothing is not stored, so an unchanged feed rewrites no channel file.
void ApplyChannelProperties(IChannel* channel, CStringToStringMap properties) {
  CStringToStringMap copy = channel->GetProperties();
  if (copy.find(kPropThumbnail) != copy.end()) properties.erase(kPropThumbnail);
  MergeMap(properties, copy);
  if (copy != channel->GetProperties()) channel->SetProperties(copy);
}

bool ParseDate(const std::u16string& text, plat::FILETIME& date) {
  date = plat::FILETIME{};
  if (text.empty()) return false;
  if (ParseDateTime(TrimSpace(text), date)) return true;
  date = plat::FILETIME{};
  return false;
}

bool HasImageTag(const std::u16string& html) {
  for (std::size_t at = html.find(u'<'); at != std::u16string::npos; at = html.find(u'<', at + 1)) {
    if (at + 3 < html.size() && (html[at + 1] | 0x20) == u'i' && (html[at + 2] | 0x20) == u'm' &&
        (html[at + 3] | 0x20) == u'g') {
      return true;
    }
  }
  return false;
}

Tidy::Node* FindChild(Tidy::Node* parent, std::string_view name) {
  return parent ? parent->FindChildElement(name) : nullptr;
}

}  // namespace

namespace {

// The feed's address and, unless articles lost their data and must be read
// again, the digest of the body of the last successful update (the same
// bytes again need no parse) and the server's validators of that body.
void ReadFeedState(IChannel* channel, std::u16string& address, bool& scriptChannel, std::u16string& digest,
                   Tidy::Validators& validators) {
  const CStringToStringMap& properties = channel->GetProperties();
  scriptChannel = plat::EqualsNoCase(GetStringProperty(properties, kPropType), kChannelTypeScript);
  address = GetStringProperty(properties, scriptChannel ? kPropTemplateUrl : kPropUrl);
  digest.clear();
  validators = Tidy::Validators{};
  if (channel->HasMissingArticleData()) return;
  digest = GetStringProperty(properties, kPropFeedDigest);
  // Validators without the digest of their body, or of another address,
  // cannot stand for it.
  if (digest.empty() || GetStringProperty(properties, kPropFeedValidatorsUrl) != address) return;
  validators.etag = GetStringProperty(properties, kPropFeedETag);
  validators.lastModified = GetStringProperty(properties, kPropFeedLastModified);
}

}  // namespace

bool CRSSChannelJob::GetFeedRequest(IChannel* channel, std::u16string& address, std::u16string& etag,
                                    std::u16string& lastModified) {
  if (channel == nullptr) return false;
  bool scriptChannel = false;
  std::u16string digest;
  Tidy::Validators validators;
  ReadFeedState(channel, address, scriptChannel, digest, validators);
  if (scriptChannel || address.empty() || IsLocalAddress(address)) return false;
  etag = validators.etag;
  lastModified = validators.lastModified;
  return true;
}

CRSSChannelJob::CRSSChannelJob(IChannel* channel, int pluginRss) : channel_(channel), pluginRss_(pluginRss) {
  CDebugLog::GetInstance().WriteLine(u"** CRSSChannelJob constructed");
  Subscribe(GetChannelSet());
}

CRSSChannelJob::~CRSSChannelJob() {
  CDebugLog::GetInstance().WriteLine(u"Deleting RSS channel job");
  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::~CRSSChannelJob");
  Unsubscribe(GetChannelSet());
}

IUpdateItem* CRSSChannelJob::GetItem() {
  CSyncLock me(this, u"CRSSChannelJob::GetItem");
  return channel_;
}

void CRSSChannelJob::Run() {
  std::u16string encoding;
  std::u16string digest;
  Tidy::Validators validators, stored;
  bool unchanged = false;
  bool cancelled = false;
  // Why the update fails, for the user (empty: it did not fail).
  std::u16string failure;
  std::u16string channelName;
  {
    CSyncLock db(DatabaseLock(), u"CRSSChannelJob::Run");
    CSyncLock me(this, u"CRSSChannelJob::Run");
    if (channel_ == nullptr) return;
    const CStringToStringMap& properties = channel_->GetProperties();
    encoding = GetStringProperty(properties, kPropEncoding);
    channelName = channel_->GetName();
    channel_->Acquire(this);
    channel_->SetUpdateState(US_UPDATING);
    // Read once the channel's articles are there: whether their data is
    // missing decides the digest and the validators.
    ReadFeedState(channel_, address_, scriptChannel_, digest, stored);
    validators = stored;
  }

  if (!address_.empty()) {
    if (GetGlobalOptions().GetRSSReportingAllowed() != 0 && !scriptChannel_) {
      Tidy::SendRatingPing(address_, session_);
    }
    auto document = std::make_unique<Tidy::Document>();
    if (document->Init() == 0) {
      bool loaded = false;
      std::u16string downloadError;
      if (auto fetched = scriptChannel_ ? nullptr : FetchedFeeds::Take(address_)) {
        // The body fetched a moment ago when the channel was added.
        CDebugLog::GetInstance().WriteLine(u"Feed fetched when the channel was added: not downloaded again.");
        document = std::move(fetched);
        loaded = true;
      } else if (!IsLocalAddress(address_)) {
        const int result = Tidy::DownloadChangedDocument(session_, address_, document.get(), encoding, &downloadError,
                                                         &digest, &unchanged, &validators);
        loaded = result == 1;
        cancelled = result == 2 && session_ != nullptr && session_->IsCancelled();
      } else if (!scriptChannel_) {
        loaded = Tidy::ParseLocalFile(LocalPath(address_), document.get(), encoding);
      }
      if (loaded && unchanged) {
        CDebugLog::GetInstance().WriteLine(u"Feed unchanged since the last update: not parsed.");
        success_ = true;
      } else if (loaded && ProcessDocument(document.get())) {
        success_ = true;
      } else if (loaded) {
        failure = InetText(382, u"This address does not lead to an RSS or Atom feed.");
      } else if (!downloadError.empty()) {
        failure = downloadError;
      } else {
        failure = InetText(364, u"The feed could not be downloaded.");
      }
    }
  } else {
    failure = InetText(361, u"The channel has no feed address.");
  }

  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::Run");
  CSyncLock me(this, u"CRSSChannelJob::Run");
  if (channel_ == nullptr) return;
  if (cancelled) {
    // The run is being stopped (its session cancelled; Stop follows): the
    // channel is left as Stop leaves it, not failed.
    if (channel_->GetUpdateStatus() == US_UPDATING) channel_->SetUpdateState(US_WAITING);
    channel_->Release(this, false);
    channel_ = nullptr;
    return;
  }
  const CStringToStringMap& properties = channel_->GetProperties();
  if (plat::EqualsNoCase(GetStringProperty(properties, kPropTemplateType), kTemplateTypeRss)) {
    channel_->SetProperty(kPropTemplateType, u"");
  }
  // The digest of the body this update stored (a local file has none) and
  // the server's validators of it: they hold only once the update's save
  // succeeds. A body found unchanged stores at most new validators.
  if (success_ && !digest.empty()) {
    CStringToStringMap keep;
    auto changed = [&](const char16_t* key, const std::u16string& value) {
      if (GetStringProperty(properties, key) != value) keep[key] = value;
    };
    if (!unchanged) changed(kPropFeedDigest, digest);
    if (!unchanged || validators.etag != stored.etag || validators.lastModified != stored.lastModified) {
      changed(kPropFeedETag, validators.etag);
      changed(kPropFeedLastModified, validators.lastModified);
      if (!validators.etag.empty() || !validators.lastModified.empty()) changed(kPropFeedValidatorsUrl, address_);
    }
    if (!keep.empty()) channel_->KeepWithSuccessfulSave(keep);
  }
  channel_->SetUpdateState(success_ ? US_UP_TO_DATE : US_FAILED);
  // A channel that could not store what the update brought fails it.
  if (success_ && channel_->LastSaveFailed()) {
    success_ = false;
    failure = InetText(363, u"What the update brought could not be stored.");
  }
  if (success_) {
    ForgetUpdateFailure(channelName);
  } else {
    if (failure.empty()) failure = InetText(364, u"The feed could not be downloaded.");
    RecordUpdateFailure(channelName, failure);
  }
  channel_->Release(this, false);
  channel_ = nullptr;
}

void CRSSChannelJob::Stop() {
  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::Stop");
  CSyncLock me(this, u"CRSSChannelJob::Stop");
  if (channel_ == nullptr) return;
  if (channel_->GetUpdateStatus() == US_UPDATING) channel_->SetUpdateState(US_WAITING);
  channel_->Release(this, false);
  channel_ = nullptr;
}

void CRSSChannelJob::OnDBEvent(CDBEvent* record) {
  if (record != nullptr && record->type == DBE_CHANNEL_REMOVED) {
    bool ours = false;
    {
      CSyncLock me(this, u"CRSSChannelJob::OnDBEvent");
      ours = channel_ != nullptr && record->channel == channel_;
    }
    if (ours) Stop();
  }
  CDBEventListener::OnDBEvent(record);
}

bool CRSSChannelJob::GetFeedTitle(Tidy::Document* document, std::u16string& title) {
  if (document == nullptr || document->GetRoot() == nullptr) return false;
  Tidy::Node* root = document->GetRoot();
  Tidy::Node* node = nullptr;
  if (Tidy::Node* rdf = FindChild(root, "rdf:RDF"); rdf != nullptr && FindChild(rdf, "channel") != nullptr) {
    node = FindChild(FindChild(rdf, "channel"), "title");
  } else if (Tidy::Node* rss = FindChild(root, "rss"); rss != nullptr) {
    Tidy::Node* channel = FindChild(rss, "channel");
    if (channel == nullptr) return false;
    node = FindChild(channel, "title");
  } else {
    node = FindChild(FindChild(root, "feed"), "title");
  }
  if (node == nullptr) return false;
  title = Tidy::GetNodeText(document, node);
  return true;
}

bool CRSSChannelJob::ProcessDocument(Tidy::Document* document) {
  if (document == nullptr || document->GetRoot() == nullptr) return false;
  Tidy::Node* root = document->GetRoot();
  seenIds_.clear();
  itemSeen_ = false;
  entrySeen_ = false;
  bool result = ParseRdf(document, root) || ParseRssAndAtom(document, root);
  if (!seenIds_.empty()) {
    CSyncLock db(DatabaseLock(), u"CRSSChannelJob::ProcessDocument");
    CSyncLock me(this, u"CRSSChannelJob::ProcessDocument");
    if (channel_ != nullptr) channel_->ForgetDeletedArticles(seenIds_);
  }
  return result;
}

bool CRSSChannelJob::ParseRdf(Tidy::Document* document, Tidy::Node* root) {
  Tidy::Node* rdf = FindChild(root, "rdf:RDF");
  Tidy::Node* channel = FindChild(rdf, "channel");
  if (channel == nullptr) return false;

  CStringToStringMap feed;
  Tidy::ReadChildTexts(document, channel, feed);
  {
    CSyncLock db(DatabaseLock(), u"CRSSChannelJob::ParseRdf");
    CSyncLock me(this, u"CRSSChannelJob::ParseRdf");
    if (channel_ == nullptr) return true;
    CStringToStringMap copy = channel_->GetProperties();
    MergeMap(feed, copy);
    if (copy != channel_->GetProperties()) channel_->SetProperties(copy);
  }

  for (Tidy::Node* node = channel->Next(); node != nullptr; node = node->Next()) {
    // An item inside which the document ended is incomplete: not stored.
    if (!node->IsElement() || !node->NameIs("item") || node->IsCut()) continue;
    CStringToStringMap item;
    Tidy::ReadChildTexts(document, node, item);
    std::u16string header;
    if (!Take(item, u"title", header)) continue;
    std::u16string body = TakeBody(item);
    std::u16string link;
    if (!Take(item, u"link", link)) Take(item, u"guid", link);
    if (!link.empty() && StartsWithHttp(link)) item[u"url"] = link;
    std::u16string dateText;
    Take(item, u"dc:date", dateText);
    plat::FILETIME date{};
    ParseDate(dateText, date);
    std::u16string id;
    if (!Lookup(item, u"id", id) || id.empty()) id = header;

    const std::u16string digest = GetMd5Hex(id);
    if (IsKnown(digest)) continue;
    CStringList images;
    if (!body.empty()) Tidy::ProcessHtmlFragment(body, &images, link);
    item[u"body"] = body;
    CreateArticle(id, header, date, item, images);
  }
  return true;
}

bool CRSSChannelJob::ParseRssAndAtom(Tidy::Document* document, Tidy::Node* root) {
  Tidy::Node* container = nullptr;
  if (Tidy::Node* rss = FindChild(root, "rss"); rss != nullptr) {
    container = FindChild(rss, "channel");
  } else {
    container = FindChild(root, "feed");
  }
  if (container == nullptr) return false;

  CStringToStringMap feed;
  // A site's icon; a local file has no site.
  if (!IsLocalAddress(address_)) feed[kPropThumbnail] = Tidy::GetFaviconUrl(address_);

  for (Tidy::Node* node : container->Children()) {
    if (!node->IsElement() || node->Name().empty()) continue;
    if (node->NameIs("item")) itemSeen_ = true;
    if (node->NameIs("entry")) entrySeen_ = true;
    if (!itemSeen_ && !entrySeen_) {
      feed[node->GetName()] = Tidy::GetNodeText(document, node);
      continue;
    }
    // An item inside which the document ended is incomplete: not stored.
    if (node->IsCut()) continue;
    AddRssAtomArticle(document, node);
  }
  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::ParseRssAndAtom");
  CSyncLock me(this, u"CRSSChannelJob::ParseRssAndAtom");
  if (channel_ != nullptr) ApplyChannelProperties(channel_, feed);
  return true;
}

CStringSet CRSSChannelJob::LimitBinaries(const CStringList& binaries, const std::u16string& id) {
  if (!binaryLimits_.read) {
    CGlobalOptions& options = GetGlobalOptions();
    binaryLimits_.perArticle = options.GetMaxBinariesPerArticle();
    binaryLimits_.perUpdate = options.GetMaxBinariesPerUpdate();
    binaryLimits_.read = true;
  }
  const std::size_t left = binaryLimits_.perUpdate > binaryLimits_.made ? binaryLimits_.perUpdate - binaryLimits_.made : 0;
  const std::size_t allowed = std::min<std::size_t>(binaryLimits_.perArticle, left);
  // The first ones in the item's order are kept.
  CStringSet urls;
  std::size_t skipped = 0;
  for (const std::u16string& url : binaries) {
    if (url.empty() || urls.count(url) != 0) continue;
    if (urls.size() < allowed) {
      urls.insert(url);
    } else {
      ++skipped;
    }
  }
  if (skipped != 0) {
    CDebugLog::GetInstance().Printf(u"Article \"%s\": %u binaries skipped (limits: %u per article, %u per update)",
                                    id.c_str(), static_cast<unsigned>(skipped),
                                    static_cast<unsigned>(binaryLimits_.perArticle),
                                    static_cast<unsigned>(binaryLimits_.perUpdate));
  }
  binaryLimits_.made += urls.size();
  return urls;
}

bool CRSSChannelJob::IsKnown(const std::u16string& digest) {
  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::IsKnown");
  CSyncLock me(this, u"CRSSChannelJob::IsKnown");
  seenIds_.insert(digest);
  if (channel_ == nullptr) return true;
  IArticleSet* articles = channel_->GetArticleSet();
  if (articles == nullptr) return true;
  IArticle* article = articles->FindById(digest);
  // An article whose data was lost is read again from the feed.
  return article != nullptr && !channel_->IsArticleDataMissing(article);
}

bool CRSSChannelJob::AddRssAtomArticle(Tidy::Document* document, Tidy::Node* element) {
  CStringToStringMap item;
  CStringList binaries;
  bool alternateLink = false;
  for (Tidy::Node* child : element->Children()) {
    if (!child->IsElement() || child->Name().empty()) continue;
    std::u16string name = child->GetName();
    if (plat::EqualsNoCase(name, u"title")) {
      name = u"header";
    } else if (plat::EqualsNoCase(name, u"id")) {
      name = u"id";
    }
    std::u16string value;
    if (entrySeen_ && plat::EqualsNoCase(name, u"link")) {
      // An entry may link its page, enclosures and related pages; the page
      // (rel "alternate" or no rel) is the article's link.
      std::u16string rel;
      child->GetAttribute("rel", rel);
      child->GetAttribute("href", value);
      const bool alternate = rel.empty() || plat::EqualsNoCase(rel, u"alternate");
      if (plat::EqualsNoCase(rel, u"enclosure") && !value.empty()) {
        item[u"enclosure"] = value;
        binaries.push_back(value);
      }
      if (!alternate) {
        if (FindNoCase(item, u"link") != item.end()) continue;
      } else if (alternateLink) {
        continue;
      } else {
        alternateLink = true;
      }
    } else if (plat::EqualsNoCase(name, u"enclosure") || plat::EqualsNoCase(name, u"media:thumbnail")) {
      // Enclosures and pictures name their file in an attribute.
      child->GetAttribute("url", value);
      if (value.empty()) child->GetAttribute("href", value);
      if (plat::EqualsNoCase(name, u"media:thumbnail")) {
        name = u"thumbnail";
        if (FindNoCase(item, name) != item.end()) continue;  // the first picture is the article's
      }
      if (!value.empty()) binaries.push_back(value);
    } else {
      value = Tidy::GetNodeText(document, child);
    }
    if (plat::EqualsNoCase(name, u"body")) {
      auto it = FindNoCase(item, u"body");
      if (it != item.end() && !it->second.empty()) {
        it->second += u"<br/>" + value;
        continue;
      }
    }
    item[name] = value;
  }

  std::u16string id;
  if (!Lookup(item, u"id", id)) Lookup(item, u"guid", id);
  std::u16string body = TakeBody(item);
  if (body.empty()) Take(item, u"fulltext", body);
  // Elements named "body" (joined by "<br/>" above) are the body when nothing
  // else is.
  if (body.empty()) Lookup(item, u"body", body);
  std::u16string header;
  Take(item, u"header", header);
  if (header.empty()) {
    if (body.empty()) return false;
    header = Prefix(body, 32) + u"...";
  }
  std::u16string link;
  std::u16string guid;
  const bool hasGuid = Take(item, u"guid", guid);
  if (!Take(item, u"link", link) && hasGuid) link = guid;
  if (!link.empty() && StartsWithHttp(link)) item[u"url"] = link;
  if (id.empty()) id = header;

  std::u16string dateText;
  if (itemSeen_) {
    if (!Take(item, u"pubDate", dateText)) {
      if (!Take(item, u"date", dateText)) Take(item, u"dc:date", dateText);
    } else {
      Remove(item, u"date");
    }
  }
  if (entrySeen_) {
    std::u16string issued, modified, updated;
    const bool hasIssued = Take(item, u"issued", issued);
    const bool hasModified = Take(item, u"modified", modified);
    const bool hasUpdated = Take(item, u"updated", updated);
    if (hasIssued) {
      dateText = issued;
    } else if (hasModified) {
      dateText = modified;
    } else if (hasUpdated) {
      dateText = updated;
    }
  }
  plat::FILETIME date{};
  ParseDate(dateText, date);

  const std::u16string digest = GetMd5Hex(id);
  if (IsKnown(digest)) return true;
  CStringList images;
  // Without a base address the fragment is only searched for images, so a
  // body that holds no image tag needs no parse.
  if (!body.empty() && HasImageTag(body)) Tidy::ProcessHtmlFragment(body, &images, u"");
  item[u"body"] = body;
  images.insert(images.end(), binaries.begin(), binaries.end());
  CreateArticle(id, header, date, item, images);
  return true;
}

void CRSSChannelJob::CreateArticle(const std::u16string& id, const std::u16string& header, const plat::FILETIME& date,
                                   CStringToStringMap& item, const CStringList& binaries) {
  CSyncLock db(DatabaseLock(), u"CRSSChannelJob::CreateArticle");
  CSyncLock me(this, u"CRSSChannelJob::CreateArticle");
  if (channel_ == nullptr) return;
  const std::u16string digest = GetMd5Hex(id);
  seenIds_.insert(digest);
  IArticleSet* articles = channel_->GetArticleSet();
  if (articles == nullptr) return;
  IChannel* channel = channel_;
  const std::uint32_t state = pluginRss_ != 0 ? US_WAITING : US_UP_TO_DATE;
  IArticle* article = articles->FindById(digest);
  if (article != nullptr) {
    // Known: only an article whose data was lost is stored again, in place
    // (its read state and order stay).
    if (article->IsDeleted() || !channel->IsArticleDataMissing(article)) return;
  } else {
    article = channel->CreateArticle(digest, state, date);
  }
  if (article == nullptr || article->IsDeleted() || channel_ == nullptr) return;
  if (!header.empty()) article->SetTitle(DecodeHtmlEntities(header));
  channel->SetArticleProperties(article, item);
  const CStringSet urls = LimitBinaries(binaries, id);
  if (IBinarySet* set = article->GetBinaries(); set != nullptr) set->SetUrls(urls);
  std::u16string thumbnail;
  if (Lookup(item, u"thumbnail", thumbnail) && !thumbnail.empty()) article->SetImageUrl(thumbnail);
  article->SetManualUpdate(false);
  article->SetUpdateState(state);
  CDebugLog::GetInstance().Printf(u"Article (id = \"%s\", header = \"%s\") added.", id.c_str(), header.c_str());
}
