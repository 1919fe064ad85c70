// The grab's own work per frame, with a camera and a card that answer at once, next to
// a plain memcpy of the same frame measured in the same run.
//
//   ostrelo_bench_grab --benchmark_min_time=0.2
//
// Counters: grab_ms (mean time of one grab), memcpy_ms (one memcpy of the frame),
// x_memcpy (their ratio) and pct_of_200ms (share of the live view's period). Both
// times are the thread's processor time, so other work on a shared machine does not
// skew the ratio.
//
// BM_Mono16ToGrey: a Mono16 frame brought to 8-bit grey as the Aravis backend does for
// a camera without Mono8 (top 8 bits of each pixel, line by line), next to a memcpy of
// the frame's own bytes (two a pixel). Both read frames that are not in the cache, as
// a frame fresh from the camera is not: convert_ms, cold_copy_ms, x_cold_copy.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/GrabFrame.h"
#include "camera/aravis/PixelConversion.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/DaqDriver.h"
#include "shell/Form1.h"
#include "shell/Platform.h"

namespace ostrelo {
namespace {

// A card whose four inputs hold constant voltages and whose reads return at once.
class InstantDaq final : public DaqDriver {
 public:
  int32_t CreateTask(const std::string&, DaqTaskHandle* task) override {
    *task = 1;
    return 0;
  }
  int32_t ClearTask(DaqTaskHandle) override { return 0; }
  int32_t CreateAIVoltageChan(DaqTaskHandle, const std::string&, const std::string&, int32_t, double, double, int32_t,
                              const std::string&) override {
    ++channels_;
    return 0;
  }
  int32_t CfgSampClkTiming(DaqTaskHandle, const std::string&, double, int32_t, int32_t, uint64_t) override {
    return 0;
  }
  int32_t GetTaskNumChans(DaqTaskHandle, uint32_t* data) override {
    *data = channels_;
    return 0;
  }
  int32_t ReadAnalogF64(DaqTaskHandle, int32_t n, double, uint32_t, double* readArray, uint32_t size,
                        int32_t* read, uint32_t*) override {
    std::fill(readArray, readArray + size, -1.25);
    *read = n;
    return 0;
  }
  int32_t GetErrorString(int32_t, char* text, uint32_t size) override {
    if (size == 0) return 1;
    text[0] = '\0';
    return 0;
  }

 private:
  uint32_t channels_ = 0;
};

class SilentDialogs final : public Dialogs {
 public:
  void MessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  std::optional<std::string> ShowSave(const SaveDialogRequest&) override { return std::nullopt; }
  void SetBusyPointer(bool) override {}
};

double ThreadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Mean milliseconds of one memcpy of a frame of this many bytes (best of a few rounds,
// as the grab benchmark runs warm too).
double MemcpyMs(size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5a), to(bytes + 1, 0);
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    constexpr int kCopies = 20;
    const double t0 = ThreadMs();
    for (int i = 0; i < kCopies; ++i) {
      from[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
      std::memcpy(to.data(), from.data(), bytes);
      benchmark::DoNotOptimize(to.data());
      benchmark::ClobberMemory();
    }
    best = std::min(best, (ThreadMs() - t0) / kCopies);
  }
  return best;
}

void BM_Grab(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const bool checks = state.range(2) != 0;

  ManualClock clock;
  SimulatedCamera camera(clock, width, height);
  // Only the first pictures are painted: the camera's own frame generation is not the
  // grab's work. Its buffers are reused, so later pictures keep that content.
  camera.SetPainter([](uint8_t* p, int32_t w, int32_t h, uint64_t k) {
    if (k >= 8) return;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((x ^ y) + k);
    }
  });
  InstantDaq daq;
  SilentDialogs dialogs;
  auto form = std::make_unique<Form1>(Devices{camera, nullptr, daq, clock, dialogs});
  if (!form->Load()) {
    state.SkipWithError("start-up failed");
    return;
  }
  form->st.DaqAcquisitionOn = true;
  form->st.SaturationCheckOn = checks;
  form->st.NoSignalCheckOn = checks;
  form->st.HistogramOn = checks;
  form->st.SaturationThreshold = 250;
  form->st.NoSignalThreshold = 5;
  for (int i = 0; i < 3; ++i) GrabFrame(*form);  // warm: buffers and tables in place

  const double t0 = ThreadMs();
  int64_t grabs = 0;
  for (auto _ : state) {
    GrabFrame(*form);
    ++grabs;
  }
  const double grabMs = (ThreadMs() - t0) / static_cast<double>(grabs);
  const double memcpyMs = MemcpyMs(static_cast<size_t>(width) * height);
  state.counters["grab_ms"] = grabMs;
  state.counters["memcpy_ms"] = memcpyMs;
  state.counters["x_memcpy"] = grabMs / memcpyMs;
  state.counters["pct_of_200ms"] = grabMs / 200.0 * 100.0;
  state.SetBytesProcessed(grabs * width * height);
  form->Unload();
}

void BM_Memcpy(benchmark::State& state) {
  const auto bytes = static_cast<size_t>(state.range(0) * state.range(1));
  std::vector<uint8_t> from(bytes, 0x5a), to(bytes + 1, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// The last-level cache of the first processor as the kernel describes it (glibc's
// figure may be the whole machine's); glibc's figure or 64 MiB when it does not.
size_t LastLevelCacheBytes() {
  size_t best = 0;
  int bestLevel = 0;
  for (int index = 0; index < 8; ++index) {
    const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
    std::ifstream levelFile(dir + "level"), sizeFile(dir + "size");
    int level = 0;
    size_t size = 0;
    char unit = 'K';
    if (!(levelFile >> level) || !(sizeFile >> size >> unit)) continue;
    size <<= unit == 'M' ? 20 : unit == 'G' ? 30 : 10;
    if (level > bestLevel) best = size, bestLevel = level;
  }
  if (best == 0) best = static_cast<size_t>(std::max(0L, sysconf(_SC_LEVEL3_CACHE_SIZE)));
  return best != 0 ? best : size_t{64} << 20;
}

// Enough frames of this size that cycling through them leaves none in the last-level
// cache: three times its size, at least two frames.
std::vector<std::vector<uint8_t>> ColdFrames(size_t bytes) {
  const size_t count = std::max<size_t>(2, (3 * LastLevelCacheBytes() + bytes - 1) / bytes);
  std::vector<std::vector<uint8_t>> frames(count);
  for (size_t k = 0; k < count; ++k) {
    frames[k].resize(bytes);
    for (size_t i = 0; i < bytes; ++i) frames[k][i] = static_cast<uint8_t>(i * 7 + k);
  }
  return frames;
}

void BM_Mono16ToGrey(benchmark::State& state) {
  const auto width = static_cast<size_t>(state.range(0));
  const auto height = static_cast<size_t>(state.range(1));
  const size_t bytes = 2 * width * height;
  const std::vector<std::vector<uint8_t>> frames = ColdFrames(bytes);
  std::vector<uint8_t> grey(width * height), copy(bytes);
  size_t next = 0;
  double convertMs = 0.0, copyMs = 0.0;
  int64_t frameCount = 0;
  for (auto _ : state) {
    const uint8_t* from = frames[next++ % frames.size()].data();
    double t0 = ThreadMs();
    for (size_t y = 0; y < height; ++y) TopEightBits(from + y * 2 * width, grey.data() + y * width, width, 16);
    benchmark::DoNotOptimize(grey.data());
    benchmark::ClobberMemory();
    convertMs += ThreadMs() - t0;

    from = frames[next++ % frames.size()].data();
    t0 = ThreadMs();
    std::memcpy(copy.data(), from, bytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    copyMs += ThreadMs() - t0;
    ++frameCount;
  }
  state.counters["convert_ms"] = convertMs / static_cast<double>(frameCount);
  state.counters["cold_copy_ms"] = copyMs / static_cast<double>(frameCount);
  state.counters["x_cold_copy"] = convertMs / copyMs;
  state.counters["frames_cycled"] = static_cast<double>(frames.size());
  state.SetBytesProcessed(frameCount * static_cast<int64_t>(bytes));
}

// The simulated camera's own scene, to show that the live view is not held up by it.
void BM_SimulatedScene(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  ManualClock clock;
  SimulatedCamera camera(clock, width, height);
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height);
  int64_t t = 0;
  for (auto _ : state) {
    camera.RenderScene(frame.data(), width, height, t += 200);
    benchmark::DoNotOptimize(frame.data());
  }
}

void Sizes(benchmark::internal::Benchmark* b, bool withChecks) {
  for (auto [w, h] : {std::pair{1280, 1024}, std::pair{2448, 2048}, std::pair{5472, 3648}}) {
    if (withChecks) {
      b->Args({w, h, 0});
      b->Args({w, h, 1});
    } else {
      b->Args({w, h});
    }
  }
}

BENCHMARK(BM_Memcpy)->Apply([](auto* b) { Sizes(b, false); })->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grab)->Apply([](auto* b) { Sizes(b, true); })->ArgNames({"w", "h", "checks"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mono16ToGrey)->Args({2448, 2048})->ArgNames({"w", "h"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatedScene)->Apply([](auto* b) { Sizes(b, false); })->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ostrelo

BENCHMARK_MAIN();
