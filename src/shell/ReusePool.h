#pragma once
// A few buffers handed out again once nobody holds them: a drawing that is still pending
// keeps its own, and the grab does not allocate anew five times a second.

#include <array>
#include <cstddef>
#include <memory>

namespace ostrelo {

template <typename T, size_t N>
class ReusePool {
 public:
  // One that only the pool holds, or a new one kept in place of the oldest.
  std::shared_ptr<T> Free() {
    for (auto& item : items_) {
      if (item != nullptr && item.use_count() == 1) return item;
    }
    auto fresh = std::make_shared<T>();
    items_[next_++ % N] = fresh;
    return fresh;
  }

 private:
  std::array<std::shared_ptr<T>, N> items_;
  size_t next_ = 0;
};

}  // namespace ostrelo
