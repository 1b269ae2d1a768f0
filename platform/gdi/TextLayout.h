// The lines DrawTextW would draw for a text, a rectangle and a format (after
// prefix handling, line and word breaking and ellipsis), for tests and for
// callers that need to know the layout before drawing.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace plat {

std::vector<std::u16string> LayoutTextLines(HDC hdc, const std::u16string& text, const RECT& rect, UINT format);

}  // namespace plat
