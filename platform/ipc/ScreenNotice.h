// The device-wide notice that something on the screen changed: a counter in a
// page shared by every process of the device ("run/screen-serial"). Painting,
// moving, showing, hiding and destroying top-level windows raise it; the
// display program waits for it to move instead of looking at the surfaces
// again and again. Waking costs nothing while nobody waits.
#pragma once

#include <cstdint>

#include "platform/base/Types.h"

namespace plat {

// Raises the counter and wakes whoever waits for it.
void NotifyScreenChanged();
// The counter now (0 when the page cannot be had).
std::uint32_t ScreenChangeSerial();
// Waits until the counter differs from seen or timeoutMs passed (INFINITE: no
// limit); returns the counter then.
std::uint32_t WaitScreenChange(std::uint32_t seen, DWORD timeoutMs);

}  // namespace plat
