// The registered window messages of the programs: their names and the
// numbers the process got for them. The numbers are registered in the order
// of the process globals (core/ProcessGlobals.h) and are 0 until then.
#pragma once

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

// The process's numbers (the first call builds the process globals).
const OrvRegisteredMessages& GetRegisteredMessages();
