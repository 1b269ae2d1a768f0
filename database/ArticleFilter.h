// The live, sorted list of articles the article list screen shows: the live
// articles of one channel or of every channel. The filter follows the data
// bank's events and tells its own listeners when the screen must repaint:
// event 23 (the list was rebuilt) and event 24 (one row changed, with its
// index). The view state chooses its channels.
//
// The filter has no lock of its own: callers hold the channel set's lock (the
// data-bank lock) while they use it, as with every other data-model object.
#pragma once
#include <string>
#include <vector>

#include "database/DBEventListener.h"

class IArticle;
class IChannel;
class CChannelSet;

class CArticleFilter : public CDBEventListener {
 public:
  // Subscribes to the channel set under its lock (null: no channel set).
  explicit CArticleFilter(CChannelSet* channelSet);
  // Unsubscribes from the channel set under its lock, then Clear.
  ~CArticleFilter() override;

  void OnDBEvent(CDBEvent* record) override;
  // A live article of a channel the filter shows.
  virtual bool Accepts(IArticle* article);

  // Whether a comes before b in the list: dated before undated; the later
  // date first; then the larger order value; dated articles equal in both
  // then by channel name, the greater (ignoring case) first.
  static bool ComesBefore(IArticle* a, IArticle* b);

  int GetCount() const { return static_cast<int>(list_.size()); }
  IArticle* GetAt(int index) const;
  int IndexOf(const IArticle* article) const;
  // Exact comparison of ids.
  int FindIndexById(const std::u16string& id) const;
  IArticle* FindById(const std::u16string& id) const;

  int GetChannelCount() const { return static_cast<int>(channels_.size()); }
  bool ContainsChannel(const IChannel* channel) const;
  bool HasChannel(const IChannel* channel) const { return ContainsChannel(channel); }

  // Shows the channel's articles too: acquires the channel (its headers load
  // for the first user), listens to its article set, lists its live
  // articles, sorts and fires 23. Nothing for null or a channel shown already.
  void AddChannel(IChannel* channel);
  // The reverse; its articles leave the list, then sort and 23.
  void RemoveChannel(IChannel* channel);
  // Shows this channel alone; nothing when it is already shown alone. A null
  // channel leaves the list empty without an event.
  void SetChannel(IChannel* channel);
  // Lists a shown channel's articles anew, as they are now: its articles
  // leave the list, the filter's use of the channel ends and starts again (so
  // the headers are read again from disk when no one else uses the channel,
  // as in a reader of another process's writes), its live articles are
  // listed, then sort and 23. False, and nothing happens, for a channel that
  // is not shown.
  bool RefreshChannel(IChannel* channel);
  // Shows nothing: every channel released, the list empty. No event.
  void Clear();
  void RemoveAllChannels() { Clear(); }

  // Appends an accepted article that is not listed yet (no sort, no event).
  bool Insert(IArticle* article);
  // Takes a listed article out; with notify, sorts and fires 23.
  void Remove(IArticle* article, bool notify);
  void Resort();
  // Deletes every listed article (each becomes a tombstone), then 23.
  void DeleteAll();
  // Marks every article of the shown channels read, then 23.
  void MarkAllRead();
  // Under the channel set's lock: a listed article with manual update on, or
  // an article or binary of a shown channel waiting or updating.
  bool HasUpdatableArticles();

  // How many listed articles have their manual-update flag set.
  int GetManualCount() const { return manualCount_; }

 private:
  void Sort();
  void FireRebuilt();
  void FireRow(int index);
  void ForgetChannel(IChannel* channel);
  // Lists the accepted articles of the channel's article set (no sort, no event).
  void ListArticlesOf(IChannel* channel);
  // Takes every article of the channel out of the list, keeping the order of
  // the rest (no sort, no event).
  void UnlistArticlesOf(IChannel* channel);

  CChannelSet* channelSet_;
  std::vector<IChannel*> channels_;  // in the order they were added
  std::vector<IArticle*> list_;
  int manualCount_ = 0;
};

// The process's filter, created on first use (after the channel set, so that
// it goes before the set at exit).
CArticleFilter* GetArticleFilter();
