// A series whose program went away without closing (a kill, a crash, a power cut), then
// the program started again: the plan kept on disk is offered, checked and continued,
// or set aside without touching a file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/Numbers.h"
#include "shots/DiskGuard.h"
#include "shots/FileOutput.h"
#include "shots/SeriesPlan.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempFolder;

struct Bench {
  explicit Bench(const std::string& folderName = "") : folder(folderName) {}
  TempFolder state, folder;
  std::string Chosen() const { return folder / "run-.bmp"; }
  std::string Picture(int n) const { return folder / ("run-" + FormatNumber(n, "0000") + ".bmp"); }
  std::string Record() const { return folder / "run.xls"; }
  std::string Plan() const { return state / "series.json"; }
};

struct Room final : FreeSpace {  // a disk with this much room
  explicit Room(uint64_t b) : bytes(b) {}
  uint64_t bytes;
  std::optional<DiskSpace> Read(const std::string&) override { return DiskSpace{bytes, 4096, "/data"}; }
};

// A program of version 1.0 on the bench's plan folder, in a locale writing numbers with
// mark, started run x 100 s after noon; Load() runs the start-up. Every grab's picture
// (grey) and voltages (ai0, ai1) tell its moment in hundredths of a second, as a stamp.
struct Program {
  explicit Program(const Bench& b, char mark = '.', int run = 0) : store(b.state.utf8(), "1.0") {
    rig.form.dev.plans = &store;
    rig.form.dev.locale.decimalSeparator = mark;
    rig.clock.Set({2011, 3, 25, 12, 0, 0, 43200.0 + 100.0 * run});
    rig.camera.SetPainter([this](uint8_t* pixels, int32_t width, int32_t height, uint64_t) {
      const int64_t at = std::llround(rig.clock.Now().secondsSinceMidnight * 100);
      std::fill_n(pixels, size_t(width) * height, uint8_t(at % 256));
      rig.daq.script.constantVolts[0] = double(at % 1000) / 100;
      rig.daq.script.constantVolts[1] = double(at / 1000 % 1000) / 100;
    });
  }
  void Dispatch(const std::function<void()>& handler) { rig.form.Dispatch(handler); }
  FilePlanStore store;
  testing::Rig rig{64, 48};
  std::unique_ptr<testing::TimerLoop> loop;
  void Load() {
    Dispatch([&] { rig.form.Load(); });
    loop = std::make_unique<testing::TimerLoop>(rig.form, rig.clock);
  }
};

// The first program: its settings changed, three shots of a 0.5 s series, then gone.
void InterruptedSeries(const Bench& b, char mark) {
  Program p(b, mark);
  p.Load();
  Form1& f = p.rig.form;
  auto enter = [&](Control& box, const char* text, void (Form1::*key)(int32_t)) {
    box.caption = text;
    p.Dispatch([&] { (f.*key)(kKeyEnter); });
  };
  enter(f.ui.TimeText, "0.5", &Form1::TimeText_KeyPress);
  enter(f.ui.Text_Gain, (std::string("6") + mark + "5").c_str(), &Form1::Text_Gain_KeyPress);
  enter(f.ui.SatText, "200", &Form1::SatText_KeyPress);
  f.ui.CheckSaturation.value = 1;
  p.Dispatch([&] { f.CheckSaturation_Click(); });
  f.ui.CheckWarning.value = 1;
  p.Dispatch([&] { f.CheckWarning_Click(); });
  p.Dispatch([&] { f.PicCam_MouseDown(1, 0, 40, 30); });
  p.Dispatch([&] { f.PicCam_MouseUp(1, 0, 240, 180); });
  p.rig.dialogs.saveAnswers.push_back(b.Chosen());
  p.Dispatch([&] { f.Command2_Click(); });
  ASSERT_TRUE(p.loop->RunUntil([&] { return f.ShotCounter >= 3; }, 10000));
  // A setting changed during the series is kept too; a text only typed is not.
  enter(f.ui.TimeText, "0.7", &Form1::TimeText_KeyPress);
  f.ui.TimeText.caption = "9";
  p.Dispatch([&] { f.TimeText_Change(); });
}

// What happened meanwhile: the plan edited by hand, each text replaced once.
std::function<void(const Bench&)> PlanEdited(std::vector<std::pair<std::string, std::string>> changes) {
  return [=](const Bench& b) {
    std::string text = ReadFile(b.Plan());
    // The plan writes a backslash (of a Windows name) as two.
    auto json = [](std::string s) {
      for (size_t at = 0; (at = s.find('\\', at)) != std::string::npos; at += 2) s.insert(at, 1, '\\');
      return s;
    };
    for (const auto& [from, to] : changes) text.replace(text.find(json(from)), json(from).size(), json(to));
    std::ofstream(b.Plan()) << text;
  };
}

// The folder read-only at a first start by another user (root writes anywhere), then writable.
void ReadOnlyAtFirst(const Bench& b) {
  if (!testing::kChildProcesses) GTEST_SKIP() << "another user: a child process of its own";
  fs::remove(b.state / "series.lock");
  testing::GiveToChild(b.Plan());
  fs::permissions(b.Record(), fs::perms::others_read, fs::perm_options::add);
  fs::permissions(b.state.path(), fs::perms::all);
  fs::permissions(b.folder.path(), fs::perms(0555));
  const auto files = testing::Snapshot(b.folder.path());
  testing::RunInChild([&] { Program(b).Load(); }, /*dropRoot=*/true);
  EXPECT_TRUE(fs::exists(b.Plan()) && !fs::exists(b.Plan() + ".rejected")) << "the plan kept";
  EXPECT_EQ(testing::Snapshot(b.folder.path()), files) << "nothing written";
  fs::permissions(b.folder.path(), fs::perms(0755));
}

struct ResumeCase {
  const char* name;
  std::function<void(const Bench&)> meanwhile;  // what happened before the new start
  bool yes;                                     // the operator's answer
  const char* refused;                          // the reason given, or "" when resumed or declined
  const char* marks = "..";                     // decimal marks of the first program and the second
  bool kept = false;                            // refused for now: the plan stays for the next start
  uint64_t room = 0;                            // the disk's free bytes at the new start; 0: not watched
  const char* folder = "";                      // the pictures' folder, in one of the bench's
};
void PrintTo(const ResumeCase& c, std::ostream* os) { *os << c.name; }

class Resume : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(Resume, GoesOnOrKeepsThePlanAside) {
  const ResumeCase& c = GetParam();
  Bench b(c.folder);
  InterruptedSeries(b, c.marks[0]);
  const std::string picture3 = ReadFile(b.Picture(3));
  if (c.meanwhile) c.meanwhile(b);
  const auto files = testing::Snapshot(b.folder.path());

  Program p(b, c.marks[1]);
  Room room{c.room};
  if (c.room > 0) p.rig.form.dev.freeSpace = &room;
  if (!c.yes) p.rig.dialogs.yesNoAnswers.push_back(false);
  p.Load();
  Form1& f = p.rig.form;
  if (*c.refused != '\0') {
    ASSERT_EQ(p.rig.dialogs.messages.size(), 1u);
    EXPECT_NE(p.rig.dialogs.messages[0].text.find(c.refused), std::string::npos) << p.rig.dialogs.messages[0].text;
    EXPECT_NE(fs::exists(b.Plan() + ".rejected"), c.kept);
  }
  if (*c.refused != '\0' || !c.yes) {
    EXPECT_FALSE(f.MultiShot);
    EXPECT_EQ(fs::exists(b.Plan()), c.kept);
    EXPECT_EQ(testing::Snapshot(b.folder.path()), files) << "nothing written, cut or renamed";
    return;
  }
  ASSERT_EQ(p.rig.dialogs.questions.size(), 1u);
  const std::string& question = p.rig.dialogs.questions[0];
  EXPECT_EQ(question.rfind("A series was interrupted at 2011-03-25 12:00:0", 0), 0u) << question;
  EXPECT_NE(question.find(" after shot 3 (" + b.Picture(3) + "). Continue it?"), std::string::npos) << question;
  // Going on at once, at the next number, into the same record, with every setting.
  EXPECT_TRUE(f.MultiShot);
  EXPECT_EQ(f.ShotCounter, 4);
  EXPECT_TRUE(p.rig.dialogs.saveRequests.empty());
  EXPECT_EQ(f.ui.TimeText.caption, "0.7");
  EXPECT_DOUBLE_EQ(f.st.WaitTime, 0.7);
  EXPECT_EQ(f.ui.Text_Gain.caption, std::string("6") + c.marks[1] + "5");
  EXPECT_DOUBLE_EQ(p.rig.camera.gain(), 6.5);
  EXPECT_TRUE(f.st.SaturationCheckOn);
  EXPECT_EQ(f.st.SaturationThreshold, 200);
  EXPECT_EQ(f.ui.CheckWarning.value, 1);
  EXPECT_EQ(f.st.SelWidth, 200);
  EXPECT_EQ(f.st.SelHeight, 150);
  EXPECT_EQ(ReadFile(b.Picture(3)), picture3);
  const auto lines = testing::SplitLines(ReadFile(b.Record()));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(testing::SplitFields(lines[4]).at(0), b.Picture(4));
  EXPECT_EQ(testing::SplitFields(lines[4]).size(), testing::SplitFields(lines[3]).size()) << lines[4];
  EXPECT_EQ(ReadFile(b.Picture(4)).size(), picture3.size()) << "the same area";
  const std::string plan = ReadFile(b.Plan());
  ASSERT_TRUE(p.loop->RunUntil([&] { return f.ShotCounter >= 6; }, 10000));
  EXPECT_EQ(ReadFile(b.Plan()), plan) << "a shot writes no plan";
  // STOP ends it, and its plan.
  p.Dispatch([&] { f.Command2_Click(); });
  EXPECT_FALSE(fs::exists(b.Plan()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resume,
    ::testing::Values(
        ResumeCase{"GoodPlan", nullptr, true, ""}, ResumeCase{"Declined", nullptr, false, ""},
        ResumeCase{"FolderNameNotAscii", nullptr, true, "", "..", false, 0, "Essai ä"},
        ResumeCase{"KeptWithCommaResumedWithPoint", nullptr, true, "", ",."},
        ResumeCase{"PlanKeepingTexts",
                   PlanEdited({{"\"gain\": 6.5", "\"gain\": \"6,5\""},
                               {"\"saturationThreshold\": 200", "\"saturationText\": \"200\""}}),
                   true, ""},
        ResumeCase{"HalfWrittenRecordLine",
                   [](const Bench& b) { std::ofstream(b.Record(), std::ios::app) << b.Picture(4) << "\t2011032"; },
                   true, ""},
        ResumeCase{"StaleVersion", PlanEdited({{"\"1.0\"", "\"0.9\""}}), true, "written by version 0.9"},
        ResumeCase{"Unreadable", [](const Bench& b) { std::ofstream(b.Plan()) << "{\"version\": "; }, true,
                   "cannot be read"},
        ResumeCase{"FolderGone", [](const Bench& b) { fs::remove_all(b.folder.path()); }, true, "is not there", "..",
                   true},
        ResumeCase{"RecordNamesAnotherFile",
                   [](const Bench& b) {
                     std::ofstream(b.folder / "other.txt") << "kept\r\nwhole";
                     PlanEdited({{b.Record(), b.folder / "other.txt"}})(b);
                   },
                   true, "is not the one its pictures' name gives"},
        ResumeCase{"WaitOutOfRange", PlanEdited({{"\"wait\": 0.7", "\"wait\": -1"}}), true, "wait -1 s"},
        ResumeCase{"NextNumberTooFar", PlanEdited({{"\"nextShot\": ", "\"nextShot\": 9999"}}), true, "does not agree"},
        ResumeCase{"RelativeFolder",
                   [](const Bench& b) {
                     PlanEdited({{b.Chosen(), "../run-.bmp"}})(b);
                   },
                   true, "not a plain absolute path"},
        ResumeCase{"AreaOutside", PlanEdited({{"\"area\": [\n    40", "\"area\": [\n    -40"}}), true,
                   "area of interest"},
        ResumeCase{"EarlierPlanSetAside",
                   [](const Bench& b) {
                     std::ofstream(b.Plan() + ".rejected") << "{}";
                     PlanEdited({{"\"1.0\"", "\"0.9\""}})(b);
                   },
                   true, "series.json.rejected.2"},
        ResumeCase{"DiskFull", nullptr, true, "only room for 0 shots on /data", "..", true, kDiskReserveBytes},
        ResumeCase{"FolderReadOnlyAtFirst", ReadOnlyAtFirst, true, ""},
        ResumeCase{"NextPicturePresent", [](const Bench& b) { fs::copy_file(b.Picture(3), b.Picture(4)); }, true,
                   "next picture"}),
    [](const auto& info) { return std::string(info.param.name); });

// Killed after one step of a shot, at its third shot and then again in each of three
// resumed programs: every picture named once in the record with its own shot's stamp
// and voltages, in order, none overwritten, no temporary file left.
class KilledAt : public ::testing::TestWithParam<ShotStep> {};

TEST_P(KilledAt, ResumesWithEveryPictureOnce) {
  if (!testing::kChildProcesses) GTEST_SKIP() << "a child process of its own";
  Bench b;
  static ShotStep step;
  static int told, run;
  step = GetParam();
  std::map<std::string, std::string> files;
  for (run = 0, told = 0; run <= 4; ++run, told = 0) {
    auto resume = [&] {
      Program p(b, '.', run);
      p.Load();
      ASSERT_TRUE(p.rig.form.MultiShot);
      const int32_t shots = p.rig.form.ShotCounter;
      ASSERT_TRUE(p.loop->RunUntil([&] { return p.rig.form.ShotCounter >= shots + 2; }, 10000));
      p.Dispatch([&] { p.rig.form.Command2_Click(); });
    };
    if (run == 4) {
      resume();
    } else {
      testing::RunInChild([&] {
        shotStepHook = [](ShotStep s) {
          if (s == step && ++told == (run == 0 ? 3 : 2)) ::_exit(0);
        };
        run == 0 ? InterruptedSeries(b, '.') : resume();
        ADD_FAILURE() << "not killed";
      });
    }
    const auto after = testing::Snapshot(b.folder.path());
    for (const auto& [name, bytes] : files)
      EXPECT_TRUE(name == "run.xls" || name.ends_with(".part") || after.at(name) == bytes) << name;
    files = after;
  }
  const auto lines = testing::SplitLines(files.at("run.xls"));
  ASSERT_EQ(files.size(), lines.size()) << "one picture a line, the record, nothing else";
  for (size_t n = 1; n < lines.size(); ++n) {
    const auto fields = testing::SplitFields(lines[n]);
    ASSERT_EQ(fields.size(), 6u) << lines[n];
    EXPECT_EQ(fields[0], b.Picture(int(n)));
    // The grab's moment as its voltages tell it: the stamp's, and the picture's.
    const int64_t at = std::llround(std::stod(fields[3]) * 100000 + std::stod(fields[2]) * 100);
    EXPECT_LE(std::abs(at - std::llround(std::stod(fields[1].substr(8)) * 100) % 1000000), 2) << lines[n];
    EXPECT_EQ(testing::ReadBmp(files[fields[0].substr(fields[0].find_last_of("/\\") + 1)]).pixels.at(0), at % 256)
        << lines[n];
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, KilledAt,
                         ::testing::Values(ShotStep::PictureSynced, ShotStep::RecordWritten, ShotStep::RecordSynced,
                                           ShotStep::Renamed, ShotStep::FolderSynced));

// Only one program keeps plans: a second one started meanwhile reads and writes none.
TEST(ResumeLock, ASecondProgramDoesNotTakeTheSamePlan) {
  Bench b;
  FilePlanStore first(b.state.utf8(), "1.0");
  FilePlanStore second(b.state.utf8(), "1.0");
  EXPECT_TRUE(first.owned());
  EXPECT_FALSE(second.owned());
  EXPECT_TRUE(first.Write("{}"));
  EXPECT_FALSE(second.Read().has_value());
}

}  // namespace
}  // namespace ostrelo
