// The exception of the layout framework and the screens: one HRESULT-style
// code (0x84000001 bad layout data, 0x8007000E out of memory, 0x80070057
// invalid argument, 0x80004005 failure, or a code made from a system error).
#pragma once

#include "platform/base/Types.h"

constexpr plat::HRESULT ORV_E_LAYOUT = static_cast<plat::HRESULT>(0x84000001u);

class COrvException {
 public:
  explicit COrvException(plat::HRESULT code) : code_(code) {}
  plat::HRESULT GetCode() const { return code_; }

 private:
  plat::HRESULT code_;
};
