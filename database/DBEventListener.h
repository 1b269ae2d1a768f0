// Events of the feed data model. Every model object (channel set, channel,
// article set, article, binary set, binary) and every object that watches one
// is a CDBEventListener: it keeps the listeners subscribed to it, fires event
// records to them and receives records through OnDBEvent. Delivery is
// synchronous, on the thread that made the change, under the data-bank lock.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class IUpdateItem;
class IChannel;
class IBinarySet;
class IArticleSet;
class IArticle;
class IBinary;
class CArticleFilter;

// Event type codes.
enum DBEventType : std::uint32_t {
  DBE_NONE = 0,                        // not sent
  DBE_UPDATE_STATUS_CHANGED = 1,       // item, old status
  DBE_BINARY_RENAMED = 2,              // binary: its local file got a new extension
  DBE_BINARY_REMOVED = 3,              // binary set, binary
  DBE_BINARY_STATE_CHANGED = 4,        // binary: download state changed
  DBE_BINARY_SET_REFILLED = 5,         // binary set
  DBE_BINARY_ADDED = 6,                // binary set, binary
  DBE_ARTICLE_DELETED = 7,             // article became a tombstone
  DBE_ARTICLE_TITLE_CHANGED = 8,       // article, old text
  DBE_ARTICLE_DATE_CHANGED = 9,        // article
  DBE_ARTICLE_IMAGE_CHANGED = 10,      // article
  DBE_ARTICLE_RESERVED = 11,           // not sent
  DBE_ARTICLE_TAKEN_OUT = 12,          // article taken out of its article set
  DBE_ARTICLE_UPDATE_ENDED = 13,       // own update ended, or show the article again
  DBE_ARTICLE_DONE = 14,               // article and its binaries done
  DBE_ARTICLE_MANUAL_UPDATE_CHANGED = 15,
  DBE_ARTICLE_READ_CHANGED = 16,
  DBE_ARTICLE_ADDED = 17,              // article added to an article set
  DBE_CHANNEL_CHANGED = 18,            // channel
  DBE_CHANNEL_RENAMED = 19,            // channel, old text
  DBE_CHANNEL_REMOVED = 20,            // channel removed from the channel set
  DBE_CHANNEL_AT_INDEX_CHANGED = 21,   // index
  DBE_CHANNEL_LIST_CHANGED = 22,       // none
  DBE_FILTER_REBUILT = 23,             // filter
  DBE_ROW_CHANGED = 24,                // article set and article, or filter and index
};

// The status value of a record that carries none.
constexpr std::uint32_t kNoOldStatus = 7;

// One event, built on the sender's stack and passed by pointer; receivers never
// keep it. A fresh record has every number and pointer 0, empty texts and old
// status 7. Each maker sets exactly the fields of its type.
struct CDBEvent {
  std::uint32_t type = DBE_NONE;
  std::int32_t index = 0;
  CArticleFilter* filter = nullptr;
  IChannel* channel = nullptr;
  IBinarySet* binarySet = nullptr;
  IArticleSet* articleSet = nullptr;
  IArticle* article = nullptr;
  IBinary* binary = nullptr;
  IUpdateItem* item = nullptr;
  std::u16string text1;
  std::u16string text2;
  std::u16string oldText;
  std::uint32_t oldStatus = kNoOldStatus;

  CDBEvent() = default;
  explicit CDBEvent(std::uint32_t eventType) : type(eventType) {}

  static CDBEvent UpdateStatusChanged(IUpdateItem* item, std::uint32_t oldStatus);
  // Types 2 and 4.
  static CDBEvent ForBinary(std::uint32_t eventType, IBinary* binary);
  // Types 3 and 6.
  static CDBEvent ForBinaryInSet(std::uint32_t eventType, IBinarySet* binarySet, IBinary* binary);
  static CDBEvent BinarySetRefilled(IBinarySet* binarySet);
  // Types 7 and 9 to 17.
  static CDBEvent ForArticle(std::uint32_t eventType, IArticle* article);
  static CDBEvent ArticleTitleChanged(IArticle* article, const std::u16string& oldTitle);
  // Types 18 and 20.
  static CDBEvent ForChannel(std::uint32_t eventType, IChannel* channel);
  static CDBEvent ChannelRenamed(IChannel* channel, const std::u16string& oldName);
  static CDBEvent ChannelAtIndexChanged(std::int32_t index);
  static CDBEvent ChannelListChanged();
  static CDBEvent FilterRebuilt(CArticleFilter* filter);
  static CDBEvent ArticleRowChanged(IArticleSet* articleSet, IArticle* article);
  static CDBEvent FilterRowChanged(CArticleFilter* filter, std::int32_t index);
};

class CDBEventListener {
 public:
  CDBEventListener() = default;
  // Does not unsubscribe: whoever destroys a listener first unsubscribes it
  // from every source it joined.
  virtual ~CDBEventListener();
  CDBEventListener(const CDBEventListener&) = delete;
  CDBEventListener& operator=(const CDBEventListener&) = delete;

  // Makes this object a listener of source (null: nothing). During a delivery
  // of source the change waits until the delivery ends.
  virtual void Subscribe(CDBEventListener* source);
  // The reverse. A listener unsubscribed during a delivery gets nothing more of
  // that delivery (nor of nested ones), so it may be deleted right after.
  virtual void Unsubscribe(CDBEventListener* source);
  // Delivers the record to every listener. A listener that throws loses that
  // event only. Pending subscription changes apply when the outermost delivery
  // ends: removals first, then additions, each in the order queued.
  virtual void Fire(CDBEvent* record);
  // The receiver's handler; the base does nothing.
  virtual void OnDBEvent(CDBEvent* record);

  bool HasListener(const CDBEventListener* listener) const;
  std::size_t GetListenerCount() const { return listeners_.size(); }
  int GetDeliveryDepth() const { return depth_; }

 private:
  void AddListener(CDBEventListener* listener);
  void RemoveListener(CDBEventListener* listener);
  bool IsRemovedDuringDelivery(const CDBEventListener* listener) const;

  std::unordered_set<CDBEventListener*> listeners_;
  std::int32_t depth_ = 0;
  std::vector<CDBEventListener*> pendingAdditions_;
  std::vector<CDBEventListener*> pendingRemovals_;
};
