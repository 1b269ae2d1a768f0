// The update jobs of script channels. CChannelJob loads the channel's
// template, applies its properties, runs the template's "parse_channel"
// script over the global object "channel" and turns what the script left
// behind into channel properties and articles. CArticleJob runs
// "parse_article" over the global object "article" and stores the result in
// the article. Both run on the update worker without holding any lock; Stop
// and the data-bank events come from other threads.
//
// Locks: every step that touches the database takes the data-bank lock (the
// channel set's) and then the job's own lock (the interpreter's), and
// releases both before network or script work.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/StringMaps.h"
#include "database/DBEventListener.h"
#include "platform/base/Time.h"
#include "update/script/JScriptInterpreter.h"
#include "update/jobs/UpdateJob.h"

class IArticle;
class IChannel;
class IChannelSet;
class IUpdateItem;

class CChannelJob : public CUpdateJob, public CDBEventListener, public CJScriptInterpreter {
 public:
  explicit CChannelJob(IChannel* channel);
  ~CChannelJob() override;

  // CUpdateJob
  void Run() override;
  void Stop() override;
  IUpdateItem* GetItem() override;

  // CDBEventListener: a removed channel stops the job.
  void OnDBEvent(CDBEvent* record) override;

  // The channel the job still holds (null once it let it go).
  IChannel* GetChannel() const { return channel_; }
  // The channel turned out to be a feed and was left to the feed job.
  bool WasHandedOver() const { return handedOver_; }
  // What Execute answered in Run (false when no script ran).
  bool GetResult() const { return result_; }

 protected:
  // Base part of an article job: channel is the article's channel; nothing is
  // subscribed or logged here.
  CChannelJob(IChannel* channel, bool forArticle);

  virtual bool Prepare();
  virtual void Finish();

  // Turns the script's article object at idx into an article of the channel.
  // Call with no lock held; takes the locks itself.
  void AddArticleFromScript(duk_context* ctx, duk_idx_t idx);
  void AddArticle(CStringToStringMap properties, const plat::FILETIME& date);

  bool ReadChannelObject();
  void ReadArticles();
  // Marks the channel failed and lets it go (after an unexpected failure).
  virtual void FailAndLetGo() noexcept;
  // Sets the channel (null: let go) and the item GetItem answers.
  void SetChannel(IChannel* channel);

  IChannelSet* channelSet_ = nullptr;
  std::u16string script_;
  IChannel* channel_ = nullptr;
  bool result_ = false;
  bool handedOver_ = false;
  // An article of this run could not be stored (its stored properties could
  // not be read): the run fails.
  bool storeFailed_ = false;
  // The job is one of the channel's users (Acquire).
  bool acquired_ = false;
  // Binaries the run's articles have added, against the per-update limit.
  std::size_t binariesMade_ = 0;
  // Set by Stop: nothing changes after it.
  std::atomic<bool> stopped_{false};
  // What GetItem answers without taking a lock: the manager asks while it
  // holds its own lock, which the job's event deliveries take after the job's.
  std::atomic<IUpdateItem*> item_{nullptr};
  CStringSet articleKeys_;
};

class CArticleJob : public CChannelJob {
 public:
  explicit CArticleJob(IArticle* article);
  ~CArticleJob() override;

  void Stop() override;
  IUpdateItem* GetItem() override;
  // A removed channel, or a deleted or taken-out article, stops the job.
  void OnDBEvent(CDBEvent* record) override;

  IArticle* GetArticle() const { return article_; }

 protected:
  bool Prepare() override;
  void Finish() override;
  void FailAndLetGo() noexcept override;

 private:
  void LetGo();

  IArticle* article_ = nullptr;
  // The script's article object was made (a script runs).
  bool ran_ = false;
  CDBEventListener* articleSet_ = nullptr;
};
