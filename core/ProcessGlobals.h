// The process-wide globals: the numbers of the registered window messages and
// the counted service pointers of the layout framework.
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
// updaters registry, the program options and the shared texts (the Today
// notification names in database/NotifyToday.h, the catalogue's value names
// in app/CatalogRequest.h, the template names in update/script/TemplateNames.h) have
// no instance here; their entries are kept in the order as markers and do
// nothing.
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
