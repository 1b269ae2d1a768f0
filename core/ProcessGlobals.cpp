#include "core/ProcessGlobals.h"

#include "core/HtmlEntities.h"
#include "core/MimeTypes.h"
#include "core/PrivateHeap.h"
#include "platform/base/Device.h"
#include "platform/ipc/Ipc.h"

#include <mutex>

CProcessGlobals& CProcessGlobals::GetInstance() {
  static CProcessGlobals globals;
  return globals;
}

CProcessGlobals::CProcessGlobals() { Build(); }

CProcessGlobals::~CProcessGlobals() { Release(); }

void CProcessGlobals::Add(const char16_t* name, void (*release)(CProcessGlobals&)) {
  entries_.push_back({name, release});
  buildOrder_.push_back(name);
}

void CProcessGlobals::Register(const char16_t* name, plat::UINT& number) {
  number = plat::RegisterWindowMessageW(name);
  numbered_.emplace_back(name, &number);
  Add(name, nullptr);
}

void CProcessGlobals::Build() {
  if (built_) return;
  built_ = true;
  buildOrder_.clear();
  numbered_.clear();
  messagesDevice_ = plat::DeviceGeneration();
  OrvRegisteredMessages& m = messages_;

  Register(kMsgNameOrvNewsAcknowledge, m.orvNewsAcknowledge);
  Register(kMsgNameOrvNewsExit, m.orvNewsExit);
  // Constant data, complete before any code runs.
  static_cast<void>(g_HtmlEntities);
  Add(u"HTML entities", nullptr);
  Register(kMsgNameViewStateChanged, m.viewStateChanged);
  Register(kMsgNameUpdateNow, m.updateNow);
  Register(kMsgNameIsInterfaceOpen, m.isInterfaceOpen);
  Register(kMsgNameShowInterface, m.showInterface);
  Add(u"notification texts", nullptr);
  // The update engine creates its manager on first use.
  Add(u"update manager", nullptr);
  Add(u"updaters registry", nullptr);
  static_cast<void>(g_szDefaultBinaryExtension);
  Add(u"bin", nullptr);
  static_cast<void>(g_MimeTypes);
  Add(u"MIME types", nullptr);
  Add(u"feed item renames", nullptr);
  CPrivateHeap::GetProcessHeap();
  Add(u"private heap", nullptr);
  Add(u"template names", nullptr);
  Register(kMsgNameOdlcInvalidateRect, m.odlcInvalidateRect[0]);
  Register(kMsgNameOdlcInvalidateAll, m.odlcInvalidateAll[0]);
  Register(kMsgNamePostponedInvalidate, m.postponedInvalidate);
  Register(kMsgNameUpdateManagerChanged, m.updateManagerChanged);
  Register(kMsgNameHtmlCtrlReload, m.htmlCtrlReload);
  Register(kMsgNameImageLoaded, m.imageLoaded);
  Register(kMsgNamePrevNextArticle, m.prevNextArticle);
  Register(kMsgNameCurrentArticleChanged, m.currentArticleChanged);
  Register(kMsgNameSmartScrollingTapTimeout, m.smartScrollingTapTimeout);
  Add(u"catalogue texts", nullptr);
  // The layout services are set later by the framework; their clean-ups are
  // registered here, so they go in reverse of this order at exit.
  Add(u"plug-in environment", [](CProcessGlobals& g) { g.layoutServices_[kPluginEnvironment].Reset(); });
  Add(u"resource-package provider", [](CProcessGlobals& g) { g.layoutServices_[kResourceProvider].Reset(); });
  Add(u"plug-in factory", [](CProcessGlobals& g) { g.layoutServices_[kPluginFactory].Reset(); });
  Add(u"layout provider", [](CProcessGlobals& g) { g.layoutServices_[kLayoutProvider].Reset(); });
  for (int i = 1; i < 3; ++i) {
    Register(kMsgNameOdlcInvalidateRect, m.odlcInvalidateRect[i]);
    Register(kMsgNameOdlcInvalidateAll, m.odlcInvalidateAll[i]);
  }
  Add(u"global options", nullptr);
}

void CProcessGlobals::Release() {
  if (!built_) return;
  releaseOrder_.clear();
  while (!entries_.empty()) {
    Entry entry = std::move(entries_.back());
    entries_.pop_back();
    if (entry.release) entry.release(*this);
    releaseOrder_.push_back(std::move(entry.name));
  }
  // Services set after their clean-up ran (there is none here) still go.
  for (int i = kLayoutServiceCount - 1; i >= 0; --i) layoutServices_[i].Reset();
  messages_ = OrvRegisteredMessages{};
  numbered_.clear();
  built_ = false;
}

const OrvRegisteredMessages& CProcessGlobals::GetMessages() const {
  static std::mutex* lock = new std::mutex;
  std::lock_guard<std::mutex> g(*lock);
  const unsigned device = plat::DeviceGeneration();
  if (built_ && messagesDevice_ != device) {
    for (const auto& [name, number] : numbered_) *number = plat::RegisterWindowMessageW(name);
    messagesDevice_ = device;
  }
  return messages_;
}

void CProcessGlobals::SetLayoutService(LayoutService which, CRefCounted* service) {
  if (which < 0 || which >= kLayoutServiceCount) return;
  layoutServices_[which] = CRefPtr<CRefCounted>(service);
}

CRefCounted* CProcessGlobals::GetLayoutService(LayoutService which) const {
  if (which < 0 || which >= kLayoutServiceCount) return nullptr;
  return layoutServices_[which].Get();
}
