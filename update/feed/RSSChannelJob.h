// The job that updates one channel from its RSS 2.0, RSS 1.0 (RDF) or Atom
// feed: it resolves the feed address, sends the optional rating ping,
// downloads the feed (or reads a local file), takes the channel's own
// properties from it and adds an article for every item whose id the
// channel does not know yet. Images and enclosures of the new articles
// become binaries that their own jobs download.
#pragma once

#include <cstdint>
#include <string>

#include "core/StringMaps.h"
#include "core/Synchronized.h"
#include "database/DBEventListener.h"
#include "platform/base/Time.h"
#include "update/jobs/UpdateJob.h"

class IChannel;
namespace Tidy {
class Document;
class Node;
}  // namespace Tidy

class CRSSChannelJob : public CUpdateJob, public CDBEventListener, public CSynchronized {
 public:
  // pluginRss: the channel is a plug-in channel whose template declares an
  // RSS feed; its new articles then wait for their own article jobs.
  CRSSChannelJob(IChannel* channel, int pluginRss);
  ~CRSSChannelJob() override;

  void Run() override;
  void Stop() override;
  IUpdateItem* GetItem() override;

  // Removal of this job's channel from the channel set stops the job.
  void OnDBEvent(CDBEvent* record) override;

  // The feed's title as plain text; false when the document is no feed.
  static bool GetFeedTitle(Tidy::Document* document, std::u16string& title);

  // Processes a parsed feed document into the channel (what Run does after
  // the download); true when it was recognised as a feed.
  bool ProcessDocument(Tidy::Document* document);

  // What the job for a channel of type "@RSS" will download, read as Run
  // reads it: the feed's address and the validators sent with it. False
  // when it downloads nothing (no address, a local file). Under the
  // database lock. A channel whose articles are not loaded counts as having
  // their data: should it be missing, the job asks without validators.
  static bool GetFeedRequest(IChannel* channel, std::u16string& address, std::u16string& etag,
                             std::u16string& lastModified);

  bool Succeeded() const { return success_; }
  const std::u16string& GetAddress() const { return address_; }
  const CStringSet& GetSeenIds() const { return seenIds_; }
  // The pluginRss flag the job was made with.
  int GetPluginRss() const { return pluginRss_; }

 private:
  // The item's binary URLs within the limits (the rest skipped, logged).
  CStringSet LimitBinaries(const CStringList& binaries, const std::u16string& id);
  bool ParseRdf(Tidy::Document* document, Tidy::Node* root);
  bool ParseRssAndAtom(Tidy::Document* document, Tidy::Node* root);
  bool AddRssAtomArticle(Tidy::Document* document, Tidy::Node* element);
  // Records the id as met in this run; true when the channel knows it
  // already (or is gone), so the item needs no further work.
  bool IsKnown(const std::u16string& digest);
  void CreateArticle(const std::u16string& id, const std::u16string& header, const plat::FILETIME& date,
                     CStringToStringMap& item, const CStringList& binaries);

  std::u16string address_;
  bool success_ = false;
  IChannel* channel_ = nullptr;
  bool itemSeen_ = false;
  bool entrySeen_ = false;
  int pluginRss_ = 0;
  bool scriptChannel_ = false;
  CStringSet seenIds_;
  // Binaries this update made, against the limits per article and per update.
  struct BinaryLimits {
    bool read = false;
    std::size_t perArticle = 0;
    std::size_t perUpdate = 0;
    std::size_t made = 0;
  } binaryLimits_;
};
