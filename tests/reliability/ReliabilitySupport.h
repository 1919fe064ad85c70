#pragma once
// What the reliability tests share: a started main window on simulated devices that
// answer at once, with acquisition on and the save dialog answered with a name in a
// temporary folder; what the process holds (resident memory, open descriptors); and
// the check that a folder holds exactly the pictures and record lines of a series.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shell/Numbers.h"
#include "shots/BitmapWriter.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

// Resident memory and open file descriptors of this process.
struct ProcessFigures {
  int64_t rssKb = 0;
  int64_t fds = 0;
};

inline ProcessFigures MeasureProcess() {
  ProcessFigures p;
  std::ifstream statm("/proc/self/statm");
  int64_t sizePages = 0, residentPages = 0;
  statm >> sizePages >> residentPages;
  p.rssKb = residentPages * ::sysconf(_SC_PAGESIZE) / 1024;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] != '.') ++p.fds;
    }
    ::closedir(dir);
    --p.fds;  // the listing's own descriptor
  }
  return p;
}

// A whole number from the environment, or fallback when unset or not a number.
inline int64_t EnvNumber(const char* name, int64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  return (end != nullptr && *end == '\0' && value > 0) ? value : fallback;
}

// The simulated card behind a switch: while armed() holds, the named step of a reading
// fails with status (a read that times out first waits out its time-out on the clock);
// every other call goes to the card unchanged.
class FaultyDaq final : public DaqDriver {
 public:
  enum class Step { Timing, ChannelCount, Read };
  FaultyDaq(SimulatedDaq& card, Clock& clock) : card_(card), clock_(clock) {}

  std::function<bool()> armed;  // unset: never
  Step step = Step::Read;
  int32_t status = 0;
  int32_t stallMs = 0;  // how long the failing call blocks first
  int64_t faults = 0;   // failures given so far

  int32_t CreateTask(const std::string& name, DaqTaskHandle* task) override { return card_.CreateTask(name, task); }
  int32_t ClearTask(DaqTaskHandle task) override { return card_.ClearTask(task); }
  int32_t CreateAIVoltageChan(DaqTaskHandle task, const std::string& physical, const std::string& name,
                              int32_t terminal, double minVal, double maxVal, int32_t units,
                              const std::string& scale) override {
    return card_.CreateAIVoltageChan(task, physical, name, terminal, minVal, maxVal, units, scale);
  }
  int32_t CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate, int32_t edge, int32_t mode,
                           uint64_t samples) override {
    if (Fails(Step::Timing)) return status;
    return card_.CfgSampClkTiming(task, source, rate, edge, mode, samples);
  }
  int32_t GetTaskNumChans(DaqTaskHandle task, uint32_t* data) override {
    if (Fails(Step::ChannelCount)) return status;
    return card_.GetTaskNumChans(task, data);
  }
  int32_t ReadAnalogF64(DaqTaskHandle task, int32_t samples, double timeout, uint32_t fillMode, double* array,
                        uint32_t arraySize, int32_t* read, uint32_t* reserved) override {
    if (Fails(Step::Read)) {
      if (read != nullptr) *read = 0;
      return status;
    }
    return card_.ReadAnalogF64(task, samples, timeout, fillMode, array, arraySize, read, reserved);
  }
  int32_t GetErrorString(int32_t code, char* text, uint32_t size) override {
    return card_.GetErrorString(code, text, size);
  }
  int32_t ResetDevice(const std::string& device) override { return card_.ResetDevice(device); }

 private:
  bool Fails(Step s) {
    if (s != step || !armed || !armed()) return false;
    ++faults;
    if (stallMs > 0) clock_.SleepMs(stallMs);
    return true;
  }
  SimulatedDaq& card_;
  Clock& clock_;
};

// The devices of a work bench and the main window on them.
struct WorkDevices {
  WorkDevices(int32_t width, int32_t height)
      : camera(clock, width, height),
        daq(clock),
        faults(daq, clock),
        form(Devices{camera, nullptr, faults, clock, dialogs}) {}
  ManualClock clock;
  SimulatedCamera camera;
  SimulatedDaq daq;
  FaultyDaq faults;
  FakeDialogs dialogs;
  Form1 form;
};

struct WorkRig : OperatorGestures<WorkRig> {
  // A small picture, so that long series fit on disk quickly: 64 x 48 pixels, 4150-byte files.
  static constexpr int32_t kWidth = 64;
  static constexpr int32_t kHeight = 48;

  // prepareCard scripts the card before start-up; where is the folder of the files
  // (a new temporary folder when empty).
  explicit WorkRig(LocalTime start = LocalTime{2011, 3, 25, 12, 0, 0, 43200.0},
                   const std::function<void(SimulatedDaq&)>& prepareCard = {}, const fs::path& where = {}) {
    if (!where.empty()) {
      folderPath = where;
    } else {
      ownFolder = std::make_unique<TempFolder>();
      folderPath = ownFolder->path();
    }
    rig.clock.Set(start);
    rig.daq.script.instant = true;
    if (prepareCard) prepareCard(rig.daq);
    EXPECT_TRUE(rig.form.Load());
    loop = std::make_unique<TimerLoop>(rig.form, rig.clock);
    const LocalTime now = rig.clock.Now();
    stem = "im" + FormatYymmdd(now.year, now.month, now.day);
  }

  Form1& form() { return rig.form; }
  std::string In(const std::string& name) const { return (folderPath / name).string(); }
  std::string Chosen() const { return In(stem + ".bmp"); }
  std::string Picture(int32_t n) const { return In(stem + FormatNumber(n, "0000") + ".bmp"); }
  std::string Record() const { return In(stem.substr(0, stem.size() - 1) + ".xls"); }
  // Ticks a check box as the operator would: its value changes, then its click runs.
  void Tick(Control& box, void (Form1::*click)()) {
    box.value = 1;
    form().Dispatch([&] { (form().*click)(); });
  }
  // The pixel checks and the histogram, all on, as on a watched bench.
  void AllChecksOn() {
    Tick(form().ui.CheckSaturation, &Form1::CheckSaturation_Click);
    Tick(form().ui.CheckNoSignal, &Form1::CheckNoSignal_Click);
    Tick(form().ui.CheckHisto, &Form1::CheckHisto_Click);
  }
  // A series started with the given wait, its first shot taken by the click.
  void StartSeries(const std::string& wait) {
    EnterWait(wait);
    AnswerDialog();
    ClickSeries();
    EXPECT_TRUE(form().MultiShot);
  }
  bool RunUntilShot(int32_t n, int64_t maxMs) {
    return loop->RunUntil([&] { return form().ShotCounter >= n || form().phase() == Phase::Ended; }, maxMs) &&
           form().ShotCounter >= n;
  }

  std::unique_ptr<TempFolder> ownFolder;
  fs::path folderPath;
  std::string stem;  // "im" + yymmdd + "-"
  WorkDevices rig{kWidth, kHeight};
  std::unique_ptr<TimerLoop> loop;
};

// What a completed series left, as found by CheckSeriesFiles.
struct SeriesFiles {
  int64_t picturesChecked = 0;
  int64_t linesChecked = 0;
  // Date (yyyymmdd) and seconds since midnight of each shot line, in order.
  std::vector<std::pair<int32_t, double>> stamps;
};

// The folder holds exactly the record and pictures 1..shots, each a whole BMP of the
// area of interest; the record holds one header and one line per shot, line n naming
// picture n, with the channel values when acquisition was on.
inline SeriesFiles CheckSeriesFiles(const WorkRig& w, int32_t shots, bool withChannels) {
  SeriesFiles found;
  const AcquisitionState& st = w.rig.form.st;
  const size_t pictureBytes = kBmpPixelOffset + static_cast<size_t>(BmpRowBytes(st.AoiWidth)) * st.AoiHeight;
  EXPECT_EQ(FolderContent(w.folderPath).size(), static_cast<size_t>(shots) + 1) << "pictures and the record";
  int missing = 0;
  for (int32_t n = 1; n <= shots && missing < 10; ++n) {
    const std::string bytes = ReadFile(w.Picture(n));
    if (bytes.size() != pictureBytes) {
      ADD_FAILURE() << w.Picture(n) << ": " << bytes.size() << " bytes, expected " << pictureBytes;
      ++missing;
      continue;
    }
    const BmpPicture p = ReadBmp(bytes);
    EXPECT_EQ(p.width, st.AoiWidth) << n;
    EXPECT_EQ(p.height, st.AoiHeight) << n;
    EXPECT_EQ(p.fileSize, pictureBytes) << n;
    ++found.picturesChecked;
  }

  const std::string record = ReadFile(w.Record());
  EXPECT_EQ(record.substr(record.size() < 2 ? 0 : record.size() - 2), "\r\n") << "the last line is whole";
  const std::vector<std::string> lines = SplitLines(record);
  EXPECT_EQ(lines.size(), static_cast<size_t>(shots) + 1) << "one header and one line per shot";
  const size_t fields = withChannels ? 6 : 2;
  if (!lines.empty()) {
    EXPECT_EQ(lines[0], withChannels
                            ? "Image \tTime\tCanal 0 (Volts)\tCanal 1 (Volts)\tCanal 2 (Volts)\tCanal 3 (Volts)"
                            : "Image \tTime");
  }
  int failures = 0;
  for (size_t i = 1; i < lines.size() && failures < 10; ++i) {
    const std::vector<std::string> f = SplitFields(lines[i]);
    const bool ok = f.size() == fields && f[0] == w.Picture(static_cast<int32_t>(i)) && f[1].size() == 16 &&
                    f[1][13] == '.' && lines[i].find("Image") == std::string::npos;
    if (!ok) {
      ADD_FAILURE() << "line " << i << ": " << lines[i];
      ++failures;
      continue;
    }
    for (size_t c = 2; c < f.size(); ++c) {
      // "-00.000;00.000": the mean voltage with its sign, within the card's range.
      const double volts = std::stod(f[c]);
      if (!(volts >= -10.0 && volts <= 10.0) || f[c].size() < 6) {
        ADD_FAILURE() << "line " << i << " channel " << c - 2 << ": " << f[c];
        ++failures;
      }
    }
    found.stamps.emplace_back(std::stoi(f[1].substr(0, 8)), std::stod(f[1].substr(8)));
    ++found.linesChecked;
  }
  return found;
}

// Seconds from one stamp to the next, across midnight (the date moves by one day).
inline double StampGap(const std::pair<int32_t, double>& a, const std::pair<int32_t, double>& b) {
  return b.second - a.second + (b.first != a.first ? 86400.0 : 0.0);
}

}  // namespace ostrelo::testing
