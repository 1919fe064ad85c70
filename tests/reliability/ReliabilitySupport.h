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

struct WorkRig {
  // A small picture, so that long series fit on disk quickly: 64 x 48 pixels, 4150-byte files.
  static constexpr int32_t kWidth = 64;
  static constexpr int32_t kHeight = 48;

  explicit WorkRig(LocalTime start = LocalTime{2011, 3, 25, 12, 0, 0, 43200.0}, bool cardPresent = true) {
    rig.clock.Set(start);
    rig.daq.script.instant = true;
    if (!cardPresent) rig.daq.script.createTaskStatus = SimulatedDaq::kNoSuchChannel;
    EXPECT_TRUE(rig.form.Load());
    loop = std::make_unique<TimerLoop>(rig.form, rig.clock);
    const LocalTime now = rig.clock.Now();
    stem = "im" + FormatYymmdd(now.year, now.month, now.day);
  }

  Form1& form() { return rig.form; }
  std::string Chosen() const { return folder / (stem + ".bmp"); }
  std::string Picture(int32_t n) const { return folder / (stem + FormatNumber(n, "0000") + ".bmp"); }
  std::string Record() const { return folder / (stem.substr(0, stem.size() - 1) + ".xls"); }
  void AnswerDialog() { rig.dialogs.saveAnswers.push_back(Chosen()); }

  // Types text into TimeText with the caret at its end and presses Enter.
  void EnterWait(const std::string& text) {
    form().ui.TimeText.caption = text;
    form().ui.TimeText.selStart = static_cast<int32_t>(text.size());
    form().ui.TimeText.selLength = 0;
    form().Dispatch([&] { form().TimeText_Change(); });
    form().Dispatch([&] { form().TimeText_KeyPress(kKeyEnter); });
  }
  void ClickOneShot() { form().Dispatch([&] { form().Command1_Click(); }); }
  void ClickSeries() { form().Dispatch([&] { form().Command2_Click(); }); }
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
  bool RunUntilShot(int32_t n, int64_t maxMs) {
    return loop->RunUntil([&] { return form().ShotCounter >= n || form().phase() == Phase::Ended; }, maxMs) &&
           form().ShotCounter >= n;
  }

  TempFolder folder;
  std::string stem;  // "im" + yymmdd + "-"
  Rig rig{kWidth, kHeight};
  std::unique_ptr<TimerLoop> loop;
};

// Every file of a folder with its bytes.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : FolderContent(folder)) files[name] = ReadFile((folder / name).string());
  return files;
}

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
  EXPECT_EQ(FolderContent(w.folder.path()).size(), static_cast<size_t>(shots) + 1) << "pictures and the record";
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
    EXPECT_EQ(lines[0], withChannels ? "Image \tTime\tCanal 0 (Volts)\tCanal 1 (Volts)\tCanal 2 (Volts)\tCanal 3 (Volts)"
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
