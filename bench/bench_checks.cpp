// The check pass (saturation and no-signal marks plus the histogram, all three on) over
// the whole picture, against a plain memcpy of the same frame, in the same run.
// The figures to read are the ratios printed at the end: check pass CPU time / memcpy
// CPU time (medians when run with --benchmark_repetitions).
//
//   Scene     grey ramp with a saturated band and a black band, thresholds 255 and 0
//             as the boxes show at start: marks only on the bands.
//   Clean     the ramp alone (grey 20 to 220), same thresholds: no mark at all, so
//             the walk and the histogram alone.
//   AllMarked every sample saturated and signal-less (thresholds 10 and 240, grey
//             128): the worst case, two dots per sample.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "inspection/CheckPass.h"
#include "shell/Form1.h"

namespace {

using namespace ostrelo;

class SilentDialogs final : public Dialogs {
 public:
  void MessageBox(const std::string&, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&, Answer) override { return true; }
  std::optional<std::string> ShowSave(const SaveDialogRequest&) override { return std::nullopt; }
  void SetBusyPointer(bool) override {}
};

struct Bench {
  Bench(int32_t width, int32_t height)
      : camera(clock, width, height), daq(clock), form(Devices{camera, nullptr, daq, clock, dialogs}) {
    started = form.Load();
  }
  ManualClock clock;
  SimulatedCamera camera;
  SimulatedDaq daq;
  SilentDialogs dialogs;
  Form1 form;
  bool started = false;
};

enum class Content { Clean, Scene, AllMarked };

void Prepare(Form1& f, Content content) {
  AcquisitionState& st = f.st;
  const int32_t w = st.ImageWidth, h = st.ImageHeight;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = st.FrameBytes.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      row[x] =
          content == Content::AllMarked ? 128 : static_cast<uint8_t>(20 + static_cast<int64_t>(x + y) * 200 / (w + h));
    }
    if (content == Content::Scene && y > h / 8 && y < h / 4) {
      std::memset(row + w / 8, 255, static_cast<size_t>(w / 8));
      std::memset(row + w * 5 / 8, 0, static_cast<size_t>(w / 8));
    }
  }
  const bool all = content == Content::AllMarked;
  f.ui.SatText.caption = all ? "10" : "255";
  f.ui.NoText.caption = all ? "240" : "0";
  f.ui.CheckSaturation.value = f.ui.CheckNoSignal.value = f.ui.CheckHisto.value = 1;
  f.CheckSaturation_Click();
  f.CheckNoSignal_Click();
  f.CheckHisto_Click();
}

void BM_FrameMemcpy(benchmark::State& state) {
  Bench b(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  if (!b.started) {
    state.SkipWithError("start-up failed");
    return;
  }
  const std::vector<uint8_t>& src = b.form.st.FrameBytes;
  std::vector<uint8_t> dst(src.size(), 1);
  const size_t n = static_cast<size_t>(b.form.st.FrameByteCount);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void CheckPass(benchmark::State& state, Content content) {
  Bench b(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  if (!b.started) {
    state.SkipWithError("start-up failed");
    return;
  }
  Prepare(b.form, content);
  for (auto _ : state) {
    RunCheckPass(b.form);
    benchmark::DoNotOptimize(b.form.st.HistogramMax);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.form.st.FrameByteCount);
}

void BM_CheckPassClean(benchmark::State& state) { CheckPass(state, Content::Clean); }
void BM_CheckPassScene(benchmark::State& state) { CheckPass(state, Content::Scene); }
void BM_CheckPassAllMarked(benchmark::State& state) { CheckPass(state, Content::AllMarked); }

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({2448, 2048})->Args({5472, 3648})->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_FrameMemcpy)->Apply(Sizes);
BENCHMARK(BM_CheckPassClean)->Apply(Sizes);
BENCHMARK(BM_CheckPassScene)->Apply(Sizes);
BENCHMARK(BM_CheckPassAllMarked)->Apply(Sizes);

// Keeps every run's time so that the ratios can be printed after the table.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      // CPU time: the machine may be shared, and waiting for it is not the pass's cost.
      // With repetitions, the median stands for the benchmark.
      if (r.run_type == Run::RT_Iteration && !times.count(r.run_name.str())) {
        times[r.run_name.str()] = r.GetAdjustedCPUTime();
      } else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        times[r.run_name.str()] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nCheck pass / memcpy of the same frame (CPU time):\n");
  for (const char* size : {"2448/2048", "5472/3648"}) {
    const auto copy = reporter.times.find(std::string("BM_FrameMemcpy/") + size);
    if (copy == reporter.times.end() || copy->second <= 0) continue;
    for (const char* pass : {"BM_CheckPassClean/", "BM_CheckPassScene/", "BM_CheckPassAllMarked/"}) {
      const auto it = reporter.times.find(std::string(pass) + size);
      if (it == reporter.times.end()) continue;
      std::printf("  %-24s %-10s %6.2f\n", pass, size, it->second / copy->second);
    }
  }
  benchmark::Shutdown();
  return 0;
}
