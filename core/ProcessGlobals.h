// The process-wide globals: the numbers of the registered window messages
// (core/RegisteredMessages.h) and the counted service pointers of the layout
// framework.
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
// in app/wizard/CatalogRequest.h, the template names in update/script/TemplateNames.h) have
// no instance here; their entries are kept in the order as markers and do
// nothing.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/RefCounted.h"
#include "core/RegisteredMessages.h"
#include "platform/base/Types.h"

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

  // The numbers as the current device gives them: a process that moves to
  // another device (SetDeviceRoot) asks that device's numbers again.
  const OrvRegisteredMessages& GetMessages() const;

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
  mutable OrvRegisteredMessages messages_;
  // Each registered name with where its number is kept, in build order.
  std::vector<std::pair<const char16_t*, plat::UINT*>> numbered_;
  mutable unsigned messagesDevice_ = 0;
  CRefPtr<CRefCounted> layoutServices_[kLayoutServiceCount];
  std::vector<Entry> entries_;  // built entries, in order
  std::vector<std::u16string> buildOrder_;
  std::vector<std::u16string> releaseOrder_;
};
