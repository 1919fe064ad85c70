#pragma once
// The copy of a picture out of a camera's buffer with its lines shown on the way, for
// the drivers' GetImageRequestBufferImageLines.

#include <cstdint>

#include "shell/CameraDriver.h"

namespace ostrelo {

// Copies `lines` lines of `width` bytes, sourcePitch apart in source, into destination
// without padding. With an observer, band by band: each band is shown to it, then copied
// while the observer's reading has it in the cache; a large picture is written past the
// cache, which it would only flush.
void CopyLinesShown(const uint8_t* source, int64_t sourcePitch, int32_t width, int32_t lines, uint8_t* destination,
                    LineObserver* observer);

}  // namespace ostrelo
