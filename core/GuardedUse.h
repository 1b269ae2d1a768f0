// A resource shared by several users: the first use opens it, the last one
// to end releases the interface it holds.
#pragma once

#include "platform/base/Sync.h"
#include "platform/base/Types.h"
#include "platform/imaging/Com.h"

struct CGuardedUse {
  plat::CRITICAL_SECTION section;
  plat::LONG useCount = 0;
  bool open = false;
  plat::IUnknown* object = nullptr;  // one count held while open
};

// Ends one use under the resource's critical section: at a use count of 0 the
// open flag is cleared and the interface released (and forgotten). The
// section is left on every path, also when the release throws.
void ReleaseGuardedUse(CGuardedUse& resource);
