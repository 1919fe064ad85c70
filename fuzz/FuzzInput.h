#pragma once
// Turns fuzz bytes into the values an operator can produce.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace ostrelo::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool more() const { return pos_ < size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }

  // A text of up to 63 bytes, any bytes but NUL.
  std::string Text() {
    const size_t n = Byte() % 64;
    std::string s;
    for (size_t i = 0; i < n && more(); ++i) {
      const char c = static_cast<char>(Byte());
      if (c != '\0') s += c;
    }
    return s;
  }

  // A pointer coordinate: mostly inside or near a view, sometimes far outside or not finite.
  double Coordinate() {
    switch (Byte() % 8) {
      case 0: return -static_cast<double>(Word());
      case 1: return std::numeric_limits<double>::infinity();
      case 2: return -std::numeric_limits<double>::infinity();
      case 3: return std::numeric_limits<double>::quiet_NaN();
      case 4: return 1e300 * (Byte() % 2 ? 1 : -1);
      case 5: return static_cast<double>(Word()) + Byte() / 256.0;
      default: return static_cast<double>(Word() % 1100) - 100.0 + Byte() / 256.0;
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Stops the run with a message when an invariant breaks, so the fuzzer records the input.
#define OSTRELO_FUZZ_CHECK(cond)                                                         \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

}  // namespace ostrelo::fuzz
