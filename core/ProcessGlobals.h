// The process-wide globals: the numbers of the registered window messages, the
// fixed texts that several subsystems share, and the counted service pointers
// of the layout framework.
//
// They are built in one fixed order (BuildOrder lists it) and released in the
// reverse order. The process's own set is built on the first GetInstance and
// released at exit. A registration that fails leaves its number 0; nothing
// here reports a failure.
//
// Entries that are built elsewhere keep their own life: the HTML entity and
// MIME tables are constant data (HtmlEntities.h, MimeTypes.h), the default
// private heap is CPrivateHeap::GetProcessHeap (touched here in its turn), and
// the update manager is created by the update engine on first use. The
// updaters registry and the program options have no instance here yet; their
// entries are kept in the order as markers and do nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/RefCounted.h"
#include "platform/base/Types.h"

// Names of the registered window messages.
inline constexpr const char16_t* kMsgNameOrvNewsAcknowledge = u"Orv News acknowledge";
inline constexpr const char16_t* kMsgNameOrvNewsExit = u"Orv News exit";
inline constexpr const char16_t* kMsgNameViewStateChanged = u"48D1000C-0D36-4050-915D-F045C740F3C5";
inline constexpr const char16_t* kMsgNameUpdateNow = u"59F06DBC-9A67-4573-B630-3250852ED285";
inline constexpr const char16_t* kMsgNameIsInterfaceOpen = u"7179BB91-60E6-4b2f-8D1B-A443CAD6A1FA";
inline constexpr const char16_t* kMsgNameShowInterface = u"8C95A4BA-B836-4105-AD6D-07F6549355C4";
inline constexpr const char16_t* kMsgNamePostponedInvalidate = u"postponed invalidate";
inline constexpr const char16_t* kMsgNameUpdateManagerChanged = u"MyUpdateManagerChanged";
inline constexpr const char16_t* kMsgNameHtmlCtrlReload = u"HtmlCtrlReload";
inline constexpr const char16_t* kMsgNameImageLoaded = u"MyImageLoaded";
inline constexpr const char16_t* kMsgNamePrevNextArticle = u"MyPrevNextArticle";
inline constexpr const char16_t* kMsgNameCurrentArticleChanged = u"MyCurrentArticleChanged";
inline constexpr const char16_t* kMsgNameSmartScrollingTapTimeout = u"OrvSmartScrolling_TapTimeoutMessage";
inline constexpr const char16_t* kMsgNameOdlcInvalidateRect = u"ODLCInvalidateRect";
inline constexpr const char16_t* kMsgNameOdlcInvalidateAll = u"ODLCInvalidateAll";

// Today-screen notification.
inline constexpr const char16_t* kNotifyMutexName = u"827584C5-B750-4dce-8665-CAE2B3037BAE";
inline constexpr const char16_t* kNotifyEventName = u"085B13A8-66A5-46f2-B03A-6A18BA1E4C43";
inline constexpr const char16_t* kNotifyChangeRecordValue = u"D20926EB-4EA7-47dc-B17F-987CCCBA69CB";
inline constexpr const char16_t* kNotifyAllChannelsChanged = u"2F1AD2CA-9E7C-4895-9008-4A2480628B99";
inline constexpr const char16_t* kNotifyNothingPending = u"DAADA2BC-0064-4289-8BC8-A825F8374003";

// Feed item elements stored under another name: {element, stored name}.
struct ElementRename {
  const char16_t* element;
  const char16_t* storedAs;
};
inline constexpr ElementRename kFeedItemRenames[2] = {{u"title", u"header"}, {u"id", u"id"}};

// Channel templates: element, attribute and function names.
inline constexpr const char16_t* kTemplateElement = u"template";
inline constexpr const char16_t* kTemplateChannel = u"channel";
inline constexpr const char16_t* kTemplateName = u"name";
inline constexpr const char16_t* kTemplateUrl = u"url";
inline constexpr const char16_t* kTemplateParseArticle = u"parse_article";
inline constexpr const char16_t* kTemplateParseChannel = u"parse_channel";

// Online catalogue of the add-channels wizard (registry value names and the
// default address, to which the wizard appends its query keys).
inline constexpr const char16_t* kOnlineCatalogUrlValue = u"OnlineCatalogUrl";
inline constexpr const char16_t* kDefaultOnlineCatalogUrl = u"http://catalog.orvnews.com/xml.php";
inline constexpr const char16_t* kLastSearchValue = u"LastSearch";
inline constexpr const char16_t* kLastWebOpmlUrlValue = u"LastWebOpmlUrl";

// The numbers of the registered window messages (0 until built, or when the
// registration failed).
struct OrvRegisteredMessages {
  plat::UINT orvNewsAcknowledge = 0;
  plat::UINT orvNewsExit = 0;
  plat::UINT viewStateChanged = 0;
  plat::UINT updateNow = 0;
  plat::UINT isInterfaceOpen = 0;
  plat::UINT showInterface = 0;
  plat::UINT odlcInvalidateRect[3] = {};  // registered three times; nobody reads them
  plat::UINT odlcInvalidateAll[3] = {};
  plat::UINT postponedInvalidate = 0;
  plat::UINT updateManagerChanged = 0;
  plat::UINT htmlCtrlReload = 0;
  plat::UINT imageLoaded = 0;
  plat::UINT prevNextArticle = 0;
  plat::UINT currentArticleChanged = 0;
  plat::UINT smartScrollingTapTimeout = 0;
};

class CProcessGlobals {
 public:
  // The counted service pointers of the layout framework, in the order their
  // clean-ups are registered.
  enum LayoutService { kPluginEnvironment, kResourceProvider, kPluginFactory, kLayoutProvider, kLayoutServiceCount };

  // The process's globals: built on the first call, released at exit.
  static CProcessGlobals& GetInstance();

  // A set of its own, built at once (the process uses GetInstance).
  CProcessGlobals();
  ~CProcessGlobals();  // Release
  CProcessGlobals(const CProcessGlobals&) = delete;
  CProcessGlobals& operator=(const CProcessGlobals&) = delete;

  // Builds every entry in order; nothing when already built.
  void Build();
  // Releases what was built, in reverse order.
  void Release();
  bool IsBuilt() const { return built_; }

  const OrvRegisteredMessages& GetMessages() const { return messages_; }

  // Sets or clears (null) a layout service: the set holds one count of it
  // until replaced or released.
  void SetLayoutService(LayoutService which, CRefCounted* service);
  CRefCounted* GetLayoutService(LayoutService which) const;

  // The names of the entries in the order they were built and in the order
  // the last Release took them down.
  const std::vector<std::u16string>& GetBuildOrder() const { return buildOrder_; }
  const std::vector<std::u16string>& GetReleaseOrder() const { return releaseOrder_; }

 private:
  struct Entry {
    std::u16string name;
    void (*release)(CProcessGlobals&);  // may be null
  };
  void Add(const char16_t* name, void (*release)(CProcessGlobals&));
  void Register(const char16_t* name, plat::UINT& number);

  bool built_ = false;
  OrvRegisteredMessages messages_;
  CRefPtr<CRefCounted> layoutServices_[kLayoutServiceCount];
  std::vector<Entry> entries_;  // built entries, in order
  std::vector<std::u16string> buildOrder_;
  std::vector<std::u16string> releaseOrder_;
};

// Through CProcessGlobals::GetInstance.
const OrvRegisteredMessages& GetRegisteredMessages();
