#include "shell/VectorLevel.h"

#include <algorithm>
#include <atomic>

namespace ostrelo {

namespace {

VectorLevel Detected() {
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi2")) {
    return VectorLevel::Avx512;
  }
  if (__builtin_cpu_supports("avx2")) return VectorLevel::Avx2;
  return VectorLevel::Sse2;
#else
  return VectorLevel::Plain;
#endif
}

std::atomic<VectorLevel> cap{VectorLevel::Avx512};

}  // namespace

VectorLevel Vectors() {
  static const VectorLevel detected = Detected();
  return std::min(detected, cap.load(std::memory_order_relaxed));
}

void CapVectors(VectorLevel widest) { cap.store(widest, std::memory_order_relaxed); }

}  // namespace ostrelo
