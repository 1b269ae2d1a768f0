// Text of the system (UTF-16) as test messages show it.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/Text.h"

namespace orvtest {

inline std::string Utf8(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

}  // namespace orvtest
