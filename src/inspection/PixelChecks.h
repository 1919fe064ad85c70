#pragma once
// The switches and thresholds of the pixel checks, as the operator sets them.

#include <cstdint>
#include <string_view>

namespace ostrelo {

inline constexpr int32_t kSaturationThresholdMin = 10;
inline constexpr int32_t kSaturationThresholdMax = 255;
inline constexpr int32_t kNoSignalThresholdMin = 0;
inline constexpr int32_t kNoSignalThresholdMax = 240;

// A threshold typed by the operator: the number the text begins with (0 when there is
// none), rounded half to even, then held within [low, high]. Numbers far beyond 32 bits
// clamp like any other.
int32_t ReadThreshold(std::string_view text, int32_t low, int32_t high);

}  // namespace ostrelo
