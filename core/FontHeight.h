// Height of a font as the screen draws it.
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"

// tmHeight of the font selected into the screen's DC (the DC's font is put
// back and the DC released); 0 when the metrics cannot be read.
std::int32_t GetFontHeight(plat::HFONT font);
