#pragma once
// Gathers the lines a camera's copy shows, checking they come in order from line 0.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "shell/CameraDriver.h"

namespace ostrelo::testing {

struct ShownLines final : LineObserver {
  explicit ShownLines(int32_t lineWidth) : width(lineWidth) {}
  void Lines(int32_t first, int32_t count, const uint8_t* p, int64_t pitch) override {
    EXPECT_EQ(int64_t{first} * width, static_cast<int64_t>(seen.size()));
    for (int32_t y = 0; y < count; ++y) seen.insert(seen.end(), p + y * pitch, p + y * pitch + width);
  }
  int32_t width;
  std::vector<uint8_t> seen;
};

}  // namespace ostrelo::testing
