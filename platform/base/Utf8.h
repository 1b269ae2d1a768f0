// Appending one code point to UTF-8 text.
#pragma once

#include <string>

namespace plat {

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace plat
