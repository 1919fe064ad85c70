// The grab's own work per frame, with a camera and a card that answer at once, next to
// a plain memcpy of the same frame measured in the same run.
//
//   ostrelo_bench_grab --benchmark_min_time=0.2
//   ostrelo_bench_grab --table [--rounds=N] [--only=TEXT] [--vectors=avx2|sse2|plain]
//                                  the speed table that scripts/bench prints; --only keeps
//                                  the floor and the grabs whose names hold TEXT (to profile);
//                                  --vectors caps the grab's vector instructions
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
//
// The table holds the grab against the streaming copy: a copy of the frame from a buffer
// that is not in the processor's cache (as a camera's fresh buffer never is) by 256-bit
// streaming stores, asking for the bytes 4 KB ahead; the fastest copy measured here, and
// so the floor of a grab that must copy the frame. A cold memcpy and a pass that only
// reads the frame are timed next to it for comparison. All take their pixels from a ring
// of frame buffers much larger than the last-level cache; the grabs take turns in every
// round, the floor and its companions in rounds of their own; the figures are medians
// over the rounds.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/GrabFrame.h"
#include "camera/LineCopy.h"
#include "camera/aravis/PixelConversion.h"
#include "camera/sim/ForwardingCamera.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/ConstantDaq.h"
#include "shell/Form1.h"
#include "shell/Platform.h"
#include "shell/VectorLevel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ostrelo {
namespace {

// A card whose four inputs hold -1.25 V and whose reads return at once.
struct InstantDaq : ConstantDaq {
  InstantDaq() { volts.fill(-1.25); }
};

class SilentDialogs final : public Dialogs {
 public:
  void MessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&, Answer) override { return true; }
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
std::vector<std::vector<uint8_t>> FramesLeavingTheCache(size_t bytes) {
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
  const std::vector<std::vector<uint8_t>> frames = FramesLeavingTheCache(bytes);
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

BENCHMARK(BM_Memcpy)->Apply([](auto* b) { Sizes(b, false); }) -> Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grab)->Apply([](auto* b) { Sizes(b, true); }) -> ArgNames({"w", "h", "checks"})
    -> Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mono16ToGrey)->Args({2448, 2048})->ArgNames({"w", "h"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatedScene)->Apply([](auto* b) { Sizes(b, false); }) -> Unit(benchmark::kMillisecond);

// ---- The speed table ----

constexpr size_t kColdRingBytes = size_t{160} << 20;  // five times a 32 MiB last-level cache

// (x ^ y) + k, as BM_Grab paints: every grey level on every line, so the checks mark
// about one sample in twenty everywhere with thresholds 250 and 5.
void PaintXor(uint8_t* p, int32_t w, int32_t h, uint64_t k) {
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((x ^ y) + k);
  }
}

// Frame buffers used in turn: the one handed out next was last touched a whole ring ago.
class ColdFrames {
 public:
  ColdFrames(int32_t width, int32_t height) {
    const size_t bytes = static_cast<size_t>(width) * height;
    const size_t count = std::max<size_t>(4, kColdRingBytes / bytes + 1);
    frames_.resize(count);
    for (size_t k = 0; k < count; ++k) {
      frames_[k].resize(bytes);
      PaintXor(frames_[k].data(), width, height, k);
    }
  }
  const uint8_t* Next() {
    next_ = (next_ + 1) % frames_.size();
    return frames_[next_].data();
  }

 private:
  std::vector<std::vector<uint8_t>> frames_;
  size_t next_ = 0;
};

// The simulated camera, except that every picture's pixels are the next cold buffer.
class ColdCamera final : public ForwardingCamera {
 public:
  // sim_ is only bound here, and built before any call reaches it.
  ColdCamera(Clock& clock, int32_t width, int32_t height, ColdFrames& frames)
      : ForwardingCamera(sim_), sim_(clock, width, height), frames_(frames) {
    sim_.SetPainter([](uint8_t*, int32_t, int32_t, uint64_t) {});
  }
  int32_t ImageRequestWaitFor(int32_t drv, int32_t t, int32_t q, int32_t* req) override {
    const int32_t status = sim_.ImageRequestWaitFor(drv, t, q, req);
    if (status == 0) pixels_ = frames_.Next();
    return status;
  }
  int32_t GetImageRequestBufferData(int32_t drv, int32_t req, RequestBufferInfo* info) override {
    const int32_t status = sim_.GetImageRequestBufferData(drv, req, info);
    if (status == 0) info->data = pixels_;
    return status;
  }
  int32_t GetImageRequestBufferImageData(int32_t, int32_t, int32_t, int32_t, int32_t width, int32_t height,
                                         uint8_t* destination, int32_t destinationSize) override {
    const size_t bytes = static_cast<size_t>(width) * height;
    if (pixels_ == nullptr || destination == nullptr || bytes > static_cast<size_t>(destinationSize)) return -1;
    std::memcpy(destination, pixels_, bytes);
    return 0;
  }
  int32_t GetImageRequestBufferImageLines(int32_t, int32_t, int32_t, int32_t, int32_t width, int32_t height,
                                          uint8_t* destination, int32_t destinationSize,
                                          LineObserver& observer) override {
    const size_t bytes = static_cast<size_t>(width) * height;
    if (pixels_ == nullptr || destination == nullptr || bytes > static_cast<size_t>(destinationSize)) return -1;
    CopyLinesShown(pixels_, width, width, height, destination, &observer);
    return 0;
  }

 private:
  SimulatedCamera sim_;
  ColdFrames& frames_;
  const uint8_t* pixels_ = nullptr;
};

// A started window on a cold camera and an instant card, checks on or off.
struct TableWindow {
  TableWindow(int32_t width, int32_t height, ColdFrames& frames, bool checks, bool histogram)
      : camera(clock, width, height, frames), form(Devices{camera, nullptr, daq, clock, dialogs}) {
    started = form.Load();
    form.st.DaqAcquisitionOn = true;
    form.st.SaturationCheckOn = form.st.NoSignalCheckOn = checks;
    form.st.HistogramOn = histogram;
    form.st.SaturationThreshold = 250;
    form.st.NoSignalThreshold = 5;
  }
  ~TableWindow() {
    if (started) form.Unload();
  }
  // What the window shows after a grab: the camera view, the zoom and the histogram.
  uint32_t ReadShownViews() const {
    const MainWindowModel& ui = form.ui;
    return ui.CamSurface.pixels.data()[0] ^ ui.ZoomSurface.pixels.data()[0] ^ ui.HistoSurface.pixels.data()[0];
  }
  ManualClock clock;
  ColdCamera camera;
  InstantDaq daq;
  SilentDialogs dialogs;
  Form1 form;
  bool started = false;
};

struct Contender {
  std::string name;
  std::function<void()> run;
  std::vector<double> ms;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Runs c untimed, then timed, rounds times after warm rounds: the untimed run leaves its
// destination as it would be when run again and again (the frame buffer and the views
// written just before) while its source is a cold buffer all the same.
void TimePair(Contender& c, bool keep) {
  c.run();
  const double t0 = ThreadMs();
  c.run();
  const double t = ThreadMs() - t0;
  if (keep) c.ms.push_back(t);
}

#if defined(__x86_64__) || defined(__i386__)
constexpr size_t kFloorAhead = 4096;

// The floor: 256-bit streaming stores from the destination's first 64-byte boundary, so
// that each pair of stores writes one whole line.
__attribute__((target("avx2"))) void StreamingCopy(uint8_t* to, const uint8_t* from, size_t bytes) {
  const size_t head = std::min(bytes, (64 - (reinterpret_cast<uintptr_t>(to) & 63u)) & 63u);
  std::memcpy(to, from, head);
  size_t at = head;
  for (; at + 64 <= bytes; at += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(from + at + kFloorAhead), _MM_HINT_T1);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + at + 32));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(to + at), a);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(to + at + 32), b);
  }
  std::memcpy(to + at, from + at, bytes - at);
  _mm_sfence();
}

// Every byte read once, 64 at a time, nothing written.
__attribute__((target("avx2"))) uint32_t ReadOnlyPass(const uint8_t* from, size_t bytes) {
  __m256i any = _mm256_setzero_si256();
  size_t at = 0;
  for (; at + 64 <= bytes; at += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(from + at + kFloorAhead), _MM_HINT_T1);
    any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + at)));
    any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + at + 32)));
  }
  uint32_t rest = static_cast<uint32_t>(_mm256_movemask_epi8(any));
  for (; at < bytes; ++at) rest += from[at];
  return rest;
}
bool HasFloorCopy() { return __builtin_cpu_supports("avx2"); }
#else
void StreamingCopy(uint8_t* to, const uint8_t* from, size_t bytes) { std::memcpy(to, from, bytes); }
uint32_t ReadOnlyPass(const uint8_t* from, size_t bytes) {
  uint32_t any = 0;
  for (size_t at = 0; at < bytes; at += 8) any |= from[at];
  return any;
}
bool HasFloorCopy() { return false; }
#endif

// One size: the grabs, each timed once per round, the order turned by one place every
// round; the floor and its companions in rounds of their own, half before the grabs and
// half after. Timed among the grabs a copy measured up to a third slower (what a grab
// leaves in the caches and the memory controller's queues): a slow floor would flatter
// every ratio. Prints "streaming copy WxH: N.NNN ms", then "<name>: N.NN x streaming
// copy" for the others.
void TableForSize(int32_t width, int32_t height, int rounds, const std::string& only,
                  std::vector<std::string>& details) {
  ColdFrames frames(width, height);
  const size_t bytes = static_cast<size_t>(width) * height;
  std::vector<uint8_t> copyTarget(bytes + 1, 0);
  TableWindow checks(width, height, frames, true, true);
  TableWindow marks(width, height, frames, true, false);
  TableWindow plain(width, height, frames, false, false);
  if (!checks.started || !marks.started || !plain.started) {
    std::fprintf(stderr, "start-up failed at %dx%d\n", width, height);
    return;
  }
  volatile uint32_t seen = 0;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (!HasFloorCopy()) std::fprintf(stderr, "no AVX2: the streaming copy is a memcpy\n");
  auto streaming = [&] {
    StreamingCopy(copyTarget.data(), frames.Next(), bytes);
    benchmark::DoNotOptimize(copyTarget.data());
    benchmark::ClobberMemory();
  };
  auto copy = [&] {
    std::memcpy(copyTarget.data(), frames.Next(), bytes);
    benchmark::DoNotOptimize(copyTarget.data());
    benchmark::ClobberMemory();
  };
  auto read = [&] { seen = seen + ReadOnlyPass(frames.Next(), bytes); };
  std::vector<Contender> all;
  all.push_back({"streaming copy " + size, streaming, {}});
  all.push_back({"cold memcpy " + size, copy, {}});
  all.push_back({"read-only pass " + size, read, {}});
  constexpr size_t kOwnRounds = 3;  // the floor and its companions, first in all
  all.push_back({"grab " + size + " checks+histogram", [&] { GrabFrame(checks.form); }, {}});
  all.push_back({"grab " + size + " checks, no histogram", [&] { GrabFrame(marks.form); }, {}});
  all.push_back({"grab " + size + " checks off", [&] { GrabFrame(plain.form); }, {}});
  // The same grabs followed by what painting the window reads, for the whole cost.
  all.push_back({"grab and show " + size + " checks+histogram",
                 [&] {
                   GrabFrame(checks.form);
                   seen = seen + checks.ReadShownViews();
                 },
                 {}});
  all.push_back({"grab and show " + size + " checks off",
                 [&] {
                   GrabFrame(plain.form);
                   seen = seen + plain.ReadShownViews();
                 },
                 {}});

  if (!only.empty()) {
    // The floor and the grabs named so, for a profiler.
    std::vector<Contender> keep(all.begin(), all.begin() + kOwnRounds);
    for (size_t k = kOwnRounds; k < all.size(); ++k) {
      if (all[k].name.find(only) != std::string::npos) keep.push_back(all[k]);
    }
    all = keep;
  }
  const int warmRounds = 3;
  auto turns = [&](size_t first, size_t count, int roundCount) {
    for (int round = 0; round < warmRounds + roundCount; ++round) {
      for (size_t k = 0; k < count; ++k) {
        TimePair(all[first + (k + static_cast<size_t>(round)) % count], round >= warmRounds);
      }
    }
  };
  turns(0, kOwnRounds, rounds / 2);
  turns(kOwnRounds, all.size() - kOwnRounds, rounds);
  turns(0, kOwnRounds, rounds - rounds / 2);
  const double floor = Median(all[0].ms);
  std::printf("streaming copy %s: %.3f ms\n", size.c_str(), floor);
  for (size_t k = 1; k < all.size(); ++k)
    std::printf("%s: %.2f x streaming copy\n", all[k].name.c_str(), Median(all[k].ms) / floor);
  for (const Contender& c : all) {
    char line[160];
    std::snprintf(line, sizeof line, "%s: %.3f ms (median of %zu)", c.name.c_str(), Median(c.ms), c.ms.size());
    details.emplace_back(line);
  }
}

// The ratios first, then the times they come from.
int PrintTable(int rounds, const std::string& only) {
  std::vector<std::string> details;
  TableForSize(2448, 2048, rounds, only, details);
  TableForSize(5472, 3648, std::max(10, rounds / 4), only, details);
  std::printf("times:\n");
  for (const std::string& d : details) std::printf("  %s\n", d.c_str());
  return 0;
}

}  // namespace
}  // namespace ostrelo

int main(int argc, char** argv) {
  int rounds = 0;
  bool table = false;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--table") table = true;
    if (arg.rfind("--rounds=", 0) == 0) rounds = std::atoi(arg.c_str() + 9);
    if (arg.rfind("--only=", 0) == 0) only = arg.substr(7);
    if (arg == "--vectors=avx2") ostrelo::CapVectors(ostrelo::VectorLevel::Avx2);
    if (arg == "--vectors=sse2") ostrelo::CapVectors(ostrelo::VectorLevel::Sse2);
    if (arg == "--vectors=plain") ostrelo::CapVectors(ostrelo::VectorLevel::Plain);
  }
  if (table) return ostrelo::PrintTable(rounds > 0 ? rounds : 200, only);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
