// The picture writer against the plain cost of putting the same bytes into a file,
// Qt's BMP writer, one whole shot, and the interval accuracy of a real-time series.
//
//   ostrelo_bench_shots                 all benchmarks, the ratio table, then the series
//   ostrelo_bench_shots --no-series     without the 20 s real-time series
//   ostrelo_bench_shots --series-only   only the series
//   ostrelo_bench_shots --folder=PATH   files written under PATH (default: the temporary folder)
//   ostrelo_bench_shots --table [--rounds=N]
//                                       the writer's lines of the speed table (scripts/bench)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "shots/BitmapWriter.h"
#include "shots/ShotProcedure.h"

#ifdef OSTRELO_BENCH_WITH_QT
#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#endif

namespace {

using namespace ostrelo;
namespace fs = std::filesystem;

class QuietDialogs final : public Dialogs {
 public:
  void MessageBox(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }
  bool AskYesNo(const std::string&, const std::string&, Answer) override { return true; }
  std::optional<std::string> ShowSave(const SaveDialogRequest&) override { return std::nullopt; }
  void SetBusyPointer(bool) override {}
};

// A folder for the files written, removed at exit.
fs::path gParentFolder;  // --folder=PATH; the system's temporary folder otherwise

const fs::path& BenchFolder() {
  static const fs::path folder = [] {
    const fs::path parent = gParentFolder.empty() ? fs::temp_directory_path() : gParentFolder;
    std::string pattern = (parent / "ostrelo-bench-shots-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

struct Area {
  int32_t width, height;
};
const Area kAreas[] = {{640, 480}, {1280, 1024}, {2448, 2048}, {5472, 3648}, {1001, 1001}};

// A window state with a frame of the given size and the whole frame as the area.
struct WriterRig {
  explicit WriterRig(Area a)
      : camera(clock, a.width, a.height), daq(clock), form(Devices{camera, nullptr, daq, clock, dialogs}) {
    AcquisitionState& st = form.st;
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      st.GreyPalette[i] = PaletteEntry{v, v, v, 0};
    }
    st.ImageWidth = a.width;
    st.ImageHeight = a.height;
    st.FrameByteCount = a.width * a.height;
    st.FrameBytes.resize(static_cast<size_t>(st.FrameByteCount) + 1);
    for (size_t i = 0; i < st.FrameBytes.size(); ++i) st.FrameBytes[i] = static_cast<uint8_t>(i * 7 + i / 4093);
    st.AoiLeft = st.AoiTop = 0;
    st.AoiWidth = a.width;
    st.AoiHeight = a.height;
  }
  ManualClock clock;
  SimulatedCamera camera;
  SimulatedDaq daq;
  QuietDialogs dialogs;
  Form1 form;
};

size_t FileBytes(Area a) { return 1078 + BmpRowBytes(a.width) * static_cast<size_t>(a.height); }

void BM_SaveAoiBitmap(benchmark::State& state) {
  const Area a = kAreas[state.range(0)];
  WriterRig rig(a);
  const std::string name = (BenchFolder() / "aoi.bmp").string();
  for (auto _ : state) WriteAoiBitmap(rig.form.st, name, FileSync::Cached);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(FileBytes(a)));
  state.SetLabel(std::to_string(a.width) + "x" + std::to_string(a.height));
}

// The floor: the file's bytes, ready in memory, written with one write() into a file
// opened with O_TRUNC.
void BM_WriteFloor(benchmark::State& state) {
  const Area a = kAreas[state.range(0)];
  std::vector<uint8_t> bytes(FileBytes(a), 0x5A);
  const std::string name = (BenchFolder() / "floor.bmp").string();
  for (auto _ : state) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      state.SkipWithError(std::strerror(errno));
    }
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  state.SetLabel(std::to_string(a.width) + "x" + std::to_string(a.height));
}

#ifdef OSTRELO_BENCH_WITH_QT
// Qt's writer on the same area, the frame wrapped without a copy.
void BM_QImageSave(benchmark::State& state) {
  const Area a = kAreas[state.range(0)];
  WriterRig rig(a);
  const std::string name = (BenchFolder() / "qt.bmp").string();
  const QString qname = QString::fromStdString(name);
  for (auto _ : state) {
    const QImage image(rig.form.st.FrameBytes.data(), a.width, a.height, a.width, QImage::Format_Grayscale8);
    if (!image.save(qname, "BMP")) state.SkipWithError("QImage::save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(FileBytes(a)));
  state.SetLabel(std::to_string(a.width) + "x" + std::to_string(a.height));
}
#endif

// The contenders in turn within one loop, so that all of them meet the same machine
// load and page-cache writeback; median and least time per file.
//   floor / save / qimage: the same file name rewritten every time (the floor's
//     O_TRUNC, SaveAoiBitmap's rename over the earlier file, Qt's own way);
//   floor_new / save_new: a new name every time, as in a series (each file is
//     removed afterwards, outside the timing);
//   buffer_new: the file built in memory first, then one write() loop;
//   qimage_new: Qt's writer, a new name every time.
void BM_SideBySide(benchmark::State& state) {
  const Area a = kAreas[state.range(0)];
  WriterRig rig(a);
  const size_t bytes = FileBytes(a);
  std::vector<uint8_t> floorBytes(bytes, 0x5A);
  auto path = [](const std::string& name) { return (BenchFolder() / name).string(); };
  auto writeFloor = [&](const std::string& name) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, floorBytes.data(), bytes) != static_cast<ssize_t>(bytes)) std::abort();
    ::close(fd);
  };
  struct Contender {
    std::string key;
    std::function<std::string(size_t)> run;  // returns a file to remove afterwards, or ""
    std::vector<double> samples;
  };
  std::vector<Contender> contenders;
  contenders.push_back({"floor",
                        [&](size_t) {
                          writeFloor(path("side-floor.bmp"));
                          return std::string();
                        },
                        {}});
  contenders.push_back({"save",
                        [&](size_t) {
                          WriteAoiBitmap(rig.form.st, path("side-save.bmp"), FileSync::Cached);
                          return std::string();
                        },
                        {}});
  contenders.push_back({"floor_new",
                        [&](size_t i) {
                          const std::string name = path("new-floor-" + std::to_string(i) + ".bmp");
                          writeFloor(name);
                          return name;
                        },
                        {}});
  contenders.push_back({"save_new",
                        [&](size_t i) {
                          const std::string name = path("new-save-" + std::to_string(i) + ".bmp");
                          WriteAoiBitmap(rig.form.st, name, FileSync::Cached);
                          return name;
                        },
                        {}});
  // The other way: the whole file built in one buffer, then one write() loop, through
  // the same temporary name and rename.
  std::vector<uint8_t> built;
  contenders.push_back({"buffer_new",
                        [&](size_t i) {
                          const std::string name = path("new-buffer-" + std::to_string(i) + ".bmp");
                          BuildAoiBitmap(rig.form.st, built);
                          ReplaceFileContents(name, built.data(), built.size(), FileSync::Cached);
                          return name;
                        },
                        {}});
#ifdef OSTRELO_BENCH_WITH_QT
  const QString qtName = QString::fromStdString(path("side-qt.bmp"));
  contenders.push_back({"qimage",
                        [&](size_t) {
                          const QImage image(rig.form.st.FrameBytes.data(), a.width, a.height, a.width,
                                             QImage::Format_Grayscale8);
                          if (!image.save(qtName, "BMP")) std::abort();
                          return std::string();
                        },
                        {}});
  contenders.push_back({"qimage_new",
                        [&](size_t i) {
                          const std::string name = path("new-qt-" + std::to_string(i) + ".bmp");
                          const QImage image(rig.form.st.FrameBytes.data(), a.width, a.height, a.width,
                                             QImage::Format_Grayscale8);
                          if (!image.save(QString::fromStdString(name), "BMP")) std::abort();
                          return name;
                        },
                        {}});
#endif
  size_t turn = 0;
  for (auto _ : state) {
    // A different one goes first each time: none always follows the same neighbour.
    for (size_t i = 0; i < contenders.size(); ++i) {
      Contender& c = contenders[(turn + i) % contenders.size()];
      const auto t0 = std::chrono::steady_clock::now();
      const std::string leftover = c.run(turn);
      c.samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      if (!leftover.empty()) {
        state.PauseTiming();
        ::unlink(leftover.c_str());
        state.ResumeTiming();
      }
    }
    ++turn;
  }
  for (Contender& c : contenders) {
    std::vector<double>& v = c.samples;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    state.counters[c.key + "_med"] = v[v.size() / 2];
    state.counters[c.key + "_min"] = *std::min_element(v.begin(), v.end());
  }
  state.SetLabel(std::to_string(a.width) + "x" + std::to_string(a.height));
}

// The writer's lines of the speed table: the picture writer into a new name, as in a
// series, against the floor, one write() of the same bytes into a file that did not
// exist; and synced (the picture's bytes before the rename, the folder after it, as a
// power cut asks) against write() + fdatasync() of the same bytes. The contenders take
// turns in every round, a different one first each time; medians of wall-clock times.
double MedianOf(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

int PrintWriterTable(int rounds) {
  std::vector<std::string> details;
  std::vector<std::string> synced;
  for (int i = 0; i < 4; ++i) {
    const Area a = kAreas[i];
    WriterRig rig(a);
    std::vector<uint8_t> bytes;
    BuildAoiBitmap(rig.form.st, bytes);
    auto floorWrite = [&](const std::string& name, bool sync) {
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
      if (sync && ::fdatasync(fd) != 0) std::abort();
      ::close(fd);
    };
    struct Contender {
      const char* name;
      std::function<void(const std::string&)> run;
      bool synced;
      std::vector<double> ms;
    };
    Contender all[] = {
        {"floor", [&](const std::string& n) { floorWrite(n, false); }, false, {}},
        {"writer", [&](const std::string& n) { WriteAoiBitmap(rig.form.st, n, FileSync::Cached); }, false, {}},
        {"synced floor", [&](const std::string& n) { floorWrite(n, true); }, true, {}},
        {"synced writer", [&](const std::string& n) { WriteAoiBitmap(rig.form.st, n, FileSync::ToDisk); }, true, {}}};
    // Fewer rounds for large files; a synced write waits for the disk.
    const int cachedRounds = std::max(8, rounds * 640 * 480 / (a.width * a.height) + 8);
    const int syncedRounds = std::max(6, cachedRounds / 4);
    for (int round = 0; round < cachedRounds; ++round) {
      for (size_t k = 0; k < 4; ++k) {
        Contender& c = all[(static_cast<size_t>(round) + k) % 4];
        if (c.synced && round >= syncedRounds) continue;
        const std::string name =
            (BenchFolder() / ("table-" + std::to_string(round) + "-" + std::to_string(k))).string();
        const auto t0 = std::chrono::steady_clock::now();
        c.run(name);
        c.ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        ::unlink(name.c_str());
      }
    }
    const std::string size = std::to_string(a.width) + "x" + std::to_string(a.height);
    std::printf("writer new file %s: %.2f x floor\n", size.c_str(), MedianOf(all[1].ms) / MedianOf(all[0].ms));
    char line[200];
    std::snprintf(line, sizeof line, "writer new file synced %s: %.2f x synced floor", size.c_str(),
                  MedianOf(all[3].ms) / MedianOf(all[2].ms));
    synced.emplace_back(line);
    for (const Contender& c : all) {
      std::snprintf(line, sizeof line, "%s %s: %.3f ms (median of %zu)", c.name, size.c_str(), MedianOf(c.ms),
                    c.ms.size());
      details.emplace_back(line);
    }
  }
  for (const std::string& line : synced) std::printf("%s\n", line.c_str());
  std::printf("times:\n");
  for (const std::string& d : details) std::printf("  %s\n", d.c_str());
  return 0;
}

// One whole shot as a series tick takes it: stamp, number, grab, picture, record line;
// simulated devices answering at once, acquisition off, the area the whole picture.
void BM_WholeShot(benchmark::State& state) {
  const Area a = kAreas[state.range(0)];
  SystemClock clock;
  SimulatedCamera camera(clock, a.width, a.height);
  SimulatedDaq daq(clock);
  QuietDialogs dialogs;
  Form1 form(Devices{camera, nullptr, daq, clock, dialogs});
  if (!form.Load()) {
    state.SkipWithError("start-up failed");
    return;
  }
  form.st.DaqAcquisitionOn = false;
  form.st.AoiLeft = form.st.AoiTop = 0;
  form.st.AoiWidth = form.st.ImageWidth;
  form.st.AoiHeight = form.st.ImageHeight;
  form.st.PictureFileName = (BenchFolder() / "shot-.bmp").string();
  form.st.RecordFileName = (BenchFolder() / "shot.xls").string();
  for (auto _ : state) {
    form.ShotCounter = 1;  // always picture 0002: the disk does not fill up
    TakeShot(form);
  }
  state.SetLabel(std::to_string(a.width) + "x" + std::to_string(a.height));
}

BENCHMARK(BM_WriteFloor)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_SaveAoiBitmap)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
#ifdef OSTRELO_BENCH_WITH_QT
BENCHMARK(BM_QImageSave)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);
#endif
BENCHMARK(BM_SideBySide)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_WholeShot)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);

// Shows every run as usual and keeps the medians for the ratio table.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_name.function_name == "BM_SideBySide") {
        for (const auto& [name, counter] : r.counters) side[r.run_name.args][name] = counter.value;
      }

      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        medians[r.run_name.function_name][r.run_name.args] = r.GetAdjustedRealTime();
      }
    }
  }
  std::map<std::string, std::map<std::string, double>> medians;
  std::map<std::string, std::map<std::string, double>> side;
};

void PrintRatios(const RatioReporter& reporter) {
  auto get = [&](const char* fn, const std::string& args) -> double {
    auto f = reporter.medians.find(fn);
    if (f == reporter.medians.end()) return NAN;
    auto it = f->second.find(args);
    return it == f->second.end() ? NAN : it->second;
  };
  std::printf("\nMedian real time per file, microseconds, and ratios to the floor:\n");
  std::printf("%-10s %10s %12s %10s %10s %12s\n", "area", "floor", "SaveAoi", "ratio", "QImage", "QImage ratio");
  for (int i = 0; i < 5; ++i) {
    const std::string args = std::to_string(i);
    const double floor = get("BM_WriteFloor", args);
    const double ours = get("BM_SaveAoiBitmap", args);
    const double qt = get("BM_QImageSave", args);
    char area[32];
    std::snprintf(area, sizeof area, "%dx%d", kAreas[i].width, kAreas[i].height);
    std::printf("%-10s %10.1f %12.1f %10.3f %10.1f %12.3f\n", area, floor, ours, ours / floor, qt, qt / floor);
  }
  auto row = [&](const char* title, const char* suffix) {
    std::printf("\nSide by side in one loop, %s: microseconds per file, ratio to the floor\n", title);
    std::printf("%-10s %9s %9s %6s %9s %6s | %9s %9s %6s %9s %6s %9s %6s\n", "area", "floor", "SaveAoi", "ratio",
                "QImage", "ratio", "floor new", "Save new", "ratio", "buffer", "ratio", "QImg new", "ratio");
    for (int i = 0; i < 5; ++i) {
      auto it = reporter.side.find(std::to_string(i));
      if (it == reporter.side.end()) continue;
      auto& c = it->second;
      auto v = [&](const std::string& key) {
        auto f = c.find(key + suffix);
        return f == c.end() ? std::nan("") : f->second;
      };
      char area[32];
      std::snprintf(area, sizeof area, "%dx%d", kAreas[i].width, kAreas[i].height);
      std::printf("%-10s %9.1f %9.1f %6.3f %9.1f %6.3f | %9.1f %9.1f %6.3f %9.1f %6.3f %9.1f %6.3f\n", area, v("floor"),
                  v("save"), v("save") / v("floor"), v("qimage"), v("qimage") / v("floor"), v("floor_new"),
                  v("save_new"), v("save_new") / v("floor_new"), v("buffer_new"), v("buffer_new") / v("floor_new"),
                  v("qimage_new"), v("qimage_new") / v("floor_new"));
    }
  };
  row("medians", "_med");
  row("least times", "_min");
}

#ifdef OSTRELO_BENCH_WITH_QT
// A real-time series at a wait of 0.1 s, the window's timers driven by QTimer the way
// the Qt window drives them: a timer (re)starts whenever its model's generation changes.
void MeasureSeriesInterval(int argc, char** argv) {
  constexpr int kShots = 200;
  constexpr double kPeriodMs = 100.0;
  QCoreApplication app(argc, argv);
  SystemClock clock;
  SimulatedCamera camera(clock);
  SimulatedDaq daq(clock);
  QuietDialogs dialogs;
  Form1 form(Devices{camera, nullptr, daq, clock, dialogs});
  if (!form.Load()) {
    std::printf("series: start-up failed\n");
    return;
  }
  form.st.DaqAcquisitionOn = false;
  form.st.PictureFileName = (BenchFolder() / "series-.bmp").string();
  form.st.RecordFileName = (BenchFolder() / "series.xls").string();

  struct Driven {
    explicit Driven(TimerModel& m) : model(&m) {}
    TimerModel* model;
    QTimer timer;
    uint64_t generation = ~0ull;
  };
  Driven shot(form.ui.Timer1), live(form.ui.VisuTimer);
  auto sync = [&] {
    for (Driven* d : {&shot, &live}) {
      if (!d->model->enabled()) {
        d->timer.stop();
      } else if (d->model->generation() != d->generation || !d->timer.isActive()) {
        d->timer.start(d->model->interval());
      }
      d->generation = d->model->generation();
    }
  };
  std::vector<int64_t> shotTimesUs;
  auto now = [] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  auto dispatch = [&](const std::function<void()>& handler) {
    const int32_t before = form.ShotCounter;
    form.Dispatch(handler);
    if (form.ShotCounter != before) shotTimesUs.push_back(now());
    sync();
    if (static_cast<int>(shotTimesUs.size()) >= kShots || form.phase() == Phase::Ended) app.quit();
  };
  for (Driven* d : {&shot, &live}) d->timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&shot.timer, &QTimer::timeout, [&] { dispatch([&] { form.Timer1_Timer(); }); });
  QObject::connect(&live.timer, &QTimer::timeout, [&] { dispatch([&] { form.VisuTimer_Timer(); }); });

  QTimer::singleShot(0, [&] {
    form.ui.TimeText.caption = "0.1";
    dispatch([&] { form.TimeText_KeyPress(kKeyEnter); });
    dispatch([&] { form.Command2_Click(); });
  });
  app.exec();
  form.Dispatch([&] { form.Command2_Click(); });

  std::vector<double> deviations;
  for (size_t i = 1; i < shotTimesUs.size(); ++i) {
    deviations.push_back((shotTimesUs[i] - shotTimesUs[i - 1]) / 1000.0 - kPeriodMs);
  }
  double sum = 0, sumAbs = 0, worst = 0;
  for (double d : deviations) {
    sum += d;
    sumAbs += std::fabs(d);
    worst = std::max(worst, std::fabs(d));
  }
  const double n = std::max<size_t>(1, deviations.size());
  std::printf("\nReal-time series, wait 0.1 s, %zu shots of %dx%d (area %dx%d), %zu intervals:\n", shotTimesUs.size(),
              form.st.ImageWidth, form.st.ImageHeight, form.st.AoiWidth, form.st.AoiHeight, deviations.size());
  std::printf("  mean deviation from the period %+.3f ms, mean absolute %.3f ms, worst %.3f ms\n", sum / n, sumAbs / n,
              worst);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool series = true, benchmarks = true, table = false;
  int rounds = 0;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-series") == 0)
      series = false;
    else if (std::strcmp(argv[i], "--series-only") == 0)
      benchmarks = false;
    else if (std::strcmp(argv[i], "--table") == 0)
      table = true;
    else if (std::strncmp(argv[i], "--rounds=", 9) == 0)
      rounds = std::atoi(argv[i] + 9);
    else if (std::strncmp(argv[i], "--folder=", 9) == 0)
      gParentFolder = argv[i] + 9;
    else
      args.push_back(argv[i]);
  }
  if (table) {
    const int status = PrintWriterTable(rounds > 0 ? rounds : 1000);
    std::error_code ec;
    fs::remove_all(BenchFolder(), ec);
    return status;
  }
  int count = static_cast<int>(args.size());
  if (benchmarks) {
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
  }
#ifdef OSTRELO_BENCH_WITH_QT
  if (series) MeasureSeriesInterval(count, args.data());
#else
  if (series) std::printf("\nReal-time series: needs Qt (built without it).\n");
#endif
  std::error_code ec;
  fs::remove_all(BenchFolder(), ec);
  return 0;
}
