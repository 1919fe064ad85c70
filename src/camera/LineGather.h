#pragma once
// Picks bytes out of a line at fixed offsets: one grey level per view column, from a
// camera line that may be several times wider. The view is taken at every grab.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrelo {

class LineGather {
 public:
  // offsets: the byte of the line each output byte takes, non-decreasing; lineBytes: how
  // many bytes of every line may be read.
  void Prepare(std::vector<uint32_t> offsets, size_t lineBytes);
  // out receives offsets().size() bytes.
  void Run(const uint8_t* line, uint8_t* out) const;
  const std::vector<uint32_t>& offsets() const { return offsets_; }

  // Sixteen outputs at a time by byte shuffles, where the processor has them: a block
  // reads `pieces` 16-byte pieces of the line from `base`, one shuffle mask per piece.
  struct Block {
    uint32_t base = 0, pieces = 0, firstMask = 0;
  };

 private:
  std::vector<uint32_t> offsets_;
  std::vector<Block> blocks_;  // outputs [0, 16 * blocks_.size())
  std::vector<std::array<uint8_t, 16>> masks_;
};

}  // namespace ostrelo
