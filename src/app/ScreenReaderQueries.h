#pragma once
// When a screen reader last asked the window something through AT-SPI: the live view
// lets such questions be answered before it grabs again.

#include <cstdint>

namespace ostrelo::qtui {

// Notes each question from then on.
void WatchScreenReaderQueries();

// How long ago a screen reader last asked the window something (very large if never).
int64_t SinceScreenReaderQueryMs();

}  // namespace ostrelo::qtui
