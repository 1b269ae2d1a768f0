// The 16-byte identifier of interfaces, classes and connection destinations.
#pragma once

#include "platform/base/Types.h"

namespace plat {

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

}  // namespace plat
